// Member headers and the extraction record.
#include "archive/archive.h"

ExtractionState extractionState;
int extractionFailure;
int otherArchivesAccepted;
uint32_t extractionSystemError;

static_assert(HEADER_BUFFER_SIZE >= 255 + 1, "headerBuffer holds the largest header");
static_assert(HEADER_FIXED_SIZE == 20 + 5, "fixed fields, empty name, trailing fields");
static_assert(LEVEL0_FIXED_SIZE == 20 + 2, "fixed fields, empty name, CRC-16");
static_assert(LEVEL2_BASE_SIZE - 2 <= HEADER_BUFFER_SIZE, "level-2 base header fits");

namespace {

// Bytes 2..20 of every header: method id to level.
const unsigned COMMON_FIELDS = 19;
const unsigned LEVEL_OFFSET = 18;  // in headerBuffer

// What the header in hand said beyond ExtractionState, for ReadExtendedHeaders.
struct HeaderExtras {
    uint32_t firstExtendedSize;  // size of the first extended header, 0 = none
    uint32_t headerRemaining;    // level 2: header bytes not yet read
    uint16_t headerCrc;          // CRC-16 of the header bytes read so far
    unsigned nameLength;
    unsigned folderLength;
    bool nameTooLong;
    bool folderTooLong;
    bool largeSizesSeen;
    uint8_t largeSizes[16];      // extended header 0x42: packed, then original size
    char name[PATH_BUFFER_SIZE];
    char folder[PATH_BUFFER_SIZE];
};

HeaderExtras extras;

int FailHeader(int failure) {
    extractionFailure = failure;
    return 2;
}

uint16_t AddToCrc(uint16_t crc, uint8_t byte) {
    return static_cast<uint16_t>(Crc16Table[0][(crc ^ byte) & 0xFF] ^ (crc >> 8));
}

// A level-2 header whose size is a multiple of 256 starts with a 0 byte, as the end
// marker does; other archivers read it as a header. It is one when the size's high
// byte is not 0 and the fixed fields that follow are a level-2 header's ("-l?x-" and
// level 2). Otherwise the 0 byte is the end marker: the bytes looked at beyond it are
// given back to the count (nothing is read after the end). A 0 byte has been read, not
// the file's end.
bool LevelTwoHeaderOfWholePages() {
    ExtractionState& state = extractionState;
    const uint32_t consumed = archiveReader.consumedBytes;
    state.headerSum = archiveReader.ReadByte();
    const bool sized = state.headerSum != 0 && !archiveReader.atEnd;
    if (sized) ReadHeaderBytes(state.headerBuffer, COMMON_FIELDS);
    const uint8_t* fields = state.headerBuffer;
    if (sized && !archiveReader.atEnd && fields[0] == '-' && fields[1] == 'l' &&
        fields[4] == '-' && fields[LEVEL_OFFSET] == 2) {
        return true;
    }
    archiveReader.consumedBytes = consumed;
    archiveReader.atEnd = 0;
    return false;
}

}  // namespace

uint32_t GetHeaderField(int offset, int width) {
    uint32_t value = 0;
    for (int k = width - 1; k >= 0; --k) {
        value = (value << 8) + extractionState.headerBuffer[offset + k];
    }
    return value;
}

uint8_t SumHeaderBytes() {
    unsigned sum = 0;
    for (unsigned i = 0; i < extractionState.headerSize; ++i) sum += extractionState.headerBuffer[i];
    return static_cast<uint8_t>(sum);
}

void ReadHeaderBytes(uint8_t* destination, unsigned count) {
    for (unsigned i = 0; i < count; ++i) {
        destination[i] = archiveReader.ReadByte();
        if (archiveReader.atEnd) return;
    }
}

