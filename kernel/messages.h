// Message formatting and the single exit path of the program.
// Depends on: resources (files, memory), dgl (shutdown), platform (window, exit).
#pragma once

#include "platform/win_types.h"

// Formats into one static 4096-byte buffer shared by every caller; supports
// %d, %x and %s only. Returns the buffer; the next call overwrites it.
const char* formatMessage(const char* format, ...);

// Writes the digits of value in base 10 or 16 without terminator; returns the count.
int formatInteger(char* destination, std::uint32_t value, int base);

// Logs and stops the music, logs and releases the AVI streams.
void freeStreams();

// Releases everything and ends the process. A message is shown in the error box
// and gives exit code 0xD34DB4B3; null is the normal end (46259).
[[noreturn]] void fatalExit(const char* message);

constexpr std::uint32_t EXIT_CODE_ERROR = 0xD34DB4B3u;
constexpr std::uint32_t EXIT_CODE_NORMAL = 0x0000B4B3u;

// The loading log (pimplog); 0 until the load sequence creates it.
extern FileHandle loadingLog;
