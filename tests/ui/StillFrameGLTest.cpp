// Still frames drawn on the GL backend of our Direct3D 9: the render
// core's still frames draw their layers through the quad batch and the
// picture is read back and checked by the colours of a few regions.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <vector>
#include <memory>

#include "effects/Particle.h"
#include "foundation/TimeCore.h"
#include "particle/ParticleWriter.h"
#include "input/InputCore.h"
#include "render/QuadBatch.h"
#include "render/TextureTestSupport.h"
#include "render/VideoCore.h"
#include "resources/ResourceTestSupport.h"
#include "ui/FontTestSupport.h"
#include "support/TestSupport.h"
#include "ui/StillFrameData.h"
#include "ui/StillFrameBuilderTestSupport.h"

namespace {

using texture_test::near;
using texture_test::Rgb;

// A texture of solid columns, left to right, opaque.
std::vector<std::uint8_t> columns(const std::vector<Rgb>& colours, UINT columnWidth, UINT height) {
    texture_tools::DdsImage image;
    image.format = D3DFMT_A8R8G8B8;
    image.width = UINT(colours.size()) * columnWidth;
    image.height = height;
    std::vector<std::uint8_t> texels;
    for (UINT y = 0; y < height; ++y)
        for (const Rgb& c : colours)
            for (UINT x = 0; x < columnWidth; ++x)
                texels.insert(texels.end(), {std::uint8_t(c.b), std::uint8_t(c.g), std::uint8_t(c.r), 255});
    image.blocks.push_back(texels);
    return texture_tools::writeDds(image);
}

class StillFrameGLTest : public texture_test::TextureTest {
protected:
    static constexpr UINT kWidth = 512, kHeight = 384;  // half the still-frame screen

    void SetUp() override {
        environment.backend = platform::d3d9::BackendKind::GL;
        TextureTest::SetUp();
        ASSERT_NE(device, nullptr) << allLines();
        device->Release();
        device = createDevice(windowed(kWidth, kHeight));
        ASSERT_NE(device, nullptr);
        env().deviceInUse = device;
        env().files["white.dds"] = columns({{255, 255, 255}}, 8, 8);
        env().files["strip.dds"] = columns({{255, 0, 0}, {0, 255, 0}, {0, 0, 255}, {255, 255, 255}}, 8, 8);
        library().allocated = true;
        attachStateCache();
    }
    void TearDown() override {
        render_->quadBatch.release();
        TextureTest::TearDown();
    }

    StillFrameData& data() { return render_->stillFrames().data; }
    // A white-textured item in the colour given as drawn channels (1.0 full).
    StillFrameScriptDataItem* item(const char* name, float x, float y, float w, float h, Rgb colour,
                                   std::int32_t layer = 0, const char* texture = "white") {
        StillFrameScriptDataItem* it = data().create(name);
        EXPECT_TRUE(it->image.setSource(*it, texture, 0));
        it->x = x;
        it->y = y;
        it->width = w;
        it->height = h;
        it->layer = layer;
        it->color[0] = float(colour.r) / 510.0f;
        it->color[1] = float(colour.g) / 510.0f;
        it->color[2] = float(colour.b) / 510.0f;
        return it;
    }
    // Clears to a colour and draws pass 0.
    void draw(std::uint32_t clear = 0xFF000000u) {
        device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, clear, 1.0f, 0);
        ASSERT_EQ(device->BeginScene(), S_OK);
        data().render(0);
        device->EndScene();
        IDirect3DSurface9* back = nullptr;
        device->GetBackBuffer(0, 0, D3DBACKBUFFER_TYPE_MONO, &back);
        ASSERT_NE(back, nullptr);
        D3DSURFACE_DESC desc{};
        EXPECT_TRUE(platform::d3d9::readSurface(back, pixels_, desc));
        back->Release();
        ASSERT_EQ(desc.Width, kWidth);
    }
    // The colour at a point of the still-frame screen.
    Rgb at(float x, float y) const {
        const auto px = std::size_t(x * kWidth / 1024.0f), py = std::size_t(y * kHeight / 768.0f);
        const std::uint8_t* p = pixels_.data() + (py * kWidth + px) * 4;
        return {p[2], p[1], p[0]};
    }

