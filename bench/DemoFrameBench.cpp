// The demo's frame time on the GL backend at 1024 x 768, beside a bare GL
// frame in the same run, in alternating blocks (PairedRun.h):
//   Demo/startup        the render start-up to the first presented frame:
//                       the video core and its device (EGL, the shader
//                       programs), the render objects and the demo's splash
//                       drawn and presented (counter startup_ms; one start
//                       per process)
//   Demo/frame_default  one frame as the game's frame step draws it with
//                       the video setup the game starts with on this
//                       machine (its defaults for the adapter's card class;
//                       on a software rasteriser post-processing is off):
//                       the render core's frame with a camera (the clear to
//                       the background colour inside its picture, the scene
//                       pass, the post-processing when on) and the demo
//                       scene's still frame (the stone texture of the demo's
//                       textures.pak on a quad), then the present
//   Demo/frame_bloom    the same frame with "pp_bloom" on in the player's
//                       video settings, as the setup menu turns it on
//   Demo/frame_harbour  the full harbour as the running game draws it at
//                       1024 x 768: the demo's own game, started in a
//                       child copy of this program placed beside the
//                       demo's executable (its data root), plays its tour;
//                       while the hero walks his trajectory in the rain
//                       (sky, lights, shadows, the chimney's smoke, the
//                       characters) each frame of the main loop is timed
//                       and followed by one bare GL frame. Counters: the
//                       medians of both (harbour_ms, bare_ms), their
//                       ratio (x_baseline), and the shares of the frame, in
//                       percent, spent in one physics step of the scene's
//                       world (physics_pct) and in the update of its
//                       particles (particle_pct), each timed on the same
//                       scene right after the walk
//   Demo/harbour_sailors the game started as its executable starts it
//                       (every manager of the game core, the models' and
//                       the animations' among them), the harbour scene
//                       loaded from the demo's packages, its camera cut to
//                       the harbour's view, and 50 sailors in view (the
//                       scene's two and 48 placed in rows before them),
//                       each playing its walk or its idle (the walkers put
//                       back at their places between frames, untimed): one
//                       frame is the game's frame step (the scene's updates, the
//                       animations, the draw and the present); counters:
//                       sailors, the Direct3D draws a frame, the pixels of
//                       the last frame in the sailors' yellow
//   Demo/frame_menu     the game's menu as it opens at the start (no scene):
//                       the demo's page of four buttons over its panel and
//                       sixteen more buttons beside it that the bench builds
//                       as the Load page builds its slot buttons, each with
//                       its text in the "menu" font; one frame is a turn of
//                       the message loop (the frame step, then the posted
//                       script events); counters: the text's pixels of the
//                       last frame over the demo's buttons and the bench's
//                       (menu_text_pixels, item_text_pixels)
//   Demo/frame_play     New game pressed on the menu (the harbour loads, the
//                       music starts), the hero walking to and fro between
//                       two places sent by the click's road, SDL's disk
//                       audio driver taking the mix (the mixer's thread
//                       runs as on a sound card); one frame is a turn of the
//                       message loop; counters: the way he walked in the
//                       timed frames (walked_m), the RMS level of the mix
//                       written meanwhile (mix_rms)
//   Demo/harbour_held   the harbour's held view after New game (the camera
//                       held on "harbour_view", the hero standing; one frame
//                       a turn of the message loop) against its bare-GL
//                       floor: one game frame's GL work recorded at the GL
//                       backend (per draw the program, the uniform blocks
//                       and uniforms, the textures and samplers, the vertex
//                       and index data, the state and target; the clears and
//                       copies) and replayed in bare GL calls in a context
//                       of its own, everything compiled and uploaded
//                       beforehand. The two pictures are compared before
//                       timing (differing_pixels); counters: the recorded
//                       draws and clears, the game's draws a frame, the
//                       uniform blocks changed between draws
//                       (block_changes), the main thread's processor time
//                       of each side (game_cpu_ms, floor_cpu_ms). With the
//                       argument 1 the floor writes each changed uniform
//                       block into a buffer between the draws as the
//                       backend does, instead of binding a range of blocks
//                       uploaded beforehand
// The others against the baseline: one clear and one textured triangle
// through bare OpenGL calls on a 1024 x 768 target. Each frame ends with glFinish, so
// that the GL work is paid in the frame. The counter post_processing says
// whether the frame ran the effects, draws and clears its Direct3D calls
// a frame. The run ends with the ratios demo
// frame / bare GL frame. Needs the built demo data folder (target demo_data).
#include "GLBench.h"
#include "PairedRun.h"

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "app/GameCore.h"
#include "app/GameSetup.h"
#include "app/GlobalObjects.h"
#include "app/ThisMainLoop.h"
#include "platform/FileSystem.h"
#include "scene/ObjectRepository.h"
#include "scene/Scene.h"
#include "app/SaveGame.h"
#include "control/PhysicsCore.h"
#include "input/InputCore.h"
#include "sound/SoundCore.h"
#include "foundation/AppPaths.h"
#include "foundation/IniFile.h"
#include "foundation/Log.h"
#include "foundation/TimeCore.h"
#include "platform/d3d9/D3D9.h"
#include "platform/d3d9/GLContext.h"
#include "platform/d3d9/GLFrameRecord.h"
#include "render/RenderCore.h"
#include "render/VideoCore.h"
#include "resources/PackageDatabase.h"
#include "model/Model.h"
#include "scene/CameraCore.h"
#include "scene/Scene.h"
#include "ui/StillFrameData.h"
#include "script/ScriptCall.h"
#include "script/ScriptEngine.h"

#include <lua.hpp>

#include <cstdlib>
#include <filesystem>
#include <unistd.h>

namespace {

constexpr int kWidth = 1024;
constexpr int kHeight = 768;

// The game core of the demo: its log, clocks, settings, paths and package
// database (the demo's textures.pak), the player's setup, the video and
// render cores on the GL backend, started in the game's order. One at a
// time: the default one is made at its first use (so that its start is
// timed once); the bloom one replaces it.
class DemoRender {
public:
    static DemoRender& instance(bool bloom) {
        std::unique_ptr<DemoRender>& demo = current();
        if (!demo || demo->bloom_ != bloom) {
            demo.reset();
            demo.reset(new DemoRender(bloom));
        }
        return *demo;
    }
    // Gives the game core back empty (the harbour game makes its own).
    static void release() { current().reset(); }
    bool ready() const { return ready_; }
    double startupSeconds() const { return startup_; }
    // Whether the frames ran the post-processing effects: on in the video
    // core, and not switched off by a failure of the effects.
    bool postProcessing() const {
        const VideoSetup& mode = gameCore.video->activeVideoSetup();
        return gameCore.video->postprocessing && (mode.pp_bloom == 1 || mode.pp_depth == 1);
    }

