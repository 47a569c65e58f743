// Modification times of files in the form the engine stores them.
#pragma once

#include <cstdint>
#include <string_view>

namespace platform {

// Last write time of a file as a Windows file time (100-nanosecond steps
// since 1601-01-01 UTC); false when the file cannot be found.
bool fileWriteTime(std::string_view path, std::uint64_t& time);

}  // namespace platform
