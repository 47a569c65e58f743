#include "render/states/DXStateCache.h"

#include <cstring>

#include "app/GameCore.h"
#include "foundation/Log.h"

const D3DSAMPLERSTATETYPE DXStateCache::kSamplerStates[kSamplerColumns] = {
    D3DSAMP_ADDRESSU,  D3DSAMP_ADDRESSV,  D3DSAMP_ADDRESSW,      D3DSAMP_BORDERCOLOR, D3DSAMP_MAGFILTER,
    D3DSAMP_MINFILTER, D3DSAMP_MIPFILTER, D3DSAMP_MIPMAPLODBIAS, D3DSAMP_MAXMIPLEVEL, D3DSAMP_MAXANISOTROPY,
};

const D3DTEXTURESTAGESTATETYPE DXStateCache::kStageStates[kStageColumns] = {
    D3DTSS_COLOROP,       D3DTSS_COLORARG1,     D3DTSS_COLORARG2,     D3DTSS_ALPHAOP,
    D3DTSS_ALPHAARG1,     D3DTSS_ALPHAARG2,     D3DTSS_TEXCOORDINDEX, D3DTSS_TEXTURETRANSFORMFLAGS,
    D3DTSS_COLORARG0,     D3DTSS_ALPHAARG0,     D3DTSS_RESULTARG,     D3DTSS_CONSTANT,
};

const D3DRENDERSTATETYPE DXStateCache::kRenderStates[kRenderColumns] = {
    D3DRS_LOCALVIEWER,       D3DRS_ZENABLE,          D3DRS_FILLMODE,
    D3DRS_SHADEMODE,         D3DRS_ZWRITEENABLE,     D3DRS_ALPHATESTENABLE,
    D3DRS_SRCBLEND,          D3DRS_DESTBLEND,        D3DRS_CULLMODE,
    D3DRS_ZFUNC,             D3DRS_ALPHAREF,         D3DRS_ALPHAFUNC,
    D3DRS_ALPHABLENDENABLE,  D3DRS_CLIPPING,         D3DRS_LIGHTING,
    D3DRS_AMBIENT,           D3DRS_SPECULARENABLE,   D3DRS_FOGENABLE,
    D3DRS_FOGCOLOR,          D3DRS_FOGTABLEMODE,     D3DRS_FOGSTART,
    D3DRS_FOGEND,            D3DRS_FOGDENSITY,       D3DRS_RANGEFOGENABLE,
    D3DRS_FOGVERTEXMODE,     D3DRS_COLORVERTEX,      D3DRS_CLIPPLANEENABLE,
    D3DRS_POINTSPRITEENABLE, D3DRS_POINTSCALEENABLE, D3DRS_COLORWRITEENABLE,
    D3DRS_BLENDOP,           D3DRS_SLOPESCALEDEPTHBIAS, D3DRS_BLENDFACTOR,
    D3DRS_DEPTHBIAS,         D3DRS_SEPARATEALPHABLENDENABLE, D3DRS_TEXTUREFACTOR,
    D3DRS_AMBIENTMATERIALSOURCE, D3DRS_DIFFUSEMATERIALSOURCE,
};

const D3DTRANSFORMSTATETYPE DXStateCache::kTransformStates[kTransforms] = {
    D3DTS_VIEW,     D3DTS_PROJECTION, D3DTS_TEXTURE0, D3DTS_TEXTURE1, D3DTS_TEXTURE2, D3DTS_TEXTURE3,
    D3DTS_TEXTURE4, D3DTS_TEXTURE5,   D3DTS_TEXTURE6, D3DTS_TEXTURE7, D3DTS_WORLD,
};

D3DMATRIX identityMatrix() {
    D3DMATRIX m{};
    for (int i = 0; i < 4; ++i) m.m[i][i] = 1.0f;
    return m;
}

namespace {

bool sameBytes(const void* a, const void* b, std::size_t size) { return std::memcmp(a, b, size) == 0; }

}  // namespace

DXStateCache::DXStateCache() { initialize(false); }

void DXStateCache::setSampler(int sampler, SamplerColumn column, std::uint32_t value) {
    samplerDesired[sampler][column] = value;
    samplerDirty[sampler] = 1;
}

void DXStateCache::setStage(int stage, StageColumn column, std::uint32_t value) {
    stageDesired[stage][column] = value;
    stageDirty[stage] = 1;
}

void DXStateCache::setRenderFloat(RenderColumn column, float value) {
    std::uint32_t bits = 0;
    std::memcpy(&bits, &value, sizeof bits);
    renderDesired[column] = bits;
}

void DXStateCache::setTransform(TransformSlot slot, const D3DMATRIX& matrix) {
    transformDesired[slot] = matrix;
    transformDirty[slot] = 1;
}

