#include "foundation/ARGBColor.h"

#include <gtest/gtest.h>

#include "foundation/Log.h"
#include "support/TestSupport.h"

namespace {

struct HexCase {
    const char* text;
    bool ok;
    float red, green, blue, alpha;  // expected after setHex from (0.1, 0.2, 0.3, 0.4)
    const char* logged;             // message expected in the log, or null for none
};

const HexCase kHexCases[] = {
    {"FF8000", true, 0.5f, 0.2509804f, 0.0f, 1.0f, nullptr},
    {"ff8000", true, 0.5f, 0.2509804f, 0.0f, 1.0f, nullptr},
    {"fF8000", true, 0.5f, 0.2509804f, 0.0f, 1.0f, nullptr},
    {"80FF0000", true, 0.5f, 0.0f, 0.0f, 0.5019608f, nullptr},
    {"00000000", true, 0.0f, 0.0f, 0.0f, 0.0f, nullptr},
    {"FFFFFF", true, 0.5f, 0.5f, 0.5f, 1.0f, nullptr},
    // Wrong lengths: silent, nothing changed.
    {"FF800", false, 0.1f, 0.2f, 0.3f, 0.4f, nullptr},
    {"FF80000", false, 0.1f, 0.2f, 0.3f, 0.4f, nullptr},
    {"", false, 0.1f, 0.2f, 0.3f, 0.4f, nullptr},
    {"#FF8000", false, 0.1f, 0.2f, 0.3f, 0.4f, nullptr},
    // A bad digit: logged (lower-cased), colour unchanged but the six-digit form's alpha.
    {"FF80G0", false, 0.1f, 0.2f, 0.3f, 1.0f, "Unexpected symbol [g] in color value string"},
    {"FF 800", false, 0.1f, 0.2f, 0.3f, 1.0f, "Unexpected symbol [ ] in color value string"},
    {"0xFF8000", false, 0.1f, 0.2f, 0.3f, 0.4f, "Unexpected symbol [x] in color value string"},
};

}  // namespace

TEST(ARGBColor, SetHexTable) {
    for (const HexCase& c : kHexCases) {
        testing_support::ScopedGameCore core;
        ARGBColor color{0.1f, 0.2f, 0.3f, 0.4f};
        EXPECT_EQ(color.setHex(c.text), c.ok) << c.text;
        EXPECT_FLOAT_EQ(color.red, c.red) << c.text;
        EXPECT_FLOAT_EQ(color.green, c.green) << c.text;
        EXPECT_FLOAT_EQ(color.blue, c.blue) << c.text;
        EXPECT_FLOAT_EQ(color.alpha, c.alpha) << c.text;
        if (c.logged) EXPECT_TRUE(core.log().contains(c.logged)) << c.text;
        else EXPECT_EQ(core.log().recordCount(), 0u) << c.text;
    }
}

TEST(ARGBColor, IntegerAndComponentSetters) {
    ARGBColor color;
    EXPECT_TRUE(color.setInt(0xFF204080u));
    EXPECT_FLOAT_EQ(color.alpha, 1.0f);
    EXPECT_FLOAT_EQ(color.red, 0.0627451f);
    EXPECT_FLOAT_EQ(color.green, 0.1254902f);
    EXPECT_FLOAT_EQ(color.blue, 0.2509804f);

    color.set(1.0f, 1.0f, 1.0f);
    EXPECT_EQ(color.red, 1.0f);
    EXPECT_EQ(color.green, 1.0f);
    EXPECT_EQ(color.blue, 1.0f);
    EXPECT_FLOAT_EQ(color.alpha, 1.0f);

    // Unhalved forms.
    color.setArgbInt(0x80FF0000u);
    EXPECT_FLOAT_EQ(color.red, 1.0f);
    EXPECT_FLOAT_EQ(color.alpha, 0.5019608f);
    EXPECT_TRUE(color.setRgbInt(0xAB00FF));
    EXPECT_FLOAT_EQ(color.red, 171 * ARGBColor::kByteScale);
    EXPECT_FLOAT_EQ(color.blue, 1.0f);
    EXPECT_FLOAT_EQ(color.alpha, 0.5019608f);  // alpha unchanged

    EXPECT_TRUE(color.parse("00FF00"));
    EXPECT_FLOAT_EQ(color.green, 1.0f);
    EXPECT_FLOAT_EQ(color.alpha, 1.0f);
    EXPECT_FALSE(color.parseHexRgb("80FF0000"));
}
