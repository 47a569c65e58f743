#include "animation/AnimationStack.h"

#include <cmath>
#include <cstdlib>
#include <cstring>

#include "animation/AnimationCore.h"
#include "animation/AnimationDataManager.h"
#include "animation/KeyMath.h"
#include "app/GameCore.h"
#include "foundation/DataStream.h"
#include "foundation/Log.h"
#include "foundation/MersenneTwister.h"
#include "foundation/TimeCore.h"
#include "model/Model.h"

namespace {

double randomUnit() {
    const double r = MersenneTwister::nextDouble();
    return r >= 1.0 ? 0.0 : r;
}

float quaternionDot(const Quaternion& a, const Quaternion& b) {
    return a.x * b.x + a.y * b.y + a.z * b.z + a.w * b.w;
}

// True when the envelope is in its end ramp and that ramp is over within
// the given seconds.
bool fadesOutWithin(const BlenderHeader& b, double seconds) {
    if (b.endTime < 0.0 || b.elapsed < b.endTime) return false;
    const double left = b.end.rate > 0.0 ? b.endTime + 1.0 / b.end.rate - b.elapsed : 0.0;
    return left <= seconds;
}

bool isFadingOut(const AnimationInstance& instance) {
    const BlenderHeader& b = instance.blender;
    return b.enabled && b.endTime >= 0.0 && b.elapsed >= b.endTime;
}

// At most this many instances fade out at once: a push that makes more
// stops and drops the oldest of them, which weigh least.
constexpr std::size_t kMaxFadingInstances = 4;

void dropOldestFading(std::vector<std::unique_ptr<AnimationInstance>>& instances) {
    std::size_t fading = 0;
    for (const auto& instance : instances)
        if (isFadingOut(*instance)) ++fading;
    for (std::size_t i = 0; i < instances.size() && fading > kMaxFadingInstances;) {
        if (isFadingOut(*instances[i])) {
            instances[i]->stop();
            instances.erase(instances.begin() + static_cast<std::ptrdiff_t>(i));
            --fading;
        } else {
            ++i;
        }
    }
}

}  // namespace

AnimationStack::~AnimationStack() { clear(); }

void AnimationStack::removeInstance(std::size_t index) {
    instances_[index]->stop();
    instances_.erase(instances_.begin() + static_cast<std::ptrdiff_t>(index));
}

void AnimationStack::clear() {
    idleSequence.clear();
    idleEnvelope = BlenderHeader();
    sequenceClock = 0.0;
    storedPart = -1;
    for (auto& instance : instances_) instance->stop();
    std::vector<std::unique_ptr<AnimationInstance>>().swap(instances_);
}

bool AnimationStack::pushSequence(const AnimationSequence& sequence, std::int32_t part, bool append,
                                  bool idleRestart, bool control) {
    bool appendSwitch = append;
    if (!idleRestart) {
        if (!append && !(sequence.flags & kSequenceIdle)) {
            idleSequence.clear();
            idleEnvelope = BlenderHeader();
            appendSwitch = false;
            if (sequence.flags & kSequenceAppend) appendSwitch = true;
        }
        if (append || (sequence.flags & kSequenceIdle)) {
            // Copied first: the sequence may be the stored one itself.
            const std::vector<SequenceElement> elements = sequence.elements;
            idleSequence.elements = elements;
            storedPart = part;
            appendSwitch = true;
        }
    } else if (!append && (sequence.flags & kSequenceAppend)) {
        idleSequence.clear();
        appendSwitch = true;
    }
    // The idle restart pushes the stored sequence: work on a copy.
    const std::vector<SequenceElement> elements = sequence.elements;
    bool result = true;
    for (std::size_t i = 0; i < elements.size(); ++i) {
        const SequenceElement* next = i + 1 < elements.size() ? &elements[i + 1] : nullptr;
        if (!pushElement(elements[i], next, i == 0, part, appendSwitch, control)) result = false;
    }
    return result;
}

