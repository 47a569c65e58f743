#include "input/InputVirtualButton.h"

#include <array>
#include <cstring>
#include <string>
#include <vector>

#include "foundation/DataStream.h"
#include "foundation/Log.h"

namespace {

constexpr InputVirtualButtonInfo kFixedActions[] = {
    {"special0", 0x00E0, "MBTN0", "JOY0"},
    {"special1", 0x0001, "MBTN1", "JOY1"},
    {"action", 0x0002, "", ""},
    {"forward", 0x0058, "KEY_W", "UpArrow"},
    {"back", 0x0018, "KEY_S", "DownArrow"},
    {"left", 0x0018, "KEY_A", "LeftArrow"},
    {"right", 0x0018, "KEY_D", "RightArrow"},
    {"jump", 0x0001, "", ""},
    {"hint", 0x0001, "SPACE", ""},
    {"switchmove", 0x0018, "LSHIFT", "JOY6"},
    {"switchstance", 0x0002, "LCONTROL", "MBTN2"},
    {"switchcamera", 0x0002, "KEY_R", "JOY7"},
    {"alwaysrun", 0x0002, "CAPSLOCK", ""},
    {"automove", 0x0002, "RCONTROL", ""},
    {"nextitem", 0x0005, "KEY_RBracket", ""},
    {"previtem", 0x0005, "KEY_LBracket", ""},
    {"scrollup", 0x0005, "PGUP", ""},
    {"scrolldown", 0x0005, "PGDN", ""},
    {"mainmenu", 0x0002, "Esc", ""},
    {"gamemenu", 0x0002, "JOY1", ""},
    {"gamemenuinventory", 0x0002, "KEY_I", "JOY5"},
    {"gamemenudialog", 0x0002, "KEY_E", ""},
    {"gamemenureports", 0x0002, "KEY_N", ""},
    {"gamemenudocuments", 0x0002, "KEY_T", ""},
    {"gamemenumaps", 0x0002, "KEY_C", ""},
    {"qsave", 0x0002, "", ""},
    {"qload", 0x0002, "", ""},
    {"pause", 0x0002, "", ""},
};
constexpr std::int32_t kFixedCount = 28;
static_assert(sizeof(kFixedActions) / sizeof(kFixedActions[0]) == kFixedCount);

// hot1..hot9 (KEY_1..KEY_9), dbg0..dbg9 (Gray0..Gray9), f1..f12 (F1..F12),
// then quit.
const std::array<InputVirtualButtonInfo, kInputVirtualButtonCount>& actionTable() {
    static const auto table = [] {
        static std::array<std::string, 2 * 31> texts;
        std::array<InputVirtualButtonInfo, kInputVirtualButtonCount> rows{};
        for (std::int32_t i = 0; i < kFixedCount; ++i) rows[i] = kFixedActions[i];
        std::int32_t id = kFixedCount;
        std::size_t text = 0;
        auto add = [&](const std::string& name, const std::string& button) {
            texts[text] = name;
            texts[text + 1] = button;
            rows[id++] = {texts[text].c_str(), 0x0002, texts[text + 1].c_str(), ""};
            text += 2;
        };
        for (int k = 1; k <= 9; ++k) add("hot" + std::to_string(k), "KEY_" + std::to_string(k));
        for (int k = 0; k <= 9; ++k) add("dbg" + std::to_string(k), "Gray" + std::to_string(k));
        for (int k = 1; k <= 12; ++k) add("f" + std::to_string(k), "F" + std::to_string(k));
        rows[id] = {"quit", 0x0000, "", ""};
        return rows;
    }();
    return table;
}

}  // namespace

const InputVirtualButtonInfo* virtualButtonTable() { return actionTable().data(); }

std::int32_t findVirtualButton(const char* name) {
    if (!name || !*name) return -1;
    const std::string word = lowerName(name);
    for (std::int32_t i = 0; i < kInputVirtualButtonCount; ++i)
        if (lowerName(actionTable()[i].name) == word) return i;
    return -1;
}

