// Raster images in memory and their codecs.
//
// A TgaImage keeps an 18-byte TGA header and the pixels in one block, so the
// block can be written out unchanged as a ".tga" file. Pixels run top row
// first, each B, G, R (and A). Images come in from TGA (uncompressed or
// RLE), PNG (libpng) and JPEG (libjpeg) data held in memory and go out as
// TGA, JPEG or PNG; every decoded image comes out unpacked. Sizes from
// headers are checked against the caps and against what the data that
// follow can hold before anything is allocated for them; a damaged image
// (JPEG scan data that end early or are corrupt included) is refused with a
// logged message and the target image keeps what it held. Library errors return through jump buffers,
// never ending the process.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

class DataStream;

// Bits of TgaImage::flags.
constexpr std::uint32_t kImageAlpha = 2;  // 4 bytes per pixel
constexpr std::uint32_t kImageRle = 4;    // the pixel bytes are still RLE-packed (never after a decode)

// Output formats (stored values).
enum ImageFormat : int { ImageFormatTga = 0, ImageFormatJpeg = 1, ImageFormatPng = 2 };

// Largest width or height, and largest pixel block, that an image may have.
constexpr std::uint32_t kMaxImageSide = 65535;
constexpr std::uint64_t kMaxImageBytes = 256ull << 20;

class TgaImage {
public:
    static constexpr std::size_t kHeaderSize = 18;

    // An empty image of the given size, alpha giving 4 bytes per pixel, else
    // 3; pixels zeroed. False (logged, image unchanged) beyond the caps.
    bool create(bool alpha, std::uint32_t width, std::uint32_t height);
    // Writes the 18-byte header from the fields.
    void updateHeader();
    // Parses a TGA file held in memory. False without a message when the
    // data are no uncompressed or RLE true-colour TGA; false with a message
    // when such a file is damaged. Every form ends up unpacked and top-down.
    bool readTga(const std::uint8_t* data, std::size_t size);
    // Expands RLE-packed pixels; true when there is nothing to do. False
    // (logged, image unchanged) when the packets do not give exactly
    // width x height pixels.
    bool unpack();
    void copyTo(TgaImage& other) const;
    // other becomes a 3-byte image of the same size holding this image's
    // colours, or with alphaAsGrey its alpha channel as grey. False, other
    // unchanged, for an empty or packed image, or alphaAsGrey without alpha.
    bool toRgb24(TgaImage& other, bool alphaAsGrey) const;
    // on: widens 3-byte pixels to 4 with alpha = value (alphaOnly: the image
    // becomes one byte per pixel, each = value); off: drops the alpha byte.
    // An image already in that state is left alone.
    void setAlpha(bool on, std::uint8_t value, bool alphaOnly);
    void fillRgb(std::uint8_t red, std::uint8_t green, std::uint8_t blue);

    std::uint8_t* pixels() { return block.size() > kHeaderSize ? block.data() + kHeaderSize : nullptr; }
    const std::uint8_t* pixels() const {
        return block.size() > kHeaderSize ? block.data() + kHeaderSize : nullptr;
    }
    bool hasAlpha() const { return (flags & kImageAlpha) != 0; }

    std::uint32_t flags = 0;
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::uint32_t bytesPerPixel = 0;
    std::uint32_t rowSize = 0;  // packed byte count while RLE-packed
    std::vector<std::uint8_t> block;  // header, then pixel bytes
    std::uint32_t pixelByteCount = 0;
};

// Decodes PNG (by its signature), else TGA, else JPEG (FF D8) data into
// image; false, logged, image unchanged, when none can be read.
bool decodeImage(const std::uint8_t* data, std::size_t size, TgaImage& image);
// Decodes JPEG data as 3-byte pixels, or 4 with alpha 255 when alpha is set.
bool decodeJpeg(const std::uint8_t* data, std::size_t size, TgaImage& image, bool alpha);
// Decodes PNG data; grey, palette, 16-bit and grey-alpha images come out as
// 8-bit B, G, R (and A).
bool decodePng(const std::uint8_t* data, std::size_t size, TgaImage& image);
// Takes the alpha (RGBA) or grey (grey) channel of a PNG of the image's size
// as the image's alpha; an image without alpha gains it.
bool loadPngAlpha(const std::uint8_t* data, std::size_t size, TgaImage& image);

// The PNG converter's requests: the picture's colours, its alpha merged
// into the image, or one of the two mono forms, which are refused (logged).
enum class PngConversion { Rgb, AlphaMerge, GrayMono, Mono };
bool convertPng(const std::uint8_t* data, std::size_t size, TgaImage& image, PngConversion conversion);

// The JPEG quality that stands for the export setting ("jpg_quality").
constexpr int kJpegExportQuality = -1;

// Encodes an image into a stream as TGA (header and pixels), JPEG at the
// given quality (1 to 100; kJpegExportQuality: the export setting) or PNG.
// False, logged, on failure.
bool encodeImage(int format, TgaImage& image, DataStream& stream, int quality);
// The JPEG encoder alone.
bool writeImage(const TgaImage& image, DataStream& stream, int quality);
// The PNG encoder; alphaOnly writes the alpha channel as a grey image.
bool writePng(const TgaImage& image, DataStream& stream, bool alphaOnly);
// Encodes and writes the image to path with the format's extension
// (".tga", ".jpg", ".png") appended, creating missing folders.
bool saveImageFile(int format, TgaImage& image, std::string_view path, int quality);
