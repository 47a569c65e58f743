// The sky descriptions: for each weather and time of day one record of sky
// colours, fog, depth and bloom values and the cloud speed. Descriptions are
// written as text (".txt") and kept compiled (".sky": the 16 records of 27
// floats one after another, 1,728 bytes, no header).
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "resources/StoredDataManager.h"

// A description: 16 records (4 x time of day + weather) of 27 floats.
constexpr std::int32_t kSkyRecordCount = 16;
constexpr std::int32_t kSkyRecordFields = 27;
constexpr std::int32_t kSkyRecordBytes = kSkyRecordFields * 4;
constexpr std::int32_t kSkyTableBytes = kSkyRecordCount * kSkyRecordBytes;

// Fields of a sky record.
enum SkyRecordField : std::int32_t {
    SkyFieldRange = 0,       // three range values (no text key)
    SkyFieldDepth4 = 3,      // "depth" argument 5
    SkyFieldDepth = 4,       // "depth" arguments 1-4
    SkyFieldBloom = 8,       // "bloom" arguments 1-3
    SkyFieldHorizon = 11,    // "horizontcolor": red, green, blue
    SkyFieldFogStart = 14,   // "fogtime" argument 1
    SkyFieldFogEnd = 15,     // "fogtime" argument 2
    SkyFieldSkyFog = 16,     // "skyfog"
    SkyFieldSky = 17,        // "skycolor"
    SkyFieldStars = 20,      // "starscolor"
    SkyFieldClouds = 23,     // "cloudscolor"
    SkyFieldCloudSpeed = 26  // "cloudsspeed"
};

using SkyTable = std::array<float, kSkyRecordCount * kSkyRecordFields>;

// Every record as a freshly loaded description holds it before the
// compiled data is read over it.
void fillSkyLoadDefaults(SkyTable& table);
// Fills the table with the compile defaults and reads the description text
// over them (the text is lower-cased first). Missing keys keep their
// defaults; a multi-argument key without its comma is logged under the name
// and keeps its default. Nothing in the text fails the parse.
void parseSkyText(const char* name, const std::string& text, SkyTable& table);

// A sky description resource: its records once its header is loaded.
class Y3SkyDataInstance : public StoredResourceRecord {
public:
    explicit Y3SkyDataInstance(const char* name);

    // Reads the 16 records over the load defaults; a stream shorter than the
    // table fails (logged) and leaves the description without records.
    std::int32_t readHeader(DataStream& stream) override;
    bool hasObject() const override { return loaded_; }
    void deleteObject() override { loaded_ = false; }

    // The records, or null before the header load and after release.
    const float* records() const { return loaded_ ? table_.data() : nullptr; }

private:
    SkyTable table_{};
    bool loaded_ = false;
};

class SkyDataManager : public StoredDataManager {
public:
    SkyDataManager();

    Y3SkyDataInstance* getOrCreate(const char* name, bool reportMissing) {
        return static_cast<Y3SkyDataInstance*>(StoredDataManager::getOrCreate(name, reportMissing));
    }
    // Compiles a description text into its table; the table cannot be
    // saved by the game, so the compile fails after it is built.
    bool compileFromSource(const char* sourcePath) override;
    // Compiles from the source path into the target path: false (logged)
    // when the source cannot be read; the save then refuses.
    bool import(const char* sourcePath, const char* targetPath, const char* name);

protected:
    ResourceRecord* createRecord(const char* name) override;
};
