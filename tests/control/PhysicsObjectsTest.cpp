// The physics core, scenes, models and triggers: the fixed results of the
// null backend, the records and messages of the objects, and the paths
// that need a world, driven through a backend of the tests that keeps its
// actors and moves in memory.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "app/GameCore.h"
#include "app/ObjectFactories.h"
#include "control/ClothInstance.h"
#include "control/ControlSettings.h"
#include "control/PhysicsCore.h"
#include "control/PhysicsModel.h"
#include "control/PhysicsScene.h"
#include "foundation/DataStream.h"
#include "physics/PhysicsWriter.h"
#include "platform/physics/PhysicsBackend.h"
#include "resources/ResourceTestSupport.h"
#include "model/ModelElement.h"
#include "model/Y3Mesh.h"
#include "scene/ObjectRepository.h"
#include "control/PhysicsTestBackend.h"
#include "support/SettingsFixture.h"

using namespace resource_tests;
namespace backend = platform::physics;

namespace {

bool contains(const std::vector<std::string>& texts, const std::string& part) {
    for (const std::string& text : texts)
        if (text.find(part) != std::string::npos) return true;
    return false;
}

// Packages with the physics models of a description, an object table and
// a physics core in the game core; hooks recorded.
class PhysicsFixture : public ::testing::Test {
protected:
    explicit PhysicsFixture(const char* description = "model crate\nactor box body size 1 1 1\n"
                                                      "model hero\nactor capsule body flags controller height 2 "
                                                      "radius 0.5\nactor box lamp bone hand at 0 1 0\n"
                                                      "joint fixed weld actors 0 1\n"
                                                      "model broken\nactor 9 x\n")
        : packages_(files(description)), objects_(gameCore.objects, &repository_), physics_(gameCore.physics, &core_) {
        physicsModelHooks().controllerType = [](GameObject&) { return -1; };
        physicsModelHooks().setController = [this](GameObject& model, std::int32_t type) {
            controllers.push_back(std::string(model.getName()) + ":" + std::to_string(type));
        };
    }
    ~PhysicsFixture() override { physicsModelHooks() = PhysicsModelHooks{}; }

    static std::vector<testing_support::FixtureFile> files(const char* text) {
        physics_tools::PhysicsDescription description;
        std::string error;
        physics_tools::parsePhysicsDescription(text, description, error);
        std::vector<testing_support::FixtureFile> out;
        for (const auto& file : physics_tools::physicsFiles(description)) {
            const std::size_t dot = file.name.rfind('.');
            out.push_back(storedFile(file.name.substr(dot), file.name.substr(0, dot), file.bytes));
        }
        return out;
    }

    Log& log() { return packages_.log(); }
    std::vector<std::string> since(std::size_t mark) { return logSince(log(), mark); }

