#include <cstdio>
#include <cstring>

#include "app/GameCore.h"
#include "foundation/AppPaths.h"
#include "foundation/Log.h"

namespace {

// The build time in the form of the C library's ctime, without its line feed.
void buildTimeText(char* buffer, std::size_t size) {
    static const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                          "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    const char* date = __DATE__;  // "Mmm dd yyyy"
    const char* time = __TIME__;  // "hh:mm:ss"
    int month = 0;
    for (int i = 0; i < 12; ++i)
        if (std::strncmp(date, kMonths[i], 3) == 0) month = i;
    std::snprintf(buffer, size, "%s %.2s %s %s", kMonths[month], date + 4, time, date + 7);
}

}  // namespace

bool GameCore::initialize() {
    if (paths->initialize(*runMode) == kRunModeInvalid) {
        log->error("Invalid command line arguments");
        return false;
    }
    char built[1024] = {};
    buildTimeText(built, sizeof(built));
    log->info("--------------------------------------------");
    log->info("Build from: [%s]", built);
    log->info("--------------------------------------------");
    log->info("Data version base = %08X, runtime = %08X", 0u, 11u);
    log->info("--------------------------------------------");
    log->setOutput(true);
    return true;
}

std::int32_t GameCore::run() {
    if (!initialize()) {
        log->error("Can't initialize system resources");
        return 1;
    }
    log->info("Release resources...");
    log->info("Exit from game.");
    log->flush();
    log->closeFiles();
    return 0;
}
