// Meshes: their two stored parts, damaged parts, device data under the
// cache clock and subset drawing on the null Direct3D 9 backend, and the
// cloth list.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "app/GameCore.h"
#include "control/ClothInstance.h"
#include "foundation/DataStream.h"
#include "foundation/IniFile.h"
#include "foundation/Log.h"
#include "foundation/TimeCore.h"
#include "model/MeshTestSupport.h"
#include "model/Model.h"
#include "model/ModelElement.h"
#include "render/Material.h"
#include "model/ModelWriter.h"
#include "model/Y3Mesh.h"
#include "model/Y3Model.h"
#include "model/Y3MeshStream.h"
#include "platform/D3D9TestSupport.h"
#include "render/RenderCore.h"
#include "render/VideoCore.h"
#include "support/TestSupport.h"

namespace {

using testing_support::ScopedCoreMember;

// Two streams of format 4 (position, normal, texture); stream 0 has two
// subsets, stream 1 one; three bones.
const char* const kTwoStreamMesh =
    "mesh m.mh m.my\n"
    "meshstream 4\n"
    "vertex p 0 0 0 t 0 0\n"
    "vertex p 1 0 0 t 1 0\n"
    "vertex p 0 1 0 t 0 1\n"
    "vertex p 1 1 0 t 1 1\n"
    "meshstream 4\n"
    "vertex p 0 0 1\n"
    "vertex p 1 0 1\n"
    "vertex p 0 1 1\n"
    "index 0 1 2 2 1 3 0 1 2\n"
    "subset 0 0 3 3 kind 3 diffuse stone\n"
    "subset 0 3 3 4 kind 3 diffuse stone lightmap shade\n"
    "subset 1 6 3 3 kind 5 bones 2\n"
    "bone root -1\n"
    "bone arm 1\n"
    "bone hand 0\n";

struct MeshBytes {
    std::string header;
    std::string data;
};

model_tools::ModelDescription describe(const std::string& text) {
    model_tools::ModelDescription description;
    std::string error;
    EXPECT_TRUE(model_tools::parseModelDescription(text, description, error)) << error;
    return description;
}

MeshBytes bytesOf(const std::string& text, bool skinTail = false) {
    model_tools::ModelDescription description = describe(text);
    if (description.meshes.empty()) return {};
    Y3Mesh& mesh = *description.meshes.front().mesh;
    return {model_tools::meshPartBytes(mesh, skinTail, true), model_tools::meshPartBytes(mesh, skinTail, false)};
}

std::int32_t readPart(Y3Mesh& mesh, const std::string& bytes, bool header, bool skinTail = false) {
    std::string copy = bytes;
    MemoryStream in(copy.data(), std::int32_t(copy.size()));
    return mesh.read(in, skinTail, header);
}

std::string writePart(Y3Mesh& mesh, bool header, bool skinTail = false) {
    MemoryStream out;
    if (mesh.write(out, skinTail, header) < 0) return "(failed)";
    return std::string(reinterpret_cast<const char*>(out.data()), std::size_t(out.size()));
}

void putWord(std::string& bytes, std::size_t at, std::uint32_t value) { std::memcpy(bytes.data() + at, &value, 4); }

TEST(Y3MeshTest, WriterMeshReadsAndWritesBackByteForByte) {
    testing_support::ScopedGameCore core;
    const MeshBytes stored = bytesOf(kTwoStreamMesh);
    ASSERT_FALSE(stored.header.empty());
    ASSERT_FALSE(stored.data.empty());
    Y3Mesh mesh;
    EXPECT_EQ(readPart(mesh, stored.header, true), std::int32_t(stored.header.size()));
    EXPECT_EQ(readPart(mesh, stored.data, false), std::int32_t(stored.data.size()));
    EXPECT_EQ(mesh.flags(), Y3Mesh::kDataLoaded);
    ASSERT_EQ(mesh.subsetCount(), 3);
    EXPECT_EQ(mesh.subset(2).material.head.kind, 5u);
    EXPECT_EQ(mesh.subset(2).material.head.boneInfluences, 2);
    EXPECT_STREQ(mesh.subset(1).material.links[1].baseName(), "shade");
    // The bones are stored in name order with their palette slots.
    ASSERT_EQ(mesh.skin().bones.size(), 3u);
    EXPECT_STREQ(mesh.skin().bones[0].name, "arm");
    EXPECT_EQ(mesh.skin().bones[0].paletteSlot(), 1);
    EXPECT_STREQ(mesh.skin().bones[2].name, "root");
    EXPECT_EQ(mesh.skin().bones[2].paletteSlot(), -1);
    EXPECT_EQ(writePart(mesh, true), stored.header);
    EXPECT_EQ(writePart(mesh, false), stored.data);
}

TEST(Y3MeshTest, BlocksKeptUnreadAreWrittenBackAndTriangleCountsRecomputed) {
    testing_support::ScopedGameCore core;
    model_tools::ModelDescription description = describe(std::string(kTwoStreamMesh));
    Y3Mesh& source = *description.meshes.front().mesh;
    source.subset(0).carried = 0xA1B2C3D4u;
    for (int i = 0; i < 64; ++i) source.subset(1).tail[i] = std::uint8_t(i * 3 + 1);
    source.secondMatrix.m[3][1] = 7.5f;
    source.boxBlock[0] = 0x40;
    source.boxBlock[63] = 0x41;
    source.skin().bones[1].block[39] = 0x99;
    source.skin().records.resize(2);
    source.skin().records[1].bytes[319] = 0x55;
    source.skin().tailWords[0] = 17;
    source.skin().tailWords[1] = 0xFFFFFFFFu;
    source.skin().tailMatrices.resize(1);
    source.skin().tailMatrices[0].m[0][0] = -2.0f;
    const std::string header = model_tools::meshPartBytes(source, true, true);
    const std::string data = model_tools::meshPartBytes(source, true, false);

    Y3Mesh mesh;
    ASSERT_EQ(readPart(mesh, header, true, true), std::int32_t(header.size()));
    ASSERT_EQ(readPart(mesh, data, false), std::int32_t(data.size()));
    EXPECT_TRUE(mesh.flags() & Y3Mesh::kSkinMatrices);
    EXPECT_EQ(writePart(mesh, true, true), header);
    EXPECT_EQ(writePart(mesh, false), data);

    // A stored triangle count that disagrees with the index count is put
    // right when the mesh is written.
    std::string wrongCount = header;
    putWord(wrongCount, 8 + 20, 99);
    Y3Mesh again;
    ASSERT_GT(readPart(again, wrongCount, true, true), 0);
    EXPECT_EQ(again.subset(0).triangleCount, 99);
    EXPECT_EQ(writePart(again, true, true), header);
}

TEST(Y3MeshTest, CutPartsAreRefused) {
    testing_support::ScopedGameCore core;
    const MeshBytes stored = bytesOf(kTwoStreamMesh, true);
    for (std::size_t cut = 0; cut < stored.header.size(); ++cut) {
        Y3Mesh mesh;
        EXPECT_LT(readPart(mesh, stored.header.substr(0, cut), true, true), 0) << "header cut at " << cut;
    }
    for (std::size_t cut = 0; cut < stored.data.size(); ++cut) {
        Y3Mesh mesh;
        ASSERT_GT(readPart(mesh, stored.header, true, true), 0);
        EXPECT_LT(readPart(mesh, stored.data.substr(0, cut), false), 0) << "data cut at " << cut;
        EXPECT_FALSE(mesh.flags() & Y3Mesh::kDataLoaded);
    }
}

TEST(Y3MeshTest, CountsPastTheEndAndLongBoneNamesAreRefused) {
    testing_support::ScopedGameCore core;
    const MeshBytes stored = bytesOf(kTwoStreamMesh);
    const std::size_t boneName = stored.header.find("hand");
    ASSERT_NE(boneName, std::string::npos);
    struct Case {
        const char* what;
        bool header;
        std::size_t at;
        std::uint32_t value;
        const char* message;
    };
    const std::size_t indexCountAt = stored.data.size() - 4 - 9 * 4;
    const Case cases[] = {
        {"subset count", true, 4, 0x7FFFFFFF, "subset count"},
        {"negative subset count", true, 4, 0xFFFFFFFF, "subset count"},
        {"stream count", false, 4, 1000, "stream count"},
        {"index count", false, indexCountAt, 10, "index count"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        gameCore.log->clear();
        Y3Mesh mesh;
        std::string header = stored.header;
        std::string data = stored.data;
        putWord(c.header ? header : data, c.at, c.value);
        const std::int32_t read = readPart(mesh, header, true);
        if (c.header) {
            EXPECT_EQ(read, -1);
        } else {
            ASSERT_GT(read, 0);
            EXPECT_EQ(readPart(mesh, data, false), -1);
        }
        EXPECT_TRUE(gameCore.log->contains(c.message));
    }
    // A bone name of 128 bytes does not fit its 127 characters and a 0.
    std::string header = stored.header;
    header[boneName - 2] = char(128);
    header[boneName - 1] = 0;
    Y3Mesh mesh;
    EXPECT_EQ(readPart(mesh, header, true), -1);
    EXPECT_TRUE(gameCore.log->contains("bone name of 128 bytes"));
}

TEST(Y3MeshTest, SubsetsAndIndicesOutsideTheirArraysMakeTheMeshBad) {
    testing_support::ScopedGameCore core;
    const char* const kStream =
        "mesh a b\n"
        "meshstream 4\n"
        "vertex p 0 0 0\nvertex p 1 0 0\nvertex p 0 1 0\nvertex p 1 1 0\n";
    struct Case {
        const char* lines;
        const char* fault;
    };
    const Case cases[] = {
        {"index 0 1 2 2 1 3\nsubset 0 3 6 4\n", "reaches outside the index array"},
        {"index 0 1 2 2 1 3\nsubset 0 -3 3 4\n", "reaches outside the index array"},
        {"index 0 1 2 2 1 3\nsubset 0 0 -3 4\n", "reaches outside the index array"},
        {"index 0 1 2 2 1 3\nsubset 1 0 3 4\n", "names a missing stream"},
        {"index 0 1 2 2 1 3\nsubset -1 0 3 4\n", "names a missing stream"},
        {"index 0 1 2 2 1 4\nsubset 0 0 3 4\nsubset 0 3 3 4\n", "subset 1 has an index past its stream's vertices"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.lines);
        gameCore.log->clear();
        const MeshBytes stored = bytesOf(std::string(kStream) + c.lines);
        Y3Mesh mesh;
        mesh.setNames("crate", "lid");
        ASSERT_GT(readPart(mesh, stored.header, true), 0);
        ASSERT_GT(readPart(mesh, stored.data, false), 0);
        EXPECT_TRUE(mesh.flags() & Y3Mesh::kBad);
        EXPECT_TRUE(gameCore.log->contains("Bad mesh [crate.lid]"));
        EXPECT_TRUE(gameCore.log->contains(c.fault));
        EXPECT_FALSE(mesh.drawSubset(0));
    }
}

TEST(Y3MeshTest, ClothIsListedOnce) {
    testing_support::ScopedGameCore core;
    Y3Mesh mesh;
    ClothInstance first(&mesh);
    ClothInstance second(&mesh);
    ClothInstance third(&mesh);
    EXPECT_TRUE(mesh.pushCloth(&first));
    EXPECT_TRUE(mesh.pushCloth(&second));
    EXPECT_TRUE(mesh.pushCloth(&third));
    EXPECT_TRUE(mesh.pushCloth(&second));
    char message[64];
    std::snprintf(message, sizeof message, "Can't push cloth [%8X] instance: already registered",
                  unsigned(reinterpret_cast<std::uintptr_t>(&second)));
    EXPECT_TRUE(gameCore.log->contains(message));
    EXPECT_EQ(mesh.cloths(), (std::vector<ClothInstance*>{&first, &second, &third}));
    // Removal moves the last entry into the freed place.
    mesh.removeClothInstance(&first);
    EXPECT_EQ(mesh.cloths(), (std::vector<ClothInstance*>{&third, &second}));
}

// A mesh on the null backend, with the render core, a video core, the game
// clock and the settings of section "render".
class MeshDeviceTest : public d3d9_test::D3D9Test, protected mesh_test::MeshCores {
protected:
    void SetUp() override {
        environment.callLog = calls;
        D3D9Test::SetUp();
        open();
        makeRender();
        render->stateCache().setDevice(device);
        render->stateCache().initialize(false);
        video.videoDevice.vertexProcessing = VertexProcessingHardware;
        ASSERT_TRUE(render->streamDeclarations().allocate(device));
        Y3Mesh::readConfig();
        clocks.gameTime.time = 100.0;
        ASSERT_EQ(device->BeginScene(), S_OK);
    }
    void TearDown() override {
        if (device) device->EndScene();
        releaseRender();
        D3D9Test::TearDown();
    }

    void setting(const char* key, const char* value) {
        settings.getCategory("render").getVariable(key).setString(value);
        Y3Mesh::readConfig();
    }
    void load(Y3Mesh& mesh, const std::string& text) { ASSERT_TRUE(mesh_test::loadMesh(mesh, text)); }
    // The calls made since the last look whose text begins with prefix.
    std::vector<std::string> takeCalls(const std::string& prefix) {
        std::vector<std::string> found;
        for (const std::string& line : calls->lines)
            if (line.rfind(prefix, 0) == 0) found.push_back(line);
        calls->lines.clear();
        return found;
    }

    std::shared_ptr<platform::d3d9::CallLog> calls = std::make_shared<platform::d3d9::CallLog>();
};

TEST_F(MeshDeviceTest, CachedDeviceDataFollowsTheDraws) {
    Y3Mesh mesh;
    load(mesh, kTwoStreamMesh);
    takeCalls("");
    // With caching on, allocating makes nothing; the first draw does.
    EXPECT_TRUE(mesh.allocate());
    EXPECT_TRUE(takeCalls("Create").empty());
    EXPECT_FALSE(mesh.flags() & Y3Mesh::kAllocated);
    EXPECT_TRUE(mesh.drawSubset(0));
    EXPECT_EQ(takeCalls("Create").size(), 3u);  // two vertex buffers, one index buffer
    EXPECT_TRUE(mesh.flags() & Y3Mesh::kAllocated);
    EXPECT_EQ(mesh.lastUse(), 100.0);

    clocks.gameTime.time = 130.0;
    mesh.collectUnused();
    EXPECT_TRUE(mesh.flags() & Y3Mesh::kAllocated);
    clocks.gameTime.time = 130.5;
    mesh.collectUnused();
    EXPECT_FALSE(mesh.flags() & Y3Mesh::kAllocated);
    EXPECT_EQ(mesh.stream(0)->vertexStream().buffer(), nullptr);
    EXPECT_EQ(mesh.indexStream().buffer(), nullptr);

    // The next draw makes it again.
    EXPECT_TRUE(mesh.drawSubset(2));
    EXPECT_EQ(takeCalls("Create").size(), 3u);
}

// An element whose level of detail is a resource mesh draws each subset
// with that subset's material through the element paths: each ends in that
// subset's draw call, in subset order.
TEST_F(MeshDeviceTest, AnElementDrawsEachSubsetOfItsMeshWithItsOwnMaterial) {
    // The fixed-function paths (minimum details).
    video.activeVideoSetup().details = VideoDetailsMinimum;
    Y3Mesh mesh;
    load(mesh, kTwoStreamMesh);
    ModelElement element;
    element.world = identityMatrix();
    ModelElementLod& level = element.lods.emplace_back();
    level.setMesh(mesh);
    takeCalls("");
    EXPECT_TRUE(element.render());
    const std::vector<std::string> expected = {"DrawIndexedPrimitive(4, 0, 0, 3, 0, 1)",
                                               "DrawIndexedPrimitive(4, 0, 0, 4, 3, 1)",
                                               "DrawIndexedPrimitive(4, 0, 0, 3, 6, 1)"};
    EXPECT_EQ(takeCalls("DrawIndexedPrimitive"), expected);
    EXPECT_EQ(element.drawCount, 3);
    // The last subset's material is the level's current one.
    EXPECT_EQ(level.material, level.materials.back().get());

    // A level without a mesh or material draws nothing.
    ModelElement empty;
    empty.lods.emplace_back();
    EXPECT_FALSE(empty.render());
}

TEST_F(MeshDeviceTest, WithoutCachingAllocationMakesTheDataAtOnce) {
    setting("enable_mesh_caching", "0");
    Y3Mesh mesh;
    load(mesh, kTwoStreamMesh);
    takeCalls("");
    EXPECT_TRUE(mesh.allocate());
    EXPECT_TRUE(mesh.flags() & Y3Mesh::kAllocated);
    EXPECT_EQ(takeCalls("Create").size(), 3u);
    // The cache step leaves it.
    clocks.gameTime.time = 1000.0;
    mesh.collectUnused();
    EXPECT_TRUE(mesh.flags() & Y3Mesh::kAllocated);
}

TEST_F(MeshDeviceTest, DrawCallsOfSubsetsAndStreams) {
    Y3Mesh mesh;
    load(mesh, kTwoStreamMesh);
    struct Case {
        std::int32_t selector;
        const char* call;  // nullptr: nothing drawn
    };
    const Case cases[] = {
        {0, "DrawIndexedPrimitive(4, 0, 0, 3, 0, 1)"},
        {1, "DrawIndexedPrimitive(4, 0, 0, 4, 3, 1)"},
        {2, "DrawIndexedPrimitive(4, 0, 0, 3, 6, 1)"},
        // Stream 0: its two subsets from the first one's start, the largest
        // vertex count.
        {-1, "DrawIndexedPrimitive(4, 0, 0, 4, 0, 2)"},
        {-2, "DrawIndexedPrimitive(4, 0, 0, 3, 6, 1)"},
        {3, nullptr},
        {-3, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.selector);
        takeCalls("");
        EXPECT_EQ(mesh.drawSubset(c.selector), c.call != nullptr);
        const std::vector<std::string> draws = takeCalls("DrawIndexedPrimitive");
        if (c.call) {
            EXPECT_EQ(draws, std::vector<std::string>{c.call});
        } else {
            EXPECT_TRUE(draws.empty());
        }
    }
}

TEST_F(MeshDeviceTest, MeshWithoutSubsetsIsNeverAllocatedOrDrawn) {
    setting("enable_mesh_caching", "0");
    Y3Mesh mesh;
    const MeshBytes stored = bytesOf("mesh a b\nmeshstream 4\nvertex p 0 0 0\nindex 0 0 0\n");
    ASSERT_GT(readPart(mesh, stored.header, true), 0);
    EXPECT_TRUE(mesh.flags() & Y3Mesh::kBad);
    ASSERT_GT(readPart(mesh, stored.data, false), 0);
    takeCalls("");
    EXPECT_FALSE(mesh.allocate());
    EXPECT_FALSE(mesh.drawSubset(0));
    EXPECT_FALSE(mesh.drawSubset(-1));
    EXPECT_TRUE(takeCalls("Create").empty());
    EXPECT_TRUE(takeCalls("Draw").empty());
}

TEST_F(MeshDeviceTest, DataPartOfAnotherFormatFails) {
    Y3Mesh mesh;
    load(mesh, kTwoStreamMesh);
    const MeshBytes other = bytesOf("mesh a b\nmeshstream 2\nvertex p 0 0 0\nindex 0 0 0\nsubset 0 0 3 1\n");
    EXPECT_EQ(readPart(mesh, other.data, false), -1);
}

TEST_F(MeshDeviceTest, DataReadAgainWithMoreVerticesIsDrawnFromANewBuffer) {
    Y3Mesh mesh;
    load(mesh, kTwoStreamMesh);
    ASSERT_TRUE(mesh.drawSubset(0));
    ASSERT_EQ(mesh.stream(0)->vertexStream().count(), 4);
    // The same mesh with a fifth vertex in stream 0.
    std::string text = kTwoStreamMesh;
    text.insert(text.find("meshstream 4\nvertex p 0 0 1"), "vertex p 2 2 0\n");
    const MeshBytes grown = bytesOf(text);
    ASSERT_GT(readPart(mesh, grown.data, false), 0);
    EXPECT_EQ(mesh.stream(0)->getCount(), 5);
    takeCalls("");
    ASSERT_TRUE(mesh.drawSubset(0));
    EXPECT_EQ(mesh.stream(0)->vertexStream().count(), 5);
}

}  // namespace

namespace {

using mesh_test::translation;

// Format 5 (position, normal, texture, blend indices and weights); bones
// in name order a, b, c, d feed palette slots 1, 0, 2, 3.
const char* const kSkinnedMesh =
    "mesh s.mh s.my\n"
    "meshstream 5\n"
    "vertex p 1 0 0 n 0 1 0 t 0.25 0.75 i 0 1 2 3 w 1 0 0.5 0.5\n"
    "vertex p 1 0 0 n 0 1 0 i 0 1 2 3 w 0.5 0.25 0.25 0\n"
    "vertex p 1 0 0 n 0 1 0 i 0 9 0 0 w 0.5 0.5 0 0\n"
    "meshstream 0\n"
    "vertex p 0 0 0\n"
    "index 0 1 2 0 0 0\n"
    "subset 0 0 3 3 bones 4\n"
    "subset 1 3 3 1\n"
    "bone a 1\nbone b 0\nbone c 2\nbone d 3\n";

TEST_F(MeshDeviceTest, SkinningFollowsTheNestedWeightsAndThePaletteSlots) {
    Y3Mesh mesh;
    load(mesh, kSkinnedMesh);
    MeshAnimInstance* instance = mesh.createAnimInstance();
    ASSERT_NE(instance, nullptr);
    ASSERT_TRUE(instance->allocate());
    // Only the weighted stream has a copy; allocation copies it unchanged.
    ASSERT_NE(instance->stream(0), nullptr);
    EXPECT_EQ(instance->stream(1), nullptr);
    D3DXVECTOR3 p{};
    EXPECT_EQ(instance->stream(0)->getPosition(0, p).x, 1.0f);

    // Palette in bone order a, b, c, d: bone b feeds slot 0, bone a slot 1.
    const MeshMatrix palette[4] = {translation(0, 100, 0), translation(10, 0, 0), translation(0, 0, 1000),
                                   translation(0, 0, 5000)};
    instance->skin(palette, 4);
    Y3MeshStream& skinned = *instance->stream(0);
    struct Expected {
        D3DXVECTOR3 position;
    };
    const Expected expected[3] = {
        // (1, 0, 0.5, 0.5): slot 0 (bone b) alone.
        {{11, 0, 0}},
        // (0.5, 0.25, 0.25, 0): three influences.
        {{0.5f * 11 + 0.25f * 1 + 0.25f * 1, 0.25f * 100, 0.25f * 1000}},
        // The second index is past the four slots: it adds nothing.
        {{0.5f * 11, 0, 0}},
    };
    for (int v = 0; v < 3; ++v) {
        SCOPED_TRACE(v);
        skinned.getPosition(v, p);
        EXPECT_FLOAT_EQ(p.x, expected[v].position.x);
        EXPECT_FLOAT_EQ(p.y, expected[v].position.y);
        EXPECT_FLOAT_EQ(p.z, expected[v].position.z);
    }
    // A translation leaves the normal's direction; the weights scale it.
    D3DXVECTOR3 n{};
    EXPECT_FLOAT_EQ(skinned.getNormal(0, n).y, 1.0f);
    EXPECT_FLOAT_EQ(skinned.getNormal(1, n).y, 1.0f);
    D3DXVECTOR2 uv{};
    EXPECT_FLOAT_EQ(skinned.getUV(0, uv).y, 0.75f);

    takeCalls("");
    EXPECT_TRUE(instance->drawSubset(0));
    EXPECT_EQ(takeCalls("DrawIndexedPrimitive"), std::vector<std::string>{"DrawIndexedPrimitive(4, 0, 0, 3, 0, 1)"});
    EXPECT_FALSE(instance->drawSubset(1));  // stream 1 has no skinned copy

    EXPECT_TRUE(instance->deallocate());
    EXPECT_FALSE(instance->deallocate());
    EXPECT_TRUE(gameCore.log->contains("Can't deallocate mesh anim_instance: allocate first"));
    mesh.destroyAnimInstance(instance);
    EXPECT_EQ(mesh.animInstanceCount(), 0);
}

TEST_F(MeshDeviceTest, AnimInstancesNeedBonesAndFallBackOnTheFixedPipeline) {
    Y3Mesh plain;
    load(plain, std::string("mesh a b\nmeshstream 4\nvertex p 0 0 0\nindex 0 0 0\nsubset 0 0 3 1\n"));
    EXPECT_EQ(plain.createAnimInstance(), nullptr);

    video.fixedPipeline = true;
    Y3Mesh mesh;
    load(mesh, kSkinnedMesh);
    MeshAnimInstance* instance = mesh.createAnimInstance();
    ASSERT_TRUE(instance->allocate());
    EXPECT_EQ(instance->stream(0)->getFormat(), 4);
    EXPECT_TRUE(instance->allocate());
    EXPECT_TRUE(gameCore.log->contains("Mesh anim_instance already allocated. Deallocate first"));
    // Never drawn: the first cache step stamps it, a step more than 30 s
    // later releases it.
    clocks.gameTime.time = 500.0;
    mesh.collectUnused();
    EXPECT_TRUE(instance->flags() & MeshAnimInstance::kAllocated);
    clocks.gameTime.time = 531.0;
    mesh.collectUnused();
    EXPECT_FALSE(instance->flags() & MeshAnimInstance::kAllocated);
}

}  // namespace

namespace {

MeshInstanceMember member(const char* model, const char* keyName, float x) {
    MeshInstanceMember m;
    m.modelName = model;
    m.elementName = "body";
    m.key.values[0] = 7;
    std::snprintf(m.key.name, sizeof m.key.name, "%s", keyName);
    m.matrix = translation(x, 0, 0);
    return m;
}

TEST_F(MeshDeviceTest, InstancingGroupsFormFromWaitingRequests) {
    setting("min_instances_per_group", "3");
    Y3Mesh mesh;
    load(mesh, kTwoStreamMesh);
    MeshInstanceMember a = member("a", "crate", 0), b = member("b", "crate", 1), c = member("c", "crate", 2);
    MeshInstanceMember other = member("d", "barrel", 3);
    mesh.registerInstance(&a);
    mesh.registerInstance(&other);
    EXPECT_EQ(mesh.instanceCount(), 0);
    mesh.registerInstance(&b);
    EXPECT_EQ(mesh.instanceCount(), 0);
    EXPECT_EQ(mesh.pendingRequests().size(), 3u);
    // The third of a key forms the group: itself, then the waiting ones in
    // their order; the other key waits on.
    mesh.registerInstance(&c);
    ASSERT_EQ(mesh.instanceCount(), 1);
    EXPECT_EQ(mesh.instance(0).members(), (std::vector<MeshInstanceMember*>{&c, &a, &b}));
    EXPECT_TRUE(a.instanced && b.instanced && c.instanced);
    EXPECT_EQ(mesh.pendingRequests(), std::vector<MeshInstanceMember*>{&other});
    EXPECT_FALSE(mesh.instance(0).push(&a));
    EXPECT_TRUE(gameCore.log->contains("Can't PUSH instance model [a] element [body]: Already instanced"));

    // Unregistering one leaves two; a waiting one leaves the pending list.
    mesh.unregisterInstance(&a);
    EXPECT_FALSE(a.instanced);
    ASSERT_EQ(mesh.instanceCount(), 1);
    EXPECT_EQ(mesh.instance(0).members().size(), 2u);
    mesh.unregisterInstance(&other);
    EXPECT_TRUE(mesh.pendingRequests().empty());
    mesh.unregisterInstance(&other);
    EXPECT_TRUE(gameCore.log->contains(
        "Unregistered mesh instance for model [d] element [body]: Failed POP from instancing list"));
    // The last member gone, the group goes.
    mesh.unregisterInstance(&b);
    mesh.unregisterInstance(&c);
    EXPECT_EQ(mesh.instanceCount(), 0);
}

TEST_F(MeshDeviceTest, InstancingOffLeavesRequestsAlone) {
    Y3Mesh mesh;
    load(mesh, kTwoStreamMesh);
    MeshInstanceMember a = member("a", "crate", 0);
    mesh.registerInstance(&a);
    EXPECT_TRUE(mesh.pendingRequests().empty());
    EXPECT_EQ(mesh.instanceCount(), 0);
}

// A mesh whose subsets draw few vertices of a large stream: the group is
// full by the stream's count, not the subsets'.
TEST_F(MeshDeviceTest, AFullGroupIsPassedByAndRefusesPushes) {
    setting("min_instances_per_group", "2");
    std::string text = "mesh a b\nmeshstream 0\n";
    for (int i = 0; i < 20000; ++i) text += "vertex p 0 0 0\n";
    text += "index 0 1 2 19997 19998 19999\nsubset 0 0 3 3\nsubset 0 3 3 3\n";
    Y3Mesh mesh;
    load(mesh, text);
    MeshInstanceMember m[6] = {member("m0", "k", 0), member("m1", "k", 1), member("m2", "k", 2),
                               member("m3", "k", 3), member("m4", "k", 4), member("m5", "k", 5)};
    mesh.registerInstance(&m[0]);
    mesh.registerInstance(&m[1]);
    ASSERT_EQ(mesh.instanceCount(), 1);
    EXPECT_FALSE(mesh.instance(0).flags() & MeshInstance::kFull);
    mesh.registerInstance(&m[2]);
    // (3 + 1) x 20000 reaches 65535.
    EXPECT_TRUE(mesh.instance(0).flags() & MeshInstance::kFull);
    EXPECT_FALSE(mesh.instance(0).push(&m[5]));
    // Later requests pass the full group by and wait for a group of their own.
    mesh.registerInstance(&m[3]);
    EXPECT_EQ(mesh.pendingRequests(), std::vector<MeshInstanceMember*>{&m[3]});
    mesh.registerInstance(&m[4]);
    ASSERT_EQ(mesh.instanceCount(), 2);

    // The full group's indices stay inside 16 bits and its buffer.
    MeshInstance& group = mesh.instance(0);
    ASSERT_TRUE(group.allocate());
    const std::vector<std::uint32_t>& indices = group.indices();
    EXPECT_EQ(*std::max_element(indices.begin(), indices.end()), 2u * 20000u + 19999u);
    EXPECT_LT(*std::max_element(indices.begin(), indices.end()), 65535u);
    EXPECT_EQ(group.stream(0)->getCount(), 60000);
    mesh.unregisterInstance(&m[0]);
    EXPECT_FALSE(mesh.instance(0).flags() & MeshInstance::kFull);
    EXPECT_FALSE(mesh.instance(0).flags() & MeshInstance::kAllocated);
}

TEST_F(MeshDeviceTest, GroupIndicesVerticesAndDraw) {
    setting("min_instances_per_group", "2");
    Y3Mesh mesh;
    load(mesh, kTwoStreamMesh);
    MeshInstanceMember a = member("a", "k", 10);
    MeshInstanceMember b = member("b", "k", 20);
    b.matrix.m[0][0] = -1.0f;  // a mirror: negative determinant
    mesh.registerInstance(&a);
    mesh.registerInstance(&b);
    ASSERT_EQ(mesh.instanceCount(), 1);
    MeshInstance& group = mesh.instance(0);
    ASSERT_EQ(group.members(), (std::vector<MeshInstanceMember*>{&b, &a}));
    takeCalls("");
    EXPECT_TRUE(group.drawSubset(1));
    EXPECT_EQ(takeCalls("DrawIndexedPrimitive"), std::vector<std::string>{"DrawIndexedPrimitive(4, 0, 0, 8, 6, 2)"});
    // Subset 1 (indices 2 1 3 of stream 0, four vertices): member 0 (b,
    // a mirror) has its triangle reversed, member 1 (a, positive
    // determinant) keeps the stored order, moved past b's four vertices.
    const std::vector<std::uint32_t> subset1(group.indices().begin() + 6, group.indices().begin() + 12);
    EXPECT_EQ(subset1, (std::vector<std::uint32_t>{3, 1, 2, 4 + 2, 4 + 1, 4 + 3}));
    // Stream 1's subset: member 1's values grow by stream 1's three vertices.
    const std::vector<std::uint32_t> subset2(group.indices().begin() + 12, group.indices().end());
    EXPECT_EQ(subset2, (std::vector<std::uint32_t>{2, 1, 0, 3 + 0, 3 + 1, 3 + 2}));
    // The vertices of each member, moved by its matrix.
    D3DXVECTOR3 p{};
    EXPECT_FLOAT_EQ(group.stream(0)->getPosition(1, p).x, 20.0f - 1.0f);
    EXPECT_FLOAT_EQ(group.stream(0)->getPosition(5, p).x, 11.0f);
    D3DXVECTOR2 uv{};
    EXPECT_FLOAT_EQ(group.stream(0)->getUV(5, uv).x, 1.0f);
    mesh.unregisterInstance(&a);
    mesh.unregisterInstance(&b);
}

}  // namespace

namespace {

// The render core's device-data release reaches each mesh through its model
// data as a forced deallocation; the device resets only once no buffer of
// the default pool is left.
TEST_F(MeshDeviceTest, AfterADeviceResetTheMeshDrawsAgain) {
    setting("min_instances_per_group", "2");
    Y3Mesh mesh;
    load(mesh, kSkinnedMesh);
    MeshAnimInstance* instance = mesh.createAnimInstance();
    MeshInstanceMember a = member("a", "k", 0), b = member("b", "k", 1);
    mesh.registerInstance(&a);
    mesh.registerInstance(&b);
    ASSERT_EQ(mesh.instanceCount(), 1);
    ASSERT_TRUE(mesh.drawSubset(0));
    ASSERT_TRUE(instance->drawSubset(0));
    ASSERT_TRUE(mesh.instance(0).drawSubset(1));
    ASSERT_EQ(mesh.stream(0)->vertexStream().pool(), D3DPOOL_DEFAULT);

    device->EndScene();
    platform::d3d9::loseDevice(device, 1);
    EXPECT_EQ(device->TestCooperativeLevel(), D3DERR_DEVICELOST);
    EXPECT_TRUE(mesh.deallocate(true));
    EXPECT_FALSE(mesh.flags() & Y3Mesh::kAllocated);
    EXPECT_FALSE(instance->flags() & MeshAnimInstance::kAllocated);
    EXPECT_FALSE(mesh.instance(0).flags() & MeshInstance::kAllocated);
    render->streamDeclarations().release();
    render->stateCache().invalidate();
    D3DPRESENT_PARAMETERS p = windowed();
    ASSERT_EQ(device->Reset(&p), S_OK) << allLines();
    ASSERT_TRUE(render->streamDeclarations().allocate(device));
    ASSERT_EQ(device->BeginScene(), S_OK);

    takeCalls("");
    EXPECT_TRUE(mesh.drawSubset(0)) << allLines();
    EXPECT_TRUE(instance->drawSubset(0)) << allLines();
    EXPECT_TRUE(mesh.instance(0).drawSubset(1)) << allLines();
    EXPECT_EQ(takeCalls("DrawIndexedPrimitive").size(), 3u);
    mesh.unregisterInstance(&a);
    mesh.unregisterInstance(&b);
    instance->deallocate();
    mesh.destroyAnimInstance(instance);
}

}  // namespace

namespace {

TEST(Y3MeshTest, TexturesValidateWhenEverySubsetsMaterialDoes) {
    testing_support::ScopedGameCore core;
    const char* const kPlain = "mesh a b\nmeshstream 0\nvertex p 0 0 0\nindex 0 0 0\nsubset 0 0 3 1\n";
    Y3Mesh plain;
    MeshBytes stored = bytesOf(kPlain);
    ASSERT_GT(readPart(plain, stored.header, true), 0);
    EXPECT_TRUE(plain.validateTextures());
    // Without a texture library no named texture can be found.
    Y3Mesh textured;
    stored = bytesOf(std::string(kPlain) + "subset 0 0 3 1 diffuse stone\n");
    ASSERT_GT(readPart(textured, stored.header, true), 0);
    EXPECT_FALSE(textured.validateTextures());
    EXPECT_TRUE(gameCore.log->contains("Invalid texture [Diffuse]"));
}

}  // namespace

namespace {

TEST_F(MeshDeviceTest, AFullReleaseReportsAndEndsWhatWasLeft) {
    setting("min_instances_per_group", "2");
    Y3Mesh mesh;
    load(mesh, kSkinnedMesh);
    MeshAnimInstance* instance = mesh.createAnimInstance();
    ASSERT_TRUE(instance->allocate());
    MeshInstanceMember a = member("a", "k", 0), b = member("b", "k", 1), waiting = member("c", "other", 2);
    mesh.registerInstance(&a);
    mesh.registerInstance(&b);
    mesh.registerInstance(&waiting);
    ASSERT_TRUE(mesh.drawSubset(0));
    ASSERT_TRUE(mesh.instance(0).drawSubset(0));

    mesh.release(3, false);
    for (const char* message : {"Not all mesh instance requests deleted",
                                "Y3Mesh:release() -> first release mesh anim_instances",
                                "Y3Mesh:release() -> first release mesh instances"})
        EXPECT_TRUE(gameCore.log->contains(message)) << message;
    EXPECT_EQ(mesh.animInstanceCount(), 0);
    EXPECT_EQ(mesh.instanceCount(), 0);
    EXPECT_TRUE(mesh.pendingRequests().empty());
    EXPECT_FALSE(a.instanced || b.instanced);
    EXPECT_EQ(mesh.streamCount(), 0);
    EXPECT_EQ(mesh.subsetCount(), 0);
    EXPECT_EQ(mesh.flags(), 0u);
    EXPECT_FALSE(mesh.drawSubset(0));
}

// A model resource's allocation: a mesh that cannot get its device data
// leaves the model unallocated, and the next allocation succeeds once the
// device can make it.
TEST_F(MeshDeviceTest, FailedModelAllocationLeavesTheFlagClear) {
    setting("enable_mesh_caching", "0");
    const std::string lod =
        "lod\nmeshstream 0\nvertex p 0 0 0\nvertex p 1 0 0\nvertex p 0 1 0\nindex 0 1 2\nsubset 0 0 3 3\n";
    model_tools::ModelDescription description;
    std::string error;
    ASSERT_TRUE(model_tools::parseModelDescription("model m\nelement a\n" + lod + lod + lod, description, error))
        << error;
    Y3Model& written = *description.models.at(0).model;
    std::string header = model_tools::modelFileBytes(written, "m", true);
    std::string data = model_tools::modelFileBytes(written, "m", false);
    std::unique_ptr<Y3Model> read;
    MemoryStream headerIn(header.data(), std::int32_t(header.size()));
    ASSERT_GT(Y3Model::readFromStream(headerIn, read, "m"), 0);
    MemoryStream dataIn(data.data(), std::int32_t(data.size()));
    ASSERT_GT(read->read(dataIn, false, "m"), 0);
    auto& model = static_cast<Y3ModelDefault&>(*read);

    // Without a device no mesh gets its data.
    render->stateCache().setDevice(nullptr);
    gameCore.log->clear();
    EXPECT_FALSE(model.allocate("m"));
    EXPECT_TRUE(gameCore.log->contains("Failed allocation mesh for model [a]"));
    EXPECT_FALSE(model.allocated);

    // With the device back the next allocation makes everything.
    render->stateCache().setDevice(device);
    EXPECT_TRUE(model.allocate("m"));
    EXPECT_TRUE(model.allocated);
    for (const auto& element : model.elements)
        for (const Y3Mesh& mesh : element->lods) EXPECT_TRUE(mesh.flags() & Y3Mesh::kAllocated);
    EXPECT_TRUE(model.deallocate(true));
    EXPECT_TRUE(model.release());
}

}  // namespace
