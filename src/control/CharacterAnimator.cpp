#include "control/CharacterAnimator.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "app/GameCore.h"
#include "control/Character.h"
#include "control/ControlSettings.h"
#include "control/Grid.h"
#include "control/MovementEncoder.h"
#include "foundation/DataStream.h"
#include "foundation/Log.h"
#include "foundation/TimeCore.h"
#include "model/Model.h"
#include "scene/ObjectRepository.h"
#include "scene/Scene.h"
#include "script/ScriptCall.h"

namespace {

const char* const kStateNames[kAnimatorStates] = {
    "Disabled",       "Wait command",       "Begin walking",      "Rotate 2 aim",
    "Walk far",       "Walk near",          "Walk close",         "Aim position reached",
    "Rotate dest direction", "Execute action", "Done",             "Skip walking",
    "update Orientation",    "Rotate face aim", "",                 ""};

constexpr float kPi = 3.14159265f;
constexpr float kDegree = kPi / 180.0f;

bool animatorLog() { return (gameCore.debugFlags & DebugCharacterAnimatorLog) != 0; }

float headingOf(const float* d) {
    float h;
    if (d[2] == 0.0f)
        h = d[0] > 0.0f ? 1.57075f : (d[0] < 0.0f ? -1.57075f : 0.0f);
    else
        h = -std::atan2(-d[0], -d[2]);
    if (h > 3.1415f) h -= 6.283f;
    if (h < -3.1415f) h += 6.283f;
    return h;
}

float horizontalLength(const float* v) { return std::sqrt(v[0] * v[0] + v[2] * v[2]); }

}  // namespace

const char* animatorStateName(std::int32_t state) {
    return state >= 0 && state < kAnimatorStates ? kStateNames[state] : "";
}

float animatorTurnStep(const float* current, const float* wanted, float speed, float step, float* out) {
    if (current[0] == wanted[0] && current[2] == wanted[2]) {
        out[0] = wanted[0];
        out[1] = 0.0f;
        out[2] = wanted[2];
        return 0.0f;
    }
    const float from = headingOf(current);
    float difference = headingOf(wanted) - from;
    if (difference > kPi) difference -= 2.0f * kPi;
    if (difference < -kPi) difference += 2.0f * kPi;
    const float limit = std::fabs(speed * step);
    const float turned = from + std::clamp(difference, -limit, limit);
    out[0] = std::sin(turned);
    out[1] = 0.0f;
    out[2] = -std::cos(turned);
    const float length = horizontalLength(out);
    if (length > 0.0f) out[0] /= length, out[2] /= length;
    return difference;
}

CharacterAnimator::CharacterAnimator(Character& owner)
    : model(&owner.owner()), character(&owner), control(&owner.owner()) {
    // The block starts bound to the model's rules and switched off.
    control.bindRules(model->resourceName);
    control.setEnabled(false);
}

CharacterAnimator::~CharacterAnimator() { release(false); }

void CharacterAnimator::release(bool keepPath) {
    if (keepPath) path = GameObjectLink{};
    removePath();
    if (active()) stop(kAnimatorWait);
    target.reset();
    if (animatorLog() && state != kAnimatorDisabled)
        engineLog().message("Character [%s] animator :  (%s)->(%s)", model->getName(), animatorStateName(state),
                            animatorStateName(kAnimatorDisabled));
    control.reduceActionTimer(stateTime);
    stateTime = 0.0;
    state = kAnimatorDisabled;
}

Grid* linkedPathGrid(const Model& model, GameObjectLink link) {
    if (!link.value || !gameCore.objects) return nullptr;
    GameObject* object = gameCore.objects->getObject(link);
    if (!object || object->getType() != ObjectGrid) return nullptr;
    auto* grid = dynamic_cast<Grid*>(object);
    return grid && grid->getSceneLink() == model.sceneLink ? grid : nullptr;
}

Grid* requirePathGrid(Model& model, GameObjectLink& link) {
    if (Grid* grid = linkedPathGrid(model, link)) return grid;
    Scene* scene = model.scene();
    if (!scene) return nullptr;
    GameObject* made = scene->lookupGrid(model.getName());
    if (!made) made = scene->createGrid(model.getName());
    Grid* grid = made ? dynamic_cast<Grid*>(made) : nullptr;
    if (grid) link = GameObjectLink::fromObject(grid);
    return grid;
}

