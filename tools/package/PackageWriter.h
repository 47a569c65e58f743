// Writes package files, the data containers the engine reads its resources
// from, and reads the manifests that describe them.
//
// A package holds typed sections (mask, source, title) of stored files, each
// stored packed, raw or as an empty entry, then a packed directory, a packed
// information block with version strings, and the 4-byte locator of the
// directory. Every entry records the package number (its position in the
// rules file) and the database folder number of the file that holds it.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace package_tool {

struct StoredFile {
    std::string name;   // without its extension, at most 63 bytes
    std::string bytes;  // the file's contents
    bool packed = true;
    bool empty = false;  // an entry of size 0 (bytes ignored)
    std::uint64_t stamp = 0;
    std::uint32_t value = 0;
    std::uint16_t reserved = 0;
};

struct Section {
    std::string mask;    // extension with its dot, ".ms4"
    std::string source;  // may be empty
    std::string title;
    std::string key;  // empty: mask, or mask "@" source
    std::vector<StoredFile> files;

    std::string effectiveKey() const;
};

struct Manifest {
    std::uint8_t packageNumber = 0;
    std::uint8_t folderNumber = 0;
    int level = 9;
    std::vector<std::string> versions;
    std::vector<Section> sections;
};

// The bytes of the package file; false with error set when a name or a
// string does not fit its field or the data passes the 32-bit offsets.
bool buildPackage(const Manifest& manifest, std::string& bytes, std::string* error = nullptr);
// Builds and writes the package to path (folders created).
bool writePackage(const Manifest& manifest, const std::string& path, std::string* error = nullptr);

// Parses a manifest text; relative file paths are taken from baseFolder.
// Lines ("#" starts a comment line):
//   package <number>          folder <number>          level <0-9>
//   version <text to the end of the line>
//   section <mask> <source or -> [title to the end of the line]
//   key <section key>                       (overrides mask "@" source)
//   file <name> <path> [raw] [stamp=<n>] [value=<n>]
//   empty <name> [stamp=<n>] [value=<n>]
// file and empty lines belong to the section above them.
bool parseManifest(std::string_view text, const std::string& baseFolder, Manifest& manifest, std::string& error);

// One line per section and entry of a package file; false with error set
// when the package cannot be read.
bool listPackage(const std::string& path, std::string& listing, std::string& error);

}  // namespace package_tool
