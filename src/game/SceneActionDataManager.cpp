#include "game/SceneActionDataManager.h"

SceneActionDataManager::SceneActionDataManager() : StoredDataManager({.className = "SceneActionDataManager",
                                                                .kind = ResourceKind::SceneActions,
                                                                .exportFailure =
                                                                    "Can't export to file screen actions resource [%s]"}) {}
