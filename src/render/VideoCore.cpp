#include "render/VideoCore.h"

#include <cmath>

#include "platform/Display.h"

VideoCore::VideoCore() {
    // The safe set: a small mode, plain filtering, default synchronisation.
    setups[0].res_width = 640;
    setups[0].res_height = 480;
    setups[0].texture = 0;
    setups[0].vSync = VideoSyncDefault;
    updateGamma(0.0f);
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

void VideoCore::updateGamma(float value) {
    float exponent = 1.0f - 2.0f * value;
    if (!(exponent > 0.1f)) exponent = 0.1f;
    for (int i = 0; i < 256; ++i) {
        const double level = std::pow(i / 255.0, static_cast<double>(exponent)) * 65535.0;
        const std::uint16_t entry = static_cast<std::uint16_t>(level);
        gammaRamp[0][i] = gammaRamp[1][i] = gammaRamp[2][i] = entry;
    }
}
