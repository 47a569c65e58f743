// Particle effects as the packages hand them over: written by the effect
// tool, read through the particle database on first use.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "app/GameCore.h"
#include "effects/ParticleData.h"
#include "foundation/Log.h"
#include "particle/ParticleWriter.h"
#include "support/PackageFixture.h"
#include "support/TestSupport.h"

namespace {

using testing_support::FixturePackage;

const char* const kSmoke = R"(# a smoke plume
name smoke
sound smoke_hiss
kind 1
limit 50
replace 2
killbox 1 -1 0 -1 1 4 1
worldspace 1
timescale 0.5
renderkey 3
detail 2
scale 1.5
layer plume
period 2 0.5
loop 0
box -0.5 0 -0.5 0.5 0.25 0.5
spread 0.1 0.2 0.3
velocity 0 1 0 0 3 0
speed 0.5 1.5
lifetime 1 3
rate 10
size 0.5 2
color 1 1 1 1 0.5 0.5 0.5 0
drag 0.25 4
gravity -0.5
frames 4 2
framemode 1 8 12
mirror 1 0
blend 2
texture fx_smoke
tint 0.9 0.8 0.7 0.6
layer sparks
sphere 0.5 1
blend 1
)";

std::string effectBytes(const std::string& text) {
    std::string error;
    std::string bytes = particle_tools::effectFileBytes(text, error);
    EXPECT_FALSE(bytes.empty()) << error;
    return bytes;
}

template <class T>
void poke(std::string& bytes, std::size_t at, T value) {
    std::memcpy(bytes.data() + at, &value, sizeof(value));
}

// Offsets in the file of a one-layer effect named "x" without sound.
constexpr std::size_t kLimits = 2 + 1 + 2 + 2 + 4 + 4;
constexpr std::size_t kRender = kLimits + 52;
constexpr std::size_t kLayerCount = kRender + 28;
constexpr std::size_t kLayer = kLayerCount + 4;
constexpr std::size_t kAtlas = kLayer + 14616 + 12184;
constexpr std::size_t kMaterial = kAtlas + 40;

TEST(ParticleData, KeyedTablesInterpolateBetweenTheirTwoNearestKeys) {
    ParticleTable table{};
    for (int k = 0; k < 100; ++k) table[k] = k * 2.0;
    table[99] = 500.0;
    const struct {
        double t, value;
    } cases[] = {
        {0.0, 0.0}, {-1.0, 0.0}, {0.5, 99.0}, {10.0 / 99.0 + 0.25 / 99.0, 20.5}, {98.5 / 99.0, 196.0 + 0.5 * 304.0},
        {1.0, 500.0}, {7.0, 500.0},
    };
    for (const auto& c : cases) EXPECT_NEAR(particleTableValue(table, c.t), c.value, 1e-9) << "t " << c.t;
}

