// Tracker maps: the map of a model with the "default" fallback, lookups by
// bone name, the part mask and the tracker weight, and damaged maps.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "animation/AnimationDataManager.h"
#include "animation/AnimationTestSupport.h"

using namespace animation_tests;
using resource_tests::storedFile;

namespace {

const char* kMaps =
    "map hero\n"
    "mapbone head 1 0 0 0 0.5\n"
    "mapbone Head 0 0 0 1 0\n"
    "mapbone jaw 1 0 0 1 0\n"
    "mapbone spine 1 1 1 0 0\n"
    "mapbone still 0 0 0 0 0\n"
    "map default\n"
    "mapbone root 1 0 0 0 0\n"
    "map empty\n";

TEST(AnimationMapData, AModelUsesItsOwnMapElseDefaultSilently) {
    AnimationFixture f(animationFiles(kMaps));
    AnimationTrackerMapManager& maps = f.core.trackerMaps();
    std::string chosen;
    AnimationMapData* own = maps.findMapForModel("hero", &chosen);
    ASSERT_NE(own, nullptr);
    EXPECT_EQ(chosen, "hero");
    EXPECT_EQ(own->map->size(), 5u);
    EXPECT_EQ(maps.findMapForModel("hero"), own);

    const std::size_t mark = f.log().recordCount();
    AnimationMapData* fallback = maps.findMapForModel("villager", &chosen);
    ASSERT_NE(fallback, nullptr);
    EXPECT_EQ(chosen, "default");
    EXPECT_STREQ(fallback->name, "default");
    EXPECT_NE(fallback->findEntry("root"), nullptr);
    EXPECT_TRUE(resource_tests::logSince(f.log(), mark).empty());

    AnimationMapData* empty = maps.findMapForModel("empty");
    ASSERT_NE(empty, nullptr);
    EXPECT_TRUE(empty->map->empty());
    EXPECT_EQ(empty->findEntry("root"), nullptr);
    EXPECT_TRUE(empty->partDrivesBone("root", 0));
    EXPECT_EQ(empty->trackerWeight("root", 1.0f), 0.0f);
}

TEST(AnimationMapData, AMissingDefaultIsReported) {
    AnimationFixture f(animationFiles("map hero\nmapbone head 1 0 0 0 1\n"));
    std::string chosen;
    EXPECT_EQ(f.core.trackerMaps().findMapForModel("villager", &chosen), nullptr);
    EXPECT_EQ(chosen, "default");
    EXPECT_TRUE(f.logged("Fail while create anim map data [default]: Resource file [default.amap] not found"));
    EXPECT_FALSE(f.logged("[villager]"));
}

TEST(AnimationMapData, BonesAreFoundByExactNameWithTheirPartsAndTrackerWeight) {
    AnimationFixture f(animationFiles(kMaps));
    AnimationMapData* map = f.core.trackerMaps().findMapForModel("hero");
    ASSERT_NE(map, nullptr);
    struct Case {
        const char* bone;
        bool body, face;
        float tracker;
    };
    const Case cases[] = {
        {"head", true, false, 1.0f},   // weight 0 for the face
        {"Head", false, true, 0.0f},   // the face's own bone
        {"jaw", false, true, 0.0f},    // a face weight takes the bone from the body
        {"spine", true, false, 0.0f},  // a face weight of 0
        {"still", false, false, 0.0f}, // driven by no part
        {"hand", true, true, 0.0f},    // absent: keeps its tracks, not tracked
        {"HEAD", true, true, 0.0f},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.bone);
        EXPECT_EQ(map->partDrivesBone(c.bone, 0), c.body);
        EXPECT_EQ(map->partDrivesBone(c.bone, kFacePart), c.face);
        EXPECT_FLOAT_EQ(map->trackerWeight(c.bone, 2.0f), c.tracker);
    }
}

TEST(AnimationMapData, DamagedMapsAreRefusedWithAMessage) {
    const std::string good = animationFiles("map hero\nmapbone head 1 0 0 0 1\n")[0].bytes;
    ASSERT_EQ(good.size(), 4u + 148u);
    struct Case {
        const char* what;
        std::string bytes;
    };
    std::string negative = good;
    negative[3] = static_cast<char>(0x80);
    std::string tooMany = good;
    tooMany[0] = 2;
    const Case cases[] = {
        {"negative count", negative},
        {"count past the end", tooMany},
        {"cut entry", good.substr(0, 100)},
        {"cut count", good.substr(0, 3)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        AnimationFixture f({storedFile(".amap", "hero", c.bytes)});
        EXPECT_EQ(f.core.trackerMaps().findMapForModel("hero"), nullptr);
        EXPECT_TRUE(f.logged("Failed read animation map [hero] data"));
        EXPECT_TRUE(f.logged("Fail read anim map data [hero] header"));
    }
    // A name filling its whole field ends inside it.
    std::string full = good;
    std::memset(full.data() + 4, 'b', 128);
    AnimationFixture f({storedFile(".amap", "hero", full)});
    AnimationMapData* map = f.core.trackerMaps().findMapForModel("hero");
    ASSERT_NE(map, nullptr);
    EXPECT_NE(map->findEntry(std::string(127, 'b').c_str()), nullptr);
}

}  // namespace
