// What the resource loaders need of the game's loading state: the progress
// report and the loading lock.
//
// The game's SaveGame implements this interface and installs itself while it
// exists; tests install a recorder. Without one, reports go nowhere and the
// lock is not taken. Stages 0 to 14 are weighted stages of the progress,
// stage 16 only keeps the loading screen alive, and stage 17 is the stage
// of managers that report nothing.
#pragma once

#include <cstdint>
#include <mutex>

constexpr std::int32_t kProgressRefreshStage = 16;
constexpr std::int32_t kProgressNoReportStage = 17;
// Stages below this count are weighted stages of the progress.
constexpr std::int32_t kProgressStageCount = 15;

class LoadingProgress {
public:
    virtual ~LoadingProgress() = default;
    // Reports an advance: a stage and the fraction of it done.
    virtual void setProgress(std::int32_t stage, float fraction) = 0;
    // The re-entrant loading lock.
    virtual std::recursive_mutex& loadingLock() = 0;
};

// The installed loading state, or null.
LoadingProgress* loadingProgress();
void setLoadingProgress(LoadingProgress* progress);

// Reports to the installed loading state, if any.
void reportLoadingProgress(std::int32_t stage, float fraction);

// Holds the loading lock for a scope, taken by polling a try-lock with 5 ms
// sleeps between tries; does nothing without an installed loading state.
class LoadingLockGuard {
public:
    LoadingLockGuard();
    ~LoadingLockGuard();
    LoadingLockGuard(const LoadingLockGuard&) = delete;
    LoadingLockGuard& operator=(const LoadingLockGuard&) = delete;

private:
    std::recursive_mutex* lock_ = nullptr;
};
