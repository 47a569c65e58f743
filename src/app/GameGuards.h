// The guarded entries of the game's phases: each runs its phase under the
// crash guard that names it and returns the phase's result.
#pragma once

#include <cstdint>

bool safeSystemInitialize();
bool safeGameInitialize();
// The game-state machine in the given state.
bool safeProcessGameState(std::int32_t state);

class SaveGame;
// The load of a saved game and of a scene by the save game; false when the
// load ended on an exception (the crash report is written).
bool safeLoadGame(SaveGame& game, const char* nameOrPath);
bool safeLoadScene(SaveGame& game, const char* sceneName);

// Game states (fixed values).
constexpr std::int32_t kGameStateLoop = 2;
constexpr std::int32_t kGameStateRelease = 12;
constexpr std::int32_t kGameStateReleaseAfterFailure = 13;

// Exit codes of the game.
constexpr std::int32_t kExitNormal = 0;
constexpr std::int32_t kExitSystemFailure = 1;
constexpr std::int32_t kExitEngineFailure = 2;
// The game ended on a failure road of the state machine (no "game_start",
// the render device given up).
constexpr std::int32_t kExitGameFailure = 3;

// The name of the single-instance lock.
inline constexpr const char* kInstanceName = "y3 game instance";
