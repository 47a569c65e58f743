#include "animation/AnimationSequence.h"

#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>

#include "animation/AnimationCore.h"
#include "app/GameCore.h"
#include "foundation/DataStream.h"
#include "foundation/Log.h"
#include "foundation/StringHelper.h"

namespace {

bool isDigit(char c) { return c >= '0' && c <= '9'; }
bool isBlank(char c) { return c == ' ' || c == '\n' || c == '\r'; }

// The values one element of a text yields before it is filled in.
struct ElementText {
    bool idle = false;
    double blend = 1.0;
    double start = 0.0;
    bool startRelative = false;
    std::string name;
    bool reverse = false;
    double length = 1.0;
    bool lengthRelative = true;
    double speed = 1.0;
};

// One compilation over the text after its "^" and "*" prefixes; positions
// count from its first byte.
class SequenceParser {
public:
    SequenceParser(const char* text, AnimationSequence& sequence)
        : text_(text), length_(static_cast<std::int32_t>(std::strlen(text))), sequence_(sequence) {}

    // 0 error, -1 end of the text, else the position after the element.
    std::int32_t compileElement(std::int32_t p) {
        ElementText element;
        p = skip(p);
        if (p >= length_) return -1;
        if (text_[p] == '&') {
            sequence_.flags |= kSequenceIdle;
            p = skip(p + 1);
            if (p >= length_) return -1;
        }
        if (startsNumber(p, false)) {
            bool relative = false;
            const std::int32_t at = p;
            if ((p = readNumber(p, element.blend, relative)) < 0) return 0;
            if (relative) return report(at, "[x] prefix not supported for blending period");
        }
        if ((p = expect(p, '[')) < 0) return 0;
        p = skip(p + 1);
        if (p >= length_) return -1;
        if (startsNumber(p, true) && (p = readNumber(p, element.start, element.startRelative)) < 0) return 0;
        if ((p = readName(p, element.name)) < 0) return 0;
        if (!element.name.empty() && element.name[0] == '-') {
            element.reverse = true;
            element.name.erase(0, 1);
        }
        if (startsNumber(p, false) && (p = readNumber(p, element.length, element.lengthRelative)) < 0) return 0;
        const std::int32_t comma = skip(p);
        if (comma < length_ && text_[comma] == ',') {
            bool relative = false;
            const std::int32_t at = skip(comma + 1);
            if ((p = readNumber(comma + 1, element.speed, relative)) < 0) return 0;
            if (relative) return report(at, "[x] prefix not supported for animation speed");
            if (!(element.speed > 0.0)) return report(at, "speed value must be more than 0");
        }
        if ((p = expect(p, ']')) < 0) return 0;
        sequence_.elements.emplace_back();
        if (!fillElement(element, sequence_.elements.back())) {
            sequence_.elements.pop_back();
            return 0;
        }
        return p + 1;
    }

    // Formats the message at system-error level, then the text and its
    // caret line (empty for -1, the end of the text). 0, the element's
    // error result.
    std::int32_t report(std::int32_t position, const char* format, ...) ENGINE_PRINTF(3, 4) {
        char message[512];
        va_list args;
        va_start(args, format);
        std::vsnprintf(message, sizeof(message), format, args);
        va_end(args);
        Log& log = engineLog();
        log.systemError("%s", message);
        log.textWithCaret(text_, position);
        return 0;
    }

private:
    std::int32_t skip(std::int32_t p) const {
        while (p < length_ && isBlank(text_[p])) ++p;
        return p;
    }

    // A digit, or "x" and a digit (or "*" where a random start is allowed).
    bool startsNumber(std::int32_t p, bool allowRandom) const {
        if (p >= length_) return false;
        if (isDigit(text_[p])) return true;
        return text_[p] == 'x' && p + 1 < length_ && (isDigit(text_[p + 1]) || (allowRandom && text_[p + 1] == '*'));
    }

    // The symbol's position; -1 at the end of the text (silently) or on
    // another byte (reported).
    std::int32_t expect(std::int32_t p, char symbol) {
        p = skip(p);
        if (p >= length_) return -1;
        if (text_[p] == symbol) return p;
        report(p, "Expected symbol '%c'", symbol);
        return -1;
    }

    // A number with its optional "x" ("x*" gives -1, a random start): the
    // position after it and its blanks, or -1 (reported).
    std::int32_t readNumber(std::int32_t p, double& value, bool& relative) {
        p = skip(p);
        if (p >= length_) return report(-1, "Unexpected EOL: Await for float"), -1;
        relative = false;
        if (text_[p] == 'x') {
            relative = true;
            ++p;
        }
        if (relative && p < length_ && text_[p] == '*') {
            value = -1.0;
            ++p;
        } else {
            const std::int32_t begin = p;
            while (p < length_ && (isDigit(text_[p]) || text_[p] == '.')) ++p;
            if (p >= length_) return report(-1, "Unexpected EOL: Await for float end"), -1;
            const std::string digits(text_ + begin, static_cast<std::size_t>(p - begin));
            value = parseFloat(digits.c_str());
            // Numbers carry no sign: a negative result is text that is no
            // number ("1.2.3"), an infinite one too many digits.
            if (!(value >= 0.0) || !std::isfinite(value))
                return report(begin, "Invalid number [%s]", digits.c_str()), -1;
        }
        p = skip(p);
        if (p >= length_) return report(-1, "Unexpected EOL"), -1;
        return p;
    }

