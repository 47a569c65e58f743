// NPC randomisation: the model alternatives of the current scene, kept in
// the global script variables under "npcrandomization".
#pragma once

#include <string>

#include "foundation/Math.h"
#include "foundation/StringHelper.h"

// One variant of a randomised NPC group.
struct NpcVariant {
    std::string model;
    std::string animation;
    std::string faceAnimation;
    float texture = 0.0f;
    float weight = 1.0f;
    float nearest = 2500.0f;
};

class NpcRandomizer {
public:
    // Appends "$" and the text of each entry of the array of the scene so
    // named, the current one (each cut to 127 characters). A missing
    // variable is logged and adds nothing; a variable that is no array adds
    // nothing.
    static void readGroup(NameArray& names, const char* sceneName);
    // Chooses the variant of a group to spawn at a pose, from the table
    // "npcrandomization.<scene>.<group>.<time of day>": weighted by
    // frequency and by the distance to the nearest spawned NPC of the same
    // model and texture. Null when the table is missing or has no variant.
    // The record stays valid until the next call.
    static const NpcVariant* pickVariant(const char* group, const Matrix34& pose);
    // Of the same table, one of the variants of that model resource, taken
    // at random (the sequences a "$group" sequence name plays); null when
    // the table is missing or names no variant of the model. Valid until
    // the next call.
    static const NpcVariant* readGroupArray(const char* group, const char* model);
};
