// Block decoder: block headers and code lengths, and DecodeChunk's symbol loop.
#include "decode/block.h"

#include <string.h>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "archive/archive.h"
#include "decode/bits.h"

BlockDecoder blockDecoder;

namespace {

#ifdef __OPTIMIZE_SIZE__
const bool SIZE_BUILD = true;
#else
const bool SIZE_BUILD = false;
#endif
const int MAX_LENGTH_ESCAPE = MAX_CODE_LENGTH - 7;

static_assert((WINDOW_SIZE & (WINDOW_SIZE - 1)) == 0 &&
                  (LARGE_WINDOW_SIZE & (LARGE_WINDOW_SIZE - 1)) == 0,
              "positions wrap by masking");
static_assert(1u << (MAX_DISTANCE_CODES - 1) == LARGE_WINDOW_SIZE,
              "the largest distance value, plus one, is the large window's size");
static_assert(LARGE_WINDOW_SIZE == 2 * WINDOW_SIZE,
              "the large window holds two chunks, written in turn");
static_assert(sizeof(extractionState.windowBuffer) == LARGE_WINDOW_SIZE,
              "the window buffer holds the large window");
static_assert(MAX_MATCH <= static_cast<int>(WINDOW_SIZE), "a match fits the window");
static_assert(SYMBOL_COUNT == 256 + MAX_MATCH - 2, "literals and match lengths 3..256");
static_assert(MAX_AUX_COUNT >= LENGTH_CODE_SYMBOLS && MAX_AUX_COUNT >= MAX_DISTANCE_CODES,
              "every counted length fits auxLengths");
static_assert(3 + 3 <= MAX_AUX_COUNT, "the zero run after the third length fits auxLengths");
static_assert(2 * LENGTH_CODE_SYMBOLS - 1 <= SYMBOL_COUNT,
              "the small codes' nodes stay below the literal/length code's first node");
static_assert(sizeof(blockDecoder.symbolPacked) / sizeof(uint32_t) == 1u << SYMBOL_TABLE_BITS,
              "symbolPacked has 2^12 entries");
static_assert(sizeof(blockDecoder.auxTable) / sizeof(uint16_t) == 1u << AUX_TABLE_BITS,
              "auxTable has 2^8 entries");

void FillLookup(uint16_t* lookup, uint32_t* packed, int tableBits, uint32_t symbol) {
    if (lookup != nullptr) {
        for (uint32_t i = 0; i < (1u << tableBits); ++i) lookup[i] = static_cast<uint16_t>(symbol);
    }
    for (uint32_t i = 0; i < (1u << tableBits); ++i) packed[i] = PackedEntry(symbol, 0);
}

// One length of a length list: 3 bits, and for 7 a run of one-bits closed by a zero.
// Returns the length, or -1 for a run longer than a 16-bit code allows.
int ReadLengthField() {
    const uint32_t value = bitReader.bitBuffer >> 29;
    if (value < 7) {
        FillBits(3);
        return static_cast<int>(value);
    }
    int ones = 0;
    uint32_t mask = 1u << 28;
    while ((bitReader.bitBuffer & mask) != 0) {
        if (++ones > MAX_LENGTH_ESCAPE) return -1;
        mask >>= 1;
    }
    FillBits(3 + ones + 1);
    return 7 + ones;
}

inline void Copy4(uint8_t* out, const uint8_t* in) { memcpy(out, in, 4); }
inline void Copy8(uint8_t* out, const uint8_t* in) { memcpy(out, in, 8); }

// n bytes between ranges that do not overlap; short ones with two overlapping moves
// that write nothing outside [out, out + n).
inline void CopyDisjoint(uint8_t* out, const uint8_t* in, uint32_t n) {
    if (n > 16) {
        memcpy(out, in, n);
    } else if (n >= 8) {
        Copy8(out, in);
        Copy8(out + n - 8, in + n - 8);
    } else if (n >= 4) {
        Copy4(out, in);
        Copy4(out + n - 4, in + n - 4);
    } else {
        for (uint32_t i = 0; i < n; ++i) out[i] = in[i];
    }
}

// The window's size in the decoding loop: WINDOW, a constant for the tool's build; 0
// where the code is built for size (the stub), which takes it from the record and so
// needs one copy of the loop for both windows.
template <uint32_t WINDOW>
inline uint32_t WindowSizeOf() {
    return WINDOW != 0 ? WINDOW : blockDecoder.windowSize;
}

// Copies n match bytes from window position source to position p (p + n stays within
// the window of WINDOW bytes; the source may wrap). Byte for byte the same as copying
// one at a time in increasing order, so overlapping matches repeat the bytes just
// written.
template <uint32_t WINDOW>
inline __attribute__((always_inline)) void CopyMatch(uint8_t* buffer, uint32_t p,
                                                     uint32_t source, uint32_t n) {
    uint8_t* out = buffer + p;
    const uint32_t window = WindowSizeOf<WINDOW>();
    if (source + n > window) {
        for (uint32_t i = 0; i < n; ++i) out[i] = buffer[(source + i) & (window - 1)];
        return;
    }
    const uint8_t* in = buffer + source;
    if (source > p) {
        // Bytes of the previous round of the window, ahead of the writes: each is read
        // before it is overwritten, as with memmove.
        memmove(out, in, n);
        return;
    }
    const uint32_t distance = p - source;
    if (distance >= n) {
        CopyDisjoint(out, in, n);
    } else if (distance == 1) {
        memset(out, *in, n);
    } else if (distance >= 8) {
        // Each 8-byte step reads only bytes written at least 8 positions back.
        uint32_t i = 0;
        for (; i + 8 <= n; i += 8) Copy8(out + i, in + i);
        for (; i < n; ++i) out[i] = in[i];
    } else {
        for (uint32_t i = 0; i < n; ++i) out[i] = in[i];
    }
}

// The bit input held in registers for the symbol loop. acc holds the next `have`
// stream bits from bit 63 down (bits below may hold further stream bits). Bytes are
// taken from the reader's buffer ahead of need and given back by Store, which leaves
// bitReader, archiveReader and packedRemaining exactly as FillBits would have.
struct FastInput {
    uint64_t acc;
    uint32_t have;
    const uint8_t* in;   // next byte to take from the reader's buffer; the reader's
                         // position still stands where `in` stood at the last Commit
    const uint8_t* end;  // end of the bytes that may be taken from the buffer

