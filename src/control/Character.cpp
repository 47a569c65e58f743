#include "control/Character.h"

#include <cstring>

#include "app/GameCore.h"
#include "control/CharacterAnimator.h"
#include "control/MovementEncoder.h"
#include "control/PhysicsModel.h"
#include "foundation/DataStream.h"
#include "foundation/Log.h"
#include "input/InputCore.h"
#include "model/Model.h"
#include "scene/Scene.h"

namespace {

const char* const kUnsupportedState =
    "Unsupported character controller state value. Possible values is: [action, stance, movement, direction and look]";

}  // namespace

Character::Character(Model& owner) : ModelController(owner) {
    quaternionFromMatrix(owner.worldMatrix, orientation);
    encoder_ = std::make_unique<MovementEncoder>(*this);
    animator_ = std::make_unique<CharacterAnimator>(*this);
    resetInput();
    directions = 0;
    updateDirection();
}

Character::~Character() {
    if (animator_ && animator_->active()) {
        engineLog().error("Stop character [%s] target before destructor call", owner().getName());
        animator_->stop(kAnimatorWait);
    }
    encoder_.reset();
    animator_.reset();
}

AnimationControl& Character::control() { return animator_->control; }
const AnimationControl& Character::control() const { return animator_->control; }

bool Character::update(const CurrentTime& time) {
    animator_->update(time);
    if (!owner().link.parent().value) encoder_->update(time);
    return true;
}

void Character::moveLocal(const float* displacement, const float* rotation) {
    float world[3];
    localToWorld(displacement, world);
    encoder_->addMotion(world, rotation);
}

bool Character::setPose(const Matrix34& pose, double time) {
    resetPositionSmoother(pose.m + 9, time);
    Model& model = owner();
    // The view starts over behind the model's facing.
    if (isMainCharacter()) aimMainViewBehind(pose, time);
    quaternionFromMatrix(pose, orientation);
    if (PhysicsModel* physics = model.attachedPhysics()) return physics->applyPoseToActors(pose);
    return true;
}

bool Character::isMainCharacter() const { return isMainCharacterModel(owner()); }

void Character::getOrientation(Matrix33& out) const { quaternionToMatrix33(orientation, out); }

void Character::stopSilently() { animator_->stop(kAnimatorDisabled); }

void Character::stopTarget() {
    if (animator_->active()) animator_->stop(kAnimatorWait);
}

void Character::bindAnimationRules(const char* rulesName) { control().bindRules(rulesName); }

void Character::copyControlState(const AnimationControl& source) { setAnimationControlState(control(), source); }

bool Character::isBusy() const { return animator_->state != kAnimatorDisabled && animator_->target != nullptr; }

void Character::onMainCharacter() {
    resetInput();
    directions = 0;
    updateDirection();
    eyeHeight = -1.0f;
}

void Character::detach() { animator_->stop(kAnimatorWait); }

bool Character::setEvent(const char* event, const char* handler) {
    return storeEventHandler(handlers, event, handler);
}

bool Character::onActionDone(const char* action) {
    if (animationControlValueByName(AC_ACTION, action) < 0)
        engineLog().error("Invalid AC_ACTION map name [%s]", action ? action : "");
    return animator_->onActionDone();
}

std::string Character::getCurrentState(const char* attribute) {
    return controlStateName(control(), attribute, kUnsupportedState);
}

bool Character::EyeGET(Matrix34& out) { return animator_->getLookPoint(out); }

void Character::clearHandlers() { std::memset(handlers, 0, sizeof(handlers)); }

bool Character::stay() {
    const bool result = animator_->go(kTargetNone, nullptr, 0.0f, 0.0f, 0);
    clearHandlers();
    return result;
}

bool Character::go2waypoint(const char* target, bool direct) {
    const bool result = animator_->go(direct ? kTargetDirectWaypoint : kTargetWaypoint, target, 0.0f, 0.0f, 0);
    clearHandlers();
    return result;
}

bool Character::follow2model(const char* objectName, float nearDistance, float farDistance) {
    const bool result = animator_->go(kTargetFollow, objectName, nearDistance, farDistance, 0);
    clearHandlers();
    return result;
}

