#include "resources/FilePackageDBData.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <type_traits>

#include "foundation/DataStream.h"
#include "foundation/Log.h"

namespace {

// Order of a stored name (NUL-terminated in its zero-filled field) against a
// name: bytewise, unsigned, a shorter text first. One pass, no measuring;
// it never reads past the field, whose last byte is always 0.
int compareStored(const char* stored, std::string_view name) {
    for (std::size_t i = 0; i < name.size(); ++i) {
        const unsigned char a = static_cast<unsigned char>(stored[i]);
        const unsigned char b = static_cast<unsigned char>(name[i]);
        if (a != b) return a < b ? -1 : 1;
        if (a == 0) return -1;
    }
    return stored[name.size()] == 0 ? 0 : 1;
}

bool startsWith(const char* stored, std::string_view prefix) {
    for (std::size_t i = 0; i < prefix.size(); ++i)
        if (stored[i] == 0 || stored[i] != prefix[i]) return false;
    return true;
}

// A numbered variant of a prefix: the prefix and two digits, nothing more
// ("step01" for "step", not "steps_big").
bool isNumberedVariant(const char* stored, std::string_view prefix) {
    const char* tail = stored + prefix.size();
    return std::isdigit(static_cast<unsigned char>(tail[0])) && std::isdigit(static_cast<unsigned char>(tail[1])) &&
           tail[2] == 0;
}

// strcmp compares as unsigned bytes, like every name order here.
bool nameLess(const PackageFileEntry& a, const PackageFileEntry& b) { return std::strcmp(a.name, b.name) < 0; }

// Position of a name in a type's entries from low on: {index, found}, the
// index being the insertion point when not found.
template <class Name>
std::pair<std::size_t, bool> search(const std::vector<PackageFileEntry>& entries, const Name& name,
                                    std::size_t low = 0) {
    std::size_t high = entries.size();
    while (low < high) {
        const std::size_t mid = (low + high) / 2;
        int c = 0;
        if constexpr (std::is_same_v<Name, std::string_view>)
            c = compareStored(entries[mid].name, name);
        else
            c = std::strcmp(entries[mid].name, name);
        if (c == 0) return {mid, true};
        if (c > 0) high = mid;
        else low = mid + 1;
    }
    return {low, false};
}

// The first 16 bytes of a name as two big-endian numbers: compared as
// numbers they order names as strcmp does (the field is zero-filled).
struct NameKey {
    std::uint64_t high;
    std::uint64_t low;
    std::uint32_t index;
};

std::uint64_t bigEndianAt(const char* bytes) {
    std::uint64_t value = 0;
    for (int i = 0; i < 8; ++i) value = value << 8 | static_cast<unsigned char>(bytes[i]);
    return value;
}

// Sorts positions of entries by name, equal names by position, and marks
// in repeats the positions in order whose name equals the one before. The
// keys are sorted in place of the entries: no entry is touched in the sort
// but those whose first 16 bytes tie.
void sortByName(const std::vector<PackageFileEntry>& entries, std::vector<std::uint32_t>& order,
                std::vector<std::uint8_t>& repeats) {
    std::vector<NameKey> keys;
    keys.reserve(order.size());
    for (std::uint32_t i : order) keys.push_back({bigEndianAt(entries[i].name), bigEndianAt(entries[i].name + 8), i});
    // Equal to their 16th byte, names end there or go on comparing.
    const auto tail = [&entries](const NameKey& a, const NameKey& b) {
        return (a.low & 0xFF) == 0 ? 0 : std::strcmp(entries[a.index].name + 16, entries[b.index].name + 16);
    };
    std::sort(keys.begin(), keys.end(), [&tail](const NameKey& a, const NameKey& b) {
        if (a.high != b.high) return a.high < b.high;
        if (a.low != b.low) return a.low < b.low;
        const int c = tail(a, b);
        return c != 0 ? c < 0 : a.index < b.index;
    });
    repeats.assign(keys.size(), 0);
    for (std::size_t k = 0; k < keys.size(); ++k) {
        order[k] = keys[k].index;
        if (k > 0 && keys[k].high == keys[k - 1].high && keys[k].low == keys[k - 1].low && tail(keys[k - 1], keys[k]) == 0)
            repeats[k] = 1;
    }
}

// Puts entries in the order of positions (entries[k] becomes the entry at
// order[k]), following the permutation's cycles; order is used up.
void permute(std::vector<PackageFileEntry>& entries, std::vector<std::uint32_t>& order) {
    for (std::size_t i = 0; i < order.size(); ++i) {
        if (order[i] == i) continue;
        const PackageFileEntry first = entries[i];
        std::size_t j = i;
        for (;;) {
            const std::size_t next = order[j];
            order[j] = static_cast<std::uint32_t>(j);
            if (next == i) {
                entries[j] = first;
                break;
            }
            entries[j] = entries[next];
            j = next;
        }
    }
}

// What became of an entry of a section being merged; refusals are logged in
// the section's order once it is merged.
enum EntryFate : std::uint8_t { kMerged, kEmptyName, kOutsideHolder, kNoTypeId, kRegistered, kTypeFull };

}  // namespace

