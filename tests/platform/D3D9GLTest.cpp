// The GL backend of our Direct3D 9, drawing on the host's OpenGL (Mesa's
// llvmpipe in CI, headless through EGL). The scenes come from the tools'
// scene library; each picture is checked by the colours of a few regions,
// with a tolerance, never against a stored image.
#include "d3d9/TestScenes.h"
#include "platform/D3D9TestSupport.h"
#include "platform/Window.h"
#include "platform/d3d9/D3DX9.h"
#include "platform/d3d9/ShaderBody.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <functional>
#include <initializer_list>
#include <vector>

namespace d3d9_scenes {
// Found by argument lookup in failure messages.
std::ostream& operator<<(std::ostream& out, const Rgb& c) {
    return out << "(" << c.r << ", " << c.g << ", " << c.b << ")";
}
}  // namespace d3d9_scenes

namespace {

using d3d9_scenes::Rgb;

// A read-back X8R8G8B8 or A8R8G8B8 surface.
struct Picture {
    std::vector<std::uint8_t> bytes;
    D3DSURFACE_DESC desc{};

    Rgb at(int x, int y) const {
        if (x < 0 || y < 0 || UINT(x) >= desc.Width || UINT(y) >= desc.Height ||
            bytes.size() < std::size_t(desc.Width) * desc.Height * 4)
            return {-1, -1, -1};
        const std::uint8_t* p = bytes.data() + (std::size_t(y) * desc.Width + std::size_t(x)) * 4;
        return {p[2], p[1], p[0]};
    }
};

::testing::AssertionResult near(const Rgb& seen, const Rgb& wanted, int tolerance = 3) {
    if (std::abs(seen.r - wanted.r) <= tolerance && std::abs(seen.g - wanted.g) <= tolerance &&
        std::abs(seen.b - wanted.b) <= tolerance)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "seen " << seen << ", wanted " << wanted;
}

class D3D9GLTest : public d3d9_test::D3D9Test {
protected:
    void SetUp() override {
        environment.backend = platform::d3d9::BackendKind::GL;
        D3D9Test::SetUp();
        device = createDevice(d3d9_scenes::sceneParameters());
        ASSERT_NE(device, nullptr) << allLines();
    }

    // Draws the scene and reads the back buffer back.
    Picture scene(const char* name) {
        EXPECT_TRUE(d3d9_scenes::drawScene(device, name)) << name << "\n" << allLines();
        return shoot();
    }