bool Character::go2trajectory(const char* waypoint, std::int32_t randomStart) {
    const bool result = animator_->go(kTargetTrajectory, waypoint, 0.0f, 0.0f, randomStart);
    clearHandlers();
    return result;
}

std::int32_t Character::write(DataStream& stream) {
    std::int32_t total = 0;
    if (!addField(total, writeU32(stream, flags)) || !addField(total, writeU32(stream, directions))) return total;
    const float q[4] = {orientation.x, orientation.y, orientation.z, orientation.w};
    if (writeFloats(stream, q, 4, total) < 0 || !addField(total, writeF32(stream, eyeHeight))) return total;
    if (!addField(total, encoder_->write(stream)) || !addField(total, animator_->write(stream))) return total;
    if (writeFloats(stream, speeds, 8, total) < 0) return total;
    for (const char* handler : handlers)
        if (!addField(total, writeString16(stream, handler, kHandlerSize))) return total;
    return total;
}

std::int32_t Character::read(DataStream& stream) {
    Log& log = engineLog();
    std::int32_t total = 0;
    std::uint32_t savedFlags = 0, savedDirections = 0;
    float q[4] = {};
    float savedEye = -1.0f;
    if (!addField(total, readU32(stream, savedFlags)) || !addField(total, readU32(stream, savedDirections)) ||
        readFloats(stream, q, 4, total) < 0 || !addField(total, readF32(stream, savedEye)))
        return total;
    // The encoder and the animator read into fresh copies; the running ones
    // change only once the whole record has been read.
    MovementEncoder encoder(*this);
    if (!addField(total, encoder.read(stream))) return total;
    auto animator = std::make_unique<CharacterAnimator>(*this);
    const auto discard = [&] {
        // The copy's path link is the record's, not its own.
        animator->path = GameObjectLink{};
        animator->state = kAnimatorDisabled;
    };
    if (!addField(total, animator->read(stream))) {
        discard();
        return total;
    }
    float savedSpeeds[8] = {};
    char savedHandlers[3][kHandlerSize] = {};
    if (readFloats(stream, savedSpeeds, 8, total) < 0) {
        discard();
        return total;
    }
    for (auto& handler : savedHandlers) {
        const std::int32_t read = readString16(stream, handler, kHandlerSize);
        if (read < 0) {
            if (bytesLeft(stream) > 0)
                log.error("Can't read character [%s]: a handler name is longer than 127 characters", owner().getName());
            discard();
            return read;
        }
        total += read;
    }
    // The old animator goes as on deletion, keeping a path object the record
    // names.
    if (animator_->path.value == animator->path.value) animator_->path = GameObjectLink{};
    animator_ = std::move(animator);
    *encoder_ = encoder;
    encoder_->owner = this;
    flags = savedFlags;
    directions = savedDirections;
    orientation = Quaternion{q[0], q[1], q[2], q[3]};
    eyeHeight = savedEye;
    std::memcpy(speeds, savedSpeeds, sizeof(savedSpeeds));
    std::memcpy(handlers, savedHandlers, sizeof(handlers));
    resetInput();
    return total;
}

float Character::getEyeHeight(bool force) {
    if (eyeHeight < 0.0f || force) eyeHeight = owner().getEyeHeight(false);
    return (isCrouch() ? 0.55f : 0.93f) * eyeHeight;
}

void Character::addPosition(Matrix34& matrix) {
    for (int k = 0; k < 3; ++k) matrix.m[9 + k] += owner().worldMatrix.m[9 + k];
}

void Character::resetInput() {
    directions &= ~(kForward | kBackward | kLeft | kRight);
    flags &= ~(kRunKey | kMoving | kAutoWalk | kForwardKey | kBackwardKey | kLeftKey | kRightKey);
    updateDirection();
}

void Character::setDirectionBit(std::uint32_t bit, bool on) {
    if (on)
        directions |= bit;
    else
        directions &= ~bit;
}

