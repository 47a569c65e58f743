#include "render/RenderCore.h"

#include "ui/StillFrameData.h"

// No render backend is built in yet: the core starts, has no device, and
// every pass draws nothing.

RenderCore::RenderCore() : stillFrames_(std::make_unique<StillFrameRenderer>()) {}

RenderCore::~RenderCore() { release(); }

bool RenderCore::initialize() {
    readConfig();
    return true;
}

bool RenderCore::allocate_device() { return true; }

void RenderCore::renderSplash() {}

void RenderCore::mainLoop() {}

void RenderCore::updateResources() {}

void RenderCore::releaseDeviceData() {}

void RenderCore::release() { releaseDeviceData(); }

bool RenderCore::renderSaveScreenShot(TgaImage& image, std::uint32_t width, std::uint32_t height) {
    if (width == 0 || height == 0 || !image.create(false, width, height)) return false;
    image.fillRgb(128, 128, 128);
    return true;
}

bool RenderCore::reloadSaveScreenShot(std::int32_t slot, const TgaImage& image) {
    if (slot < 0 || slot >= static_cast<std::int32_t>(saveScreenShots_.size()) || !image.pixels()) return false;
    image.copyTo(saveScreenShots_[static_cast<std::size_t>(slot)]);
    return true;
}

const TgaImage* RenderCore::saveScreenShotTexture(std::int32_t slot) const {
    if (slot < 0 || slot >= static_cast<std::int32_t>(saveScreenShots_.size())) return nullptr;
    return &saveScreenShots_[static_cast<std::size_t>(slot)];
}
