// Texture noise: one frame of grey static read from randomTable at a random
// start, with up to four blank rows.
// Depends on: kernel/loader.h, kernel/random.h, dgl/dgl.h.
#include "effects/noise.h"

#include "kernel/random.h"

namespace {

constexpr int NOISE_SIZE = 256;
constexpr std::uint32_t TABLE_MASK = RANDOM_TABLE_SIZE - 1;

inline int tableAt(std::uint32_t index) { return randomTable[index & TABLE_MASK]; }

// One row of grey texels from consecutive table bytes. The row and the
// table never overlap: said so, the compiler fills it with vector code.
void greyRow(DWORD* __restrict texel, const BYTE* __restrict grey)
{
    for (int x = 0; x < NOISE_SIZE; ++x) {
        texel[x] = static_cast<DWORD>(grey[x]) * 0x010101u;
    }
}

} // namespace

IDirect3DTexture8* updateNoiseTexture()
{
    const std::uint32_t k = static_cast<std::uint32_t>(rand15());
    const DglTextureLock lock = dglLockTexture(noiseTexture);

    const int blank0 = tableAt(k);
    const int blank1 = tableAt(k + 1);
    const int blank2 = tableAt(k + 2 + static_cast<std::uint32_t>(rand15()));
    const int blank3 = tableAt(k + 2);
    std::uint32_t p = k + 3;

    BYTE* row = reinterpret_cast<BYTE*>(lock.texels);
    for (int y = 0; y < NOISE_SIZE; ++y) {
        DWORD* texel = reinterpret_cast<DWORD*>(row);
        if (y == blank0 || y == blank1 || y == blank2 || y == blank3) {
            for (int x = 0; x < NOISE_SIZE; ++x) {
                texel[x] = 0;
            }
        } else if ((p & TABLE_MASK) <= TABLE_MASK + 1 - NOISE_SIZE) {
            // The whole row lies before the table's end.
            greyRow(texel, randomTable + (p & TABLE_MASK));
            p += NOISE_SIZE;
        } else {
            for (int x = 0; x < NOISE_SIZE; ++x) {
                texel[x] = static_cast<DWORD>(tableAt(p)) * 0x010101u;
                p += 1;
            }
        }
        if (y == 64 || y == 128 || y == 196) {
            p += static_cast<std::uint32_t>(rand15());
        }
        row += lock.pitch;
    }

    dglUnlockTexture(noiseTexture);
    return noiseTexture;
}
