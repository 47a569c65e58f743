// The light game object (type 9): one light resource of the light database
// placed in a scene. It takes its light set by the scene's time of day (or
// from the model it is linked to), keeps an influence volume (a sphere for
// a point light, a box for a directional one) that is rebuilt when it is
// out of date, and gives the renderer its colours, position and constants
// for each model element it lights.
#pragma once

#include <cstdint>
#include <memory>

#include "foundation/Intersection.h"
#include "platform/d3d9/D3D9Types.h"
#include "scene/GameObject.h"
#include "scene/SceneObjectFlags.h"

class DXStateCache;
class ShaderProgram;
class Y3Light;
class Y3LightData;
struct LightSet;

// Bits of a light's flag word.
constexpr std::uint32_t kLightEnabledBit = 0x2;
constexpr std::uint32_t kLightVisible = 0x04;
constexpr std::uint32_t kLightModeOn = 0x100;       // attenuated
constexpr std::uint32_t kLightModeSecond = 0x200;   // second projected texture named
constexpr std::uint32_t kLightMask = 0x400;         // first projected texture named
constexpr std::uint32_t kLightThreePasses = 0x800;  // camera-relative placement
constexpr std::uint32_t kLightPointKind = 0x8000;
constexpr std::uint32_t kLightDirectKind = 0x10000;
// Resource data allocated for this light (pushed lights with it are
// collected for models).
constexpr std::uint32_t kLightEnabled = 0x100000;
constexpr std::uint32_t kLightFillKind = 0x200000;
constexpr std::uint32_t kLightShadowCaster = 0x400000;
constexpr std::uint32_t kLightVolumeDirty = 0x800000;
constexpr std::uint32_t kLightBlack = 0x8000000;
constexpr std::uint32_t kLightsExterior = 0x10000000;
constexpr std::uint32_t kLightsInterior = 0x20000000;
constexpr std::uint32_t kLightDerived = 0x40000000;
// Takes part in the per-light passes of lit elements.
constexpr std::uint32_t kLightPassMark = 0x80000000u;

// The fields a light saves, in the order of its record.
class Scene;

// Renames an object of a scene to wanted (cut to 127 characters): true at
// once when the name is unchanged; refused (false, the message logged with
// the cut name) when taken says another object of its kind holds it.
bool renameSceneObject(Scene* scene, GameObject& object, char (&field)[128], const char* wanted,
                       GameObject* (*taken)(const Scene&, const char*), const char* takenMessage);

struct LightRecord {
    std::int32_t write(DataStream& stream) const;
    // Refuses a name longer than its field and a damaged volume; the
    // pushed bit is cleared.
    std::int32_t read(DataStream& stream);

    std::uint32_t flags = 0;
    char lightName[128] = {};
    float scale[3] = {1.0f, 1.0f, 1.0f};
    Matrix34 pose = matrix34Identity();
    Matrix34 lightSpace = matrix34Identity();
    float diffuseFactor = 1.0f;
    float specularFactor = 1.0f;
    float inverseRadius = 1.0f;
    std::unique_ptr<Intersection> volume;
    char lightSetName[256] = {};
};

class Light : public GameObject, public SceneObjectFlags {
public:
    // A new light of the scene from its resource record; null when the
    // record carries the failed flag. forLoading: the name comes from the
    // save record.
    static Light* create(Y3LightData* data, std::uint32_t sceneLink, const char* name, bool forLoading = false);
    Light(const char* name, Y3LightData* data, std::uint32_t sceneLink);
    ~Light() override;

