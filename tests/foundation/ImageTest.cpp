#include "foundation/Image.h"

#include <gtest/gtest.h>

#include <png.h>
#include <zlib.h>

#include <cstdio>

#include <jpeglib.h>

#include <algorithm>
#include <csetjmp>
#include <cstring>
#include <string>
#include <vector>

#include "foundation/DataStream.h"
#include "foundation/ExportSettings.h"
#include "foundation/IniFile.h"
#include "foundation/Log.h"
#include "support/TestSupport.h"

using Bytes = std::vector<std::uint8_t>;

namespace {

constexpr std::uint8_t kPngSignatureBytes[8] = {0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A, 0x0A};

// ---- Fixture writers

// A PNG written straight through libpng, so colour types and depths the
// engine never writes (16-bit, palette, grey-alpha) can be tested.
// samples: one value per channel and pixel, 8 or 16 bits as depth says.
struct PngSpec {
    std::uint32_t width, height;
    int colorType, depth;
    std::vector<std::uint16_t> samples;
    std::vector<png_color> palette;
    std::vector<std::uint8_t> paletteAlpha;
};

void appendBytes(png_structp png, png_bytep data, png_size_t count) {
    auto* out = static_cast<Bytes*>(png_get_io_ptr(png));
    out->insert(out->end(), data, data + count);
}

Bytes makePng(const PngSpec& spec) {
    Bytes out;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        ADD_FAILURE() << "fixture PNG failed";
        return {};
    }
    png_set_write_fn(png, &out, appendBytes, nullptr);
    png_set_IHDR(png, info, spec.width, spec.height, spec.depth, spec.colorType, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    if (!spec.palette.empty())
        png_set_PLTE(png, info, spec.palette.data(), static_cast<int>(spec.palette.size()));
    if (!spec.paletteAlpha.empty())
        png_set_tRNS(png, info, spec.paletteAlpha.data(), static_cast<int>(spec.paletteAlpha.size()), nullptr);
    png_write_info(png, info);
    const std::size_t channels = spec.samples.size() / (spec.width * spec.height);
    const std::size_t sampleBytes = spec.depth == 16 ? 2 : 1;
    std::vector<std::uint8_t> row(spec.width * channels * sampleBytes);
    for (std::uint32_t y = 0; y < spec.height; ++y) {
        std::fill(row.begin(), row.end(), 0);
        for (std::size_t i = 0; i < spec.width * channels; ++i) {
            const std::uint16_t v = spec.samples[y * spec.width * channels + i];
            if (spec.depth < 8) {  // packed, first sample in the high bits
                const std::size_t bit = i * spec.depth;
                row[bit / 8] |= static_cast<std::uint8_t>(v << (8 - spec.depth - bit % 8));
            } else if (sampleBytes == 2) {
                row[i * 2] = static_cast<std::uint8_t>(v >> 8);
                row[i * 2 + 1] = static_cast<std::uint8_t>(v);
            } else {
                row[i] = static_cast<std::uint8_t>(v);
            }
        }
        png_write_row(png, row.data());
    }
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return out;
}

// A TGA file: header then the given pixel (or packet) bytes.
Bytes makeTga(std::uint8_t type, std::uint16_t width, std::uint16_t height, std::uint8_t depth,
              std::uint8_t descriptor, const Bytes& body) {
    Bytes out(18, 0);
    out[2] = type;
    out[12] = static_cast<std::uint8_t>(width);
    out[13] = static_cast<std::uint8_t>(width >> 8);
    out[14] = static_cast<std::uint8_t>(height);
    out[15] = static_cast<std::uint8_t>(height >> 8);
    out[16] = depth;
    out[17] = descriptor;
    out.insert(out.end(), body.begin(), body.end());
    return out;
}

// A PNG of the given size whose image data are a few packed zero bytes.
Bytes makeBarePng(std::uint32_t width, std::uint32_t height, std::uint8_t colorType) {
    Bytes out(kPngSignatureBytes, kPngSignatureBytes + 8);
    auto chunk = [&out](const char* type, const Bytes& body) {
        const auto length = static_cast<std::uint32_t>(body.size());
        for (int i = 3; i >= 0; --i) out.push_back(static_cast<std::uint8_t>(length >> (8 * i)));
        Bytes typed(type, type + 4);
        typed.insert(typed.end(), body.begin(), body.end());
        out.insert(out.end(), typed.begin(), typed.end());
        const auto crc = static_cast<std::uint32_t>(crc32(0, typed.data(), static_cast<uInt>(typed.size())));
        for (int i = 3; i >= 0; --i) out.push_back(static_cast<std::uint8_t>(crc >> (8 * i)));
    };
    Bytes header;
    for (std::uint32_t v : {width, height})
        for (int i = 3; i >= 0; --i) header.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
    header.insert(header.end(), {8, colorType, 0, 0, 0});
    chunk("IHDR", header);
    const Bytes zeros(16, 0);
    Bytes packed(64);
    uLongf packedSize = packed.size();
    compress(packed.data(), &packedSize, zeros.data(), zeros.size());
    packed.resize(packedSize);
    chunk("IDAT", packed);
    chunk("IEND", {});
    return out;
}

// A JPEG of the given size, written straight through libjpeg (progressive
// when asked, which the engine never writes), every pixel one grey.
Bytes makeJpeg(std::uint32_t width, std::uint32_t height, bool progressive) {
    jpeg_compress_struct info;
    jpeg_error_mgr error;
    info.err = jpeg_std_error(&error);
    jpeg_create_compress(&info);
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&info, &buffer, &size);
    info.image_width = width;
    info.image_height = height;
    info.input_components = 3;
    info.in_color_space = JCS_RGB;
    jpeg_set_defaults(&info);
    if (progressive) jpeg_simple_progression(&info);
    jpeg_start_compress(&info, TRUE);
    std::vector<std::uint8_t> row(width * 3);
    for (std::uint32_t x = 0; x < width * 3; ++x) row[x] = static_cast<std::uint8_t>(x * 7);
    while (info.next_scanline < height) {
        JSAMPROW rows[1] = {row.data()};
        jpeg_write_scanlines(&info, rows, 1);
    }
    jpeg_finish_compress(&info);
    jpeg_destroy_compress(&info);
    Bytes out(buffer, buffer + size);
    std::free(buffer);
    return out;
}

