#include "control/BoatControl.h"

#include <cstring>

#include "animation/AnimationControl.h"
#include "control/BoatAnimator.h"
#include "control/BoatEncoder.h"
#include "control/MovementEncoder.h"
#include "control/PhysicsModel.h"
#include "foundation/DataStream.h"
#include "foundation/Log.h"
#include "model/Model.h"

namespace {

const char* const kUnsupportedState =
    "Unsupported Boat controller state value. Possible values is: [action, stance, movement, direction and look]";

void setBit(std::uint32_t& word, std::uint32_t bit, bool on) {
    if (on) word |= bit;
    else word &= ~bit;
}

}  // namespace

BoatControl::BoatControl(Model& owner) : ModelController(owner) {
    quaternionFromMatrix(owner.worldMatrix, orientation);
    encoder_ = std::make_unique<BoatEncoder>(*this);
    animator_ = std::make_unique<BoatAnimator>(*this);
    resetInput();
    inputFlags = 0;
    updateDirection();
}

BoatControl::~BoatControl() {
    if (animator_ && animator_->moving()) {
        engineLog().error("Stop boat [%s] target before destructor call", owner().getName());
        animator_->stop(kBoatStopped);
    }
    if (animator_) animator_->reset();
    animator_.reset();
    encoder_.reset();
}

AnimationControl& BoatControl::control() { return animator_->control; }
const AnimationControl& BoatControl::control() const { return animator_->control; }

bool BoatControl::update(const CurrentTime& time) {
    animator_->update(time);
    if (!owner().link.parent().value) encoder_->apply(time);
    return true;
}

void BoatControl::moveLocal(const float* displacement, const float* rotation) {
    float world[3];
    localToWorld(displacement, world);
    encoder_->addMotion(rotation, world);
}

bool BoatControl::setPose(const Matrix34& pose, double time) {
    resetPositionSmoother(pose.m + 9, time);
    Model& model = owner();
    if (isMainCharacterModel(model)) aimMainViewBehind(pose, time);
    quaternionFromMatrix(pose, orientation);
    if (PhysicsModel* physics = model.attachedPhysics()) return physics->applyPoseToActors(pose);
    return true;
}

void BoatControl::getOrientation(Matrix33& out) const { quaternionToMatrix33(orientation, out); }

void BoatControl::stopSilently() { animator_->stop(kBoatIdle); }

void BoatControl::stopTarget() {
    if (animator_->moving()) animator_->stop(kBoatStopped);
}

void BoatControl::copyControlState(const AnimationControl& source) { setAnimationControlState(control(), source); }

bool BoatControl::isBusy() const { return animator_->state != kBoatIdle && animator_->target != nullptr; }

void BoatControl::onMainCharacter() {
    resetInput();
    inputFlags = 0;
    updateDirection();
}

void BoatControl::detach() { animator_->stop(kBoatStopped); }

bool BoatControl::setEvent(const char* event, const char* handler) {
    return storeEventHandler(handlers, event, handler);
}

bool BoatControl::onActionDone(const char* action) {
    if (action && action[0] && animationControlValueByName(AC_ACTION, action) < 0)
        engineLog().error("Invalid AC_ACTION map name [%s]", action);
    return animator_->finishAction();
}

std::string BoatControl::getCurrentState(const char* attribute) {
    return controlStateName(control(), attribute, kUnsupportedState);
}

bool BoatControl::EyeGET(Matrix34& out) { return animator_->getEyePoint(out); }

void BoatControl::clearHandlers() { std::memset(handlers, 0, sizeof(handlers)); }

bool BoatControl::stay() {
    animator_->stop(kBoatStopped);
    // The move is over: its target goes, so the boat is no longer busy.
    animator_->target.reset();
    clearHandlers();
    return true;
}

bool BoatControl::go2waypoint(const char* target, bool direct) {
    const bool result = animator_->go(direct ? kTargetDirectWaypoint : kTargetWaypoint, target, 0.0f, 0.0f);
    clearHandlers();
    return result;
}

bool BoatControl::follow2model(const char* objectName, float nearDistance, float farDistance) {
    const bool result = animator_->go(kTargetFollow, objectName, nearDistance, farDistance);
    clearHandlers();
    return result;
}

