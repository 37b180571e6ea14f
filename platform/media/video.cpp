// Video clips on FFmpeg (see video.h for the contract).
//
// The whole stream is demuxed at open; a short clip's packets stay in memory,
// a long clip's are read again from its file when needed. Each packet knows
// its entry: the frame number of the clip's timeline it starts
// at (an AVI's index may hold empty entries between packets, which repeat the
// picture before them). Opening the reader decodes the whole clip once, in
// order, to learn which packets give a picture and in which display order;
// the k-th picture out of the decoder is shown from the k-th entry of the
// packets that gave one. That holds for plain streams, for B-frames stored in
// decode order and for B-frames packed two to a chunk alike.
//
// Pictures are kept converted to the bottom-up BGR bitmap the callers read,
// up to the reader's cache limit; a picture outside the cache is decoded
// again from the nearest earlier key frame that shows no later, and what is
// decoded on the way is kept when it is nearer the request than what it
// would push out. A long clip whose key frames lie far apart is encoded again
// at open, frame by frame, so that a frame costs one decode at play time.
#include "platform/video.h"

#include "platform/paths.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/log.h>
#include <libavutil/mem.h>
#include <libswscale/swscale.h>
}

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <set>
#include <string>
#include <vector>

struct VideoFrameReader {
    VideoStream* stream = nullptr;
    AVCodecContext* decoder = nullptr;
    SwsContext* scaler = nullptr;
    AVFrame* frame = nullptr;
    // Top-down BGR scratch with generous row padding: the converter's vector
    // paths may write past the last pixel of a row.
    std::uint8_t* scratch = nullptr;
    int scratchStride = 0;

    // The picture table from the first decode: pictures in display order.
    std::vector<std::int32_t> packetOfPicture;
    std::vector<std::int32_t> pictureOfPacket; // -1: the packet gave no picture
    std::vector<std::uint8_t> pictureFailed;   // the decoder marked it damaged
    // Where the timeline changes picture, in order of entries: a picture, or
    // NO_PICTURE for a packet the decoder refused.
    std::vector<std::uint32_t> changeEntries;
    std::vector<std::int32_t> changePictures;
    // Output tags were not one per packet: the display order is only known
    // from a decode that starts at the first packet.
    bool sequential = false;
    // Played from JPEG pictures encoded at open (see IntraStore).
    bool intraStore = false;

    // Decoded bitmaps by picture (empty = not decoded or pushed out), and
    // the pictures that have one.
    std::vector<std::vector<BYTE>> cache;
    std::set<std::int32_t> kept;
    std::uint64_t cacheBytes = 0;
    std::uint64_t cacheLimit = 0;
    std::uint64_t decodedFrames = 0;

    // The running decode: packets chainStart..nextPacket-1 have been sent.
    bool running = false;
    bool flushSent = false;
    bool drained = false;
    std::int32_t chainStart = 0;
    std::int32_t chainFirstPicture = 0; // pictures before it may lack references
    std::int32_t nextPacket = 0;
    std::int32_t picturesOut = 0;       // pictures given since the chain started
    std::int32_t lastPictureOut = -1;
};

struct VideoStream {
    AVCodecParameters* parameters = nullptr;
    // Decode order; pts = the packet's position. A long clip's packets keep
    // no data (data null, size and pos kept): it is read again from the file.
    std::vector<AVPacket*> packets;
    std::vector<std::uint32_t> entries; // by packet, strictly increasing
    AVISTREAMINFOA info = {};
    int width = 0;
    int height = 0;
    int rowStride = 0;
    std::uint32_t bitmapBytes = 0;
    FILE* file = nullptr;           // open while packets are read from it
    AVPacket* filePacket = nullptr; // the packet read from it last
    VideoFrameReader* reader = nullptr;
};

