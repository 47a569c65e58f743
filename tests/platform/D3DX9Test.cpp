#include "foundation/Image.h"
#include "platform/D3D9TestSupport.h"
#include "platform/d3d9/D3DX9.h"
#include "platform/d3d9/PixelFormat.h"
#include "platform/d3d9/ShaderBody.h"
#include "support/TestSupport.h"
#include "textures/DdsWriter.h"

#include <cmath>
#include <cstring>
#include <memory>

using d3d9_test::D3D9Test;

namespace {

// A DDS file written by our tool: levels of bytes counting up.
struct Dds {
    D3DFORMAT format;
    UINT width, height, levels;
    std::vector<std::uint8_t> file;
    std::vector<std::vector<std::uint8_t>> blocks;  // face-major, then level
};

void put32(std::vector<std::uint8_t>& out, std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) out[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}

Dds makeDds(D3DFORMAT format, UINT width, UINT height, UINT levels, bool cube = false) {
    const auto image = texture_tools::countingDds(format, width, height, levels, cube);
    return {format, width, height, levels, texture_tools::writeDds(image), image.blocks};
}

std::vector<std::uint8_t> surfaceBytes(IDirect3DSurface9* surface) {
    std::vector<std::uint8_t> bytes;
    D3DSURFACE_DESC desc{};
    EXPECT_TRUE(platform::d3d9::readSurface(surface, bytes, desc));
    return bytes;
}

std::vector<std::uint8_t> levelBytes(IDirect3DTexture9* texture, UINT level) {
    IDirect3DSurface9* surface = nullptr;
    EXPECT_EQ(texture->GetSurfaceLevel(level, &surface), S_OK);
    auto bytes = surfaceBytes(surface);
    surface->Release();
    return bytes;
}

class D3DXTest : public D3D9Test {
protected:
    void SetUp() override {
        D3D9Test::SetUp();
        open();
        ASSERT_NE(device, nullptr);
    }

    IDirect3DTexture9* load(const std::vector<std::uint8_t>& file, D3DFORMAT format = D3DFMT_FROM_FILE,
                            UINT levels = D3DX_FROM_FILE, UINT width = D3DX_DEFAULT, UINT height = D3DX_DEFAULT,
                            HRESULT expected = S_OK) {
        IDirect3DTexture9* texture = nullptr;
        EXPECT_EQ(D3DXCreateTextureFromFileInMemoryEx(device, file.data(), UINT(file.size()), width, height, levels, 0,
                                                      format, D3DPOOL_MANAGED, D3DX_FILTER_NONE, D3DX_FILTER_NONE, 0,
                                                      nullptr, nullptr, &texture),
                  expected)
            << allLines();
        return texture;
    }
};

}  // namespace

