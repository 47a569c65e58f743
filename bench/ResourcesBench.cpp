// Package database figures: building from packages of 10,000 and 100,000
// entries, find calls per second, and loading throughput through memory
// maps and through file streams beside a bare uncompress of the same bytes.
#include <benchmark/benchmark.h>
#include <unistd.h>
#include <zlib.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "app/GameCore.h"
#include "foundation/AppPaths.h"
#include "foundation/DataStream.h"
#include "foundation/Log.h"
#include "package/PackageWriter.h"
#include "resources/PackageDatabase.h"

namespace {

constexpr int kLoadFiles = 32;
constexpr std::size_t kLoadFileSize = 256 * 1024;

std::string entryName(int i) {
    char name[16];
    std::snprintf(name, sizeof(name), "res%07i", i);
    return name;
}

// Compressible but not trivial data.
std::string payload(std::size_t size, unsigned seed) {
    std::string b(size, 0);
    unsigned x = seed * 2654435761u + 1;
    for (std::size_t i = 0; i < size; ++i) {
        x = x * 1103515245u + 12345u;
        b[i] = static_cast<char>('a' + (x >> 16) % 12);
    }
    return b;
}

// A data root (lower-case path, so no case-insensitive resolution) with one
// package; removed at exit.
class BenchRoot {
public:
    explicit BenchRoot(const package_tool::Manifest& manifest) {
        path_ = "/tmp/engine-bench-" + std::to_string(::getpid()) + "-" + std::to_string(counter()++);
        std::filesystem::create_directories(path_);
        std::ofstream(path_ + "/data.txt") << "[pack.pak]\n.* >> data\n";
        std::string bytes;
        package_tool::buildPackage(manifest, bytes);
        std::ofstream(path_ + "/pack.pak", std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    }
    ~BenchRoot() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    const std::string& path() const { return path_; }

private:
    static int& counter() {
        static int n = 0;
        return n;
    }
    std::string path_;
};

// The game core's log, paths and package database for one data root.
class BenchCore {
public:
    explicit BenchCore(const std::string& root) {
        gameCore.log = &log_;
        gameCore.paths = &paths_;
        gameCore.packages = &database_;
        paths_.setPath(PathLanguage, "en");
        paths_.setPath(PathDataRootInput, root);
    }
    ~BenchCore() {
        gameCore.packages = nullptr;
        gameCore.paths = nullptr;
        gameCore.log = nullptr;
    }
    PackageDatabase& database() { return database_; }

private:
    Log log_;
    AppPaths paths_;
    PackageDatabase database_;
};

package_tool::Manifest manyEntries(int count) {
    package_tool::Manifest manifest;
    manifest.sections.push_back({".dat", "", "entries", "", {}});
    auto& files = manifest.sections[0].files;
    files.reserve(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) {
        package_tool::StoredFile f;
        f.name = entryName(i);
        f.bytes = "0123456789abcdef";
        f.packed = false;
        files.push_back(std::move(f));
    }
    return manifest;
}

BenchRoot& entriesRoot(int count) {
    static std::map<int, std::unique_ptr<BenchRoot>> roots;
    auto& root = roots[count];
    if (!root) root = std::make_unique<BenchRoot>(manyEntries(count));
    return *root;
}

BenchRoot& loadRoot() {
    static std::unique_ptr<BenchRoot> root;
    if (!root) {
        package_tool::Manifest manifest;
        manifest.sections.push_back({".bin", "", "load", "", {}});
        for (int i = 0; i < kLoadFiles; ++i) {
            package_tool::StoredFile f;
            f.name = entryName(i);
            f.bytes = payload(kLoadFileSize, static_cast<unsigned>(i));
            manifest.sections[0].files.push_back(std::move(f));
        }
        root = std::make_unique<BenchRoot>(manifest);
    }
    return *root;
}

void BM_BuildDatabase(benchmark::State& state) {
    const int count = static_cast<int>(state.range(0));
    BenchRoot& root = entriesRoot(count);
    BenchCore core(root.path());
    for (auto _ : state) {
        if (!core.database().build()) state.SkipWithError("build failed");
    }
    state.SetItemsProcessed(state.iterations() * count);
}
BENCHMARK(BM_BuildDatabase)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);

void BM_Find(benchmark::State& state) {
    const int count = 100000;
    BenchRoot& root = entriesRoot(count);
    BenchCore core(root.path());
    if (!core.database().build()) state.SkipWithError("build failed");
    std::vector<std::string> names;
    for (int i = 0; i < 1024; ++i) names.push_back(entryName((i * 7919) % count));
    FilePackageDBData& data = core.database().data();
    std::size_t i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(data.find(".dat", names[i++ & 1023], ""));
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_Find);

// Loads every stored file of the load package; arg 1 maps, 0 streams.
void BM_LoadResource(benchmark::State& state) {
    BenchCore core(loadRoot().path());
    if (!core.database().build()) state.SkipWithError("build failed");
    core.database().setUseMaps(state.range(0) != 0);
    MemoryStream out;
    int i = 0;
    for (auto _ : state) {
        if (!core.database().loadResource(".bin", entryName(i++ % kLoadFiles), "", out))
            state.SkipWithError("load failed");
    }
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(kLoadFileSize));
    state.SetLabel(state.range(0) ? "map" : "stream");
}
BENCHMARK(BM_LoadResource)->Arg(1)->Arg(0);

// The same packed bytes through uncompress alone: the bound for both paths.
void BM_BareUncompress(benchmark::State& state) {
    std::vector<std::vector<Bytef>> packed;
    for (int i = 0; i < kLoadFiles; ++i) {
        const std::string data = payload(kLoadFileSize, static_cast<unsigned>(i));
        uLongf length = compressBound(static_cast<uLong>(data.size()));
        std::vector<Bytef> p(length);
        compress2(p.data(), &length, reinterpret_cast<const Bytef*>(data.data()), static_cast<uLong>(data.size()), 9);
        p.resize(length);
        packed.push_back(std::move(p));
    }
    std::vector<Bytef> out(kLoadFileSize);
    int i = 0;
    for (auto _ : state) {
        const auto& p = packed[static_cast<std::size_t>(i++ % kLoadFiles)];
        uLongf length = kLoadFileSize;
        uncompress(out.data(), &length, p.data(), static_cast<uLong>(p.size()));
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(kLoadFileSize));
}
BENCHMARK(BM_BareUncompress);

}  // namespace

BENCHMARK_MAIN();
