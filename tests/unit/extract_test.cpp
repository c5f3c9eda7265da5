// The temporary setup file: its name, its contents, and every way writing it can fail.
#include <string.h>

#include <filesystem>

#include "host_fixture.h"
#include "package/extract.h"
#include "package/temp_file.h"
#include "shell/bootstrap.h"

namespace {

const char kCopyMessage[] = "Cannot copy setup information\r\nto temporary file.";

class TempFileTest : public HostTest {
protected:
    // Creates the file and closes it; returns the name chosen, or "" after a report.
    std::string Create()
    {
        FILE* file = CreateTempSetupFile();
        if (!file) return "";
        fclose(file);
        std::string path = bootstrap.tempSetupPath;
        return path.substr(path.rfind('\\') + 1);
    }
};

}  // namespace

TEST_F(TempFileTest, TakesTheLowestFreeNumberAndLeavesOthersAlone)
{
    const struct { std::vector<std::string> present; const char* chosen; } cases[] = {
        {{}, "_setup0.exe"},
        {{"_setup0.exe", "_setup1.exe"}, "_setup2.exe"},
        {{"_setup1.exe"}, "_setup0.exe"},                      // gaps are reused
        {{"_setup0.exe", "_setup2.exe", "_setup10.exe"}, "_setup1.exe"},
    };
    for (const auto& c : cases) {
        for (const auto& name : Files()) std::remove(Path(name).c_str());
        for (const auto& name : c.present) WriteBytes(Path(name), {'k', 'e', 'e', 'p'});
        EXPECT_EQ(c.chosen, Create());
        EXPECT_EQ(directory + "\\" + c.chosen, bootstrap.tempSetupPath);
        EXPECT_TRUE(ReadBytes(Path(c.chosen)).empty());
        for (const auto& name : c.present) EXPECT_EQ(Bytes({'k', 'e', 'e', 'p'}), ReadBytes(Path(name)));
    }
}

TEST_F(TempFileTest, JoinsTheDirectoryWithOneBackslash)
{
    for (const std::string& temp : {directory + "\\", directory, directory + "\\\\"}) {
        memset(&bootstrap, 0, sizeof bootstrap);
        for (const auto& name : Files()) std::remove(Path(name).c_str());
        Host().tempPath = temp;
        Create();
        std::string expected = temp == directory + "\\\\" ? directory + "\\\\_setup0.exe" : directory + "\\_setup0.exe";
        EXPECT_EQ(expected, bootstrap.tempSetupPath) << temp;
    }
}

TEST_F(TempFileTest, NeverOpensAnExistingFileForWriting)
{
    // The probe cannot read _setup0.exe (unreadable, or it appeared only after the probe):
    // the exclusive creation refuses it and the next number is used.
    WriteBytes(Path("_setup0.exe"), {'d', 'a', 't', 'a'});
    HostFailStreamCall(kHostOpen, 1);
    EXPECT_EQ("_setup1.exe", Create());
    EXPECT_EQ(Bytes({'d', 'a', 't', 'a'}), ReadBytes(Path("_setup0.exe")));
}

TEST_F(TempFileTest, ReportsWhenNoNameCanBeHad)
{
    for (int number = 0; number < kTempNameCount; number++)
        WriteBytes(Path("_setup" + std::to_string(number) + ".exe"), {});
    EXPECT_EQ("", Create());
    EXPECT_EQ("Cannot create temporary setup file.\r\n" + directory + "\\_setup399.exe",
              std::string(bootstrap.errorText));
    EXPECT_EQ(400u, Files().size());
}

TEST_F(TempFileTest, ADirectoryTooLongForThePathFailsCleanly)
{
    // 241 characters and "\_setup399.exe" fill the path's 256 bytes exactly.
    for (size_t length : {241u, 242u, 600u, 1023u, 1024u, 5000u}) {
        memset(&bootstrap, 0, sizeof bootstrap);
        HostReset();
        std::string temp = directory + "\\" + std::string(length - directory.size() - 1, 'd');
        Host().tempPath = temp;
        if (length == 241) std::filesystem::create_directory(HostNativePath(temp.c_str()));
        std::string created = Create();
        std::string report = bootstrap.errorText;
        if (length == 241) {
            EXPECT_EQ("_setup0.exe", created);
            EXPECT_EQ("", report);
            continue;
        }
        EXPECT_EQ("", created);
        // The platform answers a directory longer than the buffer it was given with its size.
        std::string shown = length < 1024 ? temp : "";
        std::string expectedPath = (shown + "\\_setup0.exe").substr(0, kPathSize - 1);
        EXPECT_EQ("Cannot create temporary setup file.\r\n" + expectedPath, report) << length;
        EXPECT_EQ(0, HostStreamCalls(kHostOpen)) << "nothing tried, " << length;
    }
}

