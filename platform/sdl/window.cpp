// SDL2 window, message queue and message box behind platform/window.h.
// On an X server a little Xlib besides SDL: whether the window manager can
// make a window full screen, and X errors about a window that another
// program destroyed, which would otherwise end the process.
// The browser build has no X server (its window is the page's canvas) and
// shows its message box in the page (platform/web).
// Depends on: SDL2 (video, events, message box, window-system info), Xlib.
#include "platform/window.h"
#include "platform/sdl/window_sdl.h"

#ifndef __EMSCRIPTEN__
#define GFXCORE_WINDOW_X11 1
#include <SDL2/SDL_syswm.h>
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#endif

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

struct PlatformWindow {
    bool inUse;
    SDL_Window* sdl;
    Uint32 sdlId;
    WindowProcedure procedure;
    bool fullscreen;
    int clientWidth;
    int clientHeight;
    unsigned long x11Id; // the X window, 0 on other drivers; kept after destruction
    bool lost;           // destroyed behind our back: only the release path may follow
    bool lostReported;   // its WM_CLOSE is queued
};

namespace {

struct WindowClass {
    char name[64];
    WindowProcedure procedure;
    bool busyCursor;
};

constexpr int MAX_CLASSES = 8;
constexpr int MAX_WINDOWS = 8;
constexpr int MAX_QUEUED = 256;

// Written only by this file.
WindowClass classes[MAX_CLASSES];
int classCount = 0;
PlatformWindow windows[MAX_WINDOWS];
MSG queue[MAX_QUEUED];
int queueCount = 0;
SDL_Cursor* busyCursorShape = nullptr;
#ifdef GFXCORE_WINDOW_X11
XErrorHandler previousX11ErrorHandler = nullptr;
bool x11ErrorHandlerInstalled = false;
#endif

// The arrow with the small hourglass: 'X' outline, '.' fill, ' ' clear.
// The X cursor font has only a watch, and cursor themes are not on every
// machine (a bare X server has none), so the shape is drawn here.
constexpr int BUSY_CURSOR_SIZE = 24;
constexpr const char* BUSY_CURSOR_ROWS[BUSY_CURSOR_SIZE] = {
    "X                       ",
    "XX                      ",
    "X.X                     ",
    "X..X                    ",
    "X...X                   ",
    "X....X                  ",
    "X.....X                 ",
    "X......X                ",
    "X.......X               ",
    "X........X              ",
    "X.....XXXXX             ",
    "X..X..X                 ",
    "X.X X..X   XXXXXXXXX    ",
    "XX  X..X   X.......X    ",
    "X    X..X   X.....X     ",
    "     X..X    X...X      ",
    "      XX      X.X       ",
    "              X.X       ",
    "             X...X      ",
    "            X..X..X     ",
    "           X..XXX..X    ",
    "           XXXXXXXXX    ",
    "                        ",
    "                        ",
};

WindowClass* findClass(const char* name)
{
    for (int i = 0; i < classCount; i++)
        if (std::strcmp(classes[i].name, name) == 0)
            return &classes[i];
    return nullptr;
}

bool driverIs(const char* name)
{
    const char* driver = SDL_WasInit(SDL_INIT_VIDEO) != 0 ? SDL_GetCurrentVideoDriver() : nullptr;
    return driver != nullptr && std::strcmp(driver, name) == 0;
}

// True when SDL_VIDEODRIVER lists `name` (it may hold several, comma-separated).
bool driverAskedFor(const char* name)
{
    const char* asked = std::getenv("SDL_VIDEODRIVER");
    std::size_t length = std::strlen(name);
    for (const char* at = asked; at != nullptr && *at != 0;) {
        const char* comma = std::strchr(at, ',');
        std::size_t itemLength = comma != nullptr ? static_cast<std::size_t>(comma - at) : std::strlen(at);
        if (itemLength == length && SDL_strncasecmp(at, name, length) == 0)
            return true;
        at = comma != nullptr ? comma + 1 : nullptr;
    }
    return false;
}

#ifdef GFXCORE_WINDOW_X11
// Errors about one of our X windows after it was destroyed by someone else
// (BadWindow, BadDrawable, GLXBadDrawable from the present) mark it lost and
// are dropped; the show then leaves through its release path. Every other
// error goes on to the handler that was there before (SDL's).
int x11ErrorHandler(Display* display, XErrorEvent* error)
{
    // Codes from 128 on are an extension's own (GLX's bad drawable).
    bool gone = error->error_code == BadWindow || error->error_code == BadDrawable || error->error_code >= 128;
    for (PlatformWindow& window : windows) {
        if (window.x11Id != 0 && error->resourceid == window.x11Id && (gone || window.lost)) {
            window.lost = true;
            return 0;
        }
    }
    return previousX11ErrorHandler != nullptr ? previousX11ErrorHandler(display, error) : 0;
}
#endif

bool videoReady()
{
    if (SDL_WasInit(SDL_INIT_VIDEO) != 0)
        return true;
    if (SDL_InitSubSystem(SDL_INIT_VIDEO) != 0)
        return false;
    // With no display SDL settles for a driver that draws nowhere; the show
    // would then play unseen. Those drivers serve only who asks for them.
    for (const char* invisible : {"offscreen", "dummy", "evdev"}) {
        if (driverIs(invisible) && !driverAskedFor(invisible)) {
            SDL_QuitSubSystem(SDL_INIT_VIDEO);
            SDL_SetError("no display");
            return false;
        }
    }
#ifdef GFXCORE_WINDOW_X11
    if (driverIs("x11") && !x11ErrorHandlerInstalled) {
        previousX11ErrorHandler = XSetErrorHandler(x11ErrorHandler);
        x11ErrorHandlerInstalled = true;
        SDL_EventState(SDL_SYSWMEVENT, SDL_ENABLE);
    }
#endif
    return true;
}

#ifdef GFXCORE_WINDOW_X11
// Whether a window manager that follows the freedesktop.org hints runs and
// can make a window full screen. Without one (a bare X server) nobody grows
// the window; a manager that ignores the request (twm) would leave it
// decorated at its first size.
bool x11ManagerDoesFullscreen()
{
    Display* display = XOpenDisplay(nullptr);
    if (display == nullptr)
        return false;
    Window root = DefaultRootWindow(display);
    auto property = [&](const char* name, Atom type, unsigned long* count) -> unsigned char* {
        Atom actualType = None;
        int format = 0;
        unsigned long after = 0;
        unsigned char* data = nullptr;
        *count = 0;
        if (XGetWindowProperty(display, root, XInternAtom(display, name, False), 0, 4096, False, type, &actualType,
                               &format, count, &after, &data) != Success ||
            actualType != type || format != 32) {
            if (data != nullptr)
                XFree(data);
            *count = 0;
            return nullptr;
        }
        return data;
    };
    bool fullscreen = false;
    unsigned long count = 0;
    unsigned char* check = property("_NET_SUPPORTING_WM_CHECK", XA_WINDOW, &count);
    if (check != nullptr) {
        XFree(check);
        unsigned char* supported = property("_NET_SUPPORTED", XA_ATOM, &count);
        Atom wanted = XInternAtom(display, "_NET_WM_STATE_FULLSCREEN", False);
        const Atom* atoms = reinterpret_cast<const Atom*>(supported);
        for (unsigned long i = 0; atoms != nullptr && i < count; i++)
            fullscreen = fullscreen || atoms[i] == wanted;
        if (supported != nullptr)
            XFree(supported);
    }
    XCloseDisplay(display);
    return fullscreen;
}

unsigned long x11WindowId(SDL_Window* sdl)
{
    SDL_SysWMinfo info;
    SDL_VERSION(&info.version);
    if (SDL_GetWindowWMInfo(sdl, &info) != SDL_TRUE || info.subsystem != SDL_SYSWM_X11)
        return 0;
    return info.info.x11.window;
}
#else
bool x11ManagerDoesFullscreen() { return false; }
unsigned long x11WindowId(SDL_Window*) { return 0; }
#endif

SDL_Cursor* makeBusyCursor()
{
    SDL_Surface* image = SDL_CreateRGBSurfaceWithFormat(0, BUSY_CURSOR_SIZE, BUSY_CURSOR_SIZE, 32,
                                                        SDL_PIXELFORMAT_ARGB8888);
    if (image == nullptr)
        return SDL_CreateSystemCursor(SDL_SYSTEM_CURSOR_WAITARROW);
    for (int y = 0; y < BUSY_CURSOR_SIZE; y++) {
        Uint32* row = reinterpret_cast<Uint32*>(static_cast<Uint8*>(image->pixels) + y * image->pitch);
        for (int x = 0; x < BUSY_CURSOR_SIZE; x++) {
            char cell = BUSY_CURSOR_ROWS[y][x];
            row[x] = cell == 'X' ? 0xFF000000u : (cell == '.' ? 0xFFFFFFFFu : 0u);
        }
    }
    SDL_Cursor* cursor = SDL_CreateColorCursor(image, 0, 0);
    SDL_FreeSurface(image);
    return cursor != nullptr ? cursor : SDL_CreateSystemCursor(SDL_SYSTEM_CURSOR_WAITARROW);
}

HWND windowForSdlId(Uint32 id)
{
    for (PlatformWindow& window : windows)
        if (window.inUse && window.sdlId == id)
            return &window;
    return nullptr;
}

HWND firstWindow()
{
    for (PlatformWindow& window : windows)
        if (window.inUse)
            return &window;
    return nullptr;
}

bool liveWindow(HWND window)
{
    return window != nullptr && window >= windows && window < windows + MAX_WINDOWS && window->inUse;
}

void enqueue(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (window == nullptr || queueCount == MAX_QUEUED)
        return; // a flood of input beyond the queue is dropped, as a full system queue would
    queue[queueCount++] = MSG{window, message, wParam, lParam};
}

// Virtual-key code of an SDL key; 0 for keys without one.
WPARAM virtualKey(SDL_Keycode key)
{
    if (key >= SDLK_a && key <= SDLK_z)
        return 'A' + (key - SDLK_a);
    if (key >= SDLK_0 && key <= SDLK_9)
        return '0' + (key - SDLK_0);
    if (key >= SDLK_F1 && key <= SDLK_F12)
        return VK_F1 + (key - SDLK_F1);
    switch (key) {
    case SDLK_ESCAPE: return VK_ESCAPE;
    case SDLK_SPACE: return VK_SPACE;
    case SDLK_RETURN: return VK_RETURN;
    case SDLK_KP_ENTER: return VK_RETURN;
    case SDLK_BACKSPACE: return VK_BACK;
    case SDLK_TAB: return VK_TAB;
    case SDLK_LSHIFT:
    case SDLK_RSHIFT: return VK_SHIFT;
    case SDLK_LCTRL:
    case SDLK_RCTRL: return VK_CONTROL;
    case SDLK_LALT:
    case SDLK_RALT: return VK_MENU;
    case SDLK_LEFT: return VK_LEFT;
    case SDLK_UP: return VK_UP;
    case SDLK_RIGHT: return VK_RIGHT;
    case SDLK_DOWN: return VK_DOWN;
    case SDLK_DELETE: return VK_DELETE;
    default: return 0;
    }
}

void translate(const SDL_Event& event)
{
    switch (event.type) {
    case SDL_QUIT:
        enqueue(firstWindow(), WM_CLOSE, 0, 0);
        break;
    case SDL_WINDOWEVENT:
        if (event.window.event == SDL_WINDOWEVENT_CLOSE)
            enqueue(windowForSdlId(event.window.windowID), WM_CLOSE, 0, 0);
        break;
#ifdef GFXCORE_WINDOW_X11
    case SDL_SYSWMEVENT:
        if (event.syswm.msg != nullptr && event.syswm.msg->subsystem == SDL_SYSWM_X11 &&
            event.syswm.msg->msg.x11.event.type == DestroyNotify) {
            unsigned long gone = event.syswm.msg->msg.x11.event.xdestroywindow.window;
            for (PlatformWindow& window : windows)
                if (window.inUse && window.x11Id == gone)
                    window.lost = true;
        }
        break;
#endif
    case SDL_KEYDOWN: {
        HWND window = windowForSdlId(event.key.windowID);
        if (window == nullptr)
            window = firstWindow();
        SDL_Keycode key = event.key.keysym.sym;
        if (key == SDLK_F4 && (event.key.keysym.mod & KMOD_ALT) != 0) {
            enqueue(window, WM_CLOSE, 0, 0);
            break;
        }
        WPARAM code = virtualKey(key);
        if (code == 0)
            break;
        // lParam as the original: repeat count 1, bit 30 set for an auto-repeat.
        LPARAM lParam = 1 | (event.key.repeat != 0 ? (LPARAM(1) << 30) : 0);
        enqueue(window, WM_KEYDOWN, code, lParam);
        break;
    }
    default:
        break;
    }
}

void pumpSdlEvents()
{
    if (SDL_WasInit(SDL_INIT_VIDEO) == 0)
        return;
    SDL_Event event;
    while (SDL_PollEvent(&event) != 0)
        translate(event);
    // A window that is gone can only be closed: once, like a close request.
    for (PlatformWindow& window : windows) {
        if (window.inUse && window.lost && !window.lostReported) {
            window.lostReported = true;
            enqueue(&window, WM_CLOSE, 0, 0);
        }
    }
}

#ifndef __EMSCRIPTEN__
bool realDisplay()
{
    const char* driver = SDL_WasInit(SDL_INIT_VIDEO) != 0 ? SDL_GetCurrentVideoDriver() : nullptr;
    if (driver == nullptr)
        driver = std::getenv("SDL_VIDEODRIVER");
    if (driver != nullptr && (std::strcmp(driver, "offscreen") == 0 || std::strcmp(driver, "dummy") == 0 ||
                              std::strcmp(driver, "evdev") == 0))
        return false;
    const char* x11 = std::getenv("DISPLAY");
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    return (x11 != nullptr && x11[0] != 0) || (wayland != nullptr && wayland[0] != 0);
}
#endif

HWND createWindow(WindowProcedure procedure, bool busyCursor, const char* title, int width, int height,
                  bool fullscreen, bool hidden)
{
    if (width <= 0 || height <= 0 || !videoReady())
        return nullptr;
    PlatformWindow* slot = nullptr;
    for (PlatformWindow& window : windows)
        if (!window.inUse) {
            slot = &window;
            break;
        }
    if (slot == nullptr)
        return nullptr;
    Uint32 flags = SDL_WINDOW_OPENGL | SDL_WINDOW_HIDDEN;
    int x = 0, y = 0, windowWidth = width, windowHeight = height;
    bool overrideManager = false;
    if (fullscreen) {
        // Full screen is a borderless window over the whole first display.
        // It is made at that size from the start: with no window manager, or
        // one that ignores the full-screen request, nothing would grow it.
        SDL_Rect screen{0, 0, width, height};
        if (SDL_GetDisplayBounds(0, &screen) == 0 && screen.w > 0 && screen.h > 0) {
            x = screen.x;
            y = screen.y;
            windowWidth = screen.w;
            windowHeight = screen.h;
        }
        flags |= SDL_WINDOW_BORDERLESS;
        // A manager that can is asked for full screen (it then keeps panels
        // and other windows off it); otherwise the window bypasses the
        // manager, so none can frame or move it.
        if (driverIs("x11") && !x11ManagerDoesFullscreen())
            overrideManager = true;
        else
            flags |= SDL_WINDOW_FULLSCREEN_DESKTOP;
    }
    if (overrideManager)
        SDL_SetHint(SDL_HINT_X11_FORCE_OVERRIDE_REDIRECT, "1");
    SDL_Window* sdl = SDL_CreateWindow(title != nullptr ? title : "", x, y, windowWidth, windowHeight, flags);
    if (overrideManager)
        SDL_SetHint(SDL_HINT_X11_FORCE_OVERRIDE_REDIRECT, "0");
    if (sdl == nullptr)
        return nullptr;
    *slot = PlatformWindow{true, sdl, SDL_GetWindowID(sdl), procedure, fullscreen, width, height, 0, false, false};
    slot->x11Id = x11WindowId(sdl);
    if (busyCursor && !hidden) {
        if (busyCursorShape == nullptr)
            busyCursorShape = makeBusyCursor();
        if (busyCursorShape != nullptr)
            SDL_SetCursor(busyCursorShape);
    }
    return slot;
}

} // namespace

