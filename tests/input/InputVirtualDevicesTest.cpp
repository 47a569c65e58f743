#include "input/InputCore.h"

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/GameCore.h"
#include "foundation/DataStream.h"
#include "foundation/Log.h"
#include "input/ViewSmoother.h"
#include "support/TestSupport.h"

namespace {

std::vector<std::uint8_t> bytesOf(InputCore& input) {
    MemoryStream stream(true);
    EXPECT_GT(input.write(stream), 0);
    return {stream.data(), stream.data() + stream.size()};
}

std::int32_t readBytes(InputCore& input, std::vector<std::uint8_t> bytes) {
    MemoryStream stream(bytes.data(), static_cast<std::int32_t>(bytes.size()));
    return input.read(stream);
}

// The forward row of a smoother's target orientation.
float forwardY(const QuadSmooth& smooth) { return smooth.matrix.m[7]; }

}  // namespace

TEST(InputVirtualPointer, LimitsAndPlacement) {
    const struct {
        const char* what;
        float limits[4];
        float place[2];  // NAN: not placed
        float x, y;
    } cases[] = {
        {"far outside the default limits", {0, 0, 1024, 768}, {2000, -5}, 1024, 0},
        {"limits below 0 take the current point", {-1, -1, -1, -1}, {NAN, NAN}, 100, 100},
        {"minimum above maximum: the maximum wins", {500, 0, 300, 768}, {NAN, NAN}, 300, 100},
        {"placed inside a single-point limit", {-1, -1, -1, -1}, {10, 700}, 100, 100},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        InputVirtualDevices devices;
        InputVirtualPointer& pointer = devices.pointer;
        pointer.setLimit(c.limits[0], c.limits[1], c.limits[2], c.limits[3]);
        if (!std::isnan(c.place[0])) pointer.set(c.place[0], c.place[1]);
        EXPECT_EQ(pointer.x, c.x);
        EXPECT_EQ(pointer.y, c.y);
    }
}

TEST(InputVirtualPointer, MovesOnlyWhileEnabledWithTheCursorSpeeds) {
    InputVirtualDevices devices;
    InputVirtualPointer& pointer = devices.pointer;
    pointer.move(50.0f, 50.0f);
    EXPECT_EQ(pointer.x, 100.0f);  // disabled: motion ignored
    pointer.set(200.0f, 300.0f);
    EXPECT_EQ(pointer.x, 200.0f);  // placing still moves it
    pointer.enabled = true;
    devices.setup.cursorSpeed[0] = 0.5f;
    pointer.move(50.0f, -10.0f);
    EXPECT_EQ(pointer.x, 225.0f);
    EXPECT_FLOAT_EQ(pointer.y, 292.0f);
}

// A save's input block and the run-time state it leaves after a load.
class InputSaveRecord : public ::testing::Test {
protected:
    testing_support::ScopedGameCore core;
    InputCore saved;
    InputCore running;
};

TEST_F(InputSaveRecord, WrittenReadAndWrittenAgainGivesTheSameBytes) {
    InputVirtualButton& buttons = saved.virtualDevices.virtualButton;
    buttons.eventNames[0] = "onCatchKey";
    buttons.eventNames[64] = std::string(2047, 'q');
    buttons.catchFlag = 1;
    buttons.caughtButton = 79;
    buttons.runModifier = 1;
    saved.virtualDevices.pointer.set(300.0f, 20.0f);
    saved.viewSmoother.position[1] = 2.5f;
    saved.viewSmoother.followEyeHeight(1.7f, 3.0);
    saved.fixedViewSmoother.offsetDistance = 4.0f;
    const std::vector<std::uint8_t> first = bytesOf(saved);

    InputCore::mapVirtualButtons(running.virtualDevices.virtualButton);
    InputVirtualButton& loaded = running.virtualDevices.virtualButton;
    loaded.values[3].action0 = 80;  // the current setup's binding
    loaded.values[3].down = 1;
    loaded.values[3].pressTime = loaded.values[3].lastPressTime = 2.0;
    loaded.values[0].held = 1;
    loaded.modifiers = 3;
    loaded.wheel = 2.0;
    loaded.eventNames[5] = "onStale";
    ASSERT_EQ(readBytes(running, first), static_cast<std::int32_t>(first.size()));

    // The run-modifier byte is read, then cleared with the rest of the
    // run-time state; the names and the catch state are the save's.
    EXPECT_EQ(loaded.runModifier, 0);
    EXPECT_EQ(loaded.modifiers, 0u);
    EXPECT_EQ(loaded.wheel, 0.0);
    for (const InputVirtualButtonValue& v : loaded.values) {
        EXPECT_EQ(v.down + v.held, 0);
        EXPECT_EQ(v.pressTime + v.lastPressTime, 0.0);
    }
    EXPECT_EQ(loaded.values[3].action0, 80);
    EXPECT_EQ(loaded.eventNames[0], "onCatchKey");
    EXPECT_EQ(loaded.eventNames[5], "");
    EXPECT_EQ(loaded.eventNames[64].size(), 2047u);
    EXPECT_EQ(loaded.catchFlag, 1);
    EXPECT_EQ(loaded.caughtButton, 79);
    EXPECT_EQ(running.viewSmoother.heightTarget, 1.7f);
    EXPECT_EQ(running.viewSmoother.position[1], 2.5f);
    EXPECT_EQ(running.fixedViewSmoother.offsetDistance, 4.0f);
    EXPECT_EQ(running.virtualDevices.pointer.x, 300.0f);

    loaded.runModifier = 1;  // what the save held
    EXPECT_EQ(bytesOf(running), first);
}

