// The actions a model resource declares: named boxes the player can point
// at, with the ranges within which they can be picked.
//
// Action items are not built in yet; the class keeps the default ranges,
// read once at start. A range of 0 means "not set".
#pragma once

struct ModelActionRanges {
    float maxRange3d = 0.0f;
    float minRange3d = 0.0f;
    float minRange2d = 0.0f;
    float maxRange2d = 0.0f;
    float minSize2d = 32.0f;
};

class ModelActionItemData {
public:
    // Reads section "action" of the game core's settings; missing keys are
    // added and keep their defaults.
    static void loadDefaultRanges();
    static const ModelActionRanges& defaultRanges();
};
