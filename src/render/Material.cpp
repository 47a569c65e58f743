#include "render/Material.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>

#include "app/GameCore.h"
#include "effects/LightSetLibrary.h"
#include "foundation/Log.h"
#include "render/RenderCore.h"
#include "render/shaders/ShaderCore.h"
#include "render/shaders/ShaderState.h"
#include "render/shaders/ShaderVariables.h"
#include "render/states/DXStateCache.h"
#include "render/VideoSetup.h"

const Material* currentMaterial = nullptr;

namespace {

// The capability words by kind (rows 0-62) and details (columns 0-2).
struct CapabilityRow {
    std::uint32_t details[3];
};
constexpr CapabilityRow kCapabilities[Material::kKinds] = {
    {0x20, 0, 0},           {0x20, 0x10, 0x10},       {0x20, 0x1010, 0x1010},   {0x20, 0, 0},
    {0x20, 0x10, 0x10},     {0x20, 0x1010, 0x1010},   {0xA0, 0x84, 0x84},       {0xA0, 0x94, 0x94},
    {0xA0, 0x1094, 0x1094}, {0xA0, 0x84, 0x84},       {0xA0, 0x94, 0x94},       {0xA0, 0x1094, 0x1094},
    {0xA0, 0x84, 0x284},    {0xA0, 0x8C, 0x28C},      {0xA0, 0x84, 0x284},      {0xA0, 0x84, 0x28C},
    {0x20, 0, 0},           {0x20, 0, 0},             {0x20, 0x100, 0x100},     {0x20, 0x100, 0x100},
    {0xA0, 0x110, 0x110},   {0xA0, 0x110, 0x110},     {0xA0, 0x184, 0x184},     {0xA0, 0x194, 0x194},
    {0xA0, 0x194, 0x194},   {0xA0, 0x194, 0x194},     {0x04A0, 0x0480, 0x0480}, {0x04A0, 0x0480, 0x0480},
    {0x04A0, 0x0480, 0x0480}, {0xA0, 0x184, 0x384},   {0xA0, 0x18C, 0x38C},     {0xA0, 0x184, 0x384},
    {0xA0, 0x184, 0x38C},   {0xA0, 0x94, 0x294},      {0xA0, 0x109C, 0x129C},   {0xA0, 0x94, 0x294},
    {0xA0, 0x109C, 0x129C}, {0xA0, 0x94, 0x294},      {0xA0, 0x109C, 0x129C},   {0xA0, 0x109C, 0x129C},
    {0xA0, 0x109C, 0x129C}, {0xA0, 0x9C, 0x29C},      {0xA0, 0x109C, 0x129C},   {0xA0, 0x9C, 0x29C},
    {0xA0, 0x109C, 0x129C}, {0xA0, 0x9C, 0x29C},      {0xA0, 0x109C, 0x129C},   {0xA0, 0x109C, 0x129C},
    {0xA0, 0x109C, 0x129C}, {0xA0, 0x884, 0x884},     {0xA0, 0x894, 0x894},     {0xA0, 0x1894, 0x1894},
    {0xA0, 0x884, 0xA84},   {0xA0, 0x88C, 0xA8C},     {0xA0, 0x89C, 0xA9C},     {0xA0, 0x189C, 0x1A9C},
    {0xA0, 0x89C, 0xA9C},   {0xA0, 0x189C, 0x1A9C},   {0x20, 0, 0},             {0x20, 0, 0},
    {0x20, 0, 0},           {0, 0, 0},                {0, 0, 0},
};

// Slot to sampler: Diffuse 0, Lightmap 1, Environment 4, Terrain 6,
// Specular 5, NormalMap 2, HeightMap 3, TerainSpecular 9, TerainNormalMap 7,
// TerainHeightMap 8; LightMask is never bound here.
constexpr std::int32_t kSlotSamplers[Material::kSlots] = {0, 1, 4, 6, 5, 2, 3, 9, 7, 8, -1};

std::uint32_t packOpaqueless(const float* colour) {
    auto byte = [](float v) { return std::uint32_t(v <= 0.0f ? 0 : v >= 1.0f ? 255 : v * 255.0f); };
    return (byte(colour[0]) << 16) | (byte(colour[1]) << 8) | byte(colour[2]);
}

// Finds "#h" or "#v" after the first character followed by <frames>x<fps>.
bool parseStrip(const char* name, const char* marker, std::int32_t& frames, std::int32_t& fps) {
    char head[127] = {};
    std::strncpy(head, name, 126);
    const char* at = std::strstr(head, marker);
    if (!at || at == head) return false;
    const char* p = at + 2;
    char* end = nullptr;
    const long count = std::strtol(p, &end, 10);
    if (end == p || *end != 'x') return false;
    const char* rate = end + 1;
    const long perSecond = std::strtol(rate, &end, 10);
    if (end == rate) return false;
    frames = std::int32_t(count);
    fps = std::int32_t(perSecond);
    return true;
}

}  // namespace

