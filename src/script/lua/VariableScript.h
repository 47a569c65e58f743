// Registration of the script class "Variable" and the variable globals.
#pragma once

struct lua_State;
class ScriptEngine;
class ScriptVariable;

// Registers "Variable" and sets the globals "globals" and "locales" (the
// roots of the two trees of gameCore's VariablesCore, nil without them) and
// "locales_temp1".."locales_tempN" (fresh empty scratch trees, N from the
// "temp_vars_count" setting). Script objects refer to nodes weakly: once a
// node is destroyed its properties read nil and its methods raise an error.
void registerVariableClass(lua_State* state, ScriptEngine& engine);

// The node that the value at a stack index of the state refers to when it is
// a "Variable" script object; null for any other value or a node gone.
ScriptVariable* scriptVariableAt(lua_State* state, int index);
