// Helpers of the save-file and save-slot code and of the game's script
// class; included by nothing else.
#pragma once

#include <cstring>
#include <string>
#include <string_view>

#include "app/GameCore.h"
#include "foundation/AppPaths.h"
#include "foundation/TimeCore.h"
#include "input/InputCore.h"

namespace save_local {

// The saved texts of the save game's block (scene, progress handlers) are
// read back into buffers of 2,048 bytes: at most this long.
constexpr std::size_t kMaxSavedText = 2047;

// A slot name must stay inside the save folder: not empty, no path
// separator, no drive colon and no "..".
inline bool isPlainSlotName(std::string_view name) {
    if (name.empty()) return false;
    if (name.find_first_of("\\/:") != std::string_view::npos) return false;
    return name.find("..") == std::string_view::npos;
}

// Stores the slot name as the save name of the paths and gives the derived
// file in the user's save folder; empty without paths.
inline std::string userSavePath(const char* slotName) {
    if (!gameCore.paths) return {};
    gameCore.paths->setPath(PathSaveName, slotName);
    return gameCore.paths->get(PathUserSaveFile);
}

// Drops the pending input before a save or a delete: the devices are read
// out and the view smoothing restarts with the given time sample.
inline void flushInput(const CurrentTime& sample) {
    if (!gameCore.input) return;
    gameCore.input->flushDevices(sample);
    gameCore.input->resetView(sample);
    // No press that began before the save goes on after it.
    gameCore.input->virtualDevices.virtualButton.clearValues();
}

}  // namespace save_local