// The JPEG with the size in its frame header replaced.
Bytes withJpegSize(Bytes jpeg, std::uint16_t width, std::uint16_t height) {
    for (std::size_t i = 2; i + 8 < jpeg.size(); ++i) {
        if (jpeg[i] == 0xFF && (jpeg[i + 1] == 0xC0 || jpeg[i + 1] == 0xC2)) {
            jpeg[i + 5] = static_cast<std::uint8_t>(height >> 8);
            jpeg[i + 6] = static_cast<std::uint8_t>(height);
            jpeg[i + 7] = static_cast<std::uint8_t>(width >> 8);
            jpeg[i + 8] = static_cast<std::uint8_t>(width);
            return jpeg;
        }
    }
    ADD_FAILURE() << "no frame header";
    return jpeg;
}

// Where a JPEG's scan data start (behind its first SOS segment).
std::size_t jpegScanStart(const Bytes& jpeg) {
    for (std::size_t i = 2; i + 3 < jpeg.size(); ++i)
        if (jpeg[i] == 0xFF && jpeg[i + 1] == 0xDA) return i + 2 + ((jpeg[i + 2] << 8) | jpeg[i + 3]);
    ADD_FAILURE() << "no scan";
    return jpeg.size();
}

Bytes pixelsOf(const TgaImage& image) {
    return Bytes(image.pixels(), image.pixels() + image.pixelByteCount);
}

Bytes toBytes(MemoryStream& stream) { return Bytes(stream.data(), stream.data() + stream.size()); }

}  // namespace

