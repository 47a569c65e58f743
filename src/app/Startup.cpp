// Start-up and release of the game: the single-instance guard, the system
// and engine initialisation phases, the hand-over to the game-state machine
// and the release of every member of the game core.
#include <cstring>
#include <ctime>
#include <string>

#include "animation/AnimationCore.h"
#include "app/GameCore.h"
#include "app/GameGuards.h"
#include "app/GameSetup.h"
#include "app/GlobalObjects.h"
#include "app/SaveGame.h"
#include "app/ScriptClasses.h"
#include "app/ThisMainLoop.h"
#include "app/ThisMainWindow.h"
#include "control/ControlSettings.h"
#include "control/PhysicsCore.h"
#include "effects/EffectsSettings.h"
#include "effects/LightSetLibrary.h"
#include "effects/SkyDataManager.h"
#include "foundation/AppPaths.h"
#include "foundation/CrashGuard.h"
#include "foundation/ExportSettings.h"
#include "foundation/IniFile.h"
#include "foundation/Log.h"
#include "foundation/RegistryKey.h"
#include "game/DialogDataManager.h"
#include "game/QuestDataManager.h"
#include "game/QuestLogic.h"
#include "game/SceneActionDataManager.h"
#include "game/WaypointDataManager.h"
#include "input/InputCore.h"
#include "model/Model.h"
#include "scene/Scene.h"
#include "model/ModelActionItemData.h"
#include "model/Y3Mesh.h"
#include "platform/Faults.h"
#include "platform/FileSystem.h"
#include "platform/SingleInstance.h"
#include "platform/TextCodec.h"
#include "platform/Window.h"
#include "render/RenderCore.h"
#include "render/TextureLibrary.h"
#include "render/VideoCore.h"
#include "resources/MovieDataManager.h"
#include "resources/PackageDatabase.h"
#include "scene/CameraSettings.h"
#include "scene/SceneSettings.h"
#include "script/ScriptEngine.h"
#include "script/ScriptVariable.h"
#include "script/VariablesCore.h"
#include "sound/SoundCore.h"
#include "sound/SoundSettings.h"
#include "ui/StillFrameSettings.h"

namespace {

// What the video device asks of the application frame: the device window
// and the script events around a device re-creation. A main window that shows
// on a display hosts the GL backend's drawing; headless (no window, or SDL's
// offscreen driver) none is given, so the backend draws offscreen
// (surfaceless EGL) and the loop paces the frames.
void installVideoHooks(VideoCore& video) {
    VideoDevice::Hooks& hooks = video.videoDevice.hooks;
    hooks.focusWindow = []() -> HWND {
        const ThisMainWindow* main = gameCore.mainWindow;
        if (!main || !main->window || !main->window->showsOnDisplay()) return nullptr;
        return static_cast<HWND>(main->window->deviceWindow());
    };
    hooks.startReload = [] {
        if (gameCore.game) gameCore.game->startReload();
    };
    hooks.finishReload = [] {
        // The models rebuild their drawing data for the new device.
        if (Scene* scene = gameCore.currentScene()) scene->markModelsDirty();
        if (gameCore.game) gameCore.game->finishReload();
    };
}

constexpr const char* kDashes = "--------------------------------------------";
// The data version of this build: base and run-time numbers.
constexpr unsigned kDataVersionBase = 0;
constexpr unsigned kDataVersionRuntime = 11;
constexpr unsigned kSystemCodePage = 0;

// The executable's build time as ctime gives it, without the final line
// feed; false when the executable cannot be examined.
bool buildTimeText(char (&text)[1024]) {
    std::memset(text, 0, sizeof(text));
    const std::string exe = platform::executablePath();
    if (exe.empty()) return false;
    const std::int64_t stamp = platform::fileModifiedTime(exe);
    if (stamp < 0) return false;
    const std::time_t when = static_cast<std::time_t>(stamp);
    if (const char* formatted = std::ctime(&when)) std::strncpy(text, formatted, sizeof(text) - 1);
    const std::size_t length = std::strlen(text);
    if (length >= 2 && text[length - 1] == '\n') text[length - 1] = 0;
    return true;
}

// True for the characters a folder name cannot hold; they become blanks.
bool blankedInGameName(unsigned char c) {
    return c < 32 || std::strchr(":/\\*?\"<>|", c) != nullptr;
}

// The text of a key of section "game" (created when missing); false when it
// has no value.
bool gameSetting(IniFile& settings, const char* key, std::string& value) {
    value = settings.getCategory("game").getVariable(key).value();
    return !value.empty();
}

// With "resource_log" every data-manager start and every release step names
// itself, so that their order shows in the log.
bool traceSteps() { return (gameCore.debugFlags & DebugResourceLog) != 0; }

void traceRelease(const char* what) {
    if (traceSteps()) engineLog().info("Release [%s]", what);
}

// A data manager's start; an absent manager fails.
bool initializeDataManager(DataManager* manager) {
    if (!manager) return false;
    if (traceSteps()) engineLog().info("Initialize [%s]", manager->title());
    return manager->initialize();
}

void releaseDataManager(DataManager* manager) {
    if (!manager) return;
    traceRelease(manager->title());
    manager->release();
}

}  // namespace