void Character::updateDirection() {
    const bool forward = directions & kForward, backward = directions & kBackward;
    const bool left = directions & kLeft, right = directions & kRight;
    std::int32_t direction = kDirectionNone;
    if (forward != backward) {
        direction = forward ? kDirectionForward : kDirectionBack;
        if (left != right)
            direction = forward ? (left ? kDirectionForwardLeft : kDirectionForwardRight)
                                : (left ? kDirectionBackLeft : kDirectionBackRight);
    } else if (left != right) {
        direction = left ? kDirectionLeft : kDirectionRight;
    }
    AnimationControl& block = control();
    block.setState(AC_DIRECTION, direction);
    if (direction != kDirectionNone) {
        block.setMovement(isRun() ? kMovementRun : kMovementWalk);
        flags |= kMoving;
    } else {
        block.setMovement(kMovementIdle);
        flags &= ~kMoving;
    }
    block.playControlSequence();
}

void Character::updateStance() {
    const std::int32_t stance = isItem() ? kStanceItem : isCrouch() ? kStanceCrouch : kStanceStand;
    control().setState(AC_STANCE, stance);
    updateDirection();
}

void Character::setForwardKey(bool pressed) {
    if (pressed) {
        flags |= kForwardKey;
        flags &= ~kAutoWalk;
    } else {
        flags &= ~kForwardKey;
    }
    setDirectionBit(kForward, ((flags & kForwardKey) != 0) != ((flags & kAutoWalk) != 0));
    updateDirection();
}

void Character::setBackwardKey(bool pressed) {
    if (pressed) {
        flags |= kBackwardKey;
        directions |= kBackward;
        flags &= ~kAutoWalk;
        setForwardKey((flags & kForwardKey) != 0);
        return;
    }
    flags &= ~kBackwardKey;
    directions &= ~kBackward;
    updateDirection();
}

void Character::setLeftKey(bool pressed) {
    if (pressed) flags |= kLeftKey;
    else flags &= ~kLeftKey;
    setDirectionBit(kLeft, pressed);
    updateDirection();
}

void Character::setRightKey(bool pressed) {
    if (pressed) flags |= kRightKey;
    else flags &= ~kRightKey;
    setDirectionBit(kRight, pressed);
    updateDirection();
}

void Character::flipCrouch() {
    flags ^= kCrouch;
    updateStance();
}

void Character::flipItem() {
    flags ^= kItem;
    updateStance();
}

void Character::setCrouch(bool on) {
    if (isCrouch() != on) flags ^= kCrouch;
    updateStance();
}

void Character::setItem(bool on) {
    if (isItem() != on) flags ^= kItem;
    updateStance();
}

void Character::stopRun() { setRun((flags & kRunToggle) != 0); }

void Character::applyRunChange() {
    setDirectionBit(kForward, ((flags & kForwardKey) != 0) != ((flags & kAutoWalk) != 0));
    control().setMovement((flags & kMoving) ? (isRun() ? kMovementRun : kMovementWalk) : kMovementIdle);
    updateDirection();
}

void Character::setRun(bool on) {
    if (((flags & kRunKey) != 0) == on) return;
    if (on) flags |= kRunKey;
    else flags &= ~kRunKey;
    applyRunChange();
}

void Character::flipRun() {
    flags ^= kRunToggle;
    applyRunChange();
}

void Character::setAutoWalk(bool clear) {
    if (clear) flags &= ~kAutoWalk;
    else flags ^= kAutoWalk;
    setForwardKey(false);
    setBackwardKey(false);
    setLeftKey(false);
    setRightKey(false);
}

float Character::speed() const {
    const std::int32_t index = 4 * (isRun() ? 1 : 0) + 2 * (isCrouch() ? 1 : 0);
    const bool moving = (flags & kMoving) != 0;
    const float forward = moving ? speeds[index] : 0.0f;
    const float side = moving ? speeds[index + 1] : 0.0f;
    switch (control().state(AC_DIRECTION)) {
    case kDirectionForward:
    case kDirectionBack: return forward;
    case kDirectionLeft:
    case kDirectionRight: return side;
    case kDirectionForwardLeft:
    case kDirectionForwardRight:
    case kDirectionBackLeft:
    case kDirectionBackRight: return 0.4f * forward + 0.6f * side;
    default: return 0.0f;
    }
}
