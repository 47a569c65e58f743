// The compiled dialogs that dialog objects play, one record per dialog
// file, loaded when first asked for.
#pragma once

#include "resources/StoredDataManager.h"

class DialogDataManager : public StoredDataManager {
public:
    DialogDataManager();
};
