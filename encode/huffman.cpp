// Length-limited Huffman code lengths (package-merge) and canonical codes.
#include <algorithm>

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

}  // namespace

void BuildCodeLengths(const uint32_t* frequencies, int count, int maxLength,
                      uint8_t* lengths) {
    // Leaves by increasing weight, ties by symbol: both in one sort key.
    uint64_t keys[MAX_LEAVES];
    size_t n = 0;
    for (int s = 0; s < count; ++s) {
        lengths[s] = 0;
        if (frequencies[s] != 0) keys[n++] = static_cast<uint64_t>(frequencies[s]) << 16 | s;
    }
    std::sort(keys, keys + n);
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
