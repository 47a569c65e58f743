// Registration of the script classes of models.
#pragma once

struct lua_State;
class ScriptEngine;

// Registers "Object".
void registerObjectClass(lua_State* state, ScriptEngine& engine);
