#include "input/InputCore.h"

#include <SDL.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/GameCore.h"
#include "app/SaveGame.h"
#include "app/ThisMainWindow.h"
#include "control/RecordingController.h"
#include "model/Model.h"
#include "foundation/Log.h"
#include "foundation/TimeCore.h"
#include "platform/Window.h"
#include "platform/dinput8/ScriptedInput.h"
#include "platform/dinput8/SdlInput.h"
#include "input/InputFixture.h"
#include "scene/CameraFixture.h"
#include "support/TestSupport.h"
#include "input/MainCharacterRoom.h"

namespace di = platform::dinput8;

using testing_support::InputFixture;

TEST(InputButtons, OffsetsMapToIdsByDeviceKind) {
    const struct {
        std::int32_t kind;
        std::uint32_t offset;
        std::int32_t id;
    } cases[] = {
        {InputDeviceMouse, 0, 0},      {InputDeviceMouse, 4, 1},      {InputDeviceMouse, 8, 4},
        {InputDeviceMouse, 12, 6},     {InputDeviceMouse, 15, 9},     {InputDeviceMouse, 16, 10},
        {InputDeviceMouse, 17, 154},   {InputDeviceJoystick, 0, 2},   {InputDeviceJoystick, 4, 3},
        {InputDeviceJoystick, 24, 4},  {InputDeviceJoystick, 8, 154}, {InputDeviceJoystick, 51, 15},
        {InputDeviceJoystick, 79, 43}, {InputDeviceKeyboard, 17, 79}, {InputDeviceKeyboard, 1, 102},
        {InputDeviceKeyboard, 0, 154}, {InputDeviceGamepad, 48, 154}, {InputDeviceDriving, 0, 154},
        {-1, 0, 154},
    };
    for (const auto& c : cases) EXPECT_EQ(buttonIdFromOffset(c.kind, c.offset), c.id) << c.kind << " " << c.offset;
}

TEST(InputDevices, MouseButtonFourLiesOutsideTheMouseFormat) {
    InputFixture f;
    const int mouse = f.scripted->addDevice(di::DI8DEVTYPE_MOUSE, "Mouse");
    ASSERT_TRUE(f.input.Initialize());
    f.frame();
    // "MBTN4" is bound to offset 16, past the 16 bytes of the mouse format.
    f.scripted->press(mouse, 16);
    f.scripted->press(mouse, di::DIMOFS_BUTTON0 + 3);
    f.frame();
    ASSERT_EQ(f.input.devices.devices[0].events.size(), 1u);
    EXPECT_EQ(f.input.devices.devices[0].events[0].id, 9);  // MBTN3
}

TEST(InputButtons, EveryKeyOfTheTableComesThroughTheScancodeTable) {
    const InputDeviceButtonTable keys = keyboardButtonTable();
    std::vector<bool> found(keys.count, false);
    for (int scancode = 0; scancode < SDL_NUM_SCANCODES; ++scancode) {
        const di::DWORD dik = di::dikFromScancode(scancode);
        if (!dik) continue;
        const std::int32_t id = buttonIdFromOffset(InputDeviceKeyboard, dik);
        ASSERT_NE(id, kInputButtonNone) << SDL_GetScancodeName(static_cast<SDL_Scancode>(scancode));
        for (std::int32_t i = 0; i < keys.count; ++i)
            if (static_cast<std::int32_t>(keys.rows[i].uAppData) == id) found[i] = true;
    }
    for (std::int32_t i = 0; i < keys.count; ++i) EXPECT_TRUE(found[i]) << keys.rows[i].lptszActionName;
    EXPECT_EQ(di::dikFromScancode(SDL_SCANCODE_W), 17u);
    EXPECT_EQ(di::dikFromScancode(SDL_SCANCODE_PRINTSCREEN), 0u);
}

TEST(InputButtons, ActionFormatsDescribeTheThreeTables) {
    InputCore input;
    const struct {
        std::uint32_t actions, dataSize;
    } expected[] = {{8, 32}, {35, 140}, {102, 408}};
    for (int i = 0; i < 3; ++i) {
        const di::DIACTIONFORMATA& f = input.devices.actionFormats[i];
        EXPECT_EQ(f.dwSize, 328u);
        EXPECT_EQ(f.dwActionSize, 40u);
        EXPECT_EQ(f.dwNumActions, expected[i].actions);
        EXPECT_EQ(f.dwDataSize, expected[i].dataSize);
        EXPECT_EQ(f.dwGenre, 0x21000000u);
        EXPECT_EQ(f.dwBufferSize, 500u);
        EXPECT_EQ(f.rgoAction[0].dwFlags, di::DIA_APPFIXED);
    }
    EXPECT_STREQ(input.devices.actionFormats[1].rgoAction[34].lptszActionName, "JOY31");
}