    Picture shoot() {
        Picture picture;
        IDirect3DSurface9* back = nullptr;
        device->GetBackBuffer(0, 0, D3DBACKBUFFER_TYPE_MONO, &back);
        EXPECT_TRUE(platform::d3d9::readSurface(back, picture.bytes, picture.desc));
        back->Release();
        return picture;
    }
};

TEST_F(D3D9GLTest, TexturedVertexColouredQuadMapsTexelsToPixelsExactly) {
    const Picture p = scene("textured_quad");
    EXPECT_TRUE(near(p.at(5, 5), {128, 0, 0}));
    EXPECT_TRUE(near(p.at(58, 5), {0, 0, 128}));
    EXPECT_TRUE(near(p.at(5, 60), {0, 128, 0}));
    // Texel edges fall on pixel edges (no half-pixel shift): pixel 31 is
    // the last red one, row 48 the first of the bottom texel row.
    EXPECT_TRUE(near(p.at(31, 20), {128, 0, 0}));
    EXPECT_TRUE(near(p.at(32, 20), {0, 0, 128}));
    EXPECT_TRUE(near(p.at(40, 47), {0, 0, 128}));
    EXPECT_TRUE(near(p.at(40, 48), {0, 128, 0}));
}

TEST_F(D3D9GLTest, TextureStageOperationsCombineTextureDiffuseAndFactor) {
    const Picture p = scene("stage_operations");
    const auto& cases = d3d9_scenes::stageCases();
    for (std::size_t i = 0; i < cases.size(); ++i) {
        const int x = int((float(i) + 0.5f) * 64.0f / float(cases.size()));
        EXPECT_TRUE(near(p.at(x, 32), cases[i].wanted, 4)) << cases[i].name;
    }
}

TEST_F(D3D9GLTest, TempResultConstantAndLaterStagesCombine) {
    // (64, 0, 0) in TEMP + diffuse (0, 64, 128), times (128, 255, 128).
    EXPECT_TRUE(near(scene("temp_result").at(32, 32), {32, 64, 64}));
}

TEST_F(D3D9GLTest, DirectionalAndPointLightsShadeATessellatedQuad) {
    const Picture p = scene("lights");
    EXPECT_TRUE(near(p.at(16, 32), {128, 64, 0}));
    // The point light: bright near it, dimmer far from it (distance and angle).
    const Rgb nearLight = p.at(61, 2), farFromLight = p.at(34, 61);
    EXPECT_GT(nearLight.b, 200) << nearLight;
    EXPECT_LT(farFromLight.b, nearLight.b - 80) << farFromLight;
    EXPECT_EQ(nearLight.r, 0);
}

TEST_F(D3D9GLTest, LinearFogBlendsTowardTheFogColour) {
    const Picture p = scene("linear_fog");
    EXPECT_TRUE(near(p.at(16, 32), {255, 191, 191}));
    EXPECT_TRUE(near(p.at(48, 32), {255, 64, 64}));
}

TEST_F(D3D9GLTest, ExpFogAndVertexColourAsTheLitDiffuse) {
    const Picture p = scene("exp_fog_and_colour_source");
    const int fogged = int(std::lround(255 * std::exp(-0.5)));  // 155
    EXPECT_TRUE(near(p.at(16, 32), {255, fogged, fogged}));
    EXPECT_TRUE(near(p.at(48, 32), {0, 128, 255}));
}

TEST_F(D3D9GLTest, AlphaTestComparesWithTheReference) {
    const Picture p = scene("alpha_test");
    EXPECT_TRUE(near(p.at(8, 32), {0, 0, 0}));  // 127 >= 128 fails
    EXPECT_TRUE(near(p.at(24, 32), {255, 255, 255}));
    EXPECT_TRUE(near(p.at(40, 32), {0, 255, 0}));  // 127 < 128 passes
    EXPECT_TRUE(near(p.at(56, 32), {0, 0, 0}));
}

TEST_F(D3D9GLTest, AlphaBlendingMixesWithTheTarget) {
    const Picture p = scene("alpha_blending");
    EXPECT_TRUE(near(p.at(16, 32), {128, 0, 127}));
    EXPECT_TRUE(near(p.at(48, 32), {0, 0, 191}));
}

TEST_F(D3D9GLTest, DepthTestOrdersQuadsWhateverTheDrawOrder) {
    const Picture p = scene("depth_order");
    EXPECT_TRUE(near(p.at(16, 24), {0, 255, 0}));
    EXPECT_TRUE(near(p.at(48, 24), {0, 255, 0}));
    EXPECT_TRUE(near(p.at(32, 60), {0, 0, 255}));
}

TEST_F(D3D9GLTest, BackFacesAreCulledInDirect3DWinding) {
    const Picture p = scene("culling");
    EXPECT_TRUE(near(p.at(16, 32), {255, 255, 255}));
    EXPECT_TRUE(near(p.at(48, 32), {255, 0, 0}));
}

TEST_F(D3D9GLTest, UserClipPlaneCutsInWorldSpace) {
    const Picture p = scene("clip_plane");
    EXPECT_TRUE(near(p.at(40, 32), {0, 0, 0}));
    EXPECT_TRUE(near(p.at(56, 32), {255, 255, 255}));
}

TEST_F(D3D9GLTest, LuminanceAndDxt1TexturesSample) {
    const Picture p = scene("l8_and_dxt1");
    EXPECT_TRUE(near(p.at(16, 32), {64, 64, 64}));
    EXPECT_TRUE(near(p.at(48, 32), {255, 0, 0}));
}

TEST_F(D3D9GLTest, RenderTargetTextureIsDrawnThenStretchedIntoTheBackBuffer) {
    const Picture p = scene("render_target");
    EXPECT_TRUE(near(p.at(48, 10), {255, 255, 0}));
    EXPECT_TRUE(near(p.at(48, 54), {0, 255, 0}));
    EXPECT_TRUE(near(p.at(16, 10), {255, 255, 0}));
    EXPECT_TRUE(near(p.at(16, 54), {0, 255, 0}));
}

TEST_F(D3D9GLTest, ALevelOfARenderTargetTextureReadsBackWhatWasDrawn) {
    IDirect3DTexture9* target = nullptr;
    ASSERT_EQ(device->CreateTexture(8, 8, 1, D3DUSAGE_RENDERTARGET, D3DFMT_A8R8G8B8, D3DPOOL_DEFAULT, &target,
                                    nullptr),
              S_OK);
    IDirect3DSurface9 *level = nullptr, *back = nullptr;
    target->GetSurfaceLevel(0, &level);
    device->GetRenderTarget(0, &back);
    device->SetRenderTarget(0, level);
    device->Clear(0, nullptr, D3DCLEAR_TARGET, 0x80204060u, 1.0f, 0);
    device->SetRenderTarget(0, back);
    std::vector<std::uint8_t> bytes;
    D3DSURFACE_DESC desc{};
    ASSERT_TRUE(platform::d3d9::readSurface(level, bytes, desc));
    ASSERT_EQ(bytes.size(), 8u * 8u * 4u);
    EXPECT_EQ(bytes[0], 0x60);
    EXPECT_EQ(bytes[1], 0x40);
    EXPECT_EQ(bytes[2], 0x20);
    EXPECT_EQ(bytes[3], 0x80);
    level->Release();
    back->Release();
    target->Release();
}

platform::d3d9::ShaderBody shaderBody(std::uint8_t kind, std::int32_t source) {
    platform::d3d9::ShaderBody body;
    body.kind = kind;
    body.profile = kind == 0 ? "vs_2_0" : "ps_2_0";
    body.sourceId = source;
    return body;
}

// An A8 target (the shadow maps) keeps alpha only: a clear stores the
// colour's alpha, a draw the output's alpha, from the fixed stages and from
// a shader program alike, and the alpha bit of the colour mask guards it.
TEST_F(D3D9GLTest, AnAlphaOnlyTargetStoresTheAlphaOfClearsAndDraws) {
    platform::d3d9::registerShaderSource(9011, R"(
void main() {
    gl_Position = vec4(d3d_Position.xyz, 1.0);
    d3d_Diffuse = d3d_Color0;
})");
    platform::d3d9::registerShaderSource(9012, "void main() { d3d_FragColor = d3d_Diffuse; }");
    struct Case {
        const char* name;
        bool program;
        DWORD writeMask;
        int wanted;
    };
    const Case cases[] = {
        {"fixed stages", false, 0xF, 0x40},
        {"shader program", true, 0xF, 0x40},
        {"alpha masked off", false, D3DCOLORWRITEENABLE_RED | D3DCOLORWRITEENABLE_GREEN | D3DCOLORWRITEENABLE_BLUE, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        d3d9_scenes::SceneContext scene(device);
        IDirect3DTexture9* target = nullptr;
        ASSERT_EQ(device->CreateTexture(8, 8, 1, D3DUSAGE_RENDERTARGET, D3DFMT_A8, D3DPOOL_DEFAULT, &target, nullptr),
                  S_OK);
        scene.keep(target);
        IDirect3DVertexDeclaration9* declaration = nullptr;
        ASSERT_EQ(device->CreateVertexDeclaration(d3d9_scenes::kVertexElements, &declaration), S_OK);
        scene.keep(declaration);
        IDirect3DSurface9 *level = nullptr, *back = nullptr, *depth = nullptr;
        target->GetSurfaceLevel(0, &level);
        device->GetRenderTarget(0, &back);
        device->GetDepthStencilSurface(&depth);
        device->SetRenderTarget(0, level);
        device->SetDepthStencilSurface(nullptr);
        std::vector<std::uint8_t> bytes;
        D3DSURFACE_DESC desc{};

        // Red without alpha: nothing.
        ASSERT_EQ(device->Clear(0, nullptr, D3DCLEAR_TARGET, 0x00FF0000u, 1.0f, 0), S_OK);
        ASSERT_TRUE(platform::d3d9::readSurface(level, bytes, desc));
        ASSERT_EQ(bytes.size(), 64u);
        EXPECT_EQ(bytes[0], 0) << "after the clear";

        // A full-target quad of red at alpha 0x40.
        device->SetVertexDeclaration(declaration);
        device->SetRenderState(D3DRS_LIGHTING, FALSE);
        device->SetRenderState(D3DRS_COLORWRITEENABLE, c.writeMask);
        scene.diffuseOnly();
        std::vector<std::uint8_t> vertexCode, pixelCode;
        if (c.program) {
            vertexCode = platform::d3d9::writeShaderBody(shaderBody(0, 9011));
            pixelCode = platform::d3d9::writeShaderBody(shaderBody(1, 9012));
            IDirect3DVertexShader9* vs = nullptr;
            IDirect3DPixelShader9* ps = nullptr;
            ASSERT_EQ(device->CreateVertexShader(reinterpret_cast<const DWORD*>(vertexCode.data()), &vs), S_OK)
                << allLines();
            scene.keep(vs);
            ASSERT_EQ(device->CreatePixelShader(reinterpret_cast<const DWORD*>(pixelCode.data()), &ps), S_OK)
                << allLines();
            scene.keep(ps);
            device->SetVertexShader(vs);
            device->SetPixelShader(ps);
        }
        device->BeginScene();
        EXPECT_TRUE(scene.draw(d3d9_scenes::quad(-1, -1, 1, 1, 0.5f, 0x40FF0000u))) << allLines();
        device->EndScene();
        device->SetVertexShader(nullptr);
        device->SetPixelShader(nullptr);
        device->SetRenderState(D3DRS_COLORWRITEENABLE, 0xF);
        ASSERT_TRUE(platform::d3d9::readSurface(level, bytes, desc));
        EXPECT_NEAR(bytes[4 * 8 + 4], c.wanted, 1) << "after the draw";

        device->SetRenderTarget(0, back);
        device->SetDepthStencilSurface(depth);
        level->Release();
        back->Release();
        if (depth) depth->Release();
    }
}

TEST_F(D3D9GLTest, ScreenshotReadsBackTheDrawnColoursAndWritesAPng) {
    ASSERT_TRUE(d3d9_scenes::drawScene(device, "screenshot"));
    EXPECT_EQ(device->Present(nullptr, nullptr, nullptr, nullptr), S_OK);
    const Picture p = shoot();
    for (int y = 0; y < 64; y += 7)
        for (int x = 0; x < 64; x += 7) {
            const bool inside = x < 32 && y >= 32;
            const Rgb wanted = inside ? Rgb{0xC0, 0x80, 0x40} : Rgb{0x10, 0x20, 0x30};
            ASSERT_TRUE(near(p.at(x, y), wanted, 0)) << x << ", " << y;
        }
    IDirect3DSurface9* back = nullptr;
    device->GetBackBuffer(0, 0, D3DBACKBUFFER_TYPE_MONO, &back);
    ID3DXBuffer* png = nullptr;
    EXPECT_EQ(D3DXSaveSurfaceToFileInMemory(&png, D3DXIFF_PNG, back, nullptr, nullptr), S_OK);
    ASSERT_NE(png, nullptr);
    EXPECT_EQ(std::memcmp(png->GetBufferPointer(), "\x89PNG", 4), 0);
    png->Release();
    back->Release();
}

TEST_F(D3D9GLTest, DynamicBuffersKeepWhatEarlierDrawsRead) {
    const Picture p = scene("indexed_dynamic");
    EXPECT_TRUE(near(p.at(8, 32), {255, 0, 0}));
    EXPECT_TRUE(near(p.at(24, 32), {0, 255, 0}));
    EXPECT_TRUE(near(p.at(48, 32), {0, 0, 255}));
}

TEST_F(D3D9GLTest, EveryDiscardOfADynamicBufferDrawsItsOwnContents) {
    // Eight discards of the same buffers, each drawn at once: columns of
    // eight pixels alternating red and green.
    const Picture p = scene("dynamic_windows");
    for (int i = 0; i < 8; ++i) {
        SCOPED_TRACE(i);
        EXPECT_TRUE(near(p.at(i * 8 + 4, 32), (i % 2) ? Rgb{0, 255, 0} : Rgb{255, 0, 0}));
    }
}

TEST_F(D3D9GLTest, PretransformedVerticesLandOnTheirPixelsInsideTheViewport) {
    const Picture p = scene("pretransformed");
    EXPECT_TRUE(near(p.at(40, 8), {255, 255, 255}));
    EXPECT_TRUE(near(p.at(47, 15), {255, 255, 255}));
    EXPECT_TRUE(near(p.at(39, 8), {0, 0, 0}));
    EXPECT_TRUE(near(p.at(48, 16), {0, 0, 0}));
    EXPECT_TRUE(near(p.at(32, 44), {255, 0, 0}));
    EXPECT_TRUE(near(p.at(31, 44), {0, 0, 0}));
}

TEST_F(D3D9GLTest, StencilAndColourWriteMaskLimitWhatIsWritten) {
    const Picture p = scene("stencil_and_mask");
    EXPECT_TRUE(near(p.at(32, 20), {255, 255, 255}));
    EXPECT_TRUE(near(p.at(8, 20), {0, 0, 0}));
    EXPECT_TRUE(near(p.at(8, 60), {0, 255, 0}));
}

TEST_F(D3D9GLTest, ScissorRectangleHoldsDrawsAndClearsInsideIt) {
    const Picture p = scene("scissor");
    const Rgb black{0, 0, 0}, white{255, 255, 255}, red{255, 0, 0}, blue{0, 0, 255};
    struct Probe {
        int x, y;
        Rgb wanted;
    };
    // The rectangle's corners and the pixels just outside each edge.
    const Probe probes[] = {
        {16, 8, white}, {39, 23, white}, {15, 8, black},  {40, 8, black},  {16, 7, black},  {16, 24, black},
        {48, 40, red},  {55, 55, red},   {47, 40, black}, {56, 40, black}, {48, 39, black}, {48, 56, black},
        {4, 60, blue},  {20, 60, black}, {4, 44, black},
    };
    for (const Probe& probe : probes)
        EXPECT_TRUE(near(p.at(probe.x, probe.y), probe.wanted)) << "at " << probe.x << ", " << probe.y;
}

TEST_F(D3D9GLTest, SpotLightConeAndSpecularHighlight) {
    const Picture p = scene("spot_and_specular");
    EXPECT_GT(p.at(16, 32).r, 200) << p.at(16, 32);
    EXPECT_LT(p.at(2, 2).r, 10) << p.at(2, 2);
    EXPECT_TRUE(near(p.at(48, 32), {255, 255, 0}));
}

TEST_F(D3D9GLTest, TextureTransformCubeCoordinatesAndMipLevels) {
    const Picture p = scene("texture_coordinates");
    EXPECT_TRUE(near(p.at(4, 32), {255, 0, 0}));
    EXPECT_TRUE(near(p.at(18, 32), {255, 0, 0}));
    EXPECT_TRUE(near(p.at(32, 32), {0, 0, 255}));
    EXPECT_TRUE(near(p.at(49, 5), {0, 255, 0}));
}

TEST_F(D3D9GLTest, InjectedDeviceLossAndResetStillWorkOnGL) {
    platform::d3d9::loseDevice(device, 1);
    EXPECT_EQ(device->TestCooperativeLevel(), D3DERR_DEVICELOST);
    EXPECT_EQ(device->Present(nullptr, nullptr, nullptr, nullptr), D3DERR_DEVICELOST);
    EXPECT_EQ(device->TestCooperativeLevel(), D3DERR_DEVICENOTRESET);
    D3DPRESENT_PARAMETERS parameters = d3d9_scenes::sceneParameters();
    parameters.BackBufferWidth = 32;
    ASSERT_EQ(device->Reset(&parameters), S_OK) << allLines();
    EXPECT_EQ(device->TestCooperativeLevel(), S_OK);
    const Picture p = scene("screenshot");
    EXPECT_EQ(p.desc.Width, 32u);
    EXPECT_TRUE(near(p.at(4, 60), {0xC0, 0x80, 0x40}, 0));
    EXPECT_TRUE(near(p.at(20, 4), {0x10, 0x20, 0x30}, 0));
}

TEST_F(D3D9GLTest, AnSdlWindowHostsTheContextAndPresentsTheBackBuffer) {
    std::unique_ptr<platform::Window> window = platform::createWindow();
    if (window->backend() != platform::WindowBackend::Sdl) GTEST_SKIP() << "no SDL video here";
    ASSERT_TRUE(window->create("GL", 0, 0, 128, 96, false));
    ASSERT_NE(window->deviceWindow(), nullptr);
    D3DPRESENT_PARAMETERS parameters = d3d9_scenes::sceneParameters();
    IDirect3DDevice9* windowed = nullptr;
    ASSERT_EQ(direct3d->CreateDevice(0, D3DDEVTYPE_HAL, window->deviceWindow(), D3DCREATE_HARDWARE_VERTEXPROCESSING,
                                     &parameters, &windowed),
              S_OK)
        << allLines();
    ASSERT_TRUE(d3d9_scenes::drawScene(windowed, "screenshot"));
    EXPECT_EQ(windowed->Present(nullptr, nullptr, nullptr, nullptr), S_OK);
    IDirect3DSurface9* back = nullptr;
    windowed->GetBackBuffer(0, 0, D3DBACKBUFFER_TYPE_MONO, &back);
    Picture p;
    ASSERT_TRUE(platform::d3d9::readSurface(back, p.bytes, p.desc));
    back->Release();
    EXPECT_TRUE(near(p.at(8, 56), {0xC0, 0x80, 0x40}, 0));
    EXPECT_TRUE(near(p.at(56, 8), {0x10, 0x20, 0x30}, 0));
    // The headless device of the fixture still draws beside it.
    EXPECT_TRUE(near(scene("screenshot").at(8, 56), {0xC0, 0x80, 0x40}, 0));
    windowed->Release();
}

// Frames of a still screen as the game draws them: a clear, then quads
// written into one dynamic vertex buffer with a discard, as the quad batch
// does, textured and coloured by their vertices (stage 0 modulates the two).
// The still picture: a red quad over the left half, a green one in the top
// right quarter, on black.
class D3D9GLStillFrameTest : public D3D9GLTest {
protected:
    using Vertex = d3d9_scenes::Vertex;

    void SetUp() override {
        D3D9GLTest::SetUp();
        ASSERT_EQ(device->CreateVertexDeclaration(d3d9_scenes::kVertexElements, &declaration), S_OK);
        ASSERT_EQ(device->CreateVertexBuffer(64 * sizeof(Vertex), D3DUSAGE_DYNAMIC | D3DUSAGE_WRITEONLY, 0,
                                             D3DPOOL_DEFAULT, &vertices, nullptr),
                  S_OK);
        ASSERT_EQ(device->CreateTexture(4, 4, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &texture, nullptr), S_OK);
        fillTexture(0xFFFFFFFFu);
        device->SetVertexDeclaration(declaration);
        device->SetStreamSource(0, vertices, 0, sizeof(Vertex));
        device->SetRenderState(D3DRS_LIGHTING, FALSE);
        device->SetTexture(0, texture);
        device->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_MODULATE);
        device->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_TEXTURE);
        device->SetTextureStageState(0, D3DTSS_COLORARG2, D3DTA_DIFFUSE);
        // The set-up's uploads make a frame of their own.
        present();
    }

