// Message formatting and the single exit path: the texts every other part
// builds its messages and log lines with, and what fatalExit releases.
#include "kernel/messages.h"
#include "kernel/shell.h"
#include "resources/files.h"
#include "resources/memory.h"
#include "tests/support/fatal.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <unistd.h>

namespace {

std::string formatted(const char* text) { return std::string(text); }

TEST(FormatMessage, ConversionsAsTheMessagesUseThem)
{
    EXPECT_EQ(formatted(formatMessage("Handle: 0x%x.", 0x1a)), "Handle: 0x1a.");
    EXPECT_EQ(formatted(formatMessage("%x", 255)), "ff");
    EXPECT_EQ(formatted(formatMessage("%x", 0xD34DB4B3u)), "d34db4b3");
    EXPECT_EQ(formatted(formatMessage("Smacked: %d.\r\n", 0)), "Smacked: 0.\r\n");
    EXPECT_EQ(formatted(formatMessage("Smacked: %d.\r\n", 57112)), "Smacked: 57112.\r\n");
    EXPECT_EQ(formatted(formatMessage("%d", 2147483647)), "2147483647");
    EXPECT_EQ(formatted(formatMessage("%s*%s", "ab", "")), "ab*");
    EXPECT_EQ(formatted(formatMessage("Can not read %d bytes from file: %s.", 12, "data/a.3ds")),
              "Can not read 12 bytes from file: data/a.3ds.");
}

TEST(FormatMessage, UnknownConversionsAreCopiedAndTakeNoArgument)
{
    EXPECT_EQ(formatted(formatMessage("100% done")), "100% done");
    EXPECT_EQ(formatted(formatMessage("%%d %u %d", 7)), "%%d %u 7");
    EXPECT_EQ(formatted(formatMessage("end %")), "end %");
    EXPECT_EQ(formatted(formatMessage("")), "");
}

TEST(FormatMessage, NegativeDecimalsKeepTheirSign)
{
    EXPECT_EQ(formatted(formatMessage("%d", -1)), "-1");
    EXPECT_EQ(formatted(formatMessage("%d", static_cast<int>(0x80000000u))), "-2147483648");
}

TEST(FormatMessage, OneSharedBufferOverwrittenByEachCall)
{
    const char* first = formatMessage("first %d", 1);
    const char* second = formatMessage("second");
    EXPECT_EQ(first, second);
    EXPECT_STREQ(first, "second");
}

TEST(FormatMessage, TextLongerThanTheBufferIsCutAndTerminated)
{
    std::string longText(5000, 'a');
    const char* result = formatMessage("%s%s", longText.c_str(), "tail");
    EXPECT_EQ(std::strlen(result), 4095u);
    EXPECT_EQ(std::string(result), std::string(4095, 'a'));
}

TEST(FormatInteger, DigitsWithoutTerminator)
{
    char buffer[16];
    std::memset(buffer, '#', sizeof(buffer));
    EXPECT_EQ(formatInteger(buffer, 0, 10), 1);
    EXPECT_EQ(std::string(buffer, 2), "0#");
    EXPECT_EQ(formatInteger(buffer, 4294967295u, 10), 10);
    EXPECT_EQ(std::string(buffer, 11), "4294967295#");
    EXPECT_EQ(formatInteger(buffer, 0xFFFFFFFFu, 16), 8);
    EXPECT_EQ(std::string(buffer, 8), "ffffffff");
    EXPECT_EQ(formatInteger(buffer, 165000, 10), 6);
    EXPECT_EQ(std::string(buffer, 6), "165000");
}

// fatalExit tests run in a scratch folder so the logs they write go nowhere.
class FatalExit : public ::testing::Test {
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/gfxcore-messages-XXXXXX";
        folder = mkdtemp(pattern);
        ASSERT_EQ(getcwd(previous, sizeof(previous)), previous);
        ASSERT_EQ(chdir(folder.c_str()), 0);
    }
    void TearDown() override
    {
        closeAllFiles();
        freeAllMemory();
        loadingLog = 0;
        EXPECT_EQ(chdir(previous), 0);
        std::string command = "rm -rf " + folder;
        EXPECT_EQ(std::system(command.c_str()), 0);
    }
    static std::string readAll(const char* path)
    {
        std::ifstream file(path, std::ios::binary);
        std::stringstream text;
        text << file.rdbuf();
        return text.str();
    }
    std::string folder;
    char previous[4096];
};

