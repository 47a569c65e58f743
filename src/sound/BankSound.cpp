#include "sound/BankSound.h"

#include "app/GameCore.h"
#include "foundation/Log.h"
#include "sound/SoundBuffer.h"

const char* soundChannelSource(std::int32_t channel) {
    switch (channel) {
    case SoundChannelEffect: return "effect";
    case SoundChannelVoice: return "voice";
    case SoundChannelAmbient:
    case SoundChannelAmbientLoop: return "ambient";
    case SoundChannelMusic: return "music";
    default: return "";
    }
}

bool soundChannelNeedsMono(std::int32_t channel) { return channel == SoundChannelVoice; }

BankSound::BankSound(const char* name, std::int32_t channel, const char* alias)
    : source(this), name_(name ? name : ""), channel_(channel), alias_(alias ? alias : "") {}

BankSound::~BankSound() {
    // Users left at destruction are reported, unless the process is going
    // down (then nothing is released in order).
    if ((!instances.empty() || !sounds.empty()) && !(gameCore.flags & 0x80000000u)) {
        engineLog().systemError("Can't delete sound [%s]: Not all threads released", name());
        engineLog().systemError("Not all sounds instances released from sound [%s] from alias [%s]= %i", name(),
                                alias(), static_cast<int>(sounds.size()));
    }
    for (SoundInstance* instance : instances) delete instance;
    instances.clear();
}
