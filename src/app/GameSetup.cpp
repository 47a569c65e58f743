#include "app/GameSetup.h"

#include <cfloat>

#include "app/GameCore.h"
#include "foundation/AppPaths.h"
#include "foundation/IniFile.h"
#include "foundation/Log.h"
#include "foundation/StringHelper.h"
#include "input/InputCore.h"
#include "platform/FileSystem.h"
#include "render/VideoCore.h"
#include "sound/SoundCore.h"

float mouseSpeedFromSensitivity(float percent) { return percent * 0.014f + 0.1f; }
float mouseSensitivityFromSpeed(float speed) { return (speed - 0.1f) * 71.42857f; }
float cameraSpeedFromSensitivity(float percent) { return percent * 0.004f + 0.05f; }
float cameraSensitivityFromSpeed(float speed) { return (speed - 0.05f) * 250.0f; }

namespace {

// The video core's gamma update after a gamma changed.
void videoGammaUpdate(VideoCore& video, float gamma) {
    video.videoDevice.setupFromCaps();
    video.videoDevice.buildGammaRamp(gamma);
    video.updatePostprocessing();
}

// A float key: an empty value keeps the field; text that is no number
// (parseFloat's -12345) or a value outside low..high is reported and keeps
// it as well.
void readFloat(const IniCategory& category, const IniVariable& variable, float& field, float low, float high) {
    if (variable.value().empty()) return;
    const float value = parseFloat(variable.value().c_str());
    if (value >= low && value <= high) {
        field = value;
        return;
    }
    engineLog().warning("Invalid value of setup key [%s.%s]: %s", category.name().c_str(), variable.name().c_str(),
                        variable.value().c_str());
}

// A whole number; text that is none, or too long for 32 bits, is reported
// and keeps the field.
void readInt(const IniCategory& category, const IniVariable& variable, std::int32_t& field) {
    if (variable.value().empty() || parseWholeNumber(variable.value(), field)) return;
    engineLog().warning("Invalid value of setup key [%s.%s]: %s", category.name().c_str(), variable.name().c_str(),
                        variable.value().c_str());
}

void readFlag(const IniVariable& variable, std::uint8_t& field) {
    bool flag = field != 0;
    variable.getBool(flag, flag);
    field = flag ? 1 : 0;
}

void readFlag(const IniVariable& variable, bool& field) { variable.getBool(field, field); }

// The sound thread reads the volumes: they change under the engine lock.
void setSoundVolumes(const SoundVolumes& volumes) {
    SoundCore* sound = gameCore.sound;
    if (!sound) return;
    EngineLock hold(*sound);
    sound->volumes = volumes;
}

}  // namespace

void GameSetup::readDefaults() {
    if (!gameCore.settings) return;
    IniCategory& category = gameCore.settings->getCategory("setup-defaults");
    SetupDefaults& d = defaults;
    readFloat(category, category.getVariable("mouse_sense", true), d.mouseSense, 0.0f, 100.0f);
    readFloat(category, category.getVariable("camera_sense", true), d.cameraSense, 0.0f, 100.0f);
    readFlag(category.getVariable("invert_camera", true), d.invertCamera);
    readFlag(category.getVariable("show_subtitles", true), d.showSubtitles);
    readInt(category, category.getVariable("crosshair_index", true), d.crosshairIndex);
    readFloat(category, category.getVariable("crosshair_alpha", true), d.crosshairAlpha, 0.0f, FLT_MAX);
    readFloat(category, category.getVariable("crosshair_size", true), d.crosshairSize, 0.0f, FLT_MAX);
    readFlag(category.getVariable("autorun", true), d.autorun);
}

