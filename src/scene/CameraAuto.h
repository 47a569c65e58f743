// The automatic camera of a CameraCore (camera mode 8): among the scene's
// camera waypoints whose names begin with the camera mask it chooses the
// one nearest the main character, follows the character from it and tells
// the scripts when the chosen camera and the cursor-hint state change.
//
// The suffix of a waypoint's name gives its kind: none, ".fixed", ".line",
// ".pair" (the end of a line) and ".flyer"; a name may end with "=" and a
// number, the candidate's parameter.
#pragma once

#include <cstdint>
#include <vector>

#include "foundation/Math.h"
#include "foundation/Smoother.h"

class CameraCore;
class DataStream;
class Y3Pose_Camera;
struct CurrentTime;

enum CameraAutoKind : std::int32_t {
    CameraAutoPlain = 0,
    CameraAutoFixed = 1,
    CameraAutoLine = 2,
    CameraAutoPair = 3,
    CameraAutoFlyer = 4,
};

// Bits of CameraAuto::flags.
constexpr std::uint32_t kCameraAutoChanged = 1u << 1;
// Set by a step whose target stands in a camera area (a "2d+" volume
// that gave the mask).
constexpr std::uint32_t kCameraAutoInArea = 1u << 4;
constexpr std::uint32_t kCameraAutoHint = 1u << 13;
constexpr std::uint32_t kCameraAutoHintSignalled = 1u << 14;

struct CameraAutoCandidate {
    std::int32_t index = -1;  // -1: the built-in flyer
    float distance = 0.0f;    // 0: does not apply
    float parameter = 0.0f;
    std::int32_t kind = CameraAutoPlain;
    char name[128] = {};
    Matrix34 pose{};
    Matrix34 pose2{};
};

class CameraAuto {
public:
    explicit CameraAuto(CameraCore& owner);
    // Releases the smoothers.
    ~CameraAuto();
    CameraAuto(const CameraAuto&) = delete;
    CameraAuto& operator=(const CameraAuto&) = delete;

    // One step: true with a pose in out; false (logged) when the mask is
    // empty, the scene has no waypoints or no candidate can be chosen.
    // The target is the scene's main character unless one is given.
    bool step(Matrix34& out, const CurrentTime& time, const Matrix34* target = nullptr);
    // A new camera mode: the list and the mask are emptied and the next
    // step reports a camera change.
    void restart();

    std::int32_t write(DataStream& stream) const;
    std::int32_t read(DataStream& stream);

    // The kind of a waypoint name and its parameter (0 when none; a flyer
    // without one takes "flyer_offset").
    static std::int32_t kindOf(const char* name, float& parameter);

    std::uint32_t flags = 0;
    char currentName[128] = {};
    CameraAutoCandidate current;
    char mask[128] = {};
    std::vector<const Y3Pose_Camera*> cameras;
    std::int32_t bestIndex = -1;
    float bestDistance = -1.0f;
    float look[3] = {};
    float previousLook[3] = {};
    float reference[3] = {};
    VectorSmoother lookSmoother;
    VectorSmoother flyerSmoother;
    VectorSmoother flyerTestSmoother;
    char maskSource[128] = {};
    CameraAutoCandidate working;

private:
    bool buildMask(const Matrix34* target);
    bool buildList(const Matrix34* target);
    // The candidate of list entry i, evaluated against the character.
    CameraAutoCandidate evaluate(std::int32_t i) const;
    bool choose();
    void placeByKind(Matrix34& out, const CurrentTime& time);
    void updateLook(const Matrix34& pose, const CurrentTime& time);

    CameraCore& owner_;
    // The main character's pose (identity without one).
    Matrix34 character_{};
    float lastFlyer_[3] = {};
};
