// The scene description reader of the scene tools: numbers that cannot
// be stored are refused with the line that holds them.
#include "scene/SceneDescription.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "effects/SkyDataManager.h"
#include "foundation/DataStream.h"
#include "scene/Scene.h"
#include "scene/SceneDataManager.h"
#include "support/TestSupport.h"

namespace {

TEST(SceneDescription, TextureSetsAreWholeNumbersInRange) {
    testing_support::ScopedGameCore core;
    struct Case {
        const char* value;
        bool accepted;
        std::uint32_t stored;
    };
    const Case cases[] = {
        {"0", true, 0},           {"7", true, 7},       {"2147483647", true, 2147483647u},
        {"1e20", false, 0},       {"-7", false, 0},     {"2147483648", false, 0},
        {"3.5", false, 0},        {"7.0", false, 0},    {"nan", false, 0},
        {"seven", false, 0},
    };
    for (const Case& c : cases) {
        scene_tools::SceneDescription scene;
        std::string error;
        const std::string text = std::string("scene hall\n# a boat\nmodel boat boat_model at 1 2 3 texture_set ") +
                                 c.value + "\n";
        EXPECT_EQ(scene_tools::parseSceneDescription(text, scene, error), c.accepted) << c.value;
        if (c.accepted) {
            ASSERT_EQ(scene.data.models.size(), 1u);
            EXPECT_EQ(scene.data.models[0].properties.textureSet, c.stored);
        } else {
            EXPECT_EQ(error.rfind("line 3: ", 0), 0u) << error;
            EXPECT_NE(error.find("[texture_set] takes a whole number"), std::string::npos) << error;
            EXPECT_NE(error.find(c.value), std::string::npos) << error;
        }
    }
}

TEST(SceneDescription, NumbersThatAreNotFiniteOrNotWholeTextAreRefused) {
    testing_support::ScopedGameCore core;
    for (const char* line : {"model boat boat_model at 1 2 inf", "model boat boat_model at 1 2 3x",
                             "light point lamp radius nan", "light point lamp colour 1 1e50 1",
                             "area hall at 0 0 0 extents 1 -inf 1"}) {
        scene_tools::SceneDescription scene;
        std::string error;
        EXPECT_FALSE(scene_tools::parseSceneDescription(std::string("scene hall\n") + line, scene, error)) << line;
        EXPECT_EQ(error.rfind("line 2: ", 0), 0u) << line << ": " << error;
    }
}

// Sky lines set the records of their time of day and weather; the written
// table loads as the game's sky description.
TEST(SceneDescription, SkyLinesWriteTheTableTheGameLoads) {
    testing_support::ScopedGameCore core;
    scene_tools::SceneDescription scene;
    std::string error;
    ASSERT_TRUE(scene_tools::parseSceneDescription("scene hall\n"
                                                   "sky all all horizon 0.3 0.5 0.7 cloudsspeed 0.02\n"
                                                   "sky nighttime clouds skycolor 0.1 0.2 0.3 fog 60 900\n"
                                                   "sky day all depth 1 2 3 4 5 bloom 7 8 9 skyfog 0.25\n",
                                                   scene, error))
        << error;
    const std::string bytes = scene_tools::skyTableBytes(scene.skyTable);
    ASSERT_EQ(bytes.size(), static_cast<std::size_t>(kSkyTableBytes));
    Y3SkyDataInstance description("hall");
    MemoryStream stream(const_cast<char*>(bytes.data()), static_cast<std::int32_t>(bytes.size()));
    ASSERT_EQ(description.readHeader(stream), kSkyTableBytes);
    struct Case {
        int record, field;
        std::vector<float> values;
    };
    const Case cases[] = {
        {0, SkyFieldHorizon, {0.3f, 0.5f, 0.7f}},         {15, SkyFieldCloudSpeed, {0.02f}},
        {13, SkyFieldSky, {0.1f, 0.2f, 0.3f}},            {13, SkyFieldFogStart, {60.0f, 900.0f}},
        {12, SkyFieldSky, {0.0f, 0.0f, 0.0f}},            {12, SkyFieldFogStart, {100.0f, 1500.0f}},
        {0, SkyFieldFogStart, {80.0f}},                   {6, SkyFieldDepth4, {5.0f, 1.0f, 2.0f, 3.0f, 4.0f}},
        {6, SkyFieldBloom, {7.0f, 8.0f, 9.0f}},           {6, SkyFieldSkyFog, {0.25f}},
        {2, SkyFieldRange, {0.5f, 6.0f, 50.0f, 0.5f}},    {8, SkyFieldStars, {0.6f, 0.6f, 0.7f}},
    };
    for (const Case& c : cases)
        for (std::size_t i = 0; i < c.values.size(); ++i)
            EXPECT_FLOAT_EQ(description.records()[c.record * kSkyRecordFields + c.field + i], c.values[i])
                << c.record << " " << c.field + i;

    for (const char* line : {"sky noon clear", "sky day", "sky day rain colour 1 1 1", "sky day rain fog 1",
                             "sky all all skycolor 1 nan 1"}) {
        scene_tools::SceneDescription bad;
        EXPECT_FALSE(scene_tools::parseSceneDescription(std::string("scene hall\n") + line, bad, error)) << line;
        EXPECT_EQ(error.rfind("line 2: sky", 0), 0u) << line << ": " << error;
    }
}

// A placement names the light set its model takes at a time of day; the
// written scene record reads back through the game's scene reader with the
// names in their slots (morning, day, evening, nighttime), the times left
// out empty so that they take the scene's default set.
TEST(SceneDescription, PlacementLightSetsByTimeOfDayReachTheWrittenRecord) {
    testing_support::ScopedGameCore core;
    scene_tools::SceneDescription scene;
    std::string error;
    ASSERT_TRUE(scene_tools::parseSceneDescription("scene hall\n"
                                                   "model boat boat_model at 1 2 3 nighttime hall_night day hall_noon\n"
                                                   "model crate crate_model texture_set 1\n",
                                                   scene, error))
        << error;
    const std::string bytes = scene_tools::sceneDataBytes(scene.data);
    SceneData data;
    MemoryStream stream(const_cast<char*>(bytes.data()), static_cast<std::int32_t>(bytes.size()));
    ASSERT_EQ(data.read(stream), static_cast<std::int32_t>(bytes.size()));
    ASSERT_EQ(data.models.size(), 2u);
    const char* const boat[4] = {"", "hall_noon", "", "hall_night"};
    for (int time = 0; time < 4; ++time) {
        EXPECT_STREQ(data.models[0].properties.lightSets[time], boat[time]) << time;
        EXPECT_STREQ(data.models[1].properties.lightSets[time], "") << time;
    }
    EXPECT_EQ(data.models[1].properties.textureSet, 1u);

    const std::string tooLong(128, 'n');
    for (const std::string& line : {std::string("model boat boat_model nighttime"),
                                   "model boat boat_model nighttime " + tooLong}) {
        scene_tools::SceneDescription bad;
        EXPECT_FALSE(scene_tools::parseSceneDescription("scene hall\n" + line, bad, error)) << line;
        EXPECT_EQ(error.rfind("line 2: ", 0), 0u) << line << ": " << error;
    }
}

// A model waypoint carries its trajectory's points in the order written;
// the written waypoints read back through the game's waypoint reader with
// them. Only a model pose takes points, and each point takes three numbers.
TEST(SceneDescription, TrajectoryPointsReachTheWrittenWaypoint) {
    testing_support::ScopedGameCore core;
    scene_tools::SceneDescription scene;
    std::string error;
    ASSERT_TRUE(scene_tools::parseSceneDescription("scene hall\n"
                                                   "waypoint point door at 1 0 1\n"
                                                   "waypoint model walk at 0 0 0 trajectory 0 0 2 trajectory -1.5 0 4 "
                                                   "trajectory -1.5 0.25 9\n",
                                                   scene, error))
        << error;
    const std::string bytes = scene_tools::waypointBytes(scene.waypoints);
    ASSERT_FALSE(bytes.empty());
    MemoryStream stream(const_cast<char*>(bytes.data()), static_cast<std::int32_t>(bytes.size()));
    std::vector<std::unique_ptr<Y3Pose>> poses;
    ASSERT_GT(readWaypointResource(stream, poses, "hall"), 0);
    ASSERT_EQ(poses.size(), 2u);
    const Y3Pose& walk = *poses[1];
    ASSERT_STREQ(walk.id, "walk");
    ASSERT_EQ(walk.type(), static_cast<std::uint32_t>(PoseModel));
    EXPECT_TRUE(walk.hasTrajectory());
    EXPECT_FALSE(poses[0]->hasTrajectory());
    const std::vector<PoseVector3>& points = static_cast<const Y3Pose_Model&>(walk).trajectory;
    const float expected[3][3] = {{0, 0, 2}, {-1.5f, 0, 4}, {-1.5f, 0.25f, 9}};
    ASSERT_EQ(points.size(), 3u);
    for (std::size_t i = 0; i < 3; ++i)
        for (std::size_t k = 0; k < 3; ++k) EXPECT_FLOAT_EQ(points[i].v[k], expected[i][k]) << i << " " << k;

    for (const char* line : {"waypoint point door trajectory 0 0 1", "waypoint model walk trajectory 0 0",
                             "waypoint model walk trajectory 0 nan 1", "pose particle smoke trajectory 1 1 1"}) {
        scene_tools::SceneDescription bad;
        EXPECT_FALSE(scene_tools::parseSceneDescription(std::string("scene hall\n") + line, bad, error)) << line;
        EXPECT_EQ(error.rfind("line 2: ", 0), 0u) << line << ": " << error;
    }
}

// A volume waypoint carries the corners of its ground polygon in the order
// written, and the camera's height above it is read through them; only a
// volume pose takes corners.
TEST(SceneDescription, VolumeCornersReachTheWrittenWaypoint) {
    testing_support::ScopedGameCore core;
    scene_tools::SceneDescription scene;
    std::string error;
    ASSERT_TRUE(scene_tools::parseSceneDescription("scene hall\n"
                                                   "waypoint volume sound:sea at 0 0 0 corner -5 0 -5 corner 5 0 -5 "
                                                   "corner 5 0 5 corner -5 0 5\n",
                                                   scene, error))
        << error;
    const std::string bytes = scene_tools::waypointBytes(scene.waypoints);
    MemoryStream stream(const_cast<char*>(bytes.data()), static_cast<std::int32_t>(bytes.size()));
    std::vector<std::unique_ptr<Y3Pose>> poses;
    ASSERT_GT(readWaypointResource(stream, poses, "hall"), 0);
    ASSERT_EQ(poses.size(), 1u);
    ASSERT_EQ(poses[0]->type(), static_cast<std::uint32_t>(PoseVolume));
    const auto& volume = static_cast<const Y3Pose_Volume&>(*poses[0]);
    ASSERT_EQ(volume.polygon.size(), 4u);
    EXPECT_FLOAT_EQ(volume.polygon[1].v[0], 5.0f);
    EXPECT_FLOAT_EQ(volume.polygon[1].v[2], -5.0f);
    const float over[3] = {2, 10, 1}, beside[3] = {8, 10, 1};
    EXPECT_FLOAT_EQ(volume.heightAbove(over, -1.0f, 1e6f), 10.0f);
    EXPECT_LT(volume.heightAbove(beside, -1.0f, 1e6f), -1.0f);

    for (const char* line : {"waypoint point door corner 0 0 1", "pose model walk corner 1 0 1",
                             "waypoint volume sea corner 0 x 1"}) {
        scene_tools::SceneDescription bad;
        EXPECT_FALSE(scene_tools::parseSceneDescription(std::string("scene hall\n") + line, bad, error)) << line;
        EXPECT_EQ(error.rfind("line 2: ", 0), 0u) << line << ": " << error;
    }
}

}  // namespace