    void OpenRange() {
        const ArchiveReader& reader = archiveReader;
        uint32_t usable = reader.available - reader.position;
        if (usable > extractionState.packedRemaining) usable = extractionState.packedRemaining;
        in = reader.buffer + reader.position;
        end = in + usable;
    }

    void Load() {
        const BitReader& br = bitReader;
        acc = static_cast<uint64_t>(br.bitBuffer) << 32;
        if (br.spareBits > 0) {
            const uint32_t spare = br.spareByte & ((1u << br.spareBits) - 1);
            acc |= static_cast<uint64_t>(spare) << (32 - br.spareBits);
        }
        have = 32 + static_cast<uint32_t>(br.spareBits);
        OpenRange();
    }

    void Commit() {
        const uint32_t taken =
            static_cast<uint32_t>(in - (archiveReader.buffer + archiveReader.position));
        archiveReader.position += taken;
        archiveReader.consumedBytes += taken;
        extractionState.packedRemaining -= taken;
    }

    // Brings `have` to at least 32, and further when the buffer allows. The common
    // case, 8 usable bytes in the buffer, stays inline; the rest goes by value through
    // RefillSlowly so that the record never has its address taken and stays in registers.
    inline __attribute__((always_inline)) void Refill() {
        if (end - in >= 8) {
            RefillFromBuffer();
            return;
        }
        *this = RefillSlowly(*this);
    }

    // Refill for when 8 usable bytes are known to be in the buffer: no branch. The
    // whole bytes that fit are taken, 7 - have / 8 of them, which leaves have | 56 bits.
    inline __attribute__((always_inline)) void RefillFromBuffer() {
        uint64_t next;
        memcpy(&next, in, 8);
        acc |= __builtin_bswap64(next) >> have;
        in += 7 - (have >> 3);
        have |= 56;
    }

    static __attribute__((noinline)) FastInput RefillSlowly(FastInput f) {
        while (f.have <= 56 && f.in < f.end) {
            f.acc |= static_cast<uint64_t>(*f.in++) << (56 - f.have);
            f.have += 8;
        }
        if (f.have >= 32) return f;
        // The buffer's usable bytes are used up: take bytes one at a time as FillBits
        // does (refilling the reader, or zero bytes past the member's end).
        f.Commit();
        while (f.have < 32) {
            f.acc |= static_cast<uint64_t>(TakePackedByte()) << (56 - f.have);
            f.have += 8;
        }
        f.OpenRange();
        return f;
    }

    void Consume(uint32_t n) {
        acc <<= n;
        have -= n;
    }

