#include "foundation/TimeCore.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "foundation/DataStream.h"
#include "foundation/Log.h"
#include "platform/Time.h"
#include "support/TestSupport.h"

namespace {

// A manual performance counter in microseconds.
std::int64_t manualTicks = 0;
std::int64_t manualCounter() { return manualTicks; }

class ManualClock : public ::testing::Test {
protected:
    void SetUp() override {
        manualTicks = 1000000;
        platform::setPerformanceCounterSource(&manualCounter, 1000000);
    }
    void TearDown() override { platform::setPerformanceCounterSource(nullptr, 0); }
    static void advance(double seconds) { manualTicks += static_cast<std::int64_t>(seconds * 1e6 + 0.5); }
};

}  // namespace

TEST_F(ManualClock, WorldStepsFollowTheCounterAndDropStalls) {
    TimeCore clocks;
    clocks.step();
    EXPECT_EQ(clocks.worldTime.stepLength, 0.0);  // the counter starts
    EXPECT_EQ(clocks.gameTime.stepLength, 0.0);

    advance(0.5);
    clocks.step();
    EXPECT_DOUBLE_EQ(clocks.worldTime.stepLength, 0.5);
    EXPECT_DOUBLE_EQ(clocks.gameTime.stepLength, 0.5);  // source 0 follows this frame's world step
    EXPECT_DOUBLE_EQ(clocks.fixedTime.stepLength, 0.025);

    advance(2.5);
    clocks.step();
    EXPECT_EQ(clocks.worldTime.stepLength, 0.0);  // a stall is no frame
    EXPECT_DOUBLE_EQ(clocks.fixedTime.stepLength, 0.025);

    advance(1.9);
    clocks.step();
    EXPECT_DOUBLE_EQ(clocks.worldTime.stepLength, 1.9);
    EXPECT_DOUBLE_EQ(clocks.worldTime.time, 2.4);
    EXPECT_DOUBLE_EQ(clocks.fixedTime.time, 0.1);

    // After a reset (a resource load) the next step restarts the counter.
    clocks.worldTime.reset();
    advance(1.0);
    clocks.step();
    EXPECT_EQ(clocks.worldTime.stepLength, 0.0);
    advance(0.25);
    clocks.step();
    EXPECT_DOUBLE_EQ(clocks.worldTime.stepLength, 0.25);
}

// A machine too slow for its view, every frame above the longest: the first
// long frame counts as a stall, the next ones pass on the longest frame, so
// game time goes on and the timers of the game fire.
TEST_F(ManualClock, FramesThatStayLongerThanTheLongestStillMoveTheClock) {
    TimeCore clocks;
    clocks.step();
    const double steps[] = {2.5, 3.0, 2.1, 0.5, 2.5, 0.25};
    const double expected[] = {0.0, 2.0, 2.0, 0.5, 0.0, 0.25};
    for (std::size_t i = 0; i < std::size(steps); ++i) {
        advance(steps[i]);
        clocks.step();
        EXPECT_DOUBLE_EQ(clocks.worldTime.stepLength, expected[i]) << "frame " << i;
        EXPECT_DOUBLE_EQ(clocks.gameTime.stepLength, expected[i]) << "frame " << i;
    }
    EXPECT_DOUBLE_EQ(clocks.gameTime.time, 4.75);
}

TEST_F(ManualClock, NowBeforeTheFirstStepDoesNotSkipTheCounterStart) {
    TimeCore clocks;
    EXPECT_EQ(clocks.worldTime.now(1.0), 0.0);
    advance(1.5);
    clocks.step();
    EXPECT_EQ(clocks.worldTime.stepLength, 0.0);
    advance(0.1);
    EXPECT_NEAR(clocks.worldTime.now(1.0), 0.1, 1e-9);
    EXPECT_EQ(clocks.worldTime.time, 0.0);  // now does not advance
}

TEST_F(ManualClock, PausedGameClockHoldsWhileTheWorldRuns) {
    TimeCore clocks;
    clocks.step();
    advance(0.1);
    clocks.step();
    clocks.gameTime.paused = 1;
    advance(0.2);
    clocks.step();
    EXPECT_EQ(clocks.gameTime.stepLength, 0.0);
    EXPECT_DOUBLE_EQ(clocks.gameTime.time, 0.1);
    EXPECT_EQ(clocks.gameTime.now(1.0), 0.0);
    EXPECT_NEAR(clocks.worldTime.time, 0.3, 1e-12);

    clocks.gameTime.paused = 0;
    clocks.gameTime.rateOrSource = 1;  // follow the fixed clock
    advance(0.3);
    clocks.step();
    EXPECT_DOUBLE_EQ(clocks.gameTime.stepLength, 0.025);
}

