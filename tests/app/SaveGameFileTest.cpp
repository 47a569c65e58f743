// Save files: a slot saved and restored from a script, the stored layout read
// byte by byte, broken and cut files, failed saves that keep the old file,
// slot names that would leave the save folder, and the save game's block.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <functional>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "app/SaveFileFixture.h"
#include "app/StoredScenes.h"
#include "animation/AnimationCore.h"
#include "animation/AnimationTestSupport.h"
#include "control/Grid.h"
#include "control/PathGridDataManager.h"
#include "model/ModelResourceSupport.h"
#include "particle/ParticleWriter.h"
#include "control/PhysicsCore.h"
#include "control/PhysicsModel.h"
#include "control/PhysicsScene.h"
#include "control/PhysicsTestBackend.h"
#include "effects/Light.h"
#include "effects/LightDataManager.h"
#include "foundation/Image.h"
#include "foundation/PackedStream.h"
#include "model/Model.h"
#include "control/PhysicsTestPackage.h"
#include "platform/physics/bullet/BulletBackend.h"
#include "resources/PackageDatabase.h"
#include "scene/Scene.h"
#include "scene/SceneDataManager.h"
#include "scene/SceneObjectFlags.h"
#include "scene/CameraCore.h"
#include "scene/CameraFixture.h"
#include "scene/Trigger.h"
#include "scene/lua/TriggerScript.h"
#include "support/PackageFixture.h"
#include "sound/SoundCore.h"

using testing_support::readFile;
using testing_support::SaveFileFixture;
using testing_support::u32At;
using testing_support::writeFile;

namespace {

const char kLoadIntro[] = "game:load('intro')";

double f64At(const std::string& bytes, std::size_t offset) {
    double value = 0.0;
    std::memcpy(&value, bytes.data() + offset, sizeof(value));
    return value;
}

// The physics files of a description in the save fixture's data root, its
// package database and a physics core, installed in the game core.
class PhysicsPackages : public testing_support::InstalledPackages {
public:
    PhysicsPackages(SaveFileFixture& s, const char* text)
        : InstalledPackages(s, {testing_support::physicsPackage(text)}), usePhysics_(gameCore.physics, &physics_) {}

private:
    PhysicsCore physics_;
    testing_support::ScopedCoreMember<PhysicsCore> usePhysics_;
};

std::string u32Bytes(std::uint32_t value) {
    std::string bytes(4, '\0');
    for (int i = 0; i < 4; ++i) bytes[static_cast<std::size_t>(i)] = static_cast<char>(value >> (8 * i) & 0xFF);
    return bytes;
}

// The scene trigger "gate": with a physics scene it gets a physics trigger.
TriggerStatic* addGate(Scene& scene) {
    TriggerDescription gate;
    gate.name = "gate";
    return scene.triggers->addTrigger(gate);
}

}  // namespace

TEST(SaveGameFile, ASavedSlotRestoresTheVariablesAndTheScene) {
    SaveFileFixture s;
    ASSERT_TRUE(s.runPosted(kLoadIntro));
    ASSERT_NE(s.f.game->currentScene(), nullptr);
    // A scene timer still waiting is saved with the scene; the check of
    // the written data before the slot is kept reads it into a copy that
    // is no leftover of the game.
    ASSERT_NE(s.f.game->currentScene()->timers.create("wait", 5.0), nullptr);
    ASSERT_TRUE(s.runPosted("globals:get('system.volume').value = 0.75\n"
                            "saved = game:save('slot1')\n"
                            "globals:get('system.volume').value = 0.25\n"
                            "game:restore('slot1')\n"
                            "restored = game:state()"));
    EXPECT_EQ(s.text("saved"), "true");
    EXPECT_FALSE(s.f.logged("Found unreleased timers"));
    EXPECT_TRUE(s.f.logged("LOAD GAME [slot1]"));
    EXPECT_TRUE(s.f.logged("SUCCESS LOADED GAME [slot1]"));
    EXPECT_EQ(s.text("restored"), "true");
    EXPECT_FLOAT_EQ(s.global("system.volume")->toFloat(), 0.75f);
    ASSERT_NE(s.f.game->currentScene(), nullptr);
    EXPECT_STREQ(s.f.game->currentScene()->getName(), "intro");
    EXPECT_TRUE(s.f.game->currentScene()->timers.test("wait"));
    EXPECT_EQ(gameCore.sound->currentScene(), s.f.game->currentScene());
    EXPECT_EQ(s.f.lua.engine.eventsBlocked, 0);
    EXPECT_EQ(s.f.game->loading, 0);
}

TEST(SaveGameFile, RestoredLightsKeepTheirPlaceInTheSceneThroughRepeatedRestores) {
    // The scene's light list comes back from its own record: a light made
    // again from the object table must not enter it a second time.
    SaveFileFixture s;
    ASSERT_TRUE(s.runPosted(kLoadIntro));
    Scene* scene = s.f.game->currentScene();
    ASSERT_NE(scene, nullptr);
    ASSERT_NE(scene->addLight("lamp", nullptr, false), nullptr);
    for (int round = 0; round < 2; ++round) {
        ASSERT_TRUE(s.runPosted("game:save('lights')\ngame:restore('lights')\nrestored = game:state()"));
        EXPECT_EQ(s.text("restored"), "true") << round;
        scene = s.f.game->currentScene();
        ASSERT_NE(scene, nullptr);
        ASSERT_EQ(scene->lights.size(), 1u) << round;
        ASSERT_NE(scene->lookupLight("lamp"), nullptr) << round;
    }
    EXPECT_FALSE(s.f.logged("dead object pointer"));
}

