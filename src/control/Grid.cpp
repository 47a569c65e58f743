#include "control/Grid.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "app/GameCore.h"
#include "control/ControlSettings.h"
#include "control/PathGridDataManager.h"
#include "control/Y3GridData.h"
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
    // The walker's place on the route indexes its points from 0 on.
    if (progress < 0) {
        engineLog().error("Can't read grid [%s]: its route progress %i is negative", gridName, progress);
        return -1;
    }
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

Grid* Grid::create(PathGridRecord* record, std::uint32_t scene, const char* resourceName, const char* name) {
    if (record && record->has(kResourceUnavailable)) return nullptr;
    return new Grid(record, scene, record ? record->name : resourceName, name);
}

Grid::Grid(PathGridRecord* record, std::uint32_t scene, const char* resourceName, const char* ownName)
    : GameObject(resourceName ? resourceName : ""), resource(record), sceneLink(scene) {
    copyName(gridName, sizeof(gridName), ownName ? ownName : "");
}

Grid::~Grid() {
    if (flags & kGridRegistered) {
        engineLog().error("Grid Destructor: Object [%s] is registered: Unregister before release", gridName);
        pop(0);
    }
}

void Grid::setResourcePushed(bool pushed) {
    if (pushed)
        flags |= kGridRegistered;
    else
        flags &= ~kGridRegistered;
}

bool Grid::push() {
    Log& log = engineLog();
    if (flags & kGridRegistered) return log.error("Can't push object [%s] twice", gridName);
    if (!(flags & kGridRoutePresent)) return log.error("Can't push invisible grid: push only at visible phase");
    if (!resource) return log.error("Can't push %s instance to %s resource repository", "pathfind", "grid");
    return ResourceManagerBase::push(resource, this);
}

bool Grid::pop(std::uint32_t) {
    if (!(flags & kGridRegistered)) return engineLog().error("Can't pop grid [%s]: push first", gridName);
    if (!resource) return engineLog().error("Can't pop %s instance from %s resources repository", "pathfind", "grid");
    return ResourceManagerBase::pop(resource, this);
}

std::int32_t Grid::read(DataStream& stream) {
    const bool registered = (flags & kGridRegistered) != 0;
    const std::int32_t result = GridRecord::read(stream);
    const bool savedRegistered = (flags & kGridRegistered) != 0;
    // The registration is this object's own: the saved bit only says that
    // it was registered when saved.
    setResourcePushed(registered);
    if (result >= 0 && savedRegistered && !registered && resource && resource->users.indexOf(this) < 0 &&
        resource->users.append(this))
        setResourcePushed(true);
    return result;
}

void Grid::release() {
    nodes.clear();
    points.clear();
    flags &= ~(kGridRoutePresent | kGridPointsBuilt);
}

void Grid::reset(double) {
    release();
    progress = 0;
}

Y3GridData* Grid::access(bool quiet) {
    Y3GridData* grid = resource && gameCore.pathGrids ? gameCore.pathGrids->acquire(resource) : nullptr;
    if (!grid && !quiet) engineLog().error("Can't find grid [%s]", name);
    return grid;
}

std::uint32_t Grid::findNode(const float* position) {
    if (pathfindSettings.debugDisablePathfind) return 0;
    const Y3GridData* grid = access();
    if (!grid) return 0;
    const std::uint32_t id = grid->findCell(position, true, -1.0f);
    if (id && position[1] - grid->cellHeight(*grid->cellOf(id)) < 2.0f) return id;
    const float none[3] = {0.0f, 0.0f, 0.0f};
    return grid->findNearestCell(position, none, 3.0f);
}

std::uint32_t Grid::findNearestPoint(const float* target, const float* position) {
    if (pathfindSettings.debugDisablePathfind) return 0;
    const Y3GridData* grid = access();
    if (!grid) return 0;
    float origin[3] = {position[0], position[1], position[2]};
    const std::uint32_t id = grid->findCell(position, true, -1.0f);
    if (id) {
        if (position[1] - grid->cellHeight(*grid->cellOf(id)) < 2.0f) return id;
        origin[1] = target[1];
    }
    const float d[3] = {target[0] - origin[0], target[1] - origin[1], target[2] - origin[2]};
    if (d[0] == 0.0f && d[1] == 0.0f && d[2] == 0.0f) return id;
    // Straight above or below the origin there is no direction to prefer.
    float direction[3] = {0.0f, 0.0f, 0.0f};
    const float horizontal = std::sqrt(d[0] * d[0] + d[2] * d[2]);
    if (horizontal > 0.0f) {
        direction[0] = d[0] / horizontal;
        direction[2] = d[2] / horizontal;
    }
    return grid->findNearestCell(origin, direction, 10.0f);
}

