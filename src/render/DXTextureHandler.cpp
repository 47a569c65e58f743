#include "render/DXTextureHandler.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <limits>

#include "app/GameCore.h"
#include "foundation/DataStream.h"
#include "foundation/Log.h"
#include "foundation/TimeCore.h"
#include "platform/d3d9/D3DX9.h"
#include "render/ProcTexMap.h"
#include "render/TextureLibrary.h"
#include "render/VideoCore.h"
#include "render/VideoDevice.h"
#include "resources/PackageDatabase.h"

std::string textureKey(const char* name) {
    std::string text = name ? name : "";
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

// ---- environment ----------------------------------------------------------

IDirect3DDevice9* TextureEnvironment::device() { return gameCore.video ? gameCore.video->device() : nullptr; }

const VideoSetup& TextureEnvironment::videoSetup() {
    static const VideoSetup defaults;
    return gameCore.video ? gameCore.video->activeVideoSetup() : defaults;
}

double TextureEnvironment::now() { return gameCore.clocks ? gameCore.clocks->worldTime.time : 0.0; }

bool TextureEnvironment::fileExists(const std::string& name, const char* extension) {
    FilePackageDBData* packages = packageData();
    return packages && packages->find(extension, name, "") != 0;
}

bool TextureEnvironment::readFile(const std::string& name, const char* extension, std::vector<std::uint8_t>& bytes) {
    MemoryStream stream;
    if (!loadResource(extension, name, "", stream) || stream.size() < 0) return false;
    bytes.assign(stream.data(), stream.data() + stream.size());
    return true;
}

DWORD TextureEnvironment::textureAddress(std::uint32_t index) {
    static const DWORD named[4] = {D3DTADDRESS_CLAMP, D3DTADDRESS_WRAP, D3DTADDRESS_MIRROR, D3DTADDRESS_BORDER};
    if (index >= 4) index = 0;
    return gameCore.video ? gameCore.video->videoDevice.textureAddress[index] : named[index];
}

TextureEnvironment::SamplerFilters TextureEnvironment::samplerFilters(std::int32_t filterClass, bool anisotropic) {
    if (!gameCore.video) return {};
    const VideoDevice& video = gameCore.video->videoDevice;
    if (filterClass < 0 || filterClass >= VideoDevice::kTextureClassCount) filterClass = 0;
    const ::SamplerFilters& table = video.samplerFilters[filterClass][anisotropic ? 0 : 1];
    SamplerFilters filters;
    filters.min = static_cast<DWORD>(table.min);
    filters.mag = static_cast<DWORD>(table.mag);
    filters.mip = static_cast<DWORD>(table.mip);
    filters.maxAnisotropy = anisotropic && video.userAnisotropy > 0 ? static_cast<DWORD>(video.userAnisotropy) : 1;
    return filters;
}

bool TextureEnvironment::resourceLogging() { return (gameCore.debugFlags & DebugResourceLog) != 0; }

namespace {

// Never destroyed: the game core's render core may still release textures
// while static objects are being destroyed at exit.
TextureEnvironment& gameEnvironment() {
    static TextureEnvironment* const environment = new TextureEnvironment();
    return *environment;
}

TextureEnvironment* currentEnvironment = nullptr;

}  // namespace

TextureEnvironment& textureEnvironment() { return currentEnvironment ? *currentEnvironment : gameEnvironment(); }

void setTextureEnvironment(TextureEnvironment* environment) { currentEnvironment = environment; }

// ---- base -----------------------------------------------------------------

DXTextureHandler::DXTextureHandler(const char* name) : name_(textureKey(name)) {}

DXTextureHandler::~DXTextureHandler() { releaseDeviceTexture(); }

bool DXTextureHandler::pixel(float, float, bool, std::uint32_t&) { return false; }

bool DXTextureHandler::pixel3x3(std::uint32_t*, float, float, float, float, bool) { return false; }

bool DXTextureHandler::createMovieTexture(std::uint32_t, std::uint32_t, bool) { return false; }

void DXTextureHandler::unload() {
    releaseDeviceTexture();
    freeSourceData();
}

void DXTextureHandler::releaseDeviceTexture() {
    lastUse = -1.0;
    if (texture) texture->Release();
    texture = nullptr;
}

bool DXTextureHandler::reload() {
    unload();
    return load();
}

bool DXTextureHandler::reload(const TgaImage& image) {
    if (!image.pixels()) return false;
    image.copyTo(image_);
    return true;
}

namespace {

// The longest side a loaded texture may have, whatever the device allows.
constexpr UINT kMaxLoadedSide = 2048;

}  // namespace

bool DXTextureHandler::createFromFileInMemory(const std::uint8_t* data, std::uint32_t size,
                                              std::uint32_t loadFlags) {
    TextureEnvironment& environment = textureEnvironment();
    Log& log = engineLog();
    IDirect3DDevice9* device = environment.device();
    if (!device) return false;
    dataSize = size;
    flags = (linkFlags & LinkMarked) ? (flags | HandlerMarked) : (flags & ~HandlerMarked);
    const char* label = name_.c_str();

    if (type == 1) {
        IDirect3DCubeTexture9* cube = nullptr;
        const HRESULT result = D3DXCreateCubeTextureFromFileInMemory(device, data, size, &cube);
        if (FAILED(result))
            return log.systemError("Cannot allocate texture [%s]. Reason: [%s]", label, d3dErrorText(result));
        texture = cube;
        return true;
    }
    if (type != 0) return log.error("Undefined texture type for [%s.dds]", label);

    const VideoSetup& mode = environment.videoSetup();
    const bool shaderDetail = mode.details != VideoDetailsMinimum;
    DWORD filter = D3DX_FILTER_NONE;
    DWORD mipFilter = D3DX_FILTER_NONE;
    D3DFORMAT format = D3DFMT_FROM_FILE;
    UINT width = D3DX_DEFAULT;
    UINT height = D3DX_DEFAULT;
    UINT mipLevels = D3DX_FROM_FILE;
    D3DPOOL pool = shaderDetail ? D3DPOOL_DEFAULT : D3DPOOL_MANAGED;
    if (mode.quality != 2 && (loadFlags & LoadCompress)) format = (loadFlags & LoadAlpha) ? D3DFMT_DXT5 : D3DFMT_DXT1;
    if (loadFlags & LoadUncompressed) {
        format = (loadFlags & LoadAlpha) ? D3DFMT_A8R8G8B8 : D3DFMT_R8G8B8;
        if (environment.resourceLogging()) log.info("Load texture [%s] uncompressed", label);
    }

    D3DXIMAGE_INFO info{};
    const bool known = SUCCEEDED(D3DXGetImageInfoFromFileInMemory(data, size, &info));
    if (known) {
        D3DCAPS9 caps{};
        device->GetDeviceCaps(&caps);
        const UINT maxWidth = caps.MaxTextureWidth && caps.MaxTextureWidth < kMaxLoadedSide ? caps.MaxTextureWidth
                                                                                           : kMaxLoadedSide;
        const UINT maxHeight = caps.MaxTextureHeight && caps.MaxTextureHeight < kMaxLoadedSide
                                   ? caps.MaxTextureHeight
                                   : kMaxLoadedSide;
        bool changed = false;
        if (loadFlags & LoadLinear) {
            filter = D3DX_FILTER_LINEAR;
            changed = true;
        }
        UINT w = info.Width;
        UINT h = info.Height;
        if (w > maxWidth || h > maxHeight) {
            filter = D3DX_FILTER_LINEAR;
            changed = true;
            while (w > maxWidth || h > maxHeight) {
                w /= 2;
                h /= 2;
            }
            log.error("Texture [%s] too big (%ix%i), current hardware support only (%ix%i). Reduce to (%ix%i)", label,
                      static_cast<int>(info.Width), static_cast<int>(info.Height), static_cast<int>(maxWidth),
                      static_cast<int>(maxHeight), static_cast<int>(w), static_cast<int>(h));
            width = w;
            height = h;
        }
        if (!shaderDetail) {
            filter = D3DX_FILTER_LINEAR;
            if (info.MipLevels > 1) mipFilter = D3DX_FILTER_LINEAR;
            if (mode.quality < 2) {
                while (w > 0 && h > 0 && (w > 1024 || h > 1024)) {
                    w /= 2;
                    h /= 2;
                    width = w;
                    height = h;
                    changed = true;
                    if (environment.resourceLogging())
                        log.info("Downgrade image [%s] size to %ix%i", label, static_cast<int>(w), static_cast<int>(h));
                }
            }
        }
        if ((info.MipLevels > 1 && changed) || (loadFlags & LoadLinearMip)) mipFilter = D3DX_FILTER_LINEAR;
        if (loadFlags & LoadNoMip) mipFilter = D3DX_FILTER_NONE;
        mipLevels = info.MipLevels;
    }

    // The retry ladder: each failure changes one thing and tries again.
    HRESULT result = S_OK;
    int attempt = 0;
    auto reduce = [&]() {
        if (width == D3DX_DEFAULT || width == D3DX_FROM_FILE) width = known ? info.Width : 0;
        if (height == D3DX_DEFAULT || height == D3DX_FROM_FILE) height = known ? info.Height : 0;
        width /= 2;
        height /= 2;
        if (mipLevels > 1 && mipLevels != D3DX_FROM_FILE) mipLevels = 0;
        if (width < 8 || height < 8) {
            log.info("Can't reduce image [%s] more", label);
            return false;
        }
        log.info("Reduce image [%s] size to %ix%i", label, static_cast<int>(width), static_cast<int>(height));
        return true;
    };
    while (attempt < 7) {
        IDirect3DTexture9* created = nullptr;
        result = D3DXCreateTextureFromFileInMemoryEx(device, data, size, width, height, mipLevels, 0, format, pool,
                                                     filter, mipFilter, 0, nullptr, nullptr, &created);
        if (SUCCEEDED(result)) {
            texture = created;
            return true;
        }
        log.systemError("Failed allocate texture [%s]: %s", label, d3dErrorText(result));
        if (result == D3DXERR_INVALIDDATA) break;  // a damaged file: no retry helps
        const int w = static_cast<int>(width == D3DX_DEFAULT && known ? info.Width : width);
        const int h = static_cast<int>(height == D3DX_DEFAULT && known ? info.Height : height);
        if (attempt == 0) {
            if (textureLibrary() && textureLibrary()->evictCachedTextures()) {
                log.info("Failed allocate image [%s] %ix%i. Unload all cached textures", label, w, h);
                attempt = 1;
                continue;
            }
            attempt = 1;
        }
        if (attempt == 1) {
            log.info("Failed allocate image [%s] %ix%i", label, w, h);
            format = D3DFMT_UNKNOWN;
            filter = D3DX_DEFAULT;
            mipFilter = D3DX_DEFAULT;
            if (mipLevels > 1 && mipLevels != D3DX_FROM_FILE) mipLevels = 0;
            log.info("Adopt image [%s] format to current hardware", label);
            attempt = 2;
        } else if (attempt == 2) {
            if (pool == D3DPOOL_MANAGED) {
                if (!reduce()) break;
                attempt = 4;
            } else {
                pool = D3DPOOL_MANAGED;
                log.info("Change image [%s] pool to MANAGED", label);
                attempt = 3;
            }
        } else if (attempt == 4) {
            pool = D3DPOOL_SYSTEMMEM;
            log.info("Change image [%s] pool to SYSMEM", label);
            attempt = 5;
        } else {
            if (!reduce()) break;
            ++attempt;
        }
    }
    return log.systemError("Cannot allocate texture [%s]. Reason: [%s]", label, d3dErrorText(result));
}

// ---- shared source checks -------------------------------------------------

namespace {

// The alpha rule of ".dds" and loose files: alpha only for DXT2 to DXT5.
void inspectAlpha(DXTextureHandler& handler, const std::vector<std::uint8_t>& bytes) {
    handler.flags |= HandlerInspected;
    D3DXIMAGE_INFO info{};
    const HRESULT result =
        D3DXGetImageInfoFromFileInMemory(bytes.data(), static_cast<UINT>(bytes.size()), &info);
    if (FAILED(result)) {
        engineLog().error("Cannot get alpha channel info for texture [%s]. Reason: [%s]", handler.name().c_str(),
                          d3dErrorText(result));
        return;
    }
    handler.flags &= ~HandlerAlpha;
    if (info.Format == D3DFMT_DXT2 || info.Format == D3DFMT_DXT3 || info.Format == D3DFMT_DXT4 ||
        info.Format == D3DFMT_DXT5)
        handler.flags |= HandlerAlpha;
}

std::uint32_t fileLoadFlags(std::uint32_t linkFlags) { return (linkFlags & LinkNoMipFilter) ? static_cast<std::uint32_t>(LoadNoMip) : 0u; }

}  // namespace

// ---- packed ".dds" --------------------------------------------------------

DXPackedTextureHandler::DXPackedTextureHandler(const char* name) : DXTextureHandler(name) { flags = HandlerAlpha; }

void DXPackedTextureHandler::inspectSource() {
    std::vector<std::uint8_t> bytes;
    if (textureEnvironment().readFile(name(), ".dds", bytes)) inspectAlpha(*this, bytes);
}

bool DXPackedTextureHandler::load() {
    if (texture) return true;
    std::vector<std::uint8_t> bytes;
    if (!textureEnvironment().readFile(name(), ".dds", bytes))
        return engineLog().error("Missed texture [%s.dds]", name().c_str());
    return createFromFileInMemory(bytes.data(), static_cast<std::uint32_t>(bytes.size()), fileLoadFlags(linkFlags));
}

// ---- loose files ----------------------------------------------------------

DXFileTextureHandler::DXFileTextureHandler(const char* path, const char* name)
    : DXTextureHandler(name), path_(path ? path : "") {
    flags = HandlerAlpha;
}

bool DXFileTextureHandler::readSource(std::vector<std::uint8_t>& bytes) const {
    std::ifstream file(path_, std::ios::binary | std::ios::ate);
    if (!file) return false;
    const std::streamoff size = file.tellg();
    if (size <= 0 || size > static_cast<std::streamoff>(kMaxImageBytes)) return false;
    bytes.resize(static_cast<std::size_t>(size));
    file.seekg(0);
    return static_cast<bool>(file.read(reinterpret_cast<char*>(bytes.data()), size));
}

void DXFileTextureHandler::inspectSource() {
    std::vector<std::uint8_t> bytes;
    if (readSource(bytes)) inspectAlpha(*this, bytes);
}

bool DXFileTextureHandler::load() {
    if (texture) return true;
    unload();
    std::vector<std::uint8_t> bytes;
    if (!readSource(bytes)) return false;
    return createFromFileInMemory(bytes.data(), static_cast<std::uint32_t>(bytes.size()), fileLoadFlags(linkFlags));
}

// ---- packed ".jpg" with ".png" alpha --------------------------------------

DXCompressedPackedTextureHandler::DXCompressedPackedTextureHandler(const char* name) : DXTextureHandler(name) {}

void DXCompressedPackedTextureHandler::inspectSource() {
    flags |= HandlerInspected;
    flags &= ~HandlerAlpha;
    if (textureEnvironment().fileExists(name(), ".png")) flags |= HandlerAlpha;
}

bool DXCompressedPackedTextureHandler::composeImage(TgaImage& image) {
    TextureEnvironment& environment = textureEnvironment();
    Log& log = engineLog();
    const char* label = name().c_str();
    std::vector<std::uint8_t> colour;
    std::vector<std::uint8_t> alpha;
    const bool hasPng = environment.readFile(name(), ".png", alpha);
    const bool hasJpg = environment.readFile(name(), ".jpg", colour);
    if (!hasPng && !hasJpg) return log.error("Missed texture [%s%s]", label, ".jpg");
    flags = hasPng ? (flags | HandlerAlpha) : (flags & ~HandlerAlpha);
    flags = (linkFlags & LinkMarked) ? (flags | HandlerMarked) : (flags & ~HandlerMarked);
    if (hasJpg) {
        if (!decodeJpeg(colour.data(), colour.size(), image, hasPng))
            return log.error("Can't load texture image from file %s%s", label, ".jpg");
    }
    if (hasPng) {
        if (!hasJpg) {
            // A mask alone: white colours under its alpha, at the mask's size.
            TgaImage mask;
            if (!decodePng(alpha.data(), alpha.size(), mask))
                return log.error("Invalid alpha channel texture %s%s", label, ".png");
            if (!image.create(true, mask.width, mask.height)) return false;
            image.fillRgb(255, 255, 255);
        }
        if (!loadPngAlpha(alpha.data(), alpha.size(), image))
            return log.error("Can't load alpha channel data from file %s%s", label, ".png");
    }
    return true;
}

bool DXCompressedPackedTextureHandler::loadUncompressed(const TgaImage& image) {
    Log& log = engineLog();
    if (textureEnvironment().resourceLogging()) log.info("Allocate compressed texture [%s] uncompressed", name().c_str());
    UINT width = image.width;
    UINT height = image.height;
    D3DPOOL pool = D3DPOOL_MANAGED;
    IDirect3DTexture9* created =
        ProcTexMap::createTexture(name().c_str(), 1, 0, D3DFMT_A8R8G8B8, pool, width, height);
    if (!created) return false;
    D3DLOCKED_RECT locked{};
    if (width != image.width || height != image.height || FAILED(created->LockRect(0, &locked, nullptr, 0))) {
        created->Release();
        return log.error("Can't lock imported screen shot surface");
    }
    const std::uint8_t* source = image.pixels();
    for (UINT y = 0; y < height; ++y) {
        auto* row = static_cast<std::uint8_t*>(locked.pBits) + static_cast<std::size_t>(y) * locked.Pitch;
        for (UINT x = 0; x < width; ++x) {
            const std::uint8_t* p = source + (static_cast<std::size_t>(y) * width + x) * image.bytesPerPixel;
            row[x * 4 + 0] = p[0];
            row[x * 4 + 1] = p[1];
            row[x * 4 + 2] = p[2];
            row[x * 4 + 3] = image.bytesPerPixel == 4 ? p[3] : 0xFF;
        }
    }
    created->UnlockRect(0);
    texture = created;
    return true;
}

bool DXCompressedPackedTextureHandler::load() {
    if (texture) {
        if (!movie_) return true;
        releaseDeviceTexture();
    }
    TgaImage image;
    if (!composeImage(image)) return false;
    if (linkFlags & LinkUncompressed) {
        if (loadUncompressed(image)) return true;
        engineLog().error(
            "Failed to allocated compressed texture [%s] in uncompresed mode. try adopt this texture for current "
            "hardware",
            name().c_str());
    }
    image.updateHeader();
    std::uint32_t loadFlags = (flags & HandlerAlpha) ? static_cast<std::uint32_t>(LoadAlpha) : 0u;
    loadFlags |= (linkFlags & LinkUncompressed) ? LoadUncompressed : (LoadCompress | LoadLinear);
    loadFlags |= (linkFlags & LinkNoMipFilter) ? LoadNoMip : (LoadLinearMip | LoadLinear);
    return createFromFileInMemory(image.block.data(), static_cast<std::uint32_t>(image.block.size()), loadFlags);
}

const TgaImage* DXCompressedPackedTextureHandler::imageBuffer() {
    if (mask_.pixels()) return &mask_;
    Log& log = engineLog();
    const char* label = name().c_str();
    std::vector<std::uint8_t> bytes;
    if (!textureEnvironment().readFile(name(), ".png", bytes)) {
        log.error("Missed mask image texture [%s%s]", label, ".png");
        return nullptr;
    }
    if (!decodePng(bytes.data(), bytes.size(), mask_)) {
        mask_ = TgaImage();
        log.error("Invalid mask image alpha channel texture %s%s", label, ".png");
        return nullptr;
    }
    if (!mask_.pixels()) {
        mask_ = TgaImage();
        log.error("Can't load mask image alpha channel data from file %s%s", label, ".png");
        return nullptr;
    }
    return &mask_;
}

std::uint32_t DXCompressedPackedTextureHandler::maskPixel(std::uint32_t x, std::uint32_t y) const {
    const std::uint8_t* p = mask_.pixels() + (static_cast<std::size_t>(y) * mask_.width + x) * mask_.bytesPerPixel;
    if (mask_.bytesPerPixel < 3) return p[0];
    const std::uint32_t colour = p[0] | (p[1] << 8) | (p[2] << 16);
    return mask_.bytesPerPixel == 4 ? colour | (static_cast<std::uint32_t>(p[3]) << 24) : colour;
}

namespace {

// A coordinate as the canvas messages print it: non-finite values and values
// beyond the int range never reach a conversion.
int printedCoordinate(float value) {
    if (!std::isfinite(value)) return 0;
    if (value >= 2147483520.0f) return std::numeric_limits<int>::max();
    if (value <= -2147483520.0f) return std::numeric_limits<int>::min();
    return static_cast<int>(value);
}

// Whether (x, y) lies on a canvas of width x height; compared as floats, so
// that no coordinate is converted before it is known to fit.
bool onCanvas(float x, float y, std::uint32_t width, std::uint32_t height) {
    return std::isfinite(x) && std::isfinite(y) && x >= 0.0f && y >= 0.0f && x < static_cast<float>(width) &&
           y < static_cast<float>(height);
}

}  // namespace

bool DXCompressedPackedTextureHandler::pixel(float x, float y, bool normalized, std::uint32_t& value) {
    if (!imageBuffer()) return false;
    if (normalized) {
        x *= static_cast<float>(mask_.width);
        y *= static_cast<float>(mask_.height);
    }
    if (!onCanvas(x, y, mask_.width, mask_.height))
        return engineLog().error("Can't get texture [%s] pixel (%i,%i): out of canvas [%ix%i]", name().c_str(),
                                 printedCoordinate(x), printedCoordinate(y), static_cast<int>(mask_.width),
                                 static_cast<int>(mask_.height));
    // Truncation may still reach the size when x lies just below it.
    const std::uint32_t px = std::min(static_cast<std::uint32_t>(x), mask_.width - 1);
    const std::uint32_t py = std::min(static_cast<std::uint32_t>(y), mask_.height - 1);
    value = maskPixel(px, py);
    return true;
}

bool DXCompressedPackedTextureHandler::pixel3x3(std::uint32_t out[9], float x, float y, float dx, float dy,
                                                bool normalized) {
    if (!imageBuffer()) return false;
    const float w = static_cast<float>(mask_.width);
    const float h = static_cast<float>(mask_.height);
    if (normalized) {
        x *= w;
        y *= h;
        dx *= w;
        dy *= h;
    }
    if (!onCanvas(x, y, mask_.width, mask_.height) || !std::isfinite(dx) || !std::isfinite(dy))
        return engineLog().error("Can't get texture [%s] pixel3x3 (%i,%i): out of canvas [%ix%i]", name().c_str(),
                                 printedCoordinate(x), printedCoordinate(y), static_cast<int>(mask_.width),
                                 static_cast<int>(mask_.height));
    // A sample far off the canvas (even one whose sum overflowed) is
    // clamped to its edge before it becomes an index.
    auto clampRound = [](float v, std::uint32_t size) {
        const float rounded = std::floor(v + 0.5f);
        if (!(rounded >= 0.0f)) return 0u;
        return rounded >= static_cast<float>(size) ? size - 1 : static_cast<std::uint32_t>(rounded);
    };
    for (int row = -1; row <= 1; ++row)
        for (int column = -1; column <= 1; ++column)
            out[3 * (row + 1) + (column + 1)] = maskPixel(clampRound(x + static_cast<float>(column) * dx, mask_.width),
                                                          clampRound(y + static_cast<float>(row) * dy, mask_.height));
    return true;
}

bool DXCompressedPackedTextureHandler::createMovieTexture(std::uint32_t width, std::uint32_t height, bool alpha) {
    flags = alpha ? (flags | HandlerAlpha) : (flags & ~HandlerAlpha);
    flags = (linkFlags & LinkMarked) ? (flags | HandlerMarked) : (flags & ~HandlerMarked);
    UINT w = width;
    UINT h = height;
    D3DPOOL pool = D3DPOOL_MANAGED;
    IDirect3DTexture9* created = ProcTexMap::createTexture(name().c_str(), 1, 0,
                                                          alpha ? D3DFMT_A8R8G8B8 : D3DFMT_X8R8G8B8, pool, w, h);
    if (!created) {
        freeSourceData();
        return engineLog().error("Can't create movie texture [%s] with %ix%i", name().c_str(), static_cast<int>(width),
                                 static_cast<int>(height));
    }
    releaseDeviceTexture();
    texture = created;
    movie_ = true;
    return true;
}

void DXCompressedPackedTextureHandler::freeSourceData() {
    movie_ = false;
    mask_ = TgaImage();
}

bool DXCompressedPackedTextureHandler::dropIfMovieExists() {
    if (textureEnvironment().fileExists(name(), ".bik")) unload();
    return false;
}
