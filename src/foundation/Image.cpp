#include "foundation/Image.h"

#include <cctype>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include <jpeglib.h>
#include <jerror.h>
#include <png.h>

#include "foundation/DataStream.h"
#include "foundation/ExportSettings.h"
#include "foundation/Log.h"
#include "foundation/PackedStream.h"

namespace {

constexpr std::uint8_t kPngSignature[8] = {0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A, 0x0A};

bool withinCaps(std::uint64_t width, std::uint64_t height, std::uint64_t bytesPerPixel) {
    return width <= kMaxImageSide && height <= kMaxImageSide && width * height * bytesPerPixel <= kMaxImageBytes;
}

bool isPng(const std::uint8_t* data, std::size_t size) {
    return data && size >= 8 && std::memcmp(data, kPngSignature, 8) == 0;
}

constexpr std::uint8_t kTgaPlain[7] = {0, 0, 2, 0, 0, 0, 0};
constexpr std::uint8_t kTgaPacked[7] = {0, 0, 10, 0, 0, 0, 0};

bool isTga(const std::uint8_t* data, std::size_t size) {
    return data && size >= 7 && (std::memcmp(data, kTgaPlain, 7) == 0 || std::memcmp(data, kTgaPacked, 7) == 0);
}

// Decodes RLE packets from in (size bytes) into count pixels of bpp bytes.
// out may be null (validation only). Returns the packed bytes consumed, or
// 0 when the packets overrun the input or the pixel count.
std::size_t rleDecode(const std::uint8_t* in, std::size_t size, std::uint8_t* out, std::uint64_t count,
                      std::uint32_t bpp) {
    std::size_t pos = 0;
    std::uint64_t produced = 0;
    while (produced < count) {
        if (pos >= size) return 0;
        const std::uint8_t head = in[pos++];
        const std::uint32_t n = (head & 127u) + 1u;
        if (produced + n > count) return 0;
        if (head >= 128) {
            if (size - pos < bpp) return 0;
            if (out)
                for (std::uint32_t i = 0; i < n; ++i) std::memcpy(out + (produced + i) * bpp, in + pos, bpp);
            pos += bpp;
        } else {
            const std::size_t bytes = static_cast<std::size_t>(n) * bpp;
            if (size - pos < bytes) return 0;
            if (out) std::memcpy(out + produced * bpp, in + pos, bytes);
            pos += bytes;
        }
        produced += n;
    }
    return pos;
}

void reverseRows(std::uint8_t* pixels, std::uint32_t rowSize, std::uint32_t height) {
    std::vector<std::uint8_t> row(rowSize);
    for (std::uint32_t top = 0, bottom = height ? height - 1 : 0; top < bottom; ++top, --bottom) {
        std::uint8_t* a = pixels + static_cast<std::size_t>(top) * rowSize;
        std::uint8_t* b = pixels + static_cast<std::size_t>(bottom) * rowSize;
        std::memcpy(row.data(), a, rowSize);
        std::memcpy(a, b, rowSize);
        std::memcpy(b, row.data(), rowSize);
    }
}

}  // namespace

// ---- TgaImage

bool TgaImage::create(bool alpha, std::uint32_t w, std::uint32_t h) {
    const std::uint32_t bpp = alpha ? 4 : 3;
    if (!withinCaps(w, h, bpp))
        return engineLog().error("Can't create image [%ux%u]: too large", w, h);
    width = w;
    height = h;
    bytesPerPixel = bpp;
    flags = alpha ? kImageAlpha : 0;
    rowSize = w * bpp;
    pixelByteCount = rowSize * h;
    block.assign(kHeaderSize + pixelByteCount, 0);
    return true;
}

void TgaImage::updateHeader() {
    if (block.size() < kHeaderSize) block.resize(kHeaderSize);
    std::uint8_t* h = block.data();
    std::memset(h, 0, kHeaderSize);
    h[2] = (flags & kImageRle) ? 10 : 2;
    h[12] = static_cast<std::uint8_t>(width);
    h[13] = static_cast<std::uint8_t>(width >> 8);
    h[14] = static_cast<std::uint8_t>(height);
    h[15] = static_cast<std::uint8_t>(height >> 8);
    h[16] = bytesPerPixel == 1 ? 8 : (hasAlpha() ? 32 : 24);
    h[17] = static_cast<std::uint8_t>(0x20 | (hasAlpha() ? 8 : 0));
}

