// The model context: the render list entry of one model resource, holding
// the models of that resource pushed into the current scene. The first
// pushed model creates it, the last popped one deletes it. Pushes and pops
// are refused while the render list is locked by a pass.
#pragma once

#include <vector>

#include "model/ObjectContext.h"

class Model;
class Y3ModelData;

class ModelContext : public ObjectContext {
public:
    explicit ModelContext(Y3ModelData* resource) : resource(resource) {}

    // Enters the model into its resource's users and context; false
    // (logged) when the render list is locked, the model is in the context
    // already, the resource is unavailable or the model is a user already.
    static bool push(Y3ModelData* record, Model& model);
    // Removes the model; the context goes with the last one.
    static bool pop(Y3ModelData* record, Model& model);
    // The context of a resource, or null.
    static ModelContext* of(const Y3ModelData* record);

    Y3ModelData* resource;
    std::vector<Model*> instances;
};
