// Compiled quests from the quest writer, their manager, and the quests'
// run-time state with its save layout; damaged files and saves refused.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "foundation/DataStream.h"
#include "game/QuestDataManager.h"
#include "game/QuestLogic.h"
#include "game/QuestTestSupport.h"
#include "resources/ResourceTestSupport.h"

using namespace resource_tests;
using quest_tests::Bytes;

namespace {

std::string compiled(const std::string& text, bool sorted = true) { return quest_tests::compiledQuests(text, sorted); }

// A stream reading the bytes in place.
MemoryStream streamOf(std::string& bytes) { return MemoryStream(bytes.data(), static_cast<std::int32_t>(bytes.size())); }

std::vector<QuestRecord> readList(std::string bytes, std::int32_t& result) {
    MemoryStream stream(bytes.data(), static_cast<std::int32_t>(bytes.size()));
    std::vector<QuestRecord> quests;
    result = readQuestList(stream, quests, "fixture");
    return quests;
}

const char* kHarbour = R"(
# The harbour quest.
quest harbour
event start
do say "hello there" "" third
do wait
object door gate
action use
case locked
rule
if has_key
if "is night"
rule
do unlock a b c
action look
quest empty
)";

TEST(QuestData, TheWritersQuestsReadBackRecordByRecord) {
    std::int32_t result = 0;
    const std::string bytes = compiled(kHarbour);
    const std::vector<QuestRecord> quests = readList(bytes, result);
    EXPECT_EQ(result, static_cast<std::int32_t>(bytes.size()));
    ASSERT_EQ(quests.size(), 2u);
    const QuestRecord& harbour = quests[0];
    EXPECT_STREQ(harbour.name, "harbour");
    ASSERT_EQ(harbour.events.size(), 1u);
    ASSERT_EQ(harbour.events[0].commands.size(), 2u);
    const QuestCommand& say = harbour.events[0].commands[0];
    EXPECT_STREQ(say.name, "say");
    EXPECT_STREQ(say.arg1.c_str(), "hello there");
    EXPECT_EQ(say.arg1.capacity(), 12u);
    // An argument of length 0 reads back empty and owns no buffer.
    EXPECT_STREQ(say.arg2.c_str(), "");
    EXPECT_FALSE(say.arg2.ownsBuffer());
    EXPECT_EQ(say.arg2.capacity(), 0u);
    EXPECT_STREQ(say.arg3.c_str(), "third");
    ASSERT_EQ(harbour.objects.size(), 1u);
    const QuestObject& door = harbour.objects[0];
    ASSERT_EQ(door.names.size(), 2u);
    EXPECT_STREQ(door.names[1].text, "gate");
    ASSERT_EQ(door.actions.size(), 2u);
    EXPECT_STREQ(door.actions[0].name, "look");
    const QuestCase& locked = door.actions[1].cases.at(0);
    ASSERT_EQ(locked.rules.size(), 2u);
    EXPECT_EQ(locked.rules[0].size(), 2u);
    EXPECT_STREQ(locked.rules[0][1].name, "is night");
    EXPECT_TRUE(locked.rules[1].empty());
    EXPECT_STREQ(locked.commands.at(0).arg3.c_str(), "c");
    // A quest with no events and no objects: two empty arrays.
    EXPECT_STREQ(quests[1].name, "empty");
    EXPECT_TRUE(quests[1].events.empty());
    EXPECT_TRUE(quests[1].objects.empty());
}

TEST(QuestData, UnsortedObjectsAreReadInFileOrderAndMissedByLookups) {
    const char* text = "quest q\nobject zeta mid alpha\naction use\naction look\naction drop\n";
    std::int32_t result = 0;
    const std::vector<QuestRecord> unsorted = readList(compiled(text, false), result);
    ASSERT_GT(result, 0);
    const QuestObject& o = unsorted.at(0).objects.at(0);
    EXPECT_STREQ(o.names[0].text, "zeta");
    EXPECT_STREQ(o.actions[0].name, "use");
    EXPECT_EQ(o.findName("alpha"), -1);
    EXPECT_EQ(o.findAction("drop"), -1);
    const std::vector<QuestRecord> sorted = readList(compiled(text), result);
    EXPECT_EQ(sorted.at(0).objects.at(0).findName("alpha"), 0);
    EXPECT_EQ(sorted.at(0).objects.at(0).findAction("drop"), 0);
    EXPECT_EQ(sorted.at(0).objects.at(0).findAction("use"), 2);
}

