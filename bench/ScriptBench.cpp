// Script events: posted and run through the event queue into a trivial Lua
// handler, beside a bare protected call of the same handler in the same run.
#include <benchmark/benchmark.h>

#include <lua.hpp>
#include <luabind/error.hpp>

#include "app/GameCore.h"
#include "script/ScriptCall.h"
#include "script/ScriptEngine.h"

namespace {

const char* const kHandler = "count = 0\nfunction onEvent(a) count = count + 1 end\n";

// A script engine in the game core over a bare state holding the handler.
struct Host {
    Host() {
        saved = gameCore.script;
        gameCore.script = &engine;
        state = luaL_newstate();
        engine.context->state = state;
        luaL_openlibs(state);
        registerScriptGlobals(state);
        luabind::set_pcall_callback(traceScriptError);
        luaL_dostring(state, kHandler);
    }
    ~Host() {
        engine.release();
        gameCore.script = saved;
    }
    ScriptEngine engine;
    lua_State* state = nullptr;
    ScriptEngine* saved = nullptr;
};

void BM_PostAndProcessEvents(benchmark::State& run) {
    Host host;
    for (auto _ : run) {
        for (int i = 0; i < ScriptContext::kEventsPerCall; ++i) {
            ScriptEventArgs args = ScriptEventArgs::fromTwoStrings("onEvent", "value");
            postScriptEventWithArgs(args, "bench.onEvent");
        }
        host.engine.context->processEvents();
    }
    run.SetItemsProcessed(run.iterations() * ScriptContext::kEventsPerCall);
}
BENCHMARK(BM_PostAndProcessEvents);

void BM_BarePcall(benchmark::State& run) {
    Host host;
    lua_State* state = host.state;
    for (auto _ : run) {
        for (int i = 0; i < ScriptContext::kEventsPerCall; ++i) {
            lua_getglobal(state, "onEvent");
            lua_pushstring(state, "value");
            lua_pcall(state, 1, 1, 0);
            lua_settop(state, 0);
        }
    }
    run.SetItemsProcessed(run.iterations() * ScriptContext::kEventsPerCall);
}
BENCHMARK(BM_BarePcall);

}  // namespace

BENCHMARK_MAIN();
