// Helpers shared by the scene's source files.
#pragma once

#include <cstdint>
#include <vector>

#include "scene/GameObject.h"

namespace scene_detail {

// A progress report that only keeps the loading screen alive.
void tick();
// The object of a handle, or null.
GameObject* resolve(GameObjectLink link);
// Releases and deletes the objects of a handle list and empties it.
void releaseList(std::vector<GameObjectLink>& list);
// Removes an entry; the last one takes its place.
void removeAt(std::vector<GameObjectLink>& list, std::size_t index);
// The index of the per-state tables: 11 while the game core's flag 0x10
// is set, else the game state.
std::int32_t stateIndex();

}  // namespace scene_detail
