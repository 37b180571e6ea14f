// gfxcore-bench, clips: resident memory with seven long clips open as the
// show opens its seven, and what a frame costs at play time when the clip is
// longer than the decoded-frame cache holds.
//
// The clips are written by the ffmpeg program into a temporary folder: 1000
// frames of 256 x 256 (the largest the scenes take), moving, as Motion JPEG
// (every frame a key frame) and as MPEG-4 part 2 with B-frames and a key frame
// every 250, as encoders write by default (such a clip is encoded again at
// open, frame by frame). Four of the seven are Motion JPEG, three MPEG-4. Each is then played as a scene
// plays it: one frame per rendered frame at 60 fps, picked by the beat swing,
// copied into a 256 x 256 texture's memory, for eight beats; each copy's
// processor time (decoding included) is measured.
// Depends on: resources/avi (the show's clip objects), platform/video (cache
// figures), bench.h; the ffmpeg program (the figures are skipped without it).
#include "tools/bench/bench.h"

#include "resources/avi.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <sys/resource.h>
#include <time.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr int CLIP_COUNT = 7;
constexpr int MJPEG_CLIPS = 4;
constexpr int CLIP_FRAMES = 1000;
constexpr int PLAY_FPS = 60;
constexpr int PLAY_BEATS = 8;
constexpr double GOAL_RSS_MB = 500.0;
// A frame's copy at play time, worst case: a few percent of a 60 fps frame.
constexpr double GOAL_COPY_MS = 2.0;

AviStream clips[CLIP_COUNT];

using Clock = std::chrono::steady_clock;

double peakResidentMb()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_maxrss) / 1024.0;
}

// The copies are timed in processor time of this thread: on a machine shared
// with other work the wall clock would measure the other work too.
double threadCpuMs()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) * 1000.0 + static_cast<double>(now.tv_nsec) / 1.0e6;
}

bool writeClip(const std::string& path, const char* codecOptions)
{
    const std::string command = "ffmpeg -nostdin -y -loglevel error -f lavfi -i testsrc2=size=256x256:rate=25 "
                                "-frames:v " + std::to_string(CLIP_FRAMES) + " " + codecOptions + " '" + path +
                                "' >/dev/null 2>&1 </dev/null";
    return std::system(command.c_str()) == 0;
}

struct PlayFigures {
    std::vector<double> copyMs;
    std::uint64_t decodes = 0;
    std::uint64_t mostDecodes = 0; // in one copy
};

// One scene's use of a clip for PLAY_BEATS beats on a 60 fps schedule.
void play(AviStream& clip, std::vector<std::uint32_t>& texture, PlayFigures& figures)
{
    const float factor = aviSwingFactor(clip.frameCount);
    BeatSwing swing;
    for (int frame = 0; frame * 1000 < PLAY_BEATS * AVI_BEAT_MS * PLAY_FPS; ++frame) {
        const std::int32_t r = frame * 1000 / PLAY_FPS;
        const float s = static_cast<float>(r) * 0.001f;
        beatSwingAdvance(swing, r, s);
        const std::int32_t index = beatSwingFrame(swing, s, clip.frameCount, factor);
        const std::uint64_t decodedBefore = videoDecodedFrameCount(clip.frameReader);
        const double before = threadCpuMs();
        clip.copyFrame(index, texture.data(), AVI_TEXTURE_SIZE * 4);
        figures.copyMs.push_back(threadCpuMs() - before);
        const std::uint64_t decodes = videoDecodedFrameCount(clip.frameReader) - decodedBefore;
        figures.decodes += decodes;
        figures.mostDecodes = std::max(figures.mostDecodes, decodes);
    }
}

void printPlay(const char* name, const PlayFigures& figures)
{
    const double frames = static_cast<double>(figures.copyMs.size());
    std::printf("clips_%s_copy_ms_median %.4f\n", name, benchPercentile(figures.copyMs, 0.5));
    std::printf("clips_%s_copy_ms_p99 %.4f\n", name, benchPercentile(figures.copyMs, 0.99));
    std::printf("clips_%s_copy_ms_max %.4f\n", name, benchPercentile(figures.copyMs, 1.0));
    std::printf("clips_%s_decodes_per_copy %.2f\n", name, frames > 0 ? static_cast<double>(figures.decodes) / frames : 0);
    std::printf("clips_%s_decodes_most %llu\n", name, static_cast<unsigned long long>(figures.mostDecodes));
}

