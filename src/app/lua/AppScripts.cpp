#include "app/lua/AppScripts.h"

#include "app/lua/GameSetupScript.h"
#include "script/ScriptBinding.h"

void registerGameClass(lua_State* state, ScriptEngine&) {
    registerScriptPlaceholder(state, "Game", "game");
}

void registerGameSetupClass(lua_State* state, ScriptEngine& engine) {
    registerGameSetupScriptClass(state, engine);
}
