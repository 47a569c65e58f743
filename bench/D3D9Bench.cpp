// The GL backend's overhead: one frame of 256 textured, vertex-coloured
// quads (one draw each, a world transform between draws, and one texture
// or four in turn) on a 256 x 256 target, read back at the end, drawn
// through our Direct3D 9 and through bare OpenGL calls in the same process,
// in alternating blocks (PairedRun.h) with the allocator's thresholds fixed
// for both. Both sides must read back the same picture (each channel within
// 2 of the other's), checked before the timing and after it. The run ends
// with the median ratios of the two (goal: the substitute within 2x).
#include "GLBench.h"
#include "PairedRun.h"

#include <cstdio>
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "d3d9/TestScenes.h"
#include "platform/d3d9/D3D9.h"
#include "platform/d3d9/GLContext.h"

namespace {

constexpr int kQuads = 256;
constexpr int kTextures = 4;
constexpr UINT kSize = 256;

struct Vertex {
    float x, y, z;
    D3DCOLOR color;
    float u, v;
};

// A 16-pixel quad in clip space at the origin's corner; the world matrix moves it.
const Vertex kQuad[4] = {{-1.0f, 1.0f, 0.5f, 0xFFFFFFFFu, 0, 0},
                         {-0.875f, 1.0f, 0.5f, 0xFFFF8080u, 1, 0},
                         {-1.0f, 0.875f, 0.5f, 0xFF80FF80u, 0, 1},
                         {-0.875f, 0.875f, 0.5f, 0xFF8080FFu, 1, 1}};

D3DMATRIX placement(int i) {
    D3DMATRIX m{{{1, 0, 0, 0}, {0, 1, 0, 0}, {0, 0, 1, 0}, {0, 0, 0, 1}}};
    m.m[3][0] = float(i % 16) * 0.125f;
    m.m[3][1] = -float(i / 16) * 0.125f;
    return m;
}

// Sum of the colour bytes (alpha left out), shown beside the run.
double colourSum(const std::vector<std::uint8_t>& bgra) {
    double sum = 0;
    for (std::size_t i = 0; i + 3 < bgra.size(); i += 4) sum += bgra[i] + bgra[i + 1] + bgra[i + 2];
    return sum;
}

std::vector<std::uint32_t> texels(int seed) {
    std::vector<std::uint32_t> t(64 * 64);
    for (std::size_t i = 0; i < t.size(); ++i) t[i] = 0xFF000000u | std::uint32_t(i * 2654435761u + seed * 977u);
    return t;
}

// The frame through our Direct3D 9 on the GL backend.
class SubstituteScene {
public:
    SubstituteScene() {
        platform::d3d9::Environment environment;
        environment.backend = platform::d3d9::BackendKind::GL;
        platform::d3d9::setEnvironment(environment);
        direct3d_ = Direct3DCreate9(D3D_SDK_VERSION);
        D3DPRESENT_PARAMETERS p = d3d9_scenes::sceneParameters();
        p.BackBufferWidth = p.BackBufferHeight = kSize;
        if (FAILED(direct3d_->CreateDevice(0, D3DDEVTYPE_HAL, nullptr, D3DCREATE_HARDWARE_VERTEXPROCESSING, &p,
                                           &device_)))
            return;
        const D3DVERTEXELEMENT9 elements[] = {{0, 0, D3DDECLTYPE_FLOAT3, 0, D3DDECLUSAGE_POSITION, 0},
                                              {0, 12, D3DDECLTYPE_D3DCOLOR, 0, D3DDECLUSAGE_COLOR, 0},
                                              {0, 16, D3DDECLTYPE_FLOAT2, 0, D3DDECLUSAGE_TEXCOORD, 0},
                                              D3DDECL_END()};
        device_->CreateVertexDeclaration(elements, &declaration_);
        device_->CreateVertexBuffer(sizeof kQuad, D3DUSAGE_WRITEONLY, 0, D3DPOOL_MANAGED, &buffer_, nullptr);
        void* data = nullptr;
        buffer_->Lock(0, 0, &data, 0);
        std::memcpy(data, kQuad, sizeof kQuad);
        buffer_->Unlock();
        for (int t = 0; t < kTextures; ++t) {
            device_->CreateTexture(64, 64, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &textures_[t], nullptr);
            D3DLOCKED_RECT locked{};
            textures_[t]->LockRect(0, &locked, nullptr, 0);
            const auto image = texels(t);
            std::memcpy(locked.pBits, image.data(), image.size() * 4);
            textures_[t]->UnlockRect(0);
        }
        device_->SetRenderState(D3DRS_LIGHTING, FALSE);
        device_->SetVertexDeclaration(declaration_);
        device_->SetStreamSource(0, buffer_, 0, sizeof(Vertex));
        device_->GetBackBuffer(0, 0, D3DBACKBUFFER_TYPE_MONO, &back_);
    }
    ~SubstituteScene() {
        if (back_) back_->Release();
        for (IDirect3DTexture9* t : textures_)
            if (t) t->Release();
        if (buffer_) buffer_->Release();
        if (declaration_) declaration_->Release();
        if (device_) device_->Release();
        if (direct3d_) direct3d_->Release();
        platform::d3d9::setEnvironment({});
    }
    bool ready() const { return back_ != nullptr; }