    // One frame as the game's frame step draws and presents it.
    bool frame() {
        gameCore.render->frameMode = gameCore.video->activeVideoSetup().windowMode ? 1 : 0;
        gameCore.render->postProcessing = gameCore.video->postprocessing ? 1 : 0;
        gameCore.render->camera = &camera_;
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

    ~DemoRender() {
        if (gameCore.render) gameCore.render->camera = nullptr;
        delete gameCore.render;
        delete gameCore.video;
        delete gameCore.setup;
        delete gameCore.packages;
        delete gameCore.paths;
        delete gameCore.settings;
        delete gameCore.clocks;
        delete gameCore.log;
        gameCore.render = nullptr;
        gameCore.video = nullptr;
        gameCore.setup = nullptr;
        gameCore.packages = nullptr;
        gameCore.paths = nullptr;
        gameCore.settings = nullptr;
        gameCore.clocks = nullptr;
        gameCore.log = nullptr;
    }

private:
    static std::unique_ptr<DemoRender>& current() {
        static std::unique_ptr<DemoRender> demo;
        return demo;
    }
    explicit DemoRender(bool bloom) : bloom_(bloom), camera_(nullptr, "demo") {
        gameCore.log = new Log;
        // The game's Direct3D: the GL backend with the adapter profile of
        // this host (a limited card on a software rasteriser).
        VideoCore::installGamePlatform();
        gameCore.clocks = new TimeCore;
        gameCore.settings = new IniFile;
        gameCore.settings->savePending = false;
        gameCore.settings->getCategory("game").getVariable("splash").setString(DEMO_FOLDER "/bin/splash_screen.dds");
        // The player's choice in setup.ini; the rest of the setup keeps the
        // defaults of the adapter's card class.
        if (bloom) gameCore.settings->getCategory("video").getVariable("pp_bloom").setString("yes");
        gameCore.paths = new AppPaths;
        gameCore.paths->setPath(PathLanguage, "en");
        gameCore.paths->setPath(PathDataRootInput, DEMO_FOLDER);
        // The compiled-shader package lies beside the demo's executable.
        gameCore.paths->setPath(PathExeFolderInput, DEMO_FOLDER "/bin");
        gameCore.packages = new PackageDatabase;
        if (!gameCore.packages->build()) return;

        const auto start = std::chrono::steady_clock::now();
        gameCore.setup = new GameSetup;
        gameCore.video = new VideoCore;
        gameCore.render = new RenderCore;
        gameCore.video->desktopWidth = kWidth;
        gameCore.video->desktopHeight = kHeight;
        gameCore.video->refreshRate = 60;
        // The game's start: the video core, the player's setup, the render
        // core (its settings, the device, the shader core's start) and the
        // render objects.
        if (!gameCore.video->initialize()) return;
        gameCore.setup->load(true);
        if (!gameCore.render->initialize() || !gameCore.render->allocate_device()) return;
        if (!gameCore.render->renderSplash()) return;
        glFinish();
        startup_ = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        // The device's data (the textures, the effects' targets among them)
        // as the game allocates it once its data is loaded.
        if (!gameCore.render->allocateDeviceData(1)) return;

        // The demo scene's frame: a camera and the stone quad where the
        // demo's scene script places it.
        camera_.initialize(-1.0f);
        gameCore.render->stillFrames().data.create("demo_stone", "stone", 384.0f, 256.0f, 256.0f, 256.0f);
        ready_ = frame();
    }

    bool bloom_ = false;
    CameraCore camera_;
    bool ready_ = false;
    double startup_ = 0.0;
};

// Reads the last presented frame back (BGRA rows, top first); false
// without a device or when the read fails.
bool readBackBuffer(std::vector<std::uint8_t>& bytes, D3DSURFACE_DESC& desc) {
    if (!gameCore.video || !gameCore.video->device()) return false;
    IDirect3DSurface9* back = nullptr;
    gameCore.video->device()->GetBackBuffer(0, 0, D3DBACKBUFFER_TYPE_MONO, &back);
    const bool read = back && platform::d3d9::readSurface(back, bytes, desc);
    if (back) back->Release();
    return read;
}

// The game as its executable starts it, on the demo's data, with a user and
// runtime folder of its own under the temporary folder: the platforms its
// entry installs, its game core, the engine's start (the scripts loaded and
// "system_reset" run). The audio driver is SDL's (dummy: the mixer's thread
// runs and the sound goes nowhere; disk: the mix is written to diskFile).
// Frames are the main loop's frame step, without the message loop's pacing.
class DemoGame {
public:
    explicit DemoGame(const char* name, const char* audioDriver = "dummy", const std::string& diskFile = "") {
        folder_ = std::filesystem::temp_directory_path() / (name + std::to_string(getpid()));
        std::filesystem::create_directories(folder_ / "appdata");
        std::filesystem::create_directories(folder_ / "runtime");
        setenv("XDG_DATA_HOME", (folder_ / "appdata").c_str(), 1);
        setenv("XDG_RUNTIME_DIR", (folder_ / "runtime").c_str(), 1);
        setenv("SDL_VIDEODRIVER", "offscreen", 0);
        setenv("SDL_AUDIODRIVER", audioDriver, 1);
        if (!diskFile.empty()) setenv("SDL_DISKAUDIOFILE", diskFile.c_str(), 1);
        // The platforms the game's entry installs, then its game core.
        VideoCore::installGamePlatform();
        InputCore::installGamePlatform();
        SoundCore::installGamePlatform();
        PhysicsCore::installGamePlatform();
        constructGameCore(gameCore);
        constructed_ = true;
        AppPaths::setExecutablePathForTesting(DEMO_FOLDER "/bin/game");
        started_ = gameCore.initialize() && gameCore.initializeEngine() && gameCore.game && gameCore.script &&
                   gameCore.script->context && gameCore.script->context->state;
    }
    ~DemoGame() {
        if (constructed_) {
            gameCore.release();
            destroyGameCore(gameCore);
            gameCore = GameCore{};
        }
        AppPaths::setExecutablePathForTesting("");
        std::error_code ignored;
        std::filesystem::remove_all(folder_, ignored);
    }
    DemoGame(const DemoGame&) = delete;
    DemoGame& operator=(const DemoGame&) = delete;

    bool started() const { return started_; }
    const std::filesystem::path& folder() const { return folder_; }

    // Runs a chunk of Lua in the game's script state; false (the error
    // printed) when it does not run.
    bool run(const char* chunk) const {
        lua_State* state = gameCore.script->context->state;
        if (luaL_dostring(state, chunk) == 0) return true;
        std::fprintf(stderr, "bench script: %s\n", lua_tostring(state, -1));
        lua_pop(state, 1);
        return false;
    }
    // The number a Lua expression gives (nan when it gives none).
    double number(const char* expression) const {
        lua_State* state = gameCore.script->context->state;
        const std::string chunk = std::string("return ") + expression;
        double value = std::nan("");
        if (luaL_dostring(state, chunk.c_str()) == 0) {
            if (lua_isnumber(state, -1)) value = lua_tonumber(state, -1);
            else if (lua_isboolean(state, -1)) value = lua_toboolean(state, -1) ? 1.0 : 0.0;
        }
        lua_settop(state, 0);
        return value;
    }

    // One frame of the game's frame step, its GL work finished.
    void frame() {
        loop_.step();
        glFinish();
    }
    // One turn of the message loop: the frame step, then the script events
    // posted during it.
    void loopTurn() {
        frame();
        gameCore.script->context->processEvents();
    }

    // How many pixels of the last frame inside the rectangle (1024 x 768
    // coordinates) the test accepts.
    template <class Test>
    int countPixels(int left, int top, int right, int bottom, Test test) const {
        std::vector<std::uint8_t> bytes;
        D3DSURFACE_DESC desc{};
        if (!readBackBuffer(bytes, desc)) return 0;
        int count = 0;
        for (std::size_t y = std::size_t(top) * desc.Height / kHeight; y < std::size_t(bottom) * desc.Height / kHeight; ++y)
            for (std::size_t x = std::size_t(left) * desc.Width / kWidth; x < std::size_t(right) * desc.Width / kWidth; ++x) {
                const std::uint8_t* pixel = &bytes[(y * desc.Width + x) * 4];
                count += test(pixel[2], pixel[1], pixel[0]) ? 1 : 0;
            }
        return count;
    }

private:
    std::filesystem::path folder_;
    ThisMainLoop loop_;
    bool constructed_ = false;
    bool started_ = false;
};

// The game with the harbour loaded and 50 animated sailors in the harbour's
// view.
class HarbourGame : public DemoGame {
public:
    static constexpr int kSailors = 50;

    HarbourGame() : DemoGame("engine_bench_harbour_") {
        if (!started()) return;
        gameCore.game->flags |= kSaveGameLoadAllowed;
        gameCore.game->loadScene("harbour");
        Scene* scene = gameCore.game->currentScene();
        if (!scene || std::string(scene->getName()) != "harbour") return;
        // The scene's two sailors, and 48 more in six rows of eight on the
        // stones between the crates and the quay's far side.
        sailors_ = 0;
        for (const char* name : {"sailor", "sailor_mate"})
            if (auto* model = dynamic_cast<Model*>(scene->lookupModel(name))) {
                sailors_ += model->playSequence("[sailor.idle x1000]") ? 1 : 0;
            }
        for (int i = sailors_; i < kSailors; ++i) {
            const int k = i - 2;
            Matrix34 pose = matrix34Identity();
            pose.m[9] = -3.5f + float(k % 8);
            pose.m[11] = -1.0f + 1.2f * float(k / 8);
            const std::string name = "bench_sailor_" + std::to_string(i);
            auto* model = dynamic_cast<Model*>(scene->createModel("sailor", name.c_str(), pose, 0));
            if (!model || !model->push() || !model->playSequence(i % 2 ? "[sailor.walk x1000]" : "[sailor.idle x1000]"))
                continue;
            ++sailors_;
            if (i % 2) walkers_.push_back({name, pose});
        }
        // The camera cuts to the harbour's view, as the demo's script does
        // from the player's free view, and the free view stays there.
        gameCore.setCameraMode(0, CurrentTime(-1.0));
        if (!gameCore.scene_cameraStackText("[1 !harbour_view]", nullptr)) return;
        // Frames until the move has ended (a frame takes tenths of a second
        // on a software rasteriser) and the shadows have faded in.
        for (int i = 0; i < 30; ++i) frame();
        ready_ = sailors_ == kSailors;
    }

