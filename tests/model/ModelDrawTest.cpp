#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <vector>

#include "support/LightFixture.h"
#include "effects/Light.h"
#include "effects/ShadowRecord.h"
#include "model/Model.h"
#include "model/ModelElement.h"
#include "model/SkySceneSupport.h"
#include "render/Material.h"
#include "render/ShaderPackageSupport.h"
#include "render/TextureTestSupport.h"
#include "render/VideoCore.h"
#include "scene/CameraCore.h"
#include "scene/ObjectRepository.h"
#include "scene/Scene.h"

namespace {

// Two directional test lights, along z and along x, in an element's light
// list, with the object repository they live in.
struct TwoTestLights {
    explicit TwoTestLights(ModelElement& element) {
        for (const auto* light : {&first, &second})
            element.lights.push_back(GameObjectLink::fromObject((*light)->light.get()));
    }
    ObjectRepository objects;
    testing_support::ScopedCoreMember<ObjectRepository> useObjects{gameCore.objects, &objects};
    std::unique_ptr<testing_support::TestLight> first =
        testing_support::makeTestLight("along_z", 1, {1.0f, 1.0f, 1.0f});
    std::unique_ptr<testing_support::TestLight> second =
        testing_support::makeTestLight("along_x", 1, {1.0f, 1.0f, 1.0f}, {1.0f, 0.0f, 0.0f});
};


// One element over a material of a given kind ("wood" with the light map
// "wood_lm") on the null device, drawn through the render core's cache.
class ModelDrawTest : public texture_test::TextureTest {
protected:
    void SetUp() override {
        TextureTest::SetUp();
        attachStateCache();
        addDds("wood");
        addDds("wood_lm");
        env().setup.details = 0;
        Model::mutableSettings() = ModelSettings();
    }
    void TearDown() override {
        Model::mutableSettings() = ModelSettings();
        material.release();
        render_->releaseBuiltinTextures();
        TextureTest::TearDown();
    }
    void makeElement(std::uint32_t kind, float opacity = 1.0f) {
        MaterialData data;
        data.head.kind = kind;
        data.links[0].init("wood");
        data.links[1].init("wood_lm");
        material.release();
        material.setupFromData(data);
        material.allocate();
        material.colours[0][0] = 1.0f;
        material.colours[0][1] = 0.5f;
        material.colours[0][2] = 0.0f;
        material.setOpacity(opacity);
        element.lods.clear();
        element.lods.emplace_back().material = &material;
        element.world = identityMatrix();
    }
    DXStateCache& cache() { return render_->stateCache(); }
    std::uint32_t stage(int s, DXStateCache::StageColumn c) { return cache().stageDesired[s][c]; }
    void addWaterFrames(int count) {
        for (int frame = 0; frame < count; ++frame) {
            char name[32];
            std::snprintf(name, sizeof(name), "water_ls_x%04i", frame);
            addDds(name);
        }
    }

