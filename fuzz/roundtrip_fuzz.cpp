// Any input encoded and decoded again must come back unchanged, its stream read to the end
// token in its last byte.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "encoder.h"
#include "package/decoder.h"

#define CHECK(condition) do { if (!(condition)) { fprintf(stderr, "check failed: %s\n", #condition); abort(); } } while (0)

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::vector<uint8_t> stream = EncodeStream(data, size);
    CHECK(!stream.empty());
    FILE* input = fmemopen(stream.data(), stream.size(), "rb");
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

    CHECK(result.endedAtToken == 1);
    CHECK(result.bytesConsumed == stream.size());
    CHECK(writtenSize == size);
    CHECK(size == 0 || memcmp(written, data, size) == 0);
    free(written);
    return 0;
}
