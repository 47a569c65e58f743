#include "platform/Window.h"

#include "platform/Display.h"
#include "platform/d3d9/GLContext.h"

#include <SDL.h>
#include <SDL_syswm.h>
#include <X11/Xatom.h>
#include <signal.h>

#include <atomic>
#include <cstdint>
#include <cstring>
#include <deque>

#include "platform/dinput8/SdlInput.h"

namespace platform {

namespace {

// Set by the stop signals; the next poll turns it into a close message.
std::atomic<bool> g_closePosted{false};
std::atomic<bool> g_signalsInstalled{false};
// The stop signals received so far (lock-free, so the handler may count).
std::atomic<int> g_stopSignals{0};

void onStopSignal(int) {
    g_stopSignals.fetch_add(1);
    g_closePosted.store(true);
}

// The clipboard of the process, used while no SDL window is up.
std::string g_processClipboard;
bool g_processHasText = false;
// The SDL window whose clipboard is in use (null: the process buffer).
bool g_sdlClipboard = false;

// The characters of UTF-8 text that lie in the 16-bit plane, one code unit
// each. Characters beyond it (they would need two units) and malformed
// sequences are dropped.
void basicPlaneCharacters(const char* text, std::u16string& out) {
    const auto* p = reinterpret_cast<const unsigned char*>(text);
    while (*p) {
        const unsigned lead = *p;
        // Continuation bytes after the lead, and the least code that needs
        // that many (a smaller one is an overlong form).
        int extra = 0;
        std::uint32_t least = 0;
        if (lead >= 0xF0 && lead < 0xF8) {
            extra = 3;
            least = 0x10000;
        } else if (lead >= 0xE0 && lead < 0xF0) {
            extra = 2;
            least = 0x800;
        } else if (lead >= 0xC0 && lead < 0xE0) {
            extra = 1;
            least = 0x80;
        } else if (lead >= 0x80) {
            ++p;  // a stray continuation byte or an invalid lead
            continue;
        }
        std::uint32_t code = lead & (0x7Fu >> extra);
        int taken = 1;
        for (; taken <= extra && (p[taken] & 0xC0) == 0x80; ++taken) code = (code << 6) | (p[taken] & 0x3F);
        if (taken <= extra) {  // cut short: the lead alone is dropped
            ++p;
            continue;
        }
        p += taken;
        if (code < least || code > 0xFFFF || (code >= 0xD800 && code <= 0xDFFF)) continue;
        out.push_back(static_cast<char16_t>(code));
    }
}

bool takePostedClose(WindowMessage& message) {
    if (!g_closePosted.exchange(false)) return false;
    message = WindowMessage{};
    message.kind = WindowMessageKind::Close;
    return true;
}

class HeadlessWindow final : public Window {
public:
    bool create(const char*, std::int32_t x, std::int32_t y, std::int32_t width, std::int32_t height,
                bool) override {
        rect_ = {x, y, x + width, y + height};
        exists_ = true;
        return true;
    }
    void destroy() override {
        exists_ = false;
        rect_ = {};
    }
    bool exists() const override { return exists_; }
    void setTitle(const std::string&) override {}
    WindowRect rect() const override { return rect_; }
    bool workArea(WindowRect& area) const override {
        area = {0, 0, 1024, 768};
        return true;
    }
    void showCursor(bool) override {}
    bool pointerPosition(std::int32_t&, std::int32_t&) const override { return false; }
    bool poll(WindowMessage& message) override { return takePostedClose(message); }
    WindowBackend backend() const override { return WindowBackend::Headless; }
    void* deviceWindow() const override { return nullptr; }
    bool showsOnDisplay() const override { return false; }

private:
    bool exists_ = false;
    WindowRect rect_;
};

class SdlWindow final : public Window {
public:
    ~SdlWindow() override {
        destroy();
        SDL_QuitSubSystem(SDL_INIT_VIDEO);
    }

