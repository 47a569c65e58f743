// The input's script classes as the game's scripts see them: the global
// "input" with its cursor, buttons and setup.
#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "app/SaveGame.h"
#include "app/ScriptClasses.h"
#include "control/RecordingController.h"
#include "model/Model.h"
#include "input/InputFixture.h"
#include "scene/CameraFixture.h"
#include "script/ScriptTestFixture.h"
#include "input/MainCharacterRoom.h"

namespace {

// Every class of the game, registered in the game's order, over an input
// core with the default bindings.
struct InputScriptFixture {
    InputScriptFixture() {
        std::size_t count = 0;
        const ScriptClassRegistration* table = scriptClassTable(count);
        script = std::make_unique<testing_support::ScriptFixture>(table, count);
    }
    // Runs the chunk; "" when it ran, else the Lua error.
    std::string run(const std::string& chunk) {
        const std::string code = "local ok, message = pcall(function()\n" + chunk +
                                 "\nend)\nerror_text = ok and '' or tostring(message)\n";
        EXPECT_TRUE(script->load(code)) << chunk;
        return script->global("error_text");
    }

    testing_support::InputFixture input;
    std::unique_ptr<testing_support::ScriptFixture> script;
};

}  // namespace

TEST(InputScripts, ScriptsReadAndChangeTheInput) {
    InputScriptFixture f;
    const struct {
        const char* chunk;     // sets r
        const char* expected;  // tostring(r)
    } cases[] = {
        {"r = input:classof() .. ' ' .. input.cursor:classof() .. ' ' .. input.button:classof() .. ' ' .. "
         "input.setup:classof()",
         "InputCore InputCursor InputButton InputSetup"},
        {"local v = input.button:get(0) r = v:classof() .. ' ' .. input.button:getName(v.action0) .. ' ' .. "
         "input.button:getName(v.action1) .. ' ' .. tostring(v.down)",
         "InputButtonSetup MBTN0 JOY0 false"},
        {"r = input.button:get(60)", "nil"},
        {"r = input.button:get(-1)", "nil"},
        {"r = input.button:getName(154) .. ' ' .. input.button:getName(-1) .. ' ' .. input.button:getName(5) .. "
         "' ' .. input.button:getName(79) .. ' ' .. input.button:getName(153)",
         "undefined undefined -- Undefined -- KEY_W KEY_Slash"},
        {"r = InputButton.btnQuitGame .. ' ' .. InputButton.btnHint .. ' ' .. InputButton.btnSpecial0 .. ' ' .. "
         "InputButton.btnF12 .. ' ' .. tostring(pcall(function() return InputButton.btnJump end))",
         "59 8 0 58 false"},
        {"r = input.setup.button_repeat_period .. ' ' .. input.setup.button_hold_limit", "0.5 0.5"},
        {"input.setup.button_hold_limit = 0.25 r = input.setup.button_hold_limit", "0.25"},
        {"input.cursor.maxX = 500 input.cursor:set(2000, -5) r = input.cursor.x .. ' ' .. input.cursor.y",
         "500 0"},
        {"input.cursor.maxX = 500 input.cursor:resetLimit() input.cursor:set(2000, 900) "
         "r = input.cursor.x .. ' ' .. input.cursor.y .. ' ' .. input.cursor.maxY",
         "1024 768 768"},
        {"input.button:get(3).action1 = 155 local v = input.button:get(3).action1 "
         "r = v .. ' ' .. input.button:getName(v)",
         "155 undefined"},
        {"input.button.catchedButton = 46 r = input.button.catchedButton", "46"},
        {"input.button.onAction = string.rep('a', 200) r = #input.button.onAction", "127"},
        {"input.button.onQuitGame = 'quit' r = input.button.onQuitGame .. #input.button.onCatch", "quit0"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.chunk);
        ASSERT_EQ(f.run(std::string(c.chunk) + "\nr = tostring(r)"), "");
        EXPECT_EQ(f.script->global("r"), c.expected);
    }
    EXPECT_TRUE(f.input.logged("getButtonValue: Button Id out of index"));
}

