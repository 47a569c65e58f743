// Registration of the script classes "World" and "Time": the scripts' door
// to the game as a whole (the current scene's objects, sky and weather, the
// camera mode, the pause, leaving the game and the world's event table).
#pragma once

struct lua_State;
class ScriptEngine;

// Registers "World" and "Time", sets the globals "onMouseOver" (0) and
// "world" (the engine's ScriptWorld, which outlives the Lua state).
void registerWorldAndTime(lua_State* state, ScriptEngine& engine);
