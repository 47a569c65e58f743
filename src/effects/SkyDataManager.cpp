#include "effects/SkyDataManager.h"

SkyDataManager::SkyDataManager() : StoredDataManager({.className = "SkyDataManager", .kind = ResourceKind::Sky}) {}
