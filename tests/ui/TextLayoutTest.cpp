// Fonts and text layout: the ".font4" reader and its refusals, the font
// registry with alignment names, words, line breaks, alignments and the
// glyph quads, and text set on an item.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "foundation/DataStream.h"
#include "render/FontData.h"
#include "render/RenderCore.h"
#include "render/TextureTestSupport.h"
#include "resources/ResourceTestSupport.h"
#include "ui/StillFrameData.h"
#include "ui/TextLayout.h"
#include "ui/FontTestSupport.h"

namespace {

using font_test::FontSpec;
using font_test::fontBytes;

std::int32_t readFont(const std::string& bytes, FontHeader& header) {
    MemoryStream stream;
    stream.write(bytes.data(), std::int32_t(bytes.size()));
    stream.setPosition(0);
    return header.read(stream);
}

TEST(FontHeaderTest, ReadsAFontAndRefusesBadOnes) {
    FontHeader header;
    ASSERT_EQ(readFont(fontBytes(), header), std::int32_t(fontBytes().size()));
    EXPECT_EQ(header.glyphIndex('c'), 3u);
    EXPECT_EQ(header.glyphIndex('C'), 29u);
    EXPECT_EQ(header.glyphIndex('?'), 0u);  // outside every range: the space
    struct Case {
        const char* what;
        FontSpec spec;
        std::size_t cut;
    };
    const auto with = [](auto change) {
        FontSpec s;
        change(s);
        return s;
    };
    const Case cases[] = {
        {"magic", with([](FontSpec& s) { s.magic = 0x239AD4FBu; }), 0},
        {"range past the glyphs", with([](FontSpec& s) { s.lowerFirstGlyph = 30; }), 0},
        {"glyph count past the bytes", with([](FontSpec& s) { s.glyphCount = 0x7FFFFFFFu; }), 0},
        {"glyph count beyond the ranges' glyphs", with([](FontSpec& s) { s.glyphCount = 40; }), 0},
        {"zero cell width", with([](FontSpec& s) { s.cellWidth = 0.0f; }), 0},
        {"infinite line height", with([](FontSpec& s) { s.lineHeight = INFINITY; }), 0},
        {"negative line height", with([](FontSpec& s) { s.lineHeight = -2.0f; }), 0},
        {"cut in the ranges", FontSpec{}, 20},
    };
    for (const Case& c : cases) {
        std::string bytes = fontBytes(c.spec);
        bytes.resize(bytes.size() - c.cut);
        FontHeader bad;
        EXPECT_LT(readFont(bytes, bad), 0) << c.what;
        EXPECT_TRUE(bad.glyphs.empty()) << c.what;
    }
}

TEST(NarrowTextTest, BytesFromTheCodePageReachTheFontAsTheirCharacters) {
    FontSpec spec;
    spec.cyrillic = true;
    FontHeader font;
    ASSERT_GT(readFont(fontBytes(spec), font), 0);
    TextRecord record;
    record.font = &font;
    record.size = 1.0f;
    record.wrapWidth = 100;
    std::vector<TextQuad> quads;
    float height = 0.0f;
    // Windows-1251: 0xC0 and 0xC9 are the capitals U+0410 and U+0419.
    ASSERT_TRUE(TextLayout::layoutNarrow(record, quads, "\xC0\xC9", height));
    ASSERT_EQ(record.words.size(), 1u);
    ASSERT_EQ(record.words[0].glyphs.size(), 2u);
    EXPECT_EQ(record.words[0].glyphs[0].glyph, 27u);
    EXPECT_EQ(record.words[0].glyphs[1].glyph, 36u);
    ASSERT_TRUE(TextLayout::layoutWide(record, quads, u"\u0410", height));
    EXPECT_EQ(record.words[0].glyphs[0].glyph, 27u);
}

class TextLayoutTest : public texture_test::TextureTest {
protected:
    void SetUp() override {
        TextureTest::SetUp();
        ASSERT_TRUE(packages.built());
    }
    StillFrameData& data() { return render_->stillFrames().data; }
    FontData& fonts() { return render_->fonts(); }
    bool logged(const std::string& text) {
        for (const LogRecord& r : packages.log().records())
            if (r.text.find(text) != std::string::npos) return true;
        return false;
    }
    // Lays narrow text out with "menu" at size 1 in a wrap width.
    std::vector<TextQuad> lay(const char* text, std::int32_t wrap, const char* spec = "menu") {
        EXPECT_TRUE(TextLayout::setupFont(record, fonts(), spec, wrap, 1.0f, nullptr));
        std::vector<TextQuad> quads;
        float height = -1.0f;
        EXPECT_TRUE(TextLayout::layoutNarrow(record, quads, text, height));
        return quads;
    }

