// The animation core: the animation data, morph and rule managers and the
// animation debug settings.
//
// No animation data manager is built in yet: the core initialises with
// nothing to load and releases nothing.
#pragma once

class AnimationCore {
public:
    AnimationCore() = default;
    ~AnimationCore();
    AnimationCore(const AnimationCore&) = delete;
    AnimationCore& operator=(const AnimationCore&) = delete;

    // False ends the engine start ("Animation core NOT initialized").
    bool initialize();
    // Reads section "debug" (debug_animation_name, debug_bone_name).
    void readDebugConfig();
    // Unloads and releases every animation data manager.
    void release();
};