namespace {

constexpr std::int32_t NO_PICTURE = -1;

std::uint64_t cacheLimitForNewReaders = VIDEO_CACHE_BYTES;
std::uint64_t residentPacketLimit = VIDEO_RESIDENT_PACKET_BYTES;

// The library's own diagnostics would reach the show's standard error, where
// the show's one message must be the only line; a failure is reported by the
// result of the call instead.
void silentLog(void*, int, const char*, va_list) {}

void freePackets(VideoStream* stream)
{
    for (AVPacket*& packet : stream->packets) {
        av_packet_free(&packet);
    }
    stream->packets.clear();
    av_packet_free(&stream->filePacket);
    if (stream->file != nullptr) {
        std::fclose(stream->file);
        stream->file = nullptr;
    }
}

// A clip whose packets hold more than the resident packet limit keeps only
// where they lie in the file for each packet that is the file's bytes there
// as they are (no side data, nothing rewritten by the demuxer): resident
// memory then grows with the clip's length by a few bytes a frame.
void leaveInFile(VideoStream* stream, const std::string& path, AVPacket* packet, std::vector<std::uint8_t>& bytes)
{
    // The file is opened once: when it can not be opened again, packets stay.
    if (packet->data == nullptr || packet->buf == nullptr || packet->pos < 0 || packet->side_data_elems != 0 ||
        (stream->file == nullptr && stream->filePacket != nullptr)) {
        return;
    }
    if (stream->file == nullptr) {
        stream->filePacket = av_packet_alloc();
        stream->file = stream->filePacket != nullptr ? std::fopen(path.c_str(), "rb") : nullptr;
        if (stream->file == nullptr) {
            return;
        }
    }
    bytes.resize(static_cast<std::size_t>(packet->size));
    if (fseeko(stream->file, packet->pos, SEEK_SET) == 0 &&
        std::fread(bytes.data(), 1, bytes.size(), stream->file) == bytes.size() &&
        std::memcmp(bytes.data(), packet->data, bytes.size()) == 0) {
        av_buffer_unref(&packet->buf);
        packet->data = nullptr;
    }
}

// Packet i with its data, read from the file when it is not held; null when
// the file can no longer give it. Valid until the next call.
const AVPacket* packetAt(VideoStream* stream, std::int32_t i)
{
    const AVPacket* packet = stream->packets[static_cast<std::size_t>(i)];
    if (packet->data != nullptr) {
        return packet;
    }
    AVPacket* read = stream->filePacket;
    av_packet_unref(read);
    if (av_new_packet(read, packet->size) < 0 || fseeko(stream->file, packet->pos, SEEK_SET) != 0 ||
        std::fread(read->data, 1, static_cast<std::size_t>(packet->size), stream->file) !=
            static_cast<std::size_t>(packet->size)) {
        return nullptr;
    }
    read->pts = packet->pts;
    read->flags = packet->flags;
    return read;
}

int sendPacket(VideoStream* stream, AVCodecContext* decoder, std::int32_t i)
{
    // An empty place (a picture the store could not hold) is no packet: an
    // empty one would end the decoder's stream.
    const AVPacket* packet = stream->packets[static_cast<std::size_t>(i)]->size > 0 ? packetAt(stream, i) : nullptr;
    return packet != nullptr ? avcodec_send_packet(decoder, packet) : AVERROR(EIO);
}

// Frame rate as the clip library's rate / scale pair.
void frameRate(const AVStream* avStream, DWORD& rate, DWORD& scale)
{
    AVRational candidates[3] = {avStream->avg_frame_rate, avStream->r_frame_rate, av_inv_q(avStream->time_base)};
    for (const AVRational& candidate : candidates) {
        if (candidate.num > 0 && candidate.den > 0) {
            rate = static_cast<DWORD>(candidate.num);
            scale = static_cast<DWORD>(candidate.den);
            return;
        }
    }
    rate = 25;
    scale = 1;
}

bool readPackets(AVFormatContext* format, int streamIndex, VideoStream* stream, const std::string& path, bool avi)
{
    AVPacket* packet = av_packet_alloc();
    if (packet == nullptr) {
        return false;
    }
    std::uint64_t totalBytes = 0;
    std::uint32_t largest = 0;
    std::size_t leftFrom = 0; // packets before it have been offered to the file
    std::vector<std::uint8_t> bytes;
    bool ok = true;
    while (av_read_frame(format, packet) >= 0) {
        if (packet->stream_index == streamIndex && packet->size > 0) {
            totalBytes += static_cast<std::uint64_t>(packet->size);
            if (stream->packets.size() >= VIDEO_MAX_PACKETS || totalBytes > VIDEO_MAX_PACKET_BYTES) {
                ok = false;
                av_packet_unref(packet);
                break;
            }
            AVPacket* kept = av_packet_alloc();
            if (kept == nullptr) {
                ok = false;
                av_packet_unref(packet);
                break;
            }
            av_packet_move_ref(kept, packet);
            largest = std::max(largest, static_cast<std::uint32_t>(kept->size));
            stream->packets.push_back(kept);
            if (totalBytes > residentPacketLimit) {
                const std::size_t from = leftFrom;
                leftFrom = stream->packets.size();
                for (std::size_t i = from; i < stream->packets.size(); ++i) {
                    leaveInFile(stream, path, stream->packets[i], bytes);
                }
            }
        }
        av_packet_unref(packet);
    }
    av_packet_free(&packet);
    stream->info.dwSuggestedBufferSize = largest;
    // A file cut inside its last chunk: the chunk's header ("##dc" or "##db"
    // and a size) announces more bytes than the file still held. That packet
    // is no frame; the clip ends before it, like any clip cut short.
    std::uint8_t header[8];
    if (ok && avi && !stream->packets.empty() && stream->packets.back()->pos >= 8 &&
        avio_seek(format->pb, stream->packets.back()->pos - 8, SEEK_SET) >= 0 &&
        avio_read(format->pb, header, 8) == 8 && header[2] == 'd' && (header[3] == 'c' || header[3] == 'b')) {
        const std::uint32_t declared = static_cast<std::uint32_t>(header[4]) | static_cast<std::uint32_t>(header[5]) << 8 |
                                       static_cast<std::uint32_t>(header[6]) << 16 |
                                       static_cast<std::uint32_t>(header[7]) << 24;
        if (declared > static_cast<std::uint32_t>(stream->packets.back()->size)) {
            av_packet_free(&stream->packets.back());
            stream->packets.pop_back();
        }
    }
    return ok && !stream->packets.empty();
}

// Each packet's entry in the timeline. An AVI stream's time stamps count
// entries, the empty ones included; elsewhere, or when the stamps do not
// grow from packet to packet, the packets follow one another.
void assignEntries(VideoStream* stream, bool stampsCountEntries)
{
    const std::size_t count = stream->packets.size();
    stream->entries.resize(count);
    bool growing = stampsCountEntries;
    std::int64_t previous = -1;
    for (std::size_t i = 0; i < count && growing; ++i) {
        const std::int64_t dts = stream->packets[i]->dts;
        growing = dts != AV_NOPTS_VALUE && dts > previous && dts < VIDEO_MAX_FRAMES;
        previous = dts;
    }
    for (std::size_t i = 0; i < count; ++i) {
        stream->entries[i] = growing ? static_cast<std::uint32_t>(stream->packets[i]->dts)
                                     : static_cast<std::uint32_t>(i);
        // The decoder hands each packet's pts on to the picture the packet
        // carried: the packet's position tells which one came out.
        stream->packets[i]->pts = static_cast<std::int64_t>(i);
        stream->packets[i]->dts = AV_NOPTS_VALUE;
    }
}

// The frame count: the header's length, or the entries held when the header
// gives none.
DWORD clipLength(const VideoStream* stream, std::int64_t headerLength)
{
    if (headerLength > 0 && headerLength <= VIDEO_MAX_FRAMES) {
        return static_cast<DWORD>(headerLength);
    }
    return stream->entries.back() + 1;
}

void restartDecode(VideoFrameReader* reader, std::int32_t keyPacket)
{
    avcodec_flush_buffers(reader->decoder);
    reader->running = true;
    reader->flushSent = false;
    reader->drained = false;
    reader->chainStart = keyPacket;
    reader->chainFirstPicture = reader->pictureOfPacket.empty() ? 0 : std::max(0, reader->pictureOfPacket[keyPacket]);
    reader->nextPacket = keyPacket;
    reader->picturesOut = 0;
    reader->lastPictureOut = -1;
}

std::int32_t distanceTo(std::int32_t target, std::int32_t picture)
{
    return picture > target ? picture - target : target - picture;
}

// Converts the decoder's frame to the bitmap of picture and keeps it when the
// cache has room for it near target: when full, the kept bitmap farthest from
// target gives its memory to it (no allocation once the cache is full),
// unless every kept one is nearer target. False when it can not be converted.
bool keepPicture(VideoFrameReader* reader, std::int32_t picture, std::int32_t target)
{
    VideoStream* stream = reader->stream;
    const AVFrame* frame = reader->frame;
    if (!reader->cache[picture].empty()) {
        return true;
    }
    std::int32_t given = -1;
    if (reader->cacheBytes + stream->bitmapBytes > reader->cacheLimit) {
        if (reader->kept.empty()) {
            return true;
        }
        const std::int32_t low = *reader->kept.begin();
        const std::int32_t high = *reader->kept.rbegin();
        given = distanceTo(target, low) >= distanceTo(target, high) ? low : high;
        if (picture != target && distanceTo(target, given) <= distanceTo(target, picture)) {
            return true;
        }
    }
    // Frames whose size differs from the stream's are scaled to it, so every
    // bitmap of a clip has the header of the stream.
    reader->scaler = sws_getCachedContext(reader->scaler, frame->width, frame->height,
                                          static_cast<AVPixelFormat>(frame->format), stream->width, stream->height,
                                          AV_PIX_FMT_BGR24, SWS_BILINEAR, nullptr, nullptr, nullptr);
    if (reader->scaler == nullptr) {
        return false;
    }
    std::uint8_t* planes[4] = {reader->scratch, nullptr, nullptr, nullptr};
    int strides[4] = {reader->scratchStride, 0, 0, 0};
    if (sws_scale(reader->scaler, frame->data, frame->linesize, 0, frame->height, planes, strides) != stream->height) {
        return false;
    }
    if (given >= 0) {
        reader->cache[picture].swap(reader->cache[given]);
        reader->kept.erase(given);
        reader->cacheBytes -= stream->bitmapBytes;
    }
    std::vector<BYTE>& bitmap = reader->cache[picture];
    bitmap.assign(stream->bitmapBytes, 0);
    BITMAPINFOHEADER header = {};
    header.biSize = sizeof(BITMAPINFOHEADER);
    header.biWidth = stream->width;
    header.biHeight = stream->height;
    header.biPlanes = 1;
    header.biBitCount = 24;
    header.biSizeImage = static_cast<DWORD>(stream->rowStride) * static_cast<DWORD>(stream->height);
    std::memcpy(bitmap.data(), &header, sizeof(header));
    BYTE* pixels = bitmap.data() + sizeof(header);
    const std::size_t rowBytes = static_cast<std::size_t>(stream->width) * 3;
    for (int y = 0; y < stream->height; ++y) {
        std::memcpy(pixels + static_cast<std::size_t>(stream->height - 1 - y) * stream->rowStride,
                    reader->scratch + static_cast<std::size_t>(y) * reader->scratchStride, rowBytes);
    }
    reader->cacheBytes += stream->bitmapBytes;
    reader->kept.insert(picture);
    return true;
}

bool usableFrame(const AVFrame* frame)
{
    return frame->width > 0 && frame->height > 0 && frame->width <= VIDEO_MAX_DIMENSION &&
           frame->height <= VIDEO_MAX_DIMENSION && frame->format >= 0 && frame->decode_error_flags == 0 &&
           (frame->flags & AV_FRAME_FLAG_CORRUPT) == 0;
}

// A clip longer than its cache whose key frames lie far apart would decode
// up to a whole group of frames for one frame at play time (a key frame every
// 250 or 300 frames is common). Such a clip is encoded again while it is
// decoded at open, every frame on its own as high-quality JPEG, into a
// temporary file; play time then decodes one frame for any frame it misses.
constexpr std::int32_t MAX_KEY_DISTANCE = 8;
constexpr int INTRA_QUALITY = 2; // JPEG quantiser scale, 1 (best) to 31

struct IntraStore {
    AVCodecContext* encoder = nullptr;
    // The decoder's frame becomes the BGR picture the cache would hold, and
    // that picture the encoder's: what is stored is what would be shown.
    SwsContext* toBgr = nullptr;
    SwsContext* converter = nullptr;
    AVFrame* bgr = nullptr;
    AVFrame* picture = nullptr;
    AVPacket* packet = nullptr;
    FILE* file = nullptr;
    std::int64_t fileSize = 0;
    std::vector<AVPacket*> packets; // one per picture: where its JPEG lies
    bool failed = false;
};

bool needsIntraStore(const VideoFrameReader* reader)
{
    const VideoStream* stream = reader->stream;
    const std::uint64_t clipBytes = static_cast<std::uint64_t>(stream->packets.size()) * stream->bitmapBytes;
    if (clipBytes <= reader->cacheLimit || stream->parameters->codec_id == AV_CODEC_ID_MJPEG) {
        return false;
    }
    std::int32_t sinceKey = 0;
    for (const AVPacket* packet : stream->packets) {
        sinceKey = (packet->flags & AV_PKT_FLAG_KEY) != 0 ? 0 : sinceKey + 1;
        if (sinceKey > MAX_KEY_DISTANCE) {
            return true;
        }
    }
    return false;
}

void closeIntraStore(IntraStore& store)
{
    avcodec_free_context(&store.encoder);
    sws_freeContext(store.toBgr);
    sws_freeContext(store.converter);
    av_frame_free(&store.bgr);
    av_frame_free(&store.picture);
    av_packet_free(&store.packet);
    for (AVPacket*& packet : store.packets) {
        av_packet_free(&packet);
    }
    store.packets.clear();
    if (store.file != nullptr) {
        std::fclose(store.file);
    }
    store = IntraStore();
}

bool openIntraStore(IntraStore& store, const VideoStream* stream)
{
    const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_MJPEG);
    store.encoder = codec != nullptr ? avcodec_alloc_context3(codec) : nullptr;
    store.bgr = av_frame_alloc();
    store.picture = av_frame_alloc();
    store.packet = av_packet_alloc();
    store.file = std::tmpfile();
    if (store.encoder == nullptr || store.bgr == nullptr || store.picture == nullptr || store.packet == nullptr ||
        store.file == nullptr) {
        return false;
    }
    store.bgr->format = AV_PIX_FMT_BGR24;
    store.bgr->width = stream->width;
    store.bgr->height = stream->height;
    store.encoder->width = stream->width;
    store.encoder->height = stream->height;
    store.encoder->pix_fmt = AV_PIX_FMT_YUVJ444P; // no colour detail lost to subsampling
    store.encoder->time_base = AVRational{1, 25};
    store.encoder->flags |= AV_CODEC_FLAG_QSCALE;
    store.encoder->global_quality = FF_QP2LAMBDA * INTRA_QUALITY;
    store.encoder->thread_count = 1;
    store.picture->format = AV_PIX_FMT_YUVJ444P;
    store.picture->width = stream->width;
    store.picture->height = stream->height;
    store.converter = sws_getContext(stream->width, stream->height, AV_PIX_FMT_BGR24, stream->width, stream->height,
                                     AV_PIX_FMT_YUVJ444P, SWS_POINT, nullptr, nullptr, nullptr);
    return store.converter != nullptr && avcodec_open2(store.encoder, codec, nullptr) >= 0 &&
           av_frame_get_buffer(store.bgr, 0) >= 0 && av_frame_get_buffer(store.picture, 0) >= 0;
}