bool AnimationStack::pushElement(const SequenceElement& element, const SequenceElement* next, bool first,
                                 std::int32_t part, bool append, bool control) {
    Log& log = engineLog();
    const bool zeroBlend = element.blend == 0.0;
    const bool wasEmpty = instances_.empty();
    if (first && !instances_.empty()) {
        sequenceClock = element.blend;
        for (auto& instance : instances_) {
            BlenderHeader& b = instance->blender;
            if (!b.enabled || b.level == 0.0f) {
                instance->rewind();
                instance->pendingStart.clearAll();
                instance->pendingEnd.clearAll();
                instance->fired.clearAll();
                if ((instance->flags & kInstancePushed) && instance->isInitialized()) instance->pop();
                // One pushed in this frame has not risen yet: it stops at
                // level 0, or it would rise and play on beside the new one.
                if (b.enabled) b.stop();
            } else if (!fadesOutWithin(b, element.blend)) {
                // One already fading out keeps its ramp when that ends no
                // later than the new one: restarting it at every push
                // would keep it alive for as long as pushes come faster
                // than the blend period.
                b.setEnd(0.0, element.blend);
            }
        }
        sequenceClock = 0.0;
        dropOldestFading(instances_);
    }
    AnimationInstance* reused = nullptr;
    if (control && !instances_.empty()) {
        AnimationInstance& newest = *instances_.back();
        if (std::strncmp(newest.name, element.animation, sizeof(newest.name)) == 0 &&
            newest.speed == static_cast<float>(element.speed)) {
            reused = &newest;
            if (instances_.size() == 1) sequenceClock = 0.0;
        }
    }
    double start = element.start;
    if (!(element.flags & kElementStartFraction)) start = element.duration > 0.0 ? start / element.duration : 0.0;
    if (element.flags & kElementRandomStart) start = randomUnit();
    double playTime = element.length;
    if (element.flags & kElementLengthMultiple) {
        // A speed of 0 (or none at all) gives no play time.
        if (!(element.speed > 0.0) || !std::isfinite(element.speed))
            return log.error("Can't play animation [%s]: invalid speed", element.animation);
        playTime = element.length / element.speed * element.duration;
    }
    if (element.flags & kElementRandomStart) {
        const double d = element.speed > 0.0 ? 1.0 - (element.duration / element.speed) * start : 0.0;
        playTime -= d;
        if (playTime < 0.0) playTime += d;
    }
    if (!std::isfinite(playTime) || playTime < 0.0)
        return log.error("Can't play animation [%s]: invalid play time", element.animation);
    sequenceClock += playTime;
    double wait = 0.0;
    if (reused) {
        wait = 0.0;
    } else if (!instances_.empty()) {
        wait = instances_.back()->remainingTime();
        if (!(wait > 0.0)) wait = 0.0;
    }
    AnimationInstance* instance = reused;
    if (!reused) {
        std::unique_ptr<AnimationInstance> slot;
        std::uint32_t startFlags = 0;
        if (element.flags & kElementReverse) startFlags |= kInstanceReverse;
        if (element.flags & kElementLoop) startFlags |= kInstanceLoop;
        if (!createInstance(slot, element.animation, static_cast<float>(element.speed), start, startFlags, part))
            return false;
        instance = slot.get();
        instances_.push_back(std::move(slot));
    }
    BlenderHeader& b = instance->blender;
    b.setLow(0.0f);
    b.setHigh(1.0f);
    if (!b.enabled) b.run();
    else b.restart();
    if (zeroBlend || wasEmpty) b.level = 1.0f;
    b.setStart(wait, element.blend);
    if (next) {
        // It fades out as its successor fades in, from the level its rise
        // has reached by then; the rise itself stays (an end set on a
        // running envelope would drop it and hold the level it starts at).
        const BlenderFade rise = b.start;
        const double riseAt = b.startTime;
        b.setEnd(wait + playTime, next->blend);
        b.start = rise;
        b.startTime = riseAt;
        const double x = rise.rate < 0.0 ? 1.0 : std::fmin(1.0, playTime * rise.rate);
        const float reached = rise.from + (rise.to - rise.from) * rise.curve(static_cast<float>(x));
        b.end.from = 1.0f - reached;
        // One that ends before it rises has nothing to fade: it ends at once.
        if (!(reached > 0.0f)) b.end.rate = -1.0;
    }
    if (!next && append) {
        // The idle envelope ends with the sequence; the stack then pushes
        // the stored sequence again.
        idleEnvelope = BlenderHeader();
        idleEnvelope.setHigh(1.0f);
        idleEnvelope.run();
        idleEnvelope.level = 1.0f;
        idleEnvelope.setStart(0.0, 0.0);
        idleEnvelope.setEnd(wait + playTime, 0.001);
    }
    if (!reused && owner_ && (owner_->stateWords[0] & kModelInContext) && !instance->isInitialized()) {
        if (!instance->initialize()) {
            log.error("\r\n\r\nCan't use animation [%s] for model [%s] (object [%s]) - bone name's DIFFERENT",
                      element.animation, owner_->resourceName, owner_->getName());
            instances_.pop_back();
            return false;
        }
        // A model in the scene keeps its playing animations registered.
        instance->push();
    }
    return true;
}

