// Fuzz targets of the resource readers: package files and the rules file.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "foundation/AppPaths.h"
#include "foundation/DataStream.h"
#include "foundation/PackedStream.h"
#include "fuzz/FuzzTarget.h"
#include "package/PackageWriter.h"
#include "app/GameCore.h"
#include "resources/PackageDatabase.h"
#include "resources/PackageFile.h"
#include "resources/ResourceRules.h"

namespace fuzzing {

namespace {

// The 9-byte header of a stored (not packed) record, then its bytes.
std::string storedRecord(const std::string& bytes) {
    std::string record(1, '\0');
    for (int round = 0; round < 2; ++round)
        for (int i = 0; i < 4; ++i) record.push_back(static_cast<char>(bytes.size() >> (8 * i)));
    return record + bytes;
}

// A package from a structured input: u16 length of the directory, the
// directory, then the information block; both stored unpacked behind a few
// bytes of stored data, then the locator. Lets the fuzzer reach the
// directory's fields without getting through zlib.
std::string packageFromParts(const std::uint8_t* data, std::size_t size) {
    const std::size_t length = data[0] | data[1] << 8;
    const std::string rest(reinterpret_cast<const char*>(data) + 2, size - 2);
    const std::string directory = rest.substr(0, std::min(length, rest.size()));
    const std::string information = rest.substr(directory.size());
    std::string file(64, 'd');
    const std::uint32_t locator = static_cast<std::uint32_t>(file.size());
    file += storedRecord(directory) + storedRecord(information);
    for (int i = 0; i < 4; ++i) file.push_back(static_cast<char>(locator >> (8 * i)));
    return file;
}

package_tool::Manifest demoManifest(int level) {
    package_tool::Manifest manifest;
    manifest.packageNumber = 0;  // the first rule of the data root below
    manifest.folderNumber = 0;
    manifest.level = level;
    manifest.versions = {"engine 1", "fuzz seed"};
    package_tool::Section scripts{".lua", "", "Scripts", "", {}};
    scripts.files.push_back({"start", "print('start')\n", true, false, 7, 1, 0});
    scripts.files.push_back({"raw", "-- stored as it is\n", false, false, 8, 2, 3});
    scripts.files.push_back({"nothing", "", true, true, 0, 0, 0});
    package_tool::Section variables{".ptxt4", "var", "Variables", "", {}};
    variables.files.push_back({"globals", std::string(40, '\x01'), true, false, 0, 0, 0});
    manifest.sections = {scripts, variables};
    return manifest;
}

// A data root in a temporary folder (under TMPDIR), made once per process
// and removed at its end: the rules file lists the fuzzed package ("fuzz.pak") and a good
// one behind it ("#\\good.pak", in folder "000") that overrides its names.
class DataRoot {
public:
    DataRoot() {
        root_ = makeTempFolder("engine-fuzz");
        if (root_.empty()) return;
        std::filesystem::create_directories(root_ + "/000");
        writeFile(root_ + "/data.txt", "[fuzz.pak]\n.* >> data\n[#\\good.pak]\n.* >> data\n");
        package_tool::Manifest good = demoManifest(9);
        good.packageNumber = 1;
        good.folderNumber = 0;
        std::string bytes;
        package_tool::buildPackage(good, bytes);
        writeFile(root_ + "/000/good.pak", bytes);
        paths_.setPath(PathLanguage, "en");
        paths_.setPath(PathDataRootInput, root_);
    }
    ~DataRoot() {
        std::error_code error;
        if (!root_.empty()) std::filesystem::remove_all(root_, error);
    }
    DataRoot(const DataRoot&) = delete;
    DataRoot& operator=(const DataRoot&) = delete;

