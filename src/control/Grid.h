// The grid game object (type 12): the path object through which a
// character or a boat follows a route on its scene's path-finding grid.
//
// This form holds the object, its push and pop and its save record; the
// grid resources, route building and following come with path finding.
#pragma once

#include <cstdint>
#include <vector>

#include "scene/GameObject.h"

class Scene;

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

class Grid : public GameObject, public GridRecord {
public:
    // A grid of the scene under its own name (empty for loading, where the
    // name comes from the save record); its object name is the scene's grid
    // resource, "grid_" and the scene's name.
    static Grid* create(Scene& scene, const char* name);
    Grid(std::uint32_t sceneLink, const char* resource, const char* name);
    ~Grid() override;

    std::uint32_t getType() const override { return ObjectGrid; }
    const char* getName() const override { return gridName; }
    std::uint32_t getSceneLink() const override { return sceneLink; }
    bool push() override;
    bool pop(std::uint32_t argument) override;
    std::int32_t write(DataStream& stream) override { return GridRecord::write(stream); }
    std::int32_t read(DataStream& stream) override { return GridRecord::read(stream); }
    bool validate() override { return true; }
    bool updatePhase0(const CurrentTime&, std::int32_t) override { return true; }
    bool updatePhase1(const CurrentTime&, std::int32_t) override { return true; }
    bool updatePhase3(const CurrentTime&, std::int32_t) override { return true; }
    bool updatePhase2(const CurrentTime&, std::int32_t) override { return true; }
    void invalidateLighting() override {}
    void release() override;

    std::uint32_t sceneLink = 0;
};
