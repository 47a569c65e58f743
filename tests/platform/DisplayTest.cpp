#include "platform/Display.h"

#include <gtest/gtest.h>

TEST(Display, DesktopResolutionIsAlwaysAUsableSize) {
    std::int32_t width = -1;
    std::int32_t height = -1;
    const bool found = platform::desktopResolution(width, height);
    EXPECT_GT(width, 0);
    EXPECT_GT(height, 0);
    if (!found) {
        EXPECT_EQ(width, 1024);
        EXPECT_EQ(height, 768);
    }
    // Asking again gives the same answer.
    std::int32_t again = 0;
    std::int32_t againHeight = 0;
    EXPECT_EQ(platform::desktopResolution(again, againHeight), found);
    EXPECT_EQ(again, width);
    EXPECT_EQ(againHeight, height);
}
