// gfxcore-data: writes the show's data set into the folder given on the
// command line (the build passes <build>/show/data). Depends on dataset.h.
#include "tools/data/dataset.h"

#include <cstdio>
#include <string>
#include <sys/stat.h>

namespace {

bool makeFolders(const std::string& folder)
{
    std::string path;
    for (std::size_t i = 0; i <= folder.size(); ++i) {
        if (i == folder.size() || folder[i] == '/') {
            if (!path.empty() && mkdir(path.c_str(), 0755) != 0) {
                struct stat info {};
                if (stat(path.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) {
                    return false;
                }
            }
        }
        if (i < folder.size()) {
            path += folder[i];
        }
    }
    return true;
}

} // namespace

bool generateDataSet(const std::string& folder, std::string& error)
{
    if (!makeFolders(folder)) {
        error = "can not create the folder " + folder;
        return false;
    }
    return generatePictures(folder, error) && generateModels(folder, error) && generateClips(folder, error) &&
           generateMusic(folder, error);
}

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: gfxcore-data <data folder>\n");
        return 2;
    }
    std::string error;
    if (!generateDataSet(argv[1], error)) {
        std::fprintf(stderr, "gfxcore-data: %s\n", error.c_str());
        return 1;
    }
    return 0;
}
