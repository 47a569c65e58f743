// Model element passes drawn on the GL backend of our Direct3D 9 with the
// shader package built at test time.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <array>
#include <deque>
#include <functional>
#include <optional>
#include <vector>

#include "support/LightFixture.h"
#include "effects/EffectsSettings.h"
#include "foundation/IniFile.h"
#include "foundation/PackedStream.h"
#include "foundation/DataStream.h"
#include "effects/LightSetLibrary.h"
#include "resources/ResourceTestSupport.h"
#include "app/GameCore.h"
#include "effects/Light.h"
#include "effects/Y3Light.h"
#include "effects/LightDataManager.h"
#include "effects/ShadowRecord.h"
#include "model/Y3Model.h"
#include "app/SaveGame.h"
#include "effects/Sprite.h"
#include "effects/Particle.h"
#include "effects/ParticleLayer.h"
#include "particle/ParticleWriter.h"
#include "foundation/AppPaths.h"
#include "model/Model.h"
#include "model/DXStreams.h"
#include "model/ModelElement.h"
#include "model/MeshTestSupport.h"
#include "model/ModelWriter.h"
#include "model/Y3MeshStream.h"
#include "model/SkySceneSupport.h"
#include "d3d9/TestScenes.h"
#include "platform/D3D9TestSupport.h"
#include "render/Material.h"
#include "render/ProcRenderTarget.h"
#include "render/RenderCore.h"
#include "render/VideoCore.h"
#include "render/shaders/ShaderCore.h"
#include "render/ShaderPackageSupport.h"
#include "render/states/DXStateCache.h"
#include "foundation/TimeCore.h"
#include "effects/RenderObject.h"
#include "model/ObjectContext.h"
#include "scene/CameraCore.h"
#include "scene/CameraFixture.h"
#include "scene/Scene.h"
#include "scene/Y3Pose.h"
#include "script/ScriptVariable.h"
#include "script/VariablesCore.h"
#include "scene/ObjectRepository.h"
#include "script/ScriptVariable.h"
#include "script/VariablesCore.h"
#include "shaderpack/ShaderPacker.h"
#include "support/TestSupport.h"
#include "textures/DdsWriter.h"
#include "textures/MemoryTextureEnvironment.h"

namespace {

struct MeshVertex {
    float x, y, z;
    float u, v;
};

class ModelDrawGLTest : public d3d9_test::D3D9Test {
protected:
    void SetUp() override {
        environment.backend = platform::d3d9::BackendKind::GL;
        D3D9Test::SetUp();
        device = createDevice(parameters);
        ASSERT_NE(device, nullptr) << allLines();
        ASSERT_TRUE(testing_support::installShaderPackage(core, folder));

        textures.deviceInUse = device;
        textures.setup.details = 1;
        setTextureEnvironment(&textures);
        render = std::make_unique<RenderCore>();
        savedRender = gameCore.render;
        gameCore.render = render.get();
        ASSERT_TRUE(testing_support::startRenderOnDevice(*render, device)) << allLines();
        render->shaders().frame.viewProjection = identityMatrix();
    }

    // A level of detail of the material whose two triangles are six vertices
    // of a vertex format.
    template <class Vertex>
    ModelElementLod level(std::int32_t format, const Vertex (&quad)[6]) {
        ModelElementLod lod;
        lod.material = &material;
        EXPECT_TRUE(lod.vertices.allocate(device, 6, sizeof(Vertex), format, 0)) << allLines();
        EXPECT_TRUE(lod.vertices.update(quad, 0));
        lod.primitiveCount = 2;
        return lod;
    }

    void TearDown() override {
        IniFile defaults;
        readLightRenderSettings(defaults);
        material.release();
        if (render) {
            render->releaseBuiltinTextures();
            render->textures.releaseAll();
            render->shaders().release();
        }
        render.reset();
        gameCore.render = savedRender;
        setTextureEnvironment(nullptr);
        D3D9Test::TearDown();
    }

    // A directional light of half strength travelling along +z (into the
    // screen), drawn in per-light passes.
    GameObjectLink lightAlongZ() {
        // The fixed-function light at the shader's strength ("fpp_diffuse_mult"
        // 1), so that both paths draw the same picture.
        IniFile ini;
        ini.getCategory("render_ffp").getVariable("fpp_diffuse_mult").setString("1");
        readLightRenderSettings(ini);
        auto& light = sceneLights.emplace_back(testing_support::makeTestLight("along_z", 1, {0.5f, 0.5f, 0.5f}));
        return GameObjectLink::fromObject(light->light.get());
    }
    // The lights live in the repository, as the scene's do.
    ObjectRepository objects;
    testing_support::ScopedCoreMember<ObjectRepository> useObjects{gameCore.objects, &objects};
    std::vector<std::unique_ptr<testing_support::TestLight>> sceneLights;

    // An A8R8G8B8 texture whose left half is white and right half black.
    static std::vector<std::uint8_t> halfCovered(UINT size) {
        texture_tools::DdsImage image;
        image.width = image.height = size;
        std::vector<std::uint8_t> texels(std::size_t(size) * size * 4, 0);
        for (UINT y = 0; y < size; ++y)
            for (UINT x = 0; x < size / 2; ++x) std::memset(&texels[(std::size_t(y) * size + x) * 4], 0xFF, 4);
        image.blocks.push_back(texels);
        return texture_tools::writeDds(image);
    }

    // An A8R8G8B8 texture (or cube map) of one colour.
    static std::vector<std::uint8_t> solid(std::uint8_t red, std::uint8_t green, std::uint8_t blue,
                                           std::uint8_t alpha = 255, bool cube = false) {
        texture_tools::DdsImage image;
        image.width = image.height = 8;
        image.cube = cube;
        std::vector<std::uint8_t> texels;
        for (int i = 0; i < 64; ++i) texels.insert(texels.end(), {blue, green, red, alpha});
        image.blocks.assign(cube ? 6 : 1, texels);
        return texture_tools::writeDds(image);
    }

    struct Rgb {
        int r, g, b;
    };
    // Draws the element through the kind paths with light 0 into a cleared
    // frame; the colour at the frame's centre.
    Rgb drawKindAtCentre(ModelElement& element) {
        device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF000000u, 1.0f, 0);
        device->BeginScene();
        EXPECT_TRUE(Model::drawElementKind(element, 0)) << allLines();
        device->EndScene();
        std::vector<std::uint8_t> bytes;
        D3DSURFACE_DESC desc{};
        readBack(bytes, desc);
        if (bytes.size() < (std::size_t(32) * desc.Width + 33) * 4) return {};
        const std::uint8_t* p = &bytes[(std::size_t(32) * desc.Width + 32) * 4];
        return {p[2], p[1], p[0]};
    }

    // The element drawn whole (ModelElement::render) at a detail level
    // into a cleared frame; the frame's bytes.
    std::vector<std::uint8_t> renderElement(ModelElement& element, int details) {
        textures.setup.details = details;
        device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF000000u, 1.0f, 0);
        device->BeginScene();
        EXPECT_TRUE(element.render()) << allLines();
        device->EndScene();
        std::vector<std::uint8_t> bytes;
        D3DSURFACE_DESC desc{};
        readBack(bytes, desc);
        return bytes;
    }

    // The object pass of a frame into the back buffer cleared to `clear`,
    // read back; `beforeObjects` runs inside the scene, before the pass.
    std::vector<std::uint8_t> objectPass(D3DCOLOR clear = 0xFF000000u,
                                         const std::function<void()>& beforeObjects = {}) {
        device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, clear, 1.0f, 0);
        device->BeginScene();
        render->shaders().resetPass();
        if (beforeObjects) beforeObjects();
        render->renderObjectContexts();
        render->quadBatch.flush();
        device->EndScene();
        std::vector<std::uint8_t> bytes;
        D3DSURFACE_DESC desc{};
        readBack(bytes, desc);
        return bytes;
    }

    void readBack(std::vector<std::uint8_t>& bytes, D3DSURFACE_DESC& desc) {
        IDirect3DSurface9* back = nullptr;
        device->GetBackBuffer(0, 0, D3DBACKBUFFER_TYPE_MONO, &back);
        ASSERT_NE(back, nullptr);
        EXPECT_TRUE(platform::d3d9::readSurface(back, bytes, desc));
        back->Release();
    }

    // The device: 64 x 64, without alpha unless a test needs it.
    D3DPRESENT_PARAMETERS parameters = windowed(64, 64);
    testing_support::TempDir folder;
    testing_support::ScopedGameCore core{true};
    VideoCore video;
    testing_support::ScopedCoreMember<VideoCore> useVideo{gameCore.video, &video};
    texture_tools::MemoryTextureEnvironment textures;
    std::unique_ptr<RenderCore> render;
    RenderCore* savedRender = nullptr;
    Material material;
};

TEST_F(ModelDrawGLTest, ACastersShadowDarkensTheReceiverWhereTheMapIsCovered) {
    // The shadow map stands in for what the casters drew: a texture of the
    // packages put into the shadow-map link.
    textures.files["casters.dds"] = halfCovered(16);
    textures.files["sky_main.dds"] = solid(40, 200, 40);
    render->textures.allocated = true;
    // Receivers draw in a scene.
    testing_support::CurrentSkyScene sky;
    ASSERT_TRUE(sky.open(SkyClear));
    TextureLink casters;
    casters.init("casters");
    ASSERT_TRUE(casters.allocateDefault(0, false));
    TextureLink* shadowMap = render->builtinTextures.find("ProcSHADOW1");
    ASSERT_NE(shadowMap, nullptr);
    ASSERT_TRUE(shadowMap->attachHandler(casters.handler(), 0, 0));

    MaterialData data;
    data.head.kind = 3;
    material.setupFromData(data);
    material.colours[0][3] = 1.0f;
    ModelElement element;
    element.world = identityMatrix();
    // The whole screen in clip space as two triangles (format "D").
    const MeshVertex quad[6] = {{-1, 1, 0.5f, 0, 0},  {1, 1, 0.5f, 1, 0},  {-1, -1, 0.5f, 0, 1},
                                {-1, -1, 0.5f, 0, 1}, {1, 1, 0.5f, 1, 0},  {1, -1, 0.5f, 1, 1}};
    element.lods.push_back(level(0, quad));

    // The record sees the screen as the map: clip x -1..1 is u 0..1. Its
    // light is far enough that the falloff leaves the full strength.
    ShadowRecord record;
    record.projection = identityMatrix();
    record.falloffOffset = 100.0f;

    device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFFFFFFFFu, 1.0f, 0);
    device->BeginScene();
    Model::drawElementShadowReceiverPass(element, record);
    device->EndScene();
    ASSERT_EQ(element.drawCount, 1) << allLines();
    std::vector<std::uint8_t> bytes;
    D3DSURFACE_DESC desc{};
    readBack(bytes, desc);
    auto red = [&](UINT x, UINT y) { return int(bytes[(std::size_t(y) * desc.Width + x) * 4 + 2]); };
    for (UINT y : {8u, 32u, 56u}) {
        EXPECT_LE(red(8, y), 8) << "shadowed at y " << y;     // left half: covered
        EXPECT_GE(red(56, y), 247) << "lit at y " << y;       // right half: open
    }
}

// The character-shadow pass draws a caster into the shadow map (an A8
// render target, its coverage in alpha); the receiver drawn with that map
// is dark where the caster covered it.
TEST_F(ModelDrawGLTest, TheCharacterShadowPassDrawsTheMapThatTheReceiverReads) {
    textures.files["sky_main.dds"] = solid(40, 200, 40);
    render->textures.allocated = true;
    // Receivers draw in a scene.
    testing_support::CurrentSkyScene scene;
    ASSERT_TRUE(scene.open(SkyClear));
    ASSERT_TRUE(render->allocateShadowTargets()) << allLines();
    TextureLink* shadowMap = render->builtinTextures.find("ProcSHADOW1");
    auto* target = dynamic_cast<ProcRenderTarget*>(shadowMap->handler());
    ASSERT_TRUE(target && target->texture) << allLines();
    EXPECT_EQ(target->format, D3DFMT_A8);

    MaterialData data;
    data.head.kind = 3;
    material.setupFromData(data);
    material.colours[0][3] = 1.0f;
    // The record's projection is the identity: clip space is the map. The
    // caster covers its left half; the receiver the whole screen.
    const MeshVertex left[6] = {{-1, 1, 0.5f, 0, 0},  {0, 1, 0.5f, 1, 0},  {-1, -1, 0.5f, 0, 1},
                                {-1, -1, 0.5f, 0, 1}, {0, 1, 0.5f, 1, 0},  {0, -1, 0.5f, 1, 1}};
    const MeshVertex whole[6] = {{-1, 1, 0.5f, 0, 0},  {1, 1, 0.5f, 1, 0},  {-1, -1, 0.5f, 0, 1},
                                 {-1, -1, 0.5f, 0, 1}, {1, 1, 0.5f, 1, 0},  {1, -1, 0.5f, 1, 1}};
    ModelElement caster, receiver;
    caster.world = receiver.world = identityMatrix();
    caster.lods.push_back(level(0, left));
    receiver.lods.push_back(level(0, whole));
    ShadowRecord record;
    record.projection = identityMatrix();
    record.falloffOffset = 100.0f;

    // The frame draws its scene into red, green and blue only.
    render->stateCache().setRender(DXStateCache::RsColorWriteEnable, 7);
    render->stateCache().apply();
    ASSERT_TRUE(target->renderCharacterShadow([&] { Model::drawElementShadowCasterPass(caster, record); }))
        << allLines();
    ASSERT_EQ(caster.drawCount, 1) << allLines();
    // The scene's colour writes are back.
    EXPECT_EQ(render->stateCache().renderCurrent[DXStateCache::RsColorWriteEnable], 7u);

    device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFFFFFFFFu, 1.0f, 0);
    device->BeginScene();
    Model::drawElementShadowReceiverPass(receiver, record);
    device->EndScene();
    ASSERT_EQ(receiver.drawCount, 1) << allLines();
    std::vector<std::uint8_t> bytes;
    D3DSURFACE_DESC desc{};
    readBack(bytes, desc);
    auto red = [&](UINT x, UINT y) { return int(bytes[(std::size_t(y) * desc.Width + x) * 4 + 2]); };
    for (UINT y : {8u, 32u, 56u}) {
        EXPECT_LE(red(8, y), 8) << "shadowed at y " << y;
        EXPECT_GE(red(56, y), 247) << "lit at y " << y;
    }
}

// A textured element lit by one directional light: the fixed-function
// kind-6 path and the Dynamic20 shader path give the same picture.
TEST_F(ModelDrawGLTest, FixedFunctionAndShaderPathsLightAlike) {
    struct LitVertex {
        float x, y, z;
        float nx, ny, nz;
        float u, v;
    };
    texture_tools::DdsImage stone;
    stone.width = stone.height = 8;
    std::vector<std::uint8_t> texels;
    for (int i = 0; i < 64; ++i) texels.insert(texels.end(), {50, 100, 200, 255});
    stone.blocks.push_back(texels);
    textures.files["stone.dds"] = texture_tools::writeDds(stone);
    render->textures.allocated = true;

    // Facing the viewer (normal -z, format "D+Normal"); the light travels
    // along +z.
    const LitVertex quad[6] = {{-1, 1, 0.5f, 0, 0, -1, 0, 0},  {1, 1, 0.5f, 0, 0, -1, 1, 0},
                               {-1, -1, 0.5f, 0, 0, -1, 0, 1}, {-1, -1, 0.5f, 0, 0, -1, 0, 1},
                               {1, 1, 0.5f, 0, 0, -1, 1, 0},   {1, -1, 0.5f, 0, 0, -1, 1, 1}};

    MaterialData stored;
    stored.head.kind = 6;
    stored.links[0].init("stone");
    ModelElement element;
    element.world = identityMatrix();
    element.lights.push_back(lightAlongZ());
    element.lods.push_back(level(4, quad));

    // Expected: texture x (ambient 0.25 + light 0.5 x cos of the tilt), the
    // same through both paths: the fixed-function pipeline lights in world
    // space, the shader in the element's object space. Untilted (150, 75,
    // 37); tilted 30 degrees about x (137, 68, 34). All fixed-function
    // pictures come first: the fixed-function paths leave the shaders to
    // whoever set them.
    using Seen = Rgb;
    const float tilts[2] = {0.0f, 30.0f};
    Seen seen[2][2] = {};  // [tilt][details]
    for (int details : {0, 1}) {
        textures.setup.details = details;
        material.release();
        material.setupFromData(stored);
        ASSERT_TRUE(material.allocate());
        for (int c = 0; c < 3; ++c) material.colours[0][c] = 0.25f, material.colours[1][c] = 1.0f;
        material.colours[0][3] = material.colours[1][3] = 1.0f;
        for (int t = 0; t < 2; ++t) {
            const float angle = tilts[t] * 3.14159265f / 180.0f;
            element.world = identityMatrix();
            element.world.m[1][1] = element.world.m[2][2] = std::cos(angle);
            element.world.m[1][2] = std::sin(angle);
            element.world.m[2][1] = -std::sin(angle);
            seen[t][details] = drawKindAtCentre(element);
        }
    }
    for (int t = 0; t < 2; ++t) {
        const float lit = 0.25f + 0.5f * std::cos(tilts[t] * 3.14159265f / 180.0f);
        for (const Seen& one : seen[t]) {
            EXPECT_NEAR(one.r, 200 * lit, 6) << tilts[t];
            EXPECT_NEAR(one.g, 100 * lit, 6) << tilts[t];
            EXPECT_NEAR(one.b, 50 * lit, 6) << tilts[t];
        }
        EXPECT_NEAR(seen[t][0].r, seen[t][1].r, 4) << tilts[t];
        EXPECT_NEAR(seen[t][0].g, seen[t][1].g, 4) << tilts[t];
        EXPECT_NEAR(seen[t][0].b, seen[t][1].b, 4) << tilts[t];
    }
    material.release();
}

// The element's quad read from a stream record of format 9 ("D+Bump+Weights")
// that the model writer wrote: the shader path draws its whole vertices, the
// fixed-function pipeline the first 32 bytes of each (its fallback "D+Normal"),
// and both give the lit picture of that format.
TEST_F(ModelDrawGLTest, AStreamRecordQuadDrawsAlikeThroughItsFallbackPrefix) {
    textures.files["stone.dds"] = solid(200, 100, 50);
    render->textures.allocated = true;
    model_tools::ModelDescription description;
    std::string error;
    ASSERT_TRUE(model_tools::parseModelDescription(
        "stream quad.vs 9\n"
        "vertex p -1 1 0.5 n 0 0 -1 t 0 0 b 0 1 0 i 0 0 0 0 w 1 0 0 0\n"
        "vertex p 1 1 0.5 n 0 0 -1 t 1 0 b 0 1 0 i 0 0 0 0 w 1 0 0 0\n"
        "vertex p -1 -1 0.5 n 0 0 -1 t 0 1 b 0 1 0 i 0 0 0 0 w 1 0 0 0\n"
        "vertex p -1 -1 0.5 n 0 0 -1 t 0 1 b 0 1 0 i 0 0 0 0 w 1 0 0 0\n"
        "vertex p 1 1 0.5 n 0 0 -1 t 1 0 b 0 1 0 i 0 0 0 0 w 1 0 0 0\n"
        "vertex p 1 -1 0.5 n 0 0 -1 t 1 1 b 0 1 0 i 0 0 0 0 w 1 0 0 0\n",
        description, error))
        << error;
    const std::string record = model_tools::streamRecordBytes(*description.streams[0].stream);
    ASSERT_EQ(record.size(), 12u + 6u * 64u);

    MaterialData stored;
    stored.head.kind = 6;
    stored.links[0].init("stone");
    Rgb seen[2] = {};
    for (int details : {0, 1}) {
        // The pipeline of the streams and declarations follows the video
        // setup, the drawing path the texture setup.
        video.activeVideoSetup().details = details ? VideoDetailsNormal : VideoDetailsMinimum;
        textures.setup.details = details;
        ASSERT_EQ(streamsOnFixedPipeline(), details == 0);
        ASSERT_TRUE(render->streamDeclarations().allocate(device)) << allLines();

        MemoryStream in(const_cast<char*>(record.data()), std::int32_t(record.size()));
        Y3MeshStream* read = nullptr;
        ASSERT_EQ(Y3MeshStream::readStreamRecord(in, read), std::int32_t(record.size()));
        std::unique_ptr<Y3MeshStream> stream(read);
        ASSERT_TRUE(stream->allocateAndUpload(device, 0)) << allLines();
        EXPECT_EQ(stream->vertexStream().format(), details ? 9 : 4);
        EXPECT_EQ(stream->vertexStream().stride(), details ? 64 : 32);

        material.release();
        material.setupFromData(stored);
        ASSERT_TRUE(material.allocate());
        for (int c = 0; c < 3; ++c) material.colours[0][c] = 0.25f, material.colours[1][c] = 1.0f;
        material.colours[0][3] = material.colours[1][3] = 1.0f;
        ModelElement element;
        element.world = identityMatrix();
        element.lights.push_back(lightAlongZ());
        ModelElementLod lod;
        lod.material = &material;
        lod.vertices = std::move(stream->vertexStream());
        lod.primitiveCount = 2;
        element.lods.push_back(std::move(lod));

        seen[details] = drawKindAtCentre(element);
        material.release();
    }
    // Stone x (ambient 0.25 + light 0.5) through both.
    for (const Rgb& one : seen) {
        EXPECT_NEAR(one.r, 150, 6);
        EXPECT_NEAR(one.g, 75, 6);
        EXPECT_NEAR(one.b, 37, 6);
    }
}

