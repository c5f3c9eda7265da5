// The encoder: shortest possible streams, proven against an exhaustive search, that decode back.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "encoder.h"
#include "package/decoder.h"

namespace {

using Bytes = std::vector<uint8_t>;

constexpr unsigned kSlots = 4096;

// The fewest bits of any token sequence closed by the end token that decodes to `data`,
// found without the encoder's view of matches as distances: at each output position the
// decoder's window is simulated as it really stands, and a literal and every window position
// P in 1..4,095 with every K in 0..15 are tried, each byte read before the byte of its step is
// stored. Also gives, per position, the longest match that works.
struct Search {
    uint64_t minimumBits = 0;
    std::vector<unsigned> longest;  // 0 where no match of 2 or more works
};

Search ExhaustiveSearch(const Bytes& data)
{
    size_t n = data.size();
    std::vector<std::vector<bool>> works(n, std::vector<bool>(kMaxMatch + 1, false));
    std::vector<uint8_t> window(kSlots, 0), scratch(kSlots);
    unsigned writePosition = 1;
    std::vector<unsigned> alive;
    for (size_t i = 0; i < n; i++) {
        scratch = window;
        alive.clear();
        for (unsigned position = 1; position < kSlots; position++) alive.push_back(position);
        unsigned at = writePosition;
        for (unsigned step = 0; step < kMaxMatch && i + step < n && !alive.empty(); step++) {
            std::vector<unsigned> still;
            for (unsigned position : alive)
                if (scratch[(position + step) % kSlots] == data[i + step]) still.push_back(position);
            alive.swap(still);
            if (!alive.empty() && step + 1 >= kMinMatch) works[i][step + 1] = true;
            scratch[at] = data[i + step];  // what every surviving match stores at this step
            at = (at + 1) % kSlots;
        }
        window[writePosition] = data[i];
        writePosition = (writePosition + 1) % kSlots;
    }

    Search search;
    search.longest.assign(n, 0);
    std::vector<uint64_t> best(n + 1);
    best[n] = kEndBits;
    for (size_t i = n; i-- > 0;) {
        best[i] = kLiteralBits + best[i + 1];
        for (unsigned length = kMinMatch; length <= kMaxMatch; length++) {
            if (!works[i][length]) continue;
            search.longest[i] = length;
            best[i] = std::min(best[i], kMatchBits + best[i + length]);
        }
    }
    search.minimumBits = best[0];
    return search;
}

// Bits up to and including the end token, read with the decoder's own reader.
uint64_t StreamBits(const Bytes& stream)
{
    FILE* input = tmpfile();
    fwrite(stream.data(), 1, stream.size(), input);
    rewind(input);
    BitReader* reader = CreateBitReader(input);
    uint64_t bits = 0;
    for (;;) {
        if (ReadBit(reader)) {
            ReadBits(reader, 8);
            bits += kLiteralBits;
        } else if (ReadBits(reader, 12) == 0) {
            bits += kEndBits;
            break;
        } else {
            ReadBits(reader, 4);
            bits += kMatchBits;
        }
    }
    ReleaseBitReader(reader);
    fclose(input);
    return bits;
}

Bytes DecodeBytes(const Bytes& stream, DecodeResult* result)
{
    FILE* input = tmpfile();
    FILE* output = tmpfile();
    fwrite(stream.data(), 1, stream.size(), input);
    rewind(input);
    BitReader* reader = CreateBitReader(input);
    EXPECT_EQ(DecodeStream(reader, output, result), 1);
    ReleaseBitReader(reader);
    Bytes decoded(result->decodedSize);
    rewind(output);
    EXPECT_EQ(fread(decoded.data(), 1, decoded.size(), output), decoded.size());
    fclose(output);
    fclose(input);
    return decoded;
}

// Decodes back exactly, ends with its end token in its last byte, pads with zero bits.
void ExpectWellFormed(const Bytes& data, const Bytes& stream, const std::string& name)
{
    DecodeResult result;
    EXPECT_EQ(DecodeBytes(stream, &result), data) << name;
    EXPECT_EQ(result.endedAtToken, 1) << name;
    EXPECT_EQ(result.bytesConsumed, stream.size()) << name;
    uint64_t bits = StreamBits(stream);
    EXPECT_EQ(stream.size(), (bits + 7) / 8) << name;
    if (bits % 8) {
        EXPECT_EQ(stream.back() & ((1u << (8 - bits % 8)) - 1), 0u) << name;
    }
}

Bytes Text(const std::string& text)
{
    return Bytes(text.begin(), text.end());
}

Bytes Repeat(const Bytes& unit, size_t size)
{
    Bytes bytes;
    while (bytes.size() < size) bytes.push_back(unit[bytes.size() % unit.size()]);
    return bytes;
}

struct Case {
    std::string name;
    Bytes data;
};

std::vector<Case> StructuredCases()
{
    std::mt19937 random(7);
    auto randomBytes = [&](size_t size, unsigned alphabet) {
        Bytes bytes(size);
        for (auto& byte : bytes) byte = (uint8_t)(random() % alphabet);
        return bytes;
    };
    std::vector<Case> cases = {
        {"empty", {}},
        {"one byte", {0x41}},
        {"one zero", {0}},
        {"zeros 2", Bytes(2, 0)},
        {"zeros 17", Bytes(17, 0)},
        {"zeros 18", Bytes(18, 0)},
        {"zeros 300", Bytes(300, 0)},
        {"period 2", Repeat(Text("ab"), 101)},
        {"period 3", Repeat(Text("abc"), 77)},
        {"period 5 with zeros", Repeat({1, 0, 0, 2, 0}, 123)},
        {"words", Text("the cat sat on the mat; the hat sat on the cat, then the mat sat on the hat")},
    };
    // The bytes "0 A B C D E F G" begin, before any output, at window position 0: the zero in
    // never-written position 0, then the output. That match cannot be named.
    cases.push_back({"only source at position 0, at the start", Text(std::string("ABCDEFG") + '\0' + "ABCDEFG")});
    // From output index 4,096 on, position 0 holds output index 4,095.
    Bytes late = randomBytes(4095, 256);
    Bytes tail = Text("ZPQRSTUVW");
    late.insert(late.end(), tail.begin(), tail.end());
    Bytes filler = randomBytes(200, 256);
    late.insert(late.end(), filler.begin(), filler.end());
    late.insert(late.end(), tail.begin(), tail.end());
    cases.push_back({"only source at position 0, after the wrap", late});
    // Random bytes repeated 4,096 later can only come from the position about to be overwritten.
    Bytes distant = randomBytes(4096, 256);
    distant.insert(distant.end(), distant.begin(), distant.begin() + 600);
    cases.push_back({"distance 4,096", distant});
    cases.push_back({"longer than the window, small alphabet", randomBytes(5000, 3)});
    cases.push_back({"longer than the window, two symbols", randomBytes(6000, 2)});
    // Matches of every length, many of them alike: the trees' replacing of equal strings
    // must never drop a source that is the only one of its length.
    const char* words[] = {"setup ", "set ", "stub ", "stream ", "st", "s", "up ", "tub "};
    Bytes prose;
    while (prose.size() < 6000) {
        const char* word = words[random() % 8];
        prose.insert(prose.end(), word, word + strlen(word));
    }
    cases.push_back({"words of a small vocabulary", prose});
    return cases;
}

void ExpectOptimal(const Case& c)
{
    Bytes stream = EncodeStream(c.data.data(), c.data.size());
    Search search = ExhaustiveSearch(c.data);
    EXPECT_EQ(StreamBits(stream), search.minimumBits) << c.name;
    ExpectWellFormed(c.data, stream, c.name);

    MatchTable table = FindLongestMatches(c.data.data(), c.data.size());
    for (size_t i = 0; i < c.data.size(); i++)
        ASSERT_EQ(table.length[i], search.longest[i]) << c.name << " at " << i;
}

Bytes ReadFile(const std::string& path)
{
    std::ifstream file(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(file), {});
}

}  // namespace