// Adds the decoder's frame as the next picture; a picture that can not be
// shown gets an empty place so that the numbers stay in step.
void storePicture(IntraStore& store, const AVFrame* frame, bool usable)
{
    AVPacket* place = av_packet_alloc();
    if (place == nullptr) {
        store.failed = true;
        return;
    }
    place->pts = static_cast<std::int64_t>(store.packets.size());
    place->flags = AV_PKT_FLAG_KEY;
    store.packets.push_back(place);
    if (!usable || store.failed) {
        return;
    }
    store.toBgr = sws_getCachedContext(store.toBgr, frame->width, frame->height,
                                       static_cast<AVPixelFormat>(frame->format), store.bgr->width, store.bgr->height,
                                       AV_PIX_FMT_BGR24, SWS_BILINEAR, nullptr, nullptr, nullptr);
    store.failed = store.toBgr == nullptr || av_frame_make_writable(store.picture) < 0 ||
                   sws_scale(store.toBgr, frame->data, frame->linesize, 0, frame->height, store.bgr->data,
                             store.bgr->linesize) != store.bgr->height ||
                   sws_scale(store.converter, store.bgr->data, store.bgr->linesize, 0, store.bgr->height,
                             store.picture->data, store.picture->linesize) != store.picture->height;
    store.picture->pts = place->pts;
    store.picture->quality = store.encoder->global_quality;
    if (store.failed || avcodec_send_frame(store.encoder, store.picture) < 0 ||
        avcodec_receive_packet(store.encoder, store.packet) < 0) {
        store.failed = true;
        return;
    }
    const std::size_t size = static_cast<std::size_t>(store.packet->size);
    store.failed = std::fwrite(store.packet->data, 1, size, store.file) != size;
    place->pos = store.fileSize;
    place->size = store.packet->size;
    store.fileSize += store.packet->size;
    av_packet_unref(store.packet);
}

