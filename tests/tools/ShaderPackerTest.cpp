#include "shaderpack/ShaderPacker.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "render/shaders/Container.h"

namespace {

using platform::d3d9::ShaderConstant;
using Defines = std::vector<std::pair<std::string, std::string>>;

std::vector<std::string> names(const std::vector<ShaderConstant>& constants) {
    std::vector<std::string> out;
    for (const auto& c : constants) out.push_back(c.name);
    return out;
}

TEST(ShaderPacker, ConstantsFollowTheProgramsDefines) {
    const std::string text = R"(
#define mWorld mat4(vc[0], vc[1], vc[2], vc[3])  // float4x4 : c0
#if MAX_BONES > 60 && !defined(NO_BONES)
#define mBones(i) mat4(vc[4 + 4 * (i)], vc[5 + 4 * (i)], vc[6 + 4 * (i)], vc[7 + 4 * (i)])  // float4x4[2] : c4
#elif defined(FEW_BONES)
#define fFew vc[4].x  // float : c4
#else
#define vNone vc[4]  // float3 : c4
#endif
#ifdef WITH_MAP
layout(binding = 3) uniform sampler2D sDiffuseMap;
#endif
#if defined(A) || \
    defined(B)
#define vColorMain vc[12]  // float4 : c12
#endif
)";
    struct Case {
        Defines defines;
        std::vector<std::string> constants;
    };
    const Case cases[] = {
        {{{"MAX_BONES", "78"}}, {"mWorld", "mBones"}},
        {{{"MAX_BONES", "40"}, {"FEW_BONES", ""}}, {"mWorld", "fFew"}},
        {{{"MAX_BONES", "78"}, {"NO_BONES", ""}, {"WITH_MAP", ""}, {"B", ""}},
         {"mWorld", "vNone", "sDiffuseMap", "vColorMain"}},
    };
    for (const Case& c : cases) {
        std::vector<ShaderConstant> constants;
        std::string error;
        ASSERT_TRUE(collectShaderConstants("test.fx", text, c.defines, true, constants, error)) << error;
        EXPECT_EQ(names(constants), c.constants);
    }

    std::vector<ShaderConstant> constants;
    std::string error;
    const Defines withMap = {{"MAX_BONES", "78"}, {"WITH_MAP", ""}};
    ASSERT_TRUE(collectShaderConstants("test.fx", text, withMap, true, constants, error));
    EXPECT_EQ(constants[1].registerIndex, 4);
    EXPECT_EQ(constants[1].registerCount, 8);  // two matrices
    EXPECT_EQ(constants[1].elements, 2);
    EXPECT_EQ(constants[1].parameterClass, 3);  // a column a register
    EXPECT_EQ(constants[2].registerSet, 3);     // the sampler's register is its stage
    EXPECT_EQ(constants[2].registerIndex, 3);
}

TEST(ShaderPacker, DamagedSourcesAreRefusedWithTheirLine) {
    struct Case {
        const char* text;
        bool vertex;
        const char* error;
    };
    const Case cases[] = {
        {"#if 1\n#define a vc[0] // float4 : c0\n", true, "test.fx:2: #if without #endif"},
        {"#endif\n", true, "test.fx:1: #endif without #if"},
        {"#define a vc[0] // vector : c0\n", true, "unknown type [vector]"},
        {"#define a vc[0]\n", true, "the comment must read TYPE : cN"},
        {"#define a vc[3] // float4 : c2\n", true, "the expression does not start at vc[2]"},
        {"#define a vc[0] // float4 : c0\n", false, "the expression does not start at pc[0]"},
        {"#define a pc[0] // float4x4 : c0\n#define b pc[3] // float : c3\n", false, "[a] and [b] share registers"},
        {"#define a pc[0] // float : c0\n#undef a\n#define a pc[1] // float : c1\n", false, "[a] declared twice"},
        {"layout(binding = 16) uniform sampler2D s;\n", false, "past stage 15"},
        {"uniform sampler2D s;\n", false, "test.fx:1: a sampler must read"},
        {"#if (1\n#endif\n", false, "missing )"},
        {"#if 1 / 0\n#endif\n", false, "division by zero"},
    };
    for (const Case& c : cases) {
        std::vector<ShaderConstant> constants;
        std::string error;
        EXPECT_FALSE(collectShaderConstants("test.fx", c.text, {}, c.vertex, constants, error)) << c.text;
        EXPECT_NE(error.find(c.error), std::string::npos) << c.text << " gave: " << error;
    }
}

