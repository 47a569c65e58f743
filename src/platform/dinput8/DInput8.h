// A small DirectInput 8 substitute: the object that enumerates and creates
// devices, and devices read through the predefined mouse, keyboard and
// joystick data formats with buffered data. Only the calls the input core
// makes are here; they are plain virtual interfaces, not COM. The device
// types, key codes, data offsets and result codes keep their published
// values, so the input core's tables hold the same numbers as ever.
//
// Devices and their data come from a backend: a scripted one for tests
// (device lists, timed items, injected failures, focus changes) and one over
// SDL2 for play (see SdlInput.h). Main thread only.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace platform::dinput8 {

using HRESULT = std::int32_t;
using DWORD = std::uint32_t;
using BOOL = std::int32_t;

constexpr HRESULT hresult(std::uint32_t code) { return static_cast<HRESULT>(code); }

// Result codes.
constexpr HRESULT DI_OK = 0;
constexpr HRESULT DI_NOEFFECT = 1;
constexpr HRESULT DI_BUFFEROVERFLOW = 1;  // the same value as DI_NOEFFECT
constexpr HRESULT DI_SETTINGSNOTSAVED = 0x0B;
constexpr HRESULT DI_WRITEPROTECT = 0x13;
constexpr HRESULT E_NOINTERFACE = hresult(0x80004002);
constexpr HRESULT E_POINTER = hresult(0x80004003);
constexpr HRESULT E_FAIL = hresult(0x80004005);
constexpr HRESULT DIERR_DEVICENOTREG = hresult(0x80040154);
constexpr HRESULT DIERR_NOTBUFFERED = hresult(0x80040207);
constexpr HRESULT DIERR_OTHERAPPHASPRIO = hresult(0x80070005);
constexpr HRESULT DIERR_OUTOFMEMORY = hresult(0x8007000E);
constexpr HRESULT DIERR_NOTINITIALIZED = hresult(0x80070015);
constexpr HRESULT DIERR_INPUTLOST = hresult(0x8007001E);
constexpr HRESULT DIERR_INVALIDPARAM = hresult(0x80070057);
constexpr HRESULT DIERR_ACQUIRED = hresult(0x800700AA);
constexpr HRESULT DIERR_NOTACQUIRED = hresult(0x8007000C);
constexpr HRESULT DIERR_OLDDIRECTINPUTVERSION = hresult(0x8007047E);
constexpr HRESULT DIERR_BETADIRECTINPUTVERSION = hresult(0x80070481);
constexpr bool SUCCEEDED(HRESULT hr) { return hr >= 0; }
constexpr bool FAILED(HRESULT hr) { return hr < 0; }

constexpr DWORD DIRECTINPUT_VERSION = 0x0800;

// Device types (the low byte of dwDevType).
constexpr DWORD DI8DEVTYPE_MOUSE = 0x12;
constexpr DWORD DI8DEVTYPE_KEYBOARD = 0x13;
constexpr DWORD DI8DEVTYPE_JOYSTICK = 0x14;
constexpr DWORD DI8DEVTYPE_GAMEPAD = 0x15;
constexpr DWORD DI8DEVTYPE_DRIVING = 0x16;
constexpr DWORD DI8DEVCLASS_ALL = 0;
constexpr DWORD DIEDFL_ATTACHEDONLY = 1;

constexpr BOOL DIENUM_STOP = 0;
constexpr BOOL DIENUM_CONTINUE = 1;

constexpr DWORD DIDFT_ALL = 0;

constexpr DWORD DISCL_EXCLUSIVE = 1;
constexpr DWORD DISCL_NONEXCLUSIVE = 2;
constexpr DWORD DISCL_FOREGROUND = 4;
constexpr DWORD DISCL_BACKGROUND = 8;

constexpr DWORD DIDF_ABSAXIS = 1;
constexpr DWORD DIDF_RELAXIS = 2;

constexpr DWORD DIPH_DEVICE = 0;
// The property ids are small integers passed where a GUID pointer goes.
constexpr DWORD DIPROP_BUFFERSIZE = 1;

