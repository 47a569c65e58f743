// A frame with the sky against the same frame without it, on the GL
// backend (fixed-function path, so no shader package is needed): both sides
// clear the frame, begin and end the scene and read the frame back; the
// project draws the sky's dome in between. The ratio is what the sky costs
// a bare frame. The sky side must show the record's sky colour at the top
// of the frame, the bare side the clear colour.
//
// Then the same sky frame against bare OpenGL calls drawing the dome's own
// vertices and 16-bit indices, in buffers of their own, with the same
// texture, scale and colour rule (texture x the record's sky colour): both
// sides read the frame back and must show the same picture (each channel
// within 2), checked before the timing and after it.
//
// Then, on the shader path, the frame with the sky and the rain over the
// 7 x 7 cells around the camera against the bare frame, and against bare
// OpenGL calls drawing the dome and the cells' own drop vertices with the
// rain programs' arithmetic and additive blending (pictures checked as
// above). The run ends with the ratios.
#include "GLBench.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "BenchDevice.h"
#include "PairedRun.h"
#include "app/GameCore.h"
#include "effects/RainMap.h"
#include "effects/SkyDataManager.h"
#include "effects/Y3Sky.h"
#include "foundation/DataStream.h"
#include "model/DXStreams.h"
#include "model/Y3MeshStream.h"
#include "platform/d3d9/GLContext.h"
#include "render/DXTextureHandler.h"
#include "render/RenderCore.h"
#include "render/shaders/ShaderCore.h"
#include "render/states/DXStateCache.h"
#include "foundation/AppPaths.h"
#include "foundation/Log.h"
#include "rain/RainWriter.h"
#include "scene/SceneDescription.h"
#include "shaderpack/ShaderPacker.h"
#include "textures/DdsWriter.h"

namespace {

// A white 8 x 8 texture without stars or cover (alpha 0).
std::vector<std::uint8_t> whiteLayer() {
    texture_tools::DdsImage image;
    image.width = image.height = 8;
    std::vector<std::uint8_t> texels;
    for (int i = 0; i < 64; ++i) texels.insert(texels.end(), {255, 255, 255, 0});
    image.blocks.push_back(texels);
    return texture_tools::writeDds(image);
}

constexpr int kSize = 64;  // the scenes' back buffer

std::vector<std::uint8_t> opaqueWhite() {
    texture_tools::DdsImage image;
    image.width = image.height = 8;
    image.blocks.push_back(std::vector<std::uint8_t>(8 * 8 * 4, 255));
    return texture_tools::writeDds(image);
}

// The dome through bare OpenGL calls, in a context of their own: its
// vertices (position, texture) and 16-bit indices in buffers, one draw with
// the camera's projection, the texture scaled as the fixed path scales it
// and modulated by the sky colour; no depth test, both faces.
class BareDome {
public:
    BareDome(const SkyDome& dome, const float* projection, float scale, const float* colour) {
        std::copy(projection, projection + 16, projection_);
        if (!context_.open(nullptr, why)) return;
        context_.makeCurrent();
        glClipControl(GL_UPPER_LEFT, GL_ZERO_TO_ONE);
        target_.create(kSize);
        program_ = glCreateProgram();
        vs_ = bench_gl::compile(GL_VERTEX_SHADER, R"(#version 450 core
layout(location = 0) in vec3 position;
layout(location = 1) in vec2 uv;
uniform mat4 projection;
uniform float scale;
out vec2 vUv;
// Direct3D's pixel centres and top-left rule, as the substitute keeps them.
void main() {
    gl_Position = projection * vec4(position, 1.0);
    gl_Position.xy += vec2(1.0 / 64.0, -(1.0 - 1.0 / 32.0) / 64.0) * gl_Position.w;
    vUv = uv * scale;
})");
        fs_ = bench_gl::compile(GL_FRAGMENT_SHADER, R"(#version 450 core
layout(binding = 0) uniform sampler2D image;
uniform vec3 colour;
in vec2 vUv;
out vec4 fragment;
void main() { fragment = vec4(texture(image, vUv).rgb * colour, 1.0); })");
        glAttachShader(program_, vs_);
        glAttachShader(program_, fs_);
        glLinkProgram(program_);
        glCreateBuffers(1, &vertices_);
        glNamedBufferData(vertices_, GLsizeiptr(dome.vertices.size() * sizeof(SkyDomeVertex)), dome.vertices.data(),
                          GL_STATIC_DRAW);
        glCreateBuffers(1, &indices_);
        glNamedBufferData(indices_, GLsizeiptr(dome.indices.size() * 2), dome.indices.data(), GL_STATIC_DRAW);
        indexCount_ = GLsizei(dome.indices.size());
        glCreateVertexArrays(1, &vertexArray_);
        for (GLuint l : {0u, 1u}) {
            glEnableVertexArrayAttrib(vertexArray_, l);
            glVertexArrayAttribBinding(vertexArray_, l, 0);
        }
        glVertexArrayAttribFormat(vertexArray_, 0, 3, GL_FLOAT, GL_FALSE, 0);
        glVertexArrayAttribFormat(vertexArray_, 1, 2, GL_FLOAT, GL_FALSE, 12);
        glVertexArrayVertexBuffer(vertexArray_, 0, vertices_, 0, sizeof(SkyDomeVertex));
        glVertexArrayElementBuffer(vertexArray_, indices_);
        glCreateTextures(GL_TEXTURE_2D, 1, &texture_);
        glTextureStorage2D(texture_, 1, GL_RGBA8, 8, 8);
        const std::vector<std::uint8_t> texels(64 * 4, 255);
        glTextureSubImage2D(texture_, 0, 0, 0, 8, 8, GL_BGRA, GL_UNSIGNED_BYTE, texels.data());
        glTextureParameteri(texture_, GL_TEXTURE_MAX_LEVEL, 0);
        glProgramUniformMatrix4fv(program_, glGetUniformLocation(program_, "projection"), 1, GL_FALSE, projection);
        glProgramUniform1f(program_, glGetUniformLocation(program_, "scale"), scale);
        glProgramUniform3fv(program_, glGetUniformLocation(program_, "colour"), 1, colour);
        ready_ = true;
    }
    ~BareDome() {
        if (!ready_) return;
        context_.makeCurrent();
        glDeleteTextures(1, &texture_);
        glDeleteVertexArrays(1, &vertexArray_);
        glDeleteBuffers(1, &vertices_);
        glDeleteBuffers(1, &indices_);
        glDeleteProgram(program_);
        glDeleteShader(vs_);
        glDeleteShader(fs_);
        for (RainCell& cell : cells_) {
            glDeleteVertexArrays(1, &cell.vertexArray);
            glDeleteBuffers(1, &cell.vertices);
        }
        glDeleteBuffers(1, &rainIndices_);
        for (GLuint shader : {rainVs_, rainFs_}) glDeleteShader(shader);
        glDeleteProgram(rainProgram_);
        target_.destroy();
    }
    bool ready() const { return ready_; }

