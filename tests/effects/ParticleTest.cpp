// Particle objects over effects of the packages, with the render core's
// particle database.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "app/GameCore.h"
#include "effects/EffectsSettings.h"
#include "effects/Particle.h"
#include "effects/ParticleData.h"
#include "effects/ParticleLayer.h"
#include "foundation/DataStream.h"
#include "foundation/Log.h"
#include "particle/ParticleWriter.h"
#include "render/DXTextureHandler.h"
#include "render/Material.h"
#include "render/RenderCore.h"
#include "render/VideoSetup.h"
#include "support/PackageFixture.h"
#include "support/TestSupport.h"

namespace {

using testing_support::FixturePackage;

std::string effectBytes(const std::string& text) {
    std::string error;
    std::string bytes = particle_tools::effectFileBytes(text, error);
    EXPECT_FALSE(bytes.empty()) << error;
    return bytes;
}

// The video details the particles compare their effect's level with.
class DetailsEnvironment : public TextureEnvironment {
public:
    explicit DetailsEnvironment(std::int32_t details) { setup.details = details; }
    const VideoSetup& videoSetup() override { return setup; }
    VideoSetup setup;
};

class ParticleObject : public testing::Test {
protected:
    void SetUp() override {
        package.files = {
            {".effect", "smoke", effectBytes("name smoke\nlimit 40\nlayer plume\nrate 20\nlifetime 2 2\n"
                                             "velocity 0 1 0\nlayer haze\n"), ""},
            {".effect", "high", effectBytes("detail 2\nlayer a\n"), ""},
            {".effect", "none", effectBytes("kind 1\n"), ""},
            {".effect", "lamp", effectBytes("layer glow\nparameters 3 5 7\n"), ""},
        };
        write();
    }
    void write() {
        ASSERT_TRUE(testing_support::writeDataRoot(dir.path(), {package}));
        packages = std::make_unique<testing_support::ScopedPackageDatabase>(dir.path());
        ASSERT_TRUE(packages->build());
    }
    std::unique_ptr<Particle> make(const char* effect) {
        ParticleDataManager* manager = particleDataManager();
        EXPECT_NE(manager, nullptr);
        return std::unique_ptr<Particle>(
            Particle::createForStillFrame(manager->getOrCreate(effect, true), (std::string("p_") + effect).c_str()));
    }
    Log& log() { return packages->log(); }