// A stored scene's lights take their records of the light database for as
// long as the scene lives: leaving the harbour (whose scene data the next
// load lets go of), coming back, saving and restoring, each time the lamp
// is pushed on a loaded record and lights; the records go when the game
// releases its scenes.
TEST(SaveGameFile, ASceneLightKeepsItsRecordWhileItsSceneLives) {
    testing_support::FixturePackage package;
    for (const char* name : {"harbour", "dock"})
        for (const testing_support::FixtureFile& file :
             testing_support::storedScene(name, [](std::string record) { return record; }))
            package.files.push_back(file);
    testing_support::StoredScenes stored(package);
    ASSERT_TRUE(stored.built);
    SaveFileFixture s;
    auto lamp = [&s]() -> const Light* {
        Scene* scene = s.f.game->currentScene();
        return scene && std::strcmp(scene->getName(), "harbour") == 0
                   ? dynamic_cast<const Light*>(scene->lookupLight("harbour.lamp"))
                   : nullptr;
    };
    auto lit = [](const Light* light) {
        return light && (light->flags & kLightCollectable) == kLightCollectable && light->data &&
               light->data == lightDataManager().find("harbour.lamp") && light->data->allocated() &&
               light->resourceFor(0) != nullptr;
    };

    ASSERT_TRUE(s.runPosted("game:load('harbour')"));
    ASSERT_TRUE(lit(lamp()));
    Scene* harbour = s.f.game->currentScene();
    ASSERT_TRUE(s.runPosted("game:load('dock')"));
    ASSERT_STREQ(s.f.game->currentScene()->getName(), "dock");
    // The harbour stays loaded, popped; the frames' resource step, its
    // collection period passed each time, lets go of the harbour's scene
    // data, unused now. Its lamp keeps its record.
    Y3SceneDataInstance* harbourData = sceneDataManager()->get("harbour", false);
    for (int frame = 0; frame < 8 && harbourData->hasObject(); ++frame) {
        sceneDataManager()->setCollectionClock(1.0);
        s.render.updateResources();
    }
    ASSERT_FALSE(harbourData->hasObject());
    const Light* waiting = dynamic_cast<const Light*>(harbour->lookupLight("harbour.lamp"));
    ASSERT_NE(waiting, nullptr);
    ASSERT_EQ(lightDataManager().find("harbour.lamp"), waiting->data);
    ASSERT_TRUE(s.runPosted("game:load('harbour')"));
    ASSERT_EQ(s.f.game->currentScene(), harbour);
    EXPECT_TRUE(lit(lamp()));
    for (int round = 0; round < 2; ++round) {
        ASSERT_TRUE(s.runPosted("game:save('lamp')\ngame:restore('lamp')\nrestored = game:state()"));
        ASSERT_EQ(s.text("restored"), "true") << round;
        EXPECT_TRUE(lit(lamp())) << round;
    }
    EXPECT_FALSE(s.f.logged("Load light data first"));
    EXPECT_FALSE(s.f.logged("Light resource NOT loaded"));

    // Game over releases the scenes, and their lights' records with them,
    // though the scenes' data is still loaded.
    ASSERT_TRUE(harbourData->hasObject());
    ASSERT_TRUE(s.runPosted("game:gameOver()"));
    EXPECT_EQ(lightDataManager().find("harbour.lamp"), nullptr);
    EXPECT_EQ(lightDataManager().find("dock.lamp"), nullptr);
    // A new game makes them again.
    ASSERT_TRUE(s.runPosted("game:load('harbour')"));
    EXPECT_TRUE(lit(lamp()));
}

TEST(SaveGameFile, PhysicsObjectsComeBackWithTheirScene) {
    // A backend with a world: the scene gets a physics scene, its trigger a
    // physics trigger, and a crate's description makes a physics model.
    testing_support::TestBackend backend;
    SaveFileFixture s;
    PhysicsPackages data(s, "model crate\nactor box body size 1 1 1\n");
    ASSERT_TRUE(data.built);

    ASSERT_TRUE(s.runPosted(kLoadIntro));
    Scene* scene = s.f.game->currentScene();
    ASSERT_NE(scene, nullptr);
    PhysicsScene* world = physicsSceneOf(scene);
    ASSERT_NE(world, nullptr);
    TriggerStatic* trigger = addGate(*scene);
    ASSERT_NE(trigger, nullptr);
    ASSERT_NE(trigger->physicsTrigger.index(), 0u);
    EXPECT_EQ(gameCore.scene_getPhysicsScene(), world);
    EXPECT_FALSE(gameCore.scene_setPhysicsElementsVisible(false));
    EXPECT_TRUE(s.f.logged("Can't change scene physics elements visibility: Create scene physics model first"));
    PhysicsModel* crate = world->createModel("crate", nullptr);
    ASSERT_NE(crate, nullptr);
    EXPECT_TRUE(gameCore.scene_setPhysicsElementsVisible(false));
    EXPECT_FALSE(backend.actors.at(crate->actors[0].handle).visible);
    EXPECT_TRUE(gameCore.scene_setPhysicsElementsVisible(true));
    // The simulation moved the crate; the save keeps where it is.
    backend.actors.at(crate->actors[0].handle).pose.m[9] = 7.0f;
    ASSERT_TRUE(s.runPosted("game:save('physics')\ngame:restore('physics')\nrestored = game:state()"));
    EXPECT_EQ(s.text("restored"), "true");

    scene = s.f.game->currentScene();
    ASSERT_NE(scene, nullptr);
    world = physicsSceneOf(scene);
    ASSERT_NE(world, nullptr);
    EXPECT_NE(world->world, 0u);
    ASSERT_EQ(world->models.size(), 1u);
    ASSERT_EQ(world->triggers.size(), 1u);
    auto* model = static_cast<PhysicsModel*>(gameCore.objects->getObject(world->models[0]));
    ASSERT_NE(model, nullptr);
    EXPECT_STREQ(model->getName(), "crate");
    ASSERT_EQ(model->actors.size(), 1u);
    EXPECT_TRUE(model->flags & kPhysicsModelInitialised);
    // The load's closing step made its actor again, where it was saved.
    ASSERT_NE(model->actors[0].handle, 0u);
    EXPECT_EQ(backend.actors.at(model->actors[0].handle).pose.m[9], 7.0f);
    const std::int32_t index = scene->triggers->findTrigger("gate");
    ASSERT_GE(index, 0);
    GameObject* physicsTrigger = gameCore.objects->getObject(scene->triggers->triggerAt(index)->physicsTrigger);
    ASSERT_NE(physicsTrigger, nullptr);
    EXPECT_EQ(physicsTrigger->getType(), static_cast<std::uint32_t>(ObjectPhysicsTrigger));
    EXPECT_STREQ(physicsTrigger->getName(), "gate");
    EXPECT_NE(static_cast<PhysicsTrigger*>(physicsTrigger)->volume, 0u);
    EXPECT_FALSE(s.f.logged("dead object pointer"));
    s.f.game->releaseScenes();
}

