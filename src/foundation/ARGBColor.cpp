#include "foundation/ARGBColor.h"

#include <string>

#include "foundation/Log.h"

namespace {

// The value of a text of hexadecimal digits, the first the most significant;
// false (logged) at the first character that is no digit.
bool parseHexDigits(std::string_view text, std::uint32_t& value) {
    std::string copy(text);
    for (char& c : copy)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    std::uint32_t result = 0;
    int shift = 0;
    for (auto it = copy.rbegin(); it != copy.rend(); ++it, shift += 4) {
        const char c = *it;
        std::uint32_t digit;
        if (c >= '0' && c <= '9') digit = static_cast<std::uint32_t>(c - '0');
        else if (c >= 'a' && c <= 'f') digit = static_cast<std::uint32_t>(c - 'a' + 10);
        else {
            const char symbol[2] = {c, 0};
            engineLog().error("Unexpected symbol [%s] in color value string", symbol);
            return false;
        }
        result |= digit << shift;
    }
    value = result;
    return true;
}

float byteValue(std::uint32_t value, int shift) {
    return static_cast<float>((value >> shift) & 0xFF) * ARGBColor::kByteScale;
}

}  // namespace

void ARGBColor::set(float r, float g, float b) {
    red = r;
    green = g;
    blue = b;
}

bool ARGBColor::setRgbInt(std::uint32_t rgb) {
    red = byteValue(rgb, 16);
    green = byteValue(rgb, 8);
    blue = byteValue(rgb, 0);
    return true;
}

void ARGBColor::setArgbInt(std::uint32_t argb) {
    setRgbInt(argb);
    alpha = byteValue(argb, 24);
}

bool ARGBColor::parseHexRgb(std::string_view text) {
    std::uint32_t value = 0;
    if (text.size() != 6 || !parseHexDigits(text, value)) return false;
    return setRgbInt(value);
}

bool ARGBColor::parse(std::string_view text) {
    if (text.size() == 6) {
        alpha = 1.0f;
        return parseHexRgb(text);
    }
    if (text.size() != 8) return false;
    std::uint32_t value = 0;
    if (!parseHexDigits(text, value)) return false;
    setArgbInt(value);
    return true;
}

bool ARGBColor::setHex(std::string_view text) {
    if (!parse(text)) return false;
    red *= 0.5f;
    green *= 0.5f;
    blue *= 0.5f;
    return true;
}

bool ARGBColor::setInt(std::uint32_t argb) {
    setArgbInt(argb);
    red *= 0.5f;
    green *= 0.5f;
    blue *= 0.5f;
    return true;
}
