// The --best parser: the cheapest path through every literal and match at every
// position, priced by the codes of the blocks that the previous pass made (the first
// pass by those of a lazy parse); a few passes per stretch of input, keeping the smallest.
#include <math.h>
#include <string.h>

#include <algorithm>
#include <vector>

#include "encode/encoder_internal.h"
#include "encode/large_arrays.h"
#include "encode/match_finder.h"

namespace {

const size_t SEGMENT_BYTES = 16u << 20;  // input parsed as one graph (more gives smaller output)
const int MAX_DEPTH = 256;                  // tree nodes visited per position
const uint32_t SKIP_LENGTH = 256;       // a match this long is taken whole
// Seven passes, the last three split exactly, packed the corpus of `make bench` 0.13%
// smaller with -lh7- in twice the processor time.
const int PASSES = 3;                   // the first priced by a lazy parse
const int EXACT_PASSES = 1;             // the last ones, split with exact block prices
const uint32_t SCALE = 16;              // prices in sixteenths of a bit
const uint32_t INFINITE = 0xFFFFFFFFu;

struct StoredMatch {
    uint16_t length;
    uint16_t distance;
};

// Bit prices of one block's codes.
struct Prices {
    uint32_t symbol[LITERAL_LENGTH_SYMBOLS];
    uint32_t distance[MAX_DISTANCE_CODES];  // code length plus extra bits
};

uint32_t PriceOfUnused(const uint8_t* lengths, int count) {
    int longest = 0;
    for (int s = 0; s < count; ++s) longest = lengths[s] > longest ? lengths[s] : longest;
    return longest + 1 < MAX_CODE_LENGTH ? longest + 1 : MAX_CODE_LENGTH;
}

void BlockPrices(const Token* tokens, size_t count, const MethodParameters& parameters,
                 Prices& prices) {
    uint32_t symbolFrequencies[LITERAL_LENGTH_SYMBOLS] = {};
    uint32_t distanceFrequencies[MAX_DISTANCE_CODES] = {};
    for (size_t i = 0; i < count; ++i) {
        ++symbolFrequencies[tokens[i].symbol];
        if (tokens[i].symbol > 255) ++distanceFrequencies[DistanceCode(tokens[i].distance)];
    }
    uint8_t symbolLengths[LITERAL_LENGTH_SYMBOLS];
    uint8_t distanceLengths[MAX_DISTANCE_CODES];
    BuildCodeLengths(symbolFrequencies, LITERAL_LENGTH_SYMBOLS, MAX_CODE_LENGTH, symbolLengths);
    BuildCodeLengths(distanceFrequencies, parameters.distanceCodes, MAX_CODE_LENGTH,
                     distanceLengths);
    const uint32_t unusedSymbol = PriceOfUnused(symbolLengths, LITERAL_LENGTH_SYMBOLS);
    const uint32_t unusedDistance = PriceOfUnused(distanceLengths, parameters.distanceCodes);
    uint32_t symbolTotal = 0, distanceTotal = 0;
    for (int s = 0; s < LITERAL_LENGTH_SYMBOLS; ++s) symbolTotal += symbolFrequencies[s];
    for (int c = 0; c < MAX_DISTANCE_CODES; ++c) distanceTotal += distanceFrequencies[c];
    // Mostly the symbol's information content, partly its code length: the mix settles
    // on smaller parses than either alone. Unused symbols cost one bit over the longest code.
    auto price = [&](uint32_t f, uint32_t total, uint8_t length, uint32_t unused) -> uint32_t {
        if (length == 0) return unused * SCALE;
        double bits = 0.7 * log2(static_cast<double>(total) / f) + 0.3 * length;
        if (bits < 1) bits = 1;
        return static_cast<uint32_t>(bits * SCALE + 0.5);
    };
    for (int s = 0; s < LITERAL_LENGTH_SYMBOLS; ++s) {
        prices.symbol[s] = price(symbolFrequencies[s], symbolTotal, symbolLengths[s], unusedSymbol);
    }
    for (int c = 0; c < parameters.distanceCodes; ++c) {
        prices.distance[c] = price(distanceFrequencies[c], distanceTotal, distanceLengths[c], unusedDistance) +
                             (c >= 2 ? c - 1 : 0) * SCALE;
    }
}

// Prices that are the block's real code lengths, as the block writer would send them.
void ExactBlockPrices(const Token* tokens, size_t count, const MethodParameters& parameters,
                      Prices& prices) {
    uint8_t symbolLengths[LITERAL_LENGTH_SYMBOLS];
    uint8_t distanceLengths[MAX_DISTANCE_CODES];
    BlockCodeLengths(tokens, count, parameters, symbolLengths, distanceLengths);
    const uint32_t unusedSymbol = PriceOfUnused(symbolLengths, LITERAL_LENGTH_SYMBOLS);
    const uint32_t unusedDistance = PriceOfUnused(distanceLengths, parameters.distanceCodes);
    for (int s = 0; s < LITERAL_LENGTH_SYMBOLS; ++s) {
        prices.symbol[s] = (symbolLengths[s] != 0 ? symbolLengths[s] : unusedSymbol) * SCALE;
    }
    for (int c = 0; c < parameters.distanceCodes; ++c) {
        const uint32_t length = distanceLengths[c] != 0 ? distanceLengths[c] : unusedDistance;
        prices.distance[c] = (length + (c >= 2 ? c - 1 : 0)) * SCALE;
    }
}

// One stretch of input with every position's matches.
struct Graph {
    size_t begin, end;
    std::vector<uint32_t> first;      // index into matches, per position, plus one
    std::vector<StoredMatch> matches;
};

// report(position) is called every 32 KiB of input.
template <typename Report>
void FindMatches(TreeMatchFinder& finder, Graph& graph, const Report& report) {
    const size_t count = graph.end - graph.begin;
    ReserveLarge(graph.first, count + 1);
    graph.first.assign(count + 1, 0);
    graph.matches.clear();
    Match found[MAX_MATCH];
    size_t skipUntil = graph.begin;
    for (size_t position = graph.begin; position < graph.end; ++position) {
        graph.first[position - graph.begin] = static_cast<uint32_t>(graph.matches.size());
        if ((position & 0x7FFF) == 0) report(position);
        if (position < skipUntil) {
            finder.Insert(position);
            continue;
        }
        const int n = finder.FindAll(position, found);
        for (int k = 0; k < n; ++k) {
            PushLarge(graph.matches, {static_cast<uint16_t>(found[k].length),
                                      static_cast<uint16_t>(found[k].distance)});
        }
        if (n > 0 && found[n - 1].length >= SKIP_LENGTH) {
            skipUntil = position + found[n - 1].length;
        }
    }
    graph.first[count] = static_cast<uint32_t>(graph.matches.size());
}

// The arrays of one pass, kept from pass to pass and member to member: allocated
// anew, their pages were faulted in again by every pass.
struct PathWork {
    std::vector<uint32_t> cost;
    std::vector<Token> arrival;  // the token that reaches each position
};

// Cheapest tokens for the graph; prices[k] are in force from input position
// blockStarts[k] on.
void ShortestPath(const uint8_t* data, const Graph& graph, const std::vector<Prices>& prices,
                  const std::vector<size_t>& blockStarts, PathWork& work,
                  std::vector<Token>& out) {
    const size_t count = graph.end - graph.begin;
    std::vector<uint32_t>& cost = work.cost;
    std::vector<Token>& arrival = work.arrival;
    ReserveLarge(cost, count + 1);
    cost.assign(count + 1, INFINITE);
    ReserveLarge(arrival, count + 1);
    if (arrival.size() < count + 1) arrival.resize(count + 1);
    cost[0] = 0;
    size_t block = 0;
    for (size_t i = 0; i < count; ++i) {
        while (block + 1 < blockStarts.size() && blockStarts[block + 1] <= graph.begin + i) ++block;
        const Prices& price = prices[block];
        const uint32_t here = cost[i];
        const uint8_t byte = data[graph.begin + i];
        if (here + price.symbol[byte] < cost[i + 1]) {
            cost[i + 1] = here + price.symbol[byte];
            arrival[i + 1] = {byte, 0};
        }
        const size_t left = count - i;
        uint32_t length = MIN_MATCH;
        for (uint32_t k = graph.first[i]; k < graph.first[i + 1]; ++k) {
            const StoredMatch& match = graph.matches[k];
            const uint32_t distancePrice = price.distance[DistanceCode(match.distance)];
            const uint32_t last = match.length < left ? match.length : static_cast<uint32_t>(left);
            for (; length <= last; ++length) {
                const uint32_t total = here + distancePrice + price.symbol[length + MATCH_BASE];
                if (total < cost[i + length]) {
                    cost[i + length] = total;
                    arrival[i + length] = {static_cast<uint16_t>(length + MATCH_BASE), match.distance};
                }
            }
        }
    }
    // Walk back from the end, then turn the tokens around.
    out.clear();
    for (size_t i = count; i > 0;) {
        const Token token = arrival[i];
        PushLarge(out, token);
        i -= token.symbol > 255 ? token.symbol - MATCH_BASE : 1;
    }
    std::reverse(out.begin(), out.end());
}

uint64_t TokensBits(const std::vector<Token>& tokens, const MethodParameters& parameters,
                    std::vector<size_t>& ends, bool exact) {
    ends = SplitBlocks(tokens.data(), tokens.size(), parameters, 0, exact);
    MethodParameters untuned = parameters;
    untuned.tuneLengths = false;
    uint64_t bits = 0;
    size_t begin = 0;
    for (size_t end : ends) {
        bits += BlockBits(tokens.data() + begin, end - begin, untuned);
        begin = end;
    }
    return bits;
}

// Prices of each block of tokens (blocks ending at ends), and the input position at
// which each block starts, the first at begin.
void PricesFrom(const std::vector<Token>& tokens, const std::vector<size_t>& ends, size_t begin,
                const MethodParameters& parameters, std::vector<Prices>& prices,
                std::vector<size_t>& blockStarts, bool exactPrices = false) {
    prices.clear();
    blockStarts.clear();
    size_t first = 0, position = begin;
    for (size_t end : ends) {
        prices.emplace_back();
        if (exactPrices) {
            ExactBlockPrices(tokens.data() + first, end - first, parameters, prices.back());
        } else {
            BlockPrices(tokens.data() + first, end - first, parameters, prices.back());
        }
        blockStarts.push_back(position);
        for (size_t k = first; k < end; ++k) {
            position += tokens[k].symbol > 255 ? tokens[k].symbol - MATCH_BASE : 1;
        }
        first = end;
    }
}

}  // namespace

