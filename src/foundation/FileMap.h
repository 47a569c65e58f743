// One memory mapping of a file and one current view of it.
//
// A record opens the mapping of a whole file (openFileMap) and maps one view
// at a time (mapFileView replaces the previous one). Other records may map
// their own views on a mapping someone else opened: the owner then counts
// them in references, and each such view gives its reference back when it
// is unmapped (unmapFileView, a new mapFileView, or closeFileMap of the
// view record). View offsets are rounded down to the allocation granularity;
// viewData points at the first byte asked for. Offsets and sizes are 32-bit.
#pragma once

#include <cstdint>
#include <string_view>

#include "platform/FileMapping.h"

struct FileMap {
    std::uint8_t* viewBase = nullptr;  // aligned start of the view
    std::uint32_t viewSize = 0;        // bytes asked for
    std::uint8_t* viewData = nullptr;  // first byte asked for
    bool writeMode = false;
    platform::MappingHandle mapping;
    std::int32_t references = 0;  // views other records hold on this mapping

    // Bytes actually mapped from viewBase, and the other record whose
    // mapping the current view uses (null for the record's own mapping).
    std::uint64_t viewLength = 0;
    FileMap* viewSource = nullptr;
};

// Opens the file and the mapping of its whole length. False (logged) when
// the record is already open, the file cannot be opened or is empty.
bool openFileMap(FileMap& map, std::string_view path, bool writeMode);
// Maps [offset, offset + size) of map (the view record's own mapping when
// map is null) into the view record. A view of another record's mapping
// adds one reference to it. False (logged) on failure.
bool mapFileView(FileMap& view, std::uint32_t offset, std::uint32_t size, FileMap* map = nullptr);
// Unmaps the record's view, giving back the reference it holds.
void unmapFileView(FileMap& view);
// Unmaps the view, warns when references remain, closes the mapping and
// clears the record. Closing a closed record does nothing.
void closeFileMap(FileMap& map);
