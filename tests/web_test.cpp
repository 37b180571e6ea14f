// The web show in headless Chromium (software WebGL 2), served by the
// test's own server from the site scripts/web.sh --build made:
// - its frames, drawn on the capture tool's fixed-step clock, against the
//   native shader device's frames of gfxcore-capture at the same show times
//   (two or more in each of the eight scenes);
// - a site whose data set lacks one file: the page shows the loader's
//   message in its message box.
// A missing site or browser is a failure, not a skip: CI must not pass a web
// show it never ran.
//
// Schedule: one frame a second (fps 1) up to the last time, 164 s: 165
// frames drawn in the browser and by the capture tool, which run side by
// side. Frames that feed into later ones see the same history on both.
// Depends on: the site in GFXCORE_WEB_SITE_DIR, the capture tool and data
// set in GFXCORE_SHOW_DIR, tests/web_browser.h, tests/show_process.h,
// imaging (PNG decoding).
#include "imaging/texture_file.h"
#include "resources/memory.h"
#include "tests/show_process.h"
#include "tests/support/frame_compare.h"
#include "tests/web_browser.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#ifndef GFXCORE_WEB_SITE_DIR
#define GFXCORE_WEB_SITE_DIR GFXCORE_SOURCE_DIR "/build-web/site"
#endif

