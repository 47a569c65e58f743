#include "platform/Display.h"
#include "platform/d3d9/ShaderBody.h"
#include "platform/d3d9/PixelFormat.h"
#include "platform/D3D9TestSupport.h"
#include "support/TestSupport.h"

#include <algorithm>
#include <cstring>

using d3d9_test::D3D9Test;
using platform::d3d9::AdapterProfile;
using platform::d3d9::FormatCheck;

namespace {

const char* const kProfileText =
    "# two adapters\n"
    "adapter RADEON 9600 SERIES\n"
    "vendor 0x1002\n"
    "desktop 1280 1024 75\n"
    "mode 640 480 60\n"
    "mode 800 600 60\n"
    "mode 800 600 85\n"
    "mode 1024 768 60 23\n"
    "vs 2.0\n"
    "ps 2.0\n"
    "maxtexture 2048 2048\n"
    "alphacmpcaps 0x40\n"
    "devicetypes 1 2\n"
    "multisample 0 1\n"
    "adapter Second Card\n"
    "mode 1024 768 60\n";

struct Vertex {
    float x, y, z;
    std::uint32_t colour;
};

const D3DVERTEXELEMENT9 kElements[] = {
    {0, 0, D3DDECLTYPE_FLOAT3, D3DDECLMETHOD_DEFAULT, D3DDECLUSAGE_POSITION, 0},
    {0, 12, D3DDECLTYPE_D3DCOLOR, D3DDECLMETHOD_DEFAULT, D3DDECLUSAGE_COLOR, 0},
    D3DDECL_END(),
};

}  // namespace

TEST_F(D3D9Test, FixtureProfileEnumeratesAdaptersModesAndCaps) {
    testing_support::TempDir dir;
    ASSERT_TRUE(testing_support::writeFile(dir.file("profile.txt"), kProfileText));
    auto profile = std::make_shared<AdapterProfile>();
    std::string error;
    ASSERT_TRUE(profile->load(dir.file("profile.txt"), error)) << error;
    environment.profile = profile;
    install();

    direct3d = Direct3DCreate9(D3D_SDK_VERSION);
    ASSERT_NE(direct3d, nullptr);
    ASSERT_EQ(direct3d->GetAdapterCount(), 2u);
    D3DADAPTER_IDENTIFIER9 id{};
    ASSERT_EQ(direct3d->GetAdapterIdentifier(0, 0, &id), S_OK);
    EXPECT_STREQ(id.Description, "RADEON 9600 SERIES");
    EXPECT_EQ(id.VendorId, 0x1002u);
    ASSERT_EQ(direct3d->GetAdapterIdentifier(1, 0, &id), S_OK);
    EXPECT_STREQ(id.Description, "Second Card");

    // Modes by format: three of X8R8G8B8, one of R5G6B5.
    ASSERT_EQ(direct3d->GetAdapterModeCount(0, D3DFMT_X8R8G8B8), 3u);
    EXPECT_EQ(direct3d->GetAdapterModeCount(0, D3DFMT_R5G6B5), 1u);
    D3DDISPLAYMODE mode{};
    ASSERT_EQ(direct3d->EnumAdapterModes(0, D3DFMT_X8R8G8B8, 2, &mode), S_OK);
    EXPECT_EQ(mode.Width, 800u);
    EXPECT_EQ(mode.RefreshRate, 85u);
    EXPECT_EQ(direct3d->EnumAdapterModes(0, D3DFMT_X8R8G8B8, 3, &mode), D3DERR_INVALIDCALL);
    ASSERT_EQ(direct3d->GetAdapterDisplayMode(0, &mode), S_OK);
    EXPECT_EQ(mode.Width, 1280u);
    EXPECT_EQ(mode.RefreshRate, 75u);

    D3DCAPS9 caps{};
    ASSERT_EQ(direct3d->GetDeviceCaps(0, D3DDEVTYPE_HAL, &caps), S_OK);
    EXPECT_EQ(D3DSHADER_VERSION_MAJOR(caps.VertexShaderVersion), 2u);
    EXPECT_EQ(caps.PixelShaderVersion, D3DPS_VERSION(2, 0));
    EXPECT_EQ(caps.MaxTextureWidth, 2048u);
    EXPECT_EQ(caps.AlphaCmpCaps, D3DPCMPCAPS_GREATEREQUAL);
    EXPECT_EQ(direct3d->GetDeviceCaps(0, D3DDEVTYPE_REF, &caps), S_OK);
    EXPECT_EQ(direct3d->GetDeviceCaps(0, D3DDEVTYPE_SW, &caps), D3DERR_NOTAVAILABLE);
    EXPECT_EQ(direct3d->GetDeviceCaps(1, D3DDEVTYPE_REF, &caps), D3DERR_NOTAVAILABLE);

    DWORD quality = 0;
    EXPECT_EQ(direct3d->CheckDeviceMultiSampleType(0, D3DDEVTYPE_HAL, D3DFMT_X8R8G8B8, FALSE, D3DMULTISAMPLE_NONE,
                                                   &quality),
              S_OK);
    EXPECT_EQ(direct3d->CheckDeviceMultiSampleType(0, D3DDEVTYPE_HAL, D3DFMT_X8R8G8B8, FALSE,
                                                   D3DMULTISAMPLE_2_SAMPLES, &quality),
              D3DERR_NOTAVAILABLE);

    // A full-screen device takes a listed mode only.
    D3DPRESENT_PARAMETERS p = windowed(800, 600);
    p.Windowed = FALSE;
    p.SwapEffect = D3DSWAPEFFECT_DISCARD;
    p.FullScreen_RefreshRateInHz = 85;
    IDirect3DDevice9* full = nullptr;
    ASSERT_EQ(direct3d->CreateDevice(0, D3DDEVTYPE_HAL, nullptr, D3DCREATE_HARDWARE_VERTEXPROCESSING, &p, &full), S_OK);
    full->Release();
    p.BackBufferWidth = 1280;
    p.BackBufferHeight = 1024;
    EXPECT_EQ(direct3d->CreateDevice(0, D3DDEVTYPE_HAL, nullptr, D3DCREATE_HARDWARE_VERTEXPROCESSING, &p, &full),
              D3DERR_INVALIDCALL);
    EXPECT_TRUE(logged("no display mode 1280x1024 at 85 Hz")) << allLines();
}

