// The member listing that list prints and pack prints after writing: plain columns or
// JSON.
#ifndef VORPANEX_TOOLS_LISTING_H
#define VORPANEX_TOOLS_LISTING_H

#include <stdint.h>
#include <stdio.h>

#include <string>
#include <vector>

#include "pe/brand.h"
#include "tools/seal.h"

struct ListedMember {
    std::string name;         // UTF-8 for the reader: converted, or with \xNN escapes
    std::string rawName;      // the path's bytes, '/' between folders and name
    std::string storedName;   // the bytes stored in the archive: folder field and name
    std::string method;       // "-lh5-"; unprintable bytes as '?'
    uint64_t packedSize = 0;  // the compressed data
    uint64_t originalSize = 0;
    uint16_t crc = 0;
    uint16_t dosDate = 0, dosTime = 0;
    uint64_t headerOffset = 0;  // in the file
    bool directory = false;   // a -lhd- entry
    bool storedAbsolute = false;  // stored with a leading separator
    unsigned headerLevel = 0;
    int osId = -1;            // the header's OS ID byte, -1 when it has none
    unsigned attributes = 0;  // the MS-DOS attribute byte
    bool modeKnown = false;   // Unix permission bits stored (0x50, level-0 extension)
    unsigned mode = 0;
};

struct ListedArchive {
    std::string path;
    uint64_t archiveOffset = 0;
    bool endReached = false;   // the end marker (or the end of the file) was read
    uint64_t appendedBytes = 0;  // after the end marker, when endReached
    std::vector<ListedMember> members;
    std::string error;         // why the walk stopped early, or ""
    bool stubDescribed = false;  // a setup whose stub's resources could be read
    StubDescription stub;
    SetupSeal seal;            // the stub's record of its archive
};

// Columns, one line per member, a total line, a line naming bytes appended after
// the end marker, and the stub's version information, execution level, icon and seal
// (the archive's digest and the names' code page). trailer goes after the member count
// on the total line.
// verbose adds the header level, OS ID, attributes and Unix permissions of each member.
void PrintPlainListing(FILE* out, const ListedArchive& archive, const std::string& trailer,
                       bool verbose = false);

// The OS ID byte as "U Unix"; "-" when there is none.
std::string OsIdText(int osId);

// Unix permission bits as ls shows them ("-rwxr-xr-x"; "-" when not stored).
std::string PermissionsText(bool known, unsigned mode);

// Several archives as one JSON array of objects (README: "JSON listing").
void PrintJsonListing(FILE* out, const std::vector<ListedArchive>& archives);

// 14510226 as "14,510,226".
std::string GroupedNumber(uint64_t number);

// Text as a JSON string literal (quotes included).
std::string JsonString(const std::string& text);

#endif
