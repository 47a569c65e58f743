// The game's scenes and loading state: the list of loaded scenes and the
// current one, the load-allowed and last-load-succeeded flags, the script
// functions that receive the loading events, the loading progress and the
// loading lock.
//
// Progress: every loader reports a stage and a fraction; the progress is the
// sum of the weights of the stages before it plus the fraction of its own
// weight, and it never falls during a load. Reports are heard by the script
// ("game.onProgress") at most once per redraw, and the loading screen is
// redrawn at most progress_max_fps times a second.
//
// Scenes: a scene once loaded stays in the list (popped) until the scenes
// are released; loading its name again re-enters it. The scene objects live
// in the object repository; the list keeps their handles only. Every load
// that opened the progress closes it once, so "game.onFinishProgress"
// always follows "game.onStartProgress". Main thread only.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "app/SaveSlot.h"
#include "resources/LoadingProgress.h"

struct lua_State;
class Scene;
class ScriptEngine;
class SceneDataManager;
class Y3SceneDataInstance;
class DataStream;
class ScriptVariable;

// Bits of SaveGame::flags.
constexpr std::uint32_t kSaveGameLoadSucceeded = 0x0001;
constexpr std::uint32_t kSaveGameLoadAllowed = 0x0002;
constexpr std::uint32_t kSaveGameProgressActive = 0x0004;

class SaveGame : public LoadingProgress {
public:
    // Registers the script class "Game" and the global "game", and lets the
    // engine's posted events open the load window.
    static void registerLua(lua_State* state, ScriptEngine& engine);

    // Installs itself as the loading state the resource loaders report to,
    // and its scene-data manager as the scenes' one.
    SaveGame();
    ~SaveGame() override;
    SaveGame(const SaveGame&) = delete;
    SaveGame& operator=(const SaveGame&) = delete;

    // A report of a load's advance; nothing happens outside a load.
    void setProgress(std::int32_t stage, float fraction) override;
    std::recursive_mutex& loadingLock() override { return loadingLock_; }

    // Open and close a load's progress ("game.onStartProgress",
    // "game.onFinishProgress").
    void startProgress();
    void finishProgress();
    // Around a re-creation of the render device.
    void startReload();
    void finishReload();
    // Sets redrawDue when more than 1 / progress_max_fps seconds passed
    // since the last redraw.
    void checkRedrawDue();
    // Keeps the loading screen alive: clocks, and when a redraw is due the
    // sound and the still-frame layer.
    void updateProgressScreen();

    // The overall progress of a report: 0 for stage 15 and above.
    static float progressTotal(std::int32_t stage, float fraction);

    // The scene at the current index, or null.
    Scene* currentScene() const;
    // Index of the loaded scene of that name (case-sensitive), or -1.
    std::int32_t findScene(const char* sceneName) const;
    // Loads a scene (null: "test") or re-enters a loaded one; success sets
    // kSaveGameLoadSucceeded.
    void loadScene(const char* sceneName);
    // The script's "load": refused outside posted script events.
    bool loadSceneFromScript(const char* sceneName);
    // Ends the game: every scene released, the globals reset. True.
    bool gameOver();
    // Deletes every scene and resets the game state; false when a listed
    // scene could not be found or the render scene could not be finalised.
    bool releaseScenes();

    // Steps shared by scene and saved-game loads.
    bool finalizeRenderScene();
    void releaseUnreferencedData();
    bool initializeLoadedData();
    bool restoreAfterLoad();
    // The end of a saved-game load: false when the restore failed.
    bool afterGameLoad();

    // The scene-data records (one per scene name).
    SceneDataManager& sceneData() { return *sceneData_; }