TEST_F(D3D9Test, DamagedProfilesAreRefusedWithTheirLine) {
    const struct {
        const char* text;
        const char* error;
    } cases[] = {
        {"mode 640 480 60\n", "line 1: entry before the first adapter [mode]"},
        {"adapter A\nmode 640 x 60\n", "line 2: bad value of [mode]"},
        {"adapter A\nvs two\n", "line 2: bad value of [vs]"},
        {"adapter A\nfrobnicate 1\n", "line 2: unknown key [frobnicate]"},
        {"adapter A\ndevicetypes 4\n", "line 2: bad device type in [devicetypes]"},
        {"# nothing\n", "no adapter"},
    };
    for (const auto& c : cases) {
        AdapterProfile profile;
        std::string error;
        EXPECT_FALSE(profile.parse(c.text, error)) << c.text;
        EXPECT_EQ(error, c.error);
    }
}

TEST_F(D3D9Test, DefaultProfileComesFromTheDisplay) {
    direct3d = Direct3DCreate9(D3D_SDK_VERSION);
    ASSERT_NE(direct3d, nullptr);
    ASSERT_EQ(direct3d->GetAdapterCount(), 1u);
    D3DDISPLAYMODE desktop{};
    ASSERT_EQ(direct3d->GetAdapterDisplayMode(0, &desktop), S_OK);
    std::int32_t width = 0, height = 0;
    platform::desktopResolution(width, height);
    EXPECT_EQ(desktop.Width, UINT(std::max(width, 640)));
    EXPECT_EQ(desktop.Height, UINT(std::max(height, 480)));
    ASSERT_GT(direct3d->GetAdapterModeCount(0, D3DFMT_X8R8G8B8), 0u);
    D3DADAPTER_IDENTIFIER9 id{};
    ASSERT_EQ(direct3d->GetAdapterIdentifier(0, 0, &id), S_OK);
    EXPECT_STREQ(id.Description, "Null Direct3D 9 device");
}

TEST_F(D3D9Test, Direct3DCanBeAbsent) {
    environment.present = false;
    install();
    EXPECT_EQ(Direct3DCreate9(D3D_SDK_VERSION), nullptr);
    environment.present = true;
    install();
    EXPECT_EQ(Direct3DCreate9(31), nullptr);
    IDirect3D9* d3d = Direct3DCreate9(D3D_SDK_VERSION);
    ASSERT_NE(d3d, nullptr);
    d3d->Release();
}

class D3D9DrawTest : public D3D9Test {
protected:
    void SetUp() override {
        D3D9Test::SetUp();
        open();
        ASSERT_NE(device, nullptr);
        ASSERT_EQ(device->CreateVertexDeclaration(kElements, &declaration), S_OK);
        ASSERT_EQ(device->CreateVertexBuffer(4 * sizeof(Vertex), D3DUSAGE_WRITEONLY, 0, D3DPOOL_MANAGED, &vertices,
                                             nullptr),
                  S_OK);
        ASSERT_EQ(device->CreateIndexBuffer(6 * 2, D3DUSAGE_WRITEONLY, D3DFMT_INDEX16, D3DPOOL_MANAGED, &indices,
                                            nullptr),
                  S_OK);
        std::uint16_t* index = nullptr;
        ASSERT_EQ(indices->Lock(0, 0, reinterpret_cast<void**>(&index), 0), S_OK);
        const std::uint16_t quad[6] = {0, 1, 2, 2, 1, 3};
        std::memcpy(index, quad, sizeof quad);
        ASSERT_EQ(indices->Unlock(), S_OK);
        device->SetVertexDeclaration(declaration);
        device->SetStreamSource(0, vertices, 0, sizeof(Vertex));
        device->SetIndices(indices);
    }

    void TearDown() override {
        if (declaration) declaration->Release();
        if (vertices) vertices->Release();
        if (indices) indices->Release();
        D3D9Test::TearDown();
    }

    IDirect3DVertexDeclaration9* declaration = nullptr;
    IDirect3DVertexBuffer9* vertices = nullptr;
    IDirect3DIndexBuffer9* indices = nullptr;
};

TEST_F(D3D9DrawTest, DrawsOutsideTheSceneAreRefused) {
    EXPECT_EQ(device->DrawPrimitive(D3DPT_TRIANGLESTRIP, 0, 2), D3DERR_INVALIDCALL);
    EXPECT_TRUE(logged("DrawPrimitive refused: draw outside BeginScene/EndScene")) << allLines();
    EXPECT_EQ(device->EndScene(), D3DERR_INVALIDCALL);
    ASSERT_EQ(device->BeginScene(), S_OK);
    EXPECT_EQ(device->BeginScene(), D3DERR_INVALIDCALL);
    EXPECT_EQ(device->DrawPrimitive(D3DPT_TRIANGLESTRIP, 0, 2), S_OK);
    EXPECT_EQ(device->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 0, 0, 4, 0, 2), S_OK);
    EXPECT_EQ(device->Present(nullptr, nullptr, nullptr, nullptr), D3DERR_INVALIDCALL);
    ASSERT_EQ(device->EndScene(), S_OK);
    EXPECT_EQ(device->Present(nullptr, nullptr, nullptr, nullptr), S_OK);
    const auto* stats = platform::d3d9::statistics(device);
    ASSERT_NE(stats, nullptr);
    EXPECT_EQ(stats->draws, 2u);
    EXPECT_EQ(stats->primitives, 4u);
    EXPECT_EQ(stats->presents, 1u);
}

