#include "app/ThisMainLoop.h"

#include <algorithm>
#include <chrono>

#include "app/GameCore.h"
#include "app/SaveGame.h"
#include "app/ThisMainWindow.h"
#include "foundation/CrashGuard.h"
#include "foundation/IniFile.h"
#include "foundation/Log.h"
#include "game/WaypointDataManager.h"
#include "foundation/TimeCore.h"
#include "foundation/TimerCore.h"
#include "game/QuestLogic.h"
#include "input/InputCore.h"
#include "platform/Time.h"
#include "platform/Window.h"
#include "render/RenderCore.h"
#include "render/VideoCore.h"
#include "scene/Scene.h"
#include "scene/SceneSettings.h"
#include "script/ScriptEngine.h"
#include "sound/SoundCore.h"
#include "ui/StillFrameData.h"

namespace {

float g_minSimulationFps = 20.0f;

constexpr int kInactiveSleepMilliseconds = 500;

// Mode 6 (Stillframe) does not skip drawing when there is no scene.
bool isStillframe(std::int32_t modeIndex) { return modeIndex == kCameraModeStillframe; }

// Per game state: whether the models linked to waypoints are refreshed
// (states 0 to 23; 6 and 18 do not).
constexpr bool kRefreshesWaypointModels[24] = {true, true, true, true, true,  true, false, true,
                                               true, true, true, true, true,  true, true,  true,
                                               true, true, false, true, true, true, true, true};

Scene* frameScene() { return gameCore.game ? gameCore.game->currentScene() : nullptr; }

// Set while the message loop runs: a stop signal's close then reaches the
// script, which may ignore it once.
bool g_closeReachesScript = false;
bool g_stopLogged = false;

}  // namespace

void MainLoop::stopThread() {
    // Nothing creates a worker or its events; the handles are checked all the same.
    if (!stopEvent && !workerThread) return;
    workerThread = 0;
    stopEvent = frameDoneEvent = startedEvent = 0;
}

ThisMainLoop::ThisMainLoop() { mainThread = std::this_thread::get_id(); }

bool refreshesWaypointModels(std::int32_t modeIndex) {
    return modeIndex >= 0 && modeIndex < 24 && kRefreshesWaypointModels[modeIndex];
}
bool skipsDrawingWithoutScene(std::int32_t modeIndex) { return !isStillframe(modeIndex); }

void readSimulationSettings(IniFile& settings) {
    float fps = 20.0f;
    settings.getCategory("game").getVariable("min_simulation_fps").getFloat(fps, 20.0f);
    setMinSimulationFps(fps);
}

float minSimulationFps() { return g_minSimulationFps; }
void setMinSimulationFps(float fps) { g_minSimulationFps = fps < 1.0f ? 1.0f : fps; }

void ThisMainLoop::step() {
    auto note = [this](FrameStep step, std::int32_t detail = 0) {
        if (trace) trace(step, detail);
    };
    GameCore& core = gameCore;

    note(FrameStep::Settings);
    if (core.settings) core.settings->sync();

    note(FrameStep::Clocks);
    if (core.clocks) core.clocks->step();

    note(FrameStep::TimeSample);
    CurrentTime sample(-1.0);

    note(FrameStep::Input);
    if (core.input) core.input->update(sample);

    note(FrameStep::Timers);
    if (core.timers && core.timers->core) core.timers->core->update(sample);

    // Steps on the current scene look it up afresh: a script event of an
    // earlier step may have changed it. Each is skipped without a scene.
    note(FrameStep::SceneTimers);
    if (Scene* scene = frameScene()) scene->updateTimers(sample);

    note(FrameStep::Sound);
    if (core.sound) core.sound->updateListener(sample, 1);

    note(FrameStep::StillFrames);
    if (core.render) core.render->stillFrames().data.update(sample);

    note(FrameStep::WaypointRefresh);
    if (Scene* scene = frameScene()) {
        const double now = sample.game.time;
        // Where the state allows no refresh the clock is followed, so leaving
        // it refreshes nothing at once; a period of 0 refreshes every frame.
        if (!refreshesWaypointModels(core.cameraModeIndex()))
            scene->lastWaypointRefresh = now;
        else if (now - scene->lastWaypointRefresh >= sceneSettings.npcRandomizerUpdatePeriod) {
            scene->lastWaypointRefresh = now;
            scene->waypointData->refreshLinkedModels(false, false);
        }
    }

    // The scene's once-a-frame update (phase 3: teleport points, sky,
    // triggers). Phase 2 belongs to the render core's scene pass, which runs
    // it once for each frame it draws.
    note(FrameStep::SceneUpdate);
    if (Scene* scene = frameScene()) scene->updatePhase3(sample, 0);

    // Fixed-step simulation: no sub-step is longer than 1 / min_simulation_fps;
    // each one runs the scene's phases 0 (schedules, a share of the objects)
    // and 1 (cameras, deletions).
    CurrentTime subStep = sample;
    subStep.limitStep(simulationStepLimit(g_minSimulationFps), 1.0);
    std::int32_t subStepIndex = 0;
    do {
        note(FrameStep::Simulation, subStepIndex++);
        if (Scene* scene = frameScene()) {
            scene->updatePhase0(subStep, 0);
            scene->updatePhase1(subStep, 0);
        }
    } while (subStep.nextSubStep());

    note(FrameStep::RenderResources);
    if (core.render) core.render->updateResources();

    const bool hasScene = frameScene() != nullptr;
    std::int32_t drawn = 0;
    if (hasScene || !skipsDrawingWithoutScene(core.cameraModeIndex())) {
        drawn = 1;
        // With Direct3D the render core checks the device (re-creating a
        // lost one) and draws; a drawn frame is presented.
        if (core.video && core.video->direct3d() && core.render) {
            core.render->frameMode = core.video->activeVideoSetup().windowMode ? 1 : 0;
            core.render->postProcessing = core.video->postprocessing ? 1 : 0;
            core.render->camera = hasScene ? frameScene()->camera() : nullptr;
            if (core.render->mainLoop() && core.video->videoDevice.presentScene()) drawn = 2;
        }
    }
    note(FrameStep::Drawing, drawn);

    note(FrameStep::Quests);
    if (core.questLogic)
        core.questLogic->step((core.questLogic->flags & kQuestLogicGlobal) != 0);
}

