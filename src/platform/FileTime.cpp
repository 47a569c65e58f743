#include "platform/FileTime.h"

#include <sys/stat.h>

#include <string>

#include "platform/FileSystem.h"

namespace platform {

bool fileWriteTime(std::string_view path, std::uint64_t& time) {
    struct stat st;
    if (::stat(hostPath(path).c_str(), &st) != 0 || S_ISDIR(st.st_mode)) return false;
    // Seconds between 1601-01-01 and 1970-01-01.
    constexpr std::uint64_t kEpochOffset = 11644473600ull;
    time = (static_cast<std::uint64_t>(st.st_mtim.tv_sec) + kEpochOffset) * 10000000ull +
           static_cast<std::uint64_t>(st.st_mtim.tv_nsec) / 100u;
    return true;
}

}  // namespace platform
