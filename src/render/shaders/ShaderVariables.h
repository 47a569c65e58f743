// Shader variables: the constants of a loaded program that the mapper
// knows by name, each a VertexData object in the program's slot of that
// name's fixed index (the world matrix in slot 32, the diffuse colour in
// slot 15, ...). Draw code writes values into the slots and commits them;
// a variable sends its value through the program's constant table only when
// it changed since it was last sent.
//
// Array variables hold at most 32 scalars, 32 vectors or 300 matrices and
// never more than their declared elements: an index outside is refused and
// reported once per variable. Their used count starts at 0 and grows to the
// highest index set + 1; a commit sends that many elements and resets it.
#pragma once

#include <cstdint>

#include "platform/d3d9/D3DX9.h"

struct ShaderFrameState;
struct ShaderPassState;

// The 62 mapped names; the index of a name is its slot.
class ShaderVariablesMapper {
public:
    static constexpr int kCount = 62;

    // Reports every slot without a name (40 and 41) at Info.
    ShaderVariablesMapper();
    // The slot of a constant name (compared in lower case, one leading "$"
    // dropped), or -1.
    int find(const char* name) const;
    const char* name(int index) const { return names_[index]; }

private:
    char names_[kCount][128] = {};
};

// Fixed slot numbers the draw code uses.
enum ShaderVariableSlot : int {
    VarDiffuseMap = 0,
    VarLightMap = 1,
    VarColorDiffuse = 15,
    VarColorMain = 20,
    VarBones = 29,
    VarTime = 30,
    VarWorld = 32,
    VarWorldView = 33,
    VarViewProjection = 34,
    VarViewInverse = 35,
    VarWorldViewProjection = 36,
    VarWave1Dir = 38,
    VarWave1PowerFreqAmpScale = 39,
    VarTT0 = 44,
    VarTT1 = 45,
    VarTT3 = 47,
    VarShadow = 48,
    VarExposureLevel = 52,
    VarDofFilterTaps = 58,
    VarGaussianFilter = 60,
    VarGaussianFilterSmall = 61,
};

// Matrix transform kinds (setMatrix) and frame-record kinds (setFromFrame).
enum ShaderTransformKind : int {
    TransformAsIs = 0,          // W
    TransformTransposed = 1,    // W, sent transposed
    TransformWorldViewProj = 2, // W x V x P
    TransformView = 3,          // frame: the view matrix
    TransformViewInverse = 4,   // frame: the camera's world matrix
    TransformViewProj = 5,      // frame: the view-projection matrix
    TransformWorldView = 6,     // W x V
};

// What a variable is made with.
struct VertexDataSetup {
    const char* name = "";
    ShaderFrameState* frame = nullptr;
    ShaderPassState* pass = nullptr;
    IDirect3DDevice9* device = nullptr;
    ID3DXConstantTable* table = nullptr;
    D3DXHANDLE handle = nullptr;
    std::int32_t elements = 1;
    std::int32_t registerIndex = 0;
};

class VertexData {
public:
    enum ClassCode : std::int32_t {
        ClassScalar, ClassScalarArray, ClassVector, ClassVectorArray, ClassMatrix, ClassMatrixArray, ClassSampler,
    };

    explicit VertexData(const VertexDataSetup& setup, ClassCode code);
    virtual ~VertexData() = default;
    VertexData(const VertexData&) = delete;
    VertexData& operator=(const VertexData&) = delete;

    // Scalar: from one float; vector: x, y, z from three floats, w = 1.
    virtual void setFloats(const float*) {}
    // Scalar: x; vector: all four.
    virtual void setValues(float, float, float, float) {}
    // Scalar: one float; vector: four.
    virtual void setFromPointer(const float*) {}
    // Vector: x, y, z with w unchanged (scalar: as setFloats).
    virtual void setXYZ(float, float, float) {}
    // Vector array element i from three floats with w = 1.
    virtual void setElement(int, const float*) {}
    // Matrix by transform kind from the caller's world matrix.
    virtual void setMatrix(int, const D3DMATRIX&) {}
    // Matrix array element i.
    virtual void setMatrixElement(int, const D3DMATRIX&) {}
    // Vector array element i from four floats.
    virtual void setRow(int, const float*) {}
    // Matrix from the frame record by kind.
    virtual void setFromFrame(int) {}
    // Scalar array element i.
    virtual void setScalarElement(int, float) {}
    // Sends the value; with onlyIfChanged set an unchanged value is not sent.
    virtual void commit(bool onlyIfChanged) = 0;

