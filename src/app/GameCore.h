// The one global record of the game: a pointer to every core, data manager
// and service, the run state, the game state, the camera mode and mask, and
// the debug and state flag words. Every subsystem reaches the others through
// it. This header includes no subsystem header, so any layer may use it; the
// app library fills the record in order at start and empties it at exit.
#pragma once

#include <cstdint>

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
class ScriptEngine;
class VariablesCore;
class SceneActionDataManager;
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

    // The whole life of the game; the process's exit code (app library).
    std::int32_t run();
    // The system initialisation: paths, banner, settings, log output.
    bool initialize();

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
};

extern GameCore gameCore;
