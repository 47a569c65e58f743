#include "effects/lua/EffectsScripts.h"

#include "script/ScriptBinding.h"

void registerParticleClass(lua_State* state, ScriptEngine&) {
    registerScriptPlaceholder(state, "Particle", nullptr);
}

void registerSpriteClass(lua_State* state, ScriptEngine&) {
    registerScriptPlaceholder(state, "Sprite", nullptr);
}

void registerLightClass(lua_State* state, ScriptEngine&) {
    registerScriptPlaceholder(state, "Light", nullptr);
}
