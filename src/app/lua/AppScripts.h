// Registration of the script classes of the game and its setup.
#pragma once

struct lua_State;
class ScriptEngine;

// Registers "Game" and the global "game".
void registerGameClass(lua_State* state, ScriptEngine& engine);
// Registers "GameSetup" and the global "setup".
void registerGameSetupClass(lua_State* state, ScriptEngine& engine);
