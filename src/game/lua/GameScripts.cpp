#include "game/lua/GameScripts.h"

#include "script/ScriptBinding.h"

void registerScreenActionsClass(lua_State* state, ScriptEngine&) {
    registerScriptPlaceholder(state, "ScreenActions", "actions");
}

void registerDialogDataManagerClass(lua_State* state, ScriptEngine&) {
    registerScriptPlaceholder(state, "DialogDataManager", "dlg");
}

void registerDialogClass(lua_State* state, ScriptEngine&) {
    registerScriptPlaceholder(state, "Dialog", nullptr);
}
