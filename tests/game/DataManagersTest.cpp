// The data managers whose records keep their stored files: identity,
// records made on request, export, compile refusals
// and release.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "actions/ActionWriter.h"
#include "control/PhysicsCore.h"
#include "effects/SkyDataManager.h"
#include "foundation/DataStream.h"
#include "foundation/Log.h"
#include "game/DialogDataManager.h"
#include "game/SceneActionDataManager.h"
#include "game/WaypointDataManager.h"
#include "physics/PhysicsWriter.h"
#include "resources/ResourceTestSupport.h"
#include "scene/SceneWriter.h"
#include "scene/Y3Pose.h"

using namespace resource_tests;
using scene_tools::poseAt;

namespace {

struct Managers {
    DialogDataManager dialogs;
    SceneActionDataManager actions;
    WaypointDataManager waypoints;
    SkyDataManager sky;

    std::vector<std::pair<const char*, DataManager*>> all() {
        return {{"DialogDataManager", &dialogs},
                {"SceneActionDataManager", &actions},
                {"WaypointDataManager", &waypoints},
                {"SkyDataManager", &sky}};
    }
};

std::string streamText(MemoryStream& stream) {
    return std::string(reinterpret_cast<const char*>(stream.data()), static_cast<std::size_t>(stream.size()));
}

TEST(DataManagers, IdentityComesFromTheManagerTable) {
    testing_support::ScopedGameCore core;
    Managers m;
    for (auto [className, manager] : m.all()) {
        SCOPED_TRACE(className);
        const DataManagerInfo* info = findDataManagerInfo(className);
        ASSERT_NE(info, nullptr);
        EXPECT_STREQ(manager->sourceExtension(), info->sourceExtension);
        EXPECT_STREQ(manager->compiledExtension(), info->compiledExtension);
        EXPECT_EQ(manager->typeNumber(), info->typeNumber);
        EXPECT_STREQ(manager->title(), info->title);
        EXPECT_STREQ(manager->secondText(), info->secondText);
        EXPECT_TRUE(manager->perFileData());
        EXPECT_STREQ(manager->singleFileName(), "");
    }
    EXPECT_STREQ(m.dialogs.secondText(), "@");
    EXPECT_EQ(m.sky.typeNumber(), 42);
}

TEST(DataManagers, StoredManagersMakeRecordsOnRequestOnly) {
    ScopedPackages packages({storedFile(".dlg", "talk", "a dialog")});
    ASSERT_TRUE(packages.built());
    Managers m;
    EXPECT_TRUE(m.dialogs.initialize());
    EXPECT_EQ(m.dialogs.count(), 0u);
    MemoryStream stream;
    EXPECT_EQ(m.dialogs.readResource(stream, "talk", 0), -1);
}

TEST(DataManagers, RecordsAreMadeOnRequestFromThePackages) {
    scene_tools::WaypointSet set;
    set.add(PosePoint, "quay", poseAt(1, 0, 0));
    set.add(PoseCamera, "overview", poseAt(0, 9, 0));
    MemoryStream compiled(true);
    ASSERT_GT(set.writeCompiled(compiled), 0);
    // Two poses written in the wrong order, and one written twice.
    auto posesOf = [](std::initializer_list<const char*> ids) {
        MemoryStream out(true);
        writeU32(out, static_cast<std::uint32_t>(ids.size()));
        for (const char* id : ids) {
            Y3Pose pose(id);
            pose.pose = poseAt(0, 0, 0);
            pose.writeBinary(out);
        }
        return streamText(out);
    };
    ScopedPackages packages({storedFile(".dlg", "talk", "dialog bytes"), storedFile(".wp", "harbour", streamText(compiled)),
                             storedFile(".wp", "pier", "poses"), storedFile(".wp", "dock", posesOf({"quay", "bay"})),
                             storedFile(".wp", "slip", posesOf({"quay", "quay"})),
                             storedFile(".sky", "storm", std::string(kSkyTableBytes, '\0')),
                             storedFile(".sky", "gale", "sky table")});
    ASSERT_TRUE(packages.built());
    Managers m;
    // The waypoint record's header holds the poses, in id order.
    WaypointData* data = m.waypoints.dataOf(m.waypoints.getOrCreate("harbour", true));
    ASSERT_NE(data, nullptr);
    ASSERT_EQ(data->poses.size(), 2u);
    EXPECT_STREQ(data->poses[0]->id, "overview");
    EXPECT_FALSE(data->allocated);
    // A second request finds the same record, loaded once.
    EXPECT_EQ(m.waypoints.dataOf(m.waypoints.getOrCreate("harbour", true)), data);
    EXPECT_EQ(m.waypoints.count(), 1u);
    // Bytes that are no waypoint set, or a set whose ids are out of order
    // or repeated, give no data.
    const struct {
        const char* name;
        const char* message;
    } damaged[] = {{"pier", "Waypoint resource [pier]: the count does not fit the record"},
                   {"dock", "Waypoint resource [dock]: the waypoint ids are out of order or repeated"},
                   {"slip", "Waypoint resource [slip]: the waypoint ids are out of order or repeated"}};
    for (const auto& c : damaged) {
        EXPECT_EQ(m.waypoints.dataOf(m.waypoints.getOrCreate(c.name, true)), nullptr) << c.name;
        EXPECT_TRUE(packages.log().contains(c.message)) << c.message;
    }
    // A sky table loads its records; one shorter than 16 records does not.
    EXPECT_TRUE(m.sky.loadHeader(m.sky.getOrCreate("storm", true), nullptr));
    EXPECT_NE(m.sky.getOrCreate("storm", true)->records(), nullptr);
    EXPECT_FALSE(m.sky.loadHeader(m.sky.getOrCreate("gale", true), nullptr));
    EXPECT_TRUE(packages.log().contains("Can't load sky [gale] data"));
    EXPECT_EQ(m.sky.getOrCreate("gale", true)->records(), nullptr);
    // A name the packages do not hold gives an unavailable record.
    const std::size_t mark = packages.log().recordCount();
    EXPECT_EQ(m.sky.resourceBytes("calm"), nullptr);
    ASSERT_NE(m.sky.find("calm"), nullptr);
    EXPECT_TRUE(m.sky.find("calm")->has(kResourceUnavailable));
    EXPECT_EQ(logSince(packages.log(), mark),
              std::vector<std::string>{"Fail while create sky data [calm]: Resource file [calm.sky] not found"});
    EXPECT_EQ(m.sky.count(), 3u);
}

TEST(DataManagers, WaypointsAndScreenActionsExportTheirData) {
    // The screen actions export their compiled data, the waypoints their
    // poses as text records.
    const std::string screens = actions_tools::compileActionSource("screen hall\nscreen yard\n", "harbour.txt");
    scene_tools::WaypointSet set;
    set.add(PoseTrigger, "gate", poseAt(1, 0, 0));
    set.add(PosePoint, "bollard", poseAt(2, 0, 0));
    MemoryStream compiled(true);
    ASSERT_GT(set.writeCompiled(compiled), 0);
    ScopedPackages packages({storedFile(".wp", "harbour", streamText(compiled)), storedFile(".as", "harbour", screens),
                             storedFile(".dlg", "talk", "dialog bytes")});
    ASSERT_TRUE(packages.built());
    Managers m;
    {
        scene_tools::WaypointSet sorted;
        sorted.add(PosePoint, "bollard", poseAt(2, 0, 0));
        sorted.add(PoseTrigger, "gate", poseAt(1, 0, 0));
        MemoryStream text(true);
        ASSERT_GT(sorted.writeSource(text), 0);
        MemoryStream out;
        EXPECT_EQ(m.waypoints.exportResource("harbour", out), text.size());
        EXPECT_EQ(streamText(out), streamText(text));
    }
    {
        MemoryStream out;
        EXPECT_EQ(m.actions.exportResource("harbour", out), static_cast<std::int32_t>(screens.size()));
        EXPECT_EQ(streamText(out), screens);
    }
    const struct {
        DataManager* manager;
        const char* message;
    } missing[] = {{&m.waypoints, "Can't export to file waypoint resource [lagoon]"},
                   {&m.actions, "Can't export to file screen actions resource [lagoon]"}};
    for (const auto& c : missing) {
        MemoryStream out;
        EXPECT_EQ(c.manager->exportResource("lagoon", out), -1);
        EXPECT_EQ(out.size(), 0);
        EXPECT_TRUE(packages.log().contains(c.message)) << c.message;
    }
    // The dialogs do not export.
    MemoryStream out;
    EXPECT_EQ(m.dialogs.exportResource("talk", out), 0);
    EXPECT_EQ(out.size(), 0);
}

TEST(DataManagers, CompilingIsRefusedWithEachManagersMessages) {
    Managers m;
    const struct {
        DataManager* manager;
        std::vector<std::string> messages;
    } cases[] = {
        {&m.dialogs,
         {"dialog compilation NOT possible in game", "Fail to compile dialog data from file [source.xls]"}},
        {&m.actions, {"Can't open actions source file [source.xls]"}},
        {&m.waypoints, {"Can't open waypoint source file [source.xls]"}},
        // The sky compiles its text first: a missing source is named.
        {&m.sky, {"Sky: Can't open source file [source.xls]"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.manager->title());
        testing_support::ScopedGameCore core;
        const std::size_t mark = core.log().recordCount();
        EXPECT_FALSE(c.manager->compileFromSource("source.xls"));
        EXPECT_EQ(logSince(core.log(), mark), c.messages);
    }
}

// The store behind a dialog compile writes the record to memory first and
// names what failed: a record that cannot be written, or the compiled file,
// which the game does not write.
TEST(DataManagers, StoringACompiledDialogNamesWhatFailed) {
    Managers m;
    Y3DialogData whole("talk");
    whole.labels.resize(1);
    std::strcpy(whole.labels[0].name, "greet");
    whole.labels[0].phrases.resize(1);
    whole.labels[0].phrases[0].commands.resize(1);
    whole.labels[0].phrases[0].commands[0].kind = DialogCommandScript;
    Y3DialogData broken("talk");
    broken.labels = whole.labels;
    broken.labels[0].phrases[0].commands[0].kind = DialogCommandInvalid;
    const struct {
        const char* what;
        const Y3DialogData* data;
        std::vector<std::string> messages;
    } cases[] = {
        {"a whole record", &whole,
         {"Stream save not possible in release exe", "Fail to save compiled dialog data to file [talk.dlg]"}},
        {"a command of kind 0", &broken,
         {"Can't write invalid dialog command", "Can't save dialog [talk.xls] data to RAM file"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        testing_support::ScopedGameCore core;
        const std::size_t mark = core.log().recordCount();
        EXPECT_FALSE(m.dialogs.storeCompiled(*c.data, "talk.xls"));
        EXPECT_EQ(logSince(core.log(), mark), c.messages);
    }
}

TEST(DataManagers, PhysicsModelsAreKeptByTheirCoreAndReleased) {
    physics_tools::PhysicsModelFile empty;
    ScopedPackages packages({storedFile(".fh4", "crate", physics_tools::headerBytes(empty))});
    ASSERT_TRUE(packages.built());
    PhysicsCore physics;
    PhysicsModelDataManager& models = physics.modelData();
    auto* crate = models.getOrCreate("crate", true);
    ASSERT_TRUE(models.loadHeader(crate, nullptr));
    ASSERT_NE(crate->data(), nullptr);
    EXPECT_TRUE(crate->data()->actors.empty());
    EXPECT_STREQ(crate->typeLabel, "physic model");
    models.releaseAll();
    EXPECT_EQ(models.count(), 0u);
}

}  // namespace