bool safeSystemInitialize() {
    return runGuarded(kGuardSystemInitialize, [] { return gameCore.initialize(); });
}

bool safeGameInitialize() {
    return runGuarded(kGuardGameInitialize, [] { return gameCore.initializeEngine(); });
}

void GameCore::safeRelease() {
    runGuarded(kGuardGameRelease, [this] { release(); });
}

std::int32_t GameCore::run(std::uintptr_t instance, std::uintptr_t previousInstance, const char* commandLine,
                           std::int32_t showCommand) {
    if (platform::acquireSingleInstance(kInstanceName) == platform::InstanceResult::AlreadyRunning) {
        platform::showErrorLine("Error", "Other application instance already run");
        return kExitSystemFailure;
    }
    // From here a stop signal closes the game through the script; before the
    // script can take it, or when it comes twice, it ends the game, also out
    // of a script that never returns.
    platform::installStopSignals();
    setScriptInterruptCheck(&stopSignalEndsGame);
    if (startupArguments) {
        startupArguments->instance = instance;
        startupArguments->previousInstance = previousInstance;
        startupArguments->commandLine = commandLine;
        startupArguments->showCommand = showCommand;
    }
    // A phase cut short by a stop signal is no failure: the game is released
    // as at a normal end.
    const bool systemReady = safeSystemInitialize();
    if (stopSignalEndsGame()) return safeProcessGameState(kGameStateRelease), kExitNormal;
    if (!systemReady) {
        engineLog().error("Can't initialize system resources");
        safeProcessGameState(kGameStateReleaseAfterFailure);
        return kExitSystemFailure;
    }
    const bool engineReady = safeGameInitialize();
    if (stopSignalEndsGame()) return safeProcessGameState(kGameStateRelease), kExitNormal;
    if (!engineReady) {
        engineLog().error("Can't initialize engine resources");
        safeProcessGameState(kGameStateReleaseAfterFailure);
        return kExitEngineFailure;
    }
    if (runMode && runMode->runMode == kRunModePlay) {
        engineLog().info("Play game");
        safeProcessGameState(kGameStateLoop);
    }
    // A game that ended on a failure road reports it to the caller.
    return gameState == kGameStateReleaseAfterFailure ? kExitGameFailure : kExitNormal;
}

bool GameCore::initialize() {
    Log& log = engineLog();
    if (!paths || !runMode || paths->initialize(*runMode) == kRunModeInvalid) {
        log.error("Invalid command line arguments");
        safeRelease();
        return false;
    }
    char built[1024];
    if (buildTimeText(built)) {
        log.info("%s", kDashes);
        log.info("Build from: [%s]", built);
        log.info("%s", kDashes);
        log.info("Data version base = %08X, runtime = %08X", kDataVersionBase, kDataVersionRuntime);
        log.info("%s", kDashes);
    } else {
        log.error("GAME VERSION UNDEFINED");
    }
    loadSettings();
    // The log's file lies in the user folder named after the game's title,
    // beside the saves and the setup: its lines are kept in memory until the
    // title is read from the variables, and written when it is (or when the
    // start fails before it, into the folder the executable names).
    if (!buildPackageDB())
        return log.setOutput(true), log.error("Can't initialize game file resources database"), false;
    if (!variables || !variables->initialize())
        return log.setOutput(true), log.error("Can't initialize game variables"), false;
    setGameName();
    log.setOutput(true);
    // The player's setup is read straight into the store; no save or reload
    // is left pending for the first frame.
    if (setup) setup->load(true);
    if (!video || !video->initialize()) return false;
    if (setup) setup->load(true);
    if (mainWindow) mainWindow->fullScreen = video->activeVideoSetup().windowMode == 0 ? 1 : 0;
    if (!createMainWindow()) return false;
    if (!mainWindow->open(startupArguments ? startupArguments->instance : 0))
        return log.error(" Can't open application window"), false;
    if (render) installVideoHooks(*video);
    if (!render || !render->initialize()) return log.error("render engine initialization failed"), false;
    if (!render->allocate_device()) return log.error("Fail to allocate render engine specifications data"), false;
    render->renderSplash();
    return true;
}