    std::vector<std::uint8_t> pixels_;
};

TEST_F(StillFrameGLTest, HigherLayersDrawOverLowerOnesWhateverTheTableOrder) {
    item("top", 300, 200, 300, 300, {0, 0, 255}, 5);
    item("bottom", 100, 100, 300, 300, {255, 0, 0}, -3);
    item("middle", 200, 150, 300, 300, {0, 255, 0}, 0);
    draw();
    EXPECT_TRUE(near(at(150, 150), {255, 0, 0}, 3));   // the bottom alone
    EXPECT_TRUE(near(at(250, 200), {0, 255, 0}, 3));   // the middle over the bottom
    EXPECT_TRUE(near(at(350, 300), {0, 0, 255}, 3));   // all three: the top
    EXPECT_TRUE(near(at(50, 50), {0, 0, 0}, 3));
}

TEST_F(StillFrameGLTest, AnItemTurnedAboutItsCentreCoversADiamond) {
    StillFrameScriptDataItem* it = item("turned", 312, 184, 400, 400, {255, 255, 255});
    it->angle = 45.0f;
    draw();
    // Centre (512, 384); the diamond's tips lie 283 units away.
    EXPECT_TRUE(near(at(512, 384), {255, 255, 255}, 3));
    EXPECT_TRUE(near(at(512, 384 - 260), {255, 255, 255}, 3));
    EXPECT_TRUE(near(at(512 + 260, 384), {255, 255, 255}, 3));
    // The corners of the unturned square stay empty.
    EXPECT_TRUE(near(at(312 + 10, 184 + 10), {0, 0, 0}, 3));
    EXPECT_TRUE(near(at(712 - 10, 584 - 10), {0, 0, 0}, 3));
}

TEST_F(StillFrameGLTest, AShadowDarkensTheBandBesideTheItem) {
    StillFrameScriptDataItem* it = item("shadowed", 200, 200, 200, 200, {255, 255, 255});
    it->shadow.dx = it->shadow.dy = 8;
    it->shadow.color[3] = 1.0f;  // black
    draw(0xFF808080u);
    EXPECT_TRUE(near(at(300, 300), {255, 255, 255}, 3));
    EXPECT_TRUE(near(at(404, 300), {0, 0, 0}, 3));       // right of the item
    EXPECT_TRUE(near(at(300, 404), {0, 0, 0}, 3));       // below it
    EXPECT_TRUE(near(at(196, 300), {128, 128, 128}, 3)); // left: no shadow
    EXPECT_TRUE(near(at(420, 300), {128, 128, 128}, 3)); // beyond the offset
}

TEST_F(StillFrameGLTest, AFrameOfAStripShowsItsPartOfTheTexture) {
    StillFrameScriptDataItem* it = item("strip", 200, 200, 400, 200, {255, 255, 255}, 0, "strip");
    it->image.frameCount = 4;
    it->image.frame = 2;
    draw();
    EXPECT_TRUE(near(at(400, 300), {0, 0, 255}, 3));
    it->image.frame = -1;  // no strip: the whole texture
    draw();
    EXPECT_TRUE(near(at(250, 300), {255, 0, 0}, 3));
    EXPECT_TRUE(near(at(550, 300), {255, 255, 255}, 3));
    it->image.frame = 0;
    it->image.frameCount = 0;  // no frames: the whole texture as well
    draw();
    EXPECT_TRUE(near(at(350, 300), {0, 255, 0}, 3));
}

TEST_F(StillFrameGLTest, HalfTransparentBlackOverWhiteGivesMidGrey) {
    item("white", 100, 100, 400, 400, {255, 255, 255}, 0);
    StillFrameScriptDataItem* black = item("black", 300, 100, 400, 400, {0, 0, 0}, 1);
    black->color[3] = 0.5f;
    draw();
    EXPECT_TRUE(near(at(200, 300), {255, 255, 255}, 3));
    EXPECT_TRUE(near(at(400, 300), {128, 128, 128}, 4));
    EXPECT_TRUE(near(at(600, 300), {0, 0, 0}, 3));
}

