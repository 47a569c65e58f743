#include "sound/lua/SoundScript.h"

#include "script/ScriptBinding.h"

void registerSoundClasses(lua_State* state, ScriptEngine&) {
    registerScriptPlaceholder(state, "SoundManager", "soundManager");
    registerScriptPlaceholder(state, "Sound", nullptr);
}