TEST(InputDevices, NoDeviceFailsInitialisation) {
    InputFixture f;
    EXPECT_FALSE(f.input.Initialize());
    EXPECT_TRUE(f.logged("No supported input devices found."));

    InputFixture failing;
    failing.scripted->addDevice(di::DI8DEVTYPE_KEYBOARD, "Keyboard");
    failing.scripted->fail(di::Call::Create, di::DIERR_OUTOFMEMORY);
    EXPECT_FALSE(failing.input.Initialize());
    EXPECT_TRUE(failing.logged("Cannot initialize DirectInput8. Reason: [The DirectInput subsystem couldn't allocate"));
}

TEST(InputDevices, DevicesThatCannotBeSetUpAreDroppedAndReleased) {
    InputFixture f;
    const int keyboard = f.scripted->addDevice(di::DI8DEVTYPE_KEYBOARD, "Keyboard");
    f.scripted->addDevice(di::DI8DEVTYPE_GAMEPAD, "Pad");
    f.scripted->addDevice(di::DI8DEVTYPE_DRIVING | 0x100, "Wheel");
    const int mouse = f.scripted->addDevice(di::DI8DEVTYPE_MOUSE, "Mouse");
    const int stick = f.scripted->addDevice(di::DI8DEVTYPE_JOYSTICK, "Stick");
    const int sticky = f.scripted->addDevice(di::DI8DEVTYPE_JOYSTICK, "Sticky");
    const int blind = f.scripted->addDevice(di::DI8DEVTYPE_JOYSTICK, "Blind");
    const int mute = f.scripted->addDevice(di::DI8DEVTYPE_JOYSTICK, "Mute");
    f.scripted->fail(di::Call::SetProperty, di::DIERR_INVALIDPARAM, stick);
    f.scripted->fail(di::Call::SetDataFormat, di::DIERR_ACQUIRED, sticky);
    f.scripted->fail(di::Call::GetCapabilities, di::DIERR_NOTINITIALIZED, blind);
    f.scripted->fail(di::Call::CreateDevice, di::DIERR_DEVICENOTREG, mute);
    ASSERT_TRUE(f.input.Initialize());
    EXPECT_TRUE(f.logged("Ca't set data format for device [Pad]"));
    EXPECT_TRUE(f.logged("Ca't set data format for device [Wheel]"));
    EXPECT_TRUE(f.logged("Ca't set data format for device [Sticky]"));
    EXPECT_TRUE(f.logged("Can't set input device [Stick] buffer size"));
    EXPECT_TRUE(f.logged("Cannot get device [Joystick] capabality. Reason: [The object has not been initialized]"));
    EXPECT_TRUE(f.logged("Can't create device [Mute]. Reason: [The device or device instance is not registered"));
    EXPECT_TRUE(f.logged("Can't initialize input device [Mute]"));
    ASSERT_EQ(f.input.devices.devices.size(), 2u);
    EXPECT_STREQ(f.input.devices.devices[0].instanceName, "Keyboard");
    EXPECT_STREQ(f.input.devices.devices[1].instanceName, "Mouse");
    EXPECT_EQ(f.input.devices.devices[0].buttons.size(), 255u);
    EXPECT_EQ(f.input.devices.devices[1].axes.size(), 3u);
    EXPECT_TRUE(f.logged("1: [Mouse]"));
    // The dropped devices' interfaces are gone: only the two in use live.
    EXPECT_EQ(di::liveDevices(), (std::vector<std::string>{"Keyboard", "Mouse"}));
    (void)keyboard;
    (void)mouse;

    f.input.release();
    EXPECT_TRUE(di::liveDevices().empty());
    EXPECT_TRUE(f.report.empty());
    EXPECT_EQ(f.input.flags & kInputCoreInitialized, 0u);
}

