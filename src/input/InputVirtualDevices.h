// The virtual devices of the input core: the game's cursor, the relative
// motion accumulator that device polling feeds with the mouse and joystick
// axes, the virtual buttons and the speed and timing settings they read.
// The cursor and the accumulator are off until the camera mode selects one
// of them.
#pragma once

#include <cstdint>

#include "input/InputVirtualButton.h"

class DataStream;
struct lua_State;

// Speeds and timings of the virtual devices. The game setup writes the
// cursor and look speeds and the inversion from the player's options.
struct InputSetup {
    float cursorSpeed[2] = {0.8f, 0.8f};
    float lookSpeed[2] = {0.25f, 0.25f};
    float wheelFactor = 0.25f;
    std::uint8_t invertLook = 0;  // negates the look y
    float buttonHoldLimit = 0.5f;     // seconds
    float buttonRepeatPeriod = 0.5f;  // seconds
    float reserved = 0.5f;            // kept for the layout, read by nothing

    // Registers "InputSetup". True.
    static bool registerLua(lua_State* state);
};

// The game's own cursor on the 1024 x 768 virtual screen.
struct InputVirtualPointer {
    bool enabled = false;
    // x and y factors of the axis deltas (the cursor speeds of the setup).
    const float* sensitivity = nullptr;
    float x = 100.0f, y = 100.0f;
    float minX = 0.0f, minY = 0.0f, maxX = 1024.0f, maxY = 768.0f;

    // Only while enabled: moves by the deltas times the speeds, then clamps.
    void move(float dx, float dy);
    // Minimums first, then maximums: a maximum below its minimum wins.
    void clamp();
    // A limit below 0 takes the cursor's current coordinate; then clamps.
    void setLimit(float newMinX, float newMinY, float newMaxX, float newMaxY);
    // Places the cursor, inside the limits.
    void set(float newX, float newY);

    // Registers "InputCursor". True.
    static bool registerLua(lua_State* state);
};

// Relative look motion gathered over a frame, scaled by the look speeds.
struct InputMotionAccumulator {
    bool enabled = false;
    float dx = 0.0f, dy = 0.0f, wheel = 0.0f;
    const InputSetup* setup = nullptr;

    // Only while enabled.
    void addMotion(float x, float y);
    void addWheel(float v);
    void clear() { dx = dy = wheel = 0.0f; }
};

class InputVirtualDevices {
public:
    InputVirtualDevices();
    InputVirtualDevices(const InputVirtualDevices&) = delete;
    InputVirtualDevices& operator=(const InputVirtualDevices&) = delete;

    // The save record: the cursor, the accumulator, then the buttons' part.
    // Bytes, or the first negative field result.
    std::int32_t write(DataStream& stream) const;
    // Reads the same record; a complete read zeroes the accumulated motion
    // and clears the buttons' run-time state.
    std::int32_t read(DataStream& stream);

    std::uint32_t word = 0;
    InputVirtualPointer pointer;
    InputMotionAccumulator motion;
    InputVirtualButton virtualButton;
    InputSetup setup;
};
