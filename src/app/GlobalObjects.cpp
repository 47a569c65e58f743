#include "app/GlobalObjects.h"

#include "app/GameCore.h"
#include "foundation/AppPaths.h"
#include "foundation/Log.h"

void constructGameCore() {
    GameCore& core = gameCore;
    core.runMode = new RunModeRecord;
    core.paths = new AppPaths;
    core.log = new Log;
    core.runState = -1;
    core.cameraMode = 0;
}

void destroyGameCore() {
    GameCore& core = gameCore;
    delete core.runMode;
    core.runMode = nullptr;
    delete core.paths;
    core.paths = nullptr;
    delete core.log;
    core.log = nullptr;
}

namespace {

// Constructed by static initialisation before the entry point runs.
struct GlobalObjects {
    GlobalObjects() { constructGameCore(); }
    ~GlobalObjects() { destroyGameCore(); }
} globalObjects;

}  // namespace

int engineMain() { return gameCore.run(); }
