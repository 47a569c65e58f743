#include "sound/SoundBank.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <set>
#include <string>

#include "app/SaveGame.h"
#include "resources/ResourceTestSupport.h"
#include "script/ScriptVariable.h"
#include "script/VariablesCore.h"
#include "sound/Sound.h"
#include "sound/SoundBuffer.h"
#include "sound/SoundFixture.h"

namespace {

using namespace sound_fixture;

std::string shortEffect() { return oggBytes("length 0.5\ntone 440 0.5\n"); }

}  // namespace

TEST(SoundBank, AcquireKeepsEachChannelSortedAndFindsTheSameSound) {
    SoundBank bank;
    const char* names[] = {"mid", "Zed", "alpha", "mid", "zed"};
    BankSound* firstMid = nullptr;
    for (const char* name : names) {
        BankSound* sound = bank.acquire(SoundChannelEffect, name, "direct");
        ASSERT_NE(sound, nullptr);
        if (std::strcmp(name, "mid") == 0) {
            if (!firstMid) firstMid = sound;
            EXPECT_EQ(sound, firstMid);
        }
        EXPECT_FALSE(sound->source.isOpen());
    }
    const auto& list = bank.channel(SoundChannelEffect);
    ASSERT_EQ(list.size(), 4u);
    // Byte-wise order: upper case before lower case.
    EXPECT_STREQ(list[0]->name(), "Zed");
    EXPECT_STREQ(list[1]->name(), "alpha");
    EXPECT_STREQ(list[2]->name(), "mid");
    EXPECT_STREQ(list[3]->name(), "zed");
    EXPECT_TRUE(bank.channel(SoundChannelMusic).empty());
    EXPECT_EQ(bank.acquire(5, "mid", "direct"), nullptr);
    EXPECT_EQ(bank.acquire(-1, "mid", "direct"), nullptr);
}

TEST(SoundBank, IdleSoundClosesAfterThirtySecondsAndReopensOnItsNextUse) {
    SoundWorld world({oggFile("click", "effect", shortEffect())});
    SoundBank& bank = *world.core.bank;
    BankSound* click = bank.acquire(SoundChannelEffect, "click", "direct");
    ASSERT_TRUE(click->open());
    EXPECT_FALSE(click->open());
    EXPECT_TRUE(world.log().contains("Fail create sound object [click] from alias [direct]: Already created"));

    updateSoundBank(bank, 30.0);
    EXPECT_TRUE(click->source.isOpen());
    updateSoundBank(bank, 30.5);
    EXPECT_FALSE(click->source.isOpen());
    EXPECT_EQ(bank.channel(SoundChannelEffect).size(), 1u);  // the record stays

    SoundInstance* instance = click->newInstance(false, true);
    ASSERT_NE(instance, nullptr);
    EXPECT_TRUE(click->source.isOpen());
    EXPECT_TRUE(instance->buffer->allocated());
    EXPECT_NEAR(click->getDuration(), 0.5, 0.01);
    // A sound with an instance stays open whatever the time.
    updateSoundBank(bank, 100.0);
    EXPECT_TRUE(click->source.isOpen());
    EXPECT_DOUBLE_EQ(click->lastUsed, 100.0);
    // Release refuses while the instance is listed.
    EXPECT_FALSE(click->release());
    EXPECT_TRUE(world.log().contains(" Not all sounds threads released. Cant release sound [click] from alias [direct]"));
    // Given back, it is only cached for duplication: the release drops it.
    ASSERT_TRUE(click->releaseInstance(instance));
    ASSERT_EQ(click->instances.size(), 1u);
    EXPECT_TRUE(click->release());
    EXPECT_TRUE(click->instances.empty());
    EXPECT_FALSE(click->source.isOpen());
}

