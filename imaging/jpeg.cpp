// JPEG decoding with libjpeg(-turbo) from memory into A8R8G8B8.
// libjpeg reports errors by calling back; the error manager jumps back here,
// so a corrupt or truncated file fails instead of ending the process. Its
// warnings (premature end of data, corrupt segments) count as failures too:
// a picture libjpeg had to patch up is not the picture the file promised.
// Depends on: libjpeg, resources/memory.h.
#include "imaging/decoders.h"

#include "resources/memory.h"

#include <csetjmp>
#include <cstdio>

#include <jpeglib.h>

namespace {

struct JpegError {
    jpeg_error_mgr manager;
    std::jmp_buf jump;
};

void failJpeg(j_common_ptr info)
{
    JpegError* error = reinterpret_cast<JpegError*>(info->err);
    std::longjmp(error->jump, 1);
}

void messageJpeg(j_common_ptr info, int level)
{
    // Level -1 is a warning about damaged data; trace messages (>= 0) are ignored.
    if (level < 0)
        failJpeg(info);
}

void silentJpeg(j_common_ptr) {}

} // namespace

bool isJpeg(const BYTE* data, std::size_t size) { return size >= 3 && data[0] == 0xFF && data[1] == 0xD8 && data[2] == 0xFF; }

// No C++ objects with destructors live in this function: longjmp skips them.
bool decodeJpeg(const BYTE* data, std::size_t size, DecodedImage* image)
{
    jpeg_decompress_struct info;
    JpegError error;
    info.err = jpeg_std_error(&error.manager);
    error.manager.error_exit = failJpeg;
    error.manager.emit_message = messageJpeg;
    error.manager.output_message = silentJpeg;
    if (setjmp(error.jump) != 0) {
        jpeg_destroy_decompress(&info);
        return false;
    }
    jpeg_create_decompress(&info);
    jpeg_mem_src(&info, data, static_cast<unsigned long>(size));
    if (jpeg_read_header(&info, TRUE) != JPEG_HEADER_OK || !imageSizeAcceptable(info.image_width, info.image_height)) {
        jpeg_destroy_decompress(&info);
        return false;
    }
    // Blue, green, red, alpha bytes: little-endian A8R8G8B8 words.
    info.out_color_space = JCS_EXT_BGRA;
    jpeg_start_decompress(&info);
    const int width = static_cast<int>(info.output_width);
    const int height = static_cast<int>(info.output_height);
    if (info.output_components != 4 || !imageSizeAcceptable(width, height)) {
        jpeg_destroy_decompress(&info);
        return false;
    }
    DWORD* pixels = static_cast<DWORD*>(allocateMemory(static_cast<std::uint32_t>(width) * static_cast<std::uint32_t>(height) * 4));
    while (info.output_scanline < info.output_height) {
        JSAMPROW row = reinterpret_cast<JSAMPROW>(pixels + static_cast<std::size_t>(info.output_scanline) * width);
        if (jpeg_read_scanlines(&info, &row, 1) != 1) {
            jpeg_destroy_decompress(&info);
            return false;
        }
    }
    jpeg_finish_decompress(&info);
    jpeg_destroy_decompress(&info);
    *image = DecodedImage{width, height, pixels};
    return true;
}