TEST_F(StillFrameGLTest, BlurCopiesSpreadAnEdgeOnlyWhilePostProcessing) {
    StillFrameScriptDataItem* it = item("blurred", 300, 300, 200, 200, {255, 255, 255});
    it->animation.blur = 2;
    it->animation.blurPower = 8.0f;  // rings 20 and 40 units out
    draw();
    EXPECT_TRUE(near(at(515, 400), {0, 0, 0}, 3));
    render_->postProcessing = 1;
    draw();
    const Rgb spread = at(515, 400);
    EXPECT_GT(spread.r, 40);
    EXPECT_TRUE(near(at(560, 400), {0, 0, 0}, 3));  // beyond the last ring
    // The fixed pipeline has no post-processing.
    VideoCore video;
    video.fixedPipeline = true;
    testing_support::ScopedCoreMember<VideoCore> fixed(gameCore.video, &video);
    draw();
    EXPECT_TRUE(near(at(515, 400), {0, 0, 0}, 3));
}

TEST_F(StillFrameGLTest, BlackAndWhiteGreysTheItemOnTheProgrammablePipelineOnly) {
    StillFrameScriptDataItem* it = item("effect", 200, 200, 400, 200, {255, 255, 255}, 0, "strip");
    ASSERT_TRUE(it->animation.setPostProces("bw"));
    it->animation.postPower = 1.0f;
    draw();
    const Rgb red = at(250, 300), green = at(350, 300);
    EXPECT_TRUE(near(red, {76, 76, 76}, 4));
    EXPECT_TRUE(near(green, {150, 150, 150}, 4));
    // Half the power: half way between the colour and its grey.
    it->animation.postPower = 0.5f;
    draw();
    EXPECT_TRUE(near(at(250, 300), {166, 38, 38}, 4));
    // The fixed pipeline shows the colours as they are.
    it->animation.postPower = 1.0f;
    VideoCore video;
    video.fixedPipeline = true;
    testing_support::ScopedCoreMember<VideoCore> fixed(gameCore.video, &video);
    draw();
    EXPECT_TRUE(near(at(250, 300), {255, 0, 0}, 3));
}

}  // namespace

// Text in the test font, whose texture is white: every glyph draws its
// whole cell, 120 units wide at size 10 for an advance of 100.
class StillFrameTextGLTest : public StillFrameGLTest {
protected:
    void SetUp() override {
        StillFrameGLTest::SetUp();
        ASSERT_TRUE(packages.built());
        env().files["menu.dds"] = columns({{255, 255, 255}}, 8, 8);
    }
    resource_tests::ScopedPackages packages{{resource_tests::storedFile(".font4", "menu", font_test::fontBytes())}};
};

TEST_F(StillFrameTextGLTest, RedTextSitsWhereItsAlignmentPutsIt) {
    struct Case {
        const char* font;
        float inkLeft, inkRight;  // of "ab" in an item at x 100, 400 wide
    };
    const Case cases[] = {
        {"menu", 110, 320},
        {"menu.center", 220, 430},
        {"menu.right", 330, 540},
    };
    for (const Case& c : cases) {
        StillFrameScriptDataItem* label = data().create("label");
        label->x = 100;
        label->y = 100;
        label->width = 400;
        label->color[0] = 1.0f;
        label->color[1] = label->color[2] = 0.0f;
        ASSERT_TRUE(label->text.setText(*label, "ab", nullptr, c.font, 10.0f)) << c.font;
        EXPECT_FLOAT_EQ(label->height, 240.0f);
        draw();
        // The glyphs fill the line's top 200 units; a pixel here is two.
        EXPECT_TRUE(near(at(c.inkLeft + 6, 200), {255, 0, 0}, 3)) << c.font;
        EXPECT_TRUE(near(at(c.inkRight - 6, 200), {255, 0, 0}, 3)) << c.font;
        EXPECT_TRUE(near(at(c.inkLeft - 6, 200), {0, 0, 0}, 3)) << c.font;
        EXPECT_TRUE(near(at(c.inkRight + 6, 200), {0, 0, 0}, 3)) << c.font;
        EXPECT_TRUE(near(at(c.inkLeft + 6, 294), {255, 0, 0}, 3)) << c.font;
        EXPECT_TRUE(near(at(c.inkLeft + 6, 306), {0, 0, 0}, 3)) << c.font;
        data().deleteObject(label);
    }
}

