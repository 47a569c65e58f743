
#include <cmath>
#include <cstdint>
#include <string>

#include <lua.hpp>
#include <luabind/luabind.hpp>

#include "app/GameCore.h"
#include "app/GameSetup.h"
#include "foundation/Log.h"
#include "render/VideoCore.h"
#include "script/ScriptBinding.h"

namespace {

// "GameSetup": the game core's setup, found again at every call. Scripts
// read and write the edited options only; indices shown to scripts are the
// stored ones + 1.
struct SetupHandle {
    lua_State* state = nullptr;
};

GameSetup& setup() { return requireScriptObject(gameCore.setup, "GameSetup"); }
SetupOptions& edited() { return setup().edited; }
VideoSetup& video() { return setup().edited.video; }

const char* setupClassof(const SetupHandle&) { return "GameSetup"; }

// ---- Whole-record operations

void setupInit(const SetupHandle&) { setup().init(); }
bool setupCancel(const SetupHandle&) { return setup().cancel(); }
bool setupApply(const SetupHandle&) { return setup().apply(); }

template <std::uint32_t Mask>
void setupDefault(const SetupHandle&) {
    GameSetup& s = setup();
    s.resetDefaults(s.edited, Mask);
    s.pushPreview();
}

// ---- Resolutions

std::int32_t resolutionCount() {
    return gameCore.video ? static_cast<std::int32_t>(gameCore.video->resolutions.size()) : 0;
}

std::int32_t resCount(const SetupHandle&) { return resolutionCount(); }

std::string resName(const SetupHandle&, std::int32_t index) {
    if (index < 1 || index > resolutionCount()) {
        engineLog().error("INVALID_INDEX");
        return "INVALID_INDEX";
    }
    const char* label = gameCore.video->resolutions[static_cast<std::size_t>(index - 1)].label;
    engineLog().info("resolution %i = %s", index, label);
    return label;
}

std::int32_t resIndex(const SetupHandle&) { return video().findResolutionIndex() + 1; }
bool setResIndex(const SetupHandle&, std::int32_t index) { return video().setResolution(index - 1); }

// ---- Indices, flags and values

// Stores index - 1 when index is 1..count; otherwise logs and changes nothing.
bool storeIndex(std::int32_t& field, std::int32_t index, std::int32_t count, const char* message) {
    if (index < 1 || index > count) return engineLog().error("%s", message);
    field = index - 1;
    return true;
}

template <std::int32_t VideoSetup::*Field>
std::int32_t getIndex(const SetupHandle&) {
    return video().*Field + 1;
}

#define SETUP_INDEX_SETTER(name, field, count, message)                          \
    bool name(const SetupHandle&, std::int32_t index) {                          \
        return storeIndex(video().*(&VideoSetup::field), index, count, message); \
    }
SETUP_INDEX_SETTER(setAa, aa, 4, "Invalid aa index")
SETUP_INDEX_SETTER(setAniso, texture, 3, "Invalid Aniso index")
SETUP_INDEX_SETTER(setFreq, frequency, 8, "Invalid vfreq index")
SETUP_INDEX_SETTER(setDetails, details, 3, "Invalid details index")
SETUP_INDEX_SETTER(setTexture, quality, 3, "Invalid texture quality index")
SETUP_INDEX_SETTER(setNMap, nmap, 3, "Invalid nmap quality index")
SETUP_INDEX_SETTER(setWater, water, 3, "Invalid water quality index")
#undef SETUP_INDEX_SETTER

// A flag word: set is 1.
template <std::int32_t VideoSetup::*Field>
bool getFlag(const SetupHandle&) {
    return video().*Field == 1;
}
template <std::int32_t VideoSetup::*Field>
bool setFlag(const SetupHandle&, bool flag) {
    video().*Field = flag ? 1 : 0;
    return flag;
}

bool getVSync(const SetupHandle&) { return video().vSync != VideoSyncDefault; }
bool setVSync(const SetupHandle&, bool on) {
    video().vSync = on ? VideoSyncOne : VideoSyncDefault;
    return on;
}

float getGamma(const SetupHandle&) { return video().gamma * 100.0f + 50.0f; }
float setGamma(const SetupHandle& handle, float percent) {
    video().gamma = percent * 0.01f - 0.5f;
    setup().pushPreview();
    return getGamma(handle);
}

std::int32_t maxFreq(const SetupHandle&) { return 8; }
std::int32_t maxDetails(const SetupHandle&) { return !gameCore.video || gameCore.video->detailsLimit == 0 ? 2 : 0; }

bool getReflection(const SetupHandle&) { return video().waterReflection != 0; }
bool setReflection(const SetupHandle&, bool flag) {
    video().waterReflection = flag ? 1 : 0;
    return flag;
}

std::int32_t getShadows(const SetupHandle&) { return video().shadows; }
// Only the three SETUP_SHADOWS values are taken: any other would reach the
// shadow code and the setup file as a mode that does not exist.
luabind::object setShadows(const SetupHandle& handle, std::int32_t mode) {
    if (mode < 0 || mode > 2) {
        engineLog().error("Invalid shadows mode %i", mode);
        return luabind::object(handle.state, false);
    }
    video().shadows = mode;
    return luabind::object(handle.state, mode);
}

// ---- Volumes: channel 0 master, 1..5 the channels; percent of the setup volume.

float* volumeWord(SetupOptions& options, std::int32_t channel) {
    if (channel == 0) return &options.sound.master.setup;
    return &options.sound.channels[channel - 1].setup;
}

float getVolume(const SetupHandle&, std::int32_t channel) {
    if (channel < 0 || channel > 5) {
        engineLog().error("Invalid sound channel index %i", channel);
        return 0.0f;
    }
    return *volumeWord(edited(), channel) * 100.0f;
}

bool setVolume(const SetupHandle&, std::int32_t channel, float percent) {
    if (channel < 0 || channel > 5)
        return engineLog().error("Invalid channel index [%i], but range is 0..%i", channel, 5);
    // A volume outside 0..100 % would reach the sound core at once and be
    // refused by the next read of the setup file.
    if (!(percent >= 0.0f && percent <= 100.0f)) return engineLog().error("Invalid percent range");
    GameSetup& s = setup();
    float& word = *volumeWord(s.edited, channel);
    const float old = word;
    word = percent * 0.01f;
    // Small steps of a slider are not pushed: the sound core takes the
    // volumes when the change is audible.
    if (std::fabs(word - old) > 0.005f) s.pushEdited();
    return true;
}

// ---- Controls

template <float SetupOptions::*Field>
float getPercent(const SetupHandle&) {
    return edited().*Field;
}
template <float SetupOptions::*Field>
luabind::object setPercent(const SetupHandle& handle, float percent) {
    if (!(percent >= 0.0f && percent <= 100.0f)) {
        engineLog().error("Invalid percent range");
        return luabind::object(handle.state, false);
    }
    edited().*Field = percent;
    return luabind::object(handle.state, percent);
}

template <std::uint8_t SetupOptions::*Field>
bool getByteFlag(const SetupHandle&) {
    return edited().*Field != 0;
}
template <std::uint8_t SetupOptions::*Field>
bool setByteFlag(const SetupHandle&, bool flag) {
    edited().*Field = flag ? 1 : 0;
    return flag;
}

std::int32_t getCrosshair(const SetupHandle&) { return edited().crosshairIndex; }
std::int32_t setCrosshair(const SetupHandle&, std::int32_t index) {
    edited().crosshairIndex = index;
    return index;
}

// Cut toward zero, kept within the integer range.
std::int32_t getCrosshairTransparency(const SetupHandle&) {
    const double alpha = std::trunc(static_cast<double>(edited().crosshairAlpha));
    if (!(alpha > -2147483648.0)) return INT32_MIN;
    if (alpha > 2147483647.0) return INT32_MAX;
    return static_cast<std::int32_t>(alpha);
}
std::int32_t setCrosshairTransparency(const SetupHandle&, std::int32_t value) {
    edited().crosshairAlpha = static_cast<float>(value);
    return value;
}

}  // namespace

