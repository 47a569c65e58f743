#include "sound/SoundSettings.h"

#include "app/GameCore.h"
#include "foundation/IniFile.h"
#include "foundation/SettingsReader.h"
#include "sound/SoundCore.h"

SoundSettings soundSettings;

void readSoundCoreSettings(IniFile& settings) {
    SoundSettings& s = soundSettings;
    IniCategory& sound = settings.getCategory("sound");
    readSetting(sound, "atten_min_sound_distance", s.attenMinDistance, -2.0f);
    readSetting(sound, "atten_max_sound_distance", s.attenMaxDistance, 100.0f);
    readSetting(sound, "atten_min_sound_value", s.attenMinValue, 0.01f);
    readSetting(sound, "atten_max_sound_value", s.attenMaxValue, 1.0f);
    readSetting(sound, "use_soft_3d_attenuation", s.useSoft3dAttenuation, true);
    readSetting(sound, "duplicate_thread_cache_time", s.duplicateThreadCacheTime, 5.0f);
    readSetting(sound, "disable_sound_device", s.disableSoundDevice, false);
    if (gameCore.sound) gameCore.sound->readDefaultVolumes();
}

void readSound3dSettings(IniFile& settings) {
    SoundSettings& s = soundSettings;
    readSetting(settings.getCategory("debug"), "debug_sound_name", s.debugSoundName, "");
    IniCategory& sound = settings.getCategory("sound");
    readSetting(sound, "max3d_footsteps_distance", s.max3dFootstepsDistance, 15.0f);
    readSetting(sound, "max3d_anim_sound_distance", s.max3dAnimSoundDistance, 30.0f);
    readSetting(sound, "max3d_voice_distance", s.max3dVoiceDistance, 30.0f);
}
