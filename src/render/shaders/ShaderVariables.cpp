#include "render/shaders/ShaderVariables.h"

#include <algorithm>
#include <cctype>
#include <cstring>

#include "foundation/Log.h"
#include "foundation/Matrix.h"
#include "render/shaders/ShaderState.h"

namespace {

// The mapped names by slot; 40 and 41 hold none (fixed: draw code uses the slots).
const char* const kNames[ShaderVariablesMapper::kCount] = {
    "sDiffuseMap", "sLightMap", "sNormalMap", "sHeightMap", "sCubeMap", "sSpecularMap", "sTerrainMap",
    "sTerrainNormalMap", "sTerrainHeightMap", "sTerrainSpecularMap", "sLightMaskMap", "sLightAttenuationMap",
    "sLightCubeMap", "sNormalizationCube", "vColorAmbient", "vColorDiffuse", "vColorSpecular",
    "vColorEnvironment", "vColorLightDiffuse", "vColorLightSpecular", "vColorMain", "vColorGlobal",
    "vLightDirection", "vObjectSpaceLightPos", "vLightGloss", "vInvLightRadius", "mLightTransform", "vLightV1",
    "vLightV2", "mBones", "fTime", "mParticleData", "mWorld", "mWorldView", "mViewProjection", "mViewInverse",
    "mWorldViewProjection", "vObjectSpaceEyePos", "vWave1Dir", "vWave1PowerFreqAmpScale", "", "", "vFalloff",
    "vLinearFog", "vTT0", "vTT1", "vTT2", "vTT3", "mShadow", "HDR_PixelWeight1", "HDR_PixelWeight2", "HDR_Kd",
    "HDR_ExposureLevel", "vParticleOffset", "vParticleAxis1", "vParticleAxis2", "mEnvTransform", "invEnvRadius",
    "DOF_filterTaps", "DOF_filterTapsLow", "GaussianFilter", "GaussianFilterSmall",
};

void lowerInto(char* out, std::size_t size, const char* text) {
    std::size_t i = 0;
    for (; text[i] && i + 1 < size; ++i) out[i] = char(std::tolower(static_cast<unsigned char>(text[i])));
    out[i] = 0;
}

}  // namespace

ShaderVariablesMapper::ShaderVariablesMapper() {
    for (int i = 0; i < kCount; ++i) {
        lowerInto(names_[i], sizeof names_[i], kNames[i]);
        if (!names_[i][0]) engineLog().info(" Shader Variables Mapper: found unmapped variable at index %i", i);
    }
}

int ShaderVariablesMapper::find(const char* name) const {
    if (!name) return -1;
    if (*name == '$') ++name;
    char lower[128];
    lowerInto(lower, sizeof lower, name);
    if (!lower[0]) return -1;
    for (int i = 0; i < kCount; ++i)
        if (std::strcmp(names_[i], lower) == 0) return i;
    return -1;
}

VertexData::VertexData(const VertexDataSetup& setup, ClassCode code)
    : classCode(code),
      elements(setup.elements),
      frame_(setup.frame),
      pass_(setup.pass),
      device_(setup.device),
      table_(setup.table),
      handle_(setup.handle),
      name_(setup.name ? setup.name : "") {
    std::fill(std::begin(registers), std::end(registers), -1);
    registers[0] = setup.registerIndex;
}

void VertexData::addRegister(std::int32_t registerIndex) {
    for (auto& r : registers)
        if (r < 0) {
            r = registerIndex;
            return;
        }
}

bool VertexData::store(float* value, const float* incoming, int count) {
    if (changed) {
        std::memcpy(value, incoming, sizeof(float) * std::size_t(count));
        return true;
    }
    if (std::memcmp(value, incoming, sizeof(float) * std::size_t(count)) == 0) return false;
    std::memcpy(value, incoming, sizeof(float) * std::size_t(count));
    changed = 1;
    return true;
}

void VertexData::storeElement(float* value, const float* incoming, int count, int index, std::int32_t& used) {
    store(value, incoming, count);
    if (index >= used) {
        used = index + 1;
        changed = 1;
    }
}

bool VertexData::checkIndex(int index, int capacity) {
    const int limit = std::min(capacity, std::max(elements, 1));
    if (index >= 0 && index < limit) return true;
    if (!reported_) {
        reported_ = true;
        engineLog().error("Shader variable [%s]: element %i is outside its %i elements", name_, index, limit);
    }
    return false;
}

