#include "model/lua/ObjectScript.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <string>

#include <lua.hpp>
#include <luabind/luabind.hpp>

#include "app/GameCore.h"
#include "control/ModelController.h"
#include "control/PathGridDataManager.h"
#include "control/PhysicsModel.h"
#include "control/Y3GridData.h"
#include "control/lua/ControllerScript.h"
#include "effects/Sprite.h"
#include "foundation/Log.h"
#include "foundation/TimeCore.h"
#include "model/Model.h"
#include "model/ModelActionItemData.h"
#include "model/ModelDataManager.h"
#include "model/Y3Model.h"
#include "scene/CameraAuto.h"
#include "scene/CameraCore.h"
#include "scene/ObjectRepository.h"
#include "scene/Scene.h"
#include "script/ScriptBinding.h"

namespace {

// "Object": the model's repository handle; a model that is gone makes a
// method a script error.
struct ObjectHandle {
    GameObjectLink link;
    Model& model() const {
        GameObject* object = gameCore.objects && link.value ? gameCore.objects->getObject(link) : nullptr;
        return requireScriptObject(dynamic_cast<Model*>(object), "Object");
    }
};

// The controller type names, compared lower-cased, in type order.
const char* const kControllerTypeNames[] = {"none", "character", "boat", "position"};

const char* objectClassof(const ObjectHandle&) { return "Object"; }

luabind::object objectControl(const ObjectHandle& h, lua_State* state) {
    pushControllerScript(state, h.model().controller.get());
    luabind::object result(luabind::from_stack(state, -1));
    lua_pop(state, 1);
    return result;
}

bool objectAddControl(const ObjectHandle& h, const char* typeName) {
    Model& model = h.model();
    Log& log = engineLog();
    const char* given = typeName ? typeName : "";
    std::string name(given, strnlen(given, 127));
    for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (name.empty()) return log.error("Unsupported controller type [%s] for object [%s]", given, model.getName());
    for (std::int32_t type = 0; type < 4; ++type) {
        if (name != kControllerTypeNames[type]) continue;
        if (type == 0)
            model.removeController();
        else
            model.setController(type);
        return true;
    }
    log.error("Invalid ModelControllerType map name [%s]", name.c_str());
    return log.error("Unsupported controller type [%s] for object [%s]", given, model.getName());
}

// ---- identity and visibility ----
const char* objectName(const ObjectHandle& h) { return h.model().getName(); }
const char* objectModelName(const ObjectHandle& h) { return h.model().resourceName; }
const char* objectLightSet(const ObjectHandle& h) { return h.model().lightSetName; }
void objectHide(const ObjectHandle& h, float fade) { h.model().setVisible(false, fade); }
void objectShow(const ObjectHandle& h, float fade) { h.model().setVisible(true, fade); }
void objectHighlight(const ObjectHandle& h, bool on) {
    for (ModelElement& element : h.model().elements) {
        if (on) element.flags |= kElementHighlight;
        else element.flags &= ~kElementHighlight;
    }
}

// ---- sprite hiding ----
// The sprite of that exact name in the model's scene, or null.
Sprite* sceneSprite(const Model& model, const char* spriteName) {
    Scene* scene = model.scene();
    return scene && spriteName ? dynamic_cast<Sprite*>(scene->lookupSprite(spriteName)) : nullptr;
}
std::uint32_t spriteHandle(const Model& model) { return model.id & 0xFFFFFFu; }

bool objectHideSprite(const ObjectHandle& h, const char* spriteName) {
    Model& model = h.model();
    const char* named = spriteName ? spriteName : "";
    Sprite* sprite = sceneSprite(model, spriteName);
    if (!sprite) return engineLog().error("Can't hide object [%s] for sprite [%s]: Sprite NOT found", model.getName(), named);
    std::vector<std::uint32_t>& list = sprite->hideObjects;
    if (std::find(list.begin(), list.end(), spriteHandle(model)) == list.end()) list.push_back(spriteHandle(model));
    engineLog().message("Script call: Hide object [%s] for sprite [%s]", model.getName(), named);
    return true;
}
bool objectShowSprite(const ObjectHandle& h, const char* spriteName) {
    Model& model = h.model();
    const char* named = spriteName ? spriteName : "";
    Sprite* sprite = sceneSprite(model, spriteName);
    if (!sprite) return engineLog().error("Can't show object [%s] for sprite [%s]: Sprite NOT found", model.getName(), named);
    std::vector<std::uint32_t>& list = sprite->hideObjects;
    const auto found = std::find(list.begin(), list.end(), spriteHandle(model));
    if (found != list.end()) {
        *found = list.back();
        list.pop_back();
        engineLog().message("Script call: Show object [%s] for sprite [%s]", model.getName(), named);
    }
    return true;
}

// ---- elements ----
// The element of a name, or -1 with the member's complaint.
std::int32_t namedElement(const Model& model, const char* element, const char* member) {
    const std::int32_t index = model.findElement(element);
    if (index < 0)
        engineLog().error("%s: Can't find element with name [%s] in model [%s]", member, element ? element : "",
                          model.getName());
    return index;
}

void elementShown(const ObjectHandle& h, const char* element, bool shown) {
    Model& model = h.model();
    const std::int32_t index = namedElement(model, element, shown ? "ELEMENT_SHOW" : "ELEMENT_HIDE");
    if (index >= 0)
        engineLog().message(shown ? "Script call: Show element [%s] for model [%s]"
                                  : "Script call: Hide element [%s] for model [%s]",
                            element, model.getName());
    model.setElementVisible(index, shown);
}
void objectElementHide(const ObjectHandle& h, const char* element, const luabind::object&) {
    elementShown(h, element, false);
}
void objectElementShow(const ObjectHandle& h, const char* element, const luabind::object&) {
    elementShown(h, element, true);
}
// The second argument may be left out.
void objectElementHideName(const ObjectHandle& h, const char* element) { elementShown(h, element, false); }
void objectElementShowName(const ObjectHandle& h, const char* element) { elementShown(h, element, true); }
bool objectElementVisible(const ObjectHandle& h, const char* element) {
    Model& model = h.model();
    const std::int32_t index = namedElement(model, element, "ELEMENT_VISIBLE");
    if (index < 0 || index >= static_cast<std::int32_t>(model.elements.size())) return false;
    return (model.elements[static_cast<std::size_t>(index)].flags & kElementEnabled) != 0;
}

// The resource's mesh model with its header loaded, or null.
const Y3ModelDefault* loadedMesh(Model& model) {
    if (!model.resource && modelDataManager()) model.resource = modelDataManager()->requestHeader(model.resourceName);
    return model.meshModel();
}
std::int32_t objectElementCount(const ObjectHandle& h) {
    const Y3ModelDefault* mesh = loadedMesh(h.model());
    return mesh ? static_cast<std::int32_t>(mesh->elements.size()) : 0;
}
// Element indexes come from scripts: one outside the elements is a script
// error, answered neutrally.
bool elementIndexOk(const Model& model, std::int32_t index, std::size_t count, const char* member) {
    if (index >= 0 && static_cast<std::size_t>(index) < count) return true;
    engineLog().scriptError("%s: element index [%i] is outside model [%s]", member, static_cast<int>(index),
                            model.getName());
    return false;
}
const char* objectElementName(const ObjectHandle& h, std::int32_t index) {
    Model& model = h.model();
    const Y3ModelDefault* mesh = loadedMesh(model);
    if (!mesh) return "NOT LOADED";
    if (!elementIndexOk(model, index, mesh->elements.size(), "element_name")) return "";
    return mesh->elements[static_cast<std::size_t>(index)]->name;
}

// The element's current level of the loaded resource, or null (an index
// outside the elements is a script error).
const Y3Mesh* currentLevel(Model& model, std::int32_t index, const char* member) {
    const Y3ModelDefault* mesh = loadedMesh(model);
    if (!mesh) return nullptr;
    if (!elementIndexOk(model, index, mesh->elements.size(), member)) return nullptr;
    const ModelElement* element =
        static_cast<std::size_t>(index) < model.elements.size() ? &model.elements[static_cast<std::size_t>(index)] : nullptr;
    const std::int32_t level = element ? element->lodIndex : 0;
    if (level < 0 || level > 2) return nullptr;
    return &mesh->elements[static_cast<std::size_t>(index)]->lods[level];
}
std::int32_t objectElementTriangles(const ObjectHandle& h, std::int32_t index) {
    Model& model = h.model();
    const Y3Mesh* level = currentLevel(model, index, "element_triangles");
    if (!level) return 0;
    std::int64_t indices = 0;
    for (std::int32_t i = 0; i < level->subsetCount(); ++i)
        indices += const_cast<Y3Mesh*>(level)->subset(i).indexCount;
    return static_cast<std::int32_t>(indices / 3);
}
std::int32_t objectElementMaterials(const ObjectHandle& h, std::int32_t index) {
    Model& model = h.model();
    if (!currentLevel(model, index, "element_materials")) return 0;
    if (static_cast<std::size_t>(index) >= model.elements.size()) return 0;
    const ModelElementLod* slot = model.elements[static_cast<std::size_t>(index)].lod();
    return slot ? static_cast<std::int32_t>(slot->materials.size()) : 0;
}
// The texture set of the first element (0 without elements).
std::int32_t getTexture(const ObjectHandle& h) {
    const Model& model = h.model();
    return model.elements.empty() ? 0 : static_cast<std::int32_t>(model.elements.front().textureSet());
}
void setTexture(const ObjectHandle& h, std::int32_t index) { h.model().setTextureSet(index); }
// One element takes another texture set: a pushed, shown element leaves
// its levels and enters them again with the new set.
bool objectSetElementTexture(const ObjectHandle& h, const char* elementName, std::int32_t textureSet) {
    Model& model = h.model();
    const char* given = elementName ? elementName : "";
    const std::string cut(given, strnlen(given, 127));
    const std::int32_t index = model.findElement(cut.c_str());
    if (index < 0 || static_cast<std::size_t>(index) >= model.elements.size())
        return engineLog().error("Can't find element with name [%s] in model [%s]", given, model.getName());
    if (textureSet < 0 || textureSet > 0xFF) {
        engineLog().scriptError("set_element_texture: texture set [%i] is outside 0..255 for model [%s]",
                                static_cast<int>(textureSet), model.getName());
        return false;
    }
    ModelElement& element = model.elements[static_cast<std::size_t>(index)];
    if (element.textureSet() != static_cast<std::uint32_t>(textureSet)) {
        const bool repush = (element.flags & kElementPushed) && (element.flags & kElementEnabled);
        if (repush) element.pop(true);
        element.flags = (element.flags & ~(0xFFu << kElementTextureSetShift)) |
                        (static_cast<std::uint32_t>(textureSet) << kElementTextureSetShift);
        if (repush && loadedMesh(model)) element.push();
    }
    model.updateLightSet();
    return true;
}

// ---- links ----
bool objectLinkObject(const ObjectHandle& h, const char* objectName, const char* boneName) {
    Model& model = h.model();
    const char* parentName = objectName ? objectName : "";
    Scene* scene = gameCore.currentScene();
    GameObject* parent = scene ? scene->lookupModel(parentName) : nullptr;
    if (!parent || !parent->id) {
        engineLog().error("Can't find game object with name [%s]", parentName);
        return engineLog().error("Object  [%s] link: Can't find parent object [%s] to link", model.getName(),
                                 parentName);
    }
    const Matrix34 identity = matrix34Identity();
    // Without a bone the link takes the first bone of the model's own
    // settled skeleton.
    std::string bone = boneName ? boneName : "";
    if (bone.empty()) {
        Skeleton& skeleton = model.animation.skeleton;
        model.animation.settleSkeleton();
        if (!skeleton.order.empty()) {
            const auto first = static_cast<std::size_t>(skeleton.order.front());
            if (first < skeleton.bones.size()) bone = skeleton.bones[first].name;
        }
    }
    if (PhysicsModel* physics = model.attachedPhysics(); physics && (physics->flags & kPhysicsModelController))
        model.detachPhysics();
    if (!model.link.set(bone.c_str(), parent, identity))
        return engineLog().error("Object [%s] link: Fail link to [%s] bone [%s]", model.getName(), parentName,
                                 bone.c_str());
    if (model.controller) {
        if (const auto* parentModel = dynamic_cast<const Model*>(parent)) {
            std::string rules = std::string(model.resourceName) + "&" + parentModel->resourceName;
            rules.resize(std::min<std::size_t>(rules.size(), 127));
            model.controller->bindAnimationRules(rules.c_str());
        }
    }
    model.updateLightSet();
    return true;
}
// The bone may be left out.
bool objectLinkObjectNoBone(const ObjectHandle& h, const char* objectName) {
    return objectLinkObject(h, objectName, nullptr);
}
bool objectUnlink(const ObjectHandle& h) {
    Model& model = h.model();
    if (!model.attachedPhysics()) model.attachPhysics(nullptr);
    if (model.controller) model.controller->bindAnimationRules(model.resourceName);
    model.link.clear();
    return true;
}

// ---- placement, animation ----
bool objectTeleport(const ObjectHandle& h, const char* waypoint, float offset) {
    return h.model().teleport(waypoint, offset);
}
bool objectSequence(const ObjectHandle& h, const char* text) { return h.model().playSequence(text); }
bool objectFaceSequence(const ObjectHandle& h, const char* text) { return h.model().playFaceSequence(text); }
bool objectSequenceIdle(const ObjectHandle& h, const char* text) { return h.model().playSequenceIdle(text); }
bool objectFaceSequenceIdle(const ObjectHandle& h, const char* text) { return h.model().playFaceSequenceIdle(text); }
float objectVoice(const ObjectHandle& h, const char* morphName) { return h.model().voice(morphName); }
bool objectTestOpen(const ObjectHandle& h) { return h.model().isAnimationPlaying(); }
bool objectTestVoice(const ObjectHandle& h) { return h.model().isVoicePlaying(); }
void objectStopVoice(const ObjectHandle& h) { h.model().stopVoice(); }
// The body stack's queries for part 0, and its instances by index.
float objectAnimPeriod(const ObjectHandle& h) {
    return static_cast<float>(h.model().animation.body().sequenceClock);
}
float objectAnimPosition(const ObjectHandle& h) { return h.model().animation.body().getPosition(0); }
float objectAnimDirection(const ObjectHandle& h) { return h.model().animation.body().getDirection(0); }
float objectAnimSpeed(const ObjectHandle& h) { return h.model().animation.body().getSpeed(0); }
std::int32_t objectAnimationCount(const ObjectHandle& h) {
    return static_cast<std::int32_t>(h.model().animation.body().instances().size());
}
const char* objectAnimationName(const ObjectHandle& h, std::int32_t index) {
    const auto& instances = h.model().animation.body().instances();
    if (index < 0 || index >= static_cast<std::int32_t>(instances.size()) || !instances[static_cast<std::size_t>(index)])
        return "INVALID";
    return instances[static_cast<std::size_t>(index)]->name;
}
float getWalkDistance(const ObjectHandle& h) { return h.model().walk_distance; }
void setWalkDistance(const ObjectHandle& h, float value) { h.model().walk_distance = value; }
float getLookDistance(const ObjectHandle& h) { return h.model().interestDistance; }
void setLookDistance(const ObjectHandle& h, float value) { h.model().interestDistance = value; }

// ---- action items ----
// The model's items, kept in line with its resource.
Model& withItems(const ObjectHandle& h) {
    Model& model = h.model();
    model.syncActionItems();
    return model;
}
std::int32_t objectActionCount(const ObjectHandle& h) { return static_cast<std::int32_t>(withItems(h).actionItems.size()); }
const char* objectActionName(const ObjectHandle& h, std::int32_t index) {
    const Model& model = withItems(h);
    if (index < 0 || index >= static_cast<std::int32_t>(model.actionItems.size())) return "INVALID INDEX";
    return model.actionItems[static_cast<std::size_t>(index)].name;
}
// The items keep the resource's order, which need not be sorted: the
// search finds any item of the name.
std::int32_t objectActionIndex(const ObjectHandle& h, const char* itemName) {
    const Model& model = withItems(h);
    const std::int32_t index = model.actionIndex(itemName);
    if (index < 0)
        engineLog().scriptError("Can't find model [%s] actions with name [%s]", model.getName(),
                                itemName ? itemName : "");
    return index;
}

// One of the five ranges of an item: the INI default outside the items.
template <float ModelActionItem::*Item, float ModelActionRanges::*Default>
float getRange(const ObjectHandle& h, std::int32_t index) {
    const Model& model = withItems(h);
    if (index < 0 || index >= static_cast<std::int32_t>(model.actionItems.size()))
        return ModelActionItemData::defaultRanges().*Default;
    return model.actionItems[static_cast<std::size_t>(index)].*Item;
}
template <float ModelActionItem::*Item>
void setRange(const ObjectHandle& h, std::int32_t index, float value) {
    Model& model = withItems(h);
    if (index < 0 || index >= static_cast<std::int32_t>(model.actionItems.size())) return;
    model.actionItems[static_cast<std::size_t>(index)].*Item = value;
}
template <float ModelActionItem::*Item, float ModelActionRanges::*Default>
float getFirstRange(const ObjectHandle& h) {
    return getRange<Item, Default>(h, 0);
}
template <float ModelActionItem::*Item>
void setFirstRange(const ObjectHandle& h, float value) {
    setRange<Item>(h, 0, value);
}

// ---- queries ----
// True when the scene's path grid has a cell under the model whose height
// lies from 0 up to (not including) 2 below the model's raised position.
bool objectIsOnPathGrid(const ObjectHandle& h) {
    Model& model = h.model();
    Scene* scene = model.scene();
    PathGridRecord* record = scene ? scene->findGridData() : nullptr;
    const Y3GridData* grid = record && gameCore.pathGrids ? gameCore.pathGrids->acquire(record) : nullptr;
    if (!grid) return engineLog().error("Can't find grid [%s]", model.resourceName);
    Matrix34 world;
    model.getWorldMatrix(world);
    const float raised[3] = {world.m[9], world.m[10] + 0.5f, world.m[11]};
    const std::uint32_t cell = grid->findCell(raised, true, -1.0f);
    float centre[3];
    if (!cell || !grid->cellPosition(cell, centre)) return false;
    const float d = raised[1] - centre[1];
    return d >= 0.0f && d < 2.0f;
}

// The action test of an item: enabled, and its outline reaches the screen
// this frame.
bool actionValid(const ObjectHandle& h, std::int32_t index) {
    const Model& model = h.model();
    if (index < 0 || static_cast<std::size_t>(index) >= model.actionItems.size()) return false;
    if (!(model.actionItems[static_cast<std::size_t>(index)].flags & kModelActionEnabled)) return false;
    std::vector<ActionScreenPoint> points;
    return model.projectActionItem(index, points);
}
bool objectActionValid(const ObjectHandle& h) { return actionValid(h, 0); }
bool objectActionValidAt(const ObjectHandle& h, std::int32_t index) { return actionValid(h, index); }

// Whether the model stands in a camera area of the current camera's
// automatic camera, which takes one step toward it.
bool objectIsInCameraArea(const ObjectHandle& h) {
    Model& model = h.model();
    Scene* scene = gameCore.currentScene();
    CameraCore* camera = scene ? scene->camera() : nullptr;
    if (!camera || !camera->autoCamera) return false;
    Matrix34 target;
    model.getWorldMatrix(target);
    Matrix34 placed = camera->pose;
    camera->autoCamera->step(placed, CurrentTime(-1.0), &target);
    return (camera->autoCamera->flags & kCameraAutoInArea) != 0;
}

}  // namespace

