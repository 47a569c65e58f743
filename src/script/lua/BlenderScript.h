// Registration of the script classes of blend envelopes.
#pragma once

struct lua_State;
class ScriptEngine;

// Registers "Blender".
void registerBlenderClass(lua_State* state, ScriptEngine& engine);
