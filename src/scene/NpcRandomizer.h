// NPC randomisation: the model alternatives of the current scene, kept in
// the global array script variable "npcrandomization.<scene name>".
#pragma once

#include "foundation/StringHelper.h"

class NpcRandomizer {
public:
    // Appends "$" and the text of each entry of the array of the scene so
    // named, the current one (each cut to 127 characters). A missing
    // variable is logged and adds nothing; a variable that is no array adds
    // nothing.
    static void readGroup(NameArray& names, const char* sceneName);
};
