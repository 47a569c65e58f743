// The package database: every stored file of every package file, by type.
//
// Files are grouped in type records (mask and source, sorted by key) and,
// inside a type, sorted by name; names compare bytewise and case-sensitively.
// A resource id is db * 250,000,000 + type index * 500,000 + position in the
// type (from 1); 0 is none. A type holds at most 499,999 files and the
// database at most 500 types, so that ids never alias; ids are stable once
// the build is complete. A file of a later package or folder overrides the
// earlier one of the same type and name and keeps its id.
//
// Stored files are read through a memory-mapped view of their bytes
// (openMap, any number at a time) or through their package file's stream
// (openFile, one entry of a package file at a time). A package file is
// mapped once, as one view kept until the database closes, and each openMap
// hands out the bytes of its entry inside that view.
//
// An entry may name another package file (package and folder number) as the
// holder of its data; it is bound-checked against that file's size when the
// named file is known, else when it is opened.
//
// Building merges each section of a package as one batch: its entries are
// sorted once and merged into their type, so a build takes O(n log n)
// whatever the order of the names in the packages.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "foundation/FileMap.h"
#include "resources/PackageFile.h"

class DataStream;
class WinFileStream;

// The abstract interface of a package database.
class FilePackageData {
public:
    virtual ~FilePackageData() = default;

    // The stream of the package file, positioned at the entry's stored
    // record; null on failure. size gets the entry's stored size.
    virtual DataStream* openFile(std::uint32_t id, std::uint32_t* size, bool write) = 0;
    virtual bool closeFile(std::uint32_t id) = 0;
    // A view of the entry's stored record; null on failure (always for an
    // entry of size 0). size gets the entry's stored size first.
    virtual DataFileMap* openMap(std::uint32_t id, std::uint32_t* size) = 0;
    virtual bool closeMap(std::uint32_t id) = 0;
    // -1, 0 or 1 as id1's stamp is below, equal to or above id2's.
    virtual int compareStamps(std::uint32_t id1, std::uint32_t id2) = 0;
    // Resource id of a file, 0 when absent. An empty source searches every
    // type of the mask in array order.
    virtual std::uint32_t find(std::string_view mask, std::string_view name, std::string_view source) = 0;
    virtual std::int32_t countFiles(std::string_view mask, std::string_view source) = 0;
    // Id of file n (from 0) of the mask (and source), 0 past the last one.
    virtual std::uint32_t fileIdAt(std::string_view mask, std::int32_t n, std::string_view source) = 0;
    virtual void close() = 0;
};

// One package file of the database (package number, folder number).
struct PackageRecord {
    PackageRecord() = default;
    ~PackageRecord();
    PackageRecord(const PackageRecord&) = delete;
    PackageRecord& operator=(const PackageRecord&) = delete;

    std::uint32_t directoryOffset = 0;
    std::string path = "dummy";
    std::uint32_t state = 0;  // kEntryOpenStream while its stream serves an entry
    FileMap map;
    FileMap view;  // the whole file, mapped at the first openMap and kept
    std::unique_ptr<WinFileStream> stream;
    std::uint32_t sectionCount = 0;
    DBPackageVersion versions;
    std::int64_t fileSize = 0;  // measured when the package was read; 0 before
};

struct PackageTypeRecord {
    std::string key;  // mask, or mask "@" source
    std::string mask;
    std::string source;
    std::string title;
    std::vector<PackageFileEntry> entries;  // sorted by name
};

class FilePackageDBData : public FilePackageData {
public:
    static constexpr std::uint32_t kDatabaseSpan = 250000000;
    static constexpr std::uint32_t kTypeSpan = 500000;
    static constexpr std::uint32_t kMaxTypes = kDatabaseSpan / kTypeSpan;
    static constexpr std::uint32_t kMaxEntries = kTypeSpan - 1;

    FilePackageDBData() = default;
    ~FilePackageDBData() override;
    FilePackageDBData(const FilePackageDBData&) = delete;
    FilePackageDBData& operator=(const FilePackageDBData&) = delete;

    DataStream* openFile(std::uint32_t id, std::uint32_t* size, bool write) override;
    bool closeFile(std::uint32_t id) override;
    DataFileMap* openMap(std::uint32_t id, std::uint32_t* size) override;
    bool closeMap(std::uint32_t id) override;
    int compareStamps(std::uint32_t id1, std::uint32_t id2) override;
    std::uint32_t find(std::string_view mask, std::string_view name, std::string_view source) override;
    std::int32_t countFiles(std::string_view mask, std::string_view source) override;
    std::uint32_t fileIdAt(std::string_view mask, std::int32_t n, std::string_view source) override;
    void close() override;

    // Number of numbered variants of prefix (the prefix and two digits); the
    // first type of the mask with a non-zero count gives it.
    std::int32_t countNameVariants(std::string_view mask, std::string_view prefix, std::string_view source);
    // The entry of an id, null when the id names none.
    const PackageFileEntry* entry(std::uint32_t id) const;
    // The entry's name, null for an invalid id.
    const char* fileName(std::uint32_t id) const;
    // "package\" and the entry's name; empty for an invalid id.
    std::string resourcePath(std::uint32_t id) const;

    // Reads the package file at path (package number, database folder) and
    // merges its sections. False when the file cannot be opened; a damaged
    // package is logged and adds what was read before the damage.
    bool loadPackage(const std::string& path, std::uint32_t package, std::uint32_t folder);

    std::int32_t folderCount() const { return folderCount_; }
    void setFolderCount(std::int32_t count) { folderCount_ = count; }
    std::int32_t databaseNumber() const { return database_; }
    const std::vector<PackageTypeRecord>& types() const { return types_; }
    // The package record of (package, folder), null when none exists.
    PackageRecord* package(std::uint32_t package, std::uint32_t folder) const;

private:
    PackageFileEntry* decode(std::uint32_t id) const;
    void mergeSection(PackageSection& section, std::uint32_t package, std::uint32_t folder);
    PackageRecord& addPackageSlot(std::uint32_t package, std::uint32_t folder);
    // Index of the first type of that mask and source, or of that key; -1.
    std::ptrdiff_t typeIndex(std::string_view mask, std::string_view source) const;
    std::ptrdiff_t typeIndexByKey(std::string_view key) const;
    // Creates the type of a section key at its sorted place; -1 when no type
    // id is left.
    std::ptrdiff_t createType(const PackageSection& section);
    // Replaces an entry by one of a later package, closing the old one's map.
    void overrideEntry(PackageFileEntry& old, const PackageFileEntry& entry);
    void deleteMap(PackageFileEntry& entry);

    std::int32_t folderCount_ = -1;
    std::vector<std::vector<std::unique_ptr<PackageRecord>>> packages_;
    std::int32_t database_ = 1;
    std::vector<PackageTypeRecord> types_;
    std::size_t openMaps_ = 0;  // entries open as maps
};
