// kivpack's packaging commands, run in-process: the packages build writes, what inspect and
// verify find in damaged ones, extract against the stub's own extraction, and every bad input.
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <map>
#include <sstream>
#include <nlohmann/json.hpp>

#include "host_fixture.h"
#include "package/decoder.h"
#include "package/extract.h"
#include "commands.h"
#include "package_layout.h"
#include "shell/bootstrap.h"

extern const unsigned char kStubImage[];
extern const size_t kStubImage_size;

namespace {

struct Outcome {
    int code;
    std::string out;
    std::string err;
};

// The command line run in this process, as main runs it.
Outcome Kivpack(const std::vector<std::string>& args)
{
    std::ostringstream out, err;
    int code = RunKivpack(args, out, err);
    return {code, out.str(), err.str()};
}

int LineCount(const std::string& text)
{
    return (int)std::count(text.begin(), text.end(), '\n');
}

// An error line against its pattern: equal, or starting with what comes before a final "...",
// or, with "..." at both ends, holding what is between them.
bool Matches(const std::string& pattern, const std::string& line)
{
    const std::string dots = "...";
    auto endsInDots = [&](const std::string& text) {
        return text.size() >= dots.size() && text.compare(text.size() - dots.size(), dots.size(), dots) == 0;
    };
    if (!endsInDots(pattern)) return line == pattern;
    std::string head = pattern.substr(0, pattern.size() - dots.size());
    const std::string prefix = "kivpack: " + dots;
    if (head.compare(0, prefix.size(), prefix) == 0)
        return line.find(head.substr(prefix.size())) != std::string::npos;
    return line.compare(0, head.size(), head) == 0;
}

// A stand-in stub: an image header and filler, `size` bytes.
Bytes FakeStub(size_t size)
{
    Bytes stub(size, 's');
    stub[0] = 'M';
    stub[1] = 'Z';
    return stub;
}

// Bytes with some repetition, so that the encoder finds matches.
Bytes Sample(size_t size, uint8_t seed)
{
    Bytes bytes(size);
    for (size_t i = 0; i < size; i++) bytes[i] = (uint8_t)((i % 97 < 40 ? i % 7 : i * 31) + seed);
    return bytes;
}

PackageTrailer TrailerOf(const Bytes& package)
{
    PackageTrailer trailer;
    ParseTrailer(package.data() + package.size() - kTrailerSize, &trailer);
    return trailer;
}

Bytes DecodeAt(const Bytes& package, uint32_t offset, DecodeResult* result)
{
    std::string path = testing::TempDir() + "/kivpack_decode.bin";
    WriteBytes(path, package);
    FILE* input = fopen(path.c_str(), "rb");
    fseek(input, offset, SEEK_SET);
    FILE* output = tmpfile();
    BitReader* reader = CreateBitReader(input);
    DecodeStream(reader, output, result);
    ReleaseBitReader(reader);
    Bytes decoded(result->decodedSize);
    rewind(output);
    if (!decoded.empty()) {
        EXPECT_EQ(1u, fread(decoded.data(), decoded.size(), 1, output));
    }
    fclose(output);
    fclose(input);
    return decoded;
}

class KivpackTest : public HostTest {
protected:
    // Writes the inputs: program.exe, block1.bin ... for the non-empty blocks, stub.exe.
    std::vector<std::string> WriteInputs(const Bytes& program, const Bytes blocks[kBlockCount],
                                         const Bytes& stub)
    {
        WriteBytes(Path("program.exe"), program);
        WriteBytes(Path("stub.exe"), stub);
        std::vector<std::string> args = {"build", "-o", Path("Setup.exe"), "--program",
                                         Path("program.exe"), "--stub", Path("stub.exe")};
        for (int i = 0; i < kBlockCount; i++) {
            if (blocks[i].empty()) continue;
            std::string name = "block" + std::to_string(i + 1);
            WriteBytes(Path(name + ".bin"), blocks[i]);
            args.insert(args.end(), {"--" + name, Path(name + ".bin")});
        }
        return args;
    }

    // What the stub's own extraction stage writes for the package at `path`, or "failed".
    std::string StubSetupFile(const std::string& path)
    {
        memset(&bootstrap, 0, sizeof bootstrap);
        std::string temp = Path("stubtemp");
        std::filesystem::create_directory(temp);
        Host().tempPath = temp + "\\";
        Host().moduleFileName = path;
        if (!ExtractSecondarySetup()) return "failed";
        Bytes file = ReadBytes(HostNativePath(bootstrap.tempSetupPath));
        std::filesystem::remove_all(temp);
        return std::string(file.begin(), file.end());
    }
};

}  // namespace

