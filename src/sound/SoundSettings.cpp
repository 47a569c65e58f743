#include "sound/SoundSettings.h"

#include "app/GameCore.h"
#include "foundation/IniFile.h"
#include "sound/SoundCore.h"

SoundSettings soundSettings;

namespace {

void readFloat(IniCategory& section, const char* key, float& value, float defaultValue) {
    section.getVariable(key).getFloat(value, defaultValue);
}

void readBool(IniCategory& section, const char* key, bool& value, bool defaultValue) {
    section.getVariable(key).getBool(value, defaultValue);
}

}  // namespace

void readSoundCoreSettings(IniFile& settings) {
    SoundSettings& s = soundSettings;
    IniCategory& sound = settings.getCategory("sound");
    readFloat(sound, "atten_min_sound_distance", s.attenMinDistance, -2.0f);
    readFloat(sound, "atten_max_sound_distance", s.attenMaxDistance, 100.0f);
    readFloat(sound, "atten_min_sound_value", s.attenMinValue, 0.01f);
    readFloat(sound, "atten_max_sound_value", s.attenMaxValue, 1.0f);
    readBool(sound, "use_soft_3d_attenuation", s.useSoft3dAttenuation, true);
    readFloat(sound, "duplicate_thread_cache_time", s.duplicateThreadCacheTime, 5.0f);
    readBool(sound, "disable_sound_device", s.disableSoundDevice, false);
    if (gameCore.sound) gameCore.sound->readDefaultVolumes();
}

void readSound3dSettings(IniFile& settings) {
    SoundSettings& s = soundSettings;
    settings.getCategory("debug").getVariable("debug_sound_name").getString(s.debugSoundName, "");
    IniCategory& sound = settings.getCategory("sound");
    readFloat(sound, "max3d_footsteps_distance", s.max3dFootstepsDistance, 15.0f);
    readFloat(sound, "max3d_anim_sound_distance", s.max3dAnimSoundDistance, 30.0f);
    readFloat(sound, "max3d_voice_distance", s.max3dVoiceDistance, 30.0f);
}
