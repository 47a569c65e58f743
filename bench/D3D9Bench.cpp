// The GL backend's overhead: one frame of 256 textured, vertex-coloured
// quads (one draw each, a world transform between draws, and one texture
// or four in turn) on a 256 x 256 target, read back at the end, drawn
// through our Direct3D 9 and through bare OpenGL calls in the same process.
// The run ends with the ratios of the two (goal: the substitute within 2x).
#include "GLBench.h"

#include <cstdio>
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

// Sum of the colour bytes (alpha left out), so both paths show they drew the same picture.
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

void substituteFrame(benchmark::State& state) {
    platform::d3d9::Environment environment;
    environment.backend = platform::d3d9::BackendKind::GL;
    platform::d3d9::setEnvironment(environment);
    IDirect3D9* direct3d = Direct3DCreate9(D3D_SDK_VERSION);
    D3DPRESENT_PARAMETERS p = d3d9_scenes::sceneParameters();
    p.BackBufferWidth = p.BackBufferHeight = kSize;
    IDirect3DDevice9* device = nullptr;
    if (FAILED(direct3d->CreateDevice(0, D3DDEVTYPE_HAL, nullptr, D3DCREATE_HARDWARE_VERTEXPROCESSING, &p, &device))) {
        state.SkipWithError("no GL device");
        direct3d->Release();
        return;
    }
    const D3DVERTEXELEMENT9 elements[] = {{0, 0, D3DDECLTYPE_FLOAT3, 0, D3DDECLUSAGE_POSITION, 0},
                                          {0, 12, D3DDECLTYPE_D3DCOLOR, 0, D3DDECLUSAGE_COLOR, 0},
                                          {0, 16, D3DDECLTYPE_FLOAT2, 0, D3DDECLUSAGE_TEXCOORD, 0},
                                          D3DDECL_END()};
    IDirect3DVertexDeclaration9* declaration = nullptr;
    device->CreateVertexDeclaration(elements, &declaration);
    IDirect3DVertexBuffer9* buffer = nullptr;
    device->CreateVertexBuffer(sizeof kQuad, D3DUSAGE_WRITEONLY, 0, D3DPOOL_MANAGED, &buffer, nullptr);
    void* data = nullptr;
    buffer->Lock(0, 0, &data, 0);
    std::memcpy(data, kQuad, sizeof kQuad);
    buffer->Unlock();
    IDirect3DTexture9* textures[kTextures] = {};
    for (int t = 0; t < kTextures; ++t) {
        device->CreateTexture(64, 64, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &textures[t], nullptr);
        D3DLOCKED_RECT locked{};
        textures[t]->LockRect(0, &locked, nullptr, 0);
        const auto image = texels(t);
        std::memcpy(locked.pBits, image.data(), image.size() * 4);
        textures[t]->UnlockRect(0);
    }
    device->SetRenderState(D3DRS_LIGHTING, FALSE);
    device->SetVertexDeclaration(declaration);
    device->SetStreamSource(0, buffer, 0, sizeof(Vertex));
    IDirect3DSurface9* back = nullptr;
    device->GetBackBuffer(0, 0, D3DBACKBUFFER_TYPE_MONO, &back);
    std::vector<std::uint8_t> pixels;
    D3DSURFACE_DESC desc{};
    const int switched = int(state.range(0));
    for (auto _ : state) {
        device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF000000u, 1.0f, 0);
        device->BeginScene();
        for (int i = 0; i < kQuads; ++i) {
            const D3DMATRIX world = placement(i);
            device->SetTransform(D3DTS_WORLD, &world);
            device->SetTexture(0, textures[i % switched]);
            device->DrawPrimitive(D3DPT_TRIANGLESTRIP, 0, 2);
        }
        device->EndScene();
        device->Present(nullptr, nullptr, nullptr, nullptr);
        platform::d3d9::readSurface(back, pixels, desc);
        benchmark::DoNotOptimize(pixels.data());
    }
    state.counters["colour_sum"] = colourSum(pixels);
    back->Release();
    for (IDirect3DTexture9* t : textures) t->Release();
    buffer->Release();
    declaration->Release();
    device->Release();
    direct3d->Release();
    platform::d3d9::setEnvironment({});
}
// The argument: how many textures the quads take turns with (1: no changes).
BENCHMARK(substituteFrame)->Name("D3D9/substitute")->Arg(1)->Arg(kTextures)->Unit(benchmark::kMillisecond);

