// Hand-built compressed streams and broken member layouts for the hostile-archive table.
#include "support/hostile_builder.h"

#include <stdlib.h>

void PutSingleSymbolCodes(StreamWriter* w, int symbol, int distanceSymbol, int distanceBits) {
    w->Put(0, 5);  // length code: count 0,
    w->Put(0, 5);  //   single symbol 0
    w->Put(0, 9);  // literal/length code: count 0,
    w->Put(static_cast<uint32_t>(symbol), 9);
    w->Put(0, distanceBits);  // distance code: count 0,
    w->Put(static_cast<uint32_t>(distanceSymbol), distanceBits);
}

Bytes TwoLetterStream(size_t letters, uint32_t pattern, Bytes* output) {
    StreamWriter w;
    w.Put(static_cast<uint32_t>(letters), 16);  // block size
    // Length code: lengths 0, 0, 1, (zero run of 0), 1: symbols 2 ("0") and 3 ("1").
    w.Put(4, 5);
    w.PutLength(0);
    w.PutLength(0);
    w.PutLength(1);
    w.Put(0, 2);
    w.PutLength(1);
    // Literal/length code: 67 lengths: a run of 65 zeros, then 1 for 'A' and 'B'.
    w.Put(67, 9);
    w.Put(0, 1);
    w.Put(65 - 20, 9);
    w.Put(1, 1);
    w.Put(1, 1);
    // Distance code: single symbol 0 (never used).
    w.Put(0, 4);
    w.Put(0, 4);
    output->clear();
    for (size_t i = 0; i < letters; ++i) {
        const uint32_t bit = (pattern >> (i % 32)) & 1;
        w.Put(bit, 1);
        output->push_back(static_cast<uint8_t>('A' + bit));
    }
    return w.Finish();
}

Bytes PackedMember(const std::string& method, const std::string& name, const Bytes& packed,
                   uint32_t originalSize, uint16_t crc) {
    MemberSpec member;
    member.method = method;
    member.name = name;
    member.data = packed;
    member.originalSize = originalSize;
    member.originalSizeSet = true;
    member.crc = crc;
    member.crcSet = true;
    return BuildMember(member);
}

Bytes RawHeaderMember(uint8_t headerSize, uint8_t nameLength, const std::string& name,
                      const Bytes& data) {
    Bytes header(headerSize, 0);
    const std::string method = "-lh0-";
    for (size_t i = 0; i < method.size() && i < header.size(); ++i) header[i] = method[i];
    const uint32_t size = static_cast<uint32_t>(data.size());
    for (int i = 0; i < 4; ++i) {
        if (5 + i < headerSize) header[5 + i] = static_cast<uint8_t>(size >> (8 * i));
        if (9 + i < headerSize) header[9 + i] = static_cast<uint8_t>(size >> (8 * i));
    }
    if (18 < headerSize) header[18] = 1;  // level 1
    if (19 < headerSize) header[19] = nameLength;
    for (size_t i = 0; i < name.size() && 20 + i < header.size(); ++i) header[20 + i] = name[i];
    Bytes out;
    out.push_back(headerSize);
    unsigned sum = 0;
    for (uint8_t byte : header) sum += byte;
    out.push_back(static_cast<uint8_t>(sum));
    out.insert(out.end(), header.begin(), header.end());
    out.insert(out.end(), data.begin(), data.end());
    return out;
}

Bytes Cut(const Bytes& archive, size_t length) {
    return Bytes(archive.begin(), archive.begin() + static_cast<long>(length));
}

void DumpRow(const char* what, const Bytes& archive) {
    const char* directory = getenv("VORPANEX_DUMP_ROWS");
    if (directory == nullptr || *directory == 0) return;
    std::string name = "row-";
    for (const char* p = what; *p != 0; ++p) {
        const char c = *p;
        const bool letter = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
        name += letter || (c >= '0' && c <= '9') ? c : '-';
    }
    WriteFileBytes(JoinTestPath(directory, name + ".lzh"), archive);
}
