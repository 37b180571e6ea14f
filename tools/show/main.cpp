// The show: real clock, real audio, a window. Run it from its own folder
// (build/show) or through the installed launcher: the data set and the logs
// are relative to the working directory. The command line is read before
// anything opens, so a bad one leaves no window and no log behind.
#include "kernel/shell.h"
#include "platform/renderer.h"
#include "tools/show/options.h"

#include <cstdio>

#ifndef GFXCORE_VERSION
#define GFXCORE_VERSION "0"
#endif

int main(int argc, char** argv)
{
    ShowOptions options;
    char error[SHOW_OPTION_ERROR_SIZE];
    switch (parseShowOptions(argc, argv, &options, error)) {
    case ShowCommand::help:
        std::fputs(showUsage(), stdout);
        return 0;
    case ShowCommand::version:
        std::printf("gfxcore %s\n", GFXCORE_VERSION);
        return 0;
    case ShowCommand::badOption:
        std::fprintf(stderr, "gfxcore: %s\n%s", error, showUsage());
        return 2;
    case ShowCommand::badValue:
        std::fprintf(stderr, "gfxcore: %s\n", error);
        return 2;
    case ShowCommand::run:
        break;
    }
    if (options.rendererGiven)
        selectRenderer(options.renderer);
    else
        selectDefaultRenderer();
    return runShow(options.display);
}
