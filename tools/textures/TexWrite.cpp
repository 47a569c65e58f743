// texwrite <folder>: writes the demo's textures into folder:
//   stone.dds       64 x 64 A8R8G8B8 with a full mip chain, a grey-brown
//                   checker (the packed kind);
//   leaf.jpg/.png   64 x 64 green colours with a round alpha mask (the
//                   compressed kind with its alpha);
//   paint.dds, quay.dds, cloth.dds, jacket.dds, plaster.dds 16 x 16
//                   A8R8G8B8 of one colour each: the harbour props' red
//                   paint, the quay's grey stones, the sailor's yellow
//                   oilskins, the hero's blue jacket and the house's plaster;
//   menu_panel.dds, menu_button.dds, menu_button_hover.dds 16 x 16 of one
//                   colour each: the menu's dark blue panel, its blue
//                   buttons and the gold of the button under the pointer;
//   pointer.dds     32 x 32 A8R8G8B8: the game's pointer, a pink arrow with
//                   a dark rim, its tip (the hot spot) on the top left texel
//                   and transparent around it;
//   puff.dds        32 x 32 A8R8G8B8 white with a round alpha that fades
//                   from the centre to the edge: the harbour smoke's points;
//   splash_screen.dds the start-up splash (an orange top half over a blue
//                   bottom half);
//   sky_main.dds    64 x 64 white with stars in its alpha; sky_clouds.dds,
//                   sky_fog.dds, sky_rain.dds 64 x 64 white, light grey and
//                   grey with their cover (soft tiling blobs) in alpha: the
//                   sky's layers.
// Exit code 0 on success, 1 on failure (with a line on standard error).
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "foundation/DataStream.h"
#include "foundation/Image.h"
#include "textures/DdsWriter.h"

namespace {

constexpr UINT kSide = 64;

bool writeBytes(const std::filesystem::path& path, const std::vector<std::uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out);
}

bool writeImage(const std::filesystem::path& path, TgaImage& image, int format) {
    MemoryStream stream;
    if (!encodeImage(format, image, stream, 90)) return false;
    return writeBytes(path, std::vector<std::uint8_t>(stream.data(), stream.data() + stream.size()));
}

// The checker, level by level (each level's squares half as wide).
texture_tools::DdsImage stone() {
    texture_tools::DdsImage image;
    image.format = D3DFMT_A8R8G8B8;
    image.width = image.height = kSide;
    image.levels = 7;  // 64 .. 1
    for (UINT level = 0; level < image.levels; ++level) {
        const UINT side = kSide >> level;
        const UINT square = side >= 8 ? side / 8 : 1;
        std::vector<std::uint8_t> block(static_cast<std::size_t>(side) * side * 4);
        for (UINT y = 0; y < side; ++y)
            for (UINT x = 0; x < side; ++x) {
                const bool dark = ((x / square) + (y / square)) % 2 != 0;
                std::uint8_t* p = &block[(static_cast<std::size_t>(y) * side + x) * 4];
                p[0] = dark ? 60 : 120;   // blue
                p[1] = dark ? 80 : 140;   // green
                p[2] = dark ? 100 : 170;  // red
                p[3] = 255;
            }
        image.blocks.push_back(std::move(block));
    }
    return image;
}

// A texture of one colour with its mip chain.
texture_tools::DdsImage solid(std::uint8_t red, std::uint8_t green, std::uint8_t blue) {
    texture_tools::DdsImage image;
    image.format = D3DFMT_A8R8G8B8;
    image.width = image.height = 16;
    image.levels = 5;  // 16 .. 1
    for (UINT level = 0; level < image.levels; ++level) {
        const UINT side = 16u >> level;
        std::vector<std::uint8_t> block;
        for (UINT i = 0; i < side * side; ++i) block.insert(block.end(), {blue, green, red, 255});
        image.blocks.push_back(std::move(block));
    }
    return image;
}

