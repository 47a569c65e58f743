#include "effects/Sprite.h"
#include "app/GlobalObjects.h"

#include <cstring>
#include <new>

#include "animation/AnimationCore.h"
#include "app/EngineGlobals.h"
#include "app/GameCore.h"
#include "app/GameSetup.h"
#include "app/SaveGame.h"
#include "app/ThisMainLoop.h"
#include "app/ThisMainWindow.h"
#include "control/PathGridDataManager.h"
#include "control/PhysicsCore.h"
#include "effects/LightSetLibrary.h"
#include "effects/SkyDataManager.h"
#include "foundation/AppPaths.h"
#include "foundation/IniFile.h"
#include "foundation/Log.h"
#include "foundation/TimeCore.h"
#include "foundation/TimerCore.h"
#include "game/DialogDataManager.h"
#include "game/QuestDataManager.h"
#include "game/QuestLogic.h"
#include "game/SceneActionDataManager.h"
#include "game/WaypointDataManager.h"
#include "input/InputCore.h"
#include "model/Model.h"
#include "platform/Process.h"
#include "render/RenderCore.h"
#include "render/VideoCore.h"
#include "resources/PackageDatabase.h"
#include "scene/ObjectRepository.h"
#include "script/ScriptEngine.h"
#include "script/VariablesCore.h"
#include "sound/SoundCore.h"

namespace {

// A member whose memory cannot be had stays absent.
template <class T>
void make(T*& member, const char* name, GameCoreTrace* trace) {
    member = new (std::nothrow) T;
    if (member && trace) trace->push_back(name);
}

template <class T>
void drop(T*& member, const char* name, GameCoreTrace* trace) {
    if (!member) return;
    delete member;
    member = nullptr;
    if (trace) trace->push_back(name);
}

const float kRenderParameters[16] = {0.5f, 6.0f, 50.0f, 0.8f, 0.1f, -2.0f, 4.0f, 4.0f,
                                     0.4f, 1.0f, 0.9f, 1000.0f, 3000.0f, 1.0f, 1.0f, 1.0f};

}  // namespace

void constructGameCore(GameCore& core, GameCoreTrace* trace) {
    make(core.startupArguments, "startup arguments", trace);
    make(core.runMode, "run mode", trace);
    make(core.paths, "paths", trace);
    make(core.log, "log", trace);
    make(core.mainLoop, "main loop", trace);
    make(core.mainWindow, "main window", trace);
    make(core.packages, "packages", trace);
    make(core.objects, "object repository", trace);
    make(core.setup, "setup", trace);
    make(core.game, "game", trace);
    make(core.timers, "timers", trace);
    make(core.clocks, "clocks", trace);
    make(core.skyData, "sky data", trace);
    make(core.spriteData, "sprite data", trace);
    make(core.lightSets, "light sets", trace);
    make(core.script, "script", trace);
    make(core.variables, "variables", trace);
    make(core.screenActions, "screen actions", trace);
    make(core.waypoints, "waypoints", trace);
    make(core.questData, "quest data", trace);
    make(core.questLogic, "quest logic", trace);
    make(core.dialogs, "dialogs", trace);
    make(core.input, "input", trace);
    make(core.sound, "sound", trace);
    make(core.video, "video", trace);
    make(core.render, "render", trace);
    make(core.animation, "animation", trace);
    make(core.physics, "physics", trace);
    // Physics models reach the models they drive through these.
    Model::installPhysicsHooks();
    make(core.pathGrids, "path grids", trace);
    // Empty, with a save pending: the start-up load of the player's setup
    // settles it before the first frame.
    make(core.settings, "settings", trace);
    if (core.settings) core.settings->savePending = true;
    std::memcpy(core.renderParameters, kRenderParameters, sizeof(kRenderParameters));
    core.runState = -1;
    core.cameraMode = 0;
    std::memset(core.cameraMask, 0, sizeof(core.cameraMask));
    std::strcpy(core.cameraMask, "auto");
}

void destroyGameCore(GameCore& core, GameCoreTrace* trace) {
    drop(core.waypoints, "waypoints", trace);
    drop(core.screenActions, "screen actions", trace);
    drop(core.lightSets, "light sets", trace);
    drop(core.sound, "sound", trace);
    drop(core.clocks, "clocks", trace);
    drop(core.timers, "timers", trace);
    drop(core.pathGrids, "path grids", trace);
    if (core.settings) core.settings->clear();
    drop(core.settings, "settings", trace);
    drop(core.render, "render", trace);
    drop(core.animation, "animation", trace);
    drop(core.video, "video", trace);
    drop(core.skyData, "sky data", trace);
    drop(core.spriteData, "sprite data", trace);
    drop(core.dialogs, "dialogs", trace);
    drop(core.questData, "quest data", trace);
    drop(core.questLogic, "quest logic", trace);
    drop(core.script, "script", trace);
    drop(core.variables, "variables", trace);
    drop(core.objects, "object repository", trace);
    drop(core.input, "input", trace);
    drop(core.setup, "setup", trace);
    drop(core.packages, "packages", trace);
    drop(core.game, "game", trace);
    drop(core.runMode, "run mode", trace);
    drop(core.physics, "physics", trace);
    drop(core.startupArguments, "startup arguments", trace);
    drop(core.paths, "paths", trace);
    if (core.log) core.log->flush();
    drop(core.log, "log", trace);
    drop(core.mainLoop, "main loop", trace);
    drop(core.mainWindow, "main window", trace);
}

// The engine's globals in their construction order (all constant-initialised,
// so they exist before the game-core record below and outlive it). The
// growable arrays live in EngineGlobals.cpp.
// clang-format off
float globalScreenMatrix[16] = {
    1024.0f, 0.0f,   0.0f, 0.0f,
    0.0f,    768.0f, 0.0f, 0.0f,
    0.0f,    0.0f,   1.0f, 0.0f,
    512.0f,  384.0f, 0.0f, 1.0f};
float globalPixelToClipMatrix[16] = {
    1.0f / 512.0f, 0.0f,           0.0f, 0.0f,
    0.0f,          -1.0f / 384.0f, 0.0f, 0.0f,
    0.0f,          0.0f,           1.0f, 0.0f,
    -1.0f,         1.0f,           0.0f, 1.0f};
float globalHalfPixelMatrix[16] = {
    1.0f,            0.0f,           0.0f, 0.0f,
    0.0f,            1.0f,           0.0f, 0.0f,
    0.0f,            0.0f,           1.0f, 0.0f,
    -1.0f / 2048.0f, 1.0f / 1536.0f, 0.0f, 1.0f};
float globalIdentityMatrix[16] = {
    1.0f, 0.0f, 0.0f, 0.0f,
    0.0f, 1.0f, 0.0f, 0.0f,
    0.0f, 0.0f, 1.0f, 0.0f,
    0.0f, 0.0f, 0.0f, 1.0f};
// clang-format on
const char globalEightBlanks[9] = "        ";
constinit PhysicsGlobalRecord globalPhysicsRecordsA[2];
constinit PhysicsGlobalRecord globalPhysicsRecordsB[8];
constinit PointerArray<void> globalGridPaths;

namespace {

// Constructed by static initialisation before the entry point runs.
struct GlobalObjects {
    GlobalObjects() { constructGameCore(gameCore); }
    ~GlobalObjects() { destroyGameCore(gameCore); }
} globalObjects;

}  // namespace

int engineMain() {
    platform::fixHeapThresholds();
    VideoCore::installGamePlatform();
    InputCore::installGamePlatform();
    SoundCore::installGamePlatform();
    PhysicsCore::installGamePlatform();
    return gameCore.run();
}
