// The light game object (type 9): one light resource of the light database
// placed in a scene. This form holds its resource record, state word,
// group and reach; drawing comes with the renderer's light passes.
#pragma once

#include <cstdint>

#include "foundation/Intersection.h"
#include "scene/GameObject.h"
#include "scene/SceneObjectFlags.h"

class Y3LightData;

class Light : public GameObject, public SceneObjectFlags {
public:
    // A new light of the scene from its resource record (null: none).
    static Light* create(Y3LightData* data, std::uint32_t sceneLink, const char* name);
    Light(const char* name, Y3LightData* data, std::uint32_t sceneLink);

    std::uint32_t getType() const override { return ObjectLight; }
    const char* getName() const override { return name; }
    std::uint32_t getSceneLink() const override { return sceneLink; }
    bool push() override;
    bool pop(std::uint32_t argument) override;
    std::int32_t write(DataStream&) override { return 0; }
    std::int32_t read(DataStream&) override { return 0; }
    bool validate() override { return true; }
    bool updatePhase0(const CurrentTime&, std::int32_t) override { return true; }
    bool updatePhase1(const CurrentTime&, std::int32_t) override { return true; }
    bool updatePhase3(const CurrentTime&, std::int32_t) override { return true; }
    bool updatePhase2(const CurrentTime&, std::int32_t) override { return true; }
    void invalidateLighting() override {}
    void release() override {}

    std::uint32_t& stateFlags() override { return flags; }
    std::uint32_t updateGroup() const override { return group; }
    bool isOnStack() override { return onStack(); }
    bool onStack() const { return (flags & kLightOnStack) != 0; }
    // The light's reach, or null for a light that reaches everywhere.
    const Intersection* bounds() const { return hasBounds ? &sphere : nullptr; }

    Y3LightData* data;
    std::uint32_t sceneLink;
    std::uint32_t flags = 0;
    std::uint32_t group = 1;
    bool hasBounds = false;
    IntersectionSphere sphere;
};
