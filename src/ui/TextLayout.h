// Text of still-frame items laid out from a bitmap font: words, lines,
// alignment and one glyph quad per character in the item's unit square.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "ui/StillFrameFrame.h"

struct FontHeader;
class FontData;
class StillFrameScriptDataItem;

// TEXT_ALIGN values; an invalid or empty name lays out as left.
enum TextAlign : std::int32_t {
    TextAlignLeft = 0,
    TextAlignRight = 1,
    TextAlignCenter = 2,
    TextAlignJustify = 3,
    TextAlignInvalid = 5,
};

enum TextWordFlag : std::uint32_t {
    TextWordLineBreak = 0x2,
    TextWordWide = 0x4,
};

struct TextGlyphEntry {
    std::uint32_t glyph = 0;
    float advance = 0.0f;
    float inkWidth = 0.0f;
};

struct TextWord {
    std::uint32_t flags = 0;
    float width = 0.0f;
    bool trailingSpace = false;
    std::vector<TextGlyphEntry> glyphs;
};

struct TextLine {
    std::int32_t words = 0;
    float fill = 0.0f;  // the used part of the wrap width, 0 to 1
};

// One glyph quad: left, top, right, bottom in the item's unit square
// (-0.5 to 0.5), then the texture coordinates T0, T2, T1, T3.
using TextQuad = StillFrameFrame;

struct TextRecord {
    std::int32_t align = TextAlignLeft;
    const FontHeader* font = nullptr;
    float scale = 0.0f;
    std::int32_t wrapWidth = 0;  // pixels; 0: one line as wide as the text
    std::vector<TextWord> words;
    std::vector<TextLine> lines;
    float size = 0.0f;
    bool ready = false;
    // Pixels: the wrap width, or the measured text when it is 0.
    float textWidth = 0.0f;
};

namespace TextLayout {

// Resolves "name.alignment" (lower-cased; "console" when null) through the
// font registry, points the item's image at the font's texture and
// prepares the record. False (logged) without a font.
bool setupFont(TextRecord& text, FontData& fonts, const char* spec, std::int32_t wrapWidth, float size,
               StillFrameScriptDataItem* item);
// Lays the text out into quads and reports its height in pixels. Narrow
// text is Windows-1251 and knows tab and newline (also written "\t " and
// "\n "); wide text is UTF-16 and breaks at spaces only.
bool layoutNarrow(TextRecord& text, std::vector<TextQuad>& quads, const char* chars, float& height);
bool layoutWide(TextRecord& text, std::vector<TextQuad>& quads, const char16_t* chars, float& height);

}  // namespace TextLayout

// The text part of an item: its layout, the glyph quads it draws, the font
// name and the text size.
struct ItemText {
    TextRecord record;
    std::vector<TextQuad> quads;
    std::string font;
    float size = 0.0f;

    // Lays out narrow (or, when narrow is null, wide) text on the item:
    // its height becomes the text's, its width the text's when positive.
    // Without a font the item shows a plain white texture. False for null
    // text and when the text cannot be laid out.
    bool setText(StillFrameScriptDataItem& item, const char* narrow, const char16_t* wide, const char* fontName,
                 float newSize);
    void release();
};
