// The game-core record: the order its members are made and deleted in,
// pause, and the save and load of the whole game.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "app/GameCore.h"
#include "app/GlobalObjects.h"
#include "foundation/DataStream.h"
#include "foundation/IniFile.h"
#include "foundation/Log.h"
#include "foundation/TimeCore.h"
#include "support/TestSupport.h"

using testing_support::ScopedGameCore;

namespace {

// The members in the order the record makes them.
const std::vector<std::string> kConstructionOrder = {
    "startup arguments", "run mode",       "paths",         "log",           "main loop",
    "main window",       "packages",       "object repository", "setup",     "game",
    "timers",            "clocks",         "sky data",      "sprite data",   "light sets",    "script",
    "variables",         "screen actions", "waypoints",     "quest data",    "quest logic",
    "dialogs",           "input",          "sound",         "video",         "render",
    "animation",         "physics",        "path grids",    "settings",
};

// The members in the order the record deletes them.
const std::vector<std::string> kDestructionOrder = {
    "waypoints", "screen actions", "light sets", "sound",      "clocks",     "timers",
    "path grids", "settings",      "render",     "animation",  "video",      "sky data",
    "sprite data", "dialogs",    "quest data",    "quest logic", "script",    "variables",  "object repository",
    "input",      "setup",         "packages",   "game",       "run mode",   "physics",
    "startup arguments", "paths",  "log",        "main loop",  "main window",
};


TEST(GameCore, MakesAndDeletesItsMembersInOrder) {
    ScopedGameCore scoped;
    GameCore core;
    GameCoreTrace made, deleted;
    constructGameCore(core, &made);
    EXPECT_EQ(made, kConstructionOrder);
    EXPECT_EQ(core.runState, -1);
    EXPECT_EQ(core.cameraMode, 0);
    EXPECT_STREQ(core.cameraMask, "auto");
    EXPECT_EQ(core.flags, 0u);
    EXPECT_EQ(core.debugFlags, 0u);
    const float parameters[16] = {0.5f, 6.0f, 50.0f, 0.8f, 0.1f, -2.0f, 4.0f, 4.0f,
                                  0.4f, 1.0f, 0.9f, 1000.0f, 3000.0f, 1.0f, 1.0f, 1.0f};
    EXPECT_EQ(std::memcmp(core.renderParameters, parameters, sizeof(parameters)), 0);

    destroyGameCore(core, &deleted);
    EXPECT_EQ(deleted, kDestructionOrder);
    EXPECT_EQ(core.objects, nullptr);
    EXPECT_EQ(core.log, nullptr);
    // A second destruction finds nothing to delete.
    GameCoreTrace again;
    destroyGameCore(core, &again);
    EXPECT_TRUE(again.empty());
}

std::size_t countLines(Log& log, const std::string& text) {
    std::size_t n = 0;
    for (const auto& r : log.records())
        if (r.text == text) ++n;
    return n;
}

TEST(GameCore, PauseLogsEveryRequestAndChangesTheClockOnce) {
    ScopedGameCore scoped;
    GameCore core;
    TimeCore clocks;
    core.clocks = &clocks;
    core.pause(true);
    EXPECT_EQ(clocks.gameTime.paused, 1);
    EXPECT_TRUE(core.flags & kGameFlagPaused);
    // The second request finds the bit set and leaves the clock alone.
    clocks.gameTime.paused = 0;
    core.pause(true);
    EXPECT_EQ(clocks.gameTime.paused, 0);
    EXPECT_EQ(countLines(scoped.log(), "Pause [ON]"), 2u);

    core.pause(false);
    EXPECT_FALSE(core.flags & kGameFlagPaused);
    EXPECT_EQ(countLines(scoped.log(), "Pause [OFF]"), 1u);
    EXPECT_EQ(core.cameraModeIndex(), 0);
    core.flags |= kGameFlagCameraOverride;
    EXPECT_EQ(core.cameraModeIndex(), 11);
}

const char* const kDebugKeys[] = {
    "input_log",         "resource_log",           "script_call_log",       "quest_log",
    "enable_script_msg", "enable_script_debug_msg", "enable_script_log_msg", "character_animator_log",
    "triggers_log",      "camera_log",             "actions_log",           "controller_log",
    "physics_log",       "sound_log",              "animation_event",
};

TEST(GameCore, DebugFlagsComeFromTheDebugSectionWithDefaults) {
    ScopedGameCore scoped;
    GameCore core;
    IniFile settings;
    core.settings = &settings;
    core.debugFlags = 0xFFFFFFFF;
    core.readDebugFlags();
    EXPECT_EQ(core.debugFlags, 0x0002u | 0x0004u | 0x0008u | 0x0040u | 0x0080u | 0x0100u | 0x0200u | 0x10000u);
    const IniCategory* debug = settings.findCategory("debug");
    ASSERT_NE(debug, nullptr);
    for (const char* key : kDebugKeys) EXPECT_NE(debug->findVariable(key), nullptr) << key;
    const std::vector<std::string> expected = {
        "Enabled flag [debug] script_call_log.", "Enabled flag [debug] quest_log.",
        "Enabled flag [debug] enable_script_msg.", "Enabled flag [debug] enable_script_log_msg.",
        "Enabled flag [debug] triggers_log.", "Enabled flag [debug] camera_log.",
        "Enabled flag [debug] actions_log.", "Enabled flag [debug] controller_log.",
    };
    std::vector<std::string> lines;
    for (const auto& r : scoped.log().records())
        if (r.text.rfind("Enabled flag", 0) == 0) lines.push_back(r.text);
    EXPECT_EQ(lines, expected);

    // Values set in the section win over the defaults.
    struct Case {
        const char* key;
        const char* value;
        std::uint32_t bit;
        bool on;
    } cases[] = {
        {"input_log", "yes", 0x0020, true},         {"animation_event", "On", 0x100000, true},
        {"enable_script_debug_msg", "1", 0x8000, false}, {"quest_log", "no", 0x0004, false},
        {"camera_log", "false", 0x0080, false},
    };
    IniCategory& section = settings.getCategory("debug");
    for (const Case& c : cases) section.getVariable(c.key).setString(c.value);
    core.readDebugFlags();
    for (const Case& c : cases) EXPECT_EQ((core.debugFlags & c.bit) != 0, c.on) << c.key;
}

// A stream that accepts a number of bytes and then fails every write.
class FailingStream : public MemoryStream {
public:
    explicit FailingStream(std::int32_t limit) : limit_(limit) {}
    std::int32_t write(const void* buffer, std::int32_t count) override {
        if (size() + count > limit_) return -7;
        return MemoryStream::write(buffer, count);
    }

private:
    std::int32_t limit_;
};

TEST(GameCore, SaveStopsAtTheFirstFailingBlock) {
    ScopedGameCore scoped;
    GameCore core;
    std::strcpy(core.cameraMask, "mask");
    core.flags = 0x40;
    // The flags word (4 bytes) fits, the mask's length does not.
    FailingStream stream(5);
    EXPECT_EQ(core.save_all(stream), -7);
    ASSERT_EQ(stream.size(), 4);
    std::uint32_t flags = 0;
    stream.setPosition(0);
    readU32(stream, flags);
    EXPECT_EQ(flags, 0x40u);
}

TEST(GameCore, SaveAndLoadCarryFlagsAndCameraMask) {
    ScopedGameCore scoped;
    for (const char* mask : {"", "auto", "a mask of some length"}) {
        GameCore core;
        TimeCore clocks;
        core.clocks = &clocks;
        std::strcpy(core.cameraMask, mask);
        core.flags = kGameFlagScreenView;
        MemoryStream stream;
        const std::int32_t written = core.save_all(stream);
        ASSERT_GT(written, 0);
        EXPECT_EQ(written, stream.size());
        if (!*mask) {
            // An empty mask is its length 0 and no bytes.
            std::uint16_t length = 0xFFFF;
            stream.setPosition(4);
            readU16(stream, length);
            EXPECT_EQ(length, 0u);
        }

        GameCore loaded;
        loaded.clocks = &clocks;
        loaded.cameraMode = 3;
        stream.setPosition(0);
        // No scene can be current yet: the load ends there.
        EXPECT_EQ(loaded.load_all(stream), -1);
        EXPECT_EQ(stream.tell(), written);
        EXPECT_EQ(loaded.cameraMode, 6);
        EXPECT_EQ(loaded.flags, kGameFlagScreenView);
        EXPECT_STREQ(loaded.cameraMask, mask);
        EXPECT_TRUE(scoped.log().contains("Current scene not selected"));
    }
}

TEST(GameCore, LoadRefusesLengthsThatDoNotFit) {
    ScopedGameCore scoped;
    struct Case {
        const char* what;
        std::uint16_t maskLength;
        std::uint32_t reserved;
        const char* message;
    } cases[] = {
        {"camera mask of 128 bytes", 128, 0, "camera mask of 128 bytes does not fit its field"},
        {"reserved block past the end", 0, 1000, "reserved block of 1000 bytes runs past the end"},
    };
    for (const Case& c : cases) {
        MemoryStream stream;
        writeU32(stream, 0);
        writeU16(stream, c.maskLength);
        std::string mask(c.maskLength, 'm');
        stream.write(mask.data(), c.maskLength);
        writeU32(stream, c.reserved);
        GameCore core;
        stream.setPosition(0);
        EXPECT_EQ(core.load_all(stream), -1) << c.what;
        EXPECT_TRUE(scoped.log().contains(c.message)) << c.what;
        EXPECT_EQ(std::strlen(core.cameraMask), 0u) << c.what;
    }
}

}  // namespace