    void Store() {
        if (have < 32) Refill();
        const uint32_t extra = (have - 32) >> 3;
        in -= extra;
        have -= extra << 3;
        Commit();
        const int spare = static_cast<int>(have - 32);
        bitReader.bitBuffer = static_cast<uint32_t>(acc >> 32);
        bitReader.spareBits = spare;
        bitReader.spareByte = static_cast<uint32_t>(acc >> (32 - spare)) & 0xFF;
    }
};

// The code that a packed look-up entry begins, its bits consumed: the entry's own value
// when it holds a whole code, else the leaf reached through the tree from the entry's
// node with the bits that follow the look-up's.
template <int TABLE_BITS>
inline __attribute__((always_inline)) uint32_t CodeFromEntry(FastInput& bits, uint32_t entry,
                                                              uint32_t codeCount,
                                                              const uint8_t* lengths) {
    uint32_t code = PackedValue(entry);
    if ((entry & PACKED_NODE) == 0) {
        bits.Consume(PackedLength(entry));
        return code;
    }
    uint64_t mask = uint64_t(1) << (63 - TABLE_BITS);
    do {
        code = (bits.acc & mask) != 0 ? oneChild[code] : zeroChild[code];
        mask >>= 1;
    } while (code >= codeCount);
    bits.Consume(lengths[code]);
    return code;
}

// The distance value after a match symbol; the input holds at least 32 bits, or 46
// when the distance code is longer than the look-up.
inline __attribute__((always_inline)) uint32_t DecodeDistance(FastInput& bits,
                                                               const uint32_t* table,
                                                               uint32_t codeCount) {
    const uint32_t code = CodeFromEntry<AUX_TABLE_BITS>(
        bits, table[bits.acc >> (64 - AUX_TABLE_BITS)], codeCount, blockDecoder.auxLengths);
    if (code < 2) return code;
    const uint32_t extra = code - 1;
    const uint32_t distance = (1u << extra) + static_cast<uint32_t>(bits.acc >> (64 - extra));
    bits.Consume(extra);
    return distance;
}

// CopyMatch for a match that ends inside the chunk: when source and destination are at
// least 8 bytes apart and the source does not wrap, 8-byte moves in increasing order
// (each reads bytes that are final, or not yet overwritten when the source lies
// ahead), the last one overlapping the one before instead of a byte tail.
template <uint32_t WINDOW>
inline __attribute__((always_inline)) void CopyMatchInChunk(uint8_t* buffer, uint32_t p,
                                                            uint32_t source, uint32_t n) {
    const uint32_t gap = source < p ? p - source : source - p;
    const uint32_t window = WindowSizeOf<WINDOW>();
#if defined(__SSE2__)
    // Most matches are short and their lengths follow no pattern: one 16-byte move that
    // keeps the bytes past the match as they were (they may still be read as the
    // window's oldest bytes), with no branch on the length.
    if (gap >= 16 && n <= 16 && source + 16 <= window) {
        static const uint8_t FIRST_BYTES[32] = {
            0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
            0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
        const __m128i mine =
            _mm_loadu_si128(reinterpret_cast<const __m128i*>(FIRST_BYTES + 16 - n));
        const __m128i from = _mm_loadu_si128(reinterpret_cast<const __m128i*>(buffer + source));
        const __m128i old = _mm_loadu_si128(reinterpret_cast<const __m128i*>(buffer + p));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(buffer + p),
                         _mm_or_si128(_mm_and_si128(mine, from), _mm_andnot_si128(mine, old)));
        return;
    }
#endif
    if (gap >= 8 && source + n <= window) {
        uint8_t* out = buffer + p;
        const uint8_t* in = buffer + source;
        if (n <= 16 && source + 16 <= window) {
            // 8-byte moves, the last one putting back the bytes past the match as they
            // were: they may still be read as the window's oldest bytes.
            uint32_t done = 0;
            if (n > 8) {
                Copy8(out, in);
                done = 8;
            }
            uint64_t from;
            uint64_t old;
            memcpy(&from, in + done, 8);
            memcpy(&old, out + done, 8);
            // The bytes left, first in memory: the low ones on this little-endian target.
            static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "little-endian moves");
            const uint64_t mine = ~uint64_t(0) >> (64 - 8 * (n - done));
            const uint64_t merged = (from & mine) | (old & ~mine);
            memcpy(out + done, &merged, 8);
            return;
        }
        if (n >= 8) {
            for (uint32_t i = 0; i + 8 < n; i += 8) Copy8(out + i, in + i);
            Copy8(out + n - 8, in + n - 8);
        } else if (n >= 4) {
            Copy4(out, in);
            Copy4(out + n - 4, in + n - 4);
        } else {
            out[0] = in[0];
            out[1] = in[1];
            out[2] = in[2];
        }
        return;
    }
    CopyMatch<WINDOW>(buffer, p, source, n);
}

