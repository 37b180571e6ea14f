// Video clips on FFmpeg (see video.h for the contract).
// The whole stream is demuxed at open into packets held in memory; frame
// numbers are display ranks of the packets' time stamps. A frame request
// decodes from the nearest earlier key frame (or continues the running
// decode when that is on the way) and caches every frame the decoder gives,
// converted once to the bottom-up BGR bitmap the callers read.
#include "platform/video.h"

#include "platform/paths.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/mem.h>
#include <libswscale/swscale.h>
}

#include <algorithm>
#include <cstring>
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
    // Decoded bitmaps by frame number (empty = not decoded or evicted).
    std::vector<std::vector<BYTE>> cache;
    std::uint64_t cacheBytes = 0;
    std::uint64_t decodedFrames = 0;
    // The running decode: packets chainStart..nextPacket-1 have been sent.
    bool running = false;
    bool flushSent = false;
    bool drained = false;
    std::int32_t chainStart = 0;
    std::int32_t nextPacket = 0;
    std::int32_t framesOut = 0; // frames given since the running decode started
};

struct VideoStream {
    AVCodecParameters* parameters = nullptr;
    std::vector<AVPacket*> packets; // decode order, pts replaced by the frame's stamp
    std::vector<std::int64_t> sortedStamps; // display order
    std::vector<std::int32_t> displayToPacket;
    AVISTREAMINFOA info = {};
    int width = 0;
    int height = 0;
    int rowStride = 0;
    std::uint32_t bitmapBytes = 0;
    // A reordering codec in a file without presentation stamps (AVI with
    // B-frames): the decoder's output order is the only display order known,
    // so such a clip is always decoded from its first packet.
    bool sequential = false;
    std::int32_t reorderDelay = 0; // packets a frame may come out after its own
    VideoFrameReader* reader = nullptr;
};

namespace {

void freePackets(VideoStream* stream)
{
    for (AVPacket*& packet : stream->packets) {
        av_packet_free(&packet);
    }
    stream->packets.clear();
}

// Stamps that order the frames for display: the packets' pts when every
// packet has a distinct one, else their dts, else the order in the file.
bool distinctStamps(std::vector<std::int64_t> stamps)
{
    std::sort(stamps.begin(), stamps.end());
    return std::adjacent_find(stamps.begin(), stamps.end()) == stamps.end();
}

void assignStamps(VideoStream* stream, bool reorders)
{
    const std::size_t count = stream->packets.size();
    std::vector<std::int64_t> pts(count);
    std::vector<std::int64_t> dts(count);
    bool allPts = true;
    bool allDts = true;
    for (std::size_t i = 0; i < count; ++i) {
        pts[i] = stream->packets[i]->pts;
        dts[i] = stream->packets[i]->dts;
        allPts = allPts && pts[i] != AV_NOPTS_VALUE;
        allDts = allDts && dts[i] != AV_NOPTS_VALUE;
    }
    std::vector<std::int64_t> stamps;
    if (allPts && distinctStamps(pts)) {
        stamps = pts;
    } else if (allDts && distinctStamps(dts) && !reorders) {
        stamps = dts;
    } else {
        stream->sequential = reorders;
        stamps.resize(count);
        for (std::size_t i = 0; i < count; ++i) {
            stamps[i] = static_cast<std::int64_t>(i);
        }
    }
    std::vector<std::int32_t> order(count);
    for (std::size_t i = 0; i < count; ++i) {
        order[i] = static_cast<std::int32_t>(i);
        stream->packets[i]->pts = stamps[i];
        stream->packets[i]->dts = AV_NOPTS_VALUE;
    }
    std::sort(order.begin(), order.end(), [&](std::int32_t a, std::int32_t b) { return stamps[a] < stamps[b]; });
    stream->displayToPacket = order;
    stream->sortedStamps.resize(count);
    for (std::size_t i = 0; i < count; ++i) {
        stream->sortedStamps[i] = stamps[order[i]];
    }
}

// Frame rate as the clip library's rate / scale pair.
void frameRate(const AVStream* avStream, DWORD& rate, DWORD& scale)
{
    AVRational candidates[3] = {avStream->avg_frame_rate, avStream->r_frame_rate,
                                av_inv_q(avStream->time_base)};
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

bool readPackets(AVFormatContext* format, int streamIndex, VideoStream* stream)
{
    AVPacket* packet = av_packet_alloc();
    if (packet == nullptr) {
        return false;
    }
    std::uint64_t totalBytes = 0;
    std::uint32_t largest = 0;
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
        }
        av_packet_unref(packet);
    }
    av_packet_free(&packet);
    stream->info.dwSuggestedBufferSize = largest;
    return ok && !stream->packets.empty();
}

