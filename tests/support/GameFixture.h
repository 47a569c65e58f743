// A game installed in a temporary folder, as a player would have it: a data
// root with its rules file, a package of Lua scripts and the two variable
// files written by the tools at test time, the INI files, the compiled-shader
// package and a copy of the built game. The game runs with its user folder, its instance lock and SDL
// (offscreen video, dummy audio) pointed into the fixture.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "support/PackageFixture.h"
#include "support/TestSupport.h"

namespace testing_support {

struct GameData {
    // Lua sources by resource name ("main" is stored as "main.lua").
    std::map<std::string, std::string> scripts;
    // The variable trees in the variable writer's text form; an empty text
    // leaves the file out of the package.
    std::string globals = "fixture.ready boolean true\n";
    std::string locales = "system.mm_exit wstring Quit\n";
    std::string gameIni = "[game]\nlang=en\n";
    // Further stored files (quests, dialogs, ...), in a package "data.pak"
    // left out when empty.
    std::vector<FixtureFile> dataFiles;
};

// A script set whose "game_start" calls the quit function, and whose
// "system_reset" returns; the minimal game that starts and ends.
std::map<std::string, std::string> quittingScripts();

class GameFixture {
public:
    // Builds the data root and copies the game (program) into it.
    explicit GameFixture(const GameData& data, const std::string& program);
    ~GameFixture();
    GameFixture(const GameFixture&) = delete;
    GameFixture& operator=(const GameFixture&) = delete;

    // True when everything was written; error() tells what failed.
    bool ready() const { return error_.empty(); }
    const std::string& error() const { return error_; }
    const std::string& root() const { return dir_.path(); }
    std::string executable() const { return dir_.file("game"); }
    std::vector<std::string> environment() const;

    // Runs the game to its end: its exit status, or -1 on a time-out.
    int run(int timeoutSeconds, std::string* stderrText = nullptr) const;

    // Starts the game in the background; false when it cannot be started.
    bool start();
    // Waits until the log holds the text; false on a time-out or when the
    // game ended first.
    bool waitForLog(const std::string& text, int timeoutSeconds);
    bool signal(int number);
    // Waits for the started game: its exit status, or -1 on a time-out
    // (the game is then killed).
    int wait(int timeoutSeconds);

    // The game's log file (the first one found under the user folders).
    std::string logPath() const;
    std::string log() const;

private:
    TempDir dir_;
    std::string error_;
    int pid_ = -1;
};

// True when every text occurs in the log, each after the one before it.
// On failure, missing names the first text not found in order.
bool containsInOrder(const std::string& log, const std::vector<std::string>& texts, std::string* missing = nullptr);

}  // namespace testing_support