    bool ready() const { return ready_; }
    int sailors() const { return sailors_; }
    // How many pixels of the last frame show the sailors' yellow.
    int yellowPixels() const {
        return countPixels(0, 0, kWidth, kHeight, [](int r, int g, int b) { return r > 150 && g > 120 && b < 100; });
    }
    // The walking sailors back where they started (their walk's root
    // motion carries them out of the view otherwise).
    void placeWalkers() {
        Scene* scene = gameCore.game ? gameCore.game->currentScene() : nullptr;
        if (!scene) return;
        for (const Walker& walker : walkers_)
            if (auto* model = dynamic_cast<Model*>(scene->lookupModel(walker.name.c_str())))
                model->setWorldMatrix(walker.pose);
    }

private:
    struct Walker {
        std::string name;
        Matrix34 pose;
    };
    std::vector<Walker> walkers_;
    bool ready_ = false;
    int sailors_ = 0;
};

// The baseline frame: one clear and one textured triangle through bare
// OpenGL calls in a context of its own.
class BareFrame {
public:
    BareFrame() {
        if (!context_.open(nullptr, why)) return;
        context_.makeCurrent();
        glCreateRenderbuffers(1, &color_);
        glNamedRenderbufferStorage(color_, GL_RGBA8, kWidth, kHeight);
        glCreateFramebuffers(1, &framebuffer_);
        glNamedFramebufferRenderbuffer(framebuffer_, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER, color_);
        vs_ = bench_gl::compile(GL_VERTEX_SHADER, R"(#version 450 core
const vec2 corners[3] = vec2[3](vec2(-0.5, -0.5), vec2(0.5, -0.5), vec2(0.0, 0.5));
out vec2 uv;
void main() { uv = corners[gl_VertexID] + 0.5; gl_Position = vec4(corners[gl_VertexID], 0.0, 1.0); })");
        fs_ = bench_gl::compile(GL_FRAGMENT_SHADER, R"(#version 450 core
layout(binding = 0) uniform sampler2D image;
in vec2 uv;
out vec4 fragment;
void main() { fragment = texture(image, uv); })");
        program_ = glCreateProgram();
        glAttachShader(program_, vs_);
        glAttachShader(program_, fs_);
        glLinkProgram(program_);
        glCreateVertexArrays(1, &vertexArray_);
        glCreateTextures(GL_TEXTURE_2D, 1, &texture_);
        glTextureStorage2D(texture_, 1, GL_RGBA8, 256, 256);
        std::vector<std::uint32_t> texels(256 * 256);
        for (std::size_t i = 0; i < texels.size(); ++i)
            texels[i] = ((i / 32 + i / 256 / 32) % 2) ? 0xFFAA8C78u : 0xFF504030u;
        glTextureSubImage2D(texture_, 0, 0, 0, 256, 256, GL_BGRA, GL_UNSIGNED_BYTE, texels.data());
        glTextureParameteri(texture_, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
        ready_ = true;
    }
    ~BareFrame() {
        if (!ready_) return;
        context_.makeCurrent();
        glDeleteTextures(1, &texture_);
        glDeleteVertexArrays(1, &vertexArray_);
        glDeleteProgram(program_);
        glDeleteShader(vs_);
        glDeleteShader(fs_);
        glDeleteFramebuffers(1, &framebuffer_);
        glDeleteRenderbuffers(1, &color_);
    }
    bool ready() const { return ready_; }

    void frame() {
        context_.makeCurrent();
        glBindFramebuffer(GL_FRAMEBUFFER, framebuffer_);
        glViewport(0, 0, kWidth, kHeight);
        glUseProgram(program_);
        glBindVertexArray(vertexArray_);
        glBindTextureUnit(0, texture_);
        const float sky[4] = {0.25f, 0.375f, 0.5f, 1.0f};
        glClearNamedFramebufferfv(framebuffer_, GL_COLOR, 0, sky);
        glDrawArrays(GL_TRIANGLES, 0, 3);
        glFinish();
    }

    std::string why;

private:
    platform::d3d9::GLContext context_;
    bool ready_ = false;
    GLuint color_ = 0, framebuffer_ = 0, vs_ = 0, fs_ = 0, program_ = 0, vertexArray_ = 0, texture_ = 0;
};

// The game's frame paired with the bare GL frame, with the Direct3D draws
// and clears of one game frame as counters; false (the bench skipped) when
// the bare frame cannot run.
template <class GameFrame, class Untimed = void (*)()>
bool pairedWithBare(benchmark::State& state, GameFrame&& gameFrame, Untimed&& untimed = [] {}) {
    BareFrame bare;
    if (!bare.ready()) {
        state.SkipWithError(bare.why.c_str());
        return false;
    }
    const platform::d3d9::DeviceStatistics before = *platform::d3d9::statistics(gameCore.video->device());
    int frames = 0;
    bench_pairs::runPaired(
        state,
        [&] {
            gameFrame();
            ++frames;
        },
        [&] { bare.frame(); }, 1.0, untimed);
    const platform::d3d9::DeviceStatistics& after = *platform::d3d9::statistics(gameCore.video->device());
    if (frames > 0) {
        state.counters["draws"] = double(after.draws - before.draws) / frames;
        state.counters["clears"] = double(after.clears - before.clears) / frames;
    }
    return true;
}

void demoStartup(benchmark::State& state) {
    DemoRender& demo = DemoRender::instance(false);
    if (!demo.ready()) {
        state.SkipWithError("the demo cannot draw on the GL backend (demo data built? EGL?)");
        return;
    }
    for (auto _ : state) state.SetIterationTime(demo.startupSeconds());
    state.counters["startup_ms"] = demo.startupSeconds() * 1e3;
}
BENCHMARK(demoStartup)->Name("Demo/startup")->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

// The argument: 0 the game's default setup, 1 bloom turned on.
void demoFrameVsBare(benchmark::State& state) {
    DemoRender& demo = DemoRender::instance(state.range(0) != 0);
    if (!demo.ready()) {
        state.SkipWithError("the demo cannot draw on the GL backend (demo data built? EGL?)");
        return;
    }
    bool drawn = true;
    if (!pairedWithBare(state, [&] { drawn = demo.frame() && drawn; })) return;
    if (!drawn) state.SkipWithError("a demo frame was not drawn");
    // What the frame shows: the clear colour above the stone quad, the
    // quad in the middle (RGB as decimal counters).
    state.counters["post_processing"] = demo.postProcessing() ? 1 : 0;
    state.counters["above_rgb"] = demo.pixel(kWidth / 2, 128);
    state.counters["centre_rgb"] = demo.pixel(kWidth / 2, kHeight / 2);
}
BENCHMARK(demoFrameVsBare)->Name("Demo/frame_default")->Arg(0)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(demoFrameVsBare)->Name("Demo/frame_bloom")->Arg(1)->UseManualTime()->Unit(benchmark::kMillisecond);

// ---- The full harbour, in the running game.

constexpr const char* kHarbourChild = "--harbour-child";

// In the child: the demo's game runs its tour; the main loop's trace times
// the frames of the hero's walk, each followed by a bare GL frame, then the
// physics step and the particle update on the same scene. The figures go to
// the file named by the parent, one "name value" a line.
class HarbourProbe {
public:
    explicit HarbourProbe(std::string out) : out_(std::move(out)) {}

