// A script engine installed in the game core over a bare Lua state: the
// engine's globals, the registration driver and the traced error handler,
// with chunks loaded straight from text.
#pragma once

#include <string>

#include <lua.hpp>
#include <luabind/error.hpp>

#include "app/GameCore.h"
#include "foundation/Log.h"
#include "script/ScriptCall.h"
#include "script/ScriptEngine.h"
#include "support/TestSupport.h"

namespace testing_support {

// A global of the state as text ("" for nil).
inline std::string luaGlobalText(lua_State* state, const char* name) {
    lua_getglobal(state, name);
    const char* text = lua_tostring(state, -1);
    std::string value = text ? text : "";
    lua_pop(state, 1);
    return value;
}

class ScriptFixture {
public:
    explicit ScriptFixture(const ScriptClassRegistration* table = nullptr, std::size_t count = 0) {
        engine.setClassRegistrations(table, count);
        state = luaL_newstate();
        engine.context->state = state;
        luaL_openlibs(state);
        registerScriptGlobals(state);
        registerScriptClasses(state, engine);
        luabind::set_pcall_callback(traceScriptError);
    }
    ~ScriptFixture() {
        engine.release();
    }
    ScriptFixture(const ScriptFixture&) = delete;
    ScriptFixture& operator=(const ScriptFixture&) = delete;

    // Loads and runs a chunk named "@<path>".
    bool load(const std::string& text, const char* path = "package\\test.lua") {
        LuaSource source;
        source.text.write(text.data(), static_cast<std::int32_t>(text.size()));
        return loadLuaChunk(source, state, path);
    }
    // A global of the state as text ("" for nil).
    std::string global(const char* name) { return luaGlobalText(state, name); }
    double number(const char* name) {
        lua_getglobal(state, name);
        const double value = lua_tonumber(state, -1);
        lua_pop(state, 1);
        return value;
    }
    Log& log() { return core.log(); }
    bool logged(const std::string& text) { return core.log().contains(text); }
    ScriptContext& context() { return *engine.context; }

    ScopedGameCore core;
    ScriptEngine engine;
    lua_State* state = nullptr;
    ScopedCoreMember<ScriptEngine> installed{gameCore.script, &engine};
};

}  // namespace testing_support
