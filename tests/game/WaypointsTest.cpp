// The scene's waypoint holder and the waypoint compile: finding by name and
// nearness, the source read with its duplicates and skipped files, and the
// refresh of the "$" models of model waypoints.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <vector>

#include "app/GameCore.h"
#include "app/SceneLoadFixture.h"
#include "app/ThisMainLoop.h"
#include "platform/Time.h"
#include "scene/SceneSettings.h"
#include "model/Model.h"
#include "model/ModelResourceSupport.h"
#include "script/ScriptVariable.h"
#include "script/VariablesCore.h"
#include "foundation/DataStream.h"
#include "game/WaypointDataManager.h"
#include "resources/ResourceTestSupport.h"
#include "scene/ObjectRepository.h"
#include "scene/Scene.h"
#include "scene/Trigger.h"
#include "scene/SceneWriter.h"
#include "scene/Y3Pose.h"
#include "support/TestSupport.h"
#include "scene/CameraFixture.h"

using resource_tests::logSince;
using scene_tools::poseAt;

namespace {

std::string sourceOf(const scene_tools::WaypointSet& set) {
    MemoryStream stream(true);
    EXPECT_GT(set.writeSource(stream), 0);
    return std::string(reinterpret_cast<const char*>(stream.data()), static_cast<std::size_t>(stream.size()));
}

std::string compiledOf(const scene_tools::WaypointSet& set) {
    MemoryStream stream(true);
    EXPECT_GT(set.writeCompiled(stream), 0);
    return std::string(reinterpret_cast<const char*>(stream.data()), static_cast<std::size_t>(stream.size()));
}

// The packages hold the set as the waypoint resource "harbour"; the game
// core's waypoint manager keeps its record.
struct StoredWaypoints {
    explicit StoredWaypoints(const scene_tools::WaypointSet& set)
        : packages({resource_tests::storedFile(".wp", "harbour", compiledOf(set))}),
          record(manager.getOrCreate("harbour", true)) {}

