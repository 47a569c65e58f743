// Memory mapping of files on the host.
//
// A mapping keeps its file open until it is closed; views are mapped from
// offsets that are multiples of allocationGranularity(). Every view is
// checked against the file's current size: a view past the end of the file
// is refused rather than mapped (touching such memory would raise SIGBUS).
// Failures are reported by return values and an error number.
#pragma once

#include <cstdint>
#include <string_view>

namespace platform {

// An open mapping; value is meaningless outside this layer. 0 means none.
struct MappingHandle {
    std::intptr_t value = 0;
    explicit operator bool() const { return value != 0; }
};

// Granularity of view offsets (64 KB, as the engine's stored offsets assume,
// rounded up to a whole number of host pages).
std::uint32_t allocationGranularity();

// Opens an existing file for mapping, read-only or read-write. None when the
// file cannot be opened; *error gets the host's error number.
MappingHandle openMapping(std::string_view path, bool writeMode, int* error = nullptr);
// Size of the mapped file in bytes, -1 on failure.
std::int64_t mappingSize(MappingHandle mapping);
// Maps length bytes from offset (a multiple of the granularity). Null when
// the range is empty, passes the end of the file or the call fails.
void* mapView(MappingHandle mapping, std::uint64_t offset, std::uint64_t length, bool writeMode,
              int* error = nullptr);
void unmapView(void* base, std::uint64_t length);
// Gives up the resident pages of a read-only view: the view stays valid and
// a later read brings its bytes back from the file (the host's file cache).
void releaseViewPages(void* base, std::uint64_t length);
void closeMapping(MappingHandle mapping);

}  // namespace platform
