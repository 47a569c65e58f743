#include "app/GameSetup.h"

#include <cmath>
#include <cstdio>
#include <string>
#include <utility>

#include <gtest/gtest.h>

#include "app/GameSetupFixture.h"
#include "script/ScriptTestFixture.h"

using testing_support::ScriptFixture;
using testing_support::SetupFixture;

namespace {

const ScriptClassRegistration kSetupClass[] = {{"GameSetup", &GameSetup::initialize}};

// A Lua state with "GameSetup" over a game core with the setup's cores; the
// setup starts from its defaults as at start-up.
class SetupScript {
public:
    SetupScript() {
        setup.setup.load(true);
        setup.setup.edited = setup.setup.applied;
    }
    // Runs an expression; "r" holds tostring() of its first result ("nil"
    // for none).
    std::string run(const std::string& chunk) {
        EXPECT_TRUE(lua.load("r = tostring((" + chunk + "))")) << chunk;
        return lua.global("r");
    }
    GameSetup& engine() { return setup.setup; }
    bool logged(const std::string& text) const { return setup.logged(text); }

    ScriptFixture lua{kSetupClass, 1};
    SetupFixture setup;
};

}  // namespace

TEST(GameSetupScript, IndexSettersTakeOneBasedIndicesAndRefuseTheRest) {
    struct Case {
        const char* getter;
        const char* setter;
        int count;
        const char* message;
    };
    const Case cases[] = {
        {"VAA", "setVAA", 4, "Invalid aa index"},
        {"VAniso", "setVAniso", 3, "Invalid Aniso index"},
        {"VFreq", "setVFreq", 8, "Invalid vfreq index"},
        {"GDetails", "setGDetails", 3, "Invalid details index"},
        {"GTexture", "setGTexture", 3, "Invalid texture quality index"},
        {"GNMap", "setGNMap", 3, "Invalid nmap quality index"},
        {"GWater", "setGWater", 3, "Invalid water quality index"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.setter);
        SetupScript s;
        const std::string set = std::string("setup:") + c.setter;
        const std::string get = std::string("setup:") + c.getter + "()";
        EXPECT_EQ(s.run(set + "(" + std::to_string(c.count) + ")"), "true");
        EXPECT_EQ(s.run(get), std::to_string(c.count));
        EXPECT_FALSE(s.logged(c.message));
        for (int bad : {c.count + 1, 0, -1}) {
            EXPECT_EQ(s.run(set + "(" + std::to_string(bad) + ")"), "false");
            EXPECT_EQ(s.run(get), std::to_string(c.count));
        }
        EXPECT_TRUE(s.logged(c.message));
    }
    SetupScript s;
    EXPECT_EQ(s.run("setup:setVAA(4)"), "true");
    EXPECT_EQ(s.engine().edited.video.aa, 3);
    EXPECT_EQ(s.engine().applied.video.aa, 0);
    EXPECT_EQ(s.run("setup:maxVFreq()"), "8");
    EXPECT_EQ(s.run("setup:maxGDetails()"), "2");
    s.setup.video.detailsLimit = 1;
    EXPECT_EQ(s.run("setup:maxGDetails()"), "0");
}

TEST(GameSetupScript, FlagsModesAndPercents) {
    SetupScript s;
    struct Case {
        const char* chunk;
        const char* result;
    };
    const Case cases[] = {
        {"setup:setMouse(100)", "100"},
        {"setup:setMouse(100.5)", "false"},
        {"setup:setMouse(-1)", "false"},
        {"setup:mouse()", "100"},
        {"setup:setCamera(0/0)", "false"},
        {"setup:camera()", "50"},
        {"setup:setVSync(false)", "false"},
        {"setup:VSync()", "false"},
        {"setup:setVDeph(false)", "false"},
        {"setup:VDepth()", "false"},
        {"setup:setGDepth(true)", "true"},
        {"setup:GDeph()", "true"},
        {"setup:setGBloom(false)", "false"},
        {"setup:GBloom()", "false"},
        {"setup:setGReflection(false)", "false"},
        {"setup:GReflection()", "false"},
        {"setup:setGShadows(GameSetup.ShadowSoft)", "2"},
        {"setup:setGShadows(3)", "false"},
        {"setup:setGShadows(-1)", "false"},
        {"setup:GShadows()", "2"},
        {"setup:setInvertCamera(true)", "true"},
        {"setup:invertCamera()", "true"},
        {"setup:subtitles()", "true"},
        {"setup:setCrosshair(-4)", "-4"},
        {"setup:crosshair()", "-4"},
        {"setup:crosshairTransparency()", "1"},
        {"setup:setCrosshairTransparency(70)", "70"},
        {"setup:crosshairTransparency()", "70"},
        {"setup:classof()", "GameSetup"},
        {"GameSetup.ShadowDisable + GameSetup.ShadowEnable", "1"},
    };
    for (const Case& c : cases) EXPECT_EQ(s.run(c.chunk), c.result) << c.chunk;
    const SetupOptions& e = s.engine().edited;
    EXPECT_FLOAT_EQ(e.mouseSensitivity, 100.0f);
    EXPECT_EQ(e.video.vSync, 1);
    EXPECT_EQ(e.video.bits, 0);
    EXPECT_EQ(e.video.pp_depth, 1);
    EXPECT_EQ(e.video.shadows, 2);
    EXPECT_FLOAT_EQ(e.crosshairAlpha, 70.0f);
    EXPECT_TRUE(s.logged("Invalid percent range"));
    EXPECT_TRUE(s.logged("Invalid shadows mode 3"));
}

