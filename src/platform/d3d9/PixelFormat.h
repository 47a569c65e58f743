// Texel layouts of the formats our Direct3D 9 keeps in memory, and
// conversion between them and 8-bit RGBA (bytes R, G, B, A per texel, rows
// packed). Block-compressed formats (DXT) are decoded and encoded by 4 x 4
// blocks; a surface of them has one row per block row.
#pragma once

#include "platform/d3d9/D3D9Types.h"

#include <cstdint>
#include <vector>

namespace platform::d3d9 {

struct FormatInfo {
    bool known = false;       // a format whose texels we can hold
    bool compressed = false;  // 4 x 4 blocks
    bool depth = false;
    bool alpha = false;       // carries an alpha channel
    UINT bytes = 0;           // per texel, or per block when compressed
};

FormatInfo formatInfo(D3DFORMAT format);
bool isDxt(D3DFORMAT format);
// Bytes of one row (one block row when compressed), and the row count.
UINT rowPitch(D3DFORMAT format, UINT width);
UINT rowCount(D3DFORMAT format, UINT height);
// Bytes of a whole level; 0 for an unknown format.
std::uint64_t levelBytes(D3DFORMAT format, UINT width, UINT height);
// Size of mip level `level` of a side (at least 1).
inline UINT mipSize(UINT size, UINT level) { return level >= 32 ? 1 : (size >> level) ? (size >> level) : 1; }
// Number of levels of a full chain down to 1 x 1.
UINT fullChain(UINT width, UINT height);

// Converts a whole level to RGBA8 (rgba receives width x height x 4 bytes).
// False for a format we cannot decode.
bool decodeLevel(D3DFORMAT format, const std::uint8_t* source, UINT pitch, UINT width, UINT height,
                 std::vector<std::uint8_t>& rgba);
// Converts RGBA8 into a level of format. False for a format we cannot encode.
bool encodeLevel(D3DFORMAT format, const std::uint8_t* rgba, UINT width, UINT height, std::uint8_t* target,
                 UINT pitch);
// One colour given as A8R8G8B8 written as a texel of an uncompressed format
// (depth formats take depth in 0..1 instead).
void encodeColor(D3DFORMAT format, D3DCOLOR color, std::uint8_t* texel);
void encodeDepth(D3DFORMAT format, float depth, DWORD stencil, std::uint8_t* texel);

enum class Resample { Copy, Point, Linear };
// Resamples the region (left, top, width, height) of an RGBA8 image of
// imageWidth texels a row into width x height texels: Copy takes the
// overlapping corner unscaled (the rest stays 0), Point the nearest texel,
// Linear interpolates between texel centres (a box average when halving).
std::vector<std::uint8_t> resample(const std::uint8_t* rgba, UINT imageWidth, UINT left, UINT top, UINT regionWidth,
                                   UINT regionHeight, UINT width, UINT height, Resample mode);

}  // namespace platform::d3d9