TEST_F(D3D9DrawTest, TheScissorRectangleIsCheckedKeptAndCountedInDraws) {
    // A new device holds the whole back buffer (64 x 32).
    RECT seen{};
    ASSERT_EQ(device->GetScissorRect(&seen), S_OK);
    EXPECT_EQ(seen.right, 64);
    EXPECT_EQ(seen.bottom, 32);
    const RECT area{4, 2, 20, 10};
    ASSERT_EQ(device->SetScissorRect(&area), S_OK);
    const RECT refused[] = {{-1, 0, 8, 8}, {0, -1, 8, 8}, {8, 0, 4, 8}, {0, 8, 8, 4}};
    for (const RECT& r : refused) EXPECT_EQ(device->SetScissorRect(&r), D3DERR_INVALIDCALL) << r.left << " " << r.top;
    EXPECT_EQ(device->SetScissorRect(nullptr), D3DERR_INVALIDCALL);
    EXPECT_TRUE(logged("SetScissorRect refused: (8, 0) to (4, 8)")) << allLines();
    ASSERT_EQ(device->GetScissorRect(&seen), S_OK);
    EXPECT_EQ(seen.left, 4);
    EXPECT_EQ(seen.right, 20);

    // Draws count as scissored only while the test is on.
    ASSERT_EQ(device->BeginScene(), S_OK);
    EXPECT_EQ(device->DrawPrimitive(D3DPT_TRIANGLESTRIP, 0, 2), S_OK);
    device->SetRenderState(D3DRS_SCISSORTESTENABLE, TRUE);
    EXPECT_EQ(device->DrawPrimitive(D3DPT_TRIANGLESTRIP, 0, 2), S_OK);
    EXPECT_EQ(device->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 0, 0, 4, 0, 2), S_OK);
    device->SetRenderState(D3DRS_SCISSORTESTENABLE, FALSE);
    EXPECT_EQ(device->DrawPrimitive(D3DPT_TRIANGLESTRIP, 0, 2), S_OK);
    ASSERT_EQ(device->EndScene(), S_OK);
    EXPECT_EQ(platform::d3d9::statistics(device)->draws, 4u);
    EXPECT_EQ(platform::d3d9::statistics(device)->scissoredDraws, 2u);

    // A new render target resets the rectangle to its whole size.
    IDirect3DTexture9* target = nullptr;
    ASSERT_EQ(device->CreateTexture(16, 8, 1, D3DUSAGE_RENDERTARGET, D3DFMT_A8R8G8B8, D3DPOOL_DEFAULT, &target,
                                    nullptr),
              S_OK);
    IDirect3DSurface9* level = nullptr;
    ASSERT_EQ(target->GetSurfaceLevel(0, &level), S_OK);
    ASSERT_EQ(device->SetRenderTarget(0, level), S_OK);
    ASSERT_EQ(device->GetScissorRect(&seen), S_OK);
    EXPECT_EQ(seen.left, 0);
    EXPECT_EQ(seen.top, 0);
    EXPECT_EQ(seen.right, 16);
    EXPECT_EQ(seen.bottom, 8);
    level->Release();
    target->Release();
}

TEST_F(D3D9DrawTest, DrawsPastTheBuffersAreRefused) {
    ASSERT_EQ(device->BeginScene(), S_OK);
    const struct {
        bool indexed;
        INT base;
        UINT minVertex, numVertices, start, count;
        const char* line;
    } cases[] = {
        {false, 0, 0, 0, 0, 3, "vertices 0 to 4 lie past the end of vertex buffer [vertex buffer #"},
        {false, 0, 0, 0, 3, 1, "vertices 3 to 5 lie past the end"},
        {true, 0, 0, 4, 3, 2, "indices 3 to 8 lie past the end of index buffer"},
        {true, 1, 0, 4, 0, 2, "vertex range 1+4 lies past the end"},
        {true, 0, 0, 3, 0, 2, "index 3 at 5 outside the vertex range 0+3"},
    };
    for (const auto& c : cases) {
        lines.clear();
        const HRESULT hr = c.indexed ? device->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, c.base, c.minVertex,
                                                                    c.numVertices, c.start, c.count)
                                     : device->DrawPrimitive(D3DPT_TRIANGLESTRIP, c.start, c.count);
        EXPECT_EQ(hr, D3DERR_INVALIDCALL) << c.line;
        EXPECT_TRUE(logged(c.line)) << allLines();
        EXPECT_EQ(lines.size(), 1u);
    }
    // A stride smaller than the declaration's vertex.
    device->SetStreamSource(0, vertices, 0, 12);
    EXPECT_EQ(device->DrawPrimitive(D3DPT_POINTLIST, 0, 1), D3DERR_INVALIDCALL);
    EXPECT_TRUE(logged("stride 12 does not hold the declaration's 16-byte vertex")) << allLines();
    // No declaration.
    device->SetStreamSource(0, vertices, 0, sizeof(Vertex));
    device->SetVertexDeclaration(nullptr);
    EXPECT_EQ(device->DrawPrimitive(D3DPT_POINTLIST, 0, 1), D3DERR_INVALIDCALL);
    EXPECT_TRUE(logged("no vertex declaration set")) << allLines();
    device->EndScene();
    EXPECT_EQ(platform::d3d9::statistics(device)->draws, 0u);
}

