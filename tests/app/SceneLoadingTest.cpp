// Scene loading through the save game: the road from a script's "load" to
// the current scene, progress events, failures and their rollback, game over.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <limits>
#include <memory>
#include <string>

#include "app/SceneLoadFixture.h"
#include "app/StoredScenes.h"
#include "render/RenderCore.h"
#include "render/RenderManagerSupport.h"
#include "render/shaders/ShaderCore.h"
#include "render/states/DXStateCache.h"
#include "scene/Scene.h"
#include "scene/SceneDataManager.h"
#include "scene/Y3Pose.h"
#include "support/PackageFixture.h"
#include "scene/SceneDescription.h"
#include "game/SceneActionDataManager.h"
#include "game/WaypointDataManager.h"

using testing_support::SceneLoadFixture;

namespace {

const char kGameScript[] = R"(
function note(text) log(text) end
function on_start() note("handler start") end
function on_progress() note("handler progress " .. game.progress) end
function on_finish() note("handler finish") end
function load_intro() loaded = game:load("intro") end
function end_game() over = game:gameOver() end
function game_start()
    game.onStartProgress = "on_start"
    game.onProgress = "on_progress"
    game.onFinishProgress = "on_finish"
    direct = game:load("intro")
    sendEvent("load_intro")
end
)";

TEST(SceneLoading, FixtureGameLoadsItsFirstSceneFromAPostedEvent) {
    SceneLoadFixture f;
    f.redrawAlways();
    gameCore.debugFlags |= DebugEnableScriptLogMsg;
    ASSERT_TRUE(f.lua.load(kGameScript));
    ASSERT_TRUE(f.run("game_start"));

    // Straight from "game_start" the load is refused and nothing starts.
    EXPECT_EQ(f.value("direct"), "false");
    EXPECT_TRUE(f.logged("Load NOT enabled from this script execution point (called from SCENE object event handler), "
                         "use delayed call instead)"));
    EXPECT_EQ(f.recordOf("Start to load scene"), -1);

    f.runEvents();
    EXPECT_EQ(f.value("loaded"), "true");
    const int start = f.recordOf("Start to load scene [intro]");
    const int debugScene = f.recordOf("Can't find resource for scene [intro]. Create debug scene");
    const int startHandler = f.recordOf("handler start");
    const int progressHandler = f.recordOf("handler progress 1");
    const int finishHandler = f.recordOf("handler finish");
    const int success = f.recordOf("Success load scene [intro]");
    EXPECT_GE(start, 0);
    EXPECT_GT(debugScene, start);
    EXPECT_GT(startHandler, start);
    EXPECT_GT(progressHandler, startHandler);
    EXPECT_GT(finishHandler, progressHandler);
    EXPECT_GT(success, finishHandler);
    ASSERT_NE(f.game->currentScene(), nullptr);
    EXPECT_STREQ(f.game->currentScene()->getName(), "intro");
    EXPECT_EQ(gameCore.sound->currentScene(), f.game->currentScene());
    EXPECT_EQ(f.lua.engine.eventsBlocked, 0);
    EXPECT_EQ(f.game->loading, 0);
    EXPECT_EQ(f.game->progress, -1.0f);

    // The same scene again: refused, the scene stays current.
    f.lua.log().clear();
    ASSERT_TRUE(f.lua.load("sendEvent('load_intro')"));
    f.runEvents();
    EXPECT_EQ(f.value("loaded"), "false");
    EXPECT_TRUE(f.logged("Can't load scene [intro]: Already loaded"));
    EXPECT_EQ(f.recordOf("handler start"), -1);
    EXPECT_EQ(f.game->scenes.size(), 1u);
    EXPECT_TRUE(f.game->currentScene()->onStack());

    ASSERT_TRUE(f.lua.load("sendEvent('end_game')"));
    f.runEvents();
    EXPECT_EQ(f.value("over"), "true");
    const int finalize = f.recordOf("----------------- Finalize current game ----------------------");
    EXPECT_GE(finalize, 0);
    EXPECT_GT(f.recordOf("------------ Current game successfully finalized -------------"), finalize);
    EXPECT_FALSE(f.logged("Game over NOT  enabled"));
    EXPECT_EQ(f.game->currentScene(), nullptr);
    EXPECT_TRUE(f.game->scenes.empty());
    EXPECT_EQ(f.game->scene, "");
}

