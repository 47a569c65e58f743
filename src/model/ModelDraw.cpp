// The element drawing paths of the model: the fixed-function paths program
// the texture stages of the state cache, and every path ends in the mesh
// draw, which applies the cache and issues the draw call.
#include <algorithm>
#include <cmath>
#include <iterator>

#include "app/GameCore.h"
#include "model/Model.h"
#include "model/ModelDataManager.h"
#include "model/ModelElement.h"
#include "model/Y3Mesh.h"
#include "effects/Light.h"
#include "effects/ShadowRecord.h"
#include "effects/Y3Sky.h"
#include "foundation/Math.h"
#include "foundation/Matrix.h"
#include "render/Material.h"
#include "render/RenderCore.h"
#include "render/RenderSettings.h"
#include "render/VideoSetup.h"
#include "render/shaders/ShaderCore.h"
#include "render/shaders/ShaderProgramTable.h"
#include "render/states/DXStateCache.h"
#include "scene/ObjectRepository.h"
#include "scene/Scene.h"

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
constexpr StageSetup kKind9Added[] = {
    kKind9Lit[0],
    {D3DTOP_SELECTARG2, D3DTA_TEXTURE, D3DTA_DIFFUSE, D3DTOP_SELECTARG1, D3DTA_TEMP, D3DTA_CURRENT, 1, D3DTA_CURRENT},
    kKind9Lit[2],
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
    if (!material->visible()) return nullptr;
    return material;
}

// A collected light of the element by its place in the list; null for a
// negative place, one past the list or a light that is gone.
Light* lightOf(const ModelElement& element, std::int32_t light) {
    if (light < 0 || light >= static_cast<std::int32_t>(element.lights.size()) || !gameCore.objects) return nullptr;
    return dynamic_cast<Light*>(gameCore.objects->getObject(element.lights[static_cast<std::size_t>(light)]));
}

// The light class of the element's current material (0 exterior, 1
// interior): a light lights only the materials of its class.
std::int32_t lightClassOf(const ModelElement& element) {
    const ModelElementLod* level = element.lod();
    const Material* material = level ? level->material : nullptr;
    return material ? static_cast<std::int32_t>(material->parameters.lightSetIndex) : 0;
}

// A light into the next free unit of the fixed-function state, counted only
// when it lights the element's class.
void applyFixedLight(Cache& cache, const Light& light, std::int32_t kind, std::int32_t& applied) {
    if (!light.resourceFor(kind)) return;
    light.applyFixedFunction(cache, applied++, kind);
}

// What every textured fixed-function path shares: preparation, the diffuse
// and (when used) light-map links bound, ambient, fill mode, colour vertex
// and texture factor.
void fixedCommon(Cache& cache, ModelElement& element, Material& material, std::int32_t light, bool lightMap,
                 std::uint32_t ambient, bool colorVertexOff, bool textureFactor) {
    // No program of an earlier shader draw may stay bound over the fixed
    // stages.
    gameCore.render->shaders().selectPrograms(nullptr, nullptr);
    cache.setVertexShader(nullptr);
    cache.setPixelShader(nullptr);
    Model::prepareElementFixedPass(element, light, true);
    material.textures[Material::SlotDiffuse].bindToStage(0, material.filterClass[Material::SlotDiffuse], false);
    if (lightMap)
        material.textures[Material::SlotLightmap].bindToStage(1, material.filterClass[Material::SlotLightmap],
                                                              false);
    cache.setRender(Cache::RsAmbient, ambient);
    cache.setRender(Cache::RsFillMode, D3DFILL_SOLID);
    if (colorVertexOff) cache.setRender(Cache::RsColorVertex, 0);
    if (textureFactor) {
        float ambientColour[4];
        material.ambientWithTerm(ambientColour);
        cache.setRender(Cache::RsTextureFactor, Model::packFactor(ambientColour, opacityOf(material), true));
    }
}

Cache& stateCache() { return gameCore.render->stateCache(); }

// The blend mode of an added light pass, one after an element's first
// per-light pass: it adds its light to what the passes before drew, weighted
// by the surface's alpha where the material blends with alpha (7), else
// whole (8). A material whose blend takes none of its own colour (source
// factor zero) has no light to add: -1.
std::int32_t addedLightBlendMode(const Material& material) {
    switch (material.blendMode) {
    case 2: case 3: case 7: case 10:
        return 7;
    case 5: case 9:
        return -1;
    default:
        // Smooth alpha on an opaque mode blends with the alpha too.
        return material.alphaMode == 2 && material.blendMode <= 1 ? 7 : 8;
    }
}

// The fixed-function states of an added light pass, as the pass record's
// blend modes 7 and 8 set them: additive, no depth write, the equal depth
// of the first pass accepted, fog adding no colour of its own.
void writeAddedLightStates(Cache& cache, std::int32_t blendMode) {
    cache.setRender(Cache::RsAlphaBlendEnable, 1);
    cache.setRender(Cache::RsSrcBlend, blendMode == 7 ? D3DBLEND_SRCALPHA : D3DBLEND_ONE);
    cache.setRender(Cache::RsDestBlend, D3DBLEND_ONE);
    cache.setRender(Cache::RsBlendOp, D3DBLENDOP_ADD);
    cache.setRender(Cache::RsSeparateAlphaBlendEnable, 0);
    cache.setRender(Cache::RsZWriteEnable, 0);
    cache.setRender(Cache::RsZFunc, D3DCMP_LESSEQUAL);
    cache.setRender(Cache::RsFogColor, 0);
}

// What the added light passes of an element change, kept from its first
// pass and put back after the last, so that the next draw starts from the
// material's own states.
struct LightPassStates {
    static constexpr Cache::RenderColumn kColumns[] = {
        Cache::RsAlphaBlendEnable, Cache::RsSrcBlend,     Cache::RsDestBlend, Cache::RsBlendOp,
        Cache::RsSeparateAlphaBlendEnable, Cache::RsZWriteEnable, Cache::RsZFunc, Cache::RsFogColor,
        Cache::RsAmbient};
    std::uint32_t values[std::size(kColumns)] = {};
    std::int32_t blendMode = 0, alphaMode = 0, depthFunction = 0;

