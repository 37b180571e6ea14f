// gfxcore-bench: how fast the show runs headless (SDL offscreen, Mesa), on a
// fixed frame schedule so that runs compare.
//
// The figures come from child runs of this program, each a fresh process
// (the renderer's pools and the load sequence run once per process):
//   --child-scenes     load, then a 4 s stretch from the middle of every scene on the
//                      OpenGL device (60 fps schedule, after 30 warm-up frames, each
//                      frame finished before the next): frame rates
//   --child-recording  load and the same stretches on the recording device: CPU time per
//                      frame spent outside the GL driver; the polygonizer benchmarks
//   --child-load       one timed load sequence (the music silent)
//   --child-show       the whole show on a 20 fps schedule (peak resident memory)
// A child option followed by --scene N measures scene N only, --frames N
// measures N frames instead of the stretch's 240, --warmup N draws N warm-up
// frames instead of 30 (for profilers: callgrind with LP_NUM_THREADS=0
// counts the rasteriser's instructions per frame).
// Children print "key value" lines; the parent prints one table, or JSON with --json.
#include "geometry/metaballs.h"
#include "kernel/loader.h"
#include "kernel/messages.h"
#include "kernel/timeline.h"
#include "platform/audio.h"
#include "platform/clock.h"
#include "platform/gl/gl_device.h"
#include "platform/recording/recording_device.h"
#include "platform/window.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <map>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr int SCHEDULE_FPS = 60;
int stretchFrames = 240;            // 4 s of each scene, measured
int warmupFrames = 30;              // drawn before the stretch: beats catch up, caches fill
constexpr int LOAD_RUNS = 5;
int onlyScene = 0; // 0: every scene
const char* const SCENE_NAMES[TIMELINE_SCENE_COUNT] = {"1 metaballs",    "2 model echoes", "3 wave whirl",
                                                         "4 city clips",   "5 cube field",   "6 knot sprites",
                                                         "7 video panel",  "8 branch sculpture"};

using Clock = std::chrono::steady_clock;

double elapsedMs(Clock::time_point from, Clock::time_point to)
{
    return std::chrono::duration<double, std::milli>(to - from).count();
}

double cpuMs()
{
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) * 1000.0 + static_cast<double>(now.tv_nsec) / 1.0e6;
}

double percentile(std::vector<double> values, double fraction)
{
    if (values.empty())
        return 0.0;
    std::sort(values.begin(), values.end());
    double position = fraction * static_cast<double>(values.size() - 1);
    std::size_t low = static_cast<std::size_t>(position);
    std::size_t high = std::min(low + 1, values.size() - 1);
    double weight = position - static_cast<double>(low);
    return values[low] * (1.0 - weight) + values[high] * weight;
}

int scheduleTime(int start, int frame)
{
    // round(frame * 1000 / fps), also for the warm-up frames before the stretch
    const int twice = frame * 2000;
    return start + (twice >= 0 ? (twice + SCHEDULE_FPS) / (2 * SCHEDULE_FPS) : -((-twice + SCHEDULE_FPS) / (2 * SCHEDULE_FPS)));
}

// The data set lies beside the program.
void enterShowDirectory()
{
    std::error_code ignored;
    if (std::filesystem::is_directory("data", ignored))
        return;
    std::filesystem::path program = std::filesystem::read_symlink("/proc/self/exe", ignored);
    if (program.empty() || chdir(program.parent_path().c_str()) != 0) {
        std::fprintf(stderr, "gfxcore-bench: can not find the data set\n");
        std::exit(2);
    }
}

HWND startRenderer()
{
    setenv("SDL_VIDEODRIVER", "offscreen", 0);
    enterShowDirectory();
    platformSetAudioSilent(true);
    HWND window = platformCreateRenderWindow(640, 480);
    if (window == nullptr) {
        std::fprintf(stderr, "gfxcore-bench: can not create a window\n");
        std::exit(2);
    }
    dglInit(window, 640, 480, false);
    return window;
}

void drawFrame(int t)
{
    Timeline(t, static_cast<float>(t * 0.001));
    dglSwapBuffers();
}