    // The rain of the data around the camera's cell, drawn after the dome:
    // each cell's drop vertices and the 400 quads' indices in buffers, two
    // additive passes with the rain programs' arithmetic.
    void addRain(const RainData& data, std::int32_t cellX, std::int32_t cellZ) {
        context_.makeCurrent();
        rainProgram_ = glCreateProgram();
        rainVs_ = bench_gl::compile(GL_VERTEX_SHADER, R"(#version 450 core
layout(location = 0) in vec3 position;
layout(location = 1) in vec3 normal;
layout(location = 2) in vec2 corner;
layout(location = 3) in vec2 strip;
uniform mat4 projection;
uniform vec4 tt0, tt1, tt2, colour;
uniform int ripple;
out vec2 vUv;
out vec4 vColour;
void main() {
    float L = max(strip.y, 0.001);
    float moment = mod(tt2.x + normal.x, L);
    vec3 p = position;
    if (ripple == 0) {
        p.y += (L - moment) * tt1.x + corner.y * L * tt0.y * tt1.x * 2.0;
        gl_Position = projection * vec4(p, 1.0);
        gl_Position.x += corner.x * tt1.y * 1.5;
        vColour = colour;
        vUv = vec2(strip.x, 1.0 - corner.y);
    } else {
        float life = moment / L;
        float size = tt1.x * (1.0 + life * (tt1.y - 1.0));
        p += vec3(corner.x, 0.0, corner.y - 0.5) * size;
        p.y += 0.02;
        gl_Position = projection * vec4(p, 1.0);
        vColour = vec4(colour.rgb, colour.a * (1.0 - life));
        vUv = vec2(corner.x + 0.5, corner.y);
    }
    gl_Position.xy += vec2(1.0 / 64.0, -(1.0 - 1.0 / 32.0) / 64.0) * gl_Position.w;
})");
        rainFs_ = bench_gl::compile(GL_FRAGMENT_SHADER, R"(#version 450 core
layout(binding = 0) uniform sampler2D image;
in vec2 vUv;
in vec4 vColour;
out vec4 fragment;
void main() { fragment = texture(image, vUv) * clamp(vColour, 0.0, 1.0); })");
        glAttachShader(rainProgram_, rainVs_);
        glAttachShader(rainProgram_, rainFs_);
        glLinkProgram(rainProgram_);
        glProgramUniformMatrix4fv(rainProgram_, glGetUniformLocation(rainProgram_, "projection"), 1, GL_FALSE,
                                  projection_);
        std::vector<std::uint16_t> quads;
        for (int q = 0; q < kRainDropsPerCell; ++q)
            for (int k : {0, 1, 2, 3, 0, 2}) quads.push_back(std::uint16_t(q * 4 + k));
        glCreateBuffers(1, &rainIndices_);
        glNamedBufferData(rainIndices_, GLsizeiptr(quads.size() * 2), quads.data(), GL_STATIC_DRAW);
        settings_ = data.settings;
        for (int dz = -kRainViewCells; dz <= kRainViewCells; ++dz)
            for (int dx = -kRainViewCells; dx <= kRainViewCells; ++dx) {
                const std::int32_t entry = data.cellEntry(cellX + dx, cellZ + dz);
                if (entry < 0) continue;
                const Y3MeshStream& stream = *data.segments[std::size_t(entry)].stream;
                RainCell cell;
                cell.drops = rainDropsDrawn(dx, dz, false);
                cell.ripples = rainDropsDrawn(dx, dz, true);
                glCreateBuffers(1, &cell.vertices);
                glNamedBufferData(cell.vertices, GLsizeiptr(stream.getSize()), stream.getData(), GL_STATIC_DRAW);
                glCreateVertexArrays(1, &cell.vertexArray);
                const GLuint offsets[4] = {0, 12, 24, 32}, sizes[4] = {3, 3, 2, 2};
                for (GLuint l = 0; l < 4; ++l) {
                    glEnableVertexArrayAttrib(cell.vertexArray, l);
                    glVertexArrayAttribBinding(cell.vertexArray, l, 0);
                    glVertexArrayAttribFormat(cell.vertexArray, l, GLint(sizes[l]), GL_FLOAT, GL_FALSE, offsets[l]);
                }
                glVertexArrayVertexBuffer(cell.vertexArray, 0, cell.vertices, 0, stream.getStride());
                glVertexArrayElementBuffer(cell.vertexArray, rainIndices_);
                cells_.push_back(cell);
            }
    }