// Light-mapped and normal-mapped materials: the fixed-function paths
// (details 0) and the Dynamic20 programs (details 1) give the same picture,
// which needs each texture on the unit its program's sampler reads.
TEST_F(ModelDrawGLTest, LightAndNormalMappedMaterialsMatchTheFixedFunctionPicture) {
    // Texel colours (red, green, blue).
    textures.files["stone.dds"] = solid(200, 100, 50);
    textures.files["grey.dds"] = solid(100, 100, 100);
    textures.files["grey_lm.dds"] = solid(255, 128, 64);
    textures.files["stone-n2.dds"] = solid(128, 128, 255);  // flat: the vertex normal
    render->textures.allocated = true;

    // Light-mapped (kind 0, format "LM": coordinates for both maps).
    struct LightMappedVertex {
        float x, y, z;
        float u, v;
        float u1, v1;
    };
    const LightMappedVertex lightMapped[6] = {
        {-1, 1, 0.5f, 0, 0, 0, 0},  {1, 1, 0.5f, 1, 0, 1, 0},  {-1, -1, 0.5f, 0, 1, 0, 1},
        {-1, -1, 0.5f, 0, 1, 0, 1}, {1, 1, 0.5f, 1, 0, 1, 0},  {1, -1, 0.5f, 1, 1, 1, 1}};
    // Normal-mapped (kind 6 lit by a light along +z, format "D+Bump": the
    // normal faces the viewer, the binormal is up).
    struct BumpVertex {
        float x, y, z;
        float nx, ny, nz;
        float u, v;
        float bx, by, bz;
    };
    const BumpVertex bumped[6] = {
        {-1, 1, 0.5f, 0, 0, -1, 0, 0, 0, 1, 0},  {1, 1, 0.5f, 0, 0, -1, 1, 0, 0, 1, 0},
        {-1, -1, 0.5f, 0, 0, -1, 0, 1, 0, 1, 0}, {-1, -1, 0.5f, 0, 0, -1, 0, 1, 0, 1, 0},
        {1, 1, 0.5f, 0, 0, -1, 1, 0, 0, 1, 0},   {1, -1, 0.5f, 0, 0, -1, 1, 1, 0, 1, 0}};

    struct Case {
        const char* name;
        std::uint32_t kind;
        const char* diffuse;
        const char* lightMap;
        bool normalMap;
        float ambient;  // the material colour (grey)
        int expected[3];
    };
    // Light-mapped: grey x 2 x light map; normal-mapped: stone x (ambient
    // 0.25 + light 0.5).
    const Case cases[] = {
        {"light-mapped", 0, "grey", "grey_lm", false, 1.0f, {200, 100, 50}},
        {"normal-mapped", 6, "stone", "", true, 0.25f, {150, 75, 37}},
    };
    // Every fixed-function picture first: those paths leave the programs to
    // whoever set them.
    constexpr int caseCount = int(sizeof cases / sizeof cases[0]);
    int seen[caseCount][2][3] = {};
    for (int details : {0, 1}) {
        textures.setup.details = details;
        for (int n = 0; n < caseCount; ++n) {
            const Case& c = cases[n];
            MaterialData stored;
            stored.head.kind = c.kind;
            stored.links[0].init(c.diffuse);
            if (*c.lightMap) stored.links[1].init(c.lightMap);
            material.release();
            material.setupFromData(stored);
            if (c.normalMap) material.flags |= Material::FlagNormalMap;
            ASSERT_TRUE(material.allocate()) << c.name << allLines();
            for (int i = 0; i < 3; ++i) material.colours[0][i] = c.ambient, material.colours[1][i] = 1.0f;
            material.colours[0][3] = material.colours[1][3] = 1.0f;
            ModelElement element;
            element.world = identityMatrix();
            if (c.normalMap) {
                element.lights.push_back(lightAlongZ());
                element.lods.push_back(level(8, bumped));
            } else {
                element.lods.push_back(level(12, lightMapped));
            }
            device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF000000u, 1.0f, 0);
            device->BeginScene();
            // The fixed-function kind-6 path lights per light when given one.
            if (details == 0) EXPECT_TRUE(Model::drawElementKind(element, c.normalMap ? 0 : -1)) << c.name;
            else EXPECT_TRUE(Model::drawElement(element)) << c.name << allLines();
            device->EndScene();
            if (details == 1) {
                const MultyShaderDynamic20::Setup& v = render->shaders().dynamic20.values;
                EXPECT_EQ(v.ambient, c.lightMap[0] ? 3 : 1) << c.name;
                EXPECT_EQ(v.normalmap, c.normalMap ? 1 : 0) << c.name;
            }
            std::vector<std::uint8_t> bytes;
            D3DSURFACE_DESC desc{};
            readBack(bytes, desc);
            const std::uint8_t* p = &bytes[(std::size_t(32) * desc.Width + 32) * 4];
            for (int k = 0; k < 3; ++k) seen[n][details][k] = p[2 - k];
            material.release();
        }
    }
    for (int n = 0; n < caseCount; ++n)
        for (int details : {0, 1})
            for (int k = 0; k < 3; ++k)
                EXPECT_NEAR(seen[n][details][k], cases[n].expected[k], 6)
                    << cases[n].name << " details " << details << " channel " << k;
}

// A lake (kind 26) on the water shader path of water setting 1: its first
// pass reflects the current scene's sky layer, strongest at grazing angles,
// also with the water reflection on while no mirror was drawn.
TEST_F(ModelDrawGLTest, WaterReflectsTheSkyLayerOrTheMirror) {
    struct WaterVertex {
        float x, y, z;
        float nx, ny, nz;
        std::uint32_t colour;
        float u, v;
    };
    // Flat normal and wave maps leave the reflection unrippled.
    textures.files["water20_normal.dds"] = solid(128, 128, 255);
    textures.files["water20_wave.dds"] = solid(128, 128, 128);
    textures.files["deep.dds"] = solid(20, 20, 20);
    textures.files["sky_main.dds"] = solid(40, 200, 40);
    render->textures.allocated = true;
    testing_support::CurrentSkyScene sky;
    ASSERT_TRUE(sky.open(SkyClear));

    MaterialData stored;
    stored.head.kind = 26;
    stored.links[0].init("deep");
    ModelElement element;
    element.world = identityMatrix();
    // The whole screen, its normal up (+y, format "DC+Normal"). The eye is
    // the object's origin, so the surface's upper half is seen from behind
    // its normal (full reflection) and the lower half nearly head-on.
    const WaterVertex quad[6] = {
        {-1, 1, 0.5f, 0, 1, 0, 0xFFFFFFFFu, 0, 0},  {1, 1, 0.5f, 0, 1, 0, 0xFFFFFFFFu, 1, 0},
        {-1, -1, 0.5f, 0, 1, 0, 0xFFFFFFFFu, 0, 1}, {-1, -1, 0.5f, 0, 1, 0, 0xFFFFFFFFu, 0, 1},
        {1, 1, 0.5f, 0, 1, 0, 0xFFFFFFFFu, 1, 0},   {1, -1, 0.5f, 0, 1, 0, 0xFFFFFFFFu, 1, 1}};
    element.lods.push_back(level(6, quad));

    struct Seen {
        int r, g, b;
    };
    // One draw; the mean colour of the pixels x0..x1, y0..y1.
    std::vector<std::uint8_t> bytes;
    D3DSURFACE_DESC desc{};
    auto mean = [&](UINT x0, UINT x1, UINT y0, UINT y1) {
        long sum[3] = {};
        long count = 0;
        for (UINT y = y0; y <= y1; ++y)
            for (UINT x = x0; x <= x1; ++x, ++count)
                for (int c = 0; c < 3; ++c) sum[c] += bytes[(std::size_t(y) * desc.Width + x) * 4 + 2 - c];
        return Seen{int(sum[0] / count), int(sum[1] / count), int(sum[2] / count)};
    };
    auto expectColour = [](const Seen& seen, int r, int g, int b, const char* where) {
        EXPECT_NEAR(seen.r, r, 8) << where;
        EXPECT_NEAR(seen.g, g, 8) << where;
        EXPECT_NEAR(seen.b, b, 8) << where;
    };
    auto draw = [&](int reflection) {
        textures.setup.water = 1;
        textures.setup.waterReflection = reflection;
        material.release();
        material.setupFromData(stored);
        EXPECT_TRUE(material.allocate());
        for (int c = 0; c < 3; ++c)
            material.colours[0][c] = 0.5f, material.colours[1][c] = 1.0f, material.colours[3][c] = 1.0f;
        material.colours[0][3] = material.colours[1][3] = material.colours[3][3] = 1.0f;
        device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF000000u, 1.0f, 0);
        device->BeginScene();
        EXPECT_TRUE(Model::drawElementKind(element, -1)) << reflection << allLines();
        device->EndScene();
        readBack(bytes, desc);
    };

    draw(0);
    EXPECT_EQ(render->shaders().waterNorm20.values.ambient, 4);
    expectColour(mean(0, 63, 2, 24), 40, 200, 40, "the sky");
    // Seen nearly head-on the water shows mostly itself: dark.
    EXPECT_LT(mean(0, 63, 48, 62).g, 100);

    // With the water reflection on, the mirror target is attached; until
    // the mirror pass draws it in a frame the water still shows the sky
    // (the frame with the mirror is FramePassGLTest's).
    textures.setup.waterReflection = 1;
    ASSERT_TRUE(render->allocateReflectionTarget()) << allLines();
    TextureLink* mirror = render->builtinTextures.find("ProcMirror");
    ASSERT_TRUE(mirror && mirror->handler() && mirror->handler()->texture);
    const Seen seenSky = mean(0, 63, 2, 24);
    draw(1);
    EXPECT_EQ(render->shaders().waterNorm20.values.ambient, 4);
    expectColour(mean(0, 63, 2, 24), seenSky.r, seenSky.g, seenSky.b, "the sky, the mirror undrawn");
    material.release();
}

// The frame's passes over the elements of a scene: an object context that
// draws its elements as the model context does (the element dispatcher in
// the scene pass, the reflection pass in a secondary pass, the depth pass
// as its shader pass), on a device whose back buffer keeps alpha (as the
// device set-up chooses with depth of field).
class FramePassGLTest : public ModelDrawGLTest {
protected:
    FramePassGLTest() {
        parameters = windowed(80, 64);
        parameters.BackBufferFormat = D3DFMT_A8R8G8B8;
    }

    class ElementContext : public ObjectContext {
    public:
        ElementContext(RenderList& list, RenderObject& object) : list_(list), object_(object) {}
        void update(const Matrix34&) override {
            for (std::size_t i = 0; i < elements.size(); ++i)
                list_.queues[1].insert(0, DrawItem{&object_, std::int32_t(i), 0, 0, 0, float(i), float(i)});
        }
        bool cull() override { return true; }
        std::int32_t render(const DrawItem* items, std::int32_t, std::int32_t index, std::int32_t step) override {
            ModelElement& element = *elements[std::size_t(items[index].instance)];
            if (!gameCore.render->secondaryPass) Model::drawElement(element);
            else if (element.material()->parameters.kind < 26 || element.material()->parameters.kind > 28)
                Model::drawElementReflectionPass(element);
            return index + step;
        }
        bool renderSecondPass() override {
            for (ModelElement* element : elements) Model::drawElementShaderContextPass(*element);
            return true;
        }
        std::vector<ModelElement*> elements;

    private:
        RenderList& list_;
        RenderObject& object_;
    };

    // A camera at the origin looking down -z, the scene's current one.
    void openCamera() {
        camera = std::make_unique<CameraCore>(nullptr, "eye");
        camera->initialize(-1.0f);
        ASSERT_TRUE(camera->update(CurrentTime(-1.0)));
        render->camera = camera.get();
        render->takeCamera();
        contextObject.name = "elements";
        context = new ElementContext(render->renderList, contextObject);
        createRenderObject(contextObject, context);
    }
    void TearDown() override {
        if (render) {
            releaseRenderObject(contextObject);
            render->renderList.clearQueues();
            render->camera = nullptr;
            render->targetLinks().releaseAll();
            render->postPasses.release();
        }
        context = nullptr;
        elements.clear();
        for (Material& m : materials) m.release();
        ModelDrawGLTest::TearDown();
    }

    // A material of kind with the diffuse texture of name, lit by its
    // ambient colour alone (1.0: the texture as it is).
    Material& addMaterial(std::uint32_t kind, const char* diffuse) {
        MaterialData stored;
        stored.head.kind = kind;
        stored.links[0].init(diffuse);
        Material& m = materials.emplace_back();
        m.setupFromData(stored);
        EXPECT_TRUE(m.allocate()) << allLines();
        for (int c = 0; c < 4; ++c)
            for (float* colour : {m.colours[0], m.colours[1], m.colours[3]}) colour[c] = 1.0f;
        return m;
    }
    // A quad of the element in world space: corners a, b, c, d (a to b the
    // texture's u, a to d its v), two triangles of format "D".
    ModelElement& addQuad(Material& m, const float (&a)[3], const float (&b)[3], const float (&c)[3],
                          const float (&d)[3]) {
        const MeshVertex quad[6] = {{a[0], a[1], a[2], 0, 0}, {b[0], b[1], b[2], 1, 0}, {d[0], d[1], d[2], 0, 1},
                                    {d[0], d[1], d[2], 0, 1}, {b[0], b[1], b[2], 1, 0}, {c[0], c[1], c[2], 1, 1}};
        ModelElement& element = elements.emplace_back();
        element.world = identityMatrix();
        element.lods.push_back(level(0, quad));
        element.lods.back().material = &m;
        context->elements.push_back(&element);
        return element;
    }

    // An A8R8G8B8 checkerboard of size texels in square cells of cell texels.
    static std::vector<std::uint8_t> checker(UINT size, UINT cell) {
        texture_tools::DdsImage image;
        image.width = image.height = size;
        std::vector<std::uint8_t> texels;
        for (UINT y = 0; y < size; ++y)
            for (UINT x = 0; x < size; ++x) {
                const std::uint8_t v = ((x / cell + y / cell) % 2) ? 255 : 0;
                texels.insert(texels.end(), {v, v, v, 255});
            }
        image.blocks.push_back(texels);
        return texture_tools::writeDds(image);
    }

    // The red channel of pixel (x, y) of a surface read back.
    struct Picture {
        std::vector<std::uint8_t> bytes;
        D3DSURFACE_DESC desc{};
        int channel(UINT x, UINT y, int c) const { return bytes[(std::size_t(y) * desc.Width + x) * 4 + c]; }
        int red(UINT x, UINT y) const { return channel(x, y, 2); }
        int alpha(UINT x, UINT y) const { return channel(x, y, 3); }
        // The standard deviation of red over x0..x1, y0..y1: the contrast
        // that a blur takes away.
        double contrast(UINT x0, UINT x1, UINT y0, UINT y1) const {
            double sum = 0.0, squares = 0.0, count = 0.0;
            for (UINT y = y0; y <= y1; ++y)
                for (UINT x = x0; x <= x1; ++x, ++count) {
                    sum += red(x, y);
                    squares += double(red(x, y)) * red(x, y);
                }
            const double mean = sum / count;
            return std::sqrt(std::max(squares / count - mean * mean, 0.0));
        }
    };
    Picture readTexture(const TextureLink& link) {
        Picture picture;
        IDirect3DSurface9* surface = nullptr;
        EXPECT_TRUE(link.handler() && link.handler()->texture) << link.baseName();
        if (!link.handler() || !link.handler()->texture) return picture;
        static_cast<IDirect3DTexture9*>(link.handler()->texture)->GetSurfaceLevel(0, &surface);
        EXPECT_TRUE(platform::d3d9::readSurface(surface, picture.bytes, picture.desc));
        surface->Release();
        return picture;
    }

    // The scene pass of a frame into the back buffer (black), read back.
    Picture drawScene() {
        device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF000000u, 1.0f, 0);
        device->BeginScene();
        render->updateContexts();
        render->shaders().resetPass();
        render->renderObjectContexts();
        device->EndScene();
        Picture picture;
        readBack(picture.bytes, picture.desc);
        return picture;
    }

    std::unique_ptr<CameraCore> camera;
    RenderObject contextObject;
    ElementContext* context = nullptr;  // owned by contextObject
    std::deque<Material> materials;
    std::deque<ModelElement> elements;
};

// Depth of field: the depth pass writes each surface's blur amount into the
// frame's alpha, so that a checkerboard at the camera's focus (20 units,
// the farthest focus without a target) stays sharp while the same one
// three times as far blurs.
TEST_F(FramePassGLTest, DepthOfFieldKeepsTheFocusSharpAndBlursTheDistance) {
    // Cells of five pixels on the screen.
    textures.files["checker.dds"] = checker(32, 4);
    render->textures.allocated = true;
    textures.setup.details = 2;
    textures.setup.pp_depth = 1;
    render->postProcessing = 1;
    ASSERT_TRUE(render->allocateHDRTargets()) << allLines();
    openCamera();
    ASSERT_FLOAT_EQ(render->cameraFrame.focus[0], 20.0f);

    // The near board fills the left half of the screen at 20 units, the far
    // one the right half at 60 (horizontal factor h, vertical v: the screen
    // edge lies at d / h and d / v).
    Material& board = addMaterial(3, "checker");
    const float h = camera->horizontalFactor, v = camera->verticalFactor;
    auto corners = [&](float d, float x0, float x1) {
        const float y = d / v;
        addQuad(board, {x0 * d / h, y, -d}, {x1 * d / h, y, -d}, {x1 * d / h, -y, -d}, {x0 * d / h, -y, -d});
    };
    corners(20.0f, -1.0f, 0.0f);
    corners(60.0f, 0.0f, 1.0f);

    // The frame: the scene pass, then the post step with its depth pass.
    // The clear's alpha would blur everything.
    device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF000000u, 1.0f, 0);
    device->BeginScene();
    render->updateContexts();
    render->shaders().resetPass();
    render->renderObjectContexts();
    ASSERT_TRUE(render->postProcess(textures.setup, true)) << allLines();
    device->EndScene();
    EXPECT_EQ(textures.setup.pp_depth, 1) << allLines();
    ASSERT_TRUE(render->effectFrames[0].shown) << allLines();

    // The copy of the frame holds the blur amount: none at the focus, all
    // of it at three times the focus distance.
    const Picture copy = readTexture(render->targetLinks().hdr3);
    ASSERT_EQ(copy.desc.Width, 80u);
    EXPECT_LE(copy.alpha(20, 32), 8);
    EXPECT_GE(copy.alpha(60, 32), 247);
    const Picture shown = readTexture(render->targetLinks().poissonDof);
    const double sharp = copy.contrast(8, 31, 12, 51);
    const double near = shown.contrast(8, 31, 12, 51);
    const double far = shown.contrast(48, 71, 12, 51);
    EXPECT_GT(sharp, 90.0);
    EXPECT_NEAR(near, sharp, 0.05 * sharp) << "the board at the focus stays sharp";
    EXPECT_LT(far, 0.6 * sharp) << "the distant board blurs";
}

