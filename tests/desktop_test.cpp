// The show as a user meets it on a real X server: a virtual X server (Xvfb,
// 1280x1024) is started on a free display for each test and ended by its
// pid; keys come from xdotool (XTest), geometry, the pointer's cursor and
// the screen's pixels are read back with Xlib. Full screen fills the screen
// with the picture's aspect kept, with no window manager and under one that
// ignores the full-screen request; --window gives a 640x480 window with the
// arrow-and-hourglass pointer; space taps and a held space bar write their
// lines; Escape, a close request and a window destroyed by another program
// end normally through the release path; no display ends at once; --help and
// a bad command line end before anything opens; the installed launcher plays
// in the user's state folder, wherever it is started from.
// Depends on: the show (gfxcore) and its data set in GFXCORE_SHOW_DIR; the
// programs Xvfb, xdotool and twm; Xlib and XFixes; tests/show_process.h.
#include "tests/show_process.h"

#include <gtest/gtest.h>

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/Xfixes.h>

#include <poll.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

const fs::path showDir = GFXCORE_SHOW_DIR;
constexpr int SCREEN_WIDTH = 1280;
constexpr int SCREEN_HEIGHT = 1024;
const char* const RELEASE_LINES = "free->kicking out bass..\r\nfree->dumping avi live -xxx- streams..\r\n";

