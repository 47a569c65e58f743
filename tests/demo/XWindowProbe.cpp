// The end-to-end window test's view of the X display, from outside the game:
//
//   xwindowprobe find TITLE SECONDS
//       waits for a mapped window titled TITLE and prints
//       "window ID X Y WIDTH HEIGHT" (position on the screen) and
//       "screen WIDTH HEIGHT"
//   xwindowprobe shot FILE X Y WIDTH HEIGHT
//       takes a screenshot of the whole screen, writes it to FILE (binary
//       PPM) and prints what the given area holds:
//       "area PIXELS NONBLACK COLOURS", "mean R G B" and "centre R G B"
//       (the colour at the area's centre) and "red N" (how many of its pixels
//       are a strong red) and "pointer X Y N" (where the tip of the game's
//       pointer, its pink arrow, stands on the screen: the topmost, then
//       leftmost pixel of its pink inside the area, and how many pixels
//       show that pink) or "pointer none"
//   xwindowprobe workarea X Y WIDTH HEIGHT
//       sets the desktop's work area (_NET_WORKAREA on the root window) as a
//       desktop with panels does
//   xwindowprobe close ID
//       sends the window manager's close request (WM_DELETE_WINDOW) to the
//       window, as a player's click on the close box does
//   xwindowprobe key ID KEYSYM
//       gives the window the keyboard focus and presses and releases the
//       key (an X keysym name such as "Prior") through the XTEST extension,
//       as the player's keyboard does
//   xwindowprobe hold ID KEYSYM SECONDS
//       as key, the key held down for SECONDS before its release
//   xwindowprobe click ID BUTTON
//       moves the pointer to the window's centre and presses and releases
//       the mouse button (1 left, 2 middle, 3 right) through XTEST
//   xwindowprobe move ID X Y
//       moves the pointer to X, Y of the window through XTEST
//   xwindowprobe press ID BUTTON
//       presses and releases the mouse button where the pointer is
//   xwindowprobe nudge ID DX DY
//       moves the pointer by DX, DY through XTEST relative motion, in steps
//       of at most 20 pixels 10 ms apart (a game reading buffered mouse
//       motion once a frame loses none), as a player's mouse moves a
//       game's own cursor
//   xwindowprobe where
//       prints "at X Y", where the pointer stands on the screen
//   xwindowprobe type ID TEXT
//       gives the window the keyboard focus and presses and releases the
//       key of each letter or digit of TEXT in turn
//
// The display is the one DISPLAY names. Exit code 0 on success, 1 on a
// failure (reported on stderr), 2 on bad arguments.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>
#include <thread>