void InputVirtualButton::onDeviceButton(std::int32_t id, bool pressed, const CurrentTime&) {
    if (id < 0 || id >= kInputButtonCount) return;
    for (InputVirtualButtonValue& value : values)
        if (value.action0 == id || value.action1 == id) value.down = pressed ? 1 : 0;
}

void InputVirtualButton::clearValues() {
    for (InputVirtualButtonValue& value : values) {
        value.held = value.down = 0;
        value.lastPressTime = value.pressTime = 0.0;
    }
    modifiers = 0;
    wheel = 0.0;
    runModifier = 0;
}

const char* const* buttonEventNames() {
    static const auto names = [] {
        static std::vector<std::string> texts;
        for (const char* name :
             {"onCatch", "onAction", "onBtnJump", "onBtnHint", "onBtnFwDown", "onBtnFwUp", "onBtnBkDown", "onBtnBkUp",
              "onBtnStepLeftDown", "onBtnStepLeftUp", "onBtnStepRightDown", "onBtnStepRightUp", "onAlwaysRun",
              "onAutoMove", "onSwitchMoveMode", "onSetMoveModeDown", "onSetMoveModeUp", "onCrouch", "onCamera",
              "onNextItem", "onPrevItem", "onScrollDown", "onScrollUp", "onOpenMainMenu", "onOpenGameMenu",
              "onOpenGameMenuInventory", "onOpenGameMenuDialogs", "onOpenGameMenuReports", "onOpenGameMenuDocuments",
              "onOpenGameMenuMaps", "onQuickSave", "onQuickLoad", "onPause"})
            texts.emplace_back(name);
        for (int k = 1; k <= 9; ++k) texts.push_back("onHot" + std::to_string(k));
        for (int k = 0; k <= 9; ++k) texts.push_back("onDebug" + std::to_string(k));
        for (int k = 1; k <= 12; ++k) texts.push_back("onF" + std::to_string(k));
        texts.emplace_back("onQuitGame");
        std::array<const char*, kInputButtonEventCount> pointers{};
        for (std::size_t i = 0; i < pointers.size(); ++i) pointers[i] = texts.at(i).c_str();
        return pointers;
    }();
    return names.data();
}

std::int32_t InputVirtualButton::write(DataStream& s) const {
    std::int32_t total = 0;
    for (std::uint8_t v : {reserved, catchFlag, runModifier})
        if (!addField(total, writeU8(s, v))) return total;
    if (!addField(total, writeI32(s, caughtButton))) return total;
    for (const std::string& name : eventNames) {
        if (name.size() > kInputEventNameLimit) {
            engineLog().error("Input event name of %u bytes is too long to save", static_cast<unsigned>(name.size()));
            return -1;
        }
        const auto length = static_cast<std::int32_t>(name.size());
        if (!addField(total, writeU32(s, static_cast<std::uint32_t>(length)))) return total;
        if (length > 0 && !addField(total, s.write(name.data(), length))) return total;
    }
    return total;
}

std::int32_t InputVirtualButton::read(DataStream& s) {
    std::int32_t total = 0;
    for (std::uint8_t* v : {&reserved, &catchFlag, &runModifier})
        if (!addField(total, readU8(s, *v))) return total;
    if (!addField(total, readI32(s, caughtButton))) return total;
    char buffer[kInputEventNameLimit + 1];
    for (std::string& name : eventNames) {
        std::uint32_t length = 0;
        if (!addField(total, readU32(s, length))) return total;
        if (length > kInputEventNameLimit) {
            engineLog().error("Input event name of %u bytes in the saved game is longer than %u",
                              static_cast<unsigned>(length), static_cast<unsigned>(kInputEventNameLimit));
            return -1;
        }
        std::memset(buffer, 0, sizeof(buffer));
        if (length > 0 && !addField(total, readExact(s, buffer, static_cast<std::int32_t>(length)))) return total;
        name.assign(buffer, length);
    }
    return total;
}
