// SDL2 audio output fed by libmpg123, and the silent stand-in; see audio.h.
// The mixer runs on SDL's audio thread; every operation of the main thread
// that touches a stream holds the device lock.
// Depends on: SDL2 (audio), libmpg123, platform/paths.h.
#include "platform/audio.h"
#include "platform/paths.h"

#include <SDL2/SDL.h>
#include <mpg123.h>

#include <atomic>
#include <cstdint>
#include <cstring>

namespace {

constexpr int MAX_STREAMS = 4;
constexpr int BYTES_PER_FRAME = 4; // 16-bit stereo

struct Stream {
    bool inUse;
    bool playing;
    mpg123_handle* decoder;
    std::uint64_t position; // bytes handed to the device since the last seek
};

// Written by the functions below; the Stream records are shared with the
// mixer thread under the device lock.
bool silent = false;
bool initialized = false;
bool started = false;
SDL_AudioDeviceID device = 0;
int outputRate = 44100;
std::atomic<int> streamVolume{100};
Stream streams[MAX_STREAMS];
bool decoderLibraryReady = false;

Stream* findStream(AudioStream handle)
{
    if (handle == 0 || handle > MAX_STREAMS)
        return nullptr;
    Stream& stream = streams[handle - 1];
    return stream.inUse ? &stream : nullptr;
}

void lock()
{
    if (device != 0)
        SDL_LockAudioDevice(device);
}

void unlock()
{
    if (device != 0)
        SDL_UnlockAudioDevice(device);
}

// Mixes every playing stream into the device buffer at the stream volume.
void mix(void*, Uint8* output, int length)
{
    std::memset(output, 0, static_cast<std::size_t>(length));
    static Sint16 decoded[16384];
    int volume = streamVolume.load();
    Sint16* out = reinterpret_cast<Sint16*>(output);
    for (Stream& stream : streams) {
        if (!stream.inUse || !stream.playing)
            continue;
        int done = 0;
        while (done < length) {
            std::size_t want = static_cast<std::size_t>(length - done);
            if (want > sizeof(decoded))
                want = sizeof(decoded);
            std::size_t got = 0;
            int result = mpg123_read(stream.decoder, reinterpret_cast<unsigned char*>(decoded), want, &got);
            got -= got % 2;
            for (std::size_t i = 0; i < got / 2; i++) {
                int index = done / 2 + static_cast<int>(i);
                int sample = out[index] + decoded[i] * volume / 100;
                out[index] = static_cast<Sint16>(sample > 32767 ? 32767 : (sample < -32768 ? -32768 : sample));
            }
            done += static_cast<int>(got);
            stream.position += got;
            if (result == MPG123_NEW_FORMAT && got == 0)
                continue;
            if (result != MPG123_OK || got == 0) {
                stream.playing = false; // end of the file (or a broken one): played once
                break;
            }
        }
    }
}

void closeDecoder(Stream& stream)
{
    if (stream.decoder != nullptr) {
        mpg123_close(stream.decoder);
        mpg123_delete(stream.decoder);
    }
    stream = Stream{};
}

// Reads every frame header for exact seeking. A file whose encoder tag
// announces more frames than the scan finds was cut short: refused, rather
// than playing part of the soundtrack and then silence.
bool scanWholeFile(mpg123_handle* decoder)
{
    long delay = -1;
    double unused = 0.0;
    const bool tagged = mpg123_getstate(decoder, MPG123_ENC_DELAY, &delay, &unused) == MPG123_OK && delay >= 0;
    const off_t announced = mpg123_framelength(decoder);
    if (mpg123_scan(decoder) != MPG123_OK)
        return false;
    return !tagged || announced <= 0 || mpg123_framelength(decoder) >= announced;
}

mpg123_handle* openDecoder(const char* path, bool exactSeeking)
{
    if (!decoderLibraryReady) {
        mpg123_init(); // a no-op on current versions, required on old ones
        decoderLibraryReady = true;
    }
    mpg123_handle* decoder = mpg123_new(nullptr, nullptr);
    if (decoder == nullptr)
        return nullptr;
    mpg123_param(decoder, MPG123_FLAGS, MPG123_FORCE_STEREO | MPG123_QUIET | MPG123_GAPLESS, 0.0);
    mpg123_format_none(decoder);
    mpg123_format(decoder, outputRate, MPG123_STEREO, MPG123_ENC_SIGNED_16);
    std::string resolved = platformResolvePath(path);
    long rate = 0;
    int channels = 0;
    int encoding = 0;
    if (mpg123_open(decoder, resolved.c_str()) != MPG123_OK ||
        mpg123_getformat(decoder, &rate, &channels, &encoding) != MPG123_OK || rate != outputRate ||
        channels != 2 || encoding != MPG123_ENC_SIGNED_16 || (exactSeeking && !scanWholeFile(decoder))) {
        mpg123_close(decoder);
        mpg123_delete(decoder);
        return nullptr;
    }
    return decoder;
}

} // namespace