// The readers run in a fixed order; each reads its own sections with built-in
// defaults and creates missing keys. The language and the debug flags last.
void GameCore::loadSettings() {
    if (!settings) return;
    settings->readConfigFiles();
    readSimulationSettings(*settings);
    readCompanionFollowSettings(*settings);
    readLightRenderSettings(*settings);
    readSceneSettings(*settings);
    if (render) render->readConfig();
    Model::readConfig();
    readLightSettings(*settings);
    if (animation) animation->readDebugConfig();
    readParticleSettings(*settings);
    readSpriteSettings(*settings);
    TextureLibrary::readSettings();
    readSound3dSettings(*settings);
    readMovieSettings();
    readCameraAutoSettings(*settings);
    readCameraSettings(*settings);
    readToolsSettings(*settings);
    readExportSettings(*settings);
    ModelActionItemData::loadDefaultRanges();
    readCharacterSettings(*settings);
    readBoatSettings(*settings);
    readPVSSettings(*settings);
    if (game) game->readSettings();
    readPhysicsModelSettings(*settings);
    Y3Mesh::readConfig();
    readSoundCoreSettings(*settings);
    readCompanionSettings(*settings);
    readPathfindSettings(*settings);
    readCharacterPhysicsSettings(*settings);
    if (setup) setup->readDefaults();
    InputCore::setDefaultBindings();
    readStillFrameSettings(*settings);
    readScriptSettings(*settings);
    detectLanguage();
    readDebugFlags();
}

void GameCore::detectLanguage() {
    if (!settings || !paths) return;
    Log& log = engineLog();
    std::string value;
    if (gameSetting(*settings, "reglang", value)) {
        RegistryKey key;
        std::string language;
        if (key.open(RegistryKey::kLocalMachine, value.c_str()) && key.getString(language, "lang")) {
            paths->setPath(PathLanguage, language);
            log.info("Detected language selection from registry [%s]", language.c_str());
        }
        key.close();
    }
    if (gameSetting(*settings, "debug_lang", value)) {
        paths->setPath(PathLanguage2, value);
        log.info("Detected debug language selection in configuration file [%s]", value.c_str());
    }
    if (gameSetting(*settings, "lang", value)) {
        paths->setPath(PathLanguage, value);
        log.info("Detected language selection in configuration file [%s]", value.c_str());
    }
    // The key is created when missing; without a value the id is "undefined".
    gameSetting(*settings, "id", value);
    if (game) game->gameId = value.empty() ? "undefined" : value;
}

void GameCore::setGameName() {
    ScriptVariable* root = variables ? variables->locales().root() : nullptr;
    const char* path = "system.SF_ui_title";
    if (!root) {
        engineLog().error("\n\nCan't find script variable [%s.%s]", "locales", path);
        return;
    }
    if (!ScriptVariable::test(root, path)) return;
    ScriptVariable* node = ScriptVariable::resolvePath(root, path);
    if (!node || !paths) return;
    std::string name;
    platform::wideToNarrow(node->toWString(), kSystemCodePage, name);
    // The name becomes a folder name: characters a folder name cannot hold
    // are blanked along with the control characters.
    for (char& c : name)
        if (blankedInGameName(static_cast<unsigned char>(c))) c = ' ';
    paths->setPath(PathGameName, name);
}

bool GameCore::initializeEngine() {
    Log& log = engineLog();
    if (!initializeDataManager(lightSets)) return log.error("Can't initialize light settings data"), false;
    if (!initializeDataManager(skyData)) return log.error("Can't initialize sky settings data"), false;
    if (debugFlags & DebugResourceLog) log.info("Search for input devices");
    if (!input || !input->Initialize()) return log.error("Input devices not found"), false;
    log.info("Input devices initialized");
    if (script) installScriptClasses(*script);
    if (!script || !script->context || !openScriptEngine(*script->context))
        return log.error("Can't initialize script engine"), false;
    if (!sound || !sound->initialize()) log.error("Sound NOT initialized");
    if (!animation || !animation->initialize()) return log.error("Animation core NOT initialized"), false;
    if (!initializeDataManager(questData)) return log.error("Can't initialize quests engine"), false;
    if (!initializeDataManager(dialogs)) return log.error("Can't initialize dialogs engine"), false;
    log.info("Engine initialization done");
    log.flush();
    return true;
}

void GameCore::release() {
    Log& log = engineLog();
    log.info("Release resources...");
    traceRelease("scenes");
    if (game) game->releaseScenes();
    traceRelease("sounds");
    if (sound) sound->releaseAll();
    traceRelease("quest logic");
    if (questLogic) questLogic->clear();
    releaseDataManager(screenActions);
    releaseDataManager(waypoints);
    traceRelease("animation");
    if (animation) animation->release();
    traceRelease("render");
    if (render) {
        render->releaseDeviceData();
        render->release();
    }
    releaseDataManager(lightSets);
    releaseDataManager(skyData);
    traceRelease("physics models");
    if (physics) physics->modelData().releaseAll();
    traceRelease("input");
    if (input) input->release();
    releaseDataManager(questData);
    releaseDataManager(dialogs);
    traceRelease("script variables");
    if (variables) {
        variables->globals().release();
        variables->locales().release();
    }
    traceRelease("script engine");
    if (script) {
        script->release();
        if (script->context && script->context->position) script->context->position->source[0] = 0;
    }
    traceRelease("render device");
    if (mainLoop) mainLoop->releaseRenderData();
    traceRelease("main window");
    destroyMainWindow();
    log.info("Exit from game.");
    log.flush();
    log.closeFiles();
}
