// Vertex streams: the component operations of the 49 formats, growth, the
// stream records and the counted record arrays.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "foundation/DataStream.h"
#include "model/ModelWriter.h"
#include "model/RecordArray.h"
#include "model/Y3MeshStream.h"
#include "support/TestSupport.h"

namespace {

using StreamPtr = std::unique_ptr<Y3MeshStream>;

StreamPtr make(std::int32_t code, std::int32_t count) { return StreamPtr(Y3MeshStream::create(code, count)); }

// Bytes of little-endian 32-bit words.
std::string words(std::initializer_list<std::uint32_t> values) {
    std::string out;
    for (std::uint32_t v : values)
        for (int i = 0; i < 4; ++i) out.push_back(static_cast<char>(v >> (8 * i)));
    return out;
}

// A stream over a copy of bytes (the stream reads it in place).
struct Input {
    explicit Input(std::string text) : bytes(std::move(text)), stream(bytes.data(), std::int32_t(bytes.size())) {}
    std::string bytes;
    MemoryStream stream;
};

std::ptrdiff_t offsetIn(Y3MeshStream& stream, const void* pointer) {
    return static_cast<const std::uint8_t*>(pointer) - stream.getData();
}

// Where each component lands, counted by hand from the layout (position,
// normal, colour, texture, lightmap, second texture, binormal, indices,
// weights).
TEST(VertexStreamTest, ComponentsSitAtTheirLayoutOffsets) {
    struct Case {
        std::int32_t code;
        std::int32_t vertex;
        const char* component;
        std::ptrdiff_t offset;
    };
    const Case cases[] = {
        {47, 1, "color", 84 + 24},        // 2+LMC+Bump+Weights: P N C ...
        {47, 0, "uv2", 44},               // ... T28 L36 U44 B52 I64 W68
        {47, 0, "binormal", 52},
        {47, 2, "blendWeights", 2 * 84 + 68},
        {12, 0, "lightmapUV", 20},        // LM: P T L
        {24, 0, "uv2", 20},               // 2+D: U takes the place of L
        {9, 0, "binormal", 32},           // D+Bump+Weights: P N T B I W
        {9, 1, "blendIndices", 64 + 44},
        {6, 0, "uv", 28},                 // DC+Normal: P N C T
        {48, 1, "color", 24 + 12},        // TEMP stores P C T
        {48, 0, "uv", 16},
    };
    for (const Case& c : cases) {
        StreamPtr stream = make(c.code, 3);
        ASSERT_NE(stream, nullptr);
        const std::string name = c.component;
        const void* p = name == "color"          ? static_cast<void*>(stream->colorPtr(c.vertex))
                        : name == "uv"           ? static_cast<void*>(stream->uvPtr(c.vertex))
                        : name == "uv2"          ? static_cast<void*>(stream->uv2Ptr(c.vertex))
                        : name == "lightmapUV"   ? static_cast<void*>(stream->lightmapUVPtr(c.vertex))
                        : name == "binormal"     ? static_cast<void*>(stream->binormalPtr(c.vertex))
                        : name == "blendIndices" ? static_cast<void*>(stream->blendIndicesPtr(c.vertex))
                                                 : static_cast<void*>(stream->blendWeightsPtr(c.vertex));
        ASSERT_NE(p, nullptr) << c.code << " " << name;
        EXPECT_EQ(offsetIn(*stream, p), c.offset) << c.code << " " << name;
    }
}

// Every format: set, get and equals agree for the components it has, and
// the ones it lacks do nothing; the values land in the record bytes.
TEST(VertexStreamTest, SetGetAndEqualsOverEveryFormat) {
    for (std::int32_t code = 0; code < kVertexFormatCount; ++code) {
        StreamPtr stream = make(code, 2);
        ASSERT_NE(stream, nullptr);
        const D3DXVECTOR3 p{1, 2, 3}, n{0, 0, -1}, b{0, 1, 0};
        const D3DXVECTOR2 t{0.25f, 0.5f}, t2{0.75f, 1}, lm{0.125f, 2};
        const D3DXVECTOR4 w{0.5f, 0.25f, 0.25f, 0};
        stream->setPosition(1, p);
        stream->setNormal(1, n);
        stream->setBinormal(1, b);
        stream->setUV(1, t);
        stream->setUV2(1, t2);
        stream->setLightmapUV(1, lm);
        stream->setBlendIndices(1, 0x04030201u);
        stream->setBlendWeights(1, w);
        stream->setColor(1, 0xFF102030u);
        EXPECT_TRUE(stream->hasPosition() && stream->hasUV()) << code;
        EXPECT_TRUE(stream->equalPosition(1, p) && stream->equalUV(1, t)) << code;
        EXPECT_FALSE(stream->equalPosition(0, p)) << code;
        EXPECT_EQ(stream->equalNormal(1, n), stream->hasNormal()) << code;
        EXPECT_EQ(stream->equalBinormal(1, b), stream->hasBinormal()) << code;
        EXPECT_EQ(stream->equalUV2(1, t2), stream->hasUV2()) << code;
        EXPECT_EQ(stream->equalLightmapUV(1, lm), stream->hasLightmapUV()) << code;
        EXPECT_EQ(stream->equalBlendIndices(1, 0x04030201u), stream->hasBlendIndices()) << code;
        EXPECT_EQ(stream->equalBlendWeights(1, w), stream->hasBlendWeights()) << code;
        EXPECT_EQ(stream->equalColor(1, 0xFF102030u), stream->hasColor()) << code;
        EXPECT_EQ(stream->hasBlendIndices(), stream->hasBlendWeights()) << code;
        EXPECT_EQ(stream->normalPtr(1) != nullptr, stream->hasNormal()) << code;
        EXPECT_EQ(stream->colorPtr(1) != nullptr, stream->hasColor()) << code;

        std::uint32_t colour = 7;
        EXPECT_EQ(stream->getColor(1, colour), stream->hasColor() ? 0xFF102030u : 7u) << code;
        D3DXVECTOR3 normal{9, 9, 9};
        stream->getNormal(1, normal);
        EXPECT_EQ(normal.z, stream->hasNormal() ? -1.0f : 9.0f) << code;

        // Vertex 0 untouched, vertex 1 holds the position at its start.
        const std::uint8_t* data = stream->getData();
        EXPECT_TRUE(std::all_of(data, data + stream->getStride(), [](std::uint8_t v) { return v == 0; })) << code;
        float x = 0;
        std::memcpy(&x, data + stream->getStride(), 4);
        EXPECT_EQ(x, 1.0f) << code;
    }
}

TEST(VertexStreamTest, AnAbsentComponentLeavesTheOutputAndHasNoAddress) {
    StreamPtr stream = make(0, 1);  // "D": position and texture only
    D3DXVECTOR3 normal{4, 5, 6};
    EXPECT_FALSE(stream->hasNormal());
    EXPECT_EQ(&stream->getNormal(0, normal), &normal);
    EXPECT_EQ(normal.x, 4.0f);
    EXPECT_EQ(normal.z, 6.0f);
    EXPECT_EQ(stream->normalPtr(0), nullptr);
    EXPECT_FALSE(stream->equalNormal(0, D3DXVECTOR3{0, 0, 0}));  // the stored bytes would be zero
    stream->setNormal(0, D3DXVECTOR3{1, 1, 1});
    EXPECT_TRUE(std::all_of(stream->getData(), stream->getData() + 20, [](std::uint8_t v) { return v == 0; }));
}

TEST(VertexStreamTest, EqualityEdges) {
    StreamPtr stream = make(47, 1);
    const float nan = std::numeric_limits<float>::quiet_NaN();
    stream->setPosition(0, D3DXVECTOR3{0.003f, 0, 0});
    EXPECT_TRUE(stream->equalPosition(0, D3DXVECTOR3{0, 0, 0}));  // 9e-6
    stream->setPosition(0, D3DXVECTOR3{0.0032f, 0, 0});
    EXPECT_FALSE(stream->equalPosition(0, D3DXVECTOR3{0, 0, 0}));  // 1.024e-5
    stream->setNormal(0, D3DXVECTOR3{0, 0.002f, 0.002f});
    EXPECT_TRUE(stream->equalNormal(0, D3DXVECTOR3{0, 0, 0}));  // 8e-6
    stream->setBinormal(0, D3DXVECTOR3{nan, 0, 0});
    EXPECT_FALSE(stream->equalBinormal(0, D3DXVECTOR3{nan, 0, 0}));
    stream->setNormal(0, D3DXVECTOR3{0, 0, 0});
    EXPECT_FALSE(stream->equalNormal(0, D3DXVECTOR3{0, nan, 0}));

    // Coordinates, indices, weights and colour compare their words.
    stream->setUV(0, D3DXVECTOR2{-0.0f, 1.0f});
    EXPECT_FALSE(stream->equalUV(0, D3DXVECTOR2{0.0f, 1.0f}));
    EXPECT_TRUE(stream->equalUV(0, D3DXVECTOR2{-0.0f, 1.0f}));
    stream->setLightmapUV(0, D3DXVECTOR2{0.5f, 0.5f});
    EXPECT_FALSE(stream->equalLightmapUV(0, D3DXVECTOR2{0.5f, std::nextafter(0.5f, 1.0f)}));
    stream->setUV2(0, D3DXVECTOR2{nan, 0});
    EXPECT_TRUE(stream->equalUV2(0, D3DXVECTOR2{nan, 0}));  // the same bits
    stream->setBlendWeights(0, D3DXVECTOR4{1, 0, 0, 0});
    EXPECT_FALSE(stream->equalBlendWeights(0, D3DXVECTOR4{1, 0, 0, -0.0f}));
    stream->setBlendIndices(0, 0x01020304u);
    EXPECT_FALSE(stream->equalBlendIndices(0, 0x01020305u));
    stream->setColor(0, 0xFFFFFFFFu);
    EXPECT_TRUE(stream->equalColor(0, 0xFFFFFFFFu));
}

TEST(VertexStreamTest, AppendDoublesTheCapacityAndGivesZeroVertices) {
    StreamPtr stream = make(4, 0);
    const std::int32_t capacities[] = {1, 2, 4, 4, 8};
    for (std::int32_t i = 0; i < 5; ++i) {
        EXPECT_EQ(stream->append(), i);
        EXPECT_EQ(stream->capacity(), capacities[i]) << i;
        EXPECT_EQ(stream->getCount(), i + 1);
        // The earlier vertices survive the growth; the new one is zero.
        D3DXVECTOR3 p{};
        if (i > 0) {
            EXPECT_TRUE(stream->equalPosition(i - 1, D3DXVECTOR3{float(i), 0, 0})) << i;
        }
        EXPECT_TRUE(stream->equalPosition(i, p));
        stream->setPosition(i, D3DXVECTOR3{float(i + 1), 0, 0});
    }
    EXPECT_EQ(stream->getSize(), 5 * 32);
    stream->freeVertices();
    EXPECT_EQ(stream->getData(), nullptr);
    EXPECT_EQ(stream->capacity(), 0);
    EXPECT_EQ(stream->append(), 0);
    EXPECT_EQ(stream->capacity(), 1);
}

// ---- stream records

TEST(VertexStreamTest, RecordsHaveTheirHandCountedSizes) {
    // Format 0, two vertices: 12 + 2 x 20.
    StreamPtr d = make(0, 2);
    d->setPosition(1, D3DXVECTOR3{1, 2, 3});
    MemoryStream out;
    EXPECT_EQ(d->writeStreamRecord(out), 52);
    ASSERT_EQ(out.size(), 52);
    const std::string bytes(reinterpret_cast<const char*>(out.data()), 52);
    EXPECT_EQ(bytes.substr(0, 12), words({0x89EFA012u, 0, 2}));
    EXPECT_EQ(bytes.substr(32, 4), words({0x3F800000u}));  // vertex 1's x

    // Format 47, three vertices: 12 + 3 x 84.
    StreamPtr big = make(47, 3);
    MemoryStream out47;
    EXPECT_EQ(big->writeStreamRecord(out47), 264);
    EXPECT_EQ(out47.size(), 264);

    // An empty stream: 12 bytes, read back with no vertex block.
    StreamPtr empty = make(5, 0);
    MemoryStream outEmpty;
    EXPECT_EQ(empty->writeStreamRecord(outEmpty), 12);
    outEmpty.setPosition(0);
    Y3MeshStream* read = nullptr;
    EXPECT_EQ(Y3MeshStream::readStreamRecord(outEmpty, read), 12);
    StreamPtr owned(read);
    ASSERT_NE(owned, nullptr);
    EXPECT_EQ(owned->getFormat(), 5);
    EXPECT_EQ(owned->getData(), nullptr);
}

TEST(VertexStreamTest, EveryFormatComesBackWholeThroughItsRecord) {
    for (std::int32_t code = 0; code < kVertexFormatCount; ++code) {
        StreamPtr stream = make(code, 3);
        for (std::int32_t i = 0; i < stream->getSize(); ++i) stream->getData()[i] = std::uint8_t(i * 7 + code);
        const std::string bytes = model_tools::streamRecordBytes(*stream);
        ASSERT_EQ(bytes.size(), std::size_t(12 + 3 * vertexStrideOf(code))) << code;
        Input in(bytes);
        Y3MeshStream* read = nullptr;
        EXPECT_EQ(Y3MeshStream::readStreamRecord(in.stream, read), std::int32_t(bytes.size())) << code;
        StreamPtr back(read);
        ASSERT_NE(back, nullptr) << code;
        EXPECT_EQ(back->getFormat(), code);
        EXPECT_EQ(back->getCount(), 3);
        EXPECT_EQ(back->capacity(), 3);
        EXPECT_EQ(model_tools::streamRecordBytes(*back), bytes) << code;
    }
}

// A record refused for any reason hands back no stream, and a count taken
// from the input never allocates more than the input holds.
TEST(VertexStreamTest, BrokenRecordsAreRefusedWithNoStreamLeft) {
    const std::string vertices(40, '\x11');
    struct Case {
        const char* name;
        std::string bytes;
    };
    const Case cases[] = {
        {"mesh magic", words({0x73836505u, 0, 2}) + vertices},
        {"code 49", words({0x89EFA012u, 49, 2}) + vertices},
        {"negative code", words({0x89EFA012u, 0xFFFFFFFFu, 2}) + vertices},
        {"cut after the count", words({0x89EFA012u, 0, 2})},
        {"cut inside the vertices", words({0x89EFA012u, 0, 2}) + vertices.substr(0, 30)},
        {"cut inside the head", words({0x89EFA012u}) + "\x01\x00"},
        {"negative count", words({0x89EFA012u, 0, 0xFFFFFFFEu}) + vertices},
        {"count beyond the input", words({0x89EFA012u, 47, 10000000}) + vertices},
        {"count overflowing 32 bits", words({0x89EFA012u, 47, 0x7FFFFFFFu}) + vertices},
        {"count overflowing to a small size", words({0x89EFA012u, 0, 0x40000002u}) + vertices},
    };
    for (const Case& c : cases) {
        Input in(c.bytes);
        Y3MeshStream* out = reinterpret_cast<Y3MeshStream*>(&in);  // must be overwritten
        testing_support::LargestAllocation largest;
        EXPECT_LT(Y3MeshStream::readStreamRecord(in.stream, out), 0) << c.name;
        EXPECT_EQ(out, nullptr) << c.name;
        if (testing_support::LargestAllocation::recording()) {
            EXPECT_LT(largest.bytes(), 4096u) << c.name;
        }
    }
}

TEST(VertexStreamTest, ReadingIntoAStreamNeedsItsFormat) {
    StreamPtr target = make(6, 2);
    target->setColor(1, 0xAABBCCDDu);
    StreamPtr four = make(4, 1);
    four->setPosition(0, D3DXVECTOR3{1, 0, 0});
    {
        Input in(model_tools::streamRecordBytes(*four));
        EXPECT_EQ(Y3MeshStream::readStreamRecordInto(in.stream, *target), -1);
        EXPECT_EQ(target->getCount(), 2);
        EXPECT_TRUE(target->equalColor(1, 0xAABBCCDDu));
    }
    StreamPtr six = make(6, 3);
    six->setColor(2, 0x11223344u);
    Input in(model_tools::streamRecordBytes(*six));
    EXPECT_EQ(Y3MeshStream::readStreamRecordInto(in.stream, *target), 12 + 3 * 36);
    EXPECT_EQ(target->getCount(), 3);
    EXPECT_TRUE(target->equalColor(2, 0x11223344u));
    EXPECT_FALSE(target->equalColor(1, 0xAABBCCDDu));

    // A broken vertex block leaves the stream empty, never half-read.
    Input cut(words({0x89EFA012u, 6, 3}) + std::string(50, '\x01'));
    EXPECT_EQ(Y3MeshStream::readStreamRecordInto(cut.stream, *target), -1);
    EXPECT_EQ(target->getCount(), 0);
    EXPECT_EQ(target->getData(), nullptr);
}

// ---- counted record arrays

TEST(VertexStreamTest, ArrayReadersReadTheirRecordSize) {
    using Reader = std::int32_t (*)(DataStream&, RecordArray&);
    const Reader readers[] = {readArray20, readArray24, readArray28, readArray32, readArray36, readArray40,
                              readArray44, readArray48, readArray52, readArray56, readArray60, readArray64,
                              readArray68, readArray72, readArray76, readArray80, readArray84};
    for (int k = 0; k < 17; ++k) {
        const std::int32_t size = 20 + 4 * k;
        std::string records;
        for (int i = 0; i < 2 * size; ++i) records.push_back(static_cast<char>(i + k));
        // Two records and one byte more, which stays unread.
        Input in(words({2}) + records + "!");
        RecordArray array;
        EXPECT_EQ(readers[k](in.stream, array), 4 + 2 * size) << size;
        EXPECT_EQ(in.stream.tell(), 4 + 2 * size);
        ASSERT_EQ(array.count, 2);
        EXPECT_EQ(array.capacity, 2);
        EXPECT_EQ(std::memcmp(array.data, records.data(), records.size()), 0) << size;
        // Three records asked of the same input: refused, the array emptied.
        Input short3(words({3}) + records + "!");
        EXPECT_EQ(readers[k](short3.stream, array), -1) << size;
        EXPECT_EQ(array.data, nullptr);
        EXPECT_EQ(array.count, 0);
        array.release();
    }
    RecordArray array;
    Input zero(words({0}));
    EXPECT_EQ(readArray20(zero.stream, array), 4);
    EXPECT_EQ(array.data, nullptr);
    Input none("");
    EXPECT_LT(readArray20(none.stream, array), 0);
}

}  // namespace
