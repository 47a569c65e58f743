// A vertex stream of a mesh: an array of vertices of one format, and the
// device buffer that holds a copy of it.
//
// Each format code has its class (Y3MeshStreamFormat<code>, named by the
// aliases below) with its code and stride fixed at compile time;
// Y3MeshStream::create picks it for a code. The vertex array keeps the
// vertices in exactly the layout of the buffer, so an upload is one block
// copy, or, on the fixed-function pipeline, a copy of the first bytes of
// each vertex (the fallback layout is a prefix of the format's).
#pragma once

#include <cstdint>

#include "model/DXStreams.h"
#include "model/VertexStreamFormat.h"

class Y3MeshStream : public VertexStreamFormat {
public:
    // Releases the buffer and frees the vertices.
    ~Y3MeshStream() override;
    Y3MeshStream(const Y3MeshStream&) = delete;
    Y3MeshStream& operator=(const Y3MeshStream&) = delete;

    // A new stream of the code's class with count zeroed vertices (none
    // when they cannot be allocated); null for a code outside 0 to 48. The
    // caller owns it.
    static Y3MeshStream* create(std::int32_t code, std::int32_t count);

    std::int32_t getSize() const override { return count_ * getStride(); }
    std::int32_t getCount() const override { return count_; }
    void freeVertices() override;
    std::uint8_t* getData() override { return data_; }
    const std::uint8_t* getData() const override { return data_; }

    // Device side. allocateBuffer creates the buffer for the vertices in the
    // stream's format, or in its fallback format on the fixed-function
    // pipeline (flags as DXVertexStream::allocate). upload copies the
    // vertices into it. allocateAndUpload does both with lock flags 0 and
    // marks the stream uploaded; a failed upload releases the buffer. Each
    // false is logged.
    bool allocateBuffer(IDirect3DDevice9* device, std::uint32_t flags);
    bool upload(DWORD lockFlags);
    bool allocateAndUpload(IDirect3DDevice9* device, std::uint32_t flags);
    // Fills this stream's vertices from source's, vertex by vertex, taking
    // this stream's stride of bytes from each (a stream of a fallback format
    // from one of the full format). Only the vertices and bytes that both
    // streams have are copied.
    void copyVertices(const Y3MeshStream& source);

    bool uploaded() const { return uploaded_; }
    DXVertexStream& vertexStream() { return vertexStream_; }
    const DXVertexStream& vertexStream() const { return vertexStream_; }

protected:
    // count vertices of stride bytes, zero-filled.
    Y3MeshStream(std::int32_t stride, std::int32_t count);

private:
    bool uploaded_ = false;
    DXVertexStream vertexStream_;
    std::uint8_t* data_ = nullptr;
    std::int32_t capacity_ = 0;
    std::int32_t count_ = 0;
};

// The stream class of one format code.
template <std::int32_t Code>
class Y3MeshStreamFormat final : public Y3MeshStream {
public:
    static constexpr std::int32_t kStride = vertexStrideOf(Code);
    explicit Y3MeshStreamFormat(std::int32_t count) : Y3MeshStream(kStride, count) {}
    std::int32_t getFormat() const override { return Code; }
    std::int32_t getStride() const override { return kStride; }
};