TEST_F(D3D9DrawTest, SecondLocksAreRefusedAndDiscardRenewsDynamicBuffers) {
    void* data = nullptr;
    ASSERT_EQ(vertices->Lock(0, 0, &data, 0), S_OK);
    void* again = nullptr;
    EXPECT_EQ(vertices->Lock(0, 0, &again, 0), D3DERR_INVALIDCALL);
    EXPECT_EQ(again, nullptr);
    EXPECT_TRUE(logged("Lock of [vertex buffer #")) << allLines();
    EXPECT_TRUE(logged("refused: already locked")) << allLines();
    ASSERT_EQ(device->BeginScene(), S_OK);
    EXPECT_EQ(device->DrawPrimitive(D3DPT_POINTLIST, 0, 1), D3DERR_INVALIDCALL);
    EXPECT_TRUE(logged("is locked")) << allLines();
    device->EndScene();
    ASSERT_EQ(vertices->Unlock(), S_OK);
    EXPECT_EQ(vertices->Unlock(), D3DERR_INVALIDCALL);
    EXPECT_EQ(vertices->Lock(60, 8, &data, 0), D3DERR_INVALIDCALL);
    EXPECT_TRUE(logged("range outside the buffer")) << allLines();

    // A dynamic buffer keeps its bytes under NOOVERWRITE and loses them under DISCARD.
    IDirect3DVertexBuffer9* dynamic = nullptr;
    ASSERT_EQ(device->CreateVertexBuffer(16, D3DUSAGE_DYNAMIC | D3DUSAGE_WRITEONLY, 0, D3DPOOL_DEFAULT, &dynamic,
                                         nullptr),
              S_OK);
    std::uint8_t* bytes = nullptr;
    ASSERT_EQ(dynamic->Lock(0, 0, reinterpret_cast<void**>(&bytes), 0), S_OK);
    std::memset(bytes, 7, 16);
    dynamic->Unlock();
    ASSERT_EQ(dynamic->Lock(4, 4, reinterpret_cast<void**>(&bytes), D3DLOCK_NOOVERWRITE), S_OK);
    EXPECT_EQ(bytes[0], 7);
    dynamic->Unlock();
    ASSERT_EQ(dynamic->Lock(0, 0, reinterpret_cast<void**>(&bytes), D3DLOCK_DISCARD), S_OK);
    EXPECT_EQ(bytes[0], 0xCD);
    std::memset(bytes, 7, 16);
    dynamic->Unlock();
    // A discard hands out fresh bytes for the range it locks and leaves the
    // rest alone: discarding to write a few vertices costs only those.
    ASSERT_EQ(dynamic->Lock(4, 4, reinterpret_cast<void**>(&bytes), D3DLOCK_DISCARD), S_OK);
    EXPECT_EQ(bytes[0], 0xCD);
    dynamic->Unlock();
    ASSERT_EQ(dynamic->Lock(0, 0, reinterpret_cast<void**>(&bytes), D3DLOCK_NOOVERWRITE), S_OK);
    EXPECT_EQ(bytes[3], 7);
    EXPECT_EQ(bytes[8], 7);
    dynamic->Unlock();
    dynamic->Release();

    // Texture levels: one lock at a time, and no lock of a render target.
    IDirect3DTexture9* texture = nullptr;
    ASSERT_EQ(device->CreateTexture(8, 8, 0, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &texture, nullptr), S_OK);
    EXPECT_EQ(texture->GetLevelCount(), 4u);
    D3DLOCKED_RECT rect{};
    ASSERT_EQ(texture->LockRect(1, &rect, nullptr, 0), S_OK);
    EXPECT_EQ(rect.Pitch, 16);
    EXPECT_EQ(texture->LockRect(1, &rect, nullptr, 0), D3DERR_INVALIDCALL);
    EXPECT_TRUE(logged("LockRect of [texture #")) << allLines();
    EXPECT_EQ(texture->LockRect(0, &rect, nullptr, 0), S_OK);
    texture->UnlockRect(0);
    texture->UnlockRect(1);
    texture->Release();
    ASSERT_EQ(device->CreateTexture(8, 8, 1, D3DUSAGE_RENDERTARGET, D3DFMT_A8R8G8B8, D3DPOOL_DEFAULT, &texture, nullptr),
              S_OK);
    EXPECT_EQ(texture->LockRect(0, &rect, nullptr, 0), D3DERR_INVALIDCALL);
    EXPECT_TRUE(logged("not lockable")) << allLines();
    texture->Release();
}

TEST_F(D3D9Test, BufferUsagesAndPoolsFollowTheRules) {
    open();
    const struct {
        DWORD usage;
        D3DPOOL pool;
        DWORD fvf;
        UINT length;
        HRESULT result;
    } vertexCases[] = {
        {D3DUSAGE_DYNAMIC | D3DUSAGE_DONOTCLIP | D3DUSAGE_WRITEONLY, D3DPOOL_SYSTEMMEM, 0, 96, S_OK},
        {D3DUSAGE_DYNAMIC | D3DUSAGE_WRITEONLY, D3DPOOL_DEFAULT, 0, 96, S_OK},
        {D3DUSAGE_POINTS | D3DUSAGE_WRITEONLY, D3DPOOL_DEFAULT, 0, 96, S_OK},
        {D3DUSAGE_POINTS | D3DUSAGE_WRITEONLY, D3DPOOL_MANAGED, 0, 96, S_OK},
        {D3DUSAGE_DYNAMIC, D3DPOOL_MANAGED, 0, 96, D3DERR_INVALIDCALL},
        {0, D3DPOOL_MANAGED, 0x142, 96, D3DERR_INVALIDCALL},
        {0, D3DPOOL_MANAGED, 0, 0, D3DERR_INVALIDCALL},
        {D3DUSAGE_RENDERTARGET, D3DPOOL_DEFAULT, 0, 96, D3DERR_INVALIDCALL},
    };
    for (const auto& c : vertexCases) {
        IDirect3DVertexBuffer9* buffer = nullptr;
        EXPECT_EQ(device->CreateVertexBuffer(c.length, c.usage, c.fvf, c.pool, &buffer, nullptr), c.result)
            << c.usage << " " << c.pool;
        if (buffer) {
            D3DVERTEXBUFFER_DESC desc{};
            buffer->GetDesc(&desc);
            EXPECT_EQ(desc.Usage, c.usage);
            EXPECT_EQ(desc.Pool, c.pool);
            buffer->Release();
        }
    }
    IDirect3DIndexBuffer9* indices = nullptr;
    EXPECT_EQ(device->CreateIndexBuffer(64, D3DUSAGE_WRITEONLY, D3DFMT_INDEX16, D3DPOOL_MANAGED, &indices, nullptr), S_OK);
    indices->Release();
    EXPECT_EQ(device->CreateIndexBuffer(64, D3DUSAGE_WRITEONLY, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &indices, nullptr),
              D3DERR_INVALIDCALL);
    EXPECT_TRUE(logged("CreateIndexBuffer refused: format D3DFMT_A8R8G8B8")) << allLines();
    // Textures: render targets only in the default pool, no depth formats, sizes within the caps.
    IDirect3DTexture9* texture = nullptr;
    EXPECT_EQ(device->CreateTexture(8, 8, 1, D3DUSAGE_RENDERTARGET, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &texture, nullptr),
              D3DERR_INVALIDCALL);
    EXPECT_EQ(device->CreateTexture(8, 8, 1, 0, D3DFMT_D24S8, D3DPOOL_MANAGED, &texture, nullptr), D3DERR_INVALIDCALL);
    EXPECT_EQ(device->CreateTexture(8192, 8, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &texture, nullptr),
              D3DERR_INVALIDCALL);
    EXPECT_EQ(device->CreateTexture(8, 8, 5, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &texture, nullptr), D3DERR_INVALIDCALL);
    EXPECT_EQ(device->CreateTexture(8, 8, 1, 0, D3DFMT_R8G8B8, D3DPOOL_MANAGED, &texture, nullptr), D3DERR_INVALIDCALL);
    EXPECT_TRUE(logged("CreateTexture refused: format D3DFMT_R8G8B8 is not supported by the adapter")) << allLines();
    EXPECT_EQ(texture, nullptr);
}

