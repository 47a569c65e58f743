// The message loop and the frame step, run on a game core that holds only
// the members each test installs.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <iterator>
#include <chrono>
#include <thread>
#include <vector>

#include "app/GameCore.h"
#include "app/GameSetup.h"
#include "app/SceneLoadFixture.h"
#include "app/ThisMainLoop.h"
#include "app/ThisMainWindow.h"
#include "foundation/AppPaths.h"
#include "foundation/IniFile.h"
#include "foundation/Log.h"
#include "foundation/TimeCore.h"
#include "platform/Time.h"
#include "platform/Window.h"
#include "platform/d3d9/D3D9.h"
#include "render/ProcScreenShot.h"
#include "render/RenderCore.h"
#include "render/RenderManagerSupport.h"
#include "render/VideoCore.h"
#include "resources/PackageDatabase.h"
#include "scene/CameraCore.h"
#include "scene/CameraFixture.h"
#include "scene/Scene.h"
#include "scene/SceneSettings.h"
#include "script/ScriptEngine.h"
#include "textures/DdsWriter.h"
#include "ui/StillFrameData.h"

namespace {

std::atomic<std::int64_t> g_counter{0};
std::int64_t manualCounter() { return g_counter.load(); }

// A game core with a log, clocks driven by a manual counter (microseconds)
// and settings; the record is restored afterwards.
class FrameCore {
public:
    FrameCore() : saved_(gameCore) {
        gameCore = GameCore{};
        g_counter = 1;
        platform::setPerformanceCounterSource(&manualCounter, 1000000);
        gameCore.log = new Log;
        gameCore.clocks = new TimeCore;
        gameCore.settings = new IniFile;
        gameCore.settings->savePending = false;
        setMinSimulationFps(20.0f);
    }
    ~FrameCore() {
        delete gameCore.mainWindow;
        delete gameCore.video;
        delete gameCore.script;
        delete gameCore.settings;
        delete gameCore.clocks;
        delete gameCore.log;
        platform::setPerformanceCounterSource(nullptr, 0);
        setMinSimulationFps(20.0f);
        gameCore = saved_;
    }
    FrameCore(const FrameCore&) = delete;
    FrameCore& operator=(const FrameCore&) = delete;

