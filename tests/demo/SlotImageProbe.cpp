// Reads a save slot's screenshot for the end-to-end tests: the JPEG image at
// the start of the file (its length is the footer's last word but one) is
// decoded and its size and the colours of its centre and of a corner are
// printed as "size W H centre R G B corner R G B". Each further group of
// four numbers X Y W H names a region of the image, whose mean colour is
// printed on a line of its own as "region X Y R G B".
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <vector>

#include "foundation/Image.h"

int main(int argc, char** argv) {
    if (argc < 2 || (argc - 2) % 4 != 0) {
        std::fprintf(stderr, "usage: slotimageprobe SAVE_FILE [X Y W H]...\n");
        return 2;
    }
    std::ifstream in(argv[1], std::ios::binary);
    const std::vector<std::uint8_t> file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (file.size() < 8) {
        std::fprintf(stderr, "no save file\n");
        return 1;
    }
    std::uint32_t length = 0;
    std::memcpy(&length, file.data() + file.size() - 8, 4);
    if (length == 0 || length > file.size()) length = static_cast<std::uint32_t>(file.size());
    TgaImage image;
    if (!decodeImage(file.data(), length, image) || !image.pixels() || image.bytesPerPixel < 3) {
        std::fprintf(stderr, "the screenshot does not decode\n");
        return 1;
    }
    const auto pixel = [&](std::uint32_t x, std::uint32_t y) {
        return image.pixels() + (static_cast<std::size_t>(y) * image.width + x) * image.bytesPerPixel;
    };
    const std::uint8_t* centre = pixel(image.width / 2, image.height / 2);
    const std::uint8_t* corner = pixel(1, 1);
    // Pixels are stored blue, green, red.
    std::printf("size %u %u centre %u %u %u corner %u %u %u\n", image.width, image.height, centre[2], centre[1],
                centre[0], corner[2], corner[1], corner[0]);
    for (int i = 2; i < argc; i += 4) {
        const long x = std::atol(argv[i]), y = std::atol(argv[i + 1]);
        const long w = std::atol(argv[i + 2]), h = std::atol(argv[i + 3]);
        if (x < 0 || y < 0 || w <= 0 || h <= 0 || x + w > static_cast<long>(image.width) ||
            y + h > static_cast<long>(image.height)) {
            std::fprintf(stderr, "the region %ld %ld %ld %ld is not inside the image\n", x, y, w, h);
            return 1;
        }
        unsigned long sum[3] = {0, 0, 0};
        for (long row = y; row < y + h; ++row)
            for (long column = x; column < x + w; ++column) {
                const std::uint8_t* p = pixel(static_cast<std::uint32_t>(column), static_cast<std::uint32_t>(row));
                for (int k = 0; k < 3; ++k) sum[k] += p[2 - k];
            }
        const unsigned long count = static_cast<unsigned long>(w * h);
        std::printf("region %ld %ld %lu %lu %lu\n", x, y, sum[0] / count, sum[1] / count, sum[2] / count);
    }
    return 0;
}
