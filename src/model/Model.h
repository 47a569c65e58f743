// The model game object: a placed instance of a model resource.
//
// This is the model's least form: its name, resource, world pose, scale,
// texture set, flag word, element volumes (for the visibility areas) and
// the animation sequences it was told to play. Drawing and animation come
// with the model resources. The class also keeps the model settings, read
// once at start.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "foundation/Intersection.h"
#include "platform/d3d9/D3D9Types.h"
#include "resources/Y3ResourceManager.h"
#include "scene/GameObject.h"
#include "scene/SceneObjectFlags.h"
#include "model/ModelActionItem.h"
#include "model/ModelElement.h"

struct ModelSettings {
    // Section "debug": kept; no model behaviour depends on it.
    std::string debugModelName = "hero";
    // Section "render_ffp": the fixed-function path.
    std::int32_t maxFfpModelLights = 4;
    bool enableFfpAnimationLodUpdate = false;
    // Skinning update period per level of detail, in updates.
    std::array<std::int32_t, 3> ffpAnimationLodUpdatePeriod = {1, 2, 4};
    // Section "render": the events models drawn at a lower detail still raise.
    bool enableLod1Footsteps = true;
    bool enableLod1Sounds = false;
    bool enableLod1Particles = false;
    bool enableLod2Footsteps = false;
    bool enableLod2Sounds = false;
    bool enableLod2Particles = false;
    // Radius of the probe sphere of the dynamic light-set choice.
    float lightAreaTestSphereRadius = 1.0f;
    // Section "render_ffp": the fixed-function water and element paths.
    float ffpWaterWaveScale[3] = {1.0f, 0.75f, 0.5f};
    float ffpWaterWaveSpeedX[3] = {0.1f, -0.1f, 0.015f};
    float ffpWaterWaveSpeedY[3] = {-0.05f, 0.1f, -0.005f};
    float ffpWaterWaveBlendSpeed = 4.0f;
    float ffpWaterWaveBlendAmp = 0.1f;
    float ffpWaterWaveBlendBase = 0.5f;
    bool ffpDisableOverlayRender = false;
    bool ffpDisableLighting = false;
    bool ffpDisableWaterAmbient = false;
    bool ffpDisableWaterLightpass = true;
};

class Material;
class Y3ModelData;
struct ShadowRecord;

// The constants of a shadow receiver pass computed from its record.
struct ShadowReceiverConstants {
    D3DMATRIX shadow{};      // vertex "mShadow"
    float pixelTT0[4] = {};  // pixel "vTT0": the window
    float pixelTT1[4] = {};  // pixel "vTT1": intensity, exponent, falloff
    float colour[3] = {};    // pixel "vColorAmbient" x, y, z
};

// Bits of Model::objectFlags.
constexpr std::uint32_t kModelRandomNpc = 0x8;
constexpr std::uint32_t kModelPendingDelete = 0x80000000u;

class Model : public GameObject, public SceneObjectFlags {
public:
    // A model of a resource with one element (a unit box at the pose).
    Model(const char* name, const char* resourceName, std::uint32_t sceneLink);
    // A model of the resource for the scene; refused (null, "Resource for
    // model [%s] is invalid") while the resource record is flagged
    // unavailable. With noName set the model gets no name.
    static Model* newInstance(const ResourceRecord* record, const char* resourceName, std::uint32_t sceneLink,
                              const char* name, bool noName);
    ~Model() override;

    std::uint32_t getType() const override { return ObjectModel; }
    const char* getName() const override { return name; }
    std::uint32_t getSceneLink() const override { return sceneLink; }
    // The first push loads and allocates the model resource through the
    // render core's model data manager; a resource that cannot load is
    // logged by the manager and the model stays without it.
    bool push() override;
    bool pop(std::uint32_t) override { return true; }
    std::int32_t write(DataStream&) override { return 0; }
    std::int32_t read(DataStream&) override { return 0; }
    bool validate() override { return true; }
    bool isLinkable() const override { return true; }
    bool getWorldMatrix(Matrix34& out) override;
    bool updatePhase0(const CurrentTime&, std::int32_t) override { return true; }
    bool updatePhase1(const CurrentTime&, std::int32_t) override { return true; }
    bool updatePhase3(const CurrentTime&, std::int32_t) override { return true; }
    bool updatePhase2(const CurrentTime&, std::int32_t) override { return true; }
    void invalidateLighting() override {}
    // Leaves the model resource.
    void release() override;

    // Sets the world pose; the element volumes follow it.
    void setPose(const Matrix34& value);
    void setScale(const float* value);
    // A negative index is refused ("Invalid texture set").
    bool setTextureSet(std::int32_t index);
    // Renames the model unless another model of its scene has that name
    // ("Model with name [%s] already exist in this scene"); false then.
    bool checkUniqueName(const char* newName);
    // The body and face sequences: the text is kept, the stack marked
    // playing (the animation core plays them).
    void playSequence(const char* text);
    void playFaceSequence(const char* text);
    // True while either animation stack holds a playing instance.
    bool isAnimationPlaying() const { return bodyPlaying || facePlaying; }
    // Stops and empties the body stack.
    void clearBodyStack();
    // Direct control of a character toward a target: its character
    // controller is sent to the waypoint target of that name, or, with
    // useWaypoint, the model plays the appended sequence of a model
    // waypoint. False for a model without a character controller, which is
    // every model while models carry no movement controller.
    bool checkDirectControlTarget(const char* targetName, bool useWaypoint);