void removePathGrid(Model& model, GameObjectLink& link) {
    Grid* grid = linkedPathGrid(model, link);
    Scene* scene = model.scene();
    if (grid && scene) {
        char gridName[128];
        copyName(gridName, sizeof(gridName), grid->getName());
        scene->deleteGrid(gridName);
    }
    link = GameObjectLink{};
}

void checkPathGridLink(const Model& model, GameObjectLink& link, const char* who) {
    if (!link.value || linkedPathGrid(model, link)) return;
    engineLog().error("%s [%s]: its path link names no grid of its scene: dropped", who, model.getName());
    link = GameObjectLink{};
}

Grid* CharacterAnimator::pathObject() const { return linkedPathGrid(*model, path); }

void CharacterAnimator::checkPathLink() { checkPathGridLink(*model, path, "Character"); }

void CharacterAnimator::removePath() { removePathGrid(*model, path); }

void CharacterAnimator::resetMotionStates() {
    control.setState(AC_ACTION, 0);
    control.setMovement(kMovementIdle);
    control.setState(AC_DIRECTION, kDirectionNone);
}

void CharacterAnimator::stop(std::int32_t newState) {
    if (active()) {
        control.setEnabled(true);
        resetMotionStates();
        control.playControlSequence();
        control.setEnabled(false);
    }
    changeState(newState);
    removePath();
}

void CharacterAnimator::changeState(std::int32_t requested) {
    if (requested == state) return;
    std::int32_t next = requested;
    switch (requested) {
    case kAnimatorBegin:
        next = state == kAnimatorRotateToAim ? kAnimatorRotateToAim
               : (state == kAnimatorWalkFar || state == kAnimatorWalkNear) ? kAnimatorWalkFar
                                                                            : kAnimatorBegin;
        break;
    case kAnimatorWalkNear: raiseBeforeMoveDone(); break;
    case kAnimatorFaceAim:
        raiseBeforeMoveDone();
        next = kAnimatorReached;
        break;
    case kAnimatorSkip: raiseMoveDone(); break;
    case kAnimatorFaceRequest:
        if (state != kAnimatorSkip) return;
        next = kAnimatorFaceFromRest;
        break;
    default: break;
    }
    if (next == state) return;
    if (animatorLog())
        engineLog().message("Character [%s] animator :  (%s)->(%s)", model->getName(), animatorStateName(state),
                            animatorStateName(next));
    control.reduceActionTimer(stateTime);
    stateTime = 0.0;
    state = next;
}

bool CharacterAnimator::go(std::int32_t type, const char* name, float first, float second, std::int32_t flag) {
    const bool hadTarget = target != nullptr;
    target.reset();
    const char* text = name ? name : "";
    if (animatorLog()) engineLog().message("Controller[%s]: go to [%s]", model->getName(), name ? name : "none");
    switch (type) {
    case kTargetNone:
        if (active() && hadTarget) stop(kAnimatorWait);
        changeState(kAnimatorWait);
        removePath();
        return true;
    case kTargetWaypoint: target = std::make_unique<ControllerTarget_WAYPOINT>(text); break;
    case kTargetFollow: target = std::make_unique<ControllerTarget_FOLLOW>(text, first, second); break;
    case kTargetTrajectory: target = std::make_unique<ControllerTarget_TRAJECTORY>(text, flag != 0); break;
    case kTargetDirectWaypoint: target = std::make_unique<ControllerTarget_DIRECT_WAYPOINT>(text); break;
    default: return engineLog().error("Invalid character animation go() function call.");
    }
    if (type != kTargetFollow) removePath();
    // The walk plays what the model's rules choose for the states the
    // steps set: the control block is on while the character moves (a
    // stop plays the rest and switches it off again). Left off, a character
    // with rules would stand still, its walk waiting for root motion that
    // no animation gives.
    control.setEnabled(true);
    changeState(kAnimatorBegin);
    return true;
}

