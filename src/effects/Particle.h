// The particle game object (type 0): one particle effect (".effect")
// placed in a scene.
//
// This form holds what a scene and a saved game keep of a particle: its
// name, placement, state word (shown, pushed, placed) and scene. The
// effect's layers, their simulation and drawing come with the particle
// effects.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <vector>

#include "model/ObjectContext.h"
#include "resources/Y3ResourceManager.h"
#include "scene/GameObject.h"
#include "scene/SceneObjectFlags.h"

class Particle;
class Scene;
class TextureLink;
struct ParticleEffect;
class ParticleLayer;
class Y3ParticleData;

// Bits of Particle::state.
constexpr std::uint32_t kParticleShown = 0x1;
constexpr std::uint32_t kParticlePaused = 0x4;  // no emission
constexpr std::uint32_t kParticleAreasToRefresh = 0x400;
constexpr std::uint32_t kParticlePlaced = 0x4000;
constexpr std::uint32_t kParticleSpawned = 0x400000;  // points spawned during this update
constexpr std::uint32_t kParticleStillFrame = 0x8000000;  // owned by a still frame (2D)
constexpr std::uint32_t kParticleLightingToRefresh = 0x200;
constexpr std::uint32_t kParticleMovedInView = 0x800;
constexpr std::uint32_t kParticleRefreshBounds = 0x100000;
constexpr std::uint32_t kParticleVolumeInView = 0x8;
constexpr std::uint32_t kParticlePointInView = 0x10;
constexpr std::uint32_t kParticleSoundArmed = 0x200000;
constexpr std::uint32_t kParticlePreSimulate = 0x20000000;

// The render list entry of the pushed particles of one effect: each frame
// it runs their visibility, queues one draw item per layer and particle in
// view and draws the items' layers through the quad batch.
class ParticleContext : public ObjectContext {
public:
    static constexpr std::int32_t kType = 2;
    std::int32_t type() const override { return kType; }
    // Whether any pushed particle has a point in view.
    bool cull() override;
    // Queue 0 items (key: the particle's sort key plus the effect's render
    // key), layer by layer, each particle in view in array order.
    void update(const Matrix34& camera) override;
    // Draws the layers of the run of this context's items.
    std::int32_t render(const DrawItem* items, std::int32_t count, std::int32_t index, std::int32_t step) override;
    bool renderSecondPass() override { return false; }
    bool renderRainMap(float, float, float) override { return false; }
    // Lists the particles still held; true when none.
    bool reportReferences() override;

    // Enters the particle into the effect's user list and context (made on
    // the first push); refused while the render list is locked.
    static bool push(Y3ParticleData* record, Particle& particle);
    // Takes it out; the last one out releases the context.
    static bool pop(Y3ParticleData* record, Particle& particle);

    std::vector<Particle*> instances;
    Y3ParticleData* record = nullptr;
};

class Particle : public GameObject, public SceneObjectFlags, public ResourceUser {
public:
    // A particle of the scene showing the effect at the pose; null (not
    // made, logged) when the packages hold no such effect.
    static Particle* create(Scene& scene, const char* effect, const char* name, const Matrix34& pose,
                            bool forLoading = false);
    // A particle of a still frame (no scene, the flush flag set): null while
    // the effect record is missing or unavailable.
    static Particle* createForStillFrame(Y3ParticleData* effect, const char* name);
    Particle(std::uint32_t sceneLink, const char* effect, const char* name, const Matrix34& pose);
    ~Particle() override;

    const char* resourceUserName() const override { return particleName; }
    bool resourcePushed() const override { return userRegistered_; }
    void setResourcePushed(bool pushed) override;
    // The effect's data as its record holds them now (null once unloaded).
    const ParticleEffect* syncEffect();

    // The effect's data, its header loaded now when needed; null when it
    // cannot be had (the resource messages say why).
    const ParticleEffect* loadEffect();
    // One layer per layer of the loaded effect, each reset, and their
    // bounds; the live point count starts from 0.
    void buildLayers();
    // Takes the pose; the stored position follows only a move of more than
    // 0.1 on some axis, which also marks lighting and areas to refresh.
    bool setPose(const Matrix34& pose);
    // The size per axis: the base size times the effect's base scale.
    void updateBounds(const float* baseSize);
    // Shows (and pushes) or hides (and pops); nothing when already so.
    bool setVisible(bool show, bool quiet);
    // Pauses (no emission) or plays; nothing when already so.
    bool setPaused(bool pause, bool quiet);
    // Shown, pushed and placed: what the script reads as visible.
    bool drawable() const {
        const std::uint32_t all = kParticleShown | kParticleOnStack | kParticlePlaced;
        return (state & all) == all;
    }
    // Sizes anew, no live points, every layer restarted, then one update.
    void restart(const CurrentTime& time);
    // Restarts every layer's timers (the points live on), runs one update
    // with the time and arms the start sound again.
    void resetLayers(const CurrentTime& time);
    // Renames within the scene: refused when another particle has the name.
    bool checkUniqueName(const char* newName);
    // Clears the live count, takes the pose; unless skipLayers, one layer
    // per layer of the effect; registers in the scene's visibility areas
    // (one element a layer); then a restart. True.
    bool registerInPVS(const Matrix34& pose, bool skipLayers);
    // The scene the particle belongs to (none for a still frame's).
    Scene* owningScene() const;
    // Takes the particle out of its scene's visibility areas.
    void unregisterFromPVS();
    // The visibility step: the sort key in screen view, the layers' tests,
    // an invisible parent. The result is "a point in view".
    bool visibilityStep();
    // Takes the pose of the scene's waypoint (kind 0) moved offset units
    // along its x axis; false (logged) without a name or waypoint.
    bool teleport(const char* waypoint, float offset);
    // Links the particle to a model of the current scene (or its bone) with
    // the identity local pose; false (logged) without such a model.
    bool linkTo(const char* object, const char* bone);
    bool unlink();
    // Draws every layer of a still-frame particle (2D); false unless shown,
    // pushed and placed.
    bool render2D();
    // The step of a pre-simulation: 1 / bg_particle_simulation_fps, at most 1 s.
    static double preSimulationStep();
    // Runs one period of every layer in pre-simulation steps.
    void preSimulate();

