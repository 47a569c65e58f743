// Vertex and index buffers on the device and the vertex declarations of the
// 49 vertex formats.
//
// DXVertexStream wraps one vertex buffer, DXIndexStream one buffer of 16-bit
// indices. Both choose their memory pool from the device's vertex-processing
// mode and fall back to the managed, then the system-memory pool when a
// creation fails. Drawing code never binds them on the device itself: it
// records them in the render core's state cache, which sends what changed
// before the next draw. A vertex buffer holds at most 65535 vertices.
//
// DXStreamDeclarations (one, owned by the render core) holds a declaration
// per format code; on the fixed-function pipeline declaration k is built
// from the elements of k's fallback format, the layout of the buffers that
// hold format k there. Main thread only.
#pragma once

#include <cstdint>
#include <utility>

#include "model/VertexStreamFormat.h"
#include "platform/d3d9/D3D9.h"
#include "render/states/DXStateCache.h"

// The most vertices a vertex buffer holds.
constexpr std::int32_t kMaxStreamVertices = 65535;
// Flag of DXVertexStream::allocate asking for a dynamic buffer.
constexpr std::uint32_t kStreamDynamic = 2;

// True when the device draws with the fixed-function pipeline (the video
// device's test); false without a video core.
bool streamsOnFixedPipeline();

// What the vertex and index streams share: the buffer with its lock flag,
// pool, usage and size in bytes. The holder owns the buffer and releases it
// when it goes.
template <class Buffer>
class DXBufferStream {
public:
    DXBufferStream(const DXBufferStream&) = delete;
    DXBufferStream& operator=(const DXBufferStream&) = delete;

    // False when there is no buffer; otherwise unlocks, releases, clears.
    bool release();
    bool unlock();

    bool locked() const { return locked_; }
    D3DPOOL pool() const { return pool_; }
    DWORD usage() const { return usage_; }
    Buffer* buffer() const { return buffer_; }
    std::int32_t size() const { return size_; }

protected:
    explicit DXBufferStream(DWORD usage) : usage_(usage) {}
    ~DXBufferStream() { release(); }
    DXBufferStream(DXBufferStream&& other) noexcept { *this = std::move(other); }
    DXBufferStream& operator=(DXBufferStream&& other) noexcept;

    // Locks the whole buffer; null without a buffer, while locked, or when
    // the lock fails.
    void* lockBuffer(DWORD flags);

    bool locked_ = false;
    D3DPOOL pool_ = D3DPOOL_DEFAULT;
    DWORD usage_ = 0;
    Buffer* buffer_ = nullptr;
    std::int32_t size_ = 0;
};

class DXVertexStream : public DXBufferStream<IDirect3DVertexBuffer9> {
public:
    DXVertexStream() : DXBufferStream(D3DUSAGE_WRITEONLY) {}
    DXVertexStream(DXVertexStream&&) noexcept = default;
    DXVertexStream& operator=(DXVertexStream&&) noexcept = default;

    // Creates the buffer for count vertices of stride bytes holding format
    // code; flags bit 2 asks for a dynamic buffer. An existing buffer is
    // released first. False (logged) above 65535 vertices, leaving the
    // stream as it was, or when no pool could hold the buffer.
    bool allocate(IDirect3DDevice9* device, std::int32_t count, std::int32_t stride, std::int32_t format,
                  std::uint32_t flags);
    // Locks the whole buffer; a dynamic buffer not discarded is locked
    // no-overwrite.
    void* lock(DWORD flags);
    // Copies size bytes from data into the buffer.
    bool update(const void* data, DWORD flags);
    // Records buffer, stride and format code as the render core's pending
    // vertex stream; false (logged) without a buffer.
    bool setStreamSource() const;

    std::int32_t format() const { return format_; }
    std::int32_t stride() const { return stride_; }
    std::int32_t count() const { return count_; }

private:
    std::int32_t format_ = 0;
    std::int32_t stride_ = 0;
    std::int32_t count_ = 0;
};

class DXIndexStream : public DXBufferStream<IDirect3DIndexBuffer9> {
public:
    DXIndexStream() : DXBufferStream(0) {}
    DXIndexStream(DXIndexStream&&) noexcept = default;
    DXIndexStream& operator=(DXIndexStream&&) noexcept = default;

    // Creates a buffer of count 16-bit indices with the usage set before;
    // an existing buffer is released first (logged). False (logged) when no
    // pool could hold it.
    bool allocate(IDirect3DDevice9* device, std::int32_t count);
    void* lock(DWORD flags) { return lockBuffer(flags); }
    // Writes the low 16 bits of the first count indices.
    bool writeIndices(const std::uint32_t* indices, DWORD flags);
    // Records the buffer as the render core's pending index buffer; false
    // when there is none.
    bool setIndices() const;

    void setUsage(DWORD usage) { usage_ = usage; }
    std::int32_t count() const { return count_; }

private:
    std::int32_t count_ = 0;
};

class DXStreamDeclarations : public VertexDeclarationTable {
public:
    // Fills the table.
    DXStreamDeclarations();
    ~DXStreamDeclarations() override;
    DXStreamDeclarations(const DXStreamDeclarations&) = delete;
    DXStreamDeclarations& operator=(const DXStreamDeclarations&) = delete;

    // Every entry empty (fallback 50), then the elements and fallback codes
    // of the 49 formats.
    void init();
    // The cache that draws with these declarations; it is told when they go.
    void attach(DXStateCache* cache);
    // Releases, then creates the 49 declarations on device. False without a
    // device or at the first refused creation (logged; the ones made before
    // stay).
    bool allocate(IDirect3DDevice9* device);
    // Releases every declaration; true.
    bool release();

    // The declaration of a code (null when none); its display name.
    IDirect3DVertexDeclaration9* declaration(std::uint32_t code) override;
    const char* declarationName(std::uint32_t code) override;
    // The fallback of a code; 50 outside the table.
    std::int32_t fallback(std::int32_t code) const;

private:
    struct Entry {
        const D3DVERTEXELEMENT9* elements = nullptr;
        std::int32_t fallback = kNoVertexFormat;
    };
    Entry entries_[kVertexFormatCount];
    IDirect3DVertexDeclaration9* declarations_[kVertexFormatCount] = {};
    DXStateCache* cache_ = nullptr;
};
