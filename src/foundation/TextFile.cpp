#include "foundation/TextFile.h"

#include "foundation/DataStream.h"
#include "foundation/FilePath.h"
#include "foundation/Log.h"
#include "foundation/StringHelper.h"
#include "platform/FileTime.h"

namespace {

// Read-only, shared read, random access: the attribute bits of the engine's
// open call, kept for the stream's record.
constexpr std::uint32_t kReadAttributes = 0x10000001u;

}  // namespace

std::unique_ptr<WinFileStream> openFileStream(const FilePath& path) {
    return std::unique_ptr<WinFileStream>(
        WinFileStream::open(path.toString(), platform::GENERIC_READ, kReadAttributes, platform::OPEN_EXISTING));
}

void readStreamToString(std::string& text, DataStream& stream) {
    const std::int32_t count = bytesLeft(stream);
    text.assign(static_cast<std::size_t>(count), '\0');
    if (count == 0) return;
    const std::int32_t read = stream.read(text.data(), count);
    text.resize(read > 0 ? static_cast<std::size_t>(read) : 0);
}

std::string readTextFile(const FilePath& path) {
    std::string text;
    if (auto stream = openFileStream(path)) readStreamToString(text, *stream);
    return text;
}

void loadTextFileLines(const FilePath& path, TextFile& file, bool raw) {
    splitLines(file, readTextFile(path), raw);
    std::uint64_t time = 0;
    if (platform::fileWriteTime(path.toString(), time)) file.lastWriteTime = time;
}

bool readTextLines(TextFile& file, DataStream& stream) {
    const std::int32_t start = stream.tell();
    const std::int32_t count = bytesLeft(stream);
    std::string text;
    if (count > 0) {
        text.assign(static_cast<std::size_t>(count), '\0');
        const std::int32_t read = stream.read(text.data(), count);
        if (read < 0) {
            engineLog().resourceError("Can't read text from stream at %i: read failed", start);
            return false;
        }
        text.resize(static_cast<std::size_t>(read));
    }
    const std::size_t nul = text.find('\0');
    if (nul != std::string::npos) {
        text.resize(nul);
        stream.setPosition(start + static_cast<std::int32_t>(nul) + 1);
    }
    splitLines(file, std::move(text), false);
    return true;
}

void splitLines(TextFile& file, std::string text, bool raw) {
    file.text = text;
    text.push_back('\r');
    std::size_t p = 0;
    while (true) {
        const std::size_t end = text.find_first_of("\r\n", p);
        if (end == std::string::npos) break;
        std::string line = text.substr(p, end - p);
        if (!raw) line = trimSpaces(line);
        if (raw || !line.empty()) file.lines.push_back(std::move(line));
        p = end + 1;
        if (p < text.size() && text[p] == '\n') ++p;
        if (p < text.size() && text[p] == '\r') ++p;
    }
}
