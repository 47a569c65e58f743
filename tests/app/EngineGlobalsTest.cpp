#include "app/EngineGlobals.h"

#include <gtest/gtest.h>


namespace {

// A row vector (x, y, 0, 1) times a 4x4 matrix stored row by row.
void transform(const float* m, float x, float y, float& outX, float& outY) {
    outX = x * m[0] + y * m[4] + m[12];
    outY = x * m[1] + y * m[5] + m[13];
}

TEST(EngineGlobals, PixelToClipCoversTheScreen) {
    struct Case {
        float x, y, clipX, clipY;
    };
    const Case cases[] = {{0.0f, 0.0f, -1.0f, 1.0f}, {1024.0f, 768.0f, 1.0f, -1.0f}, {512.0f, 384.0f, 0.0f, 0.0f}};
    for (const Case& c : cases) {
        float x = 0.0f, y = 0.0f;
        transform(globalPixelToClipMatrix, c.x, c.y, x, y);
        EXPECT_FLOAT_EQ(x, c.clipX);
        EXPECT_FLOAT_EQ(y, c.clipY);
    }
    EXPECT_EQ(globalPixelToClipMatrix[0], 0.001953125f);
}

}  // namespace
