// The render-state cache: the one gate between the renderer and the device
// for sampler, texture-stage, render, transform, declaration, stream, index,
// light, material and shader state.
//
// Writers put the values they want into the desired slots (samplers, stages
// and transforms with their dirty flag); apply() compares them with what the
// device was last given and sends only the differences, in a fixed order
// (shaders, samplers, stages 0-7, render states, transforms, declaration,
// stream 0, indices, lights, material). The cache owns nothing on the device:
// buffers, declarations and shaders belong to their makers. Main thread only.
#pragma once

#include <cstdint>

#include "platform/d3d9/D3D9.h"

// Where the cache finds the vertex declaration of a format index (0-48) and
// its display name; implemented by the owner of the vertex formats.
class VertexDeclarationTable {
public:
    virtual ~VertexDeclarationTable() = default;
    virtual IDirect3DVertexDeclaration9* declaration(std::uint32_t index) = 0;
    virtual const char* declarationName(std::uint32_t index) = 0;
};

class DXStateCache {
public:
    static constexpr int kSamplers = 16;
    static constexpr int kSamplerColumns = 10;
    static constexpr int kStages = 16;
    static constexpr int kAppliedStages = 8;  // rows 8-15 exist but are never sent
    static constexpr int kStageColumns = 12;
    static constexpr int kRenderColumns = 38;
    static constexpr int kTransforms = 11;
    static constexpr int kLights = 8;
    static constexpr std::uint32_t kNoDeclaration = 50;
    static constexpr std::uint32_t kUnknown = 0xFFFFFFFFu;

    // Columns of the sampler block (Direct3D sampler-state codes 1-10).
    enum SamplerColumn : int {
        SamplerAddressU, SamplerAddressV, SamplerAddressW, SamplerBorderColor, SamplerMagFilter,
        SamplerMinFilter, SamplerMipFilter, SamplerMipLodBias, SamplerMaxMipLevel, SamplerMaxAnisotropy,
    };
    // Columns of the texture-stage block.
    enum StageColumn : int {
        StageColorOp, StageColorArg1, StageColorArg2, StageAlphaOp, StageAlphaArg1, StageAlphaArg2,
        StageTexCoordIndex, StageTextureTransformFlags, StageColorArg0, StageAlphaArg0, StageResultArg,
        StageConstant,
    };
    // Columns of the render-state block.
    enum RenderColumn : int {
        RsLocalViewer, RsZEnable, RsFillMode, RsShadeMode, RsZWriteEnable, RsAlphaTestEnable, RsSrcBlend,
        RsDestBlend, RsCullMode, RsZFunc, RsAlphaRef, RsAlphaFunc, RsAlphaBlendEnable, RsClipping, RsLighting,
        RsAmbient, RsSpecularEnable, RsFogEnable, RsFogColor, RsFogTableMode, RsFogStart, RsFogEnd,
        RsFogDensity, RsRangeFogEnable, RsFogVertexMode, RsColorVertex, RsClipPlaneEnable,
        RsPointSpriteEnable, RsPointScaleEnable, RsColorWriteEnable, RsBlendOp, RsSlopeScaleDepthBias,
        RsBlendFactor, RsDepthBias, RsSeparateAlphaBlendEnable, RsTextureFactor, RsAmbientMaterialSource,
        RsDiffuseMaterialSource,
    };
    // Transform slots: VIEW, PROJECTION, TEXTURE0-7, WORLD.
    enum TransformSlot : int {
        TransformView, TransformProjection, TransformTexture0, TransformWorld = 10,
    };

    // The Direct3D codes behind the columns (fixed tables).
    static const D3DSAMPLERSTATETYPE kSamplerStates[kSamplerColumns];
    static const D3DTEXTURESTAGESTATETYPE kStageStates[kStageColumns];
    static const D3DRENDERSTATETYPE kRenderStates[kRenderColumns];
    static const D3DTRANSFORMSTATETYPE kTransformStates[kTransforms];

    DXStateCache();

    // The device the cache talks to (null: the device-bound steps do nothing).
    void setDevice(IDirect3DDevice9* device) { device_ = device; }
    IDirect3DDevice9* device() const { return device_; }
    void setDeclarations(VertexDeclarationTable* table) { declarations_ = table; }