    void note(FrameStep step, std::int32_t) {
        const Clock::time_point now = Clock::now();
        if (step == FrameStep::Settings) {
            frameStart_ = now;
            return;
        }
        if (step != FrameStep::Drawing || written_ || !gameCore.log) return;
        const bool walking = gameCore.log->contains("demo: [hero] walks [hero_walk]");
        const bool walked = gameCore.log->contains("after the walk");
        if (walking && !walked) {
            harbour_.push_back(seconds(now - frameStart_));
            if (!bare_) bare_ = std::make_unique<BareFrame>();
            if (bare_->ready()) {
                const Clock::time_point start = Clock::now();
                bare_->frame();
                bareTimes_.push_back(seconds(Clock::now() - start));
            }
        } else if (walked) {
            timeUpdates();
            write();
        }
    }

private:
    using Clock = std::chrono::steady_clock;
    static double seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

    // One physics step of the scene's world and one update of each of its
    // particles, repeated, on the scene as the walk left it.
    void timeUpdates() {
        Scene* scene = gameCore.currentScene();
        if (!scene || !gameCore.objects) return;
        CurrentTime sample(-1.0);
        sample.game.step = 1.0 / 60.0;
        constexpr int kRepeats = 100;
        if (GameObject* world = gameCore.objects->getObject(scene->physicsScene)) {
            const Clock::time_point start = Clock::now();
            for (int i = 0; i < kRepeats; ++i) world->updatePhase1(sample, 0);
            physics_ = seconds(Clock::now() - start) / kRepeats;
        }
        std::vector<GameObject*> particles;
        for (const GameObjectLink& link : scene->particles)
            if (GameObject* particle = gameCore.objects->getObject(link)) particles.push_back(particle);
        const Clock::time_point start = Clock::now();
        for (int i = 0; i < kRepeats; ++i)
            for (GameObject* particle : particles) particle->updatePhase2(sample, 2);
        particles_ = seconds(Clock::now() - start) / kRepeats;
        particleCount_ = particles.size();
    }

    void write() {
        written_ = true;
        std::ofstream file(out_);
        file << "frames " << harbour_.size() << "\n";
        file << "harbour " << bench_pairs::median(harbour_) << "\n";
        file << "bare " << bench_pairs::median(bareTimes_) << "\n";
        file << "physics " << physics_ << "\n";
        file << "particles " << particles_ << "\n";
        file << "particle_objects " << particleCount_ << "\n";
    }

    std::string out_;
    Clock::time_point frameStart_{};
    std::vector<double> harbour_, bareTimes_;
    std::unique_ptr<BareFrame> bare_;
    double physics_ = -1.0, particles_ = -1.0;
    std::size_t particleCount_ = 0;
    bool written_ = false;
};

int harbourChild(const char* out) {
    static HarbourProbe probe(out);
    if (!gameCore.mainLoop) return 3;
    gameCore.mainLoop->trace = [](FrameStep step, std::int32_t detail) { probe.note(step, detail); };
    return engineMain();
}

// The parent: a copy of the demo with this program beside its executable,
// run headless to the end of its tour; the child's figures become the
// counters.
void demoHarbourVsBare(benchmark::State& state) {
    namespace fs = std::filesystem;
    const fs::path folder = fs::temp_directory_path() / ("demo_harbour_bench_" + std::to_string(getpid()));
    std::error_code error;
    fs::remove_all(folder, error);
    fs::create_directories(folder / "appdata", error);
    fs::create_directories(folder / "runtime", error);
    fs::copy(DEMO_FOLDER, folder / "demo", fs::copy_options::recursive, error);
    const fs::path self = platform::executablePath();
    const fs::path child = folder / "demo" / "bin" / self.filename();
    fs::copy_file(self, child, fs::copy_options::overwrite_existing, error);
    const fs::path figures = folder / "figures.txt";
    if (error || !fs::exists(child)) {
        state.SkipWithError("the demo data folder cannot be copied (target demo_data built?)");
        fs::remove_all(folder, error);
        return;
    }
    std::map<std::string, double> values;
    for (auto _ : state) {
        const pid_t pid = fork();
        if (pid == 0) {
            setenv("SDL_VIDEODRIVER", "offscreen", 1);
            setenv("SDL_AUDIODRIVER", "dummy", 1);
            setenv("XDG_DATA_HOME", (folder / "appdata").c_str(), 1);
            setenv("XDG_RUNTIME_DIR", (folder / "runtime").c_str(), 1);
            if (FILE* quiet = std::freopen("/dev/null", "w", stdout)) (void)quiet;
            if (chdir(folder.c_str()) != 0) _exit(126);
            execl(child.c_str(), child.c_str(), kHarbourChild, figures.c_str(), static_cast<char*>(nullptr));
            _exit(127);
        }
        int status = 0;
        if (pid < 0 || waitpid(pid, &status, 0) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
            state.SkipWithError("the demo's game did not run its tour to the end");
            break;
        }
        std::ifstream in(figures);
        std::string name;
        double value = 0.0;
        while (in >> name >> value) values[name] = value;
        state.SetIterationTime(values["harbour"]);
    }
    fs::remove_all(folder, error);
    if (values["frames"] < 1 || values["bare"] <= 0.0) {
        if (!state.error_occurred()) state.SkipWithError("no frame of the hero's walk was timed");
        return;
    }
    const double harbour = values["harbour"];
    state.counters["frames"] = values["frames"];
    state.counters["harbour_ms"] = harbour * 1e3;
    state.counters["bare_ms"] = values["bare"] * 1e3;
    state.counters["x_baseline"] = harbour / values["bare"];
    state.counters["physics_pct"] = 100.0 * values["physics"] / harbour;
    state.counters["particle_pct"] = 100.0 * values["particles"] / harbour;
    state.counters["particles"] = values["particle_objects"];
}
BENCHMARK(demoHarbourVsBare)->Name("Demo/frame_harbour")->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);
// The harbour with 50 animated sailors against the bare GL frame.
void harbourFrameVsBare(benchmark::State& state) {
    DemoRender::release();
    HarbourGame game;
    if (!game.ready()) {
        state.SkipWithError("the harbour did not load with its sailors (demo data built? EGL?)");
        return;
    }
    if (!pairedWithBare(state, [&] { game.frame(); }, [&] { game.placeWalkers(); })) return;
    state.counters["sailors"] = game.sailors();
    state.counters["yellow_pixels"] = game.yellowPixels();
}
BENCHMARK(harbourFrameVsBare)->Name("Demo/harbour_sailors")->UseManualTime()->Unit(benchmark::kMillisecond);

// ---- The menu and a play frame, in the running game.

// The menu's second half for the bench: sixteen buttons beside the demo's
// four, in two columns left and right of its panel, each with its text in
// the "menu" font, made as the Load page makes its slot buttons.
constexpr const char* kMoreMenuItems = R"(
for i = 1, 16 do
  local column = (i - 1) % 2
  local row = math.floor((i - 1) / 2)
  demo_menu_button("bench_item" .. i, 24 + column * 712, 40 + row * 88, "Chapter " .. i)
end
)";

// Near-white: the menu's text colour.
bool textColour(int r, int g, int b) { return r > 200 && g > 200 && b > 200; }

// The game's menu as it opens at the start (no scene: the camera mode that
// draws still frames alone) with twenty buttons and their texts; frames
// until its items have faded in.
void demoMenuVsBare(benchmark::State& state) {
    DemoRender::release();
    DemoGame game("engine_bench_menu_");
    if (!game.started() || !game.run("demo_menu_open()") || !game.run(kMoreMenuItems) ||
        game.number("stillframe:test('mm_new') and stillframe:test('bench_item16_text')") != 1.0) {
        state.SkipWithError("the demo's menu did not open with twenty items (demo data built? EGL?)");
        return;
    }
    // The page's items show after a delay and fade in, by the game's clock:
    // turns until two seconds of it have passed, however quick the frames
    // (a still menu's frames are not drawn again and take little time).
    const double opened = CurrentTime(-1.0).real.time;
    for (int i = 0; i < 20 || (CurrentTime(-1.0).real.time - opened < 2.0 && i < 1000000); ++i) game.loopTurn();
    if (!pairedWithBare(state, [&] { game.loopTurn(); })) return;
    // The last frame's text: the demo's four items over its panel, the
    // bench's sixteen in the columns beside it.
    const int menuText = game.countPixels(380, 230, 644, 564, textColour);
    const int itemText = game.countPixels(24, 40, 288, 720, textColour) + game.countPixels(736, 40, 1000, 720, textColour);
    state.counters["menu_text_pixels"] = menuText;
    state.counters["item_text_pixels"] = itemText;
    if (menuText < 200 || itemText < 800) state.SkipWithError("the menu's frame shows too little of its text");
}
BENCHMARK(demoMenuVsBare)->Name("Demo/frame_menu")->Iterations(400)->UseManualTime()->Unit(benchmark::kMillisecond);

// The hero walks to and fro between two places of the harbour, sent by the
// click's road (the cursor over a place's screen action, then the action's
// handler); bench_walk_on, called between frames, sends him to the other
// place once he has arrived, or again when he has stood still for twenty
// calls (the scene's first second, before his capsule has settled).
// bench_walk.moved is the way he has gone, summed over the calls.
constexpr const char* kWalkToAndFro = R"(
bench_walk = {
  legs = {{place = "house_door", x = 656, y = 288}, {place = "pier_end", x = 72, y = 330}},
  leg = 2, moved = 0, last = nil, still = 0, clicks = 0,
}
function bench_walk_on()
  local x, y, z = demo_hero_position()
  local last = bench_walk.last
  local step = last ~= nil and math.sqrt((x - last[1]) ^ 2 + (z - last[3]) ^ 2) or 0
  bench_walk.moved = bench_walk.moved + step
  bench_walk.last = {x, y, z}
  bench_walk.still = step > 0.0001 and 0 or bench_walk.still + 1
  local leg = bench_walk.legs[bench_walk.leg]
  if last ~= nil and bench_walk.still < 20 and world:distance2object("hero", leg.place) > 0.3 then
    return true
  end
  bench_walk.leg = bench_walk.leg % 2 + 1
  leg = bench_walk.legs[bench_walk.leg]
  input.cursor:set(leg.x, leg.y)
  bench_walk.clicks = bench_walk.clicks + 1
  bench_walk.still = 0
  return demo_on_action()
end
)";