TEST(Image, PngColourTypesDecodeToEightBitBgr) {
    struct Case {
        const char* name;
        PngSpec spec;
        std::uint32_t bytesPerPixel;
        Bytes pixels;  // B, G, R (A)
    };
    const Case cases[] = {
        {"rgb", {2, 1, PNG_COLOR_TYPE_RGB, 8, {10, 20, 30, 40, 50, 60}, {}, {}}, 3, {30, 20, 10, 60, 50, 40}},
        {"rgba", {1, 2, PNG_COLOR_TYPE_RGB_ALPHA, 8, {1, 2, 3, 4, 5, 6, 7, 8}, {}, {}}, 4, {3, 2, 1, 4, 7, 6, 5, 8}},
        {"grey", {3, 1, PNG_COLOR_TYPE_GRAY, 8, {0, 128, 255}, {}, {}}, 3, {0, 0, 0, 128, 128, 128, 255, 255, 255}},
        {"grey 4-bit", {2, 1, PNG_COLOR_TYPE_GRAY, 4, {0, 15}, {}, {}}, 3, {0, 0, 0, 255, 255, 255}},
        {"rgb 16-bit", {1, 1, PNG_COLOR_TYPE_RGB, 16, {0x1234, 0xABCD, 0xFF00}, {}, {}}, 3, {0xFF, 0xAB, 0x12}},
        {"rgba 16-bit",
         {1, 1, PNG_COLOR_TYPE_RGB_ALPHA, 16, {0x0100, 0x0200, 0x0300, 0x8000}, {}, {}},
         4,
         {3, 2, 1, 0x80}},
        {"grey-alpha", {1, 1, PNG_COLOR_TYPE_GRAY_ALPHA, 8, {77, 200}, {}, {}}, 4, {77, 77, 77, 200}},
        {"palette",
         {3, 1, PNG_COLOR_TYPE_PALETTE, 8, {2, 0, 1}, {{255, 0, 0}, {0, 255, 0}, {1, 2, 3}}, {}},
         3,
         {3, 2, 1, 0, 0, 255, 0, 255, 0}},
        {"palette 2-bit with alpha",
         {2, 1, PNG_COLOR_TYPE_PALETTE, 2, {1, 0}, {{10, 20, 30}, {40, 50, 60}}, {128, 255}},
         4,
         {60, 50, 40, 255, 30, 20, 10, 128}},
    };
    for (const Case& c : cases) {
        const Bytes png = makePng(c.spec);
        TgaImage image;
        ASSERT_TRUE(decodeImage(png.data(), png.size(), image)) << c.name;
        EXPECT_EQ(image.width, c.spec.width) << c.name;
        EXPECT_EQ(image.height, c.spec.height) << c.name;
        EXPECT_EQ(image.bytesPerPixel, c.bytesPerPixel) << c.name;
        EXPECT_EQ(image.hasAlpha(), c.bytesPerPixel == 4) << c.name;
        EXPECT_EQ(pixelsOf(image), c.pixels) << c.name;
    }
}

TEST(Image, PngConverterRefusesTheMonoForms) {
    testing_support::ScopedGameCore core;
    const Bytes png = makePng({2, 1, PNG_COLOR_TYPE_RGB, 8, {10, 20, 30, 40, 50, 60}, {}, {}});
    TgaImage image;
    ASSERT_TRUE(convertPng(png.data(), png.size(), image, PngConversion::Rgb));
    EXPECT_EQ(image.width, 2u);
    EXPECT_FALSE(convertPng(png.data(), png.size(), image, PngConversion::AlphaMerge));
    EXPECT_TRUE(core.log().contains("PNG READER: Can't load alpha from PNG"));
    EXPECT_FALSE(convertPng(png.data(), png.size(), image, PngConversion::GrayMono));
    EXPECT_TRUE(core.log().contains("Can't load PNG gray mono to rgb"));
    EXPECT_FALSE(convertPng(png.data(), png.size(), image, PngConversion::Mono));
    EXPECT_TRUE(core.log().contains("Can't load PNG mono to rgb"));
    EXPECT_EQ(image.width, 2u);  // refusals leave the image alone
}

