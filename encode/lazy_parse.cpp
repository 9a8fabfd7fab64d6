// The default parser: longest matches from the hash chains, with lazy evaluation: a
// match is put off for a literal and the next position's match when that pair costs
// fewer estimated bits per byte it covers. Literals are priced by how often their byte
// occurs in the input, so that a short far match does not win over cheap literals.
#include <math.h>

#include "encode/encoder_internal.h"
#include "encode/large_arrays.h"
#include "encode/match_finder.h"

namespace {

const int MAX_CHAIN = 160;
// The chains of the 64 KiB window reach twice as far back, so a search finds more
// candidates within reach. On the corpus of `make bench`, 80 of them pack -lh7- 0.15%
// larger than 160 would, in less processor time than -lh6- takes with 160; 96 pack
// 0.05% smaller than 80 and take a tenth longer, 64 0.08% larger and 2% less time.
const int LARGE_WINDOW_MAX_CHAIN = 80;
const int GOOD_LENGTH = 32;       // past this, search a quarter of the chain
const uint32_t NICE_LENGTH = 256; // stop searching at a match this long
const uint32_t LAZY_LENGTH = 128; // no lazy step after a match this long
// Prices are in sixteenths of a bit. A match is priced MATCH_BITS besides its
// distance's extra bits. A literal is priced between its byte's entropy in the input
// and 8 bits, the entropy weighing LITERAL_ENTROPY_SHARE: the codes are per block,
// not per input. 8 bits and a share of 0.4 pack the corpus of `make bench` smallest
// (shares of 0.3 to 0.6 differ by 0.03%); text gains more from it than programs.
const uint32_t SCALE = 16;
const uint32_t MATCH_BITS = 8;
const double LITERAL_ENTROPY_SHARE = 0.4;

uint32_t EstimatedPrice(const Match& match) {
    const int code = DistanceCode(match.distance);
    return SCALE * (MATCH_BITS + static_cast<uint32_t>(code >= 2 ? code - 1 : 0));
}

// Literal prices from the bytes' counts in data (a byte that does not occur is never
// priced).
void LiteralPrices(const uint8_t* data, size_t size, uint32_t* prices) {
    size_t counts[256] = {};
    for (size_t i = 0; i < size; ++i) ++counts[data[i]];
    for (int byte = 0; byte < 256; ++byte) {
        if (counts[byte] == 0) continue;
        const double entropy = log2(static_cast<double>(size) / static_cast<double>(counts[byte]));
        double bits = LITERAL_ENTROPY_SHARE * entropy + (1 - LITERAL_ENTROPY_SHARE) * 8.0;
        if (bits < 1) bits = 1;
        if (bits > 16) bits = 16;
        prices[byte] = static_cast<uint32_t>(bits * SCALE + 0.5);
    }
}

void EmitLiteral(std::vector<Token>& tokens, uint8_t byte) { PushLarge(tokens, {byte, 0}); }

void EmitMatch(std::vector<Token>& tokens, const Match& match) {
    PushLarge(tokens, {static_cast<uint16_t>(match.length + MATCH_BASE),
                       static_cast<uint16_t>(match.distance)});
}

}  // namespace

void LazyParse(const uint8_t* data, size_t size, size_t start,
               const MethodParameters& parameters, std::vector<Token>& tokens,
               const ParseProgress& progress) {
    MatchFinder finder(data, size, parameters.windowSize);
    for (size_t p = 0; p < start; ++p) finder.Insert(p);
    // At most a token per byte: room for all at once, rather than growth by doubling
    // that would hold the old array and a twice larger one for a moment.
    ReserveLarge(tokens, tokens.size() + (size - start));
    size_t nextReport = start + (1u << 20);
    const int maxChain = parameters.windowSize > WINDOW_SIZE ? LARGE_WINDOW_MAX_CHAIN : MAX_CHAIN;
    auto find = [&](size_t position, uint32_t previousLength) {
        const int chain = previousLength >= GOOD_LENGTH ? maxChain / 4 : maxChain;
        return finder.FindLongest(position, chain, NICE_LENGTH);
    };

    uint32_t literal[256] = {};
    LiteralPrices(data + start, size - start, literal);

    size_t position = start;
    Match current = find(start, 0);
    while (position < size) {
        if (position >= nextReport) {
            if (progress.callback != nullptr) progress.callback(progress.context, position);
            nextReport = position + (1u << 20);
        }
        // Three literals that cost less than the match of three bytes.
        if (current.length == MIN_MATCH &&
            literal[data[position]] + literal[data[position + 1]] + literal[data[position + 2]] <
                EstimatedPrice(current)) {
            current.length = 0;
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
                (literal[data[position]] + EstimatedPrice(next)) * current.length <
                    EstimatedPrice(current) * (next.length + 1)) {
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
