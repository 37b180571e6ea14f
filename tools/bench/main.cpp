// gfxcore-bench: how fast the show runs headless (SDL offscreen, Mesa), on a
// fixed frame schedule so that runs compare.
//
// The figures come from child runs of this program, each a fresh process
// (the renderer's pools and the load sequence run once per process):
//   --child-scenes     load, then a 4 s stretch from the middle of every scene (60 fps
//                      schedule, after 30 warm-up frames, each frame finished before the
//                      next): frame rates; processor cores busy; the calibration quad;
//                      the shader device's program counters where the device has them
//   --child-recording  load and the same stretches on the recording device: CPU time per
//                      frame spent outside the GL driver; the polygonizer benchmarks
//   --child-load       one timed load sequence (the music silent)
//   --child-show       the whole show on a 20 fps schedule (peak resident memory)
// and the extra benchmarks that other files of this folder register (bench.h).
// The scene child runs once per scene and renderer (gl and es by default, or
// those given with --renderer, repeatable), the renderers of a scene one
// after the other; the table puts them side by side.
// A child option followed by --scene N measures scene N only, --frames N
// measures N frames instead of the stretch's 240, --warmup N draws N warm-up
// frames instead of 30, --no-calibration leaves the calibration quad out
// (for profilers: callgrind with LP_NUM_THREADS=0 counts the rasteriser's
// instructions per frame).
// --rounds N measures every scene N times (3 by default, 1 with --scene),
// round after round, the renderers taking turns going first, and reports the
// median of each figure over the rounds (the ratio to gl: the median of the
// rounds' ratios).
// Children print "key value" lines; the parent prints one table, or JSON with --json.
#include "tools/bench/bench.h"

#include "dgl/dgl.h"
#include "effects/screen_quad.h"
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
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

constexpr int SCHEDULE_FPS = 60;
int stretchFrames = 240;            // 4 s of each scene, measured
int warmupFrames = 30;              // drawn before the stretch: beats catch up, caches fill
constexpr int LOAD_RUNS = 5;
int onlyScene = 0; // 0: every scene
Renderer childRenderer = Renderer::gl;
bool calibrate = true;              // off with --no-calibration (profilers count the stretch only)
int rounds = 0;                     // --rounds N: every scene N times, figures the median (0: 3, or 1 with --scene)
const char* const SCENE_NAMES[TIMELINE_SCENE_COUNT] = {"1 metaballs",    "2 model echoes", "3 wave whirl",
                                                         "4 city clips",   "5 cube field",   "6 knot sprites",
                                                         "7 video panel",  "8 branch sculpture"};

// Goals the table marks.
constexpr double GOAL_MEDIAN_FPS = 60.0;
constexpr double GOAL_P5_FPS = 45.0;
constexpr double GOAL_CPU_MS = 0.2;
constexpr double GOAL_RATIO = 0.9;       // another renderer's median against gl's
constexpr double GOAL_RATIO_FILL = 1.3;  // the same on the fill-bound scenes 2 and 6

std::vector<std::string> passedOptions; // the measuring options, handed to the children

BenchExtra extras[BENCH_EXTRA_CAPACITY];
int extraCount = 0;

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

// The shader device's program counters; the fixed-function device's record
// may not have them, and then the figures are not printed.
template <typename Counters>
bool programCounters(const Counters& counters, double* compiled, double* hits)
{
    if constexpr (requires { counters.programsCompiled; counters.programCacheHits; }) {
        *compiled = static_cast<double>(counters.programsCompiled);
        *hits = static_cast<double>(counters.programCacheHits);
        return true;
    } else {
        return false;
    }
}

// A measured frame: its own function so that a profiler can count it alone
// (callgrind --toggle-collect='*drawMeasuredFrame*').
[[gnu::noinline]] void drawMeasuredFrame(int t) { benchDrawFrame(t); }

