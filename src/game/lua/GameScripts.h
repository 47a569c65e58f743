// Registration of the script classes of screen actions, dialogs and quests.
#pragma once

struct lua_State;
class ScriptEngine;

// Registers "ScreenActions" and the global "actions".
void registerScreenActionsClass(lua_State* state, ScriptEngine& engine);
// Registers "DialogDataManager" and the global "dlg".
void registerDialogDataManagerClass(lua_State* state, ScriptEngine& engine);
// Registers "Dialog".
void registerDialogClass(lua_State* state, ScriptEngine& engine);
// Registers "Quest" and the global "quest".
void registerQuestClass(lua_State* state, ScriptEngine& engine);
