// The model pose: a model instance, a randomised NPC ('$' group) or an
// action-model trigger ('^'), with its formats and its spawned model.
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>

#include "app/GameCore.h"
#include "foundation/DataStream.h"
#include "foundation/Log.h"
#include "foundation/StringHelper.h"
#include "foundation/TextRecord.h"
#include "foundation/XmlWriter.h"
#include "game/QuestDataManager.h"
#include "game/QuestLogic.h"
#include "model/Model.h"
#include "scene/NpcRandomizer.h"
#include "scene/ObjectRepository.h"
#include "scene/Scene.h"
#include "scene/Trigger.h"
#include "scene/Y3Pose.h"
#include "scene/Y3PoseLocal.h"

using namespace pose_detail;

namespace {

float squaredLength(const float* v) { return v[0] * v[0] + v[1] * v[1] + v[2] * v[2]; }

// True when the instance pose was never set (or holds no number).
bool instancePoseUnset(const Matrix34& instance) {
    const float length = squaredLength(instance.m);
    return !(length >= 0.001f);
}

Model* modelOf(GameObject* object) {
    return object && object->getType() == ObjectModel ? static_cast<Model*>(object) : nullptr;
}

}  // namespace

Y3Pose_Model::~Y3Pose_Model() {
    if (!link.index()) return;
    engineLog().error("Expected waypoint [%s] model [%s] release call before delete", id, model);
    release();
}

std::int32_t Y3Pose_Model::writeBody(DataStream& stream) {
    std::int32_t total = 0;
    if (!addField(total, writeU32(stream, link.value))) return total;
    if (!addField(total, writeFloats(stream, size, 3))) return total;
    if (!addField(total, writeI32(stream, textureSet))) return total;
    if (!addField(total, writeName(stream, model, 2))) return total;
    if (!addField(total, writeName(stream, animation, 2))) return total;
    if (!addField(total, writeName(stream, faceAnimation, 2))) return total;
    addField(total, writeVector3Array(trajectory, stream));
    return total;
}

std::int32_t Y3Pose_Model::readBody(DataStream& stream) {
    std::int32_t total = 0;
    if (!addField(total, readLinkWord(stream, link))) return total;
    if (!addField(total, readFloats(stream, size, 3))) return total;
    absolute(size);
    if (!addField(total, readI32(stream, textureSet))) return total;
    if (!addField(total, readName(stream, model, 2, "model"))) return total;
    if (!addField(total, readName(stream, animation, 2, "animation"))) return total;
    if (!addField(total, readName(stream, faceAnimation, 2, "face animation"))) return total;
    if (!addField(total, readVector3Array(trajectory, stream))) return total;
    instancePose = pose;
    return total;
}

std::int32_t Y3Pose_Model::writeText(DataStream& stream) {
    std::int32_t total = 0;
    if (!addField(total, writeHexLine(stream, "size", size, 12))) return total;
    if (!addField(total, writeLine(stream, "model", model))) return total;
    if (!addField(total, writeLine(stream, "animation", animation))) return total;
    if (!addField(total, writeLine(stream, "face-animation", faceAnimation))) return total;
    if (!addField(total, writeHexLine(stream, "texture", &textureSet, 4))) return total;
    addField(total, writePointsText(stream, "count", "trajectory", trajectory));
    return total;
}

std::int32_t Y3Pose_Model::readText(DataStream& stream, const char* fileName) {
    std::memset(model, 0, sizeof(model));
    std::memset(animation, 0, sizeof(animation));
    std::memset(faceAnimation, 0, sizeof(faceAnimation));
    textureSet = 0;
    std::int32_t total = 0;
    std::int32_t result = readHexField(stream, "size", size, 12, total, fileName);
    if (result < 0) return result;
    absolute(size);
    std::string value;
    if ((result = readField(stream, "model", value, total, fileName, false)) < 0) return result;
    copyName(model, sizeof(model), value.c_str());
    if ((result = readField(stream, "animation", value, total, fileName, true)) < 0) return result;
    copyName(animation, sizeof(animation), value.c_str());
    if ((result = readField(stream, "face-animation", value, total, fileName, true)) < 0) return result;
    copyName(faceAnimation, sizeof(faceAnimation), value.c_str());
    if ((result = readHexField(stream, "texture", &textureSet, 4, total, fileName)) < 0) return result;
    if ((result = readPointsText(stream, "count", "trajectory", trajectory, total, fileName)) < 0) return result;
    return total;
}

