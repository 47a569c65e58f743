#include "render/VideoSetup.h"

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/GameCore.h"
#include "foundation/IniFile.h"
#include "foundation/Log.h"
#include "render/VideoCore.h"
#include "support/TestSupport.h"

using testing_support::ScopedGameCore;

namespace {

// A settings store and a video core with a known desktop in the game core.
struct VideoFixture {
    VideoFixture() {
        savedSettings = gameCore.settings;
        savedVideo = gameCore.video;
        gameCore.settings = &settings;
        gameCore.video = &video;
        video.desktopWidth = 1920;
        video.desktopHeight = 1080;
    }
    ~VideoFixture() {
        gameCore.settings = savedSettings;
        gameCore.video = savedVideo;
    }
    void set(const char* key, const char* value) { settings.getCategory("video").getVariable(key).setString(value); }
    const IniVariable* find(const char* key) const {
        const IniCategory* category = settings.findCategory("video");
        return category ? category->findVariable(key) : nullptr;
    }
    void addResolution(int width, int height) {
        VideoResolution entry;
        entry.width = width;
        entry.height = height;
        std::snprintf(entry.label, sizeof(entry.label), "%ix%i", width, height);
        video.resolutions.push_back(entry);
    }

    ScopedGameCore core;
    IniFile settings;
    VideoCore video;
    IniFile* savedSettings = nullptr;
    VideoCore* savedVideo = nullptr;
};

const char* const kKeys[] = {"windowMode", "res_width", "res_height", "gamma",   "adapter",  "bits",
                             "aa",         "details",   "texture",    "vSync",   "nmap",     "water",
                             "waterReflection", "quality", "shadows", "frequency", "sprite", "pp_depth",
                             "pp_bloom"};

}  // namespace

TEST(VideoSetup, MissingSectionKeepsTheRecordAndTheWriteFillsEveryKey) {
    VideoFixture f;
    VideoSetup record;
    record.aa = 2;
    record.gamma = 0.25f;
    ASSERT_TRUE(record.readIni("video"));
    EXPECT_EQ(record.aa, 2);
    EXPECT_FLOAT_EQ(record.gamma, 0.25f);
    EXPECT_EQ(record.res_width, 1024);
    for (const char* key : kKeys) {
        const IniVariable* variable = f.find(key);
        ASSERT_NE(variable, nullptr) << key;
        EXPECT_TRUE(variable->value().empty()) << key;
    }

    f.settings.savePending = false;
    f.settings.reloadPending = true;
    ASSERT_TRUE(record.writeIni("video"));
    EXPECT_TRUE(f.settings.savePending);
    EXPECT_FALSE(f.settings.reloadPending);
    for (const char* key : kKeys) EXPECT_FALSE(f.find(key)->value().empty()) << key;
    EXPECT_EQ(f.find("windowMode")->value(), "NO");
    EXPECT_EQ(f.find("res_width")->value(), "1024");
    EXPECT_EQ(f.find("gamma")->value(), "0.25");
    EXPECT_EQ(f.find("aa")->value(), "4x");
    EXPECT_EQ(f.find("vSync")->value(), "one");
    EXPECT_EQ(f.find("windowMode")->comment(), ";In window mode game performance slightly degrade\r\n");
    EXPECT_EQ(f.find("aa")->comment(),
              ";Select fullscreen anti aliasing power\r\n;Possible values is:\r\n;    none\r\n;    2x\r\n"
              ";   *4x\r\n;    8x\r\n");

    // What was written reads back as the same record.
    VideoSetup copy;
    ASSERT_TRUE(copy.readIni("video"));
    EXPECT_EQ(copy.aa, 2);
    EXPECT_FLOAT_EQ(copy.gamma, 0.25f);
    EXPECT_EQ(copy.vSync, record.vSync);
    EXPECT_EQ(copy.water, record.water);
}

