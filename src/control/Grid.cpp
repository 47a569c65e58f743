#include "control/Grid.h"

#include <cstdio>
#include <cstring>

#include "foundation/DataStream.h"
#include "foundation/Log.h"
#include "scene/Scene.h"

std::int32_t GridRecord::write(DataStream& stream) const {
    std::int32_t total = 0;
    if (!addField(total, writeString16(stream, gridName, sizeof(gridName)))) return total;
    if (!addField(total, writeU32(stream, flags)) || !addField(total, stream.write(endPose, sizeof(endPose))) ||
        !addField(total, writeUIntArray(stream, nodes)))
        return total;
    if (!addField(total, writeI32(stream, progress)) || !addField(total, stream.write(eye, sizeof(eye))) ||
        !addField(total, stream.write(head, sizeof(head))))
        return total;
    if (!nodes.empty()) return total;
    if (!addField(total, writeU32(stream, static_cast<std::uint32_t>(points.size() / 3)))) return total;
    if (!points.empty()) addField(total, stream.write(points.data(), static_cast<std::int32_t>(points.size() * 4)));
    return total;
}

std::int32_t GridRecord::read(DataStream& stream) {
    std::int32_t total = 0;
    const std::int32_t name = readString16(stream, gridName, sizeof(gridName));
    if (name < 0) {
        if (bytesLeft(stream) > 0) engineLog().error("Can't read grid: its name is longer than 127 characters");
        return name;
    }
    total += name;
    if (!addField(total, readU32(stream, flags)) || !addField(total, readExact(stream, endPose, sizeof(endPose))) ||
        !addField(total, readUIntArray(stream, nodes)) || !addField(total, readI32(stream, progress)) ||
        !addField(total, readExact(stream, eye, sizeof(eye))) || !addField(total, readExact(stream, head, sizeof(head))))
        return total;
    if (!nodes.empty()) return total;
    std::uint32_t count = 0;
    if (!addField(total, readU32(stream, count))) return total;
    if (count > static_cast<std::uint32_t>(bytesLeft(stream)) / 12u) {
        engineLog().error("Can't read grid [%s]: %u route points do not fit in the record", gridName, count);
        return -1;
    }
    points.assign(static_cast<std::size_t>(count) * 3, 0.0f);
    if (count) addField(total, readExact(stream, points.data(), static_cast<std::int32_t>(count * 12)));
    return total;
}

Grid* Grid::create(Scene& scene, const char* name) {
    char resource[128];
    std::snprintf(resource, sizeof(resource), "%s%s", "grid_", scene.name);
    return new Grid(scene.id, resource, name);
}

Grid::Grid(std::uint32_t scene, const char* resource, const char* ownName)
    : GameObject(resource ? resource : ""), sceneLink(scene) {
    copyName(gridName, sizeof(gridName), ownName ? ownName : "");
}

Grid::~Grid() {
    if (flags & kGridRegistered) {
        engineLog().error("Grid Destructor: Object [%s] is registered: Unregister before release", gridName);
        pop(0);
    }
}

bool Grid::push() {
    Log& log = engineLog();
    if (flags & kGridRegistered) return log.error("Can't push object [%s] twice", gridName);
    if (!(flags & kGridRoutePresent)) return log.error("Can't push invisible grid: push only at visible phase");
    flags |= kGridRegistered;
    return true;
}

bool Grid::pop(std::uint32_t) {
    if (!(flags & kGridRegistered)) return engineLog().error("Can't pop grid [%s]: push first", gridName);
    flags &= ~kGridRegistered;
    return true;
}

void Grid::release() {
    nodes.clear();
    points.clear();
    flags &= ~(kGridRoutePresent | kGridPointsBuilt);
}
