// Calls by name, the event queue and the engine's Lua globals.
#include <gtest/gtest.h>

#include <string>

#include "script/ScriptCall.h"
#include "script/ScriptEngine.h"
#include "script/ScriptTestFixture.h"

using testing_support::ScriptFixture;

namespace {

TEST(ScriptCall, QueueRunsFiftyEventsPerCallInOrder) {
    ScriptFixture f;
    ASSERT_TRUE(f.load("seen = ''\n"
                       "function onEvent(n) seen = seen .. n .. ',' end\n"
                       "function chain() sendEvent('onEvent', 'late') end\n"));
    std::string expected;
    for (int i = 0; i < 60; ++i) {
        ScriptEventArgs args = ScriptEventArgs::fromTwoStrings("onEvent", std::to_string(i).c_str());
        EXPECT_TRUE(postScriptEventWithArgs(args, "test.onEvent"));
        if (i < 50) expected += std::to_string(i) + ",";
    }
    EXPECT_EQ(f.context().queue.size(), 60u);
    f.context().processEvents();
    EXPECT_EQ(f.global("seen"), expected);
    EXPECT_EQ(f.context().queue.size(), 10u);
    f.context().processEvents();
    EXPECT_TRUE(f.context().queue.empty());
    EXPECT_EQ(f.global("seen").substr(expected.size()), "50,51,52,53,54,55,56,57,58,59,");

    // An event posted by a handler joins the end and runs in the same call.
    postScriptEvent("chain");
    f.context().processEvents();
    EXPECT_TRUE(f.context().queue.empty());
    EXPECT_NE(f.global("seen").find("59,late,"), std::string::npos);

    EXPECT_TRUE(postScriptEvent(""));
    EXPECT_TRUE(postScriptEvent(nullptr));
    EXPECT_TRUE(f.context().queue.empty());
}

TEST(ScriptCall, QueueKeepsOrderWhileAHandlerFloodsIt) {
    // A handler posts more events than the queue holds: it grows under the
    // running event, which stays intact, and order is first in, first out.
    ScriptFixture f;
    ASSERT_TRUE(f.load("seen = ''\n"
                       "function onEvent(n) seen = seen .. n .. ',' end\n"
                       "function flood(n) for i = 1, 20 do sendEvent('onEvent', n .. i) end\n"
                       "  seen = seen .. n .. ',' end\n"));
    const auto post = [](const char* handler, const char* argument) {
        ScriptEventArgs args = ScriptEventArgs::fromTwoStrings(handler, argument);
        postScriptEventWithArgs(args, "test.event");
    };
    for (int round = 0; round < 3; ++round) {
        SCOPED_TRACE(round);
        post("onEvent", "a");
        post("flood", "f");
        post("onEvent", "b");
        f.context().processEvents();
        std::string expected = "a,f,b,";
        for (int i = 1; i <= 20; ++i) expected += "f" + std::to_string(i) + ",";
        EXPECT_EQ(f.global("seen"), expected);
        EXPECT_TRUE(f.context().queue.empty());
        ASSERT_TRUE(f.load("seen = ''"));
    }
    // A block of seven slots keeps them all through the queue.
    ASSERT_TRUE(f.load("sendEvent('onEvent', 1, 2, 3, 4, 5, 6)"));
    f.context().processEvents();
    EXPECT_TRUE(f.logged("Invalid script event [onEvent('1', '2', '3', '4', '5', '6');]: Args count is to big"));
}

std::uint32_t* gFlags = nullptr;
int flagNow(lua_State* state) {
    lua_pushinteger(state, static_cast<lua_Integer>(*gFlags));
    return 1;
}

TEST(ScriptCall, QueuedCallSetsTheDelayedCallBitOnlyWhileItRuns) {
    ScriptFixture f;
    std::uint32_t flags = 0x10;
    gFlags = &flags;
    f.engine.delayedCallFlags = &flags;
    lua_register(f.state, "flagNow", flagNow);
    ASSERT_TRUE(f.load("function handler() during = flagNow() end"));
    postScriptEvent("handler");
    f.context().processEvents();
    EXPECT_EQ(f.number("during"), 0x12);
    EXPECT_EQ(flags, 0x10u);
}

TEST(ScriptCall, AContextWithoutStateCallsNothing) {
    ScriptFixture f;
    ASSERT_TRUE(f.load("function handler() end"));
    ScriptContext unopened(&f.engine);
    dispatchScriptEvent(unopened, ScriptEventArgs("handler"));
    unopened.processEvents();
    EXPECT_TRUE(unopened.queue.empty());
    EXPECT_FALSE(runScriptFunction(nullptr, unopened, "handler"));
    EXPECT_FALSE(testScriptFunction(unopened, "handler"));
    EXPECT_TRUE(f.logged("Can't call script function [handler]: script engine is not opened"));
}

TEST(ScriptCall, SlotCountDecidesHowTheFunctionIsCalled) {
    ScriptFixture f;
    ASSERT_TRUE(f.load("function take(...) got = table.concat({...}, '|'); n = select('#', ...) end\n"
                       "function fail(...) error('bad ' .. select('#', ...)) end\n"));
    struct Case {
        int slots;
        bool result;
        const char* got;
    } cases[] = {{1, true, ""}, {2, true, "a1"}, {4, true, "a1|a2|a3"}, {6, true, "a1|a2|a3|a4|a5"},
                 {7, false, "unchanged"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.slots);
        luaL_dostring(f.state, "got = 'unchanged'");
        ScriptEventArgs args("take");
        for (int i = 1; i < c.slots; ++i) args.append(("a" + std::to_string(i)).c_str());
        args.setName("test.take");
        EXPECT_EQ(callScriptFunction(args, f.state), c.result);
        EXPECT_EQ(f.global("got"), c.got);
    }
    EXPECT_TRUE(f.logged("Invalid test.take [take('a1', 'a2', 'a3', 'a4', 'a5', 'a6');]: Args count is to big"));

    // Without arguments the error carries the traced position; with them, Lua's own text.
    ScriptEventArgs bare("fail");
    bare.setName("ev");
    EXPECT_FALSE(callScriptFunction(bare, f.state));
    EXPECT_TRUE(f.logged("Exception ev(fail();): package\\test.lua:2 > package\\test.lua:2: bad 0"));
    ScriptEventArgs withArg = ScriptEventArgs::fromTwoStrings("fail", "x");
    withArg.setName("ev");
    EXPECT_FALSE(callScriptFunction(withArg, f.state));
    EXPECT_TRUE(f.logged("Exception ev(fail('x');): package\\test.lua:2: bad 1"));
    EXPECT_EQ(lua_gettop(f.state), 0);
}

TEST(ScriptCall, OnlyFunctionsWrittenInLuaCanBeCalled) {
    ScriptFixture f;
    ASSERT_TRUE(f.load("function written() end\nsomeTable = {}\nsomeNumber = 3\n"));
    EXPECT_TRUE(checkScriptFunction("written"));
    for (const char* name : {"someTable", "someNumber", "print", "msg", "missing"}) {
        SCOPED_TRACE(name);
        EXPECT_FALSE(checkScriptFunction(name));
        EXPECT_TRUE(f.logged(std::string("Can't call undefined script function [") + name + "]"));
        EXPECT_FALSE(runScriptFunction(nullptr, f.context(), name));
    }
    EXPECT_FALSE(checkScriptFunction(nullptr));
    EXPECT_TRUE(f.logged("Can't call NULL Lua function"));
    EXPECT_EQ(lua_gettop(f.state), 0);
}

TEST(ScriptCall, RunAndTestReportAsTheirCallersExpect) {
    ScriptFixture f;
    ASSERT_TRUE(f.load("function yes() return 1 end\n"
                       "function no() return nil end\n"
                       "function broken() error('quest failed') end\n"
                       "function echo(a) echoed = a end\n"));
    EXPECT_TRUE(testScriptFunction(f.context(), "yes"));
    EXPECT_FALSE(testScriptFunction(f.context(), "no"));
    // A test whose function raised an error has failed.
    EXPECT_FALSE(testScriptFunction(f.context(), "broken"));
    EXPECT_TRUE(f.logged("Lua [test broken()]Exception: package\\test.lua:3: quest failed"));
    EXPECT_FALSE(testScriptFunction(f.context(), "absent"));
    // An error without text is still a failure.
    ASSERT_TRUE(f.load("function silent() error(nil) end"));
    EXPECT_FALSE(testScriptFunction(f.context(), "silent"));
    EXPECT_TRUE(f.logged("Lua [test silent()]Exception: (error object is not a string)"));
    EXPECT_FALSE(callScriptFunction(ScriptEventArgs::fromTwoStrings("silent", "x"), f.state));

    // An error inside a run is logged and the run counts as done.
    EXPECT_TRUE(runScriptFunction(nullptr, f.context(), "broken"));
    EXPECT_TRUE(f.logged("Lua [run broken()] Exception: package\\test.lua:3 > package\\test.lua:3: quest failed"));
    EXPECT_TRUE(runScriptFunction("hello", f.context(), "echo"));
    EXPECT_EQ(f.global("echoed"), "hello");
    EXPECT_EQ(lua_gettop(f.state), 0);
}

TEST(ScriptCall, BlockedEventsAreDroppedWhileDirectCallsStillRun) {
    ScriptFixture f;
    ASSERT_TRUE(f.load("count = 0\nfunction bump() count = count + 1 end\nfunction no() return false end\n"));
    f.engine.eventsBlocked = 1;
    EXPECT_TRUE(runScriptFunction(nullptr, f.context(), "bump"));
    EXPECT_TRUE(testScriptFunction(f.context(), "no"));
    EXPECT_TRUE(runScriptFunction(nullptr, f.context(), "undefinedToo"));
    EXPECT_EQ(f.number("count"), 0);

    EXPECT_TRUE(postScriptEvent("bump"));
    luaL_dostring(f.state, "sendEvent('bump', 'x')");
    EXPECT_TRUE(f.context().queue.empty());
    EXPECT_TRUE(f.logged("SCRIPT: event [bump();] blocked: disabled by engine at this time"));
    EXPECT_TRUE(f.logged("SCRIPT: event [bump('x');] blocked: disabled by engine at this time"));

    EXPECT_TRUE(callScriptFunction(ScriptEventArgs("bump"), f.state));
    EXPECT_EQ(f.number("count"), 1);

    // Events accepted before the block still run.
    f.engine.eventsBlocked = 0;
    postScriptEvent("bump");
    f.engine.eventsBlocked = 1;
    f.context().processEvents();
    EXPECT_EQ(f.number("count"), 2);
}

TEST(ScriptCall, TracedErrorNamesSourceLineAndFunction) {
    ScriptFixture f;
    ASSERT_TRUE(f.load("function outer()\n  inner()\nend\nfunction inner()\n  error('boom')\nend\n"
                       "function arith()\n  local t = nil\n  return t.x\nend\nfunction viaArith() arith() end\n",
                       "package\\a.lua"));
    runScriptFunction(nullptr, f.context(), "outer");
    EXPECT_TRUE(f.logged("Lua [run outer()] Exception: package\\a.lua:5 inner> package\\a.lua:5: boom"));
    runScriptFunction(nullptr, f.context(), "viaArith");
    EXPECT_TRUE(f.logged("Lua [run viaArith()] Exception: package\\a.lua:9 arith> package\\a.lua:9: attempt to index local 't' (a nil value)"));

    // The traced text is cut to 2,047 characters and the error buffer to 511.
    ASSERT_TRUE(f.load("function long() error(string.rep('x', 3000)) end"));
    lua_getglobal(f.state, "long");
    lua_pushcfunction(f.state, traceScriptError);
    lua_insert(f.state, -2);
    ASSERT_NE(lua_pcall(f.state, 0, 0, -2), 0);
    EXPECT_EQ(std::string(lua_tostring(f.state, -1)).size(), 2047u);
    lua_settop(f.state, 0);
    runScriptFunction(nullptr, f.context(), "long");
    const std::string last = f.log().records().back().text;
    EXPECT_EQ(last.size(), std::string("Lua [run long()] Exception: ").size() + 511);
}

TEST(ScriptCall, MessageGlobalsWriteLiterallyUnderTheirFlags) {
    ScriptFixture f;
    luaL_dostring(f.state, "msg('a', 1, nil)");
    EXPECT_FALSE(f.logged("msg(): a1nil"));
    gameCore.debugFlags = DebugEnableScriptMsg | DebugEnableScriptLogMsg;
    luaL_dostring(f.state, "msg('a', 1, nil)\nmsg('100% %s %d')\nlog('x', 2)\ndbg('quiet')");
    const auto records = f.log().records();
    ASSERT_GE(records.size(), 3u);
    EXPECT_EQ(records[records.size() - 3].text, "msg(): a1nil");
    EXPECT_EQ(records[records.size() - 3].channel, static_cast<std::uint32_t>(LogScript));
    EXPECT_EQ(records[records.size() - 2].text, "msg(): 100% %s %d");
    EXPECT_EQ(records.back().text, "log():x2");
    EXPECT_EQ(records.back().channel, static_cast<std::uint32_t>(LogScriptOutput));
    EXPECT_FALSE(f.logged("quiet"));

    luaL_dostring(f.state, "local t = setmetatable({}, {__tostring = function() return {} end})\n"
                           "msg('before', t)\nsendEvent('h', t)");
    EXPECT_FALSE(f.logged("msg(): before"));
    EXPECT_TRUE(f.logged(" `tostring' must return a string to `msg'"));
    EXPECT_TRUE(f.logged(" `tostring' must return a string to `getEventArgs'"));
    // sendEvent posts what it collected before the failure.
    ASSERT_EQ(f.context().queue.size(), 1u);
    EXPECT_EQ(f.context().queue.front().count(), 1);
    EXPECT_STREQ(f.context().queue.front().name, "script event");
}

TEST(ScriptCall, CallFromLuaGivesTheErrorOrNothing) {
    ScriptFixture f;
    ASSERT_TRUE(f.load("function ok(a) last = a end\nfunction bad() error('no') end\n"
                       "r1 = call('ok', string.rep('y', 200))\n"
                       "r2 = call('bad')\n"
                       "r3 = call('missing')\n"
                       "r4 = select('#', call('ok', 'z'))\n"));
    EXPECT_EQ(f.global("last"), "z");
    EXPECT_EQ(f.global("r1"), "");
    EXPECT_EQ(f.global("r2"), "package\\test.lua:2 > package\\test.lua:2: no");
    EXPECT_EQ(f.global("r3"), "");
    EXPECT_EQ(f.number("r4"), 0);

    // Arguments reach the script cut to 127 characters.
    luaL_dostring(f.state, "call('ok', string.rep('y', 200))");
    EXPECT_EQ(f.global("last"), std::string(127, 'y'));
}

}  // namespace
