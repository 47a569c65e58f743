#include "input/InputDevice.h"

#include <cmath>
#include <cstring>

#include "app/GameCore.h"
#include "foundation/Log.h"
#include "input/InputCore.h"

using namespace platform::dinput8;

namespace {

// Room for one read; the device buffer itself holds kDeviceBufferItems.
constexpr DWORD kReadItems = 500;
constexpr DWORD kDeviceBufferItems = 40;
// Axis values beyond this count as no motion.
constexpr float kAxisLimit = 1000.0f;

// The action-map GUID of the game's descriptors.
constexpr GUID kActionMapGuid = {0x3F1D6C20, 0x5A11, 0x4C0B, {0x9E, 0x21, 0x47, 0x0D, 0x6B, 0x52, 0x19, 0x8A}};

void copyName(char (&to)[128], const char* from) {
    std::strncpy(to, from ? from : "", sizeof(to) - 1);
    to[sizeof(to) - 1] = '\0';
}

std::int32_t objectKind(const GUID& type) {
    const GUID* axes[] = {&GUID_XAxis, &GUID_YAxis, &GUID_ZAxis, &GUID_RxAxis, &GUID_RyAxis, &GUID_RzAxis, &GUID_Slider};
    for (std::int32_t k = 0; k < 7; ++k)
        if (*axes[k] == type) return k;
    if (type == GUID_Button || type == GUID_Key) return InputObjectButton;
    return InputObjectOther;
}

bool resourceLog() { return (gameCore.debugFlags & DebugResourceLog) != 0; }

}  // namespace

const char* deviceKindName(std::int32_t kind) {
    static const char* const names[] = {"Mouse", "Keyboard", "Joystick", "Gamepad", "Driving"};
    return kind >= 0 && kind < 5 ? names[kind] : "Unknown";
}

const char* directInputErrorText(HRESULT hr) {
    switch (hr) {
    case E_NOINTERFACE:
        return "The specified interface is not supported by the object. This value is equal to the E_NOINTERFACE "
               "standard COM return value";
    case E_POINTER: return "An invalid pointer, usually NULL, was passed as a parameter.";
    case DIERR_DEVICENOTREG: return "The device or device instance is not registered with Microsoft® DirectInput";
    case DIERR_NOTBUFFERED:
        return "The device is not buffered. Set the DIPROP_BUFFERSIZE property to enable buffering.";
    case DIERR_OTHERAPPHASPRIO:
        return "Another application has a higher priority level, preventing this call from succeeding";
    case DIERR_OUTOFMEMORY:
        return "The DirectInput subsystem couldn't allocate sufficient memory to complete the call.";
    case DIERR_NOTINITIALIZED: return "The object has not been initialized";
    case DIERR_INVALIDPARAM:
        return "An invalid parameter was passed to the returning function, or the object was not in a state that "
               "permitted the function to be called";
    case DIERR_ACQUIRED: return "The operation cannot be performed while the device is acquired";
    case DIERR_OLDDIRECTINPUTVERSION:
        engineLog().error("Cannot initialize DirectInput8: The application requires a newer version of DirectInput");
        return "Unknown Error";
    case DIERR_BETADIRECTINPUTVERSION:
        engineLog().error(
            "Cannot initialize DirectInput8: The application was written for an unsupported prerelease version of "
            "DirectInput");
        return "Unknown Error";
    case DI_SETTINGSNOTSAVED: return "The action map was applied to the device, but the settings could not be saved";
    case DI_WRITEPROTECT: return "A SUCCESS code indicating that settings cannot be modified";
    default: return "Unknown Error";
    }
}

void InputDevice::kindFromType() {
    switch (type & 0xFF) {
    case DI8DEVTYPE_MOUSE: kind = InputDeviceMouse; break;
    case DI8DEVTYPE_KEYBOARD: kind = InputDeviceKeyboard; break;
    case DI8DEVTYPE_JOYSTICK: kind = InputDeviceJoystick; break;
    case DI8DEVTYPE_GAMEPAD: kind = InputDeviceGamepad; break;
    case DI8DEVTYPE_DRIVING: kind = InputDeviceDriving; break;
    default: kind = InputDeviceMouse; break;
    }
}

