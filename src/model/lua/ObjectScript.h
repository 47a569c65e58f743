// Registration of the script class "Object", the scripts' side of a model.
#pragma once

struct lua_State;
class GameObject;
class ScriptEngine;

// Registers "Object".
void registerObjectClass(lua_State* state, ScriptEngine& engine);
// Pushes the script value of a model (its repository handle, resolved at
// every call) onto the Lua stack; false, nothing pushed, for an object
// that is no model.
bool pushObjectScript(lua_State* state, GameObject* object);
