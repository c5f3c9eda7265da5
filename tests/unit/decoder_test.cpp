// The program stream decoder against its vectors, a golden stream, and a bit-by-bit reference.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "host/host_control.h"
#include "package/decoder.h"
#include "fuzz/reference_decoder.h"
#include "token_writer.h"

namespace {

using Bytes = std::vector<uint8_t>;

FILE* TempFileWith(const Bytes& bytes)
{
    FILE* file = tmpfile();
    EXPECT_NE(file, nullptr);
    if (!bytes.empty()) {
        EXPECT_EQ(fwrite(bytes.data(), 1, bytes.size(), file), bytes.size());
    }
    rewind(file);
    return file;
}

Bytes ReadAll(FILE* file)
{
    rewind(file);
    Bytes bytes;
    int c;
    while ((c = fgetc(file)) != EOF) bytes.push_back((uint8_t)c);
    return bytes;
}

struct Decoded {
    Bytes output;
    DecodeResult result{};
    int returned = 0;
};

Decoded Decode(const Bytes& stream)
{
    Decoded decoded;
    FILE* input = TempFileWith(stream);
    FILE* output = tmpfile();
    BitReader* reader = CreateBitReader(input);
    decoded.returned = DecodeStream(reader, output, &decoded.result);
    ReleaseBitReader(reader);
    decoded.output = ReadAll(output);
    fclose(output);
    fclose(input);
    return decoded;
}

Bytes FromText(const std::string& text)
{
    return Bytes(text.begin(), text.end());
}

Bytes ReadFile(const std::string& path)
{
    std::ifstream file(path, std::ios::binary);
    EXPECT_TRUE(file) << path;
    return Bytes(std::istreambuf_iterator<char>(file), {});
}

}  // namespace

TEST(DecodeStream, Vectors)
{
    Bytes ramp;  // 4,095 literals fill positions 1 to 4,095; the match then starts writing at 0
    TokenWriter wrapping;
    for (int i = 0; i < 4095; i++) {
        ramp.push_back((uint8_t)(i * 7 + 1));
        wrapping.Literal(ramp.back());
    }
    wrapping.Match(4094, 3).End();
    // read 4094, 4095, then 0 and 1, which this match has just written
    Bytes wrapped = ramp;
    for (uint8_t byte : {ramp[4093], ramp[4094], ramp[4093], ramp[4094], ramp[4093]}) wrapped.push_back(byte);

    const struct {
        const char* name;
        Bytes stream;
        Bytes output;
        bool endedAtToken;
    } cases[] = {
        {"two literals, then the input ends inside a literal: a 0 byte", {0xA6, 0xD6, 0xB2},
         {0x4D, 0x5A, 0x00}, false},
        {"a match reads the bytes it has just written",
         TokenWriter().Literals("xy").Match(1, 2).End().Done(), FromText("xy" "xyxy"), true},
        {"the source wraps past 4,095 to 0",
         TokenWriter().Literals("ab").Match(4095, 2).End().Done(), {'a', 'b', 0, 0, 'a', 'b'}, true},
        {"never-written positions hold 0",
         TokenWriter().Match(100, 1).End().Done(), {0, 0, 0}, true},
        {"the write position wraps, then the match reads what it wrote", wrapping.Done(), wrapped, true},
        {"the lone end token", {0x00, 0x00}, {}, true},
        {"the end token's byte may carry other bits after it",
         TokenWriter().Literal('q').End().Bits(0x7F, 2).Done(), FromText("q"), true},
        {"no input at all", {}, {}, false},
        {"the input ends between tokens",
         TokenWriter().Literals("abcdefgh").Done(), FromText("abcdefgh"), false},
        {"the input ends inside a position: nothing for that token",
         TokenWriter().Literals("ab").Bits(0, 1).Bits(1, 5).Done(), FromText("ab"), false},
        {"the input ends inside a length: two bytes from the position",
         TokenWriter().Literal('x').Bits(0, 1).Bits(1, 12).Bits(3, 2).Done(), FromText("xxx"), false},
    };
    for (const auto& c : cases) {
        Decoded decoded = Decode(c.stream);
        EXPECT_EQ(decoded.returned, 1) << c.name;
        EXPECT_EQ(decoded.output, c.output) << c.name;
        EXPECT_EQ(decoded.result.decodedSize, c.output.size()) << c.name;
        EXPECT_EQ(decoded.result.endedAtToken, c.endedAtToken ? 1 : 0) << c.name;
        EXPECT_EQ(decoded.result.bytesConsumed, c.stream.size()) << c.name;
        EXPECT_FALSE(decoded.result.readFailed || decoded.result.writeFailed) << c.name;
    }
}

// Pins the format should the encoder and the decoder ever drift together.
TEST(DecodeStream, GoldenStream)
{
    Bytes stream = ReadFile(KIV_SOURCE_DIR "/tests/data/golden_stream.kiv");
    Bytes expected = ReadFile(KIV_SOURCE_DIR "/tests/data/golden_stream.out");
    ASSERT_GT(expected.size(), 4096u);
    Decoded decoded = Decode(stream);
    EXPECT_EQ(decoded.output, expected);
    EXPECT_EQ(decoded.result.endedAtToken, 1);
    EXPECT_EQ(decoded.result.bytesConsumed, stream.size());
}

