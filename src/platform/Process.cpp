#include "platform/Process.h"

#include <spawn.h>
#include <sys/wait.h>

#include <thread>

extern char** environ;

namespace platform {

bool openWebPage(const char* address) {
    if (!address) return false;
    char program[] = "xdg-open";
    char* arguments[] = {program, const_cast<char*>(address), nullptr};
    pid_t child = 0;
    if (posix_spawnp(&child, program, nullptr, nullptr, arguments, environ) != 0) return false;
    // Reaped in the background, so that no finished child is left behind.
    std::thread([child] {
        int status = 0;
        waitpid(child, &status, 0);
    }).detach();
    return true;
}

}  // namespace platform