void registerObjectClass(lua_State* state, ScriptEngine&) {
    using namespace luabind;
    module(state)[class_<ObjectHandle>("Object")
                      .def("classof", &objectClassof)
                      .def("hide", &objectHide)
                      .def("show", &objectShow)
                      .def("hide_sprite", &objectHideSprite)
                      .def("show_sprite", &objectShowSprite)
                      .def("highlight", &objectHighlight)
                      .def("element_hide", &objectElementHide)
                      .def("element_show", &objectElementShow)
                      .def("element_hide", &objectElementHideName)
                      .def("element_show", &objectElementShowName)
                      .def("element_visible", &objectElementVisible)
                      .def("control", &objectControl)
                      .def("add_control", &objectAddControl)
                      .def("sequence", &objectSequence)
                      .def("face_sequence", &objectFaceSequence)
                      .def("sequence_idle", &objectSequenceIdle)
                      .def("face_sequence_idle", &objectFaceSequenceIdle)
                      .def("voice", &objectVoice)
                      .def("test_voice", &objectTestVoice)
                      .def("stop_voice", &objectStopVoice)
                      .def("test_open", &objectTestOpen)
                      .def("anim_period", &objectAnimPeriod)
                      .def("anim_position", &objectAnimPosition)
                      .def("anim_direction", &objectAnimDirection)
                      .def("anim_speed", &objectAnimSpeed)
                      .def("teleport", &objectTeleport)
                      .property("texture", &getTexture, &setTexture)
                      .def("set_element_texture", &objectSetElementTexture)
                      .def("unlink", &objectUnlink)
                      .def("link_object", &objectLinkObject)
                      .def("link_object", &objectLinkObjectNoBone)
                      .property("look_distance", &getLookDistance, &setLookDistance)
                      .property("walk_distance", &getWalkDistance, &setWalkDistance)
                      .def("action_count", &objectActionCount)
                      .def("action_name", &objectActionName)
                      .def("action_index", &objectActionIndex)
                      .def("element_count", &objectElementCount)
                      .def("element_name", &objectElementName)
                      .def("element_triangles", &objectElementTriangles)
                      .def("element_materials", &objectElementMaterials)
                      .def("current_lightset", &objectLightSet)
                      .def("animation_count", &objectAnimationCount)
                      .def("animation_name", &objectAnimationName)
                      .def("object_name", &objectName)
                      .def("model_name", &objectModelName)
                      .def("isOnPathGrid", &objectIsOnPathGrid)
                      .def("isInCameraArea", &objectIsInCameraArea)
                      .def("get_action_distance", &getRange<&ModelActionItem::maxRange3d, &ModelActionRanges::maxRange3d>)
                      .def("set_action_distance", &setRange<&ModelActionItem::maxRange3d>)
                      .def("get_action_min_distance",
                           &getRange<&ModelActionItem::minRange3d, &ModelActionRanges::minRange3d>)
                      .def("set_action_min_distance", &setRange<&ModelActionItem::minRange3d>)
                      .def("get_action_distance2D",
                           &getRange<&ModelActionItem::maxRange2d, &ModelActionRanges::maxRange2d>)
                      .def("set_action_distance2D", &setRange<&ModelActionItem::maxRange2d>)
                      .def("get_action_min_distance2D",
                           &getRange<&ModelActionItem::minRange2d, &ModelActionRanges::minRange2d>)
                      .def("set_action_min_distance2D", &setRange<&ModelActionItem::minRange2d>)
                      .def("get_action_size2D", &getRange<&ModelActionItem::minSize2d, &ModelActionRanges::minSize2d>)
                      .def("set_action_size2D", &setRange<&ModelActionItem::minSize2d>)
                      .property("action_distance",
                                &getFirstRange<&ModelActionItem::maxRange3d, &ModelActionRanges::maxRange3d>,
                                &setFirstRange<&ModelActionItem::maxRange3d>)
                      .property("action_min_distance",
                                &getFirstRange<&ModelActionItem::minRange3d, &ModelActionRanges::minRange3d>,
                                &setFirstRange<&ModelActionItem::minRange3d>)
                      .property("action_distance2D",
                                &getFirstRange<&ModelActionItem::maxRange2d, &ModelActionRanges::maxRange2d>,
                                &setFirstRange<&ModelActionItem::maxRange2d>)
                      .property("action_min_distance2D",
                                &getFirstRange<&ModelActionItem::minRange2d, &ModelActionRanges::minRange2d>,
                                &setFirstRange<&ModelActionItem::minRange2d>)
                      .property("action_size2D",
                                &getFirstRange<&ModelActionItem::minSize2d, &ModelActionRanges::minSize2d>,
                                &setFirstRange<&ModelActionItem::minSize2d>)
                      .def("action_valid", &objectActionValid)
                      .def("action_valid", &objectActionValidAt)];
}

bool pushObjectScript(lua_State* state, GameObject* object) {
    if (!dynamic_cast<Model*>(object)) return false;
    luabind::object(state, ObjectHandle{GameObjectLink::fromObject(object)}).push(state);
    return true;
}
