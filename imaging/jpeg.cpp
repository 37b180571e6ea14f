// JPEG decoding with libjpeg(-turbo) from memory into A8R8G8B8.
// libjpeg reports errors by calling back; the error manager jumps back here,
// so a corrupt file fails instead of ending the process.
//
// Some warnings are not errors: files from image editors often carry stray
// bytes before a marker, a last data segment a few bits short, or no
// end-of-image marker, and libjpeg decodes them whole. Refused are a file
// whose data ends inside the picture's coded data (it was cut short), an
// end-of-image marker while rows of blocks are still to come, and every
// warning about corrupt coded data (bad codes, lost restart markers): those
// pictures are garbage in part.
//
// CMYK and YCCK pictures come out of libjpeg as CMYK and are turned into RGB
// here; with an Adobe marker the samples are stored inverted (255 = no ink).
//
// Pictures above MAX_IMAGE_PIXELS are decoded reduced by libjpeg's DCT
// scaling (1/8 steps) to the smallest size that still covers the wanted size.
// Depends on: libjpeg, resources/memory.h.
#include "imaging/decoders.h"

#include "resources/memory.h"

#include <csetjmp>
#include <cstdio>

#include <jpeglib.h>
// After jpeglib.h, which it needs: the message codes of the warnings.
#include <jerror.h>

namespace {

// A progressive file may hold any number of scans, and each one passes over
// the whole picture; real encoders write a dozen or so.
constexpr int MAX_SCANS = 500;

struct JpegError {
    jpeg_error_mgr manager;
    std::jmp_buf jump;
    bool dataEnded; // libjpeg reached the end of the data and put an end marker there
};

void failJpeg(j_common_ptr info)
{
    JpegError* error = reinterpret_cast<JpegError*>(info->err);
    std::longjmp(error->jump, 1);
}

// True when the decoder is inside a row of blocks that is not the last one.
bool rowsStillToCome(j_decompress_ptr info)
{
    return info->total_iMCU_rows > 0 && info->input_iMCU_row + 1 < info->total_iMCU_rows;
}

bool isRestartMarker(int marker) { return marker >= 0xD0 && marker <= 0xD7; }

void messageJpeg(j_common_ptr info, int level)
{
    // Trace messages (level >= 0) are ignored; level -1 is a warning.
    if (level >= 0 || !info->is_decompressor)
        return;
    JpegError* error = reinterpret_cast<JpegError*>(info->err);
    j_decompress_ptr decompress = reinterpret_cast<j_decompress_ptr>(info);
    switch (info->err->msg_code) {
    case JWRN_EXTRANEOUS_DATA: // stray bytes between segments
    case JWRN_JFIF_MAJOR:      // a later JFIF revision
    case JWRN_ADOBE_XFORM:     // an unknown colour transform: libjpeg goes by the components
    case JWRN_BOGUS_ICC:       // a colour profile, which is not used
    case JWRN_NOT_SEQUENTIAL:  // scan fields a sequential decoder has no use for
        return;
    case JWRN_JPEG_EOF:
        // With every row decoded only the end marker was missing. The
        // arithmetic decoder pads with zeros silently, so for it this is the
        // only sign of a cut inside the coded data.
        error->dataEnded = true;
        if (decompress->arith_code && rowsStillToCome(decompress))
            failJpeg(info);
        return;
    case JWRN_HIT_MARKER:
        // The Huffman decoder wanted more bits than the segment holds. After
        // the end of the data the file was cut; before a restart marker, or
        // in the last row, the segment was only a little short.
        if (error->dataEnded || (rowsStillToCome(decompress) && !isRestartMarker(decompress->unread_marker)))
            failJpeg(info);
        return;
    default:
        failJpeg(info);
    }
}

void silentJpeg(j_common_ptr) {}

void limitScans(j_common_ptr info)
{
    if (info->is_decompressor && reinterpret_cast<j_decompress_ptr>(info)->input_scan_number > MAX_SCANS)
        failJpeg(info);
}

// The DCT scale num/8 for a picture too large to decode whole: the smallest
// that still covers the wanted size, made smaller while the result is too
// large to hold. 8 (no scaling) for pictures that fit.
unsigned int chooseScale(long long width, long long height, int wantWidth, int wantHeight)
{
    if (imageSizeAcceptable(width, height))
        return 8;
    auto scaled = [](long long size, unsigned int num) { return (size * num + 7) / 8; };
    unsigned int num = 1;
    while (num < 8 && (scaled(width, num) < wantWidth || scaled(height, num) < wantHeight))
        ++num;
    while (num > 1 && !imageSizeAcceptable(scaled(width, num), scaled(height, num)))
        --num;
    return num;
}

// CMYK samples to A8R8G8B8 in place, one row. Inverted samples already are
// the amount of light left: r = c' * k' / 255.
void cmykRowToArgb(BYTE* row, int width, bool inverted)
{
    DWORD* out = reinterpret_cast<DWORD*>(row);
    for (int x = 0; x < width; ++x) {
        const BYTE* p = row + static_cast<std::size_t>(x) * 4;
        DWORD c = p[0], m = p[1], y = p[2], k = p[3];
        if (!inverted) {
            c = 255 - c;
            m = 255 - m;
            y = 255 - y;
            k = 255 - k;
        }
        const DWORD r = (c * k + 127) / 255;
        const DWORD g = (m * k + 127) / 255;
        const DWORD b = (y * k + 127) / 255;
        out[x] = 0xFF000000u | r << 16 | g << 8 | b;
    }
}

} // namespace

