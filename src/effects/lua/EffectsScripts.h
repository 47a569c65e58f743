// Registration of the script classes of particles, sprites and lights, and
// the script form of a light or sprite that the world hands out.
#pragma once

struct lua_State;
class GameObject;
class ScriptEngine;

namespace luabind::adl {
class object;
}

// Registers "Particle".
void registerParticleClass(lua_State* state, ScriptEngine& engine);
// Registers "Sprite".
void registerSpriteClass(lua_State* state, ScriptEngine& engine);
// Registers "Light".
void registerLightClass(lua_State* state, ScriptEngine& engine);

// The script object of a light or sprite (a handle that resolves through
// the object table at each call); nil for other objects.
luabind::adl::object effectScriptObject(lua_State* state, GameObject* object);
