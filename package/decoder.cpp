// The bit reader and the decoder of the program stream.
#include "decoder.h"

#include <assert.h>
#include <stdlib.h>
#include <string.h>

#include "busy.h"

// The decoder's window doubles as its output buffer: bytes are stored in order, so each
// stretch written since the last flush goes to the output in one fwrite.
struct Decoder {
    FILE* output;              // null: count only
    uint32_t writePosition;
    uint32_t flushStart;       // first window byte not yet handed to the output
    uint64_t decodedSize;
    int endedAtToken;
    int writeFailed;
    uint8_t window[kWindowSize];
};

BitReader* CreateBitReader(FILE* stream)
{
    BitReader* reader = (BitReader*)calloc(1, sizeof(BitReader));
    if (!reader) return 0;
    reader->stream = stream;
    reader->mask = 0x80;
    return reader;
}

void ReleaseBitReader(BitReader* reader)
{
    free(reader);
}

// Keeps the buffer from `keepFrom` on, moved to the front, and reads more after it.
// Once the stream has reported an error it is not read again.
static void Refill(BitReader* reader, uint32_t keepFrom)
{
    assert(keepFrom <= reader->bufferNext && reader->bufferNext <= reader->bufferEnd);
    uint32_t kept = reader->bufferEnd - keepFrom;  // at most the three bytes of a short lookahead
    for (uint32_t i = 0; i < kept; i++) reader->buffer[i] = reader->buffer[keepFrom + i];
    reader->bufferNext -= keepFrom;
    reader->bufferEnd = kept;
    if (reader->readFailed) return;
    size_t wanted = kReadAhead - kept;
    size_t got = fread(reader->buffer + kept, 1, wanted, reader->stream);
    reader->bufferEnd += (uint32_t)got;
    if (got < wanted && ferror(reader->stream)) reader->readFailed = 1;
}

// Takes the next byte into `current`. Returns 0, with `current` at -1, once the input has ended.
static int FetchByte(BitReader* reader)
{
    if (reader->bufferNext == reader->bufferEnd) Refill(reader, reader->bufferNext);
    if (reader->bufferNext == reader->bufferEnd) {
        reader->current = -1;
        return 0;
    }
    reader->current = reader->buffer[reader->bufferNext++];
    reader->bytesFetched++;
    return 1;
}

static int TakeBit(BitReader* reader)
{
    int bit = (reader->current & reader->mask) != 0;
    reader->mask >>= 1;
    if (reader->mask == 0) reader->mask = 0x80;
    return bit;
}

int ReadBit(BitReader* reader)
{
    if (reader->mask == 0x80 && !FetchByte(reader)) return 0;
    return TakeBit(reader);
}

uint32_t ReadBits(BitReader* reader, int n)
{
    assert(n >= 1 && n <= 32);
    uint32_t value = 0;
    for (int bit = n - 1; bit >= 0; bit--) {
        if (reader->mask == 0x80 && !FetchByte(reader)) return 0;  // gathered bits are dropped
        if (TakeBit(reader)) value |= (uint32_t)1 << bit;
    }
    return value;
}

// The next bit as an offset in bits from the buffer's start. A partly read byte is always the
// last one fetched, buffer[bufferNext - 1]: the buffer is only refilled when a byte is fetched.
static uint32_t BitCursor(const BitReader* reader)
{
    if (reader->mask == 0x80) return reader->bufferNext * 8;
    uint32_t used = 1;
    while ((0x80 >> used) != reader->mask) used++;
    return (reader->bufferNext - 1) * 8 + used;
}

// Brings the reader to the state the bit-by-bit reads would have left at `cursor`.
static void SetBitCursor(BitReader* reader, uint32_t cursor)
{
    uint32_t next = (cursor + 7) / 8;
    assert(next >= reader->bufferNext && next <= reader->bufferEnd);
    reader->bytesFetched += next - reader->bufferNext;
    reader->bufferNext = next;
    reader->mask = (uint8_t)(0x80 >> (cursor % 8));
    if (next > 0) reader->current = reader->buffer[next - 1];
}

// Hands window[flushStart, end) to the output. Returns 0 if the write fell short.
static int Flush(Decoder* decoder, uint32_t end)
{
    uint32_t size = end - decoder->flushStart;
    decoder->decodedSize += size;
    if (decoder->output && size > 0 &&
        fwrite(decoder->window + decoder->flushStart, 1, size, decoder->output) != size) {
        decoder->writeFailed = 1;
    }
    decoder->flushStart = end % kWindowSize;
    return !decoder->writeFailed;
}

// Once per window's worth of output, never per byte.
static int FlushWindow(Decoder* decoder)
{
    WhileBusy();
    return Flush(decoder, kWindowSize);
}

static int PutByte(Decoder* decoder, uint8_t byte)
{
    decoder->window[decoder->writePosition] = byte;
    decoder->writePosition = (decoder->writePosition + 1) % kWindowSize;
    return decoder->writePosition != 0 || FlushWindow(decoder);
}

static int CopyMatch(Decoder* decoder, uint32_t position, uint32_t length)
{
    for (uint32_t i = 0; i < length; i++) {
        // read before store: a match may overlap the bytes it is writing
        if (!PutByte(decoder, decoder->window[(position + i) % kWindowSize])) return 0;
    }
    return 1;
}

