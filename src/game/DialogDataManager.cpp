#include "game/DialogDataManager.h"

#include "foundation/DataStream.h"

DialogDataManager::~DialogDataManager() { release(); }

std::int32_t DialogDataManager::readResource(DataStream&, const char*, std::int32_t) { return -1; }

bool DialogDataManager::compileFromSource(const char* sourcePath) {
    MemoryStream compiled;
    return saveCompiledStream(compiled, sourcePath);
}

bool DialogDataManager::initialize() { return true; }

void DialogDataManager::release() {}