    bool ready() const { return !root_.empty(); }
    // Writes the fuzzed package and builds a database over the root, then
    // loads every name of the good package and a few ids.
    void buildWith(const std::string& package) {
        writeFile(root_ + "/fuzz.pak", package);
        AppPaths* savedPaths = gameCore.paths;
        PackageDatabase* savedPackages = gameCore.packages;
        PackageDatabase database;
        gameCore.paths = &paths_;
        gameCore.packages = &database;
        if (database.build()) {
            MemoryStream stream;
            for (const char* name : {"start", "raw", "nothing", "globals", "missing"})
                for (const char* mask : {".lua", ".ptxt4"}) database.loadResource(mask, name, "", stream);
            database.loadResource(".ptxt4", "globals", "var", stream);
            for (std::uint32_t id = 0; id < 8; ++id) database.loadResourceById(id, stream);
            countNameVariants(".lua", "s", "");
        }
        gameCore.packages = savedPackages;
        gameCore.paths = savedPaths;
    }

private:
    std::string root_;
    AppPaths paths_;
};

}  // namespace

// Mode bit 1 of the first byte: the package also goes through a whole
// package database build and resource loads.
//
// Mode bit 0 of the first byte: the rest is a whole package file, or the
// parts of one (see packageFromParts). A package read whole must name only
// stored data in front of its directory, and those records must read.
int fuzzPackage(const std::uint8_t* data, std::size_t size) {
    if (size < 3 || size > (4u << 20)) return 0;
    std::string file = (data[0] & 1) ? std::string(reinterpret_cast<const char*>(data) + 1, size - 1)
                                     : packageFromParts(data + 1, size - 1);
    MemoryStream stream(file.data(), static_cast<std::int32_t>(file.size()));
    PackageFileContents contents;
    if (readPackageFile(stream, "fuzz.pak", contents)) {
        fuzzCheck(contents.sections.size() == contents.sectionCount, "package: sections missing from a good read");
        int read = 0;
        for (const PackageSection& section : contents.sections) {
            fuzzCheck(section.key.size() < kSectionTextSize && section.mask.size() < kSectionTextSize &&
                          section.source.size() < kSectionTextSize && section.title.size() < kSectionTextSize,
                      "package: a section text longer than its field");
            for (const PackageFileEntry& entry : section.entries) {
                fuzzCheck(entry.name[kEntryNameSize - 1] == '\0', "package: an entry name fills its field");
                if (entry.size == 0) continue;
                fuzzCheck(static_cast<std::uint64_t>(entry.offset) + entry.size <= contents.directoryOffset,
                          "package: an entry lies outside the stored data");
                if (++read > 16) continue;
                stream.setPosition(static_cast<std::int32_t>(entry.offset));
                MemoryStream stored;
                readPackedStream(static_cast<std::int32_t>(entry.size), stored, false, stream);
            }
        }
    }
    if (data[0] & 2) {
        static DataRoot root;
        if (root.ready()) root.buildWith(file);
    }
    forgetLog();
    return 0;
}

void seedPackage(std::vector<std::string>& out) {
    for (const int level : {9, 0}) {
        std::string bytes;
        if (!package_tool::buildPackage(demoManifest(level), bytes)) continue;
        out.push_back("\x01" + bytes);
        out.push_back("\x03" + bytes);
        // The same package as parts: its directory and information unpacked.
        MemoryStream stream(bytes.data(), static_cast<std::int32_t>(bytes.size()));
        std::uint32_t locator = 0;
        stream.setPosition(static_cast<std::int32_t>(bytes.size()) - 4);
        readU32(stream, locator);
        stream.setPosition(static_cast<std::int32_t>(locator));
        MemoryStream directory, information;
        if (readPackedStream(0, directory, false, stream) < 1 || readPackedStream(0, information, false, stream) < 1)
            continue;
        const std::string dir(reinterpret_cast<const char*>(directory.data()), static_cast<std::size_t>(directory.size()));
        const std::string info(reinterpret_cast<const char*>(information.data()),
                               static_cast<std::size_t>(information.size()));
        std::string parts(1, '\0');
        parts.push_back(static_cast<char>(dir.size() & 0xFF));
        parts.push_back(static_cast<char>(dir.size() >> 8));
        out.push_back(parts + dir + info);
    }
}

// ---- rules file -----------------------------------------------------------

// Parses the text as a rules file and walks every package it defines, as
// the database build does, with path parameters in place.
int fuzzRules(const std::uint8_t* data, std::size_t size) {
    if (size > (1u << 20)) return 0;
    static AppPaths paths;
    AppPaths* saved = gameCore.paths;
    gameCore.paths = &paths;
    ResourceRules rules;
    parseResourceRulesText(std::string(reinterpret_cast<const char*>(data), size), rules);
    for (const PackageRule& rule : rules.packages) {
        fuzzCheck(rule.name.size() <= 127, "rules: a package name over 127 characters");
        for (const ResourceRuleItem& item : rule.items)
            fuzzCheck(item.namePrefix.size() <= 127 && item.sourceMask.size() <= 127 &&
                          item.targetMask.size() <= 127 && item.destination.size() <= 1023,
                      "rules: an item text beyond its limit");
    }
    for (int index = 0; index <= static_cast<int>(rules.packages.size()); ++index) {
        std::string file;
        const int result = enumeratePackage(rules, index, &file);
        if (index == static_cast<int>(rules.packages.size()))
            fuzzCheck(result == kRulesEnd, "rules: no end behind the last package");
    }
    gameCore.paths = saved;
    forgetLog();
    return 0;
}

void seedRules(std::vector<std::string>& out) {
    out.push_back(
        "# resources of the game\r\n"
        "[#\\scripts.pak]\r\n"
        "script.*.lua >> scripts\r\n"
        "-debug.*.lua >> debug\r\n"
        "[#\\text_$.pak]\r\n"
        "~loc.*.txt >> [locale]\r\n"
        "[empty.pak]\r\n");
    out.push_back("[a]\nx.*.* >> y\n[b]\n\n[c]\n  z.*.ms4 >> models\\all\n");
}

}  // namespace fuzzing
