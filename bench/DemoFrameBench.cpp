// The demo's frame time on the GL backend at 1024 x 768, beside a bare GL
// frame in the same run:
//   Demo/startup    the render start-up to the first presented frame: the
//                   video core and its device (EGL, the shader programs),
//                   the render objects and the demo's splash drawn and
//                   presented (counter startup_ms; one start per process)
//   Demo/frame      one frame as the game's frame step draws it: the render
//                   core's frame with a camera (the clear to the background
//                   colour inside its picture, the scene pass) and the demo scene's
//                   still frame (the stone texture of the demo's
//                   textures.pak on a quad), then the present
//   Demo/bare_gl    the baseline: one clear and one textured triangle
//                   through bare OpenGL calls on a 1024 x 768 target
// Each frame ends with glFinish, so that the GL work is paid in the frame.
// The run ends with the ratio demo frame / bare GL frame. Needs the built
// demo data folder (target demo_data).
#include "GLBench.h"

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "app/GameCore.h"
#include "foundation/AppPaths.h"
#include "foundation/IniFile.h"
#include "foundation/Log.h"
#include "foundation/TimeCore.h"
#include "platform/d3d9/D3D9.h"
#include "platform/d3d9/GLContext.h"
#include "render/RenderCore.h"
#include "render/VideoCore.h"
#include "resources/PackageDatabase.h"
#include "scene/CameraCore.h"
#include "ui/StillFrameData.h"

namespace {

constexpr int kWidth = 1024;
constexpr int kHeight = 768;

// The game core of the demo: its log, clocks, settings, paths and package
// database (the demo's textures.pak), the video and render cores on the GL
// backend. Made once, at the first use, so that its start is timed once.
class DemoRender {
public:
    static DemoRender& instance() {
        static DemoRender demo;
        return demo;
    }
    bool ready() const { return ready_; }
    double startupSeconds() const { return startup_; }

    // One frame as the game's frame step draws and presents it.
    bool frame() {
        const bool drawn = gameCore.render->mainLoop() && gameCore.video->videoDevice.presentScene();
        glFinish();
        return drawn;
    }

    // The RGB of the back buffer at a still-frame point (the last frame).
    std::uint32_t pixel(int x, int y) const {
        IDirect3DSurface9* back = nullptr;
        gameCore.video->device()->GetBackBuffer(0, 0, D3DBACKBUFFER_TYPE_MONO, &back);
        std::vector<std::uint8_t> bytes;
        D3DSURFACE_DESC desc{};
        const bool read = back && platform::d3d9::readSurface(back, bytes, desc);
        if (back) back->Release();
        if (!read) return 0;
        const std::size_t at = (std::size_t(y) * desc.Height / kHeight * desc.Width + std::size_t(x) * desc.Width / kWidth) * 4;
        return std::uint32_t(bytes[at + 2]) << 16 | std::uint32_t(bytes[at + 1]) << 8 | bytes[at];
    }

private:
    DemoRender() : camera_(nullptr, "demo") {
        platform::d3d9::Environment gl;
        gl.backend = platform::d3d9::BackendKind::GL;
        platform::d3d9::setEnvironment(gl);
        gameCore.log = new Log;
        gameCore.clocks = new TimeCore;
        gameCore.settings = new IniFile;
        gameCore.settings->savePending = false;
        gameCore.settings->getCategory("game").getVariable("splash").setString(DEMO_FOLDER "/bin/splash_screen.dds");
        gameCore.paths = new AppPaths;
        gameCore.paths->setPath(PathLanguage, "en");
        gameCore.paths->setPath(PathDataRootInput, DEMO_FOLDER);
        gameCore.packages = new PackageDatabase;
        if (!gameCore.packages->build()) return;

        const auto start = std::chrono::steady_clock::now();
        gameCore.video = new VideoCore;
        gameCore.render = new RenderCore;
        gameCore.video->desktopWidth = kWidth;
        gameCore.video->desktopHeight = kHeight;
        gameCore.video->refreshRate = 60;
        gameCore.video->detectSystem();
        if (!gameCore.video->initialize() || !gameCore.video->videoDevice.initialize() ||
            !gameCore.render->allocate_device())
            return;
        gameCore.render->textures.allocated = true;
        if (!gameCore.render->renderSplash()) return;
        glFinish();
        startup_ = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

        // The demo scene's frame: a camera and the stone quad where the
        // demo's scene script places it.
        camera_.initialize(-1.0f);
        gameCore.render->camera = &camera_;
        gameCore.render->stillFrames().data.create("demo_stone", "stone", 384.0f, 256.0f, 256.0f, 256.0f);
        ready_ = frame();
    }

