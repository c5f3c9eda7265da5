// Arbitrary bytes as a program stream: the decoder must give exactly what the bit-by-bit
// reference gives, and stay inside its window and buffers (the sanitizers watch).
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "fuzz_check.h"
#include "package/decoder.h"
#include "reference_decoder.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    DecodeResult result;
    std::vector<uint8_t> written = DecodeInMemory(data, size, &result);

    ReferenceDecoding expected = ReferenceDecode(data, size);
    CHECK(written == expected.output);
    CHECK(result.decodedSize == expected.output.size());
    CHECK(result.bytesConsumed == expected.bytesFetched);
    CHECK(result.endedAtToken == (expected.endedAtToken ? 1 : 0));
    CHECK(!result.readFailed && !result.writeFailed);
    return 0;
}
