// Test clip writer; see test_clips.h.
#include "tests/support/test_clips.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libswscale/swscale.h>
}

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <unistd.h>
#include <vector>

namespace {

struct ClipWriter {
    AVFormatContext* output = nullptr;
    AVCodecContext* encoder = nullptr;
    AVStream* stream = nullptr;
    AVFrame* frame = nullptr;
    AVPacket* packet = nullptr;
    SwsContext* scaler = nullptr;

    ~ClipWriter()
    {
        if (output != nullptr) {
            if (output->pb != nullptr) {
                avio_closep(&output->pb);
            }
            avformat_free_context(output);
        }
        avcodec_free_context(&encoder);
        av_frame_free(&frame);
        av_packet_free(&packet);
        sws_freeContext(scaler);
    }
};

bool drain(ClipWriter& writer)
{
    for (;;) {
        const int result = avcodec_receive_packet(writer.encoder, writer.packet);
        if (result == AVERROR(EAGAIN) || result == AVERROR_EOF) {
            return true;
        }
        if (result < 0) {
            return false;
        }
        av_packet_rescale_ts(writer.packet, writer.encoder->time_base, writer.stream->time_base);
        writer.packet->stream_index = writer.stream->index;
        if (av_interleaved_write_frame(writer.output, writer.packet) < 0) {
            return false;
        }
    }
}

void paintFrame(std::vector<std::uint8_t>& rgb, int width, int height, int index)
{
    const int grey = testClipGrey(index);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            std::uint8_t* pixel = &rgb[(static_cast<std::size_t>(y) * width + x) * 3];
            const bool top = y < 16;
            const bool bottom = y >= height - 16;
            pixel[0] = top ? 255 : (bottom ? 0 : grey);
            pixel[1] = (top || bottom) ? 0 : grey;
            pixel[2] = top ? 0 : (bottom ? 255 : grey);
        }
    }
}

} // namespace

int testClipGrey(int index) { return 20 + 6 * index; }

int testClipIndexOfGrey(int grey) { return (grey - 20 + 3 * 6 + 3) / 6 - 3; }

static std::filesystem::path testClipFolder()
{
    return std::filesystem::temp_directory_path() / ("gfxcore-video-tests-" + std::to_string(getpid()));
}

static void removeTestClipFolder()
{
    std::error_code ignored;
    std::filesystem::remove_all(testClipFolder(), ignored);
}

std::string testClipPath(const std::string& name)
{
    static std::atomic<int> serial{0};
    if (serial == 0) {
        std::atexit(removeTestClipFolder);
    }
    std::filesystem::create_directories(testClipFolder());
    return (testClipFolder() / (std::to_string(serial++) + "-" + name)).string();
}

