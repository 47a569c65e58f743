#include "resources/FilePackageDBData.h"

#include <algorithm>
#include <cstring>

#include "foundation/DataStream.h"
#include "foundation/Log.h"

namespace {

std::string_view nameOf(const PackageFileEntry& e) { return std::string_view(e.name); }

// Position of name in a type's entries: {index, found}.
std::pair<std::size_t, bool> search(const std::vector<PackageFileEntry>& entries, std::string_view name) {
    std::size_t low = 0;
    std::size_t high = entries.size();
    while (low < high) {
        const std::size_t mid = (low + high) / 2;
        const int c = nameOf(entries[mid]).compare(name);
        if (c == 0) return {mid, true};
        if (c > 0) high = mid;
        else low = mid + 1;
    }
    return {low, false};
}

}  // namespace

PackageRecord::~PackageRecord() { closeFileMap(map); }

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
    auto map = std::make_unique<DataFileMap>();
    if (!mapFileView(map->view, e->offset, e->size, &record->map)) {
        engineLog().error("Can't open mapping to package [%s] file [%s]: offset +%i with size %i bytes",
                          logPath(record->path).c_str(), e->name, static_cast<int>(e->offset),
                          static_cast<int>(e->size));
        return nullptr;
    }
    map->data = map->view.viewData;
    map->size = e->size;
    e->map = map.release();
    e->state |= kEntryOpenMap;
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
    if (!e->map->view.viewBase) {
        engineLog().error("Can't unmap package [%s] file [%s]: file not mapped before",
                          record ? logPath(record->path).c_str() : "", e->name);
        result = false;
    } else if (!record) {
        // The package whose mapping holds the view is gone.
        engineLog().error("Can't close memory map to [%s]: dst LPDataFileMap has NULL ptr", e->name);
        result = false;
    }
    // Gives the view's reference on the package's mapping back.
    unmapFileView(e->map->view);
    delete e->map;
    e->map = nullptr;
    e->state &= ~kEntryOpenMap;
    return result;
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
                if (nameOf(type.entries[i]).substr(0, prefix.size()) != prefix) break;
                ++count;
            }
        }
        if (!source.empty() || count > 0) return count;
    }
    return 0;
}

void FilePackageDBData::close() {
    for (PackageTypeRecord& type : types_)
        for (PackageFileEntry& e : type.entries) {
            if (e.map) {
                unmapFileView(e.map->view);
                delete e.map;
            }
        }
    types_.clear();
    folderCount_ = -1;
    packages_.clear();
}

void FilePackageDBData::mergeSection(PackageSection& section, std::uint32_t package, std::uint32_t folder) {
    for (PackageFileEntry& entry : section.entries) {
        if (entry.package != package || entry.folder != folder) {
            engineLog().error("Can't add package file [%s]: its entry names package [%i:%i], not [%u:%u]",
                              entry.name, entry.package, entry.folder, package, folder);
            continue;
        }
        if (entry.name[0] == 0) {
            engineLog().error("Can't add package file []: empty name in section [%s]", section.key.c_str());
            continue;
        }
        entry.state = 0;
        entry.map = nullptr;

        // A file of an earlier package or folder is overridden in place.
        PackageTypeRecord* type = nullptr;
        for (PackageTypeRecord& t : types_)
            if (t.mask == section.mask && t.source == section.source) {
                type = &t;
                break;
            }
        if (type) {
            const auto [index, found] = search(type->entries, nameOf(entry));
            if (found) {
                PackageFileEntry& old = type->entries[index];
                if (old.map) {
                    unmapFileView(old.map->view);
                    delete old.map;
                }
                old = entry;
                continue;
            }
        }

        type = nullptr;
        for (PackageTypeRecord& t : types_)
            if (t.key == section.key) {
                type = &t;
                break;
            }
        if (!type) {
            if (types_.size() >= kMaxTypes) {
                engineLog().resourceError("Can't add package file [%s]: no type id left for [%s]", entry.name,
                                          section.key.c_str());
                continue;
            }
            PackageTypeRecord created;
            created.key = section.key;
            const std::size_t at = section.key.find('@');
            created.mask = section.key.substr(0, at);
            created.source = at == std::string::npos ? std::string() : section.key.substr(at + 1);
            created.title = section.title;
            created.entries.reserve(512);
            auto place = std::lower_bound(types_.begin(), types_.end(), created.key,
                                          [](const PackageTypeRecord& t, const std::string& key) { return t.key < key; });
            type = &*types_.insert(place, std::move(created));
        }
        const auto [index, found] = search(type->entries, nameOf(entry));
        if (found) {
            engineLog().resourceError("Can't add package file [%s]: Already registered", entry.name);
            continue;
        }
        if (type->entries.size() >= kMaxEntries) {
            engineLog().resourceError("Can't add package file [%s]: type [%s] holds %u files, no id left",
                                      entry.name, type->key.c_str(), kMaxEntries);
            continue;
        }
        type->entries.insert(type->entries.begin() + static_cast<std::ptrdiff_t>(index), entry);
    }
}

bool FilePackageDBData::loadPackage(const std::string& path, std::uint32_t package, std::uint32_t folder) {
    PackageRecord& record = addPackageSlot(package, folder);
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
    readPackageFile(*file, path, contents);
    file.reset();
    record.directoryOffset = contents.directoryOffset;
    record.sectionCount = contents.sectionCount;
    record.versions = std::move(contents.versions);
    for (PackageSection& section : contents.sections) mergeSection(section, package, folder);
    return true;
}
