// Object contexts: the render list of one drawable resource (a model, a
// particle, a sprite or a scene resource). The renderer walks contexts, not
// scene objects: each frame it asks every context whether anything of it
// can be seen (cull), lets it queue its draw items (update), then hands
// runs of those items back to it (render). A context enters the render list
// through the render object inside its resource record.
#pragma once

#include <cstdint>

#include "foundation/Math.h"

class ObjectContext;
class RenderList;

// The link between a resource record and the renderer; it lives inside the
// record. createRenderObject stores the (owned) context and links it at the
// head of the current render list; releaseRenderObject deletes the context
// and unlinks it.
struct RenderObject {
    ObjectContext* context = nullptr;
    const char* name = nullptr;  // the record's name
    std::uint8_t visible = 0;    // the context's cull answer of this frame
    RenderObject* next = nullptr;
    RenderObject* previous = nullptr;
    RenderList* list = nullptr;  // the list it is linked into; null when none

    const char* displayName() const { return name ? name : ""; }
};

// One draw item of a render queue. instance < 0 names the static-instance
// group -(instance + 1) of the element's LOD; element -1 is a shadow item;
// mesh -1 draws the element as a whole.
struct DrawItem {
    RenderObject* renderObject = nullptr;
    std::int32_t instance = 0;
    std::int32_t element = 0;
    std::int32_t mesh = 0;
    std::int32_t lod = 0;
    float sortDepth = 0.0f;  // the smallest depth of the batch it came from
    float depth = 0.0f;      // its own depth
};

class ObjectContext {
public:
    // 1 model, 2 particle, 5 sprite, 6 scene context.
    virtual std::int32_t type() const { return 0; }
    virtual ~ObjectContext() = default;
    // Once a frame before drawing: queues the context's draw items. camera
    // is the camera's 3x4 matrix; its last row is the camera position.
    virtual void update(const Matrix34& camera) = 0;
    // Once a frame before update: whether anything of the context can be
    // seen. The renderer keeps the answer as the render object's visible
    // flag.
    virtual bool cull() { return false; }
    // Draws the run of consecutive items of this context starting at index,
    // moving by step (+1 or -1); returns the first index it did not take.
    virtual std::int32_t render(const DrawItem* items, std::int32_t count, std::int32_t index, std::int32_t step) {
        (void)items;
        (void)count;
        return index + step;
    }
    // The shader-only second pass over the visible contexts.
    virtual bool renderSecondPass() { return false; }
    // Draws the context's objects into the rain-map target.
    virtual bool renderRainMap(float a, float b, float c) {
        (void)a;
        (void)b;
        (void)c;
        return false;
    }
    // At release: reports the instances still held; true when none.
    virtual bool reportReferences() { return true; }
};