// The extraction stage with the program's own file in the scratch directory.
class ExtractTest : public HostTest {
protected:
    void SetUp() override
    {
        HostTest::SetUp();
        program = {'M', 'Z', 0x90, 0, 3, 0, 0, 0, 4, 0};
        for (int i = 0; i < 300; i++) program.push_back(static_cast<uint8_t>(i * 7));
        parts.stream = LiteralStream(program);
        parts.blocks[0] = Bytes(23, 'a');
        parts.blocks[1] = Bytes(4097, 'b');
        parts.blocks[3] = Bytes(9000, 'd');
        for (size_t i = 0; i < parts.blocks[3].size(); i++) parts.blocks[3][i] = static_cast<uint8_t>(i * 31 >> 3);
    }
    Bytes Expected() const { return ExpectedSetupFile(program, parts.blocks); }

    Bytes program;
    PackageParts parts;
};

TEST_F(ExtractTest, WritesProgramBlocksAndANewTrailer)
{
    UsePackage(BuildPackage(parts));
    ASSERT_EQ(1, ExtractSecondarySetup());
    EXPECT_EQ(0, bootstrap.failed);
    EXPECT_EQ(Path("_setup0.exe"), HostNativePath(bootstrap.tempSetupPath));
    Bytes written = ReadBytes(Path("_setup0.exe"));
    EXPECT_EQ(Expected(), written);

    PackageTrailer trailer;
    ParseTrailer(written.data() + written.size() - kTrailerSize, &trailer);
    EXPECT_EQ(program.size(), trailer.blocks[0].offset);
    EXPECT_EQ(0u, trailer.blocks[2].offset);
    EXPECT_EQ(0u, trailer.blocks[2].size);
}

TEST_F(ExtractTest, EdgesOfTheLayout)
{
    PackageParts noBlocks;
    noBlocks.stream = parts.stream;
    PackageParts emptyProgram;
    emptyProgram.blocks[2] = Bytes(4096, 'c');
    const struct { const char* name; PackageParts parts; Bytes program; } cases[] = {
        {"all blocks absent", noBlocks, program},
        {"stream at the end of the file: empty program", emptyProgram, {}},
    };
    for (const auto& c : cases) {
        for (const auto& name : Files()) std::remove(Path(name).c_str());
        PackageTrailer trailer;
        Bytes package = BuildPackage(c.parts, &trailer);
        if (c.program.empty()) {  // no stream at all: the offset names the trailer's end
            trailer.programOffset = static_cast<uint32_t>(package.size());
            Bytes bytes = TrailerBytes(trailer);
            std::copy(bytes.begin(), bytes.end(), package.end() - kTrailerSize);
        }
        UsePackage(package);
        ASSERT_EQ(1, ExtractSecondarySetup()) << c.name;
        EXPECT_EQ(ExpectedSetupFile(c.program, c.parts.blocks), ReadBytes(Path("_setup0.exe"))) << c.name;
    }
}

TEST_F(ExtractTest, CopiesInChunksOf4096)
{
    for (uint32_t size : {1u, 4096u, 4097u, 3u * 4096u}) {
        Bytes block(size, 'x');
        WriteBytes(Path("in"), block);
        FILE* input = fopen(Path("in").c_str(), "rb");
        FILE* output = fopen(Path("out").c_str(), "wb");
        fputs("head", output);
        int reads = HostStreamCalls(kHostRead), writes = HostStreamCalls(kHostWrite);
        uint32_t newOffset = 1, newSize = 1;
        EXPECT_EQ(1, CopyBlock(input, output, 0, size, &newOffset, &newSize));
        int chunks = static_cast<int>((size + 4095) / 4096);
        EXPECT_EQ(chunks, HostStreamCalls(kHostRead) - reads) << size;
        EXPECT_EQ(chunks, HostStreamCalls(kHostWrite) - writes) << size;
        EXPECT_EQ(4u, newOffset);
        EXPECT_EQ(size, newSize);
        EXPECT_EQ(1, CopyBlock(input, output, 0, 0, &newOffset, &newSize));
        EXPECT_EQ(0u, newOffset + newSize);
        fclose(input);
        fclose(output);
    }
}