// "Hello" in a 400-unit item: the box of the red ink lies within two
// pixels of the box the layout gives its glyph quads, in each alignment.
TEST_F(StillFrameTextGLTest, TheInkOfHelloLiesWhereTheLayoutPutsIt) {
    std::vector<int> inkLefts;
    for (const char* font : {"menu", "menu.center", "menu.right"}) {
        StillFrameScriptDataItem* label = data().create("label");
        label->x = 100;
        label->y = 100;
        label->width = 400;
        label->color[0] = 1.0f;
        label->color[1] = label->color[2] = 0.0f;
        ASSERT_TRUE(label->text.setText(*label, "Hello", nullptr, font, 5.0f)) << font;
        ASSERT_EQ(label->text.quads.size(), 5u);
        float box[4] = {1e9f, 1e9f, -1e9f, -1e9f};  // left, top, right, bottom of the quads
        for (const auto& quad : label->text.quads)
            for (int i = 0; i < 4; ++i)
                box[i] = i < 2 ? std::min(box[i], quad.rect[i]) : std::max(box[i], quad.rect[i]);
        // In read-back pixels (half a still-frame unit each).
        const float left = (label->x + (box[0] + 0.5f) * label->width) / 2.0f;
        const float right = (label->x + (box[2] + 0.5f) * label->width) / 2.0f;
        const float top = (label->y + (box[1] + 0.5f) * label->height) / 2.0f;
        const float bottom = (label->y + (box[3] + 0.5f) * label->height) / 2.0f;
        draw();
        auto red = [&](int x, int y) { return near(at(float(x) * 2.0f + 1.0f, float(y) * 2.0f + 1.0f), {255, 0, 0}, 40); };
        const int row = int((top + bottom) / 2.0f), column = int((left + right) / 2.0f);
        int inkLeft = -1, inkRight = -1, inkTop = -1, inkBottom = -1;
        for (int x = 0; x < int(kWidth); ++x)
            if (red(x, row)) {
                if (inkLeft < 0) inkLeft = x;
                inkRight = x + 1;
            }
        for (int y = 0; y < int(kHeight); ++y)
            if (red(column, y)) {
                if (inkTop < 0) inkTop = y;
                inkBottom = y + 1;
            }
        EXPECT_NEAR(float(inkLeft), left, 2.0f) << font;
        EXPECT_NEAR(float(inkRight), right, 2.0f) << font;
        EXPECT_NEAR(float(inkTop), top, 2.0f) << font;
        EXPECT_NEAR(float(inkBottom), bottom, 2.0f) << font;
        inkLefts.push_back(inkLeft);
        data().deleteObject(label);
    }
    // Centred text lies halfway between the left and the right alignment.
    ASSERT_EQ(inkLefts.size(), 3u);
    EXPECT_GT(inkLefts[1], inkLefts[0] + 10);
    EXPECT_NEAR(inkLefts[1] - inkLefts[0], inkLefts[2] - inkLefts[1], 1);
}

