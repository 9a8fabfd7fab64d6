// Length-limited Huffman code lengths (package-merge) and canonical codes.
#include <string.h>

#include "encode/encoder_internal.h"

namespace {

const int MAX_LEAVES = 512;
const int MAX_LIST = 2 * MAX_LEAVES;

// The package-merge lists of one call: lists[0] is the deepest level. An item is a
// leaf (symbol >= 0) or a package of two items of the list below (symbol -1).
struct MergeLists {
    uint64_t weight[MAX_CODE_LENGTH][MAX_LIST];
    int16_t symbol[MAX_CODE_LENGTH][MAX_LIST];
    uint32_t size[MAX_CODE_LENGTH];
};

// Clears lengths and writes the used symbols as sort keys (weight above, symbol in the
// low 16 bits), sorted: leaves by increasing weight, ties by symbol. Returns their number.
size_t SortedLeafKeys(const uint32_t* frequencies, int count, uint8_t* lengths,
                      uint64_t* keys) {
    // Symbols go in in increasing order, so a stable sort by weight leaves ties by symbol.
    uint64_t scratch[MAX_LEAVES];
    size_t n = 0;
    uint32_t all = 0;
    for (int s = 0; s < count; ++s) {
        const uint32_t f = frequencies[s];
        lengths[s] = 0;
        scratch[n] = static_cast<uint64_t>(f) << 16 | static_cast<uint32_t>(s);
        n += f != 0;
        all |= f;
    }
    if (n < 64) {
        for (size_t i = 0; i < n; ++i) {
            const uint64_t key = scratch[i];
            size_t j = i;
            for (; j > 0 && keys[j - 1] > key; --j) keys[j] = keys[j - 1];
            keys[j] = key;
        }
        return n;
    }
    // Least significant byte of the weight first, as far as any weight has bits.
    uint64_t* from = scratch;
    uint64_t* to = keys;
    for (int shift = 16; shift < 48 && (all >> (shift - 16)) != 0; shift += 8) {
        size_t start[257] = {};
        for (size_t i = 0; i < n; ++i) ++start[((from[i] >> shift) & 0xFF) + 1];
        for (int b = 0; b < 256; ++b) start[b + 1] += start[b];
        for (size_t i = 0; i < n; ++i) to[start[(from[i] >> shift) & 0xFF]++] = from[i];
        uint64_t* swap = from;
        from = to;
        to = swap;
    }
    if (from != keys) memcpy(keys, from, n * sizeof(uint64_t));
    return n;
}

}  // namespace

void BuildCodeLengths(const uint32_t* frequencies, int count, int maxLength,
                      uint8_t* lengths) {
    uint64_t keys[MAX_LEAVES];
    const size_t n = SortedLeafKeys(frequencies, count, lengths, keys);
    uint64_t leafWeight[MAX_LEAVES];
    int16_t leafSymbol[MAX_LEAVES];
    for (size_t i = 0; i < n; ++i) {
        leafWeight[i] = keys[i] >> 16;
        leafSymbol[i] = static_cast<int16_t>(keys[i] & 0xFFFF);
    }
    if (n == 0) return;
    if (n == 1) {
        lengths[leafSymbol[0]] = 1;
        return;
    }

    // Each higher list merges the leaves with the packages of pairs from the list
    // below; only the first 2n - 2 items of any list can ever be taken.
    static thread_local MergeLists lists;
    const size_t limit = 2 * n - 2;
    for (size_t i = 0; i < n; ++i) {
        lists.weight[0][i] = leafWeight[i];
        lists.symbol[0][i] = leafSymbol[i];
    }
    lists.size[0] = static_cast<uint32_t>(n);
    for (int level = 1; level < maxLength; ++level) {
        const uint64_t* below = lists.weight[level - 1];
        uint64_t* weight = lists.weight[level];
        int16_t* symbol = lists.symbol[level];
        size_t size = 0, leaf = 0, pair = 0;
        const size_t packages = lists.size[level - 1] / 2;
        while (size < limit && (leaf < n || pair < packages)) {
            const uint64_t packageWeight =
                pair < packages ? below[2 * pair] + below[2 * pair + 1] : 0;
            if (pair < packages && (leaf == n || packageWeight < leafWeight[leaf])) {
                weight[size] = packageWeight;
                symbol[size++] = -1;
                ++pair;
            } else {
                weight[size] = leafWeight[leaf];
                symbol[size++] = leafSymbol[leaf++];
            }
        }
        lists.size[level] = static_cast<uint32_t>(size);
    }
    // Take the first 2n - 2 items of the top list; each leaf taken at any level adds
    // one bit to its symbol, and the packages taken say how many items below count.
    size_t take = limit;
    for (int level = maxLength - 1; level >= 0 && take > 0; --level) {
        size_t packagesTaken = 0;
        const int16_t* symbol = lists.symbol[level];
        for (size_t i = 0; i < take; ++i) {
            if (symbol[i] >= 0) {
                ++lengths[symbol[i]];
            } else {
                ++packagesTaken;
            }
        }
        take = 2 * packagesTaken;
    }
}

