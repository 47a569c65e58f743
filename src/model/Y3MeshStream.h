// A vertex stream of a mesh: an array of vertices of one format, and the
// device buffer that holds a copy of it.
//
// Each format code has its class (Y3MeshStreamFormat<code>, named by the
// aliases below) with its code, stride and component offsets fixed at
// compile time; Y3MeshStream::create picks it for a code. The vertex array
// keeps the vertices in exactly the layout of the buffer, so an upload is
// one block copy, or, on the fixed-function pipeline, a copy of the first
// bytes of each vertex (the fallback layout is a prefix of the format's).
//
// Every component has five operations on vertex i: has, set, get, pointer
// and equals. A format without the component does nothing: has and equals
// are false, get leaves its output, the pointer is null. No bounds test is
// made on i: the caller keeps 0 <= i < getCount(). Equality: position,
// normal and binormal are equal when their squared distance is below
// 0.00001 (never with a NaN); the other components when their 32-bit words
// are the same bit for bit (0.0 and -0.0 differ).
//
// A stream record is the magic 0x89EFA012, the format code (32 bits each)
// and the vertex block (a 32-bit count, then the raw vertices).
#pragma once

#include <cstdint>
#include <cstring>

#include "model/DXStreams.h"
#include "model/RecordArray.h"
#include "model/VertexStreamFormat.h"
#include "platform/d3d9/D3DX9.h"

constexpr std::uint32_t kStreamRecordMagic = 0x89EFA012u;

// The nine components in the order of their operations: the name in the
// operations, the pointer operation's prefix, the value type.
#define Y3_STREAM_COMPONENTS(X)                  \
    X(Position, position, D3DXVECTOR3)           \
    X(Normal, normal, D3DXVECTOR3)               \
    X(Binormal, binormal, D3DXVECTOR3)           \
    X(UV, uv, D3DXVECTOR2)                       \
    X(UV2, uv2, D3DXVECTOR2)                     \
    X(LightmapUV, lightmapUV, D3DXVECTOR2)       \
    X(BlendIndices, blendIndices, std::uint32_t) \
    X(BlendWeights, blendWeights, D3DXVECTOR4)   \
    X(Color, color, std::uint32_t)

// The five operations of one component, with their bodies for a format
// without it.
#define Y3_STREAM_ABSENT_COMPONENT(Name, ptrName, Type)                          \
    virtual bool has##Name() const { return false; }                          \
    virtual void set##Name(std::int32_t, const Type&) {}                      \
    virtual Type& get##Name(std::int32_t, Type& out) const { return out; }    \
    virtual Type* ptrName##Ptr(std::int32_t) { return nullptr; }              \
    virtual bool equal##Name(std::int32_t, const Type&) const { return false; }

class Y3MeshStream : public VertexStreamFormat {
public:
    Y3_STREAM_COMPONENTS(Y3_STREAM_ABSENT_COMPONENT)

    // Releases the buffer and frees the vertices.
    ~Y3MeshStream() override;
    Y3MeshStream(const Y3MeshStream&) = delete;
    Y3MeshStream& operator=(const Y3MeshStream&) = delete;

    // A new stream of the code's class with count zeroed vertices (none
    // when they cannot be allocated); null for a code outside 0 to 48. The
    // caller owns it.
    static Y3MeshStream* create(std::int32_t code, std::int32_t count);

    // Reads a stream record and creates its stream into out (null on every
    // failure, when nothing is left behind). Returns the bytes read, or a
    // negative value: the stream's failure, -1 for another magic, a code
    // outside 0 to 48 or a vertex block that cannot be read whole.
    static std::int32_t readStreamRecord(DataStream& s, Y3MeshStream*& out);
    // Reads a stream record into stream, whose format must be the record's
    // (-1 and the stream untouched otherwise). The vertices are replaced;
    // after a failed vertex block the stream is empty.
    static std::int32_t readStreamRecordInto(DataStream& s, Y3MeshStream& stream);
    // Writes the stream's record: 8 + the vertex block's bytes, or the first
    // negative result.
    std::int32_t writeStreamRecord(DataStream& s) const;