bool TgaImage::readTga(const std::uint8_t* data, std::size_t size) {
    if (!data || size < kHeaderSize || !isTga(data, size)) return false;
    const bool rle = data[2] == 10;

    const std::uint32_t w = data[12] | (data[13] << 8);
    const std::uint32_t h = data[14] | (data[15] << 8);
    const std::uint32_t depth = data[16];
    const std::uint32_t bpp = depth / 8;
    const std::uint8_t descriptor = data[17];
    if (depth != 24 && depth != 32)
        return engineLog().error("Can't read TGA image: unsupported pixel depth %u", depth);
    if (w == 0 || h == 0) return engineLog().error("Can't read TGA image: empty size [%ux%u]", w, h);
    if (!withinCaps(w, h, bpp)) return engineLog().error("Can't read TGA image [%ux%u]: too large", w, h);
    // Alpha only where the pixels have room for it.
    const bool alpha = bpp == 4;
    const bool bottomUp = (descriptor & 0x20) == 0;
    const std::uint64_t count = static_cast<std::uint64_t>(w) * h;
    const std::uint32_t bytes = static_cast<std::uint32_t>(count * bpp);
    const std::uint8_t* in = data + kHeaderSize;
    const std::size_t inSize = size - kHeaderSize;

    TgaImage result;
    result.width = w;
    result.height = h;
    result.bytesPerPixel = bpp;
    result.flags = alpha ? kImageAlpha : 0;
    result.rowSize = w * bpp;
    if (!rle) {
        if (inSize < bytes)
            return engineLog().error("Can't read TGA image [%ux%u]: %zu pixel bytes where %u are needed", w, h,
                                     inSize, bytes);
        result.block.assign(data, data + kHeaderSize + bytes);
        result.pixelByteCount = bytes;
        if (bottomUp) reverseRows(result.pixels(), result.rowSize, h);
    } else {
        // The packets are checked before the pixel block is allocated.
        if (rleDecode(in, inSize, nullptr, count, bpp) == 0)
            return engineLog().error("Can't read TGA image [%ux%u]: bad RLE data", w, h);
        result.block.assign(kHeaderSize + bytes, 0);
        std::memcpy(result.block.data(), data, kHeaderSize);
        rleDecode(in, inSize, result.pixels(), count, bpp);
        result.pixelByteCount = bytes;
        if (bottomUp) reverseRows(result.pixels(), result.rowSize, h);
    }
    *this = std::move(result);
    return true;
}

bool TgaImage::unpack() {
    if (!(flags & kImageRle)) return true;
    const std::uint64_t count = static_cast<std::uint64_t>(width) * height;
    if (!withinCaps(width, height, bytesPerPixel) || (bytesPerPixel != 3 && bytesPerPixel != 4) ||
        block.size() < kHeaderSize)
        return engineLog().error("Can't unpack TGA image [%ux%u]: bad size", width, height);
    const std::uint32_t bytes = static_cast<std::uint32_t>(count * bytesPerPixel);
    std::vector<std::uint8_t> unpacked(kHeaderSize + bytes, 0);
    std::memcpy(unpacked.data(), block.data(), kHeaderSize);
    if (rleDecode(block.data() + kHeaderSize, block.size() - kHeaderSize, unpacked.data() + kHeaderSize, count,
                  bytesPerPixel) == 0)
        return engineLog().error("Can't unpack TGA image [%ux%u]: bad RLE data", width, height);
    block = std::move(unpacked);
    rowSize = width * bytesPerPixel;
    pixelByteCount = bytes;
    flags &= ~kImageRle;
    return true;
}

void TgaImage::copyTo(TgaImage& other) const {
    if (&other == this) return;
    other.flags = flags;
    other.width = width;
    other.height = height;
    other.bytesPerPixel = bytesPerPixel;
    other.rowSize = rowSize;
    other.pixelByteCount = pixelByteCount;
    other.block = block;
}

bool TgaImage::toRgb24(TgaImage& other, bool alphaAsGrey) const {
    if (width == 0 || height == 0 || (flags & kImageRle) || bytesPerPixel < 3) return false;
    if (alphaAsGrey && !hasAlpha()) return false;
    if (pixelByteCount < static_cast<std::uint64_t>(width) * height * bytesPerPixel) return false;
    TgaImage result;
    if (!result.create(false, width, height)) return false;
    const std::uint8_t* src = pixels();
    std::uint8_t* dst = result.pixels();
    const std::size_t count = static_cast<std::size_t>(width) * height;
    for (std::size_t i = 0; i < count; ++i, src += bytesPerPixel, dst += 3) {
        if (alphaAsGrey) {
            dst[0] = dst[1] = dst[2] = src[3];
        } else {
            dst[0] = src[0];
            dst[1] = src[1];
            dst[2] = src[2];
        }
    }
    other = std::move(result);
    return true;
}