    void frame(std::vector<std::uint8_t>& pixels) {
        context_.makeCurrent();
        glBindFramebuffer(GL_FRAMEBUFFER, target_.framebuffer);
        glViewport(0, 0, kSize, kSize);
        glDisable(GL_DEPTH_TEST);
        glDisable(GL_CULL_FACE);
        glUseProgram(program_);
        glBindVertexArray(vertexArray_);
        glBindTextureUnit(0, texture_);
        const float black[4] = {0, 0, 0, 1};
        glClearNamedFramebufferfv(target_.framebuffer, GL_COLOR, 0, black);
        glClearNamedFramebufferfi(target_.framebuffer, GL_DEPTH_STENCIL, 0, 1.0f, 0);
        glDrawElements(GL_TRIANGLES, indexCount_, GL_UNSIGNED_SHORT, nullptr);
        if (rainProgram_) drawRain();
        pixels.resize(std::size_t(kSize) * kSize * 4);
        glReadPixels(0, 0, kSize, kSize, GL_BGRA, GL_UNSIGNED_BYTE, pixels.data());
        benchmark::DoNotOptimize(pixels.data());
    }

    std::string why;

private:
    struct RainCell {
        GLuint vertices = 0, vertexArray = 0;
        std::int32_t drops = 0, ripples = 0;
    };

