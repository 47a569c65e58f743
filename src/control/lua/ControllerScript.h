// Registration of the script class "Controller", the scripts' side of a
// model's movement controller.
#pragma once

struct lua_State;
class ModelController;
class ScriptEngine;

// Registers "Controller".
void registerControllerClass(lua_State* state, ScriptEngine& engine);
// Pushes the script value of a controller (a weak reference that expires
// with the controller) onto the Lua stack; nil for none.
void pushControllerScript(lua_State* state, ModelController* controller);
