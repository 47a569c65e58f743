#include "render/RenderCore.h"

#include <cstring>

#include "app/GameCore.h"
#include "foundation/Log.h"
#include "foundation/TimeCore.h"
#include "render/VideoCore.h"
#include "render/shaders/ShaderCore.h"
#include "render/states/DXStateCache.h"
#include "scene/CameraCore.h"
#include "ui/StillFrameData.h"

namespace {

// The still frames' screen quad: two triangles of the 44-byte still-frame
// vertex (position, normal, colour, two texture coordinates).
constexpr UINT kStillFrameVertexBytes = 44;
constexpr UINT kStillFrameVertices = 6;
constexpr std::int32_t kFrameCounterWrap = 1000;

VideoDevice* videoDevice() { return gameCore.video ? &gameCore.video->videoDevice : nullptr; }

}  // namespace

RenderCore::RenderCore()
    : stillFrames_(std::make_unique<StillFrameRenderer>()),
      stateCache_(std::make_unique<DXStateCache>()),
      shaders_(std::make_unique<ShaderCore>()) {
    shaders_->attach(nullptr, stateCache_.get());
    initStillFrameSlots();
    textures.registerProceduralTextures();
}

RenderCore::~RenderCore() { release(); }

bool RenderCore::initialize() {
    readConfig();
    VideoDevice* device = videoDevice();
    if (!device || !device->initialize()) return engineLog().error("Can't initialize video device");
    if (!initializeDevice()) return engineLog().error("Can't initialize render device");
    return true;
}

bool RenderCore::initializeDevice() {
    VideoDevice* video = videoDevice();
    stateCache_->initialize(video && video->isFixedPipeline());
    deviceCreated();
    // Without its programs the renderer goes on with the fixed pipeline.
    return shaders_->start();
}

void RenderCore::deviceCreated() {
    VideoDevice* video = videoDevice();
    IDirect3DDevice9* device = video ? video->device() : nullptr;
    stateCache_->setDevice(device);
    shaders_->attach(device, stateCache_.get());
    stateCache_->setupDeviceDefaults(gameCore.video && gameCore.video->activeVideoSetup().aa > 0);
}

bool RenderCore::allocate_device() {
    VideoDevice* video = videoDevice();
    IDirect3DDevice9* device = video ? video->device() : nullptr;
    if (!device) return true;  // nothing to make without a device
    if (stillFrameVertexBuffer_) {
        engineLog().error("Can't allocate stillframe twice");
    } else {
        const HRESULT hr = device->CreateVertexBuffer(kStillFrameVertexBytes * kStillFrameVertices,
                                                      D3DUSAGE_DYNAMIC | D3DUSAGE_WRITEONLY, 0, D3DPOOL_DEFAULT,
                                                      &stillFrameVertexBuffer_, nullptr);
        if (FAILED(hr)) {
            stillFrameVertexBuffer_ = nullptr;
            return engineLog().error("Can't create stillframe vertex buffer: %s", d3dErrorText(hr));
        }
        stillFrameVertexBuffer_->SetDebugName("stillframe vertex buffer");
    }
    deviceObjectsAllocated_ = true;
    return true;
}

bool RenderCore::allocateDeviceData(std::int32_t flag) {
    // Textures load only on a device; without one they wait for it.
    if (!textureEnvironment().device()) return true;
    return textures.allocateAll(true, flag != 0);
}

bool RenderCore::renderSplash() {
    // No splash texture can be imported yet: the screen is cleared and
    // presented once.
    return renderUIFrame();
}

bool RenderCore::renderUIFrame() {
    VideoDevice* device = videoDevice();
    if (!device || !device->beginFrame()) return false;
    return device->presentScene();
}

bool RenderCore::mainLoop() {
    takeCamera();
    VideoDevice* video = videoDevice();
    if (!video) return false;
    if (!video->device() || video->state() != DeviceStateReady) {
        video->updateDeviceState();
        return false;
    }
    if (FAILED(video->device()->TestCooperativeLevel())) {
        video->setState(DeviceStateRestore);
        return false;
    }
    if (!deviceObjectsAllocated_ && !allocate_device()) {
        // The game cannot draw: it ends through the failure road of the
        // state machine, which releases it once the message loop returns.
        Log& log = engineLog();
        log.error("Can't allocate render objects");
        log.flush();
        log.info("Releasing game loop...");
        endGameOnRenderFailure();
        log.info("Exit");
        log.flush();
        return false;
    }
    if (!video->beginFrame()) return false;
    if (++frameCounter >= kFrameCounterWrap) frameCounter = 0;
    return true;
}

void RenderCore::takeCamera() {
    cameraFrame.valid = camera != nullptr;
    if (!camera) return;
    std::memcpy(cameraFrame.view, camera->viewMatrix, sizeof(cameraFrame.view));
    std::memcpy(cameraFrame.projection, camera->projectionMatrix, sizeof(cameraFrame.projection));
    std::memcpy(cameraFrame.viewProjection, camera->viewProjection, sizeof(cameraFrame.viewProjection));
    std::memcpy(cameraFrame.world, camera->worldMatrix, sizeof(cameraFrame.world));
    std::memcpy(cameraFrame.position, camera->position(), sizeof(cameraFrame.position));
    std::memcpy(cameraFrame.focus, camera->focus, sizeof(cameraFrame.focus));
    shaders_->setCameraFrame(cameraFrame.view, cameraFrame.world, cameraFrame.projection, cameraFrame.viewProjection);
}

void RenderCore::updateResources() {
    textures.updateCache(gameCore.clocks ? gameCore.clocks->worldTime.stepLength : 0.0);
}

void RenderCore::releaseDeviceData() {
    if (gameCore.debugFlags & DebugResourceLog) engineLog().info("Deallocate render core data");
    shaders_->releaseDeviceShaders();
    if (stillFrameVertexBuffer_) {
        stillFrameVertexBuffer_->Release();
        stillFrameVertexBuffer_ = nullptr;
    }
    deviceObjectsAllocated_ = false;
    textures.deallocateAll();
}

void RenderCore::release() {
    releaseDeviceData();
    clearStillFrameSlots();
    shaders_->release();
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
