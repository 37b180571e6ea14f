// TGA decoding into A8R8G8B8: true colour (15, 16, 24 and 32 bit), grey
// (8 bit, and 16 bit grey with alpha) and colour-mapped (8 or 16-bit indices
// into a map of 15, 16, 24 or 32-bit entries), each uncompressed and run-length
// encoded, bottom-up and top-down. Every read is checked against the size of
// the data, and every index against the map. A picture too large to hold is
// read row by row into block means toward the wanted size.
//
// 16-bit colour is X1R5G5B5; its top bit is alpha only when the descriptor
// gives the picture an alpha bit (as image editors read it). A 32-bit picture
// keeps its fourth byte as alpha whatever the descriptor says.
// Depends on: resources/memory.h.
#include "imaging/decoders.h"

#include "resources/memory.h"

namespace {

constexpr std::size_t HEADER_SIZE = 18;

constexpr int TGA_MAPPED = 1;
constexpr int TGA_TRUE_COLOUR = 2;
constexpr int TGA_GREY = 3;
constexpr int TGA_MAPPED_RLE = 9;
constexpr int TGA_TRUE_COLOUR_RLE = 10;
constexpr int TGA_GREY_RLE = 11;

// How stored values become pixels.
enum TgaKind { TGA_GREY8, TGA_GREY_ALPHA16, TGA_RGB15, TGA_ARGB16, TGA_BGR24, TGA_BGRA32, TGA_INDEX8, TGA_INDEX16 };

struct TgaValues {
    TgaKind kind;
    int bytes;
    const DWORD* map; // colour-mapped pictures: the map as pixels
    int mapFirst;     // the index of map[0]
    int mapLength;
};

DWORD expand5(DWORD v) { return (v << 3) | (v >> 2); }

// A stored colour (not an index) as A8R8G8B8.
DWORD colourValue(const BYTE* at, TgaKind kind)
{
    switch (kind) {
    case TGA_GREY8:
        return 0xFF000000u | static_cast<DWORD>(at[0]) * 0x010101u;
    case TGA_GREY_ALPHA16:
        return static_cast<DWORD>(at[1]) << 24 | static_cast<DWORD>(at[0]) * 0x010101u;
    case TGA_RGB15:
    case TGA_ARGB16: {
        const DWORD word = at[0] | static_cast<DWORD>(at[1]) << 8;
        const DWORD alpha = kind == TGA_RGB15 || (word & 0x8000) ? 0xFF : 0;
        return alpha << 24 | expand5(word >> 10 & 31) << 16 | expand5(word >> 5 & 31) << 8 | expand5(word & 31);
    }
    case TGA_BGR24:
        return 0xFF000000u | static_cast<DWORD>(at[2]) << 16 | static_cast<DWORD>(at[1]) << 8 | at[0];
    default:
        return static_cast<DWORD>(at[3]) << 24 | static_cast<DWORD>(at[2]) << 16 | static_cast<DWORD>(at[1]) << 8 |
               at[0];
    }
}

// One stored value as a pixel; false for an index outside the map.
bool readValue(const TgaValues& values, const BYTE* at, DWORD* pixel)
{
    if (values.map == nullptr) {
        *pixel = colourValue(at, values.kind);
        return true;
    }
    const int index = values.kind == TGA_INDEX8 ? at[0] : (at[0] | at[1] << 8);
    const int slot = index - values.mapFirst;
    if (slot < 0 || slot >= values.mapLength)
        return false;
    *pixel = values.map[slot];
    return true;
}

// The kind of a stored colour of the given bits; false when not one of ours.
bool colourKind(int bits, int alphaBits, TgaKind* kind)
{
    switch (bits) {
    case 15:
        *kind = TGA_RGB15;
        return true;
    case 16:
        *kind = alphaBits > 0 ? TGA_ARGB16 : TGA_RGB15;
        return true;
    case 24:
        *kind = TGA_BGR24;
        return true;
    case 32:
        *kind = TGA_BGRA32;
        return true;
    default:
        return false;
    }
}

int storedBytes(int bits) { return (bits + 7) / 8; }

// The pixels of the picture in file order, from raw data or run-length
// packets; a packet may run on into the next row but not past the picture.
struct TgaStream {
    const BYTE* data;
    std::size_t size;
    std::size_t at;
    bool rle;
    std::size_t left;   // pixels of the picture still to come
    std::size_t inPacket; // pixels still to come from the current packet
    bool repeat;        // the current packet repeats one value
    DWORD value;        // that value
};

bool nextPixel(TgaStream& stream, const TgaValues& values, DWORD* pixel)
{
    const std::size_t bytes = static_cast<std::size_t>(values.bytes);
    if (stream.left == 0)
        return false;
    stream.left -= 1;
    if (!stream.rle) {
        if (stream.size - stream.at < bytes || !readValue(values, stream.data + stream.at, pixel))
            return false;
        stream.at += bytes;
        return true;
    }
    if (stream.inPacket == 0) {
        if (stream.at >= stream.size)
            return false;
        const int packet = stream.data[stream.at++];
        stream.inPacket = static_cast<std::size_t>(packet & 0x7F) + 1;
        if (stream.inPacket > stream.left + 1)
            return false;
        stream.repeat = (packet & 0x80) != 0;
        if (stream.repeat) {
            if (stream.size - stream.at < bytes || !readValue(values, stream.data + stream.at, &stream.value))
                return false;
            stream.at += bytes;
        }
    }
    stream.inPacket -= 1;
    if (stream.repeat) {
        *pixel = stream.value;
        return true;
    }
    if (stream.size - stream.at < bytes || !readValue(values, stream.data + stream.at, pixel))
        return false;
    stream.at += bytes;
    return true;
}

} // namespace

