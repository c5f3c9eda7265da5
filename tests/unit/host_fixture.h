// A fresh host layer, bootstrap state and scratch directory for each test, and small
// builders of program streams and packages.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "host/host_control.h"
#include "package/trailer.h"

using Bytes = std::vector<uint8_t>;

Bytes ReadBytes(const std::string& path);
void WriteBytes(const std::string& path, const Bytes& bytes);
bool FileExists(const std::string& path);

// A program stream of literals only, closed by the end token.
Bytes LiteralStream(const Bytes& program);

// The bytes of a package: a stand-in image, the stream, the blocks (empty: absent), a trailer.
struct PackageParts {
    Bytes image = Bytes(64, 'I');
    Bytes stream;
    Bytes blocks[kBlockCount];
};
Bytes BuildPackage(const PackageParts& parts, PackageTrailer* trailer = nullptr);
Bytes TrailerBytes(const PackageTrailer& trailer);

// The file the extraction must write for a program and blocks: program, blocks, trailer.
Bytes ExpectedSetupFile(const Bytes& program, const Bytes blocks[kBlockCount]);

class HostTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    std::string Path(const std::string& name) const { return directory + "/" + name; }
    std::vector<std::string> Files() const;   // names in the scratch directory, sorted
    void UsePackage(const Bytes& package);     // written as Setup.exe, the program's own file

    std::string directory;
};