    void TearDown() override {
        for (IUnknown* object : std::initializer_list<IUnknown*>{declaration, vertices, texture})
            if (object) object->Release();
        D3D9GLTest::TearDown();
    }

    void fillTexture(D3DCOLOR color) {
        D3DLOCKED_RECT locked{};
        ASSERT_EQ(texture->LockRect(0, &locked, nullptr, 0), S_OK);
        for (int y = 0; y < 4; ++y)
            for (int x = 0; x < 4; ++x)
                std::memcpy(static_cast<std::uint8_t*>(locked.pBits) + y * locked.Pitch + x * 4, &color, 4);
        texture->UnlockRect(0);
    }

    // Writes the quads with one discarding lock and draws the first drawn of
    // them, each with a draw of its own.
    void drawQuads(const std::vector<std::vector<Vertex>>& quads, std::size_t drawn = SIZE_MAX) {
        std::vector<Vertex> all;
        for (const auto& q : quads) all.insert(all.end(), q.begin(), q.end());
        void* data = nullptr;
        ASSERT_EQ(vertices->Lock(0, UINT(all.size() * sizeof(Vertex)), &data, D3DLOCK_DISCARD), S_OK);
        std::memcpy(data, all.data(), all.size() * sizeof(Vertex));
        vertices->Unlock();
        for (std::size_t i = 0; i < std::min(drawn, quads.size()); ++i)
            EXPECT_EQ(device->DrawPrimitive(D3DPT_TRIANGLELIST, UINT(i * 6), 2), S_OK);
    }