    void keep() {
        const Cache& cache = stateCache();
        for (std::size_t i = 0; i < std::size(kColumns); ++i) values[i] = cache.renderDesired[kColumns[i]];
        const ShaderPassState& pass = gameCore.render->shaders().pass;
        blendMode = pass.blendMode, alphaMode = pass.alphaMode, depthFunction = pass.depthFunction;
    }
    void restore() const {
        Cache& cache = stateCache();
        for (std::size_t i = 0; i < std::size(kColumns); ++i) cache.setRender(kColumns[i], values[i]);
        ShaderPassState& pass = gameCore.render->shaders().pass;
        pass.blendMode = blendMode, pass.alphaMode = alphaMode, pass.depthFunction = depthFunction;
        pass.blendApplied = pass.alphaApplied = pass.depthApplied = 0;
    }
};

// The material's reflection bit: set while the renderer draws a mirrored
// picture, except for an element drawn as a shared static instance.
void markReflection(ModelElement& element) {
    Material* material = element.material();
    if (!material) return;
    if (gameCore.render && gameCore.render->drawingMirror && !(element.flags & kElementStaticInstance))
        material->flags |= Material::FlagReflection;
    else
        material->flags &= ~Material::FlagReflection;
}

}  // namespace

std::uint32_t Model::packFactor(const float* colour, float alpha, bool round) {
    auto byte = [round](float value) {
        value = value < 0.0f ? 0.0f : (value > 1.0f ? 1.0f : value);
        return static_cast<std::uint32_t>(round ? std::lround(value * 255.0f) : std::int64_t(value * 255.0f));
    };
    return (byte(alpha) << 24) | (byte(colour[0]) << 16) | (byte(colour[1]) << 8) | byte(colour[2]);
}

bool Model::prepareElementFixedPass(ModelElement& element, std::int32_t light, bool lighting) {
    if (!gameCore.render) return false;
    markReflection(element);
    Cache& cache = stateCache();
    cache.setTransform(Cache::TransformWorld, element.world);
    std::int32_t applied = 0;
    if (lighting && light >= 0) {
        // A per-light pass: that light alone.
        if (const Light* one = lightOf(element, light)) applyFixedLight(cache, *one, lightClassOf(element), applied);
    } else if (lighting) {
        // The main pass: the collected lights in list order, only live and
        // enabled ones counting, up to "max_ffp_model_lights".
        const std::int32_t limit = std::clamp(settings().maxFfpModelLights, 0, DXStateCache::kLights);
        for (std::size_t i = 0; i < element.lights.size() && applied < limit; ++i) {
            const Light* one = lightOf(element, static_cast<std::int32_t>(i));
            if (one && (one->flags & kLightEnabled)) applyFixedLight(cache, *one, lightClassOf(element), applied);
        }
    }
    for (std::int32_t unit = applied; unit < DXStateCache::kLights; ++unit) cache.enableLight(unit, false);
    if (applied > 0) {
        // The stages double the lit colour (MODULATE2X): the lights and the
        // material's ambient go in at half, so that the fixed-function and
        // shader pictures agree.
        if (const Material* material = element.material()) {
            D3DMATERIAL9 surface{};
            float ambient[4];
            material->ambientWithTerm(ambient);
            surface.Diffuse = {1.0f, 1.0f, 1.0f, 1.0f};
            surface.Ambient = {ambient[0] * 0.5f, ambient[1] * 0.5f, ambient[2] * 0.5f, ambient[3]};
            cache.setMaterial(surface);
        }
    }
    cache.setRender(Cache::RsLighting, applied > 0 ? 1 : 0);
    return true;
}

namespace {

// The cull state of each draw pass, indexed by face mode plus three times
// the pass: 0 draws both faces, 1 and 2 are the cache's two cull
// orientations (clockwise, counter-clockwise). Face mode 2 draws the back
// faces first, then the front; a mirrored draw swaps the orientations.
constexpr std::int32_t kCullTable[6] = {2, 0, 1, 2, 0, 2};
constexpr std::int32_t kMirroredCullTable[6] = {1, 0, 2, 1, 0, 1};

}  // namespace

std::int32_t Model::cullStateOf(std::uint32_t faceMode, bool mirrored, std::int32_t pass) {
    // A face mode outside the table draws as mode 0.
    const std::int32_t mode = faceMode <= 2 ? static_cast<std::int32_t>(faceMode) : 0;
    const std::int32_t index = mode + 3 * (pass == 1 ? 1 : 0);
    return mirrored ? kMirroredCullTable[index] : kCullTable[index];
}

bool Model::drawElementMesh(ModelElement& element, bool forceOnePass) {
    ModelElementLod* level = element.lod();
    if (!level || !gameCore.render) return false;
    Cache& cache = stateCache();
    const Material* material = level->material;
    const std::uint32_t faceMode = material ? material->parameters.faceMode : 0;
    const bool mirrored = material && (material->flags & Material::FlagReflection);
    const std::int32_t passes = faceMode == 2 && !forceOnePass ? 2 : 1;
    const bool geometry = !level->mesh && level->vertices.buffer() && level->primitiveCount > 0;
    if (geometry) level->vertices.setStreamSource();
    const bool indexed = geometry && level->indices.setIndices();
    bool result = true;
    for (std::int32_t pass = 0; pass < passes; ++pass) {
        // D3DCULL_NONE, D3DCULL_CW, D3DCULL_CCW follow the table's 0, 1, 2;
        // the cache sends a state only when it changed.
        cache.setRender(Cache::RsCullMode, static_cast<std::uint32_t>(cullStateOf(faceMode, mirrored, pass) + 1));
        cache.apply();
        ++element.drawCount;
        IDirect3DDevice9* device = cache.device();
        if (!device) continue;
        if (level->mesh) {
            // A static-instance group drawn through this element, else the
            // skinned copy, else the resource's mesh, binds its own streams
            // for the subset.
            const bool drawn = level->drawGroup      ? level->drawGroup->drawSubset(level->subset)
                               : level->meshInstance ? level->meshInstance->drawSubset(level->subset)
                                                     : level->mesh->drawSubset(level->subset);
            result = drawn && result;
            continue;
        }
        if (!geometry) continue;
        const HRESULT hr = indexed ? device->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 0, 0,
                                                                  UINT(level->vertices.count()), 0,
                                                                  level->primitiveCount)
                                   : device->DrawPrimitive(D3DPT_TRIANGLELIST, 0, level->primitiveCount);
        result = SUCCEEDED(hr) && result;
    }
    return result;
}

