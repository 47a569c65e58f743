// Tracker maps: bone by bone, which animation parts may move a character's
// bone and how strongly the bone tracker turns it. One map serves every
// model of the model resource of the same name; a model without its own map
// uses the map "default".
//
// The compiled file (".amap") is an i32 count and that many 148-byte
// entries: the bone name (char[128]) and five f32 weights (parts 0 to 3,
// then the tracker weight). Entries are sorted by bone name in byte order
// and looked up by binary search, names compared without case folding.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "resources/Y3ResourceManager.h"

class DataStream;

struct AnimationMapEntry {
    char boneName[128] = {};
    float weight[5] = {};
};
static_assert(sizeof(AnimationMapEntry) == 148);

// The weight index of the tracker weight.
constexpr std::int32_t kTrackerWeightIndex = 4;
// The animation part of the face.
constexpr std::int32_t kFacePart = 3;

// The record of one tracker map.
class AnimationMapData : public ResourceRecord {
public:
    explicit AnimationMapData(const char* name);
    ~AnimationMapData() override;

    // Reads the whole map (readMapData).
    std::int32_t readHeader(DataStream& stream) override;
    bool hasObject() const override { return map != nullptr; }
    void deleteObject() override { map.reset(); }

    // The entry of a bone, or null.
    const AnimationMapEntry* findEntry(const char* boneName) const;
    // Whether an animation of that part may move the bone: a bone absent
    // from the map keeps its track; a weight of 0 for the part removes it,
    // and for the body part (0) a non-zero face weight removes it too.
    bool partDrivesBone(const char* boneName, std::int32_t part) const;
    // The bone's tracker weight: its map weight times its factor; 0 (not
    // tracked) for a bone absent from the map.
    float trackerWeight(const char* boneName, float factor) const;

    std::unique_ptr<std::vector<AnimationMapEntry>> map;
};

// Reads a map into a new array: the bytes read, or negative ("Failed read
// animation map [%s] data") with no map made. A count the bytes left cannot
// hold is refused; bone names always end inside their fields.
std::int32_t readMapData(const char* name, DataStream& stream,
                         std::unique_ptr<std::vector<AnimationMapEntry>>& map);
