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

// Number of blocks in use (tests, soak checks).
int memoryBlockCount();
