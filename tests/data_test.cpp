// The generated data set, read back with the show's own readers: the
// generator writes the same bytes on every run and exactly the files of the
// manifest; pictures decode at their size with alpha where the show blends
// by it; the models load closed with outward normals; the clips open at
// 256x256 with their frame count; the soundtrack decodes to its full length
// with a kick drum on each scene's beat grid.
#include "tools/data/dataset.h"

#include "geometry/model3ds.h"
#include "imaging/texture_file.h"
#include "platform/audio.h"
#include "platform/video.h"
#include "resources/files.h"
#include "resources/memory.h"
#include "tests/dgl_fixture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

const std::string generatorPath = std::string(GFXCORE_SHOW_DIR) + "/../gfxcore-data";

std::string makeTemporaryFolder()
{
    char pattern[] = "/tmp/gfxcore-data-XXXXXX";
    const char* made = mkdtemp(pattern);
    return made != nullptr ? made : "";
}

int runGenerator(const std::string& arguments)
{
    const std::string command = generatorPath + " " + arguments + " 2>/dev/null";
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::vector<unsigned char> readBytes(const std::string& path)
{
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

std::set<std::string> listFolder(const std::string& folder)
{
    std::set<std::string> names;
    if (DIR* dir = opendir(folder.c_str())) {
        while (const dirent* entry = readdir(dir)) {
            const std::string name = entry->d_name;
            if (name[0] != '.') {
                names.insert(name);
            }
        }
        closedir(dir);
    }
    return names;
}

// One generated data set shared by the tests of this file, made on first use
// and removed when the tests end.
struct GeneratedData {
    std::string folder;
    bool generated = false;
    GeneratedData()
    {
        folder = makeTemporaryFolder();
        generated = !folder.empty() && runGenerator(folder + "/data") == 0;
    }
    ~GeneratedData()
    {
        if (!folder.empty()) {
            const std::string command = "rm -rf " + folder;
            [[maybe_unused]] const int status = std::system(command.c_str());
        }
    }
};

const GeneratedData& generatedData()
{
    static const GeneratedData data;
    return data;
}

std::string path(const char* name) { return generatedData().folder + "/data/" + name; }

class DataSet : public ::testing::Test {
protected:
    void SetUp() override
    {
        folder = generatedData().folder;
        ASSERT_TRUE(generatedData().generated) << "gfxcore-data failed";
    }
    void TearDown() override
    {
        closeAllFiles();
        freeAllMemory();
    }
    std::string folder;
};

TEST_F(DataSet, EveryRunWritesTheSameBytesAndExactlyTheManifest)
{
    std::set<std::string> expected;
    for (const DataFile& file : dataManifest) {
        EXPECT_TRUE(expected.insert(file.name).second) << "listed twice: " << file.name;
    }
    EXPECT_EQ(listFolder(folder + "/data"), expected);

    // The build's own copy came from another run of the same generator; a
    // second run here stands in when it is missing.
    std::string other = std::string(GFXCORE_SHOW_DIR) + "/data";
    if (listFolder(other) != expected) {
        other = folder + "/again";
        ASSERT_EQ(runGenerator(other), 0);
    }
    for (const DataFile& file : dataManifest) {
        const auto first = readBytes(path(file.name));
        EXPECT_FALSE(first.empty()) << file.name;
        EXPECT_TRUE(first == readBytes(other + "/" + file.name)) << file.name << " differs between runs";
    }
}

TEST_F(DataSet, GeneratorReportsWhatItCanNotDo)
{
    EXPECT_EQ(runGenerator(""), 2);
    EXPECT_EQ(runGenerator("a b"), 2);
    // a folder below a plain file can not be made
    const std::string blocker = folder + "/plain-file";
    std::ofstream(blocker) << "x";
    EXPECT_EQ(runGenerator(blocker + "/data"), 1);
    EXPECT_TRUE(listFolder(blocker).empty());
}

struct PictureStats {
    int minAlpha = 255, maxAlpha = 0;
    double lumaDeviation = 0.0;
};

PictureStats statsOf(const DecodedImage& image)
{
    PictureStats stats;
    double sum = 0.0, squares = 0.0;
    const std::size_t count = static_cast<std::size_t>(image.width) * image.height;
    for (std::size_t i = 0; i < count; ++i) {
        const DWORD p = image.pixels[i];
        const int alpha = static_cast<int>(p >> 24);
        stats.minAlpha = std::min(stats.minAlpha, alpha);
        stats.maxAlpha = std::max(stats.maxAlpha, alpha);
        const double luma = 0.3 * ((p >> 16) & 255) + 0.59 * ((p >> 8) & 255) + 0.11 * (p & 255);
        sum += luma;
        squares += luma * luma;
    }
    const double mean = sum / count;
    stats.lumaDeviation = std::sqrt(std::max(0.0, squares / count - mean * mean));
    return stats;
}

TEST_F(DataSet, PicturesDecodeAtTheirSizeWithAlphaWhereTheShowBlendsByIt)
{
    int pictures = 0;
    for (const DataFile& file : dataManifest) {
        if (file.kind != DataKind::Jpeg && file.kind != DataKind::Png && file.kind != DataKind::Tga) {
            continue;
        }
        ++pictures;
        DecodedImage image{};
        ASSERT_TRUE(decodeImageFile(path(file.name).c_str(), &image)) << file.name;
        EXPECT_EQ(image.width, file.width) << file.name;
        EXPECT_EQ(image.height, file.height) << file.name;
        const PictureStats stats = statsOf(image);
        // Overlays the show draws faint: alpha caps how much they lighten
        // the frame (the stage takes alpha from the picture alone).
        const int faintCap = std::strcmp(file.name, "pijl-1.png") == 0           ? 25
                             : std::strcmp(file.name, "overlay-zoveel.png") == 0 ? 50
                                                                                 : 0;
        if (faintCap > 0) {
            EXPECT_EQ(stats.maxAlpha, faintCap) << file.name;
            EXPECT_LT(stats.minAlpha, faintCap * 2 / 3) << file.name; // shaped, not an even veil
        } else if (file.alpha) {
            // shaped by its alpha: see-through parts and much denser ones
            EXPECT_LT(stats.minAlpha, 160) << file.name;
            EXPECT_GT(stats.maxAlpha - stats.minAlpha, 96) << file.name;
        } else {
            EXPECT_EQ(stats.minAlpha, 255) << file.name;
            // a picture, not a plain fill (the alpha pictures may be one colour)
            EXPECT_GT(stats.lumaDeviation, 8.0) << file.name;
        }
        freeAllMemory();
    }
    EXPECT_EQ(pictures, 58);
}

DWORD pixelAt(const DecodedImage& image, int x, int y) { return image.pixels[y * image.width + x]; }

TEST_F(DataSet, InvertedAlphaPicturesOpenWindowsWhereTheShowLooksThrough)
{
    // Progress screen: the bar (x < 185 at the first step, < 409 at the last)
    // is seen only through windows it can reach; rows stay top first.
    DecodedImage progress{};
    ASSERT_TRUE(decodeImageFile(path("houjebek.tga").c_str(), &progress));
    int windows = 0, firstStepWindows = 0, beyondBar = 0;
    for (int y = 0; y < progress.height; ++y) {
        for (int x = 0; x < progress.width; ++x) {
            if ((pixelAt(progress, x, y) >> 24) > 200) {
                ++windows;
                firstStepWindows += x < 185 ? 1 : 0;
                beyondBar += x >= 409 ? 1 : 0;
            }
        }
    }
    EXPECT_GT(windows, progress.width * progress.height / 20);
    EXPECT_GT(firstStepWindows, 1000);
    EXPECT_EQ(beyondBar, 0);
    EXPECT_GT(pixelAt(progress, 200, 190) >> 24, 200u); // the slot under the title
    EXPECT_LT(pixelAt(progress, 200, 230) >> 24, 16u);  // the label below it is solid
    freeAllMemory();

    // Bar picture of the knot scene: solid bars at top and bottom, open between.
    DecodedImage bars{};
    ASSERT_TRUE(decodeImageFile(path("balk.tga").c_str(), &bars));
    EXPECT_LT(pixelAt(bars, 256, 10) >> 24, 16u);
    EXPECT_LT(pixelAt(bars, 256, 500) >> 24, 16u);
    EXPECT_GT(pixelAt(bars, 256, 257) >> 24, 150u);
    freeAllMemory();
}

TEST_F(DataSet, WideBeatPicturesKeepTheirRequestedWidth)
{
    // The show asks for 5152 pixels and lets the loader adapt; the files are
    // that wide so nothing is scaled up.
    for (const char* name : {"onzin1.png", "onzin2.png", "onzin3.png", "onzin4.png", "onzin5.png"}) {
        DecodedImage image{};
        ASSERT_TRUE(decodeImageFile(path(name).c_str(), &image)) << name;
        EXPECT_EQ(image.width, 5152);
        EXPECT_EQ(image.height, 512);
        // content across the whole width, not a narrow picture padded out
        int opaqueLeft = 0, opaqueRight = 0;
        for (int y = 0; y < 512; ++y) {
            for (int x = 0; x < 5152; x += 7) {
                if ((pixelAt(image, x, y) >> 24) > 128) {
                    (x < 2576 ? opaqueLeft : opaqueRight)++;
                }
            }
        }
        EXPECT_GT(opaqueLeft, 500) << name;
        EXPECT_GT(opaqueRight, 500) << name;
        freeAllMemory();
    }
}

class DataModels : public DglTest {
protected:
    void SetUp() override
    {
        DglTest::SetUp();
        init();
        ASSERT_TRUE(generatedData().generated) << "gfxcore-data failed";
    }
    void TearDown() override
    {
        DglTest::TearDown();
        closeAllFiles();
        freeAllMemory();
    }
    // the file manager keeps the path of every open file
    std::vector<std::string> paths = std::vector<std::string>(8);
};

TEST_F(DataModels, ModelsLoadClosedWithNormalsPointingOut)
{
    struct Expect {
        const char* name;
        int minFaces, maxFaces;
        bool convex;
    };
    const Expect models[] = {{"vorn02.3ds", 2000, 8000, false}, {"cube.3ds", 12, 12, true},
                             {"ChamferLOW.3ds", 44, 44, true}};
    int slot = 0;
    for (const Expect& expect : models) {
        paths[slot] = path(expect.name);
        Mesh mesh{};
        loadMesh3ds(mesh, paths[slot].c_str(), 0, 1.0f, 0xFFFFFFFF);
        ++slot;
        ASSERT_GT(mesh.vertexCount, 0) << expect.name;
        EXPECT_LE(mesh.vertexCount, 32767) << expect.name;
        EXPECT_GE(mesh.faceCount, expect.minFaces) << expect.name;
        EXPECT_LE(mesh.faceCount, expect.maxFaces) << expect.name;

        // Closed: every edge is used once in each direction, by position (the
        // flat-shaded solids keep separate corners per side).
        auto key = [&](int index) {
            const Vector3& p = mesh.vertices[index].position;
            return std::make_tuple(std::lround(p.x * 1000), std::lround(p.y * 1000), std::lround(p.z * 1000));
        };
        std::map<std::pair<decltype(key(0)), decltype(key(0))>, int> edges;
        double volume = 0.0;
        for (int f = 0; f < mesh.faceCount; ++f) {
            const MeshFace& face = mesh.faces[f];
            const int corners[3] = {face.a, face.b, face.c};
            for (int i = 0; i < 3; ++i) {
                ASSERT_LT(corners[i], mesh.vertexCount);
                edges[{key(corners[i]), key(corners[(i + 1) % 3])}]++;
            }
            // The face normal the loader uses, (Pa - Pb) x (Pb - Pc): summed
            // against the positions it gives six times the enclosed volume,
            // positive only when the faces look outwards.
            const Vector3& a = mesh.vertices[face.a].position;
            const Vector3& b = mesh.vertices[face.b].position;
            const Vector3& c = mesh.vertices[face.c].position;
            const Vector3 n = (a - b).cross(b - c);
            volume += a.x * n.x + a.y * n.y + a.z * n.z;
        }
        for (const auto& [edge, count] : edges) {
            EXPECT_EQ(count, 1) << expect.name;
            const auto reverse = edges.find({edge.second, edge.first});
            EXPECT_TRUE(reverse != edges.end() && reverse->second == 1) << expect.name << " is open";
        }
        EXPECT_GT(volume, 0.0) << expect.name;
        if (expect.convex) {
            // centred solids: every smoothed normal points away from the centre
            for (int v = 0; v < mesh.vertexCount; ++v) {
                const MeshVertex& vertex = mesh.vertices[v];
                EXPECT_GT(vertex.normal.dot(vertex.position), 0.0f) << expect.name;
            }
        }
    }
}

TEST_F(DataSet, ClipsOpenAtTheirSizeAndDecodeEveryFrame)
{
    for (const DataFile& file : dataManifest) {
        if (file.kind != DataKind::AviClip) {
            continue;
        }
        VideoStream* stream = videoOpenStream(path(file.name).c_str());
        ASSERT_NE(stream, nullptr) << file.name;
        AVISTREAMINFOA info{};
        ASSERT_EQ(videoStreamInfo(stream, &info, sizeof info), 0) << file.name;
        EXPECT_EQ(info.fccType, VIDEO_STREAM_TYPE_VIDS);
        EXPECT_EQ(info.dwLength, static_cast<DWORD>(file.frames)) << file.name;
        EXPECT_EQ(info.dwRate / info.dwScale, 25u) << file.name;
        VideoFrameReader* reader = videoFrameReaderOpen(stream);
        ASSERT_NE(reader, nullptr) << file.name;
        std::vector<BYTE> first;
        for (int index = file.frames - 1; index >= 0; --index) {
            const BYTE* frame = videoGetFrame(reader, index);
            ASSERT_NE(frame, nullptr) << file.name << " frame " << index;
            BITMAPINFOHEADER header;
            std::memcpy(&header, frame, sizeof header);
            EXPECT_EQ(header.biWidth, file.width);
            EXPECT_EQ(header.biHeight, file.height);
            EXPECT_EQ(header.biBitCount, 24);
            if (index == file.frames - 1) {
                first.assign(frame + 40, frame + 40 + file.width * file.height * 3);
            } else if (index == 0) {
                // the clip moves: its ends differ clearly
                long difference = 0;
                for (std::size_t i = 0; i < first.size(); ++i) {
                    difference += std::abs(static_cast<int>(first[i]) - static_cast<int>(frame[40 + i]));
                }
                EXPECT_GT(difference / static_cast<long>(first.size()), 8) << file.name;
            }
        }
        EXPECT_EQ(videoGetFrame(reader, file.frames), nullptr);
        videoReleaseStream(stream);
    }
}

// The soundtrack through the show's audio layer onto a disk device.
class DataMusic : public DataSet {
protected:
    void SetUp() override
    {
        DataSet::SetUp();
        output = folder + "/sound.raw";
        setenv("SDL_AUDIODRIVER", "disk", 1);
        setenv("SDL_DISKAUDIOFILE", output.c_str(), 1);
        setenv("SDL_DISKAUDIODELAY", "0", 1);
        platformSetAudioSilent(false);
        ASSERT_TRUE(platformAudioInit(44100));
        stream = platformAudioStreamCreateFile(path("Music.mp3").c_str(), AUDIO_MP3_SETPOS);
        ASSERT_NE(stream, 0u);
    }
    void TearDown() override
    {
        platformAudioFree();
        DataSet::TearDown();
    }
    // Plays from byte `from` to the end; false if it does not end in time.
    bool playToEnd(DWORD from)
    {
        EXPECT_TRUE(platformAudioSetPosition(stream, from));
        EXPECT_TRUE(platformAudioStreamPlay(stream, false));
        EXPECT_TRUE(platformAudioStart());
        for (int i = 0; i < 20000 && platformAudioStreamPlaying(stream); ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return !platformAudioStreamPlaying(stream);
    }
    std::string output;
    AudioStream stream = 0;
};

constexpr DWORD BYTES_PER_SECOND = 44100 * 4;

TEST_F(DataMusic, SoundtrackIs166SecondsOfStereoAt44100)
{
    DWORD rate = 0;
    ASSERT_TRUE(platformAudioGetRate(stream, &rate));
    EXPECT_EQ(rate, 44100u);
    EXPECT_EQ(platformAudioGetFlags(stream), 0u);
    // the last second: the stream ends exactly at 166 s (no encoder padding)
    const DWORD total = DATA_MUSIC_SECONDS * BYTES_PER_SECOND;
    ASSERT_TRUE(playToEnd(total - BYTES_PER_SECOND));
    EXPECT_EQ(platformAudioGetPosition(stream), BYTES_PER_SECOND);
}

TEST_F(DataMusic, KickDrumsFallOnTheBeatGridOfTheCityScene)
{
    // From the first millisecond of the city scene: beats every 430 ms.
    constexpr int sceneStart = 88010;
    const DWORD from = static_cast<DWORD>(sceneStart) * 441 / 10 * 4;
    ASSERT_TRUE(playToEnd(from));
    std::ifstream file(output, std::ios::binary);
    std::vector<char> bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    std::vector<short> samples(bytes.size() / 2);
    std::memcpy(samples.data(), bytes.data(), samples.size() * 2);
    // The device may start with a buffer of digital silence before the
    // stream's first sample (the music itself is never exactly zero there).
    std::size_t lead = 0;
    while (lead < samples.size() && samples[lead] == 0) {
        ++lead;
    }
    lead /= 2;
    auto energy = [&](double ms) { // 10 ms of the left channel
        const std::size_t start = lead + static_cast<std::size_t>(ms * 44.1);
        double sum = 0.0;
        for (std::size_t i = start; i < start + 441 && 2 * i < samples.size(); ++i) {
            sum += static_cast<double>(samples[2 * i]) * samples[2 * i];
        }
        return sum;
    };
    ASSERT_GT(samples.size(), 44100u * 2 * 10);
    double onBeat = 0.0, offBeat = 0.0;
    for (int k = 1; k < 30; ++k) {
        onBeat += energy(k * 430.0);
        offBeat += energy(k * 430.0 - 215.0 + 30.0); // between the kicks, after the hats
        // the kick starts on the beat, not before it
        EXPECT_GT(energy(k * 430.0), 4.0 * energy(k * 430.0 - 12.0)) << "beat " << k;
    }
    EXPECT_GT(onBeat, 3.0 * offBeat);
}

} // namespace
