#include "script/lua/TimerScript.h"

#include <string>

#include <lua.hpp>
#include <luabind/luabind.hpp>

#include "app/GameCore.h"
#include "foundation/Log.h"
#include "foundation/TimerCore.h"
#include "script/ScriptBinding.h"
#include "script/ScriptCall.h"
#include "script/ScriptEngine.h"

namespace {

TimerCore* (*gSceneTimers)() = nullptr;

// "Timer": a weak reference to a TimerItem.
struct TimerHandle {
    ScriptRef<TimerItem> ref;
    lua_State* state = nullptr;
    TimerItem& timer() const { return ref.require("Timer"); }
};

// "TimerAPI": a weak reference to a TimerCore.
struct TimerListHandle {
    ScriptRef<TimerCore> ref;
    lua_State* state = nullptr;
    TimerCore& timers() const { return ref.require("TimerAPI"); }
};

// "TimerCoreAPI": stateless apart from the state it hands objects out on.
struct TimerCoreAPI {
    lua_State* state = nullptr;
};

luabind::object wrapTimer(lua_State* state, TimerItem* timer) {
    if (!timer) return luabind::object();
    return luabind::object(state, TimerHandle{ScriptRef<TimerItem>(timer->lifeToken()), state});
}

luabind::object wrapList(lua_State* state, TimerCore* timers) {
    if (!timers) return luabind::object();
    return luabind::object(state, TimerListHandle{ScriptRef<TimerCore>(timers->lifeToken()), state});
}

const char* coreApiClassof(const TimerCoreAPI&) { return "TimerCoreAPI"; }

luabind::object coreApiGet(const TimerCoreAPI& api) {
    TimerCore* timers = gSceneTimers ? gSceneTimers() : nullptr;
    if (!timers) {
        if (!gSceneTimers) engineLog().error("Can't get timers interface: Create scene first");
        engineLog().scriptError("Can't use scene timers: Create scene first");
        return luabind::object();
    }
    return wrapList(api.state, timers);
}

luabind::object coreApiGetGlobal(const TimerCoreAPI& api) {
    TimerCoreHolder* holder = gameCore.timers;
    return wrapList(api.state, holder ? holder->core.get() : nullptr);
}

const char* listClassof(const TimerListHandle&) { return "TimerCore"; }
luabind::object listGetDebug(const TimerListHandle& h) {
    TimerCore* timers = h.ref.get();
    return timers ? luabind::object(h.state, timers->debug) : luabind::object();
}
void listSetDebug(const TimerListHandle& h, bool on) { h.timers().debug = on; }
luabind::object listCreate(const TimerListHandle& h, const char* name, double period) {
    return wrapTimer(h.state, h.timers().create(name, period));
}
luabind::object listCreateSystem(const TimerListHandle& h, const char* name, double period) {
    return wrapTimer(h.state, h.timers().createSystem(name, period));
}
luabind::object listGet(const TimerListHandle& h, const char* name) {
    return wrapTimer(h.state, h.timers().get(name));
}
bool listTest(const TimerListHandle& h, const char* name) { return h.timers().test(name); }
bool listDelete(const TimerListHandle& h, const char* name) { return h.timers().remove(name); }
int listCount(const TimerListHandle& h) { return h.timers().count(); }

const char* timerClassof(const TimerHandle&) { return "Timer"; }
// Properties of a destroyed timer read nil.
luabind::object timerGetElapsed(const TimerHandle& h) {
    TimerItem* t = h.ref.get();
    return t ? luabind::object(h.state, t->elapsed()) : luabind::object();
}
luabind::object timerGetPeriod(const TimerHandle& h) {
    TimerItem* t = h.ref.get();
    return t ? luabind::object(h.state, t->period()) : luabind::object();
}
luabind::object timerGetLoop(const TimerHandle& h) {
    TimerItem* t = h.ref.get();
    return t ? luabind::object(h.state, t->loop()) : luabind::object();
}
void timerSetLoop(const TimerHandle& h, bool on) { h.timer().setLoop(on); }
bool timerSetEvent(const TimerHandle& h, int event, const char* function) {
    return h.timer().setEvent(event, function);
}
std::string timerGetEvent(const TimerHandle& h, int event) { return h.timer().getEvent(event); }
void timerStop(const TimerHandle& h) { h.timer().stop(); }
void timerSet(const TimerHandle& h, double period) { h.timer().set(period); }
double timerId(const TimerHandle& h) { return h.timer().id(); }

// Calls a timer's script function with the timer as its only argument.
void raiseTimerEvent(TimerItem& timer, const char* function) {
    ScriptEngine* engine = gameCore.script;
    if (!engine || !engine->context || !engine->context->state) return;
    if (engine->eventsBlocked) return;
    if (!checkScriptFunction(function)) return;
    lua_State* state = engine->context->state;
    const int top = lua_gettop(state);
    // The handler may destroy the timer (a game over, a released scene): the
    // messages after it use copies.
    const std::string name = timer.name();
    const std::string handler = function;
    try {
        lua_getglobal(state, handler.c_str());
        wrapTimer(state, &timer).push(state);
        if (lua_pcall(state, 1, 0, 0) != 0) {
            // Lua's own text follows the message.
            const char* text = lua_tostring(state, -1);
            engineLog().scriptError("Exception %s(%s* [%s]): Unknown: %s", handler.c_str(), "TimerItem",
                                    name.c_str(), text ? text : "");
        }
    } catch (...) {
        engineLog().scriptError("Exception %s(%s* [%s]): Unknown", handler.c_str(), "TimerItem", name.c_str());
    }
    lua_settop(state, top);
}

void logScriptCallPosition() {
    if (gameCore.script) gameCore.script->logCallPosition();
}

}  // namespace

void setSceneTimersProvider(TimerCore* (*provider)()) { gSceneTimers = provider; }

void registerTimerClasses(lua_State* state, ScriptEngine&) {
    using namespace luabind;
    module(state)[(class_<TimerCoreAPI>("TimerCoreAPI")
                       .def("classof", &coreApiClassof)
                       .def("get", &coreApiGet)
                       .def("getGlobal", &coreApiGetGlobal),
                   class_<TimerListHandle>("TimerAPI")
                       .property("debug", &listGetDebug, &listSetDebug)
                       .def("classof", &listClassof)
                       .def("create", &listCreate)
                       .def("create_system", &listCreateSystem)
                       .def("get", &listGet)
                       .def("test", &listTest)
                       .def("delete", &listDelete)
                       .def("count", &listCount),
                   class_<TimerHandle>("Timer")
                       .def("classof", &timerClassof)
                       .property("elapsed", &timerGetElapsed)
                       .property("period", &timerGetPeriod)
                       .property("loop", &timerGetLoop, &timerSetLoop)
                       .def("setEvent", &timerSetEvent)
                       .def("getEvent", &timerGetEvent)
                       .def("stop", &timerStop)
                       .def("set", &timerSet)
                       .def("id", &timerId))];
    globals(state)["timersAPI"] = TimerCoreAPI{state};

    TimerScriptHooks hooks;
    hooks.raise = &raiseTimerEvent;
    hooks.logCallPosition = &logScriptCallPosition;
    setTimerScriptHooks(hooks);
}

