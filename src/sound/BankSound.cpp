#include "sound/BankSound.h"

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
    for (SoundInstance* instance : instances) delete instance;
    instances.clear();
}