TEST(SceneLoading, ALoadedSceneIsReenteredNotMadeAgain) {
    SceneLoadFixture f;
    f.game->flags |= kSaveGameLoadAllowed;
    f.game->loadScene("intro");
    Scene* intro = f.game->currentScene();
    // Leaving a scene empties the render core's still-frame slots.
    ASSERT_NE(gameCore.render, nullptr);
    gameCore.render->stillFrameSlots.first = 3;
    f.game->loadScene("harbour");
    EXPECT_EQ(gameCore.render->stillFrameSlots.first, 0u);
    Scene* harbour = f.game->currentScene();
    ASSERT_TRUE(intro && harbour && intro != harbour);
    EXPECT_FALSE(intro->onStack());

    f.game->loadScene("intro");
    EXPECT_NE(f.game->flags & kSaveGameLoadSucceeded, 0u);
    EXPECT_EQ(f.game->currentScene(), intro);
    EXPECT_TRUE(intro->onStack());
    EXPECT_FALSE(harbour->onStack());
    EXPECT_EQ(f.game->scenes.size(), 2u);

    f.game->loadScene(nullptr);  // no name: the scene "test"
    EXPECT_STREQ(f.game->currentScene()->getName(), "test");
    EXPECT_EQ(f.game->scene, "test");
}

// Going from one scene to another: the render core drops the draw items the
// last frame of the old scene collected, then, before the new scene's
// allocation, releases the resources nothing uses any more and gives up the
// buffers, shaders and textures its state cache and shader pass still held.
TEST(SceneLoading, ASceneChangeResetsTheRenderResources) {
    SceneLoadFixture f;
    f.game->flags |= kSaveGameLoadAllowed;
    ASSERT_NE(gameCore.render, nullptr);
    RenderCore& render = *gameCore.render;
    render_test::CountingManager meshes;
    render_test::ScopedRenderManager registered(render, RenderDataManager::Model, meshes);
    f.game->loadScene("intro");
    render_test::CountingUser user;
    render_test::CountingRecord* boat = meshes.allocated("boat", &user);
    render_test::CountingRecord* crate = meshes.allocated("crate");
    ASSERT_TRUE(crate && boat);
    // What a drawn frame of the intro leaves behind.
    render.renderList.queues[1].insert(0, DrawItem{});
    render.stateCache().setDeclaration(3);
    int texture = 0;
    render.shaders().pass.textures[2] = reinterpret_cast<IDirect3DBaseTexture9*>(&texture);
    render.shaders().pass.textureSet[2] = 1;

    f.game->loadScene("harbour");
    EXPECT_STREQ(f.game->currentScene()->getName(), "harbour");
    ASSERT_EQ(render.renderList.queues[1].buckets.size(), 1u);
    EXPECT_TRUE(render.renderList.queues[1].buckets[0].items.empty());
    EXPECT_FALSE(crate->has(kResourceAllocated));
    EXPECT_TRUE(boat->has(kResourceAllocated));
    EXPECT_EQ(render.stateCache().declarationDesired, DXStateCache::kNoDeclaration);
    for (int stage = 0; stage < 16; ++stage) {
        EXPECT_EQ(render.shaders().pass.textures[stage], nullptr) << stage;
        EXPECT_EQ(render.shaders().pass.textureSet[stage], 1) << stage;
    }
    ASSERT_TRUE(ResourceManagerBase::pop(boat, &user));
}

// Scenes whose initialisation fails, to follow the rollback.
class FailingScene : public Scene {
public:
    using Scene::Scene;
    bool initialize(const Matrix34&) override { return false; }
};

