// Image files in memory for the D3DX layer: DDS and TGA read into levels of
// a Direct3D format, PNG written from RGBA8. Every size from a header is
// checked against the data (64-bit sums) before anything is read.
#pragma once

#include "platform/d3d9/D3DX9.h"

#include <cstdint>
#include <string>
#include <vector>

namespace platform::d3d9 {

struct ImageFile {
    D3DXIMAGE_FILEFORMAT fileFormat = D3DXIFF_DDS;
    D3DFORMAT format = D3DFMT_UNKNOWN;
    UINT width = 0, height = 0, levels = 1, faces = 1;
    bool cube = false;
    // faces x levels blocks, face-major, rows packed at rowPitch(format, w).
    std::vector<std::vector<std::uint8_t>> data;

    const std::vector<std::uint8_t>& level(UINT face, UINT index) const { return data[face * levels + index]; }
};

// Reads a DDS or TGA file; headerOnly leaves data empty (but still checks
// that the file holds the data its header promises). False with why set.
bool readImageFile(const void* bytes, std::size_t size, ImageFile& image, bool headerOnly, std::string& why);

// Writes width x height RGBA8 texels as a PNG, with alpha or as RGB.
bool writePng(const std::uint8_t* rgba, UINT width, UINT height, bool alpha, std::vector<std::uint8_t>& png);

}  // namespace platform::d3d9
