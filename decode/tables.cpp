// Huffman decoding tables: BuildTable and the table-and-tree decode of one symbol.
#include "decode/tables.h"

#include <string.h>

#include "decode/bits.h"

namespace {

// Four equal look-up entries: one 16-byte move where the processor has them, else
// four 4-byte stores (a 16-byte vector type without SSE is stored a byte at a time).
inline void StoreFour(uint32_t* at, uint32_t entry) {
#if defined(__SSE2__)
    typedef uint32_t FourEntries __attribute__((vector_size(16)));
    const FourEntries four = {entry, entry, entry, entry};
    memcpy(at, &four, sizeof four);
#else
    at[0] = entry;
    at[1] = entry;
    at[2] = entry;
    at[3] = entry;
#endif
}

}  // namespace

uint16_t zeroChild[TREE_SIZE];
uint16_t oneChild[TREE_SIZE];

static_assert(TREE_SIZE == 1019, "a complete code of n symbols has n - 1 inner nodes");
static_assert(TREE_SIZE - 1 <= 0xFFFF, "node numbers fit a look-up entry");
static_assert(TREE_SIZE - 1 <= 0x3FF, "symbols and node numbers fit a packed entry");

// Built for speed even in the stub, which is otherwise built for size: every block
// of every member builds its tables here, a tenth of the stub's decoding time at -Os.
__attribute__((optimize("O2"))) int BuildPackedTable(int symbolCount, const uint8_t* lengths,
                                                     int tableBits, uint16_t* lookup,
                                                     uint32_t* packed) {
    // Count the code space the lengths ask for before handing any of it out: a set
    // that does not fill 2^16 left-aligned code values exactly is refused here, which
    // also bounds every fill below and the number of nodes created.
    // Two counts per length, for even and odd symbols: runs of equal lengths then do
    // not wait on the count they just stored. A length above 16 is counted in bounds
    // (masked) and refused after the loop.
    if (symbolCount > SYMBOL_COUNT) return 0;  // more than the tree and the sort hold
    uint32_t counts[2][32] = {};
    uint32_t longest = 0;
    int k = 0;
    for (; k + 1 < symbolCount; k += 2) {
        const uint32_t even = lengths[k];
        const uint32_t odd = lengths[k + 1];
        longest = even > longest ? even : longest;
        longest = odd > longest ? odd : longest;
        ++counts[0][even & 31];
        ++counts[1][odd & 31];
    }
    if (k < symbolCount) {
        longest = lengths[k] > longest ? lengths[k] : longest;
        ++counts[0][lengths[k] & 31];
    }
    if (longest > MAX_CODE_LENGTH) return 0;
    uint32_t count[MAX_CODE_LENGTH + 1];
    for (int length = 0; length <= MAX_CODE_LENGTH; ++length) {
        count[length] = counts[0][length] + counts[1][length];
    }
    uint32_t space = 0;
    for (int length = 1; length <= MAX_CODE_LENGTH; ++length) {
        space += count[length] << (MAX_CODE_LENGTH - length);
    }
    if (space != 1u << MAX_CODE_LENGTH) return 0;

    // Canonical codes: by length, and within a length in symbol order. Where each
    // length's codes begin: an index into the look-up for the codes that fit it, a
    // left-aligned 16-bit value for the longer ones, whose look-up entries come after
    // all the short codes' runs.
    const uint32_t tableSize = 1u << tableBits;
    const int shift = MAX_CODE_LENGTH - tableBits;
    uint32_t nextCode[MAX_CODE_LENGTH + 1];
    uint32_t index = 0;
    for (int length = 1; length <= tableBits; ++length) {
        nextCode[length] = index;
        index += count[length] << (tableBits - length);
    }
    uint32_t first = index << shift;
    for (int length = tableBits + 1; length <= MAX_CODE_LENGTH; ++length) {
        nextCode[length] = first;
        first += count[length] << (MAX_CODE_LENGTH - length);
    }
    // The entries left hang the longer codes' trees; 0 marks one without a node yet.
    if (lookup != nullptr) {
        for (uint32_t i = index; i < tableSize; ++i) lookup[i] = 0;
    }
    if (packed != nullptr) {
        for (uint32_t i = index; i < tableSize; ++i) packed[i] = 0;
    }

    // One pass over the symbols: a short code fills its run of look-up entries; a
    // longer one hangs from the look-up entry of its first tableBits bits, one tree
    // level per further bit.
    const uint32_t treeBit = 1u << (15 - tableBits);
    uint32_t nextNode = static_cast<uint32_t>(symbolCount);
    for (int s = 0; s < symbolCount; ++s) {
        const int length = lengths[s];
        if (length == 0) continue;
        const uint32_t symbol = static_cast<uint32_t>(s);
        if (length <= tableBits) {
            const uint32_t step = 1u << (tableBits - length);
            const uint32_t at = nextCode[length];
            nextCode[length] = at + step;
            if (lookup != nullptr) {
                for (uint32_t i = at; i < at + step; ++i) lookup[i] = static_cast<uint16_t>(symbol);
            }
            if (packed != nullptr) {
                const uint32_t entry = PackedEntry(symbol, static_cast<uint32_t>(length));
                if (step >= 4) {
                    for (uint32_t i = at; i < at + step; i += 4) StoreFour(packed + i, entry);
                } else {
                    for (uint32_t i = at; i < at + step; ++i) packed[i] = entry;
                }
            }
            continue;
        }
        uint32_t code = nextCode[length];
        nextCode[length] = code + (1u << (MAX_CODE_LENGTH - length));
        const uint32_t at = code >> shift;
        uint16_t root = lookup != nullptr ? lookup[at]
                                          : static_cast<uint16_t>(PackedValue(packed[at]));
        if (root == 0) {
            // Complete codes create at most symbolCount - 1 nodes.
            zeroChild[nextNode] = 0;
            oneChild[nextNode] = 0;
            root = static_cast<uint16_t>(nextNode++);
            if (lookup != nullptr) lookup[at] = root;
            if (packed != nullptr) packed[at] = PackedEntry(root, 0) | PACKED_NODE;
        }
        uint16_t* slot = (code & treeBit) != 0 ? &oneChild[root] : &zeroChild[root];
        code <<= 1;
        for (int bit = length - tableBits - 1; bit > 0; --bit) {
            if (*slot == 0) {
                zeroChild[nextNode] = 0;
                oneChild[nextNode] = 0;
                *slot = static_cast<uint16_t>(nextNode++);
            }
            slot = (code & treeBit) != 0 ? &oneChild[*slot] : &zeroChild[*slot];
            code <<= 1;
        }
        *slot = static_cast<uint16_t>(symbol);
    }
    return 1;
}

