// The model game object: a placed instance of a model resource.
//
// A model is made by newInstance and finished by create, which makes one
// element record per element of its resource. Pushing it enters its
// resource's model context and pushes the elements' levels of detail; the
// scene calls its per-frame passes. The class also keeps the model
// settings, read once at start.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "animation/ModelAnimation.h"
#include "foundation/Intersection.h"
#include "platform/d3d9/D3D9Types.h"
#include "resources/Y3ResourceManager.h"
#include "scene/GameObject.h"
#include "scene/SceneObjectFlags.h"
#include "model/ModelActionItem.h"
#include "model/ModelElement.h"
#include "model/ModelProperty.h"

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
struct ModelParticleAttachment;
struct ShadowRecord;
class SceneShadows;

// The constants of a shadow receiver pass computed from its record.
struct ShadowReceiverConstants {
    D3DMATRIX shadow{};      // vertex "mShadow"
    float pixelTT0[4] = {};  // pixel "vTT0": the window
    float pixelTT1[4] = {};  // pixel "vTT1": intensity, exponent, falloff
    float colour[3] = {};    // pixel "vColorAmbient" x, y, z
};

// Bits of the model's low state word (Ln = bit n).
constexpr std::uint32_t kModelShadowReceivers = 0x1;       // L0
constexpr std::uint32_t kModelShown = 0x2;                 // L1
constexpr std::uint32_t kModelInFrame = 0x40;              // L6
constexpr std::uint32_t kModelActive = 0x4;                // L2
constexpr std::uint32_t kModelDrawnThisFrame = 0x8;        // L3
// The randomizer's NPCs are marked with the same bit.
constexpr std::uint32_t kModelRandomNpc = kModelDrawnThisFrame;
constexpr std::uint32_t kModelMoves = 0x10;                // L4
constexpr std::uint32_t kModelLightSetDirty = 0x100;       // L8
constexpr std::uint32_t kModelPlaceDirty = 0x200;          // L9
constexpr std::uint32_t kModelLightsDirty = 0x400;         // L10
constexpr std::uint32_t kModelPhysicsDirty = 0x800;        // L11
constexpr std::uint32_t kModelCreated = 0x1000;            // L12
constexpr std::uint32_t kModelInContext = 0x2000;          // L13
constexpr std::uint32_t kModelHasRoot = 0x4000;            // L14
constexpr std::uint32_t kModelPhysicsRoot = 0x8000;        // L15
constexpr std::uint32_t kModelHasController = 0x10000;     // L16
constexpr std::uint32_t kModelMainCharacter = 0x20000;     // L17
constexpr std::uint32_t kModelPaletteRefresh = 0x40000;    // L18
constexpr std::uint32_t kModelPushed = 0x100000;           // L20
constexpr std::uint32_t kModelShadowCaster = 0x200000;     // L21
constexpr std::uint32_t kModelOutOfPvs = 0x400000;         // L22
constexpr std::uint32_t kModelGridDebug = 0x800000;        // L23
constexpr std::uint32_t kModelTransformChanged = 0x1000000;// L24
constexpr std::uint32_t kModelPlayerLike = 0x2000000;      // L25
constexpr std::uint32_t kModelLastUpload = 0x10000000;     // L28
constexpr std::uint32_t kModelDefaultRule = 0x20000000;    // L29
constexpr std::uint32_t kModelPendingDelete = 0x80000000u;
// Bits of the high state word (Hn = bit n).
constexpr std::uint32_t kModelHighH2 = 0x4;
constexpr std::uint32_t kModelUpdateWhileActive = 0x8;     // H3
constexpr std::uint32_t kModelVisiblePhase = 0x10;         // H4
constexpr std::uint32_t kModelTrackingPending = 0x100;     // H8
constexpr std::uint32_t kModelWavesDirty = 0x2000;         // H13
constexpr std::uint32_t kModelWavesBusy = 0x4000;          // H14
constexpr std::uint32_t kModelPhysicsOwnPose = 0x40000;    // H18

class ModelController;
class ModelMorph;
class PhysicsModel;
class Scene;