TEST(InputDevices, AnUnreleasedDeviceIsReportedWhenDirectInputGoes) {
    InputFixture f;
    f.scripted->addDevice(di::DI8DEVTYPE_KEYBOARD, "Keyboard");
    ASSERT_TRUE(f.input.Initialize());
    di::IDirectInputDevice8A* kept = f.input.devices.devices[0].device;
    f.input.devices.devices[0].device = nullptr;  // the record forgets its interface
    f.input.release();
    ASSERT_EQ(f.report.size(), 1u);
    EXPECT_NE(f.report[0].find("[Keyboard]"), std::string::npos);
    kept->Release();
}

TEST(InputDevices, EventsOfOneFrameAreDeliveredOnePerPollInOrder) {
    InputFixture f;
    const int keyboard = f.scripted->addDevice(di::DI8DEVTYPE_KEYBOARD, "Keyboard");
    const int mouse = f.scripted->addDevice(di::DI8DEVTYPE_MOUSE, "Mouse");
    ASSERT_TRUE(f.input.Initialize());
    f.input.virtualDevices.motion.enabled = true;  // as the game camera mode selects it
    f.frame();
    f.scripted->press(keyboard, di::DIK_W);
    f.scripted->press(keyboard, di::DIK_S);
    f.scripted->queue(mouse, 0, di::DIMOFS_X, 1200);
    f.scripted->queue(mouse, 0, di::DIMOFS_Y, static_cast<di::DWORD>(-50));
    f.scripted->queue(mouse, 0, di::DIMOFS_X, 7);
    f.poll();
    EXPECT_EQ(f.action("forward").down, 0);
    // Scaled by the look speeds; 1200 counts as no movement.
    EXPECT_EQ(f.input.virtualDevices.motion.dx, 7.0f * 0.25f);
    EXPECT_EQ(f.input.virtualDevices.motion.dy, -50.0f * 0.25f);
    f.frame();
    EXPECT_EQ(f.action("forward").down, 1);
    EXPECT_EQ(f.action("back").down, 0);
    f.frame();
    EXPECT_EQ(f.action("back").down, 1);
    ASSERT_EQ(f.input.devices.devices[0].events.size(), 0u);
}

TEST(InputDevices, AReleaseReadWithABufferOverflowIsDelivered) {
    InputFixture f;
    const int keyboard = f.scripted->addDevice(di::DI8DEVTYPE_KEYBOARD, "Keyboard");
    ASSERT_TRUE(f.input.Initialize());
    f.frame();
    f.scripted->press(keyboard, di::DIK_W);
    f.frame();
    f.frame();
    ASSERT_EQ(f.action("forward").down, 1);
    // The release, then more than the 40-item device buffer holds.
    f.scripted->release(keyboard, di::DIK_W);
    for (int i = 0; i < 30; ++i) {
        f.scripted->press(keyboard, di::DIK_Q);
        f.scripted->release(keyboard, di::DIK_Q);
    }
    f.frame();
    EXPECT_TRUE(f.logged("Input device [Keyboard] buffer overflow"));
    EXPECT_EQ(f.input.devices.devices[0].events.size(), 40u);
    f.frame();
    EXPECT_EQ(f.action("forward").down, 0);
}

TEST(InputDevices, LockedInputDeliversNothingAndFlushDrainsWithoutDelivering) {
    InputFixture f;
    const int keyboard = f.scripted->addDevice(di::DI8DEVTYPE_KEYBOARD, "Keyboard");
    const int mouse = f.scripted->addDevice(di::DI8DEVTYPE_MOUSE, "Mouse");
    ASSERT_TRUE(f.input.Initialize());
    f.input.virtualDevices.motion.enabled = true;
    f.frame();
    f.input.flags |= kInputCoreLocked;  // what the script's lock sets
    f.scripted->press(keyboard, di::DIK_W);
    f.scripted->queue(mouse, 0, di::DIMOFS_X, 5);
    f.poll();
    EXPECT_EQ(f.input.virtualDevices.motion.dx, 5.0f * 0.25f);  // locking stops no motion
    f.input.flags &= ~kInputCoreLocked;
    for (int i = 0; i < 3; ++i) f.frame();
    EXPECT_EQ(f.action("forward").down, 0);

    f.scripted->press(keyboard, di::DIK_W);
    f.scripted->press(keyboard, di::DIK_S);
    f.frame();
    ASSERT_EQ(f.input.devices.devices[0].events.size(), 2u);
    f.scripted->press(keyboard, di::DIK_A);
    f.input.flushDevices(CurrentTime{});
    EXPECT_EQ(f.slept, (std::vector<di::DWORD>{100}));
    EXPECT_TRUE(f.input.devices.devices[0].events.empty());
    f.frame();
    EXPECT_EQ(f.action("forward").down + f.action("back").down + f.action("left").down, 0);

    // Reset drains as well and zeroes the motion and the button state.
    f.scripted->press(keyboard, di::DIK_D);
    f.scripted->queue(mouse, 0, di::DIMOFS_Y, 9);
    f.frame();
    f.input.virtualDevices.virtualButton.values[findVirtualButton("jump")].down = 1;
    f.scripted->press(keyboard, di::DIK_W);
    f.input.reset(CurrentTime{});
    EXPECT_EQ(f.input.virtualDevices.motion.dx + f.input.virtualDevices.motion.dy + f.input.virtualDevices.motion.wheel, 0.0f);
    EXPECT_EQ(f.action("jump").down, 0);
    for (int i = 0; i < 3; ++i) f.frame();
    EXPECT_EQ(f.action("right").down + f.action("forward").down, 0);
}

