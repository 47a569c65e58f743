// Texture handlers: one object per texture name, shared by every user of
// that name, owning the device texture and what rebuilds it after a device
// loss or a cache eviction.
//
// Kinds: packed ".dds" files of the packages, packed ".jpg" colour images
// with an optional ".png" alpha mask (also the target of movie textures),
// loose files on disk, and the computed textures and render targets
// (ProcTexMap.h). Users hold a TextureLink (TextureLink.h), never a handler.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "foundation/Image.h"
#include "platform/d3d9/D3D9.h"

class VideoSetup;

// Texture names are kept and compared lower-cased.
std::string textureKey(const char* name);

// Link flags: bits of DXTextureHandler::linkFlags and of TextureLink::allocate.
enum TextureLinkFlags : std::uint32_t {
    LinkUncompressed = 0x100,    // compressed kind: 32-bit with alpha instead of DXT
    LinkNoMipFilter = 0x200,     // no mip filtering when the image is loaded
    LinkAnimated = 0x10000,      // the name is a series of numbered frames
    LinkCompressedOnly = 0x20000,  // ".jpg"/".png" only, never ".dds"
    LinkManualLoad = 0x040000,   // never loaded on attach or in bulk; no idle-time eviction
    LinkBulkLoad = 0x100000,     // loaded by the bulk load of flagged handlers too
    LinkMarked = 0x200000,       // kept as handler flag 0x8 (isFlagged)
};

// Bits of DXTextureHandler::flags.
enum TextureHandlerFlags : std::uint32_t {
    HandlerAlpha = 0x2,
    HandlerInspected = 0x04,
    HandlerMarked = 0x8,
    HandlerReloadFailed = 0x10,
};

// Load flags of DXTextureHandler::createFromFileInMemory.
enum TextureLoadFlags : std::uint32_t {
    LoadUncompressed = 0x2,
    LoadCompress = 0x04,
    LoadAlpha = 0x8,
    LoadLinearMip = 0x10,
    LoadNoMip = 0x20,
    LoadLinear = 0x040,
};

// What the textures need of the rest of the engine: the device, the active
// video options, engine time, the package files and the video device's
// sampler tables. The default reads them from the game core; tests install
// their own.
class TextureEnvironment {
public:
    // The sampler states of a filter class.
    struct SamplerFilters {
        DWORD min = D3DTEXF_LINEAR;
        DWORD mag = D3DTEXF_LINEAR;
        DWORD mip = D3DTEXF_LINEAR;
        DWORD maxAnisotropy = 1;
    };

    virtual ~TextureEnvironment() = default;
    virtual IDirect3DDevice9* device();
    virtual const VideoSetup& videoSetup();
    // Seconds of engine time.
    virtual double now();
    // Whether the packages hold name + extension (".dds", ".jpg", ...).
    virtual bool fileExists(const std::string& name, const char* extension);
    // The bytes of name + extension from the packages; false when missing.
    virtual bool readFile(const std::string& name, const char* extension, std::vector<std::uint8_t>& bytes);
    // The video device's texture-address table (0 clamp, 1 wrap, 2 mirror,
    // 3 border, each as the device supports it) and its filters of a
    // filter class: the anisotropic set is the user's texture quality with
    // the user's anisotropy, the plain set the best filters with anisotropy
    // 1. Without a video core: the four modes as named, linear filters.
    virtual DWORD textureAddress(std::uint32_t index);
    virtual SamplerFilters samplerFilters(std::int32_t filterClass, bool anisotropic);
    // Whether resource logging (debug flag) is on.
    virtual bool resourceLogging();
};

// The environment in force; set(nullptr) restores the game core's.
TextureEnvironment& textureEnvironment();
void setTextureEnvironment(TextureEnvironment* environment);

class DXTextureHandler {
public:
    // Type values: 0 2D, 1 cube, 4 not yet known.
    static constexpr std::uint32_t kTypeUnknown = 4;

    explicit DXTextureHandler(const char* name);
    virtual ~DXTextureHandler();
    DXTextureHandler(const DXTextureHandler&) = delete;
    DXTextureHandler& operator=(const DXTextureHandler&) = delete;