    void frame(int switched, std::vector<std::uint8_t>& pixels) {
        device_->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF000000u, 1.0f, 0);
        device_->BeginScene();
        for (int i = 0; i < kQuads; ++i) {
            const D3DMATRIX world = placement(i);
            device_->SetTransform(D3DTS_WORLD, &world);
            device_->SetTexture(0, textures_[i % switched]);
            device_->DrawPrimitive(D3DPT_TRIANGLESTRIP, 0, 2);
        }
        device_->EndScene();
        device_->Present(nullptr, nullptr, nullptr, nullptr);
        D3DSURFACE_DESC desc{};
        platform::d3d9::readSurface(back_, pixels, desc);
        benchmark::DoNotOptimize(pixels.data());
    }

private:
    IDirect3D9* direct3d_ = nullptr;
    IDirect3DDevice9* device_ = nullptr;
    IDirect3DVertexDeclaration9* declaration_ = nullptr;
    IDirect3DVertexBuffer9* buffer_ = nullptr;
    IDirect3DTexture9* textures_[kTextures] = {};
    IDirect3DSurface9* back_ = nullptr;
};

// The same frame through bare OpenGL calls, in a context of its own.
class BareScene {
public:
    BareScene() {
        if (!context_.open(nullptr, why)) return;
        context_.makeCurrent();
        glClipControl(GL_UPPER_LEFT, GL_ZERO_TO_ONE);
        target_.create(kSize);
        program_ = glCreateProgram();
        vs_ = bench_gl::compile(GL_VERTEX_SHADER, R"(#version 450 core
layout(location = 0) in vec4 position;
layout(location = 4) in vec4 color;
layout(location = 6) in vec2 uv;
uniform mat4 world;
out vec4 vColor;
out vec2 vUv;
// Direct3D's pixel centres and top-left rule, as the substitute keeps them:
// half a pixel right, a 32nd less than half a pixel down.
void main() {
    gl_Position = world * vec4(position.xyz, 1.0);
    gl_Position.xy += vec2(1.0 / 256.0, -(1.0 - 1.0 / 32.0) / 256.0) * gl_Position.w;
    vColor = color;
    vUv = uv;
})");
        fs_ = bench_gl::compile(GL_FRAGMENT_SHADER, R"(#version 450 core
layout(binding = 0) uniform sampler2D image;
in vec4 vColor;
in vec2 vUv;
out vec4 fragment;
void main() { fragment = texture(image, vUv) * vColor; })");
        glAttachShader(program_, vs_);
        glAttachShader(program_, fs_);
        glLinkProgram(program_);
        world_ = glGetUniformLocation(program_, "world");
        glCreateBuffers(1, &buffer_);
        glNamedBufferData(buffer_, sizeof kQuad, kQuad, GL_STATIC_DRAW);
        glCreateVertexArrays(1, &vertexArray_);
        const GLuint locations[3] = {0, 4, 6};
        for (GLuint l : locations) {
            glEnableVertexArrayAttrib(vertexArray_, l);
            glVertexArrayAttribBinding(vertexArray_, l, 0);
        }
        glVertexArrayAttribFormat(vertexArray_, 0, 3, GL_FLOAT, GL_FALSE, 0);
        glVertexArrayAttribFormat(vertexArray_, 4, GL_BGRA, GL_UNSIGNED_BYTE, GL_TRUE, 12);
        glVertexArrayAttribFormat(vertexArray_, 6, 2, GL_FLOAT, GL_FALSE, 16);
        glVertexArrayVertexBuffer(vertexArray_, 0, buffer_, 0, sizeof(Vertex));
        glCreateTextures(GL_TEXTURE_2D, kTextures, textures_);
        for (int t = 0; t < kTextures; ++t) {
            glTextureStorage2D(textures_[t], 1, GL_RGBA8, 64, 64);
            const auto image = texels(t);
            glTextureSubImage2D(textures_[t], 0, 0, 0, 64, 64, GL_BGRA, GL_UNSIGNED_BYTE, image.data());
            glTextureParameteri(textures_[t], GL_TEXTURE_MAX_LEVEL, 0);
        }
        glCreateSamplers(1, &sampler_);
        glSamplerParameteri(sampler_, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
        glSamplerParameteri(sampler_, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
        ready_ = true;
    }
    ~BareScene() {
        if (!ready_) return;
        context_.makeCurrent();
        glDeleteSamplers(1, &sampler_);
        glDeleteTextures(kTextures, textures_);
        glDeleteVertexArrays(1, &vertexArray_);
        glDeleteBuffers(1, &buffer_);
        glDeleteProgram(program_);
        glDeleteShader(vs_);
        glDeleteShader(fs_);
        target_.destroy();
    }
    bool ready() const { return ready_; }

    // The whole state is set again each frame: the substitute's frames run
    // in between on their own context, and a bare program sets what it draws with.
    void frame(int switched, std::vector<std::uint8_t>& pixels) {
        context_.makeCurrent();
        glBindFramebuffer(GL_FRAMEBUFFER, target_.framebuffer);
        glViewport(0, 0, kSize, kSize);
        glEnable(GL_DEPTH_TEST);
        glDepthFunc(GL_LEQUAL);
        glFrontFace(GL_CW);
        glEnable(GL_CULL_FACE);
        glUseProgram(program_);
        glBindVertexArray(vertexArray_);
        glBindSampler(0, sampler_);
        const float black[4] = {0, 0, 0, 1};
        const float far = 1.0f;
        glClearNamedFramebufferfv(target_.framebuffer, GL_COLOR, 0, black);
        glClearNamedFramebufferfi(target_.framebuffer, GL_DEPTH_STENCIL, 0, far, 0);
        for (int i = 0; i < kQuads; ++i) {
            const D3DMATRIX m = placement(i);
            glUniformMatrix4fv(world_, 1, GL_FALSE, &m.m[0][0]);
            glBindTextureUnit(0, textures_[i % switched]);
            glDrawArrays(GL_TRIANGLE_STRIP, 0, 4);
        }
        pixels.resize(std::size_t(kSize) * kSize * 4);
        glReadPixels(0, 0, kSize, kSize, GL_BGRA, GL_UNSIGNED_BYTE, pixels.data());
        benchmark::DoNotOptimize(pixels.data());
    }

    std::string why;

private:
    platform::d3d9::GLContext context_;
    bool ready_ = false;
    bench_gl::OffscreenTarget target_;
    GLuint program_ = 0, vs_ = 0, fs_ = 0, buffer_ = 0, vertexArray_ = 0,
           sampler_ = 0;
    GLint world_ = -1;
    GLuint textures_[kTextures] = {};
};

void substituteVsBare(benchmark::State& state) {
    const int switched = int(state.range(0));
    SubstituteScene substitute;
    if (!substitute.ready()) {
        state.SkipWithError("no GL device");
        return;
    }
    BareScene bare;
    if (!bare.ready()) {
        state.SkipWithError(bare.why.c_str());
        return;
    }
    std::vector<std::uint8_t> mine;
    std::vector<std::uint8_t> base;
    substitute.frame(switched, mine);
    bare.frame(switched, base);
    if (bench_gl::differingPixels(mine, base) != 0) {
        state.SkipWithError("the substitute and bare GL drew different pictures");
        return;
    }
    bench_pairs::runPaired(state, [&] { substitute.frame(switched, mine); }, [&] { bare.frame(switched, base); });
    const std::size_t differing = bench_gl::differingPixels(mine, base);
    state.counters["colour_sum"] = colourSum(mine);
    state.counters["differing_pixels"] = double(differing);
    if (differing != 0) state.SkipWithError("the substitute and bare GL drew different pictures");
}
// The argument: how many textures the quads take turns with (1: no changes).
BENCHMARK(substituteVsBare)
    ->Name("D3D9/substitute_vs_bare_gl")
    ->Arg(1)
    ->Arg(kTextures)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    bench_pairs::fixAllocator();
    benchmark::Initialize(&argc, argv);
    bench_gl::RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    for (const char* arg : {"/1", "/4"}) {
        const double ratio = reporter.ratio(std::string("D3D9/substitute_vs_bare_gl") + arg + "/manual_time");
        if (ratio > 0) std::printf("substitute / bare GL, textures%s: %.2f\n", arg, ratio);
    }
    benchmark::Shutdown();
    return 0;
}
