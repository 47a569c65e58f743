// A current game of one camera room holding a box model "walker" whose
// controller records the calls it receives; the test makes it the main
// character when it needs one.
#pragma once

#include <memory>

#include "app/SaveGame.h"
#include "control/RecordingController.h"
#include "model/Model.h"
#include "scene/CameraFixture.h"
#include "scene/Scene.h"

namespace testing_support {

struct MainCharacterRoom {
    MainCharacterRoom() {
        game.scenes.push_back(room.scene->id);
        game.currentIndex = 0;
        hero = static_cast<Model*>(room.scene->createModel("box", "walker", matrix34Identity(), 0));
        if (!hero) return;
        auto recording = std::make_unique<RecordingController>(*hero);
        record = recording.get();
        hero->controller = std::move(recording);
    }
    ~MainCharacterRoom() { game.scenes.clear(); }
    MainCharacterRoom(const MainCharacterRoom&) = delete;
    MainCharacterRoom& operator=(const MainCharacterRoom&) = delete;

    SaveGame game;
    ScopedCoreMember<SaveGame> useGame{gameCore.game, &game};
    CameraScene room;
    Model* hero = nullptr;
    RecordingController* record = nullptr;
};

}  // namespace testing_support
