// The package-database holder of the game core and the loading of stored
// files by type mask and name.
//
// buildPackageDB reads the rules file of the data root and loads the
// package files of the database folders "000", "001", ... in rules order;
// package names are resolved against the data root, wherever the process
// was started. The free functions work on the holder of the game core.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "resources/FilePackageDBData.h"

class MemoryStream;
struct ResourceRules;

class PackageDatabase {
public:
    PackageDatabase();
    ~PackageDatabase();
    PackageDatabase(const PackageDatabase&) = delete;
    PackageDatabase& operator=(const PackageDatabase&) = delete;

    // Closes the database, parses the rules file (the path slot of the rules
    // file) and loads every package file. False (logged) on failure; the
    // packages merged before a failure stay.
    bool build();
    bool built() const { return built_; }

    // Loads a stored file into destination; false (logged) when it is not
    // found or cannot be read.
    bool loadResource(std::string_view mask, std::string_view name, std::string_view source,
                      MemoryStream& destination);
    bool loadResourceById(std::uint32_t id, MemoryStream& destination);

    FilePackageDBData& data() { return *data_; }
    // Stored files are read through memory-mapped views (the default) or,
    // with maps off, through their package file's stream.
    void setUseMaps(bool on) { useMaps_ = on; }

private:
    bool loadPackages(const ResourceRules& rules);

    bool built_ = false;
    bool useMaps_ = true;
    std::unique_ptr<FilePackageDBData> data_;
};

// The operations below use the game core's holder; without one they fail.
bool buildPackageDB();
bool loadResource(std::string_view mask, std::string_view name, std::string_view source,
                  MemoryStream& destination);
bool loadResourceById(std::uint32_t id, MemoryStream& destination);
// The entry's name, null for an invalid id.
const char* fileName(std::uint32_t id);
// "package\" and the entry's name (the name of an id in messages); empty
// for an invalid id.
std::string resourcePath(std::uint32_t id);
std::int32_t countNameVariants(std::string_view mask, std::string_view prefix, std::string_view source);
// The database of the game core, null when there is none.
FilePackageDBData* packageData();
