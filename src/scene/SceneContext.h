// The render context of a scene resource: an object context (type 6) that
// exists while at least one scene of the resource is on stack, entered into
// the render list through the record's render object. createScene makes a
// Scene from its resource record; the instance push and pop enter and leave
// a scene into its record and context.
#pragma once

#include <vector>

#include "model/ObjectContext.h"

class Scene;
class Y3SceneDataInstance;

// Whether a render pass holds the render context (the render core's render
// list is locked); scene push and pop are refused (not delayed) while it is.
bool renderContextLocked();

// The kinds of the scene context's draw items (the item's instance field).
constexpr std::int32_t kSceneItemSky = 0;
constexpr std::int32_t kSceneItemRain = 1;
// The render-queue key of the sky: objects queue under keys from 0 up.
constexpr std::int32_t kSkyQueueKey = -1;

class SceneContext : public ObjectContext {
public:
    explicit SceneContext(Y3SceneDataInstance* resource) : resource(resource) {}
    SceneContext(const SceneContext&) = delete;
    SceneContext& operator=(const SceneContext&) = delete;
    // Clears the record's slot that points at it.
    ~SceneContext() override;

    std::int32_t type() const override { return 6; }
    // Queues the scene's sky while it has scenes: an item of kind 0 under a
    // key below every object's, so the sky is drawn first; and, while the
    // first scene's rain can draw, an item of kind 1 under the rain's order
    // key, after the objects.
    void update(const Matrix34&) override;
    // Seen while it has scenes.
    bool cull() override { return !instances.empty(); }
    // Draws its items: kind 0 the first scene's sky (its rainy form while
    // the rain is shown), kind 1 the first scene's rain.
    std::int32_t render(const DrawItem* items, std::int32_t count, std::int32_t index, std::int32_t step) override;
    bool renderSecondPass() override { return true; }
    bool renderRainMap(float, float, float) override { return true; }
    bool reportReferences() override { return true; }

    // A new scene from its resource record: a missing resource becomes a
    // debug scene (logged); a scene without sky settings is refused (null).
    static Scene* createScene(Y3SceneDataInstance* record);
    // Whether createScene would make a scene of the record (nothing logged).
    static bool canCreateScene(const Y3SceneDataInstance* record);
    // Enters a scene into its record and the record's context (made on the
    // first push and registered through the record's render object); false,
    // logged, for a scene on stack, a bad resource or a locked render list.
    static bool pushInstance(Y3SceneDataInstance* record, Scene* scene);
    // Leaves it again; the context is released with the last instance.
    static bool popInstance(Y3SceneDataInstance* record, Scene* scene);

    Y3SceneDataInstance* resource;
    std::vector<Scene*> instances;
};
