#include "app/SaveGame.h"

#include "game/WaypointDataManager.h"

#include <cstring>

#include "app/GameCore.h"
#include "app/GameGuards.h"
#include "app/ObjectFactories.h"
#include "control/PhysicsCore.h"
#include "foundation/CrashGuard.h"
#include "foundation/IniFile.h"
#include "game/WaypointDataManager.h"
#include "foundation/Log.h"
#include "foundation/TimeCore.h"
#include "foundation/TimerCore.h"
#include "animation/AnimationCore.h"
#include "game/QuestLogic.h"
#include "input/InputCore.h"
#include "render/RenderCore.h"
#include "render/RenderSettings.h"
#include "platform/Process.h"
#include "platform/Time.h"
#include "scene/ObjectRepository.h"
#include "scene/Scene.h"
#include "scene/SceneContext.h"
#include "scene/SceneDataManager.h"
#include "script/ScriptCall.h"
#include "script/ScriptEngine.h"
#include "script/VariablesCore.h"
#include "sound/SoundBank.h"
#include "sound/SoundCore.h"
#include "ui/StillFrameData.h"

namespace {

// Weight of each progress stage; they sum to 1.
constexpr float kStageWeights[kProgressStageCount] = {0.0f,   0.4f,  0.04f, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f,
                                                      0.005f, 0.005f, 0.05f, 0.0f, 0.0f, 0.0f, 0.5f};
// A rise below this does not change the stored progress.
constexpr float kMinimumRise = 0.001f;
// Redraws a second of the loading screen when the settings say nothing.
constexpr float kDefaultProgressMaxFps = 12.0f;

const char kSeparator[] =
    "-----------------------------------------------------------------------------------------------------------";
static_assert(sizeof(kSeparator) == 108, "the load banner is 107 characters");

void setEventsBlocked(bool blocked) {
    if (gameCore.script) gameCore.script->eventsBlocked = blocked ? 1 : 0;
}

void setSoundScene(Scene* scene) {
    if (gameCore.sound) gameCore.sound->setScene(scene);
}

void runPostedEvents() {
    if (gameCore.script && gameCore.script->context) gameCore.script->context->processEvents();
}

Scene* resolveScene(std::uint32_t handle) {
    if (!gameCore.objects || !handle) return nullptr;
    GameObject* object = gameCore.objects->getObject(GameObjectLink{handle});
    return object && object->getType() == ObjectScene ? static_cast<Scene*>(object) : nullptr;
}

// The redraw rate the render core read from its settings.
float progressMaxFps() {
    const float fps = renderSettings.progressMaxFps;
    return fps > 0.0f ? fps : kDefaultProgressMaxFps;
}

double loadingClockNow() { return gameCore.clocks ? gameCore.clocks->realTime.now(1.0) : 0.0; }

// Polls the loading lock with 5 ms sleeps, as every loader does.
class PolledLock {
public:
    explicit PolledLock(std::recursive_mutex& lock) : lock_(lock) {
        while (!lock_.try_lock()) platform::sleepMilliseconds(5);
    }
    ~PolledLock() { lock_.unlock(); }
    PolledLock(const PolledLock&) = delete;
    PolledLock& operator=(const PolledLock&) = delete;

private:
    std::recursive_mutex& lock_;
};

}  // namespace

SaveGame::SaveGame() : sceneData_(std::make_unique<SceneDataManager>()) {
    setLoadingProgress(this);
    setSceneDataManager(sceneData_.get());
    // A saved game's objects come back through the game core's factories.
    if (gameCore.objects) gameCore.objects->setLoadFactory(createObjectForLoading);
}

SaveGame::~SaveGame() {
    if (!scenes.empty() && !(gameCore.flags & 0x80000000u))
        engineLog().error(" Can't release game save core: Not all scene released");
    // Scenes left in the repository lose their resource records with this
    // object: they leave them now, so that none points to a freed record.
    for (std::uint32_t handle : scenes) {
        if (Scene* left = resolveScene(handle)) {
            if (left->onStack()) SceneContext::popInstance(left->resource, left);
            left->resource = nullptr;
        }
    }
    if (loadingProgress() == this) setLoadingProgress(nullptr);
    if (sceneDataManager() == sceneData_.get()) setSceneDataManager(nullptr);
}