void TgaImage::setAlpha(bool on, std::uint8_t value, bool alphaOnly) {
    if ((flags & kImageRle) && !unpack()) return;
    const std::size_t count = static_cast<std::size_t>(width) * height;
    if (block.size() < kHeaderSize + count * bytesPerPixel) return;
    if (!on) {
        if (!hasAlpha() || bytesPerPixel != 4) return;
        std::uint8_t* p = pixels();
        for (std::size_t i = 0; i < count; ++i) std::memmove(p + i * 3, p + i * 4, 3);
        bytesPerPixel = 3;
        flags &= ~kImageAlpha;
    } else {
        if (hasAlpha() || bytesPerPixel != 3) return;
        if (alphaOnly) {
            bytesPerPixel = 1;
            block.resize(kHeaderSize + count);
            std::memset(block.data() + kHeaderSize, value, count);
        } else {
            block.resize(kHeaderSize + count * 4);
            std::uint8_t* p = block.data() + kHeaderSize;
            for (std::size_t i = count; i-- > 0;) {
                p[i * 4 + 3] = value;
                p[i * 4 + 2] = p[i * 3 + 2];
                p[i * 4 + 1] = p[i * 3 + 1];
                p[i * 4 + 0] = p[i * 3 + 0];
            }
            bytesPerPixel = 4;
        }
        flags |= kImageAlpha;
    }
    rowSize = width * bytesPerPixel;
    pixelByteCount = static_cast<std::uint32_t>(count * bytesPerPixel);
    block.resize(kHeaderSize + pixelByteCount);
}

void TgaImage::fillRgb(std::uint8_t red, std::uint8_t green, std::uint8_t blue) {
    if ((flags & kImageRle) || bytesPerPixel < 3) return;
    const std::size_t count = static_cast<std::size_t>(width) * height;
    if (block.size() < kHeaderSize + count * bytesPerPixel) return;
    std::uint8_t* p = pixels();
    for (std::size_t i = 0; i < count; ++i, p += bytesPerPixel) {
        p[0] = blue;
        p[1] = green;
        p[2] = red;
    }
}

// ---- PNG

