// The render core's still-frame slot block.
#include "render/StillFrameSlots.h"

#include <gtest/gtest.h>

namespace {

TEST(StillFrameSlots, StartValuesAndWhatEmptyingKeeps) {
    StillFrameSlots block;
    EXPECT_EQ(block.background, 0xFF406080u);
    ASSERT_EQ(block.smoother.stages.size(), 2u);
    EXPECT_FLOAT_EQ(block.smoother.stages[0].timeConstant, 1.0f);
    EXPECT_FLOAT_EQ(block.smoother.stages[1].timeConstant, 1.5f);
    for (const StillFrameSlotHolder* slot : block.slots) EXPECT_EQ(slot, nullptr);

    StillFrameSlotHolder holder;
    block.first = 7;
    block.slots[3] = &holder;
    block.slotFlags[3] = 1;
    block.counters.words[0] = 5;
    block.counters.keptWords[1] = 9;
    block.background = 0xFF000000;
    block.clear();
    EXPECT_EQ(block.first, 0u);
    EXPECT_EQ(block.slots[3], nullptr);
    EXPECT_TRUE(block.smoother.stages.empty());  // not set up again
    EXPECT_EQ(block.slotFlags[3], 1);
    EXPECT_EQ(block.counters.words[0], 5u);
    EXPECT_EQ(block.background, 0xFF000000u);

    block.counters.buffer.assign(16, 1);
    block.counters.clear();
    EXPECT_EQ(block.counters.words[0], 0u);
    EXPECT_EQ(block.counters.keptWords[1], 9u);  // only construction zeroes them
    EXPECT_TRUE(block.counters.buffer.empty());
}

}  // namespace
