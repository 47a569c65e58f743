// The shader package on the GL backend of our Direct3D 9 (Mesa's llvmpipe,
// headless through EGL): every standalone program compiles, links with a
// vertex program and draws, and a screen program gives the expected pixels.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "foundation/AppPaths.h"
#include "foundation/Log.h"
#include "platform/D3D9TestSupport.h"
#include "platform/FileSystem.h"
#include "render/VideoCore.h"
#include "render/shaders/ShaderCore.h"
#include "render/ShaderPackageSupport.h"
#include "render/states/DXStateCache.h"
#include "shaderpack/ShaderPacker.h"
#include "shaderpack/ShaderVerify.h"
#include "support/TestSupport.h"

namespace {

struct ScreenVertex {
    float x, y, z;
    D3DCOLOR colour;
    float u, v;
};

class ShaderGLTest : public d3d9_test::D3D9Test {
protected:
    void SetUp() override {
        environment.backend = platform::d3d9::BackendKind::GL;
        D3D9Test::SetUp();
        device = createDevice(windowed(64, 64));
        ASSERT_NE(device, nullptr) << allLines();
        ASSERT_TRUE(testing_support::installShaderPackage(core, folder));
        cache.setDevice(device);
        cache.initialize(false);
        ASSERT_TRUE(cache.setupDeviceDefaults(false));
        cache.setRender(DXStateCache::RsCullMode, D3DCULL_NONE);
        shaderCore.attach(device, &cache);
        ASSERT_TRUE(shaderCore.initialize()) << allLines();

        const D3DVERTEXELEMENT9 elements[] = {
            {0, 0, D3DDECLTYPE_FLOAT3, 0, D3DDECLUSAGE_POSITION, 0},
            {0, 12, D3DDECLTYPE_D3DCOLOR, 0, D3DDECLUSAGE_COLOR, 0},
            {0, 16, D3DDECLTYPE_FLOAT2, 0, D3DDECLUSAGE_TEXCOORD, 0},
            {0, 16, D3DDECLTYPE_FLOAT2, 0, D3DDECLUSAGE_TEXCOORD, 1},
            {0, 16, D3DDECLTYPE_FLOAT2, 0, D3DDECLUSAGE_TEXCOORD, 2},
            D3DDECL_END()};
        ASSERT_EQ(device->CreateVertexDeclaration(elements, &declaration), S_OK);
        // The whole screen in clip space, white.
        const ScreenVertex quad[4] = {{-1, 1, 0.5f, 0xFFFFFFFFu, 0, 0},
                                      {1, 1, 0.5f, 0xFFFFFFFFu, 1, 0},
                                      {-1, -1, 0.5f, 0xFFFFFFFFu, 0, 1},
                                      {1, -1, 0.5f, 0xFFFFFFFFu, 1, 1}};
        ASSERT_EQ(device->CreateVertexBuffer(sizeof quad, D3DUSAGE_WRITEONLY, 0, D3DPOOL_MANAGED, &quadBuffer, nullptr),
                  S_OK);
        void* data = nullptr;
        ASSERT_EQ(quadBuffer->Lock(0, 0, &data, 0), S_OK);
        std::memcpy(data, quad, sizeof quad);
        quadBuffer->Unlock();
    }

    void TearDown() override {
        shaderCore.release();
        if (quadBuffer) quadBuffer->Release();
        if (declaration) declaration->Release();
        D3D9Test::TearDown();
    }

    // Draws the screen quad with two standalone programs (-1: the current
    // ones); false when a call was refused.
    bool drawQuad(int vertexIndex, int pixelIndex) {
        const auto refusedBefore = platform::d3d9::statistics(device)->refused;
        device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF000000u, 1.0f, 0);
        device->BeginScene();
        device->SetVertexDeclaration(declaration);
        device->SetStreamSource(0, quadBuffer, 0, sizeof(ScreenVertex));
        if (vertexIndex >= 0) shaderCore.selectVertexProgram(vertexIndex);
        if (pixelIndex >= 0) shaderCore.selectPixelProgram(pixelIndex);
        VertexData* transform = shaderCore.currentVertexProgram()->variables[VarWorldViewProjection];
        if (transform) transform->setMatrix(TransformAsIs, identityMatrix());
        shaderCore.prepareDraw();
        const HRESULT drawn = device->DrawPrimitive(D3DPT_TRIANGLESTRIP, 0, 2);
        device->EndScene();
        return SUCCEEDED(drawn) && platform::d3d9::statistics(device)->refused == refusedBefore;
    }

    testing_support::TempDir folder;
    testing_support::ScopedGameCore core{true};
    VideoCore video;
    testing_support::ScopedCoreMember<VideoCore> useVideo{gameCore.video, &video};
    DXStateCache cache;
    ShaderCore shaderCore;
    IDirect3DVertexDeclaration9* declaration = nullptr;
    IDirect3DVertexBuffer9* quadBuffer = nullptr;
};

