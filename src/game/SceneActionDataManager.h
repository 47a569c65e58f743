// The screen actions of the scenes (clickable regions of the screens), one
// record per scene, loaded when first asked for, and each scene's holder of
// its record: the selected screen, the editing state and the hit test under
// the cursor.
#pragma once

#include <cstdint>

#include "game/Y3SceneActionData.h"
#include "resources/DataManager.h"
#include "resources/LoadingProgress.h"

class DataStream;
class Scene;
class SceneActionDataManager;
struct DataManagerInfo;

// Bits of SceneScreenActions::state.
constexpr std::uint32_t kScreenActionsPushed = 0x2;
constexpr std::uint32_t kScreenActionsShown = 0x4;
constexpr std::uint32_t kScreenActionsDrawSet = 0x8;
constexpr std::uint32_t kScreenActionsDrawClear = 0x10;

// A scene's use of its screen-actions record.
class SceneScreenActions : public ResourceUser {
public:
    SceneScreenActions(Scene* owner, Y3SceneActionData* record) : owner(owner), record(record) {}

    const char* resourceUserName() const override;
    bool resourcePushed() const override { return (state & kScreenActionsPushed) != 0; }
    void setResourcePushed(bool pushed) override {
        state = pushed ? (state | kScreenActionsPushed) : (state & ~kScreenActionsPushed);
    }

    // The record's data, its header loaded when needed; null when it cannot
    // be had.
    SceneActionData* data() const;
    // The selected screen, or null (an empty selection silently; otherwise
    // logged).
    ActionScreen* currentScreen() const;
    // Selects a screen by name (null or empty: none); false (logged) when
    // the data cannot be had or holds no such screen.
    bool selectScreen(const char* name);
    // Part of the scene's save record: the selected name (u16 length and
    // bytes), the state, the cursor and the two values (second first).
    // Reading refuses a name longer than its field and clears the pushed
    // bit.
    std::int32_t write(DataStream& stream) const;
    std::int32_t read(DataStream& stream);

    char selected[128] = {};
    Scene* owner;
    Y3SceneActionData* record;
    std::uint32_t state = 0;
    std::int32_t cursor = 0;
    std::int32_t values[2] = {-1, -1};
};

// The action of the screen at cell (x, y): the highest order of the enabled
// actions whose cell is set (equal orders to the later name), or -1.
std::int32_t screenActionAt(const ActionScreen& screen, std::int32_t x, std::int32_t y);
// Whether the action is live: its quest object's action number is not
// negative and, for "spr:" actions, its element of the screen's sprite is
// shown (logged when the sprite lacks it).
bool screenActionEnabled(const ScreenAction& action);

class SceneActionDataManager
    : public DataManager,
      public Y3ResourceManager<Y3SceneActionData, kProgressNoReportStage, kProgressNoReportStage> {
public:
    SceneActionDataManager();
    ~SceneActionDataManager() override;

    const char* sourceExtension() const override;
    const char* compiledExtension() const override;
    std::int32_t typeNumber() const override;
    const char* title() const override;
    const char* secondText() const override;
    // Records are made on request: -1.
    std::int32_t readResource(DataStream& stream, const char* name, std::int32_t flag) override;
    // Writes the named resource's compiled data: bytes, or -1 (logged).
    std::int32_t exportResource(const char* name, DataStream& stream) override;
    // Reads the source and serialises it; the store is refused in the game
    // before the destination is touched (logged, false).
    bool compileFromSource(const char* sourcePath) override;
    bool initialize() override { return true; }
    void release() override { releaseAll(); }

    // A scene's holder of the record (logged when the record is missing
    // from the packages; made all the same). Push and pop add the holder to
    // and remove it from the record's users.
    static SceneScreenActions* create(Scene* owner, Y3SceneActionData* record);
    static bool push(SceneScreenActions& holder);
    static bool pop(SceneScreenActions& holder);

    // The record's data, its header loaded when needed; null when it cannot
    // be had.
    SceneActionData* dataOf(Y3SceneActionData* record);

private:
    const DataManagerInfo* info_;
};