// The RMS level of the 16-bit samples of the file from byte from on.
double mixLevel(const std::filesystem::path& file, std::uintmax_t from) {
    std::ifstream in(file, std::ios::binary);
    in.seekg(std::streamoff(from));
    std::vector<std::int16_t> samples(1 << 16);
    double sum = 0.0;
    std::size_t count = 0;
    while (in.read(reinterpret_cast<char*>(samples.data()), std::streamsize(samples.size() * 2)) || in.gcount() > 0) {
        const std::size_t n = std::size_t(in.gcount()) / 2;
        for (std::size_t i = 0; i < n; ++i) sum += double(samples[i]) * samples[i];
        count += n;
    }
    return count ? std::sqrt(sum / double(count)) : 0.0;
}

// A play frame: New game pressed on the menu as a click's handler does (the
// harbour loads, the music starts), the harbour's view, the hero walking
// where the player clicked. SDL's disk audio driver takes the mix, so the
// mixer's thread runs as on a sound card, and the mix written during the
// timed frames tells that the music played.
void demoPlayVsBare(benchmark::State& state) {
    DemoRender::release();
    const std::filesystem::path mix =
        std::filesystem::temp_directory_path() / ("engine_bench_play_mix_" + std::to_string(getpid()) + ".raw");
    {
        // Headless the demo would play its tour: the bench plays instead.
        DemoGame game("engine_bench_play_", "disk", mix.string());
        const bool opened = game.started() && game.run("demo.tour = false") && game.run(kWalkToAndFro) &&
                            game.run("demo_menu_open()") && game.run("demo_tour_press('mm_new')");
        for (int i = 0; opened && i < 50 && game.number("demo.scene_loaded == true") != 1.0; ++i) game.loopTurn();
        if (!opened || game.number("demo.scene_loaded == true") != 1.0 || game.number("bench_walk_on()") != 1.0) {
            state.SkipWithError("New game did not load the harbour with the hero set off (demo data built? EGL?)");
        } else {
            // Until he is well on his way.
            for (int i = 0; i < 400 && game.number("bench_walk.moved") < 0.5; ++i) {
                game.loopTurn();
                game.number("bench_walk_on()");
            }
            std::error_code error;
            const std::uintmax_t mixStart = std::filesystem::file_size(mix, error);
            const double movedBefore = game.number("bench_walk.moved");
            bool walking = true;
            if (pairedWithBare(state, [&] { game.loopTurn(); },
                               [&] { walking = game.number("bench_walk_on()") == 1.0 && walking; })) {
                const double moved = game.number("bench_walk.moved") - movedBefore;
                const double level = error ? 0.0 : mixLevel(mix, mixStart);
                const bool music = game.number("soundManager:gTest(SoundManager.Music, demo_global('demo.music').value)") == 1.0;
                state.counters["walked_m"] = moved;
                state.counters["clicks"] = game.number("bench_walk.clicks");
                state.counters["mix_rms"] = level;
                if (!walking || moved < 0.5) state.SkipWithError("the hero did not walk where he was sent");
                else if (!music || level < 100.0) state.SkipWithError("the music was not heard in the mix");
            }
        }
    }
    std::error_code ignored;
    std::filesystem::remove(mix, ignored);
}
BENCHMARK(demoPlayVsBare)->Name("Demo/frame_play")->Iterations(150)->UseManualTime()->Unit(benchmark::kMillisecond);

// ---- The harbour's held view against the bare GL floor of its draws.

