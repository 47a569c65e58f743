#include "effects/lua/EffectsScripts.h"

#include <algorithm>
#include <string>

#include <lua.hpp>
#include <luabind/luabind.hpp>

#include "app/GameCore.h"
#include "effects/Light.h"
#include "effects/Particle.h"
#include "effects/Sprite.h"
#include "model/Y3Model.h"
#include "foundation/Log.h"
#include "foundation/TimeCore.h"
#include "scene/ObjectRepository.h"
#include "scene/Scene.h"
#include "script/ScriptBinding.h"

namespace {

// A script handle of a scene object; it resolves to nothing once the
// object is gone.
template <class T>
struct EffectHandle {
    GameObjectLink link;
    T* get() const {
        GameObject* object = gameCore.objects && link.index() ? gameCore.objects->getObject(link) : nullptr;
        return dynamic_cast<T*>(object);
    }
};
using LightHandle = EffectHandle<Light>;
using SpriteHandle = EffectHandle<Sprite>;
using ParticleHandle = EffectHandle<Particle>;

Light& requireLight(const LightHandle& handle) { return requireScriptObject(handle.get(), "Light"); }
Sprite& requireSprite(const SpriteHandle& handle) { return requireScriptObject(handle.get(), "Sprite"); }
Particle& requireParticle(const ParticleHandle& handle) { return requireScriptObject(handle.get(), "Particle"); }

const char* particleClassof(const ParticleHandle&) { return "Particle"; }
bool particleGetVisible(const ParticleHandle& handle) { return requireParticle(handle).drawable(); }
void particleSetVisible(ParticleHandle& handle, bool show) { requireParticle(handle).setVisible(show, false); }
bool particleGetPause(const ParticleHandle& handle) { return (requireParticle(handle).state & kParticlePaused) != 0; }
void particleSetPause(ParticleHandle& handle, bool pause) { requireParticle(handle).setPaused(pause, false); }
void particleReset(const ParticleHandle& handle) { requireParticle(handle).restart(CurrentTime(-1.0)); }
bool particleTeleport(const ParticleHandle& handle, const char* waypoint, float offset) {
    return requireParticle(handle).teleport(waypoint, offset);
}
bool particleUnlink(const ParticleHandle& handle) { return requireParticle(handle).unlink(); }
bool particleLinkObject(const ParticleHandle& handle, const char* object, const char* bone) {
    return requireParticle(handle).linkTo(object, bone);
}

// Adds or removes the particle in the named sprite's list of hidden
// particles.
bool particleSpriteList(const ParticleHandle& handle, const char* spriteName, bool hide) {
    Particle& particle = requireParticle(handle);
    Log& log = engineLog();
    const char* sprite = spriteName ? spriteName : "";
    Scene* scene = particle.sceneLink ? gameCore.currentScene() : nullptr;
    if (!scene)
        return log.error(hide ? "script_hide_sprite: Particle [%s] is NOT 3d object"
                              : "script_show_sprite: Particle [%s] is NOT 3d object",
                         particle.particleName);
    auto* target = dynamic_cast<Sprite*>(scene->lookupSprite(sprite));
    if (!target)
        return log.error(hide ? "Can't hide particle  [%s] for sprite [%s]: Sprite NOT found"
                              : "Can't show particle [%s] for sprite [%s]: Sprite NOT found",
                         particle.particleName, sprite);
    std::vector<std::uint32_t>& list = target->hideParticles;
    const std::uint32_t handleValue = GameObjectLink::fromObject(&particle).value;
    const auto at = std::find(list.begin(), list.end(), handleValue);
    if (hide && at == list.end()) list.push_back(handleValue);
    if (!hide && at != list.end()) {
        *at = list.back();
        list.pop_back();
    }
    log.info(hide ? "Script call: Hide particle [%s] for sprite [%s]" : "Script call: Show particle [%s] for sprite [%s]",
             particle.particleName, sprite);
    return true;
}
bool particleHideSprite(const ParticleHandle& handle, const char* sprite) { return particleSpriteList(handle, sprite, true); }
bool particleShowSprite(const ParticleHandle& handle, const char* sprite) { return particleSpriteList(handle, sprite, false); }

const char* lightClassof(const LightHandle&) { return "Light"; }
void lightHide(const LightHandle& handle) { requireLight(handle).setVisible(false); }
void lightShow(const LightHandle& handle) { requireLight(handle).setVisible(true); }

const char* spriteClassof(const SpriteHandle&) { return "Sprite"; }

void spriteHide(const SpriteHandle& handle) {
    Sprite& sprite = requireSprite(handle);
    if (!sprite.visible()) return;
    engineLog().info("%s sprite %s", "Hide", sprite.spriteName);
    sprite.flags &= ~kSpriteVisible;
    if (sprite.pushed()) sprite.pop(0);
}
void spriteShow(const SpriteHandle& handle) { requireSprite(handle).setVisible(true); }

bool elementSet(const SpriteHandle& handle, const char* element, bool show) {
    Sprite& sprite = requireSprite(handle);
    const std::int32_t index = sprite.findElement(element);
    if (index < 0) {
        engineLog().scriptError(show ? "ELEMENT_SHOW: Can't find element with name [%s] in sprite [%s]"
                                     : "ELEMENT_HIDE: Can't find element with name [%s] in sprite [%s]",
                                element ? element : "", sprite.spriteName);
        return false;
    }
    engineLog().scriptInfo(show ? "Script call: Show element [%s] for sprite [%s]"
                                : "Script call: Hide element [%s] for sprite [%s]",
                           element ? element : "", sprite.spriteName);
    if (static_cast<std::size_t>(index) >= sprite.elements.size()) return false;
    if (sprite.elementVisible(index) == show) return false;
    sprite.setElementShown(static_cast<std::size_t>(index), show);
    return true;
}
bool elementHide(const SpriteHandle& handle, const char* element) { return elementSet(handle, element, false); }
bool elementShow(const SpriteHandle& handle, const char* element) { return elementSet(handle, element, true); }

bool elementVisible(const SpriteHandle& handle, const char* element) {
    Sprite& sprite = requireSprite(handle);
    const std::int32_t index = sprite.findElement(element);
    if (index < 0) {
        engineLog().scriptError("ELEMENT_VISIBLE: Can't find element with name [%s] in sprite [%s]",
                                element ? element : "", sprite.spriteName);
        return false;
    }
    return sprite.elementVisible(index);
}

int elementCount(const SpriteHandle& handle) {
    const Y3ModelSprite* model = requireSprite(handle).spriteModel();
    return model ? static_cast<int>(model->elements.size()) : 0;
}

std::string elementName(const SpriteHandle& handle, int index) {
    Sprite& sprite = requireSprite(handle);
    if (!sprite.spriteModel()) return "NOT LOADED";
    // An index outside the elements reads nothing.
    const char* found = index >= 0 ? sprite.elementName(static_cast<std::size_t>(index)) : nullptr;
    if (!found) {
        engineLog().scriptError("Sprite [%s]: Invalid element index", sprite.spriteName);
        return "none";
    }
    return found;
}

std::string listName(const Sprite& sprite, const std::vector<std::uint32_t>& list, int index, const char* message) {
    if (index < 0 || static_cast<std::size_t>(index) >= list.size()) {
        engineLog().scriptError(message, sprite.spriteName);
        return "none";
    }
    GameObject* object = gameCore.objects ? gameCore.objects->getObject(GameObjectLink{list[static_cast<std::size_t>(index)]})
                                          : nullptr;
    return object ? object->getName() : "none";
}

int objectCount(const SpriteHandle& handle) { return static_cast<int>(requireSprite(handle).hideObjects.size()); }
int particleCount(const SpriteHandle& handle) { return static_cast<int>(requireSprite(handle).hideParticles.size()); }
std::string objectName(const SpriteHandle& handle, int index) {
    Sprite& sprite = requireSprite(handle);
    return listName(sprite, sprite.hideObjects, index, "Sprite [%s]: Invalid hide object list index");
}
std::string particleName(const SpriteHandle& handle, int index) {
    Sprite& sprite = requireSprite(handle);
    return listName(sprite, sprite.hideParticles, index, "Sprite [%s]: Invalid hide particle list index");
}

void setListed(std::vector<std::uint32_t>& list, std::uint32_t handle, bool visible) {
    const auto at = std::find(list.begin(), list.end(), handle);
    if (visible && at != list.end()) list.erase(at);
    if (!visible && at == list.end()) list.push_back(handle);
}

bool objectVisible(const SpriteHandle& handle, const char* objectName, bool visible) {
    Sprite& sprite = requireSprite(handle);
    Scene* scene = gameCore.currentScene();
    GameObject* model = scene ? scene->lookupModel(objectName) : nullptr;
    if (!model) {
        engineLog().error("Can't find game object with name [%s]", objectName ? objectName : "");
        return engineLog().scriptError("Sprite [%s]: cant change object [%s] visibility", sprite.spriteName,
                                       objectName ? objectName : "");
    }
    setListed(sprite.hideObjects, GameObjectLink::fromObject(model).value, visible);
    return true;
}

bool particleVisible(const SpriteHandle& handle, const char* particleName, bool visible) {
    Sprite& sprite = requireSprite(handle);
    Scene* scene = gameCore.currentScene();
    GameObject* particle = scene ? scene->lookupParticle(particleName) : nullptr;
    if (!particle)
        return engineLog().scriptError("Sprite [%s]: cant change particle [%s] visibility", sprite.spriteName,
                                       particleName ? particleName : "");
    setListed(sprite.hideParticles, GameObjectLink::fromObject(particle).value, visible);
    return true;
}

}  // namespace