// Every scene's stretch in show order; per frame the wall time (OpenGL) or
// the CPU time (recording device).
void runStretches(bool cpuTime)
{
    for (int scene = 0; scene < TIMELINE_SCENE_COUNT; ++scene) {
        if (onlyScene != 0 && scene + 1 != onlyScene)
            continue;
        std::vector<double> frameMs;
        std::vector<double> frameHits;
        double compiled = 0.0;
        bool haveProgramCounters = false;
        auto countPrograms = [&](bool measured) {
            if (cpuTime)
                return;
            double frameCompiled = 0.0, hits = 0.0;
            haveProgramCounters = programCounters(glDeviceLastFrameCounters(), &frameCompiled, &hits);
            compiled += frameCompiled;
            if (measured)
                frameHits.push_back(hits);
        };
        // The stretch lies in the middle of the scene's window, where it
        // shows what it is about (not a fade-in); the scene's first frame is
        // drawn at its start as in the show, so its state is set up. The
        // first scene's window opens at the table's INT_MIN: the show starts at 0.
        const int windowStart = std::max(0, timelineScenes[scene].start);
        const int windowEnd = timelineScenes[scene].end;
        const int stretchStart = std::max(windowStart, (windowStart + windowEnd) / 2 - 2000);
        benchDrawFrame(windowStart);
        countPrograms(false);
        for (int frame = -warmupFrames; frame < 0; ++frame) {
            benchDrawFrame(scheduleTime(stretchStart, frame));
            countPrograms(false);
        }
        Clock::time_point last = Clock::now();
        double lastCpu = cpuMs();
        const Clock::time_point stretchBegin = last;
        const double stretchBeginCpu = lastCpu;
        for (int frame = 0; frame < stretchFrames; ++frame) {
            drawMeasuredFrame(scheduleTime(stretchStart, frame));
            Clock::time_point now = Clock::now();
            double nowCpu = cpuMs();
            frameMs.push_back(cpuTime ? nowCpu - lastCpu : elapsedMs(last, now));
            last = now;
            lastCpu = nowCpu;
            countPrograms(true);
        }
        if (cpuTime) {
            std::printf("cpu_ms_%d %.4f\n", scene + 1, benchPercentile(frameMs, 0.5));
        } else {
            std::printf("frame_ms_%d %.4f\n", scene + 1, benchPercentile(frameMs, 0.5));
            std::printf("fps_median_%d %.2f\n", scene + 1, 1000.0 / benchPercentile(frameMs, 0.5));
            std::printf("fps_p5_%d %.2f\n", scene + 1, 1000.0 / benchPercentile(frameMs, 0.95));
            // Processor time of all the process's threads (the driver's
            // rasteriser threads too) over the wall time: at the machine's
            // core count a scene is bound by the processor, not by waits.
            const double wallMs = elapsedMs(stretchBegin, last);
            std::printf("cores_busy_%d %.3f\n", scene + 1, wallMs > 0.0 ? (lastCpu - stretchBeginCpu) / wallMs : 0.0);
            if (haveProgramCounters) {
                std::printf("programs_compiled_%d %.0f\n", scene + 1, compiled);
                std::printf("program_hits_%d %.0f\n", scene + 1, benchPercentile(frameHits, 0.5));
            }
        }
        std::fflush(stdout);
    }
}

// The calibration unit: one 640x480 full-screen quad, textured and blended
// by its texture's alpha, the kind of draw the scenes are made of. Frames
// of QUADS such quads alternate with empty frames; the difference of their
// median times over QUADS is the time of one quad, without the present.
constexpr int CALIBRATION_QUADS = 16;
constexpr int CALIBRATION_PAIRS = 24;

