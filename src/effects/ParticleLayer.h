// One layer of a particle: emits points over repeating emission periods,
// moves them with drag and gravity, ages them through the layer's keyed
// tables, kills them at the end of their life or outside the kill box and
// keeps a bounding box of them.
//
// Time comes as a CurrentTime cut into sub-steps. Random values come from
// the engine's Mersenne twister ("rnd") and, for percentages and indices,
// from the runtime library's rand, both process-wide.
#pragma once

#include <cmath>
#include <cstdint>
#include <memory>
#include <vector>

#include "effects/ParticleData.h"
#include "effects/ParticlePoint.h"
#include "foundation/Intersection.h"
#include "foundation/TimeCore.h"

class Material;
class Particle;
struct ParticlePlacement;

// Bits of ParticleLayer::flags.
constexpr std::uint32_t kLayerEnabled = 0x1;
constexpr std::uint32_t kLayerPointInView = 0x2;
constexpr std::uint32_t kLayerVolumeInView = 0x4;
constexpr std::uint32_t kLayerFollowsParticle = 0x8;
constexpr std::uint32_t kLayerStillFrame = 0x10;
constexpr std::uint32_t kLayerSourceTexture = 0x20;

// The emission state of a layer (72 bytes as saved).
struct ParticleEmission {
    std::uint8_t emitting = 1;
    std::uint8_t padding0[7] = {};
    double time = 0.0;  // 0..1 over one period
    double rate = 0.0;  // 1 / period; 0: a new period must be drawn
    double accumulator = 0.0;  // points owed
    double previous = 0.0;
    float blend = 0.0f;  // weight of curve A against curve B
    std::uint8_t padding1[4] = {};
    double period = -1.0;  // seconds
    std::int32_t keys[2] = {0, 1};
    double fraction = 0.0;
};
static_assert(sizeof(ParticleEmission) == 72, "the emission state is 72 bytes");

// A layer's saved record, read whole before anything is changed.
struct ParticleLayerRecord {
    std::uint32_t flags = 0;
    IntersectionOBBox bounds;
    ParticleEmission emission;
    std::vector<ParticlePoint> points;
    std::int32_t layerIndex = 0;
    double savedValues[2] = {};

    // Bytes, or the first negative result; a point count the bytes that
    // follow cannot hold is refused before anything is allocated.
    std::int32_t read(DataStream& stream);
};

class ParticleLayer {
public:
    ParticleLayer(Particle& owner, std::int32_t index, bool stillFrame = false);
    ~ParticleLayer();

    // The layer's data in the owner's effect, or null when it has none.
    const ParticleLayerData* data() const;
    const ParticleEffect* effect() const;
    // The layer data's name, or "invalid" without an effect.
    const char* nameForMessages() const;

    // Enables the layer, frees the points and clears the emission state.
    void reset();
    // Clears the emission state only.
    void restartTimers();

    // Draws a new emission period with its jitter and blend factor.
    void drawPeriod();
    // The emission of one frame step, cut into sub-steps.
    void emissionStep(const CurrentTime& time);
    // The emission curves' value at emission time t (the blend of curve A
    // and curve B); the emission keys follow t.
    double emissionCurve(double t);
    // Makes up to n points (fewer at the limit, by the replace method).
    void spawn(std::int32_t n);
    // Frees places for an excess of k points by the effect's replace
    // method: the number of points left without a place.
    std::int32_t replace(std::int32_t k);
    // Moves, ages and kills the points over the step; with simulate off
    // only re-places points that follow the particle. full: the colour,
    // frame and rotation update of points in view.
    void pointStep(const CurrentTime& time, bool simulate, bool full);
    // One sub-step of every point; a removed point's place is taken by the
    // last point, updated in turn. With a placement each point that stays
    // is placed right after its update.
    void updatePoints(double dt, bool full, const ParticlePlacement* placement = nullptr);
    // Removes the points on or beyond a face of the kill box.
    void applyKillBox();
    // The per-frame update of an emitted-points layer.
    bool update(const CurrentTime& time, bool simulate);
    // One period of emission and motion in sub-steps of step seconds; of
    // a period longer than the longest point life only its last stretch,
    // the emission skipping ahead to it.
    void preSimulate(double step);
    // Fits the bounds to the points (the half extents at least 0.5 on a
    // flat axis), or to the particle's pose without points.
    void refreshBounds();

    // The saved record: flags, bounds, emission state, points, index and
    // the two saved values.
    std::int32_t write(DataStream& stream) const;
    // Takes a record read whole; the grown extents become its half extents.
    void restore(ParticleLayerRecord&& record);

    // Builds the material from the layer data (texture, blending), its
    // colour (0.5, 0.5, 0.5, 1); a "$source$" texture marks the layer to
    // take the particle's source texture. False without the effect.
    bool prepareForPush();
    // Allocates the material's textures when not done yet; a layer on the
    // source texture without a source name is ready without them.
    bool allocateDeviceData();
    bool deviceDataReady() const;
    // Releases the material's textures.
    void releaseMaterial();
    // Whether the layer volume and its points are in view: by the scene's
    // areas, or by the camera's frustum in screen view. Sets each point's
    // in-view byte; the result is "a point in view".
    bool visibilityTest();
    // Hands the points in view to the render core's quad batch, oriented
    // by the layer's blend mode, drawn with the layer's material.
    void draw(bool twoD);

    // Removes point i: the last point takes its place.
    void removePoint(std::size_t i);

    std::uint32_t flags = 0;
    IntersectionOBBox bounds;
    float grownExtents[3] = {};
    ParticleEmission emission;
    std::vector<ParticlePoint> points;
    std::int32_t layerIndex = 0;
    double savedValues[2] = {};
    Particle* owner;
    std::unique_ptr<Material> material;
    bool deviceData = false;  // the material's textures are allocated
};

// The change of one velocity component v by a drag mode with k = drag
// coefficient x dt and s the point's size; unknown modes leave v.
inline float particleDrag(std::int32_t mode, float v, float k, float s) {
    switch (mode) {
        case 0: return v - v * k;
        case 1: return v - v * k * s;
        case 2: return v - v * k * s * s;
        case 3: return v - v * std::fabs(v) * k;
        case 4: return v - v * std::fabs(v) * k * s;
        case 5: return v - v * std::fabs(v) * k * s * s;
        case 6: return v - v * v * v * k;
        case 7: return v - v * v * v * k * s;
        case 8: return v - v * v * v * k * s * s;
        default: return v;
    }
}

// The drag of all three components: one choice of the mode, then the
// same arithmetic as particleDrag for each component.
inline void particleDrag3(std::int32_t mode, float (&v)[3], float k, float s) {
    switch (mode) {
        case 0: for (float& c : v) c = c - c * k; break;
        case 1: for (float& c : v) c = c - c * k * s; break;
        case 2: for (float& c : v) c = c - c * k * s * s; break;
        case 3: for (float& c : v) c = c - c * std::fabs(c) * k; break;
        case 4: for (float& c : v) c = c - c * std::fabs(c) * k * s; break;
        case 5: for (float& c : v) c = c - c * std::fabs(c) * k * s * s; break;
        case 6: for (float& c : v) c = c - c * c * c * k; break;
        case 7: for (float& c : v) c = c - c * c * c * k * s; break;
        case 8: for (float& c : v) c = c - c * c * c * k * s * s; break;
        default: break;
    }
}