std::int32_t BoatControl::write(DataStream& stream) {
    std::int32_t total = 0;
    const float q[4] = {orientation.x, orientation.y, orientation.z, orientation.w};
    if (writeFloats(stream, q, 4, total) < 0) return total;
    if (!addField(total, writeU32(stream, keyFlags)) || !addField(total, writeU32(stream, inputFlags)) ||
        !addField(total, writeF32(stream, eyeHeight)) || !addField(total, writeF64(stream, savedDouble)) ||
        !addField(total, writeI32(stream, savedInt)))
        return total;
    if (!addField(total, encoder_->write(stream)) || !addField(total, animator_->write(stream))) return total;
    for (const char* handler : handlers)
        if (!addField(total, writeString16(stream, handler, kHandlerSize))) return total;
    writeFloats(stream, speeds, kSavedSpeedEntries, total);
    return total;
}

std::int32_t BoatControl::read(DataStream& stream) {
    std::int32_t total = 0;
    float q[4] = {};
    std::uint32_t savedKeys = 0, savedInput = 0;
    float savedEye = -1.0f;
    double savedD = 0.0;
    std::int32_t savedI = 0;
    if (readFloats(stream, q, 4, total) < 0) return total;
    if (!addField(total, readU32(stream, savedKeys)) || !addField(total, readU32(stream, savedInput)) ||
        !addField(total, readF32(stream, savedEye)) || !addField(total, readF64(stream, savedD)) ||
        !addField(total, readI32(stream, savedI)))
        return total;
    // The encoder and the animator read into fresh copies; the running ones
    // change only once the whole record has been read.
    BoatEncoder encoder(*this);
    if (!addField(total, encoder.read(stream))) return total;
    auto animator = std::make_unique<BoatAnimator>(*this);
    const auto discard = [&] {
        // The copy's path link and target are the record's, not its own.
        animator->pathLink = GameObjectLink{};
        animator->state = kBoatIdle;
        animator->target.reset();
    };
    if (!addField(total, animator->read(stream))) {
        discard();
        return total;
    }
    char savedHandlers[3][kHandlerSize] = {};
    for (auto& handler : savedHandlers) {
        const std::int32_t read = readString16(stream, handler, kHandlerSize);
        if (read < 0) {
            engineLog().error("Can't read boat [%s]: a handler name is damaged or longer than 127 characters",
                              owner().getName());
            discard();
            return read;
        }
        total += read;
    }
    float savedSpeeds[kSavedSpeedEntries] = {};
    if (readFloats(stream, savedSpeeds, kSavedSpeedEntries, total) < 0) {
        discard();
        return total;
    }
    // The old animator goes as on deletion, keeping a path grid the record
    // names.
    if (animator_->pathLink.value == animator->pathLink.value) animator_->pathLink = GameObjectLink{};
    animator_->reset();
    animator_ = std::move(animator);
    *encoder_ = encoder;
    encoder_->controller = this;
    orientation = Quaternion{q[0], q[1], q[2], q[3]};
    keyFlags = savedKeys;
    inputFlags = savedInput;
    eyeHeight = savedEye;
    savedDouble = savedD;
    savedInt = savedI;
    std::memcpy(handlers, savedHandlers, sizeof(handlers));
    std::memcpy(speeds, savedSpeeds, sizeof(savedSpeeds));
    // Held keys and the run key are not kept. While the animator moves the
    // boat the control states are its own: the restored block stays as saved.
    inputFlags &= ~(kWantForward | kWantBackward | kWantLeft | kWantRight);
    keyFlags &= ~(kRunSet | kMoving | kAutoWalk | kForwardKey | kBackwardKey | kLeftKey | kRightKey);
    if (!animator_->moving()) updateDirection();
    return total;
}

float BoatControl::getEyeHeight(bool force) {
    if (eyeHeight < 0.0f || force) eyeHeight = owner().getEyeHeight(false);
    return eyeHeight * 0.93f;
}

void BoatControl::addPosition(Matrix34& matrix) {
    for (int k = 0; k < 3; ++k) matrix.m[9 + k] += owner().worldMatrix.m[9 + k];
}

