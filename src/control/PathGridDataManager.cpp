#include "control/PathGridDataManager.h"

PathGridDataManager::~PathGridDataManager() { releaseAll(); }

void PathGridDataManager::releaseAll() {}
