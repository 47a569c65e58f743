// Meshes drawn on the GL backend of our Direct3D 9 with the fixed-function
// pipeline: subsets, CPU-skinned limbs and instancing groups, read back
// from the frame.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "app/GameCore.h"
#include "foundation/DataStream.h"
#include "foundation/IniFile.h"
#include "foundation/TimeCore.h"
#include "model/MeshTestSupport.h"
#include "model/Model.h"
#include "model/ModelElement.h"
#include "render/Material.h"
#include "model/ModelWriter.h"
#include "model/Y3Mesh.h"
#include "model/Y3MeshStream.h"
#include "platform/D3D9TestSupport.h"
#include "render/RenderCore.h"
#include "render/VideoCore.h"
#include "render/states/DXStateCache.h"
#include "support/TestSupport.h"

namespace {

using testing_support::ScopedCoreMember;

class MeshGLTest : public d3d9_test::D3D9Test, protected mesh_test::MeshCores {
protected:
    void SetUp() override {
        environment.backend = platform::d3d9::BackendKind::GL;
        D3D9Test::SetUp();
        device = createDevice(windowed(64, 64));
        ASSERT_NE(device, nullptr) << allLines();
        video.fixedPipeline = true;
        makeRender();
        DXStateCache& cache = render->stateCache();
        cache.setDevice(device);
        cache.initialize(true);
        ASSERT_TRUE(cache.setupDeviceDefaults(false));
        ASSERT_TRUE(render->streamDeclarations().allocate(device)) << allLines();
        // Vertex colours as they are, culling of counter-clockwise faces.
        cache.setRender(DXStateCache::RsLighting, FALSE);
        cache.setRender(DXStateCache::RsZEnable, FALSE);
        cache.setRender(DXStateCache::RsCullMode, D3DCULL_CCW);
        cache.setStage(0, DXStateCache::StageColorOp, D3DTOP_SELECTARG1);
        cache.setStage(0, DXStateCache::StageColorArg1, D3DTA_DIFFUSE);
        cache.setStage(0, DXStateCache::StageAlphaOp, D3DTOP_SELECTARG1);
        cache.setStage(0, DXStateCache::StageAlphaArg1, D3DTA_DIFFUSE);
        cache.setStage(1, DXStateCache::StageColorOp, D3DTOP_DISABLE);
        setWorld(MeshMatrix());
        Y3Mesh::readConfig();
    }
    void TearDown() override {
        releaseRender();
        D3D9Test::TearDown();
    }

    void setWorld(const MeshMatrix& m) {
        D3DMATRIX world{};
        for (int r = 0; r < 4; ++r)
            for (int c = 0; c < 3; ++c) world.m[r][c] = m.m[r][c];
        world.m[3][3] = 1.0f;
        render->stateCache().setTransform(DXStateCache::TransformWorld, world);
    }

    void load(Y3Mesh& mesh, const std::string& text) { ASSERT_TRUE(mesh_test::loadMesh(mesh, text)); }

    // Runs draw into a cleared black frame and reads the frame back.
    template <class Draw>
    std::vector<std::uint8_t> frame(Draw draw) {
        device->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFF000000u, 1.0f, 0);
        device->BeginScene();
        draw();
        device->EndScene();
        IDirect3DSurface9* back = nullptr;
        device->GetBackBuffer(0, 0, D3DBACKBUFFER_TYPE_MONO, &back);
        std::vector<std::uint8_t> bytes;
        D3DSURFACE_DESC desc{};
        EXPECT_NE(back, nullptr);
        if (back) {
            EXPECT_TRUE(platform::d3d9::readSurface(back, bytes, desc));
            back->Release();
        }
        return bytes;
    }
    static int channel(const std::vector<std::uint8_t>& bytes, int x, int y, int c) {
        return bytes[(std::size_t(y) * 64 + std::size_t(x)) * 4 + std::size_t(2 - c)];
    }
    static int covered(const std::vector<std::uint8_t>& bytes) {
        int count = 0;
        for (std::size_t i = 0; i + 3 < bytes.size(); i += 4)
            if (bytes[i] > 128 || bytes[i + 1] > 128 || bytes[i + 2] > 128) ++count;
        return count;
    }

};

