// Block decoder for "-lh4-" to "-lh7-": LZSS over a 32 KiB window (64 KiB for -lh7-)
// with static Huffman codes sent anew in every block. The stream: archive/format.h.
#ifndef VORPANEX_DECODE_BLOCK_H
#define VORPANEX_DECODE_BLOCK_H

#include <stdint.h>

#include "archive/format.h"
#include "decode/decoder.h"
#include "decode/tables.h"

const int MAX_AUX_COUNT = 31;  // the largest 5-bit count
const int SYMBOL_TABLE_BITS = 12;
const int AUX_TABLE_BITS = 8;
const int NO_SPECIAL_INDEX = -1;

struct BlockDecoder {
    int distanceCodeCount;
    int distanceCountBits;
    uint32_t windowSize;   // WINDOW_SIZE, or LARGE_WINDOW_SIZE for -lh7-
    uint32_t chunkStart;   // window position of the next chunk's first byte
    uint32_t blockRemaining;
    int32_t copyRemaining;
    uint32_t copySource;
    uint8_t symbolLengths[SYMBOL_COUNT];
    uint8_t auxLengths[MAX_AUX_COUNT];
    uint16_t auxTable[1 << AUX_TABLE_BITS];
    // The literal/length look-up (packed entries: symbol and code length, or a node),
    // and the distance look-up again in packed form, so that DecodeChunk resolves a
    // short code with one load.
    uint32_t symbolPacked[1 << SYMBOL_TABLE_BITS];
    uint32_t distancePacked[1 << AUX_TABLE_BITS];
#if defined(__i386__)
    // The i686 loop's distance look-up: per entry the bits to take for the code and its
    // extra bits together, and what to add to them (DISTANCE_*; decode/block.cpp).
    uint32_t distanceFast[1 << AUX_TABLE_BITS];
#endif
    // Set once the member's data went outside the format's limits; from then on the
    // member decodes as zero bytes. Cleared by BeginDecode.
    int badData;
};

extern BlockDecoder blockDecoder;

// The distance code over the decoder's arrays, for the byte-at-a-time path (the
// literal/length code is read through symbolPacked, the length code through
// distancePacked while the code lengths are read).
HuffmanTable DistanceCode();

// Next literal/length symbol (0..509), opening a block first when needed. Returns 0
// with badData set when the block's code lengths were outside the limits.
int ReadSymbol();
// Next distance value (0..32767).
uint32_t ReadDistance();
// Reads the lengths of the length code or the distance code and builds auxTable.
// specialIndex is 3 for the length code, NO_SPECIAL_INDEX for the distance code.
// Returns 1, or 0 for lengths outside the limits.
int ReadAuxLengths(int symbols, int countBits, int specialIndex);
// Reads the literal/length code's lengths and builds symbolPacked. Returns 1 or 0.
int ReadSymbolLengths();
// Reads a block's size and its three codes. Returns 1 or 0 (then badData is set).
int OpenBlock();

// The same output as DecodeChunk, one symbol and one byte at a time through the
// operations above; slower, kept as the reference the fast path is tested against.
const uint8_t* DecodeChunkBytewise(uint32_t count, uint8_t* buffer);

#endif
