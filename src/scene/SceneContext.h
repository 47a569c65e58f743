// The render context of a scene resource: it exists while at least one
// scene of the resource is on stack. createScene makes a Scene from its
// resource record; the instance push and pop enter and leave a scene into
// its record and context.
#pragma once

#include <vector>

class Scene;
class Y3SceneDataInstance;

// Whether a render pass holds the render context (the render core's render
// list is locked); scene push and pop are refused (not delayed) while it is.
bool renderContextLocked();

class SceneContext {
public:
    explicit SceneContext(Y3SceneDataInstance* resource) : resource(resource) {}
    SceneContext(const SceneContext&) = delete;
    SceneContext& operator=(const SceneContext&) = delete;

    // A new scene from its resource record: a missing resource becomes a
    // debug scene (logged); a scene without sky settings is refused (null).
    static Scene* createScene(Y3SceneDataInstance* record);
    // Whether createScene would make a scene of the record (nothing logged).
    static bool canCreateScene(const Y3SceneDataInstance* record);
    // Enters a scene into its record and the record's context (made on the
    // first push); false, logged, for a scene on stack or a bad resource.
    static bool pushInstance(Y3SceneDataInstance* record, Scene* scene);
    // Leaves it again; the context goes with the last instance.
    static bool popInstance(Y3SceneDataInstance* record, Scene* scene);

    Y3SceneDataInstance* resource;
    std::vector<Scene*> instances;
};