TEST(EncodeStream, IsOptimalOnStructuredInput)
{
    for (const Case& c : StructuredCases()) ExpectOptimal(c);
}

TEST(EncodeStream, IsOptimalOnRandomInput)
{
    std::mt19937 random(11);
    for (int round = 0; round < 150; round++) {
        unsigned alphabet = round % 3 == 0 ? 2 : round % 3 == 1 ? 4 : 256;
        Case c{"random " + std::to_string(round), Bytes(1 + random() % 300)};
        for (auto& byte : c.data) byte = (uint8_t)(random() % alphabet);
        if (round % 5 == 0) c.data.insert(c.data.begin(), random() % 40, 0);  // against the zeros
        ExpectOptimal(c);
    }
}

// A few real programs, not all, to keep the run short.
TEST(EncodeStream, RoundTripsPrograms)
{
    const char* directory = "/usr/lib/i386-linux-gnu/wine/i386-windows/";
    const char* names[] = {"attrib.exe", "notepad.exe", "winemine.exe", "kernel32.dll"};
    int found = 0;
    for (const char* name : names) {
        Bytes data = ReadFile(std::string(directory) + name);
        if (data.empty()) continue;
        found++;
        std::vector<size_t> progress;
        Bytes stream = EncodeStream(data.data(), data.size(), [&](size_t done) { progress.push_back(done); });
        EXPECT_LT(stream.size(), data.size()) << name;
        ExpectWellFormed(data, stream, name);
        ASSERT_FALSE(progress.empty());
        EXPECT_EQ(progress.back(), data.size());
        EXPECT_TRUE(std::is_sorted(progress.begin(), progress.end()));
    }
    if (found == 0) GTEST_SKIP() << "no programs under " << directory;
}
