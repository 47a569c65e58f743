#include "effects/Y3Sky.h"

#include <algorithm>
#include <cmath>
#include <initializer_list>

#include "app/GameCore.h"
#include "effects/SkyDataManager.h"
#include "effects/SkyDome.h"
#include "foundation/DataStream.h"
#include "foundation/Log.h"
#include "foundation/Matrix.h"
#include "foundation/TimeCore.h"
#include "render/DXTextureHandler.h"
#include "render/RenderCore.h"
#include "render/VideoCore.h"
#include "render/VideoDevice.h"
#include "render/shaders/ShaderCore.h"
#include "render/states/DXStateCache.h"
#include "resources/StoredDataManager.h"

namespace {

const char* const kLayerNames[kSkyLayerCount] = {"sky_main", "sky_clouds", "sky_rain", "sky_fog"};

// A weather or time of day from a script or a save, kept inside the 16
// records.
std::int32_t clampCode(std::int32_t value, const char* what) {
    if (value >= 0 && value <= 3) return value;
    const std::int32_t clamped = std::clamp(value, 0, 3);
    engineLog().warning("Sky %s %i out of range: %i used", what, value, clamped);
    return clamped;
}

}  // namespace

Y3Sky::Y3Sky(Y3SkyDataInstance* record) : description(record) {
    // Every layer but the rain layer is made with the option byte set.
    for (std::int32_t i = 0; i < kSkyLayerCount; ++i)
        layers[i].init(kLayerNames[i], 0, 0, 0, i == SkyLayerRain ? 0 : 1);
}

Y3Sky::~Y3Sky() {
    Log& log = engineLog();
    if (state & kSkyAllocated) log.error("Deallocate scene sky before destructor call");
    if (state & kSkyRegistered) log.error("Unregister scene sky before destructor call");
}

const char* Y3Sky::resourceUserName() const { return description ? description->name : ""; }

void Y3Sky::setResourcePushed(bool pushed) {
    if (pushed) state |= kSkyRegistered;
    else state &= ~kSkyRegistered;
}

bool Y3Sky::push() {
    if (!ResourceManagerBase::push(description, this))
        return engineLog().error("Can't register sky [%s]", resourceUserName());
    state |= kSkyAllocated;
    return true;
}

bool Y3Sky::pop() {
    if (!ResourceManagerBase::pop(description, this)) return engineLog().error("Can't pop sky [%s]", resourceUserName());
    for (TextureLink& layer : layers) layer.release(false);
    layersTried = 0;
    state &= ~kSkyAllocated;
    return true;
}

std::int32_t Y3Sky::write(DataStream& stream) const {
    std::int32_t total = 0;
    if (!addField(total, writeF32(stream, cloudOffsetU)) || !addField(total, writeF32(stream, cloudOffsetV)) ||
        !addField(total, writeU32(stream, state)) || !addField(total, writeI32(stream, weather)))
        return total;
    addField(total, writeI32(stream, timeOfDay));
    return total;
}

std::int32_t Y3Sky::read(DataStream& stream) {
    float u = 0.0f;
    float v = 0.0f;
    std::uint32_t bits = 0;
    std::int32_t readWeather = 0;
    std::int32_t readTime = 0;
    std::int32_t total = 0;
    if (!addField(total, readF32(stream, u)) || !addField(total, readF32(stream, v)) ||
        !addField(total, readU32(stream, bits)) || !addField(total, readI32(stream, readWeather)) ||
        !addField(total, readI32(stream, readTime)))
        return total;
    cloudOffsetU = u;
    cloudOffsetV = v;
    (void)bits;  // a sky read back is neither registered nor pushed
    state = 0;
    setWeather(readWeather);
    setTimeOfDay(readTime);
    return total;
}

TextureLink& Y3Sky::currentLayer() {
    // The sky draws each weather with its own layer: clear with "sky_main",
    // clouds with "sky_clouds", rain with "sky_rain", fog with "sky_fog".
    return weather >= 0 && weather < kSkyLayerCount ? layers[weather] : layers[SkyLayerMain];
}

void Y3Sky::setWeather(std::int32_t value) { weather = clampCode(value, "weather"); }

void Y3Sky::setTimeOfDay(std::int32_t value) { timeOfDay = clampCode(value, "time of day"); }

