// Registration of the script classes of triggers.
#pragma once

struct lua_State;
class ScriptEngine;

// Registers "Trigger" and the global "trigger".
void registerTriggerClass(lua_State* state, ScriptEngine& engine);
