// The quest engine through its script class, with quest functions written
// in Lua by each test: the run loop, stack groups and targets, events,
// actions with their cases and rules, the object states, and the quest
// block of a save game.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "app/GameCore.h"
#include "app/SceneLoadFixture.h"
#include "foundation/DataStream.h"
#include "game/QuestDataManager.h"
#include "game/QuestLogic.h"
#include "game/QuestTestSupport.h"
#include "game/lua/GameScripts.h"
#include "model/Model.h"
#include "model/ModelDataManager.h"
#include "model/ModelWriter.h"
#include "resources/ResourceTestSupport.h"
#include "scene/Scene.h"
#include "scene/Y3Pose.h"
#include "script/ScriptTestFixture.h"

using quest_tests::Bytes;
using quest_tests::compiledQuests;
using resource_tests::ScopedPackages;
using resource_tests::storedFile;

namespace {

const ScriptClassRegistration kQuestClasses[] = {{"Quest", registerQuestClass}};

// Every quest function notes its name and first argument in "ran".
const char* kNotes = R"(
ran = ""
function note(text) ran = (ran == "" and text) or (ran .. " " .. text) end
function quest_a() note("a") end
function quest_b() note("b") end
function quest_c() note("c") end
function quest_used() note("used:" .. quest.arg1) end
function quest_hit() note("hit:" .. quest.arg1 .. "@" .. quest.object) end
function quest_yes() return true end
function quest_no() return false end
)";

std::vector<testing_support::FixtureFile> questFiles(const std::vector<std::string>& texts) {
    std::vector<testing_support::FixtureFile> files;
    for (std::size_t i = 0; i < texts.size(); ++i)
        files.push_back(storedFile(".quest", "part" + std::to_string(i), compiledQuests(texts[i])));
    return files;
}

// A script engine that knows "Quest", the packages holding the quests of
// the given texts (one file each, in order), and the game core's quest
// data and engine, installed as start-up installs them.
struct QuestWorld {
    explicit QuestWorld(const std::vector<std::string>& texts) : packages(questFiles(texts)) {
        EXPECT_TRUE(packages.built());
        EXPECT_TRUE(data.initialize());
        EXPECT_TRUE(lua(kNotes));
    }
    bool lua(const std::string& text) { return script.load(text); }
    std::string global(const char* name) { return script.global(name); }
    Log& log() { return packages.log(); }
    std::vector<std::string> stackNames() const {
        std::vector<std::string> names;
        for (const QuestFunction& f : logic.stack.stack) names.push_back(f.name);
        return names;
    }

    testing_support::ScriptFixture script{kQuestClasses, 1};
    ScopedPackages packages;
    QuestDataManager data;
    QuestLogic logic;
    testing_support::ScopedCoreMember<QuestDataManager> installedData{gameCore.questData, &data};
    testing_support::ScopedCoreMember<QuestLogic> installedLogic{gameCore.questLogic, &logic};
};

const char* kHarbour = R"(
quest harbour
event start
do a
do b
do c
object door
action use
case plain
rule
do used plain
action use=open
case opened
rule
do used open
action never
case c
do hit never
action always
case c
rule
do hit always
action first
case one
rule
do hit one
case two
rule
do hit two
action cond
case both
rule
if yes
if no
do hit both
case second
rule
if no
rule
if yes
do hit second
object chest box
action look
case c
rule
do hit look
)";

