// Options and frame schedule of the capture tool; see capture.h.
#include "tools/capture/capture.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

bool parseInt(const char* text, int low, int high, int& value)
{
    if (text == nullptr || *text == '\0')
        return false;
    char* end = nullptr;
    long parsed = std::strtol(text, &end, 10);
    if (*end != '\0' || parsed < low || parsed > high)
        return false;
    value = static_cast<int>(parsed);
    return true;
}

} // namespace

bool parseCaptureOptions(int argc, char** argv, CaptureOptions& options, std::string& error)
{
    bool stretchAsked = false; // --from, --to, --at or --video
    for (int i = 1; i < argc; ++i) {
        std::string name = argv[i];
        const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
        auto needValue = [&]() {
            if (value == nullptr) {
                error = name + " needs a value";
                return false;
            }
            ++i;
            return true;
        };
        if (name == "--fps") {
            if (!needValue() || !parseInt(value, 1, 1000, options.framesPerSecond)) {
                error = "--fps takes a whole number from 1 to 1000";
                return false;
            }
        } else if (name == "--from") {
            if (!needValue() || !parseInt(value, 0, 165000, options.fromMs)) {
                error = "--from takes a show time in milliseconds (0 to 165000)";
                return false;
            }
            stretchAsked = true;
        } else if (name == "--to") {
            if (!needValue() || !parseInt(value, 0, 165000, options.toMs)) {
                error = "--to takes a show time in milliseconds (0 to 165000)";
                return false;
            }
            stretchAsked = true;
        } else if (name == "--out") {
            if (!needValue())
                return false;
            options.outDir = value;
        } else if (name == "--logs") {
            if (!needValue())
                return false;
            options.logDir = value;
        } else if (name == "--video") {
            if (!needValue())
                return false;
            options.videoPath = value;
            stretchAsked = true;
        } else if (name == "--scale") {
            if (!needValue() || !parseInt(value, 1, 4, options.scale)) {
                error = "--scale takes 1, 2, 3 or 4";
                return false;
            }
        } else if (name == "--at") {
            if (!needValue())
                return false;
            std::string list = value;
            std::size_t start = 0;
            while (start <= list.size()) {
                std::size_t comma = list.find(',', start);
                std::string item = list.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
                int time = 0;
                if (!parseInt(item.c_str(), 0, 164999, time)) {
                    error = "--at takes show times in milliseconds separated by commas";
                    return false;
                }
                options.atMs.push_back(time);
                stretchAsked = true;
                if (comma == std::string::npos)
                    break;
                start = comma + 1;
            }
        } else if (name == "--quiet") {
            options.quiet = true;
        } else if (name == "--loading") {
            options.loading = true;
        } else if (name == "--renderer") {
            if (!needValue() || !rendererFromName(value, &options.renderer)) {
                error = std::string("--renderer takes ") + kRendererNames;
                return false;
            }
        } else {
            error = "unknown option " + name;
            return false;
        }
    }
    if (options.fromMs >= options.toMs) {
        error = "--from must be earlier than --to";
        return false;
    }
    options.showFrames = !options.loading || stretchAsked;
    return true;
}

int captureFrameTime(std::int64_t frame, int framesPerSecond)
{
    // Rounded to the nearest millisecond, halves up.
    return static_cast<int>((frame * 2000 + framesPerSecond) / (2 * static_cast<std::int64_t>(framesPerSecond)));
}

std::int64_t captureFirstFrameAtOrAfter(int timeMs, int framesPerSecond)
{
    std::int64_t frame = static_cast<std::int64_t>(timeMs) * framesPerSecond / 1000;
    while (frame > 0 && captureFrameTime(frame - 1, framesPerSecond) >= timeMs)
        --frame;
    while (captureFrameTime(frame, framesPerSecond) < timeMs)
        ++frame;
    return frame;
}

std::string captureFrameFileName(int timeMs)
{
    char name[32];
    std::snprintf(name, sizeof name, "frame-%06d.png", timeMs);
    return name;
}

std::string captureLoadingFileName(int step) { return "loading-" + std::to_string(step) + ".png"; }

std::string captureLogFileName(const std::string& logName, bool outputIsShowFolder)
{
    return outputIsShowFolder ? "capture-" + logName : logName;
}