    virtual void inspectSource() {}
    bool isFlagged() const { return (flags & HandlerMarked) != 0; }
    // The pixel at (x, y) of the image kept for sampling, into value; false
    // when there is none or (x, y) lies outside it.
    virtual bool pixel(float x, float y, bool normalized, std::uint32_t& value);
    // The 3 x 3 grid around (x, y) with steps dx, dy, row by row.
    virtual bool pixel3x3(std::uint32_t out[9], float x, float y, float dx, float dy, bool normalized);
    // 0 file, 1 packed, 2 compressed, 4 computed.
    virtual std::int32_t kind() const = 0;
    // Makes the device texture; true when it exists afterwards.
    virtual bool load() = 0;
    virtual bool createMovieTexture(std::uint32_t width, std::uint32_t height, bool alpha);
    // Drops the device texture and the source data.
    void unload();
    virtual void freeSourceData() {}
    void releaseDeviceTexture();
    virtual bool needsReload() const { return false; }
    virtual bool dropIfMovieExists() { return false; }
    virtual bool movieFlag() const { return false; }
    virtual bool hasMovie() const { return false; }
    virtual const TgaImage* imageBuffer() { return nullptr; }
    virtual std::uint32_t imageWidth() const { return 0; }
    virtual std::uint32_t imageHeight() const { return 0; }

    // Releases the device texture, then makes it again.
    bool reload();
    // Screenshot targets: replaces the handler's image by image; false for
    // an image without pixels (the image is kept).
    virtual bool reload(const TgaImage& image);

    // Creates the device texture from a file image in memory (DDS or TGA)
    // with the retry ladder for a device short of memory.
    bool createFromFileInMemory(const std::uint8_t* data, std::uint32_t size, std::uint32_t loadFlags);

    const std::string& name() const { return name_; }
    // The image a screenshot target holds (empty for other handlers).
    const TgaImage& image() const { return image_; }

    std::uint32_t dataSize = 0;
    std::int32_t refCount = 0;
    IDirect3DBaseTexture9* texture = nullptr;
    std::uint32_t type = kTypeUnknown;
    double releaseDeadline = 0.0;
    std::uint32_t linkFlags = 0;
    double lastUse = -1.0;
    std::uint32_t flags = 0;

protected:
    TgaImage image_;

private:
    std::string name_;
};

// A ".dds" file of the packages.
class DXPackedTextureHandler : public DXTextureHandler {
public:
    explicit DXPackedTextureHandler(const char* name);
    void inspectSource() override;
    std::int32_t kind() const override { return 1; }
    bool load() override;
};

// A ".jpg" colour image of the packages with its optional ".png" alpha mask.
class DXCompressedPackedTextureHandler : public DXTextureHandler {
public:
    explicit DXCompressedPackedTextureHandler(const char* name);
    void inspectSource() override;
    std::int32_t kind() const override { return 2; }
    bool load() override;
    bool pixel(float x, float y, bool normalized, std::uint32_t& value) override;
    bool pixel3x3(std::uint32_t out[9], float x, float y, float dx, float dy, bool normalized) override;
    bool createMovieTexture(std::uint32_t width, std::uint32_t height, bool alpha) override;
    void freeSourceData() override;
    bool dropIfMovieExists() override;
    bool hasMovie() const override { return movie_; }
    const TgaImage* imageBuffer() override;
    std::uint32_t imageWidth() const override { return movie_ ? 0 : mask_.width; }
    std::uint32_t imageHeight() const override { return movie_ ? 0 : mask_.height; }

private:
    // The composed image (".jpg" colours, ".png" alpha); false when missing.
    bool composeImage(TgaImage& image);
    bool loadUncompressed(const TgaImage& image);
    // The mask pixel at whole coordinates already inside the canvas.
    std::uint32_t maskPixel(std::uint32_t x, std::uint32_t y) const;

    bool movie_ = false;
    TgaImage mask_;
};

// A loose file on disk, registered by the external import.
class DXFileTextureHandler : public DXTextureHandler {
public:
    // name: the last path element without its extension.
    DXFileTextureHandler(const char* path, const char* name);
    void inspectSource() override;
    std::int32_t kind() const override { return 0; }
    bool load() override;
    const std::string& path() const { return path_; }

private:
    bool readSource(std::vector<std::uint8_t>& bytes) const;
    std::string path_;
};
