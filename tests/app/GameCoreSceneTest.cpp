// The game core's services on the current scene, its factories for loading
// a saved game, and the group lists built from packages and scenes.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <string>

#include "app/ObjectFactories.h"
#include "app/SceneLoadFixture.h"
#include "foundation/TimeCore.h"
#include "foundation/TimerCore.h"
#include "input/InputCore.h"
#include "game/SceneActionDataManager.h"
#include "game/Dialog.h"
#include "scene/CameraFixture.h"
#include "foundation/StringHelper.h"
#include "scene/Scene.h"
#include "sound/BankSound.h"
#include "sound/SoundCore.h"
#include "script/ScriptVariable.h"
#include "script/VariablesCore.h"
#include "support/PackageFixture.h"

using testing_support::SceneLoadFixture;

namespace {

TEST(GameCoreScene, ServicesWithoutASceneAnswerNeutralValuesWithTheirMessages) {
    SceneLoadFixture f;
    Matrix34 pose = matrix34Identity();
    GameObjectLink sprite;
    struct Case {
        const char* message;  // "" when the service logs nothing
        std::function<bool()> neutral;
    };
    const Case cases[] = {
        {"Can't set main character: load scene first", [] { return !gameCore.scene_setMainCharacter({7}); }},
        {"Can't set main character to object [hero]: Object NOT found",
         [] { return !gameCore.scene_setMainCharacterByName("hero"); }},
        {"Can't get main character: load scene first", [] { return gameCore.scene_getMainCharacter().value == 0; }},
        {"Can't map entity pose []", [&] { return !gameCore.scene_getPose("", 0, pose); }},
        {"Can't find object or waypoint position with name [door]",
         [&] { return !gameCore.scene_getPose("DOOR", 0, pose); }},
        {"Can't find game object with name [hero]", [] { return gameCore.scene_findObject("hero", true) == 0; }},
        {"Can't find particle with name [fire]", [] { return gameCore.scene_findParticle("fire", true) == 0; }},
        {"Can't find game sprite with name [moon]",
         [&] { return !gameCore.scene_findSprite("moon", true, sprite) && sprite.value == 0; }},
        {"Can't find game light with name [lamp]", [] { return gameCore.scene_findLight("lamp", true) == nullptr; }},
        {"", [] { return gameCore.scene_findTrigger("gate") == 0; }},
        {"", [] { return std::string(gameCore.scene_modelTriggerName("hero")).empty(); }},
        {"", [] { return std::string(gameCore.scene_dialogName(0)) == "NULL SCENE PTR"; }},
        {"", [] { return gameCore.scene_getObjectArray(ObjectModel) == nullptr; }},
        {"Can't enum  obj find [hero]: requested type is empty", [] { return gameCore.scene_enumFind("HERO", 1) == -1; }},
        {"Can't enum  obj name for index [-1]", [] { return std::string(gameCore.scene_enumObjectName(-1, 1)) == "INVALID"; }},
        {"Can't search waypoints: Create scene first", [] { return gameCore.scene_findWaypoint("w") == nullptr; }},
        {"Can't search nearest waypoints: Create scene first",
         [] { return gameCore.scene_findNearestWaypoint("w", nullptr) == nullptr; }},
        {"Can't teleport zero object", [] { return !gameCore.teleportObject({}, "w", 0.0f); }},
        {"Can't customize zero object", [] { return !gameCore.customizeObject({}, "e", true); }},
        {"Can't reset zero object", [] { return !gameCore.resetObject({}); }},
        {"Can't change play for zero object", [] { return !gameCore.setObjectPlay({}, true); }},
        {"Can't link game objects: set slave model first", [] { return !gameCore.linkObjects({}, {}); }},
        {"object_voice: Can't find model link [00000009] object", [] { return !gameCore.object_voice({9}, "v"); }},
        {"test_voice: Can't find model link [00000009] object", [] { return !gameCore.test_voice({9}); }},
        {"Can't stop sound effects: required unique group name", [] { return !gameCore.stopSoundEffects(""); }},
        {"Can't create sound [rain]: Create scene first", [] { return !gameCore.scene_createSound(1, "rain", "r"); }},
        {"Can't delete sound [rain]: Create scene first", [] { return !gameCore.scene_deleteSound(1, "rain"); }},
        {"can't play sound [rain]: Sound not created", [] { return !gameCore.scene_playSound("rain", "r", 1, false); }},
        {"Can't search scene sounds: Create scene first", [] { return gameCore.scene_findSound(1, "rain") == nullptr; }},
        {"Can't change rain visibility: load scene first", [] { gameCore.visible_rain(true); return true; }},
        {"Can't generate rain map: load scene first", [] { return !gameCore.scene_generateRainMap(); }},
        {"Can't set sky weather: load scene first", [] { gameCore.scene_setSkyWeather(2); return true; }},
        {"Can't set sky light mode: load scene first", [] { gameCore.scene_setSkyLightMode(3); return true; }},
        {"", [] { return gameCore.scene_getSkyLightMode() == 1; }},
        {"Can't set scene lightset: Create scene first", [] { return !gameCore.scene_setLightSet(0, "night"); }},
        {"Can't move current scene aim point: load scene first", [] { return !gameCore.scene_moveAimPoint(nullptr); }},
        {"Can't align current scene aim point: load scene first", [] { return !gameCore.scene_alignAimPoint(nullptr); }},
        {"Can't update current scene aim point: load scene first",
         [] { return !gameCore.scene_updateAimPoint(nullptr); }},
        {"Can't get timers interface: Create scene first", [] { return gameCore.scene_getTimers() == nullptr; }},
        {"Can't change scene physics elements visibility: Create scene first",
         [] { return !gameCore.scene_setPhysicsElementsVisible(true); }},
        {"", [] { return std::string(gameCore.scene_getActionsName()).empty(); }},
        {"Can't select actions screen: load scene first", [] { return !gameCore.scene_selectActionsScreen("s"); }},
        {"", [] { return gameCore.scene_actionAtCursor() == -1; }},
        {"Can't begin action draw: load scene first", [] { return !gameCore.scene_beginActionDraw(true); }},
        {"Can't finish action draw: load scene first", [] { return !gameCore.scene_finishActionDraw(); }},
        {"Can't set screen cursor: load scene first", [] { return !gameCore.scene_setScreenCursor(1); }},
        {"Can't show actions screen: load scene first", [] { return !gameCore.scene_showActionsScreen(true); }},
        {"", [] { return gameCore.scene_getCamera() == nullptr; }},
        {"", [] { return gameCore.scene_physicsScale(2.5f) == 2.5f; }},
    };
    for (const Case& c : cases) {
        f.lua.log().clear();
        EXPECT_TRUE(c.neutral()) << c.message;
        if (c.message[0])
            EXPECT_TRUE(f.logged(c.message)) << c.message;
        else
            EXPECT_TRUE(f.lua.log().records().empty()) << "a silent service logged";
    }
}

TEST(GameCoreScene, ServicesActOnTheSceneCurrentAtTheCall) {
    SceneLoadFixture f;
    f.game->flags |= kSaveGameLoadAllowed;
    f.game->loadScene("intro");
    Scene* intro = f.game->currentScene();
    ASSERT_NE(intro, nullptr);
    gameCore.scene_setSkyWeather(2);
    gameCore.scene_setSkyLightMode(3);
    EXPECT_EQ(intro->skyWeather(), 2);
    EXPECT_EQ(gameCore.scene_getSkyLightMode(), 3);
    EXPECT_STREQ(gameCore.scene_modelTriggerName("hero"), "^hero");
    EXPECT_STREQ(gameCore.scene_getActionsName(), "");
    EXPECT_EQ(gameCore.scene_getTimers(), &intro->timers);
    EXPECT_EQ(gameCore.scene_enumFind("hero", ObjectModel), -1);
    EXPECT_STREQ(gameCore.scene_enumObjectName(0, ObjectModel), "INVALID");
    EXPECT_TRUE(f.logged("Can't enum  obj name for index [0]: INDEX IS INVALID"));
    EXPECT_STREQ(gameCore.scene_dialogName(0), "INVALID DIALOG INDEX");

    // An object that does not support a command names its type and itself.
    EXPECT_FALSE(gameCore.teleportObject(GameObjectLink::fromObject(intro), "w", 0.0f));
    EXPECT_TRUE(f.logged("Object type [scene] (intro) not support teleport command"));

    f.game->loadScene("harbour");
    EXPECT_EQ(gameCore.scene_getSkyLightMode(), 1);  // the new scene's own
}

TEST(GameCoreScene, FactoriesCreateByTypeCodeOrReport) {
    SceneLoadFixture f;
    f.game->flags |= kSaveGameLoadAllowed;
    f.game->loadScene("intro");
    const GameObjectLink scene = GameObjectLink::fromObject(f.game->currentScene());
    struct Case {
        std::uint32_t type;
        std::uint32_t scene;
        std::uint32_t subtype;
        const char* message;
    };
    const Case cases[] = {
        {ObjectModel, 0, 0, "Can't find parent scene for model [thing]"},
        {ObjectModel, scene.value, 0, "Can't create model [thing] for loading"},
        {ObjectParticle, 0, 0, "Can't find parent scene for particle [thing]"},
        {ObjectLight, 0, 0, "Can't find parent scene for light [thing]"},
        {ObjectDialog, 0, 0, "Can't find parent scene for dialog [thing]"},
        {ObjectSprite, 0, 0, "Can't find parent scene for sprite [thing]"},
        {ObjectGrid, 0, 0, "Can't find parent scene for grid [thing]"},
        {ObjectTrigger, 0, 0, "Can't find parent scene for trigger [thing] for loading"},
        {ObjectTrigger, scene.value, 1, "Invalid trigger type [thing] for loading"},
        {ObjectPhysicsModel, 0, 0, "Can't create physics model [thing] for loading"},
        {ObjectPhysicsScene, scene.value, 0, "Can't create physics scene [thing] for loading"},
    };
    for (const Case& c : cases) {
        f.lua.log().clear();
        EXPECT_EQ(createObjectForLoading(c.type, "thing", c.scene, c.subtype), nullptr) << c.message;
        EXPECT_TRUE(f.logged(c.message)) << c.message;
    }
    EXPECT_EQ(createObjectForLoading(ObjectMovie, "thing", 0, 0), nullptr);
    // Without a sound device a saved sound comes back silent, a global one
    // among the global sounds.
    std::unique_ptr<GameObject> sound(createObjectForLoading(ObjectSound, "thing", 0, SoundChannelMusic));
    ASSERT_NE(sound, nullptr);
    EXPECT_EQ(sound->getSubtype(), static_cast<std::uint32_t>(SoundChannelMusic));
    EXPECT_EQ(gameCore.sound->findGlobalSound(SoundChannelMusic, "thing"), 0);
    sound.reset();
    EXPECT_EQ(gameCore.sound->findGlobalSound(SoundChannelMusic, "thing"), -1);
    // A static trigger is made under the placeholder name; its record names it.
    std::unique_ptr<GameObject> trigger(createObjectForLoading(ObjectTrigger, "intro.gate", scene.value, 0));
    ASSERT_NE(trigger, nullptr);
    EXPECT_STREQ(trigger->getName(), "load");
    EXPECT_EQ(trigger->getSceneLink(), scene.index());
    // A physics trigger is made empty under its saved name; its record
    // links it to its source and its physics scene.
    std::unique_ptr<GameObject> physicsTrigger(createObjectForLoading(ObjectPhysicsTrigger, "thing", 0, 0));
    ASSERT_NE(physicsTrigger, nullptr);
    EXPECT_EQ(physicsTrigger->getType(), static_cast<std::uint32_t>(ObjectPhysicsTrigger));

    // A saved scene comes back as a scene of its name, sharing its record.
    std::unique_ptr<GameObject> loaded(createObjectForLoading(ObjectScene, "intro", 0, 0));
    ASSERT_NE(loaded, nullptr);
    EXPECT_EQ(loaded->getType(), static_cast<std::uint32_t>(ObjectScene));
    EXPECT_EQ(static_cast<Scene*>(loaded.get())->resource, f.game->currentScene()->resource);
}

TEST(StringHelperGroups, ListsResourcesAndSceneObjectsByGroup) {
    testing_support::TempDir dir;
    testing_support::FixturePackage package;
    package.files = {{".ani4", "walk", "a", ""}, {".ani4", "run", "b", ""}, {".effect", "smoke", "c", ""}};
    ASSERT_TRUE(testing_support::writeDataRoot(dir.path(), {package}));
    testing_support::ScopedPackageDatabase packages(dir.path());
    ASSERT_TRUE(packages.build());

    NameArray names;
    names.resize(3);
    EXPECT_TRUE(StringHelper::listGroup(2, names));
    ASSERT_EQ(names.size(), 2u);
    const std::string listed = std::string(names[0].text) + " " + names[1].text;
    EXPECT_TRUE(listed == "run walk" || listed == "walk run") << listed;
    EXPECT_TRUE(StringHelper::listGroup(1, names));
    ASSERT_EQ(names.size(), 1u);
    EXPECT_STREQ(names[0].text, "smoke");
    EXPECT_TRUE(StringHelper::listGroup(3, names));  // no current scene
    EXPECT_TRUE(names.empty());
    for (std::int32_t group : {5, -1}) {
        names.resize(1);
        EXPECT_FALSE(StringHelper::listGroup(group, names));
        EXPECT_TRUE(names.empty());
    }
    EXPECT_TRUE(packages.log().contains("StringHelper: Group NOT supported"));
}

}  // namespace

