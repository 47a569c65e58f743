#include "app/GameCore.h"

#include "foundation/IniFile.h"
#include "foundation/Log.h"
#include "foundation/TimeCore.h"

// Constant-initialised: every pointer is null before any constructor runs.
GameCore gameCore;

namespace {

struct DebugKey {
    const char* key;
    bool defaultValue;
    std::uint32_t bit;
};

// Read in this order; each missing key is created with its default.
const DebugKey kDebugKeys[] = {
    {"input_log", false, DebugInputLog},
    {"resource_log", false, DebugResourceLog},
    {"script_call_log", true, DebugScriptCallLog},
    {"quest_log", true, DebugQuestLog},
    {"enable_script_msg", true, DebugEnableScriptMsg},
    {"enable_script_debug_msg", false, DebugEnableScriptDebugMsg},
    {"enable_script_log_msg", true, DebugEnableScriptLogMsg},
    {"character_animator_log", false, DebugCharacterAnimatorLog},
    {"triggers_log", true, DebugTriggersLog},
    {"camera_log", true, DebugCameraLog},
    {"actions_log", true, DebugActionsLog},
    {"controller_log", true, DebugControllerLog},
    {"physics_log", false, DebugPhysicsLog},
    {"sound_log", false, DebugSoundLog},
    {"animation_event", false, DebugAnimationEvent},
};

}  // namespace

void GameCore::readDebugFlags() {
    debugFlags = 0;
    if (!settings) return;
    IniCategory& section = settings->getCategory("debug");
    for (const DebugKey& entry : kDebugKeys) {
        bool on = entry.defaultValue;
        section.getVariable(entry.key).getBool(on, entry.defaultValue);
        if (on) {
            debugFlags |= entry.bit;
            engineLog().message("Enabled flag [%s] %s.", "debug", entry.key);
        } else {
            debugFlags &= ~entry.bit;
        }
    }
}

void GameCore::pause(bool on) {
    engineLog().scriptInfo("Pause [%s]", on ? "ON" : "OFF");
    const bool paused = (flags & kGameFlagPaused) != 0;
    if (paused == on) return;
    if (on)
        flags |= kGameFlagPaused;
    else
        flags &= ~kGameFlagPaused;
    if (clocks) clocks->gameTime.paused = on ? 1 : 0;
}
