// The render settings of section "render", read by RenderCore::readConfig
// at start (and again when the render core initialises): the loading
// screen's redraw rate, the shadow depth offset and the post-processing
// (bloom and depth-of-field) switches and filter values.
#pragma once

#include <cstdint>

struct RenderSettings {
    // The loading screen redraws at most this many times a second.
    float progressMaxFps = 12.0f;
    float shadowOffset = 0.007f;
    bool hdrDisableBloomBlur = false;
    bool hdrDisableDepthBlur = false;
    bool hdrDebugDownscale = false;
    bool hdrDebugPoisson = false;
    std::int32_t hdrBackBufferDownscalePower = 0;
    std::int32_t hdrBloomDownsamplePower = 1;
    float hdrBloomBlurGaussianCoeff = 5.0f;
    float hdrBloomBlurOffsetX = 4.0f;
    float hdrBloomBlurOffsetY = 4.0f;
    float hdrDepthBlurGaussianCoeff = 5.0f;
    float hdrDepthBlurOffsetX = 1.0f;
    float hdrDepthBlurOffsetY = 1.0f;
    std::int32_t hdrDepthDownscalePower = 0;
    float hdrShadowBlurGaussianCoeff = 3.0f;
    float hdrTexelOffsetX = -0.5f;
    float hdrTexelOffsetY = -0.5f;
    float hdrPoissonDofTexelOffsetX = 1.0f;
    float hdrPoissonDofTexelOffsetY = 1.0f;
    // The depth pass's alpha reference: the key's 0..255 value / 255.
    float hdrDepthAlphaClip = 127.0f / 255.0f;
};
extern RenderSettings renderSettings;
