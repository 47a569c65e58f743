// The property block of a model: its texture set, the light-set names it
// uses for each time of day and its animation rules. Model resources carry
// one, and every model placement of a scene ends with one.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

class DataStream;
class XmlTag;

// Names of the animation flag bits 0 to 7.
extern const char* const kModelAnimationFlagNames[8];

// The first word of a stored property block.
constexpr std::uint32_t kModelPropertyMagic = 0x983FFA05;

struct ModelPropertyAnimation {
    std::string name;
    std::uint32_t flags = 0;
    float speed = 1.0f;
};

struct ModelPropertyRule {
    std::string name;
    std::vector<ModelPropertyAnimation> animations;
};

struct ModelProperty {
    // "morning", "day", "evening", "nighttime".
    char lightSets[4][128] = {};
    // The word before and the word after each light-set name's entry; not
    // stored in the block and read by nothing here.
    std::uint32_t lightSetWords[4][2] = {};
    std::uint32_t textureSet = 0;
    std::vector<ModelPropertyRule> rules;
    // Sixteen rule slots; -1 is an empty slot.
    std::int32_t ruleSlots[16] = {-1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1};

    void clearRules() { rules.clear(); }
    // Every slot empty; with rules, the first slot names the last rule.
    void resetRuleSlots();
    // A child "property" with the texture set, the light rules and the
    // animation rules.
    void exportTree(XmlTag& parent) const;
    // Bytes read, or negative: a wrong magic, an overlong name or a count
    // larger than the bytes left are refused (-1).
    std::int32_t read(DataStream& stream);
    std::int32_t write(DataStream& stream) const;
};

// The head of a property block: the light-set names, the texture set and
// the rules.
struct NameTable4 {
    // Empties the four light-set names, the texture set and the rules of a
    // block before anything is copied or read into it; the same block.
    static ModelProperty& init(ModelProperty& record);
};
