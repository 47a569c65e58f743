#include "game/WaypointDataManager.h"

#include "foundation/DataStream.h"

WaypointDataManager::~WaypointDataManager() { release(); }

std::int32_t WaypointDataManager::readResource(DataStream&, const char*, std::int32_t) { return -1; }

bool WaypointDataManager::compileFromSource(const char* sourcePath) {
    MemoryStream compiled;
    return saveCompiledStream(compiled, sourcePath);
}

bool WaypointDataManager::initialize() { return true; }

void WaypointDataManager::release() {}
