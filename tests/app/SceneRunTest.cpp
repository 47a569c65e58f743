// The game as a player starts it: its "game_start" posts the load of the
// first scene, whose progress handlers and load lines reach the log, then
// ends the game and leaves.
#include <gtest/gtest.h>

#include "support/GameFixture.h"

using testing_support::GameData;
using testing_support::GameFixture;

namespace {

TEST(SceneRun, StartScriptLoadsItsFirstSceneThroughAPostedEvent) {
    GameData data;
    // Every progress report may redraw, so the short load is heard.
    data.gameIni = "[game]\nlang=en\n[debug]\nenable_script_log_msg=yes\n[render]\nprogress_max_fps=1000000\n";
    data.scripts["main"] = R"(
function system_reset() end
function on_start() log("handler start") end
function on_progress() log("handler progress") end
function on_finish() log("handler finish") end
function load_intro()
    game:load("intro")
    game:load("intro")
    game:gameOver()
    world:quitGame()
end
function game_start()
    game.onStartProgress = "on_start"
    game.onProgress = "on_progress"
    game.onFinishProgress = "on_finish"
    game:load("intro")
    sendEvent("load_intro")
end
)";
    GameFixture game(data, GAME_BINARY);
    ASSERT_TRUE(game.ready()) << game.error();
    ASSERT_EQ(game.run(60), 0) << game.log();
    const std::string log = game.log();
    std::string missing;
    EXPECT_TRUE(testing_support::containsInOrder(
        log,
        {"Load NOT enabled from this script execution point", "Start to load scene [intro]",
         "handler start", "Can't find resource for scene [intro]. Create debug scene", "handler progress", "handler finish",
         "Success load scene [intro]", "Can't load scene [intro]: Already loaded",
         "----------------- Finalize current game ----------------------",
         "------------ Current game successfully finalized -------------", "Called exit from script"},
        &missing))
        << missing << "\n" << log;
}

}  // namespace
