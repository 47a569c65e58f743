#include "effects/SceneShadows.h"

#include <algorithm>

#include "app/GameCore.h"
#include "foundation/Log.h"
#include "scene/ObjectRepository.h"

namespace {

std::uint32_t handleOf(GameObjectLink link) { return link.value & 0xFFFFFFu; }

const char* objectName(GameObjectLink link) {
    GameObject* object = gameCore.objects ? gameCore.objects->getObject(link) : nullptr;
    return object ? object->getName() : "null";
}

std::vector<SceneShadows::CasterGroup>::const_iterator findGroup(const std::vector<SceneShadows::CasterGroup>& list,
                                                                  GameObjectLink link) {
    return std::lower_bound(list.begin(), list.end(), handleOf(link),
                            [](const SceneShadows::CasterGroup& group, std::uint32_t handle) {
                                return handleOf(group.caster) < handle;
                            });
}

}  // namespace

bool SceneShadows::isCaster(GameObjectLink link) const {
    const auto at = findGroup(casters, link);
    return at != casters.end() && handleOf(at->caster) == handleOf(link);
}

bool SceneShadows::isReceiver(GameObjectLink link) const {
    return std::find_if(receivers.begin(), receivers.end(),
                        [&](GameObjectLink r) { return r.value == link.value; }) != receivers.end();
}

bool SceneShadows::addCaster(GameObjectLink link) {
    if (isCaster(link))
        return engineLog().systemError("Shadow: Can't add shadow caster object [%s] to scene [%s]: Already registered",
                                       objectName(link), sceneName);
    const auto at = findGroup(casters, link);
    CasterGroup group;
    group.caster = link;
    casters.insert(casters.begin() + (at - casters.begin()), std::move(group));
    return true;
}

bool SceneShadows::removeCaster(GameObjectLink link) {
    if (!isCaster(link)) return false;
    const auto at = findGroup(casters, link);
    casters.erase(casters.begin() + (at - casters.begin()));
    return true;
}

bool SceneShadows::addReceiver(GameObjectLink link) {
    if (isReceiver(link))
        return engineLog().systemError(
            "Shadow: Can't add shadow receiver object [%s] to scene [%s]: Already registered", objectName(link),
            sceneName);
    receivers.push_back(link);
    return true;
}

bool SceneShadows::removeReceiver(GameObjectLink link) {
    for (std::size_t i = 0; i < receivers.size(); ++i) {
        if (receivers[i].value != link.value) continue;
        receivers[i] = receivers.back();
        receivers.pop_back();
        return true;
    }
    return engineLog().error("Can't delete shadow receive [%08X]", link.value);
}

void SceneShadows::clear() {
    casters.clear();
    receivers.clear();
}
