#include "platform/d3d9/GLContext.h"
#include "platform/d3d9/D3D9.h"

#include <EGL/egl.h>
#include <EGL/eglext.h>
#define GL_GLEXT_PROTOTYPES 1
#include <GL/gl.h>
#include <GL/glext.h>
#include <SDL.h>

#include <cctype>
#include <cstdio>
#include <cstring>
#include <thread>

namespace platform::d3d9 {

namespace {

const void* g_current = nullptr;  // the context made current last
// The surfaceless context hostGLStack asked with, current nowhere, until a
// surfaceless GLContext takes it (or a window's context makes it useless).
EGLContext g_spare = EGL_NO_CONTEXT;

const EGLint kContextAttributes[] = {EGL_CONTEXT_MAJOR_VERSION, 4, EGL_CONTEXT_MINOR_VERSION, 5,
                                     EGL_CONTEXT_OPENGL_PROFILE_MASK, EGL_CONTEXT_OPENGL_COMPATIBILITY_PROFILE_BIT,
                                     EGL_NONE};

// The process's surfaceless EGL display, opened on first use.
EGLDisplay eglDisplay(std::string& why) {
    static EGLDisplay display = EGL_NO_DISPLAY;
    static bool tried = false;
    static std::string failure;
    if (tried) {
        why = failure;
        return display;
    }
    tried = true;
    auto getPlatformDisplay =
        reinterpret_cast<PFNEGLGETPLATFORMDISPLAYEXTPROC>(eglGetProcAddress("eglGetPlatformDisplayEXT"));
    EGLDisplay candidate = getPlatformDisplay
                               ? getPlatformDisplay(EGL_PLATFORM_SURFACELESS_MESA, EGL_DEFAULT_DISPLAY, nullptr)
                               : EGL_NO_DISPLAY;
    EGLint major = 0, minor = 0;
    if (candidate == EGL_NO_DISPLAY || !eglInitialize(candidate, &major, &minor)) {
        char line[96];
        std::snprintf(line, sizeof line, "no surfaceless EGL display (EGL error 0x%X)", unsigned(eglGetError()));
        failure = why = line;
        return EGL_NO_DISPLAY;
    }
    display = candidate;
    return display;
}

// A window draws with a context of its own: the asking context goes.
void dropSpare() {
    if (g_spare == EGL_NO_CONTEXT) return;
    std::string why;
    eglDestroyContext(eglDisplay(why), g_spare);
    g_spare = EGL_NO_CONTEXT;
}

}  // namespace

bool isSoftwareRenderer(std::string_view renderer) {
    std::string text(renderer);
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    // Mesa's CPU rasterisers name themselves in GL_RENDERER.
    for (const char* name : {"llvmpipe", "softpipe", "swrast", "software rasterizer"})
        if (text.find(name) != std::string::npos) return true;
    return false;
}

const GLStack& hostGLStack() {
    static const GLStack stack = [] {
        GLStack found;
        std::string why;
        EGLDisplay display = eglDisplay(why);
        if (display == EGL_NO_DISPLAY) return found;
        // Asked on a thread of its own, so the caller's current context (EGL
        // or a window's) stays as it is. The context is the one a surfaceless
        // device asks for; it is kept for the first such device (open), so
        // asking costs no context of its own when the game draws headless.
        std::thread asking([&] {
            if (!eglBindAPI(EGL_OPENGL_API)) return;
            EGLContext context = eglCreateContext(display, EGL_NO_CONFIG_KHR, EGL_NO_CONTEXT, kContextAttributes);
            const bool deviceContext = context != EGL_NO_CONTEXT;
            // A host without GL 4.5 still names its renderer.
            if (!deviceContext) context = eglCreateContext(display, EGL_NO_CONFIG_KHR, EGL_NO_CONTEXT, nullptr);
            if (context == EGL_NO_CONTEXT) return;
            bool asked = false;
            if (eglMakeCurrent(display, EGL_NO_SURFACE, EGL_NO_SURFACE, context)) {
                auto text = [](GLenum name) {
                    const auto* value = reinterpret_cast<const char*>(glGetString(name));
                    return std::string(value ? value : "");
                };
                found.vendor = text(GL_VENDOR);
                found.renderer = text(GL_RENDERER);
                found.version = text(GL_VERSION);
                found.available = !found.renderer.empty();
                found.software = isSoftwareRenderer(found.renderer);
                asked = eglMakeCurrent(display, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
            }
            if (deviceContext && asked && g_spare == EGL_NO_CONTEXT)
                g_spare = context;
            else
                eglDestroyContext(display, context);
            eglReleaseThread();
        });
        asking.join();
        return found;
    }();
    return stack;
}

void GLContext::keepDriverLoaded() {
    std::string unused;
    eglDisplay(unused);
}

GLContext::~GLContext() {
    if (g_current == this) g_current = nullptr;
    if (framesInFlight_ > 0) {
        makeCurrent();
        for (int i = 0; i < framesInFlight_; ++i) glDeleteSync(static_cast<GLsync>(frameFences_[i]));
    }
    if (sdlContext_) {
        SDL_GL_MakeCurrent(static_cast<SDL_Window*>(window_), nullptr);
        SDL_GL_DeleteContext(static_cast<SDL_GLContext>(sdlContext_));
    }
    if (eglContext_) {
        std::string why;
        EGLDisplay display = eglDisplay(why);
        eglMakeCurrent(display, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
        eglDestroyContext(display, static_cast<EGLContext>(eglContext_));
    }
}

bool GLContext::open(void* window, std::string& why) {
    if (window) {
        auto* sdlWindow = static_cast<SDL_Window*>(window);
        if (!(SDL_GetWindowFlags(sdlWindow) & SDL_WINDOW_OPENGL)) {
            why = "the device window was not created for OpenGL";
            return false;
        }
        keepDriverLoaded();
        dropSpare();
        SDL_GL_SetAttribute(SDL_GL_CONTEXT_MAJOR_VERSION, 4);
        SDL_GL_SetAttribute(SDL_GL_CONTEXT_MINOR_VERSION, 5);
        SDL_GL_SetAttribute(SDL_GL_CONTEXT_PROFILE_MASK, SDL_GL_CONTEXT_PROFILE_COMPATIBILITY);
        SDL_GL_SetAttribute(SDL_GL_DOUBLEBUFFER, 1);
        SDL_GLContext context = SDL_GL_CreateContext(sdlWindow);
        if (!context) {
            why = std::string("no OpenGL 4.5 context for the window: ") + SDL_GetError();
            return false;
        }
        window_ = window;
        sdlContext_ = context;
        g_current = this;
        return true;
    }
    EGLDisplay display = eglDisplay(why);
    if (display == EGL_NO_DISPLAY) return false;
    if (!eglBindAPI(EGL_OPENGL_API)) {
        why = "EGL has no desktop OpenGL";
        return false;
    }
    EGLContext context = g_spare;
    g_spare = EGL_NO_CONTEXT;
    if (context == EGL_NO_CONTEXT)
        context = eglCreateContext(display, EGL_NO_CONFIG_KHR, EGL_NO_CONTEXT, kContextAttributes);
    if (context == EGL_NO_CONTEXT) {
        char line[96];
        std::snprintf(line, sizeof line, "no OpenGL 4.5 EGL context (EGL error 0x%X)", unsigned(eglGetError()));
        why = line;
        return false;
    }
    eglContext_ = context;
    if (!eglMakeCurrent(display, EGL_NO_SURFACE, EGL_NO_SURFACE, context)) {
        why = "the surfaceless EGL context cannot be made current";
        return false;
    }
    g_current = this;
    return true;
}

void GLContext::makeCurrent() {
    if (g_current == this) return;
    if (sdlContext_) {
        SDL_GL_MakeCurrent(static_cast<SDL_Window*>(window_), static_cast<SDL_GLContext>(sdlContext_));
    } else if (eglContext_) {
        std::string why;
        eglMakeCurrent(eglDisplay(why), EGL_NO_SURFACE, EGL_NO_SURFACE, static_cast<EGLContext>(eglContext_));
    }
    g_current = this;
}

void GLContext::windowSize(int& width, int& height) const {
    width = height = 0;
    if (window_) SDL_GL_GetDrawableSize(static_cast<SDL_Window*>(window_), &width, &height);
}

void GLContext::setSwapInterval(int interval) {
    if (!window_ || interval == swapInterval_) return;
    makeCurrent();
    // A host that cannot wait (or not that long) presents at once.
    if (SDL_GL_SetSwapInterval(interval) != 0) SDL_GL_SetSwapInterval(0);
    swapInterval_ = interval;
}

void GLContext::swap() {
    if (window_)
        SDL_GL_SwapWindow(static_cast<SDL_Window*>(window_));
    else
        glFlush();
    // At most kFramesInFlight frames wait in the driver: the oldest is
    // waited for before another is added. Headless nothing else holds the
    // game back, and a software rasteriser short of processor time would
    // queue frame after frame, each holding its commands and data.
    if (framesInFlight_ == kFramesInFlight) {
        auto oldest = static_cast<GLsync>(frameFences_[0]);
        // A frame that is not done in 10 s is let go: the game goes on.
        glClientWaitSync(oldest, GL_SYNC_FLUSH_COMMANDS_BIT, GLuint64(10) * 1000 * 1000 * 1000);
        glDeleteSync(oldest);
        for (int i = 1; i < framesInFlight_; ++i) frameFences_[i - 1] = frameFences_[i];
        --framesInFlight_;
    }
    if (GLsync fence = glFenceSync(GL_SYNC_GPU_COMMANDS_COMPLETE, 0)) frameFences_[framesInFlight_++] = fence;
}

}  // namespace platform::d3d9
