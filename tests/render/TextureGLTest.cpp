// Textures drawn on the GL backend of our Direct3D 9: a packed ".dds" and a
// ".jpg" with its ".png" alpha, each loaded through a texture link and drawn
// on a quad with alpha blending over black; the picture is checked by the
// colours of a few regions, never against a stored image.
#include <gtest/gtest.h>

#include <cstdlib>

#include "d3d9/TestScenes.h"
#include "foundation/IniFile.h"
#include "render/QuadBatch.h"
#include "render/TextureTestSupport.h"
#include "render/VideoCore.h"
#include "ui/StillFrameData.h"

namespace {

using texture_test::near;
using texture_test::Rgb;

class TextureGLTest : public texture_test::TextureTest {
protected:
    void SetUp() override {
        environment.backend = platform::d3d9::BackendKind::GL;
        TextureTest::SetUp();
        ASSERT_NE(device, nullptr) << allLines();
    }

    // The back buffer of target (the test's device by default).
    void readBackBuffer(std::vector<std::uint8_t>& bytes, D3DSURFACE_DESC& desc, IDirect3DDevice9* target = nullptr) {
        IDirect3DSurface9* back = nullptr;
        (target ? target : device)->GetBackBuffer(0, 0, D3DBACKBUFFER_TYPE_MONO, &back);
        ASSERT_NE(back, nullptr);
        EXPECT_TRUE(platform::d3d9::readSurface(back, bytes, desc));
        back->Release();
    }

    Rgb at(const std::vector<std::uint8_t>& bytes, const D3DSURFACE_DESC& desc, UINT x, UINT y) const {
        const std::uint8_t* p = bytes.data() + (static_cast<std::size_t>(y) * desc.Width + x) * 4;
        return {p[2], p[1], p[0]};
    }
};

}  // namespace

TEST_F(TextureGLTest, PackedDdsAndJpgWithPngAlphaDrawWithTheirColoursAndAlpha) {
    // stone: 8 x 8 texels of (200, 60, 40), opaque.
    texture_tools::DdsImage stone;
    stone.format = D3DFMT_A8R8G8B8;
    stone.width = stone.height = 8;
    std::vector<std::uint8_t> texels;
    for (int i = 0; i < 64; ++i) texels.insert(texels.end(), {40, 60, 200, 255});
    stone.blocks.push_back(texels);
    env().files["stone.dds"] = texture_tools::writeDds(stone);
    // leaf: (30, 180, 60) under a mask opaque on its left half only.
    TgaImage colour = solid(8, 8, 30, 180, 60);
    env().files["leaf.jpg"] = encode(colour, ImageFormatJpeg);
    TgaImage mask;
    ASSERT_TRUE(mask.create(true, 8, 8));
    mask.fillRgb(255, 255, 255);
    for (std::uint32_t i = 0; i < 64; ++i) mask.pixels()[i * 4 + 3] = (i % 8) < 4 ? 255 : 0;
    env().files["leaf.png"] = encode(mask, ImageFormatPng);
    library().allocated = true;
    attachStateCache();

    TextureLink stoneLink;
    TextureLink leafLink;
    stoneLink.init("stone");
    leafLink.init("leaf");
    ASSERT_TRUE(stoneLink.allocateDefault(0, false));
    ASSERT_TRUE(leafLink.allocateDefault(0, false));

    {
        d3d9_scenes::SceneContext context(device);
        IDirect3DVertexDeclaration9* declaration = nullptr;
        ASSERT_EQ(device->CreateVertexDeclaration(d3d9_scenes::kVertexElements, &declaration), S_OK);
        context.keep(declaration);
        device->SetVertexDeclaration(declaration);
        device->SetRenderState(D3DRS_LIGHTING, FALSE);
        device->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
        device->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_SRCALPHA);
        device->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_INVSRCALPHA);
        device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF000000u, 1.0f, 0);
        device->BeginScene();
        // A bound texture reaches the device with the draw's pass record.
        stoneLink.bindToStage(0, 0, false);
        render_->shaders().applyPassTextures();
        EXPECT_TRUE(context.draw(d3d9_scenes::quad(-1, -1, 0, 1, 0.5f, 0xFFFFFFFFu)));
        leafLink.bindToStage(0, 0, false);
        render_->shaders().applyPassTextures();
        EXPECT_TRUE(context.draw(d3d9_scenes::quad(0, -1, 1, 1, 0.5f, 0xFFFFFFFFu)));
        device->EndScene();
    }

    std::vector<std::uint8_t> bytes;
    D3DSURFACE_DESC desc{};
    readBackBuffer(bytes, desc);
    const UINT half = desc.Width / 2;
    const UINT y = desc.Height / 2;
    EXPECT_TRUE(near(at(bytes, desc, half / 4, y), {200, 60, 40}, 3));             // the stone
    EXPECT_TRUE(near(at(bytes, desc, half + half / 4, y), {30, 180, 60}, 10));     // the leaf's opaque half
    EXPECT_TRUE(near(at(bytes, desc, desc.Width - 3, y), {0, 0, 0}, 3));           // its transparent half
    stoneLink.release(false);
    leafLink.release(false);
}