TEST_F(D3D9Test, ObjectsOfAnotherDeviceAreRefused) {
    open();
    IDirect3DDevice9* other = createDevice();
    ASSERT_NE(other, nullptr);
    IDirect3DTexture9* foreign = nullptr;
    ASSERT_EQ(other->CreateTexture(4, 4, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &foreign, nullptr), S_OK);
    foreign->SetDebugName("foreign");
    EXPECT_EQ(device->SetTexture(0, foreign), D3DERR_INVALIDCALL);
    EXPECT_TRUE(logged("SetTexture refused: texture [foreign] was not created by [device 0]")) << allLines();
    EXPECT_EQ(other->SetTexture(0, foreign), S_OK);
    EXPECT_EQ(device->SetTexture(16, nullptr), D3DERR_INVALIDCALL);
    IDirect3DVertexBuffer9* buffer = nullptr;
    ASSERT_EQ(other->CreateVertexBuffer(64, 0, 0, D3DPOOL_MANAGED, &buffer, nullptr), S_OK);
    EXPECT_EQ(device->SetStreamSource(0, buffer, 0, 16), D3DERR_INVALIDCALL);
    buffer->Release();
    foreign->Release();
    other->Release();
}

TEST_F(D3D9Test, InjectedLossGivesLostThenNotReset) {
    open();
    EXPECT_EQ(device->TestCooperativeLevel(), S_OK);
    platform::d3d9::loseDevice(device, 2);
    EXPECT_EQ(device->TestCooperativeLevel(), D3DERR_DEVICELOST);
    EXPECT_EQ(device->Present(nullptr, nullptr, nullptr, nullptr), D3DERR_DEVICELOST);
    EXPECT_EQ(device->TestCooperativeLevel(), D3DERR_DEVICELOST);
    EXPECT_EQ(device->TestCooperativeLevel(), D3DERR_DEVICENOTRESET);
    EXPECT_EQ(device->TestCooperativeLevel(), D3DERR_DEVICENOTRESET);

    // Reset waits for the default-pool objects to go.
    IDirect3DTexture9* target = nullptr;
    ASSERT_EQ(device->CreateTexture(16, 16, 1, D3DUSAGE_RENDERTARGET, D3DFMT_A8R8G8B8, D3DPOOL_DEFAULT, &target, nullptr),
              S_OK);
    target->SetDebugName("procdepth");
    D3DPRESENT_PARAMETERS p = windowed();
    EXPECT_EQ(device->Reset(&p), D3DERR_INVALIDCALL);
    EXPECT_TRUE(logged("Reset refused: texture [procdepth] in D3DPOOL_DEFAULT is still alive")) << allLines();
    target->Release();
    IDirect3DSurface9* back = nullptr;
    ASSERT_EQ(device->GetBackBuffer(0, 0, D3DBACKBUFFER_TYPE_MONO, &back), S_OK);
    EXPECT_EQ(device->Reset(&p), D3DERR_INVALIDCALL);
    EXPECT_TRUE(logged("Reset refused: [back buffer #1] is still referenced")) << allLines();
    back->Release();
    ASSERT_EQ(device->Reset(&p), S_OK);
    EXPECT_EQ(device->TestCooperativeLevel(), S_OK);
}

TEST_F(D3D9Test, ReleasingTheDeviceReportsLeaksByName) {
    open();
    IDirect3DTexture9* kept = nullptr;
    IDirect3DTexture9* released = nullptr;
    ASSERT_EQ(device->CreateTexture(4, 4, 1, 0, D3DFMT_L8, D3DPOOL_MANAGED, &kept, nullptr), S_OK);
    ASSERT_EQ(device->CreateTexture(4, 4, 1, 0, D3DFMT_L8, D3DPOOL_MANAGED, &released, nullptr), S_OK);
    kept->SetDebugName("proclightattenuation");
    released->SetDebugName("procghostmap");
    released->Release();
    IDirect3DSurface9* level = nullptr;
    ASSERT_EQ(kept->GetSurfaceLevel(0, &level), S_OK);
    level->Release();
    device->SetTexture(0, kept);
    EXPECT_EQ(device->Release(), 0u);
    device = nullptr;
    EXPECT_TRUE(logged("Leaked texture [proclightattenuation] (1 references) when [device 0] was released"))
        << allLines();
    EXPECT_FALSE(logged("procghostmap")) << allLines();
    EXPECT_FALSE(logged("back buffer")) << allLines();
    // The leaked texture outlives its device safely.
    IDirect3DDevice9* none = nullptr;
    EXPECT_EQ(kept->GetDevice(&none), D3DERR_INVALIDCALL);
    D3DLOCKED_RECT rect{};
    EXPECT_EQ(kept->LockRect(0, &rect, nullptr, 0), D3DERR_INVALIDCALL);
    EXPECT_EQ(kept->Release(), 0u);
}

