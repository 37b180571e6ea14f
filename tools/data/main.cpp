// gfxcore-data: writes the show's data set into the folder given on the
// command line (the build passes <build>/show/data). Depends on dataset.h.
#include "tools/data/dataset.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <functional>
#include <thread>
#include <vector>
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
    // Longest jobs first, so the cores finish together.
    std::vector<std::function<bool(std::string&)>> jobs;
    for (int clip : {0, 1, 2}) {
        jobs.push_back([&folder, clip](std::string& e) { return generateClip(folder, clip, e); });
    }
    jobs.push_back([&folder](std::string& e) { return generatePictures(folder, e); });
    jobs.push_back([&folder](std::string& e) { return generateMusic(folder, e); });
    for (int clip : {3, 4, 5, 6}) {
        jobs.push_back([&folder, clip](std::string& e) { return generateClip(folder, clip, e); });
    }
    jobs.push_back([&folder](std::string& e) { return generateModels(folder, e); });

    std::atomic<std::size_t> next{0};
    std::vector<std::string> errors(jobs.size());
    std::vector<char> done(jobs.size(), 0);
    auto worker = [&]() {
        for (std::size_t job = next++; job < jobs.size(); job = next++) {
            done[job] = jobs[job](errors[job]) ? 1 : 0;
        }
    };
    const unsigned cores = std::clamp(std::thread::hardware_concurrency(), 1u, 4u);
    std::vector<std::thread> threads;
    for (unsigned i = 1; i < cores; ++i) {
        threads.emplace_back(worker);
    }
    worker();
    for (std::thread& thread : threads) {
        thread.join();
    }
    for (std::size_t job = 0; job < jobs.size(); ++job) {
        if (done[job] == 0) {
            error = errors[job];
            return false;
        }
    }
    return true;
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