// The mirror pass: a lake one unit below the camera and a red wall standing
// on it, ten units ahead, over the right half of the view. Once the wall
// asks for its mirror (as a reflecting element does in its update), the
// frame's mirror pass draws the wall reflected about the lake into the
// mirror target, and the lake shows it below the wall; elsewhere the
// mirror's clear colour. Without the mirror pass the lake reflects the sky.
TEST_F(FramePassGLTest, WaterReflectsTheMirrorThatTheMirrorPassDrew) {
    textures.files["water20_normal.dds"] = solid(128, 128, 255);
    textures.files["water20_wave.dds"] = solid(128, 128, 128);
    textures.files["deep.dds"] = solid(20, 20, 20);
    textures.files["wall.dds"] = solid(230, 20, 20);
    textures.files["sky_main.dds"] = solid(40, 200, 40);
    render->textures.allocated = true;
    testing_support::CurrentSkyScene sky;
    ASSERT_TRUE(sky.open(SkyClear));
    textures.setup.details = 2;
    textures.setup.water = 1;
    textures.setup.waterReflection = 1;
    ASSERT_TRUE(render->allocateReflectionTarget()) << allLines();
    openCamera();

    struct WaterVertex {
        float x, y, z;
        float nx, ny, nz;
        std::uint32_t colour;
        float u, v;
    };
    const WaterVertex lake[6] = {
        {-200, -1, -300, 0, 1, 0, 0xFFFFFFFFu, 0, 0}, {200, -1, -300, 0, 1, 0, 0xFFFFFFFFu, 1, 0},
        {-200, -1, -1, 0, 1, 0, 0xFFFFFFFFu, 0, 1},   {-200, -1, -1, 0, 1, 0, 0xFFFFFFFFu, 0, 1},
        {200, -1, -300, 0, 1, 0, 0xFFFFFFFFu, 1, 0},  {200, -1, -1, 0, 1, 0, 0xFFFFFFFFu, 1, 1}};
    Material& water = addMaterial(26, "deep");
    for (int c = 0; c < 3; ++c) water.colours[0][c] = 0.5f;
    ModelElement& surface = elements.emplace_back();
    surface.world = identityMatrix();
    surface.lods.push_back(level(6, lake));
    surface.lods.back().material = &water;
    context->elements.push_back(&surface);
    addQuad(addMaterial(3, "wall"), {0, 6, -10}, {30, 6, -10}, {30, -1, -10}, {0, -1, -10});

    // Below the wall (right) and beside it (left), on the lake.
    auto mean = [](const Picture& p, UINT x0, UINT x1, UINT y0, UINT y1, int c) {
        double sum = 0.0, count = 0.0;
        for (UINT y = y0; y <= y1; ++y)
            for (UINT x = x0; x <= x1; ++x, ++count) sum += p.channel(x, y, c);
        return sum / count;
    };
    constexpr int kRed = 2, kGreen = 1, kBlue = 0;

    const Picture unmirrored = drawScene();
    EXPECT_EQ(render->shaders().waterNorm20.values.ambient, 4) << "no mirror drawn: the sky";
    for (const auto& [x0, x1] : {std::pair{48u, 76u}, std::pair{4u, 36u}}) {
        EXPECT_GT(mean(unmirrored, x0, x1, 44, 60, kGreen), mean(unmirrored, x0, x1, 44, 60, kRed) + 20) << x0;
        EXPECT_GT(mean(unmirrored, x0, x1, 44, 60, kGreen), mean(unmirrored, x0, x1, 44, 60, kBlue) + 20) << x0;
    }

    const float point[3] = {0.0f, -1.0f, 0.0f}, up[3] = {0.0f, 1.0f, 0.0f};
    camera->setMirrorPlane(point, up);
    ASSERT_TRUE(camera->renderMirror()) << allLines();
    ASSERT_TRUE(render->mirrorDrawn());
    const Picture mirrored = drawScene();
    EXPECT_EQ(render->shaders().waterNorm20.values.ambient, 1) << "the mirror drawn: reflection";
    const double wallRed = mean(mirrored, 48, 76, 44, 60, kRed), wallBlue = mean(mirrored, 48, 76, 44, 60, kBlue);
    const double besideRed = mean(mirrored, 4, 36, 44, 60, kRed), besideBlue = mean(mirrored, 4, 36, 44, 60, kBlue);
    EXPECT_GT(wallRed, besideRed + 40) << "the wall's reflection";
    EXPECT_GT(besideBlue, wallBlue + 20) << "the mirror's clear colour beside it";
    EXPECT_LT(mean(mirrored, 4, 76, 44, 60, kGreen), mean(unmirrored, 4, 76, 44, 60, kGreen) - 40) << "no sky";

    // The mirror is drawn once for each request: a frame whose surfaces ask
    // for none leaves it undrawn, and the lake takes the sky again.
    ASSERT_TRUE(camera->renderMirror());
    EXPECT_FALSE(render->mirrorDrawn());

    // What lies below the lake stays out of its mirror: a red slab under
    // its left half, seen from the camera's mirror image below the lake,
    // would lie in front of the reflection there.
    addQuad(addMaterial(3, "wall"), {-50, -1.5f, -40}, {0, -1.5f, -40}, {0, -1.5f, -2}, {-50, -1.5f, -2});
    camera->setMirrorPlane(point, up);
    ASSERT_TRUE(camera->renderMirror());
    const Picture reflection = readTexture(*render->builtinTextures.find("ProcMirror"));
    EXPECT_GT(mean(reflection, 4, 36, 36, 44, kBlue), mean(reflection, 4, 36, 36, 44, kRed) + 40) << "clipped";
    EXPECT_GT(mean(reflection, 48, 76, 48, 60, kRed), 150.0) << "the wall's reflection";
}

// A blended glass pane (its texture black, alpha 64) with an environment
// map: the reflection is drawn whole before the pane, which then blends
// over it by its alpha; in the pane's own pass the reflection would be cut
// to its alpha.
TEST_F(FramePassGLTest, ABlendedSurfaceShowsItsWholeReflection) {
    textures.files["redsky.dds"] = solid(230, 20, 20, 255, true);
    textures.files["glass.dds"] = solid(0, 0, 0, 64);
    render->textures.allocated = true;
    textures.setup.details = 2;
    openCamera();

    MaterialData stored;
    stored.head.kind = 1;
    stored.head.wantsBlending = 1;
    stored.links[0].init("glass");
    stored.links[2].init("redsky", 1);
    Material& pane = materials.emplace_back();
    pane.setupFromData(stored);
    ASSERT_TRUE(pane.allocate()) << allLines();
    for (int c = 0; c < 4; ++c)
        for (float* colour : {pane.colours[0], pane.colours[1], pane.colours[3]}) colour[c] = 1.0f;
    pane.setOpacity(1.0f);
    ASSERT_EQ(pane.blendMode, 2);

    struct LitVertex {
        float x, y, z;
        float nx, ny, nz;
        float u, v;
    };
    // Five units ahead, facing the camera (format "D+Normal").
    const LitVertex quad[6] = {{-2, 1.5f, -5, 0, 0, 1, 0, 0}, {2, 1.5f, -5, 0, 0, 1, 1, 0},
                               {-2, -1.5f, -5, 0, 0, 1, 0, 1}, {-2, -1.5f, -5, 0, 0, 1, 0, 1},
                               {2, 1.5f, -5, 0, 0, 1, 1, 0},   {2, -1.5f, -5, 0, 0, 1, 1, 1}};
    ModelElement& element = elements.emplace_back();
    element.world = identityMatrix();
    element.lods.push_back(level(4, quad));
    element.lods.back().material = &pane;
    context->elements.push_back(&element);

    const Picture picture = drawScene();
    // The reflection (230) behind the pane's black at alpha 64 / 255.
    const int seen = picture.red(40, 32);
    EXPECT_NEAR(seen, 230 * (255 - 64) / 255, 12) << allLines();
    EXPECT_LT(picture.channel(40, 32, 1), 40);
    EXPECT_EQ(picture.red(2, 2), 0) << "beside the pane";
}

}  // namespace

namespace {

// The element's constants read back by name from the selected programs'
// constant tables: "mWorld" is the element matrix, "mBones" takes each
// bone's palette matrix at its palette slot; a bone whose slot lies past
// the palette sends nothing.
TEST_F(ModelDrawGLTest, ShaderConstantsReadBackByName) {
    Y3Mesh mesh;
    ASSERT_TRUE(mesh_test::loadMesh(mesh,
                                    "mesh m.h m.d\nmeshstream 3\nvertex p 0 0 0 i 0 0 0 0 w 1 0 0 0\n"
                                    "vertex p 1 0 0 i 1 0 0 0 w 1 0 0 0\nvertex p 0 1 0 i 0 0 0 0 w 1 0 0 0\n"
                                    "index 0 1 2\nsubset 0 0 3 3 bones 1\n"
                                    "bone hip 0\nbone limb 1\nbone tail 5\n"));
    MaterialData data;
    data.head.kind = 3;
    data.head.boneInfluences = 1;
    material.setupFromData(data);
    material.colours[0][3] = 1.0f;
    ModelElement element;
    element.world = identityMatrix();
    element.world.m[3][0] = 4.0f;
    ModelElementLod& lod = element.lods.emplace_back();
    lod.material = &material;
    lod.mesh = &mesh;
    MeshMatrix limb;
    limb.m[3][1] = 2.5f;
    lod.palette = {MeshMatrix(), limb, MeshMatrix()};  // bone order: hip, limb, tail

    ShaderCore& shaders = render->shaders();
    MultyShaderDynamic20::Setup& v = shaders.dynamic20.values;
    v = MultyShaderDynamic20::Setup();
    v.bones = 1;
    v.ambient = 1;
    shaders.selectFamilyPrograms(shaders.dynamic20);
    ShaderProgram* vertex = shaders.currentVertexProgram();
    ASSERT_NE(vertex, nullptr) << allLines();
    Model::prepareElementShaderPass(element, -1);
    auto constant = [&](const char* name) -> VertexData* {
        const int index = shaders.mapper().find(name);
        return index < 0 ? nullptr : vertex->variables[index];
    };
    auto* world = dynamic_cast<VertexDataMatrix*>(constant("mWorld"));
    ASSERT_NE(world, nullptr);
    EXPECT_EQ(world->value.m[3][0] + world->value.m[0][3], 4.0f);
    // Three rows a slot: slots 0 and 1; the tail's slot 5 lies past the
    // palette and sends nothing.
    auto* bones = dynamic_cast<VertexDataVectorArray*>(constant("mBones"));
    ASSERT_NE(bones, nullptr);
    EXPECT_EQ(bones->used, 6);
    const float rows[6][4] = {{1, 0, 0, 0}, {0, 1, 0, 0}, {0, 0, 1, 0},
                              {1, 0, 0, 0}, {0, 1, 0, 2.5f}, {0, 0, 1, 0}};
    for (int r = 0; r < 6; ++r)
        for (int c = 0; c < 4; ++c) EXPECT_EQ(bones->values[r][c], rows[r][c]) << r << " " << c;
}

}  // namespace

namespace {

// The written panel: a quad of half size 0.25 facing the viewer (format 4:
// position, normal, texture), clockwise on screen, its texture's left half
// red and its right half blue.
std::string paintedPanel(texture_tools::MemoryTextureEnvironment& textures) {
    texture_tools::DdsImage paint;
    paint.width = paint.height = 8;
    std::vector<std::uint8_t> texels;
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x)
            texels.insert(texels.end(), x < 4 ? std::initializer_list<std::uint8_t>{0, 0, 220, 255}
                                              : std::initializer_list<std::uint8_t>{220, 0, 0, 255});
    paint.blocks.push_back(texels);
    textures.files["paint.dds"] = texture_tools::writeDds(paint);
    return "model panel\nelement face\nlod\nmeshstream 4\n"
           "vertex p -0.25 0.25 0.5 n 0 0 -1 t 0 0\nvertex p 0.25 0.25 0.5 n 0 0 -1 t 1 0\n"
           "vertex p -0.25 -0.25 0.5 n 0 0 -1 t 0 1\nvertex p 0.25 -0.25 0.5 n 0 0 -1 t 1 1\n"
           "index 0 1 2 2 1 3\nsubset 0 0 6 4 kind 6 diffuse paint\nbox 0.25 0.25 0.05 at 0 0 0.5\n"
           "lod\nbox 0.5 0.5 0.5\nlod\nbox 0.5 0.5 0.5\n";
}

// A directional light along +z of a grey level, loaded into its resource
// record as a scene's light file would be, then added to the scene and
// pushed. flags and material are the resource's (fill light, lighting
// classes).
Light* addLightAlongZ(Scene& scene, const char* name, float grey, std::uint32_t flags = 0,
                      std::uint32_t material = 2) {
    std::unique_ptr<Y3Light> source = Y3Light::create(1);
    copyName128(source->name, name);
    for (float& c : source->colour) c = grey;
    source->flags |= flags;
    source->material = material;
    Matrix34 along = matrix34Identity();
    along.m[6] = 0.0f, along.m[7] = 0.0f, along.m[8] = 1.0f;
    source->setPose(along);
    if (!lightDataManager().getOrCreate(name)->load(source.get())) return nullptr;
    Light* light = scene.addLight(name, name, false);
    if (!light) return nullptr;
    if (!light->onStack() && !light->push()) return nullptr;
    light->updatePhase0(CurrentTime{}, 0);
    return light;
}

// The painted panel placed half a screen right in the scene, pushed and
// drawn this frame, its lights collected by its deferred update; null when
// a step failed.
Model* placeLitPanel(Scene& scene) {
    Matrix34 pose = matrix34Identity();
    pose.m[9] = 0.5f;
    auto* model = static_cast<Model*>(scene.createModel("panel", "sign", pose, 0));
    if (!model || !model->push()) return nullptr;
    model->stateWords[0] |= kModelDrawnThisFrame;
    return model->updateDeferred() ? model : nullptr;
}

// A model of the model writer's, created in a scene with one light, pushed
// and drawn through its element: its texture's two halves show where the
// model stands (placed half a screen right), and nothing elsewhere; the
// light brightens it.
TEST_F(ModelDrawGLTest, AWrittenModelInALitSceneShowsItsColoursWhereItStands) {
    testing_support::CameraScene world{paintedPanel(textures)};
    render->textures.allocated = true;
    Scene& scene = *world.scene;
    // A grey light along +z.
    Light* sun = addLightAlongZ(scene, "panel_sun", 0.5f);
    ASSERT_NE(sun, nullptr) << allLines();

    Matrix34 pose = matrix34Identity();
    pose.m[9] = 0.5f;
    auto* model = static_cast<Model*>(scene.createModel("panel", "sign", pose, 0));
    ASSERT_NE(model, nullptr) << allLines();
    ASSERT_TRUE(model->push()) << allLines();
    model->stateWords[0] |= kModelDrawnThisFrame;
    ASSERT_TRUE(model->updateDeferred());  // collects the lights of its lit element
    ModelElement& element = model->elements.at(0);
    ASSERT_EQ(element.lights.size(), 1u) << allLines();

    auto draw = [&](int details) { return renderElement(element, details); };
    auto at = [](const std::vector<std::uint8_t>& bytes, int x, int y) {
        const std::uint8_t* p = &bytes[(std::size_t(y) * 64 + std::size_t(x)) * 4];
        return Rgb{p[2], p[1], p[0]};
    };
    for (int details : {0, 1}) {
        const std::vector<std::uint8_t> bytes = draw(details);
        ASSERT_EQ(bytes.size(), std::size_t(64) * 64 * 4);
        // The quad covers columns 40 to 56 and rows 24 to 40.
        const Rgb left = at(bytes, 44, 32), right = at(bytes, 52, 32);
        EXPECT_GT(left.r, 60) << details;
        EXPECT_LT(left.b, 10) << details;
        EXPECT_GT(right.b, 60) << details;
        EXPECT_LT(right.r, 10) << details;
        for (const auto& [x, y] : {std::pair{20, 32}, {48, 10}, {48, 52}, {30, 32}}) {
            const Rgb outside = at(bytes, x, y);
            EXPECT_EQ(outside.r + outside.g + outside.b, 0) << details << " at " << x << "," << y;
        }
    }
    // Without its light the element is darker on the lit paths.
    const Rgb lit = at(draw(1), 44, 32);
    sun->setVisible(false);
    const Rgb unlit = at(draw(1), 44, 32);
    EXPECT_GT(lit.r, unlit.r + 20);
    scene.deleteModel(model);
}

// A texture set above 0 draws the set's own texture ("paint-t1" for the
// stored "paint"), and set 0 the stored one again; a set whose texture the
// packages lack is reported with the set's number.
TEST_F(ModelDrawGLTest, ATextureSetDrawsItsOwnTexturesAndAMissingSetIsReported) {
    testing_support::CameraScene world{paintedPanel(textures)};
    textures.files["paint-t1.dds"] = solid(0, 220, 0);
    render->textures.allocated = true;
    Scene& scene = *world.scene;
    ASSERT_NE(addLightAlongZ(scene, "panel_sun", 0.5f), nullptr) << allLines();
    Matrix34 pose = matrix34Identity();
    pose.m[9] = 0.5f;
    auto* model = static_cast<Model*>(scene.createModel("panel", "sign", pose, 0));
    ASSERT_NE(model, nullptr) << allLines();
    ASSERT_TRUE(model->push()) << allLines();
    ModelElement& element = model->elements.at(0);
    // The colours at the quad's two halves after choosing a set the way the
    // script's "texture" property does.
    auto halves = [&](std::int32_t set) {
        model->setTextureSet(set);
        model->stateWords[0] |= kModelDrawnThisFrame;
        EXPECT_TRUE(model->updateDeferred());
        const std::vector<std::uint8_t> bytes = renderElement(element, 1);
        std::array<Rgb, 2> out{};
        if (bytes.size() != std::size_t(64) * 64 * 4) return out;
        for (int i = 0; i < 2; ++i) {
            const std::uint8_t* p = &bytes[(std::size_t(32) * 64 + std::size_t(i ? 52 : 44)) * 4];
            out[std::size_t(i)] = Rgb{p[2], p[1], p[0]};
        }
        return out;
    };
    for (const Rgb& half : halves(1)) {
        EXPECT_GT(half.g, 60) << allLines();
        EXPECT_LT(half.r + half.b, 20);
    }
    EXPECT_EQ(element.lod()->materials.at(0)->textures[Material::SlotDiffuse].name(), std::string("paint-t1"));
    const std::array<Rgb, 2> stored = halves(0);
    EXPECT_GT(stored[0].r, 60);
    EXPECT_GT(stored[1].b, 60);
    EXPECT_LT(stored[0].g + stored[1].g, 20);

    model->setTextureSet(2);
    bool reported = false;
    for (const LogRecord& record : engineLog().records())
        reported = reported || record.text.find("Can't allocate material 0 for element [face] texture 2") == 0;
    EXPECT_TRUE(reported);
    EXPECT_FALSE(element.flags & kElementPushed);
    scene.deleteModel(model);
}

// Each render sorts the element's lights for the camera distance: within
// the resource's fill range a fill light only adds its fill colour to the
// material's ambient; between the ranges every light takes a pass; beyond
// the no-light range (below the high detail level) every light adds its
// fill colour instead, which the unlit picture shows. A light of the other
// lighting class and a hidden light take no part.
TEST_F(ModelDrawGLTest, TheElementsLightsSortIntoPassesAndFillColoursByDistance) {
    VariablesCore variables;
    testing_support::ScopedCoreMember<VariablesCore> useVariables{gameCore.variables, &variables};
    ScriptVariable* root = variables.globals().ensureRoot();
    for (const auto& [range, value] : {std::pair{"lod1", 100.0f}, {"fill_light", 2.0f}, {"no_light", 3.0f}}) {
        const std::string path = std::string("levelofdetails.entry.range.") + range + ".panel";
        ASSERT_TRUE(root->createPath(path.c_str()));
        root->resolvePath(path.c_str())->setNumber(value);
    }
    testing_support::CameraScene world{paintedPanel(textures)};
    render->textures.allocated = true;
    Scene& scene = *world.scene;
    Light* key = addLightAlongZ(scene, "key", 0.4f);
    Light* glow = addLightAlongZ(scene, "glow", 0.2f, kY3LightFill);
    Light* inside = addLightAlongZ(scene, "inside", 0.5f, 0, 1);  // lights interior materials only
    Light* hidden = addLightAlongZ(scene, "hidden", 0.5f);
    ASSERT_TRUE(key && glow && inside && hidden) << allLines();
    hidden->setVisible(false);

    Model* model = placeLitPanel(scene);
    ASSERT_NE(model, nullptr) << allLines();
    ModelElement& element = model->elements.at(0);
    ASSERT_EQ(element.lights.size(), 4u) << allLines();
    Material& material = *element.lod()->materials.at(0);
    ASSERT_EQ(material.parameters.lightSetIndex, 0u);

    float keyFill[3] = {}, glowFill[3] = {};
    key->accumulateFillColor(0, keyFill);
    glow->accumulateFillColor(0, glowFill);
    ASSERT_GT(glowFill[0], 0.0f);
    const float none[3] = {};
    const float both[3] = {keyFill[0] + glowFill[0], keyFill[1] + glowFill[1], keyFill[2] + glowFill[2]};
    struct Case {
        const char* what;
        float distance;  // squared, as the ranges are kept
        int details;
        bool keyPass, glowPass;
        const float* fill;
    };
    const Case cases[] = {
        {"within the fill range", 1.0f, 1, true, false, glowFill},
        {"between the ranges", 5.0f, 1, true, true, none},
        {"beyond the no-light range", 16.0f, 1, false, false, both},
        {"beyond it at the high detail level", 16.0f, 2, true, true, none},
    };
    for (const Case& c : cases) {
        textures.setup.details = c.details;
        for (Light* light : {key, glow, inside, hidden}) light->flags |= kLightPassMark;
        device->BeginScene();
        EXPECT_TRUE(element.render(c.distance)) << c.what << allLines();
        device->EndScene();
        EXPECT_EQ((key->flags & kLightPassMark) != 0, c.keyPass) << c.what;
        EXPECT_EQ((glow->flags & kLightPassMark) != 0, c.glowPass) << c.what;
        EXPECT_EQ(inside->flags & kLightPassMark, 0u) << c.what;
        EXPECT_EQ(hidden->flags & kLightPassMark, 0u) << c.what;
        for (int i = 0; i < 3; ++i) EXPECT_FLOAT_EQ(material.ambientTerm[i], c.fill[i]) << c.what << " " << i;
    }

    // Beyond the no-light range the unlit draw is brighter by the fill
    // colours than with every light hidden.
    textures.setup.details = 1;
    auto redAt = [&](float distance) {
        device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF000000u, 1.0f, 0);
        device->BeginScene();
        EXPECT_TRUE(element.render(distance)) << allLines();
        device->EndScene();
        std::vector<std::uint8_t> bytes;
        D3DSURFACE_DESC desc{};
        readBack(bytes, desc);
        return bytes.at((std::size_t(32) * 64 + 44) * 4 + 2);
    };
    const int filled = redAt(16.0f);
    for (Light* light : {key, glow, inside}) light->setVisible(false);
    const int dark = redAt(16.0f);
    EXPECT_GT(filled, dark + 20);
    scene.deleteModel(model);
}