TEST_F(D3DXTest, DdsFilesGiveTheirSizesLevelsAndBytes) {
    const Dds cases[] = {
        makeDds(D3DFMT_DXT1, 8, 8, 4),
        makeDds(D3DFMT_DXT5, 8, 4, 1),
        makeDds(D3DFMT_DXT3, 4, 4, 3),
        makeDds(D3DFMT_A8R8G8B8, 4, 4, 3),
        makeDds(D3DFMT_X8R8G8B8, 2, 2, 1),
        makeDds(D3DFMT_L8, 8, 2, 4),
        makeDds(D3DFMT_A8, 4, 4, 1),
    };
    for (const Dds& dds : cases) {
        SCOPED_TRACE(platform::d3d9::formatName(dds.format));
        D3DXIMAGE_INFO info{};
        ASSERT_EQ(D3DXGetImageInfoFromFileInMemory(dds.file.data(), UINT(dds.file.size()), &info), S_OK);
        EXPECT_EQ(info.Width, dds.width);
        EXPECT_EQ(info.Height, dds.height);
        EXPECT_EQ(info.MipLevels, dds.levels);
        EXPECT_EQ(info.Format, dds.format);
        EXPECT_EQ(info.ResourceType, D3DRTYPE_TEXTURE);
        EXPECT_EQ(info.ImageFileFormat, D3DXIFF_DDS);

        IDirect3DTexture9* texture = load(dds.file);
        ASSERT_NE(texture, nullptr);
        ASSERT_EQ(texture->GetLevelCount(), dds.levels);
        for (UINT level = 0; level < dds.levels; ++level) {
            D3DSURFACE_DESC desc{};
            ASSERT_EQ(texture->GetLevelDesc(level, &desc), S_OK);
            EXPECT_EQ(desc.Width, platform::d3d9::mipSize(dds.width, level));
            EXPECT_EQ(desc.Height, platform::d3d9::mipSize(dds.height, level));
            EXPECT_EQ(desc.Format, dds.format);
            EXPECT_EQ(levelBytes(texture, level), dds.blocks[level]) << "level " << level;
        }
        texture->Release();
    }

    // R8G8B8 is kept as X8R8G8B8 by the adapter: each triple gains an opaque byte.
    const Dds rgb = makeDds(D3DFMT_R8G8B8, 2, 2, 1);
    D3DXIMAGE_INFO rgbInfo{};
    ASSERT_EQ(D3DXGetImageInfoFromFileInMemory(rgb.file.data(), UINT(rgb.file.size()), &rgbInfo), S_OK);
    EXPECT_EQ(rgbInfo.Format, D3DFMT_R8G8B8);
    IDirect3DTexture9* widened = load(rgb.file);
    ASSERT_NE(widened, nullptr);
    D3DSURFACE_DESC widenedDesc{};
    widened->GetLevelDesc(0, &widenedDesc);
    EXPECT_EQ(widenedDesc.Format, D3DFMT_X8R8G8B8);
    const auto texels = levelBytes(widened, 0);
    ASSERT_EQ(texels.size(), 16u);
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(texels[i * 4], rgb.blocks[0][i * 3]);
        EXPECT_EQ(texels[i * 4 + 2], rgb.blocks[0][i * 3 + 2]);
        EXPECT_EQ(texels[i * 4 + 3], 0xFF);
    }
    widened->Release();

    // Asked for half the size, a texture takes the file's own lower levels.
    const Dds chain = makeDds(D3DFMT_DXT1, 16, 16, 5);
    IDirect3DTexture9* half = load(chain.file, D3DFMT_FROM_FILE, D3DX_FROM_FILE, 8, 8);
    ASSERT_NE(half, nullptr);
    ASSERT_EQ(half->GetLevelCount(), 4u);
    for (UINT level = 0; level < 4; ++level) EXPECT_EQ(levelBytes(half, level), chain.blocks[level + 1]) << level;
    half->Release();

    // A cube map: six faces with three levels each, byte for byte.
    const Dds cube = makeDds(D3DFMT_A8R8G8B8, 4, 4, 3, true);
    D3DXIMAGE_INFO info{};
    ASSERT_EQ(D3DXGetImageInfoFromFileInMemory(cube.file.data(), UINT(cube.file.size()), &info), S_OK);
    EXPECT_EQ(info.ResourceType, D3DRTYPE_CUBETEXTURE);
    IDirect3DCubeTexture9* cubeTexture = nullptr;
    ASSERT_EQ(D3DXCreateCubeTextureFromFileInMemory(device, cube.file.data(), UINT(cube.file.size()), &cubeTexture),
              S_OK)
        << allLines();
    ASSERT_EQ(cubeTexture->GetLevelCount(), 3u);
    for (UINT face = 0; face < 6; ++face)
        for (UINT level = 0; level < 3; ++level) {
            IDirect3DSurface9* surface = nullptr;
            ASSERT_EQ(cubeTexture->GetCubeMapSurface(D3DCUBEMAP_FACES(face), level, &surface), S_OK);
            EXPECT_EQ(surfaceBytes(surface), cube.blocks[face * 3 + level]) << face << " " << level;
            surface->Release();
        }
    cubeTexture->Release();
    // A plain image is no cube map.
    const Dds flat = makeDds(D3DFMT_A8R8G8B8, 4, 4, 1);
    EXPECT_EQ(D3DXCreateCubeTextureFromFileInMemory(device, flat.file.data(), UINT(flat.file.size()), &cubeTexture),
              D3DXERR_INVALIDDATA);
}

TEST_F(D3DXTest, DxtLevelsDecodeAndTheFullChainIsBuilt) {
    // One DXT1 block: colour 0 red, colour 1 blue, indices 0,1,2,3 on row 0.
    Dds dds = makeDds(D3DFMT_DXT1, 4, 4, 1);
    const std::uint8_t block[8] = {0x00, 0xF8, 0x1F, 0x00, 0xE4, 0xE4, 0xE4, 0xE4};
    std::memcpy(dds.file.data() + texture_tools::kDdsDataAt, block, 8);
    // Converted to A8R8G8B8 with a full chain built by the loader.
    IDirect3DTexture9* texture = load(dds.file, D3DFMT_A8R8G8B8, 0);
    ASSERT_NE(texture, nullptr);
    ASSERT_EQ(texture->GetLevelCount(), 3u);
    const auto top = levelBytes(texture, 0);
    auto texel = [&](int x) { return std::uint32_t(top[x * 4] | (top[x * 4 + 1] << 8) | (top[x * 4 + 2] << 16) | (top[x * 4 + 3] << 24)); };
    EXPECT_EQ(texel(0), 0xFFFF0000u);
    EXPECT_EQ(texel(1), 0xFF0000FFu);
    EXPECT_EQ(texel(2), 0xFFAA0055u);
    EXPECT_EQ(texel(3), 0xFF5500AAu);
    const auto last = levelBytes(texture, 2);
    ASSERT_EQ(last.size(), 4u);
    EXPECT_EQ(last[3], 0xFF);
    texture->Release();
}

