// Render targets on the null Direct3D 9 backend: the size rules of the
// render core's allocation by the video options, the creation's shrinking
// when the device is short of memory, the save screenshot as a PNG, and the
// filter taps of the post-processing passes.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "foundation/Log.h"
#include "render/ProcScreenShot.h"
#include "scene/CameraCore.h"
#include "ui/StillFrameData.h"
#include "render/TextureTestSupport.h"

namespace {

class RenderTargetTest : public texture_test::TextureTest {
protected:
    void SetUp() override {
        TextureTest::SetUp();
        ASSERT_NE(device, nullptr) << allLines();
        library().allocated = true;
    }
    void TearDown() override {
        render_->targetLinks().releaseAll();
        TextureTest::TearDown();
    }

    ProcRenderTarget* target(const char* name) {
        return dynamic_cast<ProcRenderTarget*>(library().findOrCreate(name, 6, true));
    }
    RenderTargetLinks links() { return render_->targetLinks(); }

    // Bloom on with its targets, the camera current, post-processing on.
    void startBloom(CameraCore& camera) {
        env().setup.details = 2;
        env().setup.pp_bloom = 1;
        ASSERT_TRUE(render_->allocateHDRTargets());
        render_->camera = &camera;
        render_->postProcessing = 1;
    }
    // The post step of one frame, inside the device's scene, which it
    // resumes.
    void postFrame(VideoSetup& mode) {
        ASSERT_EQ(device->BeginScene(), S_OK);
        EXPECT_TRUE(render_->postProcess(mode, true)) << allLines();
        EXPECT_EQ(device->EndScene(), S_OK);
    }
};

}  // namespace

TEST_F(RenderTargetTest, ShadowMapsFollowDetailsQualityAndShadows) {
    struct Case {
        std::int32_t details, quality, shadows;
        bool allocated;
        std::int32_t size;  // of "procshadow1"
        bool second;        // "procshadow2" attached
    };
    const Case cases[] = {
        {2, 2, 2, true, 1024, true},  // 4096 limited by the soft-shadow maximum
        {1, 0, 1, true, 512, false},  // 4096 >> 3
        {2, 1, 1, true, 2048, false},
        {0, 2, 2, false, 0, false},   // details "minimum": nothing attached
        {2, 2, 0, false, 0, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.details << " " << c.quality << " " << c.shadows);
        links().releaseAll();
        env().setup.details = c.details;
        env().setup.quality = c.quality;
        env().setup.shadows = c.shadows;
        EXPECT_EQ(render_->allocateShadowTargets(), c.allocated);
        EXPECT_EQ(links().shadow1.handler() != nullptr, c.allocated);
        EXPECT_EQ(links().shadow2.handler() != nullptr, c.second);
        if (!c.allocated) continue;
        ProcRenderTarget* shadow = target("procshadow1");
        ASSERT_NE(shadow->texture, nullptr);
        EXPECT_EQ(shadow->width, c.size);
        EXPECT_EQ(shadow->height, c.size);
        D3DSURFACE_DESC desc{};
        shadow->texture2D()->GetLevelDesc(0, &desc);
        EXPECT_EQ(desc.Format, D3DFMT_A8);
        EXPECT_EQ(desc.Width, static_cast<UINT>(c.size));
    }
}

TEST_F(RenderTargetTest, HdrTargetsFollowTheEffectsAndTheBackBuffer) {
    env().setup.details = 2;
    env().setup.pp_bloom = 1;
    env().setup.pp_depth = 0;
    EXPECT_TRUE(render_->allocateHDRTargets());
    // The back buffer is 64 x 32; the bloom targets are halved.
    ASSERT_NE(links().hdr3.handler(), nullptr);
    EXPECT_EQ(target("prochdr3")->width, 64);
    EXPECT_FALSE(target("prochdr3")->draws);
    EXPECT_NE(target("prochdr3")->texture, nullptr);
    ASSERT_NE(links().hdr5.handler(), nullptr);
    EXPECT_EQ(target("prochdr5")->width, 32);
    EXPECT_EQ(target("prochdr4")->height, 16);
    EXPECT_EQ(links().hdr1.handler(), nullptr);
    EXPECT_EQ(links().poissonDof.handler(), nullptr);

    env().setup.pp_depth = 1;
    EXPECT_TRUE(render_->allocateHDRTargets());
    EXPECT_EQ(target("procpoissondof")->width, 64);
    EXPECT_EQ(target("prochdr1")->width, 64);  // depth power 0

    env().setup.pp_bloom = env().setup.pp_depth = 0;
    EXPECT_TRUE(render_->allocateHDRTargets());
    for (TextureLink* link : {&links().hdr1, &links().hdr3, &links().hdr4, &links().hdr5, &links().poissonDof})
        EXPECT_EQ(link->handler(), nullptr) << link->name();
}

