#include "app/GameSetup.h"

#include <string>
#include <tuple>

#include <gtest/gtest.h>

#include "app/GameSetupFixture.h"

using testing_support::SetupFixture;

namespace {

void writeSetupFile(const SetupFixture& f, const std::string& text) {
    ASSERT_TRUE(testing_support::makeFolders(f.setupFile().substr(0, f.setupFile().rfind('/'))));
    ASSERT_TRUE(testing_support::writeFile(f.setupFile(), text));
}

}  // namespace

TEST(GameSetup, WithoutSetupFileTheDefaultsHoldAndTheFirstApplyWritesEveryKey) {
    SetupFixture f;
    f.setup.readDefaults();
    ASSERT_TRUE(f.setup.load(true));
    const SetupOptions& o = f.setup.applied;
    EXPECT_FLOAT_EQ(o.mouseSensitivity, 50.0f);
    EXPECT_FLOAT_EQ(o.cameraSensitivity, 50.0f);
    EXPECT_FLOAT_EQ(o.crosshairAlpha, 1.0f);
    EXPECT_FLOAT_EQ(o.crosshairSize, 0.5f);
    EXPECT_EQ(o.subtitles, 1);
    EXPECT_EQ(o.autorun, 1);
    EXPECT_EQ(o.invertCamera, 0);
    EXPECT_EQ(o.video.res_width, 1600);  // the desktop
    EXPECT_FLOAT_EQ(o.sound.master.setup, 0.8f);
    EXPECT_FLOAT_EQ(o.sound.channels[4].setup, 0.4f);
    EXPECT_FALSE(f.settings.savePending);
    EXPECT_FALSE(f.settings.reloadPending);
    EXPECT_FALSE(testing_support::exists(f.setupFile()));
    EXPECT_FALSE(f.logged("Can't read configuration file"));
    // Pushed straight into the cores.
    EXPECT_EQ(f.video.activeVideoSetup().res_width, 1600);
    EXPECT_FLOAT_EQ(f.input.virtualDevices.setup.cursorSpeed[0], 0.8f);
    EXPECT_FLOAT_EQ(f.input.virtualDevices.setup.lookSpeed[1], 0.25f);

    EXPECT_TRUE(f.setup.apply());
    struct Key {
        const char* section;
        const char* key;
        const char* value;
    };
    const Key keys[] = {
        {"mouse", "sense", "50.00"},
        {"camera", "sense", "50.00"},
        {"camera", "invert_camera", "NO"},
        {"game", "subtitles", "YES"},
        {"camera", "crosshair", "0"},
        {"camera", "crosshair_transparency", "1.00"},
        {"camera", "crosshair_size", "0.50"},
        {"controls", "autorun", "YES"},
        {"sound", "master", "0.80"},
        {"sound", "ambient_loop", "0.60"},
        {"video", "res_width", "1600"},
        {"video", "details", "high"},
    };
    for (const Key& k : keys) EXPECT_EQ(f.fileValue(k.section, k.key), k.value) << k.section << "." << k.key;
    // The control defaults are fixed in the store and stay out of the file.
    EXPECT_EQ(f.fileValue("setup-defaults", "mouse_sense"), "<missing>");
}