// Plays the clip from the store from now on: its packets and a JPEG decoder
// take the place of the file's. False (nothing changed) when that fails.
bool useIntraStore(VideoFrameReader* reader, IntraStore& store)
{
    VideoStream* stream = reader->stream;
    const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_MJPEG);
    AVCodecContext* decoder = codec != nullptr ? avcodec_alloc_context3(codec) : nullptr;
    AVPacket* filePacket = av_packet_alloc();
    bool ok = !store.failed && std::fflush(store.file) == 0 && decoder != nullptr && filePacket != nullptr;
    if (ok) {
        decoder->thread_count = 1;
        ok = avcodec_open2(decoder, codec, nullptr) >= 0;
    }
    if (!ok) {
        avcodec_free_context(&decoder);
        av_packet_free(&filePacket);
        return false;
    }
    freePackets(stream);
    stream->packets.swap(store.packets);
    stream->file = store.file;
    store.file = nullptr;
    stream->filePacket = filePacket;
    avcodec_free_context(&reader->decoder);
    reader->decoder = decoder;
    const std::int32_t count = static_cast<std::int32_t>(stream->packets.size());
    reader->sequential = false;
    reader->pictureOfPacket.resize(static_cast<std::size_t>(count));
    reader->packetOfPicture.resize(static_cast<std::size_t>(count));
    for (std::int32_t i = 0; i < count; ++i) {
        reader->pictureOfPacket[i] = i;
        reader->packetOfPicture[i] = i;
    }
    return true;
}