PackageRecord::~PackageRecord() {
    unmapFileView(view);
    closeFileMap(map);
}

FilePackageDBData::~FilePackageDBData() { close(); }

PackageFileEntry* FilePackageDBData::decode(std::uint32_t id) const {
    const std::uint64_t base = static_cast<std::uint64_t>(database_) * kDatabaseSpan;
    if (id == 0 || id < base || id > base + kDatabaseSpan) return nullptr;
    const std::uint32_t local = static_cast<std::uint32_t>(id - base);
    const std::uint32_t type = local / kTypeSpan;
    const std::uint32_t position = local % kTypeSpan;
    if (type >= types_.size() || position == 0 || position > types_[type].entries.size()) return nullptr;
    return const_cast<PackageFileEntry*>(&types_[type].entries[position - 1]);
}

const PackageFileEntry* FilePackageDBData::entry(std::uint32_t id) const { return decode(id); }

const char* FilePackageDBData::fileName(std::uint32_t id) const {
    const PackageFileEntry* e = decode(id);
    return e ? e->name : nullptr;
}

std::string FilePackageDBData::resourcePath(std::uint32_t id) const {
    const PackageFileEntry* e = decode(id);
    return e ? std::string("package\\") + e->name : std::string();
}

PackageRecord* FilePackageDBData::package(std::uint32_t package, std::uint32_t folder) const {
    if (package >= packages_.size() || folder >= packages_[package].size()) return nullptr;
    return packages_[package][folder].get();
}

PackageRecord& FilePackageDBData::addPackageSlot(std::uint32_t package, std::uint32_t folder) {
    if (packages_.size() <= package) packages_.resize(package + 1);
    auto& folders = packages_[package];
    while (folders.size() <= folder) folders.push_back(std::make_unique<PackageRecord>());
    return *folders[folder];
}

DataStream* FilePackageDBData::openFile(std::uint32_t id, std::uint32_t* size, bool write) {
    PackageFileEntry* e = decode(id);
    if (!e) return nullptr;
    if (write) {
        engineLog().error("Can't write to package from default resources APi");
        return nullptr;
    }
    if (e->state & (kEntryOpenStream | kEntryOpenMap)) {
        engineLog().error("Can't open file [%s]: already opened", e->name);
        return nullptr;
    }
    PackageRecord* record = package(e->package, e->folder);
    if (!record) {
        engineLog().resourceError("Can't access package [%i:%i] intrface", e->package, e->folder);
        return nullptr;
    }
    if (record->state & kEntryOpenStream) {
        engineLog().error("Can't open package [%s] file [%s]: already opened", logPath(record->path).c_str(), e->name);
        return nullptr;
    }
    if (!record->stream) {
        record->stream.reset(WinFileStream::open(record->path, platform::GENERIC_READ, 0, platform::OPEN_EXISTING));
        if (!record->stream) {
            engineLog().error("Can't open package file [%s]", logPath(record->path).c_str());
            return nullptr;
        }
    }
    record->stream->setPosition(static_cast<std::int32_t>(e->offset));
    record->state |= kEntryOpenStream;
    e->state |= kEntryOpenStream;
    if (size) *size = e->size;
    return record->stream.get();
}

