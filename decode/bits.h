// Bit input of the decoder: a 32-bit look-ahead over one member's compressed bytes.
//
// Format notes
//   Compressed data is read most significant bit first: the first bit of the stream is
//   bit 7 of the member's first data byte, and a multi-bit field is big-endian (its
//   first bit is its most significant).
//
// The record and its rules
//   bitBuffer  the next 32 stream bits; bit 31 is the next bit to be taken.
//   spareByte  the byte most recently taken (0 for a byte supplied past the member's end).
//   spareBits  how many low bits of spareByte have not yet entered bitBuffer (0..8); the
//              high 8 - spareBits bits of spareByte are the low bits of bitBuffer.
//   Bytes come from archiveReader.ReadByte() while extractionState.packedRemaining is
//   not 0 (one decrement per byte); after that the stream is zero bits without end,
//   counted in bytesPastEnd so that a member whose decoding needs them is refused.
//   A byte is taken only when the look-ahead needs one of its bits, so after k bits
//   have been taken, min(packed size, ceil((32 + k) / 8)) bytes have been read, and the
//   reader stands at the next member's header once a well-formed member is decoded.
#ifndef VORPANEX_DECODE_BITS_H
#define VORPANEX_DECODE_BITS_H

#include <stdint.h>

#include "archive/archive.h"

struct BitReader {
    uint32_t bitBuffer;
    uint32_t spareByte;
    int spareBits;
    uint32_t bytesPastEnd;  // zero bytes supplied past the member's packed data
};

extern BitReader bitReader;

// value << shift and value >> shift for shift 0..32, with 32 giving 0 on every target.
inline uint32_t ShiftLeft32(uint32_t value, int shift) {
    return shift >= 32 ? 0u : value << shift;
}
inline uint32_t ShiftRight32(uint32_t value, int shift) {
    return shift >= 32 ? 0u : value >> shift;
}

// The next byte of the member's compressed data, or 0 past its end.
inline uint32_t TakePackedByte() {
    if (extractionState.packedRemaining == 0) {
        ++bitReader.bytesPastEnd;
        return 0;
    }
    --extractionState.packedRemaining;
    return archiveReader.ReadByte();
}

// Takes n bits (0..32): drops the top n bits of bitBuffer and brings the next n in.
inline void FillBits(int n) {
    BitReader& br = bitReader;
    br.bitBuffer = ShiftLeft32(br.bitBuffer, n);
    while (n > br.spareBits) {
        n -= br.spareBits;
        br.bitBuffer |= ShiftLeft32(br.spareByte, n);
        br.spareByte = TakePackedByte();
        br.spareBits = 8;
    }
    br.spareBits -= n;
    br.bitBuffer |= br.spareByte >> br.spareBits;
}

// Returns the next n bits (1..16) as a big-endian number and takes them.
inline uint32_t GetBits(int n) {
    const uint32_t value = bitReader.bitBuffer >> (32 - n);
    FillBits(n);
    return value;
}

// Resets the record and takes the member's first 32 bits.
void InitBits();

// Non-zero once the decoder has taken a bit beyond the member's packed data. The 32
// bits of look-ahead and the spare bits hold what was supplied but not yet taken.
inline int BitsTakenPastEnd() {
    return 8u * bitReader.bytesPastEnd > 32u + static_cast<unsigned>(bitReader.spareBits) ? 1 : 0;
}

#endif