    std::uint32_t getType() const override { return ObjectLight; }
    const char* getName() const override { return lightName; }
    const char* recordName() const override { return name; }
    std::uint32_t getSceneLink() const override { return sceneLink; }
    bool push() override;
    bool pop(std::uint32_t argument) override;
    std::int32_t write(DataStream& stream) override;
    std::int32_t read(DataStream& stream) override;
    bool validate() override;
    // The per-frame update: follows a parent, then rebuilds an out-of-date
    // volume. False, as lights report.
    bool updatePhase0(const CurrentTime&, std::int32_t) override;
    bool updatePhase1(const CurrentTime&, std::int32_t) override { return true; }
    bool updatePhase3(const CurrentTime&, std::int32_t) override { return true; }
    bool updatePhase2(const CurrentTime&, std::int32_t) override { return true; }
    // Flags the volume (and light set) for rebuilding.
    void invalidateLighting() override { flags |= kLightVolumeDirty; }
    void release() override {}

    std::uint32_t& stateFlags() override { return flags; }
    std::uint32_t updateGroup() const override { return group; }
    bool isOnStack() override { return onStack(); }
    bool onStack() const { return (flags & kLightOnStack) != 0; }
    // The light's reach, or null before it was first built.
    const Intersection* bounds() const { return volume.get(); }

    // Renames within the scene: refused when another light has the name.
    bool checkUniqueName(const char* newName);
    // The pose with its axes normalised.
    void setPose(const Matrix34& matrix);
    // A pose whose axes may be scaled: the lengths become the scale; then
    // the light set of the current time of day.
    void setup(const Matrix34& matrix);
    // Script "show" and "hide".
    void setVisible(bool show);
    // Binds the light set: the parent model's, else the resource's for the
    // scene's time of day.
    void bindLightSet();
    // Rebuilds the volume and, the first time, the derived bits.
    void updateInfluence();

    // The resource when it is loaded and lights the material kind (0
    // exterior, 1 interior); null otherwise.
    const Y3Light* resourceFor(std::int32_t materialKind) const;
    // Adds the light's first colour times fill_color_diffuse_mult.
    void accumulateFillColor(std::int32_t materialKind, float* accumulator) const;
    void diffuseColor(std::int32_t index, std::int32_t materialKind, float (&out)[3]) const;
    void specularColor(std::int32_t index, std::int32_t materialKind, float (&out)[3]) const;
    // The position of the index, camera-relative placement applied.
    void positionFor(std::int32_t index, float (&out)[3]) const;

    // The fixed-function light of an element draw into a unit of the state
    // cache (the render core's per-light slot), the unit switched on.
    void applyFixedFunction(DXStateCache& cache, std::int32_t unit, std::int32_t materialKind = 0) const;
    // The shader constants of an element draw. True when the light lights
    // the element's material kind.
    bool setShaderConstants(ShaderProgram* vertex, ShaderProgram* pixel, const D3DMATRIX& world,
                            std::int32_t materialKind = 0, std::int32_t index = 0) const;
    // LIGHT of the shader families: 1 point, 2 directional; LMODE 0, 1 or 2.
    std::int32_t shaderKind() const { return (flags & kLightPointKind) ? 1 : 2; }
    std::int32_t shaderMode() const {
        if (!(flags & kLightModeOn)) return 0;
        return (flags & kLightModeSecond) ? 2 : 1;
    }
    static bool testModeFlag(const Light& light, std::int32_t other) {
        return other == 0 && (light.flags & kLightModeSecond) != 0;
    }

    // Its record, which counts the light among its holders.
    Y3LightData* data;
    std::uint32_t sceneLink;
    std::uint32_t flags = kLightEnabledBit;
    std::uint32_t group = 1;
    char lightName[128] = {};
    float scale[3] = {1.0f, 1.0f, 1.0f};
    Matrix34 pose = matrix34Identity();
    Matrix34 lightSpace = matrix34Identity();
    float diffuseFactor = 1.0f;
    float specularFactor = 1.0f;
    float inverseRadius = 1.0f;
    std::unique_ptr<Intersection> volume;
    LightSet* lightSet = nullptr;

private:
    const Y3Light* resource() const;
    void flagVolumeIfShown();
    void colourFor(std::int32_t index, std::int32_t materialKind, bool specular, float (&out)[3]) const;
};

