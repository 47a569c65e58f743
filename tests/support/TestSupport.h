// Helpers shared by the tests: temporary folders, file access and a scoped
// game-core record that installs only the members a test needs.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <type_traits>
#include <vector>

#include "app/GameCore.h"

class Log;
class AppPaths;

namespace testing_support {

// A fresh folder under the system's temporary folder, removed with its
// contents when the object goes out of scope.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return path_; }
    // path() + "/" + relative
    std::string file(const std::string& relative) const { return path_ + "/" + relative; }

private:
    std::string path_;
};

// Records the largest single heap allocation made while it lives, so a
// test can show that input data did not make the code allocate what they
// claim. Recorded only where the allocator reports allocations (the
// AddressSanitizer builds); recording() says whether it does.
class LargestAllocation {
public:
    LargestAllocation();
    ~LargestAllocation();
    LargestAllocation(const LargestAllocation&) = delete;
    LargestAllocation& operator=(const LargestAllocation&) = delete;

    std::size_t bytes() const;
    // The number of allocations made while it lives.
    std::size_t count() const;
    static bool recording();
};

// From now on a single allocation over bytes (0: none) ends the process
// with a message; false where allocations are not reported.
bool limitAllocations(std::size_t bytes);

bool writeFile(const std::string& path, const std::string& bytes);
// A little-endian 32-bit word or float of written bytes at an offset.
inline std::uint32_t wordAt(const std::string& bytes, std::size_t at) {
    std::uint32_t v = 0;
    std::memcpy(&v, bytes.data() + at, 4);
    return v;
}
inline float floatAt(const std::string& bytes, std::size_t at) {
    float v = 0;
    std::memcpy(&v, bytes.data() + at, 4);
    return v;
}
std::string readFile(const std::string& path);
bool makeFolders(const std::string& path);
bool exists(const std::string& path);

// Installs a fresh Log (and, on request, AppPaths) into the global game-core
// record; the destructor deletes them and restores the whole record as it
// was, members set during the scope included.
class ScopedGameCore {
public:
    explicit ScopedGameCore(bool withPaths = false);
    ~ScopedGameCore();
    ScopedGameCore(const ScopedGameCore&) = delete;
    ScopedGameCore& operator=(const ScopedGameCore&) = delete;

    Log& log() { return *log_; }
    AppPaths& paths() { return *paths_; }

private:
    GameCore saved_;
    Log* log_;
    AppPaths* paths_;
};

// Puts a value into one pointer member of the game core for the scope and
// gives back the one it found: ScopedCoreMember use(gameCore.settings, &ini).
template <class T>
class ScopedCoreMember {
public:
    ScopedCoreMember(T*& member, std::type_identity_t<T*> value) : member_(member), saved_(member) {
        member = value;
    }
    ~ScopedCoreMember() { member_ = saved_; }
    ScopedCoreMember(const ScopedCoreMember&) = delete;
    ScopedCoreMember& operator=(const ScopedCoreMember&) = delete;

    // The value the member had before the scope.
    T* saved() const { return saved_; }

private:
    T*& member_;
    T* saved_;
};

// Runs a program with extra environment variables in a working folder,
// waits at most timeoutSeconds, and returns its exit status (128 + signal
// when a signal ended it, -1 on a time-out or failure to start). Its
// standard error is captured when stderrText is given.
int runProgram(const std::string& program, const std::vector<std::string>& arguments,
               const std::vector<std::string>& environment, const std::string& workingFolder,
               int timeoutSeconds, std::string* stderrText = nullptr);

}  // namespace testing_support
