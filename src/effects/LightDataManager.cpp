#include "effects/LightDataManager.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "foundation/Log.h"
#include "resources/LoadingProgress.h"

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

Y3LightData* loadLightResource(const char* owner, const Y3Light& light, bool allocateOnLoad) {
    char recordName[256];
    std::snprintf(recordName, sizeof(recordName), "%s.%s", owner, light.name);
    recordName[127] = '\0';
    Y3LightData* record = lightDataManager().getOrCreate(recordName);
    if (!record->loaded()) {
        record->load(&light);
        if (allocateOnLoad) record->flags |= kLightDataAllocateOnLoad;
    }
    if (record->flags & kLightDataAllocateOnLoad) {
        if (!record->loaded()) {
            record->logError("Load first");
        } else if (record->allocated()) {
            record->logError("Already allocated. Try to allocate twice");
        } else {
            LoadingLockGuard lock;
            if (!record->allocate()) record->logError("Allocation failed");
            else record->flags &= ~kLightDataAllocateOnLoad;
        }
    }
    if (!record->loaded()) record->logError("Load failed");
    return record;
}
