#include "script/ScriptCall.h"

#include <cstdio>
#include <cstring>
#include <exception>
#include <string>

#include <lua.hpp>
#include <luabind/detail/pcall.hpp>

#include "app/GameCore.h"
#include "foundation/Log.h"
#include "script/ScriptEngine.h"

namespace {

constexpr std::size_t kErrorSize = 512;
constexpr std::size_t kTraceSize = 2048;

lua_State* engineState() {
    ScriptEngine* engine = gameCore.script;
    return engine && engine->context ? engine->context->state : nullptr;
}

// A context that was never opened (or was released) has no state to call on.
bool hasState(lua_State* state, const char* name) {
    if (state) return true;
    return engineLog().error("Can't call script function [%s]: script engine is not opened", name ? name : "NULL");
}

bool blocked(const ScriptContext& context) {
    const ScriptEngine* engine = context.owner ? context.owner : gameCore.script;
    return engine && engine->eventsBlocked != 0;
}

// Copies the error value on top of the stack into the call's error buffer.
// A value without text still counts as a failure.
void takeError(lua_State* state, char (&error)[kErrorSize]) {
    const char* text = lua_tostring(state, -1);
    copyScriptText(error, kErrorSize, text ? text : "(error object is not a string)");
}

// A function written in Lua: not one the engine registered (a C function),
// nor any other value.
bool isLuaFunction(lua_State* state, int index) {
    return lua_type(state, index) == LUA_TFUNCTION && !lua_iscfunction(state, index);
}

// Pushes the global function of that name from state, once it is checked on
// the engine's state (pushed and checked at one go when state is that one).
// False, logged and with nothing pushed, when the name is null, names no
// Lua function, or there is no state to call on.
bool pushScriptFunction(lua_State* state, const char* name) {
    if (!name || !state || state != engineState()) {
        if (!checkScriptFunction(name) || !hasState(state, name)) return false;
        lua_getglobal(state, name);
        return true;
    }
    lua_getglobal(state, name);
    if (isLuaFunction(state, -1)) return true;
    lua_pop(state, 1);
    return engineLog().error("Can't call undefined script function [%s]", name);
}

// Calls the function pushed above top with the other slots of the block as
// arguments; error receives the error text (empty on success). The stack is
// back at top afterwards.
void protectedCall(const ScriptEventArgs& args, lua_State* state, int top, char (&error)[kErrorSize]) {
    error[0] = 0;
    int status = 0;
    if (args.count() == 1) {
        status = luabind::detail::pcall(state, 0, 0);
    } else {
        for (std::int32_t i = 1; i < args.count(); ++i) lua_pushstring(state, args.slot(i));
        status = lua_pcall(state, args.count() - 1, 1, 0);
    }
    if (status != 0) takeError(state, error);
    lua_settop(state, top);
}

// The common path of callScriptFunction and the Lua global "call". failure
// receives the error text of a call that raised one.
bool callWithArgs(const ScriptEventArgs& args, lua_State* state, std::string* failure) {
    const int top = state ? lua_gettop(state) : 0;
    if (!pushScriptFunction(state, args.function())) return false;
    char error[kErrorSize];
    error[0] = 0;
    try {
        if (args.count() > 6) {
            lua_settop(state, top);
            engineLog().error("Invalid %s [%s]: Args count is to big", args.name, args.callText().c_str());
            return false;
        }
        protectedCall(args, state, top, error);
        if (error[0]) {
            engineLog().scriptError("Exception %s(%s): %s", args.name, args.callText().c_str(), error);
            if (failure) *failure = error;
            return false;
        }
    } catch (...) {
        lua_settop(state, top);
        engineLog().scriptError("Exception %s(%s)", args.name, args.callText().c_str());
        return false;
    }
    return true;
}

// tostring of argument i, protected; null when it gives no string. The text
// stays on the stack until popped by the caller.
const char* toText(lua_State* state, int index) {
    lua_getglobal(state, "tostring");
    lua_pushvalue(state, index);
    if (lua_pcall(state, 1, 1, 0) != 0) return nullptr;
    return lua_type(state, -1) == LUA_TSTRING ? lua_tostring(state, -1) : nullptr;
}

// Joins the prefix and the text of every argument; false (logged) when an
// argument's tostring gives no string.
bool joinArguments(lua_State* state, const char* prefix, const char* refusal, std::string& line) {
    const int count = lua_gettop(state);
    line = prefix;
    for (int i = 1; i <= count; ++i) {
        const char* text = toText(state, i);
        if (!text) {
            lua_settop(state, count);
            engineLog().scriptError("%s", refusal);
            return false;
        }
        line += text;
        lua_pop(state, 1);
    }
    return true;
}

int luaMsg(lua_State* state) {
    std::string line;
    if (joinArguments(state, "msg(): ", " `tostring' must return a string to `msg'", line) && (gameCore.debugFlags & DebugEnableScriptMsg))
        engineLog().scriptInfo("%s", line.c_str());
    return 0;
}

int luaLog(lua_State* state) {
    std::string line;
    if (joinArguments(state, "log():", " `tostring' must return a string to `log'", line) && (gameCore.debugFlags & DebugEnableScriptLogMsg))
        engineLog().scriptPrint("%s", line.c_str());
    return 0;
}

// Builds its line like msg and writes nothing.
int luaDbg(lua_State* state) {
    std::string line;
    joinArguments(state, "dbg(): ", " `tostring' must return a string to `dbg'", line);
    return 0;
}

int luaSendEvent(lua_State* state) {
    ScriptEventArgs args;
    getEventArgs(state, args);
    args.setName("script event");
    if (ScriptEngine* engine = gameCore.script; engine && engine->context)
        dispatchScriptEvent(*engine->context, args);
    return 0;
}

// No value when the call succeeded; the error text when the function raised
// an error; nil when it was not called at all.
int luaCall(lua_State* state) {
    ScriptEventArgs args;
    getEventArgs(state, args);
    args.setName("script call");
    std::string failure;
    if (callWithArgs(args, state, &failure)) return 0;
    if (failure.empty())
        lua_pushnil(state);
    else
        lua_pushstring(state, failure.c_str());
    return 1;
}

}  // namespace

