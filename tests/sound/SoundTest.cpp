#include "sound/Sound.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <regex>
#include <string>

#include "scene/CameraFixture.h"
#include "sound/SoundBank.h"
#include "sound/SoundBuffer.h"
#include "sound/SoundFixture.h"
#include "sound/SoundSettings.h"

namespace {

using namespace sound_fixture;

struct SoundObjectWorld : SoundWorld {
    SoundObjectWorld()
        : SoundWorld({oggFile("click", "effect", oggBytes("length 0.5\ntone 440 0.5\n")),
                      oggFile("hum", "ambient", oggBytes("length 0.5\ntone 220 0.5\n"))}) {}
    std::unique_ptr<Sound> make(std::int32_t channel, const char* resource, std::uint32_t flags, bool push = true) {
        BankSound* bankSound = core.bank->acquire(channel, resource, "direct");
        return std::unique_ptr<Sound>(core.bank->createSound(bankSound, flags, "s", push, false));
    }
};

LONG bufferVolume(const Sound& sound) {
    LONG volume = 1;
    if (sound.instance()) sound.instance()->buffer->device()->GetVolume(&volume);
    return volume;
}

}  // namespace

TEST(Sound, PlaysABankSoundThroughAnInstanceAndStopGivesItBack) {
    SoundObjectWorld world;
    auto sound = world.make(SoundChannelEffect, "click", 0);
    ASSERT_NE(sound, nullptr);
    EXPECT_TRUE(sound->flags & Sound::kPushed);
    EXPECT_FALSE(sound->flags & Sound::kLooped);
    BankSound* click = sound->bankSound();
    ASSERT_TRUE(sound->play(false, false));
    ASSERT_NE(sound->instance(), nullptr);
    EXPECT_TRUE(sound->instance()->buffer->playing());
    EXPECT_EQ(world.core.playingBuffers[3] + world.core.playingBuffers[1], 1);
    EXPECT_NEAR(sound->getDuration(), 0.5, 0.01);
    ASSERT_TRUE(sound->stop(true));
    EXPECT_EQ(sound->instance(), nullptr);
    EXPECT_FALSE(sound->playing());
    ASSERT_EQ(click->instances.size(), 1u);  // cached for the next play
    EXPECT_TRUE(click->instances[0]->buffer->flags & SoundBuffer::kReleased);
    EXPECT_FALSE(sound->stop(true));

    // A channel that loops by itself makes looped sounds.
    auto hum = world.make(SoundChannelAmbientLoop, "hum", 0);
    ASSERT_NE(hum, nullptr);
    EXPECT_TRUE(hum->flags & Sound::kLooped);
    sound.reset();
    hum.reset();
    EXPECT_TRUE(click->sounds.empty());
}

TEST(Sound, MissingResourceAndSilentMasterVolume) {
    SoundObjectWorld world;
    EXPECT_EQ(world.make(SoundChannelEffect, "nothing", 0), nullptr);
    EXPECT_TRUE(world.log().contains("Sound resource [nothing] NOT found: Fail create sounds object [s]"));

    world.core.volumes.master.script = 0.0f;
    EXPECT_EQ(world.make(SoundChannelEffect, "click", 0), nullptr);
    BankSound* click = world.core.bank->acquire(SoundChannelEffect, "click", "direct");
    std::unique_ptr<Sound> placeholder(world.core.bank->createSound(click, 1, "quiet", false, true));
    ASSERT_NE(placeholder, nullptr);
    EXPECT_FALSE(placeholder->flags & (Sound::k3D | Sound::kLooped | Sound::kPushed));
    placeholder->play(false, false);
    EXPECT_EQ(placeholder->instance(), nullptr);  // plays nothing
}

TEST(Sound, RefreshingTheVolumeNeverCompoundsTheDistanceFactor) {
    SoundObjectWorld world;
    auto sound = world.make(SoundChannelEffect, "click", 1);
    ASSERT_NE(sound, nullptr);
    ASSERT_TRUE(sound->setPosition({0.0f, 0.0f, 20.0f}, false));
    ASSERT_TRUE(sound->play(false, false));
    ASSERT_TRUE(sound->setVolume(80.0f));
    const LONG once = bufferVolume(*sound);
    EXPECT_GT(once, DSBVOLUME_MIN);
    EXPECT_LT(once, 0);
    for (int i = 0; i < 10; ++i) ASSERT_TRUE(sound->refreshMute());
    EXPECT_EQ(bufferVolume(*sound), once);
    EXPECT_FLOAT_EQ(sound->volume, 80.0f);
    EXPECT_FALSE(sound->setVolume(150.0f));
    EXPECT_TRUE(world.log().contains("volume is invalid"));
}

