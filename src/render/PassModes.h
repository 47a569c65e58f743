// The fixed states of one draw as modes (cull, blend, alpha test, fog,
// depth function) and their render states on the device.
#pragma once

#include <cstdint>

#include "platform/d3d9/D3D9.h"

struct PassModes {
    std::int32_t cullMode = 0;       // 0 none, 1 clockwise, 2 counter-clockwise
    std::int32_t blendMode = 0;      // 0 to 14
    std::int32_t alphaMode = 0;      // 0 off, 1 sharp, 2 smooth
    std::int32_t fogMode = 0;        // 0 off, 1 linear
    std::int32_t depthFunction = 0;  // 1 to 7; others leave the depth test alone
    float fogColor[3] = {};
    float fogStart = 0.0f;
    float fogEnd = 0.0f;
};

// Sets the render states of the modes on device.
void applyPassModes(IDirect3DDevice9* device, const PassModes& modes);
