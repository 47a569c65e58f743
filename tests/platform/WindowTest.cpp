// The window layer: the SDL backend under the offscreen driver (the test
// environment sets it) and the headless backend.
#include <gtest/gtest.h>

#include <signal.h>

#include <cstdlib>
#include <memory>

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