TEST_F(StillFrameGLTest, AGlyphDrawsUprightAndNotMirrored) {
    // A font whose glyphs show all of a texture of four quadrants.
    font_test::FontSpec spec;
    spec.wholeTexture = true;
    resource_tests::ScopedPackages packages{{resource_tests::storedFile(".font4", "quads", font_test::fontBytes(spec))}};
    ASSERT_TRUE(packages.built());
    texture_tools::DdsImage image;
    image.width = image.height = 16;
    std::vector<std::uint8_t> texels;
    for (UINT y = 0; y < 16; ++y)
        for (UINT x = 0; x < 16; ++x) {
            const Rgb c = y < 8 ? (x < 8 ? Rgb{255, 0, 0} : Rgb{0, 255, 0}) : (x < 8 ? Rgb{0, 0, 255} : Rgb{255, 255, 255});
            texels.insert(texels.end(), {std::uint8_t(c.b), std::uint8_t(c.g), std::uint8_t(c.r), 255});
        }
    image.blocks.push_back(texels);
    env().files["quads.dds"] = texture_tools::writeDds(image);
    StillFrameScriptDataItem* label = data().create("label");
    label->x = 100;
    label->y = 100;
    label->width = 400;
    ASSERT_TRUE(label->text.setText(*label, "L", nullptr, "quads", 10.0f));
    draw();
    // The glyph's cell: x 110 to 220, y 100 to 300 (the texture's top at the top).
    EXPECT_TRUE(near(at(137, 140), {255, 0, 0}, 3));
    EXPECT_TRUE(near(at(192, 140), {0, 255, 0}, 3));
    EXPECT_TRUE(near(at(137, 260), {0, 0, 255}, 3));
    EXPECT_TRUE(near(at(192, 260), {255, 255, 255}, 3));
}

TEST_F(StillFrameTextGLTest, WrappedTextDrawsTwoLines) {
    StillFrameScriptDataItem* label = data().create("label");
    label->x = 100;
    label->y = 100;
    label->width = 200;
    ASSERT_TRUE(label->text.setText(*label, "ab cd", nullptr, "menu", 5.0f));
    // Lines of 120 units, glyphs 100 high; "ab " does not leave room for "cd".
    EXPECT_FLOAT_EQ(label->height, 240.0f);
    draw();
    EXPECT_TRUE(near(at(130, 150), {255, 255, 255}, 3));  // "a", first line
    EXPECT_TRUE(near(at(130, 270), {255, 255, 255}, 3));  // "c", second line
    EXPECT_TRUE(near(at(130, 210), {0, 0, 0}, 3));        // the gap between them
}

TEST_F(StillFrameGLTest, AListShowsItsLastRowsAfterItsBarIsDraggedToTheEnd) {
    InputCore input;
    testing_support::ScopedCoreMember<InputCore> installed{gameCore.input, &input};
    // Ten rows of 30 in a box 100 high: red first, green last, blue between.
    StillFrameScriptDataItem* list = item("list", 100, 100, 200, 100, {0, 0, 0});
    list->color[3] = 0.0f;  // the box itself draws nothing
    for (int i = 0; i < 10; ++i) {
        const Rgb colour = i == 0 ? Rgb{255, 0, 0} : i == 9 ? Rgb{0, 255, 0} : Rgb{0, 0, 255};
        StillFrameScriptDataItem* row = item(("row" + std::to_string(i)).c_str(), 100, 100 + 30.0f * i, 200, 28, colour);
        ASSERT_TRUE(row->link.attachToItem(*row, list));
    }
    StillFrameScriptDataItem* bar = item("bar", 300, 100, 20, 20, {255, 255, 255});
    ASSERT_TRUE(list->scroll.setControllers(*list, data(), "", "bar", ""));
    CurrentTime t;
    auto frame = [&] {
        t.real.time += 0.02;
        t.real.step = 0.02;
        data().update(t);
    };
    frame();
    draw();
    EXPECT_TRUE(near(at(200, 110), {255, 0, 0}, 3));
    EXPECT_TRUE(near(at(200, 185), {0, 0, 255}, 3));
    input.virtualDevices.pointer.set(310, 105);
    ASSERT_TRUE(StillFrameLink::startDrag(*bar, data(), true));
    input.virtualDevices.pointer.set(310, 700);  // held back at the end of the bar's way
    frame();
    frame();
    draw();
    EXPECT_TRUE(near(at(200, 185), {0, 255, 0}, 3));  // the last row at the box's bottom
    EXPECT_TRUE(near(at(200, 150), {0, 0, 255}, 3));
    EXPECT_TRUE(near(at(310, 190), {255, 255, 255}, 3));  // the bar at the end
    EXPECT_TRUE(near(at(310, 110), {0, 0, 0}, 3));
}

