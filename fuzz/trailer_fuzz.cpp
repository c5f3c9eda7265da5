// Arbitrary bytes as a package file: FindTrailer must stay inside the file and its buffers,
// and whatever it reports found must be where it says, with the table of a signed package
// ending the file and the trailer just before it.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "fuzz_check.h"
#include "package/trailer.h"

static bool IsZeroed(const PackageTrailer& trailer)
{
    uint8_t bytes[kTrailerSize], zeros[kTrailerSize] = {};
    FormatTrailer(&trailer, bytes);
    return memcmp(bytes, zeros, kTrailerSize) == 0;
}

static bool SameTrailer(const PackageTrailer& a, const PackageTrailer& b)
{
    uint8_t bytesA[kTrailerSize], bytesB[kTrailerSize];
    FormatTrailer(&a, bytesA);
    FormatTrailer(&b, bytesB);
    return memcmp(bytesA, bytesB, kTrailerSize) == 0;
}

static void CheckSignedPlace(const uint8_t* data, size_t size, const TrailerPlace& place)
{
    uint64_t table = place.certificateOffset;
    uint64_t trailerEnd = place.trailerOffset + kTrailerSize;
    CHECK(place.certificateSize != 0);
    CHECK(table + place.certificateSize == size);
    CHECK(trailerEnd <= table && table - trailerEnd <= 7);
    for (uint64_t i = trailerEnd; i < table; i++) CHECK(data[i] == 0);  // alignment only
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FILE* file = fmemopen((void*)data, size, "rb");
    CHECK(file);
    PackageTrailer trailer;
    TrailerPlace place;
    int found = FindTrailer(file, &trailer, &place);
    PackageTrailer withoutPlace;
    CHECK(FindTrailer(file, &withoutPlace, nullptr) == found);
    CHECK(SameTrailer(trailer, withoutPlace));
    fclose(file);

    CHECK(found == 0 || found == 1);
    CHECK(place.fileLength == size);
    PackageTrailer last;
    bool lastHasMagic = false;
    if (size >= (size_t)kTrailerSize) {
        ParseTrailer(data + size - kTrailerSize, &last);
        lastHasMagic = HasTrailerMagic(&last);
    }
    if (!found) {
        CHECK(!lastHasMagic);
        CHECK(IsZeroed(trailer));
        CHECK(!place.isSigned);
        return 0;
    }
    CHECK(HasTrailerMagic(&trailer));
    CHECK(place.trailerOffset + kTrailerSize <= size);
    PackageTrailer atPlace;
    ParseTrailer(data + place.trailerOffset, &atPlace);
    CHECK(SameTrailer(trailer, atPlace));
    // The last 56 bytes win whenever they hold a trailer; only then is a signature looked for.
    CHECK(place.isSigned == !lastHasMagic);
    if (place.isSigned)
        CheckSignedPlace(data, size, place);
    else
        CHECK(place.trailerOffset == size - kTrailerSize);
    return 0;
}
