// The shader core: every shader program of the renderer.
//
// Programs are never compiled here: each program's body is taken from the
// compiled-shader package ("shaders.0050" beside the executable) by its key,
// the profile followed by the program name ("vs_2_0VS_SHADOWD"), turned into
// a device shader when first drawn with, and its constants bound through
// shader variables. A body is not copied: it is read where the package
// keeps it, checked when the program loads, and its constant table and
// variables are built when the program is first made current. Two passes load the programs (vertex, then pixel); a
// body that is missing stops the load, and start() then leaves the renderer
// on the fixed pipeline. Device shaders are released on device loss and
// made again on demand; the bodies stay.
//
// Drawing with the current programs: prepareDraw() moves the pass record
// into the state cache, creates device shaders, commits the programs'
// variables (all of them once after a program became current, then only
// changed ones), makes the shaders current and applies the state cache.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "foundation/Log.h"
#include "platform/d3d9/D3DX9.h"
#include "render/shaders/MultyShader.h"
#include "render/shaders/ShaderProgramTable.h"
#include "render/shaders/ShaderState.h"
#include "render/shaders/ShaderVariables.h"

class Container;
struct ContainerEntry;
class DXStateCache;
class MemoryStream;

// The variable slots of a program, one per mapped name. The slots are made
// when one is first written, so a program never made current (most of the
// families' permutations) costs one pointer.
class ProgramVariables {
public:
    static constexpr std::size_t kCount = ShaderVariablesMapper::kCount;

    ProgramVariables() = default;
    ~ProgramVariables() { clear(); }
    ProgramVariables(const ProgramVariables&) = delete;
    ProgramVariables& operator=(const ProgramVariables&) = delete;

    // A slot to write; the slots are made when missing.
    VertexData*& operator[](std::size_t slot);
    // A slot's variable; none while the slots were never made.
    VertexData* operator[](std::size_t slot) const { return slots_ ? slots_[slot] : nullptr; }
    VertexData* const* begin() const { return slots_.get(); }
    VertexData* const* end() const { return slots_ ? slots_.get() + kCount : nullptr; }
    // Deletes every variable and the slots.
    void clear();

private:
    std::unique_ptr<VertexData*[]> slots_;
};

// One compiled vertex or pixel program.
class ShaderProgram {
public:
    enum Flag : std::uint32_t { Exists = 1, Bound = 2, BodyLoaded = 4, DeviceShaderMade = 8 };
    enum Kind : std::int32_t { KindVertex = 0, KindPixel = 1, KindNone = 3 };

    ShaderProgram() = default;
    ~ShaderProgram();
    ShaderProgram(const ShaderProgram&) = delete;
    ShaderProgram& operator=(const ShaderProgram&) = delete;

    // Kind, table index, name (cut to 255 characters) and source id; the
    // program exists when the source id is not negative.
    void setup(std::int32_t kind, std::int32_t index, const char* name, std::int32_t sourceId);
    // Creates the device shader from the loaded body; false (logged) when
    // there is no body or the device refuses it.
    bool createDeviceShader(IDirect3DDevice9* device, DXStateCache* cache);
    // The device shader only (device loss); the body stays.
    void releaseDeviceShader(DXStateCache* cache);
    // Variables, device shader and body.
    void releaseBody(DXStateCache* cache);
    // Takes an entry of the package as the body (the entry keeps the
    // bytes); false, logged, when the entry cannot hold the body it claims.
    bool readBody(MemoryStream& data);
    // Whether an entry can hold the body it claims (logged when not).
    static bool checkBody(const char* programName, MemoryStream& data);
    // Builds the variables from the body's constant table.
    bool loadVariables(const ShaderVariablesMapper& mapper, ShaderFrameState* frame, ShaderPassState* pass,
                       IDirect3DDevice9* device);
    void releaseVariables();
    // Commits every present variable.
    void commitVariables(bool onlyIfChanged);

    const char* kindWord() const;
    bool has(std::uint32_t flag) const { return (flags & flag) != 0; }

    ProgramVariables variables;
    std::uint32_t flags = 0;
    std::uint8_t byte0 = 0;
    std::uint8_t byte1 = 1;
    std::int32_t kind = KindNone;
    std::int32_t index = 0;
    std::int32_t sequence = 0;
    std::int32_t sourceId = -1;
    IDirect3DVertexShader9* vertexShader = nullptr;
    IDirect3DPixelShader9* pixelShader = nullptr;
    std::uint32_t bodySize = 0;
    // The package entry's bytes, kept by the package until it is released.
    const std::uint8_t* body = nullptr;
    // Set once the constant table and variables were built from the body
    // (or building them was tried and failed).
    bool variablesBuilt = false;
    ID3DXConstantTable* table = nullptr;
    char name[256] = {};
};

class ShaderCore {
public:
    ShaderCore();
    ~ShaderCore();
    ShaderCore(const ShaderCore&) = delete;
    ShaderCore& operator=(const ShaderCore&) = delete;

    // The device and state cache the core works with (either may be null:
    // then nothing reaches a device). The cache must stay until the core is
    // released or attached to another one.
    void attach(IDirect3DDevice9* device, DXStateCache* cache);

    // Loads every program (true and nothing loaded on the fixed pipeline).
    // False at the first missing or unreadable body.
    bool initialize();
    // initialize(); when it fails the renderer goes on with the fixed
    // pipeline (logged, the video core's fall-back flag raised) and the
    // answer is still true, so the device stays usable.
    bool start();
    // Every program and the package's entries (when ready).
    void release();
    // Device loss: the device shaders only (when ready).
    void releaseDeviceShaders();

