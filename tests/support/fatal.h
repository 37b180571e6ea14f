// Tests make fatalExit unwind: it throws FatalExitError carrying the message
// and the exit code, so the failure paths can be asserted on.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

struct FatalExitError : std::runtime_error {
    FatalExitError(std::uint32_t exitCode, const char* text)
        : std::runtime_error(text != nullptr ? text : ""), code(exitCode), hasMessage(text != nullptr)
    {
    }
    std::uint32_t code;
    bool hasMessage;
};

// Runs statement and returns the fatal message it ended with; fails the test
// (returns "<no fatalExit>") when the statement returned normally.
#define FATAL_MESSAGE(statement)                                                                          \
    ([&]() -> std::string {                                                                               \
        try {                                                                                             \
            statement;                                                                                    \
        } catch (const FatalExitError& fatalError) {                                                      \
            return fatalError.what();                                                                     \
        }                                                                                                 \
        return "<no fatalExit>";                                                                          \
    }())

#define EXPECT_FATAL(statement, message) EXPECT_EQ(FATAL_MESSAGE(statement), std::string(message))
