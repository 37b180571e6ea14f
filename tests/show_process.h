// Runs a program of the show folder (the show itself, the capture tool) as a
// child process in a folder of the test's choosing, headless, with a time
// bound, and reports how it ended: exit status or signal, what it wrote to
// standard error, and the loading log it left. Used by the tests that judge
// the whole program from outside (bad data files, lost devices, soak).
// Depends on: POSIX (fork, exec, waitpid, kill).
#pragma once

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <utility>
#include <vector>

struct ShowRunOptions {
    std::string program;                  // absolute path of the executable
    std::vector<std::string> arguments;   // after the program name
    std::string folder;                   // working directory (holds data/)
    std::vector<std::pair<std::string, std::string>> environment; // set (value) or, with value "\x01unset", removed
    double timeLimitSeconds = 30.0;       // then the child is killed (SIGKILL)
    // When the loading log holds this text, the child gets SIGTERM (a close
    // request) after settleSeconds: a show that plays on is ended that way.
    std::string stopWhenLogHas;
    double settleSeconds = 1.0;
    // Called about every 20 ms while the child runs (e.g. to sample its memory).
    std::function<void(pid_t child, double seconds)> onTick;
};

struct ShowRunResult {
    bool started = false;
    bool exited = false;   // ended by exit() with status
    int status = -1;
    int signal = 0;        // ended by this signal (a crash, or the time bound)
    bool timedOut = false;
    bool stopped = false;  // stopWhenLogHas was seen and SIGTERM sent
    double seconds = 0.0;
    std::string errorText; // standard error
    std::string log;       // the loading log (pimplog) afterwards, "" when none
};

inline std::string showReadFile(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// The lines of a loading log, each with its "\r\n" removed. A last line
// without one is kept as it is (marked by the caller's own check).
inline std::vector<std::string> showLogLines(const std::string& log)
{
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < log.size()) {
        std::size_t end = log.find("\r\n", start);
        if (end == std::string::npos) {
            lines.push_back(log.substr(start));
            break;
        }
        lines.push_back(log.substr(start, end - start));
        start = end + 2;
    }
    return lines;
}

// The message the show ended with: the text after "ZOR-02: Error!: " on the
// last such line of standard error, or "" when there is none.
inline std::string showErrorMessage(const std::string& errorText)
{
    const std::string caption = "ZOR-02: Error!: ";
    std::size_t at = errorText.rfind(caption);
    if (at == std::string::npos)
        return "";
    std::size_t begin = at + caption.size();
    std::size_t end = errorText.find('\n', begin);
    return errorText.substr(begin, end == std::string::npos ? std::string::npos : end - begin);
}

inline ShowRunResult runShowProgram(const ShowRunOptions& options)
{
    ShowRunResult result;
    const std::filesystem::path folder = options.folder;
    const std::filesystem::path errorFile = folder / "stderr.txt";
    const std::filesystem::path logFile = folder / "pimplog";
    const auto began = std::chrono::steady_clock::now();

    pid_t child = fork();
    if (child < 0)
        return result;
    if (child == 0) {
        if (chdir(options.folder.c_str()) != 0)
            _exit(126);
        int errorOut = open(errorFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        int nothing = open("/dev/null", O_RDWR | O_CLOEXEC);
        if (errorOut < 0 || nothing < 0)
            _exit(126);
        dup2(nothing, 0);
        dup2(nothing, 1);
        dup2(errorOut, 2);
        for (const auto& [name, value] : options.environment) {
            if (value == "\x01unset")
                unsetenv(name.c_str());
            else
                setenv(name.c_str(), value.c_str(), 1);
        }
        std::vector<char*> argv;
        argv.push_back(const_cast<char*>(options.program.c_str()));
        for (const std::string& argument : options.arguments)
            argv.push_back(const_cast<char*>(argument.c_str()));
        argv.push_back(nullptr);
        execv(options.program.c_str(), argv.data());
        _exit(127);
    }
    result.started = true;

    auto elapsed = [&]() {
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
    };
    double stopAt = -1.0;
    int waitStatus = 0;
    for (;;) {
        pid_t done = waitpid(child, &waitStatus, WNOHANG);
        if (done == child)
            break;
        if (elapsed() > options.timeLimitSeconds && !result.timedOut) {
            result.timedOut = true;
            kill(child, SIGKILL);
        }
        if (!options.stopWhenLogHas.empty() && !result.stopped) {
            if (stopAt < 0.0 && showReadFile(logFile).find(options.stopWhenLogHas) != std::string::npos)
                stopAt = elapsed() + options.settleSeconds;
            if (stopAt >= 0.0 && elapsed() >= stopAt) {
                result.stopped = true;
                kill(child, SIGTERM);
            }
        }
        if (options.onTick)
            options.onTick(child, elapsed());
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    result.seconds = elapsed();
    if (WIFEXITED(waitStatus)) {
        result.exited = true;
        result.status = WEXITSTATUS(waitStatus);
    } else if (WIFSIGNALED(waitStatus)) {
        result.signal = WTERMSIG(waitStatus);
    }
    result.errorText = showReadFile(errorFile);
    std::error_code missing;
    if (std::filesystem::exists(logFile, missing))
        result.log = showReadFile(logFile);
    return result;
}

// Resident memory of a process in kB (VmRSS), -1 when it is gone.
inline long showResidentKilobytes(pid_t process)
{
    std::string status = showReadFile("/proc/" + std::to_string(process) + "/status");
    std::size_t at = status.find("VmRSS:");
    return at == std::string::npos ? -1 : std::strtol(status.c_str() + at + 6, nullptr, 10);
}

// A fresh empty folder under the system's temporary folder.
inline std::filesystem::path showMakeTempFolder(const std::string& prefix)
{
    std::string pattern = (std::filesystem::temp_directory_path() / (prefix + "-XXXXXX")).string();
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    if (mkdtemp(buffer.data()) == nullptr)
        return {};
    return std::filesystem::path(buffer.data());
}

// A fresh folder holding only a link to the built data set, to run a show in.
inline std::filesystem::path showMakeDataFolder(const std::string& prefix)
{
    std::filesystem::path folder = showMakeTempFolder(prefix);
    if (!folder.empty())
        std::filesystem::create_directory_symlink(std::filesystem::path(GFXCORE_SHOW_DIR) / "data", folder / "data");
    return folder;
}

// The headless environment of a show run: offscreen video, sound into a
// file of the run's folder.
inline std::vector<std::pair<std::string, std::string>> showHeadlessEnvironment(const std::filesystem::path& folder)
{
    return {{"SDL_VIDEODRIVER", "offscreen"},
            {"SDL_AUDIODRIVER", "disk"},
            {"SDL_DISKAUDIOFILE", (folder / "audio.raw").string()}};
}