#if defined(__i386__)
// The symbol loop of the i686 build (the stub's), with the bit input in 32-bit
// registers: a 64-bit look-ahead takes two registers of the seven and a branch on every
// shift there. buf holds the next n stream bits from bit 31 down (0 <= n <= 31 at a
// refill; bits below n are zero or the stream bits that follow), which end where `in`
// stands, as FastInput's do; a refill takes the whole bytes that fit and leaves 24 to
// 31 bits. One way through the loop takes at most three refills of three bytes, two
// symbols, and a literal and a match of at most MAX_MATCH bytes. Built for speed: it is
// most of the stub's time, and small.
struct Loop32 {
    uint32_t p;
    uint32_t blockRemaining;
};

// A distanceFast entry: the code and its extra bits, read as one number of `total`
// bits (code bits, then extra bits), plus `adjust` give the distance value:
// adjust = 2^extra - (code bits << extra) for a code c >= 2 (extra = c - 1), and
// c - code bits for codes 0 and 1. At most 8 + 15 bits, so one refill covers them.
// Codes longer than the look-up, and a lone code of 0 bits with no extra bits, are
// marked DISTANCE_SLOW and go through distancePacked.
const uint32_t DISTANCE_SLOW = 0x80;
const int DISTANCE_ADJUST_SHIFT = 8;  // adjust, signed, in bits 8..31; total in bits 0..4
static_assert(2 * SYMBOL_TABLE_BITS <= 24, "two codes in the look-up fit the bits after a refill");
static_assert(AUX_TABLE_BITS + LH7_DISTANCE_CODES - 2 <= 24,
              "a code in the look-up and its extra bits fit the 24 bits after a refill");

void BuildDistanceFast() {
    BlockDecoder& d = blockDecoder;
    for (uint32_t i = 0; i < (1u << AUX_TABLE_BITS); ++i) {
        const uint32_t entry = d.distancePacked[i];
        const uint32_t length = PackedLength(entry);
        const uint32_t code = PackedValue(entry);
        const uint32_t extra = code < 2 ? 0 : code - 1;
        if ((entry & PACKED_NODE) != 0 || length + extra == 0) {
            d.distanceFast[i] = DISTANCE_SLOW;
            continue;
        }
        const uint32_t codeBits = length == 0 ? 0 : i >> (AUX_TABLE_BITS - length);
        const uint32_t base = code < 2 ? code : 1u << extra;
        const uint32_t adjust = base - (codeBits << extra);
        d.distanceFast[i] = adjust << DISTANCE_ADJUST_SHIFT | (length + extra);
    }
}

// The rest of a code longer than its look-up, from the entry's node, with buf's bits
// past the look-up's. Out of the loop: rare, and it would take registers there.
__attribute__((optimize("O2"), noinline)) uint32_t Walk32(uint32_t buf, uint32_t code,
                                                           uint32_t codeCount, int tableBits) {
    uint32_t mask = 1u << (31 - tableBits);
    do {
        code = (buf & mask) != 0 ? oneChild[code] : zeroChild[code];
        mask >>= 1;
    } while (code >= codeCount);
    return code;
}

// The matches that 4-byte moves cannot copy: the source wraps or is less than 4 bytes
// from the destination. Returns the end of the match's bytes, so that the loop holds
// nothing but the bit input and the output across the call.
__attribute__((noinline)) uint8_t* CopyMatch32(uint8_t* buffer, uint32_t p, uint32_t source,
                                               uint32_t n) {
    CopyMatch<0>(buffer, p, source, n);
    return buffer + p + n;
}

