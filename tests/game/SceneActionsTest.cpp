// Screen actions: the source reader and the compiled form, the scene's
// holder (selection, save record) and the hit test under the cursor with
// its quest and sprite links, through a scene loaded from the packages.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "actions/ActionWriter.h"
#include "app/GameCore.h"
#include "app/SceneLoadFixture.h"
#include "effects/Particle.h"
#include "effects/Sprite.h"
#include "effects/lua/EffectsScripts.h"
#include "foundation/DataStream.h"
#include "game/QuestDataManager.h"
#include "game/QuestLogic.h"
#include "game/QuestTestSupport.h"
#include "game/SceneActionDataManager.h"
#include "model/Y3Model.h"
#include "game/lua/GameScripts.h"
#include "input/InputCore.h"
#include "scene/CameraCore.h"
#include "foundation/TimeCore.h"
#include "resources/ResourceTestSupport.h"
#include "scene/Scene.h"
#include "support/PackageFixture.h"
#include "support/TestSupport.h"

using actions_tools::CellRect;
using resource_tests::logSince;
using resource_tests::storedFile;

namespace {

std::string act(const std::string& name, int order, std::vector<CellRect> rects, unsigned flags = 0) {
    const float colour[3] = {1.0f, 0.5f, 0.0f};
    return actions_tools::actionSourceText(name, order, 10, 20, colour, flags, rects.data(),
                                           static_cast<int>(rects.size()));
}

std::string bytesOf(MemoryStream& stream) {
    return std::string(reinterpret_cast<const char*>(stream.data()), static_cast<std::size_t>(stream.size()));
}

// The screen and action names of the data, "screen:action action|screen".
std::string namesOf(const SceneActionData& data) {
    std::string out;
    for (const ActionScreen& screen : data.screens) {
        if (!out.empty()) out += "|";
        out += screen.name;
        out += ":";
        for (const ScreenAction& action : screen.actions) out += std::string(" ") + action.name;
    }
    return out;
}

SceneActionData readSource(const std::string& text) {
    std::string copy = text;
    MemoryStream stream(copy.data(), static_cast<std::int32_t>(copy.size()));
    SceneActionData data;
    readSceneActionSource(stream, data, "hall.txt");
    return data;
}

TEST(ScreenActionSource, ReadsScreensAndActionsAndStopsAtBrokenImages) {
    std::string shortRow = act("short", 0, {{0, 0, 255, 191}});
    const std::string row5 = "d05 " + std::string(256, 'X');
    shortRow.replace(shortRow.find(row5), row5.size(), "d05 " + std::string(255, 'X'));
    std::string badChar = act("bad", 0, {});
    badChar.replace(badChar.find("d03 ."), 5, "d03 A");
    const struct {
        const char* what;
        std::string text;
        std::string names;
        std::vector<std::string> messages;
    } cases[] = {
        {"a second screen of one name is dropped with its actions",
         "screen b\n" + act("y", 1, {}) + "screen a\n" + act("x", 0, {}) + "\nscreen a\n" + act("z", 0, {}) +
             "screen c\n",
         "a: x|b: y|c:",
         {}},
        {"actions sorted by name, a repeated one dropped",
         "screen a\n" + act("m", 0, {}) + act("c", 0, {}) + act("m", 5, {}), "a: c m", {}},
        {"a short row stays clear and the action stays",
         "screen a\n" + shortRow + "screen b\n",
         "a: short|b:",
         {"broken screen action image character. Expected line len 256, but found 255"}},
        {"a bad character drops the action and the leftover image line ends the reading",
         "screen a\n" + act("good", 0, {}) + badChar + "screen b\n",
         "a: good",
         {"broken screen action image character. Expected [X] or [.], but found [41]",
          "readValidData: Expected [screen] field, but found [d04]."}},
        {"a value longer than the reader's line is cut, a name at 127 characters",
         "screen " + std::string(3000, 's') + "\n" + act(std::string(200, 'x'), 0, {}),
         std::string(127, 's') + ": " + std::string(127, 'x'),
         {}},
        {"a missing image line drops the action",
         "screen a\n" + act("cut", 0, {}).substr(0, 200) + "\n", "a:", {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        testing_support::ScopedGameCore core;
        const SceneActionData data = readSource(c.text);
        EXPECT_EQ(namesOf(data), c.names);
        for (const std::string& message : c.messages) EXPECT_TRUE(core.log().contains(message)) << message;
    }
}

TEST(ScreenActionSource, FieldsAndCellsComeThroughTheCompiledForm) {
    testing_support::ScopedGameCore core;
    std::string text = "screen hall\n" + act("door", 7, {{0, 0, 0, 0}, {255, 191, 255, 191}, {32, 5, 33, 5}}, 3);
    text.replace(text.find("help.x 10"), 9, "help.x -12abc");
    const SceneActionData data = readSource(text);
    MemoryStream compiled(true);
    ASSERT_GT(writeSceneActions(data, compiled), 0);
    std::string bytes = bytesOf(compiled);
    EXPECT_EQ(bytes.size(), 4u + 2 + 4 + 4 + 2 + 4 + 12 + 12 + 6144 + 4);
    MemoryStream in(bytes.data(), static_cast<std::int32_t>(bytes.size()));
    SceneActionData read;
    ASSERT_EQ(readSceneActions(in, read, "hall"), static_cast<std::int32_t>(bytes.size()));
    ASSERT_EQ(read.screens.size(), 1u);
    const ScreenAction& door = read.screens[0].actions.at(0);
    EXPECT_EQ(door.order, 7);
    EXPECT_EQ(door.helpX, -12);
    EXPECT_EQ(door.helpY, 20);
    EXPECT_FLOAT_EQ(door.colour[1], 0.5f);
    EXPECT_EQ(door.flags, 3u);
    for (auto [x, y, on] : {std::tuple{0, 0, true}, {255, 191, true}, {32, 5, true}, {33, 5, true}, {34, 5, false},
                            {1, 0, false}, {31, 5, false}})
        EXPECT_EQ(door.cell(x, y), on) << x << "," << y;
    // Band layout: cell (32, 5) is bit 0 of word 192 + 5.
    EXPECT_EQ(door.mask[197], 3u);
}

TEST(ScreenActionData, DamagedCompiledDataIsRefusedWithTheResourceName) {
    const std::string good = actions_tools::compileActionSource("screen a\n" + act("x", 0, {}) + "screen b\n", "t");
    quest_tests::Bytes longName;
    longName.i32(1).u16text(std::string(128, 'n')).i32(0);
    quest_tests::Bytes outOfOrder;
    outOfOrder.i32(2).u16text("b").i32(0).u16text("a").i32(0);
    quest_tests::Bytes tooMany;
    tooMany.i32(1).u16text("a").i32(2);
    const struct {
        const char* what;
        std::string bytes;
        const char* message;
    } cases[] = {
        {"a name longer than its field", longName.s, "a screen name is cut short or longer than 127 characters"},
        {"a screen count the bytes cannot hold", quest_tests::Bytes().i32(-1).s,
         "the screen count does not fit the record"},
        {"an action count the bytes cannot hold", tooMany.s + good.substr(11), "an action count does not fit"},
        {"screens out of order", outOfOrder.s, "the screens are not in name order"},
        {"a record cut short", good.substr(0, good.size() - 3), "the record is cut short"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        testing_support::ScopedGameCore core;
        std::string bytes = c.bytes;
        MemoryStream in(bytes.data(), static_cast<std::int32_t>(bytes.size()));
        SceneActionData data;
        EXPECT_LT(readSceneActions(in, data, "harbour"), 0);
        EXPECT_TRUE(data.screens.empty());
        EXPECT_TRUE(core.log().contains(std::string("Screen actions resource [harbour]: ") + c.message));
    }
}

TEST(ScreenActionData, ARefusedCompileLeavesTheDestinationAsItWas) {
    testing_support::ScopedGameCore core;
    testing_support::TempDir dir;
    const std::string source = dir.path() + "/hall.txt";
    const std::string destination = dir.path() + "/hall.as";
    ASSERT_TRUE(testing_support::writeFile(source, "screen a\n" + act("x", 0, {})));
    ASSERT_TRUE(testing_support::writeFile(destination, "kept"));
    SceneActionDataManager manager;
    EXPECT_FALSE(manager.compileFromSource(source.c_str()));
    EXPECT_EQ(testing_support::readFile(destination), "kept");
    EXPECT_EQ(logSince(core.log(), 0), (std::vector<std::string>{"Stream save not possible in release exe",
                                                                 "Failed while write actions to file [" +
                                                                     destination + "]"}));
    EXPECT_FALSE(manager.compileFromSource((dir.path() + "/none.txt").c_str()));
    EXPECT_TRUE(core.log().contains("Can't open actions source file [" + dir.path() + "/none.txt]"));
}

const char* kQuest = "quest harbour\nevent start\ndo nothing\n";

bool writeWorld(const testing_support::TempDir& dir, const std::string& actions) {
    testing_support::FixturePackage package;
    package.files = {storedFile(".as", "harbour", actions_tools::compileActionSource(actions, "harbour.txt")),
                     storedFile(".quest", "harbour", quest_tests::compiledQuests(kQuest))};
    return testing_support::writeDataRoot(dir.path(), {package});
}

// The scene "harbour" loaded with the screen actions of the source text,
// the quest "harbour" selected, and the input core's cursor.
struct ActionWorld {
    explicit ActionWorld(const std::string& actions) : written(writeWorld(dir, actions)) {
        EXPECT_TRUE(written);
        EXPECT_TRUE(built);
        EXPECT_TRUE(quests.initialize());
        registerQuestClass(f.lua.state, f.lua.engine);
        f.game->flags |= kSaveGameLoadAllowed;
        f.game->loadScene("harbour");
        EXPECT_NE(gameCore.currentScene(), nullptr);
        EXPECT_TRUE(f.lua.load("quest:begin('harbour')"));
        registerScreenActionsClass(f.lua.state, f.lua.engine);
    }
    // The value of a Lua expression, through tostring.
    std::string value(const std::string& expression) { return f.value(expression); }
    bool lua(const std::string& text) { return f.lua.load(text); }
    std::int32_t at(float x, float y) {
        input.virtualDevices.pointer.set(x, y);
        return gameCore.scene_actionAtCursor();
    }
    std::string nameAt(float x, float y) {
        const std::int32_t index = at(x, y);
        const ActionScreen* screen = gameCore.scene_getActionsScreen();
        return index < 0 || !screen ? "-" : screen->actions[static_cast<std::size_t>(index)].name;
    }

    testing_support::TempDir dir;
    bool written;
    testing_support::ScopedPackageDatabase packages{dir.path()};
    // Built before the scene fixture installs its own paths.
    bool built = packages.build();
    SceneActionDataManager actions;
    QuestDataManager quests;
    QuestLogic logic;
    InputCore input;
    testing_support::ScopedCoreMember<SceneActionDataManager> useActions{gameCore.screenActions, &actions};
    testing_support::ScopedCoreMember<QuestDataManager> useQuests{gameCore.questData, &quests};
    testing_support::ScopedCoreMember<QuestLogic> useLogic{gameCore.questLogic, &logic};
    testing_support::ScopedCoreMember<InputCore> useInput{gameCore.input, &input};
    testing_support::SceneLoadFixture f;
};

const std::string kHall = "screen hall\n" + act("door", 3, {{10, 10, 20, 20}}) + act("gate", 5, {{15, 15, 30, 30}}) +
                          act("a:well", 2, {{40, 40, 41, 41}}) + act("b:well", 2, {{40, 40, 40, 40}}) +
                          act("hidden", 0, {{255, 191, 255, 191}}, 1) + act("shut", 9, {{10, 10, 10, 10}}) +
                          act("ghost", 1, {{60, 60, 60, 60}}) + "screen yard\n";

TEST(ScreenActions, TheHitTestTakesTheHighestLiveOrder) {
    ActionWorld w(kHall);
    EXPECT_EQ(w.at(80, 80), -1) << "no screen selected";
    ASSERT_TRUE(w.lua("quest:setAction('harbour', 'door', 0) quest:setAction('harbour', 'gate', 1)"
                      "quest:setAction('harbour', 'well', 0) quest:setAction('harbour', 'hidden', 0)"
                      "quest:setAction('harbour', 'shut', -1)"));
    ASSERT_TRUE(gameCore.scene_selectActionsScreen("hall"));
    const struct {
        float x, y;
        const char* name;
    } cases[] = {
        {48, 48, "door"},     {64, 64, "gate"},       {80, 80, "gate"},      {40, 40, "door"},
        {160, 160, "b:well"}, {164, 164, "a:well"},   {1023, 767, "hidden"}, {1020, 764, "hidden"},
        {1019, 767, "-"},     {240, 240, "-"},        {120, 120, "gate"},    {124, 124, "-"},
        {0, 0, "-"},
    };
    for (const auto& c : cases) EXPECT_EQ(w.nameAt(c.x, c.y), c.name) << c.x << "," << c.y;
    // The quest had no state for "ghost": one is made with -1.
    EXPECT_EQ(w.nameAt(240, 240), "-");
    const ObjectState* ghost = w.logic.state.findObject("harbour", "ghost");
    ASSERT_NE(ghost, nullptr);
    EXPECT_EQ(ghost->action, -1);
    // A cell outside the grid.
    const ActionScreen* hall = gameCore.scene_getActionsScreen();
    ASSERT_NE(hall, nullptr);
    EXPECT_EQ(screenActionAt(*hall, 256, 0), -1);
    EXPECT_EQ(screenActionAt(*hall, 0, -1), -1);
    // Switched off by the quest.
    ASSERT_TRUE(w.lua("quest:setAction('harbour', 'gate', -1)"));
    EXPECT_EQ(w.nameAt(80, 80), "door");
}

TEST(ScreenActions, TheCameraRaisesEnterAndLeaveAndTheWorldNamesTheHoveredAction) {
    ActionWorld w(kHall);
    ASSERT_TRUE(w.lua("quest:setAction('harbour', 'door', 0) quest:setAction('harbour', 'gate', 0)"));
    ASSERT_TRUE(w.lua("actions.screen = 'hall'"));
    ASSERT_TRUE(w.lua(R"(
        seen = ""
        function layerOver(w) seen = seen .. "enter:" .. w:getActionLayer() .. "," end
        function layerOut(w) seen = seen .. "leave:" .. w:getActionLayer() .. "," end
        world:setEvent(9, "layerOver")
        world:setEvent(10, "layerOut")
    )"));
    CameraCore* camera = gameCore.scene_getCamera();
    ASSERT_NE(camera, nullptr);
    gameCore.cameraMode = 3;  // the cursor mode looks for screen actions
    for (auto [x, y] : {std::pair{0.0f, 0.0f}, {48.0f, 48.0f}, {50.0f, 50.0f}, {80.0f, 80.0f}, {500.0f, 500.0f}}) {
        w.input.virtualDevices.pointer.set(x, y);
        camera->update(CurrentTime());
        w.f.runEvents();
    }
    EXPECT_EQ(w.f.lua.global("seen"), "enter:door,leave:door,enter:gate,leave:gate,");
}

// The screen's sprite keeps what it hides out of the screen view: a
// particle a script hid for the sprite is not attached while its screen is
// selected, and is again once shown.
TEST(ScreenActions, TheScreensSpriteHidesTheParticlesItLists) {
    ActionWorld w("screen hall\n" + act("door", 0, {{0, 0, 0, 0}}));
    registerParticleClass(w.f.lua.state, w.f.lua.engine);
    Scene& scene = *gameCore.currentScene();
    Sprite sprite(scene.id, "panel", "hall");
    sprite.initialize(matrix34Identity());
    scene.sprites.push_back(GameObjectLink::fromObject(&sprite));
    Particle smoke(scene.id, "chimney", "smoke", matrix34Identity());
    scene.particles.push_back(GameObjectLink::fromObject(&smoke));
    const GameObjectLink link = GameObjectLink::fromObject(&smoke);

    ASSERT_TRUE(w.lua("assert(world:particle('smoke'):hide_sprite('hall'))"));
    EXPECT_TRUE(gameCore.scene_attachSprite(link));  // no screen selected: no sprite
    ASSERT_TRUE(gameCore.scene_selectActionsScreen("hall"));
    EXPECT_FALSE(gameCore.scene_attachSprite(link));
    ASSERT_TRUE(w.lua("assert(world:particle('smoke'):show_sprite('hall'))"));
    EXPECT_TRUE(gameCore.scene_attachSprite(link));
    scene.particles.clear();
    scene.sprites.clear();
}

TEST(ScreenActions, SpriteActionsFollowTheElementsOfTheScreensSprite) {
    const std::string text = "screen hall\n" + act("spr:lamp", 0, {{0, 0, 0, 0}}) + act("spr:rope", 0, {{1, 0, 1, 0}}) +
                             act("spr:boat", 0, {{2, 0, 2, 0}}) + act("spr:lamp=red", 0, {{3, 0, 3, 0}}) +
                             act("spr:lamp=blue", 0, {{4, 0, 4, 0}});
    ActionWorld w(text);
    ASSERT_TRUE(w.lua("for _, o in ipairs({'lamp', 'rope', 'boat'}) do quest:setAction('harbour', o, 0) end"));
    ASSERT_TRUE(gameCore.scene_selectActionsScreen("hall"));
    Scene& scene = *gameCore.currentScene();
    // The sprite resource "panel", its header loaded, with four elements.
    Y3SpriteData* panel = w.f.sprites.getOrCreate("panel", false);
    auto model = std::make_unique<Y3ModelSprite>();
    const std::pair<const char*, bool> elements[] = {{"lamp", true}, {"rope=a", false}, {"rope=b", true}, {"lamp=red", false}};
    for (auto [name, shown] : elements) {
        SpriteElementData element;
        copyName128(element.name, name);
        model->elements.push_back(element);
    }
    panel->model = std::move(model);
    panel->flags |= kResourceHeaderLoaded;
    Sprite sprite(scene.id, "panel", "hall");
    sprite.initialize(matrix34Identity());
    scene.sprites.push_back(GameObjectLink::fromObject(&sprite));
    for (std::size_t i = 0; i < 4; ++i) sprite.setElementShown(i, elements[i].second);
    const struct {
        float x;
        bool hit;
        const char* message;
    } cases[] = {
        {0, true, nullptr},
        {4, true, nullptr},
        {8, false, "Expected 1:N linked sprite with name [boat=???]"},
        {12, false, nullptr},
        {16, false, "Expected full 1:1 linked sprite [lamp=blue] for layer [spr:lamp=blue]"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.x);
        w.f.lua.log().clear();
        EXPECT_EQ(w.at(c.x, 0) >= 0, c.hit);
        if (c.message) EXPECT_TRUE(w.f.logged(c.message));
    }
    // The quest switches an action off before the sprite is asked.
    ASSERT_TRUE(w.lua("quest:setAction('harbour', 'boat', -1)"));
    w.f.lua.log().clear();
    EXPECT_EQ(w.at(8, 0), -1);
    EXPECT_FALSE(w.f.logged("Expected 1:N"));
    scene.sprites.clear();
}

TEST(ScreenActions, TheHolderSelectsScreensAndKeepsItsStateInTheSceneRecord) {
    ActionWorld w(kHall);
    Scene& scene = *gameCore.currentScene();
    EXPECT_FALSE(gameCore.scene_selectActionsScreen("cellar"));
    EXPECT_TRUE(w.f.logged("Can't select screen [cellar]: screen with specified name NOT exist"));
    ASSERT_TRUE(gameCore.scene_selectActionsScreen("yard"));
    EXPECT_STREQ(gameCore.scene_getActionsName(), "yard");
    ASSERT_TRUE(gameCore.scene_showActionsScreen(true));
    ASSERT_TRUE(gameCore.scene_beginActionDraw(false));
    ASSERT_TRUE(gameCore.scene_setScreenCursor(7));
    EXPECT_EQ(scene.screenActions->state, kScreenActionsShown | kScreenActionsDrawClear);
    ASSERT_TRUE(gameCore.scene_beginActionDraw(true));
    EXPECT_EQ(scene.screenActions->state & 0x18u, kScreenActionsDrawSet);

    MemoryStream first(true);
    ASSERT_GT(scene.screenActions->write(first), 0);
    std::string bytes = bytesOf(first);
    SceneScreenActions copy(&scene, nullptr);
    MemoryStream in(bytes.data(), static_cast<std::int32_t>(bytes.size()));
    ASSERT_EQ(copy.read(in), static_cast<std::int32_t>(bytes.size()));
    EXPECT_STREQ(copy.selected, "yard");
    EXPECT_EQ(copy.state, kScreenActionsShown | kScreenActionsDrawSet);
    EXPECT_EQ(copy.cursor, 7);
    EXPECT_EQ(copy.values[0], -1);
    MemoryStream second(true);
    ASSERT_GT(copy.write(second), 0);
    EXPECT_EQ(bytesOf(second), bytes);
    // The pushed bit does not come back from a record.
    quest_tests::Bytes pushed;
    pushed.u16text("yard").i32(static_cast<std::int32_t>(kScreenActionsPushed | kScreenActionsShown)).i32(3).i32(5).i32(6);
    MemoryStream pushedIn(pushed.s.data(), static_cast<std::int32_t>(pushed.s.size()));
    ASSERT_EQ(copy.read(pushedIn), static_cast<std::int32_t>(pushed.s.size()));
    EXPECT_EQ(copy.state, kScreenActionsShown);
    EXPECT_EQ(copy.values[1], 5);
    EXPECT_EQ(copy.values[0], 6);

    // A name longer than the field is refused.
    quest_tests::Bytes damaged;
    damaged.u16text(std::string(128, 'y')).i32(0).i32(0).i32(-1).i32(-1);
    MemoryStream bad(damaged.s.data(), static_cast<std::int32_t>(damaged.s.size()));
    EXPECT_LT(copy.read(bad), 0);

    // A selection the data no longer holds.
    copyName128(scene.screenActions->selected, "cellar");
    EXPECT_EQ(gameCore.scene_getActionsScreen(), nullptr);
    EXPECT_TRUE(w.f.logged("Current selected screen is invalid: Maybe screens structure changed?"));
    EXPECT_TRUE(gameCore.scene_selectActionsScreen(""));
    EXPECT_EQ(gameCore.scene_actionAtCursor(), -1);
}

// A new name is stored cut to 127 characters: a long name whose cut names
// another entry is refused as a name in use, and nothing is erased.
TEST(ScreenActionsScript, RenamesWhoseStoredNameIsTakenAreRefusedAndEraseNothing) {
    const std::string taken(127, 't');
    ActionWorld w("screen " + taken + "\n" + act("door", 3, {{10, 10, 20, 20}}) + act(taken, 5, {{15, 15, 30, 30}}) +
                  "screen yard\n" + act("gate", 1, {{1, 1, 2, 2}}));
    const std::string longer = "'" + taken + "longer'";
    const struct {
        const char* select;
        const char* rename;
        const char* message;
        const char* entries;  // screens, then the actions of the first screen, after the rename
    } cases[] = {
        {"actions.screen = string.rep('t', 127) actions.layer = 'door'", "actions:layer_rename(",
         "Can't rename action [door] to [", "2 2 door"},
        {"actions.screen = 'yard'", "actions:screen_rename(", "can't rename screen: name already used", "2 2 door"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.rename);
        w.f.lua.log().clear();
        ASSERT_TRUE(w.lua(c.select));
        EXPECT_EQ(w.value(std::string(c.rename) + longer + ")"), "false");
        EXPECT_TRUE(w.f.logged(c.message));
        ASSERT_TRUE(w.lua("actions.screen = string.rep('t', 127)"));
        EXPECT_EQ(w.value("actions:screen_count() .. ' ' .. actions:layer_count() .. ' ' .. actions:layer_name(1)"),
                  c.entries);
        EXPECT_EQ(w.value("actions:screen_test('yard')"), "true");
    }
    // A long name whose cut is free is taken cut.
    ASSERT_TRUE(w.lua("actions.layer = 'door'"));
    EXPECT_EQ(w.value("actions:layer_rename(string.rep('d', 130))"), "true");
    EXPECT_EQ(w.value("actions.layer == string.rep('d', 127)"), "true");
    EXPECT_EQ(w.value("actions:layer_test(string.rep('d', 127))"), "true");
}

TEST(ScreenActionsScript, WithoutASceneTheClassAnswersItsFailureValues) {
    testing_support::SceneLoadFixture f;
    registerScreenActionsClass(f.lua.state, f.lua.engine);
    EXPECT_EQ(f.value("actions:classof()"), "ScreenActions");
    EXPECT_EQ(f.value("actions:screen_count()"), "-1");
    EXPECT_TRUE(f.lua.log().records().empty());
    EXPECT_EQ(f.value("actions:screen_name(1)"), "INVALID");
    EXPECT_TRUE(f.logged("s_getScreenName:Can't operate with screens: load scene first"));
    EXPECT_EQ(f.value("actions:layer_count()"), "-1");
    EXPECT_TRUE(f.logged("Can't access to current screen: Select screen first"));
    EXPECT_EQ(f.value("actions.screen"), "");
    EXPECT_EQ(f.value("actions:test()"), "0");
}

TEST(ScreenActionsScript, ActionsAreAddedPaintedOrderedRenamedAndDeleted) {
    ActionWorld w("screen hall\nscreen yard\n");
    ASSERT_TRUE(w.lua("actions.screen = 'hall'"));
    EXPECT_EQ(w.value("actions.screen"), "hall");
    // Seventeen actions: the palette goes round by the count before each.
    ASSERT_TRUE(w.lua("for i = 1, 17 do actions:layer_add(string.format('n%02d', i)) end"));
    EXPECT_EQ(w.value("actions:layer_count()"), "17");
    EXPECT_EQ(w.value("actions:layer_add('n01')"), "false");
    const struct {
        const char* name;
        std::uint32_t rgb;
    } colours[] = {{"n01", 0xEB1A29}, {"n03", 0x8522AA}, {"n17", 0xEB1A29}};
    for (const auto& c : colours)
        for (int i = 0; i < 3; ++i) {
            const char* const getter[3] = {"get_layer_colorR", "get_layer_colorG", "get_layer_colorB"};
            const float expected = static_cast<float>((c.rgb >> (16 - 8 * i)) & 0xFF) / 255.0f;
            EXPECT_FLOAT_EQ(std::stof(w.value(std::string("actions:") + getter[i] + "('" + c.name + "')")), expected)
                << c.name << " " << i;
        }

    // Help points and cells, with their bounds.
    const struct {
        const char* call;
        const char* result;
        const char* message;
    } calls[] = {
        {"actions:layer_setXY(1, 1)", "false", "Select action first"},
        {"actions:layer_getOrder()", "-1", nullptr},
        {"(function() actions.layer = 'n02' return true end)()", "true", "Select screen hall action from  to n02"},
        {"actions:layer_setXY(1024, 1024)", "true", nullptr},
        {"actions:layer_setXY(1025, 0)", "false", "s_setActionHelpXY: Invalid x,y values: Out of bounds"},
        {"actions:layer_setXY(-1, 0)", "false", "s_setActionHelpXY: Invalid x,y values: Out of bounds"},
        {"actions:layer_getX()", "1024", nullptr},
        {"actions:get_layer_y('n02')", "1024", nullptr},
        {"actions:layer_set(255, 191, true)", "true", nullptr},
        {"actions:layer_set(255, 191, true)", "true", nullptr},
        {"actions:layer_set(256, 0, true)", "false", "s_setActionValue: Invalid x,y values: Out of bounds"},
        {"actions:get_layer_x('nobody')", "0", "Can't find action [nobody]"},
        {"actions:layer_setOrder(3)", "true", nullptr},
        {"actions:layer_setOrder(-1)", "false", "Can't set negative action order value"},
        {"actions:set_layer_order('n04', 3)", "true", nullptr},
        {"(function() actions.layer = 'n04' return actions:layer_setOrder(3) end)()", "true", nullptr},
        {"(function() actions.layer = 'n05' return actions:layer_setOrder(3) end)()", "false",
         "Can't set action [n05] order to [3], already used by action [n02]"},
        {"actions:layer_getOrder()", "0", nullptr},
        {"(function() actions.visible = false return actions.visible end)()", "false", "Hide screen action grid [n05]"},
        {"actions:get_layer_visible('n05')", "false", nullptr},
        {"actions:set_layer_visible('n05', true)", "true", nullptr},
        {"actions.visible", "true", nullptr},
    };
    for (const auto& c : calls) {
        SCOPED_TRACE(c.call);
        w.f.lua.log().clear();
        EXPECT_EQ(w.value(c.call), c.result);
        if (c.message) EXPECT_TRUE(w.f.logged(c.message));
    }
    const ActionScreen* hall = gameCore.scene_getActionsScreen();
    ASSERT_NE(hall, nullptr);
    EXPECT_TRUE(hall->actions[1].cell(255, 191));
    EXPECT_FALSE(hall->actions[1].cell(254, 191));

    // Sorted by order, highest first, equal orders in name order.
    ASSERT_TRUE(w.lua("actions.screen = 'yard' for _, n in ipairs({'c', 'a', 'b'}) do actions:layer_add(n) end "
                      "actions:set_layer_order('a', 1) actions:set_layer_order('b', 5) actions:set_layer_order('c', 5)"));
    EXPECT_EQ(w.value("actions:layer_sorted_name(1) .. actions:layer_sorted_name(2) .. actions:layer_sorted_name(3)"),
              "bca");
    EXPECT_EQ(w.value("actions:layer_name(1) .. actions:layer_name(3)"), "ac");
    EXPECT_EQ(w.value("actions:layer_name(4)"), "INVALID_INDEX");
    EXPECT_TRUE(w.f.logged("Invalid action index 4 (1..3)"));

    // Renaming and deleting an action.
    ASSERT_TRUE(w.lua("actions.layer = 'a'"));
    EXPECT_EQ(w.value("actions:layer_rename('b')"), "false");
    EXPECT_TRUE(w.f.logged("Can't rename action [a] to [b]: Name already used"));
    EXPECT_EQ(w.value("actions:layer_rename('z')"), "true");
    EXPECT_EQ(w.value("actions.layer .. actions:layer_name(3) .. actions:get_layer_order('z')"), "zz1");
    EXPECT_EQ(w.value("actions:layer_del()"), "true");
    EXPECT_EQ(w.value("'[' .. actions.layer .. ']' .. actions:layer_count()"), "[]2");
    EXPECT_EQ(w.value("actions:layer_del()"), "false");
    EXPECT_TRUE(w.f.logged("s_delAction: select action before delete"));

    // Renaming and deleting a screen: it keeps its actions and stays selected.
    EXPECT_EQ(w.value("actions:screen_rename('hall')"), "false");
    EXPECT_TRUE(w.f.logged("can't rename screen: name already used"));
    EXPECT_EQ(w.value("actions:screen_rename('attic')"), "true");
    EXPECT_EQ(w.value("actions.screen .. actions:layer_count() .. actions:screen_name(1)"), "attic2attic");
    EXPECT_EQ(w.value("actions:screen_add('attic')"), "false");
    EXPECT_EQ(w.value("actions:screen_add('cellar')"), "true");
    EXPECT_EQ(w.value("actions:screen_del()"), "true");
    EXPECT_EQ(w.value("actions:screen_count() .. actions:screen_name(1) .. '[' .. actions.screen .. ']'"),
              "2cellar[]");
    EXPECT_EQ(w.value("actions:screen_del()"), "false");
    EXPECT_TRUE(w.f.logged("s_delScreen: Can't delete screen: Select screen first"));
    EXPECT_EQ(w.value("actions:screen_name(3)"), "INVALID_INDEX");
    EXPECT_EQ(w.value("actions:export()"), "false");
    EXPECT_TRUE(w.f.logged("Export scene actions"));
}

}  // namespace
