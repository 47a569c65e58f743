// The sky dome: its rings from the settings of section "sky", their texture
// radius, the jitter-free circle, and counts kept within the index range.
#include "effects/SkyDome.h"

#include <gtest/gtest.h>

#include <cmath>

#include "app/GameCore.h"
#include "foundation/Log.h"
#include "foundation/MersenneTwister.h"
#include "platform/D3D9TestSupport.h"
#include "model/DXStreams.h"
#include "render/RenderCore.h"
#include "render/shaders/ShaderCore.h"
#include "render/states/DXStateCache.h"
#include "support/TestSupport.h"
#include "support/SettingsFixture.h"

namespace {

TEST(SkyDome, TheDefaultsMakeTheRingsFromTheHorizonAtTheEyeToTheZenith) {
    testing_support::SettingsFixture f;
    readSkyDomeSettings(f.settings);
    SkyDome dome;
    ASSERT_TRUE(dome.build());
    EXPECT_EQ(dome.vertexCount(), 600);
    EXPECT_EQ(dome.triangleCount(), 1102);
    EXPECT_EQ(dome.indices.size(), 3306u);
    // The lowest ring lies at the eye; its radius is 2000 x cos(asin(0.9)).
    for (int j = 0; j < 20; ++j) {
        const SkyDomeVertex& v = dome.vertices[j];
        EXPECT_NEAR(v.y, 0.0f, 1e-3f);
        EXPECT_NEAR(std::hypot(v.x, v.z), 2000.0f * std::sqrt(1.0f - 0.81f), 0.05f);
    }
    // The first and last vertex of a ring coincide; the zenith ring is a point
    // with texture radius 0.
    EXPECT_NEAR(dome.vertices[0].x, dome.vertices[19].x, 1e-2f);
    EXPECT_NEAR(dome.vertices[0].z, dome.vertices[19].z, 1e-2f);
    const SkyDomeVertex& top = dome.vertices[29 * 20 + 7];
    EXPECT_NEAR(top.y, 200.0f, 1e-2f);
    EXPECT_NEAR(std::hypot(top.u, top.v), 0.0f, 1e-6f);
    // The first quad of the first ring.
    const std::uint16_t first[6] = {0, 1, 20, 20, 1, 21};
    for (int i = 0; i < 6; ++i) EXPECT_EQ(dome.indices[i], first[i]);
}

TEST(SkyDome, WithoutNoiseEachRingsTextureLiesOnACircleOfItsTextureRadius) {
    SkyDomeSettings settings;
    settings.noise = 0.0f;
    SkyDome dome;
    ASSERT_TRUE(dome.build(settings));
    const float a0 = std::asin(0.9f);
    for (int i = 0; i < settings.hSegments; ++i) {
        const float c = std::cos(i * (1.570796325f - a0) / 29.0f + a0);
        const float t = c > 0.435f ? (c - 0.4f) * (c - 0.4f) * 9.0f + 0.435f : c;
        for (int j = 0; j < settings.wSegments; ++j) {
            const SkyDomeVertex& v = dome.vertices[i * 20 + j];
            EXPECT_NEAR(std::hypot(v.u, v.v), t, 1e-5f) << i << " " << j;
            // Unjittered, the texture turns with the position.
            if (i + 1 < settings.hSegments) EXPECT_NEAR(std::atan2(v.u, v.v), std::atan2(v.x, v.z), 1e-3f);
        }
    }
    // A steep cap reaches rings with cos a at most 0.435: t = cos a there.
    settings.height = 1500.0f;
    ASSERT_TRUE(dome.build(settings));
    const SkyDomeVertex& ring = dome.vertices[20 * 20];
    const float c = std::hypot(ring.x, ring.z) / 2000.0f;
    ASSERT_LE(c, 0.435f);
    EXPECT_NEAR(std::hypot(ring.u, ring.v), c, 1e-4f);
}

TEST(SkyDome, SegmentCountsOutsideTheIndexRangeAreClamped) {
    struct Case {
        const char *h, *w;
        std::int32_t hUsed, wUsed;
        bool logged;
    };
    for (const Case c : {Case{"1", "1", 2, 2, true}, {"300", "300", 255, 255, true}, {"30", "0", 30, 2, true},
                         {"255", "255", 255, 255, false}, {"2", "2", 2, 2, false}}) {
        testing_support::SettingsFixture f;
        f.set("sky", "hSegments", c.h).set("sky", "wSegments", c.w);
        readSkyDomeSettings(f.settings);
        EXPECT_EQ(skyDomeSettings.hSegments, c.hUsed) << c.h;
        EXPECT_EQ(skyDomeSettings.wSegments, c.wUsed) << c.w;
        EXPECT_EQ(f.log().contains("Sky dome segments"), c.logged) << c.h << " " << c.w;
        SkyDome dome;
        ASSERT_TRUE(dome.build());
        EXPECT_EQ(dome.vertexCount(), c.hUsed * c.wUsed);
        EXPECT_EQ(dome.triangleCount(), 2 * (c.hUsed - 1) * (c.wUsed - 1));
        for (std::uint16_t index : dome.indices) ASSERT_LT(index, dome.vertexCount());
        for (const SkyDomeVertex& v : dome.vertices) ASSERT_TRUE(std::isfinite(v.y) && std::isfinite(v.u));
    }
    skyDomeSettings = SkyDomeSettings{};
}

}  // namespace

namespace {

class SkyDomeBuffers : public d3d9_test::D3D9Test {};

// The buffers are made for a device, refused with their messages when the
// device cannot give them, and made again after a release (a device reset).
TEST_F(SkyDomeBuffers, AreMadeForTheDeviceAndAgainAfterARelease) {
    open();
    // The draw goes through the render core's state cache and the stream
    // declarations it allocates on the device.
    RenderCore render;
    testing_support::ScopedCoreMember<RenderCore> useRender{gameCore.render, &render};
    render.stateCache().setDevice(device);
    render.stateCache().initialize(false);
    render.shaders().attach(device, &render.stateCache());
    ASSERT_TRUE(render.streamDeclarations().allocate(device)) << allLines();
    ASSERT_EQ(device->BeginScene(), S_OK);
    SkyDome dome;
    ASSERT_TRUE(dome.build(SkyDomeSettings{}));
    EXPECT_FALSE(dome.draw());
    EXPECT_FALSE(dome.createBuffers(nullptr));
    struct Case {
        int failing;  // the creation that fails, -1 none
        const char* message;
    };
    for (const Case c : {Case{0, "Cannot create sky vertex buffer"}, {1, "Cannot allocate sky index buffer"},
                         {-1, nullptr}}) {
        gameCore.log->clear();
        if (c.failing >= 0) faults->failCreation(c.failing + 1);
        EXPECT_EQ(dome.createBuffers(device), c.message == nullptr) << c.failing;
        EXPECT_EQ(dome.buffersReady(), c.message == nullptr);
        if (c.message) EXPECT_TRUE(gameCore.log->contains(c.message)) << c.message;
        EXPECT_EQ(dome.draw(), c.message == nullptr);
    }
    dome.releaseBuffers();
    EXPECT_FALSE(dome.draw());
    EXPECT_TRUE(dome.createBuffers(device));
    EXPECT_TRUE(dome.draw()) << allLines();
    device->EndScene();
    dome.releaseBuffers();
    render.shaders().attach(nullptr, nullptr);
}

}  // namespace