bool FilePackageDBData::closeFile(std::uint32_t id) {
    PackageFileEntry* e = decode(id);
    if (!e) return false;
    if (!(e->state & kEntryOpenStream)) {
        engineLog().error("Can't close file [%s]: first open", e->name);
        return false;
    }
    PackageRecord* record = package(e->package, e->folder);
    if (!record) {
        engineLog().resourceError("Can't access package [%i:%i] intrface", e->package, e->folder);
        return false;
    }
    e->state &= ~kEntryOpenStream;
    if (!(record->state & kEntryOpenStream)) {
        engineLog().error("Can't close package [%s] file [%s]: first open", logPath(record->path).c_str(), e->name);
        return false;
    }
    record->state &= ~kEntryOpenStream;
    return true;
}

DataFileMap* FilePackageDBData::openMap(std::uint32_t id, std::uint32_t* size) {
    PackageFileEntry* e = decode(id);
    if (!e) return nullptr;
    if (size) *size = e->size;
    if (e->state & (kEntryOpenStream | kEntryOpenMap)) {
        engineLog().error("Can't open file map [%s]: already opened", e->name);
        return nullptr;
    }
    if (e->size == 0) {
        engineLog().resourceInfo("Try to open empty map to file [%s]: size = 0 Bytes ", e->name);
        return nullptr;
    }
    PackageRecord* record = package(e->package, e->folder);
    if (!record) {
        engineLog().resourceError("Can't access package [%i:%i] intrface", e->package, e->folder);
        return nullptr;
    }
    if (!record->map.mapping && !openFileMap(record->map, record->path, false)) {
        engineLog().error("Can't open mapping package file [%s]", logPath(record->path).c_str());
        return nullptr;
    }
    // The package is mapped once; each entry is a range of that view, checked
    // against the file as it is now, so that a file cut after the build is
    // never read past its end.
    const std::int64_t fileSize = platform::mappingSize(record->map.mapping);
    const std::uint64_t end = static_cast<std::uint64_t>(e->offset) + e->size;
    if (!record->view.viewBase && fileSize > 0)
        mapFileView(record->view, 0, static_cast<std::uint32_t>(std::min<std::int64_t>(fileSize, UINT32_MAX)),
                    &record->map);
    if (!record->view.viewBase || fileSize < 0 || end > static_cast<std::uint64_t>(fileSize) ||
        end > record->view.viewSize) {
        engineLog().error("Can't open mapping to package [%s] file [%s]: offset +%i with size %i bytes",
                          logPath(record->path).c_str(), e->name, static_cast<int>(e->offset),
                          static_cast<int>(e->size));
        return nullptr;
    }
    auto map = std::make_unique<DataFileMap>();
    map->data = record->view.viewData + e->offset;
    map->size = e->size;
    e->map = map.release();
    e->state |= kEntryOpenMap;
    ++openMaps_;
    return e->map;
}

bool FilePackageDBData::closeMap(std::uint32_t id) {
    PackageFileEntry* e = decode(id);
    if (!e) return false;
    if (!(e->state & kEntryOpenMap)) {
        engineLog().error("Can't close file map [%s]: first open as map", e->name);
        return false;
    }
    if (!e->map) {
        engineLog().error("Fail close map to [%s]: map has NULL ptr", e->name);
        e->state &= ~kEntryOpenMap;
        return false;
    }
    bool result = true;
    PackageRecord* record = package(e->package, e->folder);
    if (!e->map->data) {
        engineLog().error("Can't unmap package [%s] file [%s]: file not mapped before",
                          record ? logPath(record->path).c_str() : "", e->name);
        result = false;
    } else if (!record) {
        // The package whose view holds the bytes is gone.
        engineLog().error("Can't close memory map to [%s]: dst LPDataFileMap has NULL ptr", e->name);
        result = false;
    }
    deleteMap(*e);
    e->state &= ~kEntryOpenMap;
    return result;
}

void FilePackageDBData::deleteMap(PackageFileEntry& entry) {
    if (!entry.map) return;
    delete entry.map;
    entry.map = nullptr;
    if (openMaps_ > 0) --openMaps_;
}

int FilePackageDBData::compareStamps(std::uint32_t id1, std::uint32_t id2) {
    const PackageFileEntry* a = decode(id1);
    if (!a) {
        engineLog().resourceError("\n\n\n\nInvalid file index f1\n\n\n\n");
        return 0;
    }
    const PackageFileEntry* b = decode(id2);
    if (!b) {
        engineLog().resourceError("\n\n\n\nInvalid file index f2\n\n\n\n");
        return 0;
    }
    return a->stamp < b->stamp ? -1 : a->stamp > b->stamp ? 1 : 0;
}

