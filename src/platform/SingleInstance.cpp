#include "platform/SingleInstance.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace platform {

namespace {

// The descriptor that holds the lock, open until the process ends, and the
// process that took it (a forked child holds no instance of its own).
int g_instanceLock = -1;
pid_t g_instanceOwner = 0;

std::string lockFilePath(const char* name) {
    const char* folder = std::getenv("XDG_RUNTIME_DIR");
    if (!folder || !*folder) folder = std::getenv("TMPDIR");
    if (!folder || !*folder) folder = "/tmp";
    std::string file;
    for (const char* p = name; *p; ++p) file += (*p == '/') ? '_' : *p;
    return std::string(folder) + "/" + file + ".lock";
}

}  // namespace

InstanceResult acquireSingleInstance(const char* name) {
    if (g_instanceLock >= 0 && g_instanceOwner == ::getpid()) return InstanceResult::Acquired;
    const std::string path = lockFilePath(name ? name : "instance");
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) return InstanceResult::Failed;
    while (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        if (errno == EINTR) continue;
        const bool held = (errno == EWOULDBLOCK);
        ::close(fd);
        return held ? InstanceResult::AlreadyRunning : InstanceResult::Failed;
    }
    g_instanceLock = fd;
    g_instanceOwner = ::getpid();
    return InstanceResult::Acquired;
}

void showErrorLine(const char* caption, const char* text) {
    std::fprintf(stderr, "%s: %s\n", caption ? caption : "", text ? text : "");
    std::fflush(stderr);
}

}  // namespace platform
