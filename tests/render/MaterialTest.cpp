#include "render/Material.h"

#include <gtest/gtest.h>

#include <cstring>

#include "effects/LightSetLibrary.h"
#include "render/shaders/ShaderState.h"
#include "render/TextureTestSupport.h"

namespace {

class MaterialTest : public texture_test::TextureTest {
protected:
    // A material of kind over "wood" with the light map "wood_lm".
    void setup(Material& material, std::uint32_t kind, const char* diffuse = "wood", bool lightMap = true) {
        MaterialData data;
        data.head.kind = kind;
        data.links[0].init(diffuse);
        if (lightMap) data.links[1].init("wood_lm");
        material.setupFromData(data);
    }
    static bool loaded(const Material& m, int slot) { return m.textures[slot].handler() != nullptr; }
};

TEST_F(MaterialTest, DetailsDecideTheSlotsLoaded) {
    for (const char* name : {"wood", "wood_lm", "wood_lm-lod", "wood-n2", "wood-b"}) addDds(name);
    env().setup.details = 0;
    Material minimum;
    setup(minimum, 6);
    minimum.flags |= Material::FlagNormalMap;
    EXPECT_TRUE(minimum.allocate());
    EXPECT_TRUE(loaded(minimum, Material::SlotDiffuse));
    EXPECT_TRUE(loaded(minimum, Material::SlotLightmap));
    EXPECT_TRUE(loaded(minimum, Material::SlotLightMask));
    for (int slot : {2, 3, 4, 5, 6}) EXPECT_FALSE(loaded(minimum, slot)) << slot;
    EXPECT_TRUE(minimum.flags & Material::FlagLitPerLight);  // 0xA0 at details 0

    // Kind 12 with normal and height maps: the height map needs details 2.
    for (std::int32_t details : {1, 2}) {
        env().setup.details = details;
        Material high;
        setup(high, 12);
        high.flags |= Material::FlagNormalMap | Material::FlagHeightMap;
        high.allocate();
        EXPECT_TRUE(loaded(high, Material::SlotNormalMap)) << details;
        EXPECT_STREQ(high.textures[Material::SlotNormalMap].baseName(), "wood-n2");
        EXPECT_EQ(loaded(high, Material::SlotHeightMap), details == 2) << details;
    }
}

TEST_F(MaterialTest, AllocatingTwiceChangesNothing) {
    addDds("wood");
    Material material;
    setup(material, 3, "wood", false);
    ASSERT_TRUE(material.allocate());
    DXTextureHandler* handler = material.textures[0].handler();
    EXPECT_FALSE(material.allocate());
    EXPECT_EQ(material.textures[0].handler(), handler);
    material.release();
    EXPECT_FALSE(material.allocated);
    EXPECT_EQ(material.textures[0].handler(), nullptr);
}

TEST_F(MaterialTest, StripsByNameAnimate) {
    struct Case {
        const char* name;
        std::int32_t frames;
        float fps;
        std::uint8_t horizontal;
    };
    const Case cases[] = {{"tree#h8x12", 8, 12.0f, 1}, {"fire#v4x10", 4, 10.0f, 0}, {"#h8x12", 0, 0.0f, 1},
                          {"tree#h8", 0, 0.0f, 1}, {"plain", 0, 0.0f, 1}};
    for (const Case& c : cases) {
        Material material;
        setup(material, 3, c.name, false);
        EXPECT_EQ(material.stripFrames, c.frames) << c.name;
        EXPECT_EQ(material.stripFps, c.fps) << c.name;
        EXPECT_EQ(material.stripHorizontal, c.horizontal) << c.name;
    }
    Material tree;
    setup(tree, 3, "tree#h8x12", false);
    env().clock = 2.0;
    MaterialShaderValues values = tree.shaderValues();
    ASSERT_TRUE(values.stripSet);
    EXPECT_FLOAT_EQ(values.strip[2], (12.0f * 2.0f / 8.0f) / 8.0f);
    EXPECT_FLOAT_EQ(values.strip[3], 0.0f);
    env().clock = 3.0;
    values = tree.shaderValues();
    EXPECT_FLOAT_EQ(values.strip[2], (12.0f * 3.0f / 8.0f) / 8.0f);
}

TEST_F(MaterialTest, OpacityChoosesTheBlendMode) {
    Material material;
    setup(material, 3, "wood", false);
    material.setOpacity(1.0f);
    EXPECT_EQ(material.blendMode, 0);
    material.setOpacity(0.5f);
    EXPECT_EQ(material.blendMode, 2);
    EXPECT_EQ(material.alphaMode, 2);
    material.parameters.blendOverride = 1;
    material.setOpacity(1.0f);
    EXPECT_EQ(material.blendMode, 7);
    material.setOpacity(0.0f);
    EXPECT_EQ(material.flags & Material::FlagEnabled, 0u);

    Material water;
    setup(water, 27, "wood", false);
    water.setOpacity(1.0f);
    EXPECT_EQ(water.blendMode, 2);

    ShaderPassState pass;
    water.apply(nullptr, false, nullptr, &pass);
    EXPECT_EQ(pass.blendMode, 2);
}

TEST_F(MaterialTest, SameAsComparesModesColourAndTextures) {
    Material a, b;
    EXPECT_TRUE(a.sameAs(b));
    b.colours[0][3] = 2.0f;  // capped at 1: the same packed colour
    EXPECT_TRUE(a.sameAs(b));
    b.colours[0][3] = 0.5f;
    EXPECT_FALSE(a.sameAs(b));
    b.colours[0][3] = 1.0f;
    b.thirdMode = 1;
    EXPECT_FALSE(a.sameAs(b));
}

TEST_F(MaterialTest, KindsPastTheTableHaveNoCapabilities) {
    EXPECT_EQ(Material::capabilities(13, 2), 0x28Cu);
    EXPECT_EQ(Material::capabilities(62, 1), 0u);
    EXPECT_EQ(Material::capabilities(63, 1), 0u);
    EXPECT_EQ(Material::capabilities(0xFFFFFFFFu, 0), 0u);
    EXPECT_TRUE(gameCore.log->contains("Material kind [63] out of range: no capabilities"));
    addDds("wood");
    Material material;
    setup(material, 400, "wood", false);
    EXPECT_TRUE(material.allocate());
    EXPECT_TRUE(loaded(material, Material::SlotDiffuse));
}

TEST_F(MaterialTest, TheDefaultMaterialGoesThroughTheStateCache) {
    attachStateCache();
    DXStateCache& cache = render_->stateCache();
    ASSERT_TRUE(cache.setupDeviceDefaults(false));
    Material material;
    setup(material, 3, "wood", false);
    material.colours[0][0] = 0.5f, material.colours[0][1] = 1.0f, material.colours[0][2] = 0.25f;
    material.setOpacity(0.75f);
    material.apply(nullptr, true, nullptr, nullptr);
    EXPECT_FLOAT_EQ(cache.materialDesired.Ambient.r, 0.25f);
    EXPECT_FLOAT_EQ(cache.materialDesired.Ambient.g, 0.5f);
    EXPECT_FLOAT_EQ(cache.materialDesired.Ambient.b, 0.125f);
    EXPECT_FLOAT_EQ(cache.materialDesired.Ambient.a, 0.75f);
    EXPECT_FLOAT_EQ(cache.materialDesired.Diffuse.r, 1.0f);
    // The cache sends it with its next apply and knows what the device has.
    cache.apply();
    EXPECT_EQ(std::memcmp(&cache.materialCurrent, &cache.materialDesired, sizeof cache.materialCurrent), 0);
}

TEST_F(MaterialTest, PassFogIsTheScenesFogTimesTheFactorAtEachApply) {
    ShaderFrameState& frame = render_->shaders().frame;
    frame.fogColor[0] = 0.8f, frame.fogColor[1] = 0.4f, frame.fogColor[2] = 0.2f;
    frame.fogStart = 10.0f;
    frame.fogEnd = 90.0f;
    Material plain, additive, halved;
    setup(plain, 3, "wood", false);
    setup(additive, 3, "wood", false);
    setup(halved, 3, "wood", false);
    additive.parameters.blendOverride = 1;  // blend mode 7
    additive.setOpacity(1.0f);
    halved.fogFactor = 0.5f;
    struct Step {
        Material* material;
        float scale;  // of the scene's fog colour
    };
    // Applied again and again, after a black additive pass and in turns.
    const Step steps[] = {{&halved, 0.5f}, {&halved, 0.5f}, {&additive, 0.0f}, {&plain, 1.0f},
                          {&halved, 0.5f}, {&additive, 0.0f}, {&halved, 0.5f}, {&plain, 1.0f}};
    ShaderPassState pass;
    int index = 0;
    for (const Step& step : steps) {
        step.material->apply(nullptr, false, nullptr, &pass);
        for (int c = 0; c < 3; ++c) EXPECT_FLOAT_EQ(pass.fogColor[c], frame.fogColor[c] * step.scale) << index;
        EXPECT_FLOAT_EQ(pass.fogStart, 10.0f) << index;
        EXPECT_FLOAT_EQ(pass.fogEnd, 90.0f) << index;
        ++index;
    }
}

TEST_F(MaterialTest, LightSetEntriesColourTheMaterial) {
    LightSet set;
    auto fill = [](LightSet::Entry& entry, float base) {
        float* colours[6] = {entry.global, entry.main, entry.ambient, entry.diffuse, entry.specular, entry.env};
        for (int c = 0; c < 6; ++c)
            for (int i = 0; i < 3; ++i) colours[c][i] = base + 0.01f * float(c * 3 + i);
    };
    fill(set.exterior, 0.1f);
    fill(set.interior, 0.5f);
    struct Case {
        std::uint32_t index;
        const LightSet::Entry* entry;
    };
    for (const Case c : {Case{0, &set.exterior}, {1, &set.interior}}) {
        Material material;
        setup(material, 3, "wood", false);
        material.parameters.lightSetIndex = c.index;
        material.parameters.specularFactor[1] = 0.25f;
        material.parameters.environmentFactor[2] = 2.0f;
        material.setOpacity(0.5f);
        material.applyLightset(set);
        const LightSet::Entry& e = *c.entry;
        const float expected[6][3] = {
            {e.ambient[0], e.ambient[1], e.ambient[2]},
            {e.diffuse[0], e.diffuse[1], e.diffuse[2]},
            {e.specular[0] * 0.5f, e.specular[1] * 0.25f, e.specular[2] * 0.5f},
            {e.env[0] * 0.5f, e.env[1] * 0.5f, e.env[2] * 2.0f},
            {e.main[0], e.main[1], e.main[2]},
            {e.global[0], e.global[1], e.global[2]},
        };
        for (int k = 0; k < 6; ++k)
            for (int i = 0; i < 3; ++i) {
                EXPECT_FLOAT_EQ(material.colours[k][i], expected[k][i]) << c.index << " colour " << k;
                EXPECT_FLOAT_EQ(material.doubledColours[k][i], 2.0f * expected[k][i]) << c.index << " colour " << k;
            }
        EXPECT_FLOAT_EQ(material.colours[0][3], 0.5f);  // the opacity stays
        EXPECT_TRUE(material.flags & Material::FlagSpecular);
    }
    // A black specular colour asks for no specular map.
    Material dull;
    setup(dull, 3, "wood", false);
    dull.flags |= Material::FlagSpecular;
    for (float& v : set.exterior.specular) v = 0.00005f;
    dull.applyLightset(set);
    EXPECT_FALSE(dull.flags & Material::FlagSpecular);
}

TEST_F(MaterialTest, AReportedFailureResetsTheLightingValues) {
    Material material;
    setup(material, 6, "wood", false);
    LightSet set;
    material.applyLightset(set);
    material.setOpacity(0.5f);
    material.lightPasses = 3;
    ASSERT_NE(material.colours[2][1], 1.0f);
    material.reportFailure(1, 0, 0, 0, 0);
    EXPECT_TRUE(gameCore.log->contains("Failed material [6]: [AMBIENT=1][ENVMAP=0][SPEC=0][TERRAIN=0][NMAP=0]"));
    for (int c = 0; c < 6; ++c)
        for (int i = 0; i < 3; ++i) {
            EXPECT_FLOAT_EQ(material.colours[c][i], 1.0f) << c;
            EXPECT_FLOAT_EQ(material.doubledColours[c][i], 2.0f) << c;
        }
    EXPECT_FLOAT_EQ(material.colours[0][3], 0.5f);
    EXPECT_EQ(material.lightPasses, 1);
}

}  // namespace
