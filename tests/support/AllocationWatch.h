// The largest single allocation a piece of code makes, seen through the
// sanitizer's allocation hook (every malloc and operator new passes it).
// Loaders must not allocate what a header claims before the data can hold
// it; a test watches the largest allocation while it feeds one damaged
// file, and the fuzz replay sets a limit that ends the process.
//
// Without a sanitizer there is no hook: watching() is false and tests skip
// the check.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdlib>

#if defined(__SANITIZE_ADDRESS__)
#define ENGINE_ALLOCATION_HOOK 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define ENGINE_ALLOCATION_HOOK 1
#endif
#endif

#ifdef ENGINE_ALLOCATION_HOOK
#include <unistd.h>

// The sanitizer runtime's hook registration (gcc ships no header for it).
extern "C" int __sanitizer_install_malloc_and_free_hooks(void (*malloc_hook)(const volatile void*, std::size_t),
                                                         void (*free_hook)(const volatile void*));
#endif

namespace testing_support {

class AllocationWatch {
public:
    // Installs the hook once per process; true when allocations are seen.
    static bool watching() {
#ifdef ENGINE_ALLOCATION_HOOK
        static const bool installed = __sanitizer_install_malloc_and_free_hooks(onMalloc, onFree) != 0;
        return installed;
#else
        return false;
#endif
    }

    // Starts a new watch: the largest allocation seen so far is forgotten.
    static void reset() {
        watching();
        largest().store(0);
    }
    static std::size_t largestSinceReset() { return largest().load(); }

    // An allocation above bytes ends the process with a message (0: none).
    static void setLimit(std::size_t bytes) {
        watching();
        limit().store(bytes);
    }

private:
    static std::atomic<std::size_t>& largest() {
        static std::atomic<std::size_t> value{0};
        return value;
    }
    static std::atomic<std::size_t>& limit() {
        static std::atomic<std::size_t> value{0};
        return value;
    }

#ifdef ENGINE_ALLOCATION_HOOK
    static void onMalloc(const volatile void*, std::size_t size) {
        std::size_t seen = largest().load(std::memory_order_relaxed);
        while (size > seen && !largest().compare_exchange_weak(seen, size, std::memory_order_relaxed)) {
        }
        const std::size_t most = limit().load(std::memory_order_relaxed);
        if (most != 0 && size > most) {
            // Inside the allocator: no formatted output, no allocation.
            char line[96] = "allocation over the limit: ";
            std::size_t at = 27;
            char digits[24];
            std::size_t n = 0;
            do {
                digits[n++] = static_cast<char>('0' + size % 10);
                size /= 10;
            } while (size != 0);
            while (n != 0) line[at++] = digits[--n];
            const char tail[] = " bytes\n";
            for (char c : tail)
                if (c) line[at++] = c;
            [[maybe_unused]] const auto written = ::write(2, line, at);
            std::abort();
        }
    }
    static void onFree(const volatile void*) {}
#endif
};

}  // namespace testing_support
