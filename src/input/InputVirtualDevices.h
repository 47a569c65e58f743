// The cursor and the relative-motion accumulator that device polling feeds
// with the mouse and joystick axes. Both are off until the camera mode
// selects one of them.
#pragma once

#include <cstdint>

// The game's own cursor on the 1024 x 768 virtual screen.
struct InputVirtualPointer {
    bool enabled = false;
    float x = 100.0f, y = 100.0f;
    float minX = 0.0f, minY = 0.0f, maxX = 1024.0f, maxY = 768.0f;
    // Pointer speeds (x and y).
    float sensitivity[2] = {1.0f, 1.0f};

    // Only while enabled: moves by the deltas times the speeds, inside the
    // limits.
    void move(float dx, float dy);
    void clamp();
};

// Relative look motion gathered over a frame.
struct InputMotionAccumulator {
    bool enabled = false;
    float dx = 0.0f, dy = 0.0f, wheel = 0.0f;

    // Only while enabled.
    void addMotion(float x, float y);
    void addWheel(float v);
    void clear() { dx = dy = wheel = 0.0f; }
};
