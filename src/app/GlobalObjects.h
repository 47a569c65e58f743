// The engine's global objects, constructed before the entry point in one
// fixed order with the game-core record last, and destroyed in reverse.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct GameCore;

// What the entry point received, kept as it came (the command line is
// never parsed).
struct StartupArguments {
    std::uintptr_t instance = 0;
    std::uintptr_t previousInstance = 0;
    const char* commandLine = nullptr;
    std::int32_t showCommand = 0;
};

// The names of the members in the order they were made or deleted.
using GameCoreTrace = std::vector<std::string>;

// Fills a game-core record with its members in construction order, then sets
// the render parameters, the run state, the camera mode and the camera mask.
// Nothing is initialised beyond its constructor.
void constructGameCore(GameCore& core, GameCoreTrace* trace = nullptr);
// Deletes the members of a game-core record in destruction order, skipping
// absent ones.
void destroyGameCore(GameCore& core, GameCoreTrace* trace = nullptr);

// The program's entry: runs the game on the global record.
int engineMain();
