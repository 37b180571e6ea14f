// TGA decoding: true-colour (24 and 32 bit) and grey (8 bit), uncompressed
// and run-length encoded, bottom-up and top-down, into A8R8G8B8. Every read
// is checked against the size of the data.
// Depends on: resources/memory.h.
#include "imaging/decoders.h"

#include "resources/memory.h"

namespace {

constexpr std::size_t HEADER_SIZE = 18;

DWORD readPixel(const BYTE* at, int bytes)
{
    if (bytes == 1)
        return 0xFF000000u | static_cast<DWORD>(at[0]) * 0x010101u;
    DWORD alpha = bytes == 4 ? at[3] : 0xFF;
    return alpha << 24 | static_cast<DWORD>(at[2]) << 16 | static_cast<DWORD>(at[1]) << 8 | at[0];
}

} // namespace

bool decodeTga(const BYTE* data, std::size_t size, DecodedImage* image)
{
    if (size < HEADER_SIZE)
        return false;
    const int idLength = data[0];
    const int colorMapType = data[1];
    const int imageType = data[2];
    const int colorMapLength = data[5] | data[6] << 8;
    const int colorMapEntryBits = data[7];
    const int width = data[12] | data[13] << 8;
    const int height = data[14] | data[15] << 8;
    const int bits = data[16];
    const int descriptor = data[17];

    const bool rle = imageType == 10 || imageType == 11;
    const bool grey = imageType == 3 || imageType == 11;
    if (imageType != 2 && imageType != 3 && imageType != 10 && imageType != 11)
        return false;
    if (colorMapType > 1 || (grey ? bits != 8 : (bits != 24 && bits != 32)))
        return false;
    if (!imageSizeAcceptable(width, height))
        return false;

    // A colour map beside true-colour data is skipped.
    std::size_t at = HEADER_SIZE + static_cast<std::size_t>(idLength);
    if (colorMapType == 1)
        at += static_cast<std::size_t>(colorMapLength) * ((colorMapEntryBits + 7) / 8);
    if (at > size)
        return false;

    const int bytes = bits / 8;
    const std::size_t pixelCount = static_cast<std::size_t>(width) * height;
    if (!rle && (size - at) / bytes < pixelCount)
        return false;
    // A run packet covers at most 128 pixels: refuse data too short for the
    // picture before allocating for it.
    if (rle && (size - at) < (pixelCount + 127) / 128 * static_cast<std::size_t>(1 + bytes))
        return false;

    DWORD* pixels = static_cast<DWORD*>(allocateMemory(static_cast<std::uint32_t>(pixelCount * 4)));
    // Pixels in file order first; rows and columns are put in place below.
    if (!rle) {
        for (std::size_t i = 0; i < pixelCount; ++i, at += bytes)
            pixels[i] = readPixel(data + at, bytes);
    } else {
        std::size_t filled = 0;
        while (filled < pixelCount) {
            if (at >= size)
                return false;
            const int packet = data[at++];
            const std::size_t count = static_cast<std::size_t>(packet & 0x7F) + 1;
            if (count > pixelCount - filled)
                return false;
            if (packet & 0x80) {
                if (size - at < static_cast<std::size_t>(bytes))
                    return false;
                DWORD value = readPixel(data + at, bytes);
                at += bytes;
                for (std::size_t i = 0; i < count; ++i)
                    pixels[filled++] = value;
            } else {
                if ((size - at) / bytes < count)
                    return false;
                for (std::size_t i = 0; i < count; ++i, at += bytes)
                    pixels[filled++] = readPixel(data + at, bytes);
            }
        }
    }

    // Bit 5 of the descriptor: rows run top-down; otherwise bottom-up.
    // Bit 4: columns run right to left.
    if ((descriptor & 0x20) == 0) {
        for (int y = 0; y < height / 2; ++y) {
            DWORD* top = pixels + static_cast<std::size_t>(y) * width;
            DWORD* bottom = pixels + static_cast<std::size_t>(height - 1 - y) * width;
            for (int x = 0; x < width; ++x) {
                DWORD swap = top[x];
                top[x] = bottom[x];
                bottom[x] = swap;
            }
        }
    }
    if (descriptor & 0x10) {
        for (int y = 0; y < height; ++y) {
            DWORD* row = pixels + static_cast<std::size_t>(y) * width;
            for (int x = 0; x < width / 2; ++x) {
                DWORD swap = row[x];
                row[x] = row[width - 1 - x];
                row[width - 1 - x] = swap;
            }
        }
    }
    *image = DecodedImage{width, height, pixels};
    return true;
}
