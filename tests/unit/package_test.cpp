// The trailer record and the package check.
#include <string.h>

#include "host_fixture.h"
#include "package/trailer.h"
#include "shell/bootstrap.h"

TEST(PackageTrailer, ParsesLittleEndianFieldsAndFormatsThemBack)
{
    Bytes bytes(kTrailerSize);
    for (int i = 0; i < kTrailerSize; i++) bytes[i] = static_cast<uint8_t>(i + 1);
    PackageTrailer trailer;
    ParseTrailer(bytes.data(), &trailer);
    EXPECT_EQ(0x04030201u, trailer.programOffset);
    EXPECT_EQ(0x08070605u, trailer.programPackedSize);
    EXPECT_EQ(0x14131211u, trailer.blocks[0].offset);  // bytes 16..19 hold 17..20
    EXPECT_EQ(0x18171615u, trailer.blocks[0].size);
    EXPECT_EQ(0x302f2e2du, trailer.blocks[3].size);
    EXPECT_EQ(0, memcmp(trailer.magic, bytes.data() + 48, 8));
    EXPECT_EQ(bytes, TrailerBytes(trailer));
}

class OpenPackageTest : public HostTest {
protected:
    FILE* Open(PackageTrailer* trailer) { return OpenPackage(trailer); }

    // The package is refused with the one message.
    void ExpectDamaged(const Bytes& package, const std::string& name)
    {
        memset(&bootstrap, 0, sizeof bootstrap);
        UsePackage(package);
        PackageTrailer trailer;
        EXPECT_EQ(nullptr, Open(&trailer)) << name;
        EXPECT_STREQ("Setup.exe is damaged.", bootstrap.errorText) << name;
    }
};

TEST_F(OpenPackageTest, LeavesTheStreamAtTheProgramAndTakesTheShortPath)
{
    PackageParts parts;
    parts.stream = {0xA6, 0xD6, 0xB2};
    parts.blocks[1] = {1, 2, 3};
    PackageTrailer expected;
    UsePackage(BuildPackage(parts, &expected));
    Host().shortPath = "C:\\SETUP~1.EXE";

    PackageTrailer trailer;
    FILE* package = Open(&trailer);
    ASSERT_NE(nullptr, package);
    EXPECT_EQ(0, bootstrap.failed);
    EXPECT_EQ(TrailerBytes(expected), TrailerBytes(trailer));
    EXPECT_EQ(0xA6, fgetc(package));
    EXPECT_STREQ("C:\\SETUP~1.EXE", bootstrap.shortPackagePath);
    fclose(package);
}

TEST_F(OpenPackageTest, AnyValueInTheUnreadFieldsAndAnyOffsetOpens)
{
    for (uint32_t value : {0u, 1u, 0x7fffffffu, 0xffffffffu}) {
        PackageParts parts;
        PackageTrailer trailer;
        Bytes package = BuildPackage(parts, &trailer);
        trailer.programPackedSize = trailer.reserved0 = trailer.reserved1 = value;
        trailer.programOffset = value;  // at or past the end is not checked here
        Bytes bytes = TrailerBytes(trailer);
        std::copy(bytes.begin(), bytes.end(), package.end() - kTrailerSize);
        UsePackage(package);
        FILE* stream = Open(&trailer);
        ASSERT_NE(nullptr, stream) << value;
        EXPECT_EQ(value, trailer.reserved1);
        fclose(stream);
    }
    EXPECT_EQ(0, bootstrap.failed);
}

TEST_F(OpenPackageTest, AnyDifferenceInTheMagicIsDamage)
{
    Bytes good = BuildPackage(PackageParts());
    const struct { const char* name; Bytes package; } cases[] = {
        {"empty file", {}},
        {"shorter than a trailer", Bytes(good.end() - 55, good.end())},
        {"magic only", Bytes(good.end() - 8, good.end())},
        {"image alone", Bytes(4096, 'M')},
    };
    for (const auto& c : cases) {
        ExpectDamaged(c.package, c.name);
        EXPECT_STREQ("", bootstrap.shortPackagePath) << c.name;  // taken only after the check
    }
    for (size_t at = good.size() - 8; at < good.size(); at++) {
        for (uint8_t flip : {0x01, 0x20, 0x80}) {
            Bytes package = good;
            package[at] ^= flip;
            ExpectDamaged(package, "magic byte " + std::to_string(at));
        }
    }
    EXPECT_EQ(HostStreamCalls(kHostOpen), HostStreamCalls(kHostClose));  // every package closed
}

TEST_F(OpenPackageTest, AnUnreadableFileIsNamedInFull)
{
    Host().moduleFileName = Path("missing\\Setup.exe");
    PackageTrailer trailer;
    EXPECT_EQ(nullptr, Open(&trailer));
    EXPECT_EQ("Cannot open " + Path("missing\\Setup.exe") + ".", bootstrap.errorText);

    memset(&bootstrap, 0, sizeof bootstrap);
    UsePackage(BuildPackage(PackageParts()));
    Host().moduleFileName = Path("Setup.exe");
    HostFailStreamCall(kHostOpen, HostStreamCalls(kHostOpen) + 1);
    EXPECT_EQ(nullptr, Open(&trailer));
    EXPECT_EQ("Cannot open " + Path("Setup.exe") + ".", bootstrap.errorText);
}

