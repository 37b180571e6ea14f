// The show's command line: display mode, start offset and renderer chosen at
// run time over the build's defaults (getDisplaySettings). Parsing only: no
// window, no log and no output here, so a bad command line ends before
// anything opens.
// Depends on: kernel/shell.h (DisplaySettings), platform/renderer.h.
#pragma once

#include "kernel/shell.h"
#include "platform/renderer.h"

#include <cstddef>

// badOption: an option the show does not know; badValue: a known option
// with a missing or unusable value.
enum class ShowCommand { run, help, version, badOption, badValue };

struct ShowOptions {
    DisplaySettings display; // the build's defaults, overridden by the options
    Renderer renderer;
    bool rendererGiven; // false: the default (selectDefaultRenderer)
};

constexpr std::size_t SHOW_OPTION_ERROR_SIZE = 256;

// Fills *options from the defaults and argv[1..argc-1]. For the bad commands
// `error` holds one line (no newline) that says what was wrong.
ShowCommand parseShowOptions(int argc, const char* const* argv, ShowOptions* options,
                             char (&error)[SHOW_OPTION_ERROR_SIZE]);

// The usage text, several lines, each ending in a newline.
const char* showUsage();
