#include "input/InputVirtualButton.h"

#include <array>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "app/GameCore.h"
#include "control/ModelController.h"
#include "foundation/DataStream.h"
#include "foundation/Log.h"
#include "foundation/TimeCore.h"
#include "input/InputCore.h"
#include "render/RenderCore.h"
#include "scene/CameraCore.h"
#include "script/ScriptCall.h"
#include "script/ScriptEngine.h"
#include "ui/StillFrameData.h"

namespace {

constexpr InputVirtualButtonInfo kFixedActions[] = {
    {"special0", 0x00E0, "MBTN0", "JOY0"},
    {"special1", 0x0001, "MBTN1", "JOY1"},
    {"action", 0x0002, "", ""},
    {"forward", 0x0058, "KEY_W", "UpArrow"},
    {"back", 0x0018, "KEY_S", "DownArrow"},
    {"left", 0x0018, "KEY_A", "LeftArrow"},
    {"right", 0x0018, "KEY_D", "RightArrow"},
    {"jump", 0x0001, "", ""},
    {"hint", 0x0001, "SPACE", ""},
    {"switchmove", 0x0018, "LSHIFT", "JOY6"},
    {"switchstance", 0x0002, "LCONTROL", "MBTN2"},
    {"switchcamera", 0x0002, "KEY_R", "JOY7"},
    {"alwaysrun", 0x0002, "CAPSLOCK", ""},
    {"automove", 0x0002, "RCONTROL", ""},
    {"nextitem", 0x0005, "KEY_RBracket", ""},
    {"previtem", 0x0005, "KEY_LBracket", ""},
    {"scrollup", 0x0005, "PGUP", ""},
    {"scrolldown", 0x0005, "PGDN", ""},
    {"mainmenu", 0x0002, "Esc", ""},
    {"gamemenu", 0x0002, "JOY1", ""},
    {"gamemenuinventory", 0x0002, "KEY_I", "JOY5"},
    {"gamemenudialog", 0x0002, "KEY_E", ""},
    {"gamemenureports", 0x0002, "KEY_N", ""},
    {"gamemenudocuments", 0x0002, "KEY_T", ""},
    {"gamemenumaps", 0x0002, "KEY_C", ""},
    {"qsave", 0x0002, "", ""},
    {"qload", 0x0002, "", ""},
    {"pause", 0x0002, "", ""},
};
constexpr std::int32_t kFixedCount = 28;
static_assert(sizeof(kFixedActions) / sizeof(kFixedActions[0]) == kFixedCount);

// hot1..hot9 (KEY_1..KEY_9), dbg0..dbg9 (Gray0..Gray9), f1..f12 (F1..F12),
// then quit.
const std::array<InputVirtualButtonInfo, kInputVirtualButtonCount>& actionTable() {
    static const auto table = [] {
        static std::array<std::string, 2 * 31> texts;
        std::array<InputVirtualButtonInfo, kInputVirtualButtonCount> rows{};
        for (std::int32_t i = 0; i < kFixedCount; ++i) rows[i] = kFixedActions[i];
        std::int32_t id = kFixedCount;
        std::size_t text = 0;
        auto add = [&](const std::string& name, const std::string& button) {
            texts[text] = name;
            texts[text + 1] = button;
            rows[id++] = {texts[text].c_str(), 0x0002, texts[text + 1].c_str(), ""};
            text += 2;
        };
        for (int k = 1; k <= 9; ++k) add("hot" + std::to_string(k), "KEY_" + std::to_string(k));
        for (int k = 0; k <= 9; ++k) add("dbg" + std::to_string(k), "Gray" + std::to_string(k));
        for (int k = 1; k <= 12; ++k) add("f" + std::to_string(k), "F" + std::to_string(k));
        rows[id] = {"quit", 0x0000, "", ""};
        return rows;
    }();
    return table;
}

}  // namespace

const InputVirtualButtonInfo* virtualButtonTable() { return actionTable().data(); }

std::int32_t findVirtualButton(const char* name) {
    if (!name || !*name) return -1;
    const std::string word = lowerName(name);
    for (std::int32_t i = 0; i < kInputVirtualButtonCount; ++i)
        if (lowerName(actionTable()[i].name) == word) return i;
    return -1;
}

