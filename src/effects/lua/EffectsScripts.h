// Registration of the script classes of particles, sprites and lights.
#pragma once

struct lua_State;
class ScriptEngine;

// Registers "Particle".
void registerParticleClass(lua_State* state, ScriptEngine& engine);
// Registers "Sprite".
void registerSpriteClass(lua_State* state, ScriptEngine& engine);
// Registers "Light".
void registerLightClass(lua_State* state, ScriptEngine& engine);
