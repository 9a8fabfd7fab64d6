// Fuzz target: arbitrary bytes as one member's packed data, decoded chunk by chunk.
//
// Input layout
//   byte 0      method: '4', '5', '6' or '7' chosen by the byte modulo 4
//   bytes 1-3   original size, little-endian, low 21 bits (at most 2 MiB - 1)
//   bytes 4-    the packed data; its length is the packed size
// Once every packed bit has been taken the stream is zero bits without end (the decoder
// ends a chunk early once it takes bits past them); one more chunk of that is tried
// and the rest of the original size is skipped. A run also
// ends after the chunk in which the decoder refused its data (as extraction does) and
// at the output budget, as if the original size ended there; that keeps it short
// without leaving a path of the decoder unexercised. The budget grows with the packed
// size (a short input cannot ask for the whole budget of zero bits): decoding is nearly
// all of a run's time, and most inputs are a few hundred bytes.
//
// The window is a member of extractionState, so a write past its ends lands in the
// fields around it, where AddressSanitizer sees nothing: they must not change. After
// each chunk the data was not refused in, the current block's literal/length and
// distance look-ups are checked against canonical codes computed here from the code
// lengths (the bytewise decoder reads the same look-ups, so comparing with it cannot
// show a wrong one).
//
// Built for i686 with -Os (scripts/fuzz.sh's decoder_i686), DecodeChunk takes the
// stub's own symbol loop, and every input is decoded a second time with the bytewise
// reference: each chunk that neither run refused must hold the same bytes and leave
// the bit input in the same state, and both must refuse the data after the same chunk.
// There a -lh7- run may go on to LARGE_WINDOW_SIZE + 8 KiB whatever the input's size:
// its second chunk ends at the window buffer's last byte, and the next starts over at 0.
#include <stddef.h>
#include <stdint.h>
#include <string.h>

#include <string>
#include <vector>

#include "archive/archive.h"
#include "decode/bits.h"
#include "decode/block.h"
#include "decode/decoder.h"
#include "decode/tables.h"
#include "fuzz_support.h"

namespace {

#if defined(__i386__) && defined(__OPTIMIZE_SIZE__)
const bool COMPARE_WITH_BYTEWISE = true;
#else
const bool COMPARE_WITH_BYTEWISE = false;
#endif

const uint32_t I686_LH7_OUTPUT_BUDGET = LARGE_WINDOW_SIZE + 8192;

// The fields of extractionState after the window, and the two before it.
struct AroundWindow {
    static const size_t AFTER = offsetof(ExtractionState, windowBuffer) + LARGE_WINDOW_SIZE;
    FileOffset archiveSize;
    HFILE outputFile;
    uint8_t after[sizeof(ExtractionState) - AFTER];

