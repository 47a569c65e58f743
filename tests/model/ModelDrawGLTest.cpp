// Model element passes drawn on the GL backend of our Direct3D 9 with the
// shader package built at test time.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "app/GameCore.h"
#include "effects/ShadowRecord.h"
#include "foundation/AppPaths.h"
#include "model/Model.h"
#include "model/DXStreams.h"
#include "model/ModelElement.h"
#include "model/ModelWriter.h"
#include "model/Y3MeshStream.h"
#include "model/SkySceneSupport.h"
#include "platform/D3D9TestSupport.h"
#include "render/Material.h"
#include "render/RenderCore.h"
#include "render/VideoCore.h"
#include "render/shaders/ShaderCore.h"
#include "render/ShaderPackageSupport.h"
#include "render/states/DXStateCache.h"
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
        device = createDevice(windowed(64, 64));
        ASSERT_NE(device, nullptr) << allLines();
        ASSERT_TRUE(testing_support::installShaderPackage(core, folder));

        textures.deviceInUse = device;
        textures.setup.details = 1;
        setTextureEnvironment(&textures);
        render = std::make_unique<RenderCore>();
        savedRender = gameCore.render;
        gameCore.render = render.get();
        DXStateCache& cache = render->stateCache();
        cache.setDevice(device);
        cache.initialize(false);
        ASSERT_TRUE(cache.setupDeviceDefaults(false));
        render->shaders().attach(device, &cache);
        ASSERT_TRUE(render->shaders().initialize()) << allLines();
        render->shaders().frame.viewProjection = identityMatrix();

        ASSERT_TRUE(render->streamDeclarations().allocate(device)) << allLines();
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
    static ModelElementLight lightAlongZ() {
        ModelElementLight light;
        light.light.Type = D3DLIGHT_DIRECTIONAL;
        light.light.Direction = {0.0f, 0.0f, 1.0f};
        light.light.Diffuse = {0.5f, 0.5f, 0.5f, 1.0f};
        light.flags = kElementLightPerLightPass;
        return light;
    }

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

    // An A8R8G8B8 texture of one colour.
    static std::vector<std::uint8_t> solid(std::uint8_t red, std::uint8_t green, std::uint8_t blue) {
        texture_tools::DdsImage image;
        image.width = image.height = 8;
        std::vector<std::uint8_t> texels;
        for (int i = 0; i < 64; ++i) texels.insert(texels.end(), {blue, green, red, 255});
        image.blocks.push_back(texels);
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

    void readBack(std::vector<std::uint8_t>& bytes, D3DSURFACE_DESC& desc) {
        IDirect3DSurface9* back = nullptr;
        device->GetBackBuffer(0, 0, D3DBACKBUFFER_TYPE_MONO, &back);
        ASSERT_NE(back, nullptr);
        EXPECT_TRUE(platform::d3d9::readSurface(back, bytes, desc));
        back->Release();
    }

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
// pass reflects the current scene's sky layer, or with the water
// reflection the mirror target, strongest at grazing angles.
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

    // The mirror target takes the sky's place, pixel for pixel: its upper
    // left quarter blue, the rest red.
    textures.setup.waterReflection = 1;
    ASSERT_TRUE(render->allocateReflectionTarget()) << allLines();
    TextureLink* mirror = render->builtinTextures.find("ProcMirror");
    ASSERT_TRUE(mirror && mirror->handler() && mirror->handler()->texture);
    IDirect3DSurface9* level = nullptr;
    IDirect3DSurface9* back = nullptr;
    static_cast<IDirect3DTexture9*>(mirror->handler()->texture)->GetSurfaceLevel(0, &level);
    device->GetRenderTarget(0, &back);
    ASSERT_TRUE(level && back);
    device->SetRenderTarget(0, level);
    D3DSURFACE_DESC mirrorDesc{};
    level->GetDesc(&mirrorDesc);
    const RECT quarter = {0, 0, std::int32_t(mirrorDesc.Width / 2), std::int32_t(mirrorDesc.Height / 2)};
    device->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFFC82828u, 1.0f, 0);
    device->Clear(1, &quarter, D3DCLEAR_TARGET, 0xFF2828C8u, 1.0f, 0);
    device->SetRenderTarget(0, back);
    level->Release();
    back->Release();

    draw(1);
    EXPECT_EQ(render->shaders().waterNorm20.values.ambient, 1);
    expectColour(mean(36, 62, 2, 24), 200, 40, 40, "the mirror's right half");
    expectColour(mean(2, 28, 2, 24), 40, 40, 200, "the mirror's upper left quarter");
    material.release();
}

}  // namespace
