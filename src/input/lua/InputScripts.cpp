#include "input/lua/InputScripts.h"

#include "script/ScriptBinding.h"

void registerInputCoreClass(lua_State* state, ScriptEngine&) {
    registerScriptPlaceholder(state, "InputCore", "input");
    registerScriptPlaceholder(state, "InputButtonValue", nullptr);
}

void registerInputSetupClass(lua_State* state, ScriptEngine&) {
    registerScriptPlaceholder(state, "InputSetup", nullptr);
}

void registerInputCursorClass(lua_State* state, ScriptEngine&) {
    registerScriptPlaceholder(state, "InputCursor", nullptr);
}

void registerInputButtonClass(lua_State* state, ScriptEngine&) {
    registerScriptPlaceholder(state, "InputButton", nullptr);
}