// A drawn water element hands the camera its plane every frame (its
// position and up axis), wherever the pond lies: the mirror reflects about
// it.
TEST_F(ModelDrawGLTest, AReflectingElementHandsTheCameraItsPlane) {
    textures.files["deep.dds"] = solid(20, 20, 20);
    render->textures.allocated = true;
    textures.setup.details = 1;
    textures.setup.water = 1;
    textures.setup.waterReflection = 1;
    ASSERT_TRUE(render->allocateReflectionTarget()) << allLines();
    ProcMirror* mirror = render->mirrorTarget();
    ASSERT_NE(mirror, nullptr);
    testing_support::CameraScene world{
        {"model pond\nelement surface\nlod\nmeshstream 4\n"
         "vertex p -1 0 -1 n 0 1 0 t 0 0\nvertex p 1 0 -1 n 0 1 0 t 1 0\n"
         "vertex p -1 0 1 n 0 1 0 t 0 1\nvertex p 1 0 1 n 0 1 0 t 1 1\n"
         "index 0 1 2 2 1 3\nsubset 0 0 6 4 kind 26 diffuse deep\nbox 1 0.05 1\n"
         "lod\nbox 1 1 1\nlod\nbox 1 1 1\n"}};
    world.camera().pose = testing_support::poseAt(0.0f, 0.0f, 8.0f);
    for (const float height : {2.0f, -1.5f, 0.25f}) {
        SCOPED_TRACE(height);
        auto* pond = static_cast<Model*>(world.scene->createModel("pond", "pond", testing_support::poseAt(0, height, 0), 0));
        ASSERT_NE(pond, nullptr) << allLines();
        ASSERT_TRUE(pond->push()) << allLines();
        ASSERT_TRUE(pond->elements.at(0).flags & kElementReflects);
        mirror->renderRequested = false;
        // A frame: the camera takes its pose, the renderer culls the pond;
        // then the first model pass with the scheduler's reflection bit.
        const CurrentTime sample = testing_support::frameAt(1.0, 1.0 / 60.0);
        EXPECT_TRUE(world.scene->updatePhase1(sample, 0));
        render->takeCamera();
        render->updateContexts();
        ASSERT_TRUE(pond->stateWords[0] & kModelDrawnThisFrame);
        pond->prepareFrame(sample, 2);
        EXPECT_TRUE(mirror->renderRequested);
        EXPECT_FLOAT_EQ(mirror->mirrorPoint[1], height);
        EXPECT_FLOAT_EQ(mirror->mirrorNormal[1], 1.0f);
        world.scene->deleteModel(pond);
    }
}

// An element of an interior material (its light class 1) is lit by the
// lights of the interior and of both classes; an exterior light leaves it
// as dark as no light.
TEST_F(ModelDrawGLTest, AnInteriorMaterialIsLitByTheLightsOfItsClass) {
    std::string panel = paintedPanel(textures);
    const std::string subset = "kind 6 diffuse paint";
    panel.replace(panel.find(subset), subset.size(), subset + " interior");
    // A dim grey leaves room for the light on both paths.
    textures.files["paint.dds"] = solid(50, 50, 50);
    testing_support::CameraScene world{panel};
    render->textures.allocated = true;
    Scene& scene = *world.scene;
    const struct {
        const char* name;
        std::uint32_t lightClass;
        bool lights;
    } cases[] = {{"indoor_lamp", 1, true}, {"any_lamp", 2, true}, {"street_lamp", 0, false}};
    std::vector<Light*> lamps;
    for (const auto& c : cases) {
        lamps.push_back(addLightAlongZ(scene, c.name, 0.5f, 0, c.lightClass));
        ASSERT_NE(lamps.back(), nullptr) << c.name << allLines();
    }
    Model* model = placeLitPanel(scene);
    ASSERT_NE(model, nullptr) << allLines();
    ModelElement& element = model->elements.at(0);
    ASSERT_EQ(element.lights.size(), std::size(cases)) << allLines();
    ASSERT_EQ(element.lod()->materials.at(0)->parameters.lightSetIndex, 1u);
    const auto redAt = [&](int details) { return int(renderElement(element, details).at((32 * 64 + 44) * 4 + 2)); };
    // The shader paths (the fixed pipeline draws its unlit pass at full
    // strength, so its lit and unlit pictures do not order).
    for (int details : {1, 2}) {
        for (Light* lamp : lamps) lamp->setVisible(false);
        const int dark = redAt(details);
        for (std::size_t i = 0; i < lamps.size(); ++i) {
            SCOPED_TRACE(testing::Message() << cases[i].name << " at details " << details);
            for (Light* lamp : lamps) lamp->setVisible(lamp == lamps[i]);
            const int seen = redAt(details);
            if (cases[i].lights) EXPECT_GT(seen, dark + 20);
            else EXPECT_NEAR(seen, dark, 3);
        }
    }
    scene.deleteModel(model);
}

// A skinned element whose second bone is turned a quarter about z draws the
// same picture through the fixed pipeline (the CPU-skinned copy) and through
// the shader path (the palette in "mBones").
TEST_F(ModelDrawGLTest, ASkinnedElementDrawsAlikeOnTheCpuAndThroughThePalette) {
    textures.files["chalk.dds"] = solid(255, 255, 255);
    render->textures.allocated = true;
    Y3Mesh mesh;
    ASSERT_TRUE(mesh_test::loadMesh(mesh,
                                    "mesh l.mh l.my\nmeshstream 3\n"
                                    "vertex p 0 -0.05 0.5 c 0xFFFFFFFF t 0 0 i 0 0 0 0 w 1 0 0 0\n"
                                    "vertex p 0 0.05 0.5 c 0xFFFFFFFF t 0 1 i 0 0 0 0 w 1 0 0 0\n"
                                    "vertex p 0.8 -0.05 0.5 c 0xFFFFFFFF t 1 0 i 1 0 0 0 w 1 0 0 0\n"
                                    "vertex p 0.8 0.05 0.5 c 0xFFFFFFFF t 1 1 i 1 0 0 0 w 1 0 0 0\n"
                                    "index 0 1 2 2 1 3\nsubset 0 0 6 4 kind 3 bones 1 face 1 diffuse chalk\n"
                                    "bone hip 0\nbone limb 1\n"))
        << allLines();
    MeshMatrix turn;
    turn.m[0][0] = 0, turn.m[0][1] = 1, turn.m[1][0] = -1, turn.m[1][1] = 0;  // +x goes to +y
    ModelElement element;
    element.world = identityMatrix();
    ModelElementLod& lod = element.lods.emplace_back();
    lod.setMesh(mesh);
    lod.palette = {MeshMatrix(), turn};  // bone order: hip, limb
    lod.boneIndices = {-1, -1};

    auto picture = [&](int details) {
        textures.setup.details = details;
        for (auto& made : lod.materials) {
            made->release();
            made->setupFromData(mesh.subset(0).material);
            EXPECT_TRUE(made->allocate()) << allLines();
            for (int c = 0; c < 4; ++c) made->colours[0][c] = made->colours[1][c] = 1.0f;
        }
        lod.material = lod.materials.front().get();
        device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF000000u, 1.0f, 0);
        device->BeginScene();
        EXPECT_TRUE(Model::drawElementKind(element, -1)) << allLines();
        device->EndScene();
        std::vector<std::uint8_t> bytes;
        D3DSURFACE_DESC desc{};
        readBack(bytes, desc);
        std::vector<bool> covered;
        for (std::size_t i = 0; i + 3 < bytes.size(); i += 4)
            covered.push_back(bytes[i] > 60 || bytes[i + 1] > 60 || bytes[i + 2] > 60);
        return covered;
    };
    // The fixed pipeline draws the CPU-skinned copy of the mesh.
    MeshAnimInstance* instance = mesh.createAnimInstance();
    ASSERT_NE(instance, nullptr);
    ASSERT_TRUE(instance->allocate()) << allLines();
    instance->skin(lod.palette.data(), 2);
    lod.meshInstance = instance;
    const std::vector<bool> cpu = picture(0);
    // The shader path draws the mesh itself with the palette.
    lod.meshInstance = nullptr;
    const std::vector<bool> shader = picture(1);
    ASSERT_EQ(cpu.size(), std::size_t(64) * 64);
    ASSERT_EQ(shader.size(), cpu.size());
    int cpuCount = 0, differing = 0;
    for (std::size_t i = 0; i < cpu.size(); ++i) {
        cpuCount += cpu[i];
        differing += cpu[i] != shader[i];
    }
    EXPECT_GT(cpuCount, 40);
    EXPECT_LE(differing, 6);
    // Turned up the screen (clip y 0.8 is row 6), not to the right.
    auto covered = [](const std::vector<bool>& c, int x, int y) { return bool(c[std::size_t(y) * 64 + std::size_t(x)]); };
    for (const std::vector<bool>* one : {&cpu, &shader}) {
        bool up = false;
        for (int x = 28; x < 36; ++x) up = up || covered(*one, x, 8);
        EXPECT_TRUE(up);
        EXPECT_FALSE(covered(*one, 56, 32));
    }
    for (auto& made : lod.materials) made->release();
    instance->deallocate();
    mesh.destroyAnimInstance(instance);
}

}  // namespace

namespace {

// Models drawn through the render core's frame: the scene camera placed at a
// distance along +z looking back at the origin, the model's context culled,
// updated and drawn by the core's passes, the centre of the picture read.
class ModelContextGLTest : public ModelDrawGLTest {
protected:
    // One quad of half size 1 in the model's plane z = 0, both windings,
    // at each level a texture of its own.
    static std::string quadLevel(const char* texture) {
        return std::string("lod\nmeshstream 4\n") +
               "vertex p -1 1 0 n 0 0 1 t 0 0\nvertex p 1 1 0 n 0 0 1 t 1 0\n"
               "vertex p -1 -1 0 n 0 0 1 t 0 1\nvertex p 1 -1 0 n 0 0 1 t 1 1\n"
               "index 0 1 2 2 1 3 0 2 1 2 3 1\nsubset 0 0 12 4 kind 3 diffuse " +
               texture + "\nbox 1 1 0.05\n";
    }

    // A small quad (half size 0.25, both windings) whose models may be
    // merged into static-instance groups.
    static std::string stackLevel() {
        return "lod\nmeshstream 4\n"
               "vertex p -0.25 0.25 0 n 0 0 1 t 0 0\nvertex p 0.25 0.25 0 n 0 0 1 t 1 0\n"
               "vertex p -0.25 -0.25 0 n 0 0 1 t 0 1\nvertex p 0.25 -0.25 0 n 0 0 1 t 1 1\n"
               "index 0 1 2 2 1 3 0 2 1 2 3 1\nsubset 0 0 12 4 kind 3 diffuse level1 instanced\nbox 0.25 0.25 0.05\n";
    }

    void SetUp() override {
        ModelDrawGLTest::SetUp();
        if (HasFatalFailure()) return;
        textures.files["level0.dds"] = solid(220, 0, 0);
        textures.files["level1.dds"] = solid(0, 220, 0);
        textures.files["level2.dds"] = solid(0, 0, 220);
        render->textures.allocated = true;
        root = variables.globals().ensureRoot();
        world = std::make_unique<testing_support::CameraScene>(std::initializer_list<std::string>{
            "model tiers\nelement body\n" + quadLevel("level0") + quadLevel("level1") + quadLevel("level2"),
            "model stack\nelement body\n" + stackLevel() + stackLevel() + stackLevel()});
        // Camera mode 1 keeps the pose placed here.
        savedCameraMode = gameCore.cameraMode;
        gameCore.cameraMode = 1;
        render->camera = &world->camera();
    }
    void TearDown() override {
        if (render) {
            render->renderList.clearQueues();
            render->camera = nullptr;
        }
        world.reset();
        gameCore.cameraMode = savedCameraMode;
        ModelDrawGLTest::TearDown();
    }

    // A range of "levelofdetails" for the resource, in units.
    void setRange(const char* range, float value) {
        const std::string path = std::string("levelofdetails.entry.range.") + range + ".tiers";
        ASSERT_TRUE(root->createPath(path.c_str()));
        root->resolvePath(path.c_str())->setNumber(value);
    }

    // One frame of the game with the camera distance units from the model:
    // the scene's simulation step (its camera keeps the pose placed here),
    // then the render core's culling and update of the contexts, the
    // scene's render hook and the object pass. The colour at the picture's
    // centre.
    Rgb frameFrom(float distance) {
        const std::vector<std::uint8_t> bytes = framePicture(distance);
        const std::size_t width = 64;
        if (bytes.size() < (std::size_t(32) * width + 33) * 4) return {};
        const std::uint8_t* p = &bytes[(std::size_t(32) * width + 32) * 4];
        return {p[2], p[1], p[0]};
    }

    // The same frame; the whole picture.
    std::vector<std::uint8_t> framePicture(float distance) {
        Scene& scene = *world->scene;
        world->camera().pose = testing_support::poseAt(0.0f, 0.0f, distance);
        frameTime += 0.1;
        const CurrentTime sample = testing_support::frameAt(frameTime, 0.1);
        EXPECT_TRUE(scene.updatePhase0(sample, 0));
        EXPECT_TRUE(scene.updatePhase1(sample, 0));
        render->takeCamera();
        render->updateContexts();
        return objectPass(0xFF000000u, [&] { scene.updatePhase2(CurrentTime(-1.0), 0); });
    }

    VariablesCore variables;
    testing_support::ScopedCoreMember<VariablesCore> useVariables{gameCore.variables, &variables};
    ScriptVariable* root = nullptr;
    std::unique_ptr<testing_support::CameraScene> world;
    std::int32_t savedCameraMode = 0;
    double frameTime = 0.0;
};

// Nearer than the first range the model shows its level-0 colour, past it
// the level-1 colour, past the second the level-2 colour, past the hide
// distance nothing, and coming back near the level-0 colour again; on the
// fixed pipeline ("ffp_" ranges) and the shader path alike.
TEST_F(ModelContextGLTest, EachRangeShowsItsLevelsColourAndPastTheHideDistanceNothing) {
    setRange("lod1", 3.0f);
    setRange("lod2", 6.0f);
    setRange("hide", 9.0f);
    setRange("ffp_lod1", 3.0f);
    setRange("ffp_lod2", 6.0f);
    setRange("ffp_hide", 9.0f);
    for (int details : {0, 1}) {
        textures.setup.details = details;
        auto* model = static_cast<Model*>(world->scene->createModel("tiers", "tiers_a", matrix34Identity(), 0));
        ASSERT_NE(model, nullptr) << allLines();
        ASSERT_TRUE(model->push()) << allLines();
        ASSERT_TRUE(model->resource->hasRanges);
        // The level's channel (the fixed pipeline doubles the texture, so
        // it may saturate), -1: nothing drawn.
        const struct {
            float distance;
            int channel;
        } cases[] = {{2.0f, 0}, {4.0f, 1}, {7.5f, 2}, {10.0f, -1}, {2.0f, 0}};
        for (const auto& c : cases) {
            const Rgb seen = frameFrom(c.distance);
            const int channels[3] = {seen.r, seen.g, seen.b};
            for (int k = 0; k < 3; ++k) {
                if (k == c.channel) EXPECT_GT(channels[k], 180) << details << " at " << c.distance << allLines();
                else EXPECT_LT(channels[k], 12) << details << " at " << c.distance << " channel " << k;
            }
        }
        ASSERT_TRUE(world->scene->deleteModel(model));
    }
}

// Props whose level asks for instancing, placed in the scene and pushed as
// the game pushes them: with "min_instances_per_group" at 3 the four form
// one group, drawn with one call in the object pass and one in the second
// (shader-only) pass, and they cover the same pixels as the four drawn one
// by one with instancing off; also after one of them moved. On the fixed
// pipeline and the shader path alike.
TEST_F(ModelContextGLTest, AGroupOfPropsCoversWhatThePropsDrawnAloneCover) {
    IniFile ini;
    testing_support::ScopedCoreMember<IniFile> useSettings{gameCore.settings, &ini};
    const float places[4][2] = {{-1.2f, 0.8f}, {0.0f, 0.8f}, {1.2f, -0.4f}, {-0.6f, -1.0f}};
    struct Seen {
        std::vector<std::uint8_t> objects, secondPass;
        int objectDraws = 0, secondDraws = 0;
    };
    // One run: the props made and pushed, a frame, one prop moved, a frame;
    // what each frame showed and the mesh draws it issued.
    auto run = [&](const char* minimum, int details) {
        ini.getCategory("render").getVariable("min_instances_per_group").setString(minimum);
        Y3Mesh::readConfig();
        textures.setup.details = details;
        std::vector<Model*> props;
        for (int i = 0; i < 4; ++i) {
            Matrix34 pose = matrix34Identity();
            pose.m[9] = places[i][0];
            pose.m[10] = places[i][1];
            const std::string name = "stack_" + std::to_string(i);
            props.push_back(static_cast<Model*>(world->scene->createModel("stack", name.c_str(), pose, 0)));
            EXPECT_NE(props.back(), nullptr) << allLines();
            if (!props.back()) return std::vector<Seen>{};
            EXPECT_TRUE(props.back()->push()) << allLines();
        }
        auto draws = [&] {
            int sum = 0;
            for (Model* prop : props) sum += prop->elements[0].drawCount;
            return sum;
        };
        std::vector<Seen> frames;
        for (int step = 0; step < 2; ++step) {
            if (step == 1) {
                Matrix34 pose = props[0]->worldMatrix;
                pose.m[9] += 0.5f;
                pose.m[10] -= 0.3f;
                props[0]->setPose(pose, testing_support::frameAt(frameTime, 0.1));
            }
            Seen seen;
            int before = draws();
            seen.objects = framePicture(6.0f);
            seen.objectDraws = draws() - before;
            // The second pass alone, over the same frame's contexts.
            before = draws();
            device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF000000u, 1.0f, 0);
            device->BeginScene();
            render->shaders().resetPass();
            render->renderContextsShaderPass();
            device->EndScene();
            D3DSURFACE_DESC desc{};
            readBack(seen.secondPass, desc);
            seen.secondDraws = draws() - before;
            frames.push_back(std::move(seen));
        }
        for (Model* prop : props) EXPECT_TRUE(world->scene->deleteModel(prop));
        return frames;
    };
    auto covered = [](const std::vector<std::uint8_t>& bytes) {
        int count = 0;
        for (std::size_t i = 0; i + 3 < bytes.size(); i += 4)
            if (bytes[i] > 40 || bytes[i + 1] > 40 || bytes[i + 2] > 40) ++count;
        return count;
    };
    using d3d9_scenes::differingPixels;
    for (int details : {0, 1}) {
        const std::vector<Seen> alone = run("-1", details);
        const std::vector<Seen> grouped = run("3", details);
        ASSERT_EQ(alone.size(), 2u);
        ASSERT_EQ(grouped.size(), 2u);
        for (std::size_t f = 0; f < 2; ++f) {
            SCOPED_TRACE(testing::Message() << "details " << details << " frame " << f);
            // Four props of about 5 x 5 pixels each.
            EXPECT_GT(covered(alone[f].objects), 4 * 12) << allLines();
            EXPECT_EQ(differingPixels(grouped[f].objects, alone[f].objects), 0u);
            EXPECT_EQ(alone[f].objectDraws, 4);
            EXPECT_EQ(grouped[f].objectDraws, 1);
            if (details == 0) continue;  // the second pass is the shader path's
            EXPECT_EQ(differingPixels(grouped[f].secondPass, alone[f].secondPass), 0u);
            EXPECT_EQ(alone[f].secondDraws, 4);
            EXPECT_EQ(grouped[f].secondDraws, 1);
        }
        EXPECT_GT(differingPixels(alone[0].objects, alone[1].objects), 0u) << "the moved prop shows where it went";
    }
    ini.getCategory("render").getVariable("min_instances_per_group").setString("-1");
    Y3Mesh::readConfig();
}

}  // namespace

