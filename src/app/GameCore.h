// The one global record of the game: a pointer to every core, data manager
// and service, the run state, the game state, the camera mode and mask, and
// the debug and state flag words. Every subsystem reaches the others through
// it. This header includes no subsystem header, so any layer may use it; the
// app library fills the record in order at start and empties it at exit.
#pragma once

#include <cstdint>
#include <vector>

class AppPaths;
class Log;
class ThisMainLoop;
class ThisMainWindow;
class PackageDatabase;
class ObjectRepository;
class GameSetup;
class SaveGame;
class TimerCoreHolder;
class TimeCore;
class SkyDataManager;
class LightSetLibrary;
class SpriteDataManager;
class ScriptEngine;
class VariablesCore;
class SceneActionDataManager;
struct ActionScreen;
struct SceneActionData;
class WaypointData;
class WaypointDataManager;
class QuestDataManager;
class QuestLogic;
class DialogDataManager;
class InputCore;
class SoundCore;
class VideoCore;
class RenderCore;
class AnimationCore;
class PhysicsCore;
class PathGridDataManager;
class IniFile;
class DataStream;
struct RunModeRecord;
struct StartupArguments;
struct ScriptEventArgs;
class GameObject;
class Scene;
class CameraCore;
class ModelController;
class Y3Pose;
class TimerCore;
struct GameObjectLink;
struct Matrix34;
struct CurrentTime;

// State bits of GameCore::flags.
constexpr std::uint32_t kGameFlagPaused = 0x0004;
constexpr std::uint32_t kGameFlagCameraOverride = 0x0010;
constexpr std::uint32_t kGameFlagScreenView = 0x0040;

// Bits of GameCore::debugFlags, read from section "debug" of the settings.
enum GameDebugFlag : std::uint32_t {
    DebugResourceLog = 0x0001,
    DebugScriptCallLog = 0x0002,
    DebugQuestLog = 0x0004,
    DebugEnableScriptMsg = 0x0008,
    DebugCharacterAnimatorLog = 0x0010,
    DebugInputLog = 0x0020,
    DebugTriggersLog = 0x0040,
    DebugCameraLog = 0x0080,
    DebugActionsLog = 0x0100,
    DebugControllerLog = 0x0200,
    DebugPhysicsLog = 0x0400,
    DebugSoundLog = 0x0800,
    DebugEnableScriptDebugMsg = 0x8000,
    DebugEnableScriptLogMsg = 0x10000,
    DebugAnimationEvent = 0x100000,
};

// The camera mode that tables use while a camera-stack command has the camera.
constexpr std::int32_t kCameraModeOverride = 11;
// The camera mode a loaded game starts in (Stillframe).
constexpr std::int32_t kCameraModeStillframe = 6;

struct GameCore {
    std::uint32_t debugFlags = 0;
    std::uint32_t flags = 0;
    std::int32_t runState = -1;
    std::int32_t gameState = 0;
    std::int32_t cameraMode = 0;
    char cameraMask[128] = "auto";

    StartupArguments* startupArguments = nullptr;
    RunModeRecord* runMode = nullptr;
    AppPaths* paths = nullptr;
    Log* log = nullptr;
    ThisMainLoop* mainLoop = nullptr;
    ThisMainWindow* mainWindow = nullptr;
    PackageDatabase* packages = nullptr;
    ObjectRepository* objects = nullptr;
    GameSetup* setup = nullptr;
    SaveGame* game = nullptr;
    TimerCoreHolder* timers = nullptr;
    TimeCore* clocks = nullptr;
    SkyDataManager* skyData = nullptr;
    SpriteDataManager* spriteData = nullptr;
    LightSetLibrary* lightSets = nullptr;
    ScriptEngine* script = nullptr;
    VariablesCore* variables = nullptr;
    SceneActionDataManager* screenActions = nullptr;
    WaypointDataManager* waypoints = nullptr;
    QuestDataManager* questData = nullptr;
    QuestLogic* questLogic = nullptr;
    DialogDataManager* dialogs = nullptr;
    InputCore* input = nullptr;
    SoundCore* sound = nullptr;
    VideoCore* video = nullptr;
    RenderCore* render = nullptr;
    AnimationCore* animation = nullptr;
    PhysicsCore* physics = nullptr;
    PathGridDataManager* pathGrids = nullptr;
    IniFile* settings = nullptr;

    float renderParameters[16] = {0.5f, 6.0f, 50.0f, 0.8f, 0.1f, -2.0f, 4.0f, 4.0f,
                                  0.4f, 1.0f, 0.9f, 1000.0f, 3000.0f, 1.0f, 1.0f, 1.0f};

