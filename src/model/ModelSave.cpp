// The model's save record: what a saved game keeps of a model and how a
// model made for loading takes it back.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "animation/ModelMorph.h"
#include "app/GameCore.h"
#include "control/ModelController.h"
#include "foundation/DataStream.h"
#include "foundation/Log.h"
#include "foundation/Matrix.h"
#include "foundation/TimeCore.h"
#include "model/Model.h"
#include "model/ModelDataManager.h"
#include "model/Y3Model.h"
#include "scene/ObjectRepository.h"

namespace {

std::int32_t writeLinks(DataStream& s, const std::vector<GameObjectLink>& links) {
    std::int32_t total = 0;
    if (!addField(total, writeU32(s, static_cast<std::uint32_t>(links.size())))) return total;
    for (const GameObjectLink& link : links)
        if (!addField(total, writeU32(s, link.value))) return total;
    return total;
}

std::int32_t readLinks(DataStream& s, std::vector<GameObjectLink>& links) {
    links.clear();
    std::vector<std::uint32_t> handles;
    const std::int32_t result = readUIntArray(s, handles);
    if (result < 0) return result;
    links.reserve(handles.size());
    for (std::uint32_t handle : handles) links.push_back(GameObjectLink{handle});
    return result;
}

std::int32_t writeFloatBits(DataStream& s, float value) {
    std::uint32_t bits = 0;
    std::memcpy(&bits, &value, sizeof(bits));
    return writeU32(s, bits);
}

std::int32_t readFloatBits(DataStream& s, float& value) {
    std::uint32_t bits = 0;
    const std::int32_t result = readU32(s, bits);
    if (result >= 0) std::memcpy(&value, &bits, sizeof(value));
    return result;
}

bool refuse(std::int32_t& total, const char* format, const char* name) {
    engineLog().error(format, name);
    total = -1;
    return false;
}

}  // namespace

std::int32_t ModelElement::writeState(DataStream& stream) const {
    std::int32_t total = 0;
    if (!addField(total, writeU32(stream, flags))) return total;
    addField(total, writeI32(stream, lodIndex));
    return total;
}

std::int32_t ModelElement::readState(DataStream& stream) {
    std::int32_t total = 0;
    std::uint32_t savedFlags = 0;
    std::int32_t savedLod = 0;
    if (!addField(total, readU32(stream, savedFlags)) || !addField(total, readI32(stream, savedLod))) return total;
    // Three LOD slots: any other index is damaged input.
    if (savedLod < 0 || savedLod > 2) {
        engineLog().error("Can't load model element: LOD index [%i] is invalid", static_cast<int>(savedLod));
        return -1;
    }
    lights.clear();
    lightSetRef = nullptr;
    flags = savedFlags & ~(kElementPushed | kElementHighlight | kElementStaticInstance);
    lodIndex = savedLod;
    return total;
}

std::int32_t Model::save(DataStream& s) {
    std::int32_t total = 0;
    if (!addField(total, writeString16(s, name, 128))) return total;
    if (!addField(total, writeFloats(s, worldMatrix.m, 12))) return total;
    if (!addField(total, writeFloats(s, scale, 3))) return total;
    if (!addField(total, writeF32(s, interestDistance)) || !addField(total, writeF32(s, walk_distance))) return total;
    if (!addField(total, writeU32(s, physicsModel.value))) return total;
    if (!addField(total, writeU16(s, 0))) return total;  // the reserved string, always empty
    if (!addField(total, writeI32(s, pvsAreaIndex))) return total;
    if (!addField(total, writeU32(s, stateWords[0])) || !addField(total, writeU32(s, stateWords[1]))) return total;
    if (!addField(total, properties.write(s))) return total;
    if (!addField(total, writeI32(s, static_cast<std::int32_t>(elements.size())))) return total;
    for (const ModelElement& element : elements)
        if (!addField(total, element.writeState(s))) return total;
    const std::uint32_t controllerType = controller ? static_cast<std::uint32_t>(controller->getType()) : 0;
    if (!addField(total, writeU32(s, controllerType))) return total;
    if (controller && !addField(total, controller->write(s))) return total;
    if (!addField(total, writeLinks(s, lights)) || !addField(total, writeLinks(s, particles))) return total;
    if (!addField(total, writeU32(s, static_cast<std::uint32_t>(actionItems.size())))) return total;
    for (const ModelActionItem& item : actionItems) {
        if (!addField(total, writeU32(s, item.flags))) return total;
        for (float value : {item.maxRange3d, item.minRange3d, item.minRange2d, item.maxRange2d, item.minSize2d})
            if (!addField(total, writeFloatBits(s, value))) return total;
    }
    if (!addField(total, animation.write(s))) return total;
    if (!addField(total, ModelMorph::write(morph.get(), s, CurrentTime(-1.0).game.time))) return total;
    addField(total, writeString16(s, lightSetName, sizeof(lightSetName)));
    return total;
}