class FailingSaveGame : public SaveGame {
protected:
    Scene* createScene(Y3SceneDataInstance* record) override {
        if (std::string(record->name) != "broken") return SaveGame::createScene(record);
        return new FailingScene(record, nullptr);
    }
};

TEST(SceneLoading, AFailedInitialisationRollsBackThenFinishesOnce) {
    SceneLoadFixture f([] { return std::make_unique<FailingSaveGame>(); });
    ASSERT_TRUE(f.lua.load(R"(
        starts = 0; finishes = 0
        function on_start() starts = starts + 1 end
        function on_finish() finishes = finishes + 1 end
        game.onStartProgress = "on_start"
        game.onFinishProgress = "on_finish"
    )"));
    f.game->flags |= kSaveGameLoadAllowed;
    f.game->loadScene("intro");
    Scene* intro = f.game->currentScene();
    ASSERT_NE(intro, nullptr);
    intro->lastUpdateTime = -5.0;

    f.game->loadScene("broken");
    EXPECT_EQ(f.game->flags & kSaveGameLoadSucceeded, 0u);
    EXPECT_TRUE(f.logged(">>CRITICAL ERROR:\r\n\r\n Failed scene [broken] initialization"));
    EXPECT_EQ(f.lua.number("starts"), 2);
    EXPECT_EQ(f.lua.number("finishes"), 2);  // one for each load
    // The previous scene is current and pushed again, the failed one is gone.
    EXPECT_EQ(f.game->currentScene(), intro);
    EXPECT_TRUE(intro->onStack());
    EXPECT_EQ(f.game->scenes.size(), 1u);
    EXPECT_EQ(f.game->findScene("broken"), -1);
    EXPECT_EQ(gameCore.sound->currentScene(), intro);
    EXPECT_EQ(f.lua.engine.eventsBlocked, 0);
    EXPECT_EQ(f.game->loading, 0);
    // The one finish refreshed the scene that stayed current.
    EXPECT_NE(intro->lastUpdateTime, -5.0);
    int live = 0;
    for (std::uint32_t slot = 0; slot < f.objects.count(); ++slot) live += f.objects.isLive(slot) ? 1 : 0;
    EXPECT_EQ(live, 1);
}

TEST(SceneLoading, ProgressEventsFollowTheirHandlers) {
    SceneLoadFixture f;
    ASSERT_TRUE(f.lua.load(R"(
        progress_calls = 0
        function on_progress() progress_calls = progress_calls + 1 end
        game.onProgress = "on_progress"
    )"));
    // Two rising reports within one redraw period raise one event at most;
    // the second still raises the stored progress.
    f.game->startProgress();
    f.game->setProgress(1, 0.5f);
    f.game->setProgress(1, 1.0f);
    EXPECT_LE(f.lua.number("progress_calls"), 1);
    EXPECT_NEAR(f.game->progress, 0.4f, 1e-6);
    EXPECT_EQ(f.lua.engine.eventsBlocked, 1);
    f.game->finishProgress();
    EXPECT_EQ(f.lua.engine.eventsBlocked, 0);
    // Missing handlers are reported by their own lines and the load goes on.
    EXPECT_TRUE(f.logged("Event [game.onStartProgress] not initialized"));
    EXPECT_TRUE(f.logged("Event [game.onFinishProgress] not initialized"));

    f.redrawAlways();
    f.game->startProgress();
    f.game->setProgress(16, 0.0f);  // keep-alive only: no event, no change
    EXPECT_EQ(f.game->progress, 0.0f);
    const double calls = f.lua.number("progress_calls");
    f.game->setProgress(2, 1.0f);
    EXPECT_EQ(f.lua.number("progress_calls"), calls + 1);
    f.game->finishProgress();

    f.game->flags |= kSaveGameLoadAllowed;
    f.game->loadScene("quiet");
    EXPECT_NE(f.game->flags & kSaveGameLoadSucceeded, 0u);

    f.game->startReload();
    f.game->finishReload();
    EXPECT_TRUE(f.logged("Event [game.onStartReload] NOT initialized"));
    EXPECT_TRUE(f.logged("Event [game.onFinishReload] NOT initialized"));
}

TEST(SceneLoading, GameOverOutsidePostedEventsIsReportedAndStillEndsTheGame) {
    SceneLoadFixture f;
    f.game->flags |= kSaveGameLoadAllowed;
    f.game->loadScene("intro");
    f.game->flags &= ~kSaveGameLoadAllowed;
    EXPECT_TRUE(f.game->gameOver());
    EXPECT_TRUE(f.logged("Game over NOT  enabled from this execution point (called from SCENE object event handler), "
                         "use delayed call instead)"));
    EXPECT_EQ(f.game->currentScene(), nullptr);
    EXPECT_EQ(f.game->currentIndex, -1);
    EXPECT_EQ(f.objects.count(), 0u);
    // A load outside posted events is logged and still runs.
    f.game->loadScene("intro");
    EXPECT_TRUE(f.logged("Load NOT enabled from this execution point (called from SCENE object event handler), use "
                         "delayed call instead)"));
    EXPECT_NE(f.game->currentScene(), nullptr);
}

}  // namespace

namespace {

TEST(SceneLoading, AScenePushThatFailsGivesThePreviousSceneBack) {
    testing_support::TempDir dir;
    testing_support::FixturePackage package;
    // A stored scene with its sky and light set whose data record is not one.
    LightSet set;
    std::strcpy(set.name, "broken_default");
    package.files = {{".ms4", "broken", "not a scene", ""},
                     {".sky", "broken", "sky", ""},
                     {".ls", "broken_default", scene_tools::lightSetBytes(set), ""}};
    ASSERT_TRUE(testing_support::writeDataRoot(dir.path(), {package}));
    testing_support::ScopedPackageDatabase packages(dir.path());
    ASSERT_TRUE(packages.build());
    SceneLoadFixture f;
    ASSERT_TRUE(f.lua.load(R"(
        finishes = 0
        function on_finish() finishes = finishes + 1 end
        game.onFinishProgress = "on_finish"
    )"));
    f.game->flags |= kSaveGameLoadAllowed;
    f.game->loadScene("intro");
    Scene* intro = f.game->currentScene();
    f.game->loadScene("broken");
    EXPECT_EQ(f.game->flags & kSaveGameLoadSucceeded, 0u);
    EXPECT_TRUE(f.logged("Fail push current game scene"));
    EXPECT_EQ(f.lua.number("finishes"), 2);
    EXPECT_EQ(f.game->currentScene(), intro);
    EXPECT_TRUE(intro->onStack());
    EXPECT_EQ(gameCore.sound->currentScene(), intro);
    // The scene stays in the list, and a later attempt fails the same way.
    f.lua.log().clear();
    f.game->loadScene("broken");
    EXPECT_TRUE(f.logged("Fail push current game scene"));
    EXPECT_FALSE(f.logged("Already on stack"));
    EXPECT_EQ(f.game->currentScene(), intro);
}

}  // namespace

namespace {

using testing_support::StoredScenes;
using testing_support::storedScene;

TEST(SceneLoading, DamagedSceneRecordsAreRefusedAndTheGameGoesOn) {
    // Records that still parse after damage are refused as surely as cut
    // ones: each load fails with its message, the previous scene stays
    // current, and a whole record loads afterwards.
    const std::uint32_t two = 2;
    const float nan = std::numeric_limits<float>::quiet_NaN();
    auto patch = [](const void* bytes, std::ptrdiff_t offset) {
        return [bytes, offset](std::string record) {
            const std::size_t at = record.find("\x05water");
            if (at != std::string::npos)
                record.replace(static_cast<std::size_t>(static_cast<std::ptrdiff_t>(at) + offset), 4,
                               static_cast<const char*>(bytes), 4);
            return record;
        };
    };
    struct Damage {
        const char* scene;
        std::function<std::string(std::string)> damage;
        const char* message;
    };
    const Damage damages[] = {
        {"cut", [](std::string record) { return record.substr(0, record.size() / 2); }, "Fail read scene data [cut] header"},
        {"counted", patch(&two, 6), "Can't read visibility area [water]: its volume holds numbers that are not finite"},
        {"unbounded", patch(&nan, 6 + 4 + 4),
         "Can't read visibility area [water]: its volume holds numbers that are not finite"},
        {"longer", [](std::string record) { return record + "tail"; },
         "Can't read scene data [longer]: 4 bytes left after the visibility block"},
    };
    testing_support::FixturePackage package;
    for (const Damage& d : damages)
        for (const testing_support::FixtureFile& file : storedScene(d.scene, d.damage)) package.files.push_back(file);
    for (const testing_support::FixtureFile& file : storedScene("whole", [](std::string record) { return record; }))
        package.files.push_back(file);
    StoredScenes stored(package);
    ASSERT_TRUE(stored.built);
    SceneLoadFixture f;
    f.game->flags |= kSaveGameLoadAllowed;
    f.game->loadScene("intro");
    Scene* intro = f.game->currentScene();
    ASSERT_NE(intro, nullptr);
    for (const Damage& d : damages) {
        f.lua.log().clear();
        f.game->loadScene(d.scene);
        EXPECT_EQ(f.game->flags & kSaveGameLoadSucceeded, 0u) << d.scene;
        EXPECT_TRUE(f.logged(d.message)) << d.scene;
        EXPECT_TRUE(f.logged("Can't load scene data [" + std::string(d.scene) + "]: the record is damaged")) << d.scene;
        EXPECT_TRUE(f.logged("Fail push current game scene")) << d.scene;
        EXPECT_FALSE(f.logged("Success load scene")) << d.scene;
        EXPECT_EQ(f.game->currentScene(), intro) << d.scene;
        EXPECT_TRUE(intro->onStack()) << d.scene;
    }
    f.lua.log().clear();
    f.game->loadScene("whole");
    EXPECT_TRUE(f.logged("Success load scene [whole]"));
    ASSERT_NE(f.game->currentScene(), nullptr);
    EXPECT_STREQ(f.game->currentScene()->getName(), "whole");
    EXPECT_EQ(f.game->currentScene()->pvs.areas.size(), 2u);
}

TEST(SceneLoading, ALeftSceneLetsGoOfItsWaypointObjectsAndFindsThemAgainWhenReentered) {
    testing_support::FixturePackage package;
    package.files = storedScene("dock", [](std::string record) { return record; }, "waypoint trigger gate at 1 0 1\n");
    StoredScenes stored(package);
    ASSERT_TRUE(stored.built);
    SceneLoadFixture f;
    f.game->flags |= kSaveGameLoadAllowed;
    f.game->loadScene("dock");
    Scene* dock = f.game->currentScene();
    ASSERT_NE(dock, nullptr);
    auto* gate = dynamic_cast<Y3Pose_Trigger*>(dock->findWaypoint("gate", PoseTrigger));
    ASSERT_NE(gate, nullptr);
    const std::uint32_t made = gate->link.index();
    ASSERT_NE(made, 0u);

    f.game->loadScene("intro");
    EXPECT_FALSE(dock->onStack());
    EXPECT_EQ(gate->link.index(), 0u);

    f.game->loadScene("dock");
    EXPECT_EQ(f.game->currentScene(), dock);
    EXPECT_EQ(gate->link.index(), made);
    EXPECT_FALSE(f.logged("this name already used"));
}

TEST(SceneLoading, ScenesOutlivingTheSaveGameKeepNoRecord) {
    SceneLoadFixture f;
    f.game->flags |= kSaveGameLoadAllowed;
    f.game->loadScene("intro");
    Scene* intro = f.game->currentScene();
    f.game.reset();  // scenes not released: reported, then cut loose
    EXPECT_TRUE(f.logged(" Can't release game save core: Not all scene released"));
    EXPECT_EQ(intro->resource, nullptr);
    EXPECT_FALSE(intro->onStack());
    f.game = std::make_unique<SaveGame>();
    gameCore.game = f.game.get();
    intro->release();
    delete intro;  // no record to touch
}

}  // namespace