TEST_F(D3D9Test, TheNthCreationFailsAsInjected) {
    open();
    faults->failCreation(2);
    IDirect3DTexture9* textures[3] = {};
    EXPECT_EQ(device->CreateTexture(4, 4, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_DEFAULT, &textures[0], nullptr), S_OK);
    EXPECT_EQ(device->CreateTexture(4, 4, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_DEFAULT, &textures[1], nullptr),
              D3DERR_OUTOFVIDEOMEMORY);
    EXPECT_EQ(textures[1], nullptr);
    EXPECT_EQ(device->CreateTexture(4, 4, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_DEFAULT, &textures[2], nullptr), S_OK);
    for (auto* t : textures)
        if (t) t->Release();
    // Device creation counts as well.
    faults->failCreation(1, E_OUTOFMEMORY);
    IDirect3DDevice9* second = nullptr;
    D3DPRESENT_PARAMETERS p = windowed();
    EXPECT_EQ(direct3d->CreateDevice(0, D3DDEVTYPE_HAL, nullptr, D3DCREATE_HARDWARE_VERTEXPROCESSING, &p, &second),
              E_OUTOFMEMORY);
    EXPECT_EQ(second, nullptr);
}

TEST_F(D3D9Test, FormatChecksGiveChosenAnswers) {
    direct3d = Direct3DCreate9(D3D_SDK_VERSION);
    EXPECT_EQ(direct3d->CheckDepthStencilMatch(0, D3DDEVTYPE_HAL, D3DFMT_X8R8G8B8, D3DFMT_X8R8G8B8, D3DFMT_D24S8), S_OK);
    EXPECT_EQ(direct3d->CheckDeviceFormat(0, D3DDEVTYPE_HAL, D3DFMT_X8R8G8B8, D3DUSAGE_DEPTHSTENCIL, D3DRTYPE_SURFACE,
                                          D3DFMT_D15S1),
              D3DERR_NOTAVAILABLE);
    faults->answer(FormatCheck::DepthStencilMatch, D3DFMT_D24S8, D3DERR_NOTAVAILABLE);
    faults->answer(FormatCheck::DeviceType, D3DFMT_UNKNOWN, D3DERR_NOTAVAILABLE);
    faults->answer(FormatCheck::MultiSample, D3DFMT_X8R8G8B8, S_OK);
    EXPECT_EQ(direct3d->CheckDepthStencilMatch(0, D3DDEVTYPE_HAL, D3DFMT_X8R8G8B8, D3DFMT_X8R8G8B8, D3DFMT_D24S8),
              D3DERR_NOTAVAILABLE);
    EXPECT_EQ(direct3d->CheckDepthStencilMatch(0, D3DDEVTYPE_HAL, D3DFMT_X8R8G8B8, D3DFMT_X8R8G8B8, D3DFMT_D16), S_OK);
    EXPECT_EQ(direct3d->CheckDeviceType(0, D3DDEVTYPE_HAL, D3DFMT_X8R8G8B8, D3DFMT_A8R8G8B8, FALSE),
              D3DERR_NOTAVAILABLE);
    DWORD quality = 0;
    EXPECT_EQ(direct3d->CheckDeviceMultiSampleType(0, D3DDEVTYPE_HAL, D3DFMT_X8R8G8B8, FALSE,
                                                   D3DMULTISAMPLE_16_SAMPLES, &quality),
              S_OK);
    EXPECT_EQ(quality, 1u);
}

TEST_F(D3D9Test, ShaderBodiesAndConstantRegistersAreChecked) {
    open();
    platform::d3d9::ShaderBody body;
    body.kind = 0;
    body.profile = "vs_2_0";
    body.entryPoint = "VS_SHADOWD";
    body.sourceId = 201;
    body.constants.push_back({"mWorld", 2, 0, 4, 3, 3, 4, 4, 1});
    const auto vertexCode = platform::d3d9::writeShaderBody(body);
    IDirect3DVertexShader9* vs = nullptr;
    ASSERT_EQ(device->CreateVertexShader(reinterpret_cast<const DWORD*>(vertexCode.data()), &vs), S_OK);
    IDirect3DPixelShader9* ps = nullptr;
    EXPECT_EQ(device->CreatePixelShader(reinterpret_cast<const DWORD*>(vertexCode.data()), &ps), D3DERR_INVALIDCALL);
    EXPECT_TRUE(logged("CreatePixelShader refused: a vertex body")) << allLines();

    vs->Release();
    vs = nullptr;
    // Real Direct3D bytecode (a vs_2_0 version token, then the end token) is not ours.
    const DWORD bytecode[] = {0xFFFE0200u, 0x0000FFFFu};
    EXPECT_EQ(device->CreateVertexShader(bytecode, &vs), D3DERR_INVALIDCALL);
    EXPECT_EQ(vs, nullptr);
    EXPECT_TRUE(logged("CreateVertexShader refused: not a shader body of ours")) << allLines();

    // A pixel constant past register 31.
    body.kind = 1;
    body.profile = "ps_2_0";
    body.constants = {{"vColorDiffuse", 2, 31, 2, 1, 3, 1, 4, 1}};
    const auto pixelCode = platform::d3d9::writeShaderBody(body);
    EXPECT_EQ(device->CreatePixelShader(reinterpret_cast<const DWORD*>(pixelCode.data()), &ps), D3DERR_INVALIDCALL);
    EXPECT_TRUE(logged("constant [vColorDiffuse] uses registers 31 to 32 of 32")) << allLines();

    const float values[8 * 4] = {};
    EXPECT_EQ(device->SetVertexShaderConstantF(252, values, 4), S_OK);
    EXPECT_EQ(device->SetVertexShaderConstantF(253, values, 4), D3DERR_INVALIDCALL);
    EXPECT_TRUE(logged("SetVertexShaderConstantF refused: registers 253 to 256 past the 256 registers")) << allLines();
    EXPECT_EQ(device->SetPixelShaderConstantF(31, values, 1), S_OK);
    EXPECT_EQ(device->SetPixelShaderConstantF(31, values, 2), D3DERR_INVALIDCALL);
}