namespace {

// A window may vanish while the tree is walked: such errors are no failure.
int ignoreError(Display*, XErrorEvent*) { return 0; }

int fail(const char* what) {
    std::fprintf(stderr, "xwindowprobe: %s\n", what);
    return 1;
}

// The window's title: _NET_WM_NAME (UTF-8) if set, else WM_NAME.
std::string titleOf(Display* display, Window window) {
    const Atom netName = XInternAtom(display, "_NET_WM_NAME", False);
    const Atom utf8 = XInternAtom(display, "UTF8_STRING", False);
    Atom type = None;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    std::string title;
    if (XGetWindowProperty(display, window, netName, 0, 1024, False, utf8, &type, &format, &count, &after,
                           &data) == Success &&
        data) {
        if (type == utf8 && format == 8) title.assign(reinterpret_cast<char*>(data), count);
        XFree(data);
        if (!title.empty()) return title;
    }
    char* name = nullptr;
    if (XFetchName(display, window, &name) && name) {
        title = name;
        XFree(name);
    }
    return title;
}

// Depth-first search of the tree under `window` for a mapped window with
// the title (without a window manager the game's window is a child of the
// root; with one it sits inside a frame).
Window findTitled(Display* display, Window window, const std::string& title) {
    XWindowAttributes attributes;
    if (XGetWindowAttributes(display, window, &attributes) && attributes.map_state == IsViewable &&
        titleOf(display, window) == title)
        return window;
    Window root = 0, parent = 0;
    Window* children = nullptr;
    unsigned int count = 0;
    if (!XQueryTree(display, window, &root, &parent, &children, &count)) return 0;
    Window found = 0;
    for (unsigned int i = 0; i < count && !found; ++i) found = findTitled(display, children[i], title);
    if (children) XFree(children);
    return found;
}

int find(Display* display, const std::string& title, double seconds) {
    const Window root = DefaultRootWindow(display);
    const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    for (;;) {
        XSync(display, False);
        if (const Window window = findTitled(display, root, title)) {
            XWindowAttributes attributes;
            int x = 0, y = 0;
            Window child = 0;
            if (!XGetWindowAttributes(display, window, &attributes) ||
                !XTranslateCoordinates(display, window, root, 0, 0, &x, &y, &child))
                return fail("the window vanished while it was measured");
            std::printf("window %lu %d %d %d %d\n", static_cast<unsigned long>(window), x, y, attributes.width,
                        attributes.height);
            std::printf("screen %d %d\n", DisplayWidth(display, DefaultScreen(display)),
                        DisplayHeight(display, DefaultScreen(display)));
            return 0;
        }
        if (std::chrono::steady_clock::now() >= end) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    std::fprintf(stderr, "xwindowprobe: no mapped window titled [%s]\n", title.c_str());
    return 1;
}

// One channel of a pixel scaled to 0..255 from its mask.
unsigned channel(unsigned long pixel, unsigned long mask) {
    if (!mask) return 0;
    int shift = 0;
    while (!((mask >> shift) & 1)) ++shift;
    const unsigned long top = mask >> shift;
    return static_cast<unsigned>(((pixel & mask) >> shift) * 255 / top);
}

int shot(Display* display, const char* file, int ax, int ay, int aw, int ah) {
    const int screen = DefaultScreen(display);
    const int width = DisplayWidth(display, screen), height = DisplayHeight(display, screen);
    XImage* image = XGetImage(display, DefaultRootWindow(display), 0, 0, width, height, AllPlanes, ZPixmap);
    if (!image) return fail("the screen cannot be read");
    std::FILE* out = std::fopen(file, "wb");
    if (!out) {
        XDestroyImage(image);
        return fail("the screenshot file cannot be written");
    }
    std::fprintf(out, "P6\n%d %d\n255\n", width, height);
    std::uint64_t pixels = 0, nonBlack = 0, red = 0, sum[3] = {0, 0, 0};
    std::set<std::uint32_t> colours;
    std::uint32_t centre = 0;
    int tipX = -1, tipY = -1;
    std::uint64_t pink = 0;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const unsigned long pixel = XGetPixel(image, x, y);
            const unsigned rgb[3] = {channel(pixel, image->red_mask), channel(pixel, image->green_mask),
                                     channel(pixel, image->blue_mask)};
            const unsigned char bytes[3] = {static_cast<unsigned char>(rgb[0]), static_cast<unsigned char>(rgb[1]),
                                            static_cast<unsigned char>(rgb[2])};
            std::fwrite(bytes, 1, 3, out);
            if (x < ax || y < ay || x >= ax + aw || y >= ay + ah) continue;
            const std::uint32_t packed = rgb[0] << 16 | rgb[1] << 8 | rgb[2];
            if (x == ax + aw / 2 && y == ay + ah / 2) centre = packed;
            ++pixels;
            if (rgb[0] | rgb[1] | rgb[2]) ++nonBlack;
            // The demo's crates are painted a strong red nothing else shows;
            // lit by the harbour's light set it shows at about half strength.
            if (rgb[0] > 60 && rgb[0] > 2 * (rgb[1] + rgb[2])) ++red;
            // The pointer's pink (255, 80, 200); the rows are read from the
            // top, so the first pixel found is the tip.
            if (rgb[0] > 210 && rgb[1] < 140 && rgb[2] > 150 && rgb[2] < 245) {
                if (!pink++) {
                    tipX = x;
                    tipY = y;
                }
            }
            for (int c = 0; c < 3; ++c) sum[c] += rgb[c];
            if (colours.size() < 65536) colours.insert(packed);
        }
    }
    XDestroyImage(image);
    if (std::fclose(out) != 0) return fail("the screenshot file cannot be written");
    std::printf("area %llu %llu %zu\n", static_cast<unsigned long long>(pixels),
                static_cast<unsigned long long>(nonBlack), colours.size());
    const std::uint64_t n = pixels ? pixels : 1;
    std::printf("mean %llu %llu %llu\n", static_cast<unsigned long long>(sum[0] / n),
                static_cast<unsigned long long>(sum[1] / n), static_cast<unsigned long long>(sum[2] / n));
    std::printf("centre %u %u %u\n", centre >> 16, centre >> 8 & 255, centre & 255);
    std::printf("red %llu\n", static_cast<unsigned long long>(red));
    if (pink)
        std::printf("pointer %d %d %llu\n", tipX, tipY, static_cast<unsigned long long>(pink));
    else
        std::printf("pointer none\n");
    return 0;
}

int workArea(Display* display, const long (&area)[4]) {
    const Window root = DefaultRootWindow(display);
    XChangeProperty(display, root, XInternAtom(display, "_NET_WORKAREA", False), XA_CARDINAL, 32, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(area), 4);
    XSync(display, False);
    return 0;
}

