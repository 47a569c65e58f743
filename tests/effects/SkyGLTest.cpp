// The sky drawn on the GL backend of our Direct3D 9: a scene whose sky
// table comes from the scene writer, its dome built and its buffers made as
// the render core does at start, and frames of the game's own passes (the
// scene's per-frame step, the context update, the object pass).
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/GameCore.h"
#include "app/SaveGame.h"
#include "effects/SkyDataManager.h"
#include "effects/Y3Sky.h"
#include "foundation/TimeCore.h"
#include "platform/D3D9TestSupport.h"
#include "model/DXStreams.h"
#include "render/ProcRenderTarget.h"
#include "render/RenderCore.h"
#include "render/ShaderPackageSupport.h"
#include "render/VideoCore.h"
#include "render/shaders/ShaderCore.h"
#include "render/states/DXStateCache.h"
#include "scene/CameraCore.h"
#include "scene/CameraFixture.h"
#include "scene/SceneDescription.h"
#include "support/TestSupport.h"
#include "textures/DdsWriter.h"
#include "textures/MemoryTextureEnvironment.h"
#include "effects/SkySceneGLFixture.h"

namespace {

// Without fog, so that the sky's pixels show the record's colours; the
// clouds scroll an eighth of their texture a second. Day and night clear,
// day clouds, and a day fog so dense that only the horizon colour shows;
// a white morning and evening, with the bloom's threshold low and high.
const char* const kSkyDescription =
    "scene camroom\n"
    "sky\n"
    "sky all all skyfog 0 cloudsspeed 0.125\n"
    "sky day clear skycolor 0.2 0.4 0.8\n"
    "sky nighttime clear skycolor 0.02 0.03 0.1 starscolor 1 1 1\n"
    "sky day clouds skycolor 0.2 0.4 0.8 cloudscolor 1 1 1\n"
    "sky day fog horizon 1 0 0 skyfog 0.02\n"
    "sky morning clear skycolor 1 1 1 bloom 0.2 1 1\n"
    "sky evening clear skycolor 1 1 1 bloom 1.5 1 1\n";

std::string skyTable() {
    scene_tools::SceneDescription description;
    std::string error;
    EXPECT_TRUE(scene_tools::parseSceneDescription(kSkyDescription, description, error)) << error;
    return scene_tools::skyTableBytes(description.skyTable);
}

// An 8 x 8 A8R8G8B8 texture: white, its alpha in stripes one texel wide,
// opaque and clear (cloud cover: a scroll of 1/8 moves them by one stripe),
// or clear everywhere (no stars).
std::vector<std::uint8_t> skyTexture(bool striped) {
    texture_tools::DdsImage image;
    image.width = image.height = 8;
    std::vector<std::uint8_t> texels;
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x)
            texels.insert(texels.end(), {255, 255, 255, std::uint8_t(striped && x % 2 == 0 ? 255 : 0)});
    image.blocks.push_back(texels);
    return texture_tools::writeDds(image);
}

struct Rgb {
    int r, g, b;
};

class SkyGLTest : public sky_test::SkySceneGLFixture {
protected:
    void SetUp() override {
        startRender();
        if (HasFatalFailure()) return;
        textures.files["sky_main.dds"] = skyTexture(false);
        textures.files["sky_clouds.dds"] = skyTexture(true);
        textures.files["sky_fog.dds"] = skyTexture(true);
        enterScene({{".sky", "camroom", skyTable(), ""}});
    }

    // One frame of the game after step seconds at the given details setting.
    std::vector<std::uint8_t> frame(double step, int details) {
        textures.setup.details = details;
        return SkySceneGLFixture::frame(step);
    }
    static Rgb at(const std::vector<std::uint8_t>& bytes, int x, int y) {
        const std::uint8_t* p = &bytes[(std::size_t(y) * 64 + std::size_t(x)) * 4];
        return {p[2], p[1], p[0]};
    }
    static bool near(Rgb a, Rgb b, int tolerance) {
        return std::abs(a.r - b.r) <= tolerance && std::abs(a.g - b.g) <= tolerance && std::abs(a.b - b.b) <= tolerance;
    }

};

