#include "foundation/FileMap.h"

#include <string>

#include "foundation/Log.h"

namespace {

unsigned handleValue(platform::MappingHandle mapping) { return static_cast<unsigned>(mapping.value); }

}  // namespace

bool openFileMap(FileMap& map, std::string_view path, bool writeMode) {
    const std::string text = logPath(path);
    if (map.mapping) {
        engineLog().error("Can't twice open memory map to [%s]", text.c_str());
        return false;
    }
    platform::MappingHandle mapping = platform::openMapping(path, writeMode);
    if (!mapping) {
        engineLog().error("Cannot open map file [%s]%s", text.c_str(), writeMode ? " (write mode)" : "");
        return false;
    }
    // An empty file has nothing to map, as the system's mapping call refuses it.
    if (platform::mappingSize(mapping) <= 0) {
        engineLog().error("Cannot create map for [%s], (handle=0x%08X)", text.c_str(), handleValue(mapping));
        platform::closeMapping(mapping);
        return false;
    }
    map.writeMode = writeMode;
    map.mapping = mapping;
    return true;
}

void unmapFileView(FileMap& view) {
    if (view.viewBase) platform::unmapView(view.viewBase, view.viewLength);
    if (view.viewSource && view.viewSource->references > 0) --view.viewSource->references;
    view.viewBase = nullptr;
    view.viewData = nullptr;
    view.viewSize = 0;
    view.viewLength = 0;
    view.viewSource = nullptr;
}

bool mapFileView(FileMap& view, std::uint32_t offset, std::uint32_t size, FileMap* map) {
    FileMap& source = map ? *map : view;
    if (!source.mapping) {
        engineLog().systemError("Can't create new map: open mapping file first");
        return false;
    }
    unmapFileView(view);

    const std::uint32_t granularity = platform::allocationGranularity();
    const std::uint64_t aligned = offset - offset % granularity;
    const std::uint64_t length = (offset - aligned) + static_cast<std::uint64_t>(size);
    int error = 0;
    void* base = platform::mapView(source.mapping, aligned, length, source.writeMode, &error);
    if (!base) {
        engineLog().error("Cannot open file map at 0x%08X, ERROR=%i", handleValue(source.mapping), error);
        return false;
    }
    view.viewBase = static_cast<std::uint8_t*>(base);
    view.viewData = view.viewBase + (offset - aligned);
    view.viewSize = size;
    view.viewLength = length;
    if (map && map != &view) {
        ++map->references;
        view.viewSource = map;
    }
    return true;
}

void closeFileMap(FileMap& map) {
    unmapFileView(map);
    if (map.references > 0) {
        engineLog().error("Can't delete memory map handler %08X at %08X: not all references released",
                          handleValue(map.mapping),
                          static_cast<unsigned>(reinterpret_cast<std::uintptr_t>(&map)));
    }
    map.references = 0;
    if (map.mapping) platform::closeMapping(map.mapping);
    map.mapping = {};
    map.writeMode = false;
}