TEST(VideoSetup, ValuesAreReadWithoutCaseAndBadOnesKeepTheRecord) {
    struct Case {
        const char* key;
        const char* value;
        bool kept;          // the record keeps its value
        const char* logged; // a report, or ""
    };
    const Case cases[] = {
        {"aa", "4X", false, ""},
        {"aa", "16x", true, "16x"},
        {"vSync", "DEFAULT", false, ""},
        {"gamma", "bright", true, "gamma"},
        {"gamma", "5", true, "gamma"},
        {"res_width", "0", true, "res_width"},
        {"res_width", "wide", true, "res_width"},
        {"adapter", "-3", true, "adapter"},
        // Sizes no display gives, numbers too long for 32 bits, trailing text.
        {"res_height", "20000", true, "Invalid value of video setting [res_height]: 20000"},
        {"res_width", "2147483647", true, "Invalid value of video setting [res_width]: 2147483647"},
        {"res_width", "99999999999999999999", true, "[res_width]: 99999999999999999999"},
        {"res_width", "4294968320", true, "[res_width]: 4294968320"},
        {"res_height", "800px", true, "[res_height]: 800px"},
        {"adapter", "64", true, "[adapter]: 64"},
        {"res_height", "16384", false, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.key) + " = " + c.value);
        VideoFixture f;
        f.set(c.key, c.value);
        VideoSetup record;
        const VideoSetup before = record;
        ASSERT_TRUE(record.readIni("video"));
        if (c.kept) {
            EXPECT_EQ(record.aa, before.aa);
            EXPECT_FLOAT_EQ(record.gamma, before.gamma);
            EXPECT_EQ(record.res_width, before.res_width);
            EXPECT_EQ(record.res_height, before.res_height);
            EXPECT_EQ(record.adapter, before.adapter);
            EXPECT_TRUE(gameCore.log->contains(c.logged));
        }
    }
    VideoFixture f;
    f.set("aa", "4X");
    f.set("vSync", "DEFAULT");
    VideoSetup record;
    record.readIni("video");
    EXPECT_EQ(record.aa, 2);
    EXPECT_EQ(record.vSync, VideoSyncDefault);
}

TEST(VideoSetup, FixedPipelineDeviceTurnsDetailsWaterAndShadowsDown) {
    VideoFixture f;
    f.video.fixedPipeline = true;
    f.set("details", "high");
    f.set("water", "high");
    f.set("waterReflection", "yes");
    f.set("shadows", "soft");
    VideoSetup record;
    record.readIni("video");
    EXPECT_EQ(record.details, VideoDetailsMinimum);
    EXPECT_EQ(record.water, 0);
    EXPECT_EQ(record.waterReflection, 0);
    EXPECT_EQ(record.shadows, 0);
}

TEST(VideoSetup, ResolutionIndicesStayInsideTheList) {
    VideoFixture f;
    f.addResolution(800, 600);
    f.addResolution(1920, 1080);
    VideoSetup record;
    for (int bad : {-1, 2}) {
        EXPECT_FALSE(record.setResolution(bad));
        EXPECT_EQ(record.res_width, 1024);
        EXPECT_EQ(record.res_height, 768);
    }
    EXPECT_TRUE(gameCore.log->contains("Invalid resolution index: Can't set this device resolution"));
    EXPECT_TRUE(record.setResolution(0));
    EXPECT_EQ(record.res_width, 800);
    EXPECT_EQ(record.findResolutionIndex(), 0);

    // A size outside the list falls back to the desktop size.
    record.res_width = 1234;
    EXPECT_EQ(record.findResolutionIndex(), 1);
    EXPECT_EQ(record.res_width, 1920);
    EXPECT_TRUE(gameCore.log->contains("Import desktop resolution 1920x1080"));
}

TEST(VideoSetup, DefaultsFollowTheDeviceAndTheDesktop) {
    struct Case {
        bool fixedPipeline;
        std::uint8_t limited;
        const char* useDesktop;
        std::int32_t details, width, height, vSync, texture, water, reflection, shadows, bloom;
    };
    const Case cases[] = {
        {true, 0, "yes", VideoDetailsMinimum, 1920, 1080, VideoSyncOne, 0, 0, 0, 0, 0},
        {true, 0, "no", VideoDetailsMinimum, 800, 600, VideoSyncOne, 0, 0, 0, 0, 0},
        {false, 1, "no", VideoDetailsNormal, 1024, 768, VideoSyncDefault, 1, 1, 0, 1, 0},
        {false, 0, "yes", VideoDetailsHigh, 1920, 1080, VideoSyncDefault, 1, 2, 1, 1, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "details " << c.details << " desktop " << c.useDesktop);
        VideoFixture f;
        f.video.fixedPipeline = c.fixedPipeline;
        f.video.detailsLimit = c.limited;
        f.settings.getCategory("game").getVariable("useDesktopResolution").setString(c.useDesktop);
        VideoSetup record;
        record.windowMode = 1;
        record.gamma = 0.3f;
        record.setDefaults();
        EXPECT_EQ(record.details, c.details);
        EXPECT_EQ(record.res_width, c.width);
        EXPECT_EQ(record.res_height, c.height);
        EXPECT_EQ(record.vSync, c.vSync);
        EXPECT_EQ(record.texture, c.texture);
        EXPECT_EQ(record.water, c.water);
        EXPECT_EQ(record.waterReflection, c.reflection);
        EXPECT_EQ(record.shadows, c.shadows);
        EXPECT_EQ(record.pp_bloom, c.bloom);
        EXPECT_EQ(record.windowMode, 0);
        EXPECT_FLOAT_EQ(record.gamma, 0.0f);
        EXPECT_EQ(record.bits, 1);
        EXPECT_TRUE(gameCore.log->contains("Get video INI defaults"));
    }
}

