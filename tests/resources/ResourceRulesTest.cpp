#include "resources/ResourceRules.h"

#include <gtest/gtest.h>

#include "app/GameCore.h"
#include "foundation/AppPaths.h"
#include "foundation/Log.h"
#include "support/TestSupport.h"

using testing_support::ScopedGameCore;

TEST(ResourceRules, PackagesItemsFlagsAndComments) {
    ScopedGameCore core;
    ResourceRules rules;
    ASSERT_TRUE(parseResourceRulesText("# a comment\n"
                                       "\n"
                                       "   \t \n"
                                       "[packs\\#\\scenes.pak]\n"
                                       "scene.ms4 >> scenes\n"
                                       "-~++debug.ms4->.ms5 >>   [+data\\out]  \t\r\n"
                                       "[voice_$.pak]\n"
                                       "~.ogg >> ++sounds\\voice\n",
                                       rules));
    ASSERT_EQ(rules.packages.size(), 2u);
    const PackageRule& scenes = rules.packages[0];
    EXPECT_EQ(scenes.name, "packs\\#\\scenes.pak");
    EXPECT_TRUE(scenes.hash);
    EXPECT_FALSE(scenes.dollar);
    ASSERT_EQ(scenes.items.size(), 2u);
    EXPECT_EQ(scenes.items[0].flags, 0u);
    EXPECT_EQ(scenes.items[0].namePrefix, "scene");
    EXPECT_EQ(scenes.items[0].sourceMask, ".ms4");
    EXPECT_EQ(scenes.items[0].targetMask, ".ms4");
    EXPECT_EQ(scenes.items[0].destination, "scenes");

    const ResourceRuleItem& debug = scenes.items[1];
    EXPECT_EQ(debug.flags, kRuleItemDebug | kRuleItemTilde | kRuleItemAlternative);
    EXPECT_EQ(debug.namePrefix, "debug");
    EXPECT_EQ(debug.prefixPlusCount, 2u);
    EXPECT_EQ(debug.sourceMask, ".ms4");
    EXPECT_EQ(debug.targetMask, ".ms5");
    EXPECT_EQ(debug.destination, "data\\out]");  // the closing bracket stays
    EXPECT_EQ(debug.destinationPlusCount, 1u);

    const PackageRule& voice = rules.packages[1];
    EXPECT_TRUE(voice.dollar);
    EXPECT_FALSE(voice.hash);
    ASSERT_EQ(voice.items.size(), 1u);
    EXPECT_EQ(voice.items[0].flags, kRuleItemTilde);
    EXPECT_EQ(voice.items[0].namePrefix, "");
    EXPECT_EQ(voice.items[0].destinationPlusCount, 2u);
    EXPECT_EQ(voice.items[0].destination, "sounds\\voice");
}

TEST(ResourceRules, SyntaxErrorsNameTheirLine) {
    struct Case {
        const char* text;
        const char* message;
    } cases[] = {
        {"[a.pak]\nx.ms4 >> y\n[broken\n", "2: Expected symbol ']' at package definition end: \n--\n[broken\n--\n"},
        {"[a.pak]\nno dot here >> y\n", "1: Expected symbol '.' at package extension mask definition"},
        {"[a.pak]\r\n\r\n#c\r\nx.ms4 y\r\n", "3: Expected symbol '>>' at package source definition"},
        // A blank before the hash sign makes it a mask line without a dot.
        {"[a.pak]\n  # not a comment\n", "1: Expected symbol '.' at package extension mask definition"},
        {"x.ms4 >> y\n", "0: Expected package definition before extension mask"},
    };
    for (const Case& c : cases) {
        ScopedGameCore core;
        ResourceRules rules;
        EXPECT_FALSE(parseResourceRulesText(c.text, rules)) << c.text;
        EXPECT_TRUE(core.log().contains(c.message)) << c.text;
    }
}

TEST(ResourceRules, OverlongPrefixKeepsTheCharactersNearestTheDot) {
    ScopedGameCore core;
    ResourceRules rules;
    const std::string prefix(130, 'p');
    ASSERT_TRUE(parseResourceRulesText("[a.pak]\nq" + prefix + ".ms4 >> x\n", rules));
    EXPECT_EQ(rules.packages[0].items[0].namePrefix, std::string(127, 'p'));
    std::size_t messages = 0;
    for (const LogRecord& r : core.log().records())
        if (r.text == "Can't add string to start : Out of pre-allocated buffer size") ++messages;
    EXPECT_EQ(messages, 4u);
}

TEST(ResourceRules, MissingFileIsReported) {
    ScopedGameCore core;
    testing_support::TempDir dir;
    ResourceRules rules;
    EXPECT_FALSE(parseResourceRules(dir.file("data.txt"), rules));
    EXPECT_TRUE(core.log().contains("Expected game resources rules file at ["));
}

TEST(ResourceRules, EnumerationExpandsNamesAndSkipsDebugItemsInToolMode) {
    ScopedGameCore core(true);
    ResourceRules rules;
    ASSERT_TRUE(parseResourceRulesText("[Packs\\#\\Scenes_$.pak]\n+.ms4 >> s\n"
                                       "[empty.pak]\n"
                                       "[dbg.pak]\n-.lua >> d\n",
                                       rules));
    core.paths().setPath(23, "001");
    core.paths().setPath(24, "ru");
    std::string file;
    EXPECT_EQ(enumeratePackage(rules, 0, &file), 1);
    EXPECT_EQ(file, "packs\\001\\scenes_ru.pak");
    EXPECT_EQ(core.paths().get(34), "packs\\001");
    EXPECT_EQ(enumeratePackage(rules, 1), kRulesNoItems);
    EXPECT_EQ(enumeratePackage(rules, 3), kRulesEnd);

    RunModeRecord mode;
    testing_support::ScopedCoreMember useMode(gameCore.runMode, &mode);
    mode.runMode = kRunModePlay;
    EXPECT_EQ(enumeratePackage(rules, 2), 0);
    mode.runMode = 15;
    EXPECT_EQ(enumeratePackage(rules, 2), kRulesSkipped);
    EXPECT_TRUE(core.log().contains("Ignore debug resource [.lua] from [d]"));
}
