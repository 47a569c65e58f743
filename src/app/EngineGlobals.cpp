// The engine's growable global arrays. They are constant-initialised (no
// constructor runs) and sit in a file of their own, so that code using them
// links without the game-core record and its construction at start.
#include "app/EngineGlobals.h"

constinit PointerArray<void> globalModelContexts;
constinit PointerArray<void> globalRandomizerModels;
constinit PointerArray<void> globalRandomizerTargets;
