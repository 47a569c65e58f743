#include "foundation/StringHelper.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

TEST(StringHelper, ParseFloatTable) {
    struct Case {
        const char* text;
        float expected;
    };
    const Case cases[] = {
        {"12", 12.0f},        {"-0,25", -0.25f},    {"1.5", 1.5f},          {"1e5", -12345.0f},
        {" 7", -12345.0f},    {"+3", -12345.0f},    {"1..2", -12345.0f},    {"1,,2", -12345.0f},
        {"--4", 0.0f},        {"", 0.0f},           {"-", 0.0f},            {"1,5.2", 1.5f},
        {"5-3", 5.0f},        {"7\t", -12345.0f},   {"abc", -12345.0f},     {"1,5", 1.5f},
    };
    for (const Case& c : cases) EXPECT_EQ(parseFloat(c.text), c.expected) << '"' << c.text << '"';
    EXPECT_EQ(parseFloat(nullptr), -12345.0f);
}

TEST(StringHelper, TrimSpacesOnlyRemovesBlanks) {
    const std::pair<std::string, std::string> cases[] = {
        {"  a b  ", "a b"}, {"\ta ", "\ta"}, {" ", ""}, {"    ", ""}, {"", ""}, {"x", "x"},
    };
    for (const auto& [in, out] : cases) EXPECT_EQ(trimSpaces(in), out) << '"' << in << '"';
}

TEST(StringHelper, HexRoundTripAndLenientDigits) {
    const std::uint8_t bytes[] = {0x00, 0xAB, 0x7F};
    EXPECT_EQ(hexEncode(bytes, 3), "00AB7F");
    EXPECT_EQ(hexEncode(bytes, 0), "");

    std::uint8_t out[3] = {1, 2, 3};
    ASSERT_TRUE(hexDecode("00AB7F", 3, out));
    EXPECT_EQ(0, std::memcmp(out, bytes, 3));

    // Lower-case letters are no digits and decode as 0.
    ASSERT_TRUE(hexDecode("00ab7f", 3, out));
    EXPECT_EQ(out[0], 0x00);
    EXPECT_EQ(out[1], 0x00);
    EXPECT_EQ(out[2], 0x70);

    // An odd last digit is ignored; a length mismatch writes nothing.
    std::uint8_t two[2] = {};
    EXPECT_TRUE(hexDecode("00AB7", 2, two));
    EXPECT_EQ(two[1], 0xAB);
    std::uint8_t untouched[3] = {9, 9, 9};
    EXPECT_FALSE(hexDecode("00AB7", 3, untouched));
    EXPECT_EQ(untouched[0], 9);
    EXPECT_FALSE(hexDecode("00", -1, untouched));
}

TEST(StringHelper, WideConversionUsesWindows1251) {
    // "Привет" in Windows-1251.
    const std::string narrow = "\xCF\xF0\xE8\xE2\xE5\xF2";
    const std::u16string wide = u"\u041F\u0440\u0438\u0432\u0435\u0442";
    EXPECT_EQ(toWideString(narrow), wide);
    EXPECT_EQ(toMultiByteString(wide), narrow);
    EXPECT_EQ(toWideString(""), u"");
    EXPECT_EQ(toMultiByteString(u""), "");
    // A character with no Windows-1251 form becomes '?', one per character.
    EXPECT_EQ(toMultiByteString(u"a\u4E2Db"), "a?b");
    // Bytes and units that do not convert are replaced, never dropped.
    EXPECT_EQ(toWideString("a\x98z"), u"a\uFFFDz");
    EXPECT_EQ(toMultiByteString(std::u16string(u"a\xD800z")), "a?z");
    // Embedded NULs convert like any other character.
    EXPECT_EQ(toWideString(std::string("a\0b", 3)), std::u16string(u"a\0b", 3));
}

NameArray names(std::initializer_list<const char*> list) {
    NameArray out;
    for (const char* n : list) {
        NameField f;
        setNameField(f, n);
        out.push_back(f);
    }
    return out;
}

std::vector<std::string> texts(const NameArray& a) {
    std::vector<std::string> out;
    for (const NameField& f : a) out.emplace_back(f.text);
    return out;
}

TEST(StringHelper, FilterSelectsContainingNames) {
    const NameArray source = names({"walk", "walk_fast", "run_walk", "stay"});
    NameArray selected;
    struct Case {
        bool exclude;
        std::int32_t limit;
        std::vector<std::string> expected;
        bool result;
    };
    const Case cases[] = {
        {false, -1, {"walk_fast", "run_walk"}, false},
        {true, -1, {"stay"}, false},
        {false, 1, {"walk_fast"}, true},
        {false, 2, {"walk_fast", "run_walk"}, false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(StringHelper::filter(source, selected, "walk", c.exclude, c.limit), c.result);
        EXPECT_EQ(texts(selected), c.expected) << "exclude " << c.exclude << " limit " << c.limit;
    }
}

TEST(StringHelper, FilterLimitPrefersEarlierMatches) {
    // With the list full, a name that matches earlier replaces the first
    // selected one that matches later.
    const NameArray source = names({"xx_go", "x_go", "go"});
    NameArray selected;
    EXPECT_TRUE(StringHelper::filter(source, selected, "go", false, 1));
    EXPECT_EQ(texts(selected), std::vector<std::string>{"x_go"});

    EXPECT_FALSE(StringHelper::filter({}, selected, "go", false, -1));
    EXPECT_TRUE(selected.empty());
    // An empty text matches every name at 0.
    EXPECT_FALSE(StringHelper::filter(source, selected, "", false, -1));
    EXPECT_EQ(selected.size(), 3u);
    // A text as long as the field never matches.
    const std::string longText(130, 'a');
    EXPECT_FALSE(StringHelper::filter(source, selected, longText.c_str(), false, -1));
    EXPECT_TRUE(selected.empty());
}

}  // namespace