TEST_F(D3DXTest, EngineTgasLoadTopDownInAnyRowOrderAndCompress) {
    // As the engine writes them: top-down, B G R A.
    TgaImage image;
    ASSERT_TRUE(image.create(true, 3, 2));
    for (std::uint32_t i = 0; i < 6; ++i) {
        std::uint8_t* p = image.pixels() + i * 4;
        p[0] = std::uint8_t(10 * i), p[1] = std::uint8_t(10 * i + 1), p[2] = std::uint8_t(10 * i + 2), p[3] = std::uint8_t(200 + i);
    }
    image.updateHeader();
    D3DXIMAGE_INFO info{};
    ASSERT_EQ(D3DXGetImageInfoFromFileInMemory(image.block.data(), UINT(image.block.size()), &info), S_OK);
    EXPECT_EQ(info.Width, 3u);
    EXPECT_EQ(info.Height, 2u);
    EXPECT_EQ(info.Format, D3DFMT_A8R8G8B8);
    EXPECT_EQ(info.ImageFileFormat, D3DXIFF_TGA);
    IDirect3DTexture9* texture = load(image.block, D3DFMT_A8R8G8B8, 1);
    ASSERT_NE(texture, nullptr);
    EXPECT_EQ(levelBytes(texture, 0), std::vector<std::uint8_t>(image.pixels(), image.pixels() + 24));
    texture->Release();

    // The same picture stored bottom-up, and run-length packed.
    std::vector<std::uint8_t> bottomUp(image.block.begin(), image.block.begin() + 18);
    bottomUp[17] = 8;
    bottomUp.insert(bottomUp.end(), image.pixels() + 12, image.pixels() + 24);
    bottomUp.insert(bottomUp.end(), image.pixels(), image.pixels() + 12);
    texture = load(bottomUp, D3DFMT_A8R8G8B8, 1);
    ASSERT_NE(texture, nullptr);
    EXPECT_EQ(levelBytes(texture, 0), std::vector<std::uint8_t>(image.pixels(), image.pixels() + 24));
    texture->Release();
    std::vector<std::uint8_t> rle(image.block.begin(), image.block.begin() + 18);
    rle[2] = 10;
    rle.push_back(0x85);  // one texel six times
    rle.insert(rle.end(), {1, 2, 3, 4});
    texture = load(rle, D3DFMT_A8R8G8B8, 1);
    ASSERT_NE(texture, nullptr);
    const auto runs = levelBytes(texture, 0);
    for (int i = 0; i < 6; ++i) EXPECT_EQ(runs[i * 4 + 3], 4) << i;
    texture->Release();

    // A one-byte image, as the engine writes it (marked true colour), is grey.
    TgaImage mask;
    ASSERT_TRUE(mask.create(false, 4, 2));
    mask.setAlpha(true, 0x40, true);
    mask.updateHeader();
    texture = load(mask.block, D3DFMT_FROM_FILE, 1);
    ASSERT_NE(texture, nullptr);
    EXPECT_EQ(levelBytes(texture, 0), std::vector<std::uint8_t>(8, 0x40));
    texture->Release();

    // Uncompressed without alpha asks for R8G8B8, which the adapter keeps as X8R8G8B8.
    TgaImage rgb;
    ASSERT_TRUE(rgb.create(false, 8, 8));
    rgb.fillRgb(0x30, 0x60, 0x90);
    rgb.updateHeader();
    texture = load(rgb.block, D3DFMT_R8G8B8, 1);
    ASSERT_NE(texture, nullptr);
    D3DSURFACE_DESC desc{};
    texture->GetLevelDesc(0, &desc);
    EXPECT_EQ(desc.Format, D3DFMT_X8R8G8B8);
    EXPECT_EQ(levelBytes(texture, 0)[0], 0x90);  // blue first
    texture->Release();
    // Compressed to DXT5 with a full chain; a flat colour survives exactly.
    texture = load(rgb.block, D3DFMT_DXT5, 0);
    ASSERT_NE(texture, nullptr);
    EXPECT_EQ(texture->GetLevelCount(), 4u);
    texture->GetLevelDesc(0, &desc);
    EXPECT_EQ(desc.Format, D3DFMT_DXT5);
    std::vector<std::uint8_t> rgba;
    const auto dxt = levelBytes(texture, 0);
    ASSERT_TRUE(platform::d3d9::decodeLevel(D3DFMT_DXT5, dxt.data(), 32, 8, 8, rgba));
    EXPECT_NEAR(rgba[0], 0x30, 4);
    EXPECT_NEAR(rgba[1], 0x60, 2);
    EXPECT_NEAR(rgba[2], 0x90, 4);
    EXPECT_EQ(rgba[3], 0xFF);
    texture->Release();
    // Halved on request with a linear filter.
    texture = nullptr;
    ASSERT_EQ(D3DXCreateTextureFromFileInMemoryEx(device, rgb.block.data(), UINT(rgb.block.size()), 4, 4, 1, 0,
                                                  D3DFMT_A8R8G8B8, D3DPOOL_DEFAULT, D3DX_FILTER_LINEAR, D3DX_FILTER_NONE,
                                                  0, &info, nullptr, &texture),
              S_OK);
    texture->GetLevelDesc(0, &desc);
    EXPECT_EQ(desc.Width, 4u);
    EXPECT_EQ(info.Width, 8u);
    EXPECT_EQ(platform::d3d9::statistics(device)->refused, 0u) << allLines();
    texture->Release();
}

