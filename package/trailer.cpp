// The package trailer and the package check.
#include "trailer.h"

#include <string.h>

#include "../shell/bootstrap.h"

uint32_t GetLe32(const uint8_t* bytes)
{
    return (uint32_t)bytes[0] | (uint32_t)bytes[1] << 8 | (uint32_t)bytes[2] << 16 |
           (uint32_t)bytes[3] << 24;
}

void PutLe32(uint8_t* bytes, uint32_t value)
{
    bytes[0] = (uint8_t)value;
    bytes[1] = (uint8_t)(value >> 8);
    bytes[2] = (uint8_t)(value >> 16);
    bytes[3] = (uint8_t)(value >> 24);
}

void ParseTrailer(const uint8_t* bytes, PackageTrailer* trailer)
{
    trailer->programOffset = GetLe32(bytes);
    trailer->programPackedSize = GetLe32(bytes + 4);
    trailer->reserved0 = GetLe32(bytes + 8);
    trailer->reserved1 = GetLe32(bytes + 12);
    for (int i = 0; i < kBlockCount; i++) {
        trailer->blocks[i].offset = GetLe32(bytes + 16 + 8 * i);
        trailer->blocks[i].size = GetLe32(bytes + 20 + 8 * i);
    }
    memcpy(trailer->magic, bytes + 48, sizeof trailer->magic);
}

void FormatTrailer(const PackageTrailer* trailer, uint8_t* bytes)
{
    PutLe32(bytes, trailer->programOffset);
    PutLe32(bytes + 4, trailer->programPackedSize);
    PutLe32(bytes + 8, trailer->reserved0);
    PutLe32(bytes + 12, trailer->reserved1);
    for (int i = 0; i < kBlockCount; i++) {
        PutLe32(bytes + 16 + 8 * i, trailer->blocks[i].offset);
        PutLe32(bytes + 20 + 8 * i, trailer->blocks[i].size);
    }
    memcpy(bytes + 48, trailer->magic, sizeof trailer->magic);
}

int HasTrailerMagic(const PackageTrailer* trailer)
{
    return memcmp(trailer->magic, kTrailerMagic, sizeof kTrailerMagic) == 0;
}

static int ReadAt(FILE* package, uint64_t offset, void* bytes, uint32_t size)
{
    return SeekStream(package, offset) && fread(bytes, size, 1, package) == 1;
}

static int ReadTrailerAt(FILE* package, uint64_t offset, PackageTrailer* trailer)
{
    uint8_t bytes[kTrailerSize];
    if (!ReadAt(package, offset, bytes, kTrailerSize)) return 0;
    ParseTrailer(bytes, trailer);
    return HasTrailerMagic(trailer);
}

// The image headers' certificate table (the security directory), when there is one that ends
// exactly at the end of the file. Every header value is untrusted and checked against the
// file's length before it is used.
static int FindCertificateTable(FILE* package, uint64_t length, TrailerPlace* place)
{
    uint8_t dos[64];
    if (length < sizeof dos || !ReadAt(package, 0, dos, sizeof dos)) return 0;
    if (dos[0] != 'M' || dos[1] != 'Z') return 0;
    uint64_t headers = GetLe32(dos + 0x3C);
    // "PE\0\0", the 20-byte file header, and the optional header up to the directory needed.
    uint8_t pe[24 + 112 + 40];
    if (headers + 24 > length || !ReadAt(package, headers, pe, 24)) return 0;
    if (pe[0] != 'P' || pe[1] != 'E' || pe[2] != 0 || pe[3] != 0) return 0;
    uint32_t optionalSize = pe[20] | pe[21] << 8;
    if (optionalSize > sizeof pe - 24) optionalSize = sizeof pe - 24;
    if (optionalSize < 2 || headers + 24 + optionalSize > length) return 0;
    if (!ReadAt(package, headers + 24, pe + 24, optionalSize)) return 0;
    const uint8_t* optional = pe + 24;
    uint32_t magic = optional[0] | optional[1] << 8;
    uint32_t countAt = magic == 0x10B ? 92 : magic == 0x20B ? 108 : 0;
    if (countAt == 0 || countAt + 4 + 5 * 8 > optionalSize) return 0;
    if (GetLe32(optional + countAt) < 5) return 0;  // no security directory
    const uint8_t* security = optional + countAt + 4 + 4 * 8;
    uint64_t offset = GetLe32(security), size = GetLe32(security + 4);
    if (size == 0 || offset + size != length || offset < kTrailerSize) return 0;
    place->certificateOffset = (uint32_t)offset;
    place->certificateSize = (uint32_t)size;
    return 1;
}

