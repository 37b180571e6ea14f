// The fuzz targets; see fuzz_targets.h.
#include "tests/fuzz/fuzz_targets.h"

#include "dgl/dgl.h"
#include "geometry/model3ds.h"
#include "imaging/texture_file.h"
#include "kernel/messages.h"
#include "platform/audio.h"
#include "platform/recording/recording_device.h"
#include "platform/video.h"
#include "resources/memory.h"
#include "tests/support/fatal.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <unistd.h>

namespace {

HWND fuzzWindow() { return reinterpret_cast<HWND>(static_cast<std::uintptr_t>(0x1000)); }

bool writeInput(const std::string& path, const std::uint8_t* data, std::size_t size)
{
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr)
        return false;
    bool ok = size == 0 || std::fwrite(data, 1, size, file) == size;
    return std::fclose(file) == 0 && ok;
}

// The show's way out, unwinding: releases everything the run took.
void endRun()
{
    try {
        fatalExit(nullptr);
    } catch (const FatalExitError&) {
    }
    dglForgetAll();
    // The recording device keeps released objects until a reset.
    recordingReset();
}

// A windowed renderer on the recording device, logging off (speed).
void startRenderer()
{
    recordingInstall();
    recordingSetLogging(false);
    dglInit(fuzzWindow(), 640, 480, false);
}

} // namespace

std::string fuzzScratchPath(const char* fileName)
{
    static std::string folder;
    if (folder.empty()) {
        std::error_code ignored;
        std::filesystem::path base = std::filesystem::exists("/dev/shm", ignored) ? "/dev/shm" : std::filesystem::temp_directory_path();
        folder = (base / ("gfxcore-fuzz-" + std::to_string(getpid()))).string();
        std::filesystem::create_directories(folder, ignored);
    }
    return folder + "/" + fileName;
}

int fuzzModel3ds(const std::uint8_t* data, std::size_t size)
{
    // The file manager keeps the path pointer for the whole run.
    static const std::string path = fuzzScratchPath("model.3ds");
    if (!writeInput(path, data, size))
        return 0;
    try {
        startRenderer();
        Mesh mesh;
        loadMesh3ds(mesh, path.c_str(), 0, 0.5f, 0xFF808080u);
    } catch (const FatalExitError&) {
    }
    endRun();
    return 0;
}

int fuzzTextureFile(const std::uint8_t* data, std::size_t size)
{
    static const std::string path = fuzzScratchPath("picture");
    static const D3DFORMAT formats[] = {D3DFMT_A8R8G8B8, D3DFMT_R5G6B5,   D3DFMT_X8R8G8B8,
                                        D3DFMT_X1R5G5B5, D3DFMT_A1R5G5B5, D3DFMT_A4R4G4B4};
    if (size < 2)
        return 0;
    // Sizes 1..256 on each side: enlarging and shrinking both happen.
    const UINT width = 1u + (data[0] & 0x0Fu) * 17u;
    const UINT height = 1u + (data[0] >> 4) * 17u;
    const D3DFORMAT format = formats[data[1] % 6];
    if (!writeInput(path, data + 2, size - 2))
        return 0;
    try {
        startRenderer();
        markScratchMemory();
        IDirect3DTexture8* texture = nullptr;
        D3DXCreateTextureFromFileExA(dglDevice(), path.c_str(), width, height, 1, 0, format, D3DPOOL_MANAGED, 0, 0, 0,
                                     nullptr, nullptr, &texture);
        freeScratchMemory();
        if (texture != nullptr)
            texture->Release();
    } catch (const FatalExitError&) {
    }
    endRun();
    return 0;
}

int fuzzVideoClip(const std::uint8_t* data, std::size_t size)
{
    static const std::string path = fuzzScratchPath("clip.avi");
    if (!writeInput(path, data, size))
        return 0;
    VideoStream* stream = videoOpenStream(path.c_str());
    if (stream == nullptr)
        return 0;
    AVISTREAMINFOA info{};
    VideoFrameReader* reader = nullptr;
    if (videoStreamInfo(stream, &info, sizeof(info)) == S_OK)
        reader = videoFrameReaderOpen(stream);
    if (reader != nullptr) {
        // The ways the scenes ask: the first frame, a forward and a backward
        // swing, and indices just outside the clip.
        const LONG count = static_cast<LONG>(info.dwLength);
        const LONG order[] = {0, 1, count / 2, count - 1, count - 2, count / 3, 0, count, -1};
        for (LONG index : order) {
            const BYTE* bitmap = videoGetFrame(reader, index);
            if (bitmap != nullptr) {
                BITMAPINFOHEADER header;
                std::memcpy(&header, bitmap, sizeof(header));
                // Touch the last byte the callers read: the rows must all be there.
                const std::size_t stride = (static_cast<std::size_t>(header.biWidth) * 3 + 3) & ~std::size_t{3};
                volatile BYTE last = bitmap[sizeof(header) + stride * static_cast<std::size_t>(header.biHeight) - 1];
                (void)last;
            }
        }
    }
    videoReleaseStream(stream);
    return 0;
}

int fuzzMp3Stream(const std::uint8_t* data, std::size_t size)
{
    static const std::string path = fuzzScratchPath("music.mp3");
    if (!writeInput(path, data, size))
        return 0;
    platformSetAudioSilent(true);
    if (platformAudioInit(44100)) {
        platformAudioStart();
        AudioStream stream = platformAudioStreamCreateFile(path.c_str(), AUDIO_MP3_SETPOS);
        if (stream != 0) {
            platformAudioStreamPlay(stream, true);
            DWORD rate = 0;
            platformAudioGetRate(stream, &rate);
            platformAudioSetPosition(stream, 4608);
            platformAudioSetPosition(stream, 0);
            platformAudioGetPosition(stream);
        }
    }
    platformAudioFree();
    return 0;
}

FuzzTarget fuzzTargetNamed(const std::string& name)
{
    if (name == "model3ds")
        return fuzzModel3ds;
    if (name == "texture_file")
        return fuzzTextureFile;
    if (name == "video_clip")
        return fuzzVideoClip;
    if (name == "mp3_stream")
        return fuzzMp3Stream;
    return nullptr;
}