SDL_Window* platformSdlWindow(HWND window) { return liveWindow(window) ? window->sdl : nullptr; }

bool platformRegisterClass(const char* className, WindowProcedure procedure, bool busyCursor)
{
    if (className == nullptr || className[0] == 0 || procedure == nullptr || classCount == MAX_CLASSES ||
        std::strlen(className) >= sizeof(classes[0].name) || findClass(className) != nullptr)
        return false;
    WindowClass& entry = classes[classCount++];
    std::strcpy(entry.name, className);
    entry.procedure = procedure;
    entry.busyCursor = busyCursor;
    return true;
}

bool platformUnregisterClass(const char* className)
{
    WindowClass* entry = className != nullptr ? findClass(className) : nullptr;
    if (entry == nullptr)
        return false;
    *entry = classes[--classCount];
    return true;
}

HWND platformCreateWindow(const char* className, const char* title, int clientWidth, int clientHeight,
                          bool fullscreen)
{
    WindowProcedure procedure = nullptr;
    bool busyCursor = false;
    if (className != nullptr) {
        const WindowClass* entry = findClass(className);
        if (entry == nullptr)
            return nullptr;
        procedure = entry->procedure;
        busyCursor = entry->busyCursor;
    }
    return createWindow(procedure, busyCursor, title, clientWidth, clientHeight, fullscreen, false);
}

