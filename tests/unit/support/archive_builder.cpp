// Builds archives byte by byte for the core tests.
#include "support/archive_builder.h"

uint16_t ReferenceCrc16(const Bytes& bytes) {
    uint16_t crc = 0;
    for (uint8_t byte : bytes) {
        crc ^= byte;
        for (int bit = 0; bit < 8; ++bit) crc = (crc & 1) ? (crc >> 1) ^ 0xA001 : crc >> 1;
    }
    return crc;
}

Bytes TextBytes(const std::string& text) { return Bytes(text.begin(), text.end()); }

static void PutLittle(Bytes* out, uint32_t value, int width) {
    for (int i = 0; i < width; ++i) out->push_back(static_cast<uint8_t>(value >> (8 * i)));
}

Bytes BuildMember(const MemberSpec& member) {
    uint32_t extendedTotal = 0;
    for (const Bytes& extended : member.extended) extendedTotal += 2 + extended.size();
    const uint32_t originalSize =
        member.originalSizeSet ? member.originalSize : static_cast<uint32_t>(member.data.size());
    const uint16_t crc = member.crcSet ? member.crc : ReferenceCrc16(member.data);

    Bytes header;  // from the method id on
    header.insert(header.end(), member.method.begin(), member.method.end());
    PutLittle(&header, static_cast<uint32_t>(member.data.size()) + extendedTotal, 4);
    PutLittle(&header, originalSize, 4);
    PutLittle(&header, member.time, 2);
    PutLittle(&header, member.date, 2);
    header.push_back(0x20);
    header.push_back(1);
    header.push_back(static_cast<uint8_t>(member.name.size()));
    header.insert(header.end(), member.name.begin(), member.name.end());
    header.insert(header.end(), static_cast<size_t>(member.extraHeaderBytes), 0xEE);
    PutLittle(&header, crc, 2);
    header.push_back('M');
    PutLittle(&header, member.extended.empty() ? 0 : 2 + member.extended[0].size(), 2);

    Bytes out;
    out.push_back(static_cast<uint8_t>(header.size()));
    unsigned sum = 0;
    for (uint8_t byte : header) sum += byte;
    out.push_back(static_cast<uint8_t>(sum));
    out.insert(out.end(), header.begin(), header.end());
    for (size_t i = 0; i < member.extended.size(); ++i) {
        out.insert(out.end(), member.extended[i].begin(), member.extended[i].end());
        const uint32_t next = i + 1 < member.extended.size() ? 2 + member.extended[i + 1].size() : 0;
        PutLittle(&out, next, 2);
    }
    out.insert(out.end(), member.data.begin(), member.data.end());
    return out;
}

Bytes StoredMember(const std::string& name, const Bytes& contents) {
    MemberSpec member;
    member.name = name;
    member.data = contents;
    return BuildMember(member);
}

Bytes BuildArchive(const std::vector<Bytes>& members, bool endMarker) {
    Bytes archive;
    for (const Bytes& member : members) archive.insert(archive.end(), member.begin(), member.end());
    if (endMarker) archive.push_back(0);
    return archive;
}

void FixHeaderSum(Bytes* archive, size_t offset) {
    const unsigned size = (*archive)[offset];
    unsigned sum = 0;
    for (unsigned i = 0; i < size; ++i) sum += (*archive)[offset + 2 + i];
    (*archive)[offset + 1] = static_cast<uint8_t>(sum);
}
