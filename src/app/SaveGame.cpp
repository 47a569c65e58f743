#include "app/SaveGame.h"

#include "platform/Time.h"

namespace {

// Weight of each progress stage; they sum to 1.
constexpr float kStageWeights[kProgressStageCount] = {0.0f,   0.4f,  0.04f, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f,
                                                      0.005f, 0.005f, 0.05f, 0.0f, 0.0f, 0.0f, 0.5f};
// A rise below this does not change the stored progress.
constexpr float kMinimumRise = 0.001f;

}  // namespace

SaveGame::SaveGame() { setLoadingProgress(this); }

SaveGame::~SaveGame() {
    if (loadingProgress() == this) setLoadingProgress(nullptr);
}

float SaveGame::progressTotal(std::int32_t stage, float fraction) {
    if (stage < 0 || stage >= kProgressStageCount) return 0.0f;
    float total = 0.0f;
    for (std::int32_t i = 0; i < stage; ++i) total += kStageWeights[i];
    return total + fraction * kStageWeights[stage];
}

void SaveGame::setProgress(std::int32_t stage, float fraction) {
    if (!(flags & kSaveGameProgressActive)) return;
    if (stage != kProgressRefreshStage) {
        const float total = progressTotal(stage, fraction);
        if (total - progress >= kMinimumRise) progress = total;
    }
    while (!loadingLock_.try_lock()) platform::sleepMilliseconds(5);
    loadingLock_.unlock();
}

void SaveGame::startProgress() {
    flags |= kSaveGameProgressActive;
    progress = -1.0f;
    setProgress(0, 0.0f);
}

void SaveGame::finishProgress() {
    progress = -1.0f;
    loading = 0;
    flags &= ~kSaveGameProgressActive;
}