TEST_F(OpenPackageTest, ATrailerThatCannotBeReadIsDamage)
{
    UsePackage(BuildPackage(PackageParts()));
    HostFailStreamCall(kHostRead, 1);
    PackageTrailer trailer;
    EXPECT_EQ(nullptr, Open(&trailer));
    EXPECT_STREQ("Setup.exe is damaged.", bootstrap.errorText);
}

TEST_F(OpenPackageTest, AShortPathThatCannotBeHadStaysEmpty)
{
    UsePackage(BuildPackage(PackageParts()));
    Host().shortPathFails = true;
    PackageTrailer trailer;
    FILE* package = Open(&trailer);
    ASSERT_NE(nullptr, package);
    EXPECT_STREQ("", bootstrap.shortPackagePath);
    fclose(package);

    Host().shortPathFails = false;
    Host().shortPath = std::string(300, 'S');  // longer than its buffer: not taken half
    package = Open(&trailer);
    ASSERT_NE(nullptr, package);
    EXPECT_STREQ("", bootstrap.shortPackagePath);
    fclose(package);
}

// A signed package: the image's headers name a certificate table at the end of the file,
// after the trailer and the zeros that align the table to 8 bytes.
namespace {

Bytes ImageWithSecurityDirectory(uint32_t tableOffset, uint32_t tableSize, uint16_t magic = 0x10B)
{
    Bytes image(512, 0);
    image[0] = 'M';
    image[1] = 'Z';
    PutLe32(&image[0x3C], 0x80);
    memcpy(&image[0x80], "PE\0\0", 4);
    uint32_t optional = 0x80 + 24, directories = magic == 0x10B ? 96 : 112;
    image[0x80 + 20] = static_cast<uint8_t>(directories + 16 * 8);  // SizeOfOptionalHeader
    image[optional] = static_cast<uint8_t>(magic);
    image[optional + 1] = static_cast<uint8_t>(magic >> 8);
    PutLe32(&image[optional + directories - 4], 16);  // NumberOfRvaAndSizes
    PutLe32(&image[optional + directories + 32], tableOffset);
    PutLe32(&image[optional + directories + 36], tableSize);
    return image;
}

Bytes SignedPackage(int padding, uint16_t magic = 0x10B)
{
    PackageParts parts;
    parts.stream = LiteralStream({'M', 'Z'});
    parts.blocks[0] = {7, 7, 7};
    parts.image = ImageWithSecurityDirectory(0, 0, magic);
    Bytes package = BuildPackage(parts);
    uint32_t tableOffset = static_cast<uint32_t>(package.size() + padding);
    package.resize(tableOffset, 0);
    Bytes table(40, 0xCE);
    package.insert(package.end(), table.begin(), table.end());
    Bytes headers = ImageWithSecurityDirectory(tableOffset, 40, magic);
    std::copy(headers.begin(), headers.end(), package.begin());
    return package;
}

}  // namespace

TEST_F(OpenPackageTest, FindsTheTrailerOfASignedPackage)
{
    for (int padding = 0; padding < 8; padding++) {
        for (uint16_t magic : {0x10B, 0x20B}) {
            memset(&bootstrap, 0, sizeof bootstrap);
            UsePackage(SignedPackage(padding, magic));
            PackageTrailer trailer;
            FILE* package = Open(&trailer);
            ASSERT_NE(nullptr, package) << padding;
            EXPECT_EQ(512u, trailer.programOffset);
            EXPECT_EQ(3u, trailer.blocks[0].size);
            fclose(package);

            FILE* file = fopen(Path("Setup.exe").c_str(), "rb");
            TrailerPlace place;
            ASSERT_EQ(1, FindTrailer(file, &trailer, &place));
            EXPECT_EQ(1, place.isSigned);
            EXPECT_EQ(40u, place.certificateSize);
            EXPECT_EQ(place.certificateOffset - padding - kTrailerSize, place.trailerOffset);
            fclose(file);
        }
    }
}

TEST_F(OpenPackageTest, ASignedPackageWithoutAnIntactTrailerIsDamaged)
{
    const Bytes signedPackage = SignedPackage(4);
    const uint32_t tableOffset = static_cast<uint32_t>(signedPackage.size() - 40);
    auto withHeaders = [&](uint32_t offset, uint32_t size) {
        Bytes package = signedPackage;
        Bytes headers = ImageWithSecurityDirectory(offset, size);
        std::copy(headers.begin(), headers.end(), package.begin());
        return package;
    };
    Bytes flippedMagic = signedPackage;
    flippedMagic[tableOffset - 4 - 1] ^= 0x01;
    Bytes dirtyPadding = signedPackage;
    dirtyPadding[tableOffset - 1] = 1;
    Bytes noHeaders = signedPackage;
    noHeaders[0] = 'X';
    Bytes farHeaders = signedPackage;
    PutLe32(&farHeaders[0x3C], 0xFFFFFFF0u);  // headers "beyond" the file: no overflow
    const struct { const char* name; Bytes package; } cases[] = {
        {"flipped magic byte", flippedMagic},
        {"padding not zero", dirtyPadding},
        {"no image headers", noHeaders},
        {"headers past the end", farHeaders},
        {"table not at the end", withHeaders(tableOffset - 8, 40)},
        {"table size wrapping", withHeaders(tableOffset, 0xFFFFFFFFu)},
        {"table of size 0", withHeaders(static_cast<uint32_t>(signedPackage.size()), 0)},
        {"table at the start", withHeaders(0, static_cast<uint32_t>(signedPackage.size()))},
    };
    for (const auto& c : cases) ExpectDamaged(c.package, c.name);
}
