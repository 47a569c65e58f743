#include "foundation/BlenderHeader.h"

#include <gtest/gtest.h>

#include <cmath>

#include <cstring>
#include <vector>

#include "foundation/DataStream.h"
#include "foundation/Log.h"
#include "foundation/TimeCore.h"
#include "support/TestSupport.h"

namespace {

CurrentTime sampleOf(double step) {
    CurrentTime sample;
    sample.game.step = step;
    sample.world.step = 99.0;  // only the game step counts
    return sample;
}

// The levels after each of count steps of the given length.
std::vector<float> levels(BlenderHeader& blender, double step, int count) {
    std::vector<float> out;
    for (int i = 0; i < count; ++i) {
        blender.update(sampleOf(step));
        out.push_back(blender.level);
    }
    return out;
}

BlenderHeader linear() {
    BlenderHeader blender;
    blender.setLow(0.0f);
    blender.setHigh(1.0f);
    blender.coefficient = 1.0f;
    return blender;
}

}  // namespace

TEST(BlenderHeader, StartRampFadesIn) {
    BlenderHeader blender = linear();
    ASSERT_TRUE(blender.setStart(0.0, 2.0));
    EXPECT_FALSE(blender.enabled);  // configuring does not start the run
    ASSERT_TRUE(blender.run());
    const std::vector<float> got = levels(blender, 0.5, 6);
    const std::vector<float> want = {0.25f, 0.5f, 0.75f, 1.0f, 1.0f, 1.0f};
    for (size_t i = 0; i < want.size(); ++i) EXPECT_FLOAT_EQ(got[i], want[i]) << i;
    EXPECT_TRUE(blender.isEnabled());
    // Running with a level: run refuses and changes nothing.
    EXPECT_FALSE(blender.run());
    EXPECT_DOUBLE_EQ(blender.elapsed, 3.0);
    EXPECT_FLOAT_EQ(blender.level, 1.0f);
}

TEST(BlenderHeader, DelayedStartAndJumps) {
    BlenderHeader blender = linear();
    ASSERT_TRUE(blender.setStart(1.0, 0.0));  // a jump at 1 s
    EXPECT_EQ(blender.start.rate, -1.0);
    blender.run();
    EXPECT_EQ(levels(blender, 0.5, 3), (std::vector<float>{0.0f, 1.0f, 1.0f}));
}

TEST(BlenderHeader, EndRampFadesOutAndDisables) {
    BlenderHeader blender = linear();
    blender.setStart(0.0, 0.0);
    blender.run();
    blender.update(sampleOf(0.1));
    ASSERT_FLOAT_EQ(blender.level, 1.0f);
    ASSERT_TRUE(blender.setEnd(0.0, 1.0));
    EXPECT_DOUBLE_EQ(blender.endTime, 0.1);  // counted from now while running
    EXPECT_EQ(blender.startTime, -1.0);

    const std::vector<float> got = levels(blender, 0.25, 4);
    const std::vector<float> want = {0.75f, 0.5f, 0.25f, 0.0f};
    for (size_t i = 0; i < want.size(); ++i) EXPECT_NEAR(got[i], want[i], 1e-6) << i;
    // A frame landing exactly on the ramp's end finishes the run: no bounce
    // back to the held level on the next frame.
    EXPECT_FALSE(blender.enabled);
    blender.update(sampleOf(0.25));
    EXPECT_FLOAT_EQ(blender.level, 0.0f);

    // Frames that step past the end disable it as well.
    BlenderHeader other = linear();
    other.setStart(0.0, 0.0);
    other.run();
    other.update(sampleOf(0.1));
    other.setEnd(0.0, 1.0);
    levels(other, 0.3, 4);
    EXPECT_FALSE(other.enabled);
    EXPECT_FLOAT_EQ(other.level, 0.0f);
}

TEST(BlenderHeader, CurveBendsTheRamp) {
    BlenderHeader blender = linear();
    blender.coefficient = 0.5f;  // exponent 2: flatter in the middle
    ASSERT_TRUE(blender.setStart(0.0, 1.0));
    blender.run();
    blender.update(sampleOf(0.25));
    // y = -0.5 -> -0.25 -> x = 0.375
    EXPECT_FLOAT_EQ(blender.level, 0.375f);
    blender.update(sampleOf(0.25));
    EXPECT_FLOAT_EQ(blender.level, 0.5f);
    blender.update(sampleOf(0.25));
    EXPECT_FLOAT_EQ(blender.level, 0.625f);
}

