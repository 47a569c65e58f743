// Particle effects (".effect"): the shared description of how a particle's
// layers emit points and how the points change over their life, and the
// database that keeps the effects by name.
//
// Most of a layer is three raw blocks of fixed layout read straight from the
// file; their unnamed bytes are carried unchanged. Values that change over
// time are keyed tables of 100 doubles (entry k at normalised time k / 99).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "model/ObjectContext.h"
#include "render/TextureLink.h"
#include "resources/DataManager.h"
#include "resources/Y3ResourceManager.h"

class DataStream;
class ParticleContext;

// A keyed table: the value at normalised time t in [0, 1], interpolated
// between the entries floor(99 t) and the next (both 99 at the end).
using ParticleTable = double[100];
// The longest emission period (with its jitter) an effect may have, in
// seconds.
constexpr double kMaxParticleEmissionPeriod = 600.0;
// The two entries a time falls between and the weight of the second.
struct ParticleKeys {
    std::int32_t first = 0;
    std::int32_t second = 1;
    double fraction = 0.0;
};
// Inline: the point update takes keys for every point and sub-step. 99 t
// lies in [0, 99], where truncation is the floor.
// The keys of a time already in [0, 1].
inline ParticleKeys particleKeysInRange(double t) {
    ParticleKeys keys;
    const double scaled = 99.0 * t;
    keys.first = static_cast<std::int32_t>(scaled);
    keys.fraction = scaled - keys.first;
    keys.second = keys.first + 1;
    if (keys.second >= 100) {
        keys.first = keys.second = 99;
        keys.fraction = 1.0;
    }
    return keys;
}
inline ParticleKeys particleKeys(double t) {
    if (!(t > 0.0)) t = 0.0;
    if (t > 1.0) t = 1.0;
    return particleKeysInRange(t);
}
inline double particleTableAt(const ParticleTable& table, const ParticleKeys& keys) {
    return (1.0 - keys.fraction) * table[keys.first] + keys.fraction * table[keys.second];
}
inline double particleTableValue(const ParticleTable& table, double t) {
    return particleTableAt(table, particleKeys(t));
}

// How a layer emits points (14,616 bytes as stored).
struct ParticleEmissionBlock {
    char name[128];
    float boxMin[3];
    float boxMax[3];
    float innerRadius;
    float outerRadius;
    std::int32_t shape;  // 0 box, 1 sphere
    std::uint8_t bytes164[4];
    float offset[3];  // added to every new point
    std::uint8_t bytes180[4];
    ParticleTable velocityX;
    ParticleTable velocityY;
    ParticleTable velocityZ;
    float spread[3];
    std::uint8_t bytes2596[4];
    ParticleTable speedMin;
    ParticleTable speedMax;
    ParticleTable table4200;
    ParticleTable lifetimeMin;  // seconds
    ParticleTable lifetimeMax;
    ParticleTable table6600;
    ParticleTable curveA;
    ParticleTable curveB;
    ParticleTable table9000;
    float period;  // seconds
    float periodJitter;
    std::uint8_t loop;
    std::uint8_t bytes9809[7];
    ParticleTable sizeScaleMin;
    ParticleTable sizeScaleMax;
    ParticleTable table11416;
    ParticleTable rotationScaleMin;
    ParticleTable rotationScaleMax;
    ParticleTable table13816;
};
static_assert(sizeof(ParticleEmissionBlock) == 14616, "the emission block is 14,616 bytes");
static_assert(offsetof(ParticleEmissionBlock, velocityX) == 184 && offsetof(ParticleEmissionBlock, spread) == 2584 &&
                  offsetof(ParticleEmissionBlock, lifetimeMin) == 5000 &&
                  offsetof(ParticleEmissionBlock, curveA) == 7400 && offsetof(ParticleEmissionBlock, period) == 9800 &&
                  offsetof(ParticleEmissionBlock, sizeScaleMin) == 9816 &&
                  offsetof(ParticleEmissionBlock, rotationScaleMax) == 13016,
              "the emission block's fields are at their stored offsets");