class Model : public GameObject, public SceneObjectFlags {
public:
    // A model of a resource, not yet created: shown, active, without
    // elements. The instance name is the object's name.
    Model(const char* name, const char* resourceName, std::uint32_t sceneLink);
    // A model of the resource for the scene; refused (null, "Resource for
    // model [%s] is invalid") while the resource record is flagged
    // unavailable. With noName set the model gets no name.
    static Model* newInstance(const ResourceRecord* record, const char* resourceName, std::uint32_t sceneLink,
                              const char* name, bool noName);
    ~Model() override;

    // Finishes a new model in its scene: placed, elements made from the
    // loaded resource, registered in the visibility set, light set and
    // texture set chosen. False when the resource is not a loaded mesh
    // model ("Can't create model [%s]: resource not found"). createFlags 2
    // creates it hidden; 1 frees the property rules.
    bool create(const Matrix34& pose, std::uint32_t createFlags);
    // The orthonormal pose of a pose whose axis rows carry the scale; the
    // model takes the scale and re-applies its world matrix.
    Matrix34 placeAt(const Matrix34& pose);

    std::uint32_t getType() const override { return ObjectModel; }
    const char* getName() const override { return name; }
    std::uint32_t getSceneLink() const override;
    // Enters the model's render context and its elements' levels of
    // detail; a refused step undoes what the push did.
    bool push() override;
    bool pop(std::uint32_t releaseFlag) override;
    // The save record (ModelSave.cpp): the instance name, pose, state bits,
    // property block, element states, controller, attached lights and
    // particles, action items, animation and morph state and light set.
    // Byte count, or the first negative result, where it stops.
    std::int32_t write(DataStream& stream) override { return save(stream); }
    std::int32_t read(DataStream& stream) override { return load(stream); }
    std::int32_t save(DataStream& stream);
    // Reads into a model made for loading; what was read before a failure
    // stays. A LOD index outside 0..2, an element count other than the
    // resource's, an unknown controller type or an overlong name refuse
    // the record.
    std::int32_t load(DataStream& stream);
    // Reads a saved record of a model of the resource without touching the
    // running game; the byte count or negative.
    static std::int32_t checkRecord(DataStream& stream, const char* resourceName);
    // A restore makes the model of its resource; its own name is in its
    // record.
    const char* recordName() const override { return resourceName; }
    bool validate() override;
    bool isHidden() const override { return !(stateWords[0] & kModelShown); }
    bool isShown() const {
        return (stateWords[0] & kModelShown) && (stateWords[1] & kModelVisiblePhase);
    }
    bool isLinkable() const override { return true; }
    bool getWorldMatrix(Matrix34& out) override;
    // The bone's world matrix: its position follows the scale, its axes
    // stay unit length. False for a bone outside the skeleton.
    bool getBoneWorldMatrix(std::int32_t bone, Matrix34& out) override;
    // Binary search over the name-sorted skeleton; negative when absent.
    std::int32_t findBone(const char* boneName) override;
    // Like getBoneWorldMatrix for the bone that the record's mapped-bone
    // index names; false for a record outside the skeleton or a negative
    // mapped index.
    virtual bool getMappedBoneWorldMatrix(std::int32_t record, Matrix34& out);
    // The world matrix of bone "bip01 head", or the world matrix when there
    // is no such bone.
    void getHeadMatrix(Matrix34& out);
    bool updatePhase0(const CurrentTime& time, std::int32_t mode) override { return prepareFrame(time, mode); }
    bool updatePhase1(const CurrentTime& time, std::int32_t mode) override { return updateFrame(time, mode); }
    bool updatePhase3(const CurrentTime& time, std::int32_t) override { return updateTracking(time); }
    bool updatePhase2(const CurrentTime&, std::int32_t) override { return updateDeferred(); }
    void invalidateLighting() override { updateLightSet(); }
    // Pops a registered model first, then leaves the visibility set and
    // frees the elements and the resource.
    void release() override;

    // The per-frame passes.
    bool prepareFrame(const CurrentTime& time, std::int32_t mode);
    bool updateFrame(const CurrentTime& time, std::int32_t mode);
    bool updateTracking(const CurrentTime& time);
    bool updateDeferred();
    // Each drawn reflecting element hands the current camera its plane (its
    // position and up axis).
    void handMirrorPlanes();
    // Moves the model by the root motion its animation reported, then
    // clears the motion.
    void applyRootMotion();
    // The material waves of the model's elements from the script
    // variables "materials.mat_<scene>.wave..." of its instance name; false
    // without them.
    bool refreshMaterialWaves();
    // Each lit element takes the scene lights that reach its box.
    void collectElementLights();
    // Picks the light set: the named one of the scene's current slot, or
    // the one of the light area around the model.
    bool updateLightSet();

