#include "render/StillFrameSlots.h"

void StillFrameSlotCounters::clear() {
    for (std::uint32_t& w : words) w = 0;
    for (std::uint32_t& w : moreWords) w = 0;
    for (std::uint8_t& f : flags) f = 0;
    word = 0;
    std::vector<std::uint8_t>().swap(buffer);
}

StillFrameSlots::StillFrameSlots() {
    counters.clear();
    smoother.stages.clear();
    smoother.setStages(2, 1.0f, 0.5f);
}

void StillFrameSlots::clear() {
    std::vector<FloatSmoothStage>().swap(smoother.stages);
    first = 0;
    for (StillFrameSlotHolder*& slot : slots) slot = nullptr;
}
