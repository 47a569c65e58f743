#include "render/VideoCore.h"

#include "app/GameCore.h"
#include "foundation/IniFile.h"
#include "platform/Display.h"

VideoCore::VideoCore() {
    // The safe set: a small mode, plain filtering, default synchronisation.
    setups[0].res_width = 640;
    setups[0].res_height = 480;
    setups[0].texture = 0;
    setups[0].vSync = VideoSyncDefault;
    videoDevice.buildGammaRamp(0.0f);
}

VideoCore::~VideoCore() { release(); }

bool VideoCore::initialize() { return true; }

void VideoCore::release() { device_ = nullptr; }

std::int32_t VideoCore::findResolution(std::int32_t width, std::int32_t height) const {
    for (std::size_t i = 0; i < resolutions.size(); ++i)
        if (resolutions[i].width == width && resolutions[i].height == height) return static_cast<std::int32_t>(i);
    return -1;
}

void VideoCore::desktopSize(std::int32_t& width, std::int32_t& height) {
    if (desktopWidth <= 0 || desktopHeight <= 0) platform::desktopResolution(desktopWidth, desktopHeight);
    width = desktopWidth;
    height = desktopHeight;
}

std::int32_t VideoCore::displayRefreshRate() {
    if (refreshRate <= 0) refreshRate = platform::displayRefreshRate();
    if (refreshRate <= 0) refreshRate = 60;
    return refreshRate;
}

void VideoCore::updatePostprocessing() {
    const VideoSetup& record = activeVideoSetup();
    bool disabled = false;
    if (gameCore.settings)
        gameCore.settings->getCategory("debug").getVariable("debug_disable_postprocessing").getBool(disabled, false);
    postprocessing = record.details > VideoDetailsMinimum && (record.pp_bloom != 0 || record.pp_depth != 0) && !disabled;
}