TEST(Sound, DistanceFactorStaysFiniteAndInsideItsBounds) {
    struct Case {
        float distance, minDistance, maxDistance, expected;
    };
    const Case cases[] = {
        {5.5f, 1.0f, 10.0f, static_cast<float>(-std::log(0.5))},  // halfway
        {0.5f, 1.0f, 10.0f, 4.0f},                                  // nearer than the range: loudest
        {1.0f, 1.0f, 10.0f, 4.0f},                                  // at its start: no log of 0
        {20.0f, 1.0f, 10.0f, 0.0f},                                 // beyond it: silent
        {5.0f, 3.0f, 3.0f, 0.0f},                                   // empty range: no division by 0
        {2.0f, 3.0f, 3.0f, 4.0f},
        {5.0f, 10.0f, 1.0f, 4.0f},                                  // inverted range: before its start
        {std::nanf(""), 1.0f, 10.0f, 4.0f},
    };
    const SoundSettings saved = soundSettings;
    soundSettings.attenMinValue = 0.0f;
    soundSettings.attenMaxValue = 4.0f;
    for (const Case& c : cases) {
        soundSettings.attenMinDistance = c.minDistance;
        soundSettings.attenMaxDistance = c.maxDistance;
        const float v = Sound::distanceFactor(c.distance);
        EXPECT_TRUE(std::isfinite(v));
        EXPECT_NEAR(v, c.expected, 1e-5) << c.distance << " in " << c.minDistance << ".." << c.maxDistance;
    }
    soundSettings.attenMinValue = 0.25f;
    soundSettings.attenMinDistance = 1.0f;
    soundSettings.attenMaxDistance = 10.0f;
    EXPECT_EQ(Sound::distanceFactor(20.0f), 0.25f);
    soundSettings = saved;
}

TEST(Sound, DistanceFactorAndSmallMoves) {
    EXPECT_FLOAT_EQ(Sound::distanceFactor(0.0f), 1.0f);
    EXPECT_FLOAT_EQ(Sound::distanceFactor(100.0f), 0.01f);
    EXPECT_FLOAT_EQ(Sound::distanceFactor(-5.0f), 1.0f);
    Sound sound(nullptr, "s", false, true);
    EXPECT_FALSE(sound.setPosition({0.04f, 0.0f, 0.0f}, false));
    EXPECT_TRUE(sound.setPosition({0.06f, 0.0f, 0.0f}, false));
    // A move already pending takes even a small step.
    EXPECT_TRUE(sound.setPosition({0.07f, 0.0f, 0.0f}, false));
}

TEST(Sound, ASoundMovedOutOfRangeMutesAndPlaysAgainOnReturn) {
    SoundObjectWorld world;
    const SoundSettings saved = soundSettings;
    soundSettings.attenMinValue = 0.0f;
    auto sound = world.make(SoundChannelEffect, "click", 1 | 2);
    ASSERT_NE(sound, nullptr);
    ASSERT_TRUE(sound->play(false, false));
    ASSERT_TRUE(sound->setPosition({0.0f, 0.0f, 500.0f}, false));
    sound->refreshMute();
    EXPECT_TRUE(sound->muted());
    EXPECT_EQ(sound->instance(), nullptr);
    EXPECT_TRUE(sound->playing());
    ASSERT_TRUE(sound->setPosition({0.0f, 0.0f, 2.0f}, false));
    sound->refreshMute();
    EXPECT_FALSE(sound->muted());
    ASSERT_NE(sound->instance(), nullptr);
    EXPECT_TRUE(sound->instance()->buffer->playing());
    soundSettings = saved;
}

// A 3D sound that gave its voice back (stopped, or muted by distance) gets a
// 3D voice again when it plays, and the frame goes on placing it.
TEST(Sound, A3dSoundFollowsItsPositionAfterItsVoiceCameBack) {
    struct Case {
        const char* road;
        void (*giveBackAndReturn)(Sound&);
    };
    const Case cases[] = {
        {"stop and play",
         [](Sound& s) {
             ASSERT_TRUE(s.stop(false));
             ASSERT_TRUE(s.play(false, false));
         }},
        {"muted by distance and back",
         [](Sound& s) {
             s.setPosition({0.0f, 0.0f, 500.0f}, false);
             s.refreshMute();
             ASSERT_TRUE(s.muted());
             s.setPosition({0.0f, 0.0f, 2.0f}, false);
             s.refreshMute();
             ASSERT_FALSE(s.muted());
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.road);
        SoundObjectWorld world;
        const SoundSettings saved = soundSettings;
        soundSettings.attenMinValue = 0.0f;
        Sound* sound = world.core.createGlobalSound("bee", SoundChannelEffect, "click", 1 | 2);
        ASSERT_NE(sound, nullptr);
        sound->setPosition({1.0f, 0.0f, 0.0f}, false);
        ASSERT_TRUE(sound->play(false, false));
        c.giveBackAndReturn(*sound);
        ASSERT_NE(sound->instance(), nullptr);
        IDirectSound3DBuffer* voice = sound->instance()->buffer->device3D();
        ASSERT_NE(voice, nullptr);
        ASSERT_TRUE(sound->setPosition({3.0f, 0.0f, 4.0f}, false));
        world.core.updateListener(testing_support::frameAt(1.0, 0.05), 1);
        DS3DBUFFER placed{};
        ASSERT_EQ(voice->GetAllParameters(&placed), DS_OK);
        EXPECT_FLOAT_EQ(placed.vPosition.x, 3.0f);
        EXPECT_FLOAT_EQ(placed.vPosition.z, 4.0f);
        soundSettings = saved;
    }
}

TEST(Sound, AutomaticNamesCarryTheChannelAndACounter) {
    SoundObjectWorld world;
    auto a = world.make(SoundChannelEffect, "click", 0);
    auto b = world.make(SoundChannelAmbient, "hum", 0);
    const std::regex form("AUTO-(effect|ambient)-[0-9A-F]{8}");
    const std::string first = a->makeAutoName(), second = b->makeAutoName();
    EXPECT_TRUE(std::regex_match(first, form)) << first;
    EXPECT_TRUE(std::regex_match(second, form)) << second;
    EXPECT_EQ(second.substr(0, 12), "AUTO-ambient");
    EXPECT_NE(first.substr(first.size() - 8), second.substr(second.size() - 8));
}