    bool create(const char* title, std::int32_t x, std::int32_t y, std::int32_t width, std::int32_t height,
                bool fullScreen) override {
        if (window_) return true;
        // The driver SDL loads for the GL window stays loaded after the
        // window (see GLContext).
        d3d9::GLContext::keepDriverLoaded();
        if (!(fullScreen && createDesktopFullScreen(title, width, height)))
            createGLWindow(title, x, y, width, height, fullScreen ? SDL_WINDOW_FULLSCREEN : SDL_WINDOW_BORDERLESS);
        if (!window_) return false;
        SDL_StartTextInput();
        g_sdlClipboard = true;
        return true;
    }
    void destroy() override {
        if (!window_) return;
        SDL_StopTextInput();
        SDL_DestroyWindow(window_);
        window_ = nullptr;
        g_sdlClipboard = false;
        pending_.clear();
        windowCloseTranslated_ = false;
    }
    bool exists() const override { return window_ != nullptr; }
    void setTitle(const std::string& title) override {
        if (window_) SDL_SetWindowTitle(window_, title.c_str());
    }
    WindowRect rect() const override {
        WindowRect r;
        if (!window_) return r;
        int x = 0, y = 0, w = 0, h = 0;
        SDL_GetWindowPosition(window_, &x, &y);
        SDL_GetWindowSize(window_, &w, &h);
        return {x, y, x + w, y + h};
    }
    bool workArea(WindowRect& area) const override {
        SDL_Rect r;
        if (SDL_GetDisplayUsableBounds(0, &r) != 0 && SDL_GetDisplayBounds(0, &r) != 0) return false;
        area = {r.x, r.y, r.x + r.w, r.y + r.h};
        return true;
    }
    void showCursor(bool visible) override { SDL_ShowCursor(visible ? SDL_ENABLE : SDL_DISABLE); }
    bool pointerPosition(std::int32_t& x, std::int32_t& y) const override {
        if (!window_ || SDL_GetMouseFocus() != window_) return false;
        int px = 0, py = 0;
        SDL_GetMouseState(&px, &py);
        x = px;
        y = py;
        return true;
    }

    bool poll(WindowMessage& message) override {
        if (takePostedClose(message)) return true;
        for (;;) {
            if (!pending_.empty()) {
                message = pending_.front();
                pending_.pop_front();
                return true;
            }
            SDL_Event event;
            if (!SDL_PollEvent(&event)) return false;
            translate(event);
        }
    }
    WindowBackend backend() const override { return WindowBackend::Sdl; }
    void* deviceWindow() const override {
        return window_ && (SDL_GetWindowFlags(window_) & SDL_WINDOW_OPENGL) ? window_ : nullptr;
    }
    bool showsOnDisplay() const override {
        const char* driver = SDL_GetCurrentVideoDriver();
        return window_ && driver && std::strcmp(driver, "offscreen") != 0 && std::strcmp(driver, "dummy") != 0;
    }

private:
    // A GL window, so the Direct3D layer's GL backend can draw into it; a
    // host without GL still gets a plain window.
    bool createGLWindow(const char* title, int x, int y, int width, int height, Uint32 flags) {
        const char* text = title ? title : "";
        window_ = SDL_CreateWindow(text, x, y, width, height, flags | SDL_WINDOW_OPENGL);
        if (!window_) window_ = SDL_CreateWindow(text, x, y, width, height, flags);
        return window_ != nullptr;
    }

    // A full screen of the desktop's own size on an X display: no display
    // mode changes, so a borderless window over the display, marked full
    // screen for the window manager before it is mapped (as the window
    // manager's protocol has it), is the whole of it. SDL's full-screen
    // window asks the window manager again once mapped and waits up to
    // 0.1 s for the answer, which never comes without a window manager, nor
    // with one when the window already covers the display. False (nothing
    // made) elsewhere: SDL's full screen then changes the mode as asked.
    bool createDesktopFullScreen(const char* title, std::int32_t width, std::int32_t height) {
        const char* driver = SDL_GetCurrentVideoDriver();
        SDL_DisplayMode desktop{};
        SDL_Rect bounds{};
        if (!driver || std::strcmp(driver, "x11") != 0 || SDL_GetDesktopDisplayMode(0, &desktop) != 0 ||
            SDL_GetDisplayBounds(0, &bounds) != 0 || desktop.w != width || desktop.h != height)
            return false;
        if (!createGLWindow(title, bounds.x, bounds.y, width, height, SDL_WINDOW_BORDERLESS | SDL_WINDOW_HIDDEN))
            return false;
        SDL_SysWMinfo info;
        SDL_VERSION(&info.version);
        if (SDL_GetWindowWMInfo(window_, &info) && info.subsystem == SDL_SYSWM_X11) {
            Display* display = info.info.x11.display;
            const Atom state = XInternAtom(display, "_NET_WM_STATE", False);
            const Atom fullScreenState = XInternAtom(display, "_NET_WM_STATE_FULLSCREEN", False);
            XChangeProperty(display, info.info.x11.window, state, XA_ATOM, 32, PropModeReplace,
                            reinterpret_cast<const unsigned char*>(&fullScreenState), 1);
        }
        SDL_ShowWindow(window_);
        return true;
    }