bool Y3Sky::currentRecord(float (&fields)[kSkyRecordFields]) const {
    if (!description) return false;
    if (!description->has(kResourceHeaderLoaded)) {
        if (description->has(kResourceUnavailable) || !gameCore.skyData) return false;
        if (!gameCore.skyData->loadHeader(description, nullptr)) return false;
    }
    const float* records = description->records();
    if (!records) return false;
    if (weather < 0 || weather > 3 || timeOfDay < 0 || timeOfDay > 3) return false;
    const float* record = records + (weather + 4 * timeOfDay) * kSkyRecordFields;
    std::copy(record, record + kSkyRecordFields, fields);
    return true;
}

SkyEnvironment& skyEnvironment() {
    static SkyEnvironment environment{};
    return environment;
}

bool Y3Sky::update(const CurrentTime& time) {
    float record[kSkyRecordFields];
    if (!currentRecord(record)) return false;
    const double speed = record[SkyFieldCloudSpeed];
    cloudOffsetU = static_cast<float>(cloudOffsetU + speed * time.game.step);
    cloudOffsetV = static_cast<float>(cloudOffsetV + speed * time.game.step * 0.1);
    SkyEnvironment& environment = skyEnvironment();
    std::copy(record + SkyFieldRange, record + SkyFieldRange + 3, environment.range);
    environment.depth4 = record[SkyFieldDepth4];
    std::copy(record + SkyFieldDepth, record + SkyFieldDepth + 4, environment.depth);
    std::copy(record + SkyFieldBloom, record + SkyFieldBloom + 3, environment.bloom);
    environment.fogStart = record[SkyFieldFogStart];
    environment.fogEnd = record[SkyFieldFogEnd];
    std::copy(record + SkyFieldHorizon, record + SkyFieldHorizon + 3, environment.horizon);
    return true;
}

SkyShaderPass skyShaderPass(std::int32_t weather, const float (&record)[kSkyRecordFields]) {
    auto on = [&](std::int32_t field) {
        return record[field] >= 0.0001f || record[field + 1] >= 0.0001f || record[field + 2] >= 0.0001f;
    };
    const bool sky = on(SkyFieldSky);
    const bool stars = on(SkyFieldStars);
    const bool clouds = on(SkyFieldClouds);
    auto pass = [](std::initializer_list<SkyColourLayer> layers, std::int32_t vertex, std::int32_t pixel) {
        SkyShaderPass p;
        for (SkyColourLayer layer : layers) p.layers[p.layerCount++] = layer;
        p.vertexProgram = vertex;
        p.pixelProgram = pixel;
        return p;
    };
    if (weather == SkyRain) return pass({SkyColourClouds}, 20, 20);
    if (weather == SkyClear) {
        if (!stars) return pass({SkyColourSky}, 20, 20);
        if (sky) return pass({SkyColourSky, SkyColourStars}, 21, 22);
        return pass({SkyColourStars}, 20, 21);
    }
    if (!stars && !clouds) return pass({SkyColourSky}, 20, 20);
    if (!sky && !clouds) return pass({SkyColourStars}, 20, 21);
    if (!stars && sky) return pass({SkyColourSky, SkyColourClouds}, 21, 23);
    if (stars && !sky) return pass({SkyColourStars, SkyColourClouds}, 21, 24);
    return pass({SkyColourSky, SkyColourStars, SkyColourClouds}, 22, 25);
}

std::uint32_t skyBackgroundColour(const float (&record)[kSkyRecordFields]) {
    auto finite = [](float v) { return std::isfinite(v) ? v : 0.0f; };
    const float* horizon = record + SkyFieldHorizon;
    const float alpha = std::min((finite(record[SkyFieldDepth4]) + 1.0f) * 0.5f, 1.0f);
    const auto alphaByte = static_cast<std::uint32_t>(alpha > 0.0f ? alpha * 255.0f : 0.0f);
    return (alphaByte << 24) | packColorRGB(finite(horizon[0]), finite(horizon[1]), finite(horizon[2]));
}