using Y3MeshStream_Y3MS_D = Y3MeshStreamFormat<0>;
using Y3MeshStream_Y3MS_W_D = Y3MeshStreamFormat<1>;
using Y3MeshStream_Y3MS_DC = Y3MeshStreamFormat<2>;
using Y3MeshStream_Y3MS_W_DC = Y3MeshStreamFormat<3>;
using Y3MeshStream_Y3MS_D_N = Y3MeshStreamFormat<4>;
using Y3MeshStream_Y3MS_W_D_N = Y3MeshStreamFormat<5>;
using Y3MeshStream_Y3MS_DC_N = Y3MeshStreamFormat<6>;
using Y3MeshStream_Y3MS_W_DC_N = Y3MeshStreamFormat<7>;
using Y3MeshStream_Y3MS_D_BUMP = Y3MeshStreamFormat<8>;
using Y3MeshStream_Y3MS_W_D_BUMP = Y3MeshStreamFormat<9>;
using Y3MeshStream_Y3MS_DC_BUMP = Y3MeshStreamFormat<10>;
using Y3MeshStream_Y3MS_W_DC_BUMP = Y3MeshStreamFormat<11>;
using Y3MeshStream_Y3MS_LM = Y3MeshStreamFormat<12>;
using Y3MeshStream_Y3MS_W_LM = Y3MeshStreamFormat<13>;
using Y3MeshStream_Y3MS_LMC = Y3MeshStreamFormat<14>;
using Y3MeshStream_Y3MS_W_LMC = Y3MeshStreamFormat<15>;
using Y3MeshStream_Y3MS_LM_N = Y3MeshStreamFormat<16>;
using Y3MeshStream_Y3MS_W_LM_N = Y3MeshStreamFormat<17>;
using Y3MeshStream_Y3MS_LMC_N = Y3MeshStreamFormat<18>;
using Y3MeshStream_Y3MS_W_LMC_N = Y3MeshStreamFormat<19>;
using Y3MeshStream_Y3MS_LM_BUMP = Y3MeshStreamFormat<20>;
using Y3MeshStream_Y3MS_W_LM_BUMP = Y3MeshStreamFormat<21>;
using Y3MeshStream_Y3MS_LMC_BUMP = Y3MeshStreamFormat<22>;
using Y3MeshStream_Y3MS_W_LMC_BUMP = Y3MeshStreamFormat<23>;
using Y3MeshStream_Y3MS2_D = Y3MeshStreamFormat<24>;
using Y3MeshStream_Y3MS2_W_D = Y3MeshStreamFormat<25>;
using Y3MeshStream_Y3MS2_DC = Y3MeshStreamFormat<26>;
using Y3MeshStream_Y3MS2_W_DC = Y3MeshStreamFormat<27>;
using Y3MeshStream_Y3MS2_D_N = Y3MeshStreamFormat<28>;
using Y3MeshStream_Y3MS2_W_D_N = Y3MeshStreamFormat<29>;
using Y3MeshStream_Y3MS2_DC_N = Y3MeshStreamFormat<30>;
using Y3MeshStream_Y3MS2_W_DC_N = Y3MeshStreamFormat<31>;
using Y3MeshStream_Y3MS2_D_BUMP = Y3MeshStreamFormat<32>;
using Y3MeshStream_Y3MS2_W_D_BUMP = Y3MeshStreamFormat<33>;
using Y3MeshStream_Y3MS2_DC_BUMP = Y3MeshStreamFormat<34>;
using Y3MeshStream_Y3MS2_W_DC_BUMP = Y3MeshStreamFormat<35>;
using Y3MeshStream_Y3MS2_LM = Y3MeshStreamFormat<36>;
using Y3MeshStream_Y3MS2_W_LM = Y3MeshStreamFormat<37>;
using Y3MeshStream_Y3MS2_LMC = Y3MeshStreamFormat<38>;
using Y3MeshStream_Y3MS2_W_LMC = Y3MeshStreamFormat<39>;
using Y3MeshStream_Y3MS2_LM_N = Y3MeshStreamFormat<40>;
using Y3MeshStream_Y3MS2_W_LM_N = Y3MeshStreamFormat<41>;
using Y3MeshStream_Y3MS2_LMC_N = Y3MeshStreamFormat<42>;
using Y3MeshStream_Y3MS2_W_LMC_N = Y3MeshStreamFormat<43>;
using Y3MeshStream_Y3MS2_LM_BUMP = Y3MeshStreamFormat<44>;
using Y3MeshStream_Y3MS2_W_LM_BUMP = Y3MeshStreamFormat<45>;
using Y3MeshStream_Y3MS2_LMC_BUMP = Y3MeshStreamFormat<46>;
using Y3MeshStream_Y3MS2_W_LMC_BUMP = Y3MeshStreamFormat<47>;
using Y3MeshStream_Y3MS_TEMP = Y3MeshStreamFormat<48>;
