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
struct RunModeRecord;
struct StartupArguments;

// State bits of GameCore::flags.
constexpr std::uint32_t kGameFlagPaused = 0x0004;
constexpr std::uint32_t kGameFlagCameraOverride = 0x0010;
constexpr std::uint32_t kGameFlagScreenView = 0x0040;

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
};

extern GameCore gameCore;