TEST_F(RenderTargetTest, AnUnsizedTargetRefusesAndATargetShrinksUntilBelowEight) {
    ProcHDR unsized("probe");
    EXPECT_FALSE(unsized.allocate());
    EXPECT_TRUE(gameCore.log->contains("Setup texture [probe] first. Fail allocate"));

    ProcHDR small("small");
    small.width = small.height = 32;
    for (int i = 1; i <= 7; ++i) faults->failCreation(i);
    EXPECT_FALSE(small.allocate());
    EXPECT_TRUE(gameCore.log->contains("Reduce image [small] size to 16x16"));
    EXPECT_TRUE(gameCore.log->contains("Reduce image [small] size to 8x8"));
    EXPECT_TRUE(gameCore.log->contains("Can't reduce image [small] more"));
    EXPECT_TRUE(gameCore.log->contains("Cannot allocate texture [small]. Reason: ["));
    EXPECT_TRUE(gameCore.log->contains("Cant allocate procedure texture [small]"));
    EXPECT_EQ(small.texture, nullptr);
    faults->failures.clear();  // three of the seven were asked

    // One failure: created at half the size, which the target takes.
    ProcHDR halved("halved");
    halved.width = halved.height = 32;
    faults->failCreation(1);
    EXPECT_TRUE(halved.allocate());
    EXPECT_EQ(halved.width, 16);
    EXPECT_NE(halved.renderToSurface(), nullptr);
    EXPECT_FALSE(halved.allocate());
    EXPECT_TRUE(gameCore.log->contains("Can't twice allocate halved texture"));
}

TEST_F(RenderTargetTest, TheSaveScreenshotIsAPngOfTheScreenshotSize) {
    ASSERT_TRUE(render_->allocateScreenshotTarget());
    auto* shot = dynamic_cast<ProcScreenShotExport*>(links().screenshot.handler());
    ASSERT_NE(shot, nullptr);
    TgaImage image;
    ASSERT_TRUE(shot->renderSaveScreenShot(image, 320, 240)) << allLines();
    ASSERT_GE(shot->pngImage.size(), 8u);
    EXPECT_EQ(std::memcmp(shot->pngImage.data(), "\x89PNG\r\n\x1a\n", 8), 0);
    TgaImage decoded;
    ASSERT_TRUE(decodeImage(shot->pngImage.data(), shot->pngImage.size(), decoded));
    EXPECT_EQ(decoded.width, 320u);
    EXPECT_EQ(decoded.height, 240u);
    EXPECT_EQ(image.width, 320u);
    EXPECT_EQ(image.height, 240u);

    // A slot's thumbnail is made from an image as a texture of its size.
    auto* slot = dynamic_cast<ProcScreenShotImport*>(library().findOrCreate("procsavescreenshot1", 6, true));
    ASSERT_NE(slot, nullptr);
    ASSERT_TRUE(slot->reload(image));
    ASSERT_NE(slot->texture, nullptr);
    D3DSURFACE_DESC desc{};
    slot->texture2D()->GetLevelDesc(0, &desc);
    EXPECT_EQ(desc.Width, 320u);
    EXPECT_EQ(desc.Height, 240u);
}

TEST(RenderTargetFilters, GaussianTapsAreSymmetricAndSumToOne) {
    for (const int count : {13, 5}) {
        FilterTap taps[13];
        gaussianTaps(count, 5.0f, 4.0f, 0.0f, 64, 32, taps);
        double sum = 0.0;
        for (int i = 0; i < count; ++i) sum += taps[i].weight;
        EXPECT_NEAR(sum, 1.0, 1e-5);
        EXPECT_EQ(taps[0].x, 0.0f);
        EXPECT_FLOAT_EQ(taps[1].x, 4.0f / 64.0f);
        EXPECT_FLOAT_EQ(taps[2].x, -4.0f / 64.0f);
        EXPECT_FLOAT_EQ(taps[count - 1].x, -(count - 2) * 4.0f / 64.0f);
        EXPECT_EQ(taps[1].y, 0.0f);
        EXPECT_GT(taps[0].weight, taps[1].weight);
        EXPECT_EQ(taps[1].weight, taps[2].weight);
    }
    float offsets[24];
    poissonTaps(1.0f, 2.0f, 100, 50, offsets);
    EXPECT_FLOAT_EQ(offsets[0], -0.326212f / 100.0f);
    EXPECT_FLOAT_EQ(offsets[23], -0.59771f * 2.0f / 50.0f);
}

