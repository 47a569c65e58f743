#include "render/states/DXStateCache.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "foundation/Log.h"
#include "platform/D3D9TestSupport.h"
#include "support/TestSupport.h"

namespace {

class DXStateCacheTest : public d3d9_test::D3D9Test {
protected:
    void SetUp() override {
        environment.callLog = calls;
        D3D9Test::SetUp();
        open();
        cache.setDevice(device);
        cache.initialize(false);
        ASSERT_TRUE(cache.setupDeviceDefaults(false));
        calls->lines.clear();
    }

    std::size_t count(const std::string& prefix) const {
        return std::size_t(std::count_if(calls->lines.begin(), calls->lines.end(),
                                         [&](const std::string& line) { return line.rfind(prefix, 0) == 0; }));
    }
    DWORD renderState(D3DRENDERSTATETYPE state) {
        DWORD value = 0;
        EXPECT_EQ(device->GetRenderState(state, &value), S_OK);
        return value;
    }
    DWORD samplerState(DWORD sampler, D3DSAMPLERSTATETYPE state) {
        DWORD value = 0;
        EXPECT_EQ(device->GetSamplerState(sampler, state, &value), S_OK);
        return value;
    }
    DWORD stageState(DWORD stage, D3DTEXTURESTAGESTATETYPE state) {
        DWORD value = 0;
        EXPECT_EQ(device->GetTextureStageState(stage, state, &value), S_OK);
        return value;
    }

