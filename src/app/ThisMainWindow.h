// The game's main window: its handles, the active and full-screen flags, its
// class name and title. Built with the game core, before any window exists.
#pragma once

#include <cstdint>
#include <string>

class ThisMainWindow {
public:
    ThisMainWindow() = default;
    ThisMainWindow(const ThisMainWindow&) = delete;
    ThisMainWindow& operator=(const ThisMainWindow&) = delete;

    std::uintptr_t instance = 0;
    std::uintptr_t window = 0;
    // The message loop only runs frames while the window is active.
    std::uint8_t active = 1;
    std::uint8_t fullScreen = 0;
    std::string className;
    std::string title;
};