    // ---- placement (ModelPlacement.cpp) ----
    // Stores the world pose (orthonormal) and its inverse. When a component
    // differs by more than 0.001 from the pose the elements were last placed
    // by, the change bits, the element matrices and bounds and the culling
    // element pass follow (so that slow motion adds up). True when changed.
    bool setWorldMatrix(const Matrix34& value);
    // Places the model through its controller, its physics model or
    // directly; the result of setWorldMatrix on the direct road, else true.
    bool setPose(const Matrix34& pose, const CurrentTime& time);
    // setPose as a jump (the physics model's jump bit, the controller told).
    bool teleportTo(const Matrix34& pose, const CurrentTime& time);
    // A linked model takes the pose of its link (as a jump); without a
    // parent link only a message.
    void followParentLink(const CurrentTime& time);
    // The script's teleport: to the waypoint's pose moved offset along its
    // forward row. False (logged) for an empty or unknown waypoint.
    bool teleport(const char* waypoint, float offset);
    // The world matrix turned so that row 0 is the old row 2.
    void getFacingMatrix(Matrix34& out) const;
    // Faces the horizontal direction; one without horizontal length keeps
    // the current facing (logged, false).
    bool setFacingDirection(const float* direction);
    void setScale(const float* value);
    // Eye height: the eye bone of a character, else the resource's box
    // height, else 0.
    float getEyeHeight(bool stored);
    void setMainCharacter(bool on);
    // Texture sets 0..99; another index logs "Invalid texture set [%i] for
    // model [%s]: Choice default value" and selects 0. Elements whose set
    // differs are pushed again. The result of updateLightSet.
    bool setTextureSet(std::int32_t index);
    // Renames the model unless another model of its scene has that name
    // ("Model with name [%s] already exist in this scene"); false then.
    bool checkUniqueName(const char* newName);
    // The box of every element (min from 10000, max from -10000); left
    // untouched for a whole-model receiver or grid debug object.
    void getBounds(float* min, float* max) const;
    // The property block of a placement: texture set, light sets, rules.
    void applyProperties(const ModelProperty& property);
    void applyPendingRules();
    // The light set by name into every element's materials and lights.
    bool applyLightset();
    // A one-shot refresh of the frame passes and culling (dialogs).
    bool refreshNow(const CurrentTime& time);

    // ---- visibility, LOD and culling (ModelVisibility.cpp) ----
    // Shows or hides the model (a fade > 0 times it); pushes or pops it.
    bool setVisible(bool visible, float fade);
    void applyVisibility();
    // Shows or hides one element; false for a bad index or no change.
    bool setElementVisible(std::int32_t index, bool visible);
    // The element of that name (lower-cased), or -1.
    std::int32_t findElement(const char* elementName) const;
    // Makes the element records from the resource; expected -1 checks no
    // count ("Elements count in model [%s] is Invalid. Expected %i, but
    // found %i").
    bool initElements(std::int32_t expected);
    // Each enabled element's LOD by the squared camera distance and the
    // resource's ranges.
    void selectElementLods();
    bool updateElementLods();
    bool releaseElementInstances();
    bool destroyElements();
    // The frame's culling: which elements are in view and drawn, the depth
    // keys; true when the model takes part in the frame.
    bool cull();

    // ---- shadows (ModelShadows.cpp) ----
    void registerShadowCaster();
    void registerShadowReceiver();
    void setShadowCaster(bool on);
    void setShadowReceiver(bool on);
    bool getCasterBounds(float* min, float* max) const;
    // The shadows the model receives, drawn on its receiving elements.
    void drawShadowReceiver(const SceneShadows& shadows);
    // Appends (once each) the shown, enabled, shadow-casting lights that
    // light the model's enabled elements; false for a hidden or inactive
    // model or when the list stays empty.
    bool collectShadowLights(std::vector<GameObjectLink>& out) const;

