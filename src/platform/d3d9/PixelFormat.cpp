#include "platform/d3d9/PixelFormat.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

namespace platform::d3d9 {

namespace {

std::uint32_t expand(std::uint32_t value, int bits) {
    if (bits == 0) return 255;
    const std::uint32_t max = (1u << bits) - 1;
    return (value * 255 + max / 2) / max;
}

std::uint32_t shrink(std::uint32_t value, int bits) {
    const std::uint32_t max = (1u << bits) - 1;
    return (value * max + 127) / 255;
}

std::uint32_t readTexel(const std::uint8_t* p, UINT bytes) {
    std::uint32_t v = 0;
    for (UINT i = 0; i < bytes; ++i) v |= std::uint32_t(p[i]) << (8 * i);
    return v;
}

void writeTexel(std::uint8_t* p, UINT bytes, std::uint32_t v) {
    for (UINT i = 0; i < bytes; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

// Channel layout of a packed format: shift and bit count of A, R, G, B.
struct Packed {
    int aShift, aBits, rShift, rBits, gShift, gBits, bShift, bBits;
};

bool packedLayout(D3DFORMAT format, Packed& p) {
    switch (format) {
        case D3DFMT_A8R8G8B8: p = {24, 8, 16, 8, 8, 8, 0, 8}; return true;
        case D3DFMT_X8R8G8B8:
        case D3DFMT_R8G8B8: p = {0, 0, 16, 8, 8, 8, 0, 8}; return true;
        case D3DFMT_R5G6B5: p = {0, 0, 11, 5, 5, 6, 0, 5}; return true;
        case D3DFMT_X1R5G5B5: p = {0, 0, 10, 5, 5, 5, 0, 5}; return true;
        case D3DFMT_A1R5G5B5: p = {15, 1, 10, 5, 5, 5, 0, 5}; return true;
        case D3DFMT_A4R4G4B4: p = {12, 4, 8, 4, 4, 4, 0, 4}; return true;
        case D3DFMT_X4R4G4B4: p = {0, 0, 8, 4, 4, 4, 0, 4}; return true;
        case D3DFMT_R3G3B2: p = {0, 0, 5, 3, 2, 3, 0, 2}; return true;
        case D3DFMT_A8R3G3B2: p = {8, 8, 5, 3, 2, 3, 0, 2}; return true;
        case D3DFMT_A2R10G10B10: p = {30, 2, 20, 10, 10, 10, 0, 10}; return true;
        case D3DFMT_A2B10G10R10: p = {30, 2, 0, 10, 10, 10, 20, 10}; return true;
        default: return false;
    }
}

std::uint32_t field(std::uint32_t v, int shift, int bits) { return bits ? (v >> shift) & ((1u << bits) - 1) : 0; }

void decodeTexel(D3DFORMAT format, const Packed& layout, UINT bytes, const std::uint8_t* p, std::uint8_t* out) {
    if (format == D3DFMT_L8) {
        out[0] = out[1] = out[2] = p[0];
        out[3] = 255;
        return;
    }
    if (format == D3DFMT_A8) {
        out[0] = out[1] = out[2] = 0;
        out[3] = p[0];
        return;
    }
    const std::uint32_t v = readTexel(p, bytes);
    out[0] = static_cast<std::uint8_t>(expand(field(v, layout.rShift, layout.rBits), layout.rBits));
    out[1] = static_cast<std::uint8_t>(expand(field(v, layout.gShift, layout.gBits), layout.gBits));
    out[2] = static_cast<std::uint8_t>(expand(field(v, layout.bShift, layout.bBits), layout.bBits));
    out[3] = static_cast<std::uint8_t>(layout.aBits ? expand(field(v, layout.aShift, layout.aBits), layout.aBits) : 255);
}

std::uint8_t luminance(const std::uint8_t* rgba) {
    if (rgba[0] == rgba[1] && rgba[1] == rgba[2]) return rgba[0];
    return static_cast<std::uint8_t>((rgba[0] * 54u + rgba[1] * 183u + rgba[2] * 19u + 128u) >> 8);
}

void encodeTexel(D3DFORMAT format, const Packed& layout, UINT bytes, const std::uint8_t* rgba, std::uint8_t* p) {
    if (format == D3DFMT_L8) {
        p[0] = luminance(rgba);
        return;
    }
    if (format == D3DFMT_A8) {
        p[0] = rgba[3];
        return;
    }
    std::uint32_t v = (shrink(rgba[0], layout.rBits) << layout.rShift) | (shrink(rgba[1], layout.gBits) << layout.gShift) |
                      (shrink(rgba[2], layout.bBits) << layout.bShift);
    if (layout.aBits)
        v |= shrink(rgba[3], layout.aBits) << layout.aShift;
    else if (bytes == 4)
        v |= 0xFF000000u;  // the unused byte of X8R8G8B8 reads as opaque
    writeTexel(p, bytes, v);
}

// DXT colour block: two 5:6:5 end points and 2-bit indices.
void decodeColorBlock(const std::uint8_t* block, bool allowTransparent, std::uint8_t out[16][4]) {
    const std::uint32_t c0 = block[0] | (block[1] << 8), c1 = block[2] | (block[3] << 8);
    std::uint8_t palette[4][4];
    auto unpack = [](std::uint32_t c, std::uint8_t* o) {
        o[0] = static_cast<std::uint8_t>(expand((c >> 11) & 31, 5));
        o[1] = static_cast<std::uint8_t>(expand((c >> 5) & 63, 6));
        o[2] = static_cast<std::uint8_t>(expand(c & 31, 5));
        o[3] = 255;
    };
    unpack(c0, palette[0]);
    unpack(c1, palette[1]);
    const bool four = c0 > c1 || !allowTransparent;
    for (int i = 0; i < 3; ++i) {
        if (four) {
            palette[2][i] = static_cast<std::uint8_t>((2 * palette[0][i] + palette[1][i] + 1) / 3);
            palette[3][i] = static_cast<std::uint8_t>((palette[0][i] + 2 * palette[1][i] + 1) / 3);
        } else {
            palette[2][i] = static_cast<std::uint8_t>((palette[0][i] + palette[1][i]) / 2);
            palette[3][i] = 0;
        }
    }
    palette[2][3] = 255;
    palette[3][3] = four ? 255 : 0;
    const std::uint32_t indices = readTexel(block + 4, 4);
    for (int t = 0; t < 16; ++t) std::memcpy(out[t], palette[(indices >> (2 * t)) & 3], 4);
}

void decodeAlphaBlock(const std::uint8_t* block, std::uint8_t out[16][4]) {
    const std::uint32_t a0 = block[0], a1 = block[1];
    std::uint32_t palette[8] = {a0, a1};
    if (a0 > a1) {
        for (int i = 1; i < 7; ++i) palette[i + 1] = ((7 - i) * a0 + i * a1 + 3) / 7;
    } else {
        for (int i = 1; i < 5; ++i) palette[i + 1] = ((5 - i) * a0 + i * a1 + 2) / 5;
        palette[6] = 0;
        palette[7] = 255;
    }
    std::uint64_t bits = 0;
    for (int i = 0; i < 6; ++i) bits |= std::uint64_t(block[2 + i]) << (8 * i);
    for (int t = 0; t < 16; ++t) out[t][3] = static_cast<std::uint8_t>(palette[(bits >> (3 * t)) & 7]);
}

std::uint32_t to565(const std::uint8_t* c) {
    return (shrink(c[0], 5) << 11) | (shrink(c[1], 6) << 5) | shrink(c[2], 5);
}

int distance(const std::uint8_t* a, const std::uint8_t* b) {
    int d = 0;
    for (int i = 0; i < 3; ++i) d += (a[i] - b[i]) * (a[i] - b[i]);
    return d;
}

void encodeColorBlock(const std::uint8_t texels[16][4], bool dxt1, std::uint8_t* block) {
    std::uint8_t lo[3] = {255, 255, 255}, hi[3] = {0, 0, 0};
    bool transparent = false;
    for (int t = 0; t < 16; ++t) {
        if (dxt1 && texels[t][3] < 128) {
            transparent = true;
            continue;
        }
        for (int i = 0; i < 3; ++i) {
            lo[i] = std::min(lo[i], texels[t][i]);
            hi[i] = std::max(hi[i], texels[t][i]);
        }
    }
    std::uint32_t c0 = to565(hi), c1 = to565(lo);
    if (transparent ? c0 > c1 : c0 < c1) std::swap(c0, c1);
    block[0] = static_cast<std::uint8_t>(c0);
    block[1] = static_cast<std::uint8_t>(c0 >> 8);
    block[2] = static_cast<std::uint8_t>(c1);
    block[3] = static_cast<std::uint8_t>(c1 >> 8);
    // The palette of these end points: a block whose first four texels take indices 0 to 3.
    std::uint8_t palette[16][4];
    const std::uint8_t probe[8] = {block[0], block[1], block[2], block[3], 0xE4, 0, 0, 0};
    decodeColorBlock(probe, dxt1, palette);
    std::uint8_t entries[4][4];
    for (int i = 0; i < 4; ++i) std::memcpy(entries[i], palette[i], 4);
    const bool threeColour = dxt1 && c0 <= c1;
    std::uint32_t indices = 0;
    for (int t = 0; t < 16; ++t) {
        std::uint32_t best = 0;
        if (threeColour && texels[t][3] < 128) {
            best = 3;
        } else {
            int bestDistance = 1 << 30;
            for (std::uint32_t i = 0; i < (threeColour ? 3u : 4u); ++i) {
                const int d = distance(texels[t], entries[i]);
                if (d < bestDistance) {
                    bestDistance = d;
                    best = i;
                }
            }
        }
        indices |= best << (2 * t);
    }
    writeTexel(block + 4, 4, indices);
}

void encodeAlphaBlock(const std::uint8_t texels[16][4], std::uint8_t* block) {
    std::uint8_t lo = 255, hi = 0;
    for (int t = 0; t < 16; ++t) {
        lo = std::min(lo, texels[t][3]);
        hi = std::max(hi, texels[t][3]);
    }
    block[0] = hi;
    block[1] = lo;
    std::uint32_t palette[8] = {hi, lo};
    for (int i = 1; i < 7; ++i) palette[i + 1] = ((7 - i) * hi + i * lo + 3) / 7;
    std::uint64_t bits = 0;
    for (int t = 0; t < 16; ++t) {
        std::uint64_t best = 0;
        if (hi != lo) {
            int bestDistance = 1 << 30;
            for (int i = 0; i < 8; ++i) {
                const int d = std::abs(int(texels[t][3]) - int(palette[i]));
                if (d < bestDistance) {
                    bestDistance = d;
                    best = std::uint64_t(i);
                }
            }
        }
        bits |= best << (3 * t);
    }
    for (int i = 0; i < 6; ++i) block[2 + i] = static_cast<std::uint8_t>(bits >> (8 * i));
}

}  // namespace

FormatInfo formatInfo(D3DFORMAT format) {
    switch (format) {
        case D3DFMT_A8R8G8B8:
        case D3DFMT_A2R10G10B10:
        case D3DFMT_A2B10G10R10: return {true, false, false, true, 4};
        case D3DFMT_X8R8G8B8: return {true, false, false, false, 4};
        case D3DFMT_R8G8B8: return {true, false, false, false, 3};
        case D3DFMT_R5G6B5:
        case D3DFMT_X1R5G5B5:
        case D3DFMT_X4R4G4B4: return {true, false, false, false, 2};
        case D3DFMT_A1R5G5B5:
        case D3DFMT_A4R4G4B4:
        case D3DFMT_A8R3G3B2: return {true, false, false, true, 2};
        case D3DFMT_R3G3B2:
        case D3DFMT_L8: return {true, false, false, false, 1};
        case D3DFMT_A8: return {true, false, false, true, 1};
        case D3DFMT_D16:
        case D3DFMT_D15S1: return {true, false, true, false, 2};
        case D3DFMT_D24S8:
        case D3DFMT_D24X8:
        case D3DFMT_D24X4S4:
        case D3DFMT_D32: return {true, false, true, false, 4};
        case D3DFMT_DXT1: return {true, true, false, true, 8};
        case D3DFMT_DXT2:
        case D3DFMT_DXT3:
        case D3DFMT_DXT4:
        case D3DFMT_DXT5: return {true, true, false, true, 16};
        default: return {};
    }
}

bool isDxt(D3DFORMAT format) { return formatInfo(format).compressed; }

UINT rowPitch(D3DFORMAT format, UINT width) {
    const FormatInfo info = formatInfo(format);
    return info.compressed ? ((width + 3) / 4) * info.bytes : width * info.bytes;
}

UINT rowCount(D3DFORMAT format, UINT height) { return isDxt(format) ? (height + 3) / 4 : height; }

std::uint64_t levelBytes(D3DFORMAT format, UINT width, UINT height) {
    const FormatInfo info = formatInfo(format);
    if (!info.known) return 0;
    const std::uint64_t w = info.compressed ? (std::uint64_t(width) + 3) / 4 : width;
    const std::uint64_t h = info.compressed ? (std::uint64_t(height) + 3) / 4 : height;
    return w * h * info.bytes;
}

UINT fullChain(UINT width, UINT height) {
    UINT levels = 1;
    for (UINT side = std::max(width, height); side > 1; side >>= 1) ++levels;
    return levels;
}

bool decodeLevel(D3DFORMAT format, const std::uint8_t* source, UINT pitch, UINT width, UINT height,
                 std::vector<std::uint8_t>& rgba) {
    const FormatInfo info = formatInfo(format);
    if (!info.known || info.depth) return false;
    rgba.assign(std::size_t(width) * height * 4, 0);
    if (info.compressed) {
        for (UINT by = 0; by < (height + 3) / 4; ++by)
            for (UINT bx = 0; bx < (width + 3) / 4; ++bx) {
                const std::uint8_t* block = source + std::size_t(by) * pitch + std::size_t(bx) * info.bytes;
                std::uint8_t texels[16][4];
                if (format == D3DFMT_DXT1) {
                    decodeColorBlock(block, true, texels);
                } else {
                    decodeColorBlock(block + 8, false, texels);
                    if (format == D3DFMT_DXT2 || format == D3DFMT_DXT3) {
                        for (int t = 0; t < 16; ++t) {
                            const std::uint32_t nibble = (block[t / 2] >> (4 * (t & 1))) & 15;
                            texels[t][3] = static_cast<std::uint8_t>(nibble * 17);
                        }
                    } else {
                        decodeAlphaBlock(block, texels);
                    }
                }
                for (int t = 0; t < 16; ++t) {
                    const UINT x = bx * 4 + t % 4, y = by * 4 + t / 4;
                    if (x < width && y < height) std::memcpy(&rgba[(std::size_t(y) * width + x) * 4], texels[t], 4);
                }
            }
        return true;
    }
    Packed layout{};
    if (format != D3DFMT_L8 && format != D3DFMT_A8 && !packedLayout(format, layout)) return false;
    for (UINT y = 0; y < height; ++y)
        for (UINT x = 0; x < width; ++x)
            decodeTexel(format, layout, info.bytes, source + std::size_t(y) * pitch + std::size_t(x) * info.bytes,
                        &rgba[(std::size_t(y) * width + x) * 4]);
    return true;
}

bool encodeLevel(D3DFORMAT format, const std::uint8_t* rgba, UINT width, UINT height, std::uint8_t* target,
                 UINT pitch) {
    const FormatInfo info = formatInfo(format);
    if (!info.known || info.depth) return false;
    if (info.compressed) {
        for (UINT by = 0; by < (height + 3) / 4; ++by)
            for (UINT bx = 0; bx < (width + 3) / 4; ++bx) {
                std::uint8_t texels[16][4];
                for (int t = 0; t < 16; ++t) {
                    const UINT x = std::min(bx * 4 + t % 4, width - 1), y = std::min(by * 4 + t / 4, height - 1);
                    std::memcpy(texels[t], &rgba[(std::size_t(y) * width + x) * 4], 4);
                }
                std::uint8_t* block = target + std::size_t(by) * pitch + std::size_t(bx) * info.bytes;
                if (format == D3DFMT_DXT1) {
                    encodeColorBlock(texels, true, block);
                } else {
                    encodeColorBlock(texels, false, block + 8);
                    if (format == D3DFMT_DXT2 || format == D3DFMT_DXT3) {
                        std::memset(block, 0, 8);
                        for (int t = 0; t < 16; ++t)
                            block[t / 2] |= static_cast<std::uint8_t>(((texels[t][3] + 8) / 17) << (4 * (t & 1)));
                    } else {
                        encodeAlphaBlock(texels, block);
                    }
                }
            }
        return true;
    }
    Packed layout{};
    if (format != D3DFMT_L8 && format != D3DFMT_A8 && !packedLayout(format, layout)) return false;
    for (UINT y = 0; y < height; ++y)
        for (UINT x = 0; x < width; ++x)
            encodeTexel(format, layout, info.bytes, &rgba[(std::size_t(y) * width + x) * 4],
                        target + std::size_t(y) * pitch + std::size_t(x) * info.bytes);
    return true;
}

void encodeColor(D3DFORMAT format, D3DCOLOR color, std::uint8_t* texel) {
    const std::uint8_t rgba[4] = {static_cast<std::uint8_t>(color >> 16), static_cast<std::uint8_t>(color >> 8),
                                  static_cast<std::uint8_t>(color), static_cast<std::uint8_t>(color >> 24)};
    encodeLevel(format, rgba, 1, 1, texel, formatInfo(format).bytes);
}

void encodeDepth(D3DFORMAT format, float depth, DWORD stencil, std::uint8_t* texel) {
    depth = std::clamp(depth, 0.0f, 1.0f);
    switch (format) {
        case D3DFMT_D16: writeTexel(texel, 2, static_cast<std::uint32_t>(depth * 65535.0f + 0.5f)); break;
        case D3DFMT_D15S1:
            writeTexel(texel, 2, (static_cast<std::uint32_t>(depth * 32767.0f + 0.5f) << 1) | (stencil & 1));
            break;
        case D3DFMT_D32: writeTexel(texel, 4, static_cast<std::uint32_t>(double(depth) * 4294967295.0 + 0.5)); break;
        default:
            writeTexel(texel, 4, (static_cast<std::uint32_t>(depth * 16777215.0f + 0.5f) << 8) | (stencil & 0xFF));
            break;
    }
}

std::vector<std::uint8_t> resample(const std::uint8_t* rgba, UINT imageWidth, UINT left, UINT top, UINT regionWidth,
                                   UINT regionHeight, UINT width, UINT height, Resample mode) {
    std::vector<std::uint8_t> out(std::size_t(width) * height * 4, 0);
    auto at = [&](INT x, INT y) {
        x = std::clamp<INT>(x, 0, INT(regionWidth) - 1);
        y = std::clamp<INT>(y, 0, INT(regionHeight) - 1);
        return rgba + ((std::size_t(top) + y) * imageWidth + left + x) * 4;
    };
    for (UINT y = 0; y < height; ++y)
        for (UINT x = 0; x < width; ++x) {
            std::uint8_t* o = &out[(std::size_t(y) * width + x) * 4];
            if (mode == Resample::Copy) {
                if (x < regionWidth && y < regionHeight) std::memcpy(o, at(INT(x), INT(y)), 4);
                continue;
            }
            const double fx = (x + 0.5) * regionWidth / width - 0.5, fy = (y + 0.5) * regionHeight / height - 0.5;
            if (mode == Resample::Point) {
                std::memcpy(o, at(INT(std::floor(fx + 0.5)), INT(std::floor(fy + 0.5))), 4);
                continue;
            }
            const INT x0 = INT(std::floor(fx)), y0 = INT(std::floor(fy));
            const double ax = fx - x0, ay = fy - y0;
            for (int c = 0; c < 4; ++c) {
                const double upper = at(x0, y0)[c] * (1 - ax) + at(x0 + 1, y0)[c] * ax;
                const double lower = at(x0, y0 + 1)[c] * (1 - ax) + at(x0 + 1, y0 + 1)[c] * ax;
                o[c] = static_cast<std::uint8_t>(std::lround(upper * (1 - ay) + lower * ay));
            }
        }
    return out;
}

}  // namespace platform::d3d9
