// The package file format: stored files, a packed directory, a packed
// information block and a locator.
//
// Layout (little-endian): the stored files, each one packed stream record at
// the offset its entry names; the directory block and, directly behind it,
// the information block, both packed stream records; the last 4 bytes, the
// absolute offset of the directory block. Strings are a u16 length and the
// bytes; each is held in a fixed field and a longer one makes the package
// corrupt. Everything read from a package is checked against the file's
// size before it is used or allocated.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

class DataStream;

// Field sizes of the format; a string holds at most the size minus one.
constexpr std::size_t kSectionTextSize = 128;
constexpr std::size_t kEntryNameSize = 64;
constexpr std::size_t kVersionTextSize = 1024;

// State bits of an entry (never stored).
constexpr std::uint32_t kEntryOpenMap = 4;
constexpr std::uint32_t kEntryOpenStream = 8;

// The bytes of one stored file, as openMap hands them out: a range of its
// package file's mapped view.
struct DataFileMap {
    const std::uint8_t* data = nullptr;
    std::uint32_t size = 0;
};

struct PackageFileEntry {
    std::uint8_t package = 0;  // position of the package in the rules list
    std::uint8_t folder = 0;   // database folder number ("000" is 0)
    std::uint16_t reserved = 0;
    char name[kEntryNameSize] = {};
    std::uint32_t offset = 0;
    std::uint32_t size = 0;  // bytes of the stored record; 0 is an empty file
    std::uint32_t value = 0;
    std::int64_t stamp = 0;
    std::uint32_t state = 0;
    DataFileMap* map = nullptr;
};

struct PackageSection {
    std::string key;  // mask, or mask "@" source
    std::string mask;
    std::string source;
    std::string title;
    std::vector<PackageFileEntry> entries;
};

// The version strings of a package's information record.
struct DBPackageVersion {
    std::vector<std::string> strings;

    // u32 count, then each string; negative on failure.
    std::int32_t read(DataStream& stream);
};

struct PackageFileContents {
    std::uint32_t directoryOffset = 0;
    std::uint32_t sectionCount = 0;
    DBPackageVersion versions;
    // The sections read whole, in file order; a damaged one ends the list.
    std::vector<PackageSection> sections;
};

// The package and folder numbers of the file being read. An entry naming
// other numbers keeps its data in another package file, so it is not
// bounded by this file's stored data (the database checks it against the
// file it names).
struct PackageOwner {
    std::uint32_t package = 0;
    std::uint32_t folder = 0;
};

// Reads the directory and information blocks of a package file opened for
// reading. Every failure is logged with the package's path; what was read
// before it stays in contents. False when the package is damaged. Without an
// owner, every entry must lie inside this file's stored data.
bool readPackageFile(DataStream& file, std::string_view path, PackageFileContents& contents,
                     std::optional<PackageOwner> owner = std::nullopt);

// Reads one u16-sized string into text, refusing one longer than
// fieldSize - 1. Negative on failure.
std::int32_t readPackageString(DataStream& stream, std::size_t fieldSize, std::string& text);