void BoatControl::resetInput() {
    inputFlags &= ~(kWantForward | kWantBackward | kWantLeft | kWantRight);
    keyFlags &= ~(kRunSet | kMoving | kAutoWalk | kForwardKey | kBackwardKey | kLeftKey | kRightKey);
    updateDirection();
}

void BoatControl::updateDirection() {
    keyFlags &= ~kMoving;
    const bool forward = inputFlags & kWantForward, backward = inputFlags & kWantBackward;
    const bool left = inputFlags & kWantLeft, right = inputFlags & kWantRight;
    std::int32_t direction = kDirectionNone;
    bool turning = false;
    if (forward != backward) {
        keyFlags |= kMoving;
        direction = forward ? kDirectionForward : kDirectionBack;
    } else if (left != right) {
        // The left key turns the boat to the right and the right key to the
        // left.
        turning = true;
        direction = left ? kDirectionRight : kDirectionLeft;
    }
    AnimationControl& block = control();
    block.setState(AC_DIRECTION, direction);
    const bool walking = direction != kDirectionNone && direction != kDirectionLeft && direction != kDirectionRight;
    block.setMovement(walking ? kMovementWalk : turning ? kMovementRotate : kMovementIdle);
    if (direction != kDirectionNone) block.setEnabled(true);
}

void BoatControl::updateStance() {
    control().setState(AC_STANCE, isItem() ? kStanceItem : isCrouch() ? kStanceCrouch : kStanceStand);
    updateDirection();
}

void BoatControl::setForwardWanted(bool on) { setBit(inputFlags, kWantForward, on); }

void BoatControl::setForwardKey(bool pressed) {
    if (pressed) {
        keyFlags |= kForwardKey;
        keyFlags &= ~kAutoWalk;
    } else {
        keyFlags &= ~kForwardKey;
    }
    setForwardWanted(((keyFlags & kAutoWalk) != 0) != pressed);
    updateDirection();
}

void BoatControl::setBackwardKey(bool pressed) {
    if (pressed) {
        keyFlags |= kBackwardKey;
        inputFlags |= kWantBackward;
        keyFlags &= ~kAutoWalk;
        setForwardKey((keyFlags & kForwardKey) != 0);
        return;
    }
    keyFlags &= ~kBackwardKey;
    inputFlags &= ~kWantBackward;
    updateDirection();
}

void BoatControl::setLeftKey(bool pressed) {
    setBit(keyFlags, kLeftKey, pressed);
    setBit(inputFlags, kWantLeft, pressed);
    updateDirection();
}

void BoatControl::setRightKey(bool pressed) {
    setBit(keyFlags, kRightKey, pressed);
    setBit(inputFlags, kWantRight, pressed);
    updateDirection();
}

void BoatControl::flipCrouch() {
    keyFlags ^= kCrouch;
    updateStance();
}

void BoatControl::flipItem() {
    keyFlags ^= kItem;
    updateStance();
}

void BoatControl::setCrouch(bool on) {
    if (isCrouch() == on) return;
    keyFlags ^= kCrouch;
    updateStance();
}

void BoatControl::setItem(bool on) {
    if (isItem() == on) return;
    keyFlags ^= kItem;
    updateStance();
}

void BoatControl::stopRun() { setRun((keyFlags & kRunFlipped) != 0); }

void BoatControl::setRun(bool on) {
    setBit(keyFlags, kRunSet, on);
    setForwardWanted(((keyFlags & kForwardKey) != 0) != ((keyFlags & kAutoWalk) != 0));
    updateDirection();
}

void BoatControl::flipRun() {
    setForwardWanted(((keyFlags & kForwardKey) != 0) != ((keyFlags & kAutoWalk) != 0));
    keyFlags ^= kRunFlipped;
    updateDirection();
}

void BoatControl::setAutoWalk(bool clear) {
    if (clear) keyFlags &= ~kAutoWalk;
    else keyFlags ^= kAutoWalk;
    setForwardKey(false);
    setBackwardKey(false);
    setLeftKey(false);
    setRightKey(false);
}