// Still-frame quads through the quad batch: an opaque red item under a
// half-transparent green one, over black.
TEST_F(TextureGLTest, StillFrameQuadsBlendByTheirAlpha) {
    StillFrameQuad red;
    red.widthFactor = 512.0f;  // the left half of the 1024 x 768 screen
    red.heightFactor = 768.0f;
    red.color[1] = red.color[2] = 0.0f;
    StillFrameQuad green;
    green.position[0] = 256.0f;  // from a quarter to the right edge
    green.widthFactor = 768.0f;
    green.heightFactor = 768.0f;
    green.color[0] = green.color[2] = 0.0f;
    green.alpha = 0.5f;
    std::vector<StillFrameQuad> items = {red, green};

    attachStateCache();
    QuadBatch batch;
    batch.attach(&render_->stateCache(), &render_->shaders());
    device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF000000u, 1.0f, 0);
    ASSERT_EQ(device->BeginScene(), S_OK);
    batch.drawList(items);
    device->EndScene();
    batch.release();

    std::vector<std::uint8_t> bytes;
    D3DSURFACE_DESC desc{};
    readBackBuffer(bytes, desc);
    const UINT y = desc.Height / 2;
    EXPECT_TRUE(near(at(bytes, desc, desc.Width / 8, y), {255, 0, 0}, 3));             // red alone
    EXPECT_TRUE(near(at(bytes, desc, desc.Width * 3 / 8, y), {128, 128, 0}, 4));       // green over red
    EXPECT_TRUE(near(at(bytes, desc, desc.Width * 7 / 8, y), {0, 128, 0}, 4));         // green over black
}

// The splash as start-up draws it: the render core initialised on the
// window's device, its device objects allocated, then the splash imported
// from a file, drawn as a full-screen still frame and presented. The first
// presented frame holds the splash's colours.
TEST_F(TextureGLTest, SplashFillsTheFirstPresentedFrame) {
    testing_support::TempDir folder;
    const std::string path = folder.path() + "/splash_screen.dds";
    {
        const std::vector<std::uint8_t> dds = texture_tools::writeDds(texture_tools::splashScreen());
        std::FILE* file = std::fopen(path.c_str(), "wb");
        ASSERT_NE(file, nullptr);
        std::fwrite(dds.data(), 1, dds.size(), file);
        std::fclose(file);
    }
    IniFile settings;
    settings.getCategory("game").getVariable("splash").setString(path.c_str());
    testing_support::ScopedCoreMember<IniFile> useSettings{gameCore.settings, &settings};
    VideoCore video;
    testing_support::ScopedCoreMember<VideoCore> useVideo{gameCore.video, &video};
    video.desktopWidth = 1024;
    video.desktopHeight = 768;
    video.refreshRate = 60;
    video.detectSystem();
    ASSERT_TRUE(video.initialize());
    ASSERT_TRUE(render_->initialize()) << allLines();
    IDirect3DDevice9* screen = video.videoDevice.device();
    ASSERT_NE(screen, nullptr);
    env().deviceInUse = screen;

    ASSERT_TRUE(render_->allocate_device());
    EXPECT_EQ(platform::d3d9::statistics(screen)->presents, 0u);
    ASSERT_TRUE(render_->renderSplash());
    EXPECT_EQ(platform::d3d9::statistics(screen)->presents, 1u);
    EXPECT_EQ(render_->stillFrames().data.itemCount(), 0);  // the splash item is gone again

    std::vector<std::uint8_t> bytes;
    D3DSURFACE_DESC desc{};
    readBackBuffer(bytes, desc, screen);
    const Rgb top{0xE6, 0x78, 0x1E};
    const Rgb bottom{0x1E, 0x3C, 0xC8};
    // The picture's viewport keeps the camera's aspect: a thin border may stay black.
    for (UINT x : {desc.Width / 16, desc.Width / 2, desc.Width * 15 / 16}) {
        EXPECT_TRUE(near(at(bytes, desc, x, desc.Height / 4), top, 3)) << x;
        EXPECT_TRUE(near(at(bytes, desc, x, desc.Height * 3 / 4), bottom, 3)) << x;
    }
    render_->releaseDeviceData();
    render_->release();
    env().deviceInUse = device;
    video.release();
}
