// Case-insensitive path resolution; see paths.h.
// Depends on: POSIX (stat, opendir, readdir).
#include "platform/paths.h"

#include <dirent.h>
#include <strings.h>
#include <sys/stat.h>

namespace {

bool exists(const std::string& path)
{
    struct stat info;
    return stat(path.c_str(), &info) == 0;
}

// The entry of `folder` whose name equals `name` ignoring case; empty if none.
// An exact match wins over a case-insensitive one.
std::string findEntry(const std::string& folder, const std::string& name)
{
    DIR* directory = opendir(folder.empty() ? "." : folder.c_str());
    if (directory == nullptr)
        return std::string();
    std::string found;
    while (dirent* entry = readdir(directory)) {
        if (name == entry->d_name) {
            found = entry->d_name;
            break;
        }
        if (found.empty() && strcasecmp(name.c_str(), entry->d_name) == 0)
            found = entry->d_name;
    }
    closedir(directory);
    return found;
}

} // namespace

std::string platformResolvePath(const char* path)
{
    if (path == nullptr)
        return std::string();
    std::string written(path);
    if (written.empty() || exists(written))
        return written;

    std::string resolved;
    std::size_t start = 0;
    if (written[0] == '/') {
        resolved = "/";
        start = 1;
    }
    bool matching = true;
    while (start <= written.size()) {
        std::size_t end = written.find('/', start);
        if (end == std::string::npos)
            end = written.size();
        std::string component = written.substr(start, end - start);
        if (!component.empty()) {
            std::string folder = resolved;
            std::string onDisk = matching ? findEntry(folder, component) : std::string();
            if (onDisk.empty())
                matching = false;
            if (!resolved.empty() && resolved.back() != '/')
                resolved += '/';
            resolved += onDisk.empty() ? component : onDisk;
        }
        if (end == written.size())
            break;
        start = end + 1;
    }
    return resolved;
}