TEST(QuestData, DamagedQuestListsAreRefusedWithTheirLine) {
    const std::string n63(63, 'n');
    const std::string n64(64, 'n');
    const std::string n128(128, 'q');
    auto command = [](Bytes& b, const std::string& name) { b.u8name(name).u16text("").u16text("").u16text(""); };
    struct Case {
        const char* what;
        std::string bytes;
        const char* line;
    };
    std::vector<Case> cases;
    std::string caseLine;
    cases.push_back({"negative quest count", Bytes().i32(-1).s, "the list has a negative count of quests"});
    cases.push_back({"quests beyond the data", Bytes().i32(1000).s, "the list counts 1000 quests"});
    cases.push_back({"quest name of 128", Bytes().i32(1).u8name(n128).i32(0).i32(0).s,
                     "the name of a quest has 128 characters, more than 127"});
    cases.push_back({"event name of 64", Bytes().i32(1).u8name("q").i32(1).u8name(n64).i32(0).i32(0).s,
                     "an event name of quest [q] has 64 characters"});
    {
        Bytes b;
        b.i32(1).u8name("q").i32(1).u8name("e").i32(1);
        command(b, n64);
        b.i32(0);
        cases.push_back({"command name of 64", b.s, "a command name of event [e] of quest [q] has 64 characters"});
    }
    {
        Bytes b;
        b.i32(1).u8name("q").i32(1).u8name("e").i32(1).u8name("c").u16text("").s += "\xFF\x7Fpadding";
        cases.push_back({"argument past the end", b.s, "an argument of command [c] of event [e] of quest [q] runs past"});
    }
    cases.push_back({"negative object names", Bytes().i32(1).u8name("q").i32(0).i32(1).i32(-5).i32(0).s,
                     "object 0 of quest [q] has a negative count of names"});
    cases.push_back({"names beyond the data", Bytes().i32(1).u8name("q").i32(0).i32(1).i32(2).i32(0).s,
                     "object 0 of quest [q] counts 2 names"});
    {
        Bytes b;
        b.i32(1).u8name("q").i32(0).i32(1).i32(0).i32(1).u8name(n63).i32(1).u8name(n64).i32(0).i32(0);
        caseLine = "a case name of action [" + n63 + "] of object 0 of quest [q] has 64";
        cases.push_back({"case name of 64", b.s, caseLine.c_str()});
    }
    cases.push_back({"truncated", compiled(kHarbour).substr(0, 40), ""});
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        testing_support::ScopedGameCore core;
        std::int32_t result = 0;
        const std::vector<QuestRecord> quests = readList(c.bytes, result);
        EXPECT_LT(result, 0);
        EXPECT_TRUE(quests.empty());
        if (*c.line) {
            EXPECT_TRUE(core.log().contains("Can't read quest data [fixture]: " + std::string(c.line)));
        }
    }
}

TEST(QuestData, TheManagerReadsEveryQuestFileAtStartAndMergesAQuestInResourceOrder) {
    // "damaged" comes first in the package, so its packed bytes are flipped.
    ScopedPackages packages({storedFile(".quest", "damaged", std::string(40, 'D')),
                             storedFile(".quest", "a_first", compiled("quest harbour\nevent one\ndo x\n")),
                             storedFile(".quest", "b_second", compiled("quest harbour\nevent two\nobject door\n")),
                             storedFile(".quest", "c_bad", Bytes().i32(-3).s)},
                            true);
    ASSERT_TRUE(packages.built());
    QuestDataManager manager;
    EXPECT_STREQ(manager.title(), "Game quests data");
    EXPECT_STREQ(manager.compiledExtension(), ".quest");
    EXPECT_STREQ(manager.sourceExtension(), ".xls");
    const std::size_t mark = packages.log().recordCount();
    EXPECT_FALSE(manager.initialize());
    const std::vector<std::string> lines = logSince(packages.log(), mark);
    EXPECT_NE(std::find(lines.begin(), lines.end(), "Skip resource [damaged]"), lines.end());
    EXPECT_NE(std::find(lines.begin(), lines.end(), "Fail read quest data [c_bad] header"), lines.end());
    ASSERT_NE(manager.find("a_first"), nullptr);
    ASSERT_NE(manager.find("a_first")->quests(), nullptr);
    EXPECT_TRUE(manager.find("a_first")->has(kResourceHeaderLoaded));
    EXPECT_EQ(manager.find("c_bad")->quests(), nullptr);

    QuestRecord selected;
    ASSERT_TRUE(manager.selectQuest(selected, "harbour"));
    EXPECT_STREQ(selected.name, "harbour");
    ASSERT_EQ(selected.events.size(), 2u);
    EXPECT_STREQ(selected.events[0].name, "one");
    EXPECT_STREQ(selected.events[1].name, "two");
    EXPECT_EQ(selected.objects.size(), 1u);
    EXPECT_FALSE(manager.selectQuest(selected, "lagoon"));
    EXPECT_TRUE(packages.log().contains("Can't create quest context with name [lagoon]: NOT found"));
    EXPECT_TRUE(selected.events.empty());

    // The release check reports what a record still holds, in its order,
    // and changes nothing.
    Y3QuestData* first = manager.find("a_first");
    ASSERT_TRUE(manager.allocate(first));
    const std::size_t checked = packages.log().recordCount();
    first->checkReleased();
    EXPECT_EQ(logSince(packages.log(), checked),
              (std::vector<std::string>{"~quest data(a_first): need deallocate resource",
                                        "~quest data(a_first): need release RAM header data",
                                        "~quest data(a_first): need release RAM data",
                                        "~quest data(a_first): need release resource data (Flags order logic failed)"}));
    EXPECT_NE(first->quests(), nullptr);

    EXPECT_FALSE(manager.compileFromSource("quests.xls"));
    EXPECT_TRUE(packages.log().contains("Fail to compile quest data from file [quests.xls]"));
    // Release checks each record once it is let go: nothing is left.
    const std::size_t released = packages.log().recordCount();
    manager.release();
    EXPECT_EQ(manager.count(), 0u);
    for (const std::string& line : logSince(packages.log(), released)) EXPECT_EQ(line.find("need "), std::string::npos);
}

