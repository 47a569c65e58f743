// A library preloaded (LD_PRELOAD) into a program under measurement, to see
// its presented frames from outside: it stands in front of SDL_GL_SwapWindow
// (a window's present) and glFlush (the headless present of our GL backend,
// and of the benchmarks' floor programs) and passes each call on.
//   PRESENT_PROBE_FD=n     each present writes "present <ns>\n" to file
//                          descriptor n (CLOCK_MONOTONIC nanoseconds)
//   PRESENT_PROBE_FIRST=1  the first present ends the process at once
//                          (exit code 0) after writing its line, so that a
//                          launch is timed to its first presented frame
// Without PRESENT_PROBE_FD the probe only passes the calls on.
#include <dlfcn.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>

namespace {

void presented() {
    static const int fd = [] {
        const char* text = std::getenv("PRESENT_PROBE_FD");
        return text ? std::atoi(text) : -1;
    }();
    static const bool first = [] {
        const char* text = std::getenv("PRESENT_PROBE_FIRST");
        return text && text[0] == '1';
    }();
    if (fd < 0) return;
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    char line[64];
    const int length = std::snprintf(line, sizeof line, "present %lld\n",
                                     static_cast<long long>(now.tv_sec) * 1000000000LL + now.tv_nsec);
    if (length > 0 && write(fd, line, std::size_t(length)) < 0) return;
    if (first) _exit(0);
}

template <class Function>
Function next(const char* name) {
    return reinterpret_cast<Function>(dlsym(RTLD_NEXT, name));
}

}  // namespace

extern "C" {

void SDL_GL_SwapWindow(void* window) {
    static const auto swap = next<void (*)(void*)>("SDL_GL_SwapWindow");
    if (swap) swap(window);
    presented();
}

void glFlush() {
    static const auto flush = next<void (*)()>("glFlush");
    if (flush) flush();
    presented();
}

}  // extern "C"
