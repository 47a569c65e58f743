// Camera modes and the camera mask of the game core, without a scene.
#include <gtest/gtest.h>

#include "app/GameCore.h"
#include "foundation/Log.h"
#include "foundation/TimeCore.h"
#include "script/ScriptEventArgs.h"

namespace {

// A game core with a log and the "camera_log" bit; restored afterwards.
class CameraFixture {
public:
    CameraFixture() : saved_(gameCore) {
        gameCore = GameCore{};
        gameCore.log = new Log;
        gameCore.debugFlags = DebugCameraLog;
    }
    ~CameraFixture() {
        delete gameCore.log;
        gameCore = saved_;
    }
    CameraFixture(const CameraFixture&) = delete;
    CameraFixture& operator=(const CameraFixture&) = delete;

private:
    GameCore saved_;
};

TEST(GameCoreCamera, LeavingGameDialogOrStillframeRestartsWithoutBlending) {
    const struct {
        std::int32_t previous;
        bool smooth;
    } cases[] = {{0, true}, {1, false}, {2, false}, {3, false}, {4, true}, {5, true},
                 {6, false}, {7, true}, {9, true}, {11, true}};
    for (const auto& c : cases) EXPECT_EQ(GameCore::cameraChangeIsSmooth(c.previous), c.smooth) << c.previous;
}

TEST(GameCoreCamera, ModesOutsideTheRangeAreRefusedAndTheSameModeDoesNothing) {
    CameraFixture core;
    const CurrentTime sample;
    gameCore.setCameraMode(1, sample);
    EXPECT_EQ(gameCore.cameraMode, 1);
    EXPECT_TRUE(gameCore.log->contains("Set camera mode to [Game]. Now camera in [Game]"));
    gameCore.log->clear();
    gameCore.setCameraMode(1, sample);  // again: no trace
    EXPECT_FALSE(gameCore.log->contains("Set camera mode"));
    for (const std::int32_t bad : {12, -1}) {
        gameCore.setCameraMode(bad, sample);
        EXPECT_EQ(gameCore.cameraMode, 1);
        EXPECT_TRUE(gameCore.log->contains("Can't set game camera mode to invalid value [" + std::to_string(bad) +
                                           "]. Valid range is 0..11"));
    }
    // Under a camera-stack command the tables and traces use mode 11.
    gameCore.flags |= kGameFlagCameraOverride;
    gameCore.setCameraMode(6, sample);
    EXPECT_EQ(gameCore.cameraMode, 6);
    EXPECT_TRUE(gameCore.log->contains("Set camera mode to [Stillframe]. Now camera in [Player]"));
    EXPECT_EQ(gameCore.flags & kGameFlagScreenView, 0u);
}

// The game's menu sets a mode whose input lets still frames take the
// pointer before any scene is loaded: no main character is asked for.
TEST(GameCoreCamera, ModeChangesWithoutASceneAskForNoMainCharacter) {
    CameraFixture core;
    const CurrentTime sample;
    for (const std::int32_t mode : {3, 0, 6, 1}) {
        gameCore.setCameraMode(mode, sample);
        EXPECT_EQ(gameCore.cameraMode, mode);
    }
    EXPECT_FALSE(gameCore.log->contains("Can't get main controller"));
}

TEST(GameCoreCamera, MaskChangesAreStoredCutAndTracedOnce) {
    CameraFixture core;
    EXPECT_STREQ(gameCore.cameraMask, "auto");
    EXPECT_TRUE(gameCore.setCameraMask("auto"));
    EXPECT_FALSE(gameCore.log->contains("Set camera mask"));
    EXPECT_TRUE(gameCore.setCameraMask("close"));
    EXPECT_STREQ(gameCore.cameraMask, "close");
    EXPECT_TRUE(gameCore.log->contains("Set camera mask to [close]"));
    const std::string longName(200, 'm');
    gameCore.setCameraMask(longName.c_str());
    EXPECT_EQ(std::string(gameCore.cameraMask), std::string(127, 'm'));
}

TEST(GameCoreCamera, ScriptEventsAreLoggedWithTheirCallText) {
    CameraFixture core;
    ScriptEventArgs args("f");
    args.append("a");
    args.append("b");
    EXPECT_TRUE(gameCore.addScriptEvent(args, "Test"));  // no script engine: logged only
    EXPECT_TRUE(gameCore.log->contains("Test: Add script event f('a', 'b');"));
}

}  // namespace
