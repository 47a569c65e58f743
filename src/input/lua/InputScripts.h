// Registration of the script classes of the input core, its setup, cursor and virtual buttons.
#pragma once

struct lua_State;
class ScriptEngine;

// Registers "InputCore", "InputButtonValue" and the global "input".
void registerInputCoreClass(lua_State* state, ScriptEngine& engine);
// Registers "InputSetup".
void registerInputSetupClass(lua_State* state, ScriptEngine& engine);
// Registers "InputCursor".
void registerInputCursorClass(lua_State* state, ScriptEngine& engine);
// Registers "InputButton".
void registerInputButtonClass(lua_State* state, ScriptEngine& engine);