    void drawRain() {
        const RainSettings& s = settings_;
        const float base = float(s.dropPhaseBase), inverse = s.dropPhaseBase ? 1.0f / base : 0.0f;
        auto uniform = [&](const char* name, float x, float y, float z, float w) {
            glProgramUniform4f(rainProgram_, glGetUniformLocation(rainProgram_, name), x, y, z, w);
        };
        glUseProgram(rainProgram_);
        glEnable(GL_BLEND);
        glBlendFunc(GL_SRC_ALPHA, GL_ONE);
        for (int ripple = 0; ripple < 2; ++ripple) {
            glProgramUniform1i(rainProgram_, glGetUniformLocation(rainProgram_, "ripple"), ripple);
            if (!ripple) {
                uniform("tt0", base, inverse, 1.0f / float(s.dropFramesInStrip), 0.0f);
                uniform("tt1", s.dropPass1, s.dropPass2, 0.0f, 0.0f);
                uniform("tt2", 0.0f, 0.0f, 0.0f, 0.0f);
                uniform("colour", s.dropColour[0], s.dropColour[1], s.dropColour[2], 1.0f);
            } else {
                uniform("tt0", base, inverse, s.ripplePass3, 0.0f);
                uniform("tt1", s.ripplePass1, s.ripplePass2, 0.0f, 0.0f);
                uniform("tt2", 0.0f, 0.0f, 0.0f, 0.0f);
                uniform("colour", s.rippleColour[0], s.rippleColour[1], s.rippleColour[2], 1.0f);
            }
            for (const RainCell& cell : cells_) {
                const std::int32_t count = ripple ? cell.ripples : cell.drops;
                if (count <= 0) continue;
                glBindVertexArray(cell.vertexArray);
                glDrawElements(GL_TRIANGLES, count * 6, GL_UNSIGNED_SHORT, nullptr);
            }
        }
        glDisable(GL_BLEND);
        glUseProgram(program_);
        glBindVertexArray(vertexArray_);
    }

    platform::d3d9::GLContext context_;
    bool ready_ = false;
    bench_gl::OffscreenTarget target_;
    GLuint program_ = 0, vs_ = 0, fs_ = 0, vertices_ = 0, indices_ = 0, vertexArray_ = 0, texture_ = 0;
    GLsizei indexCount_ = 0;
    float projection_[16] = {};
    GLuint rainProgram_ = 0, rainVs_ = 0, rainFs_ = 0, rainIndices_ = 0;
    std::vector<RainCell> cells_;
    RainSettings settings_;
};

// The rain over 7 x 7 cells of ground 2 below the eye, around the camera
// at the origin, from the rain-map writer.
const char* const kRain =
    "name bench\norigin -35 -2 -35\ngrid 7 7\nbox -35 -35 35 35 -2\ntextures drop ripple\n"
    "dropcolour 0.8 0.8 0.8\nripplecolour 0.3 0.3 0.3\n";

// The sky of one clear day record on our device's fixed-function path, or
// with the rain on the shader path (rain draws only with shaders).
class SkyScene {
public:
    SkyScene(benchmark::State& state, bool withRain = false) : scoped(state, true) {
        IDirect3DDevice9* device = scoped.device();
        if (!device) return;
        scoped.textures.setup.details = withRain ? 1 : 0;
        scoped.textures.files["sky_main.dds"] = whiteLayer();
        savedRender = gameCore.render;
        gameCore.render = &render;
        render.stateCache().setDevice(device);
        render.stateCache().initialize(!withRain);
        render.stateCache().setupDeviceDefaults(false);
        render.shaders().attach(device, &render.stateCache());
        if (withRain && !startShaders()) return;
        render.streamDeclarations().allocate(device);
        render.textures.allocated = true;
        render.skyDome.build();
        render.skyDome.createBuffers(device);
        // The sky table from the scene writer: a clear day without fog.
        scene_tools::SceneDescription description;
        std::string error;
        scene_tools::parseSceneDescription("scene bench\nsky\nsky day clear skycolor 0.2 0.4 0.8 skyfog 0\n",
                                           description, error);
        table = scene_tools::skyTableBytes(description.skyTable);
        MemoryStream stream(table.data(), static_cast<std::int32_t>(table.size()));
        if (record.readHeader(stream) < 0) return;
        record.flags |= kResourceHeaderLoaded;
        sky = std::make_unique<Y3Sky>(&record);
        render.cameraFrame.valid = true;
        render.shaders().setCameraFrame(kIdentity, kIdentity, projection, projection);
        if (withRain && !startRain()) return;
        ready_ = true;
    }
    ~SkyScene() {
        if (rain) rain->release();
        rain.reset();
        rainRecord.release();
        if (sky)
            for (TextureLink& layer : sky->layers) layer.release(false);
        render.skyDome.releaseBuffers();
        render.textures.releaseAll();
        render.shaders().release();
        render.shaders().attach(nullptr, nullptr);
        if (scoped.device()) gameCore.render = savedRender;
        if (gameCore.paths == &paths) gameCore.paths = nullptr;
        if (gameCore.log == &log) gameCore.log = nullptr;
    }
    bool ready() const { return ready_; }

