#include "game/DialogDataManager.h"

DialogDataManager::DialogDataManager() : StoredDataManager({.className = "DialogDataManager",
                                                      .kind = ResourceKind::Dialog,
                                                      .compileReason = "dialog compilation NOT possible in game",
                                                      .compileFailure = "Fail to compile dialog data from file [%s]"}) {}
