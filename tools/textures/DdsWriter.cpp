#include "textures/DdsWriter.h"

#include "platform/d3d9/PixelFormat.h"

#include <cstring>

namespace texture_tools {

namespace {

void put32(std::vector<std::uint8_t>& out, std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) out[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}

struct PixelFormat {
    std::uint32_t flags, fourCC, bits, red, green, blue, alpha;
};

bool pixelFormat(D3DFORMAT format, PixelFormat& pf) {
    switch (format) {
        case D3DFMT_DXT1:
        case D3DFMT_DXT3:
        case D3DFMT_DXT5: pf = {0x4, format, 0, 0, 0, 0, 0}; return true;
        case D3DFMT_A8R8G8B8: pf = {0x41, 0, 32, 0xFF0000, 0xFF00, 0xFF, 0xFF000000u}; return true;
        case D3DFMT_X8R8G8B8: pf = {0x40, 0, 32, 0xFF0000, 0xFF00, 0xFF, 0}; return true;
        case D3DFMT_R8G8B8: pf = {0x40, 0, 24, 0xFF0000, 0xFF00, 0xFF, 0}; return true;
        case D3DFMT_L8: pf = {0x20000, 0, 8, 0xFF, 0, 0, 0}; return true;
        case D3DFMT_A8: pf = {0x2, 0, 8, 0, 0, 0, 0xFF}; return true;
        default: return false;
    }
}

std::size_t blockSize(const DdsImage& image, UINT level) {
    return static_cast<std::size_t>(platform::d3d9::levelBytes(image.format, platform::d3d9::mipSize(image.width, level),
                                                                platform::d3d9::mipSize(image.height, level)));
}

}  // namespace

std::vector<std::uint8_t> writeDds(const DdsImage& image) {
    PixelFormat pf{};
    const UINT faces = image.cube ? 6 : 1;
    if (!pixelFormat(image.format, pf) || image.width == 0 || image.height == 0 || image.levels == 0 ||
        image.blocks.size() != std::size_t(faces) * image.levels)
        return {};
    for (UINT face = 0; face < faces; ++face)
        for (UINT level = 0; level < image.levels; ++level)
            if (image.blocks[face * image.levels + level].size() != blockSize(image, level)) return {};

    std::vector<std::uint8_t> file(kDdsDataAt, 0);
    std::memcpy(file.data(), "DDS ", 4);
    const bool compressed = platform::d3d9::isDxt(image.format);
    put32(file, kDdsHeaderSizeAt, 124);
    // caps, height, width, pixel format; pitch or linear size; mip count
    put32(file, 8, 0x1 | 0x2 | 0x4 | 0x1000 | (compressed ? 0x80000 : 0x8) | (image.levels > 1 ? 0x20000 : 0));
    put32(file, kDdsHeightAt, image.height);
    put32(file, kDdsWidthAt, image.width);
    put32(file, 20, compressed ? static_cast<std::uint32_t>(blockSize(image, 0))
                               : platform::d3d9::rowPitch(image.format, image.width));
    put32(file, kDdsMipCountAt, image.levels > 1 ? image.levels : 0);
    put32(file, kDdsPixelFormatAt, 32);
    const std::uint32_t fields[] = {pf.flags, pf.fourCC, pf.bits, pf.red, pf.green, pf.blue, pf.alpha};
    for (int i = 0; i < 7; ++i) put32(file, 80 + 4 * std::size_t(i), fields[i]);
    put32(file, 108, 0x1000 | (image.levels > 1 || image.cube ? 0x8 : 0) | (image.levels > 1 ? 0x400000 : 0));
    put32(file, kDdsCaps2At, image.cube ? 0x200 | 0xFC00 : 0);
    for (const auto& block : image.blocks) file.insert(file.end(), block.begin(), block.end());
    return file;
}

DdsImage countingDds(D3DFORMAT format, UINT width, UINT height, UINT levels, bool cube, std::uint8_t seed) {
    DdsImage image;
    image.format = format;
    image.width = width;
    image.height = height;
    image.levels = levels;
    image.cube = cube;
    for (UINT face = 0; face < (cube ? 6u : 1u); ++face)
        for (UINT level = 0; level < levels; ++level) {
            std::vector<std::uint8_t> block(blockSize(image, level));
            for (auto& byte : block) byte = seed++;
            image.blocks.push_back(std::move(block));
        }
    return image;
}

}  // namespace texture_tools

namespace texture_tools {

DdsImage splashScreen() {
    DdsImage image;
    image.format = D3DFMT_A8R8G8B8;
    image.width = 128;
    image.height = 96;
    std::vector<std::uint8_t> texels(static_cast<std::size_t>(image.width) * image.height * 4);
    for (UINT y = 0; y < image.height; ++y)
        for (UINT x = 0; x < image.width; ++x) {
            const std::uint32_t rgb = y < image.height / 2 ? kSplashTop : kSplashBottom;
            std::uint8_t* p = &texels[(static_cast<std::size_t>(y) * image.width + x) * 4];
            p[0] = static_cast<std::uint8_t>(rgb);
            p[1] = static_cast<std::uint8_t>(rgb >> 8);
            p[2] = static_cast<std::uint8_t>(rgb >> 16);
            p[3] = 255;
        }
    image.blocks.push_back(std::move(texels));
    return image;
}

}  // namespace texture_tools
