// Test entry: fatalExit unwinds with FatalExitError instead of ending the process.
#include "platform/process.h"
#include "tests/support/fatal.h"

#include <gtest/gtest.h>

namespace {
void throwOnExit(std::uint32_t code, const char* message) { throw FatalExitError(code, message); }
}

int main(int argc, char** argv)
{
    platformSetExitHandler(throwOnExit);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
