#include "platform/dinput8/SdlInput.h"

#include <SDL.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <string>

namespace platform::dinput8 {

namespace {

struct ScancodeKey {
    SDL_Scancode scancode;
    DWORD dik;
};

// The keys of the game's keyboard table.
constexpr ScancodeKey kKeys[] = {
    {SDL_SCANCODE_0, DIK_0},
    {SDL_SCANCODE_1, DIK_1},
    {SDL_SCANCODE_2, DIK_2},
    {SDL_SCANCODE_3, DIK_3},
    {SDL_SCANCODE_4, DIK_4},
    {SDL_SCANCODE_5, DIK_5},
    {SDL_SCANCODE_6, DIK_6},
    {SDL_SCANCODE_7, DIK_7},
    {SDL_SCANCODE_8, DIK_8},
    {SDL_SCANCODE_9, DIK_9},
    {SDL_SCANCODE_A, DIK_A},
    {SDL_SCANCODE_B, DIK_B},
    {SDL_SCANCODE_C, DIK_C},
    {SDL_SCANCODE_D, DIK_D},
    {SDL_SCANCODE_E, DIK_E},
    {SDL_SCANCODE_F, DIK_F},
    {SDL_SCANCODE_G, DIK_G},
    {SDL_SCANCODE_H, DIK_H},
    {SDL_SCANCODE_I, DIK_I},
    {SDL_SCANCODE_J, DIK_J},
    {SDL_SCANCODE_K, DIK_K},
    {SDL_SCANCODE_L, DIK_L},
    {SDL_SCANCODE_M, DIK_M},
    {SDL_SCANCODE_N, DIK_N},
    {SDL_SCANCODE_O, DIK_O},
    {SDL_SCANCODE_P, DIK_P},
    {SDL_SCANCODE_Q, DIK_Q},
    {SDL_SCANCODE_R, DIK_R},
    {SDL_SCANCODE_S, DIK_S},
    {SDL_SCANCODE_T, DIK_T},
    {SDL_SCANCODE_U, DIK_U},
    {SDL_SCANCODE_V, DIK_V},
    {SDL_SCANCODE_W, DIK_W},
    {SDL_SCANCODE_X, DIK_X},
    {SDL_SCANCODE_Y, DIK_Y},
    {SDL_SCANCODE_Z, DIK_Z},
    {SDL_SCANCODE_NUMLOCKCLEAR, DIK_NUMLOCK},
    {SDL_SCANCODE_KP_DIVIDE, DIK_DIVIDE},
    {SDL_SCANCODE_KP_MULTIPLY, DIK_MULTIPLY},
    {SDL_SCANCODE_KP_MINUS, DIK_SUBTRACT},
    {SDL_SCANCODE_KP_PLUS, DIK_ADD},
    {SDL_SCANCODE_KP_ENTER, DIK_NUMPADENTER},
    {SDL_SCANCODE_KP_PERIOD, DIK_DECIMAL},
    {SDL_SCANCODE_KP_0, DIK_NUMPAD0},
    {SDL_SCANCODE_KP_1, DIK_NUMPAD1},
    {SDL_SCANCODE_KP_2, DIK_NUMPAD2},
    {SDL_SCANCODE_KP_3, DIK_NUMPAD3},
    {SDL_SCANCODE_KP_4, DIK_NUMPAD4},
    {SDL_SCANCODE_KP_5, DIK_NUMPAD5},
    {SDL_SCANCODE_KP_6, DIK_NUMPAD6},
    {SDL_SCANCODE_KP_7, DIK_NUMPAD7},
    {SDL_SCANCODE_KP_8, DIK_NUMPAD8},
    {SDL_SCANCODE_KP_9, DIK_NUMPAD9},
    {SDL_SCANCODE_ESCAPE, DIK_ESCAPE},
    {SDL_SCANCODE_F1, DIK_F1},
    {SDL_SCANCODE_F2, DIK_F2},
    {SDL_SCANCODE_F3, DIK_F3},
    {SDL_SCANCODE_F4, DIK_F4},
    {SDL_SCANCODE_F5, DIK_F5},
    {SDL_SCANCODE_F6, DIK_F6},
    {SDL_SCANCODE_F7, DIK_F7},
    {SDL_SCANCODE_F8, DIK_F8},
    {SDL_SCANCODE_F9, DIK_F9},
    {SDL_SCANCODE_F10, DIK_F10},
    {SDL_SCANCODE_F11, DIK_F11},
    {SDL_SCANCODE_F12, DIK_F12},
    {SDL_SCANCODE_SCROLLLOCK, DIK_SCROLL},
    {SDL_SCANCODE_PAUSE, DIK_PAUSE},
    {SDL_SCANCODE_RIGHT, DIK_RIGHT},
    {SDL_SCANCODE_LEFT, DIK_LEFT},
    {SDL_SCANCODE_UP, DIK_UP},
    {SDL_SCANCODE_DOWN, DIK_DOWN},
    {SDL_SCANCODE_INSERT, DIK_INSERT},
    {SDL_SCANCODE_DELETE, DIK_DELETE},
    {SDL_SCANCODE_HOME, DIK_HOME},
    {SDL_SCANCODE_END, DIK_END},
    {SDL_SCANCODE_PAGEUP, DIK_PRIOR},
    {SDL_SCANCODE_PAGEDOWN, DIK_NEXT},
    {SDL_SCANCODE_GRAVE, DIK_GRAVE},
    {SDL_SCANCODE_TAB, DIK_TAB},
    {SDL_SCANCODE_CAPSLOCK, DIK_CAPITAL},
    {SDL_SCANCODE_SPACE, DIK_SPACE},
    {SDL_SCANCODE_RETURN, DIK_RETURN},
    {SDL_SCANCODE_BACKSPACE, DIK_BACK},
    {SDL_SCANCODE_LCTRL, DIK_LCONTROL},
    {SDL_SCANCODE_LALT, DIK_LMENU},
    {SDL_SCANCODE_LSHIFT, DIK_LSHIFT},
    {SDL_SCANCODE_LGUI, DIK_LWIN},
    {SDL_SCANCODE_RCTRL, DIK_RCONTROL},
    {SDL_SCANCODE_RALT, DIK_RMENU},
    {SDL_SCANCODE_RSHIFT, DIK_RSHIFT},
    {SDL_SCANCODE_RGUI, DIK_RWIN},
    {SDL_SCANCODE_MINUS, DIK_MINUS},
    {SDL_SCANCODE_EQUALS, DIK_EQUALS},
    {SDL_SCANCODE_LEFTBRACKET, DIK_LBRACKET},
    {SDL_SCANCODE_RIGHTBRACKET, DIK_RBRACKET},
    {SDL_SCANCODE_SEMICOLON, DIK_SEMICOLON},
    {SDL_SCANCODE_APOSTROPHE, DIK_APOSTROPHE},
    {SDL_SCANCODE_BACKSLASH, DIK_BACKSLASH},
    {SDL_SCANCODE_COMMA, DIK_COMMA},
    {SDL_SCANCODE_PERIOD, DIK_PERIOD},
    {SDL_SCANCODE_SLASH, DIK_SLASH},};
static_assert(sizeof(kKeys) / sizeof(kKeys[0]) == 102);

constexpr GUID kKeyboardGuid = {0x6F1D2B61, 0xD5A0, 0x11CF, {0xBF, 0xC7, 0x44, 0x45, 0x53, 0x54, 0x00, 0x00}};
constexpr GUID kMouseGuid = {0x6F1D2B60, 0xD5A0, 0x11CF, {0xBF, 0xC7, 0x44, 0x45, 0x53, 0x54, 0x00, 0x00}};
constexpr std::uint32_t kJoystickBase = 0x4A000000;

// Where a wheel notch moves the mouse's wheel axis.
constexpr std::int32_t kWheelNotch = 120;
constexpr int kJoystickButtons = 32;

GUID joystickGuid(SDL_JoystickID id) {
    return GUID{kJoystickBase + static_cast<std::uint32_t>(id), 0, 0, {'S', 'D', 'L', 'J', 0, 0, 0, 0}};
}

class SdlInput;
SdlInput* g_installed = nullptr;

class SdlInput final : public Backend {
public:
    SdlInput() {
        // Focus is the layer's business (foreground devices are lost while
        // the window is away); SDL would hold back joystick input whenever
        // it sees no focused window, as under the offscreen driver.
        SDL_SetHint(SDL_HINT_JOYSTICK_ALLOW_BACKGROUND_EVENTS, "1");
        joysticks_ = SDL_InitSubSystem(SDL_INIT_JOYSTICK) == 0;
        g_installed = this;
    }
    ~SdlInput() override {
        if (g_installed == this) g_installed = nullptr;
        for (auto& [id, joystick] : open_) SDL_JoystickClose(joystick);
        mouseAcquired_ = false;
        holdMouse();
        if (joysticks_) SDL_QuitSubSystem(SDL_INIT_JOYSTICK);
    }

