#include "game/SceneActionDataManager.h"

#include "foundation/DataStream.h"

SceneActionDataManager::~SceneActionDataManager() { release(); }

std::int32_t SceneActionDataManager::readResource(DataStream&, const char*, std::int32_t) { return -1; }

bool SceneActionDataManager::compileFromSource(const char* sourcePath) {
    MemoryStream compiled;
    return saveCompiledStream(compiled, sourcePath);
}

bool SceneActionDataManager::initialize() { return true; }

void SceneActionDataManager::release() {}