TEST_F(D3DXTest, DamagedImagesAreRefusedWithoutReadingPastTheirEnd) {
    const Dds good = makeDds(D3DFMT_DXT1, 8, 8, 4);
    std::vector<std::vector<std::uint8_t>> damaged;
    for (std::size_t length = 0; length < good.file.size(); ++length)
        damaged.emplace_back(good.file.begin(), good.file.begin() + std::ptrdiff_t(length));
    auto patched = [&](std::size_t at, std::uint32_t value) {
        auto file = good.file;
        put32(file, at, value);
        return file;
    };
    using namespace texture_tools;
    damaged.push_back(patched(kDdsHeaderSizeAt, 100));
    damaged.push_back(patched(kDdsPixelFormatAt, 31));
    damaged.push_back(patched(kDdsWidthAt, 0));
    damaged.push_back(patched(kDdsWidthAt, 0x40000000u));  // beyond any device
    damaged.push_back(patched(kDdsHeightAt, 0x1000));      // more rows than the data holds
    damaged.push_back(patched(kDdsMipCountAt, 5));         // five levels of an 8 x 8 image
    damaged.push_back(patched(kDdsMipCountAt, 0xFFFFFFFFu));
    damaged.push_back(patched(kDdsFourCCAt, 0x31545846u));  // unknown FourCC
    damaged.push_back(patched(kDdsCaps2At, 0x200 | 0x400));  // a cube with one face
    damaged.push_back(patched(kDdsCaps2At, 0x200000));       // a volume
    {
        // 16384 x 16384 A8R8G8B8 with a full chain: sizes that only a 64-bit sum holds.
        auto big = makeDds(D3DFMT_A8R8G8B8, 1, 1, 1).file;
        put32(big, texture_tools::kDdsHeightAt, 16384);
        put32(big, texture_tools::kDdsWidthAt, 16384);
        put32(big, 8, 0x1 | 0x2 | 0x4 | 0x1000 | 0x20000);  // with a mip count
        put32(big, texture_tools::kDdsMipCountAt, 15);
        damaged.push_back(big);
    }
    // TGAs: cut short, a run past the image, a colour-mapped one.
    TgaImage image;
    ASSERT_TRUE(image.create(false, 4, 4));
    image.updateHeader();
    damaged.emplace_back(image.block.begin(), image.block.end() - 1);
    std::vector<std::uint8_t> rle(image.block.begin(), image.block.begin() + 18);
    rle[2] = 10;
    rle.insert(rle.end(), {0xFF, 1, 2, 3});  // 128 texels into a 16-texel image
    damaged.push_back(rle);
    rle.resize(18);
    rle.insert(rle.end(), {0x8F, 1});  // a run whose texel is cut short
    damaged.push_back(rle);
    std::vector<std::uint8_t> mapped = image.block;
    mapped[1] = 1;
    damaged.push_back(mapped);

    for (std::size_t i = 0; i < damaged.size(); ++i) {
        // Each in a block of its own size, so the sanitizer sees any read past it.
        const auto& file = damaged[i];
        std::unique_ptr<std::uint8_t[]> exact(new std::uint8_t[std::max<std::size_t>(file.size(), 1)]);
        if (!file.empty()) std::memcpy(exact.get(), file.data(), file.size());
        D3DXIMAGE_INFO info{};
        EXPECT_NE(D3DXGetImageInfoFromFileInMemory(exact.get(), UINT(file.size()), &info), S_OK) << i;
        IDirect3DTexture9* texture = nullptr;
        EXPECT_EQ(D3DXCreateTextureFromFileInMemoryEx(device, exact.get(), UINT(file.size()), D3DX_DEFAULT,
                                                      D3DX_DEFAULT, D3DX_FROM_FILE, 0, D3DFMT_FROM_FILE,
                                                      D3DPOOL_MANAGED, D3DX_DEFAULT, D3DX_DEFAULT, 0, nullptr,
                                                      nullptr, &texture),
                  D3DXERR_INVALIDDATA)
            << i;
        EXPECT_EQ(texture, nullptr);
    }
    EXPECT_TRUE(logged("DDS data cut short")) << allLines();
    EXPECT_TRUE(logged("DDS claims 5 mip levels for 8x8")) << allLines();
    EXPECT_TRUE(logged("TGA run-length packet runs past the image")) << allLines();
}

