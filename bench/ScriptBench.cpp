// Script events: posted and run through the event queue into a trivial Lua
// handler, and immediate calls of it, each beside a bare protected call of
// the same handler with the same argument in the same run (PairedRun.h).
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <new>

#include "PairedRun.h"
#include <lua.hpp>
#include <luabind/error.hpp>

#include "app/GameCore.h"
#include "script/ScriptCall.h"
#include "script/ScriptEngine.h"

// Operator new counted while a project's batch runs: queued events must not
// allocate once the queue has grown (Lua's own allocator is not counted).
namespace {
bool countingNew = false;
long long newCalls = 0;
}  // namespace

// (GCC takes the replacements' own malloc and free for a mismatch.)
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif
void* operator new(std::size_t size) {
    if (countingNew) ++newCalls;
    if (void* p = std::malloc(size ? size : 1)) return p;
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif

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

// One batch: as many calls as the queue runs in one turn.
constexpr int kBatch = ScriptContext::kEventsPerCall;

void barePcalls(lua_State* state) {
    for (int i = 0; i < kBatch; ++i) {
        lua_getglobal(state, "onEvent");
        lua_pushstring(state, "value");
        lua_pcall(state, 1, 1, 0);
        lua_settop(state, 0);
    }
}

// Pairs kBatch calls of one script call (a callable returning its result)
// with as many bare calls.
template <class Call>
void pairWithBare(benchmark::State& run, Host& host, Call&& call) {
    bool ok = true;
    newCalls = 0;
    bench_pairs::runPaired(
        run,
        [&] {
            countingNew = true;
            for (int i = 0; i < kBatch; ++i) ok = call() && ok;
            countingNew = false;
        },
        [&] { barePcalls(host.state); }, kBatch);
    if (!ok) run.SkipWithError("call failed");
    run.SetItemsProcessed(run.iterations() * kBatch);
    run.counters["news_per_call"] = static_cast<double>(newCalls) / static_cast<double>(run.iterations() * kBatch);
}

// Each event is built, posted with its label and run by the queue (a turn
// of the queue runs kBatch events).
void BM_QueuedEventVsBarePcall(benchmark::State& run) {
    Host host;
    int posted = 0;
    pairWithBare(run, host, [&] {
        ScriptEventArgs args = ScriptEventArgs::fromTwoStrings("onEvent", "value");
        postScriptEventWithArgs(args, "bench.onEvent");
        if (++posted % kBatch == 0) host.engine.context->processEvents();
        return true;
    });
}
BENCHMARK(BM_QueuedEventVsBarePcall)->UseManualTime();

// Each call is built and made at once, with its label.
void BM_ImmediateCallVsBarePcall(benchmark::State& run) {
    Host host;
    pairWithBare(run, host, [&] {
        ScriptEventArgs args = ScriptEventArgs::fromTwoStrings("onEvent", "value");
        return callScriptFunctionWithArgs(args, "bench.onEvent", *host.engine.context);
    });
}
BENCHMARK(BM_ImmediateCallVsBarePcall)->UseManualTime();

// The call alone, on a block built once.
void BM_ImmediateCallBuiltVsBarePcall(benchmark::State& run) {
    Host host;
    ScriptEventArgs args = ScriptEventArgs::fromTwoStrings("onEvent", "value");
    args.setName("bench.onEvent");
    pairWithBare(run, host, [&] { return callScriptFunction(args, host.state); });
}
BENCHMARK(BM_ImmediateCallBuiltVsBarePcall)->UseManualTime();

// A run call by name with one argument, as the game's entry points are made.
void BM_RunFunctionVsBarePcall(benchmark::State& run) {
    Host host;
    pairWithBare(run, host, [&] { return runScriptFunction("value", *host.engine.context, "onEvent"); });
}
BENCHMARK(BM_RunFunctionVsBarePcall)->UseManualTime();

}  // namespace

BENCHMARK_MAIN();
