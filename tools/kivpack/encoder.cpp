// The encoder of the program stream: exact longest matches, then a shortest-path parse.
//
// The decoder's window is a ring written in order from position 1, so naming window position
// P for output byte i copies from output index i - d, d = (1 + i - P) mod 4,096 (0 meaning
// 4,096), as in ordinary LZ77 over the output preceded by 4,096 zero bytes (the window before
// anything is written). Position 0 cannot be named: it holds the byte at the latest output
// index i' < i with i' = 4,095 mod 4,096, and that is the only index of this residue within
// 4,096 bytes back. Leaving those indices out of the match finder leaves out exactly the
// matches the format cannot express.
//
// The match finder numbers the bytes so that a byte's number mod 4,096 is the window position
// it is written to: output index i is kOrigin + i, the zeros come just before, the indices
// left out are the multiples of 4,096, and 0 is before every window.
#include "encoder.h"

#include <algorithm>
#include <cassert>
#include <cstring>

#include "package/decoder.h"

namespace {

constexpr uint32_t kOrigin = 2 * kWindowSize + 1;
constexpr uint32_t kNone = 0;  // as a position, out of every window
constexpr size_t kProgressStep = 1 << 20;
constexpr unsigned kKeyBits = 16;
// Tree nodes sit by position mod twice the window, so a node has left every window before
// its slot is reused, and a link is live exactly when it points into the window.
constexpr uint32_t kSlots = 2 * kWindowSize;
// Strings are compared over all 17 bytes, also into the zeros after the input near its end,
// eight bytes at a time: up to 24 bytes from a position are read.
constexpr size_t kPadding = kMaxMatch + 7;

uint64_t Load64(const uint8_t* bytes)
{
    uint64_t value;
    memcpy(&value, bytes, 8);
    return value;
}

uint32_t Load32(const uint8_t* bytes)
{
    uint32_t value;
    memcpy(&value, bytes, 4);
    return value;
}

uint32_t Load16(const uint8_t* bytes)
{
    uint16_t value;
    memcpy(&value, bytes, 2);
    return value;
}

// Extends `*length`, a prefix `here` and `there` share that is shorter than 17 bytes, to all
// they share, or to 17 or past it; short of 17, tells whether `there` sorts first.
inline bool Compare(const uint8_t* here, const uint8_t* there, uint32_t* length)
{
    uint32_t n = *length;
    do {
        uint64_t difference = Load64(there + n) ^ Load64(here + n);
        if (difference != 0) {
            n += __builtin_ctzll(difference) / 8;  // little-endian: the first byte that differs
            *length = n;
            return there[n] < here[n];
        }
        n += 8;
    } while (n < kMaxMatch);
    *length = n;
    return false;
}

// Finds, position after position, the longest match among the 4,096 positions before, over
// the 17 bytes at each; near the end these run into the padding, and the caller cuts them.
//
// Matches of four or more come from binary trees of the window's positions, one per hash of
// the first four bytes, ordered by the 17 bytes at each position and newest at the root, so
// that every node is newer than its children and the first node out of the window ends a
// descent. A search descends to where the query's bytes sort and passes both its neighbours
// in that order; one of them shares the longest prefix with it, so such a match is found
// exactly. When a node matches all 17 bytes the new position takes its place, so a tree holds
// each string once and runs stay cheap. Three-byte matches come from the latest position of
// each three-byte hash, chained to the one before, and two-byte ones from the latest of each
// byte pair. Keyed by four bytes, the trees leave out the strings that share only three with
// the query, and the chain costs less than the nodes they would take.
class MatchFinder {
public:
    struct Match { uint32_t length = 0; uint32_t from = 0; };

    // `bytes` holds the positions matched and kPadding more.
    explicit MatchFinder(const uint8_t* bytes)
        : bytes_(bytes), root_(1 << kKeyBits, kNone), child_(2 * kSlots, kNone),
          lastTriple_(1 << kKeyBits, kNone), previousTriple_(kWindowSize, kNone), lastPair_(1 << 16, kNone)
    {
    }

    // The longest match at `at` among the positions before; then `at` becomes one of them.
    Match Insert(uint32_t at)
    {
        uint32_t four = Load32(bytes_ + at);
        Match match = InsertAndFind(at, four);
        uint32_t* triple = &lastTriple_[TripleKey(four)];
        if (match.length < 3) match = Longer(match, FindTriple(at, *triple, four));
        previousTriple_[at % kWindowSize] = *triple;
        *triple = at;
        uint32_t* pair = &lastPair_[Load16(bytes_ + at)];
        if (match.length < kMinMatch) match = *pair >= at - kWindowSize ? Match{kMinMatch, *pair} : Match{};
        *pair = at;
        return match;
    }

