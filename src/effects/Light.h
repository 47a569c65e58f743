// The light game object (type 9): one light resource of the light database
// placed in a scene. This form holds its resource record, state word,
// group and reach; drawing comes with the renderer's light passes.
#pragma once

#include <cstdint>

#include "foundation/Intersection.h"
#include "platform/d3d9/D3D9Types.h"
#include "scene/GameObject.h"
#include "scene/SceneObjectFlags.h"

class DXStateCache;
class ShaderProgram;
class Y3LightData;

// Bits of a light's state word that the element drawing reads: the pass
// mark of the per-light passes, three passes, the shader light kind (a
// directional light), the lighting mode bits and the mask.
constexpr std::uint32_t kLightPassMark = 0x80000000u;
constexpr std::uint32_t kLightThreePasses = 0x800;
constexpr std::uint32_t kLightDirectionalKind = 0x8000;
constexpr std::uint32_t kLightModeOn = 0x100;
constexpr std::uint32_t kLightModeSecond = 0x200;
constexpr std::uint32_t kLightMask = 0x400;
// Set on every light that can light models.
constexpr std::uint32_t kLightEnabled = 0x100000;

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

    // The light's contribution to an element draw on the fixed pipeline:
    // the light on a unit of the state cache, its colours at half (the
    // stages double the lit colour), and the unit switched on.
    void applyFixedFunction(DXStateCache& cache, std::int32_t unit) const;
    // The same for a shader pass: direction and position in the element's
    // object space (world is its matrix), reach and colours. True.
    bool setShaderConstants(ShaderProgram* vertex, ShaderProgram* pixel, const D3DMATRIX& world) const;
    // LIGHT and LMODE of the shader families: 1 for a directional kind,
    // else 2; mode 0 without kLightModeOn, else 1 or 2 by kLightModeSecond.
    std::int32_t shaderKind() const { return (flags & kLightDirectionalKind) ? 1 : 2; }
    std::int32_t shaderMode() const {
        if (!(flags & kLightModeOn)) return 0;
        return (flags & kLightModeSecond) ? 2 : 1;
    }

    Y3LightData* data;
    std::uint32_t sceneLink;
    std::uint32_t flags = 0;
    std::uint32_t group = 1;
    bool hasBounds = false;
    IntersectionSphere sphere;
    // The device light: kind, colours, position, direction and reach.
    D3DLIGHT9 parameters{};
};