bool decodeTga(const BYTE* data, std::size_t size, int wantWidth, int wantHeight, DecodedImage* image)
{
    if (size < HEADER_SIZE)
        return false;
    const int idLength = data[0];
    const int colorMapType = data[1];
    const int imageType = data[2];
    const int colorMapFirst = data[3] | data[4] << 8;
    const int colorMapLength = data[5] | data[6] << 8;
    const int colorMapEntryBits = data[7];
    const int width = data[12] | data[13] << 8;
    const int height = data[14] | data[15] << 8;
    const int bits = data[16];
    const int descriptor = data[17];
    const int alphaBits = descriptor & 0x0F;

    const bool rle = imageType == TGA_MAPPED_RLE || imageType == TGA_TRUE_COLOUR_RLE || imageType == TGA_GREY_RLE;
    const bool mapped = imageType == TGA_MAPPED || imageType == TGA_MAPPED_RLE;
    const bool grey = imageType == TGA_GREY || imageType == TGA_GREY_RLE;
    if (!mapped && !grey && imageType != TGA_TRUE_COLOUR && imageType != TGA_TRUE_COLOUR_RLE)
        return false;
    if (colorMapType > 1 || (mapped && colorMapType != 1))
        return false;
    // Too large to hold: read into block means, rows as they come.
    const bool reduce = !imageSizeAcceptable(width, height);
    if (width == 0 || height == 0 || static_cast<long long>(width) * height > MAX_SOURCE_PIXELS)
        return false;

    TgaValues values{TGA_BGRA32, storedBytes(bits), nullptr, 0, 0};
    if (mapped) {
        if (bits != 8 && bits != 16)
            return false;
        values.kind = bits == 8 ? TGA_INDEX8 : TGA_INDEX16;
    } else if (grey) {
        if (bits != 8 && bits != 16)
            return false;
        values.kind = bits == 8 ? TGA_GREY8 : TGA_GREY_ALPHA16;
    } else if (!colourKind(bits, alphaBits, &values.kind)) {
        return false;
    }

    std::size_t at = HEADER_SIZE + static_cast<std::size_t>(idLength);
    if (at > size)
        return false;
    if (colorMapType == 1) {
        const std::size_t entryBytes = static_cast<std::size_t>(storedBytes(colorMapEntryBits));
        const std::size_t mapBytes = static_cast<std::size_t>(colorMapLength) * entryBytes;
        if (mapBytes > size - at)
            return false;
        if (mapped) {
            // The map of a colour-mapped picture is read whole before the
            // indices; beside true-colour data it is skipped.
            TgaKind entryKind;
            if (colorMapLength == 0 || !colourKind(colorMapEntryBits, alphaBits, &entryKind))
                return false;
            DWORD* map = static_cast<DWORD*>(allocateMemory(static_cast<std::uint32_t>(colorMapLength) * 4));
            for (int i = 0; i < colorMapLength; ++i)
                map[i] = colourValue(data + at + static_cast<std::size_t>(i) * entryBytes, entryKind);
            values.map = map;
            values.mapFirst = colorMapFirst;
            values.mapLength = colorMapLength;
        }
        at += mapBytes;
    }

    const int bytes = values.bytes;
    const std::size_t pixelCount = static_cast<std::size_t>(width) * height;
    if (!rle && (size - at) / bytes < pixelCount)
        return false;
    // A run packet covers at most 128 pixels: refuse data too short for the
    // picture before allocating for it.
    if (rle && (size - at) < (pixelCount + 127) / 128 * static_cast<std::size_t>(1 + bytes))
        return false;

    TgaStream stream{data, size, at, rle, pixelCount, 0, false, 0};
    const bool topDown = (descriptor & 0x20) != 0;
    const bool rightToLeft = (descriptor & 0x10) != 0;
    if (reduce) {
        RowReducer reducer;
        startReduction(&reducer, width, height, reductionFactor(width, height, wantWidth, wantHeight));
        DWORD* row = static_cast<DWORD*>(allocateMemory(static_cast<std::uint32_t>(width) * 4));
        for (int r = 0; r < height; ++r) {
            for (int x = 0; x < width; ++x)
                if (!nextPixel(stream, values, &row[rightToLeft ? width - 1 - x : x]))
                    return false;
            addReducedRow(&reducer, topDown ? r : height - 1 - r, row, !topDown);
        }
        *image = DecodedImage{reducer.reducedWidth, reducer.reducedHeight, reducer.pixels};
        return true;
    }

    DWORD* pixels = static_cast<DWORD*>(allocateMemory(static_cast<std::uint32_t>(pixelCount * 4)));
    // Pixels in file order first; rows and columns are put in place below.
    for (std::size_t i = 0; i < pixelCount; ++i)
        if (!nextPixel(stream, values, &pixels[i]))
            return false;

    // Bit 5 of the descriptor: rows run top-down; otherwise bottom-up.
    // Bit 4: columns run right to left.
    if (!topDown) {
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
    if (rightToLeft) {
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
