// A small font written by the tests: glyph 0 the space (advance 4),
// 'a'..'z' glyphs 1..26 and 'A'..'Z' 27..52 (advance 10, ink 8, left
// offset 1), cells 12 wide, lines 20 high with a gap of 4.
#pragma once

#include <cstdint>
#include <string>

#include "render/FontData.h"

namespace font_test {

struct Writer {
    std::string s;
    Writer& u32(std::uint32_t v) {
        s.append(reinterpret_cast<const char*>(&v), 4);
        return *this;
    }
    Writer& f32(float v) {
        s.append(reinterpret_cast<const char*>(&v), 4);
        return *this;
    }
};

// Glyph i's texture coordinates are (i / 100, i / 100 + 0.005, 0.2, 0.3).
struct FontSpec {
    std::uint32_t magic = FontHeader::kMagic;
    float cellWidth = 12.0f, lineHeight = 20.0f;
    std::uint32_t glyphCount = 53;
    std::uint32_t lowerFirstGlyph = 1;
    // Cyrillic capitals 0x410..0x419 drawn with the Latin capitals' glyphs.
    bool cyrillic = false;
    // Every glyph shows the whole texture: T0, T1 = 0, 1 and T2, T3 = 0, 1.
    bool wholeTexture = false;
};

inline std::string fontBytes(const FontSpec& spec = {}) {
    Writer w;
    w.u32(spec.magic).u32(0).f32(spec.cellWidth).f32(spec.lineHeight).f32(4.0f).u32(spec.glyphCount);
    for (std::uint32_t i = 0; i < 53; ++i) {
        const float t0 = float(i) / 100.0f;
        if (spec.wholeTexture) w.f32(0.0f).f32(1.0f).f32(0.0f).f32(1.0f);
        else w.f32(t0).f32(t0 + 0.005f).f32(0.2f).f32(0.3f);
        if (i == 0) w.f32(4.0f).f32(4.0f).f32(0.0f).f32(0.0f);
        else w.f32(10.0f).f32(8.0f).f32(1.0f).f32(0.0f);
    }
    w.u32(spec.cyrillic ? 4 : 3);
    w.u32(' ').u32(' ').u32(0).u32(0);
    w.u32('a').u32('z').u32(spec.lowerFirstGlyph).u32(0);
    w.u32('A').u32('Z').u32(27).u32(0);
    if (spec.cyrillic) w.u32(0x410).u32(0x419).u32(27).u32(0);
    return w.s;
}

}  // namespace font_test
