// Vertex streams, paired with their plain baselines (bench/PairedRun.h):
//   BM_ReadStreamRecord: a stream record of 60,000 "2+LMC+Bump+Weights"
//     vertices (format 47, 84 bytes each) read into a new stream, against
//     reading the same bytes into a plain heap block; the stream's read is
//     one block copy, so the two should be close.
//   BM_AppendVertices: 60,000 appends, each setting the new vertex's
//     position, against a std::vector of the same 84-byte vertices growing
//     by push_back.
// Both check that the two sides end with the same bytes.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "PairedRun.h"
#include "foundation/DataStream.h"
#include "model/ModelWriter.h"
#include "model/Y3MeshStream.h"

namespace {

constexpr std::int32_t kVertices = 60000;
constexpr std::int32_t kStride = 84;

struct FreeBlock {
    void operator()(std::uint8_t* block) const { std::free(block); }
};

std::string recordBytes() {
    std::unique_ptr<Y3MeshStream> stream(Y3MeshStream::create(47, kVertices));
    for (std::int32_t i = 0; i < stream->getSize(); ++i) stream->getData()[i] = static_cast<std::uint8_t>(i * 31);
    return model_tools::streamRecordBytes(*stream);
}

void BM_ReadStreamRecord(benchmark::State& state) {
    std::string record = recordBytes();
    std::unique_ptr<Y3MeshStream> stream;
    std::unique_ptr<std::uint8_t, FreeBlock> plain;
    const auto size = static_cast<std::int32_t>(record.size());
    bench_pairs::runPaired(
        state,
        [&] {
            MemoryStream in(record.data(), size);
            Y3MeshStream* read = nullptr;
            if (Y3MeshStream::readStreamRecord(in, read) != size) state.SkipWithError("record refused");
            stream.reset(read);
        },
        [&] {
            MemoryStream in(record.data(), size);
            std::uint32_t head[3];
            in.read(head, 12);
            const std::int32_t bytes = std::int32_t(head[2]) * kStride;
            plain.reset(static_cast<std::uint8_t*>(std::malloc(std::size_t(bytes))));
            if (in.read(plain.get(), bytes) != bytes) state.SkipWithError("short read");
        },
        kVertices,
        [&] {
            if (stream && plain && std::memcmp(stream->getData(), plain.get(), std::size_t(kVertices) * kStride) != 0)
                state.SkipWithError("the stream and the plain read differ");
            stream.reset();
            plain.reset();
        });
}
BENCHMARK(BM_ReadStreamRecord)->UseManualTime()->Unit(benchmark::kMicrosecond);

struct Vertex47 {
    float values[kStride / 4];
};
static_assert(sizeof(Vertex47) == kStride);

void BM_AppendVertices(benchmark::State& state) {
    std::unique_ptr<Y3MeshStream> stream;
    std::vector<Vertex47> vector;
    bench_pairs::runPaired(
        state,
        [&] {
            stream.reset(Y3MeshStream::create(47, 0));
            for (std::int32_t i = 0; i < kVertices; ++i) {
                const std::int32_t at = stream->append();
                stream->setPosition(at, D3DXVECTOR3{float(i), 1.0f, 2.0f});
            }
        },
        [&] {
            vector = {};
            for (std::int32_t i = 0; i < kVertices; ++i) {
                vector.push_back(Vertex47{});
                Vertex47& v = vector.back();
                v.values[0] = float(i);
                v.values[1] = 1.0f;
                v.values[2] = 2.0f;
            }
        },
        kVertices,
        [&] {
            if (stream && !vector.empty() &&
                (stream->getCount() != kVertices ||
                 std::memcmp(stream->getData(), vector.data(), std::size_t(kVertices) * kStride) != 0))
                state.SkipWithError("the stream and the vector differ");
            stream.reset();
            vector = {};
        });
}
BENCHMARK(BM_AppendVertices)->UseManualTime()->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
