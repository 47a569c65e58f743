// Lip-sync tracks: frames of eight mouth-shape weights sampled evenly over
// the length of a voice line. The packages store them compiled (".lip");
// the text form (".trk") is imported by the morph data manager.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

class DataStream;

// The mouth shapes, in channel order.
constexpr int kMorphChannelCount = 8;
extern const char* const kMorphChannelNames[kMorphChannelCount];

using MorphFrame = std::array<float, kMorphChannelCount>;

// Bounds of what a track may hold: a ".lip" larger than this, a ".trk"
// line longer or with more columns is damaged input.
constexpr std::uint32_t kMorphMaxFrames = 1u << 20;
constexpr std::size_t kMorphMaxLineLength = 4096;
constexpr std::int32_t kMorphMaxColumns = 256;

struct MorphTrack {
    // 1 / the track's length in seconds: rate × elapsed is the part played.
    double rate = 0.0;
    // 1 / the frame count.
    double step = 0.0;
    std::vector<MorphFrame> frames;

    // The ".lip" form. read frees the frames first; a track without frames,
    // with a rate that is not a positive finite number or more frames than
    // the stream holds is refused (-1, logged with the name given).
    std::int32_t read(DataStream& stream, const char* name = "");
    std::int32_t write(DataStream& stream) const;
    void clear();
};

// Each weight k = w × next[k] + (1 − w) × current[k], in double precision.
MorphFrame blendMorphFrames(const MorphFrame& next, const MorphFrame& current, double w);