    static std::vector<Vertex> leftQuad(D3DCOLOR color = 0xFFFF0000u) {
        return d3d9_scenes::quad(-1, -1, 0, 1, 0.5f, color);
    }
    static std::vector<Vertex> cornerQuad(float y0 = 0.0f) {
        return d3d9_scenes::quad(0.5f, y0, 1, y0 + 1, 0.5f, 0xFF00FF00u);
    }

    // The still picture's commands, inside a scene.
    void stillCommands(D3DCOLOR clear = 0xFF000000u) {
        device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, clear, 1.0f, 0);
        drawQuads({leftQuad(), cornerQuad()});
    }

    void stillFrame() {
        device->BeginScene();
        stillCommands();
        device->EndScene();
    }

    void present() { EXPECT_EQ(device->Present(nullptr, nullptr, nullptr, nullptr), S_OK); }

    std::uint64_t repeated() const { return platform::d3d9::statistics(device)->repeatedFrames; }

    void expectStillPicture() {
        const Picture p = shoot();
        EXPECT_TRUE(near(p.at(16, 32), {255, 0, 0}));
        EXPECT_TRUE(near(p.at(56, 16), {0, 255, 0}));
        EXPECT_TRUE(near(p.at(56, 48), {0, 0, 0}));
        EXPECT_TRUE(near(p.at(40, 48), {0, 0, 0}));
    }

    IDirect3DVertexDeclaration9* declaration = nullptr;
    IDirect3DVertexBuffer9* vertices = nullptr;
    IDirect3DTexture9* texture = nullptr;
};

