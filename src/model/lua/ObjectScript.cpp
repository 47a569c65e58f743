#include "model/lua/ObjectScript.h"

#include "script/ScriptBinding.h"

void registerObjectClass(lua_State* state, ScriptEngine&) {
    registerScriptPlaceholder(state, "Object", nullptr);
}