void Y3Pose_Model::exportTree(XmlTag& parent, int index) const {
    XmlTag& child = treeChild(parent, "model", index);
    child.setAttribute("model", "%s", model);
    child.setAttribute("animation", "%s", animation);
    child.setAttribute("face-animation", "%s", faceAnimation);
    child.setAttribute("textureSet", "%i", textureSet);
    treeRows(child, size);
}

bool Y3Pose_Model::attach() {
    if (!model[0] || resolve(link)) return true;
    link = GameObjectLink{};
    if (model[0] == '^') {
        const std::int32_t trigger = gameCore.scene_findTrigger(gameCore.scene_modelTriggerName(id));
        if (trigger > 0) link = GameObjectLink{static_cast<std::uint32_t>(trigger)};
        else
            engineLog().error(
                "Can't push WP action model trigger [%s] (trigger[%s]): Model NOT created. Waypoints changes after this save???",
                id, model);
        return true;
    }
    link = GameObjectLink{gameCore.scene_findObject(id, false)};
    if (!link.index() && model[0] != '$')
        engineLog().error(
            "Can't push WP object [%s] (model [%s]): Model NOT created. Waypoints changes after this save???", id, model);
    return true;
}

bool Y3Pose_Model::detach() {
    link = GameObjectLink{};
    return true;
}

bool Y3Pose_Model::spawn(std::uint32_t flags) {
    if (resolve(link)) return engineLog().error("Model [%s]>[%s] already exist", id, model);
    link = GameObjectLink{};
    if (instancePoseUnset(instancePose)) instancePose = pose;
    if (!model[0]) return true;
    if (model[0] == '^') {
        GameObject* trigger = gameCore.scene_addModelTrigger(id, pose);
        link = GameObjectLink::fromObject(trigger);
        return trigger != nullptr;
    }
    const char* spawned = model;
    if (model[0] == '$') {
        const NpcVariant* variant = NpcRandomizer::pickVariant(model + 1, pose);
        if (!variant) return true;
        copyName(animation, sizeof(animation), variant->animation.c_str());
        copyName(faceAnimation, sizeof(faceAnimation), variant->faceAnimation.c_str());
        textureSet = static_cast<std::int32_t>(variant->texture);
        spawned = variant->model.c_str();
    } else if (!trajectory.empty()) {
        return engineLog().error("Trajectory support only randomized NPC: fix this for [%s]", id);
    }
    Matrix34 placement = instancePose;
    for (int axis = 0; axis < 3; ++axis)
        for (int k = 0; k < 3; ++k) placement.m[3 * axis + k] *= size[axis];
    GameObject* object = gameCore.scene_createModel(spawned, id, placement, (flags & 2) ? 2 : 0);
    if (!object) return engineLog().error("Can't create model [%s] instance [%s]", spawned, id);
    link = GameObjectLink::fromObject(object);
    if (model[0] == '$')
        if (Model* created = modelOf(object)) created->stateWords[0] |= 0xC;
    refresh(true);
    // The selected quest's states of this model switch its action items.
    if (QuestLogic* quests = gameCore.questLogic)
        Y3QuestData::visitObjectActions(quests->state.objectsOf(quests->quest.name), object->getName());
    return true;
}

bool Y3Pose_Model::ensureSpawned() {
    GameObject* object = resolve(link);
    if (!object) link = GameObjectLink{};
    instancePose = pose;
    if (Model* spawned = modelOf(object)) {
        if (model[0] != '$' && std::strncmp(spawned->resourceName, model, sizeof(model)) != 0) release();
    } else if (object && object->getType() == ObjectTrigger && model[0] != '^') {
        release();
    }
    if (!link.index() && !spawn(0)) return false;
    refresh(false);
    return true;
}

bool Y3Pose_Model::sameGroup(const Y3Pose& other) const {
    if (other.type() != PoseModel) return false;
    const char* hash = std::strchr(id, '#');
    if (!hash) return false;
    const std::size_t length = static_cast<std::size_t>(hash - id) + 1;
    return std::strncmp(other.id, id, length) == 0;
}

void Y3Pose_Model::release() {
    GameObject* object = resolve(link);
    link = GameObjectLink{};
    if (!object) return;
    if (Model* spawned = modelOf(object)) {
        // Remember where the model stood, so that a respawn puts it there.
        spawned->getWorldMatrix(instancePose);
        Scene* scene = sceneOf(object);
        if (!scene || !scene->deleteModel(object)) engineLog().error("Fail to release WP model object%s", id);
    } else if (object->getType() == ObjectTrigger && !deleteSceneTrigger(object)) {
        engineLog().error("Fail to release WP model trigger %s", id);
    }
}