    void installHeadlessWindow() {
        gameCore.mainWindow = new ThisMainWindow;
        gameCore.mainWindow->window = platform::createHeadlessWindow();
        gameCore.mainWindow->window->create("test", 0, 0, 640, 480, false);
    }

private:
    GameCore saved_;
};

struct Recorded {
    FrameStep step;
    std::int32_t detail;
};

std::vector<Recorded> runFrame(ThisMainLoop& loop, double seconds) {
    std::vector<Recorded> steps;
    loop.trace = [&steps](FrameStep step, std::int32_t detail) { steps.push_back({step, detail}); };
    g_counter += static_cast<std::int64_t>(seconds * 1000000.0);
    loop.step();
    loop.trace = nullptr;
    return steps;
}

std::int32_t countOf(const std::vector<Recorded>& steps, FrameStep step) {
    std::int32_t n = 0;
    for (const Recorded& r : steps) n += r.step == step;
    return n;
}

TEST(ThisMainLoop, FrameRunsEveryStepInOrderWithFixedSubSteps) {
    FrameCore core;
    ThisMainLoop loop;
    runFrame(loop, 0.0);  // the first frame after a start has no length
    const std::vector<Recorded> steps = runFrame(loop, 0.13);
    std::vector<FrameStep> order;
    for (const Recorded& r : steps) order.push_back(r.step);
    const std::vector<FrameStep> expected = {
        FrameStep::Settings,        FrameStep::Clocks,     FrameStep::TimeSample,     FrameStep::Input,
        FrameStep::Timers,          FrameStep::SceneTimers, FrameStep::Sound,         FrameStep::StillFrames,
        FrameStep::WaypointRefresh, FrameStep::SceneUpdate, FrameStep::Simulation,    FrameStep::Simulation,
        FrameStep::Simulation,      FrameStep::RenderResources, FrameStep::Drawing,   FrameStep::Quests};
    EXPECT_EQ(order, expected);
    EXPECT_NEAR(gameCore.clocks->gameTime.time, 0.13, 1e-6);
}

TEST(ThisMainLoop, SubStepsFollowTheMinimumSimulationRate) {
    struct Case {
        const char* value;  // "min_simulation_fps", null: no key
        float fps;
        double frame;
        std::int32_t subSteps;
    };
    const Case cases[] = {
        {nullptr, 20.0f, 0.13, 3},  // default: 0.05 s steps
        {"10", 10.0f, 0.13, 2},
        {"0.5", 1.0f, 1.3, 2},  // raised to 1: steps of at most one second
        {"20", 20.0f, 0.05, 1},
        {"20", 20.0f, 0.0, 1},
    };
    for (const Case& c : cases) {
        FrameCore core;
        if (c.value) gameCore.settings->getCategory("game").getVariable("min_simulation_fps").setString(c.value);
        readSimulationSettings(*gameCore.settings);
        EXPECT_FLOAT_EQ(minSimulationFps(), c.fps) << (c.value ? c.value : "none");
        EXPECT_NE(gameCore.settings->getCategory("game").findVariable("min_simulation_fps"), nullptr);
        ThisMainLoop loop;
        runFrame(loop, 0.0);
        EXPECT_EQ(countOf(runFrame(loop, c.frame), FrameStep::Simulation), c.subSteps)
            << (c.value ? c.value : "none") << " frame " << c.frame;
    }
}

TEST(ThisMainLoop, WithoutSceneOnlyTheStillFrameModeDrawsAndNothingPresentsWithoutDevice) {
    for (std::int32_t mode = 0; mode < 12; ++mode) {
        FrameCore core;
        gameCore.cameraMode = mode;
        ThisMainLoop loop;
        const std::vector<Recorded> steps = runFrame(loop, 0.02);
        std::int32_t drawn = -1;
        for (const Recorded& r : steps)
            if (r.step == FrameStep::Drawing) drawn = r.detail;
        // Drawn in mode 6 only; never presented, as there is no device.
        EXPECT_EQ(drawn, mode == 6 ? 1 : 0) << "mode " << mode;
        EXPECT_EQ(refreshesWaypointModels(mode), mode != 6);
    }
    FrameCore core;
    gameCore.cameraMode = 6;
    gameCore.flags |= kGameFlagCameraOverride;  // the tables then use mode 11
    ThisMainLoop loop;
    for (const Recorded& r : runFrame(loop, 0.02)) {
        if (r.step == FrameStep::Drawing) {
            EXPECT_EQ(r.detail, 0);
        }
    }
}

// A video core with a device of the null backend and a render core, in the
// game core; the caller deletes them.
void startNullDevice() {
    gameCore.video = new VideoCore;
    gameCore.render = new RenderCore;
    gameCore.video->refreshRate = 100;
    gameCore.video->detectSystem();  // the null backend
    ASSERT_TRUE(gameCore.video->initialize());
    ASSERT_TRUE(gameCore.video->videoDevice.initialize());
}

TEST(ThisMainLoop, ADeviceDrawsAndPresentsTheFrame) {
    FrameCore core;
    gameCore.cameraMode = 6;  // drawn without a scene
    ASSERT_NO_FATAL_FAILURE(startNullDevice());
    ThisMainLoop loop;
    std::int32_t drawn = -1;
    for (int frame = 0; frame < 2; ++frame)
        for (const Recorded& r : runFrame(loop, 0.02))
            if (r.step == FrameStep::Drawing) drawn = r.detail;
    EXPECT_EQ(drawn, 2);
    EXPECT_EQ(platform::d3d9::statistics(gameCore.video->device())->presents, 2u);

    // The loop paces frames by the display's interval.
    gameCore.video->activeVideoSetup().vSync = VideoSyncOne;
    EXPECT_DOUBLE_EQ(presentationInterval(), 0.01);
    gameCore.video->activeVideoSetup().vSync = VideoSyncNone;
    EXPECT_DOUBLE_EQ(presentationInterval(), 0.0);

    loop.releaseRenderData();
    EXPECT_FALSE(gameCore.video->hasDevice());
    delete gameCore.render;
}

// Frames come 60 a second at a 60 Hz interval whatever they take of it: 5 ms,
// or 0.9 of the interval and a little less or more (a present that waits
// for something other than the display, or nearly the whole interval): an
// early frame, however little early, waits for its time, and a frame just
// late is taken at once.
TEST(ThisMainLoop, FramePacerHoldsTheDisplayRate) {
    using Clock = FramePacer::Clock;
    const double interval = 1.0 / 60.0;
    const auto seconds = [](double s) {
        return std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(s));
    };
    for (const double cost : {0.005, interval * 0.9, interval * 0.99, interval + 0.0005}) {
        FramePacer pacer;
        Clock::time_point now{};
        const Clock::time_point start = now;
        for (int frame = 0; frame < 60; ++frame) {
            now = std::max(now, pacer.schedule(now, interval));
            now += seconds(cost);
        }
        // The 61st frame starts a second after the first (a frame later than
        // its interval makes the schedule slip by its lateness only).
        now = std::max(now, pacer.schedule(now, interval));
        EXPECT_NEAR(std::chrono::duration<double>(now - start).count(), std::max(60 * interval, 60 * cost), 1e-6)
            << cost;
    }
    // Without a device (interval 0) nothing waits.
    FramePacer pacer;
    const Clock::time_point now{};
    EXPECT_EQ(pacer.schedule(now, 0.0), now);
    EXPECT_EQ(pacer.schedule(now, 0.0), now);
}