double calibrationQuadMs()
{
    IDirect3DTexture8* texture = dglCreateTexture(256, 256, false, D3DFMT_A8R8G8B8);
    const DglTextureLock lock = dglLockTexture(texture);
    for (int y = 0; y < 256; ++y) {
        DWORD* row = reinterpret_cast<DWORD*>(reinterpret_cast<std::uint8_t*>(lock.texels) + y * lock.pitch);
        for (int x = 0; x < 256; ++x)
            row[x] = static_cast<DWORD>(((x + y) & 0xFF) << 24 | (x << 16) | (y << 8) | ((x ^ y) & 0xFF));
    }
    dglUnlockTexture(texture);

    dglResetState();
    dglSetRenderTarget(nullptr, nullptr);
    dglEnable(DGL_BLEND);
    dglSetSourceBlend(D3DBLEND_SRCALPHA);
    dglSetDestinationBlend(D3DBLEND_INVSRCALPHA);
    dglBindTexture(0, texture);
    std::vector<double> empty;
    std::vector<double> full;
    for (int pair = -2; pair < CALIBRATION_PAIRS; ++pair) {
        for (int quads : {0, CALIBRATION_QUADS}) {
            Clock::time_point before = Clock::now();
            dglClearColorBuffer(0xFF203040);
            for (int quad = 0; quad < quads; ++quad)
                drawScreenQuad(640.0f, 480.0f, 640.0f, 480.0f, 0.0f, 0.0f, 0.0f, 0xFFFFFFFF);
            dglSwapBuffers();
            const double ms = elapsedMs(before, Clock::now());
            if (pair >= 0)
                (quads == 0 ? empty : full).push_back(ms);
        }
    }
    dglUnbindTexture(0);
    dglDisable(DGL_BLEND);
    dglResetState();
    const double quadMs = (benchPercentile(full, 0.5) - benchPercentile(empty, 0.5)) / CALIBRATION_QUADS;
    return std::max(quadMs, 1.0e-4);
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
    HWND window = benchStartRenderer();
    loadAndPrecalc(window);
    if (calibrate)
        std::printf("calibration_quad_ms %.4f\n", calibrationQuadMs());
    std::fflush(stdout);
    runStretches(false);
    std::fflush(stdout);
    std::_Exit(0);
}

int childRecording()
{
    recordingInstall();
    recordingSetLogging(false);
    HWND window = benchStartRenderer();
    runPolygonizerBenchmarks();
    loadAndPrecalc(window);
    runStretches(true);
    std::fflush(stdout);
    std::_Exit(0);
}

int childLoad()
{
    HWND window = benchStartRenderer();
    Clock::time_point before = Clock::now();
    loadAndPrecalc(window);
    std::printf("load_ms %.2f\n", elapsedMs(before, Clock::now()));
    std::fflush(stdout);
    std::_Exit(0);
}

int childShow()
{
    HWND window = benchStartRenderer();
    loadAndPrecalc(window);
    std::printf("rss_mb_after_load %.1f\n", benchResidentMb());
    std::fflush(stdout);
    // Ends through the show's own exit path at 165000; the resident memory
    // at the end of each scene shows where it grows.
    int scene = 0;
    for (int frame = 0;; ++frame) {
        const int t = frame * 50;
        if (scene < TIMELINE_SCENE_COUNT - 1 && t >= timelineScenes[scene].end) {
            std::printf("rss_mb_scene_%d %.1f\n", scene + 1, benchResidentMb());
            std::fflush(stdout);
            ++scene;
        }
        benchDrawFrame(t);
    }
}

// Runs this program with one child option and the renderer; collects its
// "key value" lines under prefix + key.
bool runChild(const char* option, Renderer renderer, const std::string& prefix, BenchFigures& figures,
              long* peakKilobytes, int scene = 0)
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
        // The parent's --scene, --frames and --warmup reach every child.
        std::vector<const char*> arguments = {"gfxcore-bench", option, "--renderer", rendererName(renderer)};
        for (const std::string& passed : passedOptions)
            arguments.push_back(passed.c_str());
        const std::string sceneNumber = std::to_string(scene);
        if (scene != 0)
            arguments.insert(arguments.end(), {"--scene", sceneNumber.c_str()});
        arguments.push_back(nullptr);
        execv("/proc/self/exe", const_cast<char* const*>(arguments.data()));
        std::_Exit(127);
    }
    close(pipeEnds[1]);
    FILE* output = fdopen(pipeEnds[0], "r");
    char line[512];
    while (output != nullptr && std::fgets(line, sizeof line, output) != nullptr) {
        char key[256];
        double value = 0.0;
        if (std::sscanf(line, "%255s %lf", key, &value) == 2)
            figures[prefix + key] = value;
    }
    if (output != nullptr)
        std::fclose(output);
    int status = 0;
    rusage usage{};
    wait4(child, &status, 0, &usage);
    if (peakKilobytes != nullptr)
        *peakKilobytes = usage.ru_maxrss;
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::fprintf(stderr, "gfxcore-bench: %s --renderer %s failed (status %d)\n", option, rendererName(renderer),
                     status);
        return false;
    }
    return true;
}

const char* mark(bool met) { return met ? "ok" : "MISSED"; }