// What a script may not do is refused with an error at its call, and the
// input keeps its state.
TEST(InputScripts, WrongWritesAreRefusedAndChangeNothing) {
    InputScriptFixture f;
    const InputVirtualButton& buttons = f.input.input.virtualDevices.virtualButton;
    const struct {
        const char* chunk;
        const char* error;  // a part of the Lua error
    } cases[] = {
        {"input.button:get(0).action0 = 300", "Invalid device button id [300] for action0"},
        {"input.button:get(0).action1 = -1", "Invalid device button id [-1] for action1"},
        {"input.button.catchedButton = 156", "Invalid device button id [156] for catchedButton"},
        {"input.cursor.x = 5", ""},
        {"input.button:get(0).down = true", ""},
        {"input.cursor = nil", ""},
        {"input.button:get('special')", ""},
        {"input.button:getName()", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.chunk);
        const std::string error = f.run(c.chunk);
        EXPECT_NE(error, "");
        EXPECT_NE(error.find(c.error), std::string::npos) << error;
    }
    EXPECT_EQ(buttons.values[0].action0, 6);  // MBTN0
    EXPECT_EQ(buttons.values[0].action1, 12);  // JOY0
    EXPECT_EQ(buttons.caughtButton, kInputButtonNone);
    EXPECT_EQ(f.input.input.virtualDevices.pointer.x, 100.0f);
    // The writer of the setup file could name every binding that is left.
    for (const InputVirtualButtonValue& value : buttons.values) {
        EXPECT_LT(value.action0, kInputButtonNameCount);
        EXPECT_LT(value.action1, kInputButtonNameCount);
    }
}

// The character methods reach the main character's controller: without a
// scene or a main character nothing happens, a main character that is gone
// is reported.
TEST(InputScripts, CharacterMethodsNeedTheMainCharacter) {
    const struct {
        const char* what;
        bool scene;
        std::uint32_t mainCharacter;  // 0: none; 0x00FFFFFF resolves to nothing
        const char* message;          // logged, or null for no error at all
    } cases[] = {
        {"no scene", false, 0, "Can't get main character: load scene first"},
        {"no main character", true, 0, nullptr},
        {"a main character that is gone", true, 0x00FFFFFFu, "Can't get main controller: Set main character first"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        InputScriptFixture f;
        SaveGame game;
        testing_support::ScopedCoreMember<SaveGame> useGame{gameCore.game, &game};
        std::unique_ptr<testing_support::CameraScene> room;
        if (c.scene) {
            room = std::make_unique<testing_support::CameraScene>();
            room->scene->mainCharacter.value = c.mainCharacter;
            game.scenes.push_back(room->scene->id);
            game.currentIndex = 0;
        }
        const std::size_t before = gameCore.log->recordCount();
        EXPECT_EQ(f.run("input.button:switchCrouch() input.button:setCrouch(true) "
                        "input.button:switchItem() input.button:setItem(false)"),
                  "");
        if (c.message) {
            EXPECT_TRUE(f.input.logged(c.message));
        } else {
            EXPECT_EQ(gameCore.log->recordCount(), before);
        }
        game.scenes.clear();
    }
}

// With a main character that has a controller, the character methods reach
// its crouch and item operations.
TEST(InputScripts, CharacterMethodsReachTheMainCharactersController) {
    InputScriptFixture f;
    testing_support::MainCharacterRoom world;
    ASSERT_NE(world.hero, nullptr);
    testing_support::RecordingController& record = *world.record;
    ASSERT_TRUE(gameCore.scene_setMainCharacterByName("walker"));
    record.calls.clear();  // the main-character notices
    EXPECT_EQ(f.run("input.button:switchCrouch() input.button:setCrouch(true) "
                    "input.button:switchItem() input.button:setItem(false)"),
              "");
    const std::vector<std::string> expected = {"flipCrouch", "setCrouch 1", "flipItem", "setItem 0"};
    EXPECT_EQ(record.calls, expected);
}