void registerParticleClass(lua_State* state, ScriptEngine&) {
    using namespace luabind;
    module(state)[class_<ParticleHandle>("Particle")
                      .def("classof", &particleClassof)
                      .property("visible", &particleGetVisible, &particleSetVisible)
                      .property("pause", &particleGetPause, &particleSetPause)
                      .def("reset", &particleReset)
                      .def("teleport", &particleTeleport)
                      .def("unlink", &particleUnlink)
                      .def("link_object", &particleLinkObject)
                      .def("hide_sprite", &particleHideSprite)
                      .def("show_sprite", &particleShowSprite)];
}

void registerSpriteClass(lua_State* state, ScriptEngine&) {
    using namespace luabind;
    module(state)[class_<SpriteHandle>("Sprite")
                      .def("classof", &spriteClassof)
                      .def("hide", &spriteHide)
                      .def("show", &spriteShow)
                      .def("element_hide", &elementHide)
                      .def("element_show", &elementShow)
                      .def("element_visible", &elementVisible)
                      .def("element_count", &elementCount)
                      .def("element_name", &elementName)
                      .def("object_count", &objectCount)
                      .def("object_name", &objectName)
                      .def("object_visible", &objectVisible)
                      .def("particle_count", &particleCount)
                      .def("particle_name", &particleName)
                      .def("particle_visible", &particleVisible)];
}

void registerLightClass(lua_State* state, ScriptEngine&) {
    using namespace luabind;
    module(state)[class_<LightHandle>("Light")
                      .def("classof", &lightClassof)
                      .def("hide", &lightHide)
                      .def("show", &lightShow)];
}

luabind::object effectScriptObject(lua_State* state, GameObject* object) {
    if (auto* light = dynamic_cast<Light*>(object)) return luabind::object(state, LightHandle{GameObjectLink::fromObject(light)});
    if (auto* sprite = dynamic_cast<Sprite*>(object))
        return luabind::object(state, SpriteHandle{GameObjectLink::fromObject(sprite)});
    if (auto* particle = dynamic_cast<Particle*>(object))
        return luabind::object(state, ParticleHandle{GameObjectLink::fromObject(particle)});
    return luabind::object();
}
