// The animation rules of a character model: for each control-state
// category (stance, movement, direction, action, look) a list of rules,
// each a compiled sequence and five masks that say for which state values
// it applies (bit v of a category's mask: the rule applies when that
// category's state is v).
//
// The compiled file (".adb"): a u8 name length and the name, then for each
// category a u32 rule count and that many rules of five u32 masks, u32
// sequence flags, a u32 element count and that many 176-byte sequence
// elements as the sequence compiler makes them. The game never compiles
// rules; the tools write the file.
#pragma once

#include <cstdint>
#include <vector>

#include "animation/AnimationControl.h"
#include "animation/AnimationSequence.h"

class DataStream;

struct AnimCtrlRule {
    AnimationSequence sequence;
    std::uint32_t masks[kAnimationControlCategories] = {};

    // The match of the rule against the five states: -1 when a category's
    // mask lacks its state's bit (a state outside 0..31 never matches);
    // otherwise each category adds 10 when its mask names that state alone
    // and 1 when it names others too (5 to 50).
    std::int32_t score(const std::int32_t* states) const;
};

class AnimCtrlRules {
public:
    // Reads the compiled form, replacing the lists: the bytes read, or
    // negative (logged) with every list emptied. A name longer than 127
    // characters, a count the bytes left cannot hold or an element the
    // sequence compiler could not have made refuses the whole table;
    // element names always end inside their fields.
    std::int32_t read(DataStream& stream);
    // Empties the five lists.
    void clear();

    char name[128] = {};
    std::vector<AnimCtrlRule> rules[kAnimationControlCategories];
};