    Material material;
    ModelElement element;
};

TEST_F(ModelDrawTest, FixedFunctionKindsWithoutAPathDrawNothing) {
    struct Case {
        std::uint32_t kind;
        bool draws;
    };
    for (const Case c : {Case{0, true}, {3, true}, {6, true}, {9, true}, {16, false}, {17, false}, {33, false},
                         {62, false}, {21, true}, {32, true}}) {
        makeElement(c.kind);
        element.drawCount = 0;
        EXPECT_EQ(Model::drawElement(element), c.draws) << c.kind;
        EXPECT_EQ(element.drawCount, c.draws ? 1 : 0) << c.kind;
    }
}

// The fixed-function main pass applies the element's lights in list order,
// counting only live, enabled ones, up to "max_ffp_model_lights"; the other
// units are switched off.
TEST_F(ModelDrawTest, TheFixedPassAppliesAtMostTheSettingsLights) {
    ObjectRepository objects;
    testing_support::ScopedCoreMember<ObjectRepository> useObjects(gameCore.objects, &objects);
    std::vector<std::unique_ptr<testing_support::TestLight>> lights;
    struct Case {
        const char* what;
        std::int32_t limit;
        std::int32_t off;   // a light switched off, -1 none
        std::int32_t gone;  // a light deleted, -1 none
        std::vector<int> applied;  // the lights on units 0, 1, ...
    };
    const Case cases[] = {
        {"six lights, four applied", 4, -1, -1, {0, 1, 2, 3}},
        {"one switched off", 4, 1, -1, {0, 2, 3, 4}},
        {"one gone", 4, -1, 2, {0, 1, 3, 4}},
        {"a lower limit", 2, -1, -1, {0, 1}},
    };
    for (const Case& c : cases) {
        makeElement(6);
        Model::mutableSettings().maxFfpModelLights = c.limit;
        lights.clear();
        for (int i = 0; i < 6; ++i) {
            auto& light =
                lights.emplace_back(testing_support::makeTestLight("lamp", 1, {float(i + 1) * 0.1f, 0.0f, 0.0f}));
            element.lights.push_back(GameObjectLink::fromObject(light->light.get()));
        }
        if (c.off >= 0) lights[std::size_t(c.off)]->light->flags &= ~kLightEnabled;
        if (c.gone >= 0) lights[std::size_t(c.gone)].reset();
        for (int unit = 0; unit < DXStateCache::kLights; ++unit) cache().enableLight(unit, true);
        ASSERT_TRUE(Model::prepareElementFixedPass(element, -1, true)) << c.what;
        for (int unit = 0; unit < DXStateCache::kLights; ++unit) {
            const bool on = unit < static_cast<int>(c.applied.size());
            EXPECT_EQ(cache().lightEnableDesired[unit], on ? 1 : 0) << c.what << " unit " << unit;
            if (on) {
                // At half of "fpp_diffuse_mult" (1.5), as the stages
                // double the lit colour.
                const float red = float(c.applied[std::size_t(unit)] + 1) * 0.1f * 0.75f;
                EXPECT_FLOAT_EQ(cache().lightDesired[unit].Diffuse.r, red) << c.what << " unit " << unit;
            }
        }
        EXPECT_EQ(cache().renderDesired[DXStateCache::RsLighting], 1u) << c.what;
        element.lights.clear();
    }
    // Unlit: every unit off, lighting off.
    ASSERT_TRUE(Model::prepareElementFixedPass(element, -1, false));
    for (int unit = 0; unit < DXStateCache::kLights; ++unit) EXPECT_EQ(cache().lightEnableDesired[unit], 0);
    EXPECT_EQ(cache().renderDesired[DXStateCache::RsLighting], 0u);
}

TEST_F(ModelDrawTest, OpacityZeroLeavesTheCacheAlone) {
    makeElement(0);
    material.colours[0][3] = 0.0f;
    std::memset(cache().stageDirty, 0, sizeof(cache().stageDirty));
    const std::uint32_t factor = cache().renderDesired[DXStateCache::RsTextureFactor];
    EXPECT_FALSE(Model::drawElement(element));
    for (int s = 0; s < DXStateCache::kStages; ++s) EXPECT_EQ(cache().stageDirty[s], 0) << s;
    EXPECT_EQ(cache().renderDesired[DXStateCache::RsTextureFactor], factor);
    EXPECT_EQ(element.drawCount, 0);
}

TEST_F(ModelDrawTest, KindZeroStageSnapshot) {
    makeElement(0, 1.5f);  // the opacity is capped at 1 in the factor
    ASSERT_TRUE(Model::drawElement(element));
    using C = DXStateCache;
    const std::uint32_t expected[3][8] = {
        {D3DTOP_MODULATE, D3DTA_TEXTURE, D3DTA_TFACTOR, D3DTOP_MODULATE, D3DTA_TEXTURE, D3DTA_TFACTOR, 0,
         D3DTA_CURRENT},
        {D3DTOP_MODULATE2X, D3DTA_TEXTURE, D3DTA_CURRENT, D3DTOP_SELECTARG1, D3DTA_CURRENT, 0, 1, D3DTA_CURRENT},
        {D3DTOP_DISABLE, 0, 0, D3DTOP_DISABLE, 0, 0, 0, D3DTA_CURRENT},
    };
    const C::StageColumn columns[8] = {C::StageColorOp,       C::StageColorArg1, C::StageColorArg2,
                                       C::StageAlphaOp,       C::StageAlphaArg1, C::StageAlphaArg2,
                                       C::StageTexCoordIndex, C::StageResultArg};
    for (int s = 0; s < 3; ++s)
        for (int c = 0; c < 8; ++c) {
            // Arguments of a disabled or SELECTARG1 unit are free.
            if ((s == 2 && c != 0 && c != 3 && c < 6) || (s == 1 && c == 5)) continue;
            EXPECT_EQ(stage(s, columns[c]), expected[s][c]) << "stage " << s << " column " << c;
        }
    EXPECT_EQ(stage(0, C::StageTextureTransformFlags), 0u);
    EXPECT_EQ(cache().renderDesired[C::RsTextureFactor], 0xFFFF8000u);
    EXPECT_EQ(cache().renderDesired[C::RsAmbient], 0u);
    EXPECT_EQ(cache().renderDesired[C::RsFillMode], std::uint32_t(D3DFILL_SOLID));
    EXPECT_EQ(cache().renderDesired[C::RsColorVertex], 0u);
    // The textures reached the device on stages 0 and 1.
    IDirect3DBaseTexture9* bound = nullptr;
    device->GetTexture(1, &bound);
    EXPECT_EQ(bound, material.textures[Material::SlotLightmap].handler()->texture);
    if (bound) bound->Release();
}

TEST_F(ModelDrawTest, LitPathsWithoutALightFallBack) {
    // Kind 9 without a light draws exactly as kind 0, kind 6 as kind 3.
    for (auto [lit, plain] : {std::pair<std::uint32_t, std::uint32_t>{9, 0}, {6, 3}}) {
        std::memset(cache().stageDesired, 0, sizeof(cache().stageDesired));
        makeElement(plain);
        Model::drawElementKind(element, -1);
        std::uint32_t stages[4][DXStateCache::kStageColumns];
        std::memcpy(stages, cache().stageDesired, sizeof(stages));
        std::uint32_t render[DXStateCache::kRenderColumns];
        std::memcpy(render, cache().renderDesired, sizeof(render));
        std::memset(cache().stageDesired, 0, sizeof(cache().stageDesired));
        makeElement(lit);
        Model::drawElementKind(element, -1);
        EXPECT_EQ(std::memcmp(stages, cache().stageDesired, sizeof(stages)), 0) << lit;
        EXPECT_EQ(std::memcmp(render, cache().renderDesired, sizeof(render)), 0) << lit;
    }
}

TEST_F(ModelDrawTest, WaterFactorAlphaStaysInTheBlendRange) {
    makeElement(26);
    material.colours[3][0] = material.colours[3][1] = material.colours[3][2] = 1.0f;
    std::uint32_t low = 255, high = 0;
    // The blend wave sin(4 t) peaks at t = pi / 8 and bottoms at 3 pi / 8.
    constexpr double kEighthPi = 0.39269908169872414;
    for (int step = 0; step < 404; ++step) {
        env().clock = step < 400 ? step * 0.01 : kEighthPi * (step - 400) * 2.0 + kEighthPi;
        ASSERT_TRUE(Model::drawElement(element));
        const std::uint32_t alpha = cache().renderDesired[DXStateCache::RsTextureFactor] >> 24;
        low = std::min(low, alpha);
        high = std::max(high, alpha);
    }
    EXPECT_EQ(low, 102u);
    EXPECT_EQ(high, 153u);
    EXPECT_EQ(cache().renderDesired[DXStateCache::RsTextureFactor] & 0xFFFFFF, 0xFF7F00u);  // (1, 0.5, 0) x 255, truncated
    EXPECT_EQ(stage(1, DXStateCache::StageColorOp), std::uint32_t(D3DTOP_BLENDFACTORALPHA));
    EXPECT_EQ(stage(5, DXStateCache::StageColorOp), std::uint32_t(D3DTOP_DISABLE));
    EXPECT_EQ(render_->shaders().pass.blendMode, 2);
}

TEST_F(ModelDrawTest, WaterLayerFrameFollowsTheEngineTime) {
    addWaterFrames(8);
    env().clock = 10.0;
    ASSERT_TRUE(Model::bindWaterLayerFrame(2));
    TextureLink* layer = render_->builtinTextures.find("water_ls_x");
    EXPECT_EQ(layer->currentFrame, 2);  // trunc(4 x 2 x 0.3 + 4 x 10) mod 8
    EXPECT_EQ(render_->shaders().pass.textures[2], layer->frameHandler(2)->texture);  // sent with the draw
    ASSERT_TRUE(Model::bindWaterLayerFrame(0));
    EXPECT_EQ(layer->currentFrame, 0);  // 40 mod 8
}

TEST_F(ModelDrawTest, WaterWithoutLayerTexturesFallsBackToTheDiffuseMap) {
    // The layer link is enabled but its series is missing from the packages.
    makeElement(27);
    EXPECT_FALSE(Model::bindWaterLayerFrame(0));
    ASSERT_TRUE(Model::drawElement(element));
    for (DWORD s = 0; s < 3; ++s) {
        IDirect3DBaseTexture9* bound = nullptr;
        device->GetTexture(s, &bound);
        EXPECT_EQ(bound, material.textures[Material::SlotDiffuse].handler()->texture) << s;
        if (bound) bound->Release();
    }
}

TEST_F(ModelDrawTest, AMaterialSwitchedOffDrawsNothingOnTheFixedPaths) {
    for (std::uint32_t kind : {0u, 3u, 6u, 9u, 26u}) {
        makeElement(kind, 0.0f);
        element.drawCount = 0;
        EXPECT_FALSE(Model::drawElement(element)) << kind;
        EXPECT_EQ(element.drawCount, 0) << kind;
        // Switched on again, it draws.
        material.setOpacity(1.0f);
        EXPECT_TRUE(Model::drawElement(element)) << kind;
        EXPECT_EQ(element.drawCount, 1) << kind;
    }
}

TEST_F(ModelDrawTest, WaterWithBothPassesOffSetsUpAndDrawsNothing) {
    makeElement(28);
    Model::mutableSettings().ffpDisableWaterAmbient = true;
    Model::mutableSettings().ffpDisableWaterLightpass = true;
    EXPECT_FALSE(Model::drawElement(element));
    EXPECT_EQ(element.drawCount, 0);
    EXPECT_EQ(stage(4, DXStateCache::StageColorArg1), std::uint32_t(D3DTA_TFACTOR));
}

}  // namespace

