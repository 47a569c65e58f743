// A rectangle of an item's quad with its texture window.
#pragma once

// One frame of a quad: a rectangle (left, top, right, bottom, in item
// units) and its two texture-coordinate corners (u0, v0, u1, v1).
struct StillFrameFrame {
    float rect[4] = {};
    float texCoords[4] = {};
};
static_assert(sizeof(StillFrameFrame) == 32, "a frame record is 32 bytes");
