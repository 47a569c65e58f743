#include "foundation/TextRecord.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "foundation/DataStream.h"

namespace {

bool isBreak(char c) { return c == '\r' || c == '\n'; }

}  // namespace

std::int32_t readRecordLine(DataStream& stream, char* buffer) {
    std::int32_t stored = 0;   // bytes kept in the buffer
    std::int32_t taken = 0;    // bytes taken from the stream
    char previous = 0;
    bool havePrevious = false;
    bool stepBack = false;
    while (true) {
        char c = 0;
        const std::int32_t r = stream.read(&c, 1);
        if (r <= 0) {
            if (taken == 0 && r < 0) return r;
            // The stream ended: a break read last still ends the line.
            if (havePrevious && !isBreak(previous) && stored < kRecordLineSize - 1) buffer[stored++] = previous;
            break;
        }
        ++taken;
        if (havePrevious && isBreak(previous)) {
            // The line ended before the previous byte; a byte that is no
            // break belongs to the next line.
            if (!isBreak(c)) stepBack = true;
            break;
        }
        if (havePrevious && stored < kRecordLineSize - 1) buffer[stored++] = previous;
        previous = c;
        havePrevious = true;
    }
    if (stepBack) {
        stream.seek(-1, 1);
        --taken;
    }
    buffer[stored] = '\0';
    ++stream.lineNumber;
    return taken;
}

bool textRecordError(DataStream& stream, const char* fileName, const char* format, ...) {
    char message[1024] = {};
    va_list args;
    va_start(args, format);
    std::vsnprintf(message, sizeof(message), format, args);
    va_end(args);
    engineLog().resourceError("[%s] line %i: %s", fileName ? fileName : "", stream.lineNumber, message);
    return false;
}

std::int32_t readValidData(DataStream& stream, const char* field, const char* stopField, std::int32_t& bytesRead,
                           char* value, std::int32_t valueSize, const char* fileName, bool emptyLinesAllowed) {
    const std::int32_t startPosition = stream.tell();
    const std::int32_t startLine = stream.lineNumber;
    auto restore = [&] {
        stream.setPosition(startPosition);
        stream.lineNumber = startLine;
    };
    if (startPosition >= stream.size()) {
        restore();
        return -2;
    }
    if (!field) field = "";
    std::vector<char> line(kRecordLineSize);
    while (true) {
        const std::int32_t linePosition = stream.tell();
        const std::int32_t lineNumber = stream.lineNumber;
        const std::int32_t count = readRecordLine(stream, line.data());
        if (count < 0) {
            restore();
            bytesRead = 0;
            return count;
        }
        // Nothing could be read before the size the stream claims (a file
        // cut short while it is read): that is its end.
        if (count == 0) {
            restore();
            return -2;
        }
        const char* text = line.data();
        if (text[0] == '\0') {
            if (!emptyLinesAllowed) {
                textRecordError(stream, fileName, "readValidData: Unexpected empty line. Expected field [%s]", field);
                restore();
                bytesRead = 0;
                return -2;
            }
        } else if (const char* blank = std::strchr(text, ' '); blank && blank != text) {
            const std::string name(text, static_cast<std::size_t>(blank - text));
            if (name == field) {
                while (*blank == ' ') ++blank;
                if (value && valueSize > 0) {
                    std::memset(value, 0, static_cast<std::size_t>(valueSize));
                    std::strncpy(value, blank, static_cast<std::size_t>(valueSize - 1));
                }
                bytesRead = stream.tell() - startPosition;
                return 0;
            }
            if (stopField && *stopField && name == stopField) {
                stream.setPosition(linePosition);
                stream.lineNumber = lineNumber;
                bytesRead = linePosition - startPosition;
                return -4;
            }
            textRecordError(stream, fileName, "readValidData: Expected [%s] field, but found [%s].", field,
                            name.c_str());
            restore();
            bytesRead = 0;
            return -3;
        }
        // A skipped line: stop at the end of the stream.
        if (stream.tell() >= stream.size()) {
            restore();
            return -2;
        }
    }
}
