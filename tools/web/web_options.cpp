// The page's query; see web_options.h.
#include "tools/web/web_options.h"

#include <cstdlib>

namespace {

bool parseInt(const std::string& text, int low, int high, int& value)
{
    if (text.empty() || text.size() > 9)
        return false;
    for (char c : text)
        if (c < '0' || c > '9')
            return false;
    long parsed = std::strtol(text.c_str(), nullptr, 10);
    if (parsed < low || parsed > high)
        return false;
    value = static_cast<int>(parsed);
    return true;
}

// The times of "at": whole milliseconds separated by commas (a URL may
// carry the commas escaped as %2C).
bool parseTimes(std::string text, std::vector<int>& times)
{
    for (std::size_t at = text.find("%2"); at != std::string::npos; at = text.find("%2", at))
        if (at + 2 < text.size() && (text[at + 2] == 'C' || text[at + 2] == 'c'))
            text.replace(at, 3, ",");
        else
            at += 2;
    std::size_t start = 0;
    for (;;) {
        std::size_t comma = text.find(',', start);
        int time = 0;
        if (!parseInt(text.substr(start, comma == std::string::npos ? std::string::npos : comma - start), 0, 164999,
                      time))
            return false;
        times.push_back(time);
        if (comma == std::string::npos)
            return true;
        start = comma + 1;
    }
}

} // namespace

bool parseWebQuery(const std::string& query, WebOptions& options, std::string& error)
{
    WebOptions parsed;
    std::string test, fps, at;
    bool testAsked = false;
    std::size_t start = 0;
    while (start < query.size()) {
        std::size_t end = query.find('&', start);
        if (end == std::string::npos)
            end = query.size();
        std::string pair = query.substr(start, end - start);
        std::size_t equals = pair.find('=');
        std::string key = pair.substr(0, equals);
        std::string value = equals == std::string::npos ? "" : pair.substr(equals + 1);
        if (key == "test") {
            test = value;
            testAsked = true;
        }
        else if (key == "fps")
            fps = value;
        else if (key == "at")
            at = value;
        start = end + 1;
    }
    if (!testAsked) {
        options = parsed;
        return true;
    }
    if (test == "fps") {
        parsed.mode = WebMode::fps;
    } else if (test == "frames") {
        parsed.mode = WebMode::frames;
        if (!fps.empty() && !parseInt(fps, 1, 1000, parsed.framesPerSecond)) {
            error = "fps takes a whole number from 1 to 1000";
            return false;
        }
        if (!parseTimes(at, parsed.atMs)) {
            error = "at takes show times in milliseconds (0 to 164999) separated by commas";
            return false;
        }
    } else {
        error = "test takes frames or fps";
        return false;
    }
    options = parsed;
    return true;
}
