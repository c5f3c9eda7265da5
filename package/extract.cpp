// Extraction of the secondary setup into the temporary setup file.
#include "extract.h"

#include <string.h>

#include "../shell/bootstrap.h"
#include "busy.h"
#include "decoder.h"
#include "temp_file.h"

// Static rather than on the stack: one buffer for every block, and no stack probe.
static uint8_t copyBuffer[kCopyChunk];

int CopyBlock(FILE* input, FILE* output, uint32_t offset, uint32_t size,
              uint32_t* newOffset, uint32_t* newSize)
{
    *newOffset = 0;
    *newSize = 0;
    if (size == 0) return 1;
    uint64_t position;
    if (!SeekStream(input, offset) || !TellStream(output, &position)) return 0;
    // Every byte of the setup file must stay reachable through 32-bit offsets.
    if (position + size > 0x100000000ull) return 0;
    *newOffset = (uint32_t)position;
    *newSize = size;
    for (uint32_t remaining = size; remaining != 0;) {
        uint32_t chunk = remaining < kCopyChunk ? remaining : kCopyChunk;
        if (fread(copyBuffer, chunk, 1, input) != 1) return 0;
        if (fwrite(copyBuffer, chunk, 1, output) != 1) return 0;
        remaining -= chunk;
        WhileBusy();
    }
    return 1;
}

static int DecodeProgram(FILE* package, FILE* output)
{
    BitReader* reader = CreateBitReader(package);
    if (!reader) return 0;
    DecodeResult result;
    int decoded = DecodeStream(reader, output, &result);
    ReleaseBitReader(reader);
    return decoded;
}

int WriteSetupFile(FILE* package, const PackageTrailer* trailer, FILE* output)
{
    if (!DecodeProgram(package, output)) return 0;
    PackageTrailer written;
    memset(&written, 0, sizeof written);
    memcpy(written.magic, kTrailerMagic, sizeof written.magic);
    for (int i = 0; i < kBlockCount; i++) {
        const BlockRef* block = &trailer->blocks[i];
        if (!CopyBlock(package, output, block->offset, block->size, &written.blocks[i].offset,
                       &written.blocks[i].size))
            return 0;
    }
    uint8_t bytes[kTrailerSize];
    FormatTrailer(&written, bytes);
    return fwrite(bytes, kTrailerSize, 1, output) == 1;
}

int ExtractSecondarySetup()
{
    PackageTrailer trailer;
    FILE* package = OpenPackage(&trailer);
    if (!package) return 0;
    FILE* output = CreateTempSetupFile();
    if (!output) { fclose(package); return 0; }  // it has said why

    int written = WriteSetupFile(package, &trailer, output);
    if (written) {
        written = fclose(output) == 0;  // the last bytes reach the disk only here
        fclose(package);
    } else {
        fclose(package);
        fclose(output);
    }
    if (written) return 1;
    // Nothing can use a setup file cut short; it does not stay in the user's directory.
    remove(bootstrap.tempSetupPath);
    AppendError("Cannot copy setup information\r\nto temporary file.");
    return 0;
}
