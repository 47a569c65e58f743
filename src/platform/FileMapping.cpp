#include "platform/FileMapping.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "platform/FileSystem.h"

namespace platform {
namespace {

int fdOf(MappingHandle mapping) { return static_cast<int>(mapping.value - 1); }

}  // namespace

std::uint32_t allocationGranularity() {
    const long page = ::sysconf(_SC_PAGESIZE);
    const std::uint32_t pageSize = page > 0 ? static_cast<std::uint32_t>(page) : 4096u;
    const std::uint32_t wanted = 65536u;
    return (wanted + pageSize - 1) / pageSize * pageSize;
}

MappingHandle openMapping(std::string_view path, bool writeMode, int* error) {
    const std::string host = hostPath(path);
    // Non-blocking: a FIFO in place of the file must not wait for a writer.
    const int fd = ::open(host.c_str(), (writeMode ? O_RDWR : O_RDONLY) | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        if (error) *error = errno;
        return MappingHandle{};
    }
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        if (error) *error = EISDIR;
        ::close(fd);
        return MappingHandle{};
    }
    return MappingHandle{static_cast<std::intptr_t>(fd) + 1};
}

std::int64_t mappingSize(MappingHandle mapping) {
    struct stat st;
    if (!mapping || ::fstat(fdOf(mapping), &st) != 0) return -1;
    return static_cast<std::int64_t>(st.st_size);
}

void* mapView(MappingHandle mapping, std::uint64_t offset, std::uint64_t length, bool writeMode, int* error) {
    if (!mapping || length == 0 || offset % allocationGranularity() != 0) {
        if (error) *error = EINVAL;
        return nullptr;
    }
    const std::int64_t size = mappingSize(mapping);
    if (size < 0 || offset > static_cast<std::uint64_t>(size) || length > static_cast<std::uint64_t>(size) - offset) {
        if (error) *error = ERANGE;
        return nullptr;
    }
    void* base = ::mmap(nullptr, static_cast<size_t>(length), writeMode ? PROT_READ | PROT_WRITE : PROT_READ,
                        MAP_SHARED, fdOf(mapping), static_cast<off_t>(offset));
    if (base == MAP_FAILED) {
        if (error) *error = errno;
        return nullptr;
    }
    return base;
}

void unmapView(void* base, std::uint64_t length) {
    if (base && length > 0) ::munmap(base, static_cast<size_t>(length));
}

void releaseViewPages(void* base, std::uint64_t length) {
    if (base && length > 0) ::madvise(base, static_cast<size_t>(length), MADV_DONTNEED);
}

void closeMapping(MappingHandle mapping) {
    if (mapping) ::close(fdOf(mapping));
}

}  // namespace platform
