#include "render/RenderCore.h"

#include "effects/LightDataManager.h"
#include "effects/ParticleData.h"
#include "effects/RainMap.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <iterator>
#include <thread>

#include "app/GameCore.h"
#include "app/SaveGame.h"
#include "effects/Y3Sky.h"
#include "foundation/AppPaths.h"
#include "foundation/IniFile.h"
#include "foundation/Log.h"
#include "foundation/TimeCore.h"
#include "model/DXStreams.h"
#include "model/ModelDataManager.h"
#include "platform/FileSystem.h"
#include "platform/StackTrace.h"
#include "sound/SoundCore.h"
#include "render/VideoCore.h"
#include "render/shaders/ShaderCore.h"
#include "render/states/DXStateCache.h"
#include "resources/Y3ResourceManager.h"
#include "scene/CameraCore.h"
#include "scene/Scene.h"
#include "scene/SceneDataManager.h"
#include "ui/StillFrameData.h"

namespace {

// The still frames' screen quad: two triangles of the 44-byte still-frame
// vertex (position, normal, colour, two texture coordinates).
constexpr std::int32_t kFrameCounterWrap = 1000;

VideoDevice* videoDevice() { return gameCore.video ? &gameCore.video->videoDevice : nullptr; }

// Seconds between two mesh-cache steps.
constexpr double kMeshCacheInterval = 5.0;
// The object pass of camera render mode 10, by state index 0 to 11.
constexpr std::int32_t kStateObjectPass[12] = {2, 4, 4, 4, 6, 0, 1, 1, 2, 7, 8, 5};
constexpr std::int32_t kObjectPassNone = 7;
// The render data managers in the order their passes walk them.
constexpr RenderDataManager kEveryDataManager[] = {RenderDataManager::Model, RenderDataManager::Sprite,
                                                   RenderDataManager::Movie, RenderDataManager::Particle,
                                                   RenderDataManager::SceneData};

// The engine lock (the sound core's) for a render-list pass; none without a
// sound core.
class PassLock {
public:
    PassLock() : sound_(gameCore.sound) {
        if (sound_) sound_->lock();
    }
    ~PassLock() {
        if (sound_) sound_->unlock();
    }
    PassLock(const PassLock&) = delete;
    PassLock& operator=(const PassLock&) = delete;

private:
    SoundCore* sound_;
};

// Writes the calling thread's stack into the log (a context lost inside a
// render pass).
void logCallStack() {
    std::uintptr_t frames[32];
    const int count = platform::captureStack(frames, 32);
    Log& log = engineLog();
    for (int i = 0; i < count; ++i) {
        platform::AddressInfo info;
        if (platform::describeAddress(frames[i], info) && !info.function.empty())
            log.message("  %2i) %s", i, info.function.c_str());
        else
            log.message("  %2i) %p", i, reinterpret_cast<void*>(frames[i]));
    }
}

// The camera's 3x4 matrix (axes, then position) from the frame record.
Matrix34 cameraMatrix(const CameraFrame& frame) {
    Matrix34 out = matrix34Identity();
    if (!frame.valid) return out;
    for (int row = 0; row < 4; ++row)
        for (int col = 0; col < 3; ++col) out.m[row * 3 + col] = frame.world[row * 4 + col];
    return out;
}

bool shaderDetail() {
    return textureEnvironment().videoSetup().details != VideoDetailsMinimum;
}

struct BuiltinLink {
    const char* name;
    std::uint32_t type;
    std::uint32_t address;
};
constexpr BuiltinLink kBuiltinLinks[RenderBuiltinTextures::kCount] = {
    {"startuploading", 0, 3}, {"loading", 0, 3},         {"procNormalizerCubeMap", 1, 3},
    {"proc2DLightMask", 0, 3}, {"procLightAttenuation", 0, 3}, {"procSpecularmap", 0, 3},
    {"procGhostmap", 0, 3},   {"procWhiteMap", 0, 1},    {"procClearNormalMap", 0, 1},
    {"procClearCompressedNormalMap", 0, 1},               {"debug_bricks", 0, 1},
    {"water20_wave", 0, 1},   {"water20_normal", 0, 1},  {"ProcMirror", 0, 0},
    {"water_ls_x", 0, 1},     {"ProcHDR1", 0, 0},        {"ProcHDR2", 0, 0},
    {"ProcHDR3", 0, 0},       {"ProcHDR4", 0, 0},        {"ProcHDR5", 0, 0},
    {"ProcDepth", 0, 0},      {"ProcPoissonDOF", 0, 0},  {"ProcSHADOW1", 0, 1},
    {"ProcSHADOW2", 0, 1},    {"procsavescreenshot", 0, 1},
};

}  // namespace

