// File manager: the table budget, exact reads and writes, handle checks and
// the data paths written in another case than on disk.
#include "kernel/messages.h"
#include "resources/files.h"
#include "tests/support/fatal.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

class Files : public ::testing::Test {
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/gfxcore-files-XXXXXX";
        folder = mkdtemp(pattern);
        ASSERT_EQ(getcwd(previous, sizeof(previous)), previous);
        ASSERT_EQ(chdir(folder.c_str()), 0);
    }
    void TearDown() override
    {
        closeAllFiles();
        EXPECT_EQ(chdir(previous), 0);
        std::string command = "rm -rf " + folder;
        EXPECT_EQ(std::system(command.c_str()), 0);
    }
    static void writeText(const char* path, const std::string& text)
    {
        std::ofstream file(path, std::ios::binary);
        file << text;
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

TEST_F(Files, WriteSeekReadAndSize)
{
    FileHandle file = createFile("log.txt");
    EXPECT_NE(file, 0u);
    writeToFile(file, "hello world", 11);
    EXPECT_EQ(getFileSize(file), 11u);
    EXPECT_EQ(seekFile(file, FILE_BEGIN, 6), 6u);
    char word[5];
    readFromFile(file, word, 5);
    EXPECT_EQ(std::string(word, 5), "world");
    EXPECT_EQ(seekFile(file, FILE_CURRENT, -5), 6u);
    EXPECT_EQ(seekFile(file, FILE_END, -11), 0u);
    readFromFile(file, word, 0); // reads nothing and succeeds
    // Written data is in the file at once: nothing is buffered.
    EXPECT_EQ(readAll("log.txt"), "hello world");
}

TEST_F(Files, CreateEmptiesAnExistingFileAndOpenKeepsIt)
{
    writeText("keep.bin", "abcdef");
    FileHandle opened = openFile("keep.bin");
    EXPECT_EQ(getFileSize(opened), 6u);
    createFile("keep.bin");
    EXPECT_EQ(readAll("keep.bin"), "");
}

TEST_F(Files, TheHundredthFileOpensTheNextEndsTheProgram)
{
    for (int i = 0; i < 99; i++)
        createFile("many.txt");
    EXPECT_EQ(openFileCount(), 99);
    writeText("present.bin", "x");
    openFile("present.bin");
    EXPECT_EQ(openFileCount(), 100);
    // Checked before the system is asked: even a path that cannot exist gets the limit message.
    EXPECT_FATAL(createFile("no/such/folder/x"), "Can not open more than 100 files.");
    // fatalExit closed every file on its way out.
    EXPECT_EQ(openFileCount(), 0);
}

TEST_F(Files, OpenAndCreateFailuresNameThePath)
{
    EXPECT_FATAL(openFile("data/missing.3ds"),
                 "Can not open file: data/missing.3ds, with full access rights. Maybe it's protected.");
    EXPECT_FATAL(createFile("nofolder/pimplog"),
                 "Can not create file: nofolder/pimplog, with full access rights. Maybe it's protected.");
    EXPECT_EQ(openFileCount(), 0);
}

TEST_F(Files, ReadPastTheEndIsFatalNotShort)
{
    writeText("short.bin", "12345");
    FileHandle file = openFile("short.bin");
    char buffer[8];
    readFromFile(file, buffer, 4);
    EXPECT_FATAL(readFromFile(file, buffer, 2), "Can not read 2 bytes from file: short.bin.");
    file = openFile("short.bin");
    EXPECT_FATAL(readFromFile(file, buffer, 8), "Can not read 8 bytes from file: short.bin.");
}

TEST_F(Files, SeekBeforeTheStartIsFatal)
{
    FileHandle file = createFile("seek.bin");
    EXPECT_FATAL(seekFile(file, FILE_BEGIN, -4), "Can not seek -4 bytes in file: seek.bin.");
}

TEST_F(Files, HandlesOutsideTheTableAreRejected)
{
    EXPECT_FATAL(seekFile(0, FILE_BEGIN, 0), "Wrong file handle supplied with seekFile(). Handle: 0x0.");
    char byte = 0;
    EXPECT_FATAL(readFromFile(0xabc, &byte, 1), "Wrong file handle supplied with readFromFile(). Handle: 0xabc.");
    EXPECT_FATAL(writeToFile(7, &byte, 1), "Wrong file handle supplied with writeToFile(). Handle: 0x7.");
    EXPECT_FATAL(getFileSize(1), "Wrong file handle supplied with getFileSize(). Handle: 0x1.");
    // Standard input (descriptor 0) is open in the process but is no file of the program.
    EXPECT_FATAL(readFromFile(1, &byte, 1), "Wrong file handle supplied with readFromFile(). Handle: 0x1.");
}

TEST_F(Files, ClosedHandlesNoLongerPass)
{
    FileHandle file = createFile("a.txt");
    closeAllFiles();
    EXPECT_EQ(openFileCount(), 0);
    EXPECT_FATAL(getFileSize(file), formatMessage("Wrong file handle supplied with getFileSize(). Handle: 0x%x.", file));
}

TEST_F(Files, DataPathsResolveIgnoringCase)
{
    ASSERT_EQ(mkdir("data", 0755), 0);
    writeText("data/Model.3DS", "3ds!");
    FileHandle file = openFile("Data/model.3ds");
    EXPECT_EQ(getFileSize(file), 4u);
    // A created file lands in the folder that exists, under the name as written.
    FileHandle made = createFile("DATA/New.log");
    writeToFile(made, "n", 1);
    EXPECT_EQ(readAll("data/New.log"), "n");
    // The path in messages stays as the caller wrote it.
    EXPECT_FATAL(openFile("DATA/absent.3ds"),
                 "Can not open file: DATA/absent.3ds, with full access rights. Maybe it's protected.");
}

} // namespace
