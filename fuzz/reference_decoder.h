// The decoding exactly as first described, bit by bit and byte by byte, for the fuzz targets
// and the unit tests to hold the real decoder to. Nothing here is shared with it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

struct ReferenceDecoding {
    std::vector<uint8_t> output;
    size_t bytesFetched = 0;   // by this decoding, from where the reader stood
    bool endedAtToken = false;
};

// ReadBit and ReadBits over fgetc-like fetches from a byte array.
struct ReferenceReader {
    const uint8_t* input;
    size_t size;
    size_t next = 0;
    int mask = 0x80;
    int current = 0;

    bool Fetch()
    {
        if (next == size) { current = -1; return false; }
        current = input[next++];
        return true;
    }
    uint32_t Bits(int n)
    {
        uint32_t value = 0;
        for (int bit = n - 1; bit >= 0; bit--) {
            if (mask == 0x80 && !Fetch()) return 0;
            if (current & mask) value |= 1u << bit;
            mask >>= 1;
            if (mask == 0) mask = 0x80;
        }
        return value;
    }
};

// Decodes from where the reader stands, a byte written per step.
inline ReferenceDecoding ReferenceDecode(ReferenceReader& reader)
{
    ReferenceDecoding result;
    size_t fetchedBefore = reader.next;
    uint8_t window[4096] = {};
    unsigned writePosition = 1;
    auto put = [&](uint8_t byte) {
        result.output.push_back(byte);
        window[writePosition] = byte;
        writePosition = (writePosition + 1) % 4096;
    };
    for (;;) {
        if (reader.Bits(1)) {
            put((uint8_t)reader.Bits(8));
            continue;
        }
        uint32_t position = reader.Bits(12);
        if (position == 0) {
            result.endedAtToken = reader.current != -1;
            break;
        }
        uint32_t length = reader.Bits(4) + 2;
        for (uint32_t i = 0; i < length; i++) put(window[(position + i) % 4096]);
    }
    result.bytesFetched = reader.next - fetchedBefore;
    return result;
}

inline ReferenceDecoding ReferenceDecode(const uint8_t* input, size_t size)
{
    ReferenceReader reader{input, size};
    return ReferenceDecode(reader);
}
