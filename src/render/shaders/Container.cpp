#include "render/shaders/Container.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <new>

#include "app/GameCore.h"
#include "foundation/AppPaths.h"
#include "foundation/Log.h"
#include "foundation/PackedStream.h"

namespace {

// A stored entry takes at least its name length, a name of one byte and its
// data size. Names are distinct and ascending (the lookup is a binary
// search), so only one entry can have a name that short in each byte value.
constexpr std::int32_t kSmallestEntry = 2 + 1 + 4;
constexpr std::size_t kNameLimit = 127;
// A packed stream record's header: a u8 flag, the u32 packed and unpacked sizes.
constexpr std::int32_t kPackedHeader = 9;

// Unsigned byte order up to the first terminator.
int compareNames(const char* a, const char* b) {
    const auto* x = reinterpret_cast<const unsigned char*>(a);
    const auto* y = reinterpret_cast<const unsigned char*>(b);
    while (*x && *x == *y) ++x, ++y;
    return int(*x) - int(*y);
}

std::string containerPath(std::uint32_t pathNumber) {
    return gameCore.paths && pathNumber < PathSlotCount ? gameCore.paths->get(int(pathNumber)) : std::string();
}

}  // namespace

Container::Container(const char* name, std::uint32_t pathNumber) : pathNumber_(pathNumber) {
    if (name) std::strncpy(name_, name, kNameLimit);
}

void Container::release() {
    entries_.reset();
    capacity_ = 0;
    count_ = 0;
    content_.release();
    unmap();
}

void Container::unmap() {
    platform::unmapView(mappedBase_, mappedLength_);
    platform::closeMapping(mapping_);
    mappedBase_ = nullptr;
    mappedLength_ = 0;
    mapping_ = {};
}

void Container::releaseResidentPages() { platform::releaseViewPages(mappedBase_, mappedLength_); }

std::uint32_t Container::reserveSize() const {
    std::uint32_t total = 128;
    for (std::int32_t i = 0; i < count_; ++i) total += std::uint32_t(entries_[i].data.size());
    return total;
}

MemoryStream* Container::find(const char* key) {
    ContainerEntry* entry = findEntry(key);
    return entry ? &entry->data : nullptr;
}

ContainerEntry* Container::findEntry(const char* key) {
    std::int32_t low = 0, high = count_;
    while (low < high) {
        const std::int32_t middle = (low + high) / 2;
        if (!key || !*key) {
            low = middle + 1;  // an empty key is never found
            continue;
        }
        const int order = compareNames(entries_[middle].name, key);
        if (order == 0) return &entries_[middle];
        if (order > 0)
            high = middle;
        else
            low = middle + 1;
    }
    engineLog().systemError("Container %s: can't find resource [%s] in database", name_, key ? key : "");
    return nullptr;
}

std::int32_t Container::read(DataStream& stream) { return readEntries(stream, nullptr); }

std::int32_t Container::entriesPresent(const std::uint8_t* content, std::int32_t position, std::int32_t size,
                                       std::uint32_t count) {
    std::int64_t at = position;
    std::int32_t present = 0;
    auto field = [&](int bytes) {
        std::uint32_t value = 0;
        for (int i = 0; i < bytes; ++i) value |= std::uint32_t(content[at + i]) << (8 * i);
        at += bytes;
        return value;
    };
    // Only entries the read takes count: a name of 1 to 127 bytes, each after
    // the one before it in byte order.
    char previous[kNameLimit + 1] = {};
    while (std::uint32_t(present) < count) {
        if (at + 2 > size) break;
        const std::uint32_t length = field(2);
        if (length == 0 || length > kNameLimit || at + length + 4 > size) break;
        char name[kNameLimit + 1] = {};
        std::memcpy(name, content + at, length);
        if (present > 0 && compareNames(previous, name) >= 0) break;
        std::memcpy(previous, name, sizeof(name));
        at += length;
        const std::uint32_t bytes = field(4);
        if (bytes > std::uint64_t(size - at)) break;
        at += bytes;
        ++present;
    }
    return present;
}