// Data offsets of the predefined formats.
constexpr DWORD DIMOFS_X = 0;
constexpr DWORD DIMOFS_Y = 4;
constexpr DWORD DIMOFS_Z = 8;
constexpr DWORD DIMOFS_BUTTON0 = 12;  // buttons 0 to 3 at 12 to 15
constexpr DWORD DIJOFS_X = 0;
constexpr DWORD DIJOFS_Y = 4;
constexpr DWORD DIJOFS_Z = 8;
constexpr DWORD DIJOFS_SLIDER0 = 24;
constexpr DWORD DIJOFS_POV0 = 32;
constexpr DWORD DIJOFS_BUTTON0 = 48;  // buttons 0 to 31 at 48 to 79

// Key codes (DIK), the data offsets of the keyboard format.
constexpr DWORD DIK_0 = 11;
constexpr DWORD DIK_1 = 2;
constexpr DWORD DIK_2 = 3;
constexpr DWORD DIK_3 = 4;
constexpr DWORD DIK_4 = 5;
constexpr DWORD DIK_5 = 6;
constexpr DWORD DIK_6 = 7;
constexpr DWORD DIK_7 = 8;
constexpr DWORD DIK_8 = 9;
constexpr DWORD DIK_9 = 10;
constexpr DWORD DIK_A = 30;
constexpr DWORD DIK_B = 48;
constexpr DWORD DIK_C = 46;
constexpr DWORD DIK_D = 32;
constexpr DWORD DIK_E = 18;
constexpr DWORD DIK_F = 33;
constexpr DWORD DIK_G = 34;
constexpr DWORD DIK_H = 35;
constexpr DWORD DIK_I = 23;
constexpr DWORD DIK_J = 36;
constexpr DWORD DIK_K = 37;
constexpr DWORD DIK_L = 38;
constexpr DWORD DIK_M = 50;
constexpr DWORD DIK_N = 49;
constexpr DWORD DIK_O = 24;
constexpr DWORD DIK_P = 25;
constexpr DWORD DIK_Q = 16;
constexpr DWORD DIK_R = 19;
constexpr DWORD DIK_S = 31;
constexpr DWORD DIK_T = 20;
constexpr DWORD DIK_U = 22;
constexpr DWORD DIK_V = 47;
constexpr DWORD DIK_W = 17;
constexpr DWORD DIK_X = 45;
constexpr DWORD DIK_Y = 21;
constexpr DWORD DIK_Z = 44;
constexpr DWORD DIK_NUMLOCK = 69;
constexpr DWORD DIK_DIVIDE = 181;
constexpr DWORD DIK_MULTIPLY = 55;
constexpr DWORD DIK_SUBTRACT = 74;
constexpr DWORD DIK_ADD = 78;
constexpr DWORD DIK_NUMPADENTER = 156;
constexpr DWORD DIK_DECIMAL = 83;
constexpr DWORD DIK_NUMPAD0 = 82;
constexpr DWORD DIK_NUMPAD1 = 79;
constexpr DWORD DIK_NUMPAD2 = 80;
constexpr DWORD DIK_NUMPAD3 = 81;
constexpr DWORD DIK_NUMPAD4 = 75;
constexpr DWORD DIK_NUMPAD5 = 76;
constexpr DWORD DIK_NUMPAD6 = 77;
constexpr DWORD DIK_NUMPAD7 = 71;
constexpr DWORD DIK_NUMPAD8 = 72;
constexpr DWORD DIK_NUMPAD9 = 73;
constexpr DWORD DIK_ESCAPE = 1;
constexpr DWORD DIK_F1 = 59;
constexpr DWORD DIK_F2 = 60;
constexpr DWORD DIK_F3 = 61;
constexpr DWORD DIK_F4 = 62;
constexpr DWORD DIK_F5 = 63;
constexpr DWORD DIK_F6 = 64;
constexpr DWORD DIK_F7 = 65;
constexpr DWORD DIK_F8 = 66;
constexpr DWORD DIK_F9 = 67;
constexpr DWORD DIK_F10 = 68;
constexpr DWORD DIK_F11 = 87;
constexpr DWORD DIK_F12 = 88;
constexpr DWORD DIK_SCROLL = 70;
constexpr DWORD DIK_PAUSE = 197;
constexpr DWORD DIK_RIGHT = 205;
constexpr DWORD DIK_LEFT = 203;
constexpr DWORD DIK_UP = 200;
constexpr DWORD DIK_DOWN = 208;
constexpr DWORD DIK_INSERT = 210;
constexpr DWORD DIK_DELETE = 211;
constexpr DWORD DIK_HOME = 199;
constexpr DWORD DIK_END = 207;
constexpr DWORD DIK_PRIOR = 201;
constexpr DWORD DIK_NEXT = 209;
constexpr DWORD DIK_GRAVE = 41;
constexpr DWORD DIK_TAB = 15;
constexpr DWORD DIK_CAPITAL = 58;
constexpr DWORD DIK_SPACE = 57;
constexpr DWORD DIK_RETURN = 28;
constexpr DWORD DIK_BACK = 14;
constexpr DWORD DIK_LCONTROL = 29;
constexpr DWORD DIK_LMENU = 56;
constexpr DWORD DIK_LSHIFT = 42;
constexpr DWORD DIK_LWIN = 219;
constexpr DWORD DIK_RCONTROL = 157;
constexpr DWORD DIK_RMENU = 184;
constexpr DWORD DIK_RSHIFT = 54;
constexpr DWORD DIK_RWIN = 220;
constexpr DWORD DIK_MINUS = 12;
constexpr DWORD DIK_EQUALS = 13;
constexpr DWORD DIK_LBRACKET = 26;
constexpr DWORD DIK_RBRACKET = 27;
constexpr DWORD DIK_SEMICOLON = 39;
constexpr DWORD DIK_APOSTROPHE = 40;
constexpr DWORD DIK_BACKSLASH = 43;
constexpr DWORD DIK_COMMA = 51;
constexpr DWORD DIK_PERIOD = 52;
constexpr DWORD DIK_SLASH = 53;

