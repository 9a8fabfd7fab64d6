// The default parser: longest matches from the hash chains, with one step of lazy
// evaluation (a match is put off when the next position has a longer one).
#include "encode/encoder_internal.h"
#include "encode/match_finder.h"

namespace {

const int MAX_CHAIN = 64;
const int GOOD_LENGTH = 16;      // past this, search a quarter of the chain
const uint32_t NICE_LENGTH = 128; // stop searching at a match this long
const uint32_t LAZY_LENGTH = 64; // no lazy step after a match this long
const uint32_t FAR_THREE = 4096; // a 3-byte match further back costs more than literals

void EmitLiteral(std::vector<Token>& tokens, uint8_t byte) { tokens.push_back({byte, 0}); }

void EmitMatch(std::vector<Token>& tokens, const Match& match) {
    tokens.push_back({static_cast<uint16_t>(match.length + 253),
                      static_cast<uint16_t>(match.distance)});
}

}  // namespace

void LazyParse(const uint8_t* data, size_t size, const MethodParameters& parameters,
               std::vector<Token>& tokens, const ParseProgress& progress) {
    MatchFinder finder(data, size, parameters.windowSize);
    tokens.reserve(tokens.size() + size / 3);
    size_t nextReport = 1u << 20;
    auto find = [&](size_t position, uint32_t previousLength) {
        const int chain = previousLength >= GOOD_LENGTH ? MAX_CHAIN / 4 : MAX_CHAIN;
        Match match = finder.FindLongest(position, chain, NICE_LENGTH);
        if (match.length == MIN_MATCH && match.distance >= FAR_THREE) match.length = 0;
        return match;
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
            if (next.length > current.length) {
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