bool scriptFunctionDefined(const char* name) {
    lua_State* state = engineState();
    if (!name || !state) return false;
    lua_getglobal(state, name);
    const bool written = isLuaFunction(state, -1);
    lua_pop(state, 1);
    return written;
}

bool checkScriptFunction(const char* name) {
    if (!name) return engineLog().error("Can't call NULL Lua function");
    if (!scriptFunctionDefined(name)) return engineLog().error("Can't call undefined script function [%s]", name);
    return true;
}

bool callScriptFunction(const ScriptEventArgs& args, lua_State* state) { return callWithArgs(args, state, nullptr); }

bool runScriptFunction(const char* argument, ScriptContext& context, const char* name) {
    if (blocked(context)) return true;
    lua_State* state = context.state;
    const int top = state ? lua_gettop(state) : 0;
    if (!pushScriptFunction(state, name)) return false;
    char error[kErrorSize];
    error[0] = 0;
    try {
        int status = 0;
        if (argument) {
            lua_pushstring(state, argument);
            status = lua_pcall(state, 1, 1, 0);
        } else {
            status = luabind::detail::pcall(state, 0, 0);
        }
        if (status != 0) takeError(state, error);
        lua_settop(state, top);
        if (error[0]) engineLog().scriptError("Lua [run %s()] Exception: %s", name, error);
    } catch (...) {
        lua_settop(state, top);
        engineLog().scriptError("Lua [run %s()] Exception", name);
    }
    return true;
}

