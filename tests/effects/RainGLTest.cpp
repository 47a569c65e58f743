// Rain drawn on the GL backend of our Direct3D 9: a scene whose rain map
// and sky come from the scene writer's "rain" and "sky" lines, the rain
// shown through the game core (as the scripts' world shows it) and frames
// of the game's own passes: the scene context queues the sky and the rain,
// the object pass draws them.
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/GameCore.h"
#include "app/SaveGame.h"
#include "effects/RainMap.h"
#include "effects/RainMapTracer.h"
#include "effects/SkyDataManager.h"
#include "effects/Y3Sky.h"
#include "foundation/Log.h"
#include "foundation/TimeCore.h"
#include "platform/D3D9TestSupport.h"
#include "model/DXStreams.h"
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

// A blue day sky without fog, the same blue in clear weather (its sky
// colour) and in the rainy form the sky takes while rain is shown (its
// cloud colour), and a rain map of 7 x 7 cells around the camera at the
// origin, ground 2 below the eye.
const char* const kScene =
    "scene camroom\n"
    "sky\n"
    "sky all all skyfog 0\n"
    "sky day all skycolor 0.2 0.4 0.8 cloudscolor 0.2 0.4 0.8\n"
    "rain origin -35 -2 -35\n"
    "rain grid 7 7\n"
    "rain dropcolour 1 1 1\n"
    "rain droppass 0.15 0.3\n"
    "rain textures drop ripple\n";

struct RainFixture {
    std::string rain, data, sky;
};

// The scene's files as the scene writer writes them, with its rain lines.
RainFixture sceneFiles(const std::string& rainLines, const testing_support::TempDir& folder) {
    scene_tools::SceneDescription description;
    std::string error;
    EXPECT_TRUE(scene_tools::parseSceneDescription(std::string(kScene) + rainLines, description, error)) << error;
    std::vector<std::string> written;
    EXPECT_TRUE(scene_tools::writeSceneFiles(description, folder.path(), &written, &error)) << error;
    return {testing_support::readFile(folder.path() + "/camroom.rain"),
            testing_support::readFile(folder.path() + "/camroom.raindata"),
            testing_support::readFile(folder.path() + "/camroom.sky")};
}

std::vector<std::uint8_t> whiteTexture() {
    texture_tools::DdsImage image;
    image.width = image.height = 8;
    image.blocks.push_back(std::vector<std::uint8_t>(8 * 8 * 4, 255));
    return texture_tools::writeDds(image);
}

class RainGLTest : public sky_test::SkySceneGLFixture {
protected:
    // Each test builds its scene (build) with its own rain lines.
    void SetUp() override {}

    // The scene with its rain map from the rain lines; drop and ripple
    // textures unless left out.
    // A damaged data form keeps only its first damagedBytes (all of it when
    // negative).
    void build(const std::string& rainLines, bool withTextures = true, long damagedBytes = -1,
               std::initializer_list<std::string> models = {}) {
        startRender();
        if (HasFatalFailure()) return;
        textures.files["sky_main.dds"] = whiteTexture();
        textures.files["sky_rain.dds"] = whiteTexture();
        if (withTextures) {
            textures.files["drop.dds"] = whiteTexture();
            textures.files["ripple.dds"] = whiteTexture();
        }
        RainFixture files = sceneFiles(rainLines, written);
        if (damagedBytes >= 0) files.data.resize(std::size_t(damagedBytes));
        ASSERT_FALSE(files.rain.empty());
        ASSERT_FALSE(files.data.empty());
        enterScene({{".sky", "camroom", files.sky, ""},
                    {".rain", "camroom", files.rain, ""},
                    {".raindata", "camroom", files.data, ""}},
                   models);
    }

    // One frame a tenth of a second on; its bytes and the primitives and
    // draws it made.
    std::vector<std::uint8_t> frame(std::uint64_t* primitives = nullptr, std::uint64_t* draws = nullptr) {
        return SkySceneGLFixture::frame(0.1, primitives, draws);
    }

    // The primitives and draws the rain adds to the sky's frame, before and
    // after the rain maps' buffers are made again as after a device reset.
    void expectRainDraws(std::uint64_t primitives, std::uint64_t draws) {
        std::uint64_t sky = 0, skyDraws = 0, drawn = 0, rainDraws = 0;
        frame(&sky, &skyDraws);
        gameCore.visible_rain(true);
        frame(&drawn, &rainDraws);
        EXPECT_EQ(drawn - sky, primitives) << allLines();
        EXPECT_EQ(rainDraws - skyDraws, draws);
        Scene& scene = *world->scene;
        ASSERT_NE(scene.rainMap, nullptr);
        EXPECT_EQ(scene.rainMap->flags, kRainShown | kRainMapLoaded | kRainMapAllocated);
        RainMapDataManager& manager = *rainMapDataManager();
        manager.releaseBuffers();
        EXPECT_TRUE(manager.allocateAll());
        frame(&drawn, &rainDraws);
        EXPECT_EQ(drawn - sky, primitives) << "after the reset";
    }

    bool logged(const std::string& text) const {
        for (const LogRecord& r : gameCore.log->records())
            if (r.text.find(text) != std::string::npos) return true;
        return false;
    }

