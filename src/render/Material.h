// A model element's material for one level of detail: the full set of up
// to eleven textures derived from the four stored names by suffix, the
// ones the video mode can use, animated texture strips, and the states one
// draw with it takes.
#pragma once

#include <cstdint>

#include "render/TextureLink.h"

struct ShaderPassState;

// The values apply() hands to the shader variables.
struct MaterialShaderValues {
    bool stripSet = false;
    float strip[4] = {};                   // the strip variable
    float wave1Dir[4] = {};                // "vWave1Dir"
    float wave1PowerFreqAmpScale[4] = {};  // "vWave1PowerFreqAmpScale"
};

class Material {
public:
    static constexpr std::int32_t kSlots = 11;
    static constexpr std::int32_t kKinds = 63;
    enum Slot : std::int32_t {
        SlotDiffuse, SlotLightmap, SlotEnvironment, SlotTerrain, SlotSpecular, SlotNormalMap, SlotHeightMap,
        SlotTerrainSpecular, SlotTerrainNormalMap, SlotTerrainHeightMap, SlotLightMask,
    };
    enum Flag : std::uint32_t {
        FlagSpecular = 0x1,
        FlagTerrainSpecular = 0x04,
        FlagLitPerLight = 0x8,
        FlagNormalMap = 0x20,
        FlagHeightMap = 0x040,
        FlagWater = 0x80,
        FlagEnabled = 0x100 | 0x200,
        FlagLoadAtOnce = 0x0400,
    };
    // Capability bits of the table by kind and details.
    enum Capability : std::uint32_t {
        CapNormalMap = 0x04, CapSpecular = 0x08, CapEnvironment = 0x10, CapLitPerLight = 0x80,
        CapTerrain = 0x100, CapHeightMap = 0x200, CapTwoLightPasses = 0x800, CapTerrainSpecular = 0x1000,
    };

    Material() { reset(); }
    ~Material() { release(); }
    Material(const Material&) = delete;
    Material& operator=(const Material&) = delete;

    // The capability word of a kind at a details setting (0-2); a kind past
    // the table gives 0 and one log line.
    static std::uint32_t capabilities(std::uint32_t kind, std::int32_t details);

    void reset();
    void resetParameters();
    void setupFromData(const MaterialData& data);
    bool allocate();
    bool allocateTexture(std::int32_t slot, std::int32_t source, std::int32_t quality, std::int32_t mipLevel,
                         const char* suffix, bool copyAlpha, bool report);
    void release();
    std::int32_t chooseAlphaMode() const;
    // Prepares one draw: the strip and wave values into values (when
    // given), the slots whose sampler bit is in samplerMask bound to their
    // samplers, the pass modes into pass (when given).
    void apply(MaterialShaderValues* values, bool useDefaultMaterial, std::uint32_t samplerMask, ShaderPassState* pass);
    void setOpacity(float opacity);
    // A shader path found no programs for the material's switches: logged
    // with the kind and the switch values.
    void reportFailure(std::int32_t ambient, std::int32_t envmap, std::int32_t specular, std::int32_t terrain,
                       std::int32_t normalmap) const;
    bool sameAs(const Material& other) const;

    // The sampler of each slot (-1: never bound here).
    static std::int32_t samplerOfSlot(std::int32_t slot);

    bool allocated = false;
    MaterialHead parameters;
    std::int32_t filterClass[kSlots] = {};
    TextureLink textures[kSlots];
    TextureLink sources[MaterialData::kLinkCount];
    // ambient (its alpha the opacity), diffuse, specular, environment, main, global
    float colours[6][4] = {};
    std::int32_t renderGroup = 0;
    std::int32_t blendMode = 0;
    std::int32_t alphaMode = 0;
    std::int32_t thirdMode = 6;
    float fogFactor = 1.0f;
    float waves[3][7] = {};
    std::int32_t stripFrames = 0;
    float stripFps = 0.0f;
    std::uint8_t stripHorizontal = 1;
    std::uint8_t lodMipLevel = 0;
    std::uint32_t flags = 0;

private:
    bool isWaterKind() const { return parameters.kind >= 26 && parameters.kind <= 28; }
};

// The material the render core applied last (cleared when it is released).
extern const Material* currentMaterial;