bool CharacterAnimator::onActionDone() {
    if (state != kAnimatorAction) return false;
    raiseActionDone();
    changeState(kAnimatorDone);
    return true;
}

void CharacterAnimator::raiseBeforeMoveDone() {
    const char* handler = character->handlers[Character::kOnBeforeMoveDone];
    if (!handler[0]) return;
    ScriptEventArgs args;
    args.append(handler);
    args.append(model->getName());
    postScriptEventWithArgs(args, "CharacterAnimator.onBeforeFinish");
}

void CharacterAnimator::raiseMoveDone() {
    const char* handler = character->handlers[Character::kOnMoveDone];
    if (handler[0]) {
        ScriptEventArgs args;
        args.append(handler);
        args.append(model->getName());
        postScriptEventWithArgs(args, "CharacterAnimator.onFinished");
    }
    // The walk is over; the target stays, so a followed figure that moves
    // off is followed again.
    stop(kAnimatorWait);
}

void CharacterAnimator::raiseActionDone() {
    const char* handler = character->handlers[Character::kOnActionDone];
    if (!handler[0]) return;
    ScriptEventArgs args;
    args.append(handler);
    args.append(model->getName());
    args.append(target ? target->getName() : "none");
    args.append(animationControlValueName(AC_ACTION, target ? target->getAction() : -1));
    postScriptEventWithArgs(args, "CharacterAnimator.onBeforeFinish");
}

void CharacterAnimator::heading(float* out) const {
    out[0] = model->worldMatrix.m[0];
    out[1] = 0.0f;
    out[2] = model->worldMatrix.m[2];
}

void CharacterAnimator::face(const float* direction) {
    if (horizontalLength(direction) > 1e-6f) model->setFacingDirection(direction);
}

void CharacterAnimator::zeroMotion() { character->encoder().clearDisplacement(); }

float CharacterAnimator::walkSpeed() const {
    const std::int32_t index = 4 * (character->isRun() ? 1 : 0) + 2 * (character->isCrouch() ? 1 : 0);
    return character->speeds[index];
}

void CharacterAnimator::walkWithoutRules(const float* direction, float step) {
    if (control.controlFlags & kControlRulesBound) return;
    MovementEncoder& encoder = character->encoder();
    const float distance = walkSpeed() * step;
    const float motion[3] = {direction[0] * distance, 0.0f, direction[2] * distance};
    const float none[4] = {0.0f, 0.0f, 0.0f, 0.0f};
    encoder.clearDisplacement();
    encoder.addMotion(motion, none);
}

bool routeToAim(Grid& grid, const float* from, const Matrix34& aim, float limit, bool toNode) {
    const float* to = aim.m + 9;
    std::uint32_t goal = 0, start = 0;
    if (grid.access(true)) {
        goal = grid.findNode(to);
        if (goal) start = grid.findNode(from);
    }
    if (!goal || !start) {
        // Off the grid (or no grid at all): the straight line.
        const std::vector<float> points{from[0], from[1], from[2], to[0], to[1], to[2]};
        const float d[3] = {to[0] - from[0], to[1] - from[1], to[2] - from[2]};
        const float length = std::sqrt(d[0] * d[0] + d[1] * d[1] + d[2] * d[2]);
        grid.reset(-1.0);
        grid.setRoutePoints(points, std::max(length, 0.01f));
        grid.setEndPose(aim.m);
        return true;
    }
    Matrix34 end = aim;
    if (toNode) grid.getNodePosition(goal, end.m + 9);
    if (!grid.searchRoute(start, goal, limit)) return false;
    grid.setEndPose(end.m);
    engineLog().message("Route [%s]: %d nodes", grid.getName(), static_cast<int>(grid.nodes.size()));
    return true;
}

bool CharacterAnimator::takeAim(Grid& grid, const Matrix34& aim) {
    const bool follow = target && target->getType() == kTargetFollow;
    const float limit = follow ? characterSettings.pathfindCompanionDistance : characterSettings.pathfindDistance;
    return routeToAim(grid, model->worldMatrix.m + 9, aim, limit, follow);
}