double secondsSince(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

// Polls `done` every 10 ms until it holds or `seconds` pass: the machine may
// be loaded, so waits are generous but end as soon as they can.
template <typename Condition> bool waitUntil(double seconds, Condition done)
{
    const Clock::time_point start = Clock::now();
    for (;;) {
        if (done())
            return true;
        if (secondsSince(start) > seconds)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

// A child process with its standard output and error in files; killed on
// destruction if it still runs (a failed test leaves nothing behind).
struct Child {
    pid_t pid = -1;
    bool exited = false;
    int status = -1;
    int signal = 0;

    Child() = default;
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;
    ~Child() { stop(); }

    void start(const std::vector<std::string>& argv, const fs::path& folder,
               const std::vector<std::pair<std::string, std::string>>& environment, const fs::path& out,
               const fs::path& err)
    {
        pid = fork();
        if (pid != 0)
            return;
        if (chdir(folder.c_str()) != 0)
            _exit(126);
        int nothing = open("/dev/null", O_RDONLY | O_CLOEXEC);
        int outFile = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        int errFile = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (nothing < 0 || outFile < 0 || errFile < 0)
            _exit(126);
        dup2(nothing, 0);
        dup2(outFile, 1);
        dup2(errFile, 2);
        for (const auto& [name, value] : environment) {
            if (value.empty())
                unsetenv(name.c_str());
            else
                setenv(name.c_str(), value.c_str(), 1);
        }
        std::vector<char*> args;
        for (const std::string& argument : argv)
            args.push_back(const_cast<char*>(argument.c_str()));
        args.push_back(nullptr);
        execvp(args[0], args.data());
        _exit(127);
    }

    bool running()
    {
        if (pid <= 0 || exited || signal != 0)
            return false;
        int waitStatus = 0;
        if (waitpid(pid, &waitStatus, WNOHANG) != pid)
            return true;
        if (WIFEXITED(waitStatus)) {
            exited = true;
            status = WEXITSTATUS(waitStatus);
        } else if (WIFSIGNALED(waitStatus)) {
            signal = WTERMSIG(waitStatus);
        }
        return false;
    }

    bool waitForEnd(double seconds) { return waitUntil(seconds, [&] { return !running(); }); }

    void stop()
    {
        if (running()) {
            kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
            signal = SIGKILL;
        }
    }
};

// A virtual X server on a display number it picks itself (-displayfd), so
// tests running side by side never meet.
struct XServer {
    Child process;
    std::string display; // ":N"

    bool start(const fs::path& folder)
    {
        int pipeEnds[2];
        if (pipe(pipeEnds) != 0)
            return false;
        process.pid = fork();
        if (process.pid == 0) {
            close(pipeEnds[0]);
            int nothing = open("/dev/null", O_RDWR);
            dup2(nothing, 0);
            dup2(nothing, 1);
            int log = open((folder / "xvfb.log").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            dup2(log >= 0 ? log : nothing, 2);
            std::string fd = std::to_string(pipeEnds[1]);
            std::string screen = std::to_string(SCREEN_WIDTH) + "x" + std::to_string(SCREEN_HEIGHT) + "x24";
            execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", screen.c_str(), "-nolisten", "tcp",
                   "-noreset", static_cast<char*>(nullptr));
            _exit(127);
        }
        close(pipeEnds[1]);
        std::string number;
        const Clock::time_point start = Clock::now();
        while (secondsSince(start) < 30.0 && process.running()) {
            pollfd ready{pipeEnds[0], POLLIN, 0};
            if (poll(&ready, 1, 100) <= 0)
                continue;
            char c = 0;
            if (read(pipeEnds[0], &c, 1) != 1 || c == '\n')
                break;
            number += c;
        }
        close(pipeEnds[0]);
        if (number.empty())
            return false;
        display = ":" + number;
        return true;
    }
};

// The first window named `name` anywhere below `parent`.
Window findNamedWindow(Display* display, Window parent, const char* name)
{
    Window root = 0, up = 0;
    Window* children = nullptr;
    unsigned count = 0;
    if (XQueryTree(display, parent, &root, &up, &children, &count) == 0)
        return 0;
    Window found = 0;
    for (unsigned i = 0; i < count && found == 0; i++) {
        char* text = nullptr;
        if (XFetchName(display, children[i], &text) != 0 && text != nullptr) {
            if (std::string(text) == name)
                found = children[i];
            XFree(text);
        }
        if (found == 0)
            found = findNamedWindow(display, children[i], name);
    }
    if (children != nullptr)
        XFree(children);
    return found;
}

struct Box {
    int x, y, width, height;
};

// A window's outline in screen coordinates.
Box screenBox(Display* display, Window window)
{
    XWindowAttributes attributes{};
    XGetWindowAttributes(display, window, &attributes);
    int x = 0, y = 0;
    Window child = 0;
    XTranslateCoordinates(display, window, DefaultRootWindow(display), 0, 0, &x, &y, &child);
    return Box{x, y, attributes.width, attributes.height};
}

// Rows of the screen with at least one pixel that is not black, counted in
// [top, bottom), and the share of non-black pixels there.
struct ScreenRows {
    int litRows = 0;
    double litShare = 0.0;
};

ScreenRows screenRows(Display* display, int top, int bottom)
{
    ScreenRows rows;
    XImage* image = XGetImage(display, DefaultRootWindow(display), 0, top, SCREEN_WIDTH, bottom - top, AllPlanes,
                              ZPixmap);
    if (image == nullptr)
        return rows;
    long lit = 0;
    for (int y = 0; y < bottom - top; y++) {
        bool rowLit = false;
        for (int x = 0; x < SCREEN_WIDTH; x++) {
            unsigned long pixel = XGetPixel(image, x, y);
            // Above the darkest few levels: llvmpipe's black is exact, but
            // the picture's own dark parts should not count as lit.
            bool on = ((pixel >> 16) & 0xFF) > 24 || ((pixel >> 8) & 0xFF) > 24 || (pixel & 0xFF) > 24;
            lit += on ? 1 : 0;
            rowLit = rowLit || on;
        }
        rows.litRows += rowLit ? 1 : 0;
    }
    rows.litShare = static_cast<double>(lit) / (static_cast<double>(SCREEN_WIDTH) * (bottom - top));
    XDestroyImage(image);
    return rows;
}

// True when some client has taken the root's substructure redirection (a
// window manager runs).
bool windowManagerRuns(Display* display)
{
    static bool refused;
    refused = false;
    XErrorHandler previous = XSetErrorHandler([](Display*, XErrorEvent* error) {
        refused = refused || error->error_code == BadAccess;
        return 0;
    });
    XSelectInput(display, DefaultRootWindow(display), SubstructureRedirectMask);
    XSync(display, False);
    XSelectInput(display, DefaultRootWindow(display), NoEventMask);
    XSync(display, False);
    XSetErrorHandler(previous);
    return refused;
}

std::vector<int> smackedTimes(const fs::path& tapLog)
{
    std::vector<int> times;
    for (const std::string& line : showLogLines(showReadFile(tapLog)))
        if (line.starts_with("Smacked: ") && line.ends_with("."))
            times.push_back(std::atoi(line.c_str() + 9));
    return times;
}

class Desktop : public ::testing::Test {
protected:
    void SetUp() override
    {
        folder = showMakeDataFolder("gfxcore-desktop");
        ASSERT_FALSE(folder.empty());
        ASSERT_TRUE(server.start(folder)) << "Xvfb did not start: " << showReadFile(folder / "xvfb.log");
        display = XOpenDisplay(server.display.c_str());
        ASSERT_NE(display, nullptr) << server.display;
    }

    void TearDown() override
    {
        show.stop();
        windowManager.stop();
        if (display != nullptr)
            XCloseDisplay(display);
        server.process.stop();
        std::error_code ignored;
        fs::remove_all(folder, ignored);
    }

    // The environment of a user's session on our X server: no headless
    // video driver, sound into a file (the machine may have no device).
    std::vector<std::pair<std::string, std::string>> sessionEnvironment()
    {
        return {{"DISPLAY", server.display},
                {"WAYLAND_DISPLAY", ""},
                {"SDL_VIDEODRIVER", ""},
                {"SDL_AUDIODRIVER", "disk"},
                {"SDL_DISKAUDIOFILE", (folder / "audio.raw").string()}};
    }

    void startShow(std::vector<std::string> arguments)
    {
        arguments.insert(arguments.begin(), (showDir / "gfxcore").string());
        show.start(arguments, folder, sessionEnvironment(), folder / "stdout.txt", folder / "stderr.txt");
        ASSERT_GT(show.pid, 0);
    }

    // Waits for the show's first frames: the tap log's header is written
    // just before the show clock starts. Returns the last poll before it was
    // seen and the moment it was seen: the clock started between them.
    void waitForShow(Clock::time_point* before, Clock::time_point* seen)
    {
        Clock::time_point last = Clock::now();
        bool begun = waitUntil(90.0, [&] {
            if (!show.running())
                return true;
            if (showReadFile(folder / "spaceTimes.log").starts_with("spacebarsmackertiminigsystemlog (hoho!)\r\n"))
                return true;
            last = Clock::now();
            return false;
        });
        ASSERT_TRUE(begun && show.running()) << "the show did not begin\n" << errorText();
        if (before != nullptr)
            *before = last;
        if (seen != nullptr)
            *seen = Clock::now();
    }

    Window waitForWindow()
    {
        Window window = 0;
        waitUntil(30.0, [&] { return (window = findNamedWindow(display, DefaultRootWindow(display), "gfxcore")) != 0; });
        return window;
    }

    void xdotool(const std::string& arguments)
    {
        std::string command = "DISPLAY=" + server.display + " xdotool " + arguments;
        ASSERT_EQ(std::system(command.c_str()), 0) << command;
    }

    // The show ended by the viewer: status 0, the release lines last in its
    // loading log, and no X error on its way out.
    void expectNormalEnd(double seconds)
    {
        ASSERT_TRUE(show.waitForEnd(seconds)) << "the show did not end\n" << errorText();
        EXPECT_TRUE(show.exited) << "signal " << show.signal << "\n" << errorText();
        EXPECT_EQ(show.status, 0) << errorText();
        EXPECT_TRUE(showReadFile(folder / "pimplog").ends_with(RELEASE_LINES)) << showReadFile(folder / "pimplog");
        EXPECT_EQ(errorText().find("X Error"), std::string::npos) << errorText();
    }

    // The full-screen picture: 640x480 scaled to 1280x960 between black
    // bars of 32 rows, and busy enough at this moment not to be mostly black.
    // The window lies over the whole screen and shows the picture scaled.
    void expectCoversScreen(Window window)
    {
        Box box = screenBox(display, window);
        EXPECT_EQ(box.x, 0);
        EXPECT_EQ(box.y, 0);
        EXPECT_EQ(box.width, SCREEN_WIDTH);
        EXPECT_EQ(box.height, SCREEN_HEIGHT);
        expectScaledPicture();
    }

    void expectScaledPicture()
    {
        // The first frames at full size may be slow on a loaded machine:
        // the picture is awaited, the bars are then read.
        ScreenRows picture;
        waitUntil(30.0, [&] {
            picture = screenRows(display, 32, 992);
            return picture.litShare > 0.15 && picture.litRows > 900;
        });
        ScreenRows topBar = screenRows(display, 0, 32);
        ScreenRows bottomBar = screenRows(display, 992, SCREEN_HEIGHT);
        EXPECT_EQ(topBar.litRows, 0);
        EXPECT_EQ(bottomBar.litRows, 0);
        EXPECT_GT(picture.litShare, 0.15);
        EXPECT_GT(picture.litRows, 900);
    }

    std::string errorText() { return showReadFile(folder / "stderr.txt"); }

    fs::path folder;
    XServer server;
    Display* display = nullptr;
    Child show;
    Child windowManager;
};

TEST_F(Desktop, FullScreenWithoutWindowManagerFillsTheScreen)
{
    ASSERT_FALSE(windowManagerRuns(display));
    startShow({"--start", "30"});
    waitForShow(nullptr, nullptr);
    Window window = waitForWindow();
    ASSERT_NE(window, 0u);
    expectCoversScreen(window);
    xdotool("key Escape");
    expectNormalEnd(30.0);
}

TEST_F(Desktop, FullScreenCoversTheScreenUnderAManagerThatIgnoresTheRequest)
{
    // twm keeps to the old conventions: it neither grows a window to full
    // screen nor leaves an undecorated one alone. Its default fonts are not
    // on every machine; "fixed" always is.
    fs::path twmrc = folder / "twmrc";
    std::ofstream(twmrc) << "TitleFont \"fixed\"\nResizeFont \"fixed\"\nMenuFont \"fixed\"\n"
                            "IconFont \"fixed\"\nIconManagerFont \"fixed\"\nRandomPlacement\n";
    windowManager.start({"twm", "-f", twmrc.string()}, folder, {{"DISPLAY", server.display}}, folder / "twm.out",
                        folder / "twm.err");
    ASSERT_TRUE(waitUntil(30.0, [&] { return windowManagerRuns(display) || !windowManager.running(); }));
    ASSERT_TRUE(windowManager.running()) << showReadFile(folder / "twm.err");

    startShow({"--start", "113"});
    waitForShow(nullptr, nullptr);
    Window window = waitForWindow();
    ASSERT_NE(window, 0u);
    std::this_thread::sleep_for(std::chrono::milliseconds(700));
    expectCoversScreen(window);
    xdotool("key Escape");
    expectNormalEnd(30.0);
}

TEST_F(Desktop, WindowOptionGivesAWindowWithTheBusyArrowAndACloseRequestEndsIt)
{
    startShow({"--window", "--start", "60"});
    waitForShow(nullptr, nullptr);
    Window window = waitForWindow();
    ASSERT_NE(window, 0u);
    Box box = screenBox(display, window);
    EXPECT_EQ(box.x, 0);
    EXPECT_EQ(box.y, 0);
    EXPECT_EQ(box.width, 640);
    EXPECT_EQ(box.height, 480);

    // The pointer over the window: the arrow with the small hourglass (its
    // tip is the hot spot), not the X watch (hot spot in its middle).
    int eventBase = 0, errorBase = 0;
    ASSERT_TRUE(XFixesQueryExtension(display, &eventBase, &errorBase));
    XWarpPointer(display, None, DefaultRootWindow(display), 0, 0, 0, 0, 200, 150);
    XSync(display, False);
    XFixesCursorImage* cursor = nullptr;
    waitUntil(10.0, [&] {
        if (cursor != nullptr)
            XFree(cursor);
        cursor = XFixesGetCursorImage(display);
        return cursor != nullptr && cursor->xhot == 0 && cursor->yhot == 0;
    });
    ASSERT_NE(cursor, nullptr);
    EXPECT_EQ(cursor->xhot, 0);
    EXPECT_EQ(cursor->yhot, 0);
    auto opaque = [&](int x0, int y0, int x1, int y1) {
        int count = 0;
        for (int y = y0; y < std::min<int>(y1, cursor->height); y++)
            for (int x = x0; x < std::min<int>(x1, cursor->width); x++)
                count += (cursor->pixels[y * cursor->width + x] >> 24) != 0 ? 1 : 0;
        return count;
    };
    EXPECT_GT(opaque(0, 0, 10, 10), 20);   // the arrow
    EXPECT_GT(opaque(11, 12, 20, 22), 30); // the hourglass below its right
    EXPECT_EQ(opaque(14, 0, 24, 8), 0);    // nothing above the hourglass
    XFree(cursor);

    // The close button of a window manager sends this request.
    Atom protocols = XInternAtom(display, "WM_PROTOCOLS", False);
    XEvent close{};
    close.xclient.type = ClientMessage;
    close.xclient.window = window;
    close.xclient.message_type = protocols;
    close.xclient.format = 32;
    close.xclient.data.l[0] = static_cast<long>(XInternAtom(display, "WM_DELETE_WINDOW", False));
    close.xclient.data.l[1] = CurrentTime;
    XSendEvent(display, window, False, NoEventMask, &close);
    XSync(display, False);
    expectNormalEnd(30.0);
}

TEST_F(Desktop, WindowDestroyedByAnotherProgramEndsLikeAClose)
{
    startShow({"--window", "--start", "120"});
    waitForShow(nullptr, nullptr);
    Window window = waitForWindow();
    ASSERT_NE(window, 0u);
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    xdotool("windowclose " + std::to_string(window));
    expectNormalEnd(30.0);
}

TEST_F(Desktop, SpaceTapsLogTheShowTimeAndAHeldKeyRepeats)
{
    startShow({"--start", "40"});
    Clock::time_point before, seen;
    waitForShow(&before, &seen);
    ASSERT_NE(waitForWindow(), 0u);
    // The show time at a moment: the start, plus the time since the show
    // clock started (which lies between the last two polls).
    auto showTimeAt = [&](Clock::time_point moment, Clock::time_point clockStart) {
        return 40000 + static_cast<int>(std::chrono::duration<double, std::milli>(moment - clockStart).count());
    };
    // A tap logs the frame before it was handled: up to a frame early. A
    // loaded machine may take a few hundred milliseconds per frame and for
    // xdotool to start.
    constexpr int FRAME_ALLOWANCE_MS = 400;
    fs::path tapLog = folder / "spaceTimes.log";
    std::vector<Clock::time_point> tapStart, tapEnd;
    for (int tap = 0; tap < 2; tap++) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1000));
        tapStart.push_back(Clock::now());
        xdotool("key space");
        tapEnd.push_back(Clock::now());
        ASSERT_TRUE(waitUntil(10.0, [&] { return smackedTimes(tapLog).size() == static_cast<size_t>(tap + 1); }))
            << showReadFile(tapLog);
    }
    std::vector<int> taps = smackedTimes(tapLog);
    for (int tap = 0; tap < 2; tap++) {
        EXPECT_GE(taps[tap], showTimeAt(tapStart[tap], seen) - FRAME_ALLOWANCE_MS) << "tap " << tap;
        EXPECT_LE(taps[tap], showTimeAt(tapEnd[tap], before) + 50) << "tap " << tap;
    }

    // Held for a second and a half: the first press and then the server's
    // auto-repeat (after 660 ms, 25 a second), each a line of its own.
    xdotool("keydown space");
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    xdotool("keyup space");
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    std::vector<int> held = smackedTimes(tapLog);
    EXPECT_GE(held.size(), taps.size() + 6) << showReadFile(tapLog);
    EXPECT_TRUE(std::is_sorted(held.begin(), held.end()));
    xdotool("key Escape");
    expectNormalEnd(30.0);
}

