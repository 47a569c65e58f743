#include "input/InputButtons.h"

#include <array>
#include <cctype>
#include <string>
#include <string_view>

namespace {

constexpr const char* kUndefinedName = "-- Undefined --";

constexpr InputDeviceButton kMouseButtons[] = {
    {0, 0, "--Mouse X-axis"}, {1, 4, "--Mouse Y-axis"}, {4, 8, "--Mouse Scroll-axis"},
    {6, 12, "MBTN0"},         {7, 13, "MBTN1"},         {8, 14, "MBTN2"},
    {9, 15, "MBTN3"},         {10, 16, "MBTN4"},
};

// The 32 joystick buttons follow the axes and the slider: JOYn is id 12 + n
// at offset 48 + n.
const std::array<InputDeviceButton, 35>& joystickButtons() {
    static const auto table = [] {
        static std::array<std::string, 32> names;
        std::array<InputDeviceButton, 35> rows{};
        rows[0] = {2, 0, "--Joystick X-axis"};
        rows[1] = {3, 4, "--Joystick Y-axis"};
        rows[2] = {4, 24, "--Mouse Scroll-axis"};
        for (std::int32_t n = 0; n < 32; ++n) {
            names[n] = "JOY" + std::to_string(n);
            rows[3 + n] = {12 + n, static_cast<std::uint32_t>(48 + n), names[n].c_str()};
        }
        return rows;
    }();
    return table;
}

constexpr InputDeviceButton kKeyboardButtons[] = {
    {46, 11, "KEY_0"},           {47, 2, "KEY_1"},           {48, 3, "KEY_2"},
    {49, 4, "KEY_3"},            {50, 5, "KEY_4"},           {51, 6, "KEY_5"},
    {52, 7, "KEY_6"},            {53, 8, "KEY_7"},           {54, 9, "KEY_8"},
    {55, 10, "KEY_9"},           {57, 30, "KEY_A"},          {58, 48, "KEY_B"},
    {59, 46, "KEY_C"},           {60, 32, "KEY_D"},          {61, 18, "KEY_E"},
    {62, 33, "KEY_F"},           {63, 34, "KEY_G"},          {64, 35, "KEY_H"},
    {65, 23, "KEY_I"},           {66, 36, "KEY_J"},          {67, 37, "KEY_K"},
    {68, 38, "KEY_L"},           {69, 50, "KEY_M"},          {70, 49, "KEY_N"},
    {71, 24, "KEY_O"},           {72, 25, "KEY_P"},          {73, 16, "KEY_Q"},
    {74, 19, "KEY_R"},           {75, 31, "KEY_S"},          {76, 20, "KEY_T"},
    {77, 22, "KEY_U"},           {78, 47, "KEY_V"},          {79, 17, "KEY_W"},
    {80, 45, "KEY_X"},           {81, 21, "KEY_Y"},          {82, 44, "KEY_Z"},
    {84, 69, "NumLock"},         {85, 181, "GrayDivide"},    {86, 55, "GrayMult"},
    {87, 74, "GrayMinus"},       {88, 78, "GrayPlus"},       {89, 156, "GrayEnter"},
    {90, 83, "GrayDot"},         {91, 82, "Gray0"},          {92, 79, "Gray1"},
    {93, 80, "Gray2"},           {94, 81, "Gray3"},          {95, 75, "Gray4"},
    {96, 76, "Gray5"},           {97, 77, "Gray6"},          {98, 71, "Gray7"},
    {99, 72, "Gray8"},           {100, 73, "Gray9"},         {102, 1, "Esc"},
    {103, 59, "F1"},             {104, 60, "F2"},            {105, 61, "F3"},
    {106, 62, "F4"},             {107, 63, "F5"},            {108, 64, "F6"},
    {109, 65, "F7"},             {110, 66, "F8"},            {111, 67, "F9"},
    {112, 68, "F10"},            {113, 87, "F11"},           {114, 88, "F12"},
    {115, 70, "ScrollLock"},     {116, 197, "Pause"},        {121, 205, "RightArrow"},
    {120, 203, "LeftArrow"},     {118, 200, "UpArrow"},      {119, 208, "DownArrow"},
    {123, 210, "INSERT"},        {124, 211, "DELETE"},       {125, 199, "HOME"},
    {126, 207, "END"},           {127, 201, "PGUP"},         {128, 209, "PGDN"},
    {129, 41, "GRAVE"},          {130, 15, "TAB"},           {131, 58, "CAPSLOCK"},
    {132, 57, "SPACE"},          {133, 28, "RETURN"},        {134, 14, "BACKSPACE"},
    {135, 29, "LCONTROL"},       {136, 56, "LALT"},          {137, 42, "LSHIFT"},
    {138, 219, "LWIN"},          {139, 157, "RCONTROL"},     {140, 184, "RALT"},
    {141, 54, "RSHIFT"},         {142, 220, "RWIN"},         {144, 12, "MINUS"},
    {145, 13, "EQUALS"},         {146, 26, "KEY_LBracket"},  {147, 27, "KEY_RBracket"},
    {148, 39, "KEY_Semicolon"},  {149, 40, "KEY_Apostrophe"}, {150, 43, "KEY_BackSlash"},
    {151, 51, "KEY_Comma"},      {152, 52, "KEY_Period"},    {153, 53, "KEY_Slash"},
};
static_assert(sizeof(kKeyboardButtons) / sizeof(kKeyboardButtons[0]) == 102);

std::array<const char*, kInputButtonNameCount>& nameTable() {
    static std::array<const char*, kInputButtonNameCount> names{};
    return names;
}

}  // namespace

InputDeviceButtonTable mouseButtonTable() { return {kMouseButtons, 8}; }

InputDeviceButtonTable joystickButtonTable() { return {joystickButtons().data(), 35}; }

InputDeviceButtonTable keyboardButtonTable() { return {kKeyboardButtons, 102}; }

// Each id takes the name of its first row in the mouse, then the joystick,
// then the keyboard table; a later table overrides an earlier one.
void buildButtonNames() {
    auto& names = nameTable();
    names.fill(kUndefinedName);
    for (const InputDeviceButtonTable table : {mouseButtonTable(), joystickButtonTable(), keyboardButtonTable()}) {
        std::array<bool, kInputButtonCount> seen{};
        for (std::int32_t i = 0; i < table.count; ++i) {
            const InputDeviceButton& row = table.rows[i];
            if (row.id < 0 || row.id >= kInputButtonCount || seen[row.id]) continue;
            seen[row.id] = true;
            names[row.id] = row.name;
        }
    }
    names[kInputButtonNone] = "NONE";
    names[kInputButtonUndefined] = "UNDEFINED";
}

const char* const* buttonNames() {
    static const bool built = (buildButtonNames(), true);
    (void)built;
    return nameTable().data();
}

const char* buttonName(std::int32_t id) {
    if (id < 0 || id >= kInputButtonNameCount) return "NONE";
    return buttonNames()[id];
}

std::string lowerName(const char* text) {
    std::string word(text ? std::string_view(text).substr(0, 127) : std::string_view());
    for (char& c : word) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return word;
}