TEST(GameSetupScript, VolumesArePercentsAndOnlyAudibleStepsArePushed) {
    SetupScript s;
    EXPECT_EQ(s.run("setup:volume(0)"), "80");
    EXPECT_EQ(s.run("setup:setVolume(0, 50)"), "true");
    EXPECT_FLOAT_EQ(s.engine().edited.sound.master.setup, 0.5f);
    EXPECT_FLOAT_EQ(s.setup.sound.volumes.master.setup, 0.5f);
    // 0.004 away: stored, not pushed.
    EXPECT_EQ(s.run("setup:setVolume(0, 50.4)"), "true");
    EXPECT_FLOAT_EQ(s.engine().edited.sound.master.setup, 0.504f);
    EXPECT_FLOAT_EQ(s.setup.sound.volumes.master.setup, 0.5f);
    EXPECT_EQ(s.run("setup:setVolume(5, 20)"), "true");
    EXPECT_FLOAT_EQ(s.engine().edited.sound.channels[4].setup, 0.2f);
    EXPECT_FLOAT_EQ(s.setup.sound.volumes.channels[4].setup, 0.2f);
    EXPECT_EQ(s.run("math.floor(setup:volume(5) + 0.5)"), "20");

    EXPECT_EQ(s.run("setup:volume(6)"), "0");
    EXPECT_TRUE(s.logged("Invalid sound channel index 6"));
    EXPECT_EQ(s.run("setup:setVolume(-1, 10)"), "false");
    EXPECT_TRUE(s.logged("Invalid channel index [-1], but range is 0..5"));
    for (const char* percent : {"-10", "100.5", "0/0"}) {
        EXPECT_EQ(s.run(std::string("setup:setVolume(5, ") + percent + ")"), "false") << percent;
        EXPECT_FLOAT_EQ(s.engine().edited.sound.channels[4].setup, 0.2f);
    }
    EXPECT_TRUE(s.logged("Invalid percent range"));
    EXPECT_FLOAT_EQ(s.engine().applied.sound.master.setup, 0.8f);
}

TEST(GameSetupScript, GammaIsShownAsPercentAndPreviewed) {
    SetupScript s;
    EXPECT_EQ(s.run("setup:VGamma()"), "50");
    EXPECT_EQ(s.run("setup:setVGamma(100)"), "100");
    EXPECT_FLOAT_EQ(s.engine().edited.video.gamma, 0.5f);
    EXPECT_FLOAT_EQ(s.setup.video.requestedGamma, 0.5f);
    EXPECT_FLOAT_EQ(s.setup.video.gamma, 0.0f);
    // The ramp shows the requested gamma (exponent 0, held at 0.1).
    EXPECT_EQ(s.setup.video.videoDevice.gammaRamp[0][1], static_cast<std::uint16_t>(std::pow(1 / 255.0, 0.1f) * 65535.0));
}

TEST(GameSetupScript, ApplyTellsWhetherVideoOptionsChanged) {
    struct Case {
        const char* edit;
        const char* result;
        std::uint32_t flags;
    };
    const Case cases[] = {
        {"true", "true", 0},
        {"setup:setGTexture(1)", "false", kSetupChangeVideo},
        {"setup:setVAniso(1)", "true", 0},
        {"setup:setVFreq(3)", "true", 0},
        {"setup:setVAA(2)", "false", kSetupChangeReset | kSetupChangeVideo},
        {"setup:setVSync(true)", "false", kSetupChangeReset | kSetupChangeVideo},
        {"setup:setGDetails(2)", "true", 0},  // high to normal needs nothing
        {"setup:setGDetails(1)", "false", kSetupChangeReset | kSetupChangeVideo},
        {"setup:setGBloom(false)", "false", kSetupChangeVideo},
        {"setup:setMouse(10)", "true", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.edit);
        SetupScript s;
        s.run(c.edit);
        EXPECT_EQ(s.run("setup:apply()"), c.result);
        EXPECT_EQ(s.engine().applied.changeFlags, c.flags);
        ASSERT_TRUE(testing_support::exists(s.setup.setupFile()));
        // Applied: a second apply sees no difference.
        EXPECT_EQ(s.run("setup:apply()"), "true");
    }
    SetupScript s;
    s.run("setup:setMouse(10)");
    s.run("setup:apply()");
    EXPECT_FLOAT_EQ(s.setup.input.virtualDevices.setup.cursorSpeed[0], 10.0f * 0.014f + 0.1f);
    EXPECT_EQ(s.setup.fileValue("mouse", "sense"), "10.00");
}