// A soft round puff: white, its alpha 255 at the centre falling off to 0 at
// the edge of the inscribed circle, level by level.
texture_tools::DdsImage puff() {
    texture_tools::DdsImage image;
    image.format = D3DFMT_A8R8G8B8;
    image.width = image.height = 32;
    image.levels = 6;  // 32 .. 1
    for (UINT level = 0; level < image.levels; ++level) {
        const UINT side = 32u >> level;
        const float half = static_cast<float>(side) * 0.5f;
        std::vector<std::uint8_t> block;
        for (UINT y = 0; y < side; ++y)
            for (UINT x = 0; x < side; ++x) {
                const float dx = (static_cast<float>(x) + 0.5f - half) / half;
                const float dy = (static_cast<float>(y) + 0.5f - half) / half;
                const float fall = 1.0f - (dx * dx + dy * dy);
                const auto alpha = static_cast<std::uint8_t>(fall > 0.0f ? 255.0f * fall : 0.0f);
                block.insert(block.end(), {255, 255, 255, alpha});
            }
        image.blocks.push_back(std::move(block));
    }
    return image;
}

// The pointer's arrow: the outline below, filled pink from its tip at the
// top left texel; a dark rim of one texel along the slanted and lower sides
// (none above or left of the tip, so that the fill's top left corner is the
// hot spot); transparent elsewhere. One level: it is drawn at its size.
texture_tools::DdsImage pointer() {
    struct Point {
        float x, y;
    };
    static constexpr Point kOutline[] = {{0, -1}, {0, 23}, {6, 17}, {10, 26}, {13.5f, 24.5f}, {9.5f, 16}, {17, 16}};
    const auto inside = [](float x, float y) {
        bool in = false;
        constexpr std::size_t n = sizeof(kOutline) / sizeof(kOutline[0]);
        for (std::size_t i = 0, j = n - 1; i < n; j = i++) {
            const Point& a = kOutline[i];
            const Point& b = kOutline[j];
            if ((a.y > y) != (b.y > y) && x < (b.x - a.x) * (y - a.y) / (b.y - a.y) + a.x) in = !in;
        }
        return in;
    };
    texture_tools::DdsImage image;
    image.format = D3DFMT_A8R8G8B8;
    image.width = image.height = 32;
    std::vector<std::uint8_t> block;
    for (int y = 0; y < 32; ++y)
        for (int x = 0; x < 32; ++x) {
            const float cx = static_cast<float>(x) + 0.5f, cy = static_cast<float>(y) + 0.5f;
            if (inside(cx, cy)) {
                block.insert(block.end(), {200, 80, 255, 255});  // blue, green, red, alpha
                continue;
            }
            bool rim = false;
            for (int dy = -1; dy <= 1 && !rim; ++dy)
                for (int dx = -1; dx <= 1 && !rim; ++dx) rim = inside(cx + static_cast<float>(dx), cy + static_cast<float>(dy));
            if (rim)
                block.insert(block.end(), {30, 20, 20, 255});
            else
                block.insert(block.end(), {0, 0, 0, 0});
        }
    image.blocks.push_back(std::move(block));
    return image;
}

// A sky layer: one grey level, the alpha given by cover(x, y) in 0..1 over
// a tile of kSide (without mip levels: the dome shows it large).
template <class Cover>
texture_tools::DdsImage skyLayer(std::uint8_t grey, Cover cover) {
    texture_tools::DdsImage image;
    image.format = D3DFMT_A8R8G8B8;
    image.width = image.height = kSide;
    std::vector<std::uint8_t> block;
    for (UINT y = 0; y < kSide; ++y)
        for (UINT x = 0; x < kSide; ++x) {
            const double a = std::fmin(std::fmax(cover(double(x) / kSide, double(y) / kSide), 0.0), 1.0);
            block.insert(block.end(), {grey, grey, grey, static_cast<std::uint8_t>(a * 255.0 + 0.5)});
        }
    image.blocks.push_back(std::move(block));
    return image;
}