// A clockwise triangle (seen on screen) in the clip-space corner near the
// origin, white (format 2: position and colour).
const char* const kTriangle =
    "mesh t.mh t.my\n"
    "meshstream 2\n"
    "vertex p -0.25 -0.25 0.5 c 0xFFFFFFFF\n"
    "vertex p -0.25 0.25 0.5 c 0xFFFFFFFF\n"
    "vertex p 0.25 -0.25 0.5 c 0xFFFFFFFF\n"
    "index 0 1 2\n"
    "subset 0 0 3 3\n";

TEST_F(MeshGLTest, AGroupCoversWhatItsMembersCoverOneByOne) {
    settings.getCategory("render").getVariable("min_instances_per_group").setString("3");
    Y3Mesh::readConfig();
    Y3Mesh mesh;
    load(mesh, kTriangle);
    MeshInstanceMember members[3];
    const float places[3][2] = {{-0.5f, 0.5f}, {0.5f, 0.5f}, {0.0f, -0.5f}};
    for (int i = 0; i < 3; ++i) {
        members[i].modelName = "crate" + std::to_string(i);
        members[i].elementName = "body";
        std::snprintf(members[i].key.name, sizeof members[i].key.name, "crate");
        members[i].matrix = mesh_test::translation(places[i][0], places[i][1]);
    }

    const std::vector<std::uint8_t> oneByOne = frame([&] {
        for (const MeshInstanceMember& m : members) {
            setWorld(m.matrix);
            EXPECT_TRUE(mesh.drawSubset(0)) << allLines();
        }
        setWorld(MeshMatrix());
    });
    for (MeshInstanceMember& m : members) mesh.registerInstance(&m);
    ASSERT_EQ(mesh.instanceCount(), 1);
    const std::vector<std::uint8_t> grouped = frame([&] { EXPECT_TRUE(mesh.instance(0).drawSubset(0)) << allLines(); });

    // Each triangle covers about 1/32 of the frame.
    EXPECT_GT(covered(oneByOne), 3 * 80);
    EXPECT_EQ(covered(grouped), covered(oneByOne));
    for (const auto& place : places) {
        const int x = int((place[0] + 1.0f) * 32.0f) - 4;
        const int y = int((1.0f - place[1]) * 32.0f);
        EXPECT_GT(channel(grouped, x, y, 0), 128) << x << " " << y;
        EXPECT_GT(channel(oneByOne, x, y, 0), 128) << x << " " << y;
    }
    for (MeshInstanceMember& m : members) mesh.unregisterInstance(&m);
}

// Left half red, right half blue: one stream, two subsets.
const char* const kHalves =
    "mesh q.mh q.my\n"
    "meshstream 2\n"
    "vertex p -1 -1 0.5 c 0xFFFF0000\nvertex p -1 1 0.5 c 0xFFFF0000\nvertex p 0 -1 0.5 c 0xFFFF0000\n"
    "vertex p 0 1 0.5 c 0xFFFF0000\n"
    "vertex p 0 -1 0.5 c 0xFF0000FF\nvertex p 0 1 0.5 c 0xFF0000FF\nvertex p 1 -1 0.5 c 0xFF0000FF\n"
    "vertex p 1 1 0.5 c 0xFF0000FF\n"
    "index 0 1 2 2 1 3 4 5 6 6 5 7\n"
    "subset 0 0 6 4 kind 3 diffuse left\n"
    "subset 0 6 6 8 kind 3 diffuse right\n";

TEST_F(MeshGLTest, TwoSubsetsDrawTheirOwnRuns) {
    Y3Mesh mesh;
    load(mesh, kHalves);
    const std::vector<std::uint8_t> first = frame([&] { EXPECT_TRUE(mesh.drawSubset(0)) << allLines(); });
    EXPECT_GT(channel(first, 16, 32, 0), 200);
    EXPECT_LT(channel(first, 48, 32, 2), 50);
    const std::vector<std::uint8_t> both = frame([&] {
        EXPECT_TRUE(mesh.drawSubset(0));
        EXPECT_TRUE(mesh.drawSubset(1));
    });
    EXPECT_GT(channel(both, 16, 32, 0), 200);
    EXPECT_LT(channel(both, 16, 32, 2), 50);
    EXPECT_GT(channel(both, 48, 32, 2), 200);
    EXPECT_LT(channel(both, 48, 32, 0), 50);
}

