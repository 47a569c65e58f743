// The quest writer's text form: statements that do not fit where they
// stand, and names the game's fields cannot hold, are refused by line.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "quest/QuestWriter.h"

namespace {

TEST(QuestWriter, MisplacedStatementsAreRefusedWithTheirLine) {
    const struct {
        const char* text;
        const char* error;
    } cases[] = {
        {"quest q\ndo x\n", "line 2: do belongs to an event or a case"},
        {"event e\n", "line 1: event takes one name, inside a quest"},
        {"quest q\nobject o\nrule\n", "line 3: rule takes nothing, inside a case"},
        {"quest q\nobject o\naction a\ncase c\nif x\n", "line 5: if belongs to a rule"},
        {"quest q\nevent e\ndo x 1 2 3 4\n", "line 3: a command takes a name and up to three arguments"},
        {"quest q\nevent e\ndo x \"open\n", "line 3: unclosed quote"},
        {"quest q\nsing\n", "line 2: unknown statement [sing]"},
    };
    for (const auto& c : cases) {
        std::vector<quest_tools::Quest> quests;
        std::string error;
        EXPECT_FALSE(quest_tools::parseQuestText(c.text, quests, error)) << c.text;
        EXPECT_EQ(error, c.error);
    }
}

TEST(QuestWriter, QuotedWordsKeepBlanksAndNamesMustFitTheirFields) {
    std::vector<quest_tools::Quest> quests;
    std::string error;
    ASSERT_TRUE(quest_tools::parseQuestText("# a comment\nquest q\nevent e\ndo say \"a \\\"b\\\" c\" \"\"\n", quests,
                                            error))
        << error;
    const quest_tools::Command& say = quests.at(0).events.at(0).commands.at(0);
    EXPECT_EQ(say.arg1, "a \"b\" c");
    EXPECT_EQ(say.arg2, "");
    std::string bytes;
    EXPECT_TRUE(quest_tools::writeQuestBytes(quests, bytes, error));

    const struct {
        const char* what;
        std::string text;
        const char* error;
    } refused[] = {
        {"event", "quest q\nevent " + std::string(64, 'e') + "\n", "event ["},
        {"quest", "quest " + std::string(128, 'q') + "\n", "quest ["},
        {"object name", "quest q\nobject " + std::string(128, 'o') + "\n", "object name ["},
        {"case", "quest q\nobject o\naction a\ncase " + std::string(64, 'c') + "\n", "case ["},
    };
    for (const auto& r : refused) {
        SCOPED_TRACE(r.what);
        ASSERT_TRUE(quest_tools::parseQuestText(r.text, quests, error)) << error;
        EXPECT_FALSE(quest_tools::writeQuestBytes(quests, bytes, error));
        EXPECT_EQ(error.rfind(r.error, 0), 0u) << error;
    }
}

}  // namespace
