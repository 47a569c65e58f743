// The particle record of a still-frame item without a particle system
// behind it: the record keeps its layer, place, power, mask and effect
// sets for the builder and the scripts, and a particle by name is refused.
#include <algorithm>
#include <cctype>
#include <cstring>
#include <string>

#include "effects/Particle.h"
#include "foundation/Log.h"
#include "ui/StillFrameData.h"
#include "ui/StillFrameItem.h"

namespace {

const char* const kEffectNames[ModeCount] = {"none",   "show",    "hide",    "move",    "mouse",   "resize",
                                             "rotate", "animate", "texture", "show_pp", "hide_pp", "scroll"};

}  // namespace

StillFrameParticle::StillFrameParticle() = default;
StillFrameParticle::~StillFrameParticle() = default;

void StillFrameParticle::readSettings(IniFile&) {}

bool StillFrameParticle::setParticle(StillFrameScriptDataItem& owner, const char* name) {
    std::string wanted(name ? name : "", name ? std::min(std::strlen(name), std::size_t(127)) : 0);
    std::transform(wanted.begin(), wanted.end(), wanted.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    if (wanted.empty()) {
        release();
        return true;
    }
    return engineLog().error("SF[%s]->setParticle: Can't create particle [%s]", owner.name.c_str(), wanted.c_str());
}

bool StillFrameParticle::setEffect(const StillFrameScriptDataItem& owner, const char* name, bool on) {
    for (std::int32_t i = 0; name && i < ModeCount; ++i) {
        if (std::strcmp(name, kEffectNames[i]) != 0) continue;
        const std::uint32_t bit = 1u << i;
        playSet = on ? playSet | bit : playSet & ~bit;
        pauseSet = on ? pauseSet & ~bit : pauseSet | bit;
        return true;
    }
    return engineLog().error("Can't set undefined effect [%s] for [%s] Sf particle", name ? name : "NULL",
                             owner.name.c_str());
}

bool StillFrameParticle::setRunning(bool) { return particle != nullptr; }

void StillFrameParticle::update(StillFrameScriptDataItem&, const CurrentTime&, std::uint32_t) {}

std::int32_t StillFrameParticle::draw(std::int32_t, StillFrameData&) { return StillFrameScriptDataItem::kNoLayer; }

void StillFrameParticle::release() {
    particle.reset();
    mask.source.link.release(false);
    playSet = pauseSet = 0;
}
