// The timer script classes, driven from Lua with frames stepped by hand.
#include <gtest/gtest.h>

#include <string>

#include "foundation/DataStream.h"
#include "foundation/TimerCore.h"
#include "script/ScriptTestFixture.h"
#include "script/lua/TimerScript.h"

using testing_support::ScriptFixture;

namespace {

const ScriptClassRegistration kTimerClasses[] = {{"TimerCoreAPI, TimerAPI, Timer", &registerTimerClasses}};

// A script fixture with the global timer list installed in the game core.
struct TimerFixture {
    ~TimerFixture() {
        holder.core->deleteAll();
        script.engine.release();
        setTimerScriptHooks(TimerScriptHooks{});
    }
    TimerCore& timers() { return *holder.core; }
    void frames(int count, double gameStep, double realStep) {
        for (int i = 0; i < count; ++i) timers().update(gameStep, realStep);
    }

    TimerCoreHolder holder;
    ScriptFixture script{kTimerClasses, 1};
    testing_support::ScopedCoreMember<TimerCoreHolder> installed{gameCore.timers, &holder};
};

// Handlers that count their calls per timer name into the table "fired".
const char* const kHandlers =
    "fired = {}\n"
    "released = {}\n"
    "function act(t) fired[t:id() .. ''] = (fired[t:id() .. ''] or 0) + 1; last = t end\n"
    "function rel(t) released[#released + 1] = t:classof() end\n"
    "function count(name) for k, v in pairs(fired) do if k == name then return v end end return 0 end\n"
    "api = timersAPI:getGlobal()\n"
    "function make(name, period, loop)\n"
    "  local t = api:create(name, period)\n"
    "  t:setEvent(6, 'act'); t:setEvent(15, 'rel')\n"
    "  if loop then t.loop = true end\n"
    "  return t\n"
    "end\n";

}  // namespace

TEST(TimerScript, OneShotFiresOnceOverThreeFrames) {
    TimerFixture f;
    ASSERT_TRUE(f.script.load(kHandlers));
    ASSERT_TRUE(f.script.load("t = make('half', 0.5); id = t:id() .. ''\n"
                              "kinds = timersAPI:classof() .. api:classof() .. t:classof()\n"));
    EXPECT_EQ(f.script.global("kinds"), "TimerCoreAPITimerCoreTimer");
    f.frames(2, 0.2, 0.2);
    ASSERT_TRUE(f.script.load("r1 = fired[id] or 0; e = t.elapsed"));
    EXPECT_EQ(f.script.global("r1"), "0");
    EXPECT_NEAR(f.script.number("e"), 0.4, 1e-9);
    f.frames(1, 0.2, 0.2);
    ASSERT_TRUE(f.script.load("r2 = fired[id]; r3 = #released; r4 = api:count(); r5 = tostring(api:test('half'))"));
    EXPECT_EQ(f.script.global("r2"), "1");
    EXPECT_EQ(f.script.global("r3"), "1");
    EXPECT_EQ(f.script.global("r4"), "0");
    EXPECT_EQ(f.script.global("r5"), "false");
}

TEST(TimerScript, AFailingHandlerIsReportedWithLuasTextAfterTheMessage) {
    TimerFixture f;
    ASSERT_TRUE(f.script.load("function bad(t) error('no fuel') end\n"
                              "t = timersAPI:getGlobal():create('engine', 0.1); t:setEvent(6, 'bad')"));
    f.frames(1, 0.2, 0.2);
    EXPECT_TRUE(f.script.logged("Exception bad(TimerItem* [engine]): Unknown: "));
    EXPECT_TRUE(f.script.logged("no fuel"));
}