// On a display whose swap does not wait, frames that now and then take
// longer than the interval (a busy machine) are made up by the quicker
// ones: 60 frames still take a second. A stall longer than an interval
// starts the schedule anew: the frames after it come an interval apart
// instead of in a burst.
TEST(ThisMainLoop, FramePacerMakesUpLateFramesAndRestartsAfterAStall) {
    using Clock = FramePacer::Clock;
    const double interval = 1.0 / 60.0;
    const auto seconds = [](double s) {
        return std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(s));
    };
    FramePacer pacer;
    Clock::time_point now{};
    const Clock::time_point start = now;
    const double costs[] = {0.005, 0.020, 0.005, 0.019, 0.012};  // every other frame late
    for (int frame = 0; frame < 60; ++frame) {
        now = std::max(now, pacer.schedule(now, interval));
        now += seconds(costs[frame % 5]);
    }
    now = std::max(now, pacer.schedule(now, interval));  // the 61st frame starts a second after the first
    EXPECT_NEAR(std::chrono::duration<double>(now - start).count(), 60 * interval, 1e-6);

    now += seconds(0.1);  // a stall of six intervals
    EXPECT_EQ(pacer.schedule(now, interval), now);
    const Clock::time_point resumed = now;
    for (int frame = 0; frame < 3; ++frame) {
        now += seconds(0.002);
        now = std::max(now, pacer.schedule(now, interval));
    }
    EXPECT_NEAR(std::chrono::duration<double>(now - resumed).count(), 3 * interval, 1e-6);
}

TEST(ThisMainLoop, WaypointRefreshFollowsTheClockInStatesSixAndEighteenAndScenesDraw) {
    for (std::int32_t mode = -1; mode < 26; ++mode)
        EXPECT_EQ(refreshesWaypointModels(mode), mode >= 0 && mode < 24 && mode != 6 && mode != 18) << mode;
    for (const std::int32_t still : {6, 18}) {
        SCOPED_TRACE(still);
        g_counter = 1;
        platform::setPerformanceCounterSource(&manualCounter, 1000000);
        {
            testing_support::SceneLoadFixture f;
            f.game->loadScene(nullptr);
            Scene* scene = f.game->currentScene();
            ASSERT_NE(scene, nullptr);
            sceneSettings.npcRandomizerUpdatePeriod = 2.0f;
            ThisMainLoop loop;
            runFrame(loop, 0.0);
            gameCore.cameraMode = still;
            runFrame(loop, 0.5);
            const double afterStill = gameCore.clocks->gameTime.time;
            EXPECT_DOUBLE_EQ(scene->lastWaypointRefresh, afterStill);
            gameCore.cameraMode = 1;
            std::int32_t drawn = -1;
            for (const Recorded& r : runFrame(loop, 0.5))
                if (r.step == FrameStep::Drawing) drawn = r.detail;
            EXPECT_DOUBLE_EQ(scene->lastWaypointRefresh, afterStill);  // not at once on leaving the state
            EXPECT_EQ(drawn, 1);  // a scene is drawn in every mode (no device: not presented)
            runFrame(loop, 1.5);
            EXPECT_DOUBLE_EQ(scene->lastWaypointRefresh, gameCore.clocks->gameTime.time);  // 2 s passed: due
        }
        platform::setPerformanceCounterSource(nullptr, 0);
    }
}