TEST(InputDevices, LostInputReadsNothingUntilTheDeviceIsAcquiredAgain) {
    InputFixture f;
    const int keyboard = f.scripted->addDevice(di::DI8DEVTYPE_KEYBOARD, "Keyboard");
    ASSERT_TRUE(f.input.Initialize());
    f.frame();
    f.scripted->press(keyboard, di::DIK_W);
    f.scripted->fail(di::Call::GetDeviceData, di::DIERR_INPUTLOST, keyboard, 2);
    f.frame();
    f.frame();
    EXPECT_TRUE(f.input.devices.devices[0].events.empty());
    f.frame();
    f.frame();
    EXPECT_EQ(f.action("forward").down, 1);

    // Focus goes: the release that arrives meanwhile waits for the
    // re-acquire; a press is dropped.
    di::setFocus(false);
    f.scripted->release(keyboard, di::DIK_W);
    f.scripted->press(keyboard, di::DIK_S);
    for (int i = 0; i < 3; ++i) f.frame();
    EXPECT_EQ(f.action("forward").down, 1);
    di::setFocus(true);
    f.frame();
    f.frame();
    EXPECT_EQ(f.action("forward").down, 0);
    f.frame();
    EXPECT_EQ(f.action("back").down, 0);
}

TEST(InputDevices, ErrorTexts) {
    const struct {
        di::HRESULT hr;
        const char* text;
    } cases[] = {
        {di::E_POINTER, "An invalid pointer, usually NULL, was passed as a parameter."},
        {di::DIERR_ACQUIRED, "The operation cannot be performed while the device is acquired"},
        {di::DI_WRITEPROTECT, "A SUCCESS code indicating that settings cannot be modified"},
        {di::DIERR_INPUTLOST, "Unknown Error"},
    };
    for (const auto& c : cases) EXPECT_STREQ(directInputErrorText(c.hr), c.text);
    testing_support::ScopedGameCore core;
    EXPECT_STREQ(directInputErrorText(di::DIERR_OLDDIRECTINPUTVERSION), "Unknown Error");
    EXPECT_TRUE(gameCore.log->contains("The application requires a newer version of DirectInput"));
}

// The SDL backend, fed through the window's own event queue.
class SdlInputTest : public ::testing::Test {
protected:
    void SetUp() override {
        window = platform::createWindow();
        if (window->backend() != platform::WindowBackend::Sdl || !window->create("input", 0, 0, 64, 64, false))
            GTEST_SKIP() << "no SDL video";
        fixture = std::make_unique<InputFixture>(di::createSdlInput());
        ASSERT_TRUE(fixture->input.Initialize());
        fixture->input.virtualDevices.motion.enabled = true;
        fixture->frame();
    }
    void TearDown() override {
        fixture.reset();
        window.reset();
    }
    void push(SDL_Event event) {
        ASSERT_EQ(SDL_PushEvent(&event), 1);
        platform::WindowMessage message;
        while (window->poll(message)) {
        }
    }
    void key(SDL_Scancode code, bool down, bool repeat = false) {
        SDL_Event e{};
        e.type = down ? SDL_KEYDOWN : SDL_KEYUP;
        e.key.keysym.scancode = code;
        e.key.repeat = repeat;
        push(e);
    }
    static SDL_Event focusEvent(bool gained) {
        SDL_Event e{};
        e.type = SDL_WINDOWEVENT;
        e.window.event = gained ? SDL_WINDOWEVENT_FOCUS_GAINED : SDL_WINDOWEVENT_FOCUS_LOST;
        return e;
    }
    void focus(bool gained) { push(focusEvent(gained)); }
    InputDevice* device(std::int32_t kind) {
        for (InputDevice& d : fixture->input.devices.devices)
            if (d.kind == kind) return &d;
        return nullptr;
    }