TEST(SoundBank, CachedInstanceIsDuplicatedAndGoesOnceASecondExists) {
    SoundWorld world({oggFile("click", "effect", shortEffect())});
    SoundBank& bank = *world.core.bank;
    BankSound* click = bank.acquire(SoundChannelEffect, "click", "direct");
    SoundInstance* first = click->newInstance(false, true);
    ASSERT_NE(first, nullptr);
    ASSERT_TRUE(click->releaseInstance(first));
    ASSERT_EQ(click->instances.size(), 1u);  // cached, not deleted
    EXPECT_TRUE(first->buffer->flags & SoundBuffer::kReleased);
    const double released = first->buffer->releaseTime;

    // Within the cache time the cached instance stays.
    updateSoundBank(bank, released + 4.0);
    ASSERT_EQ(click->instances.size(), 1u);

    {
        // The sound thread's next tick drops the cached instance now that a
        // second exists: the lock holds it off while the two are looked at.
        GameSoundLock lock;
        SoundInstance* second = click->newInstance(false, true);
        ASSERT_NE(second, nullptr);
        EXPECT_EQ(world.core.allocatedBuffers[3], 2);  // a duplicate of the cached buffer
        EXPECT_FALSE(second->buffer->flags & SoundBuffer::kReleased);
    }
    SoundInstance* second = click->instances.back();
    updateSoundBank(bank, released + 4.5);
    ASSERT_EQ(click->instances.size(), 1u);
    EXPECT_EQ(click->instances[0], second);
    EXPECT_EQ(world.core.allocatedBuffers[3], 1);

    // Alone and cached past the cache time: dropped.
    ASSERT_TRUE(click->releaseInstance(second));
    updateSoundBank(bank, second->buffer->releaseTime + 5.5);
    EXPECT_TRUE(click->instances.empty());
    EXPECT_EQ(world.core.allocatedBuffers[3], 0);

    SoundInstance stranger(click, true);
    EXPECT_FALSE(click->releaseInstance(&stranger));
    EXPECT_TRUE(world.log().contains("Can't release sound [click] from alias [direct] thread: not found"));
}

// A second voice of a sound whose first one cannot be duplicated (a
// streamed buffer, or none while the bank holds its buffers back) gets a
// buffer of its own, quietly; a whole buffer behind it is still copied.
TEST(SoundBank, SecondVoiceBehindAnUncopyableFirstGetsItsOwnBuffer) {
    struct Case {
        const char* what;
        std::string ogg;
        bool bankAllocates;
    };
    const Case cases[] = {
        {"streamed first", oggBytes("channels 1\nlength 2.0\ntone 110 0.3\n"), true},
        {"unallocated first", shortEffect(), false},
    };
    for (const Case& c : cases) {
        SoundWorld world({oggFile("hum", "effect", c.ogg)});
        SoundBank& bank = *world.core.bank;
        bank.buffersAllocated = c.bankAllocates;
        BankSound* hum = bank.acquire(SoundChannelEffect, "hum", "direct");
        SoundInstance* first = hum->newInstance(false, true);
        ASSERT_NE(first, nullptr) << c.what;
        ASSERT_NE(first->buffer->allocated() && !first->buffer->streamed(), true) << c.what;
        SoundInstance* second = hum->newInstance(true, true);
        ASSERT_NE(second, nullptr) << c.what;
        EXPECT_TRUE(second->buffer->allocated()) << c.what;
        EXPECT_EQ(hum->instances.size(), 2u) << c.what;
        EXPECT_FALSE(world.log().contains("can't be duplicated")) << c.what;
        EXPECT_FALSE(world.log().contains("Can't duplicate sound buffer")) << c.what;
        // A third voice copies the second's whole buffer when it has one.
        if (!second->buffer->streamed()) {
            SoundInstance* third = hum->newInstance(false, true);
            ASSERT_NE(third, nullptr) << c.what;
            EXPECT_TRUE(third->buffer->allocated()) << c.what;
        }
        bank.buffersAllocated = true;
    }
}

TEST(SoundBank, PushAndPopListEachSoundOnce) {
    SoundBank bank;
    BankSound* click = bank.acquire(SoundChannelEffect, "click", "click_alias");
    Sound a(nullptr, "a", false, false), b(nullptr, "b", false, false);
    EXPECT_TRUE(click->push(&a));
    EXPECT_TRUE(click->push(&b));
    EXPECT_FALSE(click->push(&a));
    EXPECT_EQ(click->sounds.size(), 2u);
    EXPECT_TRUE(click->pop(&a));
    EXPECT_TRUE(click->pop(&a));  // not pushed: logged, still true
    ASSERT_EQ(click->sounds.size(), 1u);
    EXPECT_EQ(click->sounds[0], &b);
    EXPECT_FALSE(click->release());
    EXPECT_TRUE(click->pop(&b));
}

TEST(SoundBank, ReleasePackagesKeepsAChannelWithUsers) {
    SoundWorld world({oggFile("click", "effect", shortEffect()), oggFile("song", "music", shortEffect())});
    SoundBank& bank = *world.core.bank;
    BankSound* click = bank.acquire(SoundChannelEffect, "click", "direct");
    ASSERT_TRUE(bank.acquire(SoundChannelMusic, "song", "direct")->open());
    Sound user(nullptr, "user", false, false);
    ASSERT_TRUE(click->push(&user));
    EXPECT_FALSE(bank.releasePackages());
    EXPECT_TRUE(world.log().contains("Not all sounds released from sound package effect"));
    EXPECT_EQ(bank.channel(SoundChannelEffect).size(), 1u);
    EXPECT_TRUE(bank.channel(SoundChannelMusic).empty());
    click->pop(&user);
    EXPECT_TRUE(bank.releasePackages());
}

