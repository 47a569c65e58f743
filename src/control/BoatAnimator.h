// Sails a boat to the aim of its target: it owns the target, has the path
// grid plan the route to each new aim (within 50 m; the straight line where
// the scene's grid has no point near the ends), turns the boat on the spot
// toward the route, swims along it at full and then reduced power, turns to
// the aim's facing, plays the arrival action and raises the script events
// of the move, all by a state machine over the boat's control block.
#pragma once

#include <cstdint>
#include <memory>

#include "animation/AnimationControl.h"
#include "control/ControllerTarget.h"
#include "foundation/Math.h"
#include "scene/GameObject.h"

class BoatControl;
class DataStream;
class Grid;
class Model;
struct CurrentTime;

// Boat animator states.
constexpr std::int32_t kBoatIdle = 0;
constexpr std::int32_t kBoatStopped = 1;
constexpr std::int32_t kBoatStart = 2;
constexpr std::int32_t kBoatFirstTurn = 3;
constexpr std::int32_t kBoatSwim = 4;
constexpr std::int32_t kBoatSwimNear = 5;
constexpr std::int32_t kBoatArrived = 6;
constexpr std::int32_t kBoatFinalTurn = 7;
constexpr std::int32_t kBoatAction = 8;
constexpr std::int32_t kBoatFinished = 9;
constexpr std::int32_t kBoatFinishing = 10;
// Requests of setState: arrive now (with the before-finish event), realign
// from Finished.
constexpr std::int32_t kBoatArriveRequest = 11;
constexpr std::int32_t kBoatRealignRequest = 12;
constexpr std::int32_t kBoatRealign = 13;
constexpr std::int32_t kBoatStates = 14;

// Bit of BoatAnimator::flags: the record holds a target.
constexpr std::uint32_t kBoatHasTarget = 0x400;

// The straight distance within which a boat's route is searched.
constexpr float kBoatPathLimit = 50.0f;

class BoatAnimator {
public:
    explicit BoatAnimator(BoatControl& owner);
    ~BoatAnimator();
    BoatAnimator(const BoatAnimator&) = delete;
    BoatAnimator& operator=(const BoatAnimator&) = delete;

    // Deletes the path grid, stops a move, drops the target; Idle.
    void reset();
    // A new target by kind: 1 waypoint text, 4 follow the object at the two
    // distances; 0, 6 and other kinds make none. Kinds 2 and 3 are refused
    // (the old target is gone). Start, unless already starting or turning.
    bool go(std::int32_t kind, const char* name, float first, float second);
    // The control states reset and played with the block off, then the state.
    void stop(std::int32_t next);
    void setState(std::int32_t requested);
    // The frame step.
    void update(const CurrentTime& time);
    // One unit ahead of the boat along its route while it moves.
    bool getEyePoint(Matrix34& out);
    // In Action: the action-done event and Finishing; else false.
    bool finishAction();
    bool moving() const { return state > kBoatStopped && target != nullptr; }
    // The path grid the link names when it is a grid of the boat's scene.
    Grid* pathGrid() const;

    // state, flags, the target when flagged, timeInState, the path link,
    // reserved, the control block.
    std::int32_t write(DataStream& stream);
    // Reads the whole record aside first: a short or damaged record, an
    // unknown target kind or a state outside 0..13 leaves the animator as
    // it was. The path link is kept as stored and checked at the next
    // update.
    std::int32_t read(DataStream& stream);

    Model* model;
    BoatControl* controller;
    std::unique_ptr<ControllerTarget> target;
    std::int32_t state = kBoatIdle;
    double timeInState = 0.0;
    GameObjectLink pathLink;
    float reserved[3] = {0.0f, 0.0f, 0.0f};
    AnimationControl control;
    std::uint32_t flags = 0;

private:
    void targetStep(const CurrentTime& time);
    void turnOnTheSpot(const CurrentTime& time);
    void raiseBeforeFinish();
    void raiseFinished();
    void raiseActionDone();
    void clearMotionStates();
    // The boat's forward axis (its first row) in X-Z.
    void forward(float* out) const;
};
