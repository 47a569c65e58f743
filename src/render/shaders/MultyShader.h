// The multi-shader permutation families: one program source compiled into
// many permutations, each with its own integer defines.
//
// A family knows how to name, walk, validate and index its permutations; the
// shader core loads every permutation a walk produces from the shader
// package by its name, and at draw time takes the two programs of the
// setup record's current values. The shader packer walks the same classes,
// so every name the engine asks for is in the package.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <new>
#include <utility>
#include <vector>

#include "platform/ZeroedMemory.h"
#include "render/shaders/ShaderProgramTable.h"

class ShaderProgram;
struct ContainerEntry;

// The integer defines of the families and their name suffixes.
enum FamilyDefine : std::int32_t {
    DefineBones,
    DefineLight,
    DefineLmask,
    DefineLmode,
    DefineAmbient,
    DefineSpecular,
    DefineEnvmap,
    DefineTerrain,
    DefineParallax,
    DefineNormalmap,
    DefineDepth,
    DefineWave,
    DefineWater,
    DefineAlign,
    DefineVertexDebug,
    kFamilyDefineCount
};

// The define's name ("BONES") and the suffix of a value ("" past the table).
const char* familyDefineName(FamilyDefine define);
const char* familyDefineSuffix(FamilyDefine define, std::int32_t value);

// A family's slot table is dense (every combination of the defines has a
// slot, 388,800 in the largest family) and nearly all slots stay empty: it
// lies on zeroed pages that cost nothing until a slot is filled.
using ShaderSlotTable = std::vector<ShaderProgram*, platform::ZeroedAllocator<ShaderProgram*>>;

class MultyShader {
public:
    // The values of the family's defines.
    struct Setup {
        virtual ~Setup() = default;
        virtual bool query0() const { return false; }
        virtual bool query1() const { return false; }
        // The shader model the pixel permutations are made for.
        virtual void shaderModel(std::int32_t& major, std::int32_t& minor) const = 0;
    };

    virtual ~MultyShader() = default;
    MultyShader(const MultyShader&) = delete;
    MultyShader& operator=(const MultyShader&) = delete;

    // The family's defines with their current values ("%i"), after the
    // global ones already in the list.
    void appendDefines(ShaderDefineList& list) const;
    // The permutation names of the current values (cut at 255 characters).
    void vertexName(char (&buffer)[256]) const;
    void pixelName(char (&buffer)[256]) const;
    // Slot indices and slot addresses of the current values. A value
    // outside its define's range has no slot: the index is -1 and the
    // address that of an empty slot outside the arrays.
    std::int32_t vertexSlotIndex() const;
    std::int32_t pixelSlotIndex() const;
    ShaderProgram** vertexSlot() { return slot(vertexSlots, vertexSlotIndex()); }
    ShaderProgram** pixelSlot() { return slot(pixelSlots, pixelSlotIndex()); }
    // The walks: reset starts at the first combination (true); otherwise the
    // next valid one, false when the walk wraps.
    bool nextVertex(bool reset);
    bool nextPixel(bool reset);
    bool setupQuery0() const { return setup().query0(); }
    bool setupQuery1() const { return setup().query1(); }
    void shaderModel(std::int32_t& major, std::int32_t& minor) const { setup().shaderModel(major, minor); }

    // The value of a define (0 for one the family does not have); setting
    // it is how a draw chooses its permutation.
    std::int32_t value(FamilyDefine define) const;
    void set(FamilyDefine define, std::int32_t value);
    bool has(FamilyDefine define) const { return values_[define] != nullptr; }
    // Whether the current values form a valid combination.
    virtual bool valid() const { return true; }