// A bank sound destroyed while a sound still uses it says so, unless the
// process is going down.
TEST(SoundBank, ABankSoundDestroyedInUseIsReportedUnlessTheProcessEnds) {
    SoundWorld world({oggFile("click", "effect", shortEffect())});
    const struct {
        bool goingDown;
        bool reported;
    } cases[] = {{false, true}, {true, false}};
    for (const auto& c : cases) {
        world.log().clear();
        Sound user(nullptr, "user", false, false);
        {
            BankSound click("click", SoundChannelEffect, "direct");
            ASSERT_TRUE(click.push(&user));
            if (c.goingDown) gameCore.flags |= 0x80000000u;
        }
        gameCore.flags &= ~0x80000000u;
        EXPECT_EQ(world.log().contains("Can't delete sound [click]: Not all threads released"), c.reported);
        EXPECT_EQ(world.log().contains("Not all sounds instances released from sound [click] from alias [direct]= 1"),
                  c.reported);
    }
}

namespace {

// Alias variables below "sounds.alias.<group>".
void setAlias(VariablesCore& variables, const char* group, const char* alias, const char* name) {
    ScriptVariable* root = variables.globals().ensureRoot();
    ScriptVariable* sounds = root->resolvePath("sounds");
    if (!sounds) sounds = root->appendChild("sounds");
    ScriptVariable* aliases = sounds->resolvePath("alias");
    if (!aliases) aliases = sounds->appendChild("alias");
    ScriptVariable* table = aliases->resolvePath(group);
    if (!table) table = aliases->appendChild(group);
    table->appendChild(alias)->setString(name);
}

struct AliasWorld : SoundWorld {
    AliasWorld()
        : SoundWorld({oggFile("door", "effect", shortEffect()), oggFile("door_oak", "effect", shortEffect()),
                      oggFile("door_iron", "effect", shortEffect()), oggFile("step01", "effect", shortEffect()),
                      oggFile("step02", "effect", shortEffect()), oggFile("step03", "effect", shortEffect())}) {
        game.scene = "quay";
        setAlias(variables, "alias_shared", "door", "door_iron");
        setAlias(variables, "alias_shared", "gate", "door_iron");
        setAlias(variables, "alias_quay", "gate", "door_oak");
        setAlias(variables, "alias_shared", "walk", "step##");
        setAlias(variables, "alias_shared", "creak", "creak##");
    }
    VariablesCore variables;
    SaveGame game;
    testing_support::ScopedCoreMember<VariablesCore> useVariables{gameCore.variables, &variables};
    testing_support::ScopedCoreMember<SaveGame> useGame{gameCore.game, &game};
};

}  // namespace

TEST(SoundBank, AliasesResolveResourceFirstThenSceneThenSharedThenThemselves) {
    AliasWorld world;
    const struct {
        const char* alias;
        const char* name;
        const char* aliasText;
    } cases[] = {
        {"door", "door", "direct"},  // a resource of that name wins over the alias variable
        {"gate", "door_oak", "sounds.alias.alias_quay.gate"},
        {"nothing", "nothing", "direct"},
        {"creak", "creak", "sounds.alias.alias_shared.creak"},  // "##" without variants: the bare prefix
    };
    for (const auto& c : cases) {
        std::string name, aliasText;
        SoundBank::resolveAlias(SoundChannelEffect, c.alias, name, aliasText);
        EXPECT_EQ(name, c.name) << c.alias;
        EXPECT_EQ(aliasText, c.aliasText) << c.alias;
    }
    world.game.scene = "harbour";
    std::string name, aliasText;
    SoundBank::resolveAlias(SoundChannelEffect, "gate", name, aliasText);
    EXPECT_EQ(name, "door_iron");
    EXPECT_EQ(aliasText, "sounds.alias.alias_shared.gate");

    BankSound* gate = world.core.bank->findByAlias(SoundChannelEffect, "gate");
    EXPECT_STREQ(gate->name(), "door_iron");
    EXPECT_STREQ(gate->alias(), "sounds.alias.alias_shared.gate");
}