TEST(QuestData, StatesAreMadeOnFirstAccessAndSavedOnlyForTouchedQuests) {
    testing_support::ScopedGameCore core;
    QuestData data;
    EXPECT_EQ(data.findObject("harbour", "door"), nullptr);
    const ObjectState* made = data.getObject("harbour", "door");
    ASSERT_NE(made, nullptr);
    EXPECT_STREQ(made->name, "door");
    EXPECT_STREQ(made->mode, "");
    EXPECT_EQ(made->state, 0);
    EXPECT_EQ(made->tag, 0);
    EXPECT_EQ(made->action, -1);
    ObjectState* gate = data.getObject("harbour", "gate");
    gate->state = 7;
    gate->tag = -2;
    gate->action = 3;
    std::strcpy(gate->mode, "open");
    data.getObject("attic", "box");
    EXPECT_EQ(data.objectsOf("lagoon"), nullptr);

    MemoryStream saved;
    const std::int32_t written = data.write(saved);
    ASSERT_GT(written, 0);
    EXPECT_EQ(written, saved.size());
    saved.setPosition(0);
    QuestData loaded;
    loaded.getObject("stale", "thing");
    EXPECT_EQ(loaded.read(saved), written);
    EXPECT_EQ(loaded.objectsOf("stale"), nullptr);
    EXPECT_EQ(loaded.quests.count, 2);
    const ObjectState* door = loaded.findObject("harbour", "door");
    ASSERT_NE(door, nullptr);
    EXPECT_EQ(door->action, -1);
    const ObjectState* back = loaded.findObject("harbour", "gate");
    ASSERT_NE(back, nullptr);
    EXPECT_EQ(back->state, 7);
    EXPECT_EQ(back->tag, -2);
    EXPECT_EQ(back->action, 3);
    EXPECT_STREQ(back->mode, "open");
    EXPECT_NE(loaded.findObject("attic", "box"), nullptr);
}

TEST(QuestData, DamagedSavedStatesAreRefusedWithTheirLine) {
    auto object = [](Bytes& b, const std::string& name, const std::string& mode) {
        b.u16text(name).u16text(mode).i32(0).i32(0).i32(-1);
    };
    struct Case {
        const char* what;
        std::string bytes;
        const char* line;
    };
    std::vector<Case> cases;
    cases.push_back({"negative quest count", Bytes().i32(-2).s, "Can't read quest state: -2 quests do not fit"});
    cases.push_back({"quests beyond the data", Bytes().i32(500).s, "Can't read quest state: 500 quests"});
    cases.push_back({"quest name of 128", Bytes().i32(1).u8name(std::string(128, 'q')).i32(0).s,
                     "Can't read quest state 0: its name is missing, damaged or longer than 127"});
    cases.push_back({"empty quest name", Bytes().i32(1).u8name("").i32(0).s, "Can't read quest state 0"});
    cases.push_back({"objects beyond the data", Bytes().i32(1).u8name("q").i32(9).s,
                     "Can't read quest state [q]: 9 objects do not fit"});
    {
        Bytes b;
        b.i32(1).u8name("q").i32(1);
        object(b, std::string(128, 'o'), "");
        cases.push_back({"object name of 128", b.s, "Can't read object 0 of quest state [q]: its name"});
    }
    {
        Bytes b;
        b.i32(1).u8name("q").i32(1);
        object(b, "door", std::string(64, 'm'));
        cases.push_back({"mode of 64", b.s, "Can't read object [door] of quest state [q]: its mode"});
    }
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        testing_support::ScopedGameCore core;
        std::string bytes = c.bytes;
        MemoryStream stream = streamOf(bytes);
        QuestData data;
        EXPECT_LT(data.read(stream), 0);
        EXPECT_TRUE(core.log().contains(c.line));
    }
}

}  // namespace
