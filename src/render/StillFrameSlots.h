// The render core's still-frame slot block: 32 slots for still-frame items
// the renderer places, a record of counters and flags, the background colour
// (refreshed by the sky's render each frame; render targets without a clear
// colour of their own are cleared with it) and a two-stage smoother.
//
// Emptying the block (clear) runs when a scene is left and when the device
// is made or released: the smoother loses its stages for good, the first
// word and every slot become empty; flags, counters and colour stay.
#pragma once

#include <cstdint>
#include <vector>

#include "foundation/Smoother.h"

// What a slot points to; its first field is the still-frame item.
struct StillFrameSlotHolder {
    void* item = nullptr;
};

// Counters and flags of the block; clear() zeroes all but the kept words
// and frees the buffer.
struct StillFrameSlotCounters {
    std::uint32_t words[10] = {};
    std::uint32_t keptWords[4] = {};  // zero at construction only
    std::uint32_t moreWords[5] = {};
    std::uint8_t flags[3] = {};
    std::uint32_t word = 0;
    std::vector<std::uint8_t> buffer;

    void clear();
};

class StillFrameSlots {
public:
    static constexpr int kSlotCount = 32;
    static constexpr std::uint32_t kDefaultBackground = 0xFF406080;

    // Every field at its start value; the smoother gets two stages (time
    // constants 1.0 and 1.5).
    StillFrameSlots();
    // Frees the smoother's stages, zeroes the first word and empties every
    // slot. The holders are not freed here; their items go back to the
    // still frames, which own them (none can be made yet).
    void clear();

    std::uint32_t first = 0;
    StillFrameSlotHolder* slots[kSlotCount] = {};
    StillFrameSlotCounters counters;
    std::uint8_t slotFlags[kSlotCount] = {};
    std::uint32_t further = 0;
    std::uint32_t moreWords[3] = {};
    std::uint32_t background = kDefaultBackground;  // ARGB
    FloatSmooth smoother;
};