TEST(PlanPackage, RefusesWhatTheFormatsOffsetsCannotReach)
{
    const uint64_t kMax = 0xFFFFFFFFull;
    const uint64_t kLargestBlock = 0xFFFFFFF8ull - kTrailerSize - 16;  // package ends at 2^32 - 8
    const struct {
        const char* name;
        PackageSizes sizes;
        const char* refusal;  // null: fits
    } cases[] = {
        {"the largest package", {8, 8, 8, {kLargestBlock, 0, 0, 0}}, nullptr},
        {"one byte more, padded to 2^32", {8, 8, 8, {kLargestBlock + 1, 0, 0, 0}},
         "the package would be 4294967296 bytes"},
        {"blocks over 4 GiB together", {8, 8, 8, {kMax / 2, kMax / 2, 8, 0}}, "the package would be"},
        {"one block of 4 GiB", {8, 8, 8, {0, 0, 0, kMax + 1}}, "a piece of the package would be 4294967296"},
        {"a stream size near 2^64", {8, 8, ~0ull, {0, 0, 0, 0}}, "a piece of the package would be"},
        {"setup file too large", {8, kMax - 100, 8, {200, 0, 0, 0}}, "the temporary setup file would be"},
    };
    for (const auto& c : cases) {
        PackageLayout layout;
        std::string refusal = PlanPackage(c.sizes, &layout);
        if (!c.refusal) {
            EXPECT_EQ("", refusal) << c.name;
            EXPECT_EQ(0u, layout.packageSize % 8) << c.name;
        } else {
            EXPECT_NE(std::string::npos, refusal.find(c.refusal)) << c.name << ": " << refusal;
        }
    }
}

TEST_F(KivpackTest, BuildLaysOutAlignedPackagesThatTheStubExtracts)
{
    Bytes blocks[kBlockCount] = {Sample(4097, 1), Sample(1, 2), {}, Sample(5000, 4)};
    Bytes program = Sample(20000, 9);
    // Stubs of 64 to 71 bytes need each of the eight paddings once.
    for (size_t stubSize = 64; stubSize < 72; stubSize++) {
        Bytes stub = FakeStub(stubSize);
        Outcome run = Kivpack(WriteInputs(program, blocks, stub));
        ASSERT_EQ(0, run.code) << run.err;
        Bytes package = ReadBytes(Path("Setup.exe"));
        ASSERT_EQ(0u, package.size() % 8) << stubSize;

        PackageTrailer trailer = TrailerOf(package);
        EXPECT_TRUE(HasTrailerMagic(&trailer));
        EXPECT_EQ(0, memcmp(package.data(), stub.data(), stub.size()));
        EXPECT_EQ(stubSize, trailer.programOffset);
        EXPECT_EQ(0u, trailer.reserved0 | trailer.reserved1);
        DecodeResult result;
        EXPECT_EQ(program, DecodeAt(package, trailer.programOffset, &result));
        EXPECT_EQ(1, result.endedAtToken);
        EXPECT_EQ(trailer.programPackedSize, result.bytesConsumed);

        uint64_t next = trailer.programOffset + trailer.programPackedSize;  // back to back
        for (int i = 0; i < kBlockCount; i++) {
            const BlockRef& block = trailer.blocks[i];
            if (blocks[i].empty()) {
                EXPECT_EQ(0u, block.offset | block.size) << i;
                continue;
            }
            EXPECT_EQ(next, block.offset) << i;
            EXPECT_EQ(blocks[i], Bytes(package.begin() + block.offset,
                                       package.begin() + block.offset + block.size));
            next = block.offset + block.size;
        }
        EXPECT_LT(package.size() - kTrailerSize - next, 8u);
        EXPECT_EQ(Bytes(package.size() - kTrailerSize - next, 0),
                  Bytes(package.begin() + next, package.end() - kTrailerSize));

        Bytes expected = ExpectedSetupFile(program, blocks);
        EXPECT_EQ(std::string(expected.begin(), expected.end()), StubSetupFile(Path("Setup.exe")));
    }
}

