// The element drawing paths of the model: the fixed-function paths program
// the texture stages of the state cache, and every path ends in the mesh
// draw, which applies the cache and issues the draw call.
#include <cmath>

#include "app/GameCore.h"
#include "model/Model.h"
#include "model/ModelElement.h"
#include "render/Material.h"
#include "render/RenderCore.h"
#include "render/VideoSetup.h"
#include "render/shaders/ShaderCore.h"
#include "render/states/DXStateCache.h"

namespace {

using Cache = DXStateCache;

// One texture stage: colour and alpha operations with their arguments, the
// coordinate index and the result register.
struct StageSetup {
    std::uint32_t colorOp, colorArg1, colorArg2;
    std::uint32_t alphaOp, alphaArg1, alphaArg2;
    std::uint32_t texCoordIndex;
    std::uint32_t resultArg;
};

void writeStage(Cache& cache, int stage, const StageSetup& s) {
    cache.setStage(stage, Cache::StageColorOp, s.colorOp);
    cache.setStage(stage, Cache::StageColorArg1, s.colorArg1);
    cache.setStage(stage, Cache::StageColorArg2, s.colorArg2);
    cache.setStage(stage, Cache::StageAlphaOp, s.alphaOp);
    cache.setStage(stage, Cache::StageAlphaArg1, s.alphaArg1);
    cache.setStage(stage, Cache::StageAlphaArg2, s.alphaArg2);
    cache.setStage(stage, Cache::StageTexCoordIndex, s.texCoordIndex);
    cache.setStage(stage, Cache::StageResultArg, s.resultArg);
}

void disableStage(Cache& cache, int stage) {
    writeStage(cache, stage, {D3DTOP_DISABLE, D3DTA_TEXTURE, D3DTA_CURRENT, D3DTOP_DISABLE, D3DTA_TEXTURE,
                              D3DTA_CURRENT, 0, D3DTA_CURRENT});
}

// The textured stages of a path (texture transform off), then the first
// stage after them disabled.
void writeStages(Cache& cache, const StageSetup* stages, int count) {
    for (int stage = 0; stage < count; ++stage) {
        writeStage(cache, stage, stages[stage]);
        cache.setStage(stage, Cache::StageTextureTransformFlags, D3DTTFF_DISABLE);
    }
    disableStage(cache, count);
}

// The stage tables of the fixed-function paths.
constexpr StageSetup kKind0[] = {
    {D3DTOP_MODULATE, D3DTA_TEXTURE, D3DTA_TFACTOR, D3DTOP_MODULATE, D3DTA_TEXTURE, D3DTA_TFACTOR, 0, D3DTA_CURRENT},
    {D3DTOP_MODULATE2X, D3DTA_TEXTURE, D3DTA_CURRENT, D3DTOP_SELECTARG1, D3DTA_CURRENT, D3DTA_CURRENT, 1,
     D3DTA_CURRENT},
};
constexpr StageSetup kKind3[] = {
    {D3DTOP_MODULATE2X, D3DTA_TEXTURE, D3DTA_TFACTOR, D3DTOP_MODULATE, D3DTA_TEXTURE, D3DTA_TFACTOR, 0,
     D3DTA_CURRENT},
};
constexpr StageSetup kKind6Lit[] = {
    {D3DTOP_MODULATE2X, D3DTA_TEXTURE, D3DTA_DIFFUSE, D3DTOP_MODULATE, D3DTA_TEXTURE, D3DTA_DIFFUSE, 0,
     D3DTA_CURRENT},
};
constexpr StageSetup kKind9Lit[] = {
    {D3DTOP_MODULATE, D3DTA_TEXTURE, D3DTA_TFACTOR, D3DTOP_MODULATE, D3DTA_TEXTURE, D3DTA_TFACTOR, 0, D3DTA_TEMP},
    {D3DTOP_ADD, D3DTA_TEXTURE, D3DTA_DIFFUSE, D3DTOP_SELECTARG1, D3DTA_TEMP, D3DTA_CURRENT, 1, D3DTA_CURRENT},
    {D3DTOP_MODULATE2X, D3DTA_CURRENT, D3DTA_TEMP, D3DTOP_DISABLE, D3DTA_TEXTURE, D3DTA_CURRENT, 0, D3DTA_CURRENT},
};
constexpr StageSetup kWater[] = {
    {D3DTOP_SELECTARG1, D3DTA_TEXTURE, D3DTA_CURRENT, D3DTOP_MODULATE2X, D3DTA_TEXTURE, D3DTA_DIFFUSE, 0,
     D3DTA_CURRENT},
    {D3DTOP_BLENDFACTORALPHA, D3DTA_TEXTURE, D3DTA_CURRENT, D3DTOP_SELECTARG1, D3DTA_CURRENT, D3DTA_CURRENT, 0,
     D3DTA_CURRENT},
    {D3DTOP_BLENDFACTORALPHA, D3DTA_TEXTURE, D3DTA_CURRENT, D3DTOP_SELECTARG1, D3DTA_CURRENT, D3DTA_CURRENT, 0,
     D3DTA_CURRENT},
    {D3DTOP_MODULATE, D3DTA_DIFFUSE, D3DTA_CURRENT, D3DTOP_SELECTARG1, D3DTA_CURRENT, D3DTA_CURRENT, 0,
     D3DTA_CURRENT},
    {D3DTOP_MODULATE2X, D3DTA_TFACTOR, D3DTA_CURRENT, D3DTOP_SELECTARG1, D3DTA_CURRENT, D3DTA_CURRENT, 0,
     D3DTA_CURRENT},
};
constexpr StageSetup kWaterLight[] = {
    {D3DTOP_SELECTARG1, D3DTA_TEXTURE, D3DTA_CURRENT, D3DTOP_MODULATE, D3DTA_TEXTURE, D3DTA_DIFFUSE, 0,
     D3DTA_CURRENT},
};

float opacityOf(const Material& material) { return material.colours[0][3]; }

// The material of the element when a fixed-function path may draw it.
Material* fixedMaterial(ModelElement& element) {
    Material* material = element.material();
    if (!material || !gameCore.render) return nullptr;
    if (material->parameters.overlay && Model::settings().ffpDisableOverlayRender) return nullptr;
    if (opacityOf(*material) == 0.0f) return nullptr;
    return material;
}

// The fixed-function preparation: the world matrix and, for a light of the
// element with lighting on, that light on unit 0 (the others off).
void prepareFixed(Cache& cache, ModelElement& element, std::int32_t light, bool lighting) {
    cache.setTransform(Cache::TransformWorld, element.world);
    const bool lit = lighting && light >= 0 && light < static_cast<std::int32_t>(element.lights.size());
    for (int unit = 0; unit < 3; ++unit) cache.enableLight(unit, false);
    if (lit) {
        cache.setLight(0, element.lights[static_cast<std::size_t>(light)].light);
        cache.enableLight(0, true);
    }
    cache.setRender(Cache::RsLighting, lit ? 1 : 0);
}

// What every textured fixed-function path shares: preparation, the diffuse
// and (when used) light-map links bound, ambient, fill mode, colour vertex
// and texture factor.
void fixedCommon(Cache& cache, ModelElement& element, Material& material, std::int32_t light, bool lightMap,
                 std::uint32_t ambient, bool colorVertexOff, bool textureFactor) {
    prepareFixed(cache, element, light, true);
    material.textures[Material::SlotDiffuse].bindToStage(0, material.filterClass[Material::SlotDiffuse], false);
    if (lightMap)
        material.textures[Material::SlotLightmap].bindToStage(1, material.filterClass[Material::SlotLightmap],
                                                              false);
    cache.setRender(Cache::RsAmbient, ambient);
    cache.setRender(Cache::RsFillMode, D3DFILL_SOLID);
    if (colorVertexOff) cache.setRender(Cache::RsColorVertex, 0);
    if (textureFactor)
        cache.setRender(Cache::RsTextureFactor, Model::packFactor(material.colours[0], opacityOf(material), true));
}

Cache& stateCache() { return gameCore.render->stateCache(); }

}  // namespace

