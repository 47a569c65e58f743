// "ScreenActions" and its global "actions": inspection and editing of the
// current scene's screen actions. The selected screen belongs to the
// scene's holder; each script object keeps its own selected action (layer)
// name. Indices given to scripts are 1-based. Edits change the loaded data
// in memory only.
#include <algorithm>
#include <cstring>
#include <numeric>
#include <string>
#include <vector>

#include <lua.hpp>
#include <luabind/luabind.hpp>

#include "app/GameCore.h"
#include "effects/Sprite.h"
#include "foundation/DataStream.h"
#include "foundation/Log.h"
#include "game/SceneActionDataManager.h"
#include "game/lua/GameScripts.h"
#include "scene/ObjectRepository.h"
#include "scene/Scene.h"

namespace {

constexpr const char kNoScreen[] = "Can't access to current screen: Select screen first";
constexpr const char kSelectAction[] = "Select action first";

struct ScreenActionScript {
    char layer[128] = {};
};

Log& log() { return engineLog(); }

// The 16 colours of new actions, 0xRRGGBB.
constexpr std::uint32_t kPalette[16] = {0xEB1A29, 0xCD3196, 0x8522AA, 0x3300FF, 0x00EAFF, 0x00FF84,
                                        0xCCFF00, 0xFFFC00, 0xFFC000, 0xFF9000, 0xC5C4FA, 0xFAC4EE,
                                        0xF6B2BA, 0xF0F6B2, 0xB2F6B4, 0xC6B2F6};

SceneActionData* data() { return gameCore.scene_getActionsData(); }

// The selected screen; logged when there is none.
ActionScreen* screenOrLog() {
    ActionScreen* screen = gameCore.scene_getActionsScreen();
    if (!screen) log().error("%s", kNoScreen);
    return screen;
}

// The object's current action: none silently when its name is empty or
// not in the screen; a missing screen is logged when report is set.
ScreenAction* currentAction(const ScreenActionScript& self, bool report = true) {
    if (!self.layer[0]) return nullptr;
    ActionScreen* screen = report ? screenOrLog() : gameCore.scene_getActionsScreen();
    if (!screen) return nullptr;
    const std::int32_t index = screen->find(self.layer);
    return index < 0 ? nullptr : &screen->actions[static_cast<std::size_t>(index)];
}

ScreenAction* currentOrLog(const ScreenActionScript& self) {
    ScreenAction* action = currentAction(self);
    if (!action) log().error("%s", kSelectAction);
    return action;
}

// The named action of the selected screen; logged when missing.
ScreenAction* namedAction(const std::string& name) {
    ActionScreen* screen = screenOrLog();
    if (!screen) return nullptr;
    const std::int32_t index = screen->find(name.c_str());
    if (index < 0) return log().error("Can't find action [%s]", name.c_str()), nullptr;
    return &screen->actions[static_cast<std::size_t>(index)];
}

const char* classof(const ScreenActionScript&) { return "ScreenActions"; }

// ---- Properties

std::string getScreen(const ScreenActionScript&) { return gameCore.scene_getActionsName(); }
void setScreen(ScreenActionScript&, const std::string& name) { gameCore.scene_selectActionsScreen(name.c_str()); }

std::string getLayer(const ScreenActionScript& self) { return self.layer; }
void setLayer(ScreenActionScript& self, const std::string& name) {
    log().message("Select screen %s action from %s to %s", gameCore.scene_getActionsName(), self.layer, name.c_str());
    copyName128(self.layer, name.c_str());
}

bool getVisible(const ScreenActionScript& self) {
    const ScreenAction* action = currentAction(self, false);
    return action && !(action->flags & kScreenActionHidden);
}
void setVisible(ScreenActionScript& self, bool visible) {
    ScreenAction* action = currentAction(self);
    if (!action) {
        log().error("To change action visibility select action first");
        return;
    }
    action->flags = visible ? (action->flags & ~kScreenActionHidden) : (action->flags | kScreenActionHidden);
    log().message("%s screen action grid [%s]", visible ? "Show" : "Hide", action->name);
}

// ---- Screens

int screenCount(const ScreenActionScript&) {
    const SceneActionData* d = data();
    return d ? static_cast<int>(d->screens.size()) : -1;
}

std::string screenName(const ScreenActionScript&, int i) {
    const SceneActionData* d = data();
    if (!d) return log().error("s_getScreenName:Can't operate with screens: load scene first"), "INVALID";
    if (i < 1 || static_cast<std::size_t>(i) > d->screens.size())
        return log().error("Fail get screen name: Invalid screen index %i", i), "INVALID_INDEX";
    return d->screens[static_cast<std::size_t>(i - 1)].name;
}

bool screenTest(const ScreenActionScript&, const std::string& name) {
    const SceneActionData* d = data();
    return d && d->find(name.c_str()) >= 0;
}

bool screenRename(ScreenActionScript&, const std::string& newName) {
    SceneActionData* d = data();
    if (!d) return log().error("s_changeScreenName:Can't operate with screens: load scene first");
    const std::string selected = gameCore.scene_getActionsName();
    const std::int32_t index = selected.empty() ? -1 : d->find(selected.c_str());
    if (index < 0) return log().error("s_changeScreenName: Can't rename screen: Select screen first");
    // The name as stored (cut to its field) is the one that must be free.
    char stored[sizeof(ActionScreen::name)] = {};
    copyName128(stored, newName.c_str());
    if (selected == stored) return true;
    if (d->find(stored) >= 0) return log().error("can't rename screen: name already used");
    ActionScreen screen = std::move(d->screens[static_cast<std::size_t>(index)]);
    d->screens.erase(d->screens.begin() + index);
    std::memcpy(screen.name, stored, sizeof(stored));
    if (!d->insert(std::move(screen))) return log().error("PANIC: STRUCTURE BROKEN");
    return gameCore.scene_selectActionsScreen(stored);
}

bool screenAdd(ScreenActionScript&, const std::string& name) {
    SceneActionData* d = data();
    if (!d) return log().error("s_addScreen: Can't operate with screens: load scene first");
    ActionScreen screen;
    copyName128(screen.name, name.c_str());
    if (!d->insert(std::move(screen))) return log().error("s_addScreen: can't add new screen: name already used");
    return true;
}

bool screenDel(ScreenActionScript&) {
    SceneActionData* d = data();
    if (!d) return log().error("s_delScreen: Can't operate with screens: load scene first");
    const std::string selected = gameCore.scene_getActionsName();
    if (selected.empty()) return log().error("s_delScreen: Can't delete screen: Select screen first");
    const std::int32_t index = d->find(selected.c_str());
    if (index < 0) return log().error("PANIC: STRUCTURE BROKEN");
    d->screens.erase(d->screens.begin() + index);
    return gameCore.scene_selectActionsScreen("");
}

// ---- Actions of the selected screen

int layerCount(const ScreenActionScript&) {
    const ActionScreen* screen = screenOrLog();
    return screen ? static_cast<int>(screen->actions.size()) : -1;
}

// The position of a 1-based index, or -1 (logged).
std::int32_t actionIndex(const ActionScreen& screen, int i) {
    const int count = static_cast<int>(screen.actions.size());
    if (i < 1 || i > count) return log().error("Invalid action index %i (1..%i)", i, count), -1;
    return i - 1;
}

std::string layerName(const ScreenActionScript&, int i) {
    const ActionScreen* screen = screenOrLog();
    if (!screen) return "INVALID";
    const std::int32_t index = actionIndex(*screen, i);
    return index < 0 ? "INVALID_INDEX" : screen->actions[static_cast<std::size_t>(index)].name;
}

std::string layerSortedName(const ScreenActionScript&, int i) {
    const ActionScreen* screen = screenOrLog();
    if (!screen) return "INVALID";
    const std::int32_t index = actionIndex(*screen, i);
    if (index < 0) return "INVALID_INDEX";
    std::vector<std::size_t> order(screen->actions.size());
    std::iota(order.begin(), order.end(), std::size_t{0});
    std::stable_sort(order.begin(), order.end(), [screen](std::size_t a, std::size_t b) {
        return screen->actions[a].order > screen->actions[b].order;
    });
    return screen->actions[order[static_cast<std::size_t>(index)]].name;
}

bool layerTest(const ScreenActionScript&, const std::string& name) {
    const ActionScreen* screen = screenOrLog();
    return screen && screen->find(name.c_str()) >= 0;
}

bool layerRename(ScreenActionScript& self, const std::string& newName) {
    // The name as stored (cut to its field) is the one that must be free.
    char stored[sizeof(ScreenAction::name)] = {};
    copyName128(stored, newName.c_str());
    if (std::strcmp(stored, self.layer) == 0) return true;
    ActionScreen* screen = screenOrLog();
    if (!screen) return false;
    if (screen->find(stored) >= 0)
        return log().error("Can't rename action [%s] to [%s]: Name already used", self.layer, newName.c_str());
    const std::int32_t index = screen->find(self.layer);
    if (index < 0) return log().error("s_changeActionName: Can't get current action data");
    ScreenAction action = std::move(screen->actions[static_cast<std::size_t>(index)]);
    screen->actions.erase(screen->actions.begin() + index);
    std::memcpy(action.name, stored, sizeof(stored));
    if (!screen->insert(std::move(action))) return log().error("PANIC: STRUCTURE BROKEN");
    copyName128(self.layer, stored);
    return true;
}

bool layerAdd(ScreenActionScript&, const std::string& name) {
    ActionScreen* screen = gameCore.scene_getActionsScreen();
    if (!screen) return log().error("s_addAction: Can't access to current screen: Select screen first");
    ScreenAction action;
    copyName128(action.name, name.c_str());
    const std::uint32_t rgb = kPalette[screen->actions.size() % 16];
    for (int c = 0; c < 3; ++c) action.colour[c] = static_cast<float>((rgb >> (16 - 8 * c)) & 0xFF) / 255.0f;
    if (!screen->insert(std::move(action)))
        return log().error("s_addAction: Can't add action [%s]: name already used", name.c_str());
    return true;
}

bool layerDel(ScreenActionScript& self) {
    ActionScreen* screen = gameCore.scene_getActionsScreen();
    if (!screen) return log().error("s_delAction: Can't delete action: Select screen first");
    if (!self.layer[0]) return log().error("s_delAction: select action before delete");
    const std::int32_t index = screen->find(self.layer);
    if (index < 0) return log().error("s_delAction: current action NOT FOUND");
    screen->actions.erase(screen->actions.begin() + index);
    std::memset(self.layer, 0, sizeof(self.layer));
    return true;
}

int layerGetOrder(const ScreenActionScript& self) {
    const ScreenAction* action = currentOrLog(self);
    return action ? action->order : -1;
}

bool layerSetOrder(ScreenActionScript& self, int order) {
    if (order < 0) return log().error("Can't set negative action order value");
    ScreenAction* action = currentAction(self);
    if (!action) return log().error("%s", kSelectAction);
    if (action->order == order) return true;
    const ActionScreen* screen = gameCore.scene_getActionsScreen();
    if (!screen) return log().error("%s", kNoScreen);
    for (const ScreenAction& other : screen->actions)
        if (&other != action && other.order == order)
            return log().error("Can't set action [%s] order to [%i], already used by action [%s]", action->name, order,
                               other.name);
    action->order = order;
    return true;
}

int getLayerOrder(const ScreenActionScript&, const std::string& name) {
    const ScreenAction* action = namedAction(name);
    return action ? action->order : 0;
}

bool setLayerOrder(ScreenActionScript&, const std::string& name, int order) {
    ScreenAction* action = namedAction(name);
    if (!action) return false;
    action->order = order;
    return true;
}

int layerGetX(const ScreenActionScript& self) {
    const ScreenAction* action = currentOrLog(self);
    return action ? action->helpX : -1;
}

int layerGetY(const ScreenActionScript& self) {
    const ScreenAction* action = currentOrLog(self);
    return action ? action->helpY : -1;
}

bool layerSetXY(ScreenActionScript& self, int x, int y) {
    if (x < 0 || x > 1024 || y < 0 || y > 1024)
        return log().error("s_setActionHelpXY: Invalid x,y values: Out of bounds");
    ScreenAction* action = currentOrLog(self);
    if (!action) return false;
    action->helpX = x;
    action->helpY = y;
    return true;
}

bool layerSet(ScreenActionScript& self, int x, int y, bool value) {
    if (x < 0 || x >= kActionGridWidth || y < 0 || y >= kActionGridHeight)
        return log().error("s_setActionValue: Invalid x,y values: Out of bounds");
    ScreenAction* action = currentOrLog(self);
    if (!action) return false;
    action->setCell(x, y, value);
    return true;
}

bool layerSetColor(ScreenActionScript& self, float r, float g, float b) {
    ScreenAction* action = currentOrLog(self);
    if (!action) return false;
    action->colour[0] = r;
    action->colour[1] = g;
    action->colour[2] = b;
    return true;
}

template <int C>
float layerGetColor(const ScreenActionScript& self) {
    const ScreenAction* action = currentOrLog(self);
    return action ? action->colour[C] : -1.0f;
}

template <int C>
float getLayerColor(const ScreenActionScript&, const std::string& name) {
    const ScreenAction* action = namedAction(name);
    return action ? action->colour[C] : 0.0f;
}

void beginDraw(ScreenActionScript&, bool mode) { gameCore.scene_beginActionDraw(mode); }
void endDraw(ScreenActionScript&) { gameCore.scene_finishActionDraw(); }
void setCursor(ScreenActionScript&, int cursor) { gameCore.scene_setScreenCursor(cursor); }

bool getLayerVisible(const ScreenActionScript&, const std::string& name) {
    const ScreenAction* action = namedAction(name);
    return action && !(action->flags & kScreenActionHidden);
}

bool setLayerVisible(ScreenActionScript&, const std::string& name, bool visible) {
    ScreenAction* action = namedAction(name);
    if (!action) return false;
    action->flags = visible ? (action->flags & ~kScreenActionHidden) : (action->flags | kScreenActionHidden);
    return true;
}

int getLayerX(const ScreenActionScript&, const std::string& name) {
    const ScreenAction* action = namedAction(name);
    return action ? action->helpX : 0;
}

int getLayerY(const ScreenActionScript&, const std::string& name) {
    const ScreenAction* action = namedAction(name);
    return action ? action->helpY : 0;
}

// The sprite named like screen i, or null (logged by the lookup).
const Sprite* screenSprite(int i) {
    const SceneActionData* d = data();
    if (!d || i < 1 || static_cast<std::size_t>(i) > d->screens.size()) return nullptr;
    GameObjectLink link;
    if (!gameCore.scene_findSprite(d->screens[static_cast<std::size_t>(i - 1)].name, true, link)) return nullptr;
    const GameObject* object = gameCore.objects ? gameCore.objects->access(link) : nullptr;
    return object && object->getType() == ObjectSprite ? static_cast<const Sprite*>(object) : nullptr;
}

float getScreenX(const ScreenActionScript&, int i) {
    const Sprite* sprite = screenSprite(i);
    return sprite ? sprite->screenX : 0.0f;
}

float getScreenY(const ScreenActionScript&, int i) {
    const Sprite* sprite = screenSprite(i);
    return sprite ? sprite->screenY : 0.0f;
}

bool exportActions(ScreenActionScript&) {
    log().message("Export scene actions");
    return false;
}

int test(const ScreenActionScript&) { return gameCore.scene_actionAtCursor() + 1; }

}  // namespace

