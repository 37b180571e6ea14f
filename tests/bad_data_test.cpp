// Every file of the data set, damaged three ways, under the real show.
//
// For each file of the manifest: missing, cut to half its length, and its
// bytes scrambled behind its header (a fixed pseudo-random XOR, the same on
// every run). The show runs headless in a folder of its own whose data/
// links to the generated data set except for the damaged file. It must end
// through its one exit path: status 1, the message of the loader that owns
// the file (naming it) on standard error, the loading log cut at a line with
// the two release lines at its end; no crash, no hang.
//
// Some damage is not an error: a scrambled uncompressed TGA is still a
// picture of the size its header gives (the format has no checksum), a
// soundtrack cut to half plays its first half, then silence, and a clip cut
// to half shows the frames it holds, the last of them for the rest. The show must
// play on with them. Such a run is ended by a close request once the show
// has begun and must end normally (status 0, no message).
//
// Depends on: tools/data/dataset.h (the manifest), the show (gfxcore) and its
// generated data set in GFXCORE_SHOW_DIR, tests/show_process.h.
#include "tests/show_process.h"
#include "tools/data/dataset.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

enum class Fault { Missing, Half, Scrambled };

const char* faultName(Fault fault)
{
    switch (fault) {
    case Fault::Missing:
        return "missing";
    case Fault::Half:
        return "half";
    case Fault::Scrambled:
        return "scrambled";
    }
    return "?";
}

const fs::path showDir = GFXCORE_SHOW_DIR;

const char* const SHOW_BEGINS = "we survived or so it seems. let the show begin!";

// The loading log of a complete load, line by line; the third line's joke
// is the program's own and is compared by its prefix only.
const std::vector<std::string>& normalLoadLog()
{
    static const std::vector<std::string> lines = [] {
        std::vector<std::string> all = {
            "kernel->direct3d8 device + dgl renderer + random resource managers ready",
            "kernel->spaceTimes.log assigned for the famous tap-the-space timing 'system' ;)",
            "initialize->",
            "initialized progress stuff",
            "loading datafiles/precalcing..",
        };
        for (int step = 0; step <= 8; ++step)
            all.push_back("->updating progress stuff");
        for (const char* line : {"ok let's init bass", "mp3 loaded", "mp3 calibrated ;)", SHOW_BEGINS})
            all.push_back(line);
        return all;
    }();
    return lines;
}

Bytes readBytes(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool writeBytes(const fs::path& path, const Bytes& bytes, std::size_t count)
{
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(count));
    return static_cast<bool>(out);
}

std::size_t findBytes(const Bytes& bytes, const std::string& pattern, std::size_t from = 0)
{
    auto found = std::search(bytes.begin() + static_cast<std::ptrdiff_t>(std::min(from, bytes.size())), bytes.end(),
                             pattern.begin(), pattern.end(),
                             [](std::uint8_t a, char b) { return a == static_cast<std::uint8_t>(b); });
    return found == bytes.end() ? std::string::npos : static_cast<std::size_t>(found - bytes.begin());
}

// Bytes at the front of a file that the scramble leaves alone: what tells a
// loader the kind and the size of the file, so that the damage reaches the
// body behind it.
std::size_t headerBytes(DataKind kind, const Bytes& bytes)
{
    switch (kind) {
    case DataKind::Jpeg: {
        // Up to the end of the start-of-scan segment: tables and frame header intact.
        for (std::size_t at = 2; at + 3 < bytes.size(); ++at)
            if (bytes[at] == 0xFF && bytes[at + 1] == 0xDA)
                return std::min(bytes.size(), at + 2 + (static_cast<std::size_t>(bytes[at + 2]) << 8 | bytes[at + 3]));
        return 2;
    }
    case DataKind::Png:
        return 33; // signature and the image header chunk
    case DataKind::Tga:
        return 18;
    case DataKind::Model3ds:
        return 6; // the main chunk's header
    case DataKind::AviClip: {
        std::size_t movi = findBytes(bytes, "movi");
        return movi == std::string::npos ? 12 : movi + 4;
    }
    case DataKind::Mp3: {
        std::size_t at = 0;
        if (bytes.size() >= 10 && bytes[0] == 'I' && bytes[1] == 'D' && bytes[2] == '3')
            at = 10 + (static_cast<std::size_t>(bytes[6] & 0x7F) << 21 | (bytes[7] & 0x7F) << 14 |
                       (bytes[8] & 0x7F) << 7 | (bytes[9] & 0x7F));
        return std::min(bytes.size(), at + 4); // the first frame's header
    }
    }
    return 0;
}

void scramble(Bytes& bytes, std::size_t from)
{
    std::uint32_t state = 0x2545F491u;
    for (std::size_t i = from; i < bytes.size(); ++i) {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        bytes[i] ^= static_cast<std::uint8_t>(state >> 11);
    }
}

