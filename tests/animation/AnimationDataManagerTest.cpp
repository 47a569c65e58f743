// The animation core and its managers: records made on request, instance
// references, the allocation and release passes, the typed managers'
// identity and compile refusals.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "animation/AnimationDataManager.h"
#include "animation/AnimationTestSupport.h"
#include "app/SaveGame.h"

using namespace animation_tests;
using resource_tests::ProgressRecorder;

namespace {

// An instance that plays an animation, as far as its record sees it.
struct TestInstance : ResourceUser {
    explicit TestInstance(std::string n) : name(std::move(n)) {}
    const char* resourceUserName() const override { return name.c_str(); }
    bool resourcePushed() const override { return pushed; }
    void setResourcePushed(bool value) override { pushed = value; }
    std::string name;
    bool pushed = false;
};

TEST(AnimationDataManager, AMissingFileMakesAnUnavailableRecordThatRefusesInstances) {
    AnimationFixture f(animationFiles(kWalkDescription));
    Y3AnimData* record = f.animations().getOrCreate("hero.run", true);
    EXPECT_EQ(f.animations().getOrCreate("hero.run", true), record);
    EXPECT_TRUE(record->has(kResourceUnavailable));
    EXPECT_TRUE(f.logged("Fail while create animation data [hero.run]: Resource file [hero.run.ani4] not found"));
    TestInstance instance("hero");
    EXPECT_FALSE(record->pushReference(&instance));
    EXPECT_TRUE(f.logged("Can't push animation data: resourse [hero.run] is invalid"));
    EXPECT_TRUE(f.logged("Can't push animation data instance to animation resource repository"));
    EXPECT_FALSE(f.animations().getOrCreate("hero.walk", true)->has(kResourceUnavailable));
}

TEST(AnimationDataManager, InstancesArePushedAndPoppedWithTheirMessages) {
    AnimationFixture f(animationFiles(kWalkDescription));
    Y3AnimData* record = f.animations().getOrCreate("hero.walk", true);
    TestInstance a("a");
    TestInstance b("b");
    TestInstance c("c");
    EXPECT_FALSE(record->popReference(&a));
    EXPECT_TRUE(f.logged("Can't pop animation data [a]: push first"));
    ASSERT_TRUE(record->pushReference(&a));
    EXPECT_FALSE(record->pushReference(&a));
    EXPECT_TRUE(f.logged("Can't push animation data [a] twice"));
    ASSERT_TRUE(record->pushReference(&b));
    ASSERT_TRUE(record->pushReference(&c));
    // Registered already, at any position of the list.
    for (TestInstance* instance : {&a, &b, &c}) {
        SCOPED_TRACE(instance->name);
        const std::size_t mark = f.log().recordCount();
        instance->pushed = false;
        EXPECT_FALSE(record->pushReference(instance));
        instance->pushed = true;
        const auto texts = resource_tests::logSince(f.log(), mark);
        ASSERT_EQ(texts.size(), 2u);
        EXPECT_EQ(texts[0], "Can't push animation [" + instance->name +
                                "] to animation data [hero.walk]: Already registered");
        EXPECT_EQ(texts[1], "Can't push animation data instance to animation resource repository");
    }
    ASSERT_TRUE(record->popReference(&b));
    EXPECT_EQ(record->users.count(), 2u);
    b.pushed = true;
    EXPECT_FALSE(record->popReference(&b));
    EXPECT_TRUE(f.logged("Can't delete animation [b] from animation data references list [hero.walk]"));
    EXPECT_TRUE(f.logged("Can't pop animation data instance from animation resources repository"));
    // The failed pop leaves it unregistered: it can be pushed again.
    EXPECT_FALSE(b.pushed);
    ASSERT_TRUE(record->pushReference(&b));
    EXPECT_TRUE(record->popReference(&b));
    EXPECT_TRUE(record->popReference(&a));
    EXPECT_TRUE(record->popReference(&c));
}

TEST(AnimationDataManager, AllocationWithNothingReferencedReportsStageTenDone) {
    AnimationFixture f(animationFiles(kWalkDescription));
    f.animations().getOrCreate("hero.walk", true);
    ProgressRecorder progress;
    EXPECT_TRUE(f.animations().allocateAll());
    ASSERT_EQ(progress.reports.size(), 1u);
    EXPECT_EQ(progress.reports[0], std::make_pair(10, 1.0f));
    EXPECT_TRUE(f.animations().ready());
}

TEST(AnimationDataManager, ReferencedAnimationsAllocateAndUnreferencedOnesRelease) {
    AnimationFixture f(animationFiles(kWalkDescription + std::string("anim hero.idle 2\n")));
    Y3AnimData* walk = f.animations().getOrCreate("hero.walk", true);
    Y3AnimData* idle = f.animations().getOrCreate("hero.idle", true);
    Y3AnimData* missing = f.animations().getOrCreate("hero.gone", false);
    missing->flags |= kResourcePlaceholder;
    TestInstance a("a");
    TestInstance b("b");
    TestInstance c("c");
    ASSERT_TRUE(walk->pushReference(&a));
    ASSERT_TRUE(idle->pushReference(&b));
    ASSERT_TRUE(missing->pushReference(&c));
    {
        ProgressRecorder progress;
        EXPECT_FALSE(f.animations().allocateAll());
        EXPECT_TRUE(f.logged("Can't allocate animation data resource [hero.gone]"));
        EXPECT_EQ(progress.reports.back(), std::make_pair(10, 1.0f));
        EXPECT_FALSE(f.animations().ready());
    }
    EXPECT_TRUE(walk->has(kResourceAllocated));
    ASSERT_NE(walk->data, nullptr);
    EXPECT_EQ(walk->data->frameCount, 26);
    ASSERT_TRUE(idle->popReference(&b));
    ASSERT_TRUE(missing->popReference(&c));
    {
        ProgressRecorder progress;
        f.animations().releaseUnreferenced();
        EXPECT_EQ(progress.reports.back(), std::make_pair(4, 1.0f));
    }
    EXPECT_EQ(idle->data, nullptr);
    EXPECT_FALSE(idle->has(kResourceAllocated | kResourceHeaderLoaded));
    EXPECT_NE(walk->data, nullptr);
    ASSERT_TRUE(walk->popReference(&a));
    f.animations().unloadAll();
    EXPECT_FALSE(walk->has(kResourceAllocated));
}

TEST(AnimationDataManager, ALoadAllocatesReferencedAnimationsAndDropsTheOthers) {
    AnimationFixture f(animationFiles(kWalkDescription + std::string("anim hero.idle 2\n")));
    Y3AnimData* walk = f.animations().getOrCreate("hero.walk", true);
    Y3AnimData* idle = f.animations().getOrCreate("hero.idle", true);
    TestInstance a("a");
    TestInstance b("b");
    ASSERT_TRUE(walk->pushReference(&a));
    ASSERT_TRUE(idle->pushReference(&b));
    SaveGame game;
    EXPECT_TRUE(game.initializeLoadedData());
    EXPECT_TRUE(walk->has(kResourceAllocated));
    EXPECT_TRUE(idle->has(kResourceAllocated));
    // The next load: the idle's instance is gone.
    ASSERT_TRUE(idle->popReference(&b));
    game.releaseUnreferencedData();
    EXPECT_EQ(idle->data, nullptr);
    EXPECT_NE(walk->data, nullptr);
    ASSERT_TRUE(walk->popReference(&a));
}

TEST(AnimationDataManager, TheTypedManagersNameThemselvesFromTheManagerTable) {
    testing_support::ScopedGameCore core;
    AnimationCore animation;
    struct Case {
        DataManager* manager;
        const char* source;
        const char* compiled;
        std::int32_t type;
        const char* title;
        std::uint32_t own;
    };
    const Case cases[] = {
        {&animation.morphs(), ".trk", ".lip", 27, "Leap synchronization DB", 1},
        {&animation.trackerMaps(), ".xls", ".amap", 38, "Game animation bones map DB", 0},
        {&animation.rules(), ".xls", ".adb", 39, "Game animation rules DB", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.title);
        EXPECT_STREQ(c.manager->sourceExtension(), c.source);
        EXPECT_STREQ(c.manager->compiledExtension(), c.compiled);
        EXPECT_EQ(c.manager->typeNumber(), c.type);
        EXPECT_STREQ(c.manager->title(), c.title);
        EXPECT_EQ(c.manager->ownValue(), c.own);
        EXPECT_TRUE(c.manager->perFileData());
        EXPECT_TRUE(c.manager->initialize());
    }
    EXPECT_TRUE(animation.initialize());

    EXPECT_FALSE(animation.trackerMaps().compileFromSource("maps.xls"));
    EXPECT_TRUE(core.log().contains("Animation map compiler not work in game mode"));
    EXPECT_TRUE(core.log().contains("Can't compile animation map file [maps.xls]"));
    EXPECT_FALSE(animation.rules().compileFromSource("rules.xls"));
    EXPECT_TRUE(core.log().contains("animation rules compilation NOT possible in game"));
    EXPECT_TRUE(core.log().contains("Can't compile animation rules file [rules.xls]"));
    EXPECT_FALSE(animation.morphs().compileFromSource("talk.trk"));
    EXPECT_TRUE(core.log().contains("Morph: Can't open file [talk.trk]"));
}

TEST(AnimationDataManager, ReleasingTheCoreReportsInstancesStillRegistered) {
    AnimationFixture f(animationFiles(kWalkDescription));
    Y3AnimData* walk = f.animations().getOrCreate("hero.walk", true);
    TestInstance a("hero");
    ASSERT_TRUE(walk->pushReference(&a));
    f.core.release();
    EXPECT_TRUE(f.logged("Resource animation data [hero.walk] has lost references to animation(s):"));
    EXPECT_TRUE(f.logged(" [0]->hero"));
    EXPECT_EQ(f.animations().count(), 0u);
}

}  // namespace