// Item data: bit 7 set means the button is down.
constexpr DWORD kButtonDown = 0x80;

struct GUID {
    std::uint32_t Data1 = 0;
    std::uint16_t Data2 = 0;
    std::uint16_t Data3 = 0;
    std::uint8_t Data4[8] = {};
    friend bool operator==(const GUID&, const GUID&) = default;
};
static_assert(sizeof(GUID) == 16);

// Object type GUIDs.
extern const GUID GUID_XAxis, GUID_YAxis, GUID_ZAxis, GUID_RxAxis, GUID_RyAxis, GUID_RzAxis, GUID_Slider,
    GUID_Button, GUID_Key, GUID_POV;
extern const GUID IID_IDirectInput8A;

struct DIDEVICEINSTANCEA {
    DWORD dwSize = sizeof(DIDEVICEINSTANCEA);
    GUID guidInstance;
    GUID guidProduct;
    DWORD dwDevType = 0;
    char tszInstanceName[260] = {};
    char tszProductName[260] = {};
    GUID guidFFDriver;
    std::uint16_t wUsagePage = 0;
    std::uint16_t wUsage = 0;
};

struct DIDEVICEOBJECTINSTANCEA {
    DWORD dwSize = sizeof(DIDEVICEOBJECTINSTANCEA);
    GUID guidType;
    DWORD dwOfs = 0;
    DWORD dwType = 0;
    DWORD dwFlags = 0;
    char tszName[260] = {};
    DWORD dwFFMaxForce = 0;
    DWORD dwFFForceResolution = 0;
    std::uint16_t wCollectionNumber = 0;
    std::uint16_t wDesignatorIndex = 0;
    std::uint16_t wUsagePage = 0;
    std::uint16_t wUsage = 0;
    DWORD dwDimension = 0;
    std::uint16_t wExponent = 0;
    std::uint16_t wReportId = 0;
};
static_assert(sizeof(DIDEVICEOBJECTINSTANCEA) == 316);

struct DIDEVCAPS {
    DWORD dwSize = sizeof(DIDEVCAPS);
    DWORD dwFlags = 0;
    DWORD dwDevType = 0;
    DWORD dwAxes = 0;
    DWORD dwButtons = 0;
    DWORD dwPOVs = 0;
    DWORD dwFFSamplePeriod = 0;
    DWORD dwFFMinTimeResolution = 0;
    DWORD dwFirmwareRevision = 0;
    DWORD dwHardwareRevision = 0;
    DWORD dwFFDriverVersion = 0;
};
static_assert(sizeof(DIDEVCAPS) == 44);

