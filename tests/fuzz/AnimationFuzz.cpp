// Fuzz targets of the animation files with their events, the sequence
// compiler and the tracker maps.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

#include "animation/AnimCtrlRules.h"
#include "animation/AnimationCore.h"
#include "animation/AnimationDataManager.h"
#include "animation/AnimationSequence.h"
#include "animation/MorphTrack.h"
#include "app/GameCore.h"
#include "foundation/DataStream.h"
#include "fuzz/FuzzTarget.h"
#include "model/AnimationWriter.h"

namespace fuzzing {

namespace {

// The animations and maps every seed starts from.
const char* kSeedAnimations =
    "anim walk 26 loop\n"
    "track root 0 25\n"
    "channel tx 2 0 0.1 0.2 0.3 0.4\n"
    "channel rw 0 1\n"
    "seqelement walk 10 1 1 0 1 1\n"
    "event 3 7 footstep\n"
    "sideevent 16 20 splash\n"
    "anim run 11\n"
    "track root 0 10\n"
    "track spine 2 8\n"
    "channel sz 0 1 1.1\n"
    "map default\n"
    "mapbone root 1 0 0 0 0\n"
    "mapbone head 1 0 0 1 0.5\n";

model_tools::AnimationDescription seedDescription() {
    model_tools::AnimationDescription description;
    std::string rest;
    std::string error;
    model_tools::parseAnimationLines(kSeedAnimations, description, rest, error);
    return description;
}

bool terminated(const char* field, std::size_t size) { return std::memchr(field, 0, size) != nullptr; }

// An animation core in the game core whose "walk", "run" and "one" are
// loaded from the writer's bytes (no package database: the records are
// given their streams). Made again when dropped.
AnimationCore* preparedCore = nullptr;

AnimationCore& sequenceCore() {
    if (!preparedCore) {
        preparedCore = new AnimationCore;
        model_tools::AnimationDescription description = seedDescription();
        model_tools::AnimationFileDescription one;
        one.name = "one";
        one.frameCount = 1;
        description.animations.push_back(one);
        for (const auto& animation : description.animations) {
            const std::string bytes = model_tools::animationFileBytes(animation);
            MemoryStream stream(const_cast<char*>(bytes.data()), static_cast<std::int32_t>(bytes.size()));
            Y3AnimData* record = preparedCore->animations().getOrCreate(animation.name.c_str(), false);
            record->flags &= ~kResourceUnavailable;
            preparedCore->animations().loadHeader(record, &stream);
        }
    }
    gameCore.animation = preparedCore;
    return *preparedCore;
}

}  // namespace

// The input's first four bytes give the size of the ".ani4" part; what
// follows it is the ".events" text. An accepted file holds only channels
// inside its pool, events inside its frame range and terminated names.
int fuzzAnimation(const std::uint8_t* data, std::size_t size) {
    if (size < 4 || size > (1u << 20)) return 0;
    std::uint32_t split = 0;
    std::memcpy(&split, data, 4);
    const std::size_t fileSize = std::min<std::size_t>(split, size - 4);
    MemoryStream stream(const_cast<std::uint8_t*>(data + 4), static_cast<std::int32_t>(fileSize));
    AnimationData animation;
    const std::int32_t result = animation.read(stream, "fuzz");
    if (result >= 0) {
        fuzzCheck(result <= static_cast<std::int32_t>(fileSize), "animation: more bytes read than given");
        for (const AnimationTrack& track : animation.tracks) {
            fuzzCheck(terminated(track.boneName, sizeof(track.boneName)), "animation: a bone name runs on");
            for (std::int32_t frame : {INT32_MIN, -1, 0, track.firstFrame, track.lastFrame, INT32_MAX}) {
                const AnimationChannel* channels[] = {track.translation, track.scale, track.rotation};
                for (std::int32_t g = 0; g < 3; ++g)
                    for (std::int32_t c = 0; c < (g == 2 ? 4 : 3); ++c) {
                        const std::int32_t index = track.valueIndex(channels[g][c], frame);
                        fuzzCheck(index < static_cast<std::int32_t>(animation.values.size()),
                                  "animation: a channel reads past its pool");
                    }
            }
        }
        const std::int32_t last = animation.frameCount - 1;
        for (const AnimationEvent& event : animation.events) {
            fuzzCheck(terminated(event.name, sizeof(event.name)), "animation: an event name runs on");
            const bool inRange = last < 0 ? event.from == last && event.to == last
                                          : event.from >= 0 && event.from <= last && event.to >= 0 && event.to <= last;
            fuzzCheck(inRange, "animation: an event outside the frame range");
        }
    }
    const std::size_t before = animation.events.size();
    const std::string text(reinterpret_cast<const char*>(data + 4 + fileSize), size - 4 - fileSize);
    animation.parseEvents(text);
    std::size_t lines = 0;
    for (char c : text) lines += c == '\n';
    fuzzCheck(animation.events.size() - before <= lines, "animation: more events than lines");
    for (std::size_t i = before; i < animation.events.size(); ++i)
        fuzzCheck(terminated(animation.events[i].name, sizeof(animation.events[i].name)) &&
                      animation.events[i].name[0] > 32,
                  "animation: an event line's name is malformed");
    forgetLog();
    return 0;
}

void seedAnimation(std::vector<std::string>& out) {
    for (const auto& animation : seedDescription().animations) {
        const std::string bytes = model_tools::animationFileBytes(animation);
        const std::uint32_t split = static_cast<std::uint32_t>(bytes.size());
        std::string input(4, '\0');
        std::memcpy(input.data(), &split, 4);
        out.push_back(input + bytes + model_tools::eventsFileBytes(animation) + "3..4 a\r\n5.9 x\n");
    }
}

// The input is a sequence text. Every element compiled (also before an
// error) holds values the save record accepts, and the record of the
// sequence reads back to the same bytes.
int fuzzSequence(const std::uint8_t* data, std::size_t size) {
    if (size > 4096) return 0;
    AnimationCore& core = sequenceCore();
    const std::string text(reinterpret_cast<const char*>(data), strnlen(reinterpret_cast<const char*>(data), size));
    AnimationSequence sequence;
    AnimationStackCompiler::compileSequence(text.c_str(), sequence);
    for (const SequenceElement& element : sequence.elements) {
        fuzzCheck(sequenceElementValid(element), "sequence: an element the save record refuses");
        fuzzCheck(terminated(element.animation, sizeof(element.animation)), "sequence: a name runs on");
    }
    MemoryStream written(true);
    const std::int32_t bytes = sequence.write(written);
    written.setPosition(0);
    AnimationSequence read;
    fuzzCheck(read.read(written) == bytes && read.elements.size() == sequence.elements.size() &&
                  (read.elements.empty() || std::memcmp(read.elements.data(), sequence.elements.data(),
                                                        read.elements.size() * sizeof(SequenceElement)) == 0),
              "sequence: the save record does not read back");
    // Names the text made up stay as unavailable records: keep their number
    // bounded.
    if (core.animations().count() > 1000) {
        gameCore.animation = nullptr;
        delete preparedCore;
        preparedCore = nullptr;
    }
    forgetLog();
    return 0;
}

void seedSequence(std::vector<std::string>& out) {
    for (const char* text : {"[walk]", "0.3[x0.5 run x2 ,1.5]", "^[-walk]", "&[walk][run]", "[x* walk 4]",
                             "*[walk][run]  ", "[walk ,0]", "x0.3[walk]", "[one]", "[walk"})
        out.push_back(text);
}

// The input is a map file. An accepted map was read to the size its count
// gives and holds terminated names; a refused one leaves no map.
int fuzzTrackerMap(const std::uint8_t* data, std::size_t size) {
    if (size > (1u << 20)) return 0;
    MemoryStream stream(const_cast<std::uint8_t*>(data), static_cast<std::int32_t>(size));
    std::unique_ptr<std::vector<AnimationMapEntry>> map;
    const std::int32_t result = readMapData("fuzz", stream, map);
    if (result < 0) {
        fuzzCheck(map == nullptr, "trackermap: a refused map was kept");
    } else {
        fuzzCheck(map != nullptr && result == static_cast<std::int32_t>(4 + map->size() * sizeof(AnimationMapEntry)),
                  "trackermap: the map's size is not the bytes read");
        for (const AnimationMapEntry& entry : *map)
            fuzzCheck(terminated(entry.boneName, sizeof(entry.boneName)), "trackermap: a bone name runs on");
    }
    forgetLog();
    return 0;
}

void seedTrackerMap(std::vector<std::string>& out) {
    for (const auto& map : seedDescription().maps) out.push_back(model_tools::trackerMapBytes(map));
    out.push_back(std::string(4, '\0'));
}

// The input is an ".adb" rules file. An accepted table has a terminated
// name and holds only elements the sequence compiler could make; a refused
// one keeps no rule.
int fuzzAnimationRules(const std::uint8_t* data, std::size_t size) {
    if (size > (1u << 20)) return 0;
    MemoryStream stream(const_cast<std::uint8_t*>(data), static_cast<std::int32_t>(size));
    AnimCtrlRules table;
    const std::int32_t result = table.read(stream);
    std::size_t rules = 0;
    for (const auto& list : table.rules) rules += list.size();
    if (result < 0) {
        fuzzCheck(rules == 0, "animrules: a refused table kept rules");
    } else {
        fuzzCheck(terminated(table.name, sizeof(table.name)), "animrules: the name runs on");
        fuzzCheck(result <= static_cast<std::int32_t>(size), "animrules: more bytes read than given");
        const std::int32_t states[kAnimationControlCategories] = {1, 2, 1, 0, 1};
        for (const auto& list : table.rules)
            for (const AnimCtrlRule& rule : list) {
                const std::int32_t score = rule.score(states);
                fuzzCheck(score == -1 || (score >= 5 && score <= 50), "animrules: a score out of its range");
                for (const SequenceElement& element : rule.sequence.elements) {
                    fuzzCheck(terminated(element.animation, sizeof(element.animation)),
                              "animrules: an animation name runs on");
                    fuzzCheck(sequenceElementValid(element), "animrules: an element the compiler could not make");
                }
            }
    }
    forgetLog();
    return 0;
}

void seedAnimationRules(std::vector<std::string>& out) {
    model_tools::AnimationDescription description;
    std::string rest, error;
    model_tools::parseAnimationLines("ctrlrules walker\n"
                                     "ctrlrule stance stand idle * none * flags 1\n"
                                     "ctrlelement walker.idle 8 2 0.2 0 1 1\n"
                                     "ctrlelement walker.idle2 2 2 0.2 0 2 1\n"
                                     "ctrlrule stance stand walk|run fw * *\n"
                                     "ctrlelement walker.walk 8 1.2 0.3 0 1 1\n"
                                     "ctrlrule action * * * greeting|sign middle\n"
                                     "ctrlelement walker.wave 0 1 0.2 0 1 1.5\n"
                                     "ctrlrules empty\n",
                                     description, rest, error);
    for (const auto& rules : description.rules) out.push_back(model_tools::rulesFileBytes(rules));
}

// The input is a ".lip" track. An accepted track has frames, a positive
// finite rate and was read to exactly its frames' size.
int fuzzLip(const std::uint8_t* data, std::size_t size) {
    if (size > (1u << 22)) return 0;
    MemoryStream stream(const_cast<std::uint8_t*>(data), static_cast<std::int32_t>(size));
    MorphTrack track;
    const std::int32_t result = track.read(stream, "fuzz");
    if (result < 0) {
        fuzzCheck(track.frames.empty(), "lip: a refused track kept frames");
    } else {
        fuzzCheck(!track.frames.empty() && track.rate > 0.0 && std::isfinite(track.rate), "lip: a track that cannot play");
        fuzzCheck(result == static_cast<std::int32_t>(20 + 32 * track.frames.size()), "lip: size is not the bytes read");
    }
    forgetLog();
    return 0;
}

void seedLip(std::vector<std::string>& out) {
    model_tools::AnimationDescription description;
    std::string rest, error;
    model_tools::parseAnimationLines("lip talk 2\nlipframe 1 0 0 0 0 0 0 0\nlipframe 0 0 0 0 1 0 0 0.5\n"
                                     "lip empty 1\n",
                                     description, rest, error);
    for (const auto& lip : description.lips) out.push_back(model_tools::lipFileBytes(lip));
}

// The input is a ".trk" text. An accepted track has frames, a positive
// finite rate and finite weights.
int fuzzTrk(const std::uint8_t* data, std::size_t size) {
    if (size > (1u << 20)) return 0;
    MemoryStream stream(const_cast<std::uint8_t*>(data), static_cast<std::int32_t>(size));
    MorphTrack track;
    if (MorphDataManager::parseTrack(track, stream)) {
        fuzzCheck(!track.frames.empty() && track.frames.size() <= kMorphMaxFrames, "trk: frame count out of bounds");
        fuzzCheck(track.rate > 0.0 && std::isfinite(track.rate), "trk: a track that cannot play");
        for (const MorphFrame& frame : track.frames)
            for (float weight : frame) fuzzCheck(std::isfinite(weight), "trk: a weight is not finite");
    }
    forgetLog();
    return 0;
}

void seedTrk(std::vector<std::string>& out) {
    out.push_back("[common]\nSamplesPerSecNumerator 22050\nSamplesPerSecDenominator 256\n[channels]\nA\nx\nMBP\n"
                  "[data]\n0.5\t0.1\t0.9\n0\t0\t0\n");
    out.push_back("[channels]\nE\nE\n[data]\n1\n");
    out.push_back("text\n");
}

}  // namespace fuzzing
