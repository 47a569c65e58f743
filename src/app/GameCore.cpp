#include "app/GameCore.h"

// Constant-initialised: every pointer is null before any constructor runs.
GameCore gameCore;
