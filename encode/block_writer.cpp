// The block writer: the three codes of a block, their length lists, and the symbols.
#include <string.h>

#include "encode/encoder_internal.h"

MethodParameters ParametersFor(char method) {
    if (method == METHOD_LH5) {
        return {LH5_DISTANCE_CODES, LH5_DISTANCE_COUNT_BITS, LH5_WINDOW_SIZE, false};
    }
    if (method == METHOD_LH7) {
        return {LH7_DISTANCE_CODES, WIDE_DISTANCE_COUNT_BITS, LARGE_WINDOW_SIZE, false};
    }
    return {LH6_DISTANCE_CODES, WIDE_DISTANCE_COUNT_BITS, WINDOW_SIZE, false};
}

namespace {

const int TUNE_SHIFTS[] = {14, 13, 12, 11, 10, 9, 8, 7, 6};

void PutLength(BitWriter& out, int length) {
    if (length < 7) {
        out.Put(static_cast<uint32_t>(length), 3);
    } else {
        // 7 + k: three ones, k ones, a zero.
        const int ones = 3 + (length - 7);
        out.Put(((1u << ones) - 1) << 1, ones + 1);
    }
}

int LengthBits(int length) { return length < 7 ? 3 : 3 + (length - 7) + 1; }

int UsedCount(const uint8_t* lengths, int count) {
    while (count > 0 && lengths[count - 1] == 0) --count;
    return count;
}

int SingleSymbol(const uint32_t* frequencies, int count) {
    int used = 0, symbol = 0;
    for (int s = 0; s < count; ++s) {
        if (frequencies[s] != 0) {
            ++used;
            symbol = s;
        }
    }
    return used <= 1 ? symbol : -1;
}

// Everything a block needs: frequencies, lengths and codes of its three codes.
struct BlockCodes {
    uint32_t symbolFrequencies[LITERAL_LENGTH_SYMBOLS];
    uint32_t distanceFrequencies[MAX_DISTANCE_CODES];
    uint8_t symbolLengths[LITERAL_LENGTH_SYMBOLS];
    uint8_t distanceLengths[MAX_DISTANCE_CODES];
    int singleSymbol;      // -1 unless the literal/length code has one symbol
    int singleDistance;    // -1 unless the distance code has at most one symbol
    LengthItem lengthItems[LITERAL_LENGTH_SYMBOLS];
    int lengthItemCount;
    uint32_t lengthFrequencies[LENGTH_CODE_SYMBOLS];
    uint8_t lengthLengths[LENGTH_CODE_SYMBOLS];
    int singleLength;
};

void PrepareLengthCode(BlockCodes& codes, bool quick = false);

void PrepareCodesFromFrequencies(const MethodParameters& parameters, BlockCodes& codes) {
    codes.singleSymbol = SingleSymbol(codes.symbolFrequencies, LITERAL_LENGTH_SYMBOLS);
    codes.singleDistance = SingleSymbol(codes.distanceFrequencies, parameters.distanceCodes);
    auto build = parameters.quickLengths ? BuildQuickCodeLengths : BuildCodeLengths;
    build(codes.symbolFrequencies, LITERAL_LENGTH_SYMBOLS, MAX_CODE_LENGTH, codes.symbolLengths);
    build(codes.distanceFrequencies, parameters.distanceCodes, MAX_CODE_LENGTH,
          codes.distanceLengths);
    PrepareLengthCode(codes, parameters.quickLengths);
}

// The length code that sends the literal/length lengths.
void PrepareLengthCode(BlockCodes& codes, bool quick) {
    memset(codes.lengthFrequencies, 0, sizeof codes.lengthFrequencies);
    codes.lengthItemCount = 0;
    codes.singleLength = 0;
    memset(codes.lengthLengths, 0, sizeof codes.lengthLengths);
    if (codes.singleSymbol >= 0) return;
    codes.lengthItemCount = LengthListItems(codes.symbolLengths, codes.lengthItems);
    for (int i = 0; i < codes.lengthItemCount; ++i) {
        ++codes.lengthFrequencies[codes.lengthItems[i].symbol];
    }
    codes.singleLength = SingleSymbol(codes.lengthFrequencies, LENGTH_CODE_SYMBOLS);
    (quick ? BuildQuickCodeLengths : BuildCodeLengths)(
        codes.lengthFrequencies, LENGTH_CODE_SYMBOLS, MAX_CODE_LENGTH, codes.lengthLengths);
}

uint64_t CodedBits(const BlockCodes& codes, const MethodParameters& parameters);

// The optimal code lengths for the frequencies need not give the smallest block: a
// flatter code uses fewer distinct lengths, whose list costs less. Tries a few
// flattenings (a constant added to every used symbol) and the optimal codes under
// tighter length limits, and keeps the cheapest.
void PrepareTunedCodes(const MethodParameters& parameters, BlockCodes& codes) {
    PrepareCodesFromFrequencies(parameters, codes);
    if (!parameters.tuneLengths || codes.singleSymbol >= 0) return;
    uint32_t total = 0;
    for (int s = 0; s < LITERAL_LENGTH_SYMBOLS; ++s) total += codes.symbolFrequencies[s];
    uint64_t bestBits = CodedBits(codes, parameters);
    BlockCodes trial = codes;
    uint8_t bestLengths[LITERAL_LENGTH_SYMBOLS];
    bool found = false;
    // Lengths for these frequencies under this limit, kept when the block is smaller.
    auto weigh = [&](const uint32_t* frequencies, int limit) {
        BuildCodeLengths(frequencies, LITERAL_LENGTH_SYMBOLS, limit, trial.symbolLengths);
        PrepareLengthCode(trial);
        const uint64_t bits = CodedBits(trial, parameters);
        if (bits < bestBits) {
            bestBits = bits;
            memcpy(bestLengths, trial.symbolLengths, sizeof bestLengths);
            found = true;
        }
    };
    for (int shift : TUNE_SHIFTS) {
        const uint32_t add = total >> shift;
        if (add == 0) continue;
        uint32_t flattened[LITERAL_LENGTH_SYMBOLS];
        for (int s = 0; s < LITERAL_LENGTH_SYMBOLS; ++s) {
            flattened[s] = codes.symbolFrequencies[s] != 0 ? codes.symbolFrequencies[s] + add : 0;
        }
        weigh(flattened, MAX_CODE_LENGTH);
    }
    // 9 bits hold all 510 symbols.
    for (int limit = 9; limit < MAX_CODE_LENGTH; ++limit) weigh(codes.symbolFrequencies, limit);
    if (!found) return;
    memcpy(codes.symbolLengths, bestLengths, sizeof bestLengths);
    PrepareLengthCode(codes);
}

void PrepareCodes(const Token* tokens, size_t count, const MethodParameters& parameters,
                  BlockCodes& codes) {
    memset(codes.symbolFrequencies, 0, sizeof codes.symbolFrequencies);
    memset(codes.distanceFrequencies, 0, sizeof codes.distanceFrequencies);
    for (size_t i = 0; i < count; ++i) {
        ++codes.symbolFrequencies[tokens[i].symbol];
        if (tokens[i].symbol > 255) ++codes.distanceFrequencies[DistanceCode(tokens[i].distance)];
    }
    PrepareTunedCodes(parameters, codes);
}

uint64_t AuxListBits(const uint8_t* lengths, int count, int countBits, int specialIndex) {
    const int n = UsedCount(lengths, count);
    uint64_t bits = countBits;
    for (int i = 0; i < n; ++i) {
        bits += LengthBits(lengths[i]);
        if (i + 1 == specialIndex) {
            bits += 2;
            int zeros = 0;
            while (zeros < 3 && i + 1 + zeros < n && lengths[i + 1 + zeros] == 0) ++zeros;
            i += zeros;
        }
    }
    return bits;
}

uint64_t HeaderBits(const BlockCodes& codes, const MethodParameters& parameters) {
    uint64_t bits = 16;
    if (codes.singleSymbol >= 0) {
        bits += 10 + 18;
    } else {
        bits += codes.singleLength >= 0
                    ? 10
                    : AuxListBits(codes.lengthLengths, LENGTH_CODE_SYMBOLS, 5, 3);
        bits += 9;
        for (int i = 0; i < codes.lengthItemCount; ++i) {
            const LengthItem& item = codes.lengthItems[i];
            if (codes.singleLength < 0) bits += codes.lengthLengths[item.symbol];
            if (item.symbol == 1) bits += 4;
            if (item.symbol == 2) bits += 9;
        }
    }
    if (codes.singleDistance >= 0) {
        bits += 2 * parameters.distanceCountBits;
    } else {
        bits += AuxListBits(codes.distanceLengths, parameters.distanceCodes,
                            parameters.distanceCountBits, -1);
    }
    return bits;
}

uint64_t CodedBits(const BlockCodes& codes, const MethodParameters& parameters) {
    uint64_t bits = HeaderBits(codes, parameters);
    if (codes.singleSymbol < 0) {
        for (int s = 0; s < LITERAL_LENGTH_SYMBOLS; ++s) {
            bits += static_cast<uint64_t>(codes.symbolFrequencies[s]) * codes.symbolLengths[s];
        }
    }
    if (codes.singleDistance < 0) {
        for (int c = 0; c < parameters.distanceCodes; ++c) {
            bits += static_cast<uint64_t>(codes.distanceFrequencies[c]) * codes.distanceLengths[c];
        }
    }
    return bits;
}

}  // namespace

