#include "game/lua/GameScripts.h"

#include "script/ScriptBinding.h"

void registerScreenActionsClass(lua_State* state, ScriptEngine&) {
    registerScriptPlaceholder(state, "ScreenActions", "actions");
}
