// The shell's global state, kept apart from the entry and main loop so that
// code which only needs to release the window (fatalExit) does not pull the
// whole show into every program that links it.
// Depends on: kernel/shell.h.
#include "kernel/shell.h"

HWND mainWindow = nullptr;
bool windowClassRegistered = false;
FileHandle tapLog = 0;
int lastFrameTime = 0;
DWORD showStartInstant = 0;
int showStartOffsetMs = 0;