TEST_F(KivpackTest, BuildIsReproducibleAndUsesTheBuiltInStub)
{
    if (kStubImage_size == 0) GTEST_SKIP() << "kivpack was built without a stub";
    WriteBytes(Path("program.exe"), Sample(3000, 5));
    WriteBytes(Path("data.bin"), Sample(100, 6));
    std::vector<Bytes> packages;
    for (const char* name : {"one.exe", "two.exe"}) {
        Outcome run = Kivpack({"build", "-o", Path(name), "--program", Path("program.exe"),
                           "--block3", Path("data.bin"), "--quiet"});
        ASSERT_EQ(0, run.code) << run.err;
        EXPECT_EQ("", run.out + run.err);
        packages.push_back(ReadBytes(Path(name)));
    }
    EXPECT_EQ(packages[0], packages[1]);
    ASSERT_GT(packages[0].size(), kStubImage_size);
    EXPECT_EQ(0, memcmp(packages[0].data(), kStubImage, kStubImage_size));
    EXPECT_EQ(kStubImage_size, TrailerOf(packages[0]).programOffset);
    EXPECT_EQ(0, Kivpack({"verify", Path("one.exe")}).code);
}

// A signed package: the security directory of the image names a certificate table appended
// after the package, as signing tools do.
TEST_F(KivpackTest, SignedPackagesAreInspectedVerifiedAndExtracted)
{
    if (kStubImage_size == 0) GTEST_SKIP() << "kivpack was built without a stub";
    WriteBytes(Path("program.exe"), Sample(5000, 1));
    WriteBytes(Path("block.bin"), Sample(300, 2));
    ASSERT_EQ(0, Kivpack({"build", "-o", Path("Setup.exe"), "--program", Path("program.exe"),
                          "--block2", Path("block.bin")}).code);
    Bytes package = ReadBytes(Path("Setup.exe"));
    uint32_t headers = GetLe32(package.data() + 0x3C);
    ASSERT_EQ(0x10Bu, GetLe32(package.data() + headers + 24) & 0xFFFF) << "a PE32 stub";
    uint8_t* security = package.data() + headers + 24 + 96 + 4 * 8;
    PutLe32(security, (uint32_t)package.size());
    PutLe32(security + 4, 1024);
    Bytes signedPackage = package;
    signedPackage.resize(package.size() + 1024, 0x30);
    WriteBytes(Path("Signed.exe"), signedPackage);

    Outcome inspect = Kivpack({"inspect", "--json", Path("Signed.exe")});
    ASSERT_EQ(0, inspect.code) << inspect.err;
    nlohmann::json report = nlohmann::json::parse(inspect.out);
    EXPECT_TRUE(report["signed"].get<bool>());
    EXPECT_EQ(package.size(), report["certificateTable"]["offset"].get<uint64_t>());
    EXPECT_EQ(1024u, report["certificateTable"]["size"].get<uint64_t>());
    EXPECT_EQ(package.size() - kTrailerSize, report["trailer"]["offset"].get<uint64_t>());
    EXPECT_EQ(0u, report["warnings"].size());

    EXPECT_EQ(0, Kivpack({"verify", Path("Signed.exe")}).code);
    ASSERT_EQ(0, Kivpack({"extract", Path("Signed.exe"), "-o", Path("signed.bin")}).code);
    ASSERT_EQ(0, Kivpack({"extract", Path("Setup.exe"), "-o", Path("unsigned.bin")}).code);
    EXPECT_EQ(ReadBytes(Path("unsigned.bin")), ReadBytes(Path("signed.bin")));
}