// A recorded frame of the GL backend (GLFrameRecord.h) replayed in bare GL
// calls in a context of its own: the programs compiled and linked, the
// textures, targets, samplers, vertex arrays and every draw's vertices,
// indices and uniform blocks uploaded beforehand, so that a frame is only
// the binds, the state changes that differ from the previous draw's, the
// clears, the copies and the draws, then glFinish.
class GLFloor {
public:
    // writeBlocks: each changed uniform block is written into one buffer per
    // binding between the draws, as the GL backend writes them, instead of
    // a range of the blocks uploaded beforehand being bound.
    GLFloor(const platform::d3d9::GLFrameRecord& record, bool writeBlocks) : writeBlocks_(writeBlocks) {
        using namespace platform::d3d9;
        if (!record.complete || record.presented == 0) {
            why = "the recorded frame has no present";
            return;
        }
        if (!context_.open(nullptr, why)) return;
        context_.makeCurrent();
        glClipControl(GL_UPPER_LEFT, GL_ZERO_TO_ONE);
        glFrontFace(GL_CW);
        glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
        glPixelStorei(GL_PACK_ALIGNMENT, 1);
        glEnable(GL_TEXTURE_CUBE_MAP_SEAMLESS);
        for (const auto& [name, texture] : record.textures) textures_[name] = makeTexture(texture);
        for (const auto& [name, framebuffer] : record.framebuffers) framebuffers_[name] = makeFramebuffer(framebuffer);
        const auto& back = record.framebuffers.at(record.presented).color;
        width_ = back.type == GL_RENDERBUFFER ? back.width : record.textures.at(back.name).width;
        height_ = back.type == GL_RENDERBUFFER ? back.height : record.textures.at(back.name).height;
        presented_ = framebuffers_[record.presented];

        GLint alignment = 256;
        glGetIntegerv(GL_UNIFORM_BUFFER_OFFSET_ALIGNMENT, &alignment);
        std::vector<std::uint8_t> uniformBytes, vertexBytes, indexBytes;
        std::map<std::string, std::size_t> blocks;
        std::map<std::string, GLuint> samplers, vertexArrays;
        auto append = [](std::vector<std::uint8_t>& to, const std::vector<std::uint8_t>& bytes, std::size_t align) {
            to.resize((to.size() + align - 1) / align * align);
            const std::size_t at = to.size();
            to.insert(to.end(), bytes.begin(), bytes.end());
            return at;
        };
        std::map<GLuint, const std::array<std::vector<int>, 4>*> lastUniforms;
        for (const auto& [kind, index] : record.steps) {
            if (kind != GLFrameRecord::Kind::Draw) continue;
            const GLRecordedDraw& d = record.draws[index];
            Draw draw;
            draw.program = program(record, d.vertexShader, d.pixelShader);
            for (int b = 0; b < 4; ++b) {
                const std::string key(d.uniformBlocks[b].begin(), d.uniformBlocks[b].end());
                auto found = blocks.find(key);
                if (found == blocks.end())
                    found = blocks.emplace(key, append(uniformBytes, d.uniformBlocks[b], std::size_t(alignment))).first;
                draw.blockOffset[b] = found->second;
                draw.blockSize[b] = d.uniformBlocks[b].size();
            }
            // The integer constants go to a program only when they change.
            const auto*& last = lastUniforms[draw.program.name];
            draw.uniforms = &d.uniforms;
            draw.setUniforms = !last || *last != d.uniforms;
            last = &d.uniforms;
            for (std::size_t unit = 0; unit < d.textures.size() && unit < kUnits; ++unit) {
                draw.textures[unit] = d.textures[unit] ? textures_[d.textures[unit]] : 0;
                const std::string key(reinterpret_cast<const char*>(&d.samplers[unit]), sizeof d.samplers[unit]);
                GLuint& sampler = samplers[key];
                if (!sampler) sampler = makeSampler(d.samplers[unit]);
                draw.samplers[unit] = sampler;
            }
            draw.state = d.state;
            draw.framebuffer = framebuffers_[d.framebuffer];
            std::string layout;
            for (const GLRecordedAttribute& a : d.attributes)
                layout += std::to_string(a.location) + ' ' + std::to_string(a.size) + ' ' + std::to_string(a.type) + ' ' +
                          std::to_string(a.normalized) + ' ' + std::to_string(a.offset) + ';';
            GLuint& vertexArray = vertexArrays[layout];
            if (!vertexArray) {
                glCreateVertexArrays(1, &vertexArray);
                for (const GLRecordedAttribute& a : d.attributes) {
                    glEnableVertexArrayAttrib(vertexArray, GLuint(a.location));
                    glVertexArrayAttribFormat(vertexArray, GLuint(a.location), a.size, a.type, a.normalized, a.offset);
                    glVertexArrayAttribBinding(vertexArray, GLuint(a.location), 0);
                }
                vertexArrays_.push_back(vertexArray);
            }
            draw.vertexArray = vertexArray;
            draw.vertexOffset = append(vertexBytes, d.vertices, 16);
            draw.stride = d.stride;
            draw.mode = d.mode;
            draw.count = d.count;
            draw.indexed = !d.indices.empty();
            if (draw.indexed) {
                draw.indexOffset = append(indexBytes, d.indices, 4);
                draw.count = GLsizei(d.indices.size() / 4);
            }
            draws_.push_back(draw);
        }
        for (const auto& [key, sampler] : samplers) samplerNames_.push_back(sampler);
        auto buffer = [](std::vector<std::uint8_t>& bytes) {
            GLuint name = 0;
            glCreateBuffers(1, &name);
            bytes.resize(std::max<std::size_t>(bytes.size(), 16));
            glNamedBufferStorage(name, GLsizeiptr(bytes.size()), bytes.data(), 0);
            return name;
        };
        uniforms_ = buffer(uniformBytes);
        uniformBytes_ = uniformBytes;
        if (writeBlocks_) {
            glCreateBuffers(4, blockBuffers_);
            for (GLuint b = 0; b < 4; ++b) {
                glNamedBufferData(blockBuffers_[b], GLsizeiptr(record.draws.empty() ? 16 : record.draws[0].uniformBlocks[b].size()),
                                  nullptr, GL_DYNAMIC_DRAW);
                glBindBufferBase(GL_UNIFORM_BUFFER, b, blockBuffers_[b]);
            }
        }
        vertices_ = buffer(vertexBytes);
        indices_ = buffer(indexBytes);
        for (GLuint vertexArray : vertexArrays_) glVertexArrayElementBuffer(vertexArray, indices_);
        std::size_t draw = 0;
        for (const auto& [kind, index] : record.steps) {
            if (kind == GLFrameRecord::Kind::Draw) steps_.push_back({kind, draw++});
            else steps_.push_back({kind, index});
        }
        clears_ = record.clears;
        blits_ = record.blits;
        ready_ = glGetError() == GL_NO_ERROR;
        if (!ready_) why = "the floor's GL objects were not made";
    }
    ~GLFloor() {
        if (!context_.hasWindow() && !ready_ && textures_.empty()) return;
        context_.makeCurrent();
        for (const auto& [name, texture] : textures_) glDeleteTextures(1, &texture);
        for (GLuint renderbuffer : renderbuffers_) glDeleteRenderbuffers(1, &renderbuffer);
        for (const auto& [name, framebuffer] : framebuffers_) glDeleteFramebuffers(1, &framebuffer);
        for (const auto& [key, p] : programs_) glDeleteProgram(p.name);
        for (GLuint sampler : samplerNames_) glDeleteSamplers(1, &sampler);
        for (GLuint vertexArray : vertexArrays_) glDeleteVertexArrays(1, &vertexArray);
        glDeleteBuffers(1, &uniforms_);
        if (writeBlocks_) glDeleteBuffers(4, blockBuffers_);
        glDeleteBuffers(1, &vertices_);
        glDeleteBuffers(1, &indices_);
    }
    GLFloor(const GLFloor&) = delete;
    GLFloor& operator=(const GLFloor&) = delete;

    bool ready() const { return ready_; }
    std::size_t draws() const { return draws_.size(); }

    void frame() {
        using platform::d3d9::GLFrameRecord;
        context_.makeCurrent();
        bool stateValid = false;
        GLuint framebuffer = ~0u, program = ~0u, vertexArray = 0;
        std::size_t blockOffset[4] = {~std::size_t(0), ~std::size_t(0), ~std::size_t(0), ~std::size_t(0)};
        GLuint textures[kUnits], samplers[kUnits];
        std::fill(std::begin(textures), std::end(textures), ~0u);
        std::fill(std::begin(samplers), std::end(samplers), ~0u);
        platform::d3d9::GLRecordedState state;
        for (const auto& [kind, index] : steps_) {
            if (kind == GLFrameRecord::Kind::Clear) {
                const auto& c = clears_[index];
                const GLuint target = framebuffers_[c.framebuffer];
                glColorMask(GL_TRUE, GL_TRUE, GL_TRUE, GL_TRUE);
                glDepthMask(GL_TRUE);
                glStencilMask(0xFFFFFFFFu);
                glEnable(GL_SCISSOR_TEST);
                glScissor(c.rect[0], c.rect[1], c.rect[2], c.rect[3]);
                if (c.color) glClearNamedFramebufferfv(target, GL_COLOR, 0, c.rgba);
                if (c.depth && c.stencil) glClearNamedFramebufferfi(target, GL_DEPTH_STENCIL, 0, c.z, c.stencilValue);
                else if (c.depth) glClearNamedFramebufferfv(target, GL_DEPTH, 0, &c.z);
                else if (c.stencil) glClearNamedFramebufferiv(target, GL_STENCIL, 0, &c.stencilValue);
                stateValid = false;
                continue;
            }
            if (kind == GLFrameRecord::Kind::Blit) {
                const auto& b = blits_[index];
                glDisable(GL_SCISSOR_TEST);
                glColorMask(GL_TRUE, GL_TRUE, GL_TRUE, GL_TRUE);
                glBlitNamedFramebuffer(framebuffers_[b.source], framebuffers_[b.dest], b.sourceRect[0], b.sourceRect[1],
                                       b.sourceRect[2], b.sourceRect[3], b.destRect[0], b.destRect[1], b.destRect[2],
                                       b.destRect[3], GL_COLOR_BUFFER_BIT, b.filter);
                stateValid = false;
                continue;
            }
            const Draw& d = draws_[index];
            if (d.framebuffer != framebuffer) glBindFramebuffer(GL_DRAW_FRAMEBUFFER, framebuffer = d.framebuffer);
            if (d.program.name != program) glUseProgram(program = d.program.name);
            if (d.setUniforms) {
                const auto& u = *d.uniforms;
                if (d.program.locations[0] >= 0) glUniform4iv(d.program.locations[0], GLsizei(u[0].size() / 4), u[0].data());
                if (d.program.locations[1] >= 0) glUniform1iv(d.program.locations[1], GLsizei(u[1].size()), u[1].data());
                if (d.program.locations[2] >= 0) glUniform4iv(d.program.locations[2], GLsizei(u[2].size() / 4), u[2].data());
                if (d.program.locations[3] >= 0) glUniform1iv(d.program.locations[3], GLsizei(u[3].size()), u[3].data());
            }
            for (GLuint b = 0; b < 4; ++b)
                if (d.blockOffset[b] != blockOffset[b] && writeBlocks_)
                    glNamedBufferSubData(blockBuffers_[b], 0, GLsizeiptr(d.blockSize[b]),
                                         uniformBytes_.data() + (blockOffset[b] = d.blockOffset[b]));
                else if (d.blockOffset[b] != blockOffset[b])
                    glBindBufferRange(GL_UNIFORM_BUFFER, b, uniforms_, GLintptr(blockOffset[b] = d.blockOffset[b]),
                                      GLsizeiptr(d.blockSize[b]));
            for (GLuint unit = 0; unit < kUnits; ++unit) {
                if (d.textures[unit] != textures[unit]) glBindTextureUnit(unit, textures[unit] = d.textures[unit]);
                if (d.samplers[unit] != samplers[unit]) glBindSampler(unit, samplers[unit] = d.samplers[unit]);
            }
            if (!stateValid || std::memcmp(&d.state, &state, sizeof state) != 0) {
                applyState(d.state);
                state = d.state;
                stateValid = true;
            }
            if (d.vertexArray != vertexArray) glBindVertexArray(vertexArray = d.vertexArray);
            glVertexArrayVertexBuffer(vertexArray, 0, vertices_, GLintptr(d.vertexOffset), d.stride);
            if (d.indexed)
                glDrawElements(d.mode, d.count, GL_UNSIGNED_INT, reinterpret_cast<const void*>(d.indexOffset));
            else
                glDrawArrays(d.mode, 0, d.count);
        }
        glFinish();
    }

