// Sky descriptions: the text compiler's records and messages, the compiled
// table's load, and the import the game refuses to store.
#include "effects/SkyDataManager.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "app/GameCore.h"
#include "foundation/DataStream.h"
#include "foundation/Log.h"
#include "support/TestSupport.h"

namespace {

const float* recordOf(const SkyTable& table, int time, int weather) {
    return table.data() + (4 * time + weather) * kSkyRecordFields;
}

std::size_t logged(const std::string& text) {
    const std::vector<LogRecord> records = gameCore.log->records();
    return std::count_if(records.begin(), records.end(),
                         [&](const LogRecord& r) { return r.text.find(text) != std::string::npos; });
}

class SkyDataTest : public ::testing::Test {
protected:
    void SetUp() override { gameCore.log->clear(); }
};

TEST_F(SkyDataTest, TextFillsTheFieldsOfItsBlockAndLogsMissingArguments) {
    constexpr float kUnit = 1.0f / 255.0f;
    struct Case {
        const char* text;
        int time, weather, field;
        std::vector<float> values;
        const char* message;  // logged this many times (or never when null)
        std::size_t count;
    };
    const Case cases[] = {
        {"[day] (clear) skycolor 255, 0, 127", 1, 0, SkyFieldSky, {1.0f, 0.0f, 127 * kUnit}, nullptr, 0},
        // Commas need no space; upper case is read as lower case.
        {"[DAY] (CLEAR) SKYCOLOR 255,0,127", 1, 0, SkyFieldSky, {1.0f, 0.0f, 127 * kUnit}, nullptr, 0},
        // One number where two are expected: both keep their defaults.
        {"[day] (clear) fogtime 50", 1, 0, SkyFieldFogStart, {100.0f, 1500.0f},
         "Sky [test]: Expected 2 arg for [fogtime] (clear:day)", 2},
        {"[morning] (clear) fogtime 50", 0, 0, SkyFieldFogStart, {80.0f, 1500.0f},
         "Sky [test]: Expected 2 arg for [fogtime] (clear:morning)", 2},
        // A comma anywhere later lets the next number be the second one.
        {"[day] (clear) fogtime 50 later on: 70, 9", 1, 0, SkyFieldFogStart, {50.0f, 70.0f}, nullptr, 0},
        // Three of five: the last two keep their defaults.
        {"[evening] (rain) depth 1, 2, 3\n", 2, 2, SkyFieldDepth4, {0.5f, 1.0f, 2.0f, 3.0f, 5.0f},
         "Sky [test]: Expected 4 arg for [depth] (rain:evening)", 2},
        {"[nighttime] (fog) bloom 0.25, 2, -3 cloudsspeed 0.5 skyfog 0.125", 3, 3, SkyFieldBloom,
         {0.25f, 2.0f, -3.0f}, nullptr, 0},
        {"[nighttime] (fog) bloom 0.25, 2, -3 cloudsspeed 0.5 skyfog 0.125", 3, 3, SkyFieldSkyFog, {0.125f}, nullptr,
         0},
        {"[nighttime] (fog) bloom 0.25, 2, -3 cloudsspeed 0.5 skyfog 0.125", 3, 3, SkyFieldCloudSpeed, {0.5f},
         nullptr, 0},
        // A key missing from its block is taken from a later block.
        {"[day] (clouds) [evening] (clear) horizontcolor 51 102 153", 1, 1, SkyFieldHorizon,
         {0.2f, 0.4f, 0.6f}, nullptr, 0},
        // No label: compile defaults by time of day.
        {"skycolor 1 2 3", 3, 1, SkyFieldHorizon, {0.01f, 0.01f, 0.05f, 100.0f, 1500.0f, 0.003f, 0, 0, 0, 1, 1, 1,
                                                   0.2f, 0.2f, 0.22f, 0.01f}, nullptr, 0},
        {"", 2, 0, SkyFieldRange, {0.5f, 6.0f, 50.0f, 0.5f, 0.0f, -0.2f, 4.0f, 5.0f, 0.6f, 1.0f, 1.0f}, nullptr, 0},
        // A number starting at the text's last character is 0.
        {"[day] (clear) skyfog 7", 1, 0, SkyFieldSkyFog, {0.0f}, nullptr, 0},
    };
    for (const Case& c : cases) {
        gameCore.log->clear();
        SkyTable table;
        parseSkyText("test", c.text, table);
        const float* record = recordOf(table, c.time, c.weather);
        for (std::size_t i = 0; i < c.values.size(); ++i)
            EXPECT_NEAR(record[c.field + i], c.values[i], 1e-5f) << c.text << " field " << c.field + i;
        if (c.message) EXPECT_EQ(logged(c.message), c.count) << c.text;
        else EXPECT_EQ(logged("Expected"), 0u) << c.text;
    }
}

TEST_F(SkyDataTest, AShortCompiledTableFailsItsLoad) {
    SkyDataManager skies;
    std::vector<float> floats(kSkyRecordCount * kSkyRecordFields);
    for (std::size_t i = 0; i < floats.size(); ++i) floats[i] = static_cast<float>(i) * 0.5f;
    const std::string whole(reinterpret_cast<const char*>(floats.data()), kSkyTableBytes);
    struct Case {
        std::string bytes;
        bool loads;
    };
    const Case cases[] = {{whole, true}, {whole + "extra", true}, {whole.substr(0, kSkyTableBytes - 1), false},
                          {whole.substr(0, kSkyRecordBytes), false}, {"", false}};
    int n = 0;
    for (const Case& c : cases) {
        gameCore.log->clear();
        auto owned = std::make_unique<Y3SkyDataInstance>(("sky" + std::to_string(n++)).c_str());
        Y3SkyDataInstance* record = owned.get();
        MemoryStream stream;
        stream.write(c.bytes.data(), static_cast<std::int32_t>(c.bytes.size()));
        stream.setPosition(0);
        EXPECT_EQ(skies.loadHeader(record, &stream), c.loads) << c.bytes.size();
        EXPECT_EQ(logged("Can't load sky [" + std::string(record->name) + "] data"), c.loads ? 0u : 1u);
        ASSERT_EQ(record->records() != nullptr, c.loads) << c.bytes.size();
        if (c.loads) EXPECT_TRUE(std::equal(floats.begin(), floats.end(), record->records()));
    }
}

TEST_F(SkyDataTest, ImportParsesTheSourceAndTheGameRefusesToStoreIt) {
    testing_support::TempDir dir;
    const std::string source = dir.path() + "/harbour.txt";
    ASSERT_TRUE(testing_support::writeFile(source, "[day] (clear) fogtime 50"));
    SkyDataManager skies;
    EXPECT_FALSE(skies.compileFromSource(source.c_str()));
    EXPECT_EQ(logged("Sky [harbour]: Expected 2 arg for [fogtime] (clear:day)"), 2u);
    EXPECT_TRUE(gameCore.log->contains("Stream save not possible in release exe"));

    gameCore.log->clear();
    EXPECT_FALSE(skies.compileFromSource((dir.path() + "/missing.txt").c_str()));
    EXPECT_TRUE(gameCore.log->contains("missing.txt"));
    EXPECT_FALSE(gameCore.log->contains("Stream save not possible"));
}

}  // namespace