std::uint32_t Model::packFactor(const float* colour, float alpha, bool round) {
    auto byte = [round](float value) {
        value = value < 0.0f ? 0.0f : (value > 1.0f ? 1.0f : value);
        return static_cast<std::uint32_t>(round ? std::lround(value * 255.0f) : std::int64_t(value * 255.0f));
    };
    return (byte(alpha) << 24) | (byte(colour[0]) << 16) | (byte(colour[1]) << 8) | byte(colour[2]);
}

void Model::drawElementMesh(ModelElement& element, std::int32_t passes) {
    ModelElementLod* level = element.lod();
    if (!level || !gameCore.render) return;
    Cache& cache = stateCache();
    if (level->vertices) cache.setStream(level->vertices, level->stride);
    for (std::int32_t pass = 0; pass < passes; ++pass) {
        cache.apply();
        ++element.drawCount;
        IDirect3DDevice9* device = cache.device();
        if (!device || !level->vertices || !level->declaration || level->primitiveCount == 0) continue;
        device->SetVertexDeclaration(level->declaration);
        device->DrawPrimitive(D3DPT_TRIANGLELIST, 0, level->primitiveCount);
    }
}

bool Model::drawElementFixedKind0(ModelElement& element, std::int32_t light) {
    Material* material = fixedMaterial(element);
    if (!material) return false;
    Cache& cache = stateCache();
    fixedCommon(cache, element, *material, light, true, 0, true, true);
    writeStages(cache, kKind0, 2);
    drawElementMesh(element);
    return true;
}

