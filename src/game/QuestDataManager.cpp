#include "game/QuestDataManager.h"

QuestDataManager::QuestDataManager() : StoredDataManager({.className = "QuestDataManager",
                                                    .kind = ResourceKind::Quest,
                                                    .readAllAtStart = true,
                                                    .compileFailure = "Fail to compile quest data from file [%s]"}) {}
