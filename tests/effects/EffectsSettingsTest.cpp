// The light and particle settings read from the INI store.
#include <gtest/gtest.h>

#include "effects/EffectsSettings.h"
#include "support/SettingsFixture.h"

namespace {

TEST(EffectsSettings, DefaultsForMissingKeysAndValuesFromTheStore) {
    const testing_support::KeptValues kept(lightSettings, particleSettings, spriteSettings);
    testing_support::SettingsFixture f;
    f.set("render_ffp", "ffp_point_atten2", "0.5")
        .set("render", "fill_color_diffuse_mult", "0.25")
        .set("debug", "disable_particle_render", "on");
    readLightRenderSettings(f.settings);
    readLightSettings(f.settings);
    readParticleSettings(f.settings);
    EXPECT_FLOAT_EQ(lightSettings.ffpPointAtten2, 0.5f);
    EXPECT_FLOAT_EQ(lightSettings.ffpDiffuseMult, 1.5f);
    EXPECT_FLOAT_EQ(lightSettings.fillColorDiffuseMult, 0.25f);
    EXPECT_FLOAT_EQ(particleSettings.bgParticleSimulationFps, 20.0f);
    EXPECT_EQ(particleSettings.maxParticleLayerPointsCount, 600);
    EXPECT_TRUE(particleSettings.disableParticleRender);
    // The key of the fixed-function diffuse factor is spelled "fpp_".
    EXPECT_TRUE(f.has("render_ffp", "fpp_diffuse_mult"));
    EXPECT_TRUE(f.has("debug", "debug_particle_name"));
}

TEST(EffectsSettings, PointCountIsACountOrTheDefault) {
    const testing_support::KeptValues kept(lightSettings, particleSettings, spriteSettings);
    const struct {
        const char* text;
        std::int32_t expected;
    } cases[] = {{"250", 250}, {"", 600}, {"12x", 600}, {"many", 600}, {"99999999999", 600}, {"-3", 600}, {"0", 0}};
    for (const auto& c : cases) {
        testing_support::SettingsFixture f;
        f.set("particle", "max_particle_layer_points_count", c.text);
        readParticleSettings(f.settings);
        EXPECT_EQ(particleSettings.maxParticleLayerPointsCount, c.expected) << c.text;
    }
}

}  // namespace