std::uint32_t Material::capabilities(std::uint32_t kind, std::int32_t details) {
    if (kind >= std::uint32_t(kKinds)) {
        engineLog().error("Material kind [%u] out of range: no capabilities", kind);
        return 0;
    }
    if (details < 0) details = 0;
    if (details > 2) details = 2;
    return kCapabilities[kind].details[details];
}

std::int32_t Material::samplerOfSlot(std::int32_t slot) {
    return slot >= 0 && slot < kSlots ? kSlotSamplers[slot] : -1;
}

void Material::resetParameters() { parameters = MaterialHead(); }

void Material::reset() {
    allocated = false;
    textureSet = 0;
    resetParameters();
    stripFrames = 0;
    stripFps = 0.0f;
    stripHorizontal = 1;
    flags = FlagEnabled;
    std::fill(std::begin(layerParameters), std::end(layerParameters), 0u);
    renderGroup = blendMode = alphaMode = 0;
    thirdMode = 6;
    resetLighting();
    colours[0][3] = 1.0f;
}

void Material::resetLighting() {
    const float opacity = colours[0][3];
    for (int c = 0; c < 6; ++c)
        for (int i = 0; i < 4; ++i) {
            colours[c][i] = 1.0f;
            doubledColours[c][i] = 2.0f;
        }
    colours[0][3] = opacity;
    for (float& term : ambientTerm) term = 0.0f;
    lightPasses = 1;
}

std::int32_t Material::chooseAlphaMode() const {
    IDirect3DDevice9* device = textureEnvironment().device();
    if (device) {
        D3DCAPS9 caps{};
        if (SUCCEEDED(device->GetDeviceCaps(&caps)) && !(caps.AlphaCmpCaps & D3DPCMPCAPS_GREATEREQUAL)) return 0;
    }
    switch (parameters.alphaSetting) {
        case 1: return 2;
        case 2: return 1;
        default: return 0;
    }
}

void Material::setupFromData(const MaterialData& data) {
    reset();
    parameters = data.head;
    for (int i = 0; i < MaterialData::kLinkCount; ++i) sources[i].copy(data.links[i]);
    renderGroup = std::int32_t(parameters.groupBase) + (parameters.overlay ? 1 : 0);
    alphaMode = chooseAlphaMode();
    blendMode = 0;
    thirdMode = 6;
    const VideoSetup& mode = textureEnvironment().videoSetup();
    for (int i = 0; i < kSlots; ++i) filterClass[i] = i;
    for (int i = 0; i < 4; ++i)
        if (sources[i].baseName()[0] == '@' && mode.res_width == 1280 && mode.res_height == 1024) filterClass[i] = 14;
    std::int32_t frames = 0, fps = 0;
    const char* diffuse = sources[0].baseName();
    bool horizontal = true;
    bool strip = parseStrip(diffuse, "#h", frames, fps);
    if (!strip) {
        strip = parseStrip(diffuse, "#v", frames, fps);
        horizontal = false;
    }
    if (strip) {
        stripFrames = frames;
        stripFps = float(fps);
        stripHorizontal = horizontal ? 1 : 0;
        engineLog().info("Setup animated texture [%s] %s for %i frames with PFS=%i", diffuse,
                         horizontal ? "HORIZONTAL" : "VERTICAL", frames, fps);
    }
}