TEST_F(KivpackTest, InspectShowsEveryPieceAsTextAndAsJson)
{
    Bytes blocks[kBlockCount] = {Sample(23, 1), {}, {}, Sample(4, 4)};
    Bytes program = Sample(2000, 3);
    ASSERT_EQ(0, Kivpack(WriteInputs(program, blocks, FakeStub(100))).code);
    PackageTrailer trailer = TrailerOf(ReadBytes(Path("Setup.exe")));
    uint64_t size = ReadBytes(Path("Setup.exe")).size();

    Outcome json = Kivpack({"inspect", Path("Setup.exe"), "--json"});
    ASSERT_EQ(0, json.code) << json.err;
    nlohmann::json report = nlohmann::json::parse(json.out);
    EXPECT_EQ(size, report["fileSize"].get<uint64_t>());
    EXPECT_EQ(100u, report["stub"]["size"].get<uint64_t>());
    EXPECT_EQ(100u, report["program"]["offset"].get<uint64_t>());
    EXPECT_EQ(trailer.programPackedSize, report["program"]["packedSize"].get<uint64_t>());
    EXPECT_EQ(2000u, report["program"]["decodedSize"].get<uint64_t>());
    EXPECT_DOUBLE_EQ(trailer.programPackedSize / 2000.0, report["program"]["ratio"].get<double>());
    EXPECT_TRUE(report["program"]["endToken"].get<bool>());
    EXPECT_EQ(trailer.blocks[3].offset, report["blocks"][3]["offset"].get<uint64_t>());
    EXPECT_EQ(4u, report["blocks"][3]["size"].get<uint64_t>());
    EXPECT_FALSE(report["blocks"][1]["present"].get<bool>());
    EXPECT_EQ("KivSetup", report["trailer"]["magic"].get<std::string>());
    EXPECT_FALSE(report["signed"].get<bool>());
    EXPECT_EQ(2000u + 23 + 4 + kTrailerSize, report["setupFileSize"].get<uint64_t>());
    EXPECT_TRUE(report["sound"].get<bool>());

    Outcome text = Kivpack({"inspect", Path("Setup.exe")});
    ASSERT_EQ(0, text.code);
    const std::string expectedLines[] = {
        "stub            100 bytes\n",
        "program stream  at 100, " + std::to_string(trailer.programPackedSize) + " bytes\n",
        "block 1         at " + std::to_string(trailer.blocks[0].offset) + ", 23 bytes\n",
        "block 2         absent\n",
        "signed          no\n",
        "warnings        none\n",
    };
    for (const std::string& line : expectedLines)
        EXPECT_NE(std::string::npos, text.out.find(line)) << line << "in\n" << text.out;
}