    void Take() {
        archiveSize = extractionState.archiveSize;
        outputFile = extractionState.outputFile;
        memcpy(after, reinterpret_cast<const uint8_t*>(&extractionState) + AFTER, sizeof after);
    }
    bool Unchanged() const {
        AroundWindow now;
        now.Take();
        return now.archiveSize == archiveSize && now.outputFile == outputFile &&
               memcmp(now.after, after, sizeof after) == 0;
    }
};

// The symbol that code (left-aligned in bits) leads to from a look-up entry's node.
uint32_t WalkTree(uint32_t bits, uint32_t node, int count, int tableBits) {
    for (int bit = 31 - tableBits; static_cast<int>(node) >= count; --bit) {
        if (bit < 32 - MAX_CODE_LENGTH || node >= TREE_SIZE) {
            FuzzFailure("look-up tree deeper than the longest code, or off the tree");
        }
        node = (bits >> bit) & 1 ? oneChild[node] : zeroChild[node];
    }
    return node;
}

// Every entry of a packed look-up (and of the plain one, when given) against the
// canonical codes of lengths (complete, as the builder accepted them): codes by
// increasing length, then symbol, from 0.
void CheckLookUp(const char* what, int count, const uint8_t* lengths, int tableBits,
                 const uint32_t* packed, const uint16_t* lookup) {
    const uint32_t size = 1u << tableBits;
    int used = 0;
    for (int symbol = 0; symbol < count; ++symbol) used += lengths[symbol] != 0;
    if (used == 0) {
        // One symbol of no bits: every entry holds it.
        const uint32_t entry = packed[0];
        for (uint32_t i = 0; i < size; ++i) {
            if (packed[i] != entry || (entry & PACKED_NODE) != 0 || PackedLength(entry) != 0 ||
                static_cast<int>(PackedValue(entry)) >= count ||
                (lookup != nullptr && lookup[i] != PackedValue(entry))) {
                FuzzFailure("one-symbol look-up is not uniform", what);
            }
        }
        return;
    }
    // Where each length's codes begin; within a length they follow the symbols' order.
    uint32_t next[MAX_CODE_LENGTH + 1] = {};
    uint32_t lengthCount[MAX_CODE_LENGTH + 1] = {};
    for (int symbol = 0; symbol < count; ++symbol) ++lengthCount[lengths[symbol]];
    for (int length = 2; length <= MAX_CODE_LENGTH; ++length) {
        next[length] = (next[length - 1] + lengthCount[length - 1]) << 1;
    }
    for (int symbol = 0; symbol < count; ++symbol) {
        const uint32_t length = lengths[symbol];
        if (length == 0) continue;
        const uint32_t bits = next[length]++ << (32 - length);
        const uint32_t first = bits >> (32 - tableBits);
        const uint32_t last = length <= static_cast<uint32_t>(tableBits) ? first + (size >> length) - 1
                                                                         : first;
        for (uint32_t i = first; i <= last; ++i) {
            const uint32_t entry = packed[i];
            uint32_t packedSymbol = PackedValue(entry);
            uint32_t taken = PackedLength(entry);
            if ((entry & PACKED_NODE) != 0) {
                packedSymbol = WalkTree(bits, packedSymbol, count, tableBits);
                taken = lengths[packedSymbol];
            }
            uint32_t plainSymbol = lookup != nullptr ? lookup[i] : packedSymbol;
            if (static_cast<int>(plainSymbol) >= count) {
                plainSymbol = WalkTree(bits, plainSymbol, count, tableBits);
            }
            if (packedSymbol != static_cast<uint32_t>(symbol) || taken != length ||
                plainSymbol != static_cast<uint32_t>(symbol)) {
                FuzzFailure("look-up disagrees with the canonical code",
                            std::string(what) + ", symbol " + std::to_string(symbol) +
                                " of length " + std::to_string(length));
            }
        }
    }
}

void CheckBlockTables() {
    const BlockDecoder& d = blockDecoder;
    CheckLookUp("literal/length code", SYMBOL_COUNT, d.symbolLengths, SYMBOL_TABLE_BITS,
                d.symbolPacked, nullptr);
    CheckLookUp("distance code", d.distanceCodeCount, d.auxLengths, AUX_TABLE_BITS,
                d.distancePacked, d.auxTable);
}

bool OnlyZeroBitsLeft() {
    const BitReader& bits = bitReader;
    const uint32_t spare = bits.spareByte & ((1u << bits.spareBits) - 1);
    return extractionState.packedRemaining == 0 && bits.bitBuffer == 0 && spare == 0;
}

// What a chunk left behind: whether the data was refused, and the bit input.
struct ChunkEnd {
    bool bad;
    uint32_t bitBuffer;
    uint32_t spareByte;
    int spareBits;
    FileOffset packedRemaining;
    FileOffset consumedBytes;