namespace {

TEST_F(ModelDrawTest, ShaderPathsFillTheFamilySetups) {
    // No shader package is loaded: the setups are filled, no program is
    // found, and the failure is reported without a draw.
    env().setup.details = 1;
    makeElement(17);
    material.flags |= Material::FlagSpecular;
    EXPECT_FALSE(Model::drawElement(element));
    EXPECT_EQ(element.drawCount, 0);
    const MultyShaderDynamic20::Setup& d = render_->shaders().dynamic20.values;
    EXPECT_EQ(d.ambient, 3);  // the light map is in place
    EXPECT_EQ(d.light, 0);
    EXPECT_EQ(d.specular, 0);  // the kind-16 path draws unlit
    EXPECT_EQ(d.depth, 0);

    struct Case {
        std::int32_t water, reflection, ambient;
        std::int32_t family;  // 0 WaterNorm20, 1 Water20, -1 nothing selected
    };
    // No mirror pass drew the mirror: with the reflection on as well, the
    // water takes the sky's term (ambient 4).
    for (const Case c : {Case{1, 1, 4, 0}, {1, 0, 4, 0}, {2, 1, 4, 1}, {3, 1, -1, -1}}) {
        makeElement(27);
        env().setup.water = c.water;
        env().setup.waterReflection = c.reflection;
        render_->shaders().waterNorm20.values.ambient = -1;
        render_->shaders().water20.values.ambient = -1;
        EXPECT_FALSE(Model::drawElementKind(element, -1));
        const std::int32_t norm = render_->shaders().waterNorm20.values.ambient;
        const std::int32_t plain = render_->shaders().water20.values.ambient;
        EXPECT_EQ(c.family == 0 ? norm : plain, c.ambient) << c.water << " " << c.reflection;
        const std::int32_t water = c.family == 0 ? render_->shaders().waterNorm20.values.water
                                                 : render_->shaders().water20.values.water;
        if (c.family >= 0) {
            EXPECT_EQ(water, 0);  // kind 27
        }
    }
}

// The unlit water pass with the shader package loaded: the water pixel
// programs take "sSpecularMap" (stage 2) and, for the sky, "sCubeMap"
// (stage 3); a debug scene with its sky is the current scene.
class ModelDrawWaterTest : public ModelDrawTest {
protected:
    static constexpr DWORD kSpecularStage = 2;
    static constexpr DWORD kCubeStage = 3;