// Signing tools align the certificate table to 8 bytes with zeros after the trailer.
static int FindSignedTrailer(FILE* package, uint64_t length, PackageTrailer* trailer,
                             TrailerPlace* place)
{
    if (!FindCertificateTable(package, length, place)) return 0;
    uint64_t tableOffset = place->certificateOffset;
    for (uint32_t padding = 0; padding < 8 && tableOffset >= kTrailerSize + padding; padding++) {
        uint8_t zeros[8] = {0}, between[8];
        if (padding && (!ReadAt(package, tableOffset - padding, between, padding) ||
                        memcmp(between, zeros, padding) != 0))
            break;
        if (ReadTrailerAt(package, tableOffset - padding - kTrailerSize, trailer)) {
            place->trailerOffset = tableOffset - padding - kTrailerSize;
            place->isSigned = 1;
            return 1;
        }
    }
    return 0;
}

int FindTrailer(FILE* package, PackageTrailer* trailer, TrailerPlace* place)
{
    TrailerPlace ignored;
    if (!place) place = &ignored;
    memset(place, 0, sizeof *place);
    memset(trailer, 0, sizeof *trailer);
    uint64_t length;
    if (!SeekStreamToEnd(package) || !TellStream(package, &length)) return 0;
    place->fileLength = length;
    if (length >= kTrailerSize && ReadTrailerAt(package, length - kTrailerSize, trailer)) {
        place->trailerOffset = length - kTrailerSize;
        return 1;
    }
    if (FindSignedTrailer(package, length, trailer, place)) return 1;
    memset(trailer, 0, sizeof *trailer);
    place->isSigned = 0;
    return 0;
}

static void ReportCannotOpen(const char* path)
{
    char message[kErrorTextSize];
    CopyText(message, sizeof message, "Cannot open ");
    AppendText(message, sizeof message, path);
    AppendText(message, sizeof message, ".");
    AppendError(message);
}

static void FindShortPackagePath()
{
    char path[kPathSize];
    DWORD length = GetModuleFileNameA(bootstrap.instance, path, sizeof path);
    path[sizeof path - 1] = 0;
    DWORD shortLength = length ? GetShortPathNameA(path, bootstrap.shortPackagePath, kPathSize) : 0;
    // Too small a buffer is answered with the size it needed and nothing written.
    if (shortLength == 0 || shortLength >= (DWORD)kPathSize) bootstrap.shortPackagePath[0] = 0;
}

FILE* OpenPackage(PackageTrailer* trailer)
{
    char path[kPathSize];
    GetModuleFileNameA(bootstrap.instance, path, sizeof path);
    path[sizeof path - 1] = 0;  // older systems leave a cut name unterminated

    FILE* package = fopen(path, "rb");
    if (!package) {
        ReportCannotOpen(path);
        return 0;
    }
    if (!FindTrailer(package, trailer, 0)) {
        AppendError("Setup.exe is damaged.");
        fclose(package);
        return 0;
    }
    FindShortPackagePath();
    if (!SeekStream(package, trailer->programOffset)) {
        AppendError("Setup.exe is damaged.");
        fclose(package);
        return 0;
    }
    return package;
}