void ThisMainLoop::releaseRenderData() {
    if (!gameCore.video || !gameCore.video->hasDevice()) return;
    if (gameCore.render) gameCore.render->releaseDeviceData();
    gameCore.video->videoDevice.releaseDevice();
}

FramePacer::Clock::time_point FramePacer::schedule(Clock::time_point now, double interval) {
    if (!(interval > 0.0)) {
        started_ = false;
        return now;
    }
    const auto step = std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(interval));
    if (started_ && now < next_) {
        const Clock::time_point until = next_;
        next_ += step;
        return until;
    }
    // A frame that comes late, but by less than an interval, keeps the
    // schedule: the next one is due where it would have been, so that the
    // frames that take a little longer than the interval now and then (a
    // busy machine, a slow present) are made up by the quicker ones and the
    // rate holds. Later than that the schedule starts anew, without a burst
    // of frames to catch up.
    if (started_ && now >= next_ && now < next_ + step) {
        next_ += step;
        return now;
    }
    next_ = now + step;
    started_ = true;
    return now;
}

void FramePacer::wait(double interval) {
    const Clock::time_point now = Clock::now();
    const Clock::time_point until = schedule(now, interval);
    if (until > now) std::this_thread::sleep_until(until);
}

double presentationInterval() {
    VideoCore* video = gameCore.video;
    const std::int32_t vSync = video ? video->activeVideoSetup().vSync : VideoSetup{}.vSync;
    if (vSync == VideoSyncNone) return 0.0;
    // "two" .. "four" wait as many refresh periods.
    const std::int32_t periods = std::clamp(vSync - VideoSyncOne + 1, 1, 4);
    const std::int32_t rate = video ? video->displayRefreshRate() : 60;
    return periods / static_cast<double>(rate);
}

bool stopSignalEndsGame() {
    const int signals = platform::stopSignalCount();
    if (signals < (g_closeReachesScript ? 2 : 1)) return false;
    if (!g_stopLogged) {
        g_stopLogged = true;
        engineLog().info("Stop signal received %i time(s): the game ends", signals);
    }
    return true;
}

void messageLoop(ThisMainLoop& loop) {
    CrashGuard gameLoopGuard(kGuardGameLoop);
    GameCore& core = gameCore;
    // A stop signal that came before the loop found no script to take it.
    if (core.runState < 0 && stopSignalEndsGame()) core.runState = kRunStateStopSignal;
    g_closeReachesScript = true;
    FramePacer pacer;
    while (core.runState < 0) {
        if (stopSignalEndsGame()) {
            core.runState = kRunStateStopSignal;
            break;
        }
        ThisMainWindow* window = core.mainWindow;
        platform::WindowMessage message;
        if (window && window->window && window->window->poll(message)) {
            window->handleMessage(message);
            continue;
        }
        const bool active = !window || window->active;
        if (!active) {
            platform::sleepMilliseconds(kInactiveSleepMilliseconds);
            continue;
        }
        CrashGuard frameGuard(kGuardMainLoop);
        if (!loop.workerThread) loop.preStep();
        loop.step();
        if (core.script && core.script->context) core.script->context->processEvents();
        pacer.wait(presentationInterval());
    }
    g_closeReachesScript = false;
}