bool Grid::getNodePosition(std::uint32_t id, float* out) {
    const Y3GridData* grid = access(true);
    return grid && grid->cellPosition(id, out);
}

namespace {

std::int32_t pathDetails() { return std::max(1, pathfindSettings.pathDetails); }

// The horizontal part of v made a unit vector; false (v unchanged) when it
// has no length.
bool horizontalUnit(float* v) {
    const float length = std::sqrt(v[0] * v[0] + v[2] * v[2]);
    if (!(length > 0.0f)) return false;
    v[0] /= length;
    v[1] = 0.0f;
    v[2] /= length;
    return true;
}

// The points a segment of length L resamples into at step / D.
double segmentSamples(float length, float step) {
    return std::trunc(static_cast<double>(length * (1.0f / (step / static_cast<float>(pathDetails())))));
}

float segmentLength(const float* a, const float* b) {
    const float d[3] = {b[0] - a[0], b[1] - a[1], b[2] - a[2]};
    return std::sqrt(d[0] * d[0] + d[1] * d[1] + d[2] * d[2]);
}

}  // namespace

void smoothRoutePoints(std::vector<float>& output, const std::vector<float>& input, float step) {
    output.clear();
    const std::size_t count = input.size() / 3;
    if (count == 0) return;
    std::vector<float> resampled;
    resampled.reserve(count * static_cast<std::size_t>(pathDetails()) * 3);
    for (std::size_t i = 0; i + 1 < count; ++i) {
        const float* a = &input[i * 3];
        const float* b = a + 3;
        const double samples = segmentSamples(segmentLength(a, b), step);
        const std::int32_t m = samples > 0.0 ? static_cast<std::int32_t>(samples) : 0;
        for (std::int32_t j = 0; j < m; ++j) {
            const float t = static_cast<float>(j) / static_cast<float>(m);
            for (int axis = 0; axis < 3; ++axis) resampled.push_back(a[axis] * (1.0f - t) + b[axis] * t);
        }
    }
    resampled.insert(resampled.end(), input.end() - 3, input.end());

    static const std::vector<float> kOne{1.0f};
    const std::vector<float>& w = pathfindSettings.weights.empty() ? kOne : pathfindSettings.weights;
    const std::int64_t k = static_cast<std::int64_t>(w.size());
    const std::int64_t n = static_cast<std::int64_t>(resampled.size() / 3);
    output.resize(resampled.size());
    for (std::int64_t i = 0; i < n; ++i) {
        float total = 0.0f;
        for (std::int64_t j = 0; j < k && i + j < n; ++j) total += w[static_cast<std::size_t>(j)];
        for (std::int64_t j = 1; j < k && i - j >= 0; ++j) total += w[static_cast<std::size_t>(j)];
        float* out = &output[static_cast<std::size_t>(i) * 3];
        const float* own = &resampled[static_cast<std::size_t>(i) * 3];
        // Weights that sum to nothing leave the point where it is.
        if (!(total != 0.0f) || !std::isfinite(total)) {
            std::copy(own, own + 3, out);
        } else {
            out[0] = out[1] = out[2] = 0.0f;
            const auto add = [&](std::int64_t at, float weight) {
                const float* p = &resampled[static_cast<std::size_t>(at) * 3];
                for (int axis = 0; axis < 3; ++axis) out[axis] += weight / total * p[axis];
            };
            for (std::int64_t j = 0; j < k && i + j < n; ++j) add(i + j, w[static_cast<std::size_t>(j)]);
            for (std::int64_t j = 1; j < k && i - j >= 0; ++j) add(i - j, w[static_cast<std::size_t>(j)]);
        }
        out[1] += 0.05f;
    }
}

void Grid::setRoutePoints(const std::vector<float>& input, float step) {
    points.clear();
    flags &= ~kGridPointsBuilt;
    if (step < 0.0f) {
        const Y3GridData* grid = access();
        if (!grid) return;
        step = grid->cellSize;
    }
    // Points come from controllers and scripts: refuse what cannot be
    // resampled into a bounded route.
    const std::size_t count = input.size() / 3;
    double samples = 1.0;
    bool finite = std::isfinite(step) && step > 0.0f;
    for (std::size_t i = 0; finite && i < count; ++i)
        finite = std::isfinite(input[i * 3]) && std::isfinite(input[i * 3 + 1]) && std::isfinite(input[i * 3 + 2]);
    for (std::size_t i = 0; finite && i + 1 < count; ++i) {
        samples += segmentSamples(segmentLength(&input[i * 3], &input[i * 3 + 3]), step);
        finite = std::isfinite(samples);
    }
    if (count > 0 && (!finite || samples > static_cast<double>(kMaxRoutePoints))) {
        flags &= ~kGridRoutePresent;
        engineLog().error("Can't set route of grid [%s]: %zu points with step %g are not finite or exceed %zu route points",
                          gridName, count, static_cast<double>(step), kMaxRoutePoints);
        return;
    }
    smoothRoutePoints(points, input, step);
    flags |= kGridPointsBuilt;
    if (count > 0)
        flags |= kGridRoutePresent;
    else
        flags &= ~kGridRoutePresent;
}

