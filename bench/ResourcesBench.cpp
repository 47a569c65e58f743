// Package database figures, each beside its baseline in the same run (see
// PairedRun.h):
// - building the database from one package of 1k to 1M entries, names in
//   order and shuffled, against reading, inflating and parsing the same
//   directory and sorting it with std::sort;
// - building it from 1k and 10k entries against a plain listing of the same
//   entries without the engine's code (stdio, zlib and std::sort);
// - loading stored files of 4 KiB, 64 KiB and 1 MiB through the default
//   (memory-mapped) path and through the file stream, against a bare
//   uncompress of the same stored bytes;
// - and find calls per second.
#include <benchmark/benchmark.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <numeric>
#include <random>
#include <string>
#include <vector>

#include "PairedRun.h"
#include "app/GameCore.h"
#include "foundation/AppPaths.h"
#include "foundation/DataStream.h"
#include "foundation/Log.h"
#include "package/PackageWriter.h"
#include "resources/PackageDatabase.h"
#include "resources/PackageFile.h"

namespace {

// Files per load size, loaded in turn.
constexpr int kLoadFiles = 16;
// A type holds at most 499,999 files: larger packages are split in sections.
constexpr int kSectionEntries = 250000;

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

// count entries named res0000000 ... in ascending order or shuffled, in
// sections of at most kSectionEntries (types .d0, .d1, ...).
package_tool::Manifest manyEntries(int count, bool shuffled) {
    std::vector<int> numbers(static_cast<std::size_t>(count));
    std::iota(numbers.begin(), numbers.end(), 0);
    if (shuffled) std::shuffle(numbers.begin(), numbers.end(), std::mt19937(12345));
    package_tool::Manifest manifest;
    for (int first = 0; first < count; first += kSectionEntries) {
        package_tool::Section section{".d" + std::to_string(first / kSectionEntries), "", "entries", "", {}};
        const int last = std::min(count, first + kSectionEntries);
        section.files.reserve(static_cast<std::size_t>(last - first));
        for (int i = first; i < last; ++i) {
            package_tool::StoredFile f;
            f.name = entryName(numbers[static_cast<std::size_t>(i)]);
            f.bytes.assign(1, 'x');  // (= "x" draws a false -Wrestrict from GCC 12)
            f.packed = false;
            section.files.push_back(std::move(f));
        }
        manifest.sections.push_back(std::move(section));
    }
    return manifest;
}

BenchRoot& entriesRoot(int count, bool shuffled) {
    static std::map<std::pair<int, bool>, std::unique_ptr<BenchRoot>> roots;
    auto& root = roots[{count, shuffled}];
    if (!root) root = std::make_unique<BenchRoot>(manyEntries(count, shuffled));
    return *root;
}

// One package of kLoadFiles files of each load size (".s<size>").
BenchRoot& loadRoot() {
    static std::unique_ptr<BenchRoot> root;
    if (!root) {
        package_tool::Manifest manifest;
        for (std::size_t size : {std::size_t{4096}, std::size_t{65536}, std::size_t{1048576}}) {
            manifest.sections.push_back({".s" + std::to_string(size), "", "load", "", {}});
            for (int i = 0; i < kLoadFiles; ++i) {
                package_tool::StoredFile f;
                f.name = entryName(i);
                f.bytes = payload(size, static_cast<unsigned>(i + size));
                manifest.sections.back().files.push_back(std::move(f));
            }
        }
        root = std::make_unique<BenchRoot>(manifest);
    }
    return *root;
}

// Baseline of a build: read, inflate and parse the directory, then sort
// each section's entries by name.
void readAndSort(const std::string& path) {
    std::unique_ptr<WinFileStream> file(WinFileStream::open(path, platform::GENERIC_READ, 0, platform::OPEN_EXISTING));
    PackageFileContents contents;
    if (!file || !readPackageFile(*file, path, contents)) return;
    for (PackageSection& section : contents.sections)
        std::sort(section.entries.begin(), section.entries.end(),
                  [](const PackageFileEntry& a, const PackageFileEntry& b) { return std::strcmp(a.name, b.name) < 0; });
    benchmark::DoNotOptimize(contents.sections.data());
}

// Args: entry count, shuffled (0 or 1).
void BM_BuildDatabaseVsReadAndSort(benchmark::State& state) {
    const int count = static_cast<int>(state.range(0));
    const bool shuffled = state.range(1) != 0;
    BenchRoot& root = entriesRoot(count, shuffled);
    BenchCore core(root.path());
    const std::string path = root.path() + "/pack.pak";
    bool ok = true;
    bench_pairs::runPaired(
        state, [&] { ok = core.database().build() && ok; }, [&] { readAndSort(path); }, count);
    if (!ok || core.database().data().countFiles(".d0", "") != std::min(count, kSectionEntries))
        state.SkipWithError("build failed");
    state.SetLabel(shuffled ? "shuffled" : "in order");
}
BENCHMARK(BM_BuildDatabaseVsReadAndSort)
    ->ArgsProduct({{1000, 10000, 100000}, {0, 1}})
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BuildDatabaseVsReadAndSort)
    ->ArgsProduct({{1000000}, {0, 1}})
    ->UseManualTime()
    ->Iterations(6)
    ->Unit(benchmark::kMillisecond);

