// Memory manager: zeroed blocks from a fixed table of 1024, freed all at once
// at exit, except the blocks taken inside a scratch bracket.
// The global operator new/delete are deliberately NOT routed here (the GL
// driver allocates through them); the program's own allocations call
// allocateMemory explicitly.
#pragma once

#include <cstdint>

constexpr int MAX_MEMORY_BLOCKS = 1024;

void* allocateMemory(std::uint32_t size);
void freeAllMemory();
void markScratchMemory();
void freeScratchMemory();

// The system refused a `new` (the GL driver's, a container's growth in the
// platform code): the size is not known there, so the message gives none.
inline constexpr char MEMORY_EXHAUSTED_MESSAGE[] = "Can not allocate a requested block of memory.";
// The new handler of the process, installed at start-up: ends the program
// through fatalExit with MEMORY_EXHAUSTED_MESSAGE.
[[noreturn]] void memoryExhausted();

// Number of blocks in use (tests, soak checks).
int memoryBlockCount();
