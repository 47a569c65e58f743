// Textures drawn on the GL backend of our Direct3D 9: a packed ".dds" and a
// ".jpg" with its ".png" alpha, each loaded through a texture link and drawn
// on a quad with alpha blending over black; the picture is checked by the
// colours of a few regions, never against a stored image.
#include <gtest/gtest.h>

#include <cstdlib>

#include "d3d9/TestScenes.h"
#include "render/TextureTestSupport.h"

namespace {

struct Rgb {
    int r, g, b;
};

class TextureGLTest : public texture_test::TextureTest {
protected:
    void SetUp() override {
        environment.backend = platform::d3d9::BackendKind::GL;
        TextureTest::SetUp();
        ASSERT_NE(device, nullptr) << allLines();
    }

    Rgb at(const std::vector<std::uint8_t>& bytes, const D3DSURFACE_DESC& desc, UINT x, UINT y) const {
        const std::uint8_t* p = bytes.data() + (static_cast<std::size_t>(y) * desc.Width + x) * 4;
        return {p[2], p[1], p[0]};
    }
};

::testing::AssertionResult near(const Rgb& seen, const Rgb& wanted, int tolerance) {
    if (std::abs(seen.r - wanted.r) <= tolerance && std::abs(seen.g - wanted.g) <= tolerance &&
        std::abs(seen.b - wanted.b) <= tolerance)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "seen (" << seen.r << ", " << seen.g << ", " << seen.b << "), wanted ("
                                         << wanted.r << ", " << wanted.g << ", " << wanted.b << ")";
}

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
        stoneLink.bindToStage(0, 0, false);
        EXPECT_TRUE(context.draw(d3d9_scenes::quad(-1, -1, 0, 1, 0.5f, 0xFFFFFFFFu)));
        leafLink.bindToStage(0, 0, false);
        EXPECT_TRUE(context.draw(d3d9_scenes::quad(0, -1, 1, 1, 0.5f, 0xFFFFFFFFu)));
        device->EndScene();
    }

    IDirect3DSurface9* back = nullptr;
    device->GetBackBuffer(0, 0, D3DBACKBUFFER_TYPE_MONO, &back);
    std::vector<std::uint8_t> bytes;
    D3DSURFACE_DESC desc{};
    ASSERT_TRUE(platform::d3d9::readSurface(back, bytes, desc));
    back->Release();
    const UINT half = desc.Width / 2;
    const UINT y = desc.Height / 2;
    EXPECT_TRUE(near(at(bytes, desc, half / 4, y), {200, 60, 40}, 3));             // the stone
    EXPECT_TRUE(near(at(bytes, desc, half + half / 4, y), {30, 180, 60}, 10));     // the leaf's opaque half
    EXPECT_TRUE(near(at(bytes, desc, desc.Width - 3, y), {0, 0, 0}, 3));           // its transparent half
    stoneLink.release(false);
    leafLink.release(false);
}
