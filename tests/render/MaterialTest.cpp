#include "render/Material.h"

#include <gtest/gtest.h>

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
    MaterialShaderValues values;
    env().clock = 2.0;
    tree.apply(&values, false, 0, nullptr);
    ASSERT_TRUE(values.stripSet);
    EXPECT_FLOAT_EQ(values.strip[2], (12.0f * 2.0f / 8.0f) / 8.0f);
    EXPECT_FLOAT_EQ(values.strip[3], 0.0f);
    env().clock = 3.0;
    tree.apply(&values, false, 0, nullptr);
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
    water.apply(nullptr, false, 0, &pass);
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

}  // namespace
