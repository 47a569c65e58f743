#include "animation/AnimationMapData.h"

#include <cstring>

#include "foundation/DataStream.h"
#include "foundation/Log.h"

AnimationMapData::AnimationMapData(const char* recordName)
    : ResourceRecord(recordName, resourceDescriptor(ResourceKind::AnimationMap)) {}

AnimationMapData::~AnimationMapData() { dispose(); }

std::int32_t AnimationMapData::readHeader(DataStream& stream) { return readMapData(name, stream, map); }

const AnimationMapEntry* AnimationMapData::findEntry(const char* boneName) const {
    if (!map || !boneName) return nullptr;
    std::size_t low = 0;
    std::size_t high = map->size();
    while (low < high) {
        const std::size_t mid = (low + high) / 2;
        const int order = std::strncmp((*map)[mid].boneName, boneName, sizeof(AnimationMapEntry::boneName));
        if (order == 0) return &(*map)[mid];
        if (order < 0)
            low = mid + 1;
        else
            high = mid;
    }
    return nullptr;
}

bool AnimationMapData::partDrivesBone(const char* boneName, std::int32_t part) const {
    const AnimationMapEntry* entry = findEntry(boneName);
    if (!entry || part < 0 || part >= kTrackerWeightIndex) return true;
    if (entry->weight[part] == 0.0f) return false;
    return !(part == 0 && entry->weight[kFacePart] != 0.0f);
}

float AnimationMapData::trackerWeight(const char* boneName, float factor) const {
    const AnimationMapEntry* entry = findEntry(boneName);
    return entry ? entry->weight[kTrackerWeightIndex] * factor : 0.0f;
}

std::int32_t readMapData(const char* name, DataStream& stream,
                         std::unique_ptr<std::vector<AnimationMapEntry>>& map) {
    map = std::make_unique<std::vector<AnimationMapEntry>>();
    std::int32_t total = 0;
    std::int32_t count = 0;
    if (addField(total, readI32(stream, count))) {
        if (count < 0 || count > bytesLeft(stream) / static_cast<std::int32_t>(sizeof(AnimationMapEntry))) {
            total = -1;
        } else if (count > 0) {
            map->resize(static_cast<std::size_t>(count));
            addField(total, readExact(stream, map->data(), count * static_cast<std::int32_t>(sizeof(AnimationMapEntry))));
            for (AnimationMapEntry& entry : *map) entry.boneName[sizeof(entry.boneName) - 1] = 0;
        }
    }
    if (total < 0) {
        engineLog().systemError("Failed read animation map [%s] data", name ? name : "");
        map.reset();
    }
    return total;
}