TEST(VideoCore, GammaRampFollowsTheGamma) {
    VideoCore video;
    VideoDevice& device = video.videoDevice;
    device.buildGammaRamp(0.0f);
    EXPECT_EQ(device.gammaRamp[0][0], 0);
    EXPECT_EQ(device.gammaRamp[1][128], static_cast<std::uint16_t>(128 / 255.0 * 65535.0));
    EXPECT_EQ(device.gammaRamp[2][255], 65535);
    device.buildGammaRamp(0.25f);  // exponent 0.5: brighter
    EXPECT_GT(device.gammaRamp[0][64], 64 * 257);
    device.buildGammaRamp(100.0f);  // exponent held at 0.1
    EXPECT_EQ(device.gammaRamp[0][1], static_cast<std::uint16_t>(std::pow(1 / 255.0, 0.1f) * 65535.0));
}

TEST(VideoCore, PostprocessingNeedsDetailsAnEffectAndNoDebugSwitch) {
    VideoFixture f;
    VideoSetup& record = f.video.activeVideoSetup();
    struct Case {
        std::int32_t details, bloom, depth;
        const char* disabled;
        bool on;
    };
    const Case cases[] = {
        {VideoDetailsHigh, 1, 0, "no", true},     {VideoDetailsNormal, 0, 1, "no", true},
        {VideoDetailsMinimum, 1, 1, "no", false}, {VideoDetailsHigh, 0, 0, "no", false},
        {VideoDetailsHigh, 1, 1, "yes", false},
    };
    for (const Case& c : cases) {
        record.details = c.details;
        record.pp_bloom = c.bloom;
        record.pp_depth = c.depth;
        f.settings.getCategory("debug").getVariable("debug_disable_postprocessing").setString(c.disabled);
        f.video.postprocessing = !c.on;
        f.video.updatePostprocessing();
        EXPECT_EQ(f.video.postprocessing, c.on) << c.details << c.bloom << c.depth << c.disabled;
    }
}

TEST(VideoSetup, SectionRoundTripsThroughTheSetupFileWithItsComments) {
    testing_support::TempDir dir;
    const std::string path = dir.file("setup.ini");
    VideoSetup record;
    record.windowMode = 1;
    record.res_width = 1280;
    record.res_height = 720;
    record.gamma = -0.25f;
    record.adapter = 1;
    record.aa = 2;
    record.details = VideoDetailsNormal;
    record.vSync = VideoSyncNone;
    record.frequency = 5;  // "75"
    record.shadows = 2;
    record.pp_bloom = 1;
    std::string written;
    {
        VideoFixture f;
        ASSERT_TRUE(record.writeIni("video"));
        ASSERT_TRUE(writeIniFile(f.settings, 0, path));
        written = formatIniText(f.settings, 0);
    }
    EXPECT_NE(written.find(";Choise screen refresh rate\r\n;Possible values is:\r\n;    AUTO\r\n"), std::string::npos);
    EXPECT_NE(written.find(";   *75\r\n"), std::string::npos);
    EXPECT_NE(written.find(";   *None\r\n"), std::string::npos);

    VideoFixture f;
    ASSERT_EQ(readIniFile(f.settings, path, false), 1);
    VideoSetup copy;
    ASSERT_TRUE(copy.readIni("video"));
    const auto fields = [](const VideoSetup& v) {
        return std::vector<double>{double(v.windowMode), double(v.res_width), double(v.res_height), double(v.bits),
                                   double(v.aa), double(v.details), double(v.texture), double(v.vSync),
                                   double(v.nmap), double(v.water), double(v.waterReflection), double(v.quality),
                                   double(v.shadows), double(v.gamma), double(v.frequency), double(v.sprite),
                                   double(v.adapter), double(v.pp_depth), double(v.pp_bloom)};
    };
    EXPECT_EQ(fields(copy), fields(record));
    // Written again, the section is the same text, comments and all.
    ASSERT_TRUE(copy.writeIni("video"));
    EXPECT_EQ(formatIniText(f.settings, 0), written);
}
