// MP3 test files through LAME, loaded with dlopen; see mp3.h.
#include "tests/support/mp3.h"

#include <lame/lame.h>

#include <cmath>
#include <cstdio>
#include <dlfcn.h>
#include <vector>

namespace {

template <typename Function> Function symbol(void* library, const char* name)
{
    return reinterpret_cast<Function>(dlsym(library, name));
}

} // namespace

bool writeTestMp3(const std::string& path, double seconds, double quietSeconds)
{
    static void* library = dlopen("libmp3lame.so.0", RTLD_NOW);
    if (library == nullptr)
        return false;
    auto init = symbol<decltype(&lame_init)>(library, "lame_init");
    auto setRate = symbol<decltype(&lame_set_in_samplerate)>(library, "lame_set_in_samplerate");
    auto setOutRate = symbol<decltype(&lame_set_out_samplerate)>(library, "lame_set_out_samplerate");
    auto setChannels = symbol<decltype(&lame_set_num_channels)>(library, "lame_set_num_channels");
    auto setBitrate = symbol<decltype(&lame_set_brate)>(library, "lame_set_brate");
    auto setQuality = symbol<decltype(&lame_set_quality)>(library, "lame_set_quality");
    auto initParams = symbol<decltype(&lame_init_params)>(library, "lame_init_params");
    auto encode = symbol<decltype(&lame_encode_buffer_interleaved)>(library, "lame_encode_buffer_interleaved");
    auto flush = symbol<decltype(&lame_encode_flush)>(library, "lame_encode_flush");
    auto tagFrame = symbol<decltype(&lame_get_lametag_frame)>(library, "lame_get_lametag_frame");
    auto close = symbol<decltype(&lame_close)>(library, "lame_close");
    if (!init || !setRate || !setOutRate || !setChannels || !setBitrate || !setQuality || !initParams || !encode ||
        !flush || !tagFrame || !close)
        return false;

    lame_global_flags* flags = init();
    setRate(flags, 44100);
    setOutRate(flags, 44100);
    setChannels(flags, 2);
    setBitrate(flags, 128);
    setQuality(flags, 5);
    if (initParams(flags) < 0) {
        close(flags);
        return false;
    }
    int frames = static_cast<int>(seconds * 44100.0);
    int quietFrames = static_cast<int>(quietSeconds * 44100.0);
    std::vector<short> pcm(static_cast<std::size_t>(frames) * 2);
    for (int i = quietFrames; i < frames; i++) {
        short value = static_cast<short>(20000.0 * std::sin(2.0 * M_PI * 440.0 * i / 44100.0));
        pcm[2 * i] = value;
        pcm[2 * i + 1] = value;
    }
    std::vector<unsigned char> mp3(static_cast<std::size_t>(frames) * 2 + 16384);
    int size = encode(flags, pcm.data(), frames, mp3.data(), static_cast<int>(mp3.size()));
    int tail = size >= 0 ? flush(flags, mp3.data() + size, static_cast<int>(mp3.size()) - size) : -1;
    bool written = false;
    if (size >= 0 && tail >= 0) {
        if (FILE* file = std::fopen(path.c_str(), "wb")) {
            written = std::fwrite(mp3.data(), 1, static_cast<std::size_t>(size + tail), file) ==
                      static_cast<std::size_t>(size + tail);
            // The LAME tag frame at the start carries the encoder delay and
            // padding, so a gapless decoder gives back exactly `frames`.
            unsigned char tag[2048];
            std::size_t tagSize = tagFrame(flags, tag, sizeof(tag));
            if (tagSize > 0 && tagSize <= sizeof(tag)) {
                std::fseek(file, 0, SEEK_SET);
                written = written && std::fwrite(tag, 1, tagSize, file) == tagSize;
            }
            written = std::fclose(file) == 0 && written;
        }
    }
    close(flags);
    return written;
}
