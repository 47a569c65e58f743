// The scene's sky: a new one, its five saved words, its push and pop on the
// description's user list and what its destructor reports.
#include "effects/Y3Sky.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "foundation/DataStream.h"
#include "foundation/Log.h"
#include "render/TextureTestSupport.h"
#include "effects/SkyDataManager.h"
#include "resources/StoredDataManager.h"
#include "support/TestSupport.h"

namespace {

using SkyRecord = StoredRecordOf<ResourceKind::Sky>;

class Y3SkyTest : public texture_test::TextureTest {
protected:
    Log& log() { return *gameCore.log; }
    SkyRecord record{"harbour"};
};

TEST_F(Y3SkyTest, ANewSkyIsClearDaytimeAndDrawsEachWeatherWithItsOwnLayer) {
    Y3Sky sky(&record);
    EXPECT_EQ(sky.weather, SkyClear);
    EXPECT_EQ(sky.timeOfDay, 1);
    EXPECT_EQ(sky.state, 0u);
    EXPECT_EQ(sky.cloudOffsetU, 0.0f);
    EXPECT_EQ(sky.cloudOffsetV, 0.0f);
    // Every layer but the rain layer carries the option byte.
    struct Case {
        std::int32_t weather;
        const char* layer;
        std::uint8_t option;
    };
    for (const Case c : {Case{SkyClear, "sky_main", 1}, {SkyClouds, "sky_clouds", 1}, {SkyRain, "sky_rain", 0},
                         {SkyFog, "sky_fog", 1}}) {
        sky.weather = c.weather;
        EXPECT_STREQ(sky.currentLayer().name(), c.layer) << c.weather;
        EXPECT_TRUE(sky.currentLayer().enabled) << c.weather;
        EXPECT_EQ(sky.currentLayer().option, c.option) << c.weather;
    }
}

TEST_F(Y3SkyTest, TheFiveWordsComeBackWithoutTheRegisteredAndPushedBits) {
    Y3Sky sky(&record);
    sky.cloudOffsetU = 0.25f;
    sky.cloudOffsetV = -3.5f;
    sky.state = kSkyRegistered | kSkyAllocated | 0x10;
    sky.weather = SkyRain;
    sky.timeOfDay = 3;
    MemoryStream stream;
    ASSERT_EQ(sky.write(stream), 20);
    sky.state = 0;  // the written sky is not in the record's user list

    stream.setPosition(0);
    Y3Sky copy(&record);
    ASSERT_EQ(copy.read(stream), 20);
    EXPECT_EQ(copy.cloudOffsetU, 0.25f);
    EXPECT_EQ(copy.cloudOffsetV, -3.5f);
    EXPECT_EQ(copy.state, 0x10u);
    EXPECT_EQ(copy.weather, SkyRain);
    EXPECT_EQ(copy.timeOfDay, 3);

    // Four words are not a sky: nothing changes.
    MemoryStream shortStream;
    shortStream.write(stream.data(), 16);
    shortStream.setPosition(0);
    Y3Sky untouched(&record);
    EXPECT_LT(untouched.read(shortStream), 0);
    EXPECT_EQ(untouched.cloudOffsetU, 0.0f);
    EXPECT_EQ(untouched.weather, SkyClear);
    EXPECT_EQ(untouched.timeOfDay, 1);
}

TEST_F(Y3SkyTest, PushRegistersWithTheDescriptionAndPopReleasesTheLayers) {
    addDds("sky_main");
    Y3Sky sky(&record);
    ASSERT_TRUE(sky.push());
    EXPECT_EQ(sky.state, kSkyRegistered | kSkyAllocated);
    EXPECT_GE(record.users.indexOf(&sky), 0);

    // A second push is refused and changes nothing.
    EXPECT_FALSE(sky.push());
    EXPECT_TRUE(log().contains("Can't push sky data [harbour] twice"));
    EXPECT_TRUE(log().contains("Can't register sky [harbour]"));
    EXPECT_EQ(sky.state, kSkyRegistered | kSkyAllocated);

    ASSERT_TRUE(sky.layers[SkyLayerMain].allocateDefault(0, false));
    ASSERT_NE(sky.layers[SkyLayerMain].handler(), nullptr);
    ASSERT_TRUE(sky.pop());
    EXPECT_EQ(sky.state, 0u);
    EXPECT_LT(record.users.indexOf(&sky), 0);
    EXPECT_EQ(sky.layers[SkyLayerMain].handler(), nullptr);

    EXPECT_FALSE(sky.pop());
    EXPECT_TRUE(log().contains("Can't pop sky [harbour]"));

    // A description the packages do not hold cannot take the sky.
    SkyRecord missing("lagoon");
    missing.flags |= kResourceUnavailable;
    Y3Sky lost(&missing);
    EXPECT_FALSE(lost.push());
    EXPECT_TRUE(log().contains("Can't register sky [lagoon]"));
    EXPECT_EQ(lost.state, 0u);
}

// The record of the sky's weather and time of day comes from a description
// of all 16 records; a short description, an invalid one and values out of
// range give none.
TEST_F(Y3SkyTest, CurrentRecordIsTheOneOfWeatherAndTimeOfDay) {
    SkyDataManager skies;
    testing_support::ScopedCoreMember<SkyDataManager> useSkies{gameCore.skyData, &skies};
    std::vector<float> records(kSkyRecordCount * kSkyRecordFields);
    for (std::size_t i = 0; i < records.size(); ++i) records[i] = static_cast<float>(i);
    MemoryStream stream;
    stream.write(records.data(), static_cast<std::int32_t>(records.size() * sizeof(float)));
    stream.setPosition(0);
    ASSERT_TRUE(skies.loadHeader(&record, &stream));
    Y3Sky sky(&record);
    float fields[kSkyRecordFields] = {};
    struct Case {
        std::int32_t weather, timeOfDay;
        bool found;
    };
    for (const Case c : {Case{SkyClear, 1, true}, {SkyFog, 3, true}, {SkyRain, 0, true}, {4, 0, false},
                         {-1, 1, false}, {SkyClear, 4, false}}) {
        sky.weather = c.weather;
        sky.timeOfDay = c.timeOfDay;
        fields[0] = -1.0f;
        EXPECT_EQ(sky.currentRecord(fields), c.found) << c.weather << " " << c.timeOfDay;
        const float first = c.found ? static_cast<float>((c.weather + 4 * c.timeOfDay) * kSkyRecordFields) : -1.0f;
        EXPECT_EQ(fields[0], first) << c.weather << " " << c.timeOfDay;
    }

    // One byte short of 16 records.
    SkyRecord cut("reef");
    MemoryStream shortStream;
    shortStream.write(records.data(), static_cast<std::int32_t>(records.size() * sizeof(float) - 1));
    shortStream.setPosition(0);
    ASSERT_TRUE(skies.loadHeader(&cut, &shortStream));
    Y3Sky shortSky(&cut);
    EXPECT_FALSE(shortSky.currentRecord(fields));
    // Invalid, and none at all.
    SkyRecord missing("lagoon");
    missing.flags |= kResourceUnavailable;
    EXPECT_FALSE(Y3Sky(&missing).currentRecord(fields));
    EXPECT_FALSE(Y3Sky(nullptr).currentRecord(fields));
}

TEST_F(Y3SkyTest, DestroyingAPushedSkyOnlyReports) {
    struct Case {
        std::uint32_t state;
        bool deallocate, unregister;
    };
    for (const Case c : {Case{0, false, false}, {kSkyAllocated, true, false}, {kSkyRegistered, false, true},
                         {kSkyRegistered | kSkyAllocated, true, true}}) {
        log().clear();
        auto sky = std::make_unique<Y3Sky>(&record);
        sky->state = c.state;
        sky.reset();
        EXPECT_EQ(log().contains("Deallocate scene sky before destructor call"), c.deallocate) << c.state;
        EXPECT_EQ(log().contains("Unregister scene sky before destructor call"), c.unregister) << c.state;
    }
}

}  // namespace
