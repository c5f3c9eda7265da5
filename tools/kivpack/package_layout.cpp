// The layout of a package built by kivpack and its size limits.
#include "package_layout.h"

#include <cstring>

static std::string TooLarge(const char* what, uint64_t size)
{
    return std::string(what) + " would be " + std::to_string(size) +
           " bytes, more than the 4294967295 that the format's 32-bit offsets reach";
}

std::string PlanPackage(const PackageSizes& sizes, PackageLayout* layout)
{
    // Each size is below 2^62 or refused on its own, so no sum below can wrap.
    const uint64_t pieces[] = {sizes.stub, sizes.program, sizes.stream, sizes.blocks[0],
                               sizes.blocks[1], sizes.blocks[2], sizes.blocks[3]};
    for (uint64_t piece : pieces)
        if (piece >= kFormatLimit) return TooLarge("a piece of the package", piece);

    uint64_t blockTotal = 0;
    for (uint64_t block : sizes.blocks) blockTotal += block;
    uint64_t contentEnd = sizes.stub + sizes.stream + blockTotal;
    uint64_t padding = (kPackageAlignment - contentEnd % kPackageAlignment) % kPackageAlignment;
    uint64_t packageSize = contentEnd + padding + kTrailerSize;
    uint64_t setupFileSize = sizes.program + blockTotal + kTrailerSize;
    if (packageSize >= kFormatLimit) return TooLarge("the package", packageSize);
    if (setupFileSize >= kFormatLimit) return TooLarge("the temporary setup file", setupFileSize);

    PackageLayout planned;
    memset(&planned.trailer, 0, sizeof planned.trailer);
    planned.trailer.programOffset = (uint32_t)sizes.stub;
    planned.trailer.programPackedSize = (uint32_t)sizes.stream;
    uint64_t offset = sizes.stub + sizes.stream;
    for (int i = 0; i < kBlockCount; i++) {
        if (sizes.blocks[i] == 0) continue;  // absent: 0, 0
        planned.trailer.blocks[i] = {(uint32_t)offset, (uint32_t)sizes.blocks[i]};
        offset += sizes.blocks[i];
    }
    memcpy(planned.trailer.magic, kTrailerMagic, sizeof kTrailerMagic);
    planned.paddingOffset = contentEnd;
    planned.paddingSize = padding;
    planned.packageSize = packageSize;
    planned.setupFileSize = setupFileSize;
    *layout = planned;
    return std::string();
}