void WriteAuxLengths(BitWriter& out, const uint8_t* lengths, int count, int countBits,
                     int specialIndex) {
    const int n = UsedCount(lengths, count);
    out.Put(static_cast<uint32_t>(n), countBits);
    for (int i = 0; i < n; ++i) {
        PutLength(out, lengths[i]);
        if (i + 1 == specialIndex) {
            int zeros = 0;
            while (zeros < 3 && i + 1 + zeros < n && lengths[i + 1 + zeros] == 0) ++zeros;
            out.Put(static_cast<uint32_t>(zeros), 2);
            i += zeros;
        }
    }
}

int LengthListItems(const uint8_t* lengths, LengthItem* items) {
    int count = 0;
    const int n = UsedCount(lengths, LITERAL_LENGTH_SYMBOLS);
    for (int i = 0; i < n;) {
        if (lengths[i] != 0) {
            items[count++] = {static_cast<uint8_t>(lengths[i] + 2), 0};
            ++i;
            continue;
        }
        int run = 0;
        while (i + run < n && lengths[i + run] == 0) ++run;
        i += run;
        while (run > 0) {
            if (run <= 2) {
                items[count++] = {0, 0};
                --run;
            } else if (run <= 18) {
                items[count++] = {1, static_cast<uint16_t>(run - 3)};
                run = 0;
            } else if (run == 19) {
                items[count++] = {0, 0};
                items[count++] = {1, 15};
                run = 0;
            } else {
                const int take = run < 531 ? run : 531;
                items[count++] = {2, static_cast<uint16_t>(take - 20)};
                run -= take;
            }
        }
    }
    return count;
}