void VertexDataScalar::commit(bool onlyIfChanged) {
    if (onlyIfChanged && !changed) return;
    if (table_) table_->SetFloat(device_, handle_, value);
    changed = 0;
}

void VertexDataScalarArray::setScalarElement(int index, float v) {
    if (checkIndex(index, kCapacity)) storeElement(&values[index], &v, 1, index, used);
}

void VertexDataScalarArray::commit(bool onlyIfChanged) {
    if (onlyIfChanged && !changed) return;
    if (table_ && used > 0) table_->SetFloatArray(device_, handle_, values, UINT(used));
    changed = 0;
    used = 0;
}

void VertexDataVector::setFloats(const float* v) {
    const float full[4] = {v[0], v[1], v[2], 1.0f};
    store(value, full, 4);
}

void VertexDataVector::setValues(float x, float y, float z, float w) {
    const float full[4] = {x, y, z, w};
    store(value, full, 4);
}

void VertexDataVector::setXYZ(float x, float y, float z) {
    const float full[4] = {x, y, z, value[3]};
    store(value, full, 4);
}

void VertexDataVector::commit(bool onlyIfChanged) {
    if (onlyIfChanged && !changed) return;
    if (table_) table_->SetVector(device_, handle_, reinterpret_cast<const D3DXVECTOR4*>(value));
    changed = 0;
}

void VertexDataVectorArray::setElement(int index, const float* v) {
    if (!checkIndex(index, kCapacity)) return;
    const float full[4] = {v[0], v[1], v[2], 1.0f};
    storeElement(values[index], full, 4, index, used);
}

void VertexDataVectorArray::setRow(int index, const float* v) {
    if (checkIndex(index, kCapacity)) storeElement(values[index], v, 4, index, used);
}

void VertexDataVectorArray::commit(bool onlyIfChanged) {
    if (onlyIfChanged && !changed) return;
    if (table_ && used > 0)
        table_->SetVectorArray(device_, handle_, reinterpret_cast<const D3DXVECTOR4*>(values), UINT(used));
    changed = 0;
    used = 0;
}

void VertexDataMatrix::setMatrix(int kind, const D3DMATRIX& world) {
    D3DMATRIX m = world;
    switch (kind) {
        case TransformAsIs:
        case TransformTransposed:
            break;
        case TransformWorldViewProj: {
            if (!frame_) return;
            D3DMATRIX worldView;
            matrix44Multiply(&world.m[0][0], &frame_->view.m[0][0], &worldView.m[0][0]);
            matrix44Multiply(&worldView.m[0][0], &frame_->projection.m[0][0], &m.m[0][0]);
            break;
        }
        case TransformWorldView:
            if (!frame_) return;
            matrix44Multiply(&world.m[0][0], &frame_->view.m[0][0], &m.m[0][0]);
            break;
        default:
            return;
    }
    const std::uint8_t wantTranspose = kind == TransformTransposed ? 1 : 0;
    if (wantTranspose != transpose) {
        transpose = wantTranspose;
        changed = 1;
    }
    store(&value.m[0][0], &m.m[0][0], 16);
}

void VertexDataMatrix::setFromFrame(int kind) {
    if (!frame_) return;
    const D3DMATRIX* source = kind == TransformView         ? &frame_->view
                              : kind == TransformViewInverse ? &frame_->viewInverse
                              : kind == TransformViewProj    ? &frame_->viewProjection
                                                             : nullptr;
    if (!source) return;
    if (transpose) {
        transpose = 0;
        changed = 1;
    }
    store(&value.m[0][0], &source->m[0][0], 16);
}

void VertexDataMatrix::commit(bool onlyIfChanged) {
    if (onlyIfChanged && !changed) return;
    if (table_) {
        const D3DXMATRIX* m = &value;
        if (transpose)
            table_->SetMatrixTranspose(device_, handle_, m);
        else
            table_->SetMatrix(device_, handle_, m);
    }
    changed = 0;
}

void VertexDataMatrixArray::setMatrixElement(int index, const D3DMATRIX& m) {
    if (checkIndex(index, kCapacity)) storeElement(&values[index].m[0][0], &m.m[0][0], 16, index, used);
}

void VertexDataMatrixArray::commit(bool onlyIfChanged) {
    if (onlyIfChanged && !changed) return;
    if (table_ && used > 0) table_->SetMatrixArray(device_, handle_, values, UINT(used));
    changed = 0;
    used = 0;
}