bool ModelElement::render(float distance) {
    if (model && !(flags & kElementPushed)) {
        engineLog().error("Can't render model [%s] element [%s]. Allocate data first", model->getName(), getName());
        flags &= ~0x7u;
        return false;
    }
    return eachMaterial([this, distance] {
        if (Material* current = material()) sortLightPasses(distance, *current);
        return Model::drawElement(*this);
    });
}

std::int32_t ModelElement::sortLightPasses(float distance, Material& current) {
    if (!model) return 0;
    // A model kept out of the visibility sets keeps the marks it has.
    const std::uint32_t low = model->stateWords[0];
    if ((low & (kModelOutOfPvs | kModelGridDebug)) && !(low & kModelShadowReceivers)) return 0;
    // The resource's fill and no-light ranges (squared, like the distance;
    // negative when not set).
    const Y3ModelData* resource = model->resource;
    const float fillRange = resource ? resource->lodRanges[Y3ModelData::RangeFillLight] : -1.0f;
    const float noLightRange = resource ? resource->lodRanges[Y3ModelData::RangeNoLight] : -1.0f;
    const bool nearCamera = fillRange >= 0.0f && distance < fillRange;
    const bool farCamera = noLightRange >= 0.0f && distance > noLightRange &&
                     textureEnvironment().videoSetup().details != VideoDetailsHigh;
    for (float& term : current.ambientTerm) term = 0.0f;
    const std::int32_t lightClass = static_cast<std::int32_t>(current.parameters.lightSetIndex);
    std::int32_t passes = 0;
    for (std::size_t i = 0; i < lights.size(); ++i) {
        Light* light = lightOf(*this, static_cast<std::int32_t>(i));
        if (!light) continue;
        light->flags &= ~kLightPassMark;
        constexpr std::uint32_t active = kLightEnabledBit | kLightVisible;
        if ((light->flags & kLightBlack) || (light->flags & active) != active) continue;
        if (lightClass == 0 && !(light->flags & kLightsExterior)) continue;
        if (lightClass == 1 && !(light->flags & kLightsInterior)) continue;
        if (farCamera || (nearCamera && (light->flags & kLightFillKind))) {
            light->accumulateFillColor(lightClass, current.ambientTerm);
            continue;
        }
        light->flags |= kLightPassMark;
        passes += (light->flags & kLightThreePasses) ? 3 : 1;
    }
    return passes;
}

template <class Draw>
bool ModelElement::eachMaterial(Draw draw) {
    ModelElementLod* level = lod();
    if (!level) return false;
    if (!level->mesh) return draw();
    bool drawn = false;
    for (std::size_t i = 0; i < level->materials.size(); ++i) {
        level->subset = static_cast<std::int32_t>(i);
        level->material = level->materials[i].get();
        drawn = draw() || drawn;
    }
    return drawn;
}

bool ModelElement::drawShadowCaster(const ShadowRecord& record) {
    if (!(flags & kElementEnabled)) return false;
    return eachMaterial([&] {
        const std::int32_t before = drawCount;
        Model::drawElementShadowCasterPass(*this, record);
        return drawCount > before;
    });
}

bool ModelElement::drawShadowReceiver(const ShadowRecord& record) {
    const std::uint32_t wanted = kElementEnabled | kElementShadowReceiver;
    if ((flags & wanted) != wanted || !model || !model->meshModel()) return false;
    return eachMaterial([&] {
        const std::int32_t before = drawCount;
        Model::drawElementShadowReceiverPass(*this, record);
        return drawCount > before;
    });
}

namespace {

// One textured fixed-function path: the shared set-up, its stage table and
// the mesh draw.
bool drawFixed(ModelElement& element, std::int32_t light, const StageSetup* stages, int count, bool lightMap,
               std::uint32_t ambient, bool colorVertexOff, bool textureFactor) {
    Material* material = fixedMaterial(element);
    if (!material) return false;
    // The fixed pipeline lights a light with three passes once, in its
    // first pass.
    if (light >= 0 && element.lightRepeat > 0) return false;
    const bool adds = light >= 0 && element.lightPass > 0;
    const std::int32_t blendMode = adds ? addedLightBlendMode(*material) : 0;
    if (blendMode < 0) return false;
    Cache& cache = stateCache();
    fixedCommon(cache, element, *material, light, lightMap, ambient, colorVertexOff, textureFactor);
    writeStages(cache, stages, count);
    if (adds) writeAddedLightStates(cache, blendMode);
    // The bound textures wait in the shader core's pass record.
    gameCore.render->shaders().applyPassTextures();
    Model::drawElementMesh(element);
    return true;
}

}  // namespace

bool Model::drawElementFixedKind0(ModelElement& element, std::int32_t light) {
    return drawFixed(element, light, kKind0, 2, true, 0, true, true);
}

bool Model::drawElementFixedKind3(ModelElement& element, std::int32_t light) {
    return drawFixed(element, light, kKind3, 1, false, 0, true, true);
}

bool Model::drawElementFixedKind6(ModelElement& element, std::int32_t light) {
    if (light < 0) return drawElementFixedKind3(element, light);
    // An added light pass brings its light alone: no ambient colour.
    const std::uint32_t ambient = element.lightPass > 0 ? 0u : 0xFFFFFFFFu;
    return drawFixed(element, light, kKind6Lit, 1, false, ambient, true, false);
}

bool Model::drawElementFixedKind9(ModelElement& element, std::int32_t light) {
    if (light < 0) return drawElementFixedKind0(element, light);
    // An added light pass leaves out the light map, the surface's ambient
    // light, which its first pass drew.
    return drawFixed(element, light, element.lightPass > 0 ? kKind9Added : kKind9Lit, 3, true, 0, false, true);
}