    // Save files. A slot name is a plain file name (no separator, no "..");
    // the file is "<user folder>\save\<slot>.jpg". A save is written to a
    // temporary file that then replaces the slot, so a failed save leaves
    // the previous one whole. displayName null: the slot name is shown.
    bool saveToFile(const char* slotName, ScriptVariable* displayName = nullptr);
    // Loads a slot, or the file when the text names an existing file; the
    // result is kSaveGameLoadSucceeded. restore runs it under a crash guard.
    void loadSavedGame(const char* nameOrPath);
    void restore(const char* nameOrPath);
    // Renders the current frame into image at the screenshot size; false
    // when the rendering fails.
    bool saveScreenShot(TgaImage& image, bool flag);
    // Drops the held screenshot and renders a new one.
    bool buildScreenShot();
    // The parts of the file around the game data: bytes written or read, or
    // -1. readFooter checks the file and replaces the header's display name
    // by the stored one when the footer carries it.
    static std::int32_t writeHeader(DataStream& stream, SaveHeader& header);
    static std::int32_t writeFooter(DataStream& stream, const SaveHeader& header);
    static bool readFooter(DataStream& stream, SaveHeader& header);
    static std::int32_t readHeader(DataStream& stream, SaveHeader& header);
    // The save game's own block of the game data.
    std::int32_t write(DataStream& stream);
    // apply false only checks the block, changing nothing; sceneList then
    // receives the saved scene handles and current the saved index.
    std::int32_t read(DataStream& stream, bool apply = true, std::vector<std::uint32_t>* sceneList = nullptr,
                      std::int32_t* current = nullptr);

    // Save slots, listed from the user's and the data folder's save folders.
    bool buildSlotList();
    std::int32_t slotCount() const { return static_cast<std::int32_t>(slots.size()); }
    // "INVALID INDEX" for an index outside the list.
    std::string slotName(std::int32_t index);
    bool slotId(std::int32_t index, ScriptVariable* variable);
    bool slotDate(std::int32_t index, ScriptVariable* variable);
    bool slotTime(std::int32_t index, ScriptVariable* variable);
    bool slotMap(std::int32_t index, std::int32_t textureSlot);
    bool deleteSave(const char* slotName);
    // Adds the valid save files of a folder to the list, sorted by file time
    // then name; a name already listed is skipped. False when the folder
    // cannot be read.
    bool scanSaveSlots(std::vector<SaveSlot>& list, const std::string& folder);
    // Loads a slot's screenshot into the thumbnail texture of that slot.
    bool mapSlotImage(SaveSlot& slot, std::int32_t textureSlot);

    // Section "game" of the settings.
    void readSettings();
    // Values of the tools settings file ("tools.ini").
    std::string readToolsVar(const char* section, const char* key, const char* defaultValue);
    bool writeToolsVar(const char* section, const char* key, const char* value);

    std::uint32_t flags = 0;
    double lastRedrawTime = 0.0;
    // Repository handles of the loaded scenes.
    std::vector<std::uint32_t> scenes;
    std::int32_t currentIndex = -1;
    std::string name = "y3";
    std::string scene = "mainmenu";
    std::string model;
    std::string save_file;
    std::string onProgress;
    std::string onStartProgress;
    std::string onInitialize;
    std::string onFinishProgress;
    std::string onStartReload;
    std::string onFinishReload;
    float progress = 0.0f;  // -1 outside a load
    std::uint8_t loading = 0;
    double gameTime = 0.0;
    std::uint8_t redrawDue = 0;
    // The screenshot "buildScreenShot" made; empty until then.
    TgaImage screenshot;
    // What the last "dir_build" found.
    std::vector<SaveSlot> slots;
    // Settings of section "game"; a text without a value is empty with its
    // has-flag false.
    std::string startQuest, publisher, intro, outro;
    bool hasStartQuest = false, hasPublisher = false, hasIntro = false, hasOutro = false;
    std::int32_t screenshotWidth = 320;
    std::int32_t screenshotHeight = 240;
    // The game id: key "id" of section "game", taken at start.
    std::string gameId = "undefined";

protected:
    // Makes a new scene from its record (SceneContext::createScene).
    virtual Scene* createScene(Y3SceneDataInstance* record);

private:
    // Runs the handler of an event, or logs missing when it is empty.
    void raiseEvent(const std::string& handler, const char* missing);
    // Pushes the scene that was current before a failed load, and gives the
    // sound core the scene current now.
    void restorePrevious(std::int32_t previousIndex);

    std::recursive_mutex loadingLock_;
    std::unique_ptr<SceneDataManager> sceneData_;
};
