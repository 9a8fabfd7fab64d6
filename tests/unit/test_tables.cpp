// Huffman decoding tables: look-up contents, tree nodes for long codes, refusal of
// length sets that are not complete codes, and the table path against a slow oracle.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "decode/bits.h"
#include "decode/tables.h"
#include "support/stream_builder.h"

namespace {

// A look-up array with guard entries on both sides, to catch writes outside it.
struct GuardedLookup {
    static const int GUARD = 64;
    std::vector<uint16_t> entries;
    int size;
    explicit GuardedLookup(int tableBits) : entries((1u << tableBits) + 2 * GUARD, 0xBEEF) {
        size = 1 << tableBits;
    }
    uint16_t* data() { return entries.data() + GUARD; }
    bool GuardsIntact() const {
        for (int i = 0; i < GUARD; ++i) {
            if (entries[i] != 0xBEEF || entries[GUARD + size + i] != 0xBEEF) return false;
        }
        return true;
    }
};

std::vector<uint8_t> Lengths(std::initializer_list<int> values) {
    return std::vector<uint8_t>(values.begin(), values.end());
}

TEST(Tables, WorkedTenSymbolExample) {
    const std::vector<uint8_t> lengths = Lengths({1, 2, 3, 4, 5, 6, 7, 8, 9, 9});
    GuardedLookup lookup(8);
    ASSERT_EQ(1, BuildTable(10, lengths.data(), 8, lookup.data()));
    const uint16_t* t = lookup.data();
    // Symbol s of length s + 1 fills 2^(7 - s) entries after the ones before it.
    int index = 0;
    for (int s = 0; s <= 7; ++s) {
        for (int i = 0; i < (128 >> s); ++i, ++index) ASSERT_EQ(s, t[index]) << index;
    }
    EXPECT_EQ(255, index);
    EXPECT_EQ(10, t[255]);  // cleared, then the first node
    EXPECT_EQ(8, zeroChild[10]);
    EXPECT_EQ(9, oneChild[10]);
    EXPECT_TRUE(lookup.GuardsIntact());
}

TEST(Tables, ShortCompleteCodeFillsEveryEntryWithoutNodes) {
    // Lengths 2, 2, 2, 3, 3 and zero-length symbols between them: complete, all short.
    const std::vector<uint8_t> lengths = Lengths({2, 0, 2, 2, 0, 3, 3});
    GuardedLookup lookup(8);
    zeroChild[7] = oneChild[7] = 0x1234;  // the first node number, were one created
    ASSERT_EQ(1, BuildTable(7, lengths.data(), 8, lookup.data()));
    const uint16_t* t = lookup.data();
    for (int i = 0; i < 256; ++i) {
        const int expected = i < 64 ? 0 : i < 128 ? 2 : i < 192 ? 3 : i < 224 ? 5 : 6;
        ASSERT_EQ(expected, t[i]) << i;
    }
    EXPECT_EQ(0x1234, zeroChild[7]);
    EXPECT_EQ(0x1234, oneChild[7]);
    EXPECT_TRUE(lookup.GuardsIntact());
}

TEST(Tables, RefusedLengthSetsLeaveEverythingUntouched) {
    struct Case {
        const char* what;
        std::vector<uint8_t> lengths;
    } cases[] = {
        {"over-full: three codes of one bit", Lengths({1, 1, 1, 0})},
        {"incomplete: a single code of one bit", Lengths({0, 1, 0, 0})},
        {"incomplete: 1, 2, 3, 3 minus one", Lengths({1, 2, 3, 0})},
        {"empty: no length at all", Lengths({0, 0, 0, 0})},
        {"a length above 16", Lengths({1, 2, 17, 17})},
        {"over-full with long codes", Lengths({1, 2, 3, 16, 16, 16, 16, 16, 16})},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        GuardedLookup lookup(8);
        for (int i = 0; i < lookup.size; ++i) lookup.data()[i] = 0x4242;
        const uint16_t before = zeroChild[static_cast<int>(c.lengths.size())];
        EXPECT_EQ(0, BuildTable(static_cast<int>(c.lengths.size()), c.lengths.data(), 8,
                                lookup.data()));
        for (int i = 0; i < lookup.size; ++i) ASSERT_EQ(0x4242, lookup.data()[i]);
        EXPECT_EQ(before, zeroChild[static_cast<int>(c.lengths.size())]);
        EXPECT_TRUE(lookup.GuardsIntact());
    }
}

// The symbols `lengths` gives codes to, coded one after another into a file that the
// bit input then reads.
void PrimeWithSymbols(const std::vector<int>& lengths, const std::vector<int>& symbols) {
    const std::vector<uint32_t> codes = CanonicalCodes(lengths);
    StreamWriter w;
    for (int s : symbols) w.Put(codes[s], lengths[s]);
    const Bytes bytes = w.Finish();
    ASSERT_EQ(1, archiveReader.Open(WriteTempFile(bytes).c_str()));
    extractionState.packedRemaining = static_cast<uint32_t>(bytes.size());
    InitBits();
}

// Slow oracle: reads one bit at a time until the bits read equal some symbol's code.
int DecodeBitByBit(const std::vector<int>& lengths, const std::vector<uint32_t>& codes) {
    uint32_t value = 0;
    for (int length = 1; length <= 16; ++length) {
        value = (value << 1) | GetBits(1);
        for (size_t s = 0; s < lengths.size(); ++s) {
            if (lengths[s] == length && codes[s] == value) return static_cast<int>(s);
        }
    }
    return -1;
}

// A random complete code: split random leaves of a one-leaf tree until there are
// `used` leaves no deeper than 16, then hand the depths to random symbols.
std::vector<int> RandomCompleteLengths(std::mt19937& random, int symbolCount, int used) {
    std::vector<int> depths = {0};
    while (static_cast<int>(depths.size()) < used) {
        const size_t leaf = random() % depths.size();
        if (depths[leaf] == 16) continue;
        depths[leaf] += 1;
        depths.push_back(depths[leaf]);
    }
    std::vector<int> lengths(static_cast<size_t>(symbolCount), 0);
    std::vector<int> order(static_cast<size_t>(symbolCount));
    for (int i = 0; i < symbolCount; ++i) order[static_cast<size_t>(i)] = i;
    std::shuffle(order.begin(), order.end(), random);
    for (size_t i = 0; i < depths.size(); ++i) lengths[static_cast<size_t>(order[i])] = depths[i];
    return lengths;
}

TEST(Tables, TablePathMatchesBitByBitOracleOnRandomCompleteCodes) {
    struct Shape {
        int symbolCount;
        int tableBits;
    } shapes[] = {{510, 12}, {19, 8}, {14, 8}, {16, 8}};
    std::vector<uint16_t> lookup(4096);
    for (const Shape& shape : shapes) {
        for (uint32_t seed = 1; seed <= 25; ++seed) {
            SCOPED_TRACE(testing::Message() << shape.symbolCount << " symbols, seed " << seed);
            std::mt19937 random(seed);
            const int used = 2 + static_cast<int>(random() % (shape.symbolCount - 1));
            std::vector<int> lengths = RandomCompleteLengths(random, shape.symbolCount, used);
            std::vector<uint8_t> bytes(lengths.begin(), lengths.end());
            ASSERT_EQ(1, BuildTable(shape.symbolCount, bytes.data(), shape.tableBits,
                                    lookup.data()));
            std::vector<int> symbols;
            for (int i = 0; i < 400; ++i) {
                int s;
                do s = static_cast<int>(random() % shape.symbolCount);
                while (lengths[static_cast<size_t>(s)] == 0);
                symbols.push_back(s);
            }
            const HuffmanTable table = {shape.symbolCount, bytes.data(), shape.tableBits,
                                        lookup.data()};
            PrimeWithSymbols(lengths, symbols);
            for (int s : symbols) ASSERT_EQ(s, DecodeCode(table));
            archiveReader.Close();

            const std::vector<uint32_t> codes = CanonicalCodes(lengths);
            PrimeWithSymbols(lengths, symbols);
            for (int s : symbols) ASSERT_EQ(s, DecodeBitByBit(lengths, codes));
            archiveReader.Close();
        }
    }
}

TEST(Tables, RebuildingSmallCodesKeepsTheLargeCodesNodes) {
    // A literal/length code with 16-bit codes (nodes from 510), then a 19-symbol code
    // with long codes built over the shared tree arrays: the first must still decode.
    std::vector<int> big(510, 0);
    for (int s = 0; s < 15; ++s) big[static_cast<size_t>(s)] = s + 1;  // 1..15
    big[300] = 16;
    big[509] = 16;
    std::vector<int> small(19, 0);
    for (int s = 0; s < 10; ++s) small[static_cast<size_t>(s)] = s + 1;  // 1..10, 10
    small[18] = 10;
    std::vector<uint8_t> bigBytes(big.begin(), big.end());
    std::vector<uint8_t> smallBytes(small.begin(), small.end());
    std::vector<uint16_t> bigLookup(4096);
    std::vector<uint16_t> smallLookup(256);
    ASSERT_EQ(1, BuildTable(510, bigBytes.data(), 12, bigLookup.data()));
    ASSERT_EQ(1, BuildTable(19, smallBytes.data(), 8, smallLookup.data()));

    const std::vector<int> symbols = {509, 300, 14, 13, 12, 0, 509};
    PrimeWithSymbols(big, symbols);
    const HuffmanTable table = {510, bigBytes.data(), 12, bigLookup.data()};
    for (int s : symbols) EXPECT_EQ(s, DecodeCode(table));
    archiveReader.Close();
}

TEST(Tables, EqualLengthsTakeConsecutiveCodesInSymbolOrder) {
    // Four 2-bit codes among zero lengths: symbols 3, 5, 8, 9 get 00, 01, 10, 11.
    const std::vector<uint8_t> lengths = Lengths({0, 0, 0, 2, 0, 2, 0, 0, 2, 2});
    std::vector<uint16_t> lookup(256);
    ASSERT_EQ(1, BuildTable(10, lengths.data(), 8, lookup.data()));
    EXPECT_EQ(3, lookup[0x00]);
    EXPECT_EQ(5, lookup[0x40]);
    EXPECT_EQ(8, lookup[0x80]);
    EXPECT_EQ(9, lookup[0xFF]);
}

}  // namespace
