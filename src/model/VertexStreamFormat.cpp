#include "model/VertexStreamFormat.h"

#include <array>

namespace {

// The display names by code (fixed: the renderer's messages use them).
constexpr const char* kDisplayNames[kVertexFormatCount] = {
    "D",          "D+Weights",          "DC",          "DC+Weights",          "D+Normal",
    "D+Normal+Weights", "DC+Normal",    "DC+Normal+Weights", "D+Bump",      "D+Bump+Weights",
    "DC+Bump",    "DC+Bump+Weights",    "LM",          "LM+Weights",          "LMC",
    "LMC+Weights", "LM+Normal",         "LM+Normal+Weights", "LMC+Normal",  "LMC+Normal+Weights",
    "LM+Bump",    "LM+Bump+Weights",    "LMC+Bump",    "LMC+Bump+Weights",    "2+D",
    "2+D+Weights", "2+DC",              "2+DC+Weights", "2+D+Normal",         "2+D+Normal+Weights",
    "2+DC+Normal", "2+DC+Normal+Weights", "2+D+Bump",  "2+D+Bump+Weights",    "2+DC+Bump",
    "2+DC+Bump+Weights", "2+LM",        "2+LM+Weights", "2+LMC",              "2+LMC+Weights",
    "2+LM+Normal", "2+LM+Normal+Weights", "2+LMC+Normal", "2+LMC+Normal+Weights", "2+LM+Bump",
    "2+LM+Bump+Weights", "2+LMC+Bump",  "2+LMC+Bump+Weights", "TEMP",
};

// Builds the elements of a vertex one component at a time, in layout order.
struct ElementList {
    VertexFormatInfo& info;
    int used = 0;

    constexpr void add(BYTE type, BYTE usage, BYTE usageIndex, std::uint32_t bytes) {
        info.elements[used++] = {0, static_cast<WORD>(info.stride), type, D3DDECLMETHOD_DEFAULT, usage, usageIndex};
        info.stride += bytes;
    }
    constexpr void end() { info.elements[used] = D3DDECL_END(); }
};

constexpr VertexFormatInfo ruleFormat(std::int32_t code) {
    const bool second = code / 24 == 1;
    const bool lightmap = (code % 24) / 12 == 1;
    const int normals = (code % 12) / 4;
    const bool colour = (code % 4) / 2 == 1;
    const bool blend = code % 2 == 1;
    VertexFormatInfo info{kDisplayNames[code], 0, code - (blend ? 1 : 0) - (normals == 2 ? 4 : 0), {}};
    ElementList list{info};
    list.add(D3DDECLTYPE_FLOAT3, D3DDECLUSAGE_POSITION, 0, 12);
    if (normals >= 1) list.add(D3DDECLTYPE_FLOAT3, D3DDECLUSAGE_NORMAL, 0, 12);
    if (colour) list.add(D3DDECLTYPE_D3DCOLOR, D3DDECLUSAGE_COLOR, 0, 4);
    list.add(D3DDECLTYPE_FLOAT2, D3DDECLUSAGE_TEXCOORD, 0, 8);
    if (lightmap) list.add(D3DDECLTYPE_FLOAT2, D3DDECLUSAGE_TEXCOORD, 1, 8);
    if (second) list.add(D3DDECLTYPE_FLOAT2, D3DDECLUSAGE_TEXCOORD, lightmap ? 2 : 1, 8);
    if (normals == 2) list.add(D3DDECLTYPE_FLOAT3, D3DDECLUSAGE_BINORMAL, 0, 12);
    if (blend) {
        list.add(D3DDECLTYPE_UBYTE4, D3DDECLUSAGE_BLENDINDICES, 0, 4);
        list.add(D3DDECLTYPE_FLOAT4, D3DDECLUSAGE_BLENDWEIGHT, 0, 16);
    }
    list.end();
    return info;
}

// Format 48: its streams store position, colour and texture coordinates
// (the layout of format 2, 24 bytes); its declaration lists position,
// normal, colour and texture coordinates.
constexpr VertexFormatInfo tempFormat() {
    VertexFormatInfo info{kDisplayNames[48], 0, 48, {}};
    ElementList list{info};
    list.add(D3DDECLTYPE_FLOAT3, D3DDECLUSAGE_POSITION, 0, 12);
    list.add(D3DDECLTYPE_FLOAT3, D3DDECLUSAGE_NORMAL, 0, 12);
    list.add(D3DDECLTYPE_D3DCOLOR, D3DDECLUSAGE_COLOR, 0, 4);
    list.add(D3DDECLTYPE_FLOAT2, D3DDECLUSAGE_TEXCOORD, 0, 8);
    list.end();
    info.stride = 24;
    return info;
}

constexpr std::array<VertexFormatInfo, kVertexFormatCount> buildFormats() {
    std::array<VertexFormatInfo, kVertexFormatCount> formats{};
    for (std::int32_t code = 0; code < 48; ++code) formats[static_cast<std::size_t>(code)] = ruleFormat(code);
    formats[48] = tempFormat();
    return formats;
}

constexpr std::array<VertexFormatInfo, kVertexFormatCount> kFormats = buildFormats();

constexpr bool stridesAgree() {
    for (std::int32_t code = 0; code < kVertexFormatCount; ++code)
        if (kFormats[static_cast<std::size_t>(code)].stride != std::uint32_t(vertexStrideOf(code))) return false;
    return true;
}
static_assert(stridesAgree(), "the layouts and the stride rule disagree");

// The component offsets of the streams against the declarations' offsets.
constexpr bool offsetsAgree() {
    for (std::int32_t code = 0; code < 48; ++code) {
        const VertexFormatInfo& info = kFormats[static_cast<std::size_t>(code)];
        const bool lightmap = vertexComponentOffset(code, VertexComponent::LightmapUV) >= 0;
        for (int i = 0; info.elements[i].Stream != 0xFF; ++i) {
            const D3DVERTEXELEMENT9& e = info.elements[i];
            VertexComponent component = VertexComponent::Position;
            switch (e.Usage) {
            case D3DDECLUSAGE_POSITION: component = VertexComponent::Position; break;
            case D3DDECLUSAGE_NORMAL: component = VertexComponent::Normal; break;
            case D3DDECLUSAGE_COLOR: component = VertexComponent::Color; break;
            case D3DDECLUSAGE_BINORMAL: component = VertexComponent::Binormal; break;
            case D3DDECLUSAGE_BLENDINDICES: component = VertexComponent::BlendIndices; break;
            case D3DDECLUSAGE_BLENDWEIGHT: component = VertexComponent::BlendWeights; break;
            default:
                component = e.UsageIndex == 0                ? VertexComponent::UV
                            : e.UsageIndex == 1 && lightmap ? VertexComponent::LightmapUV
                                                             : VertexComponent::UV2;
            }
            if (vertexComponentOffset(code, component) != e.Offset) return false;
        }
    }
    return true;
}
static_assert(offsetsAgree(), "the component offsets and the declarations disagree");

}  // namespace

const VertexFormatInfo* vertexFormat(std::int32_t code) {
    if (static_cast<std::uint32_t>(code) >= static_cast<std::uint32_t>(kVertexFormatCount)) return nullptr;
    return &kFormats[static_cast<std::size_t>(code)];
}
