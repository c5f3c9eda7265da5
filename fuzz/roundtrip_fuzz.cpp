// Any input encoded and decoded again must come back unchanged, its stream read to the end
// token in its last byte.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "fuzz_check.h"
#include "encoder.h"
#include "package/decoder.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::vector<uint8_t> stream = EncodeStream(data, size);
    CHECK(!stream.empty());
    DecodeResult result;
    std::vector<uint8_t> written = DecodeInMemory(stream.data(), stream.size(), &result);

    CHECK(result.endedAtToken == 1);
    CHECK(result.bytesConsumed == stream.size());
    CHECK(written == std::vector<uint8_t>(data, data + size));
    return 0;
}