// An item's particle on the GL backend: one lasting red point 60 units
// across at the item's centre, on the game's clock.
class StillFrameParticleGLTest : public StillFrameGLTest {
protected:
    static testing_support::FixtureFile ember() {
        std::string error;
        const std::string bytes = particle_tools::effectFileBytes(
            "limit 1\nlayer a\nrate 50\nlifetime 100 100\nsize 0.3\ncolor 1 0 0 1\nmaterial alpha\ntexture white\n",
            error);
        EXPECT_FALSE(bytes.empty()) << error;
        return resource_tests::storedFile(".effect", "ember", bytes);
    }
    void frame() {
        for (Time* clock : {static_cast<Time*>(&clocks.gameTime), static_cast<Time*>(&clocks.realTime)}) {
            clock->time += 0.05;
            clock->stepLength = 0.05;
        }
        data().update(CurrentTime(-1.0));
        draw();
    }

    resource_tests::ScopedPackages packages{{ember()}};
    TimeCore clocks;
    testing_support::ScopedCoreMember<TimeCore> useClocks{gameCore.clocks, &clocks};
};

// The particle draws at its layer over the quads below it (its own blue
// item) and under the items above it (the green one).
TEST_F(StillFrameParticleGLTest, AnItemsParticleShowsItsColourBetweenTheLayersBelowAndAbove) {
    ASSERT_TRUE(packages.built());
    StillFrameScriptDataItem* panel = item("panel", 200, 200, 200, 200, {0, 0, 255});
    item("cover", 300, 200, 100, 200, {0, 255, 0}, 5);
    ASSERT_TRUE(panel->particle.setParticle(*panel, "ember")) << allLines();
    EXPECT_EQ(panel->particle.layer, 2);
    for (int i = 0; i < 3; ++i) frame();
    EXPECT_TRUE(near(at(284, 300), {255, 0, 0}, 40)) << allLines();
    EXPECT_TRUE(near(at(316, 300), {0, 255, 0}, 3));
    EXPECT_TRUE(near(at(220, 220), {0, 0, 255}, 3));
    EXPECT_TRUE(near(at(284, 380), {0, 0, 255}, 3));
}