    std::uint32_t getType() const override { return ObjectParticle; }
    const char* getName() const override { return particleName; }
    // The saved object table names the effect: a load makes the particle
    // on it, and the record brings the particle's own name.
    const char* recordName() const override { return name; }
    std::uint32_t getSceneLink() const override { return sceneLink; }
    bool push() override;
    bool pop(std::uint32_t argument) override;
    // The record: live point count, name, placement (position, pose and
    // its inverse), text field, size and base size, area index, state word
    // and the layers' records. Reading takes the whole record before it
    // changes the particle; a damaged one changes nothing (-1). A loaded
    // particle is not pushed.
    std::int32_t write(DataStream& stream) override;
    std::int32_t read(DataStream& stream) override;
    // Reads a saved record into scratch fields (the check before a
    // restore): bytes or negative.
    static std::int32_t checkRecord(DataStream& stream);
    bool validate() override { return true; }
    bool isHidden() const override { return (state & kParticleShown) == 0; }
    bool getWorldMatrix(Matrix34& out) override {
        out = pose;
        return true;
    }
    bool updatePhase0(const CurrentTime&, std::int32_t) override { return true; }
    bool updatePhase1(const CurrentTime&, std::int32_t) override { return true; }
    bool updatePhase3(const CurrentTime&, std::int32_t) override { return true; }
    // The per-frame update: pre-simulation when pending, the layers'
    // emission and motion while a layer volume is in view, their bounds.
    // False when a layer failed.
    bool updatePhase2(const CurrentTime& time, std::int32_t flag) override;
    void invalidateLighting() override { state &= ~kParticleLightingToRefresh; }
    // Pops when pushed, frees the layers; the live count becomes 0.
    void release() override;

    std::uint32_t& stateFlags() override { return state; }
    bool isOnStack() override { return (state & kParticleOnStack) != 0; }

    char particleName[128] = {};
    Matrix34 pose = matrix34Identity();
    // A new particle: shown, volume in view, lighting, areas and bounds to
    // refresh, moved in view, placed, start sound armed.
    std::uint32_t state = kParticleShown | kParticleVolumeInView | kParticleLightingToRefresh | kParticleAreasToRefresh |
                          kParticleMovedInView | kParticlePlaced | kParticleRefreshBounds | kParticleSoundArmed;
    std::uint32_t sceneLink = 0;

    // What the layers read and change while they simulate.
    const ParticleEffect* effectData = nullptr;
    std::int32_t livePointCount = 0;  // over all layers
    // When not empty, spawning cycles through these offsets.
    std::vector<std::array<float, 3>> emissionPoints;
    float density = 1.0f;  // multiplies the spawn counts with the emission points
    float size[3] = {1.0f, 1.0f, 1.0f};  // per axis, times the effect's base scale
    float baseSize[3] = {1.0f, 1.0f, 1.0f};
    float position[3] = {};  // the translation of the last move over 0.1
    char textField[128] = {};  // kept with the object
    std::int32_t areaIndex = -1;  // the visibility area, -1 in none
    Y3ParticleData* effectRecord = nullptr;
    std::vector<std::unique_ptr<ParticleLayer>> layers;
    // A layer texture named "$source$" takes this name (a still frame's).
    const char* sourceTexture = nullptr;
    // Still-frame drawing. flush: the still frame's quads queued so far are
    // drawn and the 2D view and projection set before the particle draws
    // (every still-frame particle has it). background: the particle of a
    // backdrop item, which runs on the real clock so that it keeps moving
    // while the game clock is paused.
    bool flush = false;
    bool background = false;
    // The emitters sample a mask: spawning takes its places from the
    // emission points alone, which the owner rebuilds from the alpha of the
    // mask texture (not owned); while there are none nothing is spawned.
    bool emissionMask = false;
    TextureLink* maskTexture = nullptr;
    // 100,000,000 - 10,000 x the camera distance in screen view, else 0.
    std::int32_t sortKey = 0;

private:
    bool userRegistered_ = false;  // in the effect record's user list
};