TEST_F(D3D9Test, ClearAndStretchRectWorkOnMemoryAndTheCallLogIsOptional) {
    open();
    D3DVIEWPORT9 viewport{8, 4, 16, 8, 0.0f, 1.0f};
    ASSERT_EQ(device->SetViewport(&viewport), S_OK);
    ASSERT_EQ(device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0x80112233u, 1.0f, 0), S_OK);
    IDirect3DSurface9* back = nullptr;
    ASSERT_EQ(device->GetBackBuffer(0, 0, D3DBACKBUFFER_TYPE_MONO, &back), S_OK);
    std::vector<std::uint8_t> bytes;
    D3DSURFACE_DESC desc{};
    ASSERT_TRUE(platform::d3d9::readSurface(back, bytes, desc));
    ASSERT_EQ(desc.Width, 64u);
    auto pixel = [&](int x, int y) {
        const std::uint8_t* p = &bytes[std::size_t(y) * 64 * 4 + std::size_t(x) * 4];
        return std::uint32_t(p[0] | (p[1] << 8) | (p[2] << 16) | (p[3] << 24));
    };
    EXPECT_EQ(pixel(8, 4), 0xFF112233u);  // X8R8G8B8: the unused byte reads as opaque
    EXPECT_EQ(pixel(23, 11), 0xFF112233u);
    EXPECT_EQ(pixel(7, 4), 0u);
    EXPECT_EQ(pixel(24, 11), 0u);

    // The back buffer scaled down into a render-target texture.
    IDirect3DTexture9* target = nullptr;
    ASSERT_EQ(device->CreateTexture(32, 16, 1, D3DUSAGE_RENDERTARGET, D3DFMT_A8R8G8B8, D3DPOOL_DEFAULT, &target, nullptr),
              S_OK);
    IDirect3DSurface9* level = nullptr;
    ASSERT_EQ(target->GetSurfaceLevel(0, &level), S_OK);
    ASSERT_EQ(device->StretchRect(back, nullptr, level, nullptr, D3DTEXF_NONE), S_OK);
    ASSERT_TRUE(platform::d3d9::readSurface(level, bytes, desc));
    auto small = [&](int x, int y) {
        const std::uint8_t* p = &bytes[std::size_t(y) * 32 * 4 + std::size_t(x) * 4];
        return std::uint32_t(p[0] | (p[1] << 8) | (p[2] << 16) | (p[3] << 24));
    };
    EXPECT_EQ(small(4, 2), 0xFF112233u);
    EXPECT_EQ(small(0, 0), 0xFF000000u);
    EXPECT_EQ(device->StretchRect(level, nullptr, level, nullptr, D3DTEXF_NONE), D3DERR_INVALIDCALL);
    level->Release();
    target->Release();
    back->Release();

    // No call log unless asked for; then one line a call.
    EXPECT_EQ(platform::d3d9::environment().callLog, nullptr);
    environment.callLog = std::make_shared<platform::d3d9::CallLog>();
    install();
    IDirect3D9* withLog = Direct3DCreate9(D3D_SDK_VERSION);
    D3DPRESENT_PARAMETERS p = windowed();
    IDirect3DDevice9* logging = nullptr;
    ASSERT_EQ(withLog->CreateDevice(0, D3DDEVTYPE_HAL, nullptr, D3DCREATE_HARDWARE_VERTEXPROCESSING, &p, &logging), S_OK);
    logging->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
    logging->Release();
    withLog->Release();
    const auto& calls = environment.callLog->lines;
    EXPECT_NE(std::find(calls.begin(), calls.end(), "SetRenderState(27, 1)"), calls.end());
}

TEST_F(D3D9Test, TheSwapChainTakesItsMemoryImageOnlyWhenFirstUsed) {
    // A 1024 x 1024 swap chain holds 4 MiB of back buffer and 4 MiB of depth.
    D3DPRESENT_PARAMETERS p = windowed(1024, 1024);
    {
        testing_support::LargestAllocation largest;
        device = createDevice(p);
        ASSERT_NE(device, nullptr);
        if (testing_support::LargestAllocation::recording()) EXPECT_LT(largest.bytes(), 1u << 20);
    }
    IDirect3DSurface9* back = nullptr;
    ASSERT_EQ(device->GetBackBuffer(0, 0, D3DBACKBUFFER_TYPE_MONO, &back), S_OK);
    // Read before anything is drawn: zero, as a filled image was.
    std::vector<std::uint8_t> bytes;
    D3DSURFACE_DESC desc{};
    ASSERT_TRUE(platform::d3d9::readSurface(back, bytes, desc));
    ASSERT_EQ(bytes.size(), 1024u * 1024u * 4u);
    EXPECT_TRUE(std::all_of(bytes.begin(), bytes.end(), [](std::uint8_t b) { return b == 0; }));
    // A clear draws into the image the read made.
    D3DVIEWPORT9 viewport{0, 0, 16, 16, 0.0f, 1.0f};
    ASSERT_EQ(device->SetViewport(&viewport), S_OK);
    ASSERT_EQ(device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0x00445566u, 1.0f, 0), S_OK);
    ASSERT_TRUE(platform::d3d9::readSurface(back, bytes, desc));
    const std::uint8_t* row = bytes.data() + 15 * 1024 * 4;
    EXPECT_EQ(row[15 * 4 + 0], 0x66);
    EXPECT_EQ(row[15 * 4 + 2], 0x44);
    EXPECT_EQ(row[16 * 4 + 0], 0x00);
    back->Release();
}