std::int32_t Container::readEntries(DataStream& stream, std::uint8_t* view) {
    if (!view) release();
    std::int32_t total = 0;
    std::uint32_t count = 0;
    if (!addField(total, readU32(stream, count))) return total;
    if (std::int32_t(count) <= 0) return total;
    // Every entry needs at least its two length fields: a count the stream
    // cannot hold is damage, not a reason to allocate.
    if (count > std::uint32_t(bytesLeft(stream) / kSmallestEntry)) {
        engineLog().systemError("Container %s: %u entries do not fit in %i bytes", name_, count, bytesLeft(stream));
        return -1;
    }
    // The table grows as entries are read: a count is a claim, and a packed
    // file unpacks to far more bytes than it holds. Content in view is
    // walked first, so the table is made once for the entries that are
    // there (and the one where the read stops).
    if (view) {
        const std::int32_t present = entriesPresent(view, stream.tell(), stream.size(), count);
        if (!grow(std::min(std::int32_t(count), present + 1))) {
            engineLog().systemError("Container %s: no memory for %i entries", name_, present + 1);
            return -1;
        }
    }
    for (std::int32_t i = 0; i < std::int32_t(count); ++i) {
        if (i == capacity_ && !grow(std::min(std::int32_t(count), std::max(1, capacity_ * 2)))) {
            engineLog().systemError("Container %s: no memory for %i entries", name_, i + 1);
            return -1;
        }
        ContainerEntry& entry = entries_[i];
        count_ = i + 1;
        std::uint16_t length = 0;
        if (!addField(total, readU16(stream, length))) return total;
        if (length > kNameLimit) {
            engineLog().systemError("Container %s: entry %i has a name of %u bytes (at most %zu)", name_, i, length,
                                    kNameLimit);
            return -1;
        }
        // An empty name is never found: damage, like a name out of order.
        if (length == 0) {
            engineLog().systemError("Container %s: entry %i has an empty name", name_, i);
            return -1;
        }
        if (!addField(total, readExact(stream, entry.name, length))) return total;
        if (i > 0 && compareNames(entries_[i - 1].name, entry.name) >= 0) {
            engineLog().systemError("Container %s: entry [%s] is not after [%s] in name order", name_, entry.name,
                                    entries_[i - 1].name);
            return -1;
        }
        std::uint32_t size = 0;
        if (!addField(total, readU32(stream, size))) return total;
        if (size > std::uint32_t(bytesLeft(stream))) {
            engineLog().systemError("Container %s: entry [%s] claims %u bytes, %i left", name_, entry.name, size,
                                    bytesLeft(stream));
            return -1;
        }
        if (view) {
            // The bytes stay where they lie; the check above keeps them
            // within the content.
            entry.data.setFixed(view + stream.tell(), std::int32_t(size));
            stream.setPosition(stream.tell() + std::int32_t(size));
            total += std::int32_t(size);
            continue;
        }
        if (!entry.data.allocateExact(std::int32_t(size))) {
            engineLog().systemError("Container %s: no memory for the %u bytes of entry [%s]", name_, size, entry.name);
            return -1;
        }
        if (size && !addField(total, readExact(stream, entry.data.data(), std::int32_t(size)))) return total;
    }
    return total;
}

std::int32_t Container::write(DataStream& stream) {
    std::int32_t total = 0;
    if (!addField(total, writeU32(stream, std::uint32_t(count_)))) return total;
    for (std::int32_t i = 0; i < count_; ++i) {
        ContainerEntry& entry = entries_[i];
        const auto length = std::uint16_t(std::strlen(entry.name));
        if (!addField(total, writeU16(stream, length))) return total;
        if (length && !addField(total, stream.write(entry.name, length))) return total;
        if (!addField(total, writeU32(stream, std::uint32_t(entry.data.size())))) return total;
        if (!addField(total, stream.write(entry.data.data(), entry.data.size()))) return total;
    }
    return total;
}