// An element whose level is that mesh, drawn through the element paths
// (fixed pipeline, minimum details) with a material per subset, shows the
// mesh's colours where each subset stands.
TEST_F(MeshGLTest, AnElementDrawsItsMeshThroughTheElementPaths) {
    video.activeVideoSetup().details = VideoDetailsMinimum;
    Y3Mesh mesh;
    load(mesh, kHalves);
    ModelElement element;
    element.world = identityMatrix();
    ModelElementLod& level = element.lods.emplace_back();
    level.setMesh(mesh);
    const std::vector<std::uint8_t> bytes = frame([&] { EXPECT_TRUE(element.render()) << allLines(); });
    EXPECT_EQ(covered(bytes), 64 * 64);
    EXPECT_GT(channel(bytes, 16, 32, 0), 200);
    EXPECT_LT(channel(bytes, 16, 32, 2), 50);
    EXPECT_GT(channel(bytes, 48, 32, 2), 200);
    EXPECT_LT(channel(bytes, 48, 32, 0), 50);
}

TEST_F(MeshGLTest, ASkinnedLimbShowsWhereItsBoneTurnedIt) {
    // A bar along +x from the origin: its near end weighted to bone 0, the
    // far end to bone 1 (format 3: position, colour, blend data; fallback
    // format 2 on the fixed pipeline).
    Y3Mesh mesh;
    load(mesh,
         "mesh l.mh l.my\n"
         "meshstream 3\n"
         "vertex p 0 -0.05 0.5 c 0xFFFFFFFF i 0 0 0 0 w 1 0 0 0\n"
         "vertex p 0 0.05 0.5 c 0xFFFFFFFF i 0 0 0 0 w 1 0 0 0\n"
         "vertex p 0.8 -0.05 0.5 c 0xFFFFFFFF i 1 0 0 0 w 1 0 0 0\n"
         "vertex p 0.8 0.05 0.5 c 0xFFFFFFFF i 1 0 0 0 w 1 0 0 0\n"
         "vertex p 0.8 -0.05 0.5 c 0xFFFFFFFF i 1 0 0 0 w 1 0 0 0\n"
         "index 0 1 2 2 1 3\n"
         "subset 0 0 6 4\n"
         "bone hip 0\nbone limb 1\n");
    MeshAnimInstance* instance = mesh.createAnimInstance();
    ASSERT_NE(instance, nullptr);
    ASSERT_TRUE(instance->allocate()) << allLines();
    // Bone "limb" turns its vertices by 90 degrees about z: +x goes to +y.
    MeshMatrix turn;
    turn.m[0][0] = 0;
    turn.m[0][1] = 1;
    turn.m[1][0] = -1;
    turn.m[1][1] = 0;
    const MeshMatrix palette[2] = {MeshMatrix(), turn};  // bone order: hip, limb
    instance->skin(palette, 2);
    render->stateCache().setRender(DXStateCache::RsCullMode, D3DCULL_NONE);
    const std::vector<std::uint8_t> bytes = frame([&] { EXPECT_TRUE(instance->drawSubset(0)) << allLines(); });
    // The limb's far end is now up the screen (clip y 0.8 is row 6), not to
    // the right (clip x 0.8 is column 57).
    EXPECT_GT(covered(bytes), 20);
    bool up = false;
    for (int x = 28; x < 36; ++x) up = up || channel(bytes, x, 8, 0) > 128;
    EXPECT_TRUE(up);
    for (int y = 28; y < 36; ++y) EXPECT_LT(channel(bytes, 56, y, 0), 128) << y;
    instance->deallocate();
    mesh.destroyAnimInstance(instance);
}

}  // namespace