void GameSetup::initialize(lua_State* state, ScriptEngine&) {
    using namespace luabind;
    module(state)[(
        class_<SetupHandle>("GameSetup")
            .def("classof", &setupClassof)
            .enum_("SETUP_SHADOWS")[(value("ShadowDisable", 0), value("ShadowEnable", 1), value("ShadowSoft", 2))]
            .def("init", &setupInit)
            .def("cancel", &setupCancel)
            .def("default", &setupDefault<kSetupResetAll>)
            .def("default_keys", &setupDefault<kSetupResetKeys>)
            .def("default_video", &setupDefault<kSetupResetVideo>)
            .def("default_sound", &setupDefault<kSetupResetSound>)
            .def("default_game", &setupDefault<kSetupResetControls>)
            .def("apply", &setupApply)
            .def("VResCount", &resCount)
            .def("VResName", &resName)
            .def("VResIndex", &resIndex)
            .def("setVResIndex", &setResIndex)
            .def("VDepth", &getFlag<&VideoSetup::bits>)
            .def("VDeph", &getFlag<&VideoSetup::bits>)
            .def("setVDepth", &setFlag<&VideoSetup::bits>)
            .def("setVDeph", &setFlag<&VideoSetup::bits>)
            .def("GDepth", &getFlag<&VideoSetup::pp_depth>)
            .def("GDeph", &getFlag<&VideoSetup::pp_depth>)
            .def("setGDepth", &setFlag<&VideoSetup::pp_depth>)
            .def("setGDeph", &setFlag<&VideoSetup::pp_depth>)
            .def("VSync", &getVSync)
            .def("setVSync", &setVSync)
            .def("VAA", &getIndex<&VideoSetup::aa>)
            .def("setVAA", &setAa)
            .def("VAniso", &getIndex<&VideoSetup::texture>)
            .def("setVAniso", &setAniso)
            .def("VGamma", &getGamma)
            .def("setVGamma", &setGamma)
            .def("VFreq", &getIndex<&VideoSetup::frequency>)
            .def("setVFreq", &setFreq)
            .def("maxVFreq", &maxFreq)
            .def("GDetails", &getIndex<&VideoSetup::details>)
            .def("setGDetails", &setDetails)
            .def("maxGDetails", &maxDetails)
            .def("GTexture", &getIndex<&VideoSetup::quality>)
            .def("setGTexture", &setTexture)
            .def("GNMap", &getIndex<&VideoSetup::nmap>)
            .def("setGNMap", &setNMap)
            .def("GWater", &getIndex<&VideoSetup::water>)
            .def("setGWater", &setWater)
            .def("GReflection", &getReflection)
            .def("setGReflection", &setReflection)
            .def("GShadows", &getShadows)
            .def("setGShadows", &setShadows)
            .def("GBloom", &getFlag<&VideoSetup::pp_bloom>)
            .def("setGBloom", &setFlag<&VideoSetup::pp_bloom>)
            .def("volume", &getVolume)
            .def("setVolume", &setVolume)
            .def("mouse", &getPercent<&SetupOptions::mouseSensitivity>)
            .def("setMouse", &setPercent<&SetupOptions::mouseSensitivity>)
            .def("camera", &getPercent<&SetupOptions::cameraSensitivity>)
            .def("setCamera", &setPercent<&SetupOptions::cameraSensitivity>)
            .def("invertCamera", &getByteFlag<&SetupOptions::invertCamera>)
            .def("setInvertCamera", &setByteFlag<&SetupOptions::invertCamera>)
            .def("subtitles", &getByteFlag<&SetupOptions::subtitles>)
            .def("setSubtitles", &setByteFlag<&SetupOptions::subtitles>)
            .def("crosshair", &getCrosshair)
            .def("setCrosshair", &setCrosshair)
            .def("crosshairTransparency", &getCrosshairTransparency)
            .def("setCrosshairTransparency", &setCrosshairTransparency))];
    globals(state)["setup"] = SetupHandle{state};
}
