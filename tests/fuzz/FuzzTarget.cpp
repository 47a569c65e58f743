#include "fuzz/FuzzTarget.h"

#include <cstdio>
#include <cstdlib>

#include "foundation/Log.h"

namespace fuzzing {

const std::vector<FuzzTarget>& fuzzTargets() {
    static const std::vector<FuzzTarget> targets = {
        {"package", fuzzPackage, seedPackage},
        {"rules", fuzzRules, seedRules},
        {"ini", fuzzIni, seedIni},
        {"variables", fuzzVariables, seedVariables},
        {"savefile", fuzzSaveFile, seedSaveFile},
        {"savedata", fuzzSaveData, seedSaveData},
        {"image", fuzzImage, seedImage},
        {"textrecord", fuzzTextRecord, seedTextRecord},
        {"xml", fuzzXml, seedXml},
        {"shaderpackage", fuzzShaderPackage, seedShaderPackage},
        {"texture", fuzzTexture, seedTexture},
        {"streams", fuzzStreams, seedStreams},
        {"scene", fuzzScene, seedScene},
        {"mesh", fuzzMesh, seedMesh},
        {"model", fuzzModel, seedModel},
    };
    return targets;
}

const FuzzTarget* findFuzzTarget(const std::string& name) {
    for (const FuzzTarget& target : fuzzTargets())
        if (name == target.name) return &target;
    return nullptr;
}

void fuzzCheck(bool condition, const char* what) {
    if (condition) return;
    std::fprintf(stderr, "fuzz check failed: %s\n", what);
    std::fflush(stderr);
    std::abort();
}

void forgetLog() { engineLog().clear(); }

}  // namespace fuzzing