// A measured frame: its own function so that a profiler can count it alone
// (callgrind --toggle-collect='*drawMeasuredFrame*').
[[gnu::noinline]] void drawMeasuredFrame(int t) { drawFrame(t); }

// Every scene's stretch in show order; per frame the wall time (OpenGL) or
// the CPU time (recording device).
void runStretches(bool cpuTime)
{
    for (int scene = 0; scene < TIMELINE_SCENE_COUNT; ++scene) {
        if (onlyScene != 0 && scene + 1 != onlyScene)
            continue;
        std::vector<double> frameMs;
        // The stretch lies in the middle of the scene's window, where it
        // shows what it is about (not a fade-in); the scene's first frame is
        // drawn at its start as in the show, so its state is set up. The
        // first scene's window opens at the table's INT_MIN: the show starts at 0.
        const int windowStart = std::max(0, timelineScenes[scene].start);
        const int windowEnd = timelineScenes[scene].end;
        const int stretchStart = std::max(windowStart, (windowStart + windowEnd) / 2 - 2000);
        drawFrame(windowStart);
        for (int frame = -warmupFrames; frame < 0; ++frame)
            drawFrame(scheduleTime(stretchStart, frame));
        Clock::time_point last = Clock::now();
        double lastCpu = cpuMs();
        for (int frame = 0; frame < stretchFrames; ++frame) {
            drawMeasuredFrame(scheduleTime(stretchStart, frame));
            Clock::time_point now = Clock::now();
            double nowCpu = cpuMs();
            frameMs.push_back(cpuTime ? nowCpu - lastCpu : elapsedMs(last, now));
            last = now;
            lastCpu = nowCpu;
        }
        if (cpuTime) {
            std::printf("cpu_ms_%d %.4f\n", scene + 1, percentile(frameMs, 0.5));
        } else {
            std::printf("fps_median_%d %.2f\n", scene + 1, 1000.0 / percentile(frameMs, 0.5));
            std::printf("fps_p5_%d %.2f\n", scene + 1, 1000.0 / percentile(frameMs, 0.95));
        }
        std::fflush(stdout);
    }
}

// Scene 1's surface: eight balls, a 46-point grid over a cube of 3, threshold
// 17.25, placed as the scene places them at a series of beats.
Vector3 benchBalls[8];
MetaballSurface benchSurface;

void placeBalls(int sample)
{
    const float time = 2200.0f + 429.0f * static_cast<float>(sample % 32);
    for (int i = 0; i < 8; ++i) {
        const float fi = static_cast<float>(i);
        benchBalls[i].x = 0.7f * std::sin(0.0029f * time + fi);
        benchBalls[i].y = 0.6f * std::sin(static_cast<float>(i ^ 8) + 0.00275f * time);
        benchBalls[i].z = 0.6f * std::cos(static_cast<float>(i ^ 5) + 0.00125f * time);
    }
}

void benchmarkPolygonizer(benchmark::State& state, bool sweep)
{
    int sample = 0;
    for (auto _ : state) {
        state.PauseTiming();
        placeBalls(sample++);
        state.ResumeTiming();
        if (sweep)
            polygonizeMetaballsFullSweep(benchSurface);
        else
            polygonizeMetaballs(benchSurface);
        benchmark::DoNotOptimize(benchSurface.faceCount);
    }
    state.counters["faces"] = benchSurface.faceCount;
}

class MedianReporter : public benchmark::BenchmarkReporter {
public:
    bool ReportContext(const Context&) override { return true; }
    void ReportRuns(const std::vector<Run>& runs) override
    {
        for (const Run& run : runs)
            if (run.run_type == Run::RT_Aggregate && run.aggregate_name == "median")
                medians[run.run_name.function_name] = run.GetAdjustedRealTime() * 1.0e-3; // us -> ms
    }
    std::map<std::string, double> medians;
};

void runPolygonizerBenchmarks()
{
    initMetaballSurface(benchSurface, 8, benchBalls, 46, 3.0f, 17.25f, 16000);
    benchmark::RegisterBenchmark("polygonize_walk", benchmarkPolygonizer, false)
        ->Unit(benchmark::kMicrosecond)
        ->Repetitions(9)
        ->MinTime(0.1);
    benchmark::RegisterBenchmark("polygonize_sweep", benchmarkPolygonizer, true)
        ->Unit(benchmark::kMicrosecond)
        ->Repetitions(9)
        ->MinTime(0.1);
    MedianReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    std::printf("polygonize_ms %.4f\n", reporter.medians["polygonize_walk"]);
    std::printf("sweep_ms %.4f\n", reporter.medians["polygonize_sweep"]);
}

