#include "scene/Y3Pose.h"

#include <cstring>

#include "foundation/DataStream.h"

Y3Pose::Y3Pose(const char* name) {
    if (name) std::strncpy(id, name, sizeof(id) - 1);
    pose = matrix34Identity();
}

std::int32_t writePoseMatrix(DataStream& stream, const Matrix34& pose) {
    std::int32_t total = 0;
    for (float value : pose.m)
        if (!addField(total, writeF32(stream, value))) return total;
    return total;
}

std::int32_t readPoseMatrix(DataStream& stream, Matrix34& pose) {
    std::int32_t total = 0;
    for (float& value : pose.m)
        if (!addField(total, readF32(stream, value))) return total;
    return total;
}

Matrix34 cameraPoseOfWaypoint(const Matrix34& waypoint) {
    Matrix34 p = waypoint;
    for (int i = 0; i < 3; ++i) vector3Normalize(p.m + 3 * i);
    for (int k = 0; k < 3; ++k) {
        p.m[k] = -p.m[k];
        p.m[6 + k] = -p.m[6 + k];
    }
    return p;
}
