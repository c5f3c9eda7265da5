// Where `kivpack build` places the pieces of a package, and the limits of the format's
// 32-bit offsets and sizes.
#pragma once

#include <cstdint>
#include <string>

#include "package/trailer.h"

// The image and the stream start at 0 and at the image's end; the blocks follow in the order
// 1 to 4, then zero bytes up to a multiple of 8, then the trailer. Signing tools align the
// certificate table they append to 8 bytes: with the length already aligned they add nothing
// between the trailer and the table, where the stub looks for it.
constexpr uint64_t kPackageAlignment = 8;

// Every offset in the package and in the temporary setup file is a 32-bit field.
constexpr uint64_t kFormatLimit = 0x100000000ull;

struct PackageSizes {
    uint64_t stub = 0;
    uint64_t program = 0;   // the program before encoding
    uint64_t stream = 0;    // the encoded program stream
    uint64_t blocks[kBlockCount] = {0, 0, 0, 0};
};

struct PackageLayout {
    PackageTrailer trailer;
    uint64_t paddingOffset = 0;  // where the zero bytes before the trailer start
    uint64_t paddingSize = 0;    // 0 to 7
    uint64_t packageSize = 0;
    uint64_t setupFileSize = 0;  // what the stub writes into the temporary directory
};

// Lays out a package of these sizes. Returns an empty text and fills `layout`, or, writing
// nothing to `layout`, the reason the package cannot be built: a piece or an offset that does
// not fit in 32 bits, in the package or in the temporary setup file. Knowing only the program
// and block sizes (stream 0) it already refuses every package that cannot fit at all.
std::string PlanPackage(const PackageSizes& sizes, PackageLayout* layout);