std::uint32_t FilePackageDBData::find(std::string_view mask, std::string_view name, std::string_view source) {
    if (name.empty()) return 0;
    const std::uint32_t base = static_cast<std::uint32_t>(database_) * kDatabaseSpan;
    for (std::size_t t = 0; t < types_.size(); ++t) {
        const PackageTypeRecord& type = types_[t];
        if (type.mask != mask) continue;
        if (!source.empty() && type.source != source) continue;
        const auto [index, found] = search(type.entries, name);
        if (found) return base + static_cast<std::uint32_t>(t) * kTypeSpan + static_cast<std::uint32_t>(index) + 1;
        if (!source.empty()) return 0;
    }
    return 0;
}

std::int32_t FilePackageDBData::countFiles(std::string_view mask, std::string_view source) {
    std::int64_t count = 0;
    for (const PackageTypeRecord& type : types_) {
        if (type.mask != mask) continue;
        if (!source.empty()) {
            if (type.source != source) continue;
            return static_cast<std::int32_t>(type.entries.size());
        }
        count += static_cast<std::int64_t>(type.entries.size());
    }
    return static_cast<std::int32_t>(std::min<std::int64_t>(count, INT32_MAX));
}

std::uint32_t FilePackageDBData::fileIdAt(std::string_view mask, std::int32_t n, std::string_view source) {
    if (n < 0) return 0;
    const std::uint32_t base = static_cast<std::uint32_t>(database_) * kDatabaseSpan;
    std::size_t left = static_cast<std::size_t>(n);
    for (std::size_t t = 0; t < types_.size(); ++t) {
        const PackageTypeRecord& type = types_[t];
        if (type.mask != mask) continue;
        if (!source.empty() && type.source != source) continue;
        if (left < type.entries.size())
            return base + static_cast<std::uint32_t>(t) * kTypeSpan + static_cast<std::uint32_t>(left) + 1;
        if (!source.empty()) return 0;
        left -= type.entries.size();
    }
    return 0;
}

std::int32_t FilePackageDBData::countNameVariants(std::string_view mask, std::string_view prefix,
                                                  std::string_view source) {
    if (prefix.size() > kEntryNameSize) return 0;
    for (const PackageTypeRecord& type : types_) {
        if (type.mask != mask) continue;
        if (!source.empty() && type.source != source) continue;
        std::int32_t count = 0;
        const auto [index, found] = search(type.entries, prefix);
        if (!found) {
            for (std::size_t i = index; i < type.entries.size(); ++i) {
                if (!startsWith(type.entries[i].name, prefix)) break;
                if (isNumberedVariant(type.entries[i].name, prefix)) ++count;
            }
        }
        if (!source.empty() || count > 0) return count;
    }
    return 0;
}

void FilePackageDBData::close() {
    if (openMaps_ > 0)
        for (PackageTypeRecord& type : types_)
            for (PackageFileEntry& e : type.entries) deleteMap(e);
    types_.clear();
    openMaps_ = 0;
    folderCount_ = -1;
    packages_.clear();
}

std::ptrdiff_t FilePackageDBData::typeIndex(std::string_view mask, std::string_view source) const {
    for (std::size_t t = 0; t < types_.size(); ++t)
        if (types_[t].mask == mask && types_[t].source == source) return static_cast<std::ptrdiff_t>(t);
    return -1;
}

std::ptrdiff_t FilePackageDBData::typeIndexByKey(std::string_view key) const {
    for (std::size_t t = 0; t < types_.size(); ++t)
        if (types_[t].key == key) return static_cast<std::ptrdiff_t>(t);
    return -1;
}

std::ptrdiff_t FilePackageDBData::createType(const PackageSection& section) {
    if (types_.size() >= kMaxTypes) return -1;
    PackageTypeRecord created;
    created.key = section.key;
    const std::size_t at = section.key.find('@');
    created.mask = section.key.substr(0, at);
    created.source = at == std::string::npos ? std::string() : section.key.substr(at + 1);
    created.title = section.title;
    created.entries.reserve(512);
    auto place = std::lower_bound(types_.begin(), types_.end(), created.key,
                                  [](const PackageTypeRecord& t, const std::string& key) { return t.key < key; });
    const auto inserted = types_.insert(place, std::move(created));
    return inserted - types_.begin();
}

void FilePackageDBData::overrideEntry(PackageFileEntry& old, const PackageFileEntry& entry) {
    deleteMap(old);
    old = entry;
}