namespace {

namespace fs = std::filesystem;

const fs::path siteDir = GFXCORE_WEB_SITE_DIR;
const fs::path showDir = GFXCORE_SHOW_DIR;

constexpr int FRAMES_PER_SECOND = 1;
// Two times in each scene, away from the cuts.
constexpr int COMPARED_TIMES[] = {5000,   40000,  60000,  72000,  78000,  86000,  92000,  100000,
                                  105000, 120000, 126000, 138000, 142000, 155000, 159000, 164000};
constexpr double MINIMUM_PSNR = 35.0;
constexpr double BROWSER_SECONDS = 240.0;

std::string timeList()
{
    std::string list;
    for (int time : COMPARED_TIMES)
        list += (list.empty() ? "" : ",") + std::to_string(time);
    return list;
}

// The value of "key": in a flat JSON object (the page's report), or "".
std::string reportValue(const std::string& json, const std::string& key)
{
    std::size_t at = json.find("\"" + key + "\":");
    if (at == std::string::npos)
        return "";
    at += key.size() + 3;
    if (at < json.size() && json[at] == '"') {
        std::string text;
        for (std::size_t i = at + 1; i < json.size() && json[i] != '"'; i++)
            text += json[i] == '\\' && i + 1 < json.size() ? json[++i] : json[i];
        return text;
    }
    std::size_t end = json.find_first_of(",}", at);
    return json.substr(at, end == std::string::npos ? std::string::npos : end - at);
}

::testing::AssertionResult siteAndBrowserPresent()
{
    if (!fs::exists(siteDir / "index.html") || !fs::exists(siteDir / "gfxcore.wasm") ||
        !fs::exists(siteDir / "data" / "files.txt"))
        return ::testing::AssertionFailure() << "no web site in " << siteDir << ": run scripts/web.sh --build";
    if (access(WEB_CHROMIUM, X_OK) != 0)
        return ::testing::AssertionFailure() << WEB_CHROMIUM << " missing: scripts/install-deps.sh installs it";
    return ::testing::AssertionSuccess();
}

// Opens the page with a query in headless Chromium and waits for its
// report. The browser's output is kept in folder/chromium.log.
std::string runPage(const fs::path& site, const fs::path& folder, const std::string& query, double seconds)
{
    WebTestServer server(site, folder);
    if (server.port() == 0)
        return "";
    std::vector<std::string> arguments = webChromiumArguments(folder / "profile");
    arguments.push_back(server.url("index.html?" + query));
    WebBrowser browser(arguments, folder / "chromium.log");
    if (!browser.started() || !server.waitForResult("report.json", seconds))
        return "";
    return showReadFile(folder / "report.json");
}

TEST(WebShow, FramesInTheBrowserMatchTheNativeShaderDeviceInEveryScene)
{
    ASSERT_TRUE(siteAndBrowserPresent());
    const fs::path folder = showMakeDataFolder("gfxcore-web");
    ASSERT_FALSE(folder.empty());
    fs::create_directories(folder / "web");
    fs::create_directories(folder / "native");

    // The native frames, captured while the browser draws its own.
    ShowRunResult native;
    std::thread capture([&] {
        ShowRunOptions options;
        options.program = (showDir / "gfxcore-capture").string();
        options.arguments = {"--quiet", "--renderer", "es", "--fps", std::to_string(FRAMES_PER_SECOND),
                             "--at", timeList(), "--to", std::to_string(COMPARED_TIMES[std::size(COMPARED_TIMES) - 1] + 1),
                             "--out", (folder / "native").string()};
        options.folder = folder.string();
        options.environment = showHeadlessEnvironment(folder);
        options.timeLimitSeconds = BROWSER_SECONDS;
        native = runShowProgram(options);
    });
    const std::string report = runPage(
        siteDir, folder / "web", "test=frames&fps=" + std::to_string(FRAMES_PER_SECOND) + "&at=" + timeList(),
        BROWSER_SECONDS);
    capture.join();
    ASSERT_TRUE(native.exited && native.status == 0) << "capture: status " << native.status << "\n"
                                                     << native.errorText;
    ASSERT_FALSE(report.empty()) << "no report from the page; browser output in " << (folder / "web/chromium.log");
    EXPECT_EQ(reportValue(report, "shownMessage"), "") << report;
    std::printf("page: loaded at %s ms, first show frame at %s ms, %s frames drawn; capture %.1f s\n",
                reportValue(report, "loadedMs").c_str(), reportValue(report, "firstShowFrameMs").c_str(),
                reportValue(report, "frames").c_str(), native.seconds);

    int below = 0;
    for (int time : COMPARED_TIMES) {
        const std::string name = frameName(time);
        markScratchMemory();
        DecodedImage web{}, reference{};
        const bool decoded = decodeImageFile((folder / "web" / name).c_str(), &web) &&
                             decodeImageFile((folder / "native" / name).c_str(), &reference);
        if (!decoded || web.width != reference.width || web.height != reference.height) {
            ADD_FAILURE() << name << ": missing, unreadable or of another size";
            below++;
        } else {
            const double decibels = psnr(web, reference);
            std::printf("  %s %5.1f dB\n", name.c_str(), decibels);
            RecordProperty("psnr_" + std::to_string(time), std::to_string(decibels));
            if (decibels < MINIMUM_PSNR) {
                ADD_FAILURE() << name << ": " << decibels << " dB";
                below++;
            }
        }
        freeScratchMemory();
    }
    freeAllMemory();
    std::error_code ignored;
    if (below > 0 || HasFailure())
        std::printf("frames kept in %s\n", folder.c_str());
    else
        fs::remove_all(folder, ignored);
}

// A copy of the site whose data set lacks one model: its list still names
// it, the server answers 404, and the loader ends the show with its message,
// which the page must show in its message box.
TEST(WebShow, AMissingDataFileShowsTheLoadersMessageInThePage)
{
    ASSERT_TRUE(siteAndBrowserPresent());
    const fs::path folder = showMakeTempFolder("gfxcore-web-missing");
    ASSERT_FALSE(folder.empty());
    const fs::path site = folder / "site";
    fs::create_directories(site / "data");
    for (const fs::directory_entry& entry : fs::directory_iterator(siteDir))
        if (entry.path().filename() != "data")
            fs::create_symlink(fs::absolute(entry.path()), site / entry.path().filename());
    const std::string missing = "vorn02.3ds";
    for (const fs::directory_entry& entry : fs::directory_iterator(siteDir / "data"))
        if (entry.path().filename() != missing)
            fs::create_symlink(fs::absolute(entry.path()), site / "data" / entry.path().filename());
    ASSERT_TRUE(fs::exists(siteDir / "data" / missing));
    fs::create_directories(folder / "out");

    const std::string report = runPage(site, folder / "out", "test=frames&fps=1&at=0", 120.0);
    ASSERT_FALSE(report.empty()) << "no report from the page; browser output in " << (folder / "out/chromium.log");
    EXPECT_EQ(reportValue(report, "shownMessage"),
              "ZOR-02: Error!: Can not open file: data/vorn02.3ds, with full access rights. Maybe it's protected.")
        << report;
    EXPECT_EQ(reportValue(report, "endScreen"), "false") << "the end screen hides the message: " << report;
    std::error_code ignored;
    if (!HasFailure())
        fs::remove_all(folder, ignored);
}

} // namespace
