// Registration of the script classes of the sound manager and sounds.
#pragma once

struct lua_State;
class ScriptEngine;

// Registers "SoundManager", "Sound" and the global "soundManager".
void registerSoundClasses(lua_State* state, ScriptEngine& engine);