// A still screen is not drawn again once its frame has repeated, and what
// changes on it (the pointer moving, a button highlighting, a state, a
// texture, the background, a quad going) is drawn the very next frame, as
// is the still picture coming back.
TEST_F(D3D9GLStillFrameTest, AStillFrameIsNotDrawnAgainAndWhatChangesIsDrawnAtOnce) {
    struct Case {
        const char* name;
        std::function<void()> frame;  // draws the changed frame
        int x, y;
        Rgb wanted;
    };
    const std::vector<Case> cases = {
        {"the corner quad moves down",
         [this] {
             device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF000000u, 1.0f, 0);
             drawQuads({leftQuad(), cornerQuad(-1.0f)});
         },
         56, 48, {0, 255, 0}},
        {"the left quad highlights",
         [this] {
             device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF000000u, 1.0f, 0);
             drawQuads({leftQuad(0xFFFFFF00u), cornerQuad()});
         },
         16, 32, {255, 255, 0}},
        {"a stage state changes",
         [this] {
             device->SetRenderState(D3DRS_TEXTUREFACTOR, 0xFF808080u);
             device->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_TFACTOR);
             stillCommands();
             device->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_TEXTURE);
         },
         16, 32, {128, 0, 0}},
        {"the texture's texels change",
         [this] {
             fillTexture(0xFF808080u);
             stillCommands();
             fillTexture(0xFFFFFFFFu);
         },
         16, 32, {128, 0, 0}},
        {"the background changes", [this] { stillCommands(0xFF0000FFu); }, 40, 48,
         {0, 0, 255}},
        {"the frame stops before the corner quad's draw",
         [this] {
             device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF000000u, 1.0f, 0);
             drawQuads({leftQuad(), cornerQuad()}, 1);
         },
         56, 16, {0, 0, 0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::uint64_t before = repeated();
        for (int i = 0; i < 3; ++i) {
            stillFrame();
            present();
        }
        // The first frame differs from the one before it, the second repeats
        // it but is drawn (see the next test), the third is not.
        EXPECT_EQ(repeated(), before + 1);
        expectStillPicture();
        device->BeginScene();
        c.frame();
        device->EndScene();
        present();
        EXPECT_EQ(repeated(), before + 1);
        EXPECT_TRUE(near(shoot().at(c.x, c.y), c.wanted));
    }
    stillFrame();
    present();
    expectStillPicture();
}

