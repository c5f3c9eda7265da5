// The 56-byte record at the end of a package and of the temporary setup file, and the
// check that opens the package.
#pragma once

#include <stdint.h>
#include <stdio.h>

constexpr int kTrailerSize = 56;
constexpr int kBlockCount = 4;
constexpr char kTrailerMagic[8] = {'K', 'i', 'v', 'S', 'e', 't', 'u', 'p'};

// A data block: absolute offset of its first byte in the file that holds the trailer, and its
// size. A size of 0 means the block is absent; its offset is then not read.
struct BlockRef {
    uint32_t offset;
    uint32_t size;
};

// Every integer unsigned, 32 bits, little-endian on disk; parsed field by field.
struct PackageTrailer {
    uint32_t programOffset;      // where the program stream starts; 0 in the setup file
    uint32_t programPackedSize;  // the stream's length; never read by the stub
    uint32_t reserved0;
    uint32_t reserved1;
    BlockRef blocks[kBlockCount];
    uint8_t magic[8];            // "KivSetup", no terminator
};
static_assert(sizeof(PackageTrailer) == kTrailerSize, "the trailer is 56 bytes on disk");

uint32_t GetLe32(const uint8_t* bytes);
void PutLe32(uint8_t* bytes, uint32_t value);
void ParseTrailer(const uint8_t* bytes, PackageTrailer* trailer);
void FormatTrailer(const PackageTrailer* trailer, uint8_t* bytes);
int HasTrailerMagic(const PackageTrailer* trailer);

// Where a package's trailer was found. A signed package carries its certificate table after
// the trailer, named by the security directory of the image's headers.
struct TrailerPlace {
    uint64_t fileLength;
    uint64_t trailerOffset;
    int isSigned;                 // the trailer stands before a certificate table
    uint32_t certificateOffset;   // valid when isSigned
    uint32_t certificateSize;
};

// Finds the trailer of an open package: the last 56 bytes, or else, in a signed package, the
// 56 bytes before its certificate table (after up to 7 zero bytes of alignment). Returns 1 if
// a trailer with the magic was found; otherwise the trailer comes back zeroed. `place` may be null.
int FindTrailer(FILE* package, PackageTrailer* trailer, TrailerPlace* place);

// Opens the program's own file and checks its trailer. Returns the stream positioned at
// programOffset with `shortPackagePath` set, or null after reporting why. The caller closes it.
FILE* OpenPackage(PackageTrailer* trailer);
