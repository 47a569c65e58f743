#include "package/PackageWriter.h"

#include <cinttypes>
#include <cstdio>
#include <fstream>
#include <memory>
#include <sstream>

#include "foundation/DataStream.h"
#include "foundation/FilePath.h"
#include "foundation/PackedStream.h"
#include "resources/PackageFile.h"

namespace package_tool {
namespace {

void putU16(std::string& out, std::uint16_t v) {
    out += static_cast<char>(v & 0xFF);
    out += static_cast<char>(v >> 8);
}
void putU32(std::string& out, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) out += static_cast<char>((v >> (8 * i)) & 0xFF);
}
void putU64(std::string& out, std::uint64_t v) {
    for (int i = 0; i < 8; ++i) out += static_cast<char>((v >> (8 * i)) & 0xFF);
}
bool putString(std::string& out, std::string_view text, std::size_t field, std::string* error) {
    if (text.size() >= field) {
        if (error) *error = "text [" + std::string(text) + "] is longer than " + std::to_string(field - 1) + " bytes";
        return false;
    }
    putU16(out, static_cast<std::uint16_t>(text.size()));
    out += text;
    return true;
}

// One packed stream record of bytes.
std::string record(std::string_view bytes, int level, bool pack) {
    MemoryStream block;
    if (!bytes.empty()) block.write(bytes.data(), static_cast<std::int32_t>(bytes.size()));
    MemoryStream out;
    // A raw record that looks like a header would be misread: store it instead.
    const bool ambiguous = !pack && bytes.size() > 9 && static_cast<std::uint8_t>(bytes[0]) <= 1 &&
                           (static_cast<std::uint32_t>(static_cast<std::uint8_t>(bytes[1])) |
                            static_cast<std::uint32_t>(static_cast<std::uint8_t>(bytes[2])) << 8 |
                            static_cast<std::uint32_t>(static_cast<std::uint8_t>(bytes[3])) << 16 |
                            static_cast<std::uint32_t>(static_cast<std::uint8_t>(bytes[4])) << 24) ==
                               bytes.size() - 9;
    if (ambiguous) {
        std::string stored(1, '\0');
        putU32(stored, static_cast<std::uint32_t>(bytes.size()));
        putU32(stored, static_cast<std::uint32_t>(bytes.size()));
        stored += bytes;
        return stored;
    }
    writePackedStream(block, level, pack, out);
    return std::string(reinterpret_cast<const char*>(out.data()), static_cast<std::size_t>(out.size()));
}

std::uint64_t parseNumber(std::string_view text, bool& ok) {
    std::uint64_t v = 0;
    ok = !text.empty();
    for (char c : text) {
        if (c < '0' || c > '9') ok = false;
        else v = v * 10 + static_cast<std::uint64_t>(c - '0');
    }
    return v;
}

std::string restOfLine(std::istringstream& in) {
    std::string rest;
    std::getline(in, rest);
    const std::size_t start = rest.find_first_not_of(" \t");
    if (start == std::string::npos) return {};
    const std::size_t end = rest.find_last_not_of(" \t\r");
    return rest.substr(start, end - start + 1);
}

bool readBinary(const std::string& path, std::string& bytes) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    std::ostringstream s;
    s << in.rdbuf();
    bytes = s.str();
    return true;
}

}  // namespace

std::string Section::effectiveKey() const {
    if (!key.empty()) return key;
    return source.empty() ? mask : mask + "@" + source;
}

bool buildPackage(const Manifest& manifest, std::string& bytes, std::string* error) {
    bytes.clear();
    std::string directory;
    for (const Section& section : manifest.sections) {
        putU32(directory, static_cast<std::uint32_t>(section.files.size()));
        for (const StoredFile& file : section.files) {
            const std::uint64_t offset = bytes.size();
            std::uint64_t size = 0;
            if (!file.empty) {
                const std::string stored = record(file.bytes, manifest.level, file.packed);
                bytes += stored;
                size = stored.size();
            }
            if (bytes.size() > UINT32_MAX) {
                if (error) *error = "package passes 4 GB at [" + file.name + "]";
                return false;
            }
            directory += static_cast<char>(manifest.packageNumber);
            directory += static_cast<char>(manifest.folderNumber);
            putU16(directory, file.reserved);
            if (!putString(directory, file.name, kEntryNameSize, error)) return false;
            putU32(directory, static_cast<std::uint32_t>(offset));
            putU32(directory, static_cast<std::uint32_t>(size));
            putU32(directory, file.value);
            putU64(directory, file.stamp);
        }
        if (!putString(directory, section.effectiveKey(), kSectionTextSize, error) ||
            !putString(directory, section.mask, kSectionTextSize, error) ||
            !putString(directory, section.source, kSectionTextSize, error) ||
            !putString(directory, section.title, kSectionTextSize, error))
            return false;
    }
    std::string information;
    putU32(information, static_cast<std::uint32_t>(manifest.sections.size()));
    putU32(information, static_cast<std::uint32_t>(manifest.versions.size()));
    for (const std::string& version : manifest.versions)
        if (!putString(information, version, kVersionTextSize, error)) return false;

    const std::uint64_t locator = bytes.size();
    bytes += record(directory, 9, true);
    bytes += record(information, 9, true);
    if (bytes.size() + 4 > UINT32_MAX) {
        if (error) *error = "package passes 4 GB";
        return false;
    }
    putU32(bytes, static_cast<std::uint32_t>(locator));
    return true;
}