    // The same for a position no match may name, which does not become a source.
    Match Find(uint32_t at) const
    {
        uint32_t four = Load32(bytes_ + at);
        Match match = FindInTree(at, four);
        if (match.length < 3) match = Longer(match, FindTriple(at, lastTriple_[TripleKey(four)], four));
        uint32_t pair = lastPair_[Load16(bytes_ + at)];
        if (match.length < kMinMatch) match = pair >= at - kWindowSize ? Match{kMinMatch, pair} : Match{};
        return match;
    }

private:
    // Along the descent, the links still to be written wait on the smaller and the larger side,
    // each in the last node passed on that side. Every node passed on a side sorts between the
    // one before it there and `at`, so it shares at least as much with `at`: that last node is
    // also the side's longest match.
    Match InsertAndFind(uint32_t at, uint32_t four)
    {
        const uint8_t* here = bytes_ + at;
        uint32_t oldest = at - kWindowSize;  // the farthest a match may start
        uint32_t* root = &root_[Key(four)];
        uint32_t candidate = *root;
        *root = at;
        uint32_t* smallerLink = Children(at);
        uint32_t* largerLink = smallerLink + 1;
        Match smaller, larger;
        while (candidate >= oldest) {
            uint32_t* children = Children(candidate);
            uint32_t length = std::min(smaller.length, larger.length);
            bool before = Compare(here, bytes_ + candidate, &length);
            if (length >= kMaxMatch) {  // the same string: `at` takes the older node's place
                *smallerLink = children[0];
                *largerLink = children[1];
                return {kMaxMatch, candidate};
            }
            // A branch, though the data decides it: a branchless step costs more instructions
            // than the mispredictions it saves.
            if (before) {
                *smallerLink = candidate;
                smallerLink = &children[1];
                smaller = {length, candidate};
                candidate = children[1];
            } else {
                *largerLink = candidate;
                largerLink = &children[0];
                larger = {length, candidate};
                candidate = children[0];
            }
        }
        *smallerLink = *largerLink = kNone;
        return Longer(smaller, larger);
    }

    // The same search, leaving the trees as they are.
    Match FindInTree(uint32_t at, uint32_t four) const
    {
        uint32_t oldest = at - kWindowSize;
        uint32_t candidate = root_[Key(four)];
        uint32_t known[2] = {0, 0};
        Match best;
        while (candidate >= oldest) {
            uint32_t length = std::min(known[0], known[1]);
            bool before = Compare(bytes_ + at, bytes_ + candidate, &length);
            best = Longer(best, {std::min(length, kMaxMatch), candidate});
            if (length >= kMaxMatch) break;
            known[before] = length;
            candidate = child_[2 * (candidate % kSlots) + before];
        }
        return best;
    }

    // The newest position from `candidate` down its chain that starts with `at`'s three bytes.
    // A chained position in the window still has its own link: only `at` reuses its slot.
    Match FindTriple(uint32_t at, uint32_t candidate, uint32_t four) const
    {
        uint32_t oldest = at - kWindowSize;
        for (; candidate >= oldest; candidate = previousTriple_[candidate % kWindowSize])
            if ((Load32(bytes_ + candidate) ^ four) << 8 == 0) return {3, candidate};  // little-endian
        return {};
    }

    // The smaller and the larger child of the node at `at`.
    uint32_t* Children(uint32_t at) { return &child_[2 * (at % kSlots)]; }

    // Any hash of the first four bytes: positions that share them share a tree.
    static uint32_t Key(uint32_t four) { return four * 2654435761u >> (32 - kKeyBits); }
    // Any hash of the first three, which are the low bytes of the four.
    static uint32_t TripleKey(uint32_t four) { return (four << 8) * 2654435761u >> (32 - kKeyBits); }

    static Match Longer(Match a, Match b) { return a.length >= b.length ? a : b; }

