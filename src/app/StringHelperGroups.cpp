// StringHelper::listGroup: the names of a group of resources in the packages
// or of objects in the current scene.
#include "app/GameCore.h"
#include "foundation/Log.h"
#include "foundation/StringHelper.h"
#include "resources/FilePackageDBData.h"
#include "resources/PackageDatabase.h"
#include "scene/GameObject.h"
#include "scene/NpcRandomizer.h"
#include "scene/Scene.h"

namespace {

void listResources(const char* mask, NameArray& names) {
    FilePackageDBData* packages = packageData();
    const std::int32_t count = packages ? packages->countFiles(mask, "") : 0;
    if (count <= 0) return;
    names.resize(static_cast<std::size_t>(count));
    for (std::int32_t i = 0; i < count; ++i) {
        const std::uint32_t id = packages->fileIdAt(mask, i, "");
        if (id) setNameField(names[static_cast<std::size_t>(i)], packages->fileName(id));
    }
}

void listSceneObjects(std::uint32_t type, NameArray& names) {
    const std::vector<GameObjectLink>* list = gameCore.scene_getObjectArray(type);
    if (!list) return;
    names.resize(list->size());
    for (std::size_t i = 0; i < list->size(); ++i)
        setNameField(names[i], gameCore.scene_enumObjectName(static_cast<std::int32_t>(i), type));
}

}  // namespace

bool StringHelper::listGroup(std::int32_t group, NameArray& names) {
    names.clear();
    switch (group) {
    case 0:
        listResources(".mh4", names);
        {
            const Scene* scene = gameCore.currentScene();
            NpcRandomizer::readGroup(names, scene ? scene->getName() : "");
        }
        return true;
    case 1: listResources(".effect", names); return true;
    case 2: listResources(".ani4", names); return true;
    case 3: listSceneObjects(ObjectModel, names); return true;
    case 4: listSceneObjects(ObjectParticle, names); return true;
    default: return engineLog().error("StringHelper: Group NOT supported");
    }
}