int childScenes()
{
    HWND window = startRenderer();
    loadAndPrecalc(window);
    runStretches(false);
    std::fflush(stdout);
    std::_Exit(0);
}

int childRecording()
{
    recordingInstall();
    recordingSetLogging(false);
    HWND window = startRenderer();
    runPolygonizerBenchmarks();
    loadAndPrecalc(window);
    runStretches(true);
    std::fflush(stdout);
    std::_Exit(0);
}

int childLoad()
{
    HWND window = startRenderer();
    Clock::time_point before = Clock::now();
    loadAndPrecalc(window);
    std::printf("load_ms %.2f\n", elapsedMs(before, Clock::now()));
    std::fflush(stdout);
    std::_Exit(0);
}

// Resident memory now, in MB (VmRSS), for the show child's progress lines.
double residentMb()
{
    FILE* status = std::fopen("/proc/self/status", "r");
    char line[256];
    double kilobytes = 0.0;
    while (status != nullptr && std::fgets(line, sizeof line, status) != nullptr)
        if (std::sscanf(line, "VmRSS: %lf", &kilobytes) == 1)
            break;
    if (status != nullptr)
        std::fclose(status);
    return kilobytes / 1024.0;
}

int childShow()
{
    HWND window = startRenderer();
    loadAndPrecalc(window);
    std::printf("rss_mb_after_load %.1f\n", residentMb());
    std::fflush(stdout);
    // Ends through the show's own exit path at 165000; the resident memory
    // at the end of each scene shows where it grows.
    int scene = 0;
    for (int frame = 0;; ++frame) {
        const int t = frame * 50;
        if (scene < TIMELINE_SCENE_COUNT - 1 && t >= timelineScenes[scene].end) {
            std::printf("rss_mb_scene_%d %.1f\n", scene + 1, residentMb());
            std::fflush(stdout);
            ++scene;
        }
        drawFrame(t);
    }
}

// Runs this program with one child option; collects its "key value" lines.
bool runChild(const char* option, std::map<std::string, double>& figures, long* peakKilobytes)
{
    int pipeEnds[2];
    if (pipe(pipeEnds) != 0)
        return false;
    pid_t child = fork();
    if (child < 0)
        return false;
    if (child == 0) {
        dup2(pipeEnds[1], STDOUT_FILENO);
        close(pipeEnds[0]);
        close(pipeEnds[1]);
        execl("/proc/self/exe", "gfxcore-bench", option, static_cast<char*>(nullptr));
        std::_Exit(127);
    }
    close(pipeEnds[1]);
    FILE* output = fdopen(pipeEnds[0], "r");
    char line[512];
    while (output != nullptr && std::fgets(line, sizeof line, output) != nullptr) {
        char key[256];
        double value = 0.0;
        if (std::sscanf(line, "%255s %lf", key, &value) == 2)
            figures[key] = value;
    }
    if (output != nullptr)
        std::fclose(output);
    int status = 0;
    rusage usage{};
    wait4(child, &status, 0, &usage);
    if (peakKilobytes != nullptr)
        *peakKilobytes = usage.ru_maxrss;
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::fprintf(stderr, "gfxcore-bench: %s failed (status %d)\n", option, status);
        return false;
    }
    return true;
}

const char* mark(bool met) { return met ? "ok" : "MISSED"; }

} // namespace

