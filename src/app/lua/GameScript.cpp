
#include <cstring>
#include <string>

#include <lua.hpp>
#include <luabind/luabind.hpp>

#include "app/GameCore.h"
#include "app/SaveGame.h"
#include "app/SaveGameLocal.h"
#include "foundation/IniFile.h"
#include "foundation/Log.h"
#include "script/ScriptBinding.h"
#include "script/ScriptEngine.h"
#include "script/lua/VariableScript.h"

namespace {

// "Game": the game core's SaveGame, found again at every call.
struct GameHandle {};

SaveGame& game() { return requireScriptObject(gameCore.game, "Game"); }

// Static: Game.classof() and game:classof() both give "Game".
const char* gameClassof() { return "Game"; }
const char* gameInstanceClassof(const GameHandle&) { return gameClassof(); }
bool gameLoad(const GameHandle&, const char* sceneName) { return game().loadSceneFromScript(sceneName); }
bool gameState(const GameHandle&) { return (game().flags & kSaveGameLoadSucceeded) != 0; }
bool gameOver(const GameHandle&) { return game().gameOver(); }
float gameProgress(const GameHandle&) { return game().progress; }

// A "Variable" argument's node, or null for any other value.
ScriptVariable* variableOf(const luabind::object& value) {
    lua_State* state = value.interpreter();
    if (!state) return nullptr;
    value.push(state);
    ScriptVariable* node = scriptVariableAt(state, -1);
    lua_pop(state, 1);
    return node;
}

bool gameRefresh(const GameHandle&, const luabind::object&) { return true; }
bool gameCamera(const GameHandle&, const char* command) {
    return gameCore.scene_cameraStackText(command ? command : "", nullptr);
}
void gameRestore(const GameHandle&, const char* nameOrPath) { game().restore(nameOrPath); }
bool gameSave(const GameHandle&, const char* slot) { return game().saveToFile(slot, nullptr); }
bool gameSaveNamed(const GameHandle&, const char* slot, const luabind::object& name) {
    return game().saveToFile(slot, variableOf(name));
}
bool gameBuildScreenShot(const GameHandle&) { return game().buildScreenShot(); }
bool gameDelete(const GameHandle&, const char* slot) { return game().deleteSave(slot); }
// The input core keeps no character-state flag apart from the game mode.
bool gameIsGameMode(const GameHandle&) { return true; }
bool gameDirBuild(const GameHandle&) { return game().buildSlotList(); }
int gameDirCount(const GameHandle&) { return game().slotCount(); }
std::string gameDirName(const GameHandle&, int index) { return game().slotName(index); }
bool gameDirMap(const GameHandle&, int index, int textureSlot) { return game().slotMap(index, textureSlot); }
bool gameDirDate(const GameHandle&, int index, const luabind::object& variable) {
    return game().slotDate(index, variableOf(variable));
}
bool gameDirId(const GameHandle&, int index, const luabind::object& variable) {
    return game().slotId(index, variableOf(variable));
}
bool gameDirTime(const GameHandle&, int index, const luabind::object& variable) {
    return game().slotTime(index, variableOf(variable));
}
luabind::object gameFirstQuest(const GameHandle&, lua_State* state) {
    SaveGame& g = game();
    return g.hasStartQuest ? luabind::object(state, g.startQuest) : luabind::object();
}
std::string gameIniVar(const GameHandle&, const char* key, const char* defaultValue) {
    const std::string fallback = defaultValue ? defaultValue : "";
    if (!gameCore.settings) return fallback;
    std::string value;
    gameCore.settings->getCategory("script").getVariable(key ? key : "").getString(value, fallback.c_str());
    return value;
}
std::string gameReadToolsVar(const GameHandle&, const char* section, const char* key, const char* defaultValue) {
    return game().readToolsVar(section, key, defaultValue);
}
bool gameWriteToolsVar(const GameHandle&, const char* section, const char* key, const char* value) {
    return game().writeToolsVar(section, key, value);
}

template <std::string SaveGame::*Field>
std::string getText(const GameHandle&) {
    return game().*Field;
}

template <std::string SaveGame::*Field>
void setText(const GameHandle&, const char* text) {
    game().*Field = text ? text : "";
}

// A handler the save game block holds: one longer than the block reads back
// is refused and the old one kept.
template <std::string SaveGame::*Field>
void setSavedText(const GameHandle&, const char* text) {
    const std::size_t length = text ? std::strlen(text) : 0;
    if (length > save_local::kMaxSavedText) {
        engineLog().scriptError("Can't set game event handler: name of %zu characters, at most %zu", length,
                                save_local::kMaxSavedText);
        return;
    }
    game().*Field = text ? text : "";
}

}  // namespace

void SaveGame::registerLua(lua_State* state, ScriptEngine& engine) {
    using namespace luabind;
    module(state)[(class_<GameHandle>("Game")
                       .def("classof", &gameInstanceClassof)
                       .scope[def("classof", &gameClassof)]
                       .def("refresh", &gameRefresh)
                       .def("camera", &gameCamera)
                       .def("load", &gameLoad)
                       .def("restore", &gameRestore)
                       .def("state", &gameState)
                       .def("save", &gameSave)
                       .def("save", &gameSaveNamed)
                       .def("buildScreenShot", &gameBuildScreenShot)
                       .def("delete", &gameDelete)
                       .def("gameOver", &::gameOver)
                       .def("isGameMode", &gameIsGameMode)
                       .def("dir_build", &gameDirBuild)
                       .def("dir_count", &gameDirCount)
                       .def("dir_name", &gameDirName)
                       .def("dir_map", &gameDirMap)
                       .def("dir_date", &gameDirDate)
                       .def("dir_id", &gameDirId)
                       .def("dir_time", &gameDirTime)
                       .def("first_quest", &gameFirstQuest)
                       .def("get_ini_var", &gameIniVar)
                       .def("read_tools_var", &gameReadToolsVar)
                       .def("write_tools_var", &gameWriteToolsVar)
                       .property("name", &getText<&SaveGame::name>)
                       .property("scene", &getText<&SaveGame::scene>)
                       .property("model", &getText<&SaveGame::model>)
                       .property("save_file", &getText<&SaveGame::save_file>)
                       .property("onProgress", &getText<&SaveGame::onProgress>, &setSavedText<&SaveGame::onProgress>)
                       .property("onStartProgress", &getText<&SaveGame::onStartProgress>,
                                 &setSavedText<&SaveGame::onStartProgress>)
                       .property("onFinishProgress", &getText<&SaveGame::onFinishProgress>,
                                 &setSavedText<&SaveGame::onFinishProgress>)
                       .property("onStartReload", &getText<&SaveGame::onStartReload>,
                                 &setText<&SaveGame::onStartReload>)
                       .property("onFinishReload", &getText<&SaveGame::onFinishReload>,
                                 &setText<&SaveGame::onFinishReload>)
                       .property("onInitialize", &getText<&SaveGame::onInitialize>,
                                 &setText<&SaveGame::onInitialize>)
                       .property("progress", &gameProgress))];
    globals(state)["game"] = GameHandle{};
    // Posted events set the load-allowed bit of the save game while they run.
    if (gameCore.game) engine.delayedCallFlags = &gameCore.game->flags;
}
