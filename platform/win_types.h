// Plain integer and handle types shared by the kernel, the renderer and the
// platform layer. They keep the original program's vocabulary (DWORD, HWND,
// HRESULT) so the code above the platform layer reads like its design notes.
#pragma once

#include <cstdint>

using BYTE = std::uint8_t;
using WORD = std::uint16_t;
using DWORD = std::uint32_t;
using UINT = std::uint32_t;
using ULONG = std::uint32_t;
using BOOL = std::int32_t;
using LONG = std::int32_t;
using HRESULT = std::int32_t;
using WPARAM = std::uintptr_t;
using LPARAM = std::intptr_t;
using LRESULT = std::intptr_t;

#ifndef TRUE
#define TRUE 1
#endif
#ifndef FALSE
#define FALSE 0
#endif

// The one window of the program; owned by platform/window.
struct PlatformWindow;
using HWND = PlatformWindow*;

// File handles of the file manager are small positive integers (POSIX file
// descriptors offset so that 0 is never a valid handle).
using FileHandle = std::uint32_t;

constexpr HRESULT S_OK = 0;
constexpr HRESULT E_FAIL = static_cast<HRESULT>(0x80004005u);
inline bool FAILED(HRESULT hr) { return hr < 0; }
inline bool SUCCEEDED(HRESULT hr) { return hr >= 0; }