__attribute__((optimize("O2"), noinline)) Loop32 DecodeFast32(FastInput& bits, uint8_t* buffer,
                                                             uint32_t p, uint32_t end,
                                                             uint32_t blockRemaining) {
    // Whole bytes past 24 bits go back to the reader's range (at most 39 bits are held
    // past a refill, and the bytes lie in the range once one has been taken from it).
    const uint8_t* in = bits.in;
    uint32_t n = bits.have;
    const uint8_t* const rangeStart = archiveReader.buffer + archiveReader.position;
    const uint32_t back = n >= 24 ? (n - 24) >> 3 : 0;
    if (n > 31 && static_cast<uint32_t>(in - rangeStart) < back) return {p, blockRemaining};
    in -= back;
    n -= back << 3;
    uint32_t buf = static_cast<uint32_t>(bits.acc >> 32);
    const uint32_t window = blockDecoder.windowSize;
    const uint32_t distanceCodeCount = static_cast<uint32_t>(blockDecoder.distanceCodeCount);
    const uint32_t* const symbols = blockDecoder.symbolPacked;
    const uint32_t* const distances = blockDecoder.distancePacked;
    const uint32_t* const fastDistances = blockDecoder.distanceFast;
    const uint8_t* const stop = bits.end - 16;
    auto refill = [&]() __attribute__((always_inline)) {
        uint32_t word;
        memcpy(&word, in, 4);
        buf |= __builtin_bswap32(word) >> n;
        in += (31 - n) >> 3;
        n |= 24;
    };
    auto take = [&](uint32_t count) __attribute__((always_inline)) {
        buf <<= count;
        n -= count;
    };
    uint8_t* out = buffer + p;
    // A literal and a match may follow one refill: the match's bytes start one further.
    uint8_t* const outLimit = buffer + end - MAX_MATCH - 1;
    for (;;) {
        // Three plain tests and branches: the compiler otherwise evaluates them into
        // flags and ands them, which costs registers the loop needs.
        if (__builtin_expect(out > outLimit, 0)) break;
        if (__builtin_expect(in > stop, 0)) break;
        if (__builtin_expect(blockRemaining < 2, 0)) break;
        refill();
        uint32_t entry = symbols[buf >> (32 - SYMBOL_TABLE_BITS)];
        --blockRemaining;
        if ((entry & PACKED_NOT_LITERAL) == 0) {
            take(PackedLength(entry));
            *out++ = static_cast<uint8_t>(entry >> PACKED_VALUE_SHIFT);
            // The next symbol, when its code is in the look-up: the 12 bits or more left
            // hold it. A second literal, or a match that goes on below.
            entry = symbols[buf >> (32 - SYMBOL_TABLE_BITS)];
            if ((entry & PACKED_NOT_LITERAL) == 0) {
                --blockRemaining;
                take(PackedLength(entry));
                *out++ = static_cast<uint8_t>(entry >> PACKED_VALUE_SHIFT);
                continue;
            }
            if ((entry & PACKED_NODE) != 0) continue;
            --blockRemaining;
        }
        // A match symbol (bit 24 of the entry marks the values from 256 up), or, right
        // after the refill, a code longer than the look-up.
        uint32_t c = PackedValue(entry);
        if ((entry & PACKED_NODE) == 0) {
            take(PackedLength(entry));
        } else {
            c = Walk32(buf, c, SYMBOL_COUNT, SYMBOL_TABLE_BITS);
            take(blockDecoder.symbolLengths[c]);
            if (c <= 255) {
                *out++ = static_cast<uint8_t>(c);
                continue;
            }
        }
        const uint32_t length = c - MATCH_BASE;
        refill();
        entry = fastDistances[buf >> (32 - AUX_TABLE_BITS)];
        uint32_t distance;
        if (__builtin_expect((entry & DISTANCE_SLOW) == 0, 1)) {
            const uint32_t total = entry & 31;
            distance = (buf >> (32 - total)) +
                       static_cast<uint32_t>(static_cast<int32_t>(entry) >> DISTANCE_ADJUST_SHIFT);
            take(total);
        } else {
            entry = distances[buf >> (32 - AUX_TABLE_BITS)];
            distance = PackedValue(entry);
            if ((entry & PACKED_NODE) == 0) {
                take(PackedLength(entry));
            } else {
                distance = Walk32(buf, distance, distanceCodeCount, AUX_TABLE_BITS);
                take(blockDecoder.auxLengths[distance]);
            }
            if (distance >= 2) {
                const uint32_t extra = distance - 1;
                refill();
                distance = (1u << extra) + (buf >> (32 - extra));
                take(extra);
            }
        }
        const uint32_t at = static_cast<uint32_t>(out - buffer);
        const uint32_t source = (at - distance - 1) & (window - 1);
        const uint32_t gap = source < at ? at - source : source - at;
        if (gap >= 4 && source + length <= window) {
            // 4-byte moves in increasing order, each reading bytes that are final (or
            // not yet overwritten when the source lies ahead); the last one overlaps
            // the one before instead of a byte tail, so nothing past the match changes.
            const uint8_t* from = buffer + source;
            if (length >= 4) {
                for (uint32_t i = 0; i + 4 < length; i += 4) Copy4(out + i, from + i);
                Copy4(out + length - 4, from + length - 4);
            } else {
                out[0] = from[0];
                out[1] = from[1];
                out[2] = from[2];
            }
            out += length;
        } else {
            out = CopyMatch32(buffer, at, source, length);
        }
    }
    bits.acc = static_cast<uint64_t>(buf) << 32;
    bits.have = n;
    bits.in = in;
    return {static_cast<uint32_t>(out - buffer), blockRemaining};
}
#endif

}  // namespace

HuffmanTable DistanceCode() {
    HuffmanTable table = {blockDecoder.distanceCodeCount, blockDecoder.auxLengths,
                          AUX_TABLE_BITS, blockDecoder.auxTable};
    return table;
}