bool Material::allocateTexture(std::int32_t slot, std::int32_t source, std::int32_t quality, std::int32_t mipLevel,
                               const char* suffix, bool copyAlpha, bool report) {
    TextureLink& link = textures[slot];
    if (link.handler()) {
        engineLog().error("Material %s texture [%s] already allocated. Can't allocate twice", textureKindName(slot),
                          link.name());
        return false;
    }
    link.copy(sources[source]);
    // The texture set renames the diffuse source and what is named after it.
    char setSuffix[16] = "";
    if (source == 0 && textureSet > 0 && *sources[0].baseName())
        std::snprintf(setSuffix, sizeof setSuffix, "-t%i", static_cast<int>(textureSet));
    if ((suffix && *suffix) || *setSuffix) {
        char name[TextureLink::kNameSize];
        std::snprintf(name, sizeof name, "%s%s%s", sources[source].baseName(), setSuffix, suffix ? suffix : "");
        link.init(name, link.type, link.addressU, link.addressV, link.option);
        link.enabled = sources[source].enabled;
    }
    std::uint32_t linkFlags = 0;
    if (parameters.kind == 60) linkFlags = 0x200000;
    else if (parameters.kind == 59) linkFlags = 0x100 | 0x200;
    else if (parameters.kind == 58) linkFlags = 0x200 | (textureEnvironment().videoSetup().sprite >= 2 ? 0x100 : 0);
    if (!link.allocate(quality, mipLevel, linkFlags, true, !report)) {
        if (report) engineLog().error("Can't allocate %s texture [%s].", textureKindName(slot), link.name());
        return false;
    }
    DXTextureHandler* handler = link.handler();
    if (handler && (flags & FlagLoadAtOnce) && !handler->texture) handler->load();
    if (copyAlpha && handler) link.option = (handler->flags & HandlerAlpha) ? 1 : 0;
    return true;
}

void Material::selectTextureSet(std::int32_t set) { textureSet = set > 0 ? set : 0; }

bool Material::allocate() {
    if (allocated) {
        engineLog().error("Material already allocated");
        return false;
    }
    const VideoSetup& mode = textureEnvironment().videoSetup();
    const std::int32_t q = mode.res_width >= 800 && mode.quality != 0 ? mode.quality : 0;
    const std::int32_t n = (mode.nmap == 1 || mode.nmap == 2) ? mode.nmap : 0;
    const std::int32_t mip = lodMipLevel;
    const std::uint32_t caps = capabilities(parameters.kind, mode.details);
    if (caps & CapLitPerLight) flags |= FlagLitPerLight;
    else flags &= ~FlagLitPerLight;
    if (isWaterKind()) flags |= FlagWater;

    bool ok = allocateTexture(SlotDiffuse, 0, q, mip, "", false, true);
    ok = allocateTexture(SlotLightmap, 1, q, mip, "", false, true) && ok;
    if (((flags & FlagSpecular) && (caps & CapSpecular)) ||
        ((flags & FlagTerrainSpecular) && (caps & CapTerrainSpecular))) {
        if (allocateTexture(SlotSpecular, 0, q, mip, "-s", true, true)) {
            if (caps & CapTerrain) ok = allocateTexture(SlotTerrainSpecular, 3, q, mip, "-s", false, true) && ok;
        } else {
            ok = false;
        }
    }
    if (mode.details != 0) {
        ok = allocateTexture(SlotTerrain, 3, q, mip, "", false, true) && ok;
        if (caps & CapEnvironment) ok = allocateTexture(SlotEnvironment, 2, q, mip, "", false, true) && ok;
        if ((flags & FlagNormalMap) && (caps & CapNormalMap)) {
            bool normals = allocateTexture(SlotNormalMap, 0, n, mip, "-n2", false, true);
            if (normals && (caps & CapTerrain) && !allocateTexture(SlotTerrainNormalMap, 3, n, mip, "-n2", false, true)) {
                textures[SlotNormalMap].release(false);
                normals = false;
            }
            if (normals && (flags & FlagHeightMap) && (caps & CapHeightMap) &&
                allocateTexture(SlotHeightMap, 0, n, mip, "-b", false, false) && (caps & CapTerrain) &&
                !allocateTexture(SlotTerrainHeightMap, 3, n, mip, "-b", false, false))
                textures[SlotHeightMap].release(false);
            if (!normals) {
                engineLog().error("Expected compressed normal map for diffuse texture [%s]. Material nmap disabled",
                                  sources[0].baseName());
                flags &= ~(FlagNormalMap | FlagHeightMap);
            }
        }
    }
    if (sources[1].enabled) allocateTexture(SlotLightMask, 1, q, mip, "-lod", false, false);
    allocated = ok;
    return ok;
}