// One token exactly as the bit-by-bit reads give it, for the last bits of the input.
// Returns 0 when decoding stops.
static int DecodeToken(BitReader* reader, Decoder* decoder)
{
    if (ReadBit(reader)) return PutByte(decoder, (uint8_t)ReadBits(reader, 8));
    uint32_t position = ReadBits(reader, 12);
    if (position == 0) {
        decoder->endedAtToken = reader->current >= 0;  // -1: the read ran out instead
        return 0;
    }
    return CopyMatch(decoder, position, ReadBits(reader, 4) + 2);
}

// Copies 2 to 17 bytes, all read before any is stored: the byte-by-byte copy gives the same
// whenever the source lies wholly before the destination or starts at or after it. Pieces that
// overlap each other cover any length without touching a byte past the end.
static void CopyApart(uint8_t* to, const uint8_t* from, uint32_t length)
{
    assert(length >= 2 && length <= 17);
    if (length >= 8) {
        uint64_t head, middle = 0, tail;
        memcpy(&head, from, 8);
        if (length > 16) memcpy(&middle, from + 8, 8);  // only then inside the window
        memcpy(&tail, from + length - 8, 8);
        memcpy(to, &head, 8);
        if (length > 16) memcpy(to + 8, &middle, 8);
        memcpy(to + length - 8, &tail, 8);
    } else if (length >= 4) {
        uint32_t head, tail;
        memcpy(&head, from, 4);
        memcpy(&tail, from + length - 4, 4);
        memcpy(to, &head, 4);
        memcpy(to + length - 4, &tail, 4);
    } else {
        uint16_t head, tail;
        memcpy(&head, from, 2);
        memcpy(&tail, from + length - 2, 2);
        memcpy(to, &head, 2);
        memcpy(to + length - 2, &tail, 2);
    }
}

static uint32_t LoadBigEndian32(const uint8_t* bytes)
{
    return (uint32_t)bytes[0] << 24 | (uint32_t)bytes[1] << 16 | (uint32_t)bytes[2] << 8 | bytes[3];
}

// Decodes tokens straight from the read-ahead buffer while four bytes from the next bit are
// there: 25 bits or more, enough for any token, so no read can run out. Returns 0 when
// decoding stops, 1 when the buffer needs refilling.
static int DecodeBuffered(BitReader* reader, Decoder* decoder)
{
    const uint8_t* bytes = reader->buffer;
    uint8_t* window = decoder->window;
    uint32_t cursor = BitCursor(reader);
    uint32_t stop = reader->bufferEnd >= 4 ? (reader->bufferEnd - 3) * 8 : 0;
    uint32_t w = decoder->writePosition;
    int more = 1;
    while (more && cursor < stop) {
        uint32_t word = LoadBigEndian32(bytes + cursor / 8) << (cursor % 8);
        if (word & 0x80000000u) {
            window[w] = (uint8_t)(word >> 23);
            cursor += 9;
            w = (w + 1) % kWindowSize;
            if (w == 0) { decoder->writePosition = 0; more = FlushWindow(decoder); }
            continue;
        }
        uint32_t position = word >> 19;
        if (position == 0) {
            cursor += 13;
            decoder->endedAtToken = 1;
            more = 0;
            break;
        }
        uint32_t length = (word >> 15 & 0xF) + 2;
        cursor += 17;
        if (w + length < kWindowSize && position + length <= kWindowSize) {
            if (position < w && w - position < length) {
                for (uint32_t i = 0; i < length; i++) window[w + i] = window[position + i];  // repeats
            } else {
                CopyApart(window + w, window + position, length);
            }
            w += length;
        } else {
            decoder->writePosition = w;
            more = CopyMatch(decoder, position, length);
            w = decoder->writePosition;
        }
    }
    decoder->writePosition = w;
    SetBitCursor(reader, cursor);
    return more;
}

static int HasLookahead(const BitReader* reader)
{
    uint32_t from = reader->mask == 0x80 ? reader->bufferNext : reader->bufferNext - 1;
    return reader->bufferEnd - from >= 4;
}

static void RefillKeepingCursor(BitReader* reader)
{
    Refill(reader, reader->mask == 0x80 ? reader->bufferNext : reader->bufferNext - 1);
}

int DecodeStream(BitReader* reader, FILE* output, DecodeResult* result)
{
    // Static rather than on the stack: no stack probe for the window. One decoding at a time.
    static Decoder decoder;
    memset(&decoder, 0, sizeof(decoder));
    decoder.output = output;
    decoder.writePosition = 1;
    decoder.flushStart = 1;
    uint64_t fetchedBefore = reader->bytesFetched;

    int more = 1;
    while (more) {
        if (!HasLookahead(reader)) RefillKeepingCursor(reader);
        more = HasLookahead(reader) ? DecodeBuffered(reader, &decoder) : DecodeToken(reader, &decoder);
    }
    if (!decoder.writeFailed) Flush(&decoder, decoder.writePosition);

    result->decodedSize = decoder.decodedSize;
    result->bytesConsumed = reader->bytesFetched - fetchedBefore;
    result->endedAtToken = decoder.endedAtToken;
    result->readFailed = reader->readFailed;
    result->writeFailed = decoder.writeFailed;
    return !reader->readFailed && !decoder.writeFailed;
}