    // Another constant of the same mapped name (at most 8 registers).
    void addRegister(std::int32_t registerIndex);
    void setDevice(IDirect3DDevice9* device) { device_ = device; }

    std::int32_t registers[8];
    std::int32_t classCode;
    std::int32_t elements;
    std::uint8_t changed = 0;

protected:
    // Stores count floats when they differ (only while unchanged); true when stored.
    bool store(float* value, const float* incoming, int count);
    // An array element: stored as by store, and the used count raised to
    // index + 1 (which counts as a change).
    void storeElement(float* value, const float* incoming, int count, int index, std::int32_t& used);
    // False, reported once, for an index outside the array.
    bool checkIndex(int index, int capacity);

    ShaderFrameState* frame_;
    ShaderPassState* pass_;
    IDirect3DDevice9* device_;
    ID3DXConstantTable* table_;
    D3DXHANDLE handle_;
    const char* name_;
    bool reported_ = false;
};

class VertexDataScalar final : public VertexData {
public:
    explicit VertexDataScalar(const VertexDataSetup& setup) : VertexData(setup, ClassScalar) {}
    void setFloats(const float* v) override { store(&value, v, 1); }
    void setValues(float x, float, float, float) override { store(&value, &x, 1); }
    void setFromPointer(const float* v) override { store(&value, v, 1); }
    void setXYZ(float x, float, float) override { store(&value, &x, 1); }
    void commit(bool onlyIfChanged) override;
    float value = 0.0f;
};

class VertexDataScalarArray final : public VertexData {
public:
    static constexpr int kCapacity = 32;
    explicit VertexDataScalarArray(const VertexDataSetup& setup) : VertexData(setup, ClassScalarArray) {}
    void setScalarElement(int index, float v) override;
    void commit(bool onlyIfChanged) override;
    float values[kCapacity] = {};
    std::int32_t used = 0;
};

class VertexDataVector final : public VertexData {
public:
    explicit VertexDataVector(const VertexDataSetup& setup) : VertexData(setup, ClassVector) {}
    void setFloats(const float* v) override;
    void setValues(float x, float y, float z, float w) override;
    void setFromPointer(const float* v) override { store(value, v, 4); }
    void setXYZ(float x, float y, float z) override;
    void commit(bool onlyIfChanged) override;
    float value[4] = {};
};

class VertexDataVectorArray final : public VertexData {
public:
    // Bone palettes take three rows a bone.
    static constexpr int kCapacity = 256;
    explicit VertexDataVectorArray(const VertexDataSetup& setup) : VertexData(setup, ClassVectorArray) {}
    void setElement(int index, const float* v) override;
    void setRow(int index, const float* v) override;
    void commit(bool onlyIfChanged) override;
    float values[kCapacity][4] = {};
    std::int32_t used = 0;
};

class VertexDataMatrix final : public VertexData {
public:
    explicit VertexDataMatrix(const VertexDataSetup& setup) : VertexData(setup, ClassMatrix) {}
    void setMatrix(int kind, const D3DMATRIX& world) override;
    void setFromFrame(int kind) override;
    void commit(bool onlyIfChanged) override;
    D3DXMATRIX value{};
    std::uint8_t transpose = 0;
};

class VertexDataMatrixArray final : public VertexData {
public:
    static constexpr int kCapacity = 300;
    explicit VertexDataMatrixArray(const VertexDataSetup& setup) : VertexData(setup, ClassMatrixArray) {}
    void setMatrixElement(int index, const D3DMATRIX& m) override;
    void commit(bool onlyIfChanged) override;
    D3DXMATRIX values[kCapacity] = {};
    std::int32_t used = 0;
};

// A sampler: its register is its texture stage; nothing to send.
class VertexDataSampler final : public VertexData {
public:
    explicit VertexDataSampler(const VertexDataSetup& setup) : VertexData(setup, ClassSampler) {}
    void commit(bool) override {}
};
