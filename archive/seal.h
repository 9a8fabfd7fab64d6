// The seal: what pack writes into a stub about the archive it puts behind it.
//
// Format notes
//   The stub's image holds one seal record (SEAL_SIZE bytes, little-endian fields),
//   found by its mark; it lies inside the bytes that an Authenticode signature covers,
//   so a signed setup's seal cannot be changed without breaking the signature.
//
//   byte  width  field
//   0     8      mark "VPXSEAL2": a stub that extracts -lh7- as well; "VPXSEAL1" marks
//                the stubs before it, which extract -lh5- and -lh6- only (the tool reads
//                both marks: a --stub of either kind can be packed)
//   8     4      archive length: bytes from ARCHIVE_OFFSET to the end marker, the end
//                marker included; 0 when no digest is recorded (the stub as built)
//   12    4      the code page of the member names; 0 when none is recorded (the
//                system's ANSI code page)
//   16    32     SHA-256 of the archive length's bytes
//
//   The stub reads its seal from its own image in memory, which the system mapped from
//   the file that was started; the archive is read from the file. A setup whose
//   archive does not hash to the digest starts no program.
#ifndef VORPANEX_ARCHIVE_SEAL_H
#define VORPANEX_ARCHIVE_SEAL_H

#include <stdint.h>

#include "archive/sha256.h"

const unsigned SEAL_MARK_SIZE = 8;
const unsigned SEAL_SIZE = 48;
#define VORPANEX_SEAL_MARK {'V', 'P', 'X', 'S', 'E', 'A', 'L', '2'}

struct ArchiveSeal {
    char mark[SEAL_MARK_SIZE];
    uint32_t archiveLength;
    uint32_t codePage;
    uint8_t digest[SHA256_SIZE];
};
static_assert(sizeof(ArchiveSeal) == SEAL_SIZE, "the seal's layout is its format");

#endif