    void SetUp() override {
        ModelDrawTest::SetUp();
        gameCore.paths = &paths;
        gameCore.video = &video;
        ASSERT_TRUE(testing_support::installShaderPackage(paths, folder));
        ASSERT_TRUE(render_->shaders().initialize());
        addDds("sky_fog");
        library().allocated = true;  // handlers load their textures when attached
        ASSERT_TRUE(sky.open(SkyFog));
        env().setup.details = 1;
        env().setup.water = 1;  // the WaterNorm20 family
        makeElement(27);
    }
    void TearDown() override {
        sky.close();
        render_->shaders().release();
        ModelDrawTest::TearDown();
    }
    IDirect3DBaseTexture9* boundTexture(DWORD stage) {
        IDirect3DBaseTexture9* bound = nullptr;
        device->GetTexture(stage, &bound);
        if (bound) bound->Release();
        return bound;
    }
    void clearStages() {
        device->SetTexture(kSpecularStage, nullptr);
        device->SetTexture(kCubeStage, nullptr);
    }
    IDirect3DBaseTexture9* skyTexture() { return sky.scene->sky->currentLayer().handler()->texture; }

    testing_support::TempDir folder;
    AppPaths paths;
    VideoCore video;
    testing_support::CurrentSkyScene sky;
};

TEST_F(ModelDrawWaterTest, WithoutReflectionTheUnlitPassMirrorsTheSkyLayer) {
    env().setup.waterReflection = 0;
    clearStages();
    ASSERT_TRUE(Model::drawElementKind(element, -1));
    EXPECT_EQ(render_->shaders().waterNorm20.values.ambient, 4);
    ASSERT_NE(skyTexture(), nullptr);
    EXPECT_EQ(boundTexture(kSpecularStage), skyTexture());
    EXPECT_EQ(boundTexture(kCubeStage), skyTexture());

    // Without a current scene nothing takes the sky's place.
    sky.game->currentIndex = -1;
    clearStages();
    ASSERT_TRUE(Model::drawElementKind(element, -1));
    EXPECT_EQ(boundTexture(kSpecularStage), nullptr);
    EXPECT_EQ(boundTexture(kCubeStage), nullptr);
}

// Water lit by two lights: the unlit water is drawn once beneath them and
// each light's pass adds over it (blend mode 7: source alpha, one).
TEST_F(ModelDrawWaterTest, LitWaterDrawsItsUnlitPassBeneathTheLightsPasses) {
    ASSERT_TRUE(material.flags & Material::FlagLitPerLight);
    const TwoTestLights lights(element);
    element.drawCount = 0;
    EXPECT_TRUE(Model::drawElement(element));
    EXPECT_EQ(element.drawCount, 3);
    EXPECT_EQ(render_->shaders().waterNorm20.values.ambient, 0);
    DWORD source = 0, destination = 0;
    device->GetRenderState(D3DRS_SRCBLEND, &source);
    device->GetRenderState(D3DRS_DESTBLEND, &destination);
    EXPECT_EQ(source, DWORD(D3DBLEND_SRCALPHA));
    EXPECT_EQ(destination, DWORD(D3DBLEND_ONE));
}

TEST_F(ModelDrawWaterTest, TheEyeReachesTheProgramInTheElementsSpace) {
    // The camera stands at (1, 2, 3), the element one unit along x: the
    // eye is (0, 2, 3) to the element (vObjectSpaceEyePos, register 4).
    D3DMATRIX camera = identityMatrix();
    camera.m[3][0] = 1.0f, camera.m[3][1] = 2.0f, camera.m[3][2] = 3.0f;
    render_->shaders().frame.viewInverse = camera;
    element.world.m[3][0] = 1.0f;
    ASSERT_TRUE(Model::drawElementKind(element, -1));
    float eye[4] = {};
    device->GetVertexShaderConstantF(4, eye, 1);
    EXPECT_FLOAT_EQ(eye[0], 0.0f);
    EXPECT_FLOAT_EQ(eye[1], 2.0f);
    EXPECT_FLOAT_EQ(eye[2], 3.0f);
}

// The element paths with the shader package loaded and a current scene.
class ModelDrawShaderTest : public ModelDrawWaterTest {
protected:
    // An element over a material of the kind with the diffuse texture and
    // the other three stored links (empty: none).
    void makeMaterial(std::uint32_t kind, const char* diffuse, const char* lightMap, const char* environment = "",
                      const char* terrain = "") {
        MaterialData data;
        data.head.kind = kind;
        const char* names[4] = {diffuse, lightMap, environment, terrain};
        for (int i = 0; i < 4; ++i)
            if (*names[i]) data.links[i].init(names[i]);
        material.release();
        material.setupFromData(data);
        material.allocate();
        element.lods.clear();
        element.lods.emplace_back().material = &material;
        element.world = identityMatrix();
        element.drawCount = 0;
    }
    ShaderProgram* program(bool pixel) {
        return pixel ? render_->shaders().currentPixelProgram() : render_->shaders().currentVertexProgram();
    }
    // The first register of a sampler of the current pixel program.
    DWORD samplerStage(int slot) {
        VertexData* sampler = program(true)->variables[slot];
        EXPECT_NE(sampler, nullptr) << slot;
        return sampler ? DWORD(sampler->registers[0]) : 99;
    }
    void vertexConstant(UINT index, float (&out)[4]) { device->GetVertexShaderConstantF(index, out, 1); }
};

TEST_F(ModelDrawShaderTest, MaterialSlotsGoToTheRegistersOfTheProgramsSamplers) {
    // Light-mapped (AMBIENT 3): the light map goes where the program's
    // "sLightMap" reads, not to the sampler variable's index (1).
    makeMaterial(0, "wood", "wood_lm");
    for (DWORD stage = 0; stage < 4; ++stage) device->SetTexture(stage, nullptr);
    ASSERT_TRUE(Model::drawElementKind(element, -1));
    ASSERT_EQ(render_->shaders().dynamic20.values.ambient, 3);
    const DWORD lightMapStage = samplerStage(VarLightMap);
    EXPECT_NE(lightMapStage, DWORD(VarLightMap));
    EXPECT_EQ(boundTexture(lightMapStage), material.textures[Material::SlotLightmap].handler()->texture);
    EXPECT_EQ(boundTexture(samplerStage(VarDiffuseMap)), material.textures[Material::SlotDiffuse].handler()->texture);
    // A slot whose sampler the program lacks is bound nowhere.
    EXPECT_EQ(program(true)->variables[2], nullptr);  // no "sNormalMap" without a normal map
    for (DWORD stage = 0; stage < 4; ++stage)
        if (stage != lightMapStage && stage != samplerStage(VarDiffuseMap))
            EXPECT_EQ(boundTexture(stage), nullptr) << stage;
}

TEST_F(ModelDrawShaderTest, MaterialsSwitchedOffDrawNothing) {
    ShadowRecord record;
    record.projection = identityMatrix();
    for (std::uint32_t kind : {0u, 16u, 62u, 27u}) {
        makeElement(kind, 0.0f);
        element.drawCount = 0;
        EXPECT_FALSE(Model::drawElement(element)) << kind;
        Model::drawElementShadowCasterPass(element, record);
        EXPECT_EQ(element.drawCount, 0) << kind;
        // Switched on again, it draws.
        material.setOpacity(1.0f);
        EXPECT_TRUE(Model::drawElement(element)) << kind;
        EXPECT_EQ(element.drawCount, 1) << kind;
    }
}

// The element's caster draw goes through the caster path for an enabled
// element only; the receiver draw needs a receiving element of a model.
TEST_F(ModelDrawShaderTest, ShadowDrawsOfAnElementFollowItsBits) {
    ShadowRecord record;
    record.projection = identityMatrix();
    makeElement(3);
    struct Case {
        std::uint32_t flags;
        bool caster;
    };
    for (const Case c : {Case{0, false}, {kElementEnabled, true}, {kElementEnabled | kElementShadowReceiver, true}}) {
        element.flags = c.flags;
        element.drawCount = 0;
        EXPECT_EQ(element.drawShadowCaster(record), c.caster) << c.flags;
        EXPECT_EQ(element.drawCount, c.caster ? 1 : 0) << c.flags;
        element.drawCount = 0;
        EXPECT_FALSE(element.drawShadowReceiver(record)) << c.flags;  // no model
        EXPECT_EQ(element.drawCount, 0) << c.flags;
    }
}

TEST_F(ModelDrawShaderTest, WavesAndStripsReachTheCurrentVertexProgram) {
    // Two materials of the same permutation (WAVE 1) in turn: each draw
    // leaves its own first wave (registers 12 and 13) and strip (254), not
    // the other's.
    addDds("fire#h8x12");
    env().clock = 2.0;
    struct Case {
        const char* diffuse;
        float wave[7];
        float strip[4];
    };
    const float offset = (12.0f * 2.0f / 8.0f) / 8.0f;
    const Case cases[] = {{"fire#h8x12", {1, 0, 0, 2, 3, 4, 5}, {1, 1, offset, 0}},
                          {"wood", {0, 0, 1, 6, 7, 8, 9}, {1, 1, 0, 0}},
                          {"fire#h8x12", {0.5f, 0.5f, 0, 1, 1, 1, 1}, {1, 1, offset, 0}}};
    for (const Case& c : cases) {
        makeMaterial(3, c.diffuse, "");
        std::copy(c.wave, c.wave + 7, material.waves[0]);
        ASSERT_TRUE(Model::drawElementKind(element, -1)) << c.diffuse;
        ASSERT_EQ(render_->shaders().dynamic20.values.wave, 1);
        float direction[4], values[4], strip[4];
        vertexConstant(12, direction);
        vertexConstant(13, values);
        vertexConstant(254, strip);
        for (int i = 0; i < 3; ++i) EXPECT_FLOAT_EQ(direction[i], c.wave[i]) << c.diffuse;
        EXPECT_FLOAT_EQ(direction[3], 0.0f);
        for (int i = 0; i < 4; ++i) EXPECT_FLOAT_EQ(values[i], c.wave[3 + i]) << c.diffuse;
        for (int i = 0; i < 4; ++i) EXPECT_FLOAT_EQ(strip[i], c.strip[i]) << c.diffuse << " " << i;
    }
}

TEST_F(ModelDrawShaderTest, LitPassesThatAllFailFallBackToTheUnlitDraw) {
    // Terrain with an environment map has no lit permutation: the light's
    // pass fails, and the element is drawn once unlit.
    addDds("wood_env");
    addDds("wood_t");
    makeMaterial(23, "wood", "", "wood_env", "wood_t");
    ASSERT_TRUE(material.flags & Material::FlagLitPerLight);
    ObjectRepository objects;
    testing_support::ScopedCoreMember<ObjectRepository> useObjects(gameCore.objects, &objects);
    const auto light = testing_support::makeTestLight("along_z", 1, {1.0f, 1.0f, 1.0f});
    element.lights.push_back(GameObjectLink::fromObject(light->light.get()));
    EXPECT_TRUE(Model::drawElement(element));
    EXPECT_EQ(element.drawCount, 1);
    EXPECT_EQ(render_->shaders().dynamic20.values.light, 0);
    EXPECT_EQ(render_->shaders().dynamic20.values.envmap, 1);
    EXPECT_EQ(render_->shaders().dynamic20.values.terrain, 1);
    EXPECT_TRUE(gameCore.log->contains("Failed material [23]"));

    // With a lit permutation the light's pass is the whole draw.
    makeMaterial(6, "wood", "");
    EXPECT_TRUE(Model::drawElement(element));
    EXPECT_EQ(element.drawCount, 1);
    EXPECT_EQ(render_->shaders().dynamic20.values.light, 2);
}

// Two lights over an opaque element, on the shader path and on the fixed
// pipeline: the device draws the second pass additive (blend ONE ONE, no
// depth write, the equal depth passing) without the ambient colour, and
// once the element is drawn the cache holds the first pass's states again.
TEST_F(ModelDrawShaderTest, ASecondLightsPassAddsAndTheFirstPassStatesComeBack) {
    makeMaterial(6, "wood", "");
    ASSERT_TRUE(material.flags & Material::FlagLitPerLight);
    const TwoTestLights lights(element);
    auto state = [&](D3DRENDERSTATETYPE which) {
        DWORD value = 0xDEAD;
        device->GetRenderState(which, &value);
        return value;
    };
    for (const int details : {2, 0}) {
        SCOPED_TRACE(details);
        env().setup.details = details;
        element.drawCount = 0;
        ASSERT_TRUE(Model::drawElement(element));
        EXPECT_EQ(element.drawCount, 2);
        EXPECT_EQ(state(D3DRS_ALPHABLENDENABLE), DWORD(TRUE));
        EXPECT_EQ(state(D3DRS_SRCBLEND), DWORD(D3DBLEND_ONE));
        EXPECT_EQ(state(D3DRS_DESTBLEND), DWORD(D3DBLEND_ONE));
        EXPECT_EQ(state(D3DRS_ZWRITEENABLE), DWORD(FALSE));
        EXPECT_EQ(state(D3DRS_ZFUNC), DWORD(D3DCMP_LESSEQUAL));
        if (details > 0)
            EXPECT_EQ(render_->shaders().dynamic20.values.ambient, 0);
        else
            EXPECT_EQ(state(D3DRS_AMBIENT), 0u);
        cache().apply();
        EXPECT_EQ(state(D3DRS_ALPHABLENDENABLE), DWORD(FALSE));
        EXPECT_EQ(state(D3DRS_ZWRITEENABLE), DWORD(TRUE));
        if (details == 0) EXPECT_EQ(state(D3DRS_AMBIENT), 0xFFFFFFFFu);
    }
}

// A light with three passes after a plain one: the shader path draws its
// three passes, each with its own share of the light (the last the
// smallest), up to the element's pass limit; the fixed pipeline lights it
// once.
TEST_F(ModelDrawShaderTest, AThreePassLightDrawsItsSharesUpToThePassLimit) {
    makeMaterial(6, "wood", "");
    ObjectRepository objects;
    testing_support::ScopedCoreMember<ObjectRepository> useObjects(gameCore.objects, &objects);
    const auto plain = testing_support::makeTestLight("plain", 1, {1.0f, 1.0f, 1.0f});
    const auto three = testing_support::makeTestLight("three", 1, {1.0f, 1.0f, 1.0f}, {0.0f, 0.0f, 1.0f}, 1.0f, 1);
    ASSERT_TRUE(three->light->flags & kLightThreePasses);
    for (const auto* light : {&plain, &three})
        element.lights.push_back(GameObjectLink::fromObject((*light)->light.get()));
    // The light's diffuse colour of the last pass drawn ("vColorLightDiffuse", c2).
    auto lastShare = [&] {
        float colour[4] = {};
        device->GetPixelShaderConstantF(2, colour, 1);
        return colour[0];
    };
    struct Case {
        int details, limit, draws;
    };
    float shares[2] = {};
    for (const Case c : {Case{2, 2, 2}, {2, 8, 4}, {0, 8, 2}}) {
        env().setup.details = c.details;
        element.passLimit = c.limit;
        element.drawCount = 0;
        ASSERT_TRUE(Model::drawElement(element));
        EXPECT_EQ(element.drawCount, c.draws) << c.details << " " << c.limit;
        if (c.details > 0) shares[c.limit > 2] = lastShare();
    }
    // The first pass of the light takes 0.7 of it, the third 0.2.
    ASSERT_GT(shares[0], 0.0f);
    EXPECT_NEAR(shares[1] / shares[0], 0.2f / 0.7f, 0.01f);
}

TEST_F(ModelDrawShaderTest, TheShadowReceiverNeedsTheMapsTextureAndAScene) {
    env().setup.shadows = 1;
    ASSERT_TRUE(render_->allocateShadowTargets());
    makeElement(3);
    ShadowRecord record;
    record.projection = identityMatrix();
    Model::drawElementShadowReceiverPass(element, record);
    ASSERT_EQ(element.drawCount, 1);

    // The device's objects released: the map's handler stays, its texture
    // is gone.
    library().deallocateAll();
    TextureLink* shadowMap = render_->builtinTextures.find("ProcSHADOW1");
    ASSERT_NE(shadowMap->handler(), nullptr);
    ASSERT_EQ(shadowMap->handler()->texture, nullptr);
    Model::drawElementShadowReceiverPass(element, record);
    EXPECT_EQ(element.drawCount, 1);

    // The texture back, but no current scene.
    ASSERT_TRUE(library().allocateAll(true, false));
    ASSERT_NE(shadowMap->handler()->texture, nullptr);
    sky.game->currentIndex = -1;
    Model::drawElementShadowReceiverPass(element, record);
    EXPECT_EQ(element.drawCount, 1);
    sky.game->currentIndex = 0;
    Model::drawElementShadowReceiverPass(element, record);
    EXPECT_EQ(element.drawCount, 2);
}

TEST_F(ModelDrawWaterTest, WithReflectionTheUnlitPassTakesTheMirror) {
    env().setup.waterReflection = 1;
    ASSERT_TRUE(render_->allocateReflectionTarget());
    TextureLink* mirror = render_->builtinTextures.find("ProcMirror");
    ASSERT_TRUE(mirror && mirror->handler() && mirror->handler()->texture);
    // The frame's mirror pass draws the mirror that a surface asked for.
    CameraCore camera(nullptr, "eye");
    camera.initialize(-1.0f);
    render_->camera = &camera;
    const float point[3] = {0.0f, 0.0f, 0.0f}, up[3] = {0.0f, 1.0f, 0.0f};
    camera.setMirrorPlane(point, up);
    ASSERT_TRUE(camera.renderMirror());
    render_->camera = nullptr;
    clearStages();
    ASSERT_TRUE(Model::drawElementKind(element, -1));
    EXPECT_EQ(render_->shaders().waterNorm20.values.ambient, 1);
    EXPECT_EQ(boundTexture(kSpecularStage), mirror->handler()->texture);
    EXPECT_EQ(boundTexture(kCubeStage), nullptr);
    // The vertex program's vTT1 (register 7) holds the mirror's size.
    D3DSURFACE_DESC desc{};
    static_cast<IDirect3DTexture9*>(mirror->handler()->texture)->GetLevelDesc(0, &desc);
    float size[4] = {};
    device->GetVertexShaderConstantF(7, size, 1);
    EXPECT_EQ(size[0], float(desc.Width));
    EXPECT_EQ(size[1], float(desc.Height));
    EXPECT_GT(size[0], 0.0f);
}

}  // namespace

