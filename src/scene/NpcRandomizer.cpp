#include "scene/NpcRandomizer.h"

#include <cstdio>
#include <cstdlib>
#include <vector>
#include <cstring>
#include <string>
#include <algorithm>

#include "app/GameCore.h"
#include "foundation/Log.h"
#include "foundation/MersenneTwister.h"
#include "model/Model.h"
#include "scene/ObjectRepository.h"
#include "scene/Scene.h"
#include "script/ScriptVariable.h"
#include "script/VariablesCore.h"

namespace {

// The child of that exact name; a scene name may hold dots, so the path is
// not split.
const ScriptVariable* childNamed(const ScriptVariable* node, const char* name) {
    if (!node) return nullptr;
    for (std::int32_t i = 0; i < node->childCount(); ++i) {
        const ScriptVariable* child = node->child(i);
        if (child && std::strcmp(child->name(), name) == 0) return child;
    }
    return nullptr;
}

}  // namespace

void NpcRandomizer::readGroup(NameArray& names, const char* scene) {
    char path[256];
    std::snprintf(path, sizeof(path), "npcrandomization.%s", scene ? scene : "");
    // The first component, then the scene's name whole.
    const char* dot = std::strchr(path, '.');
    const std::string first(path, static_cast<std::size_t>(dot - path));
    const ScriptVariable* root = gameCore.variables ? gameCore.variables->globals().root() : nullptr;
    const ScriptVariable* group = childNamed(childNamed(root, first.c_str()), dot + 1);
    if (!group) {
        engineLog().error("\n\nCan't find script variable [%s.%s]", "globals", path);
        return;
    }
    if (group->type() != ScriptVariable::TypeArray) return;
    for (std::int32_t i = 0; i < group->childCount(); ++i) {
        const ScriptVariable* entry = group->child(i);
        char text[128] = {};
        std::snprintf(text, sizeof(text), "$%s", entry ? entry->toString().c_str() : "");
        NameField field;
        setNameField(field, text);
        names.push_back(field);
    }
}

namespace {

const char* const kTimeOfDay[4] = {"morning", "day", "evening", "nighttime"};

// The text of child i of a row; "" past the row's end.
std::string entryText(const ScriptVariable* row, std::int32_t i) {
    const ScriptVariable* entry = i < row->childCount() ? row->child(i) : nullptr;
    return entry ? entry->toString() : std::string();
}

float entryNumber(const ScriptVariable* row, std::int32_t i) {
    const ScriptVariable* entry = i < row->childCount() ? row->child(i) : nullptr;
    return entry ? entry->toFloat() : 0.0f;
}

std::vector<NpcVariant> variants;

}  // namespace

namespace {

// Fills the variant table from "npcrandomization.<scene>.<group>.<time of
// day>" of the current scene; false (logged) when the table is missing or
// malformed, true with an empty table when it has no variant.
bool readVariants(const char* group) {
    variants.clear();
    const Scene* scene = gameCore.currentScene();
    const std::int32_t mode = scene ? scene->skyLightMode() : 1;
    const char* time = mode >= 0 && mode < 4 ? kTimeOfDay[mode] : "day";
    const char* sceneName = scene ? scene->getName() : "";
    char path[512];
    std::snprintf(path, sizeof(path), "npcrandomization.%s.%s.%s", sceneName, group ? group : "", time);
    const ScriptVariable* root = gameCore.variables ? gameCore.variables->globals().root() : nullptr;
    if (!root || root->childCount() == 0)
        return engineLog().error("\n\nCan't find script variable [%s.%s]", "globals", path);
    // Scene and group names may hold dots: each step is one child by name.
    const ScriptVariable* node =
        childNamed(childNamed(childNamed(childNamed(root, "npcrandomization"), sceneName), group ? group : ""), time);
    if (!node || node->type() != ScriptVariable::TypeArray2D)
        return engineLog().error("Expected NPC randomization array at [%s] for group [%s]", path, group ? group : "");
    const ScriptVariable* rows[4] = {};
    const char* const rowNames[4] = {"anim", "texture", "face-anim", "frequency"};
    for (int i = 0; i < 4; ++i) {
        rows[i] = childNamed(node, rowNames[i]);
        if (!rows[i])
            return engineLog().error("Expected NPC randomization field [%s] at [%s] for group [%s]", rowNames[i], path,
                                     group ? group : "");
    }
    const ScriptVariable* first = node->child(0);
    const std::int32_t count = first ? first->childCount() : 0;
    for (std::int32_t i = 0; i < count; ++i) {
        NpcVariant variant;
        const ScriptVariable* entry = i < rows[0]->childCount() ? rows[0]->child(i) : nullptr;
        variant.model = entry ? entry->name() : "";
        // Rows shorter than the first one give empty entries.
        variant.animation = entryText(rows[0], i);
        variant.faceAnimation = entryText(rows[2], i);
        variant.texture = entryNumber(rows[1], i);
        variant.weight = std::max(entryNumber(rows[3], i), 1.0f);
        variants.push_back(variant);
    }
    return true;
}

}  // namespace

const NpcVariant* NpcRandomizer::readGroupArray(const char* group, const char* model) {
    if (!readVariants(group)) return nullptr;
    std::vector<const NpcVariant*> matching;
    for (const NpcVariant& variant : variants)
        if (model && variant.model == model) matching.push_back(&variant);
    if (matching.empty()) return nullptr;
    return matching[static_cast<std::size_t>(std::rand()) % matching.size()];
}

const NpcVariant* NpcRandomizer::pickVariant(const char* group, const Matrix34& pose) {
    // No variant: nothing to choose (and no division by a zero count).
    if (!readVariants(group) || variants.empty()) return nullptr;
    const Scene* scene = gameCore.currentScene();
    const std::int32_t count = static_cast<std::int32_t>(variants.size());
    if (scene)
        for (GameObjectLink link : scene->models) {
            GameObject* object = gameCore.objects ? gameCore.objects->getObject(link) : nullptr;
            if (!object || object->getType() != ObjectModel) continue;
            const Model* model = static_cast<const Model*>(object);
            if (!(model->stateWords[0] & kModelRandomNpc)) continue;
            const float dx = pose.m[9] - model->worldMatrix.m[9], dy = pose.m[10] - model->worldMatrix.m[10],
                        dz = pose.m[11] - model->worldMatrix.m[11];
            const float distance = dx * dx + dy * dy + dz * dz;
            for (NpcVariant& variant : variants)
                if (static_cast<float>(model->textureSet) == variant.texture && variant.model == model->resourceName &&
                    distance < variant.nearest)
                    variant.nearest = distance;
        }
    float cumulative = 0.0f;
    std::vector<float> sums;
    for (NpcVariant& variant : variants) {
        variant.weight *= variant.nearest;
        cumulative += variant.weight;
        sums.push_back(cumulative);
    }
    const double r = MersenneTwister::nextDouble() * cumulative;
    for (std::size_t i = 0; i < variants.size(); ++i)
        if (static_cast<double>(sums[i]) >= r) return &variants[i];
    return &variants[static_cast<std::size_t>(std::rand() % count)];
}