    // The presented picture (BGRA rows, top first).
    std::vector<std::uint8_t> picture() {
        context_.makeCurrent();
        std::vector<std::uint8_t> bytes(std::size_t(width_) * std::size_t(height_) * 4);
        glBindFramebuffer(GL_READ_FRAMEBUFFER, presented_);
        glReadPixels(0, 0, width_, height_, GL_BGRA, GL_UNSIGNED_BYTE, bytes.data());
        glBindFramebuffer(GL_READ_FRAMEBUFFER, 0);
        return bytes;
    }

    std::string why;

private:
    static constexpr GLuint kUnits = 16;
    struct Program {
        GLuint name = 0;
        GLint locations[4] = {-1, -1, -1, -1};
    };
    struct Draw {
        Program program;
        std::size_t blockOffset[4] = {}, blockSize[4] = {};
        const std::array<std::vector<int>, 4>* uniforms = nullptr;
        bool setUniforms = false;
        GLuint textures[kUnits] = {}, samplers[kUnits] = {};
        platform::d3d9::GLRecordedState state;
        GLuint framebuffer = 0, vertexArray = 0;
        std::size_t vertexOffset = 0, indexOffset = 0;
        GLsizei stride = 0, count = 0;
        GLenum mode = GL_TRIANGLES;
        bool indexed = false;
    };

    GLuint makeTexture(const platform::d3d9::GLRecordedTexture& t) {
        GLuint name = 0;
        const bool cube = t.target == GL_TEXTURE_CUBE_MAP;
        glCreateTextures(t.target, 1, &name);
        glTextureStorage2D(name, std::max(t.levels, 1), t.internalFormat, t.width, t.height);
        glTextureParameteri(name, GL_TEXTURE_MAX_LEVEL, std::max(t.levels, 1) - 1);
        glTextureParameteriv(name, GL_TEXTURE_SWIZZLE_RGBA, t.swizzle);
        for (int level = 0; level < t.levels && level < int(t.images.size()); ++level) {
            const int w = std::max(1, t.width >> level), h = std::max(1, t.height >> level);
            const auto& image = t.images[std::size_t(level)];
            if (t.compressed && cube)
                glCompressedTextureSubImage3D(name, level, 0, 0, 0, w, h, 6, t.internalFormat, GLsizei(image.size()), image.data());
            else if (t.compressed)
                glCompressedTextureSubImage2D(name, level, 0, 0, w, h, t.internalFormat, GLsizei(image.size()), image.data());
            else if (cube)
                glTextureSubImage3D(name, level, 0, 0, 0, w, h, 6, t.readFormat, t.readType, image.data());
            else
                glTextureSubImage2D(name, level, 0, 0, w, h, t.readFormat, t.readType, image.data());
        }
        return name;
    }

    GLuint makeFramebuffer(const platform::d3d9::GLRecordedFramebuffer& f) {
        GLuint name = 0;
        glCreateFramebuffers(1, &name);
        auto attach = [&](const platform::d3d9::GLRecordedAttachment& a, GLenum point) {
            if (a.type == GL_TEXTURE) {
                if (a.layer >= 0)
                    glNamedFramebufferTextureLayer(name, point, textures_[a.name], a.level, a.layer);
                else
                    glNamedFramebufferTexture(name, point, textures_[a.name], a.level);
            } else if (a.type == GL_RENDERBUFFER) {
                GLuint& renderbuffer = renderbufferOf_[a.name];
                if (!renderbuffer) {
                    glCreateRenderbuffers(1, &renderbuffer);
                    glNamedRenderbufferStorage(renderbuffer, a.internalFormat, a.width, a.height);
                    renderbuffers_.push_back(renderbuffer);
                }
                glNamedFramebufferRenderbuffer(name, point, GL_RENDERBUFFER, renderbuffer);
            }
        };
        attach(f.color, GL_COLOR_ATTACHMENT0);
        if (!f.color.type) glNamedFramebufferDrawBuffer(name, GL_NONE);
        attach(f.depth, f.depthStencil ? GL_DEPTH_STENCIL_ATTACHMENT : GL_DEPTH_ATTACHMENT);
        return name;
    }

    static GLuint makeSampler(const platform::d3d9::GLRecordedSampler& s) {
        GLuint sampler = 0;
        glCreateSamplers(1, &sampler);
        glSamplerParameteri(sampler, GL_TEXTURE_WRAP_S, s.wrap[0]);
        glSamplerParameteri(sampler, GL_TEXTURE_WRAP_T, s.wrap[1]);
        glSamplerParameteri(sampler, GL_TEXTURE_WRAP_R, s.wrap[2]);
        glSamplerParameterfv(sampler, GL_TEXTURE_BORDER_COLOR, s.border);
        glSamplerParameteri(sampler, GL_TEXTURE_MIN_FILTER, s.minFilter);
        glSamplerParameteri(sampler, GL_TEXTURE_MAG_FILTER, s.magFilter);
        glSamplerParameterf(sampler, GL_TEXTURE_MAX_ANISOTROPY, s.anisotropy);
        glSamplerParameterf(sampler, GL_TEXTURE_LOD_BIAS, s.lodBias);
        glSamplerParameterf(sampler, GL_TEXTURE_MIN_LOD, s.minLod);
        return sampler;
    }

    Program program(const platform::d3d9::GLFrameRecord& record, unsigned vertex, unsigned pixel) {
        const auto key = std::make_pair(vertex, pixel);
        if (auto found = programs_.find(key); found != programs_.end()) return found->second;
        Program p;
        p.name = glCreateProgram();
        GLuint shaders[2] = {};
        for (int i = 0; i < 2; ++i) {
            const auto& [stage, text] = record.shaders.at(i ? pixel : vertex);
            shaders[i] = bench_gl::compile(stage, text.c_str());
            glAttachShader(p.name, shaders[i]);
        }
        glLinkProgram(p.name);
        GLint linked = GL_FALSE;
        glGetProgramiv(p.name, GL_LINK_STATUS, &linked);
        if (!linked) why = "a recorded program does not link in the floor's context";
        for (GLuint shader : shaders) glDeleteShader(shader);
        const char* names[4] = {"vi", "vb", "pi", "pb"};
        for (int i = 0; i < 4; ++i) p.locations[i] = glGetUniformLocation(p.name, names[i]);
        return programs_[key] = p;
    }