TEST_F(RenderTargetTest, BloomAloneShowsTheBloomFrameBehindTheOtherStillFrames) {
    env().setup.details = 2;
    env().setup.pp_bloom = 1;
    env().setup.pp_depth = 0;
    ASSERT_TRUE(render_->allocateHDRTargets());
    CameraCore camera(nullptr, "test");
    render_->camera = &camera;
    ASSERT_TRUE(render_->renderEffects(env().setup)) << allLines();
    const HdrEffectFrame& bloom = render_->effectFrames[1];
    EXPECT_TRUE(bloom.shown);
    EXPECT_STREQ(bloom.name, "hdr_effect_bloom");
    EXPECT_EQ(bloom.order, -1);
    EXPECT_EQ(bloom.source, "prochdr5");
    EXPECT_EQ(bloom.itemFlags & (4u | 8u | 1024u | 4096u), 1024u | 4096u);
    EXPECT_EQ(bloom.size[0], 1024.0f);
    EXPECT_EQ(bloom.color[0], 0.5f);
    EXPECT_FALSE(render_->effectFrames[0].shown);  // no depth of field
    // Shown as the still-frame item of that name, added over the scene.
    StillFrameScriptDataItem* item = render_->stillFrames().data.find("hdr_effect_bloom");
    ASSERT_NE(item, nullptr);
    EXPECT_STREQ(item->image.source.link.baseName(), "prochdr5");
    EXPECT_EQ(item->blend, 8u);
    EXPECT_EQ(item->layer, -1);
    EXPECT_EQ(item->image.source.flags & SourcePostPass, std::uint32_t(SourcePostPass));
    EXPECT_EQ(render_->stillFrames().data.find("hdr_effect_depth_of_field"), nullptr);

    // With depth of field as well: its frame lies behind the bloom.
    env().setup.pp_depth = 1;
    ASSERT_TRUE(render_->allocateHDRTargets());
    ASSERT_TRUE(render_->renderEffects(env().setup)) << allLines();
    const HdrEffectFrame& dof = render_->effectFrames[0];
    EXPECT_TRUE(dof.shown);
    EXPECT_STREQ(dof.name, "hdr_effect_depth_of_field");
    EXPECT_EQ(dof.order, -2);
    EXPECT_EQ(dof.source, "procpoissondof");
    EXPECT_EQ(dof.itemFlags & (4u | 8u | 1024u | 4096u), 4096u);
    EXPECT_TRUE(bloom.shown);
    env().setup.pp_depth = 0;

    // Both effects off: both frames go.
    env().setup.pp_bloom = 0;
    ASSERT_TRUE(render_->renderEffects(env().setup));
    EXPECT_FALSE(render_->effectFrames[1].shown);
    EXPECT_EQ(render_->stillFrames().data.find("hdr_effect_bloom"), nullptr);
    render_->camera = nullptr;
}

TEST_F(RenderTargetTest, AFailingBlurTurnsPostProcessingOffOnlyWhenTheFailureLasts) {
    CameraCore camera(nullptr, "test");
    ASSERT_NO_FATAL_FAILURE(startBloom(camera));

    // A pass whose drawing cannot begin (a scene is open on the device)
    // fails instead of drawing nothing.
    ASSERT_EQ(device->BeginScene(), S_OK);
    EXPECT_FALSE(target("prochdr5")->generateBlur(render_->postPasses, links().hdr3, 4.0f, 0.0f, 5.0f, 5, 1));
    EXPECT_TRUE(logged("BeginScene")) << allLines();
    EXPECT_EQ(device->EndScene(), S_OK);

    // A target without its texture fails every frame: the frames go without
    // the effects, which are switched off once the failure has lasted.
    target("prochdr5")->unload();
    VideoSetup mode = env().setup;
    for (std::int32_t frame = 1; frame <= RenderCore::kLastingEffectFailures; ++frame) {
        postFrame(mode);
        EXPECT_FALSE(render_->effectFrames[1].shown);
        const bool last = frame == RenderCore::kLastingEffectFailures;
        EXPECT_EQ(mode.pp_bloom, last ? 0 : 1) << frame;
        EXPECT_EQ(gameCore.log->contains("Failed Post-processing effects disabled"), last) << frame;
    }
    EXPECT_TRUE(gameCore.log->contains("Can't render blur X in Bloom scene"));
    EXPECT_EQ(mode.pp_depth, 0);
    render_->camera = nullptr;
}

// One scene begin of a blur target that fails for want of video memory skips
// that frame's effects and halves the target; the next frame shows the
// bloom again from the smaller target, and the effects stay on.
TEST_F(RenderTargetTest, AMemoryShortBlurSkipsOneFrameAndShrinksItsTarget) {
    CameraCore camera(nullptr, "test");
    ASSERT_NO_FATAL_FAILURE(startBloom(camera));
    VideoSetup mode = env().setup;
    const std::int32_t width = target("prochdr5")->width;
    ASSERT_GT(width, 8);

    faults->failTargetBegin(1, D3DERR_OUTOFVIDEOMEMORY);  // the first blur, into prochdr5
    postFrame(mode);
    EXPECT_TRUE(gameCore.log->contains("Can't render blur X in Bloom scene"));
    EXPECT_FALSE(render_->effectFrames[1].shown);
    EXPECT_EQ(render_->stillFrames().data.find("hdr_effect_bloom"), nullptr);
    EXPECT_EQ(target("prochdr5")->width, width / 2);
    EXPECT_EQ(mode.pp_bloom, 1);
    EXPECT_FALSE(gameCore.log->contains("Failed Post-processing effects disabled"));

    postFrame(mode);
    EXPECT_TRUE(render_->effectFrames[1].shown);
    EXPECT_NE(render_->stillFrames().data.find("hdr_effect_bloom"), nullptr);
    EXPECT_EQ(mode.pp_bloom, 1);
    EXPECT_EQ(render_->failedEffectFrames, 0);
    render_->camera = nullptr;
}
