#include "effects/LightDataManager.h"

#include <algorithm>
#include <cstring>

#include "foundation/Log.h"

namespace {

bool nameLess(const std::unique_ptr<Y3LightData>& record, const char* wanted) {
    return std::strcmp(record->name, wanted) < 0;
}

}  // namespace

Y3LightData::Y3LightData(const char* recordName) {
    if (recordName) std::strncpy(name, recordName, sizeof(name) - 1);
}

bool Y3LightData::load(const Y3Light* source) {
    light = source ? source->clone() : nullptr;
    if (light) flags |= kLightDataLoaded;
    else flags &= ~kLightDataLoaded;
    return light != nullptr;
}

bool Y3LightData::allocate() {
    if (light) flags |= kLightDataAllocated;
    else flags &= ~kLightDataAllocated;
    return allocated();
}

bool Y3LightData::logError(const char* message) const {
    return engineLog().resourceError("Y3Light [%s]: %s", name, message);
}

Y3LightData* LightDataManager::find(const char* name) const {
    if (!name) return nullptr;
    auto at = std::lower_bound(records_.begin(), records_.end(), name, nameLess);
    return at != records_.end() && std::strcmp((*at)->name, name) == 0 ? at->get() : nullptr;
}

Y3LightData* LightDataManager::getOrCreate(const char* name) {
    if (!name) return nullptr;
    auto record = std::make_unique<Y3LightData>(name);
    auto at = std::lower_bound(records_.begin(), records_.end(), record->name, nameLess);
    if (at != records_.end() && std::strcmp((*at)->name, record->name) == 0) return at->get();
    return records_.insert(at, std::move(record))->get();
}

LightDataManager& lightDataManager() {
    static LightDataManager manager;
    return manager;
}
