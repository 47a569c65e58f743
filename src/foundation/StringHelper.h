// Text and number helpers shared by every reader of the engine's text
// formats: the float parser, the space trimmer, narrow/wide conversion, the
// hexadecimal codec of byte blocks stored as text, and the filter over lists
// of 128-byte names.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

// One name field: at most 127 characters, always NUL-terminated; a field
// without a name is all zero.
struct NameField {
    char text[128] = {};
};
using NameArray = std::vector<NameField>;

// Hashes a name given as a string or a view alike, so that a map keyed by
// strings is searched with a plain C name and no string is made for it.
struct NameHash {
    using is_transparent = void;
    std::size_t operator()(std::string_view name) const { return std::hash<std::string_view>{}(name); }
};

// Copies at most 127 characters of text into a zeroed field.
void setNameField(NameField& field, const char* text);

// The number in text, or -12345.0 when the text is not one: only digits,
// '-' (anywhere), at most one ',' (read as '.') and at most one '.' are
// allowed. The accepted text is then read as far as it forms a number, so
// "--4" and "" give 0.0 and "5-3" gives 5.0.
float parseFloat(const char* text);

// A whole decimal number: an optional '-' and digits, nothing else, within
// the 32-bit range. False (value unchanged) for any other text.
bool parseWholeNumber(std::string_view text, std::int32_t& value);

// The text without leading and trailing blanks (0x20 only).
std::string trimSpaces(const std::string& text);

// Conversion between narrow text in a code page (0: the system's code page,
// Windows-1251) and UTF-16. An empty source gives an empty result.
std::u16string toWideString(const std::string& text, unsigned codePage = 0);
std::string toMultiByteString(const std::u16string& text, unsigned codePage = 0);

// Writes 2 x count upper-case hexadecimal digits, high nibble first, with
// no terminator.
void hexWriteDigits(char* output, std::int32_t count, const std::uint8_t* bytes);
std::string hexEncode(const std::uint8_t* bytes, std::int32_t count);
// Decodes pairs of digits into count bytes. False, nothing written, unless
// the text holds exactly count pairs (an odd last digit is ignored). Only
// "0"-"9" and "A"-"F" are digits; any other character counts as 0.
bool hexDecode(const std::string& text, std::int32_t count, std::uint8_t* output);

class StringHelper {
public:
    // Fills names with the names of a group: 0 every model resource and the
    // current scene's model alternatives, 1 every particle effect, 2 every
    // animation, 3 the current scene's models, 4 its particles. Any other
    // group is logged and false. It reads the packages and the current
    // scene, so it is defined with the game core (app library).
    static bool listGroup(std::int32_t group, NameArray& names);
    // Fills selected with the names of source that contain text (or, with
    // exclude, that do not), never a name equal to text. With limit >= 1 at
    // most limit names are kept, preferring earlier match positions; the
    // result is true only when that limit was reached.
    static bool filter(const NameArray& source, NameArray& selected, const char* text, bool exclude,
                       std::int32_t limit);
};