// How a point changes over its life (12,184 bytes as stored).
struct ParticleLifeBlock {
    char name[128];
    float gravity;  // along the point's down direction
    float drag;
    std::uint8_t bytes136[8];
    std::int32_t dragMode;  // 0..8
    float frameSpeedMin;    // frames per second
    float frameSpeedMax;
    std::uint8_t randomStartFrame;
    std::uint8_t randomFrameDirection;
    std::uint8_t bytes158[2];
    std::int32_t frameMode;  // 0 by age, 1 by frame speed, wrapping; else frame 0
    float startAngleMin;     // radians
    float startAngleMax;
    std::uint8_t randomRotationDirection;
    std::uint8_t randomHorizontalMirror;
    std::uint8_t randomVerticalMirror;
    std::uint8_t byte175;
    ParticleTable size;
    ParticleTable table976;
    ParticleTable table1776;
    ParticleTable rotation;
    ParticleTable table3376;
    ParticleTable table4176;
    ParticleTable red;
    ParticleTable green;
    ParticleTable blue;
    ParticleTable alpha;
    ParticleTable table8176;
    ParticleTable table8976;
    ParticleTable stretch;
    ParticleTable table10576;
    ParticleTable table11376;
    std::uint8_t stretchFlag;
    std::uint8_t bytes12177[7];
};
static_assert(sizeof(ParticleLifeBlock) == 12184, "the life block is 12,184 bytes");
static_assert(offsetof(ParticleLifeBlock, dragMode) == 144 && offsetof(ParticleLifeBlock, frameMode) == 160 &&
                  offsetof(ParticleLifeBlock, size) == 176 && offsetof(ParticleLifeBlock, rotation) == 2576 &&
                  offsetof(ParticleLifeBlock, red) == 4976 && offsetof(ParticleLifeBlock, alpha) == 7376 &&
                  offsetof(ParticleLifeBlock, stretch) == 9776 && offsetof(ParticleLifeBlock, stretchFlag) == 12176,
              "the life block's fields are at their stored offsets");

// The layer's texture atlas and blend mode (40 bytes as stored).
struct ParticleAtlasBlock {
    std::int32_t blendMode = 0;  // 0..5, handed to the quad batch
    std::uint8_t bytes4[4] = {};
    std::int32_t rows = 1;  // animation frames, down the texture
    std::uint8_t bytes12[4] = {};
    float cellHeight = 0.0f;
    std::int32_t columns = 1;  // variants, across the texture
    std::uint8_t bytes24[4] = {};
    float cellWidth = 0.0f;
    float cameraOffset = 0.0f;  // fixed quads: moved along the view direction by this
    std::uint8_t bytes36[4] = {};
};
static_assert(sizeof(ParticleAtlasBlock) == 40, "the atlas block is 40 bytes");

// One layer of an effect, in the effect's layer order.
struct ParticleLayerData {
    ParticleEmissionBlock emission{};
    ParticleLifeBlock life{};
    ParticleAtlasBlock atlas;
    MaterialData material;
    float tint[4] = {};  // multiplied into every point's colour
    std::uint32_t parameters[3] = {};

    // Reads the layer's blocks in file order: bytes, or the first negative
    // result.
    std::int32_t read(DataStream& stream);
};

// The fewest bytes a stored layer takes: its blocks, the material head and
// four texture records that are off (one byte each).
constexpr std::int32_t kParticleLayerMinimumBytes = 14616 + 12184 + 40 + 116 + 4 + 16 + 12;

// Bits and values of ParticleEffect::kind.
constexpr std::uint32_t kParticleKindFixedQuads = 0;
constexpr std::uint32_t kParticleKindEmitted = 1;

