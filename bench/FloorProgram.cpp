// The floors the game's start-up and idle window are measured against: what
// any program of this kind pays, with no engine code.
//   engine_bench_floor startup <data root>
//       headless (the offscreen video driver): an SDL window, a surfaceless
//       EGL context with OpenGL 4.5 (compatibility profile, as the game
//       asks), a Lua state with its libraries, every file under the data
//       root read whole (executables left out), then one clear presented
//       (glFlush, the headless present);
//       on a display: the same with the clear shown in the window, as the
//       game shows its frames: a borderless GL window of the desktop's size
//       at its corner, its OpenGL 4.5 context through EGL (as the game's),
//       the clear swapped into it
//   engine_bench_floor idle <seconds> [<width> <height>]
//       an SDL window (1024 x 768 unless given: the game's window on the
//       same display, for the same picture) with an OpenGL 4.5 context: each frame
//       clears an offscreen picture to the sky colour, draws a 256 x 256
//       textured quad at its centre, blits the picture into the window
//       (turned over, as the game's present does) and swaps, paced to 60
//       frames a second by sleeping until the next frame is due
// With tests/demo/PresentProbe.cpp preloaded the presents can be seen from outside.
#define GL_GLEXT_PROTOTYPES 1
#include <EGL/egl.h>
#include <EGL/eglext.h>
#include <GL/gl.h>
#include <GL/glext.h>
#include <SDL.h>
#include <lua.hpp>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

namespace {

int fail(const char* what) {
    std::fprintf(stderr, "engine_bench_floor: %s (%s)\n", what, SDL_GetError());
    return 1;
}

std::size_t readTree(const std::filesystem::path& root) {
    std::size_t total = 0;
    std::vector<char> buffer;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(root)) {
        if (!entry.is_regular_file()) continue;
        const auto permissions = entry.status().permissions();
        if ((permissions & std::filesystem::perms::owner_exec) != std::filesystem::perms::none) continue;
        std::ifstream file(entry.path(), std::ios::binary);
        buffer.resize(std::size_t(entry.file_size()));
        file.read(buffer.data(), std::streamsize(buffer.size()));
        total += std::size_t(file.gcount());
    }
    return total;
}

// The context a GL window gets from here on: OpenGL 4.5, compatibility
// profile (as the game asks), double-buffered.
void askGL45Windows() {
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_MAJOR_VERSION, 4);
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_MINOR_VERSION, 5);
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_PROFILE_MASK, SDL_GL_CONTEXT_PROFILE_COMPATIBILITY);
    SDL_GL_SetAttribute(SDL_GL_DOUBLEBUFFER, 1);
}

int startupInWindow(const char* dataRoot) {
    SDL_DisplayMode desktop{};
    if (SDL_GetDesktopDisplayMode(0, &desktop) != 0) return fail("no desktop mode");
    askGL45Windows();
    SDL_Window* window =
        SDL_CreateWindow("floor", 0, 0, desktop.w, desktop.h, SDL_WINDOW_OPENGL | SDL_WINDOW_BORDERLESS);
    if (!window) return fail("no window");
    SDL_GLContext context = SDL_GL_CreateContext(window);
    if (!context) return fail("no OpenGL 4.5 context");
    lua_State* lua = luaL_newstate();
    luaL_openlibs(lua);
    const std::size_t bytes = readTree(dataRoot);
    glViewport(0, 0, desktop.w, desktop.h);
    glClearColor(0.25f, 0.375f, 0.5f, 1.0f);
    glClear(GL_COLOR_BUFFER_BIT);
    SDL_GL_SwapWindow(window);
    std::printf("read %zu bytes of the data root\n", bytes);
    lua_close(lua);
    SDL_GL_DeleteContext(context);
    SDL_DestroyWindow(window);
    SDL_Quit();
    return 0;
}

