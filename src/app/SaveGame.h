// The game's scenes and loading state. This part holds the loading lock and
// the loading progress: every loader reports a stage and a fraction, and the
// progress is the sum of the weights of the stages before it plus the
// fraction of its own weight. The progress never falls during a load.
#pragma once

#include <cstdint>
#include <mutex>

#include "resources/LoadingProgress.h"

// Bits of SaveGame::flags.
constexpr std::uint32_t kSaveGameProgressActive = 0x0004;

class SaveGame : public LoadingProgress {
public:
    // Installs itself as the loading state the resource loaders report to.
    SaveGame();
    ~SaveGame() override;
    SaveGame(const SaveGame&) = delete;
    SaveGame& operator=(const SaveGame&) = delete;

    // A report of a load's advance; nothing happens outside a load.
    void setProgress(std::int32_t stage, float fraction) override;
    std::recursive_mutex& loadingLock() override { return loadingLock_; }

    // Open and close a load's progress.
    void startProgress();
    void finishProgress();

    // The overall progress of a report: 0 for stage 15 and above.
    static float progressTotal(std::int32_t stage, float fraction);

    std::uint32_t flags = 0;
    float progress = 0.0f;  // -1 outside a load
    std::uint8_t loading = 0;

private:
    std::recursive_mutex loadingLock_;
};
