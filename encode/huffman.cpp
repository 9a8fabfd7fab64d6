// Length-limited Huffman code lengths (package-merge) and canonical codes.
#include <algorithm>
#include <vector>

#include "encode/encoder_internal.h"

namespace {

// An item of a package-merge list: a leaf (symbol >= 0) or a package of two items
// of the list below.
struct MergeItem {
    uint64_t weight;
    int symbol;  // -1 for a package
};

}  // namespace

void BuildCodeLengths(const uint32_t* frequencies, int count, int maxLength,
                      uint8_t* lengths) {
    std::vector<MergeItem> leaves;
    for (int s = 0; s < count; ++s) {
        lengths[s] = 0;
        if (frequencies[s] != 0) leaves.push_back({frequencies[s], s});
    }
    const size_t n = leaves.size();
    if (n == 0) return;
    if (n == 1) {
        lengths[leaves[0].symbol] = 1;
        return;
    }
    std::stable_sort(leaves.begin(), leaves.end(), [](const MergeItem& a, const MergeItem& b) {
        return a.weight < b.weight;
    });

    // lists[0] is the deepest level; each higher list merges the leaves with the
    // packages of pairs from the list below.
    std::vector<std::vector<MergeItem>> lists(maxLength);
    lists[0] = leaves;
    for (int level = 1; level < maxLength; ++level) {
        const std::vector<MergeItem>& below = lists[level - 1];
        std::vector<MergeItem>& list = lists[level];
        list.reserve(2 * n);
        size_t leaf = 0, pair = 0;
        const size_t packages = below.size() / 2;
        // Only the first 2n - 2 items of any list can ever be taken.
        while (list.size() < 2 * n - 2 && (leaf < n || pair < packages)) {
            if (pair < packages &&
                (leaf == n || below[2 * pair].weight + below[2 * pair + 1].weight <
                                  leaves[leaf].weight)) {
                list.push_back({below[2 * pair].weight + below[2 * pair + 1].weight, -1});
                ++pair;
            } else {
                list.push_back(leaves[leaf++]);
            }
        }
    }
    // Take the first 2n - 2 items of the top list; each leaf taken at any level adds
    // one bit to its symbol, and the packages taken say how many items below count.
    size_t take = 2 * n - 2;
    for (int level = maxLength - 1; level >= 0 && take > 0; --level) {
        size_t packagesTaken = 0;
        for (size_t i = 0; i < take; ++i) {
            const MergeItem& item = lists[level][i];
            if (item.symbol >= 0) {
                ++lengths[item.symbol];
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