namespace {

// A menu of three blue buttons with white text companions, built from the
// "sf" table of a variable file; hovering a button swaps its image to red.
const char* const kMenuTable =
    "menu.sf.name.play string\nmenu.sf.name.load string\nmenu.sf.name.quit string\n"
    "menu.sf.image.1 string blue\nmenu.sf.image.2 string blue\nmenu.sf.image.3 string blue\n"
    "menu.sf.u.1 number 0\nmenu.sf.u.2 number 0\nmenu.sf.u.3 number 0\n"
    "menu.sf.du.1 number 8\nmenu.sf.du.2 number 8\nmenu.sf.du.3 number 8\n"
    "menu.sf.v.1 number 0\nmenu.sf.v.2 number 0\nmenu.sf.v.3 number 0\n"
    "menu.sf.dv.1 number 8\nmenu.sf.dv.2 number 8\nmenu.sf.dv.3 number 8\n"
    "menu.sf.image_dx.1 number 8\nmenu.sf.image_dx.2 number 8\nmenu.sf.image_dx.3 number 8\n"
    "menu.sf.image_dy.1 number 8\nmenu.sf.image_dy.2 number 8\nmenu.sf.image_dy.3 number 8\n"
    "menu.sf.x.1 number 100\nmenu.sf.x.2 number 100\nmenu.sf.x.3 number 100\n"
    "menu.sf.y.1 number 100\nmenu.sf.y.2 number 250\nmenu.sf.y.3 number 400\n"
    "menu.sf.dx.1 number 400\nmenu.sf.dx.2 number 400\nmenu.sf.dx.3 number 400\n"
    "menu.sf.dy.1 number 100\nmenu.sf.dy.2 number 100\nmenu.sf.dy.3 number 100\n"
    "menu.sf.onOver.1 string swap\nmenu.sf.onOver.2 string swap\nmenu.sf.onOver.3 string swap\n"
    "menu.sf.text.1 string menu.play\nmenu.sf.text.2 string menu.load\nmenu.sf.text.3 string menu.quit\n"
    "menu.sf.font.1 string menu\nmenu.sf.font.2 string menu\nmenu.sf.font.3 string menu\n"
    "menu.sf.font_size.1 number 2\nmenu.sf.font_size.2 number 2\nmenu.sf.font_size.3 number 2\n"
    "menu.sf.text_x.1 number 120\nmenu.sf.text_x.2 number 120\nmenu.sf.text_x.3 number 120\n"
    "menu.sf.text_y.1 number 120\nmenu.sf.text_y.2 number 270\nmenu.sf.text_y.3 number 420\n"
    "menu.sf.text_dx.1 number 160\nmenu.sf.text_dx.2 number 160\nmenu.sf.text_dx.3 number 160\n"
    "menu.sf.trgb.1 string FFFFFF\nmenu.sf.trgb.2 string FFFFFF\nmenu.sf.trgb.3 string FFFFFF\n";

class StillFrameMenuGLTest : public StillFrameGLTest {
protected:
    void SetUp() override {
        StillFrameGLTest::SetUp();
        ASSERT_TRUE(packages.built());
        env().files["menu.dds"] = columns({{255, 255, 255}}, 8, 8);
        env().files["blue.dds"] = columns({{0, 0, 255}}, 8, 8);
        env().files["red.dds"] = columns({{255, 0, 0}}, 8, 8);
        screens = std::make_unique<still_frame_test::ScreenScripts>(data());
    }
    void TearDown() override {
        screens.reset();
        StillFrameGLTest::TearDown();
    }
    resource_tests::ScopedPackages packages{{resource_tests::storedFile(".font4", "menu", font_test::fontBytes())}};
    std::unique_ptr<still_frame_test::ScreenScripts> screens;
    InputCore input;
    testing_support::ScopedCoreMember<InputCore> installed{gameCore.input, &input};
};

}  // namespace

TEST_F(StillFrameMenuGLTest, AMenuFromATableShowsButtonsAndTextsAndTheHoveredButtonSwapsItsImage) {
    ASSERT_TRUE(screens->start(kMenuTable, "menu.play wstring Ab\nmenu.load wstring Ab\nmenu.quit wstring Ab\n"));
    ASSERT_TRUE(screens->run("function swap(img) img:set('red') end\n"
                             "ok = tostring(globals:get('menu'):image_Create())\n"));
    ASSERT_EQ(screens->global("ok"), "true");
    CurrentTime t;
    t.real.time = 1.0;
    data().update(t);
    draw();
    // Each button blue; its text "Ab" white: glyphs of 24 by 40 units from
    // 2 units right of the text's left, 20 units apart.
    for (float top : {100.0f, 250.0f, 400.0f}) {
        SCOPED_TRACE(top);
        EXPECT_TRUE(near(at(400, top + 60), {0, 0, 255}, 3));
        EXPECT_TRUE(near(at(130, top + 40), {255, 255, 255}, 3));  // "A"
        EXPECT_TRUE(near(at(152, top + 40), {255, 255, 255}, 3));  // "b"
        EXPECT_TRUE(near(at(200, top + 40), {0, 0, 255}, 3));      // past the text
        EXPECT_TRUE(near(at(50, top + 40), {0, 0, 0}, 3));         // left of the button
    }
    // The cursor over the second button: its "onOver" sets the red image.
    gameCore.cameraMode = kCameraModeStillframe;
    input.virtualDevices.pointer.set(400, 320);
    t.real.time = 1.1;
    data().update(t);
    ASSERT_EQ(data().hovered(), data().find("load"));
    draw();
    EXPECT_TRUE(near(at(400, 310), {255, 0, 0}, 3));
    EXPECT_TRUE(near(at(130, 290), {255, 255, 255}, 3));
    EXPECT_TRUE(near(at(400, 160), {0, 0, 255}, 3));
    EXPECT_TRUE(near(at(400, 460), {0, 0, 255}, 3));
}
