#include <algorithm>

#include "app/GameCore.h"
#include "app/ThisMainWindow.h"
#include "foundation/Log.h"
#include "input/InputCore.h"
#include "platform/TextCodec.h"
#include "platform/Window.h"
#include "render/RenderCore.h"
#include "render/VideoCore.h"
#include "script/ScriptCall.h"
#include "script/ScriptEngine.h"
#include "script/ScriptVariable.h"
#include "script/VariablesCore.h"
#include "ui/StillFrameData.h"

namespace {

constexpr unsigned kUtf8 = 65001;

std::string toUtf8(const std::u16string& text) {
    std::string out;
    platform::wideToNarrow(text, kUtf8, out);
    return out;
}

// The wide text of a localised variable; false (text unchanged) when it is
// missing. Without the locales tree the lookup is reported.
bool localisedText(const char* path, std::u16string& text) {
    ScriptVariable* root = gameCore.variables ? gameCore.variables->locales().root() : nullptr;
    if (!root) {
        engineLog().error("\n\nCan't find script variable [%s.%s]", "locales", path);
        return false;
    }
    if (!ScriptVariable::test(root, path)) return false;
    ScriptVariable* node = ScriptVariable::resolvePath(root, path);
    if (!node) return false;
    text = node->toWString();
    return true;
}

bool fullScreenFromVideo() {
    return gameCore.video && gameCore.video->activeVideoSetup().windowMode == 0;
}

}  // namespace

CObjWnd::CObjWnd() = default;
CObjWnd::~CObjWnd() = default;

platform::WindowRect AppMainWindow::wantedRect() const {
    platform::WindowRect r;
    if (fullScreen) {
        if (gameCore.video) {
            const VideoSetup& mode = gameCore.video->activeVideoSetup();
            r.right = mode.res_width;
            r.bottom = mode.res_height;
        }
        return r;
    }
    platform::WindowRect area;
    if (window && window->workArea(area)) {
        r.left = area.left;
        r.top = area.top;
        r.right = area.right - area.left;  // a width from here on
        r.bottom = area.bottom - area.top;  // a height
    }
    return r;
}

void AppMainWindow::fitToScreen() {
    if (fullScreen || !window || !window->exists()) return;
    const platform::WindowRect now = window->rect();
    const platform::WindowRect wanted = wantedRect();
    if (now.left == wanted.left && now.top == wanted.top && now.right == wanted.right &&
        now.bottom == wanted.bottom)
        return;
    // The host window has no system menu to cut: the Close text is all that
    // stays of it.
    setCloseText(exitText);
}

void AppMainWindow::setCloseText(const std::u16string& text) { exitText = text; }

bool AppMainWindow::translateCharacter(char16_t character) {
    return gameCore.render && gameCore.render->stillFrames().inputBox.onChar(character);
}

bool ThisMainWindow::open(std::uintptr_t instanceHandle) {
    std::u16string text = u"Exit";
    localisedText("system.mm_exit", text);
    instance = instanceHandle;
    fullScreen = fullScreenFromVideo() ? 1 : 0;
    setCloseText(text);
    refreshTitle();
    placeCursorAtPointer();
    return true;
}

bool ThisMainWindow::screenPoint(std::int32_t px, std::int32_t py, float& x, float& y) const {
    const platform::WindowRect r = window ? window->rect() : platform::WindowRect{};
    const float width = static_cast<float>(r.right - r.left), height = static_cast<float>(r.bottom - r.top);
    if (!(width > 0.0f && height > 0.0f)) return false;
    const float shown = std::min(width, height * 4.0f / 3.0f);
    x = (static_cast<float>(px) - (width - shown) * 0.5f) * 1024.0f / shown;
    y = (static_cast<float>(py) - (height - shown * 0.75f) * 0.5f) * 768.0f / (shown * 0.75f);
    return true;
}

void ThisMainWindow::placeCursorAtPointer() {
    if (!gameCore.input) return;
    float x = 512.0f, y = 384.0f;
    std::int32_t px = 0, py = 0;
    if (window && window->pointerPosition(px, py)) screenPoint(px, py, x, y);
    gameCore.input->virtualDevices.pointer.set(x, y);
}

void ThisMainWindow::followPointer(std::int32_t px, std::int32_t py) {
    // Only a cursor in use follows: where the mouse turns a view (or does
    // nothing) the cursor stays where it was.
    if (!gameCore.input || !gameCore.input->virtualDevices.pointer.enabled) return;
    float x = 0.0f, y = 0.0f;
    if (screenPoint(px, py, x, y)) gameCore.input->virtualDevices.pointer.set(x, y);
}

void ThisMainWindow::refreshTitle() {
    std::u16string text = u"Game";
    localisedText("system.SF_ui_title", text);
    if (window) window->setTitle(toUtf8(text));
    title = text;
}

void ThisMainWindow::handleMessage(const platform::WindowMessage& message) {
    switch (message.kind) {
    case platform::WindowMessageKind::Close: {
        ScriptEventArgs args("game_close_window");
        gameCore.addScriptEvent(args, "Windows message close");
        break;
    }
    case platform::WindowMessageKind::Activate:
        active = message.active ? 1 : 0;
        if (window) window->showCursor(!(active && fullScreen));
        if (active) placeCursorAtPointer();
        break;
    case platform::WindowMessageKind::Character: translateCharacter(message.character); break;
    case platform::WindowMessageKind::DisplayChange:
        if (!fullScreen) fitToScreen();
        break;
    case platform::WindowMessageKind::PointerMove: followPointer(message.x, message.y); break;
    }
}

namespace {

bool createWindowOnce(ThisMainWindow& main) {
    if (!main.window) main.window = platform::createWindow();
    main.style = main.fullScreen ? kWindowStyleFullScreen : kWindowStyleWindowed;
    const platform::WindowRect r = main.wantedRect();
    if (main.window->create("Loading...", 0, 0, r.right - r.left, r.bottom - r.top, main.fullScreen != 0))
        return true;
    destroyMainWindow();
    engineLog().systemError("Window Creation Error.");
    return false;
}

}  // namespace

bool createMainWindow() {
    ThisMainWindow* main = gameCore.mainWindow;
    if (!main) return false;
    if (main->window && main->window->exists()) return true;
    if (!createWindowOnce(*main)) {
        // The player's settings may ask for what the display cannot give:
        // the safe video record takes over, so the game still starts.
        VideoCore* video = gameCore.video;
        if (!video || video->activeSetup == 0) return false;
        const VideoSetup& user = video->activeVideoSetup();
        const VideoSetup& safe = video->setups[0];
        engineLog().warning("Can't create the main window with the video settings %ix%i (%s): using the safe "
                            "video settings %ix%i (%s)",
                            user.res_width, user.res_height, user.windowMode ? "windowed" : "full screen",
                            safe.res_width, safe.res_height, safe.windowMode ? "windowed" : "full screen");
        video->activeSetup = 0;
        main->fullScreen = fullScreenFromVideo() ? 1 : 0;
        if (!createWindowOnce(*main)) return false;
    }
    // The cursor is hidden in both modes; full screen shows it again at the end.
    main->window->showCursor(false);
    main->deviceContext = 1;
    platform::installStopSignals();
    main->fitToScreen();
    return true;
}

void destroyMainWindow() {
    ThisMainWindow* main = gameCore.mainWindow;
    if (!main) return;
    if (main->window) {
        main->window->setTitle("");
        if (main->fullScreen) main->window->showCursor(true);
        main->window->destroy();
        main->window.reset();
    }
    main->deviceContext = 0;
    main->instance = 0;
}