namespace {

struct PngReadSource {
    const std::uint8_t* data;
    std::size_t size;
    std::size_t position;
};

struct PngContext {
    std::string error;  // what the library reported
};

void pngError(png_structp png, png_const_charp message) {
    auto* context = static_cast<PngContext*>(png_get_error_ptr(png));
    if (context) context->error = message ? message : "";
    png_longjmp(png, 1);
}

void pngWarning(png_structp, png_const_charp) {}

void pngReadData(png_structp png, png_bytep out, png_size_t count) {
    auto* source = static_cast<PngReadSource*>(png_get_io_ptr(png));
    if (!source || source->size - source->position < count) png_error(png, "read past the end of the data");
    std::memcpy(out, source->data + source->position, count);
    source->position += count;
}

void pngWriteData(png_structp png, png_bytep data, png_size_t count) {
    auto* stream = static_cast<DataStream*>(png_get_io_ptr(png));
    if (count > 0x7FFFFFFF || stream->write(data, static_cast<std::int32_t>(count)) != static_cast<std::int32_t>(count))
        png_error(png, "stream write failed");
}

void pngFlush(png_structp) {}

// A decoded PNG: 8-bit rows of 1 (grey), 3 (RGB) or 4 (RGBA) channels.
struct PngPicture {
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    int colorType = 0;  // 0 grey, 2 RGB, 6 RGBA
    std::uint32_t channels = 0;
    std::vector<std::uint8_t> pixels;
    std::vector<png_bytep> rows;
};

// Everything the jump can skip lives behind this pointer, never in locals.
struct PngReadJob {
    PngReadSource source;
    PngContext context;
    PngPicture picture;
    png_structp png = nullptr;
    png_infop info = nullptr;
    const char* stage = "PNG READER: Error during read_image";
    bool tooLarge = false;
    bool tooShort = false;
};

bool runPngRead(PngReadJob* job) {
    if (setjmp(png_jmpbuf(job->png))) return false;
    job->stage = "PNG READER: Error during init_io";
    png_set_read_fn(job->png, &job->source, pngReadData);
    job->stage = "PNG READER: Error during read_image";
    png_set_user_limits(job->png, kMaxImageSide, kMaxImageSide);
    png_read_info(job->png, job->info);
    const std::uint32_t width = png_get_image_width(job->png, job->info);
    const std::uint32_t height = png_get_image_height(job->png, job->info);
    const int colorType = png_get_color_type(job->png, job->info);
    const int depth = png_get_bit_depth(job->png, job->info);
    if (!withinCaps(width, height, 4)) {
        job->tooLarge = true;
        return false;
    }
    // The pixel rows are zlib-packed in the data that follow: a size they
    // cannot hold is refused before the rows are allocated.
    const std::uint64_t rowBits = static_cast<std::uint64_t>(width) * png_get_channels(job->png, job->info) *
                                  static_cast<std::uint64_t>(depth);
    const std::uint64_t packedRows = height * ((rowBits + 7) / 8);
    if (packedRows > maxUnpackedSize(job->source.size - job->source.position)) {
        job->tooShort = true;
        return false;
    }
    // Everything becomes 8-bit grey, RGB or RGBA.
    if (colorType == PNG_COLOR_TYPE_PALETTE) png_set_palette_to_rgb(job->png);
    if (colorType == PNG_COLOR_TYPE_GRAY && depth < 8) png_set_expand_gray_1_2_4_to_8(job->png);
    if ((colorType == PNG_COLOR_TYPE_PALETTE || colorType == PNG_COLOR_TYPE_RGB) &&
        png_get_valid(job->png, job->info, PNG_INFO_tRNS))
        png_set_tRNS_to_alpha(job->png);
    if (depth == 16) png_set_strip_16(job->png);
    if (colorType == PNG_COLOR_TYPE_GRAY_ALPHA) png_set_gray_to_rgb(job->png);
    png_set_interlace_handling(job->png);
    png_read_update_info(job->png, job->info);

    PngPicture& picture = job->picture;
    picture.width = width;
    picture.height = height;
    picture.colorType = png_get_color_type(job->png, job->info);
    picture.channels = png_get_channels(job->png, job->info);
    const std::size_t rowBytes = png_get_rowbytes(job->png, job->info);
    if (png_get_bit_depth(job->png, job->info) != 8 || rowBytes != static_cast<std::size_t>(width) * picture.channels)
        png_error(job->png, "unexpected row layout");
    picture.pixels.assign(rowBytes * height, 0);
    picture.rows.resize(height);
    for (std::uint32_t y = 0; y < height; ++y) picture.rows[y] = picture.pixels.data() + rowBytes * y;
    png_read_image(job->png, picture.rows.data());
    png_read_end(job->png, nullptr);
    return true;
}

// Walks the chunk list behind the signature up to the end chunk: every
// chunk (length, type, data, CRC) must lie within the data. The library
// takes a chunk's length as it stands and allocates it before it reads, so
// a few bytes could claim gigabytes. False, logged, for one that does not.
bool pngChunksFit(const std::uint8_t* data, std::size_t size) {
    constexpr std::size_t kChunkFrame = 12;  // length, type and CRC
    std::size_t at = 8;
    while (at < size) {
        if (size - at < kChunkFrame) return engineLog().error("PNG READER: chunk header cut short at byte %zu", at);
        const std::uint32_t length = std::uint32_t(data[at]) << 24 | std::uint32_t(data[at + 1]) << 16 |
                                     std::uint32_t(data[at + 2]) << 8 | data[at + 3];
        char type[5] = {};
        for (int i = 0; i < 4; ++i) {
            const char c = static_cast<char>(data[at + 4 + i]);
            type[i] = std::isalpha(static_cast<unsigned char>(c)) ? c : '?';
        }
        if (length > size - at - kChunkFrame)
            return engineLog().error("PNG READER: chunk [%s] of %u bytes runs past the end of the data", type, length);
        at += kChunkFrame + length;
        if (std::memcmp(type, "IEND", 4) == 0) break;
    }
    return true;
}

// Reads a whole PNG into picture; false, logged, on any failure.
bool readPngPicture(const std::uint8_t* data, std::size_t size, PngPicture& picture) {
    if (!data || size < 8) return engineLog().error("PNG READER: File could not be read");
    if (std::memcmp(data, kPngSignature, 8) != 0) return engineLog().error("PNG READER: File could not be read");
    if (!pngChunksFit(data, size)) return false;
    auto job = std::make_unique<PngReadJob>();
    job->source = {data, size, 0};
    job->png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &job->context, pngError, pngWarning);
    if (!job->png) return engineLog().error("PNG READER: png_create_read_struct failed");
    job->info = png_create_info_struct(job->png);
    if (!job->info) {
        png_destroy_read_struct(&job->png, nullptr, nullptr);
        return engineLog().error("PNG READER: png_create_info_struct failed");
    }
    const bool ok = runPngRead(job.get());
    png_destroy_read_struct(&job->png, &job->info, nullptr);
    if (!ok) {
        if (job->tooLarge) return engineLog().error("PNG READER: image too large");
        if (job->tooShort) return engineLog().error("PNG READER: image data too short for its size");
        return engineLog().error("%s: %s", job->stage, job->context.error.c_str());
    }
    if (job->picture.colorType != PNG_COLOR_TYPE_GRAY && job->picture.colorType != PNG_COLOR_TYPE_RGB &&
        job->picture.colorType != PNG_COLOR_TYPE_RGB_ALPHA)
        return engineLog().error("PNG READER: wrong PNG color scheme");
    picture = std::move(job->picture);
    return true;
}