// Soft blobs that tile: sums of whole periods over the tile.
double blobs(double u, double v) {
    constexpr double kTurn = 6.283185307179586;
    return 0.5 + 0.35 * std::sin(kTurn * u) * std::cos(kTurn * 2.0 * v) + 0.25 * std::sin(kTurn * (3.0 * u + v));
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: texwrite <folder>\n");
        return 1;
    }
    const std::filesystem::path folder = argv[1];
    std::error_code error;
    std::filesystem::create_directories(folder, error);

    const std::vector<std::uint8_t> dds = texture_tools::writeDds(stone());
    if (dds.empty() || !writeBytes(folder / "stone.dds", dds)) {
        std::fprintf(stderr, "texwrite: can't write stone.dds\n");
        return 1;
    }

    TgaImage colour;
    TgaImage mask;
    if (!colour.create(false, kSide, kSide) || !mask.create(true, kSide, kSide)) return 1;
    for (UINT y = 0; y < kSide; ++y)
        for (UINT x = 0; x < kSide; ++x) {
            std::uint8_t* c = colour.pixels() + (static_cast<std::size_t>(y) * kSide + x) * 3;
            c[0] = 40;                                         // blue
            c[1] = static_cast<std::uint8_t>(120 + y * 2);     // green
            c[2] = static_cast<std::uint8_t>(30 + x);          // red
            const int dx = static_cast<int>(x) - 32;
            const int dy = static_cast<int>(y) - 32;
            std::uint8_t* m = mask.pixels() + (static_cast<std::size_t>(y) * kSide + x) * 4;
            m[0] = m[1] = m[2] = 255;
            m[3] = dx * dx + dy * dy < 30 * 30 ? 255 : 0;
        }
    if (!writeImage(folder / "leaf.jpg", colour, ImageFormatJpeg) || !writeImage(folder / "leaf.png", mask, ImageFormatPng)) {
        std::fprintf(stderr, "texwrite: can't write leaf.jpg and leaf.png\n");
        return 1;
    }
    for (const auto& [name, image] : {std::pair{"paint.dds", solid(200, 40, 30)}, std::pair{"quay.dds", solid(150, 150, 150)},
                                     std::pair{"cloth.dds", solid(230, 190, 40)},
                                     std::pair{"jacket.dds", solid(40, 80, 210)},
                                     std::pair{"plaster.dds", solid(215, 205, 185)},
                                     std::pair{"puff.dds", puff()},
                                     std::pair{"menu_panel.dds", solid(20, 30, 60)},
                                     std::pair{"menu_button.dds", solid(40, 70, 130)},
                                     std::pair{"menu_button_hover.dds", solid(220, 160, 40)},
                                     std::pair{"pointer.dds", pointer()}}) {
        const std::vector<std::uint8_t> bytes = texture_tools::writeDds(image);
        if (bytes.empty() || !writeBytes(folder / name, bytes)) {
            std::fprintf(stderr, "texwrite: can't write %s\n", name);
            return 1;
        }
    }
    // Stars: one texel in 37, by a fixed scatter.
    const auto stars = [](double u, double v) {
        const unsigned i = unsigned(v * kSide) * kSide + unsigned(u * kSide);
        return (i * 2654435761u) % 37u == 0 ? 1.0 : 0.0;
    };
    const auto fog = [](double u, double v) { return 0.3 + 0.4 * blobs(u, v); };
    const auto rain = [](double u, double v) { return 0.6 + 0.3 * std::sin(6.283185307179586 * 8.0 * u) * blobs(u, v); };
    const std::pair<const char*, texture_tools::DdsImage> layers[] = {
        {"sky_main.dds", skyLayer(255, stars)},
        {"sky_clouds.dds", skyLayer(255, blobs)},
        {"sky_fog.dds", skyLayer(220, fog)},
        {"sky_rain.dds", skyLayer(160, rain)},
    };
    for (const auto& [name, image] : layers) {
        const std::vector<std::uint8_t> bytes = texture_tools::writeDds(image);
        if (bytes.empty() || !writeBytes(folder / name, bytes)) {
            std::fprintf(stderr, "texwrite: can't write %s\n", name);
            return 1;
        }
    }
    const std::vector<std::uint8_t> splash = texture_tools::writeDds(texture_tools::splashScreen());
    if (splash.empty() || !writeBytes(folder / "splash_screen.dds", splash)) {
        std::fprintf(stderr, "texwrite: can't write splash_screen.dds\n");
        return 1;
    }
    return 0;
}