    // The shader package written beside a temporary executable folder and
    // the shader core started from it.
    bool startShaders() {
        const std::filesystem::path folder = std::filesystem::temp_directory_path() / "engine_bench_rain";
        std::filesystem::create_directories(folder);
        gameCore.log = &log;
        gameCore.paths = &paths;
        paths.setPath(PathExeFolderInput, folder.string());
        paths.setPath(PathShaderCacheName, "shaders.0050");
        std::vector<PackedShader> shaders;
        std::string error;
        return buildShaderBodies(shaders, error) && writeShaderPackage(paths.get(PathShaderCacheFile), shaders, error) &&
               render.shaders().initialize();
    }

    // The rain map's two files read into its record, the rain shown and
    // pushed by its first update (textures and buffers made).
    bool startRain() {
        rain_tools::RainFiles files;
        std::string error;
        if (!rain_tools::writeRainFiles(kRain, files, error)) return false;
        scoped.textures.files["drop.dds"] = opaqueWhite();
        scoped.textures.files["ripple.dds"] = opaqueWhite();
        MemoryStream header(files.header.data(), std::int32_t(files.header.size()));
        MemoryStream data(files.data.data(), std::int32_t(files.data.size()));
        if (rainRecord.readHeader(header) < 0) return false;
        rainRecord.flags |= kResourceHeaderLoaded;
        if (rainRecord.readData(data) < 0) return false;
        rainRecord.flags |= kResourceDataLoaded;
        rain = RainMap::create(&rainRecord);
        if (!rain) return false;
        rain->flags |= kRainShown;
        std::vector<std::uint8_t> pixels;
        frame(true, pixels);
        return (rain->flags & kRainMapAllocated) != 0;
    }

    // Clears to black, draws the sky when asked, reads the frame back.
    void frame(bool withSky, std::vector<std::uint8_t>& pixels) {
        IDirect3DDevice9* device = scoped.device();
        device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF000000u, 1.0f, 0);
        device->BeginScene();
        render.shaders().resetPass();
        if (withSky) sky->render();
        if (withSky && rain) rain->update();
        device->EndScene();
        IDirect3DSurface9* back = nullptr;
        device->GetBackBuffer(0, 0, D3DBACKBUFFER_TYPE_MONO, &back);
        D3DSURFACE_DESC desc{};
        if (back) platform::d3d9::readSurface(back, pixels, desc);
        if (back) back->Release();
        benchmark::DoNotOptimize(pixels.data());
    }