    std::uint32_t sceneLink = 0;
    char resourceName[128] = {};
    // The model resource while the model uses it; null before the first
    // push and after release.
    Y3ModelData* resource = nullptr;
    Matrix34 pose{};
    float scale[3] = {1.0f, 1.0f, 1.0f};
    std::int32_t textureSet = 0;
    std::uint32_t objectFlags = 0;
    // The scene reads the pending-deletion bit through it.
    std::uint32_t& stateFlags() override { return objectFlags; }
    // The state bits its movement controller sets.
    std::uint32_t controlFlags = 0;
    // Index of its record in the scene's visibility set; -1 when none.
    std::int32_t pvsIndex = -1;
    // The drawable elements of the model resource: one per element of the
    // resource, each level of detail drawing that level's mesh. Built when
    // the resource is acquired, emptied when it is left.
    std::vector<ModelElement> meshElements;
    // Builds meshElements from the resource (nothing without one).
    void buildElements();
    // The element world matrix: the model pose with its scale.
    D3DMATRIX computeElementMatrix() const;
    // One bounding box per model element, and whether each is visible.
    std::vector<IntersectionOBBox> elements;
    std::vector<std::uint8_t> elementVisible;
    std::string bodySequence;
    std::string faceSequence;
    bool bodyPlaying = false;
    bool facePlaying = false;
    // One item per action of the resource; syncActionItems sizes them to
    // the resource (new items disabled, ranges reset when the count
    // changed) and copies their names. actionIndex finds an item by name
    // (cut to 127 characters): its index, or -1.
    std::vector<ModelActionItem> actionItems;
    void syncActionItems();
    std::int32_t actionIndex(const char* itemName) const;

    // Reads sections "debug", "render_ffp" and "render" of the game core's
    // settings; missing keys are added and keep their defaults.
    static void readConfig();
    // Reads the fixed-function drawing keys of section "render_ffp".
    static void readFixedFunctionSettings();
    static const ModelSettings& settings();
    static ModelSettings& mutableSettings();

    // The element dispatcher: draws the element's current level of detail
    // by its material kind and the video mode's details, with its per-light
    // passes. False when nothing was drawn.
    static bool drawElement(ModelElement& element);
    // The path of one kind at the current details for one light (-1: none).
    static bool drawElementKind(ModelElement& element, std::int32_t light);
    // Applies the state cache and issues the current level's draw call.
    static void drawElementMesh(ModelElement& element, std::int32_t passes = 1);

    // Fixed-function paths.
    static bool drawElementFixedKind0(ModelElement& element, std::int32_t light);
    static bool drawElementFixedKind3(ModelElement& element, std::int32_t light);
    static bool drawElementFixedKind6(ModelElement& element, std::int32_t light);
    static bool drawElementFixedKind9(ModelElement& element, std::int32_t light);
    static bool drawElementFixedWater(ModelElement& element, std::int32_t light);
    // Shader paths (details 1 and 2).
    static bool drawElementShader(ModelElement& element, std::int32_t light);
    static bool drawElementShaderKind16(ModelElement& element, std::int32_t light);
    static bool drawElementShaderKind62(ModelElement& element, std::int32_t light);
    static bool drawElementWaterShader(ModelElement& element, std::int32_t light);
    static bool drawElementWaterNormShader(ModelElement& element, std::int32_t light);
    static bool drawElementShaderContextPass(ModelElement& element);
    // The element drawn into the water's reflection: unlit, without
    // blending, alpha test, culling or fog.
    static bool drawElementReflectionPass(ModelElement& element);
    // The element's shader constants for a draw with a light (-1: none).
    static void prepareElementShaderPass(ModelElement& element, std::int32_t light);
    // The water textures of the current water programs.
    static void bindWaterTextures(bool reflection);
    // Shadow passes: the element into the shadow map, and the element with
    // the shadow map projected onto it.
    static void drawElementShadowCasterPass(ModelElement& element, const ShadowRecord& record);
    static void drawElementShadowReceiverPass(ModelElement& element, const ShadowRecord& record);
    static ShadowReceiverConstants shadowReceiverConstants(const ShadowRecord& record);
    // The render core's water suppression: water kinds draw nothing in
    // shader mode while it is set.
    static bool suppressWater;
    // The stage set-up of the main context render's default path; the draw
    // is the caller's.
    static void drawElementFixedDefault(ModelElement& element);
    // Binds the frame of the animated water layer to a stage; false when
    // the layer link is disabled or that frame has no texture.
    static bool bindWaterLayerFrame(std::uint32_t stage);
    // TEXTUREFACTOR of a colour (0x00RRGGBB, each capped at 1) with alpha
    // (capped at 1) x 255 in the top byte, rounded or truncated.
    static std::uint32_t packFactor(const float* colour, float alpha, bool round);

private:
    // The model as a user of its resource record.
    class ResourceLink : public ResourceUser {
    public:
        explicit ResourceLink(const Model& owner) : owner_(owner) {}
        const char* resourceUserName() const override { return owner_.name; }
        bool resourcePushed() const override { return pushed_; }
        void setResourcePushed(bool pushed) override { pushed_ = pushed; }

    private:
        const Model& owner_;
        bool pushed_ = false;
    };
    ResourceLink resourceLink_{*this};
};
