// The sound settings read from the INI store.
#include <gtest/gtest.h>

#include "foundation/IniFile.h"
#include "sound/SoundSettings.h"
#include "support/TestSupport.h"

namespace {

TEST(SoundSettings, DefaultsForMissingKeysAndValuesFromTheStore) {
    testing_support::ScopedGameCore scoped;
    IniFile settings;
    settings.getCategory("sound").getVariable("disable_sound_device").setString("yes");
    settings.getCategory("sound").getVariable("atten_max_sound_distance").setString("40");
    settings.getCategory("sound").getVariable("max3d_voice_distance").setString("");
    readSoundCoreSettings(settings);
    readSound3dSettings(settings);
    const SoundSettings& s = soundSettings;
    EXPECT_TRUE(s.disableSoundDevice);
    EXPECT_FLOAT_EQ(s.attenMaxDistance, 40.0f);
    EXPECT_FLOAT_EQ(s.attenMinDistance, -2.0f);
    EXPECT_TRUE(s.useSoft3dAttenuation);
    EXPECT_FLOAT_EQ(s.max3dVoiceDistance, 30.0f);
    EXPECT_FLOAT_EQ(s.max3dFootstepsDistance, 15.0f);
    for (const char* key : {"atten_min_sound_value", "duplicate_thread_cache_time", "max3d_anim_sound_distance"})
        EXPECT_NE(settings.findCategory("sound")->findVariable(key), nullptr) << key;
    EXPECT_NE(settings.findCategory("debug")->findVariable("debug_sound_name"), nullptr);
}

}  // namespace