// The first decode, from the first packet to the end: builds the picture
// table and keeps the pictures from the first on, as many as the cache holds.
// False when the clip gives no picture at all.
bool surveyPictures(VideoFrameReader* reader)
{
    VideoStream* stream = reader->stream;
    const std::int32_t packetCount = static_cast<std::int32_t>(stream->packets.size());
    std::vector<std::int32_t> tags;
    std::vector<std::uint8_t> refused(stream->packets.size(), 0);
    restartDecode(reader, 0);
    reader->cache.clear();
    IntraStore store;
    const bool storing = needsIntraStore(reader);
    if (storing && !openIntraStore(store, stream)) {
        store.failed = true;
    }
    const auto receiveAll = [&] {
        while (avcodec_receive_frame(reader->decoder, reader->frame) == 0) {
            ++reader->decodedFrames;
            const std::int32_t picture = static_cast<std::int32_t>(tags.size());
            tags.push_back(reader->frame->pts >= 0 && reader->frame->pts < packetCount
                               ? static_cast<std::int32_t>(reader->frame->pts)
                               : NO_PICTURE);
            reader->cache.emplace_back();
            const bool usable = usableFrame(reader->frame) && keepPicture(reader, picture, 0);
            reader->pictureFailed.push_back(usable ? 0 : 1);
            if (storing) {
                storePicture(store, reader->frame, usable);
            }
            av_frame_unref(reader->frame);
        }
    };
    for (std::int32_t i = 0; i < packetCount; ++i) {
        int sent = sendPacket(stream, reader->decoder, i);
        if (sent == AVERROR(EAGAIN)) {
            receiveAll();
            sent = sendPacket(stream, reader->decoder, i);
        }
        if (sent < 0) {
            refused[i] = 1;
        }
        receiveAll();
    }
    avcodec_send_packet(reader->decoder, nullptr);
    receiveAll();
    reader->running = false;

    const std::int32_t pictureCount = static_cast<std::int32_t>(tags.size());
    if (pictureCount == 0) {
        closeIntraStore(store);
        return false;
    }
    // Tags that are not one per packet: the display order only holds for a
    // decode from the first packet, and the k-th picture is shown from the
    // k-th packet's entry.
    reader->pictureOfPacket.assign(stream->packets.size(), NO_PICTURE);
    reader->packetOfPicture.assign(tags.size(), NO_PICTURE);
    for (std::int32_t picture = 0; picture < pictureCount && !reader->sequential; ++picture) {
        const std::int32_t tag = tags[picture];
        reader->sequential = tag == NO_PICTURE || reader->pictureOfPacket[tag] != NO_PICTURE;
        if (!reader->sequential) {
            reader->pictureOfPacket[tag] = picture;
        }
    }
    std::vector<std::int32_t> givers; // packets that gave a picture, in decode order
    if (reader->sequential) {
        std::fill(reader->pictureOfPacket.begin(), reader->pictureOfPacket.end(), NO_PICTURE);
        for (std::int32_t i = 0; i < std::min(pictureCount, packetCount); ++i) {
            givers.push_back(i);
        }
    } else {
        for (std::int32_t i = 0; i < packetCount; ++i) {
            if (reader->pictureOfPacket[i] != NO_PICTURE) {
                givers.push_back(i);
            }
        }
    }
    // Pictures in display order from the entries of the packets that gave
    // them; a refused packet fails its entry.
    std::size_t nextGiver = 0;
    for (std::int32_t i = 0; i < packetCount; ++i) {
        if (nextGiver < givers.size() && givers[nextGiver] == i) {
            reader->changeEntries.push_back(stream->entries[i]);
            reader->changePictures.push_back(static_cast<std::int32_t>(nextGiver));
            ++nextGiver;
        } else if (refused[i] != 0) {
            reader->changeEntries.push_back(stream->entries[i]);
            reader->changePictures.push_back(NO_PICTURE);
        }
    }
    for (std::int32_t picture = 0; picture < static_cast<std::int32_t>(givers.size()); ++picture) {
        reader->packetOfPicture[picture] = givers[picture];
    }
    if (storing) {
        reader->intraStore = useIntraStore(reader, store);
        closeIntraStore(store);
    }
    return true;
}

