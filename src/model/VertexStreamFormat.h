// The 49 vertex formats of the mesh streams and the interface of a vertex
// stream.
//
// A vertex holds some of nine components, packed without padding in the
// fixed order position, normal, colour, texture coordinates, lightmap
// coordinates, second texture coordinates, binormal, blend indices, blend
// weights. Codes 0 to 47 follow one rule, 24 s + 12 m + 4 k + 2 c + z
// (s: second coordinates, m: lightmap coordinates, k: 0 none, 1 normal,
// 2 normal and binormal, c: colour, z: blend indices and weights); code 48
// is the "TEMP" format outside it. The codes are stored in mesh files: they
// are fixed.
//
// Every format names a fallback for the fixed-function pipeline: the same
// format without binormal and blend components. These are the last ones of
// the layout, so the fallback layout is always a prefix of the format's.
#pragma once

#include <cstdint>

#include "platform/d3d9/D3D9.h"

class DataStream;

constexpr std::int32_t kVertexFormatCount = 49;
// "No format": the fallback of an empty table entry, and the state cache's
// "no declaration".
constexpr std::int32_t kNoVertexFormat = 50;
// Components plus the end mark.
constexpr int kMaxVertexElements = 10;

struct VertexFormatInfo {
    const char* displayName;  // "D+Normal" ...: the renderer's messages name a format by it
    std::uint32_t stride;     // bytes
    std::int32_t fallback;    // code used on the fixed-function pipeline
    // The Direct3D declaration of the code, closed by D3DDECL_END. For code
    // 48 it describes a 36-byte vertex (position, normal, colour, texture)
    // while its streams store position, colour, texture in 24 bytes.
    D3DVERTEXELEMENT9 elements[kMaxVertexElements];
};

// The stride of a code by the rule (24 for code 48): 20 bytes of position
// and texture coordinates, 4 of colour, 12 each of normal and binormal, 8
// each of lightmap and second coordinates, 20 of blend indices and weights.
constexpr std::int32_t vertexStrideOf(std::int32_t code) {
    if (code == 48) return 24;
    const std::int32_t normals = (code % 12) / 4;
    return 20 + 4 * ((code % 4) / 2) + 12 * (normals >= 1) + 12 * (normals == 2) + 8 * ((code % 24) / 12) +
           8 * (code / 24) + 20 * (code % 2);
}

// The nine vertex components, in the order of the streams' component
// operations (colour last; this is not the layout order).
enum class VertexComponent : std::int32_t {
    Position,
    Normal,
    Binormal,
    UV,
    UV2,
    LightmapUV,
    BlendIndices,
    BlendWeights,
    Color,
};

// The byte offset of a component inside a vertex of a code, or -1 when the
// code has no such component. Code 48 stores the layout of code 2.
constexpr std::int32_t vertexComponentOffset(std::int32_t code, VertexComponent component) {
    if (code == 48) code = 2;
    const bool second = code / 24 == 1;
    const bool lightmap = (code % 24) / 12 == 1;
    const std::int32_t normals = (code % 12) / 4;
    const bool colour = (code % 4) / 2 == 1;
    const bool blend = code % 2 == 1;
    // Layout order: position, normal, colour, texture, lightmap, second
    // texture, binormal, blend indices, blend weights.
    const std::int32_t normal = 12;
    const std::int32_t color = normal + 12 * (normals >= 1);
    const std::int32_t uv = color + 4 * colour;
    const std::int32_t lightmapUV = uv + 8;
    const std::int32_t uv2 = lightmapUV + 8 * lightmap;
    const std::int32_t binormal = uv2 + 8 * second;
    const std::int32_t indices = binormal + 12 * (normals == 2);
    switch (component) {
    case VertexComponent::Position: return 0;
    case VertexComponent::Normal: return normals >= 1 ? normal : -1;
    case VertexComponent::Binormal: return normals == 2 ? binormal : -1;
    case VertexComponent::UV: return uv;
    case VertexComponent::UV2: return second ? uv2 : -1;
    case VertexComponent::LightmapUV: return lightmap ? lightmapUV : -1;
    case VertexComponent::BlendIndices: return blend ? indices : -1;
    case VertexComponent::BlendWeights: return blend ? indices + 4 : -1;
    case VertexComponent::Color: return colour ? color : -1;
    }
    return -1;
}

// The format of a code; null outside 0 to 48.
const VertexFormatInfo* vertexFormat(std::int32_t code);

// The interface of a vertex stream: an array of vertices of one format.
class VertexStreamFormat {
public:
    virtual ~VertexStreamFormat() = default;

    virtual std::int32_t getFormat() const = 0;
    // count x stride, in bytes.
    virtual std::int32_t getSize() const = 0;
    virtual std::int32_t getCount() const = 0;
    virtual std::int32_t getStride() const = 0;
    // Adds one zero vertex: its index, or -1 when the array cannot grow.
    virtual std::int32_t append() = 0;
    // Frees the vertex array: no vertices, no capacity.
    virtual void freeVertices() = 0;
    // The vertex block of a stream record (a count, then the raw vertices):
    // read replaces the vertices, write writes them. Bytes read or written,
    // or a negative value (see RecordArray.h).
    virtual std::int32_t read(DataStream& s) = 0;
    virtual std::int32_t write(DataStream& s) const = 0;
    // The first vertex; null when the array is empty.
    virtual std::uint8_t* getData() = 0;
    virtual const std::uint8_t* getData() const = 0;
};
