#include "foundation/DebugTrap.h"

#include <atomic>

#include "foundation/Log.h"
#include "platform/Faults.h"

namespace {

std::atomic<StackLogger> g_stackLogger{nullptr};

}  // namespace

void setDebugTrapStackLogger(StackLogger logger) { g_stackLogger.store(logger); }

void debugTrap() {
    if (StackLogger logger = g_stackLogger.load()) logger();
    engineLog().flush();
    platform::raiseBreakpoint();
}
