#include "scene/NpcRandomizer.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "app/GameCore.h"
#include "foundation/Log.h"
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