void CharacterAnimator::targetStep(const CurrentTime& time) {
    if (!target) return;
    Grid* grid = requirePathGrid(*model, path);
    if (!grid) return;
    const bool hasPath = (grid->flags & kGridRoutePresent) != 0;
    Matrix34 current = model->worldMatrix;
    if (hasPath) std::copy(grid->endPose, grid->endPose + 12, current.m);
    Matrix34 aim = current;
    const bool notWalking = state < kAnimatorRotateToAim || state > kAnimatorWalkClose;
    if (target->update(time, aim, model->worldMatrix, current, notWalking) && takeAim(*grid, aim))
        changeState(kAnimatorBegin);
    std::vector<float> points;
    const std::int32_t count = static_cast<std::int32_t>(grid->points.size() / 3);
    if (target->buildPath(points, model->worldMatrix, aim, count, grid->progress) && points.size() >= 3) {
        grid->reset(-1.0);
        // Without grid data the route keeps its points at a quarter metre.
        grid->setRoutePoints(points, grid->access(true) ? -1.0f : 0.25f);
        // The walk ends where the built path ends, facing as the aim.
        std::copy(points.end() - 3, points.end(), aim.m + 9);
        grid->setEndPose(aim.m);
        changeState(kAnimatorBegin);
    }
    Matrix33 facing;
    if (target->getFacing(facing, model->worldMatrix, state == kAnimatorFaceFromRest) &&
        state != kAnimatorFaceRequest && state == kAnimatorSkip) {
        restFacing = facing;
        changeState(kAnimatorFaceRequest);
    }
}

bool CharacterAnimator::getLookPoint(Matrix34& out) {
    if (state == kAnimatorDisabled || !target || control.state(AC_MOVEMENT) == kMovementIdle) return false;
    float own[3];
    heading(own);
    float d[3] = {own[0], 0.0f, own[2]};
    if (Grid* grid = pathObject()) d[0] = grid->eye[0], d[2] = grid->eye[2];
    float length = horizontalLength(d);
    if (length < 0.00001f) {
        d[0] = 1.0f, d[2] = 0.0f, length = 1.0f;
    }
    d[0] /= length, d[2] /= length;
    if (d[0] * own[0] + d[2] * own[2] < 0.0f) {
        const float ownLength = horizontalLength(own);
        if (ownLength > 0.0f) d[0] = own[0] / ownLength, d[2] = own[2] / ownLength;
    }
    out = model->worldMatrix;
    out.m[9] += d[0];
    out.m[11] += d[2];
    return true;
}

