// The one window of the program, its message queue and the message box, in
// the shape the kernel was designed around: a registered class with a window
// procedure, a queue drained with platformPeekMessage/platformDispatchMessage,
// platformSendMessage and a default procedure.
//
// SDL events are translated when the queue is drained:
//   quit request, window close, Alt+F4  -> WM_CLOSE
//   key down (auto-repeat included)     -> WM_KEYDOWN, wParam = virtual-key
//                                          code (VK_ESCAPE 27, VK_SPACE 32,
//                                          'A'..'Z', '0'..'9', VK_F1.., ...)
// There is no TranslateMessage.
//
// Windows are SDL windows created with SDL_WINDOW_OPENGL (the OpenGL device
// makes its compatibility-profile context on them; see window_sdl.h). Full
// screen is a borderless window made at the size of the first display; the
// GL device scales the 640x480 picture into it with its aspect kept. On an
// X server whose window manager does not offer full-screen windows (none,
// or an old one) the window is placed past the manager, so it still covers
// the screen undecorated.
//
// A video driver that shows nothing (offscreen, dummy) is used only when
// SDL_VIDEODRIVER names it: with no display the window cannot be made.
// A window destroyed by another program queues WM_CLOSE, and the X errors
// that follow from it are dropped, so the show ends through its release path.
//
// Depends on: SDL2 (video), platform/win_types.h.
#pragma once

#include "platform/win_types.h"

constexpr UINT WM_CLOSE = 0x0010;
constexpr UINT WM_KEYDOWN = 0x0100;
constexpr UINT PM_REMOVE = 0x0001;

constexpr WPARAM VK_BACK = 0x08;
constexpr WPARAM VK_TAB = 0x09;
constexpr WPARAM VK_RETURN = 0x0D;
constexpr WPARAM VK_SHIFT = 0x10;
constexpr WPARAM VK_CONTROL = 0x11;
constexpr WPARAM VK_MENU = 0x12;
constexpr WPARAM VK_ESCAPE = 0x1B;
constexpr WPARAM VK_SPACE = 0x20;
constexpr WPARAM VK_LEFT = 0x25;
constexpr WPARAM VK_UP = 0x26;
constexpr WPARAM VK_RIGHT = 0x27;
constexpr WPARAM VK_DOWN = 0x28;
constexpr WPARAM VK_DELETE = 0x2E;
constexpr WPARAM VK_F1 = 0x70;
constexpr WPARAM VK_F4 = 0x73;

using WindowProcedure = LRESULT (*)(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

struct MSG {
    HWND hwnd;
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
};

// Class registration stand-in: binds a class name to a window procedure.
// busyCursor asks for the arrow-with-hourglass cursor over the window (the
// windowed mode's class cursor). Fails when the name is empty or already
// registered, or the procedure is null.
bool platformRegisterClass(const char* className, WindowProcedure procedure, bool busyCursor);
// False when the class is not registered.
bool platformUnregisterClass(const char* className);

// Creates a window of the given client size at the screen origin, not yet
// shown. className names a registered class (its procedure receives the
// window's messages) or is null for a window without procedure (messages go
// to platformDefWindowProc). fullscreen: a borderless desktop-size window.
// Returns null on failure (unknown class, SDL cannot make the window).
HWND platformCreateWindow(const char* className, const char* title, int clientWidth, int clientHeight,
                          bool fullscreen);

// For tests and tools that only render: a hidden window of the given client
// size with no class, ready for the OpenGL device (dglInit(window, 640, 480,
// false)). Works headless with SDL_VIDEODRIVER=offscreen. Destroy it with
// platformDestroyWindow. Null on failure.
HWND platformCreateRenderWindow(int clientWidth, int clientHeight);

void platformShowWindow(HWND window);   // show, raise and give it the keyboard focus
bool platformDestroyWindow(HWND window); // false for null; drops its queued messages
void platformHideCursor();               // hides the mouse pointer for the rest of the run

// Fullscreen flag and client size given at creation.
bool platformWindowIsFullscreen(HWND window);
void platformWindowClientSize(HWND window, int* width, int* height);

// Drains SDL's events into the queue, then takes the first queued message
// for `window` (null: any window). False when none is left. Only PM_REMOVE
// is supported (the message is always removed).
bool platformPeekMessage(MSG* message, HWND window, UINT filterMin, UINT filterMax, UINT remove);
// Calls the procedure of the message's window; platformDefWindowProc when it has none.
LRESULT platformDispatchMessage(const MSG* message);
// Calls the window's procedure directly, now.
LRESULT platformSendMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
// Appends a message to the queue (tests and drivers inject input with it).
bool platformPostMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
// The default procedure: does nothing and returns 0.
LRESULT platformDefWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// Writes "caption: text" as one line on standard error, always; shows a
// modal box as well only when a real display is present (never headless,
// never with SDL_VIDEODRIVER=offscreen or dummy), so it cannot hang a
// headless run.
void platformMessageBox(const char* caption, const char* text);
