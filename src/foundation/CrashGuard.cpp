#include "foundation/CrashGuard.h"

#include <atomic>

#include "platform/Faults.h"

namespace {

std::atomic<GuardExceptionReporter> g_reporter{nullptr};

// The calling thread's guarded phases, innermost last.
constexpr int kMaxGuardDepth = 64;
thread_local const char* t_guardTitles[kMaxGuardDepth];
thread_local int t_guardDepth = 0;

}  // namespace

void setCrashGuardReporter(GuardExceptionReporter reporter) { g_reporter.store(reporter); }

const char* currentCrashGuardTitle() {
    if (t_guardDepth <= 0) return nullptr;
    return t_guardTitles[(t_guardDepth < kMaxGuardDepth ? t_guardDepth : kMaxGuardDepth) - 1];
}

CrashGuard::CrashGuard(const char* title) : title_(title), uncaught_(std::uncaught_exceptions()) {
    // The fault handler runs on its own stack, so that a stack overflow can
    // still be reported.
    platform::prepareThreadForFaults();
    if (t_guardDepth < kMaxGuardDepth) t_guardTitles[t_guardDepth] = title;
    ++t_guardDepth;
}

CrashGuard::~CrashGuard() {
    if (!reported_ && std::uncaught_exceptions() > uncaught_) reportException(nullptr);
    --t_guardDepth;
}

void CrashGuard::reportException(const char* text) {
    reported_ = true;
    GuardExceptionReporter reporter = g_reporter.load();
    if (!reporter) return;
    try {
        reporter(title_, text);
    } catch (...) {
        // The report must not turn one exception into two.
    }
}
