#include "effects/SkyDataManager.h"

#include "foundation/DataStream.h"

SkyDataManager::~SkyDataManager() { release(); }

std::int32_t SkyDataManager::readResource(DataStream&, const char*, std::int32_t) { return -1; }

bool SkyDataManager::compileFromSource(const char* sourcePath) {
    MemoryStream compiled;
    return saveCompiledStream(compiled, sourcePath);
}

bool SkyDataManager::initialize() { return true; }

void SkyDataManager::release() {}
