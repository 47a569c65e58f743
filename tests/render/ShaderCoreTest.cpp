#include "render/shaders/ShaderCore.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <sstream>
#include <string>

#include "foundation/AppPaths.h"
#include "foundation/IniFile.h"
#include "foundation/Log.h"
#include "foundation/PackedStream.h"
#include "platform/D3D9TestSupport.h"
#include "platform/FileSystem.h"
#include "platform/d3d9/ShaderBody.h"
#include "render/VideoCore.h"
#include "render/shaders/Container.h"
#include "render/states/DXStateCache.h"
#include "shaderpack/ShaderPacker.h"
#include "support/TestSupport.h"

namespace {

// The permutations the families' walks load: vertex (dynamic, water, water
// with normal maps, particle, vertex debug) and pixel.
constexpr int kFamilyVertexPermutations = 13560 + 90 + 151 + 6 + 40;
constexpr std::size_t kFamilyPermutations = kFamilyVertexPermutations + 1316 + 43 + 43 + 1 + 1;

// A null device, a state cache and a shader package written by the packer
// beside the "executable".
class ShaderCoreTest : public d3d9_test::D3D9Test {
protected:
    void SetUp() override {
        environment.callLog = calls;
        D3D9Test::SetUp();
        open();
        core.paths().setPath(PathExeFolderInput, folder.path());
        core.paths().setPath(PathShaderCacheName, "shaders.0050");
        std::string error;
        ASSERT_TRUE(buildShaderBodies(shaders, error)) << error;
        cache.setDevice(device);
        cache.initialize(false);
        ASSERT_TRUE(cache.setupDeviceDefaults(false));
        shaderCore.attach(device, &cache);
    }

    void writePackage(const std::string& without = "") {
        std::vector<PackedShader> kept;
        for (const PackedShader& s : shaders)
            if (s.key != without) kept.push_back(s);
        std::string error;
        ASSERT_TRUE(writeShaderPackage(core.paths().get(PathShaderCacheFile), kept, error)) << error;
    }

    // The package with every body passed through damage (by its key).
    void writeDamagedPackage(const std::function<void(const std::string&, std::vector<std::uint8_t>&)>& damage) {
        std::vector<PackedShader> sorted = shaders;
        std::sort(sorted.begin(), sorted.end(),
                  [](const PackedShader& a, const PackedShader& b) { return a.key < b.key; });
        Container writer("writer", 0);
        writer.reserveEntries(std::int32_t(sorted.size()));
        for (const PackedShader& shader : sorted) {
            std::vector<std::uint8_t> body = platform::d3d9::writeShaderBody(shader.body);
            damage(shader.key, body);
            ASSERT_TRUE(writer.append(shader.key, body.data(), std::int32_t(body.size())));
        }
        MemoryStream content(true);
        ASSERT_GT(writer.write(content), 0);
        ASSERT_TRUE(writePackedFile(core.paths().get(PathShaderCacheFile), content, 1, true));
    }

    std::size_t count(const std::string& line) const {
        return std::size_t(std::count(calls->lines.begin(), calls->lines.end(), line));
    }