namespace {

TEST_F(ModelDrawTest, ReflectionPassAsksForTheUnlitPair) {
    // Without the shader package no pair is found: the setup shows what the
    // pass asked for, and nothing is drawn.
    env().setup.details = 2;
    makeElement(0);
    material.flags |= Material::FlagSpecular;
    MultyShaderDynamic20::Setup& d = render_->shaders().dynamic20.values;
    d.light = d.specular = d.depth = 1;
    EXPECT_FALSE(Model::drawElementReflectionPass(element));
    EXPECT_EQ(element.drawCount, 0);
    EXPECT_EQ(d.ambient, 1);
    EXPECT_EQ(d.light, 0);
    EXPECT_EQ(d.specular, 0);
    EXPECT_EQ(d.depth, 0);
    EXPECT_EQ(d.normalmap, 0);

    // Opacity 0 leaves the setup as it was.
    material.colours[0][3] = 0.0f;
    d.ambient = 3;
    EXPECT_FALSE(Model::drawElementReflectionPass(element));
    EXPECT_EQ(d.ambient, 3);
}

TEST_F(ModelDrawTest, ShadowReceiverConstants) {
    ShadowRecord record;
    record.projection = identityMatrix();
    record.projection.m[3][0] = 0.25f;
    record.falloffOffset = 0.5f;
    record.intensity = 0.75f;
    // Without a linked light: intensity 1, exponent 16, base 2, black.
    ShadowReceiverConstants k = Model::shadowReceiverConstants(record);
    EXPECT_FLOAT_EQ(k.pixelTT1[0], 1.5f);
    EXPECT_FLOAT_EQ(k.pixelTT1[1], 16.0f);
    EXPECT_FLOAT_EQ(k.pixelTT1[2], 1.0f / std::pow(2.5f, 16.0f));
    EXPECT_FLOAT_EQ(k.pixelTT1[3], 0.0f);
    // The unit window: mShadow is the record matrix times the bias matrix.
    const float expected[4][4] = {{0.5f, 0, 0, 0}, {0, -0.5f, 0, 0}, {0, 0, 0.5f, 0}, {0.625f, 0.5f, 0.5f, 1}};
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c) EXPECT_FLOAT_EQ(k.shadow.m[r][c], expected[r][c]) << r << c;
    EXPECT_FLOAT_EQ(k.pixelTT0[3], -0.0f);

