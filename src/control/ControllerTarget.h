// Where a controlled model is to go: a waypoint chosen from a list, a world
// or local pose, another object to follow, a waypoint's trajectory, or one
// waypoint straight ahead.
//
// The controller's animator owns its target, asks it each frame for a new
// aim pose, a ready-made path, a run-or-walk decision and a final facing,
// and saves it with writeTarget / readTarget. Poses are 3-by-4 matrices
// whose position is floats 9 to 11. Texts and names are fixed 512-byte
// fields (at most 511 characters); a saved string that does not fit is
// refused, never cut or overrun.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "foundation/Math.h"
#include "scene/GameObject.h"

class DataStream;
struct CurrentTime;

// Target type ids (stored: fixed).
constexpr std::int32_t kTargetNone = 0;
constexpr std::int32_t kTargetWaypoint = 1;
constexpr std::int32_t kTargetWorld = 2;
constexpr std::int32_t kTargetLocal = 3;
constexpr std::int32_t kTargetFollow = 4;
constexpr std::int32_t kTargetTrajectory = 5;
constexpr std::int32_t kTargetDirectWaypoint = 6;

// The AC_ACTION value of a direct-waypoint target: past the action range,
// it hands the model over to direct control on arrival.
constexpr std::int32_t kTargetActionDirectControl = 19;
// The AC_ACTION values run from 0 ("none") to 16 ("put_up").
constexpr std::int32_t kActionCount = 17;

class ControllerTarget {
public:
    static constexpr std::size_t kTextSize = 512;

    // A target of the id with default data; null for 0 (silently) and for
    // any other unknown id ("Can't create INVALID controller type %i").
    static std::unique_ptr<ControllerTarget> create(std::int32_t type);

    virtual ~ControllerTarget() = default;

    // Bytes written or read, or a negative value; a refused read logs why.
    virtual std::int32_t write(DataStream& stream) = 0;
    virtual std::int32_t read(DataStream& stream) = 0;
    // True when a new aim was produced into aim. notWalking: the model is
    // not walking.
    virtual bool update(const CurrentTime& time, Matrix34& aim, const Matrix34& modelPose, const Matrix34& currentAim,
                        bool notWalking) = 0;
    virtual const char* getName() const { return "none"; }
    // The AC_ACTION value to perform on arrival.
    virtual std::int32_t getAction() const { return 0; }
    // True when the run flag was decided.
    virtual bool updateRun(const Matrix34& modelPose, bool& run);
    virtual std::int32_t getType() const = 0;
    // True when a facing is to be taken into out. turning: the model
    // already turns.
    virtual bool getFacing(Matrix33& out, const Matrix34& pose, bool turning) = 0;
    // True when a path (three floats a point) and its aim were built.
    // pathPoints and pathIndex: the path object's point count and the index
    // of the point being walked to.
    virtual bool buildPath(std::vector<float>& points, const Matrix34& modelPose, Matrix34& aim,
                           std::int32_t pathPoints, std::int32_t pathIndex);
};

class ControllerTarget_WAYPOINT : public ControllerTarget {
public:
    ControllerTarget_WAYPOINT() = default;
    // A list of waypoint names (new-line, ";" or "," between them) or a
    // braced name, "{name==action}" taking an AC_ACTION name.
    explicit ControllerTarget_WAYPOINT(const char* targetText);

    std::int32_t write(DataStream& stream) override;
    std::int32_t read(DataStream& stream) override;
    bool update(const CurrentTime& time, Matrix34& aim, const Matrix34& modelPose, const Matrix34& currentAim,
                bool notWalking) override;
    const char* getName() const override { return text; }
    std::int32_t getAction() const override { return action; }
    std::int32_t getType() const override { return kTargetWaypoint; }
    bool getFacing(Matrix33&, const Matrix34&, bool) override { return false; }

    char text[kTextSize] = {};
    std::int32_t action = 0;
    std::uint8_t pending = 1;
};

class ControllerTarget_WORLD : public ControllerTarget {
public:
    std::int32_t write(DataStream& stream) override;
    std::int32_t read(DataStream& stream) override;
    bool update(const CurrentTime&, Matrix34&, const Matrix34&, const Matrix34&, bool) override { return false; }
    std::int32_t getType() const override { return kTargetWorld; }
    bool getFacing(Matrix33&, const Matrix34&, bool) override { return false; }