    std::int32_t sourceId;
    std::int32_t vertexIndex;
    std::int32_t pixelIndex;
    ShaderSlotTable vertexSlots;
    ShaderSlotTable pixelSlots;
    // The permutations the shader core's load found in its package, by slot
    // index (ascending; the last found wins a slot), each with its package
    // entry (none for a family without source). A permutation's program is
    // made in its slot when a draw first asks for it.
    struct Found {
        std::int32_t slot;
        ContainerEntry* entry;
    };
    std::vector<Found> vertexFound;
    std::vector<Found> pixelFound;
    // The slots holding a program, in the order they were filled: the
    // release walks these, never the dense tables, whose empty pages stay
    // untouched (on a kernel without a shared zero page even a read of one
    // costs a page).
    std::vector<std::int32_t> vertexFilled;
    std::vector<std::int32_t> pixelFilled;
    // Whether the shader core's vertex or pixel profile index is 0 (always
    // so while the programs load); the water rules depend on it.
    bool lowProfile = true;

protected:
    struct Digit {
        FamilyDefine define;
        std::int32_t radix;
        std::int32_t clamp;  // index only: the value is taken at most this (-1: not clamped)
    };
    struct Walk {
        std::vector<Digit> digits;  // fastest first
        bool validate = false;       // every step is followed until valid
        bool validateFirst = false;  // the first combination too
        bool keepBones = false;      // reset leaves BONES as it is
    };
    struct Naming {
        const char* prefix;
        std::vector<FamilyDefine> suffixes;
    };

    MultyShader(std::int32_t source, std::int32_t vertex, std::int32_t pixel) :
        sourceId(source), vertexIndex(vertex), pixelIndex(pixel) {}
    // Binds a define to its field of the setup record.
    void bind(FamilyDefine define, std::int32_t* field) { values_[define] = field; }
    // Sizes the slot arrays from the index digits.
    void finish();
    virtual const Setup& setup() const = 0;

    std::vector<FamilyDefine> emitted_;  // the define order of appendDefines
    Naming vertexNaming_, pixelNaming_;
    std::vector<Digit> vertexIndexDigits_, pixelIndexDigits_;  // most significant first
    Walk vertexWalk_, pixelWalk_;

private:
    void name(const Naming& naming, char (&buffer)[256]) const;
    std::int32_t slotIndex(const std::vector<Digit>& digits) const;
    ShaderProgram** slot(ShaderSlotTable& slots, std::int32_t index);
    bool next(const Walk& walk, bool reset);
    bool step(const Walk& walk);

    std::int32_t* values_[kFamilyDefineCount] = {};
    ShaderProgram* outside_ = nullptr;
};

class MultyShaderDynamic20 : public MultyShader {
public:
    struct Setup : MultyShader::Setup {
        void shaderModel(std::int32_t& major, std::int32_t& minor) const override { major = 2, minor = 0; }
        std::int32_t depth = 0, parallax = 0, bones = 0, terrain = 0, normalmap = 0, envmap = 0, ambient = 0,
                     light = 0, lmask = 0, lmode = 0, specular = 0, wave = 0;
    };
    MultyShaderDynamic20();
    bool valid() const override;
    Setup values;

protected:
    const MultyShader::Setup& setup() const override { return values; }
};

// The plain water family and the one with normal maps share their setup
// record and rules.
class MultyShaderWaterBase : public MultyShader {
public:
    struct Setup : MultyShader::Setup {
        explicit Setup(bool model20) : model20_(model20) {}
        void shaderModel(std::int32_t& major, std::int32_t& minor) const override {
            major = model20_ ? 2 : 1, minor = model20_ ? 0 : 1;
        }
        std::int32_t ambient = 0, bones = 0, light = 0, lmode = 0, specular = 0, water = 0;

    private:
        bool model20_;
    };
    bool valid() const override;
    Setup values;

protected:
    MultyShaderWaterBase(std::int32_t source, std::int32_t vertex, std::int32_t pixel, bool model20);
    const MultyShader::Setup& setup() const override { return values; }
};

class MultyShaderWater20 : public MultyShaderWaterBase {
public:
    MultyShaderWater20();
};

class MultyShaderWaterNorm20 : public MultyShaderWaterBase {
public:
    MultyShaderWaterNorm20();
};

class MultyShaderParticle20 : public MultyShader {
public:
    struct Setup : MultyShader::Setup {
        void shaderModel(std::int32_t& major, std::int32_t& minor) const override { major = 1, minor = 1; }
        std::int32_t align = 0;
    };
    MultyShaderParticle20();
    Setup values;

protected:
    const MultyShader::Setup& setup() const override { return values; }
};

class MultyShaderVertexDebug : public MultyShader {
public:
    struct Setup : MultyShader::Setup {
        void shaderModel(std::int32_t& major, std::int32_t& minor) const override { major = 1, minor = 1; }
        std::int32_t bones = 0, vertexDebug = 0;
    };
    MultyShaderVertexDebug();
    Setup values;

protected:
    const MultyShader::Setup& setup() const override { return values; }
};
