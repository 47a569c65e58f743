#include "app/lua/WorldScript.h"

#include <cctype>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include <lua.hpp>
#include <luabind/luabind.hpp>

#include "app/GameCore.h"
#include "app/ThisMainLoop.h"
#include "effects/lua/EffectsScripts.h"
#include "foundation/AppPaths.h"
#include "game/Y3SceneActionData.h"
#include "model/lua/ObjectScript.h"
#include "foundation/Log.h"
#include "foundation/RegistryKey.h"
#include "foundation/TimeCore.h"
#include "render/RenderCore.h"
#include "platform/Process.h"
#include "scene/CameraCore.h"
#include "scene/GameObject.h"
#include "scene/Scene.h"
#include "script/ScriptEngine.h"
#include "script/ScriptWorld.h"
#include "script/lua/TimerScript.h"
#include "ui/StillFrameData.h"
#include "ui/lua/UiScripts.h"

namespace {

// "Time" has no state of its own.
struct ScriptTime {};

constexpr std::size_t kClipboardLength = 1000;

// The script object of a scene object: a model is an "Object", lights,
// sprites and particles have handles of their own.
luabind::object scriptObject(lua_State* state, GameObject* object) {
    if (object && pushObjectScript(state, object)) {
        luabind::object result(luabind::from_stack(state, -1));
        lua_pop(state, 1);
        return result;
    }
    return effectScriptObject(state, object);
}

bool validWorldEvent(int event) { return event >= 0 && event < S_EVENT_COUNT; }

const char* worldClassof(const ScriptWorld&) { return "World"; }
const char* timeClassof(const ScriptTime&) { return "Time"; }

int getLight(const ScriptWorld&) { return gameCore.scene_getSkyLightMode(); }
void setLight(ScriptWorld&, int mode) { gameCore.scene_setSkyLightMode(mode); }
int getWeather(const ScriptWorld&) {
    const Scene* scene = gameCore.currentScene();
    return scene ? scene->skyWeather() : 0;
}
void setWeather(ScriptWorld&, int weather) { gameCore.scene_setSkyWeather(weather); }
int getCamera(const ScriptWorld&) { return gameCore.cameraMode; }
void setCamera(ScriptWorld&, int mode) { gameCore.setCameraMode(mode, CurrentTime(-1.0)); }
std::string getCameraMask(const ScriptWorld&) { return gameCore.cameraMask; }
void setCameraMask(ScriptWorld&, const char* mask) { gameCore.setCameraMask(mask); }
bool getPause(const ScriptWorld&) { return (gameCore.flags & kGameFlagPaused) != 0; }
void setPause(ScriptWorld&, bool on) { gameCore.pause(on); }
bool getPicker(const ScriptWorld&) { return false; }
void setPicker(ScriptWorld&, bool) {}
// The clipboard holds the scripts' narrow text in the engine's code page.
std::string getClipboard(const ScriptWorld&) {
    std::string text;
    if (!getClipboardText(text)) return "";
    if (text.size() > kClipboardLength) text.resize(kClipboardLength);
    return text;
}
void setClipboard(ScriptWorld&, const char* text) { setClipboardText(text ? text : ""); }

void quitGame(ScriptWorld&) {
    Log& log = engineLog();
    log.message("Called exit from script");
    gameCore.runState = 2;
    if (gameCore.mainLoop) gameCore.mainLoop->stopThread();
    log.info("Exit");
    log.flush();
}

bool setEvent(ScriptWorld& world, int event, const char* handler) { return world.setEvent(event, handler); }

std::string getEvent(const ScriptWorld& world, int event) {
    if (!validWorldEvent(event)) {
        engineLog().scriptError("Can't get event %s::[%s].%i: invalid event", "class ScriptWorld", "world", event);
        return "";
    }
    return world.getEvent(event);
}

std::string locales(const ScriptWorld&) { return gameCore.paths ? gameCore.paths->get(PathLanguage) : ""; }

bool setCameraPose(ScriptWorld&, const char* waypoint, float value) {
    return gameCore.scene_setFixedCameraToWaypoint(waypoint, value);
}
// The first-person camera record belongs to the input core's camera code;
// the values have nowhere to go until it exists.
void setFpsPose(ScriptWorld&, float, float, float) {}
void setFpsOffset(ScriptWorld&, float) {}
bool setLightSet(ScriptWorld&, const char* name, const luabind::object&) { return gameCore.scene_setLightSet(0, name); }
bool setTriggerLightSet(ScriptWorld&, const char* name, int kind, const luabind::object&) {
    return gameCore.scene_setLightSet(kind, name);
}
// Screen actions answer their "none" values until scenes have screens.
std::string getActionModel(const ScriptWorld&) { return "none"; }
std::string getActionName(const ScriptWorld&) { return ""; }
bool getCursorInCurrentArea(const ScriptWorld&) { return false; }
// The action the camera holds as hovered, in the selected screen.
std::string getActionLayer(const ScriptWorld&) {
    Scene* scene = gameCore.currentScene();
    const CameraCore* camera = scene ? scene->camera() : nullptr;
    const ActionScreen* screen = camera && camera->screenAction >= 0 ? gameCore.scene_getActionsScreen() : nullptr;
    if (!screen || static_cast<std::size_t>(camera->screenAction) >= screen->actions.size()) return "none";
    return screen->actions[static_cast<std::size_t>(camera->screenAction)].name;
}
bool setMainCharacter(ScriptWorld&, const char* name) { return gameCore.scene_setMainCharacterByName(name); }

int enumObj(const ScriptWorld&, int type) {
    const std::vector<GameObjectLink>* list = gameCore.scene_getObjectArray(static_cast<std::uint32_t>(type));
    return list ? static_cast<int>(list->size()) : 0;
}
std::string enumObjName(const ScriptWorld&, int type, int index) {
    return gameCore.scene_enumObjectName(index - 1, static_cast<std::uint32_t>(type));
}
int enumObjFind(const ScriptWorld&, int type, const char* name) {
    return gameCore.scene_enumFind(name, static_cast<std::uint32_t>(type)) + 1;
}

luabind::object findObject(lua_State* state, const char* name) {
    Scene* scene = gameCore.currentScene();
    GameObject* model = scene ? scene->lookupModel(name) : nullptr;
    if (!model) engineLog().error("Can't find game object with name [%s]", name ? name : "");
    return scriptObject(state, model);
}
luabind::object worldObject(const ScriptWorld&, const char* name, lua_State* state) { return findObject(state, name); }
luabind::object worldLight(const ScriptWorld&, const char* name, lua_State* state) {
    Scene* scene = gameCore.currentScene();
    GameObject* found = scene ? scene->lookupLight(name) : nullptr;
    if (!found) engineLog().error("Can't find game light with name [%s]", name ? name : "");
    return scriptObject(state, found);
}
luabind::object worldParticle(const ScriptWorld&, const char* name, lua_State* state) {
    const std::uint32_t id = gameCore.scene_findParticle(name, true);
    return scriptObject(state, id && gameCore.currentScene() ? gameCore.currentScene()->lookupParticle(name) : nullptr);
}
luabind::object worldSprite(const ScriptWorld&, const char* name, lua_State* state) {
    GameObjectLink link;
    if (!gameCore.scene_findSprite(name, true, link)) return luabind::object();
    return scriptObject(state, gameCore.currentScene()->lookupSprite(name));
}

bool collision(ScriptWorld&, const luabind::object&, bool visible) {
    return gameCore.scene_setPhysicsElementsVisible(visible);
}
bool testObjectAim(const ScriptWorld&, const char* name) {
    char text[128] = {};
    std::snprintf(text, sizeof(text), "aim_%s", name ? name : "");
    for (char* c = text; *c; ++c) *c = static_cast<char>(std::tolower(static_cast<unsigned char>(*c)));
    return gameCore.scene_findNearestWaypoint(text, nullptr) != nullptr;
}
bool cameraEffect(ScriptWorld&, const char* name) {
    CameraCore* camera = gameCore.scene_getCamera();
    if (!camera)
        return engineLog().error("Can't set effect [%s] to camera [%s]: Effect NOT found", name ? name : "", "");
    return camera->setEffect(name);
}
bool rain(ScriptWorld&, bool visible) {
    gameCore.visible_rain(visible);
    return true;
}
bool buildRain(ScriptWorld&) {
    gameCore.scene_generateRainMap();
    return true;
}
bool catchAim(ScriptWorld&, const luabind::object&) { return gameCore.scene_updateAimPoint(nullptr); }
bool alignAim(ScriptWorld&, const luabind::object&, const luabind::object&) {
    return gameCore.scene_alignAimPoint(nullptr);
}
bool moveAim(ScriptWorld&, const luabind::object&, const luabind::object&, const luabind::object&) {
    return gameCore.scene_moveAimPoint(nullptr);
}
bool setGroupVisibility(ScriptWorld&, int type, const char* text, bool visible) {
    return gameCore.customizeObjectsByName(static_cast<std::uint32_t>(type), text, nullptr, visible);
}
bool linkObjects(ScriptWorld&, const char* name, const char* parent, const char* bone) {
    Scene* scene = gameCore.currentScene();
    GameObject* model = scene ? scene->lookupModel(name) : nullptr;
    if (!model) {
        engineLog().error("Can't find game object with name [%s]", name ? name : "");
        return engineLog().error("Failed attach model [%s] to [%s->%s]", name ? name : "", parent ? parent : "",
                                 bone ? bone : "");
    }
    return false;  // linking to a parent or bone comes with the model code
}
bool unlinkObject(ScriptWorld&, const char* name) {
    Scene* scene = gameCore.currentScene();
    GameObject* model = scene ? scene->lookupModel(name) : nullptr;
    if (!model) {
        engineLog().error("Can't find game object with name [%s]", name ? name : "");
        return engineLog().error("Failed deattach model [%s]", name ? name : "");
    }
    model->link.clear();
    return true;
}

// The position of a named entity, or the origin with a script error.
void entityPosition(const char* name, const char* invalid, float (&position)[3]) {
    Matrix34 pose = matrix34Identity();
    if (!gameCore.scene_getPose(name, 0, pose)) {
        engineLog().scriptError(invalid, name ? name : "");
        position[0] = position[1] = position[2] = 0.0f;
        return;
    }
    position[0] = pose.m[9];
    position[1] = pose.m[10];
    position[2] = pose.m[11];
}
float distanceToObject(ScriptWorld&, const char* first, const char* second) {
    float a[3];
    float b[3];
    entityPosition(first, "Invalid arg1 [%s]: enter correct value", a);
    entityPosition(second, "Invalid arg2 [%s]: enter correct value", b);
    const float dx = a[0] - b[0];
    const float dy = a[1] - b[1];
    const float dz = a[2] - b[2];
    return std::sqrt(dx * dx + dy * dy + dz * dz);
}
bool openWeb(ScriptWorld&, const char* address) {
    platform::openWebPage(address);
    return true;
}
// Loose textures are imported by the texture library of the render core.
bool importExternalTexture(ScriptWorld&, const char*) { return false; }

// "light" is both a property (the sky light mode, a number) and a method
// (the light of a name). Both read the same member, so the property gives
// the number and numbers are made callable: world:light(name) calls the
// number with the world and the name, which finds the light. Calling any
// other number is the error Lua gives without this.
ScriptWorld* worldArgument(lua_State* state, int index) {
    if (lua_gettop(state) < index || !lua_isuserdata(state, index)) return nullptr;
    try {
        return luabind::object_cast<ScriptWorld*>(luabind::object(luabind::from_stack(state, index)));
    } catch (const luabind::cast_failed&) {
        return nullptr;
    }
}

int callNumber(lua_State* state) {
    ScriptWorld* world = worldArgument(state, 2);
    if (!world) return luaL_error(state, "attempt to call a number value");
    const char* name = lua_isstring(state, 3) ? lua_tostring(state, 3) : nullptr;
    const luabind::object light = worldLight(*world, name, state);
    if (light.is_valid())
        light.push(state);
    else
        lua_pushnil(state);
    return 1;
}

void makeNumbersCallable(lua_State* state) {
    lua_pushnumber(state, 0);
    lua_newtable(state);
    lua_pushcfunction(state, &callNumber);
    lua_setfield(state, -2, "__call");
    lua_setmetatable(state, -2);
    lua_pop(state, 1);
}

bool getTimePause(const ScriptTime&) { return gameCore.clocks && gameCore.clocks->gameTime.paused != 0; }
void setTimePause(ScriptTime&, bool on) {
    if (gameCore.clocks) gameCore.clocks->gameTime.paused = on ? 1 : 0;
}

}  // namespace