// No X server at all, or one that is not there: the show must not play
// unseen on a headless driver.
TEST_F(Desktop, NoDisplayEndsAtOnceWithTheWindowMessage)
{
    std::string unused;
    for (int number = 99; number > 50 && unused.empty(); number--)
        if (!fs::exists("/tmp/.X11-unix/X" + std::to_string(number)) &&
            !fs::exists("/tmp/.X" + std::to_string(number) + "-lock"))
            unused = ":" + std::to_string(number);
    for (const std::string& where : {std::string(), unused}) {
        std::vector<std::pair<std::string, std::string>> environment = sessionEnvironment();
        environment[0].second = where; // DISPLAY: unset, or a display nobody serves
        Child lonely;
        const Clock::time_point start = Clock::now();
        lonely.start({(showDir / "gfxcore").string()}, folder, environment, folder / "stdout.txt",
                     folder / "stderr.txt");
        ASSERT_TRUE(lonely.waitForEnd(20.0)) << "DISPLAY=" << where;
        EXPECT_LT(secondsSince(start), 5.0) << "DISPLAY=" << where;
        EXPECT_TRUE(lonely.exited);
        EXPECT_EQ(lonely.status, 1);
        EXPECT_EQ(showErrorMessage(errorText()), "Can not create window.") << errorText();
        EXPECT_FALSE(fs::exists(folder / "pimplog"));
    }
}