    std::unique_ptr<platform::Window> window;
    std::unique_ptr<InputFixture> fixture;
};

TEST_F(SdlInputTest, KeysWheelAndButtonsBecomeDeviceButtons) {
    ASSERT_NE(device(InputDeviceKeyboard), nullptr);
    ASSERT_NE(device(InputDeviceMouse), nullptr);
    key(SDL_SCANCODE_W, true);
    key(SDL_SCANCODE_W, true, true);  // a repeat adds nothing
    SDL_Event wheel{};
    wheel.type = SDL_MOUSEWHEEL;
    wheel.wheel.y = 1;
    push(wheel);
    SDL_Event button{};
    button.type = SDL_MOUSEBUTTONDOWN;
    button.button.button = SDL_BUTTON_RIGHT;
    push(button);
    button.button.button = SDL_BUTTON_X2;  // no offset of the mouse format
    push(button);
    fixture->poll();
    const InputDevice& keyboard = *device(InputDeviceKeyboard);
    ASSERT_EQ(keyboard.events.size(), 1u);
    EXPECT_EQ(keyboard.events[0].id, 79);
    EXPECT_TRUE(keyboard.events[0].down);
    EXPECT_EQ(fixture->input.virtualDevices.motion.wheel, 120.0f * 0.25f);  // the wheel factor
    const InputDevice& mouse = *device(InputDeviceMouse);
    ASSERT_EQ(mouse.events.size(), 1u);
    EXPECT_EQ(mouse.events[0].id, buttonIdFromOffset(InputDeviceMouse, 13));
    fixture->frame();
    EXPECT_EQ(fixture->action("forward").down, 1);
    EXPECT_EQ(fixture->action("special1").down, 1);  // MBTN1
}

TEST_F(SdlInputTest, AKeyReleasedWhileFocusIsAwayIsDeliveredWhenItReturns) {
    key(SDL_SCANCODE_W, true);
    fixture->frame();
    fixture->frame();
    ASSERT_EQ(fixture->action("forward").down, 1);
    focus(false);
    key(SDL_SCANCODE_W, false);
    key(SDL_SCANCODE_S, true);
    InputDevice& keyboard = *device(InputDeviceKeyboard);
    di::DWORD count = 8;
    di::DIDEVICEOBJECTDATA items[8];
    EXPECT_EQ(keyboard.device->GetDeviceData(sizeof(items[0]), items, &count, 0), di::DIERR_INPUTLOST);
    fixture->frame();
    EXPECT_EQ(fixture->action("forward").down, 1);
    focus(true);
    fixture->frame();
    fixture->frame();
    EXPECT_EQ(fixture->action("forward").down, 0);
    EXPECT_EQ(fixture->action("back").down, 0);
}

TEST_F(SdlInputTest, AVirtualJoystickGivesItsButtonsAndAxes) {
    fixture.reset();
    const int index = SDL_JoystickAttachVirtual(SDL_JOYSTICK_TYPE_GAMECONTROLLER, 3, 8, 1);
    ASSERT_GE(index, 0) << SDL_GetError();
    fixture = std::make_unique<InputFixture>(di::createSdlInput());
    ASSERT_TRUE(fixture->input.Initialize());
    fixture->input.virtualDevices.motion.enabled = true;
    fixture->frame();
    InputDevice* stick = device(InputDeviceJoystick);
    ASSERT_NE(stick, nullptr);
    EXPECT_EQ(stick->buttons.size(), 8u);
    EXPECT_EQ(stick->axes.size(), 3u);
    SDL_Joystick* joystick = SDL_JoystickFromInstanceID(static_cast<SDL_JoystickID>(stick->instance.Data1 - 0x4A000000));
    ASSERT_NE(joystick, nullptr);
    SDL_JoystickSetVirtualButton(joystick, 3, SDL_PRESSED);
    SDL_JoystickSetVirtualAxis(joystick, 1, -32768 + 400);
    SDL_JoystickUpdate();
    platform::WindowMessage message;
    while (window->poll(message)) {
    }
    di::DWORD count = 40;
    di::DIDEVICEOBJECTDATA items[40];
    stick->device->Acquire();
    ASSERT_EQ(stick->device->GetDeviceData(sizeof(items[0]), items, &count, 0), di::DI_OK);
    // Opening the joystick reports its axes at rest first.
    bool sawAxis = false, sawButton = false;
    for (di::DWORD i = 0; i < count; ++i) {
        if (items[i].dwOfs == di::DIJOFS_Y && items[i].dwData != 32768) {
            sawAxis = true;
            EXPECT_EQ(items[i].dwData, 400u);
        }
        if (items[i].dwOfs == di::DIJOFS_BUTTON0 + 3) {
            sawButton = true;
            EXPECT_EQ(buttonIdFromOffset(InputDeviceJoystick, items[i].dwOfs), 15);
            EXPECT_EQ(items[i].dwData, di::kButtonDown);
        }
    }
    EXPECT_TRUE(sawAxis);
    EXPECT_TRUE(sawButton);
    fixture.reset();
    SDL_JoystickDetachVirtual(index);
}