namespace {

// What both draw paths start from.
struct SkyFrame {
    float record[kSkyRecordFields];
    float k = 1.0f / 1024.0f;  // 1 / the video mode's width: the texture scales follow the screen
    float alpha = 1.0f;        // the alpha of the frame's clear colour
    D3DMATRIX world{};         // the dome centred on the eye
};

// The texture layer a colour layer draws with: the main texture for the sky
// and stars, for the clouds the one of the weather.
std::int32_t layerTexture(SkyColourLayer layer, std::int32_t weather) {
    if (layer != SkyColourClouds) return SkyLayerMain;
    if (weather == SkyRain) return SkyLayerRain;
    return weather == SkyClouds ? SkyLayerClouds : SkyLayerFog;
}

const float* layerColour(const float (&record)[kSkyRecordFields], SkyColourLayer layer) {
    return record + (layer == SkyColourSky ? SkyFieldSky : layer == SkyColourStars ? SkyFieldStars : SkyFieldClouds);
}

void setVector(VertexData* variable, float x, float y, float z, float w) {
    if (!variable) return;
    variable->changed = 0;
    variable->setValues(x, y, z, w);
}

D3DCOLOR packColour(const float* rgb, float alpha) {
    auto byte = [](float v) {
        const float c = std::isfinite(v) ? std::clamp(v, 0.0f, 1.0f) : 0.0f;
        return static_cast<std::uint32_t>(c * 255.0f + 0.5f);
    };
    return (byte(alpha) << 24) | (byte(rgb[0]) << 16) | (byte(rgb[1]) << 8) | byte(rgb[2]);
}

}  // namespace

bool Y3Sky::layerReady(std::int32_t index) {
    TextureLink& link = layers[index];
    if (link.handler()) return true;
    // A missing texture is reported once; the sky then draws nothing.
    const bool quiet = (layersTried & (1u << index)) != 0;
    layersTried |= 1u << index;
    return link.allocateDefault(0, quiet) && link.handler();
}

// The common start of both paths: the record, the scale factor and the
// dome's place; false when the sky cannot draw.
static bool skyFrameStart(const Y3Sky& sky, SkyFrame& frame) {
    RenderCore* render = gameCore.render;
    if (!render || !render->skyDome.buffersReady() || !sky.currentRecord(frame.record)) return false;
    const std::int32_t width = textureEnvironment().videoSetup().res_width;
    frame.k = 1.0f / static_cast<float>(width > 0 ? width : 1024);
    frame.alpha = static_cast<float>(skyBackgroundColour(frame.record) >> 24) / 255.0f;
    frame.world = identityMatrix();
    if (render->cameraFrame.valid)
        for (int i = 0; i < 3; ++i) frame.world.m[3][i] = render->cameraFrame.position[i];
    return true;
}

// The pass state every sky draw shares: opaque, no depth test or write,
// both faces (the dome is seen from inside), the sky's own fog.
static void skyPassState(ShaderCore& shaders, const SkyFrame& frame) {
    ShaderPassState& pass = shaders.pass;
    pass.alphaMode = 0;
    pass.blendMode = 1;  // opaque without depth write
    pass.cullMode = 0;
    pass.depthFunction = 1;  // always
    pass.alphaApplied = pass.blendApplied = pass.cullApplied = pass.depthApplied = 0;
    // Squared exponential fog of the record's density towards the horizon colour.
    pass.fogMode = 3;
    pass.fogStart = frame.record[SkyFieldSkyFog];
    std::copy(frame.record + SkyFieldHorizon, frame.record + SkyFieldHorizon + 3, pass.fogColor);
}

// After the sky the objects draw with the depth test, without blending
// and with the fog of their own materials.
static void skyPassEnd(ShaderCore& shaders) {
    ShaderPassState& pass = shaders.pass;
    pass.blendMode = 0;
    pass.depthFunction = 6;
    pass.fogMode = 0;
    pass.alphaApplied = pass.blendApplied = pass.cullApplied = pass.depthApplied = 0;
}

bool Y3Sky::render() {
    if (!gameCore.render) return false;
    // Shaders when the video mode has them and the programs loaded.
    const bool shaders = textureEnvironment().videoSetup().details != VideoDetailsMinimum &&
                         !(gameCore.video && gameCore.video->fixedPipeline);
    const bool drawn = shaders ? renderShader() : renderFixed();
    skyPassEnd(gameCore.render->shaders());
    return drawn;
}