// A sprite of the packages in the current scene, drawn through the render
// list as the frame draws it: under a camera of type 7 its shown elements
// cover their screen regions with their textures and a hidden one leaves
// the clear colour; under a camera of type 2 nothing of it is drawn.
TEST_F(ModelDrawGLTest, ASpriteShowsItsShownElementsOnlyUnderASpriteCamera) {
    // background covers the left half of the 1024 x 768 screen, bg-sky the
    // top right quarter, door the bottom right quarter.
    Y3ModelSprite panel;
    const struct {
        const char* name;
        std::int16_t x, y;
    } places[] = {{"background", 0, 0}, {"bg-sky", 512, 0}, {"door", 512, 384}};
    for (const auto& place : places) {
        SpriteElementData element;
        copyName128(element.name, place.name);
        copyName128(element.texture, (std::string(place.name) + "_t").c_str());
        element.x = place.x;
        element.y = place.y;
        element.dx = 512;
        element.dy = place.x == 0 ? 768 : 384;
        panel.elements.push_back(element);
    }
    textures.files["background_t.dds"] = solid(220, 0, 0);
    textures.files["bg-sky_t.dds"] = solid(0, 0, 220);
    textures.files["door_t.dds"] = solid(0, 220, 0);
    render->textures.allocated = true;

    testing_support::CameraScene world{{}, {{".sprite", "panel", model_tools::modelFileBytes(panel, "panel", true), ""}}};
    SaveGame game;
    testing_support::ScopedCoreMember<SaveGame> useGame{gameCore.game, &game};
    game.scenes.push_back(world.scene->id);
    game.currentIndex = 0;
    SpriteDataManager sprites;
    testing_support::ScopedCoreMember<SpriteDataManager> useSprites{gameCore.spriteData, &sprites};

    std::unique_ptr<Sprite> sprite{Sprite::create(*world.scene, "panel", "hall", false)};
    ASSERT_NE(sprite, nullptr) << allLines();
    ASSERT_TRUE(sprite->initialize(matrix34Identity()));
    sprite->setVisible(true);
    ASSERT_TRUE(sprite->pushed()) << allLines();

    auto frame = [&] {
        device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF000000u, 1.0f, 0);
        device->BeginScene();
        render->updateContexts();
        render->renderObjectContexts();
        render->quadBatch.flush();
        device->EndScene();
        std::vector<std::uint8_t> bytes;
        D3DSURFACE_DESC desc{};
        readBack(bytes, desc);
        return bytes;
    };
    auto at = [](const std::vector<std::uint8_t>& bytes, int x, int y) {
        const std::uint8_t* p = &bytes[(std::size_t(y) * 64 + std::size_t(x)) * 4];
        return Rgb{p[2], p[1], p[0]};
    };
    auto near = [](Rgb seen, Rgb want) {
        return std::abs(seen.r - want.r) < 24 && std::abs(seen.g - want.g) < 24 && std::abs(seen.b - want.b) < 24;
    };
    const Rgb red{220, 0, 0}, blue{0, 0, 220}, green{0, 220, 0}, black{0, 0, 0};
    const struct {
        std::int32_t gameMode;  // 9: camera type 7, 0: camera type 2
        bool doorShown;
        Rgb left, topRight, bottomRight;
    } cases[] = {
        {9, false, red, blue, black},
        {9, true, red, blue, green},
        {0, true, black, black, black},
    };
    for (const auto& c : cases) {
        gameCore.setCameraMode(c.gameMode, CurrentTime(-1.0));
        ASSERT_EQ(world.camera().effectiveMode(), c.gameMode == 9 ? 7u : 2u);
        if (c.doorShown) sprite->setElementShown(std::size_t(sprite->findElement("door")), true);
        const std::vector<std::uint8_t> bytes = frame();
        ASSERT_EQ(bytes.size(), std::size_t(64) * 64 * 4);
        const Rgb left = at(bytes, 16, 32), topRight = at(bytes, 48, 16), bottomRight = at(bytes, 48, 48);
        EXPECT_TRUE(near(left, c.left)) << c.gameMode << ": " << left.r << "," << left.g << "," << left.b;
        EXPECT_TRUE(near(topRight, c.topRight)) << c.gameMode << ": " << topRight.r << "," << topRight.g << ","
                                                << topRight.b;
        EXPECT_TRUE(near(bottomRight, c.bottomRight))
            << c.gameMode << " door " << c.doorShown << ": " << bottomRight.r << "," << bottomRight.g << ","
            << bottomRight.b;
    }
    sprite->setVisible(false);
    EXPECT_FALSE(sprite->pushed());
}

namespace {

// A floor model: a strip of eight quads from x -1 to 1, y -0.5 to 0.5 at
// depth 0.5, so that lighting per vertex follows a light across it; the
// text ends at its subset's kind, which the caller writes with the rest.
std::string floorStrip() {
    std::string floor = "model floor\nelement face\nlod\nmeshstream 4\n";
    for (int column = 0; column <= 8; ++column) {
        const float x = -1.0f + 0.25f * float(column);
        for (const float y : {0.5f, -0.5f})
            floor += "vertex p " + std::to_string(x) + " " + std::to_string(y) + " 0.5 n 0 0 -1 t " +
                     std::to_string(column / 8.0f) + (y > 0.0f ? " 0\n" : " 1\n");
    }
    floor += "index";
    for (int q = 0; q < 8; ++q) {
        const int a = 2 * q;
        for (int v : {a, a + 2, a + 1, a + 1, a + 2, a + 3}) floor += " " + std::to_string(v);
    }
    return floor + "\nsubset 0 0 48 18 kind ";
}

// A scene light made from a light record as a scene's light file makes it:
// its resource loaded, the light added, pushed and updated once; null when
// a step fails.
Light* addSceneLight(Scene& scene, const Y3Light& source) {
    const char* name = source.name;
    if (!lightDataManager().getOrCreate(name)->load(&source)) return nullptr;
    Light* lamp = scene.addLight(name, name, false);
    if (!lamp || (!lamp->onStack() && !lamp->push())) return nullptr;
    lamp->updatePhase0(CurrentTime{}, 0);
    return lamp;
}

// The model "floor" placed at the origin, pushed and updated as a drawn
// frame updates it, so that its element has collected the scene's lights.
Model* placeFloor(Scene& scene) {
    auto* model = static_cast<Model*>(scene.createModel("floor", "floor", matrix34Identity(), 0));
    if (!model || !model->push()) return nullptr;
    model->stateWords[0] |= kModelDrawnThisFrame;
    return model->updateDeferred() ? model : nullptr;
}

}  // namespace

// A grey floor facing the viewer with a point light of the scene in front
// of its left end, drawn on the shader paths: within the light's sphere the
// floor is lit, beyond it the floor shows what it shows without the light.
TEST_F(ModelDrawGLTest, APointLightLightsTheFloorWithinItsSphereOnly) {
    textures.files["paint.dds"] = solid(100, 100, 100);
    render->textures.allocated = true;
    const std::string floor = floorStrip() + "6 diffuse paint\nbox 1 0.5 0.05 at 0 0 0.5\n"
                                             "lod\nbox 1 1 1\nlod\nbox 1 1 1\n";
    testing_support::CameraScene world{floor};
    Scene& scene = *world.scene;
    // A point light of radius 0.3 in front of the floor's left end, loaded
    // into its resource record as a scene's light file would be.
    std::unique_ptr<Y3Light> source = Y3Light::create(0);
    copyName128(source->name, "floor_lamp");
    for (float& c : source->colour) c = 0.4f;
    source->radius = 0.3f;
    Matrix34 at = matrix34Identity();
    at.m[9] = -0.75f, at.m[10] = 0.0f, at.m[11] = 0.4f;
    source->setPose(at);
    Light* lamp = addSceneLight(scene, *source);
    ASSERT_NE(lamp, nullptr) << allLines();

    Model* model = placeFloor(scene);
    ASSERT_NE(model, nullptr) << allLines();
    ModelElement& element = model->elements.at(0);
    ASSERT_EQ(element.lights.size(), 1u) << allLines();

    auto draw = [&](int details) { return renderElement(element, details); };
    // The grey level at a column of the floor's middle row.
    auto level = [](const std::vector<std::uint8_t>& bytes, int x) {
        const std::uint8_t* p = &bytes[(std::size_t(32) * 64 + std::size_t(x)) * 4];
        return (int(p[0]) + p[1] + p[2]) / 3;
    };
    for (int details : {1, 2}) {
        const std::vector<std::uint8_t> lit = draw(details);
        ASSERT_EQ(lit.size(), std::size_t(64) * 64 * 4);
        // Each render sorts the lights again: a hidden lamp draws no pass.
        lamp->setVisible(false);
        const std::vector<std::uint8_t> unlit = draw(details);
        lamp->setVisible(true);
        // Column 8 lies under the light (x -0.75), column 56 at x 0.75,
        // 1.5 from it: beyond the sphere.
        EXPECT_GT(level(lit, 8), level(unlit, 8) + 30) << details;
        EXPECT_GT(level(lit, 8), level(lit, 56) + 30) << details;
        EXPECT_NEAR(level(lit, 56), level(unlit, 56), 8) << details;
    }
    scene.deleteModel(model);
}

// Two point lights of the scene over one floor, each drawn in a per-light
// pass: where both reach, the floor shows the sum of their light over its
// ambient colour (or its light map's light), on the fixed pipeline and on
// the shader path, for an opaque and an alpha-blended surface; where one
// reaches, that light alone.
TEST_F(ModelDrawGLTest, PerLightPassesAddTheirLightsOverTheAmbientColour) {
    const std::string floor = floorStrip();
    render->textures.allocated = true;
    // The fixed-function lights end at their radius, as the shaders' do.
    IniFile ini;
    ini.getCategory("render_ffp").getVariable("ffp_light_radius_mult").setString("1");
    readLightRenderSettings(ini);
    // The grey level at a column of the floor's middle row.
    auto level = [](const std::vector<std::uint8_t>& bytes, int x) {
        const std::uint8_t* p = &bytes[(std::size_t(32) * 64 + std::size_t(x)) * 4];
        return (int(p[0]) + p[1] + p[2]) / 3;
    };
    struct Case {
        const char* what;
        int details;
        std::uint8_t alpha;  // of the floor's texture; below 255 the material blends
        const char* surface;  // the subset's kind and textures
    };
    // A light map of one grey: the light-mapped kind's ambient light.
    textures.files["glow.dds"] = solid(60, 60, 60);
    int run = 0;  // each case's lamps have names of their own
    for (const Case& c : {Case{"fixed pipeline", 0, 255, "6 diffuse paint"},
                          Case{"light-mapped, fixed pipeline", 0, 255, "9 diffuse paint lightmap glow"},
                          Case{"shaders", 2, 255, "6 diffuse paint"}, Case{"blended, shaders", 2, 128, "6 diffuse glass"}}) {
        SCOPED_TRACE(c.what);
        ++run;
        // Each surface its own texture: the library keeps what it loaded.
        textures.files[c.alpha < 255 ? "glass.dds" : "paint.dds"] = solid(100, 100, 100, c.alpha);
        textures.setup.details = c.details;
        testing_support::CameraScene world{
            {floor + c.surface + "\nbox 1 0.5 0.05 at 0 0 0.5\nlod\nbox 1 1 1\nlod\nbox 1 1 1\n"}};
        Scene& scene = *world.scene;
        // Two lamps of radius 0.9 just in front of the floor at x -0.3 and
        // 0.3: both reach its middle, each alone its own end.
        std::vector<Light*> lamps;
        for (const float x : {-0.3f, 0.3f}) {
            const std::string name = "floor_lamp_" + std::to_string(lamps.size()) + "_" + std::to_string(run);
            std::unique_ptr<Y3Light> source = Y3Light::create(0);
            copyName128(source->name, name.c_str());
            source->flags |= kY3LightAttenuated;
            for (float& colour : source->colour) colour = 0.7f;
            source->radius = 0.9f;
            Matrix34 at = matrix34Identity();
            at.m[9] = x, at.m[10] = 0.0f, at.m[11] = 0.3f;
            source->setPose(at);
            Light* lamp = addSceneLight(scene, *source);
            ASSERT_NE(lamp, nullptr) << allLines();
            lamps.push_back(lamp);
        }
        Model* model = placeFloor(scene);
        ASSERT_NE(model, nullptr) << allLines();
        ModelElement& element = model->elements.at(0);
        ASSERT_EQ(element.lights.size(), 2u) << allLines();
        ASSERT_NE(element.material(), nullptr);
        if (c.alpha < 255) element.material()->setOpacity(0.5f);

        // [none, left, right, both] lit: each render sorts the lights again,
        // and a hidden lamp draws no pass.
        std::vector<std::uint8_t> seen[4];
        for (int shown = 0; shown < 4; ++shown) {
            lamps[0]->setVisible(shown & 1);
            lamps[1]->setVisible(shown & 2);
            seen[shown] = renderElement(element, c.details);
            ASSERT_EQ(seen[shown].size(), std::size_t(64) * 64 * 4);
        }
        // The lit passes' ambient colour: the floor's right end, beyond the
        // left lamp's reach, lit by it alone.
        const int ambient = level(seen[1], 60);
        // The middle (column 32) takes both lights: the sum of what each
        // adds to the ambient colour, more than either alone.
        const int left = level(seen[1], 32) - ambient;
        const int right = level(seen[2], 32) - ambient;
        const int both = level(seen[3], 32) - ambient;
        EXPECT_GT(ambient, 10);
        EXPECT_GT(left, 10);
        EXPECT_GT(right, 10);
        EXPECT_NEAR(both, left + right, 6) << ambient << " " << left << " " << right;
        // The floor's ends take one light each: the other's pass changes
        // nothing there.
        EXPECT_GT(level(seen[1], 4), ambient + 4);
        EXPECT_NEAR(level(seen[3], 4), level(seen[1], 4), 3);
        EXPECT_NEAR(level(seen[3], 60), level(seen[2], 60), 3);
        scene.deleteModel(model);
    }
}

namespace {

// A compiled light set as the packages store it (one packed record of its
// 304 bytes) whose exterior diffuse colour is the given one, with the given
// ambient colour (grey) and no specular colour.
testing_support::FixtureFile storedLightSet(const char* name, float red, float green, float blue,
                                            const float (&ambient)[3] = {0.0f, 0.0f, 0.0f}) {
    LightSet set;
    copyName128(set.name, name);
    set.exterior.diffuse[0] = red, set.exterior.diffuse[1] = green, set.exterior.diffuse[2] = blue;
    for (int c = 0; c < 3; ++c) set.exterior.ambient[c] = ambient[c], set.exterior.specular[c] = 0.0f;
    MemoryStream raw;
    raw.write(&set, static_cast<std::int32_t>(sizeof(set)));
    MemoryStream record;
    EXPECT_GT(writePackedStream(raw, 6, true, record), 0);
    return resource_tests::storedFile(
        ".ls", name, std::string(reinterpret_cast<const char*>(record.data()), static_cast<std::size_t>(record.size())));
}

}  // namespace

// A crate (a square of 3 x 3 vertices, so that one vertex lies at its
// centre) on a floor facing the viewer, with a point light of the scene
// just in front of the crate's centre: drawn on the fixed pipeline (the
// "-ffp" light sets, the fixed-function reach of the light) and on the
// shader path, by day and by night. The models take their light sets of
// the time of day (ambient 0.5 grey by day, the harbour's 0.25 0.27 0.32 at
// night) when the scene's lighting changes. The crate's centre is lit, the
// far floor shows the texture times the set's ambient colour only, darker
// at night; both paths agree there, and the night set tints the light as
// it says.
TEST_F(ModelDrawGLTest, APointLightOnACrateLightsAlikeOnBothPathsAndTakesTheTimeOfDaysSet) {
    textures.files["paint.dds"] = solid(120, 120, 120);
    render->textures.allocated = true;
    const std::string timesOfDay = "lightset day harbour_day\nlightset nighttime harbour_night\n";
    const std::string floor =
        "model floor\n" + timesOfDay + "element face\nlod\nmeshstream 4\n"
        "vertex p -1 1 0.5 n 0 0 -1 t 0 0\nvertex p 1 1 0.5 n 0 0 -1 t 1 0\n"
        "vertex p -1 -1 0.5 n 0 0 -1 t 0 1\nvertex p 1 -1 0.5 n 0 0 -1 t 1 1\n"
        "index 0 1 2 2 1 3\nsubset 0 0 6 4 kind 6 diffuse paint\nbox 1 1 0.05 at 0 0 0.5\n"
        "lod\nbox 1 1 1\nlod\nbox 1 1 1\n";
    std::string crate = "model tile\n" + timesOfDay + "element top\nlod\nmeshstream 4\n";
    for (int row = 0; row < 3; ++row)
        for (int column = 0; column < 3; ++column)
            crate += "vertex p " + std::to_string(0.1f * float(column - 1)) + " " + std::to_string(0.1f * float(1 - row)) +
                     " 0 n 0 0 -1 t " + std::to_string(0.5f * float(column)) + " " + std::to_string(0.5f * float(row)) +
                     "\n";
    crate += "index";
    for (int row = 0; row < 2; ++row)
        for (int column = 0; column < 2; ++column) {
            const int a = 3 * row + column;
            for (int v : {a, a + 1, a + 3, a + 3, a + 1, a + 4}) crate += " " + std::to_string(v);
        }
    crate += "\nsubset 0 0 24 9 kind 6 diffuse paint\nbox 0.1 0.1 0.05 at 0 0 0\nlod\nbox 1 1 1\nlod\nbox 1 1 1\n";
    // The fixed-function sets take a third of the shader sets' colours: by
    // default the fixed pipeline lights a point light at "fpp_diffuse_mult"
    // (1.5) over "ffp_point_atten0" (0.5).
    std::vector<testing_support::FixtureFile> sets = {
        storedLightSet("day", 1.0f, 1.0f, 1.0f), storedLightSet("nighttime", 0.25f, 0.5f, 1.0f),
        storedLightSet("day-ffp", 1.0f / 3, 1.0f / 3, 1.0f / 3),
        storedLightSet("nighttime-ffp", 0.25f / 3, 0.5f / 3, 1.0f / 3)};
    const float dayAmbient[3] = {0.5f, 0.5f, 0.5f}, nightAmbient[3] = {0.25f, 0.27f, 0.32f};
    for (const char* suffix : {"", "-ffp"}) {
        sets.push_back(storedLightSet((std::string("harbour_day") + suffix).c_str(), 1, 1, 1, dayAmbient));
        sets.push_back(storedLightSet((std::string("harbour_night") + suffix).c_str(), 1, 1, 1, nightAmbient));
    }

    struct Colour {
        double r = 0, g = 0, b = 0;
    };
    // The mean colour of a 2 x 2 block of pixels from (x, y).
    auto at = [](const std::vector<std::uint8_t>& bytes, int x, int y) {
        Colour c;
        for (int dy = 0; dy < 2; ++dy)
            for (int dx = 0; dx < 2; ++dx) {
                const std::uint8_t* p = &bytes[(std::size_t(y + dy) * 64 + std::size_t(x + dx)) * 4];
                c.r += p[2] / 4.0, c.g += p[1] / 4.0, c.b += p[0] / 4.0;
            }
        return c;
    };
    // [details 0 or 2][day, night]: the crate's centre (x -0.6, y 0) and the
    // far floor (x 0.7, y -0.7).
    Colour crateSeen[2][2], floorSeen[2][2];
    for (const int path : {0, 1}) {
        SCOPED_TRACE(path == 0 ? "fixed pipeline" : "shaders");
        textures.setup.details = path == 0 ? 0 : 2;
        testing_support::CameraScene world{{floor, crate}, sets};
        LightSetLibrary library;
        testing_support::ScopedCoreMember<LightSetLibrary> useSets{gameCore.lightSets, &library};
        ASSERT_TRUE(library.initialize());
        Scene& scene = *world.scene;
        scene.setSkyLightMode(1);

        // The lamp's record as a model file carries it: attenuated, radius
        // 0.3, "day" by day and "nighttime" at night; loaded in the display
        // mode it lights in.
        std::unique_ptr<Y3Light> source = Y3Light::create(0);
        const std::string name = "crate_lamp_" + std::to_string(path);
        copyName128(source->name, name.c_str());
        source->flags |= kY3LightAttenuated;
        for (float& c : source->colour) c = 0.5f;
        source->radius = 0.3f;
        copyName128(source->lightSets[1], "day");
        copyName128(source->lightSets[3], "nighttime");
        Matrix34 lampAt = matrix34Identity();
        lampAt.m[9] = -0.6f, lampAt.m[10] = 0.0f, lampAt.m[11] = 0.4f;
        source->setPose(lampAt);
        MemoryStream stored;
        ASSERT_GT(source->write(stored), 0);
        stored.setPosition(0);
        ASSERT_GT(Y3Light::read(stored, source), 0);
        const Y3LightData* record = loadLightResource("crate", *source, false);
        ASSERT_NE(record, nullptr);
        Light* lamp = scene.addLight(name.c_str(), record->name, false);
        ASSERT_NE(lamp, nullptr);
        if (!lamp->onStack()) ASSERT_TRUE(lamp->push()) << allLines();
        lamp->updatePhase0(CurrentTime{}, 0);

        Matrix34 crateAt = matrix34Identity();
        crateAt.m[9] = -0.6f, crateAt.m[11] = 0.45f;
        std::vector<Model*> models;
        for (const auto& [resource, pose] : {std::pair{"floor", matrix34Identity()}, {"tile", crateAt}}) {
            auto* model = static_cast<Model*>(scene.createModel(resource, resource, pose, 0));
            ASSERT_NE(model, nullptr) << allLines();
            ASSERT_TRUE(model->push()) << allLines();
            model->stateWords[0] |= kModelDrawnThisFrame;
            ASSERT_TRUE(model->updateDeferred());
            ASSERT_EQ(model->elements.at(0).lights.size(), 1u) << resource << allLines();
            models.push_back(model);
        }
        for (const int night : {0, 1}) {
            scene.setSkyLightMode(night ? 3 : 1);
            // The scene's lighting changed: its lights and models take the
            // sets of the time of day.
            scene.invalidateLighting();
            lamp->updatePhase0(CurrentTime{}, 0);
            for (Model* model : models) EXPECT_STREQ(model->lightSetName, night ? "harbour_night" : "harbour_day");
            ASSERT_NE(lamp->lightSet, nullptr);
            EXPECT_STREQ(lamp->lightSet->name, night ? "nighttime" : "day");
            device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF000000u, 1.0f, 0);
            device->BeginScene();
            for (Model* model : models) EXPECT_TRUE(model->elements.at(0).render()) << allLines();
            device->EndScene();
            std::vector<std::uint8_t> bytes;
            D3DSURFACE_DESC desc{};
            readBack(bytes, desc);
            ASSERT_EQ(bytes.size(), std::size_t(64) * 64 * 4);
            crateSeen[path][night] = at(bytes, 12, 31);
            floorSeen[path][night] = at(bytes, 53, 53);
        }
        for (Model* model : models) scene.deleteModel(model);
    }
    for (int night : {0, 1}) {
        SCOPED_TRACE(night ? "night" : "day");
        const float* ambient = night ? nightAmbient : dayAmbient;
        for (int path : {0, 1}) {
            // Within the sphere the light adds to the ambient colour; the far
            // floor has the set's ambient colour only, below the texture's
            // full grey.
            EXPECT_GT(crateSeen[path][night].b, floorSeen[path][night].b + 30) << path;
            EXPECT_NEAR(floorSeen[path][night].r, 120 * ambient[0], 6) << path;
            EXPECT_NEAR(floorSeen[path][night].g, 120 * ambient[1], 6) << path;
            EXPECT_NEAR(floorSeen[path][night].b, 120 * ambient[2], 6) << path;
        }
        // Both paths agree in both regions.
        EXPECT_NEAR(crateSeen[0][night].r, crateSeen[1][night].r, 12);
        EXPECT_NEAR(crateSeen[0][night].g, crateSeen[1][night].g, 12);
        EXPECT_NEAR(crateSeen[0][night].b, crateSeen[1][night].b, 12);
        EXPECT_NEAR(floorSeen[0][night].g, floorSeen[1][night].g, 6);
    }
    // The night set keeps a quarter of the red and half the green the day
    // set lets through, and all of the blue; the far floor is darker at
    // night.
    for (int path : {0, 1}) {
        EXPECT_LT(floorSeen[path][1].r + floorSeen[path][1].g + floorSeen[path][1].b + 30,
                  floorSeen[path][0].r + floorSeen[path][0].g + floorSeen[path][0].b)
            << path;
        auto added = [&](int night, double Colour::*channel) {
            return crateSeen[path][night].*channel - floorSeen[path][night].*channel;
        };
        EXPECT_NEAR(added(1, &Colour::r) / added(0, &Colour::r), 0.25, 0.1) << path;
        EXPECT_NEAR(added(1, &Colour::g) / added(0, &Colour::g), 0.5, 0.1) << path;
        EXPECT_NEAR(added(1, &Colour::b) / added(0, &Colour::b), 1.0, 0.1) << path;
    }
}

