#include "render/VideoSetup.h"

#include <cstdio>
#include <iterator>
#include <string>

#include "app/GameCore.h"
#include "foundation/IniFile.h"
#include "foundation/Log.h"
#include "foundation/StringHelper.h"
#include "render/VideoCore.h"

namespace {

const char* const kBits[] = {"16", "32"};
const char* const kAa[] = {"none", "2x", "4x", "8x"};
const char* const kDetails[] = {"minimum", "normal", "high"};
const char* const kTexture[] = {"min", "normal", "max"};
const char* const kVSync[] = {"None", "Default", "one", "two", "three", "four"};
const char* const kLowNormalHigh[] = {"low", "normal", "high"};
const char* const kNoYes[] = {"no", "yes"};
const char* const kShadows[] = {"no", "yes", "soft"};
const char* const kFrequency[] = {"AUTO", "50", "60", "65", "70", "75", "85", "100"};
const char* const kSprite[] = {"minimum", "low", "normal"};

struct OptionKey {
    const char* key;
    std::int32_t VideoSetup::*field;
    const char* const* names;
    std::int32_t count;
    const char* description;
};

// In the order the section is written.
const OptionKey kOptions[] = {
    {"bits", &VideoSetup::bits, kBits, 2, "Change depth buffer precision (old PC support purpose)"},
    {"aa", &VideoSetup::aa, kAa, 4, "Select fullscreen anti aliasing power"},
    {"details", &VideoSetup::details, kDetails, 3, "Change graphic details"},
    {"texture", &VideoSetup::texture, kTexture, 3, "Change texture filtering power (anisotropy)"},
    {"vSync", &VideoSetup::vSync, kVSync, 6, "Select video synchronization type"},
    {"nmap", &VideoSetup::nmap, kLowNormalHigh, 3, "Normal maps texture quality"},
    {"water", &VideoSetup::water, kLowNormalHigh, 3, "Choise water shader quality"},
    {"waterReflection", &VideoSetup::waterReflection, kNoYes, 2, "Enable real-time water reflection"},
    {"quality", &VideoSetup::quality, kLowNormalHigh, 3, "Select main textures quality"},
    {"shadows", &VideoSetup::shadows, kShadows, 3, "Shadows type"},
    {"frequency", &VideoSetup::frequency, kFrequency, 8, "Choise screen refresh rate"},
    {"sprite", &VideoSetup::sprite, kSprite, 3, "Select 2D sprites quality (old video cards support purpose)"},
    {"pp_depth", &VideoSetup::pp_depth, kNoYes, 2, "Depth of field effect"},
    {"pp_bloom", &VideoSetup::pp_bloom, kNoYes, 2, "Bloom effect"},
};

IniFile* settingsStore(const char* what) {
    if (!gameCore.settings) engineLog().error("Can't %s video settings: no settings store", what);
    return gameCore.settings;
}

// Limits of the whole-number keys: no display gives a side longer than
// this, and no machine has more adapters.
constexpr std::int32_t kMaxSide = 16384;
constexpr std::int32_t kMaxAdapter = 63;

// A whole number from a key: the whole text must be a decimal number within
// floor..ceiling, else it is reported and the field kept (a size no display
// can give would make every window and device creation fail). An empty
// value keeps the field silently.
void readWhole(const IniVariable& variable, std::int32_t& field, std::int32_t floor, std::int32_t ceiling) {
    const std::string& text = variable.value();
    if (text.empty()) return;
    std::int32_t value = 0;
    if (!parseWholeNumber(text, value) || value < floor || value > ceiling) {
        engineLog().warning("Invalid value of video setting [%s]: %s", variable.name().c_str(), text.c_str());
        return;
    }
    field = value;
}

bool fixedPipelineDevice() { return gameCore.video && gameCore.video->fixedPipeline; }

}  // namespace

bool VideoSetup::readIni(const char* section) {
    IniFile* store = settingsStore("read");
    if (!store) return false;
    IniCategory& category = store->getCategory(section);

    bool window = windowMode != 0;
    category.getVariable("windowMode").getBool(window, window);
    windowMode = window ? 1 : 0;
    readWhole(category.getVariable("res_width"), res_width, 1, kMaxSide);
    readWhole(category.getVariable("res_height"), res_height, 1, kMaxSide);
    // Text that is no number, or a value outside -1..1, keeps the gamma: the
    // ramp built from it would leave the screen black.
    const IniVariable& gammaKey = category.getVariable("gamma");
    if (!gammaKey.value().empty()) {
        const float value = parseFloat(gammaKey.value().c_str());
        if (value >= -1.0f && value <= 1.0f)
            gamma = value;
        else
            engineLog().warning("Invalid value of video setting [gamma]: %s", gammaKey.value().c_str());
    }
    readWhole(category.getVariable("adapter"), adapter, 0, kMaxAdapter);

    // Option keys are read in the order they are written.
    for (const OptionKey& option : kOptions) {
        std::int32_t& field = this->*option.field;
        const std::int32_t current = field >= 0 && field < option.count ? field : 0;
        category.getVariable(option.key).getEnum(field, option.names, option.count, current);
    }

    if (fixedPipelineDevice()) {
        details = VideoDetailsMinimum;
        water = 0;
        waterReflection = 0;
        shadows = 0;
    }
    return true;
}