TEST(BlenderHeader, RefusalsAreLogged) {
    struct Case {
        float coefficient;
        double time, duration;
        bool end;
        const char* message;
    };
    const Case cases[] = {
        {25.0f, 0.0, 1.0, false,
         "Try to set invalid BlenderFade function coefficient support only [0..0.2..1..20]. Down to 1."},
        {-1.0f, 0.0, 1.0, true,
         "Try to set invalid BlenderFade function coefficient support only [0..0.2..1..20]. Down to 1."},
        {1.0f, -1.0, 1.0, false, "BlenderHeader: start must be more than 0"},
        {1.0f, 0.0, -1.0, false, "BlenderHeader: start blend must be positive or zero"},
        {1.0f, -1.0, 1.0, true, "BlenderHeader: end must be more than 0"},
        {1.0f, 0.0, -0.5, true, "BlenderHeader: end blend must be positive or zero"},
    };
    for (const Case& c : cases) {
        testing_support::ScopedGameCore core;
        BlenderHeader blender = linear();
        blender.coefficient = c.coefficient;
        const bool ok = c.end ? blender.setEnd(c.time, c.duration) : blender.setStart(c.time, c.duration);
        EXPECT_FALSE(ok) << c.message;
        EXPECT_TRUE(core.log().contains(c.message)) << c.message;
        if (c.coefficient != 1.0f) {
            EXPECT_EQ(c.end ? blender.end.exponent : blender.start.exponent, 1.0f);
        }
    }
    // The start time is stored before it is checked.
    testing_support::ScopedGameCore core;
    BlenderHeader blender = linear();
    blender.setStart(-2.0, 1.0);
    EXPECT_EQ(blender.startTime, -2.0);

    // A refused end leaves the scheduled end as it was; not-a-number
    // times are refused like negative ones.
    ASSERT_TRUE(blender.setEnd(3.0, 1.0));
    EXPECT_FALSE(blender.setEnd(-2.0, 1.0));
    EXPECT_EQ(blender.endTime, 3.0);
    EXPECT_FALSE(blender.setEnd(4.0, -1.0));
    EXPECT_EQ(blender.endTime, 3.0);
    EXPECT_FALSE(blender.setEnd(std::nan(""), 1.0));
    EXPECT_FALSE(blender.setEnd(4.0, std::nan("")));
    EXPECT_FALSE(blender.setStart(0.0, std::nan("")));
    EXPECT_EQ(blender.endTime, 3.0);
}

TEST(BlenderHeader, RecordRoundTripsAndContinues) {
    BlenderHeader blender = linear();
    blender.coefficient = 2.0f;
    blender.setStart(0.5, 2.0);
    blender.run();
    levels(blender, 0.3, 4);

    MemoryStream stream;
    ASSERT_EQ(blender.write(stream), BlenderHeader::kRecordSize);
    ASSERT_EQ(stream.size(), 81);
    float level = 0;
    std::memcpy(&level, stream.data() + 40, 4);
    EXPECT_EQ(level, blender.level);
    EXPECT_EQ(stream.data()[44], 1);

    BlenderHeader copy;
    stream.setPosition(0);
    ASSERT_EQ(copy.read(stream), 81);
    MemoryStream again;
    ASSERT_EQ(copy.write(again), 81);
    EXPECT_EQ(std::memcmp(stream.data(), again.data(), 81), 0);
    EXPECT_EQ(levels(copy, 0.3, 5), levels(blender, 0.3, 5));

    // A short record fails with the failing field's result.
    MemoryStream truncated(stream.data(), 50);
    BlenderHeader broken;
    EXPECT_LT(broken.read(truncated), 0);
}

TEST(BlenderHeader, RestartKeepsTheCurrentLevelAsLow) {
    BlenderHeader blender = linear();
    blender.setStart(0.0, 1.0);
    blender.run();
    blender.update(sampleOf(0.5));
    blender.restart();
    EXPECT_FLOAT_EQ(blender.low, 0.5f);
    EXPECT_EQ(blender.elapsed, 0.0);
    blender.stop();
    EXPECT_FALSE(blender.isEnabled());
    EXPECT_EQ(blender.level, 0.0f);
}