// The picture shown at entry index, or NO_PICTURE.
std::int32_t pictureAt(const VideoFrameReader* reader, std::uint32_t index)
{
    const auto& entries = reader->changeEntries;
    auto after = std::upper_bound(entries.begin(), entries.end(), index);
    if (after == entries.begin()) {
        // Entries before the first packet show the first picture.
        return 0;
    }
    return reader->changePictures[static_cast<std::size_t>(after - entries.begin()) - 1];
}

// The packet to start decoding from for picture: the last key frame at or
// before the picture's packet whose own picture is not shown later.
std::int32_t keyPacketFor(const VideoFrameReader* reader, std::int32_t picture)
{
    const std::int32_t target = reader->packetOfPicture[picture];
    if (reader->sequential || target == NO_PICTURE) {
        return 0;
    }
    for (std::int32_t i = target; i > 0; --i) {
        const std::int32_t shown = reader->pictureOfPacket[i];
        if ((reader->stream->packets[i]->flags & AV_PKT_FLAG_KEY) != 0 && shown != NO_PICTURE && shown <= picture) {
            return i;
        }
    }
    return 0;
}

// Feeds the running decode until picture target is kept or the stream ends.
bool decodeUntil(VideoFrameReader* reader, std::int32_t target)
{
    VideoStream* stream = reader->stream;
    const std::int32_t packetCount = static_cast<std::int32_t>(stream->packets.size());
    const std::int32_t pictureCount = static_cast<std::int32_t>(reader->cache.size());
    while (!reader->drained) {
        const int received = avcodec_receive_frame(reader->decoder, reader->frame);
        if (received == 0) {
            ++reader->decodedFrames;
            std::int32_t picture = NO_PICTURE;
            if (reader->sequential) {
                picture = reader->picturesOut;
            } else if (reader->frame->pts >= 0 && reader->frame->pts < packetCount) {
                picture = reader->pictureOfPacket[static_cast<std::size_t>(reader->frame->pts)];
            }
            ++reader->picturesOut;
            // Pictures shown before the chain's key frame may refer to
            // pictures the chain never decoded.
            if (picture >= reader->chainFirstPicture && picture < pictureCount && reader->pictureFailed[picture] == 0 &&
                usableFrame(reader->frame)) {
                reader->lastPictureOut = std::max(reader->lastPictureOut, picture);
                keepPicture(reader, picture, target);
            }
            av_frame_unref(reader->frame);
            if (!reader->cache[target].empty()) {
                return true;
            }
            continue;
        }
        if (received == AVERROR_EOF || (received != AVERROR(EAGAIN) && reader->flushSent)) {
            reader->drained = true;
            break;
        }
        if (reader->nextPacket < packetCount) {
            const int sent = sendPacket(stream, reader->decoder, reader->nextPacket);
            if (sent == AVERROR(EAGAIN)) {
                reader->drained = true; // the decoder neither takes nor gives: give up
                break;
            }
            ++reader->nextPacket; // a packet the decoder refuses is skipped
        } else if (!reader->flushSent) {
            avcodec_send_packet(reader->decoder, nullptr);
            reader->flushSent = true;
        } else {
            reader->drained = true;
        }
    }
    return !reader->cache[target].empty();
}

