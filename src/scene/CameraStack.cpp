#include "scene/CameraStack.h"

#include <cfloat>
#include <charconv>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>

#include "foundation/DataStream.h"
#include "foundation/Log.h"
#include "foundation/StringHelper.h"

namespace {

// Degrees to radians as the command language has always converted them.
constexpr float kDegree = 0.017452778f;
// Lengths in command strings are hundredths of the world unit.
constexpr float kHundredth = 0.01f;
// The value of a target that names a bone after ':'.
constexpr float kBoneValue = 1e-8f;
const char* const kWordEnd = "Expected end of camera position word '['";
const char* const kDefaultBone = "bip01 head";

bool isBlank(char c) { return c == ' ' || c == '\n' || c == '\r'; }
bool isDigit(char c) { return c >= '0' && c <= '9'; }

void copyName(char* field, const char* text, std::size_t count) {
    const std::size_t n = count < 127 ? count : 127;
    std::memcpy(field, text, n);
    std::memset(field + n, 0, 128 - n);
}

// One parse of one command string; every failure is reported where it
// happens and gives -1.
class CommandParser {
public:
    explicit CommandParser(const char* text) : text_(text), length_(static_cast<std::int32_t>(std::strlen(text))) {}

    std::int32_t length() const { return length_; }

    // Parses one position word from position; the position after it, the
    // text length when only blanks follow, or -1.
    std::int32_t parseWord(std::int32_t p, CameraStackItem& item) {
        item.curve = 1.0f;
        p = skipBlanks(text_, p);
        if (p < 0) return fail(-1, "Await for '[' symbol");
        if (text_[p] == 'b' || startsNumber(p)) {
            item.flags |= CameraItemTiming;
            if (text_[p] == 'b') {
                item.crossFade = 1;
                ++p;
            }
            const std::int32_t blendAt = p;
            if ((p = readNumber(p, item.blendTime)) < 0) return p;
            if (item.blendTime < 0.0f) return fail(blendAt, "Camera blend time must not be negative");
            p = skip(p);
            if (p < length_ && text_[p] == ':') {
                const std::int32_t curveAt = skip(p + 1);
                if ((p = readNumber(curveAt, item.curve)) < 0) return p;
                if (item.curve < 0.0f) return fail(curveAt, "Camera blend curve must not be negative");
                p = skip(p);
            }
        }
        if (p >= length_ || text_[p] != '[') return fail(p >= length_ ? -1 : p, "Await for '[' symbol");
        p = skip(p + 1);
        if (startsNumber(p)) {
            const std::int32_t holdAt = p;
            if ((p = readNumber(p, item.hold)) < 0) return badValue_ ? p : again("Unexpected EOL");
            if (item.hold < 0.0f) return fail(holdAt, "Camera hold time must not be negative");
            p = skip(p);
        }
        char name[128] = {};
        if ((p = readText(p, name)) < 0) return again("Unexpected EOL");
        item.flags |= CameraItemFollow;
        const char* start = name;
        if (*start == '!') {
            item.flags |= CameraItemSnap;
            ++start;
        }
        if (*start == '.') {
            item.flags &= ~CameraItemFollow;
            ++start;
        }
        copyName(item.name, start, std::strlen(start));

        for (p = skip(p);; p = skip(p)) {
            if (p >= length_) {
                fail(-1, "Unexpected EOL");
                return again(kWordEnd);
            }
            if (text_[p] == ']') {
                p = skipBlanks(text_, p + 1);
                return p < 0 ? length_ : p;
            }
            if ((p = parseElement(p, item)) < 0) return again(kWordEnd);
        }
    }

    // Reports the failure: the message at error level, then the text and
    // a caret line under the column (the last character for -1).
    std::int32_t fail(std::int32_t column, const char* format, ...) ENGINE_PRINTF(3, 4) {
        char message[512];
        va_list args;
        va_start(args, format);
        std::vsnprintf(message, sizeof(message), format, args);
        va_end(args);
        column_ = column >= 0 && column < length_ ? column : (length_ > 0 ? length_ - 1 : 0);
        report(message);
        return -1;
    }

private:
    void report(const char* message) {
        Log& log = engineLog();
        log.error("%s", message);
        log.textWithCaret(text_, column_);
    }

    // The second report of a failure, at the same column.
    std::int32_t again(const char* message) {
        report(message);
        return -1;
    }

    // Past the blanks; the text length at the end.
    std::int32_t skip(std::int32_t p) const {
        const std::int32_t next = p < length_ ? skipBlanks(text_, p) : -1;
        return next < 0 ? length_ : next;
    }