    std::shared_ptr<platform::d3d9::CallLog> calls = std::make_shared<platform::d3d9::CallLog>();
    testing_support::ScopedGameCore core;
    DXStateCache cache;
};

TEST_F(DXStateCacheTest, EqualValuesSendNothingAndChangesSendOnlyThemselves) {
    // Every block written with the values it already holds.
    cache.setRender(DXStateCache::RsZFunc, D3DCMP_LESSEQUAL);
    cache.setSampler(0, DXStateCache::SamplerMagFilter, D3DTEXF_LINEAR);
    cache.setStage(2, DXStateCache::StageColorOp, D3DTOP_DISABLE);
    cache.setTransform(DXStateCache::TransformWorld, identityMatrix());
    cache.setMaterial(cache.materialCurrent);
    cache.setDeclaration(DXStateCache::kNoDeclaration);
    cache.apply();
    EXPECT_TRUE(calls->lines.empty()) << calls->lines.front();

    cache.setRender(DXStateCache::RsAlphaBlendEnable, 1);
    cache.setSampler(5, DXStateCache::SamplerAddressU, D3DTADDRESS_CLAMP);
    D3DMATRIX world = identityMatrix();
    world.m[3][0] = 2.0f;
    cache.setTransform(DXStateCache::TransformWorld, world);
    cache.apply();
    EXPECT_EQ(calls->lines, (std::vector<std::string>{"SetSamplerState(5, 1, 3)", "SetRenderState(27, 1)",
                                                      "SetTransform(256)"}));
    calls->lines.clear();
    cache.apply();
    EXPECT_TRUE(calls->lines.empty());
}

TEST_F(DXStateCacheTest, InvalidateResendsEverySamplerStageAndRenderState) {
    cache.invalidate();
    cache.apply();
    EXPECT_EQ(count("SetSamplerState("), 16u * 10u);
    EXPECT_EQ(count("SetTextureStageState("), 8u * 12u);  // stages 8-15 are never sent
    // BLENDFACTOR wants 0xFFFFFFFF, the very value that marks a stale column.
    EXPECT_EQ(count("SetRenderState("), 37u);
    calls->lines.clear();
    cache.apply();
    EXPECT_TRUE(calls->lines.empty());
}

// A sampler set on the device behind the cache (the post-processing quad
// does so) is forgotten: its wanted values go out again, the other
// samplers stay quiet.
TEST_F(DXStateCacheTest, AForgottenSamplerIsSentAgain) {
    device->SetSamplerState(1, D3DSAMP_MINFILTER, D3DTEXF_POINT);
    cache.forgetSampler(1);
    cache.forgetSampler(DXStateCache::kSamplers);  // out of range: nothing
    calls->lines.clear();
    cache.apply();
    EXPECT_EQ(count("SetSamplerState("), 10u);
    EXPECT_EQ(samplerState(1, D3DSAMP_MINFILTER), static_cast<DWORD>(D3DTEXF_LINEAR));
    calls->lines.clear();
    cache.apply();
    EXPECT_TRUE(calls->lines.empty());
}

TEST_F(DXStateCacheTest, DeviceDefaultsGiveTheKnownState) {
    EXPECT_EQ(platform::d3d9::statistics(device)->refused, 0u) << allLines();
    EXPECT_EQ(renderState(D3DRS_ZENABLE), 1u);
    EXPECT_EQ(renderState(D3DRS_CULLMODE), D3DCULL_CCW);
    EXPECT_EQ(renderState(D3DRS_ZFUNC), D3DCMP_LESSEQUAL);
    EXPECT_EQ(renderState(D3DRS_ALPHAFUNC), D3DCMP_ALWAYS);
    EXPECT_EQ(renderState(D3DRS_SRCBLEND), D3DBLEND_ONE);
    EXPECT_EQ(renderState(D3DRS_FOGSTART), 100u);
    EXPECT_EQ(renderState(D3DRS_COLORWRITEENABLE), 0xFu);
    EXPECT_EQ(renderState(D3DRS_BLENDFACTOR), 0xFFFFFFFFu);
    EXPECT_EQ(renderState(D3DRS_LASTPIXEL), 1u);
    EXPECT_EQ(renderState(D3DRS_DITHERENABLE), 1u);
    EXPECT_EQ(renderState(D3DRS_AMBIENTMATERIALSOURCE), D3DMCS_COLOR1);
    EXPECT_EQ(renderState(D3DRS_MULTISAMPLEANTIALIAS), 0u);
    for (DWORD s = 0; s < 8; ++s) {
        EXPECT_EQ(samplerState(s, D3DSAMP_MINFILTER), D3DTEXF_LINEAR) << s;
        EXPECT_EQ(samplerState(s, D3DSAMP_DMAPOFFSET), 256u) << s;
        EXPECT_EQ(stageState(s, D3DTSS_COLOROP), D3DTOP_DISABLE) << s;
        EXPECT_EQ(stageState(s, D3DTSS_RESULTARG), D3DTA_CURRENT) << s;
        EXPECT_EQ(stageState(s, D3DTSS_TEXCOORDINDEX), 0u) << s;
    }
    // Samplers 8-15 keep the point filter of the first set-up.
    EXPECT_EQ(cache.samplerCurrent[9][DXStateCache::SamplerMinFilter], D3DTEXF_POINT);
    EXPECT_EQ(cache.materialCurrent.Diffuse.r, 1.0f);
    EXPECT_EQ(cache.materialCurrent.Specular.a, 0.0f);
    EXPECT_EQ(cache.declarationCurrent, DXStateCache::kNoDeclaration);

    DXStateCache detached;
    EXPECT_FALSE(detached.setupDeviceDefaults(true));
}

TEST_F(DXStateCacheTest, ShadersOwnTheirTextureCoordinates) {
    IDirect3DVertexShader9* shader = createTestVertexShader();
    ASSERT_NE(shader, nullptr);

    cache.setVertexShader(shader);
    cache.setStage(3, DXStateCache::StageTexCoordIndex, 0);
    cache.setStage(3, DXStateCache::StageTextureTransformFlags, D3DTTFF_COUNT2);
    cache.apply();
    EXPECT_EQ(stageState(3, D3DTSS_TEXCOORDINDEX), 3u);
    EXPECT_EQ(stageState(3, D3DTSS_TEXTURETRANSFORMFLAGS), 0u);

    // On the fixed pipeline the desired values go through.
    cache.setVertexShader(nullptr);
    cache.setStage(3, DXStateCache::StageTexCoordIndex, 0);
    cache.apply();
    EXPECT_EQ(stageState(3, D3DTSS_TEXCOORDINDEX), 0u);
    shader->Release();
}

class BrokenDeclarations : public VertexDeclarationTable {
public:
    explicit BrokenDeclarations(IDirect3DVertexDeclaration9* foreign) : foreign_(foreign) {}
    IDirect3DVertexDeclaration9* declaration(std::uint32_t) override { return foreign_; }
    const char* declarationName(std::uint32_t index) override { return index == 1 ? "D+Weights" : "?"; }

private:
    IDirect3DVertexDeclaration9* foreign_;
};

TEST_F(DXStateCacheTest, RefusedLightsAndDeclarationsAreHandled) {
    // A light the device refuses keeps its enable state for that apply.
    D3DLIGHT9 light{};
    light.Type = D3DLIGHT_POINT;
    light.Range = -1.0f;
    cache.setLight(2, light);
    cache.enableLight(2, true);
    cache.apply();
    EXPECT_EQ(count("LightEnable("), 0u);
    EXPECT_EQ(cache.lightEnableCurrent[2], 0u);

    // A declaration of another device is refused: the format is named and
    // the cache keeps the new index.
    IDirect3DDevice9* other = createDevice();
    const D3DVERTEXELEMENT9 elements[] = {{0, 0, D3DDECLTYPE_FLOAT3, 0, D3DDECLUSAGE_POSITION, 0}, D3DDECL_END()};
    IDirect3DVertexDeclaration9* foreign = nullptr;
    ASSERT_EQ(other->CreateVertexDeclaration(elements, &foreign), S_OK);
    BrokenDeclarations table(foreign);
    cache.setDeclarations(&table);
    cache.setDeclaration(1);
    cache.apply();
    EXPECT_TRUE(core.log().contains("Can't set vertex stream declaration [D+Weights]"));
    EXPECT_EQ(cache.declarationCurrent, 1u);
    foreign->Release();
    other->Release();
}

}  // namespace