TEST(GameSetupScript, CancelRestoresTheAppliedOptionsAndRewritesTheFile) {
    SetupScript s;
    s.run("setup:setMouse(30)");
    s.run("setup:apply()");
    s.run("setup:setMouse(90)");
    s.run("setup:setVolume(1, 10)");
    s.run("setup:setVGamma(0)");
    s.run("setup:setGShadows(GameSetup.ShadowDisable)");
    EXPECT_FLOAT_EQ(s.setup.sound.volumes.channels[0].setup, 0.1f);
    testing_support::writeFile(s.setup.setupFile(), "");

    EXPECT_EQ(s.run("setup:cancel()"), "true");
    EXPECT_EQ(s.run("setup:mouse()"), "30");
    EXPECT_EQ(s.run("math.floor(setup:volume(1) + 0.5)"), "60");
    EXPECT_EQ(s.run("setup:VGamma()"), "50");
    EXPECT_EQ(s.run("setup:GShadows()"), "1");
    EXPECT_FLOAT_EQ(s.setup.sound.volumes.channels[0].setup, 0.6f);
    EXPECT_FLOAT_EQ(s.setup.video.requestedGamma, 0.0f);
    EXPECT_EQ(s.setup.fileValue("mouse", "sense"), "30.00");
    EXPECT_EQ(s.setup.fileValue("video", "shadows"), "yes");
}

TEST(GameSetupScript, InitAndDefaultsWorkOnTheEditedCopy) {
    SetupScript s;
    s.setup.input.virtualDevices.setup.cursorSpeed[0] = 0.1f + 20.0f * 0.014f;
    s.setup.video.activeVideoSetup().aa = 2;
    s.run("setup:init()");
    EXPECT_EQ(s.run("setup:VAA()"), "3");
    EXPECT_EQ(s.run("math.floor(setup:mouse() + 0.5)"), "20");
    EXPECT_EQ(s.engine().applied.video.aa, 2);

    s.run("setup:default_game()");
    EXPECT_EQ(s.run("setup:mouse()"), "50");
    EXPECT_EQ(s.run("setup:VAA()"), "3");
    s.run("setup:default_video()");
    EXPECT_EQ(s.run("setup:VAA()"), "1");
    s.run("setup:setVolume(2, 5)");
    s.run("setup:default_sound()");
    EXPECT_EQ(s.run("setup:volume(2)"), "70");
    s.run("setup:setVAA(4)");
    s.run("setup:setMouse(1)");
    s.run("setup:default()");
    EXPECT_EQ(s.run("setup:VAA()"), "1");
    EXPECT_EQ(s.run("setup:mouse()"), "50");
    EXPECT_EQ(s.engine().applied.video.aa, 2);
}

TEST(GameSetupScript, ResolutionsOfTheVideoCore) {
    SetupScript s;
    for (auto [w, h] : {std::pair{800, 600}, std::pair{1600, 900}}) {
        VideoResolution entry;
        entry.width = w;
        entry.height = h;
        std::snprintf(entry.label, sizeof(entry.label), "%ix%i", w, h);
        s.setup.video.resolutions.push_back(entry);
    }
    EXPECT_EQ(s.run("setup:VResCount()"), "2");
    EXPECT_EQ(s.run("setup:VResName(1)"), "800x600");
    EXPECT_TRUE(s.logged("resolution 1 = 800x600"));
    EXPECT_EQ(s.run("setup:VResName(3)"), "INVALID_INDEX");
    EXPECT_EQ(s.run("setup:VResName(0)"), "INVALID_INDEX");
    EXPECT_EQ(s.run("setup:VResIndex()"), "2");
    EXPECT_EQ(s.run("setup:setVResIndex(1)"), "true");
    EXPECT_EQ(s.run("setup:VResIndex()"), "1");
    EXPECT_EQ(s.run("setup:setVResIndex(3)"), "false");
    EXPECT_TRUE(s.logged("Invalid resolution index: Can't set this device resolution"));
    EXPECT_EQ(s.engine().edited.video.res_width, 800);
}

TEST(GameSetupScript, MethodsFailAsLuaErrorsWithoutTheSetup) {
    SetupScript s;
    gameCore.setup = nullptr;
    EXPECT_FALSE(s.lua.load("setup:VAA()"));
    EXPECT_TRUE(s.lua.logged("[GameSetup] object no longer exists") ||
                s.logged("[GameSetup] object no longer exists"));
    gameCore.setup = &s.setup.setup;
}
