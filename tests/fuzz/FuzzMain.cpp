// The libFuzzer entry of the fuzz build: one executable for every target,
// the target named by the environment variable FUZZ_TARGET.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "fuzz/FuzzTarget.h"

namespace {

const fuzzing::FuzzTarget* target = nullptr;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    const char* name = std::getenv("FUZZ_TARGET");
    target = name ? fuzzing::findFuzzTarget(name) : nullptr;
    if (!target) {
        std::fprintf(stderr, "FUZZ_TARGET must name one of:");
        for (const fuzzing::FuzzTarget& known : fuzzing::fuzzTargets()) std::fprintf(stderr, " %s", known.name);
        std::fprintf(stderr, "\n");
        std::exit(2);
    }
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) { return target->run(data, size); }
