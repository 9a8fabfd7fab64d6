// The appended archive: the buffered byte source, the member record and the member
// headers. Shared by the stub and the vorpanex tool; extraction is in extract/.
// The format itself: archive/format.h.
#ifndef VORPANEX_ARCHIVE_ARCHIVE_H
#define VORPANEX_ARCHIVE_ARCHIVE_H

#include <stdint.h>
#include <string.h>

#include "archive/crc16.h"
#include "archive/format.h"
#include "archive/names.h"
#include "archive/sha256.h"
#include "platform/platform.h"

// An offset into the archive file or a count of its bytes. The stub addresses its
// module file through the 32-bit signed offsets of _llseek, so a setup of more than
// STUB_FILE_LIMIT bytes cannot be read by it; 32 bits keep its code small. The tool
// reads archives and setups of any size.
#ifdef PLATFORM_KERNEL32
typedef uint32_t FileOffset;
#else
typedef uint64_t FileOffset;
#endif
const uint32_t STUB_FILE_LIMIT = 0x7FFFFFFF;
// The stub reads its archive 4096 bytes at a time. The tool on Linux, which checks and
// lists whole setups, reads 64 KiB at a time: a sixteenth of the system calls, which
// were a twentieth of the time of `test`.
#ifdef PLATFORM_KERNEL32
const uint32_t READER_BUFFER_SIZE = 4096;
#else
const uint32_t READER_BUFFER_SIZE = 65536;
#endif
const unsigned OUTPUT_PATH_SIZE = 300;     // the status line text, terminator included

// The one read-only byte source over the archive file: READER_BUFFER_SIZE refills, one byte
// handed out at a time; a 0 byte with atEnd set once the file has no more.
class ArchiveReader {
public:
    ArchiveReader();
    ~ArchiveReader();

    int Open(const char* path);
    // Takes over a file already open (the reader closes it), as Open would leave it.
    void Adopt(HFILE file);
    void Close();
    void Refill();
    // Reads on until digestRemaining is 0 or the file ends; 1 when nothing was left.
    int FinishDigest();

    unsigned char ReadByte() {
        if (position == READER_BUFFER_SIZE) Refill();
        if (position == available) {
            atEnd = 1;
            return 0;
        }
        ++consumedBytes;
        return buffer[position++];
    }

    // Up to count bytes into destination, as count ReadByte calls would deliver them,
    // stopping at the end of the data. Returns the number delivered.
    uint32_t ReadBytes(unsigned char* destination, uint32_t count);
    // The same without keeping the bytes; with crc, their CRC-16 is folded into *crc.
    FileOffset SkipBytes(FileOffset count, uint16_t* crc = nullptr);

    unsigned char buffer[READER_BUFFER_SIZE];
    uint32_t position;
    uint32_t available;
    FileOffset consumedBytes;
    HFILE handle;
    uint32_t atEnd;
    // While digest is not null, each refill adds what it read to it, up to
    // digestRemaining bytes in all. Open and Adopt set it to null.
    Sha256* digest;
    uint32_t digestRemaining;
};

extern ArchiveReader archiveReader;

// Why the last extraction failed. Results stay plain integers; this is for the tool,
// which turns a failure into words. The stub only tells cancel from the rest.
enum ExtractionFailure {
    FAILURE_NONE = 0,
    FAILURE_OPEN,          // the archive file cannot be opened
    FAILURE_SEEK,          // the archive offset cannot be reached
    FAILURE_HEADER_SUM,    // header sum mismatch
    FAILURE_BAD_HEADER,    // header cut short, or its name overlaps the trailing fields
    FAILURE_METHOD,        // method id not accepted
    FAILURE_NAME,          // member name not usable as a file name
    FAILURE_PATH_TOO_LONG, // output path does not fit its buffer
    FAILURE_TRUNCATED,     // the file ends inside the member
    FAILURE_CREATE,        // the member file cannot be created
    FAILURE_WRITE,         // a chunk cannot be written
    FAILURE_CANCELLED,     // Cancel was pressed
    FAILURE_CRC,           // CRC-16 mismatch
    FAILURE_BAD_DATA,      // compressed data outside the format's limits
    FAILURE_READ,          // the data ended before the file did: a read failed
    FAILURE_LEVEL,         // header level other than 0, 1 and 2
    FAILURE_HEADER_CRC,    // the header's own CRC-16 (extended header 0x00) mismatch
    FAILURE_NOT_FOLDER,    // a folder on the member's path is a file or a link
    FAILURE_DIGEST,        // the archive's SHA-256 differs from the one expected
    FAILURE_TOO_LARGE      // 64-bit member sizes that this build cannot honour, or a
                           // level-1 header whose 64-bit sizes contradict its own
};

