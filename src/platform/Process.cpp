#include "platform/Process.h"

#include <malloc.h>
#include <pthread.h>
#include <sched.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>
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

bool raiseCurrentThreadPriority() {
    sched_param parameters{};
    parameters.sched_priority = sched_get_priority_min(SCHED_RR);
    if (pthread_setschedparam(pthread_self(), SCHED_RR, &parameters) == 0) return true;
    // Without the right to a real-time class: a lower nice value, as low as
    // the host lets an unprivileged thread go.
    const auto thread = static_cast<id_t>(syscall(SYS_gettid));
    const int current = getpriority(PRIO_PROCESS, thread);
    for (int nice = -10; nice < current; nice += 5)
        if (setpriority(PRIO_PROCESS, thread, nice) == 0) return true;
    return false;
}

void fixHeapThresholds() {
#ifdef __GLIBC__
    mallopt(M_MMAP_THRESHOLD, 1 << 20);
    mallopt(M_TRIM_THRESHOLD, 2 << 20);
#endif
}

void returnFreeHeapPages() {
#ifdef __GLIBC__
    malloc_trim(0);
#endif
}

}  // namespace platform
