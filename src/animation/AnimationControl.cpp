#include "animation/AnimationControl.h"

#include <algorithm>
#include <cctype>
#include <cstring>

#include "foundation/DataStream.h"
#include "foundation/Log.h"

namespace {

const char* const kStanceNames[] = {"crouch", "stand", "stand_item"};
const char* const kMovementNames[] = {"idle", "rotate", "walk", "run", "jump", "fall", "land"};
const char* const kDirectionNames[] = {"none", "fw", "bk", "left", "right", "fw+left", "fw+right", "bk+left",
                                       "bk+right"};
const char* const kActionNames[] = {"none",       "open",       "knock",   "glass",     "pick",     "greeting",
                                    "sign",       "look",       "speak",   "listen",    "take_floor",
                                    "take_table", "take_up",    "open_door", "put_floor", "put_table", "put_up"};
const char* const kLookNames[] = {"high", "middle", "low"};

const char* const kInvalidMessages[kAnimationControlCategories] = {
    "invalid animation state AC_STANCE value", "invalid animation state AC_MOVEMENT value",
    "invalid animation state AC_DIRECTION value", "invalid animation state AC_ACTION value",
    "invalid animation state AC_LOOK value"};

bool inRange(std::int32_t category, std::int32_t value) {
    return value >= 0 && value < kAnimationControlCounts[category];
}

}  // namespace

const char* const kAnimationControlCategoryNames[kAnimationControlCategories] = {"stance", "movement", "direction",
                                                                                 "action", "look"};
const char* const* const kAnimationControlValueNames[kAnimationControlCategories] = {
    kStanceNames, kMovementNames, kDirectionNames, kActionNames, kLookNames};

const char* animationControlValueName(std::int32_t category, std::int32_t value) {
    if (category < 0 || category >= kAnimationControlCategories || !inRange(category, value)) return "unknown";
    return kAnimationControlValueNames[category][value];
}

std::int32_t animationControlValueByName(std::int32_t category, const char* name) {
    if (category < 0 || category >= kAnimationControlCategories || !name) return -1;
    char lower[128] = {};
    for (std::size_t i = 0; i < sizeof(lower) - 1 && name[i]; ++i)
        lower[i] = static_cast<char>(std::tolower(static_cast<unsigned char>(name[i])));
    for (std::int32_t v = 0; v < kAnimationControlCounts[category]; ++v)
        if (std::strcmp(lower, kAnimationControlValueNames[category][v]) == 0) return v;
    return -1;
}

void AnimationControl::setEnabled(bool on) {
    const bool changed = enabled() != on;
    if (on) {
        controlFlags |= kControlEnabled;
    } else {
        controlFlags &= ~kControlEnabled;
        changeFlags |= kControlChanged;
    }
    if (!changed) return;
    std::fill(choice, choice + kAnimationControlCategories, -2);
    std::fill(blend, blend + kAnimationControlCategories, 0.0f);
    std::fill(playTime, playTime + kAnimationControlCategories, 0.0f);
}

bool AnimationControl::setState(std::int32_t category, std::int32_t value) {
    if (category < 0 || category >= kAnimationControlCategories) return false;
    if (value >= kAnimationControlCounts[category] || value < 0) return engineLog().error("%s", kInvalidMessages[category]);
    if (states[category] == value) return true;
    states[category] = value;
    changeFlags = (changeFlags & ~(kControlWalkToRun | kControlRunToWalk)) | kControlChanged;
    return true;
}

bool AnimationControl::setMovement(std::int32_t value) {
    const std::int32_t old = states[AC_MOVEMENT];
    if (!setState(AC_MOVEMENT, value)) return false;
    if (old == kMovementRun && value == kMovementWalk) changeFlags |= kControlRunToWalk;
    if (old == kMovementWalk && value == kMovementRun) changeFlags |= kControlWalkToRun;
    return true;
}

bool AnimationControl::playControlSequence() {
    if (!(controlFlags & kControlEnabled) || !(controlFlags & kControlRulesBound)) return false;
    // Bound rules exist only once a rules map is loaded; nothing else plays.
    changeFlags &= ~kControlChanged;
    return true;
}

void AnimationControl::reduceActionTimer(double seconds) {
    const double left = static_cast<double>(playTime[AC_ACTION]) - seconds;
    playTime[AC_ACTION] = left > 0.0 ? static_cast<float>(left) : 0.0f;
}

std::int32_t AnimationControl::write(DataStream& stream) const {
    std::int32_t total = 0;
    if (!addField(total, writeU32(stream, changeFlags))) return total;
    for (std::int32_t value : states)
        if (!addField(total, writeI32(stream, value))) return total;
    if (!addField(total, writeU32(stream, controlFlags))) return total;
    for (std::int32_t value : choice)
        if (!addField(total, writeI32(stream, value))) return total;
    if (writeFloats(stream, blend, kAnimationControlCategories, total) < 0) return total;
    if (writeFloats(stream, playTime, kAnimationControlCategories, total) < 0) return total;
    addField(total, writeString16(stream, rulesName, sizeof(rulesName)));
    return total;
}

std::int32_t AnimationControl::read(DataStream& stream) {
    AnimationControl staged(owner);
    std::int32_t total = 0;
    if (!addField(total, readU32(stream, staged.changeFlags))) return total;
    for (std::int32_t& value : staged.states)
        if (!addField(total, readI32(stream, value))) return total;
    if (!addField(total, readU32(stream, staged.controlFlags))) return total;
    for (std::int32_t& value : staged.choice)
        if (!addField(total, readI32(stream, value))) return total;
    if (readFloats(stream, staged.blend, kAnimationControlCategories, total) < 0) return total;
    if (readFloats(stream, staged.playTime, kAnimationControlCategories, total) < 0) return total;
    const std::int32_t name = readString16(stream, staged.rulesName, sizeof(staged.rulesName));
    if (name < 0) {
        engineLog().error("Can't read animation control: its rules name is longer than 127 characters");
        return name;
    }
    total += name;
    for (std::int32_t category = 0; category < kAnimationControlCategories; ++category)
        if (!inRange(category, staged.states[category])) {
            engineLog().error("%s", kInvalidMessages[category]);
            return -1;
        }
    *this = staged;
    return total;
}

void setAnimationControlState(AnimationControl& block, const AnimationControl& source) {
    block.setEnabled(true);
    block.setState(AC_STANCE, source.states[AC_STANCE]);
    block.setMovement(source.states[AC_MOVEMENT]);
    block.setState(AC_DIRECTION, source.states[AC_DIRECTION]);
    block.setState(AC_ACTION, source.states[AC_ACTION]);
    block.setState(AC_LOOK, source.states[AC_LOOK]);
}