TEST(Image, TgaLayoutsReadTopDown) {
    // 2 x 2 pixels, rows in file order: row A = (1,2,3)(4,5,6), row B = (7,8,9)(10,11,12).
    const Bytes rowA = {1, 2, 3, 4, 5, 6}, rowB = {7, 8, 9, 10, 11, 12};
    Bytes body = rowA;
    body.insert(body.end(), rowB.begin(), rowB.end());
    Bytes topDown = rowA;
    topDown.insert(topDown.end(), rowB.begin(), rowB.end());
    Bytes flipped = rowB;
    flipped.insert(flipped.end(), rowA.begin(), rowA.end());

    TgaImage image;
    ASSERT_TRUE(image.readTga(makeTga(2, 2, 2, 24, 0x20, body).data(), 18 + body.size()));
    EXPECT_EQ(pixelsOf(image), topDown);
    const Bytes bottomUp = makeTga(2, 2, 2, 24, 0x00, body);
    ASSERT_TRUE(image.readTga(bottomUp.data(), bottomUp.size()));
    EXPECT_EQ(pixelsOf(image), flipped);  // the last row in the file becomes row 0
    EXPECT_FALSE(image.hasAlpha());

    // RLE: a run of 128 + 4 (5 copies) and a raw packet of 3 pixels, 4 x 2 at 32 bits.
    const Bytes packets = {0x84, 1, 2, 3, 4, 0x02, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
    Bytes expected;
    for (int i = 0; i < 5; ++i) expected.insert(expected.end(), {1, 2, 3, 4});
    for (std::uint8_t v = 5; v <= 16; ++v) expected.push_back(v);

    // Both RLE forms come out unpacked, a whole pixel block for the upload.
    const Bytes rleTop = makeTga(10, 4, 2, 32, 0x28, packets);
    ASSERT_TRUE(decodeImage(rleTop.data(), rleTop.size(), image));
    EXPECT_FALSE(image.flags & kImageRle);
    EXPECT_EQ(image.rowSize, 16u);
    EXPECT_EQ(image.pixelByteCount, 32u);
    EXPECT_EQ(image.block.size(), TgaImage::kHeaderSize + 32);
    EXPECT_TRUE(image.hasAlpha());
    EXPECT_EQ(pixelsOf(image), expected);

    const Bytes rleBottom = makeTga(10, 4, 2, 32, 0x08, packets);
    ASSERT_TRUE(decodeImage(rleBottom.data(), rleBottom.size(), image));
    EXPECT_FALSE(image.flags & kImageRle);
    Bytes expectedFlipped(expected.begin() + 16, expected.end());
    expectedFlipped.insert(expectedFlipped.end(), expected.begin(), expected.begin() + 16);
    EXPECT_EQ(pixelsOf(image), expectedFlipped);
}

TEST(Image, JpegAtQualitySixtyDecodesToItsColours) {
    // Four flat 16 x 16 blocks (whole colour-subsampled units) survive the
    // transform almost exactly.
    TgaImage source;
    ASSERT_TRUE(source.create(false, 32, 32));
    const std::uint8_t colours[4][3] = {{200, 40, 40}, {40, 200, 40}, {40, 40, 200}, {128, 128, 128}};
    for (std::uint32_t y = 0; y < 32; ++y)
        for (std::uint32_t x = 0; x < 32; ++x) {
            const auto* c = colours[(y / 16) * 2 + x / 16];
            std::uint8_t* p = source.pixels() + (y * 32 + x) * 3;
            p[0] = c[2];
            p[1] = c[1];
            p[2] = c[0];
        }
    MemoryStream jpeg;
    ASSERT_TRUE(encodeImage(ImageFormatJpeg, source, jpeg, 60));
    const Bytes data = toBytes(jpeg);
    ASSERT_GT(data.size(), 2u);
    EXPECT_EQ(data[0], 0xFF);
    EXPECT_EQ(data[1], 0xD8);

    TgaImage decoded;
    ASSERT_TRUE(decodeImage(data.data(), data.size(), decoded));
    ASSERT_EQ(decoded.width, 32u);
    ASSERT_EQ(decoded.height, 32u);
    ASSERT_EQ(decoded.bytesPerPixel, 3u);
    for (std::uint32_t y : {4u, 27u})
        for (std::uint32_t x : {4u, 27u}) {
            const auto* c = colours[(y / 16) * 2 + x / 16];
            const std::uint8_t* p = decoded.pixels() + (y * 32 + x) * 3;
            EXPECT_NEAR(p[2], c[0], 6) << x << "," << y;
            EXPECT_NEAR(p[1], c[1], 6) << x << "," << y;
            EXPECT_NEAR(p[0], c[2], 6) << x << "," << y;
        }

    TgaImage withAlpha;
    ASSERT_TRUE(decodeJpeg(data.data(), data.size(), withAlpha, true));
    EXPECT_EQ(withAlpha.bytesPerPixel, 4u);
    EXPECT_EQ(withAlpha.pixels()[3], 255);
}

TEST(Image, ExportQualityComesFromSectionExport) {
    TgaImage source;
    ASSERT_TRUE(source.create(false, 32, 32));
    for (std::uint32_t i = 0; i < 32 * 32 * 3; ++i) source.pixels()[i] = static_cast<std::uint8_t>(i * 37);
    const auto encoded = [&](int quality) {
        MemoryStream stream;
        EXPECT_TRUE(encodeImage(ImageFormatJpeg, source, stream, quality));
        return toBytes(stream);
    };
    const ExportSettings saved = exportSettings;
    IniFile settings;
    readExportSettings(settings);  // the key is made; its default is 90
    ASSERT_NE(settings.findCategory("export"), nullptr);
    EXPECT_NE(settings.findCategory("export")->findVariable("jpg_quality"), nullptr);
    EXPECT_EQ(exportSettings.jpgQuality, 90);
    EXPECT_EQ(encoded(kJpegExportQuality), encoded(90));
    settings.getCategory("export").getVariable("jpg_quality").setString("15");
    readExportSettings(settings);
    EXPECT_EQ(encoded(kJpegExportQuality), encoded(15));
    EXPECT_NE(encoded(kJpegExportQuality), encoded(90));
    exportSettings = saved;
}

TEST(Image, EncodersRoundTrip) {
    TgaImage image;
    ASSERT_TRUE(image.create(true, 3, 2));
    for (std::uint32_t i = 0; i < image.pixelByteCount; ++i) image.pixels()[i] = static_cast<std::uint8_t>(i * 7);

    MemoryStream tga;
    ASSERT_TRUE(encodeImage(ImageFormatTga, image, tga, 0));
    ASSERT_EQ(tga.size(), 18 + 24);
    EXPECT_EQ(tga.data()[2], 2);
    EXPECT_EQ(tga.data()[16], 32);
    EXPECT_EQ(tga.data()[17], 0x28);
    TgaImage back;
    ASSERT_TRUE(decodeImage(tga.data(), static_cast<std::size_t>(tga.size()), back));
    EXPECT_EQ(pixelsOf(back), pixelsOf(image));

    MemoryStream png;
    ASSERT_TRUE(encodeImage(ImageFormatPng, image, png, 0));
    ASSERT_TRUE(decodeImage(png.data(), static_cast<std::size_t>(png.size()), back));
    EXPECT_EQ(pixelsOf(back), pixelsOf(image));

    // The alpha channel alone as a grey PNG, merged back into a plain image.
    MemoryStream alphaPng;
    ASSERT_TRUE(writePng(image, alphaPng, true));
    TgaImage plain;
    ASSERT_TRUE(image.toRgb24(plain, false));
    EXPECT_EQ(plain.bytesPerPixel, 3u);
    ASSERT_TRUE(loadPngAlpha(alphaPng.data(), static_cast<std::size_t>(alphaPng.size()), plain));
    EXPECT_EQ(pixelsOf(plain), pixelsOf(image));

    TgaImage wrongSize;
    ASSERT_TRUE(wrongSize.create(false, 4, 4));
    testing_support::ScopedGameCore core;
    EXPECT_FALSE(loadPngAlpha(alphaPng.data(), static_cast<std::size_t>(alphaPng.size()), wrongSize));
    EXPECT_TRUE(core.log().contains(
        "PNG READER: Can't load alpha. Image size is different: expected [4x4] but found [3x2]"));
    MemoryStream rgbPng;
    ASSERT_TRUE(writePng(wrongSize, rgbPng, false));
    EXPECT_FALSE(loadPngAlpha(rgbPng.data(), static_cast<std::size_t>(rgbPng.size()), wrongSize));
    EXPECT_TRUE(core.log().contains("PNG READER: Can't load alpha from PNG"));
}

TEST(Image, SaveImageFileAppendsTheExtension) {
    testing_support::TempDir dir;
    TgaImage image;
    ASSERT_TRUE(image.create(false, 2, 2));
    image.fillRgb(255, 0, 0);
    for (int format : {ImageFormatTga, ImageFormatJpeg, ImageFormatPng})
        ASSERT_TRUE(saveImageFile(format, image, dir.file("shots/shot"), 90)) << format;
    const std::string tga = testing_support::readFile(dir.file("shots/shot.tga"));
    ASSERT_EQ(tga.size(), 18u + 12u);
    EXPECT_EQ(static_cast<std::uint8_t>(tga[18 + 2]), 255);  // R of the first pixel
    EXPECT_TRUE(testing_support::exists(dir.file("shots/shot.jpg")));
    const std::string png = testing_support::readFile(dir.file("shots/shot.png"));
    TgaImage back;
    ASSERT_TRUE(decodeImage(reinterpret_cast<const std::uint8_t*>(png.data()), png.size(), back));
    EXPECT_EQ(pixelsOf(back), pixelsOf(image));
}

TEST(Image, PixelOperations) {
    TgaImage image;
    ASSERT_TRUE(image.create(false, 2, 1));
    const Bytes start = {1, 2, 3, 4, 5, 6};
    std::memcpy(image.pixels(), start.data(), 6);

    image.setAlpha(true, 9, false);
    EXPECT_EQ(pixelsOf(image), (Bytes{1, 2, 3, 9, 4, 5, 6, 9}));
    EXPECT_EQ(image.rowSize, 8u);
    image.setAlpha(true, 7, false);  // already on: unchanged
    EXPECT_EQ(pixelsOf(image), (Bytes{1, 2, 3, 9, 4, 5, 6, 9}));

    TgaImage grey;
    ASSERT_TRUE(image.toRgb24(grey, true));
    EXPECT_EQ(pixelsOf(grey), (Bytes{9, 9, 9, 9, 9, 9}));
    TgaImage untouched;
    EXPECT_FALSE(grey.toRgb24(untouched, true));  // no alpha to show
    EXPECT_EQ(untouched.width, 0u);

    image.fillRgb(10, 20, 30);
    EXPECT_EQ(pixelsOf(image), (Bytes{30, 20, 10, 9, 30, 20, 10, 9}));
    image.setAlpha(false, 0, false);
    EXPECT_EQ(pixelsOf(image), (Bytes{30, 20, 10, 30, 20, 10}));
    EXPECT_FALSE(image.hasAlpha());

    TgaImage copy;
    image.copyTo(copy);
    EXPECT_EQ(pixelsOf(copy), pixelsOf(image));
    copy.setAlpha(true, 0x55, true);
    EXPECT_EQ(copy.bytesPerPixel, 1u);
    EXPECT_EQ(pixelsOf(copy), (Bytes{0x55, 0x55}));
}

TEST(Image, SizesTheDataCannotHoldAreRefusedBeforeAllocation) {
    // A JPEG padded so that the data could hold the size it claims.
    Bytes padded = withJpegSize(makeJpeg(16, 16, true), 12000, 12000);
    padded.resize(padded.size() + 600000, 0);
    struct Case {
        const char* name;
        Bytes data;
        const char* message;
    } cases[] = {
        {"PNG of 8192 x 8192 in 68 bytes", makeBarePng(8192, 8192, PNG_COLOR_TYPE_RGB_ALPHA),
         "PNG READER: image data too short for its size"},
        {"JPEG of 8000 x 8000 in a few hundred bytes", withJpegSize(makeJpeg(8, 8, false), 8000, 8000),
         "Can't decode JPEG image: the data are too short for its size [8000x8000]"},
        {"progressive JPEG of 8000 x 8000", withJpegSize(makeJpeg(16, 16, true), 8000, 8000),
         "Can't decode JPEG image: the data are too short for its size [8000x8000]"},
        {"progressive JPEG of 12000 x 12000 with padding", padded,
         "Can't decode JPEG image: unsupported size or components"},
    };
    for (const Case& c : cases) {
        testing_support::ScopedGameCore core;
        TgaImage image;
        {
            testing_support::LargestAllocation largest;
            EXPECT_FALSE(decodeImage(c.data.data(), c.data.size(), image)) << c.name;
            if (testing_support::LargestAllocation::recording()) {
                EXPECT_LT(largest.bytes(), 16u << 20) << c.name;
            }
        }
        EXPECT_TRUE(core.log().contains(c.message)) << c.name;
        EXPECT_EQ(image.width, 0u) << c.name;
    }
    // The same forms at their true sizes decode.
    testing_support::ScopedGameCore core;
    TgaImage image;
    const Bytes progressive = makeJpeg(64, 48, true);
    ASSERT_TRUE(decodeImage(progressive.data(), progressive.size(), image));
    EXPECT_EQ(image.width, 64u);
    EXPECT_EQ(image.height, 48u);
    const Bytes bare = makeBarePng(2, 2, PNG_COLOR_TYPE_GRAY);
    EXPECT_TRUE(decodeImage(bare.data(), bare.size(), image));
}

TEST(Image, PngChunksRunningPastTheDataAreRefusedBeforeTheLibraryAllocates) {
    const Bytes bare = makeBarePng(2, 2, PNG_COLOR_TYPE_GRAY);
    const std::size_t idat = 8 + 25;  // behind the signature and the header chunk
    auto withLength = [](Bytes data, std::size_t at, std::uint32_t length) {
        for (int i = 0; i < 4; ++i) data[at + i] = static_cast<std::uint8_t>(length >> (8 * (3 - i)));
        return data;
    };
    // A text chunk that claims 1.5 GB in a file of 54 bytes.
    Bytes text(bare.begin(), bare.begin() + idat);
    for (const std::uint8_t byte : {0x60, 0x00, 0x00, 0x00}) text.push_back(byte);
    const char* body = "tEXtComment\0abcde";
    text.insert(text.end(), body, body + 17);
    ASSERT_EQ(text.size(), 54u);
    struct Case {
        const char* name;
        Bytes data;
        const char* message;
    } cases[] = {
        {"text chunk of 1.5 GB", text, "PNG READER: chunk [tEXt] of 1610612736 bytes runs past the end of the data"},
        {"image data past the end", withLength(bare, idat, 4000), "PNG READER: chunk [IDAT] of 4000 bytes runs past"},
        {"chunk header cut short", Bytes(bare.begin(), bare.begin() + idat + 6),
         "PNG READER: chunk header cut short at byte 33"},
    };
    for (const Case& c : cases) {
        testing_support::ScopedGameCore core;
        TgaImage image;
        ASSERT_TRUE(image.create(false, 2, 2));
        {
            testing_support::LargestAllocation largest;
            EXPECT_FALSE(decodeImage(c.data.data(), c.data.size(), image)) << c.name;
            EXPECT_FALSE(loadPngAlpha(c.data.data(), c.data.size(), image)) << c.name;
            if (testing_support::LargestAllocation::recording()) EXPECT_LT(largest.bytes(), 1u << 20) << c.name;
        }
        EXPECT_TRUE(core.log().contains(c.message)) << c.name;
        EXPECT_FALSE(image.hasAlpha()) << c.name;
    }
    // Bytes behind the end chunk are not walked.
    Bytes trailing = bare;
    trailing.insert(trailing.end(), {0xFF, 0xFF, 0xFF, 0xFF, 't', 'E', 'X', 't'});
    testing_support::ScopedGameCore core;
    TgaImage image;
    ASSERT_TRUE(decodeImage(trailing.data(), trailing.size(), image));
    EXPECT_EQ(image.width, 2u);
}

TEST(Image, JpegWithCorruptScanDataIsRefused) {
    const Bytes good = makeJpeg(64, 64, false);
    const std::size_t scan = jpegScanStart(good);
    Bytes badCodes = good;
    // Stuffed 0xFF bytes: all-ones bits, which no Huffman code is.
    for (std::size_t i = 0; i < 8; i += 2) {
        badCodes[scan + 40 + i] = 0xFF;
        badCodes[scan + 41 + i] = 0x00;
    }
    Bytes cutScan(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(scan + 30));
    // A progressive file is read whole before its picture is made.
    Bytes cutProgressive = makeJpeg(64, 64, true);
    cutProgressive.resize(cutProgressive.size() * 2 / 3);
    for (const Bytes* data : {&badCodes, &cutScan, &cutProgressive}) {
        testing_support::ScopedGameCore core;
        TgaImage image;
        EXPECT_FALSE(decodeImage(data->data(), data->size(), image));
        EXPECT_TRUE(core.log().contains("Can't decode JPEG image: "));
        EXPECT_EQ(image.width, 0u);
    }
}

TEST(Image, DamagedImagesAreRefused) {
    const Bytes good24 = makeTga(2, 2, 2, 24, 0x20, Bytes(12, 7));
    Bytes pngGood = makePng({4, 4, PNG_COLOR_TYPE_RGB, 8, std::vector<std::uint16_t>(48, 100), {}, {}});
    TgaImage sample;
    ASSERT_TRUE(sample.create(false, 8, 8));
    MemoryStream jpegStream;
    ASSERT_TRUE(writeImage(sample, jpegStream, 60));
    const Bytes jpegGood = toBytes(jpegStream);

    auto withByte = [](Bytes data, std::size_t at, std::uint8_t value) {
        data[at] = value;
        return data;
    };
    auto cut = [](const Bytes& data, std::size_t size) { return Bytes(data.begin(), data.begin() + size); };

    struct Case {
        const char* name;
        Bytes data;
    };
    const Case cases[] = {
        {"empty", {}},
        {"17 bytes", Bytes(good24.begin(), good24.begin() + 17)},
        {"grey TGA (type 3)", withByte(good24, 2, 3)},
        {"TGA with colour map", withByte(good24, 1, 1)},
        {"TGA with image id", withByte(good24, 0, 4)},
        {"16-bit TGA", withByte(good24, 16, 16)},
        {"8-bit TGA", withByte(good24, 16, 8)},
        {"TGA pixels cut short", cut(good24, 20)},
        {"TGA larger than its data", withByte(good24, 13, 0xFF)},
        {"TGA of zero width", withByte(withByte(good24, 12, 0), 13, 0)},
        {"TGA 65535 x 65535", makeTga(2, 65535, 65535, 32, 0x20, Bytes(64, 1))},
        {"RLE run past the pixel count", makeTga(10, 2, 1, 24, 0x20, {0x82, 1, 2, 3})},
        {"RLE raw packet past the pixel count", makeTga(10, 2, 1, 24, 0x20, {0x02, 1, 2, 3, 4, 5, 6, 7, 8, 9})},
        {"RLE data ending early", makeTga(10, 4, 1, 24, 0x00, {0x81, 1, 2, 3})},
        {"RLE run without its pixel", makeTga(10, 2, 1, 24, 0x00, {0x81, 1})},
        {"RLE raw packet cut short", makeTga(10, 2, 1, 24, 0x20, {0x01, 1, 2, 3, 4})},
        {"PNG signature only", cut(pngGood, 8)},
        {"PNG cut in the header", cut(pngGood, 20)},
        {"PNG cut in the data", cut(pngGood, pngGood.size() - 20)},
        {"PNG with a flipped header byte", withByte(pngGood, 18, 0x7F)},
        {"PNG with a flipped data byte", withByte(pngGood, pngGood.size() - 20, 0x00)},
        {"JPEG marker only", {0xFF, 0xD8}},
        {"JPEG cut short", cut(jpegGood, jpegGood.size() / 2)},
        {"JPEG with garbage after its marker", {0xFF, 0xD8, 0x00, 0x11, 0x22, 0x33, 0x44}},
        {"unknown", {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19}},
    };
    for (const Case& c : cases) {
        testing_support::ScopedGameCore core;
        TgaImage image;
        ASSERT_TRUE(image.create(false, 1, 1));
        image.fillRgb(1, 2, 3);
        EXPECT_FALSE(decodeImage(c.data.data(), c.data.size(), image)) << c.name;
        EXPECT_GT(core.log().recordCount(), 0u) << c.name;
        // The image keeps what it held.
        EXPECT_EQ(image.width, 1u) << c.name;
        EXPECT_EQ(pixelsOf(image), (Bytes{3, 2, 1})) << c.name;
    }
}

TEST(Image, FlippedBytesNeverCrashTheDecoders) {
    const Bytes png = makePng({5, 3, PNG_COLOR_TYPE_PALETTE, 8, std::vector<std::uint16_t>(15, 1),
                         {{1, 2, 3}, {4, 5, 6}}, {}});
    TgaImage sample;
    ASSERT_TRUE(sample.create(false, 16, 8));
    MemoryStream jpegStream;
    ASSERT_TRUE(writeImage(sample, jpegStream, 60));
    const Bytes jpeg = toBytes(jpegStream);
    const Bytes rle = makeTga(10, 4, 2, 32, 0x28, {0x84, 1, 2, 3, 4, 0x02, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16});

    testing_support::ScopedGameCore core;
    for (const Bytes* source : {&png, &jpeg, &rle}) {
        for (std::size_t at = 0; at < source->size(); ++at) {
            for (std::uint8_t mask : {0x01, 0x80, 0xFF}) {
                Bytes data = *source;
                data[at] ^= mask;
                TgaImage image;
                if (decodeImage(data.data(), data.size(), image)) {
                    ASSERT_TRUE(image.unpack());
                    ASSERT_EQ(image.block.size(),
                              TgaImage::kHeaderSize + std::size_t{image.width} * image.height * image.bytesPerPixel);
                }
            }
        }
    }
}
