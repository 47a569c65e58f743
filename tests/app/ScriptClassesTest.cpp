// The registration table of the game: every scripted class and its global
// exists before the first script loads.
#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "app/SaveGame.h"
#include "app/ScriptClasses.h"
#include "script/ScriptTestFixture.h"

namespace {

TEST(ScriptClasses, EveryClassAndGlobalIsRegisteredInOrder) {
    std::size_t count = 0;
    const ScriptClassRegistration* table = scriptClassTable(count);
    ASSERT_EQ(count, 27u);
    EXPECT_STREQ(table[0].classes, "World, Time");
    EXPECT_STREQ(table[26].classes, "Morph");

    testing_support::ScriptFixture f(table, count);
    std::string classes;
    for (std::size_t i = 0; i < count; ++i) {
        std::stringstream names(table[i].classes);
        for (std::string name; std::getline(names, name, ',');) {
            name.erase(0, name.find_first_not_of(' '));
            classes += "'" + name + "', ";
        }
    }
    ASSERT_TRUE(f.load("missing = ''\n"
                       "for _, name in ipairs({" + classes + "}) do\n"
                       "  if type(_G[name]) ~= 'userdata' then missing = missing .. name .. ' ' end\n"
                       "end\n"
                       "for _, name in ipairs({'world', 'actions', 'dlg', 'stillframe', 'unicode_edit', 'timersAPI',\n"
                       "    'input', 'game', 'setup', 'quest', 'soundManager', 'trigger', 'animations', 'morphs'}) do\n"
                       "  if _G[name] == nil then missing = missing .. name .. ' ' end\n"
                       "end\n"
                       "kinds = world:classof() .. ' ' .. input:classof() .. ' ' .. morphs:classof()\n"));
    EXPECT_EQ(f.global("missing"), "");
    EXPECT_EQ(f.global("kinds"), "World InputCore Morph");
    EXPECT_EQ(f.number("onMouseOver"), 0);
    EXPECT_FALSE(f.logged("Can't register script"));
}

TEST(ScriptClasses, QueuedEventsRunAsDelayedCallsOfTheSaveGame) {
    ASSERT_NE(gameCore.game, nullptr);
    ScriptEngine engine;
    installScriptClasses(engine);
    EXPECT_EQ(engine.delayedCallFlags, &gameCore.game->flags);
    EXPECT_EQ(engine.classRegistrationCount(), 27u);
}

}  // namespace