    // The camera at the origin looking along +z, a 90-degree perspective
    // from 0.5 to 1000 units.
    static constexpr float kNear = 0.5f, kFar = 1000.0f, kQ = kFar / (kFar - kNear);
    static constexpr float kIdentity[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
    const float projection[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, kQ, 1, 0, 0, -kNear * kQ, 0};

    bench_device::ScopedDevice scoped;
    RenderCore render;
    RenderCore* savedRender = nullptr;
    std::string table;
    Y3SkyDataInstance record{"bench"};
    std::unique_ptr<Y3Sky> sky;
    Log log;
    AppPaths paths;
    Y3RainMapData rainRecord{"bench"};
    std::unique_ptr<RainMap> rain;

private:
    bool ready_ = false;
};

// The scene's frame paired with the bare GL frame; the two pictures must
// agree before the run and after it (their differing pixels a counter).
void pairedWithBareDome(benchmark::State& state, SkyScene& scene, BareDome& bare, const char* differ) {
    std::vector<std::uint8_t> mine, base;
    scene.frame(true, mine);
    bare.frame(base);
    if (bench_gl::differingPixels(mine, base) != 0) return state.SkipWithError(differ);
    bench_pairs::runPaired(state, [&] { scene.frame(true, mine); }, [&] { bare.frame(base); });
    const std::size_t differing = bench_gl::differingPixels(mine, base);
    state.counters["differing_pixels"] = double(differing);
    if (differing != 0) state.SkipWithError(differ);
}

void BM_SkyVsBareGL(benchmark::State& state) {
    SkyScene scene(state);
    if (!scene.ready()) return state.SkipWithError("no GL device or sky table");
    // The fixed path scales the sky layer's coordinates by 16192 / the
    // video mode's width.
    const std::int32_t width = textureEnvironment().videoSetup().res_width;
    const float scale = 16192.0f / float(width > 0 ? width : 1024);
    const float colour[3] = {0.2f, 0.4f, 0.8f};
    BareDome bare(scene.render.skyDome, scene.projection, scale, colour);
    if (!bare.ready()) return state.SkipWithError(bare.why.empty() ? "no bare GL context" : bare.why.c_str());
    pairedWithBareDome(state, scene, bare, "the sky and bare GL drew different pictures");
}

// The frame with the sky and the rain over 7 x 7 cells against the same
// frame without them; the rain side must differ from the sky alone.
void BM_SkyRainFrame(benchmark::State& state) {
    SkyScene scene(state, true);
    if (!scene.ready()) return state.SkipWithError("no GL device, shaders or rain");
    std::vector<std::uint8_t> wet, bare;
    bench_pairs::runPaired(state, [&] { scene.frame(true, wet); }, [&] { scene.frame(false, bare); });
    std::vector<std::uint8_t> dry;
    RainMap* rain = scene.rain.get();
    scene.rain.release();
    scene.frame(true, dry);
    scene.rain.reset(rain);
    if (bench_gl::differingPixels(wet, dry) == 0) state.SkipWithError("the rain drew nothing");
}

// The same frame against bare GL draws of the dome's and the cells' own
// vertices and indices with the same arithmetic; the pictures must agree.
void BM_SkyRainVsBareGL(benchmark::State& state) {
    SkyScene scene(state, true);
    if (!scene.ready()) return state.SkipWithError("no GL device, shaders or rain");
    // The shader path scales the sky layer's coordinates by 3072 / width.
    const std::int32_t width = textureEnvironment().videoSetup().res_width;
    const float scale = 3072.0f / float(width > 0 ? width : 1024);
    const float colour[3] = {0.2f, 0.4f, 0.8f};
    BareDome bare(scene.render.skyDome, scene.projection, scale, colour);
    if (!bare.ready()) return state.SkipWithError(bare.why.empty() ? "no bare GL context" : bare.why.c_str());
    bare.addRain(*scene.rainRecord.data, 3, 3);
    pairedWithBareDome(state, scene, bare, "the rain and bare GL drew different pictures");
}

void BM_SkyFrame(benchmark::State& state) {
    SkyScene scene(state);
    if (!scene.ready()) return state.SkipWithError("no GL device or sky table");
    std::vector<std::uint8_t> skyFrame, bareFrame;
    bench_pairs::runPaired(state, [&] { scene.frame(true, skyFrame); }, [&] { scene.frame(false, bareFrame); });
    // B, G, R, A in memory, row 4 of the frame: the sky's colour (51, 102,
    // 204) and black.
    auto top = [](const std::vector<std::uint8_t>& bytes, int channel) {
        const std::size_t at = (std::size_t(kSize) * 4 + kSize / 2) * 4 + std::size_t(channel);
        return at < bytes.size() ? int(bytes[at]) : -1;
    };
    if (std::abs(top(skyFrame, 2) - 51) > 6 || std::abs(top(skyFrame, 1) - 102) > 6 ||
        std::abs(top(skyFrame, 0) - 204) > 6 || top(bareFrame, 0) != 0 || top(bareFrame, 1) != 0 ||
        top(bareFrame, 2) != 0)
        state.SkipWithError("the frames do not show the sky and the clear colour");
}

}  // namespace

BENCHMARK(BM_SkyFrame)->UseManualTime()->MinTime(0.5)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SkyVsBareGL)->Name("Sky/dome_vs_bare_gl")->UseManualTime()->MinTime(0.5)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SkyRainFrame)->Name("SkyRain/frame_vs_bare_frame")->UseManualTime()->MinTime(0.5)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SkyRainVsBareGL)->Name("SkyRain/frame_vs_bare_gl")->UseManualTime()->MinTime(0.5)->Unit(benchmark::kMillisecond);

int main(int argc, char** argv) {
    bench_pairs::fixAllocator();
    benchmark::Initialize(&argc, argv);
    bench_gl::RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    // sky frame / bare frame, and sky frame / bare GL dome.
    for (const auto& [name, ratio] : reporter.ratios) std::printf("%s: %.2f\n", name.c_str(), ratio);
    benchmark::Shutdown();
    return 0;
}