TEST_F(D3DXTest, RunLengthTgasAllocateNoMoreThanTheirDataEncode) {
    // A run-length header (type 10) with its 18 bytes and the given packets.
    auto rleTga = [](std::uint16_t width, std::uint16_t height, std::vector<std::uint8_t> packets) {
        std::vector<std::uint8_t> file = {0, 0, 10, 0, 0, 0, 0, 0, 0, 0, 0, 0};
        for (std::uint16_t v : {width, height}) {
            file.push_back(std::uint8_t(v));
            file.push_back(std::uint8_t(v >> 8));
        }
        file.push_back(32);
        file.push_back(0x28);  // alpha bits, top row first
        file.insert(file.end(), packets.begin(), packets.end());
        return file;
    };
    // 16384 x 16384 at 32 bits in two bytes: refused before a decode.
    const auto claim = rleTga(16384, 16384, {0x7F, 0});
    {
        testing_support::LargestAllocation largest;
        D3DXIMAGE_INFO info{};
        EXPECT_EQ(D3DXGetImageInfoFromFileInMemory(claim.data(), UINT(claim.size()), &info), D3DXERR_INVALIDDATA);
        load(claim, D3DFMT_FROM_FILE, D3DX_FROM_FILE, D3DX_DEFAULT, D3DX_DEFAULT, D3DXERR_INVALIDDATA);
        if (testing_support::LargestAllocation::recording()) EXPECT_LT(largest.bytes(), 1u << 20);
    }
    EXPECT_TRUE(logged("TGA run-length data cut short: 2 bytes for 16384x16384")) << allLines();

    // 1024 x 1024 in runs of 128 texels: the header query walks the packets
    // without making the 4 MB picture; the load makes it.
    std::vector<std::uint8_t> runs;
    for (int i = 0; i < 1024 * 1024 / 128; ++i) runs.insert(runs.end(), {0xFF, 10, 20, 30, 40});
    const auto big = rleTga(1024, 1024, runs);
    {
        testing_support::LargestAllocation largest;
        D3DXIMAGE_INFO info{};
        ASSERT_EQ(D3DXGetImageInfoFromFileInMemory(big.data(), UINT(big.size()), &info), S_OK);
        EXPECT_EQ(info.Width, 1024u);
        EXPECT_EQ(info.Height, 1024u);
        EXPECT_EQ(info.Format, D3DFMT_A8R8G8B8);
        if (testing_support::LargestAllocation::recording()) EXPECT_LT(largest.bytes(), 1u << 20);
    }
    IDirect3DTexture9* texture = load(big, D3DFMT_FROM_FILE, 1);
    ASSERT_NE(texture, nullptr);
    const auto texels = levelBytes(texture, 0);
    ASSERT_EQ(texels.size(), 4u * 1024 * 1024);
    EXPECT_EQ(std::vector<std::uint8_t>(texels.end() - 4, texels.end()), (std::vector<std::uint8_t>{10, 20, 30, 40}));
    texture->Release();
    // One packet short: the query refuses it as the load does.
    runs.resize(runs.size() - 5);
    const auto cut = rleTga(1024, 1024, runs);
    D3DXIMAGE_INFO info{};
    EXPECT_EQ(D3DXGetImageInfoFromFileInMemory(cut.data(), UINT(cut.size()), &info), D3DXERR_INVALIDDATA);
}

