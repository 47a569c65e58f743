// The model's run-time action items, kept in line with its resource.
#include <cstring>

#include "model/Model.h"
#include "model/ModelDataManager.h"
#include "model/Y3Model.h"

void Model::syncActionItems() {
    // Before its first push the model reaches its resource through the
    // manager: another instance may have loaded it already.
    const Y3ModelData* data = resource;
    if (!data && modelDataManager()) data = static_cast<const Y3ModelData*>(modelDataManager()->findRecord(resourceName));
    if (!data || !data->model || data->model->kind() != kModelKindDefault) return;
    const auto& records = static_cast<const Y3ModelDefault&>(*data->model).actions;
    const bool resized = records.size() != actionItems.size();
    if (resized) actionItems.resize(records.size(), ModelActionItem{});
    const ModelActionRanges& ranges = ModelActionItemData::defaultRanges();
    for (std::size_t i = 0; i < records.size(); ++i) {
        ModelActionItem& item = actionItems[i];
        if (resized) {
            item.maxRange3d = ranges.maxRange3d;
            item.minRange3d = ranges.minRange3d;
            item.minRange2d = ranges.minRange2d;
            item.maxRange2d = ranges.maxRange2d;
            item.minSize2d = ranges.minSize2d;
        }
        std::memset(item.name, 0, sizeof(item.name));
        std::strncpy(item.name, records[i].name, sizeof(item.name) - 1);
    }
}

std::int32_t Model::actionIndex(const char* itemName) const {
    if (!itemName) return -1;
    // The items follow the resource's order, which need not be sorted.
    for (std::size_t i = 0; i < actionItems.size(); ++i)
        if (std::strncmp(actionItems[i].name, itemName, sizeof(actionItems[i].name) - 1) == 0)
            return static_cast<std::int32_t>(i);
    return -1;
}