TEST(GameSetup, EmptyOrUnusableValuesKeepTheDefaults) {
    struct Case {
        const char* text;
        float mouse;
        float alpha;
        bool reported;
    };
    const Case cases[] = {
        {"[mouse]\r\nsense =\r\n", 50.0f, 1.0f, false},
        {"[mouse]\r\nsense = 25.5\r\n[camera]\r\ncrosshair_transparency = 0,5\r\n", 25.5f, 0.5f, false},
        {"[mouse]\r\nsense = fast\r\n", 50.0f, 1.0f, true},
        {"[mouse]\r\nsense = 150\r\n", 50.0f, 1.0f, true},
        {"[mouse]\r\nsense = -1\r\n", 50.0f, 1.0f, true},
        {"[camera]\r\ncrosshair_transparency = clear\r\n", 50.0f, 1.0f, true},
        // Too long for 32 bits, or no whole number: the crosshair keeps its default.
        {"[camera]\r\ncrosshair = 4294967297\r\n", 50.0f, 1.0f, true},
        {"[camera]\r\ncrosshair = 2nd\r\n", 50.0f, 1.0f, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        SetupFixture f;
        writeSetupFile(f, c.text);
        f.setup.load(true);
        EXPECT_FLOAT_EQ(f.setup.applied.mouseSensitivity, c.mouse);
        EXPECT_FLOAT_EQ(f.setup.edited.mouseSensitivity, c.mouse);
        EXPECT_FLOAT_EQ(f.setup.applied.crosshairAlpha, c.alpha);
        EXPECT_EQ(f.setup.applied.crosshairIndex, 0);
        EXPECT_EQ(f.logged("Invalid value of setup key"), c.reported);
    }
}

TEST(GameSetup, ValuesOfTheFileOverTheDefaultsAndFixedOnesSurviveTheWrite) {
    SetupFixture f;
    // A fixed variable (from game.ini) keeps its text when the setup is written.
    for (auto [section, key, value] : {std::tuple{"camera", "crosshair", "7"}, std::tuple{"setup-defaults", "camera_sense", "20"}}) {
        IniVariable& variable = f.settings.getCategory(section).getVariable(key);
        variable.setString(value);
        variable.setFixed(true);
    }
    writeSetupFile(f,
                   "[camera]\r\ninvert_camera = yes\r\nsense = 80\r\n[sound]\r\nmusic = 0.25\r\nvoice = 3\r\n"
                   "[video]\r\naa = 2x\r\n");
    f.setup.readDefaults();
    EXPECT_FLOAT_EQ(f.setup.defaults.cameraSense, 20.0f);
    f.setup.load(true);
    const SetupOptions& o = f.setup.applied;
    EXPECT_EQ(o.invertCamera, 1);
    EXPECT_FLOAT_EQ(o.cameraSensitivity, 80.0f);
    EXPECT_EQ(o.crosshairIndex, 7);
    EXPECT_FLOAT_EQ(o.sound.channels[4].setup, 0.25f);
    EXPECT_FLOAT_EQ(o.sound.channels[1].setup, 0.7f);  // 3 is no volume
    EXPECT_TRUE(f.logged("Invalid value of sound setting [voice]: 3"));
    EXPECT_EQ(o.video.aa, 1);
    EXPECT_FLOAT_EQ(f.sound.volumes.channels[4].setup, 0.25f);
    EXPECT_FLOAT_EQ(f.input.virtualDevices.setup.lookSpeed[0], 80.0f * 0.004f + 0.05f);
    EXPECT_EQ(f.input.virtualDevices.setup.invertLook, 1);

    f.setup.edited.crosshairIndex = 3;
    f.setup.apply();
    EXPECT_EQ(f.settings.getCategory("camera").getVariable("crosshair").value(), "7");
    EXPECT_EQ(f.fileValue("camera", "crosshair"), "<missing>");
}

TEST(GameSetup, TheFileIsWrittenOnlyBySynchronisationAndReplacedWhole) {
    SetupFixture f;
    f.setup.load(true);
    f.setup.writeIni(f.setup.applied);
    EXPECT_TRUE(f.settings.savePending);
    EXPECT_FALSE(testing_support::exists(f.setupFile()));

    f.setup.apply();
    ASSERT_TRUE(testing_support::exists(f.setupFile()));
    const std::string before = testing_support::readFile(f.setupFile());

    // A write cut short before the rename leaves the old file whole.
    IniFile::beforeReplaceForTesting = [] { return false; };
    f.setup.edited.mouseSensitivity = 10.0f;
    f.setup.apply();
    IniFile::beforeReplaceForTesting = nullptr;
    EXPECT_EQ(testing_support::readFile(f.setupFile()), before);

    f.setup.apply();
    EXPECT_EQ(f.fileValue("mouse", "sense"), "10.00");
}

TEST(GameSetup, SensitivitiesMapToInputSpeedsAndBack) {
    SetupFixture f;
    const float percents[] = {0.0f, 25.0f, 50.0f, 100.0f};
    for (float percent : percents) {
        SetupOptions record;
        record.mouseSensitivity = percent;
        record.cameraSensitivity = percent;
        record.invertCamera = 1;
        f.setup.pushDirect(record);
        EXPECT_FLOAT_EQ(f.input.virtualDevices.setup.cursorSpeed[0], percent * 0.014f + 0.1f);
        EXPECT_FLOAT_EQ(f.input.virtualDevices.setup.cursorSpeed[1], f.input.virtualDevices.setup.cursorSpeed[0]);
        EXPECT_FLOAT_EQ(f.input.virtualDevices.setup.lookSpeed[0], percent * 0.004f + 0.05f);
        SetupOptions back;
        f.setup.pullFromCores(back);
        EXPECT_NEAR(back.mouseSensitivity, percent, 1e-3);
        EXPECT_NEAR(back.cameraSensitivity, percent, 1e-3);
        EXPECT_EQ(back.invertCamera, 1);
    }
}

TEST(GameSetup, ResetDefaultsTouchesOnlyTheMaskedParts) {
    SetupFixture f;
    f.sound.defaultVolumes.music = 0.3f;
    SetupOptions record;
    record.video.aa = 3;
    record.mouseSensitivity = 5.0f;
    record.sound.readFromSetup = 1;
    record.sound.channels[3].script = 0.2f;
    record.sound.channels[2].script = 0.5f;
    record.sound.channels[4].setup = 0.9f;

    f.setup.resetDefaults(record, kSetupResetControls);
    EXPECT_FLOAT_EQ(record.mouseSensitivity, 50.0f);
    EXPECT_EQ(record.video.aa, 3);
    EXPECT_FLOAT_EQ(record.sound.channels[4].setup, 0.9f);

    f.setup.resetDefaults(record, kSetupResetSound);
    EXPECT_FLOAT_EQ(record.sound.channels[4].setup, 0.3f);
    EXPECT_FLOAT_EQ(record.sound.channels[2].script, 1.0f);
    EXPECT_FLOAT_EQ(record.sound.channels[3].script, 0.2f);  // the ambient loop's script volume stays
    EXPECT_EQ(record.sound.readFromSetup, 1);
    EXPECT_EQ(record.video.aa, 3);

    f.setup.resetDefaults(record, kSetupResetVideo);
    EXPECT_EQ(record.video.aa, 0);
    EXPECT_EQ(record.video.res_width, 1600);
}
