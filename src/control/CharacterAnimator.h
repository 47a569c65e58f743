// Walks a character to the aim of its target: it owns the target, has grid
// paths searched for its aims (a straight line where the scene's grid has
// no point near them), turns the model towards the path, lets the walk
// carry it along, stops near the aim, turns to the aim's facing, plays the
// arrival action and raises the script events of the walk, all by a state
// machine over the model's control states.
#pragma once

#include <cstdint>
#include <memory>

#include "animation/AnimationControl.h"
#include "control/ControllerTarget.h"
#include "foundation/Math.h"
#include "scene/GameObject.h"

class Character;
class DataStream;
class Grid;
class Model;
struct CurrentTime;

// Animator states.
constexpr std::int32_t kAnimatorDisabled = 0;
constexpr std::int32_t kAnimatorWait = 1;
constexpr std::int32_t kAnimatorBegin = 2;
constexpr std::int32_t kAnimatorRotateToAim = 3;
constexpr std::int32_t kAnimatorWalkFar = 4;
constexpr std::int32_t kAnimatorWalkNear = 5;
constexpr std::int32_t kAnimatorWalkClose = 6;
constexpr std::int32_t kAnimatorReached = 7;
constexpr std::int32_t kAnimatorRotateDest = 8;
constexpr std::int32_t kAnimatorAction = 9;
constexpr std::int32_t kAnimatorDone = 10;
constexpr std::int32_t kAnimatorSkip = 11;
constexpr std::int32_t kAnimatorFinish = 12;
constexpr std::int32_t kAnimatorFaceAim = 13;
constexpr std::int32_t kAnimatorFaceRequest = 14;
constexpr std::int32_t kAnimatorFaceFromRest = 15;
constexpr std::int32_t kAnimatorStates = 16;

// Bits of CharacterAnimator::flags.
constexpr std::uint32_t kAnimatorHasTarget = 0x400;
constexpr std::uint32_t kAnimatorLoaded = 0x8000;

// The name of a state as logged ("" for 14, 15 and outside the table).
const char* animatorStateName(std::int32_t state);

// One step of turning from the current horizontal direction (x, z) toward
// the wanted one at speed radians a second for step seconds; out takes the
// new unit direction. The answer is the wrapped, unclamped difference of
// headings (wanted - current, within -pi..pi).
float animatorTurnStep(const float* current, const float* wanted, float speed, float step, float* out);

// The path object of an animator, shared by walking and sailing models:
// the grid the link names when it is a grid of the model's scene, else null.
Grid* linkedPathGrid(const Model& model, GameObjectLink link);
// That grid, or one made (or found) in the model's scene under the model's
// name, whose link is stored; null when the scene cannot give one.
Grid* requirePathGrid(Model& model, GameObjectLink& link);
// Deletes the linked grid from the model's scene; the link is cleared.
void removePathGrid(Model& model, GameObjectLink& link);
// Drops (logged, naming who) a link that names no grid of the model's scene.
void checkPathGridLink(const Model& model, GameObjectLink& link, const char* who);
// Hands the grid a route from a position to an aim: a searched grid path
// within limit when both ends lie on the grid (toNode: the route ends on
// the aim's node centre), else the straight line. False when the search
// finds nothing.
bool routeToAim(Grid& grid, const float* from, const Matrix34& aim, float limit, bool toNode);

class CharacterAnimator {
public:
    explicit CharacterAnimator(Character& character);
    // Removes the path object, stops an active walk, drops the target.
    ~CharacterAnimator();
    CharacterAnimator(const CharacterAnimator&) = delete;
    CharacterAnimator& operator=(const CharacterAnimator&) = delete;

    // A new target by kind: 0 none (wait), 1 waypoint text, 4 follow the
    // object name at the two distances, 5 trajectory from the waypoint
    // (flag: random start), 6 direct waypoint. Kinds 2 and 3 are refused.
    bool go(std::int32_t type, const char* name, float first, float second, std::int32_t flag);
    // Ends a walk: the control states reset, the state changes (1 stop,
    // 0 disable) and the path object goes.
    void stop(std::int32_t newState);
    void changeState(std::int32_t requested);
    // In "Execute action": the action-done event and "Done"; else false.
    bool onActionDone();
    // One unit ahead of the model along the path while it walks.
    bool getLookPoint(Matrix34& out);
    // The frame step; false while resting.
    bool update(const CurrentTime& time);
    bool active() const { return state >= kAnimatorBegin && state != kAnimatorSkip; }

    // state, flags, target, stateTime, the path link as stored, the walk
    // direction and the control block.
    std::int32_t write(DataStream& stream);
    // Reads the whole record aside first: a short or damaged record, an
    // unknown target kind or a state outside 0..15 leaves the animator as
    // it was.
    std::int32_t read(DataStream& stream);

    // The path object the link names when it is a grid of the model's
    // scene; null otherwise.
    Grid* pathObject() const;

    Model* model;
    Character* character;
    std::unique_ptr<ControllerTarget> target;
    std::int32_t state = kAnimatorDisabled;
    double stateTime = 0.0;
    GameObjectLink path;
    float walkDirection[3] = {0.0f, 0.0f, 0.0f};
    float endPosition[3] = {0.0f, 0.0f, 0.0f};
    AnimationControl control;
    std::uint32_t flags = 0;
    // The facing a follow target asked for from rest.
    Matrix33 restFacing{};

private:
    // As on deletion; keepPath leaves the path object in the scene.
    void release(bool keepPath);
    void removePath();
    // Drops a link that no longer names a grid of the model's scene.
    void checkPathLink();
    void targetStep(const CurrentTime& time);
    // Hands the path to an aim to the path object; true when one was set.
    bool takeAim(Grid& grid, const Matrix34& aim);
    void raiseBeforeMoveDone();
    void raiseMoveDone();
    void raiseActionDone();
    void resetMotionStates();
    void zeroMotion();
    // The model's current horizontal facing (x, z).
    void heading(float* out) const;
    void face(const float* direction);
    float walkSpeed() const;
    // A walk step from the speed table while no rules map drives the
    // walk animation's root motion.
    void walkWithoutRules(const float* direction, float step);
};