TEST_F(ManualClock, WrappedTimeStaysBelowThePeriod) {
    TimeCore clocks;
    clocks.worldTime.wrappedTime = 299.99;
    clocks.gameTime.wrappedTime = 299.99;
    clocks.step();
    advance(0.5);
    clocks.step();
    EXPECT_NEAR(clocks.worldTime.wrappedTime, 0.49, 1e-9);
    EXPECT_NEAR(clocks.gameTime.wrappedTime, 0.49, 1e-9);
    EXPECT_NEAR(clocks.worldTime.time, 0.5, 1e-12);
}

TEST_F(ManualClock, RestoredPendingFramesArePaidAtFortyMilliseconds) {
    TimeCore clocks;
    clocks.step();
    clocks.worldTime.pendingFrames = 3;
    clocks.gameTime.pendingFrames = 2;
    advance(1.0);
    clocks.step();
    EXPECT_NEAR(clocks.worldTime.stepLength, 0.12, 1e-12);
    EXPECT_NEAR(clocks.gameTime.stepLength, 0.08, 1e-12);
    EXPECT_EQ(clocks.worldTime.pendingFrames, 0);
    EXPECT_EQ(clocks.gameTime.pendingFrames, 0);
}

TEST(CurrentTime, SampleCopiesOrReplacesSteps) {
    TimeCore clocks;
    clocks.gameTime.time = 5.0;
    clocks.gameTime.stepLength = 0.02;
    clocks.worldTime.time = 6.0;
    clocks.worldTime.stepLength = 0.03;
    clocks.realTime.time = 7.0;
    clocks.realTime.stepLength = 0.04;

    const CurrentTime kept(clocks, -1.0);
    EXPECT_EQ(kept.game.time, 5.0);
    EXPECT_EQ(kept.game.step, 0.02);
    EXPECT_EQ(kept.world.step, 0.03);
    EXPECT_EQ(kept.real.time, 7.0);
    EXPECT_EQ(kept.real.step, 0.04);

    const CurrentTime zero(clocks, 0.0);
    EXPECT_EQ(zero.game.step, 0.0);
    EXPECT_EQ(zero.world.step, 0.0);
    EXPECT_EQ(zero.real.step, 0.0);
    EXPECT_EQ(zero.world.time, 6.0);

    const CurrentTime copy = CurrentTime::copyWithStep(kept, 0.5);
    EXPECT_EQ(copy.world.step, 0.5);
    EXPECT_EQ(CurrentTime::clipStep(copy, 0.0, 0.1).game.step, 0.1);
    EXPECT_EQ(CurrentTime::clipStep(copy, 2.0, 2.3).game.step, 2.3 - 2.0);
    EXPECT_EQ(CurrentTime::clipStep(copy, 0.0, 1.0).game.step, 0.5);
}

TEST(CurrentTime, LongFrameIsCutIntoSubSteps) {
    CurrentTime sample;
    sample.game = {10.0, 0.13, 0.0};
    sample.world = {20.0, 0.13, 0.0};
    sample.real = {30.0, 0.04, 0.0};
    ASSERT_TRUE(sample.limitStep(1.0 / 20.0, 1.0));
    std::vector<double> steps{sample.game.step};
    std::vector<double> times{sample.game.time};
    while (sample.nextSubStep()) {
        steps.push_back(sample.game.step);
        times.push_back(sample.game.time);
        ASSERT_LT(steps.size(), 10u);
    }
    ASSERT_EQ(steps.size(), 3u);
    EXPECT_NEAR(steps[0], 0.05, 1e-12);
    EXPECT_NEAR(steps[1], 0.05, 1e-12);
    EXPECT_NEAR(steps[2], 0.03, 1e-12);
    EXPECT_NEAR(times[0], 9.92, 1e-12);  // the sample's time is the frame's end
    EXPECT_NEAR(times[1], 9.97, 1e-12);
    EXPECT_NEAR(times[2], 10.0, 1e-12);
    EXPECT_NEAR(sample.world.time, 20.0, 1e-12);
    // The real triple was short enough: nothing pending, untouched.
    EXPECT_EQ(sample.real.step, 0.04);
    EXPECT_EQ(sample.real.time, 30.0);

    CurrentTime shortFrame;
    shortFrame.game.step = shortFrame.world.step = shortFrame.real.step = 0.04;
    shortFrame.limitStep(0.05, 1.0);
    EXPECT_EQ(shortFrame.game.pending, 0.0);
    EXPECT_FALSE(shortFrame.nextSubStep());
}