    // The whole life of the game; the process's exit code (app library):
    // 0 after a normal end, 1 when another instance runs or the system
    // initialisation fails, 2 when the engine initialisation fails, 3 when
    // the game ended on a failure road (no "game_start", device lost).
    std::int32_t run(std::uintptr_t instance = 0, std::uintptr_t previousInstance = 0,
                     const char* commandLine = nullptr, std::int32_t showCommand = 0);
    // The system initialisation: paths, banner, settings, packages,
    // variables, window and render device.
    bool initialize();
    // The engine initialisation: light and sky data, input, scripts, sound,
    // animation, quests and dialogs.
    bool initializeEngine();
    // Releases every member in order; safe to run twice.
    void release();
    // release() under its crash guard.
    void safeRelease();
    // Every component's settings reader, in a fixed order.
    void loadSettings();
    void detectLanguage();
    // The game name (the user folder's name) from the localised title.
    void setGameName();
    // The game-state machine: false once the game is released (state 12 or 13).
    bool gameLoop(std::int32_t state);

    // Queues an engine event for the script, logged under the tag.
    bool addScriptEvent(ScriptEventArgs& args, const char* tag);
    // Whether the current scene's dialog is playing a phrase.
    bool scene_isDialogActive();
    // The screen-action code selected a screen: logged with "camera_log";
    // false (logged) without a current scene.
    bool onScreenSwitched();

    // The index of tables kept per camera mode: 11 while a camera-stack
    // command has the camera, else the camera mode.
    std::int32_t cameraModeIndex() const {
        return (flags & kGameFlagCameraOverride) ? kCameraModeOverride : cameraMode;
    }
    // Logs "Pause [ON|OFF]"; when the paused bit changes, the game clock's
    // pause flag follows it.
    void pause(bool on);
    // Sets the debug-flag word from section "debug" of the settings, creating
    // missing keys with their defaults.
    void readDebugFlags();
    // Writes the whole game state: bytes written, or the first negative
    // result of a block, after which nothing more is written (app library).
    std::int32_t save_all(DataStream& stream);
    // Reads what save_all wrote and rebuilds the game: bytes read, or a
    // negative value (app library).
    std::int32_t load_all(DataStream& stream);
    // Reads the same blocks into nothing, from the stream's position, and
    // tells whether load_all would take them: bytes read, or negative
    // (logged). The running game is not touched, so a damaged save can be
    // refused before anything of it is released.
    std::int32_t check_all(DataStream& stream);

    // Camera mode (0..11, else refused and logged) and camera mask.
    void setCameraMode(std::int32_t mode, const CurrentTime& sample);
    // Whether a change away from the given mode blends the camera: leaving
    // Game, Dialog, DialogCursor or Stillframe restarts it without blending.
    static bool cameraChangeIsSmooth(std::int32_t previousMode);
    bool selectCameraMode(bool smooth, const CurrentTime& sample);
    bool setCameraMask(const char* name);