HWND platformCreateRenderWindow(int clientWidth, int clientHeight)
{
    return createWindow(nullptr, false, "gfxcore", clientWidth, clientHeight, false, true);
}

void platformShowWindow(HWND window)
{
    if (!liveWindow(window))
        return;
    SDL_ShowWindow(window->sdl);
    SDL_RaiseWindow(window->sdl);
    // A window beside the manager gets no focus from it: take the keyboard.
    if (window->fullscreen && (SDL_GetWindowFlags(window->sdl) & SDL_WINDOW_FULLSCREEN_DESKTOP) !=
                                  SDL_WINDOW_FULLSCREEN_DESKTOP)
        SDL_SetWindowInputFocus(window->sdl);
}

bool platformDestroyWindow(HWND window)
{
    if (!liveWindow(window))
        return false;
    SDL_DestroyWindow(window->sdl);
    window->inUse = false;
    window->sdl = nullptr;
    int kept = 0;
    for (int i = 0; i < queueCount; i++)
        if (queue[i].hwnd != window)
            queue[kept++] = queue[i];
    queueCount = kept;
    return true;
}

void platformHideCursor()
{
    if (SDL_WasInit(SDL_INIT_VIDEO) != 0)
        SDL_ShowCursor(SDL_DISABLE);
}