    std::vector<DeviceDescription> attachedDevices() override {
        std::vector<DeviceDescription> list;
        DeviceDescription keyboard;
        keyboard.instance = keyboard.product = kKeyboardGuid;
        keyboard.type = DI8DEVTYPE_KEYBOARD;
        keyboard.instanceName = keyboard.productName = "Keyboard";
        for (const ScancodeKey& key : kKeys)
            keyboard.objects.push_back({GUID_Key, key.dik, SDL_GetScancodeName(key.scancode)});
        list.push_back(std::move(keyboard));

        DeviceDescription mouse;
        mouse.instance = mouse.product = kMouseGuid;
        mouse.type = DI8DEVTYPE_MOUSE;
        mouse.instanceName = mouse.productName = "Mouse";
        mouse.objects = {{GUID_XAxis, DIMOFS_X, "X-axis"}, {GUID_YAxis, DIMOFS_Y, "Y-axis"}, {GUID_ZAxis, DIMOFS_Z, "Wheel"}};
        for (DWORD n = 0; n < 4; ++n) mouse.objects.push_back({GUID_Button, DIMOFS_BUTTON0 + n, "Button " + std::to_string(n)});
        list.push_back(std::move(mouse));

        if (!joysticks_) return list;
        SDL_JoystickUpdate();
        for (int index = 0; index < SDL_NumJoysticks(); ++index) {
            DeviceDescription joystick;
            joystick.instance = joystickGuid(SDL_JoystickGetDeviceInstanceID(index));
            const SDL_JoystickGUID product = SDL_JoystickGetDeviceGUID(index);
            static_assert(sizeof(product.data) == sizeof(GUID));
            std::memcpy(&joystick.product, product.data, sizeof(GUID));
            joystick.type = DI8DEVTYPE_JOYSTICK;
            const char* name = SDL_JoystickNameForIndex(index);
            joystick.instanceName = joystick.productName = name ? name : "Joystick";
            // Counts are known once the joystick is open.
            if (SDL_Joystick* probe = SDL_JoystickOpen(index)) {
                const int axes = SDL_JoystickNumAxes(probe), hats = SDL_JoystickNumHats(probe);
                const int buttons = std::min(SDL_JoystickNumButtons(probe), kJoystickButtons);
                if (axes > 0) joystick.objects.push_back({GUID_XAxis, DIJOFS_X, "X-axis"});
                if (axes > 1) joystick.objects.push_back({GUID_YAxis, DIJOFS_Y, "Y-axis"});
                if (axes > 2) joystick.objects.push_back({GUID_Slider, DIJOFS_SLIDER0, "Slider"});
                for (int h = 0; h < std::min(hats, 4); ++h)
                    joystick.objects.push_back({GUID_POV, DIJOFS_POV0 + 4 * static_cast<DWORD>(h), "Hat"});
                for (int b = 0; b < buttons; ++b)
                    joystick.objects.push_back(
                        {GUID_Button, DIJOFS_BUTTON0 + static_cast<DWORD>(b), "Button " + std::to_string(b)});
                SDL_JoystickClose(probe);
            }
            list.push_back(std::move(joystick));
        }
        return list;
    }