namespace {

// The modifier bit of a device button id, or 0.
std::uint32_t modifierBit(std::int32_t id) {
    switch (id) {
    case 136: return InputModifierLeftAlt;
    case 137: return InputModifierLeftShift;
    case 135: return InputModifierLeftControl;
    case 140: return InputModifierRightAlt;
    case 141: return InputModifierRightShift;
    case 139: return InputModifierRightControl;
    default: return 0;
    }
}
constexpr std::uint32_t kAltBits = InputModifierLeftAlt | InputModifierRightAlt;
constexpr std::uint32_t kShiftOrControlBits = InputModifierLeftShift | InputModifierRightShift |
                                              InputModifierLeftControl | InputModifierRightControl;
constexpr std::int32_t kKeyF4 = 106;

// The input box first, then the still frames of the render core.
bool renderCoreStillFramesTake(std::int32_t id, bool pressed) {
    if (!gameCore.render) return false;
    StillFrameRenderer& frames = gameCore.render->stillFrames();
    return frames.inputBox.onKey(id, pressed) || frames.data.onKey(id, pressed);
}

InputStillFrameFilter gStillFrameFilter = renderCoreStillFramesTake;

constexpr std::int32_t kModeGame = 1;
constexpr std::int32_t kModeEditor = 7;

std::int32_t effectiveMode() { return gameCore.cameraModeIndex(); }

std::int32_t inputMode() { return inputModeOf(effectiveMode()); }

// "Game", "2d" and "3d" while no camera stack plays.
bool characterMode() {
    const std::int32_t mode = effectiveMode();
    return mode == kModeGame || mode == 9 || mode == 10;
}

// The type of the current camera of the current scene (type 10 mapped by
// the effective mode), or -1 when there is none.
std::int32_t currentCameraType() {
    CameraCore* camera = gameCore.scene_getCamera();
    return camera ? static_cast<std::int32_t>(camera->effectiveMode()) : -1;
}

// A press of a movement button is dropped while the camera mode leaves
// the player no steering (except in the editor).
bool pressGated(bool pressed) {
    if (!pressed) return false;
    if (effectiveMode() == kModeEditor) return false;
    const std::int32_t mode = inputMode();
    return mode == 1 || mode == 2 || mode == 3 || mode == 5;
}

InputCharacterState* freeView() { return gameCore.input ? &gameCore.input->characterState : nullptr; }

// The operations of the main character's controller that the buttons drive.
enum class ControllerCall { ForwardKey, BackwardKey, LeftKey, RightKey, Run, FlipRun, AutoWalk, Jump };

// The main character's controller takes the call; without one (the query
// logs why) the step ends there.
void callMainController(ControllerCall call, bool pressed) {
    ModelController* controller = gameCore.scene_getMainController();
    if (!controller) return;
    switch (call) {
        case ControllerCall::ForwardKey: controller->setForwardKey(pressed); return;
        case ControllerCall::BackwardKey: controller->setBackwardKey(pressed); return;
        case ControllerCall::LeftKey: controller->setLeftKey(pressed); return;
        case ControllerCall::RightKey: controller->setRightKey(pressed); return;
        case ControllerCall::Run: controller->setRun(pressed); return;
        case ControllerCall::FlipRun: controller->flipRun(); return;
        // true ends auto-walk, false toggles it.
        case ControllerCall::AutoWalk: controller->setAutoWalk(pressed); return;
        case ControllerCall::Jump: controller->reserved(); return;
    }
}

double inputTime(const CurrentTime& time) { return time.real.time; }

}  // namespace

std::int32_t currentInputMode() { return inputMode(); }

InputStillFrameFilter setInputStillFrameFilter(InputStillFrameFilter filter) {
    InputStillFrameFilter previous = gStillFrameFilter;
    gStillFrameFilter = filter ? filter : renderCoreStillFramesTake;
    return previous;
}

void InputVirtualButton::post(std::int32_t event) const {
    if (event < 0 || event >= kInputButtonEventCount) return;
    postScriptEvent(eventNames[event].c_str());
}

