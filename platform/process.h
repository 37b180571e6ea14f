// Process end for every driver (show, capture, bench, tests).
// fatalExit (kernel/messages.cpp) finishes its release steps and then calls
// platformExitProcess, which runs the driver's before-exit hook and ends the
// process, mapping the program's exit codes to POSIX statuses: the normal end
// (46259) to 0, the error end (0xD34DB4B3) to 1. Tests install an exit
// handler that unwinds (throws) instead of ending the process.
#pragma once

#include <cstdint>

using PlatformBeforeExit = void (*)();
using PlatformExitHandler = void (*)(std::uint32_t code, const char* message); // must not return

void platformSetBeforeExit(PlatformBeforeExit hook);
void platformSetExitHandler(PlatformExitHandler handler);

// Status for an exit code: 0 for 46259, 1 for 0xD34DB4B3, else the low 8 bits.
int platformExitStatus(std::uint32_t code);

// message is what the error box showed (or null); passed on to the handler.
[[noreturn]] void platformExitProcess(std::uint32_t code, const char* message);
