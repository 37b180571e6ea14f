// Block means of a picture that arrives one row at a time, for pictures too
// large to hold whole: only one row of running sums is kept.
// Depends on: resources/memory.h.
#include "imaging/decoders.h"

#include "resources/memory.h"

#include <algorithm>

long long reductionFactor(long long width, long long height, int wantWidth, int wantHeight)
{
    long long factor = std::max(1LL, std::min(width / std::max(wantWidth, 1), height / std::max(wantHeight, 1)));
    while (!imageSizeAcceptable((width + factor - 1) / factor, (height + factor - 1) / factor))
        ++factor;
    return factor;
}

void startReduction(RowReducer* reducer, int width, int height, long long factor)
{
    const int reducedWidth = static_cast<int>((width + factor - 1) / factor);
    const int reducedHeight = static_cast<int>((height + factor - 1) / factor);
    reducer->width = width;
    reducer->height = height;
    reducer->factor = factor;
    reducer->reducedWidth = reducedWidth;
    reducer->reducedHeight = reducedHeight;
    reducer->pixels = static_cast<DWORD*>(
        allocateMemory(static_cast<std::uint32_t>(reducedWidth) * static_cast<std::uint32_t>(reducedHeight) * 4));
    reducer->sums = static_cast<std::uint64_t*>(
        allocateMemory(static_cast<std::uint32_t>(reducedWidth) * 4 * static_cast<std::uint32_t>(sizeof(std::uint64_t))));
    reducer->rowsInBlock = 0;
}

void addReducedRow(RowReducer* reducer, int y, const DWORD* row, bool bottomUp)
{
    const long long factor = reducer->factor;
    for (int x = 0; x < reducer->width; ++x) {
        std::uint64_t* sum = reducer->sums + static_cast<std::size_t>(x / factor) * 4;
        const DWORD p = row[x];
        sum[0] += p & 0xFF;
        sum[1] += p >> 8 & 0xFF;
        sum[2] += p >> 16 & 0xFF;
        sum[3] += p >> 24;
    }
    reducer->rowsInBlock += 1;
    // A block is complete at its last row in the order the rows come.
    const bool blockEnds = bottomUp ? y % factor == 0 : (y + 1) % factor == 0 || y + 1 == reducer->height;
    if (!blockEnds)
        return;
    DWORD* out = reducer->pixels + static_cast<std::size_t>(y / factor) * reducer->reducedWidth;
    for (int x = 0; x < reducer->reducedWidth; ++x) {
        const long long columns = std::min<long long>(factor, reducer->width - x * factor);
        const std::uint64_t count = static_cast<std::uint64_t>(reducer->rowsInBlock * columns);
        std::uint64_t* sum = reducer->sums + static_cast<std::size_t>(x) * 4;
        DWORD value = 0;
        for (int c = 0; c < 4; ++c) {
            value |= static_cast<DWORD>((sum[c] + count / 2) / count) << (8 * c);
            sum[c] = 0;
        }
        out[x] = value;
    }
    reducer->rowsInBlock = 0;
}
