// The engine's global objects beside the game-core record, with their start
// values. They are constant-initialised before any constructor of the
// program runs, so they exist when the game-core record is built (last) and
// outlive it at exit, when they are destroyed in reverse order.
//
// The random generator and the hexadecimal digit table, the first two of
// these globals, live with their users in the foundation library.
#pragma once

#include <cstdint>

#include "foundation/PointerArray.h"

// A 16-byte record of the physics globals.
struct PhysicsGlobalRecord {
    float values[4] = {0.0f, 0.0f, 0.0f, 0.0f};
};

// Render lists of the model contexts.
extern PointerArray<void> globalModelContexts;
// The two lists of the non-player-character randomizer.
extern PointerArray<void> globalRandomizerModels;
extern PointerArray<void> globalRandomizerTargets;

// 4x4 matrices, row by row, translation in entries 12 to 14.
// Clip space to a 1,024 x 768 screen.
extern float globalScreenMatrix[16];
// A 1,024 x 768 pixel position to clip space, y pointing down.
extern float globalPixelToClipMatrix[16];
// Half a pixel of a 1,024 x 768 target.
extern float globalHalfPixelMatrix[16];
extern float globalIdentityMatrix[16];

// Eight blanks, the tab of the font text layout.
extern const char globalEightBlanks[9];

// The list of the animation control: the candidate rules of a choice
// (defined in animation/AnimationControl.cpp).
extern PointerArray<void> globalAnimationControls;
// The physics globals' record arrays.
extern PhysicsGlobalRecord globalPhysicsRecordsA[2];
extern PhysicsGlobalRecord globalPhysicsRecordsB[8];
// The list of the grid path finding.
extern PointerArray<void> globalGridPaths;
