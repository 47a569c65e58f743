#include "control/BoatAnimator.h"

#include <algorithm>
#include <cmath>

#include "app/GameCore.h"
#include "control/BoatControl.h"
#include "control/BoatEncoder.h"
#include "control/CharacterAnimator.h"
#include "control/ControlSettings.h"
#include "control/Grid.h"
#include "foundation/DataStream.h"
#include "foundation/Log.h"
#include "foundation/TimeCore.h"
#include "model/Model.h"
#include "script/ScriptCall.h"

namespace {

constexpr float kDegree = 0.017453292f;
// The turns measure their angle at this speed (radians a second); only the
// angle is used.
constexpr float kTurnMeasureSpeed = 1.0f;

float horizontalLength(const float* v) { return std::sqrt(v[0] * v[0] + v[2] * v[2]); }

}  // namespace

BoatAnimator::BoatAnimator(BoatControl& owner) : model(&owner.owner()), controller(&owner), control(&owner.owner()) {
    control.states[AC_STANCE] = kStanceStand;
    control.states[AC_LOOK] = 1;
    control.setEnabled(false);
}

BoatAnimator::~BoatAnimator() { reset(); }

Grid* BoatAnimator::pathGrid() const { return linkedPathGrid(*model, pathLink); }

void BoatAnimator::reset() {
    if (pathGrid()) removePathGrid(*model, pathLink);
    if (moving()) stop(kBoatStopped);
    target.reset();
    if (state != kBoatIdle) {
        state = kBoatIdle;
        timeInState = 0.0;
    }
}

bool BoatAnimator::go(std::int32_t kind, const char* name, float first, float second) {
    target.reset();
    if (gameCore.debugFlags & DebugCharacterAnimatorLog)
        engineLog().message("Controller[%s]: go to [%s]", model->getName(), name ? name : "none");
    const char* text = name ? name : "";
    switch (kind) {
    case kTargetWaypoint: target = std::make_unique<ControllerTarget_WAYPOINT>(text); break;
    case kTargetFollow: target = std::make_unique<ControllerTarget_FOLLOW>(text, first, second); break;
    case kTargetWorld:
    case kTargetLocal: return engineLog().error("Invalid character animation go() function call.");
    default: break;
    }
    setState(kBoatStart);
    return true;
}

void BoatAnimator::clearMotionStates() {
    control.setState(AC_ACTION, 0);
    control.setMovement(kMovementIdle);
    control.setState(AC_DIRECTION, kDirectionNone);
}

void BoatAnimator::stop(std::int32_t next) {
    control.setEnabled(true);
    clearMotionStates();
    control.playControlSequence();
    control.setEnabled(false);
    setState(next);
}

void BoatAnimator::setState(std::int32_t requested) {
    if (requested == state) return;
    std::int32_t next = requested;
    switch (requested) {
    case kBoatStart:
        if (state == kBoatFirstTurn) next = kBoatFirstTurn;
        break;
    case kBoatSwim: raiseBeforeFinish(); break;
    case kBoatFinished: raiseFinished(); break;
    case kBoatArriveRequest:
        next = kBoatArrived;
        raiseBeforeFinish();
        break;
    case kBoatRealignRequest: next = state == kBoatFinished ? kBoatRealign : state; break;
    default: break;
    }
    if (next == state) return;
    timeInState = 0.0;
    state = next;
}

bool BoatAnimator::finishAction() {
    if (state != kBoatAction) return false;
    raiseActionDone();
    setState(kBoatFinishing);
    return true;
}

void BoatAnimator::raiseBeforeFinish() {
    const char* handler = controller->handlers[BoatControl::kOnBeforeMoveDone];
    if (!handler[0]) return;
    ScriptEventArgs args;
    args.append(handler);
    args.append(model->getName());
    postScriptEventWithArgs(args, "BoatAnimator.onBeforeFinish");
}

void BoatAnimator::raiseFinished() {
    const char* handler = controller->handlers[BoatControl::kOnMoveDone];
    if (handler[0]) {
        ScriptEventArgs args;
        args.append(handler);
        args.append(model->getName());
        postScriptEventWithArgs(args, "BoatAnimator.onFinished");
    }
    stop(kBoatStopped);
}

void BoatAnimator::raiseActionDone() {
    const char* handler = controller->handlers[BoatControl::kOnActionDone];
    if (!handler[0]) return;
    ScriptEventArgs args;
    args.append(handler);
    args.append(model->getName());
    args.append(target ? target->getName() : "none");
    args.append(target ? animationControlValueName(AC_ACTION, target->getAction()) : "none");
    postScriptEventWithArgs(args, "BoatAnimator.onBeforeFinish");
}

void BoatAnimator::forward(float* out) const {
    out[0] = model->worldMatrix.m[0];
    out[1] = 0.0f;
    out[2] = model->worldMatrix.m[2];
}