void DXStateCache::resetTexCoordIndices() {
    for (int stage = 0; stage < kAppliedStages; ++stage) setStage(stage, StageTexCoordIndex, std::uint32_t(stage));
}

void DXStateCache::apply() {
    IDirect3DDevice9* device = device_;
    if (!device) return;

    if (vertexShaderDesired != vertexShaderCurrent) {
        vertexShaderCurrent = vertexShaderDesired;
        device->SetVertexShader(vertexShaderCurrent);
    }
    if (pixelShaderDesired != pixelShaderCurrent) {
        pixelShaderCurrent = pixelShaderDesired;
        device->SetPixelShader(pixelShaderCurrent);
    }

    for (int s = 0; s < kSamplers; ++s) {
        if (!samplerDirty[s]) continue;
        for (int c = 0; c < kSamplerColumns; ++c) {
            if (samplerDesired[s][c] == samplerCurrent[s][c]) continue;
            samplerCurrent[s][c] = samplerDesired[s][c];
            device->SetSamplerState(DWORD(s), kSamplerStates[c], samplerCurrent[s][c]);
        }
        samplerDirty[s] = 0;
    }

    // With shaders the coordinates of a stage are its own: index = stage, no transform.
    const bool shaders = !stageFixedPipeline && (vertexShaderCurrent || pixelShaderCurrent);
    for (int s = 0; s < kAppliedStages; ++s) {
        if (!stageDirty[s]) continue;
        for (int c = 0; c < kStageColumns; ++c) {
            std::uint32_t value = stageDesired[s][c];
            if (shaders && c == StageTexCoordIndex) value = std::uint32_t(s);
            if (shaders && c == StageTextureTransformFlags) value = 0;
            if (value == stageCurrent[s][c]) continue;
            stageCurrent[s][c] = value;
            device->SetTextureStageState(DWORD(s), kStageStates[c], value);
        }
        stageDirty[s] = 0;
    }

    for (int c = 0; c < kRenderColumns; ++c) {
        if (renderDesired[c] == renderCurrent[c]) continue;
        renderCurrent[c] = renderDesired[c];
        device->SetRenderState(kRenderStates[c], renderCurrent[c]);
    }

    for (int t = 0; t < kTransforms; ++t) {
        if (!transformDirty[t]) continue;
        if (!sameBytes(&transformDesired[t], &transformCurrent[t], sizeof(D3DMATRIX))) {
            transformCurrent[t] = transformDesired[t];
            device->SetTransform(kTransformStates[t], &transformCurrent[t]);
        }
        transformDirty[t] = 0;
    }

    if (declarationDesired != declarationCurrent) {
        declarationCurrent = declarationDesired;
        IDirect3DVertexDeclaration9* declaration = nullptr;
        if (declarationCurrent != kNoDeclaration && declarations_)
            declaration = declarations_->declaration(declarationCurrent);
        if (FAILED(device->SetVertexDeclaration(declaration)) && gameCore.log) {
            const char* name = declarations_ ? declarations_->declarationName(declarationCurrent) : nullptr;
            gameCore.log->error("Can't set vertex stream declaration [%s]", name ? name : "");
        }
    }

    if (streamDesired != streamCurrent || strideDesired != strideCurrent) {
        streamCurrent = streamDesired;
        strideCurrent = strideDesired;
        device->SetStreamSource(0, streamCurrent, 0, strideCurrent);
    }

    if (indicesDesired != indicesCurrent) {
        indicesCurrent = indicesDesired;
        if (indicesCurrent) device->SetIndices(indicesCurrent);
    }

    for (int i = 0; i < kLights; ++i) {
        if (!sameBytes(&lightDesired[i], &lightCurrent[i], sizeof(D3DLIGHT9))) {
            lightCurrent[i] = lightDesired[i];
            // A refused light keeps its enable state until the next apply.
            if (FAILED(device->SetLight(DWORD(i), &lightCurrent[i]))) continue;
        }
        if (lightEnableDesired[i] != lightEnableCurrent[i]) {
            lightEnableCurrent[i] = lightEnableDesired[i];
            device->LightEnable(DWORD(i), lightEnableCurrent[i]);
        }
    }

    if (!sameBytes(&materialDesired, &materialCurrent, sizeof(D3DMATERIAL9))) {
        materialCurrent = materialDesired;
        device->SetMaterial(&materialCurrent);
    }
}

void DXStateCache::forgetStream(IDirect3DVertexBuffer9* buffer) {
    if (!buffer) return;
    if (streamCurrent == buffer) streamCurrent = nullptr;
    if (streamDesired == buffer) streamDesired = nullptr;
}

void DXStateCache::forgetSampler(int sampler) {
    if (sampler < 0 || sampler >= kSamplers) return;
    for (std::uint32_t& value : samplerCurrent[sampler]) value = kUnknown;
    samplerDirty[sampler] = 1;
}

