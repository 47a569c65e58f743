// The OpenGL 4.5 compatibility-profile context a GL device draws with:
// either a surfaceless EGL context (headless; the device draws into its own
// framebuffers) or the context of an SDL window, whose default framebuffer
// receives the back buffer at Present. The EGL display is opened once per
// process and kept (closing it unloads the driver while it still holds
// memory). Main thread only.
#pragma once

#include <string>

namespace platform::d3d9 {

class GLContext {
public:
    // Opens the process's surfaceless display, which keeps the GL driver
    // loaded from then on: a GL window's video closing would otherwise
    // unload a driver that still holds memory.
    static void keepDriverLoaded();

    ~GLContext();
    // window: an SDL window created with GL, or null for a surfaceless
    // context. False with why set when the host gives no GL 4.5.
    bool open(void* window, std::string& why);
    // Makes this context current when another one is.
    void makeCurrent();
    bool hasWindow() const { return window_ != nullptr; }
    // The window's drawable size in pixels (0 without a window).
    void windowSize(int& width, int& height) const;
    // Waits for this many display refreshes at each swap of a window
    // (0: none).
    void setSwapInterval(int interval);
    // Shows the default framebuffer (window) or only flushes (headless),
    // then waits while more than kFramesInFlight frames are unfinished.
    void swap();

    static constexpr int kFramesInFlight = 2;

private:
    void* frameFences_[kFramesInFlight] = {};  // the unfinished frames' fences, oldest first
    int framesInFlight_ = 0;
    void* window_ = nullptr;
    void* sdlContext_ = nullptr;
    void* eglContext_ = nullptr;
    int swapInterval_ = -1;
};

}  // namespace platform::d3d9
