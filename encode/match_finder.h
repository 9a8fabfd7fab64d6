// Hash-chain match finder over the whole input, limited to the method's window.
#ifndef VORPANEX_ENCODE_MATCH_FINDER_H
#define VORPANEX_ENCODE_MATCH_FINDER_H

#include <stdint.h>
#include <string.h>

#include <vector>

#include "encode/encoder_internal.h"

struct Match {
    uint32_t length;
    uint32_t distance;  // distance value: bytes back minus one
};

// Bytes that a and b have in common, at most limit.
inline uint32_t CommonLength(const uint8_t* a, const uint8_t* b, uint32_t limit,
                             uint32_t length = 0) {
    while (length + 8 <= limit) {
        uint64_t x, y;
        memcpy(&x, a + length, 8);
        memcpy(&y, b + length, 8);
        if (x != y) return length + (__builtin_ctzll(x ^ y) >> 3);
        length += 8;
    }
    while (length < limit && a[length] == b[length]) ++length;
    return length;
}

inline uint16_t Load16(const uint8_t* p) {
    uint16_t value;
    memcpy(&value, p, 2);
    return value;
}

// Hash of the 3 bytes at p, in bits bits.
inline uint32_t Hash3(const uint8_t* p, int bits) {
    const uint32_t value = p[0] | (p[1] << 8) | (p[2] << 16);
    return (value * 2654435761u) >> (32 - bits);
}

class MatchFinder {
public:
    static const int HASH_BITS = 16;
    static constexpr uint32_t NIL = 0xFFFFFFFFu;
    static constexpr uint32_t CHAIN_MASK = 0x1FFFF;  // covers twice the largest window

    MatchFinder(const uint8_t* data, size_t size, uint32_t windowSize)
        : data(data), size(size), windowSize(windowSize), head(1u << HASH_BITS, NIL),
          previous(CHAIN_MASK + 1, NIL) {}

    // Adds position to its chain (positions with fewer than 3 bytes left are skipped).
    void Insert(size_t position) {
        if (position + MIN_MATCH > size) return;
        const uint32_t hash = Hash(position);
        previous[position & CHAIN_MASK] = head[hash];
        head[hash] = static_cast<uint32_t>(position);
    }

    // Longest match at position among at most maxChain candidates, stopping early at
    // niceLength; then inserts position. Length 0 when none of at least 3 bytes.
    Match FindLongest(size_t position, int maxChain, uint32_t niceLength) {
        Match best = {0, 0};
        if (position + MIN_MATCH > size) return best;
        const uint32_t hash = Hash(position);
        uint32_t candidate = head[hash];
        previous[position & CHAIN_MASK] = candidate;
        head[hash] = static_cast<uint32_t>(position);
        const uint32_t limit = Limit(position);
        uint32_t bestLength = MIN_MATCH - 1;
        const uint8_t* here = data + position;
        // A candidate can only be longer if it agrees with here on the two bytes that
        // end the best match so far, and on the first two: most of a chain fails these
        // two loads and is never compared further.
        const uint16_t start = Load16(here);
        uint16_t end = Load16(here + bestLength - 1);
        // Chains run from newer to older positions (a ring slot reused by a newer
        // position shows as a step forward, which ends the chain), and NIL is above
        // every position: so one comparison ends the walk at either.
        const size_t lowest = position > windowSize ? position - windowSize : 0;
        if (candidate == NIL) return best;
        while (candidate >= lowest && maxChain-- > 0) {
            const uint8_t* there = data + candidate;
            if (Load16(there + bestLength - 1) == end && Load16(there) == start) {
                const uint32_t length = CommonLength(here, there, limit);
                if (length > bestLength) {
                    bestLength = length;
                    end = Load16(here + bestLength - 1);
                    best.length = length;
                    best.distance = static_cast<uint32_t>(position - candidate - 1);
                    if (length >= niceLength || length == limit) break;
                }
            }
            const uint32_t next = previous[candidate & CHAIN_MASK];
            if (next >= candidate) break;
            candidate = next;
        }
        return best;
    }

    // Every improvement in length at position, shortest first (each with the nearest
    // distance that reaches it); then inserts position. Returns the count.
    int FindAll(size_t position, int maxChain, Match* out) {
        int count = 0;
        if (position + MIN_MATCH > size) return 0;
        const uint32_t hash = Hash(position);
        uint32_t candidate = head[hash];
        previous[position & CHAIN_MASK] = candidate;
        head[hash] = static_cast<uint32_t>(position);
        const uint32_t limit = Limit(position);
        uint32_t bestLength = MIN_MATCH - 1;
        const uint8_t* here = data + position;
        while (candidate != NIL && position - candidate <= windowSize && maxChain-- > 0) {
            const uint8_t* there = data + candidate;
            if (there[bestLength] == here[bestLength] && there[0] == here[0]) {
                const uint32_t length = CommonLength(here, there, limit);
                if (length > bestLength) {
                    bestLength = length;
                    out[count++] = {length, static_cast<uint32_t>(position - candidate - 1)};
                    if (length == limit) break;
                }
            }
            const uint32_t next = previous[candidate & CHAIN_MASK];
            if (next == NIL || next >= candidate) break;
            candidate = next;
        }
        return count;
    }

private:
    uint32_t Hash(size_t position) const { return Hash3(data + position, HASH_BITS); }

