// Runs fuzz targets without a fuzzer, so every build keeps them passing:
//   fuzz_replay <target> [file or folder...]
//       runs the target's seeds, then every file named (a folder: each
//       file in it; a missing one holds none); a fault aborts, so the run
//       fails. In a sanitizer build a single allocation over 512 MB is a
//       fault too: no input of a few bytes may make a loader allocate what
//       its header claims.
//   fuzz_replay --write-seeds <folder> [target]
//       writes each target's seeds into <folder>/<target>/ for a fuzzer.
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "fuzz/FuzzTarget.h"
#include "support/TestSupport.h"

namespace fs = std::filesystem;

namespace {

constexpr std::size_t kAllocationLimit = std::size_t(512) << 20;

int usage() {
    std::fprintf(stderr, "usage: fuzz_replay <target> [file or folder...]\n"
                         "       fuzz_replay --write-seeds <folder> [target]\ntargets:");
    for (const fuzzing::FuzzTarget& target : fuzzing::fuzzTargets()) std::fprintf(stderr, " %s", target.name);
    std::fprintf(stderr, "\n");
    return 2;
}

bool readFile(const fs::path& path, std::string& bytes) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return true;
}

int writeSeeds(const fs::path& folder, const std::string& only) {
    for (const fuzzing::FuzzTarget& target : fuzzing::fuzzTargets()) {
        if (!only.empty() && only != target.name) continue;
        std::vector<std::string> seeds;
        target.seeds(seeds);
        const fs::path where = folder / target.name;
        std::error_code error;
        fs::create_directories(where, error);
        for (std::size_t i = 0; i < seeds.size(); ++i) {
            std::ofstream out(where / ("seed-" + std::to_string(i)), std::ios::binary);
            out.write(seeds[i].data(), static_cast<std::streamsize>(seeds[i].size()));
            if (!out) {
                std::fprintf(stderr, "cannot write a seed into %s\n", where.c_str());
                return 1;
            }
        }
        std::printf("%s: %zu seeds in %s\n", target.name, seeds.size(), where.c_str());
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) return usage();
    const std::string first = argv[1];
    if (first == "--write-seeds") return argc < 3 ? usage() : writeSeeds(argv[2], argc > 3 ? argv[3] : "");
    const fuzzing::FuzzTarget* target = fuzzing::findFuzzTarget(first);
    if (!target) return usage();
    testing_support::limitAllocations(kAllocationLimit);

    std::vector<std::string> seeds;
    target->seeds(seeds);
    if (seeds.empty()) {
        std::fprintf(stderr, "%s: no seeds\n", target->name);
        return 1;
    }
    for (const std::string& seed : seeds)
        target->run(reinterpret_cast<const std::uint8_t*>(seed.data()), seed.size());
    std::size_t files = 0;
    for (int i = 2; i < argc; ++i) {
        std::vector<fs::path> paths;
        if (!fs::exists(argv[i])) {
            std::printf("%s: no reproducers in %s\n", target->name, argv[i]);
        } else if (fs::is_directory(argv[i])) {
            for (const fs::directory_entry& entry : fs::directory_iterator(argv[i]))
                if (entry.is_regular_file()) paths.push_back(entry.path());
            std::sort(paths.begin(), paths.end());
        } else {
            paths.emplace_back(argv[i]);
        }
        for (const fs::path& path : paths) {
            std::string bytes;
            if (!readFile(path, bytes)) {
                std::fprintf(stderr, "cannot read %s\n", path.c_str());
                return 1;
            }
            std::printf("%s: %s\n", target->name, path.c_str());
            std::fflush(stdout);
            target->run(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
            ++files;
        }
    }
    std::printf("%s: %zu seeds and %zu files passed\n", target->name, seeds.size(), files);
    return 0;
}