    ScopedPackages packages_;
    ObjectRepository repository_;
    testing_support::ScopedCoreMember<ObjectRepository> objects_;
    PhysicsCore core_;
    testing_support::ScopedCoreMember<PhysicsCore> physics_;
    std::vector<std::string> controllers;
};

TEST(PhysicsSettings, DefaultsOfAnEmptyStore) {
    testing_support::SettingsFixture f;
    readCharacterPhysicsSettings(f.settings);
    readPhysicsModelSettings(f.settings);
    EXPECT_FLOAT_EQ(physicsSettings.chrSkinWidth, 0.05f);
    EXPECT_FLOAT_EQ(physicsSettings.chrStepHeight, 0.4f);
    EXPECT_FLOAT_EQ(physicsSettings.chrMinStep, 0.001f);
    EXPECT_FLOAT_EQ(physicsSettings.chrTeleportStep[0], -0.002f);
    EXPECT_FLOAT_EQ(physicsSettings.chrTeleportStep[1], -0.002f);
    EXPECT_FLOAT_EQ(physicsSettings.chrTeleportStep[2], 0.0f);
    EXPECT_NEAR(physicsSettings.chrSlopeCosine, 0.0872f, 1e-4f);
    EXPECT_EQ(physicsSettings.debugPhysicsModelName, "");
    EXPECT_FLOAT_EQ(physicsSettings.controllerSkinMultiplier, 1.0f);
}

using PhysicsNullBackend = PhysicsFixture;

TEST_F(PhysicsNullBackend, MakesNoWorld) {
    EXPECT_TRUE(core_.initialize());
    EXPECT_FALSE(core_.openSDK());
    EXPECT_EQ(PhysicsSceneManager::Create("scene"), nullptr);
    PhysicsScene scene("scene", 0);
    EXPECT_FALSE(scene.initialize(true, true));
    // A description with actors cannot be initialised without a world.
    EXPECT_EQ(scene.createModel("crate", nullptr), nullptr);
    EXPECT_TRUE(scene.models.empty());
}

TEST_F(PhysicsNullBackend, ARestoredModelHasNoMovesNorHandles) {
    PhysicsScene scene("scene", 0);
    testing_support::SourceModel source("barrel");
    auto* saved = static_cast<PhysicsModel*>(gameCore.loadCreatePhysicsModel("crate"));
    ASSERT_NE(saved, nullptr);
    saved->source = GameObjectLink::fromObject(&source);
    saved->scene = GameObjectLink::fromObject(&scene);
    saved->actors.resize(2);
    saved->actors[1].flags = kPhysicsActorVisible;
    saved->actors[1].move[0] = 3.0f;
    saved->actors[1].handle = 7;
    saved->actors[1].pose.m[9] = 5.0f;
    saved->joints = {11, 12, 13};
    ASSERT_TRUE(saved->push());
    const std::size_t mark = log().recordCount();
    EXPECT_FALSE(saved->push());
    EXPECT_EQ(since(mark), std::vector<std::string>{"Can't push physics model [barrel] twice"});
    MemoryStream stream;
    ASSERT_GT(saved->write(stream), 0);
    stream.setPosition(0);
    saved->actors[1].handle = 0;
    saved->joints = {};
    ASSERT_TRUE(saved->pop(0));
    delete saved;

    auto* loaded = static_cast<PhysicsModel*>(gameCore.loadCreatePhysicsModel("crate"));
    ASSERT_NE(loaded, nullptr);
    EXPECT_STREQ(loaded->displayName(), "Unlinked physics model");
    ASSERT_EQ(loaded->read(stream), stream.size());
    ASSERT_EQ(loaded->actors.size(), 2u);
    for (const PhysicsActorInstance& actor : loaded->actors) {
        EXPECT_EQ(actor.handle, 0u);
        EXPECT_EQ(actor.move[0], 0.0f);
    }
    EXPECT_EQ(loaded->actors[1].pose.m[9], 5.0f);
    EXPECT_EQ(loaded->joints, (std::vector<std::uint32_t>{0, 0, 0}));
    EXPECT_TRUE(loaded->flags & kPhysicsModelInitialised);
    EXPECT_FALSE(loaded->flags & kPhysicsModelPushed);
    EXPECT_STREQ(loaded->displayName(), "barrel");
    EXPECT_STREQ(loaded->getName(), "crate");
    loaded->release();
    delete loaded;
}

TEST_F(PhysicsNullBackend, DamagedRecordsAreRefusedBeforeARestore) {
    std::string manyActors(28, '\0');
    manyActors += std::string("\xFF\xFF\xFF\x0F", 4);  // far more actors than follow
    manyActors += std::string(8, '\0');
    std::string manyJoints(32, '\0');
    manyJoints += std::string("\x00\x00\x00\x40", 4);
    struct Case {
        const char* what;
        std::uint32_t type;
        const char* name;
        std::string bytes;
        const char* message;
    } cases[] = {
        {"actor count", ObjectPhysicsModel, "crate", manyActors, "exceed the save"},
        {"joint count", ObjectPhysicsModel, "crate", manyJoints, nullptr},
        {"no description", ObjectPhysicsModel, "thing", std::string(40, '\0'),
         "Can't create physics model [thing] for loading"},
        {"short trigger", ObjectPhysicsTrigger, "thing", std::string(6, '\0'), nullptr},
        {"physics scene without a world", ObjectPhysicsScene, "thing", std::string(12, '\0'),
         "Can't create physics scene [thing] for loading"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ObjectRepository::SavedRecord record;
        record.type = c.type;
        record.name = c.name;
        MemoryStream stream(const_cast<char*>(c.bytes.data()), static_cast<std::int32_t>(c.bytes.size()));
        const std::size_t mark = log().recordCount();
        {
            testing_support::LargestAllocation largest;
            EXPECT_LT(checkObjectForLoading(record, stream), 0);
            if (testing_support::LargestAllocation::recording()) {
                EXPECT_LT(largest.bytes(), 1u << 20);
            }
        }
        if (c.message) {
            EXPECT_TRUE(contains(since(mark), c.message));
        }
    }
    const std::size_t mark = log().recordCount();
    EXPECT_EQ(gameCore.loadCreatePhysicsModel("missing"), nullptr);
    EXPECT_TRUE(contains(since(mark), "Can't create physics model [missing] for loading"));
}

TEST_F(PhysicsNullBackend, ObjectsReportTheirMisuse) {
    PhysicsScene scene("scene", 0);
    testing_support::SourceModel plate("plate");
    struct Case {
        const char* what;
        std::function<bool()> run;
        bool result;
        const char* message;
    } cases[] = {
        {"pop an unpushed trigger",
         [&] {
             PhysicsTrigger* trigger = scene.addTrigger("plate", &plate);
             return trigger && trigger->pop(0);
         },
         false, "Can't pop physics trigger [plate]: Push first"},
        {"same trigger name", [&] { return scene.addTrigger("plate", &plate) != nullptr; }, false,
         "Physics trigger with name [plate] already exist"},
        {"move a model that is no controller",
         [&] {
             std::unique_ptr<PhysicsModel> model(static_cast<PhysicsModel*>(gameCore.loadCreatePhysicsModel("crate")));
             model->source = GameObjectLink::fromObject(&plate);
             const float delta[3] = {1, 0, 0};
             return model->move(delta);
         },
         false, "Fail to move physics model [plate]: Model must be CONTROLLER"},
        {"remove a model of another scene",
         [&] {
             std::unique_ptr<PhysicsModel> model(static_cast<PhysicsModel*>(gameCore.loadCreatePhysicsModel("crate")));
             return scene.removeModel(model.get());
         },
         false, "Can't find physics model object [Unlinked physics model] in physics scene [scene]"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::size_t mark = log().recordCount();
        EXPECT_EQ(c.run(), c.result);
        EXPECT_TRUE(contains(since(mark), c.message)) << c.message;
    }
    ASSERT_EQ(scene.triggers.size(), 1u);
    auto* trigger = static_cast<PhysicsTrigger*>(repository_.getObject(scene.triggers[0]));
    EXPECT_STREQ(trigger->getName(), "plate");
    EXPECT_EQ(trigger->getSceneLink(), GameObjectLink::fromObject(&plate).value);
    MemoryStream stream;
    ASSERT_EQ(trigger->write(stream), 8);
    stream.setPosition(0);
    auto* loaded = static_cast<PhysicsTrigger*>(gameCore.loadCreatePhysicsTrigger("plate"));
    ASSERT_EQ(loaded->read(stream), 8);
    EXPECT_EQ(loaded->source.value, trigger->source.value);
    EXPECT_FALSE(loaded->pushed);
    delete loaded;
    scene.release();
    // The source gone, the trigger loses its name.
    PhysicsTrigger orphan("gone", GameObjectLink{}, GameObjectLink{});
    {
        testing_support::SourceModel temporary("temporary");
        orphan.source = GameObjectLink::fromObject(&temporary);
    }
    EXPECT_STREQ(orphan.getName(), "Broken physic trigger");
    EXPECT_EQ(orphan.getSceneLink(), 0u);
}

// A scene trigger switched off pops its physics trigger; the scene's own pop
// (a load replacing the scene) passes it by without an error.
TEST_F(PhysicsNullBackend, AScenePopPassesATriggerSwitchedOffBefore) {
    PhysicsScene scene("scene", 0);
    testing_support::SourceModel plate("plate");
    PhysicsTrigger* trigger = scene.addTrigger("plate", &plate);
    ASSERT_NE(trigger, nullptr);
    ASSERT_TRUE(scene.push());
    ASSERT_TRUE(trigger->pushed);
    ASSERT_TRUE(trigger->pop(0));
    const std::size_t mark = log().recordCount();
    EXPECT_TRUE(scene.pop(0));
    EXPECT_FALSE(contains(since(mark), "Push first"));
    scene.release();
}

// ---- with a world ------------------------------------------------------------

class PhysicsTestBackend : public PhysicsFixture {
protected:
    testing_support::TestBackend backend_;
};

TEST_F(PhysicsTestBackend, ModelsAreCreatedStepByStep) {
    PhysicsScene* scene = PhysicsSceneManager::Create("scene");
    ASSERT_NE(scene, nullptr);
    ASSERT_TRUE(scene->push());
    testing_support::SourceModel source("barrel");
    source.world.m[9] = 4.0f;
    struct Case {
        const char* name;
        bool made;
        const char* message;
    } cases[] = {
        {"nowhere", false, nullptr},
        {"broken", false, "Cannot allocate physics model [broken] data in physics scene [scene]"},
        {"crate", true, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::size_t mark = log().recordCount();
        PhysicsModel* model = scene->createModel(c.name, &source);
        EXPECT_EQ(model != nullptr, c.made);
        if (c.message) {
            EXPECT_TRUE(contains(since(mark), c.message));
        }
        if (!c.made && !c.message) {
            EXPECT_TRUE(since(mark).empty());
        }
    }
    ASSERT_EQ(scene->models.size(), 1u);
    auto* crate = static_cast<PhysicsModel*>(repository_.getObject(scene->models[0]));
    ASSERT_EQ(crate->actors.size(), 1u);
    EXPECT_TRUE(crate->flags & kPhysicsModelPushed);
    EXPECT_TRUE(crate->flags & kPhysicsModelInitialised);
    EXPECT_FALSE(crate->flags & kPhysicsModelController);
    const testing_support::TestBackend::Actor& actor = backend_.actors.at(crate->actors[0].handle);
    EXPECT_EQ(actor.desc.kind, backend::ShapeKind::Box);
    EXPECT_EQ(actor.pose.m[9], 4.0f);
    EXPECT_TRUE(controllers.empty());
    EXPECT_FALSE(scene->allModelsReleased());
    EXPECT_TRUE(scene->removeModel(crate));
    EXPECT_TRUE(scene->allModelsReleased());
    EXPECT_TRUE(backend_.actors.empty());
    scene->release();
    delete scene;
    EXPECT_EQ(backend_.releasedWorlds, 1);
}

// A model made while its physics scene steps gets its actors but none of
// its joints; made after the step it gets them.
TEST_F(PhysicsTestBackend, NoJointIsMadeWhileTheWorldSteps) {
    PhysicsScene* scene = PhysicsSceneManager::Create("scene");
    ASSERT_NE(scene, nullptr);
    testing_support::SourceModel during("during");
    testing_support::SourceModel after("after");
    PhysicsModel* made = nullptr;
    backend_.duringStep = [&] {
        if (!made) made = scene->createModel("hero", &during);
    };
    const std::size_t mark = log().recordCount();
    EXPECT_TRUE(scene->updatePhase1(CurrentTime(0.02), 0));
    ASSERT_NE(made, nullptr);
    EXPECT_EQ(made->actors.size(), 2u);
    ASSERT_EQ(made->joints.size(), 1u);
    EXPECT_EQ(made->joints[0], 0u);
    EXPECT_TRUE(contains(since(mark),
                         "PANIC: Try to initialize physics joint until physics scene simulation in progress"));
    EXPECT_FALSE(scene->flags & kPhysicsSceneSimulating);
    backend_.duringStep = nullptr;
    PhysicsModel* later = scene->createModel("hero", &after);
    ASSERT_NE(later, nullptr);
    ASSERT_EQ(later->joints.size(), 1u);
    EXPECT_NE(later->joints[0], 0u);
    scene->release();
    delete scene;
}

TEST_F(PhysicsTestBackend, AControllerActorMakesACharacter) {
    PhysicsScene* scene = PhysicsSceneManager::Create("scene");
    testing_support::SourceModel hero("hero");
    PhysicsModel* model = scene->createModel("hero", &hero);
    ASSERT_NE(model, nullptr);
    EXPECT_TRUE(model->flags & kPhysicsModelController);
    EXPECT_EQ(model->controllerIndex, 0);
    EXPECT_EQ(controllers, std::vector<std::string>{"hero:1"});
    const testing_support::TestBackend::Actor& capsule = backend_.actors.at(model->actors[0].handle);
    EXPECT_TRUE(capsule.controller);
    EXPECT_FLOAT_EQ(capsule.controllerDesc.stepHeight, physicsSettings.chrStepHeight);
    EXPECT_FLOAT_EQ(capsule.controllerDesc.height, 2.0f);
    ASSERT_EQ(model->joints.size(), 1u);
    EXPECT_NE(model->joints[0], 0u);

    // Moves gather until the scene's step hands them over.
    const float step[3] = {0.5f, 0.0f, 0.25f};
    EXPECT_TRUE(model->move(step));
    EXPECT_TRUE(model->move(step));
    scene->updatePhase1(CurrentTime(0.02), 0);
    EXPECT_EQ(backend_.actors.at(model->actors[0].handle).moves,
              (std::vector<std::vector<float>>{{1.0f, 0.0f, 0.5f}}));
    EXPECT_EQ(backend_.steps, 1);
    Matrix34 pose{};
    ASSERT_TRUE(model->syncModelPose(pose));
    EXPECT_FLOAT_EQ(pose.m[9], 1.0f);
    EXPECT_FLOAT_EQ(pose.m[11], 0.5f);
    scene->release();
    delete scene;
}

TEST_F(PhysicsTestBackend, PosesAreScaledAndFollowBones) {
    PhysicsScene* scene = PhysicsSceneManager::Create("scene");
    testing_support::SourceModel hero("hero");
    const float scale[3] = {2.0f, 3.0f, 4.0f};
    PhysicsModel* model = scene->createModel("hero", &hero, scale);
    ASSERT_NE(model, nullptr);
    Matrix34 placed = matrix34Identity();
    placed.m[9] = 1.0f;
    placed.m[10] = 2.0f;
    placed.m[11] = 3.0f;
    // With a controller actor only that actor is placed; the result is
    // false whenever the model has actors.
    EXPECT_FALSE(model->applyPoseToActors(placed));
    const Matrix34& capsule = backend_.actors.at(model->actors[0].handle).pose;
    const float expected[12] = {2, 0, 0, 0, 3, 0, 0, 0, 4, 1, 2, 3};
    for (int i = 0; i < 12; ++i) EXPECT_FLOAT_EQ(capsule.m[i], expected[i]) << i;
    EXPECT_FLOAT_EQ(model->actors[1].pose.m[10], 3.0f);  // the lamp stays where it was made

    // The lamp follows its bone on a re-sync: local position (0, 1, 0)
    // through the scaled bone pose.
    hero.bone.m[9] = 10.0f;
    model->updateActors(true);
    const Matrix34& lamp = backend_.actors.at(model->actors[1].handle).pose;
    EXPECT_FLOAT_EQ(lamp.m[9], 10.0f);
    EXPECT_FLOAT_EQ(lamp.m[10], 3.0f);
    EXPECT_FLOAT_EQ(lamp.m[4], 3.0f);
    EXPECT_TRUE(model->setVisible("lamp", false));
    EXPECT_FALSE(backend_.actors.at(model->actors[1].handle).visible);
    const std::size_t mark = log().recordCount();
    EXPECT_TRUE(model->setVisible("sail", true));
    EXPECT_EQ(since(mark), std::vector<std::string>{"Can't find physics element [sail] in model [hero]"});
    scene->release();
    delete scene;
}

TEST(ClothInstance, WithoutBuffersDrawsNothingAndLeavesItsMesh) {
    testing_support::ScopedGameCore core;
    Y3Mesh mesh;
    ClothInstance cloth(&mesh);
    ASSERT_TRUE(mesh.pushCloth(&cloth));
    ModelElement element;
    cloth.vertexCount = 3;
    cloth.indexCount = 3;
    EXPECT_FALSE(cloth.draw(element));
    EXPECT_EQ(element.drawCount, 0);
    EXPECT_TRUE(cloth.releaseBuffers());
    EXPECT_TRUE(mesh.cloths().empty());
}

}  // namespace
