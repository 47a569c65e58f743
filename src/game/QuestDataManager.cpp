#include "game/QuestDataManager.h"

#include "foundation/DataStream.h"

QuestDataManager::~QuestDataManager() { release(); }

std::int32_t QuestDataManager::readResource(DataStream&, const char*, std::int32_t) { return -1; }

bool QuestDataManager::compileFromSource(const char* sourcePath) {
    MemoryStream compiled;
    return saveCompiledStream(compiled, sourcePath);
}

bool QuestDataManager::initialize() { return true; }

void QuestDataManager::release() {}