RenderBuiltinTextures::RenderBuiltinTextures() {
    for (int i = 0; i < kCount; ++i) {
        const BuiltinLink& b = kBuiltinLinks[i];
        if (b.name) links[i].init(b.name, b.type, b.address, b.address, 0);
    }
}

void RenderBuiltinTextures::release() {
    for (TextureLink& link : links) link.release(false);
}

TextureLink* RenderBuiltinTextures::find(const char* name) {
    const std::string key = textureKey(name);
    for (TextureLink& link : links)
        if (key == link.baseName()) return &link;
    return nullptr;
}

RenderCore::RenderCore()
    : stillFrames_(std::make_unique<StillFrameRenderer>()),
      stateCache_(std::make_unique<DXStateCache>()),
      shaders_(std::make_unique<ShaderCore>()),
      streamDeclarations_(std::make_unique<DXStreamDeclarations>()),
      rainData_(std::make_unique<RainMapDataManager>()),
      lightData_(std::make_unique<LightDataManager>()),

      modelData_(std::make_unique<ModelDataManager>()) {
    setRainMapDataManager(rainData_.get());
    setLightDataManager(lightData_.get());
    // The particle effects belong to the core: registered under their role,
    // deleted with the core.
    auto* particles = new ParticleDataManager;
    registerDataManager(RenderDataManager::Particle, particles);
    setParticleDataManager(particles);
    setModelDataManager(modelData_.get());
    registerDataManager(RenderDataManager::Model, modelData_.get());
    streamDeclarations_->attach(stateCache_.get());
    shaders_->attach(nullptr, stateCache_.get());
    quadBatch.attach(stateCache_.get(), shaders_.get());
    initStillFrameSlots();
    textures.registerProceduralTextures();
    fonts_ = std::make_unique<FontData>();
}

RenderCore::~RenderCore() {
    release();
    if (rainMapDataManager() == rainData_.get()) setRainMapDataManager(nullptr);
    if (&lightDataManager() == lightData_.get()) setLightDataManager(nullptr);
    if (modelDataManager() == modelData_.get()) setModelDataManager(nullptr);
    auto* particles = static_cast<ParticleDataManager*>(dataManager(RenderDataManager::Particle));
    if (particleDataManager() == particles) setParticleDataManager(nullptr);
    registerDataManager(RenderDataManager::Particle, nullptr);
    delete particles;
}

bool RenderCore::initialize() {
    readConfig();
    skyDome.build();
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
    // The defaults emptied the device's texture stages.
    shaders_->pass.forgetAppliedTextures();
}

bool RenderCore::allocate_device() {
    VideoDevice* video = videoDevice();
    IDirect3DDevice9* device = video ? video->device() : nullptr;
    if (!device) return true;  // nothing to make without a device
    streamDeclarations_->allocate(device);  // a failure is logged; models then draw without declarations
    if (stillFrames_->data.vertexBufferReady()) engineLog().error("Can't allocate stillframe twice");
    else if (!stillFrames_->createVertexBuffer()) return false;
    stillFrames_->flags |= 0x2;
    allocateRenderTargets();  // a missing target only skips its effect
    // A failure is logged; the sky then draws nothing. The rain maps in use
    // get their buffers with the dome's.
    if (skyDome.createBuffers(device)) rainData_->allocateAll();
    deviceObjectsAllocated_ = true;
    // With the device and its objects in place textures can load: a link
    // that attaches from now on (the splash first) loads its texture at once.
    textures.allocated = true;
    return true;
}