bool Y3Sky::renderRainy() {
    const std::int32_t kept = weather;
    weather = SkyRain;
    const bool drawn = render();
    weather = kept;
    return drawn;
}

bool Y3Sky::renderShader() {
    SkyFrame frame;
    if (!skyFrameStart(*this, frame)) return false;
    const SkyShaderPass drawn = skyShaderPass(weather, frame.record);
    for (std::int32_t i = 0; i < drawn.layerCount; ++i)
        if (!layerReady(layerTexture(drawn.layers[i], weather))) return false;
    RenderCore& render = *gameCore.render;
    ShaderCore& shaders = render.shaders();
    shaders.selectVertexProgram(drawn.vertexProgram);
    shaders.selectPixelProgram(drawn.pixelProgram);
    ShaderProgram* vertex = shaders.currentVertexProgram();
    ShaderProgram* pixel = shaders.currentPixelProgram();
    if (!vertex || !pixel || !vertex->has(ShaderProgram::BodyLoaded) || !pixel->has(ShaderProgram::BodyLoaded))
        return false;
    D3DMATRIX projected{};
    matrix44Multiply(&frame.world.m[0][0], &shaders.frame.viewProjection.m[0][0], &projected.m[0][0]);
    if (VertexData* m = shaders.programVariable(vertex, "mWorldViewProjection")) {
        m->changed = 0;
        m->setMatrix(0, projected);
    }
    static const char* const kTransforms[3] = {"vTT0", "vTT1", "vTT2"};
    static const char* const kColours[2] = {"vTT0", "vTT1"};
    for (std::int32_t i = 0; i < drawn.layerCount; ++i) {
        const SkyColourLayer layer = drawn.layers[i];
        // The sky layer at 3072 k, the stars at 8096 k, the clouds at 1024 k
        // and scrolled; rain draws its cloud colour at the sky's scale.
        const bool clouds = layer == SkyColourClouds;
        const float scale = weather == SkyRain ? 3072.0f : layer == SkyColourSky ? 3072.0f
                                                        : layer == SkyColourStars ? 8096.0f : 1024.0f;
        setVector(shaders.programVariable(vertex, kTransforms[i]), scale * frame.k, scale * frame.k,
                  clouds ? cloudOffsetU : 0.0f, clouds ? cloudOffsetV : 0.0f);
        const float* colour = layerColour(frame.record, layer);
        if (i == 0) setVector(shaders.programVariable(vertex, "vColorMain"), colour[0], colour[1], colour[2], frame.alpha);
        else setVector(shaders.programVariable(pixel, kColours[i - 1]), colour[0], colour[1], colour[2], 1.0f);
        layers[layerTexture(layer, weather)].bindToStage(static_cast<std::uint32_t>(i), 0, false);
    }
    setVector(shaders.programVariable(vertex, "vLinearFog"), frame.record[SkyFieldSkyFog], 0.0f, 0.0f, 0.0f);
    skyPassState(shaders, frame);
    return render.skyDome.draw();
}

