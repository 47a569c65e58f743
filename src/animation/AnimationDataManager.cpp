#include "animation/AnimationDataManager.h"

void AnimationDataManager::unloadAll() {}

void AnimationDataManager::releaseAll() {}

void MorphDataManager::release() {}

void AnimationTrackerMapManager::release() {}

void AnimCtrlRulesManager::release() {}