    resource_tests::ScopedPackages packages;
    WaypointDataManager manager;
    testing_support::ScopedCoreMember<WaypointDataManager> use{gameCore.waypoints, &manager};
    WaypointDataInstance* record;
};

TEST(Waypoints, FindAndNearestGoByIdWhateverTheKind) {
    scene_tools::WaypointSet set;
    set.add(PoseCamera, "harbour.cam", poseAt(0, 5, 0));
    set.add(PosePoint, "guard.b", poseAt(2, 0, 0));
    set.add(PosePoint, "guard.a", poseAt(-2, 0, 0));
    set.add(PoseModel, "guard.c", poseAt(0, 0, 9));
    set.add(PoseTrigger, "guard.gate", poseAt(0, 0, 0));
    StoredWaypoints stored(set);
    ASSERT_TRUE(stored.packages.built());
    Log& log = stored.packages.log();
    Waypoints holder(nullptr, stored.record);
    // Asked as a model, the camera waypoint of that name is found.
    const Y3Pose* camera = holder.find(PoseModel, "harbour.cam", true);
    ASSERT_NE(camera, nullptr);
    EXPECT_EQ(camera->type(), static_cast<std::uint32_t>(PoseCamera));
    EXPECT_EQ(holder.find(PoseModel, "", true), nullptr);
    EXPECT_EQ(holder.find(PoseModel, "harbour.boat", true), nullptr);
    EXPECT_TRUE(log.contains("Can't find [Model] with name [harbour.boat]"));
    EXPECT_EQ(holder.find(PoseModel, "harbour.boat", false), nullptr);

    const float origin[3] = {0, 0, 0};
    const float far[3] = {0, 0, 8};
    const struct {
        const char* prefix;
        const float* at;
        const char* id;
    } cases[] = {{"guard", origin, "guard.a"}, {"guard", far, "guard.c"}, {nullptr, origin, "guard.a"},
                 {"guard.b", origin, "guard.b"}, {"nobody", origin, nullptr}};
    for (const auto& c : cases) {
        const Y3Pose* found = holder.searchNearest(c.prefix, c.at);
        if (!c.id) {
            EXPECT_EQ(found, nullptr);
            continue;
        }
        ASSERT_NE(found, nullptr) << c.id;
        EXPECT_STREQ(found->id, c.id);
    }
}

TEST(Waypoints, TheCompileReadsTheSourceAndRefusesToStoreBeforeTouchingTheDestination) {
    testing_support::ScopedGameCore core;
    testing_support::TempDir dir;
    scene_tools::WaypointSet first;
    first.add(PosePoint, "quay", poseAt(1, 0, 0));
    scene_tools::WaypointSet second;
    second.add(PoseCamera, "quay", poseAt(2, 0, 0));
    const std::string source = dir.path() + "/harbour.txt";
    const std::string destination = dir.path() + "/harbour.wp";
    ASSERT_TRUE(testing_support::writeFile(source, sourceOf(first) + "type Nothing\nid x\n" + sourceOf(second)));
    ASSERT_TRUE(testing_support::writeFile(destination, "kept"));
    WaypointDataManager manager;
    EXPECT_FALSE(manager.compileFromSource(source.c_str()));
    EXPECT_EQ(testing_support::readFile(destination), "kept");
    const std::vector<std::string> logged = logSince(core.log(), 0);
    ASSERT_GE(logged.size(), 3u);
    EXPECT_TRUE(core.log().contains("Ignore waypoint name duplicate [quay]"));
    EXPECT_EQ(std::vector<std::string>(logged.end() - 2, logged.end()),
              (std::vector<std::string>{"Stream save not possible in release exe",
                                        "Failed while write waypoints to file [" + destination + "]"}));

    // A part file like "harbour#01.txt" is passed over.
    const std::size_t mark = core.log().recordCount();
    EXPECT_TRUE(manager.compileFromSource((dir.path() + "/harbour#01.txt").c_str()));
    EXPECT_TRUE(logSince(core.log(), mark).empty());
    EXPECT_FALSE(manager.compileFromSource((dir.path() + "/none.txt").c_str()));
    EXPECT_TRUE(core.log().contains("Can't open waypoint source file [" + dir.path() + "/none.txt]"));
}

// Any scene object that is no model.
class PlainObject : public testing_support::PoseObject {
public:
    using PoseObject::PoseObject;
    std::uint32_t getType() const override { return ObjectDialog; }
};

TEST(Waypoints, AFailedRecreationLeavesNoHandleRequestBehind) {
    // A "$" model pose whose group has no variant: making it again makes
    // nothing.
    scene_tools::WaypointSet set;
    copyName128(static_cast<Y3Pose_Model&>(set.add(PoseModel, "crowd.1", poseAt(0, 0, 0))).model, "$nobody");
    StoredWaypoints stored(set);
    ASSERT_TRUE(stored.packages.built());
    ObjectRepository objects;
    testing_support::ScopedCoreMember<ObjectRepository> useObjects{gameCore.objects, &objects};
    Waypoints holder(nullptr, stored.record);
    ASSERT_NE(holder.data(), nullptr);
    auto& pose = static_cast<Y3Pose_Model&>(*holder.data()->poses[0]);
    PlainObject old("crowd.1");
    pose.link = GameObjectLink::fromObject(&old);
    const std::uint32_t oldHandle = pose.link.index();
    holder.refreshLinkedModels(true, true);
    // The next object made elsewhere gets a handle of its own.
    PlainObject next("next");
    EXPECT_NE(next.id, 0u);
    EXPECT_NE(next.id, oldHandle);
    EXPECT_FALSE(stored.packages.log().contains("is in use"));
}

// A scene "quay" whose waypoints are a "$crowd" model, a point and a
// trigger; the crowd's one variant is the model "sailor", which declares an
// action.
class CrowdScene {
public:
    CrowdScene() {
        ScriptVariable* table = variables.globals()
                                    .ensureRoot()
                                    ->appendChild("npcrandomization")
                                    ->appendChild("quay")
                                    ->appendChild("crowd")
                                    ->appendChild("day", ScriptVariable::TypeArray2D);
        for (const char* row : {"anim", "texture", "face-anim", "frequency"})
            table->appendChild(row, ScriptVariable::TypeArray);
        table->child(0)->appendChild("sailor", ScriptVariable::TypeString)->setString("wave");
        table->child(1)->appendChild("t", ScriptVariable::TypeNumber)->setNumber(0.0f);
        table->child(2)->appendChild("sailor", ScriptVariable::TypeString)->setString("blink");
        table->child(3)->appendChild("f", ScriptVariable::TypeNumber)->setNumber(1.0f);
        f.game->flags |= kSaveGameLoadAllowed;
        f.game->loadScene("quay");
    }
    static std::string waypoints() {
        scene_tools::WaypointSet set;
        copyName128(static_cast<Y3Pose_Model&>(set.add(PoseModel, "crowd#1", poseAt(3, 0, 0))).model, "$crowd");
        set.add(PosePoint, "quay.spawn", poseAt(1, 0, 1));
        set.add(PoseTrigger, "quay.gate", poseAt(0, 0, 4));
        return compiledOf(set);
    }
    Model* crowd() const {
        Scene* scene = gameCore.currentScene();
        GameObject* object = scene ? scene->lookupModel("crowd#1") : nullptr;
        return object && object->getType() == ObjectModel ? static_cast<Model*>(object) : nullptr;
    }