// A stored entry as the plain listing keeps it.
struct ListedEntry {
    char name[64];
    std::uint32_t offset;
    std::uint32_t size;
};

std::uint32_t littleU32(const unsigned char* p) {
    return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 | std::uint32_t(p[3]) << 24;
}

// The plain listing of a package: the file read with stdio, its directory
// record (at the offset in the file's last four bytes) inflated with zlib,
// each section's entries taken out of it and sorted by name. The number of
// entries listed, or -1 when the file is not as expected.
long plainListing(const std::string& path) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) return -1;
    std::vector<unsigned char> bytes;
    unsigned char chunk[65536];
    for (std::size_t got; (got = std::fread(chunk, 1, sizeof(chunk), file)) > 0;)
        bytes.insert(bytes.end(), chunk, chunk + got);
    std::fclose(file);
    if (bytes.size() < 4) return -1;
    const std::size_t at = littleU32(bytes.data() + bytes.size() - 4);
    if (at + 9 > bytes.size()) return -1;
    const unsigned char* record = bytes.data() + at;
    const std::uint32_t packed = littleU32(record + 1);
    uLongf length = littleU32(record + 5);
    if (at + 9 + packed > bytes.size()) return -1;
    std::vector<unsigned char> directory(length);
    if (record[0] == 1) {
        if (uncompress(directory.data(), &length, record + 9, packed) != Z_OK) return -1;
    } else {
        directory.assign(record + 9, record + 9 + packed);
    }
    // Sections: a count, the entries (package, folder, reserved, name,
    // offset, size, value, stamp), then four texts.
    std::size_t p = 0;
    auto need = [&](std::size_t n) { return p + n <= directory.size(); };
    auto u16 = [&] {
        const std::size_t v = std::size_t(directory[p]) | std::size_t(directory[p + 1]) << 8;
        p += 2;
        return v;
    };
    long listed = 0;
    std::vector<ListedEntry> entries;
    while (need(4)) {
        const std::uint32_t count = littleU32(directory.data() + p);
        p += 4;
        entries.clear();
        entries.reserve(count);
        for (std::uint32_t i = 0; i < count; ++i) {
            if (!need(6)) return -1;
            p += 4;
            const std::size_t nameLength = u16();
            if (nameLength >= sizeof(ListedEntry::name) || !need(nameLength + 20)) return -1;
            ListedEntry& e = entries.emplace_back();
            std::memcpy(e.name, directory.data() + p, nameLength);
            e.name[nameLength] = '\0';
            p += nameLength;
            e.offset = littleU32(directory.data() + p);
            e.size = littleU32(directory.data() + p + 4);
            p += 20;
        }
        for (int text = 0; text < 4; ++text) {
            if (!need(2)) return -1;
            const std::size_t n = u16();
            if (!need(n)) return -1;
            p += n;
        }
        std::sort(entries.begin(), entries.end(),
                  [](const ListedEntry& a, const ListedEntry& b) { return std::strcmp(a.name, b.name) < 0; });
        benchmark::DoNotOptimize(entries.data());
        listed += static_cast<long>(entries.size());
    }
    return listed;
}