// A frame can read what the frame before wrote (here a vertex buffer it
// draws from before writing it again): the first frame to repeat its
// predecessor is drawn, since what it read may differ; the one after is not.
TEST_F(D3D9GLStillFrameTest, AFrameThatReadsWhatTheFrameBeforeWroteIsDrawn) {
    IDirect3DVertexBuffer9* kept = nullptr;
    ASSERT_EQ(device->CreateVertexBuffer(6 * sizeof(Vertex), D3DUSAGE_WRITEONLY, 0, D3DPOOL_MANAGED, &kept, nullptr),
              S_OK);
    auto write = [&](D3DCOLOR color) {
        const std::vector<Vertex> q = leftQuad(color);
        void* data = nullptr;
        ASSERT_EQ(kept->Lock(0, 0, &data, 0), S_OK);
        std::memcpy(data, q.data(), q.size() * sizeof(Vertex));
        kept->Unlock();
    };
    write(0xFFFF0000u);
    present();
    device->SetStreamSource(0, kept, 0, sizeof(Vertex));
    const Rgb wanted[] = {{255, 0, 0}, {0, 0, 255}, {0, 0, 255}, {0, 0, 255}};
    for (int frame = 0; frame < 4; ++frame) {
        SCOPED_TRACE(frame);
        device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF000000u, 1.0f, 0);
        device->BeginScene();
        EXPECT_EQ(device->DrawPrimitive(D3DPT_TRIANGLELIST, 0, 2), S_OK);
        device->EndScene();
        write(0xFF0000FFu);
        present();
        EXPECT_TRUE(near(shoot().at(16, 32), wanted[frame]));
    }
    EXPECT_EQ(repeated(), 2u);
    device->SetStreamSource(0, vertices, 0, sizeof(Vertex));
    kept->Release();
}