void DXStateCache::forgetDrawBindings() {
    declarationCurrent = kUnknown;
    strideCurrent = kUnknown;  // no stride is that: the stream is sent again
    vertexShaderCurrent = nullptr;
    pixelShaderCurrent = nullptr;
}

void DXStateCache::forgetIndices(IDirect3DIndexBuffer9* buffer) {
    if (!buffer) return;
    if (indicesCurrent == buffer) indicesCurrent = nullptr;
    if (indicesDesired == buffer) indicesDesired = nullptr;
}

void DXStateCache::clearBindings() {
    streamDesired = streamCurrent = nullptr;
    strideDesired = strideCurrent = 0;
    indicesDesired = indicesCurrent = nullptr;
    declarationDesired = declarationCurrent = kNoDeclaration;
    std::memset(lightDesired, 0, sizeof lightDesired);
    std::memset(lightCurrent, 0, sizeof lightCurrent);
    std::memset(lightEnableDesired, 0, sizeof lightEnableDesired);
    std::memset(lightEnableCurrent, 0, sizeof lightEnableCurrent);
    materialDesired = materialCurrent = D3DMATERIAL9{};
    vertexShaderDesired = vertexShaderCurrent = nullptr;
    pixelShaderDesired = pixelShaderCurrent = nullptr;
}

void DXStateCache::initialize(bool fixedPipeline) {
    samplerFixedPipeline = stageFixedPipeline = fixedPipeline ? 1 : 0;
    static const std::uint32_t samplerStart[kSamplerColumns] = {D3DTADDRESS_WRAP, D3DTADDRESS_WRAP, D3DTADDRESS_WRAP,
                                                                0, D3DTEXF_POINT, D3DTEXF_POINT, D3DTEXF_NONE, 0, 0, 1};
    for (int s = 0; s < kSamplers; ++s) {
        std::memcpy(samplerDesired[s], samplerStart, sizeof samplerStart);
        std::memcpy(samplerCurrent[s], samplerStart, sizeof samplerStart);
        samplerDirty[s] = 0;
    }
    stageDesired[0][StageColorOp] = D3DTOP_DISABLE;
    stageDesired[0][StageAlphaOp] = D3DTOP_DISABLE;
    stageDesired[0][StageTexCoordIndex] = 0;
    stageDesired[0][StageResultArg] = D3DTA_CURRENT;
    stageDirty[0] = 1;
    for (int c = 0; c < kRenderColumns; ++c) renderDesired[c] = renderCurrent[c] = kUnknown;
    for (int t = 0; t < kTransforms; ++t) {
        transformDesired[t] = transformCurrent[t] = identityMatrix();
        transformDirty[t] = 0;
    }
    clearBindings();
}

void DXStateCache::invalidate() {
    for (int s = 0; s < kSamplers; ++s) {
        for (int c = 0; c < kSamplerColumns; ++c) samplerCurrent[s][c] = kUnknown;
        samplerDirty[s] = 1;
    }
    for (int s = 0; s < kStages; ++s) {
        for (int c = 0; c < kStageColumns; ++c) stageCurrent[s][c] = kUnknown;
        stageDirty[s] = 1;
    }
    for (int c = 0; c < kRenderColumns; ++c) renderCurrent[c] = kUnknown;
    for (int t = 0; t < kTransforms; ++t) transformDirty[t] = 1;
    clearBindings();
}

