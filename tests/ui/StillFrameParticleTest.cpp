// The particle an item carries, through the frame update and the layer
// walk on the null backend: set by effect name, placed at the item's
// centre, played and paused by the item's modes, spawning from the alpha
// of the item's image.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "effects/Particle.h"
#include "effects/ParticleData.h"
#include "foundation/TimeCore.h"
#include "particle/ParticleWriter.h"
#include "platform/sound/DirectSound.h"
#include "sound/BankSound.h"
#include "sound/Sound.h"
#include "sound/SoundCore.h"
#include "sound/SoundFixture.h"
#include "resources/ResourceTestSupport.h"
#include "ui/StillFrameData.h"
#include "ui/StillFrameSettings.h"
#include "ui/StillFrameTestSupport.h"

namespace {

testing_support::FixtureFile effect(const char* name, const char* text) {
    std::string error;
    const std::string bytes = particle_tools::effectFileBytes(text, error);
    EXPECT_FALSE(bytes.empty()) << error;
    return resource_tests::storedFile(".effect", name, bytes);
}

class StillFrameParticleTest : public still_frame_test::StillFrameFixture {
protected:
    void SetUp() override {
        ASSERT_TRUE(packages.built());
        StillFrameFixture::SetUp();
        // leaf: a white image whose alpha image is opaque on its left half.
        TgaImage colour = solid(8, 8, 255, 255, 255);
        env().files["leaf.jpg"] = encode(colour, ImageFormatJpeg);
        TgaImage mask;
        ASSERT_TRUE(mask.create(true, 8, 8));
        for (std::uint32_t i = 0; i < 64; ++i)
            if (i % 8 < 4) std::fill_n(mask.pixels() + i * 4, 4, std::uint8_t(255));
        env().files["leaf.png"] = encode(mask, ImageFormatPng);
        TgaImage clear;
        ASSERT_TRUE(clear.create(true, 8, 8));
        env().files["glass.jpg"] = encode(colour, ImageFormatJpeg);
        env().files["glass.png"] = encode(clear, ImageFormatPng);
        env().files["white.jpg"] = encode(colour, ImageFormatJpeg);
        library().allocated = true;
    }
    void TearDown() override {
        data().releaseAll();
        StillFrameFixture::TearDown();
    }
    StillFrameScriptDataItem* imageItem(const char* name, const char* texture, float x, float y, float w, float h) {
        StillFrameScriptDataItem* it = item(name, x, y, w, h);
        EXPECT_TRUE(it->image.setSource(*it, texture, 0));
        return it;
    }
    // One frame of the game: the clocks advance, the still frames update
    // and draw.
    // With gamePaused the game clock stands while the real one runs.
    void frame(double dt = 0.05, bool gamePaused = false) {
        for (Time* clock : {static_cast<Time*>(&clocks.gameTime), static_cast<Time*>(&clocks.worldTime),
                            static_cast<Time*>(&clocks.realTime)}) {
            const double step = gamePaused && clock != &clocks.realTime ? 0.0 : dt;
            clock->time += step;
            clock->stepLength = step;
        }
        data().update(CurrentTime(-1.0));
        data().render(0);
    }
    bool logged(const std::string& text) { return packages.log().contains(text); }
    std::string logText() {
        std::string text;
        for (const LogRecord& record : packages.log().records()) text += record.text + "\n";
        return text;
    }

