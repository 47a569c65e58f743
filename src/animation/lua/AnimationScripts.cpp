#include "animation/lua/AnimationScripts.h"

#include "script/ScriptBinding.h"

void registerAnimationsClass(lua_State* state, ScriptEngine&) {
    registerScriptPlaceholder(state, "Animations", "animations");
}

void registerMorphClass(lua_State* state, ScriptEngine&) {
    registerScriptPlaceholder(state, "Morph", "morphs");
}
