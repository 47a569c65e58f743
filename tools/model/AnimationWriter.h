// The animation data writer: animation files (".ani4" with their ".events"
// text) and tracker maps (".amap") from the lines of a model description.
// The engine reads these files but never writes them, so the writer lays
// their bytes out itself.
//
// Description lines (they may stand in a model description; the model
// writer gets the other lines):
//   anim <name> <frame count> [loop] [flags <n>]
//       starts an animation (flags: the raw flag word, for damaged files)
//   track <bone> <first frame> <last frame>
//       adds a bone track to the last animation
//   channel <tx|ty|tz|sx|sy|sz|rx|ry|rz|rw> <start frame> <value> ...
//       animates one component of the last track: one value a frame from
//       the start frame on (the values go into the animation's pool)
//   seqelement <animation> <flags> <duration> <blend> <start> <length> <speed>
//       a sequence element stored in the ".ani4" file
//   event <from> <to> <name>
//       an event stored in the ".ani4" file
//   sideevent <from> <to> <name>
//       a line "<from>..<to> <name>" of the animation's ".events" file
//   attach <name> <particle data> <bone> [at <x> <y> <z>]
//       a particle the last animation attaches to its model while it plays
//       (named "<object>.<name>"; its "particle=<name>" event starts it);
//       a bone name with spaces is written in double quotes
//   map <name>
//       starts a tracker map
//   mapbone <bone> <body> <part 1> <part 2> <face> <tracker>
//       adds a bone with its five weights to the last map
//   lip <name> <seconds>
//       starts a lip-sync track (".lip") of that length
//   lipframe <A> <Z> <U> <TH> <E> <MBP> <VF> <SH>
//       appends a frame of eight mouth-shape weights to the last track
//   ctrlrules <name>
//       starts an animation rules table (".adb")
//   ctrlrule <category> <stance> <movement> <direction> <action> <look> [flags <n>]
//       adds a rule to the category (stance, movement, direction, action or
//       look) of the last table; each mask is value names joined by "|"
//       (walk|run), "*" for every value, or the raw mask word in
//       hexadecimal (0x1ff)
//   ctrlelement <animation> <flags> <duration> <blend> <start> <length> <speed>
//       appends a compiled sequence element to the last rule
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace model_tools {

struct ChannelDescription {
    std::int32_t startFrame = 0;
    std::vector<float> values;  // empty: not animated
};

struct TrackDescription {
    std::string bone;
    std::int32_t firstFrame = 0;
    std::int32_t lastFrame = 0;
    // tx ty tz, sx sy sz, rx ry rz rw.
    std::array<ChannelDescription, 10> channels;
};

struct EventDescription {
    std::int32_t from = 0;
    std::int32_t to = 0;
    std::string name;
};

struct AttachmentDescription {
    std::string name;
    std::string data;
    std::string bone;
    float at[3] = {};
};

struct ElementDescription {
    std::uint32_t flags = 0;
    std::string animation;
    double duration = 0.0;
    double blend = 0.0;
    double start = 0.0;
    double length = 0.0;
    double speed = 0.0;
};

struct AnimationFileDescription {
    std::string name;
    std::int32_t frameCount = 0;
    std::uint32_t flags = 0;
    std::vector<TrackDescription> tracks;
    std::vector<ElementDescription> elements;
    std::vector<EventDescription> events;
    std::vector<EventDescription> sideEvents;
    std::vector<AttachmentDescription> particles;
};

struct TrackerMapDescription {
    std::string name;
    struct Bone {
        std::string name;
        float weight[5] = {};
    };
    std::vector<Bone> bones;
};

struct LipDescription {
    std::string name;
    double seconds = 0.0;
    std::vector<std::array<float, 8>> frames;
};

struct RuleDescription {
    std::int32_t category = 0;
    std::uint32_t masks[5] = {};
    std::uint32_t sequenceFlags = 0;
    std::vector<ElementDescription> elements;
};

struct RulesDescription {
    std::string name;
    std::vector<RuleDescription> rules;
};

struct AnimationDescription {
    std::vector<AnimationFileDescription> animations;
    std::vector<TrackerMapDescription> maps;
    std::vector<LipDescription> lips;
    std::vector<RulesDescription> rules;
};

// Takes the animation lines of a description into out; every other line
// goes to rest, in its place (the taken lines stay there as empty lines, so
// line numbers hold). False, with the line and the reason in error, for an
// animation line it cannot read.
bool parseAnimationLines(std::string_view text, AnimationDescription& out, std::string& rest, std::string& error);

// The ".ani4" bytes: frame count, flags, the tracks (translation,
// rotation, scale channels, three words, u16 name, u16), the value pool,
// the 176-byte sequence elements, the 136-byte events, the 444-byte
// particle attachments and an empty second particle list.
std::string animationFileBytes(const AnimationFileDescription& animation);
// The ".events" text: one "<from>..<to> <name>" line each.
std::string eventsFileBytes(const AnimationFileDescription& animation);
// The ".lip" bytes, written by the engine's own track writer (rate
// 1 / seconds, step 1 / frame count).
std::string lipFileBytes(const LipDescription& lip);
// The ".amap" bytes: the count and the 148-byte entries in bone-name order.
std::string trackerMapBytes(const TrackerMapDescription& map);

// The ".adb" bytes: u8 name length and name, then for each category in
// order the rule count and each rule's five masks, sequence flags, element
// count and 176-byte elements.
std::string rulesFileBytes(const RulesDescription& rules);

// Writes <name>.ani4 (and <name>.events when it has side events) of every
// animation, <name>.amap of every map, <name>.lip of every track and
// <name>.adb of every rules table into folder.
bool writeAnimationFiles(const AnimationDescription& description, const std::string& folder,
                         std::vector<std::string>* written, std::string* error);

}  // namespace model_tools