TEST(MessageLoop, CloseBecomesAScriptEventBeforeAnyFrame) {
    FrameCore core;
    core.installHeadlessWindow();
    gameCore.script = new ScriptEngine;
    ThisMainLoop loop;
    std::int32_t frames = 0;
    loop.trace = [&frames](FrameStep step, std::int32_t) {
        if (step == FrameStep::Quests && ++frames == 2) gameCore.runState = 2;
    };
    platform::postWindowClose();
    messageLoop(loop);
    EXPECT_EQ(frames, 2);
    EXPECT_TRUE(gameCore.log->contains("Windows message close: Add script event game_close_window();"));
}

TEST(MessageLoop, InactiveWindowRunsNoFrameAndSleeps) {
    FrameCore core;
    core.installHeadlessWindow();
    gameCore.mainWindow->active = 0;
    ThisMainLoop loop;
    std::int32_t steps = 0;
    loop.trace = [&steps](FrameStep, std::int32_t) { ++steps; };
    const auto start = std::chrono::steady_clock::now();
    std::thread stopper([] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        gameCore.runState = 2;
    });
    messageLoop(loop);
    stopper.join();
    EXPECT_EQ(steps, 0);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(450));
}

TEST(MessageLoop, FramesArePacedAsTheVSyncPresentationWould) {
    FrameCore core;
    core.installHeadlessWindow();
    gameCore.video = new VideoCore;
    gameCore.video->refreshRate = 100;
    const std::pair<std::int32_t, double> intervals[] = {
        {VideoSyncNone, 0.0}, {VideoSyncDefault, 0.01}, {VideoSyncOne, 0.01}, {3, 0.02}, {5, 0.04},
    };
    for (const auto& [vSync, interval] : intervals) {
        gameCore.video->activeVideoSetup().vSync = vSync;
        EXPECT_DOUBLE_EQ(presentationInterval(), interval) << vSync;
    }

    // "two" at 100 Hz: eleven frames, no device to wait for the display,
    // still take ten intervals of 20 ms.
    gameCore.video->activeVideoSetup().vSync = 3;
    ThisMainLoop loop;
    std::int32_t frames = 0;
    loop.trace = [&frames](FrameStep step, std::int32_t) {
        if (step == FrameStep::Quests && ++frames == 11) gameCore.runState = 2;
    };
    const auto start = std::chrono::steady_clock::now();
    messageLoop(loop);
    EXPECT_EQ(frames, 11);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(195));
}

TEST(MainWindow, ActivationMessagesSetTheActiveFlagAndTitlesHaveDefaults) {
    FrameCore core;
    core.installHeadlessWindow();
    ThisMainWindow& window = *gameCore.mainWindow;
    platform::WindowMessage message;
    message.kind = platform::WindowMessageKind::Activate;
    message.active = false;
    window.handleMessage(message);
    EXPECT_EQ(window.active, 0);
    message.active = true;
    window.handleMessage(message);
    EXPECT_EQ(window.active, 1);
    // No locales tree: the defaults, and the missing tree is reported.
    EXPECT_TRUE(window.open(0));
    EXPECT_EQ(window.title, u"Game");
    EXPECT_EQ(window.exitText, u"Exit");
    EXPECT_TRUE(gameCore.log->contains("Can't find script variable [locales.system.SF_ui_title]"));
}

TEST(MainWindow, ASizeTheDisplayCannotGiveFallsBackToTheSafeVideoSettings) {
    // Only a host window refuses a size; the headless one takes any.
    if (platform::createWindow()->backend() != platform::WindowBackend::Sdl) GTEST_SKIP();
    FrameCore core;
    gameCore.video = new VideoCore;
    gameCore.mainWindow = new ThisMainWindow;
    VideoSetup& user = gameCore.video->setups[1];
    user.windowMode = 0;
    user.res_width = 20000;
    user.res_height = 20000;
    gameCore.mainWindow->fullScreen = 1;
    ASSERT_TRUE(createMainWindow());
    EXPECT_EQ(gameCore.video->activeSetup, 0);
    EXPECT_TRUE(gameCore.log->contains("Window Creation Error."));
    EXPECT_TRUE(gameCore.log->contains("Can't create the main window with the video settings 20000x20000 (full "
                                       "screen): using the safe video settings 640x480 (full screen)"));
    const platform::WindowRect r = gameCore.mainWindow->window->rect();
    EXPECT_EQ(r.right - r.left, 640);
    destroyMainWindow();

    // The safe settings themselves failing leave nothing else to try.
    gameCore.video->setups[0].res_width = 20000;
    EXPECT_FALSE(createMainWindow());
}