void freeReader(VideoFrameReader* reader)
{
    avcodec_free_context(&reader->decoder);
    sws_freeContext(reader->scaler);
    av_frame_free(&reader->frame);
    av_freep(&reader->scratch);
    delete reader;
}

} // namespace

VideoStream* videoOpenStream(const char* path)
{
    if (path == nullptr) {
        return nullptr;
    }
    av_log_set_callback(silentLog);
    const std::string resolved = platformResolvePath(path);
    AVFormatContext* format = nullptr;
    if (avformat_open_input(&format, resolved.c_str(), nullptr, nullptr) < 0) {
        return nullptr;
    }
    VideoStream* stream = nullptr;
    int streamIndex = -1;
    const bool avi = std::strcmp(format->iformat->name, "avi") == 0;
    if (avformat_find_stream_info(format, nullptr) >= 0) {
        for (unsigned i = 0; i < format->nb_streams; ++i) {
            const AVStream* candidate = format->streams[i];
            if (streamIndex < 0 && candidate->codecpar->codec_type == AVMEDIA_TYPE_VIDEO &&
                (candidate->disposition & AV_DISPOSITION_ATTACHED_PIC) == 0) {
                streamIndex = static_cast<int>(i);
            } else {
                format->streams[i]->discard = AVDISCARD_ALL;
            }
        }
    }
    if (streamIndex >= 0) {
        const AVStream* avStream = format->streams[streamIndex];
        const AVCodecParameters* parameters = avStream->codecpar;
        if (parameters->width > 0 && parameters->height > 0 && parameters->width <= VIDEO_MAX_DIMENSION &&
            parameters->height <= VIDEO_MAX_DIMENSION) {
            stream = new VideoStream;
            stream->width = parameters->width;
            stream->height = parameters->height;
            stream->rowStride = (stream->width * 3 + 3) & ~3;
            stream->bitmapBytes =
                static_cast<std::uint32_t>(sizeof(BITMAPINFOHEADER)) +
                static_cast<std::uint32_t>(stream->rowStride) * static_cast<std::uint32_t>(stream->height);
            stream->parameters = avcodec_parameters_alloc();
            AVISTREAMINFOA& info = stream->info;
            info.fccType = VIDEO_STREAM_TYPE_VIDS;
            info.fccHandler = parameters->codec_tag;
            frameRate(avStream, info.dwRate, info.dwScale);
            info.dwQuality = 0xFFFFFFFFu;
            info.rcFrame = {0, 0, stream->width, stream->height};
            std::strncpy(info.szName, "video", sizeof(info.szName) - 1);
            if (stream->parameters == nullptr || avcodec_parameters_copy(stream->parameters, parameters) < 0 ||
                !readPackets(format, streamIndex, stream, resolved, avi)) {
                videoReleaseStream(stream);
                stream = nullptr;
            } else {
                // A clip cut short keeps its header's length: the entries
                // past its last packet repeat the last picture, as empty
                // entries do.
                assignEntries(stream, avi);
                info.dwLength = clipLength(stream, avStream->nb_frames);
            }
        }
    }
    avformat_close_input(&format);
    return stream;
}