void InputVirtualButton::onDeviceButton(std::int32_t id, bool pressed, const CurrentTime& time) {
    if (id < 0 || id >= kInputButtonCount) return;
    if (const std::uint32_t bit = modifierBit(id)) {
        if (pressed)
            modifiers |= bit;
        else
            modifiers &= ~bit;
    }
    if (gStillFrameFilter(id, pressed)) {
        for (InputVirtualButtonValue& value : values) {
            if (value.action0 != id && value.action1 != id) continue;
            value.held = value.down = 0;
            value.lastPressTime = value.pressTime = 0.0;
            break;
        }
        return;
    }
    if ((modifiers & kAltBits) && !(modifiers & kShiftOrControlBits) && id == kKeyF4) {
        if (gameCore.script && gameCore.script->context)
            runScriptFunction(nullptr, *gameCore.script->context, "system_event_exit_alt_f4");
        return;
    }
    if (catchFlag && pressed) {
        caughtButton = id;
        catchFlag = 0;
        post(InputEventCatch);
        return;
    }
    const double now = inputTime(time);
    const double holdLimit = setup ? setup->buttonHoldLimit : 0.5;
    for (std::int32_t button = 0; button < kInputVirtualButtonCount; ++button) {
        InputVirtualButtonValue& value = values[button];
        if (value.action0 != id && value.action1 != id) continue;
        if (pressed) {
            const bool wasIdle = value.down == 0;
            value.pressTime = now;
            value.down = 1;
            if (value.flags & InputDoublePress) {
                if (value.lastPressTime > 0.0) {
                    const double gap = now - value.lastPressTime;
                    value.lastPressTime = value.pressTime = 0.0;
                    if (gap < holdLimit) {
                        if (button == 0) dispatch(InputKindDoublePress, button, time);
                    } else {
                        if (value.flags & InputActionOnPress) dispatch(InputKindAction, button, time);
                        value.lastPressTime = now;
                    }
                } else {
                    value.lastPressTime = now;
                }
            } else if (wasIdle && (value.flags & InputActionOnPress)) {
                dispatch(InputKindAction, button, time);
            }
            if (value.flags & InputDownOnPress) dispatch(InputKindDown, button, time);
        } else {
            if (value.down == 1 && (value.flags & InputActionOnRelease)) dispatch(InputKindAction, button, time);
            if (value.flags & InputUpOnRelease) dispatch(InputKindUp, button, time);
            value.down = value.held = 0;
            const double heldFor = now - value.pressTime;
            if (heldFor >= holdLimit) {
                if (value.flags & InputHold) dispatch(InputKindUp, button, time);
            } else if (value.flags & InputClick) {
                dispatch(InputKindAction, button, time);
            }
        }
    }
}

void InputVirtualButton::update(const CurrentTime& time) {
    const double now = inputTime(time);
    const double holdLimit = setup ? setup->buttonHoldLimit : 0.5;
    const double period = setup ? setup->buttonRepeatPeriod : 0.5;
    for (std::int32_t button = 0; button < kInputVirtualButtonCount; ++button) {
        InputVirtualButtonValue& value = values[button];
        if (value.action0 == kInputButtonNone && value.action1 == kInputButtonNone) continue;
        if ((value.flags & InputHold) && value.down == 1 && value.held == 0 && now - value.pressTime > holdLimit) {
            value.held = 1;
            dispatch(InputKindDown, button, time);
        }
        if (value.lastPressTime != 0.0 && now - value.lastPressTime > holdLimit) value.lastPressTime = 0.0;
        if ((value.flags & InputRepeat) && value.down == 1 && now - value.pressTime > period) {
            value.pressTime += period;
            dispatch(InputKindAction, button, time);
        }
    }
}

namespace {

// Forward, back, left and right: their events, free-view keys and
// controller keys.
struct DirectionButton {
    std::int32_t downEvent, upEvent;
    std::uint32_t freeViewKey;
    ControllerCall controllerKey;
};
constexpr DirectionButton kDirections[4] = {
    {InputEventForwardDown, InputEventForwardUp, InputCharacterForward, ControllerCall::ForwardKey},
    {InputEventBackDown, InputEventBackUp, InputCharacterBack, ControllerCall::BackwardKey},
    {InputEventLeftDown, InputEventLeftUp, InputCharacterLeft, ControllerCall::LeftKey},
    {InputEventRightDown, InputEventRightUp, InputCharacterRight, ControllerCall::RightKey},
};
constexpr std::int32_t kForward = 3;
constexpr std::int32_t kCameraTypeFreeView = 2;

void endAutoWalk() {
    if (characterMode()) callMainController(ControllerCall::AutoWalk, true);
}

// The reactions the dispatch table names.
struct InputButtonReactions {
    InputVirtualButton& buttons;
    double now;