bool Container::load() {
    const std::string path = containerPath(pathNumber_);
    const platform::MappingHandle mapping =
        path.empty() ? platform::MappingHandle{} : platform::openMapping(path, false);
    if (!mapping)
        return engineLog().systemError("Container %s: Can't open source file [%s]", name_, logPath(path).c_str());
    // The old entries stay until the new content is there.
    const std::int64_t fileSize = platform::mappingSize(mapping);
    void* base = fileSize > 0 && fileSize < INT32_MAX
                     ? platform::mapView(mapping, 0, std::uint64_t(fileSize), false)
                     : nullptr;
    MemoryStream content;
    if (base) {
        // The record as readPackedStream reads a whole source: a header whose
        // packed size covers the rest of the file, else raw bytes.
        auto* bytes = static_cast<std::uint8_t*>(base);
        const auto length = std::int32_t(fileSize);
        std::uint32_t packed = 0;
        if (length > kPackedHeader)
            for (int i = 0; i < 4; ++i) packed |= std::uint32_t(bytes[1 + i]) << (8 * i);
        const bool header = length > kPackedHeader && bytes[0] <= 1 && packed == std::uint32_t(length - kPackedHeader);
        if (header && bytes[0] == 1) {
            // Unpacked straight out of the mapping, which is then let go.
            MemoryStream mapped(bytes, length);
            if (readPackedStream(-1, content, true, mapped) < 0) content.release();
        } else if (header) {
            content.setFixed(bytes + kPackedHeader, std::int32_t(packed));
        } else {
            content.setFixed(bytes, length);
        }
    }
    if (content.size() <= 0) {
        platform::unmapView(base, std::uint64_t(fileSize));
        platform::closeMapping(mapping);
        return engineLog().systemError("Container %s: Can't read data from file [%s]", name_, logPath(path).c_str());
    }
    release();
    content_.swap(content);
    if (content_.ownsBuffer()) {
        platform::unmapView(base, std::uint64_t(fileSize));
        platform::closeMapping(mapping);
    } else {
        mapping_ = mapping;
        mappedBase_ = base;
        mappedLength_ = std::uint64_t(fileSize);
    }
    content_.setPosition(0);
    if (readEntries(content_, content_.data()) < 0)
        return engineLog().systemError("Container %s: Can't read data from memory file", name_);
    if (gameCore.debugFlags & DebugResourceLog)
        engineLog().info("Loaded container %s from file [%s]", name_, logPath(path).c_str());
    return true;
}

bool Container::save() {
    MemoryStream memory(true);
    if (!memory.reserve(std::int32_t(reserveSize())) || write(memory) < 0)
        return engineLog().systemError("Container %s: Can't write data to memory file", name_);
    // The game has no stream saving: the file stays as it is.
    engineLog().error("Stream save not possible in release exe");
    return engineLog().systemError("Container %s: Can't write data to file [%s]", name_,
                                   logPath(containerPath(pathNumber_)).c_str());
}

bool Container::grow(std::int32_t capacity) {
    std::unique_ptr<ContainerEntry[]> larger(new (std::nothrow) ContainerEntry[std::size_t(capacity)]);
    if (!larger) return false;
    for (std::int32_t i = 0; i < count_; ++i) {
        std::memcpy(larger[i].name, entries_[i].name, sizeof larger[i].name);
        larger[i].data.swap(entries_[i].data);
    }
    entries_ = std::move(larger);
    capacity_ = capacity;
    return true;
}

void Container::reserveEntries(std::int32_t count) {
    release();
    if (count <= 0) return;
    entries_ = std::make_unique<ContainerEntry[]>(std::size_t(count));
    capacity_ = count;
}

bool Container::append(const std::string& name, const void* data, std::int32_t size) {
    if (count_ >= capacity_ || name.empty() || name.size() > kNameLimit || size < 0) return false;
    if (count_ > 0 && compareNames(entries_[count_ - 1].name, name.c_str()) >= 0) return false;
    ContainerEntry& entry = entries_[count_];
    std::memcpy(entry.name, name.data(), name.size());
    if (!entry.data.allocateExact(size)) return false;
    if (size) std::memcpy(entry.data.data(), data, std::size_t(size));
    ++count_;
    flags_ |= kModified;
    return true;
}
