// Vertex formats, vertex and index buffers and the vertex declarations on
// the null Direct3D 9 backend, with a video core whose vertex-processing
// mode and pipeline the tests choose.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "app/GameCore.h"
#include "foundation/Log.h"
#include "model/DXStreams.h"
#include "model/Y3MeshStream.h"
#include "platform/D3D9TestSupport.h"
#include "render/RenderCore.h"
#include "render/VideoCore.h"
#include "render/states/DXStateCache.h"
#include "support/TestSupport.h"

namespace {

using testing_support::ScopedCoreMember;

class DXStreamsTest : public d3d9_test::D3D9Test {
protected:
    void SetUp() override {
        environment.callLog = calls;
        D3D9Test::SetUp();
        open();
        render = std::make_unique<RenderCore>();
        useRender = std::make_unique<ScopedCoreMember<RenderCore>>(gameCore.render, render.get());
        render->stateCache().setDevice(device);
        render->stateCache().initialize(false);
        video.videoDevice.vertexProcessing = VertexProcessingHardware;
    }
    void TearDown() override {
        useRender.reset();
        render.reset();
        D3D9Test::TearDown();
    }

    DXStateCache& cache() { return render->stateCache(); }
    void setShaders(bool on) { video.activeVideoSetup().details = on ? VideoDetailsNormal : VideoDetailsMinimum; }

    // The calls made since the last look whose text begins with prefix.
    std::vector<std::string> takeCalls(const std::string& prefix) {
        std::vector<std::string> found;
        for (const std::string& line : calls->lines)
            if (line.rfind(prefix, 0) == 0) found.push_back(line);
        calls->lines.clear();
        return found;
    }
    // The flags of the locks made since the last look.
    std::vector<std::string> lockFlags() {
        std::vector<std::string> flags;
        for (const std::string& line : takeCalls("Lock("))
            flags.push_back(line.substr(line.rfind(", ") + 2, line.size() - line.rfind(", ") - 3));
        return flags;
    }
    // The texts of the log's records, in order.
    std::vector<std::string> logTexts() const {
        std::vector<std::string> texts;
        for (const LogRecord& record : gameCore.log->records()) texts.push_back(record.text);
        return texts;
    }
    template <class Buffer>
    static std::vector<std::uint8_t> contents(Buffer* buffer, std::size_t bytes) {
        std::vector<std::uint8_t> out(bytes);
        void* data = nullptr;
        if (FAILED(buffer->Lock(0, 0, &data, D3DLOCK_READONLY))) return {};
        std::memcpy(out.data(), data, bytes);
        buffer->Unlock();
        return out;
    }

