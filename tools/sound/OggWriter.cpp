#include "sound/OggWriter.h"

#include <vorbis/vorbisenc.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <sstream>

namespace oggwrite {

namespace {

constexpr double kPi = 3.14159265358979323846;

bool fail(std::string& error, int line, const std::string& what) {
    error = "line " + std::to_string(line) + ": " + what;
    return false;
}

}  // namespace

bool parse(const std::string& text, Description& description, std::string& error) {
    description = Description();
    std::istringstream lines(text);
    std::string line;
    int number = 0;
    while (std::getline(lines, line)) {
        ++number;
        if (const auto hash = line.find('#'); hash != std::string::npos) line.erase(hash);
        std::istringstream words(line);
        std::string keyword;
        if (!(words >> keyword)) continue;
        std::vector<double> values;
        double value = 0.0;
        while (words >> value) values.push_back(value);
        if (!words.eof()) return fail(error, number, "not a number after " + keyword);
        const auto count = values.size();
        auto window = [&](Event& event, std::size_t first) {
            if (count == first) return true;
            if (count != first + 2 || values[first] < 0.0 || values[first + 1] < values[first]) return false;
            event.from = values[first];
            event.to = values[first + 1];
            return true;
        };
        if (keyword == "rate" && count == 1 && values[0] >= 1000 && values[0] <= 192000) {
            description.rate = static_cast<int>(values[0]);
        } else if (keyword == "channels" && count == 1 && (values[0] == 1 || values[0] == 2)) {
            description.channels = static_cast<int>(values[0]);
        } else if (keyword == "length" && count == 1 && values[0] > 0.0 && values[0] <= 3600.0) {
            description.length = values[0];
        } else if (keyword == "quality" && count == 1 && values[0] >= -0.1 && values[0] <= 1.0) {
            description.quality = values[0];
        } else if (keyword == "envelope" && count == 2 && values[0] >= 0.0 && values[1] >= 0.0) {
            description.attack = values[0];
            description.release = values[1];
        } else if (keyword == "tone" && count >= 2) {
            Event event;
            event.frequencies = {values[0]};
            event.amplitude = values[1];
            if (!window(event, 2)) return fail(error, number, "bad time window");
            description.events.push_back(event);
        } else if (keyword == "chord" && count >= 4) {
            Event event;
            event.amplitude = values[0];
            event.from = values[1];
            event.to = values[2];
            if (event.from < 0.0 || event.to < event.from) return fail(error, number, "bad time window");
            event.frequencies.assign(values.begin() + 3, values.end());
            description.events.push_back(event);
        } else if (keyword == "noise" && count >= 1) {
            Event event;
            event.kind = Event::Noise;
            event.amplitude = values[0];
            if (!window(event, 1)) return fail(error, number, "bad time window");
            description.events.push_back(event);
        } else if (keyword == "silence" && count == 2) {
            Event event;
            event.kind = Event::Silence;
            if (!window(event, 0)) return fail(error, number, "bad time window");
            description.events.push_back(event);
        } else {
            return fail(error, number, "unknown statement or wrong values: " + keyword);
        }
    }
    return true;
}

std::vector<float> render(const Description& description) {
    const auto frames = static_cast<std::size_t>(description.length * description.rate);
    const auto channels = static_cast<std::size_t>(description.channels);
    std::vector<float> mono(frames, 0.0f);
    std::uint32_t noise = 0x12345678u;
    auto range = [&](const Event& event, std::size_t& first, std::size_t& last) {
        first = std::min(frames, static_cast<std::size_t>(event.from * description.rate));
        last = event.to < 0.0 ? frames : std::min(frames, static_cast<std::size_t>(event.to * description.rate));
    };
    for (const Event& event : description.events) {
        std::size_t first = 0, last = 0;
        range(event, first, last);
        for (std::size_t i = first; i < last; ++i) {
            const double t = static_cast<double>(i) / description.rate;
            double sample = 0.0;
            if (event.kind == Event::Tone) {
                for (double frequency : event.frequencies) sample += std::sin(2.0 * kPi * frequency * t);
            } else if (event.kind == Event::Noise) {
                noise = noise * 1664525u + 1013904223u;
                sample = static_cast<double>(noise >> 8) / static_cast<double>(1u << 23) - 1.0;
            } else {
                mono[i] = 0.0f;
                continue;
            }
            mono[i] += static_cast<float>(sample * event.amplitude);
        }
    }
    for (std::size_t i = 0; i < frames; ++i) {
        const double t = static_cast<double>(i) / description.rate;
        double gain = 1.0;
        if (description.attack > 0.0 && t < description.attack) gain = t / description.attack;
        const double left = description.length - t;
        if (description.release > 0.0 && left < description.release) gain = std::min(gain, left / description.release);
        mono[i] = std::clamp(static_cast<float>(mono[i] * gain), -1.0f, 1.0f);
    }
    std::vector<float> samples(frames * channels);
    for (std::size_t i = 0; i < frames; ++i)
        for (std::size_t c = 0; c < channels; ++c) samples[i * channels + c] = mono[i];
    return samples;
}

std::string encode(const std::vector<float>& samples, int channels, int rate, double quality) {
    if (channels < 1 || channels > 2 || rate <= 0) return {};
    vorbis_info info;
    vorbis_info_init(&info);
    if (vorbis_encode_init_vbr(&info, channels, rate, static_cast<float>(quality)) != 0) {
        vorbis_info_clear(&info);
        return {};
    }
    vorbis_comment comment;
    vorbis_comment_init(&comment);
    vorbis_dsp_state dsp;
    vorbis_block block;
    vorbis_analysis_init(&dsp, &info);
    vorbis_block_init(&dsp, &block);
    ogg_stream_state stream;
    // A fixed serial number: the same description gives the same bytes.
    ogg_stream_init(&stream, 0x5EED);

    std::string out;
    ogg_page page;
    ogg_packet packet;
    auto drainPages = [&](bool flush) {
        while (flush ? ogg_stream_flush(&stream, &page) : ogg_stream_pageout(&stream, &page)) {
            out.append(reinterpret_cast<const char*>(page.header), static_cast<std::size_t>(page.header_len));
            out.append(reinterpret_cast<const char*>(page.body), static_cast<std::size_t>(page.body_len));
        }
    };
    ogg_packet header, headerComment, headerCode;
    vorbis_analysis_headerout(&dsp, &comment, &header, &headerComment, &headerCode);
    ogg_stream_packetin(&stream, &header);
    ogg_stream_packetin(&stream, &headerComment);
    ogg_stream_packetin(&stream, &headerCode);
    drainPages(true);

    const std::size_t frames = samples.size() / static_cast<std::size_t>(channels);
    constexpr std::size_t kChunk = 4096;
    for (std::size_t done = 0;;) {
        const std::size_t count = std::min(kChunk, frames - done);
        if (count > 0) {
            float** buffer = vorbis_analysis_buffer(&dsp, static_cast<int>(count));
            for (std::size_t i = 0; i < count; ++i)
                for (int c = 0; c < channels; ++c)
                    buffer[c][i] = samples[(done + i) * static_cast<std::size_t>(channels) + static_cast<std::size_t>(c)];
        }
        vorbis_analysis_wrote(&dsp, static_cast<int>(count));
        while (vorbis_analysis_blockout(&dsp, &block) == 1) {
            vorbis_analysis(&block, nullptr);
            vorbis_bitrate_addblock(&block);
            while (vorbis_bitrate_flushpacket(&dsp, &packet)) {
                ogg_stream_packetin(&stream, &packet);
                drainPages(false);
            }
        }
        if (count == 0) break;
        done += count;
    }
    drainPages(true);
    ogg_stream_clear(&stream);
    vorbis_block_clear(&block);
    vorbis_dsp_clear(&dsp);
    vorbis_comment_clear(&comment);
    vorbis_info_clear(&info);
    return out;
}

std::string write(const std::string& text, std::string& error) {
    Description description;
    if (!parse(text, description, error)) return {};
    std::string bytes = encode(render(description), description.channels, description.rate, description.quality);
    if (bytes.empty()) error = "the encoder refused the format";
    return bytes;
}

}  // namespace oggwrite
