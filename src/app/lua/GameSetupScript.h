// Registration of the script class "GameSetup": the options menu's view of
// the edited copy of the player's setup.
#pragma once

struct lua_State;
class ScriptEngine;

// Registers "GameSetup" with its SETUP_SHADOWS values and the global "setup".
void registerGameSetupScriptClass(lua_State* state, ScriptEngine& engine);