    static void applyState(const platform::d3d9::GLRecordedState& g) {
        auto enable = [](GLenum capability, int on) { on ? glEnable(capability) : glDisable(capability); };
        glViewport(g.viewport[0], g.viewport[1], g.viewport[2], g.viewport[3]);
        glDepthRangef(g.depthRange[0], g.depthRange[1]);
        enable(GL_SCISSOR_TEST, g.scissorTest);
        glScissor(g.scissor[0], g.scissor[1], g.scissor[2], g.scissor[3]);
        enable(GL_DEPTH_TEST, g.depthTest);
        glDepthFunc(GLenum(g.depthFunc));
        glDepthMask(GLboolean(g.depthMask));
        enable(GL_CULL_FACE, g.cull);
        glCullFace(GLenum(g.cullFace));
        glPolygonMode(GL_FRONT_AND_BACK, GLenum(g.polygonMode));
        enable(GL_BLEND, g.blend);
        glBlendFuncSeparate(GLenum(g.blendSource), GLenum(g.blendDest), GLenum(g.blendSourceAlpha), GLenum(g.blendDestAlpha));
        glBlendEquationSeparate(GLenum(g.blendEquation), GLenum(g.blendEquationAlpha));
        glBlendColor(g.blendColor[0], g.blendColor[1], g.blendColor[2], g.blendColor[3]);
        glColorMask(GLboolean(g.colorMask[0]), GLboolean(g.colorMask[1]), GLboolean(g.colorMask[2]), GLboolean(g.colorMask[3]));
        enable(GL_STENCIL_TEST, g.stencilTest);
        glStencilFunc(GLenum(g.stencilFunc), g.stencilRef, GLuint(g.stencilValueMask));
        glStencilOp(GLenum(g.stencilFail), GLenum(g.stencilDepthFail), GLenum(g.stencilPass));
        glStencilMask(GLuint(g.stencilWriteMask));
        for (int i = 0; i < 8; ++i) enable(GLenum(GL_CLIP_DISTANCE0 + i), g.clipDistances & (1 << i));
        enable(GL_POLYGON_OFFSET_FILL, g.polygonOffset);
        glPolygonOffset(g.offsetFactor, g.offsetUnits);
    }

    platform::d3d9::GLContext context_;
    bool ready_ = false;
    int width_ = 0, height_ = 0;
    GLuint presented_ = 0, uniforms_ = 0, vertices_ = 0, indices_ = 0;
    bool writeBlocks_ = false;
    GLuint blockBuffers_[4] = {};
    std::vector<std::uint8_t> uniformBytes_;
    std::map<unsigned, GLuint> textures_, framebuffers_, renderbufferOf_;
    std::vector<GLuint> renderbuffers_, samplerNames_, vertexArrays_;
    std::map<std::pair<unsigned, unsigned>, Program> programs_;
    std::vector<Draw> draws_;
    std::vector<std::pair<platform::d3d9::GLFrameRecord::Kind, std::size_t>> steps_;
    std::vector<platform::d3d9::GLRecordedClear> clears_;
    std::vector<platform::d3d9::GLRecordedBlit> blits_;
};

// The harbour's held view: New game pressed on the menu as a click's
// handler does, the camera held on the harbour's view ("harbour_view"), the
// hero standing; one frame is a turn of the message loop. The floor: one
// of its frames recorded at the GL backend and replayed by GLFloor. The
// pictures of the recorded frame and of the replay are compared before
// timing (counter differing_pixels; skipped above 0.1 % of the picture).
void demoHeldViewVsFloor(benchmark::State& state) {
    DemoRender::release();
    DemoGame game("engine_bench_held_");
    const bool opened = game.started() && game.run("demo.tour = false") && game.run("demo_menu_open()") &&
                        game.run("demo_tour_press('mm_new')");
    for (int i = 0; opened && i < 50 && game.number("demo.scene_loaded == true") != 1.0; ++i) game.loopTurn();
    if (!opened || game.number("demo.scene_loaded == true") != 1.0 || !game.run("demo_hero_harbour_view()")) {
        state.SkipWithError("New game did not load the harbour (demo data built? EGL?)");
        return;
    }
    // Until the camera has settled and the shadows have faded in.
    for (int i = 0; i < 60; ++i) game.loopTurn();
    platform::d3d9::GLFrameRecord record;
    if (!platform::d3d9::recordGLFrame(gameCore.video->device(), &record)) {
        state.SkipWithError("the game does not draw with GL");
        return;
    }
    game.loopTurn();
    platform::d3d9::recordGLFrame(gameCore.video->device(), nullptr);
    std::vector<std::uint8_t> gamePicture;
    D3DSURFACE_DESC desc{};
    if (!readBackBuffer(gamePicture, desc)) {
        state.SkipWithError("the game's frame cannot be read back");
        return;
    }
    GLFloor floor(record, state.range(0) != 0);
    if (!floor.ready()) {
        state.SkipWithError(floor.why.c_str());
        return;
    }
    floor.frame();
    const std::vector<std::uint8_t> floorPicture = floor.picture();
    const std::size_t differing = bench_gl::differingPixels(gamePicture, floorPicture);
    state.counters["differing_pixels"] = double(differing);
    state.counters["recorded_draws"] = double(floor.draws());
    state.counters["recorded_clears"] = double(record.clears.size());
    if (differing * 1000 > gamePicture.size() / 4) {
        state.SkipWithError("the floor's picture differs from the game's frame");
        return;
    }
    // The uniform blocks that change between draws (a buffer write each in
    // the game, a range bound in the floor).
    int blockChanges = 0;
    for (std::size_t i = 1; i < record.draws.size(); ++i)
        for (int b = 0; b < 4; ++b) blockChanges += record.draws[i].uniformBlocks[b] != record.draws[i - 1].uniformBlocks[b];
    state.counters["block_changes"] = blockChanges;
    const platform::d3d9::DeviceStatistics before = *platform::d3d9::statistics(gameCore.video->device());
    int frames = 0;
    // The main thread's processor time of each side (the rest of a frame is
    // the rasteriser's threads, waited for in glFinish).
    std::vector<double> gameCpu, floorCpu;
    auto threadSeconds = [] {
        timespec now{};
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
        return double(now.tv_sec) + double(now.tv_nsec) * 1e-9;
    };
    bench_pairs::runPaired(
        state,
        [&] {
            const double start = threadSeconds();
            game.loopTurn();
            gameCpu.push_back(threadSeconds() - start);
            ++frames;
        },
        [&] {
            const double start = threadSeconds();
            floor.frame();
            floorCpu.push_back(threadSeconds() - start);
        });
    const platform::d3d9::DeviceStatistics& after = *platform::d3d9::statistics(gameCore.video->device());
    if (frames > 0) state.counters["draws"] = double(after.draws - before.draws) / frames;
    state.counters["game_cpu_ms"] = bench_pairs::median(gameCpu) * 1e3;
    state.counters["floor_cpu_ms"] = bench_pairs::median(floorCpu) * 1e3;
}
BENCHMARK(demoHeldViewVsFloor)->Name("Demo/harbour_held")->Arg(0)->Arg(1)->Iterations(150)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::strcmp(argv[1], kHarbourChild) == 0) return harbourChild(argv[2]);
    bench_pairs::fixAllocator();
    benchmark::Initialize(&argc, argv);
    bench_gl::RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    for (const char* name :
         {"Demo/frame_default/0", "Demo/frame_bloom/1", "Demo/frame_harbour/iterations:1", "Demo/harbour_sailors",
          "Demo/frame_menu/iterations:400", "Demo/frame_play/iterations:150", "Demo/harbour_held/0/iterations:150", "Demo/harbour_held/1/iterations:150"}) {
        const double ratio = reporter.ratio(std::string(name) + "/manual_time");
        if (ratio > 0) std::printf("%s / bare GL frame at %dx%d: %.2f\n", name, kWidth, kHeight, ratio);
    }
    benchmark::Shutdown();
    return 0;
}
