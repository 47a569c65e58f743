// The sound objects as scripts and the frame see them: the script classes
// "SoundManager" and "Sound", their events, global sounds and their per-frame
// updates, the fade envelope and the saved record.
#include "sound/lua/SoundScript.h"

#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <cstring>
#include <string>

#include "app/SaveFileFixture.h"
#include "app/ThisMainLoop.h"
#include "game/SceneActionDataManager.h"
#include "game/WaypointDataManager.h"
#include "platform/Time.h"
#include "foundation/DataStream.h"
#include "scene/ObjectRepository.h"
#include "scene/Scene.h"
#include "scene/CameraFixture.h"
#include "scene/SceneDescription.h"
#include "scene/Y3Pose.h"
#include "script/ScriptTestFixture.h"
#include "script/lua/BlenderScript.h"
#include "sound/Sound.h"
#include "sound/SoundBank.h"
#include "sound/SoundBuffer.h"
#include "sound/SoundFixture.h"
#include "sound/SoundSettings.h"

namespace {

using namespace sound_fixture;
using testing_support::frameAt;

const ScriptClassRegistration kSoundClasses[] = {{"Blender", registerBlenderClass},
                                                 {"SoundManager, Sound", registerSoundClasses}};

// Scripts over a game with sound on the null output: a short click and a
// long loop of effects, and a song.
struct SoundScriptWorld {
    SoundScriptWorld()
        : sound({oggFile("click", "effect", oggBytes("length 0.2\ntone 440 0.2\n")),
                 oggFile("step01", "effect", oggBytes("length 0.2\ntone 440 0.2\n")),
                 oggFile("hum", "effect", oggBytes("length 3.0\ntone 220 3.0\n")),
                 oggFile("song", "music", oggBytes("length 3.0\ntone 330 3.0\n"))}) {
        // Full setup volumes: a script volume is the output volume.
        sound.core.volumes.master.setup = 1.0f;
        for (SoundChannelVolume& channel : sound.core.volumes.channels) channel.setup = 1.0f;
    }
    bool run(const std::string& text) { return lua.load(text); }
    bool logged(const std::string& text) { return sound.log().contains(text); }
    // A frame of the main loop at game time t: the bank's tick that ends
    // finished buffers, then the sound core's frame update.
    void frame(double t, double step = 0.05) {
        updateSoundBank(*sound.core.bank, t);
        sound.core.updateListener(frameAt(t, step), 1);
    }
    Sound* global(std::int32_t channel, const char* name) {
        const std::int32_t index = sound.core.findGlobalSound(channel, name);
        return index >= 0 ? sound.core.globalSounds(channel)[static_cast<std::size_t>(index)] : nullptr;
    }
    static LONG outputVolume(const Sound& s) {
        LONG volume = 1;
        if (s.instance()) s.instance()->buffer->device()->GetVolume(&volume);
        return volume;
    }

    testing_support::ScriptFixture lua{kSoundClasses, 2};
    SoundWorld sound;
};

}  // namespace

