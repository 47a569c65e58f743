// The animation core: the animation data, morph and rule managers and the
// animation debug settings.
//
// No animation data manager is built in yet: the core initialises with
// nothing to load and releases nothing.
#pragma once

#include <string>

// The animation debug settings (section "debug"): kept, read by nothing else.
struct AnimationDebugSettings {
    std::string animationName = "hero.idle";
    std::string boneName = "root";
};
extern AnimationDebugSettings animationDebugSettings;

class AnimationCore {
public:
    AnimationCore() = default;
    ~AnimationCore();
    AnimationCore(const AnimationCore&) = delete;
    AnimationCore& operator=(const AnimationCore&) = delete;

    // False ends the engine start ("Animation core NOT initialized").
    bool initialize();
    // Reads section "debug" of the game core's settings
    // ("debug_animation_name", "debug_bone_name"); missing keys are added.
    void readDebugConfig();
    // Unloads and releases every animation data manager.
    void release();
};
