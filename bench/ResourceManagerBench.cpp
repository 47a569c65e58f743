// Resource managers: a name lookup is a binary search over the name-sorted
// records, so its time should grow with the logarithm of the record count
// only (plus cache misses); a collector pass looks at no more than 50
// records, so its work stays bounded whatever the manager's size. Making
// 100k records in random name order is measured beside its baseline (see
// PairedRun.h): the same records appended to an array and sorted once.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "PairedRun.h"
#include "app/GameCore.h"
#include "foundation/TimeCore.h"
#include "resources/Y3ResourceManager.h"

namespace {

const ResourceDescriptor kBenchDescriptor = {"bench data", "bench", ".bnh", "", "", "", ""};

class BenchRecord : public ResourceRecord {
public:
    explicit BenchRecord(const char* name) : ResourceRecord(name, kBenchDescriptor) {}
    std::int32_t readHeader(DataStream&) override { return 0; }
    bool hasObject() const override { return false; }
    void deleteObject() override {}
};

using BenchManager = Y3ResourceManager<BenchRecord, kProgressNoReportStage, kProgressNoReportStage>;

std::vector<std::string> names(std::int64_t count) {
    std::vector<std::string> result;
    char text[32];
    for (std::int64_t i = 0; i < count; ++i) {
        std::snprintf(text, sizeof(text), "model_%07lld", static_cast<long long>(i * 7919 % count));
        result.emplace_back(text);
    }
    return result;
}

void BM_LookupExistingName(benchmark::State& state) {
    BenchManager manager;
    const std::vector<std::string> all = names(state.range(0));
    for (const std::string& name : all) manager.getOrCreate(name.c_str(), false);
    std::size_t i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(manager.getOrCreate(all[i].c_str(), false));
        if (++i == all.size()) i = 0;
    }
}
BENCHMARK(BM_LookupExistingName)->Arg(1000)->Arg(100000);

// Arg: record count.
void BM_InsertVsAppendAndSort(benchmark::State& state) {
    std::vector<std::string> all;
    char text[32];
    for (std::int64_t i = 0; i < state.range(0); ++i) {
        std::snprintf(text, sizeof(text), "model_%07lld", static_cast<long long>(i));
        all.emplace_back(text);
    }
    std::shuffle(all.begin(), all.end(), std::mt19937(777));
    std::unique_ptr<BenchManager> manager;
    std::vector<BenchRecord*> array;
    bool sorted = true;
    bench_pairs::runPaired(
        state,
        [&] {
            for (const std::string& name : all) manager->getOrCreate(name.c_str(), false);
            sorted = manager->count() == all.size() && sorted;  // puts the records in order
        },
        [&] {
            for (const std::string& name : all) array.push_back(new BenchRecord(name.c_str()));
            std::sort(array.begin(), array.end(), [](const BenchRecord* a, const BenchRecord* b) {
                return std::strncmp(a->name, b->name, kResourceNameLength) < 0;
            });
        },
        static_cast<double>(all.size()), [&] {
            // The records of the last run are freed outside the measured time.
            manager = std::make_unique<BenchManager>();
            for (BenchRecord* record : array) delete record;
            array.clear();
        });
    for (std::uint32_t i = 1; manager && i < manager->count(); ++i)
        sorted = sorted && std::strcmp(manager->recordAt(i - 1)->name, manager->recordAt(i)->name) < 0;
    if (!sorted) state.SkipWithError("records out of order");
    for (BenchRecord* record : array) delete record;
}
BENCHMARK(BM_InsertVsAppendAndSort)->Arg(100000)->UseManualTime()->Unit(benchmark::kMillisecond);

void BM_CollectorPass(benchmark::State& state) {
    TimeCore clocks;
    TimeCore* saved = gameCore.clocks;
    gameCore.clocks = &clocks;
    BenchManager manager;
    for (const std::string& name : names(state.range(0))) manager.getOrCreate(name.c_str(), false);
    for (auto _ : state) {
        manager.setCollectionClock(1.0);  // due: every call is a full pass
        manager.collectUnused();
    }
    gameCore.clocks = saved;
}
BENCHMARK(BM_CollectorPass)->Arg(1000)->Arg(100000);

}  // namespace

BENCHMARK_MAIN();
