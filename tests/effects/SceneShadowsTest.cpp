// The shadow block's atlas layout and the fade of its records.
#include <gtest/gtest.h>

#include "effects/SceneShadows.h"
#include "support/SettingsFixture.h"

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
        float u, right, weight;
    } levels[] = {{0, 4, 512, 0.0f, 0.5f, 2.0f},
                  {4, 8, 256, 0.5f, 0.75f, 4.0f},
                  {12, 16, 128, 0.75f, 0.875f, 8.0f},
                  {28, 64, 64, 0.875f, 1.0f, 16.0f}};
    for (const auto& level : levels) {
        const ShadowAtlas::Cell& first = atlas.cells[level.first];
        EXPECT_EQ(first.size, level.size);
        EXPECT_EQ(first.index, 0);
        EXPECT_FLOAT_EQ(first.u, level.u);
        EXPECT_FLOAT_EQ(first.v, 0.0f);
        EXPECT_FLOAT_EQ(first.sizeU, level.size / 2048.0f);
        EXPECT_FLOAT_EQ(first.sizeV, level.size / 1024.0f);
        EXPECT_FLOAT_EQ(first.weight, level.weight);
        const ShadowAtlas::Cell& last = atlas.cells[level.first + level.count - 1];
        EXPECT_EQ(last.size, level.size);
        EXPECT_FLOAT_EQ(last.weight, level.weight);
        // Columns first, rows within: the last cell is the bottom right one.
        EXPECT_FLOAT_EQ(last.u + last.sizeU, level.right);
        EXPECT_FLOAT_EQ(last.v + last.sizeV, 1.0f);
        EXPECT_EQ(last.index, std::int32_t(level.count) - 1);
    }
    // Cells are handed out from the largest; once used up, none.
    for (std::size_t i = 0; i < 92; ++i) ASSERT_NE(atlas.take(), nullptr);
    EXPECT_EQ(atlas.take(), nullptr);
    atlas.freeAll();
    EXPECT_EQ(atlas.take(), &atlas.cells[0]);
    atlas.build(64, 64, 64);
    EXPECT_TRUE(atlas.cells.empty());
    // Odd or damaged sizes: no cell reaches past the target, none at all
    // for negative sizes or a smallest cell below 1.
    const struct {
        std::int32_t width, height, minItem;
    } odd[] = {{256, 256, 0}, {256, 256, -8}, {-512, 256, 64}, {512, -256, 64}, {300, 190, 16}, {97, 61, 7}};
    for (const auto& c : odd) {
        atlas.build(c.width, c.height, c.minItem);
        if (c.width <= 0 || c.height <= 0 || c.minItem < 1) {
            EXPECT_TRUE(atlas.cells.empty()) << c.width;
        }
        for (const ShadowAtlas::Cell& cell : atlas.cells) {
            EXPECT_LE(cell.u + cell.sizeU, 1.0f + 1e-6f) << c.width << "x" << c.height;
            EXPECT_LE(cell.v + cell.sizeV, 1.0f + 1e-6f) << c.width << "x" << c.height;
            EXPECT_GE(cell.size, c.minItem);
        }
    }
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

// Section "shadow": the ten keys with their defaults, values from the store,
// and a smallest atlas cell below one texel (whose halving would never end)
// reported with the default kept.
TEST(ShadowSettingsRead, TheTenKeysAndASmallestCellOfAtLeastOneTexel) {
    {
        testing_support::SettingsFixture f;
        f.set("shadow", "shadow_blur_disable", "yes")
            .set("shadow", "shadow_blur_offset", "2.5")
            .set("shadow", "shadow_texture_min_item", "32")
            .set("shadow", "shadow_soft_texture_max", "512")
            .set("shadow", "shadow_min_item_size2", "0.5")
            .set("shadow", "shadow_extra_offset", "0.75");
        readShadowSettings(f.settings);
        EXPECT_TRUE(shadowSettings.blurDisable);
        EXPECT_FLOAT_EQ(shadowSettings.blurOffset, 2.5f);
        EXPECT_EQ(shadowSettings.textureMinItem, 32);
        EXPECT_EQ(shadowSettings.softTextureMax, 512);
        EXPECT_FLOAT_EQ(shadowSettings.minItemSize2, 0.5f);
        EXPECT_FLOAT_EQ(shadowSettings.extraOffset, 0.75f);
        EXPECT_EQ(shadowSettings.textureMinSize, 64);
        EXPECT_EQ(shadowSettings.textureMaxWidth, 4096);
        EXPECT_EQ(shadowSettings.textureMaxHeight, 4096);
        EXPECT_FLOAT_EQ(shadowSettings.minItemSize1, 1.0f);
        for (const char* key : {"shadow_blur_disable", "shadow_blur_offset", "shadow_texture_min_size",
                                "shadow_texture_min_item", "shadow_texture_max_width", "shadow_texture_max_height",
                                "shadow_soft_texture_max", "shadow_min_item_size1", "shadow_min_item_size2",
                                "shadow_extra_offset"})
            EXPECT_TRUE(f.has("shadow", key)) << key;
    }
    for (const char* text : {"0", "-64"}) {
        testing_support::SettingsFixture f;
        f.set("shadow", "shadow_texture_min_item", text);
        readShadowSettings(f.settings);
        EXPECT_EQ(shadowSettings.textureMinItem, 64) << text;
        EXPECT_TRUE(f.log().contains("shadow_texture_min_item")) << text;
        // The atlas laid out with it ends.
        ShadowAtlas atlas;
        atlas.build(2048, 1024, shadowSettings.textureMinItem);
        EXPECT_EQ(atlas.cells.size(), 92u);
    }
    testing_support::SettingsFixture defaults;
    readShadowSettings(defaults.settings);
}