TEST(SaveGameFile, SimulatedBodiesComeBackWhereTheSimulationLeftThem) {
    std::unique_ptr<platform::physics::Backend> bullet = platform::physics::createBulletBackend();
    platform::physics::Backend* previous = platform::physics::installBackend(bullet.get());
    {
        SaveFileFixture s;
        PhysicsPackages data(s,
                             "model floor\nactor box ground flags static group 0 size 20 0.5 20\n"
                             "model crate\nactor box body mass 1 size 0.25 0.25 0.25 at 0 3 0\n");
        ASSERT_TRUE(data.built);
        ASSERT_TRUE(s.runPosted(kLoadIntro));
        Scene* scene = s.f.game->currentScene();
        ASSERT_NE(scene, nullptr);
        PhysicsScene* world = physicsSceneOf(scene);
        ASSERT_NE(world, nullptr);
        ASSERT_NE(world->createModel("floor", nullptr), nullptr);
        PhysicsModel* crate = world->createModel("crate", nullptr);
        ASSERT_NE(crate, nullptr);
        // Two seconds of the game: the crate falls onto the floor's top (0.5).
        for (int frame = 0; frame < 120; ++frame) ASSERT_TRUE(world->updatePhase1(CurrentTime(1.0 / 60.0), 0));
        float rested[12] = {};
        ASSERT_TRUE(platform::physics::backend().getActorPose(world->world, crate->actors[0].handle, rested));
        ASSERT_NEAR(rested[10], 0.75f, 0.03f);

        ASSERT_TRUE(s.runPosted("game:save('bodies')\ngame:restore('bodies')\nrestored = game:state()"));
        EXPECT_EQ(s.text("restored"), "true");
        scene = s.f.game->currentScene();
        ASSERT_NE(scene, nullptr);
        world = physicsSceneOf(scene);
        ASSERT_NE(world, nullptr);
        ASSERT_EQ(world->models.size(), 2u);
        for (GameObjectLink link : world->models) {
            auto* model = static_cast<PhysicsModel*>(gameCore.objects->getObject(link));
            ASSERT_NE(model, nullptr);
            ASSERT_EQ(model->actors.size(), 1u);
            ASSERT_NE(model->actors[0].handle, 0u) << model->getName();
            if (std::strcmp(model->getName(), "crate") != 0) continue;
            float pose[12] = {};
            ASSERT_TRUE(platform::physics::backend().getActorPose(world->world, model->actors[0].handle, pose));
            EXPECT_NEAR(pose[10], rested[10], 0.03f);
            // The rebuilt world holds the floor: the crate stays on it.
            for (int frame = 0; frame < 60; ++frame) world->updatePhase1(CurrentTime(1.0 / 60.0), 0);
            ASSERT_TRUE(platform::physics::backend().getActorPose(world->world, model->actors[0].handle, pose));
            EXPECT_NEAR(pose[10], rested[10], 0.03f);
        }
        s.f.game->releaseScenes();
    }
    platform::physics::installBackend(previous);
}

// The physics files of a description and box models of some names in the
// save fixture's data root, with the package database, the model data
// manager and a physics core installed for the scope.
class ModelAndPhysicsPackages {
public:
    // more: further files of the models' package.
    ModelAndPhysicsPackages(SaveFileFixture& s, const char* physics, std::initializer_list<const char*> models,
                            const std::vector<testing_support::FixtureFile>& more = {})
        : usePackages_(gameCore.packages, &packages_), usePhysics_(gameCore.physics, &physics_),
          savedManager_(modelDataManager()), physicsText_(physics), paths_(s.paths) {
        for (const char* name : models)
            for (auto& file : model_test::modelFiles(model_test::boxModel(name))) boxes_.push_back(file);
        setModelDataManager(&manager_);
        built = rebuild(root_, more);
    }
    ~ModelAndPhysicsPackages() {
        manager_.releaseAll();
        setModelDataManager(savedManager_);
    }

    bool built = false;

    // The packages as a data update leaves them: the same models and
    // physics, and only these further files.
    bool update(const std::vector<testing_support::FixtureFile>& more) { return rebuild(updated_, more); }

private:
    bool rebuild(const testing_support::TempDir& root, const std::vector<testing_support::FixtureFile>& more) {
        testing_support::FixturePackage boxes;
        boxes.rule = "models.pak";
        boxes.files = boxes_;
        for (const auto& file : more) boxes.files.push_back(file);
        EXPECT_TRUE(
            testing_support::writeDataRoot(root.path(), {testing_support::physicsPackage(physicsText_), boxes}));
        paths_.setPath(PathLanguage, "en");
        paths_.setPath(PathDataRootInput, root.path());
        return packages_.build();
    }

    testing_support::TempDir root_;
    testing_support::TempDir updated_;
    PackageDatabase packages_;
    testing_support::ScopedCoreMember<PackageDatabase> usePackages_;
    PhysicsCore physics_;
    testing_support::ScopedCoreMember<PhysicsCore> usePhysics_;
    ModelDataManager manager_;
    ModelDataManager* savedManager_;
    const char* physicsText_;
    AppPaths& paths_;
    std::vector<testing_support::FixtureFile> boxes_;
};

