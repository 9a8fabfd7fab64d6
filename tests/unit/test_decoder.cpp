// The block decoder: hand-built streams for each stream feature, data outside the
// format's limits, the fast loop against the byte-at-a-time path, and the fixtures.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <random>
#include <sstream>

#include "archive/archive.h"
#include "decode/bits.h"
#include "decode/block.h"
#include "extract/extract.h"
#include "support/archive_builder.h"
#include "support/recording_ui.h"
#include "support/stream_builder.h"
#include "support/test_files.h"

namespace {

const uint8_t SENTINEL = 0x5A;  // the byte after the member in every test file

// Decodes `packed` as one member of `size` bytes, chunk by chunk as extraction does.
// The window starts out filled with `fill`. Afterwards the reader must stand right
// after the packed data.
Bytes Decode(const Bytes& packed, int method, size_t size, bool bytewise = false,
             uint8_t fill = 0) {
    Bytes file = packed;
    file.push_back(SENTINEL);
    EXPECT_EQ(1, archiveReader.Open(WriteTempFile(file).c_str()));
    extractionState.packedRemaining = static_cast<uint32_t>(packed.size());
    memset(extractionState.windowBuffer, fill, sizeof extractionState.windowBuffer);
    BeginDecode(method);
    Bytes output;
    while (output.size() < size) {
        const uint32_t count = static_cast<uint32_t>(
            size - output.size() < WINDOW_SIZE ? size - output.size() : WINDOW_SIZE);
        const uint8_t* chunk = bytewise ? DecodeChunkBytewise(count, extractionState.windowBuffer)
                                        : DecodeChunk(count, extractionState.windowBuffer);
        output.insert(output.end(), chunk, chunk + count);
    }
    archiveReader.Close();
    return output;
}

Bytes Text(const std::string& text) { return Bytes(text.begin(), text.end()); }

Bytes Repeat(uint8_t byte, size_t count) { return Bytes(count, byte); }

// One well-formed stream: what it is, the method, its bits, what it decodes to.
struct StreamCase {
    const char* what;
    int method;
    std::function<void(StreamWriter*)> write;
    Bytes expected;
};

void PutSingleCodes(StreamWriter* w, int symbol, int distanceCountBits) {
    w->Put(0, 5);                // length code: count 0,
    w->Put(0, 5);                //   single symbol 0
    w->Put(0, 9);                // literal/length code: count 0,
    w->Put(static_cast<uint32_t>(symbol), 9);  //   single symbol
    w->Put(0, distanceCountBits);  // distance code: count 0,
    w->Put(0, distanceCountBits);  //   single symbol 0
}

// Length code: symbol 3 (length 1) is "0", symbols 1 and 2 (zero runs) "10" and "11".
// Literal/length lengths: 1 for literals 0 and 1, then one zero run of `zeros` entries
// (508 ends the list exactly at entry 510).
void PutTwoLiteralsAndZeroRun(StreamWriter* w, int zeros) {
    w->Put(4, 5);
    w->PutLength(0);
    w->PutLength(2);
    w->PutLength(2);
    w->Put(0, 2);  // no zero run
    w->PutLength(1);
    w->Put(510, 9);
    w->Put(0, 2);  // symbol 3 twice
    w->Put(3, 2);  // symbol 2: a run of 20 + 9 bits
    w->Put(static_cast<uint32_t>(zeros - 20), 9);
}

std::vector<StreamCase> WellFormedCases() {
    std::vector<StreamCase> cases;
    cases.push_back({"single-symbol codes: 'B' three times, then a block of 'C' twice", '5',
                     [](StreamWriter* w) {
                         w->Put(3, 16);  // block size 3
                         PutSingleCodes(w, 'B', 4);
                         w->Put(2, 16);  // next block at once: the symbols took no bits
                         PutSingleCodes(w, 'C', 4);
                     },
                     Text("BBBCC")});
    cases.push_back({"single-symbol length code: 256 lengths of 8, literals are 8-bit codes", '5',
                     [](StreamWriter* w) {
                         w->Put(2, 16);   // block size 2
                         w->Put(0, 5);    // length code: count 0,
                         w->Put(10, 5);   //   single symbol 10, every length is 8
                         w->Put(256, 9);  // 256 literal/length lengths, no bits each
                         w->Put(0, 4);    // distance code: count 0,
                         w->Put(0, 4);    //   single symbol 0
                         w->Put('h', 8);  // code of 'h'
                         w->Put('i', 8);  // code of 'i'
                     },
                     Text("hi")});
    cases.push_back({"single-symbol distance code 3: only its 2 extra bits are sent", '5',
                     [](StreamWriter* w) {
                         w->Put(8, 16);  // block size 8
                         PutFixedLengthCode(w);
                         PutFixedSymbolLengths(w);
                         w->Put(0, 4);  // distance code: count 0,
                         w->Put(3, 4);  //   single symbol 3 (values 4..7)
                         for (char c : std::string("abcdefg")) PutFixedSymbol(w, c);
                         PutFixedSymbol(w, 256);  // match of 3
                         w->Put(1, 2);            // extra bits: value 5, 6 bytes back
                     },
                     Text("abcdefgbcd")});
    cases.push_back({"length-code count 3: the zero-run field follows the third length", '5',
                     [](StreamWriter* w) {
                         w->Put(1, 16);  // block size 1
                         w->Put(3, 5);   // length code: 3 lengths
                         w->PutLength(1);
                         w->PutLength(2);
                         w->PutLength(2);
                         w->Put(3, 2);    // zero run of 3 (past the count: the list ends)
                         w->Put(0, 9);    // literal/length code: count 0,
                         w->Put('Q', 9);  //   single symbol 'Q'
                         w->Put(0, 4);    // distance code: count 0,
                         w->Put(0, 4);    //   single symbol 0
                     },
                     Text("Q")});
    cases.push_back({"length-code count 2: no zero-run field", '5',
                     [](StreamWriter* w) {
                         w->Put(1, 16);  // block size 1
                         w->Put(2, 5);   // length code: 2 lengths
                         w->PutLength(1);
                         w->PutLength(1);
                         w->Put(0, 9);    // literal/length code: count 0,
                         w->Put('R', 9);  //   single symbol 'R'
                         w->Put(0, 4);    // distance code: count 0,
                         w->Put(0, 4);    //   single symbol 0
                     },
                     Text("R")});
    cases.push_back({"counts above the symbol count: surplus lengths are read and ignored", '5',
                     [](StreamWriter* w) {
                         w->Put(3, 16);  // block size 3
                         w->Put(25, 5);  // length code: 25 lengths for 19 symbols
                         for (int i = 0; i < 3; ++i) w->PutLength(0);
                         w->Put(3, 2);  // zero run: entries 3, 4, 5
                         for (int i = 6; i < 10; ++i) w->PutLength(0);
                         w->PutLength(1);  // symbol 10
                         w->PutLength(1);  // symbol 11
                         for (int i = 12; i < 19; ++i) w->PutLength(0);
                         for (int i = 19; i < 25; ++i) w->PutLength(1);  // surplus
                         PutFixedSymbolLengths(w);
                         w->Put(15, 4);  // distance code: 15 lengths for 14 symbols
                         w->PutLength(3);
                         w->PutLength(3);
                         for (int i = 2; i < 14; ++i) w->PutLength(4);
                         w->PutLength(12);  // surplus, as an escape
                         PutFixedSymbol(w, 'x');
                         PutFixedSymbol(w, 'y');
                         PutFixedSymbol(w, 256);  // match of 3,
                         PutFixedDistance(w, '5', 1);  // 2 bytes back
                     },
                     Text("xyxyx")});
    cases.push_back({"a match of 256 at distance value 0 repeats the previous byte", '5',
                     [](StreamWriter* w) {
                         WriteFixedBlock(w, '5', {Literal('x'), Match(256, 0), Literal('!')});
                     },
                     [] {
                         Bytes b = Repeat('x', 257);
                         b.push_back('!');
                         return b;
                     }()});
    cases.push_back({"block size 0: the block's codes last to the member's end", '6',
                     [](StreamWriter* w) {
                         w->Put(0, 16);  // block size 0
                         PutSingleCodes(w, 'Z', 5);
                     },
                     Repeat('Z', 70000)});
    cases.push_back({"-lh4- decodes as -lh5-", '4',
                     [](StreamWriter* w) {
                         WriteFixedBlock(w, '4', {Literal('a'), Literal('b'), Match(5, 1)});
                     },
                     Text("abababa")});
    cases.push_back({"a zero run ending exactly at entry 510", '5',
                     [](StreamWriter* w) {
                         w->Put(3, 16);  // block size 3
                         PutTwoLiteralsAndZeroRun(w, 508);
                         w->Put(0, 4);  // distance code: count 0,
                         w->Put(0, 4);  //   single symbol 0
                         w->Put(2, 3);  // literals 0, 1, 0
                     },
                     Bytes{0, 1, 0}});
    return cases;
}

TEST(Decoder, WorkedSevenByteExampleAsLh5AndLh6) {
    const Bytes packed = {0x00, 0x01, 0x00, 0x00, 0x04, 0x10, 0x00};
    for (int method : {'5', '6'}) {
        EXPECT_EQ(Text("A"), Decode(packed, method, 1)) << static_cast<char>(method);
        EXPECT_EQ(0u, extractionState.packedRemaining);
        EXPECT_EQ(packed.size(), archiveReader.consumedBytes);
    }
}

TEST(Decoder, WellFormedStreams) {
    for (const StreamCase& c : WellFormedCases()) {
        SCOPED_TRACE(c.what);
        StreamWriter w;
        c.write(&w);
        const Bytes packed = w.Finish();
        EXPECT_EQ(c.expected, Decode(packed, c.method, c.expected.size()));
        EXPECT_EQ(0, DecodeSawBadData());
        EXPECT_EQ(c.expected, Decode(packed, c.method, c.expected.size(), true));
        // Every packed byte was taken; the sentinel after them was not.
        EXPECT_EQ(0u, extractionState.packedRemaining);
        EXPECT_EQ(packed.size(), archiveReader.consumedBytes);
    }
}

// Random literals, then the given tokens after them.
std::vector<Token> AfterLiterals(size_t literals, std::mt19937* random,
                                 std::initializer_list<Token> tail) {
    std::vector<Token> tokens;
    for (size_t i = 0; i < literals; ++i) {
        tokens.push_back(Literal(static_cast<int>((*random)() & 0xFF)));
    }
    tokens.insert(tokens.end(), tail);
    return tokens;
}

TEST(Decoder, MatchesAtChunkBoundariesAndTheFarthestDistances) {
    std::mt19937 random(7);
    // Short matches, each followed by one that reads the oldest bytes of the window,
    // just past where the short one ended; then enough literals for the fast loop.
    std::vector<Token> oldestAfterShort = AfterLiterals(
        33000, &random,
        {Match(3, 50), Match(5, 32767), Match(4, 32764), Match(12, 40), Match(3, 32766)});
    const std::vector<Token> literals = AfterLiterals(300, &random, {});
    oldestAfterShort.insert(oldestAfterShort.end(), literals.begin(), literals.end());
    struct Case {
        const char* what;
        int method;
        std::vector<Token> tokens;
    } cases[] = {
        {"a match straddling the chunk boundary", '5',
         AfterLiterals(32760, &random, {Match(20, 99), Literal('e')})},
        {"a match ending exactly on the boundary, then a literal", '5',
         AfterLiterals(32760, &random, {Match(8, 3000), Literal('n'), Match(3, 0)})},
        {"-lh6- code 15 with every extra bit set: the byte 32768 back", '6',
         AfterLiterals(32768, &random, {Match(3, 32767), Literal('z'), Match(200, 32767)})},
        {"-lh5- code 13 with every extra bit set: 8192 back", '5',
         AfterLiterals(9000, &random, {Match(256, 8191)})},
        {"the oldest bytes right after a short match", '6', oldestAfterShort},
        {"-lh7- code 16 with every extra bit set: the byte 65536 back", '7',
         AfterLiterals(65536, &random, {Match(3, 65535), Literal('z'), Match(200, 65535)})},
        {"-lh7- matches from the other half of the window, across a chunk boundary", '7',
         AfterLiterals(98290, &random, {Match(40, 40000), Match(256, 65000), Literal('q')})},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        StreamWriter w;
        // A block holds at most 65535 symbols.
        for (size_t at = 0; at < c.tokens.size(); at += 60000) {
            const size_t end = std::min(c.tokens.size(), at + 60000);
            WriteFixedBlock(&w, c.method, std::vector<Token>(c.tokens.begin() + at,
                                                             c.tokens.begin() + end));
        }
        const Bytes expected = ExpandTokens(c.tokens, Bytes());
        EXPECT_EQ(expected, Decode(w.Finish(), c.method, expected.size()));
        EXPECT_EQ(expected, Decode(w.Finish(), c.method, expected.size(), true));
    }
}

TEST(Decoder, DistancesBeforeTheFirstByteReadWhatTheWindowHolds) {
    // The window is not cleared between members: the bytes at its end are read.
    const std::vector<Token> tokens = {Literal('a'), Match(10, 6), Match(4, 32000)};
    StreamWriter w;
    WriteFixedBlock(&w, '6', tokens);
    const Bytes expected = ExpandTokens(tokens, Repeat(0xC7, WINDOW_SIZE));
    EXPECT_EQ(expected, Decode(w.Finish(), '6', expected.size(), false, 0xC7));
    EXPECT_EQ(expected, Decode(w.Finish(), '6', expected.size(), true, 0xC7));
}

TEST(Decoder, FastLoopMatchesByteAtATimeAcrossBlocksAndChunks) {
    // Random literals and matches of every length and distance in blocks of random
    // size: both paths give the same bytes, and after every chunk the same bit input
    // state and the same position in the file.
    for (int method : {'5', '6', '7'}) {
        for (uint32_t seed = 1; seed <= 3; ++seed) {
            SCOPED_TRACE(testing::Message() << static_cast<char>(method) << " seed " << seed);
            std::mt19937 random(seed);
            StreamWriter w;
            std::vector<Token> all;
            const uint32_t maxDistance = method == '7' ? 65535 : method == '6' ? 32767 : 8191;
            for (int block = 0; block < 6; ++block) {
                std::vector<Token> tokens;
                const size_t count = 1 + random() % 30000;
                for (size_t i = 0; i < count; ++i) {
                    if (random() % 3 == 0) {
                        tokens.push_back(Literal(static_cast<int>(random() & 0xFF)));
                    } else {
                        const int length = random() % 4 == 0 ? 3 + static_cast<int>(random() % 254)
                                                             : 3 + static_cast<int>(random() % 8);
                        const uint32_t distance = random() % 2 == 0 ? random() % 16
                                                                    : random() % (maxDistance + 1);
                        tokens.push_back(Match(length, distance));
                    }
                }
                WriteFixedBlock(&w, method, tokens);
                all.insert(all.end(), tokens.begin(), tokens.end());
            }
            const Bytes packed = w.Finish();
            const Bytes expected = ExpandTokens(all, Bytes());

            struct State {
                uint32_t bitBuffer, spareByte;
                FileOffset packedRemaining, consumed;
                int spareBits;
                bool operator==(const State& o) const {
                    return bitBuffer == o.bitBuffer && spareByte == o.spareByte &&
                           packedRemaining == o.packedRemaining && consumed == o.consumed &&
                           spareBits == o.spareBits;
                }
            };
            std::vector<State> states[2];
            Bytes outputs[2];
            for (int bytewise = 0; bytewise < 2; ++bytewise) {
                Bytes file = packed;
                file.push_back(SENTINEL);
                ASSERT_EQ(1, archiveReader.Open(WriteTempFile(file).c_str()));
                extractionState.packedRemaining = static_cast<uint32_t>(packed.size());
                memset(extractionState.windowBuffer, 0, sizeof extractionState.windowBuffer);
                BeginDecode(method);
                while (outputs[bytewise].size() < expected.size()) {
                    const uint32_t count = static_cast<uint32_t>(
                        std::min<size_t>(WINDOW_SIZE, expected.size() - outputs[bytewise].size()));
                    const uint8_t* chunk =
                        bytewise ? DecodeChunkBytewise(count, extractionState.windowBuffer)
                                 : DecodeChunk(count, extractionState.windowBuffer);
                    outputs[bytewise].insert(outputs[bytewise].end(), chunk, chunk + count);
                    states[bytewise].push_back({bitReader.bitBuffer, bitReader.spareByte,
                                                extractionState.packedRemaining,
                                                archiveReader.consumedBytes, bitReader.spareBits});
                }
                archiveReader.Close();
            }
            EXPECT_TRUE(outputs[0] == expected);
            EXPECT_TRUE(outputs[1] == expected);
            EXPECT_TRUE(states[0] == states[1]);
            EXPECT_EQ(0u, states[0].back().packedRemaining);
        }
    }
}

// An -lh6-/-lh7- block with the fixed literal/length code and the given distance code:
// lengths per distance code, or one lone code (lengths empty) sent as a count of 0.
void WriteBlockWithDistanceCode(StreamWriter* w, const std::vector<int>& lengths,
                                int lone, const std::vector<Token>& tokens) {
    w->Put(static_cast<uint32_t>(tokens.size()), 16);
    PutFixedLengthCode(w);
    PutFixedSymbolLengths(w);
    if (lengths.empty()) {
        w->Put(0, 5);
        w->Put(static_cast<uint32_t>(lone), 5);
    } else {
        w->Put(static_cast<uint32_t>(lengths.size()), 5);
        for (int length : lengths) w->PutLength(length);
    }
    const std::vector<uint32_t> codes = CanonicalCodes(lengths);
    for (const Token& token : tokens) {
        if (token.literal >= 0) {
            PutFixedSymbol(w, token.literal);
            continue;
        }
        PutFixedSymbol(w, token.length + 253);
        int code = 0;
        while ((token.distance >> code) != 0) ++code;
        if (!lengths.empty()) w->Put(codes[static_cast<size_t>(code)], lengths[static_cast<size_t>(code)]);
        if (code >= 2) w->Put(token.distance - (1u << (code - 1)), code - 1);
    }
}

TEST(Decoder, DistanceCodesOfEveryShapeInTheFastLoop) {
    // Codes up to 16 bits, longer than the look-up; and lone codes of 0 bits, with and
    // without extra bits. Enough symbols for the fast loop, checked against the
    // byte-at-a-time path.
    // Code c of c + 1 bits, the last two of equal length: a complete code.
    auto skewed = [](int codes) {
        std::vector<int> lengths;
        for (int code = 0; code < codes; ++code) lengths.push_back(std::min(code + 1, codes - 1));
        return lengths;
    };
    const struct Case {
        const char* what;
        int method;
        std::vector<int> lengths;
        int lone;
        uint32_t lowest, highest;  // the distances of the matches
    } cases[] = {
        {"codes of 1 to 16 bits, -lh7-", '7', skewed(17), 0, 0, 65535},
        {"codes of 1 to 15 bits, -lh6-", '6', skewed(16), 0, 0, 32767},
        {"lone code 12: 11 extra bits", '6', {}, 12, 2048, 4095},
        {"lone code 16: 15 extra bits", '7', {}, 16, 32768, 65535},
        {"lone code 1: no bits at all", '6', {}, 1, 1, 1},
        {"lone code 0: no bits at all", '7', {}, 0, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::mt19937 random(11);
        std::vector<Token> tokens = AfterLiterals(70000, &random, {});
        for (int i = 0; i < 20000; ++i) {
            const uint32_t span = c.highest - c.lowest + 1;
            tokens.push_back(Match(3 + static_cast<int>(random() % 40), c.lowest + random() % span));
            tokens.push_back(Literal(static_cast<int>(random() & 0xFF)));
        }
        StreamWriter w;
        for (size_t at = 0; at < tokens.size(); at += 60000) {
            const size_t end = std::min(tokens.size(), at + 60000);
            WriteBlockWithDistanceCode(&w, c.lengths, c.lone,
                                       std::vector<Token>(tokens.begin() + at, tokens.begin() + end));
        }
        const Bytes expected = ExpandTokens(tokens, Bytes());
        EXPECT_TRUE(expected == Decode(w.Finish(), c.method, expected.size()));
        EXPECT_EQ(0, DecodeSawBadData());
        EXPECT_TRUE(expected == Decode(w.Finish(), c.method, expected.size(), true));
    }
}

// Data outside the format's limits: what it is, the method, the stream.
struct BadCase {
    const char* what;
    int method;
    std::function<void(StreamWriter*)> write;
};

std::vector<BadCase> BadCases() {
    return {
        {"length-code length escape of 10 ones (length 17)", '5',
         [](StreamWriter* w) {
             w->Put(5, 16);  // block size
             w->Put(12, 5);  // length code: 12 lengths
             w->PutLength(17);
         }},
        {"length-code escape of 29 ones, no closing zero in sight", '5',
         [](StreamWriter* w) {
             w->Put(5, 16);
             w->Put(12, 5);
             w->Put(0xFFFFFFFFu, 32);
         }},
        {"distance-code length escape of 10 ones", '6',
         [](StreamWriter* w) {
             w->Put(5, 16);
             PutFixedLengthCode(w);
             PutFixedSymbolLengths(w);
             w->Put(16, 5);  // distance code: 16 lengths, the first too long
             w->PutLength(17);
         }},
        {"over-full length code: three 1-bit codes", '5',
         [](StreamWriter* w) {
             w->Put(5, 16);
             w->Put(3, 5);
             w->PutLength(1);
             w->PutLength(1);
             w->PutLength(1);
             w->Put(0, 2);  // no zero run
         }},
        {"incomplete length code: count 1, one 1-bit code", '5',
         [](StreamWriter* w) {
             w->Put(5, 16);
             w->Put(1, 5);
             w->PutLength(1);
         }},
        {"empty length code: three zero lengths", '5',
         [](StreamWriter* w) {
             w->Put(5, 16);
             w->Put(3, 5);
             for (int i = 0; i < 3; ++i) w->PutLength(0);
             w->Put(0, 2);
         }},
        {"incomplete literal/length code: 510 codes of 9 bits", '5',
         [](StreamWriter* w) {
             w->Put(5, 16);
             PutFixedLengthCode(w);
             w->Put(510, 9);
             for (int i = 0; i < 510; ++i) w->Put(1, 1);  // length-code symbol 11: 9
         }},
        {"over-full literal/length code: 510 codes of 8 bits", '5',
         [](StreamWriter* w) {
             w->Put(5, 16);
             PutFixedLengthCode(w);
             w->Put(510, 9);
             for (int i = 0; i < 510; ++i) w->Put(0, 1);  // length-code symbol 10: 8
         }},
        {"literal/length count of 511", '5',
         [](StreamWriter* w) {
             w->Put(5, 16);
             PutFixedLengthCode(w);
             w->Put(511, 9);
             for (int i = 0; i < 511; ++i) w->Put(1, 1);
         }},
        {"zero run past entry 510: 531 zeros", '5',
         [](StreamWriter* w) {
             w->Put(5, 16);
             w->Put(3, 5);  // length code: symbols 1 and 2 of one bit each
             w->PutLength(0);
             w->PutLength(1);
             w->PutLength(1);
             w->Put(0, 2);
             w->Put(510, 9);  // 510 literal/length lengths:
             w->Put(1, 1);    //   symbol 2, a long zero run,
             w->Put(511, 9);  //   of 511 + 20
         }},
        {"zero run past entry 510 after 500 entries: 20 zeros", '5',
         [](StreamWriter* w) {
             w->Put(5, 16);
             w->Put(3, 5);
             w->PutLength(0);
             w->PutLength(1);
             w->PutLength(1);
             w->Put(0, 2);
             w->Put(510, 9);
             for (int i = 0; i < 25; ++i) {
                 w->Put(1, 1);  // symbol 2: 20 zeros
                 w->Put(0, 9);
             }
             w->Put(1, 1);  // symbol 2 at entry 500: 20 more would end at 520
             w->Put(0, 9);
         }},
        {"single length-code symbol 19", '5',
         [](StreamWriter* w) {
             w->Put(5, 16);
             w->Put(0, 5);
             w->Put(19, 5);
         }},
        {"single literal/length symbol 510", '5',
         [](StreamWriter* w) {
             w->Put(5, 16);
             PutFixedLengthCode(w);
             w->Put(0, 9);
             w->Put(510, 9);
         }},
        {"single -lh5- distance symbol 14", '5',
         [](StreamWriter* w) {
             w->Put(5, 16);
             PutSingleCodes(w, 'a', 4);  // rewritten below: distance symbol 14
         }},
        {"single -lh6- distance symbol 31", '6',
         [](StreamWriter* w) {
             w->Put(5, 16);
             w->Put(0, 5);
             w->Put(0, 5);
             w->Put(0, 9);
             w->Put('a', 9);
             w->Put(0, 5);
             w->Put(31, 5);
         }},
        {"incomplete distance code: 14 codes of 4 bits", '5',
         [](StreamWriter* w) {
             w->Put(5, 16);
             PutFixedLengthCode(w);
             PutFixedSymbolLengths(w);
             w->Put(14, 4);
             for (int i = 0; i < 14; ++i) w->PutLength(4);
         }},
        {"zero run one past entry 510 (the overrun stays inside the decoder's record)", '5',
         [](StreamWriter* w) {
             w->Put(5, 16);
             PutTwoLiteralsAndZeroRun(w, 509);
         }},
    };
}

TEST(Decoder, DataOutsideTheLimitsDecodesAsZerosAndFailsTheCrc) {
    std::vector<BadCase> cases = BadCases();
    // The -lh5- single distance symbol case: symbol 14 in place of 0.
    cases[13].write = [](StreamWriter* w) {
        w->Put(5, 16);
        w->Put(0, 5);
        w->Put(0, 5);
        w->Put(0, 9);
        w->Put('a', 9);
        w->Put(0, 4);
        w->Put(14, 4);
    };
    const Bytes intended = Text("abcde");
    for (const BadCase& c : cases) {
        SCOPED_TRACE(c.what);
        StreamWriter w;
        c.write(&w);
        const Bytes packed = w.Finish();
        for (int bytewise = 0; bytewise < 2; ++bytewise) {
            // The window starts non-zero: the zeros come from the decoder.
            EXPECT_EQ(Repeat(0, 40000), Decode(packed, c.method, 40000, bytewise != 0, 0xEE));
            EXPECT_EQ(1, DecodeSawBadData());
        }
        ResetRecordingUi();
        const std::string method = std::string("-lh") + static_cast<char>(c.method) + "-";
        EXPECT_EQ(0, ExtractArchiveAt(nullptr, WritePackedArchive(method, packed, intended).c_str(),
                                      nullptr, 0));
        EXPECT_EQ(FAILURE_BAD_DATA, extractionFailure);
    }
}

TEST(Decoder, BadSecondBlockKeepsTheFirstAndZerosTheRest) {
    StreamWriter w;
    WriteFixedBlock(&w, '5', {Literal('o'), Literal('k'), Match(3, 1)});
    w.Put(5, 16);  // second block
    PutFixedLengthCode(&w);
    w.Put(511, 9);  // literal/length count of 511
    Bytes expected = Text("okoko");
    expected.resize(40000, 0);
    EXPECT_EQ(expected, Decode(w.Finish(), '5', 40000, false, 0xEE));
    EXPECT_EQ(1, DecodeSawBadData());
    // The next member starts clean.
    StreamWriter good;
    WriteFixedBlock(&good, '5', {Literal('y')});
    EXPECT_EQ(Text("y"), Decode(good.Finish(), '5', 1));
    EXPECT_EQ(0, DecodeSawBadData());
}

struct ManifestEntry {
    std::string name;
    size_t size;
    std::string sha256;
    unsigned crc;
};

std::vector<ManifestEntry> ReadManifest() {
    Bytes text;
    EXPECT_TRUE(ReadFileBytes(std::string(VORPANEX_FIXTURES) + "/MANIFEST.txt", &text));
    std::istringstream lines(std::string(text.begin(), text.end()));
    std::vector<ManifestEntry> entries;
    std::string line;
    while (std::getline(lines, line)) {
        if (line.empty() || line[0] == '#') continue;
        std::istringstream fields(line);
        ManifestEntry entry;
        fields >> entry.name >> entry.size >> entry.sha256 >> std::hex >> entry.crc;
        entries.push_back(entry);
    }
    return entries;
}

TEST(Decoder, FixturesExtractToTheManifestBytes) {
    const std::vector<ManifestEntry> manifest = ReadManifest();
    ASSERT_EQ(7u, manifest.size());
    // jlha-lh7.lzh: the same seven files as jlha writes them with -lh7- (FARMATCH.BIN's
    // matches reach beyond 32 KiB).
    for (const char* fixture : {"fx-lh4.lzh", "fx-lh5.lzh", "fx-lh6.lzh", "jlha-lh7.lzh"}) {
        SCOPED_TRACE(fixture);
        const std::string path = std::string(VORPANEX_FIXTURES) + "/" + fixture;
        ResetRecordingUi();
        EXPECT_EQ(1, ExtractArchiveAt(nullptr, path.c_str(), nullptr, 0));  // test only
        const std::string directory = MakeTempDir();
        ResetRecordingUi();
        ASSERT_EQ(1, ExtractArchiveAt(nullptr, path.c_str(), directory.c_str(), 0));
        // fx-lh4 holds one member; the others hold all seven.
        const std::vector<std::string> names = ListDirectory(directory);
        EXPECT_EQ(std::string(fixture) == "fx-lh4.lzh" ? 1u : 7u, names.size());
        size_t checked = 0;
        for (const ManifestEntry& entry : manifest) {
            SCOPED_TRACE(entry.name);
            if (std::find(names.begin(), names.end(), entry.name) == names.end()) continue;
            ++checked;
            Bytes bytes;
            ASSERT_TRUE(ReadFileBytes(JoinTestPath(directory, entry.name), &bytes));
            EXPECT_EQ(entry.size, bytes.size());
            EXPECT_EQ(entry.sha256, Sha256Hex(bytes));
            EXPECT_EQ(entry.crc, ReferenceCrc16(bytes));
        }
        EXPECT_EQ(names.size(), checked);
        RemoveTempDir(directory);
    }
}

}  // namespace