TEST(CurrentTime, SubStepsDrainWhateverTheRate) {
    // min_simulation_fps of 0, negative, huge or not a number.
    for (double fps : {0.0, -20.0, 1e12, std::nan("")}) {
        CurrentTime sample;
        sample.game.step = sample.world.step = sample.real.step = 1.5;
        sample.limitStep(1.0 / fps, 1.0);
        int turns = 0;
        while (sample.nextSubStep() && turns < 100000) ++turns;
        EXPECT_LT(turns, 100000) << fps;
        EXPECT_NEAR(sample.game.time, 0.0, 1e-9) << fps;

        sample = CurrentTime();
        sample.game.step = sample.world.step = sample.real.step = 1.5;
        sample.limitStep(simulationStepLimit(fps), 1.0);
        turns = 0;
        while (sample.nextSubStep() && turns < 100000) ++turns;
        EXPECT_LE(turns, 1500) << fps;
    }
    EXPECT_DOUBLE_EQ(simulationStepLimit(20.0), 0.05);
}

TEST_F(ManualClock, SaveRecordRoundTripsWithItsExactSize) {
    TimeCore clocks;
    clocks.step();
    advance(0.75);
    clocks.step();
    clocks.gameTime.paused = 1;
    clocks.gameTime.pendingFrames = 7;
    clocks.worldTime.paused = 1;
    clocks.fixedTime.rateOrSource = 50;

    MemoryStream stream;
    ASSERT_EQ(clocks.write(stream), TimeCore::kRecordSize);
    ASSERT_EQ(stream.size(), 95);
    // Offsets of a few fields.
    double gameTime = 0;
    std::memcpy(&gameTime, stream.data(), 8);
    EXPECT_DOUBLE_EQ(gameTime, 0.75);
    EXPECT_EQ(stream.data()[24], 1);  // game paused
    std::int32_t rate = 0;
    std::memcpy(&rate, stream.data() + 62, 4);
    EXPECT_EQ(rate, 50);

    TimeCore restored;
    stream.setPosition(0);
    ASSERT_EQ(restored.read(stream), 95);
    EXPECT_DOUBLE_EQ(restored.gameTime.time, 0.75);
    EXPECT_DOUBLE_EQ(restored.worldTime.time, 0.75);
    EXPECT_DOUBLE_EQ(restored.fixedTime.time, 0.05);
    EXPECT_EQ(restored.gameTime.paused, 1);
    EXPECT_EQ(restored.gameTime.pendingFrames, 7);
    EXPECT_EQ(restored.fixedTime.rateOrSource, 50);
    EXPECT_EQ(restored.worldTime.paused, 0);
    for (const Time* clock : {static_cast<const Time*>(&restored.gameTime),
                              static_cast<const Time*>(&restored.fixedTime),
                              static_cast<const Time*>(&restored.worldTime)}) {
        EXPECT_EQ(clock->stepLength, 0.0);
        EXPECT_EQ(clock->counterFrequency, 0);
    }
    // The restored world clock restarts at its next step.
    advance(1.0);
    restored.step();
    EXPECT_EQ(restored.worldTime.stepLength, 0.0);
}

TEST(TimeCore, DamagedSaveRecordIsRefused) {
    testing_support::ScopedGameCore core;
    TimeCore clocks;
    MemoryStream stream;
    ASSERT_EQ(clocks.write(stream), 95);

    // Truncated: the first failing field's result.
    MemoryStream shortStream(stream.data(), 50);
    TimeCore a;
    EXPECT_LT(a.read(shortStream), 0);

    // A fixed rate of 0 would stop (or divide) the fixed clock.
    std::int32_t zero = 0;
    std::memcpy(stream.data() + 62, &zero, 4);
    stream.setPosition(0);
    TimeCore b;
    EXPECT_LT(b.read(stream), 0);
    EXPECT_TRUE(core.log().contains("bad fixed clock rate"));
    EXPECT_EQ(b.fixedTime.rateOrSource, 40);
}
