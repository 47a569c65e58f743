#include "control/lua/ControllerScript.h"

#include "script/ScriptBinding.h"

void registerControllerClass(lua_State* state, ScriptEngine&) {
    registerScriptPlaceholder(state, "Controller", nullptr);
}
