// Memory manager over calloc; see memory.h.
// Depends on: kernel/messages (formatMessage, fatalExit).
#include "resources/memory.h"

#include "kernel/messages.h"

#include <cstdlib>
#include <new>

namespace {
// Written only by this file.
void* blocks[MAX_MEMORY_BLOCKS];
int blockCount = 0;
int scratchMark = 0;

// Installed before main in every program that links the manager (each one
// exits through fatalExit, which frees this table), so no driver can forget
// it: a refused `new` ends with the manager's message, not std::terminate.
const bool newHandlerInstalled = (std::set_new_handler(memoryExhausted), true);
} // namespace

void* allocateMemory(std::uint32_t size)
{
    if (blockCount == MAX_MEMORY_BLOCKS)
        fatalExit("Can not allocate more than 1024 blocks of memory.");
    // A zero-byte request still gets its own address, as a fixed global block does.
    void* block = std::calloc(1, size != 0 ? size : 1);
    if (block == nullptr)
        fatalExit(formatMessage("Can not allocate a requested block of memory. Size: %d bytes.", size));
    blocks[blockCount++] = block;
    return block;
}

void freeAllMemory()
{
    for (int i = 0; i < blockCount; i++) {
        std::free(blocks[i]);
        blocks[i] = nullptr;
    }
    blockCount = 0;
    scratchMark = 0;
}

void markScratchMemory() { scratchMark = blockCount; }

void freeScratchMemory()
{
    for (int i = scratchMark; i < blockCount; i++) {
        std::free(blocks[i]);
        blocks[i] = nullptr;
    }
    blockCount = scratchMark;
}

int memoryBlockCount() { return blockCount; }

void memoryExhausted() { fatalExit(MEMORY_EXHAUSTED_MESSAGE); }
