#include "ui/TextLayout.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cmath>
#include <cstring>
#include <string>

#include "app/GameCore.h"
#include "foundation/Log.h"
#include "platform/TextCodec.h"
#include "render/FontData.h"
#include "render/RenderCore.h"
#include "script/ScriptEngine.h"
#include "ui/StillFrameItem.h"

namespace {

constexpr std::size_t kSpecLength = 255;
constexpr float kMaxWrapWidth = 1024.0f;
constexpr float kJustifyFill = 0.75f;
constexpr int kTabSpaces = 8;
// Rounding of a long line's summed fill must not break it.
constexpr float kFitTolerance = 1e-4f;

// The item's "auto" flag: its width follows its text.
constexpr std::uint32_t kAutoWidth = 0x1;

const char* const kAlignNames[] = {"left", "right", "center", "align"};

// The characters of the narrow code page's bytes from 0x80 up, taken once
// from the engine's codec (a byte without a character gives 0, which no
// font range holds: it draws the space).
const std::array<char16_t, 128>& narrowHighCodes() {
    static const std::array<char16_t, 128> table = [] {
        std::array<char16_t, 128> codes{};
        for (int i = 0; i < 128; ++i) {
            const char byte = static_cast<char>(0x80 + i);
            std::u16string one;
            if (platform::narrowToWide(std::string_view(&byte, 1), 1251, one) && one.size() == 1) codes[i] = one[0];
        }
        return codes;
    }();
    return table;
}

bool narrowForm(const std::u16string& s, std::size_t i, char16_t letter) {
    return i + 2 < s.size() && s[i] == u'\\' && s[i + 1] == letter && s[i + 2] == u' ';
}

void addGlyph(TextWord& word, const FontHeader& font, std::uint32_t code) {
    TextGlyphEntry entry;
    entry.glyph = font.glyphIndex(code);
    const FontGlyph& g = font.glyphs[entry.glyph];
    entry.advance = g.advance;
    entry.inkWidth = g.inkWidth;
    word.glyphs.push_back(entry);
    word.width += g.advance;
}

// Splits the text into words; true when any word shows something.
bool splitWords(TextRecord& text, const std::u16string& s, bool narrow) {
    const FontHeader& font = *text.font;
    // Words of the previous layout keep their glyph lists' memory.
    std::size_t used = 0;
    auto next = [&]() -> TextWord& {
        if (used == text.words.size()) text.words.emplace_back();
        TextWord& word = text.words[used++];
        word.flags = narrow ? 0u : TextWordWide;
        word.width = 0.0f;
        word.trailingSpace = false;
        word.glyphs.clear();
        return word;
    };
    bool ink = false;
    std::size_t i = 0;
    const std::size_t n = s.size();
    while (i < n) {
        while (i < n && s[i] == u' ') ++i;
        if (i >= n) break;
        TextWord& word = next();
        if (narrow && (s[i] == u'\t' || narrowForm(s, i, u't'))) {
            for (int k = 0; k < kTabSpaces; ++k) addGlyph(word, font, u' ');
            word.trailingSpace = true;
            i += s[i] == u'\t' ? 1 : 3;
            continue;
        }
        if (narrow && (s[i] == u'\n' || narrowForm(s, i, u'n'))) {
            word.flags |= TextWordLineBreak;
            i += s[i] == u'\n' ? 1 : 3;
            continue;
        }
        while (i < n) {
            if (narrow && (s[i] == u'\n' || s[i] == u'\t' || narrowForm(s, i, u'n') || narrowForm(s, i, u't')))
                break;
            const char16_t c = s[i++];
            addGlyph(word, font, c);
            if (c == u' ') {
                word.trailingSpace = true;
                break;
            }
            ink = true;
        }
    }
    text.words.resize(used);
    return ink;
}

// Drops a word's trailing space; the width it gave back, unscaled.
float dropTrailingSpace(TextWord& word, const FontHeader& font) {
    if (!word.trailingSpace || word.glyphs.empty()) return 0.0f;
    word.glyphs.pop_back();
    word.trailingSpace = false;
    const float advance = font.glyphs[0].advance;
    word.width -= advance;
    return advance;
}

void breakLines(TextRecord& text) {
    const FontHeader& font = *text.font;
    text.lines.assign(1, TextLine{});
    for (std::size_t k = 0; k < text.words.size(); ++k) {
        TextWord& word = text.words[k];
        if (word.flags & TextWordLineBreak) {
            text.lines.push_back(TextLine{1, 0.0f});
            continue;
        }
        TextLine& line = text.lines.back();
        // A word that ends the text or its line measures its last glyph by
        // its ink, as the text's width does: text measured without a wrap
        // width then fills its one line exactly.
        const bool ends = k + 1 == text.words.size() || (text.words[k + 1].flags & TextWordLineBreak);
        const float inkFix = ends && !word.glyphs.empty() ? word.glyphs.back().inkWidth - word.glyphs.back().advance
                                                           : 0.0f;
        const float w = (word.width + inkFix) * text.scale;
        if (line.fill + w <= 1.0f + kFitTolerance) {
            ++line.words;
            line.fill += w;
            continue;
        }
        if (line.words > 0) {
            TextWord& previous = text.words[k - 1];
            if (!(previous.flags & TextWordLineBreak)) line.fill -= dropTrailingSpace(previous, font) * text.scale;
            text.lines.push_back(TextLine{1, w});
            continue;
        }
        // Too wide for an empty line: alone there.
        if (k > 0) dropTrailingSpace(word, font);
        line.words = 1;
        line.fill = (word.width + inkFix) * text.scale;
    }
}

void emitQuads(const TextRecord& text, std::vector<TextQuad>& quads, float height) {
    const FontHeader& font = *text.font;
    const float lineStep = (font.lineHeight + font.lineGap) * text.size / height;
    const float lineSize = font.lineHeight * text.size / height;
    float lineTop = 0.0f;
    std::size_t k = 0;
    for (std::size_t l = 0; l < text.lines.size(); ++l) {
        const TextLine& line = text.lines[l];
        float pen = 0.0f, gap = 0.0f;
        switch (text.align) {
        case TextAlignRight: pen = 1.0f - line.fill; break;
        case TextAlignCenter: pen = (1.0f - line.fill) * 0.5f; break;
        case TextAlignJustify:
            if (l + 1 < text.lines.size() && line.words > 1 && line.fill > kJustifyFill)
                gap = std::max(0.0f, (1.0f - line.fill) / float(line.words - 1));
            break;
        default: break;
        }
        pen -= 0.5f;
        const float top = lineTop - 0.5f;
        for (std::int32_t w = 0; w < line.words && k < text.words.size(); ++w, ++k) {
            const TextWord& word = text.words[k];
            if (!(word.flags & TextWordLineBreak))
                for (const TextGlyphEntry& entry : word.glyphs) {
                    const FontGlyph& g = font.glyphs[entry.glyph];
                    TextQuad q;
                    q.rect[0] = pen + g.leftOffset * text.scale;
                    q.rect[1] = top;
                    q.rect[2] = pen + font.cellWidth * text.scale;
                    q.rect[3] = top + lineSize;
                    q.texCoords[0] = g.t[0];
                    q.texCoords[1] = g.t[2];
                    q.texCoords[2] = g.t[1];
                    q.texCoords[3] = g.t[3];
                    quads.push_back(q);
                    pen += entry.advance * text.scale;
                }
            pen += gap;
        }
        lineTop += lineStep;
    }
}

bool layout(TextRecord& text, std::vector<TextQuad>& quads, const std::u16string& s, bool narrow, float& height) {
    quads.clear();
    text.lines.clear();
    if (!text.font) return engineLog().error("Font not initialized. Cannot setup text");
    if (!splitWords(text, s, narrow)) {
        text.words.clear();
        if (gameCore.script) gameCore.script->logCallPosition();
        engineLog().error("Try to show EMPTY string (spaces or tabs only)");
        height = 0.0f;
        text.textWidth = 0.0f;
        return true;
    }
    const float wrap = std::min(float(text.wrapWidth), kMaxWrapWidth);
    float total = 0.0f;
    for (std::size_t k = 0; k < text.words.size(); ++k) {
        const TextWord& word = text.words[k];
        total += word.width;
        const bool ends = k + 1 == text.words.size() || (text.words[k + 1].flags & TextWordLineBreak);
        if (ends && !word.glyphs.empty()) total += word.glyphs.back().inkWidth - word.glyphs.back().advance;
    }
    // The text's width in pixels: the wrap width, or the measured text at
    // its size.
    text.textWidth = wrap > 0.0f ? wrap : total * text.size;
    height = 0.0f;
    // Nothing measurable: nothing to draw, and no scale to divide by.
    if (!(text.textWidth > 0.0f) || !std::isfinite(text.textWidth) || !(text.size > 0.0f)) return true;
    text.scale = text.size / text.textWidth;
    breakLines(text);
    const FontHeader& font = *text.font;
    height = float(text.lines.size()) * (font.lineHeight + font.lineGap) * text.size;
    if (!(height > 0.0f)) return true;
    quads.reserve(s.size());
    emitQuads(text, quads, height);
    return true;
}

}  // namespace

