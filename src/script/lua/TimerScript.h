// Registration of the script classes of the timers.
#pragma once

struct lua_State;
class ScriptEngine;
class TimerCore;

// Registers "TimerCoreAPI", "TimerAPI", "Timer" and the global "timersAPI",
// and installs the hooks through which timers call their script functions
// on the engine's state. Timer and timer-list objects refer to theirs
// weakly: once one is destroyed, properties read nil and methods raise an
// error.
void registerTimerClasses(lua_State* state, ScriptEngine& engine);

// The timer list of the current scene, for "timersAPI:get()"; it returns
// null when there is no scene. Installed by the scene services.
void setSceneTimersProvider(TimerCore* (*provider)());