float SaveGame::progressTotal(std::int32_t stage, float fraction) {
    if (stage < 0 || stage >= kProgressStageCount) return 0.0f;
    float total = 0.0f;
    for (std::int32_t i = 0; i < stage; ++i) total += kStageWeights[i];
    return total + fraction * kStageWeights[stage];
}

void SaveGame::raiseEvent(const std::string& handler, const char* missing) {
    if (handler.empty()) {
        engineLog().scriptError("%s", missing);
        return;
    }
    if (gameCore.script && gameCore.script->context)
        runScriptFunction(nullptr, *gameCore.script->context, handler.c_str());
}

void SaveGame::setProgress(std::int32_t stage, float fraction) {
    if (!(flags & kSaveGameProgressActive)) return;
    checkRedrawDue();
    bool rise = false;
    if (stage != kProgressRefreshStage) {
        const float total = progressTotal(stage, fraction);
        if (total - progress >= kMinimumRise) {
            progress = total;
            rise = true;
        }
    }
    PolledLock lock(loadingLock_);
    setEventsBlocked(false);
    if (rise && redrawDue) raiseEvent(onProgress, "Event [game.onProgress] NOT initialized");
    updateProgressScreen();
    setEventsBlocked(true);
}

void SaveGame::checkRedrawDue() {
    redrawDue = 0;
    const double now = loadingClockNow();
    if (now - lastRedrawTime > 1.0 / progressMaxFps()) {
        lastRedrawTime = now;
        redrawDue = 1;
    }
}

void SaveGame::updateProgressScreen() {
    PolledLock lock(loadingLock_);
    runGuardedCaught(kGuardProgressBar, [this] {
        TimeCore* clocks = gameCore.clocks;
        if (clocks) clocks->realTime.step(1.0);
        if (redrawDue) {
            if (clocks) {
                clocks->worldTime.step(1.0);
                clocks->worldTime2.step(1.0);
            }
            const CurrentTime sample(-1.0);
            if (gameCore.sound) gameCore.sound->updateListener(sample, 1);
            if (gameCore.render) gameCore.render->stillFrames().data.update(sample);
            // The one-layer frame of the still frames is drawn by the render
            // core once it has a device; headless there is nothing to draw.
        }
    });
}

void SaveGame::startProgress() {
    flags |= kSaveGameProgressActive;
    progress = -1.0f;
    setEventsBlocked(false);
    raiseEvent(onStartProgress, "Event [game.onStartProgress] not initialized");
    setEventsBlocked(true);
    lastRedrawTime = loadingClockNow();
    setProgress(0, 0.0f);
}

void SaveGame::finishProgress() {
    progress = -1.0f;
    loading = 0;
    if (Scene* current = currentScene()) {
        const CurrentTime sample(-1.0);
        current->lastUpdateTime = sample.game.time;
        current->lastWaypointRefresh = sample.game.time;
        current->waypointData->refreshLinkedModels(true, true);
        if (GameObject* physics = gameCore.objects ? gameCore.objects->getObject(current->physicsScene) : nullptr)
            physics->updatePhase1(CurrentTime::copyWithStep(sample, 0.01), 0);
    }
    setEventsBlocked(false);
    raiseEvent(onFinishProgress, "Event [game.onFinishProgress] not initialized");
    flags &= ~kSaveGameProgressActive;
}

void SaveGame::startReload() {
    progress = 0.0f;
    raiseEvent(onStartReload, "Event [game.onStartReload] NOT initialized");
}

void SaveGame::finishReload() { raiseEvent(onFinishReload, "Event [game.onFinishReload] NOT initialized"); }

Scene* SaveGame::currentScene() const {
    if (currentIndex < 0 || currentIndex >= static_cast<std::int32_t>(scenes.size())) return nullptr;
    return resolveScene(scenes[static_cast<std::size_t>(currentIndex)]);
}

std::int32_t SaveGame::findScene(const char* sceneName) const {
    if (!sceneName) return -1;
    for (std::size_t i = 0; i < scenes.size(); ++i) {
        const Scene* candidate = resolveScene(scenes[i]);
        if (candidate && std::strcmp(candidate->getName(), sceneName) == 0) return static_cast<std::int32_t>(i);
    }
    return -1;
}

Scene* SaveGame::createScene(Y3SceneDataInstance* record) { return SceneContext::createScene(record); }

void SaveGame::restorePrevious(std::int32_t previousIndex) {
    currentIndex = previousIndex;
    Scene* previous = currentScene();
    if (previous) previous->push();
    setSoundScene(previous);
}

