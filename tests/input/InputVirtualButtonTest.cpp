#include "input/InputVirtualButton.h"

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/GameCore.h"
#include "app/SaveGame.h"
#include "control/PositionController.h"
#include "control/RecordingController.h"
#include "model/Model.h"
#include "input/InputFixture.h"
#include "input/lua/InputScripts.h"
#include "scene/CameraFixture.h"
#include "script/ScriptTestFixture.h"
#include "input/MainCharacterRoom.h"

namespace di = platform::dinput8;

namespace {

const ScriptClassRegistration kInputClasses[] = {
    {"InputCore, InputButtonValue", registerInputCoreClass},
    {"InputSetup", registerInputSetupClass},
    {"InputCursor", registerInputCursorClass},
    {"InputButton", registerInputButtonClass},
};

// The input classes in a script engine over an input core whose devices are
// a scripted keyboard, mouse and joystick; every button event handler is
// named after its event, and "system_event_exit_alt_f4" counts its runs.
struct ButtonFixture {
    ButtonFixture() {
        keyboard = input.scripted->addDevice(di::DI8DEVTYPE_KEYBOARD, "Keyboard");
        mouse = input.scripted->addDevice(di::DI8DEVTYPE_MOUSE, "Mouse");
        joystick = input.scripted->addDevice(di::DI8DEVTYPE_JOYSTICK, "Joystick");
        EXPECT_TRUE(input.input.Initialize());
        input.frame();  // the devices are acquired
        std::string chunk = "exits = 0\nfunction system_event_exit_alt_f4() exits = exits + 1 end\n"
                            "function idOf(name) for i = 0, 155 do\n"
                            "  if input.button:getName(i) == name then return i end end end\n";
        for (std::int32_t i = 0; i < kInputButtonEventCount; ++i)
            chunk += std::string("input.button.") + buttonEventNames()[i] + " = '" + buttonEventNames()[i] + "'\n";
        EXPECT_TRUE(script.load(chunk));
    }
    InputVirtualButton& buttons() { return input.input.virtualDevices.virtualButton; }
    // The events the frame posted, in order, then the runs of the Alt+F4
    // function, the free view's movement keys and the wheel's remainder.
    std::string take() {
        std::string out;
        ScriptEventQueue& queue = script.context().queue;
        while (!queue.empty()) {
            std::unique_ptr<ScriptEventArgs> event = queue.takeFront();
            out += std::string(out.empty() ? "" : " ") + event->slot(0);
            queue.recycle(std::move(event));
        }
        const int exits = static_cast<int>(script.number("exits"));
        for (; exitsSeen < exits; ++exitsSeen) out += out.empty() ? "altf4" : " altf4";
        if (const std::uint32_t keys = input.input.characterState.flags & 0x0F00) {
            char text[32];
            std::snprintf(text, sizeof(text), "%skeys=%X", out.empty() ? "" : " ", keys);
            out += text;
        }
        if (record) {
            for (const std::string& call : record->calls) out += (out.empty() ? "ctl:" : " ctl:") + call;
            record->calls.clear();
        }
        if (buttons().wheel != 0.0) {
            char text[32];
            std::snprintf(text, sizeof(text), "%swheel=%g", out.empty() ? "" : " ", buttons().wheel);
            out += text;
        }
        return out;
    }

    testing_support::ScriptFixture script{kInputClasses, std::size(kInputClasses)};
    testing_support::InputFixture input;
    int keyboard = -1, mouse = -1, joystick = -1;
    int exitsSeen = 0;
    // The main character's controller, when the case gives the scene one.
    testing_support::RecordingController* record = nullptr;
};

// A still frame that takes every press and release of "KEY_W".
bool stillFrameTakesW(std::int32_t id, bool) { return id == 79; }

constexpr di::DWORD kDown = 0x80;

}  // namespace