bool Model::drawElementFixedKind3(ModelElement& element, std::int32_t light) {
    Material* material = fixedMaterial(element);
    if (!material) return false;
    Cache& cache = stateCache();
    fixedCommon(cache, element, *material, light, false, 0, true, true);
    writeStages(cache, kKind3, 1);
    drawElementMesh(element);
    return true;
}

bool Model::drawElementFixedKind6(ModelElement& element, std::int32_t light) {
    if (light < 0) return drawElementFixedKind3(element, light);
    Material* material = fixedMaterial(element);
    if (!material) return false;
    Cache& cache = stateCache();
    fixedCommon(cache, element, *material, light, false, 0xFFFFFFFFu, true, false);
    writeStages(cache, kKind6Lit, 1);
    drawElementMesh(element);
    return true;
}

bool Model::drawElementFixedKind9(ModelElement& element, std::int32_t light) {
    if (light < 0) return drawElementFixedKind0(element, light);
    Material* material = fixedMaterial(element);
    if (!material) return false;
    Cache& cache = stateCache();
    fixedCommon(cache, element, *material, light, true, 0, false, true);
    writeStages(cache, kKind9Lit, 3);
    drawElementMesh(element);
    return true;
}

void Model::drawElementFixedDefault(ModelElement& element) {
    Material* material = fixedMaterial(element);
    if (!material) return;
    Cache& cache = stateCache();
    fixedCommon(cache, element, *material, -1, true, 0, true, false);
    cache.setRender(Cache::RsTextureFactor, packFactor(material->colours[0], 1.0f, true));
    StageSetup stages[3] = {kKind9Lit[0], kKind9Lit[1], kKind9Lit[2]};
    stages[0].texCoordIndex = 1;
    writeStages(cache, stages, 3);
}

bool Model::bindWaterLayerFrame(std::uint32_t stage) {
    if (!gameCore.render) return false;
    TextureLink* layer = gameCore.render->builtinTextures.find("water_ls_x");
    if (!layer || !layer->enabled) return false;
    if (!layer->frameHandler(layer->currentFrame)) layer->allocateDefault(0x10000, false);
    // The main texture and the frame list; each layer runs through the
    // series in about two seconds, the three layers 0.3 s apart.
    const std::int32_t count = 1 + layer->frameCount();
    const std::int32_t half = static_cast<std::int32_t>(count * 0.5);
    const double time = textureEnvironment().now();
    const auto step = static_cast<std::int64_t>(half * double(stage) * 0.3 + half * time);
    layer->currentFrame = static_cast<std::int32_t>(((step % count) + count) % count);
    // A frame without a texture lets the caller fall back to the diffuse map.
    if (!layer->frameHandler(layer->currentFrame)) return false;
    layer->bindToStage(stage, 0, false);
    return true;
}

