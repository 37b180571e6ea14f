// The show's data set: the list of every file the show loads (the manifest)
// and the generator functions that write them, one per kind of file.
//
// The manifest is header-only so that tests and tools can enumerate the data
// set without linking the generator. The generator functions live in
// tools/data/*.cpp (gfxcore-data) and depend on libjpeg, libpng, FreeType,
// LAME and the DejaVu fonts.
//
// Everything is generated deterministically: the same bytes on every run.
#pragma once

#include <string>

enum class DataKind { Jpeg, Png, Tga, Model3ds, AviClip, Mp3 };

// One file of the data set. name is relative to the data folder, with the
// case the show uses. Pictures: width x height and whether they carry alpha.
// Clips: width x height and frames. Music: seconds of sound, 44.1 kHz stereo.
struct DataFile {
    const char* name;
    DataKind kind;
    int width;
    int height;
    bool alpha;
    int frames;
};

constexpr int DATA_CLIP_FRAMES = 32;
constexpr int DATA_CLIP_SIZE = 256;
constexpr int DATA_MUSIC_SECONDS = 166;
constexpr int DATA_MUSIC_RATE = 44100;

inline constexpr DataFile dataManifest[] = {
    // Progress screen
    {"houjebek.tga", DataKind::Tga, 512, 256, true, 0},
    // Metaballs on the beat
    {"env1.jpg", DataKind::Jpeg, 256, 256, false, 0},
    {"env2.jpg", DataKind::Jpeg, 256, 256, false, 0},
    {"env3.jpg", DataKind::Jpeg, 256, 256, false, 0},
    {"title.jpg", DataKind::Jpeg, 512, 256, false, 0},
    {"werdup.jpg", DataKind::Jpeg, 512, 512, false, 0},
    {"quon.jpg", DataKind::Jpeg, 512, 512, false, 0},
    {"linux.jpg", DataKind::Jpeg, 512, 512, false, 0},
    {"vuzpat.jpg", DataKind::Jpeg, 512, 512, false, 0},
    {"stripes.jpg", DataKind::Jpeg, 512, 512, false, 0},
    {"scroll1.jpg", DataKind::Jpeg, 512, 128, false, 0},
    {"scroll2.jpg", DataKind::Jpeg, 512, 128, false, 0},
    {"elite.jpg", DataKind::Jpeg, 512, 512, false, 0},
    {"zor.jpg", DataKind::Jpeg, 512, 512, false, 0},
    {"hive.png", DataKind::Png, 512, 512, true, 0},
    // Model echoes with beat captions
    {"brisko.tga", DataKind::Tga, 256, 512, true, 0},
    {"brisko2.tga", DataKind::Tga, 256, 512, true, 0},
    {"glimenv.jpg", DataKind::Jpeg, 256, 256, false, 0},
    {"allez.tga", DataKind::Tga, 512, 256, true, 0},
    {"zutalors.tga", DataKind::Tga, 512, 256, true, 0},
    {"bonsang.tga", DataKind::Tga, 512, 256, true, 0},
    {"pipe.tga", DataKind::Tga, 512, 256, true, 0},
    {"rvb.tga", DataKind::Tga, 512, 256, true, 0},
    {"overlay-zoveel.png", DataKind::Png, 512, 128, true, 0},
    {"vorn02.3ds", DataKind::Model3ds, 0, 0, false, 0},
    // Wireframe wave whirl
    {"wirenv.jpg", DataKind::Jpeg, 256, 256, false, 0},
    {"merde.tga", DataKind::Tga, 512, 512, true, 0},
    // City clips on the beat
    {"city.avi", DataKind::AviClip, DATA_CLIP_SIZE, DATA_CLIP_SIZE, false, DATA_CLIP_FRAMES},
    {"city2.avi", DataKind::AviClip, DATA_CLIP_SIZE, DATA_CLIP_SIZE, false, DATA_CLIP_FRAMES},
    {"city3.avi", DataKind::AviClip, DATA_CLIP_SIZE, DATA_CLIP_SIZE, false, DATA_CLIP_FRAMES},
    {"pijl-1.png", DataKind::Png, 256, 256, true, 0},
    {"line.png", DataKind::Png, 512, 512, true, 0},
    {"levend10.png", DataKind::Png, 256, 16, true, 0},
    {"levend11.png", DataKind::Png, 256, 16, true, 0},
    {"levend20.png", DataKind::Png, 256, 16, true, 0},
    {"levend21.png", DataKind::Png, 256, 16, true, 0},
    {"levend30.png", DataKind::Png, 256, 16, true, 0},
    {"levend31.png", DataKind::Png, 256, 16, true, 0},
    // Cube field and photo ring
    {"cube.3ds", DataKind::Model3ds, 0, 0, false, 0},
    {"onzin1.png", DataKind::Png, 5152, 512, true, 0},
    {"onzin2.png", DataKind::Png, 5152, 512, true, 0},
    {"onzin3.png", DataKind::Png, 5152, 512, true, 0},
    {"onzin4.png", DataKind::Png, 5152, 512, true, 0},
    {"onzin5.png", DataKind::Png, 5152, 512, true, 0},
    {"1.jpg", DataKind::Jpeg, 256, 128, false, 0},
    {"21.jpg", DataKind::Jpeg, 256, 128, false, 0},
    {"22.jpg", DataKind::Jpeg, 256, 128, false, 0},
    {"23.jpg", DataKind::Jpeg, 256, 128, false, 0},
    {"24.jpg", DataKind::Jpeg, 256, 128, false, 0},
    {"25.jpg", DataKind::Jpeg, 256, 128, false, 0},
    {"26.jpg", DataKind::Jpeg, 256, 128, false, 0},
    {"27.jpg", DataKind::Jpeg, 256, 128, false, 0},
    {"28.jpg", DataKind::Jpeg, 256, 128, false, 0},
    {"29.jpg", DataKind::Jpeg, 256, 128, false, 0},
    {"29a.jpg", DataKind::Jpeg, 256, 128, false, 0},
    // Knot clips and rising sprites
    {"knot.avi", DataKind::AviClip, DATA_CLIP_SIZE, DATA_CLIP_SIZE, false, DATA_CLIP_FRAMES},
    {"knot2.avi", DataKind::AviClip, DATA_CLIP_SIZE, DATA_CLIP_SIZE, false, DATA_CLIP_FRAMES},
    {"knot3.avi", DataKind::AviClip, DATA_CLIP_SIZE, DATA_CLIP_SIZE, false, DATA_CLIP_FRAMES},
    {"balk.tga", DataKind::Tga, 512, 512, true, 0},
    {"money.jpg", DataKind::Jpeg, 32, 32, false, 0},
    // Video panel with credit captions
    {"pats.avi", DataKind::AviClip, DATA_CLIP_SIZE, DATA_CLIP_SIZE, false, DATA_CLIP_FRAMES},
    {"star03.tga", DataKind::Tga, 128, 128, true, 0},
    {"ov2.tga", DataKind::Tga, 512, 128, true, 0},
    {"code.tga", DataKind::Tga, 256, 128, true, 0},
    {"gfx.tga", DataKind::Tga, 256, 128, true, 0},
    {"pralt.tga", DataKind::Tga, 256, 128, true, 0},
    // Closing branch sculpture
    {"ChamferLOW.3ds", DataKind::Model3ds, 0, 0, false, 0},
    {"glim.jpg", DataKind::Jpeg, 256, 128, false, 0},
    // Soundtrack
    {"Music.mp3", DataKind::Mp3, 0, 0, false, 0},
};

constexpr int DATA_FILE_COUNT = static_cast<int>(sizeof(dataManifest) / sizeof(dataManifest[0]));

// The manifest entry of a file name (exact case), or null.
inline const DataFile* findDataFile(const char* name)
{
    for (const DataFile& file : dataManifest) {
        if (std::string(file.name) == name) {
            return &file;
        }
    }
    return nullptr;
}

// Generator functions (gfxcore-data). Each writes its files into folder
// (which must exist) and returns false, with the reason in error, when a file
// cannot be written.
bool generatePictures(const std::string& folder, std::string& error);
bool generateModels(const std::string& folder, std::string& error);
bool generateClips(const std::string& folder, std::string& error);
// One clip: 0..2 city, city2, city3; 3..5 knot, knot2, knot3; 6 pats.
constexpr int DATA_CLIP_COUNT = 7;
bool generateClip(const std::string& folder, int index, std::string& error);
bool generateMusic(const std::string& folder, std::string& error);

// Creates folder (and its parents) and writes every file of the manifest,
// spreading the independent files over the processor's cores (the bytes do
// not depend on the order).
bool generateDataSet(const std::string& folder, std::string& error);
