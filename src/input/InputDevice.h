// The input devices: the DirectInput object, every attached mouse, keyboard
// and joystick set up with its predefined data format and a small buffer,
// and the per-device queue of button events read once a frame.
#pragma once

#include <cstdint>
#include <vector>

#include "input/InputButtons.h"
#include "platform/dinput8/DInput8.h"

class InputCore;
struct CurrentTime;

namespace dinput = platform::dinput8;

// The kind of a device object, from its type GUID: 0 to 6 are axes (X, Y,
// Z, Rx, Ry, Rz, slider), 7 a button or key; -1 is not filed.
enum InputObjectKind : std::int32_t {
    InputObjectXAxis = 0,
    InputObjectYAxis,
    InputObjectZAxis,
    InputObjectRxAxis,
    InputObjectRyAxis,
    InputObjectRzAxis,
    InputObjectSlider,
    InputObjectButton,
    InputObjectOther = -1,
};

struct InputDeviceObject {
    std::uint32_t reserved = 0;
    dinput::DIDEVICEOBJECTINSTANCEA instance;
    char name[128] = {};
    std::int32_t kind = InputObjectOther;
};

// One queued button transition.
struct InputDeviceEvent {
    std::int32_t id = kInputButtonNone;  // 5 to 153
    bool down = false;
    std::uint32_t timeStamp = 0;  // milliseconds; queued, not passed on
};

// The name of a device kind ("Mouse" ... "Driving"; "Unknown" otherwise).
const char* deviceKindName(std::int32_t kind);

// The text of a DirectInput result.
const char* directInputErrorText(dinput::HRESULT hr);

class InputDevice {
public:
    // Sets the kind from the low byte of the type; another type leaves
    // the kind at 0, so the device is set up as a mouse.
    void kindFromType();
    // Objects, cooperative level, data format and buffer size; false
    // (logged) when the device cannot be used.
    bool setup(void* window);
    bool initObjects(void* window);
    // Delivers the oldest queued event (unless flushing) and reads the
    // device's buffered data.
    void poll(InputCore& core, const CurrentTime& time, bool flushing);
    // Unacquires and releases the interface; frees the lists.
    void release();

    static dinput::BOOL onEnumObject(const dinput::DIDEVICEOBJECTINSTANCEA* object, void* ref);

    std::vector<InputDeviceEvent> events;
    dinput::DIDEVCAPS caps;
    bool acquired = false;
    dinput::IDirectInputDevice8A* device = nullptr;
    std::vector<InputDeviceObject> axes;
    std::vector<InputDeviceObject> buttons;
    dinput::GUID instance;
    dinput::GUID product;
    std::uint32_t type = 0;
    char instanceName[128] = {};
    char productName[128] = {};
    std::int32_t kind = InputDeviceMouse;
    bool enabled = false;
};

class InputDeviceSet {
public:
    InputDeviceSet();
    InputDeviceSet(const InputDeviceSet&) = delete;
    InputDeviceSet& operator=(const InputDeviceSet&) = delete;

    // Opens DirectInput and sets up every attached device; false (logged)
    // when DirectInput cannot open or no device can be used. window is the
    // handle the devices cooperate with.
    bool create(void* window);
    void releaseAll();
    void pollAll(InputCore& core, const CurrentTime& time);
    void initActionFormats();

    static dinput::BOOL onEnumDevice(const dinput::DIDEVICEINSTANCEA* instance, void* ref);

    dinput::IDirectInput8A* directInput = nullptr;
    std::vector<InputDevice> devices;
    // Mouse, joystick and keyboard descriptors of the button tables.
    dinput::DIACTIONFORMATA actionFormats[3];

private:
    void* window_ = nullptr;
};
