// The GL backend of our Direct3D 9, drawing on the host's OpenGL (Mesa's
// llvmpipe in CI, headless through EGL). Each picture is checked by the
// colours of a few regions, with a tolerance, never against a stored image.
#include "platform/d3d9/D3DX9.h"
#include "platform/d3d9/ShaderBody.h"
#include "platform/D3D9TestSupport.h"

#include <cmath>
#include <cstring>
#include <vector>

namespace {

struct Vertex {
    float x, y, z;
    float nx, ny, nz;
    D3DCOLOR color;
    float u, v;
};

const D3DVERTEXELEMENT9 kElements[] = {
    {0, 0, D3DDECLTYPE_FLOAT3, 0, D3DDECLUSAGE_POSITION, 0},
    {0, 12, D3DDECLTYPE_FLOAT3, 0, D3DDECLUSAGE_NORMAL, 0},
    {0, 24, D3DDECLTYPE_D3DCOLOR, 0, D3DDECLUSAGE_COLOR, 0},
    {0, 28, D3DDECLTYPE_FLOAT2, 0, D3DDECLUSAGE_TEXCOORD, 0},
    D3DDECL_END(),
};

struct Rgb {
    int r, g, b;
};

std::ostream& operator<<(std::ostream& out, const Rgb& c) {
    return out << "(" << c.r << ", " << c.g << ", " << c.b << ")";
}

// A read-back X8R8G8B8 or A8R8G8B8 surface.
struct Picture {
    std::vector<std::uint8_t> bytes;
    D3DSURFACE_DESC desc{};

    Rgb at(int x, int y) const {
        if (x < 0 || y < 0 || UINT(x) >= desc.Width || UINT(y) >= desc.Height || bytes.size() < desc.Width * desc.Height * 4)
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
        device = createDevice(windowed(64, 64));
        ASSERT_NE(device, nullptr) << allLines();
        ASSERT_EQ(device->CreateVertexDeclaration(kElements, &declaration), S_OK);
        device->SetVertexDeclaration(declaration);
        device->SetRenderState(D3DRS_LIGHTING, FALSE);
        device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF000000u, 1.0f, 0);
        device->BeginScene();
    }

    void TearDown() override {
        for (IUnknown* object : objects) object->Release();
        if (declaration) declaration->Release();
        D3D9Test::TearDown();
    }

    // Draws the vertices from a fresh vertex buffer.
    void draw(const std::vector<Vertex>& vertices, D3DPRIMITIVETYPE type = D3DPT_TRIANGLELIST) {
        IDirect3DVertexBuffer9* buffer = nullptr;
        const UINT bytes = UINT(vertices.size() * sizeof(Vertex));
        ASSERT_EQ(device->CreateVertexBuffer(bytes, D3DUSAGE_WRITEONLY, 0, D3DPOOL_MANAGED, &buffer, nullptr), S_OK);
        void* data = nullptr;
        ASSERT_EQ(buffer->Lock(0, 0, &data, 0), S_OK);
        std::memcpy(data, vertices.data(), bytes);
        buffer->Unlock();
        device->SetStreamSource(0, buffer, 0, sizeof(Vertex));
        const UINT primitives = type == D3DPT_TRIANGLELIST ? UINT(vertices.size() / 3) : UINT(vertices.size() - 2);
        EXPECT_EQ(device->DrawPrimitive(type, 0, primitives), S_OK) << allLines();
        buffer->Release();
    }

    // A quad over (x0, y0) to (x1, y1) in clip space (y up), clockwise on
    // screen, texture coordinates 0 to 1 from the top left.
    static std::vector<Vertex> quad(float x0, float y0, float x1, float y1, float z, D3DCOLOR color) {
        const Vertex tl{x0, y1, z, 0, 0, -1, color, 0, 0}, tr{x1, y1, z, 0, 0, -1, color, 1, 0};
        const Vertex br{x1, y0, z, 0, 0, -1, color, 1, 1}, bl{x0, y0, z, 0, 0, -1, color, 0, 1};
        return {tl, tr, br, tl, br, bl};
    }
    static std::vector<Vertex> fullQuad(D3DCOLOR color, float z = 0.5f) { return quad(-1, -1, 1, 1, z, color); }