// The frame's resource step runs the collectors of the managers registered
// with the render core: a record without users goes within a few seconds,
// one in use stays.
TEST(ThisMainLoop, TheResourceStepCollectsWhatNothingUses) {
    FrameCore core;
    render_test::CountingManager meshes;
    std::unique_ptr<RenderCore> render(gameCore.render = new RenderCore);
    render_test::ScopedRenderManager registered(*render, RenderDataManager::Model, meshes);
    render_test::CountingUser user;
    render_test::CountingRecord* used = meshes.allocated("boat", &user);
    render_test::CountingRecord* unused = meshes.allocated("crate");
    ASSERT_TRUE(used && unused);
    ThisMainLoop loop;
    runFrame(loop, 0.0);
    for (int frame = 0; frame < 8; ++frame) runFrame(loop, 0.6);
    EXPECT_FALSE(unused->has(kResourceAllocated));
    EXPECT_FALSE(unused->has(kResourceHeaderLoaded));
    EXPECT_TRUE(used->has(kResourceAllocated));
    ASSERT_TRUE(ResourceManagerBase::pop(used, &user));
}

// A scene object that counts its update phases.
class PhaseCounter : public testing_support::PoseObject {
public:
    PhaseCounter() : PoseObject("phase counter") {}
    bool updatePhase0(const CurrentTime&, std::int32_t) override { return ++calls[0], true; }
    bool updatePhase1(const CurrentTime&, std::int32_t) override { return ++calls[1], true; }
    bool updatePhase2(const CurrentTime&, std::int32_t) override { return ++calls[2], true; }
    bool updatePhase3(const CurrentTime&, std::int32_t) override { return ++calls[3], true; }
    int calls[4] = {};
};

// A drawn frame of three simulation sub-steps: phases 0 and 1 run in each
// sub-step, phase 3 once in the frame step, phase 2 once in the render
// core's scene pass.
TEST(ThisMainLoop, EachSceneUpdatePhaseRunsWhereItsFrameSays) {
    g_counter = 1;
    platform::setPerformanceCounterSource(&manualCounter, 1000000);
    {
        testing_support::SceneLoadFixture f;
        ASSERT_NO_FATAL_FAILURE(startNullDevice());
        f.game->loadScene(nullptr);
        Scene* scene = f.game->currentScene();
        ASSERT_NE(scene, nullptr);
        ASSERT_NE(scene->camera(), nullptr);
        // The repository deletes it with the scenes' objects.
        auto* counter = new PhaseCounter;
        scene->models.push_back(GameObjectLink::fromObject(counter));
        ThisMainLoop loop;
        runFrame(loop, 0.0);
        int start[4];
        std::copy(std::begin(counter->calls), std::end(counter->calls), start);
        std::int32_t drawn = -1;
        for (const Recorded& r : runFrame(loop, 0.13))
            if (r.step == FrameStep::Drawing) drawn = r.detail;
        EXPECT_EQ(drawn, 2);
        EXPECT_EQ(counter->calls[0] - start[0], 3);
        EXPECT_EQ(counter->calls[1] - start[1], 3);
        EXPECT_EQ(counter->calls[2] - start[2], 1);
        EXPECT_EQ(counter->calls[3] - start[3], 1);
        // A save's screenshot draws the scene again, without its hook.
        auto* shot = dynamic_cast<ProcScreenShotExport*>(
            gameCore.render->textures.findOrCreate("procsavescreenshot", 6, true));
        ASSERT_NE(shot, nullptr);
        TgaImage image;
        EXPECT_TRUE(shot->renderSaveScreenShot(image, 32, 24));
        EXPECT_TRUE(gameCore.log->contains("Generate screen shot for save game"));
        EXPECT_EQ(counter->calls[2] - start[2], 1);
        scene->models.pop_back();
        // The scenes made anew before the next frame, as a restore does:
        // the cameras the render core last drew are freed, and a save in
        // the same script step draws the new scene's camera.
        f.game->releaseScenes();
        f.game->loadScene(nullptr);
        Scene* restored = f.game->currentScene();
        ASSERT_NE(restored, nullptr);
        EXPECT_TRUE(shot->renderSaveScreenShot(image, 32, 24));
        EXPECT_EQ(gameCore.render->camera, restored->camera());
        f.game->releaseScenes();
        loop.releaseRenderData();
        delete gameCore.render;
        delete gameCore.video;
        gameCore.render = nullptr;
        gameCore.video = nullptr;
    }
    platform::setPerformanceCounterSource(nullptr, 0);
}

}  // namespace

