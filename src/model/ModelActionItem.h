// The run-time action items of a model: one per action its resource
// declares, each with its enabled bit and its five ranges (0: not set).
// Every frame a drawn model rebuilds its enabled items in the world and
// offers those the player can point at to the current camera.
#pragma once

#include <cstdint>
#include <vector>

#include "foundation/Intersection.h"

class Model;
class ModelActionItemData;

// Bit of ModelActionItem::flags.
constexpr std::uint32_t kModelActionEnabled = 0x1;

// A point on the 1024 x 768 virtual screen (z stays 0).
struct ActionScreenPoint {
    float x = 0.0f, y = 0.0f, z = 0.0f;
};

struct ModelActionItem {
    char name[128];
    // The action's box and spot point in the world, as the last build left
    // them.
    IntersectionOBBox box;
    float spot[3];
    std::uint32_t flags;
    float maxRange3d;
    float minRange3d;
    float minRange2d;
    float maxRange2d;
    float minSize2d;

    // Places the item by its record: the record's action-to-parent matrix,
    // then the named bone's model-space matrix (when the model has that
    // bone), then the model's world matrix scaled by its scale.
    void build(const Model& model, const ModelActionItemData& record);
};

// True when q lies strictly inside a triangle of three points of the list
// (fewer than three points: false).
bool pointInAnyTriangle(const std::vector<ActionScreenPoint>& points, float qx, float qy);
// The same for point n against the triangles of the other points.
bool pointInOtherTriangle(const std::vector<ActionScreenPoint>& points, std::size_t n);
// Removes every point that lies inside a triangle of three other points;
// what remains outlines the same area.
void pruneInnerPoints(std::vector<ActionScreenPoint>& points);
