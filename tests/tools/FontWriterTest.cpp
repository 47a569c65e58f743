// The font writer's atlas: clear texels round every glyph's cell, so that a
// glyph drawn scaled or off the texel grid takes no ink from its neighbours.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

std::vector<std::uint8_t> readAll(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

template <class T>
T at(const std::vector<std::uint8_t>& bytes, std::size_t offset) {
    T value{};
    if (offset + sizeof(T) <= bytes.size()) std::memcpy(&value, bytes.data() + offset, sizeof(T));
    return value;
}

}  // namespace

TEST(FontWriter, EveryGlyphCellHasAClearBorder) {
#if !defined(FONTWRITE)
    GTEST_SKIP() << "the font writer is not built (no FreeType)";
#else
    const std::filesystem::path font = FONT_FILE;
    if (!std::filesystem::exists(font)) GTEST_SKIP() << "no TrueType font at " << font;
    const std::filesystem::path folder =
        std::filesystem::temp_directory_path() / ("fontwrite_test_" + std::to_string(getpid()));
    std::filesystem::create_directories(folder);
    const std::string command =
        std::string("\"") + FONTWRITE + "\" \"" + font.string() + "\" 20 \"" + folder.string() + "\" probe";
    ASSERT_EQ(std::system(command.c_str()), 0);
    const std::vector<std::uint8_t> header = readAll(folder / "probe.font4");
    const std::vector<std::uint8_t> dds = readAll(folder / "probe.dds");
    std::filesystem::remove_all(folder);

    // The texture: A8R8G8B8 after the 128-byte header, alpha the fourth byte.
    const auto width = at<std::uint32_t>(dds, 16), height = at<std::uint32_t>(dds, 12);
    ASSERT_GT(width, 0u);
    ASSERT_EQ(dds.size(), 128u + std::size_t(width) * height * 4);
    auto alpha = [&](int x, int y) { return dds[128 + (std::size_t(y) * width + std::size_t(x)) * 4 + 3]; };

    // The header: magic, a word, three sizes, the glyph count, then eight
    // floats a glyph (left, right, top, bottom of its cell first).
    const auto count = at<std::uint32_t>(header, 20);
    ASSERT_GT(count, 90u);
    ASSERT_GE(header.size(), 24u + std::size_t(count) * 32);
    int inked = 0;
    for (std::uint32_t g = 0; g < count; ++g) {
        const std::size_t base = 24 + std::size_t(g) * 32;
        const int x0 = int(std::lround(at<float>(header, base) * float(width)));
        const int x1 = int(std::lround(at<float>(header, base + 4) * float(width)));
        const int y0 = int(std::lround(at<float>(header, base + 8) * float(height)));
        const int y1 = int(std::lround(at<float>(header, base + 12) * float(height)));
        ASSERT_LT(x0, x1);
        ASSERT_LT(y0, y1);
        bool ink = false;
        for (int y = y0; y < y1; ++y)
            for (int x = x0; x < x1; ++x) ink = ink || alpha(x, y) != 0;
        inked += ink ? 1 : 0;
        // The ring of texels just outside the cell.
        int touched = 0;
        for (int y = y0 - 1; y <= y1; ++y)
            for (int x = x0 - 1; x <= x1; ++x) {
                const bool inside = x >= x0 && x < x1 && y >= y0 && y < y1;
                if (inside || x < 0 || y < 0 || x >= int(width) || y >= int(height)) continue;
                touched += alpha(x, y) != 0 ? 1 : 0;
            }
        EXPECT_EQ(touched, 0) << "glyph " << g << " has ink round its cell";
    }
    EXPECT_GT(inked, 90);
#endif
}
