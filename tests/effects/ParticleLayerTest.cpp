// The simulation of particle layers on a manual clock with a seeded
// generator, over effects written by the effect tool.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <memory>
#include <string>

#include "effects/EffectsSettings.h"
#include "effects/Particle.h"
#include "effects/ParticleLayer.h"
#include "foundation/DataStream.h"
#include "foundation/Log.h"
#include "foundation/MersenneTwister.h"
#include "particle/ParticleWriter.h"
#include "support/TestSupport.h"

namespace {

// A particle showing an effect of a description, with its layers.
class Fixture {
public:
    explicit Fixture(const std::string& text) : particle(0, "fx", "p", matrix34Identity()) {
        MersenneTwister::seed(5489u);
        std::srand(1);
        std::string error;
        std::string bytes = particle_tools::effectFileBytes(text, error);
        EXPECT_FALSE(bytes.empty()) << error;
        MemoryStream stream(bytes.data(), static_cast<std::int32_t>(bytes.size()));
        EXPECT_GE(ParticleDataManager::createData(stream, effect, "fx"), 0);
        particle.effectData = effect.get();
        layer = std::make_unique<ParticleLayer>(particle, 0);
    }
    ~Fixture() {
        layer.reset();
        if (effect) effect->release();
    }

    // n frames of dt seconds.
    void run(std::int32_t frames, double dt) {
        for (std::int32_t i = 0; i < frames; ++i) layer->update(CurrentTime(dt), true);
    }
    // A live point at an age, aging at rate.
    void addPoint(float age, float rate, float position = 0.0f) {
        ParticlePoint& p = layer->points.emplace_back();
        p.age = age;
        p.ageRate = rate;
        p.position[0] = position;
        ++particle.livePointCount;
    }

    testing_support::ScopedGameCore core;
    std::unique_ptr<ParticleEffect> effect;
    Particle particle;
    std::unique_ptr<ParticleLayer> layer;
};

TEST(ParticleLayer, TheLimitFollowsTheEmissionPointsAndTheCap) {
    const struct {
        int limit;
        int emissionPoints;
        float density;
        int made;
    } cases[] = {
        {50, 0, 1.0f, 50},
        {50, 2, 1.0f, 100},
        {50, 2, 0.5f, 50},
        {400, 2, 1.0f, 600},
        {700, 0, 1.0f, 600},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "limit " << c.limit << " points " << c.emissionPoints);
        Fixture f("limit " + std::to_string(c.limit) + "\nreplace 0\nlayer a\nlifetime 10 10\n");
        for (int i = 0; i < c.emissionPoints; ++i) f.particle.emissionPoints.push_back({float(i), 0.0f, 0.0f});
        f.particle.density = c.density;
        f.layer->spawn(1000);
        EXPECT_EQ(static_cast<int>(f.layer->points.size()), c.made);
        EXPECT_EQ(f.particle.livePointCount, c.made);
    }
}

TEST(ParticleLayer, ReplaceTwoStaysAtTheLimitWhileReplacing) {
    Fixture f("limit 10\nreplace 2\nlayer a\nlifetime 10 10\n");
    f.layer->spawn(10);
    f.layer->updatePoints(1.0, false);
    for (int round = 0; round < 5; ++round) {
        f.layer->spawn(4);
        EXPECT_EQ(f.layer->points.size(), 10u);
        EXPECT_EQ(f.particle.livePointCount, 10);
    }
    int young = 0;
    for (const ParticlePoint& p : f.layer->points) young += p.age == 0.0f;
    EXPECT_GE(young, 4);
    EXPECT_EQ(f.layer->emission.accumulator, 0.0);
}

TEST(ParticleLayer, ReplaceZeroOwesThePointsUntilPointsDie) {
    Fixture f("limit 10\nreplace 0\nlayer a\nlifetime 1 1\nrate 100\n");
    f.layer->spawn(10);
    f.layer->emission.accumulator = 0.0;
    f.layer->spawn(6);
    EXPECT_EQ(f.layer->points.size(), 10u);
    EXPECT_DOUBLE_EQ(f.layer->emission.accumulator, 6.0);
    for (int i = 0; i < 300; ++i) f.layer->spawn(10);
    EXPECT_DOUBLE_EQ(f.layer->emission.accumulator, 1000.0);
    // The points die after their second; the owed ones appear in their place.
    f.run(70, 1.0 / 60.0);
    EXPECT_EQ(f.layer->points.size(), 10u);
    for (const ParticlePoint& p : f.layer->points) EXPECT_LT(p.age, 0.2f);
}