TEST(ParticleData, WrittenEffectsLoadFromThePackagesWithEveryField) {
    testing_support::TempDir dir;
    FixturePackage package;
    package.files = {{".effect", "smoke", effectBytes(kSmoke), ""},
                     {".effect", "empty", effectBytes("kind 0\n"), ""}};
    ASSERT_TRUE(testing_support::writeDataRoot(dir.path(), {package}));
    testing_support::ScopedPackageDatabase packages(dir.path());
    ASSERT_TRUE(packages.build());
    ParticleDataManager manager;
    EXPECT_EQ(manager.typeNumber(), 8);
    EXPECT_STREQ(manager.title(), "Particles Database");
    EXPECT_STREQ(manager.compiledExtension(), ".xls-effect");

    ParticleEffect* effect = manager.acquire("smoke");
    ASSERT_NE(effect, nullptr);
    EXPECT_EQ(manager.acquire("smoke"), effect);
    EXPECT_STREQ(effect->name, "smoke");
    EXPECT_STREQ(effect->sound, "smoke_hiss");
    EXPECT_EQ(effect->secondName[0], '\0');
    EXPECT_EQ(effect->kind, kParticleKindEmitted);
    EXPECT_EQ(effect->limits.pointLimit, 50);
    EXPECT_EQ(effect->limits.replaceMethod, 2);
    EXPECT_EQ(effect->limits.killBoxMode, 1);
    EXPECT_FLOAT_EQ(effect->limits.killBoxMin[0], -1.0f);
    EXPECT_FLOAT_EQ(effect->limits.killBoxMax[1], 4.0f);
    EXPECT_EQ(effect->limits.worldSpace, 1);
    EXPECT_FLOAT_EQ(effect->render.timeScale, 0.5f);
    EXPECT_EQ(effect->render.renderKey, 3);
    EXPECT_EQ(effect->render.detailLevel, 2);
    EXPECT_FLOAT_EQ(effect->render.baseScale, 1.5f);
    ASSERT_EQ(effect->layers.size(), 2u);

    const ParticleLayerData& plume = *effect->layers[0];
    EXPECT_STREQ(plume.emission.name, "plume");
    EXPECT_FLOAT_EQ(plume.emission.period, 2.0f);
    EXPECT_FLOAT_EQ(plume.emission.periodJitter, 0.5f);
    EXPECT_EQ(plume.emission.loop, 0);
    EXPECT_EQ(plume.emission.shape, 0);
    EXPECT_FLOAT_EQ(plume.emission.boxMax[1], 0.25f);
    EXPECT_FLOAT_EQ(plume.emission.spread[2], 0.3f);
    EXPECT_NEAR(particleTableValue(plume.emission.velocityY, 0.5), 2.0, 1e-6);
    EXPECT_NEAR(particleTableValue(plume.emission.speedMax, 0.3), 1.5, 1e-6);
    EXPECT_NEAR(particleTableValue(plume.emission.lifetimeMin, 0.7), 1.0, 1e-6);
    // Ten points a second: the curves count 10 per second of the period
    // by the end of it.
    EXPECT_NEAR(particleTableValue(plume.emission.curveA, 1.0), 10.0, 1e-6);
    EXPECT_NEAR(particleTableValue(plume.emission.curveB, 0.5), 5.0, 1e-6);
    EXPECT_NEAR(particleTableValue(plume.life.size, 1.0), 2.0, 1e-6);
    EXPECT_NEAR(particleTableValue(plume.life.alpha, 0.5), 0.5, 1e-6);
    EXPECT_NEAR(particleTableValue(plume.life.red, 0.0), 1.0, 1e-6);
    EXPECT_FLOAT_EQ(plume.life.drag, 0.25f);
    EXPECT_EQ(plume.life.dragMode, 4);
    EXPECT_FLOAT_EQ(plume.life.gravity, -0.5f);
    EXPECT_EQ(plume.life.frameMode, 1);
    EXPECT_FLOAT_EQ(plume.life.frameSpeedMax, 12.0f);
    EXPECT_EQ(plume.life.randomHorizontalMirror, 1);
    EXPECT_EQ(plume.life.randomVerticalMirror, 0);
    EXPECT_EQ(plume.atlas.blendMode, 2);
    EXPECT_EQ(plume.atlas.rows, 4);
    EXPECT_EQ(plume.atlas.columns, 2);
    EXPECT_FLOAT_EQ(plume.atlas.cellHeight, 0.25f);
    EXPECT_FLOAT_EQ(plume.atlas.cellWidth, 0.5f);
    EXPECT_TRUE(plume.material.links[0].enabled);
    EXPECT_STREQ(plume.material.links[0].baseName(), "fx_smoke");
    EXPECT_FLOAT_EQ(plume.tint[3], 0.6f);

    const ParticleLayerData& sparks = *effect->layers[1];
    EXPECT_STREQ(sparks.emission.name, "sparks");
    EXPECT_EQ(sparks.emission.shape, 1);
    EXPECT_FLOAT_EQ(sparks.emission.outerRadius, 1.0f);
    EXPECT_EQ(sparks.atlas.blendMode, 1);
    EXPECT_FALSE(sparks.material.links[0].enabled);

    // No layers and an empty name: nothing more is read.
    ParticleEffect* empty = manager.acquire("empty");
    ASSERT_NE(empty, nullptr);
    EXPECT_EQ(empty->kind, kParticleKindFixedQuads);
    EXPECT_TRUE(empty->layers.empty());
    EXPECT_EQ(empty->name[0], '\0');

    // Releasing the record drops the effect; the next use reads it again.
    manager.getOrCreate("smoke", true)->release();
    EXPECT_FALSE(manager.getOrCreate("smoke", true)->hasObject());
    ASSERT_NE(manager.acquire("smoke"), nullptr);
    EXPECT_EQ(manager.acquire("absent"), nullptr);
}