    // A texture of one level, filled texel by texel (format's own bytes).
    IDirect3DTexture9* texture(UINT width, UINT height, D3DFORMAT format, const std::vector<std::uint8_t>& texels) {
        IDirect3DTexture9* t = nullptr;
        EXPECT_EQ(device->CreateTexture(width, height, 1, 0, format, D3DPOOL_MANAGED, &t, nullptr), S_OK);
        D3DLOCKED_RECT locked{};
        EXPECT_EQ(t->LockRect(0, &locked, nullptr, 0), S_OK);
        std::memcpy(locked.pBits, texels.data(), texels.size());
        t->UnlockRect(0);
        objects.push_back(t);
        return t;
    }
    IDirect3DTexture9* solidTexture(D3DCOLOR color) {
        std::vector<std::uint8_t> texels;
        for (int i = 0; i < 16; ++i)
            for (int b = 0; b < 4; ++b) texels.push_back(std::uint8_t(color >> (8 * b)));
        return texture(4, 4, D3DFMT_A8R8G8B8, texels);
    }

    Picture shoot(IDirect3DSurface9* surface = nullptr) {
        Picture picture;
        IDirect3DSurface9* back = surface;
        if (!back) device->GetBackBuffer(0, 0, D3DBACKBUFFER_TYPE_MONO, &back);
        EXPECT_TRUE(platform::d3d9::readSurface(back, picture.bytes, picture.desc));
        if (!surface) back->Release();
        return picture;
    }

    void setStage(DWORD stage, D3DTEXTURESTAGESTATETYPE type, DWORD value) {
        ASSERT_EQ(device->SetTextureStageState(stage, type, value), S_OK);
    }

    IDirect3DVertexDeclaration9* declaration = nullptr;
    std::vector<IUnknown*> objects;
};

TEST_F(D3D9GLTest, TexturedVertexColouredQuadMapsTexelsToPixelsExactly) {
    // 4 x 4 texels: left half red, right half blue, bottom row green.
    std::vector<std::uint8_t> texels;
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 4; ++x) {
            const D3DCOLOR c = y == 3 ? 0xFF00FF00u : x < 2 ? 0xFFFF0000u : 0xFF0000FFu;
            for (int b = 0; b < 4; ++b) texels.push_back(std::uint8_t(c >> (8 * b)));
        }
    device->SetTexture(0, texture(4, 4, D3DFMT_A8R8G8B8, texels));
    draw(fullQuad(0xFF808080u));
    device->EndScene();
    const Picture p = shoot();
    EXPECT_TRUE(near(p.at(5, 5), {128, 0, 0}));
    EXPECT_TRUE(near(p.at(58, 5), {0, 0, 128}));
    EXPECT_TRUE(near(p.at(5, 60), {0, 128, 0}));
    // Texel edges fall on pixel edges: pixel 31 is the last red one, 48
    // the first of the bottom row.
    EXPECT_TRUE(near(p.at(31, 20), {128, 0, 0}));
    EXPECT_TRUE(near(p.at(32, 20), {0, 0, 128}));
    EXPECT_TRUE(near(p.at(40, 47), {0, 0, 128}));
    EXPECT_TRUE(near(p.at(40, 48), {0, 128, 0}));
}

struct StageCase {
    const char* name;
    DWORD colorOp;
    DWORD arg1, arg2;
    Rgb wanted;
};