uint64_t HistogramBits(const uint32_t* symbolFrequencies, const uint32_t* distanceFrequencies,
                       const MethodParameters& parameters) {
    BlockCodes codes;
    memcpy(codes.symbolFrequencies, symbolFrequencies, sizeof codes.symbolFrequencies);
    memset(codes.distanceFrequencies, 0, sizeof codes.distanceFrequencies);
    memcpy(codes.distanceFrequencies, distanceFrequencies,
           parameters.distanceCodes * sizeof(uint32_t));
    PrepareTunedCodes(parameters, codes);
    return CodedBits(codes, parameters);
}

uint64_t BlockBits(const Token* tokens, size_t count, const MethodParameters& parameters) {
    BlockCodes codes;
    PrepareCodes(tokens, count, parameters, codes);
    uint64_t bits = HeaderBits(codes, parameters);
    if (codes.singleSymbol < 0) {
        for (int s = 0; s < LITERAL_LENGTH_SYMBOLS; ++s) {
            bits += static_cast<uint64_t>(codes.symbolFrequencies[s]) * codes.symbolLengths[s];
        }
    }
    for (int c = 0; c < parameters.distanceCodes; ++c) {
        const int extra = c >= 2 ? c - 1 : 0;
        const int length = codes.singleDistance >= 0 ? 0 : codes.distanceLengths[c];
        bits += static_cast<uint64_t>(codes.distanceFrequencies[c]) * (length + extra);
    }
    return bits;
}

