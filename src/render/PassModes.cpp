#include "render/PassModes.h"

#include <cstring>

namespace {

// Depth write, blending, source, destination by blend mode (6 leaves the
// blend states as they are).
struct BlendRow {
    DWORD depthWrite, blend, source, destination;
};
constexpr BlendRow kBlendModes[15] = {
    {1, 0, D3DBLEND_ONE, D3DBLEND_ZERO},
    {0, 0, D3DBLEND_ONE, D3DBLEND_ZERO},
    {0, 1, D3DBLEND_SRCALPHA, D3DBLEND_INVSRCALPHA},
    {1, 1, D3DBLEND_SRCALPHA, D3DBLEND_INVSRCALPHA},
    {0, 1, D3DBLEND_ONE, D3DBLEND_INVSRCALPHA},
    {0, 1, D3DBLEND_ZERO, D3DBLEND_INVSRCALPHA},
    {0, 0, 0, 0},
    {0, 1, D3DBLEND_SRCALPHA, D3DBLEND_ONE},
    {0, 1, D3DBLEND_ONE, D3DBLEND_ONE},
    {0, 1, D3DBLEND_ZERO, D3DBLEND_ONE},
    {0, 1, D3DBLEND_SRCALPHA, D3DBLEND_INVDESTCOLOR},
    {0, 1, D3DBLEND_INVSRCALPHA, D3DBLEND_SRCALPHA},
    {1, 1, D3DBLEND_INVSRCALPHA, D3DBLEND_SRCALPHA},
    {0, 1, D3DBLEND_ONE, D3DBLEND_ZERO},
    {1, 1, D3DBLEND_ONE, D3DBLEND_ZERO},
};
constexpr DWORD kDepthFunctions[8] = {0,           D3DCMP_ALWAYS,   D3DCMP_LESS,     D3DCMP_GREATER,
                                      D3DCMP_EQUAL, D3DCMP_NOTEQUAL, D3DCMP_LESSEQUAL, D3DCMP_GREATEREQUAL};

DWORD packRgb(const float* c) {
    auto byte = [](float v) { return DWORD(v <= 0.0f ? 0 : v >= 1.0f ? 255 : v * 255.0f + 0.5f); };
    return 0xFF000000u | (byte(c[0]) << 16) | (byte(c[1]) << 8) | byte(c[2]);
}
DWORD floatBits(float f) {
    DWORD bits;
    std::memcpy(&bits, &f, sizeof bits);
    return bits;
}

}  // namespace

void applyPassModes(IDirect3DDevice9* device, const PassModes& modes) {
    if (!device) return;
    if (modes.cullMode >= 0 && modes.cullMode <= 2) device->SetRenderState(D3DRS_CULLMODE, DWORD(modes.cullMode + 1));
    if (modes.fogMode == 1) {
        device->SetRenderState(D3DRS_FOGENABLE, 1);
        device->SetRenderState(D3DRS_FOGTABLEMODE, D3DFOG_LINEAR);
        device->SetRenderState(D3DRS_FOGSTART, floatBits(modes.fogStart));
        device->SetRenderState(D3DRS_FOGEND, floatBits(modes.fogEnd));
        const bool additive = modes.blendMode == 4 || modes.blendMode == 7 || modes.blendMode == 8;
        device->SetRenderState(D3DRS_FOGCOLOR, additive ? 0 : packRgb(modes.fogColor));
    } else {
        device->SetRenderState(D3DRS_FOGENABLE, 0);
    }
    if (modes.alphaMode == 1 || modes.alphaMode == 2) {
        device->SetRenderState(D3DRS_ALPHATESTENABLE, 1);
        device->SetRenderState(D3DRS_ALPHAREF, modes.alphaMode == 1 ? 128 : 8);
        device->SetRenderState(D3DRS_ALPHAFUNC, D3DCMP_GREATEREQUAL);
    } else {
        device->SetRenderState(D3DRS_ALPHATESTENABLE, 0);
    }
    if (modes.blendMode >= 0 && modes.blendMode <= 14 && modes.blendMode != 6) {
        const BlendRow& row = kBlendModes[modes.blendMode];
        device->SetRenderState(D3DRS_ZWRITEENABLE, row.depthWrite);
        device->SetRenderState(D3DRS_ALPHABLENDENABLE, row.blend);
        device->SetRenderState(D3DRS_SRCBLEND, row.source);
        device->SetRenderState(D3DRS_DESTBLEND, row.destination);
        device->SetRenderState(D3DRS_BLENDOP, D3DBLENDOP_ADD);
    }
    if (modes.depthFunction >= 1 && modes.depthFunction <= 7)
        device->SetRenderState(D3DRS_ZFUNC, kDepthFunctions[modes.depthFunction]);
}
