// The two records the shader core shares with its variables and drawing
// code: the pass record (textures and fixed states of the current draw,
// moved into the state cache before it) and the frame record (limits,
// camera matrices and time that the shader variables read).
#pragma once

#include <cstdint>

#include "platform/d3d9/D3D9Types.h"

class IDirect3DBaseTexture9;

struct ShaderPassState {
    std::uint8_t textureSet[16] = {};
    std::uint8_t textureApplied[16] = {};
    IDirect3DBaseTexture9* textures[16] = {};
    // Applied flags of the states set once until the pass is reset.
    std::uint8_t alphaApplied = 0;
    std::uint8_t blendApplied = 0;
    std::uint8_t cullApplied = 0;
    std::uint8_t fourthApplied = 0;
    std::uint8_t depthApplied = 0;
    std::int32_t alphaMode = 0;      // 0 off, 1 sharp, 2 smooth, 3 mask
    std::int32_t blendMode = 0;      // 0 to 14
    std::int32_t cullMode = 0;       // 0 none, 1 clockwise, 2 counter-clockwise
    std::int32_t depthFunction = 0;  // 1 to 7; others leave the depth test alone
    std::int32_t fogMode = 0;        // 0 off, 1 linear, 2 exponential, 3 squared exponential
    float fogStart = 0.0f;           // or the density of the exponential modes
    float fogEnd = 0.0f;
    float fogColor[3] = {};

    // Sets the texture of a stage for the next applyPassState.
    void setTexture(int stage, IDirect3DBaseTexture9* texture) {
        textures[stage] = texture;
        textureSet[stage] = 1;
        textureApplied[stage] = 0;
    }
    // Someone set the device's textures behind the record: the next
    // applyPassState sends every set stage again.
    void forgetAppliedTextures() {
        for (std::uint8_t& applied : textureApplied) applied = 0;
    }
};

struct ShaderFrameState {
    std::int32_t maxBones = 60;
    std::int32_t maxParticles = 40;
    D3DMATRIX view{};
    D3DMATRIX viewInverse{};  // the camera's world matrix
    D3DMATRIX projection{};
    D3DMATRIX viewProjection{};
    float time = 0.0f;
    float time2 = 0.0f;
    float timeInverse = 0.0f;
    // Camera-derived blocks: the orientation as 3 x 4, a 3 x 4 block with
    // rows (1, 0, 0, 0) and (0, 1, 0, 0), the horizontal right axis and up.
    float cameraOrientation[12] = {};
    float cameraBlock[12] = {};
    float rightAxis[3] = {};
    float upAxis[3] = {};
    // The scene's fog: its colour (the sky's horizon colour) and range, which
    // every material's pass fog starts from; black and 0 without a sky.
    float fogColor[3] = {};
    float fogStart = 0.0f;
    float fogEnd = 0.0f;
};