namespace {

TEST(StringHelperGroups, ModelGroupEndsWithTheCurrentScenesAlternatives) {
    SceneLoadFixture f;
    VariablesCore variables;
    struct Restore {
        VariablesCore* saved;
        ~Restore() { gameCore.variables = saved; }
    } restore{gameCore.variables};
    gameCore.variables = &variables;
    ScriptVariable* group = variables.globals().ensureRoot()->appendChild("npcrandomization")->appendChild(
        "intro", ScriptVariable::TypeArray);
    group->appendChild("1", ScriptVariable::TypeString)->setString("guard");
    group->appendChild("2", ScriptVariable::TypeString)->setString("sailor");

    NameArray names;
    EXPECT_TRUE(StringHelper::listGroup(0, names));  // no scene: no group of that name
    EXPECT_TRUE(names.empty());
    EXPECT_TRUE(f.logged("\n\nCan't find script variable [globals.npcrandomization.]"));

    f.game->flags |= kSaveGameLoadAllowed;
    f.game->loadScene("intro");
    EXPECT_TRUE(StringHelper::listGroup(0, names));
    ASSERT_EQ(names.size(), 2u);
    EXPECT_STREQ(names[0].text, "$guard");
    EXPECT_STREQ(names[1].text, "$sailor");
}

}  // namespace