bool CharacterAnimator::update(const CurrentTime& time) {
    const float dt = static_cast<float>(time.game.step);
    // Carried by another model: its controller plays this model's states.
    if (model->link.parent().value && gameCore.objects) {
        auto* carrier = dynamic_cast<Model*>(gameCore.objects->getObject(model->link.parent()));
        if (carrier) {
            if (carrier->controller) carrier->controller->copyControlState(control);
            control.playControlSequence();
            return true;
        }
    }
    if (Scene* scene = model->scene()) scene->recordTeleportPoint(model->worldMatrix.m + 9, time.game.time);
    checkPathLink();
    targetStep(time);
    Grid* grid = pathObject();
    const bool hasAim = grid && (grid->flags & kGridRoutePresent);
    Matrix34 aim = model->worldMatrix;
    if (state == kAnimatorFaceFromRest) {
        for (int k = 0; k < 9; ++k) aim.m[k] = restFacing.m[k];
    } else if (state == kAnimatorDisabled || state == kAnimatorWait || state == kAnimatorSkip || !hasAim) {
        state = kAnimatorSkip;
        return true;
    } else {
        std::copy(grid->endPose, grid->endPose + 12, aim.m);
    }

    bool run = false;
    if (target && target->updateRun(model->worldMatrix, run)) {
        character->flags &= ~Character::kRunToggle;
        character->setRun(run);
    }

    float left = 0.0f;
    float dir[3] = {0.0f, 0.0f, 0.0f};
    if (hasAim) {
        left = grid->update(model->worldMatrix.m + 9);
        dir[0] = grid->eye[0];
        dir[2] = grid->eye[2];
    }
    const float dirLength = horizontalLength(dir);
    if (dirLength > 0.0f) dir[0] /= dirLength, dir[2] /= dirLength;

    control.setState(AC_STANCE, character->isItem() ? kStanceItem : character->isCrouch() ? kStanceCrouch : kStanceStand);
    if (flags & kAnimatorLoaded) {
        flags &= ~kAnimatorLoaded;
        std::copy(aim.m + 9, aim.m + 12, endPosition);
    }

    const CharacterSettings& s = characterSettings;
    const bool running = character->isRun();
    float own[3];
    float turned[3];
    bool again = true;
    while (again) {
        again = false;
        switch (state) {
        case kAnimatorBegin:
            zeroMotion();
            control.setState(AC_ACTION, 0);
            if (left < s.distanceSkip) {
                raiseBeforeMoveDone();
                changeState(kAnimatorReached);
            } else {
                changeState(kAnimatorRotateToAim);
            }
            break;
        case kAnimatorRotateToAim: {
            zeroMotion();
            heading(own);
            const float angle =
                animatorTurnStep(own, dir, running ? s.angularStayRun : s.angularStay, dt, turned);
            if (std::fabs(angle) >= s.firstAnglePrecision * kDegree) {
                control.setMovement(kMovementRotate);
                control.setState(AC_DIRECTION, angle > 0.0f ? kDirectionLeft : kDirectionRight);
                if (stateTime > control.currentLength()) face(turned);
            } else {
                changeState(kAnimatorWalkFar);
                again = true;
            }
            break;
        }
        case kAnimatorWalkFar:
            heading(own);
            animatorTurnStep(own, dir, running ? s.angularRun : s.angularWalk, dt, turned);
            if (left > s.distanceNear) {
                control.setState(AC_ACTION, 0);
                control.setMovement(running ? kMovementRun : kMovementWalk);
                control.setState(AC_DIRECTION, kDirectionForward);
                face(turned);
                walkWithoutRules(turned, dt);
            } else {
                changeState(kAnimatorWalkNear);
                again = true;
            }
            break;
        case kAnimatorWalkNear: {
            std::copy(dir, dir + 3, walkDirection);
            if (left > s.distanceClose) {
                heading(own);
                animatorTurnStep(own, dir, running ? s.angularRun : s.angularWalk, dt, turned);
                face(turned);
                control.setMovement(running ? kMovementRun : kMovementWalk);
                control.setState(AC_DIRECTION, kDirectionForward);
                walkWithoutRules(dir, dt);
                // The walk keeps its pace but follows the path, and stops
                // at the aim.
                MovementEncoder& encoder = character->encoder();
                float* d = encoder.displacement;
                const float length = std::min(std::sqrt(d[0] * d[0] + d[1] * d[1] + d[2] * d[2]), left);
                d[0] = dir[0] * length;
                d[1] = 0.0f;
                d[2] = dir[2] * length;
            } else {
                std::copy(aim.m + 9, aim.m + 12, endPosition);
                changeState(kAnimatorWalkClose);
            }
            break;
        }
        case kAnimatorWalkClose: {
            resetMotionStates();
            zeroMotion();
            const float length = control.currentLength();
            if (stateTime < length && length > 0.0f) {
                const float fraction = std::clamp(static_cast<float>(stateTime) / length, 0.0f, 1.0f);
                const float* at = model->worldMatrix.m + 9;
                const float motion[3] = {(endPosition[0] - at[0]) * fraction, 0.0f,
                                         (endPosition[2] - at[2]) * fraction};
                const float none[4] = {0.0f, 0.0f, 0.0f, 0.0f};
                character->encoder().addMotion(motion, none);
            } else {
                changeState(kAnimatorReached);
            }
            break;
        }
        case kAnimatorReached:
            zeroMotion();
            changeState(kAnimatorRotateDest);
            break;
        case kAnimatorRotateDest:
        case kAnimatorFaceFromRest: {
            zeroMotion();
            heading(own);
            float wanted[3] = {aim.m[0], 0.0f, aim.m[2]};
            if (horizontalLength(wanted) < 1e-6f) std::copy(own, own + 3, wanted);
            const float angle =
                animatorTurnStep(own, wanted, running ? s.angularStayRun : s.angularStay, dt, turned);
            if (std::fabs(angle) < 0.0001f) {
                changeState(kAnimatorAction);
                again = true;
                break;
            }
            face(turned);
            if (std::fabs(angle) >= 0.08726647f) {
                control.setMovement(kMovementRotate);
                control.setState(AC_DIRECTION, angle > 0.0f ? kDirectionLeft : kDirectionRight);
            }
            break;
        }
        case kAnimatorAction: {
            zeroMotion();
            const float facing[3] = {aim.m[0], 0.0f, aim.m[2]};
            face(facing);
            const std::int32_t action = target ? target->getAction() : 0;
            if (action == kTargetActionDirectControl) {
                char targetName[ControllerTarget::kTextSize];
                copyName(targetName, sizeof(targetName), target->getName());
                stop(kAnimatorWait);
                model->checkDirectControlTarget(targetName, true);
                return true;
            }
            control.setMovement(kMovementIdle);
            control.setState(AC_DIRECTION, kDirectionNone);
            control.setState(AC_ACTION, action);
            if (action == 0) {
                changeState(kAnimatorFinish);
                again = true;
            } else if (control.actionTimer() > 0.0f ? control.actionTimer() < stateTime
                                                    : !(control.controlFlags & kControlRulesBound)) {
                // Without a rules map no action animation plays to its end.
                onActionDone();
            }
            break;
        }
        case kAnimatorDone: {
            const bool acting = control.state(AC_ACTION) != 0 && control.actionTimer() > 0.0f &&
                                stateTime < control.actionTimer();
            if (!acting) changeState(kAnimatorFinish);
            break;
        }
        case kAnimatorSkip: return false;
        case kAnimatorFinish: changeState(kAnimatorSkip); return true;
        default: break;
        }
    }
    control.playControlSequence();
    stateTime += time.game.step;
    return true;
}