#include "animation/AnimationCore.h"
#include "animation/AnimationTestSupport.h"
#include "animation/ModelAnimation.h"

namespace {

// A small skinned figure: a torso and a head on the spine, two legs hanging
// from the hips and two arms from the shoulders, each limb a bar skinned to
// its own bone. Its walk swings the legs against each other and the arms
// against the legs.
std::string limbQuad(float x0, float x1, float y0, float y1, int slot) {
    std::string lines;
    const std::string tail = " 0.5 c 0xFFFFFFFF t 0 0 i " + std::to_string(slot) + " 0 0 0 w 1 0 0 0\n";
    for (const auto& [x, y] : {std::pair{x0, y1}, {x1, y1}, {x0, y0}, {x1, y0}})
        lines += "vertex p " + std::to_string(x) + " " + std::to_string(y) + tail;
    return lines;
}

std::string walkerDescription() {
    std::string text = "model marcher\nelement body\nlod\nmeshstream 3\n";
    // Torso, head, left and right leg, left and right arm.
    text += limbQuad(-0.1f, 0.1f, 0.0f, 0.5f, 0) + limbQuad(-0.08f, 0.08f, 0.55f, 0.75f, 0) +
            limbQuad(-0.09f, -0.01f, -0.6f, 0.0f, 1) + limbQuad(0.01f, 0.09f, -0.6f, 0.0f, 2) +
            limbQuad(-0.18f, -0.12f, 0.05f, 0.45f, 3) + limbQuad(0.12f, 0.18f, 0.05f, 0.45f, 4);
    text += "index";
    for (int q = 0; q < 6; ++q)
        for (int i : {0, 1, 2, 2, 1, 3}) text += " " + std::to_string(4 * q + i);
    text += "\nsubset 0 0 36 24 kind 3 bones 1 face 1 diffuse chalk\n"
            "bone spine 0 rest 0 0 0 1 0 0 0\n"
            "bone leg_left 1 parent spine rest 0 0 0 1 -0.05 0 0\n"
            "bone leg_right 2 parent spine rest 0 0 0 1 0.05 0 0\n"
            "bone arm_left 3 parent spine rest 0 0 0 1 -0.15 0.45 0\n"
            "bone arm_right 4 parent spine rest 0 0 0 1 0.15 0.45 0\n"
            "box 0.3 0.8 0.1 at 0 0 0.5\nlod\nbox 0.5 0.5 0.5\nlod\nbox 0.5 0.5 0.5\n";
    return text;
}

// A 25-frame walk (0.96 s a pass): each limb turns about z at its joint
// by 0.5 cos(2 pi f / 24) radians, the left leg and the right arm one way,
// the others the other way.
std::string walkAnimation() {
    auto track = [](const char* bone, float tx, float ty, float sign) {
        std::string rz = "channel rz 0", rw = "channel rw 0";
        for (int f = 0; f < 25; ++f) {
            const double half = 0.25 * sign * std::cos(2.0 * M_PI * f / 24.0);
            rz += " " + std::to_string(std::sin(half));
            rw += " " + std::to_string(std::cos(half));
        }
        return std::string("track ") + bone + " 0 24\nchannel tx 0 " + std::to_string(tx) + "\nchannel ty 0 " +
               std::to_string(ty) + "\nchannel tz 0 0\nchannel sx 0 1\nchannel sy 0 1\nchannel sz 0 1\n"
               "channel rx 0 0\nchannel ry 0 0\n" + rz + "\n" + rw + "\n";
    };
    return "anim marcher.walk 25 loop\n" + track("leg_left", -0.05f, 0.0f, 1.0f) +
           track("leg_right", 0.05f, 0.0f, -1.0f) + track("arm_left", -0.15f, 0.45f, -1.0f) +
           track("arm_right", 0.15f, 0.45f, 1.0f) + "map default\nmapbone spine 1 1 1 0 0\n";
}

class SkinnedWalkGLTest : public ModelDrawGLTest {
protected:
    // One fixed step through the model's per-frame passes and its deferred
    // update, as the scene runs them for a model on screen.
    static void frame(Model& model, double step) {
        const CurrentTime time(step);
        EXPECT_TRUE(model.cull());  // on screen: drawn this frame
        model.prepareFrame(time, 0);
        model.updateFrame(time, 0);
        model.updateDeferred();
    }
    // The covered pixels of the model's element drawn into a cleared frame
    // at a detail level (0: the fixed pipeline).
    std::vector<bool> picture(ModelElement& element, int details) {
        const std::vector<std::uint8_t> bytes = renderElement(element, details);
        std::vector<bool> covered;
        for (std::size_t i = 0; i + 3 < bytes.size(); i += 4)
            covered.push_back(bytes[i] > 60 || bytes[i + 1] > 60 || bytes[i + 2] > 60);
        EXPECT_EQ(covered.size(), std::size_t(64) * 64);
        covered.resize(std::size_t(64) * 64);
        return covered;
    }
    static bool at(const std::vector<bool>& covered, int x, int y) { return covered[std::size_t(y) * 64 + std::size_t(x)]; }

    AnimationCore animations;
    testing_support::ScopedCoreMember<AnimationCore> useAnimations{gameCore.animation, &animations};
};

// Two figures walk side by side in time, one updated and drawn at the
// lowest detail (the fixed pipeline, skinned on the CPU at each update) and
// one at the shader detail (the palette in "mBones"): the same frame covers
// the same pixels. Half a second later (12.5 frames) the limbs have swung to
// the other side: the pictures differ where the legs and arms are, not at
// the head or the middle of the torso.
TEST_F(SkinnedWalkGLTest, AWalkingFigureMovesItsLimbsAlikeOnTheCpuAndThroughThePalette) {
    textures.files["chalk.dds"] = solid(255, 255, 255);
    render->textures.allocated = true;
    testing_support::CameraScene world{{walkerDescription()}, animation_tests::animationFiles(walkAnimation())};
    Model* models[2] = {};
    for (int details : {0, 1}) {
        textures.setup.details = details;
        const std::string name = "marcher" + std::to_string(details);
        models[details] = static_cast<Model*>(world.scene->createModel("marcher", name.c_str(), matrix34Identity(), 0));
        ASSERT_NE(models[details], nullptr) << allLines();
        ASSERT_TRUE(models[details]->push()) << allLines();
        ASSERT_TRUE(models[details]->playSequence("[marcher.walk]")) << allLines();
    }
    auto step = [&](double seconds) {
        for (int details : {0, 1}) {
            textures.setup.details = details;
            frame(*models[details], seconds);
        }
    };
    auto draw = [&](int details) { return picture(models[details]->elements.at(0), details); };

    step(0.04);  // frame 1: each limb turned 0.48 radians
    const std::vector<bool> cpu = draw(0);
    const std::vector<bool> shader = draw(1);
    for (int i = 0; i < 25; ++i) step(0.02);  // frame 13.5: turned 0.46 the other way
    const std::vector<bool> laterCpu = draw(0);
    const std::vector<bool> later = draw(1);

    int covered = 0, disagreeing = 0, moved = 0, movedLegs = 0, movedArms = 0, movedElsewhere = 0;
    for (int y = 0; y < 64; ++y)
        for (int x = 0; x < 64; ++x) {
            covered += at(cpu, x, y);
            disagreeing += at(cpu, x, y) != at(shader, x, y);
            disagreeing += at(laterCpu, x, y) != at(later, x, y);
            if (at(shader, x, y) == at(later, x, y)) continue;
            ++moved;
            // Legs: rows 32 on (below the hips); arms: rows 17 to 32
            // beside the torso (columns 29 to 35).
            if (y >= 32) ++movedLegs;
            else if (y >= 17 && (x < 29 || x > 35)) ++movedArms;
            else ++movedElsewhere;
        }
    EXPECT_GT(covered, 250) << allLines();
    EXPECT_LE(disagreeing, 12);
    EXPECT_GT(movedLegs, 60);
    EXPECT_GT(movedArms, 20);
    EXPECT_EQ(movedElsewhere, 0) << moved;
    // The head and the torso stand in every picture; nothing above the head.
    for (const std::vector<bool>* one : {&cpu, &shader, &laterCpu, &later}) {
        EXPECT_TRUE(at(*one, 32, 12));
        EXPECT_TRUE(at(*one, 32, 24));
        EXPECT_FALSE(at(*one, 32, 3));
    }
    EXPECT_GT(models[0]->elements.at(0).lod()->uploads, 0);
    // Its element hidden, the figure skinned on the CPU frees its skinned
    // streams without a leak report.
    ASSERT_TRUE(models[0]->setElementVisible(0, false));
    for (const LogRecord& record : engineLog().records())
        EXPECT_EQ(record.text.find("Vertex stream in mesh anim_instance is allocated"), std::string::npos);
    for (Model* model : models) world.scene->deleteModel(model);
}

// A talking head: a torso and a head on the spine, and between them a jaw
// on its own bone whose pose for the mouth shape "A" drops it 0.14.
std::string talkerDescription() {
    std::string text = "model talker\nelement body\nlod\nmeshstream 3\n";
    text += limbQuad(-0.1f, 0.1f, 0.0f, 0.34f, 0) + limbQuad(-0.08f, 0.08f, 0.6f, 0.8f, 0) +
            limbQuad(-0.08f, 0.08f, 0.48f, 0.58f, 1);
    text += "index";
    for (int q = 0; q < 3; ++q)
        for (int i : {0, 1, 2, 2, 1, 3}) text += " " + std::to_string(4 * q + i);
    text += "\nsubset 0 0 18 12 kind 3 bones 1 face 1 diffuse chalk\n"
            "bone spine 0 rest 0 0 0 1 0 0 0\n"
            "bone jaw 1 parent spine rest 0 0 0 1 0 0.48 0 channel 1 pose 1 0 0 0 1 0 0.34 0\n"
            "box 0.3 0.8 0.1 at 0 0 0.5\nlod\nbox 0.5 0.5 0.5\nlod\nbox 0.5 0.5 0.5\n";
    return text;
}

// At the "A" frame of its lip track the jaw stands open below the head;
// at rest, before the voice and after it stopped, it is closed. Only the
// pixels around the mouth differ between the two pictures.
TEST_F(SkinnedWalkGLTest, ATalkingHeadOpensItsJawAtAnAFrameOfItsTrack) {
    textures.files["chalk.dds"] = solid(255, 255, 255);
    render->textures.allocated = true;
    testing_support::CameraScene world{
        {talkerDescription()},
        animation_tests::animationFiles("map default\nmapbone spine 1 1 1 0 0\nlip say 1\nlipframe 1 0 0 0 0 0 0 0\n")};
    textures.setup.details = 1;
    auto* talker = static_cast<Model*>(world.scene->createModel("talker", "talker0", matrix34Identity(), 0));
    ASSERT_NE(talker, nullptr) << allLines();
    ASSERT_TRUE(talker->push()) << allLines();
    frame(*talker, 0.04);
    const std::vector<bool> rest = picture(talker->elements.at(0), 1);
    EXPECT_FLOAT_EQ(talker->voice("say"), 1.0f) << allLines();
    frame(*talker, 0.04);
    const std::vector<bool> open = picture(talker->elements.at(0), 1);
    talker->stopVoice();
    frame(*talker, 0.04);
    const std::vector<bool> closed = picture(talker->elements.at(0), 1);

    int differing = 0, outside = 0, covered = 0;
    for (int y = 0; y < 64; ++y)
        for (int x = 0; x < 64; ++x) {
            covered += at(rest, x, y);
            EXPECT_EQ(at(rest, x, y), at(closed, x, y)) << x << ", " << y;
            if (at(rest, x, y) == at(open, x, y)) continue;
            ++differing;
            // The mouth: from the torso's top to the head's chin.
            if (y < 11 || y > 22 || x < 26 || x > 38) ++outside;
        }
    EXPECT_GT(covered, 100) << allLines();
    EXPECT_GT(differing, 12);
    EXPECT_EQ(outside, 0) << differing;
    world.scene->deleteModel(talker);
}

// A looking figure: a torso on its spine and a face 0.5 in front of the
// head bone's pivot, so that a turn of the head moves the face sideways;
// a marker on the figure's left (+x) shows where its left lies on screen.
std::string lookerDescription() {
    std::string text = "model gazer\nelement body\nlod\nmeshstream 3\n";
    text += limbQuad(-0.1f, 0.1f, 0.0f, 0.5f, 0) + limbQuad(-0.08f, 0.08f, 0.55f, 0.75f, 1) +
            limbQuad(0.3f, 0.4f, 0.1f, 0.2f, 0);
    text += "index";
    for (int q = 0; q < 3; ++q)
        for (int i : {0, 1, 2, 2, 1, 3}) text += " " + std::to_string(4 * q + i);
    text += "\nsubset 0 0 18 12 kind 3 bones 1 face 1 diffuse chalk\n"
            "bone bip01 -1 rest 0 0 0 1 0 0 0\n"
            "bone \"bip01 spine\" 0 parent bip01 rest 0 0 0 1 0 0 0\n"
            "bone \"bip01 head\" 1 parent \"bip01 spine\" rest 0 0 0 1 0 0.6 0\n"
            "box 0.5 0.8 0.5 at 0 0.3 0.3\nlod\nbox 0.5 0.5 0.5\nlod\nbox 0.5 0.5 0.5\n";
    return text;
}

// With the main character standing to its left the figure's head turns
// towards it: the head bone's forward axis leans to +x, and the face's
// pixels move to the side of the screen where the figure's left marker is.
TEST_F(SkinnedWalkGLTest, AHeadTurnsTowardsATargetOnItsLeft) {
    textures.files["chalk.dds"] = solid(255, 255, 255);
    render->textures.allocated = true;
    testing_support::CameraScene world{
        {lookerDescription()},
        animation_tests::animationFiles(animation_tests::stillAnimation("gazer.still") +
                                        "map gazer\nmapbone bip01 1 0 0 0 0\nmapbone \"bip01 spine\" 1 0 0 0 0\n"
                                        "mapbone \"bip01 head\" 1 0 0 0 1\n")};
    textures.setup.details = 1;
    Model* models[2] = {};
    for (int i : {0, 1}) {
        const std::string name = "gazer" + std::to_string(i);
        Matrix34 pose = matrix34Identity();
        pose.m[9] = i == 0 ? 0.0f : 40.0f;  // the second stands far away first
        models[i] = static_cast<Model*>(world.scene->createModel("gazer", name.c_str(), pose, 0));
        ASSERT_NE(models[i], nullptr) << allLines();
        ASSERT_TRUE(models[i]->push()) << allLines();
        ASSERT_TRUE(models[i]->playSequence("[gazer.still]")) << allLines();
    }
    Model& gazer = *models[0];
    ASSERT_TRUE(world.scene->setMainCharacter(GameObjectLink::fromObject(models[1])));
    auto run = [&](double seconds) {
        for (double t = 0.0; t < seconds; t += 0.04) {
            const CurrentTime time(0.04);
            frame(gazer, 0.04);
            // The main character may stand off screen.
            models[1]->cull();
            models[1]->prepareFrame(time, 0);
            models[1]->updateFrame(time, 0);
            for (Model* model : models) model->updateTracking(time);
        }
    };
    // The mean column of the covered pixels in the face's rows.
    auto faceColumn = [](const std::vector<bool>& covered) {
        double sum = 0.0;
        int count = 0;
        for (int y = 0; y < 64; ++y)
            for (int x = 0; x < 64; ++x)
                if (covered[std::size_t(y) * 64 + std::size_t(x)] && y < 16) {
                    sum += x;
                    ++count;
                }
        return count ? sum / count : -1.0;
    };
    run(1.0);
    const std::vector<bool> ahead = picture(gazer.elements.at(0), 1);
    Matrix34 head;
    ASSERT_TRUE(gazer.getBoneWorldMatrix(gazer.findBone("bip01 head"), head));
    EXPECT_NEAR(head.m[6], 0.0f, 0.05f);  // facing +z, give or take the wander

    Matrix34 left = matrix34Identity();
    left.m[9] = 1.2f;
    models[1]->setWorldMatrix(left);
    run(3.0);
    const std::vector<bool> turned = picture(gazer.elements.at(0), 1);
    ASSERT_TRUE(gazer.getBoneWorldMatrix(gazer.findBone("bip01 head"), head));
    EXPECT_GT(head.m[6], 0.5f) << allLines();  // leaning to +x

    // The marker's side of the screen (rows of the figure's middle).
    double marker = 0.0;
    int markerCount = 0;
    for (int y = 16; y < 64; ++y)
        for (int x = 0; x < 64; ++x)
            if (ahead[std::size_t(y) * 64 + std::size_t(x)] && (x < 26 || x > 38)) {
                marker += x;
                ++markerCount;
            }
    ASSERT_GT(markerCount, 4) << allLines();
    const double leftSide = marker / markerCount > 32.0 ? 1.0 : -1.0;
    const double before = faceColumn(ahead), after = faceColumn(turned);
    ASSERT_GE(before, 0.0);
    ASSERT_GE(after, 0.0);
    EXPECT_NEAR(before, 32.0, 3.0);
    EXPECT_GT((after - before) * leftSide, 4.0) << before << " -> " << after;
    for (Model* model : models) world.scene->deleteModel(model);
}

// Particles of the packages in the current scene on the GL backend: the
// scene camera 8 units along +z looks back at the origin; each frame the
// scene updates its particles, the render core culls and queues their
// contexts and draws the items through the quad batch.
class ParticleGLTest : public ModelDrawGLTest {
protected:
    void SetUp() override {
        ModelDrawGLTest::SetUp();
        if (HasFatalFailure()) return;
        textures.files["white.dds"] = solid(255, 255, 255);
        render->textures.allocated = true;
        const std::pair<const char*, const char*> effects[] = {
            // Rising, growing and fading points.
            {"smoke", "limit 200\nlayer plume\nrate 40\nlifetime 2 2\nvelocity 0 1.5 0\nsize 0.2 0.4\n"
                      "color 1 1 1 1 1 1 1 0.4\nmaterial alpha\ntexture white\n"},
            // One lasting point of half blue, added to what lies beneath.
            {"glow", "limit 1\nlayer a\nrate 50\nlifetime 100 100\nsize 1\ncolor 0 0 0.5 1\n"
                     "material additive\ntexture white\n"},
            // One lasting point of blue at half opacity, blended.
            {"veil", "limit 1\nlayer a\nrate 50\nlifetime 100 100\nsize 1\ncolor 0 0 1 0.5\n"
                     "material alpha\ntexture white\n"},
            {"high", "detail 2\nlimit 1\nlayer a\nrate 50\nlifetime 100 100\nsize 1\ncolor 1 1 1 1\n"
                     "material additive\ntexture white\n"},
            // Points climbing 2 units a second for 3 seconds.
            {"burst", "limit 200\nlayer a\nrate 40\nlifetime 3 3\nvelocity 0 2 0\nsize 0.2\ncolor 1 1 1 1\n"
                      "material additive\ntexture white\n"},
        };
        std::vector<testing_support::FixtureFile> files;
        for (const auto& [name, text] : effects) {
            std::string error;
            const std::string bytes = particle_tools::effectFileBytes(text, error);
            ASSERT_FALSE(bytes.empty()) << error;
            files.push_back({".effect", name, bytes, ""});
        }
        world = std::make_unique<testing_support::CameraScene>(std::initializer_list<std::string>{}, files);
        // The scene is the game's current scene.
        game.scenes.push_back(world->scene->id);
        game.currentIndex = 0;
        savedCameraMode = gameCore.cameraMode;
        gameCore.cameraMode = 1;
        render->camera = &world->camera();
        textures.setup.details = 1;
    }
    void TearDown() override {
        if (world)
            for (Particle* particle : made) world->scene->deleteParticle(particle);
        if (render) {
            render->renderList.clearQueues();
            render->camera = nullptr;
        }
        world.reset();
        gameCore.cameraMode = savedCameraMode;
        ModelDrawGLTest::TearDown();
    }