TEST_F(D3DXTest, FillsWriteExactTexelsAndRequirementsAdjust) {
    IDirect3DTexture9* ramp = nullptr;
    ASSERT_EQ(device->CreateTexture(4, 1, 0, 0, D3DFMT_L8, D3DPOOL_DEFAULT, &ramp, nullptr), S_OK);
    ASSERT_EQ(D3DXFillTexture(
                  ramp,
                  [](D3DXVECTOR4* out, const D3DXVECTOR2* uv, const D3DXVECTOR2*, void*) {
                      *out = {uv->x, uv->x, uv->x, uv->x};
                  },
                  nullptr),
              S_OK);
    EXPECT_EQ(levelBytes(ramp, 0), (std::vector<std::uint8_t>{32, 96, 159, 223}));
    EXPECT_EQ(levelBytes(ramp, 1), (std::vector<std::uint8_t>{64, 191}));
    EXPECT_EQ(levelBytes(ramp, 2), (std::vector<std::uint8_t>{128}));
    ramp->Release();

    // The normaliser cube: each texel holds its direction packed into 0..1.
    IDirect3DCubeTexture9* cube = nullptr;
    ASSERT_EQ(device->CreateCubeTexture(2, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &cube, nullptr), S_OK);
    ASSERT_EQ(D3DXFillCubeTexture(
                  cube,
                  [](D3DXVECTOR4* out, const D3DXVECTOR3* d, const D3DXVECTOR3*, void*) {
                      const float length = std::sqrt(d->x * d->x + d->y * d->y + d->z * d->z);
                      *out = {0.5f * d->x / length + 0.5f, 0.5f * d->y / length + 0.5f, 0.5f * d->z / length + 0.5f,
                              1.0f};
                  },
                  nullptr),
              S_OK);
    IDirect3DSurface9* face = nullptr;
    ASSERT_EQ(cube->GetCubeMapSurface(D3DCUBEMAP_FACE_POSITIVE_X, 0, &face), S_OK);
    const auto bytes = surfaceBytes(face);
    face->Release();
    // Texel (0, 0) of +X points to (1, 0.5, 0.5).
    const float length = std::sqrt(1.5f);
    auto packed = [](float v) { return std::uint8_t((0.5f * v + 0.5f) * 255.0f + 0.5f); };
    EXPECT_EQ(bytes[2], packed(1.0f / length));
    EXPECT_EQ(bytes[1], packed(0.5f / length));
    EXPECT_EQ(bytes[0], packed(0.5f / length));
    EXPECT_EQ(bytes[3], 0xFF);
    cube->Release();

    UINT width = 5000, height = 3, levels = 0;
    D3DFORMAT format = D3DFMT_R8G8B8;
    ASSERT_EQ(D3DXCheckTextureRequirements(device, &width, &height, &levels, 0, &format, D3DPOOL_MANAGED), S_OK);
    EXPECT_EQ(width, 4096u);
    EXPECT_EQ(height, 3u);
    EXPECT_EQ(levels, 13u);
    EXPECT_EQ(format, D3DFMT_X8R8G8B8);
    UINT edge = 100;
    format = D3DFMT_A8R8G8B8;
    levels = 1;
    ASSERT_EQ(D3DXCheckCubeTextureRequirements(device, &edge, &levels, 0, &format, D3DPOOL_MANAGED), S_OK);
    EXPECT_EQ(edge, 100u);
    EXPECT_EQ(levels, 1u);
}

