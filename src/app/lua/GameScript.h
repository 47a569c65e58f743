// Registration of the script class "Game", the scripts' door to the game's
// scenes and loading state (the game core's SaveGame).
#pragma once

struct lua_State;
class ScriptEngine;

// Registers "Game" and the global "game", and lets the engine's posted
// events open the save game's load window.
void registerGameScriptClass(lua_State* state, ScriptEngine& engine);
