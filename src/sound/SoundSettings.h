// The sound settings read once at start from the INI store into one
// process-wide record. Missing keys are added to the store without a value
// and keep their defaults.
#pragma once

#include <string>

class IniFile;

struct SoundSettings {
    // Section "sound": the soft distance attenuation of 3D sounds.
    float attenMinDistance = -2.0f;
    float attenMaxDistance = 100.0f;
    float attenMinValue = 0.01f;
    float attenMaxValue = 1.0f;
    bool useSoft3dAttenuation = true;
    // Seconds a finished play instance stays cached for reuse.
    float duplicateThreadCacheTime = 5.0f;
    // Device creation counts as failed.
    bool disableSoundDevice = false;
    // Read, steering nothing: "debug_sound_name" (section "debug") and the
    // 3D distances of section "sound".
    std::string debugSoundName;
    float max3dFootstepsDistance = 15.0f;
    float max3dAnimSoundDistance = 30.0f;
    float max3dVoiceDistance = 30.0f;
};

extern SoundSettings soundSettings;

// Section "sound", then the default setup volumes of the game core's sound
// core (section "setup-defaults").
void readSoundCoreSettings(IniFile& settings);
// Sections "debug" and "sound": the 3D distances.
void readSound3dSettings(IniFile& settings);
