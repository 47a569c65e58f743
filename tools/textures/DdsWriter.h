// Writer of DDS texture files: the 128-byte header (magic, header, pixel
// format, caps) and the levels, face by face. Formats: DXT1, DXT3, DXT5,
// A8R8G8B8, X8R8G8B8, R8G8B8, L8, A8. Fields are written one by one,
// little-endian.
#pragma once

#include "platform/d3d9/D3D9Types.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace texture_tools {

struct DdsImage {
    D3DFORMAT format = D3DFMT_A8R8G8B8;
    UINT width = 0, height = 0, levels = 1;
    bool cube = false;  // six faces, +X first
    // faces x levels blocks, face-major, each of the level's size in the
    // format (rows packed, one row per 4 x 4 block row when compressed).
    std::vector<std::vector<std::uint8_t>> blocks;
};

// Offsets of header fields, for tests that damage files.
constexpr std::size_t kDdsHeaderSizeAt = 4;
constexpr std::size_t kDdsHeightAt = 12;
constexpr std::size_t kDdsWidthAt = 16;
constexpr std::size_t kDdsMipCountAt = 28;
constexpr std::size_t kDdsPixelFormatAt = 76;
constexpr std::size_t kDdsFourCCAt = 84;
constexpr std::size_t kDdsCaps2At = 112;
constexpr std::size_t kDdsDataAt = 128;

// The file; empty when the format is not one of the list or a block has the
// wrong size.
std::vector<std::uint8_t> writeDds(const DdsImage& image);
// An image whose blocks hold the bytes seed, seed + 1, ... in order.
DdsImage countingDds(D3DFORMAT format, UINT width, UINT height, UINT levels, bool cube = false,
                     std::uint8_t seed = 1);

}  // namespace texture_tools

namespace texture_tools {

// The demo's splash screen: 128 x 96 A8R8G8B8, one level, its top half
// kSplashTop and its bottom half kSplashBottom (0xRRGGBB, opaque).
constexpr std::uint32_t kSplashTop = 0xE6781E;
constexpr std::uint32_t kSplashBottom = 0x1E3CC8;
DdsImage splashScreen();

}  // namespace texture_tools
