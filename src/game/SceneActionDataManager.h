// The screen actions of the scenes (clickable regions of the screens), one
// record per scene, loaded when first asked for; a record exports its
// compiled data.
#pragma once

#include "resources/StoredDataManager.h"

class SceneActionDataManager : public StoredDataManager {
public:
    SceneActionDataManager();
};
