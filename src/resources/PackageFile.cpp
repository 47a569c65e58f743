#include "resources/PackageFile.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "foundation/DataStream.h"
#include "foundation/Log.h"
#include "foundation/PackedStream.h"

namespace {

// The smallest stored sizes, used to bound counts read from a package.
constexpr std::uint32_t kMinEntryBytes = 1 + 1 + 2 + 2 + 4 + 4 + 4 + 8;
constexpr std::uint32_t kMinSectionBytes = 4 + 4 * 2;
constexpr std::uint32_t kMinVersionBytes = 2;

std::uint32_t le32(const std::uint8_t* p) {
    return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 | std::uint32_t(p[3]) << 24;
}

// Reads one section from the directory stream; negative on failure, with
// reason set. The entries, the bulk of a directory, are taken straight from
// the directory's bytes, with the checks the stream reads would make.
std::int32_t readSection(MemoryStream& s, std::uint64_t storedEnd, const std::optional<PackageOwner>& owner,
                         PackageSection& section, std::string& reason) {
    std::int32_t total = 0;
    std::uint32_t count = 0;
    if (!addField(total, readU32(s, count))) {
        reason = "directory ends inside a section";
        return total;
    }
    if (count > static_cast<std::uint32_t>(bytesLeft(s)) / kMinEntryBytes) {
        reason = "entry count " + std::to_string(count) + " exceeds the directory";
        return -1;
    }
    section.entries.resize(count);
    const std::uint8_t* const begin = s.data() + std::clamp(s.tell(), 0, s.size());
    const std::uint8_t* const end = s.data() + s.size();
    const std::uint8_t* at = begin;
    // Package, folder, reserved and the name's length; after the name the
    // offset, size, value and stamp.
    constexpr std::ptrdiff_t kHead = 1 + 1 + 2 + 2;
    constexpr std::ptrdiff_t kTail = 4 + 4 + 4 + 8;
    for (PackageFileEntry& e : section.entries) {
        std::size_t length = 0;
        if (end - at >= kHead) length = std::size_t(at[4]) | std::size_t(at[5]) << 8;
        if (end - at < kHead || length >= kEntryNameSize || static_cast<std::ptrdiff_t>(length) + kTail > end - at - kHead) {
            reason = "file entry is damaged";
            return -1;
        }
        e.package = at[0];
        e.folder = at[1];
        e.reserved = static_cast<std::uint16_t>(at[2] | at[3] << 8);
        at += kHead;
        // The name ends at its first zero, as its fixed field would.
        std::memcpy(e.name, at, strnlen(reinterpret_cast<const char*>(at), length));
        at += length;
        e.offset = le32(at);
        e.size = le32(at + 4);
        e.value = le32(at + 8);
        e.stamp = static_cast<std::int64_t>(std::uint64_t(le32(at + 12)) | std::uint64_t(le32(at + 16)) << 32);
        at += kTail;
        const bool here = !owner || (e.package == owner->package && e.folder == owner->folder);
        if (here && e.size > 0 && static_cast<std::uint64_t>(e.offset) + e.size > storedEnd) {
            reason = "file [" + std::string(e.name) + "] at offset " + std::to_string(e.offset) + " with size " +
                     std::to_string(e.size) + " lies outside the stored data";
            return -1;
        }
    }
    s.setPosition(s.tell() + static_cast<std::int32_t>(at - begin));
    total += static_cast<std::int32_t>(at - begin);
    if (!addField(total, readPackageString(s, kSectionTextSize, section.key)) ||
        !addField(total, readPackageString(s, kSectionTextSize, section.mask)) ||
        !addField(total, readPackageString(s, kSectionTextSize, section.source)) ||
        !addField(total, readPackageString(s, kSectionTextSize, section.title))) {
        reason = "section names are damaged";
        return total;
    }
    return total;
}

}  // namespace

std::int32_t readPackageString(DataStream& stream, std::size_t fieldSize, std::string& text) {
    text.clear();
    std::uint16_t length = 0;
    const std::int32_t head = readU16(stream, length);
    if (head < 0) return head;
    if (length >= fieldSize || length > bytesLeft(stream)) return -1;
    text.resize(length);
    const std::int32_t body = readExact(stream, text.data(), length);
    if (body < 0) {
        text.clear();
        return body;
    }
    // The text ends at its first zero, as its fixed field would.
    text.resize(std::strlen(text.c_str()));
    return head + body;
}

std::int32_t DBPackageVersion::read(DataStream& stream) {
    strings.clear();
    std::int32_t total = 0;
    std::uint32_t count = 0;
    if (!addField(total, readU32(stream, count))) return total;
    if (count > static_cast<std::uint32_t>(bytesLeft(stream)) / kMinVersionBytes) return -1;
    strings.resize(count);
    for (std::string& text : strings)
        if (!addField(total, readPackageString(stream, kVersionTextSize, text))) return total;
    return total;
}

bool readPackageFile(DataStream& file, std::string_view path, PackageFileContents& contents,
                     std::optional<PackageOwner> owner) {
    const std::string name = logPath(path);
    contents = PackageFileContents{};
    const std::int32_t fileSize = file.size();
    std::uint32_t locator = 0;
    if (fileSize < 4) {
        engineLog().error("Can't read package [%s]: file of %i bytes has no locator", name.c_str(), fileSize);
        return false;
    }
    file.setPosition(fileSize - 4);
    if (readU32(file, locator) < 0 || static_cast<std::uint64_t>(locator) + 9 > static_cast<std::uint64_t>(fileSize) - 4) {
        engineLog().error("Can't read package [%s]: locator %u lies outside the file of %i bytes", name.c_str(),
                          locator, fileSize);
        engineLog().error("Fail read package header [%s]", name.c_str());
        return false;
    }
    contents.directoryOffset = locator;
    file.setPosition(static_cast<std::int32_t>(locator));

    MemoryStream directory;
    if (readPackedStream(0, directory, false, file) < 1) {
        engineLog().error("Fail read package header [%s]", name.c_str());
        return false;
    }
    MemoryStream information;
    if (readPackedStream(0, information, false, file) < 1) {
        engineLog().error("Fail read package data [%s]", name.c_str());
        return false;
    }
    std::uint32_t sectionCount = 0;
    if (readU32(information, sectionCount) < 0 || contents.versions.read(information) < 0) {
        engineLog().error("Can't read package [%s]: information record is damaged", name.c_str());
        return false;
    }
    if (sectionCount > static_cast<std::uint32_t>(directory.size()) / kMinSectionBytes) {
        engineLog().error("Can't read package [%s]: section count %u exceeds the directory", name.c_str(),
                          sectionCount);
        return false;
    }
    contents.sectionCount = sectionCount;

    for (std::uint32_t i = 0; i < sectionCount; ++i) {
        PackageSection section;
        std::string reason;
        if (readSection(directory, locator, owner, section, reason) < 0) {
            engineLog().error("Can't read package [%s]: section %u: %s", name.c_str(), i, reason.c_str());
            return false;
        }
        contents.sections.push_back(std::move(section));
    }
    return true;
}
