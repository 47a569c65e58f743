// The scene's sky: a new one, its five saved words, its push and pop on the
// description's user list and what its destructor reports.
#include "effects/Y3Sky.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <vector>

#include "foundation/DataStream.h"
#include "foundation/Log.h"
#include "foundation/TimeCore.h"
#include "render/TextureTestSupport.h"
#include "effects/SkyDataManager.h"
#include "resources/StoredDataManager.h"
#include "support/TestSupport.h"

namespace {

using SkyRecord = Y3SkyDataInstance;

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

TEST_F(Y3SkyTest, TheFiveWordsComeBackWithStateZeroAndCodesInRange) {
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
    EXPECT_EQ(copy.state, 0u);
    EXPECT_EQ(copy.weather, SkyRain);
    EXPECT_EQ(copy.timeOfDay, 3);

    // A weather or time of day past the records is clamped into 0..3.
    MemoryStream wild;
    for (std::int32_t word : {0, 0, 0, 7, -2}) writeI32(wild, word);
    wild.setPosition(0);
    ASSERT_EQ(copy.read(wild), 20);
    EXPECT_EQ(copy.weather, SkyFog);
    EXPECT_EQ(copy.timeOfDay, 0);

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
    ASSERT_FALSE(skies.loadHeader(&cut, &shortStream));
    Y3Sky shortSky(&cut);
    EXPECT_FALSE(shortSky.currentRecord(fields));
    // Invalid, and none at all.
    SkyRecord missing("lagoon");
    missing.flags |= kResourceUnavailable;
    EXPECT_FALSE(Y3Sky(&missing).currentRecord(fields));
    EXPECT_FALSE(Y3Sky(nullptr).currentRecord(fields));
}

// Each frame the current record scrolls the clouds by its speed over the
// frame's step and becomes the sky environment; a description without
// records changes neither.
TEST_F(Y3SkyTest, UpdateScrollsTheCloudsAndPublishesTheCurrentRecord) {
    SkyDataManager skies;
    testing_support::ScopedCoreMember<SkyDataManager> useSkies{gameCore.skyData, &skies};
    std::vector<float> records(kSkyRecordCount * kSkyRecordFields);
    for (int r = 0; r < kSkyRecordCount; ++r)
        for (int i = 0; i < kSkyRecordFields; ++i) records[r * kSkyRecordFields + i] = r * 100.0f + i;
    for (int r = 0; r < kSkyRecordCount; ++r) records[r * kSkyRecordFields + SkyFieldCloudSpeed] = 0.01f * (r + 1);
    MemoryStream stream;
    stream.write(records.data(), kSkyTableBytes);
    stream.setPosition(0);
    ASSERT_TRUE(skies.loadHeader(&record, &stream));

    CurrentTime second(1.0);
    struct Case {
        std::int32_t weather, timeOfDay, record;
    };
    // A new sky is clear daytime: record 4.
    for (const Case c : {Case{-1, -1, 4}, {SkyFog, 0, 3}, {SkyClouds, 3, 13}}) {
        Y3Sky sky(&record);
        if (c.weather >= 0) sky.setWeather(c.weather), sky.setTimeOfDay(c.timeOfDay);
        ASSERT_TRUE(sky.update(second));
        ASSERT_TRUE(sky.update(second));
        const float speed = 0.01f * (c.record + 1);
        EXPECT_NEAR(sky.cloudOffsetU, 2 * speed, 1e-6f) << c.record;
        EXPECT_NEAR(sky.cloudOffsetV, 2 * speed * 0.1f, 1e-6f) << c.record;
        const SkyEnvironment& e = skyEnvironment();
        const float base = c.record * 100.0f;
        const float expected[16] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 14, 15, 11, 12, 13};
        const float* published = &e.range[0];
        for (int i = 0; i < 16; ++i) EXPECT_EQ(published[i], base + expected[i]) << c.record << " " << i;
    }

    // A description that fails its load: the last environment stays.
    SkyRecord cut("reef");
    const SkyEnvironment before = skyEnvironment();
    MemoryStream shortStream;
    shortStream.write(records.data(), kSkyTableBytes - 4);
    shortStream.setPosition(0);
    EXPECT_FALSE(skies.loadHeader(&cut, &shortStream));
    Y3Sky shortSky(&cut);
    EXPECT_FALSE(shortSky.update(second));
    EXPECT_EQ(shortSky.cloudOffsetU, 0.0f);
    EXPECT_EQ(std::memcmp(&before, &skyEnvironment(), sizeof(SkyEnvironment)), 0);
}

// The layers and programs of each row of the weather table; an all-dark
// record draws the sky colour alone except in rain.
TEST(Y3SkyShaderPass, EachWeatherAndLayerClassificationChoosesItsPrograms) {
    struct Case {
        std::int32_t weather;
        bool sky, stars, clouds;
        std::vector<SkyColourLayer> layers;
        std::int32_t vertex, pixel;
    };
    using L = SkyColourLayer;
    const Case cases[] = {
        {SkyClear, true, false, true, {L::SkyColourSky}, 20, 20},
        {SkyClear, false, false, false, {L::SkyColourSky}, 20, 20},
        {SkyClear, true, true, false, {L::SkyColourSky, L::SkyColourStars}, 21, 22},
        {SkyClear, false, true, true, {L::SkyColourStars}, 20, 21},
        {SkyClouds, true, false, false, {L::SkyColourSky}, 20, 20},
        {SkyFog, false, false, false, {L::SkyColourSky}, 20, 20},
        {SkyClouds, false, true, false, {L::SkyColourStars}, 20, 21},
        {SkyFog, true, false, true, {L::SkyColourSky, L::SkyColourClouds}, 21, 23},
        {SkyClouds, false, true, true, {L::SkyColourStars, L::SkyColourClouds}, 21, 24},
        {SkyFog, true, true, true, {L::SkyColourSky, L::SkyColourStars, L::SkyColourClouds}, 22, 25},
        {SkyClouds, false, false, true, {L::SkyColourSky, L::SkyColourStars, L::SkyColourClouds}, 22, 25},
        {SkyRain, true, true, true, {L::SkyColourClouds}, 20, 20},
        {SkyRain, false, false, false, {L::SkyColourClouds}, 20, 20},
    };
    for (const Case& c : cases) {
        float record[kSkyRecordFields] = {};
        // One component at the threshold is enough; below it is off.
        record[SkyFieldSky + 2] = c.sky ? 0.0001f : 0.00009f;
        record[SkyFieldStars] = c.stars ? 0.5f : 0.0f;
        record[SkyFieldClouds + 1] = c.clouds ? 1.0f : 0.0f;
        const SkyShaderPass pass = skyShaderPass(c.weather, record);
        ASSERT_EQ(pass.layerCount, static_cast<std::int32_t>(c.layers.size())) << c.weather << c.sky << c.stars << c.clouds;
        for (std::size_t i = 0; i < c.layers.size(); ++i) EXPECT_EQ(pass.layers[i], c.layers[i]);
        EXPECT_EQ(pass.vertexProgram, c.vertex) << c.weather << c.sky << c.stars << c.clouds;
        EXPECT_EQ(pass.pixelProgram, c.pixel) << c.weather << c.sky << c.stars << c.clouds;
    }
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
