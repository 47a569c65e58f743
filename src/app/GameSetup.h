// The player's video, sound and control options: the options in force and
// the copy the setup screens edit, read from and written to the settings
// store whose file is "setup.ini" in the user folder, and pushed into the
// video, sound and input cores.
//
// Main thread only. Every operation works with whatever cores the game-core
// record holds; a missing core is skipped.
#pragma once

#include <cstdint>

#include "render/VideoSetup.h"
#include "sound/SoundCore.h"

struct lua_State;
class ScriptEngine;

// One set of options. The video and sound blocks are copied word for word
// into and out of the video and sound cores' own setup records.
struct SetupOptions {
    // 1: the video device must be reset; 2: some video option changed.
    std::uint32_t changeFlags = 0;
    VideoSetup video;
    SoundVolumes sound;
    float mouseSensitivity = 50.0f;   // percent 0..100
    float cameraSensitivity = 50.0f;  // percent 0..100
    std::uint8_t invertCamera = 0;
    std::uint8_t subtitles = 1;
    std::int32_t crosshairIndex = 0;
    float crosshairAlpha = 1.0f;
    float crosshairSize = 0.5f;
    std::uint8_t autorun = 1;
};

constexpr std::uint32_t kSetupChangeReset = 1;
constexpr std::uint32_t kSetupChangeVideo = 2;

// Parts of a record that resetDefaults resets.
constexpr std::uint32_t kSetupResetVideo = 1u << 21;
constexpr std::uint32_t kSetupResetSound = 1u << 22;
constexpr std::uint32_t kSetupResetControls = 1u << 23;
constexpr std::uint32_t kSetupResetKeys = 1u << 24;
constexpr std::uint32_t kSetupResetAll = kSetupResetVideo | kSetupResetSound | kSetupResetControls | kSetupResetKeys;

// The built-in control defaults (section "setup-defaults").
struct SetupDefaults {
    float mouseSense = 50.0f;
    float cameraSense = 50.0f;
    bool invertCamera = false;
    bool showSubtitles = true;
    std::int32_t crosshairIndex = 0;
    float crosshairAlpha = 1.0f;
    float crosshairSize = 0.5f;
    bool autorun = true;
};

// Sensitivity (percent) to input speed and back, both axes alike.
float mouseSpeedFromSensitivity(float percent);
float mouseSensitivityFromSpeed(float speed);
float cameraSpeedFromSensitivity(float percent);
float cameraSensitivityFromSpeed(float speed);

class GameSetup {
public:
    GameSetup() = default;
    GameSetup(const GameSetup&) = delete;
    GameSetup& operator=(const GameSetup&) = delete;

    // Reads the control defaults; missing keys are created fixed, so the
    // setup file never carries them. A value that is no number, or a
    // sensitivity outside 0..100, keeps the built-in default.
    void readDefaults();
    // Fills a record from the store: video block, sound block, then the
    // control keys. An empty key leaves its field; a value out of range
    // (text that is no number among them) is reported and leaves it too.
    bool readIni(SetupOptions& record);
    // Writes a record into the store and leaves a save pending; the file
    // itself is written by the store's next synchronisation.
    bool writeIni(const SetupOptions& record);
    // Resets the parts of a record that the mask selects (kSetupReset*).
    void resetDefaults(SetupOptions& record, std::uint32_t mask);
    // The start-up load: defaults, then every value of "setup.ini" read
    // again at once, into both records; then pushed directly into the cores
    // (direct) or through the full apply.
    bool load(bool direct);

    // Record to cores and back: video block, sound block, sensitivities and
    // invert flag. No device work.
    void pushDirect(const SetupOptions& record);
    void pullFromCores(SetupOptions& record);

    // Compares the applied and edited video blocks, sets the edited
    // record's change flags, pushes gamma and sound; true when nothing of
    // the video changed.
    bool compareVideo();
    // Gamma and sound push, then the sound core takes the volumes.
    bool pushEdited();
    // Gamma and sound push, then the edited sensitivities go to input.
    bool pushInput();
    // Gamma and sound push, so the screen previews the edited gamma.
    bool pushPreview();
    // Applies the edited options, makes them the applied ones and writes
    // "setup.ini" now. True when no video option changed.
    bool apply();
    // Back to the applied options, re-applied and written.
    bool cancel();
    // Both records from the cores.
    void init();

    // Registers the script class "GameSetup" with its SETUP_SHADOWS values
    // and the global "setup" in the Lua state.
    static void initialize(lua_State* state, ScriptEngine& engine);

    SetupOptions applied;
    SetupOptions edited;
    SetupDefaults defaults;

private:
    void pushGammaAndSound();
};
