#include "platform/d3d9/ImageFile.h"

#include "platform/d3d9/PixelFormat.h"

#include <png.h>

#include <algorithm>
#include <csetjmp>
#include <cstring>

namespace platform::d3d9 {

namespace {

constexpr UINT kMaxSide = 16384;
constexpr std::uint64_t kMaxImageBytes = 1ull << 30;

std::uint32_t le32(const std::uint8_t* p) { return p[0] | (p[1] << 8) | (p[2] << 16) | (std::uint32_t(p[3]) << 24); }
std::uint32_t le16(const std::uint8_t* p) { return p[0] | (p[1] << 8); }

// DDS header fields (offsets from the start of the file, after "DDS ").
constexpr std::size_t kDdsHeaderEnd = 128;
constexpr std::uint32_t kDdsMipCount = 0x20000;
constexpr std::uint32_t kDdsPfAlphaPixels = 0x1;
constexpr std::uint32_t kDdsPfAlpha = 0x2;
constexpr std::uint32_t kDdsPfFourCC = 0x4;
constexpr std::uint32_t kDdsPfRgb = 0x40;
constexpr std::uint32_t kDdsPfLuminance = 0x20000;
constexpr std::uint32_t kDdsCubeMap = 0x200;
constexpr std::uint32_t kDdsCubeAllFaces = 0xFC00;
constexpr std::uint32_t kDdsVolume = 0x200000;

bool ddsFormat(const std::uint8_t* pf, D3DFORMAT& format) {
    const std::uint32_t flags = le32(pf + 4), fourCC = le32(pf + 8), bits = le32(pf + 12);
    const std::uint32_t r = le32(pf + 16), g = le32(pf + 20), b = le32(pf + 24), a = le32(pf + 28);
    const bool alpha = (flags & kDdsPfAlphaPixels) != 0;
    format = D3DFMT_UNKNOWN;
    if (flags & kDdsPfFourCC) {
        switch (fourCC) {
            case D3DFMT_DXT1:
            case D3DFMT_DXT2:
            case D3DFMT_DXT3:
            case D3DFMT_DXT4:
            case D3DFMT_DXT5: format = D3DFORMAT(fourCC); break;
            default: return false;
        }
        return true;
    }
    if (flags & kDdsPfRgb) {
        if (bits == 32 && r == 0xFF0000 && g == 0xFF00 && b == 0xFF)
            format = alpha && a == 0xFF000000u ? D3DFMT_A8R8G8B8 : D3DFMT_X8R8G8B8;
        else if (bits == 24 && r == 0xFF0000 && g == 0xFF00 && b == 0xFF)
            format = D3DFMT_R8G8B8;
        else if (bits == 16 && r == 0xF800 && g == 0x7E0 && b == 0x1F)
            format = D3DFMT_R5G6B5;
        else if (bits == 16 && r == 0x7C00 && g == 0x3E0 && b == 0x1F)
            format = alpha && a == 0x8000 ? D3DFMT_A1R5G5B5 : D3DFMT_X1R5G5B5;
        else if (bits == 16 && r == 0xF00 && g == 0xF0 && b == 0xF)
            format = alpha && a == 0xF000 ? D3DFMT_A4R4G4B4 : D3DFMT_X4R4G4B4;
        return format != D3DFMT_UNKNOWN;
    }
    if ((flags & kDdsPfLuminance) && bits == 8 && r == 0xFF) {
        format = D3DFMT_L8;
        return true;
    }
    if ((flags & kDdsPfAlpha) && bits == 8 && a == 0xFF) {
        format = D3DFMT_A8;
        return true;
    }
    return false;
}

bool readDds(const std::uint8_t* p, std::size_t size, ImageFile& image, bool headerOnly, std::string& why) {
    if (size < kDdsHeaderEnd) {
        why = "DDS header cut short";
        return false;
    }
    if (le32(p + 4) != 124 || le32(p + 76) != 32) {
        why = "DDS header or pixel-format size is wrong";
        return false;
    }
    const std::uint32_t flags = le32(p + 8);
    image.fileFormat = D3DXIFF_DDS;
    image.height = le32(p + 12);
    image.width = le32(p + 16);
    const std::uint32_t caps2 = le32(p + 112);
    if (image.width == 0 || image.height == 0 || image.width > kMaxSide || image.height > kMaxSide) {
        why = "DDS size " + std::to_string(image.width) + "x" + std::to_string(image.height) + " out of range";
        return false;
    }
    if (caps2 & kDdsVolume) {
        why = "volume textures are not supported";
        return false;
    }
    if (!ddsFormat(p + 76, image.format)) {
        why = "unsupported DDS pixel format";
        return false;
    }
    const std::uint32_t mips = (flags & kDdsMipCount) ? le32(p + 28) : 0;
    image.levels = mips ? mips : 1;
    if (image.levels > fullChain(image.width, image.height)) {
        why = "DDS claims " + std::to_string(image.levels) + " mip levels for " + std::to_string(image.width) + "x" +
              std::to_string(image.height);
        return false;
    }
    image.cube = (caps2 & kDdsCubeMap) != 0;
    if (image.cube && ((caps2 & kDdsCubeAllFaces) != kDdsCubeAllFaces || image.width != image.height)) {
        why = "DDS cube map without all six square faces";
        return false;
    }
    image.faces = image.cube ? 6 : 1;
    std::uint64_t total = 0;
    for (UINT level = 0; level < image.levels; ++level)
        total += levelBytes(image.format, mipSize(image.width, level), mipSize(image.height, level));
    total *= image.faces;
    if (total > kMaxImageBytes || total > size - kDdsHeaderEnd) {
        why = "DDS data cut short: " + std::to_string(size - kDdsHeaderEnd) + " bytes for " + std::to_string(total);
        return false;
    }
    if (headerOnly) return true;
    const std::uint8_t* cursor = p + kDdsHeaderEnd;
    for (UINT face = 0; face < image.faces; ++face)
        for (UINT level = 0; level < image.levels; ++level) {
            const auto bytes = static_cast<std::size_t>(
                levelBytes(image.format, mipSize(image.width, level), mipSize(image.height, level)));
            image.data.emplace_back(cursor, cursor + bytes);
            cursor += bytes;
        }
    return true;
}

bool readTga(const std::uint8_t* p, std::size_t size, ImageFile& image, bool headerOnly, std::string& why) {
    const std::uint32_t idLength = p[0], colorMapType = p[1], type = p[2];
    const std::uint32_t colorMapLength = le16(p + 5), colorMapBits = p[7];
    const std::uint32_t width = le16(p + 12), height = le16(p + 14), depth = p[16], descriptor = p[17];
    // Grey images are 8 bits; the engine's own writer marks them as true colour.
    const bool grey = type == 3 || type == 11, rle = type == 10 || type == 11;
    if (colorMapType != 0 || (depth != 8 && depth != 24 && depth != 32) || (grey && depth != 8)) {
        why = "unsupported TGA: type " + std::to_string(type) + ", " + std::to_string(depth) + " bits";
        return false;
    }
    if (width == 0 || height == 0 || width > kMaxSide || height > kMaxSide) {
        why = "TGA size " + std::to_string(width) + "x" + std::to_string(height) + " out of range";
        return false;
    }
    if (descriptor & 0x10) {
        why = "right-to-left TGA rows are not supported";
        return false;
    }
    image.fileFormat = D3DXIFF_TGA;
    image.width = width;
    image.height = height;
    image.format = depth == 8 ? D3DFMT_L8 : depth == 24 ? D3DFMT_R8G8B8 : (descriptor & 0xF) ? D3DFMT_A8R8G8B8 : D3DFMT_X8R8G8B8;
    const std::uint64_t start = 18ull + idLength + std::uint64_t(colorMapLength) * ((colorMapBits + 7) / 8);
    const std::uint32_t bpp = depth / 8;
    const std::uint64_t pixels = std::uint64_t(width) * height * bpp;
    if (start > size || (!rle && pixels > size - start)) {
        why = "TGA data cut short";
        return false;
    }
    // A run-length packet gives at most 128 pixels for its header byte and
    // one pixel value: data that cannot encode the image are refused before
    // anything is allocated for it.
    if (rle && (std::uint64_t(width) * height + 127) / 128 * (1 + bpp) > size - start) {
        why = "TGA run-length data cut short: " + std::to_string(size - start) + " bytes for " +
              std::to_string(width) + "x" + std::to_string(height);
        return false;
    }
    if (headerOnly && !rle) return true;
    // A header query walks the packets without decoding them.
    std::vector<std::uint8_t> out(headerOnly ? 0 : static_cast<std::size_t>(pixels));
    const std::uint8_t* cursor = p + start;
    const std::uint8_t* end = p + size;
    if (!rle) {
        std::memcpy(out.data(), cursor, out.size());
    } else {
        const auto total = static_cast<std::size_t>(pixels);
        std::size_t written = 0;
        while (written < total) {
            if (cursor >= end) {
                why = "TGA run-length data cut short";
                return false;
            }
            const std::uint32_t packet = *cursor++;
            const std::size_t count = (packet & 0x7F) + 1;
            const std::size_t bytes = count * bpp;
            const std::size_t stored = (packet & 0x80) ? bpp : bytes;
            if (bytes > total - written) {
                why = "TGA run-length packet runs past the image";
                return false;
            }
            if (std::size_t(end - cursor) < stored) {
                why = "TGA run-length data cut short";
                return false;
            }
            if (!headerOnly) {
                if (packet & 0x80)
                    for (std::size_t i = 0; i < count; ++i) std::memcpy(&out[written + i * bpp], cursor, bpp);
                else
                    std::memcpy(&out[written], cursor, bytes);
            }
            cursor += stored;
            written += bytes;
        }
        if (headerOnly) return true;
    }
    // Rows top first, as Direct3D keeps them.
    if (!(descriptor & 0x20)) {
        const std::size_t row = std::size_t(width) * bpp;
        for (UINT y = 0; y < height / 2; ++y)
            std::swap_ranges(out.begin() + std::ptrdiff_t(y * row), out.begin() + std::ptrdiff_t((y + 1) * row),
                             out.begin() + std::ptrdiff_t((height - 1 - y) * row));
    }
    if (image.format == D3DFMT_X8R8G8B8)
        for (std::size_t i = 3; i < out.size(); i += 4) out[i] = 0xFF;
    image.data.push_back(std::move(out));
    return true;
}

struct PngWriteState {
    std::vector<std::uint8_t>* out;
    std::jmp_buf jump;
};

void pngWrite(png_structp png, png_bytep data, png_size_t length) {
    auto* state = static_cast<PngWriteState*>(png_get_io_ptr(png));
    state->out->insert(state->out->end(), data, data + length);
}

void pngFlush(png_structp) {}

void pngError(png_structp png, png_const_charp) {
    auto* state = static_cast<PngWriteState*>(png_get_error_ptr(png));
    std::longjmp(state->jump, 1);
}

void pngWarning(png_structp, png_const_charp) {}

}  // namespace

bool readImageFile(const void* bytes, std::size_t size, ImageFile& image, bool headerOnly, std::string& why) {
    image = {};
    if (!bytes || size < 18) {
        why = "no image data";
        return false;
    }
    const auto* p = static_cast<const std::uint8_t*>(bytes);
    if (std::memcmp(p, "DDS ", 4) == 0) return readDds(p, size, image, headerOnly, why);
    const std::uint32_t type = p[2];
    if (type == 2 || type == 3 || type == 10 || type == 11) return readTga(p, size, image, headerOnly, why);
    why = "neither a DDS nor a TGA image";
    return false;
}

bool writePng(const std::uint8_t* rgba, UINT width, UINT height, bool alpha, std::vector<std::uint8_t>& png) {
    png.clear();
    PngWriteState state{&png, {}};
    png_structp writer = png_create_write_struct(PNG_LIBPNG_VER_STRING, &state, pngError, pngWarning);
    if (!writer) return false;
    png_infop info = png_create_info_struct(writer);
    std::vector<std::uint8_t> row(std::size_t(width) * 4);
    if (!info || setjmp(state.jump)) {
        png_destroy_write_struct(&writer, info ? &info : nullptr);
        png.clear();
        return false;
    }
    png_set_write_fn(writer, &state, pngWrite, pngFlush);
    png_set_IHDR(writer, info, width, height, 8, alpha ? PNG_COLOR_TYPE_RGBA : PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(writer, info);
    for (UINT y = 0; y < height; ++y) {
        const std::uint8_t* source = rgba + std::size_t(y) * width * 4;
        if (alpha) {
            std::memcpy(row.data(), source, row.size());
        } else {
            for (UINT x = 0; x < width; ++x) std::memcpy(&row[x * 3], source + x * 4, 3);
        }
        png_write_row(writer, row.data());
    }
    png_write_end(writer, info);
    png_destroy_write_struct(&writer, &info);
    return true;
}

}  // namespace platform::d3d9