void BeginDecode(int method) {
    BlockDecoder& d = blockDecoder;
    InitBits();
    d.blockRemaining = 0;
    d.distanceCodeCount = method == METHOD_LH7   ? LH7_DISTANCE_CODES
                          : method == METHOD_LH6 ? LH6_DISTANCE_CODES
                                                 : LH5_DISTANCE_CODES;
    d.distanceCountBits = method == METHOD_LH7 || method == METHOD_LH6 ? WIDE_DISTANCE_COUNT_BITS
                                                                       : LH5_DISTANCE_COUNT_BITS;
    d.windowSize = method == METHOD_LH7 ? LARGE_WINDOW_SIZE : WINDOW_SIZE;
    d.chunkStart = 0;
    d.copyRemaining = 0;
    d.copySource = 0;
    d.badData = 0;
}

int DecodeSawBadData() { return blockDecoder.badData != 0 || BitsTakenPastEnd() ? 1 : 0; }

int ReadAuxLengths(int symbols, int countBits, int specialIndex) {
    BlockDecoder& d = blockDecoder;
    const int n = static_cast<int>(GetBits(countBits));
    if (n == 0) {
        const uint32_t symbol = GetBits(countBits);
        if (symbol >= static_cast<uint32_t>(symbols)) return 0;
        memset(d.auxLengths, 0, static_cast<size_t>(symbols));
        FillLookup(d.auxTable, d.distancePacked, AUX_TABLE_BITS, symbol);
        return 1;
    }
    int i = 0;
    while (i < n) {
        const int length = ReadLengthField();
        if (length < 0) return 0;
        d.auxLengths[i++] = static_cast<uint8_t>(length);
        if (i == specialIndex) {
            const int zeros = static_cast<int>(GetBits(2));
            memset(d.auxLengths + i, 0, static_cast<size_t>(zeros));
            i += zeros;
        }
    }
    if (i < symbols) memset(d.auxLengths + i, 0, static_cast<size_t>(symbols - i));
    // The packed copy is wanted for the distance code only, but costs little for both.
    return BuildPackedTable(symbols, d.auxLengths, AUX_TABLE_BITS, d.auxTable, d.distancePacked);
}

int ReadSymbolLengths() {
    BlockDecoder& d = blockDecoder;
    const int n = static_cast<int>(GetBits(9));
    if (n == 0) {
        const uint32_t symbol = GetBits(9);
        if (symbol >= static_cast<uint32_t>(SYMBOL_COUNT)) return 0;
        memset(d.symbolLengths, 0, sizeof d.symbolLengths);
        FillLookup(nullptr, d.symbolPacked, SYMBOL_TABLE_BITS, symbol);
        return 1;
    }
    if (n > SYMBOL_COUNT) return 0;
    // Up to 510 codes of the length code, through its packed look-up (distancePacked
    // holds it until the distance code is read) with the bit input in registers.
    FastInput bits;
    bits.Load();
    int i = 0;
    while (i < n) {
        if (bits.have < 32) bits.Refill();  // a code (16) and 9 more bits
        const uint32_t c = CodeFromEntry<AUX_TABLE_BITS>(
            bits, d.distancePacked[bits.acc >> (64 - AUX_TABLE_BITS)], LENGTH_CODE_SYMBOLS,
            d.auxLengths);
        if (c >= 3) {
            d.symbolLengths[i++] = static_cast<uint8_t>(c - 2);
            continue;
        }
        int zeros = 1;
        if (c == 1) {
            zeros = static_cast<int>(bits.acc >> 60) + 3;
            bits.Consume(4);
        } else if (c == 2) {
            zeros = static_cast<int>(bits.acc >> 55) + 20;
            bits.Consume(9);
        }
        if (zeros > SYMBOL_COUNT - i) {
            bits.Store();
            return 0;
        }
        memset(d.symbolLengths + i, 0, static_cast<size_t>(zeros));
        i += zeros;
    }
    bits.Store();
    if (i < SYMBOL_COUNT) memset(d.symbolLengths + i, 0, static_cast<size_t>(SYMBOL_COUNT - i));
    return BuildPackedTable(SYMBOL_COUNT, d.symbolLengths, SYMBOL_TABLE_BITS, nullptr,
                            d.symbolPacked);
}

int OpenBlock() {
    BlockDecoder& d = blockDecoder;
    d.blockRemaining = GetBits(16);
    if (!ReadAuxLengths(LENGTH_CODE_SYMBOLS, 5, 3) || !ReadSymbolLengths() ||
        !ReadAuxLengths(d.distanceCodeCount, d.distanceCountBits, NO_SPECIAL_INDEX)) {
        d.badData = 1;
        return 0;
    }
#if defined(__i386__)
    BuildDistanceFast();
#endif
    return 1;
}