    void direction(std::int32_t id, bool pressed) const {
        if (pressGated(pressed)) return;
        const DirectionButton& d = kDirections[id - kForward];
        buttons.post(pressed ? d.downEvent : d.upEvent);
        const std::int32_t type = currentCameraType();
        if (type == kCameraTypeFreeView) {
            if (InputCharacterState* view = freeView()) view->setKey(d.freeViewKey, pressed, now);
        } else if (type == 3 || type == 4) {
            callMainController(d.controllerKey, pressed);
        }
    }
    void moveMode(bool pressed) const {
        if (pressGated(pressed)) return;
        buttons.runModifier = pressed ? 1 : 0;
        buttons.post(pressed ? InputEventMoveModeDown : InputEventMoveModeUp);
        const std::int32_t type = currentCameraType();
        if (type < 0) return;
        if (type == kCameraTypeFreeView) setFast(pressed);
        if (characterMode()) callMainController(ControllerCall::Run, pressed);
    }
    void applyMoveMode() const {
        const std::int32_t type = currentCameraType();
        if (type < 0) return;
        if (type == kCameraTypeFreeView) setFast(buttons.runModifier != 0);
        if (characterMode()) callMainController(ControllerCall::Run, buttons.runModifier != 0);
    }
    static void setFast(bool on) {
        InputCharacterState* view = freeView();
        if (!view) return;
        if (on)
            view->flags |= InputCharacterFast;
        else
            view->flags &= ~InputCharacterFast;
    }
    void doublePressSpecial0() const {
        if (effectiveMode() != kModeGame) {
            buttons.post(InputEventAction);
            return;
        }
        const std::uint8_t noted = buttons.runModifier;
        moveMode(true);
        buttons.runModifier = noted;
        endAutoWalk();
        direction(kForward, true);
    }
};

}  // namespace

void InputVirtualButton::dispatch(std::int32_t kind, std::int32_t id, const CurrentTime& time) {
    if (id < 0 || id >= kInputVirtualButtonCount) return;
    const InputButtonReactions react{*this, inputTime(time)};
    const bool game = effectiveMode() == kModeGame;
    if (kind == InputKindDoublePress) {
        if (id == 0) react.doublePressSpecial0();
        return;
    }
    if (kind == InputKindDown || kind == InputKindUp) {
        const bool down = kind == InputKindDown;
        switch (id) {
        case 0:
            if (!game) return;
            if (down) {
                endAutoWalk();
                react.direction(kForward, true);
            } else {
                react.applyMoveMode();
                react.direction(kForward, false);
            }
            return;
        case 3:
        case 4:
        case 5:
        case 6: react.direction(id, down); return;
        case 9: react.moveMode(down); return;
        default: return;
        }
    }
    if (kind != InputKindAction) return;
    switch (id) {
    case 0:
        post(InputEventAction);
        if (game) {
            react.direction(kForward, false);
            react.applyMoveMode();
            endAutoWalk();
        }
        return;
    case 1: post(InputEventGameMenu); return;
    case 2: post(InputEventAction); return;
    case 7:
        if (inputMode() == 2 || inputMode() == 5) return;
        post(InputEventJump);
        callMainController(ControllerCall::Jump, false);
        return;
    case 8: post(InputEventHint); return;
    case 10:
        if (characterMode()) post(InputEventCrouch);
        return;
    case 11: post(InputEventCamera); return;
    case 12:
        if (!characterMode()) return;
        post(InputEventAlwaysRun);
        callMainController(ControllerCall::FlipRun, false);
        return;
    case 13:
        if (!characterMode()) return;
        post(InputEventAutoMove);
        callMainController(ControllerCall::AutoWalk, false);
        return;
    case 14: post(InputEventNextItem); return;
    case 15: post(InputEventPrevItem); return;
    case 16: post(InputEventScrollUp); return;
    case 17: post(InputEventScrollDown); return;
    case 18: post(InputEventMainMenu); return;
    case 59:
        if (inputMode() != 2 && inputMode() != 5) post(InputEventQuitGame);
        return;
    default: break;
    }
    // The families: game menus, quick save/load and pause, hot keys,
    // debug keys and function keys, each in id order.
    if (id >= 19 && id <= 27) post(InputEventGameMenu + (id - 19));
    else if (id >= 28 && id <= 36) post(InputEventHot1 + (id - 28));
    else if (id >= 37 && id <= 46) post(InputEventDebug0 + (id - 37));
    else if (id >= 47 && id <= 58) post(InputEventF1 + (id - 47));
}

