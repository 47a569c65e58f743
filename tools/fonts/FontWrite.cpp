// fontwrite <font.ttf> <pixel size> <folder> <name>: rasterises a TrueType
// font with FreeType into <folder>/<name>.dds (white texels, the glyph's
// coverage as alpha, one cell per glyph in rows of 16, clear texels
// between the cells) and writes the
// matching <folder>/<name>.font4: every cell one width, glyph 0 the space,
// ranges for ASCII, Latin-1 and Cyrillic, sizes in units of the pixel size
// (a text size of N draws glyphs N pixels high), value A 0. Each glyph's
// T0, T1 are its cell's left and right u and T2, T3 its top and bottom v.
// Exit code 0 on success, 1 on failure (with a line on standard error), 2
// for a wrong command line.
#include <ft2build.h>
#include FT_FREETYPE_H

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "textures/DdsWriter.h"

namespace {

constexpr std::uint32_t kMagic = 0x239AD4FAu;
constexpr UINT kColumns = 16;
// Clear texels between two cells: a glyph drawn scaled or off the texel
// grid samples past its cell's edge, which must not reach the next cell's
// ink (an underscore's line above an "o").
constexpr UINT kGap = 2;

struct Range {
    std::uint32_t first, last;
};
// After glyph 0 (the space): printable ASCII, Latin-1, Cyrillic.
constexpr Range kRanges[] = {{0x21, 0x7E}, {0xA0, 0xFF}, {0x400, 0x45F}};

struct Glyph {
    std::vector<std::uint8_t> coverage;
    int left = 0, top = 0, width = 0, rows = 0;
    float advance = 0.0f;
};

void put32(std::string& s, std::uint32_t v) { s.append(reinterpret_cast<const char*>(&v), 4); }
void putF(std::string& s, float v) { s.append(reinterpret_cast<const char*>(&v), 4); }

UINT powerOfTwo(UINT v) {
    UINT p = 1;
    while (p < v) p <<= 1;
    return p;
}

bool writeBytes(const std::filesystem::path& path, const void* data, std::size_t size) {
    std::ofstream out(path, std::ios::binary);
    out.write(static_cast<const char*>(data), static_cast<std::streamsize>(size));
    return static_cast<bool>(out.flush());
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 5) {
        std::fprintf(stderr, "usage: fontwrite FONT.ttf PIXEL_SIZE FOLDER NAME\n");
        return 2;
    }
    const int pixels = std::atoi(argv[2]);
    if (pixels < 4 || pixels > 256) {
        std::fprintf(stderr, "fontwrite: pixel size %s out of 4..256\n", argv[2]);
        return 2;
    }
    FT_Library library = nullptr;
    FT_Face face = nullptr;
    if (FT_Init_FreeType(&library) || FT_New_Face(library, argv[1], 0, &face) ||
        FT_Set_Pixel_Sizes(face, 0, FT_UInt(pixels))) {
        std::fprintf(stderr, "fontwrite: can't open %s at %d pixels\n", argv[1], pixels);
        if (library) FT_Done_FreeType(library);
        return 1;
    }
    std::vector<std::uint32_t> codes = {0x20};
    for (const Range& r : kRanges)
        for (std::uint32_t c = r.first; c <= r.last; ++c) codes.push_back(c);
    const int ascender = int(face->size->metrics.ascender >> 6);
    const int lineHeight = std::max(1, int((face->size->metrics.height) >> 6));
    std::vector<Glyph> glyphs(codes.size());
    int cellWidth = 1;
    for (std::size_t i = 0; i < codes.size(); ++i) {
        Glyph& g = glyphs[i];
        if (FT_Load_Char(face, codes[i], FT_LOAD_RENDER)) continue;
        const FT_GlyphSlot slot = face->glyph;
        g.left = std::max(0, slot->bitmap_left);
        g.top = ascender - slot->bitmap_top;
        g.width = int(slot->bitmap.width);
        g.rows = int(slot->bitmap.rows);
        g.advance = float(slot->advance.x) / 64.0f;
        g.coverage.resize(std::size_t(g.width) * std::size_t(g.rows));
        for (int y = 0; y < g.rows; ++y)
            for (int x = 0; x < g.width; ++x)
                g.coverage[std::size_t(y * g.width + x)] = slot->bitmap.buffer[y * slot->bitmap.pitch + x];
        cellWidth = std::max({cellWidth, g.left + g.width, int(g.advance + 0.5f)});
    }
    FT_Done_Face(face);
    FT_Done_FreeType(library);