    std::shared_ptr<platform::d3d9::CallLog> calls = std::make_shared<platform::d3d9::CallLog>();
    testing_support::ScopedGameCore core;
    VideoCore video;
    ScopedCoreMember<VideoCore> useVideo{gameCore.video, &video};
    std::unique_ptr<RenderCore> render;
    std::unique_ptr<ScopedCoreMember<RenderCore>> useRender;
};

TEST(VertexStreamFormat, StridesFallbacksAndLayouts) {
    const std::uint32_t strides[kVertexFormatCount] = {
        20, 40, 24, 44, 32, 52, 36, 56, 44, 64, 48, 68, 28, 48, 32, 52, 40, 60, 44, 64, 52, 72, 56, 76, 28,
        48, 32, 52, 40, 60, 44, 64, 52, 72, 56, 76, 36, 56, 40, 60, 48, 68, 52, 72, 60, 80, 64, 84, 24};
    const std::int32_t fallbacks[kVertexFormatCount] = {
        0,  0,  2,  2,  4,  4,  6,  6,  4,  4,  6,  6,  12, 12, 14, 14, 16, 16, 18, 18, 16, 16, 18, 18, 24,
        24, 26, 26, 28, 28, 30, 30, 28, 28, 30, 30, 36, 36, 38, 38, 40, 40, 42, 42, 40, 40, 42, 42, 48};
    for (std::int32_t code = 0; code < kVertexFormatCount; ++code) {
        const VertexFormatInfo* format = vertexFormat(code);
        ASSERT_NE(format, nullptr);
        EXPECT_EQ(format->stride, strides[code]) << code;
        EXPECT_EQ(format->fallback, fallbacks[code]) << code;
        // The fallback layout is a prefix of the format's.
        const VertexFormatInfo* fallback = vertexFormat(format->fallback);
        for (int i = 0; code != 48 && fallback->elements[i].Stream != 0xFF; ++i)
            EXPECT_EQ(std::memcmp(&fallback->elements[i], &format->elements[i], sizeof(D3DVERTEXELEMENT9)), 0)
                << code << " element " << i;
    }
    EXPECT_EQ(vertexFormat(49), nullptr);
    EXPECT_EQ(vertexFormat(-1), nullptr);
    EXPECT_STREQ(vertexFormat(9)->displayName, "D+Bump+Weights");
    EXPECT_STREQ(vertexFormat(47)->displayName, "2+LMC+Bump+Weights");

    struct Element {
        WORD offset;
        BYTE type, usage, usageIndex;
    };
    auto expectElements = [](std::int32_t code, std::vector<Element> expected) {
        const D3DVERTEXELEMENT9* e = vertexFormat(code)->elements;
        for (std::size_t i = 0; i < expected.size(); ++i) {
            EXPECT_EQ(e[i].Stream, 0) << code << " " << i;
            EXPECT_EQ(e[i].Offset, expected[i].offset) << code << " " << i;
            EXPECT_EQ(e[i].Type, expected[i].type) << code << " " << i;
            EXPECT_EQ(e[i].Method, D3DDECLMETHOD_DEFAULT) << code << " " << i;
            EXPECT_EQ(e[i].Usage, expected[i].usage) << code << " " << i;
            EXPECT_EQ(e[i].UsageIndex, expected[i].usageIndex) << code << " " << i;
        }
        EXPECT_EQ(e[expected.size()].Stream, 0xFF) << code;
    };
    // Every component: P N C T L U B I W.
    expectElements(47, {{0, D3DDECLTYPE_FLOAT3, D3DDECLUSAGE_POSITION, 0},
                        {12, D3DDECLTYPE_FLOAT3, D3DDECLUSAGE_NORMAL, 0},
                        {24, D3DDECLTYPE_D3DCOLOR, D3DDECLUSAGE_COLOR, 0},
                        {28, D3DDECLTYPE_FLOAT2, D3DDECLUSAGE_TEXCOORD, 0},
                        {36, D3DDECLTYPE_FLOAT2, D3DDECLUSAGE_TEXCOORD, 1},
                        {44, D3DDECLTYPE_FLOAT2, D3DDECLUSAGE_TEXCOORD, 2},
                        {52, D3DDECLTYPE_FLOAT3, D3DDECLUSAGE_BINORMAL, 0},
                        {64, D3DDECLTYPE_UBYTE4, D3DDECLUSAGE_BLENDINDICES, 0},
                        {68, D3DDECLTYPE_FLOAT4, D3DDECLUSAGE_BLENDWEIGHT, 0}});
    // Second coordinates without a light map take texture coordinate 1.
    expectElements(24, {{0, D3DDECLTYPE_FLOAT3, D3DDECLUSAGE_POSITION, 0},
                        {12, D3DDECLTYPE_FLOAT2, D3DDECLUSAGE_TEXCOORD, 0},
                        {20, D3DDECLTYPE_FLOAT2, D3DDECLUSAGE_TEXCOORD, 1}});
    // The 36-byte declaration of the "TEMP" format.
    expectElements(48, {{0, D3DDECLTYPE_FLOAT3, D3DDECLUSAGE_POSITION, 0},
                        {12, D3DDECLTYPE_FLOAT3, D3DDECLUSAGE_NORMAL, 0},
                        {24, D3DDECLTYPE_D3DCOLOR, D3DDECLUSAGE_COLOR, 0},
                        {28, D3DDECLTYPE_FLOAT2, D3DDECLUSAGE_TEXCOORD, 0}});
}

TEST(Y3MeshStream, CreateByCode) {
    EXPECT_EQ(Y3MeshStream::create(49, 10), nullptr);
    EXPECT_EQ(Y3MeshStream::create(-1, 10), nullptr);
    std::unique_ptr<Y3MeshStream> empty(Y3MeshStream::create(47, 0));
    ASSERT_NE(empty, nullptr);
    EXPECT_EQ(empty->getStride(), 84);
    EXPECT_EQ(empty->getData(), nullptr);
    for (std::int32_t code = 0; code < kVertexFormatCount; ++code) {
        std::unique_ptr<Y3MeshStream> stream(Y3MeshStream::create(code, 3));
        ASSERT_NE(stream, nullptr);
        EXPECT_EQ(stream->getFormat(), code);
        EXPECT_EQ(stream->getStride(), std::int32_t(vertexFormat(code)->stride));
        ASSERT_EQ(stream->getSize(), 3 * stream->getStride());
        EXPECT_FALSE(stream->uploaded());
        EXPECT_EQ(stream->vertexStream().usage(), D3DUSAGE_WRITEONLY);
        const std::vector<std::uint8_t> zero(std::size_t(stream->getSize()), 0);
        EXPECT_EQ(std::memcmp(stream->getData(), zero.data(), zero.size()), 0) << code;
    }
}

TEST_F(DXStreamsTest, VertexBufferLimit) {
    DXVertexStream stream;
    ASSERT_TRUE(stream.allocate(device, 4, 20, 0, 0));
    IDirect3DVertexBuffer9* kept = stream.buffer();
    EXPECT_FALSE(stream.allocate(device, 65536, 20, 0, 0));
    EXPECT_TRUE(gameCore.log->contains("Vertex stream has OUT of vertex buffer limit [65535] (fixed pipeline support)"));
    EXPECT_EQ(stream.buffer(), kept);
    EXPECT_EQ(stream.size(), 80);
    EXPECT_EQ(stream.count(), 4);

    EXPECT_TRUE(stream.allocate(device, 65535, 20, 0, 0));
    EXPECT_TRUE(gameCore.log->contains("Vertex stream already allocated. Re-allocate"));
    EXPECT_EQ(stream.size(), 65535 * 20);
    EXPECT_TRUE(stream.release());
    EXPECT_EQ(stream.size(), 0);
    EXPECT_FALSE(stream.release());
}

TEST_F(DXStreamsTest, PoolAndUsageFollowTheVertexProcessingMode) {
    struct Case {
        std::int32_t mode;
        std::uint32_t flags;
        D3DPOOL pool;
        DWORD usage;
    };
    const Case cases[] = {
        {0, 0, D3DPOOL_SYSTEMMEM, 552}, {0, 2, D3DPOOL_SYSTEMMEM, 552}, {1, 0, D3DPOOL_DEFAULT, 72},
        {2, 0, D3DPOOL_DEFAULT, 72},    {2, 2, D3DPOOL_DEFAULT, 520},   {2, 5, D3DPOOL_DEFAULT, 72},
        {3, 2, D3DPOOL_DEFAULT, 520},   {4, 0, D3DPOOL_DEFAULT, 72},    {5, 0, D3DPOOL_SYSTEMMEM, 72},
        {5, 2, D3DPOOL_SYSTEMMEM, 520},
    };
    for (const Case& c : cases) {
        video.videoDevice.vertexProcessing = c.mode;
        DXVertexStream stream;
        ASSERT_TRUE(stream.allocate(device, 3, 32, 4, c.flags)) << c.mode << " " << c.flags;
        EXPECT_EQ(stream.pool(), c.pool) << c.mode << " " << c.flags;
        EXPECT_EQ(stream.usage(), c.usage) << c.mode << " " << c.flags;
        D3DVERTEXBUFFER_DESC desc{};
        stream.buffer()->GetDesc(&desc);
        EXPECT_EQ(desc.Pool, c.pool);
        EXPECT_EQ(desc.Usage, c.usage);
        EXPECT_EQ(desc.Size, 96u);
        EXPECT_EQ(stream.format(), 4);
        EXPECT_EQ(stream.stride(), 32);
    }
}

TEST_F(DXStreamsTest, VertexBufferFallsBackThroughThePools) {
    // The first creation fails: the managed pool holds it.
    faults->failCreation(1);
    DXVertexStream stream;
    ASSERT_TRUE(stream.allocate(device, 6, 20, 0, 0));
    EXPECT_EQ(stream.pool(), D3DPOOL_MANAGED);
    takeCalls("");

    // Every creation fails: three calls, the two moves and the failure.
    gameCore.log->clear();
    for (int n = 1; n <= 3; ++n) faults->failCreation(n);
    EXPECT_FALSE(stream.allocate(device, 6, 20, 0, 0));
    EXPECT_EQ(takeCalls("CreateVertexBuffer"),
              (std::vector<std::string>{"CreateVertexBuffer(120, 0x48, 0x0, 0)", "CreateVertexBuffer(120, 0x48, 0x0, 1)",
                                        "CreateVertexBuffer(120, 0x48, 0x0, 2)"}));
    const std::string failure =
        std::string("Can't allocate vertex stream [120 bytes]: ") + d3dErrorText(D3DERR_OUTOFVIDEOMEMORY);
    EXPECT_EQ(logTexts(), (std::vector<std::string>{"Vertex stream already allocated. Re-allocate",
                                                    "Failed allocate vertex stream. move to MANAGED POOL",
                                                    "Failed allocate vertex stream. move to SYSMEM POOL", failure}));
    EXPECT_EQ(stream.buffer(), nullptr);
    EXPECT_EQ(stream.size(), 0);
}

TEST_F(DXStreamsTest, IndexBufferPoolsAndFallback) {
    // With shaders the default pool; 300 indices are 600 bytes, and only
    // the low 16 bits of an index are kept.
    DXIndexStream indices;
    indices.setUsage(D3DUSAGE_WRITEONLY);
    ASSERT_TRUE(indices.allocate(device, 300));
    EXPECT_EQ(indices.pool(), D3DPOOL_DEFAULT);
    EXPECT_EQ(indices.size(), 600);
    std::vector<std::uint32_t> source(300);
    for (std::uint32_t i = 0; i < 300; ++i) source[i] = i;
    source[7] = 65537;
    ASSERT_TRUE(indices.writeIndices(source.data(), 0));
    const std::vector<std::uint8_t> bytes = contents(indices.buffer(), 600);
    std::uint16_t stored[300];
    std::memcpy(stored, bytes.data(), sizeof stored);
    EXPECT_EQ(stored[7], 1);
    EXPECT_EQ(stored[299], 299);

    // Without shaders the managed pool comes first: two calls, one move.
    setShaders(false);
    gameCore.log->clear();
    takeCalls("");
    faults->failCreation(1);
    faults->failCreation(2);
    EXPECT_FALSE(indices.allocate(device, 300));
    EXPECT_EQ(takeCalls("CreateIndexBuffer"), (std::vector<std::string>{"CreateIndexBuffer(600, 0x8, 101, 1)",
                                                                        "CreateIndexBuffer(600, 0x8, 101, 2)"}));
    const std::string failure =
        std::string("Can't allocate index stream [600 bytes]: ") + d3dErrorText(D3DERR_OUTOFVIDEOMEMORY);
    EXPECT_EQ(logTexts(), (std::vector<std::string>{"Can't allocate index buffer: deallocate first",
                                                    "Failed allocate index stream. move to SYSMEM POOL", failure}));
    EXPECT_EQ(indices.buffer(), nullptr);
    EXPECT_EQ(indices.size(), 0);
    EXPECT_EQ(indices.count(), 0);
    EXPECT_FALSE(indices.setIndices());

    // From the default pool the managed one is tried before system memory.
    setShaders(true);
    faults->failCreation(1);
    ASSERT_TRUE(indices.allocate(device, 3));
    EXPECT_EQ(indices.pool(), D3DPOOL_MANAGED);
    EXPECT_TRUE(gameCore.log->contains("Failed allocate index stream. move to MANAGED POOL"));
}

TEST_F(DXStreamsTest, DynamicBuffersLockWithoutOverwriting) {
    DXVertexStream dynamic;
    ASSERT_TRUE(dynamic.allocate(device, 3, 20, 0, kStreamDynamic));
    takeCalls("");
    ASSERT_NE(dynamic.lock(0), nullptr);
    EXPECT_TRUE(dynamic.locked());
    EXPECT_EQ(dynamic.lock(0), nullptr);  // already locked
    EXPECT_TRUE(dynamic.unlock());
    ASSERT_NE(dynamic.lock(D3DLOCK_DISCARD), nullptr);
    EXPECT_TRUE(dynamic.release());  // unlocks first
    EXPECT_EQ(lockFlags(), (std::vector<std::string>{"0x1000", "0x2000"}));

    DXVertexStream plain;
    ASSERT_TRUE(plain.allocate(device, 3, 20, 0, 0));
    ASSERT_NE(plain.lock(0), nullptr);
    plain.unlock();
    EXPECT_EQ(lockFlags(), (std::vector<std::string>{"0x0"}));
    EXPECT_EQ(DXVertexStream().lock(0), nullptr);
}

// Vertex v of the stream holds the bytes v * 64 + i.
std::unique_ptr<Y3MeshStream> patterned(std::int32_t code, std::int32_t count) {
    std::unique_ptr<Y3MeshStream> stream(Y3MeshStream::create(code, count));
    for (std::int32_t i = 0; i < stream->getSize(); ++i)
        stream->getData()[i] = std::uint8_t((i / stream->getStride()) * 64 + i % stream->getStride());
    return stream;
}

TEST_F(DXStreamsTest, FixedPipelineUploadsTheFallbackFormat) {
    video.fixedPipeline = true;
    std::unique_ptr<Y3MeshStream> stream = patterned(9, 3);
    ASSERT_TRUE(stream->allocateAndUpload(device, 0));
    EXPECT_TRUE(stream->uploaded());
    const DXVertexStream& buffer = stream->vertexStream();
    EXPECT_EQ(buffer.size(), 96);
    EXPECT_EQ(buffer.format(), 4);
    EXPECT_EQ(buffer.stride(), 32);
    const std::vector<std::uint8_t> bytes = contents(buffer.buffer(), 96);
    for (int v = 0; v < 3; ++v)
        for (int i = 0; i < 32; ++i) ASSERT_EQ(bytes[std::size_t(v * 32 + i)], v * 64 + i) << v << " " << i;

    ASSERT_TRUE(buffer.setStreamSource());
    EXPECT_EQ(cache().streamDesired, buffer.buffer());
    EXPECT_EQ(cache().strideDesired, 32u);
    EXPECT_EQ(cache().declarationDesired, 4u);

    // With shaders the buffer is the stream's own, copied whole.
    video.fixedPipeline = false;
    std::unique_ptr<Y3MeshStream> full = patterned(9, 3);
    ASSERT_TRUE(full->allocateAndUpload(device, 0));
    EXPECT_EQ(full->vertexStream().format(), 9);
    EXPECT_EQ(contents(full->vertexStream().buffer(), 192),
              std::vector<std::uint8_t>(full->getData(), full->getData() + 192));
}

TEST_F(DXStreamsTest, TempFormatIsDrawnWithTheLayoutItStores) {
    std::unique_ptr<Y3MeshStream> stream = patterned(48, 2);
    ASSERT_TRUE(stream->allocateAndUpload(device, 0));
    EXPECT_EQ(stream->vertexStream().format(), 2);
    EXPECT_EQ(stream->vertexStream().stride(), 24);
    EXPECT_EQ(contents(stream->vertexStream().buffer(), 48),
              std::vector<std::uint8_t>(stream->getData(), stream->getData() + 48));
}

TEST_F(DXStreamsTest, FailedMeshUploadIsReported) {
    std::unique_ptr<Y3MeshStream> stream = patterned(4, 2);
    for (int n = 1; n <= 3; ++n) faults->failCreation(n);
    EXPECT_FALSE(stream->allocateAndUpload(device, 0));
    EXPECT_FALSE(stream->uploaded());
    EXPECT_TRUE(gameCore.log->contains("D3DSTREAM: Can't allocate mesh"));
    // A stream that changed since its buffer was made is not copied over it.
    ASSERT_TRUE(stream->allocateBuffer(device, 0));
    stream->freeVertices();
    EXPECT_FALSE(stream->upload(0));
}

TEST_F(DXStreamsTest, CopyVerticesTakesThePrefixOfEachVertex) {
    std::unique_ptr<Y3MeshStream> source = patterned(9, 3);
    std::unique_ptr<Y3MeshStream> target(Y3MeshStream::create(4, 3));
    target->copyVertices(*source);
    for (int v = 0; v < 3; ++v)
        for (int i = 0; i < 32; ++i) ASSERT_EQ(target->getData()[v * 32 + i], v * 64 + i) << v << " " << i;
    // Only what both streams hold: two source vertices fill two, the third
    // stays zero; a narrower source fills its bytes only.
    std::unique_ptr<Y3MeshStream> shortSource = patterned(9, 2);
    std::unique_ptr<Y3MeshStream> wide(Y3MeshStream::create(9, 3));
    wide->copyVertices(*shortSource);
    EXPECT_EQ(wide->getData()[64 + 63], 64 + 63);
    EXPECT_EQ(wide->getData()[128], 0);
    std::unique_ptr<Y3MeshStream> narrowSource = patterned(0, 3);
    wide->copyVertices(*narrowSource);
    EXPECT_EQ(wide->getData()[64 + 19], 64 + 19);
    EXPECT_EQ(wide->getData()[64 + 20], 64 + 20);  // from the earlier copy
}

TEST_F(DXStreamsTest, StreamSourceWithoutABuffer) {
    gameCore.log->clear();
    DXVertexStream stream;
    EXPECT_FALSE(stream.setStreamSource());
    EXPECT_EQ(logTexts(), (std::vector<std::string>{" DX Vertex stream not allocated"}));
    EXPECT_EQ(cache().streamDesired, nullptr);
}

// The declarations of the formats, as the device holds them.
std::vector<D3DVERTEXELEMENT9> elementsOf(IDirect3DVertexDeclaration9* declaration) {
    UINT count = 0;
    if (!declaration || FAILED(declaration->GetDeclaration(nullptr, &count))) return {};
    std::vector<D3DVERTEXELEMENT9> elements(count);
    declaration->GetDeclaration(elements.data(), &count);
    return elements;
}

bool sameElements(const std::vector<D3DVERTEXELEMENT9>& made, std::int32_t code) {
    const D3DVERTEXELEMENT9* expected = vertexFormat(code)->elements;
    for (std::size_t i = 0; i < made.size(); ++i)
        if (std::memcmp(&made[i], &expected[i], sizeof(D3DVERTEXELEMENT9)) != 0) return false;
    return !made.empty() && made.back().Stream == 0xFF;
}

TEST_F(DXStreamsTest, DeclarationsFollowThePipeline) {
    DXStreamDeclarations& declarations = render->streamDeclarations();
    EXPECT_FALSE(declarations.allocate(nullptr));
    ASSERT_TRUE(declarations.allocate(device));
    EXPECT_TRUE(sameElements(elementsOf(declarations.declaration(9)), 9));
    EXPECT_EQ(declarations.fallback(9), 4);
    EXPECT_EQ(declarations.fallback(50), kNoVertexFormat);
    EXPECT_EQ(declarations.declaration(50), nullptr);
    EXPECT_STREQ(declarations.declarationName(48), "TEMP");

    video.fixedPipeline = true;
    ASSERT_TRUE(declarations.allocate(device));
    EXPECT_TRUE(sameElements(elementsOf(declarations.declaration(9)), 4));
    EXPECT_TRUE(sameElements(elementsOf(declarations.declaration(47)), 42));
    EXPECT_TRUE(sameElements(elementsOf(declarations.declaration(48)), 48));

    // A refused creation names its code; the ones before stay.
    video.fixedPipeline = false;
    faults->failCreation(3);
    EXPECT_FALSE(declarations.allocate(device));
    EXPECT_TRUE(gameCore.log->contains("Failed to create vertex declaration [2]"));
    EXPECT_NE(declarations.declaration(1), nullptr);
    EXPECT_EQ(declarations.declaration(2), nullptr);
    EXPECT_EQ(declarations.declaration(3), nullptr);
    EXPECT_TRUE(declarations.release());
    EXPECT_EQ(declarations.declaration(0), nullptr);
}

TEST_F(DXStreamsTest, TheCacheSetsTheDeclarationOfTheStreamsFormat) {
    ASSERT_TRUE(render->streamDeclarations().allocate(device));
    DXVertexStream stream;
    ASSERT_TRUE(stream.allocate(device, 3, 32, 4, 0));
    DXIndexStream indices;
    ASSERT_TRUE(indices.allocate(device, 3));
    ASSERT_TRUE(stream.setStreamSource());
    ASSERT_TRUE(indices.setIndices());
    takeCalls("");
    cache().apply();
    const std::vector<std::string> sent = takeCalls("");
    auto sentCall = [&](const std::string& head, const std::string& tail) {
        return std::any_of(sent.begin(), sent.end(), [&](const std::string& line) {
            return line.rfind(head, 0) == 0 && line.size() >= tail.size() &&
                   line.compare(line.size() - tail.size(), tail.size(), tail) == 0;
        });
    };
    EXPECT_TRUE(sentCall("SetVertexDeclaration(D+Normal)", ""));
    EXPECT_TRUE(sentCall("SetStreamSource(0, vertex buffer", ", 0, 32)"));
    EXPECT_TRUE(sentCall("SetIndices(index buffer", ")"));
    cache().apply();
    EXPECT_TRUE(takeCalls("SetVertexDeclaration").empty());

    // Declarations made again are sent again, though the code is the same.
    ASSERT_TRUE(render->streamDeclarations().allocate(device));
    cache().apply();
    EXPECT_EQ(takeCalls("SetVertexDeclaration"), (std::vector<std::string>{"SetVertexDeclaration(D+Normal)"}));

    // Released buffers leave the cache.
    EXPECT_TRUE(stream.release());
    EXPECT_TRUE(indices.release());
    EXPECT_EQ(cache().streamDesired, nullptr);
    EXPECT_EQ(cache().streamCurrent, nullptr);
    EXPECT_EQ(cache().indicesDesired, nullptr);
    EXPECT_EQ(cache().indicesCurrent, nullptr);

    // The render core's release of its device data takes the declarations.
    render->releaseDeviceData();
    EXPECT_EQ(render->streamDeclarations().declaration(4), nullptr);
}

}  // namespace
