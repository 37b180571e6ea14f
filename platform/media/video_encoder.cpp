// MP4 capture writer on FFmpeg; see video_encoder.h.
#include "platform/video_encoder.h"

#include <algorithm>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/opt.h>
#include <libswscale/swscale.h>
}

struct VideoEncoder {
    AVFormatContext* output = nullptr;
    AVCodecContext* video = nullptr;
    AVStream* videoStream = nullptr;
    AVFrame* frame = nullptr;
    AVPacket* packet = nullptr;
    SwsContext* scaler = nullptr;
    int width = 0;
    int height = 0;
    int framesPerSecond = 0;
    std::int64_t frameIndex = 0;
    bool headerWritten = false;

    // The soundtrack, copied packet by packet (no re-encoding).
    AVFormatContext* music = nullptr;
    int musicStreamIndex = -1;
    AVStream* audioStream = nullptr;
    std::int64_t musicStartPts = 0; // music time 0 of the video, in the music stream's time base
    bool musicDone = true;
};

namespace {

std::string describe(const char* what, int code)
{
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof text);
    return std::string(what) + ": " + text;
}

void freeEncoder(VideoEncoder* encoder)
{
    if (encoder == nullptr)
        return;
    if (encoder->output != nullptr) {
        if (encoder->output->pb != nullptr)
            avio_closep(&encoder->output->pb);
        avformat_free_context(encoder->output);
    }
    avcodec_free_context(&encoder->video);
    av_frame_free(&encoder->frame);
    av_packet_free(&encoder->packet);
    sws_freeContext(encoder->scaler);
    if (encoder->music != nullptr)
        avformat_close_input(&encoder->music);
    delete encoder;
}

bool openMusic(VideoEncoder* encoder, const VideoEncoderSettings& settings, std::string& error)
{
    int result = avformat_open_input(&encoder->music, settings.musicPath, nullptr, nullptr);
    if (result < 0) {
        error = describe(settings.musicPath, result);
        return false;
    }
    result = avformat_find_stream_info(encoder->music, nullptr);
    if (result < 0) {
        error = describe(settings.musicPath, result);
        return false;
    }
    encoder->musicStreamIndex = av_find_best_stream(encoder->music, AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
    if (encoder->musicStreamIndex < 0) {
        error = std::string(settings.musicPath) + ": no audio stream";
        return false;
    }
    AVStream* source = encoder->music->streams[encoder->musicStreamIndex];
    encoder->audioStream = avformat_new_stream(encoder->output, nullptr);
    if (encoder->audioStream == nullptr) {
        error = "can not add the audio stream";
        return false;
    }
    avcodec_parameters_copy(encoder->audioStream->codecpar, source->codecpar);
    encoder->audioStream->codecpar->codec_tag = 0;
    encoder->audioStream->time_base = source->time_base;
    encoder->musicStartPts = av_rescale_q(settings.musicFromMs, AVRational{1, 1000}, source->time_base);
    encoder->musicDone = false;
    return true;
}

bool writePacket(VideoEncoder* encoder, AVPacket* packet, std::string& error)
{
    int result = av_interleaved_write_frame(encoder->output, packet);
    if (result < 0) {
        error = describe("writing a packet", result);
        return false;
    }
    return true;
}

// Copies the music packets that start before the given video time.
bool writeMusicUntil(VideoEncoder* encoder, std::int64_t untilMs, std::string& error)
{
    AVStream* source = encoder->music != nullptr ? encoder->music->streams[encoder->musicStreamIndex] : nullptr;
    while (!encoder->musicDone) {
        int result = av_read_frame(encoder->music, encoder->packet);
        if (result < 0) {
            encoder->musicDone = true;
            break;
        }
        if (encoder->packet->stream_index != encoder->musicStreamIndex) {
            av_packet_unref(encoder->packet);
            continue;
        }
        std::int64_t pts = encoder->packet->pts != AV_NOPTS_VALUE ? encoder->packet->pts : encoder->packet->dts;
        if (pts < encoder->musicStartPts) {
            av_packet_unref(encoder->packet);
            continue;
        }
        pts -= encoder->musicStartPts;
        encoder->packet->pts = pts;
        encoder->packet->dts = pts;
        encoder->packet->stream_index = encoder->audioStream->index;
        std::int64_t packetMs = av_rescale_q(pts, source->time_base, AVRational{1, 1000});
        av_packet_rescale_ts(encoder->packet, source->time_base, encoder->audioStream->time_base);
        bool written = writePacket(encoder, encoder->packet, error);
        av_packet_unref(encoder->packet);
        if (!written)
            return false;
        if (packetMs >= untilMs)
            break;
    }
    return true;
}

bool drainVideo(VideoEncoder* encoder, std::string& error)
{
    for (;;) {
        int result = avcodec_receive_packet(encoder->video, encoder->packet);
        if (result == AVERROR(EAGAIN) || result == AVERROR_EOF)
            return true;
        if (result < 0) {
            error = describe("encoding a frame", result);
            return false;
        }
        av_packet_rescale_ts(encoder->packet, encoder->video->time_base, encoder->videoStream->time_base);
        encoder->packet->stream_index = encoder->videoStream->index;
        bool written = writePacket(encoder, encoder->packet, error);
        av_packet_unref(encoder->packet);
        if (!written)
            return false;
    }
}

} // namespace