    // ---- attached lights and particles (ModelAttachments.cpp) ----
    // The resource's lights as scene lights "<object>.<light>" of data
    // "<resource>.<light>", linked to the model or the bone their record
    // names; a light the scene refuses keeps its entry 0. False without
    // the resource header ("Can't create model [%s] lights: Allocate model
    // data first").
    bool createLights(const Matrix34& pose);
    // Every particle record of the resource through addParticle.
    bool createParticles(const Matrix34& pose);
    // The scene particle "<object>.<particle>" of the record, made when the
    // scene has none of that name, linked to the model or its bone and
    // paused unless the record's name begins "bg_"; listed once. out is
    // its handle, 0 when the scene refused it.
    bool addParticle(const ModelParticleAttachment& record, const Matrix34& pose, GameObjectLink& out);
    // Deletes the particle "<object>.<particleName>" (true also when none).
    bool removeParticle(const char* particleName);
    // Switches the attached lights' enabled bit on or off.
    void enableAttachedLights(bool on);
    // Deletes the attached objects that still exist and empties the lists.
    bool deleteLights();
    bool deleteParticles();
    // The body and face sequences: the text is compiled and pushed onto
    // the body or the face stack, replacing what plays. False (logged) when
    // it does not compile or an element cannot be played.
    // A body text "$group" plays the body and face sequences of an entry of
    // that NPC randomisation group for the model's resource.
    bool playSequence(const char* text);
    bool playFaceSequence(const char* text);
    // Idle sequences, kept and played again; a text of one animation is
    // played as an ordinary sequence (logged).
    bool playSequenceIdle(const char* text);
    bool playFaceSequenceIdle(const char* text);
    // ---- voice and lip-sync morph (ModelVoice.cpp) ----
    // Plays a voice line with its lip track: its duration in seconds, 0 on
    // failure (logged). A morph that played before is released first.
    float voice(const char* morphName);
    // Makes the morph of a track (pushed with a pushed model); false
    // (logged) for a hidden model, an existing morph or a missing track.
    bool createMorph(const char* morphName);
    // Stops the morph, deletes its voice and the morph; true.
    bool releaseMorph();
    void stopVoice() {
        if (morph) releaseMorph();
    }
    bool isVoicePlaying() const;
    // The morph's weights into the pose channels at the frame's time.
    void updateMorph(double currentTime);
    // True while either animation stack holds a playing instance.
    bool isAnimationPlaying() const { return animation.isPlaying(); }
    // Stops and empties the body stack.
    void clearBodyStack();
    // An animation event of an instance (or none: the controller's
    // footsteps): "code=argument" turned into a particle, a sound, a
    // footstep, a sound release or an action. False when the event was
    // dropped or is invalid.
    static bool onAnimationEvent(AnimationInstance* instance, Model* model, const char* text,
                                 const CurrentTime& time, std::int32_t phase, bool force);
    // Direct control of a character toward a target: its character
    // controller is sent to the waypoint target of that name, or, with
    // useWaypoint, the model plays the appended sequence of a model
    // waypoint (an error names a target that is none). False for a model
    // without a character controller.
    bool checkDirectControlTarget(const char* targetName, bool useWaypoint);

    // The movement controller: the old one is detached and deleted, a new
    // one of the type made (null when the type makes none); the
    // has-controller bit follows. removeController detaches and deletes it.
    // Plays the animations of the rule record that the rule slot selects as
    // sequences "[name ,speed]"; an empty slot does nothing (true). False
    // for a slot outside 0..15, a record the block does not hold, or a
    // sequence that does not play.
    bool playPropertyRule(std::int32_t slot);
    // Follow mode (walk_distance >= 0): a companion left far behind out of
    // view is placed at the main character's trail, and its controller is
    // told to follow or, at distance 0, to stop. False when the scene has
    // no main character to follow.
    bool followMainCharacter(const CurrentTime& time);
    ModelController* setController(std::int32_t type);
    void removeController();
    // A controller that must go while its own code still runs asks for its
    // removal; the model removes it once the controller's update returned.
    void requestControllerRemoval() { controllerRemovalPending_ = controller != nullptr; }
    bool controllerRemovalPending() const { return controllerRemovalPending_; }
    // Physics: without a physics scene only a message (true).
    bool attachPhysics(const char* physicsName);
    void detachPhysics();
    // The attached physics model, or null.
    PhysicsModel* attachedPhysics() const;
    // Installs what physics models ask of the models they drive.
    static void installPhysicsHooks();