// The top of the frame shows the current record's sky colour (night darker
// than day), the fog weather only its horizon colour, the lower half
// (below the horizon) the frame's clear colour, the record's horizon
// colour; the shader path and the fixed-function path alike. Weather and
// time of day are set through the game core, as the scripts' world sets
// them.
TEST_F(SkyGLTest, TheTopOfTheFrameShowsTheCurrentRecordsColourOnBothPaths) {
    const struct {
        std::int32_t time, weather;
        Rgb top, horizon;
    } cases[] = {
        {1, SkyClear, {51, 102, 204}, {217, 217, 217}},
        {3, SkyClear, {5, 8, 26}, {3, 3, 13}},
        {1, SkyFog, {255, 0, 0}, {255, 0, 0}},
    };
    for (const auto& c : cases) {
        gameCore.scene_setSkyLightMode(c.time);
        gameCore.scene_setSkyWeather(c.weather);
        Rgb seen[2];
        for (int details : {1, 0}) {
            const std::vector<std::uint8_t> bytes = frame(0.1, details);
            seen[details] = at(bytes, 32, 4);
            EXPECT_TRUE(near(seen[details], c.top, 6))
                << "time " << c.time << " weather " << c.weather << " details " << details << ": " << seen[details].r
                << " " << seen[details].g << " " << seen[details].b << "\n"
                << allLines();
            EXPECT_TRUE(near(at(bytes, 32, 60), c.horizon, 2)) << "below the horizon, details " << details;
        }
        EXPECT_TRUE(near(seen[0], seen[1], 4)) << "time " << c.time << " weather " << c.weather;
    }
}

// In cloudy weather the cloud layer lies over the sky and moves: two frames
// a second apart differ where the cover moved, and each holds both cloud
// and open sky.
TEST_F(SkyGLTest, CloudsCoverPartOfTheSkyAndMoveBetweenFramesASecondApart) {
    world->scene->setSkyWeather(SkyClouds);
    for (int details : {1, 0}) {
        const std::vector<std::uint8_t> before = frame(0.0, details);
        const std::vector<std::uint8_t> after = frame(1.0, details);
        int cloud = 0, open = 0, moved = 0;
        for (int y = 0; y < 24; ++y)
            for (int x = 0; x < 64; ++x) {
                const Rgb p = at(before, x, y);
                if (near(p, {255, 255, 255}, 8)) ++cloud;
                if (near(p, {51, 102, 204}, 8)) ++open;
                if (!near(p, at(after, x, y), 8)) ++moved;
            }
        EXPECT_GT(cloud, 0) << "details " << details;
        EXPECT_GT(open, 0) << "details " << details;
        EXPECT_GT(moved, 0) << "details " << details;
    }
}

}  // namespace

// The bloom takes the current record's bloom values: under the morning's
// threshold of 0.2 the white sky glows; the evening's 1.5 lets nothing pass.
TEST_F(SkyGLTest, TheBloomTakesTheCurrentRecordsThreshold) {
    textures.setup.pp_bloom = 1;
    textures.setup.details = 1;
    ASSERT_TRUE(render->allocateHDRTargets()) << allLines();
    const struct {
        std::int32_t time;
        bool glows;
    } cases[] = {{0, true}, {2, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.time);
        gameCore.scene_setSkyLightMode(c.time);
        gameCore.scene_setSkyWeather(SkyClear);
        const Rgb top = at(frame(0.1, 1), 32, 4);
        ASSERT_TRUE(near(top, {255, 255, 255}, 6)) << top.r << " " << top.g << " " << top.b;
        ASSERT_TRUE(render->renderEffects(textures.setup)) << allLines();
        auto* glow = dynamic_cast<ProcRenderTarget*>(render->targetLinks().hdr5.handler());
        ASSERT_NE(glow, nullptr);
        IDirect3DSurface9* surface = nullptr;
        ASSERT_EQ(glow->texture2D()->GetSurfaceLevel(0, &surface), S_OK);
        std::vector<std::uint8_t> bytes;
        D3DSURFACE_DESC desc{};
        EXPECT_TRUE(platform::d3d9::readSurface(surface, bytes, desc));
        surface->Release();
        // The red of the glow's top middle, where the frame shows the sky.
        const int red = bytes[(std::size_t(desc.Height / 8) * desc.Width + desc.Width / 2) * 4 + 2];
        if (c.glows) EXPECT_GT(red, 100);
        else EXPECT_LT(red, 10);
    }
    render->targetLinks().releaseAll();
    render->postPasses.release();
}