namespace TextLayout {

bool setupFont(TextRecord& text, FontData& fonts, const char* spec, std::int32_t wrapWidth, float size,
               StillFrameScriptDataItem* item) {
    std::string name(spec ? spec : "console", spec ? std::min(std::strlen(spec), kSpecLength) : 7);
    std::transform(name.begin(), name.end(), name.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    text.align = TextAlignLeft;
    if (const std::size_t dot = name.find('.'); dot != std::string::npos) {
        const std::string alignName = name.substr(dot + 1);
        text.align = TextAlignInvalid;
        for (std::int32_t i = 0; i < 4; ++i)
            if (alignName == kAlignNames[i]) text.align = i;
        if (text.align == TextAlignInvalid && !alignName.empty())
            engineLog().error("Invalid TEXT_ALIGN map name [%s]", alignName.c_str());
        name.resize(dot);
    }
    Y3FontHandler* font = fonts.acquire(name.c_str());
    text.font = font ? font->header() : nullptr;
    if (!text.font) {
        if (spec) engineLog().error("Can`t find font [%s]", name.c_str());
    } else if (item) {
        item->image.reset();
        item->image.setSource(*item, name.c_str(), 0);
    }
    text.wrapWidth = wrapWidth;
    text.size = size;
    text.ready = true;
    return text.font != nullptr;
}

bool layoutNarrow(TextRecord& text, std::vector<TextQuad>& quads, const char* chars, float& height) {
    std::u16string wide(chars ? std::strlen(chars) : 0, u' ');
    const std::array<char16_t, 128>& high = narrowHighCodes();
    for (std::size_t i = 0; i < wide.size(); ++i) {
        const auto byte = static_cast<unsigned char>(chars[i]);
        wide[i] = byte < 0x80 ? char16_t(byte) : high[byte - 0x80];
    }
    return layout(text, quads, wide, true, height);
}

bool layoutWide(TextRecord& text, std::vector<TextQuad>& quads, const char16_t* chars, float& height) {
    return layout(text, quads, chars ? std::u16string(chars) : std::u16string(), false, height);
}

}  // namespace TextLayout

// ---- the item's text ----

bool ItemText::setText(StillFrameScriptDataItem& item, const char* narrow, const char16_t* wide,
                       const char* fontName, float newSize) {
    if (newSize > 0.0f) size = newSize;
    if (fontName) font.assign(fontName, std::min(std::strlen(fontName), std::size_t(127)));
    quads.clear();
    item.textGlyphs = 0;
    if (!narrow && !wide)
        return engineLog().scriptError("Stillframe [%s] can't be set by NULL text ptr", item.name.c_str());
    if (item.autoFlags & kAutoWidth) item.width = 0.0f;
    bool laidOut = false;
    if (gameCore.render &&
        TextLayout::setupFont(record, gameCore.render->fonts(), font.empty() ? nullptr : font.c_str(),
                              std::int32_t(std::lround(item.width)), size, &item)) {
        float height = 0.0f;
        laidOut = narrow ? TextLayout::layoutNarrow(record, quads, narrow, height)
                         : TextLayout::layoutWide(record, quads, wide, height);
        if (laidOut) {
            item.height = height;
            if (record.textWidth > 0.0f) item.width = record.textWidth;
            item.textGlyphs = std::int32_t(quads.size());
        }
    }
    if (!laidOut) {
        quads.clear();
        item.image.reset();
        if (!item.image.setSource(item, "ProcWhiteMap", 0)) release();
    }
    return laidOut;
}

void ItemText::release() {
    record = TextRecord{};
    quads.clear();
    quads.shrink_to_fit();
}
