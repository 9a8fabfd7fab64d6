// The compressor's parts: bit writer, Huffman code lengths, tokens, parsers and the
// block writer. Exposed for the tests; the packer uses encoder.h only.
#ifndef VORPANEX_ENCODE_ENCODER_INTERNAL_H
#define VORPANEX_ENCODE_ENCODER_INTERNAL_H

#include <stddef.h>
#include <stdint.h>

#include <vector>

#include "encode/encoder.h"

// Bits most significant first into a growing byte vector.
class BitWriter {
public:
    void Put(uint32_t value, int count) {  // count 0..24
        accumulator = (accumulator << count) | (value & ((1ull << count) - 1));
        pending += count;
        while (pending >= 8) {
            pending -= 8;
            bytes.push_back(static_cast<uint8_t>(accumulator >> pending));
        }
    }
    // Pads the last byte with zero bits.
    void Flush() {
        if (pending > 0) Put(0, 8 - pending);
    }
    uint64_t BitCount() const { return bytes.size() * 8ull + pending; }

    std::vector<uint8_t> bytes;

private:
    uint64_t accumulator = 0;
    int pending = 0;
};


// One parsed item: a literal (length 0) or a match of length 3..256 whose distance
// value (bytes back minus one) is 0..65535.
struct Token {
    uint16_t symbol;     // literal/length symbol 0..509
    uint16_t distance;   // distance value for matches
};

inline int DistanceCode(uint32_t value) {
    if (value < 2) return static_cast<int>(value);
    return 32 - __builtin_clz(value);  // 2^(c-1) <= value < 2^c
}

// Method parameters.
struct MethodParameters {
    int distanceCodes;       // 14, 16 or 17
    int distanceCountBits;   // 4 or 5
    uint32_t windowSize;     // largest distance in bytes: LH5_WINDOW_SIZE, WINDOW_SIZE or
                             // LARGE_WINDOW_SIZE
    bool tuneLengths = false; // also try flatter codes whose length lists cost less
    bool quickLengths = false; // any optimal code lengths (for pricing, not for writing)
};
MethodParameters ParametersFor(char method);

// Code lengths of at most maxLength bits for the frequencies (package-merge). Symbols
// of frequency 0 get 0. With exactly one used symbol it gets length 1 (the caller
// writes the single-symbol form instead).
void BuildCodeLengths(const uint32_t* frequencies, int count, int maxLength,
                      uint8_t* lengths);

// The same cost as BuildCodeLengths, faster, but ties may give other lengths: a plain
// Huffman code when it fits in maxLength bits, otherwise BuildCodeLengths.
void BuildQuickCodeLengths(const uint32_t* frequencies, int count, int maxLength,
                           uint8_t* lengths);

// Canonical codes for the lengths.
void BuildCanonicalCodes(const uint8_t* lengths, int count, uint16_t* codes);

// Writers of the three length lists. specialIndex is 3 for the length code, -1 for
// the distance code.
void WriteAuxLengths(BitWriter& out, const uint8_t* lengths, int count, int countBits,
                     int specialIndex);
// The length-code symbols (and their run values) that code literal/length lengths:
// writes at most LITERAL_LENGTH_SYMBOLS items and returns their count.
struct LengthItem {
    uint8_t symbol;   // 0..18
    uint16_t extra;   // run value for symbols 1 and 2
};
int LengthListItems(const uint8_t* lengths, LengthItem* items);

// Encodes tokens as one block (at most MAX_BLOCK_SYMBOLS of them).
void WriteBlock(BitWriter& out, const Token* tokens, size_t count,
                const MethodParameters& parameters);
// The code lengths that WriteBlock would send (all 0 for a code sent as one symbol).
void BlockCodeLengths(const Token* tokens, size_t count, const MethodParameters& parameters,
                      uint8_t* symbolLengths, uint8_t* distanceLengths);
// Exact size in bits that WriteBlock would give.
uint64_t BlockBits(const Token* tokens, size_t count, const MethodParameters& parameters);
// The same from the block's frequencies, less the distances' extra bits.
uint64_t HistogramBits(const uint32_t* symbolFrequencies, const uint32_t* distanceFrequencies,
                       const MethodParameters& parameters);

// Parsers: input to tokens.
struct ParseProgress {
    EncodeProgress callback;
    void* context;
};
// Both parse data[start, size): the bytes before start are history that matches may
// reach back into (the end of the previous segment of a member), and progress counts
// from data.
void LazyParse(const uint8_t* data, size_t size, size_t start,
               const MethodParameters& parameters, std::vector<Token>& tokens,
               const ParseProgress& progress);
// The optimal parser also leaves in blockEnds what SplitBlocks(tokens, exact) would
// give for the whole of its tokens when it has that split at hand (input of one
// stretch whose best pass was split exactly), else leaves it empty.
void OptimalParse(const uint8_t* data, size_t size, size_t start,
                  const MethodParameters& parameters, std::vector<Token>& tokens,
                  const ParseProgress& progress, std::vector<size_t>& blockEnds);

// Chooses block boundaries: returns the token index at which each block ends. exact
// prices blocks by their real codes (slower) instead of by their entropy.
std::vector<size_t> SplitBlocks(const Token* tokens, size_t count,
                                const MethodParameters& parameters, uint32_t maxSymbols,
                                bool exact = false);

#endif