VideoEncoder* videoEncoderOpen(const VideoEncoderSettings& settings, std::string& error)
{
    auto* encoder = new VideoEncoder;
    encoder->width = settings.width;
    encoder->height = settings.height;
    encoder->framesPerSecond = settings.framesPerSecond;

    int result = avformat_alloc_output_context2(&encoder->output, nullptr, "mp4", settings.path);
    if (result < 0 || encoder->output == nullptr) {
        error = describe(settings.path, result);
        freeEncoder(encoder);
        return nullptr;
    }
    const AVCodec* codec = avcodec_find_encoder_by_name("libx264");
    if (codec == nullptr)
        codec = avcodec_find_encoder(AV_CODEC_ID_H264);
    if (codec == nullptr) {
        error = "no H.264 encoder available";
        freeEncoder(encoder);
        return nullptr;
    }
    encoder->videoStream = avformat_new_stream(encoder->output, nullptr);
    encoder->video = avcodec_alloc_context3(codec);
    encoder->frame = av_frame_alloc();
    encoder->packet = av_packet_alloc();
    if (encoder->videoStream == nullptr || encoder->video == nullptr || encoder->frame == nullptr ||
        encoder->packet == nullptr) {
        error = "out of memory";
        freeEncoder(encoder);
        return nullptr;
    }
    AVCodecContext* video = encoder->video;
    video->width = settings.width;
    video->height = settings.height;
    video->pix_fmt = AV_PIX_FMT_YUV420P;
    video->time_base = AVRational{1, settings.framesPerSecond};
    video->framerate = AVRational{settings.framesPerSecond, 1};
    video->gop_size = settings.framesPerSecond * 2;
    video->thread_count = 0;
    if (encoder->output->oformat->flags & AVFMT_GLOBALHEADER)
        video->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    av_opt_set(video->priv_data, "preset", "veryfast", 0);
    av_opt_set(video->priv_data, "crf", "18", 0);
    result = avcodec_open2(video, codec, nullptr);
    if (result < 0) {
        error = describe("opening the H.264 encoder", result);
        freeEncoder(encoder);
        return nullptr;
    }
    avcodec_parameters_from_context(encoder->videoStream->codecpar, video);
    encoder->videoStream->time_base = video->time_base;

    encoder->frame->format = AV_PIX_FMT_YUV420P;
    encoder->frame->width = settings.width;
    encoder->frame->height = settings.height;
    if (av_frame_get_buffer(encoder->frame, 0) < 0) {
        error = "out of memory";
        freeEncoder(encoder);
        return nullptr;
    }
    encoder->scaler = sws_getContext(settings.width, settings.height, AV_PIX_FMT_RGB24, settings.width,
                                     settings.height, AV_PIX_FMT_YUV420P, SWS_BILINEAR, nullptr, nullptr, nullptr);
    if (encoder->scaler == nullptr) {
        error = "can not convert RGB to YUV";
        freeEncoder(encoder);
        return nullptr;
    }

    if (settings.musicPath != nullptr && !openMusic(encoder, settings, error)) {
        freeEncoder(encoder);
        return nullptr;
    }

    result = avio_open(&encoder->output->pb, settings.path, AVIO_FLAG_WRITE);
    if (result < 0) {
        error = describe(settings.path, result);
        freeEncoder(encoder);
        return nullptr;
    }
    result = avformat_write_header(encoder->output, nullptr);
    if (result < 0) {
        error = describe("writing the file header", result);
        freeEncoder(encoder);
        return nullptr;
    }
    encoder->headerWritten = true;
    return encoder;
}