struct PngWriteJob {
    DataStream* stream = nullptr;
    PngContext context;
    png_structp png = nullptr;
    png_infop info = nullptr;
    std::vector<std::uint8_t> pixels;
    std::vector<png_bytep> rows;
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    int colorType = 0;
    const char* stage = "PNG READER: Error during writing header";
};

bool runPngWrite(PngWriteJob* job) {
    if (setjmp(png_jmpbuf(job->png))) return false;
    png_set_write_fn(job->png, job->stream, pngWriteData, pngFlush);
    png_set_IHDR(job->png, job->info, job->width, job->height, 8, job->colorType, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(job->png, job->info);
    job->stage = "PNG READER: Error during writing bytes";
    png_write_image(job->png, job->rows.data());
    job->stage = "PNG READER: Error during end of write";
    png_write_end(job->png, nullptr);
    return true;
}

}  // namespace

bool decodePng(const std::uint8_t* data, std::size_t size, TgaImage& image) {
    PngPicture picture;
    if (!readPngPicture(data, size, picture)) return false;
    TgaImage result;
    if (!result.create(picture.colorType == PNG_COLOR_TYPE_RGB_ALPHA, picture.width, picture.height)) return false;
    const std::size_t count = static_cast<std::size_t>(picture.width) * picture.height;
    const std::uint8_t* src = picture.pixels.data();
    std::uint8_t* dst = result.pixels();
    for (std::size_t i = 0; i < count; ++i, src += picture.channels, dst += result.bytesPerPixel) {
        if (picture.channels == 1) {
            dst[0] = dst[1] = dst[2] = src[0];
        } else {
            dst[0] = src[2];
            dst[1] = src[1];
            dst[2] = src[0];
            if (picture.channels == 4) dst[3] = src[3];
        }
    }
    image = std::move(result);
    return true;
}

bool loadPngAlpha(const std::uint8_t* data, std::size_t size, TgaImage& image) {
    PngPicture picture;
    if (!readPngPicture(data, size, picture)) return false;
    if (picture.colorType == PNG_COLOR_TYPE_RGB) return engineLog().error("PNG READER: Can't load alpha from PNG");
    if (picture.width != image.width || picture.height != image.height)
        return engineLog().error("PNG READER: Can't load alpha. Image size is different: expected [%ix%i] but found [%ix%i]",
                                 static_cast<int>(image.width), static_cast<int>(image.height),
                                 static_cast<int>(picture.width), static_cast<int>(picture.height));
    TgaImage result;
    image.copyTo(result);
    if (!result.unpack()) return false;
    const std::size_t count = static_cast<std::size_t>(result.width) * result.height;
    if (result.bytesPerPixel < 3 || result.block.size() < TgaImage::kHeaderSize + count * result.bytesPerPixel)
        return engineLog().error("PNG READER: Can't load alpha into a damaged image");
    if (!result.hasAlpha()) result.setAlpha(true, 255, false);
    const std::uint8_t* src = picture.pixels.data();
    std::uint8_t* dst = result.pixels();
    for (std::size_t i = 0; i < count; ++i, src += picture.channels, dst += 4)
        dst[3] = src[picture.channels - 1];
    image = std::move(result);
    return true;
}

