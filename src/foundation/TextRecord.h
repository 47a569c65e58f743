// Text records written one field a line: a field name, a blank, the value.
//
// readValidData reads the next field line of a stream, checks that it holds
// the expected field and hands back its value; it can also recognise the
// field that starts the next record and step back so the caller can stop.
// Lines are counted in the stream's line number, so every message names the
// file and the line.
#pragma once

#include <cstdint>

#include "foundation/Log.h"

class DataStream;

constexpr std::int32_t kRecordLineSize = 2048;

// Reads one line into buffer (kRecordLineSize bytes, NUL-terminated; a
// longer line is cut). A line ends at its first CR or LF; one more CR or LF
// right behind it belongs to the same line end. Returns the bytes taken from
// the stream, or the stream's negative result when nothing could be read.
std::int32_t readRecordLine(DataStream& stream, char* buffer);

// Reads the line of field into value (valueSize bytes, cleared first, the
// value cut to fit). Returns 0 when found; -2 at the end of the stream or
// at an empty line not allowed; -3 when another field was found; -4 when
// stopField (when not empty) was found, with the stream set back to the
// start of that line; or a negative read result. After -2, -3 or a read
// failure the stream's position and line number are those of the call.
// bytesRead receives how far the stream moved (not set at the end).
std::int32_t readValidData(DataStream& stream, const char* field, const char* stopField, std::int32_t& bytesRead,
                           char* value, std::int32_t valueSize, const char* fileName, bool emptyLinesAllowed);

// Logs "[file] line N: message" on the resources channel; returns false.
bool textRecordError(DataStream& stream, const char* fileName, const char* format, ...) ENGINE_PRINTF(3, 4);
