// Message formatting and the single exit path of the program.
// Depends on: resources (files, memory, AVI streams), dgl (shutdown),
// kernel/shell (window and class state), platform (audio, window, exit).
#include "kernel/messages.h"

#include "dgl/dgl.h"
#include "kernel/shell.h"
#include "platform/audio.h"
#include "platform/process.h"
#include "platform/window.h"
#include "resources/avi.h"
#include "resources/files.h"
#include "resources/memory.h"

#include <cstdarg>
#include <cstring>

FileHandle loadingLog = 0;

namespace {

constexpr int MESSAGE_BUFFER_SIZE = 4096;
char messageBuffer[MESSAGE_BUFFER_SIZE];

// True while fatalExit runs its release steps: a failure inside one of them
// (a log write, the renderer's shutdown) calls fatalExit again, which must
// then skip straight to the end instead of releasing over and over.
bool exitInProgress = false;

// Resets the flag if the exit unwinds (tests make fatalExit throw).
struct ExitInProgress {
    ExitInProgress() { exitInProgress = true; }
    ~ExitInProgress() { exitInProgress = false; }
    ExitInProgress(const ExitInProgress&) = delete;
    ExitInProgress& operator=(const ExitInProgress&) = delete;
};

// Appends text to the buffer at length, keeping room for the terminator;
// what does not fit is dropped.
void append(int& length, const char* text, int count)
{
    int room = MESSAGE_BUFFER_SIZE - 1 - length;
    if (count > room)
        count = room;
    if (count > 0) {
        std::memcpy(messageBuffer + length, text, static_cast<std::size_t>(count));
        length += count;
    }
}

void writeLogLine(const char* text)
{
    writeToFile(loadingLog, text, static_cast<DWORD>(std::strlen(text)));
}

[[noreturn]] void endProcess(const char* message)
{
    if (message != nullptr) {
        platformMessageBox("ZOR-02: Error!", message);
        platformExitProcess(EXIT_CODE_ERROR, message);
    }
    platformExitProcess(EXIT_CODE_NORMAL, nullptr);
}

} // namespace

int formatInteger(char* destination, std::uint32_t value, int base)
{
    if (value == 0) {
        destination[0] = '0';
        return 1;
    }
    char digits[12];
    int count = 0;
    while (value != 0) {
        std::uint32_t remainder = value % static_cast<std::uint32_t>(base);
        digits[count++] = static_cast<char>(remainder < 10 ? '0' + remainder : 'a' + (remainder - 10));
        value /= static_cast<std::uint32_t>(base);
    }
    for (int i = 0; i < count; i++)
        destination[i] = digits[count - 1 - i];
    return count;
}

const char* formatMessage(const char* format, ...)
{
    va_list arguments;
    va_start(arguments, format);
    int length = 0;
    char number[16];
    for (const char* at = format; *at != 0; at++) {
        if (*at != '%') {
            append(length, at, 1);
            continue;
        }
        char conversion = at[1];
        if (conversion == 'd') {
            std::int32_t value = va_arg(arguments, std::int32_t);
            // Negative values are never formatted by the program; write them readably.
            std::uint32_t magnitude = static_cast<std::uint32_t>(value);
            if (value < 0) {
                append(length, "-", 1);
                magnitude = 0u - magnitude;
            }
            append(length, number, formatInteger(number, magnitude, 10));
            at++;
        } else if (conversion == 'x') {
            std::uint32_t value = va_arg(arguments, std::uint32_t);
            append(length, number, formatInteger(number, value, 16));
            at++;
        } else if (conversion == 's') {
            const char* text = va_arg(arguments, const char*);
            if (text == nullptr)
                text = "(null)";
            append(length, text, static_cast<int>(std::strlen(text)));
            at++;
        } else if (conversion == 0) {
            append(length, at, 1); // a lone '%' at the end
        } else {
            append(length, at, 2);
            at++;
        }
    }
    messageBuffer[length] = 0;
    va_end(arguments);
    return messageBuffer;
}

void freeStreams()
{
    if (loadingLog != 0)
        writeLogLine("free->kicking out bass..\r\n");
    platformAudioFree();
    if (loadingLog != 0)
        writeLogLine("free->dumping avi live -xxx- streams..\r\n");
    releaseAviStreams();
}

void fatalExit(const char* message)
{
    if (exitInProgress)
        endProcess(message);
    {
        ExitInProgress guard;
        freeStreams();
        dglShutdown();
        freeAllMemory();
        closeAllFiles();
        loadingLog = 0;
        tapLog = 0;
        if (mainWindow != nullptr) {
            platformDestroyWindow(mainWindow);
            mainWindow = nullptr;
        }
        if (windowClassRegistered) {
            platformUnregisterClass(WINDOW_CLASS_NAME);
            windowClassRegistered = false;
        }
    }
    endProcess(message);
}