int close(Display* display, Window window) {
    XEvent event = {};
    event.xclient.type = ClientMessage;
    event.xclient.window = window;
    event.xclient.message_type = XInternAtom(display, "WM_PROTOCOLS", False);
    event.xclient.format = 32;
    event.xclient.data.l[0] = static_cast<long>(XInternAtom(display, "WM_DELETE_WINDOW", False));
    event.xclient.data.l[1] = CurrentTime;
    if (!XSendEvent(display, window, False, NoEventMask, &event)) return fail("the close request was not sent");
    XSync(display, False);
    return 0;
}

bool xtest(Display* display) {
    int event = 0, error = 0, major = 0, minor = 0;
    return XTestQueryExtension(display, &event, &error, &major, &minor);
}

// Lets the preparation (focus, pointer) reach the window, then sends the
// press and, a tenth of a second later, the release: the game sees them in
// different frames, well inside its double-press and hold limits.
template <class Send>
int pressAndRelease(Display* display, Send send) {
    for (const bool down : {true, false}) {
        XSync(display, False);
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        send(down ? True : False);
    }
    XSync(display, False);
    return 0;
}

int key(Display* display, Window window, const char* name) {
    if (!xtest(display)) return fail("the display has no XTEST extension");
    const KeySym symbol = XStringToKeysym(name);
    const KeyCode code = symbol == NoSymbol ? 0 : XKeysymToKeycode(display, symbol);
    if (!code) return fail("the key has no key code");
    XSetInputFocus(display, window, RevertToParent, CurrentTime);
    return pressAndRelease(display, [&](Bool down) { XTestFakeKeyEvent(display, code, down, CurrentTime); });
}

int hold(Display* display, Window window, const char* name, double seconds) {
    if (!xtest(display)) return fail("the display has no XTEST extension");
    const KeySym symbol = XStringToKeysym(name);
    const KeyCode code = symbol == NoSymbol ? 0 : XKeysymToKeycode(display, symbol);
    if (!code) return fail("the key has no key code");
    if (!(seconds > 0.0 && seconds < 60.0)) return fail("the hold lasts from 0 to 60 seconds");
    XSetInputFocus(display, window, RevertToParent, CurrentTime);
    XSync(display, False);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    XTestFakeKeyEvent(display, code, True, CurrentTime);
    XSync(display, False);
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
    XTestFakeKeyEvent(display, code, False, CurrentTime);
    XSync(display, False);
    return 0;
}

// Moves the pointer to (x, y) of the window; negative x or y: its centre.
bool movePointer(Display* display, Window window, int x, int y) {
    XWindowAttributes attributes;
    if (!XGetWindowAttributes(display, window, &attributes)) return false;
    if (x < 0 || y < 0) {
        x = attributes.width / 2;
        y = attributes.height / 2;
    }
    int rootX = 0, rootY = 0;
    Window child = 0;
    XTranslateCoordinates(display, window, DefaultRootWindow(display), x, y, &rootX, &rootY, &child);
    XTestFakeMotionEvent(display, -1, rootX, rootY, CurrentTime);
    XSync(display, False);
    return true;
}

int move(Display* display, Window window, int x, int y) {
    if (!xtest(display)) return fail("the display has no XTEST extension");
    return movePointer(display, window, x, y) ? 0 : fail("the window is gone");
}

int click(Display* display, Window window, unsigned button, int x = -1, int y = -1) {
    if (!xtest(display)) return fail("the display has no XTEST extension");
    if (!movePointer(display, window, x, y)) return fail("the window is gone");
    return pressAndRelease(display, [&](Bool down) { XTestFakeButtonEvent(display, button, down, CurrentTime); });
}

int press(Display* display, unsigned button) {
    if (!xtest(display)) return fail("the display has no XTEST extension");
    return pressAndRelease(display, [&](Bool down) { XTestFakeButtonEvent(display, button, down, CurrentTime); });
}

int type(Display* display, Window window, const char* text) {
    for (const char* c = text; *c; ++c) {
        const char name[2] = {*c, 0};
        if (const int result = key(display, window, name)) return result;
    }
    return 0;
}

// Relative motions in steps of at most 20 pixels 10 ms apart, each given
// time to reach the game as a motion of its own (a game reading buffered
// mouse motion once a frame loses none).
void moveBy(Display* display, int dx, int dy) {
    while (dx != 0 || dy != 0) {
        const int sx = dx > 20 ? 20 : (dx < -20 ? -20 : dx);
        const int sy = dy > 20 ? 20 : (dy < -20 ? -20 : dy);
        XTestFakeRelativeMotionEvent(display, sx, sy, CurrentTime);
        XSync(display, False);
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        dx -= sx;
        dy -= sy;
    }
}