// Arbitrary bytes and cut-short streams, entered after a few bits have been read and followed
// by more reads: output, bytes consumed, the kind of end and the reader's position afterwards
// must all be what the bit-by-bit decoding gives.
TEST(DecodeStream, MatchesTheReferenceOnRandomInput)
{
    std::mt19937 random(20240611);
    for (int round = 0; round < 400; round++) {
        Bytes stream;
        size_t size = round < 100 ? random() % 40 : random() % 30000;
        if (round % 2) {
            // tokens with a rare end, positions near the write position so matches repeat data
            TokenWriter writer;
            unsigned written = 1;
            while (writer.Done().size() < size) {
                if (random() % 3) {
                    writer.Literal((uint8_t)(random() % 4));
                    written++;
                } else {
                    uint32_t position = (written - 1 - random() % 40) % 4096;
                    if (position == 0) position = 1;
                    uint32_t k = random() % 16;
                    writer.Match(position, k);
                    written += k + 2;
                }
            }
            if (random() % 2) writer.End();
            stream = writer.Done();
            stream.resize(std::min(stream.size(), (size_t)(random() % (stream.size() + 1))));
        } else {
            for (size_t i = 0; i < size; i++) stream.push_back((uint8_t)random());
        }
        int skipBits = (int)(random() % 12);

        ReferenceReader expectedReader{stream.data(), stream.size()};
        if (skipBits) expectedReader.Bits(skipBits);
        ReferenceDecoding expected = ReferenceDecode(expectedReader);
        size_t fetchedByReference = expected.bytesFetched;

        FILE* input = TempFileWith(stream);
        FILE* output = tmpfile();
        BitReader* reader = CreateBitReader(input);
        if (skipBits) ReadBits(reader, skipBits);
        DecodeResult result;
        ASSERT_EQ(DecodeStream(reader, output, &result), 1);
        EXPECT_EQ(ReadAll(output), expected.output) << "round " << round;
        EXPECT_EQ(result.decodedSize, expected.output.size());
        EXPECT_EQ(result.endedAtToken, expected.endedAtToken ? 1 : 0) << "round " << round;
        EXPECT_EQ(result.bytesConsumed, fetchedByReference) << "round " << round;
        for (int after = 0; after < 4; after++)
            ASSERT_EQ(ReadBits(reader, 7), expectedReader.Bits(7)) << "round " << round;
        ReleaseBitReader(reader);
        fclose(output);
        fclose(input);
    }
}

TEST(DecodeStream, CountsWithoutOutput)
{
    Bytes stream = TokenWriter().Literals("ab").Match(1, 15).Match(1, 15).End().Done();
    FILE* input = TempFileWith(stream);
    BitReader* reader = CreateBitReader(input);
    DecodeResult result;
    EXPECT_EQ(DecodeStream(reader, nullptr, &result), 1);
    EXPECT_EQ(result.decodedSize, 36u);
    EXPECT_EQ(result.endedAtToken, 1);
    ReleaseBitReader(reader);
    fclose(input);
}

class DecodeStreamFaults : public ::testing::Test {
protected:
    void SetUp() override
    {
        TokenWriter writer;
        writer.Literals("0123456789");
        for (int i = 0; i < 2000; i++) writer.Match(1, 15);  // 34,010 bytes from 4,264 bytes
        stream = writer.End().Done();
        input = TempFileWith(stream);
        output = tmpfile();
        reader = CreateBitReader(input);
        HostReset();
    }
    void TearDown() override
    {
        HostReset();
        ReleaseBitReader(reader);
        fclose(output);
        fclose(input);
    }
    Bytes stream;
    FILE* input = nullptr;
    FILE* output = nullptr;
    BitReader* reader = nullptr;
};

TEST_F(DecodeStreamFaults, WritesTheWindowInPieces)
{
    DecodeResult result;
    ASSERT_EQ(DecodeStream(reader, output, &result), 1);
    EXPECT_EQ(result.decodedSize, 34010u);
    EXPECT_LE(HostStreamCalls(kHostWrite), 34010 / 4096 + 1);  // never a write per byte
    EXPECT_LE(HostStreamCalls(kHostRead), 3);
}

TEST_F(DecodeStreamFaults, ReportsAFailedRead)
{
    const struct { int failingRead; uint64_t consumed; } cases[] = {{1, 0}, {2, kReadAhead}};
    for (const auto& c : cases) {
        rewind(input);
        clearerr(input);
        ReleaseBitReader(reader);
        reader = CreateBitReader(input);
        HostReset();
        HostFailStreamCall(kHostRead, c.failingRead);
        DecodeResult result;
        EXPECT_EQ(DecodeStream(reader, output, &result), 0) << c.failingRead;
        EXPECT_EQ(result.readFailed, 1);
        EXPECT_EQ(result.endedAtToken, 0);
        EXPECT_EQ(result.bytesConsumed, c.consumed);
    }
}

TEST_F(DecodeStreamFaults, StopsAtAFailedWrite)
{
    HostFailStreamCall(kHostWrite, 2);
    DecodeResult result;
    EXPECT_EQ(DecodeStream(reader, output, &result), 0);
    EXPECT_EQ(result.writeFailed, 1);
    EXPECT_EQ(result.readFailed, 0);
    EXPECT_LT(result.bytesConsumed, stream.size());
    EXPECT_EQ(HostStreamCalls(kHostWrite), 2);
}