// Each damaged package: what verify reports (one line per fault), that inspect shows the same
// as warnings, and that extract writes exactly what the stub writes, or fails where it fails.
TEST_F(KivpackTest, VerifyFindsEveryFaultAndExtractMatchesTheStub)
{
    PackageParts parts;
    parts.image = FakeStub(64);
    parts.stream = LiteralStream(Sample(50, 1));
    parts.blocks[0] = Sample(40, 2);
    parts.blocks[1] = Sample(30, 3);
    PackageTrailer good;
    Bytes base = BuildPackage(parts, &good);
    const uint32_t length = (uint32_t)base.size();
    const uint32_t trailerAt = length - kTrailerSize;
    const BlockRef first = good.blocks[0];

    const struct {
        const char* name;
        std::function<void(PackageTrailer&, Bytes&)> damage;
        std::vector<std::string> faults;
        bool stubFails;
    } cases[] = {
        {"sound", [](PackageTrailer&, Bytes&) {}, {}, false},
        {"block past the end", [](PackageTrailer& t, Bytes&) { t.blocks[1].size += 100; },
         {"block 2 at " + std::to_string(good.blocks[1].offset) + " (130 bytes) runs past the end "
          "of the file (" + std::to_string(length) + " bytes)"}, true},
        {"block starting past the end", [](PackageTrailer& t, Bytes&) { t.blocks[3] = {0x7FFFFFFF, 1}; },
         {"block 4 at 2147483647 starts past the end of the file"}, true},
        {"size wrapping around 32 bits", [](PackageTrailer& t, Bytes&) { t.blocks[2] = {10, 0xFFFFFFFF}; },
         {"block 3 at 10 (4294967295 bytes) runs past the end",
          "the temporary setup file would be"}, true},
        {"blocks overlapping", [&](PackageTrailer& t, Bytes&) { t.blocks[2] = {first.offset + 39, 2}; },
         {"block 1 at " + std::to_string(first.offset) + " (40 bytes) and block 3 at " +
          std::to_string(first.offset + 39) + " (2 bytes) overlap",
          "block 2 at " + std::to_string(first.offset + 40) + " (30 bytes) and block 3 at"}, false},
        {"block inside the trailer", [&](PackageTrailer& t, Bytes&) { t.blocks[3] = {trailerAt + 4, 8}; },
         {"block 4 at " + std::to_string(trailerAt + 4) + " (8 bytes) and the trailer at " +
          std::to_string(trailerAt) + " (56 bytes) overlap"}, false},
        {"packed size too large", [](PackageTrailer& t, Bytes&) { t.programPackedSize += 1; },
         {"the program stream ends after " + std::to_string(parts.stream.size()) + " bytes, not after the " +
          std::to_string(parts.stream.size() + 1) + " that programPackedSize gives",
          "the program stream at 64 (" + std::to_string(parts.stream.size() + 1) + " bytes) and block 1 at"},
         false},
        {"stream without end token", [&](PackageTrailer& t, Bytes&) { t.programOffset = length - 8;
                                                                      t.programPackedSize = 0; },
         {"the program stream has no end token"}, false},
        {"stream that decodes to nothing", [&](PackageTrailer& t, Bytes& p) {
             p[t.programOffset] = 0; p[t.programOffset + 1] = 0; t.programPackedSize = 2;
             t.blocks[0] = t.blocks[1] = {0, 0}; },
         {"the program stream decodes to nothing"}, false},
        {"stream starting past the end", [](PackageTrailer& t, Bytes&) { t.programOffset = 0xFFFFFFF0; },
         {"the program stream at 4294967280 starts past the end"}, false},
        {"empty stream past the end", [&](PackageTrailer& t, Bytes&) { t.programOffset = length;
                                                                     t.programPackedSize = 0; },
         {"the program stream at " + std::to_string(length) + " starts past the end of the file (" +
          std::to_string(length) + " bytes)"}, false},
        {"reserved fields", [](PackageTrailer& t, Bytes&) { t.reserved0 = 0xDEADBEEF; t.reserved1 = 1; },
         {"reserved0 holds 0xDEADBEEF, not 0", "reserved1 holds 0x00000001, not 0"}, false},
        {"no executable image", [](PackageTrailer&, Bytes& p) { p[0] = 'I'; },
         {"the file does not start with a Windows executable image"}, false},
    };
    for (const auto& c : cases) {
        PackageTrailer trailer = good;
        Bytes package = base;
        c.damage(trailer, package);
        FormatTrailer(&trailer, package.data() + trailerAt);
        WriteBytes(Path("Setup.exe"), package);

        Outcome verify = Kivpack({"verify", Path("Setup.exe")});
        EXPECT_EQ(c.faults.empty() ? 0 : 1, verify.code) << c.name;
        EXPECT_EQ((int)c.faults.size(), LineCount(verify.err)) << c.name << ":\n" << verify.err;
        Outcome inspect = Kivpack({"inspect", Path("Setup.exe")});
        EXPECT_EQ(0, inspect.code) << c.name;
        for (const std::string& fault : c.faults) {
            EXPECT_NE(std::string::npos, verify.err.find("kivpack: '" + Path("Setup.exe") + "': " + fault))
                << c.name << ": " << fault << "\nin\n" << verify.err;
            EXPECT_NE(std::string::npos, inspect.out.find("warning         " + fault))
                << c.name << ": " << fault;
        }

        std::string stub = StubSetupFile(Path("Setup.exe"));
        EXPECT_EQ(c.stubFails, stub == "failed") << c.name;
        Outcome extract = Kivpack({"extract", Path("Setup.exe"), "-o", Path("setup.bin"), "--quiet"});
        EXPECT_EQ(c.stubFails ? 1 : 0, extract.code) << c.name << extract.err;
        if (c.stubFails) {
            EXPECT_FALSE(FileExists(Path("setup.bin"))) << c.name;
            EXPECT_EQ(1, LineCount(extract.err)) << c.name;
        } else {
            Bytes written = ReadBytes(Path("setup.bin"));
            EXPECT_EQ(stub, std::string(written.begin(), written.end())) << c.name;
        }
        std::filesystem::remove(Path("setup.bin"));
    }
}

TEST_F(KivpackTest, ExtractWritesTheSetupFileAndTheParts)
{
    Bytes blocks[kBlockCount] = {{}, Sample(10, 2), Sample(4096, 3), {}};
    Bytes program = Sample(7000, 4);
    ASSERT_EQ(0, Kivpack(WriteInputs(program, blocks, FakeStub(80))).code);

    Outcome run = Kivpack({"extract", Path("Setup.exe"), "-o", Path("setup.bin"), "--parts", Path("parts")});
    ASSERT_EQ(0, run.code) << run.err;
    EXPECT_EQ(ExpectedSetupFile(program, blocks), ReadBytes(Path("setup.bin")));
    EXPECT_EQ(program, ReadBytes(Path("parts/program.exe")));
    EXPECT_EQ(blocks[1], ReadBytes(Path("parts/block2.bin")));
    EXPECT_EQ(blocks[2], ReadBytes(Path("parts/block3.bin")));
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(Path("parts")))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(std::vector<std::string>({"block2.bin", "block3.bin", "program.exe"}), names);
}

