// Builds archives byte by byte for the core tests, well-formed or deliberately not.
#ifndef VORPANEX_TESTS_ARCHIVE_BUILDER_H
#define VORPANEX_TESTS_ARCHIVE_BUILDER_H

#include <string>

#include "support/test_files.h"

// CRC-16/ARC computed bit by bit, independent of the table in the core.
uint16_t ReferenceCrc16(const Bytes& bytes);

struct MemberSpec {
    std::string method = "-lh0-";
    std::string name = "FILE.TXT";
    Bytes data;                  // the bytes after the header: the member's packed data
    uint32_t originalSize = 0;   // taken from data for stored members unless overridden
    bool originalSizeSet = false;
    uint16_t crc = 0;            // computed from data for stored members unless set
    bool crcSet = false;
    uint16_t time = 0x7000;      // 14:00:00
    uint16_t date = 0x5B88;      // 2025-12-08
    std::vector<Bytes> extended; // extended headers: type byte and content, sizes added
    int extraHeaderBytes = 0;    // level 1: bytes between the name and the CRC-16;
                                 // level 0: bytes after the CRC-16
    int level = 1;               // 0, 1 or 2 (level 2: the name goes in an extended
                                 // header of type 0x01, the time is unixTime)
    uint32_t unixTime = 1700000000;
    bool headerCrc = false;      // level 2: add a header CRC (type 0x00), correct
};

// A header of the member's level with a correct sum, the extended headers (after the
// header at level 1, inside it at level 2), then the data.
Bytes BuildMember(const MemberSpec& member);
// A stored member of the given name and contents.
Bytes StoredMember(const std::string& name, const Bytes& contents);
Bytes TextBytes(const std::string& text);
// Concatenates members and appends the end marker.
Bytes BuildArchive(const std::vector<Bytes>& members, bool endMarker = true);
// Recomputes the header sum of the header at offset (after editing its bytes).
void FixHeaderSum(Bytes* archive, size_t offset);

#endif
