// Models taking and handing back their physics models in a loaded scene:
// without a world (the null backend) and with the tests' backend.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "app/SceneLoadFixture.h"
#include "control/PhysicsCore.h"
#include "control/PhysicsModel.h"
#include "control/PhysicsScene.h"
#include "control/PhysicsTestBackend.h"
#include "foundation/AppPaths.h"
#include "model/Model.h"
#include "physics/PhysicsWriter.h"
#include "resources/PackageDatabase.h"
#include "scene/Scene.h"
#include "support/PackageFixture.h"

namespace {

// A data root with the physics files of a description, its package
// database and a physics core, installed in the game core.
class PhysicsData {
public:
    explicit PhysicsData(const char* text)
        : usePaths_(gameCore.paths, &paths_), usePackages_(gameCore.packages, &packages_),
          usePhysics_(gameCore.physics, &physics) {
        physics_tools::PhysicsDescription description;
        std::string error;
        EXPECT_TRUE(physics_tools::parsePhysicsDescription(text, description, error)) << error;
        testing_support::FixturePackage package;
        for (const auto& file : physics_tools::physicsFiles(description)) {
            const std::size_t dot = file.name.rfind('.');
            package.files.push_back({file.name.substr(dot), file.name.substr(0, dot), file.bytes, ""});
        }
        EXPECT_TRUE(testing_support::writeDataRoot(root_.path(), {package}));
        paths_.setPath(PathLanguage, "en");
        paths_.setPath(PathDataRootInput, root_.path());
        built = packages_.build();
    }

    PhysicsCore physics;
    bool built = false;

private:
    testing_support::TempDir root_;
    AppPaths paths_;
    PackageDatabase packages_;
    testing_support::ScopedCoreMember<AppPaths> usePaths_;
    testing_support::ScopedCoreMember<PackageDatabase> usePackages_;
    testing_support::ScopedCoreMember<PhysicsCore> usePhysics_;
};

Scene* loadIntro(testing_support::SceneLoadFixture& f) {
    f.game->flags |= kSaveGameLoadAllowed;
    f.game->loadScene("intro");
    return f.game->currentScene();
}

TEST(PhysicsAttach, WithoutAWorldTheModelGoesOnAlone) {
    testing_support::SceneLoadFixture f;
    PhysicsData data("model barrel\nactor box body\n");
    ASSERT_TRUE(data.built);
    Scene* scene = loadIntro(f);
    ASSERT_NE(scene, nullptr);
    EXPECT_EQ(physicsSceneOf(scene), nullptr);
    testing_support::SourceModel barrel("barrel");
    barrel.scene = GameObjectLink::fromObject(scene).value;
    EXPECT_EQ(attachPhysicsModel(barrel, "barrel", nullptr, true), nullptr);
    EXPECT_TRUE(f.logged("Cant attach physics: Physics Scene not defined in object [barrel]"));
    detachPhysicsModel(barrel, GameObjectLink{});
    EXPECT_TRUE(f.logged("Cant remove physics: Physics Scene not defined in object [barrel]"));
}

TEST(PhysicsAttach, AHiddenModelsActorsStartHiddenAndGoBackWithIt) {
    testing_support::TestBackend backend;
    testing_support::SceneLoadFixture f;
    PhysicsData data("model barrel\nactor box body\nactor sphere lid radius 0.2\n");
    ASSERT_TRUE(data.built);
    Scene* scene = loadIntro(f);
    ASSERT_NE(scene, nullptr);
    PhysicsScene* physics = physicsSceneOf(scene);
    ASSERT_NE(physics, nullptr);
    testing_support::SourceModel barrel("barrel");
    barrel.scene = GameObjectLink::fromObject(scene).value;
    barrel.world.m[10] = 2.0f;
    PhysicsModel* model = attachPhysicsModel(barrel, "barrel", nullptr, false);
    ASSERT_NE(model, nullptr);
    ASSERT_EQ(model->actors.size(), 2u);
    for (const PhysicsActorInstance& actor : model->actors) {
        EXPECT_FALSE(actor.flags & kPhysicsActorVisible);
        EXPECT_FLOAT_EQ(backend.actors.at(actor.handle).pose.m[10], 2.0f);
    }
    EXPECT_EQ(backend.actors.at(model->actors[1].handle).desc.kind, platform::physics::ShapeKind::Sphere);
    // The scene's update steps its world (the load's end stepped it once).
    const int before = backend.steps;
    EXPECT_TRUE(scene->updatePhase1(CurrentTime(0.02), 0));
    EXPECT_EQ(backend.steps, before + 1);
    detachPhysicsModel(barrel, GameObjectLink::fromObject(model));
    EXPECT_TRUE(physics->models.empty());
    EXPECT_TRUE(backend.actors.empty());
    EXPECT_EQ(data.physics.modelData().findRecord("barrel")->users.count(), 0u);
}

}  // namespace

namespace {

// A scene's model takes the physics model named like its resource, hands
// it back when detached, and a physics-driven root takes its pose from the
// simulation in the model's second frame pass.
TEST(PhysicsAttach, AModelTakesItsResourcesPhysicsAndFollowsItsSimulatedRoot) {
    testing_support::TestBackend backend;
    testing_support::SceneLoadFixture f;
    PhysicsData data("model barrel\nactor capsule body flags controller height 2 radius 0.5\n");
    ASSERT_TRUE(data.built);
    Scene* scene = loadIntro(f);
    ASSERT_NE(scene, nullptr);
    PhysicsScene* physics = physicsSceneOf(scene);
    ASSERT_NE(physics, nullptr);
    Model barrel("crate", "barrel", GameObjectLink::fromObject(scene).value);
    EXPECT_TRUE(barrel.attachPhysics(nullptr));
    PhysicsModel* attached = barrel.attachedPhysics();
    ASSERT_NE(attached, nullptr);
    EXPECT_EQ(physics->models.size(), 1u);
    EXPECT_FALSE(barrel.attachPhysics(nullptr));
    EXPECT_TRUE(f.logged("Can't attach physics model to object [crate]: release previous model first"));

    // A controller body makes the model a character moved by its physics
    // root; the simulation moved the body, and the model follows it.
    EXPECT_NE(barrel.controller, nullptr);
    EXPECT_NE(barrel.stateWords[0] & kModelHasRoot, 0u);
    backend.actors.at(attached->actors.at(0).handle).pose.m[9] = 7.0f;
    EXPECT_TRUE(barrel.updateFrame(CurrentTime(0.02), 0));
    Matrix34 pose;
    barrel.getWorldMatrix(pose);
    EXPECT_FLOAT_EQ(pose.m[9], 7.0f);

    barrel.detachPhysics();
    EXPECT_EQ(barrel.attachedPhysics(), nullptr);
    EXPECT_TRUE(physics->models.empty());
    EXPECT_TRUE(backend.actors.empty());
    EXPECT_EQ(barrel.stateWords[0] & (kModelHasRoot | kModelPhysicsRoot), 0u);
}

}  // namespace
