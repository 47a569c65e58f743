// Every folder and file path of the system, in one table of text slots.
//
// Slots 0-38 are inputs (executable, data root, user folder, language, save
// name, names set by the package database); slots 39-126 are derived from
// them and rebuilt whenever an input changes. Input slots are lower-cased by
// every rebuild. The data root holds "data.txt"; the data folder (slot 26)
// is the executable's folder and holds the INI files and loose data.
#pragma once

#include <array>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "foundation/Log.h"

enum PathSlot : int {
    PathExeName = 0,
    PathDataRootInput = 1,
    PathExeFolderInput = 2,
    PathAppData = 3,
    PathGameName = 4,
    PathExportGroup = 6,
    PathExportModel = 7,
    PathExportAnimation = 8,
    PathExportScene = 9,
    PathShaderCacheName = 10,
    PathShaderLogName = 11,
    PathProject = 17,
    PathVariableDumpName = 19,
    PathLanguage = 20,
    PathLanguage2 = 21,
    PathSaveName = 22,
    PathPackageLanguage = 24,
    PathExeFolder2 = 25,
    PathDataFolderInput = 26,
    PathPackageBase = 27,
    PathDrive = 28,
    PathStartTime = 38,
    PathFirstDerived = 39,
    PathDataRoot = 39,
    PathExeFolder = 40,
    PathUserFolder = 41,
    PathRulesFile = 42,
    PathPackageFolder = 44,
    PathTextureDefault = 62,
    PathTextureLocales = 63,
    PathScripts = 70,
    PathTextRoot = 71,
    PathGlobals = 72,
    PathLocales = 73,
    PathLocales2 = 74,
    PathSetupIni = 86,
    PathGameIni = 87,
    PathUserIni = 88,
    PathToolsIni = 89,
    PathSurfaceIni = 90,
    PathFontIni = 91,
    PathDataSaveFolder = 92,
    PathDataSaveFile = 93,
    PathUserSaveFolder = 94,
    PathUserSaveFile = 95,
    PathExecutable = 97,
    PathLogFile = 99,
    PathShaderCacheFile = 117,
    PathVariableDumpFolder = 122,
    PathVariableDumpFile = 123,
    PathSlotCount = 127,
};

// The run-mode record of the game core: 10 is play, the only mode of this
// system; 17 means the executable's name could not be read.
struct RunModeRecord {
    std::vector<void*> items;
    std::uint32_t flags = 0;
    std::int32_t runMode = 0;
};

constexpr std::int32_t kRunModePlay = 10;
constexpr std::int32_t kRunModeInvalid = 17;

class FilePath;

class AppPaths {
public:
    static constexpr std::size_t kSlotSize = 1024;

    AppPaths();

    const std::string& get(int slot) const;
    // Copies at most 1,023 characters into an input slot, then rebuilds
    // (once the table was built, not when the slot keeps its text).
    void setPath(int slot, std::string_view text);
    // Sets several slots (each as setPath does) and rebuilds the table once.
    void setPaths(std::initializer_list<std::pair<int, std::string_view>> values);
    void setPathString(int slot, const FilePath& path);
    void setPathFormat(int slot, const char* format, ...) ENGINE_PRINTF(3, 4);
    // Lower-cases the input slots and rebuilds every derived slot in order.
    void build();

    // While one is held, input slots take their texts (lower-cased, as a
    // rebuild would leave them) without a rebuild; the table is rebuilt once
    // when the last one ends, if a slot changed meanwhile. For a run of
    // changes that reads no derived slot (the package database's build).
    class BatchedBuild {
    public:
        explicit BatchedBuild(AppPaths& paths) : paths_(paths) { ++paths_.batches_; }
        ~BatchedBuild() {
            if (--paths_.batches_ == 0 && paths_.pending_) paths_.build();
        }
        BatchedBuild(const BatchedBuild&) = delete;
        BatchedBuild& operator=(const BatchedBuild&) = delete;

    private:
        AppPaths& paths_;
    };

    // Fills the input slots from the executable's location; returns the run
    // mode (10, or 17 when the executable's name cannot be read).
    std::int32_t initialize(RunModeRecord& runMode);

    // Host override of the executable path, for tests.
    static void setExecutablePathForTesting(std::string path);

private:
    std::array<std::string, PathSlotCount> slots_;
    bool built_ = false;
    // Open batches, and whether a slot changed during them.
    int batches_ = 0;
    bool pending_ = false;
};