    resource_tests::ScopedPackages packages{{
        effect("spark", "limit 4\nlayer a\nrate 50\nlifetime 100 100\nsize 0.1\ncolor 1 0 0 1\n"),
        effect("chiming", "sound chime\nlimit 4\nlayer a\nrate 50\nlifetime 100 100\nsize 0.1\n"),
        sound_fixture::oggFile("chime", "effect", sound_fixture::oggBytes("length 0.5\ntone 880 0.5\n")),
    }};
    TimeCore clocks;
    testing_support::ScopedCoreMember<TimeCore> useClocks{gameCore.clocks, &clocks};
};

TEST_F(StillFrameParticleTest, AParticleIsSetByNameAtTheItemsCentreAndTheSameNameTwiceChangesNothing) {
    StillFrameScriptDataItem* badge = imageItem("badge", "white", 100, 200, 64, 64);
    ASSERT_TRUE(badge->particle.setParticle(*badge, "Spark")) << logText();
    Particle* spark = badge->particle.particle.get();
    ASSERT_NE(spark, nullptr);
    EXPECT_STREQ(spark->particleName, "badge");
    // 100 pixels a unit, y up from the screen's bottom.
    EXPECT_FLOAT_EQ(spark->pose.m[9], 1.32f);
    EXPECT_FLOAT_EQ(spark->pose.m[10], 5.36f);
    EXPECT_TRUE(spark->isOnStack());
    EXPECT_TRUE(spark->drawable());
    EXPECT_FALSE(spark->state & kParticlePaused);
    EXPECT_TRUE(spark->flush);
    EXPECT_FALSE(spark->background);

    // Paused by the script, then the same name again: the same particle,
    // still paused.
    ASSERT_TRUE(badge->particle.setRunning(true));
    ASSERT_TRUE(badge->particle.setEffect(*badge, "show", true));
    EXPECT_TRUE(badge->particle.setParticle(*badge, "spark"));
    EXPECT_EQ(badge->particle.particle.get(), spark);
    EXPECT_TRUE(spark->state & kParticlePaused);
    EXPECT_EQ(badge->particle.playSet, 1u << ModeShow);

    // An effect the packages lack: the old particle is gone, none is made.
    EXPECT_FALSE(badge->particle.setParticle(*badge, "absent"));
    EXPECT_TRUE(logged("SF[badge]->setParticle: Can't create particle [absent]"));
    EXPECT_EQ(badge->particle.particle, nullptr);

    // An empty name removes the particle and both sets.
    ASSERT_TRUE(badge->particle.setParticle(*badge, "spark"));
    ASSERT_TRUE(badge->particle.setEffect(*badge, "hide", false));
    EXPECT_TRUE(badge->particle.setParticle(*badge, ""));
    EXPECT_EQ(badge->particle.particle, nullptr);
    EXPECT_EQ(badge->particle.playSet | badge->particle.pauseSet, 0u);

    // A backdrop's particle carries the background flag.
    StillFrameScriptDataItem* backdrop = imageItem("menu_bg", "white", 0, 0, 1024, 768);
    ASSERT_TRUE(backdrop->particle.setParticle(*backdrop, "spark"));
    EXPECT_TRUE(backdrop->particle.particle->background);
}

TEST_F(StillFrameParticleTest, ModesOfThePlaySetPlayTheParticleAndThoseOfThePauseSetPauseIt) {
    StillFrameScriptDataItem* badge = imageItem("badge", "white", 100, 100, 64, 64);
    ASSERT_TRUE(badge->particle.setParticle(*badge, "spark"));
    StillFrameParticle& record = badge->particle;
    ASSERT_TRUE(record.setEffect(*badge, "SHOW", true));
    ASSERT_TRUE(record.setEffect(*badge, "hide", false));
    EXPECT_FALSE(record.setEffect(*badge, "fade", true));
    EXPECT_TRUE(logged("Can't set undefined effect [fade] for [badge] Sf particle"));
    EXPECT_EQ(record.playSet, 1u << ModeShow);
    EXPECT_EQ(record.pauseSet, 1u << ModeHide);
    ASSERT_TRUE(record.setRunning(true));
    const Particle& spark = *record.particle;

    struct Step {
        std::int32_t mode;
        bool paused;  // after the frame that runs the mode
    };
    const Step steps[] = {
        {ModeMove, true},   // in neither set
        {ModeShow, false},  // plays (and completes in this frame)
        {ModeHide, true},
        {ModeRotate, true},
        {ModeShow, false},
    };
    for (const Step& s : steps) {
        badge->animation.start(s.mode, 0.02f);
        frame();
        EXPECT_EQ((spark.state & kParticlePaused) != 0, s.paused) << s.mode;
        frame();
        frame();
    }
}

TEST_F(StillFrameParticleTest, TheSpawnListComesFromTheAlphaOfTheImageOnceAPeriod) {
    StillFrameScriptDataItem* leaf = imageItem("leaf", "leaf", 0, 0, 80, 80);
    ASSERT_TRUE(leaf->particle.setParticle(*leaf, "spark"));
    const Particle& spark = *leaf->particle.particle;
    frame();
    // A sample every second pixel: 40 x 40, the left half opaque.
    ASSERT_EQ(spark.emissionPoints.size(), 800u) << logText();
    for (const auto& place : spark.emissionPoints) {
        EXPECT_LT(place[0], 0.0f);
        EXPECT_GT(place[0], -0.4f);
        EXPECT_LT(std::abs(place[1]), 0.4f);
    }
    // The window now shows the transparent half: the list stays until the
    // period has passed.
    leaf->image.left = 0.5f;
    leaf->image.width = 0.5f;
    frame(0.1);
    EXPECT_EQ(spark.emissionPoints.size(), 800u);
    frame(stillFrameSettings.particleMaskUpdatePeriod);
    EXPECT_TRUE(spark.emissionPoints.empty());
    // A window far beyond the texture is brought back by whole textures (to
    // 0 here, showing the opaque half over the whole item) in one step.
    leaf->image.left = 1e30f;
    frame(stillFrameSettings.particleMaskUpdatePeriod);
    EXPECT_EQ(spark.emissionPoints.size(), 1600u);

    // A huge item samples a capped grid.
    StillFrameScriptDataItem* wall = imageItem("wall", "leaf", 0, 0, 40000, 30000);
    ASSERT_TRUE(wall->particle.setParticle(*wall, "spark"));
    frame();
    EXPECT_EQ(wall->particle.particle->emissionPoints.size(), 512u * 384u / 2u);
}

// A particle spawns only over its mask's opaque texels; a texture without
// an alpha image is no mask, and the particle emits as its effect says.
TEST_F(StillFrameParticleTest, APointIsBornOnlyWhereTheMaskLetsIt) {
    struct Case {
        const char* texture;
        bool points;
    };
    const Case cases[] = {{"leaf", true}, {"glass", false}, {"white", true}};
    for (const Case& c : cases) {
        StillFrameScriptDataItem* it = imageItem(c.texture, c.texture, 100, 100, 64, 64);
        ASSERT_TRUE(it->particle.setParticle(*it, "spark"));
        for (int i = 0; i < 10; ++i) frame();
        EXPECT_EQ(it->particle.particle->livePointCount > 0, c.points) << c.texture;
        data().deleteObject(it);
    }
    EXPECT_TRUE(logged("Missed mask image texture [white.png]"));
}

// The render core's release takes the items' particles out of their
// contexts before the contexts report what they still hold.
TEST_F(StillFrameParticleTest, TheRenderCoresReleaseLeavesNoParticleHeld) {
    StillFrameScriptDataItem* badge = imageItem("badge", "white", 100, 100, 64, 64);
    ASSERT_TRUE(badge->particle.setParticle(*badge, "spark"));
    frame();
    render_->release();
    EXPECT_FALSE(logged("Not all particle references release")) << logText();
    EXPECT_EQ(data().itemCount(), 0);
}

// A backdrop's particle runs on the real clock, so it goes on while the
// game clock stands; the particle of another item waits with the game.
TEST_F(StillFrameParticleTest, ABackdropsParticleRunsWhileTheGameClockStands) {
    struct Case {
        const char* item;
        bool runs;
    };
    const Case cases[] = {{"menu_bg", true}, {"badge", false}};
    for (const Case& c : cases) {
        StillFrameScriptDataItem* it = imageItem(c.item, "white", 100, 100, 64, 64);
        ASSERT_TRUE(it->particle.setParticle(*it, "spark"));
        for (int i = 0; i < 10; ++i) frame(0.05, true);
        EXPECT_EQ(it->particle.particle->livePointCount > 0, c.runs) << c.item;
        data().deleteObject(it);
    }
}

// An item particle's start sound plays once its first points came out.
TEST_F(StillFrameParticleTest, AnItemParticlesStartSoundPlaysOnce) {
    platform::dsound::Environment environment;
    environment.output = platform::dsound::OutputKind::Null;
    platform::dsound::setEnvironment(environment);
    {
        SoundCore sound;
        testing_support::ScopedCoreMember<SoundCore> useSound{gameCore.sound, &sound};
        ASSERT_TRUE(sound.initialize());
        StillFrameScriptDataItem* bell = imageItem("bell", "white", 100, 100, 64, 64);
        ASSERT_TRUE(bell->particle.setParticle(*bell, "chiming"));
        for (int i = 0; i < 5; ++i) frame();
        EXPECT_GT(bell->particle.particle->livePointCount, 0);
        EXPECT_EQ(sound.globalSounds(SoundChannelEffect).size(), 1u) << logText();
        data().releaseAll();
        sound.releaseAll();
    }
    platform::dsound::setEnvironment(platform::dsound::Environment());
}

}  // namespace