    const uint8_t* bytes_;
    std::vector<uint32_t> root_;            // by key: the newest position
    std::vector<uint32_t> child_;           // by slot: the smaller and the larger child
    std::vector<uint32_t> lastTriple_;      // by triple key: the latest position
    std::vector<uint32_t> previousTriple_;  // by position mod 4,096: the latest before it with its key
    std::vector<uint32_t> lastPair_;        // by the two bytes there: the latest position
};

class BitWriter {
public:
    explicit BitWriter(size_t bytes) { bytes_.reserve(bytes); }

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

// The longest match at each of data[0..size), into `lengths` and `positions` as in MatchTable.
// Both come zeroed; the last position, where no match fits, is left so.
void FindMatches(const uint8_t* data, size_t size, const EncodeProgress& progress, uint8_t* lengths,
                 uint16_t* positions)
{
    assert(size < UINT32_MAX - 2 * kOrigin);
    std::vector<uint8_t> bytes;
    bytes.reserve(kOrigin + size + kPadding);
    bytes.resize(kOrigin);
    bytes.insert(bytes.end(), data, data + size);
    bytes.resize(kOrigin + size + kPadding);
    uint32_t end = (uint32_t)(kOrigin + size);
    MatchFinder finder(bytes.data());

    // The zeros and the input in one loop, so that the finder's steps are expanded inline once.
    for (uint32_t at = kOrigin - kWindowSize; at + 1 < end; at++) {
        MatchFinder::Match match = at % kWindowSize != 0 ? finder.Insert(at) : finder.Find(at);
        if (at < kOrigin) continue;  // the zeros are sources only
        size_t i = at - kOrigin;
        lengths[i] = (uint8_t)match.length;
        positions[i] = (uint16_t)(match.from % kWindowSize);
        if (i % kProgressStep == 0 && i > 0 && progress) progress(i);
    }
    for (size_t i = size - std::min<size_t>(size, kMaxMatch); i < size; i++)
        lengths[i] = (uint8_t)std::min<size_t>(lengths[i], size - i);  // those that ran into the padding
}

}  // namespace

MatchTable FindLongestMatches(const uint8_t* data, size_t size, const EncodeProgress& progress)
{
    MatchTable table;
    table.length.resize(size);
    table.position.resize(size);
    FindMatches(data, size, progress, table.length.data(), table.position.data());
    return table;
}

std::vector<uint8_t> EncodeStream(const uint8_t* data, size_t size, const EncodeProgress& progress)
{
    std::vector<uint8_t> longest(size + 1);  // one more, 0, on which `first` below stops
    std::vector<uint16_t> from(size);
    FindMatches(data, size, progress, longest.data(), from.data());

    // bits(j): fewest bits that encode data[..j), by the token that ends at j. A match's
    // shorter prefixes are matches too, so dropping a parse's last byte never costs more, and
    // bits() never decreases: of all the matches that can end at j, the one that starts first
    // is the cheapest. That start only moves forward, as j does. No token reaches back more
    // than 17, so a ring of the latest 32 bits() is enough.
    constexpr size_t kRing = 32;
    uint32_t bits[kRing] = {0};
    std::vector<uint8_t> token(size + 1);  // the length of that token, 1 for a literal
    size_t first = 0, reach = longest[0];  // the first start whose match reaches j, and how far
    for (size_t j = 1; j <= size; j++) {
        while (reach < j) {
            first++;
            reach = first + longest[first];
        }
        uint32_t viaLiteral = bits[(j - 1) % kRing] + kLiteralBits;
        uint32_t viaMatch = first + kMinMatch <= j ? bits[first % kRing] + kMatchBits : UINT32_MAX;
        bits[j % kRing] = std::min(viaLiteral, viaMatch);
        token[j] = (uint8_t)(viaMatch < viaLiteral ? j - first : 1);
    }
    uint32_t fewest = bits[size % kRing] + kEndBits;

    // Back along the cheapest path, moving each token's length from its end to its start; the
    // way back has read what was there before it is overwritten.
    for (size_t j = size, length = token[j]; j > 0;) {
        size_t start = j - length;
        size_t before = token[start];
        token[start] = (uint8_t)length;
        j = start;
        length = before;
    }

    BitWriter writer((fewest + 7) / 8);
    for (size_t i = 0; i < size; i += token[i]) {
        if (token[i] == 1) {
            writer.Put(1u << 8 | data[i], kLiteralBits);
        } else {
            assert(token[i] <= longest[i] && from[i] != 0);
            writer.Put((uint32_t)from[i] << 4 | (token[i] - kMinMatch), kMatchBits);
        }
    }
    writer.Put(0, kEndBits);
    assert(writer.BitCount() == fewest);
    if (progress) progress(size);
    return writer.Finish();
}