    testing_support::TempDir written;
};

// Drops of 45 cells in the drop pass ((1 - d)^2 of 400 each, 3,780 in
// all) and ripples of 45 in the ripple pass (1 - d^2, 10,864), two
// triangles each, over the sky's dome.
TEST_F(RainGLTest, TheCellsAroundTheCameraDrawTheirShareOfDrops) {
    build("rain box -35 -35 35 35 -2\n");
    expectRainDraws(2 * (3780 + 10864), 90);
}

// The camera's cell marked -1 draws no drops, and in the ripple pass the
// empty-cell stream at its corner.
TEST_F(RainGLTest, ACellWithoutGroundDrawsOnlyTheEmptyCellsRipples) {
    build("rain box -35 -35 35 35 -2\nrain index 3 3 -1\n");
    expectRainDraws(2 * (3780 - 400 + 10864), 89);
}

// With rain shown the frame differs from the frame without it by streaks
// over the cells with ground, left of the eye; the cells the map marks -1
// (every cell right of x 0) stay as the sky drew them.
TEST_F(RainGLTest, StreaksFallOverTheCellsWithGroundAndNotOverEmptyCells) {
    build("rain box -35 -35 0 35 -2\nrain ripplecolour 0 0 0\n");
    const std::vector<std::uint8_t> dry = frame();
    gameCore.visible_rain(true);
    const std::vector<std::uint8_t> wet = frame();
    int left = 0, right = 0;
    for (int y = 0; y < 64; ++y)
        for (int x = 0; x < 64; ++x) {
            const std::size_t at = (std::size_t(y) * 64 + std::size_t(x)) * 4;
            const bool differs = std::abs(int(dry[at]) - int(wet[at])) + std::abs(int(dry[at + 1]) - int(wet[at + 1])) +
                                     std::abs(int(dry[at + 2]) - int(wet[at + 2])) > 12;
            if (differs && x < 30) ++left;
            if (differs && x >= 36) ++right;
        }
    EXPECT_GT(left, 40) << allLines();
    EXPECT_EQ(right, 0);
    // Hidden again, the rain is dropped and the frame is the dry one.
    gameCore.visible_rain(false);
    EXPECT_EQ(world->scene->rainMap, nullptr);
    EXPECT_EQ(frame(), dry);
}

// Without its textures the rain still makes its buffers, but the push
// reports failure: the rain is turned off (state 16) and released on the
// next frame; nothing of it is drawn.
TEST_F(RainGLTest, MissingTexturesTurnTheRainOff) {
    build("rain box -35 -35 35 35 -2\n", false);
    std::uint64_t sky = 0, drawn = 0;
    frame(&sky);
    gameCore.visible_rain(true);
    frame(&drawn);
    Scene& scene = *world->scene;
    ASSERT_NE(scene.rainMap, nullptr);
    EXPECT_TRUE(logged("Can't allocate rain map [drops] texture"));
    EXPECT_TRUE(logged("Can't allocate rain map [ripple] texture"));
    EXPECT_EQ(scene.rainMap->flags & (kRainShown | kRainPushFailed | kRainMapAllocated), kRainPushFailed);
    ASSERT_NE(scene.rainMap->record, nullptr);
    EXPECT_TRUE(scene.rainMap->record->has(kResourceAllocated));
    EXPECT_EQ(drawn, sky);
    frame(&drawn);
    EXPECT_EQ(scene.rainMap->flags & kRainMapLoaded, 0u);
    EXPECT_EQ(drawn, sky);
}

// A rain map whose data file is damaged is refused with its messages; the
// push fails, the rain is turned off and the scene draws on without it.
TEST_F(RainGLTest, ADamagedRainMapLeavesTheSceneWithoutRain) {
    build("rain box -35 -35 35 35 -2\n", true, 100);
    std::uint64_t sky = 0, drawn = 0;
    frame(&sky);
    gameCore.visible_rain(true);
    frame(&drawn);
    EXPECT_TRUE(logged("Rain map [camroom]: index table cut short")) << allLines();
    EXPECT_TRUE(logged("Can't allocate rain data [camroom] mesh streams"));
    EXPECT_TRUE(logged("Rain map [camroom] turned off: it could not be pushed"));
    Scene& scene = *world->scene;
    ASSERT_NE(scene.rainMap, nullptr);
    EXPECT_EQ(scene.rainMap->flags & (kRainShown | kRainPushFailed), kRainPushFailed);
    frame(&drawn);
    EXPECT_EQ(drawn, sky);
}

// Rain is drawn only with shaders: once the video mode has none, the
// pushed rain gives back its textures and buffers and nothing of it is
// drawn; with shaders again it is pushed and drawn again.
TEST_F(RainGLTest, WithoutShadersTheRainIsReleasedAndNotDrawn) {
    build("rain box -35 -35 35 35 -2\n");
    gameCore.visible_rain(true);
    std::uint64_t wet = 0, drawn = 0;
    frame(&wet);
    Scene& scene = *world->scene;
    ASSERT_NE(scene.rainMap->flags & kRainMapLoaded, 0u);
    textures.setup.details = 0;
    frame(&drawn);
    EXPECT_EQ(scene.rainMap->flags & (kRainMapLoaded | kRainMapAllocated), 0u);
    EXPECT_FALSE(scene.rainMap->record->has(kResourceAllocated));
    EXPECT_LT(drawn, 2000u);  // the fixed-function sky alone
    textures.setup.details = 1;
    frame(&drawn);
    EXPECT_EQ(drawn, wet);
}

