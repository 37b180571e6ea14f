// The program's random generator; see random.h.
#include "kernel/random.h"

namespace {
std::uint32_t generatorState = 1;
}

int rand15()
{
    generatorState = generatorState * 214013u + 2531011u;
    return static_cast<int>((generatorState >> 16) & 0x7FFF);
}

void resetRandom(std::uint32_t state) { generatorState = state; }

std::uint32_t randomState() { return generatorState; }