int startup(const char* dataRoot) {
    // Read as the video subsystem opens: GL windows on an X display through EGL.
    SDL_SetHint(SDL_HINT_VIDEO_X11_FORCE_EGL, "1");
    if (SDL_Init(SDL_INIT_VIDEO) != 0) return fail("no SDL video");
    const char* driver = SDL_GetCurrentVideoDriver();
    if (driver && std::strcmp(driver, "offscreen") != 0 && std::strcmp(driver, "dummy") != 0)
        return startupInWindow(dataRoot);
    SDL_Window* window = SDL_CreateWindow("floor", SDL_WINDOWPOS_UNDEFINED, SDL_WINDOWPOS_UNDEFINED, 1024, 768, 0);
    if (!window) return fail("no window");
    auto getPlatformDisplay =
        reinterpret_cast<PFNEGLGETPLATFORMDISPLAYEXTPROC>(eglGetProcAddress("eglGetPlatformDisplayEXT"));
    EGLDisplay display = getPlatformDisplay
                             ? getPlatformDisplay(EGL_PLATFORM_SURFACELESS_MESA, EGL_DEFAULT_DISPLAY, nullptr)
                             : EGL_NO_DISPLAY;
    EGLint major = 0, minor = 0;
    if (display == EGL_NO_DISPLAY || !eglInitialize(display, &major, &minor) || !eglBindAPI(EGL_OPENGL_API))
        return fail("no surfaceless EGL display");
    const EGLint attributes[] = {EGL_CONTEXT_MAJOR_VERSION, 4, EGL_CONTEXT_MINOR_VERSION, 5,
                                 EGL_CONTEXT_OPENGL_PROFILE_MASK, EGL_CONTEXT_OPENGL_COMPATIBILITY_PROFILE_BIT,
                                 EGL_NONE};
    EGLContext context = eglCreateContext(display, EGL_NO_CONFIG_KHR, EGL_NO_CONTEXT, attributes);
    if (context == EGL_NO_CONTEXT || !eglMakeCurrent(display, EGL_NO_SURFACE, EGL_NO_SURFACE, context))
        return fail("no OpenGL 4.5 context");
    lua_State* lua = luaL_newstate();
    luaL_openlibs(lua);
    const std::size_t bytes = readTree(dataRoot);
    GLuint color = 0, framebuffer = 0;
    glCreateRenderbuffers(1, &color);
    glNamedRenderbufferStorage(color, GL_RGBA8, 1024, 768);
    glCreateFramebuffers(1, &framebuffer);
    glNamedFramebufferRenderbuffer(framebuffer, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER, color);
    const float sky[4] = {0.25f, 0.375f, 0.5f, 1.0f};
    glClearNamedFramebufferfv(framebuffer, GL_COLOR, 0, sky);
    glFlush();
    std::printf("read %zu bytes of the data root\n", bytes);
    lua_close(lua);
    eglMakeCurrent(display, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
    eglDestroyContext(display, context);
    SDL_DestroyWindow(window);
    SDL_Quit();
    return 0;
}

GLuint compile(GLenum stage, const char* text) {
    GLuint shader = glCreateShader(stage);
    glShaderSource(shader, 1, &text, nullptr);
    glCompileShader(shader);
    return shader;
}

int idle(double seconds, int pictureWidth, int pictureHeight) {
    if (SDL_Init(SDL_INIT_VIDEO) != 0) return fail("no SDL video");
    askGL45Windows();
    SDL_Window* window =
        SDL_CreateWindow("floor", 0, 0, pictureWidth, pictureHeight, SDL_WINDOW_OPENGL | SDL_WINDOW_SHOWN);
    if (!window) return fail("no window");
    SDL_GLContext context = SDL_GL_CreateContext(window);
    if (!context) return fail("no OpenGL 4.5 context");
    if (SDL_GL_SetSwapInterval(1) != 0) SDL_GL_SetSwapInterval(0);
    GLuint color = 0, framebuffer = 0;
    glCreateRenderbuffers(1, &color);
    glNamedRenderbufferStorage(color, GL_RGBA8, pictureWidth, pictureHeight);
    glCreateFramebuffers(1, &framebuffer);
    glNamedFramebufferRenderbuffer(framebuffer, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER, color);
    const GLuint vs = compile(GL_VERTEX_SHADER, R"(#version 450 core
const vec2 corners[4] = vec2[4](vec2(-0.25, -0.333), vec2(0.25, -0.333), vec2(-0.25, 0.333), vec2(0.25, 0.333));
out vec2 uv;
void main() { uv = corners[gl_VertexID] * vec2(2.0, 1.5) + 0.5; gl_Position = vec4(corners[gl_VertexID], 0.0, 1.0); })");
    const GLuint fs = compile(GL_FRAGMENT_SHADER, R"(#version 450 core
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

    using Clock = std::chrono::steady_clock;
    const auto interval = std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(1.0 / 60.0));
    const auto end = Clock::now() + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
    auto next = Clock::now();
    bool running = true;
    while (running && Clock::now() < end) {
        SDL_Event event;
        while (SDL_PollEvent(&event))
            if (event.type == SDL_QUIT) running = false;
        glBindFramebuffer(GL_FRAMEBUFFER, framebuffer);
        glViewport(0, 0, pictureWidth, pictureHeight);
        const float sky[4] = {0.25f, 0.375f, 0.5f, 1.0f};
        glClearNamedFramebufferfv(framebuffer, GL_COLOR, 0, sky);
        glUseProgram(program);
        glBindVertexArray(vertexArray);
        glBindTextureUnit(0, texture);
        glDrawArrays(GL_TRIANGLE_STRIP, 0, 4);
        int width = 0, height = 0;
        SDL_GL_GetDrawableSize(window, &width, &height);
        glBlitNamedFramebuffer(framebuffer, 0, 0, 0, pictureWidth, pictureHeight, 0, height, width, 0,
                               GL_COLOR_BUFFER_BIT, GL_LINEAR);
        SDL_GL_SwapWindow(window);
        next += interval;
        const auto now = Clock::now();
        if (next < now) next = now;
        std::this_thread::sleep_until(next);
    }
    glDeleteTextures(1, &texture);
    glDeleteVertexArrays(1, &vertexArray);
    glDeleteProgram(program);
    glDeleteShader(vs);
    glDeleteShader(fs);
    glDeleteFramebuffers(1, &framebuffer);
    glDeleteRenderbuffers(1, &color);
    SDL_GL_DeleteContext(context);
    SDL_DestroyWindow(window);
    SDL_Quit();
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::strcmp(argv[1], "startup") == 0) return startup(argv[2]);
    if ((argc == 3 || argc == 5) && std::strcmp(argv[1], "idle") == 0) {
        const int width = argc == 5 ? std::atoi(argv[3]) : 1024;
        const int height = argc == 5 ? std::atoi(argv[4]) : 768;
        if (width < 64 || height < 64 || width > 8192 || height > 8192) return fail("bad window size");
        return idle(std::atof(argv[2]), width, height);
    }
    std::fprintf(stderr, "usage: engine_bench_floor startup <data root> | idle <seconds> [<width> <height>]\n");
    return 2;
}