// True when text is pattern, where each '#' in pattern stands for one or
// more decimal digits and every other character for itself.
bool matchesPattern(const std::string& text, const std::string& pattern)
{
    std::size_t at = 0;
    for (char expected : pattern) {
        if (expected == '#') {
            const std::size_t digits = at;
            while (at < text.size() && std::isdigit(static_cast<unsigned char>(text[at])))
                ++at;
            if (at == digits)
                return false;
        } else if (at >= text.size() || text[at++] != expected) {
            return false;
        }
    }
    return at == text.size();
}

// The messages that may end the show for a damaged file; each names it
// (the scenes write the folder as "data/" or "Data/").
std::vector<std::string> expectedMessages(const DataFile& file, Fault fault)
{
    std::vector<std::string> messages;
    for (const char* folder : {"data/", "Data/"}) {
        const std::string path = folder + std::string(file.name);
        switch (file.kind) {
        case DataKind::Jpeg:
        case DataKind::Png:
        case DataKind::Tga:
            for (const char* texture : {"32-bit ARGB", "16-bit RGB"})
                messages.push_back("Can not create a #*# " + std::string(texture) + " texture from file: " + path + ".");
            break;
        case DataKind::Model3ds:
            if (fault == Fault::Missing) {
                messages.push_back("Can not open file: " + path + ", with full access rights. Maybe it's protected.");
            } else {
                messages.push_back("Corrupt 3DS file: " + path);
                messages.push_back("Object 0 not present in 3DS file: " + path + ".");
                messages.push_back("Can not read # bytes from file: " + path + ".");
            }
            break;
        case DataKind::AviClip:
            // Missing, or scrambled from its frame list on: no frame is left
            // to read, so opening fails.
            messages.push_back("Can not open or use the specified AVI file: " + path +
                               ". Are you lacking proper decoders? ;)");
            break;
        case DataKind::Mp3:
            messages.push_back("Can not load MP3: Data/Music.mp3.");
            break;
        }
    }
    return messages;
}

bool isExpectedMessage(const std::string& message, const DataFile& file, Fault fault)
{
    for (const std::string& pattern : expectedMessages(file, fault))
        if (matchesPattern(message, pattern))
            return true;
    return false;
}

// A scrambled uncompressed TGA is a valid picture, a cut MP3 is a shorter
// soundtrack and a cut clip a shorter clip: the show plays on.
bool playsOn(const DataFile& file, Fault fault, const Bytes& original)
{
    if (fault == Fault::Half && (file.kind == DataKind::Mp3 || file.kind == DataKind::AviClip))
        return true;
    return fault == Fault::Scrambled && file.kind == DataKind::Tga && original.size() > 2 &&
           (original[2] == 2 || original[2] == 3);
}

// Checks a loading log: a prefix of the complete load's log, cut at a line
// end, followed by the two release lines. full: the whole load was logged.
void expectLogEndsCleanly(const std::string& log, bool full)
{
    const std::string release = "free->kicking out bass..\r\nfree->dumping avi live -xxx- streams..\r\n";
    ASSERT_GE(log.size(), release.size()) << log;
    EXPECT_EQ(log.substr(log.size() - release.size()), release) << log;
    const std::string before = log.substr(0, log.size() - release.size());
    ASSERT_TRUE(before.empty() || before.ends_with("\r\n")) << log;
    std::vector<std::string> lines = showLogLines(before);
    const std::vector<std::string>& normal = normalLoadLog();
    ASSERT_LE(lines.size(), normal.size()) << log;
    ASSERT_GE(lines.size(), 3u) << "the log was opened before any data file is read\n" << log;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (i == 2)
            EXPECT_TRUE(lines[i].starts_with(normal[i])) << lines[i];
        else
            EXPECT_EQ(lines[i], normal[i]) << "line " << i + 1 << "\n" << log;
    }
    if (full)
        EXPECT_EQ(lines.size(), normal.size()) << log;
    else
        EXPECT_LT(lines.size(), normal.size()) << "the failure came after the load\n" << log;
}

// A show folder: data/ links every file of the data set but the damaged one.
fs::path makeShowFolder(const char* damagedName)
{
    fs::path folder = showMakeTempFolder("gfxcore-bad-data");
    fs::create_directory(folder / "data");
    for (const DataFile& file : dataManifest)
        if (damagedName == nullptr || std::string(file.name) != damagedName)
            fs::create_symlink(showDir / "data" / file.name, folder / "data" / file.name);
    return folder;
}

ShowRunResult runShow(const fs::path& folder, bool stopOnceShowBegins)
{
    ShowRunOptions options;
    options.program = (showDir / "gfxcore").string();
    options.folder = folder.string();
    options.environment = showHeadlessEnvironment(folder);
    options.timeLimitSeconds = 30.0;
    if (stopOnceShowBegins)
        options.stopWhenLogHas = SHOW_BEGINS;
    return runShowProgram(options);
}

void expectNormalEnd(const ShowRunResult& run)
{
    EXPECT_FALSE(run.timedOut);
    EXPECT_TRUE(run.stopped) << "the show never began\n" << run.log << run.errorText;
    ASSERT_TRUE(run.exited) << "signal " << run.signal << "\n" << run.errorText;
    EXPECT_EQ(run.status, 0) << run.errorText;
    EXPECT_EQ(showErrorMessage(run.errorText), "") << run.errorText;
    expectLogEndsCleanly(run.log, true);
}