int runClips()
{
    const std::filesystem::path folder =
        std::filesystem::temp_directory_path() / ("gfxcore-bench-clips-" + std::to_string(getpid()));
    std::filesystem::create_directories(folder);
    const std::string mjpeg = (folder / "long-mjpeg.avi").string();
    const std::string mpeg4 = (folder / "long-mpeg4.avi").string();
    if (!writeClip(mjpeg, "-c:v mjpeg -q:v 3") || !writeClip(mpeg4, "-c:v mpeg4 -vtag xvid -bf 2 -g 250 -q:v 3")) {
        std::printf("clips_skipped 1\n");
        std::error_code ignored;
        std::filesystem::remove_all(folder, ignored);
        return 0;
    }

    const double residentBefore = benchResidentMb();
    double openMs = 0.0;
    for (int i = 0; i < CLIP_COUNT; ++i) {
        const Clock::time_point before = Clock::now();
        clips[i].open(i < MJPEG_CLIPS ? mjpeg.c_str() : mpeg4.c_str());
        openMs = std::max(openMs, std::chrono::duration<double, std::milli>(Clock::now() - before).count());
    }
    double cachedMb = 0.0;
    for (const AviStream& clip : clips)
        cachedMb += static_cast<double>(videoCachedBytes(clip.frameReader)) / (1024.0 * 1024.0);
    std::printf("clips_open_ms_max %.1f\n", openMs);
    std::printf("clips_cached_mb %.1f\n", cachedMb);
    std::printf("clips_rss_mb_before %.1f\n", residentBefore);
    std::printf("clips_rss_mb_open %.1f\n", benchResidentMb());

    std::vector<std::uint32_t> texture(static_cast<std::size_t>(AVI_TEXTURE_SIZE) * AVI_TEXTURE_SIZE);
    PlayFigures mjpegPlay;
    PlayFigures mpeg4Play;
    for (int i = 0; i < CLIP_COUNT; ++i)
        play(clips[i], texture, i < MJPEG_CLIPS ? mjpegPlay : mpeg4Play);
    printPlay("mjpeg", mjpegPlay);
    printPlay("mpeg4", mpeg4Play);
    std::printf("clips_rss_mb_peak %.1f\n", peakResidentMb());
    std::fflush(stdout);

    releaseAviStreams();
    std::error_code ignored;
    std::filesystem::remove_all(folder, ignored);
    return 0;
}

const char* mark(bool met) { return met ? "ok" : "MISSED"; }

double figureOf(const BenchFigures& figures, const std::string& key)
{
    auto found = figures.find(key);
    return found == figures.end() ? 0.0 : found->second;
}

void printClips(const BenchFigures& figures, bool json)
{
    if (figureOf(figures, "clips_skipped") != 0.0) {
        if (!json)
            std::printf("clips: skipped (the ffmpeg program writes the long clips)\n");
        return;
    }
    const double peak = figureOf(figures, "clips_rss_mb_peak");
    const double worstCopy =
        std::max(figureOf(figures, "clips_mjpeg_copy_ms_p99"), figureOf(figures, "clips_mpeg4_copy_ms_p99"));
    if (json) {
        for (const char* key : {"clips_rss_mb_peak", "clips_rss_mb_open", "clips_cached_mb", "clips_open_ms_max",
                                "clips_mjpeg_copy_ms_median", "clips_mjpeg_copy_ms_p99", "clips_mjpeg_copy_ms_max",
                                "clips_mjpeg_decodes_per_copy", "clips_mpeg4_copy_ms_median",
                                "clips_mpeg4_copy_ms_p99", "clips_mpeg4_copy_ms_max", "clips_mpeg4_decodes_per_copy"})
            std::printf("  \"%s\": %.4f,\n", key, figureOf(figures, key));
        return;
    }
    std::printf("%-36s %10.1f MB   %s (goal < %.0f; %.1f MB of decoded frames, %.1f MB open)\n",
                "seven 1000-frame clips, peak", peak, mark(peak < GOAL_RSS_MB), GOAL_RSS_MB,
                figureOf(figures, "clips_cached_mb"), figureOf(figures, "clips_rss_mb_open"));
    std::printf("%-36s %10.1f ms\n", "open of one 1000-frame clip, max", figureOf(figures, "clips_open_ms_max"));
    for (const char* codec : {"mjpeg", "mpeg4"}) {
        const std::string key = std::string("clips_") + codec;
        std::printf("%-36s %10.3f ms   p99 %.3f, max %.3f, %.2f decodes a frame\n",
                    (std::string("frame copy beyond the cache, ") + codec).c_str(),
                    figureOf(figures, key + "_copy_ms_median"), figureOf(figures, key + "_copy_ms_p99"),
                    figureOf(figures, key + "_copy_ms_max"), figureOf(figures, key + "_decodes_per_copy"));
    }
    std::printf("%-36s %10.3f ms   %s (goal <= %.0f)\n", "frame copy beyond the cache, p99", worstCopy,
                mark(worstCopy <= GOAL_COPY_MS), GOAL_COPY_MS);
}

const bool registered = benchRegisterExtra({"--child-clips", runClips, printClips});

} // namespace
