#include "effects/RainMap.h"

namespace {

RainMapDataManager* installedManager = nullptr;

}  // namespace

RainMapDataManager::RainMapDataManager()
    : StoredDataManager({.className = "RainMapDataManager", .kind = ResourceKind::RainMap}) {}

RainMapDataManager* rainMapDataManager() { return installedManager; }
void setRainMapDataManager(RainMapDataManager* manager) { installedManager = manager; }

std::unique_ptr<RainMap> RainMap::create(StoredResourceRecord* record) {
    RainMapDataManager* manager = rainMapDataManager();
    if (!record || !manager || !manager->resourceBytes(record->name)) return nullptr;
    auto rain = std::make_unique<RainMap>();
    rain->record = record;
    rain->flags = kRainMapLoaded;
    return rain;
}

bool RainMap::release() {
    flags &= ~kRainMapLoaded;
    return true;
}