    uint32_t Limit(size_t position) const {
        const size_t left = size - position;
        return left < static_cast<size_t>(MAX_MATCH) ? static_cast<uint32_t>(left) : MAX_MATCH;
    }

    const uint8_t* data;
    size_t size;
    uint32_t windowSize;
    std::vector<uint32_t> head;
    std::vector<uint32_t> previous;
};

// Binary-tree match finder, for the --best parser. Every position's string is a node
// of a tree (one per hash of its first 3 bytes) ordered by the bytes that follow, with
// each node newer than the nodes below it. The descent that inserts a position visits,
// for every length, the nearest earlier position that matches that far: the nearest
// of those that match at least that far is an ancestor of where the new node goes.
class TreeMatchFinder {
public:
    static const int HASH_BITS = 16;
    static constexpr uint32_t NIL = 0xFFFFFFFFu;
    static constexpr uint32_t SLOT_MASK = 0x1FFFF;  // covers twice the largest window

    // maxDepth bounds the nodes visited per position. A small input gets a ring of
    // slots no larger than itself (no slot is then used twice).
    TreeMatchFinder(const uint8_t* data, size_t size, uint32_t windowSize, int maxDepth)
        : data(data), size(size), windowSize(windowSize), maxDepth(maxDepth),
          slotMask(RingMask(size)), head(1u << HASH_BITS, NIL),
          children(2 * (static_cast<size_t>(slotMask) + 1), NIL) {}

    // Every improvement in length at position, shortest first, each with the nearest
    // distance that reaches it; then inserts position. Returns the count.
    int FindAll(size_t position, Match* out) { return Descend(position, out); }
    void Insert(size_t position) { Descend(position, nullptr); }

private:
    int Descend(size_t position, Match* out) {
        if (position + MIN_MATCH > size) return 0;
        const uint32_t hash = Hash3(data + position, HASH_BITS);
        uint32_t candidate = head[hash];
        head[hash] = static_cast<uint32_t>(position);
        // The new node's two subtrees are built on the way down: nodes that sort
        // before it hang on the smaller side, the others on the larger side.
        uint32_t* smaller = &children[2 * (position & slotMask)];
        uint32_t* larger = smaller + 1;
        uint32_t smallerLength = 0, largerLength = 0;
        const uint32_t limit = Limit(position);
        uint32_t bestLength = MIN_MATCH - 1;
        int count = 0;
        const uint8_t* here = data + position;
        for (int depth = maxDepth; candidate != NIL && position - candidate <= windowSize &&
                                   depth > 0; --depth) {
            const uint8_t* there = data + candidate;
            // Every node below lies between the two bounds in order, so it shares at
            // least the shorter of their common lengths with here.
            const uint32_t known = smallerLength < largerLength ? smallerLength : largerLength;
            const uint32_t length = CommonLength(here, there, limit, known);
            uint32_t* node = &children[2 * (candidate & slotMask)];
            if (length > bestLength) {
                bestLength = length;
                if (out != nullptr) {
                    out[count++] = {length, static_cast<uint32_t>(position - candidate - 1)};
                }
            }
            if (length == limit) {
                // As long as the new string: the new node takes the old one's place.
                smaller[0] = node[0];
                larger[0] = node[1];
                return count;
            }
            if (there[length] < here[length]) {
                *smaller = candidate;
                smaller = node + 1;
                smallerLength = length;
                candidate = node[1];
            } else {
                *larger = candidate;
                larger = node;
                largerLength = length;
                candidate = node[0];
            }
        }
        *smaller = NIL;
        *larger = NIL;
        return count;
    }

    uint32_t Limit(size_t position) const {
        const size_t left = size - position;
        return left < static_cast<size_t>(MAX_MATCH) ? static_cast<uint32_t>(left) : MAX_MATCH;
    }

    static uint32_t RingMask(size_t size) {
        uint32_t mask = 63;
        while (mask < SLOT_MASK && mask + 1 < size) mask = mask << 1 | 1;
        return mask;
    }

    const uint8_t* data;
    size_t size;
    uint32_t windowSize;
    int maxDepth;
    uint32_t slotMask;
    std::vector<uint32_t> head;
    std::vector<uint32_t> children;  // per position slot: smaller, larger
};

#endif
