// The game's main window: its host window, the active and full-screen flags,
// its texts, and the handling of the window's messages.
//
// Built with the game core, before any window exists; createMainWindow makes
// the host window in the system initialisation and destroyMainWindow ends
// it in the release (a second call finds nothing to destroy). Closing never
// closes the window: it queues the script event "game_close_window" and the
// script decides. Main thread only.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace platform {
class Window;
struct WindowMessage;
struct WindowRect;
}  // namespace platform

// Window styles (fixed values): the window is a pop-up in both modes.
constexpr std::uint32_t kWindowStyleFullScreen = 0x90000000u;
constexpr std::uint32_t kWindowStyleWindowed = 0x97080000u;

class CObjWnd {
public:
    // Out of line: the host window's type is complete only there.
    CObjWnd();
    virtual ~CObjWnd();
    CObjWnd(const CObjWnd&) = delete;
    CObjWnd& operator=(const CObjWnd&) = delete;

    // The host window; null until created and after destruction.
    std::unique_ptr<platform::Window> window;
    std::uintptr_t deviceContext = 0;
    std::uintptr_t instance = 0;
};

class AppMainWindow : public CObjWnd {
public:
    // The rectangle the window should cover: the display mode in full screen;
    // in windowed mode left, top, width and height of the desktop's work area.
    platform::WindowRect wantedRect() const;
    // Windowed mode only: when the window's rectangle differs from the wanted
    // one, the window is put on show and its menu cut down to Close.
    void fitToScreen();
    void setCloseText(const std::u16string& text);
    // Hands every character of a key to the still frames' input box; true
    // when any was taken.
    bool translateCharacter(char16_t character);

    // The message loop runs frames only while the window is active.
    std::uint8_t active = 1;
    std::uint8_t fullScreen = 0;
    std::uint32_t style = 0;
    std::u16string title;
    std::u16string exitText;
};

class ThisMainWindow : public AppMainWindow {
public:
    // Sets the Close text ("Exit" or the localised "system.mm_exit"), the
    // full-screen flag from the video settings and the title. Always true.
    bool open(std::uintptr_t instanceHandle);
    // The title: "Game" or the localised "system.SF_ui_title".
    void refreshTitle();
    // The window procedure: handles one message of the host window.
    void handleMessage(const platform::WindowMessage& message);
    // Puts the game's cursor where the system's pointer stands in the
    // window, on the 1024 x 768 screen of the still frames (the 4:3 picture
    // in the window's middle), or in the screen's middle when the pointer
    // is elsewhere: the game's own pointer takes over from the system's
    // where the player left it.
    void placeCursorAtPointer();
    // The system's pointer moved to (px, py) of the window while the mouse
    // is not held: a cursor in use (the camera mode's pointer) goes to the
    // same place, so the game's pointer stays under the system's.
    void followPointer(std::int32_t px, std::int32_t py);
    // The point of the 1024 x 768 still-frame screen at (px, py) of the
    // window; false without a window size.
    bool screenPoint(std::int32_t px, std::int32_t py, float& x, float& y) const;
};

// Creates the host window of the game core's main window, titled
// "Loading..."; true at once when it exists. When the host refuses the
// player's video settings, the video core's safe record becomes the active
// one (logged) and the window is made from it.
bool createMainWindow();
// Clears the title, shows the cursor again after full screen and destroys
// the host window; safe to call when there is none.
void destroyMainWindow();
