// The engine's colour value: red, green, blue and alpha as floats (1.0 full
// intensity). Colours taken from a text or a packed integer are stored at
// half intensity (red, green and blue times 0.5, alpha untouched); colours
// set component by component are stored as given.
#pragma once

#include <cstdint>
#include <string_view>

struct ARGBColor {
    float red = 0.0f;
    float green = 0.0f;
    float blue = 0.0f;
    float alpha = 0.0f;

    // One byte of a packed colour as a float (1/255 as a float).
    static constexpr float kByteScale = 0.003921569f;

    // The three colour components as given; alpha unchanged.
    void set(float r, float g, float b);
    // Red, green and blue from the low three bytes of 0xRRGGBB; true.
    bool setRgbInt(std::uint32_t rgb);
    // All four components from 0xAARRGGBB.
    void setArgbInt(std::uint32_t argb);
    // Exactly six hexadecimal digits RRGGBB (no prefix, either case).
    bool parseHexRgb(std::string_view text);
    // Six digits RRGGBB (alpha 1.0) or eight digits AARRGGBB. Another length
    // is false without a message; a character that is no digit is logged
    // and false, the colour unchanged (the six-digit form has already set
    // alpha to 1.0).
    bool parse(std::string_view text);
    // parse, then red, green and blue halved on success.
    bool setHex(std::string_view text);
    // setArgbInt, then red, green and blue halved; true.
    bool setInt(std::uint32_t argb);
};
