// The process-wide pseudo-random generator: MT19937 with the seeding of its
// first publication (each word the previous one times 69069), seeded with
// 4357 before the first draw, so every run draws the same sequence. Every
// draw anywhere advances the one state. Main thread only, no lock.
#pragma once

#include <cstdint>

class MersenneTwister {
public:
    static void seed(std::uint32_t value);
    // A number in [0, 1], both ends included (a word over 2^32 - 1).
    static double nextDouble();
    // low + nextDouble() x (high - low); with low above high the ends swap.
    static double range(double low, double high);
    // The scale applied to a tempered output word.
    static double toUnit(std::uint32_t word) { return static_cast<double>(word) * 2.3283064370807974e-10; }
};
