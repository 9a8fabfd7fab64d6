// Huffman decoding tables: canonical codes from code lengths, one look-up array per
// code and shared tree arrays for the codes longer than the look-up width.
//
// How codes are sent (one length per symbol, canonical, complete): archive/format.h.
//
// Notes
//   A look-up entry below symbolCount is a symbol whose code is a prefix of the entry's
//   index; an entry of symbolCount or more is a tree node. Nodes are numbered from
//   symbolCount up, so the length and distance codes (19, 14, 16 or 17 symbols) use nodes
//   below 37 and the literal/length code (510 symbols) nodes 510 to 1018: rebuilding
//   the small codes never disturbs the large one.
#ifndef VORPANEX_DECODE_TABLES_H
#define VORPANEX_DECODE_TABLES_H

#include <stdint.h>

#include "archive/format.h"

const int SYMBOL_COUNT = LITERAL_LENGTH_SYMBOLS;  // the largest code
const int TREE_SIZE = 2 * SYMBOL_COUNT - 1;

struct HuffmanTable {
    int symbolCount;
    const uint8_t* lengths;
    int tableBits;
    uint16_t* lookup;
};

// Successors of each tree node for a 0 bit and a 1 bit, shared by every table.
extern uint16_t zeroChild[TREE_SIZE];
extern uint16_t oneChild[TREE_SIZE];

// Fills lookup (2^tableBits entries) and the tree from lengths[0..symbolCount-1].
// Returns 1, or 0 without touching lookup or the tree when the lengths do not form a
// complete prefix code (a length above 16, over-full, incomplete, or no code at all).
int BuildTable(int symbolCount, const uint8_t* lengths, int tableBits, uint16_t* lookup);

// Entry of a packed look-up: the code length in bits 0..4 (the bits to take) and a
// symbol in bits 16..24, or PACKED_NODE with a node number in bits 16..25. Bits 5..15
// are 0, so that an entry is itself a shift count for a 64-bit bit buffer.
const uint32_t PACKED_NODE = 0x80000000u;
const int PACKED_VALUE_SHIFT = 16;
const uint32_t PACKED_NOT_LITERAL = PACKED_NODE | 256u << PACKED_VALUE_SHIFT;
inline uint32_t PackedEntry(uint32_t value, uint32_t length) {
    return value << PACKED_VALUE_SHIFT | length;
}
inline uint32_t PackedLength(uint32_t entry) { return entry & 63; }
inline uint32_t PackedValue(uint32_t entry) { return (entry >> PACKED_VALUE_SHIFT) & 0x3FF; }

// BuildTable that also fills `packed` (2^tableBits entries) with the same entries in
// packed form, for decoding loops that want the symbol and its length in one load.
// Either lookup or packed may be null (not both): that table is then not filled.
int BuildPackedTable(int symbolCount, const uint8_t* lengths, int tableBits, uint16_t* lookup,
                     uint32_t* packed);

// Returns the next symbol of the stream and takes its code's bits. The table must
// have been built successfully (or filled with one symbol of length 0).
int DecodeCode(const HuffmanTable& table);
// The same through a packed look-up.
int DecodePackedCode(const uint32_t* packed, int tableBits, int symbolCount,
                     const uint8_t* lengths);

#endif