    void push(WindowMessageKind kind, bool active = false, char16_t character = 0) {
        WindowMessage m;
        m.kind = kind;
        m.active = active;
        m.character = character;
        pending_.push_back(m);
    }

    void translate(const SDL_Event& event) {
        // Input and focus events go to the input devices too: this queue
        // is the one SDL event queue, read only here.
        dinput8::onSdlEvent(&event);
        // SDL follows the close request of its last window with a quit event:
        // both are the player's one request, so that quit adds no close.
        const bool afterWindowClose = windowCloseTranslated_;
        windowCloseTranslated_ = false;
        switch (event.type) {
        case SDL_QUIT:
            if (!afterWindowClose) push(WindowMessageKind::Close);
            break;
        case SDL_WINDOWEVENT:
            switch (event.window.event) {
            case SDL_WINDOWEVENT_CLOSE:
                push(WindowMessageKind::Close);
                windowCloseTranslated_ = true;
                break;
            case SDL_WINDOWEVENT_FOCUS_GAINED: push(WindowMessageKind::Activate, true); break;
            case SDL_WINDOWEVENT_FOCUS_LOST: push(WindowMessageKind::Activate, false); break;
            default: break;
            }
            break;
        case SDL_DISPLAYEVENT: push(WindowMessageKind::DisplayChange); break;
        case SDL_MOUSEMOTION:
            // A held mouse (relative mode) moves no pointer.
            if (!SDL_GetRelativeMouseMode()) {
                WindowMessage m;
                m.kind = WindowMessageKind::PointerMove;
                m.x = event.motion.x;
                m.y = event.motion.y;
                pending_.push_back(m);
            }
            break;
        case SDL_TEXTINPUT: {
            std::u16string wide;
            basicPlaneCharacters(event.text.text, wide);
            for (char16_t c : wide) push(WindowMessageKind::Character, false, c);
            break;
        }
        default: break;
        }
    }

    SDL_Window* window_ = nullptr;
    std::deque<WindowMessage> pending_;
    // The last event translated was a window's close request.
    bool windowCloseTranslated_ = false;
};

}  // namespace

std::unique_ptr<Window> createHeadlessWindow() { return std::make_unique<HeadlessWindow>(); }

std::unique_ptr<Window> createWindow() {
    const bool opened = openVideoSubsystem();
    // The window holds the video subsystem now (when it could open it).
    releaseDisplayQuery();
    if (!opened) return createHeadlessWindow();
    return std::make_unique<SdlWindow>();
}

void installStopSignals() {
    if (g_signalsInstalled.exchange(true)) return;
    struct sigaction action = {};
    action.sa_handler = onStopSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
}

void postWindowClose() { g_closePosted.store(true); }

int stopSignalCount() { return g_stopSignals.load(); }

void resetStopSignalCount() { g_stopSignals.store(0); }

bool getClipboardText(std::string& text) {
    if (g_sdlClipboard) {
        if (!SDL_HasClipboardText()) return false;
        char* owned = SDL_GetClipboardText();
        if (!owned) return false;
        text = owned;
        SDL_free(owned);
        return true;
    }
    if (!g_processHasText) return false;
    text = g_processClipboard;
    return true;
}

bool setClipboardText(const std::string& text) {
    if (g_sdlClipboard) return SDL_SetClipboardText(text.c_str()) == 0;
    g_processClipboard = text;
    g_processHasText = true;
    return true;
}

}  // namespace platform