    // Finds the program's body by its key and checks it; its variables are
    // built by prepareProgram.
    bool loadProgram(ShaderProgram& program, bool force);
    // The package entry of a program of that kind and name under the
    // current profiles; none, logged, when the package lacks it.
    ContainerEntry* findBody(std::int32_t kind, const char* name);
    // The family's program for its current values: the one in its slot, or
    // made there from the body the load found for it. None for a
    // combination the load did not find.
    ShaderProgram* familyProgram(MultyShader& family, bool pixel);
    // Builds a loaded program's constant table and variables the first
    // time it is asked for (made current or drawn with). A body whose table
    // does not read leaves the program without variables, logged once.
    void prepareProgram(ShaderProgram& program);

    // Makes a standalone program current (none for an index out of range).
    void selectPixelProgram(std::int32_t index);
    void selectVertexProgram(std::int32_t index);
    // Makes both programs current (the permutation families use it).
    void selectPrograms(ShaderProgram* vertex, ShaderProgram* pixel);
    // Makes the family's programs of its setup record's values current; an
    // empty slot (a combination never loaded) leaves that stage without one.
    void selectFamilyPrograms(MultyShader& family);
    ShaderProgram* currentVertexProgram() const { return currentVertex_; }
    ShaderProgram* currentPixelProgram() const { return currentPixel_; }

    // The pass record's textures, their flags, the once-a-pass flags and
    // the fog colour cleared (at construction and by resetPass).
    void clearPassTextures();
    // No programs, no textures, the once-a-pass states cleared, frame reset.
    void resetPass();
    // Time from the game clock; the frame record's view and projection to
    // the state cache.
    void resetFrame();
    // The current camera's matrices (16 floats each, row vectors) into the
    // frame record, with the blocks derived from them: its orientation (the
    // camera's world matrix, rows 0 to 2), the rows (1, 0, 0, 0) and
    // (0, 1, 0, 0), the horizontal right axis (the camera's direction, row
    // 2, crossed with up, normalised) and up.
    void setCameraFrame(const float* view, const float* world, const float* projection, const float* viewProjection);
    // The pass record into the state cache.
    void applyPassState();
    // Only the textures of the pass record: every set stage not yet applied.
    void applyPassTextures();
    // Creates device shaders, commits variables and makes the current
    // programs the cache's shaders, vertex program first: when both are
    // current, or with force when only the pixel program is.
    void applyPrograms(bool force = false);
    // applyPassState, applyPrograms and the state cache's apply: what every
    // shader draw runs before its draw call.
    void prepareDraw(bool force = false);

    void readAlphaSettings();
    void readDebugSettings();

    void setGlobalDefines();
    void addDefine(const char* name, const char* format = nullptr, ...) ENGINE_PRINTF(3, 4);
    void clearDefines() { defines.clear(); }
    void logDefines() const;

    bool fixedPipeline() const;
    bool ready() const { return ready_ != 0; }
    Container& container() { return *container_; }

    std::int32_t loadPass = 0;
    std::int32_t vertexProfile = 0;
    std::int32_t pixelProfile = 0;
    ShaderDefineList defines;
    std::int32_t vendorIndex = 1;
    std::int32_t cardIndex = 2;
    ShaderPassState pass;
    ShaderFrameState frame;
    ShaderProgram pixelPrograms[kPixelProgramCount];
    ShaderProgram vertexPrograms[kVertexProgramCount];
    // Rows of the load passes done so far, empty rows included.
    std::int32_t loadedCount = 0;

    float alphaSharp = 127.0f;
    float alphaSmooth = 1.0f;
    float alphaMask = 254.0f;
    std::string debugShaderName;

    // The permutation families, loaded ahead of the standalone programs.
    MultyShaderDynamic20 dynamic20;
    MultyShaderWater20 water20;
    MultyShaderWaterNorm20 waterNorm20;
    MultyShaderParticle20 particle20;
    MultyShaderVertexDebug vertexDebug;
    MultyShader* const families[5] = {&dynamic20, &water20, &waterNorm20, &particle20, &vertexDebug};

    const ShaderVariablesMapper& mapper() const { return *mapper_; }
    // The variable of that name in a program's table; null without the
    // program or when it has no such variable.
    VertexData* programVariable(ShaderProgram* program, const char* name) const;
    ShaderProgramTable& table() { return *table_; }

private:
    // One load pass over the standalone programs [0, count) of a kind.
    bool loadPassPrograms(ShaderProgram* programs, std::int32_t count, bool pixel);
    // One load pass over every permutation of a family's walk.
    bool loadFamily(MultyShader& family, bool pixel);
    // Releases and deletes the programs in a family's slots.
    void deleteFamilyPrograms(MultyShader& family);
    // The bodies of every standalone program and the families' programs.
    void releasePrograms();
    void commitProgram(ShaderProgram& program);

    std::uint8_t ready_ = 0;
    std::unique_ptr<Container> container_;
    std::unique_ptr<ShaderVariablesMapper> mapper_;
    std::unique_ptr<ShaderProgramTable> table_;
    ShaderProgram* currentPixel_ = nullptr;
    ShaderProgram* currentVertex_ = nullptr;
    IDirect3DDevice9* device_ = nullptr;
    DXStateCache* cache_ = nullptr;
};