void BlockCodeLengths(const Token* tokens, size_t count, const MethodParameters& parameters,
                      uint8_t* symbolLengths, uint8_t* distanceLengths) {
    BlockCodes codes;
    PrepareCodes(tokens, count, parameters, codes);
    memcpy(symbolLengths, codes.symbolLengths, sizeof codes.symbolLengths);
    memcpy(distanceLengths, codes.distanceLengths, parameters.distanceCodes);
    if (codes.singleSymbol >= 0) memset(symbolLengths, 0, sizeof codes.symbolLengths);
    if (codes.singleDistance >= 0) memset(distanceLengths, 0, parameters.distanceCodes);
}

void WriteBlock(BitWriter& out, const Token* tokens, size_t count,
                const MethodParameters& parameters) {
    BlockCodes codes;
    PrepareCodes(tokens, count, parameters, codes);

    out.Put(static_cast<uint32_t>(count), 16);
    if (codes.singleSymbol >= 0) {
        out.Put(0, 5);
        out.Put(0, 5);
        out.Put(0, 9);
        out.Put(static_cast<uint32_t>(codes.singleSymbol), 9);
    } else {
        if (codes.singleLength >= 0) {
            out.Put(0, 5);
            out.Put(static_cast<uint32_t>(codes.singleLength), 5);
        } else {
            WriteAuxLengths(out, codes.lengthLengths, LENGTH_CODE_SYMBOLS, 5, 3);
        }
        uint16_t lengthCodes[LENGTH_CODE_SYMBOLS];
        BuildCanonicalCodes(codes.lengthLengths, LENGTH_CODE_SYMBOLS, lengthCodes);
        out.Put(static_cast<uint32_t>(UsedCount(codes.symbolLengths, LITERAL_LENGTH_SYMBOLS)),
                9);
        for (int i = 0; i < codes.lengthItemCount; ++i) {
            const LengthItem& item = codes.lengthItems[i];
            if (codes.singleLength < 0) {
                out.Put(lengthCodes[item.symbol], codes.lengthLengths[item.symbol]);
            }
            if (item.symbol == 1) out.Put(item.extra, 4);
            if (item.symbol == 2) out.Put(item.extra, 9);
        }
    }
    if (codes.singleDistance >= 0) {
        out.Put(0, parameters.distanceCountBits);
        out.Put(static_cast<uint32_t>(codes.singleDistance), parameters.distanceCountBits);
    } else {
        WriteAuxLengths(out, codes.distanceLengths, parameters.distanceCodes,
                        parameters.distanceCountBits, -1);
    }

    uint16_t symbolCodes[LITERAL_LENGTH_SYMBOLS];
    uint16_t distanceCodes[MAX_DISTANCE_CODES];
    BuildCanonicalCodes(codes.symbolLengths, LITERAL_LENGTH_SYMBOLS, symbolCodes);
    BuildCanonicalCodes(codes.distanceLengths, parameters.distanceCodes, distanceCodes);
    const bool symbolBits = codes.singleSymbol < 0;
    const bool distanceBits = codes.singleDistance < 0;
    for (size_t i = 0; i < count; ++i) {
        const Token& token = tokens[i];
        if (symbolBits) out.Put(symbolCodes[token.symbol], codes.symbolLengths[token.symbol]);
        if (token.symbol <= 255) continue;
        const int c = DistanceCode(token.distance);
        if (distanceBits) out.Put(distanceCodes[c], codes.distanceLengths[c]);
        if (c >= 2) out.Put(token.distance - (1u << (c - 1)), c - 1);
    }
}