double figure(const BenchFigures& figures, const std::string& key)
{
    auto found = figures.find(key);
    return found == figures.end() ? 0.0 : found->second;
}

std::string prefixOf(Renderer renderer) { return std::string(rendererName(renderer)) + "."; }

std::string sceneKey(Renderer renderer, const char* name, int scene)
{
    return prefixOf(renderer) + name + "_" + std::to_string(scene);
}

double ratioGoal(int scene) { return scene == 2 || scene == 6 ? GOAL_RATIO_FILL : GOAL_RATIO; }

// A renderer's median against gl's (0 when either is missing); over rounds,
// the median of the rounds' ratios.
double medianRatio(const BenchFigures& figures, Renderer renderer, int scene)
{
    const std::string overRounds = sceneKey(renderer, "ratio_to_gl", scene);
    if (figures.count(overRounds) != 0)
        return figure(figures, overRounds);
    const double base = figure(figures, sceneKey(Renderer::gl, "fps_median", scene));
    return base > 0.0 ? figure(figures, sceneKey(renderer, "fps_median", scene)) / base : 0.0;
}

// A scene's median frame time in calibration quads (the quad timed by the
// same child, just before the scene).
double frameInQuads(const BenchFigures& figures, Renderer renderer, int scene)
{
    const double quad = figure(figures, sceneKey(renderer, "calibration_quad_ms", scene));
    return quad > 0.0 ? figure(figures, sceneKey(renderer, "frame_ms", scene)) / quad : 0.0;
}

// The calibration quad over the scenes' children: the median.
double calibrationQuad(const BenchFigures& figures, Renderer renderer)
{
    std::vector<double> quads;
    for (int scene = 1; scene <= TIMELINE_SCENE_COUNT; ++scene)
        if (figures.count(sceneKey(renderer, "calibration_quad_ms", scene)) != 0)
            quads.push_back(figure(figures, sceneKey(renderer, "calibration_quad_ms", scene)));
    return benchPercentile(quads, 0.5);
}

bool hasProgramFigures(const BenchFigures& figures, Renderer renderer)
{
    for (int scene = 1; scene <= TIMELINE_SCENE_COUNT; ++scene)
        if (figures.count(sceneKey(renderer, "programs_compiled", scene)) != 0)
            return true;
    return false;
}

void printJson(const BenchFigures& figures, const std::vector<Renderer>& renderers, double speedup)
{
    std::printf("{\n  \"renderers\": {\n");
    for (std::size_t r = 0; r < renderers.size(); ++r) {
        const Renderer renderer = renderers[r];
        std::printf("    \"%s\": {\n      \"calibration_quad_ms\": %.4f,\n      \"scenes\": [\n",
                    rendererName(renderer), calibrationQuad(figures, renderer));
        for (int scene = 1; scene <= TIMELINE_SCENE_COUNT; ++scene) {
            std::printf("        {\"scene\": %d, \"name\": \"%s\", \"fps_median\": %.2f, \"fps_p5\": %.2f, "
                        "\"frame_in_quads\": %.1f, \"ratio_to_gl\": %.3f",
                        scene, SCENE_NAMES[scene - 1] + 2, figure(figures, sceneKey(renderer, "fps_median", scene)),
                        figure(figures, sceneKey(renderer, "fps_p5", scene)), frameInQuads(figures, renderer, scene),
                        medianRatio(figures, renderer, scene));
            std::printf(", \"cores_busy\": %.2f", figure(figures, sceneKey(renderer, "cores_busy", scene)));
            if (hasProgramFigures(figures, renderer))
                std::printf(", \"programs_compiled\": %.0f, \"program_hits_per_frame\": %.0f",
                            figure(figures, sceneKey(renderer, "programs_compiled", scene)),
                            figure(figures, sceneKey(renderer, "program_hits", scene)));
            std::printf("}%s\n", scene < TIMELINE_SCENE_COUNT ? "," : "");
        }
        std::printf("      ]\n    }%s\n", r + 1 < renderers.size() ? "," : "");
    }
    std::printf("  },\n  \"cpu_ms_per_frame\": [");
    for (int scene = 1; scene <= TIMELINE_SCENE_COUNT; ++scene)
        std::printf("%.4f%s", figure(figures, "cpu_ms_" + std::to_string(scene)),
                    scene < TIMELINE_SCENE_COUNT ? ", " : "");
    std::printf("],\n");
    for (int e = 0; e < extraCount; ++e)
        extras[e].print(figures, true);
    std::printf("  \"load_ms_median\": %.2f,\n  \"polygonize_ms_median\": %.4f,\n"
                "  \"sweep_ms_median\": %.4f,\n  \"polygonize_speedup\": %.2f,\n  \"peak_rss_mb\": %.1f\n}\n",
                figure(figures, "load_ms_median"), figure(figures, "polygonize_ms"), figure(figures, "sweep_ms"),
                speedup, figure(figures, "peak_rss_mb"));
}

