// The game's 60 actions (virtual buttons), each bound to at most two device
// buttons, and the fixed table of their names, behaviour flags and built-in
// default bindings.
#pragma once

#include <cstdint>
#include <string>

#include "input/InputButtons.h"

class DataStream;
struct lua_State;
struct InputSetup;

// Virtual button ids (INPUT_VIRTUAL_BUTTONS): 0 to 59.
constexpr std::int32_t kInputVirtualButtonCount = 60;

// Behaviour flags of a virtual button.
enum InputVirtualButtonFlags : std::uint16_t {
    InputActionOnPress = 0x0001,
    InputActionOnRelease = 0x0002,
    InputRepeat = 0x0004,
    InputDownOnPress = 0x0008,
    InputUpOnRelease = 0x0010,
    InputClick = 0x0020,
    InputDoublePress = 0x0040,
    InputHold = 0x0080,
};

struct InputVirtualButtonValue {
    std::int32_t action0 = kInputButtonNone;  // first bound device button id
    std::int32_t action1 = kInputButtonNone;  // second bound device button id
    std::uint16_t flags = 0;
    std::uint8_t held = 0;
    std::uint8_t down = 0;
    double lastPressTime = 0.0;  // seconds; 0 = no double-press window
    double pressTime = 0.0;      // seconds
};
static_assert(sizeof(InputVirtualButtonValue) == 32);

struct CurrentTime;

// The event names a script assigns, onCatch first, onQuitGame last.
constexpr std::int32_t kInputButtonEventCount = 65;
// Positions of the event names, in the order of buttonEventNames().
enum InputButtonEvent : std::int32_t {
    InputEventCatch = 0,
    InputEventAction,
    InputEventJump,
    InputEventHint,
    InputEventForwardDown,
    InputEventForwardUp,
    InputEventBackDown,
    InputEventBackUp,
    InputEventLeftDown,
    InputEventLeftUp,
    InputEventRightDown,
    InputEventRightUp,
    InputEventAlwaysRun,
    InputEventAutoMove,
    InputEventSwitchMoveMode,
    InputEventMoveModeDown,
    InputEventMoveModeUp,
    InputEventCrouch,
    InputEventCamera,
    InputEventNextItem,
    InputEventPrevItem,
    InputEventScrollDown,
    InputEventScrollUp,
    InputEventMainMenu,
    InputEventGameMenu,
    InputEventGameMenuInventory,  // then dialogs, reports, documents, maps
    InputEventQuickSave = 30,
    InputEventQuickLoad,
    InputEventPause,
    InputEventHot1,          // to onHot9
    InputEventDebug0 = 42,   // to onDebug9
    InputEventF1 = 52,       // to onF12
    InputEventQuitGame = 64,
};

// The kinds of virtual-button events.
enum InputButtonEventKind : std::int32_t {
    InputKindAction = 0,
    InputKindDoublePress = 1,  // special0 only
    InputKindUp = 2,
    InputKindDown = 3,
};

// Bits of the modifier word, by key.
enum InputModifier : std::uint32_t {
    InputModifierLeftAlt = 0x0002,
    InputModifierLeftShift = 0x0004,
    InputModifierLeftControl = 0x0008,
    InputModifierRightAlt = 0x0010,
    InputModifierRightShift = 0x0020,
    InputModifierRightControl = 0x0040,
};

// The still-frame screens' answer to a device button event: true when
// they took it, which ends its handling by the input.
using InputStillFrameFilter = bool (*)(std::int32_t id, bool pressed);
// Replaces the filter (null: the input box and the still frames of the
// render core); gives back the one before.
InputStillFrameFilter setInputStillFrameFilter(InputStillFrameFilter filter);
const char* const* buttonEventNames();
// The longest event name a save record carries.
constexpr std::uint32_t kInputEventNameLimit = 2047;

class InputVirtualButton {
public:
    // One device button event: the modifier word, the still frames, Alt+F4,
    // the catch, then the press or release rules of every action bound to
    // the id.
    void onDeviceButton(std::int32_t id, bool pressed, const CurrentTime& time);
    // The per-frame timing: holds, the double-press windows, repeats.
    void update(const CurrentTime& time);
    // Sends one event of a kind for a virtual button (0 to 59; others do
    // nothing) to its script event, the main character's controller or the
    // free-flying view.
    void dispatch(std::int32_t kind, std::int32_t id, const CurrentTime& time);
    // The wheel axis of one device report, 120 units a notch: scroll
    // events, the remainder kept.
    void onWheel(float value);
    // Posts the script event at that position (nothing for an empty name).
    void post(std::int32_t event) const;

    // Registers "InputButton" with its enumeration INPUT_VIRTUAL_BUTTONS.
    // True.
    static bool registerLua(lua_State* state);
    // Clears the run-time state of every action (held, down, both times),
    // the modifier word, the wheel and the run modifier; bindings and flags
    // stay.
    void clearValues();

    // The buttons' part of a save record: the reserved, catch and
    // run-modifier bytes, the caught button and the event names, each a u32
    // length and its bytes. Bytes or the first negative field result; a
    // stored name longer than kInputEventNameLimit is refused (-1, logged).
    std::int32_t write(DataStream& stream) const;
    std::int32_t read(DataStream& stream);

    InputVirtualButtonValue values[kInputVirtualButtonCount];
    std::uint32_t modifiers = 0;  // left and right Control, Alt and Shift
    const InputSetup* setup = nullptr;
    std::uint8_t reserved = 0;  // carried by the save record only
    double wheel = 0.0;
    std::uint8_t runModifier = 0;  // 1 while the move-mode button holds the alternative mode
    std::uint8_t catchFlag = 0;    // the next pressed device button is caught
    std::int32_t caughtButton = kInputButtonNone;
    // The script functions called for the events, by the order of
    // buttonEventNames(); an empty name sends nothing.
    std::string eventNames[kInputButtonEventCount];
};

// One row of the action table.
struct InputVirtualButtonInfo {
    const char* name;  // the action name used in INI keys
    std::uint16_t flags;
    const char* defaultButton0;  // empty: unbound
    const char* defaultButton1;
};

// The action table, 60 rows in id order.
const InputVirtualButtonInfo* virtualButtonTable();
// The id of an action name (any case), or -1.
std::int32_t findVirtualButton(const char* name);