    std::shared_ptr<platform::d3d9::CallLog> calls = std::make_shared<platform::d3d9::CallLog>();
    testing_support::TempDir folder;
    testing_support::ScopedGameCore core{true};
    VideoCore video;
    testing_support::ScopedCoreMember<VideoCore> useVideo{gameCore.video, &video};
    std::vector<PackedShader> shaders;
    DXStateCache cache;
    ShaderCore shaderCore;
};

TEST_F(ShaderCoreTest, LoadsEveryStandaloneProgramByProfileAndName) {
    writePackage();
    ASSERT_TRUE(shaderCore.initialize());
    EXPECT_TRUE(shaderCore.ready());
    // Every row of both passes (40 of them with programs) and every
    // permutation of the families' walks.
    EXPECT_EQ(shaders.size(), 40u + kFamilyPermutations);
    EXPECT_EQ(shaderCore.loadedCount, 23 + 30 + int(kFamilyPermutations));

    // A row without a source is skipped; the HDR pixel rows use ps_2_a.
    EXPECT_FALSE(shaderCore.vertexPrograms[0].has(ShaderProgram::Exists));
    EXPECT_FALSE(shaderCore.vertexPrograms[0].has(ShaderProgram::BodyLoaded));
    const ShaderProgram& shadow = shaderCore.vertexPrograms[16];
    EXPECT_STREQ(shadow.name, "VS_SHADOWD");
    ASSERT_TRUE(shadow.has(ShaderProgram::BodyLoaded));
    // Bodies are read where the package keeps them; their variables are
    // built when a program is first made current.
    EXPECT_EQ(shadow.body, shaderCore.container().find("vs_2_0VS_SHADOWD")->data());
    EXPECT_EQ(shadow.variables[VarWorldViewProjection], nullptr);
    shaderCore.selectVertexProgram(16);
    shaderCore.selectPixelProgram(5);
    ASSERT_NE(shadow.variables[VarWorldViewProjection], nullptr);
    EXPECT_EQ(shadow.variables[VarWorldViewProjection]->classCode, VertexData::ClassMatrix);
    EXPECT_EQ(shadow.variables[VarShadow]->registers[0], 5);
    platform::d3d9::ShaderBody body;
    std::string why;
    const ShaderProgram& blur = shaderCore.pixelPrograms[5];
    ASSERT_TRUE(platform::d3d9::readShaderBody(blur.body, blur.bodySize, body, why)) << why;
    EXPECT_EQ(body.profile, "ps_2_a");
    EXPECT_EQ(body.sourceId, 255);
    ASSERT_NE(blur.variables[VarGaussianFilter], nullptr);
    EXPECT_EQ(blur.variables[VarGaussianFilter]->classCode, VertexData::ClassVectorArray);
    EXPECT_EQ(blur.variables[VarGaussianFilter]->elements, 13);
    EXPECT_EQ(blur.variables[VarDiffuseMap]->classCode, VertexData::ClassSampler);
    EXPECT_EQ(blur.variables[VarLightMap], nullptr);
    // Every body names its program and carries the global defines.
    using Define = std::pair<std::string, std::string>;
    EXPECT_NE(std::find(body.defines.begin(), body.defines.end(), Define("MAX_BONES", "78")), body.defines.end());
    EXPECT_NE(std::find(body.defines.begin(), body.defines.end(), Define("PS_HDR_blur", "")), body.defines.end());
    EXPECT_NE(shaderCore.container().find("ps_2_aPS_HDR_blur"), nullptr);
    EXPECT_EQ(shaderCore.container().find("ps_2_0PS_HDR_blur"), nullptr);

    // The default adapter has shader model 2, and takes every body: its
    // profile and its registers.
    D3DCAPS9 caps{};
    ASSERT_EQ(device->GetDeviceCaps(&caps), S_OK);
    EXPECT_EQ(caps.VertexShaderVersion, D3DVS_VERSION(2, 0));
    EXPECT_EQ(caps.PixelShaderVersion, D3DPS_VERSION(2, 0));
    for (ShaderProgram* programs : {shaderCore.vertexPrograms, shaderCore.pixelPrograms}) {
        for (int i = 0; i < kStandalonePixelPrograms; ++i) {
            if (!programs[i].has(ShaderProgram::BodyLoaded)) continue;
            EXPECT_TRUE(programs[i].createDeviceShader(device, &cache)) << programs[i].name << "\n" << allLines();
        }
    }

    shaderCore.release();
    EXPECT_FALSE(shaderCore.ready());
    EXPECT_EQ(shaderCore.container().count(), 0);
}

TEST_F(ShaderCoreTest, AMissingBodyStopsTheLoadAndTheRendererFallsBack) {
    writePackage("vs_2_0VS_OPS2");
    EXPECT_FALSE(shaderCore.initialize());
    EXPECT_TRUE(core.log().contains("Can't find shader [VS_OPS2]: update you'r shaders DB"));
    EXPECT_TRUE(core.log().contains("Container render shaders: can't find resource [vs_2_0VS_OPS2] in database"));
    EXPECT_EQ(shaderCore.loadedCount, kFamilyVertexPermutations + 21);  // the families' vertex programs, rows 0-20
    EXPECT_FALSE(shaderCore.ready());

    // The device start goes on without shaders.
    EXPECT_TRUE(shaderCore.start());
    EXPECT_TRUE(core.log().contains("Shaders are not available: drawing with the fixed pipeline"));
    EXPECT_TRUE(video.fixedPipeline);
    EXPECT_EQ(cache.stageFixedPipeline, 1u);
    EXPECT_TRUE(shaderCore.fixedPipeline());
    EXPECT_FALSE(shaderCore.vertexPrograms[16].has(ShaderProgram::BodyLoaded));
    // On the fixed pipeline nothing is loaded, and that is no failure.
    EXPECT_TRUE(shaderCore.initialize());
    EXPECT_FALSE(shaderCore.vertexPrograms[16].has(ShaderProgram::BodyLoaded));

    video.fixedPipeline = false;
    std::filesystem::remove(platform::hostPath(core.paths().get(PathShaderCacheFile)));
    EXPECT_FALSE(shaderCore.initialize());
    EXPECT_TRUE(core.log().contains("Fail to load shaders data package at ["));
}

TEST_F(ShaderCoreTest, ABodyLargerThanItsEntryIsRefusedAndTheRendererFallsBack) {
    // The device and the constant table take a body by pointer and read
    // what its own size field says; each case damages every body so.
    using Body = std::vector<std::uint8_t>;
    auto claim = [](std::uint32_t size) {
        return [size](Body& body) {
            for (int i = 0; i < 4; ++i) body[4 + i] = std::uint8_t(size >> (8 * i));
        };
    };
    struct Case {
        const char* what;
        std::function<void(Body&)> damage;
        const char* message;
    };
    const Case cases[] = {
        {"a body claiming 64 bytes more than its entry", [&](Body& body) { claim(std::uint32_t(body.size() + 64))(body); },
         "bytes, its entry holds"},
        {"a body claiming about 4 GB", claim(0xFFFFFFF8u), "its body claims 4294967288 bytes"},
        {"a body cut to its first word", [](Body& body) { body.resize(4); }, "is too short to be one"},
    };
    for (const Case& c : cases) {
        writeDamagedPackage([&](const std::string&, Body& body) { c.damage(body); });

        // Start-up as the device start runs it: the package is refused at its
        // first program and the renderer goes on without shaders.
        video.fixedPipeline = false;
        ShaderCore starting;
        starting.attach(device, &cache);
        EXPECT_TRUE(starting.start()) << c.what;
        EXPECT_TRUE(core.log().contains(c.message)) << c.what;
        EXPECT_TRUE(core.log().contains("]: read failed.")) << c.what;
        EXPECT_TRUE(core.log().contains("Shaders are not available: drawing with the fixed pipeline")) << c.what;
        EXPECT_TRUE(video.fixedPipeline) << c.what;
        EXPECT_FALSE(starting.ready()) << c.what;
        core.log().clear();
    }
}

TEST_F(ShaderCoreTest, DrawsSendOnlyChangedConstantsAndSurviveDeviceLoss) {
    writePackage();
    ASSERT_TRUE(shaderCore.initialize());
    shaderCore.selectVertexProgram(20);  // VS_OPS1
    shaderCore.selectPixelProgram(20);   // PS_OPS_RGB1
    ShaderProgram& vertex = *shaderCore.currentVertexProgram();
    D3DMATRIX world = identityMatrix();
    world.m[3][0] = 5.0f;
    vertex.variables[VarWorldViewProjection]->setMatrix(TransformAsIs, world);
    const float colour[4] = {1.0f, 0.5f, 0.25f, 1.0f};
    vertex.variables[VarColorMain]->setFromPointer(colour);

    calls->lines.clear();
    shaderCore.prepareDraw();
    EXPECT_TRUE(vertex.has(ShaderProgram::DeviceShaderMade));
    EXPECT_TRUE(vertex.has(ShaderProgram::Bound));
    EXPECT_EQ(count("SetVertexShaderConstantF(0, 4)"), 1u);
    EXPECT_EQ(count("SetVertexShaderConstantF(4, 1)"), 1u);
    EXPECT_EQ(count("SetVertexShader(VS_OPS1)"), 1u);
    EXPECT_EQ(count("SetPixelShader(PS_OPS_RGB1)"), 1u);
    float registers[4 * 5] = {};
    ASSERT_EQ(device->GetVertexShaderConstantF(0, registers, 5), S_OK);
    EXPECT_EQ(registers[0 * 4 + 3], 5.0f);  // column 0 holds row 3's x
    EXPECT_EQ(registers[4 * 4 + 1], 0.5f);

    // Equal values send nothing; a changed one sends itself.
    calls->lines.clear();
    vertex.variables[VarWorldViewProjection]->setMatrix(TransformAsIs, world);
    shaderCore.prepareDraw();
    EXPECT_EQ(count("SetVertexShaderConstantF(0, 4)"), 0u);
    world.m[3][1] = 2.0f;
    vertex.variables[VarWorldViewProjection]->setMatrix(TransformAsIs, world);
    shaderCore.prepareDraw();
    EXPECT_EQ(count("SetVertexShaderConstantF(0, 4)"), 1u);
    EXPECT_EQ(count("SetVertexShaderConstantF(4, 1)"), 0u);

    // A program made current again sends all its variables once.
    calls->lines.clear();
    shaderCore.selectVertexProgram(20);
    shaderCore.prepareDraw();
    EXPECT_EQ(count("SetVertexShaderConstantF(0, 4)"), 1u);
    EXPECT_EQ(count("SetVertexShaderConstantF(4, 1)"), 1u);

    // Device loss: the device shaders go, the bodies stay; the next draw
    // makes them again.
    shaderCore.releaseDeviceShaders();
    EXPECT_EQ(vertex.vertexShader, nullptr);
    EXPECT_EQ(cache.vertexShaderCurrent, nullptr);
    EXPECT_TRUE(vertex.has(ShaderProgram::BodyLoaded));
    shaderCore.prepareDraw();
    EXPECT_NE(vertex.vertexShader, nullptr);
    EXPECT_EQ(cache.vertexShaderCurrent, vertex.vertexShader);
    shaderCore.release();
    EXPECT_EQ(cache.vertexShaderDesired, nullptr);
}

// A body whose size holds but whose content does not read loads with the
// package; the program fails alone when it is first used: no variables
// (logged once), no device shader, and its draws go without it.
TEST_F(ShaderCoreTest, ABodyDamagedInsideFailsOnlyItsProgramWhenFirstUsed) {
    writeDamagedPackage([](const std::string& key, std::vector<std::uint8_t>& body) {
        if (key == "vs_2_0VS_OPS1") body[8] = 99;  // an unknown body version
    });

    video.fixedPipeline = false;
    ASSERT_TRUE(shaderCore.start());
    EXPECT_TRUE(shaderCore.ready());
    EXPECT_FALSE(video.fixedPipeline);
    const std::string refused = "D3DXGetShaderConstantTable refused: unknown body version 99";
    EXPECT_EQ(allLines().find(refused), std::string::npos);

    shaderCore.selectVertexProgram(20);  // VS_OPS1, damaged
    shaderCore.selectPixelProgram(20);   // PS_OPS_RGB1
    ShaderProgram& vertex = *shaderCore.currentVertexProgram();
    EXPECT_NE(allLines().find(refused), std::string::npos);
    EXPECT_EQ(vertex.variables[VarWorldViewProjection], nullptr);
    calls->lines.clear();
    shaderCore.prepareDraw();
    EXPECT_TRUE(core.log().contains("Cannot create vertex shader [VS_OPS1]: "));
    EXPECT_FALSE(vertex.has(ShaderProgram::BodyLoaded));
    EXPECT_EQ(count("SetVertexShader(VS_OPS1)"), 0u);
    EXPECT_EQ(count("SetPixelShader(PS_OPS_RGB1)"), 1u);

    // Made current again it is not read again.
    core.log().clear();
    lines.clear();
    shaderCore.selectVertexProgram(20);
    shaderCore.prepareDraw();
    EXPECT_EQ(allLines().find(refused), std::string::npos);
    EXPECT_FALSE(core.log().contains("Cannot create vertex shader"));
    shaderCore.release();
}

// A pixel program current without a vertex program (the quad batch's
// screen passes) reaches the device only when the draw forces it.
TEST_F(ShaderCoreTest, APixelProgramAloneGoesToTheDeviceOnlyWhenForced) {
    writePackage();
    ASSERT_TRUE(shaderCore.initialize());
    shaderCore.resetPass();
    shaderCore.selectPixelProgram(20);  // PS_OPS_RGB1
    calls->lines.clear();
    shaderCore.prepareDraw(false);
    EXPECT_EQ(count("SetPixelShader(PS_OPS_RGB1)"), 0u);
    shaderCore.prepareDraw(true);
    EXPECT_EQ(count("SetPixelShader(PS_OPS_RGB1)"), 1u);
    EXPECT_EQ(cache.pixelShaderCurrent, shaderCore.currentPixelProgram()->pixelShader);
    shaderCore.release();
}

TEST_F(ShaderCoreTest, ArrayVariablesSendWhatWasSetAndRefuseIndicesOutside) {
    writePackage();
    ASSERT_TRUE(shaderCore.initialize());
    shaderCore.selectVertexProgram(6);  // VS_HDR_plain
    shaderCore.selectPixelProgram(5);   // PS_HDR_blur
    shaderCore.prepareDraw();
    VertexData& taps = *shaderCore.currentPixelProgram()->variables[VarGaussianFilter];

    calls->lines.clear();
    const float tap[3] = {0.25f, 0.0f, 0.5f};
    taps.setElement(3, tap);
    shaderCore.prepareDraw();
    EXPECT_EQ(count("SetPixelShaderConstantF(2, 4)"), 1u);  // elements 0 to 3
    float registers[4 * 4] = {};
    ASSERT_EQ(device->GetPixelShaderConstantF(2, registers, 4), S_OK);
    EXPECT_EQ(registers[3 * 4 + 0], 0.25f);
    EXPECT_EQ(registers[3 * 4 + 3], 1.0f);

    // Past the 13 declared elements: refused, reported once.
    calls->lines.clear();
    taps.setElement(13, tap);
    taps.setElement(40, tap);
    taps.setElement(-1, tap);
    shaderCore.prepareDraw();
    EXPECT_TRUE(calls->lines.empty());
    std::size_t reports = 0;
    for (const LogRecord& record : core.log().records())
        if (record.text.find("Shader variable [gaussianfilter]: element") != std::string::npos) ++reports;
    EXPECT_EQ(reports, 1u);
}

TEST_F(ShaderCoreTest, PassStateMovesIntoTheCache) {
    ShaderCore& c = shaderCore;
    // The alpha references come from section "render", created when missing.
    IniFile settings;
    testing_support::ScopedCoreMember<IniFile> useSettings{gameCore.settings, &settings};
    settings.getCategory("render").getVariable("alpha_smooth").setString("3.6");
    c.readAlphaSettings();
    EXPECT_EQ(c.alphaSharp, 127.0f);
    EXPECT_EQ(c.alphaSmooth, 3.6f);
    EXPECT_NE(settings.getCategory("render").findVariable("alpha_mask"), nullptr);

    c.pass.alphaMode = 2;
    c.pass.blendMode = 0;
    c.pass.cullMode = 0;
    c.pass.depthFunction = 6;
    c.pass.fogMode = 1;
    c.pass.fogStart = 10.0f;
    c.pass.fogColor[0] = 2.0f;
    c.pass.fogColor[2] = 0.5f;
    c.applyPassState();
    EXPECT_EQ(cache.renderDesired[DXStateCache::RsAlphaTestEnable], 1u);
    EXPECT_EQ(cache.renderDesired[DXStateCache::RsAlphaRef], 4u);  // 3.6 rounded
    EXPECT_EQ(cache.renderDesired[DXStateCache::RsAlphaBlendEnable], 1u);  // forced for smooth alpha
    EXPECT_EQ(cache.renderDesired[DXStateCache::RsSrcBlend], D3DBLEND_SRCALPHA);
    EXPECT_EQ(cache.renderDesired[DXStateCache::RsZWriteEnable], 1u);
    EXPECT_EQ(cache.renderDesired[DXStateCache::RsCullMode], D3DCULL_NONE);
    EXPECT_EQ(cache.renderDesired[DXStateCache::RsZFunc], D3DCMP_LESSEQUAL);
    EXPECT_EQ(cache.renderDesired[DXStateCache::RsFogTableMode], D3DFOG_LINEAR);
    EXPECT_EQ(cache.renderDesired[DXStateCache::RsFogColor], 0x00FF0080u);
    EXPECT_EQ(c.pass.blendApplied, 0u);  // applied again on the next call
    EXPECT_EQ(c.pass.cullApplied, 1u);

    // Once applied, the cull state is left alone until the pass is reset.
    c.pass.cullMode = 2;
    c.pass.blendMode = 8;  // additive: fog goes black
    c.applyPassState();
    EXPECT_EQ(cache.renderDesired[DXStateCache::RsCullMode], D3DCULL_NONE);
    EXPECT_EQ(cache.renderDesired[DXStateCache::RsFogColor], 0u);
    EXPECT_EQ(cache.renderDesired[DXStateCache::RsDestBlend], D3DBLEND_ONE);
    c.resetPass();
    c.applyPassState();
    EXPECT_EQ(cache.renderDesired[DXStateCache::RsCullMode], D3DCULL_CCW);
}

TEST_F(ShaderCoreTest, TheCameraFillsTheFrameRecordAndTheCache) {
    D3DMATRIX world = identityMatrix();  // looking along +x: direction row (1, 0, 0)
    world.m[0][0] = 0.0f;
    world.m[0][2] = -1.0f;
    world.m[2][0] = 1.0f;
    world.m[2][2] = 0.0f;
    world.m[3][1] = 4.0f;
    D3DMATRIX view = identityMatrix();
    view.m[3][1] = -4.0f;
    const D3DMATRIX identity = identityMatrix();
    shaderCore.setCameraFrame(&view.m[0][0], &world.m[0][0], &identity.m[0][0], &view.m[0][0]);
    EXPECT_EQ(shaderCore.frame.cameraOrientation[8], 1.0f);
    EXPECT_EQ(shaderCore.frame.cameraBlock[5], 1.0f);
    EXPECT_EQ(shaderCore.frame.rightAxis[0], 0.0f);
    EXPECT_EQ(shaderCore.frame.rightAxis[2], 1.0f);
    EXPECT_EQ(shaderCore.frame.upAxis[1], 1.0f);
    shaderCore.resetFrame();
    EXPECT_EQ(cache.transformDesired[DXStateCache::TransformView].m[3][1], -4.0f);
    EXPECT_EQ(cache.transformDirty[DXStateCache::TransformView], 1u);
}

TEST(ShaderVariablesMapper, NamesMapToTheirSlotsWithoutCaseOrDollar) {
    testing_support::ScopedGameCore core;
    ShaderVariablesMapper mapper;
    EXPECT_TRUE(core.log().contains(" Shader Variables Mapper: found unmapped variable at index 40"));
    EXPECT_TRUE(core.log().contains(" Shader Variables Mapper: found unmapped variable at index 41"));
    const std::pair<const char*, int> cases[] = {
        {"$mWorld", 32}, {"mWorld", 32}, {"MWORLD", 32}, {"vColorDiffuse", 15}, {"GaussianFilterSmall", 61},
        {"sDiffuseMap", 0}, {"fTime", 30}, {"", -1}, {"$", -1}, {"mUnknown", -1},
    };
    for (const auto& [name, slot] : cases) EXPECT_EQ(mapper.find(name), slot) << name;
}

TEST(ShaderVariables, ConstantsBecomeVariablesByClass) {
    testing_support::ScopedGameCore core;
    platform::d3d9::ShaderBody body;
    body.kind = 0;
    body.profile = "vs_2_0";
    body.entryPoint = "VS_TEST";
    body.constants = {
        {"$mWorld", 2, 0, 4, 3, 3, 4, 4, 1},          // matrix
        {"mBones", 2, 4, 8, 3, 3, 4, 4, 2},           // matrix array
        {"fTime", 2, 12, 1, 0, 3, 1, 1, 1},           // scalar
        {"vTT0", 2, 13, 1, 1, 3, 1, 4, 1},            // vector
        {"vtt0", 2, 14, 1, 1, 3, 1, 4, 1},            // the same name again: a second register
        {"sDiffuseMap", 3, 2, 1, 4, 12, 1, 1, 1},     // sampler at stage 2
        {"sLightMap", 3, 3, 1, 4, 7, 1, 1, 1},        // a texture: no variable, no message
        {"vLightV1", 2, 15, 1, 5, 3, 1, 4, 1},        // a structure: unsupported
        {"vUnknown", 2, 16, 1, 1, 3, 1, 4, 1},        // not mapped: skipped
    };
    const auto code = platform::d3d9::writeShaderBody(body);
    ShaderProgram program;
    program.setup(ShaderProgram::KindVertex, 1, "VS_TEST", 201);
    MemoryStream data(const_cast<std::uint8_t*>(code.data()), std::int32_t(code.size()));
    ASSERT_TRUE(program.readBody(data));
    ShaderVariablesMapper mapper;
    ShaderFrameState frame;
    ShaderPassState pass;
    ASSERT_TRUE(program.loadVariables(mapper, &frame, &pass, nullptr));
    EXPECT_EQ(program.variables[32]->classCode, VertexData::ClassMatrix);
    EXPECT_EQ(program.variables[29]->classCode, VertexData::ClassMatrixArray);
    EXPECT_EQ(program.variables[30]->classCode, VertexData::ClassScalar);
    EXPECT_EQ(program.variables[VarTT0]->registers[0], 13);
    EXPECT_EQ(program.variables[VarTT0]->registers[1], 14);
    EXPECT_EQ(program.variables[VarDiffuseMap]->registers[0], 2);
    EXPECT_EQ(program.variables[VarLightMap], nullptr);
    EXPECT_EQ(program.variables[27], nullptr);
    EXPECT_TRUE(core.log().contains("Unsupported variable type [vLightV1] in function [VS_TEST]"));
    EXPECT_FALSE(core.log().contains("[sLightMap]"));

    // Transform kinds: W x V x P and W x V from the frame record.
    frame.view = identityMatrix();
    frame.view.m[3][2] = 10.0f;
    frame.projection = identityMatrix();
    frame.projection.m[0][0] = 2.0f;
    D3DMATRIX world = identityMatrix();
    world.m[3][0] = 1.0f;
    auto& matrix = static_cast<VertexDataMatrix&>(*program.variables[32]);
    matrix.setMatrix(TransformWorldViewProj, world);
    EXPECT_EQ(matrix.value.m[3][0], 2.0f);
    EXPECT_EQ(matrix.value.m[3][2], 10.0f);
    matrix.commit(true);
    matrix.setMatrix(TransformWorldView, world);
    EXPECT_EQ(matrix.value.m[3][0], 1.0f);
    EXPECT_TRUE(matrix.changed);
    matrix.commit(true);
    matrix.setMatrix(TransformWorldView, world);
    EXPECT_FALSE(matrix.changed);
    matrix.setMatrix(TransformTransposed, matrix.value);
    EXPECT_TRUE(matrix.changed);
    EXPECT_EQ(matrix.transpose, 1u);
    // From the frame record: the camera's world matrix, sent as it is.
    frame.viewInverse = identityMatrix();
    frame.viewInverse.m[3][1] = 7.0f;
    matrix.setFromFrame(TransformViewInverse);
    EXPECT_EQ(matrix.value.m[3][1], 7.0f);
    EXPECT_EQ(matrix.transpose, 0u);
}

TEST_F(ShaderCoreTest, FamiliesLoadEveryPermutationAndSelectOnePerDraw) {
    writePackage();
    ASSERT_TRUE(shaderCore.initialize()) << allLines();
    for (const char* key : {"vs_2_0vs-dyn20-", "ps_2_0ps-dyn20", "vs_2_0vs-water20-lake-[B]",
                            "vs_2_0vs-water20-ocean-3+DS", "ps_2_0ps-water20-river", "ps_2_0ps-water20-lake+PSm+A",
                            "vs_2_0vs-waternorm20-river-", "vs_2_0vs-waternorm20-lake-+P+A",
                            "vs_2_0vs-particle20-floor", "ps_2_0ps-particle20", "vs_2_0vs-vd-4-dCN",
                            "ps_2_0ps-vd-vertexdebug", "vs_2_0vs-dyn20-4-T2+DN#+A-wave2"})
        EXPECT_NE(shaderCore.container().find(key), nullptr) << key;

    // The load made no program: a permutation's is made when a draw first
    // asks for it, and only then.
    auto made = [&] {
        std::ptrdiff_t programs = 0;
        for (MultyShader* family : shaderCore.families)
            for (const auto* slots : {&family->vertexSlots, &family->pixelSlots})
                programs += std::ptrdiff_t(slots->size()) - std::count(slots->begin(), slots->end(), nullptr);
        return programs;
    };
    EXPECT_EQ(made(), 0);

    // A draw's values pick its two programs; their bodies carry the defines.
    MultyShaderWaterNorm20& water = shaderCore.waterNorm20;
    water.values.water = 1;
    water.values.light = 1;
    water.values.lmode = 1;
    shaderCore.selectFamilyPrograms(water);
    ASSERT_NE(shaderCore.currentVertexProgram(), nullptr);
    ASSERT_NE(shaderCore.currentPixelProgram(), nullptr);
    EXPECT_EQ(made(), 2);
    ShaderProgram* const firstVertex = shaderCore.currentVertexProgram();
    ShaderProgram* const firstPixel = shaderCore.currentPixelProgram();
    shaderCore.selectFamilyPrograms(water);
    EXPECT_EQ(shaderCore.currentVertexProgram(), firstVertex);
    EXPECT_EQ(shaderCore.currentPixelProgram(), firstPixel);
    EXPECT_EQ(made(), 2);
    EXPECT_STREQ(shaderCore.currentVertexProgram()->name, "vs-waternorm20-lake-+P+A");
    EXPECT_STREQ(shaderCore.currentPixelProgram()->name, "ps-waternorm20-lake+P+A");
    EXPECT_TRUE(shaderCore.currentVertexProgram()->has(ShaderProgram::BodyLoaded));
    EXPECT_EQ(shaderCore.currentVertexProgram()->index, 27);
    platform::d3d9::ShaderBody body;
    std::string why;
    const ShaderProgram& pixel = *shaderCore.currentPixelProgram();
    ASSERT_TRUE(platform::d3d9::readShaderBody(pixel.body, pixel.bodySize, body, why)) << why;
    using Define = std::pair<std::string, std::string>;
    EXPECT_NE(std::find(body.defines.begin(), body.defines.end(), Define("LMODE", "1")), body.defines.end());
    EXPECT_EQ(body.sourceId, 245);
    // The light mode 0 program keeps its own slot.
    water.values.lmode = 0;
    shaderCore.selectFamilyPrograms(water);
    EXPECT_STREQ(shaderCore.currentVertexProgram()->name, "vs-waternorm20-lake-+P");
    // A combination never valid leaves both stages without a program.
    MultyShaderDynamic20& dynamic = shaderCore.dynamic20;
    dynamic.values.ambient = 5;
    shaderCore.selectFamilyPrograms(dynamic);
    EXPECT_EQ(shaderCore.currentVertexProgram(), nullptr);
    EXPECT_EQ(shaderCore.currentPixelProgram(), nullptr);
    dynamic.values.ambient = 1;
    shaderCore.selectFamilyPrograms(dynamic);
    ASSERT_NE(shaderCore.currentPixelProgram(), nullptr);
    EXPECT_TRUE(shaderCore.currentPixelProgram()->createDeviceShader(device, &cache)) << allLines();

    shaderCore.releaseDeviceShaders();
    EXPECT_EQ(shaderCore.currentPixelProgram()->pixelShader, nullptr);
    EXPECT_TRUE(shaderCore.currentPixelProgram()->has(ShaderProgram::BodyLoaded));
    shaderCore.release();
    for (MultyShader* family : shaderCore.families)
        for (const auto* slots : {&family->vertexSlots, &family->pixelSlots})
            EXPECT_EQ(std::count(slots->begin(), slots->end(), nullptr), std::ptrdiff_t(slots->size()));
}

// The package is mapped, and its bodies are read where they lie, from the
// load to the release; a device loss keeps it. Once loaded and checked its
// pages leave memory, and a body asked for later is read from the file.
TEST_F(ShaderCoreTest, ThePackageStaysMappedUntilTheRelease) {
    writePackage();
    const std::string file = std::filesystem::canonical(platform::hostPath(core.paths().get(PathShaderCacheFile)));
    const auto fileKiB = std::filesystem::file_size(file) / 1024;
    auto mapped = [&] { return testing_support::readFile("/proc/self/maps").find(file) != std::string::npos; };
    // The resident KiB of the file's mapping (/proc/self/smaps).
    auto residentKiB = [&] {
        std::istringstream smaps(testing_support::readFile("/proc/self/smaps"));
        std::uint64_t total = 0;
        bool inFile = false;
        for (std::string line; std::getline(smaps, line);) {
            if (line.find('-') < line.find(' '))  // a mapping's first line
                inFile = line.size() >= file.size() && line.compare(line.size() - file.size(), file.size(), file) == 0;
            else if (inFile && line.rfind("Rss:", 0) == 0)
                total += std::stoull(line.substr(4));
        }
        return total;
    };
    EXPECT_FALSE(mapped());
    ASSERT_TRUE(shaderCore.initialize());
    EXPECT_TRUE(mapped());
    ASSERT_GT(fileKiB, 1024u);
    EXPECT_LT(residentKiB(), fileKiB / 8);
    shaderCore.selectVertexProgram(20);  // VS_OPS1: its variables come from its body
    EXPECT_NE(shaderCore.currentVertexProgram()->variables[VarWorldViewProjection], nullptr);
    EXPECT_GT(residentKiB(), 0u);  // its page came back
    const std::uint8_t* body = shaderCore.currentVertexProgram()->body;
    const MemoryStream* entry = shaderCore.container().find("vs_2_0VS_OPS1");
    ASSERT_NE(entry, nullptr);
    EXPECT_EQ(body, entry->data());

    shaderCore.releaseDeviceShaders();
    EXPECT_TRUE(mapped());
    shaderCore.release();
    EXPECT_FALSE(mapped());
}

TEST_F(ShaderCoreTest, AMissingPermutationStopsTheLoadAtItsEntry) {
    // The water pixel walk's position of the missing entry.
    MultyShaderWater20 walk;
    int position = 0;
    char name[256] = {};
    for (bool more = walk.nextPixel(true); more; more = walk.nextPixel(false)) {
        ++position;
        walk.pixelName(name);
        if (std::string(name) == "ps-water20-lake+PS+A") break;
    }
    ASSERT_STREQ(name, "ps-water20-lake+PS+A");
    writePackage("ps_2_0ps-water20-lake+PS+A");
    EXPECT_FALSE(shaderCore.initialize());
    EXPECT_TRUE(core.log().contains("Can't find shader [ps-water20-lake+PS+A]: update you'r shaders DB"));
    // The defines of the permutation follow the message.
    EXPECT_TRUE(core.log().contains("#define WATER 1"));
    EXPECT_TRUE(core.log().contains("#define LMODE 1"));
    EXPECT_EQ(shaderCore.loadedCount, kFamilyVertexPermutations + 23 + 1316 + position);
    EXPECT_FALSE(shaderCore.ready());
    shaderCore.release();
}

}  // namespace