int nudge(Display* display, Window window, int dx, int dy) {
    if (!xtest(display)) return fail("the display has no XTEST extension");
    XWindowAttributes attributes;
    if (!XGetWindowAttributes(display, window, &attributes)) return fail("the window is gone");
    moveBy(display, dx, dy);
    return 0;
}

int where(Display* display) {
    Window root = 0, child = 0;
    int rootX = 0, rootY = 0, x = 0, y = 0;
    unsigned int mask = 0;
    if (!XQueryPointer(display, DefaultRootWindow(display), &root, &child, &rootX, &rootY, &x, &y, &mask))
        return fail("the pointer is on another screen");
    std::printf("at %d %d\n", rootX, rootY);
    return 0;
}

// The window's states for the window manager (_NET_WM_STATE), one line
// each: "state NAME"; "state none" without any.
int states(Display* display, Window window) {
    const Atom property = XInternAtom(display, "_NET_WM_STATE", False);
    Atom type = 0;
    int format = 0;
    unsigned long count = 0, left = 0;
    unsigned char* data = nullptr;
    if (XGetWindowProperty(display, window, property, 0, 64, False, XA_ATOM, &type, &format, &count, &left, &data) !=
        Success)
        return fail("the window's states cannot be read");
    const auto* atoms = reinterpret_cast<const Atom*>(data);
    for (unsigned long i = 0; type == XA_ATOM && format == 32 && i < count; ++i) {
        char* name = XGetAtomName(display, atoms[i]);
        std::printf("state %s\n", name ? name : "?");
        if (name) XFree(name);
    }
    if (type != XA_ATOM || count == 0) std::printf("state none\n");
    if (data) XFree(data);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string command = argc > 1 ? argv[1] : "";
    const bool known = (command == "find" && argc == 4) || (command == "shot" && argc == 7) ||
                       (command == "workarea" && argc == 6) ||
                       (command == "close" && argc == 3) || (command == "key" && argc == 4) ||
                       (command == "hold" && argc == 5) ||
                       (command == "click" && argc == 4) || (command == "move" && argc == 5) ||
                       (command == "type" && argc == 4) ||
                       (command == "nudge" && argc == 5) || (command == "press" && argc == 4) ||
                       (command == "where" && argc == 2) || (command == "states" && argc == 3);
    if (!known) {
        std::fprintf(stderr,
                     "usage: xwindowprobe find TITLE SECONDS | shot FILE X Y WIDTH HEIGHT | "
                     "workarea X Y WIDTH HEIGHT | close ID | key ID KEYSYM | hold ID KEYSYM SECONDS | "
                     "click ID BUTTON | move ID X Y | type ID TEXT | nudge ID DX DY | "
                     "press ID BUTTON | where | states ID\n");
        return 2;
    }
    Display* display = XOpenDisplay(nullptr);
    if (!display) return fail("the display cannot be opened");
    XSetErrorHandler(ignoreError);
    int result = 0;
    if (command == "find") {
        result = find(display, argv[2], std::atof(argv[3]));
    } else if (command == "shot") {
        result = shot(display, argv[2], std::atoi(argv[3]), std::atoi(argv[4]), std::atoi(argv[5]),
                      std::atoi(argv[6]));
    } else if (command == "workarea") {
        const long area[4] = {std::atol(argv[2]), std::atol(argv[3]), std::atol(argv[4]), std::atol(argv[5])};
        result = workArea(display, area);
    } else if (command == "key") {
        result = key(display, static_cast<Window>(std::strtoul(argv[2], nullptr, 10)), argv[3]);
    } else if (command == "hold") {
        result = hold(display, static_cast<Window>(std::strtoul(argv[2], nullptr, 10)), argv[3], std::atof(argv[4]));
    } else if (command == "click") {
        result = click(display, static_cast<Window>(std::strtoul(argv[2], nullptr, 10)),
                       static_cast<unsigned>(std::atoi(argv[3])));
    } else if (command == "move") {
        result = move(display, static_cast<Window>(std::strtoul(argv[2], nullptr, 10)), std::atoi(argv[3]),
                      std::atoi(argv[4]));
    } else if (command == "press") {
        result = press(display, static_cast<unsigned>(std::atoi(argv[3])));
    } else if (command == "nudge") {
        result = nudge(display, static_cast<Window>(std::strtoul(argv[2], nullptr, 10)), std::atoi(argv[3]),
                       std::atoi(argv[4]));
    } else if (command == "where") {
        result = where(display);
    } else if (command == "states") {
        result = states(display, static_cast<Window>(std::strtoul(argv[2], nullptr, 10)));
    } else if (command == "type") {
        result = type(display, static_cast<Window>(std::strtoul(argv[2], nullptr, 10)), argv[3]);
    } else {
        result = close(display, static_cast<Window>(std::strtoul(argv[2], nullptr, 10)));
    }
    XCloseDisplay(display);
    return result;
}
