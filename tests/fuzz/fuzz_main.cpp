// libFuzzer entry of one fuzz target, chosen at build time by
// GFXCORE_FUZZ_TARGET (a name of fuzzTargetNamed). fatalExit unwinds.
#include "platform/process.h"
#include "tests/fuzz/fuzz_targets.h"
#include "tests/support/fatal.h"

#include <cstdio>
#include <cstdlib>

namespace {

[[noreturn]] void throwOnExit(std::uint32_t code, const char* message) { throw FatalExitError(code, message); }

FuzzTarget target = nullptr;

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    platformSetExitHandler(throwOnExit);
    target = fuzzTargetNamed(GFXCORE_FUZZ_TARGET);
    if (target == nullptr) {
        std::fprintf(stderr, "unknown fuzz target %s\n", GFXCORE_FUZZ_TARGET);
        std::exit(2);
    }
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) { return target(data, size); }
