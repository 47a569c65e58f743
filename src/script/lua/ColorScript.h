// Registration of the script classes of colours.
#pragma once

struct lua_State;
class ScriptEngine;

// Registers "Color".
void registerColorClass(lua_State* state, ScriptEngine& engine);
