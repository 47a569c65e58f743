// The script class "Animations": groups of the animations of the "levels"
// and "shared" packages, group selection and the group of a name.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/ScriptClasses.h"
#include "resources/ResourceTestSupport.h"
#include "script/ScriptTestFixture.h"

using resource_tests::storedFile;

namespace {

std::vector<testing_support::FixtureFile> packageFiles() {
    std::vector<testing_support::FixtureFile> files;
    for (const char* name : {"hero.walk", "hero.idle", "walk.slow", "door", "heroine.run"})
        files.push_back(storedFile(".ani4", name, "x", "levels"));
    files.push_back(storedFile(".ani4", "boat.rock", "x", "shared"));
    return files;
}

struct AnimationsScript {
    resource_tests::ScopedPackages packages{packageFiles()};
    std::size_t count = 0;
    testing_support::ScriptFixture script{scriptClassTable(count), count};

    std::string run(const std::string& chunk) {
        EXPECT_TRUE(script.load("result = " + chunk + "\n")) << chunk;
        return script.global("result");
    }
};

TEST(AnimationsScript, GroupNameBeforeTheListIsBuiltIsAnInvalidIndex) {
    AnimationsScript f;
    ASSERT_TRUE(f.packages.built());
    EXPECT_EQ(f.run("animations:group_name(0)"), "INVALID INDEX");
    EXPECT_TRUE(f.script.logged("Invalid animation group index [0]"));
    EXPECT_EQ(f.run("animations:group_count()"), "4");
    EXPECT_EQ(f.run("animations:group_name(0) .. ' ' .. animations:group_name(1) .. ' ' .. "
                    "animations:group_name(2) .. ' ' .. animations:group_name(3)"),
              "door hero. heroine. walk.");
    EXPECT_EQ(f.run("animations:classof()"), "Animations");
}

TEST(AnimationsScript, FindGroupDropsLeadingCharactersUntilAGroupMatches) {
    AnimationsScript f;
    const std::pair<const char*, const char*> cases[] = {
        {"Hero_Walk", "walk."}, {"HERO", "hero."}, {"xdoor", ""}, {"Mydoor", ""}, {"boat", ""}, {"", ""},
    };
    for (auto [name, group] : cases) {
        SCOPED_TRACE(name);
        EXPECT_EQ(f.run(std::string("animations:find_group('") + name + "')"), group);
    }
}

TEST(AnimationsScript, SelectingAGroupListsItsAnimations) {
    AnimationsScript f;
    // The list is made at its first use, whichever member comes first.
    EXPECT_EQ(f.run("animations:name(4)"), "walk.slow");
    EXPECT_EQ(f.run("animations:count()"), "5");
    EXPECT_EQ(f.run("animations.group"), "");
    ASSERT_TRUE(f.script.load("animations.group = 'door'\n"));
    EXPECT_EQ(f.run("animations.group"), "door");
    EXPECT_EQ(f.run("animations:count() .. ' ' .. animations:name(0)"), "1 door");
    // The first group of the list is selected like any other.
    ASSERT_TRUE(f.script.load("animations.group = 'hero.'\n"));
    EXPECT_EQ(f.run("animations:count() .. ' ' .. animations:name(0) .. ' ' .. animations:name(1)"),
              "2 hero.idle hero.walk");
    EXPECT_EQ(f.run("animations:name(2)"), "Invalid INDEX");
    ASSERT_TRUE(f.script.load("animations.group = 'ghost.'\n"));
    EXPECT_TRUE(f.script.logged("Can't select animation group ghost.: NOT found"));
    EXPECT_EQ(f.run("animations.group"), "hero.");
    ASSERT_TRUE(f.script.load("animations.shared = true\n"));
    EXPECT_EQ(f.run("animations.group .. animations:group_count() .. ' ' .. animations:name(0)"), "1 boat.rock");
    EXPECT_EQ(f.run("tostring(animations.shared)"), "true");
}

}  // namespace

// "Morph" lists the lip tracks of every package, counted from 1.
TEST(AnimationsScript, MorphListsTheLipTracksOfEveryPackage) {
    std::vector<testing_support::FixtureFile> files = packageFiles();
    files.push_back(storedFile(".lip", "keeper.hello", "x", "levels"));
    files.push_back(storedFile(".lip", "ann.bye", "x", "shared"));
    resource_tests::ScopedPackages packages{files};
    std::size_t count = 0;
    testing_support::ScriptFixture script{scriptClassTable(count), count};
    ASSERT_TRUE(script.load("n = morphs:count()\n"
                            "names = morphs:name(1) .. ' ' .. morphs:name(2)\n"
                            "bad = morphs:name(0) .. ' ' .. morphs:name(3) .. ' ' .. morphs:classof()\n"));
    EXPECT_EQ(script.global("n"), "2");
    const std::string names = script.global("names");
    EXPECT_TRUE(names == "keeper.hello ann.bye" || names == "ann.bye keeper.hello") << names;
    EXPECT_EQ(script.global("bad"), "Invalid INDEX Invalid INDEX Morph");
}
