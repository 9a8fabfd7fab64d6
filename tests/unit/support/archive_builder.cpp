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

namespace {

// Level 0 and 1: the fields from the method id to the name.
Bytes DosHeaderStart(const MemberSpec& member, uint32_t packedSize, uint32_t originalSize) {
    Bytes header;
    header.insert(header.end(), member.method.begin(), member.method.end());
    PutLittle(&header, packedSize, 4);
    PutLittle(&header, originalSize, 4);
    PutLittle(&header, member.time, 2);
    PutLittle(&header, member.date, 2);
    header.push_back(0x20);
    header.push_back(static_cast<uint8_t>(member.level));
    header.push_back(static_cast<uint8_t>(member.name.size()));
    header.insert(header.end(), member.name.begin(), member.name.end());
    return header;
}

// Level 0 and 1: the header behind its size and the low 8 bits of its bytes' sum.
Bytes SizedAndSummed(const Bytes& header) {
    Bytes out;
    out.push_back(static_cast<uint8_t>(header.size()));
    unsigned sum = 0;
    for (uint8_t byte : header) sum += byte;
    out.push_back(static_cast<uint8_t>(sum));
    out.insert(out.end(), header.begin(), header.end());
    return out;
}

Bytes BuildLevel0(const MemberSpec& member, uint32_t originalSize, uint16_t crc) {
    Bytes header =
        DosHeaderStart(member, static_cast<uint32_t>(member.data.size()), originalSize);
    PutLittle(&header, crc, 2);
    header.insert(header.end(), static_cast<size_t>(member.extraHeaderBytes), 0xEE);
    Bytes out = SizedAndSummed(header);
    out.insert(out.end(), member.data.begin(), member.data.end());
    return out;
}

Bytes BuildLevel1(const MemberSpec& member, uint32_t originalSize, uint16_t crc) {
    uint32_t extendedTotal = 0;
    for (const Bytes& extended : member.extended) extendedTotal += 2 + extended.size();
    Bytes header = DosHeaderStart(
        member, static_cast<uint32_t>(member.data.size()) + extendedTotal, originalSize);
    header.insert(header.end(), static_cast<size_t>(member.extraHeaderBytes), 0xEE);
    PutLittle(&header, crc, 2);
    header.push_back('M');
    PutLittle(&header, member.extended.empty() ? 0 : 2 + member.extended[0].size(), 2);
    Bytes out = SizedAndSummed(header);
    for (size_t i = 0; i < member.extended.size(); ++i) {
        out.insert(out.end(), member.extended[i].begin(), member.extended[i].end());
        const uint32_t next = i + 1 < member.extended.size() ? 2 + member.extended[i + 1].size() : 0;
        PutLittle(&out, next, 2);
    }
    out.insert(out.end(), member.data.begin(), member.data.end());
    return out;
}

Bytes BuildLevel2(const MemberSpec& member, uint32_t originalSize, uint16_t crc) {
    std::vector<Bytes> extended;
    if (member.headerCrc) extended.push_back(Bytes{0x00, 0, 0});
    if (!member.name.empty()) {
        Bytes name{0x01};
        name.insert(name.end(), member.name.begin(), member.name.end());
        extended.push_back(name);
    }
    extended.insert(extended.end(), member.extended.begin(), member.extended.end());

    Bytes out(2, 0);  // the header's size, set below
    out.insert(out.end(), member.method.begin(), member.method.end());
    PutLittle(&out, static_cast<uint32_t>(member.data.size()), 4);
    PutLittle(&out, originalSize, 4);
    PutLittle(&out, member.unixTime, 4);
    out.push_back(0x20);
    out.push_back(2);
    PutLittle(&out, crc, 2);
    out.push_back('U');
    PutLittle(&out, extended.empty() ? 0 : 2 + static_cast<uint32_t>(extended[0].size()), 2);
    size_t crcField = 0;
    for (size_t i = 0; i < extended.size(); ++i) {
        if (member.headerCrc && i == 0) crcField = out.size() + 1;
        out.insert(out.end(), extended[i].begin(), extended[i].end());
        const uint32_t next =
            i + 1 < extended.size() ? 2 + static_cast<uint32_t>(extended[i + 1].size()) : 0;
        PutLittle(&out, next, 2);
    }
    if ((out.size() & 0xFF) == 0) out.push_back(0);  // a low size byte of 0 would end it
    out[0] = static_cast<uint8_t>(out.size());
    out[1] = static_cast<uint8_t>(out.size() >> 8);
    if (member.headerCrc) {
        const uint16_t headerCrc = ReferenceCrc16(out);
        out[crcField] = static_cast<uint8_t>(headerCrc);
        out[crcField + 1] = static_cast<uint8_t>(headerCrc >> 8);
    }
    out.insert(out.end(), member.data.begin(), member.data.end());
    return out;
}

}  // namespace

Bytes BuildMember(const MemberSpec& member) {
    const uint32_t size =
        member.originalSizeSet ? member.originalSize : static_cast<uint32_t>(member.data.size());
    const uint16_t crc = member.crcSet ? member.crc : ReferenceCrc16(member.data);
    if (member.level == 0) return BuildLevel0(member, size, crc);
    if (member.level == 1) return BuildLevel1(member, size, crc);
    return BuildLevel2(member, size, crc);
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
