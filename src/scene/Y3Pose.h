// Waypoint poses: named placements of a scene. This is the part the cameras
// read: the pose's name, its kind and its 3-by-4 pose, and for a camera
// waypoint the second pose, the limit records and the ranges.
#pragma once

#include <cstdint>

#include "foundation/Math.h"

class DataStream;

// Kind codes of the poses.
enum Y3PoseType : std::uint32_t {
    PosePoint = 0,
    PoseTrigger = 1,
    PoseModel = 2,
    PoseCamera = 3,
    PoseParticle = 4,
    PoseLight = 5,
    PoseVolume = 6,
};

class Y3Pose {
public:
    explicit Y3Pose(const char* name = nullptr);
    virtual ~Y3Pose() = default;
    virtual std::uint32_t type() const { return PosePoint; }

    // The id: at most 127 characters, always terminated.
    char id[128] = {};
    // X, Y and Z axis rows, then the position.
    Matrix34 pose{};
};

class Y3Pose_Camera : public Y3Pose {
public:
    explicit Y3Pose_Camera(const char* name = nullptr) : Y3Pose(name) {}
    std::uint32_t type() const override { return PoseCamera; }

    // The end of a line camera's segment when its position is not zero.
    Matrix34 pose2{};
    // Four 36-byte limit records: up, down, left, right.
    std::uint8_t limits[144] = {};
    float minRange = 1.0f;
    float maxRange = 100.0f;
};

class Y3Pose_Volume : public Y3Pose {
public:
    explicit Y3Pose_Volume(const char* name = nullptr) : Y3Pose(name) {}
    std::uint32_t type() const override { return PoseVolume; }
};

// The pose a camera takes at a camera waypoint: unit axes, the view axis
// reversed (a waypoint's third axis points where it looks, a camera's
// toward the camera). The first axis turns with it, so the result stays a
// rotation that blends.
Matrix34 cameraPoseOfWaypoint(const Matrix34& waypoint);

// A pose's binary form as the camera records keep it: its 12 floats.
std::int32_t writePoseMatrix(DataStream& stream, const Matrix34& pose);
std::int32_t readPoseMatrix(DataStream& stream, Matrix34& pose);