void platformSetAudioSilent(bool makeSilent) { silent = makeSilent; }

bool platformAudioInit(int frequency)
{
    if (initialized || frequency <= 0)
        return false;
    outputRate = frequency;
    if (silent) {
        initialized = true;
        return true;
    }
    if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0)
        return false;
    SDL_AudioSpec wanted{};
    wanted.freq = frequency;
    wanted.format = AUDIO_S16SYS;
    wanted.channels = 2;
    wanted.samples = 1024;
    wanted.callback = mix;
    SDL_AudioSpec obtained{};
    device = SDL_OpenAudioDevice(nullptr, 0, &wanted, &obtained, 0);
    if (device == 0) {
        SDL_QuitSubSystem(SDL_INIT_AUDIO);
        return false;
    }
    initialized = true;
    return true;
}

bool platformAudioStart()
{
    if (!initialized)
        return false;
    if (device != 0)
        SDL_PauseAudioDevice(device, 0);
    started = true;
    return true;
}

AudioStream platformAudioStreamCreateFile(const char* path, DWORD flags)
{
    if (!initialized || path == nullptr)
        return 0;
    int slot = -1;
    for (int i = 0; i < MAX_STREAMS; i++)
        if (!streams[i].inUse) {
            slot = i;
            break;
        }
    if (slot < 0)
        return 0;
    mpg123_handle* decoder = openDecoder(path, (flags & AUDIO_MP3_SETPOS) != 0);
    if (decoder == nullptr)
        return 0;
    lock();
    streams[slot] = Stream{true, false, decoder, 0};
    unlock();
    return static_cast<AudioStream>(slot + 1);
}

bool platformAudioStreamPlay(AudioStream handle, bool restart)
{
    lock();
    Stream* stream = findStream(handle);
    bool found = stream != nullptr;
    if (found) {
        if (restart) {
            mpg123_seek(stream->decoder, 0, SEEK_SET);
            stream->position = 0;
        }
        // The silent stand-in plays nothing: the stream stays at rest.
        stream->playing = !silent;
    }
    unlock();
    return found;
}

bool platformAudioGetRate(AudioStream handle, DWORD* rate)
{
    if (findStream(handle) == nullptr)
        return false;
    if (rate != nullptr)
        *rate = static_cast<DWORD>(outputRate);
    return true;
}

DWORD platformAudioGetFlags(AudioStream) { return 0; }

bool platformAudioSetPosition(AudioStream handle, DWORD bytePosition)
{
    lock();
    Stream* stream = findStream(handle);
    bool found = stream != nullptr;
    if (found) {
        off_t frame = static_cast<off_t>(bytePosition / BYTES_PER_FRAME);
        found = mpg123_seek(stream->decoder, frame, SEEK_SET) >= 0;
        stream->position = 0;
    }
    unlock();
    return found;
}

DWORD platformAudioGetPosition(AudioStream handle)
{
    if (silent)
        return 0;
    lock();
    Stream* stream = findStream(handle);
    DWORD position = stream != nullptr ? static_cast<DWORD>(stream->position) : 0;
    unlock();
    return position;
}

void platformAudioSetStreamVolume(int volume)
{
    streamVolume.store(volume < 0 ? 0 : (volume > 100 ? 100 : volume));
}

int platformAudioGetStreamVolume() { return streamVolume.load(); }

bool platformAudioStreamPlaying(AudioStream handle)
{
    lock();
    Stream* stream = findStream(handle);
    bool playing = stream != nullptr && stream->playing;
    unlock();
    return playing;
}

void platformAudioFree()
{
    if (device != 0) {
        SDL_CloseAudioDevice(device); // waits for the mixer to leave
        device = 0;
        SDL_QuitSubSystem(SDL_INIT_AUDIO);
    }
    for (Stream& stream : streams)
        if (stream.inUse)
            closeDecoder(stream);
    initialized = false;
    started = false;
    streamVolume.store(100);
}
