#include "animation/AnimationControl.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>

#include "animation/AnimCtrlRules.h"
#include "animation/AnimationCore.h"
#include "app/EngineGlobals.h"
#include "app/GameCore.h"
#include "foundation/DataStream.h"
#include "foundation/Log.h"
#include "foundation/MersenneTwister.h"
#include "model/Model.h"
#include "scene/Scene.h"

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

// Defined here rather than with the game core's objects, so that a user of
// the control block does not bring in the game core's construction.
constinit PointerArray<void> globalAnimationControls;

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

void AnimationControl::bindRules(const char* requested) {
    controlFlags &= ~kControlRulesBound;
    if (!gameCore.animation) return;
    AnimCtrlRulesManager& manager = gameCore.animation->rules();
    const char* name = requested ? requested : "";
    const char* objectName = owner ? owner->getName() : "";
    char combined[256];
    std::snprintf(combined, sizeof(combined), "%s.%s", name, objectName);
    combined[127] = 0;
    if (!manager.getOrCreate(combined, false)->has(kResourceUnavailable)) {
        copyName128(rulesName, combined);
        controlFlags |= kControlRulesBound;
        return;
    }
    if (!manager.getOrCreate(name, true)->has(kResourceUnavailable)) {
        copyName128(rulesName, name);
        controlFlags |= kControlRulesBound;
        return;
    }
    engineLog().error("Object [%s]: Required animation rules map [%s] for model [%s]", objectName, name,
                      owner ? owner->resourceName : "");
}

namespace {

// The rule of the category that best matches the states; among equal best
// scores a random one. -1 when none matches. The candidates are collected
// in the engine's shared list of the animation control.
std::int32_t chooseRule(const std::vector<AnimCtrlRule>& list, const std::int32_t* states) {
    PointerArray<void>& candidates = globalAnimationControls;
    candidates.clear();
    std::int32_t best = 0;
    for (const AnimCtrlRule& rule : list) {
        const std::int32_t score = rule.score(states);
        if (score <= 0 || score < best) continue;
        if (score > best) {
            candidates.clear();
            best = score;
        }
        candidates.append(const_cast<AnimCtrlRule*>(&rule));
    }
    if (candidates.empty()) return -1;
    const auto r = static_cast<std::uint32_t>(MersenneTwister::nextDouble() * 2147483647.0);
    const auto* chosen = static_cast<const AnimCtrlRule*>(candidates[r % candidates.count()]);
    candidates.clear();
    return static_cast<std::int32_t>(chosen - list.data());
}

// Stand-item animations are the element's animation name followed directly
// by the carried object's name.
bool appendCarriedObject(AnimationSequence& sequence, const Model& owner) {
    Log& log = engineLog();
    Scene* scene = owner.scene();
    GameObject* child = scene ? scene->findLinkedChild(&owner) : nullptr;
    if (!child)
        return log.error("Stand Item require attached child object for model [%s] (%s)", owner.getName(),
                         owner.resourceName);
    const auto* carried = dynamic_cast<const Model*>(child);
    const char* carriedResource = carried ? carried->resourceName : child->recordName();
    bool complete = true;
    for (SequenceElement& element : sequence.elements) {
        char composed[256];
        std::snprintf(composed, sizeof(composed), "%s%s", element.animation, child->getName());
        copyName128(element.animation, composed);
        if (!AnimationStackCompiler::completeElement(element)) {
            log.error("Can't find animation [%s] for object [%s] (%s)", element.animation, child->getName(),
                      carriedResource ? carriedResource : "");
            complete = false;
        }
    }
    return complete;
}

}  // namespace

bool AnimationControl::playControlSequence() {
    if (!(controlFlags & kControlEnabled) || !(controlFlags & kControlRulesBound)) return false;
    if (!gameCore.animation) return false;
    AnimCtrlRulesData* record = gameCore.animation->rules().loadRules(rulesName, true);
    if (!record) return false;
    if (!(changeFlags & kControlChanged)) return true;
    changeFlags &= ~kControlChanged;
    const AnimCtrlRules& table = *record->data;
    bool result = true;
    for (const std::int32_t category : {static_cast<std::int32_t>(AC_STANCE), static_cast<std::int32_t>(AC_ACTION)}) {
        const std::vector<AnimCtrlRule>& list = table.rules[category];
        std::int32_t chosen = chooseRule(list, states);
        // A stance rule is not played over a chosen movement or direction
        // rule.
        if (category == AC_STANCE && (choice[AC_MOVEMENT] > 0 || choice[AC_DIRECTION] > 0)) chosen = -1;
        if (chosen == choice[category]) continue;
        choice[category] = chosen;
        if (chosen < 0 || !owner) continue;
        AnimationSequence working;
        working.flags = list[static_cast<std::size_t>(chosen)].sequence.flags;
        working.assign(list[static_cast<std::size_t>(chosen)].sequence);
        if (category == AC_STANCE && states[AC_STANCE] == kStanceItem && !appendCarriedObject(working, *owner))
            return false;
        if (!working.elements.empty()) {
            SequenceElement& first = working.elements.front();
            if (changeFlags & (kControlWalkToRun | kControlRunToWalk)) first.blend = 1.0;
            blend[category] = static_cast<float>(first.blend);
            double time = first.length;
            if (first.flags & kElementLengthMultiple) time = first.length / first.speed * first.duration;
            if ((first.flags & kElementRandomStart) && time - 1.0 >= 0.0) time -= 1.0;
            playTime[category] = static_cast<float>(time);
        }
        // Traced with the character animator's steps: the states and what
        // the rules chose for them.
        if ((gameCore.debugFlags & DebugCharacterAnimatorLog) && !working.elements.empty())
            engineLog().message("Object [%s] control states [%s %s %s %s %s] choose %s rule %i [%s]",
                                owner->getName(), animationControlValueName(AC_STANCE, states[AC_STANCE]),
                                animationControlValueName(AC_MOVEMENT, states[AC_MOVEMENT]),
                                animationControlValueName(AC_DIRECTION, states[AC_DIRECTION]),
                                animationControlValueName(AC_ACTION, states[AC_ACTION]),
                                animationControlValueName(AC_LOOK, states[AC_LOOK]),
                                kAnimationControlCategoryNames[category], chosen, working.elements.front().animation);
        AnimationStack& stack = owner->animation.stacks[category == AC_STANCE ? 0 : 1];
        if (!stack.pushSequence(working, category, false, false, true)) {
            engineLog().error("Fail to append control animation sequence for object [%s]", owner->getName());
            result = false;
        }
        owner->animation.flags |= kAnimationHasInstances;
    }
    return result;
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
