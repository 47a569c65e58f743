#include "platform/StackTrace.h"

#include <cxxabi.h>
#include <dlfcn.h>
#include <unwind.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <mutex>

#if defined(ENGINE_HAVE_LIBBACKTRACE)
#include <backtrace.h>
#endif

namespace platform {

namespace {

#if defined(ENGINE_HAVE_LIBBACKTRACE)
std::atomic<backtrace_state*> g_state{nullptr};

void ignoreError(void*, const char*, int) {}

struct PcResult {
    AddressInfo* info;
    int answers;
};

int onPcInfo(void* data, std::uintptr_t, const char* file, int line, const char* function) {
    auto* r = static_cast<PcResult*>(data);
    // The first answer is the innermost inlined function: the exact place.
    if (r->answers++ > 0) return 0;
    if (function) {
        r->info->function = demangle(function);
        r->info->fromDebugData = true;
    }
    if (file) {
        r->info->file = file;
        r->info->line = line;
    }
    return 0;
}

void onSymInfo(void* data, std::uintptr_t, const char* name, std::uintptr_t start, std::uintptr_t) {
    auto* info = static_cast<AddressInfo*>(data);
    if (!name) return;
    info->function = demangle(name);
    info->functionStart = start;
    info->fromDebugData = true;
}
#endif

}  // namespace

namespace {

struct Capture {
    std::uintptr_t* frames;
    int capacity;
    int count;
    int skip;
};

_Unwind_Reason_Code onUnwindFrame(struct _Unwind_Context* context, void* data) {
    auto* c = static_cast<Capture*>(data);
    const std::uintptr_t address = _Unwind_GetIP(context);
    if (address == 0) return _URC_END_OF_STACK;
    if (c->skip > 0) {
        --c->skip;
        return _URC_NO_REASON;
    }
    if (c->count >= c->capacity) return _URC_END_OF_STACK;
    c->frames[c->count++] = address;
    return _URC_NO_REASON;
}

}  // namespace

// The unwinder is called directly rather than through backtrace(), which the
// sanitizers wrap in frames of their own.
int captureStack(std::uintptr_t* frames, int capacity) {
    if (!frames || capacity <= 0) return 0;
    Capture capture{frames, capacity, 0, 1};
    _Unwind_Backtrace(onUnwindFrame, &capture);
    return capture.count;
}

bool initializeSymbols() {
    // The unwinder reads its tables on first use: do that now, not in a fault.
    std::uintptr_t warm[2];
    captureStack(warm, 2);
#if defined(ENGINE_HAVE_LIBBACKTRACE)
    static std::once_flag once;
    std::call_once(once, [] { g_state.store(backtrace_create_state(nullptr, 1, ignoreError, nullptr)); });
    return g_state.load() != nullptr;
#else
    return false;
#endif
}

bool describeAddress(std::uintptr_t address, AddressInfo& info) {
    info = AddressInfo();
#if defined(ENGINE_HAVE_LIBBACKTRACE)
    if (backtrace_state* state = g_state.load()) {
        PcResult r{&info, 0};
        backtrace_pcinfo(state, address, onPcInfo, ignoreError, &r);
        // Debug data may name a member function without its class; the symbol
        // table has the full name. An inlined function has no symbol: its
        // debug-data name stays.
        if (r.answers <= 1) backtrace_syminfo(state, address, onSymInfo, ignoreError, &info);
    }
#endif
    Dl_info dl{};
    if (dladdr(reinterpret_cast<void*>(address), &dl) != 0) {
        if (dl.dli_fname && dl.dli_fname[0]) info.module = dl.dli_fname;
        info.moduleBase = reinterpret_cast<std::uintptr_t>(dl.dli_fbase);
        if (info.function.empty() && dl.dli_sname) {
            info.function = demangle(dl.dli_sname);
            info.functionStart = reinterpret_cast<std::uintptr_t>(dl.dli_saddr);
        }
    }
    return !info.function.empty() || !info.file.empty() || !info.module.empty();
}

std::string demangle(const char* name) {
    if (!name) return std::string();
    if (name[0] == '_' && name[1] == 'Z') {
        int status = -1;
        char* readable = abi::__cxa_demangle(name, nullptr, nullptr, &status);
        if (status == 0 && readable) {
            std::string text(readable);
            std::free(readable);
            return text;
        }
        std::free(readable);
    }
    return name;
}

}  // namespace platform
