// Writers of the scene data pieces the engine reads: waypoint poses in
// their source text (".txt") and compiled (".wp": a u32 count, then the
// binary pose records in id order) forms, and visibility blocks built from
// areas of boxes joined by portals.
//
// The records are written by the engine's own pose and visibility writers;
// this library only assembles them.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "foundation/Math.h"
#include "scene/ScenePVS.h"
#include "scene/Y3Pose.h"

class DataStream;

namespace scene_tools {

// A pose matrix: identity axes scaled by size at a position.
Matrix34 poseAt(float x, float y, float z, float size = 1.0f);

// A set of waypoint poses, kept in id order.
class WaypointSet {
public:
    // Adds a pose of a kind with an id at a pose; the pose to fill further.
    Y3Pose& add(std::uint32_t type, const char* id, const Matrix34& pose);
    // Adds the poses of a source text (text records one after another).
    // False, with the reason, at the first record that does not read or
    // whose id is taken.
    bool readSource(DataStream& in, const char* fileName, std::string& error);
    const std::vector<std::unique_ptr<Y3Pose>>& poses() const { return poses_; }

    // The compiled form: bytes or the first negative result.
    std::int32_t writeCompiled(DataStream& out) const;
    // The source form: every pose's text record.
    std::int32_t writeSource(DataStream& out) const;

private:
    std::vector<std::unique_ptr<Y3Pose>> poses_;
};

// Builds a visibility block.
class VisibilityBuilder {
public:
    // An area of one box (centre and half extents, axis-aligned); its index.
    std::int32_t addArea(const char* name, const float* centre, const float* halfExtents);
    // A portal box joining two areas (-1 for none), opened by the named
    // object when linkName is not empty; its index.
    std::int32_t addPortal(const char* name, const float* centre, const float* halfExtents, std::int32_t areaA,
                           std::int32_t areaB, const char* linkName = "");
    // Names an object in an area's hidden or excluded list.
    void hideIn(std::int32_t area, const char* objectName);
    void excludeFrom(std::int32_t area, const char* objectName);

    ScenePVS& pvs() { return pvs_; }
    // The scene-data block (no object slots): bytes or negative.
    std::int32_t write(DataStream& out) const { return pvs_.write(out, false); }

private:
    ScenePVS pvs_;
};

}  // namespace scene_tools