bool Grid::buildRoutePoints() {
    if (pathfindSettings.debugDisablePathfind) return false;
    if (!points.empty()) return (flags & kGridRoutePresent) != 0;
    const Y3GridData* grid = access();
    if (!grid) return false;
    std::vector<float> centres;
    centres.reserve(nodes.size() * 3);
    float at[3];
    for (const std::uint32_t id : nodes)
        if (grid->cellPosition(id, at)) centres.insert(centres.end(), at, at + 3);
    setRoutePoints(centres, grid->cellSize);
    return (flags & kGridRoutePresent) != 0;
}

const std::vector<float>& Grid::routePoints() {
    if (points.empty() && !nodes.empty()) buildRoutePoints();
    return points;
}

bool Grid::searchRoute(std::uint32_t start, std::uint32_t goal, float limit) {
    if (pathfindSettings.debugDisablePathfind) return false;
    Y3GridData* grid = access();
    if (!grid) return false;
    points.clear();
    flags &= ~kGridPointsBuilt;
    float a[3], b[3];
    if (!grid->cellPosition(start, a) || !grid->cellPosition(goal, b))
        return engineLog().error("Can't search route of grid [%s]: node 0x%08X or 0x%08X names no cell", gridName,
                                 start, goal);
    if (segmentLength(a, b) > limit) return false;
    findPath(*grid, start, goal, nodes, limit);
    return buildRoutePoints();
}

void Grid::setEndPose(const float* pose) {
    if (pathfindSettings.debugDisablePathfind) return;
    progress = 0;
    std::copy(pose, pose + 12, endPose);
    buildRoutePoints();
    alignEndPose(pose + 9);
}

void Grid::advance(const float* position) {
    if (pathfindSettings.debugDisablePathfind) return;
    routePoints();
    const std::int64_t count = static_cast<std::int64_t>(points.size() / 3);
    float best = -1.0f;
    std::int64_t nearest = -1;
    for (std::int64_t i = std::max(0, progress); i < count; ++i) {
        const float dx = position[0] - points[static_cast<std::size_t>(i) * 3];
        const float dz = position[2] - points[static_cast<std::size_t>(i) * 3 + 2];
        const float d = dx * dx + dz * dz;
        if (best > 0.0f && d > best) break;
        best = d;
        nearest = i;
    }
    if (nearest >= 0) progress = std::max<std::int32_t>(progress, static_cast<std::int32_t>(nearest - 1));
}

bool Grid::checkObstacles() {
    if (pathfindSettings.debugDisablePathfind) return false;
    const std::int32_t lookup = pathfindSettings.pathObstaclesLookup;
    if (lookup == 0 || nodes.empty()) return true;
    const std::int64_t n = progress / pathDetails();
    const std::int64_t count = static_cast<std::int64_t>(nodes.size());
    if (n < 0 || n >= count) return false;
    const Y3GridData* grid = access();
    if (!grid) return false;
    for (std::int64_t i = n; i < count && i < n + lookup; ++i) {
        const GridCell* cell = grid->cellOf(nodes[static_cast<std::size_t>(i)]);
        if (!cell || !(cell->height & kGridBlockedBit)) continue;
        nodes.resize(static_cast<std::size_t>(std::max<std::int64_t>(i - 1, 0)));
        points.clear();
        flags &= ~kGridPointsBuilt;
        buildRoutePoints();
        if (!points.empty()) {
            std::copy(points.end() - 3, points.end(), endPose + 9);
            alignEndPose(endPose + 9);
        }
        return true;
    }
    return true;
}