TEST(QuestRun, RunsConsumeOneCompletedFunctionEachAndCallEndsTheStep) {
    const struct {
        const char* what;
        const char* setup;  // pushes, last pushed on top
        const char* ran;    // after quest:run()
        std::int32_t pending;
        std::size_t left;
        const char* ranNextFrame;  // after the next frame's step
    } cases[] = {
        {"an empty stack", "", "", 0, 0, ""},
        // The missing function fails and costs no run: the first good one
        // runs in the same step, the second waits.
        {"a failing function then two good ones", "quest:push('b', '', '') quest:push('a', '', '') quest:push('gone', '', '')",
         "a", 0, 1, "a"},
        // "more" owes two further runs from inside the step; "call" ends it
        // with one left, which the next frame spends.
        {"call ends the step", "quest:push('c', '', '') quest:push('call', '', '') quest:push('more', '', '')",
         "more call", 1, 1, "more call c"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        QuestWorld w({kHarbour});
        ASSERT_TRUE(w.lua("function quest_more() note('more') quest:run() quest:run() end\n"
                          "function quest_call() note('call') end\n"));
        ASSERT_TRUE(w.lua(c.setup));
        ASSERT_TRUE(w.lua("answer = tostring(quest:run())"));
        EXPECT_EQ(w.global("answer"), "true");
        EXPECT_EQ(w.global("ran"), c.ran);
        EXPECT_EQ(w.logic.stack.pending, c.pending);
        EXPECT_EQ(w.logic.stack.stack.size(), c.left);
        EXPECT_EQ(w.logic.stack.flags & kQuestStackRunning, 0u);
        w.logic.step(false);
        EXPECT_EQ(w.global("ran"), c.ranNextFrame);
        EXPECT_EQ(w.logic.stack.pending, 0);
    }
    QuestWorld w({kHarbour});
    ASSERT_TRUE(w.lua("quest:push('gone', '', '') quest:run()"));
    EXPECT_TRUE(w.log().contains(
        "------------------------------- QUEST CRITICAL ERROR -----------------------------(gone)----"));
    // Nothing owed: the frame's step has nothing to do.
    EXPECT_FALSE(w.logic.step(false));
}

TEST(QuestRun, GroupsPopDownToTheirBottomAndPushBackInTheirOrder) {
    QuestWorld w({kHarbour});
    ASSERT_TRUE(w.lua("quest:begin('harbour') quest:push('under', '', '') quest:push('bottom', '', '')\n"
                      "fired = tostring(quest:event('start'))"));
    EXPECT_EQ(w.global("fired"), "true");
    const std::vector<std::string> before = w.stackNames();
    EXPECT_EQ(before, (std::vector<std::string>{"under", "bottom", "c", "b", "a"}));
    // The event's entries carry sequences 3..1; the pop goes on to the
    // first entry of sequence 0 and takes it.
    ASSERT_TRUE(w.lua("popped = tostring(quest:pop('g')) saved = tostring(quest:test('g'))"));
    EXPECT_EQ(w.global("popped"), "true");
    EXPECT_EQ(w.global("saved"), "true");
    EXPECT_EQ(w.stackNames(), std::vector<std::string>{"under"});
    ASSERT_TRUE(w.lua("first = tostring(quest:push('g')) second = tostring(quest:push('g'))"));
    EXPECT_EQ(w.global("first"), "true");
    EXPECT_EQ(w.global("second"), "false");
    EXPECT_TRUE(w.log().contains("Can't push quest stack function [g]: backup functions repository lookup failed"));
    EXPECT_EQ(w.stackNames(), before);
    // A pop with only sequenced entries takes the whole stack.
    ASSERT_TRUE(w.lua("quest:begin('harbour') quest:run() quest:run() quest:run() quest:run() quest:run()\n"
                      "empty = tostring(quest:test()) quest:event('start') quest:pop('all')"));
    EXPECT_EQ(w.global("empty"), "true");
    EXPECT_TRUE(w.logic.stack.stack.empty());
    ASSERT_NE(w.logic.stack.findBackup("all"), nullptr);
    EXPECT_EQ(w.logic.stack.findBackup("all")->functions.size(), 3u);
    // An empty stack still makes the group.
    ASSERT_TRUE(w.lua("quest:pop('none') none = tostring(quest:test('none'))"));
    EXPECT_EQ(w.global("none"), "true");
}

TEST(QuestRun, TargetsRecordEveryFunctionThatRuns) {
    QuestWorld w({kHarbour});
    ASSERT_TRUE(w.lua("added = tostring(quest:add_target('t')) again = tostring(quest:add_target('t'))\n"
                      "quest:begin('harbour') quest:event('start') quest:run() quest:run() quest:run()"));
    EXPECT_EQ(w.global("added"), "true");
    EXPECT_EQ(w.global("again"), "false");
    EXPECT_EQ(w.global("ran"), "a b c");
    ASSERT_TRUE(w.lua("ran = '' quest:clear_target() quest:push('t') quest:run() quest:run() quest:run()"));
    EXPECT_EQ(w.global("ran"), "a b c");
    EXPECT_EQ(w.logic.stack.findBackup("t"), nullptr);
}

TEST(QuestInterpreter, ActionsChooseTheirVariantCaseAndRule) {
    const struct {
        const char* what;
        const char* call;
        const char* ran;
    } cases[] = {
        {"the variant of the mode", "quest:setMode('harbour', 'door', 'open') quest:action('door', 'use')", "used:open"},
        {"the plain action once the mode is cleared",
         "quest:setMode('harbour', 'door', 'open') quest:setMode('harbour', 'door', '') quest:action('door', 'use')",
         "used:plain"},
        {"the plain action of a mode without a variant",
         "quest:setMode('harbour', 'door', 'shut') quest:action('door', 'use')", "used:plain"},
        {"a case without rules never fires", "quest:action('door', 'never')", ""},
        {"a case with one empty rule always fires", "quest:action('door', 'always')", "hit:always@door"},
        {"of two holding cases the first", "quest:action('door', 'first')", "hit:one@door"},
        {"an OR of ANDs", "quest:action('door', 'cond')", "hit:second@door"},
        {"an event's commands in their order", "quest:event('start')", "a b c"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        QuestWorld w({kHarbour});
        ASSERT_TRUE(w.lua(std::string("quest:begin('harbour') ") + c.call +
                          " for i = 1, 4 do quest:run() end"));
        EXPECT_EQ(w.global("ran"), c.ran);
    }
}

TEST(QuestInterpreter, AFunctionKeepsItsOwnArgumentsAfterCallingAnAction) {
    QuestWorld w({kHarbour + std::string("event probe\ndo reader A1\n")});
    ASSERT_TRUE(w.lua("function quest_yes() note('tested:' .. quest.object) return true end\n"
                      "function quest_reader()\n"
                      "  quest:action('door', 'cond')\n"
                      "  note('reader:' .. quest.arg1 .. '@' .. quest.object)\n"
                      "  quest:push('after', 'x', '')\n"
                      "end\n"
                      "function quest_after() note('after@' .. quest.object) end\n"
                      "quest:begin('harbour') quest:event('probe') for i = 1, 3 do quest:run() end"));
    // The conditions saw their own object; the reader its own argument and
    // empty object, and the function it pushed inherits the reader's.
    EXPECT_EQ(w.global("ran"), "tested:door tested:door reader:A1@ after@ hit:second@door");
}

TEST(QuestInterpreter, AQuestOverTwoResourcesMergesInResourceOrder) {
    QuestWorld w({"quest harbour\nevent one\ndo a\n", "quest harbour\nevent two\ndo b\nobject door\naction use\n"
                                                      "case c\nrule\ndo used x\n"});
    ASSERT_TRUE(w.lua("found = tostring(quest:begin('harbour')) quest:event('two') quest:event('one')\n"
                      "quest:action('door', 'use') for i = 1, 3 do quest:run() end"));
    EXPECT_EQ(w.global("found"), "true");
    EXPECT_EQ(w.global("ran"), "used:x a b");
    ASSERT_EQ(w.logic.quest.events.size(), 2u);
    EXPECT_STREQ(w.logic.quest.events[0].name, "one");
}

TEST(QuestInterpreter, UnknownEventsObjectsAndActionsAreReported) {
    QuestWorld w({kHarbour});
    ASSERT_TRUE(w.lua("quest:begin('harbour')\n"
                      "event = tostring(quest:event('nope'))\n"
                      "object = tostring(quest:action('ghost', 'use'))\n"
                      "init = tostring(quest:init('use'))\n"
                      "recall = tostring(quest:recall('sing'))\n"
                      "action = tostring(quest:action('box', 'use'))\n"));
    EXPECT_EQ(w.global("event"), "false");
    EXPECT_TRUE(w.log().contains("Q: Error: Unknown event [nope] in quest [harbour]."));
    EXPECT_EQ(w.global("object"), "false");
    EXPECT_TRUE(w.log().contains("Q: Error:  Unknown object [ghost] in quest [harbour]."));
    // init: the record of "door" has the action, the record of "box" and
    // "chest" is listed with its actions, and the answer stays true.
    EXPECT_EQ(w.global("init"), "true");
    const std::string listing[] = {"ERROR: Unknown quest action [use] for objects:",
                                   "0/2)\t\t" + std::string(27, ' ') + "box",
                                   "1/2)\t\t" + std::string(25, ' ') + "chest", "Possible actions is:",
                                   "0/1)\t\t" + std::string(26, ' ') + "look"};
    for (const std::string& line : listing) EXPECT_TRUE(w.log().contains(line)) << line;
    // recall reports nothing and answers false only without object records.
    EXPECT_EQ(w.global("recall"), "true");
    EXPECT_FALSE(w.log().contains("Unknown quest action [sing]"));
    EXPECT_EQ(w.global("action"), "false");
    EXPECT_TRUE(w.log().contains("ERROR: Unknown quest action [use] for object [box]. Possible actions is:"));
}

TEST(QuestClass, PropertiesStatesAndGroupsAnswerAsScriptsExpect) {
    QuestWorld w({kHarbour});
    ASSERT_TRUE(w.lua("classof = quest:classof() quest:begin('harbour') quest.name = 'x' name = quest.name\n"
                      "before = tostring(quest:defined('harbour', 'well'))\n"
                      "action = quest:getAction('harbour', 'well')\n"
                      "after = tostring(quest:defined('harbour', 'well'))\n"
                      "quest:setState('other', 'well', 5) quest:setTag('other', 'well', 6)\n"
                      "state = quest:getState('other', 'well') tag = quest:getTag('other', 'well')\n"
                      "mode = quest:getMode('other', 'well') .. '|'\n"
                      "quest.debug = true quest.global = true quest.debug_trace_run = true\n"
                      "flags = tostring(quest.debug) .. tostring(quest.global) .. tostring(quest.debug_trace_run)\n"
                      "quest.global = false\n"
                      "quest:event('start') for i = 1, 3 do quest:run() end\n"
                      "empty = tostring(quest:test()) quest:pop('g') group = tostring(quest:test('g'))\n"
                      "missing = tostring(quest:test('h'))"));
    EXPECT_EQ(w.global("classof"), "Quest");
    EXPECT_EQ(w.global("name"), "harbour");
    EXPECT_TRUE(w.log().contains("Can't set quest name directly: use setQuest function instead"));
    EXPECT_EQ(w.global("before"), "false");
    EXPECT_EQ(w.global("action"), "-1");
    EXPECT_EQ(w.global("after"), "true");
    EXPECT_EQ(w.global("state"), "5");
    EXPECT_EQ(w.global("tag"), "6");
    EXPECT_EQ(w.global("mode"), "|");
    EXPECT_EQ(w.global("flags"), "truetruetrue");
    EXPECT_EQ(w.logic.flags, kQuestLogicDebug | kQuestLogicDebugTraceRun);
    EXPECT_EQ(w.global("empty"), "true");
    EXPECT_EQ(w.global("group"), "true");
    EXPECT_EQ(w.global("missing"), "false");
    // A quest that does not exist: reported with "debug" on, the groups go.
    ASSERT_TRUE(w.lua("found = tostring(quest:begin('lagoon'))"));
    EXPECT_EQ(w.global("found"), "false");
    EXPECT_TRUE(w.log().contains("Can't select quest [lagoon]: Quest NOT found"));
    EXPECT_TRUE(w.logic.stack.backups.empty());
}

// The C function a test registers to save the quest block while a quest
// function runs, as a save made from a script would.
MemoryStream* snapshotTarget = nullptr;
int snapshot(lua_State*) {
    if (snapshotTarget && gameCore.questLogic) gameCore.questLogic->write(*snapshotTarget);
    return 0;
}

TEST(QuestSave, TheQuestBlockKeepsStackBackupsCurrentAndStatesAndLeavesTargets) {
    QuestWorld w({kHarbour});
    MemoryStream saved;
    snapshotTarget = &saved;
    lua_register(w.script.state, "snapshot", snapshot);
    ASSERT_TRUE(w.lua("function quest_b() note('b') snapshot() end\n"
                      "quest:begin('harbour') quest:setAction('harbour', 'door', 2) quest:setMode('harbour', 'door', 'open')\n"
                      "quest:add_target('t') quest:push('x', '1', '2') quest:pop('g') quest:event('start')\n"
                      "quest:run() quest:run() quest:run()"));
    snapshotTarget = nullptr;
    ASSERT_GT(saved.size(), 0);
    EXPECT_EQ(w.global("ran"), "a b c");

    QuestLogic loaded;
    loaded.stack.addTarget("kept");
    saved.setPosition(0);
    EXPECT_EQ(loaded.read(saved), saved.size());
    EXPECT_STREQ(loaded.quest.name, "harbour");
    EXPECT_EQ(loaded.quest.events.size(), 1u);
    // Saved inside "b": its run owed, "c" on the stack, "b" current.
    EXPECT_EQ(loaded.stack.pending, 1);
    ASSERT_EQ(loaded.stack.stack.size(), 1u);
    EXPECT_STREQ(loaded.stack.stack[0].name, "c");
    EXPECT_EQ(loaded.stack.stack[0].sequence, 3);
    EXPECT_STREQ(loaded.stack.stack[0].context, "start");
    EXPECT_STREQ(loaded.stack.current.name, "b");
    ASSERT_NE(loaded.stack.findBackup("g"), nullptr);
    EXPECT_STREQ(loaded.stack.findBackup("g")->functions.at(0).arg2.c_str(), "2");
    ASSERT_NE(loaded.stack.findBackup("t"), nullptr);
    EXPECT_EQ(loaded.stack.findBackup("t")->functions.size(), 2u);
    ASSERT_EQ(loaded.stack.targets.size(), 1u);
    EXPECT_STREQ(loaded.stack.targets[0].text, "kept");
    const ObjectState* door = loaded.state.findObject("harbour", "door");
    ASSERT_NE(door, nullptr);
    EXPECT_EQ(door->action, 2);
    EXPECT_STREQ(door->mode, "open");
    // The running bit saved from inside "b" is gone: the loaded engine steps.
    EXPECT_EQ(loaded.stack.flags & (kQuestStackRunning | kQuestStackPopping), 0u);
    gameCore.questLogic = &loaded;
    ASSERT_TRUE(w.lua("ran = ''"));
    EXPECT_TRUE(loaded.step(false));
    EXPECT_EQ(w.global("ran"), "c");
    gameCore.questLogic = &w.logic;

    // The saved quest gone from the packages: reported, loading goes on.
    QuestDataManager none;
    gameCore.questData = &none;
    QuestLogic orphan;
    saved.setPosition(0);
    EXPECT_EQ(orphan.read(saved), 1);
    EXPECT_TRUE(w.log().contains("Can't restore quest [harbour]: NOT FOUND"));
    EXPECT_EQ(orphan.stack.pending, 1);
    gameCore.questData = &w.data;
}

TEST(QuestSave, AnArgumentTheSaveCannotHoldIsRefusedAtPushNotCut) {
    QuestWorld w({kHarbour});
    ASSERT_TRUE(w.lua("quest:push('long', string.rep('x', 65536), '') quest:push('fits', string.rep('y', 65535), '')"));
    EXPECT_TRUE(w.log().contains("Can't push quest function [long]: argument longer than 65535 bytes"));
    ASSERT_EQ(w.logic.stack.stack.size(), 1u);
    EXPECT_STREQ(w.logic.stack.stack[0].name, "fits");
    MemoryStream saved;
    ASSERT_GT(w.logic.write(saved), 0);
    QuestLogic loaded;
    saved.setPosition(0);
    EXPECT_EQ(loaded.read(saved), saved.size());
    ASSERT_EQ(loaded.stack.stack.size(), 1u);
    EXPECT_EQ(loaded.stack.stack[0].arg1.length(), 65535u);
}

TEST(QuestSave, DamagedQuestBlocksAreRefusedWithTheirLine) {
    auto entry = [](Bytes& b, const std::string& name, const std::string& object, const std::string& context) {
        b.i32(0).u8name(name).u16text("").u16text("").u16text("").u8name(object).u8name(context);
    };
    auto head = [](Bytes& b) { b.i32(0).u8name("").i32(0).i32(0); };
    struct Case {
        const char* what;
        std::string bytes;
        const char* line;
    };
    std::vector<Case> cases;
    cases.push_back({"negative runs owed", Bytes().i32(0).u8name("").i32(-3).i32(0).i32(0).s,
                     "Can't read quest stack: the count of runs owed is -3, below zero"});
    {
        Bytes b;
        head(b);
        b.i32(-1);
        cases.push_back({"negative stack count", b.s, "Can't read quest stack: the stack counts -1 records"});
    }
    {
        Bytes b;
        head(b);
        b.i32(50);
        entry(b, "a", "", "");
        cases.push_back({"stack beyond the data", b.s, "Can't read quest stack: the stack counts 50 records"});
    }
    {
        Bytes b;
        head(b);
        b.i32(1);
        entry(b, std::string(64, 'n'), "", "");
        cases.push_back({"entry name of 64", b.s, "entry 0 of the stack has a name longer than 63"});
    }
    {
        Bytes b;
        head(b);
        b.i32(1);
        entry(b, "a", std::string(128, 'o'), "");
        cases.push_back({"object of 128", b.s, "entry 0 of the stack has an object name longer than 127"});
    }
    {
        Bytes b;
        head(b);
        b.i32(1);
        entry(b, "a", "", std::string(128, 'c'));
        cases.push_back({"context of 128", b.s, "entry 0 of the stack has a context longer than 127"});
    }
    {
        Bytes b;
        head(b);
        b.i32(0).i32(1).u16text(std::string(128, 'g')).i32(0);
        entry(b, "", "", "");
        cases.push_back({"backup name of 128", b.s, "backup 0 has a name longer than 127"});
    }
    {
        Bytes b;
        head(b);
        b.i32(0).i32(0).i32(0).u8name("a").u16text("").u16text("").s += std::string("\xFF\x00", 2);
        cases.push_back({"current argument past the end", b.s, "the current function has an argument that runs past"});
    }
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        testing_support::ScopedGameCore core;
        std::string bytes = c.bytes;
        MemoryStream stream(bytes.data(), static_cast<std::int32_t>(bytes.size()));
        QuestLogic logic;
        EXPECT_LT(logic.read(stream), 0);
        EXPECT_TRUE(core.log().contains(c.line));
    }
}

TEST(QuestSave, TheWholeSaveCheckRefusesADamagedQuestBlockBeforeTheGameIsTouched) {
    QuestWorld w({kHarbour, "quest attic\nevent dust\n"});
    GameCore bare{};
    bare.log = gameCore.log;
    bare.questData = &w.data;
    bare.questLogic = &w.logic;
    bare.script = gameCore.script;
    const GameCore before = gameCore;
    gameCore = bare;
    ASSERT_TRUE(w.lua("quest:begin('harbour') quest:setAction('harbour', 'door', 4) quest:event('start')"));
    MemoryStream stream(true);
    ASSERT_GT(gameCore.save_all(stream), 0);
    std::vector<std::uint8_t> whole(stream.data(), stream.data() + stream.size());
    // The check selects the saved quest into its scratch engine only: the
    // running game keeps the quest it has now.
    ASSERT_TRUE(w.lua("quest:begin('attic')"));
    MemoryStream good(whole.data(), static_cast<std::int32_t>(whole.size()));
    EXPECT_EQ(gameCore.check_all(good), static_cast<std::int32_t>(whole.size()));
    EXPECT_STREQ(w.logic.quest.name, "attic");
    ASSERT_EQ(w.logic.quest.events.size(), 1u);
    EXPECT_STREQ(w.logic.quest.events[0].name, "dust");
    ASSERT_TRUE(w.lua("quest:begin('harbour')"));

    // The stack count past what the data hold: it follows the quest name,
    // pending and the stack flags.
    std::vector<std::uint8_t> damaged = whole;
    const std::string text(whole.begin(), whole.end());
    const std::size_t nameAt = text.find("\x07harbour");
    ASSERT_NE(nameAt, std::string::npos);
    const std::size_t countAt = nameAt + 8 + 4 + 4;
    ASSERT_EQ(damaged[countAt], 3u);
    damaged[countAt + 3] = 0x40;
    MemoryStream bad(damaged.data(), static_cast<std::int32_t>(damaged.size()));
    ASSERT_TRUE(w.lua("quest:setAction('harbour', 'door', 9)"));
    EXPECT_LT(gameCore.check_all(bad), 0);
    EXPECT_TRUE(w.log().contains("Can't read quest stack: the stack counts"));
    EXPECT_EQ(w.logic.stack.stack.size(), 3u);
    EXPECT_EQ(w.logic.state.findObject("harbour", "door")->action, 9);

    // The good save restores the stack and the object states.
    MemoryStream again(whole.data(), static_cast<std::int32_t>(whole.size()));
    ASSERT_TRUE(w.lua("quest:run() quest:run() quest:run()"));
    EXPECT_EQ(gameCore.load_all(again), -1);  // no scene to make current
    EXPECT_EQ(w.logic.stack.stack.size(), 3u);
    EXPECT_EQ(w.logic.state.findObject("harbour", "door")->action, 4);
    gameCore = before;
}

}  // namespace

