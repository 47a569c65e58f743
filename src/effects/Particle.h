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
#include <vector>

#include "scene/GameObject.h"
#include "scene/SceneObjectFlags.h"

class Scene;
struct ParticleEffect;

// Bits of Particle::state.
constexpr std::uint32_t kParticleShown = 0x1;
constexpr std::uint32_t kParticlePaused = 0x4;  // no emission
constexpr std::uint32_t kParticleAreasToRefresh = 0x400;
constexpr std::uint32_t kParticlePlaced = 0x4000;
constexpr std::uint32_t kParticleSpawned = 0x400000;  // points spawned during this update

class Particle : public GameObject, public SceneObjectFlags {
public:
    // A particle of the scene showing the effect at the pose; null (not
    // made, logged) when the packages hold no such effect.
    static Particle* create(Scene& scene, const char* effect, const char* name, const Matrix34& pose);
    Particle(std::uint32_t sceneLink, const char* effect, const char* name, const Matrix34& pose);

    std::uint32_t getType() const override { return ObjectParticle; }
    const char* getName() const override { return particleName; }
    std::uint32_t getSceneLink() const override { return sceneLink; }
    bool push() override;
    bool pop(std::uint32_t argument) override;
    // The record: name (u16 length and bytes), pose (48 bytes), state word.
    // Reading refuses a name too long for its field and clears the pushed
    // bit.
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
    bool updatePhase2(const CurrentTime&, std::int32_t) override { return true; }
    void invalidateLighting() override {}
    void release() override {}

    std::uint32_t& stateFlags() override { return state; }
    bool isOnStack() override { return (state & kParticleOnStack) != 0; }

    char particleName[128] = {};
    Matrix34 pose = matrix34Identity();
    std::uint32_t state = kParticleShown | kParticlePlaced;
    std::uint32_t sceneLink = 0;

    // What the layers read and change while they simulate.
    const ParticleEffect* effectData = nullptr;
    std::int32_t livePointCount = 0;  // over all layers
    // When not empty, spawning cycles through these offsets.
    std::vector<std::array<float, 3>> emissionPoints;
    float density = 1.0f;  // multiplies the spawn counts with the emission points
    float size[3] = {1.0f, 1.0f, 1.0f};  // per axis, times the effect's base scale
    float baseSize[3] = {1.0f, 1.0f, 1.0f};
};
