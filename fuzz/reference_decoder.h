// The decoding exactly as first described, bit by bit and byte by byte, for the fuzz targets
// to hold the real decoder to. Nothing here is shared with it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

struct ReferenceDecoding {
    std::vector<uint8_t> output;
    size_t bytesFetched = 0;
    bool endedAtToken = false;
};

inline ReferenceDecoding ReferenceDecode(const uint8_t* input, size_t size)
{
    ReferenceDecoding result;
    size_t next = 0;
    int mask = 0x80, current = 0;
    auto fetch = [&] {
        if (next == size) { current = -1; return false; }
        current = input[next++];
        return true;
    };
    auto bits = [&](int n) -> uint32_t {
        uint32_t value = 0;
        for (int bit = n - 1; bit >= 0; bit--) {
            if (mask == 0x80 && !fetch()) return 0;
            if (current & mask) value |= 1u << bit;
            mask >>= 1;
            if (mask == 0) mask = 0x80;
        }
        return value;
    };
    uint8_t window[4096] = {};
    unsigned writePosition = 1;
    auto put = [&](uint8_t byte) {
        result.output.push_back(byte);
        window[writePosition] = byte;
        writePosition = (writePosition + 1) % 4096;
    };
    for (;;) {
        if (bits(1)) {
            put((uint8_t)bits(8));
            continue;
        }
        uint32_t position = bits(12);
        if (position == 0) {
            result.endedAtToken = current != -1;
            break;
        }
        uint32_t length = bits(4) + 2;
        for (uint32_t i = 0; i < length; i++) put(window[(position + i) % 4096]);
    }
    result.bytesFetched = next;
    return result;
}