    bool startsNumber(std::int32_t p) const {
        if (p >= length_) return false;
        return isDigit(text_[p]) || (text_[p] == '-' && p + 1 < length_ && isDigit(text_[p + 1]));
    }

    // A number at p; a character that cannot start one gives 0. The end of
    // the text fails, and so does a run that is no number ("1..2") or whose
    // value does not fit a float.
    std::int32_t readNumber(std::int32_t p, float& out) {
        if (p >= length_) return fail(-1, "Unexpected EOL: Await for float");
        out = 0.0f;
        if (!startsNumber(p)) return p;
        const std::int32_t start = p;
        if (text_[p] == '-') ++p;
        while (p < length_ && (isDigit(text_[p]) || text_[p] == '.')) ++p;
        if (p >= length_) return fail(-1, "Unexpected EOL: Await for float end");
        const std::string number(text_ + start, static_cast<std::size_t>(p - start));
        double value = 0.0;
        const auto [stop, error] = std::from_chars(number.data(), number.data() + number.size(), value);
        if (error != std::errc() || stop != number.data() + number.size() || !std::isfinite(value) ||
            std::fabs(value) > FLT_MAX) {
            badValue_ = true;
            return fail(start, "Camera number [%s] is not a valid number", number.c_str());
        }
        out = parseFloat(number.c_str());
        return p;
    }

    // A text token up to a blank, "]" or ":"; at most 127 characters kept.
    std::int32_t readText(std::int32_t p, char* out) {
        if (p >= length_) return fail(-1, "Unexpected EOL at %i: Await for text", p);
        const std::int32_t start = p;
        while (p < length_ && !isBlank(text_[p]) && text_[p] != ']' && text_[p] != ':') ++p;
        if (p >= length_) return fail(-1, "Unexpected EOL : Await for text end");
        copyName(out, text_ + start, static_cast<std::size_t>(p - start));
        return p;
    }

    // An optional number pair "[a] [, b]" (pan, rotation), scaled.
    std::int32_t readPair(std::int32_t p, float* out, float scale) {
        p = skip(p);
        if (p >= length_) return fail(-1, "Unexpected EOL");
        if (startsNumber(p) && (p = readNumber(p, out[0])) < 0) return p;
        p = skip(p);
        if (p < length_ && text_[p] == ',') {
            p = skip(p + 1);
            if (startsNumber(p) && (p = readNumber(p, out[1])) < 0) return p;
        }
        out[0] *= scale;
        out[1] *= scale;
        return p;
    }

    // A required number after an element's letter (end of text: message).
    std::int32_t readRequired(std::int32_t p, float& out, float scale, const char* endMessage) {
        p = skip(p);
        if (p >= length_) return fail(-1, "%s", endMessage);
        if ((p = readNumber(p, out)) < 0) return p;
        out *= scale;
        return p;
    }

    // object [":" bone | ":" number]
    std::int32_t readTarget(std::int32_t p, CameraTarget& target) {
        if ((p = readText(p, target.object)) < 0) return p;
        p = skip(p);
        if (p < length_ && text_[p] == ':') {
            p = skip(p + 1);
            if (p >= length_) return fail(-1, "Unexpected EOL");
            if (startsNumber(p)) {
                if ((p = readNumber(p, target.value)) < 0) return p;
                target.value *= kHundredth;
            } else {
                if ((p = readText(p, target.bone)) < 0) return p;
                target.value = kBoneValue;
            }
        } else {
            copyName(target.bone, kDefaultBone, std::strlen(kDefaultBone));
            target.value = 0.0f;
        }
        return p;
    }

    // Claims an element's flag; a second one fails with its message.
    bool claim(CameraStackItem& item, std::uint32_t flag, std::int32_t p, const char* message) {
        if (item.flags & flag) {
            fail(p, "%s", message);
            return false;
        }
        item.flags |= flag;
        return true;
    }