BOOL InputDevice::onEnumObject(const DIDEVICEOBJECTINSTANCEA* object, void* ref) {
    if (!ref || !object) return DIENUM_CONTINUE;
    InputDevice& self = *static_cast<InputDevice*>(ref);
    InputDeviceObject record;
    record.instance = *object;
    copyName(record.name, object->tszName);
    record.kind = objectKind(object->guidType);
    if (record.kind >= InputObjectXAxis && record.kind <= InputObjectSlider)
        self.axes.push_back(record);
    else if (record.kind == InputObjectButton)
        self.buttons.push_back(record);
    return DIENUM_CONTINUE;
}

bool InputDevice::initObjects(void* window) {
    Log& log = engineLog();
    if (!device) return false;
    caps = DIDEVCAPS{};
    if (const HRESULT hr = device->GetCapabilities(&caps); hr != DI_OK) {
        release();
        return log.error("Cannot get device [%s] capabality. Reason: [%s]", deviceKindName(kind),
                         directInputErrorText(hr));
    }
    if (const HRESULT hr = device->EnumObjects(&InputDevice::onEnumObject, this, DIDFT_ALL); hr != DI_OK) {
        release();
        return log.error("Cannot enumerate device [%s] objects. Reason: [%s]", deviceKindName(kind),
                         directInputErrorText(hr));
    }
    const DWORD level = kind == InputDeviceMouse ? (DISCL_EXCLUSIVE | DISCL_FOREGROUND)
                                                 : (DISCL_NONEXCLUSIVE | DISCL_FOREGROUND);
    device->SetCooperativeLevel(window, level);
    return true;
}

bool InputDevice::setup(void* window) {
    Log& log = engineLog();
    kindFromType();
    enabled = true;
    if (!initObjects(window)) return log.error("Can't initialize input device [%s]", instanceName);
    const DIDATAFORMAT* format = nullptr;
    switch (kind) {
    case InputDeviceMouse: format = &c_dfDIMouse; break;
    case InputDeviceKeyboard: format = &c_dfDIKeyboard; break;
    case InputDeviceJoystick: format = &c_dfDIJoystick; break;
    default: break;
    }
    // A device that cannot be used is released here, so no interface
    // outlives its dropped record.
    if (!format || device->SetDataFormat(format) != DI_OK) {
        release();
        return log.error("Ca't set data format for device [%s]", instanceName);
    }
    DIPROPDWORD property;
    property.diph.dwSize = sizeof(DIPROPDWORD);
    property.diph.dwHeaderSize = sizeof(DIPROPHEADER);
    property.diph.dwObj = 0;
    property.diph.dwHow = DIPH_DEVICE;
    property.dwData = kDeviceBufferItems;
    if (device->SetProperty(DIPROP_BUFFERSIZE, &property.diph) != DI_OK) {
        release();
        return log.error("Can't set input device [%s] buffer size", instanceName);
    }
    return true;
}

void InputDevice::poll(InputCore& core, const CurrentTime& time, bool flushing) {
    const bool locked = (core.flags & kInputCoreLocked) != 0;
    if (locked) {
        events.clear();
        events.shrink_to_fit();
    }
    if (!flushing && !events.empty()) {
        const InputDeviceEvent event = events.front();
        events.erase(events.begin());
        core.virtualDevices.virtualButton.onDeviceButton(event.id, event.down, time);
    }
    if (device) {
        if (!enabled) {
            if (acquired) {
                device->Unacquire();
                acquired = false;
            }
        } else {
            if (!acquired) {
                device->Acquire();
                acquired = true;
            }
            device->Acquire();
            device->Poll();
            DIDEVICEOBJECTDATA items[kReadItems];
            DWORD count = kReadItems;
            const HRESULT hr = device->GetDeviceData(sizeof(DIDEVICEOBJECTDATA), items, &count, 0);
            // An overflowing read has still taken its items from the device
            // buffer: they are used, or a lost release would leave its key
            // down until pressed again.
            if (hr == DI_BUFFEROVERFLOW)
                engineLog().warning("Input device [%s] buffer overflow: items lost", instanceName);
            if (hr == DI_OK || hr == DI_BUFFEROVERFLOW) {
                for (DWORD i = 0; i < count; ++i) {
                    const DIDEVICEOBJECTDATA& item = items[i];
                    const std::int32_t id = buttonIdFromOffset(kind, item.dwOfs);
                    if (id == kInputButtonNone) continue;
                    if (id <= 4) {
                        float value = static_cast<float>(static_cast<std::int32_t>(item.dwData));
                        if (std::fabs(value) > kAxisLimit) value = 0.0f;
                        if (id == 0 || id == 2) {
                            core.virtualDevices.motion.addMotion(value, 0.0f);
                            core.virtualDevices.pointer.move(value, 0.0f);
                        } else if (id == 1 || id == 3) {
                            core.virtualDevices.motion.addMotion(0.0f, value);
                            core.virtualDevices.pointer.move(0.0f, value);
                        } else {
                            core.virtualDevices.virtualButton.onWheel(value);
                            core.virtualDevices.motion.addWheel(value);
                        }
                        continue;
                    }
                    events.push_back({id, (item.dwData & kButtonDown) != 0, item.dwTimeStamp});
                }
            }
        }
    }
    if (locked) events.clear();
}