void Material::release() {
    for (TextureLink& link : textures) link.release(false);
    allocated = false;
    if (currentMaterial == this) currentMaterial = nullptr;
}

MaterialShaderValues Material::shaderValues() const {
    MaterialShaderValues values;
    values.stripSet = stripFrames != 0 && stripFps != 0.0f;
    if (values.stripSet) {
        const float frames = float(stripFrames);
        const float offset = (stripFps * float(textureEnvironment().now()) / frames) / frames;
        values.strip[2] = stripHorizontal ? offset : 0.0f;
        values.strip[3] = stripHorizontal ? 0.0f : offset;
    }
    const float* wave = waves[0];
    const float direction[4] = {wave[0], wave[1], wave[2], 0.0f};
    std::memcpy(values.wave1Dir, direction, sizeof direction);
    std::memcpy(values.wave1PowerFreqAmpScale, wave + 3, sizeof values.wave1PowerFreqAmpScale);
    return values;
}

void Material::apply(ShaderProgram* vertex, bool useDefaultMaterial, ShaderProgram* pixel, ShaderPassState* pass,
                     std::uint32_t fixedStages) {
    RenderCore* render = gameCore.render;
    if (useDefaultMaterial) {
        if (render) {
            D3DMATERIAL9 material{};
            material.Diffuse = D3DCOLORVALUE{1.0f, 1.0f, 1.0f, 1.0f};
            material.Ambient =
                D3DCOLORVALUE{colours[0][0] * 0.5f, colours[0][1] * 0.5f, colours[0][2] * 0.5f, colours[0][3]};
            render->stateCache().setMaterial(material);
        }
    } else {
        if (vertex) {
            // Every material writes them, so that no program keeps the
            // values of the material drawn before.
            const MaterialShaderValues values = shaderValues();
            if (VertexData* strip = vertex->variables[VarTT3]) strip->setFromPointer(values.strip);
            if (VertexData* direction = vertex->variables[VarWave1Dir]) direction->setFromPointer(values.wave1Dir);
            if (VertexData* wave = vertex->variables[VarWave1PowerFreqAmpScale])
                wave->setFromPointer(values.wave1PowerFreqAmpScale);
        }
        for (std::int32_t slot = 0; slot < kSlots; ++slot) {
            const std::int32_t sampler = kSlotSamplers[slot];
            if (sampler < 0) continue;
            std::int32_t stages[9] = {-1, -1, -1, -1, -1, -1, -1, -1, -1};
            if (pixel) {
                // The program's registers for the sampler of the slot.
                const VertexData* variable = pixel->variables[sampler];
                if (!variable) continue;
                int count = 0;
                for (std::int32_t r : variable->registers)
                    if (r >= 0) stages[count++] = r;
            } else {
                if (!(fixedStages & (1u << sampler))) continue;
                stages[0] = sampler;
            }
            textures[slot].bindToStageList(stages, filterClass[slot], true);
        }
    }
    if (pass) {
        pass->alphaMode = alphaMode;
        pass->alphaApplied = 0;
        pass->blendMode = blendMode;
        pass->blendApplied = 0;
        const bool additive = blendMode == 4 || blendMode == 7 || blendMode == 8;
        const ShaderFrameState* frame = render ? &render->shaders().frame : nullptr;
        for (int i = 0; i < 3; ++i) pass->fogColor[i] = additive || !frame ? 0.0f : frame->fogColor[i] * fogFactor;
        if (frame) {
            pass->fogStart = frame->fogStart;
            pass->fogEnd = frame->fogEnd;
        }
    }
    currentMaterial = this;
}

