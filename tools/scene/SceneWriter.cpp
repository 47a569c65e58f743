#include "scene/SceneWriter.h"

#include <algorithm>
#include <cstring>

#include "foundation/DataStream.h"

namespace scene_tools {

Matrix34 poseAt(float x, float y, float z, float size) {
    Matrix34 pose = matrix34Identity();
    for (int i = 0; i < 3; ++i) pose.m[4 * i] = size;
    pose.m[9] = x;
    pose.m[10] = y;
    pose.m[11] = z;
    return pose;
}

Y3Pose& WaypointSet::add(std::uint32_t type, const char* id, const Matrix34& pose) {
    std::unique_ptr<Y3Pose> created = Y3Pose::create(type);
    copyName(created->id, sizeof(created->id), id);
    created->pose = pose;
    auto at = std::upper_bound(poses_.begin(), poses_.end(), created, [](const auto& a, const auto& b) {
        return std::strcmp(a->id, b->id) < 0;
    });
    return **poses_.insert(at, std::move(created));
}

bool WaypointSet::readSource(DataStream& in, const char* fileName, std::string& error) {
    while (true) {
        std::unique_ptr<Y3Pose> pose;
        const std::int32_t result = Y3Pose::createFromText(in, fileName, pose);
        if (result == -2) return true;
        if (result < 0 || !pose) {
            error = "bad waypoint record before line " + std::to_string(in.lineNumber + 1);
            return false;
        }
        auto at = std::lower_bound(poses_.begin(), poses_.end(), pose, [](const auto& a, const auto& b) {
            return std::strcmp(a->id, b->id) < 0;
        });
        if (at != poses_.end() && std::strcmp((*at)->id, pose->id) == 0) {
            error = std::string("waypoint id [") + pose->id + "] is taken";
            return false;
        }
        poses_.insert(at, std::move(pose));
    }
}

std::int32_t WaypointSet::writeCompiled(DataStream& out) const {
    std::int32_t total = 0;
    if (!addField(total, writeU32(out, static_cast<std::uint32_t>(poses_.size())))) return total;
    for (const auto& pose : poses_)
        if (!addField(total, pose->writeBinary(out))) return total;
    return total;
}

std::int32_t WaypointSet::writeSource(DataStream& out) const {
    std::int32_t total = 0;
    for (const auto& pose : poses_)
        if (!addField(total, pose->write(out))) return total;
    return total;
}

std::int32_t VisibilityBuilder::addArea(const char* name, const float* centre, const float* halfExtents) {
    auto area = std::make_unique<PVSAreaRecord>();
    area->index = static_cast<std::int32_t>(pvs_.areas.size());
    copyName(area->name, sizeof(area->name), name);
    auto box = std::make_unique<IntersectionOBBox>();
    box->setFromExtents(poseAt(centre[0], centre[1], centre[2]), halfExtents);
    area->volumes.push_back(std::move(box));
    pvs_.areas.push_back(std::move(area));
    return static_cast<std::int32_t>(pvs_.areas.size()) - 1;
}

std::int32_t VisibilityBuilder::addPortal(const char* name, const float* centre, const float* halfExtents,
                                          std::int32_t areaA, std::int32_t areaB, const char* linkName) {
    auto portal = std::make_unique<PVSPortalRecord>();
    const std::int32_t index = static_cast<std::int32_t>(pvs_.portals.size());
    portal->index = index;
    copyName(portal->name, sizeof(portal->name), name);
    portal->volume.setFromExtents(poseAt(centre[0], centre[1], centre[2]), halfExtents);
    copyName(portal->link.name, sizeof(portal->link.name), linkName);
    portal->sides[0].area = areaA;
    portal->sides[1].area = areaB;
    for (std::int32_t area : {areaA, areaB})
        if (area >= 0 && static_cast<std::size_t>(area) < pvs_.areas.size())
            pvs_.areas[static_cast<std::size_t>(area)]->portals.push_back(index);
    pvs_.portals.push_back(std::move(portal));
    return index;
}

void VisibilityBuilder::hideIn(std::int32_t area, const char* objectName) {
    PVSObjectName entry;
    copyName(entry.name, sizeof(entry.name), objectName);
    pvs_.areas[static_cast<std::size_t>(area)]->hiddenObjects.push_back(entry);
}

void VisibilityBuilder::excludeFrom(std::int32_t area, const char* objectName) {
    PVSObjectName entry;
    copyName(entry.name, sizeof(entry.name), objectName);
    pvs_.areas[static_cast<std::size_t>(area)]->excludedObjects.push_back(entry);
}

}  // namespace scene_tools