std::int32_t Model::load(DataStream& s) {
    std::int32_t total = 0;
    const char* who = resourceName;
    // Names longer than their 127-character fields are refused by the
    // string reader.
    std::memset(name, 0, sizeof(name));
    if (!addField(total, readString16(s, name, 128))) {
        engineLog().error("Can't load model [%s]: its instance name is damaged", who);
        return total;
    }
    nameChanged();
    if (!addField(total, readFloats(s, worldMatrix.m, 12)) || !addField(total, readFloats(s, scale, 3))) return total;
    // A pose or scale that is not a number would leave the model nowhere:
    // the record is damaged.
    const auto finite = [](const float* values, int count) {
        return std::all_of(values, values + count, [](float v) { return std::isfinite(v); });
    };
    if (!finite(worldMatrix.m, 12) || !finite(scale, 3)) {
        refuse(total, "Can't load model [%s]: its pose or scale is not a finite number", name[0] ? name : who);
        return total;
    }
    matrix34Inverse(worldMatrix, inverseWorldMatrix);
    if (!addField(total, readF32(s, interestDistance)) || !addField(total, readF32(s, walk_distance))) return total;
    if (!addField(total, readU32(s, physicsModel.value))) return total;
    char reserved[128];
    if (!addField(total, readString16(s, reserved, sizeof(reserved)))) return total;
    if (!addField(total, readI32(s, pvsAreaIndex))) return total;
    if (!addField(total, readU32(s, stateWords[0])) || !addField(total, readU32(s, stateWords[1]))) return total;
    // Not in any context yet: every change mark set, so that the next push
    // collects lights, place and light set again.
    stateWords[0] |= kModelLightSetDirty | kModelPlaceDirty | kModelLightsDirty | kModelPhysicsDirty;
    stateWords[0] &= ~kModelInContext;
    stateWords[1] &= ~(kModelHighH2 | kModelWavesBusy);
    stateWords[1] |= kModelWavesDirty;
    if (!addField(total, properties.read(s))) {
        engineLog().error("Can't load model [%s]: its property block is damaged", who);
        return total;
    }
    // The elements belong to the resource: its header gives their number.
    if (name[0] && !resource)
        if (ModelDataManager* manager = modelDataManager()) resource = manager->requestHeader(resourceName);
    const Y3ModelDefault* mesh = meshModel();
    const std::int32_t expected = mesh ? static_cast<std::int32_t>(mesh->elements.size()) : 0;
    std::int32_t count = 0;
    if (!addField(total, readI32(s, count))) return total;
    if (count != expected) {
        engineLog().error("Can't load model [%s]: saved element count [%i] is not the resource's [%i]", who,
                          static_cast<int>(count), static_cast<int>(expected));
        return -1;
    }
    elements.clear();
    elements.reserve(static_cast<std::size_t>(count));
    for (std::int32_t e = 0; e < count; ++e) {
        elements.emplace_back(*this, e);
        if (!addField(total, elements.back().readState(s))) return total;
    }
    std::uint32_t controllerType = 0;
    if (!addField(total, readU32(s, controllerType))) return total;
    if (controllerType > static_cast<std::uint32_t>(ModelController::TypePosition)) {
        refuse(total, "Can't load model [%s]: its controller type is invalid", who);
        return total;
    }
    if (controllerType == 0) removeController();
    else if (!setController(static_cast<std::int32_t>(controllerType))) {
        refuse(total, "Can't load model [%s]: its controller can't be made", who);
        return total;
    }
    if (controller && !addField(total, controller->read(s))) return total;
    if (!addField(total, readLinks(s, lights)) || !addField(total, readLinks(s, particles))) return total;
    std::uint32_t itemCount = 0;
    if (!addField(total, readU32(s, itemCount))) return total;
    if (itemCount > static_cast<std::uint32_t>(bytesLeft(s)) / 24) {
        refuse(total, "Can't load model [%s]: its action item count is damaged", who);
        return total;
    }
    actionItems.assign(itemCount, ModelActionItem{});
    for (ModelActionItem& item : actionItems) {
        if (!addField(total, readU32(s, item.flags))) return total;
        for (float* value : {&item.maxRange3d, &item.minRange3d, &item.minRange2d, &item.maxRange2d, &item.minSize2d})
            if (!addField(total, readFloatBits(s, *value))) return total;
    }
    // The names come from the resource; a changed number of actions resets
    // the ranges to the defaults.
    syncActionItems();
    if (!addField(total, animation.read(s))) return total;
    // The morph state: a presence code, then the morph's record when one
    // was playing. A morph the model had before the load goes first.
    releaseMorph();
    if (!addField(total, ModelMorph::read(s, this, morph))) return total;
    std::memset(lightSetName, 0, sizeof(lightSetName));
    addField(total, readString16(s, lightSetName, sizeof(lightSetName)));
    return total;
}

std::int32_t Model::checkRecord(DataStream& stream, const char* resourceName) {
    // A scratch model outside the object table reads the record; what it
    // read names objects of the saved game, not of the running one, so it
    // lets go of them before it goes. The table is back however the read
    // ends.
    struct OutsideTable {
        ObjectRepository* table = gameCore.objects;
        OutsideTable() { gameCore.objects = nullptr; }
        ~OutsideTable() { gameCore.objects = table; }
    } outside;
    Model scratch("", resourceName ? resourceName : "", 0);
    const std::int32_t result = scratch.load(stream);
    scratch.lights.clear();
    scratch.particles.clear();
    scratch.physicsModel = GameObjectLink{};
    scratch.pvsAreaIndex = -1;
    scratch.stateWords[0] &= ~kModelInContext;
    scratch.release();
    return result;
}
