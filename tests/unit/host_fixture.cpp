// The host test fixture and its builders.
#include "host_fixture.h"

#include <dirent.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "shell/bootstrap.h"
#include "token_writer.h"

Bytes ReadBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteBytes(const std::string& path, const Bytes& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

bool FileExists(const std::string& path) { return std::filesystem::exists(path); }

Bytes LiteralStream(const Bytes& program)
{
    TokenWriter writer;
    for (uint8_t byte : program) writer.Literal(byte);
    return writer.End().Done();
}

Bytes TrailerBytes(const PackageTrailer& trailer)
{
    Bytes bytes(kTrailerSize);
    FormatTrailer(&trailer, bytes.data());
    return bytes;
}

Bytes BuildPackage(const PackageParts& parts, PackageTrailer* trailerOut)
{
    PackageTrailer trailer = PackageTrailer();
    Bytes package = parts.image;
    trailer.programOffset = static_cast<uint32_t>(package.size());
    trailer.programPackedSize = static_cast<uint32_t>(parts.stream.size());
    package.insert(package.end(), parts.stream.begin(), parts.stream.end());
    for (int i = 0; i < kBlockCount; i++) {
        if (parts.blocks[i].empty()) continue;
        trailer.blocks[i] = {static_cast<uint32_t>(package.size()), static_cast<uint32_t>(parts.blocks[i].size())};
        package.insert(package.end(), parts.blocks[i].begin(), parts.blocks[i].end());
    }
    memcpy(trailer.magic, kTrailerMagic, sizeof trailer.magic);
    Bytes bytes = TrailerBytes(trailer);
    package.insert(package.end(), bytes.begin(), bytes.end());
    if (trailerOut) *trailerOut = trailer;
    return package;
}

Bytes ExpectedSetupFile(const Bytes& program, const Bytes blocks[kBlockCount])
{
    PackageTrailer trailer = PackageTrailer();
    Bytes file = program;
    for (int i = 0; i < kBlockCount; i++) {
        if (blocks[i].empty()) continue;
        trailer.blocks[i] = {static_cast<uint32_t>(file.size()), static_cast<uint32_t>(blocks[i].size())};
        file.insert(file.end(), blocks[i].begin(), blocks[i].end());
    }
    memcpy(trailer.magic, kTrailerMagic, sizeof trailer.magic);
    Bytes bytes = TrailerBytes(trailer);
    file.insert(file.end(), bytes.begin(), bytes.end());
    return file;
}

void HostTest::SetUp()
{
    HostReset();
    memset(&bootstrap, 0, sizeof bootstrap);
    char pattern[] = "/tmp/kivtest.XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    directory = pattern;
    Host().tempPath = directory + "\\";
    Host().moduleFileName = Path("Setup.exe");
}

void HostTest::TearDown() { std::filesystem::remove_all(directory); }

std::vector<std::string> HostTest::Files() const
{
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(directory))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

void HostTest::UsePackage(const Bytes& package) { WriteBytes(Path("Setup.exe"), package); }
