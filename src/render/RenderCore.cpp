#include "render/RenderCore.h"

#include <cstring>

#include "scene/CameraCore.h"
#include "ui/StillFrameData.h"

// No render backend is built in yet: the core starts, has no device, and
// every pass draws nothing.

RenderCore::RenderCore() : stillFrames_(std::make_unique<StillFrameRenderer>()) {
    initStillFrameSlots();
    textures.registerProceduralTextures();
}

RenderCore::~RenderCore() { release(); }

bool RenderCore::initialize() {
    readConfig();
    return true;
}

bool RenderCore::allocate_device() { return true; }

bool RenderCore::allocateDeviceData(std::int32_t) { return true; }

void RenderCore::renderSplash() {}

void RenderCore::mainLoop() { takeCamera(); }

void RenderCore::takeCamera() {
    cameraFrame.valid = camera != nullptr;
    if (!camera) return;
    std::memcpy(cameraFrame.view, camera->viewMatrix, sizeof(cameraFrame.view));
    std::memcpy(cameraFrame.projection, camera->projectionMatrix, sizeof(cameraFrame.projection));
    std::memcpy(cameraFrame.viewProjection, camera->viewProjection, sizeof(cameraFrame.viewProjection));
    std::memcpy(cameraFrame.world, camera->worldMatrix, sizeof(cameraFrame.world));
    std::memcpy(cameraFrame.position, camera->position(), sizeof(cameraFrame.position));
    std::memcpy(cameraFrame.focus, camera->focus, sizeof(cameraFrame.focus));
}

void RenderCore::updateResources() {}

void RenderCore::releaseDeviceData() {}

void RenderCore::release() {
    releaseDeviceData();
    clearStillFrameSlots();
}

void StillFrameSlotBlock::Counters::clear() {
    for (std::uint32_t& w : words) w = 0;
    for (std::uint32_t& w : moreWords) w = 0;
    for (std::uint8_t& f : flags) f = 0;
    word = 0;
    std::vector<std::uint8_t>().swap(buffer);
}

void RenderCore::initStillFrameSlots() {
    StillFrameSlotBlock& block = stillFrameSlots;
    block.first = 0;
    for (StillFrameSlotHolder*& slot : block.slots) slot = nullptr;
    block.counters.buffer.clear();
    block.counters.clear();
    for (std::uint32_t& w : block.counters.keptWords) w = 0;
    for (std::uint8_t& f : block.slotFlags) f = 0;
    block.further = 0;
    for (std::uint32_t& w : block.moreWords) w = 0;
    block.background = StillFrameSlotBlock::kDefaultBackground;
    block.smoother = FloatSmooth();
    block.smoother.stages.clear();
    block.smoother.setStages(2, 1.0f, 0.5f);
}

void RenderCore::clearStillFrameSlots() {
    StillFrameSlotBlock& block = stillFrameSlots;
    std::vector<FloatSmoothStage>().swap(block.smoother.stages);
    block.first = 0;
    for (StillFrameSlotHolder*& slot : block.slots) {
        if (slot) stillFrames_->data.deleteObject(slot->item);
        slot = nullptr;
    }
}