    // The resource element LOD's local matrix times the scaled world
    // matrix.
    bool computeElementMatrix(const Y3Mesh& lod, D3DMATRIX& out) const;
    // The scaled world matrix alone (a slot without a mesh).
    D3DMATRIX computeElementMatrix() const;
    // The mesh model of the resource when it is loaded; null otherwise.
    Y3ModelDefault* meshModel() const;
    Scene* scene() const;
    bool beginsWithNpcPrefix(std::int32_t* group = nullptr) const;

    std::uint32_t sceneLink = 0;
    char resourceName[128] = {};
    // The model resource; null before create and after release.
    Y3ModelData* resource = nullptr;
    std::int32_t pvsAreaIndex = -1;
    // Its last push hid it, its resource being damaged: nothing was pushed.
    bool hiddenAsDamaged = false;
    // The two state words, low first.
    std::uint32_t stateWords[2] = {0, 0};
    std::uint32_t& stateFlags() override { return stateWords[0]; }
    double visibilityTime = -1.0;
    float visibilityDelay = 0.0f;
    float scale[3] = {1.0f, 1.0f, 1.0f};
    Matrix34 worldMatrix{};
    Matrix34 inverseWorldMatrix{};
    GameObjectLink physicsModel;
    ModelProperty properties;
    std::unique_ptr<ModelController> controller;
    std::vector<GameObjectLink> lights;
    std::vector<GameObjectLink> particles;
    // One record per resource element once the model is created.
    std::vector<ModelElement> elements;
    char lightSetName[128] = {};
    float interestDistance = 4.0f;
    float walk_distance = -1.0f;
    std::int32_t textureSet = 0;
    // The state bits its movement controller sets.
    std::uint32_t controlFlags = 0;
    // One item per action of the resource; syncActionItems sizes them to
    // the resource (new items disabled, ranges reset when the count
    // changed) and copies their names. actionIndex finds an item by name
    // (cut to 127 characters): its index, or -1.
    std::vector<ModelActionItem> actionItems;
    void syncActionItems();
    std::int32_t actionIndex(const char* itemName) const;
    // Places every enabled item in the world and offers to the current
    // camera those the player can point at: in the screen camera modes the
    // cursor must lie on the item's screen outline, in the others the item
    // must lie within its reach (its max_range_3d, else the camera's far
    // distance). True without items; false while no camera can be used.
    bool updateActionItems();
    // The screen outline of an item of this frame: its box's corners in
    // front of the camera and a square of its min_size_2d around their
    // middle, without the points inside the others' triangles. False (an
    // empty list) unless the model is drawn and shown, a camera can be used,
    // the spot lies in front within the item's 2D ranges and the outline
    // reaches the screen.
    bool projectActionItem(std::int32_t index, std::vector<ActionScreenPoint>& points) const;
    // The item's spot point on the screen; its own x and y while no camera
    // can be used.
    void projectActionToScreen(std::int32_t index, float& x, float& y) const;
    // The skeleton, the body and face stacks and the root motion.
    ModelAnimation animation{this};
    // The lip-sync morph of the current voice; null when none.
    std::unique_ptr<ModelMorph> morph;
    // The model as a user of its resource record.
    ResourceUser& resourceUser() { return resourceLink_; }

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
    // The fixed-function state of an element draw: its world matrix and,
    // with lighting, the given light alone (a per-light pass) or, for the
    // main pass (light -1), the collected lights up to
    // "max_ffp_model_lights", the other light units off.
    static bool prepareElementFixedPass(ModelElement& element, std::int32_t light, bool lighting);
    // Applies the state cache and issues the current level's draw call:
    // one pass, or two for face mode 2 unless one is forced, each with the
    // cull state of cullStateOf. False when a draw failed.
    static bool drawElementMesh(ModelElement& element, bool forceOnePass = false);
    // The cull state (0 both faces, 1 clockwise, 2 counter-clockwise) of a
    // draw pass (0 or 1) of a material's face mode, mirrored for a
    // reflecting material.
    static std::int32_t cullStateOf(std::uint32_t faceMode, bool mirrored, std::int32_t pass);

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
    // The element's shader constants for a draw with a light (-1: none);
    // false when the light does not light the element's material class.
    static bool prepareElementShaderPass(ModelElement& element, std::int32_t light);
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
    // Places the elements by the current pose: their matrices and bounds,
    // the change bits and the visibility place.
    void placeElements();
    // The pose the elements were last placed by.
    Matrix34 placedPose_ = matrix34Identity();
    bool controllerRemovalPending_ = false;
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