bool RenderCore::allocateDeviceData(std::int32_t flag) {
    // Textures load only on a device; without one they wait for it.
    if (!textureEnvironment().device()) return true;
    bool result = textures.allocateAll(true, flag != 0);
    // The still frames' media follow their textures.
    if (!stillFrames_->data.restoreMedia()) result = false;
    stillFrames_->flags |= 0x4;
    // The resources in use get their device objects again.
    for (RenderDataManager role : {RenderDataManager::Model, RenderDataManager::Sprite, RenderDataManager::Particle})
        if (ResourceManagerBase* manager = dataManager(role); manager && !manager->allocateAll()) result = false;
    return result;
}

bool RenderCore::renderSplash() {
    std::string name = "splash_screen.dds";
    if (gameCore.settings)
        if (IniVariable* key = gameCore.settings->getCategory("game").findVariable("splash"))
            key->getString(name, "splash_screen.dds");
    // The splash file lies beside the executable unless its path says where.
    std::string path = name;
    if (std::filesystem::path(name).is_relative() && gameCore.paths && !gameCore.paths->get(PathExeFolder).empty())
        path = platform::hostPath(gameCore.paths->get(PathExeFolder) + "/" + name);
    const std::string source = textureKey(std::filesystem::path(name).stem().string().c_str());
    if (!textures.findOrCreate(source.c_str(), 6, true) && !textures.importExternalTexture(path.c_str(), true))
        return true;
    if (!stillFrames_->data.vertexBufferReady() && !stillFrames_->createVertexBuffer()) return false;
    StillFrameData& data = stillFrames_->data;
    StillFrameScriptDataItem* splash = data.create("splash", source.c_str(), 0.0f, 0.0f, 1024.0f, 768.0f);
    if (VideoDevice* video = videoDevice()) streamDeclarations_->allocate(video->device());
    const bool drawn = renderUIFrame();
    if (splash) data.deleteObject(splash);
    return drawn;
}

std::uint32_t RenderCore::refreshBackground() {
    std::uint32_t colour = StillFrameSlotBlock::kDefaultBackground;
    Scene* scene = gameCore.game && !gameCore.game->loading ? gameCore.currentScene() : nullptr;
    float fields[kSkyRecordFields];
    if (scene && scene->sky && scene->sky->currentRecord(fields)) colour = skyBackgroundColour(fields);
    stillFrameSlots.background = colour;
    return colour;
}

void RenderCore::releaseBuiltinTextures() {
    builtinTextures.release();
    stillFrames_->data.releaseMedia();
}

IDirect3DVertexBuffer9* RenderCore::stillFrameVertexBuffer() const { return stillFrames_->data.quadBuffer(); }

bool RenderCore::renderUIFrame() {
    VideoDevice* device = videoDevice();
    if (!device || !device->beginFrame()) return false;
    if (stillFrames_->flags & 0x1) stillFrames_->data.render(0);
    return device->presentScene();
}

void RenderCore::meshCacheStep() {
    if (!gameCore.clocks) return;
    const double now = gameCore.clocks->gameTime.time;
    if (lastMeshCacheTime >= 0.0 && now - lastMeshCacheTime >= 0.0 && now - lastMeshCacheTime <= kMeshCacheInterval)
        return;
    lastMeshCacheTime = now;
    // Meshes not drawn for a while give their device data back (setting
    // "enable_mesh_caching").
    modelData_->cacheStep();
}

std::int32_t RenderCore::stateIndex() {
    return (gameCore.flags & kGameFlagCameraOverride) ? 11 : gameCore.gameState;
}

std::int32_t RenderCore::objectPassMode(std::int32_t cameraMode, std::int32_t index) {
    if (cameraMode == 10 && index >= 0 && index <= 11) return kStateObjectPass[index];
    return cameraMode;
}

bool RenderCore::mainLoop() {
    meshCacheStep();
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
    const std::int32_t index = stateIndex();
    lastObjectPassMode = -1;
    // The mirror is drawn anew each frame that asks for it; until then the
    // water shows the sky.
    if (ProcMirror* mirror = mirrorTarget()) mirror->rendered = false;
    if (camera && drawsScene(index)) {
        camera->renderMirror();
        renderList.flags |= RenderList::FlagLocked;
        updateContexts();
        renderShadows();
    }
    if (!video->beginFrame()) {
        renderList.flags &= ~RenderList::FlagLocked;
        return false;
    }
    if (camera) {
        scenePass(index);
        // Post-processing (depth of field, bloom) follows the scene pass;
        // the pending quads are drawn before it.
        quadBatch.flush();
        if (!postProcessFrame(index)) {
            renderList.flags &= ~RenderList::FlagLocked;
            return false;
        }
    }
    if (stillFrames_->flags & 0x1) {
        stillFrames_->data.render(1);
        quadBatch.flush();
        stillFrames_->data.render(0);
    }
    renderList.flags &= ~RenderList::FlagLocked;
    if (++frameCounter >= kFrameCounterWrap) frameCounter = 0;
    return true;
}

