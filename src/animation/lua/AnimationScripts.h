// Registration of the script classes of the animation and lip-sync track lists.
#pragma once

struct lua_State;
class ScriptEngine;

// Registers "Animations" and the global "animations".
void registerAnimationsClass(lua_State* state, ScriptEngine& engine);
// Registers "Morph" and the global "morphs".
void registerMorphClass(lua_State* state, ScriptEngine& engine);
