// SDL2 window, message queue and message box behind platform/window.h.
// Depends on: SDL2 (video, events, message box).
#include "platform/window.h"
#include "platform/sdl/window_sdl.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

struct PlatformWindow {
    bool inUse;
    SDL_Window* sdl;
    Uint32 sdlId;
    WindowProcedure procedure;
    bool fullscreen;
    int clientWidth;
    int clientHeight;
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

WindowClass* findClass(const char* name)
{
    for (int i = 0; i < classCount; i++)
        if (std::strcmp(classes[i].name, name) == 0)
            return &classes[i];
    return nullptr;
}

bool videoReady()
{
    if (SDL_WasInit(SDL_INIT_VIDEO) != 0)
        return true;
    return SDL_InitSubSystem(SDL_INIT_VIDEO) == 0;
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
}

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
    if (fullscreen)
        flags |= SDL_WINDOW_FULLSCREEN_DESKTOP | SDL_WINDOW_BORDERLESS;
    SDL_Window* sdl = SDL_CreateWindow(title != nullptr ? title : "", 0, 0, width, height, flags);
    if (sdl == nullptr)
        return nullptr;
    *slot = PlatformWindow{true, sdl, SDL_GetWindowID(sdl), procedure, fullscreen, width, height};
    if (busyCursor && !hidden) {
        if (busyCursorShape == nullptr)
            busyCursorShape = SDL_CreateSystemCursor(SDL_SYSTEM_CURSOR_WAITARROW);
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

void platformMessageBox(const char* caption, const char* text)
{
    std::fprintf(stderr, "%s: %s\n", caption != nullptr ? caption : "", text != nullptr ? text : "");
    std::fflush(stderr);
    if (realDisplay())
        SDL_ShowSimpleMessageBox(SDL_MESSAGEBOX_ERROR, caption, text, nullptr);
}