TEST(SoundScript, EventsRunInOrderWithTheSoundAndAHandlerIsSetOnce) {
    SoundScriptWorld w;
    ASSERT_TRUE(w.run(R"(
        order = ""
        function played(s) order = order .. "play:" .. s:name() .. ";" end
        function stopped(s) order = order .. "stop:" .. s:name() .. ";" end
        s = soundManager:gCreate(SoundManager.Effect, "shot", "click")
        first = tostring(s:setEvent(13, "played"))
        second = tostring(s:setEvent(13, "other"))
        outside = tostring(s:setEvent(24, "played"))
        s:setEvent(14, "stopped")
        kept = s:getEvent(13)
        cls = s:classof()
        blender = s.blend:classof()
        enabled = tostring(s.blend:enabled())
        freq = tostring(s:freq(2))
        s:play()
    )"));
    EXPECT_EQ(w.lua.global("first"), "true");
    EXPECT_EQ(w.lua.global("second"), "false");
    EXPECT_EQ(w.lua.global("outside"), "false");
    EXPECT_EQ(w.lua.global("kept"), "played");
    EXPECT_EQ(w.lua.global("cls"), "Sound");
    EXPECT_EQ(w.lua.global("blender"), "Blender");
    EXPECT_EQ(w.lua.global("enabled"), "false");
    EXPECT_EQ(w.lua.global("freq"), "false");
    EXPECT_TRUE(w.logged("Can't set event class SoundScript::[shot].onPlay = [other]: Already assigned to [played]"));
    EXPECT_TRUE(w.logged("Can't set event class SoundScript::[shot].24 to [played]: invalid event"));
    EXPECT_EQ(w.lua.global("order"), "play:shot;");
    // The click ends by itself: the frame after stops it with its event.
    w.sound.advance(400);
    w.frame(1.0);
    EXPECT_EQ(w.lua.global("order"), "play:shot;stop:shot;");
}

TEST(SoundScript, ChannelVolumesAreCheckedClampedAndReappliedToPlayingSounds) {
    SoundScriptWorld w;
    ASSERT_TRUE(w.run(R"(
        s = soundManager:gCreate(SoundManager.Effect, "loop", "hum")
        s:play()
    )"));
    Sound* loop = w.global(SoundChannelEffect, "loop");
    ASSERT_NE(loop, nullptr);
    EXPECT_EQ(SoundScriptWorld::outputVolume(*loop), 0);
    ASSERT_TRUE(w.run(R"(
        soundManager:set_volume(SoundManager.Master, 50)
        master = soundManager:get_volume(SoundManager.Master)
    )"));
    EXPECT_EQ(w.lua.number("master"), 50.0);
    // Half the master volume: 1000 * log2(0.5) hundredths of a decibel.
    EXPECT_EQ(SoundScriptWorld::outputVolume(*loop), -1000);
    ASSERT_TRUE(w.run(R"(
        bad = soundManager:get_volume(5)
        soundManager:set_volume(SoundManager.Music, 150)
        music = soundManager:get_volume(SoundManager.Music)
        soundManager:set_volume(SoundManager.Effect, -3)
        effect = soundManager:get_volume(SoundManager.Effect)
    )"));
    // The effect volume held at 0 mutes the sound: its instance goes back.
    EXPECT_TRUE(loop->muted());
    EXPECT_EQ(loop->instance(), nullptr);
    EXPECT_EQ(w.lua.number("bad"), 0.0);
    EXPECT_TRUE(w.logged("Use valid sound channel"));
    EXPECT_EQ(w.lua.number("music"), 100.0);
    EXPECT_TRUE(w.logged("of channel [music] is out of range 0..100"));
    EXPECT_EQ(w.lua.number("effect"), 0.0);
    ASSERT_TRUE(w.run("soundManager:set_volume(SoundManager.Effect, 100)"));
    ASSERT_NE(loop->instance(), nullptr);
    EXPECT_FALSE(loop->muted());
    EXPECT_EQ(SoundScriptWorld::outputVolume(*loop), -1000);
}

TEST(SoundScript, GlobalSoundsByNameAndPlayOnceSoundsDeleteThemselves) {
    SoundScriptWorld w;
    ASSERT_TRUE(w.run(R"(
        a = soundManager:gPlay(SoundManager.Effect, "once", "click")
        again = soundManager:gPlay(SoundManager.Effect, "once", "click")
        there = tostring(soundManager:gTest(SoundManager.Effect, "once"))
        same = soundManager:gGet(SoundManager.Effect, "once"):name()
        none = soundManager:gGet(SoundManager.Effect, "nothing")
        wrong = soundManager:gCreate(5, "x", "click")
        b = soundManager:gPlay(SoundManager.Effect, nil, "click")
    )"));
    EXPECT_EQ(w.lua.global("again"), "");
    EXPECT_TRUE(w.logged("Global sound [once] already exist"));
    EXPECT_EQ(w.lua.global("there"), "true");
    EXPECT_EQ(w.lua.global("same"), "once");
    EXPECT_TRUE(w.logged("Can't get sound with name [nothing]: Not Found"));
    EXPECT_EQ(w.lua.global("wrong"), "");
    EXPECT_EQ(w.sound.core.globalSounds(SoundChannelEffect).size(), 2u);
    // Both end in the same frame: the next frame stops them, the one after
    // deletes both.
    w.sound.advance(400);
    w.frame(1.0);
    w.frame(1.05);
    EXPECT_TRUE(w.sound.core.globalSounds(SoundChannelEffect).empty());
    ASSERT_TRUE(w.run("gone = tostring(soundManager:gTest(SoundManager.Effect, 'once'))"));
    EXPECT_EQ(w.lua.global("gone"), "false");
}

TEST(SoundScript, AFinishedSoundIsDeletedItselfNotAnotherOfItsName) {
    SoundScriptWorld w;
    SoundCore& core = w.sound.core;
    // Two global sounds of one name (bit 3 allows it): a long loop listed
    // first, then a click that plays once.
    Sound* loop = core.createGlobalSound("dup", SoundChannelEffect, "hum", 2u | 8u);
    Sound* once = core.createGlobalSound("dup", SoundChannelEffect, "click", 8u);
    ASSERT_NE(loop, nullptr);
    ASSERT_NE(once, nullptr);
    ASSERT_TRUE(loop->play(false, false));
    ASSERT_TRUE(once->play(false, true));
    w.sound.advance(400);
    w.frame(1.0);
    w.frame(1.05);
    ASSERT_EQ(core.globalSounds(SoundChannelEffect).size(), 1u);
    EXPECT_EQ(core.globalSounds(SoundChannelEffect)[0], loop);
    EXPECT_TRUE(loop->playing());

    // A finished sound whose deletion is refused (as while its own handler
    // runs) waits for a later frame; the frame goes on.
    Sound* held = core.createGlobalSound("held", SoundChannelEffect, "click", 0);
    ASSERT_TRUE(held->play(false, true));
    w.sound.advance(400);
    w.frame(2.0);
    held->flags |= Sound::kInEvent;
    w.frame(2.05);
    EXPECT_TRUE(held->flags & Sound::kFinished);
    EXPECT_GE(core.findGlobalSound(SoundChannelEffect, "held"), 0);
    held->flags &= ~Sound::kInEvent;
    w.frame(2.1);
    EXPECT_EQ(core.findGlobalSound(SoundChannelEffect, "held"), -1);
}

TEST(SoundScript, ReleasingGlobalSoundsRunsStopHandlersThatChangeTheLists) {
    SoundScriptWorld w;
    ASSERT_TRUE(w.run(R"(
        stops = 0
        function stopped(s)
            stops = stops + 1
            stopped_name = s:name()
            soundManager:gDelete(SoundManager.Effect, "b")
            b_gone = tostring(not soundManager:gTest(SoundManager.Effect, "b"))
            late_made = tostring(soundManager:gCreate(SoundManager.Effect, "late", "click") ~= nil)
        end
        a = soundManager:gCreate(SoundManager.Effect, "a", "hum")
        a:setEvent(14, "stopped")
        a:play()
        soundManager:gCreate(SoundManager.Effect, "b", "hum"):play()
    )"));
    w.sound.core.releaseGlobalSounds();
    // The handler ran once, for its sound, and its changes to the lists
    // took effect; the release then took every sound, the late one too.
    EXPECT_EQ(w.lua.number("stops"), 1.0);
    EXPECT_EQ(w.lua.global("stopped_name"), "a");
    EXPECT_EQ(w.lua.global("b_gone"), "true");
    EXPECT_EQ(w.lua.global("late_made"), "true");
    for (std::int32_t channel = 0; channel < kSoundChannelCount; ++channel)
        EXPECT_TRUE(w.sound.core.globalSounds(channel).empty()) << channel;
}

TEST(SoundScript, AnEnvelopeStartsAnAmbientSoundAndItsFadeStopsIt) {
    SoundScriptWorld w;
    Sound* song = w.sound.core.createGlobalSound("song", SoundChannelMusic, "song", 0);
    ASSERT_NE(song, nullptr);
    song->startBlend(0.0f, 1.0f);
    EXPECT_FALSE(song->playing());
    w.frame(0.5, 0.5);
    EXPECT_TRUE(song->playing());
    song->fade(0.5f);
    w.frame(0.8, 0.3);
    EXPECT_TRUE(song->playing());
    w.frame(1.2, 0.4);
    EXPECT_FALSE(song->playing());
    EXPECT_FALSE(song->blend().enabled);
}

// A sound whose length was asked while the master volume was 0 (its source
// opened then, and stays open while the sound keeps it in use) plays once
// the volume is up again.
TEST(SoundScript, ASoundFirstOpenedAtMasterVolumeZeroPlaysOnceTheVolumeIsBack) {
    SoundScriptWorld w;
    ASSERT_TRUE(w.run(R"(
        s = soundManager:gCreate(SoundManager.Effect, "bell", "hum")
        soundManager:set_volume(SoundManager.Master, 0)
        length = s:duration()
        soundManager:set_volume(SoundManager.Master, 100)
        played = tostring(s:play())
    )"));
    EXPECT_NEAR(w.lua.number("length"), 3.0, 0.01);
    EXPECT_EQ(w.lua.global("played"), "true");
    Sound* bell = w.global(SoundChannelEffect, "bell");
    ASSERT_NE(bell, nullptr);
    ASSERT_NE(bell->instance(), nullptr);
    EXPECT_TRUE(bell->instance()->buffer->playing());
    EXPECT_FALSE(w.logged("DSERR_INVALIDPARAM"));
}

TEST(SoundScript, TheSavedRecordRoundTripsAndALoadedPlayingSoundPlaysAgain) {
    SoundScriptWorld w;
    ASSERT_TRUE(w.run(R"(
        function played(s) end
        s = soundManager:gCreate(SoundManager.Effect, "saved", "hum")
        s:setEvent(13, "played")
        s:volume(40)
        s:play()
    )"));
    Sound* saved = w.global(SoundChannelEffect, "saved");
    ASSERT_NE(saved, nullptr);
    MemoryStream first;
    const std::int32_t size = saved->write(first);
    ASSERT_GT(size, Sound::k3dRecordSize + 4 + 4 + 1 + 5 + BlenderHeader::kRecordSize);

    BankSound* hum = w.sound.core.bank->acquire(SoundChannelEffect, "hum", "direct");
    std::unique_ptr<Sound> loaded(w.sound.core.bank->createSound(hum, 0, "other", false, false));
    ASSERT_NE(loaded, nullptr);
    first.setPosition(0);
    ASSERT_EQ(loaded->read(first), size);
    EXPECT_STREQ(loaded->getName(), "saved");
    EXPECT_TRUE(loaded->flags & Sound::kRestorePending);
    EXPECT_FALSE(loaded->flags & (Sound::kConnected | Sound::kPushed));
    EXPECT_STREQ(loaded->script().events.get(onPlay), "played");
    MemoryStream second;
    ASSERT_EQ(loaded->write(second), size);
    EXPECT_EQ(std::memcmp(first.data(), second.data(), static_cast<std::size_t>(size)), 0);

    // A channel volume set before its first update (an options page right
    // after a load) is no error: the sound waits for that update to connect.
    w.sound.core.volumes.channels[SoundChannelEffect].script = 0.5f;
    const std::size_t before = w.sound.log().recordCount();
    EXPECT_TRUE(loaded->refreshMute());
    EXPECT_EQ(w.sound.log().recordCount(), before);

    // Its first update plays it again at its volume, in the channel's.
    EXPECT_EQ(loaded->instance(), nullptr);
    loaded->updatePhase0(frameAt(1.0, 0.05), 0);
    ASSERT_NE(loaded->instance(), nullptr);
    EXPECT_TRUE(loaded->instance()->buffer->playing());
    EXPECT_FALSE(loaded->flags & Sound::kRestorePending);
    EXPECT_EQ(SoundScriptWorld::outputVolume(*loaded), toDirectSoundVolume(20.0f));
    loaded->stop(false);
}

TEST(SoundScript, DamagedSavedRecordsAreRefusedWithoutChangingTheSound) {
    SoundScriptWorld w;
    Sound* sound = w.sound.core.createGlobalSound("whole", SoundChannelEffect, "click", 0);
    MemoryStream whole;
    const std::int32_t size = sound->write(whole);
    const std::string bytes(reinterpret_cast<const char*>(whole.data()), static_cast<std::size_t>(size));
    const std::size_t nameAt = Sound::k3dRecordSize + 8;
    struct Case {
        const char* what;
        std::string record;
    };
    std::string longName = bytes;
    longName[nameAt] = static_cast<char>(200);  // more than a name field holds
    std::string longEvent = bytes;
    const std::size_t eventsAt = nameAt + 1 + 5 + BlenderHeader::kRecordSize;
    longEvent[eventsAt] = static_cast<char>(0xFF);  // an event name past the end
    longEvent[eventsAt + 1] = static_cast<char>(0xFF);
    const Case cases[] = {
        {"cut in the 3D record", bytes.substr(0, 40)},
        {"cut in the name", bytes.substr(0, nameAt + 3)},
        {"name too long", longName},
        {"event past the end", longEvent},
        {"cut in the events", bytes.substr(0, static_cast<std::size_t>(size) - 1)},
    };
    for (const Case& c : cases) {
        std::string copy = c.record;
        MemoryStream check(copy.data(), static_cast<std::int32_t>(copy.size()));
        EXPECT_LT(Sound::checkRecord(check), 0) << c.what;
        MemoryStream read(copy.data(), static_cast<std::int32_t>(copy.size()));
        EXPECT_LT(sound->read(read), 0) << c.what;
        EXPECT_STREQ(sound->getName(), "whole") << c.what;
        EXPECT_FALSE(sound->flags & Sound::kRestorePending) << c.what;
    }
    std::string copy = bytes;
    MemoryStream check(copy.data(), size);
    EXPECT_EQ(Sound::checkRecord(check), size);
}

namespace {

// A game that saves and restores, with sound on the null output and the
// ambient set "default" naming the sound "wind".
struct SoundGameWorld {
    // more: further variable lines and package files beside the default set
    // and its sound.
    explicit SoundGameWorld(const std::string& moreVariables = "", std::vector<FixtureFile> moreFiles = {})
        : save("sounds.ambient.3d.ambient_default string wind\n" + moreVariables),
          sound(withFiles({oggFile("wind", "ambient", oggBytes("length 3.0\ntone 220 3.0\n")),
                           oggFile("bell", "effect", oggBytes("length 3.0\ntone 660 3.0\n"))},
                          std::move(moreFiles))) {
        // Saves go to the game's user folder, packages come from the sounds'.
        gameCore.paths = &save.paths;
        registerBlenderClass(save.f.lua.state, save.f.lua.engine);
        registerSoundClasses(save.f.lua.state, save.f.lua.engine);
    }
    ~SoundGameWorld() { save.f.game->releaseScenes(); }
    // Frames of the current scene's object updates, each step seconds long,
    // until done says so (at most 60).
    template <class Done>
    bool framesUntil(Done done, double step = 0.1) {
        for (int i = 0; i < 60; ++i) {
            Scene* scene = save.f.game->currentScene();
            if (!scene) return false;
            time += step;
            scene->updatePhase0(frameAt(time, step), 0);
            scene->updatePhase1(frameAt(time, step), 0);
            if (done()) return true;
        }
        return false;
    }
    Sound* sceneSound(std::uint32_t list, const char* name) {
        Scene* scene = save.f.game->currentScene();
        const std::int32_t index = scene ? scene->findSound(list, name) : -1;
        return index >= 0 ? dynamic_cast<Sound*>(gameCore.objects->getObject(scene->sounds[list][index])) : nullptr;
    }

    static std::vector<FixtureFile> withFiles(std::vector<FixtureFile> files, std::vector<FixtureFile> more) {
        for (FixtureFile& file : more) {
            // A file given again takes the place of the first one.
            for (auto it = files.begin(); it != files.end(); ++it)
                if (it->name == file.name && it->mask == file.mask) {
                    files.erase(it);
                    break;
                }
            files.push_back(std::move(file));
        }
        return files;
    }

    testing_support::SaveFileFixture save;
    SoundWorld sound;
    double time = 0.0;
};

bool audible(const Sound* sound) {
    return sound && sound->playing() && sound->instance() && sound->instance()->buffer->playing();
}

}  // namespace

TEST(SoundGame, TheSceneAmbientSetPlaysAndASavedGameRestoresAPlayingSceneSound) {
    SoundGameWorld w;
    ASSERT_TRUE(w.save.runPosted("game:load('intro')\n"
                                 "bell = soundManager:create(SoundManager.Effect, 'bell', 'bell')\n"
                                 "played = bell:play()\n"
                                 "ring = soundManager:create(SoundManager.Effect, 'door ring', 'bell')\n"
                                 "rang = ring:play()"));
    EXPECT_EQ(w.save.text("played"), "true");
    EXPECT_EQ(w.save.text("rang"), "true");
    // The default set's ambient sound starts with its envelope.
    ASSERT_TRUE(w.framesUntil([&] { return audible(w.sceneSound(3, "auto#amb@snd=default")); }));
    EXPECT_STREQ(w.sceneSound(3, "auto#amb@snd=default")->bankSound()->name(), "wind");

    // An effect at a point, named automatically, plays while the game saves.
    const float near[3] = {1.0f, 0.0f, 2.0f};
    ASSERT_TRUE(gameCore.playSoundAt("bell", near, nullptr));
    const std::string automatic = w.sound.core.globalSounds(SoundChannelEffect).back()->getName();

    ASSERT_TRUE(w.save.runPosted("saved = game:save('slot1')\n"
                                 "game:restore('slot1')\n"
                                 "restored = game:state()"));
    EXPECT_EQ(w.save.text("saved"), "true");
    EXPECT_EQ(w.save.text("restored"), "true");
    // It comes back by its resource, under its own name.
    EXPECT_FALSE(w.save.f.logged("NOT found"));
    bool found = false;
    for (Sound* sound : w.sound.core.globalSounds(SoundChannelEffect))
        if (automatic == sound->getName()) found = std::strcmp(sound->bankSound()->name(), "bell") == 0;
    EXPECT_TRUE(found) << automatic;
    // Both come back playing, each of its own resource.
    Sound* bell = w.sceneSound(0, "bell");
    ASSERT_NE(bell, nullptr);
    EXPECT_TRUE(audible(bell));
    // A sound named apart from its alias comes back by the resource it played.
    Sound* ring = w.sceneSound(0, "door ring");
    ASSERT_NE(ring, nullptr);
    EXPECT_STREQ(ring->bankSound()->name(), "bell");
    EXPECT_TRUE(audible(ring));
    ASSERT_TRUE(w.framesUntil([&] { return audible(w.sceneSound(3, "auto#amb@snd=default")); }));
    EXPECT_STREQ(w.sceneSound(3, "auto#amb@snd=default")->bankSound()->name(), "wind");
    ASSERT_TRUE(w.save.runPosted("found = soundManager:get(SoundManager.Effect, 'bell'):name()"));
    EXPECT_EQ(w.save.text("found"), "bell");
}

// Music started by "gPlay" (it goes by itself once it ends, and a loop
// never ends) comes back from a saved game as the global sound it was and
// plays again with the frames that follow the restore.
TEST(SoundGame, GlobalMusicPlayingAtTheSavePlaysAgainAfterTheRestore) {
    SoundGameWorld w("", {oggFile("tune", "music", oggBytes("length 3.0\ntone 330 3.0\n"))});
    ASSERT_TRUE(w.save.runPosted("game:load('intro')\n"
                                 "music = soundManager:gPlay(SoundManager.Music, 'tune', 'tune')\n"
                                 "music:volume(60)\n"
                                 "saved = game:save('slot1')"));
    EXPECT_EQ(w.save.text("saved"), "true");
    ASSERT_TRUE(audible(w.sound.core.globalSounds(SoundChannelMusic).at(0)));
    const std::int32_t level = SoundScriptWorld::outputVolume(*w.sound.core.globalSounds(SoundChannelMusic).at(0));
    ASSERT_TRUE(w.save.runPosted("game:restore('slot1')\nrestored = game:state()"));
    EXPECT_EQ(w.save.text("restored"), "true");
    const auto& music = w.sound.core.globalSounds(SoundChannelMusic);
    ASSERT_EQ(music.size(), 1u);
    EXPECT_STREQ(music[0]->getName(), "tune");
    for (int frame = 1; frame <= 3; ++frame) w.sound.core.updateListener(frameAt(10.0 + 0.1 * frame, 0.1), 1);
    ASSERT_EQ(music.size(), 1u);
    EXPECT_TRUE(audible(music[0]));
    EXPECT_EQ(SoundScriptWorld::outputVolume(*music[0]), level);

    // Listed as in use like the music it stands for, it keeps its buffer
    // through the next scene's load.
    ASSERT_TRUE(w.save.runPosted("game:load('second')\nloaded = game:state()"));
    EXPECT_EQ(w.save.text("loaded"), "true");
    for (int frame = 1; frame <= 3; ++frame) w.sound.core.updateListener(frameAt(20.0 + 0.1 * frame, 0.1), 1);
    ASSERT_EQ(music.size(), 1u);
    EXPECT_TRUE(audible(music[0]));
}

namespace {

// The performance counter the frame step reads, moved by hand (microseconds).
std::atomic<std::int64_t> manualMicroseconds{1};
std::int64_t manualCounter() { return manualMicroseconds.load(); }

struct ManualClock {
    ManualClock() {
        manualMicroseconds = 1;
        platform::setPerformanceCounterSource(&manualCounter, 1000000);
    }
    ~ManualClock() { platform::setPerformanceCounterSource(nullptr, 0); }
};

// The stored scene "pier": two ground volumes, squares of 10 by 10,
// "sound:pier" around (20, 0, 0) and "sound:default" around (-20, 0, 0),
// and three camera waypoints 10 above the ground: "over" the pier, "home"
// over the other and "beside" them both.
std::vector<FixtureFile> pierScene() {
    scene_tools::SceneDescription scene;
    std::string error;
    EXPECT_TRUE(scene_tools::parseSceneDescription("scene pier\nsky\nactions\nlightset pier_default\n"
                                                   "waypoint volume sound:pier at 20 0 0\n"
                                                   "waypoint volume sound:default at -20 0 0\n"
                                                   "waypoint camera over at 20 10 1\n"
                                                   "waypoint camera home at -20 10 1\n"
                                                   "waypoint camera beside at 0 10 1\n"
                                                   "area water at 0 0 0 extents 60 20 60\n",
                                                   scene, error))
        << error;
    for (const std::unique_ptr<Y3Pose>& pose : scene.waypoints.poses())
        if (auto* volume = dynamic_cast<Y3Pose_Volume*>(pose.get())) {
            const float x = volume->pose.m[9];
            const float corners[4][2] = {{x - 5, -5}, {x + 5, -5}, {x + 5, 5}, {x - 5, 5}};
            for (const float* corner : corners) {
                PoseVector3 point;
                point.v[0] = corner[0];
                point.v[2] = corner[1];
                volume->polygon.push_back(point);
            }
        }
    return {{".ms4", "pier", scene_tools::sceneDataBytes(scene.data), ""},
            {".sky", "pier", "sky", ""},
            {".as", "pier", "actions", ""},
            {".wp", "pier", scene_tools::waypointBytes(scene.waypoints), ""},
            {".ls", "pier_default", scene_tools::lightSetBytes(scene.lightSets.front()), ""}};
}

// The pier scene played by the game's frame step, with the default set's
// wind and the pier set's gulls.
struct PierWorld {
    PierWorld()
        : game("sounds.ambient.3d.ambient_pier string gulls\n", [] {
              std::vector<FixtureFile> files = pierScene();
              files.push_back(oggFile("gulls", "ambient", oggBytes("length 2.0\ntone 880 2.0\n")));
              return files;
          }()) {}
    // Frames of 0.1 s of the main loop until done says so (at most seconds).
    template <class Done>
    bool framesUntil(Done done, double seconds) {
        for (double t = 0.0; t < seconds; t += 0.1) {
            manualMicroseconds += 100000;
            loop.step();
            if (done()) return true;
        }
        return false;
    }
    Sound* ambient(const char* set) { return game.sceneSound(3, (std::string("auto#amb@snd=") + set).c_str()); }
    bool cameraTo(const std::string& waypoint) {
        return game.save.runPosted("moved = game:camera('[30 " + waypoint + "]')") && game.save.text("moved") == "true";
    }

    ManualClock clock;  // first: the clocks are made on it
    // The managers the stored scene reads its waypoints and screen actions
    // with, there until the game has let go of its scenes.
    WaypointDataManager waypoints;
    SceneActionDataManager actions;
    testing_support::ScopedCoreMember<WaypointDataManager> useWaypoints{gameCore.waypoints, &waypoints};
    testing_support::ScopedCoreMember<SceneActionDataManager> useActions{gameCore.screenActions, &actions};
    SoundGameWorld game;
    ThisMainLoop loop;
};

}  // namespace

// The camera over a "sound:" volume picks the volume's ambient set: its
// sound starts, the other set's sound fades out over a second and is
// deleted. A set whose sound is still fading out when the camera comes back
// has it made anew once it is gone. Away from every volume the set stays.
TEST(SoundGame, TheGroundVolumeBeneathTheCameraPicksTheAmbientSet) {
    PierWorld w;
    ASSERT_TRUE(w.game.save.runPosted("game:load('pier')"));
    Scene* scene = w.game.save.f.game->currentScene();
    ASSERT_NE(scene, nullptr);
    ASSERT_STREQ(scene->getName(), "pier");
    gameCore.cameraMode = 1;
    // The camera starts at the scene's origin, over no volume.
    ASSERT_TRUE(w.framesUntil([&] { return audible(w.ambient("default")); }, 3.0));
    EXPECT_STREQ(scene->ambientSet, "default");

    ASSERT_TRUE(w.cameraTo("over"));
    ASSERT_TRUE(w.framesUntil([&] { return w.ambient("pier") != nullptr; }, 0.5));
    EXPECT_STREQ(scene->ambientSet, "pier");
    // Back over the default volume while the wind fades out: the wind stops
    // at the end of its fade, is deleted, and starts anew.
    ASSERT_TRUE(w.cameraTo("home"));
    ASSERT_TRUE(w.framesUntil([&] { return !audible(w.ambient("default")); }, 1.5));
    EXPECT_STREQ(scene->ambientSet, "default");
    ASSERT_TRUE(w.framesUntil([&] { return audible(w.ambient("default")); }, 3.0));
    EXPECT_STREQ(w.ambient("default")->bankSound()->name(), "wind");
    EXPECT_EQ(w.ambient("pier"), nullptr);

    ASSERT_TRUE(w.cameraTo("over"));
    ASSERT_TRUE(w.framesUntil([&] { return audible(w.ambient("pier")) && !w.ambient("default"); }, 4.0));
    EXPECT_STREQ(w.ambient("pier")->bankSound()->name(), "gulls");
    ASSERT_TRUE(w.cameraTo("beside"));
    w.framesUntil([] { return false; }, 2.0);
    EXPECT_STREQ(scene->ambientSet, "pier");
    EXPECT_TRUE(audible(w.ambient("pier")));
    EXPECT_EQ(w.ambient("default"), nullptr);
}

TEST(SoundScript, EffectsAtAPointPlayByGroupAndAGroupIsStoppedTogether) {
    SoundScriptWorld w;
    SoundCore& core = w.sound.core;
    const float near[3] = {1.0f, 0.0f, 2.0f};
    ASSERT_TRUE(gameCore.playSoundAt("step##", near, "walker"));
    ASSERT_TRUE(gameCore.playSoundAt("click", near, "walker"));
    ASSERT_TRUE(gameCore.playSoundAt("hum", near, "other"));
    const std::vector<Sound*>& effects = core.globalSounds(SoundChannelEffect);
    ASSERT_EQ(effects.size(), 3u);
    // The numbered variant of the footstep name, automatically named.
    EXPECT_STREQ(effects[0]->bankSound()->name(), "step01");
    EXPECT_EQ(std::string(effects[0]->getName()).rfind("AUTO-effect-", 0), 0u);
    EXPECT_FLOAT_EQ(effects[0]->parameters.vPosition.z, 2.0f);
    // The next frame starts them.
    w.frame(0.05);
    for (Sound* sound : effects) EXPECT_TRUE(sound->playing()) << sound->getName();
    EXPECT_TRUE(gameCore.stopSoundEffects("walker"));
    ASSERT_EQ(effects.size(), 1u);
    EXPECT_STREQ(effects[0]->bankSound()->name(), "hum");

    // Out of hearing with a floor of 0: nothing is made, and that is no
    // failure.
    const SoundSettings saved = soundSettings;
    soundSettings.attenMinValue = 0.0f;
    const float far[3] = {0.0f, 0.0f, 500.0f};
    EXPECT_TRUE(gameCore.playSoundAt("click", far, "walker"));
    EXPECT_EQ(effects.size(), 1u);
    soundSettings = saved;
}

// A fade ends a sound whose streamed buffer would play on by itself: an
// automatic effect longer than its buffer stops when its fade has run and
// is deleted.
TEST(SoundScript, AFadedStreamedSoundStopsAtTheEndOfItsFade) {
    SoundScriptWorld w;
    ASSERT_TRUE(gameCore.playAutoSound("hum", GameObjectLink{}));
    const std::vector<Sound*>& effects = w.sound.core.globalSounds(SoundChannelEffect);
    ASSERT_EQ(effects.size(), 1u);
    Sound* hum = effects[0];
    w.frame(0.05);
    ASSERT_TRUE(hum->playing());
    ASSERT_TRUE(hum->instance()->buffer->streamed());
    hum->fade(0.5f);
    for (double t = 0.1; t < 0.8; t += 0.05) w.frame(t);
    EXPECT_TRUE(effects.empty());
}

TEST(SoundGame, SceneSoundsByChannelAndName) {
    SoundGameWorld w;
    ASSERT_TRUE(w.save.runPosted("game:load('intro')"));
    ASSERT_TRUE(gameCore.scene_playSound("shot", "bell", SoundChannelEffect, false));
    Sound* shot = dynamic_cast<Sound*>(gameCore.scene_findSound(SoundChannelEffect, "shot"));
    ASSERT_NE(shot, nullptr);
    EXPECT_TRUE(audible(shot));
    EXPECT_EQ(shot->getSceneLink(), gameCore.currentScene()->id);
    EXPECT_EQ(gameCore.scene_findSound(SoundChannelVoice, "shot"), nullptr);
    EXPECT_FALSE(gameCore.scene_playSound("shot", "bell", SoundChannelEffect, false));
    EXPECT_TRUE(w.sound.log().contains("Scene sound [shot] already exist in scene [intro]"));
    EXPECT_EQ(gameCore.scene_createSound(5, "x", "bell"), nullptr);
    EXPECT_TRUE(w.sound.log().contains("Use valid sound channel"));
    EXPECT_EQ(gameCore.scene_createSound(SoundChannelEffect, "x", "nothing"), nullptr);
    EXPECT_TRUE(w.sound.log().contains("Sound resource [nothing] NOT found: Fail create sounds object [x]"));

    ASSERT_TRUE(w.save.runPosted(R"(
        there = soundManager:test(SoundManager.Effect, "shot")
        unnamed = soundManager:create(SoundManager.Effect, "", "bell")
        noalias = soundManager:create(SoundManager.Effect, "y", "")
        made = soundManager:create(SoundManager.Music, "y", "bell")
        deleted = soundManager:delete(SoundManager.Effect, "shot")
        gone = soundManager:test(SoundManager.Effect, "shot")
    )"));
    EXPECT_EQ(w.save.text("there"), "true");
    EXPECT_EQ(w.save.text("unnamed"), "nil");
    EXPECT_TRUE(w.sound.log().contains("Can't create sound on channel [effect]: sound object name is EMPTY!!!"));
    EXPECT_EQ(w.save.text("noalias"), "nil");
    EXPECT_TRUE(w.sound.log().contains("Can't create sound [y] on channel [effect]: ogg resource name is EMPTY!!!"));
    EXPECT_EQ(w.save.text("made"), "nil");  // the bell is no music
    EXPECT_EQ(w.save.text("deleted"), "true");
    EXPECT_EQ(w.save.text("gone"), "false");

    // The dialogs' road: a scene sound made, then started through the hook.
    GameObject* line = gameCore.currentScene()->addSound(SoundChannelEffect, "line", "bell", 0);
    ASSERT_NE(line, nullptr);
    ASSERT_NE(sceneFactories().soundPlay, nullptr);
    EXPECT_TRUE(sceneFactories().soundPlay(*line));
    EXPECT_TRUE(audible(dynamic_cast<Sound*>(line)));

    // A sound goes to a waypoint of the scene.
    Matrix34 dock = matrix34Identity();
    dock.m[9] = 5.0f;
    dock.m[11] = 7.0f;
    ASSERT_TRUE(gameCore.currentScene()->setDynamicWaypoint("dock", dock));
    EXPECT_TRUE(gameCore.teleportObject(GameObjectLink::fromObject(line), "dock", 0.0f));
    EXPECT_FLOAT_EQ(dynamic_cast<Sound*>(line)->parameters.vPosition.x, 5.0f);
    EXPECT_FLOAT_EQ(dynamic_cast<Sound*>(line)->parameters.vPosition.z, 7.0f);
    EXPECT_FALSE(gameCore.teleportObject(GameObjectLink::fromObject(line), "nowhere", 0.0f));
    EXPECT_TRUE(w.sound.log().contains("Required waypoint with name [nowhere] to execute TELEPORT for Sound object [line]"));
    EXPECT_FALSE(gameCore.teleportObject(GameObjectLink::fromObject(line), "", 0.0f));
    EXPECT_TRUE(w.sound.log().contains("Fail teleport sound to empty destination: [line]->NULL"));

    // Voices belong to models only.
    EXPECT_FALSE(gameCore.object_voice(GameObjectLink::fromObject(gameCore.currentScene()), "bell"));
    EXPECT_FALSE(gameCore.test_voice(GameObjectLink::fromObject(gameCore.currentScene())));
}

TEST(SoundScript, AHandleKeptAfterItsSoundWasDeletedIsRefused) {
    SoundScriptWorld w;
    ASSERT_TRUE(w.run(R"(
        kept = soundManager:gPlay(SoundManager.Effect, "once", "click")
    )"));
    w.sound.advance(400);
    w.frame(1.0);
    w.frame(1.05);
    ASSERT_EQ(w.global(SoundChannelEffect, "once"), nullptr);
    ASSERT_TRUE(w.run(R"(
        played = tostring(kept:play())
        named = kept:name()
        length = kept:duration()
        blender = kept.blend:classof()
    )"));
    EXPECT_EQ(w.lua.global("played"), "false");
    EXPECT_EQ(w.lua.global("named"), "");
    EXPECT_EQ(w.lua.number("length"), 0.0);
    EXPECT_EQ(w.lua.global("blender"), "Blender");
    EXPECT_TRUE(w.logged("Can't use sound: the sound object is deleted"));
}