bool convertPng(const std::uint8_t* data, std::size_t size, TgaImage& image, PngConversion conversion) {
    switch (conversion) {
    case PngConversion::Rgb: return decodePng(data, size, image);
    case PngConversion::AlphaMerge: return loadPngAlpha(data, size, image);
    case PngConversion::GrayMono: return engineLog().error("Can't load PNG gray mono to rgb");
    case PngConversion::Mono: return engineLog().error("Can't load PNG mono to rgb");
    }
    return false;
}

bool writePng(const TgaImage& image, DataStream& stream, bool alphaOnly) {
    const std::size_t count = static_cast<std::size_t>(image.width) * image.height;
    if ((image.flags & kImageRle) || image.block.size() < TgaImage::kHeaderSize + count * image.bytesPerPixel ||
        image.width == 0 || image.height == 0)
        return engineLog().error("PNG READER: wrong data structure");
    auto job = std::make_unique<PngWriteJob>();
    job->stream = &stream;
    job->width = image.width;
    job->height = image.height;
    std::uint32_t channels;
    if (alphaOnly) {
        if (!image.hasAlpha() || image.bytesPerPixel != 4)
            return engineLog().error("PNG READER: Trying to read empty alpha channel");
        job->colorType = PNG_COLOR_TYPE_GRAY;
        channels = 1;
    } else if (image.bytesPerPixel == 3 || image.bytesPerPixel == 4) {
        job->colorType = image.bytesPerPixel == 4 ? PNG_COLOR_TYPE_RGB_ALPHA : PNG_COLOR_TYPE_RGB;
        channels = image.bytesPerPixel;
    } else {
        return engineLog().error("PNG READER: wrong data structure");
    }
    job->pixels.resize(count * channels);
    const std::uint8_t* src = image.pixels();
    std::uint8_t* dst = job->pixels.data();
    for (std::size_t i = 0; i < count; ++i, src += image.bytesPerPixel, dst += channels) {
        if (alphaOnly) {
            dst[0] = src[3];
        } else {
            dst[0] = src[2];
            dst[1] = src[1];
            dst[2] = src[0];
            if (channels == 4) dst[3] = src[3];
        }
    }
    job->rows.resize(image.height);
    for (std::uint32_t y = 0; y < image.height; ++y)
        job->rows[y] = job->pixels.data() + static_cast<std::size_t>(y) * image.width * channels;

    job->png = png_create_write_struct(PNG_LIBPNG_VER_STRING, &job->context, pngError, pngWarning);
    if (!job->png) return engineLog().error("PNG READER: png_create_write_struct failed");
    job->info = png_create_info_struct(job->png);
    if (!job->info) {
        png_destroy_write_struct(&job->png, nullptr);
        return engineLog().error("PNG READER: png_create_info_struct failed");
    }
    const bool ok = runPngWrite(job.get());
    png_destroy_write_struct(&job->png, &job->info);
    if (!ok) return engineLog().error("%s: %s", job->stage, job->context.error.c_str());
    return true;
}

// ---- JPEG