// The game's window over SDL's dummy video driver, which can hold the mouse
// (relative mode) where the offscreen one cannot; the window's messages go
// to the game's window procedure.
class SdlMouseTest : public SdlInputTest {
protected:
    void SetUp() override {
        SDL_SetHintWithPriority(SDL_HINT_VIDEODRIVER, "dummy", SDL_HINT_OVERRIDE);
        SdlInputTest::SetUp();
        if (IsSkipped() || HasFatalFailure()) return;
        main.window = std::move(window);
    }
    void TearDown() override {
        fixture.reset();
        main.window.reset();
        SdlInputTest::TearDown();
        SDL_ResetHint(SDL_HINT_VIDEODRIVER);
    }
    void send(SDL_Event event) {
        ASSERT_EQ(SDL_PushEvent(&event), 1);
        platform::WindowMessage message;
        while (main.window->poll(message)) main.handleMessage(message);
    }
    // The system's pointer moves to (x, y) of the window, by (dx, dy).
    void pointerTo(int x, int y, int dx, int dy) {
        SDL_Event e{};
        e.type = SDL_MOUSEMOTION;
        e.motion.x = x;
        e.motion.y = y;
        e.motion.xrel = dx;
        e.motion.yrel = dy;
        send(e);
    }
    void focusTo(bool gained) { send(focusEvent(gained)); }
    void cameraMode(std::int32_t mode) {
        gameCore.setCameraMode(mode, CurrentTime{});
        fixture->frame();
    }
    bool held() const { return SDL_GetRelativeMouseMode() == SDL_TRUE; }
    bool systemPointerShown() const { return SDL_ShowCursor(SDL_QUERY) == SDL_ENABLE; }

    ThisMainWindow main;
};

// Where the mouse turns a view the window holds it (relative mode, no
// system pointer); where the camera mode uses the cursor the mouse is let go
// and the cursor follows the system's pointer over the window, on the
// 1024 x 768 screen (the 64 x 64 window shows it 64 x 48, 8 rows from the
// top), so the game's pointer stays under the system's. Losing the focus
// gives the mouse back too.
TEST_F(SdlMouseTest, TheMouseIsHeldOnlyWhereItTurnsAViewAndTheCursorFollowsThePointerElsewhere) {
    // The devices' start: the mouse acquired and held.
    if (!held()) {
        ASSERT_NE(SDL_SetRelativeMouseMode(SDL_TRUE), 0) << "the acquired mouse is not held";
        GTEST_SKIP() << "SDL's dummy video driver cannot hold the mouse here: " << SDL_GetError();
    }
    InputVirtualPointer& cursor = fixture->input.virtualDevices.pointer;

    cameraMode(6);  // "Stillframe": the cursor
    EXPECT_FALSE(held());
    EXPECT_FALSE(systemPointerShown());  // over the window the game draws its own
    pointerTo(40, 20, 7, 3);
    fixture->frame();
    EXPECT_EQ(cursor.x, 640.0f);
    EXPECT_EQ(cursor.y, 192.0f);

    cameraMode(1);  // "Game": the mouse turns the view
    EXPECT_TRUE(held());
    pointerTo(50, 30, 10, 0);
    fixture->poll();
    EXPECT_EQ(fixture->input.virtualDevices.motion.dx, 10.0f * 0.25f);  // the look speed
    fixture->frame();
    EXPECT_EQ(cursor.x, 640.0f);
    EXPECT_EQ(cursor.y, 192.0f);

    cameraMode(3);  // "DialogCursor"
    EXPECT_FALSE(held());
    pointerTo(16, 56, -34, 26);
    fixture->frame();
    EXPECT_EQ(cursor.x, 256.0f);
    EXPECT_EQ(cursor.y, 768.0f);

    // Away from the window the mouse is the system's, shown; back, it is
    // held again.
    cameraMode(1);
    focusTo(false);
    EXPECT_FALSE(held());
    EXPECT_TRUE(systemPointerShown());
    focusTo(true);
    fixture->frame();
    EXPECT_TRUE(held());
    EXPECT_FALSE(systemPointerShown());
}

