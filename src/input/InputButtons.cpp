#include "input/InputButtons.h"

#include "foundation/DataStream.h"

#include <array>
#include <cctype>
#include <string>
#include <string_view>

namespace {

constexpr const char* kUndefinedName = "-- Undefined --";
constexpr std::uint32_t kFixed = platform::dinput8::DIA_APPFIXED;

constexpr InputDeviceButton kMouseButtons[] = {
    {0, 0, kFixed, "--Mouse X-axis"}, {1, 4, kFixed, "--Mouse Y-axis"}, {4, 8, kFixed, "--Mouse Scroll-axis"},
    {6, 12, kFixed, "MBTN0"},         {7, 13, kFixed, "MBTN1"},         {8, 14, kFixed, "MBTN2"},
    {9, 15, kFixed, "MBTN3"},         {10, 16, kFixed, "MBTN4"},
};

// The 32 joystick buttons follow the axes and the slider: JOYn is id 12 + n
// at offset 48 + n.
const std::array<InputDeviceButton, 35>& joystickButtons() {
    static const auto table = [] {
        static std::array<std::string, 32> names;
        std::array<InputDeviceButton, 35> rows{};
        rows[0] = {2, 0, kFixed, "--Joystick X-axis"};
        rows[1] = {3, 4, kFixed, "--Joystick Y-axis"};
        rows[2] = {4, 24, kFixed, "--Mouse Scroll-axis"};
        for (std::int32_t n = 0; n < 32; ++n) {
            names[n] = "JOY" + std::to_string(n);
            rows[3 + n] = {static_cast<std::uint32_t>(12 + n), static_cast<std::uint32_t>(48 + n), kFixed, names[n].c_str()};
        }
        return rows;
    }();
    return table;
}

constexpr InputDeviceButton kKeyboardButtons[] = {
    {46, 11, kFixed, "KEY_0"},           {47, 2, kFixed, "KEY_1"},           {48, 3, kFixed, "KEY_2"},
    {49, 4, kFixed, "KEY_3"},            {50, 5, kFixed, "KEY_4"},           {51, 6, kFixed, "KEY_5"},
    {52, 7, kFixed, "KEY_6"},            {53, 8, kFixed, "KEY_7"},           {54, 9, kFixed, "KEY_8"},
    {55, 10, kFixed, "KEY_9"},           {57, 30, kFixed, "KEY_A"},          {58, 48, kFixed, "KEY_B"},
    {59, 46, kFixed, "KEY_C"},           {60, 32, kFixed, "KEY_D"},          {61, 18, kFixed, "KEY_E"},
    {62, 33, kFixed, "KEY_F"},           {63, 34, kFixed, "KEY_G"},          {64, 35, kFixed, "KEY_H"},
    {65, 23, kFixed, "KEY_I"},           {66, 36, kFixed, "KEY_J"},          {67, 37, kFixed, "KEY_K"},
    {68, 38, kFixed, "KEY_L"},           {69, 50, kFixed, "KEY_M"},          {70, 49, kFixed, "KEY_N"},
    {71, 24, kFixed, "KEY_O"},           {72, 25, kFixed, "KEY_P"},          {73, 16, kFixed, "KEY_Q"},
    {74, 19, kFixed, "KEY_R"},           {75, 31, kFixed, "KEY_S"},          {76, 20, kFixed, "KEY_T"},
    {77, 22, kFixed, "KEY_U"},           {78, 47, kFixed, "KEY_V"},          {79, 17, kFixed, "KEY_W"},
    {80, 45, kFixed, "KEY_X"},           {81, 21, kFixed, "KEY_Y"},          {82, 44, kFixed, "KEY_Z"},
    {84, 69, kFixed, "NumLock"},         {85, 181, kFixed, "GrayDivide"},    {86, 55, kFixed, "GrayMult"},
    {87, 74, kFixed, "GrayMinus"},       {88, 78, kFixed, "GrayPlus"},       {89, 156, kFixed, "GrayEnter"},
    {90, 83, kFixed, "GrayDot"},         {91, 82, kFixed, "Gray0"},          {92, 79, kFixed, "Gray1"},
    {93, 80, kFixed, "Gray2"},           {94, 81, kFixed, "Gray3"},          {95, 75, kFixed, "Gray4"},
    {96, 76, kFixed, "Gray5"},           {97, 77, kFixed, "Gray6"},          {98, 71, kFixed, "Gray7"},
    {99, 72, kFixed, "Gray8"},           {100, 73, kFixed, "Gray9"},         {102, 1, kFixed, "Esc"},
    {103, 59, kFixed, "F1"},             {104, 60, kFixed, "F2"},            {105, 61, kFixed, "F3"},
    {106, 62, kFixed, "F4"},             {107, 63, kFixed, "F5"},            {108, 64, kFixed, "F6"},
    {109, 65, kFixed, "F7"},             {110, 66, kFixed, "F8"},            {111, 67, kFixed, "F9"},
    {112, 68, kFixed, "F10"},            {113, 87, kFixed, "F11"},           {114, 88, kFixed, "F12"},
    {115, 70, kFixed, "ScrollLock"},     {116, 197, kFixed, "Pause"},        {121, 205, kFixed, "RightArrow"},
    {120, 203, kFixed, "LeftArrow"},     {118, 200, kFixed, "UpArrow"},      {119, 208, kFixed, "DownArrow"},
    {123, 210, kFixed, "INSERT"},        {124, 211, kFixed, "DELETE"},       {125, 199, kFixed, "HOME"},
    {126, 207, kFixed, "END"},           {127, 201, kFixed, "PGUP"},         {128, 209, kFixed, "PGDN"},
    {129, 41, kFixed, "GRAVE"},          {130, 15, kFixed, "TAB"},           {131, 58, kFixed, "CAPSLOCK"},
    {132, 57, kFixed, "SPACE"},          {133, 28, kFixed, "RETURN"},        {134, 14, kFixed, "BACKSPACE"},
    {135, 29, kFixed, "LCONTROL"},       {136, 56, kFixed, "LALT"},          {137, 42, kFixed, "LSHIFT"},
    {138, 219, kFixed, "LWIN"},          {139, 157, kFixed, "RCONTROL"},     {140, 184, kFixed, "RALT"},
    {141, 54, kFixed, "RSHIFT"},         {142, 220, kFixed, "RWIN"},         {144, 12, kFixed, "MINUS"},
    {145, 13, kFixed, "EQUALS"},         {146, 26, kFixed, "KEY_LBracket"},  {147, 27, kFixed, "KEY_RBracket"},
    {148, 39, kFixed, "KEY_Semicolon"},  {149, 40, kFixed, "KEY_Apostrophe"}, {150, 43, kFixed, "KEY_BackSlash"},
    {151, 51, kFixed, "KEY_Comma"},      {152, 52, kFixed, "KEY_Period"},    {153, 53, kFixed, "KEY_Slash"},
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

std::int32_t buttonIdFromOffset(std::int32_t kind, std::uint32_t offset) {
    InputDeviceButtonTable table{};
    switch (kind) {
    case InputDeviceMouse: table = mouseButtonTable(); break;
    case InputDeviceKeyboard: table = keyboardButtonTable(); break;
    case InputDeviceJoystick: table = joystickButtonTable(); break;
    default: return kInputButtonNone;
    }
    for (std::int32_t i = 0; i < table.count; ++i)
        if (table.rows[i].dwSemantic == offset) return static_cast<std::int32_t>(table.rows[i].uAppData);
    return kInputButtonNone;
}

// Each id takes the name of its first row in the mouse, then the joystick,
// then the keyboard table; a later table overrides an earlier one.
void buildButtonNames() {
    auto& names = nameTable();
    names.fill(kUndefinedName);
    for (const InputDeviceButtonTable table : {mouseButtonTable(), joystickButtonTable(), keyboardButtonTable()}) {
        std::array<bool, kInputButtonCount> seen{};
        for (std::int32_t i = 0; i < table.count; ++i) {
            const InputDeviceButton& row = table.rows[i];
            if (row.uAppData >= kInputButtonCount || seen[row.uAppData]) continue;
            seen[row.uAppData] = true;
            names[row.uAppData] = row.lptszActionName;
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
    char field[128];
    std::string word(copyName128(field, text));
    for (char& c : word) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return word;
}