TEST_F(Desktop, HelpAndBadCommandLinesEndBeforeAnythingOpens)
{
    struct Case {
        std::vector<std::string> arguments;
        int status;
        const char* inOutput; // expected in standard output
        const char* inError;  // expected in standard error
        bool oneErrorLine;
    };
    const Case cases[] = {
        {{"--help"}, 0, "usage: gfxcore [--window | --fullscreen] [--start SECONDS]", "", false},
        {{"--version"}, 0, "gfxcore ", "", false},
        {{"--bogus"}, 2, "", "usage: gfxcore", false},
        {{"--window", "extra"}, 2, "", "usage: gfxcore", false},
        {{"--start", "-1"}, 2, "", "--start", true},
        {{"--start", "soon"}, 2, "", "--start", true},
        {{"--start", "165"}, 2, "", "--start", true},
        {{"--start=nan"}, 2, "", "--start", true},
        {{"--start"}, 2, "", "--start", true},
        {{"--renderer", "vulkan"}, 2, "", "--renderer", true},
    };
    for (const Case& test : cases) {
        std::vector<std::string> argv{(showDir / "gfxcore").string()};
        argv.insert(argv.end(), test.arguments.begin(), test.arguments.end());
        Child child;
        child.start(argv, folder, sessionEnvironment(), folder / "stdout.txt", folder / "stderr.txt");
        ASSERT_TRUE(child.waitForEnd(20.0)) << test.arguments[0];
        std::string out = showReadFile(folder / "stdout.txt");
        std::string err = errorText();
        EXPECT_TRUE(child.exited);
        EXPECT_EQ(child.status, test.status) << test.arguments[0];
        EXPECT_NE(out.find(test.inOutput), std::string::npos) << out;
        EXPECT_NE(err.find(test.inError), std::string::npos) << err;
        if (test.oneErrorLine) {
            EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
        }
        EXPECT_FALSE(fs::exists(folder / "pimplog")) << test.arguments[0];
        EXPECT_EQ(findNamedWindow(display, DefaultRootWindow(display), "gfxcore"), 0u);
    }
}