TEST(TimerScript, LoopingZeroPeriodAndDuplicateNames) {
    TimerFixture f;
    ASSERT_TRUE(f.script.load(kHandlers));
    ASSERT_TRUE(f.script.load("loop = make('loop', 0.1, true); loopId = loop:id() .. ''\n"
                              "zero = make('zero', 0); zeroId = zero:id() .. ''\n"
                              "dup = api:create('loop', 5)\n"
                              "r0 = tostring(dup) .. tostring(loop.loop) .. zero.period\n"));
    EXPECT_EQ(f.script.global("r0"), "niltrue1");
    EXPECT_TRUE(f.script.logged("Cannot create timer [loop]. This identifier already in use"));
    EXPECT_TRUE(f.script.logged("Try to launch infinite timer loop [zero] wrong period = 0.000000"));
    f.frames(1, 0.35, 0.35);
    ASSERT_TRUE(f.script.load("r1 = fired[loopId] .. ':' .. fired[zeroId] .. ':' .. api:count()\n"
                              "r2 = string.format('%.2f', loop.elapsed)\n"));
    EXPECT_EQ(f.script.global("r1"), "3:1:1");
    EXPECT_EQ(f.script.global("r2"), "0.05");
    f.frames(4, 0.1, 0.1);
    ASSERT_TRUE(f.script.load("r3 = fired[loopId]; get = api:get('loop'):id() .. ''; nothing = tostring(api:get('x'))"));
    EXPECT_EQ(f.script.global("r3"), "7");
    EXPECT_EQ(f.script.global("get"), f.script.global("loopId"));
    EXPECT_EQ(f.script.global("nothing"), "nil");
    EXPECT_TRUE(f.script.logged(" Cannot find timer [x]"));
}

TEST(TimerScript, HandlerThatStopsItsLoopingTimerEndsIt) {
    TimerFixture f;
    ASSERT_TRUE(f.script.load(kHandlers));
    ASSERT_TRUE(f.script.load("calls = 0\n"
                              "function selfstop(t) calls = calls + 1; t:stop() end\n"
                              "function selfdelete(t) refused = tostring(api:delete('s2')) end\n"
                              "local s = api:create('s', 0.1); s.loop = true; s:setEvent(6, 'selfstop')\n"
                              "local s2 = api:create('s2', 0.25); s2:setEvent(6, 'selfdelete')\n"));
    f.frames(1, 1.0, 1.0);
    ASSERT_TRUE(f.script.load("r = calls .. ':' .. api:count()"));
    EXPECT_EQ(f.script.global("r"), "1:0");
    EXPECT_EQ(f.script.global("refused"), "false");
    EXPECT_TRUE(f.script.logged("CAN'T delete inside self event handler [selfdelete]"));
}

TEST(TimerScript, SystemTimerRunsWhileTheGameIsPaused) {
    TimerFixture f;
    ASSERT_TRUE(f.script.load(kHandlers));
    ASSERT_TRUE(f.script.load("local s = api:create_system('sys', 0.3); s:setEvent(6, 'act'); sysId = s:id() .. ''\n"
                              "local g = make('game', 0.3); gameId = g:id() .. ''\n"));
    f.frames(4, 0.0, 0.1);  // the game clock stands, real time runs
    ASSERT_TRUE(f.script.load("r = (fired[sysId] or 0) .. ':' .. (fired[gameId] or 0)"));
    EXPECT_EQ(f.script.global("r"), "1:0");
}

TEST(TimerScript, DeletedTimersAndListsGiveNilOrAnErrorNeverACrash) {
    TimerFixture f;
    ASSERT_TRUE(f.script.load(kHandlers));
    ASSERT_TRUE(f.script.load("t = make('gone', 5)\n"
                              "r0 = tostring(api:delete('gone')) .. tostring(api:delete('gone'))\n"));
    EXPECT_EQ(f.script.global("r0"), "truetrue");  // stopped, still listed until the next update
    f.frames(1, 0.0, 0.0);
    ASSERT_TRUE(f.script.load("r1 = tostring(t.period) .. tostring(t.elapsed) .. tostring(t.loop)\n"
                              "ok, err = pcall(function() t:stop() end)\n"
                              "r2 = tostring(ok) .. ' ' .. tostring(err)\n"
                              "ok2 = pcall(function() t.loop = true end)\n"
                              "r3 = tostring(ok2) .. tostring(api:delete('gone'))\n"));
    EXPECT_EQ(f.script.global("r1"), "nilnilnil");
    EXPECT_NE(f.script.global("r2").find("false"), std::string::npos);
    EXPECT_NE(f.script.global("r2").find("[Timer] object no longer exists"), std::string::npos);
    EXPECT_EQ(f.script.global("r3"), "falsefalse");
    EXPECT_TRUE(f.script.logged(" Cannot delete timer [gone]. Timer with requested name not found"));

    // A whole list that goes away (a released scene's timers).
    {
        TimerCore sceneTimers;
        setSceneTimersProvider([]() -> TimerCore* { return nullptr; });
        ASSERT_TRUE(f.script.load("scene = timersAPI:get()"));
        EXPECT_EQ(f.script.global("scene"), "");
        EXPECT_TRUE(f.script.logged("Can't use scene timers: Create scene first"));
        static TimerCore* current = nullptr;
        current = &sceneTimers;
        setSceneTimersProvider([]() { return current; });
        ASSERT_TRUE(f.script.load("scene = timersAPI:get(); st = scene:create('s', 1)"));
        current = nullptr;
    }
    ASSERT_TRUE(f.script.load("r4 = tostring(scene.debug) .. tostring(st.period)\n"
                              "ok3 = pcall(function() return scene:count() end)\n"
                              "r5 = tostring(ok3)\n"));
    EXPECT_EQ(f.script.global("r4"), "nilnil");
    EXPECT_EQ(f.script.global("r5"), "false");
    setSceneTimersProvider(nullptr);
}

