#include "foundation/Smoother.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "foundation/DataStream.h"
#include "foundation/Log.h"
#include "support/TestSupport.h"

namespace {

Quaternion turnAboutY(float angle) { return {0.0f, std::sin(angle / 2), 0.0f, std::cos(angle / 2)}; }

}  // namespace

TEST(Smoother, StageFollowsWithExponentialWeight) {
    FloatSmooth smooth;
    smooth.setStages(2, 0.5f, 0.5f);
    ASSERT_EQ(smooth.stages[1].timeConstant, 1.0f);
    smooth.stages[0].value = 1.0f;
    smooth.stages[0].time = 1.0;
    smooth.update();
    EXPECT_NEAR(smooth.stages[1].value, 0.6321206f, 1e-6);
    EXPECT_NEAR(smooth.stages[1].time, 0.6321206, 1e-6);
    EXPECT_NEAR(smooth.output, 0.6321206f, 1e-6);

    // A previous stage older than the following one: nothing moves.
    smooth.stages[0].time = 0.1;
    const float value = smooth.stages[1].value;
    const double time = smooth.stages[1].time;
    smooth.update();
    EXPECT_EQ(smooth.stages[1].value, value);
    EXPECT_EQ(smooth.stages[1].time, time);

    struct Case {
        double dt;
        float tc;
        float w;
    };
    const Case weights[] = {{1.0, 1.0f, 0.6321206f}, {-1.0, 1.0f, 0.0f}, {0.0, 0.0f, 0.0f},
                            {5.0, 0.0f, 1.0f},       {1e9, 1.0f, 1.0f},  {2.0, -1.0f, 0.0f}};
    for (const Case& c : weights) EXPECT_NEAR(smoothWeight(c.dt, c.tc), c.w, 1e-6) << c.dt << " " << c.tc;
}

TEST(Smoother, SingleStageOutputsItsTarget) {
    FloatSmooth f;
    f.setStages(1, 0.3f, 0.1f);
    f.stages[0].value = 4.0f;
    f.update();
    EXPECT_EQ(f.output, 4.0f);

    VectorSmoother v;
    v.setStages(1, 0.3f, 0.1f);
    v.stages[0].value[1] = 2.0f;
    v.update(3.0);
    EXPECT_EQ(v.output[1], 2.0f);

    // No stages: output left alone.
    FloatSmooth none;
    none.output = 7.0f;
    none.update();
    EXPECT_EQ(none.output, 7.0f);
}

TEST(Smoother, SetStagesAccumulatesConstants) {
    VectorSmoother v;
    v.setStages(3, 0.2f, 0.1f);
    ASSERT_EQ(v.stages.size(), 3u);
    EXPECT_FLOAT_EQ(v.stages[0].timeConstant, 0.2f);
    EXPECT_FLOAT_EQ(v.stages[2].timeConstant, 0.2f + 0.1f + 0.1f);
    v.stages[1].value[0] = 5.0f;
    v.setStages(4, 1.0f, 0.5f);  // growing keeps old values, zero-fills the new
    EXPECT_EQ(v.stages[1].value[0], 5.0f);
    EXPECT_EQ(v.stages[3].value[0], 0.0f);
    EXPECT_FLOAT_EQ(v.stages[3].timeConstant, 2.5f);
}

TEST(Smoother, QuadResetAndFollow) {
    QuadSmooth q;
    const float constants[3] = {0.2f, 0.3f, 0.4f};
    q.QuadSmoothStages(3, constants);
    EXPECT_EQ(q.stages[2].timeConstant, 0.4f);
    EXPECT_EQ(q.output.w, 1.0f);

    const Quaternion start = turnAboutY(0.5f);
    q.reset(start, 10.0);
    EXPECT_EQ(q.time, 10.0);
    for (const QuadSmoothStage& stage : q.stages) {
        EXPECT_EQ(stage.time, 10.0);
        EXPECT_NEAR(stage.rotation.y, start.y, 1e-6);
    }
    EXPECT_NEAR(q.output.y, start.y, 1e-6);
    EXPECT_NEAR(q.matrix.m[0], std::cos(0.5f), 1e-6);

    const Quaternion target = turnAboutY(1.5f);
    q.setTarget(target, 11.0);
    EXPECT_NEAR(q.matrix.m[0], std::cos(1.5f), 1e-6);  // matrix at once
    q.update(11.0);
    // The output lags behind the target and stays a unit quaternion.
    const float angle = 2.0f * std::atan2(q.output.y, q.output.w);
    EXPECT_GT(angle, 0.5f);
    EXPECT_LT(angle, 1.5f);
    EXPECT_NEAR(q.output.x * q.output.x + q.output.y * q.output.y + q.output.z * q.output.z +
                    q.output.w * q.output.w,
                1.0f, 1e-5);
    for (int i = 0; i < 200; ++i) {
        q.setTarget(target, 11.0 + i * 0.1);
        q.update(11.0 + i * 0.1);
    }
    EXPECT_NEAR(2.0f * std::atan2(q.output.y, q.output.w), 1.5f, 1e-3);
}

