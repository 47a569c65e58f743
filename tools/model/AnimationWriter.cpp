#include "model/AnimationWriter.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

#include "animation/AnimationControl.h"
#include "model/ModelWriter.h"
#include "animation/MorphTrack.h"
#include "foundation/DataStream.h"

namespace model_tools {

namespace {

const char* const kChannelNames[10] = {"tx", "ty", "tz", "sx", "sy", "sz", "rx", "ry", "rz", "rw"};
// The file order of the channels: translation, rotation, scale.
const int kFileChannelOrder[10] = {0, 1, 2, 6, 7, 8, 9, 3, 4, 5};

void put32(std::string& out, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
}
void put16(std::string& out, std::uint16_t value) {
    out.push_back(static_cast<char>(value & 0xFF));
    out.push_back(static_cast<char>(value >> 8));
}
void putFloat(std::string& out, float value) {
    std::uint32_t bits = 0;
    std::memcpy(&bits, &value, 4);
    put32(out, bits);
}
// A zero-padded 128-byte name field (at most 127 characters).
void putName128(std::string& out, const std::string& name) {
    std::string field = name.substr(0, 127);
    field.resize(128, '\0');
    out += field;
}


bool failLine(std::string& error, int line, const std::string& reason) {
    error = "line " + std::to_string(line) + ": " + reason;
    return false;
}

bool readEvent(std::istringstream& words, EventDescription& event) {
    if (!(words >> event.from >> event.to)) return false;
    std::getline(words >> std::ws, event.name);
    return !event.name.empty();
}

bool readElement(std::istringstream& words, ElementDescription& element) {
    return static_cast<bool>(words >> element.animation >> element.flags >> element.duration >> element.blend >>
                             element.start >> element.length >> element.speed);
}

void putElement(std::string& out, const ElementDescription& element) {
    put32(out, element.flags);
    putName128(out, element.animation);
    put32(out, 0);
    for (double value : {element.duration, element.blend, element.start, element.length, element.speed}) {
        std::uint64_t bits = 0;
        std::memcpy(&bits, &value, 8);
        put32(out, static_cast<std::uint32_t>(bits));
        put32(out, static_cast<std::uint32_t>(bits >> 32));
    }
}

// A rule mask of a category: "*", a hexadecimal word ("0x...") or value
// names joined by "|".
bool readMask(const std::string& text, std::int32_t category, std::uint32_t& mask) {
    mask = 0;
    if (text == "*") {
        mask = (1u << kAnimationControlCounts[category]) - 1;
        return true;
    }
    if (text.size() > 2 && text.compare(0, 2, "0x") == 0) {
        char* end = nullptr;
        mask = static_cast<std::uint32_t>(std::strtoul(text.c_str() + 2, &end, 16));
        return end && *end == 0;
    }
    std::size_t from = 0;
    while (from <= text.size()) {
        const std::size_t bar = text.find('|', from);
        const std::string name = text.substr(from, bar == std::string::npos ? std::string::npos : bar - from);
        const std::int32_t value = animationControlValueByName(category, name.c_str());
        if (value < 0) return false;
        mask |= 1u << value;
        if (bar == std::string::npos) break;
        from = bar + 1;
    }
    return mask != 0;
}

bool parseRuleLine(const std::string& keyword, std::istringstream& words, std::vector<RulesDescription>& tables,
                   std::string& reason) {
    if (keyword == "ctrlrules") {
        RulesDescription rules;
        if (!readName(words, rules.name)) return (reason = "expected: ctrlrules <name>", false);
        tables.push_back(std::move(rules));
        return true;
    }
    if (tables.empty()) return (reason = keyword + " before any control rules table", false);
    RulesDescription& table = tables.back();
    if (keyword == "ctrlelement") {
        if (table.rules.empty()) return (reason = "a control rule element before any control rule", false);
        ElementDescription element;
        if (!readElement(words, element))
            return (reason = "expected: ctrlelement <animation> <flags> <duration> <blend> <start> <length> <speed>",
                    false);
        table.rules.back().elements.push_back(std::move(element));
        return true;
    }
    RuleDescription rule;
    std::string category;
    if (!(words >> category)) return (reason = "expected: ctrlrule <category> and five masks", false);
    rule.category = -1;
    for (std::int32_t k = 0; k < kAnimationControlCategories; ++k)
        if (category == kAnimationControlCategoryNames[k]) rule.category = k;
    if (rule.category < 0) return (reason = "unknown rule category [" + category + "]", false);
    for (std::int32_t k = 0; k < kAnimationControlCategories; ++k) {
        std::string mask;
        if (!(words >> mask)) return (reason = "expected: ctrlrule <category> and five masks", false);
        if (!readMask(mask, k, rule.masks[k]))
            return (reason = "bad " + std::string(kAnimationControlCategoryNames[k]) + " mask [" + mask + "]", false);
    }
    for (std::string option; words >> option;) {
        if (option != "flags" || !(words >> rule.sequenceFlags))
            return (reason = "unknown rule option [" + option + "]", false);
    }
    table.rules.push_back(std::move(rule));
    return true;
}

}  // namespace

bool parseAnimationLines(std::string_view text, AnimationDescription& out, std::string& rest, std::string& error) {
    std::istringstream lines{std::string(text)};
    std::string content;
    int line = 0;
    rest.clear();
    while (std::getline(lines, content)) {
        ++line;
        std::istringstream words(content.substr(0, content.find('#')));
        std::string keyword;
        words >> keyword;
        const bool mine = keyword == "anim" || keyword == "track" || keyword == "channel" || keyword == "seqelement" ||
                          keyword == "event" ||
                          keyword == "sideevent" || keyword == "attach" || keyword == "map" || keyword == "mapbone" ||
                          keyword == "lip" || keyword == "lipframe" || keyword == "ctrlrules" || keyword == "ctrlrule" ||
                          keyword == "ctrlelement";
        rest += mine ? std::string() : content;
        rest += '\n';
        if (!mine) continue;
        if (keyword == "anim") {
            AnimationFileDescription animation;
            if (!(words >> animation.name >> animation.frameCount))
                return failLine(error, line, "expected: anim <name> <frame count> [loop] [flags <n>]");
            for (std::string option; words >> option;) {
                if (option == "loop") {
                    animation.flags |= 1;
                } else if (option == "flags") {
                    if (!(words >> animation.flags)) return failLine(error, line, "flags needs a number");
                } else {
                    return failLine(error, line, "unknown animation option [" + option + "]");
                }
            }
            out.animations.push_back(std::move(animation));
            continue;
        }
        if (keyword == "ctrlrules" || keyword == "ctrlrule" || keyword == "ctrlelement") {
            std::string reason;
            if (!parseRuleLine(keyword, words, out.rules, reason)) return failLine(error, line, reason);
            continue;
        }
        if (keyword == "lip") {
            LipDescription lip;
            if (!(words >> lip.name >> lip.seconds) || !(lip.seconds > 0.0))
                return failLine(error, line, "expected: lip <name> <seconds>");
            out.lips.push_back(std::move(lip));
            continue;
        }
        if (keyword == "lipframe") {
            if (out.lips.empty()) return failLine(error, line, "a lip frame before any lip track");
            std::array<float, 8> frame{};
            for (float& weight : frame)
                if (!(words >> weight)) return failLine(error, line, "expected: lipframe and eight weights");
            out.lips.back().frames.push_back(frame);
            continue;
        }
        if (keyword == "map" || keyword == "mapbone") {
            if (keyword == "map") {
                TrackerMapDescription map;
                if (!(words >> map.name)) return failLine(error, line, "expected: map <name>");
                out.maps.push_back(std::move(map));
                continue;
            }
            if (out.maps.empty()) return failLine(error, line, "a map bone before any map");
            TrackerMapDescription::Bone bone;
            if (!readName(words, bone.name) || !(words >> bone.weight[0] >> bone.weight[1] >> bone.weight[2] >> bone.weight[3] >>
                  bone.weight[4]))
                return failLine(error, line, "expected: mapbone <bone> <body> <part 1> <part 2> <face> <tracker>");
            out.maps.back().bones.push_back(std::move(bone));
            continue;
        }
        if (out.animations.empty()) return failLine(error, line, keyword + " before any animation");
        AnimationFileDescription& animation = out.animations.back();
        if (keyword == "track") {
            TrackDescription track;
            if (!readName(words, track.bone) || !(words >> track.firstFrame >> track.lastFrame))
                return failLine(error, line, "expected: track <bone> <first frame> <last frame>");
            animation.tracks.push_back(std::move(track));
        } else if (keyword == "channel") {
            if (animation.tracks.empty()) return failLine(error, line, "a channel before any track");
            std::string which;
            ChannelDescription channel;
            if (!(words >> which >> channel.startFrame))
                return failLine(error, line, "expected: channel <component> <start frame> <value> ...");
            const auto at = std::find(std::begin(kChannelNames), std::end(kChannelNames), which);
            if (at == std::end(kChannelNames)) return failLine(error, line, "unknown channel [" + which + "]");
            for (float value; words >> value;) channel.values.push_back(value);
            if (channel.values.empty()) return failLine(error, line, "a channel needs values");
            animation.tracks.back().channels[static_cast<std::size_t>(at - std::begin(kChannelNames))] = channel;
        } else if (keyword == "seqelement") {
            ElementDescription element;
            if (!readElement(words, element))
                return failLine(error, line,
                                "expected: seqelement <animation> <flags> <duration> <blend> <start> <length> <speed>");
            animation.elements.push_back(std::move(element));
        } else if (keyword == "attach") {
            AttachmentDescription particle;
            std::string option;
            if (!(words >> particle.name >> particle.data) || !readName(words, particle.bone))
                return failLine(error, line, "expected: attach <name> <particle data> <bone> [at <x> <y> <z>]");
            if (words >> option &&
                (option != "at" || !(words >> particle.at[0] >> particle.at[1] >> particle.at[2])))
                return failLine(error, line, "expected: attach <name> <particle data> <bone> [at <x> <y> <z>]");
            animation.particles.push_back(std::move(particle));
        } else {
            EventDescription event;
            if (!readEvent(words, event)) return failLine(error, line, "expected: " + keyword + " <from> <to> <name>");
            (keyword == "event" ? animation.events : animation.sideEvents).push_back(std::move(event));
        }
    }
    return true;
}

std::string animationFileBytes(const AnimationFileDescription& animation) {
    std::string out;
    put32(out, static_cast<std::uint32_t>(animation.frameCount));
    put32(out, animation.flags);
    put32(out, static_cast<std::uint32_t>(animation.tracks.size()));
    std::vector<float> pool;
    for (const TrackDescription& track : animation.tracks) {
        for (int c : kFileChannelOrder) {
            const ChannelDescription& channel = track.channels[static_cast<std::size_t>(c)];
            if (channel.values.empty()) {
                put32(out, 0);
                put32(out, static_cast<std::uint32_t>(-1));
                put32(out, static_cast<std::uint32_t>(-1));
                continue;
            }
            put32(out, static_cast<std::uint32_t>(channel.startFrame));
            put32(out, static_cast<std::uint32_t>(pool.size()));
            pool.insert(pool.end(), channel.values.begin(), channel.values.end());
            put32(out, static_cast<std::uint32_t>(pool.size() - 1));
        }
        put32(out, 0);
        put32(out, static_cast<std::uint32_t>(track.firstFrame));
        put32(out, static_cast<std::uint32_t>(track.lastFrame));
        const std::string bone = track.bone.substr(0, 127);
        put16(out, static_cast<std::uint16_t>(bone.size()));
        out += bone;
        put16(out, 0);
    }
    put32(out, static_cast<std::uint32_t>(pool.size()));
    for (float value : pool) putFloat(out, value);
    put32(out, static_cast<std::uint32_t>(animation.elements.size()));
    for (const ElementDescription& element : animation.elements) putElement(out, element);
    put32(out, static_cast<std::uint32_t>(animation.events.size()));
    for (const EventDescription& event : animation.events) {
        putName128(out, event.name);
        put32(out, static_cast<std::uint32_t>(event.from));
        put32(out, static_cast<std::uint32_t>(event.to));
    }
    put32(out, static_cast<std::uint32_t>(animation.particles.size()));
    for (const AttachmentDescription& particle : animation.particles) {
        for (const std::string* name : {&particle.name, &particle.data, &particle.bone}) putName128(out, *name);
        // An identity local matrix at the given offset; size 1.
        const float matrix[12] = {1, 0, 0, 0, 1, 0, 0, 0, 1, particle.at[0], particle.at[1], particle.at[2]};
        for (float value : matrix) putFloat(out, value);
        for (int i = 0; i < 3; ++i) putFloat(out, 1.0f);
    }
    put32(out, 0);  // the second particle list
    return out;
}

std::string eventsFileBytes(const AnimationFileDescription& animation) {
    std::string out;
    for (const EventDescription& event : animation.sideEvents)
        out += std::to_string(event.from) + ".." + std::to_string(event.to) + " " + event.name + "\n";
    return out;
}

std::string trackerMapBytes(const TrackerMapDescription& map) {
    std::vector<TrackerMapDescription::Bone> bones = map.bones;
    std::sort(bones.begin(), bones.end(),
              [](const auto& a, const auto& b) { return std::strcmp(a.name.c_str(), b.name.c_str()) < 0; });
    std::string out;
    put32(out, static_cast<std::uint32_t>(bones.size()));
    for (const TrackerMapDescription::Bone& bone : bones) {
        putName128(out, bone.name);
        for (float weight : bone.weight) putFloat(out, weight);
    }
    return out;
}

std::string rulesFileBytes(const RulesDescription& rules) {
    std::string out;
    const std::string name = rules.name.substr(0, 127);
    out.push_back(static_cast<char>(name.size()));
    out += name;
    for (std::int32_t category = 0; category < kAnimationControlCategories; ++category) {
        std::uint32_t count = 0;
        for (const RuleDescription& rule : rules.rules) count += rule.category == category ? 1 : 0;
        put32(out, count);
        for (const RuleDescription& rule : rules.rules) {
            if (rule.category != category) continue;
            for (std::uint32_t mask : rule.masks) put32(out, mask);
            put32(out, rule.sequenceFlags);
            put32(out, static_cast<std::uint32_t>(rule.elements.size()));
            for (const ElementDescription& element : rule.elements) putElement(out, element);
        }
    }
    return out;
}

std::string lipFileBytes(const LipDescription& lip) {
    MorphTrack track;
    for (const auto& frame : lip.frames) track.frames.push_back(frame);
    track.rate = lip.seconds > 0.0 ? 1.0 / lip.seconds : 0.0;
    track.step = lip.frames.empty() ? 0.0 : 1.0 / double(lip.frames.size());
    MemoryStream stream(true);
    track.write(stream);
    return std::string(reinterpret_cast<const char*>(stream.data()), static_cast<std::size_t>(stream.size()));
}

bool writeAnimationFiles(const AnimationDescription& description, const std::string& folder,
                         std::vector<std::string>* written, std::string* error) {
    const auto store = [&](const std::string& name, const std::string& bytes) {
        const std::string path = folder + "/" + name;
        std::ofstream stored(path, std::ios::binary | std::ios::trunc);
        stored.write(bytes.data(), std::streamsize(bytes.size()));
        if (!stored) {
            if (error) *error = "can't write [" + path + "]";
            return false;
        }
        if (written) written->push_back(name);
        return true;
    };
    for (const AnimationFileDescription& animation : description.animations) {
        if (!store(animation.name + ".ani4", animationFileBytes(animation))) return false;
        if (!animation.sideEvents.empty() && !store(animation.name + ".events", eventsFileBytes(animation)))
            return false;
    }
    for (const TrackerMapDescription& map : description.maps)
        if (!store(map.name + ".amap", trackerMapBytes(map))) return false;
    for (const LipDescription& lip : description.lips)
        if (!store(lip.name + ".lip", lipFileBytes(lip))) return false;
    for (const RulesDescription& rules : description.rules)
        if (!store(rules.name + ".adb", rulesFileBytes(rules))) return false;
    return true;
}

}  // namespace model_tools
