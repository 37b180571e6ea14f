// Memory manager: the 1024-block table, zeroed blocks and the scratch bracket
// that gives the texture decoder's temporary blocks back.
#include "platform/process.h"
#include "resources/memory.h"
#include "tests/support/fatal.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <new>
#include <sys/resource.h>
#include <vector>

namespace {

class Memory : public ::testing::Test {
protected:
    void SetUp() override { freeAllMemory(); }
    void TearDown() override { freeAllMemory(); }
};

TEST_F(Memory, BlocksAreZeroedAndDistinct)
{
    auto* first = static_cast<unsigned char*>(allocateMemory(4096));
    auto* second = static_cast<unsigned char*>(allocateMemory(0));
    ASSERT_NE(first, nullptr);
    ASSERT_NE(second, nullptr);
    EXPECT_NE(first, second);
    for (int i = 0; i < 4096; i++)
        ASSERT_EQ(first[i], 0) << i;
    EXPECT_EQ(memoryBlockCount(), 2);
}

TEST_F(Memory, The1024thBlockIsGivenThe1025thEndsTheProgram)
{
    for (int i = 0; i < 1023; i++)
        allocateMemory(16);
    EXPECT_NE(allocateMemory(16), nullptr);
    EXPECT_EQ(memoryBlockCount(), 1024);
    EXPECT_FATAL(allocateMemory(16), "Can not allocate more than 1024 blocks of memory.");
    // fatalExit freed every block on its way out.
    EXPECT_EQ(memoryBlockCount(), 0);
}

TEST_F(Memory, ScratchBracketFreesOnlyWhatWasTakenInside)
{
    void* kept[10];
    for (void*& block : kept)
        block = allocateMemory(32);
    markScratchMemory();
    for (int i = 0; i < 5; i++)
        allocateMemory(1 << 20);
    EXPECT_EQ(memoryBlockCount(), 15);
    freeScratchMemory();
    EXPECT_EQ(memoryBlockCount(), 10);
    // The next block fills the eleventh entry and is zeroed again.
    auto* next = static_cast<unsigned char*>(allocateMemory(1 << 20));
    EXPECT_EQ(memoryBlockCount(), 11);
    EXPECT_EQ(next[12345], 0);
    // The blocks kept before the mark are still usable.
    static_cast<char*>(kept[9])[31] = 1;
}

TEST_F(Memory, EmptyBracketFreesNothing)
{
    allocateMemory(8);
    markScratchMemory();
    freeScratchMemory();
    EXPECT_EQ(memoryBlockCount(), 1);
    // Closing the bracket a second time finds nothing above the mark either.
    freeScratchMemory();
    EXPECT_EQ(memoryBlockCount(), 1);
}

// The system refuses the block: run in a child with a small address-space limit.
TEST(MemoryDeathTest, RefusedBlockNamesItsSize)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    auto refuse = []() {
            rlimit limit{256u << 20, 256u << 20};
            setrlimit(RLIMIT_AS, &limit);
            try {
                allocateMemory(1u << 30);
            } catch (const FatalExitError& error) {
                std::fprintf(stderr, "[%s]\n", error.what());
                std::exit(3);
            }
            std::exit(0);
    };
    EXPECT_EXIT(refuse(), ::testing::ExitedWithCode(3), "\\[Can not allocate a requested block of memory. Size: 1073741824 bytes.\\]");
}

// A `new` the system refuses (a vector's growth, as in the platform code)
// ends through fatalExit with the manager's message, after its release
// steps, instead of std::terminate; so does the nothrow form. The child
// ends as the show does, from inside the failed allocation.
TEST(MemoryDeathTest, RefusedNewEndsThroughFatalExit)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    auto refuse = [](bool nothrow) {
        platformSetExitHandler([](std::uint32_t code, const char* message) {
            std::fprintf(stderr, "[%s][%x][%d blocks]\n", message != nullptr ? message : "", code,
                         memoryBlockCount());
            std::_Exit(3);
        });
        allocateMemory(64);
        rlimit limit{256u << 20, 256u << 20};
        setrlimit(RLIMIT_AS, &limit);
        if (nothrow) {
            char* block = new (std::nothrow) char[1u << 30];
            std::fprintf(stderr, "[returned %d]\n", block != nullptr);
        } else {
            std::vector<char> frames;
            frames.resize(1u << 30);
        }
        std::_Exit(0);
    };
    const char* expected = "\\[Can not allocate a requested block of memory.\\]\\[d34db4b3\\]\\[0 blocks\\]";
    EXPECT_EXIT(refuse(false), ::testing::ExitedWithCode(3), expected);
    EXPECT_EXIT(refuse(true), ::testing::ExitedWithCode(3), expected);
}

} // namespace