bool isJpeg(const BYTE* data, std::size_t size) { return size >= 3 && data[0] == 0xFF && data[1] == 0xD8 && data[2] == 0xFF; }

// No C++ objects with destructors live in this function: longjmp skips them.
bool decodeJpeg(const BYTE* data, std::size_t size, int wantWidth, int wantHeight, DecodedImage* image)
{
    jpeg_decompress_struct info;
    JpegError error;
    jpeg_progress_mgr progress;
    info.err = jpeg_std_error(&error.manager);
    error.manager.error_exit = failJpeg;
    error.manager.emit_message = messageJpeg;
    error.manager.output_message = silentJpeg;
    error.dataEnded = false;
    if (setjmp(error.jump) != 0) {
        jpeg_destroy_decompress(&info);
        return false;
    }
    jpeg_create_decompress(&info);
    progress.progress_monitor = limitScans;
    info.progress = &progress;
    jpeg_mem_src(&info, data, static_cast<unsigned long>(size));
    if (jpeg_read_header(&info, TRUE) != JPEG_HEADER_OK ||
        static_cast<long long>(info.image_width) * info.image_height > MAX_SOURCE_PIXELS) {
        jpeg_destroy_decompress(&info);
        return false;
    }
    info.scale_num = chooseScale(info.image_width, info.image_height, wantWidth, wantHeight);
    info.scale_denom = 8;
    const bool cmyk = info.jpeg_color_space == JCS_CMYK || info.jpeg_color_space == JCS_YCCK;
    // Blue, green, red, alpha bytes: little-endian A8R8G8B8 words.
    info.out_color_space = cmyk ? JCS_CMYK : JCS_EXT_BGRA;
    jpeg_calc_output_dimensions(&info);
    if (info.output_components != 4 || !imageSizeAcceptable(info.output_width, info.output_height)) {
        jpeg_destroy_decompress(&info);
        return false;
    }
    jpeg_start_decompress(&info);
    const int width = static_cast<int>(info.output_width);
    const int height = static_cast<int>(info.output_height);
    DWORD* pixels = static_cast<DWORD*>(allocateMemory(static_cast<std::uint32_t>(width) * static_cast<std::uint32_t>(height) * 4));
    while (info.output_scanline < info.output_height) {
        JSAMPROW row = reinterpret_cast<JSAMPROW>(pixels + static_cast<std::size_t>(info.output_scanline) * width);
        if (jpeg_read_scanlines(&info, &row, 1) != 1) {
            jpeg_destroy_decompress(&info);
            return false;
        }
        if (cmyk)
            cmykRowToArgb(row, width, info.saw_Adobe_marker);
    }
    jpeg_finish_decompress(&info);
    jpeg_destroy_decompress(&info);
    *image = DecodedImage{width, height, pixels};
    return true;
}
