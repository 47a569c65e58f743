#include "scene/lua/TriggerScript.h"

#include "script/ScriptBinding.h"

void registerTriggerClass(lua_State* state, ScriptEngine&) {
    registerScriptPlaceholder(state, "Trigger", "trigger");
}