// Frames whose picture builds on what the targets held before are drawn
// every time, although each repeats the one before command for command:
// the back buffer or a target texture is blended into without a clear, or
// cleared in part only.
TEST_F(D3D9GLStillFrameTest, FramesThatBuildOnThePictureBeforeAreDrawnEachTime) {
    IDirect3DTexture9* target = nullptr;
    ASSERT_EQ(device->CreateTexture(64, 64, 1, D3DUSAGE_RENDERTARGET, D3DFMT_A8R8G8B8, D3DPOOL_DEFAULT, &target,
                                    nullptr),
              S_OK);
    IDirect3DSurface9 *level = nullptr, *back = nullptr;
    target->GetSurfaceLevel(0, &level);
    device->GetRenderTarget(0, &back);
    const std::vector<Vertex> whole = d3d9_scenes::quad(-1, -1, 1, 1, 0.5f, 0xFF101010u);
    auto addGrey = [&] {
        device->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
        device->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_ONE);
        device->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_ONE);
        drawQuads({whole});
        device->SetRenderState(D3DRS_ALPHABLENDENABLE, FALSE);
    };
    const RECT left{0, 0, 32, 64};
    struct Case {
        const char* name;
        std::function<void()> frame;
        int x, y;
    };
    const std::vector<Case> cases = {
        {"blended into the back buffer", addGrey, 40, 32},
        {"a clear of the left half",
         [&] {
             device->Clear(1, &left, D3DCLEAR_TARGET, 0xFF000000u, 1.0f, 0);
             addGrey();
         },
         40, 32},
        {"blended into a target texture shown whole",
         [&] {
             device->SetRenderTarget(0, level);
             device->SetTexture(0, nullptr);
             addGrey();
             device->SetRenderTarget(0, back);
             device->SetTexture(0, target);
             device->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFF000000u, 1.0f, 0);
             drawQuads({d3d9_scenes::quad(-1, -1, 1, 1, 0.5f, 0xFFFFFFFFu)});
             device->SetTexture(0, texture);
         },
         40, 32},
    };
    device->SetRenderState(D3DRS_ZENABLE, FALSE);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        device->SetRenderTarget(0, level);
        device->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFF000000u, 1.0f, 0);
        device->SetRenderTarget(0, back);
        device->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFF000000u, 1.0f, 0);
        present();
        const std::uint64_t before = repeated();
        for (int frame = 1; frame <= 6; ++frame) {
            device->BeginScene();
            c.frame();
            device->EndScene();
            present();
            const int grey = 16 * frame;
            EXPECT_TRUE(near(shoot().at(c.x, c.y), {grey, grey, grey})) << "frame " << frame;
        }
        EXPECT_EQ(repeated(), before);
    }
    level->Release();
    back->Release();
    target->Release();
}

// A frame too busy to keep (a hundred and twenty draws) holds up the
// finding of a still screen after it for some frames only.
TEST_F(D3D9GLStillFrameTest, AStillScreenAfterABusyFrameIsFoundToo) {
    device->BeginScene();
    device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF000000u, 1.0f, 0);
    drawQuads({cornerQuad()});
    for (int i = 0; i < 120; ++i) EXPECT_EQ(device->DrawPrimitive(D3DPT_TRIANGLELIST, 0, 2), S_OK);
    device->EndScene();
    present();
    const std::uint64_t before = repeated();
    for (int frame = 0; frame < 60 && repeated() == before; ++frame) {
        stillFrame();
        present();
    }
    EXPECT_GT(repeated(), before);
    expectStillPicture();
}

