// The engine's global objects, constructed before the entry point in one
// fixed order with the game-core record last, and destroyed in reverse.
#pragma once

// Fills the game-core record with its members in construction order.
void constructGameCore();
// Deletes the members of the game-core record in destruction order.
void destroyGameCore();

// The program's entry: runs the game on the global record.
int engineMain();
