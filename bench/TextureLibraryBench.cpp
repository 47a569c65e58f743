// Texture loading through the library beside its baseline in the same run
// (see PairedRun.h): 200 textures, each a ".jpg" with its ".png" alpha mask
// (128 x 128), loaded on the null Direct3D 9 backend through the texture
// library (lookup, handler creation, decoding, composition into a TGA image
// and the D3DX texture creation), against decoding the same files with the
// image codecs alone (JPEG decode and PNG alpha merge). The argument is the
// texture quality of the video options: 1 creates DXT5 textures, 2 keeps
// the 32-bit image.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "PairedRun.h"
#include "d3d9/TestScenes.h"
#include "foundation/DataStream.h"
#include "foundation/Image.h"
#include "foundation/Log.h"
#include "foundation/Log.h"
#include "platform/d3d9/D3D9.h"
#include "render/TextureLibrary.h"
#include "render/VideoSetup.h"
#include "textures/MemoryTextureEnvironment.h"

namespace {

constexpr int kTextures = 200;
constexpr std::uint32_t kSide = 128;

std::string textureName(int i) {
    char name[16];
    std::snprintf(name, sizeof(name), "tex%03i", i);
    return name;
}

std::vector<std::uint8_t> encoded(TgaImage& image, int format) {
    MemoryStream stream;
    encodeImage(format, image, stream, 90);
    return std::vector<std::uint8_t>(stream.data(), stream.data() + stream.size());
}

// A patterned image, so the codecs have real work to do.
TgaImage pattern(bool alpha, int seed) {
    TgaImage image;
    image.create(alpha, kSide, kSide);
    std::uint8_t* p = image.pixels();
    for (std::uint32_t i = 0; i < kSide * kSide * image.bytesPerPixel; ++i)
        p[i] = static_cast<std::uint8_t>((i * 7 + static_cast<std::uint32_t>(seed) * 13 + (i / 97) * 31) & 0xFF);
    return image;
}

void BM_LoadThroughLibraryVsCodecs(benchmark::State& state) {
    texture_tools::MemoryTextureEnvironment environment;
    // Quality 1 (normal) compresses to DXT5 on creation; 2 keeps 32 bits.
    environment.setup.quality = static_cast<std::int32_t>(state.range(0));
    for (int i = 0; i < kTextures; ++i) {
        TgaImage colour = pattern(false, i);
        TgaImage mask = pattern(true, i + 1);
        environment.files[textureName(i) + ".jpg"] = encoded(colour, ImageFormatJpeg);
        environment.files[textureName(i) + ".png"] = encoded(mask, ImageFormatPng);
    }
    IDirect3D9* direct3d = Direct3DCreate9(D3D_SDK_VERSION);
    D3DPRESENT_PARAMETERS p = d3d9_scenes::sceneParameters();
    direct3d->CreateDevice(0, D3DDEVTYPE_HAL, nullptr, D3DCREATE_HARDWARE_VERTEXPROCESSING, &p,
                           &environment.deviceInUse);
    setTextureEnvironment(&environment);

    TextureLibrary library;
    auto throughLibrary = [&] {
        for (int i = 0; i < kTextures; ++i) {
            DXTextureHandler* handler = library.findOrCreate(textureName(i).c_str(), 6, false);
            if (handler) handler->type = 0;  // what an attaching 2D link gives it
            if (!handler || !handler->load()) {
                state.SkipWithError("a texture did not load");
                for (const LogRecord& r : engineLog().records()) std::fprintf(stderr, "%s\n", r.text.c_str());
                return;
            }
        }
    };
    auto codecsAlone = [&] {
        for (int i = 0; i < kTextures; ++i) {
            const std::vector<std::uint8_t>& jpg = environment.files[textureName(i) + ".jpg"];
            const std::vector<std::uint8_t>& png = environment.files[textureName(i) + ".png"];
            TgaImage image;
            if (!decodeJpeg(jpg.data(), jpg.size(), image, true) || !loadPngAlpha(png.data(), png.size(), image))
                state.SkipWithError("a file did not decode");
            benchmark::DoNotOptimize(image.pixels());
        }
    };
    bench_pairs::runPaired(state, throughLibrary, codecsAlone, kTextures, [&] { library.releaseAll(); });
    library.releaseAll();
    setTextureEnvironment(nullptr);
    if (environment.deviceInUse) environment.deviceInUse->Release();
    if (direct3d) direct3d->Release();
}
BENCHMARK(BM_LoadThroughLibraryVsCodecs)->Arg(1)->Arg(2)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
