// The grid game object (type 12): the path object through which a
// character or a boat follows a route on its scene's path-finding grid.
//
// It names its scene's grid resource (registering among its users while
// pushed), answers the node queries that join world positions and cells,
// builds a smoothed route from a path search or a list of points and steers
// a walker along it.
#pragma once

#include <cstdint>
#include <vector>

#include "resources/Y3ResourceManager.h"
#include "scene/GameObject.h"

class PathGridRecord;
class Scene;
class Y3GridData;

// Bits of Grid::flags.
constexpr std::uint32_t kGridRoutePresent = 0x2;
constexpr std::uint32_t kGridPointsBuilt = 0x4;
constexpr std::uint32_t kGridRegistered = 0x2000;

// The fields a grid saves, in the order of its record: own name (u16 length
// and bytes), flags, end pose (48 bytes), route nodes (u32 count and ids),
// progress, eye and head directions, then the route points (u32 count and
// 12 bytes each) only when there are no route nodes.
struct GridRecord {
    std::int32_t write(DataStream& stream) const;
    // Empties the name first; a name too long for its field, or a count
    // larger than the bytes left could hold, is refused.
    std::int32_t read(DataStream& stream);

    char gridName[128] = {};
    std::uint32_t flags = 0;
    float endPose[12] = {1, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0};
    std::vector<std::uint32_t> nodes;
    std::int32_t progress = 0;
    float eye[3] = {};
    float head[3] = {};
    std::vector<float> points;  // three floats a point
};

class Grid : public GameObject, public GridRecord, public ResourceUser {
public:
    // A grid on a grid resource record (null: none, every grid operation
    // then fails), named after the record (or resourceName without one);
    // null when the record is flagged unavailable. The own name may be
    // null (empty: a grid made for loading takes it from its record).
    static Grid* create(PathGridRecord* record, std::uint32_t sceneLink, const char* resourceName, const char* name);
    Grid(PathGridRecord* record, std::uint32_t sceneLink, const char* resource, const char* name);
    ~Grid() override;

    std::uint32_t getType() const override { return ObjectGrid; }
    const char* getName() const override { return gridName; }
    // Saved under its grid resource's name, which a restore makes it of; its
    // own name travels in its record.
    const char* recordName() const override { return name; }
    std::uint32_t getSceneLink() const override { return sceneLink; }
    bool push() override;
    bool pop(std::uint32_t argument) override;
    std::int32_t write(DataStream& stream) override { return GridRecord::write(stream); }
    // A grid saved while registered is registered again among the users of
    // its resource (the users list is not saved).
    std::int32_t read(DataStream& stream) override;
    bool validate() override { return true; }
    bool isHidden() const override { return !(flags & kGridRoutePresent); }
    bool updatePhase0(const CurrentTime&, std::int32_t) override { return true; }
    bool updatePhase1(const CurrentTime&, std::int32_t) override { return true; }
    bool updatePhase3(const CurrentTime&, std::int32_t) override { return true; }
    bool updatePhase2(const CurrentTime&, std::int32_t) override { return true; }
    void invalidateLighting() override {}
    void release() override;

    const char* resourceUserName() const override { return gridName; }
    bool resourcePushed() const override { return (flags & kGridRegistered) != 0; }
    void setResourcePushed(bool pushed) override;

    // The grid data of the resource, loaded on first use; null, logged
    // ("Can't find grid [%s]") unless quiet, when it cannot be had.
    Y3GridData* access(bool quiet = false);

    // The cell under a point (within 2.0 above it), else the nearest
    // within 3.0; 0 for none.
    std::uint32_t findNode(const float* position);
    // The cell at or near position, preferring cells towards target
    // (within 10.0); 0 for none.
    std::uint32_t findNearestPoint(const float* target, const float* position);
    // The centre of a cell; out untouched (false) for an invalid id or no
    // grid.
    bool getNodePosition(std::uint32_t id, float* out);

    // Drops the route (nodes, points, progress) so that a new one can be
    // handed over; a negative time drops it now.
    void reset(double time);
    // Searches the route from start to goal (false at once when their
    // centres lie farther apart than limit); true when a route is present.
    bool searchRoute(std::uint32_t start, std::uint32_t goal, float limit);
    // Where and how the route ends (facing, up, side, position); restarts
    // the progress.
    void setEndPose(const float* pose);
    // The route points from the route nodes' centres when none are built;
    // the route-present flag.
    bool buildRoutePoints();
    // Resamples and smooths a list of points (three floats each) into the
    // route; step below 0 is the cell size. Non-finite points, or points
    // that would resample into more than kMaxRoutePoints, give no route.
    void setRoutePoints(const std::vector<float>& input, float step);
    // The route points, built first when needed.
    const std::vector<float>& routePoints();
    // Moves the progress up to the route point nearest the walker (never
    // back).
    void advance(const float* position);
    // Cuts the route two nodes before a node ahead that has become blocked.
    bool checkObstacles();
    // Moves the end pose onto the route's last point, facing from it
    // towards p, unless its cell lies within a cell of that point.
    bool alignEndPose(const float* p);
    // One step of following: advances, checks the nodes ahead, sets the
    // eye and head directions; the distance left.
    float update(const float* position);

    PathGridRecord* resource = nullptr;
    std::uint32_t sceneLink = 0;
};

// The most points a route resamples into.
constexpr std::size_t kMaxRoutePoints = 1000000;

// Resamples the input points (three floats each) at step / path_details
// and smooths them with the path weights, each raised by 0.05 in y.
void smoothRoutePoints(std::vector<float>& output, const std::vector<float>& input, float step);

// Whether a free seven-by-seven block of the scene's grid lies around a
// position: its cell (found 0.5 above the position), three free neighbours
// back and forward along the row, and three free cells in the rows before
// and after each of those seven. False without a grid or a cell.
bool sceneGridBlockFree(const Scene& scene, const float* position);