    testing_support::TempDir dir;
    FixturePackage package;
    std::unique_ptr<testing_support::ScopedPackageDatabase> packages;
    RenderCore render;
};

TEST_F(ParticleObject, TakesOneLayerPerLayerOfItsEffect) {
    auto smoke = make("smoke");
    ASSERT_NE(smoke, nullptr);
    EXPECT_EQ(smoke->layers.size(), 2u);
    EXPECT_TRUE(smoke->push());
    auto none = make("none");
    ASSERT_NE(none, nullptr);
    EXPECT_TRUE(none->layers.empty());
    EXPECT_TRUE(none->push());
    EXPECT_EQ(make("absent"), nullptr);
}

TEST_F(ParticleObject, APushAfterTheEffectsLayersChangedIsRefused) {
    auto smoke = make("smoke");
    ASSERT_NE(smoke, nullptr);
    // The effect is read again from a package where it lost a layer.
    particleDataManager()->getOrCreate("smoke", true)->release();
    package.files[0].bytes = effectBytes("name smoke\nlayer plume\n");
    packages.reset();
    write();
    EXPECT_FALSE(smoke->push());
    EXPECT_FALSE(smoke->isOnStack());
    EXPECT_TRUE(log().contains("Can't push particle [p_smoke]: particle layers is changed from [2] to [1]"));
}

TEST_F(ParticleObject, AnEffectAboveTheVideoDetailsIsHidden) {
    DetailsEnvironment low(1);
    setTextureEnvironment(&low);
    auto high = make("high");
    ASSERT_NE(high, nullptr);
    EXPECT_TRUE(high->push());
    EXPECT_TRUE(log().contains("Disable particle [p_high] (class [high]): current graphics details too low"));
    EXPECT_TRUE(high->isHidden());
    EXPECT_FALSE(high->isOnStack());
    DetailsEnvironment enough(2);
    setTextureEnvironment(&enough);
    auto shown = make("high");
    EXPECT_TRUE(shown->push());
    EXPECT_FALSE(shown->isHidden());
    EXPECT_TRUE(shown->isOnStack());
    setTextureEnvironment(nullptr);
}

TEST_F(ParticleObject, ShowingAShownParticlePushesNothing) {
    auto smoke = make("smoke");
    EXPECT_TRUE(smoke->setVisible(true, false));
    EXPECT_FALSE(smoke->isOnStack());
    EXPECT_FALSE(log().contains("Show particle"));
    EXPECT_TRUE(smoke->setVisible(false, false));
    EXPECT_TRUE(log().contains("Hide particle [p_smoke] (smoke)"));
    EXPECT_TRUE(smoke->setVisible(true, false));
    EXPECT_TRUE(smoke->isOnStack());
}

// A pushed layer's material carries the layer's three parameters; a still
// frame's particle marks it as drawn in a still frame.
TEST_F(ParticleObject, APushedLayersMaterialCarriesItsParametersAndTheStillFrameMark) {
    auto lamp = make("lamp");
    ASSERT_TRUE(lamp->push());
    ASSERT_EQ(lamp->layers.size(), 1u);
    const Material& material = *lamp->layers[0]->material;
    EXPECT_EQ(std::vector<std::uint32_t>(material.layerParameters, material.layerParameters + 3),
              (std::vector<std::uint32_t>{3, 5, 7}));
    EXPECT_NE(material.flags & Material::FlagStillFrame, 0u);
    ASSERT_TRUE(lamp->pop(1));
}

TEST_F(ParticleObject, SmallMovesKeepTheStoredPosition) {
    const struct {
        float dx, dy, dz;
        bool moved;
    } cases[] = {{0.1f, 0.0f, 0.0f, false}, {0.0f, -0.1f, 0.05f, false}, {0.0f, 0.0f, 0.11f, true},
                 {-0.5f, 0.0f, 0.0f, true}};
    for (const auto& c : cases) {
        auto smoke = make("smoke");
        smoke->state &= ~(kParticleLightingToRefresh | kParticleAreasToRefresh | kParticleRefreshBounds);
        Matrix34 pose = matrix34Identity();
        pose.m[9] = c.dx;
        pose.m[10] = c.dy;
        pose.m[11] = c.dz;
        smoke->setPose(pose);
        EXPECT_FLOAT_EQ(smoke->pose.m[11], c.dz);
        EXPECT_FLOAT_EQ(smoke->position[0], c.moved ? c.dx : 0.0f);
        EXPECT_EQ((smoke->state & kParticleAreasToRefresh) != 0, c.moved);
        EXPECT_EQ((smoke->state & kParticleLightingToRefresh) != 0, c.moved);
    }
}

TEST_F(ParticleObject, PreSimulationRunsAPeriodInBackgroundSteps) {
    const struct {
        float fps;
        double step;
    } cases[] = {{0.5f, 1.0}, {20.0f, 0.05}, {0.0f, 1.0}};
    const float saved = particleSettings.bgParticleSimulationFps;
    for (const auto& c : cases) {
        particleSettings.bgParticleSimulationFps = c.fps;
        EXPECT_DOUBLE_EQ(Particle::preSimulationStep(), c.step) << c.fps;
    }
    particleSettings.bgParticleSimulationFps = 20.0f;
    auto smoke = make("smoke");
    smoke->preSimulate();
    // Twenty points a second over the one-second period.
    EXPECT_NEAR(static_cast<double>(smoke->layers[0]->points.size()), 20.0, 1.0);
    EXPECT_EQ(smoke->livePointCount, static_cast<std::int32_t>(smoke->layers[0]->points.size()));
    EXPECT_TRUE(smoke->layers[1]->points.empty());
    particleSettings.bgParticleSimulationFps = saved;
}

// Smoke rises: a pushed particle's frame updates emit points that climb
// above the emitter and never fall below it.
TEST_F(ParticleObject, FrameUpdatesEmitRisingPoints) {
    auto smoke = make("smoke");
    Matrix34 pose = matrix34Identity();
    pose.m[10] = 5.0f;
    smoke->setPose(pose);
    ASSERT_TRUE(smoke->push());
    for (int frame = 0; frame < 120; ++frame) ASSERT_TRUE(smoke->updatePhase2(CurrentTime(1.0 / 60.0), 0));
    const auto& points = smoke->layers[0]->points;
    EXPECT_NEAR(static_cast<double>(points.size()), 40.0, 2.0);
    float highest = 0.0f;
    for (const ParticlePoint& p : points) {
        EXPECT_GE(p.worldPosition[1], 5.0f);
        highest = std::max(highest, p.worldPosition[1]);
    }
    EXPECT_GT(highest, 6.5f);
    EXPECT_FALSE(smoke->state & kParticleSoundArmed);
    // Hidden, it stands still.
    smoke->setVisible(false, true);
    const float before = points.empty() ? 0.0f : points[0].worldPosition[1];
    smoke->updatePhase2(CurrentTime(0.5), 0);
    EXPECT_EQ(points.empty() ? 0.0f : points[0].worldPosition[1], before);
    smoke->release();
    EXPECT_TRUE(smoke->layers.empty());
    EXPECT_EQ(smoke->livePointCount, 0);
}

// The collector unloads effects without users: a pushed particle is one,
// and an unpushed particle takes the effect as its record holds it.
TEST_F(ParticleObject, APushedParticleKeepsItsEffectLoaded) {
    auto smoke = make("smoke");
    Y3ParticleData* record = particleDataManager()->getOrCreate("smoke", true);
    // The collector's pass over the only record, its period passed.
    const auto collect = [] {
        particleDataManager()->setCollectionClock(1e12);
        particleDataManager()->collectUnused();
    };
    ASSERT_TRUE(smoke->push());
    EXPECT_EQ(record->users.count(), 1u);
    collect();
    EXPECT_TRUE(record->hasObject());
    ASSERT_TRUE(smoke->pop(1));
    EXPECT_EQ(record->users.count(), 0u);
    collect();
    EXPECT_FALSE(record->hasObject());
    smoke->preSimulate();
    EXPECT_EQ(smoke->effectData, nullptr);
    EXPECT_EQ(smoke->livePointCount, 0);
}

TEST_F(ParticleObject, ASavedParticleLoadsAndSavesTheSameBytes) {
    auto smoke = make("smoke");
    smoke->preSimulate();
    copyName128(smoke->textField, "kept");
    MemoryStream first;
    const std::int32_t size = smoke->write(first);
    ASSERT_GT(size, 20 * 272);
    EXPECT_EQ(size, first.size());

    auto loaded = make("smoke");
    first.setPosition(0);
    EXPECT_EQ(Particle::checkRecord(first), size);
    first.setPosition(0);
    ASSERT_EQ(loaded->read(first), size);
    EXPECT_FALSE(loaded->isOnStack());
    EXPECT_EQ(loaded->livePointCount, smoke->livePointCount);
    EXPECT_STREQ(loaded->textField, "kept");
    MemoryStream second;
    ASSERT_EQ(loaded->write(second), size);
    EXPECT_TRUE(std::string(reinterpret_cast<const char*>(second.data()), std::size_t(size)) ==
                std::string(reinterpret_cast<const char*>(first.data()), std::size_t(size)));
}

TEST_F(ParticleObject, ADamagedRecordIsRefusedAndChangesNothing) {
    auto smoke = make("smoke");
    smoke->preSimulate();
    MemoryStream saved;
    const std::int32_t size = smoke->write(saved);
    std::string bytes(reinterpret_cast<const char*>(saved.data()), std::size_t(size));
    // The first layer's point count sits after the fixed fields and the
    // first layer's flags, bounds and emission state.
    const std::size_t name = 2 + std::strlen("p_smoke");
    const std::size_t points = 4 + name + 108 + 2 + 24 + 4 + 4 + 4 + 4 + 112 + 72;
    const struct {
        const char* what;
        std::string damaged;
    } cases[] = {
        {"cut in the placement", bytes.substr(0, 40)},
        {"cut in a point", bytes.substr(0, points + 4 + 100)},
        {"cut in the last layer", bytes.substr(0, bytes.size() - 3)},
        {"point count past the end", [&] {
             std::string b = bytes;
             const std::uint32_t many = 0x00FFFFFFu;
             std::memcpy(b.data() + points, &many, 4);
             return b;
         }()},
        {"layer count past the end", [&] {
             std::string b = bytes;
             const std::uint32_t many = 0xFFFFFFFFu;
             std::memcpy(b.data() + points - 72 - 112 - 4 - 4, &many, 4);
             return b;
         }()},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::string copy = c.damaged;
        MemoryStream stream(copy.data(), static_cast<std::int32_t>(copy.size()));
        testing_support::LargestAllocation largest;
        EXPECT_LT(Particle::checkRecord(stream), 0);
        EXPECT_LT(largest.bytes(), 1u << 20);
        auto target = make("smoke");
        stream.setPosition(0);
        EXPECT_LT(target->read(stream), 0);
        EXPECT_EQ(target->livePointCount, 0);
        EXPECT_TRUE(target->layers[0]->points.empty());
        EXPECT_STREQ(target->particleName, "p_smoke");
    }
}

}  // namespace
