// The run-time action items of a model: one per action its resource
// declares, each with its enabled bit and its five ranges (0: not set).
#pragma once

#include <cstdint>

// Bit of ModelActionItem::flags.
constexpr std::uint32_t kModelActionEnabled = 0x1;

struct ModelActionItem {
    char name[128];
    std::uint32_t flags;
    float maxRange3d;
    float minRange3d;
    float minRange2d;
    float maxRange2d;
    float minSize2d;
};