void Y3Pose_Model::refresh(bool full) {
    Model* spawned = modelOf(resolve(link));
    if (!spawned) return;
    if (!spawned->checkUniqueName(id)) engineLog().error("Can't rename model [%s] to [%s]", spawned->getName(), id);
    if (instancePoseUnset(instancePose)) instancePose = pose;
    spawned->setScale(size);
    spawned->setWorldMatrix(instancePose);
    spawned->setTextureSet(textureSet);
    if (!full) return;
    auto wrapped = [](const char* name, bool anyBracket) {
        const bool bracketed = anyBracket ? std::memchr(name, '[', strnlen(name, 128)) != nullptr : name[0] == '[';
        if (bracketed || name[0] == '$') return std::string(name);
        // Played in a loop for ever.
        char loop[160];
        std::snprintf(loop, sizeof(loop), "[x* %s]", name);
        return std::string(loop);
    };
    if (animation[0]) {
        spawned->clearBodyStack();
        spawned->playSequence(wrapped(animation, false).c_str());
    }
    if (faceAnimation[0]) spawned->playFaceSequence(wrapped(faceAnimation, true).c_str());
}

void Y3Pose_Model::keepSpawned() {
    if (Model* spawned = modelOf(resolve(link))) spawned->stateWords[0] &= ~kModelPendingDelete;
}

bool Y3Pose_Model::getSize(float* out) const {
    for (int i = 0; i < 3; ++i) out[i] = size[i];
    return true;
}

bool Y3Pose_Model::setSize(const float* value) {
    for (int i = 0; i < 3; ++i) size[i] = std::fabs(value[i]);
    refresh(false);
    return true;
}

bool Y3Pose_Model::setTextureSet(std::int32_t value, bool respawn) {
    textureSet = value;
    if (respawn) ensureSpawned();
    return true;
}

bool Y3Pose_Model::setResourceName(const char* name, bool respawn) {
    copyName(model, sizeof(model), name);
    if (!animation[0] && std::strncmp(model, "chr_", 4) == 0) {
        NameArray animations;
        StringHelper::listGroup(2, animations);
        const std::string chosen = characterDefaultAnimation(model, animations);
        copyName(animation, sizeof(animation), chosen.c_str());
    }
    if (model[0] == '$') release();
    if (respawn) ensureSpawned();
    return true;
}

bool Y3Pose_Model::setAnimation(const char* name, bool replay) {
    copyName(animation, sizeof(animation), name);
    if (replay) {
        ensureSpawned();
        refresh(true);
    }
    return true;
}

bool Y3Pose_Model::setFaceAnimation(const char* name, bool replay) {
    copyName(faceAnimation, sizeof(faceAnimation), name);
    if (replay) {
        ensureSpawned();
        refresh(true);
    }
    return true;
}

void Y3Pose_Model::takeLink(Y3Pose& other) {
    if (other.type() != type()) return;
    auto& from = static_cast<Y3Pose_Model&>(other);
    link = from.link;
    from.link = GameObjectLink{};
}

void Y3Pose_Model::copyTo(Y3Pose& other) const {
    if (other.type() != type()) return;
    auto& to = static_cast<Y3Pose_Model&>(other);
    std::memcpy(to.size, size, sizeof(size));
    to.link = link;
    to.textureSet = textureSet;
    std::memcpy(to.model, model, sizeof(model));
    std::memcpy(to.animation, animation, sizeof(animation));
    to.trajectory = trajectory;
}

std::string characterDefaultAnimation(const char* modelName, const NameArray& animations) {
    const std::string name = modelName ? modelName : "";
    for (std::size_t start = 0; start < name.size(); ++start) {
        std::string part = name.substr(start);
        while (true) {
            NameArray matches;
            StringHelper::filter(animations, matches, part.c_str(), false, 0);
            // filter never returns a name equal to the text itself.
            for (const NameField& field : animations)
                if (part == field.text) matches.insert(matches.begin(), field);
            if (!matches.empty()) {
                for (const char* word : {"stay", "speak", "sit", "idle"})
                    for (const NameField& match : matches)
                        if (std::strstr(match.text, word) && !std::strstr(match.text, ".face")) return match.text;
                for (const NameField& match : matches)
                    if (!std::strstr(match.text, ".face")) return match.text;
            }
            const std::size_t shortest = part.back() == '_' ? 5 : 4;
            if (part.size() <= shortest) break;
            part.pop_back();
        }
    }
    return {};
}
