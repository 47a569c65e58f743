// The object repository's factory for loading a saved game: it hands each
// saved object's type code to the game core's factory of that type. Type 4
// (physics scene) is made by the repository itself and type 8 (movie) has
// no factory.
#pragma once

#include <cstdint>

class GameObject;

// Null, logged, for a type without factory or a failed creation.
GameObject* createObjectForLoading(std::uint32_t type, const char* name, std::uint32_t scene, std::uint32_t subtype);