// The database build against the plain listing of the same package. Args:
// entry count, shuffled (0 or 1).
void BM_BuildDatabaseVsPlainListing(benchmark::State& state) {
    bench_pairs::fixAllocator();
    const int count = static_cast<int>(state.range(0));
    const bool shuffled = state.range(1) != 0;
    BenchRoot& root = entriesRoot(count, shuffled);
    BenchCore core(root.path());
    const std::string path = root.path() + "/pack.pak";
    bool ok = true;
    long listed = 0;
    bench_pairs::runPaired(
        state, [&] { ok = core.database().build() && ok; }, [&] { listed = plainListing(path); }, count);
    if (!ok || listed != count || core.database().data().countFiles(".d0", "") != count)
        state.SkipWithError("the build and the listing differ");
    state.SetLabel(shuffled ? "shuffled" : "in order");
}
BENCHMARK(BM_BuildDatabaseVsPlainListing)
    ->ArgsProduct({{1000, 10000}, {0, 1}})
    ->UseManualTime()
    ->Unit(benchmark::kMicrosecond);

void BM_Find(benchmark::State& state) {
    const int count = 100000;
    BenchRoot& root = entriesRoot(count, true);
    BenchCore core(root.path());
    if (!core.database().build()) state.SkipWithError("build failed");
    std::vector<std::string> names;
    for (int i = 0; i < 1024; ++i) names.push_back(entryName((i * 7919) % count));
    FilePackageDBData& data = core.database().data();
    // Every name searched is stored: the figure is that of a hit.
    for (const std::string& name : names)
        if (data.find(".d0", name, "") == 0) {
            state.SkipWithError("a searched name is missing");
            return;
        }
    std::size_t i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(data.find(".d0", names[i++ & 1023], ""));
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_Find);

// Loads of one size through the database (arg 1: the default, mapped path;
// 0: the file stream) against uncompress of the same stored bytes into a
// buffer kept across calls. Args: size, maps.
void BM_LoadVsUncompress(benchmark::State& state) {
    const std::size_t size = static_cast<std::size_t>(state.range(0));
    const bool maps = state.range(1) != 0;
    BenchRoot& root = loadRoot();
    BenchCore core(root.path());
    if (!core.database().build()) state.SkipWithError("build failed");
    core.database().setUseMaps(maps);
    const std::string mask = ".s" + std::to_string(size);

    // The stored records' zlib streams, read back from the package file.
    const std::string bytes = [&] {
        std::ifstream in(root.path() + "/pack.pak", std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }();
    std::vector<std::string> names;
    std::vector<std::vector<Bytef>> packed;
    for (int i = 0; i < kLoadFiles; ++i) {
        names.push_back(entryName(i));
        const PackageFileEntry* e = core.database().data().entry(core.database().data().find(mask, names.back(), ""));
        if (!e || e->size <= 9) {
            state.SkipWithError("no stored file");
            return;
        }
        packed.emplace_back(bytes.begin() + e->offset + 9, bytes.begin() + e->offset + e->size);
    }
    std::vector<Bytef> out(size);
    MemoryStream loaded;
    int loads = 0;
    int inflates = 0;
    bool ok = true;
    bench_pairs::runPaired(
        state,
        [&] {
            ok = core.database().loadResource(mask, names[static_cast<std::size_t>(loads++ % kLoadFiles)], "", loaded) &&
                 ok;
        },
        [&] {
            const auto& p = packed[static_cast<std::size_t>(inflates++ % kLoadFiles)];
            uLongf length = static_cast<uLongf>(size);
            uncompress(out.data(), &length, p.data(), static_cast<uLong>(p.size()));
            benchmark::DoNotOptimize(out.data());
        });
    if (!ok || loaded.size() != static_cast<std::int32_t>(size)) state.SkipWithError("load failed");
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(size));
    state.SetLabel(maps ? "map (default)" : "stream");
}
BENCHMARK(BM_LoadVsUncompress)
    ->ArgsProduct({{4096, 65536, 1048576}, {1, 0}})
    ->UseManualTime()
    ->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
