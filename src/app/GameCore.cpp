#include "app/GameCore.h"

#include "foundation/Log.h"
#include "foundation/TimeCore.h"

// Constant-initialised: every pointer is null before any constructor runs.
GameCore gameCore;

void GameCore::pause(bool on) {
    engineLog().scriptInfo("Pause [%s]", on ? "ON" : "OFF");
    const bool paused = (flags & kGameFlagPaused) != 0;
    if (paused == on) return;
    if (on)
        flags |= kGameFlagPaused;
    else
        flags &= ~kGameFlagPaused;
    if (clocks) clocks->gameTime.paused = on ? 1 : 0;
}
