// The default parser: longest matches from the hash chains, with lazy evaluation: a
// match is put off for a literal and the next position's match when that pair costs
// fewer estimated bits per byte it covers.
#include "encode/encoder_internal.h"
#include "encode/large_arrays.h"
#include "encode/match_finder.h"

namespace {

const int MAX_CHAIN = 160;
const int GOOD_LENGTH = 16;      // past this, search a quarter of the chain
const uint32_t NICE_LENGTH = 128; // stop searching at a match this long
const uint32_t LAZY_LENGTH = 64; // no lazy step after a match this long
// Estimated bits of a literal, and of a match besides its distance's extra bits. The
// corpus of `make bench` packs smallest near 8 and 8; 7 to 9 differ by 0.05%.
const uint32_t LITERAL_BITS = 8;
const uint32_t MATCH_BITS = 8;

uint32_t EstimatedBits(const Match& match) {
    const int code = DistanceCode(match.distance);
    return MATCH_BITS + static_cast<uint32_t>(code >= 2 ? code - 1 : 0);
}

void EmitLiteral(std::vector<Token>& tokens, uint8_t byte) { PushLarge(tokens, {byte, 0}); }

void EmitMatch(std::vector<Token>& tokens, const Match& match) {
    PushLarge(tokens, {static_cast<uint16_t>(match.length + 253),
                       static_cast<uint16_t>(match.distance)});
}

}  // namespace

void LazyParse(const uint8_t* data, size_t size, const MethodParameters& parameters,
               std::vector<Token>& tokens, const ParseProgress& progress) {
    MatchFinder finder(data, size, parameters.windowSize);
    ReserveLarge(tokens, tokens.size() + size / 3);
    size_t nextReport = 1u << 20;
    auto find = [&](size_t position, uint32_t previousLength) {
        const int chain = previousLength >= GOOD_LENGTH ? MAX_CHAIN / 4 : MAX_CHAIN;
        return finder.FindLongest(position, chain, NICE_LENGTH);
    };

    size_t position = 0;
    Match current = find(0, 0);
    while (position < size) {
        if (position >= nextReport) {
            if (progress.callback != nullptr) progress.callback(progress.context, position);
            nextReport = position + (1u << 20);
        }
        if (current.length < MIN_MATCH) {
            EmitLiteral(tokens, data[position]);
            ++position;
            current = find(position, 0);
            continue;
        }
        if (current.length < LAZY_LENGTH && position + 1 < size) {
            const Match next = find(position + 1, current.length);
            // This match over length bytes, or a literal and the next match over
            // next.length + 1: the fewer bits per byte wins.
            if (next.length >= MIN_MATCH &&
                (LITERAL_BITS + EstimatedBits(next)) * current.length <
                    EstimatedBits(current) * (next.length + 1)) {
                EmitLiteral(tokens, data[position]);
                ++position;
                current = next;
                continue;
            }
            // position and position + 1 are in the chains already.
            EmitMatch(tokens, current);
            for (size_t p = position + 2; p < position + current.length; ++p) finder.Insert(p);
        } else {
            EmitMatch(tokens, current);
            for (size_t p = position + 1; p < position + current.length; ++p) finder.Insert(p);
        }
        position += current.length;
        current = find(position, 0);
    }
}
