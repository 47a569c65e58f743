// The render core's still-frame slot block and its texture links.
#include "render/RenderCore.h"
#include "render/TextureLink.h"

#include <gtest/gtest.h>

#include "app/GameCore.h"
#include "foundation/Log.h"
#include "render/shaders/ShaderCore.h"
#include "scene/CameraCore.h"
#include "support/TestSupport.h"

using testing_support::ScopedGameCore;

namespace {

TEST(RenderCore, StillFrameSlotsStartValuesAndWhatEmptyingKeeps) {
    ScopedGameCore core;
    RenderCore render;
    StillFrameSlotBlock& block = render.stillFrameSlots;
    EXPECT_EQ(block.background, 0xFF406080u);
    ASSERT_EQ(block.smoother.stages.size(), 2u);
    EXPECT_FLOAT_EQ(block.smoother.stages[0].timeConstant, 1.0f);
    EXPECT_FLOAT_EQ(block.smoother.stages[1].timeConstant, 1.5f);
    for (const StillFrameSlotHolder* slot : block.slots) EXPECT_EQ(slot, nullptr);

    StillFrameSlotHolder holder;
    block.first = 7;
    block.slots[3] = &holder;
    block.slotFlags[3] = 1;
    block.counters.words[0] = 5;
    block.counters.keptWords[1] = 9;
    block.background = 0xFF000000;
    render.clearStillFrameSlots();
    EXPECT_EQ(block.first, 0u);
    EXPECT_EQ(block.slots[3], nullptr);
    EXPECT_TRUE(block.smoother.stages.empty());  // not set up again
    EXPECT_EQ(block.slotFlags[3], 1);
    EXPECT_EQ(block.counters.words[0], 5u);
    EXPECT_EQ(block.background, 0xFF000000u);
    // The holder's item went back to the still frames: a null one is refused.
    EXPECT_TRUE(gameCore.log->contains("stillframe:del(obj_image)  -> argument must be not NULL"));

    block.counters.buffer.assign(16, 1);
    block.counters.clear();
    EXPECT_EQ(block.counters.words[0], 0u);
    EXPECT_EQ(block.counters.keptWords[1], 9u);  // only construction zeroes them
    EXPECT_TRUE(block.counters.buffer.empty());
}

// A smoother is released by its owner before it goes; one that still holds
// its stages says so when destroyed. The render core releases the one of
// its still-frame block.
TEST(RenderCore, AFloatSmoothGoneWithItsStagesIsReported) {
    ScopedGameCore core;
    {
        RenderCore render;
        EXPECT_EQ(render.stillFrameSlots.smoother.stages.size(), 2u);
    }
    EXPECT_FALSE(gameCore.log->contains("Release float smooth before destructor"));
    {
        FloatSmooth released;
        released.setStages(3, 1.0f, 0.5f);
        released.release();
        EXPECT_TRUE(released.stages.empty());
    }
    EXPECT_FALSE(gameCore.log->contains("Release float smooth before destructor"));
    {
        FloatSmooth kept;
        kept.setStages(3, 1.0f, 0.5f);
    }
    EXPECT_TRUE(gameCore.log->contains("Release float smooth before destructor"));
}

TEST(RenderCore, TextureLinksReachTheScreenshotTargetsByName) {
    ScopedGameCore core;
    RenderCore render;
    RenderCore* saved = gameCore.render;
    gameCore.render = &render;
    {
        TextureLink link;
        link.init("procSaveScreenShot2");
        EXPECT_STREQ(link.name(), "procsavescreenshot2");
        ASSERT_TRUE(link.allocateDefault(0x200, false));
        TgaImage image;
        ASSERT_TRUE(image.create(true, 4, 2));
        EXPECT_TRUE(link.handler()->reload(image));
        const TgaImage& shown = render.textures.findOrCreate("procsavescreenshot2", 6, true)->image();
        EXPECT_EQ(shown.width, 4u);
        EXPECT_EQ(shown.bytesPerPixel, 3u);  // the load screen's targets drop the alpha
        EXPECT_FALSE(link.handler()->reload(TgaImage()));  // no pixels: the texture stays
        EXPECT_EQ(render.textures.findOrCreate("procsavescreenshot2", 6, true)->image().width, 4u);

        TextureLink missing;
        missing.init("procSaveScreenShot4");
        EXPECT_FALSE(missing.allocateDefault(0x200, false));
        // A link destroyed while it holds its handler says so.
    }
    EXPECT_TRUE(gameCore.log->contains("Unreleased texture handler to [procsavescreenshot2]. re-Call release from destructor"));
    gameCore.render = saved;
}


TEST(RenderCore, FrameTakesTheCurrentCamerasMatrices) {
    ScopedGameCore core;
    RenderCore render;
    render.mainLoop();
    EXPECT_FALSE(render.cameraFrame.valid);

    CameraCore camera(nullptr, "test");
    camera.pose.m[9] = 5.0f;
    camera.initialize(-1.0f);
    render.camera = &camera;
    render.mainLoop();
    ASSERT_TRUE(render.cameraFrame.valid);
    EXPECT_FLOAT_EQ(render.cameraFrame.position[0], 5.0f);
    EXPECT_FLOAT_EQ(render.cameraFrame.view[12], -5.0f);  // the view undoes the position
    for (int i = 0; i < 16; ++i) {
        EXPECT_EQ(render.cameraFrame.projection[i], camera.projectionMatrix[i]);
        EXPECT_EQ(render.cameraFrame.viewProjection[i], camera.viewProjection[i]);
    }
    // The shader variables read them from the shader core's frame record.
    const ShaderFrameState& frame = render.shaders().frame;
    EXPECT_FLOAT_EQ(frame.view.m[3][0], -5.0f);
    EXPECT_EQ(frame.viewInverse.m[3][0], render.cameraFrame.world[12]);
    EXPECT_EQ(frame.viewProjection.m[2][2], camera.viewProjection[10]);
}

}  // namespace
