// The actions a model resource declares: named boxes the player can point
// at, with the ranges within which they can be picked.
//
// One record of a model file's action zone: u16 name, the action-to-parent
// 3x4 matrix, the size and spot vectors, u16 bone name. The class also
// keeps the default ranges, read once at start; a range of 0 means "not
// set".
#pragma once

#include <cstdint>

#include "foundation/Math.h"

class DataStream;
class XmlTag;

struct ModelActionRanges {
    float maxRange3d = 0.0f;
    float minRange3d = 0.0f;
    float minRange2d = 0.0f;
    float maxRange2d = 0.0f;
    float minSize2d = 32.0f;
};

class ModelActionItemData {
public:
    // Bytes read or written, or the first negative result; a name of 128
    // characters or more is refused (-1).
    std::int32_t read(DataStream& stream);
    std::int32_t write(DataStream& stream) const;
    // A node named by the action with "No" = index, "bone", "action2parent",
    // "spot2action" and "size".
    void exportTree(XmlTag& parent, std::int32_t index) const;

    char name[128] = {};
    Matrix34 actionToParent = matrix34Identity();
    float size[3] = {};
    float spot[3] = {};
    char bone[128] = {};

    // Reads section "action" of the game core's settings; missing keys are
    // added and keep their defaults.
    static void loadDefaultRanges();
    static const ModelActionRanges& defaultRanges();
};