// The object states reach the action items of the current scene's models.
struct ModelWorld {
    ModelWorld() : packages(files()) {
        EXPECT_TRUE(packages.built());
        registerQuestClass(f.lua.state, f.lua.engine);
        setModelDataManager(&models);
        f.game->flags |= kSaveGameLoadAllowed;
        f.game->loadScene("intro");
    }
    ~ModelWorld() {
        f.game->releaseScenes();
        setModelDataManager(saved);
    }
    static std::vector<testing_support::FixtureFile> files() {
        model_tools::ModelDescription description;
        std::string error;
        EXPECT_TRUE(model_tools::parseModelDescription("model door\n"
                                                       "element panel\nlod\nbox 1 1 1\nlod\nlod\n"
                                                       "action knob root\naction handle root\naction bell root\n",
                                                       description, error))
            << error;
        model_tools::ModelFile& file = description.models.front();
        return {storedFile(".mh4", "door", model_tools::modelFileBytes(*file.model, file.name, true)),
                storedFile(".my3", "door", model_tools::modelFileBytes(*file.model, file.name, false)),
                storedFile(".quest", "harbour", compiledQuests(kHarbour))};
    }
    Model* door() { return static_cast<Model*>(f.game->currentScene()->lookupModel("door")); }
    std::vector<bool> enabled() {
        std::vector<bool> bits;
        for (const ModelActionItem& item : door()->actionItems) bits.push_back((item.flags & kModelActionEnabled) != 0);
        return bits;
    }

