// The renderer's program table: every standalone vertex and pixel program
// by index (name, source id, pixel profile), the program sources by id and
// file name, and the define list that stands beside every program.
//
// The program sources are GLSL texts that the executable carries as its
// own data (render/shaders/glsl/); they are handed to the device layer by
// source id and are never compiled by the engine itself. One text holds
// many programs: each program's part is selected by a define named after
// its entry point, which the shader packer writes into the program's body
// beside the global defines.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "foundation/DataStream.h"

// Fixed tables: the rows are the renderer's contract with the shader package.
constexpr int kVertexProgramCount = 32;
constexpr int kPixelProgramCount = 39;
// The standalone programs loaded by the two passes: vertex 0-22, pixel 0-29;
// the rows above belong to the permutation families.
constexpr int kStandaloneVertexPrograms = 23;
constexpr int kStandalonePixelPrograms = 30;
// The pixel program of the water's mirror pass: an element's texture in its
// ambient colour, behind the element's own vertex program.
constexpr int kReflectionPixelProgram = 1;
// The rain map's height pass: the programs that write each point's height
// in the encoding the rain map tracer reads.
constexpr int kRainHeightVertexProgram = 2;
constexpr int kRainHeightPixelProgram = 3;
// The version in the package's file name, "shaders.%04d".
constexpr int kShaderDataVersion = 50;

extern const char* const kVertexProfiles[3];  // "vs_2_0", "vs_2_a", "vs_3_0"
extern const char* const kPixelProfiles[4];   // "ps_2_0", "ps_2_a", "ps_2_b", "ps_3_0"

struct ShaderProgramRow {
    std::int32_t index;
    const char* name;
    std::int32_t sourceId;
    std::int32_t profile;  // pixel rows: index into kPixelProfiles
};

struct ShaderSourceFile {
    std::int32_t id;
    const char* fileName;
};

// A program source carried by the executable.
struct ShaderSourceText {
    std::int32_t id;
    const char* fileName;
    const char* text;
};
// The carried texts (generated at build time from render/shaders/glsl/).
const std::vector<ShaderSourceText>& shaderSourceTexts();

// The preprocessor defines of the program being loaded, in order; a define
// without value has an empty one.
class ShaderDefineList {
public:
    void add(std::string name, std::string value) { defines_.emplace_back(std::move(name), std::move(value)); }
    void clear() { defines_.clear(); }
    const std::vector<std::pair<std::string, std::string>>& defines() const { return defines_; }

private:
    std::vector<std::pair<std::string, std::string>> defines_;
};

// The values behind the global defines.
struct GlobalShaderDefines {
    std::int32_t vendorIndex = 1;  // "VENDOR_ATI", "VENDOR_NVIDIA"
    std::int32_t cardIndex = 2;    // "CARD_STUFF", "CARD_LOW", "CARD_DEFAULT", "CARD_EXPENSIVE"
    std::int32_t maxBones = 78;
    std::int32_t maxParticles = 61;
};
// Clears the list and adds the global defines in their fixed order.
void setGlobalShaderDefines(ShaderDefineList& list, const GlobalShaderDefines& values);

class ShaderProgramTable {
public:
    // Builds the rows and hands every carried source to the device layer.
    ShaderProgramTable();

    static const std::vector<ShaderProgramRow>& vertexRows();
    static const std::vector<ShaderProgramRow>& pixelRows();
    static const std::vector<ShaderSourceFile>& sourceFiles();

    // The package key of a program: the profile directly followed by the name.
    static std::string fullName(const char* profile, const char* name) { return std::string(profile) + name; }

    char vertexNames[64][256] = {};
    std::int32_t vertexSources[kVertexProgramCount];
    char pixelNames[kPixelProgramCount][256] = {};
    std::int32_t pixelProfiles[kPixelProgramCount] = {};
    std::int32_t pixelSources[kPixelProgramCount];
    // Sources handed over and not yet used by a load (cleared when it succeeds).
    std::vector<std::int32_t> loadedSources;
};