int ReadMemberHeader() {
    ExtractionState& state = extractionState;
    state.headerOffset = state.archiveOffset + archiveReader.consumedBytes;
    state.headerSize = archiveReader.ReadByte();
    if (state.headerSize == 0 && (archiveReader.atEnd || !LevelTwoHeaderOfWholePages())) {
        return 0;
    }
    if (state.headerSize != 0) {
        state.headerSum = archiveReader.ReadByte();
        ReadHeaderBytes(state.headerBuffer, COMMON_FIELDS);
    }
    // A header cut short by the end of the file would be judged partly on the bytes
    // of the header before it; it is refused as a whole.
    if (archiveReader.atEnd) return FailHeader(FAILURE_BAD_HEADER);
    state.headerLevel = state.headerBuffer[LEVEL_OFFSET];
    state.unixModeKnown = 0;
    state.unixMode = 0;
    extras.firstExtendedSize = 0;
    extras.headerRemaining = 0;
    extras.nameLength = 0;
    extras.folderLength = 0;
    extras.nameTooLong = false;
    extras.folderTooLong = false;
    extras.largeSizesSeen = false;

    unsigned headerBytes;  // read into headerBuffer
    if (state.headerLevel == 2) {
        const uint32_t total = state.headerSize | (static_cast<uint32_t>(state.headerSum) << 8);
        if (total < LEVEL2_BASE_SIZE) return FailHeader(FAILURE_BAD_HEADER);
        headerBytes = LEVEL2_BASE_SIZE - 2;
        ReadHeaderBytes(state.headerBuffer + COMMON_FIELDS, headerBytes - COMMON_FIELDS);
        if (archiveReader.atEnd) return FailHeader(FAILURE_BAD_HEADER);
        state.unixTime = GetHeaderField(13, 4);
        state.timeIsUnix = 1;
        state.fileTime = 0;
        state.fileDate = 0;
        state.storedCrc = static_cast<uint16_t>(GetHeaderField(19, 2));
        extras.firstExtendedSize = GetHeaderField(22, 2);
        extras.headerRemaining = total - LEVEL2_BASE_SIZE;
    } else if (state.headerLevel == 0 || state.headerLevel == 1) {
        headerBytes = state.headerSize;
        if (headerBytes > COMMON_FIELDS) {
            ReadHeaderBytes(state.headerBuffer + COMMON_FIELDS, headerBytes - COMMON_FIELDS);
        }
        if (archiveReader.atEnd) return FailHeader(FAILURE_BAD_HEADER);
        if (SumHeaderBytes() != state.headerSum) return FailHeader(FAILURE_HEADER_SUM);
        // The name must end before the CRC-16 (level 0) or the trailing fields (level
        // 1); this also guarantees the fixed fields and keeps every read and the
        // terminator inside headerBuffer.
        const unsigned nameEnd = 20u + state.headerBuffer[19];
        const unsigned crcOffset =
            state.headerLevel == 0 ? nameEnd : state.headerSize - 5u;
        if (state.headerSize < (state.headerLevel == 0 ? LEVEL0_FIXED_SIZE : HEADER_FIXED_SIZE) ||
            nameEnd > crcOffset || crcOffset + 2 > state.headerSize) {
            return FailHeader(FAILURE_BAD_HEADER);
        }
        state.fileTime = static_cast<uint16_t>(GetHeaderField(13, 2));
        state.fileDate = static_cast<uint16_t>(GetHeaderField(15, 2));
        state.timeIsUnix = 0;
        state.unixTime = 0;
        state.storedCrc = static_cast<uint16_t>(GetHeaderField(crcOffset, 2));
#ifndef PLATFORM_KERNEL32
        // The tool takes the Unix extension of a level-0 header: 'U', a version byte,
        // the time (seconds since 1970, UTC), then the permission bits.
        const unsigned extension = crcOffset + 2;
        if (state.headerLevel == 0 && state.headerBuffer[extension] == 'U' &&
            extension + LEVEL0_UNIX_TIME_END <= state.headerSize) {
            state.unixTime = GetHeaderField(static_cast<int>(extension) + 2, 4);
            state.timeIsUnix = 1;
            if (extension + LEVEL0_UNIX_MODE_END <= state.headerSize) {
                state.unixMode = static_cast<uint16_t>(GetHeaderField(static_cast<int>(extension) + 6, 2));
                state.unixModeKnown = 1;
            }
        }
#endif
        if (state.headerLevel == 1) {
            extras.firstExtendedSize = GetHeaderField(state.headerSize - 2, 2);
        }
        extras.nameLength = state.headerBuffer[19];
        memcpy(extras.name, state.headerBuffer + 20, extras.nameLength);
        state.headerBuffer[nameEnd] = 0;
    } else {
        return FailHeader(FAILURE_LEVEL);
    }
    state.packedRemaining = GetHeaderField(5, 4);
    state.originalRemaining = GetHeaderField(9, 4);
    state.packedSize = state.packedRemaining;
    state.originalSize = state.originalRemaining;

    uint16_t crc = AddToCrc(AddToCrc(0, state.headerSize), state.headerSum);
    for (unsigned i = 0; i < headerBytes; ++i) crc = AddToCrc(crc, state.headerBuffer[i]);
    extras.headerCrc = crc;
    return 1;
}