int main(int argc, char** argv)
{
    bool json = false;
    for (int i = 2; i + 1 < argc; ++i) {
        if (std::strcmp(argv[i], "--scene") == 0)
            onlyScene = std::atoi(argv[i + 1]);
        if (std::strcmp(argv[i], "--frames") == 0)
            stretchFrames = std::max(1, std::atoi(argv[i + 1]));
        if (std::strcmp(argv[i], "--warmup") == 0)
            warmupFrames = std::max(0, std::atoi(argv[i + 1]));
    }
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--child-scenes") == 0)
            return childScenes();
        if (std::strcmp(argv[i], "--child-recording") == 0)
            return childRecording();
        if (std::strcmp(argv[i], "--child-load") == 0)
            return childLoad();
        if (std::strcmp(argv[i], "--child-show") == 0)
            return childShow();
        if (std::strcmp(argv[i], "--json") == 0) {
            json = true;
        } else {
            std::fprintf(stderr, "usage: gfxcore-bench [--json]\n");
            return 2;
        }
    }

    std::map<std::string, double> figures;
    bool ok = runChild("--child-scenes", figures, nullptr);
    ok = runChild("--child-recording", figures, nullptr) && ok;
    std::vector<double> loads;
    for (int run = 0; run < LOAD_RUNS; ++run) {
        std::map<std::string, double> load;
        if (runChild("--child-load", load, nullptr))
            loads.push_back(load["load_ms"]);
    }
    figures["load_ms_median"] = percentile(loads, 0.5);
    long peakKilobytes = 0;
    std::map<std::string, double> show;
    ok = runChild("--child-show", show, &peakKilobytes) && ok;
    figures["peak_rss_mb"] = static_cast<double>(peakKilobytes) / 1024.0;

    const double polygonize = figures["polygonize_ms"];
    const double sweep = figures["sweep_ms"];
    const double speedup = polygonize > 0.0 ? sweep / polygonize : 0.0;
    if (json) {
        std::printf("{\n  \"scenes\": [\n");
        for (int scene = 1; scene <= TIMELINE_SCENE_COUNT; ++scene) {
            std::string n = std::to_string(scene);
            std::printf("    {\"scene\": %d, \"name\": \"%s\", \"fps_median\": %.2f, \"fps_p5\": %.2f, "
                        "\"cpu_ms_per_frame\": %.4f}%s\n",
                        scene, SCENE_NAMES[scene - 1] + 2, figures["fps_median_" + n], figures["fps_p5_" + n],
                        figures["cpu_ms_" + n], scene < TIMELINE_SCENE_COUNT ? "," : "");
        }
        std::printf("  ],\n  \"load_ms_median\": %.2f,\n  \"polygonize_ms_median\": %.4f,\n"
                    "  \"sweep_ms_median\": %.4f,\n  \"polygonize_speedup\": %.2f,\n  \"peak_rss_mb\": %.1f\n}\n",
                    figures["load_ms_median"], polygonize, sweep, speedup, figures["peak_rss_mb"]);
        return ok ? 0 : 1;
    }
    std::printf("%-20s %12s %12s %14s\n", "scene", "fps median", "fps 5th pct", "CPU ms/frame");
    for (int scene = 1; scene <= TIMELINE_SCENE_COUNT; ++scene) {
        std::string n = std::to_string(scene);
        double median = figures["fps_median_" + n];
        double low = figures["fps_p5_" + n];
        double cpu = figures["cpu_ms_" + n];
        std::printf("%-20s %9.1f %-2s %9.1f %-2s %11.3f %-2s\n", SCENE_NAMES[scene - 1], median,
                    median >= 60.0 ? "" : "!", low, low >= 45.0 ? "" : "!", cpu, cpu <= 2.0 ? "" : "!");
    }
    std::printf("\n%-36s %10.1f ms   %s (goal <= 1000)\n", "loadAndPrecalc, median of 5",
                figures["load_ms_median"], mark(figures["load_ms_median"] <= 1000.0));
    std::printf("%-36s %10.3f ms   %s (goal <= 1)\n", "polygonizer, scene 1 surface, median", polygonize,
                mark(polygonize <= 1.0));
    std::printf("%-36s %10.3f ms   %.1fx %s (goal >= 5x)\n", "full-grid sweep, median", sweep, speedup,
                mark(speedup >= 5.0));
    std::printf("%-36s %10.1f MB   %s (goal <= 400)\n", "peak resident memory, whole show", figures["peak_rss_mb"],
                mark(figures["peak_rss_mb"] <= 400.0));
    std::printf("(! marks a scene figure below its goal: median >= 60 fps, 5th percentile >= 45, CPU <= 2 ms)\n");
    return ok ? 0 : 1;
}
