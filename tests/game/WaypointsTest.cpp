// The scene's waypoint holder and the waypoint compile: finding by name and
// nearness, the source read with its duplicates and skipped files, and the
// refresh of the "$" models of model waypoints.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/GameCore.h"
#include "foundation/DataStream.h"
#include "game/WaypointDataManager.h"
#include "resources/ResourceTestSupport.h"
#include "scene/ObjectRepository.h"
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

TEST(Waypoints, FindAndNearestGoByIdWhateverTheKind) {
    testing_support::ScopedGameCore core;
    Waypoints holder(nullptr, nullptr);
    scene_tools::WaypointSet set;
    set.add(PoseCamera, "harbour.cam", poseAt(0, 5, 0));
    set.add(PosePoint, "guard.b", poseAt(2, 0, 0));
    set.add(PosePoint, "guard.a", poseAt(-2, 0, 0));
    set.add(PoseModel, "guard.c", poseAt(0, 0, 9));
    set.add(PoseTrigger, "guard.gate", poseAt(0, 0, 0));
    for (const auto& pose : set.poses()) {
        std::unique_ptr<Y3Pose> copy;
        MemoryStream stream(true);
        ASSERT_GT(pose->writeBinary(stream), 0);
        stream.setPosition(0);
        ASSERT_GT(Y3Pose::readBinary(stream, copy), 0);
        holder.add(std::move(copy));
    }
    // Asked as a model, the camera waypoint of that name is found.
    const Y3Pose* camera = holder.find(PoseModel, "harbour.cam", true);
    ASSERT_NE(camera, nullptr);
    EXPECT_EQ(camera->type(), static_cast<std::uint32_t>(PoseCamera));
    EXPECT_EQ(holder.find(PoseModel, "", true), nullptr);
    EXPECT_EQ(holder.find(PoseModel, "harbour.boat", true), nullptr);
    EXPECT_TRUE(core.log().contains("Can't find [Model] with name [harbour.boat]"));
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
    testing_support::ScopedGameCore core;
    ObjectRepository objects;
    testing_support::ScopedCoreMember<ObjectRepository> useObjects{gameCore.objects, &objects};
    Waypoints holder(nullptr, nullptr);
    // A "$" model pose whose group has no variant: making it again makes
    // nothing.
    auto pose = std::make_unique<Y3Pose_Model>();
    copyName128(pose->id, "crowd.1");
    copyName128(pose->model, "$nobody");
    PlainObject old("crowd.1");
    pose->link = GameObjectLink::fromObject(&old);
    const std::uint32_t oldHandle = pose->link.index();
    holder.add(std::move(pose));

    holder.refreshLinkedModels(true, true);
    // The next object made elsewhere gets a handle of its own.
    PlainObject next("next");
    EXPECT_NE(next.id, 0u);
    EXPECT_NE(next.id, oldHandle);
    EXPECT_FALSE(core.log().contains("is in use"));
}

}  // namespace