void OptimalParse(const uint8_t* data, size_t size, size_t start,
                  const MethodParameters& parameters, std::vector<Token>& tokens,
                  const ParseProgress& progress, std::vector<size_t>& blockEnds) {
    blockEnds.clear();
    TreeMatchFinder finder(data, size, parameters.windowSize, MAX_DEPTH);
    for (size_t p = 0; p < start; ++p) finder.Insert(p);
    thread_local Graph graph;
    thread_local PathWork work;
    thread_local std::vector<Token> candidate, best, lazy;
    std::vector<Prices> prices;
    std::vector<size_t> blockStarts, ends;
    for (size_t begin = start; begin < size; begin += SEGMENT_BYTES) {
        graph.begin = begin;
        graph.end = begin + SEGMENT_BYTES < size ? begin + SEGMENT_BYTES : size;
        // A segment takes seconds: its work is reported as shares of its bytes, the
        // match search as the first half (about its share of the time), then each pass.
        const uint64_t span = graph.end - begin;
        auto report = [&](uint64_t share, uint64_t shares) {
            if (progress.callback != nullptr) {
                progress.callback(progress.context, begin + span * share / shares);
            }
        };
        FindMatches(finder, graph, [&](size_t position) {
            report(position - begin, 2 * span == 0 ? 1 : 2 * span);
        });

        // The first pass is priced by the blocks of a lazy parse, each later one by the
        // blocks of the pass before: also when that did not improve, as the best one's
        // prices would only repeat it.
        lazy.clear();  // the lazy parser appends
        LazyParse(data + begin, graph.end - begin, 0, parameters, lazy, {nullptr, nullptr});
        ends = SplitBlocks(lazy.data(), lazy.size(), parameters, 0);
        PricesFrom(lazy, ends, begin, parameters, prices, blockStarts);
        uint64_t bestBits = ~0ull;
        bool bestExact = false;
        for (int pass = 0; pass < PASSES; ++pass) {
            ShortestPath(data, graph, prices, blockStarts, work, candidate);
            const bool exact = pass >= PASSES - EXACT_PASSES;
            const uint64_t bits = TokensBits(candidate, parameters, ends, exact);
            const bool improved = bits < bestBits;
            if (improved) {
                bestBits = bits;
                best.swap(candidate);
                bestExact = exact;
                if (exact) blockEnds = ends;  // kept below only for a whole member
            }
            if (pass + 1 < PASSES) report(PASSES + pass + 1, 2 * PASSES);
            if (pass + 1 == PASSES) break;
            // The last pass is priced by the real code lengths of the blocks before it:
            // the mixed prices find the better parse, these then tidy it up.
            PricesFrom(improved ? best : candidate, ends, begin, parameters, prices, blockStarts,
                       pass + 2 == PASSES);
        }
        if (!bestExact || begin != start || graph.end != size) blockEnds.clear();
        tokens.insert(tokens.end(), best.begin(), best.end());
        if (progress.callback != nullptr) progress.callback(progress.context, graph.end);
    }
}