// Decode position to start from for the packet at decode position target:
// the last key frame before it that is not shown after it.
std::int32_t keyFrameFor(const VideoStream* stream, std::int32_t target)
{
    if (stream->sequential) {
        return 0;
    }
    const std::int64_t targetStamp = stream->packets[target]->pts;
    for (std::int32_t i = target; i > 0; --i) {
        const AVPacket* packet = stream->packets[i];
        if ((packet->flags & AV_PKT_FLAG_KEY) != 0 && packet->pts <= targetStamp) {
            return i;
        }
    }
    return 0;
}

bool evictFarthest(VideoFrameReader* reader, std::int32_t keep)
{
    std::int32_t farthest = -1;
    std::int32_t farthestDistance = -1;
    const std::int32_t count = static_cast<std::int32_t>(reader->cache.size());
    for (std::int32_t i = 0; i < count; ++i) {
        const std::int32_t distance = i > keep ? i - keep : keep - i;
        if (!reader->cache[i].empty() && i != keep && distance > farthestDistance) {
            farthest = i;
            farthestDistance = distance;
        }
    }
    if (farthest < 0) {
        return false;
    }
    reader->cacheBytes -= reader->cache[farthest].size();
    std::vector<BYTE>().swap(reader->cache[farthest]);
    return true;
}

// Converts the decoder's frame to the bitmap of its frame number and keeps it.
void keepFrame(VideoFrameReader* reader, std::int32_t target)
{
    VideoStream* stream = reader->stream;
    const AVFrame* frame = reader->frame;
    std::int32_t index = reader->framesOut++;
    if (!stream->sequential) {
        const std::int64_t stamp = frame->pts != AV_NOPTS_VALUE ? frame->pts : frame->best_effort_timestamp;
        auto found = std::lower_bound(stream->sortedStamps.begin(), stream->sortedStamps.end(), stamp);
        if (found == stream->sortedStamps.end() || *found != stamp) {
            return;
        }
        index = static_cast<std::int32_t>(found - stream->sortedStamps.begin());
    }
    if (index >= static_cast<std::int32_t>(reader->cache.size()) || !reader->cache[index].empty() || frame->width <= 0 || frame->height <= 0 ||
        frame->width > VIDEO_MAX_DIMENSION || frame->height > VIDEO_MAX_DIMENSION || frame->format < 0) {
        return;
    }
    // Frames whose size differs from the stream's are scaled to it, so every
    // bitmap of a clip has the header of frame 0.
    reader->scaler = sws_getCachedContext(reader->scaler, frame->width, frame->height,
                                          static_cast<AVPixelFormat>(frame->format), stream->width,
                                          stream->height, AV_PIX_FMT_BGR24, SWS_BILINEAR, nullptr, nullptr,
                                          nullptr);
    if (reader->scaler == nullptr) {
        return;
    }
    std::uint8_t* planes[4] = {reader->scratch, nullptr, nullptr, nullptr};
    int strides[4] = {reader->scratchStride, 0, 0, 0};
    if (sws_scale(reader->scaler, frame->data, frame->linesize, 0, frame->height, planes, strides) !=
        stream->height) {
        return;
    }
    while (reader->cacheBytes + stream->bitmapBytes > VIDEO_CACHE_BYTES && evictFarthest(reader, target)) {
    }
    std::vector<BYTE>& bitmap = reader->cache[index];
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
}

void restartDecode(VideoFrameReader* reader, std::int32_t keyFrame)
{
    avcodec_flush_buffers(reader->decoder);
    reader->running = true;
    reader->flushSent = false;
    reader->drained = false;
    reader->chainStart = keyFrame;
    reader->nextPacket = keyFrame;
    reader->framesOut = 0;
}

// Feeds the running decode until frame target is kept or the stream ends.
bool decodeUntil(VideoFrameReader* reader, std::int32_t target)
{
    VideoStream* stream = reader->stream;
    const std::int32_t packetCount = static_cast<std::int32_t>(stream->packets.size());
    while (!reader->drained) {
        const int received = avcodec_receive_frame(reader->decoder, reader->frame);
        if (received == 0) {
            ++reader->decodedFrames;
            keepFrame(reader, target);
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
            const int sent = avcodec_send_packet(reader->decoder, stream->packets[reader->nextPacket]);
            if (sent == AVERROR(EAGAIN)) {
                reader->drained = true; // the decoder neither takes nor gives: give up
                break;
            }
            ++reader->nextPacket; // a packet the decoder rejects is skipped
        } else if (!reader->flushSent) {
            avcodec_send_packet(reader->decoder, nullptr);
            reader->flushSent = true;
        } else {
            reader->drained = true;
        }
    }
    return !reader->cache[target].empty();
}

} // namespace