namespace {

struct JpegError {
    jpeg_error_mgr manager;  // first: the library hands back this pointer
    std::jmp_buf jump;
    char message[JMSG_LENGTH_MAX];
    bool damaged;  // a warning about the scan data came
};

void jpegErrorExit(j_common_ptr info) {
    auto* error = reinterpret_cast<JpegError*>(info->err);
    (*info->err->format_message)(info, error->message);
    std::longjmp(error->jump, 1);
}

void jpegEmitMessage(j_common_ptr info, int level) {
    // Warnings only. Scan data that end early or are corrupt leave a wrong
    // picture; warnings about the file's labels leave it whole.
    if (level >= 0) return;
    const int code = info->err->msg_code;
    if (code == JWRN_ADOBE_XFORM || code == JWRN_JFIF_MAJOR || code == JWRN_BOGUS_ICC) return;
    auto* error = reinterpret_cast<JpegError*>(info->err);
    if (error->damaged) return;
    error->damaged = true;
    (*info->err->format_message)(info, error->message);
}

void jpegOutputMessage(j_common_ptr) {}

void installJpegErrors(JpegError& error) {
    jpeg_std_error(&error.manager);
    error.manager.error_exit = jpegErrorExit;
    error.manager.emit_message = jpegEmitMessage;
    error.manager.output_message = jpegOutputMessage;
    error.message[0] = 0;
    error.damaged = false;
}

struct JpegReadJob {
    JpegError error;
    jpeg_decompress_struct info;
    TgaImage image;
    std::vector<std::uint8_t> row;
    bool alpha = false;
    bool tooLarge = false;
    bool tooShort = false;
    std::uint32_t claimedWidth = 0;
    std::uint32_t claimedHeight = 0;
};

bool runJpegRead(JpegReadJob* job, const std::uint8_t* data, std::size_t size) {
    if (setjmp(job->error.jump)) return false;
    jpeg_create_decompress(&job->info);
    jpeg_mem_src(&job->info, data, static_cast<unsigned long>(size));
    jpeg_read_header(&job->info, TRUE);
    // The size is checked before the library allocates for it: against the
    // caps, and (Huffman coding spends at least one bit on every 8 x 8 block
    // of every component) against the data that follow the header.
    if (!withinCaps(job->info.image_width, job->info.image_height, 4)) {
        job->tooLarge = true;
        return false;
    }
    if (!job->info.arith_code) {
        std::uint64_t blocks = 0;
        for (int c = 0; c < job->info.num_components; ++c)
            blocks += static_cast<std::uint64_t>(job->info.comp_info[c].width_in_blocks) *
                      job->info.comp_info[c].height_in_blocks;
        if (blocks > static_cast<std::uint64_t>(job->info.src->bytes_in_buffer) * 8) {
            job->tooShort = true;
            job->claimedWidth = job->info.image_width;
            job->claimedHeight = job->info.image_height;
            return false;
        }
    }
    job->info.out_color_space = JCS_RGB;
    // A multi-scan file is read whole here: damage found doing so ends the
    // decode before the picture is allocated.
    jpeg_start_decompress(&job->info);
    if (job->error.damaged) return false;
    const std::uint32_t width = job->info.output_width;
    const std::uint32_t height = job->info.output_height;
    if (job->info.output_components != 3 || !withinCaps(width, height, 4) ||
        !job->image.create(job->alpha, width, height)) {
        job->tooLarge = true;
        return false;
    }
    std::vector<std::uint8_t>& row = job->row;
    row.resize(static_cast<std::size_t>(width) * 3);
    while (job->info.output_scanline < height) {
        JSAMPROW rows[1] = {row.data()};
        const std::uint32_t y = job->info.output_scanline;
        if (jpeg_read_scanlines(&job->info, rows, 1) != 1 || job->error.damaged) return false;
        std::uint8_t* dst = job->image.pixels() + static_cast<std::size_t>(y) * job->image.rowSize;
        for (std::uint32_t x = 0; x < width; ++x, dst += job->image.bytesPerPixel) {
            dst[0] = row[x * 3 + 2];
            dst[1] = row[x * 3 + 1];
            dst[2] = row[x * 3 + 0];
            if (job->alpha) dst[3] = 255;
        }
    }
    jpeg_finish_decompress(&job->info);
    return true;
}

struct JpegWriteJob {
    JpegError error;
    jpeg_compress_struct info;
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    std::vector<std::uint8_t> row;
};

bool runJpegWrite(JpegWriteJob* job, const TgaImage& image, int quality) {
    if (setjmp(job->error.jump)) return false;
    jpeg_create_compress(&job->info);
    jpeg_mem_dest(&job->info, &job->buffer, &job->size);
    job->info.image_width = image.width;
    job->info.image_height = image.height;
    job->info.input_components = 3;
    job->info.in_color_space = JCS_RGB;
    jpeg_set_defaults(&job->info);
    jpeg_set_quality(&job->info, quality, TRUE);
    jpeg_start_compress(&job->info, TRUE);
    std::vector<std::uint8_t>& row = job->row;
    row.resize(static_cast<std::size_t>(image.width) * 3);
    while (job->info.next_scanline < image.height) {
        const std::uint8_t* src =
            image.pixels() + static_cast<std::size_t>(job->info.next_scanline) * image.width * image.bytesPerPixel;
        for (std::uint32_t x = 0; x < image.width; ++x, src += image.bytesPerPixel) {
            row[x * 3 + 0] = src[2];
            row[x * 3 + 1] = src[1];
            row[x * 3 + 2] = src[0];
        }
        JSAMPROW rows[1] = {row.data()};
        jpeg_write_scanlines(&job->info, rows, 1);
    }
    jpeg_finish_compress(&job->info);
    return true;
}

}  // namespace