int ReadSymbol() {
    BlockDecoder& d = blockDecoder;
    if (d.badData) return 0;
    if (d.blockRemaining == 0 && !OpenBlock()) return 0;
    --d.blockRemaining;
    return DecodePackedCode(d.symbolPacked, SYMBOL_TABLE_BITS, SYMBOL_COUNT, d.symbolLengths);
}

uint32_t ReadDistance() {
    const uint32_t c = static_cast<uint32_t>(DecodeCode(DistanceCode()));
    if (c < 2) return c;
    return (1u << (c - 1)) + GetBits(static_cast<int>(c - 1));
}

namespace {

// Where the next chunk goes in the window: always its start for the 32 KiB window,
// whose size is the chunk size; the two halves in turn for the large one.
uint32_t TakeChunkStart(uint32_t count) {
    BlockDecoder& d = blockDecoder;
    const uint32_t start = d.chunkStart;
    if (d.windowSize == LARGE_WINDOW_SIZE) d.chunkStart = (start + count) & (LARGE_WINDOW_SIZE - 1);
    return start;
}

// The member's next output bytes at window positions p to end - 1 (end - p is 1 to
// 32768, and p is a multiple of 32768), through the fast loop where it can.
template <uint32_t WINDOW>
void DecodeRange(uint8_t* buffer, uint32_t p, uint32_t end);

}  // namespace

const uint8_t* DecodeChunkBytewise(uint32_t count, uint8_t* buffer) {
    BlockDecoder& d = blockDecoder;
    const uint32_t mask = d.windowSize - 1;
    const uint32_t start = TakeChunkStart(count);
    const uint32_t end = start + count;
    uint32_t p = start;
    for (;;) {
        while (d.copyRemaining > 0) {
            buffer[p++] = buffer[d.copySource];
            d.copySource = (d.copySource + 1) & mask;
            --d.copyRemaining;
            if (p == end) return buffer + start;
        }
        const int c = ReadSymbol();
        if (d.badData) {
            memset(buffer + p, 0, end - p);
            d.copyRemaining = 0;
            return buffer + start;
        }
        if (c <= 255) {
            buffer[p++] = static_cast<uint8_t>(c);
            if (p == end) return buffer + start;
            continue;
        }
        d.copyRemaining = c - MATCH_BASE;
        const uint32_t distance = ReadDistance();
        d.copySource = (p - distance - 1) & mask;
    }
}

const uint8_t* DecodeChunk(uint32_t count, uint8_t* buffer) {
    const uint32_t start = TakeChunkStart(count);
    if (SIZE_BUILD) {
        DecodeRange<0>(buffer, start, start + count);
    } else if (blockDecoder.windowSize == LARGE_WINDOW_SIZE) {
        DecodeRange<LARGE_WINDOW_SIZE>(buffer, start, start + count);
    } else {
        DecodeRange<WINDOW_SIZE>(buffer, start, start + count);
    }
    return buffer + start;
}