    // Writers: desired values only, never the device.
    void setSampler(int sampler, SamplerColumn column, std::uint32_t value);
    void setStage(int stage, StageColumn column, std::uint32_t value);
    void setRender(RenderColumn column, std::uint32_t value) { renderDesired[column] = value; }
    void setRenderFloat(RenderColumn column, float value);
    void setTransform(TransformSlot slot, const D3DMATRIX& matrix);
    void setDeclaration(std::uint32_t index) { declarationDesired = index; }
    void setStream(IDirect3DVertexBuffer9* buffer, std::uint32_t stride) {
        streamDesired = buffer;
        strideDesired = stride;
    }
    void setIndices(IDirect3DIndexBuffer9* buffer) { indicesDesired = buffer; }
    // A buffer or the declarations about to go: the cache stops naming them,
    // so that a later object at the same address or index is sent again
    // (the device itself unbinds an object that goes).
    void forgetStream(IDirect3DVertexBuffer9* buffer);
    void forgetIndices(IDirect3DIndexBuffer9* buffer);
    void forgetDeclaration() {
        if (declarationCurrent != kNoDeclaration) declarationCurrent = kUnknown;
    }
    // A sampler's states were set on the device behind the cache: the next
    // apply sends its wanted values again.
    void forgetSampler(int sampler);
    // The declaration and stream were set on the device behind the cache and
    // its shaders unbound there: the next apply sends the wanted ones again.
    void forgetDrawBindings();
    void setLight(int index, const D3DLIGHT9& light) { lightDesired[index] = light; }
    void enableLight(int index, bool on) { lightEnableDesired[index] = on ? 1 : 0; }
    void setMaterial(const D3DMATERIAL9& material) { materialDesired = material; }
    void setVertexShader(IDirect3DVertexShader9* shader) { vertexShaderDesired = shader; }
    void setPixelShader(IDirect3DPixelShader9* shader) { pixelShaderDesired = shader; }
    // Texture coordinate index of stages 0-7 back to the stage number.
    void resetTexCoordIndices();

    // Sends every pending difference, in the fixed order.
    void apply();
    // The first set-up when the render device is initialised; fixedPipeline
    // is true when the video mode has no shader detail.
    void initialize(bool fixedPipeline);
    // Makes the whole cache stale: the next apply resends what has a
    // desired value.
    void invalidate();
    // Forces the known state onto the device after every device creation;
    // false without a device. antiAliasing: the video mode asks for it.
    bool setupDeviceDefaults(bool antiAliasing);

    // The blocks, in order (public: the renderer's parts read and write them).
    std::uint8_t samplerFixedPipeline = 0;
    std::uint8_t samplerDirty[kSamplers] = {};
    std::uint32_t samplerDesired[kSamplers][kSamplerColumns] = {};
    std::uint32_t samplerCurrent[kSamplers][kSamplerColumns] = {};

    std::uint8_t stageFixedPipeline = 0;
    std::uint8_t stageDirty[kStages] = {};
    std::uint32_t stageDesired[kStages][kStageColumns] = {};
    std::uint32_t stageCurrent[kStages][kStageColumns] = {};

    std::uint32_t renderDesired[kRenderColumns] = {};
    std::uint32_t renderCurrent[kRenderColumns] = {};

    std::uint8_t transformDirty[kTransforms] = {};
    D3DMATRIX transformDesired[kTransforms] = {};
    D3DMATRIX transformCurrent[kTransforms] = {};

    std::uint32_t declarationDesired = kNoDeclaration;
    std::uint32_t declarationCurrent = kNoDeclaration;

    IDirect3DVertexBuffer9* streamDesired = nullptr;
    IDirect3DVertexBuffer9* streamCurrent = nullptr;
    std::uint32_t strideDesired = 0;
    std::uint32_t strideCurrent = 0;

    IDirect3DIndexBuffer9* indicesDesired = nullptr;
    IDirect3DIndexBuffer9* indicesCurrent = nullptr;

    D3DLIGHT9 lightDesired[kLights] = {};
    D3DLIGHT9 lightCurrent[kLights] = {};
    std::uint8_t lightEnableDesired[kLights] = {};
    std::uint8_t lightEnableCurrent[kLights] = {};

    D3DMATERIAL9 materialDesired = {};
    D3DMATERIAL9 materialCurrent = {};

    IDirect3DVertexShader9* vertexShaderDesired = nullptr;
    IDirect3DVertexShader9* vertexShaderCurrent = nullptr;
    IDirect3DPixelShader9* pixelShaderDesired = nullptr;
    IDirect3DPixelShader9* pixelShaderCurrent = nullptr;

private:
    // Stream, indices, declaration, lights, material and shaders cleared on
    // both sides (the common part of initialize and invalidate).
    void clearBindings();

    IDirect3DDevice9* device_ = nullptr;
    VertexDeclarationTable* declarations_ = nullptr;
};

// The identity 4 x 4 matrix.
D3DMATRIX identityMatrix();
