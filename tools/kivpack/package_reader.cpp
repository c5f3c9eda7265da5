// The analysis shared by `kivpack inspect` and `kivpack verify`.
#include "package_reader.h"

#include <cerrno>
#include <cinttypes>
#include <cstring>

#include "package_layout.h"
#include "platform.h"

namespace {

struct Piece {
    std::string name;
    uint64_t offset;
    uint64_t size;
    bool isBlock;  // copied by the extraction, which fails on a short read
};

std::string Describe(const Piece& piece)
{
    return piece.name + " at " + std::to_string(piece.offset) + " (" + std::to_string(piece.size) +
           " bytes)";
}

// The pieces a package names, in file order of their kind: stream, blocks, trailer, table.
std::vector<Piece> PiecesOf(const PackageReport& report)
{
    const PackageTrailer& trailer = report.trailer;
    std::vector<Piece> pieces;
    if (trailer.programPackedSize != 0)
        pieces.push_back({"the program stream", trailer.programOffset, trailer.programPackedSize,
                          false});
    for (int i = 0; i < kBlockCount; i++) {
        if (trailer.blocks[i].size != 0)
            pieces.push_back({"block " + std::to_string(i + 1), trailer.blocks[i].offset,
                              trailer.blocks[i].size, true});
    }
    pieces.push_back({"the trailer", report.place.trailerOffset, kTrailerSize, false});
    if (report.place.isSigned)
        pieces.push_back({"the certificate table", report.place.certificateOffset,
                          report.place.certificateSize, false});
    return pieces;
}

// A piece past the end is reported once, and not again for what it overlaps there.
void CheckPlaces(PackageReport* report)
{
    uint64_t length = report->place.fileLength;
    std::string end = "the end of the file (" + std::to_string(length) + " bytes)";
    std::vector<Piece> inside;
    for (const Piece& piece : PiecesOf(*report)) {
        if (piece.offset >= length)
            report->faults.push_back({piece.name + " at " + std::to_string(piece.offset) +
                                      " starts past " + end, piece.isBlock});
        else if (piece.offset + piece.size > length)
            report->faults.push_back({Describe(piece) + " runs past " + end, piece.isBlock});
        else
            inside.push_back(piece);
    }
    for (size_t i = 0; i < inside.size(); i++) {
        for (size_t j = i + 1; j < inside.size(); j++) {
            const Piece& a = inside[i];
            const Piece& b = inside[j];
            if (a.offset < b.offset + b.size && b.offset < a.offset + a.size)
                report->faults.push_back({Describe(a) + " and " + Describe(b) + " overlap"});
        }
    }
}

void CheckStream(PackageReport* report)
{
    const DecodeResult& stream = report->stream;
    uint32_t packedSize = report->trailer.programPackedSize;
    if (!report->streamInFile) {
        // A stream of some size past the end is reported with the places already.
        if (packedSize == 0)
            report->faults.push_back({"the program stream at " +
                                      std::to_string(report->trailer.programOffset) +
                                      " starts past the end of the file (" +
                                      std::to_string(report->place.fileLength) + " bytes)"});
        return;
    }
    if (!stream.endedAtToken)
        report->faults.push_back({"the program stream has no end token: decoding ran to the end "
                                  "of the file after " + std::to_string(stream.bytesConsumed) +
                                  " bytes"});
    else if (stream.bytesConsumed != packedSize)
        report->faults.push_back({"the program stream ends after " +
                                  std::to_string(stream.bytesConsumed) + " bytes, not after the " +
                                  std::to_string(packedSize) + " that programPackedSize gives"});
    if (stream.endedAtToken && stream.decodedSize == 0)
        report->faults.push_back({"the program stream decodes to nothing"});
}

void CheckRest(PackageReport* report)
{
    const struct { const char* name; uint32_t value; } reserved[] = {
        {"reserved0", report->trailer.reserved0}, {"reserved1", report->trailer.reserved1}};
    for (const auto& field : reserved) {
        if (field.value == 0) continue;
        char text[64];
        snprintf(text, sizeof text, "%s holds 0x%08" PRIX32 ", not 0", field.name, field.value);
        report->faults.push_back({text});
    }
    if (!report->imageIsExecutable)
        report->faults.push_back({"the file does not start with a Windows executable image"});
    uint64_t setupFileSize = SetupFileSize(*report);
    if (setupFileSize >= kFormatLimit)
        report->faults.push_back({"the temporary setup file would be " +
                                      std::to_string(setupFileSize) +
                                      " bytes, past the reach of the format's 32-bit offsets",
                                  setupFileSize - kTrailerSize > kFormatLimit});
}

std::string ReadFailure(const std::string& name)
{
    return "cannot read '" + name + "': " + strerror(errno ? errno : EIO);
}

}  // namespace

uint64_t SetupFileSize(const PackageReport& report)
{
    uint64_t size = report.stream.decodedSize + kTrailerSize;
    for (const BlockRef& block : report.trailer.blocks) size += block.size;
    return size;
}

std::string AnalyzePackage(FILE* package, const std::string& name, PackageReport* report)
{
    *report = PackageReport();
    errno = 0;
    if (!FindTrailer(package, &report->trailer, &report->place)) {
        if (ferror(package)) return ReadFailure(name);
        return "'" + name + "' is not a package: it does not end in a KivSetup trailer";
    }
    uint8_t signature[2] = {0, 0};
    if (!SeekStream(package, 0) || fread(signature, 1, 2, package) != 2) {
        if (ferror(package)) return ReadFailure(name);
    }
    report->imageIsExecutable = signature[0] == 'M' && signature[1] == 'Z';

    report->streamInFile = report->trailer.programOffset < report->place.fileLength;
    if (report->streamInFile) {
        if (!SeekStream(package, report->trailer.programOffset)) return ReadFailure(name);
        BitReader* reader = CreateBitReader(package);
        if (!reader) return "out of memory";
        int decoded = DecodeStream(reader, nullptr, &report->stream);
        ReleaseBitReader(reader);
        if (!decoded || report->stream.readFailed) return ReadFailure(name);
    }
    CheckPlaces(report);
    CheckStream(report);
    CheckRest(report);
    return std::string();
}