// Mouse motion through the scripted devices and a frame, in each camera
// mode the game core selects.
TEST(InputMotion, TheCameraModeRoutesTheLookMotion) {
    const struct {
        const char* what;
        std::int32_t mode;
        bool stackPlaying;
        bool view, fixedView, cursor, freeView;
    } cases[] = {
        {"Observer: the free view only", 0, false, false, false, false, true},
        {"Game", 1, false, true, false, false, false},
        {"Dialog", 2, false, true, false, false, false},
        {"DialogCursor", 3, false, false, false, true, false},
        {"Fixed", 4, false, false, true, false, false},
        {"Movie", 5, false, false, false, false, false},
        {"Editor", 7, false, false, false, true, false},
        {"EditorFly: the free view only", 8, false, false, false, false, true},
        {"a playing camera stack routes as Player", 1, true, false, false, true, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        InputFixture f;
        testing_support::ScopedCoreMember<InputCore> use{gameCore.input, &f.input};
        const int mouse = f.scripted->addDevice(di::DI8DEVTYPE_MOUSE, "Mouse");
        ASSERT_TRUE(f.input.Initialize());
        if (c.stackPlaying) gameCore.flags |= kGameFlagCameraOverride;
        gameCore.cameraMode = c.mode == 0 ? 1 : 0;
        gameCore.setCameraMode(c.mode, CurrentTime{});
        f.frame();
        const Matrix33 view = f.input.viewSmoother.orientation.matrix;
        const Matrix33 fixedView = f.input.fixedViewSmoother.orientation.matrix;
        f.scripted->queue(mouse, 0, di::DIMOFS_X, 40);
        f.scripted->queue(mouse, 0, di::DIMOFS_Y, 20);
        f.frame();
        EXPECT_EQ(std::memcmp(&view, &f.input.viewSmoother.orientation.matrix, sizeof(view)) != 0, c.view);
        EXPECT_EQ(std::memcmp(&fixedView, &f.input.fixedViewSmoother.orientation.matrix, sizeof(view)) != 0,
                  c.fixedView);
        EXPECT_EQ(f.input.virtualDevices.pointer.x != 100.0f, c.cursor);
        // The free view turns by the motion with its y negated.
        EXPECT_EQ(f.input.characterState.turnX, c.freeView ? 10.0f : 0.0f);
        EXPECT_EQ(f.input.characterState.turnY, c.freeView ? -5.0f : 0.0f);
        // Nothing stays accumulated after the frame.
        EXPECT_EQ(f.input.virtualDevices.motion.dx, 0.0f);
        gameCore.flags &= ~kGameFlagCameraOverride;
    }
}

// In the "Game" camera mode the scene camera shows the smoothed eye view
// that the mouse turns.
TEST(InputMotion, TheGameCameraShowsTheSmoothedView) {
    InputFixture f;
    testing_support::CameraScene room;
    testing_support::ScopedCoreMember<InputCore> use{gameCore.input, &f.input};
    const int mouse = f.scripted->addDevice(di::DI8DEVTYPE_MOUSE, "Mouse");
    ASSERT_TRUE(f.input.Initialize());
    gameCore.setCameraMode(1, CurrentTime{});
    CameraCore& camera = room.camera();
    ASSERT_EQ(camera.effectiveMode(), 4u);

    Matrix34 smoothed{};
    for (double t = 1.0; t < 1.35; t += 0.1) {
        CurrentTime sample = testing_support::frameAt(t, 0.1);
        sample.real.time = t;
        f.scripted->queue(mouse, 0, di::DIMOFS_X, 60);
        f.scripted->queue(mouse, 0, di::DIMOFS_Y, static_cast<di::DWORD>(-30));
        f.input.update(sample);
        // What the view smoother gives for this frame, from a copy.
        ViewSmoother expected = f.input.viewSmoother;
        expected.getViewMatrix(t, smoothed);
        expected.release();
        camera.update(sample);
    }
    for (int i = 0; i < 12; ++i) EXPECT_FLOAT_EQ(camera.pose.m[i], smoothed.m[i]) << i;
    EXPECT_LT(camera.pose.m[0], 0.99f);  // the view has turned
}

// A main character with a controller is told when the camera mode is set,
// and in "Game" takes the frame's motion after the view.
TEST(InputMotion, TheGameModeHandsTheMotionToTheMainCharactersController) {
    InputFixture f;
    testing_support::MainCharacterRoom world;
    ASSERT_NE(world.hero, nullptr);
    testing_support::RecordingController& record = *world.record;
    testing_support::ScopedCoreMember<InputCore> use{gameCore.input, &f.input};
    const int mouse = f.scripted->addDevice(di::DI8DEVTYPE_MOUSE, "Mouse");
    ASSERT_TRUE(f.input.Initialize());
    ASSERT_TRUE(gameCore.scene_setMainCharacterByName("walker"));
    struct Case {
        std::int32_t mode;
        std::vector<std::string> calls;
    };
    const Case cases[] = {
        {1, {"onMainCharacter", "onLookMotion 10.000000 -5.000000 0.000000"}},
        {2, {"onMainCharacter"}},  // "Dialog" turns the view only
        {0, {"onMainCharacter"}},  // "Observer" turns the free view
    };
    for (const Case& c : cases) {
        record.calls.clear();
        gameCore.cameraMode = c.mode == 1 ? 0 : 1;
        gameCore.setCameraMode(c.mode, CurrentTime{});
        f.frame();
        f.scripted->queue(mouse, 0, di::DIMOFS_X, 40);
        f.scripted->queue(mouse, 0, di::DIMOFS_Y, 20);
        f.frame();
        EXPECT_EQ(record.calls, c.calls) << c.mode;
    }
}

// In "Game" the eye stands at the main character: its controller's eye
// height is taken at once when the views start over, a later change blends
// in over 0.2 s, and the controller adds its model's position.
TEST(InputMotion, TheGameCameraStandsAtTheMainCharactersEye) {
    InputFixture f;
    testing_support::MainCharacterRoom world;
    ASSERT_NE(world.hero, nullptr);
    testing_support::CameraScene& room = world.room;
    testing_support::RecordingController& record = *world.record;
    testing_support::ScopedCoreMember<InputCore> use{gameCore.input, &f.input};
    f.scripted->addDevice(di::DI8DEVTYPE_MOUSE, "Mouse");
    ASSERT_TRUE(f.input.Initialize());
    record.eyeHeight = 1.5f;
    record.position[0] = 10.0f;
    record.position[2] = -4.0f;
    ASSERT_TRUE(gameCore.scene_setMainCharacterByName("walker"));
    EXPECT_EQ(f.input.viewSmoother.heightCurrent, 1.5f);
    gameCore.setCameraMode(1, CurrentTime{});
    CameraCore& camera = room.camera();
    ASSERT_EQ(camera.effectiveMode(), 4u);

    // The character crouches at 2.0: the eye sinks from 1.5 to 0.9 by 2.2.
    const struct {
        double time;
        float eyeHeight;
        float y;
    } frames[] = {{1.0, 1.5f, 1.5f}, {2.0, 0.9f, 1.5f}, {2.1, 0.9f, 1.2f}, {2.2, 0.9f, 0.9f}, {3.0, 0.9f, 0.9f}};
    for (const auto& frame : frames) {
        record.eyeHeight = frame.eyeHeight;
        CurrentTime sample = testing_support::frameAt(frame.time, 0.1);
        sample.real.time = frame.time;
        camera.update(sample);
        EXPECT_NEAR(camera.pose.m[9], 10.0f, 1e-4f) << frame.time;
        EXPECT_NEAR(camera.pose.m[10], frame.y, 1e-4f) << frame.time;
        EXPECT_NEAR(camera.pose.m[11], -4.0f, 1e-4f) << frame.time;
    }
}
