// An object context: what takes part in a frame through the render core's
// render list (models, particles, sprites, scenes). Each context collects
// its draw items into the list's buckets during the update pass and draws
// runs of them in the scene pass.
#pragma once

#include <cstdint>
#include <vector>

struct CameraFrame;
class ObjectContext;

// A draw item in a render-list group; its first field leads to the context
// that draws it.
struct DrawItem {
    ObjectContext* context = nullptr;
    std::int32_t index = 0;  // the context's own reference
};

class ObjectContext {
public:
    virtual ~ObjectContext() = default;
    // Collects the frame's draw items into the render list's buckets.
    virtual void update(const CameraFrame& camera) { (void)camera; }
    // Whether the context takes part in this frame.
    virtual bool active() { return true; }
    // Draws a run of items starting at index, stepping by direction (+1 or
    // -1); answers the index to go on from.
    virtual std::int32_t drawRun(std::vector<DrawItem*>& items, std::int32_t index, std::int32_t direction) {
        (void)items;
        return index + direction;
    }
    virtual void shaderPass() {}
    // The depth pass's operation with three values.
    virtual void broadcast(float a, float b, float c) {
        (void)a;
        (void)b;
        (void)c;
    }
};