// Every bad input: one line on stderr naming the file and the reason, exit 1 or 2, no output
// and no temporary file left behind, every input unchanged.
TEST_F(KivpackTest, BadInputIsRefusedAndLosesNothing)
{
    Bytes program = Sample(3000, 1);
    WriteBytes(Path("program.exe"), program);
    WriteBytes(Path("empty.bin"), {});
    WriteBytes(Path("stub.exe"), FakeStub(64));
    WriteBytes(Path("notes.txt"), Bytes(200, 'n'));
    std::filesystem::create_directory(Path("folder"));
    std::string stub = Path("stub.exe");
    ASSERT_EQ(0, Kivpack({"build", "-o", Path("good.exe"), "--program", Path("program.exe"),
                          "--block1", Path("notes.txt"), "--stub", stub}).code);
    Bytes good = ReadBytes(Path("good.exe"));
    WriteBytes(Path("cut.exe"), Bytes(good.begin(), good.end() - 1));
    WriteBytes(Path("short.exe"), Bytes(good.end() - 40, good.end()));
    Bytes damaged = good;
    PutLe32(damaged.data() + damaged.size() - kTrailerSize + 16, 0xFFFFFFF0);  // block 1 offset
    WriteBytes(Path("damaged.exe"), damaged);
    ASSERT_EQ(0, symlink(Path("program.exe").c_str(), Path("link.exe").c_str()));
    ASSERT_EQ(0, link(Path("notes.txt").c_str(), Path("hardlink.txt").c_str()));
    // A block of 4 GiB that takes no room: refused before anything is read or written.
    {
        FILE* sparse = fopen(Path("huge.bin").c_str(), "wb");
        ASSERT_EQ(0, ftruncate(fileno(sparse), (off_t)0x100000000ll));
        fclose(sparse);
    }
    const std::string out = Path("out.exe");
    const std::string prog = Path("program.exe");

    const struct {
        std::vector<std::string> args;
        int code;
        std::string message;   // the line after "kivpack: ", as a pattern of Matches()
        HostStreamOp failOp;   // kHostOpCount: no injected failure
        int failNth;
    } cases[] = {
        {{"build", "-o", out, "--program", Path("missing.exe"), "--stub", stub}, 1,
         "cannot read '" + Path("missing.exe") + "': No such file or directory", kHostOpCount, 0},
        {{"build", "-o", out, "--program", Path("folder"), "--stub", stub}, 1,
         "cannot read '" + Path("folder") + "': Is a directory", kHostOpCount, 0},
        {{"build", "-o", out, "--program", prog, "--block2", Path("notes.txt"), "--stub", stub}, 1,
         "cannot read '" + Path("notes.txt") + "': Permission denied", kHostOpen, 3},
        {{"build", "-o", out, "--program", Path("empty.bin"), "--stub", stub}, 1,
         "'" + Path("empty.bin") + "' is empty: a package needs a program", kHostOpCount, 0},
        {{"build", "-o", out, "--program", prog, "--stub", Path("notes.txt")}, 1,
         "'" + Path("notes.txt") + "' is not a Windows executable image", kHostOpCount, 0},
        {{"build", "-o", Path("folder"), "--program", prog, "--stub", stub}, 1,
         "cannot write '" + Path("folder") + "': Is a directory", kHostOpCount, 0},
        {{"build", "-o", Path("nodir/out.exe"), "--program", prog, "--stub", stub}, 1,
         "cannot write '" + Path("nodir/out.exe") + "': No such file or directory", kHostOpCount, 0},
        {{"build", "-o", prog, "--program", prog, "--stub", stub}, 2,
         "'" + prog + "' is also an input ('" + prog + "'): the output must be a file of its own",
         kHostOpCount, 0},
        {{"build", "-o", Path("link.exe"), "--program", prog, "--stub", stub}, 2,
         "'" + Path("link.exe") + "' is also an input ('" + prog + "')...", kHostOpCount, 0},
        {{"build", "-o", Path("./hardlink.txt"), "--program", prog, "--block4", Path("notes.txt"),
          "--stub", stub}, 2, "'" + Path("./hardlink.txt") + "' is also an input...", kHostOpCount, 0},
        {{"build", "-o", out, "--program", prog, "--block4", Path("huge.bin"), "--stub", stub}, 1,
         "cannot build '" + out + "': a piece of the package would be 4294967296 bytes...",
         kHostOpCount, 0},
        {{"build", "-o", out, "--program", prog, "--stub", stub}, 1,
         "cannot write '" + out + "': No space left on device", kHostWrite, 2},
        {{"build", "-o", out, "--program", prog, "--stub", stub}, 1,
         "cannot write '" + out + "': ...", kHostClose, 1},
        {{"build", "--program", prog}, 2, "...-o...", kHostOpCount, 0},
        {{"build", "-o", out, "--program", prog, "--block5", prog}, 2, "...--block5...", kHostOpCount, 0},
        {{"inspect", Path("missing.exe")}, 1,
         "cannot read '" + Path("missing.exe") + "': No such file or directory", kHostOpCount, 0},
        {{"inspect", Path("empty.bin")}, 1,
         "'" + Path("empty.bin") + "' is not a package: it does not end in a KivSetup trailer",
         kHostOpCount, 0},
        {{"verify", Path("cut.exe")}, 1, "'" + Path("cut.exe") + "' is not a package...", kHostOpCount, 0},
        {{"verify", Path("short.exe")}, 1, "'" + Path("short.exe") + "' is not a package...", kHostOpCount, 0},
        {{"verify", Path("folder")}, 1, "cannot read '" + Path("folder") + "': Is a directory",
         kHostOpCount, 0},
        {{"verify", Path("good.exe")}, 1, "cannot read '" + Path("good.exe") + "': ...", kHostRead, 1},
        {{"extract", Path("notes.txt"), "-o", out}, 1, "'" + Path("notes.txt") + "' is not a package...",
         kHostOpCount, 0},
        {{"extract", Path("damaged.exe"), "-o", out, "--parts", Path("parts")}, 1,
         "cannot extract '" + Path("damaged.exe") + "': block 1 at 4294967280 starts past the end...",
         kHostOpCount, 0},
        {{"extract", Path("good.exe"), "-o", Path("good.exe")}, 2,
         "'" + Path("good.exe") + "' is also an input...", kHostOpCount, 0},
        {{"extract", Path("good.exe"), "-o", out, "--parts", Path("parts")}, 1,
         "cannot write '" + Path("parts/block1.bin") + "': No space left on device", kHostWrite, 5},
        {{"extract", Path("good.exe"), "-o", Path("parts/program.exe"), "--parts", Path("parts")}, 2,
         "'" + Path("parts/program.exe") + "' is also one of the parts", kHostOpCount, 0},
        {{"extract", Path("good.exe"), "-o", out, "--parts", Path("notes.txt")}, 1,
         "cannot create '" + Path("notes.txt") + "'...", kHostOpCount, 0},
        {{"extract", Path("good.exe")}, 2, "...-o...", kHostOpCount, 0},
    };
    std::vector<std::string> before = Files();
    std::map<std::string, Bytes> contents;
    for (const std::string& name : before)
        if (name != "folder" && name != "huge.bin") contents[name] = ReadBytes(Path(name));

    for (const auto& c : cases) {
        std::string line;
        for (const std::string& arg : c.args) line += arg + " ";
        HostReset();
        if (c.failOp != kHostOpCount) HostFailStreamCall(c.failOp, c.failNth);
        Outcome run = Kivpack(c.args);
        HostReset();
        EXPECT_EQ(c.code, run.code) << line << "\n" << run.err;
        EXPECT_EQ("", run.out) << line;
        ASSERT_EQ(1, LineCount(run.err)) << line << "\n" << run.err;
        std::string message = run.err.substr(0, run.err.size() - 1);
        EXPECT_TRUE(Matches("kivpack: " + c.message, message)) << line << "\n" << message;
        EXPECT_EQ(before, Files()) << line;
        for (const auto& file : contents) EXPECT_EQ(file.second, ReadBytes(Path(file.first))) << line;
    }
}
