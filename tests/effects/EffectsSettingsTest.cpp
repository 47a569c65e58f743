// The light and particle settings read from the INI store.
#include <gtest/gtest.h>

#include "effects/EffectsSettings.h"
#include "foundation/IniFile.h"
#include "support/TestSupport.h"

namespace {

TEST(EffectsSettings, DefaultsForMissingKeysAndValuesFromTheStore) {
    testing_support::ScopedGameCore scoped;
    IniFile settings;
    settings.getCategory("render_ffp").getVariable("ffp_point_atten2").setString("0.5");
    settings.getCategory("render").getVariable("fill_color_diffuse_mult").setString("0.25");
    settings.getCategory("debug").getVariable("disable_particle_render").setString("on");
    readLightRenderSettings(settings);
    readLightSettings(settings);
    readParticleSettings(settings);
    EXPECT_FLOAT_EQ(lightSettings.ffpPointAtten2, 0.5f);
    EXPECT_FLOAT_EQ(lightSettings.ffpDiffuseMult, 1.5f);
    EXPECT_FLOAT_EQ(lightSettings.fillColorDiffuseMult, 0.25f);
    EXPECT_FLOAT_EQ(particleSettings.bgParticleSimulationFps, 20.0f);
    EXPECT_EQ(particleSettings.maxParticleLayerPointsCount, 600);
    EXPECT_TRUE(particleSettings.disableParticleRender);
    // The key of the fixed-function diffuse factor is spelled "fpp_".
    EXPECT_NE(settings.findCategory("render_ffp")->findVariable("fpp_diffuse_mult"), nullptr);
    EXPECT_NE(settings.findCategory("debug")->findVariable("debug_particle_name"), nullptr);
}

TEST(EffectsSettings, PointCountIsACountOrTheDefault) {
    testing_support::ScopedGameCore scoped;
    const struct {
        const char* text;
        std::int32_t expected;
    } cases[] = {{"250", 250}, {"", 600}, {"12x", 600}, {"many", 600}, {"99999999999", 600}, {"-3", 600}, {"0", 0}};
    for (const auto& c : cases) {
        IniFile settings;
        settings.getCategory("particle").getVariable("max_particle_layer_points_count").setString(c.text);
        readParticleSettings(settings);
        EXPECT_EQ(particleSettings.maxParticleLayerPointsCount, c.expected) << c.text;
    }
}

}  // namespace