int BuildTable(int symbolCount, const uint8_t* lengths, int tableBits, uint16_t* lookup) {
    return BuildPackedTable(symbolCount, lengths, tableBits, lookup, nullptr);
}

int DecodeCode(const HuffmanTable& table) {
    const uint32_t buffer = bitReader.bitBuffer;
    uint32_t symbol = table.lookup[buffer >> (32 - table.tableBits)];
    uint32_t mask = 1u << (31 - table.tableBits);
    while (symbol >= static_cast<uint32_t>(table.symbolCount)) {
        symbol = (buffer & mask) != 0 ? oneChild[symbol] : zeroChild[symbol];
        mask >>= 1;
    }
    FillBits(table.lengths[symbol]);
    return static_cast<int>(symbol);
}

int DecodePackedCode(const uint32_t* packed, int tableBits, int symbolCount,
                     const uint8_t* lengths) {
    const uint32_t buffer = bitReader.bitBuffer;
    const uint32_t entry = packed[buffer >> (32 - tableBits)];
    if ((entry & PACKED_NODE) == 0) {
        FillBits(static_cast<int>(PackedLength(entry)));
        return static_cast<int>(PackedValue(entry));
    }
    uint32_t symbol = PackedValue(entry);
    uint32_t mask = 1u << (31 - tableBits);
    while (symbol >= static_cast<uint32_t>(symbolCount)) {
        symbol = (buffer & mask) != 0 ? oneChild[symbol] : zeroChild[symbol];
        mask >>= 1;
    }
    FillBits(lengths[symbol]);
    return static_cast<int>(symbol);
}
