#include "effects/LightDataManager.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "foundation/Log.h"
#include "resources/LoadingProgress.h"

Y3LightData::Y3LightData(const char* recordName) {
    if (recordName) std::strncpy(name, recordName, sizeof(name) - 1);
}

Y3LightData::~Y3LightData() {
    if (light && (light->flags & kY3LightAllocated)) light->deallocate();
}

bool Y3LightData::load(const Y3Light* source) {
    light = source ? source->clone() : nullptr;
    if (light) flags |= kLightDataLoaded;
    else flags &= ~kLightDataLoaded;
    return light != nullptr;
}

bool Y3LightData::allocate() {
    if (allocated()) return logError("Already allocated. Try to allocate twice");
    if (!light || !light->allocate()) return logError("Allocation failed");
    flags |= kLightDataAllocated;
    return true;
}

bool Y3LightData::logError(const char* message) const {
    return engineLog().resourceError("Y3Light [%s]: %s", name, message);
}

Y3LightData* LightDataManager::find(const char* name) const {
    if (!name) return nullptr;
    const auto at = records_.find(std::string_view(name));
    return at != records_.end() ? at->second.get() : nullptr;
}

Y3LightData* LightDataManager::getOrCreate(const char* name) {
    if (!name) return nullptr;
    const std::string_view key(name, strnlen(name, sizeof(Y3LightData::name) - 1));
    if (const auto at = records_.find(key); at != records_.end()) return at->second.get();
    auto record = std::make_unique<Y3LightData>(name);
    return records_.emplace(std::string(key), std::move(record)).first->second.get();
}

bool LightDataManager::drop(const char* name) {
    if (!name) return false;
    const auto at = records_.find(std::string_view(name, strnlen(name, sizeof(Y3LightData::name) - 1)));
    if (at == records_.end() || at->second->holders > 0 || !at->second->instances.empty()) return false;
    records_.erase(at);
    return true;
}

namespace {

LightDataManager* installedManager = nullptr;

}  // namespace

LightDataManager& lightDataManager() {
    if (installedManager) return *installedManager;
    static LightDataManager processManager;
    return processManager;
}

void setLightDataManager(LightDataManager* manager) { installedManager = manager; }

std::string lightRecordName(const char* owner, const Y3Light& light) {
    char recordName[256];
    std::snprintf(recordName, sizeof(recordName), "%s.%s", owner ? owner : "", light.name);
    recordName[127] = '\0';
    return recordName;
}

Y3LightData* loadLightResource(const char* owner, const Y3Light& light, bool allocateOnLoad) {
    Y3LightData* record = lightDataManager().getOrCreate(lightRecordName(owner, light).c_str());
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
            if (record->allocate()) record->flags &= ~kLightDataAllocateOnLoad;
        }
    }
    if (!record->loaded()) record->logError("Load failed");
    return record;
}
