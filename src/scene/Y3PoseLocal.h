// Record helpers shared by the pose kinds' files; nothing outside the
// pose code includes this header.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "foundation/TextRecord.h"
#include "scene/GameObject.h"
#include "scene/Y3Pose.h"

class DataStream;
class Scene;

namespace pose_detail {

// Longest text value a record line can carry.
constexpr std::int32_t kValueSize = kRecordLineSize;

std::int32_t writeString(DataStream& stream, const std::string& line);
// "key value\r\n"; the line's length or a negative result.
std::int32_t writeLine(DataStream& stream, const char* key, const std::string& value);
// The value's bytes as upper-case hex.
std::int32_t writeHexLine(DataStream& stream, const char* key, const void* bytes, std::int32_t count);
// Reads a field line into value; 0 or the reader's result. An optional
// field leaves value empty when the line names another field (the stream
// then stands before that line).
std::int32_t readField(DataStream& stream, const char* key, std::string& value, std::int32_t& total,
                       const char* fileName, bool optional);
// Reads a hex field of exactly count bytes; -1 for a bad value.
std::int32_t readHexField(DataStream& stream, const char* key, void* out, std::int32_t count, std::int32_t& total,
                          const char* fileName);
// Reads a count line and the line of that many 3-float points.
std::int32_t readPointsText(DataStream& stream, const char* countKey, const char* itemsKey,
                            std::vector<PoseVector3>& points, std::int32_t& total, const char* fileName);
std::string pointsHex(const std::vector<PoseVector3>& points);
// The count line and the points line; more points than a line holds (what
// readPointsText refuses) are refused with -1, logged.
std::int32_t writePointsText(DataStream& stream, const char* countKey, const char* itemsKey,
                             const std::vector<PoseVector3>& points);
std::int32_t writeCount(DataStream& stream, const char* key, std::size_t count);
// Each of the three values made non-negative.
void absolute(float* size);
// A name behind a length prefix of 1 or 2 bytes; reading into a 128-byte
// field refuses (-1, logged) a longer name than the field holds.
std::int32_t writeName(DataStream& stream, const char* text, int width);
std::int32_t readName(DataStream& stream, char* field, int width, const char* what);
// The link word of a binary record: written as it is, read as no link.
std::int32_t readLinkWord(DataStream& stream, GameObjectLink& link);
GameObject* resolve(GameObjectLink link);
// The scene an object belongs to, or null.
Scene* sceneOf(const GameObject* object);

}  // namespace pose_detail