// The limits block (52 bytes as stored).
struct ParticleLimits {
    std::int32_t pointLimit = 0;  // the most live points a layer may hold
    std::int32_t replaceMethod = 0;  // 0, 1 or 2
    std::int32_t killBoxMode = 0;    // 1: points leaving the kill box die
    std::uint32_t word12 = 0;
    float killBoxMin[3] = {};
    float killBoxMax[3] = {};
    std::uint32_t words40[2] = {};
    std::uint8_t worldSpace = 0;  // points keep their emitter's pose at birth
    std::uint8_t bytes49[3] = {};
};
static_assert(sizeof(ParticleLimits) == 52, "the limits block is 52 bytes");

// The render block (28 bytes as stored).
struct ParticleRenderBlock {
    float timeScale = 0.0f;  // multiplies simulated time
    std::uint32_t word4 = 0;
    std::int32_t renderKey = 0;    // added to each instance's sort key
    std::int32_t detailLevel = 0;  // the least video detail value that shows the effect
    float baseScale = 0.0f;        // multiplies the particle's size
    std::uint32_t words20[2] = {};
};
static_assert(sizeof(ParticleRenderBlock) == 28, "the render block is 28 bytes");

// One effect, shared by every particle that shows it.
struct ParticleEffect {
    std::uint32_t flags = 0;
    std::uint32_t kind = kParticleKindFixedQuads;
    char name[128] = {};
    char sound[128] = {};  // sound alias played when a particle starts emitting; empty: none
    char secondName[128] = {};
    std::vector<std::unique_ptr<ParticleLayerData>> layers;
    ParticleLimits limits;
    ParticleRenderBlock render;

    // Reads the effect: bytes, or the first negative result. A damaged
    // effect (short block, a layer count the bytes cannot hold, a layer the
    // simulation could not run) is refused with a message naming it.
    std::int32_t read(DataStream& stream, const char* resourceName);
    // Releases the layers' texture links, then the layers.
    void release();
};

// The effect resource: once its header is loaded it owns one effect.
class Y3ParticleData : public ResourceRecord {
public:
    explicit Y3ParticleData(const char* name);
    ~Y3ParticleData() override;

    std::int32_t readHeader(DataStream& stream) override;
    bool hasObject() const override { return effect != nullptr; }
    void deleteObject() override;

    std::unique_ptr<ParticleEffect> effect;
    // The render context of the particles pushed on this effect; null
    // while none is pushed. The render object owns it.
    ParticleContext* context = nullptr;
    RenderObject renderObject;
};

class ParticleDataManager : public Y3ResourceManager<Y3ParticleData, kProgressNoReportStage, kProgressNoReportStage>,
                            public DataManager {
public:
    ParticleDataManager();

    const char* sourceExtension() const override { return info_->sourceExtension; }
    const char* compiledExtension() const override { return info_->compiledExtension; }
    std::int32_t typeNumber() const override { return info_->typeNumber; }
    const char* title() const override { return info_->title; }
    std::int32_t readResource(DataStream&, const char*, std::int32_t) override { return -1; }
    // Effects are written by the effect tool, never imported here: nothing
    // is touched, the refusal is logged, false.
    bool compileFromSource(const char* sourcePath) override;
    bool initialize() override { return true; }
    void release() override { releaseAll(); }

    // Makes an effect and reads it from the stream into out: bytes, or the
    // first negative result with out cleared.
    static std::int32_t createData(DataStream& stream, std::unique_ptr<ParticleEffect>& out, const char* name);
    // Releases one effect's textures and layers.
    static void releaseTextures(ParticleEffect& effect) { effect.release(); }

    // The effect of that name, its header loaded on first use; null when
    // the packages cannot give it (the resource messages say why).
    ParticleEffect* acquire(const char* name);

private:
    const DataManagerInfo* info_;
};

// The particle effects of the renderer, or null without one.
ParticleDataManager* particleDataManager();
void setParticleDataManager(ParticleDataManager* manager);