    bool SameInput(const ChunkEnd& other) const {
        return bitBuffer == other.bitBuffer && spareByte == other.spareByte &&
               spareBits == other.spareBits && packedRemaining == other.packedRemaining &&
               consumedBytes == other.consumedBytes;
    }
};

struct Decoded {
    std::vector<uint8_t> bytes;  // the chunks, one after another
    std::vector<uint32_t> counts;
    std::vector<ChunkEnd> ends;
};

typedef const uint8_t* (*ChunkDecoder)(uint32_t count, uint8_t* buffer);

// Decodes the input's packed data chunk by chunk with decode, checking the bit input's
// bounds after each chunk; keeps the chunks in *out when it is not null.
void DecodeInput(const uint8_t* data, size_t size, ChunkDecoder decode, Decoded* out) {
    static const char METHODS[] = {'4', '5', '6', '7'};
    const int method = METHODS[data[0] % 4];
    uint32_t originalSize =
        (data[1] | (static_cast<uint32_t>(data[2]) << 8) | (static_cast<uint32_t>(data[3]) << 16)) &
        0x1FFFFFu;
    const uint32_t packedSize = static_cast<uint32_t>(size - 4);

    static const std::string path = ScratchRoot() + "/member.bin";
    PlatformServeMemory(path.c_str(), data + 4, packedSize);
    if (!archiveReader.Open(path.c_str())) FuzzFailure("cannot open", path);

    // The window keeps earlier members' bytes; clear it so that a run depends on its
    // input alone.
    memset(extractionState.windowBuffer, 0, sizeof extractionState.windowBuffer);
    extractionState.packedRemaining = packedSize;
    BeginDecode(method);
    const uint32_t budget = COMPARE_WITH_BYTEWISE && method == '7' ? I686_LH7_OUTPUT_BUDGET
                                                                    : FuzzOutputBudget(packedSize);
    static AroundWindow around;
    around.Take();
    int chunksOnZeroBits = 0;
    uint32_t decoded = 0;
    while (originalSize != 0 && chunksOnZeroBits < 2 && decoded < budget && !DecodeSawBadData()) {
        uint32_t count = originalSize < WINDOW_SIZE ? originalSize : WINDOW_SIZE;
        if (count > budget - decoded) count = budget - decoded;
        const uint8_t* chunk = decode(count, extractionState.windowBuffer);
        originalSize -= count;
        decoded += count;
        if (!around.Unchanged()) FuzzFailure("decoder wrote outside the window buffer");
        if (decode == DecodeChunk && !DecodeSawBadData()) CheckBlockTables();
        // The bit input takes bytes only while the packed size allows, so it can never
        // run into the end of a file that holds exactly the packed data.
        if (archiveReader.atEnd) FuzzFailure("decoder read past its packed data");
        if (archiveReader.consumedBytes + extractionState.packedRemaining != packedSize) {
            FuzzFailure("bytes taken and packed size disagree");
        }
        if (out != nullptr) {
            out->bytes.insert(out->bytes.end(), chunk, chunk + count);
            out->counts.push_back(count);
            out->ends.push_back({DecodeSawBadData() != 0, bitReader.bitBuffer, bitReader.spareByte,
                                 bitReader.spareBits, extractionState.packedRemaining,
                                 archiveReader.consumedBytes});
        }
        if (OnlyZeroBitsLeft()) ++chunksOnZeroBits;
    }
    archiveReader.Close();
}

// The fast decoder against the bytewise one, chunk by chunk, up to the first chunk
// that either refused.
void CompareWithBytewise(const Decoded& fast, const Decoded& bytewise) {
    if (fast.counts != bytewise.counts) FuzzFailure("fast and bytewise decoding ran different chunks");
    size_t offset = 0;
    for (size_t i = 0; i < fast.counts.size(); ++i) {
        const ChunkEnd& a = fast.ends[i];
        const ChunkEnd& b = bytewise.ends[i];
        if (a.bad != b.bad) {
            FuzzFailure("fast and bytewise decoding refused the data after different chunks",
                        "chunk " + std::to_string(i) +
                            (a.bad ? ": the fast one refused" : ": the bytewise one refused"));
        }
        if (a.bad) return;  // the member fails, whatever the chunk holds
        if (memcmp(fast.bytes.data() + offset, bytewise.bytes.data() + offset, fast.counts[i]) != 0) {
            size_t at = offset;
            while (fast.bytes[at] == bytewise.bytes[at]) ++at;
            FuzzFailure("fast and bytewise decoding gave different bytes",
                        "chunk " + std::to_string(i) + ", output byte " + std::to_string(at));
        }
        if (!a.SameInput(b)) {
            FuzzFailure("fast and bytewise decoding left the bit input in different states",
                        "after chunk " + std::to_string(i));
        }
        offset += fast.counts[i];
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 4) return 0;
    if (!COMPARE_WITH_BYTEWISE) {
        DecodeInput(data, size, DecodeChunk, nullptr);
        return 0;
    }
    static Decoded fast;
    static Decoded bytewise;
    for (Decoded* run : {&fast, &bytewise}) {
        run->bytes.clear();
        run->counts.clear();
        run->ends.clear();
    }
    DecodeInput(data, size, DecodeChunk, &fast);
    DecodeInput(data, size, DecodeChunkBytewise, &bytewise);
    CompareWithBytewise(fast, bytewise);
    return 0;
}
