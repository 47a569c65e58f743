#include "model/ModelActionItemData.h"

#include "app/GameCore.h"
#include "foundation/IniFile.h"
#include "foundation/SettingsReader.h"

namespace {

ModelActionRanges ranges;

}  // namespace

void ModelActionItemData::loadDefaultRanges() {
    if (!gameCore.settings) return;
    IniCategory& action = gameCore.settings->getCategory("action");
    readSetting(action, "ranges[ModelActionItemData_max_range_3d]", ranges.maxRange3d, 0.0f);
    readSetting(action, "ranges[ModelActionItemData_min_range_3d]", ranges.minRange3d, 0.0f);
    readSetting(action, "ranges[ModelActionItemData_min_range_2d]", ranges.minRange2d, 0.0f);
    readSetting(action, "ranges[ModelActionItemData_max_range_2d]", ranges.maxRange2d, 0.0f);
    readSetting(action, "ranges[ModelActionItemData_min_size_2d]", ranges.minSize2d, 32.0f);
}

const ModelActionRanges& ModelActionItemData::defaultRanges() { return ranges; }