    CameraCore camera_;
    bool ready_ = false;
    double startup_ = 0.0;
};

void demoStartup(benchmark::State& state) {
    DemoRender& demo = DemoRender::instance();
    if (!demo.ready()) {
        state.SkipWithError("the demo cannot draw on the GL backend (demo data built? EGL?)");
        return;
    }
    for (auto _ : state) state.SetIterationTime(demo.startupSeconds());
    state.counters["startup_ms"] = demo.startupSeconds() * 1e3;
}
BENCHMARK(demoStartup)->Name("Demo/startup")->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

void demoFrame(benchmark::State& state) {
    DemoRender& demo = DemoRender::instance();
    if (!demo.ready()) {
        state.SkipWithError("the demo cannot draw on the GL backend (demo data built? EGL?)");
        return;
    }
    for (auto _ : state) benchmark::DoNotOptimize(demo.frame());
    // What the frame shows: the clear colour above the stone quad, the
    // quad in the middle (RGB as decimal counters).
    state.counters["above_rgb"] = demo.pixel(kWidth / 2, 128);
    state.counters["centre_rgb"] = demo.pixel(kWidth / 2, kHeight / 2);
}
BENCHMARK(demoFrame)->Name("Demo/frame")->Unit(benchmark::kMillisecond);

void bareFrame(benchmark::State& state) {
    platform::d3d9::GLContext context;
    std::string why;
    if (!context.open(nullptr, why)) {
        state.SkipWithError(why.c_str());
        return;
    }
    context.makeCurrent();
    GLuint color = 0, framebuffer = 0;
    glCreateRenderbuffers(1, &color);
    glNamedRenderbufferStorage(color, GL_RGBA8, kWidth, kHeight);
    glCreateFramebuffers(1, &framebuffer);
    glNamedFramebufferRenderbuffer(framebuffer, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER, color);
    const GLuint vs = bench_gl::compile(GL_VERTEX_SHADER, R"(#version 450 core
const vec2 corners[3] = vec2[3](vec2(-0.5, -0.5), vec2(0.5, -0.5), vec2(0.0, 0.5));
out vec2 uv;
void main() { uv = corners[gl_VertexID] + 0.5; gl_Position = vec4(corners[gl_VertexID], 0.0, 1.0); })");
    const GLuint fs = bench_gl::compile(GL_FRAGMENT_SHADER, R"(#version 450 core
layout(binding = 0) uniform sampler2D image;
in vec2 uv;
out vec4 fragment;
void main() { fragment = texture(image, uv); })");
    GLuint program = glCreateProgram();
    glAttachShader(program, vs);
    glAttachShader(program, fs);
    glLinkProgram(program);
    GLuint vertexArray = 0, texture = 0;
    glCreateVertexArrays(1, &vertexArray);
    glCreateTextures(GL_TEXTURE_2D, 1, &texture);
    glTextureStorage2D(texture, 1, GL_RGBA8, 256, 256);
    std::vector<std::uint32_t> texels(256 * 256);
    for (std::size_t i = 0; i < texels.size(); ++i) texels[i] = ((i / 32 + i / 256 / 32) % 2) ? 0xFFAA8C78u : 0xFF504030u;
    glTextureSubImage2D(texture, 0, 0, 0, 256, 256, GL_BGRA, GL_UNSIGNED_BYTE, texels.data());
    glTextureParameteri(texture, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
    glBindFramebuffer(GL_FRAMEBUFFER, framebuffer);
    glViewport(0, 0, kWidth, kHeight);
    glUseProgram(program);
    glBindVertexArray(vertexArray);
    glBindTextureUnit(0, texture);
    for (auto _ : state) {
        const float sky[4] = {0.25f, 0.375f, 0.5f, 1.0f};
        glClearNamedFramebufferfv(framebuffer, GL_COLOR, 0, sky);
        glDrawArrays(GL_TRIANGLES, 0, 3);
        glFinish();
    }
    glDeleteTextures(1, &texture);
    glDeleteVertexArrays(1, &vertexArray);
    glDeleteProgram(program);
    glDeleteShader(vs);
    glDeleteShader(fs);
    glDeleteFramebuffers(1, &framebuffer);
    glDeleteRenderbuffers(1, &color);
}
BENCHMARK(bareFrame)->Name("Demo/bare_gl")->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    bench_gl::RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    const double ratio = reporter.ratio("Demo/frame", "Demo/bare_gl");
    if (ratio > 0) std::printf("demo frame / bare GL frame at %dx%d: %.2f\n", kWidth, kHeight, ratio);
    benchmark::Shutdown();
    return 0;
}
