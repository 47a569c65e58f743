// Runs the built game executable in a temporary tree, as a player would.
#include <gtest/gtest.h>

#include <filesystem>

#include "support/GameFixture.h"
#include "support/TestSupport.h"

namespace {

TEST(GameRun, FindsItsDataRootAndWritesItsLogFromAnyFolder) {
    testing_support::GameData data;
    data.scripts = testing_support::quittingScripts();
    testing_support::GameFixture game(data, GAME_BINARY);
    ASSERT_TRUE(game.ready()) << game.error();
    const std::string elsewhere = game.root() + "/elsewhere";
    testing_support::makeFolders(elsewhere);
    for (const std::string& cwd : {game.root(), elsewhere}) {
        ASSERT_EQ(testing_support::runProgram(game.executable(), {}, game.environment(), cwd, 60), 0) << game.log();
        const std::string log = game.log();
        ASSERT_EQ(log.rfind("Source from [", 0), 0u) << log;
        EXPECT_NE(log.find("Executable launched from [" + game.executable() + "]"), std::string::npos);
        EXPECT_NE(log.find("Build from: ["), std::string::npos);
        EXPECT_NE(log.find("Exit from game."), std::string::npos);
        std::filesystem::remove(game.logPath());
    }
}

}  // namespace
