// Process end; see process.h.
#include "platform/process.h"

#include <cstdio>
#include <cstdlib>

namespace {
PlatformBeforeExit beforeExit = nullptr;
PlatformExitHandler exitHandler = nullptr;
}

void platformSetBeforeExit(PlatformBeforeExit hook) { beforeExit = hook; }

void platformSetExitHandler(PlatformExitHandler handler) { exitHandler = handler; }

int platformExitStatus(std::uint32_t code)
{
    if (code == 0x0000B4B3u)
        return 0;
    if (code == 0xD34DB4B3u)
        return 1;
    return static_cast<int>(code & 0xFF);
}

void platformExitProcess(std::uint32_t code, const char* message)
{
    if (exitHandler != nullptr) {
        exitHandler(code, message);
        std::abort(); // a handler must not return
    }
    if (beforeExit != nullptr) {
        PlatformBeforeExit hook = beforeExit;
        beforeExit = nullptr;
        hook();
    }
    std::fflush(nullptr);
    std::exit(platformExitStatus(code));
}