TEST_F(D3D9GLTest, TextureStageOperationsCombineTextureDiffuseAndFactor) {
    // Texture (128, 64, 32, alpha 64), diffuse (128, 128, 128, alpha 255),
    // factor (255, 0, 0, alpha 192).
    device->SetTexture(0, solidTexture(0x40804020u));
    device->SetRenderState(D3DRS_TEXTUREFACTOR, 0xC0FF0000u);
    const StageCase cases[] = {
        {"MODULATE", D3DTOP_MODULATE, D3DTA_TEXTURE, D3DTA_DIFFUSE, {64, 32, 16}},
        {"MODULATE2X", D3DTOP_MODULATE2X, D3DTA_TEXTURE, D3DTA_DIFFUSE, {128, 64, 32}},
        {"MODULATE4X", D3DTOP_MODULATE4X, D3DTA_TEXTURE, D3DTA_DIFFUSE, {255, 128, 64}},
        {"ADD", D3DTOP_ADD, D3DTA_TEXTURE, D3DTA_DIFFUSE, {255, 192, 160}},
        {"ADDSIGNED", D3DTOP_ADDSIGNED, D3DTA_TEXTURE, D3DTA_DIFFUSE, {128, 64, 32}},
        {"SUBTRACT", D3DTOP_SUBTRACT, D3DTA_DIFFUSE, D3DTA_TEXTURE, {0, 64, 96}},
        {"SELECTARG1", D3DTOP_SELECTARG1, D3DTA_TEXTURE, D3DTA_DIFFUSE, {128, 64, 32}},
        {"SELECTARG2 of TFACTOR", D3DTOP_SELECTARG2, D3DTA_TEXTURE, D3DTA_TFACTOR, {255, 0, 0}},
        {"BLENDFACTORALPHA", D3DTOP_BLENDFACTORALPHA, D3DTA_TFACTOR, D3DTA_DIFFUSE, {224, 32, 32}},
        {"BLENDTEXTUREALPHA", D3DTOP_BLENDTEXTUREALPHA, D3DTA_TEXTURE, D3DTA_DIFFUSE, {128, 112, 104}},
        {"BLENDDIFFUSEALPHA", D3DTOP_BLENDDIFFUSEALPHA, D3DTA_TEXTURE, D3DTA_TFACTOR, {128, 64, 32}},
        {"complement", D3DTOP_SELECTARG1, D3DTA_TEXTURE | D3DTA_COMPLEMENT, D3DTA_DIFFUSE, {127, 191, 223}},
        {"alpha replicate", D3DTOP_SELECTARG1, D3DTA_TEXTURE | D3DTA_ALPHAREPLICATE, D3DTA_DIFFUSE, {64, 64, 64}},
        // (0.5 - 0.5) * 2 = 0 on red; the dot product of texture and diffuse.
        {"DOTPRODUCT3", D3DTOP_DOTPRODUCT3, D3DTA_TFACTOR, D3DTA_TFACTOR, {255, 255, 255}},
    };
    float x = -1.0f;
    const float width = 2.0f / float(std::size(cases));
    for (const StageCase& c : cases) {
        setStage(0, D3DTSS_COLOROP, c.colorOp);
        setStage(0, D3DTSS_COLORARG1, c.arg1);
        setStage(0, D3DTSS_COLORARG2, c.arg2);
        draw(quad(x, -1, x + width, 1, 0.5f, 0xFF808080u));
        x += width;
    }
    device->EndScene();
    const Picture p = shoot();
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        const int px = int((float(i) + 0.5f) * 64.0f / float(std::size(cases)));
        EXPECT_TRUE(near(p.at(px, 32), cases[i].wanted, 4)) << cases[i].name;
    }
}