TEST(ParticleLayer, InvalidReplaceMethodLogsAndMakesNothingOverTheLimit) {
    Fixture f("limit 5\nreplace 7\nlayer smoke\nlifetime 10 10\n");
    f.layer->spawn(5);
    f.layer->spawn(3);
    EXPECT_EQ(f.layer->points.size(), 5u);
    EXPECT_EQ(f.particle.livePointCount, 5);
    EXPECT_TRUE(f.core.log().contains("Invalid replace method in particle layer smoke"));
}

TEST(ParticleLayer, APointPastItsAgeGoesInTheSameSubStepAndTheLastTakesItsPlace) {
    Fixture f("layer a\n");
    f.addPoint(0.99f, 1.0f, 1.0f);
    f.addPoint(0.5f, 1.0f, 2.0f);
    f.addPoint(0.25f, 1.0f, 3.0f);
    f.layer->updatePoints(0.02, true);
    ASSERT_EQ(f.layer->points.size(), 2u);
    EXPECT_EQ(f.particle.livePointCount, 2);
    EXPECT_FLOAT_EQ(f.layer->points[0].position[0], 3.0f);
    EXPECT_FLOAT_EQ(f.layer->points[0].age, 0.27f);
    EXPECT_FLOAT_EQ(f.layer->points[1].age, 0.52f);
}

TEST(ParticleLayer, KillBoxModeOneRemovesPointsOnOrBeyondAFace) {
    const struct {
        float x;
        bool kept;
    } cases[] = {{0.0f, true}, {0.999f, true}, {1.0f, false}, {-1.0f, false}, {5.0f, false}};
    for (const auto& c : cases) {
        Fixture f("killbox 1 -1 -1 -1 1 1 1\nlayer a\n");
        f.addPoint(0.1f, 0.0f, c.x);
        f.layer->applyKillBox();
        EXPECT_EQ(f.layer->points.size(), c.kept ? 1u : 0u) << c.x;
        EXPECT_EQ(f.particle.livePointCount, c.kept ? 1 : 0);
    }
}

TEST(ParticleLayer, EveryDragModeSlowsAComponentOfEitherSign) {
    for (int mode = 0; mode <= 8; ++mode)
        for (float v : {2.0f, -2.0f, 0.5f, -0.5f}) {
            const float after = particleDrag(mode, v, 0.01f, 1.5f);
            EXPECT_LT(std::fabs(after), std::fabs(v)) << "mode " << mode << " v " << v;
            EXPECT_GT(after * v, 0.0f) << "mode " << mode << " v " << v;
        }
    EXPECT_EQ(particleDrag(9, 2.0f, 0.5f, 1.0f), 2.0f);
}

TEST(ParticleLayer, FlatBoundsGetAHalfExtentOfAHalf) {
    Fixture f("layer a\n");
    for (float x : {-2.0f, 2.0f}) {
        ParticlePoint& p = f.layer->points.emplace_back();
        p.worldPosition[0] = x;
        p.width = p.height = 0.05f;
    }
    f.layer->refreshBounds();
    EXPECT_NEAR(f.layer->bounds.box.extents[0], 2.1f, 1e-5f);
    EXPECT_NEAR(f.layer->bounds.box.extents[1], 0.5f, 1e-5f);
    EXPECT_NEAR(f.layer->bounds.box.extents[2], 0.5f, 1e-5f);
    EXPECT_TRUE(f.particle.state & kParticleAreasToRefresh);
}

// Ten points a second over a looping one-second period: one second of
// frames emits ten, which rise with their velocity.
TEST(ParticleLayer, EmissionFollowsTheCurvesOverThePeriod) {
    Fixture f("limit 100\nlayer a\nperiod 1\nrate 10\nlifetime 5 5\nvelocity 0 1 0\n");
    f.run(60, 1.0 / 60.0);
    EXPECT_NEAR(static_cast<double>(f.layer->points.size()), 10.0, 1.0);
    for (const ParticlePoint& p : f.layer->points) {
        EXPECT_GE(p.worldPosition[1], 0.0f);
        EXPECT_LE(p.worldPosition[1], 1.01f);
    }
    f.run(60, 1.0 / 60.0);
    EXPECT_NEAR(static_cast<double>(f.layer->points.size()), 20.0, 1.0);
}

}  // namespace
