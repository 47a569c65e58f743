// Fuzz target of the ".font4" font headers: the bytes are read as a font;
// a font that loads lays out a fixed narrow and wide text, every glyph
// quad finite.
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "foundation/DataStream.h"
#include "fuzz/FuzzTarget.h"
#include "render/FontData.h"
#include "ui/TextLayout.h"

namespace fuzzing {

namespace {

void checkQuads(const std::vector<TextQuad>& quads, const char* what) {
    for (const TextQuad& q : quads)
        for (float v : q.rect) fuzzCheck(std::isfinite(v), what);
}

}  // namespace

int fuzzFont4(const std::uint8_t* data, std::size_t size) {
    if (size > (1u << 20)) return 0;
    std::string bytes(reinterpret_cast<const char*>(data), size);
    MemoryStream in(bytes.data(), static_cast<std::int32_t>(bytes.size()));
    FontHeader font;
    const std::int32_t result = font.read(in);
    if (result < 0) {
        fuzzCheck(font.glyphs.empty() && font.ranges.empty(), "font4: a refused font kept its tables");
        forgetLog();
        return 0;
    }
    fuzzCheck(!font.glyphs.empty(), "font4: a font without glyphs loaded");
    for (std::uint32_t code : {32u, 65u, 97u, 0xE9u, 0x416u, 0xFFFFu})
        fuzzCheck(font.glyphIndex(code) < font.glyphs.size(), "font4: a character maps past the glyphs");
    for (std::int32_t wrap : {0, 120, 5000}) {
        TextRecord text;
        text.font = &font;
        text.wrapWidth = wrap;
        text.size = 16.0f;
        text.ready = true;
        std::vector<TextQuad> quads;
        float height = 0.0f;
        TextLayout::layoutNarrow(text, quads, "Hello, world\tand\nmore \\n text \xC0\xE1", height);
        checkQuads(quads, "font4: a narrow glyph quad is not finite");
        TextLayout::layoutWide(text, quads, u"Wide text \u0416\u00E9 here", height);
        checkQuads(quads, "font4: a wide glyph quad is not finite");
    }
    forgetLog();
    return 0;
}

void seedFont4(std::vector<std::string>& out) {
    // A small font: glyph 0 the space, ASCII letters, and one range of
    // Cyrillic capitals.
    auto u32 = [](std::string& s, std::uint32_t v) { s.append(reinterpret_cast<const char*>(&v), 4); };
    auto f32 = [](std::string& s, float v) { s.append(reinterpret_cast<const char*>(&v), 4); };
    for (std::uint32_t glyphs : {1u, 96u, 128u}) {
        std::string s;
        u32(s, FontHeader::kMagic);
        u32(s, 0);
        f32(s, 12.0f);
        f32(s, 20.0f);
        f32(s, 4.0f);
        u32(s, glyphs);
        for (std::uint32_t i = 0; i < glyphs; ++i)
            for (float v : {float(i) / 128.0f, float(i + 1) / 128.0f, 0.0f, 1.0f, 10.0f, 8.0f, 1.0f, 0.0f}) f32(s, v);
        std::vector<std::uint32_t> ranges = {32, 32, 0, 0};
        if (glyphs >= 96) ranges.insert(ranges.end(), {33, 126, 1, 0});
        if (glyphs >= 128) ranges.insert(ranges.end(), {0x410, 0x42F, 96, 0});
        u32(s, std::uint32_t(ranges.size() / 4));
        for (std::uint32_t v : ranges) u32(s, v);
        out.push_back(s);
    }
}

}  // namespace fuzzing
