// The render queue's insertion of a frame's draw items (10,000 items of
// random keys and depths) against sorting the same items with std::sort by
// key and depth; both give the same order, which is checked.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <random>
#include <vector>

#include "PairedRun.h"
#include "render/RenderList.h"

namespace {

constexpr int kItems = 10000;

struct Keyed {
    std::int32_t key;
    DrawItem item;
};

std::vector<Keyed> frameItems() {
    std::mt19937 random(46);
    std::uniform_int_distribution<std::int32_t> keys(0, 40);
    std::uniform_real_distribution<float> depths(0.0f, 2500.0f);
    std::vector<Keyed> items(kItems);
    for (int i = 0; i < kItems; ++i) {
        const float depth = depths(random);
        items[std::size_t(i)] = Keyed{keys(random), DrawItem{nullptr, i, 0, 0, 0, depth, depth}};
    }
    return items;
}

void BM_RenderQueueInsertVsSort(benchmark::State& state) {
    bench_pairs::fixAllocator();
    const std::vector<Keyed> items = frameItems();
    RenderQueue queue;
    std::vector<Keyed> sorted;
    sorted.reserve(items.size());
    auto inserting = [&] {
        queue.clear();
        for (const Keyed& k : items) queue.insert(k.key, k.item);
    };
    auto sorting = [&] {
        sorted.assign(items.begin(), items.end());
        std::sort(sorted.begin(), sorted.end(), [](const Keyed& a, const Keyed& b) {
            return a.key != b.key ? a.key < b.key : a.item.sortDepth < b.item.sortDepth;
        });
    };
    bench_pairs::runPaired(state, inserting, sorting, kItems);
    // The same order: keys ascending, depths ascending within a key (the
    // random depths lie further apart than the queue's precision).
    std::size_t at = 0;
    for (const RenderBucket& bucket : queue.buckets)
        for (const DrawItem& item : bucket.items) {
            if (at >= sorted.size() || sorted[at].key != bucket.key ||
                (sorted[at].item.instance != item.instance && sorted[at].item.sortDepth != item.sortDepth)) {
                state.SkipWithError("the queue and the sort disagree");
                return;
            }
            ++at;
        }
    if (at != sorted.size()) state.SkipWithError("the queue lost items");
}

}  // namespace

BENCHMARK(BM_RenderQueueInsertVsSort)->UseManualTime()->Unit(benchmark::kMicrosecond);

BENCHMARK_MAIN();