    VariablesCore variables;
    testing_support::ScopedCoreMember<VariablesCore> useVariables{gameCore.variables, &variables};
    model_test::ScopedModelResources models{
        {"box"},
        {"model sailor\nelement body\nlod\nbox 0.5 0.5 0.5\nlod\nlod\naction wave root\n"},
        {resource_tests::storedFile(".wp", "quay", waypoints())}};
    WaypointDataManager manager;
    testing_support::ScopedCoreMember<WaypointDataManager> useWaypoints{gameCore.waypoints, &manager};
    testing_support::SceneLoadFixture f;
};

TEST(Waypoints, TheSceneMakesTheObjectsOfItsWaypointsAndReleasesThemWithItself) {
    CrowdScene world;
    ASSERT_TRUE(world.models.ready);
    Scene* scene = gameCore.currentScene();
    ASSERT_NE(scene, nullptr);
    WaypointData* set = gameCore.scene_getWaypointsData();
    ASSERT_NE(set, nullptr);
    EXPECT_EQ(set, scene->waypointData->record->data());
    EXPECT_TRUE(set->allocated);
    // The "$" model and the trigger exist from the scene's initialisation.
    ASSERT_NE(world.crowd(), nullptr);
    EXPECT_STREQ(world.crowd()->resourceName, "sailor");
    EXPECT_GE(scene->triggers->findTrigger("quay.gate"), 0);
    EXPECT_FALSE(set->allocate());
    EXPECT_TRUE(world.f.logged("Can't allocate waypoints data: Already allocated"));

    // Released with the scene, the set can be made again.
    world.f.game->releaseScenes();
    EXPECT_FALSE(set->allocated);
    ASSERT_FALSE(set->poses.empty());
    EXPECT_EQ(static_cast<Y3Pose_Model&>(*set->find("crowd#1")).link.index(), 0u);
    EXPECT_FALSE(set->deallocate());
    EXPECT_TRUE(world.f.logged("Can't deallocate waypoints data: Allocate first"));
}

TEST(Waypoints, ALightModeChangeMakesTheCrowdAgainUnderItsHandleWithItsActionRanges) {
    CrowdScene world;
    ASSERT_TRUE(world.models.ready);
    Model* before = world.crowd();
    ASSERT_NE(before, nullptr);
    before->syncActionItems();
    ASSERT_EQ(before->actionItems.size(), 1u);
    ModelActionItem& item = before->actionItems[0];
    item.maxRange3d = 7.0f;
    item.minRange3d = 1.5f;
    item.minRange2d = 2.5f;
    item.maxRange2d = 9.0f;
    item.minSize2d = 48.0f;
    const std::uint32_t handle = before->id & kGameObjectHandleMask;
    before->walk_distance = 12.0f;  // a mark the new model does not carry

    gameCore.scene_setSkyLightMode(gameCore.scene_getSkyLightMode());
    Model* after = world.crowd();
    ASSERT_NE(after, nullptr);
    EXPECT_EQ(after->id & kGameObjectHandleMask, handle);
    EXPECT_EQ(after->walk_distance, -1.0f);
    ASSERT_EQ(after->actionItems.size(), 1u);
    const ModelActionItem& kept = after->actionItems[0];
    EXPECT_EQ(kept.maxRange3d, 7.0f);
    EXPECT_EQ(kept.minRange3d, 1.5f);
    EXPECT_EQ(kept.minRange2d, 2.5f);
    EXPECT_EQ(kept.maxRange2d, 9.0f);
    EXPECT_EQ(kept.minSize2d, 48.0f);
}

std::atomic<std::int64_t> g_microseconds{0};
std::int64_t manualMicroseconds() { return g_microseconds.load(); }

TEST(Waypoints, TheFrameStepMakesAGoneCrowdModelAgainEachPeriodExceptInStatesSixAndEighteen) {
    const float savedPeriod = sceneSettings.npcRandomizerUpdatePeriod;
    for (const std::int32_t state : {1, 6, 18}) {
        SCOPED_TRACE(state);
        g_microseconds = 1;
        platform::setPerformanceCounterSource(&manualMicroseconds, 1000000);
        {
            CrowdScene world;
            ASSERT_TRUE(world.models.ready);
            sceneSettings.npcRandomizerUpdatePeriod = 2.0f;
            ThisMainLoop loop;
            auto frame = [&loop](double seconds) {
                g_microseconds += static_cast<std::int64_t>(seconds * 1000000.0);
                loop.step();
            };
            frame(0.0);
            ASSERT_NE(world.crowd(), nullptr);
            // The crowd's model goes (a script deleted it); the refresh makes
            // it again once the period has passed.
            ASSERT_TRUE(gameCore.currentScene()->deleteModel("crowd#1"));
            gameCore.cameraMode = state;
            frame(1.0);
            EXPECT_EQ(world.crowd(), nullptr);
            frame(1.5);
            EXPECT_EQ(world.crowd() != nullptr, state == 1);
        }
        platform::setPerformanceCounterSource(nullptr, 0);
    }
    sceneSettings.npcRandomizerUpdatePeriod = savedPeriod;
}

}  // namespace