TEST_F(D3D9Test, TheStateCacheDefaultsAreAccepted) {
    open();
    // The sequence that forces a known state after every device creation.
    for (DWORD stage = 0; stage < 8; ++stage) {
        EXPECT_EQ(device->SetTexture(stage, nullptr), S_OK);
        for (auto state : {D3DTSS_BUMPENVMAT00, D3DTSS_BUMPENVMAT01, D3DTSS_BUMPENVMAT10, D3DTSS_BUMPENVMAT11,
                           D3DTSS_BUMPENVLSCALE, D3DTSS_BUMPENVLOFFSET, D3DTSS_COLOROP, D3DTSS_ALPHAOP,
                           D3DTSS_RESULTARG, D3DTSS_COLORARG0, D3DTSS_ALPHAARG0, D3DTSS_TEXCOORDINDEX,
                           D3DTSS_TEXTURETRANSFORMFLAGS, D3DTSS_CONSTANT})
            EXPECT_EQ(device->SetTextureStageState(stage, state, 0), S_OK) << stage << " " << state;
        EXPECT_EQ(device->SetSamplerState(stage, D3DSAMP_SRGBTEXTURE, 0), S_OK);
        EXPECT_EQ(device->SetSamplerState(stage, D3DSAMP_ELEMENTINDEX, 0), S_OK);
        EXPECT_EQ(device->SetSamplerState(stage, D3DSAMP_DMAPOFFSET, 256), S_OK);
        EXPECT_EQ(device->SetSamplerState(stage, D3DSAMP_MAXANISOTROPY, 1), S_OK);
    }
    for (auto state : {D3DRS_LASTPIXEL, D3DRS_STENCILENABLE, D3DRS_NORMALIZENORMALS, D3DRS_SPECULARMATERIALSOURCE,
                       D3DRS_EMISSIVEMATERIALSOURCE, D3DRS_AMBIENTMATERIALSOURCE, D3DRS_DIFFUSEMATERIALSOURCE,
                       D3DRS_VERTEXBLEND, D3DRS_CLIPPLANEENABLE, D3DRS_POINTSPRITEENABLE,
                       D3DRS_INDEXEDVERTEXBLENDENABLE, D3DRS_TWEENFACTOR, D3DRS_TWOSIDEDSTENCILMODE, D3DRS_DEPTHBIAS,
                       D3DRS_SEPARATEALPHABLENDENABLE, D3DRS_MULTISAMPLEANTIALIAS, D3DRS_DITHERENABLE,
                       D3DRS_SLOPESCALEDEPTHBIAS, D3DRS_BLENDFACTOR, D3DRS_COLORWRITEENABLE})
        EXPECT_EQ(device->SetRenderState(state, 0), S_OK) << state;
    D3DMATRIX identity{};
    for (int i = 0; i < 4; ++i) identity.m[i][i] = 1.0f;
    for (auto transform : {D3DTS_VIEW, D3DTS_PROJECTION, D3DTS_TEXTURE0, D3DTS_TEXTURE7, D3DTS_WORLD})
        EXPECT_EQ(device->SetTransform(transform, &identity), S_OK);
    D3DLIGHT9 light{};
    light.Type = D3DLIGHT_DIRECTIONAL;
    for (DWORD i = 0; i < 8; ++i) {
        EXPECT_EQ(device->SetLight(i, &light), S_OK);
        EXPECT_EQ(device->LightEnable(i, FALSE), S_OK);
    }
    D3DMATERIAL9 material{{1, 1, 1, 1}, {1, 1, 1, 1}, {0, 0, 0, 0}, {0, 0, 0, 0}, 0};
    EXPECT_EQ(device->SetMaterial(&material), S_OK);
    EXPECT_EQ(platform::d3d9::statistics(device)->refused, 0u) << allLines();

    // Out of range: a ninth light, a light of no type, stage 8 of the fixed pipeline, an unknown transform.
    EXPECT_EQ(device->SetLight(8, &light), D3DERR_INVALIDCALL);
    light.Type = D3DLIGHTTYPE(0);
    EXPECT_EQ(device->SetLight(0, &light), D3DERR_INVALIDCALL);
    EXPECT_EQ(device->SetTextureStageState(8, D3DTSS_COLOROP, 1), D3DERR_INVALIDCALL);
    EXPECT_EQ(device->SetTransform(D3DTRANSFORMSTATETYPE(4), &identity), D3DERR_INVALIDCALL);
    EXPECT_EQ(device->SetClipPlane(6, identity.m[0]), D3DERR_INVALIDCALL);
    EXPECT_EQ(device->SetClipPlane(0, identity.m[0]), S_OK);
}

TEST_F(D3D9Test, ReleasedObjectsLeaveNoBindingBehind) {
    open();
    IDirect3DTexture9* texture = nullptr;
    ASSERT_EQ(device->CreateTexture(4, 4, 2, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &texture, nullptr), S_OK);
    ASSERT_EQ(device->SetTexture(3, texture), S_OK);
    // A level keeps its texture alive: its references are the texture's.
    IDirect3DSurface9* level = nullptr;
    ASSERT_EQ(texture->GetSurfaceLevel(1, &level), S_OK);
    EXPECT_EQ(texture->Release(), 1u);
    D3DSURFACE_DESC desc{};
    ASSERT_EQ(level->GetDesc(&desc), S_OK);
    EXPECT_EQ(desc.Width, 2u);
    IDirect3DBaseTexture9* bound = nullptr;
    ASSERT_EQ(device->GetTexture(3, &bound), S_OK);
    EXPECT_EQ(bound, texture);
    bound->Release();
    EXPECT_EQ(level->Release(), 0u);
    ASSERT_EQ(device->GetTexture(3, &bound), S_OK);
    EXPECT_EQ(bound, nullptr);

    // A render target that goes while set falls back to the back buffer.
    ASSERT_EQ(device->CreateTexture(8, 8, 1, D3DUSAGE_RENDERTARGET, D3DFMT_A8R8G8B8, D3DPOOL_DEFAULT, &texture, nullptr),
              S_OK);
    ASSERT_EQ(texture->GetSurfaceLevel(0, &level), S_OK);
    ASSERT_EQ(device->SetRenderTarget(0, level), S_OK);
    level->Release();
    texture->Release();
    IDirect3DSurface9* target = nullptr;
    ASSERT_EQ(device->GetRenderTarget(0, &target), S_OK);
    ASSERT_EQ(target->GetDesc(&desc), S_OK);
    EXPECT_EQ(desc.Width, 64u);
    target->Release();
    EXPECT_EQ(device->Clear(0, nullptr, D3DCLEAR_TARGET, 0, 1.0f, 0), S_OK);
}
