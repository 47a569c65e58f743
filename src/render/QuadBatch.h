// The quad batch: the render core's one dynamic vertex buffer for geometry
// built on the processor every frame (still-frame item quads, particle
// quads). Runs of vertices that share a primitive kind, a material and an
// item state are appended with no-overwrite locks and drawn by one call when
// something changes, when the buffer is full or when a caller flushes.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/d3d9/D3D9.h"

class DXStateCache;
class Material;
struct ParticlePoint;
class ShaderCore;
struct StillFrameItemState;
struct StillFrameQuad;

// The batch's 44-byte vertex.
struct QuadVertex {
    float position[3];
    float normal[3];
    std::uint32_t diffuse;  // ARGB
    float texCoord0[2];
    float texCoord1[2];
};
static_assert(sizeof(QuadVertex) == 44, "the batch vertex is 44 bytes");
// Its layout is the mesh vertex format "LMC+Normal" (position, normal,
// colour, texture and light-map coordinates): the batch draws with that
// format's declaration, set through the state cache like every other.
constexpr std::uint32_t kQuadVertexFormat = 18;

// How a particle layer turns its quads (the layer's mode, 0 to 5). Right
// and up start from the camera's axes (the identity for 2D particles).
enum SpriteOrientation : std::int32_t {
    SpriteScreen = 0,         // the camera's right and up turned by the point's axis
    SpriteFacingCamera = 1,   // facing the camera position, up as upright as it can be
    SpriteAlongVelocity = 2,  // up along the world velocity, turned to the camera
    SpriteAlongVelocity2 = 3, // the same
    SpriteOwnPose = 4,        // the birth pose's x and y axes turned by the point's axis
    SpriteHorizontal = 5,     // up is the point's axis in the x-z plane, right horizontal beside it
};

class QuadBatch {
public:
    static constexpr std::int32_t kCapacity = 50000;
    static constexpr std::int32_t kVertexBytes = 44;

    enum Flag : std::uint32_t {
        FlagNewRun = 2,           // the next append flushes and discards
        FlagBlend10 = 4,          // blend mode 10 without material and item state
        FlagBlend8 = 8,           // blend mode 8 likewise
        FlagLit = 32,             // fixed lights and material
        FlagSecondDraw = 64,      // each run drawn again with other states
        FlagSolid = 128,          // FILLMODE solid
        FlagDepthAlways = 1024,   // depth function 1 instead of 6 (no material, no state)
        FlagParticles2D = 2048,   // the pending run holds 2D particles
    };
    enum Kind : std::int32_t { KindNone = -1, KindPoints = 0, KindLines = 1, KindTriangles = 2 };

    QuadBatch() = default;
    // The state cache and shader core the batch draws through (the render
    // core's); without them a flush draws nothing and fails.
    void attach(DXStateCache* cache, ShaderCore* shaders) {
        cache_ = cache;
        shaders_ = shaders;
    }
    ~QuadBatch();
    QuadBatch(const QuadBatch&) = delete;
    QuadBatch& operator=(const QuadBatch&) = delete;

    // Appends count vertices of a kind; absent arrays leave their fields
    // zero. Vertex i takes colour min(i, colourCount - 1); a run without
    // colours is refused. False when the buffer cannot be made or locked,
    // when count exceeds the buffer, or when a needed flush failed.
    bool addVertices(std::int32_t kind, const float* texCoords0, const float* texCoords1, const float* positions,
                     const float* normals, std::int32_t count, const std::uint32_t* colours,
                     std::int32_t colourCount, Material* material, const StillFrameItemState* state);
    // Draws the pending run; true when nothing was pending or the draw
    // succeeded.
    bool flush();
    // Draws a batch of still-frame quad records (one quad a frame, or one
    // for the whole image), then empties it.
    void drawList(std::vector<StillFrameQuad>& quads);
    // Two triangles for every live point (in-view byte set) of a layer's
    // array, in one run, oriented by a SpriteOrientation mode; 2D particles
    // go to the still-frame screen (100 units a particle unit, y up from 768).
    void addSpriteQuads(const ParticlePoint* points, std::int32_t count, std::int32_t orientation,
                        Material* material, bool twoD);
    // A material about to be freed: a pending run drawn with it is drawn
    // now, and the batch no longer compares later runs with it.
    void forgetMaterial(const Material* material);
    // Releases the buffer and forgets the pending run; false without a
    // buffer.
    bool release();
    // The counters of a release, the buffer kept (scene change).
    void resetCounters();
    static bool canMerge(const StillFrameItemState& a, const StillFrameItemState& b);

    std::uint32_t flags = 0;
    std::int32_t used() const { return used_; }
    std::int32_t drawn() const { return drawn_; }
    std::int32_t kind() const { return kind_; }
    bool pending() const { return kind_ != KindNone && drawn_ != used_; }
    IDirect3DVertexBuffer9* buffer() const { return buffer_; }

private:
    bool createBuffer(IDirect3DDevice9* device);
    // The still-frame post effect ("bw", "sepia") of the pending item state
    // on the programmable pipeline: its programs made current with their
    // constants; false when the effect is off or cannot be drawn.
    bool applyItemEffect(IDirect3DDevice9* device);
    void releaseEffectPrograms();
    QuadVertex* lock(DWORD lockFlags, std::int32_t first, std::int32_t count);
    bool unlock();
    void applyRunStates();
    void applyLights(DXStateCache& cache);

    DXStateCache* cache_ = nullptr;
    ShaderCore* shaders_ = nullptr;
    IDirect3DVertexBuffer9* buffer_ = nullptr;
    bool locked_ = false;
    std::int32_t used_ = 0;
    std::int32_t drawn_ = 0;
    std::int32_t kind_ = KindNone;
    Material* material_ = nullptr;
    const StillFrameItemState* state_ = nullptr;
    bool lightsSet_ = false;
    IDirect3DDevice9* effectDevice_ = nullptr;
    IDirect3DVertexShader9* effectVertex_ = nullptr;
    IDirect3DPixelShader9* effectPixel_ = nullptr;
    D3DLIGHT9 lights_[3] = {};
};

// The still-frame screen: 1024 x 768 units, y down, as clip space.
void stillFrameScreenMatrices(D3DMATRIX& view, D3DMATRIX& projection);