TEST_F(FatalExit, NullMessageIsTheNormalEnd)
{
    try {
        fatalExit(nullptr);
        FAIL() << "fatalExit returned";
    } catch (const FatalExitError& end) {
        EXPECT_EQ(end.code, 46259u);
        EXPECT_FALSE(end.hasMessage);
    }
}

TEST_F(FatalExit, MessageIsTheErrorEnd)
{
    try {
        fatalExit("Direct3D device lost.");
        FAIL() << "fatalExit returned";
    } catch (const FatalExitError& end) {
        EXPECT_EQ(end.code, 0xD34DB4B3u);
        EXPECT_STREQ(end.what(), "Direct3D device lost.");
    }
}

TEST_F(FatalExit, WritesTheLastLogLinesThenClosesFilesAndFreesMemory)
{
    loadingLog = createFile("pimplog");
    writeToFile(loadingLog, "start\r\n", 7);
    allocateMemory(64);
    allocateMemory(64);
    EXPECT_FATAL(fatalExit("Can not create window."), "Can not create window.");
    EXPECT_EQ(readAll("pimplog"), "start\r\nfree->kicking out bass..\r\nfree->dumping avi live -xxx- streams..\r\n");
    EXPECT_EQ(openFileCount(), 0);
    EXPECT_EQ(memoryBlockCount(), 0);
    EXPECT_EQ(loadingLog, 0u);
    EXPECT_EQ(tapLog, 0u);
}

TEST_F(FatalExit, BeforeTheLogIsOpenTheReleaseStepsSkipTheLogLines)
{
    FileHandle other = createFile("other.txt");
    EXPECT_FATAL(fatalExit("Can not register window class."), "Can not register window class.");
    EXPECT_EQ(readAll("other.txt"), "");
    EXPECT_EQ(openFileCount(), 0);
    // The released handle is no longer a file of the program.
    EXPECT_FATAL(writeToFile(other, "x", 1),
                 formatMessage("Wrong file handle supplied with writeToFile(). Handle: 0x%x.", other));
}

// A release step that fails (here the first log line, on a handle that is
// no file) ends with the first message, the cause, and the steps after the
// failed one still run: memory freed, files closed.
TEST_F(FatalExit, FailureInsideTheReleaseStepsKeepsTheCauseAndReleasesTheRest)
{
    FileHandle other = createFile("other.txt");
    ASSERT_NE(other, 0u);
    allocateMemory(8);
    loadingLog = 0x3039;
    // The cause is formatted in the shared buffer that the failing step's
    // own message overwrites.
    EXPECT_FATAL(fatalExit(formatMessage("Can not read %d bytes from file: %s.", 12, "data/a.3ds")),
                 "Can not read 12 bytes from file: data/a.3ds.");
    EXPECT_EQ(memoryBlockCount(), 0);
    EXPECT_EQ(openFileCount(), 0);
    EXPECT_EQ(loadingLog, 0u);
    // The exit is over: a later one runs its release steps again.
    allocateMemory(8);
    EXPECT_FATAL(fatalExit("again."), "again.");
    EXPECT_EQ(memoryBlockCount(), 0);
}

// A normal end whose release fails is not a normal end: the failure is shown.
TEST_F(FatalExit, NormalEndWhoseReleaseFailsShowsTheFailure)
{
    allocateMemory(8);
    loadingLog = 0x3039;
    try {
        fatalExit(nullptr);
        FAIL() << "fatalExit returned";
    } catch (const FatalExitError& end) {
        EXPECT_EQ(end.code, 0xD34DB4B3u);
        EXPECT_STREQ(end.what(), "Wrong file handle supplied with writeToFile(). Handle: 0x3039.");
    }
    EXPECT_EQ(memoryBlockCount(), 0);
}

// freeStreams alone is the first four steps: the two log lines, nothing else.
TEST_F(FatalExit, FreeStreamsWritesItsTwoLinesAndLeavesTheRest)
{
    loadingLog = createFile("pimplog");
    allocateMemory(8);
    freeStreams();
    EXPECT_EQ(memoryBlockCount(), 1);
    EXPECT_EQ(openFileCount(), 1);
    closeAllFiles();
    loadingLog = 0;
    EXPECT_EQ(readAll("pimplog"), "free->kicking out bass..\r\nfree->dumping avi live -xxx- streams..\r\n");
}

} // namespace
