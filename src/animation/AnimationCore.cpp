#include "animation/AnimationCore.h"

#include "animation/AnimationTracker.h"
#include "app/GameCore.h"
#include "foundation/IniFile.h"

AnimationDebugSettings animationDebugSettings;

AnimationCore::AnimationCore()
    : animations_(std::make_unique<AnimationDataManager>()),
      morphs_(std::make_unique<MorphDataManager>()),
      trackerMaps_(std::make_unique<AnimationTrackerMapManager>()),
      rules_(std::make_unique<AnimCtrlRulesManager>()) {}

AnimationCore::~AnimationCore() { release(); }

bool AnimationCore::initialize() {
    if (!trackerMaps_->initialize() || !rules_->initialize()) return false;
    AnimationTracker::readSettings();
    return true;
}

void AnimationCore::readDebugConfig() {
    if (!gameCore.settings) return;
    IniCategory& debug = gameCore.settings->getCategory("debug");
    debug.getVariable("debug_animation_name").getString(animationDebugSettings.animationName, "hero.idle");
    debug.getVariable("debug_bone_name").getString(animationDebugSettings.boneName, "root");
}

void AnimationCore::release() {
    animations_->unloadAll();
    animations_->releaseAll();
    morphs_->release();
    trackerMaps_->release();
    rules_->release();
}