    // A linked light's values and a window in the map's lower right quarter.
    ShadowLightValues light;
    light.intensity = 0.5f;
    light.exponent = 2.0f;
    light.base = 1.0f;
    light.colour[1] = 0.25f;
    record.light = &light;
    record.windowX = 0.5f;
    record.windowY = 0.5f;
    record.windowWidth = record.windowHeight = 0.5f;
    record.falloffOffset = -1.0f;  // (1 - 1)^2 = 0 stays 0
    k = Model::shadowReceiverConstants(record);
    EXPECT_FLOAT_EQ(k.pixelTT1[0], 0.75f);
    EXPECT_FLOAT_EQ(k.pixelTT1[2], 0.0f);
    EXPECT_FLOAT_EQ(k.colour[1], 0.25f);
    EXPECT_FLOAT_EQ(k.pixelTT0[2], 0.5f);
    EXPECT_FLOAT_EQ(k.pixelTT0[3], 0.0f);  // a = 0.5 - 1 + 0.5
    // The window shifts the texture coordinates by -x and scales them by 1 / width.
    EXPECT_FLOAT_EQ(k.shadow.m[3][0], (0.625f - 0.5f) * 2.0f);
}

TEST_F(ModelDrawTest, ShadowPassesSkipWhatTheyCannotDraw) {
    ShadowRecord record;
    record.projection = identityMatrix();
    makeElement(3);
    // Details 0: no receiver; with details but no shadow map, none either.
    Model::drawElementShadowReceiverPass(element, record);
    env().setup.details = 1;
    render_->shaders().pass.blendMode = 9;
    Model::drawElementShadowReceiverPass(element, record);
    EXPECT_EQ(render_->shaders().pass.blendMode, 9);
    // Opacity 0: the caster leaves the pass record alone.
    material.colours[0][3] = 0.0f;
    Model::drawElementShadowCasterPass(element, record);
    EXPECT_EQ(render_->shaders().pass.blendMode, 9);
    // Without the dynamic programs the caster reports and draws nothing.
    material.colours[0][3] = 1.0f;
    Model::drawElementShadowCasterPass(element, record);
    EXPECT_EQ(render_->shaders().dynamic20.values.ambient, 1);
    EXPECT_EQ(element.drawCount, 0);
}

}  // namespace