std::int32_t CharacterAnimator::write(DataStream& stream) {
    std::int32_t total = 0;
    const std::uint32_t saved = target ? (flags | kAnimatorHasTarget) : (flags & ~kAnimatorHasTarget);
    if (!addField(total, writeU32(stream, static_cast<std::uint32_t>(state))) || !addField(total, writeU32(stream, saved)))
        return total;
    if (target && !addField(total, writeTarget(stream, target.get()))) return total;
    if (!addField(total, writeF64(stream, stateTime)) || !addField(total, writeU32(stream, path.value))) return total;
    if (writeFloats(stream, walkDirection, 3, total) < 0) return total;
    addField(total, control.write(stream));
    return total;
}

std::int32_t CharacterAnimator::read(DataStream& stream) {
    std::int32_t total = 0;
    std::uint32_t savedState = 0, savedFlags = 0, savedPath = 0;
    std::unique_ptr<ControllerTarget> savedTarget;
    double savedTime = 0.0;
    float savedDirection[3] = {};
    AnimationControl savedControl(model);
    if (!addField(total, readU32(stream, savedState)) || !addField(total, readU32(stream, savedFlags))) return total;
    if (savedState >= static_cast<std::uint32_t>(kAnimatorStates)) {
        engineLog().error("Can't read character animator [%s]: state %u is outside 0..15", model->getName(),
                          savedState);
        return -1;
    }
    if ((savedFlags & kAnimatorHasTarget) && !addField(total, readTarget(stream, savedTarget))) return total;
    if (!addField(total, readF64(stream, savedTime)) || !addField(total, readU32(stream, savedPath))) return total;
    if (readFloats(stream, savedDirection, 3, total) < 0) return total;
    if (!addField(total, savedControl.read(stream))) return total;
    if (!std::isfinite(savedTime)) savedTime = 0.0;
    // The path object the record names stays when it is the current one.
    release(savedPath != 0 && savedPath == path.value);
    state = static_cast<std::int32_t>(savedState);
    flags = savedFlags | kAnimatorLoaded;
    target = std::move(savedTarget);
    stateTime = savedTime;
    path.value = savedPath;
    std::copy(savedDirection, savedDirection + 3, walkDirection);
    control = savedControl;
    return total;
}