VideoStream* videoOpenStream(const char* path)
{
    if (path == nullptr) {
        return nullptr;
    }
    av_log_set_level(AV_LOG_ERROR);
    const std::string resolved = platformResolvePath(path);
    AVFormatContext* format = nullptr;
    if (avformat_open_input(&format, resolved.c_str(), nullptr, nullptr) < 0) {
        return nullptr;
    }
    VideoStream* stream = nullptr;
    int streamIndex = -1;
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
            // A clip with fewer frames than its header announces was cut
            // short: refuse it at open rather than show half of it.
            if (stream->parameters == nullptr || avcodec_parameters_copy(stream->parameters, parameters) < 0 ||
                !readPackets(format, streamIndex, stream) ||
                (avStream->nb_frames > 0 &&
                 static_cast<std::int64_t>(stream->packets.size()) < avStream->nb_frames)) {
                videoReleaseStream(stream);
                stream = nullptr;
            } else {
                stream->reorderDelay = std::clamp(parameters->video_delay, 0, 16);
                assignStamps(stream, parameters->video_delay > 0);
                info.dwLength = static_cast<DWORD>(stream->packets.size());
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
    stream->reader = reader;
    reader->decoder = avcodec_alloc_context3(codec);
    reader->frame = av_frame_alloc();
    reader->scratchStride = ((stream->width * 3 + 63) & ~63) + 64;
    reader->scratch = static_cast<std::uint8_t*>(
        av_mallocz(static_cast<std::size_t>(reader->scratchStride) * static_cast<std::size_t>(stream->height + 1)));
    reader->cache.resize(stream->packets.size());
    bool ok = reader->decoder != nullptr && reader->frame != nullptr && reader->scratch != nullptr &&
              avcodec_parameters_to_context(reader->decoder, stream->parameters) >= 0;
    if (ok) {
        // One thread: no frame delay, and the whole decode stays on the caller's thread.
        reader->decoder->thread_count = 1;
        ok = avcodec_open2(reader->decoder, codec, nullptr) >= 0;
    }
    if (!ok) {
        avcodec_free_context(&reader->decoder);
        av_frame_free(&reader->frame);
        av_freep(&reader->scratch);
        stream->reader = nullptr;
        delete reader;
        return nullptr;
    }
    return reader;
}

const BYTE* videoGetFrame(VideoFrameReader* reader, LONG index)
{
    if (reader == nullptr || index < 0 || static_cast<std::size_t>(index) >= reader->cache.size()) {
        return nullptr;
    }
    if (!reader->cache[index].empty()) {
        return reader->cache[index].data();
    }
    const VideoStream* stream = reader->stream;
    const std::int32_t targetPacket = stream->displayToPacket[index];
    const std::int32_t keyFrame = keyFrameFor(stream, targetPacket);
    // Go on with the running decode when it has reached the key frame the
    // target needs and has not yet passed the target (a reordering decoder
    // gives a frame up to reorderDelay packets late); otherwise, or when that
    // ends without the frame, start again from the key frame.
    const bool onTheWay = reader->running && !reader->drained && reader->chainStart <= keyFrame &&
                          reader->nextPacket >= keyFrame &&
                          reader->nextPacket <= targetPacket + stream->reorderDelay;
    if (onTheWay && decodeUntil(reader, index)) {
        return reader->cache[index].data();
    }
    restartDecode(reader, keyFrame);
    if (decodeUntil(reader, index)) {
        return reader->cache[index].data();
    }
    return nullptr;
}

std::uint64_t videoDecodedFrameCount(const VideoFrameReader* reader)
{
    return reader != nullptr ? reader->decodedFrames : 0;
}

void videoReleaseStream(VideoStream* stream)
{
    if (stream == nullptr) {
        return;
    }
    if (VideoFrameReader* reader = stream->reader) {
        avcodec_free_context(&reader->decoder);
        sws_freeContext(reader->scaler);
        av_frame_free(&reader->frame);
        av_freep(&reader->scratch);
        delete reader;
    }
    freePackets(stream);
    avcodec_parameters_free(&stream->parameters);
    delete stream;
}