    resource_tests::ScopedPackages packages{{resource_tests::storedFile(".font4", "menu", fontBytes())}};
    TextRecord record;
};

TEST_F(TextLayoutTest, FontSpecsNameTheFontAndTheAlignment) {
    struct Case {
        const char* spec;
        std::int32_t align;
        const char* message;
    };
    const Case cases[] = {
        {"MENU.center", TextAlignCenter, nullptr},
        {"menu.middle", TextAlignInvalid, "Invalid TEXT_ALIGN map name [middle]"},
        {"menu.", TextAlignInvalid, nullptr},
        {"menu", TextAlignLeft, nullptr},
        {"menu.align", TextAlignJustify, nullptr},
    };
    for (const Case& c : cases) {
        ASSERT_TRUE(TextLayout::setupFont(record, fonts(), c.spec, 100, 1.0f, nullptr)) << c.spec;
        EXPECT_EQ(record.align, c.align) << c.spec;
        if (c.message) EXPECT_TRUE(logged(c.message)) << c.spec;
    }
    // "menu.middle" lays out as left.
    const std::vector<TextQuad> quads = lay("ab", 100, "menu.middle");
    ASSERT_EQ(quads.size(), 2u);
    EXPECT_FLOAT_EQ(quads[0].rect[0], -0.49f);
    EXPECT_FALSE(TextLayout::setupFont(record, fonts(), nullptr, 100, 1.0f, nullptr));
    EXPECT_TRUE(logged("Fail while create font data [console]: Resource file [console.font4] not found"));
    EXPECT_FALSE(TextLayout::setupFont(record, fonts(), "nothing", 100, 1.0f, nullptr));
    EXPECT_TRUE(logged("Can`t find font [nothing]"));
}

TEST_F(TextLayoutTest, GlyphQuadsOfATwoLetterWord) {
    // Scale 1 / 100; line height 20 of the text's 24.
    const std::vector<TextQuad> quads = lay("ab", 100);
    ASSERT_EQ(quads.size(), 2u);
    const float expected[2][8] = {{-0.49f, -0.5f, -0.38f, -0.5f + 20.0f / 24.0f, 0.01f, 0.2f, 0.015f, 0.3f},
                                  {-0.39f, -0.5f, -0.28f, -0.5f + 20.0f / 24.0f, 0.02f, 0.2f, 0.025f, 0.3f}};
    for (int q = 0; q < 2; ++q)
        for (int i = 0; i < 8; ++i) {
            const float got = i < 4 ? quads[q].rect[i] : quads[q].texCoords[i - 4];
            EXPECT_NEAR(got, expected[q][i], 1e-5f) << q << " " << i;
        }
    EXPECT_FLOAT_EQ(record.textWidth, 100.0f);
}

TEST_F(TextLayoutTest, WordsBreakIntoLines) {
    struct Case {
        const char* text;
        std::int32_t wrap;
        std::vector<float> fills;
    };
    const Case cases[] = {
        {"a\nb", 100, {0.08f, 0.08f}},  // a word ending its line counts its last glyph's ink
        {"a\\n b", 100, {0.08f, 0.08f}},
        {"abcdefgh", 30, {78.0f / 30.0f}},                 // alone and over-full
        {"ab abcdefgh cd", 30, {20.0f / 30.0f, 80.0f / 30.0f, 18.0f / 30.0f}},  // spaces eaten at the breaks
        {"aaaa aaaa aaaa", 100, {0.84f, 0.38f}},
        {"\tx", 100, {0.40f}},  // a tab is eight spaces
    };
    for (const Case& c : cases) {
        lay(c.text, c.wrap);
        ASSERT_EQ(record.lines.size(), c.fills.size()) << c.text;
        for (std::size_t l = 0; l < c.fills.size(); ++l) EXPECT_NEAR(record.lines[l].fill, c.fills[l], 1e-5f) << c.text;
    }
}

TEST_F(TextLayoutTest, JustifiedLinesStretchOnlyWhenFullEnoughAndNotLast) {
    struct Case {
        const char* text;
        std::size_t quad;  // the first glyph of the line's second word, or of the last line
        float left;
    };
    const Case cases[] = {
        {"aaaa aaaa aaaa", 5, 0.11f},    // fill 0.84: stretched by 0.16
        {"aaaa aaaa aaaa", 9, -0.49f},   // the last line
        {"aaa aaa aaaaaaaa", 4, -0.15f}, // fill 0.64: as left
        {"aa aa\naaaa aaaa", 10, -0.05f},  // the last line, filled 0.84
    };
    for (const Case& c : cases) {
        const std::vector<TextQuad> quads = lay(c.text, 100, "menu.align");
        ASSERT_GT(quads.size(), c.quad) << c.text;
        EXPECT_NEAR(quads[c.quad].rect[0], c.left, 1e-5f) << c.text << " " << c.quad;
    }
    // Right and centre.
    std::vector<TextQuad> quads = lay("ab", 100, "menu.right");
    EXPECT_NEAR(quads[0].rect[0], 0.33f, 1e-5f);
    quads = lay("ab", 100, "menu.center");
    EXPECT_NEAR(quads[0].rect[0], -0.08f, 1e-5f);
}

TEST_F(TextLayoutTest, TextWithNothingToShowDrawsNothing) {
    ASSERT_TRUE(TextLayout::setupFont(record, fonts(), "menu", 100, 1.0f, nullptr));
    std::vector<TextQuad> quads;
    float height = -1.0f;
    EXPECT_TRUE(TextLayout::layoutNarrow(record, quads, "  \t  ", height));
    EXPECT_TRUE(quads.empty());
    EXPECT_TRUE(logged("Try to show EMPTY string (spaces or tabs only)"));
    // No wrap width and no size: no width to divide by.
    ASSERT_TRUE(TextLayout::setupFont(record, fonts(), "menu", 0, 0.0f, nullptr));
    EXPECT_TRUE(TextLayout::layoutNarrow(record, quads, "ab", height));
    EXPECT_TRUE(quads.empty());
    EXPECT_EQ(height, 0.0f);
    // Wide text breaks at spaces only.
    ASSERT_TRUE(TextLayout::setupFont(record, fonts(), "menu", 100, 1.0f, nullptr));
    EXPECT_TRUE(TextLayout::layoutWide(record, quads, u"a\tb c", height));
    EXPECT_EQ(record.lines.size(), 1u);
    EXPECT_EQ(quads.size(), 5u);
}

TEST_F(TextLayoutTest, TextSetOnAnItemSizesIt) {
    StillFrameScriptDataItem* label = data().create("label");
    label->width = 400.0f;
    ASSERT_TRUE(label->text.setText(*label, "ab cd", nullptr, "menu", 2.0f));
    EXPECT_FLOAT_EQ(label->height, 48.0f);  // one line of 24 at size 2
    EXPECT_FLOAT_EQ(label->width, 400.0f);
    EXPECT_EQ(label->textGlyphs, 5);
    label->autoFlags = 1;
    ASSERT_TRUE(label->text.setText(*label, "ab", nullptr, nullptr, 0.0f));
    EXPECT_FLOAT_EQ(label->width, 2.0f * (10.0f + 8.0f));  // measured, the last glyph by its ink
    ASSERT_EQ(label->text.record.lines.size(), 1u);         // and on one line, filled exactly
    EXPECT_FLOAT_EQ(label->text.record.lines[0].fill, 1.0f);
    EXPECT_FALSE(label->text.setText(*label, nullptr, nullptr, nullptr, 0.0f));
    EXPECT_TRUE(logged("Stillframe [label] can't be set by NULL text ptr"));
    EXPECT_FALSE(label->text.setText(*label, "ab", nullptr, "missing", 0.0f));
    EXPECT_EQ(label->textGlyphs, 0);
    EXPECT_STRCASEEQ(label->image.source.link.baseName(), "ProcWhiteMap");
}

}  // namespace