void Material::reportFailure(std::int32_t ambient, std::int32_t envmap, std::int32_t specular, std::int32_t terrain,
                             std::int32_t normalmap) {
    engineLog().error("Failed material [%i]: [AMBIENT=%i][ENVMAP=%i][SPEC=%i][TERRAIN=%i][NMAP=%i]",
                      static_cast<int>(parameters.kind), ambient, envmap, specular, terrain, normalmap);
    resetLighting();
}

void Material::applyLightset(const LightSet& set) {
    if (parameters.lightSetIndex > 1) {
        engineLog().error("Material light set entry [%u] out of range", parameters.lightSetIndex);
        return;
    }
    const LightSet::Entry& entry = parameters.lightSetIndex == 0 ? set.exterior : set.interior;
    // In the material's order: ambient, diffuse, specular, environment,
    // main, global.
    const float* sources[6] = {entry.ambient, entry.diffuse, entry.specular, entry.env, entry.main, entry.global};
    const float* factors[6] = {nullptr, nullptr, parameters.specularFactor, parameters.environmentFactor, nullptr,
                               nullptr};
    bool specular = false;
    for (int c = 0; c < 6; ++c)
        for (int i = 0; i < 3; ++i) {
            const float value = sources[c][i] * (factors[c] ? factors[c][i] : 1.0f);
            colours[c][i] = value;
            doubledColours[c][i] = 2.0f * value;
            if (c == 2 && value >= 0.0001f) specular = true;
        }
    if (specular) flags |= FlagSpecular;
    else flags &= ~FlagSpecular;
}

void Material::setOpacity(float opacity) {
    if (opacity == 0.0f) {
        flags &= ~FlagEnabled;
        return;
    }
    flags |= FlagEnabled;
    colours[0][3] = opacity;
    if (parameters.blendOverride == 1) blendMode = 7;
    else if (parameters.blendOverride == 2) blendMode = 5;
    else if (parameters.overlay) blendMode = 3;
    else blendMode = (opacity < 1.0f || isWaterKind() || parameters.wantsBlending) ? 2 : 0;
    if (blendMode > 1) alphaMode = 2;
}

bool Material::sameAs(const Material& other) const {
    if (blendMode != other.blendMode || alphaMode != other.alphaMode || thirdMode != other.thirdMode) return false;
    auto packed = [](const Material& m) {
        const float opacity = m.colours[0][3] > 1.0f ? 1.0f : m.colours[0][3];
        return packOpaqueless(m.colours[0]) | (std::uint32_t(opacity * 255.0f) << 24);
    };
    if (packed(*this) != packed(other)) return false;
    for (int slot = 0; slot < kSlots; ++slot)
        if (textures[slot].frameHandler(textures[slot].currentFrame) !=
            other.textures[slot].frameHandler(other.textures[slot].currentFrame))
            return false;
    return true;
}