    void deviceOpened(const DeviceDescription& device) override {
        if ((device.type & 0xFF) != DI8DEVTYPE_JOYSTICK || !joysticks_) return;
        const SDL_JoystickID id = static_cast<SDL_JoystickID>(device.instance.Data1 - kJoystickBase);
        for (int index = 0; index < SDL_NumJoysticks(); ++index) {
            if (SDL_JoystickGetDeviceInstanceID(index) != id) continue;
            if (SDL_Joystick* joystick = SDL_JoystickOpen(index)) {
                if (SDL_Joystick* before = open_[id]) SDL_JoystickClose(before);
                open_[id] = joystick;
            }
            return;
        }
    }

    void deviceClosed(const DeviceDescription& device) override {
        if ((device.type & 0xFF) != DI8DEVTYPE_JOYSTICK) return;
        const auto it = open_.find(static_cast<SDL_JoystickID>(device.instance.Data1 - kJoystickBase));
        if (it == open_.end()) return;
        SDL_JoystickClose(it->second);
        open_.erase(it);
    }

    void acquisitionChanged(const DeviceDescription& device, DWORD cooperative, bool acquired) override {
        if ((device.type & 0xFF) != DI8DEVTYPE_MOUSE || !(cooperative & DISCL_EXCLUSIVE)) return;
        mouseAcquired_ = acquired;
        holdMouse();
    }

    void cursorFollowsPointer(bool follows) override {
        follows_ = follows;
        holdMouse();
    }

