// Text files read as lists of lines.
//
// A file is read whole, or a stream from its current position, and the text
// is cut into lines by one rule: a line ends at CR or LF, and CR LF, LF CR,
// CR LF CR, LF LF and a lone CR or LF each end one line. In trimmed mode each
// line loses its surrounding blanks and empty lines are dropped; raw mode
// keeps every line as it stands.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class DataStream;
class FilePath;
class WinFileStream;

// The line list of a text. Callers create it empty and own it; lines are
// appended, never replaced.
struct TextFile {
    std::vector<std::string> lines;
    // The whole text that was last split.
    std::string text;
    // Windows file time of the file, set only by loadTextFileLines.
    std::uint64_t lastWriteTime = 0;

    std::int32_t lineCount() const { return static_cast<std::int32_t>(lines.size()); }
};

// Opens a file for reading; null when it cannot be opened.
std::unique_ptr<WinFileStream> openFileStream(const FilePath& path);

// Fills text with the bytes from the stream's position to its end, in one
// read; the text holds exactly the bytes read (empty when the read fails).
void readStreamToString(std::string& text, DataStream& stream);

// The whole file; empty when it cannot be opened (no message).
std::string readTextFile(const FilePath& path);

// Reads a file, splits it into the record and stores the file's last write
// time (left as it was when the file cannot be found).
void loadTextFileLines(const FilePath& path, TextFile& file, bool raw);

// Reads the text from the stream's position to its end, or up to and past
// the first NUL byte (so one stream can hold several texts, each ended by
// a NUL), and splits it in trimmed mode. False when the read fails.
bool readTextLines(TextFile& file, DataStream& stream);

// Stores text in the record and appends its lines.
void splitLines(TextFile& file, std::string text, bool raw);