bool AnimationStack::createInstance(std::unique_ptr<AnimationInstance>& slot, const char* name, float speed,
                                    double position, std::uint32_t startFlags, std::int32_t part) {
    Log& log = engineLog();
    if (slot) return log.error("Can't initialize animation [%s]: Already used", name ? name : "");
    Y3AnimData* record =
        gameCore.animation && name && name[0] ? gameCore.animation->animations().getOrCreate(name, true) : nullptr;
    if (!record) return log.error("Fail create animation [%s]", name ? name : "");
    slot = std::make_unique<AnimationInstance>(owner_, record, record->name, startFlags);
    AnimationInstance& instance = *slot;
    instance.part = part;
    instance.direction = 1.0f;
    instance.position = instance.previousPosition = (startFlags & kInstanceReverse) ? 1.0 : 0.0;
    if (startFlags & kInstanceRandomDirection) instance.direction = std::rand() % 10 < 6 ? -1.0f : 1.0f;
    if (startFlags & kInstanceReverse) instance.direction = -instance.direction;
    if (startFlags & kInstanceRandomStart) instance.position = instance.previousPosition = randomUnit();
    if (position != instance.position && std::isfinite(position))
        instance.position = instance.previousPosition = position;
    if (speed != instance.speed && !instance.setSpeed(speed)) {
        slot.reset();
        return log.error("Fail create animation [%s]", name);
    }
    return true;
}

bool AnimationStack::update(const CurrentTime& time, bool idle) {
    sequenceClock = std::fmax(0.0, sequenceClock - time.game.step);
    if (idleEnvelope.enabled) {
        idleEnvelope.update(time);
        if (!idleEnvelope.enabled && !idleSequence.elements.empty()) {
            const AnimationSequence again = idleSequence;
            pushSequence(again, storedPart, true, true, false);
        }
    }
    if (instances_.empty()) return false;
    if (idle && owner_) owner_->stateWords[0] |= kModelPaletteRefresh;
    bool changed = false;
    for (auto& instance : instances_) {
        instance->update(time, idle);
        if (instance->flags & kInstanceChanged) changed = true;
        // An envelope whose end ramp is over but that stands at a level of
        // 0 stays enabled (it never reaches the ramp's last step): it has
        // finished all the same.
        BlenderHeader& b = instance->blender;
        if (b.enabled && b.level == 0.0f && b.endTime >= 0.0 &&
            b.elapsed >= b.endTime + (b.end.rate > 0.0 ? 1.0 / b.end.rate : 0.0))
            b.stop();
    }
    // Clean-up: a finished instance goes wherever it stands, except the
    // newest while another still plays (a control push may take it up
    // again, and the next element waits on it); nothing playing empties
    // the stack.
    bool anyEnabled = false;
    for (const auto& instance : instances_) anyEnabled = anyEnabled || instance->blender.enabled;
    if (!anyEnabled) {
        for (auto& instance : instances_) instance->stop();
        instances_.clear();
        return changed;
    }
    for (std::size_t i = 0; i + 1 < instances_.size();) {
        if (!instances_[i]->blender.enabled) removeInstance(i);
        else ++i;
    }
    return changed;
}

bool AnimationStack::takeChanged() {
    bool changed = owner_ && (owner_->stateWords[0] & (kModelHasRoot | kModelHasController | kModelMainCharacter));
    for (auto& instance : instances_) {
        if (instance->flags & kInstanceChanged) changed = true;
        instance->flags &= ~kInstanceChanged;
    }
    return changed;
}

