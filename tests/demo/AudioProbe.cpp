// Reads what the game played into SDL's disk audio file (raw 16-bit
// signed little-endian samples, interleaved, at the given rate and channel
// count) and prints, one "key value" a line for the audio test to read:
//   seconds         the length of the recording
//   sound_from      the time of the first sound (-1 when all is silent)
//   sound_to        the end of the last sound
//   tail_silence    seconds of silence after the last sound
//   music_from      the first half second holding the music's tone
//   music_to        the end of the last such half second
//   music_seconds   seconds between them that hold it
//   music_gap       the longest stretch between them without it
//   music_lowest    the lowest level of the tone between them (0..1)
//   music_share     the share of the time between them that holds it
//   clicks          bursts of the click's tone
//   click_at        the time of each burst, one line each
//   level           each half second's start, its music tone and its
//                   level (root mean square), one line each
// The music's tone is a frequency every tune of the game holds; a click is
// a short burst of its own frequency.
//
// Usage: audioprobe <file> <rate> <channels> <music Hz> <music floor>
//                   <click Hz> <click floor>
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

// The amplitude (0..1) of one frequency over samples [from, from + count),
// by the Goertzel recurrence.
double toneAmplitude(const std::vector<float>& samples, std::size_t from, std::size_t count, double frequency,
                     double rate) {
    const double kPi = 3.14159265358979323846;
    const double coefficient = 2.0 * std::cos(2.0 * kPi * frequency / rate);
    double previous = 0.0, before = 0.0;
    for (std::size_t i = 0; i < count; ++i) {
        const double current = samples[from + i] + coefficient * previous - before;
        before = previous;
        previous = current;
    }
    const double power = previous * previous + before * before - coefficient * previous * before;
    return 2.0 * std::sqrt(std::max(power, 0.0)) / static_cast<double>(count);
}

double rootMeanSquare(const std::vector<float>& samples, std::size_t from, std::size_t count) {
    double sum = 0.0;
    for (std::size_t i = 0; i < count; ++i) sum += samples[from + i] * samples[from + i];
    return count ? std::sqrt(sum / static_cast<double>(count)) : 0.0;
}

bool readNumber(const char* text, double& value) {
    char* end = nullptr;
    value = std::strtod(text, &end);
    return end != text && *end == '\0' && std::isfinite(value) && value > 0.0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 8) {
        std::fprintf(stderr,
                     "usage: %s <file> <rate> <channels> <music Hz> <music floor> <click Hz> <click floor>\n",
                     argv[0]);
        return 2;
    }
    double numbers[6];
    for (int i = 0; i < 6; ++i)
        if (!readNumber(argv[2 + i], numbers[i])) {
            std::fprintf(stderr, "audioprobe: [%s] is no positive number\n", argv[2 + i]);
            return 2;
        }
    const double rate = numbers[0];
    const std::size_t channels = static_cast<std::size_t>(numbers[1]);
    const double musicHz = numbers[2], musicFloor = numbers[3], clickHz = numbers[4], clickFloor = numbers[5];
    if (channels < 1 || channels > 8 || musicHz * 2 >= rate || clickHz * 2 >= rate) {
        std::fprintf(stderr, "audioprobe: the channels or frequencies do not fit the rate\n");
        return 2;
    }
    std::ifstream in(argv[1], std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "audioprobe: can't open [%s]\n", argv[1]);
        return 1;
    }
    const std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    // Mixed down to one channel, -1..1.
    const std::size_t frames = bytes.size() / (2 * channels);
    std::vector<float> mono(frames);
    for (std::size_t f = 0; f < frames; ++f) {
        double sum = 0.0;
        for (std::size_t c = 0; c < channels; ++c) {
            const std::size_t at = 2 * (f * channels + c);
            const auto low = static_cast<std::uint8_t>(bytes[at]);
            const auto high = static_cast<std::uint8_t>(bytes[at + 1]);
            sum += static_cast<std::int16_t>(static_cast<std::uint16_t>(low | (high << 8))) / 32768.0;
        }
        mono[f] = static_cast<float>(sum / static_cast<double>(channels));
    }
    const double seconds = static_cast<double>(frames) / rate;
    std::printf("seconds %.3f\n", seconds);

    // Sound and silence in windows of 10 ms: below 1/3000 of full scale
    // (about -70 dB) a window is silent.
    const std::size_t shortWindow = static_cast<std::size_t>(rate / 100.0);
    const double silence = 1.0 / 3000.0;
    double soundFrom = -1.0, soundTo = 0.0;
    for (std::size_t at = 0; at + shortWindow <= frames; at += shortWindow) {
        if (rootMeanSquare(mono, at, shortWindow) < silence) continue;
        if (soundFrom < 0.0) soundFrom = static_cast<double>(at) / rate;
        soundTo = static_cast<double>(at + shortWindow) / rate;
    }
    std::printf("sound_from %.3f\nsound_to %.3f\ntail_silence %.3f\n", soundFrom, soundTo,
                soundFrom < 0.0 ? seconds : seconds - soundTo);

    // The music's tone in half seconds.
    const std::size_t longWindow = static_cast<std::size_t>(rate / 2.0);
    std::vector<double> levels;
    for (std::size_t at = 0; at + longWindow <= frames; at += longWindow)
        levels.push_back(toneAmplitude(mono, at, longWindow, musicHz, rate));
    std::ptrdiff_t first = -1, last = -1;
    for (std::size_t i = 0; i < levels.size(); ++i)
        if (levels[i] >= musicFloor) {
            if (first < 0) first = static_cast<std::ptrdiff_t>(i);
            last = static_cast<std::ptrdiff_t>(i);
        }
    std::size_t held = 0, gap = 0, longestGap = 0;
    double lowest = first < 0 ? 0.0 : 1.0;
    for (std::ptrdiff_t i = first; first >= 0 && i <= last; ++i) {
        const double level = levels[static_cast<std::size_t>(i)];
        lowest = std::min(lowest, level);
        if (level >= musicFloor) {
            ++held;
            gap = 0;
        } else {
            longestGap = std::max(longestGap, ++gap);
        }
    }
    const double musicFrom = first < 0 ? -1.0 : 0.5 * static_cast<double>(first);
    const double musicTo = last < 0 ? -1.0 : 0.5 * static_cast<double>(last + 1);
    std::printf("music_from %.3f\nmusic_to %.3f\nmusic_seconds %.3f\nmusic_gap %.3f\nmusic_lowest %.5f\n", musicFrom,
                musicTo, 0.5 * static_cast<double>(held), 0.5 * static_cast<double>(longestGap), lowest);
    std::printf("music_share %.3f\n",
                first < 0 ? 0.0 : static_cast<double>(held) / static_cast<double>(last - first + 1));

    // Clicks: 10 ms windows where the click's tone rises above its floor
    // after 50 ms below it.
    std::vector<double> clicks;
    std::size_t quiet = 5;
    for (std::size_t at = 0; at + shortWindow <= frames; at += shortWindow) {
        if (toneAmplitude(mono, at, shortWindow, clickHz, rate) >= clickFloor) {
            if (quiet >= 5) clicks.push_back(static_cast<double>(at) / rate);
            quiet = 0;
        } else {
            ++quiet;
        }
    }
    std::printf("clicks %zu\n", clicks.size());
    for (double at : clicks) std::printf("click_at %.3f\n", at);
    for (std::size_t i = 0; i < levels.size(); ++i)
        std::printf("level %.1f %.5f %.5f\n", 0.5 * static_cast<double>(i), levels[i],
                    rootMeanSquare(mono, i * longWindow, longWindow));
    return 0;
}