void BuildQuickCodeLengths(const uint32_t* frequencies, int count, int maxLength,
                           uint8_t* lengths) {
    uint64_t keys[MAX_LEAVES];
    const size_t n = SortedLeafKeys(frequencies, count, lengths, keys);
    if (n <= 1) {
        if (n == 1) lengths[keys[0] & 0xFFFF] = 1;
        return;
    }
    // Two queues: the sorted leaves and the internal nodes, made in order of weight.
    uint64_t nodeWeight[MAX_LEAVES];
    uint16_t leafParent[MAX_LEAVES], nodeParent[MAX_LEAVES];
    uint8_t nodeDepth[MAX_LEAVES];
    size_t leaf = 0, node = 0;
    for (size_t made = 0; made + 1 < n; ++made) {
        uint64_t weight = 0;
        for (int pick = 0; pick < 2; ++pick) {
            if (leaf < n && (node >= made || (keys[leaf] >> 16) <= nodeWeight[node])) {
                weight += keys[leaf] >> 16;
                leafParent[leaf++] = static_cast<uint16_t>(made);
            } else {
                weight += nodeWeight[node];
                nodeParent[node++] = static_cast<uint16_t>(made);
            }
        }
        nodeWeight[made] = weight;
    }
    const size_t root = n - 2;
    nodeDepth[root] = 0;
    int deepest = 0;
    for (size_t k = root; k-- > 0;) {
        const int depth = nodeDepth[nodeParent[k]] + 1;
        if (depth > MAX_CODE_LENGTH) {
            BuildCodeLengths(frequencies, count, maxLength, lengths);
            return;
        }
        nodeDepth[k] = static_cast<uint8_t>(depth);
    }
    for (size_t i = 0; i < n; ++i) {
        const int depth = nodeDepth[leafParent[i]] + 1;
        deepest = depth > deepest ? depth : deepest;
        lengths[keys[i] & 0xFFFF] = static_cast<uint8_t>(depth);
    }
    if (deepest > maxLength) BuildCodeLengths(frequencies, count, maxLength, lengths);
}

void BuildCanonicalCodes(const uint8_t* lengths, int count, uint16_t* codes) {
    uint32_t perLength[MAX_CODE_LENGTH + 1] = {};
    for (int s = 0; s < count; ++s) ++perLength[lengths[s]];
    perLength[0] = 0;
    uint32_t next[MAX_CODE_LENGTH + 2] = {};
    uint32_t code = 0;
    for (int length = 1; length <= MAX_CODE_LENGTH; ++length) {
        code = (code + perLength[length - 1]) << 1;
        next[length] = code;
    }
    for (int s = 0; s < count; ++s) {
        codes[s] = lengths[s] != 0 ? static_cast<uint16_t>(next[lengths[s]]++) : 0;
    }
}
