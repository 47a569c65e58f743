// Calling script functions by name and posting script events.
//
// The engine calls global Lua functions written in the scripts, either at
// once (run, test, call) or through the event queue of the ScriptContext,
// which runs them once a frame. Every call is protected: a Lua error is
// logged and never escapes into the engine. The error text of one call is
// kept to 511 characters; the error handler of calls without arguments adds
// the script position ("source:line function> message", at most 2,047).
#pragma once

#include <cstddef>

#include "script/ScriptEventArgs.h"

struct lua_State;
class ScriptContext;

// True when the global of that name is a function written in Lua.
bool checkScriptFunction(const char* name);
// The same test without a message: for entry points a script may leave out.
bool scriptFunctionDefined(const char* name);
// Calls slot 0 with the other slots as string arguments, now, on the state.
// False when the function is missing, the block has 7 or more slots or the
// call raised an error. Ignores eventsBlocked.
bool callScriptFunction(const ScriptEventArgs& args, lua_State* state);
// Runs a function with one string argument or none (argument null). False
// only when the function is missing; an error inside it is logged. While
// events are blocked: true, nothing runs.
bool runScriptFunction(const char* argument, ScriptContext& context, const char* name);
// Runs a function with one string argument or none (argument null) and
// gives the truth of its result. False when it is missing or raised an
// error. While events are blocked: true.
bool testScriptFunction(ScriptContext& context, const char* name, const char* argument = nullptr);
// Queues a copy of the block, or drops it with a message while blocked.
void dispatchScriptEvent(ScriptContext& context, const ScriptEventArgs& args);
// Queues an event whose only slot is the handler name (nothing for an empty
// one) on the engine's context. Always true.
bool postScriptEvent(const char* handler);
// Labels the block and queues it on the engine's context. Always true.
bool postScriptEventWithArgs(ScriptEventArgs& args, const char* eventName);
// Labels the block and calls it now on the context's state.
bool callScriptFunctionWithArgs(ScriptEventArgs& args, const char* eventName, ScriptContext& context);
// Appends every argument of the current Lua call as a slot (through tostring).
bool getEventArgs(lua_State* state, ScriptEventArgs& args);
// The error handler of protected calls: prefixes the script position.
int traceScriptError(lua_State* state);
// Registers msg, dbg, log, sendEvent and call into the globals table.
void registerScriptGlobals(lua_State* state);

// Bit of the save game's flag word set while a queued event runs.
constexpr unsigned kDelayedCallFlag = 0x2;
