// Device buttons: every axis, mouse button, joystick button and key that the
// input core knows has a fixed id (0 to 153), tied to the data offset by which
// its data arrives and to the name by which settings refer to it. The ids are
// stored in save games and the names in the setup file, so both are fixed.
#pragma once

#include <cstdint>
#include <string>

#include "platform/dinput8/DInput8.h"

// Device button ids (INPUT_ACTIONS): 0 to 4 are axes, 5 to 153 buttons and
// keys; 154 means no button, 155 undefined.
constexpr std::int32_t kInputButtonCount = 154;
constexpr std::int32_t kInputButtonNone = 154;
constexpr std::int32_t kInputButtonUndefined = 155;
constexpr std::int32_t kInputButtonNameCount = 156;

// One row of a device button table: an action record, so that a table also
// serves as the action array of an action-format descriptor. uAppData is
// the device button id, dwSemantic the data offset in the device kind's
// predefined format (for a key its scan code), dwFlags DIA_APPFIXED and the
// action name the button's name.
using InputDeviceButton = platform::dinput8::DIACTIONA;

// The kind of a device, from the low byte of its DirectInput type.
enum InputDeviceKind : std::int32_t {
    InputDeviceMouse = 0,
    InputDeviceKeyboard = 1,
    InputDeviceJoystick = 2,
    InputDeviceGamepad = 3,
    InputDeviceDriving = 4,
};

struct InputDeviceButtonTable {
    const InputDeviceButton* rows;
    std::int32_t count;
};

// The mouse (8 rows), joystick (35 rows) and keyboard (102 rows) tables.
InputDeviceButtonTable mouseButtonTable();
InputDeviceButtonTable joystickButtonTable();
InputDeviceButtonTable keyboardButtonTable();

// The id of the first row of the kind's table (mouse, keyboard, joystick)
// whose offset is the one given; 154 for no row and for any other kind.
std::int32_t buttonIdFromOffset(std::int32_t kind, std::uint32_t offset);

// Fills the button-name table; idempotent.
void buildButtonNames();
// The 156 names indexed by device button id ("-- Undefined --" for an id
// that names no control, then "NONE" and "UNDEFINED"). Built on first use.
const char* const* buttonNames();
// The name of an id; "NONE" for an id outside 0..155.
const char* buttonName(std::int32_t id);
// At most 127 characters of a name, lower-cased, for comparing names in
// any case; null gives an empty text.
std::string lowerName(const char* text);
