// The encoder of the program stream: an optimal parse of the input into the decoder's tokens.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

// Called now and then (about every megabyte, and once at the end) with the input bytes done.
using EncodeProgress = std::function<void(size_t done)>;

// For each input position, the longest match the format allows there (capped at 17 and at
// the bytes left; 0 when shorter than 2) and the window position it is copied from.
struct MatchTable {
    std::vector<uint8_t> length;
    std::vector<uint16_t> position;  // 1 to 4,095; meaningful where length is not 0
};

// Exact: no match the decoder could use is longer than the one found.
MatchTable FindLongestMatches(const uint8_t* data, size_t size, const EncodeProgress& progress = {});

// The stream that decodes to `data` in the fewest bits of all token sequences closed by the
// end token; padded with zero bits to a whole byte.
std::vector<uint8_t> EncodeStream(const uint8_t* data, size_t size, const EncodeProgress& progress = {});

// Token costs in bits.
constexpr unsigned kLiteralBits = 9;
constexpr unsigned kMatchBits = 17;
constexpr unsigned kEndBits = 13;
constexpr unsigned kMinMatch = 2;
constexpr unsigned kMaxMatch = 17;