// A game with a walking character and a trigger is saved half-way and
// restored: the character's capsule comes back where it stood, in a new
// world, and walking on through the gate raises its enter and leave once.
TEST(SaveGameFile, AWalkerRestoredBesideATriggerWalksThroughIt) {
    testing_support::BulletWorlds simulation;
    {
        SaveFileFixture s;
        ModelAndPhysicsPackages data(s,
                                     "model floor\nactor box ground flags static group 0 size 20 0.5 20 at 0 -0.5 0\n"
                                     "model hero\nactor capsule body flags controller height 1.8 radius 0.3\n",
                                     {"hero"});
        ASSERT_TRUE(data.built);
        registerTriggerClass(s.f.lua.state, s.f.lua.engine);
        ASSERT_TRUE(s.runPosted(kLoadIntro));
        Scene* scene = s.f.game->currentScene();
        ASSERT_NE(scene, nullptr);
        PhysicsScene* world = physicsSceneOf(scene);
        ASSERT_NE(world, nullptr);
        const std::uint32_t firstWorld = world->world;
        PhysicsModel* floor = world->createModel("floor", nullptr);
        ASSERT_NE(floor, nullptr);
        auto* hero = static_cast<Model*>(scene->createModel("hero", "hero", testing_support::poseAt(0, 1.25f, 0), 0));
        ASSERT_NE(hero, nullptr);
        ASSERT_NE(hero->attachedPhysics(), nullptr);
        TriggerDescription gate;
        gate.name = "gate";
        gate.pose = testing_support::poseAt(1.5f, 1.0f, 0.0f);
        gate.size[0] = 0.5f;
        gate.size[1] = 1.0f;
        gate.size[2] = 1.0f;
        TriggerStatic* trigger = scene->triggers->addTrigger(gate);
        ASSERT_NE(trigger, nullptr);
        trigger->setEnabled(true);
        ASSERT_TRUE(s.f.lua.load(R"(
            entered = ''
            left = ''
            function on_enter(name, object) entered = entered .. name .. '<' .. object end
            function on_leave(name, object) left = left .. name .. '>' .. object end
            trigger.onEnter = 'on_enter'
            trigger.onLeave = 'on_leave'
        )"));
        // Half a metre, short of the gate.
        const auto walk = [&](float metres) {
            const int frames = static_cast<int>(metres / 0.05f + 0.5f);
            for (int frame = 0; frame < frames; ++frame) {
                PhysicsModel* physics = hero->attachedPhysics();
                ASSERT_NE(physics, nullptr);
                const float step[3] = {0.05f, 0.0f, 0.0f};
                ASSERT_TRUE(physics->move(step));
                ASSERT_TRUE(world->updatePhase1(CurrentTime(1.0 / 60.0), 0));
                s.f.runEvents();
            }
        };
        walk(0.5f);
        Matrix34 before{};
        ASSERT_TRUE(hero->attachedPhysics()->syncModelPose(before));
        EXPECT_NEAR(before.m[9], 0.5f, 0.03f);
        EXPECT_EQ(s.text("entered"), "");

        ASSERT_TRUE(s.runPosted("game:save('walk')\ngame:restore('walk')\nrestored = game:state()"));
        EXPECT_EQ(s.text("restored"), "true");
        scene = s.f.game->currentScene();
        ASSERT_NE(scene, nullptr);
        world = physicsSceneOf(scene);
        ASSERT_NE(world, nullptr);
        EXPECT_NE(world->world, firstWorld);
        hero = dynamic_cast<Model*>(scene->lookupModel("hero", static_cast<std::int32_t*>(nullptr)));
        ASSERT_NE(hero, nullptr);
        ASSERT_NE(hero->attachedPhysics(), nullptr);
        Matrix34 after{};
        ASSERT_TRUE(hero->attachedPhysics()->syncModelPose(after));
        EXPECT_NEAR(after.m[9], before.m[9], 0.01f);
        EXPECT_NEAR(after.m[10], before.m[10], 0.03f);

        walk(2.5f);
        EXPECT_EQ(s.text("entered"), "gate<hero");
        EXPECT_EQ(s.text("left"), "gate>hero");
        Matrix34 end{};
        ASSERT_TRUE(hero->attachedPhysics()->syncModelPose(end));
        EXPECT_NEAR(end.m[9], 3.0f, 0.05f);
        s.f.game->releaseScenes();
    }
}

// A save whose physics scene lists links that are not its own physics
// models and triggers (itself, a trigger among the models, one model twice,
// a model of another scene) is refused before the running game is let go;
// releasing such a scene would recurse into itself or delete twice.
TEST(SaveGameFile, APhysicsSceneListingForeignObjectsIsRefusedAndTheGameRunsOn) {
    testing_support::TestBackend backend;
    SaveFileFixture s;
    PhysicsPackages data(s, "model crate\nactor box body size 1 1 1\n");
    ASSERT_TRUE(data.built);
    ASSERT_TRUE(s.runPosted(kLoadIntro));
    Scene* const scene = s.f.game->currentScene();
    ASSERT_NE(scene, nullptr);
    PhysicsScene* const world = physicsSceneOf(scene);
    ASSERT_NE(world, nullptr);
    TriggerStatic* trigger = addGate(*scene);
    ASSERT_NE(trigger, nullptr);
    PhysicsModel* crate = world->createModel("crate", nullptr);
    ASSERT_NE(crate, nullptr);
    const GameObjectLink own = GameObjectLink::fromObject(world);
    const GameObjectLink model = world->models[0];
    const GameObjectLink physicsTrigger = world->triggers[0];
    struct Case {
        const char* what;
        std::function<void()> damage;
    } cases[] = {
        {"the scene itself as its first model", [&] { world->models[0] = own; }},
        {"its trigger among the models", [&] { world->models[0] = physicsTrigger; }},
        {"its model among the triggers", [&] { world->triggers[0] = model; }},
        {"one model listed twice", [&] { world->models.push_back(model); }},
        {"a model of another scene", [&] { crate->scene = GameObjectLink::fromObject(scene); }},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.what);
        // The damaged save is written from the damaged lists; the running
        // game takes its own back at once.
        k.damage();
        ASSERT_TRUE(s.runPosted("game:save('damaged')"));
        world->models = {model};
        world->triggers = {physicsTrigger};
        crate->scene = own;
        ASSERT_TRUE(s.runPosted("game:restore('damaged')\nrestored = game:state()"));
        EXPECT_EQ(s.text("restored"), "false");
        EXPECT_TRUE(s.f.logged("Can't load physics scene [" + std::to_string(own.index()) + "]"));
        EXPECT_EQ(s.f.game->currentScene(), scene);
        EXPECT_EQ(physicsSceneOf(scene), world);
        EXPECT_EQ(gameCore.objects->getObject(model), crate);
        EXPECT_NE(crate->actors[0].handle, 0u);
    }
    // The running game saves and restores as before.
    ASSERT_TRUE(s.runPosted("game:save('whole')\ngame:restore('whole')\nrestored = game:state()"));
    EXPECT_EQ(s.text("restored"), "true");
    s.f.game->releaseScenes();
}

// A save made by a game without a simulation holds no physics scene; it
// still restores once the game runs on one, and its scene runs on.
TEST(SaveGameFile, ASaveWithoutAPhysicsSceneRestoresOnTheSimulation) {
    SaveFileFixture s;
    ModelAndPhysicsPackages data(s, "model hero\nactor capsule body flags controller height 1.8 radius 0.3\n", {"hero"});
    ASSERT_TRUE(data.built);
    ASSERT_TRUE(s.runPosted(kLoadIntro));
    Scene* scene = s.f.game->currentScene();
    ASSERT_NE(scene, nullptr);
    ASSERT_EQ(physicsSceneOf(scene), nullptr);
    ASSERT_NE(scene->createModel("hero", "hero", testing_support::poseAt(0, 1.25f, 0), 0), nullptr);
    ASSERT_TRUE(s.runPosted("game:save('old')"));
    {
        testing_support::BulletWorlds simulation;
        ASSERT_TRUE(s.runPosted("game:restore('old')\nrestored = game:state()"));
        EXPECT_EQ(s.text("restored"), "true");
        scene = s.f.game->currentScene();
        ASSERT_NE(scene, nullptr);
        EXPECT_NE(scene->lookupModel("hero", static_cast<std::int32_t*>(nullptr)), nullptr);
        for (int frame = 0; frame < 10; ++frame) {
            EXPECT_TRUE(scene->updatePhase0(CurrentTime(1.0 / 60.0), 0));
            EXPECT_TRUE(scene->updatePhase1(CurrentTime(1.0 / 60.0), 0));
        }
        s.f.game->releaseScenes();
    }
}

