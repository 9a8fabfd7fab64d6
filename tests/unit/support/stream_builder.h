// Builds compressed streams bit by bit for the decoder tests, well-formed or not.
#ifndef VORPANEX_TESTS_STREAM_BUILDER_H
#define VORPANEX_TESTS_STREAM_BUILDER_H

#include <stdint.h>

#include <string>
#include <vector>

#include "support/test_files.h"

// Writes fields most significant bit first, as the decoder reads them.
class StreamWriter {
public:
    void Put(uint32_t value, int bits);  // the low `bits` bits of value, top bit first
    // A code length in a length list: 3 bits, 7 and above as 111, ones, a zero.
    void PutLength(int length);
    // Ones for an escape longer than any valid length: 111, `ones` ones, a zero.
    void PutEscape(int ones);
    // The bytes so far, the last one padded with zero bits.
    Bytes Finish() const;
    size_t BitCount() const { return bitCount; }

private:
    Bytes bytes;
    size_t bitCount = 0;
};

// Canonical codes from code lengths (0 where a symbol has no code).
std::vector<uint32_t> CanonicalCodes(const std::vector<int>& lengths);

// One literal or match of the token stream.
struct Token {
    int literal;        // 0..255, or -1 for a match
    int length;         // match length 3..256
    uint32_t distance;  // distance value: the match copies from distance + 1 back
};
inline Token Literal(int byte) { return Token{byte, 0, 0}; }
inline Token Match(int length, uint32_t distance) { return Token{-1, length, distance}; }

// Pieces of the fixed codes, for hand-written blocks. The length code gives symbols 10
// and 11 one bit each; the literal/length code gives symbols 0 and 1 eight bits and
// the others nine; the distance code gives -lh4-/-lh5- symbols 0 and 1 three bits and
// the others four, all 16 -lh6- symbols four bits, and -lh7- symbols 0 to 14 four
// bits and 15 and 16 five.
void PutFixedLengthCode(StreamWriter* w);
void PutFixedSymbolLengths(StreamWriter* w);
void PutFixedDistanceLengths(StreamWriter* w, int method);
void PutFixedSymbol(StreamWriter* w, int symbol);
void PutFixedDistance(StreamWriter* w, int method, uint32_t value);  // code and extra bits

// Writes one block coding `tokens` with fixed complete codes: every literal/length
// symbol has a code (2 of 8 bits, 508 of 9), sent through a length code of symbols 10
// and 11, and every distance symbol has one (3 to 5 bits). method is '4' to '7'.
void WriteFixedBlock(StreamWriter* writer, int method, const std::vector<Token>& tokens);

// The bytes a token stream stands for, with `window` as the bytes right before it and
// zeros before those (reaching before the first byte reads what the window held).
Bytes ExpandTokens(const std::vector<Token>& tokens, const Bytes& window);

// A bare archive of one member with the given method, packed data and original bytes
// (for the header's size and CRC-16), written to a temporary file.
std::string WritePackedArchive(const std::string& method, const Bytes& packed,
                               const Bytes& original);

#endif