namespace {

template <uint32_t WINDOW>
void DecodeRange(uint8_t* buffer, uint32_t p, uint32_t end) {
    const uint32_t windowMask = WindowSizeOf<WINDOW>() - 1;
    BlockDecoder& d = blockDecoder;
    if (d.badData) {
        memset(buffer + p, 0, end - p);
        return;
    }
    if (d.copyRemaining > 0) {
        const uint32_t pending = static_cast<uint32_t>(d.copyRemaining);
        const uint32_t n = pending < end - p ? pending : end - p;
        CopyMatch<WINDOW>(buffer, p, d.copySource, n);
        p += n;
        d.copyRemaining -= static_cast<int32_t>(n);
        d.copySource = (d.copySource + n) & windowMask;
        if (p == end) return;
    }

    FastInput bits;
    bits.Load();
    uint32_t blockRemaining = d.blockRemaining;
    const uint32_t distanceCodeCount = static_cast<uint32_t>(d.distanceCodeCount);
    const uint32_t* const symbols = d.symbolPacked;
    const uint32_t* const distances = d.distancePacked;
    for (;;) {
        // The fast loop: while a match fits the chunk, three symbols are left in the
        // block and 8 bytes can be loaded, nothing else is checked. One refill gives at
        // least 56 bits: a symbol (16), a distance code (16) and its extra bits (14)
        // need 46; up to three literals from the look-up (12 each) need 36.
        // Left out where the code is built for size (the stub): the checked path below
        // decodes the same.
#if defined(__i386__)
        if (SIZE_BUILD && p + MAX_MATCH <= end && blockRemaining >= 2 && bits.end - bits.in >= 16) {
            const Loop32 done = DecodeFast32(bits, buffer, p, end, blockRemaining);
            p = done.p;
            blockRemaining = done.blockRemaining;
        }
#endif
        if (!SIZE_BUILD && p + MAX_MATCH <= end && blockRemaining >= 3 &&
            bits.end - bits.in >= 8) {
            bits.RefillFromBuffer();
            // The entry of the next symbol is looked up as soon as its bits are in
            // the top of the register, before the refill that follows: the load and
            // the refill then overlap. Every way through the loop ends with a refill,
            // which the loop's condition allows for.
            uint32_t entry = symbols[bits.acc >> (64 - SYMBOL_TABLE_BITS)];
            while (p + MAX_MATCH <= end && blockRemaining >= 3 && bits.end - bits.in >= 8) {
                --blockRemaining;
                if ((entry & PACKED_NOT_LITERAL) == 0) {
                    // At most three literals of at most 12 bits: 20 of the 56 bits are
                    // left for the next look-up.
                    bits.Consume(PackedLength(entry));
                    buffer[p++] = static_cast<uint8_t>(entry >> PACKED_VALUE_SHIFT);
                    entry = symbols[bits.acc >> (64 - SYMBOL_TABLE_BITS)];
                    if ((entry & PACKED_NOT_LITERAL) == 0) {
                        --blockRemaining;
                        bits.Consume(PackedLength(entry));
                        buffer[p++] = static_cast<uint8_t>(entry >> PACKED_VALUE_SHIFT);
                        entry = symbols[bits.acc >> (64 - SYMBOL_TABLE_BITS)];
                        if ((entry & PACKED_NOT_LITERAL) == 0) {
                            --blockRemaining;
                            bits.Consume(PackedLength(entry));
                            buffer[p++] = static_cast<uint8_t>(entry >> PACKED_VALUE_SHIFT);
                            entry = symbols[bits.acc >> (64 - SYMBOL_TABLE_BITS)];
                        }
                    }
                    bits.RefillFromBuffer();
                    continue;
                }
                // A literal here has a code longer than the look-up (16 bits at most,
                // 40 left).
                const uint32_t c = CodeFromEntry<SYMBOL_TABLE_BITS>(bits, entry, SYMBOL_COUNT,
                                                                    d.symbolLengths);
                if (c <= 255) {
                    buffer[p++] = static_cast<uint8_t>(c);
                    entry = symbols[bits.acc >> (64 - SYMBOL_TABLE_BITS)];
                    bits.RefillFromBuffer();
                    continue;
                }
                const uint32_t length = c - MATCH_BASE;
                const uint32_t distance = DecodeDistance(bits, distances, distanceCodeCount);
                // A match may leave fewer bits than a look-up needs: refill first, and
                // look up the next symbol while the match is copied.
                bits.RefillFromBuffer();
                entry = symbols[bits.acc >> (64 - SYMBOL_TABLE_BITS)];
                CopyMatchInChunk<WINDOW>(buffer, p, (p - distance - 1) & windowMask, length);
                p += length;
            }
        }
        if (p == end) break;

        // The file has ended, or bits past the packed size have been taken (5 zero bytes
        // supplied are more than the 39 bits of look-ahead hold): the member fails as
        // truncated or refused after this chunk, and the rest of it is not worth decoding.
        if (archiveReader.atEnd || bitReader.bytesPastEnd >= 5) {
            memset(buffer + p, 0, end - p);
            break;
        }

        // One symbol with every check: block ends, the input's end, the chunk's end.
        if (blockRemaining == 0) {
            bits.Store();
            if (!OpenBlock()) {
                memset(buffer + p, 0, end - p);
                return;
            }
            blockRemaining = d.blockRemaining;
            bits.Load();
        }
        --blockRemaining;

        if (bits.have < 32) bits.Refill();
        const uint32_t c = CodeFromEntry<SYMBOL_TABLE_BITS>(
            bits, symbols[bits.acc >> (64 - SYMBOL_TABLE_BITS)], SYMBOL_COUNT, d.symbolLengths);
        if (c <= 255) {
            buffer[p++] = static_cast<uint8_t>(c);
            if (p == end) break;
            continue;
        }

        const uint32_t length = c - MATCH_BASE;
        if (bits.have < 32) bits.Refill();
        const uint32_t distance = DecodeDistance(bits, distances, distanceCodeCount);
        const uint32_t source = (p - distance - 1) & windowMask;
        const uint32_t room = end - p;
        if (length > room) {
            CopyMatch<WINDOW>(buffer, p, source, room);
            d.copyRemaining = static_cast<int32_t>(length - room);
            d.copySource = (source + room) & windowMask;
            break;
        }
        CopyMatch<WINDOW>(buffer, p, source, length);
        p += length;
        if (p == end) break;
    }
    d.blockRemaining = blockRemaining;
    bits.Store();
}

}  // namespace
