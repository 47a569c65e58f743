// Runs the built game executable in a temporary tree, as a player would.
#include <gtest/gtest.h>

#include <filesystem>

#include "support/TestSupport.h"

using testing_support::TempDir;

namespace {

TEST(GameRun, FindsItsDataRootAndWritesItsLogFromAnyFolder) {
    TempDir dir;
    testing_support::makeFolders(dir.file("bin"));
    testing_support::makeFolders(dir.file("appdata"));
    testing_support::makeFolders(dir.file("elsewhere"));
    testing_support::writeFile(dir.file("data.txt"), "");
    std::filesystem::copy_file(GAME_BINARY, dir.file("bin/game"));
    const std::vector<std::string> env = {"XDG_DATA_HOME=" + dir.file("appdata")};
    for (const std::string& cwd : {dir.file("bin"), dir.file("elsewhere")}) {
        ASSERT_EQ(testing_support::runProgram(dir.file("bin/game"), {}, env, cwd, 60), 0);
        const std::string log = testing_support::readFile(dir.file("appdata/Games/game/log/game.log"));
        ASSERT_EQ(log.rfind("Source from [", 0), 0u) << log;
        EXPECT_NE(log.find("Executable launched from [" + dir.file("bin/game") + "]"), std::string::npos);
        EXPECT_NE(log.find("Build from: ["), std::string::npos);
        EXPECT_NE(log.find("Exit from game."), std::string::npos);
        std::filesystem::remove(dir.file("appdata/Games/game/log/game.log"));
    }
}

}  // namespace