namespace {

// The mesh draw's passes and cull states by the material's face mode: one
// pass culling the counter-clockwise faces (mode 0), one drawing both faces
// (1), the back faces then the front ones (2, or only the first with one
// pass forced); a mirrored material swaps the orientations; a face mode
// outside the table draws as 0. An element drawn as a static instance
// keeps its orientations in the mirror.
TEST_F(ModelDrawTest, FaceModesChooseThePassesAndTheirCullStates) {
    struct Case {
        std::uint32_t faceMode;
        bool mirrored;
        std::int32_t passes;
        std::uint32_t last;    // cull state of the last pass
        std::uint32_t forced;  // cull state with one pass forced
    };
    const Case cases[] = {
        {0, false, 1, D3DCULL_CCW, D3DCULL_CCW}, {0, true, 1, D3DCULL_CW, D3DCULL_CW},
        {1, false, 1, D3DCULL_NONE, D3DCULL_NONE}, {1, true, 1, D3DCULL_NONE, D3DCULL_NONE},
        {2, false, 2, D3DCULL_CCW, D3DCULL_CW},  {2, true, 2, D3DCULL_CW, D3DCULL_CCW},
        {7, false, 1, D3DCULL_CCW, D3DCULL_CCW},
    };
    for (const Case& c : cases) {
        makeElement(3);
        material.parameters.faceMode = c.faceMode;
        render_->drawingMirror = c.mirrored;  // the mirror pass draws
        element.drawCount = 0;
        EXPECT_TRUE(Model::drawElement(element)) << c.faceMode;
        EXPECT_EQ(element.drawCount, c.passes) << c.faceMode << " " << c.mirrored;
        EXPECT_EQ(cache().renderDesired[DXStateCache::RsCullMode], c.last) << c.faceMode << " " << c.mirrored;
        element.drawCount = 0;
        Model::drawElementMesh(element, true);
        EXPECT_EQ(element.drawCount, 1) << c.faceMode;
        EXPECT_EQ(cache().renderDesired[DXStateCache::RsCullMode], c.forced) << c.faceMode << " " << c.mirrored;
    }
    render_->drawingMirror = false;
}

}  // namespace

namespace {

// In the mirror a static-instance element keeps its cull orientation.
TEST_F(ModelDrawTest, AStaticInstanceKeepsItsOrientationInTheMirror) {
    makeElement(3);
    element.flags |= kElementStaticInstance;
    render_->drawingMirror = true;
    EXPECT_TRUE(Model::drawElement(element));
    EXPECT_EQ(cache().renderDesired[DXStateCache::RsCullMode], D3DCULL_CCW);
    EXPECT_FALSE(material.flags & Material::FlagReflection);
    render_->drawingMirror = false;
}

}  // namespace
