// Registration of the script classes of still frames, their images and items, and the Unicode input box.
#pragma once

struct lua_State;
class ScriptEngine;

// Registers "StillFrame", "Image" and the global "stillframe".
void registerStillFrameClass(lua_State* state, ScriptEngine& engine);
// Registers "UnicodeEdit" and the global "unicode_edit".
void registerUnicodeEditClass(lua_State* state, ScriptEngine& engine);
// Registers "Frame".
void registerFrameClass(lua_State* state, ScriptEngine& engine);
