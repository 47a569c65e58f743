// The model context: the object context of one model resource, holding the
// models of that resource pushed into the current scene. The first pushed
// model creates it (entered into the render list through the resource's
// render object), the last popped one deletes it. Pushes and pops are
// refused while the render list is locked by a pass.
//
// Each frame it culls its models, then queues draw items for every
// (element, mesh, LOD) that a model draws: items of one batch share the
// batch's smallest depth as their sort depth, so they stay together in their
// bucket. Static-instance groups are queued once per group, elements beyond
// the far range as a whole, and whole-model shadow receivers get a shadow
// item under key 100.
#pragma once

#include <cstdint>
#include <vector>

#include "model/ObjectContext.h"

class Model;
class Y3ModelData;

class ModelContext : public ObjectContext {
public:
    // Key of the shadow items.
    static constexpr std::int32_t kShadowKey = 100;

    ModelContext(RenderObject* renderObject, Y3ModelData* resource)
        : renderObject(renderObject), resource(resource) {}

    // Enters the model into its resource's users and context; false
    // (logged) when the render list is locked, the model is in the context
    // already, the resource is unavailable or the model is a user already.
    static bool push(Y3ModelData* record, Model& model);
    // Removes the model; the context goes with the last one.
    static bool pop(Y3ModelData* record, Model& model);
    // The context of a resource, or null.
    static ModelContext* of(const Y3ModelData* record);
    // Reads the six LOD ranges of the resource from the script variables
    // "levelofdetails" ("ffp_" names on the fixed pipeline), squared.
    static void loadLodRanges(Y3ModelData* record);
    // Whether the resource can be drawn, loading and allocating it when
    // needed; with headerOnly only the header is needed.
    static bool resourceUsable(Y3ModelData* record, bool headerOnly = false);

    std::int32_t type() const override { return 1; }
    void update(const Matrix34& camera) override;
    bool cull() override;
    std::int32_t render(const DrawItem* items, std::int32_t count, std::int32_t index, std::int32_t step) override;
    bool renderSecondPass() override;
    bool renderRainMap(float a, float b, float c) override;
    bool reportReferences() override;

    RenderObject* renderObject;
    std::vector<Model*> instances;
    Y3ModelData* resource;

private:
    // Queues the items of one batch (step 1a or 1b, or the whole elements).
    void queueBatch(const float* eye, std::int32_t element, std::int32_t mesh, std::int32_t lod, bool statics);
    void queueWholeElements(const float* eye, std::int32_t element, std::int32_t lod);
    void queueShadowItems();
};
