// The compressor's parts against hand-computed bits: code lengths, the three length
// lists, and whole tiny streams.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

#include "encode/encoder_internal.h"
#include "encode/match_finder.h"

namespace {

std::vector<uint8_t> Bits(const std::function<void(BitWriter&)>& write) {
    BitWriter out;
    write(out);
    out.Flush();
    return out.bytes;
}

double KraftSum(const uint8_t* lengths, int count) {
    double sum = 0;
    for (int s = 0; s < count; ++s) {
        if (lengths[s] != 0) sum += 1.0 / static_cast<double>(1u << lengths[s]);
    }
    return sum;
}

TEST(CodeLengths, SmallCaseIsOptimalHuffman) {
    const uint32_t frequencies[5] = {1, 1, 2, 4, 0};
    uint8_t lengths[5];
    BuildCodeLengths(frequencies, 5, 16, lengths);
    EXPECT_EQ(3, lengths[0]);
    EXPECT_EQ(3, lengths[1]);
    EXPECT_EQ(2, lengths[2]);
    EXPECT_EQ(1, lengths[3]);
    EXPECT_EQ(0, lengths[4]);
}

TEST(CodeLengths, FibonacciFrequenciesAreLimitedAndComplete) {
    // Unlimited Huffman would give this set a depth of 29.
    uint32_t frequencies[30];
    frequencies[0] = frequencies[1] = 1;
    for (int s = 2; s < 30; ++s) frequencies[s] = frequencies[s - 1] + frequencies[s - 2];
    for (int limit : {16, 7, 5}) {
        uint8_t lengths[30];
        BuildCodeLengths(frequencies, 30, limit, lengths);
        EXPECT_EQ(limit, *std::max_element(lengths, lengths + 30)) << limit;
        EXPECT_DOUBLE_EQ(1.0, KraftSum(lengths, 30)) << limit;
        // More frequent symbols never get longer codes.
        for (int s = 1; s < 30; ++s) EXPECT_LE(lengths[s], lengths[s - 1]) << limit;
    }
}

// The quick lengths price blocks for the split: they must cost exactly what the
// written code costs, fit the limit and be complete, also where plain Huffman is too deep.
TEST(CodeLengths, QuickLengthsCostTheSameAsPackageMerge) {
    uint32_t state = 12345;
    auto next = [&state] {
        state = state * 1103515245u + 12345u;
        return state >> 8;
    };
    for (int trial = 0; trial < 300; ++trial) {
        const int count = trial % 3 == 0 ? 19 : LITERAL_LENGTH_SYMBOLS;
        uint32_t frequencies[LITERAL_LENGTH_SYMBOLS] = {};
        const int used = 1 + static_cast<int>(next() % count);
        for (int k = 0; k < used; ++k) {
            // Skewed counts: some sets need the length limit.
            const int shift = static_cast<int>(next() % (trial % 2 == 0 ? 24 : 10));
            frequencies[next() % count] += 1 + (next() % 4) * (1u << shift);
        }
        if (trial == 299) {  // Fibonacci counts: plain Huffman would be 29 deep
            frequencies[0] = frequencies[1] = 1;
            for (int s = 2; s < 30; ++s) frequencies[s] = frequencies[s - 1] + frequencies[s - 2];
        }
        uint8_t exact[LITERAL_LENGTH_SYMBOLS], quick[LITERAL_LENGTH_SYMBOLS];
        BuildCodeLengths(frequencies, count, MAX_CODE_LENGTH, exact);
        BuildQuickCodeLengths(frequencies, count, MAX_CODE_LENGTH, quick);
        uint64_t exactBits = 0, quickBits = 0;
        int nonZero = 0;
        for (int s = 0; s < count; ++s) {
            exactBits += static_cast<uint64_t>(frequencies[s]) * exact[s];
            quickBits += static_cast<uint64_t>(frequencies[s]) * quick[s];
            EXPECT_EQ(frequencies[s] != 0, quick[s] != 0) << trial << " " << s;
            EXPECT_LE(quick[s], MAX_CODE_LENGTH);
            nonZero += frequencies[s] != 0;
        }
        EXPECT_EQ(exactBits, quickBits) << trial;
        if (nonZero > 1) {
            EXPECT_DOUBLE_EQ(1.0, KraftSum(quick, count)) << trial;
        }
    }
}

TEST(CodeLengths, CanonicalCodesFollowLengthThenSymbol) {
    const uint8_t lengths[6] = {3, 3, 2, 0, 2, 2};
    uint16_t codes[6];
    BuildCanonicalCodes(lengths, 6, codes);
    EXPECT_EQ(0b00, codes[2]);
    EXPECT_EQ(0b01, codes[4]);
    EXPECT_EQ(0b10, codes[5]);
    EXPECT_EQ(0b110, codes[0]);
    EXPECT_EQ(0b111, codes[1]);
}

TEST(LengthLists, LengthCodeListWithZeroRunAfterTheThird) {
    // n = 6 (00110); 1 (001), 2 (010), 3 (011); two zeros (10); 3 (011); padding.
    const uint8_t lengths[19] = {1, 2, 3, 0, 0, 3};
    EXPECT_EQ((std::vector<uint8_t>{0x31, 0x4E, 0x60}),
              Bits([&](BitWriter& out) { WriteAuxLengths(out, lengths, 19, 5, 3); }));
}

TEST(LengthLists, CountOfThreeStillCarriesTheZeroRunField) {
    // n = 3 (00011); 1 (001), 2 (010), 2 (010); zero run 0 (00).
    const uint8_t lengths[19] = {1, 2, 2};
    EXPECT_EQ((std::vector<uint8_t>{0x19, 0x48}),
              Bits([&](BitWriter& out) { WriteAuxLengths(out, lengths, 19, 5, 3); }));
}

TEST(LengthLists, EscapedLengthsInTheDistanceList) {
    // n = 4 (0100); 7 (1110), 8 (11110), 16 (111 + nine ones + 0), 1 (001); no zero run.
    const uint8_t lengths[14] = {7, 8, 16, 1};
    EXPECT_EQ((std::vector<uint8_t>{0x4E, 0xF7, 0xFF, 0x88}),
              Bits([&](BitWriter& out) { WriteAuxLengths(out, lengths, 14, 4, -1); }));
}

TEST(LengthLists, ZeroRunsOfTheLiteralLengthList) {
    struct Case {
        int run;
        std::vector<std::pair<int, int>> items;  // symbol, extra
    } cases[] = {
        {1, {{0, 0}}},
        {2, {{0, 0}, {0, 0}}},
        {3, {{1, 0}}},
        {18, {{1, 15}}},
        {19, {{0, 0}, {1, 15}}},
        {20, {{2, 0}}},
        {400, {{2, 380}}},
    };
    for (const Case& c : cases) {
        uint8_t lengths[LITERAL_LENGTH_SYMBOLS] = {};
        lengths[0] = 4;
        lengths[1 + c.run] = 16;
        LengthItem items[LITERAL_LENGTH_SYMBOLS];
        const int count = LengthListItems(lengths, items);
        ASSERT_EQ(static_cast<int>(c.items.size()) + 2, count) << c.run;
        EXPECT_EQ(6, items[0].symbol);
        EXPECT_EQ(18, items[count - 1].symbol);
        for (size_t k = 0; k < c.items.size(); ++k) {
            EXPECT_EQ(c.items[k].first, items[1 + k].symbol) << c.run;
            EXPECT_EQ(c.items[k].second, items[1 + k].extra) << c.run;
        }
    }
}

// The tree finder, unbounded in depth, against a plain search of the window: every
// length improvement with its nearest distance. Two letters give many short matches;
// repeated stretches give matches as long as the limit, also at the end of the input;
// the input is longer than the tree's ring of slots.
TEST(MatchFinders, TreeFindsTheNearestMatchOfEveryLength) {
    const uint32_t window = 300;
    std::vector<uint8_t> data;
    uint32_t state = 12345;
    while (data.size() < 70000) {
        state = state * 1103515245u + 12345u;
        if ((state >> 16) % 50 == 0 && data.size() > 700) {
            const size_t from = data.size() - 1 - (state >> 8) % window;
            for (int k = 0; k < 600; ++k) data.push_back(data[from + k]);
        } else {
            data.push_back('a' + ((state >> 20) & 1));
        }
    }
    const size_t tail = data.size() - 500;
    for (int k = 0; k < 500; ++k) data.push_back(data[tail + k]);
    TreeMatchFinder finder(data.data(), data.size(), window, 1 << 30);
    for (size_t position = 0; position < data.size(); ++position) {
        if (position % 7 == 3) {
            finder.Insert(position);
            continue;
        }
        Match found[MAX_MATCH];
        const int count = finder.FindAll(position, found);
        const uint32_t limit = static_cast<uint32_t>(
            std::min<size_t>(MAX_MATCH, data.size() - position));
        std::vector<Match> expected;
        uint32_t best = MIN_MATCH - 1;
        for (size_t back = 1; back <= window && back <= position && best < limit; ++back) {
            const uint32_t length = CommonLength(&data[position], &data[position - back], limit);
            if (length > best) {
                best = length;
                expected.push_back({length, static_cast<uint32_t>(back - 1)});
            }
        }
        ASSERT_EQ(expected.size(), static_cast<size_t>(count)) << position;
        for (int k = 0; k < count; ++k) {
            ASSERT_EQ(expected[k].length, found[k].length) << position;
            ASSERT_EQ(expected[k].distance, found[k].distance) << position;
        }
    }
}

TEST(Streams, OneByteIsTheSingleSymbolForm) {
    // Block size 1; length code 0 + symbol 0; literal code 0 + 65; distance code 0 + 0.
    const uint8_t a = 'A';
    EncodeOptions options;
    options.method = '5';
    EXPECT_EQ((std::vector<uint8_t>{0x00, 0x01, 0x00, 0x00, 0x04, 0x10, 0x00}),
              CompressStream(&a, 1, options));
    options.method = '6';
    // The same with 5-bit distance fields: 16 + 10 + 18 + 10 bits in 7 bytes.
    EXPECT_EQ((std::vector<uint8_t>{0x00, 0x01, 0x00, 0x00, 0x04, 0x10, 0x00}),
              CompressStream(&a, 1, options));
}

TEST(Streams, BlockBitsMatchesWhatWriteBlockWrites) {
    std::vector<Token> tokens;
    for (int i = 0; i < 3000; ++i) {
        if (i % 7 == 3) {
            tokens.push_back({static_cast<uint16_t>(256 + (i * 31) % 254),
                              static_cast<uint16_t>((i * 977) % 32768)});
        } else {
            tokens.push_back({static_cast<uint16_t>((i * i) % 97), 0});
        }
    }
    for (char method : {'5', '6'}) {
        for (bool tune : {false, true}) {
            MethodParameters parameters = ParametersFor(method);
            parameters.tuneLengths = tune;
            if (method == '5') {
                for (Token& token : tokens) token.distance &= 8191;
            }
            uint32_t histogram[LITERAL_LENGTH_SYMBOLS + 16] = {};
            for (size_t count : {size_t(1), size_t(2), size_t(50), tokens.size()}) {
                BitWriter out;
                WriteBlock(out, tokens.data(), count, parameters);
                EXPECT_EQ(out.BitCount(), BlockBits(tokens.data(), count, parameters)) << count;
                if (count != tokens.size()) continue;
                // The histogram price is the same less the distances' extra bits.
                uint64_t extra = 0;
                for (const Token& token : tokens) {
                    ++histogram[token.symbol];
                    if (token.symbol < 256) continue;
                    const int c = DistanceCode(token.distance);
                    ++histogram[LITERAL_LENGTH_SYMBOLS + c];
                    extra += c >= 2 ? c - 1 : 0;
                }
                EXPECT_EQ(out.BitCount(), extra + HistogramBits(histogram,
                          histogram + LITERAL_LENGTH_SYMBOLS, parameters));
            }
        }
    }
}

TEST(Streams, FallbackStoresWhatDoesNotShrink) {
    const uint8_t bytes[] = {1, 2, 3, 4};
    const PackedMember member = PackMember(bytes, 4, EncodeOptions(), '6');
    EXPECT_EQ('0', member.method);
    EXPECT_EQ((std::vector<uint8_t>{1, 2, 3, 4}), member.data);
    const std::vector<uint8_t> zeros(1000, 0);
    EXPECT_EQ('5', PackMember(zeros.data(), zeros.size(), EncodeOptions(), '5').method);
    EXPECT_EQ('0', PackMember(zeros.data(), 0, EncodeOptions(), '6').method);
}

TEST(Headers, LevelOneLayout) {
    PackedMember member;
    member.method = '5';
    member.originalSize = 0x01020304;
    member.crc = 0xBB3D;
    member.data = {9, 9};
    const std::vector<uint8_t> header = BuildMemberHeader("AB", member, 0x1234, 0x5678);
    const std::vector<uint8_t> expected = {
        27,   0,    '-',  'l',  'h', '5', '-', 2, 0, 0, 0, 4, 3, 2, 1, 0x34, 0x12,
        0x78, 0x56, 0x20, 1,    2,   'A', 'B', 0x3D, 0xBB, 'M', 0, 0};
    ASSERT_EQ(expected.size(), header.size());
    uint32_t sum = 0;
    for (size_t i = 2; i < expected.size(); ++i) sum += expected[i];
    EXPECT_EQ(static_cast<uint8_t>(sum), header[1]);
    for (size_t i = 0; i < expected.size(); ++i) {
        if (i != 1) {
            EXPECT_EQ(expected[i], header[i]) << i;
        }
    }
}

TEST(Headers, Crc16Values) {
    EXPECT_EQ(0x0000, Crc16(nullptr, 0));
    EXPECT_EQ(0x9738, Crc16(reinterpret_cast<const uint8_t*>("abc"), 3));
    EXPECT_EQ(0xBB3D, Crc16(reinterpret_cast<const uint8_t*>("123456789"), 9));
}

}  // namespace