bool decodeJpeg(const std::uint8_t* data, std::size_t size, TgaImage& image, bool alpha) {
    if (!data || size < 2 || data[0] != 0xFF || data[1] != 0xD8)
        return engineLog().error("Can't decode JPEG image: no JPEG data");
    auto job = std::make_unique<JpegReadJob>();
    job->alpha = alpha;
    installJpegErrors(job->error);
    job->info.err = &job->error.manager;
    const bool ok = runJpegRead(job.get(), data, size);
    jpeg_destroy_decompress(&job->info);
    if (!ok || job->error.damaged) {
        if (job->tooLarge) return engineLog().error("Can't decode JPEG image: unsupported size or components");
        if (job->tooShort)
            return engineLog().error("Can't decode JPEG image: the data are too short for its size [%ux%u]",
                                     job->claimedWidth, job->claimedHeight);
        return engineLog().error("Can't decode JPEG image: %s", job->error.message);
    }
    image = std::move(job->image);
    return true;
}

bool writeImage(const TgaImage& image, DataStream& stream, int quality) {
    const std::size_t count = static_cast<std::size_t>(image.width) * image.height;
    if ((image.flags & kImageRle) || image.width == 0 || image.height == 0 || image.bytesPerPixel < 3 ||
        image.block.size() < TgaImage::kHeaderSize + count * image.bytesPerPixel)
        return engineLog().error("Can't encode JPEG image: wrong data structure");
    if (quality == kJpegExportQuality) quality = exportSettings.jpgQuality;
    if (quality < 1) quality = 1;
    if (quality > 100) quality = 100;
    auto job = std::make_unique<JpegWriteJob>();
    installJpegErrors(job->error);
    job->info.err = &job->error.manager;
    const bool ok = runJpegWrite(job.get(), image, quality);
    jpeg_destroy_compress(&job->info);
    std::unique_ptr<unsigned char, decltype(&std::free)> buffer(job->buffer, &std::free);
    if (!ok) return engineLog().error("Can't encode JPEG image: %s", job->error.message);
    if (job->size > 0x7FFFFFFF ||
        stream.write(job->buffer, static_cast<std::int32_t>(job->size)) != static_cast<std::int32_t>(job->size))
        return engineLog().error("Can't encode JPEG image: stream write failed");
    return true;
}

// ---- Front doors

bool decodeImage(const std::uint8_t* data, std::size_t size, TgaImage& image) {
    if (isPng(data, size)) return decodePng(data, size, image);
    if (isTga(data, size)) {
        TgaImage result;
        if (!result.readTga(data, size)) {
            if (size < TgaImage::kHeaderSize) return engineLog().error("Can't decode image: TGA header too short");
            return false;  // damaged TGA, already reported
        }
        image = std::move(result);
        return true;
    }
    if (data && size >= 2 && data[0] == 0xFF && data[1] == 0xD8) return decodeJpeg(data, size, image, false);
    return engineLog().error("Can't decode image: unknown format");
}

bool encodeImage(int format, TgaImage& image, DataStream& stream, int quality) {
    if (!image.unpack()) return false;
    switch (format) {
        case ImageFormatTga: {
            const std::size_t bytes = static_cast<std::size_t>(image.width) * image.height * image.bytesPerPixel;
            if (image.block.size() < TgaImage::kHeaderSize + bytes || image.bytesPerPixel == 0)
                return engineLog().error("Can't encode TGA image: no pixel data");
            image.updateHeader();
            const auto total = static_cast<std::int32_t>(TgaImage::kHeaderSize + bytes);
            if (stream.write(image.block.data(), total) != total)
                return engineLog().error("Can't encode TGA image: stream write failed");
            return true;
        }
        case ImageFormatJpeg: return writeImage(image, stream, quality);
        case ImageFormatPng: return writePng(image, stream, false);
        default: return engineLog().error("Can't encode image: unknown format %i", format);
    }
}

bool saveImageFile(int format, TgaImage& image, std::string_view path, int quality) {
    static const char* const kExtensions[3] = {".tga", ".jpg", ".png"};
    if (format < 0 || format > 2) return engineLog().error("Can't save image [%.*s]: unknown format %i",
                                                           static_cast<int>(path.size()), path.data(), format);
    MemoryStream memory;
    if (!encodeImage(format, image, memory, quality)) return false;
    const std::string name = std::string(path) + kExtensions[format];
    ensurePathFolders(name);
    std::unique_ptr<WinFileStream> file(
        WinFileStream::open(name, platform::GENERIC_WRITE, 0, platform::CREATE_ALWAYS));
    if (!file) return engineLog().error("Can't save image [%s]: can't create the file", logPath(name).c_str());
    if (file->write(memory.data(), memory.size()) != memory.size())
        return engineLog().error("Can't save image [%s]: write failed", logPath(name).c_str());
    return true;
}