void registerWorldAndTime(lua_State* state, ScriptEngine& engine) {
    using namespace luabind;
    lua_pushinteger(state, onMouseOver);
    lua_setglobal(state, "onMouseOver");
    module(state)[(
        class_<ScriptWorld>("World")
            .enum_("GameObjectType")[(value("OBJ_PARTICLE", 0), value("OBJ_OBJECT", 1), value("OBJ_LIGHT", 9),
                                      value("OBJ_SPRITE", 11), value("OBJ_WAYPOINT", 14))]
            .enum_("CameraMode")[(value("Observer", 0), value("Game", 1), value("Dialog", 2),
                                  value("DialogCursor", 3), value("Fixed", 4), value("Movie", 5),
                                  value("Stillframe", 6), value("Editor", 7), value("Sprite", 9), value("Auto", 10))]
            .enum_("Weather")[(value("Clear", 0), value("Clouds", 1), value("Rain", 2), value("Fog", 3))]
            .enum_("TimeOfDay")[(value("Morning", 0), value("Day", 1), value("Evening", 2), value("Night", 3))]
            .def_readonly("time", &ScriptWorld::time)
            .def("classof", &worldClassof)
            // Also the method light(name): see callNumber.
            .property("light", &getLight, &setLight)
            .property("weather", &getWeather, &setWeather)
            .property("camera", &getCamera, &setCamera)
            .property("camera_mask", &getCameraMask, &setCameraMask)
            .property("pause", &getPause, &setPause)
            .property("picker_enable", &getPicker, &setPicker)
            .property("clipboard", &getClipboard, &setClipboard)
            .def("quitGame", &quitGame)
            .def("setEvent", &setEvent)
            .def("getEvent", &getEvent)
            .def("locales", &locales)
            .def("setCameraPose", &setCameraPose)
            .def("set_fps_pose", &setFpsPose)
            .def("set_fps_offset", &setFpsOffset)
            .def("setLightSet", &setLightSet)
            .def("setTriggerLightSet", &setTriggerLightSet)
            .def("getActionModel", &getActionModel)
            .def("getActionName", &getActionName)
            .def("getCursorInCurrentArea", &getCursorInCurrentArea)
            .def("getActionLayer", &getActionLayer)
            .def("setMainCharacter", &setMainCharacter)
            .def("enum_obj", &enumObj)
            .def("enum_obj_name", &enumObjName)
            .def("enum_obj_find", &enumObjFind)
            .def("object", &worldObject)
            .def("particle", &worldParticle)
            .def("sprite", &worldSprite)
            .def("collision", &collision)
            .def("testObjectAim", &testObjectAim)
            .def("camera_effect", &cameraEffect)
            .def("rain", &rain)
            .def("build_rain", &buildRain)
            .def("catchAim", &catchAim)
            .def("alignAim", &alignAim)
            .def("alignAim", &moveAim)
            .def("setGroupVisibility", &setGroupVisibility)
            .def("link_objects", &linkObjects)
            .def("unlink_object", &unlinkObject)
            .def("distance2object", &distanceToObject)
            .def("openWeb", &openWeb)
            .def("importExternalTexture", &importExternalTexture),
        class_<ScriptTime>("Time").def("classof", &timeClassof).property("pause", &getTimePause, &setTimePause))];
    globals(state)["world"] = engine.world();
    makeNumbersCallable(state);
    // Scripts reach the game time's pause through the global "time".
    globals(state)["time"] = ScriptTime{};
    // The scripts' scene timers are those of the scene current at each call.
    setSceneTimersProvider([] { return gameCore.scene_getTimers(); });
    // The scripts' still frames are the render core's.
    setStillFrameDataProvider([]() -> StillFrameData* {
        return gameCore.render ? &gameCore.render->stillFrames().data : nullptr;
    });
}