namespace {

bool IsSeparator(unsigned char c, bool slashes) {
    return c == 0xFF || (slashes && (c == '\\' || c == '/'));
}

// Appends the components of `text` to memberPath, '/' between them. A separator at the
// start makes the path absolute (storedAbsolute): refused, or with otherArchivesAccepted
// taken as relative; repeated and trailing separators are dropped, and with
// otherArchivesAccepted "." components too. Each component must be a safe name.
// Returns the problem found, if any.
int AppendComponents(const char* text, unsigned length, bool slashes, unsigned* position,
                     bool guardTrailBytes = false) {
    ExtractionState& state = extractionState;
    int problem = FAILURE_NONE;
    unsigned i = 0;
    if (length > 0 && IsSeparator(static_cast<unsigned char>(text[0]), true)) {
        state.storedAbsolute = 1;
        if (!otherArchivesAccepted) problem = FAILURE_NAME;
    }
    while (i < length) {
        unsigned end = i;
        while (end < length && !IsSeparator(static_cast<unsigned char>(text[end]), slashes)) {
            // A double-byte character: its trail byte (0x5C included) is no separator.
            // guardTrailBytes: nor is a '\\' after a byte that leads a Shift_JIS
            // character, whatever the code page the name is judged in.
            const unsigned char c = static_cast<unsigned char>(text[end]);
            const bool shiftJisLead = (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC);
            if ((PlatformIsLeadByte(c) || (guardTrailBytes && shiftJisLead && end + 1 < length &&
                                            text[end + 1] == '\\')) &&
                end + 1 < length) {
                ++end;
            }
            ++end;
        }
        const bool dot = end == i + 1 && text[i] == '.';
        if (end > i && !(dot && otherArchivesAccepted)) {
            const unsigned start = *position + (*position > 0 ? 1 : 0);
            if (start + (end - i) + 1 > PATH_BUFFER_SIZE) return FAILURE_PATH_TOO_LONG;
            if (*position > 0) state.memberPath[*position] = '/';
            memcpy(state.memberPath + start, text + i, end - i);
            state.memberPath[start + (end - i)] = 0;
            // A NUL inside a component would hide the rest of it from the check.
            if (memchr(text + i, 0, end - i) != nullptr ||
                !IsSafeMemberName(state.memberPath + start)) {
                problem = FAILURE_NAME;
            }
            *position = start + (end - i);
        }
        i = end + 1;
    }
    return problem;
}

// The sizes of extended header 0x42 in place of the base header's 32-bit ones: at
// level 2, where the extended headers lie outside the packed size; a level-1 header
// must say there what its own fields say. 0 when they cannot be honoured: a size of
// 4 GiB or more in the stub, whose offsets have 32 bits.
int TakeLargeSizes() {
    ExtractionState& state = extractionState;
    uint64_t sizes[2] = {0, 0};
    for (unsigned k = 0; k < sizeof extras.largeSizes; ++k) {
        sizes[k / 8] |= static_cast<uint64_t>(extras.largeSizes[k]) << (8 * (k % 8));
    }
    if (static_cast<FileOffset>(sizes[0]) != sizes[0] ||
        static_cast<FileOffset>(sizes[1]) != sizes[1]) {
        return 0;
    }
    if (state.headerLevel != 2) {
        return sizes[0] == state.packedSize && sizes[1] == state.originalSize ? 1 : 0;
    }
    state.packedSize = state.packedRemaining = static_cast<FileOffset>(sizes[0]);
    state.originalSize = state.originalRemaining = static_cast<FileOffset>(sizes[1]);
    return 1;
}

// Whether the last character of the name is a separator (so it names no file).
bool NameEndsInSeparator(const char* text, unsigned length, bool slashes,
                         bool guardTrailBytes) {
    bool separator = false;
    for (unsigned i = 0; i < length; ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        separator = IsSeparator(c, slashes);
        const bool shiftJisLead = (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC);
        if ((PlatformIsLeadByte(c) || (guardTrailBytes && shiftJisLead && i + 1 < length &&
                                       text[i + 1] == '\\')) &&
            i + 1 < length) {
            ++i;
        }
    }
    return separator;
}

}  // namespace

