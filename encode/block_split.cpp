// Block splitting: start from short runs of tokens and merge neighbours while one
// block with shared codes costs less than two with codes of their own.
#include <math.h>
#include <string.h>

#include <queue>
#include <vector>

#include "encode/encoder_internal.h"
#include "encode/large_arrays.h"

namespace {

const size_t SEGMENT_TOKENS = 256;
const size_t BEST_SEGMENT_TOKENS = 128;  // finer start for --best (tuneLengths)
const int REFINE_SWEEPS = 3;            // boundary refinement rounds of an exact split
const int HISTOGRAM_SIZE = LITERAL_LENGTH_SYMBOLS + MAX_DISTANCE_CODES;
// Rough price of a block's header besides its code lengths, and of one code length.
const double BLOCK_OVERHEAD_BITS = 150.0;
const double BITS_PER_USED_SYMBOL = 4.0;

// A merge never makes a block of more than MAX_BLOCK_SYMBOLS tokens, so a count fits
// 16 bits: half the memory of the segments, which was the most of a large member's.
struct Segment {
    uint16_t histogram[HISTOGRAM_SIZE];
    size_t begin, end;       // token range
    double cost;
    int previous, next;      // neighbours in the list, -1 at the ends
    uint32_t version;        // bumped whenever the segment changes
    bool alive;
};

// x log2 x for every count a block can have.
const std::vector<double>& XLogTable() {
    static const std::vector<double> table = [] {
        std::vector<double> values(MAX_BLOCK_SYMBOLS + 1);
        values[0] = 0;
        for (size_t i = 1; i < values.size(); ++i) values[i] = i * log2(static_cast<double>(i));
        return values;
    }();
    return table;
}

double PartCost(const uint32_t* histogram, int count, const std::vector<double>& xlog) {
    uint32_t total = 0;
    int used = 0;
    double sum = 0;
    // Without a branch on unused symbols (xlog[0] is 0): in a histogram of a few
    // hundred tokens, which symbols are unused follows no pattern.
    for (int s = 0; s < count; ++s) {
        const uint32_t f = histogram[s];
        total += f;
        used += f != 0;
        sum += xlog[f];
    }
    if (used <= 1) return 0;
    return xlog[total] - sum + used * BITS_PER_USED_SYMBOL;
}

double EstimatedCost(const uint32_t* histogram) {
    const std::vector<double>& xlog = XLogTable();
    return BLOCK_OVERHEAD_BITS + PartCost(histogram, LITERAL_LENGTH_SYMBOLS, xlog) +
           PartCost(histogram + LITERAL_LENGTH_SYMBOLS, MAX_DISTANCE_CODES, xlog);
}

struct Candidate {
    double saving;
    double mergedCost;  // the cost of the two as one block
    int left;
    uint32_t leftVersion, rightVersion;
    bool operator<(const Candidate& other) const {
        if (saving != other.saving) return saving < other.saving;
        return left > other.left;  // ties: leftmost first, for reproducible output
    }
};

// Histogram of tokens [begin, end): symbols, then distance codes.
void Histogram(const Token* tokens, size_t begin, size_t end, uint32_t* histogram) {
    memset(histogram, 0, HISTOGRAM_SIZE * sizeof(uint32_t));
    for (size_t i = begin; i < end; ++i) {
        ++histogram[tokens[i].symbol];
        if (tokens[i].symbol > 255) {
            ++histogram[LITERAL_LENGTH_SYMBOLS + DistanceCode(tokens[i].distance)];
        }
    }
}

// Exact bits of a block with the histogram, less the distances' extra bits.
double HistogramCost(const uint32_t* histogram, const MethodParameters& parameters) {
    return static_cast<double>(
        HistogramBits(histogram, histogram + LITERAL_LENGTH_SYMBOLS, parameters));
}

// Moves each boundary to where the two blocks beside it cost least, and drops it when
// one block costs less than two; sweeps times over the boundaries. A boundary that
// stayed where it was is not weighed again until a neighbour moves: with the same
// blocks beside it, it would stay again.
void RefineBoundaries(const Token* tokens, const MethodParameters& parameters,
                      uint32_t maxSymbols, std::vector<size_t>& ends, int sweeps) {
    static const long SHIFTS[] = {-2048, -1024, -512, -256, -128, -64, -32, 32, 64, 128, 256,
                                  512,   1024,  2048, -16,  -8,   -4,  -2,  -1, 1,  2,  4,
                                  8,     16};
    std::vector<uint8_t> settled(ends.size(), 0);
    for (int sweep = 0; sweep < sweeps; ++sweep) {
        for (size_t k = 0; k + 1 < ends.size(); ++k) {
            if (settled[k]) continue;
            const size_t begin = k == 0 ? 0 : ends[k - 1];
            const size_t end = ends[k + 1];
            const size_t current = ends[k];
            uint32_t left[HISTOGRAM_SIZE], right[HISTOGRAM_SIZE];
            uint32_t movedLeft[HISTOGRAM_SIZE], movedRight[HISTOGRAM_SIZE];
            Histogram(tokens, begin, current, left);
            Histogram(tokens, current, end, right);
            const double apart =
                HistogramCost(left, parameters) + HistogramCost(right, parameters);
            if (end - begin <= maxSymbols) {
                for (int s = 0; s < HISTOGRAM_SIZE; ++s) movedLeft[s] = left[s] + right[s];
                if (HistogramCost(movedLeft, parameters) < apart) {
                    ends.erase(ends.begin() + static_cast<long>(k));
                    settled.erase(settled.begin() + static_cast<long>(k));
                    settled[k] = 0;
                    if (k > 0) settled[--k] = 0;
                    continue;
                }
            }
            // Each shift moves the tokens between the boundary and the shifted boundary
            // from one histogram to the other.
            size_t bestSplit = current;
            double bestBits = apart;
            for (long shift : SHIFTS) {
                const long split = static_cast<long>(current) + shift;
                if (split <= static_cast<long>(begin) || split >= static_cast<long>(end)) {
                    continue;
                }
                if (static_cast<size_t>(split) - begin > maxSymbols ||
                    end - static_cast<size_t>(split) > maxSymbols) {
                    continue;
                }
                memcpy(movedLeft, left, sizeof left);
                memcpy(movedRight, right, sizeof right);
                const int sign = shift > 0 ? 1 : -1;
                const size_t from = shift > 0 ? current : static_cast<size_t>(split);
                const size_t to = shift > 0 ? static_cast<size_t>(split) : current;
                for (size_t i = from; i < to; ++i) {
                    const int symbol = tokens[i].symbol;
                    movedLeft[symbol] += sign;
                    movedRight[symbol] -= sign;
                    if (symbol > 255) {
                        const int c = LITERAL_LENGTH_SYMBOLS + DistanceCode(tokens[i].distance);
                        movedLeft[c] += sign;
                        movedRight[c] -= sign;
                    }
                }
                const double bits = HistogramCost(movedLeft, parameters) +
                                    HistogramCost(movedRight, parameters);
                if (bits < bestBits) {
                    bestBits = bits;
                    bestSplit = static_cast<size_t>(split);
                }
            }
            settled[k] = bestSplit == current;
            if (bestSplit != current) {
                ends[k] = bestSplit;
                if (k > 0) settled[k - 1] = 0;
                settled[k + 1] = 0;
            }
        }
    }
}

}  // namespace