TEST(ParticleData, DamagedEffectsAreRefusedWithTheirMessages) {
    struct Case {
        const char* name;
        void (*damage)(std::string&);
        const char* message;  // null: the stream's own failure
    };
    const Case cases[] = {
        {"name past the end", [](std::string& b) { b.resize(2); }, nullptr},
        {"name longer than its field", [](std::string& b) { poke<std::uint16_t>(b, 0, 300); }, nullptr},
        {"cut in the limits", [](std::string& b) { b.resize(kLimits + 20); }, nullptr},
        {"cut in the render block", [](std::string& b) { b.resize(kRender + 27); }, nullptr},
        {"no layer count", [](std::string& b) { b.resize(kLayerCount + 2); }, nullptr},
        {"layer count past the end", [](std::string& b) { poke<std::uint32_t>(b, kLayerCount, 2); },
         "2 layers do not fit in the"},
        {"huge layer count", [](std::string& b) { poke<std::uint32_t>(b, kLayerCount, 0xFFFFFFFFu); },
         "4294967295 layers do not fit in the"},
        {"cut in the emission block", [](std::string& b) { b.resize(kLayer + 9000); }, nullptr},
        {"cut in the material head", [](std::string& b) { b.resize(kMaterial + 60); }, "1 layers do not fit in the"},
        {"cut in the last parameter", [](std::string& b) { b.resize(b.size() - 1); }, "layer 0 is damaged"},
        {"texture record broken", [](std::string& b) { poke<std::uint32_t>(b, kMaterial + 116 + 1, 7); },
         "layer 0 is damaged"},
        {"period of 0", [](std::string& b) { poke<float>(b, kLayer + 9800, 0.0f); },
         "layer 0: the emission period 0 with jitter 0 can reach 0"},
        {"jitter as long as the period", [](std::string& b) { poke<float>(b, kLayer + 9804, -1.0f); },
         "layer 0: the emission period 1 with jitter -1 can reach 0"},
        {"zero rows", [](std::string& b) { poke<std::int32_t>(b, kAtlas + 8, 0); },
         "layer 0: the atlas has 0 rows and 1 columns"},
        {"negative columns", [](std::string& b) { poke<std::int32_t>(b, kAtlas + 20, -3); },
         "layer 0: the atlas has 1 rows and -3 columns"},
    };
    testing_support::TempDir dir;
    FixturePackage package;
    const std::string good = effectBytes("name x\nlayer a\ntexture t\n");
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        std::string bytes = good;
        cases[i].damage(bytes);
        package.files.push_back({".effect", "fx_d" + std::to_string(i), bytes, ""});
    }
    package.files.push_back({".effect", "fx_good", good, ""});
    ASSERT_TRUE(testing_support::writeDataRoot(dir.path(), {package}));
    testing_support::ScopedPackageDatabase packages(dir.path());
    ASSERT_TRUE(packages.build());
    ParticleDataManager manager;
    ASSERT_NE(manager.acquire("fx_good"), nullptr);
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        const Case& c = cases[i];
        SCOPED_TRACE(c.name);
        const std::string name = "fx_d" + std::to_string(i);
        testing_support::LargestAllocation largest;
        EXPECT_EQ(manager.acquire(name.c_str()), nullptr);
        EXPECT_LT(largest.bytes(), 1u << 20);
        EXPECT_FALSE(manager.getOrCreate(name.c_str(), true)->hasObject());
        EXPECT_TRUE(packages.log().contains("Fail read particle data [" + name + "] header"));
        if (c.message)
            EXPECT_TRUE(packages.log().contains("Particle effect [" + name + "]: " + c.message)) << [&] {
                std::string all;
                for (const LogRecord& r : packages.log().records()) all += r.text + "\n";
                return all;
            }();
        // Refused for good: a second use does not read it again.
        EXPECT_EQ(manager.acquire(name.c_str()), nullptr);
    }
}

// Effects come from the effect tool only: the import slot writes nothing.
TEST(ParticleData, ImportTouchesNoFileAndFails) {
    testing_support::ScopedGameCore core;
    testing_support::TempDir dir;
    const std::string source = dir.file("smoke.xls");
    ASSERT_TRUE(testing_support::writeFile(source, "source table"));
    ParticleDataManager manager;
    EXPECT_FALSE(manager.compileFromSource(source.c_str()));
    EXPECT_EQ(testing_support::readFile(source), "source table");
    EXPECT_TRUE(core.log().contains("Particle: Can't import [" + source + "]"));
}

TEST(ParticleWriter, WrongDescriptionsNameTheirLine) {
    const struct {
        const char* text;
        const char* error;
    } cases[] = {
        {"period 1\n", "line 1: unknown effect line 'period'"},
        {"layer a\nperiod one\n", "line 2: 'period' takes numbers"},
        {"layer a\nbox 1 2 3\n", "line 2: 'box' takes 6 numbers"},
        {"layer a\ncurves 1 2\n", "line 2: 'curves' takes one or two numbers, '/', one or two numbers"},
        {"layer a\nwobble 1\n", "line 2: unknown layer line 'wobble'"},
    };
    for (const auto& c : cases) {
        std::string error;
        EXPECT_TRUE(particle_tools::effectFileBytes(c.text, error).empty()) << c.text;
        EXPECT_EQ(error, c.error);
    }
}

}  // namespace
