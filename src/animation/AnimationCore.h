// The animation core: the animation data, morph and rule managers and the
// animation debug settings.
//
// The core owns the four animation data managers from its construction to
// its destruction.
#pragma once

#include <memory>
#include <string>

#include "animation/AnimationDataManager.h"

// The animation debug settings (section "debug"): kept, read by nothing else.
struct AnimationDebugSettings {
    std::string animationName = "hero.idle";
    std::string boneName = "root";
};
extern AnimationDebugSettings animationDebugSettings;

class AnimationCore {
public:
    AnimationCore();
    ~AnimationCore();
    AnimationCore(const AnimationCore&) = delete;
    AnimationCore& operator=(const AnimationCore&) = delete;

    // Initialises the tracker-map and then the rules manager from the
    // packages, then reads the tracker settings; false when either manager
    // fails, which ends the engine start ("Animation core NOT initialized").
    bool initialize();
    // Reads section "debug" of the game core's settings
    // ("debug_animation_name", "debug_bone_name"); missing keys are added.
    void readDebugConfig();
    // Game release: unloads all animations and releases them, then releases
    // the morph, tracker-map and rules managers, in that order.
    void release();

    AnimationDataManager& animations() { return *animations_; }
    MorphDataManager& morphs() { return *morphs_; }
    AnimationTrackerMapManager& trackerMaps() { return *trackerMaps_; }
    AnimCtrlRulesManager& rules() { return *rules_; }

private:
    std::unique_ptr<AnimationDataManager> animations_;
    std::unique_ptr<MorphDataManager> morphs_;
    std::unique_ptr<AnimationTrackerMapManager> trackerMaps_;
    std::unique_ptr<AnimCtrlRulesManager> rules_;
};