void InputVirtualButton::onWheel(float value) {
    if ((value < 0.0f && wheel > 0.0) || (value > 0.0f && wheel < 0.0)) wheel = 0.0;
    // In single precision: 240 units make exactly 2.0.
    wheel += static_cast<double>(value * 0.008333334f);
    if (wheel == 0.0) return;
    std::int32_t sent = 0;
    do {
        if (wheel < 0.0) {
            post(InputEventScrollDown);
            wheel += 1.0;
        } else {
            post(InputEventScrollUp);
            wheel -= 1.0;
        }
        ++sent;
    } while (std::fabs(wheel) > sent);
}

void InputVirtualButton::clearValues() {
    for (InputVirtualButtonValue& value : values) {
        value.held = value.down = 0;
        value.lastPressTime = value.pressTime = 0.0;
    }
    modifiers = 0;
    wheel = 0.0;
    runModifier = 0;
}

const char* const* buttonEventNames() {
    static const auto names = [] {
        static std::vector<std::string> texts;
        for (const char* name :
             {"onCatch", "onAction", "onBtnJump", "onBtnHint", "onBtnFwDown", "onBtnFwUp", "onBtnBkDown", "onBtnBkUp",
              "onBtnStepLeftDown", "onBtnStepLeftUp", "onBtnStepRightDown", "onBtnStepRightUp", "onAlwaysRun",
              "onAutoMove", "onSwitchMoveMode", "onSetMoveModeDown", "onSetMoveModeUp", "onCrouch", "onCamera",
              "onNextItem", "onPrevItem", "onScrollDown", "onScrollUp", "onOpenMainMenu", "onOpenGameMenu",
              "onOpenGameMenuInventory", "onOpenGameMenuDialogs", "onOpenGameMenuReports", "onOpenGameMenuDocuments",
              "onOpenGameMenuMaps", "onQuickSave", "onQuickLoad", "onPause"})
            texts.emplace_back(name);
        for (int k = 1; k <= 9; ++k) texts.push_back("onHot" + std::to_string(k));
        for (int k = 0; k <= 9; ++k) texts.push_back("onDebug" + std::to_string(k));
        for (int k = 1; k <= 12; ++k) texts.push_back("onF" + std::to_string(k));
        texts.emplace_back("onQuitGame");
        std::array<const char*, kInputButtonEventCount> pointers{};
        for (std::size_t i = 0; i < pointers.size(); ++i) pointers[i] = texts.at(i).c_str();
        return pointers;
    }();
    return names.data();
}

std::int32_t InputVirtualButton::write(DataStream& s) const {
    std::int32_t total = 0;
    for (std::uint8_t v : {reserved, catchFlag, runModifier})
        if (!addField(total, writeU8(s, v))) return total;
    if (!addField(total, writeI32(s, caughtButton))) return total;
    for (const std::string& name : eventNames) {
        if (name.size() > kInputEventNameLimit) {
            engineLog().error("Input event name of %u bytes is too long to save", static_cast<unsigned>(name.size()));
            return -1;
        }
        const auto length = static_cast<std::int32_t>(name.size());
        if (!addField(total, writeU32(s, static_cast<std::uint32_t>(length)))) return total;
        if (length > 0 && !addField(total, s.write(name.data(), length))) return total;
    }
    return total;
}

std::int32_t InputVirtualButton::read(DataStream& s) {
    std::int32_t total = 0;
    for (std::uint8_t* v : {&reserved, &catchFlag, &runModifier})
        if (!addField(total, readU8(s, *v))) return total;
    if (!addField(total, readI32(s, caughtButton))) return total;
    char buffer[kInputEventNameLimit + 1];
    for (std::string& name : eventNames) {
        std::uint32_t length = 0;
        if (!addField(total, readU32(s, length))) return total;
        if (length > kInputEventNameLimit) {
            engineLog().error("Input event name of %u bytes in the saved game is longer than %u",
                              static_cast<unsigned>(length), static_cast<unsigned>(kInputEventNameLimit));
            return -1;
        }
        std::memset(buffer, 0, sizeof(buffer));
        if (length > 0 && !addField(total, readExact(s, buffer, static_cast<std::int32_t>(length)))) return total;
        name.assign(buffer, length);
    }
    return total;
}
