// The light sets: named records of lighting colours for exterior and
// interior materials and of shadow parameters, which scenes, areas, models
// and lights select by name.
//
// The library loads a compiled set (".ls") from the packages on its first
// request and keeps the sets sorted by name. Its start makes the built-in
// sets that the packages do not hold.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "resources/DataManager.h"

// One light set, laid out as its compiled resource (304 bytes).
struct LightSet {
    // The six colours of an entry (red, green, blue each).
    struct Entry {
        float global[3] = {0.0f, 0.0f, 0.0f};
        float main[3] = {1.0f, 0.0f, 0.0f};
        float ambient[3] = {0.0f, 0.0f, 0.0f};
        float diffuse[3] = {1.0f, 0.0f, 0.0f};
        float specular[3] = {1.0f, 0.0f, 0.0f};
        float env[3] = {1.0f, 1.0f, 1.0f};
    };

    char name[128] = {};
    std::uint32_t state = 0;
    Entry exterior;
    Entry interior;
    float shadowPower = 1.0f;
    float shadowDensity = 16.0f;
    float shadowLength = 2.0f;
    float shadowSoft = 0.0f;
    float shadowColor[3] = {0.0f, 0.0f, 0.0f};
};
static_assert(sizeof(LightSet) == 304, "a light set is stored as its 304 bytes");

class DataStream;

// Reads a light set's stored resource (".ls", a packed record of the 304
// bytes); false when it is damaged or too short.
bool readStoredLightSet(DataStream& stored, LightSet& set);

// Bit of LightSet::state: loaded from a compiled resource.
constexpr std::uint32_t kLightSetLoaded = 0x2;

// Fills set from a light-set text source. Values are found by search: the
// first occurrence of a section name, then of a key after it; a missing
// one keeps the field's value. Colours are three numbers divided by 255;
// the shadow "power", "density", "length" and "soft" are taken as written.
// Numbers are never negative (no minus is read) and "," reads as ".".
void parseLightSetText(const std::string& text, LightSet& set);

// Whether the current display mode draws with shaders; without them light
// sets are looked up under their name with "-ffp" appended.
bool lightSetShaderSupport();

class LightSetLibrary : public DataManager {
public:
    LightSetLibrary() = default;
    ~LightSetLibrary() override;

    const char* sourceExtension() const override { return ".txt"; }
    const char* compiledExtension() const override { return ".ls"; }
    std::int32_t typeNumber() const override { return 41; }
    const char* title() const override { return "Lightset DB"; }
    // Sets load on request only: refused (logged), -1.
    std::int32_t readResource(DataStream& stream, const char* name, std::int32_t flag) override;
    // Compiles the source beside itself (".ls"): see compile.
    bool compileFromSource(const char* sourcePath) override;
    // Reads a text source into a set of the default values and stores the
    // 304 bytes at the destination. The game cannot store compiled data:
    // the store is refused before the destination is touched ("Failed
    // while write to file [%s]"), so an older file is kept. False.
    bool compile(const char* sourcePath, const char* destinationPath);
    // Drops every set, then makes "selection_default", "default" and
    // "lsdefaultsprite" where the packages hold no such set. True.
    bool initialize() override;
    // Deletes every set.
    void release() override;

    // The set of that name (null: "default"), loaded from the packages on
    // its first request; null when it can be had neither way. An empty
    // name is refused (logged).
    LightSet* request(const char* name, bool quiet = false);
    // Reads the compiled set of that name into set; false (logged unless
    // quiet) when the packages do not hold it or it is too short.
    bool load(LightSet& set, const char* name, bool refresh, bool quiet);

    std::size_t count() const { return sets_.size(); }
    const LightSet* at(std::size_t index) const { return sets_[index].get(); }
    // The set of that name already in the library, or null.
    LightSet* find(const char* name) const;

private:
    // Position of the name, or where it would be inserted.
    std::size_t lowerBound(const char* name) const;
    void insert(std::unique_ptr<LightSet> set);

    std::vector<std::unique_ptr<LightSet>> sets_;
};