TEST(InputVirtualButtons, DeviceEventsBecomeScriptEventsAndKeysByCameraMode) {
    enum Device { None, Keys, Mouse, Joy };
    struct Step {
        double time;
        Device device;
        di::DWORD offset;
        di::DWORD data;
        const char* expected;  // after the frame at that time
        const char* lua = nullptr;  // run after the event is queued, before the frame
    };
    const di::DWORD mbtn0 = di::DIMOFS_BUTTON0;
    const di::DWORD joy1 = di::DIJOFS_BUTTON0 + 1;
    const struct {
        const char* what;
        std::int32_t cameraMode;
        bool scene;  // a current scene with its camera (the free view in "Observer")
        bool filterTakesW;
        const char* setupLua;
        std::vector<Step> steps;
        // A main character whose controller's calls follow the events
        // ("ctl:"); needs the scene.
        bool mainCharacter = false;
    } cases[] = {
        {"a click of special0 in Game: the action, then forward released",
         1, false, false, "",
         {{1.0, Mouse, mbtn0, kDown, ""}, {1.2, Mouse, mbtn0, 0, "onAction onBtnFwUp"}}},
        {"special0 held in Game presses forward after the hold limit",
         1, false, false, "",
         {{1.0, Mouse, mbtn0, kDown, ""},
          {1.4, None, 0, 0, ""},
          {1.6, None, 0, 0, "onBtnFwDown"},
          {2.0, Mouse, mbtn0, 0, "onBtnFwUp"}}},
        {"two clicks of special0 in Game: running forward until the second release",
         1, false, false, "",
         {{1.0, Mouse, mbtn0, kDown, ""},
          {1.1, Mouse, mbtn0, 0, "onAction onBtnFwUp"},
          // The double press, then the hold that its zeroed press time passes at once.
          {1.3, Mouse, mbtn0, kDown, "onSetMoveModeDown onBtnFwDown onBtnFwDown"},
          {1.4, Mouse, mbtn0, 0, "onBtnFwUp"}}},
        {"two clicks of special0 in Observer: two actions",
         0, true, false, "",
         {{1.0, Mouse, mbtn0, kDown, ""},
          {1.1, Mouse, mbtn0, 0, "onAction"},
          {1.3, Mouse, mbtn0, kDown, "onAction"},
          {1.4, Mouse, mbtn0, 0, ""}}},
        {"nextitem held repeats every period",
         0, true, false, "",
         {{1.0, Keys, di::DIK_RBRACKET, kDown, "onNextItem"},
          {1.4, None, 0, 0, ""},
          {1.55, None, 0, 0, "onNextItem"},
          {2.0, None, 0, 0, ""},
          {2.05, None, 0, 0, "onNextItem"},
          {2.1, Keys, di::DIK_RBRACKET, 0, ""}}},
        {"forward taps: one down and one up each, the free view's key follows",
         0, true, false, "",
         {{1.0, Keys, di::DIK_W, kDown, "onBtnFwDown keys=100"},
          {1.1, Keys, di::DIK_W, 0, "onBtnFwUp"},
          {1.2, Keys, di::DIK_W, kDown, "onBtnFwDown keys=100"},
          {1.3, Keys, di::DIK_W, 0, "onBtnFwUp"}}},
        {"Alt+F4 runs the exit function at the press and at the release",
         0, true, false, "",
         {{1.0, Keys, di::DIK_LMENU, kDown, ""},
          {1.1, Keys, di::DIK_F4, kDown, "altf4"},
          {1.2, Keys, di::DIK_F4, 0, "altf4"},
          {1.3, Keys, di::DIK_LMENU, 0, ""},
          {1.4, Keys, di::DIK_F4, kDown, ""},
          {1.5, Keys, di::DIK_F4, 0, "onF4"}}},
        {"Alt+Shift+F4 is the key F4",
         0, true, false, "",
         {{1.0, Keys, di::DIK_LMENU, kDown, ""},
          {1.1, Keys, di::DIK_LSHIFT, kDown, "onSetMoveModeDown"},
          {1.2, Keys, di::DIK_F4, kDown, ""},
          {1.3, Keys, di::DIK_F4, 0, "onF4"}}},
        {"a catch takes KEY_Q from the hint it is bound to",
         0, true, false, "input.button:get(InputButton.btnHint).action0 = idOf('KEY_Q') input.button:doCatch()",
         {{1.0, Keys, di::DIK_Q, kDown, "onCatch"},
          {1.1, Keys, di::DIK_Q, 0, ""},
          {1.2, Keys, di::DIK_Q, kDown, "onBtnHint"}}},
        {"JOY1 opens the game menu at the press (special1) and at the release (gamemenu)",
         0, true, false, "",
         {{1.0, Joy, joy1, kDown, "onOpenGameMenu"}, {1.1, Joy, joy1, 0, "onOpenGameMenu"}}},
        {"presses while locked are lost, also after the unlock",
         0, true, false, "input:lock()",
         {{1.0, Keys, di::DIK_RBRACKET, kDown, ""},
          {1.1, Keys, di::DIK_RBRACKET, 0, ""},
          {1.2, Keys, di::DIK_RBRACKET, kDown, "", "input:unlock()"},
          {2.0, None, 0, 0, ""},
          {2.1, Keys, di::DIK_RBRACKET, 0, ""},
          {2.2, Keys, di::DIK_RBRACKET, kDown, "onNextItem"}}},
        {"two notches in one report scroll once and keep one",
         0, true, false, "",
         {{1.0, Mouse, di::DIMOFS_Z, 240, "onScrollUp wheel=1"},
          {1.1, Mouse, di::DIMOFS_Z, 120, "onScrollUp wheel=1"},
          {1.2, Mouse, di::DIMOFS_Z, static_cast<di::DWORD>(-60), "onScrollDown wheel=0.5"}}},
        {"a key the still frames take goes no further",
         0, true, true, "",
         {{1.0, Keys, di::DIK_W, kDown, ""},
          {1.1, Keys, di::DIK_W, 0, ""},
          {1.2, Keys, di::DIK_S, kDown, "onBtnBkDown keys=200"}}},
        {"a click of special0 in Game: forward and running end, so does auto-walk",
         1, true, false, "",
         {{1.0, Mouse, mbtn0, kDown, ""},
          {1.2, Mouse, mbtn0, 0,
           "onAction onBtnFwUp ctl:setForwardKey 0 ctl:setRun 0 ctl:setAutoWalk 1"}},
         true},
        {"special0 held in Game walks the main character forward until the release",
         1, true, false, "",
         {{1.0, Mouse, mbtn0, kDown, ""},
          {1.4, None, 0, 0, ""},
          {1.6, None, 0, 0, "onBtnFwDown ctl:setAutoWalk 1 ctl:setForwardKey 1"},
          {2.0, Mouse, mbtn0, 0, "onBtnFwUp ctl:setRun 0 ctl:setForwardKey 0"}},
         true},
        {"two clicks of special0 in Game: the main character runs forward until the second release",
         1, true, false, "",
         {{1.0, Mouse, mbtn0, kDown, ""},
          {1.1, Mouse, mbtn0, 0, "onAction onBtnFwUp ctl:setForwardKey 0 ctl:setRun 0 ctl:setAutoWalk 1"},
          {1.3, Mouse, mbtn0, kDown,
           "onSetMoveModeDown onBtnFwDown onBtnFwDown ctl:setRun 1 ctl:setAutoWalk 1 ctl:setForwardKey 1 "
           "ctl:setAutoWalk 1 ctl:setForwardKey 1"},
          {1.4, Mouse, mbtn0, 0, "onBtnFwUp ctl:setRun 0 ctl:setForwardKey 0"}},
         true},
        {"the movement keys in Game steer the main character, not the free view",
         1, true, false, "",
         {{1.0, Keys, di::DIK_A, kDown, "onBtnStepLeftDown ctl:setLeftKey 1"},
          {1.1, Keys, di::DIK_A, 0, "onBtnStepLeftUp ctl:setLeftKey 0"},
          {1.2, Keys, di::DIK_DOWN, kDown, "onBtnBkDown ctl:setBackwardKey 1"},
          {1.3, Keys, di::DIK_DOWN, 0, "onBtnBkUp ctl:setBackwardKey 0"}},
         true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ButtonFixture f;
        std::unique_ptr<testing_support::CameraScene> room;
        SaveGame game;
        testing_support::ScopedCoreMember<SaveGame> useGame{gameCore.game, &game};
        if (c.scene) {
            room = std::make_unique<testing_support::CameraScene>();
            game.scenes.push_back(room->scene->id);
            game.currentIndex = 0;
        }
        if (c.mainCharacter) {
            auto* hero = static_cast<Model*>(room->scene->createModel("box", "walker", matrix34Identity(), 0));
            ASSERT_NE(hero, nullptr);
            auto recording = std::make_unique<testing_support::RecordingController>(*hero);
            f.record = recording.get();
            hero->controller = std::move(recording);
            ASSERT_TRUE(gameCore.scene_setMainCharacterByName("walker"));
        }
        gameCore.setCameraMode(c.cameraMode, CurrentTime{});
        if (f.record) f.record->calls.clear();  // the main-character notices
        ASSERT_TRUE(f.script.load(c.setupLua));
        const InputStillFrameFilter previous = setInputStillFrameFilter(c.filterTakesW ? stillFrameTakesW : nullptr);
        const int devices[] = {-1, f.keyboard, f.mouse, f.joystick};
        for (const Step& step : c.steps) {
            if (step.device != None) f.input.scripted->queue(devices[step.device], 0, step.offset, step.data);
            if (step.lua) {
                ASSERT_TRUE(f.script.load(step.lua));
            }
            // A device hands on at each frame the event it read at the one before.
            f.input.poll();
            CurrentTime sample;
            sample.real.time = step.time;
            f.input.input.update(sample);
            EXPECT_EQ(f.take(), step.expected) << "at " << step.time;
        }
        setInputStillFrameFilter(previous);
        game.scenes.clear();
    }
}

TEST(InputVirtualButtons, CatchAndLockLeaveTheirTraces) {
    ButtonFixture f;
    ASSERT_TRUE(f.script.load("input.button:doCatch() input:lock() input:lock()"));
    f.input.scripted->queue(f.keyboard, 0, di::DIK_Q, kDown);
    f.input.frame();
    f.input.scripted->queue(f.keyboard, 0, di::DIK_Q, 0);
    ASSERT_TRUE(f.script.load("input:unlock() input:unlock()"));
    f.input.frame();
    // The press came during the lock: the catch still waits.
    EXPECT_EQ(f.buttons().catchFlag, 1);
    f.input.scripted->queue(f.keyboard, 0, di::DIK_Q, kDown);
    f.input.frame();
    f.input.frame();
    EXPECT_EQ(f.take(), "onCatch");
    ASSERT_TRUE(f.script.load("caught = input.button.catchedButton name = input.button:getName(caught)"));
    EXPECT_EQ(f.script.global("name"), "KEY_Q");
    for (const InputVirtualButtonValue& value : f.buttons().values) EXPECT_EQ(value.down, 0);
    // One line each: a second lock or unlock does nothing.
    int locked = 0, unlocked = 0;
    for (const LogRecord& record : gameCore.log->records()) {
        locked += record.text.find(">>>>>>>>>>>>>>>>>>>>>>>>>>> Inputs Locked") != std::string::npos;
        unlocked += record.text.find(">>>>>>>>>>>>>>>>>>>>>>>>>>> Inputs Unlocked") != std::string::npos;
    }
    EXPECT_EQ(locked, 1);
    EXPECT_EQ(unlocked, 1);
}

// A hand-driven model as the main character: the movement keys set its
// position controller's flags, which move it from its pose frame by frame.
TEST(InputVirtualButtons, MovementKeysDriveAPositionControlledMainCharacter) {
    ButtonFixture f;
    SaveGame game;
    testing_support::ScopedCoreMember<SaveGame> useGame{gameCore.game, &game};
    testing_support::CameraScene room;
    game.scenes.push_back(room.scene->id);
    game.currentIndex = 0;
    auto* post = static_cast<Model*>(room.scene->createModel("box", "post", matrix34Identity(), 0));
    ASSERT_NE(post, nullptr);
    auto* controller = dynamic_cast<PositionController*>(post->setController(ModelController::TypePosition));
    ASSERT_NE(controller, nullptr);
    ASSERT_TRUE(gameCore.scene_setMainCharacterByName("post"));
    controller->setRightKey(true);
    // The mode's main-character notice clears what was held.
    gameCore.setCameraMode(1, CurrentTime{});
    EXPECT_FALSE(controller->right);

    auto key = [&](di::DWORD code, di::DWORD data, double time) {
        f.input.scripted->queue(f.keyboard, 0, code, data);
        f.input.poll();
        CurrentTime sample;
        sample.real.time = time;
        f.input.input.update(sample);
    };
    key(di::DIK_W, kDown, 1.0);
    EXPECT_TRUE(controller->forward);
    for (double t = 1.0; t < 12.0; t += 0.1) post->updateFrame(testing_support::frameAt(t, 0.1), 0);
    key(di::DIK_W, 0, 12.0);
    EXPECT_FALSE(controller->forward);
    for (double t = 12.0; t < 22.0; t += 0.1) post->updateFrame(testing_support::frameAt(t, 0.1), 0);
    EXPECT_NEAR(post->worldMatrix.m[10], 2.0f, 1e-3f);
    EXPECT_NEAR(post->worldMatrix.m[9], 0.0f, 1e-6f);
    f.take();
    game.scenes.clear();
}

// In the game's character mode the buttons reach the main character's
// controller: alwaysrun flips running, automove toggles auto-walk, the
// move mode sets running, and special0's press ends auto-walk.
TEST(InputVirtualButtons, CharacterButtonsReachTheMainCharactersController) {
    ButtonFixture f;
    testing_support::MainCharacterRoom world;
    ASSERT_NE(world.hero, nullptr);
    testing_support::RecordingController& record = *world.record;
    ASSERT_TRUE(gameCore.scene_setMainCharacterByName("walker"));
    gameCore.setCameraMode(1, CurrentTime{});
    record.calls.clear();  // the mode's main-character notice
    const struct {
        double time;
        di::DWORD key;
        di::DWORD data;
    } steps[] = {{1.0, di::DIK_CAPITAL, kDown}, {1.1, di::DIK_CAPITAL, 0},  {1.2, di::DIK_RCONTROL, kDown},
                 {1.3, di::DIK_RCONTROL, 0},    {1.4, di::DIK_LSHIFT, kDown}, {1.5, di::DIK_LSHIFT, 0}};
    for (const auto& step : steps) {
        f.input.scripted->queue(f.keyboard, 0, step.key, step.data);
        f.input.poll();
        CurrentTime sample;
        sample.real.time = step.time;
        f.input.input.update(sample);
    }
    f.take();
    const std::vector<std::string> expected = {"flipRun", "setAutoWalk 0", "setRun 1", "setRun 0"};
    EXPECT_EQ(record.calls, expected);
}