    // A particle of the scene at a position, pushed as a pushed scene
    // pushes its shown particles.
    Particle* place(const char* effect, const char* name, float x, float y) {
        Matrix34 pose = matrix34Identity();
        pose.m[9] = x;
        pose.m[10] = y;
        auto* particle = static_cast<Particle*>(world->scene->createParticle(name, effect, pose));
        EXPECT_NE(particle, nullptr) << allLines();
        if (!particle) return nullptr;
        made.push_back(particle);
        if (!particle->isHidden() && !particle->isOnStack()) EXPECT_TRUE(particle->push()) << allLines();
        return particle;
    }

    // One frame of dt seconds over a cleared background: the scene's
    // update, the contexts' cull and queues, the object pass.
    std::vector<std::uint8_t> frame(double dt, std::uint8_t background) {
        Scene& scene = *world->scene;
        world->camera().pose = testing_support::poseAt(0.0f, 0.0f, 8.0f);
        frameTime += dt;
        const CurrentTime sample = testing_support::frameAt(frameTime, dt);
        EXPECT_TRUE(scene.updatePhase0(sample, 0));
        EXPECT_TRUE(scene.updatePhase1(sample, 0));
        EXPECT_TRUE(scene.updatePhase2(sample, 0));
        render->takeCamera();
        render->updateContexts();
        std::vector<std::uint8_t> bytes = objectPass(0xFF000000u | (D3DCOLOR(background) * 0x010101u));
        EXPECT_EQ(bytes.size(), std::size_t(64) * 64 * 4);
        return bytes;
    }
    // The mean colour of a block of the 64 x 64 picture.
    static Rgb mean(const std::vector<std::uint8_t>& bytes, int x0, int y0, int x1, int y1) {
        int sum[3] = {}, n = 0;
        for (int y = y0; y < y1; ++y)
            for (int x = x0; x < x1; ++x, ++n)
                for (int c = 0; c < 3; ++c) sum[c] += bytes[(std::size_t(y) * 64 + std::size_t(x)) * 4 + std::size_t(2 - c)];
        if (n == 0) return {};
        return {sum[0] / n, sum[1] / n, sum[2] / n};
    }
    // The brightest channel sum of a block: whether anything was drawn there.
    static int brightest(const std::vector<std::uint8_t>& bytes, int x0, int y0, int x1, int y1) {
        int most = 0;
        for (int y = y0; y < y1; ++y)
            for (int x = x0; x < x1; ++x) {
                const std::uint8_t* p = &bytes[(std::size_t(y) * 64 + std::size_t(x)) * 4];
                most = std::max(most, p[0] + p[1] + p[2]);
            }
        return most;
    }

    SaveGame game;
    testing_support::ScopedCoreMember<SaveGame> useGame{gameCore.game, &game};
    std::unique_ptr<testing_support::CameraScene> world;
    std::vector<Particle*> made;
    std::int32_t savedCameraMode = 0;
    double frameTime = 0.0;
};

// Smoke simulated 2 s rises from its emitter (1.5 units below the centre):
// the region above the emitter holds the particles' near-white colour, the
// region below it nothing.
TEST_F(ParticleGLTest, SmokeRisesAboveItsEmitterAndNothingLiesBelow) {
    place("smoke", "chimney", 0.0f, -1.5f);
    std::vector<std::uint8_t> bytes;
    for (int i = 0; i < 40; ++i) bytes = frame(0.05, 0);
    const Rgb above = mean(bytes, 30, 24, 34, 40);
    EXPECT_GT(above.r, 120) << allLines();
    EXPECT_NEAR(above.r, above.b, 16);
    EXPECT_LT(brightest(bytes, 0, 48, 64, 64), 30);
}

// Over mid grey an additive layer brightens its region and an alpha-blended
// one lies between its colour (blue) and the grey.
TEST_F(ParticleGLTest, AdditiveLayersBrightenAndBlendedLayersMixWithTheBackground) {
    place("glow", "lamp", -1.5f, 0.0f);
    place("veil", "curtain", 1.5f, 0.0f);
    std::vector<std::uint8_t> bytes;
    for (int i = 0; i < 3; ++i) bytes = frame(0.05, 128);
    const Rgb added = mean(bytes, 18, 29, 23, 35), blended = mean(bytes, 41, 29, 46, 35);
    const Rgb grey = mean(bytes, 29, 2, 35, 8);
    EXPECT_NEAR(grey.b, 128, 4);
    EXPECT_GT(added.b, 220) << allLines();
    EXPECT_NEAR(added.r, 128, 16);
    EXPECT_NEAR(added.g, 128, 16);
    for (int channel : {blended.r, blended.g}) {
        EXPECT_GT(channel, 30);
        EXPECT_LT(channel, 100);
    }
    EXPECT_GT(blended.b, 150);
    EXPECT_LT(blended.b, 235);
}

// The scene asks its particles, once after it initialised, to pre-simulate
// a period: a particle there from the start shows a whole second of rising
// points by the second frame; one placed later shows only the points of
// its two frames.
TEST_F(ParticleGLTest, APreSimulatedEffectShowsItsPointsInTheFirstFrames) {
    const struct {
        const char* name;
        bool fromTheStart;
    } cases[] = {{"early", true}, {"late", false}};
    for (const auto& c : cases) {
        Particle* particle = place("burst", c.name, 0.0f, -2.0f);
        ASSERT_NE(particle, nullptr);
        frame(0.05, 0);
        const std::vector<std::uint8_t> bytes = frame(0.05, 0);
        // One unit above the emitter and higher.
        const int seen = brightest(bytes, 28, 30, 36, 40);
        if (c.fromTheStart) EXPECT_GT(seen, 300) << c.name << allLines();
        else EXPECT_LT(seen, 30) << c.name;
        ASSERT_TRUE(world->scene->deleteParticle(particle));
        made.clear();
    }
}

// An effect of detail level 2 draws under details 2; under details 1 its
// particle is hidden with its Info line, reads as not visible and draws
// nothing.
TEST_F(ParticleGLTest, AnEffectAboveTheVideoDetailsDrawsNothing) {
    for (std::int32_t details : {2, 1}) {
        textures.setup.details = details;
        const std::string name = "spot" + std::to_string(details);
        Particle* particle = place("high", name.c_str(), 0.0f, 0.0f);
        ASSERT_NE(particle, nullptr);
        std::vector<std::uint8_t> bytes;
        for (int i = 0; i < 3; ++i) bytes = frame(0.05, 0);
        const bool hidden = details == 1;
        EXPECT_EQ(particle->drawable(), !hidden);
        EXPECT_EQ(core.log().contains("Disable particle [" + name + "] (class [high]): current graphics details too low"),
                  hidden);
        if (hidden) EXPECT_LT(brightest(bytes, 0, 0, 64, 64), 30);
        else EXPECT_GT(brightest(bytes, 28, 28, 36, 36), 600) << allLines();
        ASSERT_TRUE(world->scene->deleteParticle(particle));
        made.clear();
    }
}

// Teleport takes a point waypoint's pose moved along its x axis (here
// turned to world z); an empty or unknown waypoint is refused and leaves
// the particle; a second particle of a used name is not made.
TEST_F(ParticleGLTest, TeleportLandsAlongTheWaypointsXAxisAndNamesStayUnique) {
    Particle* particle = place("glow", "lamp", 0.0f, 0.0f);
    ASSERT_NE(particle, nullptr);
    std::unique_ptr<Y3Pose> gate = Y3Pose::create(0);
    std::snprintf(gate->id, sizeof(gate->id), "%s", "gate");
    // x axis (0, 0, 1), y axis (0, 1, 0), z axis (-1, 0, 0), at (3, 1, 0).
    const float rows[12] = {0, 0, 1, 0, 1, 0, -1, 0, 0, 3, 1, 0};
    std::memcpy(gate->pose.m, rows, sizeof(rows));
    ASSERT_TRUE(world->scene->addWaypoint(std::move(gate)));
    const struct {
        const char* waypoint;
        float offset;
        bool moved;
        float x, y, z;
    } cases[] = {{"", 1.0f, false, 0, 0, 0}, {"nowhere", 1.0f, false, 0, 0, 0}, {"gate", 2.0f, true, 3, 1, 2}};
    for (const auto& c : cases) {
        EXPECT_EQ(particle->teleport(c.waypoint, c.offset), c.moved) << c.waypoint;
        EXPECT_FLOAT_EQ(particle->pose.m[9], c.x) << c.waypoint;
        EXPECT_FLOAT_EQ(particle->pose.m[10], c.y) << c.waypoint;
        EXPECT_FLOAT_EQ(particle->pose.m[11], c.z) << c.waypoint;
    }
    EXPECT_TRUE(core.log().contains("Fail teleport particle to empty destination: [lamp]->NULL"));
    EXPECT_TRUE(core.log().contains("Required waypoint with name [nowhere] to execute TELEPORT for particle object [lamp]"));
    EXPECT_EQ(world->scene->createParticle("lamp", "veil", matrix34Identity()), nullptr);
    EXPECT_TRUE(core.log().contains("Particle with name [lamp] already exist: Name can't be duplicated"));
}

}  // namespace

namespace {

// A horizontal square of half size h at height y, facing up and down.
std::string flatSquare(float h, float y, const char* texture, int kind) {
    const std::string s = std::to_string(h), m = std::to_string(-h), height = std::to_string(y);
    return "lod\nmeshstream 4\nvertex p " + m + " " + height + " " + m + " n 0 1 0 t 0 0\nvertex p " + s + " " +
           height + " " + m + " n 0 1 0 t 1 0\nvertex p " + m + " " + height + " " + s +
           " n 0 1 0 t 0 1\nvertex p " + s + " " + height + " " + s +
           " n 0 1 0 t 1 1\nindex 0 1 2 2 1 3 0 2 1 2 3 1\nsubset 0 0 12 4 kind " + std::to_string(kind) +
           " diffuse " + texture + "\nbox " + s + " 0.05 " + s + " at 0 " + height + " 0\nlod\nbox 1 1 1\nlod\nbox 1 1 1\n";
}

// Shadows through the game's frame: a ground whose element receives
// shadows, a lid that casts them one unit above it, a sun that casts
// shadows slanting toward +x, and the scene camera looking straight down.
class ShadowFrameGLTest : public ModelDrawGLTest {
protected:
    void SetUp() override {
        ModelDrawGLTest::SetUp();
        if (HasFatalFailure()) return;
        textures.files["paint.dds"] = solid(200, 200, 200);
        textures.files["lid.dds"] = solid(40, 40, 220);
        render->textures.allocated = true;
        textures.setup.details = 1;
        textures.setup.shadows = 1;
        render->shadowLimits = {512, 512, 512};
        ASSERT_TRUE(render->allocateShadowTargets()) << allLines();
        world = std::make_unique<testing_support::CameraScene>(std::initializer_list<std::string>{
            "model ground\nelement deck flags 0x40\n" + flatSquare(4.0f, 0.0f, "paint", 6),
            "model lid\nelement castshadow_lid\n" + flatSquare(0.5f, 1.0f, "lid", 6),
            // Small casters: a chip's box has a squared diagonal below 1, a
            // pebble's below 0.25.
            "model chip\nelement castshadow_chip\n" + flatSquare(0.2f, 1.0f, "lid", 6),
            "model pebble\nelement castshadow_pebble\n" + flatSquare(0.1f, 1.0f, "lid", 6),
            // A slab around its own origin.
            "model slab\nelement castshadow_slab\n" + flatSquare(0.3f, 0.0f, "lid", 6),
            // Lids in light sets whose shadow "soft" value is 0 and 12.
            "model calmlid\nlightset day calm\nelement castshadow_lid\n" + flatSquare(0.5f, 1.0f, "lid", 6),
            "model hazylid\nlightset day hazy\nelement castshadow_lid\n" + flatSquare(0.5f, 1.0f, "lid", 6)},
            std::vector<testing_support::FixtureFile>{softLightSet("calm", 0.0f), softLightSet("hazy", 12.0f)});
        ASSERT_TRUE(lightSets.initialize());
        // The scene is the game's current scene.
        game = std::make_unique<SaveGame>();
        useGame.emplace(gameCore.game, game.get());
        game->scenes.push_back(world->scene->id);
        game->currentIndex = 0;
        savedCameraMode = gameCore.cameraMode;
        gameCore.cameraMode = 1;
        render->camera = &world->camera();
        // Looking down: the camera's third axis is +y; screen right is +x.
        Matrix34 down = matrix34Identity();
        const float rows[12] = {1, 0, 0, 0, 0, -1, 0, 1, 0, 0, 6, 0};
        std::copy(rows, rows + 12, down.m);
        world->camera().pose = down;
    }
    void TearDown() override {
        if (render) {
            render->renderList.clearQueues();
            render->camera = nullptr;
        }
        if (game) game->scenes.clear();
        useGame.reset();
        world.reset();
        game.reset();
        gameCore.cameraMode = savedCameraMode;
        IniFile defaults;
        readShadowSettings(defaults);
        ModelDrawGLTest::TearDown();
    }

    // One frame of half a second: the scene's simulation step (its shadow
    // step among them), the render core's context update and shadow map,
    // the scene's render hook and the object pass. The frame's bytes.
    std::vector<std::uint8_t> frame(double step = 0.5) {
        Scene& scene = *world->scene;
        frameTime += step;
        CurrentTime sample;
        sample.game.time = sample.world.time = frameTime;
        sample.game.step = sample.world.step = step;
        // (The sun's update reports false, as lights do.)
        scene.updatePhase0(sample, 0);
        scene.updatePhase1(sample, 0);
        render->takeCamera();
        render->updateContexts();
        render->renderShadows();
        return objectPass(0xFF000000u, [&] { scene.updatePhase2(CurrentTime(-1.0), 0); });
    }

    // A directional light named "sun" that casts shadows, slanting down
    // toward +x at 45 degrees, pushed into the scene.
    Light* addSun() {
        std::unique_ptr<Y3Light> source = Y3Light::create(1);
        copyName128(source->name, "sun");
        for (float& c : source->colour) c = 0.6f;
        source->flags |= kY3LightShadowCaster;
        source->radius = 50.0f;
        source->setDistance(100.0f);
        const float s = std::sqrt(0.5f);
        Matrix34 slant = matrix34Identity();
        const float rows[12] = {0, 0, 1, s, s, 0, s, -s, 0, -20, 20, 0};
        std::copy(rows, rows + 12, slant.m);
        source->setPose(slant);
        EXPECT_TRUE(lightDataManager().getOrCreate("sun")->load(source.get()));
        Light* sun = world->scene->addLight("sun", "sun", false);
        EXPECT_NE(sun, nullptr);
        if (!sun) return nullptr;
        if (!sun->onStack()) {
            EXPECT_TRUE(sun->push()) << allLines();
        }
        sun->updatePhase0(CurrentTime{}, 0);
        EXPECT_TRUE(sun->flags & kLightShadowCaster);
        return sun;
    }
    // A model of the resource placed at (x, 0, z) and pushed.
    Model* place(const char* resource, const char* name, float x = 0.0f, float z = 0.0f) {
        Matrix34 at = matrix34Identity();
        at.m[9] = x;
        at.m[11] = z;
        auto* model = static_cast<Model*>(world->scene->createModel(resource, name, at, 0));
        EXPECT_NE(model, nullptr) << allLines();
        if (model) {
            EXPECT_TRUE(model->push()) << allLines();
        }
        return model;
    }
    // Video options as the setup screen leaves them, with the shadow
    // targets sized for them.
    void videoOptions(std::int32_t shadows, std::int32_t details) {
        textures.setup.shadows = shadows;
        textures.setup.details = details;
        if (shadows && details) {
            ASSERT_TRUE(render->allocateShadowTargets()) << allLines();
        }
    }
    static int grey(const std::vector<std::uint8_t>& bytes, int x, int y) {
        const std::uint8_t* p = &bytes[(std::size_t(y) * 64 + std::size_t(x)) * 4];
        return (int(p[0]) + p[1] + p[2]) / 3;
    }
    // The mean grey of the pixels of a set.
    static double meanGrey(const std::vector<std::uint8_t>& bytes, const std::vector<std::pair<int, int>>& pixels) {
        double sum = 0.0;
        for (const auto& [x, y] : pixels) sum += grey(bytes, x, y);
        return pixels.empty() ? 0.0 : sum / double(pixels.size());
    }
    // The pixels that the picture shows more than 40 greys darker than the
    // plain one.
    static std::vector<std::pair<int, int>> darkened(const std::vector<std::uint8_t>& plain,
                                                     const std::vector<std::uint8_t>& shadowed) {
        std::vector<std::pair<int, int>> pixels;
        for (int y = 0; y < 64; ++y)
            for (int x = 0; x < 64; ++x)
                if (grey(plain, x, y) - grey(shadowed, x, y) > 40) pixels.emplace_back(x, y);
        return pixels;
    }
    // The same pixels mirrored through the frame's centre column, where the
    // ground has no shadow.
    static std::vector<std::pair<int, int>> mirrored(const std::vector<std::pair<int, int>>& pixels) {
        std::vector<std::pair<int, int>> out;
        for (const auto& [x, y] : pixels) out.emplace_back(63 - x, y);
        return out;
    }
    // A frame without shadows, then `frames` frames with shadows at the
    // given setting (enough for a shadow to fade in); the pixels the shadow
    // darkened and their mirror images on the caster's other side.
    struct ShadowedFrames {
        std::vector<std::uint8_t> plain, shadowed;
        std::vector<std::pair<int, int>> under, away;
    };
    ShadowedFrames shadowFrames(int frames = 3, std::int32_t shadows = 1) {
        ShadowedFrames shot;
        textures.setup.shadows = 0;
        shot.plain = frame();
        textures.setup.shadows = shadows;
        for (int i = 0; i < frames; ++i) shot.shadowed = frame();
        shot.under = darkened(shot.plain, shot.shadowed);
        shot.away = mirrored(shot.under);
        return shot;
    }

    // A stored light set whose shadow "soft" value is the given one.
    static testing_support::FixtureFile softLightSet(const char* name, float soft) {
        LightSet set;
        copyName128(set.name, name);
        set.shadowSoft = soft;
        MemoryStream raw;
        raw.write(&set, static_cast<std::int32_t>(sizeof(set)));
        MemoryStream record;
        EXPECT_GT(writePackedStream(raw, 6, true, record), 0);
        return resource_tests::storedFile(".ls", name,
                                          std::string(reinterpret_cast<const char*>(record.data()),
                                                      static_cast<std::size_t>(record.size())));
    }

    LightSetLibrary lightSets;
    testing_support::ScopedCoreMember<LightSetLibrary> useLightSets{gameCore.lightSets, &lightSets};
    std::unique_ptr<SaveGame> game;
    std::optional<testing_support::ScopedCoreMember<SaveGame>> useGame;
    std::unique_ptr<testing_support::CameraScene> world;
    std::int32_t savedCameraMode = 0;
    double frameTime = 0.0;
};

}  // namespace

// The lid's shadow falls on the ground to its +x side (the sun slants
// toward +x): there the ground is darker than in the same frame without
// shadows; the ground on the lid's other side and the lid itself are not.
TEST_F(ShadowFrameGLTest, ACasterOverAReceivingGroundDarkensItWhereTheLightThrowsItsShadow) {
    Scene& scene = *world->scene;
    ASSERT_NE(addSun(), nullptr);
    Model* ground = place("ground", "ground");
    Model* lid = place("lid", "lid");
    ASSERT_TRUE(ground && lid);
    ASSERT_TRUE(scene.shadows.isReceiver(GameObjectLink::fromObject(ground)));
    ASSERT_TRUE(scene.shadows.isCaster(GameObjectLink::fromObject(lid)));
    ASSERT_FALSE(scene.shadows.isCaster(GameObjectLink::fromObject(ground)));

    // Without shadows first, then frames enough for the shadow to fade in.
    auto [plain, shadowed, under, away] = shadowFrames(4);
    ASSERT_EQ(plain.size(), std::size_t(64) * 64 * 4);
    ASSERT_EQ(shadowed.size(), plain.size());
    ASSERT_EQ(scene.shadows.casters.size(), 1u);
    ASSERT_EQ(scene.shadows.casters[0].records.size(), 1u) << allLines();
    EXPECT_FLOAT_EQ(scene.shadows.casters[0].records[0].fade, 1.0f);
    EXPECT_TRUE(scene.shadows.casters[0].records[0].hasCell());

    // The ground shows and the lid covers the centre.
    EXPECT_GT(grey(plain, 4, 32), 60);
    int darkened = 0, darkenedLeft = 0;
    for (int y = 0; y < 64; ++y)
        for (int x = 0; x < 64; ++x) {
            if (grey(plain, x, y) - grey(shadowed, x, y) <= 40) continue;
            ++darkened;
            if (x < 32) ++darkenedLeft;
        }
    EXPECT_GT(darkened, 20) << allLines();
    EXPECT_EQ(darkenedLeft, 0);
    // The lid itself and the ground far to the left are as without shadows.
    EXPECT_NEAR(grey(shadowed, 32, 32), grey(plain, 32, 32), 8);
    EXPECT_NEAR(grey(shadowed, 6, 32), grey(plain, 6, 32), 8);
    scene.deleteModel(lid);
    scene.deleteModel(ground);
}

