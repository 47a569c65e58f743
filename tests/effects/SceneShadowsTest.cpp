// The shadow block's atlas layout and the fade of its records.
#include <gtest/gtest.h>

#include "effects/SceneShadows.h"

// A 2048 x 1024 map with cells of at least 64: 4 of 512 in the left half,
// 8 of 256 in the next quarter, 16 of 128 in the next eighth and 64 of 64
// (4 columns of 16) in the last eighth, in that order; a map too small for
// one cell has none.
TEST(ShadowAtlas, CellsHalveFromTheLeftHalfDownToTheSmallest) {
    ShadowAtlas atlas;
    atlas.build(2048, 1024, 64);
    ASSERT_EQ(atlas.cells.size(), 92u);
    const struct {
        std::size_t first, count;
        std::int32_t size;
        float u;
    } levels[] = {{0, 4, 512, 0.0f}, {4, 8, 256, 0.5f}, {12, 16, 128, 0.75f}, {28, 64, 64, 0.875f}};
    for (const auto& level : levels) {
        const ShadowAtlas::Cell& first = atlas.cells[level.first];
        EXPECT_EQ(first.size, level.size);
        EXPECT_EQ(first.index, 0);
        EXPECT_FLOAT_EQ(first.u, level.u);
        EXPECT_FLOAT_EQ(first.v, 0.0f);
        EXPECT_FLOAT_EQ(first.sizeU, level.size / 2048.0f);
        EXPECT_FLOAT_EQ(first.sizeV, level.size / 1024.0f);
        const ShadowAtlas::Cell& last = atlas.cells[level.first + level.count - 1];
        EXPECT_EQ(last.size, level.size);
        EXPECT_EQ(last.index, std::int32_t(level.count) - 1);
    }
    // Cells are handed out from the largest; once used up, none.
    for (std::size_t i = 0; i < 92; ++i) ASSERT_NE(atlas.take(), nullptr);
    EXPECT_EQ(atlas.take(), nullptr);
    atlas.freeAll();
    EXPECT_EQ(atlas.take(), &atlas.cells[0]);
    atlas.build(64, 64, 64);
    EXPECT_TRUE(atlas.cells.empty());
    atlas.build(256, 256, 0);
    EXPECT_TRUE(atlas.cells.empty());
}

// A new record fades in over a second; a light that stops lighting the
// caster fades it out over a second, then it is removed; a light that
// comes back during the fade-out fades in again from the current weight.
TEST(ShadowRecordFade, InAndOutOverASecondAndBackFromTheCurrentWeight) {
    ShadowRecord record;
    ASSERT_TRUE(SceneShadows::fadeStep(record, 0.25));
    EXPECT_TRUE(record.flags & kShadowFadeStarted);
    EXPECT_FLOAT_EQ(record.fade, 0.25f);
    EXPECT_FLOAT_EQ(record.intensity, 0.25f);
    for (int i = 0; i < 4; ++i) ASSERT_TRUE(SceneShadows::fadeStep(record, 0.25));
    EXPECT_FLOAT_EQ(record.fade, 1.0f);
    // Not lit any more: flagged for removal each frame.
    record.flags |= kShadowRemove;
    ASSERT_TRUE(SceneShadows::fadeStep(record, 0.5));
    EXPECT_FLOAT_EQ(record.fade, 0.5f);
    // Lit again half way: back in from 0.5.
    ASSERT_TRUE(SceneShadows::fadeStep(record, 0.25));
    EXPECT_FLOAT_EQ(record.fade, 0.5f + 0.25f * 0.5f);
    for (int i = 0; i < 8; ++i) {
        record.flags |= kShadowRemove;
        if (!SceneShadows::fadeStep(record, 0.25)) {
            EXPECT_FLOAT_EQ(record.fade, 0.0f);
            EXPECT_GE(i, 3);
            return;
        }
    }
    ADD_FAILURE() << "the record was never removed";
}
