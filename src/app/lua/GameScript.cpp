#include "app/lua/GameScript.h"

#include <string>

#include <lua.hpp>
#include <luabind/luabind.hpp>

#include "app/GameCore.h"
#include "app/SaveGame.h"
#include "script/ScriptBinding.h"
#include "script/ScriptEngine.h"

namespace {

// "Game": the game core's SaveGame, found again at every call.
struct GameHandle {};

SaveGame& game() { return requireScriptObject(gameCore.game, "Game"); }

const char* gameClassof(const GameHandle&) { return "Game"; }
bool gameLoad(const GameHandle&, const char* sceneName) { return game().loadSceneFromScript(sceneName); }
bool gameState(const GameHandle&) { return (game().flags & kSaveGameLoadSucceeded) != 0; }
bool gameOver(const GameHandle&) { return game().gameOver(); }
float gameProgress(const GameHandle&) { return game().progress; }

template <std::string SaveGame::*Field>
std::string getText(const GameHandle&) {
    return game().*Field;
}

template <std::string SaveGame::*Field>
void setText(const GameHandle&, const char* text) {
    game().*Field = text ? text : "";
}

}  // namespace

void registerGameScriptClass(lua_State* state, ScriptEngine& engine) {
    using namespace luabind;
    module(state)[(class_<GameHandle>("Game")
                       .def("classof", &gameClassof)
                       .def("load", &gameLoad)
                       .def("state", &gameState)
                       .def("gameOver", &gameOver)
                       .property("name", &getText<&SaveGame::name>)
                       .property("scene", &getText<&SaveGame::scene>)
                       .property("model", &getText<&SaveGame::model>)
                       .property("save_file", &getText<&SaveGame::save_file>)
                       .property("onProgress", &getText<&SaveGame::onProgress>, &setText<&SaveGame::onProgress>)
                       .property("onStartProgress", &getText<&SaveGame::onStartProgress>,
                                 &setText<&SaveGame::onStartProgress>)
                       .property("onFinishProgress", &getText<&SaveGame::onFinishProgress>,
                                 &setText<&SaveGame::onFinishProgress>)
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