TEST(SoundBank, NumberedVariantsArePickedAtRandomAmongThoseInTheSource) {
    AliasWorld world;
    std::srand(7);
    std::set<std::string> seen;
    for (int i = 0; i < 60; ++i) {
        std::string name, aliasText;
        SoundBank::resolveAlias(SoundChannelEffect, "walk", name, aliasText);
        seen.insert(name);
    }
    EXPECT_EQ(seen, (std::set<std::string>{"step01", "step02", "step03"}));
    // The same prefix in another channel's source has no variants.
    std::string name, aliasText;
    SoundBank::resolveAlias(SoundChannelMusic, "step##", name, aliasText);
    EXPECT_EQ(name, "step");
}

TEST(SoundBank, LongAliasesAreCut) {
    AliasWorld world;
    const std::string alias(300, 'a');
    std::string name, aliasText;
    SoundBank::resolveAlias(SoundChannelEffect, alias.c_str(), name, aliasText);
    EXPECT_EQ(name, std::string(127, 'a'));
    EXPECT_EQ(aliasText, "direct");
}

TEST(SoundBank, ALoadGivesBackUnusedBuffersAndAllocatesAgainWithProgress) {
    SoundWorld world({oggFile("click", "effect", shortEffect()), oggFile("song", "music", shortEffect())});
    SoundBank& bank = *world.core.bank;
    resource_tests::ProgressRecorder progress;
    // click: open with a cached instance and no user; song: open and used.
    BankSound* click = bank.acquire(SoundChannelEffect, "click", "direct");
    SoundInstance* cached = click->newInstance(false, false);
    ASSERT_NE(cached, nullptr);
    ASSERT_TRUE(click->releaseInstance(cached));
    BankSound* song = bank.acquire(SoundChannelMusic, "song", "direct");
    std::unique_ptr<Sound> user(bank.createSound(song, 0, "user", true, false));
    ASSERT_TRUE(user->play(false, false));

    EXPECT_TRUE(bank.deallocateAll());
    EXPECT_FALSE(bank.buffersAllocated);
    EXPECT_FALSE(cached->buffer->allocated());
    EXPECT_TRUE(user->instance()->buffer->allocated());  // a sound still in use keeps its buffer
    const std::vector<std::pair<std::int32_t, float>> given = {{6, 0.0f}, {6, 1.0f}};
    EXPECT_EQ(progress.reports, given);
    // During the load new instances wait for their buffers.
    SoundInstance* waiting = click->newInstance(false, false);
    ASSERT_NE(waiting, nullptr);
    EXPECT_FALSE(waiting->buffer->allocated());

    progress.reports.clear();
    EXPECT_TRUE(bank.allocateAll());
    EXPECT_TRUE(bank.buffersAllocated);
    ASSERT_FALSE(progress.reports.empty());
    EXPECT_EQ(progress.reports.back(), std::make_pair(12, 1.0f));
    user->stop(false);
}

namespace {

// The load's progress as the game runs it: each report is a frame of the
// progress screen, whose sounds may start. This one starts a sound on a
// bank sound at the first report of the buffers' release.
class ProgressStartingASound : public resource_tests::ProgressRecorder {
public:
    ProgressStartingASound(SoundBank& bank, BankSound* target) : bank_(bank), target_(target) {}
    void setProgress(std::int32_t stage, float fraction) override {
        ProgressRecorder::setProgress(stage, fraction);
        if (stage != 6 || started) return;
        started.reset(bank_.createSound(target_, 0, "started", true, false));
        ASSERT_NE(started, nullptr);
        ASSERT_TRUE(started->play(false, false));
    }
    std::unique_ptr<Sound> started;

private:
    SoundBank& bank_;
    BankSound* target_;
};

}  // namespace

// A sound that a progress report of the load starts on a bank sound the
// load is giving its buffers back for keeps the buffer it plays on.
TEST(SoundBank, ASoundStartedDuringTheBuffersReleaseKeepsItsBuffer) {
    SoundWorld world({oggFile("click", "effect", shortEffect())});
    SoundBank& bank = *world.core.bank;
    BankSound* click = bank.acquire(SoundChannelEffect, "click", "direct");
    SoundInstance* cached = click->newInstance(false, false);
    ASSERT_NE(cached, nullptr);
    ASSERT_TRUE(click->releaseInstance(cached));
    ProgressStartingASound progress(bank, click);
    bank.deallocateAll();
    ASSERT_NE(progress.started, nullptr);
    ASSERT_NE(progress.started->instance(), nullptr);
    EXPECT_TRUE(progress.started->instance()->buffer->allocated());
    EXPECT_TRUE(progress.started->instance()->buffer->playing());
    EXPECT_TRUE(bank.allocateAll());
    EXPECT_TRUE(progress.started->setVolume(50.0f));
    EXPECT_FALSE(world.log().contains("allocate first"));
    progress.started->stop(false);
}
