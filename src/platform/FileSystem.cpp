#include "platform/FileSystem.h"

#include <dirent.h>
#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>

namespace platform {
namespace {

int fdOf(FileHandle file) { return static_cast<int>(file.value - 1); }
FileHandle handleOf(int fd) { return FileHandle{static_cast<std::intptr_t>(fd) + 1}; }

bool exists(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0;
}

// Finds the entry of folder whose name equals name ignoring case; the exact
// name wins, then the first match in name order. Empty when none matches.
std::string matchEntry(const std::string& folder, const std::string& name) {
    DIR* dir = ::opendir(folder.empty() ? "/" : folder.c_str());
    if (!dir) return {};
    std::vector<std::string> matches;
    while (dirent* e = ::readdir(dir)) {
        if (::strcasecmp(e->d_name, name.c_str()) == 0) matches.emplace_back(e->d_name);
    }
    ::closedir(dir);
    if (matches.empty()) return {};
    if (std::find(matches.begin(), matches.end(), name) != matches.end()) return name;
    return *std::min_element(matches.begin(), matches.end());
}

std::atomic<std::uint64_t> gSyncedPaths{0};

// Flushes a file or a folder, named by its host path, to the disk.
bool syncHostPath(const std::string& host, int flags) {
    const int fd = ::open(host.c_str(), flags | O_CLOEXEC);
    if (fd < 0) return false;
    int result = 0;
    do {
        result = ::fsync(fd);
    } while (result != 0 && errno == EINTR);
    ::close(fd);
    if (result != 0) return false;
    ++gSyncedPaths;
    return true;
}

}  // namespace

std::string hostPath(std::string_view enginePath) {
    std::string path;
    path.reserve(enginePath.size() + 1);
    for (char c : enginePath) path.push_back(c == '\\' ? '/' : c);
    if (path.empty() || path[0] != '/') path.insert(path.begin(), '/');
    if (exists(path)) return path;

    // Resolve element by element; once an element is missing the rest is kept as given.
    std::string resolved;
    std::size_t pos = 1;
    bool matching = true;
    while (pos <= path.size()) {
        std::size_t next = path.find('/', pos);
        if (next == std::string::npos) next = path.size();
        std::string element = path.substr(pos, next - pos);
        pos = next + 1;
        if (element.empty()) continue;
        resolved += '/';
        if (matching && !exists(resolved + element)) {
            const std::string found = matchEntry(resolved.substr(0, resolved.size() - 1), element);
            if (found.empty()) {
                matching = false;
            } else {
                resolved += found;
                continue;
            }
        }
        resolved += element;
    }
    if (resolved.empty()) resolved = "/";
    if (path.size() > 1 && path.back() == '/') resolved += '/';
    return resolved;
}

FileHandle openFile(std::string_view path, std::uint32_t access, std::uint32_t creation) {
    int flags = 0;
    const bool read = access & GENERIC_READ;
    const bool write = access & GENERIC_WRITE;
    if (read && write) flags = O_RDWR;
    else if (write) flags = O_WRONLY;
    else flags = O_RDONLY;
    switch (creation) {
    case CREATE_NEW: flags |= O_CREAT | O_EXCL; break;
    case CREATE_ALWAYS: flags |= O_CREAT | O_TRUNC; break;
    case OPEN_ALWAYS: flags |= O_CREAT; break;
    case TRUNCATE_EXISTING: flags |= O_TRUNC; break;
    case OPEN_EXISTING:
    default: break;
    }
    const std::string host = hostPath(path);
    // Non-blocking, so that a pipe or FIFO in place of a file does not wait
    // for a writer; the engine's files are regular files or devices.
    int fd = ::open(host.c_str(), flags | O_CLOEXEC | O_NONBLOCK, 0644);
    if (fd < 0) return FileHandle{};
    struct stat st;
    if (::fstat(fd, &st) != 0 || S_ISDIR(st.st_mode) || S_ISFIFO(st.st_mode) || S_ISSOCK(st.st_mode)) {
        ::close(fd);
        return FileHandle{};
    }
    const int status = ::fcntl(fd, F_GETFL);
    if (status >= 0) ::fcntl(fd, F_SETFL, status & ~O_NONBLOCK);
    return handleOf(fd);
}

std::int64_t readFile(FileHandle file, void* buffer, std::int64_t count) {
    if (!file || count < 0) return -1;
    std::int64_t total = 0;
    auto* out = static_cast<char*>(buffer);
    while (total < count) {
        ssize_t n = ::read(fdOf(file), out + total, static_cast<size_t>(count - total));
        if (n < 0) {
            if (errno == EINTR) continue;
            return total > 0 ? total : -1;
        }
        if (n == 0) break;
        total += n;
    }
    return total;
}

std::int64_t writeFile(FileHandle file, const void* buffer, std::int64_t count) {
    if (!file || count < 0) return -1;
    std::int64_t total = 0;
    const auto* in = static_cast<const char*>(buffer);
    while (total < count) {
        ssize_t n = ::write(fdOf(file), in + total, static_cast<size_t>(count - total));
        if (n < 0) {
            if (errno == EINTR) continue;
            return total > 0 ? total : -1;
        }
        total += n;
    }
    return total;
}

std::int64_t seekFile(FileHandle file, std::int64_t offset, SeekOrigin origin) {
    if (!file) return -1;
    int whence = origin == SeekOrigin::Begin ? SEEK_SET : origin == SeekOrigin::Current ? SEEK_CUR : SEEK_END;
    off_t r = ::lseek(fdOf(file), static_cast<off_t>(offset), whence);
    return r < 0 ? -1 : static_cast<std::int64_t>(r);
}

std::int64_t fileSize(FileHandle file) {
    struct stat st;
    if (!file || ::fstat(fdOf(file), &st) != 0) return -1;
    return static_cast<std::int64_t>(st.st_size);
}

bool flushFile(FileHandle file) { return file && ::fsync(fdOf(file)) == 0; }

void closeFile(FileHandle file) {
    if (file) ::close(fdOf(file));
}

PathKind pathKind(std::string_view path) {
    struct stat st;
    if (::stat(hostPath(path).c_str(), &st) != 0) return PathKind::Missing;
    return S_ISDIR(st.st_mode) ? PathKind::Folder : PathKind::File;
}

bool createFolder(std::string_view path) {
    const std::string host = hostPath(path);
    return ::mkdir(host.c_str(), 0755) == 0 || errno == EEXIST;
}

bool deleteFile(std::string_view path) { return ::unlink(hostPath(path).c_str()) == 0; }

bool renameFile(std::string_view from, std::string_view to) {
    const std::string source = hostPath(from);
    const std::string target = hostPath(to);
    // The new contents reach the disk before they replace the old file, and
    // the folder's entry after: a power cut leaves the one or the other.
    if (!syncHostPath(source, O_RDONLY)) return false;
    if (::rename(source.c_str(), target.c_str()) != 0) return false;
    const std::size_t slash = target.find_last_of('/');
    syncHostPath(slash == 0 ? std::string("/") : target.substr(0, slash), O_RDONLY | O_DIRECTORY);
    return true;
}

std::uint64_t syncedPathCount() { return gSyncedPaths.load(); }

bool listFolder(std::string_view path, std::vector<FolderEntry>& entries) {
    entries.clear();
    const std::string host = hostPath(path);
    DIR* dir = ::opendir(host.c_str());
    if (!dir) return false;
    while (dirent* e = ::readdir(dir)) {
        std::string name = e->d_name;
        if (name == "." || name == "..") continue;
        struct stat st;
        if (::stat((host + "/" + name).c_str(), &st) != 0) continue;
        entries.push_back({name, S_ISDIR(st.st_mode), static_cast<std::int64_t>(st.st_size),
                           static_cast<std::int64_t>(st.st_mtime)});
    }
    ::closedir(dir);
    std::sort(entries.begin(), entries.end(),
              [](const FolderEntry& a, const FolderEntry& b) { return a.name < b.name; });
    return true;
}

std::string executablePath() {
    char buffer[4096];
    ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof(buffer) - 1);
    if (n <= 0) return {};
    return std::string(buffer, static_cast<size_t>(n));
}

std::string applicationDataFolder() {
    std::string folder;
    if (const char* xdg = std::getenv("XDG_DATA_HOME"); xdg && xdg[0] == '/') {
        folder = xdg;
    } else if (const char* home = std::getenv("HOME"); home && home[0] == '/') {
        folder = std::string(home) + "/.local/share";
    } else {
        return {};
    }
    // Create every missing element, as the system's "create" flag does.
    std::string partial;
    std::size_t pos = 1;
    while (pos <= folder.size()) {
        std::size_t next = folder.find('/', pos);
        if (next == std::string::npos) next = folder.size();
        partial = folder.substr(0, next);
        pos = next + 1;
        if (!partial.empty() && !exists(partial) && ::mkdir(partial.c_str(), 0755) != 0 && errno != EEXIST)
            return {};
    }
    return folder;
}

}  // namespace platform