bool GameSetup::readIni(SetupOptions& record) {
    IniFile* store = gameCore.settings;
    if (!store) return engineLog().error("Can't read setup: no settings store");
    record.video.readIni("video");
    SoundCore::readVolumes(record.sound, "sound");

    IniCategory& mouse = store->getCategory("mouse");
    IniCategory& camera = store->getCategory("camera");
    readFloat(mouse, mouse.getVariable("sense"), record.mouseSensitivity, 0.0f, 100.0f);
    readFloat(camera, camera.getVariable("sense"), record.cameraSensitivity, 0.0f, 100.0f);
    readFlag(camera.getVariable("invert_camera"), record.invertCamera);
    readFlag(store->getCategory("game").getVariable("subtitles"), record.subtitles);
    readInt(camera, camera.getVariable("crosshair"), record.crosshairIndex);
    readFloat(camera, camera.getVariable("crosshair_transparency"), record.crosshairAlpha, 0.0f, FLT_MAX);
    readFloat(camera, camera.getVariable("crosshair_size"), record.crosshairSize, 0.0f, FLT_MAX);
    readFlag(store->getCategory("controls").getVariable("autorun"), record.autorun);
    // The key bindings live in the input core's actions.
    if (InputCore* input = gameCore.input)
        for (std::int32_t i = 0; i < kInputVirtualButtonCount; ++i)
            InputCore::readActionBinding(i, input->virtualDevices.virtualButton.values[i], "keys");
    return true;
}

bool GameSetup::writeIni(const SetupOptions& record) {
    IniFile* store = gameCore.settings;
    if (!store) return engineLog().error("Can't write setup: no settings store");
    record.video.writeIni("video");
    SoundCore::writeVolumes(record.sound, "sound");

    // The setters leave fixed variables (set by game.ini or user.ini) alone.
    IniCategory& camera = store->getCategory("camera");
    store->getCategory("mouse").getVariable("sense").setFormatted("%.02f", static_cast<double>(record.mouseSensitivity));
    camera.getVariable("sense").setFormatted("%.02f", static_cast<double>(record.cameraSensitivity));
    camera.getVariable("invert_camera").setBool(record.invertCamera != 0);
    store->getCategory("game").getVariable("subtitles").setBool(record.subtitles != 0);
    camera.getVariable("crosshair").setFormatted("%i", record.crosshairIndex);
    camera.getVariable("crosshair_transparency").setFormatted("%.02f", static_cast<double>(record.crosshairAlpha));
    camera.getVariable("crosshair_size").setFormatted("%.02f", static_cast<double>(record.crosshairSize));
    store->getCategory("controls").getVariable("autorun").setBool(record.autorun != 0);
    if (const InputCore* input = gameCore.input)
        for (std::int32_t i = 0; i < kInputVirtualButtonCount; ++i)
            InputCore::writeActionBinding(i, input->virtualDevices.virtualButton.values[i], "keys");

    store->savePending = true;
    store->reloadPending = false;
    return true;
}

void GameSetup::resetDefaults(SetupOptions& record, std::uint32_t mask) {
    if (mask & kSetupResetVideo) record.video.setDefaults();
    if (mask & kSetupResetSound) {
        // The script volumes back to full, the setup volumes to the sound
        // core's defaults; the read flag and the ambient loop's script volume
        // stay.
        const SoundVolumeDefaults preset = gameCore.sound ? gameCore.sound->defaultVolumes : SoundVolumeDefaults{};
        SoundVolumes& sound = record.sound;
        sound.master = {1.0f, preset.master};
        sound.channels[0] = {1.0f, preset.effect};
        sound.channels[1] = {1.0f, preset.voice};
        sound.channels[2] = {1.0f, preset.ambient};
        sound.channels[3].setup = preset.ambient;
        sound.channels[4] = {1.0f, preset.music};
    }
    if (mask & kSetupResetControls) {
        record.mouseSensitivity = defaults.mouseSense;
        record.cameraSensitivity = defaults.cameraSense;
        record.invertCamera = defaults.invertCamera ? 1 : 0;
        record.subtitles = defaults.showSubtitles ? 1 : 0;
        record.crosshairIndex = defaults.crosshairIndex;
        record.crosshairAlpha = defaults.crosshairAlpha;
        record.crosshairSize = defaults.crosshairSize;
        record.autorun = defaults.autorun ? 1 : 0;
    }
    // The key bindings belong to the input core's actions.
    if ((mask & kSetupResetKeys) && gameCore.input) InputCore::mapVirtualButtons(gameCore.input->virtualDevices.virtualButton);
}

bool GameSetup::load(bool direct) {
    resetDefaults(applied, kSetupResetAll);
    if (IniFile* store = gameCore.settings) {
        // Read "setup.ini" again now; on the first run there is none, and
        // nothing to report.
        store->reloadPending = gameCore.paths != nullptr &&
                               platform::pathKind(gameCore.paths->get(PathSetupIni)) == platform::PathKind::File;
        store->savePending = false;
        store->sync();
        store->reloadPending = false;
    }
    readIni(applied);
    edited = applied;
    if (direct) {
        pushDirect(applied);
        return true;
    }
    apply();
    return true;
}