    std::int32_t getSize() const override { return vertices_.count * getStride(); }
    std::int32_t getCount() const override { return vertices_.count; }
    std::int32_t capacity() const { return vertices_.capacity; }
    void freeVertices() override;
    std::uint8_t* getData() override { return vertices_.data; }
    const std::uint8_t* getData() const override { return vertices_.data; }

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

    // The comparisons of the equality rules.
    static bool sameComponent(const D3DXVECTOR3& stored, const D3DXVECTOR3& value);
    template <class T>
    static bool sameComponent(const T& stored, const T& value) {
        return std::memcmp(&stored, &value, sizeof(T)) == 0;
    }

    RecordArray vertices_;

private:
    bool uploaded_ = false;
    DXVertexStream vertexStream_;
};

#undef Y3_STREAM_ABSENT_COMPONENT

// The five operations of one component for a format: from its offset when
// the format has it, else the stream's bodies for an absent component.
#define Y3_STREAM_FORMAT_COMPONENT(Name, ptrName, Type)                                                      \
    bool has##Name() const override { return kOffset<VertexComponent::Name> >= 0; }                       \
    void set##Name(std::int32_t i, const Type& value) override {                                          \
        if constexpr (kOffset<VertexComponent::Name> >= 0)                                                \
            std::memcpy(at<VertexComponent::Name>(i), &value, sizeof(Type));                              \
    }                                                                                                     \
    Type& get##Name(std::int32_t i, Type& out) const override {                                           \
        if constexpr (kOffset<VertexComponent::Name> >= 0)                                                \
            std::memcpy(&out, at<VertexComponent::Name>(i), sizeof(Type));                               \
        return out;                                                                                       \
    }                                                                                                     \
    Type* ptrName##Ptr(std::int32_t i) override {                                                         \
        if constexpr (kOffset<VertexComponent::Name> >= 0)                                                \
            return reinterpret_cast<Type*>(at<VertexComponent::Name>(i));                                 \
        else                                                                                              \
            return nullptr;                                                                               \
    }                                                                                                     \
    bool equal##Name(std::int32_t i, const Type& value) const override {                                  \
        if constexpr (kOffset<VertexComponent::Name> >= 0) {                                              \
            Type stored;                                                                                  \
            std::memcpy(&stored, at<VertexComponent::Name>(i), sizeof(Type));                             \
            return sameComponent(stored, value);                                                          \
        } else {                                                                                          \
            return false;                                                                                 \
        }                                                                                                 \
    }

// The stream class of one format code.
template <std::int32_t Code>
class Y3MeshStreamFormat final : public Y3MeshStream {
public:
    static constexpr std::int32_t kStride = vertexStrideOf(Code);
    template <VertexComponent C>
    static constexpr std::int32_t kOffset = vertexComponentOffset(Code, C);

    explicit Y3MeshStreamFormat(std::int32_t count) : Y3MeshStream(kStride, count) {}

    Y3_STREAM_COMPONENTS(Y3_STREAM_FORMAT_COMPONENT)

    std::int32_t getFormat() const override { return Code; }
    std::int32_t getStride() const override { return kStride; }
    std::int32_t append() override { return appendRecordOf<kStride>(vertices_); }
    std::int32_t read(DataStream& s) override { return readArrayOf<kStride>(s, vertices_); }
    std::int32_t write(DataStream& s) const override { return writeRecordArray(s, vertices_, kStride); }

private:
    template <VertexComponent C>
    std::uint8_t* at(std::int32_t i) const {
        return vertices_.data + std::size_t(kStride) * std::size_t(i) + std::size_t(kOffset<C>);
    }
};

#undef Y3_STREAM_FORMAT_COMPONENT
#undef Y3_STREAM_COMPONENTS

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
