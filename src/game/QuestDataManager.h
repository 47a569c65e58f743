// The compiled quests that the quest engine runs: every stored ".quest"
// file of the packages is read into the record of its name at start.
#pragma once

#include "resources/StoredDataManager.h"

class QuestDataManager : public StoredDataManager {
public:
    QuestDataManager();
};
