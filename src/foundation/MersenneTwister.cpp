#include "foundation/MersenneTwister.h"

namespace {

constexpr int kWords = 624;
constexpr int kMiddle = 397;
constexpr std::uint32_t kMatrix = 0x9908B0DFu;
constexpr std::uint32_t kUpper = 0x80000000u;
constexpr std::uint32_t kLower = 0x7FFFFFFFu;
constexpr int kNeverSeeded = kWords + 1;

// Constant-initialised, so a draw during static initialisation still finds
// the "never seeded" index and seeds with 4357 itself; that is the start
// value of every run, so no separate start-up seeding is needed.
struct State {
    std::uint32_t words[kWords];
    int index;
};
constinit State state{{}, kNeverSeeded};

void regenerate() {
    std::uint32_t* mt = state.words;
    auto twist = [&](int k, int next, int far) {
        const std::uint32_t y = (mt[k] & kUpper) | (mt[next] & kLower);
        mt[k] = mt[far] ^ (y >> 1) ^ ((y & 1u) ? kMatrix : 0u);
    };
    int k = 0;
    for (; k < kWords - kMiddle; ++k) twist(k, k + 1, k + kMiddle);
    for (; k < kWords - 1; ++k) twist(k, k + 1, k + kMiddle - kWords);
    twist(kWords - 1, 0, kMiddle - 1);
    state.index = 0;
}

}  // namespace

void MersenneTwister::seed(std::uint32_t value) {
    state.words[0] = value;
    for (int i = 1; i < kWords; ++i) state.words[i] = state.words[i - 1] * 69069u;
    state.index = kWords;
}

double MersenneTwister::nextDouble() {
    if (state.index >= kWords) {
        if (state.index == kNeverSeeded) seed(4357);
        regenerate();
    }
    std::uint32_t y = state.words[state.index++];
    y ^= y >> 11;
    y ^= (y << 7) & 0x9D2C5680u;
    y ^= (y << 15) & 0xEFC60000u;
    y ^= y >> 18;
    return toUnit(y);
}

double MersenneTwister::range(double low, double high) { return low + nextDouble() * (high - low); }
