#include "render/shaders/MultyShader.h"

#include <gtest/gtest.h>

#include <functional>
#include <set>
#include <string>

namespace {

template <class Family>
std::vector<std::string> walk(Family& family, bool pixel) {
    std::vector<std::string> names;
    char name[256];
    for (bool more = pixel ? family.nextPixel(true) : family.nextVertex(true); more;
         more = pixel ? family.nextPixel(false) : family.nextVertex(false)) {
        pixel ? family.pixelName(name) : family.vertexName(name);
        names.emplace_back(name);
    }
    return names;
}

// Counts the combinations of the given radices that pass a rule, by plain
// nested enumeration (independent of the family classes' walks).
using Values = std::vector<int>;
int countValid(const std::vector<int>& radices, const std::function<bool(const Values&)>& valid) {
    Values v(radices.size(), 0);
    int n = 0;
    for (;;) {
        if (valid(v)) ++n;
        std::size_t i = 0;
        while (i < v.size() && ++v[i] == radices[i]) v[i++] = 0;
        if (i == v.size()) return n;
    }
}

// The dynamic rules on named values.
struct Dyn {
    int ambient, terrain, depth, parallax, envmap, light, lmask, lmode, specular, normalmap;
};
bool dynamicRule(const Dyn& d) {
    if (d.ambient >= 4) return false;
    if (d.ambient == 2 && d.terrain) return false;
    if (d.depth && (d.ambient > 1 || d.parallax || d.normalmap || d.terrain || d.envmap || d.specular || d.lmode ||
                    d.lmask || d.light))
        return false;
    if (d.parallax && (d.envmap || (d.terrain && d.ambient && d.light))) return false;
    if (d.envmap && (d.lmask || d.lmode == 2 || (d.light && d.terrain) || (d.specular && d.terrain == 2)))
        return false;
    if (d.terrain && (d.lmask || d.lmode == 2)) return false;
    if (d.normalmap && !(d.envmap || d.light || d.ambient == 3)) return false;
    if (!d.light && (d.lmask || d.lmode || (d.specular && d.ambient != 3))) return false;
    return true;
}
bool waterRule(int ambient, int light, int lmode, int specular) {
    if (ambient != 0 && ambient != 1 && ambient != 4) return false;
    if (lmode > 1) return false;
    if (light && ambient) return false;
    return light || (ambient && !lmode && !specular);
}

TEST(MultyShaderTest, EachWalkProducesEveryValidCombinationOnce) {
    // BONES, DEPTH, TERRAIN, ENVMAP, LIGHT, LMASK, AMBIENT, SPECULAR(2), NORMALMAP, PARALLAX, LMODE, WAVE
    const int dynamicVertex = countValid({5, 2, 3, 5, 3, 2, 6, 2, 2, 2, 3, 3}, [](const Values& v) {
        return dynamicRule({v[6], v[2], v[1], v[9], v[3], v[4], v[5], v[10], v[7], v[8]});
    });
    // DEPTH, TERRAIN, ENVMAP, LIGHT, LMASK, AMBIENT, SPECULAR(3), NORMALMAP, PARALLAX, LMODE
    const int dynamicPixel = countValid({2, 3, 5, 3, 2, 6, 3, 2, 2, 3}, [](const Values& v) {
        return dynamicRule({v[5], v[1], v[0], v[8], v[2], v[3], v[4], v[9], v[6], v[7]});
    });
    // AMBIENT, BONES, LIGHT, SPECULAR, WATER (+ LMODE)
    const int waterVertex =
        countValid({6, 5, 3, 2, 3}, [](const Values& v) { return waterRule(v[0], v[2], 0, v[3]); });
    const int waterNormVertex =
        countValid({6, 5, 3, 3, 2, 3}, [](const Values& v) { return waterRule(v[0], v[2], v[3], v[4]); });
    // AMBIENT, LIGHT, LMODE, SPECULAR, WATER
    const int waterPixel = countValid({6, 3, 3, 3, 3}, [](const Values& v) { return waterRule(v[0], v[1], v[2], v[3]); });

    MultyShaderDynamic20 dynamic;
    MultyShaderWater20 water;
    MultyShaderWaterNorm20 waterNorm;
    MultyShaderParticle20 particle;
    MultyShaderVertexDebug vertexDebug;
    // The all-zero water combination is invalid, yet the plain pixel walk
    // and both walks with normal maps start with it.
    const struct {
        MultyShader* family;
        std::vector<std::string> vertex, pixel;
        int vertexCount, pixelCount;
    } cases[] = {
        {&dynamic, walk(dynamic, false), walk(dynamic, true), dynamicVertex, dynamicPixel},
        {&water, walk(water, false), walk(water, true), waterVertex, waterPixel + 1},
        {&waterNorm, walk(waterNorm, false), walk(waterNorm, true), waterNormVertex + 1, waterPixel + 1},
        {&particle, walk(particle, false), walk(particle, true), 6, 1},
        {&vertexDebug, walk(vertexDebug, false), walk(vertexDebug, true), 40, 1},
    };
    EXPECT_EQ(dynamicVertex, 13560);
    EXPECT_EQ(dynamicPixel, 1316);
    for (const auto& c : cases) {
        EXPECT_EQ(int(c.vertex.size()), c.vertexCount) << c.vertex.front();
        EXPECT_EQ(int(c.pixel.size()), c.pixelCount) << c.pixel.front();
        EXPECT_EQ(std::set<std::string>(c.vertex.begin(), c.vertex.end()).size(), c.vertex.size()) << c.vertex.front();
        EXPECT_EQ(std::set<std::string>(c.pixel.begin(), c.pixel.end()).size(), c.pixel.size()) << c.pixel.front();
    }
    // First names of the walks; the dynamic vertex walk ends when PARALLAX wraps.
    EXPECT_EQ(cases[0].vertex.front(), "vs-dyn20-");
    EXPECT_EQ(cases[0].pixel.front(), "ps-dyn20");
    EXPECT_EQ(cases[1].pixel.front(), "ps-water20-river");
    EXPECT_EQ(cases[2].vertex.front(), "vs-waternorm20-river-");
    EXPECT_EQ(cases[3].vertex.back(), "vs-particle20-floor");
    EXPECT_EQ(cases[4].vertex.back(), "vs-vd-4-dCN");
    EXPECT_EQ(cases[4].pixel.front(), "ps-vd-vertexdebug");
    EXPECT_EQ(dynamic.value(DefineParallax), 0);
    // The plain water vertex walk starts at its first valid combination.
    EXPECT_EQ(cases[1].vertex.front(), "vs-water20-river-[B]");
}

TEST(MultyShaderTest, NamesTakeOneSuffixPerDefine) {
    MultyShaderWater20 water;
    water.set(DefineWater, 1);
    char name[256];
    water.vertexName(name);
    EXPECT_STREQ(name, "vs-water20-lake-");
    water.set(DefineAmbient, 1);
    water.set(DefineLight, 2);
    water.set(DefineSpecular, 1);
    water.set(DefineLmode, 1);
    water.pixelName(name);
    EXPECT_STREQ(name, "ps-water20-lake[B]+DS+A");

    MultyShaderDynamic20 dynamic;
    dynamic.values.bones = 2;
    dynamic.values.envmap = 3;
    dynamic.values.light = 1;
    dynamic.values.specular = 2;
    dynamic.values.normalmap = 1;
    dynamic.values.wave = 1;
    dynamic.vertexName(name);
    EXPECT_STREQ(name, "vs-dyn20-2RE+PSmN-wave1");
    // BONES and WAVE are not part of the pixel name.
    dynamic.pixelName(name);
    EXPECT_STREQ(name, "ps-dyn20RE+PSmN");
}

TEST(MultyShaderTest, SlotIndicesAreMixedRadixNumbers) {
    MultyShaderDynamic20 dynamic;
    EXPECT_EQ(dynamic.vertexSlots.size(), 388800u);
    EXPECT_EQ(dynamic.pixelSlots.size(), 38880u);
    EXPECT_EQ(dynamic.vertexSlotIndex(), 0);
    dynamic.values.wave = 2;  // last vertex digit
    EXPECT_EQ(dynamic.vertexSlotIndex(), 2);
    dynamic.values.bones = 1;  // first vertex digit: the product of the other radices
    EXPECT_EQ(dynamic.vertexSlotIndex(), 388800 / 5 + 2);
    // ENVMAP is clamped at 4 and SPECULAR at 1 for the vertex index only.
    dynamic.values = {};
    dynamic.values.specular = 2;
    const int specularUnit = 2 * 2 * 3 * 3;  // NORMALMAP PARALLAX LMODE WAVE
    EXPECT_EQ(dynamic.vertexSlotIndex(), specularUnit);
    EXPECT_EQ(dynamic.pixelSlotIndex(), 2 * 2 * 2 * 3);  // SPECULAR 2 · NORMALMAP PARALLAX LMODE
    dynamic.values.lmode = 1;
    EXPECT_EQ(dynamic.pixelSlotIndex(), 2 * 2 * 2 * 3 + 1);

    MultyShaderWater20 water;
    EXPECT_EQ(water.vertexSlots.size(), 540u);
    EXPECT_EQ(water.pixelSlots.size(), 486u);
    water.values.ambient = 1;  // most significant: 5·3·2·3
    water.values.water = 2;
    EXPECT_EQ(water.vertexSlotIndex(), 90 + 2);
    water.values.lmode = 1;  // pixel: AMBIENT·81 + LIGHT·27 + LMODE·9 + SPECULAR·3 + WATER
    EXPECT_EQ(water.pixelSlotIndex(), 81 + 9 + 2);

    // Values outside a define's range have no slot (ENVMAP 5 and 6 are
    // clamped for the vertex index only).
    dynamic.values = {};
    dynamic.values.envmap = 5;
    EXPECT_EQ(dynamic.vertexSlotIndex(), 4 * 3 * 2 * 6 * 2 * 2 * 2 * 3 * 3);
    EXPECT_EQ(dynamic.pixelSlotIndex(), -1);
    EXPECT_EQ(*dynamic.pixelSlot(), nullptr);
    dynamic.values.envmap = 0;
    dynamic.values.bones = -1;
    EXPECT_EQ(dynamic.vertexSlotIndex(), -1);
    EXPECT_NE(dynamic.vertexSlot(), nullptr);

    MultyShaderVertexDebug vertexDebug;
    vertexDebug.values.bones = 3;
    vertexDebug.values.vertexDebug = 5;
    EXPECT_EQ(vertexDebug.vertexSlotIndex(), 29);
    EXPECT_EQ(vertexDebug.vertexSlots.size(), 40u);
    EXPECT_EQ(vertexDebug.pixelSlots.size(), 1u);
}

TEST(MultyShaderTest, WaterWithNormalMapsKeepsEveryLightModeInItsOwnVertexSlot) {
    MultyShaderWaterNorm20 waterNorm;
    std::set<int> slots;
    int count = 0;
    for (bool more = waterNorm.nextVertex(true); more; more = waterNorm.nextVertex(false), ++count)
        slots.insert(waterNorm.vertexSlotIndex());
    EXPECT_EQ(int(slots.size()), count);
    waterNorm.values = MultyShaderWaterNorm20::Setup(true);
    waterNorm.values.light = 1;
    const int lmode0 = waterNorm.vertexSlotIndex();
    waterNorm.values.lmode = 1;
    EXPECT_NE(waterNorm.vertexSlotIndex(), lmode0);
}

TEST(MultyShaderTest, DefinesFollowTheFamilyOrder) {
    MultyShaderWaterNorm20 waterNorm;
    waterNorm.values.water = 2;
    waterNorm.values.light = 1;
    ShaderDefineList list;
    waterNorm.appendDefines(list);
    const std::vector<std::pair<std::string, std::string>> expected = {
        {"WATER", "2"}, {"BONES", "0"}, {"AMBIENT", "0"}, {"LIGHT", "1"}, {"LMODE", "0"}, {"SPECULAR", "0"}};
    EXPECT_EQ(list.defines(), expected);
    std::int32_t major = 0, minor = 0;
    waterNorm.shaderModel(major, minor);
    EXPECT_EQ(major * 10 + minor, 20);
    MultyShaderParticle20 particle;
    particle.shaderModel(major, minor);
    EXPECT_EQ(major * 10 + minor, 11);
    EXPECT_FALSE(particle.setupQuery0() || particle.setupQuery1());
}

}  // namespace