// One buffered item. The application-data word is 32 bits, as on the
// platform the stored layout comes from, so an item is 20 bytes.
struct DIDEVICEOBJECTDATA {
    DWORD dwOfs = 0;
    DWORD dwData = 0;
    DWORD dwTimeStamp = 0;  // milliseconds
    DWORD dwSequence = 0;
    DWORD uAppData = 0;
};
static_assert(sizeof(DIDEVICEOBJECTDATA) == 20);

struct DIPROPHEADER {
    DWORD dwSize = 0;
    DWORD dwHeaderSize = 0;
    DWORD dwObj = 0;
    DWORD dwHow = 0;
};
struct DIPROPDWORD {
    DIPROPHEADER diph;
    DWORD dwData = 0;
};
static_assert(sizeof(DIPROPDWORD) == 20);

// A data format; only the predefined ones below are accepted.
struct DIDATAFORMAT {
    DWORD dwSize = 24;
    DWORD dwObjSize = 16;
    DWORD dwFlags = 0;
    DWORD dwDataSize = 0;
    DWORD dwNumObjs = 0;
};
extern const DIDATAFORMAT c_dfDIMouse;     // relative axes, 7 objects, 16 bytes
extern const DIDATAFORMAT c_dfDIKeyboard;  // 256 keys, 256 bytes
extern const DIDATAFORMAT c_dfDIJoystick;  // absolute axes, 44 objects, 80 bytes

// Action mapping records. The input core fills them as descriptors of its
// button tables but hands them to no call. (40 and 328 bytes where pointers
// are 32 bits wide.)
constexpr DWORD DIA_APPFIXED = 0x10;
constexpr DWORD DIVIRTUAL_ARCADE_PLATFORM = 0x21000000;

struct DIACTIONA {
    std::uint32_t uAppData = 0;
    DWORD dwSemantic = 0;
    DWORD dwFlags = 0;
    const char* lptszActionName = nullptr;
    GUID guidInstance;
    DWORD dwObjID = 0;
    DWORD dwHow = 0;
};

struct DIACTIONFORMATA {
    DWORD dwSize = 0;
    DWORD dwActionSize = 0;
    DWORD dwDataSize = 0;
    DWORD dwNumActions = 0;
    const DIACTIONA* rgoAction = nullptr;
    GUID guidActionMap;
    DWORD dwGenre = 0;
    DWORD dwBufferSize = 0;
    std::int32_t lAxisMin = 0;
    std::int32_t lAxisMax = 0;
    void* hInstString = nullptr;
    std::uint32_t ftTimeStamp[2] = {};
    DWORD dwCRC = 0;
    char tszActionMap[260] = {};
};

using LPDIENUMDEVICESCALLBACKA = BOOL (*)(const DIDEVICEINSTANCEA* instance, void* ref);
using LPDIENUMDEVICEOBJECTSCALLBACKA = BOOL (*)(const DIDEVICEOBJECTINSTANCEA* object, void* ref);

class IDirectInputDevice8A {
public:
    virtual HRESULT GetCapabilities(DIDEVCAPS* caps) = 0;
    virtual HRESULT EnumObjects(LPDIENUMDEVICEOBJECTSCALLBACKA callback, void* ref, DWORD flags) = 0;
    virtual HRESULT SetCooperativeLevel(void* window, DWORD flags) = 0;
    virtual HRESULT SetDataFormat(const DIDATAFORMAT* format) = 0;
    virtual HRESULT SetProperty(DWORD property, const DIPROPHEADER* header) = 0;
    virtual HRESULT Acquire() = 0;
    virtual HRESULT Unacquire() = 0;
    virtual HRESULT Poll() = 0;
    // Takes up to *count items (each itemSize bytes, 20) in arrival order and
    // writes how many it took to *count. DI_BUFFEROVERFLOW: items were lost
    // since the last read; the items taken are valid all the same.
    virtual HRESULT GetDeviceData(DWORD itemSize, DIDEVICEOBJECTDATA* items, DWORD* count, DWORD flags) = 0;
    // Ends the interface (one reference each); 0.
    virtual std::uint32_t Release() = 0;

protected:
    virtual ~IDirectInputDevice8A() = default;
};