std::vector<size_t> SplitBlocks(const Token* tokens, size_t count,
                                const MethodParameters& methodParameters, uint32_t maxSymbols,
                                bool exact) {
    // Blocks are priced with their optimal codes: trying flatter ones for every
    // candidate would cost more time than the rare better boundary is worth.
    MethodParameters parameters = methodParameters;
    parameters.tuneLengths = false;
    parameters.quickLengths = true;
    auto Cost = [&](const uint32_t* histogram) {
        if (!exact) return EstimatedCost(histogram);
        return static_cast<double>(HistogramBits(
            histogram, histogram + LITERAL_LENGTH_SYMBOLS, parameters));
    };
    std::vector<size_t> ends;
    if (count == 0) return ends;
    if (maxSymbols == 0 || maxSymbols > MAX_BLOCK_SYMBOLS) maxSymbols = MAX_BLOCK_SYMBOLS;
    const size_t start =
        exact || methodParameters.tuneLengths ? BEST_SEGMENT_TOKENS : SEGMENT_TOKENS;
    const size_t segmentTokens = maxSymbols < start ? maxSymbols : start;

    // Kept by each packing thread from member to member, like the tokens: a segment
    // holds a whole histogram, and paging in a large member's segments again for
    // every member cost a tenth of the default packing time.
    thread_local std::vector<Segment> segments;
    segments.clear();
    ReserveLarge(segments, count / segmentTokens + 1);
    for (size_t begin = 0; begin < count; begin += segmentTokens) {
        segments.emplace_back();
        Segment& segment = segments.back();
        memset(segment.histogram, 0, sizeof segment.histogram);
        segment.begin = begin;
        segment.end = begin + segmentTokens < count ? begin + segmentTokens : count;
        for (size_t i = segment.begin; i < segment.end; ++i) {
            ++segment.histogram[tokens[i].symbol];
            if (tokens[i].symbol > 255) {
                ++segment.histogram[LITERAL_LENGTH_SYMBOLS + DistanceCode(tokens[i].distance)];
            }
        }
        uint32_t counts[HISTOGRAM_SIZE];
        for (int s = 0; s < HISTOGRAM_SIZE; ++s) counts[s] = segment.histogram[s];
        segment.cost = Cost(counts);
        segment.previous = static_cast<int>(segments.size()) - 2;
        segment.next = -1;
        segment.version = 0;
        segment.alive = true;
        if (segment.previous >= 0) segments[segment.previous].next = segment.previous + 1;
    }

    std::priority_queue<Candidate> queue;
    uint32_t merged[HISTOGRAM_SIZE];
    auto consider = [&](int left) {
        const int right = segments[left].next;
        if (right < 0) return;
        const Segment& a = segments[left];
        const Segment& b = segments[right];
        if ((a.end - a.begin) + (b.end - b.begin) > maxSymbols) return;
        for (int s = 0; s < HISTOGRAM_SIZE; ++s) merged[s] = a.histogram[s] + b.histogram[s];
        const double mergedCost = Cost(merged);
        const double saving = a.cost + b.cost - mergedCost;
        if (saving > 0) queue.push({saving, mergedCost, left, a.version, b.version});
    };
    for (size_t i = 0; i + 1 < segments.size(); ++i) consider(static_cast<int>(i));

    while (!queue.empty()) {
        const Candidate candidate = queue.top();
        queue.pop();
        Segment& a = segments[candidate.left];
        if (!a.alive || a.version != candidate.leftVersion || a.next < 0) continue;
        Segment& b = segments[a.next];
        if (b.version != candidate.rightVersion) continue;
        for (int s = 0; s < HISTOGRAM_SIZE; ++s) {
            a.histogram[s] = static_cast<uint16_t>(a.histogram[s] + b.histogram[s]);
        }
        a.end = b.end;
        a.cost = candidate.mergedCost;  // the versions say these are the same two
        a.next = b.next;
        if (b.next >= 0) segments[b.next].previous = candidate.left;
        b.alive = false;
        ++a.version;
        if (a.previous >= 0) consider(a.previous);
        consider(candidate.left);
    }

    for (int i = 0; i >= 0; i = segments[i].next) ends.push_back(segments[i].end);
    if (exact) RefineBoundaries(tokens, parameters, maxSymbols, ends, REFINE_SWEEPS);
    return ends;
}