void SaveGame::loadScene(const char* sceneName) {
    Log& log = engineLog();
    flags &= ~kSaveGameLoadSucceeded;
    if (!(flags & kSaveGameLoadAllowed))
        log.error("Load NOT enabled from this execution point (called from SCENE object event handler), use delayed "
                  "call instead)");
    runPostedEvents();
    setSoundScene(nullptr);
    setEventsBlocked(true);
    const std::int32_t previousIndex = currentIndex;
    loading = 1;

    Y3SceneDataInstance* record = sceneData_->get(sceneName ? sceneName : "test", true);
    scene = record->name;
    log.info("%s", kSeparator);
    log.info("Start to load scene [%s]", scene.c_str());
    log.flush();
    setSoundScene(nullptr);
    const std::int32_t index = findScene(scene.c_str());

    if (index == currentIndex && currentIndex >= 0) {
        setSoundScene(currentScene());
        loading = 0;
        setEventsBlocked(false);
        log.error("Can't load scene [%s]: Already loaded", scene.c_str());
        return;
    }
    if (Scene* current = currentScene(); current && index != currentIndex) {
        if (!current->pop(0)) {
            current->push();
            setSoundScene(current);
            loading = 0;
            setEventsBlocked(false);
            return;
        }
    }
    finalizeRenderScene();
    startProgress();

    if (index < 0) {
        Scene* created = createScene(record);
        if (!created) {
            restorePrevious(previousIndex);
            finishProgress();
            log.error("Can't create new scene [%s]", scene.c_str());
            setEventsBlocked(false);
            return;
        }
        scenes.push_back(created->id & kGameObjectHandleMask);
        currentIndex = static_cast<std::int32_t>(scenes.size()) - 1;
        if (!created->initialize(matrix34Identity())) {
            log.error("\r\n\r\n>>CRITICAL ERROR:\r\n\r\n Failed scene [%s] initialization", scene.c_str());
            // Roll back before the progress closes, so that its one finish
            // refreshes the scene that stays current, not the failed one.
            created->release();
            delete created;
            scenes.pop_back();
            restorePrevious(previousIndex);
            finishProgress();
            loading = 0;
            setEventsBlocked(false);
            return;
        }
    } else {
        currentIndex = index;
    }

    Scene* current = currentScene();
    if (!current) {
        restorePrevious(previousIndex);
        finishProgress();
        log.error("Scene not created.");
        loading = 0;
        setEventsBlocked(false);
        return;
    }
    scene = current->getName();
    if (!current->push()) {
        restorePrevious(previousIndex);
        loading = 0;
        setEventsBlocked(false);
        log.error("Fail push current game scene");
        finishProgress();
        return;
    }
    if (!restoreAfterLoad()) {
        setSoundScene(current);
        finishProgress();
        log.error(" Can't initialize game scene [%s]", scene.c_str());
        loading = 0;
        setEventsBlocked(false);
        return;
    }
    log.info("%s", kSeparator);
    log.info("Success load scene [%s]", scene.c_str());
    log.flush();
    setSoundScene(current);
    flags |= kSaveGameLoadSucceeded;
    loading = 0;
}

bool safeLoadScene(SaveGame& game, const char* sceneName) {
    return runGuardedCaught(kGuardLoadScene, [&] { game.loadScene(sceneName); });
}

bool SaveGame::loadSceneFromScript(const char* sceneName) {
    if (!(flags & kSaveGameLoadAllowed))
        return engineLog().error("Load NOT enabled from this script execution point (called from SCENE object event "
                                 "handler), use delayed call instead)");
    if (!safeLoadScene(*this, sceneName)) flags &= ~kSaveGameLoadSucceeded;
    if (!(flags & kSaveGameLoadSucceeded))
        return engineLog().error("Can't load scene [%s]", sceneName ? sceneName : "");
    return true;
}

bool SaveGame::finalizeRenderScene() {
    setSoundScene(nullptr);
    // Global sounds, built-in textures, sky, quad batch and rain buffers
    // belong to the sound and render cores; they release them with their
    // own data.
    if (gameCore.render) {
        gameCore.render->removeHDREffectFrames();
        gameCore.render->clearStillFrameSlots();
        gameCore.render->stillFrames().data.releaseAll();
    }
    runPostedEvents();
    if (gameCore.render) gameCore.render->clearRenderLists();
    engineLog().flush();
    return true;
}

