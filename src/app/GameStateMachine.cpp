#include "app/GameCore.h"
#include "app/GameGuards.h"
#include "app/ThisMainLoop.h"
#include "foundation/AppPaths.h"
#include "foundation/CrashGuard.h"
#include "foundation/Log.h"
#include "script/ScriptCall.h"
#include "script/ScriptEngine.h"

bool safeProcessGameState(std::int32_t state) {
    return runGuarded(kGuardGameState, [state] { return gameCore.gameLoop(state); });
}

bool GameCore::gameLoop(std::int32_t state) {
    if (gameState != kGameStateReleaseAfterFailure) gameState = state;
    Log& log = engineLog();
    switch (state) {
    case kGameStateLoop: {
        log.info("Enter game loop mode");
        if (runMode && runMode->runMode == kRunModePlay) {
            const bool started =
                script && script->context && runScriptFunction(nullptr, *script->context, "game_start");
            if (started) {
                // The quests start through their own entry point, which a
                // game without quests need not write.
                if (scriptFunctionDefined("quest_start")) runScriptFunction(nullptr, *script->context, "quest_start");
                if (mainLoop) messageLoop(*mainLoop);
            } else if (!stopSignalEndsGame()) {  // a stopped script is no failure
                log.error("Scene initialization SCRIPT crashed.");
                log.flush();
                safeProcessGameState(kGameStateReleaseAfterFailure);
            }
        }
        log.info("Exit from game");
        safeProcessGameState(kGameStateRelease);
        return gameState < kGameStateRelease;
    }
    case kGameStateRelease:
    case kGameStateReleaseAfterFailure:
        log.info("Releasing game loop...");
        safeRelease();
        return false;
    default:
        log.error("Game state %i NOT implemented", state);
        return gameState < kGameStateRelease;
    }
}
