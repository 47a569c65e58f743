// The game's top-level window and its message queue.
//
// Two backends stand behind one interface: SDL2 (a window on the desktop, or
// headless through SDL's offscreen driver) and a headless one with no system
// window at all. The host's events become a few messages: close, activation,
// typed characters, the pointer's moves over the window while the input
// devices do not hold the mouse, and a change of the display. SIGTERM and
// SIGINT post a close, so an outside stop takes the same road as the
// window's close box, and are counted, so that the engine can end a game
// that ignores them.
// The clipboard goes through the window layer: the system clipboard while an
// SDL window is up, otherwise a buffer inside the process. Main thread only.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace platform {

enum class WindowMessageKind {
    Close,          // the close box, the system's quit request or a stop signal
    Activate,       // the window gained (active true) or lost the input focus
    Character,      // one typed character of the 16-bit plane (others are dropped)
    DisplayChange,  // display settings or the work area changed
    PointerMove,    // the system's pointer moved to (x, y) of the window
};

struct WindowMessage {
    WindowMessageKind kind = WindowMessageKind::Close;
    bool active = false;
    char16_t character = 0;
    std::int32_t x = 0, y = 0;  // PointerMove: pixels from the window's top left corner
};

struct WindowRect {
    std::int32_t left = 0, top = 0, right = 0, bottom = 0;
};

enum class WindowBackend { Sdl, Headless };

class Window {
public:
    virtual ~Window() = default;

    // Creates the window at (x, y) with the given size; full screen covers
    // the display. False when the host refuses it.
    virtual bool create(const char* title, std::int32_t x, std::int32_t y, std::int32_t width,
                        std::int32_t height, bool fullScreen) = 0;
    virtual void destroy() = 0;
    virtual bool exists() const = 0;
    // UTF-8 title.
    virtual void setTitle(const std::string& title) = 0;
    // Left, top, right, bottom of the window; zeros without one.
    virtual WindowRect rect() const = 0;
    // The desktop's usable area (the whole display where the host has no
    // panels); false when it cannot be had.
    virtual bool workArea(WindowRect& area) const = 0;
    virtual void showCursor(bool visible) = 0;
    // Where the system's pointer stands in the window (pixels from its top
    // left corner); false while it is outside the window or unknown.
    virtual bool pointerPosition(std::int32_t& x, std::int32_t& y) const = 0;
    // Takes the next pending message; false when there is none.
    virtual bool poll(WindowMessage& message) = 0;
    virtual WindowBackend backend() const = 0;
    // The handle to give Direct3D as the device window (its GL backend then
    // draws into this window); null when there is no GL window.
    virtual void* deviceWindow() const = 0;
    // True when the window shows on a real display (not SDL's offscreen
    // driver, not the headless backend).
    virtual bool showsOnDisplay() const = 0;
};

// The SDL2 backend when SDL's video can start, otherwise the headless one.
std::unique_ptr<Window> createWindow();
std::unique_ptr<Window> createHeadlessWindow();

// Installs the SIGTERM and SIGINT handlers that post a close to the window
// queue. Idempotent.
void installStopSignals();
// Posts a close as the stop signals do (for the engine and tests).
void postWindowClose();
// How many stop signals arrived since the handlers were installed (or since
// the count was reset, for tests); the engine decides what they end.
int stopSignalCount();
void resetStopSignalCount();

// Clipboard text (UTF-8). getClipboardText is false when there is no text.
bool getClipboardText(std::string& text);
bool setClipboardText(const std::string& text);

}  // namespace platform