bool writePackage(const Manifest& manifest, const std::string& path, std::string* error) {
    std::string bytes;
    if (!buildPackage(manifest, bytes, error)) return false;
    ensurePathFolders(path);
    std::unique_ptr<WinFileStream> file(WinFileStream::open(path, platform::GENERIC_WRITE, 0, platform::CREATE_ALWAYS));
    if (!file || file->write(bytes.data(), static_cast<std::int32_t>(bytes.size())) != static_cast<std::int32_t>(bytes.size())) {
        if (error) *error = "can't write [" + path + "]";
        return false;
    }
    return true;
}

bool parseManifest(std::string_view text, const std::string& baseFolder, Manifest& manifest, std::string& error) {
    std::istringstream lines{std::string(text)};
    std::string line;
    int number = 0;
    auto fail = [&](const std::string& why) {
        error = "line " + std::to_string(number) + ": " + why;
        return false;
    };
    while (std::getline(lines, line)) {
        ++number;
        std::istringstream in(line);
        std::string word;
        if (!(in >> word) || word[0] == '#') continue;
        bool ok = true;
        if (word == "package" || word == "folder" || word == "level") {
            std::string value;
            in >> value;
            const std::uint64_t v = parseNumber(value, ok);
            if (!ok || v > (word == "level" ? 9u : 255u)) return fail("bad " + word + " number [" + value + "]");
            if (word == "package") manifest.packageNumber = static_cast<std::uint8_t>(v);
            else if (word == "folder") manifest.folderNumber = static_cast<std::uint8_t>(v);
            else manifest.level = static_cast<int>(v);
        } else if (word == "version") {
            manifest.versions.push_back(restOfLine(in));
        } else if (word == "section") {
            Section section;
            std::string source;
            if (!(in >> section.mask >> source)) return fail("section needs a mask and a source");
            section.source = source == "-" ? std::string() : source;
            section.title = restOfLine(in);
            manifest.sections.push_back(std::move(section));
        } else if (word == "key") {
            if (manifest.sections.empty()) return fail("key before any section");
            in >> manifest.sections.back().key;
        } else if (word == "file" || word == "empty") {
            if (manifest.sections.empty()) return fail(word + " before any section");
            StoredFile file;
            file.empty = word == "empty";
            if (!(in >> file.name)) return fail(word + " needs a name");
            if (!file.empty) {
                std::string path;
                if (!(in >> path)) return fail("file needs a path");
                const std::string full = !path.empty() && path[0] == '/' ? path : baseFolder + "/" + path;
                if (!readBinary(full, file.bytes)) return fail("can't read [" + full + "]");
            }
            std::string option;
            while (in >> option) {
                if (option == "raw") {
                    file.packed = false;
                } else if (option.rfind("stamp=", 0) == 0) {
                    file.stamp = parseNumber(option.substr(6), ok);
                } else if (option.rfind("value=", 0) == 0) {
                    const std::uint64_t v = parseNumber(option.substr(6), ok);
                    ok = ok && v <= UINT32_MAX;
                    file.value = static_cast<std::uint32_t>(v);
                } else {
                    ok = false;
                }
                if (!ok) return fail("bad option [" + option + "]");
            }
            manifest.sections.back().files.push_back(std::move(file));
        } else {
            return fail("unknown word [" + word + "]");
        }
    }
    return true;
}

bool listPackage(const std::string& path, std::string& listing, std::string& error) {
    listing.clear();
    std::unique_ptr<WinFileStream> file(WinFileStream::open(path, platform::GENERIC_READ, 0, platform::OPEN_EXISTING));
    if (!file) {
        error = "can't open [" + path + "]";
        return false;
    }
    PackageFileContents contents;
    const bool ok = readPackageFile(*file, path, contents);
    char line[512];
    std::snprintf(line, sizeof(line), "package [%s]: directory at %u, %u sections\n", path.c_str(),
                  contents.directoryOffset, contents.sectionCount);
    listing += line;
    for (const std::string& version : contents.versions.strings) listing += "version " + version + "\n";
    for (const PackageSection& section : contents.sections) {
        std::snprintf(line, sizeof(line), "section [%s] mask [%s] source [%s] title [%s]: %zu files\n",
                      section.key.c_str(), section.mask.c_str(), section.source.c_str(), section.title.c_str(),
                      section.entries.size());
        listing += line;
        for (const PackageFileEntry& e : section.entries) {
            std::snprintf(line, sizeof(line), "  %-40s %3u:%-3u offset %10u size %10u stamp %" PRId64 "\n", e.name,
                          e.package, e.folder, e.offset, e.size, e.stamp);
            listing += line;
        }
    }
    if (!ok) error = "package [" + path + "] is damaged (see the log)";
    return ok;
}

}  // namespace package_tool
