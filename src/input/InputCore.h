// The input core: keyboard, mouse and joystick devices, the virtual buttons
// and the cursor, sampled once a frame.
//
// Devices are not built in yet: the core starts with none, its frame update
// reads nothing, and its part of a save game is empty.
#pragma once

#include <cstdint>

#include "input/InputVirtualButton.h"

class DataStream;
struct CurrentTime;

class InputCore {
public:
    InputCore() = default;
    ~InputCore();
    InputCore(const InputCore&) = delete;
    InputCore& operator=(const InputCore&) = delete;

    // Finds the devices and sets the bindings; false ends the engine start.
    bool Initialize();
    void release();
    // Reads the devices once a frame.
    void update(const CurrentTime& time);
    // Follows a change of the camera mode.
    void updateStateMode();
    // Resets the input state (after a save).
    void reset(const CurrentTime& time);
    // Resets the view smoothing state.
    void resetView(const CurrentTime& time);
    // Reads and discards pending device input.
    void flushDevices(const CurrentTime& time);

    // The input block of a save game: byte count or negative.
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

    // The game's actions and their bindings.
    InputVirtualButton virtualButton;

    // Pointer speeds of the device state (x and y), set from the player's
    // sensitivities by the game setup, and the invert-camera flag.
    float mouseSpeed[2] = {0.8f, 0.8f};
    float cameraSpeed[2] = {0.25f, 0.25f};
    std::uint8_t invertCamera = 0;
};
