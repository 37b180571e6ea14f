// The show's command line; see options.h.
// Depends on: kernel/timeline.h (the show's length), platform/renderer.h.
#include "tools/show/options.h"

#include "kernel/timeline.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// Options that take a value read it from the next argument or after '='.
enum class OptionId { window, fullscreen, start, renderer, help, version };

struct OptionEntry {
    const char* name;
    OptionId id;
    bool takesValue;
};

// One line per option: adding one is a row here and a case in applyOption.
constexpr OptionEntry OPTIONS[] = {
    {"--window", OptionId::window, false},     {"--fullscreen", OptionId::fullscreen, false},
    {"--start", OptionId::start, true},        {"--renderer", OptionId::renderer, true},
    {"--help", OptionId::help, false},         {"-h", OptionId::help, false},
    {"--version", OptionId::version, false},
};

// Seconds into the show: a plain decimal number from 0 up to, not including,
// the end (a start at the end would close the show on its first frame).
bool parseStartSeconds(const char* text, float* seconds)
{
    if (text == nullptr || text[0] == 0 || std::strchr("+-0123456789.", text[0]) == nullptr)
        return false;
    char* end = nullptr;
    double value = std::strtod(text, &end);
    if (end == text || *end != 0 || !std::isfinite(value))
        return false;
    if (value < 0.0 || value * 1000.0 >= SHOW_END_MS)
        return false;
    *seconds = static_cast<float>(value);
    return true;
}

bool applyOption(OptionId id, const char* value, ShowOptions* options, ShowCommand* command,
                 char (&error)[SHOW_OPTION_ERROR_SIZE])
{
    switch (id) {
    case OptionId::window:
        options->display.fullscreen = false;
        return true;
    case OptionId::fullscreen:
        options->display.fullscreen = true;
        return true;
    case OptionId::start:
        if (parseStartSeconds(value, &options->display.startOffset))
            return true;
        std::snprintf(error, sizeof(error), "--start takes seconds from 0 to below %d, not \"%.64s\"",
                      SHOW_END_MS / 1000, value);
        return false;
    case OptionId::renderer:
        if (rendererFromName(value, &options->renderer)) {
            options->rendererGiven = true;
            return true;
        }
        std::snprintf(error, sizeof(error), "--renderer takes %s, not \"%.64s\"", kRendererNames, value);
        return false;
    case OptionId::help:
        *command = ShowCommand::help;
        return true;
    case OptionId::version:
        if (*command != ShowCommand::help)
            *command = ShowCommand::version;
        return true;
    }
    return false;
}

} // namespace

ShowCommand parseShowOptions(int argc, const char* const* argv, ShowOptions* options,
                             char (&error)[SHOW_OPTION_ERROR_SIZE])
{
    options->display = getDisplaySettings();
    options->renderer = Renderer::es;
    options->rendererGiven = false;
    error[0] = 0;
    ShowCommand command = ShowCommand::run;
    for (int i = 1; i < argc; i++) {
        const char* argument = argv[i];
        const char* equals = std::strchr(argument, '=');
        std::size_t nameLength = equals != nullptr ? static_cast<std::size_t>(equals - argument) : std::strlen(argument);
        const OptionEntry* entry = nullptr;
        for (const OptionEntry& candidate : OPTIONS)
            if (std::strlen(candidate.name) == nameLength && std::strncmp(candidate.name, argument, nameLength) == 0)
                entry = &candidate;
        if (entry == nullptr) {
            std::snprintf(error, sizeof(error), "unknown option \"%.64s\"", argument);
            return ShowCommand::badOption;
        }
        const char* value = nullptr;
        if (entry->takesValue) {
            if (equals != nullptr)
                value = equals + 1;
            else if (i + 1 < argc)
                value = argv[++i];
            else {
                std::snprintf(error, sizeof(error), "%s needs a value", entry->name);
                return ShowCommand::badValue;
            }
        } else if (equals != nullptr) {
            std::snprintf(error, sizeof(error), "%s takes no value", entry->name);
            return ShowCommand::badValue;
        }
        if (!applyOption(entry->id, value, options, &command, error))
            return ShowCommand::badValue;
    }
    return command;
}

const char* showUsage()
{
    // The default display is the build's (GFXCORE_FULLSCREEN), so say which.
    const bool fullscreenDefault = getDisplaySettings().fullscreen;
    static char usage[1024];
    std::snprintf(usage, sizeof(usage),
                  "usage: gfxcore [--window | --fullscreen] [--start SECONDS] [--renderer gl|es|core]\n"
                  "               [--help] [--version]\n"
                  "  --window          play in a 640x480 window%s\n"
                  "  --fullscreen      play full screen, the picture scaled to fit%s\n"
                  "  --start SECONDS   begin the show this far in (0 to below 165), music included\n"
                  "  --renderer NAME   draw with the gl, es (default; gl where OpenGL ES 3.0 is\n"
                  "                    missing) or core device\n"
                  "  --help            print this text and exit\n"
                  "  --version         print the version and exit\n"
                  "Escape or closing the window ends the show; the space bar writes the show time\n"
                  "into spaceTimes.log. Exit status: 0 normal end, 1 error, 2 bad command line.\n",
                  fullscreenDefault ? "" : " (the default)", fullscreenDefault ? " (the default)" : "");
    return usage;
}