namespace {

// A model (or, given its type, a sprite) of the scene: an object of that
// type with no data of its own.
class TestModel : public testing_support::PoseObject {
public:
    explicit TestModel(const char* modelName, std::uint32_t type = ObjectModel) : PoseObject(modelName), type_(type) {}
    std::uint32_t getType() const override { return type_; }

private:
    std::uint32_t type_;
};

TEST(GameCoreScene, LeavingTheGameModeAsksForTheControllerOnlyWithoutAMainCharacter) {
    SceneLoadFixture f;
    f.game->flags |= kSaveGameLoadAllowed;
    f.game->loadScene("intro");
    const char* const missing = "Can't get main controller: Set main character first";
    gameCore.cameraMode = 1;
    gameCore.setCameraMode(6, CurrentTime(-1.0));
    EXPECT_TRUE(f.logged(missing));

    TestModel hero("hero");
    f.game->currentScene()->models.push_back(GameObjectLink::fromObject(&hero));
    // A new main character restarts the input views and the mode's motion
    // selection.
    InputCore input;
    testing_support::ScopedCoreMember<InputCore> useInput{gameCore.input, &input};
    gameCore.cameraMode = 1;
    ASSERT_TRUE(gameCore.scene_setMainCharacterByName("hero"));
    EXPECT_TRUE(input.virtualDevices.motion.enabled);
    f.lua.log().clear();
    for (std::int32_t mode : {1, 2, 0, 4}) gameCore.setCameraMode(mode, CurrentTime(-1.0));
    EXPECT_FALSE(f.logged(missing));
    f.game->currentScene()->models.clear();
    f.game->currentScene()->mainCharacter = GameObjectLink{};
}

TEST(GameCoreScene, DialogActivityScreenSwitchesAndModelElements) {
    SceneLoadFixture f;
    EXPECT_FALSE(gameCore.scene_isDialogActive());
    EXPECT_FALSE(gameCore.onScreenSwitched());
    EXPECT_TRUE(f.logged("Invalid screen switch signal"));

    f.game->flags |= kSaveGameLoadAllowed;
    f.game->loadScene("intro");
    Scene& scene = *f.game->currentScene();
    gameCore.debugFlags |= DebugCameraLog;
    EXPECT_TRUE(gameCore.onScreenSwitched());
    EXPECT_TRUE(f.logged("Switch current screen to []"));
    gameCore.debugFlags &= ~DebugCameraLog;

    {
        Y3DialogData data("talk");
        Dialog talk(&data, "greet", scene.id);
        scene.mainDialog = GameObjectLink::fromObject(&talk);
        EXPECT_FALSE(gameCore.scene_isDialogActive());  // no phrase runs yet
        ASSERT_TRUE(talk.play(1));
        EXPECT_TRUE(gameCore.scene_isDialogActive());
    }
    EXPECT_FALSE(gameCore.scene_isDialogActive());  // the dialog is gone
    scene.mainDialog = GameObjectLink{};

    // The 2d mode places the camera at the sprite of the selected screen
    // (here as a restored save leaves the selection).
    copyName128(scene.screenActions->selected, "intro");
    TestModel screen("intro", ObjectSprite);
    scene.sprites.push_back(GameObjectLink::fromObject(&screen));
    gameCore.debugFlags |= DebugCameraLog;
    gameCore.setCameraMode(9, CurrentTime(-1.0));
    gameCore.debugFlags &= ~DebugCameraLog;
    EXPECT_TRUE(f.logged("Assign camera position to screen [intro]"));
    EXPECT_FALSE(f.logged("Fail assign camera position to NULL screen"));
    scene.sprites.clear();

    TestModel boat("boat");
    EXPECT_FALSE(gameCore.customizeObject(GameObjectLink::fromObject(&boat), "sail", true));
    EXPECT_TRUE(f.logged("Can't find element with name [sail] in model [] object [boat]"));
}

}  // namespace

namespace {

TEST(GameCoreScene, SceneTimersStandStillInGameTimeInState6) {
    SceneLoadFixture f;
    f.game->flags |= kSaveGameLoadAllowed;
    f.game->loadScene("intro");
    Scene& scene = *f.game->currentScene();
    TimerItem* game = scene.timers.create("tide", 10.0);
    TimerItem* real = scene.timers.createSystem("clock", 10.0);
    ASSERT_TRUE(game && real);
    CurrentTime sample;
    sample.game.step = 0.5;
    sample.real.step = 0.5;
    // The scripts select the game state; the application state machine
    // does not take part.
    ASSERT_TRUE(f.lua.load("world.camera = 6"));
    scene.updateTimers(sample);
    EXPECT_DOUBLE_EQ(game->elapsed(), 0.0);
    EXPECT_DOUBLE_EQ(real->elapsed(), 0.5);
    ASSERT_TRUE(f.lua.load("world.camera = 2"));
    scene.updateTimers(sample);
    EXPECT_DOUBLE_EQ(game->elapsed(), 0.5);
    EXPECT_DOUBLE_EQ(real->elapsed(), 1.0);
    scene.timers.deleteAll();
}

}  // namespace
