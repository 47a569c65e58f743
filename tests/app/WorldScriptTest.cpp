// The script classes "World" and "Time" as scripts use them.
#include <gtest/gtest.h>

#include "app/SceneLoadFixture.h"
#include "platform/Window.h"
#include "scene/CameraAuto.h"
#include "scene/CameraCore.h"
#include "scene/Scene.h"
#include "script/ScriptWorld.h"
#include "script/lua/TimerScript.h"

using testing_support::SceneLoadFixture;

namespace {

TEST(WorldScript, CameraModeOutOfRangeIsRefused) {
    SceneLoadFixture f;
    ASSERT_TRUE(f.lua.load("world.camera = 6; first = world.camera; world.camera = 12; second = world.camera"));
    EXPECT_EQ(f.lua.number("first"), 6);
    EXPECT_EQ(f.lua.number("second"), 6);
    EXPECT_TRUE(f.logged("Can't set game camera mode to invalid value [12]. Valid range is 0..11"));
    ASSERT_TRUE(f.lua.load("world.camera = -1"));
    EXPECT_EQ(gameCore.cameraMode, 6);
    ASSERT_TRUE(f.lua.load("world.camera_mask = 'indoor'; mask = world.camera_mask"));
    EXPECT_EQ(f.lua.global("mask"), "indoor");
}

TEST(WorldScript, EventSlotsKeepTheirFirstHandlerAndRefuseBadIndices) {
    SceneLoadFixture f;
    ASSERT_TRUE(f.lua.load(R"(
        first = world:setEvent(onMouseOver, "over")
        second = world:setEvent(onMouseOver, "again")
        empty = world:setEvent(1, "")
        handler = world:getEvent(onMouseOver)
        unset = world:getEvent(5)
        high = world:setEvent(24, "beyond")
        low = world:setEvent(-1, "below")
        outside = world:getEvent(100)
    )"));
    EXPECT_EQ(f.value("first"), "true");
    EXPECT_EQ(f.value("second"), "false");
    EXPECT_EQ(f.value("empty"), "false");
    EXPECT_EQ(f.lua.global("handler"), "over");
    EXPECT_EQ(f.lua.global("unset"), "");
    EXPECT_EQ(f.value("high"), "false");
    EXPECT_EQ(f.value("low"), "false");
    EXPECT_EQ(f.lua.global("outside"), "");
    EXPECT_TRUE(f.logged("Can't set event class ScriptWorld::[world].onMouseOver = [again]: Already assigned to [over]"));
    EXPECT_TRUE(f.logged("Can't get event class ScriptWorld::[world].100: invalid event"));
    EXPECT_EQ(std::string(f.lua.engine.world()->getEvent(onMouseOver)), "over");
}

TEST(WorldScript, SceneQueriesWithoutAndWithAScene) {
    SceneLoadFixture f;
    ASSERT_TRUE(f.lua.load(R"(
        missing = world:object("x")
        weather = world.weather
        count = world:enum_obj(World.OBJ_OBJECT)
        found = world:enum_obj_find(World.OBJ_OBJECT, "x")
        kind = world:classof()
        world.picker_enable = true
        picker = world.picker_enable
        world.weather = World.Rain
    )"));
    EXPECT_EQ(f.value("missing"), "nil");
    EXPECT_TRUE(f.logged("Can't find game object with name [x]"));
    EXPECT_EQ(gameCore.scene_getSkyLightMode(), 1);
    EXPECT_EQ(f.lua.number("weather"), 0);
    EXPECT_EQ(f.lua.number("count"), 0);
    EXPECT_EQ(f.lua.number("found"), 0);
    EXPECT_EQ(f.lua.global("kind"), "World");
    EXPECT_EQ(f.value("picker"), "false");
    EXPECT_TRUE(f.logged("Can't set sky weather: load scene first"));

    f.game->flags |= kSaveGameLoadAllowed;
    f.game->loadScene("intro");
    ASSERT_TRUE(f.lua.load("world.weather = World.Fog; w = world.weather"));
    EXPECT_EQ(f.lua.number("w"), 3);
    EXPECT_EQ(f.game->currentScene()->skyWeather(), 3);

    // Codes past the sky's four weathers and times of day are clamped.
    struct Case {
        const char* script;
        std::int32_t weather, light;
    };
    for (const Case c : {Case{"world.weather = 7", 3, 1}, {"world.weather = -4", 0, 1}, {"world.light = 9", 0, 3},
                         {"world.light = -1", 0, 0}}) {
        ASSERT_TRUE(f.lua.load(c.script));
        EXPECT_EQ(f.game->currentScene()->skyWeather(), c.weather) << c.script;
        EXPECT_EQ(f.game->currentScene()->skyLightMode(), c.light) << c.script;
    }
}

TEST(WorldScript, PauseGoesThroughTheGameCoreTimeOnlyThroughTheClock) {
    SceneLoadFixture f;
    ASSERT_TRUE(f.lua.load("world.pause = true; paused = world.pause"));
    EXPECT_EQ(f.value("paused"), "true");
    EXPECT_TRUE(f.logged("Pause [ON]"));
    EXPECT_NE(gameCore.flags & kGameFlagPaused, 0u);
    EXPECT_EQ(f.clocks.gameTime.paused, 1);
    ASSERT_TRUE(f.lua.load("world.pause = false"));
    EXPECT_TRUE(f.logged("Pause [OFF]"));
    EXPECT_EQ(f.clocks.gameTime.paused, 0);
}

TEST(WorldScript, ClipboardTextIsCutToAThousandCharacters) {
    SceneLoadFixture f;
    ASSERT_TRUE(f.lua.load("world.clipboard = string.rep('x', 1500); text = world.clipboard"));
    EXPECT_EQ(f.lua.global("text"), std::string(1000, 'x'));
}

TEST(WorldScript, DistanceBetweenUnknownEntitiesCountsThemAtTheOrigin) {
    SceneLoadFixture f;
    ASSERT_TRUE(f.lua.load("d = world:distance2object('nobody', 'nothing')"));
    EXPECT_EQ(f.lua.number("d"), 0);
    EXPECT_TRUE(f.logged("Invalid arg1 [nobody]: enter correct value"));
    EXPECT_TRUE(f.logged("Invalid arg2 [nothing]: enter correct value"));
}

TEST(WorldScript, QuitGameStopsTheMessageLoop) {
    SceneLoadFixture f;
    ASSERT_TRUE(f.lua.load("world:quitGame()"));
    EXPECT_EQ(gameCore.runState, 2);
    EXPECT_TRUE(f.logged("Called exit from script"));
    EXPECT_TRUE(f.logged("Exit"));
}

}  // namespace

namespace {

TEST(WorldScript, WorldEventsCallTheirHandlerWithTheWorld) {
    SceneLoadFixture f;
    ScriptWorld& world = *f.lua.engine.world();
    ASSERT_TRUE(f.lua.load(R"(
        function over(w) seen = w:classof() end
        function broken(w) error("bad handler") end
        world:setEvent(onMouseOver, "over")
        world:setEvent(2, "broken")
        world:setEvent(3, "not_defined")
    )"));
    EXPECT_TRUE(world.callEvent(onMouseOver, &world));
    EXPECT_EQ(f.lua.global("seen"), "World");
    EXPECT_TRUE(world.callEvent(1, &world));  // empty slot: nothing to run
    EXPECT_FALSE(world.callEvent(onMouseOver, nullptr));
    EXPECT_TRUE(f.logged("Try to call NULL ptr event over(class ScriptWorld NULL)"));
    lua_State* state = f.lua.state;
    const int top = lua_gettop(state);
    for (int i = 0; i < 3; ++i) EXPECT_FALSE(world.callEvent(2, &world));
    EXPECT_EQ(lua_gettop(state), top);  // no error value left behind
    EXPECT_TRUE(f.logged("Exception broken(class ScriptWorld* [world]): Unknown"));
    EXPECT_FALSE(world.callEvent(3, &world));
    EXPECT_FALSE(world.callEvent(S_EVENT_COUNT, &world));
    EXPECT_TRUE(f.logged("Can't call event class ScriptWorld::[world].24: invalid event"));

    f.lua.engine.eventsBlocked = 1;
    ASSERT_TRUE(f.lua.load("seen = nil"));
    EXPECT_TRUE(world.callEvent(onMouseOver, &world));
    EXPECT_EQ(f.lua.global("seen"), "");
    f.lua.engine.eventsBlocked = 0;
}

}  // namespace

namespace {

TEST(WorldScript, ScriptTimersOfTheSceneAreTheCurrentScenes) {
    SceneLoadFixture f;
    registerTimerClasses(f.lua.state, f.lua.engine);
    ASSERT_TRUE(f.lua.load("before = timersAPI:get()"));
    EXPECT_EQ(f.value("before"), "nil");
    EXPECT_TRUE(f.logged("Can't get timers interface: Create scene first"));

    f.game->flags |= kSaveGameLoadAllowed;
    f.game->loadScene("intro");
    ASSERT_TRUE(f.lua.load("timersAPI:get():create('tick', 1.0)"));
    EXPECT_EQ(f.game->currentScene()->timers.count(), 1);
}

}  // namespace

namespace {

TEST(WorldScript, LightIsBothTheSkyLightModeAndTheLightFinder) {
    SceneLoadFixture f;
    f.game->flags |= kSaveGameLoadAllowed;
    f.game->loadScene("intro");
    ASSERT_TRUE(f.lua.load(R"(
        before = world.light
        world.light = World.Night
        after = world.light
        night = (world.light == World.Night)
        lamp = world:light("lamp")
        world.light = World.Morning
        again = world:light("lamp")
        morning = world.light + 0
        called, message = pcall(function() return (5)(1, "x") end)
    )"));
    EXPECT_EQ(f.lua.number("before"), 1);
    EXPECT_EQ(f.lua.number("after"), 3);
    EXPECT_EQ(f.value("night"), "true");
    EXPECT_EQ(f.value("lamp"), "nil");
    EXPECT_EQ(f.value("again"), "nil");
    EXPECT_TRUE(f.logged("Can't find game light with name [lamp]"));
    EXPECT_EQ(f.lua.number("morning"), 0);
    EXPECT_EQ(gameCore.scene_getSkyLightMode(), 0);
    // Other numbers stay as uncallable as Lua makes them.
    EXPECT_EQ(f.value("called"), "false");
    EXPECT_NE(f.lua.global("message").find("attempt to call a number value"), std::string::npos);
}

TEST(WorldScript, TimePauseIsReachedThroughTheGlobalTime) {
    SceneLoadFixture f;
    ASSERT_TRUE(f.lua.load("kind = time:classof(); time.pause = true; paused = time.pause"));
    EXPECT_EQ(f.lua.global("kind"), "Time");
    EXPECT_EQ(f.value("paused"), "true");
    EXPECT_EQ(f.clocks.gameTime.paused, 1);
    EXPECT_EQ(gameCore.flags & kGameFlagPaused, 0u);  // the game core's flag stays
    EXPECT_FALSE(f.logged("Pause [ON]"));
}

TEST(WorldScript, ClipboardTextIsConvertedFromAndToTheEngineCodePage) {
    SceneLoadFixture f;
    // "\xC4\xE0" is Cyrillic "Da" in the engine's code page.
    ASSERT_TRUE(f.lua.load("world.clipboard = '\\196\\224'"));
    std::string shared;
    ASSERT_TRUE(platform::getClipboardText(shared));
    EXPECT_EQ(shared, "\xD0\x94\xD0\xB0");  // UTF-8 on the system's side
    ASSERT_TRUE(platform::setClipboardText("\xD0\x9D\xD0\xB5\xD1\x82"));
    ASSERT_TRUE(f.lua.load("text = world.clipboard"));
    EXPECT_EQ(f.lua.global("text"), "\xCD\xE5\xF2");
}

TEST(WorldScript, CameraScriptsReachTheSceneCamera) {
    SceneLoadFixture f;
    f.game->flags |= kSaveGameLoadAllowed;
    f.game->loadScene("intro");
    Scene* intro = f.game->currentScene();
    ASSERT_NE(intro, nullptr);
    CameraCore* camera = intro->camera();
    ASSERT_NE(camera, nullptr);
    EXPECT_EQ(gameCore.scene_getCamera(), camera);
    EXPECT_STREQ(camera->getName(), "default");

    ASSERT_TRUE(f.lua.load("crazy = world:camera_effect('CRAZY'); wobble = world:camera_effect('wobble')"));
    EXPECT_EQ(f.value("crazy"), "true");
    EXPECT_EQ(f.value("wobble"), "false");
    EXPECT_EQ(camera->effect, CameraEffectCrazy);

    // A new camera mode restarts the camera: the automatic camera reports
    // a change at its next step.
    camera->autoCamera->flags = 0;
    ASSERT_TRUE(f.lua.load("world.camera = 10"));
    EXPECT_NE(camera->autoCamera->flags & kCameraAutoChanged, 0u);

    // A command string plays on the current camera until its stack ends.
    ASSERT_TRUE(f.lua.load("played = game:camera('[1 current]'); broken = game:camera('[current')"));
    EXPECT_EQ(f.value("played"), "true");
    EXPECT_EQ(f.value("broken"), "false");
    EXPECT_TRUE(f.logged("Unexpected EOL : Await for text end"));
    EXPECT_NE(gameCore.flags & kGameFlagCameraOverride, 0u);
    EXPECT_EQ(camera->effectiveMode(), 5u);
    camera->stopStack();
    EXPECT_EQ(gameCore.flags & kGameFlagCameraOverride, 0u);

    // Negative times and numbers that are none are refused: no stack plays
    // and the camera stays out of the stack mode.
    ASSERT_TRUE(f.lua.load("a = game:camera('-1[current]'); b = game:camera('[-5 current]'); "
                           "c = game:camera('0.5[-5 current]'); d = game:camera('1..2.3[current]')"));
    for (const char* result : {"a", "b", "c", "d"}) EXPECT_EQ(f.value(result), "false") << result;
    EXPECT_EQ(gameCore.flags & kGameFlagCameraOverride, 0u);
    EXPECT_TRUE(camera->blender.empty());

    // A camera named in a command is found, not made current.
    intro->cameras.push_back(std::make_unique<CameraCore>(intro, "close"));
    CameraCore* close = intro->cameras.back().get();
    ASSERT_TRUE(close->initialize(-1.0f));
    EXPECT_TRUE(gameCore.scene_cameraStackCommand("close", "[1 current]"));
    EXPECT_EQ(gameCore.scene_getCamera(), camera);
    EXPECT_FALSE(close->blender.empty());
    EXPECT_TRUE(camera->blender.empty());
    close->stopStack();
    EXPECT_FALSE(gameCore.scene_cameraStackCommand("nowhere", "[1 current]"));
    EXPECT_TRUE(f.logged("Can't find camera with name [nowhere] (scene [intro])"));
    EXPECT_EQ(gameCore.scene_getCamera(), camera);

    Matrix34 pose;
    camera->pose.m[9] = 7.0f;
    ASSERT_TRUE(gameCore.scene_getPose("%camera%", 0, pose));
    EXPECT_FLOAT_EQ(pose.m[9], 7.0f);
}


std::int32_t g_actionAtCursor = -1;

TEST(WorldScript, CameraRaisesHoverAndScreenActionEvents) {
    SceneLoadFixture f;
    f.game->flags |= kSaveGameLoadAllowed;
    f.game->loadScene("intro");
    CameraCore* camera = gameCore.scene_getCamera();
    ASSERT_NE(camera, nullptr);
    ASSERT_TRUE(f.lua.load(R"(
        seen = ""
        function note(name) return function(w) seen = seen .. name .. "," end end
        actionOver, actionOut, layerOver, layerOut =
            note("hover"), note("unhover"), note("enter"), note("leave")
        world:setEvent(7, "actionOver")
        world:setEvent(8, "actionOut")
        world:setEvent(9, "layerOver")
        world:setEvent(10, "layerOut")
    )"));
    auto saved = cameraServices.actionAtCursor;
    cameraServices.actionAtCursor = [] { return g_actionAtCursor; };
    gameCore.cameraMode = 3;  // DialogCursor looks for screen actions
    for (std::int32_t action : {-1, 2, 2, 4, -1}) {
        g_actionAtCursor = action;
        camera->update(CurrentTime());
    }
    camera->hover = 7;
    camera->update(CurrentTime());
    camera->update(CurrentTime());  // nobody set it again this frame
    cameraServices.actionAtCursor = saved;
    EXPECT_EQ(f.lua.global("seen"), "enter,leave,enter,leave,hover,unhover,");
}

}  // namespace