void GameSetup::pushDirect(const SetupOptions& record) {
    if (gameCore.video) gameCore.video->activeVideoSetup() = record.video;
    setSoundVolumes(record.sound);
    if (InputCore* input = gameCore.input) {
        input->virtualDevices.setup.cursorSpeed[0] = input->virtualDevices.setup.cursorSpeed[1] = mouseSpeedFromSensitivity(record.mouseSensitivity);
        input->virtualDevices.setup.lookSpeed[0] = input->virtualDevices.setup.lookSpeed[1] = cameraSpeedFromSensitivity(record.cameraSensitivity);
        input->virtualDevices.setup.invertLook = record.invertCamera;
    }
}

void GameSetup::pullFromCores(SetupOptions& record) {
    if (gameCore.video) record.video = gameCore.video->activeVideoSetup();
    if (SoundCore* sound = gameCore.sound) {
        EngineLock hold(*sound);
        record.sound = sound->volumes;
    }
    if (const InputCore* input = gameCore.input) {
        record.mouseSensitivity = mouseSensitivityFromSpeed(input->virtualDevices.setup.cursorSpeed[0]);
        record.cameraSensitivity = cameraSensitivityFromSpeed(input->virtualDevices.setup.lookSpeed[0]);
        record.invertCamera = input->virtualDevices.setup.invertLook;
    }
}

void GameSetup::pushGammaAndSound() {
    if (VideoCore* video = gameCore.video) {
        video->gamma = applied.video.gamma;
        videoGammaUpdate(*video, video->gamma);
        video->requestedGamma = edited.video.gamma;
        videoGammaUpdate(*video, video->requestedGamma);
    }
    // The applied volumes, then the edited ones, which remain.
    setSoundVolumes(edited.sound);
}

bool GameSetup::compareVideo() {
    const VideoSetup& a = applied.video;
    const VideoSetup& b = edited.video;
    const bool reset = a.windowMode != b.windowMode || a.res_width != b.res_width || a.res_height != b.res_height ||
                       a.bits != b.bits || a.aa != b.aa || a.adapter != b.adapter || a.vSync != b.vSync ||
                       (a.details != b.details && (a.details == 0 || b.details == 0));
    // Anisotropy (texture) and refresh rate take no part.
    const bool changed = reset || a.nmap != b.nmap || a.quality != b.quality || a.water != b.water ||
                         a.waterReflection != b.waterReflection || a.shadows != b.shadows ||
                         a.pp_depth != b.pp_depth || a.pp_bloom != b.pp_bloom;
    edited.changeFlags &= ~(kSetupChangeReset | kSetupChangeVideo);
    if (reset) edited.changeFlags |= kSetupChangeReset;
    if (changed) edited.changeFlags |= kSetupChangeVideo;
    pushGammaAndSound();
    return !reset && !changed;
}

bool GameSetup::pushEdited() {
    pushGammaAndSound();
    if (gameCore.sound) gameCore.sound->refreshMuteAll(false);
    return true;
}

bool GameSetup::pushInput() {
    pushGammaAndSound();
    if (InputCore* input = gameCore.input) {
        input->virtualDevices.setup.cursorSpeed[0] = input->virtualDevices.setup.cursorSpeed[1] = mouseSpeedFromSensitivity(edited.mouseSensitivity);
        input->virtualDevices.setup.lookSpeed[0] = input->virtualDevices.setup.lookSpeed[1] = cameraSpeedFromSensitivity(edited.cameraSensitivity);
        input->virtualDevices.setup.invertLook = edited.invertCamera;
    }
    return true;
}

bool GameSetup::pushPreview() {
    pushGammaAndSound();
    if (gameCore.video) gameCore.video->videoDevice.setupFromCaps(false);
    return true;
}

bool GameSetup::apply() {
    const bool unchanged = compareVideo();
    const bool sound = pushEdited();
    const bool input = pushInput();
    pushPreview();
    applied = edited;
    writeIni(applied);
    if (gameCore.settings) gameCore.settings->sync();
    return unchanged && sound && input;
}

bool GameSetup::cancel() {
    edited = applied;
    pushGammaAndSound();
    return apply();
}

void GameSetup::init() {
    pullFromCores(applied);
    edited = applied;
}
