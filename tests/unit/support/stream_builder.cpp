// Compressed-stream builder for the decoder tests: bit writer, canonical codes, and a
// block writer with fixed complete codes.
#include "support/stream_builder.h"

#include <algorithm>

#include "support/archive_builder.h"

void StreamWriter::Put(uint32_t value, int bits) {
    for (int bit = bits - 1; bit >= 0; --bit) {
        if (bitCount % 8 == 0) bytes.push_back(0);
        if ((value >> bit) & 1) bytes.back() |= static_cast<uint8_t>(0x80 >> (bitCount % 8));
        ++bitCount;
    }
}

void StreamWriter::PutLength(int length) {
    if (length < 7) {
        Put(static_cast<uint32_t>(length), 3);
        return;
    }
    PutEscape(length - 7);
}

void StreamWriter::PutEscape(int ones) {
    Put(7, 3);
    for (int i = 0; i < ones; ++i) Put(1, 1);
    Put(0, 1);
}

Bytes StreamWriter::Finish() const { return bytes; }

std::vector<uint32_t> CanonicalCodes(const std::vector<int>& lengths) {
    std::vector<uint32_t> codes(lengths.size(), 0);
    uint32_t code = 0;
    for (int length = 1; length <= 16; ++length) {
        for (size_t s = 0; s < lengths.size(); ++s) {
            if (lengths[s] == length) codes[s] = code++;
        }
        code <<= 1;
    }
    return codes;
}

namespace {

std::vector<int> FixedSymbolLengths() {
    std::vector<int> lengths(510, 9);
    lengths[0] = lengths[1] = 8;
    return lengths;
}

std::vector<int> FixedDistanceLengths(int method) {
    if (method == '6') return std::vector<int>(16, 4);
    if (method == '7') {
        std::vector<int> lengths(17, 4);
        lengths[15] = lengths[16] = 5;
        return lengths;
    }
    std::vector<int> lengths(14, 4);
    lengths[0] = lengths[1] = 3;
    return lengths;
}

}  // namespace

void PutFixedLengthCode(StreamWriter* w) {
    w->Put(12, 5);  // 12 lengths
    for (int i = 0; i < 3; ++i) w->PutLength(0);
    w->Put(3, 2);  // zero run after the third length: entries 3, 4, 5
    for (int i = 6; i < 10; ++i) w->PutLength(0);
    w->PutLength(1);  // symbol 10 (length 8): code 0
    w->PutLength(1);  // symbol 11 (length 9): code 1
}

void PutFixedSymbolLengths(StreamWriter* w) {
    w->Put(510, 9);  // 510 lengths, each as length-code symbol 10 or 11
    for (int length : FixedSymbolLengths()) w->Put(length == 8 ? 0 : 1, 1);
}

void PutFixedDistanceLengths(StreamWriter* w, int method) {
    const std::vector<int> lengths = FixedDistanceLengths(method);
    w->Put(static_cast<uint32_t>(lengths.size()), method == '6' || method == '7' ? 5 : 4);
    for (int length : lengths) w->PutLength(length);
}

void PutFixedSymbol(StreamWriter* w, int symbol) {
    static const std::vector<int> lengths = FixedSymbolLengths();
    static const std::vector<uint32_t> codes = CanonicalCodes(lengths);
    w->Put(codes[static_cast<size_t>(symbol)], lengths[static_cast<size_t>(symbol)]);
}

void PutFixedDistance(StreamWriter* w, int method, uint32_t value) {
    const std::vector<int> lengths = FixedDistanceLengths(method);
    const std::vector<uint32_t> codes = CanonicalCodes(lengths);
    int code = 0;
    while ((value >> code) != 0) ++code;  // bit length: 0 for 0, 1 for 1
    w->Put(codes[static_cast<size_t>(code)], lengths[static_cast<size_t>(code)]);
    if (code >= 2) w->Put(value - (1u << (code - 1)), code - 1);
}

void WriteFixedBlock(StreamWriter* w, int method, const std::vector<Token>& tokens) {
    w->Put(static_cast<uint32_t>(tokens.size()), 16);  // block size
    PutFixedLengthCode(w);
    PutFixedSymbolLengths(w);
    PutFixedDistanceLengths(w, method);
    for (const Token& token : tokens) {
        if (token.literal >= 0) {
            PutFixedSymbol(w, token.literal);
            continue;
        }
        PutFixedSymbol(w, token.length + 253);
        PutFixedDistance(w, method, token.distance);
    }
}

Bytes ExpandTokens(const std::vector<Token>& tokens, const Bytes& window) {
    // The 65536 bytes before the stream's first byte: `window` last, zeros before it.
    Bytes history(65536 - std::min<size_t>(window.size(), 65536), 0);
    history.insert(history.end(), window.begin(), window.end());
    const size_t base = history.size();
    for (const Token& token : tokens) {
        if (token.literal >= 0) {
            history.push_back(static_cast<uint8_t>(token.literal));
            continue;
        }
        for (int i = 0; i < token.length; ++i) {
            history.push_back(history[history.size() - token.distance - 1]);
        }
    }
    return Bytes(history.begin() + static_cast<long>(base), history.end());
}

std::string WritePackedArchive(const std::string& method, const Bytes& packed,
                               const Bytes& original) {
    MemberSpec member;
    member.method = method;
    member.data = packed;
    member.originalSize = static_cast<uint32_t>(original.size());
    member.originalSizeSet = true;
    member.crc = ReferenceCrc16(original);
    member.crcSet = true;
    return WriteTempFile(BuildArchive({BuildMember(member)}));
}