void Model::drawElementFixedDefault(ModelElement& element) {
    Material* material = fixedMaterial(element);
    if (!material) return;
    Cache& cache = stateCache();
    fixedCommon(cache, element, *material, -1, true, 0, true, false);
    float ambientColour[4];
    material->ambientWithTerm(ambientColour);
    cache.setRender(Cache::RsTextureFactor, packFactor(ambientColour, 1.0f, true));
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
    pass.blendApplied = pass.alphaApplied = 0;
    gameCore.render->shaders().applyPassState();
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
        Model::prepareElementFixedPass(element, -1, false);
        cache.setMaterial(D3DMATERIAL9{});
        cache.setRender(Cache::RsAmbient, packFactor(ambientColour, opacity, false));
        drawElementMesh(element);
        drawn = true;
    }
    if (!s.ffpDisableWaterLightpass && light >= 0) {
        writeStage(cache, 0, kWaterLight[0]);
        disableStage(cache, 1);
        Model::prepareElementFixedPass(element, light, !s.ffpDisableLighting);
        cache.setRender(Cache::RsColorVertex, 1);
        cache.setRender(Cache::RsFillMode, D3DFILL_SOLID);
        pass.blendMode = 8;
        pass.blendApplied = 0;
        gameCore.render->shaders().applyPassState();
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

namespace {

// Material kinds whose fixed-function path draws a lit pass for one light.
bool fixedPathLitPerLight(std::uint32_t kind) {
    switch (kind) {
    case 6: case 7: case 8: case 12: case 13: case 22: case 24: case 29: case 30:
    case 9: case 10: case 11: case 14: case 15: case 23: case 25: case 31: case 32:
        return true;
    default:
        return false;
    }
}

}  // namespace

bool Model::drawElementKind(ModelElement& element, std::int32_t light) {
    Material* material = element.material();
    if (!material) return false;
    const std::uint32_t kind = material->parameters.kind;
    const std::int32_t details = textureEnvironment().videoSetup().details;
    if (details == VideoDetailsNormal || details == VideoDetailsHigh) {
        if (kind >= 26 && kind <= 28) {
            const std::int32_t water = textureEnvironment().videoSetup().water;
            if (suppressWater || water < 0 || water > 2) return false;
            return water == 2 ? drawElementWaterNormShader(element, light) : drawElementWaterShader(element, light);
        }
        if (kind == 16 || kind == 17) return drawElementShaderKind16(element, light);
        if (kind == 62) return drawElementShaderKind62(element, light);
        return drawElementShader(element, light);
    }
    if (details != VideoDetailsMinimum) return false;
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
    // The fixed pipeline lights per pass too, where its path has a lit
    // variant (kinds drawn by the kind-6 and kind-9 paths): otherwise the
    // element's lights would never reach it there.
    const bool perLight = details != VideoDetailsMinimum || fixedPathLitPerLight(material->parameters.kind);
    if (perLight && (material->flags & Material::FlagLitPerLight)) {
        // Only the passes that drew count: when every one failed, the
        // element is drawn unlit. The first pass that draws brings the
        // ambient colour with its light, in the material's own blend; each
        // later one adds its light alone on top of it.
        std::int32_t passes = 0;
        std::int32_t drawn = 0;
        LightPassStates first;
        for (std::size_t i = 0; i < element.lights.size(); ++i) {
            const Light* lit = lightOf(element, static_cast<std::int32_t>(i));
            if (!lit || !(lit->flags & kLightPassMark)) continue;
            const int repeats = (lit->flags & kLightThreePasses) ? 3 : 1;
            for (int r = 0; r < repeats && passes < element.passLimit; ++r, ++passes) {
                if (drawn == 1 && element.lightPass == 0) first.keep();
                element.lightPass = drawn;
                element.lightRepeat = r;
                if (drawElementKind(element, static_cast<std::int32_t>(i))) ++drawn;
            }
        }
        const bool added = element.lightPass > 0;
        element.lightPass = element.lightRepeat = 0;
        if (added) first.restore();
        if (drawn > 0) return true;
    }
    return drawElementKind(element, -1);
}

// ---- Shader paths ----

namespace {

// The define values a material brings to the dynamic family.
struct MaterialSwitches {
    std::int32_t bones = 0, parallax = 0, normalmap = 0, terrain = 0, ambient = 0, envmap = 0, specular = 0,
                 wave = 0;
};

bool slotLoaded(const Material& material, std::int32_t slot) {
    const TextureLink& link = material.textures[slot];
    return link.enabled && link.frameHandler(link.currentFrame) != nullptr;
}

MaterialSwitches switchesOf(const Material& material) {
    MaterialSwitches s;
    const std::uint32_t caps =
        Material::capabilities(material.parameters.kind, textureEnvironment().videoSetup().details);
    s.bones = std::min(std::max(material.parameters.boneInfluences, 0), 4);
    s.parallax = slotLoaded(material, Material::SlotHeightMap) ? 1 : 0;
    s.normalmap = slotLoaded(material, Material::SlotNormalMap) ? 1 : 0;
    if ((caps & Material::CapTerrain) && slotLoaded(material, Material::SlotTerrain))
        s.terrain = (material.flags & 0x800) ? 2 : 1;
    if (caps & Material::CapTwoLightPasses)
        s.ambient = 2;
    else
        s.ambient = slotLoaded(material, Material::SlotLightmap) ? 3 : 1;
    s.envmap = slotLoaded(material, Material::SlotEnvironment) ? 1 : 0;
    s.specular = (material.flags & Material::FlagSpecular) ? 1 : 0;
    for (const auto& wave : material.waves)
        for (float v : wave)
            if (v != 0.0f) s.wave = 1;
    return s;
}

// The dynamic set-up of a material's switches, unlit, no depth pass.
void assignSwitches(MultyShaderDynamic20::Setup& v, const MaterialSwitches& s) {
    v = MultyShaderDynamic20::Setup();
    v.bones = s.bones;
    v.parallax = s.parallax;
    v.normalmap = s.normalmap;
    v.terrain = s.terrain;
    v.ambient = s.ambient;
    v.envmap = s.envmap;
    v.specular = s.specular;
    v.wave = s.wave;
}


VertexData* variable(ShaderProgram* program, const char* name) {
    if (!program) return nullptr;
    const int index = gameCore.render->shaders().mapper().find(name);
    return index < 0 ? nullptr : program->variables[index];
}

// Selects the family's programs; both must exist.
bool selectPrograms(MultyShader& family) {
    ShaderCore& shaders = gameCore.render->shaders();
    shaders.selectFamilyPrograms(family);
    return shaders.currentVertexProgram() && shaders.currentPixelProgram();
}

void reportDynamicFailure(Material& material) {
    const MultyShaderDynamic20::Setup& v = gameCore.render->shaders().dynamic20.values;
    material.reportFailure(v.ambient, v.envmap, v.specular, v.terrain, v.normalmap);
}

// Binds a link to every stage of a sampler variable (its registers).
void bindToSampler(TextureLink& link, const VertexData& sampler, std::int32_t filterClass) {
    std::int32_t stages[9];
    int count = 0;
    for (std::int32_t r : sampler.registers)
        if (r >= 0) stages[count++] = r;
    stages[count] = -1;
    link.bindToStageList(stages, filterClass, false);
}

void drawShaderMesh(ModelElement& element) {
    // The paths write the pass modes directly: have them applied again.
    ShaderPassState& pass = gameCore.render->shaders().pass;
    pass.alphaApplied = pass.blendApplied = pass.cullApplied = pass.depthApplied = 0;
    gameCore.render->stateCache().setRender(DXStateCache::RsFillMode, D3DFILL_SOLID);
    gameCore.render->shaders().prepareDraw();
    Model::drawElementMesh(element);
}

// Draws the element unlit through the Dynamic20 pair of the family's
// setup, with the pass's alpha, blend, cull and fog modes cleared; a
// missing pair is reported as the material's failure.
bool drawPlainDynamicPass(ModelElement& element, Material& material) {
    ShaderCore& shaders = gameCore.render->shaders();
    if (!selectPrograms(shaders.dynamic20)) {
        reportDynamicFailure(material);
        return false;
    }
    Model::prepareElementShaderPass(element, -1);
    shaders.pass.alphaMode = shaders.pass.blendMode = shaders.pass.cullMode = shaders.pass.fogMode = 0;
    drawShaderMesh(element);
    return true;
}

// Whether the general shader path draws the element's environment map in a
// pass of its own before the main pass: an alpha-blended surface (blend
// modes 2 and 3) scales its colour by its alpha, while its reflection
// should show whole, as on glass.
bool wantsEnvironmentPass(const Material& material, const MultyShaderDynamic20::Setup& v) {
    return v.envmap > 0 && (material.blendMode == 2 || material.blendMode == 3) &&
           slotLoaded(material, Material::SlotEnvironment);
}

// The environment-map pass: the cube map on stage 0, looked up by the
// camera-space reflection vector turned into world space, in the
// material's environment colour, added to what lies behind the surface.
void drawEnvironmentPass(ModelElement& element, Material& material) {
    Cache& cache = stateCache();
    ShaderCore& shaders = gameCore.render->shaders();
    shaders.selectPrograms(nullptr, nullptr);
    cache.setVertexShader(nullptr);
    cache.setPixelShader(nullptr);
    Model::prepareElementFixedPass(element, -1, false);
    material.textures[Material::SlotEnvironment].bindToStage(0, material.filterClass[Material::SlotEnvironment],
                                                             false);
    writeStage(cache, 0, {D3DTOP_MODULATE, D3DTA_TEXTURE, D3DTA_TFACTOR, D3DTOP_SELECTARG1, D3DTA_TFACTOR,
                          D3DTA_CURRENT, D3DTSS_TCI_CAMERASPACEREFLECTIONVECTOR, D3DTA_CURRENT});
    cache.setStage(0, Cache::StageTextureTransformFlags, D3DTTFF_COUNT3);
    D3DMATRIX toWorld = shaders.frame.viewInverse;
    toWorld.m[3][0] = toWorld.m[3][1] = toWorld.m[3][2] = 0.0f;
    cache.setTransform(Cache::TransformTexture0, toWorld);
    disableStage(cache, 1);
    cache.setRender(Cache::RsTextureFactor, Model::packFactor(material.colours[3], 1.0f, true));
    cache.setRender(Cache::RsFillMode, D3DFILL_SOLID);
    ShaderPassState& pass = shaders.pass;
    pass.blendMode = 8;
    pass.alphaMode = 0;
    pass.fogMode = 0;
    pass.depthFunction = 6;
    pass.alphaApplied = pass.blendApplied = pass.depthApplied = 0;
    shaders.applyPassState();
    Model::drawElementMesh(element);
    cache.setStage(0, Cache::StageTextureTransformFlags, D3DTTFF_DISABLE);
    cache.setStage(0, Cache::StageTexCoordIndex, 0);
}

// "mBones": each skin bone of the current level that feeds a palette slot
// sends its palette matrix (one per bone, in bone order, as the CPU
// skinning takes it) to that slot. A slot outside the palette is skipped.
void setBoneConstants(ModelElement& element, ShaderProgram* vertex) {
    VertexData* bones = variable(vertex, "mBones");
    const ModelElementLod* level = element.lod();
    if (!bones || !level || !level->mesh) return;
    const std::vector<MeshBone>& skin = level->mesh->skin().bones;
    const std::int32_t count = static_cast<std::int32_t>(level->palette.size());
    for (std::size_t b = 0; b < skin.size(); ++b) {
        const std::int32_t slot = skin[b].paletteSlot();
        if (slot < 0 || slot >= count || static_cast<std::int32_t>(b) >= count) continue;
        // Three rows a slot, the 4x3 matrix transposed: row c holds the
        // column c of the bone's matrix, translation last.
        const MeshMatrix& m = level->palette[b];
        for (int c = 0; c < 3; ++c) {
            const float row[4] = {m.m[0][c], m.m[1][c], m.m[2][c], m.m[3][c]};
            bones->setRow(3 * slot + c, row);
        }
    }
}

}  // namespace

bool Model::suppressWater = false;

bool Model::prepareElementShaderPass(ModelElement& element, std::int32_t light) {
    markReflection(element);
    ShaderCore& shaders = gameCore.render->shaders();
    ShaderProgram* vertex = shaders.currentVertexProgram();
    ShaderProgram* pixel = shaders.currentPixelProgram();
    if (VertexData* v = variable(vertex, "mWorld")) v->setMatrix(0, element.world);
    if (VertexData* v = variable(vertex, "mWorldViewProjection")) v->setMatrix(2, element.world);
    if (VertexData* v = variable(vertex, "mWorldView")) v->setMatrix(6, element.world);
    if (VertexData* v = variable(vertex, "mViewProjection")) v->setFromFrame(5);
    if (VertexData* v = variable(vertex, "mViewInverse")) v->setFromFrame(4);
    if (VertexData* v = variable(vertex, "vObjectSpaceEyePos")) {
        // The camera's position (the frame's camera world matrix; the origin
        // without a camera) in the element's space.
        float eye[3] = {shaders.frame.viewInverse.m[3][0], shaders.frame.viewInverse.m[3][1],
                        shaders.frame.viewInverse.m[3][2]};
        toObjectSpace(&element.world.m[0][0], eye, nullptr);
        v->setFloats(eye);
    }
    Material* material = element.material();
    if (material) {
        static const char* const kColours[6] = {"vColorAmbient", "vColorDiffuse", "vColorSpecular",
                                                "vColorEnvironment", "vColorMain", "vColorGlobal"};
        float ambient[4];
        material->ambientWithTerm(ambient);
        for (int c = 0; c < 6; ++c)
            if (VertexData* v = variable(pixel, kColours[c])) v->setFromPointer(c == 0 ? ambient : material->colours[c]);
        material->apply(vertex, false, pixel, &shaders.pass);
        if (material->parameters.boneInfluences > 0) setBoneConstants(element, vertex);
    }
    if (const Light* l = lightOf(element, light))
        return l->setShaderConstants(vertex, pixel, element.world, lightClassOf(element), element.lightRepeat);
    return true;
}

bool Model::drawElementShader(ModelElement& element, std::int32_t light) {
    Material* material = element.material();
    if (!material || !gameCore.render || !material->visible()) return false;
    ShaderCore& shaders = gameCore.render->shaders();
    MultyShaderDynamic20::Setup& v = shaders.dynamic20.values;
    assignSwitches(v, switchesOf(*material));
    const Light* lit = lightOf(element, light);
    if (!lit) {
        v.light = v.lmode = v.lmask = 0;
        if (v.ambient != 3) {
            v.specular = 0;
            if (v.envmap == 0) v.normalmap = 0;
        }
    } else {
        v.light = lit->shaderKind();
        v.lmode = lit->shaderMode();
        v.lmask = (lit->flags & 0x400) ? 1 : 0;
        if (v.terrain > 0) {
            v.lmask = 0;
            v.lmode = std::min(v.lmode, 1);
        }
    }
    // An added light pass brings its light alone: the ambient colour and
    // the reflection came with the element's first pass.
    const bool adds = lit && element.lightPass > 0;
    const std::int32_t addedBlend = adds ? addedLightBlendMode(*material) : 0;
    if (addedBlend < 0) return false;
    if (adds) v.ambient = v.envmap = 0;
    bool drawn = false;
    // The reflection of a blended surface goes first, on its own; the
    // passes below leave it out.
    if (!lit && wantsEnvironmentPass(*material, v)) {
        drawEnvironmentPass(element, *material);
        v.envmap = 0;
        drawn = true;
    }
    if (v.parallax > 0 && v.terrain > 0 && v.light > 0 && v.ambient > 0) {
        const std::int32_t saved[3] = {v.light, v.lmode, v.lmask};
        v.light = v.lmode = v.lmask = 0;
        shaders.pass.depthFunction = 6;
        if (selectPrograms(shaders.dynamic20)) {
            prepareElementShaderPass(element, -1);
            drawShaderMesh(element);
            drawn = true;
        }
        v.light = saved[0], v.lmode = saved[1], v.lmask = saved[2];
        v.ambient = 0;
    }
    if (v.ambient == 0 && v.terrain == 2) v.terrain = 1;
    shaders.pass.depthFunction = 6;
    if (!selectPrograms(shaders.dynamic20)) {
        reportDynamicFailure(*material);
        return drawn;
    }
    // A light that does not light the material's class draws no pass.
    if (!prepareElementShaderPass(element, light)) return drawn;
    if (adds) shaders.pass.blendMode = addedBlend;
    drawShaderMesh(element);
    return true;
}

bool Model::drawElementShaderKind16(ModelElement& element, std::int32_t light) {
    (void)light;  // drawn unlit
    // An added light pass would add the same unlit picture again.
    if (element.lightPass > 0) return false;
    Material* material = element.material();
    if (!material || !gameCore.render || !material->visible()) return false;
    ShaderCore& shaders = gameCore.render->shaders();
    MultyShaderDynamic20::Setup& v = shaders.dynamic20.values;
    assignSwitches(v, switchesOf(*material));
    v.envmap = v.specular = 0;
    shaders.pass.depthFunction = 6;
    if (!selectPrograms(shaders.dynamic20)) {
        reportDynamicFailure(*material);
        return false;
    }
    prepareElementShaderPass(element, -1);
    drawShaderMesh(element);
    return true;
}

bool Model::drawElementShaderKind62(ModelElement& element, std::int32_t light) {
    (void)light;
    if (element.lightPass > 0) return false;  // drawn unlit, once
    Material* material = element.material();
    if (!material || !gameCore.render || !material->visible()) return false;
    ShaderCore& shaders = gameCore.render->shaders();
    MultyShaderDynamic20::Setup& v = shaders.dynamic20.values;
    assignSwitches(v, switchesOf(*material));
    v.normalmap = v.envmap = v.specular = 0;
    v.ambient = 1;
    return drawPlainDynamicPass(element, *material);
}

bool Model::drawElementShaderContextPass(ModelElement& element) {
    Material* material = element.material();
    if (!material || !gameCore.render) return false;
    ShaderCore& shaders = gameCore.render->shaders();
    MultyShaderDynamic20::Setup& v = shaders.dynamic20.values;
    const MaterialSwitches s = switchesOf(*material);
    v = MultyShaderDynamic20::Setup();
    v.depth = 1;
    v.bones = s.bones;
    v.wave = s.wave;
    v.ambient = (material->blendMode >= 2 || material->alphaMode >= 1) ? 1 : 0;
    if (!selectPrograms(shaders.dynamic20)) return false;
    prepareElementShaderPass(element, -1);
    // The blur amount grows with the distance from the camera's focus: none
    // at the focus, all of it a focus distance nearer or farther. A
    // blended or alpha-tested surface leaves out what its alpha clips.
    const float focus = std::max(gameCore.render->cameraFrame.focus[0], 1e-3f);
    if (VertexData* t = variable(shaders.currentVertexProgram(), "vTT0")) t->setValues(focus, 1.0f / focus, 0.0f, 0.0f);
    if (VertexData* t = variable(shaders.currentPixelProgram(), "vTT0"))
        t->setValues(renderSettings.hdrDepthAlphaClip, 0.0f, 0.0f, 0.0f);
    shaders.pass.depthFunction = 6;
    shaders.pass.fogMode = 0;
    shaders.pass.blendMode = 14;
    shaders.pass.alphaMode = 3;
    drawShaderMesh(element);
    return true;
}

bool Model::drawElementReflectionPass(ModelElement& element) {
    Material* material = element.material();
    if (!material || !gameCore.render || !material->visible()) return false;
    ShaderCore& shaders = gameCore.render->shaders();
    // The element's own vertex program (its bones and waves) with the
    // reflection's pixel program.
    MultyShaderDynamic20::Setup& v = shaders.dynamic20.values;
    const MaterialSwitches s = switchesOf(*material);
    v = MultyShaderDynamic20::Setup();
    v.bones = s.bones;
    v.wave = s.wave;
    v.ambient = 1;
    shaders.pass.depthFunction = 6;
    shaders.selectFamilyPrograms(shaders.dynamic20);
    shaders.selectPixelProgram(kReflectionPixelProgram);
    ShaderProgram* pixel = shaders.currentPixelProgram();
    if (!shaders.currentVertexProgram() || !pixel || !pixel->has(ShaderProgram::BodyLoaded)) {
        reportDynamicFailure(*material);
        return false;
    }
    Model::prepareElementShaderPass(element, -1);
    shaders.pass.alphaMode = shaders.pass.blendMode = shaders.pass.cullMode = shaders.pass.fogMode = 0;
    drawShaderMesh(element);
    return true;
}

void Model::bindWaterTextures(bool reflection) {
    ShaderCore& shaders = gameCore.render->shaders();
    ShaderProgram* pixel = shaders.currentPixelProgram();
    ShaderProgram* vertex = shaders.currentVertexProgram();
    RenderBuiltinTextures& builtins = gameCore.render->builtinTextures;
    auto bind = [&](TextureLink* link, const char* sampler, std::int32_t filterClass, bool allocate) {
        VertexData* target = variable(pixel, sampler);
        if (!link || !target) return;
        if (allocate && !link->frameHandler(link->currentFrame)) link->allocateDefault(0, false);
        bindToSampler(*link, *target, filterClass);
    };
    bind(builtins.find("water20_wave"), "sLightMap", 5, true);
    bind(builtins.find("water20_normal"), "sNormalMap", 5, true);
    if (reflection) {
        TextureLink* mirror = builtins.find("ProcMirror");
        if (!mirror || !mirror->enabled || !mirror->handler() || !mirror->handler()->texture) return;
        bind(mirror, "sSpecularMap", 2, false);
        if (VertexData* size = variable(vertex, "vTT1")) {
            D3DSURFACE_DESC desc{};
            static_cast<IDirect3DTexture9*>(mirror->handler()->texture)->GetLevelDesc(0, &desc);
            size->setValues(float(desc.Width), float(desc.Height), 0.0f, 0.0f);
        }
        return;
    }
    // Without reflection the water mirrors the layer the scene's sky draws.
    Scene* scene = gameCore.currentScene();
    if (!scene || !scene->sky) return;
    TextureLink& layer = scene->sky->currentLayer();
    bind(&layer, "sSpecularMap", 2, false);
    bind(&layer, "sCubeMap", 2, false);
}

namespace {

// The two water shader paths share their set-up; Water20 differs in the
// lit pass's specular and light kind.
bool drawWater(ModelElement& element, std::int32_t light, MultyShaderWaterBase& family, bool water20) {
    Material* material = element.material();
    if (!material || !gameCore.render || !material->visible()) return false;
    ShaderCore& shaders = gameCore.render->shaders();
    MultyShaderWaterBase::Setup& v = family.values;
    const MaterialSwitches s = switchesOf(*material);
    const VideoSetup& mode = textureEnvironment().videoSetup();
    // The mirror shows only once the mirror pass drew it this frame; until
    // then the water reflects the sky.
    const bool reflection =
        mode.details > 0 && mode.water > 0 && mode.waterReflection == 1 && gameCore.render->mirrorDrawn();
    const Light* lit = lightOf(element, light);
    // A lit pass adds its light over the water: the element's first one
    // draws the unlit water beneath it.
    const bool base = lit && element.lightPass == 0 && drawWater(element, -1, family, water20);
    v.bones = s.bones;
    const std::uint32_t kind = material->parameters.kind;
    v.water = kind == 26 ? 1 : (kind == 27 ? 0 : 2);
    if (!lit) {
        v.ambient = reflection ? 1 : 4;
        v.light = v.lmode = v.specular = 0;
    } else {
        v.ambient = 0;
        v.lmode = lit->shaderMode();
        v.specular = water20 ? 1 : s.specular;
        v.light = water20 ? lit->shaderKind() : 2;
        shaders.pass.blendMode = 7;
    }
    shaders.pass.depthFunction = 6;
    if (!selectPrograms(family)) {
        material->reportFailure(v.ambient, 0, v.specular, 0, 0);
        return base;
    }
    if (!Model::prepareElementShaderPass(element, light)) return base;
    if (lit) shaders.pass.blendMode = 7;
    Model::bindWaterTextures(reflection);
    drawShaderMesh(element);
    return true;
}

}  // namespace

bool Model::drawElementWaterShader(ModelElement& element, std::int32_t light) {
    return drawWater(element, light, gameCore.render->shaders().waterNorm20, false);
}

bool Model::drawElementWaterNormShader(ModelElement& element, std::int32_t light) {
    return drawWater(element, light, gameCore.render->shaders().water20, true);
}

// ---- Shadow passes ----

namespace {

D3DMATRIX multiply(const D3DMATRIX& a, const D3DMATRIX& b) {
    D3DMATRIX out{};
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c)
            for (int k = 0; k < 4; ++k) out.m[r][c] += a.m[r][k] * b.m[k][c];
    return out;
}

// Clip coordinates to shadow-map texture coordinates.
D3DMATRIX biasMatrix() {
    D3DMATRIX m{};
    m.m[0][0] = 0.5f;
    m.m[1][1] = -0.5f;
    m.m[2][2] = 0.5f;
    m.m[3][0] = m.m[3][1] = m.m[3][2] = 0.5f;
    m.m[3][3] = 1.0f;
    return m;
}

TextureLink* builtin(const char* name) { return gameCore.render->builtinTextures.find(name); }

void bindToPixelSampler(TextureLink* link, const char* sampler) {
    if (!link) return;
    if (VertexData* target = variable(gameCore.render->shaders().currentPixelProgram(), sampler))
        bindToSampler(*link, *target, 0);
}

}  // namespace

