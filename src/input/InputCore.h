// The input core: keyboard, mouse and joystick devices, the virtual buttons
// and the cursor, sampled once a frame.
//
// Devices are not built in yet: the core starts with none, its frame update
// reads nothing, and its part of a save game is empty.
#pragma once

#include <cstdint>

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

    // Pointer speeds of the device state (x and y), set from the player's
    // sensitivities by the game setup, and the invert-camera flag.
    float mouseSpeed[2] = {0.8f, 0.8f};
    float cameraSpeed[2] = {0.25f, 0.25f};
    std::uint8_t invertCamera = 0;
};
