// A model element's material for one level of detail: the full set of up
// to eleven textures derived from the four stored names by suffix, the
// ones the video mode can use, animated texture strips, and the states one
// draw with it takes.
#pragma once

#include <cstdint>

#include "render/TextureLink.h"

class ShaderProgram;
struct LightSet;
struct ShaderPassState;

// The values apply() writes to the vertex program's variables.
struct MaterialShaderValues {
    bool stripSet = false;
    // The strip variable (vertex "vTT3"): scale u, v and offset u, v of the
    // diffuse coordinates; (1, 1, 0, 0) without an animated strip.
    float strip[4] = {1.0f, 1.0f, 0.0f, 0.0f};
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
        // Drawn into a mirror image: the cull orientations swap.
        FlagReflection = 0x10,
        FlagNormalMap = 0x20,
        FlagHeightMap = 0x040,
        FlagWater = 0x80,
        FlagEnabled = 0x100 | 0x200,
        FlagLoadAtOnce = 0x0400,
        // Drawn inside a still frame (2D): set by a still frame's particle
        // layers before they allocate.
        FlagStillFrame = 0x0800,
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
    // Texture set n above 0 allocates the diffuse texture "<name>-t<n>"
    // (its specular, normal and height maps follow, since they are named
    // after it); set 0 the stored names. The stored sources keep their
    // names. Called before allocate.
    void selectTextureSet(std::int32_t set);
    bool allocate();
    bool allocateTexture(std::int32_t slot, std::int32_t source, std::int32_t quality, std::int32_t mipLevel,
                         const char* suffix, bool copyAlpha, bool report);
    void release();
    std::int32_t chooseAlphaMode() const;
    // Prepares one draw with the material. With useDefaultMaterial the
    // state cache's fixed-function material takes the material's colour and
    // nothing else happens. Otherwise the strip and the first wave go to
    // the vertex program's variables (when there is one); each texture slot
    // is bound to the registers of the pixel program's sampler for that slot,
    // only when the program has that sampler; without a pixel program the
    // slots whose sampler number has its bit in fixedStages are bound to the
    // stage of that number. The pass record (when given) takes the modes and
    // the fog: the scene's fog colour times the fog factor, black for the
    // additive blend modes 4, 7 and 8.
    void apply(ShaderProgram* vertex, bool useDefaultMaterial, ShaderProgram* pixel, ShaderPassState* pass,
               std::uint32_t fixedStages = 0);
    // The strip and wave values of the current time.
    MaterialShaderValues shaderValues() const;
    // Opacity 0 switches the material off; any other value switches it on.
    void setOpacity(float opacity);
    // False while the material is switched off or fully transparent: the
    // drawing paths draw nothing with it.
    bool visible() const { return (flags & FlagEnabled) == FlagEnabled && colours[0][3] != 0.0f; }
    // A shader path found no programs for the material's switches: logged
    // with the kind and the switch values; the lighting values and the pass
    // counter go back to their defaults.
    void reportFailure(std::int32_t ambient, std::int32_t envmap, std::int32_t specular, std::int32_t terrain,
                       std::int32_t normalmap);
    bool sameAs(const Material& other) const;
    // Copies the colours of the light-set entry chosen by the light-set
    // index (0 exterior, 1 interior) into the material: the environment and
    // specular colours times their factors; the opacity stays. A specular
    // colour with a component of at least 0.0001 sets FlagSpecular.
    void applyLightset(const LightSet& set);

    // The sampler of each slot (-1: never bound here).
    static std::int32_t samplerOfSlot(std::int32_t slot);

    bool allocated = false;
    std::int32_t textureSet = 0;
    MaterialHead parameters;
    std::int32_t filterClass[kSlots] = {};
    TextureLink textures[kSlots];
    TextureLink sources[MaterialData::kLinkCount];
    // ambient (its alpha the opacity), diffuse, specular, environment, main, global
    float colours[6][4] = {};
    // Added to the ambient colour when an element draws: the fill colours of
    // the lights that light the element without a pass of their own.
    float ambientTerm[3] = {};
    // The ambient colour with the added term (alpha: the opacity).
    void ambientWithTerm(float (&out)[4]) const {
        for (int c = 0; c < 3; ++c) out[c] = colours[0][c] + ambientTerm[c];
        out[3] = colours[0][3];
    }
    // The six colours doubled (the light-set colours of the lit passes).
    float doubledColours[6][4] = {};
    // Light passes of the drawing paths.
    std::int32_t lightPasses = 1;
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
    // The three parameters of a particle layer's material, carried with it.
    std::uint32_t layerParameters[3] = {};

private:
    // The six colours (the opacity stays), their doubles and the pass
    // counter back to their defaults.
    void resetLighting();
    bool isWaterKind() const { return parameters.kind >= 26 && parameters.kind <= 28; }
};

// The material the render core applied last (cleared when it is released).
extern const Material* currentMaterial;