TEST(SaveGameFile, TheFileIsAJpegFollowedByTheGameDataAndTheFooter) {
    SaveFileFixture s;
    ASSERT_TRUE(s.runPosted(kLoadIntro));
    s.f.game->gameTime = 12.5;
    ASSERT_TRUE(s.runPosted("saved = game:save('Slot1')"));
    ASSERT_EQ(s.text("saved"), "true");

    const std::string bytes = readFile(s.userSave("slot1"));
    ASSERT_GE(bytes.size(), 1024u);
    const std::size_t size = bytes.size();
    EXPECT_EQ(static_cast<unsigned char>(bytes[0]), 0xFF);
    EXPECT_EQ(static_cast<unsigned char>(bytes[1]), 0xD8);
    const std::uint32_t imageSize = u32At(bytes, size - 8);
    ASSERT_LT(imageSize + 13, size);
    EXPECT_EQ(u32At(bytes, imageSize), 0x9A70DE33u);
    EXPECT_EQ(f64At(bytes, imageSize + 4), 12.5);
    EXPECT_EQ(static_cast<unsigned char>(bytes[imageSize + 12]), 1);  // packed game data
    EXPECT_EQ(u32At(bytes, size - 4), 0x9A70DE33u);
    EXPECT_EQ(u32At(bytes, size - 12), 0x9A70DE33u);
    EXPECT_EQ(u32At(bytes, size - 16), 0x1AE08570u);
    const std::uint32_t units = u32At(bytes, size - 20);
    ASSERT_EQ(units, 5u);  // the slot name as the script gave it
    const std::string name = bytes.substr(size - 20 - 2 * units, 2 * units);
    EXPECT_EQ(name, std::string("S\0l\0o\0t\0001\0", 10));

    // The image alone is the screenshot at the configured size.
    TgaImage image;
    ASSERT_TRUE(decodeImage(reinterpret_cast<const std::uint8_t*>(bytes.data()), imageSize, image));
    EXPECT_EQ(image.width, 320u);
    EXPECT_EQ(image.height, 240u);
    // The whole file reads as that image too, as an image viewer would read it.
    TgaImage whole;
    ASSERT_TRUE(decodeImage(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size(), whole));
    EXPECT_EQ(whole.width, 320u);
}

TEST(SaveGameFile, ACutFileIsBrokenAndTheGameGoesOn) {
    SaveFileFixture s;
    ASSERT_TRUE(s.runPosted(kLoadIntro));
    ASSERT_TRUE(s.runPosted("game:save('slot1')"));
    const std::string whole = readFile(s.userSave("slot1"));
    ASSERT_TRUE(writeFile(s.userSave("cut"), whole.substr(0, 1000)));
    Scene* current = s.f.game->currentScene();

    ASSERT_TRUE(s.runPosted("game:restore('cut')\nrestored = game:state()"));
    EXPECT_TRUE(s.f.logged("Can't load game header ["));
    EXPECT_TRUE(s.f.logged("]: Save file is broken"));
    EXPECT_EQ(s.text("restored"), "false");
    EXPECT_EQ(s.f.game->currentScene(), current);
    // The scene is handed back to the sound core, and events run again.
    EXPECT_EQ(gameCore.sound->currentScene(), current);
    EXPECT_EQ(s.f.lua.engine.eventsBlocked, 0);
    EXPECT_EQ(s.f.game->loading, 0);
}

TEST(SaveGameFile, AFullPathRestoresThatFileAndAMissingOneFails) {
    SaveFileFixture s;
    ASSERT_TRUE(s.runPosted(kLoadIntro));
    ASSERT_TRUE(s.runPosted("game:save('slot1')"));
    const std::string copy = s.user.file("elsewhere.jpg");
    std::filesystem::copy_file(s.userSave("slot1"), copy);
    std::filesystem::remove(s.userSave("slot1"));

    ASSERT_TRUE(s.runPosted("game:restore('" + copy + "')\nrestored = game:state()"));
    EXPECT_EQ(s.text("restored"), "true");
    ASSERT_TRUE(s.runPosted("game:restore('slot1')\nrestored = game:state()"));
    EXPECT_EQ(s.text("restored"), "false");
    EXPECT_TRUE(s.f.logged("Fail to open save file ["));
}

TEST(SaveGameFile, AFailedSaveLeavesThePreviousSaveWhole) {
    SaveFileFixture s;
    ASSERT_TRUE(s.runPosted(kLoadIntro));
    ASSERT_TRUE(s.runPosted("game:save('slot1')"));
    const std::string before = readFile(s.userSave("slot1"));
    ASSERT_FALSE(before.empty());

    // The file the save is written to first cannot be created.
    std::filesystem::create_directory(s.userSave("slot1") + ".tmp");
    s.f.game->gameTime = 99.0;
    ASSERT_TRUE(s.runPosted("again = game:save('slot1')"));
    EXPECT_EQ(s.text("again"), "false");
    EXPECT_TRUE(s.f.logged("Fail to create file ["));
    EXPECT_EQ(readFile(s.userSave("slot1")), before);
}

TEST(SaveGameFile, SlotNamesThatLeaveTheSaveFolderAreRefused) {
    SaveFileFixture s;
    ASSERT_TRUE(s.runPosted(kLoadIntro));
    const char* const names[] = {"..\\\\escape", "../escape", "sub/slot", "sub\\\\slot", "..", "c:slot", ""};
    for (const char* name : names) {
        ASSERT_TRUE(s.runPosted(std::string("saved = game:save('") + name + "')\ndeleted = game:delete('" + name +
                                "')\ngame:restore('" + name + "')\nrestored = game:state()"));
        EXPECT_EQ(s.text("saved"), "false") << name;
        EXPECT_EQ(s.text("deleted"), "false") << name;
        EXPECT_EQ(s.text("restored"), "false") << name;
    }
    EXPECT_TRUE(s.f.logged("a save name is a file name without folders"));
    EXPECT_FALSE(std::filesystem::exists(s.user.file("escape.jpg")));
    EXPECT_FALSE(std::filesystem::exists(s.user.file("games/escape.jpg")));
    EXPECT_NE(s.f.game->currentScene(), nullptr);
}