void BoatAnimator::targetStep(const CurrentTime& time) {
    Grid* grid = requirePathGrid(*model, pathLink);
    if (!grid) return;
    Matrix34 way;
    std::copy(grid->endPose, grid->endPose + 12, way.m);
    Matrix34 aim = way;
    const bool notSwimming = state < kBoatFirstTurn || state > kBoatSwimNear;
    bool reaim = state == kBoatRealign;
    if (target->update(time, aim, model->worldMatrix, way, notSwimming)) {
        // The grid is looked up half a metre above the water.
        Matrix34 raised = aim;
        raised.m[10] += 0.5f;
        const float from[3] = {model->worldMatrix.m[9], model->worldMatrix.m[10] + 0.5f, model->worldMatrix.m[11]};
        if (routeToAim(*grid, from, raised, kBoatPathLimit, false)) {
            setState(kBoatStart);
            reaim = false;
        }
    }
    Matrix33 facing;
    std::copy(grid->endPose, grid->endPose + 9, facing.m);
    if (target->getFacing(facing, model->worldMatrix, reaim)) {
        std::copy(facing.m, facing.m + 9, grid->endPose);
        if (state == kBoatFinished) setState(kBoatRealign);
    }
}

void BoatAnimator::turnOnTheSpot(const CurrentTime& time) {
    const float torque[3] = {0.0f, boatSettings.stayTorquePower, 0.0f};
    controller->encoder().setTurn(torque, time);
}

void BoatAnimator::update(const CurrentTime& time) {
    const float dt = static_cast<float>(time.game.step);
    BoatEncoder& encoder = controller->encoder();
    encoder.active = 0;
    if (state != kBoatIdle && target) {
        checkPathGridLink(*model, pathLink, "Boat");
        targetStep(time);
    }
    Grid* grid = state != kBoatIdle && target ? pathGrid() : nullptr;
    // Without a route there is nowhere to go: the boat keeps its state.
    const bool routed = grid && (grid->flags & kGridRoutePresent);
    if (target && (state <= kBoatStopped || routed)) {
        const BoatSettings& s = boatSettings;
        float wanted[3] = {0.0f, 0.0f, 0.0f};
        float distance = 0.0f;
        Matrix34 way = matrix34Identity();
        if (routed) {
            std::copy(grid->endPose, grid->endPose + 12, way.m);
            distance = grid->update(model->worldMatrix.m + 9);
            wanted[0] = grid->eye[0];
            wanted[2] = grid->eye[2];
        }
        const float length = horizontalLength(wanted);
        if (length > 0.0f) wanted[0] /= length, wanted[2] /= length;
        control.setState(AC_STANCE, kStanceStand);
        float own[3];
        float turned[3];
        forward(own);
        switch (state) {
        case kBoatIdle: control.setEnabled(false); break;
        case kBoatStopped:
            control.setEnabled(true);
            encoder.clearStep();
            control.setState(AC_ACTION, 0);
            break;
        case kBoatStart:
            control.setEnabled(true);
            encoder.clearStep();
            clearMotionStates();
            if (distance < s.distanceSkip) {
                raiseBeforeFinish();
                setState(kBoatArrived);
            } else {
                setState(kBoatFirstTurn);
            }
            break;
        case kBoatFirstTurn: {
            control.setEnabled(true);
            const float angle = animatorTurnStep(own, wanted, kTurnMeasureSpeed, dt, turned);
            control.setState(AC_ACTION, 0);
            control.setMovement(kMovementRotate);
            control.setState(AC_DIRECTION, angle > 0.0f ? kDirectionLeft : kDirectionRight);
            encoder.clearStep();
            turnOnTheSpot(time);
            if (std::fabs(angle) < s.firstAnglePrecision * kDegree) setState(kBoatSwim);
            break;
        }
        case kBoatSwim:
        case kBoatSwimNear: {
            control.setEnabled(true);
            const bool near = state == kBoatSwimNear;
            if (distance > (near ? s.distanceClose : s.distanceNear)) {
                control.setState(AC_ACTION, 0);
                control.setMovement(controller->isRun() ? kMovementRun : kMovementWalk);
                control.setState(AC_DIRECTION, kDirectionForward);
                const float power = near ? s.swimNearPower * s.swimPower : s.swimPower;
                const float thrust[3] = {wanted[0] * power, 0.0f, wanted[2] * power};
                encoder.setThrust(thrust, time);
            } else {
                setState(near ? kBoatArrived : kBoatSwimNear);
            }
            break;
        }
        case kBoatArrived:
            control.setEnabled(true);
            clearMotionStates();
            encoder.clearStep();
            setState(kBoatFinalTurn);
            break;
        case kBoatFinalTurn:
        case kBoatRealign: {
            control.setEnabled(true);
            encoder.clearStep();
            float facing[3] = {way.m[0], 0.0f, way.m[2]};
            if (horizontalLength(facing) < 1e-6f) std::copy(own, own + 3, facing);
            const float angle = animatorTurnStep(own, facing, kTurnMeasureSpeed, dt, turned);
            const bool inStop = std::fabs(angle) < s.stopAnglePrecision * kDegree;
            const bool inFinal = std::fabs(angle) < s.finalAnglePrecision * kDegree;
            const std::int32_t side = angle > 0.0f ? kDirectionLeft : kDirectionRight;
            control.setState(AC_ACTION, 0);
            control.setMovement(inStop ? kMovementIdle : kMovementRotate);
            if (!inStop) control.setState(AC_DIRECTION, side);
            if (inStop)
                setState(kBoatAction);
            else if (inFinal || control.currentLength() < timeInState)
                turnOnTheSpot(time);
            break;
        }
        case kBoatAction: {
            control.setEnabled(true);
            encoder.clearStep();
            const std::int32_t action = target->getAction();
            control.setMovement(kMovementIdle);
            control.setState(AC_DIRECTION, kDirectionNone);
            control.setState(AC_ACTION, action);
            if (action == 0) {
                setState(kBoatFinishing);
            } else if (control.actionTimer() > 0.0f ? control.actionTimer() < dt
                                                    : !(control.controlFlags & kControlRulesBound)) {
                // Without a rules map no action animation plays to its end.
                finishAction();
            }
            break;
        }
        case kBoatFinishing:
            control.setEnabled(true);
            clearMotionStates();
            if (state != kBoatFinished) setState(kBoatFinished);
            break;
        default: break;
        }
    }
    control.playControlSequence();
    timeInState += time.game.step;
}