// The demo's splash at start-up, then frames without a scene, then with the
// demo scene's stone still frame, on the GL backend: each is read back after
// its present.
TEST(ThisMainLoop, TheDemoSplashClearedFramesAndTheStoneStillFrameOnTheGLBackend) {
    FrameCore core;
    platform::d3d9::Environment gl;
    gl.backend = platform::d3d9::BackendKind::GL;
    platform::d3d9::setEnvironment(gl);
    gameCore.cameraMode = 6;  // drawn without a scene
    gameCore.settings->getCategory("game").getVariable("splash").setString(DEMO_FOLDER "/bin/splash_screen.dds");
    gameCore.video = new VideoCore;
    gameCore.render = new RenderCore;
    gameCore.video->desktopWidth = 1024;
    gameCore.video->desktopHeight = 768;
    gameCore.video->refreshRate = 100;
    gameCore.video->detectSystem();
    ASSERT_TRUE(gameCore.video->initialize());
    ASSERT_TRUE(gameCore.video->videoDevice.initialize());
    ASSERT_TRUE(gameCore.render->allocate_device());
    gameCore.render->textures.allocated = true;

    // The centre of the upper half, of the screen and of the lower half, as
    // RGB.
    auto sample = [](std::uint32_t& upper, std::uint32_t& centre, std::uint32_t& lower) {
        IDirect3DSurface9* back = nullptr;
        gameCore.video->device()->GetBackBuffer(0, 0, D3DBACKBUFFER_TYPE_MONO, &back);
        ASSERT_NE(back, nullptr);
        std::vector<std::uint8_t> bytes;
        D3DSURFACE_DESC desc{};
        ASSERT_TRUE(platform::d3d9::readSurface(back, bytes, desc));
        back->Release();
        auto rgb = [&](UINT y) {
            const std::uint8_t* p = bytes.data() + (std::size_t(y) * desc.Width + desc.Width / 2) * 4;
            return std::uint32_t(p[2]) << 16 | std::uint32_t(p[1]) << 8 | p[0];
        };
        upper = rgb(desc.Height / 4);
        centre = rgb(desc.Height / 2);
        lower = rgb(desc.Height * 3 / 4);
    };
    ASSERT_TRUE(gameCore.render->renderSplash());
    std::uint32_t upper = 0, centre = 0, lower = 0;
    sample(upper, centre, lower);
    EXPECT_EQ(upper, texture_tools::kSplashTop);
    EXPECT_EQ(lower, texture_tools::kSplashBottom);

    ThisMainLoop loop;
    std::int32_t drawn = -1;
    for (const Recorded& r : runFrame(loop, 0.02))
        if (r.step == FrameStep::Drawing) drawn = r.detail;
    EXPECT_EQ(drawn, 2);
    sample(upper, centre, lower);
    const std::uint32_t clear = StillFrameSlotBlock::kDefaultBackground & 0xFFFFFF;
    EXPECT_EQ(upper, clear);
    EXPECT_EQ(lower, clear);

    // The demo scene's still frame: the stone texture of the demo's
    // textures.pak on a quad in the middle; around it the clear colour.
    AppPaths paths;
    paths.setPath(PathLanguage, "en");
    paths.setPath(PathDataRootInput, DEMO_FOLDER);
    PackageDatabase packages;
    gameCore.paths = &paths;
    gameCore.packages = &packages;
    ASSERT_TRUE(packages.build());
    StillFrameScriptDataItem* stone = gameCore.render->stillFrames().data.create("demo_stone");
    ASSERT_NE(stone, nullptr);
    ASSERT_TRUE(stone->image.setSource(*stone, "stone", 0));
    stone->x = 384.0f;
    stone->y = 256.0f;
    stone->width = 256.0f;
    stone->height = 256.0f;
    drawn = -1;
    for (const Recorded& r : runFrame(loop, 0.02))
        if (r.step == FrameStep::Drawing) drawn = r.detail;
    EXPECT_EQ(drawn, 2);
    sample(upper, centre, lower);
    EXPECT_EQ(upper, clear);
    EXPECT_EQ(lower, clear);
    // The stone's browns: red over green over blue.
    EXPECT_GT(centre >> 16, (centre >> 8) & 0xFF);
    EXPECT_GT((centre >> 8) & 0xFF, centre & 0xFF);
    gameCore.packages = nullptr;
    gameCore.paths = nullptr;

    loop.releaseRenderData();
    gameCore.render->release();
    delete gameCore.render;
    platform::d3d9::setEnvironment({});
}