TEST_F(D3DXTest, SavedPngsDecodeToTheSamePixels) {
    IDirect3DTexture9* texture = nullptr;
    ASSERT_EQ(device->CreateTexture(5, 3, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &texture, nullptr), S_OK);
    D3DLOCKED_RECT rect{};
    ASSERT_EQ(texture->LockRect(0, &rect, nullptr, 0), S_OK);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 5; ++x) {
            auto* p = static_cast<std::uint8_t*>(rect.pBits) + y * rect.Pitch + x * 4;
            p[0] = std::uint8_t(x * 40), p[1] = std::uint8_t(y * 80), p[2] = std::uint8_t(x + y), p[3] = std::uint8_t(255 - x);
        }
    const std::vector<std::uint8_t> expected(static_cast<std::uint8_t*>(rect.pBits),
                                             static_cast<std::uint8_t*>(rect.pBits) + 60);
    texture->UnlockRect(0);
    ID3DXBuffer* png = nullptr;
    ASSERT_EQ(D3DXSaveTextureToFileInMemory(&png, D3DXIFF_PNG, texture, nullptr), S_OK);
    TgaImage decoded;
    ASSERT_TRUE(decodeImage(static_cast<const std::uint8_t*>(png->GetBufferPointer()), png->GetBufferSize(), decoded));
    ASSERT_EQ(decoded.width, 5u);
    ASSERT_EQ(decoded.height, 3u);
    ASSERT_TRUE(decoded.hasAlpha());
    EXPECT_EQ(std::vector<std::uint8_t>(decoded.pixels(), decoded.pixels() + 60), expected);
    png->Release();
    EXPECT_EQ(D3DXSaveTextureToFileInMemory(&png, D3DXIFF_JPG, texture, nullptr), D3DERR_INVALIDCALL);
    texture->Release();

    // A render target drawn into through a render-to-surface object, saved without alpha.
    ASSERT_EQ(device->CreateTexture(4, 4, 1, D3DUSAGE_RENDERTARGET, D3DFMT_X8R8G8B8, D3DPOOL_DEFAULT, &texture, nullptr),
              S_OK);
    ID3DXRenderToSurface* rts = nullptr;
    ASSERT_EQ(D3DXCreateRenderToSurface(device, 4, 4, D3DFMT_X8R8G8B8, TRUE, D3DFMT_D16, &rts), S_OK);
    IDirect3DSurface9* level = nullptr;
    ASSERT_EQ(texture->GetSurfaceLevel(0, &level), S_OK);
    const D3DVIEWPORT9 viewport{0, 0, 4, 4, 0.0f, 1.0f};
    ASSERT_EQ(rts->BeginScene(level, &viewport), S_OK) << allLines();
    EXPECT_EQ(rts->BeginScene(level, &viewport), D3DERR_INVALIDCALL);
    ASSERT_EQ(device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF204060u, 1.0f, 0), S_OK);
    ASSERT_EQ(rts->EndScene(0), S_OK);
    D3DVIEWPORT9 restored{};
    device->GetViewport(&restored);
    EXPECT_EQ(restored.Width, 64u);  // the back buffer's again
    IDirect3DSurface9* back = nullptr;
    device->GetBackBuffer(0, 0, D3DBACKBUFFER_TYPE_MONO, &back);
    EXPECT_EQ(surfaceBytes(back)[0], 0);  // untouched
    back->Release();
    ASSERT_EQ(D3DXSaveTextureToFileInMemory(&png, D3DXIFF_PNG, texture, nullptr), S_OK);
    ASSERT_TRUE(decodeImage(static_cast<const std::uint8_t*>(png->GetBufferPointer()), png->GetBufferSize(), decoded));
    EXPECT_FALSE(decoded.hasAlpha());
    EXPECT_EQ(decoded.pixels()[0], 0x60);
    EXPECT_EQ(decoded.pixels()[1], 0x40);
    EXPECT_EQ(decoded.pixels()[2], 0x20);
    png->Release();
    // A surface of another size is refused.
    IDirect3DTexture9* other = nullptr;
    ASSERT_EQ(device->CreateTexture(8, 8, 1, D3DUSAGE_RENDERTARGET, D3DFMT_X8R8G8B8, D3DPOOL_DEFAULT, &other, nullptr),
              S_OK);
    IDirect3DSurface9* otherLevel = nullptr;
    other->GetSurfaceLevel(0, &otherLevel);
    EXPECT_EQ(rts->BeginScene(otherLevel, nullptr), D3DERR_INVALIDCALL);
    EXPECT_TRUE(logged("surface 8x8 D3DFMT_X8R8G8B8, the object is for 4x4 D3DFMT_X8R8G8B8")) << allLines();
    otherLevel->Release();
    other->Release();
    level->Release();
    rts->Release();
    texture->Release();
}