bool AnimationStack::evaluateBone(BoneTransform& pose, BoneTransform& motion, const BoneTransform& additive,
                                  std::int32_t bone, const float* partWeights, std::uint32_t mode) {
    const BoneTransform reference = pose;
    float total = 0.0f;
    for (auto& instance : instances_) {
        if (!instance->blender.enabled) {
            if (instance->remainingTime() >= 0.0) instance->weight = 0.0f;
            continue;
        }
        const std::int32_t part = instance->part;
        const float partWeight = partWeights && part >= 0 && part < 5 ? partWeights[part] : 0.0f;
        instance->weight = instance->blender.level * partWeight;
        total += instance->weight;
    }
    if (total == 0.0f) return false;
    const float inv = 1.0f / total;
    BoneTransform sample = BoneTransform::identity();
    BoneTransform accumulated = BoneTransform::zero();
    bool any = false;
    for (auto& instance : instances_) {
        if (!instance->blender.enabled || (instance->remainingTime() < 0.0 && instance->blender.endTime >= 0.0))
            continue;
        if (!instance->sampleBone(bone, sample, inv, mode)) continue;
        if (mode & kSampleRootMotion) {
            float* m = motion.values();
            float* gathered = instance->rootMotion.accumulated.values();
            for (int i = 0; i < 10; ++i) m[i] += gathered[i], gathered[i] = 0.0f;
        }
        if (mode & kSampleAdditive) {
            float* s = sample.values();
            const float* a = additive.values();
            for (int i = 0; i < 10; ++i) s[i] += a[i];
        }
        // The weighted difference from the reference; the scale is not
        // kept (the pose's scale is reset below).
        const float w = instance->weight;
        const bool far = onFarHemisphere(quaternionDot(reference.rotation, sample.rotation));
        const float* r = &reference.rotation.x;
        const float* s = &sample.rotation.x;
        float* acc = &accumulated.rotation.x;
        for (int c = 0; c < 4; ++c) acc[c] += w * (far ? -(r[c] + s[c]) : s[c] - r[c]);
        for (int c = 0; c < 3; ++c) accumulated.translation[c] += w * (sample.translation[c] - reference.translation[c]);
        any = true;
    }
    if (any) {
        pose.rotation.x += accumulated.rotation.x;
        pose.rotation.y += accumulated.rotation.y;
        pose.rotation.z += accumulated.rotation.z;
        pose.rotation.w += accumulated.rotation.w;
        for (int c = 0; c < 3; ++c) pose.translation[c] += accumulated.translation[c];
    }
    pose.scale[0] = pose.scale[1] = pose.scale[2] = 1.0f;
    normalizeRotation(pose.rotation);
    return any;
}

bool AnimationStack::push() {
    bool result = true;
    for (auto& instance : instances_) {
        // An invalid instance (its data cannot be loaded) takes no part.
        if (instance->flags & (kInstancePushed | kInstanceInvalid)) continue;
        if (!instance->push()) result = false;
    }
    return result;
}

bool AnimationStack::pop() {
    bool result = true;
    for (auto& instance : instances_)
        if ((instance->flags & kInstancePushed) && !instance->pop()) result = false;
    return result;
}

float AnimationStack::getSpeed(std::int32_t part) const {
    for (const auto& instance : instances_)
        if (instance->part == part && instance->isInitialized()) return instance->speed;
    return 0.0f;
}

float AnimationStack::getDirection(std::int32_t part) const {
    for (const auto& instance : instances_)
        if (instance->part == part && instance->isInitialized()) return instance->direction;
    return 0.0f;
}

float AnimationStack::getPosition(std::int32_t part) const {
    double sum = 0.0;
    for (const auto& instance : instances_)
        if (instance->part == part && instance->isInitialized()) sum += instance->weight * instance->position;
    return static_cast<float>(sum);
}

bool AnimationStack::isPlaying() const {
    for (const auto& instance : instances_)
        if (instance->isInitialized() && instance->isPlaying() && instance->position != 0.0 &&
            !(instance->flags & kInstanceHold))
            return true;
    return false;
}

std::int32_t AnimationStack::write(DataStream& s) const {
    std::int32_t total = 0;
    if (!addField(total, writeF64(s, sequenceClock))) return total;
    if (!addField(total, idleEnvelope.write(s))) return total;
    if (!addField(total, writeI32(s, storedPart))) return total;
    if (!addField(total, idleSequence.write(s))) return total;
    if (!addField(total, writeI32(s, static_cast<std::int32_t>(instances_.size())))) return total;
    for (const auto& instance : instances_)
        if (!addField(total, instance->write(s))) return total;
    return total;
}

std::int32_t AnimationStack::read(DataStream& s) {
    clear();
    std::int32_t total = 0;
    if (!addField(total, readF64(s, sequenceClock))) return total;
    if (!addField(total, idleEnvelope.read(s))) return total;
    if (!addField(total, readI32(s, storedPart))) return total;
    if (!addField(total, idleSequence.read(s))) return total;
    std::int32_t count = 0;
    if (!addField(total, readI32(s, count))) return total;
    // Each saved instance takes at least its two length bytes.
    if (count < 0 || count > bytesLeft(s) / 2) {
        engineLog().error("Can't load animation stack: invalid instance count %i", count);
        return -1;
    }
    for (std::int32_t i = 0; i < count; ++i) {
        AnimationInstance* slot = nullptr;
        const std::int32_t result = AnimationInstance::read(s, slot, owner_);
        if (slot) instances_.emplace_back(slot);
        if (!addField(total, result)) return total;
    }
    return total;
}