// The game's Direct3D on this host's GL, started in the game's order with
// the player's setup: where the GL stack is a software rasteriser the
// adapter is a limited card and the defaults leave post-processing off, on
// hardware they turn bloom on; "pp_bloom = yes" in setup.ini turns it on on
// either, and the frame then draws the bloom over the demo's still frame.
TEST(ThisMainLoop, BloomFollowsTheHostsDefaultsAndThePlayersSetup) {
    const platform::d3d9::GLStack& gl = platform::d3d9::hostGLStack();
    if (!gl.available) GTEST_SKIP() << "no GL on this host";
    for (const bool playerBloom : {false, true}) {
        SCOPED_TRACE(playerBloom ? "pp_bloom = yes" : "no video settings");
        FrameCore core;
        VideoCore::installGamePlatform();
        gameCore.settings->getCategory("game").getVariable("splash").setString(DEMO_FOLDER "/bin/splash_screen.dds");
        if (playerBloom) gameCore.settings->getCategory("video").getVariable("pp_bloom").setString("yes");
        AppPaths paths;
        paths.setPath(PathLanguage, "en");
        paths.setPath(PathDataRootInput, DEMO_FOLDER);
        paths.setPath(PathExeFolderInput, DEMO_FOLDER "/bin");
        PackageDatabase packages;
        gameCore.paths = &paths;
        gameCore.packages = &packages;
        ASSERT_TRUE(packages.build());
        GameSetup setup;
        gameCore.setup = &setup;
        gameCore.video = new VideoCore;
        gameCore.render = new RenderCore;
        gameCore.video->desktopWidth = 1024;
        gameCore.video->desktopHeight = 768;
        gameCore.video->refreshRate = 60;
        ASSERT_TRUE(gameCore.video->initialize());
        setup.load(true);
        ASSERT_TRUE(gameCore.render->initialize());
        ASSERT_TRUE(gameCore.render->allocate_device());
        ASSERT_TRUE(gameCore.render->allocateDeviceData(1));

        const VideoSetup& mode = gameCore.video->activeVideoSetup();
        // The adapter names a software rasteriser.
        if (gl.software)
            EXPECT_TRUE(gameCore.log->contains(
                ("Found Video accelerator: [Software rasteriser 1000, OpenGL Direct3D 9 device on " + gl.renderer + "]")
                    .c_str()));
        EXPECT_EQ(gameCore.video->videoDevice.limitedCard, gl.software) << gl.renderer;
        EXPECT_EQ(mode.details, gl.software ? VideoDetailsNormal : VideoDetailsHigh);
        const bool bloom = playerBloom || !gl.software;
        EXPECT_EQ(mode.pp_bloom, bloom ? 1 : 0);
        EXPECT_EQ(gameCore.video->postprocessing, bloom);

        // The frame as the frame step draws it with a camera: the bloom's
        // still frame is shown over the scene exactly when bloom is on.
        CameraCore camera(nullptr, "test");
        camera.initialize(-1.0f);
        gameCore.render->stillFrames().data.create("demo_stone", "stone", 384.0f, 256.0f, 256.0f, 256.0f);
        gameCore.render->frameMode = mode.windowMode ? 1 : 0;
        gameCore.render->postProcessing = gameCore.video->postprocessing ? 1 : 0;
        gameCore.render->camera = &camera;
        EXPECT_TRUE(gameCore.render->mainLoop());
        EXPECT_TRUE(gameCore.video->videoDevice.presentScene());
        gameCore.render->camera = nullptr;
        EXPECT_EQ(gameCore.render->effectFrames[1].shown, bloom);
        EXPECT_EQ(gameCore.render->stillFrames().data.find("hdr_effect_bloom") != nullptr, bloom);
        EXPECT_FALSE(gameCore.log->contains("Failed Post-processing effects disabled"));

        ThisMainLoop().releaseRenderData();
        gameCore.render->release();
        delete gameCore.render;
        gameCore.render = nullptr;
        gameCore.setup = nullptr;
        gameCore.packages = nullptr;
        gameCore.paths = nullptr;
        platform::d3d9::setEnvironment({});
    }
}