// The result is that of merging the entries one by one in the section's
// order: an entry whose name the type of the section's mask and source holds
// overrides it in place (the last one wins); any other joins the type of the
// section's key (made at the first such entry), where a name already there
// is refused as registered, unless that type is the one overridden, and a
// full type refuses new names in the order they come. Done as one batch:
// the entries are sorted once (stable for equal names) and merged.
void FilePackageDBData::mergeSection(PackageSection& section, std::uint32_t package, std::uint32_t folder) {
    std::vector<PackageFileEntry>& incoming = section.entries;
    const std::size_t count = incoming.size();
    std::vector<std::uint8_t> fate(count, kMerged);
    bool refused = false;
    for (std::size_t i = 0; i < count; ++i) {
        PackageFileEntry& e = incoming[i];
        e.state = 0;
        e.map = nullptr;
        if (e.name[0] == 0) {
            fate[i] = kEmptyName;
        } else if (e.package != package || e.folder != folder) {
            // The data lies in another package file: checked against it
            // now when it was read, else when it is opened.
            const PackageRecord* holder = this->package(e.package, e.folder);
            if (holder && holder->fileSize > 0 && e.size > 0 &&
                static_cast<std::uint64_t>(e.offset) + e.size > static_cast<std::uint64_t>(holder->fileSize))
                fate[i] = kOutsideHolder;
        }
        refused = refused || fate[i] != kMerged;
    }

    std::ptrdiff_t overridden = typeIndex(section.mask, section.source);
    std::ptrdiff_t target = typeIndexByKey(section.key);
    std::size_t start = 0;
    if (target < 0) {
        // Until the key's type exists, entries can only override.
        for (; start < count; ++start) {
            if (fate[start] != kMerged) continue;
            if (overridden < 0) break;
            std::vector<PackageFileEntry>& entries = types_[static_cast<std::size_t>(overridden)].entries;
            const auto [index, found] = search(entries, incoming[start].name);
            if (!found) break;
            overrideEntry(entries[index], incoming[start]);
        }
        if (start < count) {
            target = createType(section);
            if (target >= 0) overridden = typeIndex(section.mask, section.source);
        }
    }

    // The rest, sorted by name and, for equal names, in the section's order.
    std::vector<std::uint32_t> order;
    order.reserve(count - start);
    for (std::size_t i = start; i < count; ++i)
        if (fate[i] == kMerged) order.push_back(static_cast<std::uint32_t>(i));
    // Sections are usually in name order already: checked in one pass.
    std::vector<std::uint8_t> repeats(order.size(), 0);
    bool inOrder = true;
    for (std::size_t k = 1; k < order.size() && inOrder; ++k) {
        const int c = std::strcmp(incoming[order[k - 1]].name, incoming[order[k]].name);
        inOrder = c <= 0;
        repeats[k] = c == 0;
    }
    if (!inOrder) sortByName(incoming, order, repeats);

    // Overrides in place, and the new names: [begin, end) of order each.
    PackageTypeRecord* overrides = overridden >= 0 ? &types_[static_cast<std::size_t>(overridden)] : nullptr;
    PackageTypeRecord* joins = target >= 0 ? &types_[static_cast<std::size_t>(target)] : nullptr;
    const bool sameType = overrides == joins;
    struct NewName {
        std::size_t begin;
        std::size_t end;
    };
    std::vector<NewName> added;
    std::size_t fromOverrides = 0;
    std::size_t fromJoins = 0;
    const auto refuseGroup = [&](std::size_t begin, std::size_t end, EntryFate why) {
        for (std::size_t k = begin; k < end; ++k) fate[order[k]] = why;
        refused = true;
    };
    for (std::size_t g = 0; g < order.size();) {
        const char* name = incoming[order[g]].name;
        std::size_t h = g + 1;
        while (h < order.size() && repeats[h]) ++h;
        if (overrides) {
            const auto [index, found] = search(overrides->entries, name, fromOverrides);
            fromOverrides = index;
            if (found) {
                overrideEntry(overrides->entries[index], incoming[order[h - 1]]);
                g = h;
                continue;
            }
        }
        bool registered = false;
        if (joins && !sameType) {
            const auto [index, found] = search(joins->entries, name, fromJoins);
            fromJoins = index;
            registered = found;
        }
        if (!joins)
            refuseGroup(g, h, kNoTypeId);
        else if (registered)
            refuseGroup(g, h, kRegistered);
        else
            added.push_back({g, h});
        g = h;
    }

    if (joins && !added.empty()) {
        // A full type refuses the new names that come last in the section.
        const std::size_t held = joins->entries.size();
        const std::size_t room = held < kMaxEntries ? kMaxEntries - held : 0;
        std::uint32_t cutoff = UINT32_MAX;
        if (added.size() > room) {
            std::vector<std::uint32_t> arrivals;
            arrivals.reserve(added.size());
            for (const NewName& n : added) arrivals.push_back(order[n.begin]);
            std::nth_element(arrivals.begin(), arrivals.begin() + static_cast<std::ptrdiff_t>(room), arrivals.end());
            cutoff = arrivals[room];
        }
        if (held == 0 && start == 0 && added.size() == count && cutoff == UINT32_MAX) {
            // Every entry is new and unique: the section, in name order,
            // becomes the type.
            if (!inOrder) permute(incoming, order);
            joins->entries.swap(incoming);
        } else {
            std::vector<PackageFileEntry> fresh;
            fresh.reserve(std::min(added.size(), room));
            for (const NewName& n : added) {
                if (order[n.begin] >= cutoff) {
                    refuseGroup(n.begin, n.end, kTypeFull);
                    continue;
                }
                // Later entries of the name override the first, or are
                // refused when the type joined is not the one overridden.
                fresh.push_back(incoming[order[sameType ? n.end - 1 : n.begin]]);
                if (!sameType && n.end - n.begin > 1) refuseGroup(n.begin + 1, n.end, kRegistered);
            }
            if (held == 0) {
                joins->entries = std::move(fresh);
            } else {
                std::vector<PackageFileEntry> merged;
                merged.reserve(held + fresh.size());
                std::merge(joins->entries.begin(), joins->entries.end(), fresh.begin(), fresh.end(),
                           std::back_inserter(merged), nameLess);
                joins->entries.swap(merged);
            }
        }
    }

    // (A section taken whole left nothing refused, and incoming empty.)
    if (!refused) return;
    Log& log = engineLog();
    for (std::size_t i = 0; i < count; ++i) {
        if (fate[i] == kMerged) continue;
        const PackageFileEntry& e = incoming[i];
        switch (fate[i]) {
            case kEmptyName:
                log.error("Can't add package file []: empty name in section [%s]", section.key.c_str());
                break;
            case kOutsideHolder: {
                const PackageRecord* holder = this->package(e.package, e.folder);
                log.error("Can't add package file [%s]: offset +%u with size %u bytes lies outside package [%s] of "
                          "%lld bytes",
                          e.name, e.offset, e.size, holder ? logPath(holder->path).c_str() : "",
                          static_cast<long long>(holder ? holder->fileSize : 0));
                break;
            }
            case kNoTypeId:
                log.resourceError("Can't add package file [%s]: no type id left for [%s]", e.name,
                                  section.key.c_str());
                break;
            case kRegistered:
                log.resourceError("Can't add package file [%s]: Already registered", e.name);
                break;
            case kTypeFull:
                log.resourceError("Can't add package file [%s]: type [%s] holds %u files, no id left", e.name,
                                  joins ? joins->key.c_str() : section.key.c_str(), kMaxEntries);
                break;
            default:
                break;
        }
    }
}

bool FilePackageDBData::loadPackage(const std::string& path, std::uint32_t package, std::uint32_t folder) {
    PackageRecord& record = addPackageSlot(package, folder);
    unmapFileView(record.view);
    closeFileMap(record.map);
    record.stream.reset();
    record.state = 0;
    record.path = path;
    std::unique_ptr<WinFileStream> file(WinFileStream::open(path, platform::GENERIC_READ, 0, platform::OPEN_EXISTING));
    if (!file) {
        engineLog().error("Can't open package [%s] file", logPath(path).c_str());
        return false;
    }
    record.fileSize = file->size();
    PackageFileContents contents;
    readPackageFile(*file, path, contents, PackageOwner{package, folder});
    file.reset();
    record.directoryOffset = contents.directoryOffset;
    record.sectionCount = contents.sectionCount;
    record.versions = std::move(contents.versions);
    for (PackageSection& section : contents.sections) mergeSection(section, package, folder);
    return true;
}
