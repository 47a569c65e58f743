#include "model/ModelProperty.h"

#include <cstring>

#include "foundation/DataStream.h"
#include "foundation/XmlWriter.h"

namespace {

// A name of a rule or animation: u8 length and bytes.
std::int32_t readName(DataStream& stream, std::string& out) {
    char field[128];
    const std::int32_t result = readString8(stream, field, sizeof(field));
    if (result >= 0) out = field;
    return result;
}

// A count no larger than the bytes left could hold at minSize each.
bool countFits(DataStream& stream, std::uint32_t count, std::int32_t minSize) {
    return count <= static_cast<std::uint32_t>(bytesLeft(stream) / minSize);
}

}  // namespace

const char* const kModelAnimationFlagNames[8] = {"loop",    "rnd-position", "rnd-dir", "back-dir",
                                                 "stopped", "updated",      "restore", "encode"};

void ModelProperty::resetRuleSlots() {
    for (std::int32_t& slot : ruleSlots) slot = -1;
    if (!rules.empty()) ruleSlots[0] = static_cast<std::int32_t>(rules.size()) - 1;
}

void ModelProperty::exportTree(XmlTag& parent) const {
    static const char* const kModes[4] = {"morning", "day", "evening", "nighttime"};
    XmlTag& property = parent.addChild("property");
    property.addChildValue("texture-set", "%i", static_cast<int>(textureSet));
    XmlTag& lights = property.addChild("light-rules");
    for (int mode = 0; mode < 4; ++mode)
        if (lightSets[mode][0]) lights.addChildValue(kModes[mode], "%s", lightSets[mode]);
    XmlTag& animationRules = property.addChild("animation-rules");
    animationRules.setAttribute("rules-count", "%i", static_cast<int>(rules.size()));
    for (const ModelPropertyRule& rule : rules) {
        XmlTag& node = animationRules.addChild("rule");
        node.setAttribute("id", "%s", rule.name.c_str());
        node.setAttribute("animation-count", "%i", static_cast<int>(rule.animations.size()));
        for (const ModelPropertyAnimation& animation : rule.animations) {
            XmlTag& item = node.addChild("animation");
            item.setAttribute("id", "%s", animation.name.c_str());
            item.setAttribute("speed", "%f", static_cast<double>(animation.speed));
            for (int bit = 0; bit < 8; ++bit)
                if (animation.flags & (1u << bit)) item.addChildValue("flag", "%s", kModelAnimationFlagNames[bit]);
        }
    }
}

ModelProperty& NameTable4::init(ModelProperty& record) {
    std::memset(record.lightSets, 0, sizeof(record.lightSets));
    std::memset(record.lightSetWords, 0, sizeof(record.lightSetWords));
    record.textureSet = 0;
    record.rules.clear();
    record.resetRuleSlots();
    return record;
}

std::int32_t ModelProperty::read(DataStream& stream) {
    clearRules();
    std::int32_t total = 0;
    std::uint32_t magic = 0;
    if (!addField(total, readU32(stream, magic))) return total;
    if (magic != kModelPropertyMagic) return -1;
    if (!addField(total, readU32(stream, textureSet))) return total;
    for (char* name : lightSets)
        if (!addField(total, readString8(stream, name, 128))) return total;
    std::uint32_t ruleCount = 0;
    if (!addField(total, readU32(stream, ruleCount))) return total;
    if (!countFits(stream, ruleCount, 5)) return -1;
    rules.resize(ruleCount);
    for (ModelPropertyRule& rule : rules) {
        std::uint32_t count = 0;
        if (!addField(total, readName(stream, rule.name)) || !addField(total, readU32(stream, count))) return total;
        if (!countFits(stream, count, 9)) return -1;
        rule.animations.resize(count);
        for (ModelPropertyAnimation& animation : rule.animations)
            if (!addField(total, readName(stream, animation.name)) ||
                !addField(total, readU32(stream, animation.flags)) || !addField(total, readF32(stream, animation.speed)))
                return total;
    }
    return total;
}

std::int32_t ModelProperty::write(DataStream& stream) const {
    std::int32_t total = 0;
    if (!addField(total, writeU32(stream, kModelPropertyMagic)) || !addField(total, writeU32(stream, textureSet)))
        return total;
    for (const char* name : lightSets)
        if (!addField(total, writeString8(stream, name))) return total;
    if (!addField(total, writeU32(stream, static_cast<std::uint32_t>(rules.size())))) return total;
    for (const ModelPropertyRule& rule : rules) {
        if (!addField(total, writeString8(stream, rule.name.c_str())) ||
            !addField(total, writeU32(stream, static_cast<std::uint32_t>(rule.animations.size()))))
            return total;
        for (const ModelPropertyAnimation& animation : rule.animations)
            if (!addField(total, writeString8(stream, animation.name.c_str())) ||
                !addField(total, writeU32(stream, animation.flags)) || !addField(total, writeF32(stream, animation.speed)))
                return total;
    }
    return total;
}
