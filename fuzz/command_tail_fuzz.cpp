// Arbitrary text as a full command line: SkipProgramName must stay inside the line, end the
// program name where the rule says and skip exactly the blanks after it. The first byte gives
// how many of the next bytes are the code page's double-byte lead bytes (0 to 7); the rest,
// up to its first NUL, is the line.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz_check.h"
#include "host/host_control.h"
#include "shell/command_tail.h"

static bool IsBlank(unsigned char c) { return c >= 1 && c <= 32; }

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    size_t leadCount = size ? data[0] % 8 : 0;
    if (size < 1 + leadCount) return 0;
    std::string leadBytes((const char*)data + 1, leadCount);
    Host().leadBytes = leadBytes;
    // A buffer of exactly the line and its terminator, so that a read past it is caught.
    std::vector<char> line((const char*)data + 1 + leadCount, (const char*)data + size);
    line.push_back(0);
    const char* text = line.data();
    size_t length = strlen(text);

    const char* tail = SkipProgramName(text);
    CHECK(tail >= text && tail <= text + length);
    CHECK(!IsBlank((unsigned char)*tail));
    size_t tailAt = (size_t)(tail - text), nameEnd = tailAt;
    while (nameEnd > 0 && IsBlank((unsigned char)text[nameEnd - 1])) nameEnd--;

    if (text[0] != '"') {
        // The name is the run of codes above 32, then the blanks, then the tail.
        for (size_t i = 0; i < nameEnd; i++) CHECK((unsigned char)text[i] > 32);
        CHECK(nameEnd == length || IsBlank((unsigned char)text[nameEnd]));
        return 0;
    }
    // A quoted name ends just after its closing quote, or runs to the end of the line.
    CHECK(tailAt == length || (nameEnd >= 2 && text[nameEnd - 1] == '"'));
    bool hasLeadByte = false;
    for (size_t i = 1; i < length; i++)
        hasLeadByte = hasLeadByte || leadBytes.find(text[i]) != std::string::npos;
    if (!hasLeadByte) {
        // Without double-byte characters the closing quote is simply the next quote.
        const char* quote = strchr(text + 1, '"');
        size_t expected = quote ? (size_t)(quote - text) + 1 : length;
        while (IsBlank((unsigned char)text[expected])) expected++;
        CHECK(tailAt == expected);
    }
    return 0;
}
