// Start-up, the game-state machine and release of the built game, run as a
// player would run it; and the start-up steps that shape names and
// languages, run in process.
#include <gtest/gtest.h>

#include <signal.h>

#include "app/GameCore.h"
#include "foundation/AppPaths.h"
#include "foundation/IniFile.h"
#include "foundation/Log.h"
#include "script/ScriptVariable.h"
#include "script/VariablesCore.h"
#include "support/GameFixture.h"
#include "variables/VariableWriter.h"

using testing_support::containsInOrder;
using testing_support::GameData;
using testing_support::GameFixture;

namespace {

constexpr int kTimeout = 60;

// A game whose "game_start" returns and whose window close quits.
GameData waitingGame() {
    GameData data;
    data.scripts = {{"main",
                     "function system_reset() end\n"
                     "function game_start() end\n"
                     "function game_close_window() world:quitGame() end\n"}};
    return data;
}

TEST(GameStartup, QuitFromTheStartScriptEndsInOrderWithExitZero) {
    GameData data;
    data.scripts = testing_support::quittingScripts();
    GameFixture game(data, GAME_BINARY);
    ASSERT_TRUE(game.ready()) << game.error();
    ASSERT_EQ(game.run(kTimeout), 0) << game.log();
    std::string missing;
    EXPECT_TRUE(containsInOrder(game.log(),
                                {"Build from: [", "Data version base = 00000000, runtime = 0000000B",
                                 "Engine initialization done", "Play game", "Enter game loop mode",
                                 "Called exit from script", "Release resources...", "Exit from game."},
                                &missing))
        << missing << "\n"
        << game.log();
}

TEST(GameStartup, FailuresEndWithTheirMessagesAndExitCodes) {
    struct Case {
        const char* name;
        GameData data;
        int exitCode;
        std::vector<std::string> lines;
        bool corruptScriptPackage = false;
    };
    GameData noStart;
    noStart.scripts = {{"main", "function system_reset() end\n"}};
    GameData noVariables;
    noVariables.scripts = testing_support::quittingScripts();
    noVariables.globals.clear();
    GameData noReset;
    noReset.scripts = {{"main", "function game_start() world:quitGame() end\n"}};
    GameData badScript;
    badScript.scripts = {{"main", "function system_reset( end\n"}};
    const Case cases[] = {
        // Both release requests run; the second finds nothing left to free.
        {"no game_start", noStart, 3,
         {"Enter game loop mode", "Scene initialization SCRIPT crashed.", "Releasing game loop...",
          "Release resources...", "Exit from game."}},
        {"no variables", noVariables, 1,
         {"Can't initialize game variables", "Can't initialize system resources", "Exit from game."}},
        {"no system_reset", noReset, 2,
         {"Can't execute script system reset", "Can't initialize script engine",
          "Can't initialize engine resources", "Exit from game."}},
        {"script that does not compile", badScript, 2,
         {"Cannot find script sources", "Can't initialize script engine", "Exit from game."}},
        // The bad package is reported and left out; without it there are no scripts.
        {"corrupt package", testing_support::GameData{}, 2,
         {"Can't read package [", "Can't initialize script engine", "Can't initialize engine resources",
          "Exit from game."},
         true},
    };
    for (const Case& c : cases) {
        GameFixture game(c.data, GAME_BINARY);
        ASSERT_TRUE(game.ready()) << game.error();
        if (c.corruptScriptPackage) {
            ASSERT_TRUE(testing_support::writeFile(game.root() + "/scripts.pak", "not a package"));
        }
        EXPECT_EQ(game.run(kTimeout), c.exitCode) << c.name << "\n" << game.log();
        std::string missing;
        EXPECT_TRUE(containsInOrder(game.log(), c.lines, &missing)) << c.name << ": " << missing << "\n"
                                                                    << game.log();
    }
}

TEST(GameStartup, SecondInstanceIsRefusedAndAStopSignalClosesThroughTheScript) {
    GameFixture game(waitingGame(), GAME_BINARY);
    ASSERT_TRUE(game.ready()) << game.error();
    ASSERT_TRUE(game.start());
    ASSERT_TRUE(game.waitForLog("Enter game loop mode", kTimeout)) << game.log();
    const std::string before = game.log();

    std::string errors;
    EXPECT_EQ(game.run(kTimeout, &errors), 1);
    EXPECT_NE(errors.find("Other application instance already run"), std::string::npos) << errors;
    EXPECT_EQ(game.log(), before);

    ASSERT_TRUE(game.signal(SIGTERM));
    EXPECT_EQ(game.wait(kTimeout), 0) << game.log();
    std::string missing;
    EXPECT_TRUE(containsInOrder(game.log(),
                                {"Windows message close: Add script event game_close_window();",
                                 "Called exit from script", "Release resources...", "Exit from game."},
                                &missing))
        << missing << "\n"
        << game.log();
}

// A game core with a log, paths, settings and the variables core.
class NamingCore {
public:
    NamingCore() : saved_(gameCore) {
        gameCore = GameCore{};
        gameCore.log = new Log;
        gameCore.paths = new AppPaths;
        gameCore.settings = new IniFile;
        gameCore.variables = new VariablesCore;
    }
    ~NamingCore() {
        delete gameCore.variables;
        delete gameCore.settings;
        delete gameCore.paths;
        delete gameCore.log;
        gameCore = saved_;
    }
    NamingCore(const NamingCore&) = delete;
    NamingCore& operator=(const NamingCore&) = delete;

private:
    GameCore saved_;
};

TEST(GameStartup, GameNameBlanksWhatAFolderNameCannotHold) {
    const std::pair<const char*, const char*> cases[] = {
        {"Three:Word\tTitle", "three word title"},
        {"a/b\\c*d?e\"f<g>h|i", "a b c d e f g h i"},
        {"Plain", "plain"},
    };
    for (const auto& [title, expected] : cases) {
        NamingCore core;
        ScriptVariable* root = gameCore.variables->locales().ensureRoot();
        std::string error;
        ASSERT_TRUE(variable_tools::parseVariableText(std::string("system.SF_ui_title wstring ") + title, *root,
                                                      error))
            << error;
        gameCore.setGameName();
        EXPECT_EQ(gameCore.paths->get(PathGameName), expected) << title;
    }
    NamingCore core;
    gameCore.paths->setPath(PathGameName, "kept");
    gameCore.setGameName();  // no locales tree: reported, name kept
    EXPECT_EQ(gameCore.paths->get(PathGameName), "kept");
    EXPECT_TRUE(gameCore.log->contains("Can't find script variable [locales.system.SF_ui_title]"));
}

TEST(GameStartup, LanguageFromTheSettingsWinsOverTheRegistry) {
    NamingCore core;
    IniCategory& game = gameCore.settings->getCategory("game");
    game.getVariable("reglang").setString("SOFTWARE\\Game");
    game.getVariable("debug_lang").setString("de");
    game.getVariable("lang").setString("ru");
    gameCore.detectLanguage();
    EXPECT_EQ(gameCore.paths->get(PathLanguage), "ru");
    EXPECT_EQ(gameCore.paths->get(PathLanguage2), "de");
    EXPECT_FALSE(gameCore.log->contains("from registry"));
    EXPECT_TRUE(gameCore.log->contains("Detected language selection in configuration file [ru]"));
    EXPECT_NE(game.findVariable("id"), nullptr);  // created when missing
}

TEST(GameStartup, StateMachineKeepsTheFailureStateAndReleasesSafelyTwice) {
    NamingCore core;
    EXPECT_TRUE(gameCore.gameLoop(7));  // still before the release states
    EXPECT_TRUE(gameCore.log->contains("Game state 7 NOT implemented"));
    EXPECT_EQ(gameCore.gameState, 7);
    EXPECT_FALSE(gameCore.gameLoop(13));
    EXPECT_FALSE(gameCore.gameLoop(12));  // released again; 13 is final
    EXPECT_EQ(gameCore.gameState, 13);
    EXPECT_FALSE(gameCore.gameLoop(7));
    EXPECT_EQ(gameCore.gameState, 13);
}

}  // namespace
