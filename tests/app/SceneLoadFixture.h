// A game core with what a scene load needs: the object repository, the
// clocks, the sound core (not started), a save game and a script engine whose
// Lua state knows the classes "World", "Time" and "Game".
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "app/GameCore.h"
#include "app/SaveGame.h"
#include "app/lua/WorldScript.h"
#include "effects/LightSetLibrary.h"
#include "effects/SkyDataManager.h"
#include "effects/Sprite.h"
#include "foundation/IniFile.h"
#include "foundation/TimeCore.h"
#include "render/RenderSettings.h"
#include "scene/ObjectRepository.h"
#include "scene/SceneDataManager.h"
#include "script/ScriptTestFixture.h"
#include "sound/SoundCore.h"

namespace testing_support {

class SceneLoadFixture {
    // The record as the fixture found it, taken before anything changes it.
    GameCore saved_;
    LoadingProgress* savedProgress_;
    RenderSettings savedRender_ = renderSettings;
    SceneDataManager* savedSceneData_;

public:
    // make gives the save game (a plain one when empty); it runs after the
    // record is saved, since a save game installs itself when it is made.
    explicit SceneLoadFixture(std::function<std::unique_ptr<SaveGame>()> make = nullptr)
        : saved_(gameCore), savedProgress_(loadingProgress()), savedSceneData_(sceneDataManager()) {
        gameCore.objects = &objects;
        gameCore.clocks = &clocks;
        gameCore.sound = &sound;
        gameCore.settings = &settings;
        gameCore.lightSets = &lightSets;
        gameCore.skyData = &skies;
        gameCore.spriteData = &sprites;
        game = make ? make() : std::make_unique<SaveGame>();
        gameCore.game = game.get();
        registerWorldAndTime(lua.state, lua.engine);
        SaveGame::registerLua(lua.state, lua.engine);
        clocks.realTime.step(1.0);  // the loading clock runs from here on
    }
    ~SceneLoadFixture() {
        game->releaseScenes();
        game.reset();
        // The members the game's own start made stay untouched.
        gameCore.game = saved_.game;
        gameCore.settings = saved_.settings;
        gameCore.lightSets = saved_.lightSets;
        gameCore.skyData = saved_.skyData;
        gameCore.spriteData = saved_.spriteData;
        gameCore.sound = saved_.sound;
        gameCore.clocks = saved_.clocks;
        gameCore.objects = saved_.objects;
        gameCore.script = saved_.script;
        gameCore.flags = saved_.flags;
        gameCore.runState = saved_.runState;
        gameCore.cameraMode = saved_.cameraMode;
        gameCore.setCameraMask(saved_.cameraMask);
        setLoadingProgress(savedProgress_);
        renderSettings = savedRender_;
        setSceneDataManager(savedSceneData_);
    }
    SceneLoadFixture(const SceneLoadFixture&) = delete;
    SceneLoadFixture& operator=(const SceneLoadFixture&) = delete;

    // Redraws of the loading screen are due at every report.
    void redrawAlways() { renderSettings.progressMaxFps = 1000000.0f; }
    // Runs the posted script events, as the message loop does after a frame.
    void runEvents() { lua.context().processEvents(); }
    // Runs a global function outside posted events, as "game_start" runs.
    bool run(const char* function) { return runScriptFunction(nullptr, lua.context(), function); }
    // Position of the first log record holding text, or -1.
    int recordOf(const std::string& text) {
        const auto records = lua.log().records();
        for (std::size_t i = 0; i < records.size(); ++i)
            if (records[i].text.find(text) != std::string::npos) return static_cast<int>(i);
        return -1;
    }
    bool logged(const std::string& text) { return lua.logged(text); }
    // A global of any type as Lua's tostring gives it ("nil" when unset).
    std::string value(const std::string& name) {
        lua.load("fixture_value = tostring(" + name + ")");
        return lua.global("fixture_value");
    }

    ScriptFixture lua;  // first, so that it restores the game core last
    ObjectRepository objects;
    TimeCore clocks;
    SoundCore sound;
    IniFile settings;
    // Scenes ask it for their "<scene>_default" light sets.
    LightSetLibrary lightSets;
    // The sky records of this test's packages only; made before the game,
    // whose scenes hold them, and gone after it.
    SkyDataManager skies;
    SpriteDataManager sprites;
    std::unique_ptr<SaveGame> game;

};

}  // namespace testing_support