class IDirectInput8A {
public:
    virtual HRESULT EnumDevices(DWORD devClass, LPDIENUMDEVICESCALLBACKA callback, void* ref, DWORD flags) = 0;
    virtual HRESULT CreateDevice(const GUID& instance, IDirectInputDevice8A** device, void* outer) = 0;
    virtual std::uint32_t Release() = 0;

protected:
    virtual ~IDirectInput8A() = default;
};

// Creates the DirectInput object; version must be DIRECTINPUT_VERSION and
// the interface id IID_IDirectInput8A.
HRESULT DirectInput8Create(void* instance, DWORD version, const GUID& iid, void** out, void* outer);

// ---- The layer's own part: backends, environment, focus ----

// The calls a backend can fail on purpose.
enum class Call {
    Create,
    EnumDevices,
    CreateDevice,
    GetCapabilities,
    EnumObjects,
    SetCooperativeLevel,
    SetDataFormat,
    SetProperty,
    Acquire,
    Poll,
    GetDeviceData,
};

// One object of a device, as EnumObjects reports it.
struct ObjectDescription {
    GUID type;
    DWORD offset = 0;
    std::string name;
};

// One attached device.
struct DeviceDescription {
    GUID instance;
    GUID product;
    DWORD type = 0;  // dwDevType
    std::string instanceName;
    std::string productName;
    std::vector<ObjectDescription> objects;
};

// The source of devices and their data.
class Backend {
public:
    virtual ~Backend() = default;
    // The devices attached now.
    virtual std::vector<DeviceDescription> attachedDevices() = 0;
    // An injected result for a call on a device (null for the object's own
    // calls); DI_OK lets the call run.
    virtual HRESULT fault(Call, const DeviceDescription*) { return DI_OK; }
    // Files the items due by now with post (called before every read).
    virtual void pump(DWORD /*nowMs*/) {}
    // A device interface of this instance was acquired (true) or left
    // acquisition (false), with its cooperative flags.
    virtual void acquisitionChanged(const DeviceDescription&, DWORD /*cooperativeFlags*/, bool /*acquired*/) {}
    // The application's cursor follows the system's pointer or not (see
    // setCursorFollowsPointer).
    virtual void cursorFollowsPointer(bool /*follows*/) {}
    // A device interface opened or closed.
    virtual void deviceOpened(const DeviceDescription&) {}
    virtual void deviceClosed(const DeviceDescription&) {}
};

// Receives a line for every leaked device.
using MessageSink = std::function<void(const char* line)>;

struct Environment {
    std::shared_ptr<Backend> backend;       // null: no devices at all
    std::function<DWORD()> clock;           // milliseconds; null: the process clock
    std::function<void(DWORD ms)> sleeper;  // null: the thread sleeps
    MessageSink sink;                       // null: lines are dropped
};

void setEnvironment(Environment environment);
const Environment& environment();

// The environment's clock and sleeper.
DWORD nowMs();
void sleepMs(DWORD ms);

// Files one item of a device instance in every open interface of it.
// button: the item is a button or key (a release keeps through focus loss).
// The time stamp and the sequence number are filled here.
void post(const GUID& instance, DWORD offset, DWORD data, bool button);
// The application's window gained or lost the input focus: foreground
// devices are lost until focus returns and they are acquired again.
void setFocus(bool focused);
bool hasFocus();
// The application's cursor is a pointer on the screen that follows the
// system's pointer (true), or the mouse's motion turns a view (false, the
// start). A backend over the system's mouse holds the exclusive mouse (the
// system pointer hidden and kept in the window, its motion reported as
// relative axes) only in the second case; in the first the pointer may
// leave the window, and its travel reaches the application as the
// pointer's positions over its window instead of motion items.
void setCursorFollowsPointer(bool follows);

// The instance names of device interfaces not released yet.
std::vector<std::string> liveDevices();

}  // namespace platform::dinput8