struct DamageCase {
    int file;
    Fault fault;
};

void PrintTo(const DamageCase& damage, std::ostream* out);

class BadDataTest : public ::testing::TestWithParam<DamageCase> {};

TEST_P(BadDataTest, EndsThroughFatalExitWithTheLoadersMessage)
{
    const DataFile& file = dataManifest[GetParam().file];
    const Fault fault = GetParam().fault;
    const Bytes original = readBytes(showDir / "data" / file.name);
    ASSERT_FALSE(original.empty()) << "the data set is not generated: " << file.name;

    const fs::path folder = makeShowFolder(file.name);
    ASSERT_FALSE(folder.empty());
    const fs::path damaged = folder / "data" / file.name;
    if (fault == Fault::Half) {
        ASSERT_TRUE(writeBytes(damaged, original, original.size() / 2));
    } else if (fault == Fault::Scrambled) {
        Bytes bytes = original;
        scramble(bytes, headerBytes(file.kind, bytes));
        ASSERT_TRUE(writeBytes(damaged, bytes, bytes.size()));
    }

    const bool showGoesOn = playsOn(file, fault, original);
    const ShowRunResult run = runShow(folder, showGoesOn);
    SCOPED_TRACE(std::string(file.name) + " " + faultName(fault));
    ASSERT_TRUE(run.started);
    EXPECT_FALSE(run.timedOut) << "no end within 30 s";
    if (showGoesOn) {
        expectNormalEnd(run);
    } else {
        ASSERT_TRUE(run.exited) << "ended by signal " << run.signal << "\n" << run.errorText;
        EXPECT_EQ(run.status, 1) << run.errorText;
        const std::string message = showErrorMessage(run.errorText);
        EXPECT_TRUE(isExpectedMessage(message, file, fault))
            << "message: " << message << "\nstandard error:\n" << run.errorText;
        expectLogEndsCleanly(run.log, false);
    }
    std::error_code ignored;
    fs::remove_all(folder, ignored);
}

std::vector<DamageCase> allCases()
{
    std::vector<DamageCase> cases;
    for (int file = 0; file < DATA_FILE_COUNT; ++file)
        for (Fault fault : {Fault::Missing, Fault::Half, Fault::Scrambled})
            cases.push_back({file, fault});
    return cases;
}

std::string caseName(const ::testing::TestParamInfo<DamageCase>& info)
{
    std::string name = dataManifest[info.param.file].name;
    for (char& c : name)
        if (!std::isalnum(static_cast<unsigned char>(c)))
            c = '_';
    return name + "_" + faultName(info.param.fault);
}

void PrintTo(const DamageCase& damage, std::ostream* out)
{
    *out << dataManifest[damage.file].name << " " << faultName(damage.fault);
}

INSTANTIATE_TEST_SUITE_P(EveryFile, BadDataTest, ::testing::ValuesIn(allCases()), caseName);

// The control: with nothing damaged the same harness sees the show begin
// and end normally on a close request.
TEST(BadDataControl, IntactDataSetPlaysAndEndsOnClose)
{
    const fs::path folder = makeShowFolder(nullptr);
    ASSERT_FALSE(folder.empty());
    expectNormalEnd(runShow(folder, true));
    std::error_code ignored;
    fs::remove_all(folder, ignored);
}

// The message patterns: digits where the sizes go, the file named exactly.
TEST(BadDataControl, MessagePatternsNameTheFileAndTheSizes)
{
    const DataFile* picture = findDataFile("1.jpg");
    ASSERT_NE(picture, nullptr);
    EXPECT_TRUE(isExpectedMessage("Can not create a 256*128 16-bit RGB texture from file: data/1.jpg.", *picture,
                                  Fault::Missing));
    EXPECT_FALSE(isExpectedMessage("Can not create a 256*128 16-bit RGB texture from file: data/21.jpg.", *picture,
                                   Fault::Missing));
    EXPECT_FALSE(isExpectedMessage("Can not create a *128 16-bit RGB texture from file: data/1.jpg.", *picture,
                                   Fault::Missing));
    EXPECT_FALSE(isExpectedMessage("", *picture, Fault::Half));
}

// The scramble must reach every file's body and leave its header alone.
TEST(BadDataControl, ScrambleKeepsTheHeaderAndChangesTheBody)
{
    for (const DataFile& file : dataManifest) {
        const Bytes original = readBytes(showDir / "data" / file.name);
        const std::size_t header = headerBytes(file.kind, original);
        ASSERT_LT(header, original.size()) << file.name;
        Bytes bytes = original;
        scramble(bytes, header);
        EXPECT_TRUE(std::equal(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(header), original.begin()))
            << file.name;
        std::size_t changed = 0;
        for (std::size_t i = header; i < bytes.size(); ++i)
            changed += bytes[i] != original[i];
        EXPECT_GT(changed, (bytes.size() - header) * 9 / 10) << file.name;
    }
}

} // namespace