TEST_F(D3D9GLTest, TempResultAndSecondStageCombine) {
    // Stage 0 puts the texture into TEMP; stage 1 selects diffuse, stage 2
    // adds TEMP to it; a stage constant feeds stage 3's alpha.
    device->SetTexture(0, solidTexture(0xFF400000u));
    setStage(0, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
    setStage(0, D3DTSS_COLORARG1, D3DTA_TEXTURE);
    setStage(0, D3DTSS_RESULTARG, D3DTA_TEMP);
    setStage(1, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
    setStage(1, D3DTSS_COLORARG1, D3DTA_DIFFUSE);
    setStage(1, D3DTSS_ALPHAOP, D3DTOP_SELECTARG1);
    setStage(1, D3DTSS_ALPHAARG1, D3DTA_DIFFUSE);
    setStage(2, D3DTSS_COLOROP, D3DTOP_ADD);
    setStage(2, D3DTSS_COLORARG1, D3DTA_CURRENT);
    setStage(2, D3DTSS_COLORARG2, D3DTA_TEMP);
    setStage(2, D3DTSS_ALPHAOP, D3DTOP_SELECTARG1);
    setStage(2, D3DTSS_ALPHAARG1, D3DTA_CURRENT);
    setStage(3, D3DTSS_COLOROP, D3DTOP_MODULATE);
    setStage(3, D3DTSS_COLORARG1, D3DTA_CURRENT);
    setStage(3, D3DTSS_COLORARG2, D3DTA_CONSTANT);
    setStage(3, D3DTSS_CONSTANT, 0xFF80FF80u);
    setStage(3, D3DTSS_ALPHAOP, D3DTOP_SELECTARG1);
    setStage(3, D3DTSS_ALPHAARG1, D3DTA_CURRENT);
    draw(fullQuad(0xFF004080u));
    device->EndScene();
    EXPECT_TRUE(near(shoot().at(32, 32), {32, 64, 64}));
}

TEST_F(D3D9GLTest, DirectionalAndPointLightsShadeATessellatedQuad) {
    device->SetRenderState(D3DRS_LIGHTING, TRUE);
    device->SetRenderState(D3DRS_DIFFUSEMATERIALSOURCE, D3DMCS_MATERIAL);
    D3DMATERIAL9 material{};
    material.Diffuse = {1, 1, 1, 1};
    device->SetMaterial(&material);
    // A 16 x 16 grid facing the camera (normal toward -z).
    std::vector<Vertex> grid;
    const int n = 16;
    for (int j = 0; j < n; ++j)
        for (int i = 0; i < n; ++i) {
            const float x0 = -1 + 2.0f * i / n, x1 = -1 + 2.0f * (i + 1) / n;
            const float y0 = -1 + 2.0f * j / n, y1 = -1 + 2.0f * (j + 1) / n;
            for (const Vertex& v : quad(x0, y0, x1, y1, 0.5f, 0xFFFFFFFFu)) grid.push_back(v);
        }
    // Left half: a directional light of (0.5, 0.25, 0) shining along +z.
    D3DLIGHT9 sun{};
    sun.Type = D3DLIGHT_DIRECTIONAL;
    sun.Diffuse = {0.5f, 0.25f, 0.0f, 1};
    sun.Direction = {0, 0, 1};
    device->SetLight(0, &sun);
    device->LightEnable(0, TRUE);
    for (auto& v : grid) v.x = v.x * 0.5f - 0.5f;
    draw(grid);
    // Right half: a point light close to the top right corner, in front of it.
    device->LightEnable(0, FALSE);
    D3DLIGHT9 lamp{};
    lamp.Type = D3DLIGHT_POINT;
    lamp.Diffuse = {0, 0, 1, 1};
    lamp.Position = {1.0f, 1.0f, 0.3f};
    lamp.Range = 10;
    lamp.Attenuation0 = 1;
    device->SetLight(1, &lamp);
    device->LightEnable(1, TRUE);
    for (auto& v : grid) v.x += 1.0f;
    draw(grid);
    device->EndScene();
    const Picture p = shoot();
    EXPECT_TRUE(near(p.at(16, 32), {128, 64, 0}));
    // Lambert: bright near the light, dimmer far from it.
    const Rgb nearLight = p.at(61, 2), farFromLight = p.at(34, 61);
    EXPECT_GT(nearLight.b, 200) << nearLight;
    EXPECT_LT(farFromLight.b, nearLight.b - 80) << farFromLight;
    EXPECT_EQ(nearLight.r, 0);
}

TEST_F(D3D9GLTest, LinearFogBlendsTowardTheFogColour) {
    device->SetRenderState(D3DRS_FOGENABLE, TRUE);
    device->SetRenderState(D3DRS_FOGVERTEXMODE, D3DFOG_LINEAR);
    device->SetRenderState(D3DRS_FOGCOLOR, 0xFFFF0000u);
    const float start = 0.0f, end = 1.0f;
    DWORD bits;
    std::memcpy(&bits, &start, 4);
    device->SetRenderState(D3DRS_FOGSTART, bits);
    std::memcpy(&bits, &end, 4);
    device->SetRenderState(D3DRS_FOGEND, bits);
    draw(quad(-1, -1, 0, 1, 0.25f, 0xFFFFFFFFu));
    draw(quad(0, -1, 1, 1, 0.75f, 0xFFFFFFFFu));
    device->EndScene();
    const Picture p = shoot();
    EXPECT_TRUE(near(p.at(16, 32), {255, 191, 191}));
    EXPECT_TRUE(near(p.at(48, 32), {255, 64, 64}));
}

TEST_F(D3D9GLTest, AlphaTestKeepsPixelsAtTheReferenceAndAbove) {
    device->SetRenderState(D3DRS_ALPHATESTENABLE, TRUE);
    device->SetRenderState(D3DRS_ALPHAFUNC, D3DCMP_GREATEREQUAL);
    device->SetRenderState(D3DRS_ALPHAREF, 0x80);
    setStage(0, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
    setStage(0, D3DTSS_COLORARG1, D3DTA_DIFFUSE);
    setStage(0, D3DTSS_ALPHAARG1, D3DTA_DIFFUSE);
    draw(quad(-1, -1, -0.5f, 1, 0.5f, 0x7FFFFFFFu));
    draw(quad(-0.5f, -1, 0, 1, 0.5f, 0x80FFFFFFu));
    device->SetRenderState(D3DRS_ALPHAFUNC, D3DCMP_LESS);
    draw(quad(0, -1, 0.5f, 1, 0.5f, 0x7F00FF00u));
    draw(quad(0.5f, -1, 1, 1, 0.5f, 0x8000FF00u));
    device->EndScene();
    const Picture p = shoot();
    EXPECT_TRUE(near(p.at(8, 32), {0, 0, 0}));
    EXPECT_TRUE(near(p.at(24, 32), {255, 255, 255}));
    EXPECT_TRUE(near(p.at(40, 32), {0, 255, 0}));
    EXPECT_TRUE(near(p.at(56, 32), {0, 0, 0}));
}

TEST_F(D3D9GLTest, AlphaBlendingMixesWithTheTarget) {
    device->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFF0000FFu, 1.0f, 0);
    device->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
    device->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_SRCALPHA);
    device->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_INVSRCALPHA);
    setStage(0, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
    setStage(0, D3DTSS_COLORARG1, D3DTA_DIFFUSE);
    setStage(0, D3DTSS_ALPHAARG1, D3DTA_DIFFUSE);
    draw(quad(-1, -1, 0, 1, 0.5f, 0x80FF0000u));
    // Additive, and the reverse subtraction.
    device->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_ONE);
    device->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_ONE);
    device->SetRenderState(D3DRS_BLENDOP, D3DBLENDOP_REVSUBTRACT);
    draw(quad(0, -1, 1, 1, 0.5f, 0xFF000040u));
    device->EndScene();
    const Picture p = shoot();
    EXPECT_TRUE(near(p.at(16, 32), {128, 0, 127}));
    EXPECT_TRUE(near(p.at(48, 32), {0, 0, 191}));
}

