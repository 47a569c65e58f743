// Animation loading, paired with its plain baseline (bench/PairedRun.h):
//   BM_LoadAnimation: a 200-frame animation of 60 bone tracks, every one of
//     their ten channels keyed on every frame (120,000 values), read from
//     its ".ani4" bytes with all its checks, against reading the same bytes
//     into a plain heap block. Both sides must end with the same value pool.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "PairedRun.h"
#include "animation/AnimationData.h"
#include "foundation/DataStream.h"
#include "model/AnimationWriter.h"

namespace {

constexpr std::int32_t kFrames = 200;
constexpr std::int32_t kTracks = 60;

struct FreeBlock {
    void operator()(std::uint8_t* block) const { std::free(block); }
};

std::string animationBytes() {
    model_tools::AnimationFileDescription animation;
    animation.name = "bench";
    animation.frameCount = kFrames;
    animation.flags = 1;
    for (std::int32_t t = 0; t < kTracks; ++t) {
        model_tools::TrackDescription track;
        track.bone = "bone_" + std::to_string(t);
        track.lastFrame = kFrames - 1;
        for (std::size_t c = 0; c < track.channels.size(); ++c)
            for (std::int32_t f = 0; f < kFrames; ++f)
                track.channels[c].values.push_back(static_cast<float>(t * 1000 + static_cast<std::int32_t>(c) * 10) +
                                                   static_cast<float>(f) * 0.01f);
        animation.tracks.push_back(std::move(track));
    }
    animation.events.push_back({10, 20, "footstep"});
    return model_tools::animationFileBytes(animation);
}

void BM_LoadAnimation(benchmark::State& state) {
    bench_pairs::fixAllocator();
    std::string bytes = animationBytes();
    const auto size = static_cast<std::int32_t>(bytes.size());
    // The pool's count and values follow the 12-byte header and the tracks.
    std::int32_t poolAt = 12;
    for (std::int32_t t = 0; t < kTracks; ++t) poolAt += 136 + 4 + static_cast<std::int32_t>(("bone_" + std::to_string(t)).size());
    const std::size_t poolBytes = std::size_t(kTracks) * 10 * kFrames * 4;
    std::unique_ptr<AnimationData> data;
    std::unique_ptr<std::uint8_t, FreeBlock> plain;
    bench_pairs::runPaired(
        state,
        [&] {
            MemoryStream in(bytes.data(), size);
            data = std::make_unique<AnimationData>();
            if (data->read(in, "bench") != size) state.SkipWithError("animation refused");
        },
        [&] {
            MemoryStream in(bytes.data(), size);
            plain.reset(static_cast<std::uint8_t*>(std::malloc(std::size_t(size))));
            if (in.read(plain.get(), size) != size) state.SkipWithError("short read");
        },
        1.0,
        [&] {
            if (data && plain &&
                (data->values.size() * 4 != poolBytes ||
                 std::memcmp(data->values.data(), plain.get() + poolAt + 4, poolBytes) != 0))
                state.SkipWithError("the animation's pool and the plain bytes differ");
            data.reset();
            plain.reset();
        });
}
BENCHMARK(BM_LoadAnimation)->UseManualTime()->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
