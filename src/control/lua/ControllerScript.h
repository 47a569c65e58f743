// Registration of the script classes of model controllers.
#pragma once

struct lua_State;
class ScriptEngine;

// Registers "Controller".
void registerControllerClass(lua_State* state, ScriptEngine& engine);