// The generator through the game core: the scene (without models) is seen
// from above over the rain's user bounds (-100 to 100: 20 x 20 cells, one
// tile of 512 texels), the empty tile is reported, every cell is left
// without ground, and the result cannot be stored by the game.
TEST_F(RainGLTest, GeneratingARainMapTracesTheSceneAndCannotStoreIt) {
    build("rain box -35 -35 35 35 -2\n");
    EXPECT_FALSE(gameCore.scene_generateRainMap());
    for (const char* line : {"rain_min(-100.0,-100.0,-100.0)", "Prepare rain map render tracer (1x1)...",
                             "Rain map segment [0_0] is empty", "rain map progress = 100%", "Rain map render tracer is DONE",
                             "Can't save rain data [camroom] to file [camroom.raindata]", "Fail to generate rain map"})
        EXPECT_TRUE(logged(line)) << line << "\n" << allLines();
    Scene& scene = *world->scene;
    ASSERT_NE(scene.rainMap, nullptr);
    ASSERT_TRUE(scene.rainMap->record->data);
    EXPECT_TRUE(scene.rainMap->record->data->segments.empty());
}

// Popping the scene pops its rain (textures and buffers given back); the
// rain stays shown and is pushed and drawn again after the next push.
TEST_F(RainGLTest, APoppedSceneGivesBackItsRainAndDrawsItAgainWhenPushed) {
    build("rain box -35 -35 35 35 -2\n");
    gameCore.visible_rain(true);
    std::uint64_t wet = 0, drawn = 0;
    frame(&wet);
    Scene& scene = *world->scene;
    ASSERT_TRUE(scene.pop(0));
    EXPECT_EQ(scene.rainMap->flags & (kRainMapLoaded | kRainMapAllocated), 0u);
    EXPECT_FALSE(scene.rainMap->record->has(kResourceAllocated));
    EXPECT_NE(scene.rainMap->flags & kRainShown, 0u);
    ASSERT_TRUE(scene.push());
    frame(&drawn);
    EXPECT_EQ(drawn, wet);
}

}  // namespace

namespace {

// A generation while the rain is shown hands the rain map back whole: the
// next frames draw the same rain as before it.
TEST_F(RainGLTest, ARainShownDuringAGenerationIsDrawnAgainAfterIt) {
    build("rain box -35 -35 35 35 -2\n");
    gameCore.visible_rain(true);
    std::uint64_t wet = 0, drawn = 0;
    frame(&wet);
    EXPECT_FALSE(gameCore.scene_generateRainMap());
    frame();
    frame(&drawn);
    EXPECT_EQ(drawn, wet) << allLines();
    Scene& scene = *world->scene;
    EXPECT_EQ(scene.rainMap->flags, kRainShown | kRainMapLoaded | kRainMapAllocated);
}

}  // namespace

namespace {

// The height pass over a scene with a model: the tracer reads the top of
// a slab (a quad of half size 1 at height 0.5 over its placement) where it
// stands and no geometry beside it.
TEST_F(RainGLTest, TheTracerReadsTheHeightOfAModelFromAbove) {
    build("rain box -35 -35 35 35 -2\n", true, -1,
          {"model slab\nelement top\nlod\nmeshstream 4\n"
           "vertex p -1 0.5 -1 n 0 1 0 t 0 0\nvertex p 1 0.5 -1 n 0 1 0 t 1 0\n"
           "vertex p -1 0.5 1 n 0 1 0 t 0 1\nvertex p 1 0.5 1 n 0 1 0 t 1 1\n"
           "index 0 1 2 2 1 3\nsubset 0 0 6 4 kind 6 face 1 diffuse drop\nbox 1 0.5 1\n"});
    Scene& scene = *world->scene;
    GameObject* slab = scene.createModel("slab", "slab1", testing_support::poseAt(4.0f, 1.0f, 4.0f), 0);
    ASSERT_NE(slab, nullptr);
    ASSERT_TRUE(slab->push());
    frame();
    RainMapTracer tracer;
    ASSERT_TRUE(tracer.init(64, 64)) << allLines();
    ASSERT_TRUE(tracer.run(0.0f, 0.0f, 20.0f, 20.0f, 10.0f, -5.0f)) << allLines();
    const struct {
        float x, z, height;
    } cases[] = {{4.0f, 4.0f, 1.5f}, {3.4f, 4.6f, 1.5f}, {-5.0f, -5.0f, -1000.0f}, {6.0f, 4.0f, -1000.0f}};
    for (const auto& c : cases) EXPECT_NEAR(tracer.sampleHeight(c.x, c.z), c.height, 0.05f) << c.x << " " << c.z;
    tracer.release();
}

}  // namespace
