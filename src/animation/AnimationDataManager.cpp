#include "animation/AnimationDataManager.h"

#include "resources/LoadingProgress.h"

bool AnimationDataManager::allocateAll() {
    reportLoadingProgress(10, 1.0f);
    return true;
}

void AnimationDataManager::unloadAll() {}

void AnimationDataManager::releaseAll() {}

void MorphDataManager::release() {}

void AnimationTrackerMapManager::release() {}

void AnimCtrlRulesManager::release() {}