namespace {
TimerCore* gDoomed = nullptr;
int destroyTimers(lua_State*) {
    gDoomed->deleteAll();
    return 0;
}
}  // namespace

TEST(TimerScript, HandlerThatDestroysItsTimerAndFailsIsReportedSafely) {
    TimerFixture f;
    gDoomed = &f.timers();
    lua_register(f.script.state, "destroyTimers", &destroyTimers);
    ASSERT_TRUE(f.script.load("function boom(t) destroyTimers(); error('after the end') end\n"
                              "local t = timersAPI:getGlobal():create('doomed', 0.1)\n"
                              "t:setEvent(6, 'boom')\n"));
    f.frames(1, 0.2, 0.2);
    EXPECT_EQ(f.timers().count(), 0);
    EXPECT_TRUE(f.script.logged("Exception boom(TimerItem* [doomed]):"));
    gDoomed = nullptr;
}

TEST(TimerScript, SceneTimersNeedAScene) {
    TimerFixture f;
    ASSERT_TRUE(f.script.load("r = tostring(timersAPI:get()) .. tostring(timersAPI:getGlobal() ~= nil)"));
    EXPECT_EQ(f.script.global("r"), "niltrue");
    EXPECT_TRUE(f.script.logged("Can't get timers interface: Create scene first"));
    EXPECT_TRUE(f.script.logged("Can't use scene timers: Create scene first"));
}

TEST(TimerScript, SavedTimersKeepTheirHandlers) {
    TimerFixture f;
    ASSERT_TRUE(f.script.load(kHandlers));
    ASSERT_TRUE(f.script.load("local t = make('saved', 1.0, true); t:set(0.5)\n"
                              "api.debug = true; r0 = tostring(api.debug)\n"));
    EXPECT_EQ(f.script.global("r0"), "true");
    f.frames(1, 0.2, 0.2);
    MemoryStream stream;
    ASSERT_GT(f.timers().write(stream), 0);
    f.timers().deleteAll();
    EXPECT_TRUE(f.script.logged("Timer Core: All timers DELETED"));
    stream.setPosition(0);
    ASSERT_EQ(f.timers().read(stream), stream.size());
    f.frames(2, 0.2, 0.2);
    ASSERT_TRUE(f.script.load("local t = api:get('saved')\n"
                              "r1 = t:getEvent(6) .. t:getEvent(15) .. tostring(t.loop) .. t.period\n"
                              "r2 = count(t:id() .. '')\n"));
    EXPECT_EQ(f.script.global("r1"), "actreltrue0.5");
    EXPECT_EQ(f.script.global("r2"), "1");
}

// Handlers that make a new timer, or restart another one, with a period not
// longer than the frame step: each such timer fires at the next frame, once,
// never again in the pass that armed it.
TEST(TimerScript, TimersArmedByAHandlerWaitForTheNextFrame) {
    TimerFixture f;
    ASSERT_TRUE(f.script.load(kHandlers));
    ASSERT_TRUE(f.script.load("chain = 0\n"
                              "function again(t) chain = chain + 1; if chain < 50 then\n"
                              "  api:create('tick' .. chain, 0.05):setEvent(6, 'again') end end\n"
                              "api:create('tick0', 0.05):setEvent(6, 'again')\n"
                              "function rearm(t) other:set(0.05) end\n"
                              "api:create('first', 0.05):setEvent(6, 'rearm')\n"
                              "other = make('other', 10); otherId = other:id() .. ''\n"));
    const char* const expected[] = {"1:0", "2:1", "3:1"};
    for (const char* want : expected) {
        f.frames(1, 0.1, 0.1);
        ASSERT_TRUE(f.script.load("r = chain .. ':' .. count(otherId)"));
        EXPECT_EQ(f.script.global("r"), want);
    }
}