void printTable(const BenchFigures& figures, const std::vector<Renderer>& renderers, double speedup)
{
    // One group of columns per renderer (median, 5th percentile, frame time
    // in calibration quads), then each other renderer's ratio to gl.
    std::printf("%-20s", "scene");
    for (Renderer renderer : renderers)
        std::printf(" | %-4s %7s %8s %6s", rendererName(renderer), "median", "5th pct", "quads");
    for (Renderer renderer : renderers)
        if (renderer != Renderer::gl && renderers.front() == Renderer::gl)
            std::printf(" | %4s/gl", rendererName(renderer));
    std::printf(" | %s\n", "CPU ms/frame");
    for (int scene = 1; scene <= TIMELINE_SCENE_COUNT; ++scene) {
        if (onlyScene != 0 && scene != onlyScene)
            continue;
        std::printf("%-20s", SCENE_NAMES[scene - 1]);
        for (Renderer renderer : renderers) {
            const double median = figure(figures, sceneKey(renderer, "fps_median", scene));
            const double low = figure(figures, sceneKey(renderer, "fps_p5", scene));
            std::printf(" |      %6.1f%s %7.1f%s %6.1f", median, median >= GOAL_MEDIAN_FPS ? " " : "!", low,
                        low >= GOAL_P5_FPS ? " " : "!", frameInQuads(figures, renderer, scene));
        }
        for (Renderer renderer : renderers) {
            if (renderer == Renderer::gl || renderers.front() != Renderer::gl)
                continue;
            const double ratio = medianRatio(figures, renderer, scene);
            std::printf(" | %6.2f%s", ratio, ratio >= ratioGoal(scene) ? " " : "!");
        }
        const double cpu = figure(figures, "cpu_ms_" + std::to_string(scene));
        std::printf(" | %8.3f%s\n", cpu, cpu < GOAL_CPU_MS ? "" : " !");
    }
    std::printf("(! marks a figure below its goal: median >= %.0f fps, 5th percentile >= %.0f fps, ratio to gl\n"
                " >= %.1f (%.1f on scenes 2 and 6), CPU per frame outside the driver < %.1f ms; quads: the median\n"
                " frame time in calibration quads)\n\n",
                GOAL_MEDIAN_FPS, GOAL_P5_FPS, GOAL_RATIO, GOAL_RATIO_FILL, GOAL_CPU_MS);

    for (Renderer renderer : renderers)
        std::printf("%-4s calibration quad (640x480, textured, alpha-blended) %8.3f ms (median over the scenes)\n",
                    rendererName(renderer), calibrationQuad(figures, renderer));
    for (Renderer renderer : renderers) {
        std::printf("%-4s processor cores busy in the stretch (of %ld), per scene:", rendererName(renderer),
                    sysconf(_SC_NPROCESSORS_ONLN));
        for (int scene = 1; scene <= TIMELINE_SCENE_COUNT; ++scene)
            if (onlyScene == 0 || scene == onlyScene)
                std::printf(" %.2f", figure(figures, sceneKey(renderer, "cores_busy", scene)));
        std::printf("\n");
    }
    // The fixed-function device builds no programs: its zeros say nothing.
    for (Renderer renderer : renderers) {
        if (renderer == Renderer::gl || !hasProgramFigures(figures, renderer))
            continue;
        std::printf("%-4s programs compiled after loading, per scene:", rendererName(renderer));
        for (int scene = 1; scene <= TIMELINE_SCENE_COUNT; ++scene)
            if (onlyScene == 0 || scene == onlyScene)
                std::printf(" %.0f", figure(figures, sceneKey(renderer, "programs_compiled", scene)));
        std::printf("\n%-4s program-cache hits per frame (median), per scene:", rendererName(renderer));
        for (int scene = 1; scene <= TIMELINE_SCENE_COUNT; ++scene)
            if (onlyScene == 0 || scene == onlyScene)
                std::printf(" %.0f", figure(figures, sceneKey(renderer, "program_hits", scene)));
        std::printf("\n");
    }
    std::printf("\n");
    if (onlyScene != 0)
        return;
    for (int e = 0; e < extraCount; ++e)
        extras[e].print(figures, false);
    const double load = figure(figures, "load_ms_median");
    const double polygonize = figure(figures, "polygonize_ms");
    const double peak = figure(figures, "peak_rss_mb");
    std::printf("%-36s %10.1f ms   %s (goal <= 1000)\n", "loadAndPrecalc, median of 5", load, mark(load <= 1000.0));
    std::printf("%-36s %10.3f ms   %s (goal <= 1)\n", "polygonizer, scene 1 surface, median", polygonize,
                mark(polygonize <= 1.0));
    std::printf("%-36s %10.3f ms   %.1fx %s (goal >= 5x)\n", "full-grid sweep, median", figure(figures, "sweep_ms"),
                speedup, mark(speedup >= 5.0));
    std::printf("%-36s %10.1f MB   %s (goal <= 400)\n", "peak resident memory, whole show", peak, mark(peak <= 400.0));
}