bool DXStateCache::setupDeviceDefaults(bool antiAliasing) {
    IDirect3DDevice9* device = device_;
    if (!device) return false;
    invalidate();

    for (int t = 0; t < kTransforms; ++t) setTransform(TransformSlot(t), identityMatrix());
    for (int i = 0; i < kLights; ++i) lightEnableDesired[i] = 0;
    vertexShaderDesired = nullptr;
    pixelShaderDesired = nullptr;

    for (int s = 0; s < kAppliedStages; ++s) {
        setStage(s, StageColorOp, D3DTOP_DISABLE);
        setStage(s, StageAlphaOp, D3DTOP_DISABLE);
        setStage(s, StageResultArg, D3DTA_CURRENT);
        device->SetTexture(DWORD(s), nullptr);
        for (StageColumn c : {StageColorArg0, StageColorArg1, StageColorArg2, StageAlphaArg0, StageAlphaArg1,
                              StageAlphaArg2})
            setStage(s, c, 0);
        for (auto state : {D3DTSS_BUMPENVMAT00, D3DTSS_BUMPENVMAT01, D3DTSS_BUMPENVMAT10, D3DTSS_BUMPENVMAT11,
                           D3DTSS_BUMPENVLSCALE, D3DTSS_BUMPENVLOFFSET})
            device->SetTextureStageState(DWORD(s), state, 0);
        setStage(s, StageTexCoordIndex, 0);
        setStage(s, StageTextureTransformFlags, 0);
        setStage(s, StageConstant, 0);
    }

    static const std::uint32_t samplerDefaults[kSamplerColumns] = {
        D3DTADDRESS_WRAP, D3DTADDRESS_WRAP, D3DTADDRESS_WRAP, 0, D3DTEXF_LINEAR, D3DTEXF_LINEAR, D3DTEXF_LINEAR,
        0, 0, 1};
    for (int s = 0; s < kAppliedStages; ++s) {
        for (int c = 0; c < kSamplerColumns; ++c) setSampler(s, SamplerColumn(c), samplerDefaults[c]);
        device->SetSamplerState(DWORD(s), D3DSAMP_SRGBTEXTURE, 0);
        device->SetSamplerState(DWORD(s), D3DSAMP_ELEMENTINDEX, 0);
        device->SetSamplerState(DWORD(s), D3DSAMP_DMAPOFFSET, 256);
    }

    // Render states the cache does not keep, straight to the device.
    const std::pair<D3DRENDERSTATETYPE, DWORD> direct[] = {
        {D3DRS_LASTPIXEL, 1},
        {D3DRS_STENCILENABLE, 0},
        {D3DRS_NORMALIZENORMALS, 0},
        {D3DRS_SPECULARMATERIALSOURCE, D3DMCS_MATERIAL},
        {D3DRS_EMISSIVEMATERIALSOURCE, D3DMCS_MATERIAL},
        {D3DRS_AMBIENTMATERIALSOURCE, D3DMCS_COLOR1},
        {D3DRS_DIFFUSEMATERIALSOURCE, D3DMCS_MATERIAL},
        {D3DRS_VERTEXBLEND, 0},
        {D3DRS_CLIPPLANEENABLE, 0},
        {D3DRS_POINTSPRITEENABLE, 0},
        {D3DRS_INDEXEDVERTEXBLENDENABLE, 0},
        {D3DRS_TWEENFACTOR, 0},
        {D3DRS_TWOSIDEDSTENCILMODE, 0},
        {D3DRS_DEPTHBIAS, 0},
        {D3DRS_SEPARATEALPHABLENDENABLE, 0},
        {D3DRS_MULTISAMPLEANTIALIAS, antiAliasing ? 1u : 0u},
        {D3DRS_DITHERENABLE, 1},
    };
    for (const auto& [state, value] : direct) device->SetRenderState(state, value);

    static const std::uint32_t renderDefaults[kRenderColumns] = {
        1,                    // LOCALVIEWER
        D3DZB_TRUE,           // ZENABLE
        D3DFILL_SOLID,        // FILLMODE
        D3DSHADE_GOURAUD,     // SHADEMODE
        1,                    // ZWRITEENABLE
        0,                    // ALPHATESTENABLE
        D3DBLEND_ONE,         // SRCBLEND
        D3DBLEND_ONE,         // DESTBLEND
        D3DCULL_CCW,          // CULLMODE
        D3DCMP_LESSEQUAL,     // ZFUNC
        0,                    // ALPHAREF
        D3DCMP_ALWAYS,        // ALPHAFUNC
        0,                    // ALPHABLENDENABLE
        1,                    // CLIPPING
        0,                    // LIGHTING
        0,                    // AMBIENT
        0,                    // SPECULARENABLE
        0,                    // FOGENABLE
        0,                    // FOGCOLOR
        D3DFOG_NONE,          // FOGTABLEMODE
        100,                  // FOGSTART: kept as the raw word 100
        100,                  // FOGEND: likewise
        0,                    // FOGDENSITY
        0,                    // RANGEFOGENABLE
        D3DFOG_NONE,          // FOGVERTEXMODE
        0,                    // COLORVERTEX
        0,                    // CLIPPLANEENABLE
        0,                    // POINTSPRITEENABLE
        0,                    // POINTSCALEENABLE
        0xF,                  // COLORWRITEENABLE
        D3DBLENDOP_ADD,       // BLENDOP
        0,                    // SLOPESCALEDEPTHBIAS
        0xFFFFFFFFu,          // BLENDFACTOR
        0,                    // DEPTHBIAS
        0,                    // SEPARATEALPHABLENDENABLE
        0,                    // TEXTUREFACTOR
        D3DMCS_COLOR1,        // AMBIENTMATERIALSOURCE
        D3DMCS_MATERIAL,      // DIFFUSEMATERIALSOURCE
    };
    std::memcpy(renderDesired, renderDefaults, sizeof renderDefaults);

    materialDesired = D3DMATERIAL9{{1, 1, 1, 1}, {1, 1, 1, 1}, {0, 0, 0, 0}, {0, 0, 0, 0}, 0};
    apply();
    return true;
}