// A read-back in a frame that so far repeats the one before sees the
// commands held back drawn: here the frame has not drawn the corner quad
// (yet) that the frame before drew.
TEST_F(D3D9GLStillFrameTest, AReadBackInAFrameHeldBackSeesItsCommandsDrawn) {
    for (int i = 0; i < 3; ++i) {
        stillFrame();
        present();
    }
    // The frame before's commands, in part: the clear, the upload of both
    // quads, the left quad's draw.
    device->BeginScene();
    device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF000000u, 1.0f, 0);
    drawQuads({leftQuad(), cornerQuad()}, 1);
    device->EndScene();
    const Picture p = shoot();
    EXPECT_TRUE(near(p.at(16, 32), {255, 0, 0}));
    EXPECT_TRUE(near(p.at(56, 16), {0, 0, 0}));
    present();
    EXPECT_TRUE(near(shoot().at(56, 16), {0, 0, 0}));
}

// A batch buffer sized for the worst case (the quad batch's 50,000 vertices)
// whose locks reach far into it: what one frame wrote early in its window
// still draws after a later lock reached past everything written before,
// and a discard after it starts afresh.
TEST_F(D3D9GLStillFrameTest, ALockFarIntoALargeDynamicBufferKeepsWhatTheWindowHeld) {
    IDirect3DVertexBuffer9* large = nullptr;
    const UINT count = 50000;
    ASSERT_EQ(device->CreateVertexBuffer(count * sizeof(Vertex), D3DUSAGE_DYNAMIC | D3DUSAGE_WRITEONLY, 0,
                                         D3DPOOL_DEFAULT, &large, nullptr),
              S_OK);
    device->SetStreamSource(0, large, 0, sizeof(Vertex));
    auto write = [&](UINT first, const std::vector<Vertex>& quad, DWORD flags) {
        void* data = nullptr;
        ASSERT_EQ(large->Lock(first * sizeof(Vertex), UINT(quad.size() * sizeof(Vertex)), &data, flags), S_OK);
        std::memcpy(data, quad.data(), quad.size() * sizeof(Vertex));
        large->Unlock();
    };
    const UINT far = count - 6;
    for (int frame = 0; frame < 3; ++frame) {
        device->BeginScene();
        device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF000000u, 1.0f, 0);
        write(0, leftQuad(), D3DLOCK_DISCARD);
        write(far, cornerQuad(), D3DLOCK_NOOVERWRITE);
        EXPECT_EQ(device->DrawPrimitive(D3DPT_TRIANGLELIST, far, 2), S_OK);
        // The left quad, written before the far lock.
        EXPECT_EQ(device->DrawPrimitive(D3DPT_TRIANGLELIST, 0, 2), S_OK);
        device->EndScene();
        SCOPED_TRACE(frame);
        expectStillPicture();
        present();
    }
    // A discard writing only the far quad: the left one is gone.
    device->BeginScene();
    device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF000000u, 1.0f, 0);
    write(far, cornerQuad(), D3DLOCK_DISCARD);
    EXPECT_EQ(device->DrawPrimitive(D3DPT_TRIANGLELIST, far, 2), S_OK);
    device->EndScene();
    const Picture p = shoot();
    EXPECT_TRUE(near(p.at(16, 32), {0, 0, 0}));
    EXPECT_TRUE(near(p.at(56, 16), {0, 255, 0}));
    device->SetStreamSource(0, vertices, 0, sizeof(Vertex));
    large->Release();
}

TEST_F(D3D9GLTest, ShadersCompileFromRegisteredSourcesAndFailWithTheirLog) {
    const Picture p = scene("shaders");
    EXPECT_TRUE(near(p.at(32, 32), {255, 128, 0}));
    EXPECT_TRUE(near(p.at(2, 32), {0, 0, 255}));
    EXPECT_TRUE(near(p.at(12, 32), {0, 0, 0}));

    platform::d3d9::registerShaderSource(9003, "void main() { undefined_call(); }");
    const auto badCode = platform::d3d9::writeShaderBody(shaderBody(1, 9003));
    IDirect3DPixelShader9* bad = nullptr;
    EXPECT_EQ(device->CreatePixelShader(reinterpret_cast<const DWORD*>(badCode.data()), &bad), D3DERR_INVALIDCALL);
    EXPECT_EQ(bad, nullptr);
    EXPECT_TRUE(logged("CreatePixelShader failed: source 9003 does not compile: ")) << allLines();
    EXPECT_TRUE(logged("undefined_call")) << allLines();
    const auto missingCode = platform::d3d9::writeShaderBody(shaderBody(0, 9999));
    IDirect3DVertexShader9* missing = nullptr;
    EXPECT_EQ(device->CreateVertexShader(reinterpret_cast<const DWORD*>(missingCode.data()), &missing),
              D3DERR_INVALIDCALL);
    EXPECT_TRUE(logged("CreateVertexShader failed: no GLSL source 9999")) << allLines();
}

}  // namespace
