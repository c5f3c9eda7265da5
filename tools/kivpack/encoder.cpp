// The encoder of the program stream: exact longest matches, then a shortest-path parse.
//
// The decoder's window is a ring written in order from position 1, so naming window position
// P for output byte i copies from output index i - d, d = (1 + i - P) mod 4,096 (0 meaning
// 4,096), as in ordinary LZ77 over the output preceded by 4,096 zero bytes (the window before
// anything is written). Position 0 cannot be named: it holds the byte at the latest output
// index i' < i with i' = 4,095 mod 4,096, and that is the only index of this residue within
// 4,096 bytes back. Leaving those indices out of the match finder leaves out exactly the
// matches the format cannot express.
#include "encoder.h"

#include <algorithm>
#include <cassert>
#include <cstring>

#include "package/decoder.h"

namespace {

constexpr uint32_t kNone = UINT32_MAX;
constexpr uint32_t kCycle = kWindowSize;  // a slot is reused 4,096 later: that node is then a leaf
constexpr size_t kProgressStep = 1 << 20;
constexpr size_t kPadding = 8;
constexpr unsigned kKeyBits = 16;

// Binary trees of the window's positions, one per hash of the first three bytes, ordered by
// the up to 17 bytes at each position and newest at the root, so that every node is newer than
// its children and the first node out of the window ends a descent. A search descends to where
// the query's bytes sort and passes both its neighbours in that order; one of them shares the
// longest prefix with it, so a match of three or more is found exactly. Two-byte matches come
// from a table of the latest position of each byte pair. When a node matches the whole limit
// the new position takes its place, so a tree holds each 17-byte string once and runs stay cheap.
class MatchFinder {
public:
    // `bytes` is the input preceded by kWindowSize zeros.
    MatchFinder(const uint8_t* bytes, size_t size)
        : bytes_(bytes), size_(size), head_(1 << kKeyBits, kNone), son_(2 * kCycle, kNone),
          lastPair_(1 << 16, kNone)
    {
    }

    struct Match { uint32_t length = 0; uint32_t from = 0; };

    // Longest match at `at` among the positions inserted so far, then `at` joins the trees.
    // The direction of each step is data and unpredictable: it is selected, not branched on.
    Match InsertAndFind(uint32_t at)
    {
        uint32_t limit = Limit(at);
        Match best;
        uint32_t* key = &head_[Key(at)];
        uint32_t candidate = *key;
        *key = at;
        uint32_t* smallerLink = &son_[2 * (at % kCycle)];  // the new node's left
        uint32_t* largerLink = &son_[2 * (at % kCycle) + 1];
        uint32_t smallerKnown = 0, largerKnown = 0;
        for (;;) {
            if (candidate == kNone || at - candidate > kWindowSize) {
                *smallerLink = *largerLink = kNone;
                return best;
            }
            bool smaller = false;
            uint32_t length = Extend(at, candidate, std::min(smallerKnown, largerKnown), limit, &smaller);
            if (length > best.length) best = {length, candidate};
            if (at - candidate == kWindowSize) {  // its slot is now `at`'s; it leaves the window
                *smallerLink = *largerLink = kNone;
                return best;
            }
            uint32_t* pair = &son_[2 * (candidate % kCycle)];
            if (length == limit) {  // the same string: `at` takes the older node's place
                *smallerLink = pair[0];
                *largerLink = pair[1];
                return best;
            }
            *(smaller ? smallerLink : largerLink) = candidate;
            uint32_t* next = &pair[smaller];
            smallerLink = smaller ? next : smallerLink;
            largerLink = smaller ? largerLink : next;
            smallerKnown = smaller ? length : smallerKnown;
            largerKnown = smaller ? largerKnown : length;
            candidate = *next;
        }
    }

    // The same search, leaving the trees as they are: for the positions no match may name.
    Match Find(uint32_t at) const
    {
        uint32_t limit = Limit(at);
        Match best;
        uint32_t candidate = head_[Key(at)];
        uint32_t known[2] = {0, 0};
        while (candidate != kNone && at - candidate <= kWindowSize) {
            bool smaller = false;
            uint32_t length = Extend(at, candidate, std::min(known[0], known[1]), limit, &smaller);
            if (length > best.length) best = {length, candidate};
            if (length == limit || at - candidate == kWindowSize) break;
            candidate = son_[2 * (candidate % kCycle) + smaller];
            known[smaller] = length;
        }
        return best;
    }

    // Matches of two bytes, which the trees of three-byte keys do not hold.
    Match FindPair(uint32_t at) const
    {
        uint32_t from = lastPair_[bytes_[at] << 8 | bytes_[at + 1]];
        if (from == kNone || at - from > kWindowSize) return {};
        return {kMinMatch, from};
    }
    void NotePair(uint32_t at) { lastPair_[bytes_[at] << 8 | bytes_[at + 1]] = at; }

    uint32_t Limit(uint32_t at) const { return (uint32_t)std::min<size_t>(kMaxMatch, size_ - at); }

private:
    // Any hash of the first three bytes: positions that share them share a tree.
    uint32_t Key(uint32_t at) const
    {
        uint32_t three = bytes_[at] << 16 | bytes_[at + 1] << 8 | bytes_[at + 2];
        return three * 2654435761u >> (32 - kKeyBits);
    }