// The member in hand. One global record.
struct ExtractionState {
    uint8_t headerSize;
    uint8_t headerSum;
    uint8_t headerBuffer[HEADER_BUFFER_SIZE];
    FileOffset packedRemaining;
    FileOffset originalRemaining;
    uint16_t fileTime;
    uint16_t fileDate;
    uint16_t storedCrc;
    uint16_t runningCrc;
    FileOffset archiveSize;
    HFILE outputFile;
    uint8_t windowBuffer[LARGE_WINDOW_SIZE];

    FileOffset archiveOffset; // where the archive starts in the file

    // The member in hand as NextMember found it.
    FileOffset headerOffset;  // of its header, from the start of the file
    FileOffset packedSize;    // as declared, extended headers of level 1 included
    FileOffset originalSize;
    uint8_t headerLevel;
    uint8_t timeIsUnix;       // 1: unixTime is the member's time (level 2; the tool: 0x54)
    uint32_t unixTime;
    uint16_t unixMode;        // the tool: Unix permission bits (0x50, level-0 extension)
    uint8_t unixModeKnown;    //   and whether the header had them
    int pathProblem;          // FAILURE_NAME or FAILURE_PATH_TOO_LONG when memberPath
                              // cannot be used; FAILURE_NONE otherwise
    char memberPath[PATH_BUFFER_SIZE];  // folders and name, '/' between them
    uint8_t storedAbsolute;   // the stored path began with a separator ('/', '\\', 0xFF)
};

extern ExtractionState extractionState;
extern int extractionFailure;       // an ExtractionFailure, set when a result is 0
extern uint32_t extractionSystemError;  // the system's error code of a failed create
                                        // or write (GetLastError; errno on the host)
// Non-zero: paths as other archivers write them are read for a bare archive: a leading
// separator is taken as relative (storedAbsolute tells), "." components are dropped,
// and level-1 names may hold folders. The tool sets it; the stub's rules refuse them.
extern int otherArchivesAccepted;
// The CRC-16 of the member in hand, continued by a byte or a block.
inline void UpdateCrc(uint8_t byte) {
    extractionState.runningCrc = static_cast<uint16_t>(
        Crc16Table[0][(extractionState.runningCrc ^ byte) & 0xFF] ^
        (extractionState.runningCrc >> 8));
}
void UpdateCrcBlock(const uint8_t* data, uint32_t count);

uint32_t GetHeaderField(int offset, int width);
uint8_t SumHeaderBytes();
void ReadHeaderBytes(uint8_t* destination, unsigned count);
// Reads the next header's fixed part: 0 end of archive, 1 header read, 2 bad header
// (extractionFailure says why). Extended headers are left to ReadExtendedHeaders.
int ReadMemberHeader();
// Reads the extended headers of the header in hand (level 1: off packedRemaining;
// level 2: inside the header), checks a header CRC and fills memberPath. 1, or 0
// with extractionFailure set.
int ReadExtendedHeaders();
#ifndef PLATFORM_KERNEL32
// The OS ID of the member in hand's header (level 1 and 2: the byte after the CRC-16;
// level 0: the first byte of the extension after the CRC-16, if any), or -1 when its
// header has none.
int MemberOsId();
// The path of the member in hand as its header stores it: the folder extended header
// (empty when there is none) and the name, separators and all.
void StoredPathBytes(const char** folder, unsigned* folderLength, const char** name,
                     unsigned* nameLength);
#endif

#endif