    // Services on the current scene of the save game (app library). Without
    // a scene each logs its message (most end in ": load scene first") and
    // answers a neutral value: false, 0, null, -1 or "".
    Scene* currentScene() const;
    bool scene_setMainCharacter(GameObjectLink link);
    bool scene_setMainCharacterByName(const char* name);
    GameObjectLink scene_getMainCharacter();
    ModelController* scene_getMainController();
    bool onMainCharacterSelected();
    bool scene_resetMainCharacterView();
    CameraCore* scene_getCamera(const char* name = nullptr);
    bool scene_setFixedCameraToWaypoint(const char* waypoint, float value);
    bool scene_cameraStackCommand(const char* camera, const char* argument);
    bool scene_cameraStackText(const char* text, const char* camera);
    bool scene_getPose(const char* entity, std::uint32_t poseFlags, Matrix34& out);
    std::uint32_t scene_findObject(const char* name, bool log);
    std::uint32_t scene_findParticle(const char* name, bool log);
    bool scene_findSprite(const char* name, bool log, GameObjectLink& out);
    GameObject* scene_findLight(const char* name, bool log);
    std::int32_t scene_findTrigger(const char* name);
    const char* scene_modelTriggerName(const char* model);
    // The objects a waypoint pose spawns in the current scene, or null.
    GameObject* scene_addModelTrigger(const char* name, const Matrix34& pose);
    GameObject* scene_createParticle(const char* resource, const char* name, const Matrix34& pose);
    // flags: 0, or 2 passed on to the model's creation.
    GameObject* scene_createModel(const char* resource, const char* name, const Matrix34& placement,
                                  std::uint32_t flags);
    GameObject* scene_addLight(const char* resource, const char* name, const Matrix34& pose);
    const char* scene_dialogName(std::int32_t index);
    GameObjectLink scene_dialogAlias(const char* name, std::int32_t argument);
    // The handles of a type's objects (particles, models, sprites), or null.
    const std::vector<GameObjectLink>* scene_getObjectArray(std::uint32_t type);
    std::int32_t scene_enumFind(const char* name, std::uint32_t type);
    const char* scene_enumObjectName(std::int32_t index, std::uint32_t type);
    Y3Pose* scene_findWaypoint(const char* name);
    Y3Pose* scene_findWaypointOfKind(const char* name, std::int32_t kind);
    Y3Pose* scene_findNearestWaypoint(const char* name, const float* position);
    bool teleportObject(GameObjectLink object, const char* destination, float value);
    bool customizeObject(GameObjectLink object, const char* element, bool show);
    bool customizeObjectsByName(std::uint32_t type, const char* namePart, const char* element, bool show);
    bool resetObject(GameObjectLink object);
    bool setObjectPlay(GameObjectLink object, bool play);
    bool linkObjects(GameObjectLink slave, GameObjectLink master);
    // Whether the object may be drawn beside the current scene's
    // screen-actions sprite (the sprite named by the scene's screen
    // actions): false when that sprite lists the object among its hidden
    // particles (a particle) or hidden objects (a model); true otherwise,
    // also without such a sprite.
    bool scene_attachSprite(GameObjectLink object);
    // The point the looking model looks at during a dialog (the translation
    // of out): the current scene's look target; false without a scene or an
    // answer.
    bool scene_dialogLook(Matrix34& out, GameObjectLink looking);
    // A model's voice: the sound "<model name>.morph" of the Voice list of
    // the current scene, played once; true when it plays a sound of some
    // length.
    bool object_voice(GameObjectLink model, const char* voice);
    bool test_voice(GameObjectLink model);
    void stop_voice(GameObjectLink model);
    // An automatic effect placed at an object, deleted once it has played.
    bool playAutoSound(const char* alias, GameObjectLink object);
    // An automatic 3D effect at a world position, of a group (null or ""
    // for none) that stopSoundEffects deletes; a sound too far from the
    // listener to be heard is not played (true).
    bool playSoundAt(const char* alias, const float* position, const char* group);
    bool stopSoundEffects(const char* group);
    GameObject* scene_createSound(std::int32_t channel, const char* name, const char* alias);
    bool scene_deleteSound(std::int32_t channel, const char* name);
    bool scene_playSound(const char* name, const char* resource, std::int32_t channel, bool looped);
    GameObject* scene_findSound(std::int32_t channel, const char* name);
    void visible_rain(bool visible);
    bool scene_generateRainMap();
    void scene_setSkyWeather(std::int32_t weather);
    void scene_setSkyLightMode(std::int32_t mode);
    std::int32_t scene_getSkyLightMode();
    bool scene_setLightSet(std::int32_t kind, const char* name);
    bool scene_moveAimPoint(const float* position);
    bool scene_alignAimPoint(const float* position);
    bool scene_updateAimPoint(const float* position);
    TimerCore* scene_getTimers();
    GameObject* scene_getPhysicsScene();
    float scene_physicsScale(float value);
    bool scene_setPhysicsElementsVisible(bool visible);
    // The current scene's screen actions (loaded on demand), its selected
    // screen and name; null or "" without them.
    SceneActionData* scene_getActionsData();
    // The current scene's waypoint set, its header loaded when needed; null
    // without a scene or set.
    WaypointData* scene_getWaypointsData();
    const char* scene_getActionsName();
    bool scene_selectActionsScreen(const char* screen);
    ActionScreen* scene_getActionsScreen();
    // The action of the selected screen under the cursor, or -1.
    std::int32_t scene_actionAtCursor();
    // The editing state of the scene's holder (logged without a scene).
    bool scene_beginActionDraw(bool mode);
    bool scene_finishActionDraw();
    bool scene_setScreenCursor(std::int32_t cursor);
    bool scene_showActionsScreen(bool show);

    // Factories of the saved-game load, one per type code: null, logged, on
    // failure (app library).
    GameObject* loadCreateParticle(const char* name, GameObjectLink scene);
    GameObject* loadCreateModel(const char* name, GameObjectLink scene);
    GameObject* loadCreatePhysicsModel(const char* name);
    GameObject* loadCreateScene(const char* name);
    GameObject* loadCreateTrigger(const char* name, GameObjectLink scene, std::uint32_t triggerType);
    GameObject* loadCreatePhysicsTrigger(const char* name);
    // A saved sound: the bank sound of its name as an alias on its channel;
    // a sound of no scene joins the global sounds.
    GameObject* loadCreateSound(const char* name, GameObjectLink scene, std::uint32_t channel);
    GameObject* loadCreateLight(const char* name, GameObjectLink scene);
    GameObject* loadCreateDialog(const char* name, GameObjectLink scene);
    GameObject* loadCreateSprite(const char* name, GameObjectLink scene);
    GameObject* loadCreateGrid(const char* name, GameObjectLink scene);
};

extern GameCore gameCore;