bool platformWindowIsFullscreen(HWND window) { return liveWindow(window) && window->fullscreen; }

void platformWindowClientSize(HWND window, int* width, int* height)
{
    int w = liveWindow(window) ? window->clientWidth : 0;
    int h = liveWindow(window) ? window->clientHeight : 0;
    if (width != nullptr)
        *width = w;
    if (height != nullptr)
        *height = h;
}

bool platformPeekMessage(MSG* message, HWND window, UINT filterMin, UINT filterMax, UINT)
{
    pumpSdlEvents();
    for (int i = 0; i < queueCount; i++) {
        const MSG& queued = queue[i];
        if (window != nullptr && queued.hwnd != window)
            continue;
        if ((filterMin != 0 || filterMax != 0) && (queued.message < filterMin || queued.message > filterMax))
            continue;
        *message = queued;
        for (int j = i + 1; j < queueCount; j++)
            queue[j - 1] = queue[j];
        queueCount--;
        return true;
    }
    return false;
}

LRESULT platformDispatchMessage(const MSG* message)
{
    if (message == nullptr)
        return 0;
    return platformSendMessage(message->hwnd, message->message, message->wParam, message->lParam);
}

LRESULT platformSendMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (liveWindow(window) && window->procedure != nullptr)
        return window->procedure(window, message, wParam, lParam);
    return platformDefWindowProc(window, message, wParam, lParam);
}

bool platformPostMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (!liveWindow(window) || queueCount == MAX_QUEUED)
        return false;
    enqueue(window, message, wParam, lParam);
    return true;
}

LRESULT platformDefWindowProc(HWND, UINT, WPARAM, LPARAM) { return 0; }

#ifndef __EMSCRIPTEN__
void platformMessageBox(const char* caption, const char* text)
{
    std::fprintf(stderr, "%s: %s\n", caption != nullptr ? caption : "", text != nullptr ? text : "");
    std::fflush(stderr);
    if (realDisplay())
        SDL_ShowSimpleMessageBox(SDL_MESSAGEBOX_ERROR, caption, text, nullptr);
}
#endif