TEST_F(D3D9GLTest, DepthTestOrdersQuadsWhateverTheDrawOrder) {
    setStage(0, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
    setStage(0, D3DTSS_COLORARG1, D3DTA_DIFFUSE);
    // Left: near first; right: far first. The near (green) quad wins both.
    draw(quad(-1, -1, 0, 1, 0.2f, 0xFF00FF00u));
    draw(quad(-1, -1, 0, 1, 0.8f, 0xFFFF0000u));
    draw(quad(0, -1, 1, 1, 0.8f, 0xFFFF0000u));
    draw(quad(0, -1, 1, 1, 0.2f, 0xFF00FF00u));
    // Without depth writes a later far quad still loses, but leaves no depth.
    device->SetRenderState(D3DRS_ZFUNC, D3DCMP_GREATER);
    draw(quad(-1, -1, 1, -0.5f, 0.9f, 0xFF0000FFu));
    device->EndScene();
    const Picture p = shoot();
    EXPECT_TRUE(near(p.at(16, 24), {0, 255, 0}));
    EXPECT_TRUE(near(p.at(48, 24), {0, 255, 0}));
    EXPECT_TRUE(near(p.at(32, 60), {0, 0, 255}));
}

TEST_F(D3D9GLTest, BackFacesAreCulledInDirect3DWinding) {
    setStage(0, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
    setStage(0, D3DTSS_COLORARG1, D3DTA_DIFFUSE);
    std::vector<Vertex> clockwise = quad(-1, -1, 0, 1, 0.5f, 0xFFFFFFFFu);
    std::vector<Vertex> counter = quad(0, -1, 1, 1, 0.5f, 0xFFFFFFFFu);
    std::swap(counter[1], counter[2]);
    std::swap(counter[4], counter[5]);
    draw(clockwise);
    draw(counter);
    // CULL_CW keeps only the counter-clockwise quad, drawn red in the middle band.
    device->SetRenderState(D3DRS_CULLMODE, D3DCULL_CW);
    for (auto& v : clockwise) v.color = 0xFFFF0000u, v.z = 0.1f;
    for (auto& v : counter) v.color = 0xFFFF0000u, v.z = 0.1f;
    draw(clockwise);
    draw(counter);
    device->EndScene();
    const Picture p = shoot();
    EXPECT_TRUE(near(p.at(16, 32), {255, 255, 255}));
    EXPECT_TRUE(near(p.at(48, 32), {255, 0, 0}));
}

TEST_F(D3D9GLTest, UserClipPlaneCutsInWorldSpace) {
    setStage(0, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
    setStage(0, D3DTSS_COLORARG1, D3DTA_DIFFUSE);
    // Keeps x >= 0.5 in world space; the world matrix moves the quad left by 0.5.
    const float plane[4] = {1, 0, 0, -0.5f};
    device->SetClipPlane(0, plane);
    device->SetRenderState(D3DRS_CLIPPLANEENABLE, 1);
    D3DMATRIX world{{{1, 0, 0, 0}, {0, 1, 0, 0}, {0, 0, 1, 0}, {0.5f, 0, 0, 1}}};
    device->SetTransform(D3DTS_WORLD, &world);
    draw(quad(-1.5f, -1, 0.5f, 1, 0.5f, 0xFFFFFFFFu));
    device->EndScene();
    const Picture p = shoot();
    // The quad covers the target; world x 0.5 falls on pixel 48.
    EXPECT_TRUE(near(p.at(40, 32), {0, 0, 0}));
    EXPECT_TRUE(near(p.at(56, 32), {255, 255, 255}));
}

TEST_F(D3D9GLTest, LuminanceAndDxt1TexturesSample) {
    setStage(0, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
    setStage(0, D3DTSS_ALPHAOP, D3DTOP_SELECTARG1);
    device->SetTexture(0, texture(4, 4, D3DFMT_L8, std::vector<std::uint8_t>(16, 0x40)));
    draw(quad(-1, -1, 0, 1, 0.5f, 0xFFFFFFFFu));
    // One DXT1 block: colour 0 red (5:6:5), colour 1 blue, every index 0.
    const std::vector<std::uint8_t> block = {0x00, 0xF8, 0x1F, 0x00, 0, 0, 0, 0};
    device->SetTexture(0, texture(4, 4, D3DFMT_DXT1, block));
    draw(quad(0, -1, 1, 1, 0.5f, 0xFFFFFFFFu));
    device->EndScene();
    const Picture p = shoot();
    EXPECT_TRUE(near(p.at(16, 32), {64, 64, 64}));
    EXPECT_TRUE(near(p.at(48, 32), {255, 0, 0}));
}

TEST_F(D3D9GLTest, RenderTargetTextureIsDrawnThenStretchedIntoTheBackBuffer) {
    IDirect3DTexture9* target = nullptr;
    ASSERT_EQ(device->CreateTexture(16, 16, 1, D3DUSAGE_RENDERTARGET, D3DFMT_A8R8G8B8, D3DPOOL_DEFAULT, &target,
                                    nullptr),
              S_OK);
    objects.push_back(target);
    IDirect3DSurface9* surface = nullptr, *back = nullptr;
    target->GetSurfaceLevel(0, &surface);
    device->GetRenderTarget(0, &back);
    device->SetRenderTarget(0, surface);
    device->SetDepthStencilSurface(nullptr);
    device->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFF00FF00u, 1.0f, 0);
    setStage(0, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
    setStage(0, D3DTSS_COLORARG1, D3DTA_DIFFUSE);
    draw(quad(-1, 0, 1, 1, 0.5f, 0xFFFFFF00u));  // the top half yellow
    device->EndScene();
    const Picture drawn = shoot(surface);
    EXPECT_TRUE(near(drawn.at(8, 2), {255, 255, 0}));
    EXPECT_TRUE(near(drawn.at(8, 13), {0, 255, 0}));
    device->SetRenderTarget(0, back);
    // The whole target into the right half of the back buffer.
    const RECT right{32, 0, 64, 64};
    EXPECT_EQ(device->StretchRect(surface, nullptr, back, &right, D3DTEXF_POINT), S_OK);
    // And the target used as a texture on the left half.
    device->BeginScene();
    device->SetTexture(0, target);
    setStage(0, D3DTSS_COLORARG1, D3DTA_TEXTURE);
    draw(quad(-1, -1, 0, 1, 0.5f, 0xFFFFFFFFu));
    device->EndScene();
    const Picture p = shoot();
    EXPECT_TRUE(near(p.at(48, 10), {255, 255, 0}));
    EXPECT_TRUE(near(p.at(48, 54), {0, 255, 0}));
    EXPECT_TRUE(near(p.at(16, 10), {255, 255, 0}));
    EXPECT_TRUE(near(p.at(16, 54), {0, 255, 0}));
    surface->Release();
    back->Release();
}

TEST_F(D3D9GLTest, ScreenshotReadsBackTheDrawnColoursAndWritesAPng) {
    device->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFF102030u, 1.0f, 0);
    setStage(0, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
    setStage(0, D3DTSS_COLORARG1, D3DTA_DIFFUSE);
    draw(quad(-1, -1, 0, 0, 0.5f, 0xFFC08040u));  // bottom left quarter
    device->EndScene();
    EXPECT_EQ(device->Present(nullptr, nullptr, nullptr, nullptr), S_OK);
    const Picture p = shoot();
    for (int y = 0; y < 64; y += 7)
        for (int x = 0; x < 64; x += 7) {
            const bool inside = x < 32 && y >= 32;
            ASSERT_EQ(p.at(x, y).r, inside ? 0xC0 : 0x10) << x << ", " << y;
            ASSERT_EQ(p.at(x, y).g, inside ? 0x80 : 0x20) << x << ", " << y;
            ASSERT_EQ(p.at(x, y).b, inside ? 0x40 : 0x30) << x << ", " << y;
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

platform::d3d9::ShaderBody shaderBody(std::uint8_t kind, std::int32_t source) {
    platform::d3d9::ShaderBody body;
    body.kind = kind;
    body.profile = kind == 0 ? "vs_2_0" : "ps_2_0";
    body.entryPoint = "main";
    body.sourceId = source;
    body.defines = {{"SCALE", "0.5"}};
    return body;
}

TEST_F(D3D9GLTest, ShadersCompileFromRegisteredSourcesAndReadConstants) {
    platform::d3d9::registerShaderSource(9001, R"(
void main() {
    gl_Position = vec4(d3d_Position.xy * SCALE, d3d_Position.z, 1.0) * vc[4].x;
    d3d_Diffuse = d3d_Color0;
    d3d_Texture[0] = d3d_TexCoord0;
})");
    platform::d3d9::registerShaderSource(9002, R"(
void main() { d3d_FragColor = d3d_Diffuse * pc[2]; })");
    platform::d3d9::registerShaderSource(9003, "void main() { undefined_call(); }");
    IDirect3DVertexShader9* vs = nullptr;
    IDirect3DPixelShader9* ps = nullptr;
    const auto vertexCode = platform::d3d9::writeShaderBody(shaderBody(0, 9001));
    const auto pixelCode = platform::d3d9::writeShaderBody(shaderBody(1, 9002));
    ASSERT_EQ(device->CreateVertexShader(reinterpret_cast<const DWORD*>(vertexCode.data()), &vs), S_OK) << allLines();
    ASSERT_EQ(device->CreatePixelShader(reinterpret_cast<const DWORD*>(pixelCode.data()), &ps), S_OK) << allLines();
    objects.push_back(vs);
    objects.push_back(ps);
    const float one[4] = {1, 1, 1, 1}, half[4] = {1, 0.5f, 0, 1};
    device->SetVertexShaderConstantF(4, one, 1);
    device->SetPixelShaderConstantF(2, half, 1);
    device->SetVertexShader(vs);
    device->SetPixelShader(ps);
    draw(fullQuad(0xFFFFFFFFu));  // scaled to the middle half
    // The shader vertex half with the fixed pixel half.
    device->SetPixelShader(nullptr);
    setStage(0, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
    setStage(0, D3DTSS_COLORARG1, D3DTA_DIFFUSE);
    draw(quad(-2, -2, -1.5f, 2, 0.5f, 0xFF0000FFu));  // scaled to the left eighth
    device->EndScene();
    const Picture p = shoot();
    EXPECT_TRUE(near(p.at(32, 32), {255, 128, 0}));
    EXPECT_TRUE(near(p.at(2, 32), {0, 0, 255}));
    EXPECT_TRUE(near(p.at(12, 32), {0, 0, 0}));

    const auto badCode = platform::d3d9::writeShaderBody(shaderBody(1, 9003));
    IDirect3DPixelShader9* bad = nullptr;
    EXPECT_EQ(device->CreatePixelShader(reinterpret_cast<const DWORD*>(badCode.data()), &bad), D3DERR_INVALIDCALL);
    EXPECT_EQ(bad, nullptr);
    EXPECT_TRUE(logged("CreatePixelShader failed: source 9003 does not compile: ")) << allLines();
    EXPECT_TRUE(logged("undefined_call")) << allLines();
    const auto missingCode = platform::d3d9::writeShaderBody(shaderBody(0, 9999));
    EXPECT_EQ(device->CreateVertexShader(reinterpret_cast<const DWORD*>(missingCode.data()), &vs), D3DERR_INVALIDCALL);
    EXPECT_TRUE(logged("CreateVertexShader failed: no GLSL source 9999")) << allLines();
}

}  // namespace
