// The one random generator of the program: the classic linear congruential
// generator, state = state * 214013 + 2531011, result = bits 16..30.
// Never the C library's rand(): its sequence differs between platforms.
#pragma once

#include <cstdint>

// Next value, 0..32767. Starts from state 1 on every run.
int rand15();

// For tests and tools that replay the show from its start.
void resetRandom(std::uint32_t state = 1);
std::uint32_t randomState();