void SaveGame::releaseUnreferencedData() {
    if (gameCore.render) gameCore.render->resetResources();
    if (gameCore.animation) {
        gameCore.animation->animations().releaseUnreferenced();
        gameCore.animation->morphs().releaseUnreferenced();
    }
    // The sound buffers of sounds no longer used are given back, and new
    // ones wait for the end of the load. The physics managers release their
    // unreferenced data here once they exist.
    if (gameCore.sound) gameCore.sound->bank->deallocateAll();
    engineLog().flush();
}

bool SaveGame::initializeLoadedData() {
    setEventsBlocked(false);
    if (onInitialize.empty())
        engineLog().scriptError("Event [game.onInitialize] not initialized");
    else if (gameCore.script && gameCore.script->context)
        runScriptFunction(nullptr, *gameCore.script->context, onInitialize.c_str());
    setEventsBlocked(true);
    // Each allocation is tried even when an earlier one failed. Textures,
    // movies and sound buffers are allocated here by their managers once
    // they exist; the texture library's pass closes its stage (14) even when
    // it holds no handler.
    bool result = true;
    if (gameCore.render && !gameCore.render->allocateDeviceData(1)) {
        engineLog().error("Fail to allocate render data");
        result = false;
    }
    setProgress(14, 1.0f);
    if (gameCore.sound && !gameCore.sound->bank->allocateAll()) {
        engineLog().error("Fail to allocate sound data");
        result = false;
    }
    if (gameCore.animation && !gameCore.animation->animations().allocateAll()) {
        engineLog().error("Fail to allocate animation data");
        result = false;
    }
    finishProgress();
    // A load frees much of what the last scene held, between blocks still
    // in use: those pages go back to the host while the player waits anyway.
    platform::returnFreeHeapPages();
    return result;
}

bool SaveGame::restoreAfterLoad() {
    releaseUnreferencedData();
    initializeLoadedData();
    if (Scene* current = currentScene()) {
        const CurrentTime sample(-1.0);
        if (!current->restoreSounds(sample)) {
            engineLog().error("Fail to restore scene sounds");
            engineLog().flush();
        }
    }
    engineLog().flush();
    return true;
}

bool SaveGame::afterGameLoad() {
    const CurrentTime sample(-1.0);
    if (gameCore.input) {
        gameCore.input->flushDevices(sample);
        gameCore.input->resetView(sample);
    }
    return restoreAfterLoad();
}

bool SaveGame::gameOver() {
    Log& log = engineLog();
    if (!(flags & kSaveGameLoadAllowed))
        log.error("Game over NOT  enabled from this execution point (called from SCENE object event handler), use "
                  "delayed call instead)");
    setSoundScene(nullptr);
    log.info("----------------- Finalize current game ----------------------");
    releaseScenes();
    log.message("Reset globals variables values");
    if (gameCore.variables && !gameCore.variables->globals().initialize()) log.info("Can't reset globals data");
    log.info("------------ Current game successfully finalized -------------");
    return true;
}

bool SaveGame::releaseScenes() {
    setSoundScene(nullptr);
    bool result = true;
    for (std::size_t i = 0; i < scenes.size(); ++i) {
        if (Scene* entry = resolveScene(scenes[i])) {
            entry->release();
            delete entry;
        } else {
            result = engineLog().error("Can't find scene object [%i]", static_cast<int>(i));
        }
        scenes[i] = 0;
    }
    scenes.clear();
    scenes.shrink_to_fit();
    scene.clear();
    model.clear();
    save_file.clear();
    currentIndex = -1;
    if (gameCore.input) {
        CurrentTime sample;
        if (TimeCore* clocks = gameCore.clocks) {
            sample.game = {clocks->gameTime.time, clocks->gameTime.stepLength, 0.0};
            sample.world = {clocks->worldTime.time, clocks->worldTime.stepLength, 0.0};
            sample.real = {clocks->realTime.time, clocks->realTime.stepLength, 0.0};
        }
        gameCore.input->flushDevices(sample);
    }
    // Global sounds stop with their events before the objects left go.
    if (gameCore.sound) gameCore.sound->releaseGlobalSounds();
    if (gameCore.objects) gameCore.objects->releaseUnreferenced();
    if (gameCore.questLogic) gameCore.questLogic->clear();
    if (gameCore.timers && gameCore.timers->core) gameCore.timers->core->deleteAll();
    if (gameCore.physics) gameCore.physics->modelData().releaseAll();
    return finalizeRenderScene() && result;
}
