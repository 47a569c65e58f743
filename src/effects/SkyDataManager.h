// The sky descriptions (sky colours, fog, depth and bloom values per weather
// and time of day), one record per description, loaded when first asked
// for.
#pragma once

#include "resources/StoredDataManager.h"

class SkyDataManager : public StoredDataManager {
public:
    SkyDataManager();
};