void RenderCore::scenePass(std::int32_t index, bool sceneHook) {
    if (!drawsScene(index)) return;
    shaders_->resetPass();
    // The scene's per-frame render hook, with a fresh time sample.
    if (Scene* scene = camera->owner(); scene && sceneHook) scene->updatePhase2(CurrentTime(-1.0), 0);
    const bool saved = secondaryPass;
    secondaryPass = false;
    const std::int32_t mode = objectPassMode(std::int32_t(camera->mode), index);
    lastObjectPassMode = mode;
    if (mode == kObjectPassNone) resetShadersIfFixed();
    else renderObjectContexts();
    secondaryPass = saved;
    quadBatch.flush();
}

bool RenderCore::renderShadows() {
    Scene* scene = camera ? camera->owner() : nullptr;
    return scene && SoftShadow::blur(scene->shadows);
}

void RenderCore::updateContexts() {
    PassLock lock;
    RenderListLock locked(renderList);
    const Matrix34 camera = cameraMatrix(cameraFrame);
    renderList.clearQueues();
    for (RenderObject* object = renderList.head; object; object = object->next) {
        if (!object->context) {
            engineLog().error("Objects context [%s] deleted inside render pass", object->displayName());
            logCallStack();
            continue;
        }
        object->visible = object->context->cull() ? 1 : 0;
        object->context->update(camera);
    }
}

void RenderCore::renderObjectContexts() {
    if (!shaderDetail()) resetShadersIfFixed();
    drawBucket(1);
    drawBucket(0);
}

void RenderCore::drawBucket(std::int32_t pass) {
    PassLock lock;
    RenderListLock locked(renderList);
    const std::int32_t step = pass ? 1 : -1;
    for (RenderBucket& bucket : renderList.queues[pass ? 1 : 0].buckets) {
        const DrawItem* items = bucket.items.data();
        const std::int32_t count = std::int32_t(bucket.items.size());
        std::int32_t i = pass ? 0 : count - 1;
        while (i >= 0 && i < count) {
            const RenderObject* object = items[i].renderObject;
            if (object && object->context) {
                const std::int32_t next = object->context->render(items, count, i, step);
                // A context that does not move on is stepped past.
                i = (next - i) * step > 0 ? next : i + step;
            } else {
                i += step;
            }
        }
    }
}

void RenderCore::renderContextsShaderPass() {
    PassLock lock;
    if (!shaderDetail()) return;
    RenderListLock locked(renderList);
    for (RenderObject* object = renderList.head; object; object = object->next)
        if (object->visible && object->context) object->context->renderSecondPass();
}

void RenderCore::resetShadersIfFixed() {
    PassLock lock;
    if (shaderDetail()) return;
    if (!textureEnvironment().device()) return;
    stateCache().setVertexShader(nullptr);
    stateCache().setPixelShader(nullptr);
    stateCache().apply();
}

void RenderCore::broadcastToContexts(float a, float b, float c) {
    RenderListLock locked(renderList);
    for (RenderObject* object = renderList.head; object; object = object->next)
        if (object->context) object->context->renderRainMap(a, b, c);
}

bool RenderCore::reportContextReferences() {
    bool clean = true;
    for (RenderObject* object = renderList.head; object; object = object->next)
        if (object->context && !object->context->reportReferences()) clean = false;
    return clean;
}

void RenderCore::clearRenderLists() {
    quadBatch.resetCounters();
    // The items point into the contexts of the scene being left.
    renderList.clearQueues();
}

void RenderCore::registerDataManager(RenderDataManager role, ResourceManagerBase* manager) {
    const auto index = static_cast<std::size_t>(role);
    if (role != RenderDataManager::SceneData && index < std::size(dataManagers_)) dataManagers_[index] = manager;
}

