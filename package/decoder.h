// The program stream: bit-level LZSS with a 4,096-byte window, 12-bit absolute positions and
// 4-bit lengths (2 to 17). Tokens: literal `1` + 8 bits; match `0` + 12-bit position (1 to
// 4,095) + 4-bit length - 2; end `0` + twelve 0 bits. Bits are read most significant first.
#pragma once

#include <stdint.h>
#include <stdio.h>

constexpr int kWindowSize = 4096;
constexpr int kReadAhead = 4096;

// Reads bits most significant first from a stream, through a read-ahead buffer of its own.
struct BitReader {
    FILE* stream;        // not owned
    uint8_t mask;        // the bit of `current` read next; 0x80: fetch a byte first
    int32_t current;     // the byte fetched last, or -1 once the input has ended
    uint32_t bufferNext;
    uint32_t bufferEnd;
    uint64_t bytesFetched;
    int readFailed;      // the stream reported an error rather than its end
    uint8_t buffer[kReadAhead];
};

// Null when memory cannot be had. Releasing the reader leaves its stream open.
BitReader* CreateBitReader(FILE* stream);
void ReleaseBitReader(BitReader* reader);

// After the end of input both yield 0 on every call. 1 <= n <= 32.
int ReadBit(BitReader* reader);
uint32_t ReadBits(BitReader* reader, int n);

struct DecodeResult {
    uint64_t decodedSize;    // bytes produced
    uint64_t bytesConsumed;  // bytes of the stream fetched, the last partial byte included
    int endedAtToken;        // 1: stopped at the end token; 0: at the end of input
    int readFailed;          // the input stream reported an error
    int writeFailed;         // a write to the output failed; decoding stopped there
};

// Decodes from the reader's position to the end token or the end of input, writing every byte
// to `output` (null: count only). Returns 1 unless reading or writing failed.
int DecodeStream(BitReader* reader, FILE* output, DecodeResult* result);
