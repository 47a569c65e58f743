// Fuzz targets of the loaders: each takes one input as bytes, feeds it to a
// loader through its public entry points and checks what must hold for any
// input. A check that fails ends the process (abort), so the fuzzer and the
// replay driver both see it as a fault.
//
// Every target also writes its seeds with the engine's own writers, so a
// corpus starts from well-formed files without stored blobs.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

class ScriptGlobals;

namespace fuzzing {

struct FuzzTarget {
    const char* name;
    // Runs one input; always returns 0 (a fault aborts).
    int (*run)(const std::uint8_t* data, std::size_t size);
    // Appends the seed inputs.
    void (*seeds)(std::vector<std::string>& out);
};

// Every target, in a fixed order.
const std::vector<FuzzTarget>& fuzzTargets();
// The target of that name, or null.
const FuzzTarget* findFuzzTarget(const std::string& name);

// Ends the process with a message when a property does not hold.
void fuzzCheck(bool condition, const char* what);
// Forgets the log records an input left (the log keeps every record).
void forgetLog();
// A new folder named prefix-XXXXXX under $TMPDIR (or /tmp); empty when
// it cannot be made.
std::string makeTempFolder(const char* prefix);
// Writes a whole file (replacing it).
void writeFile(const std::string& path, const std::string& bytes);
// Fills globals with the tree of a variable text (the variable-file writer's
// form), through its stored single file.
void loadGlobals(ScriptGlobals& globals, const char* text);

// The targets (one a loader; see the .cpp files).
int fuzzPackage(const std::uint8_t* data, std::size_t size);
void seedPackage(std::vector<std::string>& out);
int fuzzRules(const std::uint8_t* data, std::size_t size);
void seedRules(std::vector<std::string>& out);
int fuzzIni(const std::uint8_t* data, std::size_t size);
void seedIni(std::vector<std::string>& out);
int fuzzVariables(const std::uint8_t* data, std::size_t size);
void seedVariables(std::vector<std::string>& out);
int fuzzSaveFile(const std::uint8_t* data, std::size_t size);
void seedSaveFile(std::vector<std::string>& out);
int fuzzSaveData(const std::uint8_t* data, std::size_t size);
void seedSaveData(std::vector<std::string>& out);
int fuzzImage(const std::uint8_t* data, std::size_t size);
void seedImage(std::vector<std::string>& out);
int fuzzTextRecord(const std::uint8_t* data, std::size_t size);
void seedTextRecord(std::vector<std::string>& out);
int fuzzXml(const std::uint8_t* data, std::size_t size);
void seedXml(std::vector<std::string>& out);
int fuzzShaderPackage(const std::uint8_t* data, std::size_t size);
void seedShaderPackage(std::vector<std::string>& out);
int fuzzTexture(const std::uint8_t* data, std::size_t size);
void seedTexture(std::vector<std::string>& out);
int fuzzStreams(const std::uint8_t* data, std::size_t size);
void seedStreams(std::vector<std::string>& out);
int fuzzScene(const std::uint8_t* data, std::size_t size);
void seedScene(std::vector<std::string>& out);
int fuzzMesh(const std::uint8_t* data, std::size_t size);
void seedMesh(std::vector<std::string>& out);
int fuzzOgg(const std::uint8_t* data, std::size_t size);
void seedOgg(std::vector<std::string>& out);
int fuzzModel(const std::uint8_t* data, std::size_t size);
void seedModel(std::vector<std::string>& out);
int fuzzQuest(const std::uint8_t* data, std::size_t size);
void seedQuest(std::vector<std::string>& out);
int fuzzAnimation(const std::uint8_t* data, std::size_t size);
void seedAnimation(std::vector<std::string>& out);
int fuzzSequence(const std::uint8_t* data, std::size_t size);
void seedSequence(std::vector<std::string>& out);
int fuzzTrackerMap(const std::uint8_t* data, std::size_t size);
void seedTrackerMap(std::vector<std::string>& out);
int fuzzAnimationRules(const std::uint8_t* data, std::size_t size);
void seedAnimationRules(std::vector<std::string>& out);
int fuzzLip(const std::uint8_t* data, std::size_t size);
void seedLip(std::vector<std::string>& out);
int fuzzTrk(const std::uint8_t* data, std::size_t size);
void seedTrk(std::vector<std::string>& out);
int fuzzDialog(const std::uint8_t* data, std::size_t size);
void seedDialog(std::vector<std::string>& out);
int fuzzPhysicsModel(const std::uint8_t* data, std::size_t size);
void seedPhysicsModel(std::vector<std::string>& out);
int fuzzSurface(const std::uint8_t* data, std::size_t size);
void seedSurface(std::vector<std::string>& out);
int fuzzGrid(const std::uint8_t* data, std::size_t size);
void seedGrid(std::vector<std::string>& out);
int fuzzGridRecord(const std::uint8_t* data, std::size_t size);
void seedGridRecord(std::vector<std::string>& out);
int fuzzPhysicsSave(const std::uint8_t* data, std::size_t size);
void seedPhysicsSave(std::vector<std::string>& out);
int fuzzActions(const std::uint8_t* data, std::size_t size);
void seedActions(std::vector<std::string>& out);
// The screen-action check, for the scene target's ".as" mode as well.
void checkActionResource(const std::string& bytes, bool sourceText);
int fuzzWaypoints(const std::uint8_t* data, std::size_t size);
void seedWaypoints(std::vector<std::string>& out);
int fuzzEffect(const std::uint8_t* data, std::size_t size);
void seedEffect(std::vector<std::string>& out);
int fuzzLightSet(const std::uint8_t* data, std::size_t size);
void seedLightSet(std::vector<std::string>& out);
int fuzzLight(const std::uint8_t* data, std::size_t size);
void seedLight(std::vector<std::string>& out);
int fuzzSky(const std::uint8_t* data, std::size_t size);
void seedSky(std::vector<std::string>& out);
int fuzzRain(const std::uint8_t* data, std::size_t size);
void seedRain(std::vector<std::string>& out);
int fuzzRainData(const std::uint8_t* data, std::size_t size);
void seedRainData(std::vector<std::string>& out);
int fuzzFont4(const std::uint8_t* data, std::size_t size);
void seedFont4(std::vector<std::string>& out);

}  // namespace fuzzing