    std::int32_t parseElement(std::int32_t p, CameraStackItem& item) {
        const char symbol = text_[p];
        switch (symbol) {
        case '$': {
            if (++p >= length_) return fail(-1, "Unexpected EOL");
            const char axis = text_[p];
            if (axis != 'x' && axis != 'y' && axis != 'z') return fail(p, "Unknown effect type");
            const std::int32_t index = axis - 'x';
            if (item.shakeAxes & (1u << index)) return fail(p, "Expected for symbol '%c'", symbol);
            item.shakeAxes |= 1u << index;
            float amplitude = 20.0f;
            float frequency = 1.0f;
            p = skip(p + 1);
            if (startsNumber(p) && (p = readNumber(p, amplitude)) < 0) return p;
            p = skip(p);
            if (p < length_ && text_[p] == ',' && (p = readNumber(skip(p + 1), frequency)) < 0) return p;
            item.shake[index][0] = amplitude * kDegree;
            item.shake[index][1] = frequency;
            return p;
        }
        case 'p':
            if (!claim(item, CameraItemPan, p, "Camera pan already defined")) return -1;
            return readPair(p + 1, item.pan, kHundredth);
        case 'r':
            if (!claim(item, CameraItemRotation, p, "Camera rotation already defined")) return -1;
            return readPair(p + 1, item.rotation, kDegree);
        case 'f':
            if (!claim(item, CameraItemFov, p, "Camera fov already defined")) return -1;
            return readRequired(p + 1, item.fov, kHundredth, "Unexpected FOV EOL");
        case 'z':
            if (!claim(item, CameraItemZoom, p, "Camera zoom  already defined")) return -1;
            return readRequired(p + 1, item.zoom, kHundredth, "Unexpected EOL");
        case 't':
            if (!claim(item, CameraItemTwist, p, "Camera twist already defined")) return -1;
            return readRequired(p + 1, item.twist, kDegree, "Unexpected EOL");
        case '@':
            if (!claim(item, CameraItemCenter, p, "Camera rotation center already defined")) return -1;
            p = skip(p + 1);
            if (p >= length_) return fail(-1, "Unexpected EOL");
            if (!startsNumber(p)) return readTarget(p, item.center);
            if ((p = readNumber(p, item.center.value)) < 0) return p;
            item.center.value *= kHundredth;
            return p;
        case '*':
            if (!claim(item, CameraItemTarget, p, "Camera target already defined")) return -1;
            p = skip(p + 1);
            if (p >= length_) return fail(-1, "Unexpected EOL");
            return readTarget(p, item.target);
        default: return fail(p, "Unexpected symbol");
        }
    }

    const char* text_;
    std::int32_t length_;
    std::int32_t column_ = 0;
    // The last failure was a refused value, not the end of the text.
    bool badValue_ = false;
};

}  // namespace

std::int32_t skipBlanks(const char* text, std::int32_t position) {
    if (!text || position < 0) return -1;
    for (std::int32_t p = position; text[p]; ++p)
        if (!isBlank(text[p])) return p;
    return -1;
}

CameraStack::~CameraStack() {
    if (!items.empty()) engineLog().error("Camera stack is not released before destructor call");
}

bool CameraStack::parseCommands(const char* text) {
    if (!text || !*text) return engineLog().error("Expected commands for camera. Found empty string");
    CommandParser parser(text);
    std::int32_t p = 0;
    for (;;) {
        items.push_back(CameraStackItem{});
        p = parser.parseWord(p, items.back());
        if (p < 0) {
            clear();
            return false;
        }
        if (p >= parser.length()) return true;
    }
}

std::int32_t CameraStack::write(DataStream& stream) const {
    std::int32_t total = 0;
    if (!addField(total, writeU32(stream, kMagic))) return total;
    if (!addField(total, writeU32(stream, static_cast<std::uint32_t>(items.size())))) return total;
    if (items.empty()) return total;
    addField(total, stream.write(items.data(), static_cast<std::int32_t>(items.size() * sizeof(CameraStackItem))));
    return total;
}

std::int32_t CameraStack::read(DataStream& stream) {
    std::int32_t total = 0;
    std::uint32_t magic = 0;
    if (!addField(total, readU32(stream, magic))) return total;
    if (magic != kMagic) return -1;
    clear();
    std::uint32_t count = 0;
    if (!addField(total, readU32(stream, count))) return total;
    // The count must fit in what the record still holds.
    if (count > static_cast<std::uint32_t>(bytesLeft(stream)) / sizeof(CameraStackItem)) {
        engineLog().error("Camera stack record holds %u items, but only %i bytes follow", count, bytesLeft(stream));
        return -1;
    }
    std::vector<CameraStackItem> loaded(count);
    if (count && !addField(total, readExact(stream, loaded.data(),
                                            static_cast<std::int32_t>(count * sizeof(CameraStackItem)))))
        return total;
    for (CameraStackItem& item : loaded) {
        item.name[127] = 0;
        item.target.object[127] = item.target.bone[127] = 0;
        item.center.object[127] = item.center.bone[127] = 0;
    }
    items.swap(loaded);
    return total;
}
