// The sound settings read from the INI store.
#include <gtest/gtest.h>

#include "sound/SoundSettings.h"
#include "support/SettingsFixture.h"

namespace {

TEST(SoundSettings, DefaultsForMissingKeysAndValuesFromTheStore) {
    testing_support::SettingsFixture f;
    f.set("sound", "disable_sound_device", "yes")
        .set("sound", "atten_max_sound_distance", "40")
        .set("sound", "max3d_voice_distance", "");
    readSoundCoreSettings(f.settings);
    readSound3dSettings(f.settings);
    const SoundSettings& s = soundSettings;
    EXPECT_TRUE(s.disableSoundDevice);
    EXPECT_FLOAT_EQ(s.attenMaxDistance, 40.0f);
    EXPECT_FLOAT_EQ(s.attenMinDistance, -2.0f);
    EXPECT_TRUE(s.useSoft3dAttenuation);
    EXPECT_FLOAT_EQ(s.max3dVoiceDistance, 30.0f);
    EXPECT_FLOAT_EQ(s.max3dFootstepsDistance, 15.0f);
    for (const char* key : {"atten_min_sound_value", "duplicate_thread_cache_time", "max3d_anim_sound_distance"})
        EXPECT_TRUE(f.has("sound", key)) << key;
    EXPECT_TRUE(f.has("debug", "debug_sound_name"));
    // The record is process-wide: later tests start from the defaults.
    soundSettings = SoundSettings();
}

}  // namespace