bool Y3Sky::renderFixed() {
    SkyFrame frame;
    if (!skyFrameStart(*this, frame)) return false;
    // The same layers as the shader path; clouds and fog put their cloud
    // layer over the others in a second draw.
    const SkyShaderPass drawn = skyShaderPass(weather, frame.record);
    const bool secondDraw = (weather == SkyClouds || weather == SkyFog) && drawn.layerCount > 0 &&
                            drawn.layers[drawn.layerCount - 1] == SkyColourClouds;
    for (std::int32_t i = 0; i < drawn.layerCount; ++i)
        if (!layerReady(layerTexture(drawn.layers[i], weather))) return false;
    RenderCore& render = *gameCore.render;
    ShaderCore& shaders = render.shaders();
    DXStateCache& cache = render.stateCache();
    using C = DXStateCache;
    shaders.selectPrograms(nullptr, nullptr);
    cache.setVertexShader(nullptr);
    cache.setPixelShader(nullptr);
    cache.setRender(C::RsLighting, 0);
    cache.setTransform(C::TransformWorld, frame.world);
    // One stage a layer, all from the dome's one set of coordinates, each
    // scaled (and the clouds scrolled) by its texture transform.
    auto stage = [&](int index, SkyColourLayer layer, bool first) {
        const bool clouds = layer == SkyColourClouds;
        const float scale = (weather == SkyRain || layer == SkyColourSky) ? 16192.0f
                            : layer == SkyColourStars ? 6144.0f : 2048.0f;
        D3DMATRIX transform = identityMatrix();
        transform.m[0][0] = transform.m[1][1] = scale * frame.k;
        transform.m[2][0] = clouds ? cloudOffsetU : 0.0f;
        transform.m[2][1] = clouds ? cloudOffsetV : 0.0f;
        cache.setTransform(static_cast<C::TransformSlot>(C::TransformTexture0 + index), transform);
        cache.setStage(index, C::StageTexCoordIndex, 0);
        cache.setStage(index, C::StageTextureTransformFlags, D3DTTFF_COUNT2);
        cache.setStage(index, C::StageConstant, packColour(layerColour(frame.record, layer), frame.alpha));
        const std::uint32_t texel = layer == SkyColourStars ? (D3DTA_TEXTURE | D3DTA_ALPHAREPLICATE) : D3DTA_TEXTURE;
        if (first || clouds) {
            cache.setStage(index, C::StageColorOp, D3DTOP_MODULATE);
            cache.setStage(index, C::StageColorArg1, texel);
            cache.setStage(index, C::StageColorArg2, D3DTA_CONSTANT);
        } else {
            // The stars add their colour where the main texture's alpha has them.
            cache.setStage(index, C::StageColorOp, D3DTOP_MULTIPLYADD);
            cache.setStage(index, C::StageColorArg0, D3DTA_CURRENT);
            cache.setStage(index, C::StageColorArg1, texel);
            cache.setStage(index, C::StageColorArg2, D3DTA_CONSTANT);
        }
        cache.setStage(index, C::StageAlphaOp, D3DTOP_SELECTARG1);
        cache.setStage(index, C::StageAlphaArg1, clouds && !first ? D3DTA_TEXTURE : (first ? D3DTA_CONSTANT : D3DTA_CURRENT));
        layers[layerTexture(layer, weather)].bindToStage(static_cast<std::uint32_t>(index), 0, false);
    };
    auto closeStages = [&](int from) {
        for (int i = from; i < 3; ++i) {
            cache.setStage(i, C::StageColorOp, D3DTOP_DISABLE);
            cache.setStage(i, C::StageAlphaOp, D3DTOP_DISABLE);
            cache.setStage(i, C::StageTextureTransformFlags, D3DTTFF_DISABLE);
        }
    };
    const std::int32_t firstDraw = secondDraw ? drawn.layerCount - 1 : drawn.layerCount;
    for (std::int32_t i = 0; i < firstDraw; ++i) stage(i, drawn.layers[i], i == 0);
    closeStages(firstDraw);
    skyPassState(shaders, frame);
    bool result = render.skyDome.draw();
    if (secondDraw) {
        // The clouds blend over by their texture's alpha; the frame's alpha
        // stays that of the sky.
        stage(0, SkyColourClouds, false);
        cache.setStage(0, C::StageColorOp, D3DTOP_MODULATE);
        closeStages(1);
        shaders.pass.blendMode = 2;
        shaders.pass.blendApplied = 0;
        const std::uint32_t colourWrite = cache.renderDesired[C::RsColorWriteEnable];
        cache.setRender(C::RsColorWriteEnable, colourWrite & 7u);
        result = render.skyDome.draw() && result;
        cache.setRender(C::RsColorWriteEnable, colourWrite);
    }
    // The stages and transforms as the next fixed-function draw expects them.
    for (int i = 0; i < 3; ++i) {
        cache.setStage(i, C::StageTextureTransformFlags, D3DTTFF_DISABLE);
        cache.setTransform(static_cast<C::TransformSlot>(C::TransformTexture0 + i), identityMatrix());
    }
    closeStages(1);
    cache.setStage(0, C::StageColorOp, D3DTOP_MODULATE);
    cache.setStage(0, C::StageColorArg1, D3DTA_TEXTURE);
    cache.setStage(0, C::StageColorArg2, D3DTA_CURRENT);
    cache.setStage(0, C::StageAlphaOp, D3DTOP_SELECTARG1);
    cache.setStage(0, C::StageAlphaArg1, D3DTA_TEXTURE);
    cache.setTransform(C::TransformWorld, identityMatrix());
    return result;
}
