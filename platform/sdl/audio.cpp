// SDL2 audio output fed by libmpg123, and the silent stand-in; see audio.h.
// The mixer runs on SDL's audio thread; every operation of the main thread
// that touches a stream holds the device lock.
// Depends on: SDL2 (audio, audio stream conversion), libmpg123,
// platform/paths.h, POSIX (open, pread).
#include "platform/audio.h"
#include "platform/paths.h"

#include <SDL2/SDL.h>
#include <mpg123.h>

#include <atomic>
#include <cstdint>
#include <cstring>
#include <string>
#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr int MAX_STREAMS = 4;
constexpr int DEVICE_CHANNELS = 2;
constexpr int DEVICE_FRAME_BYTES = 4; // 16-bit stereo

struct Stream {
    bool inUse;
    bool playing;
    bool decoderDone; // the decoder gave its last sample since the last seek
    mpg123_handle* decoder;
    // Converts the stream's own rate and channels to the device's; null for
    // the silent stand-in, which plays nothing.
    SDL_AudioStream* converter;
    long rate;    // the stream as decoded
    int channels; // 1 or 2, 16-bit samples
    // Since the last seek: bytes of the stream's own format put into the
    // converter, and bytes of the device's format handed to the device.
    std::uint64_t decodedBytes;
    std::uint64_t deviceBytes;
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

int streamFrameBytes(const Stream& stream) { return stream.channels * 2; }

// The byte position in the stream's own format: what the device has been
// handed, converted back at the two rates. Resampling may round the last few
// frames, so the count is held to what was decoded, and a stream that has
// finished reports exactly everything it decoded.
std::uint64_t streamPosition(const Stream& stream)
{
    if (stream.converter == nullptr)
        return stream.decodedBytes;
    if (stream.decoderDone && !stream.playing)
        return stream.decodedBytes;
    std::uint64_t deviceFrames = stream.deviceBytes / DEVICE_FRAME_BYTES;
    std::uint64_t frames = deviceFrames * static_cast<std::uint64_t>(stream.rate) /
                           static_cast<std::uint64_t>(outputRate);
    std::uint64_t bytes = frames * static_cast<std::uint64_t>(streamFrameBytes(stream));
    return bytes < stream.decodedBytes ? bytes : stream.decodedBytes;
}

// What the device gets for everything decoded since the last seek, in
// device bytes (the converter's rate ratio, rounded up).
std::uint64_t deviceBytesOfStream(const Stream& stream)
{
    std::uint64_t frames = stream.decodedBytes / static_cast<std::uint64_t>(streamFrameBytes(stream));
    std::uint64_t rate = static_cast<std::uint64_t>(stream.rate);
    return (frames * static_cast<std::uint64_t>(outputRate) + rate - 1) / rate * DEVICE_FRAME_BYTES;
}

// Decodes one chunk into the converter. At the end of the file (or at a
// break the decoder cannot get past) the converter is flushed behind some
// silence: its resampler holds back the last few hundred frames, and a
// flush alone does not always push them out. The mixer stops the stream
// once the device has had deviceBytesOfStream, so the silence is not played.
void decodeChunk(Stream& stream)
{
    static unsigned char decoded[8192];
    static const unsigned char silence[8192] = {};
    std::size_t got = 0;
    int result = mpg123_read(stream.decoder, decoded, sizeof(decoded), &got);
    got -= got % static_cast<std::size_t>(streamFrameBytes(stream));
    if (got > 0 && SDL_AudioStreamPut(stream.converter, decoded, static_cast<int>(got)) == 0)
        stream.decodedBytes += got;
    else
        got = 0;
    if (result == MPG123_NEW_FORMAT)
        return;
    if (result != MPG123_OK || got == 0) {
        stream.decoderDone = true;
        SDL_AudioStreamPut(stream.converter, silence, sizeof(silence));
        SDL_AudioStreamFlush(stream.converter);
    }
}

// Mixes every playing stream into the device buffer at the stream volume.
void mix(void*, Uint8* output, int length)
{
    std::memset(output, 0, static_cast<std::size_t>(length));
    static Sint16 converted[8192];
    int volume = streamVolume.load();
    Sint16* out = reinterpret_cast<Sint16*>(output);
    for (Stream& stream : streams) {
        if (!stream.inUse || !stream.playing || stream.converter == nullptr)
            continue;
        int done = 0;
        while (done < length) {
            int want = length - done;
            if (want > static_cast<int>(sizeof(converted)))
                want = static_cast<int>(sizeof(converted));
            if (stream.decoderDone) {
                std::uint64_t total = deviceBytesOfStream(stream);
                std::uint64_t left = total > stream.deviceBytes ? total - stream.deviceBytes : 0;
                if (left < static_cast<std::uint64_t>(want))
                    want = static_cast<int>(left);
            }
            want -= want % DEVICE_FRAME_BYTES;
            if (want == 0 || (!stream.decoderDone && SDL_AudioStreamAvailable(stream.converter) < want)) {
                if (stream.decoderDone) {
                    stream.playing = false; // end of the file: played once, then silence
                    break;
                }
                decodeChunk(stream);
                continue;
            }
            int got = SDL_AudioStreamGet(stream.converter, converted, want);
            if (got <= 0) {
                stream.playing = false;
                break;
            }
            for (int i = 0; i < got / 2; i++) {
                int index = done / 2 + i;
                int sample = out[index] + converted[i] * volume / 100;
                out[index] = static_cast<Sint16>(sample > 32767 ? 32767 : (sample < -32768 ? -32768 : sample));
            }
            done += got;
            stream.deviceBytes += static_cast<std::uint64_t>(got);
        }
    }
}

// Back to the first sample (or any sample frame): decoder, converter and
// counts start over.
bool seekStream(Stream& stream, off_t frame)
{
    bool moved = mpg123_seek(stream.decoder, frame, SEEK_SET) >= 0;
    if (stream.converter != nullptr)
        SDL_AudioStreamClear(stream.converter);
    stream.decoderDone = false;
    stream.decodedBytes = 0;
    stream.deviceBytes = 0;
    return moved;
}

void closeStream(Stream& stream)
{
    if (stream.decoder != nullptr) {
        mpg123_close(stream.decoder);
        mpg123_delete(stream.decoder);
    }
    if (stream.converter != nullptr)
        SDL_FreeAudioStream(stream.converter);
    stream = Stream{};
}

// --- Telling MPEG audio from everything else -------------------------------
//
// The decoder resyncs through anything, so a WAV, an MP4 or an Ogg file
// "decodes" into noise or silence. A file is taken as MPEG audio only when,
// after its ID3v2 tags, a run of frame headers follows each other exactly
// (each at the end of the one before, same version, layer and rate). Some
// bytes of junk before the first frame are allowed, as the decoder allows.

constexpr int FRAMES_REQUIRED = 4;
// A cut-short file may end inside this run; it still needs this many.
constexpr int FRAMES_REQUIRED_AT_END = 2;
constexpr std::size_t JUNK_ALLOWED = 65536;
// Room for the run behind the last place a first frame may start (the
// largest frame is under 3 KiB; free-format frames are searched for within
// FREE_FORMAT_SEARCH).
constexpr std::size_t FREE_FORMAT_SEARCH = 8192;
constexpr std::size_t PROBE_SIZE = JUNK_ALLOWED + FRAMES_REQUIRED * FREE_FORMAT_SEARCH;
constexpr int MAX_ID3_TAGS = 8;

// Bit rates in kbit/s by [MPEG-1 ? 0 : 1][layer - 1][index].
constexpr int BIT_RATES[2][3][15] = {
    {{0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448},
     {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384},
     {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320}},
    {{0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256},
     {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160},
     {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160}}};
// Sample rates by [version bits][rate index]; version bits 1 is reserved.
constexpr int SAMPLE_RATES[4][3] = {{11025, 12000, 8000}, {0, 0, 0}, {22050, 24000, 16000}, {44100, 48000, 32000}};

struct FrameHeader {
    bool valid;
    int version; // version bits: 0 MPEG-2.5, 2 MPEG-2, 3 MPEG-1
    int layer;   // 1..3
    int rate;
    int length;  // bytes with the header; 0 for a free-format frame
    bool padded;
};

// Bytes of a frame with its header at `bitRate` bits per second.
int frameLength(const FrameHeader& header, int bitRate)
{
    int padding = header.padded ? 1 : 0;
    if (header.layer == 1)
        return (12 * bitRate / header.rate + padding) * 4;
    if (header.layer == 3 && header.version != 3)
        return 72 * bitRate / header.rate + padding;
    return 144 * bitRate / header.rate + padding;
}

// Free format allows bit rates up to twice the table's highest.
std::size_t largestFreeFormatLength(const FrameHeader& header)
{
    int highest = BIT_RATES[header.version == 3 ? 0 : 1][header.layer - 1][14] * 1000;
    return static_cast<std::size_t>(frameLength(header, 2 * highest)) + 4;
}

FrameHeader readFrameHeader(const unsigned char* bytes)
{
    FrameHeader header{};
    if (bytes[0] != 0xFF || (bytes[1] & 0xE0) != 0xE0)
        return header;
    header.version = (bytes[1] >> 3) & 3;
    int layerBits = (bytes[1] >> 1) & 3;
    int bitRateIndex = bytes[2] >> 4;
    int rateIndex = (bytes[2] >> 2) & 3;
    if (header.version == 1 || layerBits == 0 || bitRateIndex == 15 || rateIndex == 3 || (bytes[3] & 3) == 2)
        return header;
    header.layer = 4 - layerBits;
    header.rate = SAMPLE_RATES[header.version][rateIndex];
    header.padded = ((bytes[2] >> 1) & 1) != 0;
    int bitRate = BIT_RATES[header.version == 3 ? 0 : 1][header.layer - 1][bitRateIndex] * 1000;
    header.length = bitRate == 0 ? 0 : frameLength(header, bitRate);
    header.valid = true;
    return header;
}

bool sameStream(const FrameHeader& a, const FrameHeader& b)
{
    return b.valid && a.version == b.version && a.layer == b.layer && a.rate == b.rate &&
           (a.length == 0) == (b.length == 0);
}

// Length of a free-format frame: the distance to the next header of the
// same stream.
std::size_t freeFormatLength(const unsigned char* bytes, std::size_t at, std::size_t size, const FrameHeader& header)
{
    for (std::size_t next = at + 4; next + 4 <= size && next < at + FREE_FORMAT_SEARCH; next++)
        if (sameStream(header, readFrameHeader(bytes + next)))
            return next - at;
    return 0;
}

// True when a run of frames starts at `at`. `wholeFile`: bytes[size] is the
// end of the file, so a run cut short by it counts.
bool framesFollow(const unsigned char* bytes, std::size_t at, std::size_t size, bool wholeFile)
{
    FrameHeader first = readFrameHeader(bytes + at);
    if (!first.valid)
        return false;
    // Free-format frames are told by the next header alone, which noise
    // offers often enough within the search: their lengths must be possible
    // and agree (a padding slot apart at most, 4 bytes in Layer I), and only
    // the file's last frame may go without a next header, after two frames
    // whose lengths agreed.
    constexpr std::size_t PADDING_SLACK = 4;
    std::size_t freeLength = 0;
    int count = 0;
    while (count < FRAMES_REQUIRED) {
        if (at + 4 > size)
            return wholeFile && count >= FRAMES_REQUIRED_AT_END;
        FrameHeader header = readFrameHeader(bytes + at);
        if (!sameStream(first, header))
            return false;
        count++;
        if (header.length != 0) {
            at += static_cast<std::size_t>(header.length);
            continue;
        }
        std::size_t length = freeFormatLength(bytes, at, size, header);
        if (length == 0)
            return wholeFile && count > FRAMES_REQUIRED_AT_END && at + freeLength + PADDING_SLACK >= size;
        if (length > largestFreeFormatLength(header))
            return false;
        if (freeLength == 0)
            freeLength = length;
        else if (length + PADDING_SLACK < freeLength || length > freeLength + PADDING_SLACK)
            return false;
        at += length;
    }
    return true;
}

// Reads the file's start past its ID3v2 tags and looks for a run of frames.
bool looksLikeMpegAudio(const std::string& path)
{
    int file = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (file < 0)
        return false;
    off_t offset = 0;
    unsigned char tag[10];
    for (int i = 0; i < MAX_ID3_TAGS; i++) {
        if (pread(file, tag, sizeof(tag), offset) != static_cast<ssize_t>(sizeof(tag)) || tag[0] != 'I' ||
            tag[1] != 'D' || tag[2] != '3')
            break;
        off_t body = static_cast<off_t>(tag[6] & 0x7F) << 21 | static_cast<off_t>(tag[7] & 0x7F) << 14 |
                     static_cast<off_t>(tag[8] & 0x7F) << 7 | static_cast<off_t>(tag[9] & 0x7F);
        bool footer = (tag[5] & 0x10) != 0;
        offset += 10 + body + (footer ? 10 : 0);
    }
    static unsigned char probe[PROBE_SIZE];
    std::size_t size = 0;
    while (size < PROBE_SIZE) {
        ssize_t got = pread(file, probe + size, PROBE_SIZE - size, offset + static_cast<off_t>(size));
        if (got <= 0)
            break;
        size += static_cast<std::size_t>(got);
    }
    close(file);
    bool wholeFile = size < PROBE_SIZE;
    for (std::size_t at = 0; at <= JUNK_ALLOWED && at + 4 <= size; at++)
        if (framesFollow(probe, at, size, wholeFile))
            return true;
    return false;
}

// ---------------------------------------------------------------------------

// Reads every frame header for exact seeking. A file cut short (its encoder
// tag may promise more frames than are there) is played as far as it goes.
bool scanWholeFile(mpg123_handle* decoder) { return mpg123_scan(decoder) == MPG123_OK; }

// Frames decoded ahead of a seek target and thrown away. A Layer III frame
// may take its data from up to 511 bytes (255 at MPEG-2 rates) of the
// frames before it; with the smallest frames (8 kbit/s at 24 kHz: 11 bytes
// of data each) that reaches 24 frames back, and one more is needed for the
// overlap. Fewer leave the first frames after a seek in a VBR file silent.
constexpr long SEEK_PREFRAMES = 25;

// Opens the decoder at the file's own rate and channels, 16-bit. The
// decoder keeps quiet: the show's one message is the only line on stderr.
mpg123_handle* openDecoder(const std::string& path, bool exactSeeking, long* rate, int* channels)
{
    if (!decoderLibraryReady) {
        mpg123_init(); // a no-op on current versions, required on old ones
        decoderLibraryReady = true;
    }
    mpg123_handle* decoder = mpg123_new(nullptr, nullptr);
    if (decoder == nullptr)
        return nullptr;
    mpg123_param(decoder, MPG123_FLAGS, MPG123_QUIET | MPG123_GAPLESS, 0.0);
    mpg123_param(decoder, MPG123_PREFRAMES, SEEK_PREFRAMES, 0.0);
    mpg123_format_none(decoder);
    const long* rates = nullptr;
    std::size_t rateCount = 0;
    mpg123_rates(&rates, &rateCount);
    for (std::size_t i = 0; i < rateCount; i++)
        mpg123_format(decoder, rates[i], MPG123_MONO | MPG123_STEREO, MPG123_ENC_SIGNED_16);
    int encoding = 0;
    bool opened = mpg123_open(decoder, path.c_str()) == MPG123_OK &&
                  mpg123_getformat(decoder, rate, channels, &encoding) == MPG123_OK && *rate > 0 &&
                  (*channels == 1 || *channels == 2) && encoding == MPG123_ENC_SIGNED_16;
    if (opened) {
        // Hold the output to the first frame's format: a later frame in
        // another mode is converted by the decoder, never passed on as is.
        mpg123_format_none(decoder);
        opened = mpg123_format(decoder, *rate, *channels == 1 ? MPG123_MONO : MPG123_STEREO,
                               MPG123_ENC_SIGNED_16) == MPG123_OK &&
                 (!exactSeeking || scanWholeFile(decoder));
    }
    if (!opened) {
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
    wanted.channels = DEVICE_CHANNELS;
    wanted.samples = 1024;
    wanted.callback = mix;
    SDL_AudioSpec obtained{};
    // No changes allowed: SDL converts to the real device itself, so the
    // mixer always writes 16-bit stereo at `frequency`.
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
    std::string resolved = platformResolvePath(path);
    if (!looksLikeMpegAudio(resolved))
        return 0;
    long rate = 0;
    int channels = 0;
    mpg123_handle* decoder = openDecoder(resolved, (flags & AUDIO_MP3_SETPOS) != 0, &rate, &channels);
    if (decoder == nullptr)
        return 0;
    SDL_AudioStream* converter = nullptr;
    if (device != 0) {
        converter = SDL_NewAudioStream(AUDIO_S16SYS, static_cast<Uint8>(channels), static_cast<int>(rate),
                                       AUDIO_S16SYS, DEVICE_CHANNELS, outputRate);
        if (converter == nullptr) {
            mpg123_close(decoder);
            mpg123_delete(decoder);
            return 0;
        }
    }
    lock();
    streams[slot] = Stream{true, false, false, decoder, converter, rate, channels, 0, 0};
    unlock();
    return static_cast<AudioStream>(slot + 1);
}

bool platformAudioStreamPlay(AudioStream handle, bool restart)
{
    lock();
    Stream* stream = findStream(handle);
    bool found = stream != nullptr;
    if (found) {
        if (restart)
            seekStream(*stream, 0);
        // The silent stand-in plays nothing: the stream stays at rest.
        stream->playing = !silent;
    }
    unlock();
    return found;
}

bool platformAudioGetRate(AudioStream handle, DWORD* rate)
{
    lock();
    Stream* stream = findStream(handle);
    bool found = stream != nullptr;
    if (found && rate != nullptr)
        *rate = static_cast<DWORD>(stream->rate);
    unlock();
    return found;
}

DWORD platformAudioGetFlags(AudioStream handle)
{
    lock();
    Stream* stream = findStream(handle);
    DWORD flags = stream != nullptr && stream->channels == 1 ? AUDIO_SAMPLE_MONO : 0;
    unlock();
    return flags;
}

bool platformAudioSetPosition(AudioStream handle, DWORD bytePosition)
{
    lock();
    Stream* stream = findStream(handle);
    bool found = stream != nullptr;
    if (found)
        found = seekStream(*stream, static_cast<off_t>(bytePosition / static_cast<DWORD>(streamFrameBytes(*stream))));
    unlock();
    return found;
}

DWORD platformAudioGetPosition(AudioStream handle)
{
    if (silent)
        return 0;
    lock();
    Stream* stream = findStream(handle);
    DWORD position = stream != nullptr ? static_cast<DWORD>(streamPosition(*stream)) : 0;
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
            closeStream(stream);
    initialized = false;
    started = false;
    streamVolume.store(100);
}
