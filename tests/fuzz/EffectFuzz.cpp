// Fuzz target of the particle effect files: the bytes are read as an
// ".effect"; a refused file leaves no effect, an accepted one has only
// layers whose emission period stays above 0 and within the longest period
// a particle may pre-simulate, whose atlas has rows and columns, and no
// more layers than its bytes could hold.
#include <cmath>
#include <memory>
#include <string>

#include "effects/ParticleData.h"
#include "foundation/DataStream.h"
#include "fuzz/FuzzTarget.h"
#include "particle/ParticleWriter.h"

namespace fuzzing {

int fuzzEffect(const std::uint8_t* data, std::size_t size) {
    if (size > (1u << 20)) return 0;
    std::string bytes(reinterpret_cast<const char*>(data), size);
    MemoryStream in(bytes.data(), static_cast<std::int32_t>(bytes.size()));
    std::unique_ptr<ParticleEffect> effect;
    const std::int32_t result = ParticleDataManager::createData(in, effect, "fuzz");
    if (result < 0) {
        fuzzCheck(effect == nullptr, "effect: a refused file left an effect");
        forgetLog();
        return 0;
    }
    fuzzCheck(effect != nullptr && result <= static_cast<std::int32_t>(size), "effect: an accepted file has no effect");
    fuzzCheck(effect->layers.size() * std::size_t(kParticleLayerMinimumBytes) <= size,
              "effect: more layers than the bytes hold");
    for (const auto& layer : effect->layers) {
        fuzzCheck(layer->emission.period - std::fabs(layer->emission.periodJitter) > 0.0f,
                  "effect: an accepted layer's period can reach 0");
        const double longest = static_cast<double>(layer->emission.period) + std::fabs(layer->emission.periodJitter);
        fuzzCheck(std::isfinite(longest) && longest <= kMaxParticleEmissionPeriod,
                  "effect: an accepted layer's period is endless");
        fuzzCheck(layer->atlas.rows > 0 && layer->atlas.columns > 0, "effect: an accepted layer has an empty atlas");
    }
    effect->release();
    forgetLog();
    return 0;
}

void seedEffect(std::vector<std::string>& out) {
    const char* const texts[] = {
        "kind 0\n",
        "name puff\nkind 1\nlimit 20\nreplace 2\nlayer a\nperiod 0.5 0.1\nrate 4\nframes 2 2\ntexture fx\n",
        "name sparks\nsound hiss\nkillbox 1 -1 -1 -1 1 1 1\nlayer a\nsphere 0.2 1\nblend 1\nlayer b\nbox 0 0 0 1 1 1\n"
        "drag 0.5 3\ngravity 9.8\ncolor 1 0.5 0 1 1 0 0 0\n",
    };
    for (const char* text : texts) {
        std::string error;
        const std::string file = particle_tools::effectFileBytes(text, error);
        if (file.empty()) continue;
        out.push_back(file);
        out.push_back(file.substr(0, file.size() / 2));
        std::string flipped = file;
        for (std::size_t at = 11; at < flipped.size(); at += 997) flipped[at] = char(flipped[at] ^ (1 << (at % 8)));
        out.push_back(flipped);
    }
}

}  // namespace fuzzing