[[noreturn]] void usage()
{
    std::fprintf(stderr, "usage: gfxcore-bench [--renderer %s]... [--scene N] [--frames N] [--warmup N]\n"
                 "                     [--rounds N] [--no-calibration] [--json]\n",
                 kRendererNames);
    std::exit(2);
}

} // namespace

bool benchRegisterExtra(const BenchExtra& extra)
{
    if (extraCount >= BENCH_EXTRA_CAPACITY)
        return false;
    extras[extraCount++] = extra;
    return true;
}

Renderer benchRenderer() { return childRenderer; }

HWND benchStartRenderer()
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

void benchDrawFrame(int t)
{
    Timeline(t, static_cast<float>(t * 0.001));
    dglSwapBuffers();
}

double benchPercentile(std::vector<double> values, double fraction)
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

double benchResidentMb()
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

int main(int argc, char** argv)
{
    bool json = false;
    std::vector<Renderer> renderers;
    const char* childOption = nullptr;
    for (int i = 1; i < argc; ++i) {
        const bool hasValue = i + 1 < argc;
        const bool measuring = std::strcmp(argv[i], "--scene") == 0 || std::strcmp(argv[i], "--frames") == 0 ||
                               std::strcmp(argv[i], "--warmup") == 0;
        if (measuring && hasValue) {
            passedOptions.insert(passedOptions.end(), {argv[i], argv[i + 1]});
            const int value = std::atoi(argv[i + 1]);
            if (argv[i][2] == 's')
                onlyScene = value;
            else if (argv[i][2] == 'f')
                stretchFrames = std::max(1, value);
            else
                warmupFrames = std::max(0, value);
            ++i;
        } else if (std::strcmp(argv[i], "--renderer") == 0 && hasValue) {
            Renderer renderer;
            if (!rendererFromName(argv[++i], &renderer))
                usage();
            if (std::find(renderers.begin(), renderers.end(), renderer) == renderers.end())
                renderers.push_back(renderer);
        } else if (std::strcmp(argv[i], "--rounds") == 0 && hasValue) {
            rounds = std::max(1, std::atoi(argv[++i]));
        } else if (std::strcmp(argv[i], "--no-calibration") == 0) {
            calibrate = false;
            passedOptions.push_back(argv[i]);
        } else if (std::strcmp(argv[i], "--json") == 0) {
            json = true;
        } else if (std::strncmp(argv[i], "--child-", 8) == 0) {
            childOption = argv[i];
        } else {
            usage();
        }
    }

    if (childOption != nullptr) {
        childRenderer = renderers.empty() ? Renderer::gl : renderers.front();
        selectRenderer(childRenderer);
        if (std::strcmp(childOption, "--child-scenes") == 0)
            return childScenes();
        if (std::strcmp(childOption, "--child-recording") == 0)
            return childRecording();
        if (std::strcmp(childOption, "--child-load") == 0)
            return childLoad();
        if (std::strcmp(childOption, "--child-show") == 0)
            return childShow();
        for (int e = 0; e < extraCount; ++e)
            if (std::strcmp(childOption, extras[e].option) == 0)
                return extras[e].run();
        usage();
    }

    // Three rounds unless asked: a single one moves with the machine's
    // spells; one scene alone is for profilers, which want one child each.
    if (rounds == 0)
        rounds = onlyScene != 0 ? 1 : 3;
    // The ratios are to gl, the reference: it is measured whenever another
    // renderer is, and first.
    if (renderers.empty())
        renderers = {Renderer::gl, Renderer::es};
    if (renderers.size() > 1 && std::find(renderers.begin(), renderers.end(), Renderer::gl) == renderers.end())
        renderers.insert(renderers.begin(), Renderer::gl);
    std::stable_partition(renderers.begin(), renderers.end(), [](Renderer r) { return r == Renderer::gl; });
    BenchFigures figures;
    bool ok = true;
    // Each round measures every scene, each renderer in a child of its own,
    // the renderers of a scene one right after the other: a load that comes
    // and goes on the machine then weighs on both renderers' figures of a
    // scene alike, and the ratio to gl is taken within the round. With
    // --rounds the renderers take turns going first and the rounds follow
    // one another over the whole run, so that a slow spell of the machine
    // lands in one round of a scene rather than in all of them; each figure
    // (the ratio too) is the median over the rounds.
    std::map<std::string, std::vector<double>> samples;
    for (int round = 0; round < rounds; ++round) {
        for (int scene = 1; scene <= TIMELINE_SCENE_COUNT; ++scene) {
            if (onlyScene != 0 && scene != onlyScene)
                continue;
            std::vector<Renderer> order = renderers;
            if (round % 2 == 1)
                std::reverse(order.begin(), order.end());
            BenchFigures pair;
            for (Renderer renderer : order) {
                BenchFigures child;
                ok = runChild("--child-scenes", renderer, prefixOf(renderer), child, nullptr, scene) && ok;
                const std::string quad = prefixOf(renderer) + "calibration_quad_ms";
                if (child.count(quad) != 0)
                    child[quad + "_" + std::to_string(scene)] = child[quad];
                child.erase(quad);
                pair.insert(child.begin(), child.end());
            }
            for (const auto& [key, value] : pair)
                samples[key].push_back(value);
            for (Renderer renderer : renderers) {
                if (renderer == Renderer::gl)
                    continue;
                const double ratio = medianRatio(pair, renderer, scene);
                if (ratio > 0.0)
                    samples[sceneKey(renderer, "ratio_to_gl", scene)].push_back(ratio);
            }
        }
    }
    for (auto& [key, values] : samples)
        figures[key] = benchPercentile(values, 0.5);
    ok = runChild("--child-recording", Renderer::gl, "", figures, nullptr) && ok;
    // One scene's figures (--scene) are what a change to that scene needs:
    // no load runs, whole show or extras then.
    if (onlyScene != 0) {
        if (json)
            printJson(figures, renderers, 0.0);
        else
            printTable(figures, renderers, 0.0);
        return ok ? 0 : 1;
    }
    std::vector<double> loads;
    for (int run = 0; run < LOAD_RUNS; ++run) {
        BenchFigures load;
        if (runChild("--child-load", renderers.front(), "", load, nullptr))
            loads.push_back(load["load_ms"]);
    }
    figures["load_ms_median"] = benchPercentile(loads, 0.5);
    long peakKilobytes = 0;
    BenchFigures show;
    ok = runChild("--child-show", renderers.front(), "", show, &peakKilobytes) && ok;
    figures["peak_rss_mb"] = static_cast<double>(peakKilobytes) / 1024.0;
    for (int e = 0; e < extraCount; ++e)
        ok = runChild(extras[e].option, renderers.front(), "", figures, nullptr) && ok;

    const double polygonize = figure(figures, "polygonize_ms");
    const double speedup = polygonize > 0.0 ? figure(figures, "sweep_ms") / polygonize : 0.0;
    if (json)
        printJson(figures, renderers, speedup);
    else
        printTable(figures, renderers, speedup);
    return ok ? 0 : 1;
}