// Each record's receiver pass is held by a scissor rectangle to the part of
// the screen its shadow can reach, and a caster whose shadow misses the
// ground draws no receiver pass at all; the lid's shadow still shows whole.
TEST_F(ShadowFrameGLTest, ReceiverPassesAreHeldToTheirShadowsReach) {
    Scene& scene = *world->scene;
    ASSERT_NE(addSun(), nullptr);
    Model* ground = place("ground", "ground");
    Model* lid = place("lid", "lid");
    ASSERT_TRUE(ground && lid);
    auto [plain, shadowed, under, away] = shadowFrames(4);
    const platform::d3d9::DeviceStatistics* stats = platform::d3d9::statistics(device);
    ASSERT_NE(stats, nullptr);
    const std::uint64_t draws = stats->draws, scissored = stats->scissoredDraws;
    shadowed = frame();
    const std::uint64_t oneFrame = stats->draws - draws;
    EXPECT_EQ(stats->scissoredDraws - scissored, 1u) << "one record, one receiving element";
    // The whole shadow, with its edge: darkened pixels only right of the
    // lid's middle, as many as the unheld pass gives (its footprint is
    // about 16 pixels square at this scale).
    const auto dark = darkened(plain, shadowed);
    EXPECT_GT(dark.size(), 20u) << allLines();
    for (const auto& [x, y] : dark) EXPECT_GE(x, 32) << x << ", " << y;

    // A second lid far beyond the ground's edge (the sun throws its shadow
    // further out): its record takes a cell but adds no receiver draw.
    Model* far = place("lid", "farlid", -30.0f, 0.0f);
    ASSERT_NE(far, nullptr);
    for (int i = 0; i < 4; ++i) frame();
    ASSERT_EQ(scene.shadows.casters.size(), 2u);
    std::int32_t withCell = scene.shadows.eachRecordWithCell([](const ShadowRecord&) {});
    ASSERT_EQ(withCell, 2) << allLines();
    const std::uint64_t before = stats->draws, scissoredBefore = stats->scissoredDraws;
    const std::vector<std::uint8_t> both = frame();
    EXPECT_EQ(stats->scissoredDraws - scissoredBefore, 1u);
    // Out of the camera's view, the far lid adds only its caster draw into
    // the map; no receiver pass.
    EXPECT_EQ(stats->draws - before, oneFrame + 1u);
    EXPECT_EQ(darkened(plain, both).size(), dark.size());
    scene.deleteModel(far);
    scene.deleteModel(lid);
    scene.deleteModel(ground);
}

// The records on the game's clock: a new shadow fades in over a second; the
// light switched off fades it out over a second, after which the record
// goes; switched on again during the fade-out it fades back in from the
// weight it had. Registration mistakes are logged and change nothing.
TEST_F(ShadowFrameGLTest, RecordsFadeInAndOutOverASecondWithTheirLight) {
    Scene& scene = *world->scene;
    Light* sun = addSun();
    Model* ground = place("ground", "ground");
    Model* lid = place("lid", "lid");
    ASSERT_TRUE(sun && ground && lid);
    const GameObjectLink lidLink = GameObjectLink::fromObject(lid);
    EXPECT_FALSE(scene.shadows.addCaster(lidLink));
    EXPECT_TRUE(core.log().contains("Shadow: Can't add shadow caster object [lid] to scene [camroom]: Already registered"));
    EXPECT_EQ(scene.shadows.casters.size(), 1u);
    EXPECT_FALSE(scene.shadows.removeReceiver(GameObjectLink{0x00ABCDEFu}));
    EXPECT_TRUE(core.log().contains("Can't delete shadow receive [00ABCDEF]"));
    EXPECT_EQ(scene.shadows.receivers.size(), 1u);

    const auto record = [&]() -> const ShadowRecord* {
        const auto& records = scene.shadows.casters[0].records;
        return records.size() == 1 ? &records[0] : nullptr;
    };
    // The sun reaches the lid's elements in the first frame, the shadow
    // step sees it from the next.
    frame(0.25);
    EXPECT_EQ(record(), nullptr);
    for (float expected : {0.25f, 0.5f, 0.75f, 1.0f, 1.0f}) {
        frame(0.25);
        ASSERT_NE(record(), nullptr) << allLines();
        EXPECT_FLOAT_EQ(record()->fade, expected);
        EXPECT_EQ(record()->lightLink.value, GameObjectLink::fromObject(sun).value);
        EXPECT_TRUE(record()->hasCell());
    }
    sun->setVisible(false);
    for (float expected : {0.75f, 0.5f}) {
        frame(0.25);
        ASSERT_NE(record(), nullptr);
        EXPECT_FLOAT_EQ(record()->fade, expected);
        EXPECT_EQ(record()->fadeTo, 0.0f);
    }
    // Back half way out: in again from 0.5 over a second.
    sun->setVisible(true);
    frame(0.25);
    ASSERT_NE(record(), nullptr);
    EXPECT_FLOAT_EQ(record()->fadeFrom, 0.5f);
    EXPECT_FLOAT_EQ(record()->fade, 0.5f + 0.25f * 0.5f);
    for (int i = 0; i < 4; ++i) frame(0.25);
    ASSERT_NE(record(), nullptr);
    EXPECT_FLOAT_EQ(record()->fade, 1.0f);
    // Out for good: four quarters down to 0, then the record is gone.
    sun->setVisible(false);
    for (float expected : {0.75f, 0.5f, 0.25f, 0.0f}) {
        frame(0.25);
        ASSERT_NE(record(), nullptr);
        EXPECT_FLOAT_EQ(record()->fade, expected);
    }
    frame(0.25);
    EXPECT_TRUE(scene.shadows.casters[0].records.empty());
    // The caster leaves the list with its pop.
    scene.deleteModel(lid);
    EXPECT_TRUE(scene.shadows.casters.empty());
    scene.deleteModel(ground);
}

// The shadow block after a restore: every fade runs again over 0.1 s from
// its saved start weight, and the block read back writes the same bytes.
TEST_F(ShadowFrameGLTest, ARestoredRecordFadesAgainOverATenthOfASecond) {
    Scene& scene = *world->scene;
    Light* sun = addSun();
    Model* lid = place("lid", "lid");
    ASSERT_TRUE(sun && lid);
    for (int i = 0; i < 3; ++i) frame(0.25);
    ASSERT_EQ(scene.shadows.casters[0].records.size(), 1u);
    ASSERT_FLOAT_EQ(scene.shadows.casters[0].records[0].fade, 0.5f);
    const auto written = [&] {
        MemoryStream stream;
        EXPECT_GT(scene.shadows.write(stream), 0);
        const std::uint8_t* bytes = stream.data();
        return std::vector<std::uint8_t>(bytes, bytes + stream.size());
    };
    const auto readBack = [&](const std::vector<std::uint8_t>& bytes) {
        MemoryStream stream;
        stream.write(bytes.data(), std::int32_t(bytes.size()));
        stream.setPosition(0);
        EXPECT_EQ(scene.shadows.read(stream), std::int32_t(bytes.size()));
    };
    readBack(written());
    const std::vector<std::uint8_t> once = written();
    readBack(once);
    EXPECT_EQ(written(), once);
    const ShadowRecord& back = scene.shadows.casters[0].records[0];
    EXPECT_FALSE(back.hasCell());
    EXPECT_FLOAT_EQ(back.fadeFrom, 0.0f);
    // Half of the tenth: half way from the start weight 0 to 1.
    frame(0.05);
    ASSERT_EQ(scene.shadows.casters[0].records.size(), 1u);
    EXPECT_NEAR(scene.shadows.casters[0].records[0].fade, 0.5f, 1e-4f);
    EXPECT_TRUE(scene.shadows.casters[0].records[0].hasCell());
    frame(0.05);
    EXPECT_FLOAT_EQ(scene.shadows.casters[0].records[0].fade, 1.0f);
    scene.deleteModel(lid);
}

// The ranking: casters nearer the camera take the larger cells first; of
// equal distances the later one in the list is served first; a small
// caster waits behind every larger one, a very small one behind those.
TEST_F(ShadowFrameGLTest, CastersTakeTheLargerCellsByDistanceSizeAndListOrder) {
    Scene& scene = *world->scene;
    ASSERT_NE(addSun(), nullptr);
    // The camera is 6 above the origin; lids at height 0 on a circle of 1
    // are equally far, the pebble and the chip right under it are nearest.
    Model* pebble = place("pebble", "pebble");
    Model* chip = place("chip", "chip", 0.0f, 0.5f);
    Model* first = place("lid", "lid1", 1.0f, 0.0f);
    Model* second = place("lid", "lid2", -1.0f, 0.0f);
    Model* far = place("lid", "lid3", 3.0f, 0.0f);
    ASSERT_TRUE(pebble && chip && first && second && far);
    ASSERT_LT(GameObjectLink::fromObject(first).value & 0xFFFFFF, GameObjectLink::fromObject(second).value & 0xFFFFFF);
    videoOptions(1, 2);
    frame(0.25);
    frame(0.25);
    const auto cellOf = [&](Model* model) {
        for (const SceneShadows::CasterGroup& group : scene.shadows.casters)
            if (group.caster.value == GameObjectLink::fromObject(model).value && group.records.size() == 1)
                return std::pair{group.records[0].cellSize, group.records[0].cellIndex};
        return std::pair{0, -1};
    };
    // A 256 map: 2 cells of 128, then 8 of 64.
    ASSERT_EQ(scene.shadows.atlas.cells.size(), 10u);
    const struct {
        Model* model;
        std::int32_t size, index;
    } expected[] = {{second, 128, 0}, {first, 128, 1}, {far, 64, 0}, {chip, 64, 1}, {pebble, 64, 2}};
    for (const auto& e : expected) {
        EXPECT_EQ(cellOf(e.model).first, e.size) << e.model->getName();
        EXPECT_EQ(cellOf(e.model).second, e.index) << e.model->getName();
    }
    // Without a current camera the records are kept but get no cells.
    const std::int32_t current = scene.currentCamera;
    scene.currentCamera = -1;
    frame(0.25);
    for (const auto& e : expected) EXPECT_EQ(cellOf(e.model).second, -1) << e.model->getName();
    EXPECT_EQ(scene.shadows.casters[0].records.size(), 1u);
    scene.currentCamera = current;
    for (Model* model : {pebble, chip, first, second, far}) scene.deleteModel(model);
}

// The projection of a directional light's record: the eye stands 15 units
// back from the caster along the light, and every corner of the caster's
// shadow box lands inside the record's cell.
TEST_F(ShadowFrameGLTest, TheProjectionMapsTheCastersBoxIntoItsCell) {
    Scene& scene = *world->scene;
    ASSERT_NE(addSun(), nullptr);
    Model* lid = place("lid", "lid", 1.5f, -0.5f);
    Model* chip = place("slab", "slab", -1.0f, 1.0f);
    ASSERT_TRUE(lid && chip);
    for (int i = 0; i < 2; ++i) frame(0.25);
    const float s = std::sqrt(0.5f);
    for (Model* model : {lid, chip}) {
        const SceneShadows::CasterGroup* group = nullptr;
        for (const SceneShadows::CasterGroup& g : scene.shadows.casters)
            if (g.caster.value == GameObjectLink::fromObject(model).value) group = &g;
        ASSERT_TRUE(group && group->records.size() == 1) << model->getName();
        const ShadowRecord& record = group->records[0];
        ASSERT_TRUE(record.hasCell());
        EXPECT_NEAR(record.direction[0], s, 1e-5f);
        EXPECT_NEAR(record.direction[1], -s, 1e-5f);
        EXPECT_NEAR(record.direction[2], 0.0f, 1e-5f);
        float low[3], high[3];
        ASSERT_TRUE(model->getCasterBounds(low, high));
        // The centre: the box's middle across, the model's height.
        const float centre[3] = {0.5f * (low[0] + high[0]), model->worldMatrix.m[10], 0.5f * (low[2] + high[2])};
        for (int k = 0; k < 3; ++k)
            EXPECT_NEAR(record.position[k], centre[k] - 15.0f * record.direction[k], 1e-4f) << model->getName();
        const float left = 2.0f * record.windowX - 1.0f, bottom = 2.0f * record.windowY - 1.0f;
        for (int corner = 0; corner < 8; ++corner) {
            const float p[4] = {corner & 1 ? high[0] : low[0], corner & 2 ? high[1] : low[1],
                                corner & 4 ? high[2] : low[2], 1.0f};
            float q[4] = {};
            for (int c = 0; c < 4; ++c)
                for (int r = 0; r < 4; ++r) q[c] += p[r] * record.projection.m[r][c];
            EXPECT_NEAR(q[3], 1.0f, 1e-5f);
            EXPECT_GT(q[0], left) << model->getName() << " corner " << corner;
            EXPECT_LT(q[0], left + 2.0f * record.windowWidth) << model->getName() << " corner " << corner;
            EXPECT_GT(q[1], bottom) << model->getName() << " corner " << corner;
            EXPECT_LT(q[1], bottom + 2.0f * record.windowHeight) << model->getName() << " corner " << corner;
            EXPECT_GT(q[2], 0.0f);
            EXPECT_LT(q[2], 1.0f);
        }
    }
    scene.deleteModel(chip);
    scene.deleteModel(lid);
}

// The ground under the caster is darker than the same ground mirrored to
// the caster's other side while shadows are on; with "ShadowDisable" or
// details 0 the two are alike.
TEST_F(ShadowFrameGLTest, TheGroundIsDarkerUnderTheCasterOnlyWhileShadowsAreOn) {
    Scene& scene = *world->scene;
    ASSERT_NE(addSun(), nullptr);
    Model* ground = place("ground", "ground");
    Model* lid = place("lid", "lid");
    ASSERT_TRUE(ground && lid);
    const auto [plain, shadowed, under, away] = shadowFrames();
    ASSERT_GT(under.size(), 20u) << allLines();
    EXPECT_LT(meanGrey(shadowed, under), meanGrey(shadowed, away) - 40.0);
    const struct {
        std::int32_t shadows, details;
    } off[] = {{0, 1}, {1, 0}, {0, 2}};
    for (const auto& c : off) {
        videoOptions(c.shadows, c.details);
        std::vector<std::uint8_t> bytes;
        for (int i = 0; i < 2; ++i) bytes = frame();
        EXPECT_NEAR(meanGrey(bytes, under), meanGrey(bytes, away), 6.0) << c.shadows << " " << c.details;
        EXPECT_GT(meanGrey(bytes, away), 60.0);
    }
    scene.deleteModel(lid);
    scene.deleteModel(ground);
}

// Soft shadows ("shadows" and "details" 2): the map is blurred, so the
// shadow's edge on the ground passes through several intermediate greys;
// with shadow_blur_disable it steps from shadow to light at once. The blur's
// offset is the caster's light set's "soft" value when it has a set, else
// shadow_blur_offset; an offset of 0 blurs nothing.
TEST_F(ShadowFrameGLTest, ASoftShadowsEdgeIsGradedAndASharpOneIsNot) {
    Scene& scene = *world->scene;
    ASSERT_NE(addSun(), nullptr);
    Model* ground = place("ground", "ground");
    ASSERT_NE(ground, nullptr);
    videoOptions(2, 2);
    const struct {
        const char* caster;
        const char* offset;
        bool blurDisable, graded;
    } cases[] = {{"lid", "12", false, true},     {"lid", "12", true, false}, {"lid", "0", false, false},
                 {"calmlid", "12", false, false}, {"hazylid", "0", false, true}};
    for (const auto& c : cases) {
        IniFile ini;
        ini.getCategory("shadow").getVariable("shadow_blur_offset").setString(c.offset);
        ini.getCategory("shadow").getVariable("shadow_blur_disable").setString(c.blurDisable ? "yes" : "no");
        readShadowSettings(ini);
        Model* lid = place(c.caster, c.caster);
        ASSERT_NE(lid, nullptr);
        const auto [plain, bytes, under, away] = shadowFrames(3, 2);
        // Intermediate pixels along the frame's middle row, between the
        // darkest shadow and the plain ground.
        int darkest = 255, count = 0;
        std::string profile;
        for (int x = 40; x < 64; ++x) darkest = std::min(darkest, grey(bytes, x, 32));
        for (int x = 40; x < 64; ++x) {
            const int g = grey(bytes, x, 32), lit = grey(plain, x, 32);
            profile += std::to_string(g) + "/" + std::to_string(lit) + " ";
            if (g > darkest + 10 && g < lit - 10) ++count;
        }
        EXPECT_LT(darkest, grey(plain, 44, 32) - 40) << c.caster << " " << profile;
        if (c.graded) {
            EXPECT_GE(count, 3) << c.caster << " " << c.offset << " " << profile;
        } else {
            EXPECT_LE(count, 1) << c.caster << " " << c.offset << " " << profile;
        }
        scene.deleteModel(lid);
    }
    scene.deleteModel(ground);
}

// Two casters share the atlas: each darkens the ground beside it.
TEST_F(ShadowFrameGLTest, TwoCastersInOneAtlasEachCastTheirOwnShadow) {
    Scene& scene = *world->scene;
    ASSERT_NE(addSun(), nullptr);
    Model* ground = place("ground", "ground");
    Model* near = place("lid", "north", 0.0f, -1.5f);
    Model* far = place("lid", "south", 0.0f, 1.5f);
    ASSERT_TRUE(ground && near && far);
    const auto [plain, bytes, under, away] = shadowFrames();
    ASSERT_EQ(scene.shadows.casters.size(), 2u);
    const ShadowRecord& a = scene.shadows.casters[0].records.at(0);
    const ShadowRecord& b = scene.shadows.casters[1].records.at(0);
    ASSERT_TRUE(a.hasCell() && b.hasCell());
    EXPECT_NE(a.windowY, b.windowY);
    int top = 0, bottom = 0;
    for (const auto& [x, y] : darkened(plain, bytes)) {
        EXPECT_GT(x, 32);
        ++(y < 32 ? top : bottom);
    }
    EXPECT_GT(top, 10) << allLines();
    EXPECT_GT(bottom, 10);
    for (Model* model : {near, far, ground}) scene.deleteModel(model);
}

// The light switched off: the shadow fades out over its second, half way
// it is lighter than at the start.
TEST_F(ShadowFrameGLTest, AFadingShadowIsLighterHalfWayThanAtItsStart) {
    Scene& scene = *world->scene;
    Light* sun = addSun();
    Model* ground = place("ground", "ground");
    Model* lid = place("lid", "lid");
    ASSERT_TRUE(sun && ground && lid);
    const auto [plain, full, under, away] = shadowFrames();
    ASSERT_GT(under.size(), 20u);
    sun->setVisible(false);
    const std::vector<std::uint8_t> start = frame(0.1);
    ASSERT_EQ(scene.shadows.casters[0].records.size(), 1u);
    EXPECT_FLOAT_EQ(scene.shadows.casters[0].records[0].fade, 0.9f);
    std::vector<std::uint8_t> half;
    for (int i = 0; i < 4; ++i) half = frame(0.1);
    EXPECT_NEAR(scene.shadows.casters[0].records[0].fade, 0.5f, 1e-5f);
    const double startDepth = meanGrey(start, away) - meanGrey(start, under);
    const double halfDepth = meanGrey(half, away) - meanGrey(half, under);
    EXPECT_GT(startDepth, 20.0);
    EXPECT_LT(halfDepth, startDepth - 10.0) << startDepth << " " << halfDepth;
    scene.deleteModel(lid);
    scene.deleteModel(ground);
}

// In the "Game" camera mode the main character casts no shadow, unless a
// camera stack plays (the mode counts as "Player" then); on the flat "2d"
// screens no receiver shows a shadow.
TEST_F(ShadowFrameGLTest, TheCameraModeDecidesWhoCastsAndWhetherReceiversShowIt) {
    Scene& scene = *world->scene;
    ASSERT_NE(addSun(), nullptr);
    Model* ground = place("ground", "ground");
    Model* lid = place("lid", "lid");
    ASSERT_TRUE(ground && lid);
    const auto [plain, lit, under, away] = shadowFrames();
    ASSERT_GT(under.size(), 20u);
    const std::uint32_t savedFlags = gameCore.flags;
    const struct {
        std::int32_t mode;
        bool mainCharacter, cameraStack, casts, shows;
    } cases[] = {{1, false, false, true, true}, {1, true, false, false, false}, {1, true, true, true, true},
                 {0, true, false, true, true},  {9, false, false, true, false}};
    for (const auto& c : cases) {
        gameCore.cameraMode = c.mode;
        gameCore.flags = c.cameraStack ? savedFlags | kGameFlagCameraOverride : savedFlags & ~kGameFlagCameraOverride;
        scene.mainCharacter = c.mainCharacter ? GameObjectLink::fromObject(lid) : GameObjectLink{};
        std::vector<std::uint8_t> bytes;
        for (int i = 0; i < 3; ++i) bytes = frame();
        EXPECT_EQ(scene.shadows.casters[0].records.size(), c.casts ? 1u : 0u) << c.mode << " " << c.mainCharacter;
        const bool shown = meanGrey(bytes, under) < meanGrey(bytes, away) - 40.0;
        EXPECT_EQ(shown, c.shows) << c.mode << " " << c.mainCharacter << " " << c.cameraStack;
    }
    gameCore.flags = savedFlags;
    scene.mainCharacter = GameObjectLink{};
    scene.deleteModel(lid);
    scene.deleteModel(ground);
}