TEST(SaveGameFile, TheSaveGameBlockRoundTripsAndRefusesOversizedFields) {
    SaveFileFixture s;
    SaveGame& game = *s.f.game;
    game.gameTime = 3.25;
    game.scene = "harbour";
    game.onProgress = "on_progress";
    game.onStartProgress = "";
    game.onFinishProgress = "on_finish";
    game.scenes = {7, 9};
    game.currentIndex = 1;
    MemoryStream stream;
    const std::int32_t written = game.write(stream);
    ASSERT_GT(written, 0);

    game.releaseScenes();
    game.onProgress.clear();
    stream.setPosition(0);
    EXPECT_EQ(game.read(stream), written);
    EXPECT_EQ(game.gameTime, 3.25);
    EXPECT_EQ(game.scene, "harbour");
    EXPECT_EQ(game.onProgress, "on_progress");
    EXPECT_EQ(game.onStartProgress, "");
    EXPECT_EQ(game.onFinishProgress, "on_finish");
    EXPECT_EQ(game.scenes, (std::vector<std::uint32_t>{7, 9}));
    EXPECT_EQ(game.currentIndex, 1);
    EXPECT_EQ(game.progress, 0.0f);
    game.scenes.clear();
    game.currentIndex = -1;

    // A text that does not fit its 2,048-byte buffer, a text or a scene list
    // running past the data: refused.
    struct Case {
        const char* what;
        std::uint32_t textLength;
        std::uint32_t sceneCount;
    };
    const Case cases[] = {{"text of 2,048 bytes", 2048, 0},
                          {"text past the end", 100, 0},
                          {"scene list past the end", 0, 1000000}};
    for (const Case& c : cases) {
        MemoryStream bad;
        writeF64(bad, 1.0);
        writeI32(bad, 0);
        writeU32(bad, c.textLength);
        if (c.textLength == 2048) bad.write(std::string(2048, 'x').data(), 2048);
        if (c.textLength != 100) {
            for (int i = 0; i < 3; ++i) writeU32(bad, 0);
            writeU32(bad, c.sceneCount);
        }
        bad.setPosition(0);
        EXPECT_LT(game.read(bad), 0) << c.what;
    }
    EXPECT_TRUE(s.f.logged("Save file is broken"));
}

TEST(SaveGameFile, TheFooterDecidesValidityAndTheDisplayName) {
    SaveFileFixture s;
    ASSERT_TRUE(s.runPosted(kLoadIntro));
    ASSERT_TRUE(s.runPosted("game:save('slot1')"));
    const std::string good = readFile(s.userSave("slot1"));
    const std::size_t size = good.size();

    auto footer = [](const std::string& bytes, SaveHeader& header) {
        MemoryStream stream;
        stream.write(bytes.data(), static_cast<std::int32_t>(bytes.size()));
        stream.setPosition(0);
        return SaveGame::readFooter(stream, header);
    };
    auto patched = [&](std::size_t offset, std::uint32_t value) {
        std::string bytes = good;
        for (int i = 0; i < 4; ++i) bytes[offset + i] = static_cast<char>(value >> (8 * i));
        return bytes;
    };

    SaveHeader header;
    header.displayName = u"default";
    ASSERT_TRUE(footer(good, header));
    EXPECT_EQ(header.displayName, u"slot1");

    // Without the footer tag the file is still valid and keeps the caller's name.
    header.displayName = u"default";
    ASSERT_TRUE(footer(patched(size - 16, 0), header));
    EXPECT_EQ(header.displayName, u"default");

    // The smallest name length whose text would start inside the magic and
    // game time behind the image.
    const std::uint32_t imageSize = u32At(good, size - 8);
    const auto intoHeader = static_cast<std::uint32_t>((size - 20 - imageSize - 12) / 2 + 1);
    ASSERT_LE(intoHeader, 511u);
    struct Case {
        const char* what;
        std::string bytes;
    };
    const Case broken[] = {
        {"shorter than a magic, a game time and a footer", good.substr(size - 31)},
        {"last magic", patched(size - 4, 0)},
        {"middle magic", patched(size - 12, 0)},
        {"image size past the end", patched(size - 8, static_cast<std::uint32_t>(size))},
        {"no magic behind the image", patched(size - 8, 16)},
        {"name longer than its buffer", patched(size - 20, 512)},
        {"name reaching back over the image's time", patched(size - 20, intoHeader)},
    };
    for (const Case& c : broken) {
        SaveHeader probe;
        EXPECT_FALSE(footer(c.bytes, probe)) << c.what;
    }
}

TEST(SaveGameFile, DamagedFilesFailCleanly) {
    SaveFileFixture s;
    ASSERT_TRUE(s.runPosted(kLoadIntro));
    ASSERT_TRUE(s.runPosted("game:save('slot1')"));
    const std::string good = readFile(s.userSave("slot1"));
    const std::size_t imageSize = u32At(good, good.size() - 8);

    // Every 23rd byte behind the image flipped in turn, and cuts at several
    // lengths: each file loads or fails, and a failure keeps the game going.
    std::vector<std::string> damaged;
    for (std::size_t at = imageSize; at < good.size(); at += 23) {
        std::string bytes = good;
        bytes[at] = static_cast<char>(bytes[at] ^ 0x5A);
        damaged.push_back(bytes);
    }
    for (const std::size_t cut : {good.size() - 1, good.size() - 21, imageSize + 13, std::size_t{1024}})
        damaged.push_back(good.substr(0, cut));
    for (std::size_t i = 0; i < damaged.size(); ++i) {
        ASSERT_TRUE(writeFile(s.userSave("damaged"), damaged[i]));
        ASSERT_TRUE(s.runPosted("game:restore('damaged')\nrestored = game:state()"));
        if (s.text("restored") == "false") {
            EXPECT_EQ(gameCore.sound->currentScene(), s.f.game->currentScene()) << i;
            EXPECT_EQ(s.f.lua.engine.eventsBlocked, 0) << i;
        }
        EXPECT_EQ(s.f.game->loading, 0) << i;
        if (!s.f.game->currentScene()) {
            ASSERT_TRUE(s.runPosted(kLoadIntro));
        }
    }
}

TEST(SaveGameFile, ALoadThatCannotReleaseTheScenesStopsBeforeReading) {
    SaveFileFixture s;
    ASSERT_TRUE(s.runPosted(kLoadIntro));
    // A listed scene that no longer resolves: the release reports it.
    s.f.game->scenes.push_back(0x00FFFFFFu);
    MemoryStream data;
    ASSERT_EQ(writeU32(data, 0x40u), 4);
    data.setPosition(0);
    EXPECT_EQ(gameCore.load_all(data), -1);
    EXPECT_TRUE(s.f.logged("Can't find scene object [1]"));
    EXPECT_TRUE(s.f.logged("---------Fail to release current scenes data---------"));
    // Nothing was read: the flags word is still in the stream.
    EXPECT_EQ(data.tell(), 0);
    EXPECT_TRUE(s.f.game->scenes.empty());
}

