// PNG decoding with libpng from memory into A8R8G8B8. Errors jump back
// through libpng's own setjmp; reads past the end of the data are errors.
// A picture above MAX_IMAGE_PIXELS is read row by row and reduced by a whole
// factor (block means) toward the wanted size.
// Depends on: libpng, resources/memory.h.
#include "imaging/decoders.h"

#include "resources/memory.h"

#include <cstring>

#include <png.h>

namespace {

struct PngSource {
    const BYTE* data;
    std::size_t size;
    std::size_t at;
};

void readPng(png_structp png, png_bytep destination, png_size_t count)
{
    PngSource* source = static_cast<PngSource*>(png_get_io_ptr(png));
    if (count > source->size - source->at)
        png_error(png, "truncated");
    std::memcpy(destination, source->data + source->at, count);
    source->at += count;
}

void silentPng(png_structp, png_const_charp) {}

} // namespace

bool isPng(const BYTE* data, std::size_t size) { return size >= 8 && png_sig_cmp(data, 0, 8) == 0; }

// No C++ objects with destructors live in this function: longjmp skips them.
bool decodePng(const BYTE* data, std::size_t size, int wantWidth, int wantHeight, DecodedImage* image)
{
    if (!isPng(data, size))
        return false;
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, silentPng);
    if (png == nullptr)
        return false;
    png_infop info = png_create_info_struct(png);
    if (info == nullptr) {
        png_destroy_read_struct(&png, nullptr, nullptr);
        return false;
    }
    PngSource source{data, size, 0};
    if (setjmp(png_jmpbuf(png)) != 0) {
        png_destroy_read_struct(&png, &info, nullptr);
        return false;
    }
    png_set_read_fn(png, &source, readPng);
    png_set_user_limits(png, MAX_SOURCE_SIDE, MAX_SOURCE_SIDE);
    png_read_info(png, info);
    const png_uint_32 width = png_get_image_width(png, info);
    const png_uint_32 height = png_get_image_height(png, info);
    // A picture too large to hold is read reduced, which takes its rows in
    // order: an interlaced one would have to be held whole first.
    const bool reduce = !imageSizeAcceptable(width, height);
    if (reduce && (static_cast<long long>(width) * height > MAX_SOURCE_PIXELS ||
                   png_get_interlace_type(png, info) != PNG_INTERLACE_NONE)) {
        png_destroy_read_struct(&png, &info, nullptr);
        return false;
    }
    const int colorType = png_get_color_type(png, info);
    // Everything to 8-bit blue, green, red, alpha.
    png_set_expand(png);
    png_set_strip_16(png);
    if (colorType == PNG_COLOR_TYPE_GRAY || colorType == PNG_COLOR_TYPE_GRAY_ALPHA)
        png_set_gray_to_rgb(png);
    png_set_bgr(png);
    png_set_filler(png, 0xFF, PNG_FILLER_AFTER);
    png_set_interlace_handling(png);
    png_read_update_info(png, info);
    if (png_get_rowbytes(png, info) != static_cast<png_size_t>(width) * 4) {
        png_destroy_read_struct(&png, &info, nullptr);
        return false;
    }
    if (reduce) {
        // Row by row into block means, so the picture is never held whole.
        RowReducer reducer;
        startReduction(&reducer, static_cast<int>(width), static_cast<int>(height),
                       reductionFactor(width, height, wantWidth, wantHeight));
        DWORD* row = static_cast<DWORD*>(allocateMemory(width * 4));
        for (png_uint_32 y = 0; y < height; ++y) {
            png_read_row(png, reinterpret_cast<png_bytep>(row), nullptr);
            addReducedRow(&reducer, static_cast<int>(y), row, false);
        }
        png_read_end(png, nullptr);
        png_destroy_read_struct(&png, &info, nullptr);
        *image = DecodedImage{reducer.reducedWidth, reducer.reducedHeight, reducer.pixels};
        return true;
    }
    DWORD* pixels = static_cast<DWORD*>(allocateMemory(width * height * 4));
    png_bytep* rows = static_cast<png_bytep*>(allocateMemory(height * static_cast<std::uint32_t>(sizeof(png_bytep))));
    for (png_uint_32 y = 0; y < height; ++y)
        rows[y] = reinterpret_cast<png_bytep>(pixels + static_cast<std::size_t>(y) * width);
    png_read_image(png, rows);
    png_read_end(png, nullptr);
    png_destroy_read_struct(&png, &info, nullptr);
    *image = DecodedImage{static_cast<int>(width), static_cast<int>(height), pixels};
    return true;
}
