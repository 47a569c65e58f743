#include "animation/AnimationCore.h"

AnimationCore::~AnimationCore() { release(); }

bool AnimationCore::initialize() { return true; }

void AnimationCore::readDebugConfig() {}

void AnimationCore::release() {}
