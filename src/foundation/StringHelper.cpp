#include "foundation/StringHelper.h"

#include <charconv>
#include <cstring>

#include "platform/TextCodec.h"

void setNameField(NameField& field, const char* text) {
    std::memset(field.text, 0, sizeof(field.text));
    if (text) std::strncpy(field.text, text, sizeof(field.text) - 1);
}

float parseFloat(const char* text) {
    constexpr float kNotANumber = -12345.0f;
    if (!text) return kNotANumber;
    std::string work(text);
    int commas = 0;
    int points = 0;
    for (char& c : work) {
        if (c >= '0' && c <= '9') {
        } else if (c == '-') {
        } else if (c == ',') {
            ++commas;
            c = '.';
        } else if (c == '.') {
            ++points;
        } else {
            return kNotANumber;
        }
        if (commas > 1 || points > 1) return kNotANumber;
    }
    // Read as far as the text forms a number; no number at all reads as 0.
    double value = 0.0;
    const char* begin = work.data();
    const auto result = std::from_chars(begin, begin + work.size(), value);
    if (result.ec != std::errc()) value = 0.0;
    return static_cast<float>(value);
}

bool parseWholeNumber(std::string_view text, std::int32_t& value) {
    std::int32_t parsed = 0;
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, parsed);
    if (text.empty() || error != std::errc() || stop != end) return false;
    value = parsed;
    return true;
}

std::string trimSpaces(const std::string& text) {
    const std::size_t first = text.find_first_not_of(' ');
    if (first == std::string::npos) return {};
    const std::size_t last = text.find_last_not_of(' ');
    return text.substr(first, last - first + 1);
}

std::u16string toWideString(const std::string& text, unsigned codePage) {
    std::u16string out;
    platform::narrowToWide(text, codePage, out);
    return out;
}

std::string toMultiByteString(const std::u16string& text, unsigned codePage) {
    std::string out;
    platform::wideToNarrow(text, codePage, out);
    return out;
}

namespace {

constexpr char kHexDigits[] = "0123456789ABCDEF";

struct HexTable {
    std::uint8_t value[256] = {};
    HexTable() {
        for (int i = 0; i < 16; ++i) value[static_cast<unsigned char>(kHexDigits[i])] = static_cast<std::uint8_t>(i);
    }
};

const HexTable& hexTable() {
    static const HexTable table;
    return table;
}

}  // namespace

void hexWriteDigits(char* output, std::int32_t count, const std::uint8_t* bytes) {
    for (std::int32_t i = 0; i < count; ++i) {
        output[2 * i] = kHexDigits[bytes[i] >> 4];
        output[2 * i + 1] = kHexDigits[bytes[i] & 0x0F];
    }
}

std::string hexEncode(const std::uint8_t* bytes, std::int32_t count) {
    if (count <= 0 || !bytes) return {};
    std::string out(static_cast<std::size_t>(count) * 2, '\0');
    hexWriteDigits(out.data(), count, bytes);
    return out;
}

bool hexDecode(const std::string& text, std::int32_t count, std::uint8_t* output) {
    if (count < 0 || text.size() / 2 != static_cast<std::size_t>(count)) return false;
    const HexTable& table = hexTable();
    for (std::int32_t i = 0; i < count; ++i) {
        const auto high = static_cast<unsigned char>(text[2 * i]);
        const auto low = static_cast<unsigned char>(text[2 * i + 1]);
        output[i] = static_cast<std::uint8_t>(table.value[high] * 16 + table.value[low]);
    }
    return true;
}

namespace {

// Position of text inside the 128-byte name field, or -1.
int matchPosition(const NameField& name, const char* text, std::size_t length) {
    constexpr std::size_t kField = sizeof(NameField::text);
    for (std::size_t p = 0; p + length < kField; ++p) {
        if (std::memcmp(name.text + p, text, length) == 0) return static_cast<int>(p);
        if (name.text[p] == '\0') break;
    }
    return -1;
}

}  // namespace

bool StringHelper::filter(const NameArray& source, NameArray& selected, const char* text, bool exclude,
                          std::int32_t limit) {
    selected.clear();
    if (source.empty()) return false;
    if (!text) text = "";
    const std::size_t length = std::strlen(text);
    std::vector<int> positions;
    bool limitReached = false;
    for (const NameField& name : source) {
        const int found = matchPosition(name, text, length);
        int position = 0;
        if (exclude) {
            if (found >= 0) continue;
        } else {
            if (found < 0) continue;
            position = found;
        }
        if (std::strncmp(name.text, text, sizeof(name.text)) == 0 && length < sizeof(name.text)) continue;
        if (limit >= 1 && selected.size() >= static_cast<std::size_t>(limit)) {
            limitReached = true;
            for (std::size_t i = 0; i < selected.size(); ++i) {
                if (positions[i] > position) {
                    setNameField(selected[i], name.text);
                    positions[i] = position;
                    break;
                }
            }
            continue;
        }
        NameField copy;
        setNameField(copy, name.text);
        selected.push_back(copy);
        positions.push_back(position);
    }
    return limitReached;
}
