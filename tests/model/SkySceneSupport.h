// Test support: a debug scene with its sky as the game's current scene, for
// the draw paths that read the scene's sky (the water's reflection).
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <optional>

#include "app/GameCore.h"
#include "app/SaveGame.h"
#include "effects/SkyDataManager.h"
#include "effects/Y3Sky.h"
#include "scene/ObjectRepository.h"
#include "scene/Scene.h"
#include "scene/SceneContext.h"
#include "scene/SceneDataManager.h"
#include "support/TestSupport.h"

namespace testing_support {

class CurrentSkyScene {
public:
    CurrentSkyScene() = default;
    ~CurrentSkyScene() { close(); }
    CurrentSkyScene(const CurrentSkyScene&) = delete;
    CurrentSkyScene& operator=(const CurrentSkyScene&) = delete;

    // The scene "lagoon" of a new game becomes current, its sky on the
    // weather; the sky's current layer is loaded (its texture, named after
    // the weather, must be in the packages, and the texture library allocated).
    ::testing::AssertionResult open(std::int32_t weather) {
        game = std::make_unique<SaveGame>();
        useObjects.emplace(gameCore.objects, &objects);
        useSkies.emplace(gameCore.skyData, &skies);
        useGame.emplace(gameCore.game, game.get());
        scene.reset(SceneContext::createScene(game->sceneData().get("lagoon", false)));
        if (!scene || !scene->sky) return ::testing::AssertionFailure() << "no scene with a sky";
        game->scenes.push_back(scene->id);
        game->currentIndex = 0;
        scene->setSkyWeather(weather);
        if (!scene->sky->currentLayer().allocateDefault(0, false))
            return ::testing::AssertionFailure() << "the sky's layer did not load";
        return ::testing::AssertionSuccess();
    }
    // Before the texture library goes: the sky's layers and the scene.
    void close() {
        if (scene) {
            for (TextureLink& layer : scene->sky->layers) layer.release(false);
            scene->release();
        }
        if (game) game->scenes.clear();
        scene.reset();
        useGame.reset();
        useSkies.reset();
        useObjects.reset();
        game.reset();
    }

    ObjectRepository objects;
    SkyDataManager skies;
    std::unique_ptr<SaveGame> game;
    std::unique_ptr<Scene> scene;

private:
    std::optional<ScopedCoreMember<ObjectRepository>> useObjects;
    std::optional<ScopedCoreMember<SkyDataManager>> useSkies;
    std::optional<ScopedCoreMember<SaveGame>> useGame;
};

}  // namespace testing_support
