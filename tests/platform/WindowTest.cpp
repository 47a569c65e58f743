// The window layer: the SDL backend under the offscreen driver (the test
// environment sets it) and the headless backend.
#include <SDL.h>
#include <gtest/gtest.h>

#include <signal.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "platform/Window.h"

namespace {

TEST(Window, BothBackendsCreateReportTheirRectAndTurnStopSignalsIntoClose) {
    std::unique_ptr<platform::Window> windows[] = {platform::createWindow(), platform::createHeadlessWindow()};
    // The test environment names SDL's offscreen driver, so SDL starts.
    if (std::getenv("SDL_VIDEODRIVER")) {
        EXPECT_EQ(windows[0]->backend(), platform::WindowBackend::Sdl);
    }
    EXPECT_EQ(windows[1]->backend(), platform::WindowBackend::Headless);
    platform::installStopSignals();
    for (auto& window : windows) {
        ASSERT_FALSE(window->exists());
        platform::WindowRect area;
        ASSERT_TRUE(window->workArea(area));
        EXPECT_GT(area.right - area.left, 0);
        ASSERT_TRUE(window->create("Loading...", 0, 0, 320, 200, false));
        EXPECT_TRUE(window->exists());
        window->setTitle("Game");
        const platform::WindowRect r = window->rect();
        EXPECT_EQ(r.right - r.left, 320);
        EXPECT_EQ(r.bottom - r.top, 200);

        platform::WindowMessage message;
        while (window->poll(message)) {
        }
        ASSERT_EQ(::raise(SIGTERM), 0);  // handled: the process goes on
        bool closed = false;
        while (window->poll(message)) closed = closed || message.kind == platform::WindowMessageKind::Close;
        EXPECT_TRUE(closed);
        EXPECT_FALSE(window->poll(message));  // one close per signal

        window->destroy();
        EXPECT_FALSE(window->exists());
        EXPECT_EQ(window->rect().right, 0);
    }
}

// A close request of the last window reaches SDL's queue as a window close
// followed by a quit; the player asked once, so one close message comes.
TEST(Window, OneCloseRequestIsOneCloseMessage) {
    std::unique_ptr<platform::Window> window = platform::createWindow();
    if (window->backend() != platform::WindowBackend::Sdl) GTEST_SKIP() << "SDL's video does not start here";
    ASSERT_TRUE(window->create("close", 0, 0, 64, 64, false));
    platform::WindowMessage message;
    while (window->poll(message)) {
    }
    SDL_Event windowClose = {};
    windowClose.type = SDL_WINDOWEVENT;
    windowClose.window.event = SDL_WINDOWEVENT_CLOSE;
    SDL_Event quit = {};
    quit.type = SDL_QUIT;
    SDL_Event focus = windowClose;
    focus.window.event = SDL_WINDOWEVENT_FOCUS_GAINED;
    struct Case {
        const char* name;
        std::vector<SDL_Event> events;
        int closes;
    };
    const Case cases[] = {
        {"window close then its quit", {windowClose, quit}, 1},
        {"a quit alone (the system's request)", {quit}, 1},
        {"two window closes, each with its quit", {windowClose, quit, windowClose, quit}, 2},
        {"a window close, other events, then a quit", {windowClose, focus, quit}, 2},
    };
    for (const Case& c : cases) {
        for (SDL_Event event : c.events) ASSERT_EQ(SDL_PushEvent(&event), 1) << c.name;
        int closes = 0;
        while (window->poll(message)) closes += message.kind == platform::WindowMessageKind::Close ? 1 : 0;
        EXPECT_EQ(closes, c.closes) << c.name;
    }
}

// SDL's text input is UTF-8: each character of the 16-bit plane becomes one
// Character message; characters beyond it and malformed bytes none.
TEST(Window, TextInputGivesOneMessagePerCharacterOfTheBasicPlane) {
    std::unique_ptr<platform::Window> window = platform::createWindow();
    if (window->backend() != platform::WindowBackend::Sdl) GTEST_SKIP() << "SDL's video does not start here";
    ASSERT_TRUE(window->create("text", 0, 0, 64, 64, false));
    platform::WindowMessage message;
    while (window->poll(message)) {
    }
    const struct {
        const char* what;
        const char* text;
        std::u16string characters;
    } cases[] = {
        {"ASCII", "Ab 1", u"Ab 1"},
        {"two-byte and three-byte forms", "\xC3\xA9\xD0\x96\xE2\x82\xAC", u"\u00E9\u0416\u20AC"},
        {"the last character of the plane", "\xEF\xBF\xBF", u"\uFFFF"},
        {"beyond the plane, between letters", "a\xF0\x9F\x98\x80" "b", u"ab"},
        {"a surrogate half written as UTF-8", "\xED\xA0\x80z", u"z"},
        {"an overlong form and stray bytes", "\xC0\xAF\x80\xFFq", u"q"},
        {"a sequence cut short", "\xE2\x82x", u"x"},
    };
    for (const auto& c : cases) {
        SDL_Event event = {};
        event.type = SDL_TEXTINPUT;
        std::strncpy(event.text.text, c.text, sizeof(event.text.text) - 1);
        ASSERT_EQ(SDL_PushEvent(&event), 1) << c.what;
        std::u16string seen;
        while (window->poll(message))
            if (message.kind == platform::WindowMessageKind::Character) seen.push_back(message.character);
        EXPECT_EQ(seen, c.characters) << c.what;
    }
}

TEST(Window, ClipboardGoesToTheSystemWhileAWindowIsUp) {
    std::unique_ptr<platform::Window> window = platform::createWindow();
    ASSERT_TRUE(window->create("clip", 0, 0, 64, 64, false));
    ASSERT_TRUE(platform::setClipboardText("while up"));
    std::string text;
    ASSERT_TRUE(platform::getClipboardText(text));
    EXPECT_EQ(text, "while up");
    window->destroy();
    // Without a window the process keeps its own text.
    ASSERT_TRUE(platform::setClipboardText("process"));
    ASSERT_TRUE(platform::getClipboardText(text));
    EXPECT_EQ(text, "process");
}

}  // namespace
