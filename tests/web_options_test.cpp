// The web show's page query: which test mode runs on which schedule, and
// the queries that must leave the show as a viewer gets it.
// Depends on: tools/web/web_options.cpp.
#include "tools/web/web_options.h"

#include <gtest/gtest.h>

namespace {

TEST(WebQuery, NoTestKeyPlaysTheShowWhateverElseThePageCarries)
{
    for (const char* query : {"", "fps=5", "utm_source=mail&at=100", "test", "&&", "="}) {
        SCOPED_TRACE(query);
        WebOptions options;
        options.mode = WebMode::fps; // must be reset
        std::string error;
        if (std::string(query) == "test") {
            // "test" without a value names no mode.
            EXPECT_FALSE(parseWebQuery(query, options, error));
            continue;
        }
        ASSERT_TRUE(parseWebQuery(query, options, error)) << error;
        EXPECT_EQ(options.mode, WebMode::show);
        EXPECT_TRUE(options.atMs.empty());
    }
}

TEST(WebQuery, FramesModeTakesTheScheduleAndTimesInAnyOrder)
{
    WebOptions options;
    std::string error;
    ASSERT_TRUE(parseWebQuery("test=frames&fps=1&at=164999,0,88010", options, error)) << error;
    EXPECT_EQ(options.mode, WebMode::frames);
    EXPECT_EQ(options.framesPerSecond, 1);
    EXPECT_EQ(options.atMs, (std::vector<int>{164999, 0, 88010}));

    // Escaped commas, as a browser may send them; keys in any order.
    ASSERT_TRUE(parseWebQuery("at=500%2C1500%2c2500&test=frames", options, error)) << error;
    EXPECT_EQ(options.framesPerSecond, 2);
    EXPECT_EQ(options.atMs, (std::vector<int>{500, 1500, 2500}));

    ASSERT_TRUE(parseWebQuery("test=fps", options, error)) << error;
    EXPECT_EQ(options.mode, WebMode::fps);
}

TEST(WebQuery, BadTestQueriesAreRefusedAndLeaveTheOptionsAlone)
{
    const char* queries[] = {
        "test=frames",                  // no times
        "test=frames&at=",              // empty list
        "test=frames&at=1,,2",          // empty item
        "test=frames&at=165000",        // past the last frame of the show
        "test=frames&at=-5",            // negative
        "test=frames&at=12ms",          // not a number
        "test=frames&at=99999999999",   // overflows an int
        "test=frames&fps=0&at=1",       // no schedule
        "test=frames&fps=1001&at=1",    // beyond the capture tool's range
        "test=frames&fps=2.5&at=1",     // not whole
        "test=bench",                   // no such mode
    };
    for (const char* query : queries) {
        SCOPED_TRACE(query);
        WebOptions options;
        options.atMs = {7};
        std::string error;
        EXPECT_FALSE(parseWebQuery(query, options, error));
        EXPECT_FALSE(error.empty());
        EXPECT_EQ(options.mode, WebMode::show);
        EXPECT_EQ(options.atMs, std::vector<int>{7});
    }
}

} // namespace