TEST_F(ShaderGLTest, EveryStandaloneProgramCompilesAndLinks) {
    for (int i = 0; i < kStandaloneVertexPrograms; ++i) {
        ShaderProgram& program = shaderCore.vertexPrograms[i];
        if (!program.has(ShaderProgram::BodyLoaded)) continue;
        EXPECT_TRUE(program.createDeviceShader(device, &cache)) << program.name << "\n" << allLines();
    }
    for (int i = 0; i < kStandalonePixelPrograms; ++i) {
        ShaderProgram& program = shaderCore.pixelPrograms[i];
        if (!program.has(ShaderProgram::BodyLoaded)) continue;
        EXPECT_TRUE(program.createDeviceShader(device, &cache)) << program.name << "\n" << allLines();
        // The HDR programs pair with the HDR vertex program, the others
        // with the three-coordinate screen program.
        const int vertex = std::string(program.name).rfind("PS_HDR", 0) == 0 ? 6 : 22;
        EXPECT_TRUE(drawQuad(vertex, i)) << program.name << "\n" << allLines();
    }
}

TEST_F(ShaderGLTest, AScreenProgramDrawsItsColour) {
    shaderCore.selectVertexProgram(18);  // VS_OPSC: vertex colour x vColorMain
    const float colour[4] = {1.0f, 0.5f, 0.25f, 1.0f};
    shaderCore.currentVertexProgram()->variables[VarColorMain]->setFromPointer(colour);
    ASSERT_TRUE(drawQuad(18, 18)) << allLines();  // PS_OPS_C: the interpolated colour
    IDirect3DSurface9* back = nullptr;
    ASSERT_EQ(device->GetBackBuffer(0, 0, D3DBACKBUFFER_TYPE_MONO, &back), S_OK);
    std::vector<std::uint8_t> bytes;
    D3DSURFACE_DESC desc{};
    ASSERT_TRUE(platform::d3d9::readSurface(back, bytes, desc));
    back->Release();
    for (const auto& [x, y] : {std::pair{1, 1}, std::pair{32, 32}, std::pair{62, 62}}) {
        const std::uint8_t* p = &bytes[(std::size_t(y) * desc.Width + std::size_t(x)) * 4];
        EXPECT_NEAR(p[2], 255, 2) << x << "," << y;  // red
        EXPECT_NEAR(p[1], 128, 2) << x << "," << y;  // green
        EXPECT_NEAR(p[0], 64, 2) << x << "," << y;   // blue
    }
}

// The packer's fixed sample (every standalone program, each family walk's
// first, last and a spread between) compiles; `shaderpack --verify` does
// every program.
TEST_F(ShaderGLTest, TheVerificationSampleOfThePackageCompiles) {
    std::vector<PackageEntry> entries;
    std::string error;
    ASSERT_TRUE(readShaderPackage(platform::hostPath(core.paths().get(PathShaderCacheFile)), entries, error)) << error;
    const std::vector<std::string> keys = sampleShaderKeys(6);
    EXPECT_NE(std::find(keys.begin(), keys.end(), "vs_2_0vs-dyn20-"), keys.end());
    EXPECT_NE(std::find(keys.begin(), keys.end(), "ps_2_0ps-vd-vertexdebug"), keys.end());
    for (const std::string& key : keys) {
        const auto found =
            std::find_if(entries.begin(), entries.end(), [&](const PackageEntry& e) { return e.key == key; });
        ASSERT_NE(found, entries.end()) << key;
        EXPECT_TRUE(compileShaderEntry(device, *found)) << key << "\n" << allLines();
    }
}

// Family programs link with each other and draw.
TEST_F(ShaderGLTest, FamilyProgramsDraw) {
    const struct {
        MultyShader* family;
        std::vector<std::pair<FamilyDefine, int>> values;
    } cases[] = {
        {&shaderCore.dynamic20, {{DefineAmbient, 1}}},
        {&shaderCore.dynamic20,
         {{DefineBones, 2}, {DefineLight, 1}, {DefineSpecular, 2}, {DefineNormalmap, 1}, {DefineLmode, 2}}},
        {&shaderCore.dynamic20, {{DefineTerrain, 2}, {DefineEnvmap, 4}, {DefineAmbient, 3}, {DefineWave, 2}}},
        {&shaderCore.dynamic20, {{DefineDepth, 1}, {DefineAmbient, 1}}},
        {&shaderCore.water20, {{DefineWater, 2}, {DefineLight, 2}, {DefineSpecular, 1}, {DefineLmode, 1}}},
        {&shaderCore.waterNorm20, {{DefineWater, 1}, {DefineAmbient, 4}}},
        {&shaderCore.particle20, {{DefineAlign, 2}}},
        {&shaderCore.vertexDebug, {{DefineBones, 1}, {DefineVertexDebug, 3}}},
    };
    for (const auto& c : cases) {
        for (int d = 0; d < kFamilyDefineCount; ++d) c.family->set(FamilyDefine(d), 0);
        for (const auto& [define, value] : c.values) c.family->set(define, value);
        shaderCore.selectFamilyPrograms(*c.family);
        ASSERT_NE(shaderCore.currentVertexProgram(), nullptr);
        ASSERT_NE(shaderCore.currentPixelProgram(), nullptr);
        const std::string names =
            std::string(shaderCore.currentVertexProgram()->name) + " " + shaderCore.currentPixelProgram()->name;
        EXPECT_TRUE(drawQuad(-1, -1)) << names << "\n" << allLines();
    }
}

}  // namespace
