// The input core: keyboard, mouse and joystick devices, the virtual buttons
// and the cursor, sampled once a frame. Each frame every device delivers at
// most one queued button event to the virtual buttons and reads its
// buffered data: buttons are queued, axes move the cursor and the motion
// accumulator.
#pragma once

#include <cstdint>

#include "input/InputCharacterState.h"
#include "input/InputDevice.h"
#include "input/InputVirtualButton.h"
#include "input/InputVirtualDevices.h"
#include "input/ViewSmoother.h"

class DataStream;
struct CurrentTime;
struct lua_State;

// Bits of InputCore::flags.
constexpr std::uint32_t kInputCoreInitialized = 1;
constexpr std::uint32_t kInputCoreLocked = 2;  // queued button events are dropped

class InputCore {
public:
    InputCore();
    ~InputCore();
    InputCore(const InputCore&) = delete;
    InputCore& operator=(const InputCore&) = delete;

    // Finds the devices and clears the button state; false (logged) when
    // DirectInput cannot open or no device is usable, which ends the engine
    // start.
    bool Initialize();
    // Unacquires and releases every device and DirectInput.
    void release();
    // Reads the devices once a frame.
    void update(const CurrentTime& time);
    // Follows a change of the camera mode.
    void updateStateMode();
    // Resets the input state (after a save).
    void reset(const CurrentTime& time);
    // Resets the view smoothing state.
    void resetView(const CurrentTime& time);
    // Locking drops every device button event until unlock, which reads
    // and drops what came in meanwhile; both are logged.
    void lock();
    void unlock();
    // Waits 100 ms, then reads and discards pending device input.
    void flushDevices(const CurrentTime& time);

    // The input block of a save game: the view smoother, the fixed view
    // smoother, then the virtual devices. Byte count or negative.
    std::int32_t write(DataStream& stream);
    std::int32_t read(DataStream& stream);

    // Fills the process-wide default bindings from the "def_<action>_btn0"
    // and "def_<action>_btn1" keys of section "setup-defaults"; a key without
    // a value keeps the action's built-in default.
    static void setDefaultBindings();
    // Clears every record, then gives each action its flags and its two
    // default bindings (154 for an empty or unknown name).
    static void mapVirtualButtons(InputVirtualButton& buttons);
    // Reads the "<action>_0" and "<action>_1" keys of the section into the
    // bindings of one action; a missing or unknown name leaves its binding.
    static void readActionBinding(std::int32_t id, InputVirtualButtonValue& value, const char* section);
    // Writes the two bindings of one action as button names. An unbound
    // binding is written as "NONE" when its default binds a button, so the
    // default does not come back at the next start; otherwise its key is
    // cleared, so that no earlier binding is saved for it.
    static void writeActionBinding(std::int32_t id, const InputVirtualButtonValue& value, const char* section);
    // The default binding names of an action (button 0 or 1).
    static const char* defaultBinding(std::int32_t id, std::int32_t button);

    // Registers "InputCore" and "InputButtonValue" and sets the global
    // "input", which finds the game core's input at every use. True.
    static bool registerLua(lua_State* state);

    // Installs the DirectInput backend of the game (SDL2).
    static void installGamePlatform();

    // Where the relative motion of a frame goes in a game camera mode.
    enum class MotionRoute { None, FreeView, View, ViewAndController, FixedView };
    static MotionRoute motionRoute(std::int32_t cameraMode);

    std::uint32_t flags = 0;
    InputDeviceSet devices;
    // The cursor, the motion accumulator, the game's actions with their
    // bindings, and the speeds the game setup writes.
    InputVirtualDevices virtualDevices;
    std::uint8_t modeFlag = 0;
    // The free-flying view of the observer and editor modes.
    InputCharacterState characterState;
    ViewSmoother viewSmoother;
    FixedViewSmoother fixedViewSmoother;
};