bool writeTestClip(const std::string& path, const TestClip& clip, std::string& error)
{
    ClipWriter writer;
    const bool mjpeg = clip.codec == TestCodec::Mjpeg;
    const AVCodec* codec = avcodec_find_encoder(mjpeg ? AV_CODEC_ID_MJPEG : AV_CODEC_ID_MPEG4);
    if (codec == nullptr) {
        error = "no encoder";
        return false;
    }
    if (avformat_alloc_output_context2(&writer.output, nullptr, "avi", path.c_str()) < 0) {
        error = "no avi muxer";
        return false;
    }
    writer.stream = avformat_new_stream(writer.output, nullptr);
    writer.encoder = avcodec_alloc_context3(codec);
    writer.frame = av_frame_alloc();
    writer.packet = av_packet_alloc();
    if (writer.stream == nullptr || writer.encoder == nullptr || writer.frame == nullptr || writer.packet == nullptr) {
        error = "allocation";
        return false;
    }
    AVCodecContext* encoder = writer.encoder;
    encoder->width = clip.width;
    encoder->height = clip.height;
    encoder->time_base = AVRational{1, clip.rate};
    encoder->framerate = AVRational{clip.rate, 1};
    encoder->pix_fmt = mjpeg ? AV_PIX_FMT_YUVJ420P : AV_PIX_FMT_YUV420P;
    encoder->gop_size = clip.keyInterval;
    encoder->max_b_frames = clip.codec == TestCodec::Mpeg4BFrames ? 2 : 0;
    encoder->flags |= AV_CODEC_FLAG_QSCALE;
    encoder->global_quality = FF_QP2LAMBDA * 2;
    encoder->qmin = 2;
    encoder->qmax = 2;
    if (writer.output->oformat->flags & AVFMT_GLOBALHEADER) {
        encoder->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    }
    if (avcodec_open2(encoder, codec, nullptr) < 0 ||
        avcodec_parameters_from_context(writer.stream->codecpar, encoder) < 0) {
        error = "encoder open";
        return false;
    }
    writer.stream->time_base = encoder->time_base;
    if (avio_open(&writer.output->pb, path.c_str(), AVIO_FLAG_WRITE) < 0 ||
        avformat_write_header(writer.output, nullptr) < 0) {
        error = "file open";
        return false;
    }
    writer.frame->format = encoder->pix_fmt;
    writer.frame->width = clip.width;
    writer.frame->height = clip.height;
    if (av_frame_get_buffer(writer.frame, 0) < 0) {
        error = "frame buffer";
        return false;
    }
    writer.scaler = sws_getContext(clip.width, clip.height, AV_PIX_FMT_RGB24, clip.width, clip.height,
                                   encoder->pix_fmt, SWS_POINT, nullptr, nullptr, nullptr);
    std::vector<std::uint8_t> rgb(static_cast<std::size_t>(clip.width) * clip.height * 3);
    for (int index = 0; index < clip.frames; ++index) {
        paintFrame(rgb, clip.width, clip.height, index);
        if (av_frame_make_writable(writer.frame) < 0) {
            error = "frame writable";
            return false;
        }
        const std::uint8_t* planes[1] = {rgb.data()};
        const int strides[1] = {clip.width * 3};
        sws_scale(writer.scaler, planes, strides, 0, clip.height, writer.frame->data, writer.frame->linesize);
        writer.frame->pts = index;
        writer.frame->quality = encoder->global_quality;
        if (avcodec_send_frame(encoder, writer.frame) < 0 || !drain(writer)) {
            error = "encode";
            return false;
        }
    }
    if (avcodec_send_frame(encoder, nullptr) < 0 || !drain(writer) || av_write_trailer(writer.output) < 0) {
        error = "flush";
        return false;
    }
    return true;
}

bool breakTestClipChunk(const std::string& path, int chunk)
{
    std::vector<char> bytes;
    {
        std::ifstream in(path, std::ios::binary);
        bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    const std::string movi = "movi";
    auto found = std::search(bytes.begin(), bytes.end(), movi.begin(), movi.end());
    if (found == bytes.end()) {
        return false;
    }
    std::size_t at = static_cast<std::size_t>(found - bytes.begin()) + 4;
    int seen = 0;
    while (at + 8 <= bytes.size()) {
        std::uint32_t size = 0;
        std::memcpy(&size, &bytes[at + 4], 4);
        const bool video = bytes[at] == '0' && bytes[at + 1] == '0' && (bytes[at + 2] == 'd' || bytes[at + 3] == 'c');
        if (std::memcmp(&bytes[at], "idx1", 4) == 0 || size > bytes.size() - at - 8) {
            return false;
        }
        if (video && size > 0 && seen++ == chunk) {
            std::fill(bytes.begin() + static_cast<std::ptrdiff_t>(at + 8),
                      bytes.begin() + static_cast<std::ptrdiff_t>(at + 8 + size), '\x11');
            std::ofstream out(path, std::ios::binary);
            out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
            return static_cast<bool>(out);
        }
        at += 8 + size + (size & 1);
    }
    return false;
}