int ReadExtendedHeaders() {
    ExtractionState& state = extractionState;
    const bool levelTwo = state.headerLevel == 2;
    uint16_t crc = extras.headerCrc;
    bool crcPresent = false;
    uint16_t storedHeaderCrc = 0;
    uint32_t size = extras.firstExtendedSize;
#ifndef PLATFORM_KERNEL32
    uint32_t unixTime = 0;
    bool unixTimeSeen = false;
#endif
    while (size != 0) {
        // Each size is taken from what the header (level 2) or the packed size (level
        // 1) still holds, so the chain ends.
#ifndef PLATFORM_KERNEL32
        // OS-9/68K archivers (OS ID 'K') write a level-2 header's size 2 bytes short:
        // its chain ends 2 bytes past it. The tool reads a bare archive's as other
        // archivers do, the header as long as its chain; a setup's stays refused.
        if (levelTwo && otherArchivesAccepted && size == extras.headerRemaining + 2 &&
            MemberOsId() == 'K') {
            extras.headerRemaining += 2;
        }
#endif
        const FileOffset budget = levelTwo ? extras.headerRemaining : state.packedRemaining;
        if (size < 2 || size > budget) {
            extractionFailure = FAILURE_BAD_HEADER;
            return 0;
        }
        if (levelTwo) {
            extras.headerRemaining -= size;
        } else {
            state.packedRemaining -= size;
        }
        uint8_t type = 0xFF;  // a header of size 2 has no type byte
        uint32_t content = 0;  // bytes after the type byte
        if (size > 2) {
            const uint8_t byte = archiveReader.ReadByte();
            if (!archiveReader.atEnd) {
                type = byte;
                crc = AddToCrc(crc, byte);
                content = size - 3;
            }
        }
        // The bytes that are kept are taken one at a time; the rest of the content
        // only enters the CRC, a buffer at a time.
        uint32_t kept = 0;
        if (type == 0x00) {
            kept = content < 2 ? content : 2;
        } else if (type == 0x01) {
            kept = content < sizeof extras.name ? content : sizeof extras.name;
            extras.nameLength = content;
        } else if (type == 0x02) {
            kept = content < sizeof extras.folder ? content : sizeof extras.folder;
            extras.folderLength = content;
        } else if (type == 0x42) {
            // Sizes of another width cannot be read: the member's extent is unknown.
            if (content != sizeof extras.largeSizes) {
                extractionFailure = FAILURE_BAD_HEADER;
                return 0;
            }
            kept = content;
            extras.largeSizesSeen = true;
        }
#ifndef PLATFORM_KERNEL32
        // The tool on Linux takes a Unix time header (seconds since 1970, UTC) of a
        // level-0/1 member as its time; the stub keeps the DOS time, as Windows
        // archivers do.
        else if (type == 0x54 && content == 4 && !state.timeIsUnix) {
            kept = 4;
        } else if (type == 0x50 && content >= 2) {
            kept = 2;  // the Unix permission bits
        }
#endif
        for (uint32_t at = 0; at < kept; ++at) {
            const uint8_t byte = archiveReader.ReadByte();
            if (archiveReader.atEnd) break;
            if (type == 0x00) {
                storedHeaderCrc = static_cast<uint16_t>(storedHeaderCrc | (byte << (8 * at)));
                crcPresent = true;
                crc = AddToCrc(crc, 0);
                continue;
            }
            crc = AddToCrc(crc, byte);
            if (type == 0x01) {
                extras.name[at] = static_cast<char>(byte);
            } else if (type == 0x02) {
                extras.folder[at] = static_cast<char>(byte);
            } else if (type == 0x42) {
                extras.largeSizes[at] = byte;
            }
#ifndef PLATFORM_KERNEL32
            else if (type == 0x50) {
                if (at == 0) state.unixMode = 0;
                state.unixMode = static_cast<uint16_t>(state.unixMode | byte << (8 * at));
                state.unixModeKnown = at == 1 ? 1 : 0;
            } else {
                if (at == 0) unixTime = 0;
                unixTime |= static_cast<uint32_t>(byte) << (8 * at);
                if (at == 3) unixTimeSeen = true;
            }
#endif
        }
        archiveReader.SkipBytes(content - kept, &crc);
        const uint8_t low = archiveReader.ReadByte();
        const uint8_t high = archiveReader.ReadByte();
        if (archiveReader.atEnd) {
            extractionFailure = FAILURE_TRUNCATED;
            return 0;
        }
        crc = AddToCrc(AddToCrc(crc, low), high);
        size = low + 256u * high;
    }
    // Level 2: whatever the chain left of the header (a padding byte) is skipped.
    if (levelTwo && extras.headerRemaining != 0) {
        archiveReader.SkipBytes(extras.headerRemaining, &crc);
        extras.headerRemaining = 0;
        if (archiveReader.atEnd) {
            extractionFailure = FAILURE_TRUNCATED;
            return 0;
        }
    }
    // The CRC is checked in level-2 headers, where it covers the whole header. Level-1
    // archives in the wild carry a 0x00 header whose value is not that CRC (it differs
    // between headers that are identical but for their method); it is not enforced.
    if (levelTwo && crcPresent && crc != storedHeaderCrc) {
        extractionFailure = FAILURE_HEADER_CRC;
        return 0;
    }
    if (extras.largeSizesSeen && !TakeLargeSizes()) {
        extractionFailure = FAILURE_TOO_LARGE;
        return 0;
    }
#ifndef PLATFORM_KERNEL32
    if (unixTimeSeen) {
        state.unixTime = unixTime;
        state.timeIsUnix = 1;
    }
#endif

    // The member's path: folder components, then the name. Level 0 names carry their
    // folders themselves, with '\\' or '/' (level 1 too, in archives of other programs);
    // a name of another level is one component.
    unsigned position = 0;
    state.memberPath[0] = 0;
    state.storedAbsolute = 0;
    int problem = FAILURE_NONE;
    const bool slashes =
        state.headerLevel == 0 || (state.headerLevel == 1 && otherArchivesAccepted);
    if (extras.folderLength > sizeof extras.folder || extras.nameLength > sizeof extras.name) {
        problem = FAILURE_PATH_TOO_LONG;
    } else {
        problem = AppendComponents(extras.folder, extras.folderLength, true, &position);
        if (problem != FAILURE_PATH_TOO_LONG && extras.nameLength > 0) {
            int nameProblem;
            if (slashes) {
                // Level-1 names of other programs: a '\\' may be a Shift_JIS trail byte.
                nameProblem = AppendComponents(extras.name, extras.nameLength, true, &position,
                                               state.headerLevel == 1);
            } else {
                // One component, taken whole so that a separator in it is refused.
                if (IsSeparator(static_cast<unsigned char>(extras.name[0]), true)) {
                    state.storedAbsolute = 1;
                }
                const unsigned start = position + (position > 0 ? 1 : 0);
                if (start + extras.nameLength + 1 > PATH_BUFFER_SIZE) {
                    nameProblem = FAILURE_PATH_TOO_LONG;
                } else {
                    if (position > 0) state.memberPath[position] = '/';
                    memcpy(state.memberPath + start, extras.name, extras.nameLength);
                    state.memberPath[start + extras.nameLength] = 0;
                    nameProblem = memchr(extras.name, 0, extras.nameLength) != nullptr ||
                                          !IsSafeMemberName(state.memberPath + start)
                                      ? FAILURE_NAME
                                      : FAILURE_NONE;
                    position = start + extras.nameLength;
                }
            }
            if (problem == FAILURE_NONE || nameProblem == FAILURE_PATH_TOO_LONG) {
                problem = nameProblem;
            }
        }
        if (problem == FAILURE_NONE && position == 0) problem = FAILURE_NAME;
        // A file needs a name of its own: without one it would take its folder's.
        if (problem == FAILURE_NONE && state.headerBuffer[3] != 'd' &&
            (extras.nameLength == 0 ||
             NameEndsInSeparator(extras.name, extras.nameLength, slashes,
                                 state.headerLevel == 1))) {
            problem = FAILURE_NAME;
        }
    }
    state.pathProblem = problem;
    return 1;
}

#ifndef PLATFORM_KERNEL32
int MemberOsId() {
    const ExtractionState& state = extractionState;
    if (state.headerLevel == 2) return state.headerBuffer[21];
    if (state.headerLevel == 1) return state.headerBuffer[state.headerSize - 3];
    const unsigned extension = 20u + state.headerBuffer[19] + 2;  // after name and CRC-16
    return extension < state.headerSize ? state.headerBuffer[extension] : -1;
}

void StoredPathBytes(const char** folder, unsigned* folderLength, const char** name,
                     unsigned* nameLength) {
    *folder = extras.folder;
    *folderLength = extras.folderLength < sizeof extras.folder ? extras.folderLength
                                                                : sizeof extras.folder;
    *name = extras.name;
    *nameLength = extras.nameLength < sizeof extras.name ? extras.nameLength
                                                          : sizeof extras.name;
}
#endif