TEST_F(Desktop, InstalledShowWritesItsLogsInTheUsersStateFolder)
{
    const fs::path prefix = folder / "prefix";
    std::string install = std::string("\"") + GFXCORE_CMAKE_COMMAND + "\" --install \"" +
                          fs::path(GFXCORE_SHOW_DIR).parent_path().string() + "\" --prefix \"" + prefix.string() +
                          "\" >\"" + (folder / "install.txt").string() + "\" 2>&1";
    ASSERT_EQ(std::system(install.c_str()), 0) << showReadFile(folder / "install.txt");
    ASSERT_TRUE(fs::exists(prefix / "share/gfxcore/data/hive.png"));
    ASSERT_TRUE(fs::exists(prefix / "share/applications/gfxcore.desktop"));

    // Started from a folder of its own, with the data set nowhere near it;
    // two seconds before the end, so the show ends by itself.
    const fs::path elsewhere = folder / "elsewhere";
    const fs::path state = folder / "state";
    fs::create_directories(elsewhere);
    std::vector<std::pair<std::string, std::string>> environment = sessionEnvironment();
    environment.emplace_back("XDG_STATE_HOME", state.string());
    show.start({(prefix / "bin/gfxcore").string(), "--window", "--start", "163"}, elsewhere, environment,
               folder / "stdout.txt", folder / "stderr.txt");
    ASSERT_TRUE(show.waitForEnd(60.0)) << errorText();
    EXPECT_TRUE(show.exited);
    EXPECT_EQ(show.status, 0) << errorText();
    EXPECT_TRUE(showReadFile(state / "gfxcore/pimplog").ends_with(RELEASE_LINES));
    EXPECT_TRUE(showReadFile(state / "gfxcore/spaceTimes.log").starts_with("spacebarsmackertiminigsystemlog"));
    EXPECT_EQ(fs::read_symlink(state / "gfxcore/data"), prefix / "share/gfxcore/data");
    EXPECT_TRUE(fs::is_empty(elsewhere));
}

} // namespace
