// Arbitrary bytes as a program stream: the decoder must give exactly what the bit-by-bit
// reference gives, and stay inside its window and buffers (the sanitizers watch).
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "package/decoder.h"
#include "reference_decoder.h"

#define CHECK(condition) do { if (!(condition)) { fprintf(stderr, "check failed: %s\n", #condition); abort(); } } while (0)

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FILE* input = fmemopen((void*)data, size, "rb");
    char* written = nullptr;
    size_t writtenSize = 0;
    FILE* output = open_memstream(&written, &writtenSize);
    CHECK(input && output);
    BitReader* reader = CreateBitReader(input);
    CHECK(reader);
    DecodeResult result;
    CHECK(DecodeStream(reader, output, &result) == 1);
    ReleaseBitReader(reader);
    fclose(output);
    fclose(input);

    ReferenceDecoding expected = ReferenceDecode(data, size);
    CHECK(writtenSize == expected.output.size());
    CHECK(result.decodedSize == expected.output.size());
    CHECK(writtenSize == 0 || memcmp(written, expected.output.data(), writtenSize) == 0);
    CHECK(result.bytesConsumed == expected.bytesFetched);
    CHECK(result.endedAtToken == (expected.endedAtToken ? 1 : 0));
    CHECK(!result.readFailed && !result.writeFailed);
    free(written);
    return 0;
}
