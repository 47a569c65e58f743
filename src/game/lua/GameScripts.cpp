#include "game/lua/GameScripts.h"

#include "script/ScriptBinding.h"

void registerDialogDataManagerClass(lua_State* state, ScriptEngine&) {
    registerScriptPlaceholder(state, "DialogDataManager", "dlg");
}

void registerDialogClass(lua_State* state, ScriptEngine&) {
    registerScriptPlaceholder(state, "Dialog", nullptr);
}