void bareFrame(benchmark::State& state) {
    platform::d3d9::GLContext context;
    std::string why;
    if (!context.open(nullptr, why)) {
        state.SkipWithError(why.c_str());
        return;
    }
    context.makeCurrent();
    glClipControl(GL_UPPER_LEFT, GL_ZERO_TO_ONE);
    GLuint color = 0, depth = 0, framebuffer = 0;
    glCreateRenderbuffers(1, &color);
    glNamedRenderbufferStorage(color, GL_RGBA8, kSize, kSize);
    glCreateRenderbuffers(1, &depth);
    glNamedRenderbufferStorage(depth, GL_DEPTH24_STENCIL8, kSize, kSize);
    glCreateFramebuffers(1, &framebuffer);
    glNamedFramebufferRenderbuffer(framebuffer, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER, color);
    glNamedFramebufferRenderbuffer(framebuffer, GL_DEPTH_STENCIL_ATTACHMENT, GL_RENDERBUFFER, depth);
    GLuint program = glCreateProgram();
    const GLuint vs = bench_gl::compile(GL_VERTEX_SHADER, R"(#version 450 core
layout(location = 0) in vec4 position;
layout(location = 4) in vec4 color;
layout(location = 6) in vec2 uv;
uniform mat4 world;
out vec4 vColor;
out vec2 vUv;
void main() { gl_Position = world * vec4(position.xyz, 1.0); vColor = color; vUv = uv; })");
    const GLuint fs = bench_gl::compile(GL_FRAGMENT_SHADER, R"(#version 450 core
layout(binding = 0) uniform sampler2D image;
in vec4 vColor;
in vec2 vUv;
out vec4 fragment;
void main() { fragment = texture(image, vUv) * vColor; })");
    glAttachShader(program, vs);
    glAttachShader(program, fs);
    glLinkProgram(program);
    const GLint world = glGetUniformLocation(program, "world");
    GLuint buffer = 0, vertexArray = 0;
    glCreateBuffers(1, &buffer);
    glNamedBufferData(buffer, sizeof kQuad, kQuad, GL_STATIC_DRAW);
    glCreateVertexArrays(1, &vertexArray);
    const GLuint locations[3] = {0, 4, 6};
    for (GLuint l : locations) {
        glEnableVertexArrayAttrib(vertexArray, l);
        glVertexArrayAttribBinding(vertexArray, l, 0);
    }
    glVertexArrayAttribFormat(vertexArray, 0, 3, GL_FLOAT, GL_FALSE, 0);
    glVertexArrayAttribFormat(vertexArray, 4, GL_BGRA, GL_UNSIGNED_BYTE, GL_TRUE, 12);
    glVertexArrayAttribFormat(vertexArray, 6, 2, GL_FLOAT, GL_FALSE, 16);
    glVertexArrayVertexBuffer(vertexArray, 0, buffer, 0, sizeof(Vertex));
    GLuint textures[kTextures] = {};
    glCreateTextures(GL_TEXTURE_2D, kTextures, textures);
    for (int t = 0; t < kTextures; ++t) {
        glTextureStorage2D(textures[t], 1, GL_RGBA8, 64, 64);
        const auto image = texels(t);
        glTextureSubImage2D(textures[t], 0, 0, 0, 64, 64, GL_BGRA, GL_UNSIGNED_BYTE, image.data());
        glTextureParameteri(textures[t], GL_TEXTURE_MAX_LEVEL, 0);
    }
    GLuint sampler = 0;
    glCreateSamplers(1, &sampler);
    glSamplerParameteri(sampler, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
    glSamplerParameteri(sampler, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
    glBindSampler(0, sampler);
    std::vector<std::uint8_t> pixels(kSize * kSize * 4);
    const int switched = int(state.range(0));
    glBindFramebuffer(GL_FRAMEBUFFER, framebuffer);
    glViewport(0, 0, kSize, kSize);
    glEnable(GL_DEPTH_TEST);
    glDepthFunc(GL_LEQUAL);
    glFrontFace(GL_CW);
    glEnable(GL_CULL_FACE);
    glUseProgram(program);
    glBindVertexArray(vertexArray);
    for (auto _ : state) {
        const float black[4] = {0, 0, 0, 1};
        const float far = 1.0f;
        glClearNamedFramebufferfv(framebuffer, GL_COLOR, 0, black);
        glClearNamedFramebufferfi(framebuffer, GL_DEPTH_STENCIL, 0, far, 0);
        for (int i = 0; i < kQuads; ++i) {
            const D3DMATRIX m = placement(i);
            glUniformMatrix4fv(world, 1, GL_FALSE, &m.m[0][0]);
            glBindTextureUnit(0, textures[i % switched]);
            glDrawArrays(GL_TRIANGLE_STRIP, 0, 4);
        }
        glReadPixels(0, 0, kSize, kSize, GL_BGRA, GL_UNSIGNED_BYTE, pixels.data());
        benchmark::DoNotOptimize(pixels.data());
    }
    state.counters["colour_sum"] = colourSum(pixels);
    glDeleteSamplers(1, &sampler);
    glDeleteTextures(kTextures, textures);
    glDeleteVertexArrays(1, &vertexArray);
    glDeleteBuffers(1, &buffer);
    glDeleteProgram(program);
    glDeleteShader(vs);
    glDeleteShader(fs);
    glDeleteFramebuffers(1, &framebuffer);
    glDeleteRenderbuffers(1, &color);
    glDeleteRenderbuffers(1, &depth);
}
BENCHMARK(bareFrame)->Name("D3D9/bare_gl")->Arg(1)->Arg(kTextures)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    bench_gl::RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    for (const char* arg : {"/1", "/4"}) {
        const double ratio = reporter.ratio(std::string("D3D9/substitute") + arg, std::string("D3D9/bare_gl") + arg);
        if (ratio > 0) std::printf("substitute / bare GL, textures%s: %.2f\n", arg, ratio);
    }
    benchmark::Shutdown();
    return 0;
}
