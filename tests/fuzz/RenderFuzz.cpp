// Fuzz targets of the renderer's readers of outside files: the
// compiled-shader package (the container and the shader core's reading of
// the bodies it holds) and the texture files (the D3DX image loading and the
// texture handlers' loaders), both on a null-backend device.
#include <algorithm>
#include <cstring>
#include <memory>
#include <string>

#include "d3d9/TestScenes.h"
#include "foundation/DataStream.h"
#include "foundation/Image.h"
#include "foundation/PackedStream.h"
#include "fuzz/FuzzTarget.h"
#include "platform/d3d9/D3D9.h"
#include "platform/d3d9/D3DX9.h"
#include "render/DXTextureHandler.h"
#include "render/shaders/Container.h"
#include "render/shaders/ShaderCore.h"
#include "render/states/DXStateCache.h"
#include "shaderpack/ShaderPacker.h"
#include "textures/DdsWriter.h"
#include "textures/MemoryTextureEnvironment.h"

namespace fuzzing {

namespace {

// One null-backend device for the whole process.
IDirect3DDevice9* nullDevice() {
    static IDirect3DDevice9* const device = [] {
        IDirect3D9* direct3d = Direct3DCreate9(D3D_SDK_VERSION);
        IDirect3DDevice9* created = nullptr;
        D3DPRESENT_PARAMETERS parameters = d3d9_scenes::sceneParameters();
        if (direct3d)
            direct3d->CreateDevice(0, D3DDEVTYPE_HAL, nullptr, D3DCREATE_HARDWARE_VERTEXPROCESSING, &parameters,
                                   &created);
        return created;
    }();
    fuzzCheck(device != nullptr, "render: no null device");
    return device;
}

std::string bytesOf(MemoryStream& stream) {
    return std::string(reinterpret_cast<const char*>(stream.data()), static_cast<std::size_t>(stream.size()));
}

}  // namespace

// ---- compiled-shader package ---------------------------------------------

namespace {

// The shader core of the target, attached to the null device with its cache.
struct ShaderBench {
    ShaderBench() {
        cache.setDevice(nullDevice());
        cache.initialize(false);
        cache.setupDeviceDefaults(false);
        core.attach(nullDevice(), &cache);
    }
    DXStateCache cache;
    ShaderCore core;
};

ShaderBench& shaderBench() {
    static ShaderBench* const bench = new ShaderBench();
    return *bench;
}

constexpr const char* kVertexProfiles[] = {"vs_2_0", "vs_2_a", "vs_3_0"};
constexpr const char* kPixelProfiles[] = {"ps_2_0", "ps_2_a", "ps_2_b", "ps_3_0"};
constexpr std::size_t kProfileLength = 6;

// The kind and profile index of an entry name, as the shader core makes
// names (profile followed by the program name); false for another name.
bool profileOf(const char* key, std::int32_t& kind, std::int32_t& profile) {
    if (std::strlen(key) <= kProfileLength) return false;
    for (std::int32_t i = 0; i < 3; ++i)
        if (std::strncmp(key, kVertexProfiles[i], kProfileLength) == 0) {
            kind = ShaderProgram::KindVertex;
            profile = i;
            return true;
        }
    for (std::int32_t i = 0; i < 4; ++i)
        if (std::strncmp(key, kPixelProfiles[i], kProfileLength) == 0) {
            kind = ShaderProgram::KindPixel;
            profile = i;
            return true;
        }
    return false;
}

// Entries whose bodies the shader core reads per input.
constexpr std::int32_t kProgramsPerInput = 32;

}  // namespace

// First byte, bit 0: the rest is a whole package file (one packed stream
// record, as the shader core's load reads it), else the record's content.
// The container reads it; every entry named like a program is then looked
// up and read by the shader core as at start-up, its variables built and
// its device shader made.
int fuzzShaderPackage(const std::uint8_t* data, std::size_t size) {
    // A packed record unpacks to up to a thousand times its size.
    if (size < 1 || size > ((data[0] & 1) ? (16u << 10) : (1u << 20))) return 0;
    ShaderBench& bench = shaderBench();
    Container& container = bench.core.container();
    MemoryStream input(const_cast<std::uint8_t*>(data) + 1, static_cast<std::int32_t>(size - 1));
    MemoryStream content(true);
    std::int32_t contentSize = 0;
    if (data[0] & 1) {
        if (readPackedStream(-1, content, false, input) >= 0) {
            content.setPosition(0);
            contentSize = content.size();
            container.read(content);
        }
    } else {
        contentSize = input.size();
        container.read(input);
    }
    fuzzCheck(container.count() <= container.capacity(), "shaders: more entries than the table holds");
    fuzzCheck(container.capacity() <= std::max(1, 2 * container.count()),
              "shaders: an entry table made for more entries than were read");
    fuzzCheck(std::int64_t(container.count()) * 6 <= contentSize, "shaders: more entries than the data can hold");
    for (std::int32_t i = 0; i < container.count() && i < kProgramsPerInput; ++i) {
        const ContainerEntry& entry = container.entry(i);
        fuzzCheck(entry.name[sizeof entry.name - 1] == '\0', "shaders: an entry name fills its field");
        std::int32_t kind = 0, profile = 0;
        if (!profileOf(entry.name, kind, profile)) continue;
        ShaderProgram program;
        program.setup(kind, 0, entry.name + kProfileLength, 0);
        (kind == ShaderProgram::KindVertex ? bench.core.vertexProfile : bench.core.pixelProfile) = profile;
        if (bench.core.loadProgram(program, false)) {
            fuzzCheck(program.body != nullptr && program.has(ShaderProgram::BodyLoaded),
                      "shaders: a program read without its body");
            fuzzCheck(D3DXGetShaderSize(reinterpret_cast<const DWORD*>(program.body)) <= program.bodySize,
                      "shaders: a body read that claims more than its entry");
            bench.core.prepareProgram(program);
            program.createDeviceShader(nullDevice(), &bench.cache);
        }
        program.releaseBody(&bench.cache);
    }
    container.release();
    forgetLog();
    return 0;
}

// A few real bodies of the packer (two standalone programs of each kind and
// profile family), as the record's content and as a packed file.
void seedShaderPackage(std::vector<std::string>& out) {
    std::vector<PackedShader> shaders;
    std::string error;
    if (!buildShaderBodies(shaders, error)) return;
    const char* const keys[] = {"ps_2_0PS_OPS_A1", "ps_2_aPS_HDR_blur", "vs_2_0VS_OPS1", "vs_2_0VS_SHADOWD"};
    Container writer("seed", 0);
    writer.reserveEntries(std::int32_t(std::size(keys)));
    for (const char* key : keys) {
        const auto found = std::find_if(shaders.begin(), shaders.end(),
                                        [&](const PackedShader& shader) { return shader.key == key; });
        if (found == shaders.end()) continue;
        const std::vector<std::uint8_t> body = platform::d3d9::writeShaderBody(found->body);
        writer.append(found->key, body.data(), std::int32_t(body.size()));
    }
    MemoryStream content(true);
    if (writer.write(content) <= 0) return;
    out.push_back(std::string(1, '\0') + bytesOf(content));
    MemoryStream file(true);
    if (writePackedStream(content, 9, true, file) > 0) out.push_back(std::string(1, '\1') + bytesOf(file));
}

// ---- texture files ---------------------------------------------------------

namespace {

// Modes of the texture target (the first byte's low two bits).
enum TextureMode : std::uint8_t {
    TextureD3DX = 0,        // the D3DX calls on a DDS or TGA file
    TexturePacked = 1,      // a ".dds" of the packages through its handler
    TextureCompressed = 2,  // a ".jpg" and its ".png" mask through their handler
    TextureLoader = 3,      // the handlers' shared loader on a file image
};
// The first byte's other bits.
constexpr std::uint8_t kTextureCube = 0x04;            // the handler's type is cube
constexpr std::uint8_t kTextureUncompressed = 0x08;    // link flag: 32-bit instead of DXT
constexpr std::uint8_t kTextureNoMip = 0x10;           // link flag: no mip filtering
constexpr std::uint8_t kTextureMinimumDetail = 0x20;   // a mode without shaders, low quality

// A texture's top level fits what the loader allows.
void checkTexture(IDirect3DBaseTexture9* texture) {
    if (!texture || texture->GetType() != D3DRTYPE_TEXTURE) return;
    D3DSURFACE_DESC desc{};
    fuzzCheck(static_cast<IDirect3DTexture9*>(texture)->GetLevelDesc(0, &desc) == S_OK,
              "textures: a made texture has no top level");
    fuzzCheck(desc.Width <= 2048 && desc.Height <= 2048, "textures: a loaded texture beyond 2048");
}

void fuzzD3DX(const std::uint8_t* file, std::size_t size) {
    IDirect3DDevice9* device = nullDevice();
    D3DXIMAGE_INFO info{};
    const bool known = D3DXGetImageInfoFromFileInMemory(file, UINT(size), &info) == S_OK;
    IDirect3DTexture9* texture = nullptr;
    D3DXIMAGE_INFO made{};
    if (D3DXCreateTextureFromFileInMemoryEx(device, file, UINT(size), D3DX_DEFAULT, D3DX_DEFAULT, D3DX_FROM_FILE, 0,
                                            D3DFMT_FROM_FILE, D3DPOOL_MANAGED, D3DX_DEFAULT, D3DX_DEFAULT, 0, &made,
                                            nullptr, &texture) == S_OK) {
        fuzzCheck(known && made.Width == info.Width && made.Height == info.Height && made.Format == info.Format,
                  "textures: a file that loads has other or no image information");
        texture->Release();
    }
    IDirect3DCubeTexture9* cube = nullptr;
    if (D3DXCreateCubeTextureFromFileInMemory(device, file, UINT(size), &cube) == S_OK) {
        fuzzCheck(known && info.ResourceType == D3DRTYPE_CUBETEXTURE, "textures: a cube made from no cube file");
        cube->Release();
    }
}

}  // namespace

// First byte: the mode and flags above; the rest is the file, or for the
// compressed handler a u16 length, that many ".jpg" bytes and the ".png"
// (either empty: absent).
int fuzzTexture(const std::uint8_t* data, std::size_t size) {
    if (size < 1 || size > (1u << 20)) return 0;
    const std::uint8_t mode = data[0];
    const std::uint8_t* file = data + 1;
    const std::size_t fileSize = size - 1;
    if ((mode & 3) == TextureD3DX) {
        fuzzD3DX(file, fileSize);
        forgetLog();
        return 0;
    }
    texture_tools::MemoryTextureEnvironment environment;
    environment.deviceInUse = nullDevice();
    if (mode & kTextureMinimumDetail) {
        environment.setup.details = 0;
        environment.setup.quality = 0;
    }
    setTextureEnvironment(&environment);
    const std::uint32_t linkFlags =
        ((mode & kTextureUncompressed) ? std::uint32_t(LinkUncompressed) : 0u) |
        ((mode & kTextureNoMip) ? std::uint32_t(LinkNoMipFilter) : 0u);
    const std::uint32_t type = (mode & kTextureCube) ? 1u : 0u;
    if ((mode & 3) == TexturePacked) {
        environment.files["fuzz.dds"].assign(file, file + fileSize);
        DXPackedTextureHandler handler("fuzz");
        handler.type = type;
        handler.linkFlags = linkFlags;
        handler.inspectSource();
        fuzzCheck(handler.load() == (handler.texture != nullptr), "textures: a load that answers against its texture");
        checkTexture(handler.texture);
        handler.unload();
    } else if ((mode & 3) == TextureCompressed) {
        const std::size_t jpgSize = fileSize >= 2 ? std::min<std::size_t>(file[0] | file[1] << 8, fileSize - 2) : 0;
        const std::uint8_t* jpg = file + std::min<std::size_t>(fileSize, 2);
        const std::uint8_t* png = jpg + jpgSize;
        const std::size_t pngSize = fileSize - std::min<std::size_t>(fileSize, 2) - jpgSize;
        if (jpgSize) environment.files["fuzz.jpg"].assign(jpg, jpg + jpgSize);
        if (pngSize) environment.files["fuzz.png"].assign(png, png + pngSize);
        DXCompressedPackedTextureHandler handler("fuzz");
        handler.type = 0;
        handler.linkFlags = linkFlags;
        handler.inspectSource();
        fuzzCheck(handler.load() == (handler.texture != nullptr), "textures: a load that answers against its texture");
        checkTexture(handler.texture);
        if (const TgaImage* mask = handler.imageBuffer()) {
            fuzzCheck(mask->block.size() >= TgaImage::kHeaderSize + std::uint64_t(mask->width) * mask->height *
                                                                           mask->bytesPerPixel,
                      "textures: a mask image with fewer bytes than its size");
            std::uint32_t value = 0;
            handler.pixel(0.5f, 0.5f, true, value);
            std::uint32_t grid[9] = {};
            handler.pixel3x3(grid, 0.5f, 0.5f, 0.25f, 0.25f, true);
        }
        handler.unload();
    } else {
        const std::uint32_t loadFlags = fileSize ? file[0] & 0x7E : 0;
        DXPackedTextureHandler handler("fuzz");
        handler.type = type;
        handler.linkFlags = linkFlags;
        if (fileSize > 1 && handler.createFromFileInMemory(file + 1, std::uint32_t(fileSize - 1), loadFlags)) {
            fuzzCheck(handler.texture != nullptr, "textures: a made texture that is not there");
            checkTexture(handler.texture);
        }
        handler.unload();
    }
    setTextureEnvironment(nullptr);
    forgetLog();
    return 0;
}

namespace {

// A small picture with every byte distinct enough to show a changed pixel.
TgaImage texturePicture(bool alpha, std::uint32_t width, std::uint32_t height) {
    TgaImage image;
    image.create(alpha, width, height);
    std::uint8_t* p = image.pixels();
    for (std::size_t i = 0; p && i < std::size_t(width) * height * image.bytesPerPixel; ++i)
        p[i] = static_cast<std::uint8_t>(i * 37 + 11);
    return image;
}

std::string encoded(TgaImage image, int format, bool alphaOnly = false) {
    MemoryStream stream;
    const bool written = format == ImageFormatPng ? writePng(image, stream, alphaOnly)
                                                  : encodeImage(format, image, stream, 75);
    return written ? bytesOf(stream) : std::string();
}

}  // namespace

void seedTexture(std::vector<std::string>& out) {
    using texture_tools::countingDds;
    std::vector<std::string> files;
    for (const texture_tools::DdsImage& image :
         {countingDds(D3DFMT_A8R8G8B8, 4, 4, 3), countingDds(D3DFMT_X8R8G8B8, 8, 2, 1),
          countingDds(D3DFMT_R8G8B8, 3, 5, 1), countingDds(D3DFMT_DXT1, 8, 8, 4), countingDds(D3DFMT_DXT5, 8, 4, 1),
          countingDds(D3DFMT_DXT3, 4, 4, 1), countingDds(D3DFMT_L8, 4, 4, 1), countingDds(D3DFMT_A8, 2, 2, 1),
          countingDds(D3DFMT_A8R8G8B8, 4, 4, 2, true)}) {
        const std::vector<std::uint8_t> bytes = texture_tools::writeDds(image);
        if (!bytes.empty()) files.emplace_back(bytes.begin(), bytes.end());
    }
    const std::string tga = encoded(texturePicture(false, 5, 3), ImageFormatTga);
    const std::string tgaAlpha = encoded(texturePicture(true, 4, 4), ImageFormatTga);
    files.push_back(tga);
    files.push_back(tgaAlpha);
    for (const std::string& file : files) {
        out.push_back(std::string(1, char(TextureD3DX)) + file);
        out.push_back(std::string(1, char(TexturePacked | (file.compare(0, 4, "DDS ") ? 0 : kTextureMinimumDetail))) +
                      file);
    }
    out.push_back(std::string(1, char(TexturePacked | kTextureCube)) + files[8]);
    // The shared loader with the compressed handler's two sets of flags.
    out.push_back(std::string(1, char(TextureLoader)) + char(LoadCompress | LoadLinear | LoadLinearMip) + tga);
    out.push_back(std::string(1, char(TextureLoader)) + char(LoadUncompressed | LoadAlpha | LoadNoMip) + tgaAlpha);
    // Colours with and without their mask, and a mask alone.
    const std::string jpg = encoded(texturePicture(false, 8, 8), ImageFormatJpeg);
    const std::string mask = encoded(texturePicture(true, 8, 8), ImageFormatPng);
    const std::string grey = encoded(texturePicture(true, 8, 8), ImageFormatPng, true);
    auto compressed = [&](std::uint8_t flags, const std::string& colours, const std::string& alpha) {
        std::string input(1, char(TextureCompressed | flags));
        input.push_back(char(colours.size() & 0xFF));
        input.push_back(char(colours.size() >> 8));
        out.push_back(input + colours + alpha);
    };
    compressed(0, jpg, mask);
    compressed(kTextureUncompressed, jpg, grey);
    compressed(0, jpg, "");
    compressed(kTextureNoMip, "", mask);
}

}  // namespace fuzzing
