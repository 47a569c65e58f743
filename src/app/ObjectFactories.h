// The object repository's factory for loading a saved game: it hands each
// saved object's type code to the game core's factory of that type. A
// physics scene (type 4) comes back only where the physics backend gives
// it a world; type 8 (movie) has no factory.
#pragma once

#include <cstdint>
#include <vector>

#include "scene/ObjectRepository.h"
#include "scene/SceneRecordCheck.h"

class GameObject;
class PhysicsSaveCheck;

// Null, logged, for a type without factory or a failed creation.
GameObject* createObjectForLoading(std::uint32_t type, const char* name, std::uint32_t scene, std::uint32_t subtype);
// The check of a saved object before anything is loaded: whether
// createObjectForLoading would make it, and its own data read into nothing.
// Byte count, or negative (logged) when the load would fail. The physics
// records are gathered in `physics`, whose links are checked once the whole
// table is read; listed, when given, takes the objects a saved scene lists.
std::int32_t checkObjectForLoading(const ObjectRepository::SavedRecord& record, DataStream& stream,
                                   PhysicsSaveCheck& physics, std::vector<SceneListedObject>* listed = nullptr);
// The same for one record alone (its physics links go unchecked).
std::int32_t checkObjectForLoading(const ObjectRepository::SavedRecord& record, DataStream& stream);