TEST_F(ExtractTest, ABlockPastTheEndLeavesNoFileBehind)
{
    PackageTrailer trailer;
    Bytes package = BuildPackage(parts, &trailer);
    trailer.blocks[3].size += kTrailerSize + 1;  // one byte past the end of the file
    Bytes bytes = TrailerBytes(trailer);
    std::copy(bytes.begin(), bytes.end(), package.end() - kTrailerSize);
    UsePackage(package);
    EXPECT_EQ(0, ExtractSecondarySetup());
    EXPECT_STREQ(kCopyMessage, bootstrap.errorText);
    EXPECT_EQ(std::vector<std::string>{"Setup.exe"}, Files());
}

// Offsets past 2 GiB, in sparse files so that nothing large is written: a package of 3 GiB
// whose block lies at its end, and a setup file whose block ends exactly at 4 GiB.
TEST_F(ExtractTest, OffsetsBeyond2GiBAreReadAndWritten)
{
    const uint64_t blockAt = 0xC0000000ull;
    Bytes block(5000);
    for (size_t i = 0; i < block.size(); i++) block[i] = static_cast<uint8_t>(i * 13);
    PackageTrailer trailer;
    Bytes head = BuildPackage(parts, &trailer);
    head.resize(head.size() - kTrailerSize);
    trailer.blocks[0] = trailer.blocks[1] = trailer.blocks[3] = {0, 0};
    trailer.blocks[2] = {static_cast<uint32_t>(blockAt), static_cast<uint32_t>(block.size())};
    Bytes tail = block;
    Bytes bytes = TrailerBytes(trailer);
    tail.insert(tail.end(), bytes.begin(), bytes.end());
    FILE* file = fopen(Path("Setup.exe").c_str(), "wb");
    ASSERT_EQ(1u, fwrite(head.data(), head.size(), 1, file));
    ASSERT_EQ(0, fseeko(file, static_cast<off_t>(blockAt), SEEK_SET));
    ASSERT_EQ(1u, fwrite(tail.data(), tail.size(), 1, file));
    fclose(file);

    ASSERT_EQ(1, ExtractSecondarySetup());
    Bytes blocks[kBlockCount] = {{}, {}, block, {}};
    EXPECT_EQ(ExpectedSetupFile(program, blocks), ReadBytes(Path("_setup0.exe")));

    FILE* input = fopen(Path("Setup.exe").c_str(), "rb");
    FILE* output = fopen(Path("out").c_str(), "wb");
    ASSERT_EQ(0, fseeko(output, 0xFFFFFF00ll, SEEK_SET));
    uint32_t newOffset, newSize;
    EXPECT_EQ(1, CopyBlock(input, output, static_cast<uint32_t>(blockAt), 0x100, &newOffset, &newSize));
    EXPECT_EQ(0xFFFFFF00u, newOffset);
    EXPECT_EQ(0, CopyBlock(input, output, static_cast<uint32_t>(blockAt), 1, &newOffset, &newSize))
        << "a block that would end past 4 GiB is refused";
    fclose(input);
    fclose(output);
}

// Every read, write and close of the stage made to fail in turn: the stage fails with the
// one copy message and no incomplete setup file remains. (A failing close of the package
// loses nothing, and a failing probe or creation only moves on to the next name.)
TEST_F(ExtractTest, EveryFailedReadWriteOrCloseIsReportedAndCleanedUp)
{
    UsePackage(BuildPackage(parts));
    ASSERT_EQ(1, ExtractSecondarySetup());
    const int reads = HostStreamCalls(kHostRead), writes = HostStreamCalls(kHostWrite);
    ASSERT_GT(reads, 2);
    ASSERT_GT(writes, 2);
    std::remove(Path("_setup0.exe").c_str());

    struct Row { HostStreamOp op; int nth; };
    std::vector<Row> rows;
    for (int n = 2; n <= reads; n++) rows.push_back({kHostRead, n});  // the first read is the trailer's
    for (int n = 1; n <= writes; n++) rows.push_back({kHostWrite, n});
    rows.push_back({kHostClose, 1});  // the output, closed before the package
    for (const Row& row : rows) {
        HostReset();
        memset(&bootstrap, 0, sizeof bootstrap);
        Host().tempPath = directory + "\\";
        Host().moduleFileName = Path("Setup.exe");
        HostFailStreamCall(row.op, row.nth);
        EXPECT_EQ(0, ExtractSecondarySetup()) << row.op << " " << row.nth;
        EXPECT_STREQ(kCopyMessage, bootstrap.errorText) << row.op << " " << row.nth;
        EXPECT_EQ(std::vector<std::string>{"Setup.exe"}, Files()) << row.op << " " << row.nth;
    }
}