    testing_support::SceneLoadFixture f;
    ScopedPackages packages;
    ModelDataManager models;
    ModelDataManager* saved = modelDataManager();
    QuestDataManager data;
    QuestLogic logic;
    testing_support::ScopedCoreMember<QuestDataManager> installedData{gameCore.questData, &data};
    testing_support::ScopedCoreMember<QuestLogic> installedLogic{gameCore.questLogic, &logic};
};

TEST(QuestModels, ObjectStatesSwitchTheActionItemsOfTheirModel) {
    ModelWorld w;
    ASSERT_TRUE(w.data.initialize());
    ASSERT_NE(w.f.game->currentScene(), nullptr);
    Model* door = static_cast<Model*>(w.f.game->currentScene()->createModel("door", "door", matrix34Identity(), 0));
    ASSERT_NE(door, nullptr);
    ASSERT_TRUE(door->push());
    ASSERT_NE(door->resource, nullptr);
    const struct {
        const char* call;
        std::vector<bool> enabled;  // knob, handle, bell: the resource's order
    } steps[] = {
        {"quest:setAction('harbour', 'door', 0)", {true, true, true}},
        {"quest:setAction('harbour', 'door:handle', -1)", {true, false, true}},
        {"quest:setAction('harbour', 'door:knob', -1)", {false, false, true}},
        {"quest:setAction('harbour', 'door:ghost', 1)", {true, true, true}},
        {"quest:setAction('harbour', 'action.door', -1)", {true, true, true}},
        {"quest:setAction('harbour', 'door', -5)", {false, false, false}},
        {"quest:setAction('harbour', 'door:bell', 2)", {false, false, true}},
    };
    for (const auto& s : steps) {
        SCOPED_TRACE(s.call);
        ASSERT_TRUE(w.f.lua.load(s.call));
        EXPECT_EQ(w.enabled(), s.enabled);
    }
    // begin re-applies every state of the quest, in name order.
    for (ModelActionItem& item : door->actionItems) item.flags = 0;
    ASSERT_TRUE(w.f.lua.load("quest:begin('harbour')"));
    EXPECT_EQ(w.enabled(), (std::vector<bool>{false, false, true}));
    // A model made afresh takes the states of its name from the selected quest.
    for (ModelActionItem& item : door->actionItems) item.flags = kModelActionEnabled;
    Y3QuestData::visitObjectActions(w.logic.state.objectsOf("harbour"), "door");
    EXPECT_EQ(w.enabled(), (std::vector<bool>{false, false, true}));

    // A waypoint's model takes the states of its name when it spawns.
    ASSERT_TRUE(w.f.lua.load("quest:setAction('harbour', 'gate', 0) quest:setAction('harbour', 'gate:handle', -1)"));
    Y3Pose_Model pose("gate");
    pose.pose = matrix34Identity();
    std::strcpy(pose.model, "door");
    ASSERT_TRUE(pose.spawn(0));
    auto* gate = static_cast<Model*>(gameCore.objects->getObject(pose.link));
    ASSERT_NE(gate, nullptr);
    std::vector<bool> gateBits;
    for (const ModelActionItem& item : gate->actionItems) gateBits.push_back((item.flags & kModelActionEnabled) != 0);
    EXPECT_EQ(gateBits, (std::vector<bool>{true, false, true}));
    pose.release();
}
