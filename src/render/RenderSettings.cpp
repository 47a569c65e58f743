#include "render/RenderSettings.h"

#include "app/GameCore.h"
#include "effects/SceneShadows.h"
#include "effects/SkyDome.h"
#include "foundation/IniFile.h"
#include "foundation/SettingsReader.h"
#include "render/RenderCore.h"
#include "render/shaders/ShaderCore.h"
#include "ui/StillFrameSettings.h"

RenderSettings renderSettings;

void RenderCore::readConfig() {
    if (!gameCore.settings) return;
    IniCategory& render = gameCore.settings->getCategory("render");
    RenderSettings& s = renderSettings;
    readSetting(render, "progress_max_fps", s.progressMaxFps, 12.0f);
    readSetting(render, "shadow_offset", s.shadowOffset, 0.007f);
    readSetting(render, "HDR_disable_bloom_blur", s.hdrDisableBloomBlur, false);
    readSetting(render, "HDR_disable_depth_blur", s.hdrDisableDepthBlur, false);
    readSetting(render, "HDR_debug_downscale", s.hdrDebugDownscale, false);
    readSetting(render, "HDR_debug_poisson", s.hdrDebugPoisson, false);
    readSetting(render, "HDR_BB_downscale_power", s.hdrBackBufferDownscalePower, 0);
    readSetting(render, "HDR_bloom_downsample_power", s.hdrBloomDownsamplePower, 1);
    readSetting(render, "HDR_bloom_blur_Gaussian_Coeff", s.hdrBloomBlurGaussianCoeff, 5.0f);
    readSetting(render, "HDR_bloom_bloor_offsetX", s.hdrBloomBlurOffsetX, 4.0f);
    readSetting(render, "HDR_bloom_bloor_offsetY", s.hdrBloomBlurOffsetY, 4.0f);
    readSetting(render, "HDR_depth_blur_Gaussian_Coeff", s.hdrDepthBlurGaussianCoeff, 5.0f);
    readSetting(render, "HDR_depth_bloor_offsetX", s.hdrDepthBlurOffsetX, 1.0f);
    readSetting(render, "HDR_depth_bloor_offsetY", s.hdrDepthBlurOffsetY, 1.0f);
    readSetting(render, "HDR_depth_downscale_power", s.hdrDepthDownscalePower, 0);
    readSetting(render, "HDR_shadow_blur_Gaussian_Coeff", s.hdrShadowBlurGaussianCoeff, 3.0f);
    readSetting(render, "HDR_texelX_offset", s.hdrTexelOffsetX, -0.5f);
    readSetting(render, "HDR_texelY_offset", s.hdrTexelOffsetY, -0.5f);
    readSetting(render, "HDR_PoissonDOF_texelX_offset", s.hdrPoissonDofTexelOffsetX, 1.0f);
    readSetting(render, "HDR_PoissonDOF_texelY_offset", s.hdrPoissonDofTexelOffsetY, 1.0f);
    std::int32_t alphaClip = 127;
    readSetting(render, "HDR_depth_alpha_clip", alphaClip, 127);
    s.hdrDepthAlphaClip = static_cast<float>(alphaClip) / 255.0f;
    // The alpha-test references of the draw paths and the shader debug name.
    shaders_->readAlphaSettings();
    shaders_->readDebugSettings();
    readShadowSettings(*gameCore.settings);
    shadowLimits.maxWidth = shadowSettings.textureMaxWidth;
    shadowLimits.maxHeight = shadowSettings.textureMaxHeight;
    shadowLimits.softMax = shadowSettings.softTextureMax;
    readConsoleSettings(*gameCore.settings);
    // The sky dome's rings (section "sky").
    readSkyDomeSettings(*gameCore.settings);
}
