#include "effects/LightDataManager.h"

#include <cstring>
#include <string_view>

#include "foundation/Log.h"

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

LightDataManager& lightDataManager() {
    static LightDataManager manager;
    return manager;
}