bool BoatAnimator::getEyePoint(Matrix34& out) {
    if (state == kBoatIdle || !target || control.state(AC_MOVEMENT) == kMovementIdle) return false;
    float f[3];
    forward(f);
    const float fLength = horizontalLength(f);
    if (fLength > 0.0f) f[0] /= fLength, f[2] /= fLength;
    float u[3] = {f[0], 0.0f, f[2]};
    if (Grid* grid = pathGrid()) {
        const float length = horizontalLength(grid->eye);
        if (length > 1e-6f) u[0] = grid->eye[0] / length, u[2] = grid->eye[2] / length;
    }
    if (u[0] * f[0] + u[2] * f[2] < 0.0f) u[0] = f[0], u[2] = f[2];
    out = model->worldMatrix;
    out.m[9] += u[0];
    out.m[11] += u[2];
    return true;
}

std::int32_t BoatAnimator::write(DataStream& stream) {
    std::int32_t total = 0;
    flags = target ? (flags | kBoatHasTarget) : (flags & ~kBoatHasTarget);
    if (!addField(total, writeI32(stream, state)) || !addField(total, writeU32(stream, flags))) return total;
    if (target && !addField(total, writeTarget(stream, target.get()))) return total;
    if (!addField(total, writeF64(stream, timeInState)) || !addField(total, writeU32(stream, pathLink.value)))
        return total;
    if (writeFloats(stream, reserved, 3, total) < 0) return total;
    addField(total, control.write(stream));
    return total;
}

std::int32_t BoatAnimator::read(DataStream& stream) {
    std::int32_t total = 0;
    std::int32_t savedState = 0;
    std::uint32_t savedFlags = 0, savedLink = 0;
    std::unique_ptr<ControllerTarget> savedTarget;
    double savedTime = 0.0;
    float savedReserved[3] = {};
    AnimationControl savedControl(model);
    if (!addField(total, readI32(stream, savedState)) || !addField(total, readU32(stream, savedFlags))) return total;
    if (savedState < 0 || savedState >= kBoatStates) {
        engineLog().error("Can't read boat animator [%s]: state %i is outside 0..13", model->getName(), savedState);
        return -1;
    }
    if ((savedFlags & kBoatHasTarget) && !addField(total, readTarget(stream, savedTarget))) return total;
    if (!addField(total, readF64(stream, savedTime)) || !addField(total, readU32(stream, savedLink))) return total;
    if (readFloats(stream, savedReserved, 3, total) < 0) return total;
    if (!addField(total, savedControl.read(stream))) return total;
    if (!std::isfinite(savedTime)) savedTime = 0.0;
    // The grid the record names stays when it is the current one.
    if (savedLink && savedLink == pathLink.value) pathLink = GameObjectLink{};
    reset();
    state = savedState;
    flags = savedFlags;
    target = std::move(savedTarget);
    timeInState = savedTime;
    pathLink.value = savedLink;
    std::copy(savedReserved, savedReserved + 3, reserved);
    control = savedControl;
    return total;
}
