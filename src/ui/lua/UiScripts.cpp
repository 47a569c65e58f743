#include "ui/lua/UiScripts.h"

#include "script/ScriptBinding.h"

void registerStillFrameClass(lua_State* state, ScriptEngine&) {
    registerScriptPlaceholder(state, "StillFrame", "stillframe");
    registerScriptPlaceholder(state, "Image", nullptr);
}

void registerUnicodeEditClass(lua_State* state, ScriptEngine&) {
    registerScriptPlaceholder(state, "UnicodeEdit", "unicode_edit");
}

void registerFrameClass(lua_State* state, ScriptEngine&) {
    registerScriptPlaceholder(state, "Frame", nullptr);
}