void InputDevice::release() {
    if (resourceLog()) engineLog().info("Release device [%s]", instanceName);
    events = {};
    axes = {};
    buttons = {};
    if (device) {
        device->Unacquire();
        device->Release();
        device = nullptr;
    }
    acquired = false;
}

InputDeviceSet::InputDeviceSet() { initActionFormats(); }

void InputDeviceSet::initActionFormats() {
    const InputDeviceButtonTable tables[3] = {mouseButtonTable(), joystickButtonTable(), keyboardButtonTable()};
    for (int i = 0; i < 3; ++i) {
        DIACTIONFORMATA& f = actionFormats[i];
        f = DIACTIONFORMATA{};
        f.dwSize = 328;
        f.dwActionSize = 40;
        f.dwNumActions = static_cast<DWORD>(tables[i].count);
        f.dwDataSize = 4 * f.dwNumActions;
        f.rgoAction = tables[i].rows;
        f.guidActionMap = kActionMapGuid;
        f.dwGenre = DIVIRTUAL_ARCADE_PLATFORM;
        f.dwBufferSize = kReadItems;
    }
}

BOOL InputDeviceSet::onEnumDevice(const DIDEVICEINSTANCEA* instance, void* ref) {
    if (!ref || !instance) return DIENUM_CONTINUE;
    InputDeviceSet& set = *static_cast<InputDeviceSet*>(ref);
    InputDevice& device = set.devices.emplace_back();
    device.instance = instance->guidInstance;
    device.product = instance->guidProduct;
    device.type = instance->dwDevType;
    if (const HRESULT hr = set.directInput->CreateDevice(instance->guidInstance, &device.device, nullptr);
        hr != DI_OK) {
        engineLog().error("Can't create device [%s]. Reason: [%s]", instance->tszInstanceName,
                          directInputErrorText(hr));
        device.device = nullptr;
    }
    copyName(device.instanceName, instance->tszInstanceName);
    copyName(device.productName, instance->tszProductName);
    device.kindFromType();
    // A device that fails its set-up has released its interface already.
    if (!device.setup(set.window_)) set.devices.pop_back();
    return DIENUM_CONTINUE;
}

bool InputDeviceSet::create(void* window) {
    Log& log = engineLog();
    releaseAll();
    window_ = window;
    void* object = nullptr;
    if (const HRESULT hr = DirectInput8Create(nullptr, DIRECTINPUT_VERSION, IID_IDirectInput8A, &object, nullptr);
        hr != DI_OK) {
        return log.error("Cannot initialize DirectInput8. Reason: [%s]", directInputErrorText(hr));
    }
    directInput = static_cast<IDirectInput8A*>(object);
    // The callback is given the set itself as its reference.
    directInput->EnumDevices(DI8DEVCLASS_ALL, &InputDeviceSet::onEnumDevice, this, DIEDFL_ATTACHEDONLY);
    if (devices.empty()) return log.error("No supported input devices found.");
    log.info("Found input devices:");
    for (std::size_t i = 0; i < devices.size(); ++i)
        log.info("%i: [%s]", static_cast<int>(i), devices[i].instanceName);
    return true;
}

void InputDeviceSet::releaseAll() {
    for (InputDevice& device : devices) device.release();
    devices = {};
    if (directInput) {
        directInput->Release();
        directInput = nullptr;
    }
}

void InputDeviceSet::pollAll(InputCore& core, const CurrentTime& time) {
    for (InputDevice& device : devices) device.poll(core, time, false);
}
