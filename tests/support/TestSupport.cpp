#include "support/TestSupport.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "foundation/AppPaths.h"
#include "foundation/Log.h"

#if defined(__SANITIZE_ADDRESS__)
// The sanitizer runtime's allocation hooks (its interface header is not
// installed everywhere).
extern "C" int __sanitizer_install_malloc_and_free_hooks(void (*onAllocation)(const volatile void*, std::size_t),
                                                         void (*onRelease)(const volatile void*));
#endif

namespace testing_support {

namespace {

std::atomic<bool> watchingAllocations{false};
std::atomic<std::size_t> largestAllocation{0};
std::atomic<std::size_t> allocationCount{0};
std::atomic<std::size_t> allocationLimit{0};

#if defined(__SANITIZE_ADDRESS__)
// Inside the allocator: no formatted output and no allocation.
[[noreturn]] void overLimit(std::size_t size) {
    char line[64] = "allocation over the limit: ";
    std::size_t at = std::strlen(line);
    char digits[24];
    std::size_t count = 0;
    do {
        digits[count++] = static_cast<char>('0' + size % 10);
        size /= 10;
    } while (size != 0);
    while (count != 0) line[at++] = digits[--count];
    line[at++] = '\n';
    [[maybe_unused]] const ssize_t written = ::write(2, line, at);
    std::abort();
}

void onAllocation(const volatile void*, std::size_t size) {
    const std::size_t limit = allocationLimit.load(std::memory_order_relaxed);
    if (limit != 0 && size > limit) overLimit(size);
    if (!watchingAllocations.load(std::memory_order_relaxed)) return;
    allocationCount.fetch_add(1, std::memory_order_relaxed);
    std::size_t seen = largestAllocation.load(std::memory_order_relaxed);
    while (size > seen && !largestAllocation.compare_exchange_weak(seen, size, std::memory_order_relaxed)) {
    }
}
void onRelease(const volatile void*) {}
bool installAllocationHooks() {
    static const bool installed = __sanitizer_install_malloc_and_free_hooks(onAllocation, onRelease) != 0;
    return installed;
}
#else
bool installAllocationHooks() { return false; }
#endif

}  // namespace

LargestAllocation::LargestAllocation() {
    installAllocationHooks();
    largestAllocation = 0;
    allocationCount = 0;
    watchingAllocations = true;
}

LargestAllocation::~LargestAllocation() { watchingAllocations = false; }

std::size_t LargestAllocation::bytes() const { return largestAllocation.load(); }

std::size_t LargestAllocation::count() const { return allocationCount.load(); }

bool LargestAllocation::recording() { return installAllocationHooks(); }

bool limitAllocations(std::size_t bytes) {
    allocationLimit = bytes;
    return installAllocationHooks();
}

TempDir::TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "engine-test-XXXXXX").string();
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back(0);
    if (::mkdtemp(buffer.data())) path_ = buffer.data();
}

TempDir::~TempDir() {
    if (!path_.empty()) {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
}

bool writeFile(const std::string& path, const std::string& bytes) {
    std::filesystem::path p(path);
    std::error_code ec;
    if (p.has_parent_path()) std::filesystem::create_directories(p.parent_path(), ec);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out);
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

bool makeFolders(const std::string& path) {
    std::error_code ec;
    std::filesystem::create_directories(path, ec);
    return !ec;
}

bool exists(const std::string& path) { return std::filesystem::exists(path); }

ScopedGameCore::ScopedGameCore(bool withPaths)
    : saved_(gameCore), log_(new Log), paths_(withPaths ? new AppPaths : nullptr) {
    gameCore.log = log_;
    gameCore.paths = paths_;
}

ScopedGameCore::~ScopedGameCore() {
    // The whole record comes back, so no member a test set in the scope
    // outlives it; the log and paths go with the scope.
    gameCore = saved_;
    delete log_;
    delete paths_;
}

int runProgram(const std::string& program, const std::vector<std::string>& arguments,
               const std::vector<std::string>& environment, const std::string& workingFolder,
               int timeoutSeconds, std::string* stderrText) {
    int errPipe[2] = {-1, -1};
    if (stderrText && ::pipe(errPipe) != 0) return -1;
    pid_t pid = ::fork();
    if (pid < 0) return -1;
    if (pid == 0) {
        if (stderrText) {
            ::dup2(errPipe[1], 2);
            ::close(errPipe[0]);
            ::close(errPipe[1]);
        }
        if (!workingFolder.empty() && ::chdir(workingFolder.c_str()) != 0) ::_exit(126);
        for (const auto& e : environment) ::putenv(const_cast<char*>(e.c_str()));
        std::vector<char*> argv;
        argv.push_back(const_cast<char*>(program.c_str()));
        for (const auto& a : arguments) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        ::execv(program.c_str(), argv.data());
        ::_exit(127);
    }
    if (stderrText) {
        ::close(errPipe[1]);
        ::fcntl(errPipe[0], F_SETFL, O_NONBLOCK);
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeoutSeconds);
    int status = 0;
    for (;;) {
        if (stderrText) {
            char buffer[4096];
            ssize_t n;
            while ((n = ::read(errPipe[0], buffer, sizeof(buffer))) > 0) stderrText->append(buffer, n);
        }
        pid_t r = ::waitpid(pid, &status, WNOHANG);
        if (r == pid) break;
        if (std::chrono::steady_clock::now() > deadline) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, &status, 0);
            if (stderrText) ::close(errPipe[0]);
            return -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (stderrText) {
        char buffer[4096];
        ssize_t n;
        while ((n = ::read(errPipe[0], buffer, sizeof(buffer))) > 0) stderrText->append(buffer, n);
        ::close(errPipe[0]);
    }
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
    return -1;
}

}  // namespace testing_support
