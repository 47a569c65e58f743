// Registration of the script classes "World" and "Time".
#pragma once

struct lua_State;
class ScriptEngine;

// Registers "World" and "Time", sets the globals "onMouseOver" (0) and
// "world" (the engine's ScriptWorld, which outlives the Lua state).
void registerWorldAndTime(lua_State* state, ScriptEngine& engine);