    Matrix34 pose{};
};

class ControllerTarget_LOCAL : public ControllerTarget {
public:
    std::int32_t write(DataStream& stream) override;
    std::int32_t read(DataStream& stream) override;
    bool update(const CurrentTime&, Matrix34&, const Matrix34&, const Matrix34&, bool) override { return false; }
    std::int32_t getType() const override { return kTargetLocal; }
    bool getFacing(Matrix33&, const Matrix34&, bool) override { return false; }

    std::uint32_t reference = 0;
    Matrix34 pose{};
};

class ControllerTarget_FOLLOW : public ControllerTarget {
public:
    ControllerTarget_FOLLOW() = default;
    // The object is looked up by name in the current scene.
    ControllerTarget_FOLLOW(const char* objectName, float nearDistance, float farDistance);

    // The timer is not saved: a read target aims at its next update.
    std::int32_t write(DataStream& stream) override;
    std::int32_t read(DataStream& stream) override;
    bool update(const CurrentTime& time, Matrix34& aim, const Matrix34& modelPose, const Matrix34& currentAim,
                bool notWalking) override;
    bool updateRun(const Matrix34& modelPose, bool& run) override;
    std::int32_t getType() const override { return kTargetFollow; }
    bool getFacing(Matrix33& out, const Matrix34& pose, bool turning) override;

    GameObjectLink object;
    float nearDistance = 1.0f;
    float farDistance = 5.0f;
    // Seconds since the last aim; negative: aim at the next update.
    double timer = -1.0;

private:
    // The followed object's world pose; false when it is gone.
    bool followedPose(Matrix34& out) const;
};

class ControllerTarget_TRAJECTORY : public ControllerTarget {
public:
    // Bits of flags.
    static constexpr std::uint32_t kPending = 0x1;
    static constexpr std::uint32_t kRandomStart = 0x2;
    static constexpr std::uint32_t kRandomFirstPath = 0x4;

    ControllerTarget_TRAJECTORY() = default;
    ControllerTarget_TRAJECTORY(const char* waypointName, bool randomStart);

    std::int32_t write(DataStream& stream) override;
    std::int32_t read(DataStream& stream) override;
    bool update(const CurrentTime&, Matrix34&, const Matrix34&, const Matrix34&, bool) override { return false; }
    const char* getName() const override { return waypoint; }
    std::int32_t getType() const override { return kTargetTrajectory; }
    bool getFacing(Matrix33&, const Matrix34&, bool) override { return false; }
    bool buildPath(std::vector<float>& points, const Matrix34& modelPose, Matrix34& aim, std::int32_t pathPoints,
                   std::int32_t pathIndex) override;

    char waypoint[kTextSize] = {};
    std::uint32_t flags = 0;
    // The random start point index of the first path.
    std::uint32_t counter = 0;
};

class ControllerTarget_DIRECT_WAYPOINT : public ControllerTarget {
public:
    static constexpr std::uint32_t kPending = 0x1;

    ControllerTarget_DIRECT_WAYPOINT() = default;
    explicit ControllerTarget_DIRECT_WAYPOINT(const char* waypointName);

    std::int32_t write(DataStream& stream) override;
    std::int32_t read(DataStream& stream) override;
    bool update(const CurrentTime&, Matrix34&, const Matrix34&, const Matrix34&, bool) override { return false; }
    const char* getName() const override { return waypoint; }
    std::int32_t getAction() const override { return kTargetActionDirectControl; }
    std::int32_t getType() const override { return kTargetDirectWaypoint; }
    bool getFacing(Matrix33&, const Matrix34&, bool) override { return false; }
    bool buildPath(std::vector<float>& points, const Matrix34& modelPose, Matrix34& aim, std::int32_t pathPoints,
                   std::int32_t pathIndex) override;

    std::uint32_t flags = kPending;
    char waypoint[kTextSize] = {};
};

// The u32 type id (0 without a target), then the target's record.
std::int32_t writeTarget(DataStream& stream, ControllerTarget* target);
// Reads the id and the record into out; id 0 gives no target. A refused
// record (unknown id, short or damaged record) leaves out empty and gives
// a negative value.
std::int32_t readTarget(DataStream& stream, std::unique_ptr<ControllerTarget>& out);

// The AC_ACTION value of a name compared lower-cased, or -1.
std::int32_t actionByName(const char* name);