TEST(ShaderPacker, EveryLoadedProgramHasItsBodyInOrder) {
    std::vector<PackedShader> shaders;
    std::string error;
    ASSERT_TRUE(buildShaderBodies(shaders, error)) << error;
    // The standalone programs and every family permutation.
    ASSERT_EQ(shaders.size(), 40u + 15251u);
    for (std::size_t i = 1; i < shaders.size(); ++i) EXPECT_LT(shaders[i - 1].key, shaders[i].key);
    int families = 0;
    for (const PackedShader& shader : shaders) {
        EXPECT_EQ(shader.body.defines.back().first, shader.body.entryPoint);
        if (shader.body.entryPoint == "VS_MultyShader" || shader.body.entryPoint == "PS_MultyShader") {
            ++families;
            EXPECT_EQ(shader.key.substr(0, 6), shader.body.profile);
            EXPECT_EQ(shader.key.substr(6, 3), shader.body.kind == 0 ? "vs-" : "ps-") << shader.key;
            continue;
        }
        EXPECT_EQ(shader.key, shader.body.profile + shader.body.entryPoint);
        EXPECT_FALSE(shader.body.constants.empty()) << shader.key;
    }
    EXPECT_EQ(families, 15251);

    // A permutation's body: the global defines, the family's in its order,
    // then the entry point; its constants follow the defines.
    const auto find = [&](const std::string& key) {
        return std::find_if(shaders.begin(), shaders.end(), [&](const PackedShader& s) { return s.key == key; });
    };
    const auto lake = find("vs_2_0vs-water20-lake-2+PS");
    ASSERT_NE(lake, shaders.end());
    using Defines = std::vector<std::pair<std::string, std::string>>;
    const Defines tail(lake->body.defines.end() - 7, lake->body.defines.end());
    EXPECT_EQ(tail, (Defines{{"WATER", "1"}, {"BONES", "2"}, {"AMBIENT", "0"}, {"LIGHT", "1"}, {"LMODE", "0"},
                             {"SPECULAR", "1"}, {"VS_MultyShader", ""}}));
    EXPECT_EQ(lake->body.sourceId, 244);
    const auto hasConstant = [](const PackedShader& s, const std::string& name) {
        return std::any_of(s.body.constants.begin(), s.body.constants.end(),
                           [&](const platform::d3d9::ShaderConstant& c) { return c.name == name; });
    };
    EXPECT_TRUE(hasConstant(*lake, "mBones"));
    EXPECT_TRUE(hasConstant(*lake, "vObjectSpaceLightPos"));
    const auto rigid = find("vs_2_0vs-water20-lake-[B]");
    ASSERT_NE(rigid, shaders.end());
    EXPECT_FALSE(hasConstant(*rigid, "mBones"));
    EXPECT_FALSE(hasConstant(*rigid, "vObjectSpaceLightPos"));
}

// Every water permutation takes the textures the engine binds for water,
// all of them 2D: the wave and normal maps, and in the unlit pass the
// reflection (the mirror, or the sky's layer, which AMBIENT 4 also reads as
// sCubeMap). The normal-map family's second sample has its own constant
// beside the mirror's size.
TEST(ShaderPacker, WaterProgramsTakeTheWaterTexturesIn2D) {
    std::vector<PackedShader> shaders;
    std::string error;
    ASSERT_TRUE(buildShaderBodies(shaders, error)) << error;
    int pixel = 0, vertex = 0;
    for (const PackedShader& shader : shaders) {
        const bool water = shader.body.sourceId == 244 || shader.body.sourceId == 245;
        if (!water) continue;
        std::map<std::string, const ShaderConstant*> constants;
        for (const ShaderConstant& c : shader.body.constants) constants[c.name] = &c;
        if (shader.body.kind == 0) {
            if (shader.body.sourceId != 245) continue;
            ++vertex;
            ASSERT_TRUE(constants.count("vTT1") && constants.count("vTT2")) << shader.key;
            EXPECT_NE(constants["vTT1"]->registerIndex, constants["vTT2"]->registerIndex) << shader.key;
            continue;
        }
        ++pixel;
        const auto ambient = std::find_if(shader.body.defines.begin(), shader.body.defines.end(),
                                          [](const auto& d) { return d.first == "AMBIENT"; });
        ASSERT_NE(ambient, shader.body.defines.end()) << shader.key;
        std::vector<std::string> wanted = {"sDiffuseMap", "sLightMap", "sNormalMap"};
        if (ambient->second != "0") wanted.push_back("sSpecularMap");
        if (ambient->second == "4") wanted.push_back("sCubeMap");
        for (const std::string& name : wanted) EXPECT_TRUE(constants.count(name)) << shader.key << " " << name;
        for (const ShaderConstant& c : shader.body.constants)
            if (c.registerSet == 3) EXPECT_EQ(c.parameterType, 12) << shader.key << " " << c.name << " is not 2D";
    }
    EXPECT_GT(pixel, 0);
    EXPECT_GT(vertex, 0);
}

}  // namespace