TEST(SaveGameFile, DamagedGameDataIsRefusedWithTheRunningGameAsItWas) {
    SaveFileFixture s;
    ASSERT_TRUE(s.runPosted(kLoadIntro));
    ASSERT_TRUE(s.runPosted("globals:get('system.volume').value = 0.75\ngame:save('slot1')"));
    const testing_support::SaveFileData save(readFile(s.userSave("slot1")));
    ASSERT_TRUE(save.packed);
    ASSERT_TRUE(save.unpacked);
    const std::string& plain = save.plain;
    // The same file around other game data: header and packing intact.
    const auto withData = [&](const std::string& bytes) { return save.withData(bytes); };
    // A current scene index past the saved scene list, and cuts all along.
    std::string badIndex = plain;
    const std::size_t maskLength = static_cast<unsigned char>(plain[4]) | static_cast<unsigned char>(plain[5]) << 8;
    const std::size_t indexAt = 4 + 2 + maskLength + 8;  // flags, mask, the save game's time
    badIndex[indexAt] = 7;
    std::vector<std::string> damaged = {badIndex, plain.substr(0, plain.size() / 2), plain.substr(0, 3)};
    for (std::size_t cut = 5; cut < plain.size(); cut += 11) damaged.push_back(plain.substr(0, cut));

    for (std::size_t i = 0; i < damaged.size(); ++i) {
        SCOPED_TRACE(i);
        ASSERT_TRUE(s.runPosted("globals:get('system.volume').value = 0.25"));
        Scene* const current = s.f.game->currentScene();
        ASSERT_NE(current, nullptr);
        const std::size_t scenes = s.f.game->scenes.size();
        const std::string sceneName = s.f.game->scene;
        const double gameTime = s.f.game->gameTime;
        ASSERT_TRUE(writeFile(s.userSave("damaged"), withData(damaged[i])));
        ASSERT_TRUE(s.runPosted("game:restore('damaged')\nrestored = game:state()"));
        if (i < 3) {
            EXPECT_EQ(s.text("restored"), "false");
        }
        if (s.text("restored") == "true") continue;  // a cut behind a whole object record: a shorter save
        EXPECT_EQ(s.f.game->currentScene(), current);
        EXPECT_EQ(s.f.game->scenes.size(), scenes);
        EXPECT_EQ(s.f.game->scene, sceneName);
        EXPECT_EQ(s.f.game->gameTime, gameTime);
        EXPECT_FLOAT_EQ(s.global("system.volume")->toFloat(), 0.25f);
        EXPECT_EQ(gameCore.sound->currentScene(), current);
        EXPECT_EQ(s.f.lua.engine.eventsBlocked, 0);
    }
    EXPECT_TRUE(s.f.logged("Fail to load game from file ["));
    EXPECT_FALSE(s.f.logged("Can't find scene object"));
}

// A save the game writes is one it can restore, or it is refused with the
// reason and no slot is written: without a scene, and right after a stored
// scene with visibility areas has loaded (before any camera update), and
// again from the restored game, which runs in the still-frame camera mode.
TEST(SaveGameFile, WhatTheGameWritesItRestores) {
    testing_support::FixturePackage package;
    package.files = testing_support::storedScene("harbour", [](std::string record) { return record; });
    testing_support::StoredScenes stored(package);
    ASSERT_TRUE(stored.built);
    SaveFileFixture s;

    ASSERT_TRUE(s.runPosted("saved = game:save('none')"));
    EXPECT_EQ(s.text("saved"), "false");
    EXPECT_TRUE(s.f.logged("Can't save game [none]: Current scene not selected"));
    EXPECT_FALSE(std::filesystem::exists(s.userSave("none")));

    ASSERT_TRUE(s.runPosted("game:load('harbour')"));
    ASSERT_NE(s.f.game->currentScene(), nullptr);
    ASSERT_EQ(s.f.game->currentScene()->pvs.areas.size(), 2u);
    for (const char* slot : {"early", "again"}) {
        SCOPED_TRACE(slot);
        ASSERT_TRUE(s.runPosted(std::string("saved = game:save('") + slot + "')\ngame:restore('" + slot +
                                "')\nrestored = game:state()"));
        EXPECT_EQ(s.text("saved"), "true");
        EXPECT_EQ(s.text("restored"), "true");
        Scene* scene = s.f.game->currentScene();
        ASSERT_NE(scene, nullptr);
        EXPECT_STREQ(scene->getName(), "harbour");
        ASSERT_NE(scene->camera(), nullptr);
        EXPECT_EQ(scene->camera()->pvs.areas.size(), 2u);
    }
    EXPECT_FALSE(s.f.logged("Can't read camera visibility data"));
}