ResourceManagerBase* RenderCore::dataManager(RenderDataManager role) const {
    if (role == RenderDataManager::SceneData) return sceneDataManager();
    const auto index = static_cast<std::size_t>(role);
    return index < std::size(dataManagers_) ? dataManagers_[index] : nullptr;
}

void RenderCore::resetResources() {
    textures.releaseUnused();
    for (RenderDataManager role : kEveryDataManager)
        if (ResourceManagerBase* manager = dataManager(role)) manager->releaseUnreferenced();
    // The cache holds no resource that may have gone.
    DXStateCache& cache = *stateCache_;
    cache.setDeclaration(DXStateCache::kNoDeclaration);
    cache.setStream(nullptr, 0);
    cache.setIndices(nullptr);
    cache.setVertexShader(nullptr);
    cache.setPixelShader(nullptr);
    ShaderPassState& pass = shaders_->pass;
    for (int stage = 0; stage < 16; ++stage) {
        pass.textureSet[stage] = 1;
        pass.textures[stage] = nullptr;
        pass.textureApplied[stage] = 0;
    }
    shaders_->applyPassState();
}

void RenderCore::applyShaderPass(bool force) { shaders_->prepareDraw(force); }

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
    // The materials' fog: the sky's horizon colour and fog range while the
    // camera's scene has a sky that publishes them; none without.
    ShaderFrameState& frame = shaders_->frame;
    if (const SkyEnvironment* environment = cameraSkyEnvironment()) {
        std::copy(environment->horizon, environment->horizon + 3, frame.fogColor);
        frame.fogStart = environment->fogStart;
        frame.fogEnd = environment->fogEnd;
    } else {
        std::fill(frame.fogColor, frame.fogColor + 3, 0.0f);
        frame.fogStart = frame.fogEnd = 0.0f;
    }
}

const SkyEnvironment* RenderCore::cameraSkyEnvironment() const {
    const Scene* scene = camera ? camera->owner() : nullptr;
    const Y3Sky* sky = scene ? scene->sky.get() : nullptr;
    return sky && sky->description && sky->description->records() ? &skyEnvironment() : nullptr;
}

void RenderCore::updateResources() {
    textures.updateCache(gameCore.clocks ? gameCore.clocks->worldTime.stepLength : 0.0);
    for (RenderDataManager role : kEveryDataManager)
        if (ResourceManagerBase* manager = dataManager(role)) manager->collectUnused();
}

void RenderCore::releaseDeviceData() {
    if (gameCore.debugFlags & DebugResourceLog) engineLog().info("Deallocate render core data");
    shaders_->releaseDeviceShaders();
    auto deallocate = [this](RenderDataManager role) {
        if (ResourceManagerBase* manager = dataManager(role)) manager->deallocateAll();
    };
    deallocate(RenderDataManager::Model);
    deallocate(RenderDataManager::Sprite);
    deallocate(RenderDataManager::Particle);
    streamDeclarations_->release();
    quadBatch.release();
    skyDome.releaseBuffers();
    rainData_->releaseBuffers();
    stillFrames_->data.releaseMedia();
    stillFrames_->flags &= ~0x6u;
    postPasses.release();
    textures.deallocateAll();
    deallocate(RenderDataManager::Movie);
    deviceObjectsAllocated_ = false;
}

void RenderCore::release() {
    // Still-frame items own particles pushed into the particle contexts:
    // they go before the contexts report what is still held.
    stillFrames_->data.releaseAll();
    reportContextReferences();
    releaseDeviceData();
    clearStillFrameSlots();
    shaders_->release();
    // The registered managers' records; the scene data go with the save
    // game that owns them.
    for (ResourceManagerBase* manager : dataManagers_)
        if (manager) manager->releaseAll();
    // After the models, whose lights place these records.
    lightData_->clear();
    builtinTextures.release();
    textures.releaseAll();
    fonts_->releaseAll();
    renderList.freeQueues();
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
    block.smoother.setStages(2, 1.0f, 0.5f);
}

void RenderCore::clearStillFrameSlots() {
    StillFrameSlotBlock& block = stillFrameSlots;
    block.smoother.release();
    block.first = 0;
    for (StillFrameSlotHolder*& slot : block.slots) {
        if (slot) stillFrames_->data.deleteObject(slot->item);
        slot = nullptr;
    }
}
