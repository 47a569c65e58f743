#include "render/shaders/ShaderProgramTable.h"

#include <cstring>

#include "platform/d3d9/D3D9.h"

const char* const kVertexProfiles[3] = {"vs_2_0", "vs_2_a", "vs_3_0"};
const char* const kPixelProfiles[4] = {"ps_2_0", "ps_2_a", "ps_2_b", "ps_3_0"};

namespace {

const char* const kVendors[2] = {"VENDOR_ATI", "VENDOR_NVIDIA"};
const char* const kCards[4] = {"CARD_STUFF", "CARD_LOW", "CARD_DEFAULT", "CARD_EXPENSIVE"};

void copyName(char* field, std::size_t size, const char* name) {
    std::strncpy(field, name, size - 1);
    field[size - 1] = 0;
}

}  // namespace

void setGlobalShaderDefines(ShaderDefineList& list, const GlobalShaderDefines& values) {
    list.clear();
    list.add("GAME_ENGINE_COMPILATION", "");
    list.add(kVendors[values.vendorIndex == 0 ? 0 : 1], "");
    list.add(kCards[values.cardIndex >= 0 && values.cardIndex < 4 ? values.cardIndex : 2], "");
    list.add("MAX_BONES", std::to_string(values.maxBones));
    list.add("MAX_PARTICLES", std::to_string(values.maxParticles));
    list.add("VERTEX_SHADER_SOURCE", "");
    list.add("NUM_DOF_TAPS", "7");
    list.add("GaussianFilterLength", "13");
    list.add("GaussianFilterSmallLength", "5");
}

const std::vector<ShaderProgramRow>& ShaderProgramTable::vertexRows() {
    static const std::vector<ShaderProgramRow> rows = {
        {2, "VS_RAINMAP", 201, 0},      {4, "VS_RAINMAP_DROP", 201, 0}, {5, "VS_RAINMAP_RIPPLE", 201, 0},
        {6, "VS_HDR_plain", 255, 0},    {16, "VS_SHADOWD", 201, 0},     {17, "VS_SHADOWCAST", 201, 0},
        {18, "VS_OPSC", 201, 0},        {19, "VS_OPSC1", 201, 0},       {20, "VS_OPS1", 201, 0},
        {21, "VS_OPS2", 201, 0},        {22, "VS_OPS3", 201, 0},        {24, "VS_PARTICLE20", 225, 0},
        {25, "VS_DYNAMIC20", 240, 0},   {26, "VS_WATER20", 244, 0},     {27, "VS_WATER20NORM", 245, 0},
        {28, "VS_VDEBUG", 210, 0},
    };
    return rows;
}

const std::vector<ShaderProgramRow>& ShaderProgramTable::pixelRows() {
    static const std::vector<ShaderProgramRow> rows = {
        {1, "PS_REFLECTION", 201, 0},
        {2, "PS_RAINMAP", 201, 0},
        {3, "PS_RAINMAP_RENDER", 201, 0},
        {4, "PS_HDR_downsample", 255, 1},
        {5, "PS_HDR_blur", 255, 1},
        {6, "PS_HDR_blursmall", 255, 1},
        {7, "PS_HDR_tonemap", 255, 1},
        {8, "PS_HDR_bright", 255, 1},
        {9, "PS_HDR_bright2", 255, 1},
        {10, "PS_HDR_PoissonDOF", 255, 1},
        {11, "PS_HDR_PoissonDOF_Debug", 255, 1},
        {12, "PS_HDR_bloom", 255, 1},
        {13, "PS_HDR_hdr", 255, 1},
        {14, "PS_HDR_downluminance", 255, 1},
        {15, "PS_HDR_luminance", 255, 1},
        {16, "PS_SHADOWCAST", 201, 0},
        {17, "PS_SHADOWD", 201, 0},
        {18, "PS_OPS_C", 201, 0},
        {19, "PS_OPS_CRGB", 201, 0},
        {20, "PS_OPS_RGB1", 201, 0},
        {21, "PS_OPS_A1", 201, 0},
        {22, "PS_OPS_RGB1_ADD_A2", 201, 0},
        {23, "PS_OPS_RGB1_LERP_RGB2", 201, 0},
        {24, "PS_OPS_A1_LERP_RGB2", 201, 0},
        {25, "PS_OPS_RGB1_ADD_A2_LERP_RGB3", 201, 0},
        {26, "PS_PP_BLACKWHITE", 201, 0},
        {27, "PS_PP_SEPIA", 201, 0},
        {28, "PS_PP_BLACKWHITE_MASK", 201, 0},
        {29, "PS_PP_SEPIA_MASK", 201, 0},
        {31, "PS_PARTICLE20", 225, 0},
        {32, "PS_WATER20", 244, 0},
        {33, "PS_WATER20NORM", 245, 0},
        {34, "PS_DYNAMIC20", 240, 0},
        {35, "PS_VDEBUG", 210, 0},
    };
    return rows;
}

const std::vector<ShaderSourceFile>& ShaderProgramTable::sourceFiles() {
    static const std::vector<ShaderSourceFile> files = {
        {201, "f_misc_11_ops.fx"},   {210, "f_vertex_debug.fx"}, {244, "f_20_water.fx"},
        {245, "f_20_water_normal.fx"}, {240, "f_20_dynamic.fx"}, {225, "f_11_particle.fx"},
        {255, "f_20_hdr.fx"},        {801, "hBaseDefs.fxh"},     {802, "hCore.fxh"},
        {803, "hEngine.fxh"},        {804, "hLightDefs.fxh"},    {805, "hLights.fxh"},
        {806, "hSkeleton.fxh"},      {807, "hTime.fxh"},         {808, "hTransforms.fxh"},
        {809, "hVertexFormat.fxh"},  {810, "hParticleDefs.fxh"}, {811, "hDynamic.fxh"},
    };
    return files;
}

ShaderProgramTable::ShaderProgramTable() {
    for (auto& id : vertexSources) id = -1;
    for (auto& id : pixelSources) id = -1;
    for (const ShaderProgramRow& row : vertexRows()) {
        copyName(vertexNames[row.index], sizeof vertexNames[row.index], row.name);
        vertexSources[row.index] = row.sourceId;
    }
    for (const ShaderProgramRow& row : pixelRows()) {
        copyName(pixelNames[row.index], sizeof pixelNames[row.index], row.name);
        pixelSources[row.index] = row.sourceId;
        pixelProfiles[row.index] = row.profile;
    }
    for (const ShaderSourceText& source : shaderSourceTexts()) {
        platform::d3d9::registerShaderSource(source.id, source.text);
        loadedSources.push_back(source.id);
    }
}