TEST_F(D3DXTest, ConstantTablesListTheirConstantsAndSetRegisters) {
    platform::d3d9::ShaderBody body;
    body.kind = 0;
    body.profile = "vs_2_0";
    body.entryPoint = "VS_MultyShader";
    body.sourceId = 240;
    body.defines = {{"GAME_ENGINE_COMPILATION", ""}, {"MAX_BONES", "78"}};
    body.constants = {
        {"$mWorld", D3DXRS_FLOAT4, 4, 4, D3DXPC_MATRIX_COLUMNS, D3DXPT_FLOAT, 4, 4, 1},
        {"vColorDiffuse", D3DXRS_FLOAT4, 8, 1, D3DXPC_VECTOR, D3DXPT_FLOAT, 1, 4, 1},
        {"fTime", D3DXRS_FLOAT4, 9, 1, D3DXPC_SCALAR, D3DXPT_FLOAT, 1, 1, 1},
        {"mBones", D3DXRS_FLOAT4, 10, 6, D3DXPC_MATRIX_ROWS, D3DXPT_FLOAT, 3, 4, 2},
        {"sDiffuseMap", D3DXRS_SAMPLER, 0, 1, D3DXPC_OBJECT, D3DXPT_SAMPLER2D, 1, 1, 1},
    };
    const auto code = platform::d3d9::writeShaderBody(body);
    const auto* function = reinterpret_cast<const DWORD*>(code.data());
    EXPECT_EQ(D3DXGetShaderSize(function), code.size());
    ID3DXConstantTable* table = nullptr;
    ASSERT_EQ(D3DXGetShaderConstantTable(function, &table), S_OK);
    D3DXCONSTANTTABLE_DESC desc{};
    ASSERT_EQ(table->GetDesc(&desc), S_OK);
    EXPECT_EQ(desc.Constants, 5u);
    EXPECT_EQ(desc.Version, D3DVS_VERSION(2, 0));
    const char* names[] = {"$mWorld", "vColorDiffuse", "fTime", "mBones", "sDiffuseMap"};
    for (UINT i = 0; i < 5; ++i) {
        D3DXHANDLE handle = table->GetConstant(nullptr, i);
        ASSERT_NE(handle, nullptr);
        D3DXCONSTANT_DESC constant{};
        UINT count = 1;
        ASSERT_EQ(table->GetConstantDesc(handle, &constant, &count), S_OK);
        EXPECT_STREQ(constant.Name, names[i]);
        EXPECT_EQ(constant.RegisterIndex, body.constants[i].registerIndex);
        EXPECT_EQ(constant.Class, D3DXPARAMETER_CLASS(body.constants[i].parameterClass));
        EXPECT_EQ(constant.Elements, body.constants[i].elements);
    }
    EXPECT_EQ(table->GetConstant(nullptr, 5), nullptr);
    EXPECT_EQ(table->GetConstantByName(nullptr, "fTime"), table->GetConstant(nullptr, 2));

    // A column-major matrix lands transposed: register 4 + c holds column c.
    D3DXMATRIX world{};
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c) world.m[r][c] = float(r * 4 + c);
    ASSERT_EQ(table->SetMatrix(device, table->GetConstant(nullptr, 0), &world), S_OK);
    float registers[16 * 4] = {};
    device->GetVertexShaderConstantF(4, registers, 4);
    EXPECT_EQ(registers[0], 0.0f);
    EXPECT_EQ(registers[1], 4.0f);
    EXPECT_EQ(registers[4], 1.0f);
    // Rows of a 3 x 4 matrix array: three registers an element, six in all.
    D3DXMATRIX bones[3] = {world, world, world};
    bones[1].m[0][0] = 100.0f;
    ASSERT_EQ(table->SetMatrixArray(device, "mBones", bones, 3), S_OK);
    device->GetVertexShaderConstantF(10, registers, 7);
    EXPECT_EQ(registers[1], 1.0f);
    EXPECT_EQ(registers[3 * 4], 100.0f);
    EXPECT_EQ(registers[6 * 4], 0.0f);  // register 16 is past the constant
    const D3DXVECTOR4 colour{0.25f, 0.5f, 0.75f, 1.0f};
    ASSERT_EQ(table->SetVector(device, "vColorDiffuse", &colour), S_OK);
    ASSERT_EQ(table->SetFloat(device, "fTime", 3.5f), S_OK);
    device->GetVertexShaderConstantF(8, registers, 2);
    EXPECT_EQ(registers[2], 0.75f);
    EXPECT_EQ(registers[4], 3.5f);
    EXPECT_EQ(table->SetFloat(device, "sDiffuseMap", 1.0f), D3DERR_INVALIDCALL);
    EXPECT_EQ(table->SetFloat(device, "missing", 1.0f), D3DERR_INVALIDCALL);
    table->Release();

    // Not ours, or cut short.
    const DWORD bytecode[] = {0xFFFE0200u, 0x0000FFFFu};
    EXPECT_EQ(D3DXGetShaderConstantTable(bytecode, &table), D3DXERR_INVALIDDATA);
    auto cut = code;
    put32(cut, 4, std::uint32_t(code.size() - 8));
    cut.resize(code.size() - 8);
    EXPECT_EQ(D3DXGetShaderConstantTable(reinterpret_cast<const DWORD*>(cut.data()), &table), D3DXERR_INVALIDDATA);
    EXPECT_EQ(table, nullptr);

    ID3DXBuffer* buffer = nullptr;
    ASSERT_EQ(D3DXCreateBuffer(12, &buffer), S_OK);
    EXPECT_EQ(buffer->GetBufferSize(), 12u);
    buffer->Release();
}