    // Every byte up to a space or "]".
    std::int32_t readName(std::int32_t p, std::string& name) {
        p = skip(p);
        if (p >= length_) return report(-1, "Unexpected EOL at: Await for text"), -1;
        const std::int32_t begin = p;
        while (p < length_ && text_[p] != ' ' && text_[p] != ']') ++p;
        if (p >= length_) return report(-1, "Unexpected EOL : Await for text end"), -1;
        name.assign(text_ + begin, static_cast<std::size_t>(p - begin));
        p = skip(p);
        if (p >= length_) return report(-1, "Unexpected EOL"), -1;
        return p;
    }

    static bool fillElement(const ElementText& text, SequenceElement& element) {
        element = SequenceElement{};
        element.flags = (text.startRelative ? kElementStartFraction : 0) |
                        (text.lengthRelative ? kElementLengthMultiple : 0) | (text.reverse ? kElementReverse : 0);
        element.start = text.start;
        if (element.start < 0.0) {
            element.flags |= kElementRandomStart;
            element.start = 0.0;
        }
        copyName128(element.animation, text.name.c_str());
        element.blend = text.blend;
        element.length = text.length;
        element.speed = text.speed;
        if (text.reverse && element.start == 0.0) {
            element.start = 1.0;
            element.flags |= kElementStartFraction;
        }
        // An animation of one frame has no duration to play.
        return AnimationStackCompiler::completeElement(element) && element.duration > 0.0;
    }

    const char* text_;
    std::int32_t length_;
    AnimationSequence& sequence_;
};

}  // namespace

bool sequenceElementValid(const SequenceElement& element) {
    const double values[] = {element.duration, element.blend, element.start, element.length, element.speed};
    for (double value : values)
        if (!std::isfinite(value) || value < 0.0) return false;
    return element.duration > 0.0 && element.speed > 0.0 && std::isfinite(element.length / element.speed);
}

std::int32_t AnimationSequence::write(DataStream& stream) const {
    std::int32_t total = 0;
    if (!addField(total, writeU32(stream, flags)) ||
        !addField(total, writeU32(stream, static_cast<std::uint32_t>(elements.size()))))
        return total;
    if (elements.empty()) return total;
    addField(total, stream.write(elements.data(), static_cast<std::int32_t>(elements.size() * sizeof(SequenceElement))));
    return total;
}

std::int32_t AnimationSequence::read(DataStream& stream) {
    clear();
    std::int32_t total = 0;
    std::uint32_t count = 0;
    if (!addField(total, readU32(stream, flags)) || !addField(total, readU32(stream, count))) return total;
    Log& log = engineLog();
    if (count > static_cast<std::uint32_t>(bytesLeft(stream) / static_cast<std::int32_t>(sizeof(SequenceElement)))) {
        log.error("Invalid animation sequence record: %u elements do not fit in the record", count);
        return -1;
    }
    elements.resize(count);
    if (count > 0 &&
        !addField(total, readExact(stream, elements.data(), static_cast<std::int32_t>(count * sizeof(SequenceElement))))) {
        clear();
        return total;
    }
    for (SequenceElement& element : elements) {
        element.animation[sizeof(element.animation) - 1] = 0;
        if (!sequenceElementValid(element)) {
            log.error("Invalid animation sequence record: element [%s] has duration %g, length %g, speed %g",
                      element.animation, element.duration, element.length, element.speed);
            clear();
            return -1;
        }
    }
    return total;
}

bool AnimationStackCompiler::completeElement(SequenceElement& element) {
    Log& log = engineLog();
    if (!gameCore.animation)
        return log.systemError("Animation stack compiler: Can't load animation [%s] data", element.animation);
    AnimationDataManager& manager = gameCore.animation->animations();
    Y3AnimData* record = manager.getOrCreate(element.animation, true);
    if (!record->has(kResourceHeaderLoaded) &&
        (record->has(kResourceUnavailable) || !manager.loadHeader(record)))
        return log.systemError("Animation stack compiler: Can't load animation [%s] data", element.animation);
    if (!record->data)
        return log.systemError("Animation stack compiler: Can't load animation [%s] data", element.animation);
    element.duration = record->data->duration();
    if (record->data->flags & kAnimationLoop)
        element.flags |= kElementLoop;
    else
        element.flags &= ~kElementLoop;
    return true;
}

bool AnimationStackCompiler::compileSequence(const char* text, AnimationSequence& sequence) {
    if (!text || !text[0]) return engineLog().systemError("Expected animation sequence, but found empty string");
    const char* p = text;
    while (*p == ' ') ++p;
    if (*p == '^') {
        sequence.flags |= kSequenceAppend;
        ++p;
    }
    while (*p == ' ') ++p;
    bool randomStart = false;
    if (*p == '*') {
        randomStart = true;
        ++p;
    }
    const std::size_t first = sequence.elements.size();
    SequenceParser parser(p, sequence);
    for (std::int32_t position = 0;;) {
        const std::int32_t next = parser.compileElement(position);
        if (next == 0) return false;
        if (next < 0) break;
        position = next;
    }
    if (randomStart && sequence.elements.size() > first) sequence.elements[first].flags |= kElementRandomStart;
    if (sequence.elements.size() == 1 && (sequence.flags & kSequenceIdle)) {
        engineLog().error("IDLE NOT VALID FOR SINGLE ANIMATION: {%s}", p);
        sequence.flags &= ~kSequenceIdle;
    }
    return true;
}