    void handle(const SDL_Event& event) {
        switch (event.type) {
        case SDL_KEYDOWN:
        case SDL_KEYUP: {
            // Buffered data reports transitions only.
            if (event.key.repeat) return;
            const DWORD dik = dikFromScancode(event.key.keysym.scancode);
            if (dik) post(kKeyboardGuid, dik, event.type == SDL_KEYDOWN ? kButtonDown : 0, true);
            return;
        }
        case SDL_MOUSEMOTION:
            // A cursor that follows the system's pointer takes its positions
            // from the window: the pointer's travel is no motion of the mouse.
            if (follows_) return;
            if (event.motion.xrel) post(kMouseGuid, DIMOFS_X, static_cast<DWORD>(event.motion.xrel), false);
            if (event.motion.yrel) post(kMouseGuid, DIMOFS_Y, static_cast<DWORD>(event.motion.yrel), false);
            return;
        case SDL_MOUSEWHEEL: {
            std::int32_t notches = event.wheel.y;
            if (event.wheel.direction == SDL_MOUSEWHEEL_FLIPPED) notches = -notches;
            if (notches) post(kMouseGuid, DIMOFS_Z, static_cast<DWORD>(notches * kWheelNotch), false);
            return;
        }
        case SDL_MOUSEBUTTONDOWN:
        case SDL_MOUSEBUTTONUP: {
            DWORD button = 0;
            switch (event.button.button) {
            case SDL_BUTTON_LEFT: button = 0; break;
            case SDL_BUTTON_RIGHT: button = 1; break;
            case SDL_BUTTON_MIDDLE: button = 2; break;
            case SDL_BUTTON_X1: button = 3; break;
            default: return;
            }
            post(kMouseGuid, DIMOFS_BUTTON0 + button, event.type == SDL_MOUSEBUTTONDOWN ? kButtonDown : 0, true);
            return;
        }
        case SDL_JOYAXISMOTION: {
            static const DWORD offsets[] = {DIJOFS_X, DIJOFS_Y, DIJOFS_SLIDER0};
            if (event.jaxis.axis >= 3) return;
            const DWORD value = static_cast<DWORD>(static_cast<std::int32_t>(event.jaxis.value) + 32768);
            post(joystickGuid(event.jaxis.which), offsets[event.jaxis.axis], value, false);
            return;
        }
        case SDL_JOYBUTTONDOWN:
        case SDL_JOYBUTTONUP:
            if (event.jbutton.button >= kJoystickButtons) return;
            post(joystickGuid(event.jbutton.which), DIJOFS_BUTTON0 + event.jbutton.button,
                 event.type == SDL_JOYBUTTONDOWN ? kButtonDown : 0, true);
            return;
        case SDL_WINDOWEVENT:
            if (event.window.event == SDL_WINDOWEVENT_FOCUS_LOST) setFocus(false);
            if (event.window.event == SDL_WINDOWEVENT_FOCUS_GAINED) setFocus(true);
            return;
        default: return;
        }
    }

private:
    // The acquired exclusive mouse reports relative motion without a system
    // pointer (SDL's relative mode keeps it hidden and inside the window),
    // unless the application's cursor follows that pointer: then the
    // pointer is free to leave the window and hidden only over it, where
    // the application draws its own.
    void holdMouse() {
        if (!SDL_WasInit(SDL_INIT_VIDEO)) return;
        const bool relative = mouseAcquired_ && !follows_;
        if (relative != relative_) {
            relative_ = relative;
            SDL_SetRelativeMouseMode(relative ? SDL_TRUE : SDL_FALSE);
            if (!relative && mouseAcquired_) reportPointer();
        }
        if (mouseAcquired_ != cursorHidden_) {
            cursorHidden_ = mouseAcquired_;
            if (cursorHidden_) {
                cursorShownBefore_ = SDL_ShowCursor(SDL_QUERY);
                SDL_ShowCursor(SDL_DISABLE);
            } else {
                SDL_ShowCursor(cursorShownBefore_);
            }
        }
    }

    // The pointer let go stands where the hold left it, which the cursor
    // that follows it has not seen: a motion to that place reports it.
    static void reportPointer() {
        SDL_Window* window = SDL_GetMouseFocus();
        if (!window) return;
        SDL_Event event{};
        event.type = SDL_MOUSEMOTION;
        event.motion.windowID = SDL_GetWindowID(window);
        SDL_GetMouseState(&event.motion.x, &event.motion.y);
        SDL_PushEvent(&event);
    }

    bool joysticks_ = false;
    bool mouseAcquired_ = false;
    bool follows_ = false;
    bool relative_ = false;
    bool cursorHidden_ = false;
    int cursorShownBefore_ = SDL_ENABLE;
    std::map<SDL_JoystickID, SDL_Joystick*> open_;
};

}  // namespace

std::shared_ptr<Backend> createSdlInput() { return std::make_shared<SdlInput>(); }

void onSdlEvent(const void* event) {
    if (g_installed && event) g_installed->handle(*static_cast<const SDL_Event*>(event));
}

DWORD dikFromScancode(int scancode) {
    for (const ScancodeKey& key : kKeys)
        if (key.scancode == scancode) return key.dik;
    return 0;
}

}  // namespace platform::dinput8