void registerScreenActionsClass(lua_State* state, ScriptEngine&) {
    using namespace luabind;
    // A Lua object cannot hold both a method and a property named "visible":
    // the property (the current action's grid) is the one registered; the
    // actions screen is shown through the game core.
    module(state)[class_<ScreenActionScript>("ScreenActions")
                      .def("classof", &classof)
                      .def("screen_count", &screenCount)
                      .def("screen_name", &screenName)
                      .def("screen_test", &screenTest)
                      .def("screen_rename", &screenRename)
                      .def("screen_add", &screenAdd)
                      .def("screen_del", &screenDel)
                      .def("layer_count", &layerCount)
                      .def("layer_name", &layerName)
                      .def("layer_sorted_name", &layerSortedName)
                      .def("layer_test", &layerTest)
                      .def("layer_rename", &layerRename)
                      .def("layer_add", &layerAdd)
                      .def("layer_del", &layerDel)
                      .def("layer_getOrder", &layerGetOrder)
                      .def("layer_setOrder", &layerSetOrder)
                      .def("get_layer_order", &getLayerOrder)
                      .def("set_layer_order", &setLayerOrder)
                      .def("layer_getX", &layerGetX)
                      .def("layer_getY", &layerGetY)
                      .def("layer_setXY", &layerSetXY)
                      .def("layer_set", &layerSet)
                      .def("layer_setColor", &layerSetColor)
                      .def("layer_getColorR", &layerGetColor<0>)
                      .def("layer_getColorG", &layerGetColor<1>)
                      .def("layer_getColorB", &layerGetColor<2>)
                      .def("get_layer_colorR", &getLayerColor<0>)
                      .def("get_layer_colorG", &getLayerColor<1>)
                      .def("get_layer_colorB", &getLayerColor<2>)
                      .def("beginDraw", &beginDraw)
                      .def("endDraw", &endDraw)
                      .def("setCursor", &setCursor)
                      .def("get_layer_visible", &getLayerVisible)
                      .def("set_layer_visible", &setLayerVisible)
                      .def("get_layer_x", &getLayerX)
                      .def("get_layer_y", &getLayerY)
                      .def("get_screen_x", &getScreenX)
                      .def("get_screen_y", &getScreenY)
                      .def("export", &exportActions)
                      .def("test", &test)
                      .property("screen", &getScreen, &setScreen)
                      .property("layer", &getLayer, &setLayer)
                      .property("visible", &getVisible, &setVisible)];
    globals(state)["actions"] = ScreenActionScript{};
}
