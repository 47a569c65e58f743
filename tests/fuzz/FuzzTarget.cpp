#include "fuzz/FuzzTarget.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>

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
        {"ogg", fuzzOgg, seedOgg},
        {"model", fuzzModel, seedModel},
        {"quest", fuzzQuest, seedQuest},
        {"animation", fuzzAnimation, seedAnimation},
        {"sequence", fuzzSequence, seedSequence},
        {"trackermap", fuzzTrackerMap, seedTrackerMap},
        {"animrules", fuzzAnimationRules, seedAnimationRules},
        {"lip", fuzzLip, seedLip},
        {"trk", fuzzTrk, seedTrk},
        {"dlg", fuzzDialog, seedDialog},
        {"physicsmodel", fuzzPhysicsModel, seedPhysicsModel},
        {"surface", fuzzSurface, seedSurface},
        {"grid", fuzzGrid, seedGrid},
        {"gridrecord", fuzzGridRecord, seedGridRecord},
        {"physicssave", fuzzPhysicsSave, seedPhysicsSave},
        {"actions", fuzzActions, seedActions},
        {"waypoints", fuzzWaypoints, seedWaypoints},
        {"effect", fuzzEffect, seedEffect},
        {"font4", fuzzFont4, seedFont4},
        {"lightset", fuzzLightSet, seedLightSet},
        {"light", fuzzLight, seedLight},
        {"sky", fuzzSky, seedSky},
        {"rain", fuzzRain, seedRain},
        {"raindata", fuzzRainData, seedRainData},
    };
    return targets;
}

const FuzzTarget* findFuzzTarget(const std::string& name) {
    for (const FuzzTarget& target : fuzzTargets())
        if (name == target.name) return &target;
    return nullptr;
}

std::string makeTempFolder(const char* prefix) {
    const char* folder = std::getenv("TMPDIR");
    std::string pattern = std::string(folder && *folder ? folder : "/tmp") + "/" + prefix + "-XXXXXX";
    return mkdtemp(pattern.data()) ? pattern : std::string();
}

void writeFile(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

void fuzzCheck(bool condition, const char* what) {
    if (condition) return;
    std::fprintf(stderr, "fuzz check failed: %s\n", what);
    std::fflush(stderr);
    std::abort();
}

void forgetLog() { engineLog().clear(); }

}  // namespace fuzzing