TEST(Smoother, QuadRecordRestartsTiming) {
    QuadSmooth q;
    q.setStages(2, 0.2f, 0.1f);
    q.reset(turnAboutY(1.0f), 5.0);
    MemoryStream stream;
    ASSERT_EQ(q.write(stream), 8 + 36 + 16 + 4 + 2 * 32);
    ASSERT_EQ(stream.size(), 128);

    QuadSmooth back;
    stream.setPosition(0);
    ASSERT_EQ(back.read(stream), 128);
    ASSERT_EQ(back.stages.size(), 2u);
    EXPECT_EQ(back.time, -1.0);
    EXPECT_EQ(back.stages[1].time, -1.0);
    EXPECT_FLOAT_EQ(back.stages[1].timeConstant, 0.3f);
    EXPECT_NEAR(back.matrix.m[0], std::cos(1.0f), 1e-6);
    back.update(20.0);
    EXPECT_EQ(back.time, 20.0);
    EXPECT_EQ(back.stages[0].time, 20.0);
}

TEST(Smoother, VectorRecordContinuesWithFreshTimes) {
    VectorSmoother v;
    v.setStages(2, 1.0f, 0.0f);
    const float start[3] = {1, 2, 3};
    v.reset(start, 4.0);
    v.stages[0].value[0] = 11.0f;
    v.stages[0].time = 5.0;
    v.update(5.0);
    MemoryStream stream;
    ASSERT_EQ(v.write(stream), 8 + 12 + 4 + 2 * 24);

    VectorSmoother back;
    stream.setPosition(0);
    ASSERT_EQ(back.read(stream), 72);
    EXPECT_EQ(back.stages[0].time, 0.0);
    EXPECT_EQ(back.stages[1].time, 0.0);
    EXPECT_EQ(back.stages[1].value[0], v.stages[1].value[0]);
    EXPECT_EQ(back.output[0], v.output[0]);
    // Both stages start at the update's time: dt 0, nothing moves.
    back.update(100.0);
    EXPECT_EQ(back.stages[1].value[0], v.stages[1].value[0]);
    EXPECT_EQ(back.stages[1].time, 100.0);
    // The target moves on: the stage follows from its saved value.
    back.stages[0].time = 101.0;
    back.update(101.0);
    EXPECT_NEAR(back.stages[1].value[0],
                v.stages[1].value[0] + 0.6321206f * (11.0f - v.stages[1].value[0]), 1e-5);
}

TEST(Smoother, DamagedRecordsFail) {
    VectorSmoother v;
    v.setStages(1, 1.0f, 0.0f);
    MemoryStream stream;
    v.write(stream);
    // A stage count far beyond the data.
    const std::uint32_t huge = 0x40000000u;
    std::memcpy(stream.data() + 20, &huge, 4);
    stream.setPosition(0);
    VectorSmoother back;
    back.setStages(3, 1.0f, 0.0f);
    EXPECT_LT(back.read(stream), 0);
    EXPECT_TRUE(back.stages.empty());

    QuadSmooth q;
    q.setStages(2, 0.2f, 0.1f);
    MemoryStream quad;
    q.write(quad);
    MemoryStream cut(quad.data(), quad.size() - 1);
    QuadSmooth qb;
    EXPECT_LT(qb.read(cut), 0);
}

namespace {

TEST(Smoother, AVectorSmootherDestroyedWithItsStagesIsReported) {
    testing_support::ScopedGameCore core;
    {
        VectorSmoother released;
        released.setStages(2, 0.3f, 0.1f);
        released.release();
        EXPECT_TRUE(released.stages.empty());
    }
    EXPECT_FALSE(core.log().contains("Release vector smoother before destructor call"));
    {
        VectorSmoother kept;
        kept.setStages(2, 0.3f, 0.1f);
    }
    EXPECT_TRUE(core.log().contains("Release vector smoother before destructor call"));
}

}  // namespace