bool Model::drawElementFixedWater(ModelElement& element, std::int32_t light) {
    Material* material = fixedMaterial(element);
    if (!material) return false;
    Cache& cache = stateCache();
    const ModelSettings& s = settings();
    gameCore.render->shaders().selectPrograms(nullptr, nullptr);
    cache.setVertexShader(nullptr);
    cache.setPixelShader(nullptr);
    for (std::uint32_t stage = 0; stage < 3; ++stage)
        if (!bindWaterLayerFrame(stage))
            material->textures[Material::SlotDiffuse].bindToStage(
                stage, material->filterClass[Material::SlotDiffuse], false);

    const float* environment = material->colours[3];
    const float* ambientColour = material->colours[0];
    const float blend[3] = {environment[0] * ambientColour[0], environment[1] * ambientColour[1],
                            environment[2] * ambientColour[2]};
    const double time = textureEnvironment().now();
    const float alpha = static_cast<float>(std::sin(s.ffpWaterWaveBlendSpeed * time)) * s.ffpWaterWaveBlendAmp +
                        s.ffpWaterWaveBlendBase;
    cache.setRender(Cache::RsTextureFactor, packFactor(blend, alpha, false));
    for (int stage = 0; stage < 5; ++stage) writeStage(cache, stage, kWater[stage]);
    disableStage(cache, 5);
    cache.setRender(Cache::RsColorVertex, 1);
    cache.setRender(Cache::RsFillMode, D3DFILL_SOLID);
    ShaderPassState& pass = gameCore.render->shaders().pass;
    pass.blendMode = 2;
    pass.alphaMode = 0;
    const float opacity = opacityOf(*material);

    bool drawn = false;
    if (!s.ffpDisableWaterAmbient) {
        for (int n = 0; n < 3; ++n) {
            const float scale = s.ffpWaterWaveScale[n];
            D3DMATRIX matrix{};
            matrix.m[0][0] = scale;
            matrix.m[1][1] = scale;
            matrix.m[2][0] = s.ffpWaterWaveSpeedX[n] * static_cast<float>(time);
            matrix.m[2][1] = s.ffpWaterWaveSpeedY[n] * static_cast<float>(time);
            matrix.m[2][2] = 1.0f;
            matrix.m[3][3] = 1.0f;
            cache.setStage(n, Cache::StageTextureTransformFlags, D3DTTFF_COUNT2);
            cache.setTransform(static_cast<Cache::TransformSlot>(Cache::TransformTexture0 + n), matrix);
        }
        cache.setStage(3, Cache::StageTextureTransformFlags, D3DTTFF_DISABLE);
        prepareFixed(cache, element, -1, false);
        cache.setMaterial(D3DMATERIAL9{});
        cache.setRender(Cache::RsAmbient, packFactor(ambientColour, opacity, false));
        drawElementMesh(element);
        drawn = true;
    }
    if (!s.ffpDisableWaterLightpass && light >= 0) {
        writeStage(cache, 0, kWaterLight[0]);
        disableStage(cache, 1);
        prepareFixed(cache, element, light, !s.ffpDisableLighting);
        cache.setRender(Cache::RsColorVertex, 1);
        cache.setRender(Cache::RsFillMode, D3DFILL_SOLID);
        pass.blendMode = 8;
        D3DMATERIAL9 lit{};
        lit.Diffuse = {environment[0], environment[1], environment[2], opacity};
        lit.Ambient = {0.0f, 0.0f, 0.0f, opacity};
        cache.setMaterial(lit);
        cache.setRender(Cache::RsAmbient, 0);
        drawElementMesh(element);
        drawn = true;
    }
    return drawn;
}

bool Model::drawElementKind(ModelElement& element, std::int32_t light) {
    Material* material = element.material();
    if (!material) return false;
    const std::uint32_t kind = material->parameters.kind;
    const std::int32_t details = textureEnvironment().videoSetup().details;
    if (details != VideoDetailsMinimum) return false;  // the shader paths come with the shader families
    switch (kind) {
    case 0: case 1: case 2: case 19: case 21:
        return drawElementFixedKind0(element, light);
    case 3: case 4: case 5: case 18: case 20:
        return drawElementFixedKind3(element, light);
    case 6: case 7: case 8: case 12: case 13: case 22: case 24: case 29: case 30:
        return drawElementFixedKind6(element, light);
    case 9: case 10: case 11: case 14: case 15: case 23: case 25: case 31: case 32:
        return drawElementFixedKind9(element, light);
    case 26: case 27: case 28:
        return drawElementFixedWater(element, light);
    default:
        return false;  // 16, 17 and 33 up have no fixed-function path
    }
}

bool Model::drawElement(ModelElement& element) {
    Material* material = element.material();
    if (!material) return false;
    const std::int32_t details = textureEnvironment().videoSetup().details;
    if (details < VideoDetailsMinimum || details > VideoDetailsHigh) return false;
    if (details != VideoDetailsMinimum && (material->flags & Material::FlagLitPerLight)) {
        std::int32_t passes = 0;
        for (std::size_t i = 0; i < element.lights.size(); ++i) {
            const std::uint32_t flags = element.lights[i].flags;
            if (!(flags & kElementLightPerLightPass)) continue;
            const int repeats = (flags & kElementLightThreePasses) ? 3 : 1;
            for (int r = 0; r < repeats && passes < element.passLimit; ++r, ++passes)
                drawElementKind(element, static_cast<std::int32_t>(i));
        }
        if (passes > 0) return true;
    }
    return drawElementKind(element, -1);
}
