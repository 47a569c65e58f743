// Registration of the script classes of still frames, their images and items, and the Unicode input box.
#pragma once

struct lua_State;
class ScriptEngine;
class StillFrameData;
class StillFrameScriptDataItem;

// Where "stillframe" finds the still frames at each call (the render
// core's); without a provider its methods raise a script error.
void setStillFrameDataProvider(StillFrameData* (*provider)());

// Registers "Image" (a still-frame item: its fields as properties, its
// media, particle, links, events, modes and scrolling as methods), then
// "StillFrame" and the global "stillframe" (create, get, test, delete and
// count items), and installs the builder of screens from script-variable
// tables ("image_Create", "image_Replace") over the same still frames.
// "color" and "shadow_color" are the item's own colours as "Color" objects
// (a Lua error once the item is deleted); assigning a "Color" copies it.
void registerStillFrameClass(lua_State* state, ScriptEngine& engine);
// Calls the global Lua function with the item as an "Image"; false when
// the function is missing or raised an error (logged).
bool callImageHandler(lua_State* state, const char* function, StillFrameScriptDataItem* item);
// Registers "UnicodeEdit" and the global "unicode_edit" (the render core's
// input box: "edit" (Image, Variable, start empty), "apply", "cancel" and the
// properties "onFinish", "onValidateText", "font", "enabled", "max_length").
void registerUnicodeEditClass(lua_State* state, ScriptEngine& engine);
void registerUnicodeEditScript(lua_State* state);
// The item that the value at a stack index refers to when it is an "Image"
// script object; null for any other value or an item gone.
StillFrameScriptDataItem* stillFrameItemAt(lua_State* state, int index);
// Registers "Frame": the texture window of an item's image or mask ("x",
// "y", "dx", "dy") and its scroll speeds ("sx", "sy", "sdx", "sdy").
void registerFrameClass(lua_State* state, ScriptEngine& engine);