    // Both strings are known to agree on `known` bytes. Compares eight bytes at a time, which
    // may look at up to seven bytes past the end: the buffer carries kPadding more. Short of
    // the limit, also tells whether the candidate sorts before `at`, from the bytes in hand.
    uint32_t Extend(uint32_t at, uint32_t candidate, uint32_t known, uint32_t limit, bool* smaller) const
    {
        for (uint32_t length = known; length < limit; length += 8) {
            uint64_t a, b;
            memcpy(&a, bytes_ + candidate + length, 8);
            memcpy(&b, bytes_ + at + length, 8);
            if (a == b) continue;
            unsigned shift = __builtin_ctzll(a ^ b) & ~7u;  // little-endian: the first byte that differs
            *smaller = (a >> shift & 0xFF) < (b >> shift & 0xFF);
            return std::min(limit, length + shift / 8);
        }
        return limit;
    }

    const uint8_t* bytes_;
    size_t size_;
    std::vector<uint32_t> head_;
    std::vector<uint32_t> son_;
    std::vector<uint32_t> lastPair_;  // by the two bytes there: the latest position noted
};

// Indices of the zero-prefixed input whose byte sits in window position 0 while the bytes
// after it are written: the output indices 4,095 mod 4,096, the same residue 4,096 later.
bool IsUnnameable(uint32_t at)
{
    return at % kWindowSize == kWindowSize - 1;
}

class BitWriter {
public:
    void Put(uint32_t value, unsigned bits)
    {
        pending_ = pending_ << bits | value;
        pendingBits_ += bits;
        while (pendingBits_ >= 8) {
            pendingBits_ -= 8;
            bytes_.push_back((uint8_t)(pending_ >> pendingBits_));
        }
    }

    uint64_t BitCount() const { return bytes_.size() * 8 + pendingBits_; }

    // Pads with zero bits to a whole byte.
    std::vector<uint8_t> Finish()
    {
        if (pendingBits_ > 0) Put(0, 8 - pendingBits_);
        return std::move(bytes_);
    }

private:
    uint64_t pending_ = 0;
    unsigned pendingBits_ = 0;
    std::vector<uint8_t> bytes_;
};

}  // namespace

MatchTable FindLongestMatches(const uint8_t* data, size_t size, const EncodeProgress& progress)
{
    assert(size < UINT32_MAX - 2 * kWindowSize);
    MatchTable table;
    table.length.assign(size, 0);
    table.position.assign(size, 0);
    std::vector<uint8_t> bytes(kWindowSize + size + kPadding, 0);
    std::copy(data, data + size, bytes.begin() + kWindowSize);
    uint32_t end = (uint32_t)(kWindowSize + size);
    MatchFinder finder(bytes.data(), end);

    for (uint32_t at = 0; at + kMinMatch <= end; at++) {
        bool nameable = !IsUnnameable(at);
        MatchFinder::Match match;
        if (finder.Limit(at) >= 3) match = nameable ? finder.InsertAndFind(at) : finder.Find(at);
        if (match.length < kMinMatch) match = finder.FindPair(at);
        if (nameable) finder.NotePair(at);
        if (at < kWindowSize) continue;  // the zeros before the input are sources only
        size_t i = at - kWindowSize;
        if (match.length >= kMinMatch) {
            table.length[i] = (uint8_t)match.length;
            table.position[i] = (uint16_t)((match.from + 1) % kWindowSize);  // index q sits at 1 + q
            assert(table.position[i] != 0);
        }
        if (progress && i % kProgressStep == 0 && i > 0) progress(i);
    }
    return table;
}

std::vector<uint8_t> EncodeStream(const uint8_t* data, size_t size, const EncodeProgress& progress)
{
    MatchTable matches = FindLongestMatches(data, size, progress);

    // cost[i]: fewest bits that encode data[i..] and the end token. Every match costs the same
    // and a match's shorter prefixes are matches too, so every length up to the longest counts.
    std::vector<uint32_t> cost(size + 1);
    cost[size] = kEndBits;
    for (size_t i = size; i-- > 0;) {
        uint32_t afterMatch = UINT32_MAX - kMatchBits;  // no match: never the cheaper
        for (unsigned length = kMinMatch; length <= matches.length[i]; length++)
            afterMatch = std::min(afterMatch, cost[i + length]);
        cost[i] = std::min(kLiteralBits + cost[i + 1], kMatchBits + afterMatch);
    }

    // Forward along one cheapest path; the choice is made again only where the path passes.
    BitWriter writer;
    for (size_t i = 0; i < size;) {
        if (cost[i] == kLiteralBits + cost[i + 1]) {
            writer.Put(1u << 8 | data[i], kLiteralBits);
            i++;
            continue;
        }
        unsigned length = kMinMatch;
        while (kMatchBits + cost[i + length] != cost[i]) length++;
        assert(length <= matches.length[i]);
        writer.Put((uint32_t)matches.position[i] << 4 | (length - kMinMatch), kMatchBits);
        i += length;
    }
    writer.Put(0, kEndBits);
    assert(writer.BitCount() == cost[0]);
    if (progress) progress(size);
    return writer.Finish();
}