    const UINT rows = UINT((codes.size() + kColumns - 1) / kColumns);
    texture_tools::DdsImage image;
    image.format = D3DFMT_A8R8G8B8;
    const UINT strideX = UINT(cellWidth) + kGap, strideY = UINT(lineHeight) + kGap;
    image.width = powerOfTwo(kColumns * strideX);
    image.height = powerOfTwo(rows * strideY);
    std::vector<std::uint8_t> texels(std::size_t(image.width) * image.height * 4, 0);
    for (std::size_t i = 0; i < texels.size(); i += 4) texels[i] = texels[i + 1] = texels[i + 2] = 255;
    std::string font;
    put32(font, kMagic);
    put32(font, 0);
    const float unit = float(pixels);
    putF(font, float(cellWidth) / unit);
    putF(font, float(lineHeight) / unit);
    putF(font, 0.0f);
    put32(font, std::uint32_t(codes.size()));
    for (std::size_t i = 0; i < codes.size(); ++i) {
        const Glyph& g = glyphs[i];
        const UINT cellX = UINT(i % kColumns) * strideX + kGap / 2, cellY = UINT(i / kColumns) * strideY + kGap / 2;
        for (int y = 0; y < g.rows; ++y)
            for (int x = 0; x < g.width; ++x) {
                const int tx = int(cellX) + g.left + x, ty = int(cellY) + g.top + y;
                if (tx < int(cellX) || tx >= int(cellX) + cellWidth || ty < int(cellY) ||
                    ty >= int(cellY) + lineHeight)
                    continue;
                texels[(std::size_t(ty) * image.width + std::size_t(tx)) * 4 + 3] =
                    g.coverage[std::size_t(y * g.width + x)];
            }
        putF(font, float(cellX) / float(image.width));                // T0 left u
        putF(font, float(cellX + UINT(cellWidth)) / float(image.width));  // T1 right u
        putF(font, float(cellY) / float(image.height));               // T2 top v
        putF(font, float(cellY + UINT(lineHeight)) / float(image.height));  // T3 bottom v
        putF(font, g.advance / unit);
        putF(font, float(std::max(g.left + g.width, 1)) / unit);  // ink width
        putF(font, 0.0f);                                         // the cell starts at the pen
        putF(font, 0.0f);
    }
    put32(font, std::uint32_t(1 + std::size(kRanges)));
    put32(font, 0x20);
    put32(font, 0x20);
    put32(font, 0);
    put32(font, 0);
    std::uint32_t next = 1;
    for (const Range& r : kRanges) {
        put32(font, r.first);
        put32(font, r.last);
        put32(font, next);
        put32(font, 0);
        next += r.last - r.first + 1;
    }
    image.blocks.push_back(std::move(texels));
    const std::vector<std::uint8_t> dds = texture_tools::writeDds(image);
    const std::filesystem::path folder(argv[3]);
    const std::string name(argv[4]);
    if (!writeBytes(folder / (name + ".dds"), dds.data(), dds.size()) ||
        !writeBytes(folder / (name + ".font4"), font.data(), font.size())) {
        std::fprintf(stderr, "fontwrite: can't write %s into %s\n", name.c_str(), argv[3]);
        return 1;
    }
    return 0;
}
