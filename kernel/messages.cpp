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

// The exit under way, written only by fatalExit. A failure inside one of
// its release steps (a log write, the renderer's shutdown) calls fatalExit
// again: that call gives up the failed step, runs the steps after it and
// ends with the first message, which is the cause; the second is only a
// consequence. The first message is copied, since the failing step formats
// its own message into the shared buffer.
bool exitInProgress = false;
int nextReleaseStep = 0;
bool exitHasMessage = false;
char exitMessage[MESSAGE_BUFFER_SIZE];

// Resets the exit if it unwinds (tests make fatalExit throw); a real exit
// never returns, so the exit stays under way through the driver's last hook.
struct ExitInProgress {
    ExitInProgress() { exitInProgress = true; }
    ~ExitInProgress() { exitInProgress = false; }
    ExitInProgress(const ExitInProgress&) = delete;
    ExitInProgress& operator=(const ExitInProgress&) = delete;
};

void keepExitMessage(const char* message)
{
    exitHasMessage = message != nullptr;
    if (message == nullptr)
        return;
    std::size_t length = std::strlen(message);
    if (length >= sizeof(exitMessage))
        length = sizeof(exitMessage) - 1;
    std::memmove(exitMessage, message, length);
    exitMessage[length] = 0;
}

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

namespace {

void logMusicRelease()
{
    if (loadingLog != 0)
        writeLogLine("free->kicking out bass..\r\n");
}

void logStreamsRelease()
{
    if (loadingLog != 0)
        writeLogLine("free->dumping avi live -xxx- streams..\r\n");
}

void closeFiles()
{
    closeAllFiles();
    loadingLog = 0;
    tapLog = 0;
}

void destroyWindow()
{
    if (mainWindow != nullptr) {
        HWND window = mainWindow;
        mainWindow = nullptr;
        platformDestroyWindow(window);
    }
}

void unregisterClass()
{
    if (windowClassRegistered) {
        windowClassRegistered = false;
        platformUnregisterClass(WINDOW_CLASS_NAME);
    }
}

using ReleaseStep = void (*)();

// fatalExit's release steps in their order; the first four are freeStreams.
constexpr ReleaseStep RELEASE_STEPS[] = {
    logMusicRelease, platformAudioFree, logStreamsRelease, releaseAviStreams, dglShutdown,
    freeAllMemory,   closeFiles,        destroyWindow,     unregisterClass,
};
constexpr int RELEASE_STEP_COUNT = static_cast<int>(sizeof(RELEASE_STEPS) / sizeof(RELEASE_STEPS[0]));
constexpr int FREE_STREAMS_STEP_COUNT = 4;

// Runs the release steps not yet begun; a step that fails is left behind.
void releaseTheRest()
{
    while (nextReleaseStep < RELEASE_STEP_COUNT)
        RELEASE_STEPS[nextReleaseStep++]();
}

} // namespace

void freeStreams()
{
    for (int step = 0; step < FREE_STREAMS_STEP_COUNT; step++)
        RELEASE_STEPS[step]();
}

void fatalExit(const char* message)
{
    if (exitInProgress) {
        // A release step (or the driver's last hook) failed. Its message is
        // kept only when the exit had none: a normal end that could not
        // finish is not normal.
        if (!exitHasMessage)
            keepExitMessage(message);
        releaseTheRest();
        endProcess(exitHasMessage ? exitMessage : nullptr);
    }
    ExitInProgress guard;
    keepExitMessage(message);
    nextReleaseStep = 0;
    releaseTheRest();
    endProcess(exitHasMessage ? exitMessage : nullptr);
}