bool videoEncoderAddFrame(VideoEncoder* encoder, const std::uint8_t* rgb, std::string& error)
{
    if (av_frame_make_writable(encoder->frame) < 0) {
        error = "out of memory";
        return false;
    }
    const std::uint8_t* sourceRows[1] = {rgb};
    const int sourcePitch[1] = {encoder->width * 3};
    sws_scale(encoder->scaler, sourceRows, sourcePitch, 0, encoder->height, encoder->frame->data,
              encoder->frame->linesize);
    encoder->frame->pts = encoder->frameIndex++;
    int result = avcodec_send_frame(encoder->video, encoder->frame);
    if (result < 0) {
        error = describe("encoding a frame", result);
        return false;
    }
    if (!drainVideo(encoder, error))
        return false;
    std::int64_t videoMs = encoder->frameIndex * 1000 / encoder->framesPerSecond;
    return writeMusicUntil(encoder, videoMs, error);
}

bool videoEncoderClose(VideoEncoder* encoder, std::string& error)
{
    bool ok = true;
    if (encoder->headerWritten) {
        avcodec_send_frame(encoder->video, nullptr);
        ok = drainVideo(encoder, error);
        std::int64_t videoMs = encoder->frameIndex * 1000 / encoder->framesPerSecond;
        if (ok)
            ok = writeMusicUntil(encoder, videoMs, error);
        int result = av_write_trailer(encoder->output);
        if (ok && result < 0) {
            error = describe("writing the file trailer", result);
            ok = false;
        }
    }
    freeEncoder(encoder);
    return ok;
}

bool probeMediaFile(const char* path, MediaInfo& info, std::string& error)
{
    AVFormatContext* input = nullptr;
    int result = avformat_open_input(&input, path, nullptr, nullptr);
    if (result < 0) {
        error = describe(path, result);
        return false;
    }
    result = avformat_find_stream_info(input, nullptr);
    if (result < 0) {
        error = describe(path, result);
        avformat_close_input(&input);
        return false;
    }
    int videoIndex = av_find_best_stream(input, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    int audioIndex = av_find_best_stream(input, AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
    if (videoIndex >= 0) {
        AVCodecParameters* parameters = input->streams[videoIndex]->codecpar;
        info.width = parameters->width;
        info.height = parameters->height;
        info.videoCodec = avcodec_get_name(parameters->codec_id);
    }
    if (audioIndex >= 0) {
        info.hasAudio = true;
        info.audioCodec = avcodec_get_name(input->streams[audioIndex]->codecpar->codec_id);
    }
    std::int64_t videoEnd = 0;
    std::int64_t audioEnd = 0;
    AVPacket* packet = av_packet_alloc();
    while (packet != nullptr && av_read_frame(input, packet) >= 0) {
        std::int64_t end = packet->pts + packet->duration;
        if (packet->stream_index == videoIndex) {
            ++info.videoFrames;
            videoEnd = std::max(videoEnd, end);
        } else if (packet->stream_index == audioIndex) {
            audioEnd = std::max(audioEnd, end);
        }
        av_packet_unref(packet);
    }
    av_packet_free(&packet);
    if (videoIndex >= 0)
        info.videoSeconds = static_cast<double>(videoEnd) * av_q2d(input->streams[videoIndex]->time_base);
    if (audioIndex >= 0)
        info.audioSeconds = static_cast<double>(audioEnd) * av_q2d(input->streams[audioIndex]->time_base);
    avformat_close_input(&input);
    return true;
}
