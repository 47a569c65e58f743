// Writes Ogg Vorbis files from a small text description, so that tests and
// the demo make their sounds instead of storing audio files.
//
// A description is one statement a line ("#" starts a comment):
//   rate 44100            samples per second (default 44100)
//   channels 2            1 or 2 (default 2)
//   length 0.5            seconds (default 1.0)
//   quality 0.4           encoder quality -0.1..1.0 (default 0.4)
//   tone FREQ AMP [FROM TO]          a sine wave, amplitude 0..1
//   chord AMP FROM TO FREQ FREQ ...  several sines of one amplitude
//   noise AMP [FROM TO]              white noise (a fixed sequence)
//   silence FROM TO                  nothing between the two times
//   envelope ATTACK RELEASE          linear fade in and fade out (seconds)
// Times are seconds from the start; without FROM and TO a sound lasts the
// whole length. Every sound plays on all channels.
#pragma once

#include <string>
#include <vector>

namespace oggwrite {

struct Event {
    enum Kind { Tone, Noise, Silence } kind = Tone;
    std::vector<double> frequencies;
    double amplitude = 0.0;
    double from = 0.0;
    double to = -1.0;  // negative: the end
};

struct Description {
    int rate = 44100;
    int channels = 2;
    double length = 1.0;
    double quality = 0.4;
    double attack = 0.0;
    double release = 0.0;
    std::vector<Event> events;
};

// Parses a description; false with a message naming the line on error.
bool parse(const std::string& text, Description& description, std::string& error);
// The interleaved samples (-1..1) of a description.
std::vector<float> render(const Description& description);
// Encodes interleaved samples; empty on failure.
std::string encode(const std::vector<float>& samples, int channels, int rate, double quality);
// parse, render and encode; empty on failure (error says why).
std::string write(const std::string& text, std::string& error);

}  // namespace oggwrite