ShadowReceiverConstants Model::shadowReceiverConstants(const ShadowRecord& record) {
    ShadowReceiverConstants k;
    const float a = record.windowY - 1.0f + record.windowHeight;
    D3DMATRIX translate = identityMatrix();
    translate.m[3][0] = -record.windowX;
    translate.m[3][1] = a;
    D3DMATRIX scale = identityMatrix();
    scale.m[0][0] = 1.0f / record.windowWidth;
    scale.m[1][1] = 1.0f / record.windowHeight;
    k.shadow = multiply(multiply(multiply(record.projection, biasMatrix()), translate), scale);
    ShadowLightValues values;
    record.shadowValues(values);
    float falloff = std::pow(values.base + record.falloffOffset, values.exponent);
    if (falloff != 0.0f) falloff = 1.0f / falloff;
    const float tt1[4] = {2.0f * values.intensity * record.intensity, values.exponent, falloff, 0.0f};
    const float tt0[4] = {record.windowWidth, record.windowHeight, record.windowX, -a};
    std::copy(tt1, tt1 + 4, k.pixelTT1);
    std::copy(tt0, tt0 + 4, k.pixelTT0);
    std::copy(values.colour, values.colour + 3, k.colour);
    return k;
}

void Model::drawElementShadowCasterPass(ModelElement& element, const ShadowRecord& record) {
    Material* material = element.material();
    if (!material || !gameCore.render || !material->visible()) return;
    ShaderCore& shaders = gameCore.render->shaders();
    MultyShaderDynamic20::Setup& v = shaders.dynamic20.values;
    const MaterialSwitches s = switchesOf(*material);
    v = MultyShaderDynamic20::Setup();
    v.bones = s.bones;
    v.ambient = 1;
    v.wave = s.wave;
    shaders.pass.depthFunction = 6;
    if (!selectPrograms(shaders.dynamic20)) {
        reportDynamicFailure(*material);
        return;
    }
    ShaderProgram* vertex = shaders.currentVertexProgram();
    ShaderProgram* pixel = shaders.currentPixelProgram();
    if (VertexData* tt0 = variable(vertex, "vTT0")) tt0->setValues(1.0f, 1.0f, 0.0f, 0.0f);
    prepareElementShaderPass(element, -1);
    if (VertexData* ambient = variable(pixel, "vColorAmbient")) {
        ambient->changed = 0;
        ambient->setValues(2.0f, 2.0f, 2.0f, 2.0f);
    }
    const D3DMATRIX& world = element.world;
    const D3DMATRIX projected = multiply(world, record.projection);
    if (VertexData* t = variable(vertex, "fTime")) t->setFloats(&shaders.frame.time);
    if (VertexData* t = variable(pixel, "fTime")) t->setFloats(&shaders.frame.time);
    if (VertexData* m = variable(vertex, "mWorld")) {
        m->changed = 0;
        m->setMatrix(0, world);
    }
    if (VertexData* m = variable(vertex, "mWorldViewProjection")) {
        m->changed = 0;
        m->setMatrix(0, projected);
    }
    TextureLink* white = builtin("procWhiteMap");
    if (white && !white->frameHandler(white->currentFrame)) white->allocateDefault(0, false);
    bindToPixelSampler(white, "sDiffuseMap");
    shaders.pass.alphaMode = shaders.pass.blendMode = shaders.pass.fogMode = shaders.pass.cullMode = 0;
    shaders.pass.depthFunction = 1;
    drawShaderMesh(element);
}