HRESULT videoStreamInfo(VideoStream* stream, AVISTREAMINFOA* info, LONG size)
{
    if (stream == nullptr || info == nullptr || size <= 0) {
        return E_FAIL;
    }
    std::memcpy(info, &stream->info, std::min<std::size_t>(static_cast<std::size_t>(size), sizeof(AVISTREAMINFOA)));
    return S_OK;
}

VideoFrameReader* videoFrameReaderOpen(VideoStream* stream)
{
    if (stream == nullptr) {
        return nullptr;
    }
    if (stream->reader != nullptr) {
        return stream->reader;
    }
    const AVCodec* codec = avcodec_find_decoder(stream->parameters->codec_id);
    if (codec == nullptr) {
        return nullptr;
    }
    VideoFrameReader* reader = new VideoFrameReader;
    reader->stream = stream;
    // Room for one bitmap at least: the one asked for.
    reader->cacheLimit = std::max<std::uint64_t>(cacheLimitForNewReaders, stream->bitmapBytes);
    reader->decoder = avcodec_alloc_context3(codec);
    reader->frame = av_frame_alloc();
    reader->scratchStride = ((stream->width * 3 + 63) & ~63) + 64;
    reader->scratch = static_cast<std::uint8_t*>(
        av_mallocz(static_cast<std::size_t>(reader->scratchStride) * static_cast<std::size_t>(stream->height + 1)));
    bool ok = reader->decoder != nullptr && reader->frame != nullptr && reader->scratch != nullptr &&
              avcodec_parameters_to_context(reader->decoder, stream->parameters) >= 0;
    if (ok) {
        // One thread: no frame delay, and the whole decode stays on the caller's thread.
        reader->decoder->thread_count = 1;
        ok = avcodec_open2(reader->decoder, codec, nullptr) >= 0 && surveyPictures(reader);
    }
    if (!ok) {
        freeReader(reader);
        return nullptr;
    }
    stream->reader = reader;
    return reader;
}

const BYTE* videoGetFrame(VideoFrameReader* reader, LONG index)
{
    if (reader == nullptr || index < 0 || static_cast<DWORD>(index) >= reader->stream->info.dwLength) {
        return nullptr;
    }
    const std::int32_t picture = pictureAt(reader, static_cast<std::uint32_t>(index));
    if (picture == NO_PICTURE || reader->pictureFailed[picture] != 0) {
        return nullptr;
    }
    if (!reader->cache[picture].empty()) {
        return reader->cache[picture].data();
    }
    const std::int32_t keyPacket = keyPacketFor(reader, picture);
    // Go on with the running decode when it has reached the key frame the
    // picture needs and has not yet given a picture past it; otherwise, or
    // when that ends without the picture, start again from the key frame.
    const bool onTheWay = reader->running && !reader->drained && reader->chainStart <= keyPacket &&
                          reader->nextPacket >= keyPacket && reader->lastPictureOut < picture;
    if (onTheWay && decodeUntil(reader, picture)) {
        return reader->cache[picture].data();
    }
    restartDecode(reader, keyPacket);
    if (decodeUntil(reader, picture)) {
        return reader->cache[picture].data();
    }
    return nullptr;
}

LONG videoFirstFailedFrame(const VideoFrameReader* reader)
{
    if (reader == nullptr || reader->pictureFailed[0] != 0) {
        return 0;
    }
    const DWORD length = reader->stream->info.dwLength;
    for (std::size_t i = 0; i < reader->changeEntries.size() && reader->changeEntries[i] < length; ++i) {
        const std::int32_t picture = reader->changePictures[i];
        if (picture == NO_PICTURE || reader->pictureFailed[picture] != 0) {
            return static_cast<LONG>(reader->changeEntries[i]);
        }
    }
    return -1;
}

std::uint64_t videoDecodedFrameCount(const VideoFrameReader* reader)
{
    return reader != nullptr ? reader->decodedFrames : 0;
}

std::uint64_t videoCachedBytes(const VideoFrameReader* reader) { return reader != nullptr ? reader->cacheBytes : 0; }

void videoSetCacheLimit(std::uint64_t bytes) { cacheLimitForNewReaders = bytes; }

void videoSetResidentPacketLimit(std::uint64_t bytes) { residentPacketLimit = bytes; }

bool videoPacketsInFile(const VideoStream* stream) { return stream != nullptr && stream->file != nullptr; }

bool videoPlaysFromIntraStore(const VideoFrameReader* reader) { return reader != nullptr && reader->intraStore; }

void videoReleaseStream(VideoStream* stream)
{
    if (stream == nullptr) {
        return;
    }
    if (stream->reader != nullptr) {
        freeReader(stream->reader);
    }
    freePackets(stream);
    avcodec_parameters_free(&stream->parameters);
    delete stream;
}