bool testScriptFunction(ScriptContext& context, const char* name, const char* argument) {
    if (blocked(context)) return true;
    lua_State* state = context.state;
    const int top = state ? lua_gettop(state) : 0;
    if (!pushScriptFunction(state, name)) return false;
    char error[kErrorSize];
    error[0] = 0;
    bool result = false;
    try {
        if (argument) lua_pushstring(state, argument);
        if (lua_pcall(state, argument ? 1 : 0, 1, 0) != 0)
            takeError(state, error);
        else
            result = lua_toboolean(state, -1) != 0;
        lua_settop(state, top);
        // A test whose function failed has not passed, whatever its error value.
        if (error[0]) {
            engineLog().scriptError("Lua [test %s()]Exception: %s", name, error);
            result = false;
        }
    } catch (...) {
        lua_settop(state, top);
        engineLog().scriptError("Exception: Lua [test %s()]", name);
        result = false;
    }
    return result;
}

void dispatchScriptEvent(ScriptContext& context, const ScriptEventArgs& args) {
    if (blocked(context)) {
        engineLog().scriptError("SCRIPT: event [%s] blocked: disabled by engine at this time",
                                args.callText().c_str());
        return;
    }
    context.queue.push_back(args);
}

bool postScriptEvent(const char* handler) {
    if (!handler || !handler[0]) return true;
    if (ScriptEngine* engine = gameCore.script; engine && engine->context)
        dispatchScriptEvent(*engine->context, ScriptEventArgs(handler));
    return true;
}

bool postScriptEventWithArgs(ScriptEventArgs& args, const char* eventName) {
    args.setName(eventName);
    if (ScriptEngine* engine = gameCore.script; engine && engine->context)
        dispatchScriptEvent(*engine->context, args);
    return true;
}

bool callScriptFunctionWithArgs(ScriptEventArgs& args, const char* eventName, ScriptContext& context) {
    args.setName(eventName);
    return callScriptFunction(args, context.state);
}

void ScriptContext::processEvents() {
    for (int ran = 0; ran < kEventsPerCall && !queue.empty(); ++ran) {
        std::unique_ptr<ScriptEventArgs> event = queue.takeFront();
        std::uint32_t* flags = owner ? owner->delayedCallFlags : nullptr;
        const std::uint32_t before = flags ? *flags : 0;
        if (flags) *flags |= kDelayedCallFlag;
        callScriptFunction(*event, state);
        if (flags) *flags = (*flags & ~kDelayedCallFlag) | (before & kDelayedCallFlag);
        queue.recycle(std::move(event));
    }
}

bool getEventArgs(lua_State* state, ScriptEventArgs& args) {
    const int count = lua_gettop(state);
    for (int i = 1; i <= count; ++i) {
        const char* text = toText(state, i);
        if (!text) {
            lua_settop(state, count);
            return engineLog().scriptError(" `tostring' must return a string to `getEventArgs'");
        }
        args.append(text);
        lua_pop(state, 1);
    }
    return true;
}

int traceScriptError(lua_State* state) {
    lua_Debug info;
    std::memset(&info, 0, sizeof(info));
    if (!lua_getstack(state, 1, &info)) return 1;
    lua_getinfo(state, "Sln", &info);
    if (std::strcmp(info.what, "tail") == 0) return 1;
    if (std::strcmp(info.what, "Lua") != 0) {
        lua_Debug outer;
        std::memset(&outer, 0, sizeof(outer));
        if (lua_getstack(state, 2, &outer)) {
            lua_getinfo(state, "Sln", &outer);
            info = outer;
        }
    }
    const char* text = lua_tostring(state, -1);
    const std::string message = text ? text : "";
    lua_pop(state, 1);
    char traced[kTraceSize];
    std::snprintf(traced, sizeof(traced), "%s:%i %s> %s", info.short_src, info.currentline,
                  info.name ? info.name : "", message.c_str());
    lua_pushstring(state, traced);
    return 1;
}

void registerScriptGlobals(lua_State* state) {
    lua_register(state, "msg", luaMsg);
    lua_register(state, "dbg", luaDbg);
    lua_register(state, "log", luaLog);
    lua_register(state, "sendEvent", luaSendEvent);
    lua_register(state, "call", luaCall);
}