TEST_F(InputSaveRecord, DamagedBlocksAreRefused) {
    saved.virtualDevices.virtualButton.eventNames[1] = "onUse";
    const std::vector<std::uint8_t> good = bytesOf(saved);
    // The names start after the fixed fields: the offset of the second
    // name's length is the size minus the names' part.
    const std::size_t namesPart = 65 * 4 + 5;
    const std::size_t secondLength = good.size() - namesPart + 4;

    std::vector<std::uint8_t> tooLong = good;
    const std::uint32_t length = 5000;
    std::memcpy(&tooLong[secondLength], &length, 4);
    std::vector<std::uint8_t> pastTheEnd = good;
    const std::uint32_t past = 1000;
    std::memcpy(&pastTheEnd[secondLength], &past, 4);
    const std::vector<std::uint8_t> truncated(good.begin(), good.begin() + static_cast<long>(good.size() / 2));

    const struct {
        const char* what;
        std::vector<std::uint8_t> bytes;
    } cases[] = {
        {"a name of 5,000 bytes", tooLong},
        {"a name running past the end", pastTheEnd},
        {"half a block", truncated},
        {"the empty block of older saves", {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        InputCore scratch;
        EXPECT_LT(readBytes(scratch, c.bytes), 0);
        EXPECT_TRUE(gameCore.log->contains("Can't load game: the input block is damaged or missing"));
    }
    EXPECT_TRUE(gameCore.log->contains("Input event name of 5000 bytes"));

    // An empty name is a length of 0 and comes back empty.
    InputCore back;
    back.virtualDevices.virtualButton.eventNames[2] = "onOld";
    ASSERT_GT(readBytes(back, good), 0);
    EXPECT_EQ(back.virtualDevices.virtualButton.eventNames[2], "");
    EXPECT_EQ(back.virtualDevices.virtualButton.eventNames[1], "onUse");

    // A name too long to read back is not written either.
    saved.virtualDevices.virtualButton.eventNames[3] = std::string(5000, 'x');
    MemoryStream stream(true);
    EXPECT_LT(saved.write(stream), 0);
}

TEST(InputViews, MouseLookClampsThePitchAndStopsNearVertical) {
    ViewSmoother at25;
    ViewSmoother at40;
    at25.mouseLook(1.0, 0.0f, 25.0f);
    at40.mouseLook(1.0, 0.0f, 40.0f);
    for (int i = 0; i < 9; ++i) EXPECT_NEAR(at40.orientation.matrix.m[i], at25.orientation.matrix.m[i], 1e-6f);
    EXPECT_NEAR(std::fabs(forwardY(at40.orientation)), std::sin(0.25f), 1e-5f);

    // Looking on up stops below 0.98 while the yaw still turns.
    ViewSmoother view;
    for (int i = 0; i < 20; ++i) view.mouseLook(1.0, 0.0f, 25.0f);
    const float stopped = std::fabs(forwardY(view.orientation));
    EXPECT_LT(stopped, 0.98f);
    EXPECT_GT(stopped, 0.9f);
    const float side = view.orientation.matrix.m[0];
    view.mouseLook(1.0, 30.0f, 25.0f);
    EXPECT_NEAR(std::fabs(forwardY(view.orientation)), stopped, 1e-5f);
    EXPECT_NE(view.orientation.matrix.m[0], side);
    EXPECT_NEAR(view.orientation.matrix.m[1], 0.0f, 1e-6f);  // the side axis stays level
}

TEST(InputViews, EyeHeightBlendsOverAFifthOfASecond) {
    testing_support::ScopedGameCore core;
    ViewSmoother view;
    view.position[0] = 1.0f;
    view.followEyeHeight(2.0f, 10.0);
    const struct {
        double time;
        float height;
    } cases[] = {{10.0, 0.0f}, {10.05, 0.5f}, {10.1, 1.0f}, {10.2, 2.0f}, {11.0, 2.0f}};
    for (const auto& c : cases) {
        Matrix34 out{};
        view.getViewMatrix(c.time, out);
        EXPECT_NEAR(out.m[10], c.height, 1e-4f) << c.time;
        EXPECT_EQ(out.m[9], 1.0f);
    }
    EXPECT_EQ(view.heightStartTime, 0.0f);  // the blend ended

    // Without a main character: the smoothed rotation, the position and the
    // height only.
    Matrix34 out{};
    view.getViewMatrix(12.0, out);
    Matrix33 rotation{};
    quaternionToMatrix33(view.orientation.output, rotation);
    for (int i = 0; i < 9; ++i) EXPECT_EQ(out.m[i], rotation.m[i]);
    EXPECT_EQ(out.m[11], 0.0f);
}

namespace {

// A free view at its start pose, with the first step taken at time 10.
InputCharacterState freeViewAt10() {
    InputCharacterState state;
    state.startPose(3.0f, 0.0f);
    Matrix34 out{};
    state.getMatrix(10.0, out);
    return state;
}

}  // namespace

TEST(InputFreeView, TheStartPoseStaysWithoutInput) {
    InputCharacterState state = freeViewAt10();
    Matrix34 out{};
    state.getMatrix(10.5, out);
    // The rebuilt frame keeps the forward and up rows and the position; its
    // side row is derived from the forward row.
    const float expected[12] = {-1, 0, 0, 0, 1, 0, 0, 0, -1, 0, 0, -3};
    for (int i = 0; i < 12; ++i) EXPECT_NEAR(out.m[i], expected[i], 1e-5f) << i;
}

TEST(InputFreeView, KeysMoveByTheSpeedAndTheFrameGap) {
    const struct {
        const char* what;
        std::vector<std::uint32_t> keys;
        double gap;
        float z;  // target position after the step, from -3
    } cases[] = {
        {"forward for 0.1 s", {InputCharacterForward}, 0.1, -3.0f + 0.8f},
        {"a 2 s gap counts as 0.1 s", {InputCharacterForward}, 2.0, -3.0f + 0.8f},
        {"forward with back at 0.2 of the speed", {InputCharacterForward, InputCharacterBack}, 0.1, -3.0f + 0.16f},
        {"back with forward at 0.2 of the speed", {InputCharacterBack, InputCharacterForward}, 0.1, -3.0f - 0.16f},
        {"back", {InputCharacterBack}, 0.1, -3.0f - 0.8f},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        InputCharacterState state = freeViewAt10();
        for (std::uint32_t key : c.keys) state.setKey(key, true, 10.0);
        Matrix34 out{};
        state.getMatrix(10.0 + c.gap, out);
        EXPECT_NEAR(state.targetView.m[11], c.z, 1e-4f);
        EXPECT_NEAR(state.targetView.m[9], 0.0f, 1e-5f);
    }
}

TEST(InputFreeView, ThePitchStaysWithinItsLimits) {
    for (float dy : {-1000.0f, 1000.0f}) {
        InputCharacterState state = freeViewAt10();
        Matrix34 out{};
        for (int i = 1; i <= 3; ++i) {
            state.turn(0.0f, dy, 10.0 + i);
            state.getMatrix(10.0 + i, out);
            EXPECT_NEAR(std::fabs(state.pitch), 1.56, 1e-9);
        }
        EXPECT_LE(std::fabs(out.m[7]), std::sin(1.56f) + 1e-5f);
    }
}

TEST(InputSetupOptions, TheGameSetupsMiddleOptionsGiveTheDefaultSpeeds) {
    InputSetup setup;
    EXPECT_FLOAT_EQ(50.0f * 0.014f + 0.1f, setup.cursorSpeed[0]);
    EXPECT_FLOAT_EQ(50.0f * 0.004f + 0.05f, setup.lookSpeed[1]);
}

TEST(InputSaveBlock, TheWholeSaveCheckRefusesADamagedInputBlockAndLeavesTheGame) {
    testing_support::ScopedGameCore core;
    // A game core with only its log and an input core: the save holds the
    // flags, the camera mask, the input block and the reserved block.
    GameCore bare{};
    bare.log = gameCore.log;
    gameCore = bare;
    InputCore input;
    gameCore.input = &input;
    input.virtualDevices.virtualButton.eventNames[4] = "onForward";
    MemoryStream stream(true);
    ASSERT_GT(gameCore.save_all(stream), 0);
    const std::vector<std::uint8_t> whole(stream.data(), stream.data() + stream.size());

    MemoryStream good(const_cast<std::uint8_t*>(whole.data()), static_cast<std::int32_t>(whole.size()));
    EXPECT_EQ(gameCore.check_all(good), static_cast<std::int32_t>(whole.size()));

    // Cut inside the event names: the check fails before any load starts.
    std::vector<std::uint8_t> cut(whole.begin(), whole.end() - 40);
    MemoryStream damaged(cut.data(), static_cast<std::int32_t>(cut.size()));
    input.virtualDevices.virtualButton.eventNames[4] = "onRunning";
    EXPECT_LT(gameCore.check_all(damaged), 0);
    EXPECT_TRUE(gameCore.log->contains("Can't load game: the input block is damaged or missing"));
    EXPECT_EQ(input.virtualDevices.virtualButton.eventNames[4], "onRunning");
}

TEST(InputNames, CopyName128KeepsAtMost127Characters) {
    char field[128];
    std::memset(field, 'x', sizeof(field));
    const std::string longName(300, 'a');
    EXPECT_EQ(copyName128(field, longName.c_str()), field);
    EXPECT_EQ(std::strlen(field), 127u);
    EXPECT_STREQ(copyName128(field, "KEY_W"), "KEY_W");
    EXPECT_EQ(field[100], '\0');
    EXPECT_STREQ(copyName128(field, nullptr), "");
}