bool VideoSetup::writeIni(const char* section) const {
    IniFile* store = settingsStore("write");
    if (!store) return false;
    IniCategory& category = store->getCategory(section);

    IniVariable& window = category.getVariable("windowMode");
    window.setComment("In window mode game performance slightly degrade");
    window.setBool(windowMode != 0);
    category.getVariable("res_width").setFormatted("%i", res_width);
    category.getVariable("res_height").setFormatted("%i", res_height);
    IniVariable& gammaKey = category.getVariable("gamma");
    gammaKey.setComment("Change screen brightness (gamma). default value = 0, in range -1..0..1");
    gammaKey.setFormatted("%.02f", static_cast<double>(gamma));
    IniVariable& adapterKey = category.getVariable("adapter");
    adapterKey.setComment("Multiple monitor support");
    adapterKey.setFormatted("%i", adapter);

    for (const OptionKey& option : kOptions) {
        const std::int32_t value = this->*option.field;
        std::string comment = option.description;
        comment += "\nPossible values is:";
        for (std::int32_t i = 0; i < option.count; ++i) {
            char line[160];
            std::snprintf(line, sizeof(line), "\n   %s%s", i == value ? "*" : " ", option.names[i]);
            comment += line;
        }
        IniVariable& variable = category.getVariable(option.key);
        variable.setComment("%s", comment.c_str());
        // A value outside its list is written as the first name.
        variable.setString(option.names[value >= 0 && value < option.count ? value : 0]);
    }

    store->savePending = true;
    store->reloadPending = false;
    return true;
}

void VideoSetup::setDefaults() {
    engineLog().info("Get video INI defaults");
    const bool limited = gameCore.video && gameCore.video->detailsLimit != 0;
    if (fixedPipelineDevice())
        details = VideoDetailsMinimum;
    else
        details = limited ? VideoDetailsNormal : VideoDetailsHigh;
    sprite = 2;
    pp_depth = 0;
    pp_bloom = 0;
    gamma = 0.0f;
    windowMode = 0;
    aa = 0;
    shadows = 1;
    frequency = 0;
    const bool desktop = applyDesktopResolution();

    adapter = 0;
    bits = 1;
    switch (details) {
        case VideoDetailsMinimum:
            if (!desktop) {
                res_width = 800;
                res_height = 600;
            }
            vSync = VideoSyncOne;
            texture = 0;
            nmap = 0;
            water = 0;
            shadows = 0;
            quality = 0;
            waterReflection = 0;
            break;
        case VideoDetailsNormal:
            vSync = VideoSyncDefault;
            texture = 1;
            nmap = 1;
            water = 1;
            shadows = 1;
            quality = 1;
            waterReflection = 0;
            break;
        default:
            vSync = VideoSyncDefault;
            texture = 1;
            nmap = 1;
            waterReflection = 1;
            shadows = 1;
            pp_bloom = 1;
            quality = 1;
            pp_depth = 0;
            water = 2;
            break;
    }
    // Normal and high keep 1024 x 768 when the desktop size was not taken,
    // which applyDesktopResolution has already set.
}

bool VideoSetup::setResolution(std::int32_t index) {
    const VideoCore* video = gameCore.video;
    const std::int32_t count = video ? static_cast<std::int32_t>(video->resolutions.size()) : 0;
    if (index < 0 || index >= count) {
        engineLog().error("Invalid resolution index: Can't set this device resolution");
        return false;
    }
    const VideoResolution& entry = video->resolutions[static_cast<std::size_t>(index)];
    res_width = entry.width;
    res_height = entry.height;
    adapter = entry.adapter;
    return true;
}

std::int32_t VideoSetup::findResolutionIndex() {
    if (!gameCore.video) return -1;
    const std::int32_t found = gameCore.video->findResolution(res_width, res_height);
    if (found >= 0) return found;
    applyDesktopResolution();
    return gameCore.video->findResolution(res_width, res_height);
}

bool VideoSetup::applyDesktopResolution() {
    bool useDesktop = true;
    if (gameCore.settings)
        gameCore.settings->getCategory("game").getVariable("useDesktopResolution").getBool(useDesktop, true);
    if (!useDesktop || !gameCore.video) {
        res_width = 1024;
        res_height = 768;
        return false;
    }
    gameCore.video->desktopSize(res_width, res_height);
    engineLog().message("Import desktop resolution %ix%i", res_width, res_height);
    return true;
}