// Restores that name what is not there. A path grid object without data
// (the route search makes one in a scene without a grid file) and an
// animation that a data update removed come back as a grid without data and
// an instance that takes no part: the restore succeeds. A scene that lists
// an object the save does not hold, and a particle whose effect is gone,
// are refused before the running game is let go, with the reason.
TEST(SaveGameFile, RestoresOfMissingResourcesSucceedOrAreRefusedWithTheGameKept) {
    const std::vector<testing_support::FixtureFile> walker = [] {
        std::vector<testing_support::FixtureFile> files = model_test::modelFiles(
            "model walker\nelement body\nlod\nbone root 0 rest 0 0 0 1 0 0 0\n"
            "box 0.5 0.5 0.5\nlod\nbox 0.5 0.5 0.5\nlod\nbox 0.5 0.5 0.5\n");
        for (auto& file : animation_tests::animationFiles("map default\nmapbone root 1 0 0 0 0\n"))
            files.push_back(file);
        return files;
    }();
    std::vector<testing_support::FixtureFile> all = walker;
    for (auto& file : animation_tests::animationFiles("anim walker.sway 3 loop\ntrack root 0 2\nchannel tx 0 0 1 2\n"))
        all.push_back(file);
    std::string error;
    all.push_back({".effect", "smoke", particle_tools::effectFileBytes("name smoke\nlayer plume\n", error), ""});
    ASSERT_FALSE(all.back().bytes.empty()) << error;

    AnimationCore animations;
    testing_support::ScopedCoreMember<AnimationCore> useAnimations{gameCore.animation, &animations};
    PathGridDataManager grids;
    testing_support::ScopedCoreMember<PathGridDataManager> useGrids{gameCore.pathGrids, &grids};
    SaveFileFixture s;
    ModelAndPhysicsPackages data(s, "model floor\nactor box ground flags static group 0 size 20 0.5 20 at 0 -0.5 0\n",
                                 {}, all);
    ASSERT_TRUE(data.built);
    ASSERT_TRUE(s.runPosted(kLoadIntro));
    Scene* scene = s.f.game->currentScene();
    ASSERT_NE(scene, nullptr);
    auto* model = static_cast<Model*>(scene->createModel("walker", "walker_a", testing_support::poseAt(0, 0, 0), 0));
    ASSERT_NE(model, nullptr);
    // Shown in the scene, the model plays the animation from its data.
    ASSERT_TRUE(model->push());
    ASSERT_TRUE(model->playSequence("[walker.sway]"));
    ASSERT_EQ(model->animation.body().instances().size(), 1u);
    ASSERT_TRUE(model->animation.body().instances()[0]->isInitialized());
    // The route search's grid of the model: the scene has no grid file.
    auto* grid = dynamic_cast<Grid*>(scene->createGrid("walker_a"));
    ASSERT_NE(grid, nullptr);
    EXPECT_EQ(grid->access(true), nullptr);
    ASSERT_TRUE(s.runPosted("saved = game:save('walk')"));
    ASSERT_EQ(s.text("saved"), "true");
    ASSERT_NE(scene->createParticle("smoke_a", "smoke", testing_support::poseAt(0, 1, 0)), nullptr);
    ASSERT_TRUE(s.runPosted("saved = game:save('smoke')"));
    ASSERT_EQ(s.text("saved"), "true");

    // The scene's model list names a handle that no saved object has. The
    // scene's record holds its grid list, then its model list.
    const testing_support::SaveFileData slot(readFile(s.userSave("walk")));
    ASSERT_FALSE(slot.plain.empty());
    std::string listed = slot.plain;
    const std::string lists = u32Bytes(1) + u32Bytes(objectHandle(grid)) + u32Bytes(1) + u32Bytes(objectHandle(model));
    const std::size_t at = listed.find(lists);
    ASSERT_NE(at, std::string::npos);
    listed.replace(at + 12, 4, u32Bytes(0x7FFFFFFFu));
    ASSERT_TRUE(writeFile(s.userSave("listed"), slot.withData(listed)));
    ASSERT_TRUE(s.runPosted("game:restore('listed')\nrestored = game:state()"));
    EXPECT_EQ(s.text("restored"), "false");
    EXPECT_TRUE(s.f.logged("Can't load game: a scene lists model [2147483647] that the save does not hold"));
    EXPECT_FALSE(s.f.logged("LOAD GAME [listed]"));
    EXPECT_EQ(s.f.game->currentScene(), scene);

    // The game ends; a data update removes the animation and the effect; a
    // new game restores the slots from its running scene. The particle
    // cannot come back without its effect: refused, the game kept.
    s.f.game->releaseScenes();
    animations.animations().releaseAll();
    ASSERT_TRUE(data.update(walker));
    ASSERT_TRUE(s.runPosted(kLoadIntro));
    scene = s.f.game->currentScene();
    ASSERT_NE(scene, nullptr);
    ASSERT_TRUE(s.runPosted("game:restore('smoke')\nrestored = game:state()"));
    EXPECT_EQ(s.text("restored"), "false");
    EXPECT_TRUE(s.f.logged("Can't create particle [smoke] for loading: its effect is not in the packages"));
    EXPECT_FALSE(s.f.logged("LOAD GAME [smoke]"));
    EXPECT_EQ(s.f.game->currentScene(), scene);
    ASSERT_TRUE(s.runPosted("game:restore('walk')\nrestored = game:state()"));
    EXPECT_EQ(s.text("restored"), "true");
    scene = s.f.game->currentScene();
    ASSERT_NE(scene, nullptr);
    model = dynamic_cast<Model*>(scene->lookupModel("walker_a", static_cast<std::int32_t*>(nullptr)));
    ASSERT_NE(model, nullptr);
    ASSERT_EQ(model->animation.body().instances().size(), 1u);
    EXPECT_NE(model->animation.body().instances()[0]->flags & kInstanceInvalid, 0u);
    EXPECT_TRUE(s.f.logged("its data can't be loaded, the restored instance is invalid"));
    EXPECT_NE(scene->lookupGrid("walker_a"), nullptr);
    for (int frame = 0; frame < 5; ++frame) {
        EXPECT_TRUE(scene->updatePhase0(CurrentTime(1.0 / 60.0), 0));
        EXPECT_TRUE(scene->updatePhase1(CurrentTime(1.0 / 60.0), 0));
    }
    s.f.game->releaseScenes();
}

// A saved model whose pose or scale is not a number: the restore refuses
// the save before it lets the running game go, and says why.
TEST(SaveGameFile, AModelSavedWithoutAFinitePoseIsRefusedAndTheGameGoesOn) {
    SaveFileFixture s;
    ModelAndPhysicsPackages data(s, "model floor\nactor box ground flags static group 0 size 20 0.5 20 at 0 -0.5 0\n",
                                 {"crate"});
    ASSERT_TRUE(data.built);
    ASSERT_TRUE(s.runPosted(kLoadIntro));
    Scene* const current = s.f.game->currentScene();
    ASSERT_NE(current, nullptr);
    ASSERT_NE(current->createModel("crate", "crate_b", testing_support::poseAt(1.0f, 0.0f, 2.0f), 0), nullptr);
    ASSERT_TRUE(s.runPosted("game:save('slot1')"));
    const testing_support::SaveFileData saved(readFile(s.userSave("slot1")));
    ASSERT_FALSE(saved.plain.empty());
    // The model's record: its instance name (a u16 count and the bytes),
    // then the twelve floats of its pose and the three of its scale.
    const std::string name = std::string("\x07\0", 2) + "crate_b";
    const std::size_t record = saved.plain.find(name);
    ASSERT_NE(record, std::string::npos);
    const std::size_t poseAt = record + name.size();
    const struct {
        const char* what;
        std::size_t at;
        float value;
    } cases[] = {
        {"NaN position", poseAt + 4 * 9, std::numeric_limits<float>::quiet_NaN()},
        {"infinite axis", poseAt + 4 * 4, std::numeric_limits<float>::infinity()},
        {"infinite scale", poseAt + 48 + 4, -std::numeric_limits<float>::infinity()},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::string bytes = saved.plain;
        std::memcpy(bytes.data() + c.at, &c.value, sizeof(c.value));
        ASSERT_TRUE(writeFile(s.userSave("damaged"), saved.withData(bytes)));
        ASSERT_TRUE(s.runPosted("game:restore('damaged')\nrestored = game:state()"));
        // A restore that went on has let the running scene go.
        ASSERT_EQ(s.text("restored"), "false");
        EXPECT_TRUE(s.f.logged("Can't load model [crate_b]: its pose or scale is not a finite number"));
        ASSERT_EQ(s.f.game->currentScene(), current);
        auto* crate = dynamic_cast<Model*>(current->lookupModel("crate_b", static_cast<std::int32_t*>(nullptr)));
        ASSERT_NE(crate, nullptr);
        EXPECT_FLOAT_EQ(crate->worldMatrix.m[9], 1.0f);
    }
    // The save itself restores.
    ASSERT_TRUE(s.runPosted("game:restore('slot1')\nrestored = game:state()"));
    EXPECT_EQ(s.text("restored"), "true");
    s.f.game->releaseScenes();
}
