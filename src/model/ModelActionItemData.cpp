#include "model/ModelActionItemData.h"

#include "app/GameCore.h"
#include "foundation/DataStream.h"
#include "foundation/IniFile.h"
#include "foundation/SettingsReader.h"
#include "foundation/XmlWriter.h"
#include "model/SharedRecords.h"

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

namespace {

void addVector(XmlTag& parent, const char* name, const float* v) {
    XmlTag& tag = parent.addChild(name);
    tag.setAttribute("class", "Vector");
    tag.setAttribute("x", "%f", static_cast<double>(v[0]));
    tag.setAttribute("y", "%f", static_cast<double>(v[1]));
    tag.setAttribute("z", "%f", static_cast<double>(v[2]));
}

}  // namespace

std::int32_t ModelActionItemData::read(DataStream& stream) {
    std::int32_t total = 0;
    if (!addField(total, readString16(stream, name, sizeof(name))) ||
        !addField(total, readFloats(stream, actionToParent.m, 12)) || !addField(total, readFloats(stream, size, 3)) ||
        !addField(total, readFloats(stream, spot, 3)) || !addField(total, readString16(stream, bone, sizeof(bone))))
        return total;
    return total;
}

std::int32_t ModelActionItemData::write(DataStream& stream) const {
    std::int32_t total = 0;
    if (!addField(total, writeString16(stream, name, sizeof(name))) ||
        !addField(total, writeFloats(stream, actionToParent.m, 12)) || !addField(total, writeFloats(stream, size, 3)) ||
        !addField(total, writeFloats(stream, spot, 3)) || !addField(total, writeString16(stream, bone, sizeof(bone))))
        return total;
    return total;
}

void ModelActionItemData::exportTree(XmlTag& parent, std::int32_t index) const {
    XmlTag& node = parent.addChild(name);
    node.setAttribute("No", "%i", static_cast<int>(index));
    node.addChildValue("bone", "%s", bone);
    node.addMatrix("action2parent", actionToParent);
    addVector(node, "spot2action", spot);
    addVector(node, "size", size);
}