void Model::drawElementShadowReceiverPass(ModelElement& element, const ShadowRecord& record) {
    Material* material = element.material();
    if (!material || !gameCore.render) return;
    if (textureEnvironment().videoSetup().details == VideoDetailsMinimum || !gameCore.currentScene()) return;
    TextureLink* shadowMap = builtin("ProcSHADOW1");
    const DXTextureHandler* map = shadowMap ? shadowMap->frameHandler(shadowMap->currentFrame) : nullptr;
    if (!map || !map->texture || !material->visible()) return;
    ShaderCore& shaders = gameCore.render->shaders();
    shaders.pass.depthFunction = 6;
    shaders.selectVertexProgram(17);
    shaders.selectPixelProgram(16);
    ShaderProgram* vertex = shaders.currentVertexProgram();
    ShaderProgram* pixel = shaders.currentPixelProgram();
    if (!vertex || !pixel) return;
    if (VertexData* t = variable(vertex, "fTime")) t->setFloats(&shaders.frame.time);
    if (VertexData* t = variable(pixel, "fTime")) t->setFloats(&shaders.frame.time);
    prepareElementShaderPass(element, -1);
    const ShadowReceiverConstants k = shadowReceiverConstants(record);
    VertexData* vertexTT0 = variable(vertex, "vTT0");
    VertexData* vertexTT1 = variable(vertex, "vTT1");
    VertexData* ambient = variable(pixel, "vColorAmbient");
    for (VertexData* cleared : {vertexTT0, vertexTT1, ambient})
        if (cleared) cleared->changed = 0;
    if (vertexTT0) vertexTT0->setValues(1.0f, 1.0f, 0.0f, 0.0f);
    if (vertexTT1) vertexTT1->setValues(renderSettings.shadowOffset, 0.0f, 0.0f, 0.0f);
    if (VertexData* m = variable(vertex, "mShadow")) m->setMatrix(0, k.shadow);
    if (VertexData* d = variable(pixel, "vLightDirection")) d->setFloats(record.direction);
    if (VertexData* p = variable(pixel, "vObjectSpaceLightPos")) p->setFloats(record.position);
    if (VertexData* t = variable(pixel, "vTT1")) t->setFromPointer(k.pixelTT1);
    if (VertexData* t = variable(pixel, "vTT0")) t->setFromPointer(k.pixelTT0);
    if (ambient) ambient->setXYZ(k.colour[0], k.colour[1], k.colour[2]);
    shaders.pass.depthFunction = 6;
    shaders.pass.alphaMode = 0;
    shaders.pass.blendMode = 2;
    shaders.pass.cullMode = 0;
    bindToPixelSampler(shadowMap, "sDiffuseMap");
    drawShaderMesh(element);
}