bool Grid::alignEndPose(const float* p) {
    if (pathfindSettings.debugDisablePathfind) return false;
    if (nodes.empty() || points.empty()) return true;
    const Y3GridData* grid = access();
    if (!grid) return false;
    const float* last = &points[points.size() - 3];
    const std::uint32_t id = grid->findCell(endPose + 9, true, -1.0f);
    float centre[3];
    if (id && grid->cellPosition(id, centre)) {
        const float dx = centre[0] - last[0], dz = centre[2] - last[2];
        if (std::sqrt(dx * dx + dz * dz) < grid->cellSize) return true;
    }
    const float target[3] = {p[0], p[1], p[2]};
    std::copy(last, last + 3, endPose + 9);
    float facing[3] = {target[0] - last[0], 0.0f, target[2] - last[2]};
    // Standing on the point itself gives no direction: the rotation stays.
    if (!horizontalUnit(facing)) return true;
    const float up[3] = {0.0f, 1.0f, 0.0f};
    float side[3] = {-facing[2], 0.0f, facing[0]};  // facing x up
    horizontalUnit(side);
    std::copy(facing, facing + 3, endPose);
    std::copy(up, up + 3, endPose + 3);
    std::copy(side, side + 3, endPose + 6);
    return true;
}

float Grid::update(const float* position) {
    if (pathfindSettings.debugDisablePathfind) return 0.0f;
    advance(position);
    checkObstacles();
    routePoints();
    const std::int64_t d = pathDetails();
    const std::int64_t c = static_cast<std::int64_t>(points.size() / 3);
    const std::int64_t p = progress;
    const std::int64_t eyeEnd = std::min<std::int64_t>(p + d * pathfindSettings.pathEyeLookup, c - 1);
    float result;
    if (p + 1 >= eyeEnd || p + d * pathfindSettings.pathLockLookup >= c) {
        float toEnd[3] = {endPose[9] - position[0], 0.0f, endPose[11] - position[2]};
        result = std::sqrt(toEnd[0] * toEnd[0] + toEnd[2] * toEnd[2]);
        // On the end point itself the previous direction stays.
        if (horizontalUnit(toEnd)) std::copy(toEnd, toEnd + 3, eye);
    } else {
        if (const Y3GridData* grid = access(true)) {
            result = static_cast<float>(c - p) * grid->cellSize / static_cast<float>(d);
        } else {
            // A route of points alone (no grid data): its length ahead.
            result = 0.0f;
            const float* from = position;
            for (std::int64_t i = std::max<std::int64_t>(p + 1, 0); i < c; ++i) {
                const float* to = &points[static_cast<std::size_t>(i) * 3];
                result += std::sqrt((to[0] - from[0]) * (to[0] - from[0]) + (to[2] - from[2]) * (to[2] - from[2]));
                from = to;
            }
        }
        float sum[3] = {0.0f, 0.0f, 0.0f};
        float w = 0.1f;
        for (std::int64_t i = p + 1; i < eyeEnd; ++i, w *= 1.5f) {
            sum[0] += w * (points[static_cast<std::size_t>(i) * 3] - position[0]);
            sum[2] += w * (points[static_cast<std::size_t>(i) * 3 + 2] - position[2]);
        }
        if (horizontalUnit(sum)) std::copy(sum, sum + 3, eye);
    }
    const std::int64_t h = p + d * pathfindSettings.pathHeadLookup;
    float look[3];
    if (h >= c) {
        std::copy(endPose, endPose + 3, look);
    } else {
        const float* at = &points[static_cast<std::size_t>(h) * 3];
        look[0] = at[0] - position[0];
        look[2] = at[2] - position[2];
    }
    look[1] = 0.0f;
    if (horizontalUnit(look)) std::copy(look, look + 3, head);
    return result;
}

bool sceneGridBlockFree(const Scene& scene, const float* position) {
    // The scene's grid record is found (and a changed grid dropped) on use.
    PathGridRecord* record = const_cast<Scene&>(scene).findGridData();
    const Y3GridData* grid = record && gameCore.pathGrids ? gameCore.pathGrids->acquire(record) : nullptr;
    if (!grid) return false;
    const float raised[3] = {position[0], position[1] + 0.5f, position[2]};
    const std::uint32_t centre = grid->findCell(raised, true, -1.0f);
    if (!centre) return false;
    const auto column = [&](std::uint32_t id) {
        std::uint32_t up = id, down = id;
        for (int i = 0; i < 3; ++i) {
            up = grid->stepPrevRow(up);
            down = grid->stepNextRow(down);
            if (!up || !down) return false;
        }
        return true;
    };
    if (!column(centre)) return false;
    std::uint32_t back = centre, forward = centre;
    for (int i = 0; i < 3; ++i) {
        back = grid->stepBack(back);
        forward = grid->stepForward(forward);
        if (!back || !forward || !column(back) || !column(forward)) return false;
    }
    return true;
}
