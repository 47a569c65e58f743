#include "animation/AnimationCore.h"

#include "app/GameCore.h"
#include "foundation/IniFile.h"

AnimationDebugSettings animationDebugSettings;

AnimationCore::~AnimationCore() { release(); }

bool AnimationCore::initialize() { return true; }

void AnimationCore::readDebugConfig() {
    if (!gameCore.settings) return;
    IniCategory& debug = gameCore.settings->getCategory("debug");
    debug.getVariable("debug_animation_name").getString(animationDebugSettings.animationName, "hero.idle");
    debug.getVariable("debug_bone_name").getString(animationDebugSettings.boneName, "root");
}

void AnimationCore::release() {}
